#include "common/foreignfiles.h"
#include "common/safefile.h"
#include <map>
#include <set>
#include <string>
#include "common/filesys.h"
#include "common/runfiles.h"
#include "common/trace.h"

namespace {

BOOL DeleteWritable(LPCWSTR szPath)
{
    DWORD dwError = DeleteFileNoLink(szPath);
    SetLastError(dwError);
    return dwError == ERROR_SUCCESS;
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
        m_files[szPath] = stamp;
        return TRUE;
    }
    BOOL OnFolderDone(LPCWSTR szPath, const WIN32_FIND_DATAW&) override
    {
        m_folders.insert(szPath);
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
