#include "common/runfiles.h"
#include "common/safefile.h"
#include "common/boundedtext.h"
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "common/capacity.h"
#include "common/longpath.h"
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
        m_kept.clear();
        LeaveCriticalSection(&m_cs);
    }

    std::set<std::wstring> m_files;
    std::set<std::wstring> m_folders;
    std::wstring m_kept;  // KeepFilesOf

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
    DWORD dwError = DeleteFileNoLink(szPath);
    SetLastError(dwError);
    return dwError == ERROR_SUCCESS;
}

}  // namespace

void UndoRunFolder(LPCWSTR szFolder)
{
    if (!szFolder || !szFolder[0])
        return;
    RemoveRunFiles(szFolder);
    std::wstring folder = Key(szFolder);
    // The folder, then each parent the run made on the way to it.
    while (!folder.empty() && IsRunFolder(folder.c_str())) {
        BOOL bRemoved = RemoveDirectoryW(LongPathForm(folder).c_str());
        DebugTrace(L"UndoRunFolder()->%s removed (%d)", folder.c_str(), bRemoved);
        if (!bRemoved)
            break;
        size_t slash = folder.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash < 3)
            break;
        folder.resize(slash);
    }
}

void KeepFilesOf(LPCWSTR szFolder)
{
    RunFiles().m_kept = Key(szFolder);
    DebugTrace(L"KeepFilesOf(%s)->the files it holds are not replaced", szFolder);
}

DWORD MayReplace(LPCWSTR szPath)
{
    const std::wstring& kept = RunFiles().m_kept;
    if (kept.empty())
        return ERROR_SUCCESS;
    std::wstring key = Key(szPath);
    if (!IsBelow(key, kept))
        return ERROR_SUCCESS;
    DWORD dwAttributes = GetFileAttributesW(LongPathForm(szPath).c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        IsRunFile(szPath))
        return ERROR_SUCCESS;
    DebugTrace(L"MayReplace(%s)->Refused: a file the run did not make, in a folder it empties at "
               L"the end", szPath);
    return ERROR_FILE_EXISTS;
}

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
