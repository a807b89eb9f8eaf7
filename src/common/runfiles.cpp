#include "common/runfiles.h"
#include <strsafe.h>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/trace.h"

namespace {

// The absolute, upper-cased form every path is kept and looked up under.
std::wstring Key(LPCWSTR szPath)
{
    if (!szPath || !szPath[0])
        return L"";
    WCHAR szFull[PATH_CCH * 2];
    DWORD cch = GetFullPathNameW(szPath, ARRAYSIZE(szFull), szFull, nullptr);
    if (!cch)
        return L"";
    std::wstring key;
    if (cch < ARRAYSIZE(szFull)) {
        key.assign(szFull, cch);
    } else {
        // Members of an archive may lie deeper than MAX_PATH: cch is the
        // size the whole path needs.
        if (cch > LONG_PATH_CCH)
            return L"";
        key.assign(cch, L'\0');
        DWORD cchLong = GetFullPathNameW(szPath, cch, &key[0], nullptr);
        if (!cchLong || cchLong >= cch)
            return L"";
        key.resize(cchLong);
    }
    // One key for both spellings of a long path.
    if (key.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        key.replace(0, 8, L"\\\\");
    else if (key.compare(0, 4, L"\\\\?\\") == 0)
        key.erase(0, 4);
    if (key.size() > 3 && key.back() == L'\\')
        key.pop_back();
    CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

bool IsBelow(const std::wstring& key, const std::wstring& folderKey)
{
    return key.size() > folderKey.size() && key.compare(0, folderKey.size(), folderKey) == 0 &&
           (key[folderKey.size()] == L'\\' || folderKey.back() == L'\\');
}

class CRunFiles {
public:
    CRunFiles() { InitializeCriticalSection(&m_cs); }
    ~CRunFiles() { DeleteCriticalSection(&m_cs); }

    void Note(std::set<std::wstring>& entries, LPCWSTR szPath)
    {
        std::wstring key = Key(szPath);
        if (key.empty())
            return;
        EnterCriticalSection(&m_cs);
        entries.insert(key);
        LeaveCriticalSection(&m_cs);
    }

    BOOL Has(const std::set<std::wstring>& entries, LPCWSTR szPath)
    {
        std::wstring key = Key(szPath);
        EnterCriticalSection(&m_cs);
        BOOL bHas = !key.empty() && entries.count(key) != 0;
        LeaveCriticalSection(&m_cs);
        return bHas;
    }

    std::vector<std::wstring> Below(const std::set<std::wstring>& entries, LPCWSTR szFolder)
    {
        std::vector<std::wstring> out;
        std::wstring folder = Key(szFolder);
        if (folder.empty())
            return out;
        EnterCriticalSection(&m_cs);
        for (const std::wstring& key : entries)
            if (IsBelow(key, folder))
                out.push_back(key);
        LeaveCriticalSection(&m_cs);
        return out;
    }

    void Forget()
    {
        EnterCriticalSection(&m_cs);
        m_files.clear();
        m_folders.clear();
        LeaveCriticalSection(&m_cs);
    }

    std::set<std::wstring> m_files;
    std::set<std::wstring> m_folders;

private:
    CRITICAL_SECTION m_cs;
};

CRunFiles& RunFiles()
{
    static CRunFiles s_runFiles;
    return s_runFiles;
}

BOOL DeleteWritable(LPCWSTR szPath)
{
    std::wstring path = LongPathForm(szPath);
    DWORD dwAttributes = GetFileAttributesW(path.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), dwAttributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path.c_str());
}

// Removes what the run did not put into a folder it owns.
class CForeignRemover : public IFolderVisitor {
public:
    BOOL OnFile(LPCWSTR szPath, LPCWSTR, const WIN32_FIND_DATAW& fd) override
    {
        // A link to a file is never ours: writing through it would reach
        // the file it points to.
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsRunFile(szPath))
            return TRUE;
        BOOL bRemoved = DeleteWritable(szPath);
        Keep(bRemoved);
        DebugTrace(L"RemoveForeignFiles()->%s removed (%d)", szPath, bRemoved);
        return TRUE;
    }
    BOOL OnFolderLink(LPCWSTR szPath, const WIN32_FIND_DATAW&) override
    {
        BOOL bRemoved = RemoveDirectoryW(LongPathForm(szPath).c_str());
        Keep(bRemoved);
        DebugTrace(L"RemoveForeignFiles()->link %s removed (%d)", szPath, bRemoved);
        return TRUE;
    }
    BOOL OnFolderDone(LPCWSTR szPath, const WIN32_FIND_DATAW&) override
    {
        if (!IsRunFolder(szPath) && RemoveDirectoryW(LongPathForm(szPath).c_str()))
            DebugTrace(L"RemoveForeignFiles()->folder %s removed", szPath);
        return TRUE;
    }
    // The extraction writes members deeper than MAX_PATH; they are looked at here too.
    BOOL TakesLongPaths() const override { return TRUE; }
    void OnTooLong(LPCWSTR szFolder, LPCWSTR szName) override
    {
        DebugTrace(L"RemoveForeignFiles()->%s\\%s too long", szFolder, szName);
        if (!m_dwError)
            m_dwError = ERROR_FILENAME_EXCED_RANGE;
    }
    DWORD m_dwError = ERROR_SUCCESS;

private:
    void Keep(BOOL bRemoved)
    {
        if (!bRemoved && !m_dwError) {
            DWORD dwError = GetLastError();
            m_dwError = dwError ? dwError : ERROR_ACCESS_DENIED;
        }
    }
};

struct ENTRYSTAMP {
    ULONGLONG ullSize;
    FILETIME ftWrite;
};

}  // namespace

void NoteRunFolder(LPCWSTR szFolder)
{
    RunFiles().Note(RunFiles().m_folders, szFolder);
}

void NoteRunFile(LPCWSTR szFile)
{
    RunFiles().Note(RunFiles().m_files, szFile);
}

BOOL IsRunFolder(LPCWSTR szFolder)
{
    return RunFiles().Has(RunFiles().m_folders, szFolder);
}

BOOL IsRunFile(LPCWSTR szFile)
{
    return RunFiles().Has(RunFiles().m_files, szFile);
}

void ForgetRunFiles()
{
    RunFiles().Forget();
}

BOOL IsOwnLibrary(LPCWSTR szPath, DWORD* pdwError)
{
    *pdwError = ERROR_SUCCESS;
    if (IsRunFile(szPath))
        return TRUE;
    if (GetFileAttributesW(szPath) == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    BOOL bRemoved = DeleteWritable(szPath);
    if (!bRemoved) {
        DWORD dwError = GetLastError();
        *pdwError = dwError ? dwError : ERROR_ACCESS_DENIED;
    }
    DebugTrace(L"IsOwnLibrary(%s)->Not written by this run, removed (%d)", szPath, bRemoved);
    return FALSE;
}

void RemoveRunFiles(LPCWSTR szFolder)
{
    for (const std::wstring& file : RunFiles().Below(RunFiles().m_files, szFolder)) {
        if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        BOOL bDeleted = DeleteWritable(file.c_str());
        DebugTrace(L"DeleteFile(%s)->%d", file.c_str(), bDeleted);
    }
    std::vector<std::wstring> folders = RunFiles().Below(RunFiles().m_folders, szFolder);
    // The longest paths first: a folder goes after its sub-folders.
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) {
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        BOOL bRemoved = RemoveDirectoryW(folder.c_str());
        DebugTrace(L"RemoveDirectory(%s)->%d", folder.c_str(), bRemoved);
    }
}

void RemoveEmptyRunFolders(LPCWSTR szFolder)
{
    std::wstring folder = szFolder ? szFolder : L"";
    while (!folder.empty() && IsRunFolder(folder.c_str()) && RemoveDirectoryW(folder.c_str())) {
        DebugTrace(L"RemoveDirectory(%s)->1", folder.c_str());
        size_t slash = folder.rfind(L'\\');
        if (slash == std::wstring::npos)
            break;
        folder.resize(slash);
    }
}

DWORD RemoveForeignFiles(LPCWSTR szFolder)
{
    CForeignRemover remover;
    if (FolderExists(szFolder))
        WalkFolder(szFolder, L"*", TRUE, remover);
    return remover.m_dwError;
}

struct CFolderSnapshot::Entries {
    std::wstring folder;
    std::map<std::wstring, ENTRYSTAMP> files;
    std::set<std::wstring> folders;
};

namespace {

class CSnapshotTaker : public IFolderVisitor {
public:
    CSnapshotTaker(std::map<std::wstring, ENTRYSTAMP>& files, std::set<std::wstring>& folders)
        : m_files(files), m_folders(folders)
    {
    }
    BOOL OnFile(LPCWSTR szPath, LPCWSTR, const WIN32_FIND_DATAW& fd) override
    {
        ENTRYSTAMP stamp;
        stamp.ullSize = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        stamp.ftWrite = fd.ftLastWriteTime;
        m_files[Key(szPath)] = stamp;
        return TRUE;
    }
    BOOL OnFolderDone(LPCWSTR szPath, const WIN32_FIND_DATAW&) override
    {
        m_folders.insert(Key(szPath));
        return TRUE;
    }
    std::map<std::wstring, ENTRYSTAMP>& m_files;
    std::set<std::wstring>& m_folders;
};

}  // namespace

CFolderSnapshot::CFolderSnapshot(LPCWSTR szFolder) : m_pEntries(nullptr)
{
    m_pEntries = new Entries;
    m_pEntries->folder = szFolder ? szFolder : L"";
    CSnapshotTaker taker(m_pEntries->files, m_pEntries->folders);
    if (FolderExists(szFolder))
        WalkFolder(szFolder, L"*", TRUE, taker);
}

CFolderSnapshot::~CFolderSnapshot()
{
    delete m_pEntries;
}

void CFolderSnapshot::NoteChanges()
{
    if (!m_pEntries)
        return;
    std::map<std::wstring, ENTRYSTAMP> files;
    std::set<std::wstring> folders;
    CSnapshotTaker taker(files, folders);
    WalkFolder(m_pEntries->folder.c_str(), L"*", TRUE, taker);
    for (const auto& entry : files) {
        auto before = m_pEntries->files.find(entry.first);
        if (before == m_pEntries->files.end() || before->second.ullSize != entry.second.ullSize ||
            CompareFileTime(&before->second.ftWrite, &entry.second.ftWrite) != 0)
            NoteRunFile(entry.first.c_str());
    }
    for (const std::wstring& folder : folders)
        if (!m_pEntries->folders.count(folder))
            NoteRunFolder(folder.c_str());
}
