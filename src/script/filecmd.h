// Script commands on files, folders and INI files, the wait and download
// commands and the archive commands.
#pragma once
#include <windows.h>

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

UINT ScriptCreateDir(LPCWSTR szParams);
UINT ScriptCreateFolder(LPCWSTR szParams);
UINT ChangeDir(LPCWSTR szParams);
UINT ScriptRemoveDir(LPCWSTR szParams);
UINT RemoveFile(LPCWSTR szParams);
UINT ScriptCopyFile(LPCWSTR szParams);
UINT ScriptCopyDir(LPCWSTR szParams);
UINT ScriptRenameFile(LPCWSTR szParams);
UINT ScriptSetFileAttributes(LPCWSTR szParams);
UINT WriteIniFile(LPCWSTR szParams);
UINT ScriptDelay(LPCWSTR szParams);
UINT ScriptDownLoadFile(LPCWSTR szParams);
// The parameters of a DOWNLOADFILE line for the trace: the URL's password and
// the password field show as "***".
void MaskDownLoadParams(LPCWSTR szParams, LPWSTR szOut, size_t cchOut);
UINT ScriptUnCABFile(LPCWSTR szParams);
UINT ScriptUnZipFile(LPCWSTR szParams);
UINT ScriptUnPACFile(LPCWSTR szParams);
