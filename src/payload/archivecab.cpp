// Cabinet unpacking through the FDI interface of the system's cabinet.dll.
#include <fcntl.h>
#include <fdi.h>
#include <shlwapi.h>
#include <strsafe.h>
#include "common/cancel.h"
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/sysdll.h"
#include "common/trace.h"
#include "state/state.h"
#include "payload/archive.h"
#include "payload/archiveutil.h"
#include "common/process.h"
#include "common/progress.h"
#include "common/runfiles.h"

namespace {

typedef HFDI(DIAMONDAPI* PFN_FDICREATE)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                        PFNSEEK, int, PERF);
typedef BOOL(DIAMONDAPI* PFN_FDIISCABINET)(HFDI, INT_PTR, PFDICABINETINFO);
typedef BOOL(DIAMONDAPI* PFN_FDICOPY)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT,
                                      void*);
typedef BOOL(DIAMONDAPI* PFN_FDIDESTROY)(HFDI);

struct FDIAPI {
    PFN_FDICREATE pfnCreate;
    PFN_FDIISCABINET pfnIsCabinet;
    PFN_FDICOPY pfnCopy;
    PFN_FDIDESTROY pfnDestroy;
};

// The cabinet library stays loaded for the rest of the process.
const FDIAPI* GetFdi()
{
    static FDIAPI s_api;
    static BOOL s_bTried;
    if (!s_bTried) {
        s_bTried = TRUE;
        HMODULE hCabinet = LoadSystemLibrary(L"cabinet.dll");
        if (hCabinet) {
            s_api.pfnCreate = reinterpret_cast<PFN_FDICREATE>(
                reinterpret_cast<void*>(GetProcAddress(hCabinet, "FDICreate")));
            s_api.pfnIsCabinet = reinterpret_cast<PFN_FDIISCABINET>(
                reinterpret_cast<void*>(GetProcAddress(hCabinet, "FDIIsCabinet")));
            s_api.pfnCopy = reinterpret_cast<PFN_FDICOPY>(
                reinterpret_cast<void*>(GetProcAddress(hCabinet, "FDICopy")));
            s_api.pfnDestroy = reinterpret_cast<PFN_FDIDESTROY>(
                reinterpret_cast<void*>(GetProcAddress(hCabinet, "FDIDestroy")));
        }
        if (!s_api.pfnCreate || !s_api.pfnIsCabinet || !s_api.pfnCopy || !s_api.pfnDestroy) {
            DebugTrace(L"UnPackCABFile()->cabinet.dll not available");
            ZeroMemory(&s_api, sizeof(s_api));
        }
    }
    return s_api.pfnCreate ? &s_api : nullptr;
}

// One unpacking at a time: the write callback has no context argument.
struct CABCONTEXT {
    char szTargetDir[PATH_CCH];       // ends with "\"
    char szFileToExtract[PATH_CCH];   // empty: every member
    BOOL bRestoreFolders;
    WCHAR wszTargetDir[PATH_CCH];
    WCHAR wszFileToExtract[PATH_CCH];
    BOOL bFoundFileToExtract;  // the one wanted member was written
    BOOL bRefusedEntry;        // a member with an unsafe name was skipped
    char szNextCabinet[PATH_CCH];  // the cabinet after the one being copied
    BOOL bCabinetInfoSeen;
    BOOL bMissingCabinet;      // a part of the set was not there
    INT_PTR hCurrent;          // member being written, 0 once closed
    WCHAR wszCurrent[PATH_CCH];  // its path until it is complete
};
CABCONTEXT g_CabContext;

struct FDIERRORTEXT {
    const char* pszText;
    DWORD dwCode;
};
const FDIERRORTEXT FDI_ERRORS[] = {
    {"No error", 0},
    {"Cabinet not found", ERROR_FILE_NOT_FOUND},
    {"Not a cabinet", ERROR_INVALID_DATA},
    {"Unknown cabinet version", ERROR_INVALID_DATA},
    {"Corrupt cabinet", ERROR_INVALID_DATA},
    {"Memory allocation failed", ERROR_OUTOFMEMORY},
    {"Unknown compression type", ERROR_INVALID_PARAMETER},
    {"Failure decompressing data", ERROR_INVALID_DATA},
    {"Failure writing to target file", ERROR_ACCESS_DENIED},
    {"Cabinets in set have different RESERVE sizes", ERROR_INVALID_DATA},
    {"Cabinet returned on fdintNEXT_CABINET is incorrect", ERROR_INVALID_DATA},
    {"User aborted", ERROR_CANCELLED},
};

const char* FdiErrorText(int iCode)
{
    if (iCode >= 0 && iCode < static_cast<int>(ARRAYSIZE(FDI_ERRORS)))
        return FDI_ERRORS[iCode].pszText;
    return "Unknown error";
}

DWORD FdiErrorCode(int iCode)
{
    if (iCode >= 0 && iCode < static_cast<int>(ARRAYSIZE(FDI_ERRORS)))
        return FDI_ERRORS[iCode].dwCode;
    return ERROR_INVALID_DATA;
}

const INT_PTR FDI_FAILED = -1;
const DWORD MAX_CABINETS_IN_SET = 65535;
const WORD CABINET_ATTRIBUTE_MASK = 0x27;  // read-only, hidden, system, archive

INT_PTR ToFdiHandle(HANDLE h)
{
    return h == INVALID_HANDLE_VALUE ? FDI_FAILED : reinterpret_cast<INT_PTR>(h);
}

HANDLE FromFdiHandle(INT_PTR hf)
{
    return reinterpret_cast<HANDLE>(hf);
}

FNALLOC(FdiAlloc)
{
    return HeapAlloc(GetProcessHeap(), 0, cb);
}

FNFREE(FdiFree)
{
    if (pv)
        HeapFree(GetProcessHeap(), 0, pv);
}

FNOPEN(FdiOpen)
{
    DWORD dwAccess;
    switch (oflag & (_O_RDONLY | _O_WRONLY | _O_RDWR)) {
    case _O_WRONLY: dwAccess = GENERIC_WRITE; break;
    case _O_RDWR: dwAccess = GENERIC_READ | GENERIC_WRITE; break;
    default: dwAccess = GENERIC_READ; break;
    }
    DWORD dwCreation;
    if ((oflag & (_O_CREAT | _O_EXCL)) == (_O_CREAT | _O_EXCL))
        dwCreation = CREATE_NEW;
    else if ((oflag & (_O_CREAT | _O_TRUNC)) == (_O_CREAT | _O_TRUNC))
        dwCreation = CREATE_ALWAYS;
    else if (oflag & _O_CREAT)
        dwCreation = OPEN_ALWAYS;
    else if (oflag & _O_TRUNC)
        dwCreation = TRUNCATE_EXISTING;
    else
        dwCreation = OPEN_EXISTING;
    HANDLE h = CreateFileA(pszFile, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           dwCreation, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return ToFdiHandle(h);
}

FNREAD(FdiRead)
{
    DWORD cbRead = 0;
    if (!ReadFile(FromFdiHandle(hf), pv, cb, &cbRead, nullptr))
        return static_cast<UINT>(-1);
    return cbRead;
}

FNWRITE(FdiWrite)
{
    ULONGLONG ullDone = Progress().AddBytesDone(cb);
    Progress().NewStep(ullDone);
    DebugTrace(L"FNWRITE: TotBytesWrites=%I64u cb=%u", ullDone, cb);
    if (g_bCancel)
        return 0;
    DWORD cbWritten = 0;
    if (!WriteFile(FromFdiHandle(hf), pv, cb, &cbWritten, nullptr))
        return static_cast<UINT>(-1);
    return cbWritten;
}

FNCLOSE(FdiClose)
{
    if (hf == g_CabContext.hCurrent)
        g_CabContext.hCurrent = 0;
    return CloseHandle(FromFdiHandle(hf)) ? 0 : -1;
}

// A member whose copy did not complete is not left behind half written.
void DropIncompleteMember()
{
    if (!g_CabContext.wszCurrent[0])
        return;
    if (g_CabContext.hCurrent)
        CloseHandle(FromFdiHandle(g_CabContext.hCurrent));
    g_CabContext.hCurrent = 0;
    DeleteFileW(g_CabContext.wszCurrent);
    DebugTrace(L"UnPackCABFile()->Incomplete %s removed", g_CabContext.wszCurrent);
    g_CabContext.wszCurrent[0] = L'\0';
}

INT_PTR TrackMember(HANDLE hFile, LPCWSTR wszTarget)
{
    NoteRunFile(wszTarget);
    g_CabContext.hCurrent = ToFdiHandle(hFile);
    StringCchCopyW(g_CabContext.wszCurrent, PATH_CCH, wszTarget);
    return g_CabContext.hCurrent;
}

FNSEEK(FdiSeek)
{
    DWORD dwMethod = seektype == SEEK_CUR ? FILE_CURRENT : seektype == SEEK_END ? FILE_END
                                                                                : FILE_BEGIN;
    DWORD dwPos = SetFilePointer(FromFdiHandle(hf), dist, nullptr, dwMethod);
    return dwPos == INVALID_SET_FILE_POINTER ? -1 : static_cast<LONG>(dwPos);
}

HFDI CreateFdi(const FDIAPI* pApi, ERF* pErf)
{
    return pApi->pfnCreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek,
                           cpu80386, pErf);
}

// The member's name as stored, in wide characters.
BOOL EntryNameW(const FDINOTIFICATION* pfdin, WCHAR (&wszName)[PATH_CCH])
{
    UINT uCodePage = (pfdin->attribs & _A_NAME_IS_UTF) ? CP_UTF8 : CP_ACP;
    return AnsiToWide(pfdin->psz1, wszName, PATH_CCH, uCodePage);
}

// Where a member lands, or FALSE when its name is refused or too long.
BOOL EntryTargetPath(const FDINOTIFICATION* pfdin, WCHAR (&wszTarget)[PATH_CCH])
{
    WCHAR wszName[PATH_CCH];
    if (!EntryNameW(pfdin, wszName) || IsUnsafeEntryName(wszName))
        return FALSE;
    LPCWSTR pszPart = g_CabContext.bRestoreFolders ? wszName : EntryFileName(wszName);
    if (!pszPart[0])
        return FALSE;
    return JoinEntryPath(wszTarget, PATH_CCH, g_CabContext.wszTargetDir, pszPart);
}

void CreateFolderOf(LPCWSTR szFile)
{
    WCHAR szFolder[PATH_CCH];
    if (SUCCEEDED(StringCchCopyW(szFolder, PATH_CCH, szFile)) && PathRemoveFileSpecW(szFolder) &&
        szFolder[0])
        CreateAllDirectory(szFolder);
}


// An empty member whose name ends with a separator stands for an empty
// folder, which a cabinet cannot hold otherwise.
BOOL IsFolderEntry(const FDINOTIFICATION* pfdin, LPCWSTR wszName)
{
    size_t cch = wcslen(wszName);
    return pfdin->cb == 0 && cch > 0 && (wszName[cch - 1] == L'\\' || wszName[cch - 1] == L'/');
}

// Recreates an empty folder of the cabinet when the folder tree is kept;
// nothing is written for it otherwise.
INT_PTR OnFolderEntry(LPCWSTR wszName)
{
    if (g_CabContext.wszFileToExtract[0] || !g_CabContext.bRestoreFolders)
        return 0;
    WCHAR wszTarget[PATH_CCH];
    if (IsUnsafeEntryName(wszName) ||
        !JoinEntryPath(wszTarget, PATH_CCH, g_CabContext.wszTargetDir, wszName)) {
        DebugTrace(L"fdintCOPY_FILE: unsafe name %s skipped", wszName);
        g_CabContext.bRefusedEntry = TRUE;
        return 0;
    }
    BOOL bMade = CreateAllDirectory(wszTarget);
    DebugTrace(L"fdintCOPY_FILE: Folder %s (%d)", wszTarget, bMade);
    return 0;
}

INT_PTR OnCopyFile(FDINOTIFICATION* pfdin)
{
    WCHAR wszName[PATH_CCH];
    if (!EntryNameW(pfdin, wszName)) {
        DebugTraceA("fdintCOPY_FILE: name of %s refused", pfdin->psz1);
        g_CabContext.bRefusedEntry = TRUE;
        return 0;
    }
    if (IsFolderEntry(pfdin, wszName))
        return OnFolderEntry(wszName);
    LPCWSTR pszFileName = EntryFileName(wszName);
    if (g_CabContext.wszFileToExtract[0]) {
        DebugTrace(L"fdintCOPY_FILE: FileToExtract=%s FileName=%s", g_CabContext.wszFileToExtract,
                   pszFileName);
        if (wcscmp(pszFileName, g_CabContext.wszFileToExtract) != 0)
            return 0;
    }
    WCHAR wszTarget[PATH_CCH];
    if (!EntryTargetPath(pfdin, wszTarget)) {
        DebugTrace(L"fdintCOPY_FILE: unsafe name %s skipped", wszName);
        g_CabContext.bRefusedEntry = TRUE;
        return 0;
    }
    DebugTrace(L"fdintCOPY_FILE: TargetFile=%s", wszTarget);
    CreateFolderOf(wszTarget);

    DWORD dwAttributes = GetFileAttributesW(wszTarget);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
        if (dwAttributes & FILE_ATTRIBUTE_READONLY) {
            DebugTrace(L"fdintCOPY_FILE: File %s with attribut Read only removed", wszTarget);
            SetFileAttributesW(wszTarget, dwAttributes & ~FILE_ATTRIBUTE_READONLY);
        }
        DeleteFileW(wszTarget);
    }
    HANDLE hFile = CreateFileW(wszTarget, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile != INVALID_HANDLE_VALUE)
        return TrackMember(hFile, wszTarget);

    // Held by a running program: ask it to close, then try once more. The
    // second open truncates too, or a longer old file would keep its tail.
    // The program to close is the one started from this very file: never
    // another one of the same name.
    KillModuleByPath(wszTarget);
    hFile = CreateFileW(wszTarget, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile != INVALID_HANDLE_VALUE)
        return TrackMember(hFile, wszTarget);
    DebugTrace(L"fdintCOPY_FILE: File %s locked", wszTarget);
    return 0;
}

INT_PTR OnCloseFileInfo(FDINOTIFICATION* pfdin)
{
    DebugTraceA("fdintCLOSE_FILE_INFO->%s", pfdin->psz1);
    CloseHandle(FromFdiHandle(pfdin->hf));
    g_CabContext.hCurrent = 0;
    g_CabContext.wszCurrent[0] = L'\0';
    WCHAR wszTarget[PATH_CCH];
    if (EntryTargetPath(pfdin, wszTarget)) {
        HANDLE hFile = CreateFileW(wszTarget, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            // The cabinet keeps local time.
            FILETIME ftLocal, ftUtc;
            if (DosDateTimeToFileTime(pfdin->date, pfdin->time, &ftLocal) &&
                LocalFileTimeToFileTime(&ftLocal, &ftUtc))
                SetFileTime(hFile, &ftUtc, nullptr, &ftUtc);
            CloseHandle(hFile);
        }
        DWORD dwAttributes = pfdin->attribs & CABINET_ATTRIBUTE_MASK;
        SetFileAttributesW(wszTarget, dwAttributes ? dwAttributes : FILE_ATTRIBUTE_NORMAL);
    }
    DebugTraceA("fdintCLOSE_FILE_INFO()->FileToExtract=%s", g_CabContext.szFileToExtract);
    if (g_CabContext.wszFileToExtract[0]) {
        WCHAR wszName[PATH_CCH];
        if (EntryNameW(pfdin, wszName) &&
            wcscmp(EntryFileName(wszName), g_CabContext.wszFileToExtract) == 0) {
            // The one wanted member is out: stop here.
            g_CabContext.bFoundFileToExtract = TRUE;
            return FALSE;
        }
    }
    return TRUE;
}

FNFDINOTIFY(FdiNotify)
{
    if (g_bCancel) {
        if (fdint == fdintCLOSE_FILE_INFO) {
            CloseHandle(FromFdiHandle(pfdin->hf));
            g_CabContext.hCurrent = 0;
        }
        return FDI_FAILED;
    }
    switch (fdint) {
    case fdintCABINET_INFO:
        DebugTraceA("fdintCABINET_INFO: psz1=%s psz2=%s psz3=%s setID=%d iCabinet=%d",
                    pfdin->psz1, pfdin->psz2, pfdin->psz3, pfdin->setID, pfdin->iCabinet);
        // The first report of a copy is about the cabinet it was asked for.
        if (!g_CabContext.bCabinetInfoSeen) {
            g_CabContext.bCabinetInfoSeen = TRUE;
            StringCchCopyA(g_CabContext.szNextCabinet, PATH_CCH, pfdin->psz1 ? pfdin->psz1 : "");
        }
        return 0;
    case fdintPARTIAL_FILE:
        DebugTraceA("fdintPARTIAL_FILE: psz1=%s psz2=%s psz3=%s", pfdin->psz1, pfdin->psz2,
                    pfdin->psz3);
        return 0;
    case fdintCOPY_FILE:
        return OnCopyFile(pfdin);
    case fdintCLOSE_FILE_INFO:
        return OnCloseFileInfo(pfdin);
    case fdintNEXT_CABINET: {
        DebugTraceA("fdintNEXT_CABINET-: psz1=%s psz2=%s psz3=%s", pfdin->psz1, pfdin->psz2,
                    pfdin->psz3);
        DebugTraceA("pfdie=%d", pfdin->fdie);
        DebugTraceA("setID=%d iCabinet=%d iFolder=%d", pfdin->setID, pfdin->iCabinet,
                    pfdin->iFolder);
        char szNext[PATH_CCH];
        if (FAILED(StringCchCopyA(szNext, PATH_CCH, pfdin->psz3)) ||
            FAILED(StringCchCatA(szNext, PATH_CCH, pfdin->psz1)))
            return FDI_FAILED;
        DWORD dwAttributes = GetFileAttributesA(szNext);
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            g_CabContext.bMissingCabinet = TRUE;
            return FDI_FAILED;
        }
        // Anything but -1 goes on to the next cabinet; some decoders take
        // any non-zero answer as an abort, so the answer is 0.
        return 0;
    }
    case fdintENUMERATE:
        DebugTraceA("fdintENUMERATE: setID=%d cb=%d iFolder=%d", pfdin->setID, pfdin->cb,
                    pfdin->iFolder);
        return 0;
    default:
        return 0;
    }
}

BOOL EndsWithBackslash(LPCSTR sz)
{
    size_t cb = strlen(sz);
    return cb > 0 && sz[cb - 1] == '\\';
}

DWORD UnPackCabinet(LPCSTR szCabinet, LPCSTR szTargetDir, LPCWSTR wszTargetDir,
                    LPCSTR szFileToExtract, LPCWSTR wszFileToExtract, BOOL bRestoreFolders)
{
    ZeroMemory(&g_CabContext, sizeof(g_CabContext));
    g_CabContext.bRestoreFolders = bRestoreFolders;
    const FDIAPI* pApi = GetFdi();
    ERF erf;
    ZeroMemory(&erf, sizeof(erf));
    HFDI hfdi = pApi ? CreateFdi(pApi, &erf) : nullptr;
    if (!hfdi) {
        int iCode = pApi ? erf.erfOper : FDIERROR_ALLOC_FAIL;
        DebugTraceA("UnPackCABFile()->FDICreate() failed: code %d [%s]", iCode,
                    FdiErrorText(iCode));
        return FdiErrorCode(iCode);
    }

    HANDLE hCabinet = CreateFileA(szCabinet, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hCabinet == INVALID_HANDLE_VALUE) {
        pApi->pfnDestroy(hfdi);
        DebugTraceA("UnPackCABFile()->Unable to open '%s' for input", szCabinet);
        return ERROR_FILE_NOT_FOUND;
    }
    FDICABINETINFO info;
    ZeroMemory(&info, sizeof(info));
    BOOL bIsCabinet = pApi->pfnIsCabinet(hfdi, ToFdiHandle(hCabinet), &info);
    CloseHandle(hCabinet);
    if (!bIsCabinet) {
        pApi->pfnDestroy(hfdi);
        DebugTraceA("UnPackCABFile()->FDIIsCabinet() failed: '%s' is not a cabinet", szCabinet);
        return ERROR_INVALID_DATA;
    }
    DebugTraceA("UnPackCABFile()->cabinet file: %s", szCabinet);
    DebugTraceA("UnPackCABFile()->CAB: Tot. lght: %d - Nb folders: %d - Nb files: %d",
                info.cbCabinet, info.cFolders, info.cFiles);

    // Cabinet name and the folder that holds it (and the rest of its set).
    char szCabinetPath[PATH_CCH];
    char szCabinetName[PATH_CCH];
    StringCchCopyA(szCabinetPath, PATH_CCH, szCabinet);
    char* pszName = strrchr(szCabinetPath, '\\');
    if (pszName) {
        StringCchCopyA(szCabinetName, PATH_CCH, pszName + 1);
        pszName[1] = '\0';
    } else {
        StringCchCopyA(szCabinetName, PATH_CCH, szCabinetPath);
        szCabinetPath[0] = '\0';
    }
    DebugTraceA("UnPackCABFile()->CabinetPath=%s CabinetName=%s", szCabinetPath, szCabinetName);

    StringCchCopyA(g_CabContext.szFileToExtract, PATH_CCH, szFileToExtract ? szFileToExtract : "");
    StringCchCopyW(g_CabContext.wszFileToExtract, PATH_CCH,
                   wszFileToExtract ? wszFileToExtract : L"");
    StringCchCopyA(g_CabContext.szTargetDir, PATH_CCH, szTargetDir);
    StringCchCopyW(g_CabContext.wszTargetDir, PATH_CCH, wszTargetDir);
    if (!EndsWithBackslash(g_CabContext.szTargetDir))
        StringCchCatA(g_CabContext.szTargetDir, PATH_CCH, "\\");
    DebugTraceA("UnPackCABFile()->TargetDir=%s", g_CabContext.szTargetDir);

    // One FDICopy unpacks the members that start in that cabinet (a member
    // that runs on into the next one is followed there); the members that
    // start in the later cabinets of a set need a call of their own.
    DWORD dwResult = 0;
    char szCurrent[PATH_CCH];
    StringCchCopyA(szCurrent, PATH_CCH, szCabinetName);
    for (DWORD dwPart = 0; dwPart < MAX_CABINETS_IN_SET; ++dwPart) {
        g_CabContext.szNextCabinet[0] = '\0';
        g_CabContext.bCabinetInfoSeen = FALSE;
        if (!pApi->pfnCopy(hfdi, szCurrent, szCabinetPath, 0, FdiNotify, nullptr, nullptr)) {
            int iCode = erf.erfOper;
            if (iCode == FDIERROR_USER_ABORT && g_CabContext.bFoundFileToExtract && !g_bCancel) {
                // We stopped the copy ourselves, right after the wanted member.
                DebugTraceA("UnPackCABFile()->%s extracted", g_CabContext.szFileToExtract);
                break;
            }
            DebugTraceA("UnPackCABFile()->FDICopy() failed: code %d [%s]", iCode,
                        FdiErrorText(iCode));
            DropIncompleteMember();
            pApi->pfnDestroy(hfdi);
            // A refused write after Cancel reads as a write failure; it is a
            // cancel. A missing part of the set is a missing file.
            if (g_bCancel)
                dwResult = ERROR_CANCELLED;
            else if (g_CabContext.bMissingCabinet)
                dwResult = ERROR_FILE_NOT_FOUND;
            else
                dwResult = FdiErrorCode(iCode);
            DebugTraceA("UnPackCABFile()->End(%d)", dwResult);
            return dwResult;
        }
        if (g_bCancel || g_CabContext.bFoundFileToExtract || !g_CabContext.szNextCabinet[0])
            break;
        char szNext[PATH_CCH];
        if (FAILED(StringCchPrintfA(szNext, PATH_CCH, "%s%s", szCabinetPath,
                                    g_CabContext.szNextCabinet)) ||
            GetFileAttributesA(szNext) == INVALID_FILE_ATTRIBUTES) {
            DebugTraceA("UnPackCABFile()->Next cabinet %s not found", g_CabContext.szNextCabinet);
            pApi->pfnDestroy(hfdi);
            DebugTraceA("UnPackCABFile()->End(%d)", ERROR_FILE_NOT_FOUND);
            return ERROR_FILE_NOT_FOUND;
        }
        StringCchCopyA(szCurrent, PATH_CCH, g_CabContext.szNextCabinet);
    }
    if (!pApi->pfnDestroy(hfdi))
        dwResult = 12;
    if (dwResult)
        DebugTraceA("UnPackCABFile()->FDIDestroy() failed: code %d [%s]", erf.erfOper,
                    FdiErrorText(erf.erfOper));
    if (dwResult == 0 && g_CabContext.wszFileToExtract[0] && !g_CabContext.bFoundFileToExtract) {
        DebugTraceA("UnPackCABFile()->%s not in the cabinet", g_CabContext.szFileToExtract);
        dwResult = ERROR_FILE_NOT_FOUND;
    }
    if (dwResult == 0 && g_CabContext.bRefusedEntry) {
        DebugTraceA("UnPackCABFile()->Members with unsafe names were skipped");
        dwResult = ERROR_INVALID_DATA;
    }
    if (g_bCancel)
        dwResult = ERROR_CANCELLED;
    DebugTraceA("UnPackCABFile()->End(%d)", dwResult);
    return dwResult;
}

}  // namespace

DWORD UnPackCABFile(LPCSTR szCabinet, LPCSTR szTargetDir, LPCSTR szFileToExtract,
                    BOOL bRestoreFolders)
{
    WCHAR wszTargetDir[PATH_CCH];
    WCHAR wszFileToExtract[PATH_CCH];
    if (!szCabinet || !szTargetDir || !AnsiToWide(szTargetDir, wszTargetDir, PATH_CCH) ||
        !AnsiToWide(szFileToExtract, wszFileToExtract, PATH_CCH))
        return ERROR_INVALID_PARAMETER;
    return UnPackCabinet(szCabinet, szTargetDir, wszTargetDir, szFileToExtract, wszFileToExtract,
                         bRestoreFolders);
}

DWORD UnPackCABFile(LPCWSTR szCabinet, LPCWSTR szTargetDir, LPCWSTR szFileToExtract,
                    BOOL bRestoreFolders)
{
    char szCabinetA[PATH_CCH];
    char szTargetDirA[PATH_CCH];
    char szFileToExtractA[PATH_CCH];
    if (!szCabinet || !szTargetDir || wcslen(szCabinet) >= PATH_CCH ||
        wcslen(szTargetDir) >= PATH_CCH ||
        (szFileToExtract && wcslen(szFileToExtract) >= PATH_CCH))
        return ERROR_INVALID_PARAMETER;
    if (!WideToAnsi(szCabinet, szCabinetA, PATH_CCH) ||
        !WideToAnsi(szTargetDir, szTargetDirA, PATH_CCH) ||
        !WideToAnsi(szFileToExtract, szFileToExtractA, PATH_CCH)) {
        DebugTrace(L"UnPackCABFile(%s)->Path not in the ANSI code page", szCabinet);
        return ERROR_INVALID_NAME;
    }
    return UnPackCabinet(szCabinetA, szTargetDirA, szTargetDir, szFileToExtractA,
                         szFileToExtract ? szFileToExtract : L"", bRestoreFolders);
}

BOOL IsCabinetFile(LPCWSTR szPath)
{
    const FDIAPI* pApi = GetFdi();
    if (!pApi || !szPath)
        return FALSE;
    ERF erf;
    ZeroMemory(&erf, sizeof(erf));
    HFDI hfdi = CreateFdi(pApi, &erf);
    if (!hfdi)
        return FALSE;
    BOOL bResult = FALSE;
    HANDLE hFile = CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        FDICABINETINFO info;
        ZeroMemory(&info, sizeof(info));
        bResult = pApi->pfnIsCabinet(hfdi, ToFdiHandle(hFile), &info);
        CloseHandle(hFile);
    }
    pApi->pfnDestroy(hfdi);
    return bResult;
}
