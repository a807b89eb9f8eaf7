// Whole-file copies under update, resume and locked-file rules, in blocks
// that feed the progress model and stop at the cancel flag.
#pragma once
#include <windows.h>
#include "common/blockcopy.h"
#include "common/filesys.h"

// XCopyFile flags, besides LOCKEDFILE (common/filesys.h).
enum : DWORD {
    XCOPY_REGISTER = 0x1000,     // register the copied file (COM self-registration)
    UPDATE_DATE = 0x10000,       // copy only over an older target
    UPDATE_SAME = 0x20000,       // ... or one of the same version or date
    UPDATE_VERSION = 0x40000,    // copy only over a lower file version
    CLEAR_FILE_ATTR = 0x100000,  // give the copy normal attributes
    XCOPY_RESUME = 0x200000,     // continue a partial target of an earlier run
    XCOPY_CREATEDIR = 0x400000,  // create the target's folder tree first
};

// Copies szFrom to szTo. Returns 0 on success (and when the rules of the
// flags skip the copy, the source is missing, or szTo is szFrom itself),
// else a Win32 error code.
// Every byte of the source (the part a resume keeps too) goes into pHash
// when given.
[[nodiscard]] DWORD XCopyFile(LPCWSTR szFrom, LPCWSTR szTo, DWORD dwFlags,
                              SHA256CONTEXT* pHash = nullptr);

// What a finished block copy into szTarget reports: 14 without memory, 112
// when the disk is full, 23 when another read or write failed or the source
// ended early, 2 when the target is not there, else 0 (a cancelled copy
// too: callers read the flag). Call it straight after the copy: a failed
// write's cause is the thread's last error.
[[nodiscard]] DWORD CopyResultToCode(COPYRESULT copy, LPCWSTR szTarget);

// A write's error as the run reports it: both of the system's "disk full"
// codes are 112.
[[nodiscard]] DWORD WriteErrorCode(DWORD dwError);

// Copies the matching files into a folder with XCopyFile and the given
// flags (FS_INCLUDE_SUBDIR: the sub-folders too). The code of the last
// copy, 0 when none was made.
[[nodiscard]] DWORD XCopyFiles(LPCWSTR szSrcPattern, LPCWSTR szDestFolder, DWORD dwFlags);

// Deletes szFile (szTarget null or empty), or replaces szTarget by a copy of
// szFile, at the next restart. Always 0; the outcome is in the log.
DWORD ReadLockedFiles(LPCWSTR szFile, LPCWSTR szTarget);
