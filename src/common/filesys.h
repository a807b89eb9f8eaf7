// Creating, removing, enumerating and copying files and folders, and
// finishing at the next restart what a locked file prevents now.
#pragma once
#include <windows.h>

// Flags of RemoveDirectoryTree, RemoveFiles and XCopyFiles. The restart
// flag is LOCKEDFILE (0x100) of payload/piececopy.h.
enum : DWORD {
    FS_INCLUDE_SUBDIR = 0x2,  // contents / every sub-folder too
};

// Creates a folder and every missing parent. 1 when the folder exists
// afterwards (an empty path gives 1); on 0 the last error tells why.
BOOL CreateAllDirectory(LPCWSTR szPath);

// Removes a folder; with FS_INCLUDE_SUBDIR its contents first, read-only
// items included; with LOCKEDFILE what can not go now goes at restart.
// Nonzero when the folder itself was removed.
BOOL RemoveDirectoryTree(LPCWSTR szPath, DWORD dwFlags);

// Deletes the files matching a pattern (folder plus a wildcard name), with
// FS_INCLUDE_SUBDIR in every sub-folder too. Result of the last deletion
// attempted, 0 when nothing matched.
BOOL RemoveFiles(LPCWSTR szPattern, DWORD dwFlags);

// Sets the attributes of the matching files to exactly dwAttributes.
// Result of the last change, 0 when nothing matched.
BOOL SetFilesAttributes(LPCWSTR szPattern, DWORD dwAttributes, BOOL bRecursive);

// Counts the matching files into a process-wide counter (reset first when
// asked) and returns it. Not for two threads at once.
DWORD CountFiles(LPCWSTR szPattern, BOOL bRecursive, BOOL bReset);

// Copies the matching files into a folder with XCopyFile and the given
// flags (FS_INCLUDE_SUBDIR: the sub-folders too). The code of the last
// copy, 0 when none was made.
DWORD XCopyFiles(LPCWSTR szSrcPattern, LPCWSTR szDestFolder, DWORD dwFlags);

// Deletes szFile (szTarget null or empty), or replaces szTarget by a copy of
// szFile, at the next restart. Always 0; the outcome is in the log.
DWORD ReadLockedFiles(LPCWSTR szFile, LPCWSTR szTarget);
