// Script commands on files, folders and INI files, the wait and download
// commands and the archive commands.
#pragma once
#include <windows.h>
#include "script/fields.h"

// Option bits found in a command line (the values XCopyFile and the
// file-system helpers understand).
enum : DWORD {
    SCRIPT_ONLYDIR = 0x1,
    SCRIPT_INCLUDE_SUBDIR = 0x2,
    SCRIPT_LOCKED = 0x100,
    SCRIPT_SHAREDFILE = 0x200,
    SCRIPT_UPDATE_DATE = 0x10000,
    SCRIPT_UPDATE_SAME = 0x20000,
    SCRIPT_UPDATE_VERSION = 0x40000,
    SCRIPT_CLEAR_FILE_ATTR = 0x100000,
};

// Copies the files matching szPattern into szDestFolder when there is at
// least one; the code of the last copy, 0 when nothing matched.
[[nodiscard]] DWORD CopyMatchingFiles(LPCWSTR szPattern, LPCWSTR szDestFolder, DWORD dwFlags);

UINT ScriptCreateDir(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptCreateFolder(SCRIPTRUN& run, LPCWSTR szParams);
UINT ChangeDir(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptRemoveDir(SCRIPTRUN& run, LPCWSTR szParams);
UINT RemoveFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptCopyFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptCopyDir(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptRenameFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptSetFileAttributes(SCRIPTRUN& run, LPCWSTR szParams);
UINT WriteIniFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptDelay(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptDownLoadFile(SCRIPTRUN& run, LPCWSTR szParams);
// The parameters of a DOWNLOADFILE line for the trace: the URL's password and
// the password field show as "***".
void MaskDownLoadParams(LPCWSTR szParams, LPWSTR szOut, size_t cchOut);
UINT ScriptUnCABFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptUnZipFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptUnPACFile(SCRIPTRUN& run, LPCWSTR szParams);
