// Creating, removing and enumerating files and folders, and removing at the
// next restart what a locked file prevents now. Copying is common/filecopy.h.
#pragma once
#include <windows.h>
#include <string>
#include "common/capacity.h"
#include "common/longpath.h"
#include "common/safefile.h"

// Flags of RemoveDirectoryTree, RemoveFiles and XCopyFiles (common/filecopy.h).
enum : DWORD {
    FS_INCLUDE_SUBDIR = 0x2,  // contents / every sub-folder too
    LOCKEDFILE = 0x100,       // what can not be removed or replaced now is, at restart
};

// Creates a folder and every missing parent. 0 when the folder exists
// afterwards (an empty path gives 0), or the reason: 183
// (ERROR_ALREADY_EXISTS) when a file holds its name.
[[nodiscard]] DWORD CreateAllDirectory(LPCWSTR szPath);
// The same for a path that may be longer than PATH_CCH (an archive member's
// folder); used where the archive decides the length.
[[nodiscard]] DWORD CreateAllDirectoryLong(LPCWSTR szPath);

// Removes a folder; with FS_INCLUDE_SUBDIR its contents first, read-only
// items included; with LOCKEDFILE what can not go now goes at restart.
// 0 when the folder itself was removed, or the reason: 5
// (ERROR_ACCESS_DENIED) when the path guard refuses it.
[[nodiscard]] DWORD RemoveDirectoryTree(LPCWSTR szPath, DWORD dwFlags);

// Deletes the files matching a pattern (folder plus a wildcard name), with
// FS_INCLUDE_SUBDIR in every sub-folder too. 0, or the reason the last
// deletion attempted failed; 2 (ERROR_FILE_NOT_FOUND) when nothing matched.
[[nodiscard]] DWORD RemoveFiles(LPCWSTR szPattern, DWORD dwFlags);

// Sets the attributes of the matching files to exactly dwAttributes.
// 0, or the reason the last change failed; 2 (ERROR_FILE_NOT_FOUND) when
// nothing matched.
[[nodiscard]] DWORD SetFilesAttributes(LPCWSTR szPattern, DWORD dwAttributes, BOOL bRecursive);

// Counts the matching files into a process-wide counter (reset first when
// asked) and returns it. Not for two threads at once.
[[nodiscard]] DWORD CountFiles(LPCWSTR szPattern, BOOL bRecursive, BOOL bReset);

// Asks the system to delete szPath (a file, or an empty folder) at the next
// restart. 0, or the reason it would not take the request.
[[nodiscard]] DWORD RemoveAtRestart(LPCWSTR szPath);

// folder + "\" + name; an empty folder gives the name alone. False when the
// result does not fit: a cut path would name another file.
[[nodiscard]] bool JoinPath(WCHAR (&szOut)[PATH_CCH], LPCWSTR szFolder, LPCWSTR szName);
// Splits "folder\name" at its last backslash; without one the folder is
// empty, and "\name" lies in the root of the current drive.
[[nodiscard]] bool SplitPattern(LPCWSTR szPattern, WCHAR (&szFolder)[PATH_CCH],
                                WCHAR (&szName)[PATH_CCH]);

// The 8-bit form of an existing file's or folder's path for an interface
// that takes nothing else: the ANSI code page when it holds every character
// exactly, else the short (8.3) form when that converts exactly. Never a
// best fit: that could name another file. 0, or 1113
// (ERROR_NO_UNICODE_TRANSLATION) when neither form exists.
[[nodiscard]] DWORD CodePagePathOf(LPCWSTR szPath, LPSTR szOut, int cbOut);

// 1 when szPath names an existing file (not a folder).
[[nodiscard]] BOOL FileExists(LPCWSTR szPath);
// 1 when szPath names an existing folder.
[[nodiscard]] BOOL FolderExists(LPCWSTR szPath);
// Drops one trailing "\" in place.
void RemoveTrailingBackslash(LPWSTR szPath);
// 1 when szPath names the very file that hFile has open (same volume, same
// file index: another spelling, a short name or a share of it counts too).
[[nodiscard]] BOOL IsSameFile(HANDLE hFile, LPCWSTR szPath);
// Removes a link (to a file or a folder) at szPath, so that what is then
// written there stays there instead of landing where the link points.
void RemoveLinkAt(LPCWSTR szPath);
// Creates the folder that will hold szFile. ERROR_SUCCESS when it is there
// afterwards (a bare name needs none), else the reason (traced).
[[nodiscard]] DWORD CreateFolderOf(LPCWSTR szFile);
// Moves a file's pointer to an offset from its start, or to its end.
// 0, or the reason.
[[nodiscard]] DWORD SeekTo(HANDLE hFile, ULONGLONG ullOffset);
[[nodiscard]] DWORD SeekToEnd(HANDLE hFile);

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
