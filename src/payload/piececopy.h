// Copying one file, with the date, version, resume and locked-file rules.
#pragma once
#include <windows.h>

// XCopyFile flags.
enum : DWORD {
    LOCKEDFILE = 0x100,          // a target that can not be replaced now is replaced at restart
    XCOPY_REGISTER = 0x1000,
    UPDATE_DATE = 0x10000,
    UPDATE_SAME = 0x20000,
    UPDATE_VERSION = 0x40000,
    CLEAR_FILE_ATTR = 0x100000,
    XCOPY_RESUME = 0x200000,
    XCOPY_CREATEDIR = 0x400000,  // create the target's folder tree first
};

// Copies szFrom to szTo. Returns 0 on success, else a Win32 error code.
DWORD XCopyFile(LPCWSTR szFrom, LPCWSTR szTo, DWORD dwFlags);
