#include "common/filesys.h"
#include <shlwapi.h>
#include <strsafe.h>
#include "common/capacity.h"
#include "common/osversion.h"
#include "common/trace.h"
#include "launcher/state.h"
#include "payload/piececopy.h"

namespace {

typedef WCHAR PATHBUF[PATH_CCH];

// Closes a search handle exactly once.
class FindHandle {
public:
    FindHandle(LPCWSTR szPattern, WIN32_FIND_DATAW* pData)
        : m_hFind(FindFirstFileW(szPattern, pData)) {}
    ~FindHandle()
    {
        if (m_hFind != INVALID_HANDLE_VALUE)
            FindClose(m_hFind);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool Valid() const { return m_hFind != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAW* pData) { return FindNextFileW(m_hFind, pData) != FALSE; }

private:
    HANDLE m_hFind;
};

bool IsDotEntry(const WIN32_FIND_DATAW& fd)
{
    return lstrcmpW(fd.cFileName, L".") == 0 || lstrcmpW(fd.cFileName, L"..") == 0;
}

bool IsFolder(const WIN32_FIND_DATAW& fd)
{
    return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A folder link (junction, symbolic link): removing through it would reach
// files outside the tree, so the deleting walks remove the link only.
bool IsFolderLink(DWORD dwAttributes)
{
    return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// folder + "\" + name; an empty folder gives the name alone. FALSE when the
// result does not fit: a cut path would name another file.
bool JoinPath(PATHBUF& szOut, LPCWSTR szFolder, LPCWSTR szName)
{
    szOut[0] = L'\0';
    size_t cchFolder = 0;
    if (FAILED(StringCchCopyW(szOut, PATH_CCH, szFolder)) ||
        FAILED(StringCchLengthW(szOut, PATH_CCH, &cchFolder)))
        return false;
    if (cchFolder > 0 && szOut[cchFolder - 1] != L'\\' && FAILED(StringCchCatW(szOut, PATH_CCH, L"\\")))
        return false;
    return SUCCEEDED(StringCchCatW(szOut, PATH_CCH, szName));
}

// Splits "folder\name" at its last backslash; without one the folder is empty.
bool SplitPattern(LPCWSTR szPattern, PATHBUF& szFolder, PATHBUF& szName)
{
    szFolder[0] = szName[0] = L'\0';
    if (!szPattern || FAILED(StringCchCopyW(szFolder, PATH_CCH, szPattern)))
        return false;
    WCHAR* pSlash = wcsrchr(szFolder, L'\\');
    if (!pSlash) {
        StringCchCopyW(szName, PATH_CCH, szFolder);
        szFolder[0] = L'\0';
        return true;
    }
    StringCchCopyW(szName, PATH_CCH, pSlash + 1);
    *pSlash = L'\0';
    // "\name" lies in the root of the current drive.
    if (szFolder[0] == L'\0')
        StringCchCopyW(szFolder, PATH_CCH, L"\\");
    return true;
}

void RemoveTrailingBackslash(WCHAR* szPath)
{
    size_t cch = lstrlenW(szPath);
    if (cch > 0 && szPath[cch - 1] == L'\\')
        szPath[cch - 1] = L'\0';
}

// "C:\", "C:", "\" or "\\server\share": never removed as a whole.
bool IsRootPath(LPCWSTR szPath)
{
    PATHBUF szRoot;
    if (FAILED(StringCchCopyW(szRoot, PATH_CCH, szPath)))
        return false;
    size_t cch = lstrlenW(szRoot);
    if (cch > 0 && szRoot[cch - 1] != L'\\' && FAILED(StringCchCatW(szRoot, PATH_CCH, L"\\")))
        return false;
    return PathIsRootW(szRoot) != FALSE;
}

void ClearReadOnly(LPCWSTR szPath, DWORD dwAttributes)
{
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_READONLY))
        return;
    const DWORD dwSettable = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                             FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD dwNew = dwAttributes & dwSettable;
    SetFileAttributesW(szPath, dwNew ? dwNew : FILE_ATTRIBUTE_NORMAL);
}

// Deletes one file, read-only or not; hands it to the restart list when
// it is locked and the caller allows it.
BOOL DeleteOneFile(LPCWSTR szPath, DWORD dwAttributes, DWORD dwFlags)
{
    ClearReadOnly(szPath, dwAttributes);
    BOOL bDeleted = DeleteFileW(szPath);
    DWORD dwError = GetLastError();
    DebugTrace(L"DeleteFile(%s)->%d", szPath, bDeleted);
    if (!bDeleted && (dwFlags & LOCKEDFILE))
        ReadLockedFiles(szPath, nullptr);
    SetLastError(dwError);
    return bDeleted;
}

BOOL RemoveFolderLink(LPCWSTR szPath)
{
    BOOL bRemoved = RemoveDirectoryW(szPath);
    DWORD dwError = GetLastError();
    DebugTrace(L"RemoveDirectory(%s)->%d", szPath, bRemoved);
    SetLastError(dwError);
    return bRemoved;
}

void RemoveFilesIn(LPCWSTR szFolder, LPCWSTR szName, DWORD dwFlags, BOOL& bLast)
{
    PATHBUF szSearch;
    PATHBUF szPath;
    WIN32_FIND_DATAW fd;
    if (JoinPath(szSearch, szFolder, szName)) {
        FindHandle find(szSearch, &fd);
        for (bool bMore = find.Valid(); bMore; bMore = find.Next(&fd)) {
            if (IsFolder(fd) || !JoinPath(szPath, szFolder, fd.cFileName))
                continue;
            bLast = DeleteOneFile(szPath, fd.dwFileAttributes, dwFlags);
        }
    }
    if (!(dwFlags & FS_INCLUDE_SUBDIR) || !JoinPath(szSearch, szFolder, L"*"))
        return;
    FindHandle find(szSearch, &fd);
    for (bool bMore = find.Valid(); bMore; bMore = find.Next(&fd)) {
        if (!IsFolder(fd) || IsDotEntry(fd) || IsFolderLink(fd.dwFileAttributes) ||
            !JoinPath(szPath, szFolder, fd.cFileName))
            continue;
        RemoveFilesIn(szPath, szName, dwFlags, bLast);
    }
}

void SetAttributesIn(LPCWSTR szFolder, LPCWSTR szName, DWORD dwAttributes, BOOL bRecursive, BOOL& bLast)
{
    PATHBUF szSearch;
    PATHBUF szPath;
    WIN32_FIND_DATAW fd;
    if (JoinPath(szSearch, szFolder, szName)) {
        FindHandle find(szSearch, &fd);
        for (bool bMore = find.Valid(); bMore; bMore = find.Next(&fd)) {
            if (IsFolder(fd) || !JoinPath(szPath, szFolder, fd.cFileName))
                continue;
            bLast = SetFileAttributesW(szPath, dwAttributes);
        }
    }
    if (!bRecursive || !JoinPath(szSearch, szFolder, L"*"))
        return;
    FindHandle find(szSearch, &fd);
    for (bool bMore = find.Valid(); bMore; bMore = find.Next(&fd)) {
        if (!IsFolder(fd) || IsDotEntry(fd) || !JoinPath(szPath, szFolder, fd.cFileName))
            continue;
        SetAttributesIn(szPath, szName, dwAttributes, bRecursive, bLast);
    }
}

DWORD g_dwCountFiles;

void CountFilesIn(LPCWSTR szPattern, BOOL bRecursive)
{
    PATHBUF szFolder;
    PATHBUF szName;
    PATHBUF szPath;
    WIN32_FIND_DATAW fd;
    if (!SplitPattern(szPattern, szFolder, szName))
        return;
    if (!bRecursive) {
        FindHandle find(szPattern, &fd);
        for (bool bMore = find.Valid(); bMore && !g_bCancel; bMore = find.Next(&fd)) {
            if (IsFolder(fd) || !JoinPath(szPath, szFolder, fd.cFileName))
                continue;
            ++g_dwCountFiles;
            DebugTrace(L"CountFiles()->FullFileName=%s", szPath);
        }
        return;
    }
    PATHBUF szSearch;
    if (!JoinPath(szSearch, szFolder, L"*"))
        return;
    FindHandle find(szSearch, &fd);
    for (bool bMore = find.Valid(); bMore && !g_bCancel; bMore = find.Next(&fd)) {
        if (IsDotEntry(fd) || !JoinPath(szPath, szFolder, fd.cFileName))
            continue;
        if (IsFolder(fd)) {
            PATHBUF szSubPattern;
            if (JoinPath(szSubPattern, szPath, szName))
                CountFilesIn(szSubPattern, TRUE);
        } else if (PathMatchSpecW(fd.cFileName, szName)) {
            ++g_dwCountFiles;
            DebugTrace(L"CountFiles()->FullFileName=%s", szPath);
        }
    }
}

void XCopyFilesIn(LPCWSTR szSrcPattern, LPCWSTR szDestFolder, DWORD dwFlags, DWORD& dwLast)
{
    PATHBUF szFolder;
    PATHBUF szName;
    PATHBUF szDest;
    if (!SplitPattern(szSrcPattern, szFolder, szName) || !JoinPath(szDest, szDestFolder, L"")) {
        dwLast = ERROR_FILENAME_EXCED_RANGE;
        return;
    }

    PATHBUF szFrom;
    PATHBUF szTo;
    WIN32_FIND_DATAW fd;
    {
        FindHandle find(szSrcPattern, &fd);
        for (bool bMore = find.Valid(); bMore && !g_bCancel; bMore = find.Next(&fd)) {
            if (IsFolder(fd))
                continue;
            if (!JoinPath(szFrom, szFolder, fd.cFileName) || !JoinPath(szTo, szDest, fd.cFileName)) {
                dwLast = ERROR_FILENAME_EXCED_RANGE;
                continue;
            }
            if (!CreateAllDirectory(szDest)) {
                // No folder, no copy: that is a failure, not "nothing copied".
                DWORD dwError = GetLastError();
                dwLast = dwError ? dwError : ERROR_PATH_NOT_FOUND;
                continue;
            }
            dwLast = XCopyFile(szFrom, szTo, dwFlags);
        }
    }
    if (!(dwFlags & FS_INCLUDE_SUBDIR))
        return;
    PATHBUF szSearch;
    if (!JoinPath(szSearch, szFolder, L"*"))
        return;
    FindHandle find(szSearch, &fd);
    for (bool bMore = find.Valid(); bMore && !g_bCancel; bMore = find.Next(&fd)) {
        if (!IsFolder(fd) || IsDotEntry(fd))
            continue;
        PATHBUF szSubFolder;
        PATHBUF szSubPattern;
        PATHBUF szSubDest;
        if (!JoinPath(szSubFolder, szFolder, fd.cFileName) ||
            !JoinPath(szSubPattern, szSubFolder, szName) ||
            !JoinPath(szSubDest, szDest, fd.cFileName)) {
            dwLast = ERROR_FILENAME_EXCED_RANGE;
            continue;
        }
        XCopyFilesIn(szSubPattern, szSubDest, dwFlags, dwLast);
    }
}

}  // namespace

BOOL CreateAllDirectory(LPCWSTR szPath)
{
    if (!szPath || !szPath[0])
        return TRUE;
    PATHBUF szFolder;
    if (FAILED(StringCchCopyW(szFolder, PATH_CCH, szPath))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    RemoveTrailingBackslash(szFolder);
    if (!szFolder[0]) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }

    DWORD dwAttributes = GetFileAttributesW(szFolder);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
        if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return TRUE;
        // A file of that name: the folder can not exist.
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }

    WCHAR* pSlash = wcsrchr(szFolder, L'\\');
    if (pSlash && pSlash != szFolder) {
        *pSlash = L'\0';
        BOOL bParent = CreateAllDirectory(szFolder);
        *pSlash = L'\\';
        if (!bParent)
            return FALSE;
    }
    BOOL bCreated = CreateDirectoryW(szFolder, nullptr);
    DWORD dwError = GetLastError();
    DebugTrace(L"CreateAllDirectory(%s)->%d", szFolder, bCreated);
    SetLastError(dwError);
    return bCreated;
}

BOOL RemoveDirectoryTree(LPCWSTR szPath, DWORD dwFlags)
{
    PATHBUF szFolder;
    if (!szPath || !szPath[0] || FAILED(StringCchCopyW(szFolder, PATH_CCH, szPath)))
        return FALSE;
    // A drive or share root is never removed with its contents.
    if (IsRootPath(szFolder))
        return FALSE;
    RemoveTrailingBackslash(szFolder);
    DWORD dwAttributes = GetFileAttributesW(szFolder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    if (IsFolderLink(dwAttributes))
        return RemoveFolderLink(szFolder);

    if (dwFlags & FS_INCLUDE_SUBDIR) {
        PATHBUF szSearch;
        PATHBUF szEntry;
        WIN32_FIND_DATAW fd;
        if (JoinPath(szSearch, szFolder, L"*")) {
            FindHandle find(szSearch, &fd);
            for (bool bMore = find.Valid(); bMore; bMore = find.Next(&fd)) {
                if (IsDotEntry(fd) || !JoinPath(szEntry, szFolder, fd.cFileName))
                    continue;
                if (!IsFolder(fd)) {
                    DeleteOneFile(szEntry, fd.dwFileAttributes, dwFlags);
                    continue;
                }
                ClearReadOnly(szEntry, fd.dwFileAttributes);
                if (IsFolderLink(fd.dwFileAttributes))
                    RemoveFolderLink(szEntry);
                else
                    RemoveDirectoryTree(szEntry, dwFlags);
            }
        }
    }

    ClearReadOnly(szFolder, dwAttributes);
    BOOL bRemoved = RemoveDirectoryW(szFolder);
    DWORD dwError = GetLastError();
    DebugTrace(L"RemoveDirectory(%s)->%d", szFolder, bRemoved);
    if (!bRemoved && (dwFlags & LOCKEDFILE))
        ReadLockedFiles(szFolder, nullptr);
    SetLastError(dwError);
    return bRemoved;
}

BOOL RemoveFiles(LPCWSTR szPattern, DWORD dwFlags)
{
    PATHBUF szFolder;
    PATHBUF szName;
    BOOL bLast = FALSE;
    if (SplitPattern(szPattern, szFolder, szName) && szName[0])
        RemoveFilesIn(szFolder, szName, dwFlags, bLast);
    return bLast;
}

BOOL SetFilesAttributes(LPCWSTR szPattern, DWORD dwAttributes, BOOL bRecursive)
{
    PATHBUF szFolder;
    PATHBUF szName;
    BOOL bLast = FALSE;
    if (SplitPattern(szPattern, szFolder, szName) && szName[0])
        SetAttributesIn(szFolder, szName, dwAttributes, bRecursive, bLast);
    return bLast;
}

DWORD CountFiles(LPCWSTR szPattern, BOOL bRecursive, BOOL bReset)
{
    if (bReset)
        g_dwCountFiles = 0;
    if (szPattern && szPattern[0])
        CountFilesIn(szPattern, bRecursive);
    DebugTraceA("CountFiles()->NbFiles=%d", static_cast<int>(g_dwCountFiles));
    return g_dwCountFiles;
}

DWORD XCopyFiles(LPCWSTR szSrcPattern, LPCWSTR szDestFolder, DWORD dwFlags)
{
    DWORD dwLast = 0;
    if (szSrcPattern && szSrcPattern[0] && szDestFolder)
        XCopyFilesIn(szSrcPattern, szDestFolder, dwFlags, dwLast);
    DebugTraceA("XCopyFiles()->%d", static_cast<int>(dwLast));
    return dwLast;
}

DWORD ReadLockedFiles(LPCWSTR szFile, LPCWSTR szTarget)
{
    if (!szFile || !szFile[0])
        return 0;
    OSVERSIONINFOEXW osvi;
    BOOL bExtended = FALSE;
    if (!QueryOSVersion(osvi, &bExtended)) {
        DebugTraceA("ReadLockedFiles()->OSVERSIONINFOEX failed");
        return 0;
    }
    // The older family's WinInit.ini has no counterpart on the systems we
    // target: only the NT family's delayed move is used.
    if (osvi.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return 0;

    if (!szTarget || !szTarget[0]) {
        BOOL bMoved = MoveFileExW(szFile, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        DebugTrace(L"MoveFileEx(%s, %s)=>%d", szFile, L"", bMoved);
        return 0;
    }

    // Stage the new content next to the target; the restart puts it in place.
    PATHBUF szFolder;
    if (FAILED(StringCchCopyW(szFolder, PATH_CCH, szTarget)))
        return 0;
    PathRemoveFileSpecW(szFolder);
    if (!szFolder[0])
        StringCchCopyW(szFolder, PATH_CCH, L".");
    WCHAR szPrefix[4];
    StringCchCopyNW(szPrefix, ARRAYSIZE(szPrefix), PathFindFileNameW(szFile), 3);
    PATHBUF szTemp;
    if (!GetTempFileNameW(szFolder, szPrefix, 0, szTemp))
        return 0;
    if (GetFileAttributesW(szFile) == INVALID_FILE_ATTRIBUTES || XCopyFile(szFile, szTemp, 0) != 0) {
        DeleteFileW(szTemp);
        return 0;
    }
    BOOL bMoved = MoveFileExW(szTemp, szTarget, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    DebugTrace(L"MoveFileEx(%s, %s)=>%d", szTemp, szTarget, bMoved);
    if (!bMoved)
        DeleteFileW(szTemp);
    return 0;
}
