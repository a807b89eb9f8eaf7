// Acting on what is there, never through a link. Every delete, overwrite
// and attribute change of the run opens its target without following links
// (FILE_FLAG_OPEN_REPARSE_POINT), checks that what the handle holds is the
// very file the path names (its final path is the path's own), and acts
// through that handle. Windows then holds a link as itself: it is removed
// as itself, never the file it points to. Some systems (Wine) show a file
// link as a plain file and open what it points to: such an entry is left
// where it is, and the step fails with ERROR_CANT_ACCESS_FILE.
#pragma once
#include <windows.h>

enum ENTRYKIND {
    ENTRY_NONE,   // nothing at the path
    ENTRY_PLAIN,  // a file or folder that is what the path names
    ENTRY_LINK,   // a link, or an entry whose final path is somewhere else
};

// What lies at szPath (any length; "\\?\" forms are made as needed).
[[nodiscard]] ENTRYKIND InspectEntry(LPCWSTR szPath);

// Deletes the file at szPath itself, read-only or not. ERROR_SUCCESS, the
// system's code, ERROR_FILE_NOT_FOUND when nothing is there, or
// ERROR_CANT_ACCESS_FILE for a link that cannot be removed as itself (it
// is left, and what it points to too).
[[nodiscard]] DWORD DeleteFileNoLink(LPCWSTR szPath);

// Sets the attributes of the file at szPath itself; the same results.
[[nodiscard]] DWORD SetAttributesNoLink(LPCWSTR szPath, DWORD dwAttributes);

// Makes szPath free for a new file: a plain file there is deleted (read-only
// or not), a link removed as itself. ERROR_SUCCESS when nothing is there
// afterwards, else the reason (ERROR_CANT_ACCESS_FILE for a link left).
[[nodiscard]] DWORD ClearForWrite(LPCWSTR szPath);

// CreateFileW for writing that never writes through a link: a link in the
// path's place is removed as itself first, or the call fails with
// ERROR_CANT_ACCESS_FILE. dwDisposition CREATE_ALWAYS replaces a plain
// file; OPEN_ALWAYS and OPEN_EXISTING open one that is there.
[[nodiscard]] HANDLE CreateFileNoLink(LPCWSTR szPath, DWORD dwAccess, DWORD dwShare,
                                      DWORD dwDisposition, DWORD dwFlags);
