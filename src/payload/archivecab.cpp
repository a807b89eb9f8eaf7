// Cabinet unpacking through the FDI interface of the system's cabinet.dll.
// The decoder takes 8-bit paths and hands them back to our open callback:
// it gets stand-ins that only that callback reads (FDI_FOLDER, FDI_FIRST),
// and every file is opened by its wide path.
#include <fcntl.h>
#include <fdi.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <string>
#include <vector>
#include "common/cancel.h"
#include "common/capacity.h"
#include "common/faultguard.h"
#include "common/filecopy.h"
#include "common/filesys.h"
#include "common/sysdll.h"
#include "common/textcode.h"
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

const size_t MAX_OPEN_CABINETS = 64;  // cabinets of a set the decoder holds open at once

// The folder of the cabinets as the decoder knows it, and the name of the
// cabinet a copy starts with; the decoder joins the two, or the folder and
// the name of the next cabinet of a set as that cabinet's header gives it.
// "<" can stand in no real path.
const char FDI_FOLDER[] = "<folder>\\";
const char FDI_FIRST[] = "<first>";

// One unpacking at a time: the write callback has no context argument.
struct CABCONTEXT {
    BOOL bRestoreFolders = FALSE;
    WCHAR wszTargetDir[PATH_CCH] = L"";        // ends with "\\"
    WCHAR wszFileToExtract[PATH_CCH] = L"";    // empty: every member
    WCHAR wszCabinetFolder[PATH_CCH] = L"";    // ends with "\\", or empty
    WCHAR wszCabinetName[PATH_CCH] = L"";      // the cabinet asked for
    BOOL bFoundFileToExtract = FALSE;  // the one wanted member was written
    char szNextCabinet[PATH_CCH] = "";  // the cabinet after the one being copied
    BOOL bCabinetInfoSeen = FALSE;
    BOOL bMissingCabinet = FALSE;      // a part of the set was not there
    // The first reason the archive fails (a refused name, a member that can
    // not be written or came out short); the decoder is stopped at once.
    DWORD dwFailure = 0;
    INT_PTR hCurrent = 0;              // member being written, 0 once closed
    std::wstring current;              // its path
    std::wstring lastFolder;           // made for the previous member
    ULONGLONG ullCurrentSize = 0;      // its size as the cabinet declares it
    ULONGLONG ullCurrentWritten = 0;
    // Every member this unpacking wrote: none stays when it fails.
    std::vector<std::wstring> written;
    // What the decoder opened through us, closed by us if it faults.
    INT_PTR openFiles[MAX_OPEN_CABINETS] = {};
    // The decoder's memory: a heap of its own, dropped as a whole after a fault.
    HANDLE hHeap = nullptr;
    BOOL bUnpacking = FALSE;           // an UnPackCABFile runs (not a probe)
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
    return HeapAlloc(g_CabContext.hHeap ? g_CabContext.hHeap : GetProcessHeap(), 0, cb);
}

FNFREE(FdiFree)
{
    if (pv)
        HeapFree(g_CabContext.hHeap ? g_CabContext.hHeap : GetProcessHeap(), 0, pv);
}

// The decoder stops at the next read once the run is cancelled or the
// archive has failed: it honours a failed read, not a refused write.
BOOL MustStop()
{
    return g_CabContext.bUnpacking && (g_bCancel || g_CabContext.dwFailure != 0);
}

void Fail(DWORD dwCode)
{
    if (!g_CabContext.dwFailure)
        g_CabContext.dwFailure = dwCode ? dwCode : ERROR_INVALID_DATA;
}

BOOL TrackOpen(INT_PTR hf)
{
    for (INT_PTR& slot : g_CabContext.openFiles) {
        if (!slot) {
            slot = hf;
            return TRUE;
        }
    }
    return FALSE;
}

void ForgetOpen(INT_PTR hf)
{
    for (INT_PTR& slot : g_CabContext.openFiles) {
        if (slot == hf)
            slot = 0;
    }
}

// A name a cabinet's header gives (the next cabinet of a set, its disk)
// carries no mark of its encoding: read as UTF-8 when it is well-formed
// UTF-8, which is what the packer writes, else in the ANSI code page.
BOOL HeaderNameToWide(LPCSTR szName, LPWSTR szOut, int cchOut)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(szName ? szName : "");
    UINT uCodePage = IsValidUtf8(p, strlen(szName ? szName : "")) ? CP_UTF8 : CP_ACP;
    return NameToWide(szName, szOut, cchOut, uCodePage) == ERROR_SUCCESS;
}

// The wide path behind a path the decoder hands back: our folder and the
// first cabinet's name, or a part of the set beside it. FALSE for anything
// else, a name with a folder of its own included.
BOOL FdiPathToWide(LPCSTR pszFile, std::wstring& path)
{
    const size_t cbFolder = sizeof(FDI_FOLDER) - 1;
    if (!pszFile || strncmp(pszFile, FDI_FOLDER, cbFolder) != 0)
        return FALSE;
    LPCSTR pszName = pszFile + cbFolder;
    WCHAR wszName[PATH_CCH];
    if (strcmp(pszName, FDI_FIRST) == 0) {
        // Same capacity.
        (void)StringCchCopyW(wszName, PATH_CCH, g_CabContext.wszCabinetName);
    } else if (!HeaderNameToWide(pszName, wszName, PATH_CCH) || IsUnsafeEntryName(wszName) ||
               EntryFileName(wszName) != wszName) {
        return FALSE;
    }
    path = std::wstring(g_CabContext.wszCabinetFolder) + wszName;
    return TRUE;
}

FNOPEN(FdiOpen)
{
    std::wstring path;
    if (!FdiPathToWide(pszFile, path)) {
        DebugTraceA("UnPackCABFile()->'%s' refused", pszFile ? pszFile : "");
        return FDI_FAILED;
    }
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
    HANDLE h = CreateFileW(LongPathForm(path).c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, dwCreation, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    INT_PTR hf = ToFdiHandle(h);
    if (hf != FDI_FAILED && !TrackOpen(hf)) {
        CloseHandle(h);
        return FDI_FAILED;
    }
    return hf;
}

FNREAD(FdiRead)
{
    if (MustStop())
        return static_cast<UINT>(-1);
    DWORD cbRead = 0;
    if (!ReadFile(FromFdiHandle(hf), pv, cb, &cbRead, nullptr))
        return static_cast<UINT>(-1);
    return cbRead;
}

FNWRITE(FdiWrite)
{
    // Each member's bytes are traced once, as it is closed.
    Progress().NewStep(Progress().AddBytesDone(cb));
    if (MustStop())
        return 0;
    DWORD cbWritten = 0;
    DWORD dwError = WriteAll(FromFdiHandle(hf), pv, cb, &cbWritten);
    if (dwError != ERROR_SUCCESS) {
        // The decoder does not look at what a write returns: the failure is
        // kept and the next read stops it.
        DebugTrace(L"FNWRITE: %s not written (%d)", g_CabContext.current.c_str(), dwError);
        Fail(WriteErrorCode(dwError));
        return static_cast<UINT>(-1);
    }
    if (hf == g_CabContext.hCurrent)
        g_CabContext.ullCurrentWritten += cbWritten;
    return cbWritten;
}

FNCLOSE(FdiClose)
{
    if (hf == g_CabContext.hCurrent)
        g_CabContext.hCurrent = 0;
    ForgetOpen(hf);
    return CloseHandle(FromFdiHandle(hf)) ? 0 : -1;
}

// A failed unpacking leaves none of its members behind, the one being
// written included.
void DropWrittenMembers()
{
    if (g_CabContext.hCurrent) {
        CloseHandle(FromFdiHandle(g_CabContext.hCurrent));
        g_CabContext.hCurrent = 0;
    }
    for (const std::wstring& path : g_CabContext.written)
        RemoveWrittenMember(L"UnPackCABFile()", path);
    g_CabContext.written.clear();
    g_CabContext.current.clear();
}

INT_PTR TrackMember(HANDLE hFile, const std::wstring& target, ULONGLONG ullSize)
{
    NoteRunFile(target.c_str());
    g_CabContext.hCurrent = ToFdiHandle(hFile);
    g_CabContext.current = target;
    g_CabContext.ullCurrentSize = ullSize;
    g_CabContext.ullCurrentWritten = 0;
    g_CabContext.written.push_back(target);
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

// The member's name as stored, in wide characters: UTF-8 when the cabinet
// marks it so, else in the ANSI code page, as the format has it.
BOOL EntryNameW(const FDINOTIFICATION* pfdin, WCHAR (&wszName)[PATH_CCH])
{
    UINT uCodePage = (pfdin->attribs & _A_NAME_IS_UTF) ? CP_UTF8 : CP_ACP;
    return NameToWide(pfdin->psz1, wszName, PATH_CCH, uCodePage) == ERROR_SUCCESS;
}

// Where a member lands, or FALSE when its name is refused. The path may
// pass MAX_PATH: a valid cabinet member name is up to 255 bytes long.
BOOL EntryTargetPath(const FDINOTIFICATION* pfdin, std::wstring& target)
{
    WCHAR wszName[PATH_CCH];
    if (!EntryNameW(pfdin, wszName) || IsUnsafeEntryName(wszName))
        return FALSE;
    LPCWSTR pszPart = g_CabContext.bRestoreFolders ? wszName : EntryFileName(wszName);
    if (!pszPart[0])
        return FALSE;
    target = JoinEntryPath(g_CabContext.wszTargetDir, pszPart);
    return target.size() < LONG_PATH_CCH;
}

// Members come folder by folder: a folder made for the previous member is
// not looked at again.
void CreateFolderOfMember(const std::wstring& target)
{
    size_t slash = target.rfind(L'\\');
    if (slash == std::wstring::npos || slash == 0)
        return;
    std::wstring folder = target.substr(0, slash);
    if (!g_CabContext.lastFolder.empty() && lstrcmpiW(folder.c_str(), g_CabContext.lastFolder.c_str()) == 0)
        return;
    if (CreateAllDirectoryLong(folder.c_str()) == ERROR_SUCCESS)
        g_CabContext.lastFolder = folder;
    else
        g_CabContext.lastFolder.clear();
}

// Never through a link: one in the member's place is removed as itself,
// or the member fails.
HANDLE CreateMember(const std::wstring& target, DWORD dwCreation)
{
    return CreateFileNoLink(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, dwCreation,
                            FILE_FLAG_SEQUENTIAL_SCAN);
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
    if (IsUnsafeEntryName(wszName)) {
        DebugTrace(L"fdintCOPY_FILE: unsafe name %s refused", wszName);
        Fail(ERROR_INVALID_DATA);
        return FDI_FAILED;
    }
    std::wstring target = JoinEntryPath(g_CabContext.wszTargetDir, wszName);
    BOOL bMade = CreateAllDirectoryLong(target.c_str()) == ERROR_SUCCESS;
    DebugTrace(L"fdintCOPY_FILE: Folder %s (%d)", target.c_str(), bMade);
    return 0;
}

INT_PTR OnCopyFile(FDINOTIFICATION* pfdin)
{
    WCHAR wszName[PATH_CCH];
    if (!EntryNameW(pfdin, wszName)) {
        DebugTraceA("fdintCOPY_FILE: name of %s refused", pfdin->psz1);
        Fail(ERROR_INVALID_DATA);
        return FDI_FAILED;
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
    std::wstring target;
    if (!EntryTargetPath(pfdin, target)) {
        DebugTrace(L"fdintCOPY_FILE: unsafe name %s refused", wszName);
        Fail(ERROR_INVALID_DATA);
        return FDI_FAILED;
    }
    DebugTrace(L"fdintCOPY_FILE: TargetFile=%s", target.c_str());
    CreateFolderOfMember(target);

    // A fresh target is the common case: one call makes it. An existing one
    // goes first (read-only cleared), so nothing of it is kept.
    ULONGLONG ullSize = static_cast<ULONG>(pfdin->cb);
    HANDLE hFile = CreateMember(target, CREATE_NEW);
    if (hFile != INVALID_HANDLE_VALUE)
        return TrackMember(hFile, target, ullSize);
    std::wstring longTarget = LongPathForm(target);
    DWORD dwAttributes = GetFileAttributesW(longTarget.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
        DWORD dwKept = MayReplace(target.c_str());
        if (dwKept != ERROR_SUCCESS) {
            Fail(dwKept);
            return FDI_FAILED;
        }
        if (dwAttributes & FILE_ATTRIBUTE_READONLY)
            DebugTrace(L"fdintCOPY_FILE: File %s with attribut Read only removed", target.c_str());
        // The file itself goes, never what a link there points to.
        DWORD dwCleared = ClearForWrite(target.c_str());
        if (dwCleared == ERROR_CANT_ACCESS_FILE) {
            DebugTrace(L"fdintCOPY_FILE: File %s is a link: not written through", target.c_str());
            Fail(dwCleared);
            return FDI_FAILED;
        }
    }
    hFile = CreateMember(target, CREATE_ALWAYS);
    if (hFile != INVALID_HANDLE_VALUE)
        return TrackMember(hFile, target, ullSize);

    // Held by a running program: ask it to close, then try once more. The
    // second open truncates too, or a longer old file would keep its tail.
    // The program to close is the one started from this very file: never
    // another one of the same name.
    (void)KillModuleByPath(target.c_str());  // the second open tells
    hFile = CreateMember(target, CREATE_ALWAYS);
    if (hFile != INVALID_HANDLE_VALUE)
        return TrackMember(hFile, target, ullSize);
    // A member that can not be written fails the archive with the reason.
    DWORD dwError = GetLastError();
    DebugTrace(L"fdintCOPY_FILE: File %s locked (%d)", target.c_str(), dwError);
    Fail(dwError ? WriteErrorCode(dwError) : ERROR_WRITE_FAULT);
    return FDI_FAILED;
}

// The member gets the cabinet's time stamps through the handle that wrote
// it, which is closed here. A file made new carries the archive attribute
// alone (the usual value in a cabinet); any other value is set by name.
// szTarget is null when the member is not kept.
void StampMember(const FDINOTIFICATION* pfdin, LPCWSTR szTarget)
{
    HANDLE hFile = FromFdiHandle(pfdin->hf);
    // The cabinet keeps local time.
    FILETIME ftLocal, ftUtc;
    if (szTarget && DosDateTimeToFileTime(pfdin->date, pfdin->time, &ftLocal) &&
        LocalFileTimeToFileTime(&ftLocal, &ftUtc))
        SetFileTime(hFile, &ftUtc, nullptr, &ftUtc);
    CloseHandle(hFile);
    DWORD dwAttributes = pfdin->attribs & CABINET_ATTRIBUTE_MASK;
    if (!szTarget || !szTarget[0] || dwAttributes == FILE_ATTRIBUTE_ARCHIVE)
        return;
    (void)SetAttributesNoLink(szTarget, dwAttributes ? dwAttributes : FILE_ATTRIBUTE_NORMAL);  // cosmetic: the bytes are written
}

INT_PTR OnCloseFileInfo(FDINOTIFICATION* pfdin)
{
    WCHAR wszClosed[PATH_CCH];
    if (!EntryNameW(pfdin, wszClosed))
        wszClosed[0] = L'\0';
    DebugTrace(L"fdintCLOSE_FILE_INFO->%s (%I64u bytes)", wszClosed, g_CabContext.ullCurrentWritten);
    ForgetOpen(pfdin->hf);
    g_CabContext.hCurrent = 0;
    std::wstring target = g_CabContext.current;
    g_CabContext.current.clear();
    // The decoder closes a member before it reports a damaged block: a
    // member shorter than the cabinet says fails the archive.
    if (g_CabContext.ullCurrentWritten != g_CabContext.ullCurrentSize && !MustStop()) {
        DebugTrace(L"fdintCLOSE_FILE_INFO: %s has %I64u of %I64u bytes", target.c_str(),
                   g_CabContext.ullCurrentWritten, g_CabContext.ullCurrentSize);
        Fail(ERROR_INVALID_DATA);
    }
    StampMember(pfdin, MustStop() ? nullptr : target.c_str());
    if (MustStop())
        return FALSE;
    if (g_CabContext.wszFileToExtract[0]) {
        DebugTrace(L"fdintCLOSE_FILE_INFO()->FileToExtract=%s", g_CabContext.wszFileToExtract);
        if (wszClosed[0] && wcscmp(EntryFileName(wszClosed), g_CabContext.wszFileToExtract) == 0) {
            // The one wanted member is out: stop here.
            g_CabContext.bFoundFileToExtract = TRUE;
            return FALSE;
        }
    }
    return TRUE;
}

// A name of the decoder's reports, for the trace.
std::wstring ReportedName(LPCSTR pszName)
{
    WCHAR wszName[PATH_CCH];
    if (!HeaderNameToWide(pszName ? pszName : "", wszName, PATH_CCH))
        wszName[0] = L'\0';
    return wszName;
}

FNFDINOTIFY(FdiNotify)
{
    if (fdint == fdintCLOSE_FILE_INFO)
        return OnCloseFileInfo(pfdin);
    if (MustStop())
        return FDI_FAILED;
    switch (fdint) {
    case fdintCABINET_INFO:
        DebugTrace(L"fdintCABINET_INFO: psz1=%s psz2=%s psz3=%s setID=%d iCabinet=%d",
                   ReportedName(pfdin->psz1).c_str(), ReportedName(pfdin->psz2).c_str(),
                   g_CabContext.wszCabinetFolder, pfdin->setID, pfdin->iCabinet);
        // The first report of a copy is about the cabinet it was asked for.
        if (!g_CabContext.bCabinetInfoSeen) {
            g_CabContext.bCabinetInfoSeen = TRUE;
            // FDI's names are shorter than PATH_CCH.
            (void)StringCchCopyA(g_CabContext.szNextCabinet, PATH_CCH,
                                 pfdin->psz1 ? pfdin->psz1 : "");
        }
        return 0;
    case fdintPARTIAL_FILE:
        DebugTrace(L"fdintPARTIAL_FILE: psz1=%s psz2=%s psz3=%s", ReportedName(pfdin->psz1).c_str(),
                   ReportedName(pfdin->psz2).c_str(), ReportedName(pfdin->psz3).c_str());
        return 0;
    case fdintCOPY_FILE:
        return OnCopyFile(pfdin);
    case fdintNEXT_CABINET: {
        DebugTrace(L"fdintNEXT_CABINET-: psz1=%s psz2=%s psz3=%s", ReportedName(pfdin->psz1).c_str(),
                   ReportedName(pfdin->psz2).c_str(), g_CabContext.wszCabinetFolder);
        DebugTraceA("pfdie=%d", pfdin->fdie);
        DebugTraceA("setID=%d iCabinet=%d iFolder=%d", pfdin->setID, pfdin->iCabinet,
                    pfdin->iFolder);
        char szNext[PATH_CCH];
        std::wstring next;
        if (FAILED(StringCchCopyA(szNext, PATH_CCH, pfdin->psz3)) ||
            FAILED(StringCchCatA(szNext, PATH_CCH, pfdin->psz1)) || !FdiPathToWide(szNext, next)) {
            // A part of the set lies beside the first, under a name of its own.
            Fail(ERROR_INVALID_DATA);
            return FDI_FAILED;
        }
        DWORD dwAttributes = GetFileAttributesW(LongPathForm(next).c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            g_CabContext.bMissingCabinet = TRUE;
            Fail(ERROR_FILE_NOT_FOUND);
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

// The decoder's part of an unpacking, run under the fault guard.
struct CABJOB {
    const FDIAPI* pApi;
    LPCWSTR szCabinet;
    DWORD dwResult;
};

// Closes what the decoder left open when it faulted; its memory goes with
// its heap.
void ReleaseAfterFault()
{
    for (INT_PTR& slot : g_CabContext.openFiles) {
        if (slot) {
            CloseHandle(FromFdiHandle(slot));
            slot = 0;
        }
    }
}

// The code of a failed FDICopy. A refused write after Cancel reads as a
// write failure and a stopped read as a corrupt cabinet: both are a cancel.
// A missing part of the set is a missing file.
DWORD CopyFailureCode(int iCode)
{
    if (g_bCancel)
        return ERROR_CANCELLED;
    if (g_CabContext.dwFailure)
        return g_CabContext.dwFailure;
    if (g_CabContext.bMissingCabinet)
        return ERROR_FILE_NOT_FOUND;
    return FdiErrorCode(iCode);
}

DWORD CopyCabinet(const FDIAPI* pApi, LPCWSTR szCabinet)
{
    ERF erf;
    ZeroMemory(&erf, sizeof(erf));
    HFDI hfdi = CreateFdi(pApi, &erf);
    if (!hfdi) {
        DebugTraceA("UnPackCABFile()->FDICreate() failed: code %d [%s]", erf.erfOper,
                    FdiErrorText(erf.erfOper));
        return FdiErrorCode(erf.erfOper);
    }

    HANDLE hCabinet = CreateFileW(szCabinet, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hCabinet == INVALID_HANDLE_VALUE) {
        pApi->pfnDestroy(hfdi);
        DebugTrace(L"UnPackCABFile()->Unable to open '%s' for input", szCabinet);
        return ERROR_FILE_NOT_FOUND;
    }
    FDICABINETINFO info;
    ZeroMemory(&info, sizeof(info));
    BOOL bIsCabinet = pApi->pfnIsCabinet(hfdi, ToFdiHandle(hCabinet), &info);
    CloseHandle(hCabinet);
    if (!bIsCabinet) {
        pApi->pfnDestroy(hfdi);
        DebugTrace(L"UnPackCABFile()->FDIIsCabinet() failed: '%s' is not a cabinet", szCabinet);
        return ERROR_INVALID_DATA;
    }
    DebugTrace(L"UnPackCABFile()->cabinet file: %s", szCabinet);
    DebugTraceA("UnPackCABFile()->CAB: Tot. lght: %d - Nb folders: %d - Nb files: %d",
                info.cbCabinet, info.cFolders, info.cFiles);

    // Cabinet name and the folder that holds it (and the rest of its set).
    LPCWSTR pszName = EntryFileName(szCabinet);
    // Parts of a PATH_CCH path.
    (void)StringCchCopyNW(g_CabContext.wszCabinetFolder, PATH_CCH, szCabinet,
                          static_cast<size_t>(pszName - szCabinet));
    (void)StringCchCopyW(g_CabContext.wszCabinetName, PATH_CCH, pszName);
    DebugTrace(L"UnPackCABFile()->CabinetPath=%s CabinetName=%s", g_CabContext.wszCabinetFolder,
               g_CabContext.wszCabinetName);
    DebugTrace(L"UnPackCABFile()->TargetDir=%s", g_CabContext.wszTargetDir);

    // One FDICopy unpacks the members that start in that cabinet (a member
    // that runs on into the next one is followed there); the members that
    // start in the later cabinets of a set need a call of their own.
    char szCurrent[PATH_CCH];
    // Fits.
    (void)StringCchCopyA(szCurrent, PATH_CCH, FDI_FIRST);
    for (DWORD dwPart = 0; dwPart < MAX_CABINETS_IN_SET; ++dwPart) {
        g_CabContext.szNextCabinet[0] = '\0';
        g_CabContext.bCabinetInfoSeen = FALSE;
        char szFdiFolder[sizeof(FDI_FOLDER)];
        // Fits.
        (void)StringCchCopyA(szFdiFolder, ARRAYSIZE(szFdiFolder), FDI_FOLDER);
        BOOL bCopied = pApi->pfnCopy(hfdi, szCurrent, szFdiFolder, 0, FdiNotify, nullptr, nullptr);
        if (bCopied && (g_bCancel || g_CabContext.dwFailure)) {
            // The last member failed after the decoder had nothing left to read.
            bCopied = FALSE;
        }
        if (!bCopied) {
            int iCode = erf.erfOper;
            if (iCode == FDIERROR_USER_ABORT && g_CabContext.bFoundFileToExtract && !MustStop()) {
                // We stopped the copy ourselves, right after the wanted member.
                DebugTrace(L"UnPackCABFile()->%s extracted", g_CabContext.wszFileToExtract);
                break;
            }
            DebugTraceA("UnPackCABFile()->FDICopy() failed: code %d [%s]", iCode,
                        FdiErrorText(iCode));
            pApi->pfnDestroy(hfdi);
            return CopyFailureCode(iCode);
        }
        if (g_CabContext.bFoundFileToExtract || !g_CabContext.szNextCabinet[0])
            break;
        char szNext[PATH_CCH];
        std::wstring next;
        if (FAILED(StringCchPrintfA(szNext, PATH_CCH, "%s%s", FDI_FOLDER,
                                    g_CabContext.szNextCabinet)) ||
            !FdiPathToWide(szNext, next) ||
            GetFileAttributesW(LongPathForm(next).c_str()) == INVALID_FILE_ATTRIBUTES) {
            DebugTrace(L"UnPackCABFile()->Next cabinet %s not found",
                       ReportedName(g_CabContext.szNextCabinet).c_str());
            pApi->pfnDestroy(hfdi);
            return ERROR_FILE_NOT_FOUND;
        }
        // Same capacity.
        (void)StringCchCopyA(szCurrent, PATH_CCH, g_CabContext.szNextCabinet);
    }
    DWORD dwResult = 0;
    if (!pApi->pfnDestroy(hfdi)) {
        dwResult = 12;
        DebugTraceA("UnPackCABFile()->FDIDestroy() failed: code %d [%s]", erf.erfOper,
                    FdiErrorText(erf.erfOper));
    }
    return dwResult;
}

DWORD CopyCabinetJob(void* pv)
{
    CABJOB* pJob = static_cast<CABJOB*>(pv);
    return CopyCabinet(pJob->pApi, pJob->szCabinet);
}

DWORD UnPackCabinet(LPCWSTR szCabinet, LPCWSTR szTargetDir, LPCWSTR szFileToExtract,
                    BOOL bRestoreFolders)
{
    g_CabContext = CABCONTEXT();
    g_CabContext.bRestoreFolders = bRestoreFolders;
    // A member name or a target folder cut short would write elsewhere.
    WCHAR* szTarget = g_CabContext.wszTargetDir;
    if (FAILED(StringCchCopyW(g_CabContext.wszFileToExtract, PATH_CCH, szFileToExtract)) ||
        FAILED(StringCchCopyW(szTarget, PATH_CCH, szTargetDir)) ||
        ((!szTarget[0] || szTarget[wcslen(szTarget) - 1] != L'\\') &&
         FAILED(StringCchCatW(szTarget, PATH_CCH, L"\\")))) {
        DebugTrace(L"UnPackCABFile()->%s or %s is too long: nothing unpacked", szTargetDir,
                   szFileToExtract);
        return ERROR_FILENAME_EXCED_RANGE;
    }

    const FDIAPI* pApi = GetFdi();
    if (!pApi) {
        DebugTraceA("UnPackCABFile()->FDICreate() failed: code %d [%s]", FDIERROR_ALLOC_FAIL,
                    FdiErrorText(FDIERROR_ALLOC_FAIL));
        return FdiErrorCode(FDIERROR_ALLOC_FAIL);
    }
    g_CabContext.hHeap = HeapCreate(0, 0, 0);
    g_CabContext.bUnpacking = TRUE;
    CABJOB job = {pApi, szCabinet, 0};
    DWORD dwResult = 0;
    DWORD dwFault = 0;
    // The system's decoder reads past its buffers on some damaged blocks:
    // such a fault ends the unpacking as a corrupt cabinet, not the run.
    if (!RunGuarded(L"UnPackCABFile()", CopyCabinetJob, &job, &dwResult, &dwFault)) {
        DebugTrace(L"UnPackCABFile()->Decoder fault %#x: '%s' is corrupt", dwFault, szCabinet);
        ReleaseAfterFault();
        dwResult = g_bCancel ? ERROR_CANCELLED : ERROR_INVALID_DATA;
    }
    g_CabContext.bUnpacking = FALSE;
    if (g_CabContext.hHeap) {
        HeapDestroy(g_CabContext.hHeap);
        g_CabContext.hHeap = nullptr;
    }
    if (dwResult == 0 && g_CabContext.wszFileToExtract[0] && !g_CabContext.bFoundFileToExtract) {
        DebugTrace(L"UnPackCABFile()->%s not in the cabinet", g_CabContext.wszFileToExtract);
        dwResult = ERROR_FILE_NOT_FOUND;
    }
    if (g_bCancel)
        dwResult = ERROR_CANCELLED;
    if (dwResult != 0)
        DropWrittenMembers();
    DebugTraceA("UnPackCABFile()->End(%d)", dwResult);
    return dwResult;
}

}  // namespace

DWORD UnPackCABFile(LPCSTR szCabinet, LPCSTR szTargetDir, LPCSTR szFileToExtract,
                    BOOL bRestoreFolders)
{
    WCHAR wszCabinet[PATH_CCH];
    WCHAR wszTargetDir[PATH_CCH];
    WCHAR wszFileToExtract[PATH_CCH];
    if (!szCabinet || !szTargetDir ||
        NameToWide(szCabinet, wszCabinet, PATH_CCH, CP_ACP) != ERROR_SUCCESS ||
        NameToWide(szTargetDir, wszTargetDir, PATH_CCH, CP_ACP) != ERROR_SUCCESS ||
        NameToWide(szFileToExtract, wszFileToExtract, PATH_CCH, CP_ACP) != ERROR_SUCCESS)
        return ERROR_INVALID_PARAMETER;
    return UnPackCABFile(wszCabinet, wszTargetDir, wszFileToExtract, bRestoreFolders);
}

DWORD UnPackCABFile(LPCWSTR szCabinet, LPCWSTR szTargetDir, LPCWSTR szFileToExtract,
                    BOOL bRestoreFolders)
{
    if (!szCabinet || !szTargetDir || wcslen(szCabinet) >= PATH_CCH ||
        wcslen(szTargetDir) >= PATH_CCH ||
        (szFileToExtract && wcslen(szFileToExtract) >= PATH_CCH))
        return ERROR_INVALID_PARAMETER;
    return UnPackCabinet(szCabinet, szTargetDir, szFileToExtract ? szFileToExtract : L"",
                         bRestoreFolders);
}

namespace {

struct PROBEJOB {
    const FDIAPI* pApi;
    LPCWSTR szPath;
};

DWORD ProbeCabinetJob(void* pv)
{
    PROBEJOB* pJob = static_cast<PROBEJOB*>(pv);
    ERF erf;
    ZeroMemory(&erf, sizeof(erf));
    HFDI hfdi = CreateFdi(pJob->pApi, &erf);
    if (!hfdi)
        return FALSE;
    BOOL bResult = FALSE;
    HANDLE hFile = CreateFileW(pJob->szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        FDICABINETINFO info;
        ZeroMemory(&info, sizeof(info));
        bResult = pJob->pApi->pfnIsCabinet(hfdi, ToFdiHandle(hFile), &info);
        CloseHandle(hFile);
    }
    pJob->pApi->pfnDestroy(hfdi);
    return bResult;
}

}  // namespace

BOOL IsCabinetFile(LPCWSTR szPath)
{
    const FDIAPI* pApi = GetFdi();
    if (!pApi || !szPath)
        return FALSE;
    // The header reader is the system's too: it runs under the same guard,
    // with the process heap (it keeps nothing).
    PROBEJOB job = {pApi, szPath};
    DWORD dwResult = FALSE;
    DWORD dwFault = 0;
    if (!RunGuarded(L"IsCabinetFile()", ProbeCabinetJob, &job, &dwResult, &dwFault))
        return FALSE;
    return dwResult != 0;
}
