// The messages a user reads when a run stops: what happened and what to do,
// in the run's language, with the Win32 code last for support.
#pragma once
#include <windows.h>
#include "state/runcontext.h"

// What a failure means to the user; each kind has a message of its own.
enum ERRORKIND : DWORD {
    ERRORKIND_OTHER,            // no better advice: run again, else ask the publisher
    ERRORKIND_DAMAGED,          // the package is damaged or incomplete: download it again
    ERRORKIND_DISK_FULL,        // free space on the named drive
    ERRORKIND_NO_CONFIG,        // the configuration file kept beside the package is missing
    ERRORKIND_NO_CONNECTION,    // web files are needed and there is no connection
    ERRORKIND_CONNECTION_LOST,  // a download broke off
    ERRORKIND_SERVER,           // the server lacks the file, refuses it, fails or sends another
    ERRORKIND_ACCESS,           // access denied, or the file is in use
    ERRORKIND_CANCELLED,
    ERRORKIND_TARGET,           // an /X: folder that cannot serve
    ERRORKIND_FOLDER,           // the package's own target folder is refused
    ERRORKIND_MEMORY,           // out of memory: close other programs
    ERRORKIND_COUNT
};

// What the message names besides the product.
struct FAILUREINFO {
    DWORD dwCode;             // the Win32 code the run ends with
    LPCWSTR szPath;           // the file or folder concerned (its drive for DISK_FULL); may be null
    ULONGLONG ullNeedBytes;   // DISK_FULL: the bytes the package needs
};

// The kind of a code the setup run met; bDownload when the code is a web
// server's answer (its file is missing, refused or not the package's).
ERRORKIND ErrorKindOf(DWORD dwCode, BOOL bDownload);

// The string that says what happened and what to do.
UINT ErrorMessageId(ERRORKIND kind);

// The box text in the language of ctx: the kind's message (%1 the product,
// %2 the path or drive, %3 the megabytes needed), then a blank line and the code, with the
// system's text for it where the message itself names no cause. A
// cancelled run's text has no code.
void BuildErrorText(ERRORKIND kind, const FAILUREINFO& failure, const RUNCONTEXT& ctx,
                    LPWSTR szText, size_t cchText);
