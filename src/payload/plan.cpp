#include "payload/plan.h"
#include "common/handles.h"
#include "common/errors.h"
#include "common/filecopy.h"
#include "common/safefile.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <memory>
#include <new>
#include "common/cancel.h"
#include "common/checkedmath.h"
#include "common/trace.h"
#include "state/languages.h"
#include "state/runcontext.h"
#include "state/state.h"
#include "net/connectivity.h"
#include "net/download.h"
#include "net/url.h"
#include "payload/archive.h"
#include "payload/archiveutil.h"
#include "payload/itemcheck.h"
#include "payload/piececopy.h"
#include "payload/trailer.h"
#include "common/progress.h"
#include "res/resource.h"


namespace {

const DWORD PHASE_PAUSE_MS = 1000;
const DWORD PHASE_SCALE = 95;
const DWORD MAIN_BAR_END = 100;
const DWORD ONE_BAR_TABLE_END = 3;
const DWORD TWO_BARS_TABLE_END = 1;
// Phase weights: a download counts 1.7 times its size, an unpacking 1.4
// times, as tenths so that the arithmetic stays in 64-bit integers.
const ULONGLONG DOWNLOAD_WEIGHT_TENTHS = 17;
const ULONGLONG UNPACK_WEIGHT_TENTHS = 14;
const int SCHEME_FILE = 5;  // WinINet's file scheme: no connection needed
const DWORD ERROR_CODE_NO_CONNECTION = 1230;  // web files needed, no Internet
const DWORD ERROR_CODE_DOWNLOAD_FAILED = 1236;  // connection lost during a download

typedef std::vector<DATAFILEINFO> FILELIST;

// A localized string of the interface module in the chosen language;
// empty when it has none.
BOOL LoadPlanString(UINT uID, LPWSTR szText, int cchText)
{
    HINSTANCE hModule = hInstRes ? hInstRes : GetModuleHandleW(nullptr);
    return LoadStringEx(hModule, uID, szText, cchText, 0);
}

// The step text beside the bar: the phase that runs. With one bar it
// names the phase while the bar shows the whole run.
void SetPhaseText(UINT uStringID)
{
    WCHAR szText[TITLE_CCH];
    if (LoadPlanString(uStringID, szText, TITLE_CCH))
        Progress().SetStepText(szText);
}

void NoteFailure(EXTRACTFAILURE& failure, DWORD dwStep, LPCWSTR szPath)
{
    failure.dwStep = dwStep;
    // A path of the run, shown in the failure.
    (void)StringCchCopyW(failure.szPath, PATH_CCH, szPath ? szPath : L"");
}

DATAFILEINFO NewEntry()
{
    DATAFILEINFO entry;
    ZeroMemory(&entry, sizeof(entry));
    return entry;
}

BOOL IsExistingFile(LPCWSTR szPath)
{
    DWORD dwAttributes = GetFileAttributesW(szPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Everything the table walk collects.
struct PLAN {
    const RUNCONTEXT* pCtx;  // the configuration, and the scratch folder's libraries
    WCHAR szLauncherDir[PATH_CCH];
    WCHAR szLauncherName[PATH_CCH];
    LPCWSTR pszTgdFolder;
    LPCWSTR pszDataFolder;
    BOOL bForceDownload;
    BOOL bResume;
    BOOL bTwoBars;
    FILELIST* pDataFiles;
    FILELIST vFilesToDownload;
    FILELIST vFilesToCopy;
    FILELIST vFilesToExtract;
    FILELIST vFilesToUncompress;
    ULONGLONG TotDataSize;
    ULONGLONG TotSizeFilesToDownload;
    ULONGLONG TotSizeFilesToCopy;
    ULONGLONG TotSizeFilesToExtract;
    ULONGLONG TotSizeFilesToUncompress;
    DWORD dwTableError;  // a record the plan refuses to act on
    DWORD dwRecords;     // the table's record count
    BOOL bOutOfMemory;   // a list could not grow
    EXTRACTFAILURE* pFailure;  // where the extraction failed (never null)
};

const size_t FIRST_LIST_CAPACITY = 16;

// The lists grow without exceptions: a growth the heap cannot give fails the
// plan as any unexpected fault does.
BOOL AppendEntry(PLAN& plan, FILELIST& list, const DATAFILEINFO& entry)
{
    if (list.size() == list.capacity()) {
        size_t cNew = list.empty() ? FIRST_LIST_CAPACITY : list.size() * 2;
        void* pProbe = cNew <= list.max_size()
                           ? operator new(cNew * sizeof(DATAFILEINFO), std::nothrow)
                           : nullptr;
        if (!pProbe) {
            if (!plan.bOutOfMemory)
                DebugTrace(L"ReadDataStruct()->Catch Error!");
            plan.bOutOfMemory = TRUE;
            plan.dwTableError = ERROR_OUTOFMEMORY;
            return FALSE;
        }
        operator delete(pProbe);
        list.reserve(cNew);
    }
    list.push_back(entry);
    return TRUE;
}

// A name of the table that becomes part of a path must stay below its folder.
BOOL JoinTablePath(PLAN& plan, LPWSTR szOut, LPCWSTR szFolder, LPCWSTR szName)
{
    if (IsUnsafeEntryName(szName) || !JoinEntryPath(szOut, PATH_CCH, szFolder, szName)) {
        DebugTrace(L"ReadDataStruct()->Name '%s' refused", szName);
        if (!plan.dwTableError)
            plan.dwTableError = ERROR_INVALID_DATA;
        return FALSE;
    }
    return TRUE;
}

void SortRecord(PLAN& plan, const PAYLOADRECORD& record, DWORD dwIndex)
{
    // A package that carries hashes has one for every item it embeds.
    if ((record.TypeOfFile & TF_EMBEDDED) && HasItemHashes() &&
        !FindItemHash(ITEMHASH_KIND_RECORD, dwIndex)) {
        DebugTrace(L"ReadDataStruct()->Record %u has no hash", dwIndex);
        if (!plan.dwTableError)
            plan.dwTableError = ERROR_INVALID_DATA;
        return;
    }
    if (!IsPackedRecord(dwIndex, record.TypeOfFile, record.FileSize, record.szFile, record.szFileOut)) {
        DebugTrace(L"ReadDataStruct()->Record %u is not the one packed (name, type or size changed)",
                   dwIndex);
        if (!plan.dwTableError)
            plan.dwTableError = ERROR_INVALID_DATA;
        return;
    }
    DATAFILEINFO info = NewEntry();
    info.dwRecord = dwIndex;
    if (!RecordNameToWide(record.szFile, record.TypeOfFile, info.szFile) ||
        !RecordNameToWide(record.szFileOut, record.TypeOfFile, info.szTgdFile)) {
        DebugTrace(L"ReadDataStruct()->Names of a record refused: not UTF-8");
        if (!plan.dwTableError)
            plan.dwTableError = ERROR_INVALID_DATA;
        return;
    }
    info.FileSize = record.FileSize;
    info.DataOffSet = record.DataOffSet;
    info.TypeOfFile = record.TypeOfFile;
    if (!AppendEntry(plan, *plan.pDataFiles, info))
        return;
    DebugTrace(L"ReadDataStruct()->vDataFiles[i].szFile=%s", info.szFile);
    DebugTrace(L"ReadDataStruct()->vDataFiles[i].szFileOut=%s", info.szTgdFile);
    BYTE byType = record.TypeOfFile;

    if (byType & TF_EMBEDDED) {
        DATAFILEINFO extract = NewEntry();
        extract.dwRecord = dwIndex;
        extract.DataOffSet = info.DataOffSet;
        extract.FileSize = info.FileSize;
        if (byType & TF_STORED) {
            if (!JoinTablePath(plan, extract.szTgdFile, plan.pszTgdFolder, info.szFile))
                return;
            if (!AppendEntry(plan, plan.vFilesToExtract, extract))
                return;
            plan.TotSizeFilesToExtract = SatAdd(plan.TotSizeFilesToExtract, info.FileSize);
            plan.TotDataSize = SatAdd(plan.TotDataSize, info.FileSize);
            DebugTrace(L"ReadDataStruct()->vFilesToExtract[dwCptFtE-1].szTgdFile=%s",
                       extract.szTgdFile);
            return;
        }
        if (!JoinTablePath(plan, extract.szTgdFile, plan.pszDataFolder, info.szFile))
            return;
        if (!AppendEntry(plan, plan.vFilesToExtract, extract))
            return;
        plan.TotSizeFilesToExtract = SatAdd(plan.TotSizeFilesToExtract, info.FileSize);
        plan.TotDataSize = SatAdd(plan.TotDataSize, info.FileSize);
        DATAFILEINFO unpack = NewEntry();
        // PATH_CCH paths into PATH_CCH fields.
        (void)StringCchCopyW(unpack.szFile, PATH_CCH, extract.szTgdFile);
        (void)StringCchCopyW(unpack.szTgdFile, PATH_CCH, plan.pszTgdFolder);
        unpack.FileSize = info.FileSize;
        unpack.bDeleteSrc = !plan.bResume;
        if (!AppendEntry(plan, plan.vFilesToUncompress, unpack))
            return;
        plan.TotSizeFilesToUncompress = SatAdd(plan.TotSizeFilesToUncompress, info.FileSize);
        plan.TotDataSize = SatAdd(plan.TotDataSize, info.FileSize);
        DebugTrace(L"ReadDataStruct()->vFilesToExtract[dwCptFtE-1].szTgdFile=%s",
                   extract.szTgdFile);
        DebugTrace(L"ReadDataStruct()->vFilesToUncompress[dwCptFtU-1].szSrcFile=%s",
                   unpack.szFile);
        DebugTrace(L"ReadDataStruct()->vFilesToUncompress[dwCptFtU-1].szTgdFile=%s",
                   unpack.szTgdFile);
        return;
    }

    if (!(byType & TF_EXTERNAL))
        return;  // listed, no work

    // Beside the launcher under its own name, else as the launcher's name
    // with the output name's extension (setup.exe + x.002 -> setup.002).
    WCHAR szSource[PATH_CCH];
    if (!JoinTablePath(plan, szSource, plan.szLauncherDir, info.szTgdFile))
        return;
    if (!IsExistingFile(szSource)) {
        WCHAR szAlternate[PATH_CCH];
        if (SUCCEEDED(StringCchCopyW(szAlternate, PATH_CCH, plan.szLauncherDir)) &&
            PathAppendW(szAlternate, plan.szLauncherName) &&
            PathRenameExtensionW(szAlternate, PathFindExtensionW(info.szTgdFile)))
            (void)StringCchCopyW(szSource, PATH_CCH, szAlternate);
    }
    WCHAR szTarget[PATH_CCH];
    if (byType & TF_STORED) {
        if (!JoinTablePath(plan, szTarget, plan.pszTgdFolder, info.szTgdFile))
            return;
    } else if (!JoinTablePath(plan, szTarget, plan.pszDataFolder, info.szFile)) {
        return;
    }

    DATAFILEINFO fetch = NewEntry();
    fetch.dwRecord = dwIndex;
    fetch.FileSize = info.FileSize;
    (void)StringCchCopyW(fetch.szTgdFile, PATH_CCH, szTarget);
    if ((byType & TF_WEB) && (!IsExistingFile(szSource) || plan.bForceDownload)) {
        if (!JoinWebUrl(fetch.szFile, PATH_CCH, plan.pCtx->project.szWebDownloadUrl,
                        info.szTgdFile)) {
            DebugTrace(L"ReadDataStruct()->URL of '%s' too long", info.szTgdFile);
            if (!plan.dwTableError)
                plan.dwTableError = ERROR_FILENAME_EXCED_RANGE;
            return;
        }
        if (!AppendEntry(plan, plan.vFilesToDownload, fetch))
            return;
        plan.TotSizeFilesToDownload = SatAdd(plan.TotSizeFilesToDownload, info.FileSize);
    } else {
        (void)StringCchCopyW(fetch.szFile, PATH_CCH, szSource);
        if (!AppendEntry(plan, plan.vFilesToCopy, fetch))
            return;
        plan.TotSizeFilesToCopy = SatAdd(plan.TotSizeFilesToCopy, info.FileSize);
    }
    plan.TotDataSize = SatAdd(plan.TotDataSize, info.FileSize);

    if (!(byType & TF_STORED)) {
        DATAFILEINFO unpack = NewEntry();
        (void)StringCchCopyW(unpack.szFile, PATH_CCH, szTarget);
        (void)StringCchCopyW(unpack.szTgdFile, PATH_CCH, plan.pszTgdFolder);
        unpack.FileSize = info.FileSize;
        unpack.bDeleteSrc = FALSE;
        if (!AppendEntry(plan, plan.vFilesToUncompress, unpack))
            return;
        plan.TotSizeFilesToUncompress = SatAdd(plan.TotSizeFilesToUncompress, info.FileSize);
        plan.TotDataSize = SatAdd(plan.TotDataSize, info.FileSize);
    }
}

class CPlanTableSink : public IPayloadTableSink {
public:
    explicit CPlanTableSink(PLAN& plan) : m_plan(plan) {}
    void OnTableStart(DWORD dwNbFiles) override
    {
        m_plan.dwRecords = dwNbFiles;
        if (m_plan.bTwoBars) {
            Progress().DefineStep(0, 100, dwNbFiles);
            Progress().DefineMainBarStep(0, TWO_BARS_TABLE_END);
        } else {
            Progress().DefineStep(0, ONE_BAR_TABLE_END, dwNbFiles);
        }
        // The step bar fills with the table and stays full through the
        // pause before the first phase: say what it stands for.
        SetPhaseText(IDS_PREPARING);
    }
    void OnRecord(DWORD dwIndex, const PAYLOADRECORD& record) override
    {
        SortRecord(m_plan, record, dwIndex);
        Progress().NewStep(dwIndex + 1);
    }
    BOOL IsCancelled() override { return ::IsCancelled(); }

private:
    PLAN& m_plan;
};

// Free bytes for the caller on the volume of szFolder; the folder may not
// exist yet, so the nearest existing parent answers for it.
BOOL QueryFreeBytes(LPCWSTR szFolder, ULONGLONG* pullFree)
{
    WCHAR szProbe[PATH_CCH];
    if (FAILED(StringCchCopyW(szProbe, PATH_CCH, szFolder)))
        return FALSE;
    for (;;) {
        ULARGE_INTEGER uliFree;
        if (szProbe[0] && GetDiskFreeSpaceExW(szProbe, &uliFree, nullptr, nullptr)) {
            *pullFree = uliFree.QuadPart;
            return TRUE;
        }
        if (!szProbe[0] || PathIsRootW(szProbe) || !PathRemoveFileSpecW(szProbe))
            return FALSE;
    }
}

// The network side of the plan: the connection check and the transfers.
BOOL CheckConnection(LPCWSTR szUrl)
{
    WCHAR szHostName[URL_HOST_CCH] = L"";
    int iScheme = SPLITURL_SCHEME_UNKNOWN;
    SplitURL(szUrl, szHostName, nullptr, nullptr, nullptr, &iScheme, nullptr);
    WCHAR szLogUrl[PATH_CCH];
    MaskUrlPassword(szUrl, szLogUrl, ARRAYSIZE(szLogUrl));
    DebugTrace(L"ReadDataStruct()->Url=%s, HostName=%s Scheme=%d", szLogUrl, szHostName, iScheme);
    if (iScheme == SCHEME_FILE)
        return TRUE;
    return (GetRunConnectionState(szHostName) & CONNECTION_ACTIVED) != 0;
}

// A file's check against its record's hash, by reading it (a downloaded
// file: its bytes came in pieces, maybe over two runs).
DWORD CheckFile(const DATAFILEINFO& entry)
{
    CItemCheck check(ITEMHASH_KIND_RECORD, entry.dwRecord);
    SHA256CONTEXT* pHash = check.Context();
    if (!pHash)
        return ERROR_SUCCESS;
    CFileHandle hFile(CreateFileW(entry.szTgdFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile.IsValid())
        return ReportLastError(L"CreateFile", GetLastError());
    std::vector<BYTE> buffer(COPY_BLOCK_SIZE);
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile.Get(), buffer.data(), COPY_BLOCK_SIZE, &cbRead, nullptr))
            return ReportLastError(L"ReadFile", GetLastError());
        if (cbRead == 0)
            break;
        Sha256Update(*pHash, buffer.data(), cbRead);
    }
    return check.Result(entry.szTgdFile);
}

DWORD DownloadEntry(const DATAFILEINFO& entry, BOOL bResume)
{
    // The server's file of another size than the table's is as little the
    // package's as one whose bytes differ: one code for both.
    static_assert(DOWNLOAD_WRONG_SIZE == ERROR_ITEM_HASH, "one code for a wrong web file");
    DWORD dwResult = DownloadFile(entry.szFile, L"", L"", entry.szTgdFile, bResume, entry.FileSize);
    // A part kept from an earlier run stays when the server's file is not
    // the one expected: the next run may find the right one there.
    if (dwResult != 0)
        return dwResult;
    dwResult = CheckFile(entry);
    if (dwResult == ERROR_ITEM_HASH && bResume) {
        // A kept part may be of another version of the file: once more, whole.
        DebugTrace(L"ReadDataStruct()->%s fetched again from its first byte", entry.szTgdFile);
        (void)DeleteFileNoLink(entry.szTgdFile);  // what is there is not the package's
        dwResult = DownloadFile(entry.szFile, L"", L"", entry.szTgdFile, FALSE, entry.FileSize);
        if (dwResult == 0)
            dwResult = CheckFile(entry);
    }
    if (dwResult == ERROR_ITEM_HASH)
        (void)DeleteFileNoLink(entry.szTgdFile);  // nothing uses a wrong file
    return dwResult;
}

// Gives a phase its part of the bars: with two bars a fresh step bar and
// a slice of the main bar, with one bar the next window of the step bar.
void SetUpPhase(const PLAN& plan, ULONGLONG ullWeight, DWORD dwStatus, UINT uStringID)
{
    if (plan.bTwoBars) {
        Progress().DefineStep(0, 100, ullWeight);
        Progress().GoToMinStep();
        Progress().DefineMainBarStep(Progress().GetMaxMainBarStep(), dwStatus);
    } else {
        Progress().DefineStep(Progress().GetMaxBarStep(), dwStatus, ullWeight);
    }
    SetPhaseText(uStringID);
}

DWORD CurrentBase(const PLAN& plan)
{
    return plan.bTwoBars ? Progress().GetMaxMainBarStep() : Progress().GetMaxBarStep();
}

DWORD RunDownloads(PLAN& plan, ULONGLONG ullTotSizeDownload, ULONGLONG ullTotSize)
{
    DWORD dwResult = 0;
    Progress().SetBytesDone(0);
    if (!plan.vFilesToDownload.empty()) {
        DWORD dwStatus = PhaseStatus(ullTotSizeDownload, ullTotSize, CurrentBase(plan));
        DebugTrace(L"ReadDataStruct()->Status1=%u", dwStatus);
        SetUpPhase(plan, ullTotSizeDownload, dwStatus, IDS_DOWNLOADING);
        for (const DATAFILEINFO& entry : plan.vFilesToDownload) {
            if (IsCancelled())
                break;
            DWORD dwEntry = DownloadEntry(entry, plan.bResume);
            if (dwEntry != 0) {
                // What a deployment tool can act on keeps its code: a file the
                // server does not have (2), a server that refuses (5) or fails
                // (12152), a redirect loop (12156), a wrong file (323).
                bool bOwnCode = dwEntry == ERROR_ITEM_HASH || dwEntry == ERROR_FILE_NOT_FOUND ||
                                dwEntry == ERROR_ACCESS_DENIED || dwEntry == DOWNLOAD_SERVER_ERROR ||
                                dwEntry == DOWNLOAD_TOO_MANY_REDIRECTS || dwEntry == ERROR_OUTOFMEMORY ||
                                dwEntry == ERROR_DISK_FULL;
                dwResult = bOwnCode ? dwEntry : ERROR_CODE_DOWNLOAD_FAILED;
                NoteFailure(*plan.pFailure, EXTRACT_STEP_DOWNLOAD, entry.szTgdFile);
                break;
            }
        }
        if (dwResult == 0)
            Progress().GoToMaxStep(PHASE_PAUSE_MS);
    }
    if (dwResult == 0)
        Progress().GoToMaxStep(PHASE_PAUSE_MS);
    return dwResult;
}

DWORD RunCopies(PLAN& plan, ULONGLONG ullTotSize)
{
    DWORD dwResult = 0;
    Progress().SetBytesDone(0);
    if (plan.vFilesToCopy.empty())
        return 0;
    DWORD dwStatus = PhaseStatus(plan.TotSizeFilesToCopy, ullTotSize, CurrentBase(plan));
    DebugTrace(L"ReadDataStruct()->Status2=%u", dwStatus);
    SetUpPhase(plan, plan.TotSizeFilesToCopy, dwStatus, IDS_COPYING);
    DWORD dwFlags = XCOPY_CREATEDIR | (plan.bResume ? static_cast<DWORD>(XCOPY_RESUME) : 0u);
    DWORD dwCountdown = static_cast<DWORD>(plan.vFilesToCopy.size());
    for (const DATAFILEINFO& entry : plan.vFilesToCopy) {
        if (IsCancelled())
            break;
        Progress().GetNewStep(plan.bTwoBars ? static_cast<DWORD>(100) : dwStatus, dwCountdown, entry.FileSize);
        CItemCheck check(ITEMHASH_KIND_RECORD, entry.dwRecord);
        dwResult = XCopyFile(entry.szFile, entry.szTgdFile, dwFlags, check.Context());
        DebugTrace(L"ReadDataStruct()->XCopyFile(%s , %s)->%d", entry.szFile, entry.szTgdFile,
                   dwResult);
        if (dwResult == 0 && (dwResult = check.Result(entry.szFile)) != 0)
            (void)DeleteFileNoLink(entry.szTgdFile);  // nothing uses a wrong file
        --dwCountdown;
        if (dwResult != 0) {
            NoteFailure(*plan.pFailure, EXTRACT_STEP_COPY, entry.szTgdFile);
            return dwResult;
        }
    }
    if (plan.bTwoBars)
        Progress().GoToMaxBar(PHASE_PAUSE_MS);
    else
        Progress().GoToMaxStep(PHASE_PAUSE_MS);
    return 0;
}

DWORD RunExtractions(PLAN& plan, HANDLE hFile, ULONGLONG ullTotSize)
{
    Progress().SetBytesDone(0);
    if (plan.vFilesToExtract.empty())
        return 0;
    if (plan.bTwoBars)
        DebugTrace(L"ReadDataStruct()->MaxMainBarStep=%u TotSizeFilesToExtract=%I64u "
                   L"TotSize=%I64u",
                   Progress().GetMaxMainBarStep(), plan.TotSizeFilesToExtract, ullTotSize);
    DWORD dwStatus = PhaseStatus(plan.TotSizeFilesToExtract, ullTotSize, CurrentBase(plan));
    DebugTrace(L"ReadDataStruct()->Status3=%u", dwStatus);
    SetUpPhase(plan, plan.TotSizeFilesToExtract, dwStatus, IDS_EXTRACTING);
    for (const DATAFILEINFO& entry : plan.vFilesToExtract) {
        if (IsCancelled())
            break;
        CItemCheck check(ITEMHASH_KIND_RECORD, entry.dwRecord);
        DWORD dwResult = ExtractPieceOfFile(hFile, nullptr, entry.DataOffSet, entry.FileSize,
                                            entry.szTgdFile, TRUE, plan.bResume, check.Context());
        DebugTrace(L"ReadDataStruct()->ExtractPieceOfFile(%d , %I64u, %I64u, %s)->%d",
                   static_cast<int>(reinterpret_cast<INT_PTR>(hFile)), entry.DataOffSet,
                   entry.FileSize, entry.szTgdFile, dwResult);
        if (dwResult == 0 && !IsCancelled() && (dwResult = check.Result(entry.szTgdFile)) != 0)
            (void)DeleteFileNoLink(entry.szTgdFile);  // nothing uses a wrong file
        if (dwResult != 0) {
            NoteFailure(*plan.pFailure, EXTRACT_STEP_EXTRACT, entry.szTgdFile);
            return dwResult;
        }
    }
    Progress().GoToMaxStep(PHASE_PAUSE_MS);
    return 0;
}

DWORD RunUnpacking(PLAN& plan, ULONGLONG ullTotSizeComp, ULONGLONG ullTotSize)
{
    Progress().SetBytesDone(0);
    if (plan.vFilesToUncompress.empty())
        return 0;
    DWORD dwStatus = PhaseStatus(ullTotSizeComp, ullTotSize, CurrentBase(plan));
    DebugTrace(L"ReadDataStruct()->Status4=%u", dwStatus);
    SetUpPhase(plan, ullTotSizeComp, dwStatus, IDS_UNCOMPRESSING);
    // Last file first.
    for (size_t n = plan.vFilesToUncompress.size(); n-- > 0;) {
        if (IsCancelled())
            break;
        const DATAFILEINFO& entry = plan.vFilesToUncompress[n];
        DWORD dwResult = UnCompressFile(entry.szFile, entry.szTgdFile,
                                        plan.pCtx->project.bRestoreTree, plan.pCtx->szTempTRV);
        DebugTrace(L"ReadDataStruct()->UnCompressFile(%s , %s)->%d", entry.szFile,
                   entry.szTgdFile, dwResult);
        if (dwResult != 0) {
            NoteFailure(*plan.pFailure, EXTRACT_STEP_UNPACK, entry.szTgdFile);
            return dwResult;
        }
    }
    Progress().GoToMaxStep(PHASE_PAUSE_MS);
    return 0;
}

void RunCleaning(PLAN& plan)
{
    if (plan.vFilesToUncompress.empty())
        return;
    ULONGLONG ullCount = plan.vFilesToUncompress.size();
    if (plan.bTwoBars) {
        Progress().DefineStep(0, 100, ullCount);
        Progress().GoToMinStep();
        Progress().DefineMainBarStep(Progress().GetMaxMainBarStep(), MAIN_BAR_END);
    } else {
        Progress().DefineStep(Progress().GetMaxBarStep(), MAIN_BAR_END, ullCount);
    }
    SetPhaseText(IDS_CLEANING);
    for (size_t i = 0; i < plan.vFilesToUncompress.size(); ++i) {
        const DATAFILEINFO& entry = plan.vFilesToUncompress[i];
        if (entry.bDeleteSrc)
            (void)DeleteFileNoLink(entry.szFile);  // a staged archive, unpacked
        Progress().NewStep(i);
    }
    Progress().GoToMaxStep(PHASE_PAUSE_MS);
}

// Phases 1 to 5; 0 when every phase ran to its end.
DWORD RunPhases(PLAN& plan, HANDLE hFile)
{
    ULONGLONG ullTotSizeDownload =
        SatMulDiv(plan.TotSizeFilesToDownload, DOWNLOAD_WEIGHT_TENTHS, 10);
    ULONGLONG ullTotSizeComp = SatMulDiv(plan.TotSizeFilesToUncompress, UNPACK_WEIGHT_TENTHS, 10);
    ULONGLONG ullTotSize =
        SatAdd(SatAdd(plan.TotSizeFilesToExtract, plan.TotSizeFilesToCopy),
               SatAdd(ullTotSizeDownload, ullTotSizeComp));
    DebugTrace(L"ReadDataStruct()->TotSizeFilesToUncompress=%I64u TotSizeComp=%I64u TotSize=%I64u",
               plan.TotSizeFilesToUncompress, ullTotSizeComp, ullTotSize);

    DWORD dwResult = RunDownloads(plan, ullTotSizeDownload, ullTotSize);
    if (dwResult == 0 && !IsCancelled())
        dwResult = RunCopies(plan, ullTotSize);
    if (dwResult == 0 && !IsCancelled())
        dwResult = RunExtractions(plan, hFile, ullTotSize);
    if (dwResult == 0 && !IsCancelled())
        dwResult = RunUnpacking(plan, ullTotSizeComp, ullTotSize);
    if (dwResult != 0 || IsCancelled()) {
        DebugTrace(L"ReadDataStruct()->Catch Error!");
        return dwResult ? dwResult : ERROR_INVALID_DATA;
    }
    RunCleaning(plan);
    return 0;
}

DWORD BuildAndRun(PLAN& plan, HANDLE hFile, DWORD dwSignOffset)
{
    CPlanTableSink sink(plan);
    DWORD dwResult = ReadPayloadTable(hFile, dwSignOffset, sink);
    if (dwResult != 0)
        return dwResult;
    if (!plan.dwTableError && !ItemHashesFitTable(plan.dwRecords)) {
        DebugTrace(L"ReadDataStruct()->The package's hashes name records beyond the table's %u",
                   plan.dwRecords);
        plan.dwTableError = ERROR_INVALID_DATA;
    }
    if (plan.dwTableError)
        return plan.dwTableError;

    ULONGLONG ullTotNeedSize = SatAdd(plan.pCtx->project.uiTotFilesSize, plan.TotDataSize);
    plan.pFailure->ullNeedBytes = ullTotNeedSize;
    ULONGLONG ullFree = 0;
    if (QueryFreeBytes(plan.pszTgdFolder, &ullFree)) {
        DebugTrace(L"ReadDataStruct()->FreeBytesAvailable=%I64u", ullFree);
        DebugTrace(L"ReadDataStruct()->TotFilesSize=%I64u", plan.pCtx->project.uiTotFilesSize);
        DebugTrace(L"ReadDataStruct()->TotDataSize=%I64u", plan.TotDataSize);
        DebugTrace(L"ReadDataStruct()->TotNeedSize=%I64u", ullTotNeedSize);
        dwResult = CheckNeededSpace(plan.pszTgdFolder, ullFree, ullTotNeedSize, *plan.pFailure);
        if (dwResult != 0)
            return dwResult;
    }

    if (!plan.vFilesToDownload.empty()) {
        if (!CheckConnection(plan.vFilesToDownload.front().szFile) || IsCancelled())
            return ERROR_CODE_NO_CONNECTION;
    }
    return RunPhases(plan, hFile);
}

}  // namespace

DWORD PhaseStatus(ULONGLONG ullWeight, ULONGLONG ullTotSize, DWORD dwBase)
{
    if (ullTotSize == 0)
        return dwBase;
    double dShare = static_cast<double>(ullWeight) / static_cast<double>(ullTotSize) * PHASE_SCALE;
    if (dShare > PHASE_SCALE)
        dShare = PHASE_SCALE;
    return static_cast<DWORD>(dShare) + dwBase;
}

namespace {

// Characters beyond ASCII go into a URL as their UTF-8 bytes, %-escaped:
// the one form that names the file alike on every server.
BOOL AppendUrlText(LPWSTR szUrl, size_t cchUrl, LPCWSTR szText)
{
    for (LPCWSTR p = szText; *p;) {
        if (*p < 0x80) {
            WCHAR szChar[2] = {*p++, L'\0'};
            if (FAILED(StringCchCatW(szUrl, cchUrl, szChar)))
                return FALSE;
            continue;
        }
        int cchUnit = IS_HIGH_SURROGATE(p[0]) && IS_LOW_SURROGATE(p[1]) ? 2 : 1;
        char szUtf8[4];
        int cb = WideCharToMultiByte(CP_UTF8, 0, p, cchUnit, szUtf8, sizeof(szUtf8), nullptr,
                                     nullptr);
        if (cb <= 0)
            return FALSE;
        for (int i = 0; i < cb; ++i) {
            WCHAR szEscape[4];
            // Three characters fit.
            (void)StringCchPrintfW(szEscape, ARRAYSIZE(szEscape), L"%%%02X",
                                   static_cast<unsigned>(static_cast<BYTE>(szUtf8[i])));
            if (FAILED(StringCchCatW(szUrl, cchUrl, szEscape)))
                return FALSE;
        }
        p += cchUnit;
    }
    return TRUE;
}

}  // namespace

BOOL JoinWebUrl(LPWSTR szUrl, size_t cchUrl, LPCWSTR szBase, LPCWSTR szFileOut)
{
    // The scheme and the host stay as written; the location's path is
    // escaped like the name.
    LPCWSTR pszBase = szBase ? szBase : L"";
    LPCWSTR pszScheme = wcsstr(pszBase, L"://");
    LPCWSTR pszPath = pszScheme ? wcschr(pszScheme + 3, L'/') : pszBase;
    if (!pszPath)
        pszPath = pszBase + wcslen(pszBase);
    if (FAILED(StringCchCopyNW(szUrl, cchUrl, pszBase, static_cast<size_t>(pszPath - pszBase))) ||
        !AppendUrlText(szUrl, cchUrl, pszPath))
        return FALSE;
    if (!szFileOut || !szFileOut[0])
        return TRUE;
    size_t cch = wcslen(szUrl);
    if (cch && szUrl[cch - 1] == L'/')
        szUrl[cch - 1] = L'\0';
    if (szFileOut[0] != L'/' && FAILED(StringCchCatW(szUrl, cchUrl, L"/")))
        return FALSE;
    return AppendUrlText(szUrl, cchUrl, szFileOut);
}

DWORD CheckNeededSpace(LPCWSTR szTgdFolder, ULONGLONG ullFreeBytes, ULONGLONG ullTotNeedSize,
                       EXTRACTFAILURE& failure)
{
    if (ullTotNeedSize <= ullFreeBytes)
        return 0;
    WCHAR szRoot[PATH_CCH];
    if (FAILED(StringCchCopyW(szRoot, PATH_CCH, szTgdFolder ? szTgdFolder : L"")) ||
        !PathStripToRootW(szRoot))
        szRoot[0] = L'\0';
    NoteFailure(failure, EXTRACT_STEP_SPACE, szRoot);
    failure.ullNeedBytes = ullTotNeedSize;
    return ERROR_DISK_FULL;
}

DWORD ReadDataStruct(const RUNCONTEXT& ctx, LPCWSTR szFile, DWORD dwSignOffset, LPCWSTR szTgdFolder,
                     LPCWSTR szDataFolder, std::vector<DATAFILEINFO> vDataFiles,
                     BOOL bForceDownload, EXTRACTFAILURE* pFailure)
{
    EXTRACTFAILURE unasked = {};
    EXTRACTFAILURE& failure = pFailure ? *pFailure : unasked;
    ZeroMemory(&failure, sizeof(failure));
    CFileHandle hFile(CreateFileW(szFile ? szFile : L"", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid()) {
        DebugTrace(L"ReadDataStruct()->End(%d)", ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }

    DWORD dwResult;
    std::unique_ptr<PLAN> plan(new (std::nothrow) PLAN());
    if (!plan) {
        DebugTrace(L"ReadDataStruct()->Catch Error!");
        dwResult = ERROR_OUTOFMEMORY;
    } else if (FAILED(StringCchCopyW(plan->szLauncherDir, PATH_CCH, szFile))) {
        // Files beside the package are looked for in its folder: never in a cut one.
        DebugTrace(L"ReadDataStruct()->%s is too long", szFile);
        dwResult = ERROR_FILENAME_EXCED_RANGE;
    } else {
        plan->pCtx = &ctx;
        PathRemoveFileSpecW(plan->szLauncherDir);
        // Fits: part of the path above.
        (void)StringCchCopyW(plan->szLauncherName, PATH_CCH, PathFindFileNameW(szFile));
        plan->pszTgdFolder = szTgdFolder ? szTgdFolder : L"";
        plan->pszDataFolder = szDataFolder ? szDataFolder : L"";
        plan->bForceDownload = bForceDownload;
        plan->bResume = ctx.project.bResumeSetup != 0;
        plan->bTwoBars = Progress().HasMainBar();
        plan->pDataFiles = &vDataFiles;
        plan->pFailure = &failure;
        dwResult = BuildAndRun(*plan, hFile.Get(), dwSignOffset);
    }
    hFile.Close();
    if (IsCancelled())
        dwResult = ERROR_CANCELLED;
    // A disk that filled up after the check: the same words as before.
    if (dwResult == ERROR_DISK_FULL && failure.dwStep != EXTRACT_STEP_SPACE)
        NoteDiskFull(failure, szTgdFolder, 0);
    DebugTrace(L"ReadDataStruct()->End(%d)", dwResult);
    return dwResult;
}

void NoteDiskFull(EXTRACTFAILURE& failure, LPCWSTR szTgdFolder, ULONGLONG ullNeeded)
{
    // The file a step was writing names its drive best; else the target.
    if (failure.dwStep == EXTRACT_STEP_NONE)
        NoteFailure(failure, EXTRACT_STEP_WRITE, szTgdFolder);
    if (!failure.ullNeedBytes)
        failure.ullNeedBytes = ullNeeded;
    DebugTrace(L"NoteDiskFull(%s)->the disk filled up while the run wrote to it", failure.szPath);
}
