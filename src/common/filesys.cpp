#include "common/filesys.h"
#include "common/safefile.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include "common/cancel.h"
#include "common/capacity.h"
#include "common/errors.h"
#include "common/handles.h"
#include "common/osversion.h"
#include "common/pathguard.h"
#include "common/runfiles.h"
#include "common/textcode.h"
#include "common/trace.h"

namespace {

typedef WCHAR PATHBUF[PATH_CCH];

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

// The last line of defence behind every caller's own check.
BOOL Guarded(LPCWSTR szRoutine, LPCWSTR szPath, GUARDOP op, BOOL bRecursive)
{
    PATHBUF szFull;
    WCHAR szReason[GUARD_REASON_CCH];
    if (GuardPath(szPath, op, bRecursive, szFull, szReason, ARRAYSIZE(szReason)))
        return TRUE;
    DebugTrace(L"%s(%s)->Refused: %s", szRoutine, szPath ? szPath : L"", szReason);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

void ClearReadOnly(LPCWSTR szPath, DWORD dwAttributes)
{
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_READONLY))
        return;
    const DWORD dwSettable = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                             FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD dwNew = dwAttributes & dwSettable;
    SetFileAttributesW(LongPathForm(szPath).c_str(), dwNew ? dwNew : FILE_ATTRIBUTE_NORMAL);
}

// Deletes one file itself, read-only or not, never what a link points to;
// hands it to the restart list when it is locked and the caller allows it.
DWORD DeleteOneFile(LPCWSTR szPath, DWORD dwFlags)
{
    DWORD dwError = DeleteFileNoLink(szPath);
    BOOL bDeleted = dwError == ERROR_SUCCESS;
    DebugTrace(L"DeleteFile(%s)->%d", szPath, bDeleted);
    // Traced; the file is not deleted now either way.
    if (!bDeleted && dwError != ERROR_CANT_ACCESS_FILE && (dwFlags & LOCKEDFILE))
        (void)RemoveAtRestart(szPath);
    return dwError;
}

BOOL RemoveFolderLink(LPCWSTR szPath)
{
    BOOL bRemoved = RemoveDirectoryW(LongPathForm(szPath).c_str());
    DWORD dwError = GetLastError();
    DebugTrace(L"RemoveDirectory(%s)->%d", szPath, bRemoved);
    SetLastError(dwError);
    return bRemoved;
}

// Removes a folder whose contents are gone; hands it to the restart list
// when that fails and the caller allows it.
BOOL RemoveEmptyFolder(LPCWSTR szFolder, DWORD dwAttributes, DWORD dwFlags)
{
    ClearReadOnly(szFolder, dwAttributes);
    BOOL bRemoved = RemoveDirectoryW(LongPathForm(szFolder).c_str());
    DWORD dwError = GetLastError();
    DebugTrace(L"RemoveDirectory(%s)->%d", szFolder, bRemoved);
    // Traced; the folder is not removed now either way.
    if (!bRemoved && (dwFlags & LOCKEDFILE))
        (void)RemoveAtRestart(szFolder);
    SetLastError(dwError);
    return bRemoved;
}

// folder + "\\" + name into a string that may pass PATH_CCH; FALSE beyond
// cchMax characters.
bool JoinLong(std::wstring& out, const std::wstring& folder, LPCWSTR szName, size_t cchMax)
{
    out = folder;
    if (!out.empty() && out.back() != L'\\')
        out += L'\\';
    out += szName;
    return out.size() < cchMax;
}

// Walks szFolder for files matching szName, then each sub-folder when asked,
// and tells the visitor. szRelative is the folder below the walk's root
// ("" at the root). Links to folders are reported, never entered. FALSE
// when the visitor stopped the walk.
BOOL WalkIn(const std::wstring& folder, const std::wstring& relative, LPCWSTR szName,
            BOOL bRecursive, IFolderVisitor& visitor)
{
    const size_t cchMax = visitor.TakesLongPaths() ? LONG_PATH_CCH : PATH_CCH;
    std::wstring search;
    std::wstring path;
    WIN32_FIND_DATAW fd;
    if (!JoinLong(search, folder, szName, cchMax)) {
        visitor.OnTooLong(folder.c_str(), szName);
    } else {
        CFindHandle find(FindFirstFileW(LongPathForm(search).c_str(), &fd));
        for (BOOL bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd)) {
            if (IsFolder(fd))
                continue;
            if (!JoinLong(path, folder, fd.cFileName, cchMax)) {
                visitor.OnTooLong(folder.c_str(), fd.cFileName);
                continue;
            }
            if (!visitor.OnFile(path.c_str(), relative.c_str(), fd))
                return FALSE;
        }
    }
    if (!bRecursive)
        return TRUE;
    if (!JoinLong(search, folder, L"*", cchMax)) {
        visitor.OnTooLong(folder.c_str(), L"*");
        return TRUE;
    }
    CFindHandle find(FindFirstFileW(LongPathForm(search).c_str(), &fd));
    for (BOOL bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd)) {
        if (!IsFolder(fd) || IsDotEntry(fd))
            continue;
        std::wstring subRelative;
        if (!JoinLong(path, folder, fd.cFileName, cchMax) ||
            !JoinLong(subRelative, relative, fd.cFileName, cchMax)) {
            visitor.OnTooLong(folder.c_str(), fd.cFileName);
            continue;
        }
        if (IsFolderLink(fd.dwFileAttributes)) {
            if (!visitor.OnFolderLink(path.c_str(), fd))
                return FALSE;
            continue;
        }
        if (!WalkIn(path, subRelative, szName, TRUE, visitor))
            return FALSE;
        if (!visitor.OnFolderDone(path.c_str(), fd))
            return FALSE;
    }
    return TRUE;
}

class CRemoveFiles : public IFolderVisitor {
public:
    explicit CRemoveFiles(DWORD dwFlags) : m_dwFlags(dwFlags) {}
    BOOL OnFile(LPCWSTR szPath, LPCWSTR, const WIN32_FIND_DATAW& fd) override
    {
        m_dwLast = DeleteOneFile(szPath, m_dwFlags);
        return TRUE;
    }
    DWORD m_dwFlags;
    DWORD m_dwLast = ERROR_FILE_NOT_FOUND;  // nothing matched
};

// Empties a folder tree: files, links to folders (the link only) and, after
// their contents, the sub-folders themselves.
class CRemoveTree : public IFolderVisitor {
public:
    explicit CRemoveTree(DWORD dwFlags) : m_dwFlags(dwFlags) {}
    // What an archive unpacked below a short folder may lie deeper.
    BOOL TakesLongPaths() const override { return TRUE; }
    BOOL OnFile(LPCWSTR szPath, LPCWSTR, const WIN32_FIND_DATAW& fd) override
    {
        (void)DeleteOneFile(szPath, m_dwFlags);  // traced; the folder's removal tells
        return TRUE;
    }
    BOOL OnFolderLink(LPCWSTR szPath, const WIN32_FIND_DATAW& fd) override
    {
        ClearReadOnly(szPath, fd.dwFileAttributes);
        RemoveFolderLink(szPath);
        return TRUE;
    }
    BOOL OnFolderDone(LPCWSTR szPath, const WIN32_FIND_DATAW& fd) override
    {
        RemoveEmptyFolder(szPath, fd.dwFileAttributes, m_dwFlags);
        return TRUE;
    }
    DWORD m_dwFlags;
};

class CSetAttributes : public IFolderVisitor {
public:
    explicit CSetAttributes(DWORD dwAttributes) : m_dwAttributes(dwAttributes) {}
    BOOL OnFile(LPCWSTR szPath, LPCWSTR, const WIN32_FIND_DATAW&) override
    {
        m_dwLast = SetAttributesNoLink(szPath, m_dwAttributes);
        return TRUE;
    }
    DWORD m_dwAttributes;
    DWORD m_dwLast = ERROR_FILE_NOT_FOUND;  // nothing matched
};

DWORD g_dwCountFiles;

class CCountFiles : public IFolderVisitor {
public:
    BOOL OnFile(LPCWSTR szPath, LPCWSTR, const WIN32_FIND_DATAW&) override
    {
        if (IsCancelled())
            return FALSE;
        ++g_dwCountFiles;
        DebugTrace(L"CountFiles()->FullFileName=%s", szPath);
        return TRUE;
    }
};

}  // namespace

bool JoinPath(WCHAR (&szOut)[PATH_CCH], LPCWSTR szFolder, LPCWSTR szName)
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
bool SplitPattern(LPCWSTR szPattern, WCHAR (&szFolder)[PATH_CCH], WCHAR (&szName)[PATH_CCH])
{
    szFolder[0] = szName[0] = L'\0';
    if (!szPattern || FAILED(StringCchCopyW(szFolder, PATH_CCH, szPattern)))
        return false;
    WCHAR* pSlash = wcsrchr(szFolder, L'\\');
    if (!pSlash) {
        // Parts of a PATH_CCH path fit.
        (void)StringCchCopyW(szName, PATH_CCH, szFolder);
        szFolder[0] = L'\0';
        return true;
    }
    (void)StringCchCopyW(szName, PATH_CCH, pSlash + 1);
    *pSlash = L'\0';
    // "\name" lies in the root of the current drive.
    if (szFolder[0] == L'\0')
        (void)StringCchCopyW(szFolder, PATH_CCH, L"\\");
    return true;
}

BOOL WalkFolder(LPCWSTR szFolder, LPCWSTR szName, BOOL bRecursive, IFolderVisitor& visitor)
{
    return WalkIn(szFolder ? szFolder : L"", std::wstring(), szName ? szName : L"*", bRecursive,
                  visitor);
}

DWORD CodePagePathOf(LPCWSTR szPath, LPSTR szOut, int cbOut)
{
    if (WideToCodePage(szPath, szOut, cbOut, CP_ACP) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    WCHAR szShort[PATH_CCH];
    DWORD cch = GetShortPathNameW(szPath, szShort, PATH_CCH);
    if (cch > 0 && cch < PATH_CCH && WideToCodePage(szShort, szOut, cbOut, CP_ACP) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return ERROR_NO_UNICODE_TRANSLATION;
}

BOOL FileExists(LPCWSTR szPath)
{
    DWORD dwAttr = szPath ? GetFileAttributesW(szPath) : INVALID_FILE_ATTRIBUTES;
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL FolderExists(LPCWSTR szPath)
{
    DWORD dwAttr = szPath ? GetFileAttributesW(szPath) : INVALID_FILE_ATTRIBUTES;
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTrailingBackslash(LPWSTR szPath)
{
    size_t cch = lstrlenW(szPath);
    if (cch > 0 && szPath[cch - 1] == L'\\')
        szPath[cch - 1] = L'\0';
}

void RemoveLinkAt(LPCWSTR szPath)
{
    DWORD dwAttributes = GetFileAttributesW(szPath);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        DebugTrace(L"RemoveLinkAt(%s)->%d", szPath, RemoveDirectoryW(szPath));
        return;
    }
    if (InspectEntry(szPath) == ENTRY_LINK)
        DebugTrace(L"RemoveLinkAt(%s)->%d", szPath, DeleteFileNoLink(szPath) == ERROR_SUCCESS);
}

DWORD CreateFolderOf(LPCWSTR szFile)
{
    PATHBUF szFolder;
    if (FAILED(StringCchCopyW(szFolder, PATH_CCH, szFile)))
        return ReportLastError(L"CreateDirectory", ERROR_FILENAME_EXCED_RANGE);
    if (!PathRemoveFileSpecW(szFolder) || !szFolder[0])
        return ERROR_SUCCESS;
    DWORD dwError = CreateAllDirectory(szFolder);
    return dwError == ERROR_SUCCESS ? ERROR_SUCCESS : ReportLastError(L"CreateDirectory", dwError);
}

DWORD SeekTo(HANDLE hFile, ULONGLONG ullOffset)
{
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(ullOffset);
    if (!SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN))
        return LastErrorOr(ERROR_SEEK);
    return ERROR_SUCCESS;
}

DWORD SeekToEnd(HANDLE hFile)
{
    LARGE_INTEGER li;
    li.QuadPart = 0;
    if (!SetFilePointerEx(hFile, li, nullptr, FILE_END))
        return LastErrorOr(ERROR_SEEK);
    return ERROR_SUCCESS;
}

namespace {

// Creates every missing level of folder, which ends without "\\".
DWORD CreateLevels(std::wstring& folder)
{
    DWORD dwAttributes = GetFileAttributesW(LongPathForm(folder).c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
        if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return ERROR_SUCCESS;
        // A file of that name: the folder can not exist.
        return ERROR_ALREADY_EXISTS;
    }

    size_t slash = folder.rfind(L'\\');
    if (slash != std::wstring::npos && slash != 0) {
        folder[slash] = L'\0';
        std::wstring parent(folder.c_str());
        folder[slash] = L'\\';
        DWORD dwError = CreateLevels(parent);
        if (dwError != ERROR_SUCCESS)
            return dwError;
    }
    BOOL bCreated = CreateDirectoryW(LongPathForm(folder).c_str(), nullptr);
    DWORD dwError = bCreated ? ERROR_SUCCESS : LastErrorOr(ERROR_PATH_NOT_FOUND);
    DebugTrace(L"CreateAllDirectory(%s)->%d", folder.c_str(), bCreated);
    if (bCreated)
        NoteRunFolder(folder.c_str());
    return dwError;
}

DWORD CreateFolderTree(LPCWSTR szPath, size_t cchMax)
{
    if (!szPath || !szPath[0])
        return ERROR_SUCCESS;
    size_t cch = wcslen(szPath);
    if (cch >= cchMax)
        return ERROR_FILENAME_EXCED_RANGE;
    std::wstring folder(szPath, cch);
    if (folder.back() == L'\\')
        folder.pop_back();
    if (folder.empty())
        return ERROR_INVALID_NAME;
    return CreateLevels(folder);
}

}  // namespace

DWORD CreateAllDirectory(LPCWSTR szPath)
{
    return CreateFolderTree(szPath, PATH_CCH);
}

DWORD CreateAllDirectoryLong(LPCWSTR szPath)
{
    return CreateFolderTree(szPath, LONG_PATH_CCH);
}


DWORD RemoveDirectoryTree(LPCWSTR szPath, DWORD dwFlags)
{
    PATHBUF szFolder;
    if (!szPath || !szPath[0])
        return ERROR_INVALID_NAME;
    if (FAILED(StringCchCopyW(szFolder, PATH_CCH, szPath)))
        return ERROR_FILENAME_EXCED_RANGE;
    if (!Guarded(L"RemoveDirectoryTree", szFolder, GUARD_REMOVE_FOLDER, FALSE))
        return ERROR_ACCESS_DENIED;
    RemoveTrailingBackslash(szFolder);
    DWORD dwAttributes = GetFileAttributesW(szFolder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(ERROR_PATH_NOT_FOUND);
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_DIRECTORY;
    if (IsFolderLink(dwAttributes))
        return RemoveFolderLink(szFolder) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
    if (dwFlags & FS_INCLUDE_SUBDIR) {
        CRemoveTree remover(dwFlags);
        WalkFolder(szFolder, L"*", TRUE, remover);
    }
    if (!RemoveEmptyFolder(szFolder, dwAttributes, dwFlags))
        return LastErrorOr(ERROR_DIR_NOT_EMPTY);
    return ERROR_SUCCESS;
}

DWORD RemoveFiles(LPCWSTR szPattern, DWORD dwFlags)
{
    PATHBUF szFolder;
    PATHBUF szName;
    CRemoveFiles remover(dwFlags);
    if (!Guarded(L"RemoveFiles", szPattern, GUARD_REMOVE_FILES, (dwFlags & FS_INCLUDE_SUBDIR) != 0))
        return ERROR_ACCESS_DENIED;
    if (SplitPattern(szPattern, szFolder, szName) && szName[0])
        WalkFolder(szFolder, szName, (dwFlags & FS_INCLUDE_SUBDIR) != 0, remover);
    return remover.m_dwLast;
}

DWORD SetFilesAttributes(LPCWSTR szPattern, DWORD dwAttributes, BOOL bRecursive)
{
    PATHBUF szFolder;
    PATHBUF szName;
    CSetAttributes setter(dwAttributes);
    if (!Guarded(L"SetFilesAttributes", szPattern, GUARD_SET_ATTRIBUTES, bRecursive))
        return ERROR_ACCESS_DENIED;
    if (SplitPattern(szPattern, szFolder, szName) && szName[0])
        WalkFolder(szFolder, szName, bRecursive, setter);
    return setter.m_dwLast;
}

DWORD CountFiles(LPCWSTR szPattern, BOOL bRecursive, BOOL bReset)
{
    if (bReset)
        g_dwCountFiles = 0;
    PATHBUF szFolder;
    PATHBUF szName;
    CCountFiles counter;
    if (szPattern && szPattern[0] && SplitPattern(szPattern, szFolder, szName))
        WalkFolder(szFolder, szName, bRecursive, counter);
    DebugTraceA("CountFiles()->NbFiles=%d", static_cast<int>(g_dwCountFiles));
    return g_dwCountFiles;
}

DWORD RemoveAtRestart(LPCWSTR szPath)
{
    if (!szPath || !szPath[0])
        return ERROR_INVALID_NAME;
    OSVERSIONINFOEXW osvi;
    BOOL bExtended = FALSE;
    DWORD dwError = QueryOSVersion(osvi, &bExtended);
    if (dwError != ERROR_SUCCESS) {
        DebugTraceA("ReadLockedFiles()->OSVERSIONINFOEX failed");
        return dwError;
    }
    // The older family's WinInit.ini has no counterpart on the systems we
    // target: only the NT family's delayed move is used.
    if (osvi.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return ERROR_NOT_SUPPORTED;
    BOOL bMoved = MoveFileExW(szPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    dwError = bMoved ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
    DebugTrace(L"MoveFileEx(%s, %s)=>%d", szPath, L"", bMoved);
    return dwError;
}

BOOL IsSameFile(HANDLE hFile, LPCWSTR szPath)
{
    if (!szPath || !*szPath)
        return FALSE;
    // No access asked: this opens even a file that hFile holds without
    // sharing writes.
    CFileHandle hOther(CreateFileW(szPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION a, b;
    if (!hOther.IsValid() || !GetFileInformationByHandle(hFile, &a) ||
        !GetFileInformationByHandle(hOther.Get(), &b))
        return FALSE;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
