// Creating, removing, enumerating and copying files and folders, and
// finishing at the next restart what a locked file prevents now.
#pragma once
#include <windows.h>
#include <string>
#include "common/longpath.h"
#include "common/safefile.h"

// Flags of RemoveDirectoryTree, RemoveFiles and XCopyFiles. The restart
// flag is LOCKEDFILE (0x100) of common/filecopy.h.
enum : DWORD {
    FS_INCLUDE_SUBDIR = 0x2,  // contents / every sub-folder too
};

// Creates a folder and every missing parent. 1 when the folder exists
// afterwards (an empty path gives 1); on 0 the last error tells why.
BOOL CreateAllDirectory(LPCWSTR szPath);
// The same for a path that may be longer than PATH_CCH (an archive member's
// folder); used where the archive decides the length.
BOOL CreateAllDirectoryLong(LPCWSTR szPath);

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

// The 8-bit form of an existing file's or folder's path for an interface
// that takes nothing else: the ANSI code page when it holds every character
// exactly, else the short (8.3) form when that converts exactly. Never a
// best fit: that could name another file. 0, or 1113
// (ERROR_NO_UNICODE_TRANSLATION) when neither form exists.
DWORD CodePagePathOf(LPCWSTR szPath, LPSTR szOut, int cbOut);

// 1 when szPath names an existing file (not a folder).
BOOL FileExists(LPCWSTR szPath);
// 1 when szPath names an existing folder.
BOOL FolderExists(LPCWSTR szPath);
// Drops one trailing "\" in place.
void RemoveTrailingBackslash(LPWSTR szPath);
// 1 when szPath names the very file that hFile has open (same volume, same
// file index: another spelling, a short name or a share of it counts too).
BOOL IsSameFile(HANDLE hFile, LPCWSTR szPath);
// Removes a link (to a file or a folder) at szPath, so that what is then
// written there stays there instead of landing where the link points.
void RemoveLinkAt(LPCWSTR szPath);
// Creates the folder that will hold szFile.
void CreateFolderOf(LPCWSTR szFile);
// Moves a file's pointer to an offset from its start, or to its end.
BOOL SeekTo(HANDLE hFile, ULONGLONG ullOffset);
BOOL SeekToEnd(HANDLE hFile);

// What a folder walk reports. Every callback returns FALSE to stop the walk.
class IFolderVisitor {
public:
    virtual ~IFolderVisitor() {}
    // A file whose name matches; szRelative is its folder below the walk's
    // root ("" at the root).
    virtual BOOL OnFile(LPCWSTR szPath, LPCWSTR szRelative, const WIN32_FIND_DATAW& fd) = 0;
    // A link to a folder (junction, symbolic link): reported, never entered.
    virtual BOOL OnFolderLink(LPCWSTR szPath, const WIN32_FIND_DATAW& fd) { return TRUE; }
    // A sub-folder, after everything in it was visited.
    virtual BOOL OnFolderDone(LPCWSTR szPath, const WIN32_FIND_DATAW& fd) { return TRUE; }
    // A path that would not fit PATH_CCH characters (it is skipped), or
    // LONG_PATH_CCH for a visitor that takes long paths.
    virtual void OnTooLong(LPCWSTR szFolder, LPCWSTR szName) {}
    // TRUE: paths beyond PATH_CCH are visited too (the visitor hands them
    // to the system in their LongPathForm).
    virtual BOOL TakesLongPaths() const { return FALSE; }
};

// Visits the files of szFolder whose names match szName (wildcards), then,
// with bRecursive, every sub-folder in the same way. FALSE when the visitor
// stopped the walk.
BOOL WalkFolder(LPCWSTR szFolder, LPCWSTR szName, BOOL bRecursive, IFolderVisitor& visitor);
