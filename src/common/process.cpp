#include "common/process.h"
#include <shellapi.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <tlhelp32.h>
#include <winternl.h>
#include "common/cancel.h"
#include "common/capacity.h"
#include "common/handles.h"
#include "common/pathguard.h"
#include "common/textcmp.h"
#include "common/trace.h"

namespace {

// First wait on a fresh process, then one wait per pass of the loop.
const DWORD FIRST_WAIT_MS = 100;
const DWORD NEXT_WAIT_MS = 1000;

LPCWSTR OrEmpty(LPCWSTR sz)
{
    return sz ? sz : L"";
}

bool WaitIsOver(DWORD dwWait)
{
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED || dwWait == WAIT_ABANDONED;
}

enum : DWORD {
    KILL_WAIT_MS = 5000,  // a process gets this long to close on WM_CLOSE
    PUMP_PASS_MS = 10,    // pause between two passes of the message pump
};

typedef HANDLE(WINAPI* PFN_CREATESNAPSHOT)(DWORD, DWORD);
typedef BOOL(WINAPI* PFN_PROCESSWALK)(HANDLE, PROCESSENTRY32W*);
typedef BOOL(WINAPI* PFN_MODULEWALK)(HANDLE, MODULEENTRY32W*);
typedef NTSTATUS(WINAPI* PFN_QUERYSYSTEMINFORMATION)(ULONG, PVOID, ULONG, PULONG);

BOOL IsBareFileName(LPCWSTR szProgram)
{
    return !wcspbrk(szProgram, L"\\/:");
}


template <class T>
T KernelProc(LPCSTR szName)
{
    HMODULE hKernel = GetModuleHandleW(L"Kernel32");
    return hKernel ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hKernel, szName)))
                   : nullptr;
}

// Full path of a process's main module through a module snapshot.
BOOL MainModulePath(PFN_CREATESNAPSHOT pSnapshot, DWORD dwPid, LPWSTR szPath, size_t cch)
{
    auto pFirst = KernelProc<PFN_MODULEWALK>("Module32FirstW");
    if (!pFirst)
        return FALSE;
    CHandle hSnap(pSnapshot(TH32CS_SNAPMODULE, dwPid));
    if (!hSnap.Get())
        return FALSE;
    MODULEENTRY32W me = {};
    me.dwSize = sizeof(me);
    if (!pFirst(hSnap.Get(), &me))
        return FALSE;
    return SUCCEEDED(StringCchCopyW(szPath, cch, me.szExePath));
}

BOOL ProcessImagePath(PFN_CREATESNAPSHOT pSnapshot, DWORD dwPid, LPWSTR szPath, size_t cch);

// Processes a caller may not touch: those whose image path begins with
// szSpare, unless it lies below szOwn.
struct SPARE {
    LPCWSTR szSpare;
    LPCWSTR szOwn;
};

BOOL IsSpared(PFN_CREATESNAPSHOT pSnapshot, DWORD dwPid, const SPARE* pSpare)
{
    if (!pSpare || !pSpare->szSpare || !pSpare->szSpare[0])
        return FALSE;
    WCHAR szPath[PATH_CCH];
    WCHAR szImage[PATH_CCH];
    WCHAR szSpare[PATH_CCH];
    if (!ProcessImagePath(pSnapshot, dwPid, szPath, ARRAYSIZE(szPath)) ||
        NormalisePath(szPath, szImage) != ERROR_SUCCESS ||
        NormalisePath(pSpare->szSpare, szSpare) != ERROR_SUCCESS)
        return FALSE;
    if (_wcsnicmp(szImage, szSpare, wcslen(szSpare)) != 0)
        return FALSE;
    return !(pSpare->szOwn && pSpare->szOwn[0] && IsSameOrBelowPath(pSpare->szOwn, szImage));
}

// Process id of the first process that matches, 0 when none. *pbAvailable
// is FALSE when the process-snapshot functions are missing.
DWORD FindProcessBySnapshot(LPCWSTR szProgram, DWORD dwSkipPid, BOOL* pbAvailable,
                            const SPARE* pSpare = nullptr)
{
    auto pSnapshot = KernelProc<PFN_CREATESNAPSHOT>("CreateToolhelp32Snapshot");
    auto pFirst = KernelProc<PFN_PROCESSWALK>("Process32FirstW");
    auto pNext = KernelProc<PFN_PROCESSWALK>("Process32NextW");
    *pbAvailable = pSnapshot && pFirst && pNext;
    if (!*pbAvailable)
        return 0;
    CHandle hSnap(pSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnap.Get())
        return 0;
    BOOL bBare = IsBareFileName(szProgram);
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL bMore = pFirst(hSnap.Get(), &pe); bMore; bMore = pNext(hSnap.Get(), &pe)) {
        if (pe.th32ProcessID == dwSkipPid)
            continue;
        BOOL bMatch = FALSE;
        if (bBare) {
            bMatch = ScriptCompareNoCase(PathFindFileNameW(pe.szExeFile), szProgram) == 0;
        } else {
            WCHAR szPath[PATH_CCH];
            bMatch = MainModulePath(pSnapshot, pe.th32ProcessID, szPath, ARRAYSIZE(szPath)) &&
                     ScriptCompareNoCase(szPath, szProgram) == 0;
        }
        if (!bMatch)
            continue;
        if (IsSpared(pSnapshot, pe.th32ProcessID, pSpare)) {
            DebugTrace(L"KillModule(%s)->Process %u belongs to another run: left alone", szProgram,
                       static_cast<unsigned>(pe.th32ProcessID));
            continue;
        }
        return pe.th32ProcessID;
    }
    return 0;
}

}  // namespace

DWORD FindProcessByNtQuery(LPCWSTR szProgram, DWORD dwSkipPid)
{
    HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    auto pQuery = hNtdll ? reinterpret_cast<PFN_QUERYSYSTEMINFORMATION>(reinterpret_cast<void*>(
                               GetProcAddress(hNtdll, "ZwQuerySystemInformation")))
                         : nullptr;
    if (!pQuery)
        return 0;
    const ULONG SystemProcessInformation = 5;
    const NTSTATUS STATUS_INFO_LENGTH_MISMATCH_ = static_cast<NTSTATUS>(0xC0000004L);
    HANDLE hHeap = GetProcessHeap();
    ULONG cb = 0x10000;
    BYTE* pBuffer = nullptr;
    NTSTATUS status;
    for (int i = 0; i < 8; ++i) {
        pBuffer = static_cast<BYTE*>(HeapAlloc(hHeap, 0, cb));
        if (!pBuffer)
            return 0;
        ULONG cbNeeded = 0;
        status = pQuery(SystemProcessInformation, pBuffer, cb, &cbNeeded);
        if (status != STATUS_INFO_LENGTH_MISMATCH_)
            break;
        HeapFree(hHeap, 0, pBuffer);
        pBuffer = nullptr;
        cb = cbNeeded > cb ? cbNeeded + 0x1000 : cb * 2;
    }
    if (!pBuffer)
        return 0;
    DWORD dwPid = 0;
    if (status >= 0) {
        LPCWSTR szName = PathFindFileNameW(szProgram);
        ULONG offset = 0;
        for (;;) {
            auto* pInfo = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(pBuffer + offset);
            DWORD dwThisPid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pInfo->UniqueProcessId));
            if (pInfo->ImageName.Buffer && dwThisPid != dwSkipPid) {
                WCHAR szImage[PATH_CCH];
                size_t cch = pInfo->ImageName.Length / sizeof(WCHAR);
                if (cch < ARRAYSIZE(szImage)) {
                    memcpy(szImage, pInfo->ImageName.Buffer, cch * sizeof(WCHAR));
                    szImage[cch] = 0;
                    if (ScriptCompareNoCase(PathFindFileNameW(szImage), szName) == 0) {
                        dwPid = dwThisPid;
                        break;
                    }
                }
            }
            if (!pInfo->NextEntryOffset || offset + pInfo->NextEntryOffset >= cb)
                break;
            offset += pInfo->NextEntryOffset;
        }
    }
    HeapFree(hHeap, 0, pBuffer);
    return dwPid;
}

namespace {

// Process id of the first process other than dwSkipPid that matches
// szProgram, 0 when none.
DWORD FindProcess(LPCWSTR szProgram, DWORD dwSkipPid, const SPARE* pSpare = nullptr)
{
    if (!szProgram[0])
        return 0;
    BOOL bAvailable;
    DWORD dwPid = FindProcessBySnapshot(szProgram, dwSkipPid, &bAvailable, pSpare);
    return bAvailable ? dwPid : FindProcessByNtQuery(szProgram, dwSkipPid);
}

// Full path of a process's image, or FALSE when it can not be read.
BOOL ProcessImagePath(PFN_CREATESNAPSHOT pSnapshot, DWORD dwPid, LPWSTR szPath, size_t cch)
{
    typedef BOOL(WINAPI * PFN_QUERYIMAGENAME)(HANDLE, DWORD, LPWSTR, PDWORD);
    auto pQuery = KernelProc<PFN_QUERYIMAGENAME>("QueryFullProcessImageNameW");
    CHandle hProcess(pQuery ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid) : nullptr);
    if (hProcess.Get()) {
        DWORD cchPath = static_cast<DWORD>(cch);
        if (pQuery(hProcess.Get(), 0, szPath, &cchPath))
            return TRUE;
    }
    return MainModulePath(pSnapshot, dwPid, szPath, cch);
}

// The process other than this one whose image is szImage (normalised).
DWORD FindProcessByImage(LPCWSTR szImage)
{
    auto pSnapshot = KernelProc<PFN_CREATESNAPSHOT>("CreateToolhelp32Snapshot");
    auto pFirst = KernelProc<PFN_PROCESSWALK>("Process32FirstW");
    auto pNext = KernelProc<PFN_PROCESSWALK>("Process32NextW");
    if (!pSnapshot || !pFirst || !pNext)
        return 0;
    CHandle hSnap(pSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnap.Get())
        return 0;
    DWORD dwSelf = GetCurrentProcessId();
    LPCWSTR szName = PathFindFileNameW(szImage);
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL bMore = pFirst(hSnap.Get(), &pe); bMore; bMore = pNext(hSnap.Get(), &pe)) {
        // The name narrows the search; only the whole path decides.
        if (pe.th32ProcessID == dwSelf ||
            ScriptCompareNoCase(PathFindFileNameW(pe.szExeFile), szName) != 0)
            continue;
        WCHAR szPath[PATH_CCH];
        WCHAR szNormal[PATH_CCH];
        if (ProcessImagePath(pSnapshot, pe.th32ProcessID, szPath, ARRAYSIZE(szPath)) &&
            NormalisePath(szPath, szNormal) == ERROR_SUCCESS && lstrcmpiW(szNormal, szImage) == 0)
            return pe.th32ProcessID;
    }
    return 0;
}

struct CLOSEWINDOWS {
    DWORD dwPid;
    int nPosted;
};

BOOL CALLBACK PostCloseToWindow(HWND hWnd, LPARAM lParam)
{
    auto* pClose = reinterpret_cast<CLOSEWINDOWS*>(lParam);
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid == pClose->dwPid && PostMessageW(hWnd, WM_CLOSE, 0, 0))
        ++pClose->nPosted;
    return TRUE;
}

}  // namespace

DWORD ExecuteFile(HWND hWnd, LPCWSTR szFile, LPCWSTR szParams, LPCWSTR szDir, LPCWSTR szVerb,
                  BOOL bWait, int nShowCmd, DWORD* pdwExitCode, HANDLE* phProcess)
{
    DebugTrace(L"ExecuteFile(%s, %s, %s, %d (Wait=1), %d (ShowWindow))->Begin", OrEmpty(szFile),
               OrEmpty(szParams), OrEmpty(szVerb), bWait, nShowCmd);
    if (phProcess)
        *phProcess = nullptr;
    if (!szFile || !*szFile || !PathFileExistsW(szFile))
        return ERROR_FILE_NOT_FOUND;

    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = EXECUTE_FILE_MASK;
    sei.lpFile = szFile;
    sei.lpVerb = (szVerb && *szVerb) ? szVerb : nullptr;
    sei.lpParameters = szParams;
    sei.nShow = nShowCmd;
    sei.hwnd = hWnd ? nullptr : GetActiveWindow();
    if (szDir && *szDir)
        sei.lpDirectory = szDir;

    DebugTrace(L"ExecuteFile()->Directory=%s", OrEmpty(szDir));
    BOOL bResult = ShellExecuteExW(&sei);
    DWORD dwError = bResult ? ERROR_SUCCESS : GetLastError();
    HANDLE hProcess = bResult ? sei.hProcess : nullptr;

    DWORD dwExitCode = pdwExitCode ? *pdwExitCode : 0;
    // Traced; a wait cut short by a cancel leaves the exit code as it was.
    if (bResult && bWait)
        (void)WaitForProcess(hWnd, hProcess, pdwExitCode ? pdwExitCode : &dwExitCode);
    if (pdwExitCode)
        dwExitCode = *pdwExitCode;

    if (phProcess)
        *phProcess = hProcess;
    else if (hProcess)
        CloseHandle(hProcess);
    DebugTrace(L"ExecuteFile()->End(%d - %#x)", bResult, dwExitCode);
    if (!bResult)
        return dwError ? dwError : ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

BOOL FindModule(LPCWSTR szProgram)
{
    DWORD dwPid = FindProcess(szProgram, 0);
    if (dwPid) {
        // Matched: make sure it can be waited for and ended.
        CHandle hProcess(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwPid));
        DebugTrace(L"FindModule->%s is loaded in memory!", szProgram);
        return TRUE;
    }
    DebugTrace(L"FindModule->%s isn't in the memory!", szProgram);
    return FALSE;
}

namespace {

// Closes one process: WM_CLOSE to its windows, termination after 5 s.
BOOL EndProcess(LPCWSTR szProgram, DWORD dwPid)
{
    CHandle hProcess(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwPid));
    if (!hProcess.Get()) {
        DebugTrace(L"KillModule(%s)->OpenProcess failed (%d)", szProgram,
                   static_cast<int>(GetLastError()));
        return FALSE;
    }
    CLOSEWINDOWS close = {dwPid, 0};
    EnumWindows(PostCloseToWindow, reinterpret_cast<LPARAM>(&close));
    DebugTrace(L"KillModule(%s)->WM_CLOSE posted to %d window(s)", szProgram, close.nPosted);
    if (WaitForSingleObject(hProcess.Get(), KILL_WAIT_MS) == WAIT_OBJECT_0) {
        DebugTrace(L"KillModule(%s)->Closed", szProgram);
        return TRUE;
    }
    BOOL bResult = TerminateProcess(hProcess.Get(), 0);
    if (bResult)
        WaitForSingleObject(hProcess.Get(), KILL_WAIT_MS);
    DebugTrace(L"KillModule(%s)->TerminateProcess=%d", szProgram, bResult);
    return bResult;
}

}  // namespace

BOOL KillModule(LPCWSTR szProgram, LPCWSTR szSpare, LPCWSTR szOwn)
{
    // Never ourselves: a launcher is often named like the program its
    // script closes (setup.exe).
    SPARE spare = {szSpare, szOwn};
    DWORD dwPid = FindProcess(szProgram, GetCurrentProcessId(), &spare);
    if (!dwPid) {
        DebugTrace(L"KillModule(%s)->No process to end", szProgram);
        return FALSE;
    }
    return EndProcess(szProgram, dwPid);
}

BOOL KillModuleByPath(LPCWSTR szImage)
{
    WCHAR szNormal[PATH_CCH];
    DWORD dwPid =
        NormalisePath(szImage, szNormal) == ERROR_SUCCESS ? FindProcessByImage(szNormal) : 0;
    if (!dwPid) {
        DebugTrace(L"KillModule(%s)->No process to end", szImage);
        return FALSE;
    }
    return EndProcess(szImage, dwPid);
}

DWORD WaitForProcess(HWND hWnd, HANDLE hProcess, DWORD* pdwExitCode)
{
    DWORD dwWait = WaitForSingleObject(hProcess, FIRST_WAIT_MS);
    DWORD dwStart = GetTickCount();
    DebugTrace(L"ExecuteFile()->WaitForSingleObject=%#X", dwWait);
    while (!WaitIsOver(dwWait) && !IsCancelled()) {
        dwWait = WaitForSingleObject(hProcess, NEXT_WAIT_MS);
        PumpMessagesFor(hWnd, 0);
    }
    // A wait cut short by the cancel flag leaves the code alone: a program
    // that still runs has none yet (STILL_ACTIVE is no outcome).
    DWORD dwExitCode = 0;
    if (hProcess && WaitIsOver(dwWait) && dwWait != WAIT_FAILED &&
        GetExitCodeProcess(hProcess, &dwExitCode) && pdwExitCode)
        *pdwExitCode = dwExitCode;
    DebugTrace(L"ExecuteFile()->WaitForSingleObject=%#X Time=%d ms", dwWait,
               GetTickCount() - dwStart);
    return dwWait;
}

namespace {

// The one program whose files the end of the run must not take from under
// it; set on the worker, read at the end of the run on the main thread.
HANDLE volatile g_hLaunched;

}  // namespace

void KeepLaunchedProgram(HANDLE hProcess)
{
    HANDLE hCopy = nullptr;
    if (hProcess && DuplicateHandle(GetCurrentProcess(), hProcess, GetCurrentProcess(), &hCopy,
                                    SYNCHRONIZE, FALSE, 0)) {
        HANDLE hOld = InterlockedExchangePointer(const_cast<HANDLE*>(&g_hLaunched), hCopy);
        if (hOld)
            CloseHandle(hOld);
    }
}

BOOL WaitForLaunchedProgram()
{
    HANDLE hProcess = InterlockedExchangePointer(const_cast<HANDLE*>(&g_hLaunched), nullptr);
    if (!hProcess)
        return FALSE;
    BOOL bWaited = WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
    if (bWaited) {
        DebugTrace(L"WaitForLaunchedProgram()->The setup program still runs: its files are "
                   L"removed once it has ended");
        DWORD dwStart = GetTickCount();
        WaitForSingleObject(hProcess, INFINITE);
        DebugTrace(L"WaitForLaunchedProgram()->Ended after %u ms", GetTickCount() - dwStart);
    }
    CloseHandle(hProcess);
    return bWaited;
}

void PumpMessagesFor(HWND hWnd, DWORD dwMilliseconds)
{
    DWORD dwStart = GetTickCount();
    do {
        MSG msg;
        if (PeekMessageW(&msg, hWnd, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        // Sleep on every pass, message or not: an empty queue must not spin.
        Sleep(PUMP_PASS_MS);
    } while (GetTickCount() - dwStart <= dwMilliseconds && dwMilliseconds != 0);
}
