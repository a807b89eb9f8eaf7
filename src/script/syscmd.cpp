#include "script/syscmd.h"
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdlib.h>
#include <strsafe.h>
#include <tlhelp32.h>
#include <winternl.h>
#include "common/filesys.h"
#include "common/osversion.h"
#include "common/trace.h"
#include "launcher/state.h"
#include "script/condition.h"
#include "script/register.h"
#include "script/script.h"
#include "ui/launch.h"

namespace {

enum : DWORD {
    KILL_WAIT_MS = 5000,         // a process gets this long to close on WM_CLOSE
    SERVICE_PUMP_SLEEP_MS = 200, // between message checks while a service changes state
};

// A COM interface pointer, released once.
template <class T>
class CComPtr {
public:
    CComPtr() : m_p(nullptr) {}
    ~CComPtr()
    {
        if (m_p)
            m_p->Release();
    }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void** Out() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p;
};

// A handle of the service control manager, closed once.
class CServiceHandle {
public:
    explicit CServiceHandle(SC_HANDLE h) : m_h(h) {}
    ~CServiceHandle()
    {
        if (m_h)
            CloseServiceHandle(m_h);
    }
    CServiceHandle(const CServiceHandle&) = delete;
    CServiceHandle& operator=(const CServiceHandle&) = delete;
    SC_HANDLE Get() const { return m_h; }

private:
    SC_HANDLE m_h;
};

// A kernel handle, closed once.
class CHandle {
public:
    explicit CHandle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~CHandle()
    {
        if (m_h)
            CloseHandle(m_h);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

void RemoveTrailingBackslash(LPWSTR szPath)
{
    size_t cch = wcslen(szPath);
    if (cch > 0 && szPath[cch - 1] == L'\\')
        szPath[cch - 1] = 0;
}

BOOL IsBareFileName(LPCWSTR szProgram)
{
    return !wcspbrk(szProgram, L"\\/:");
}

typedef HANDLE(WINAPI* PFN_CREATESNAPSHOT)(DWORD, DWORD);
typedef BOOL(WINAPI* PFN_PROCESSWALK)(HANDLE, PROCESSENTRY32W*);
typedef BOOL(WINAPI* PFN_MODULEWALK)(HANDLE, MODULEENTRY32W*);
typedef NTSTATUS(WINAPI* PFN_QUERYSYSTEMINFORMATION)(ULONG, PVOID, ULONG, PULONG);

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

// Process id of the first process that matches, 0 when none. *pbAvailable
// is FALSE when the process-snapshot functions are missing.
DWORD FindProcessBySnapshot(LPCWSTR szProgram, DWORD dwSkipPid, BOOL* pbAvailable)
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
        if (bBare) {
            if (ScriptCompareNoCase(PathFindFileNameW(pe.szExeFile), szProgram) == 0)
                return pe.th32ProcessID;
            continue;
        }
        WCHAR szPath[PATH_CCH];
        if (MainModulePath(pSnapshot, pe.th32ProcessID, szPath, ARRAYSIZE(szPath)) &&
            ScriptCompareNoCase(szPath, szProgram) == 0)
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
DWORD FindProcess(LPCWSTR szProgram, DWORD dwSkipPid)
{
    if (!szProgram[0])
        return 0;
    BOOL bAvailable;
    DWORD dwPid = FindProcessBySnapshot(szProgram, dwSkipPid, &bAvailable);
    return bAvailable ? dwPid : FindProcessByNtQuery(szProgram, dwSkipPid);
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

// Keeps the calling thread's messages flowing for dwMilliseconds.
void PumpMessagesWhile(DWORD dwMilliseconds)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (GetTickCount() - dwStart >= dwMilliseconds)
            break;
        Sleep(SERVICE_PUMP_SLEEP_MS);
    }
}

DWORD ClampWait(DWORD dwWait)
{
    return dwWait < 1000 ? 1000 : (dwWait > 10000 ? 10000 : dwWait);
}

}  // namespace

BOOL CreateShortCut(LPCWSTR szFolder, LPCWSTR szName, LPCWSTR szTarget, LPCWSTR szArguments,
                    LPCWSTR szDescription, int nShowCmd, LPCWSTR szWorkingDir,
                    LPCWSTR szIconFile, int iIconIndex)
{
    if (!szFolder[0] || !szName[0] || !szTarget[0] || nShowCmd < 0 || iIconIndex < 0) {
        DebugTrace(L"CreateShortCut->Bad parameters!");
        return FALSE;
    }
    if (!PathFileExistsW(szTarget)) {
        DebugTrace(L"CreateShortCut->'%s' doesn't exist!", szTarget);
        return FALSE;
    }

    // Shortcut file: the file-name part of the name, with ".lnk" unless it
    // already ends so.
    WCHAR szFile[PATH_CCH];
    StringCchCopyW(szFile, ARRAYSIZE(szFile), PathFindFileNameW(szName));
    if (ScriptCompareNoCase(PathFindExtensionW(szFile), L".lnk") != 0 &&
        FAILED(StringCchCatW(szFile, ARRAYSIZE(szFile), L".lnk")))
        return FALSE;
    WCHAR szDir[PATH_CCH], szPath[PATH_CCH];
    StringCchCopyW(szDir, ARRAYSIZE(szDir), szFolder);
    RemoveTrailingBackslash(szDir);
    if (FAILED(StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s", szDir, szFile))) {
        DebugTrace(L"CreateShortCut->Path too long!");
        return FALSE;
    }

    BOOL bResult = FALSE;
    HRESULT hrInit = CoInitialize(nullptr);
    {
        CComPtr<IShellLinkW> pLink;
        CComPtr<IPersistFile> pFile;
        HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, pLink.Out());
        if (FAILED(hr)) {
            DebugTrace(L"CreateShortCut->CoCreateInstance failed (%#x)", static_cast<unsigned>(hr));
        } else {
            pLink->SetPath(szTarget);
            pLink->SetArguments(szArguments);
            if (szDescription[0])
                pLink->SetDescription(szDescription);
            if (nShowCmd > 0)
                pLink->SetShowCmd(nShowCmd);
            if (szWorkingDir[0])
                pLink->SetWorkingDirectory(szWorkingDir);
            if (szIconFile[0])
                pLink->SetIconLocation(szIconFile, iIconIndex);

            if (!PathIsDirectoryW(szDir)) {
                DebugTrace(L"CreateShortCut->'%s' doesn't exist!", szDir);
                CreateAllDirectory(szDir);
            }
            hr = pLink->QueryInterface(IID_IPersistFile, pFile.Out());
            if (SUCCEEDED(hr))
                hr = pFile->Save(szPath, TRUE);
            DebugTrace(L"CreateShortCut->PersistFile->Save(%s)->%d", szPath, static_cast<int>(hr));
            bResult = hr == S_OK;
        }
    }
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    DebugTrace(L"CreateShortCut->End(%d)", bResult);
    return bResult;
}

BOOL RemoveShortCut(LPCWSTR szFolder, LPCWSTR szName)
{
    WCHAR szDir[PATH_CCH], szPath[PATH_CCH];
    StringCchCopyW(szDir, ARRAYSIZE(szDir), szFolder);
    RemoveTrailingBackslash(szDir);
    LPCWSTR szExt = PathFindExtensionW(szName);
    HRESULT hr;
    if (*szExt) {
        if (ScriptCompareNoCase(szExt, L".lnk") != 0)
            return FALSE;
        // A full path stands for itself; a bare name lives in the folder,
        // as CreateShortCut put it there (never in the current directory).
        if (!PathIsRelativeW(szName))
            hr = StringCchCopyW(szPath, ARRAYSIZE(szPath), szName);
        else
            hr = StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s", szDir,
                                  PathFindFileNameW(szName));
    } else {
        hr = StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s.lnk", szDir,
                              PathFindFileNameW(szName));
    }
    if (FAILED(hr))
        return FALSE;
    BOOL bResult = DeleteFileW(szPath);
    DebugTrace(L"RemoveShortCut(%s)->%d", szPath, bResult);
    return bResult;
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

BOOL KillModule(LPCWSTR szProgram)
{
    // Never ourselves: a launcher is often named like the program its
    // script closes (setup.exe).
    DWORD dwPid = FindProcess(szProgram, GetCurrentProcessId());
    if (!dwPid) {
        DebugTrace(L"KillModule(%s)->No process to end", szProgram);
        return FALSE;
    }
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

BOOL WaitForServiceToReachState(SC_HANDLE hService, DWORD dwDesiredState,
                                SERVICE_STATUS* pStatus)
{
    DWORD dwTimeout = pStatus->dwWaitHint < 1000 ? 5000 : pStatus->dwWaitHint;
    DWORD dwPoll = ClampWait(dwTimeout / 10);
    DWORD dwCheckPoint = pStatus->dwCheckPoint;
    DWORD dwStart = GetTickCount();
    while (pStatus->dwCurrentState != dwDesiredState) {
        PumpMessagesWhile(dwPoll);
        // A service that has stopped no longer answers the interrogation;
        // its status is read from the manager either way.
        ControlService(hService, SERVICE_CONTROL_INTERROGATE, pStatus);
        if (!QueryServiceStatus(hService, pStatus))
            break;
        if (pStatus->dwCheckPoint > dwCheckPoint) {
            dwCheckPoint = pStatus->dwCheckPoint;
            dwStart = GetTickCount();
        } else if (GetTickCount() - dwStart > 3 * dwTimeout) {
            break;
        }
    }
    if (pStatus->dwCurrentState == dwDesiredState) {
        DebugTrace(L"WaitForServiceToReachState()->Success");
        return TRUE;
    }
    DebugTrace(L"WaitForServiceToReachState()->Failed - CurrentState=%d",
               static_cast<int>(pStatus->dwCurrentState));
    return FALSE;
}

BOOL StopService(LPCWSTR szService)
{
    CServiceHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hManager.Get()) {
        DebugTrace(L"StopService()->OpenSCManager failed");
        return FALSE;
    }
    CServiceHandle hService(OpenServiceW(hManager.Get(), szService,
                                         SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE));
    if (!hService.Get()) {
        DebugTrace(L"StopService()->OpenService failed");
        return FALSE;
    }
    SERVICE_STATUS status = {};
    if (!ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) {
        DebugTrace(L"StopService()->ControlService failed");
        return FALSE;
    }
    return WaitForServiceToReachState(hService.Get(), SERVICE_STOPPED, &status);
}

BOOL IsExistService(LPCWSTR szService)
{
    CServiceHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hManager.Get()) {
        DebugTrace(L"IsExistService()->OpenSCManager failed");
        return FALSE;
    }
    CServiceHandle hService(OpenServiceW(hManager.Get(), szService, SERVICE_STOP));
    if (!hService.Get()) {
        DebugTrace(L"IsExistService()->OpenService failed");
        return FALSE;
    }
    return TRUE;
}

BOOL StartService(LPCWSTR szService)
{
    CServiceHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hManager.Get()) {
        DebugTrace(L"StartService()->OpenSCManager failed");
        return FALSE;
    }
    CServiceHandle hService(OpenServiceW(hManager.Get(), szService, SERVICE_ALL_ACCESS));
    if (!hService.Get()) {
        DebugTrace(L"StartService()->OpenService failed");
        return FALSE;
    }
    if (!::StartServiceW(hService.Get(), 0, nullptr)) {
        DWORD dwError = GetLastError();
        DebugTrace(L"StartService()->StartService failed");
        DebugTrace(L"StartService()->Error=%d", static_cast<int>(dwError));
        return FALSE;
    }
    DebugTrace(L"StartService()->Service start pending.");
    SERVICE_STATUS_PROCESS status = {};
    DWORD cbNeeded = 0;
    if (!QueryServiceStatusEx(hService.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &cbNeeded)) {
        DebugTrace(L"StartService()->QueryServiceStatusEx failed");
        return FALSE;
    }
    DWORD dwStart = GetTickCount();
    DWORD dwCheckPoint = status.dwCheckPoint;
    while (status.dwCurrentState == SERVICE_START_PENDING) {
        Sleep(ClampWait(status.dwWaitHint / 10));
        if (!QueryServiceStatusEx(hService.Get(), SC_STATUS_PROCESS_INFO,
                                  reinterpret_cast<BYTE*>(&status), sizeof(status), &cbNeeded))
            break;
        if (status.dwCheckPoint > dwCheckPoint) {
            dwCheckPoint = status.dwCheckPoint;
            dwStart = GetTickCount();
        } else if (GetTickCount() - dwStart > status.dwWaitHint) {
            break;
        }
    }
    if (status.dwCurrentState == SERVICE_RUNNING) {
        DebugTrace(L"StartService()->StartService success");
        return TRUE;
    }
    DebugTrace(L"StartService()->Service not started. Current State: %d - Exit Code: %d",
               static_cast<int>(status.dwCurrentState), static_cast<int>(status.dwWin32ExitCode));
    return FALSE;
}

UINT ScriptCreateIcon(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptCreateIcon", szParams);
    WCHAR szFolder[PATH_CCH], szName[PATH_CCH], szTarget[PATH_CCH], szWorkingDir[PATH_CCH];
    WCHAR szIconFile[PATH_CCH], szArguments[SCRIPT_TEXT_CCH], szDescription[SCRIPT_TEXT_CCH];
    WCHAR szShow[SCRIPT_TEXT_CCH], szIconIndex[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.NextExpanded(szFolder, ARRAYSIZE(szFolder));
    fields.NextExpanded(szName, ARRAYSIZE(szName));
    fields.NextExpanded(szTarget, ARRAYSIZE(szTarget));
    fields.NextExpanded(szArguments, ARRAYSIZE(szArguments));
    fields.NextExpanded(szDescription, ARRAYSIZE(szDescription));
    fields.Next(szShow, ARRAYSIZE(szShow));
    fields.NextExpanded(szWorkingDir, ARRAYSIZE(szWorkingDir));
    fields.NextExpanded(szIconFile, ARRAYSIZE(szIconFile));
    fields.Next(szIconIndex, ARRAYSIZE(szIconIndex));
    fields.Guard(guard);
    DebugTrace(L"ScriptCreateIcon()->szCondIf=%s, g_szCondition=%s", guard.szCondIf,
               g_szCondition);
    if (!fields.Valid() || !GuardOsPasses(guard) || !GuardLabelPasses(guard))
        return 0;
    DebugTrace(L"ScriptCreateIcon()->szTestOSSubVersion=%s, g_szSP=%s", guard.szSP, g_szSP);
    if (!GuardSpPasses(guard))
        return 0;

    int nShowCmd = static_cast<int>(wcstol(szShow, nullptr, 10));
    int iIconIndex = static_cast<int>(wcstol(szIconIndex, nullptr, 10));
    UINT uResult = CreateShortCut(szFolder, szName, szTarget, szArguments, szDescription, nShowCmd,
                                  szWorkingDir, szIconFile, iIconIndex)
                       ? 1
                       : 0;
    SetScriptResult(uResult);
    DebugTrace(L"ScriptCreateIcon(%s,%s,%s,%s)->%d", szTarget, szArguments, szName, szDescription,
               uResult);
    return uResult;
}

UINT ScriptRemoveIcon(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptRemoveIcon", szParams);
    WCHAR szFolder[PATH_CCH], szName[PATH_CCH];
    SCRIPTGUARD guard;
    fields.NextExpanded(szFolder, ARRAYSIZE(szFolder));
    fields.NextExpanded(szName, ARRAYSIZE(szName));
    fields.Guard(guard);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    UINT uResult = RemoveShortCut(szFolder, szName) ? 1 : 0;
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    SetScriptResult(uResult);
    DebugTrace(L"ScriptRemoveIcon(%s, %s)->%d", szFolder, szName, uResult);
    return uResult;
}

UINT ScriptExecuteFile(LPCWSTR szParams)
{
    SetScriptResult(0);
    DebugTrace(L"ScriptExecuteFile()->Parameters=%s", szParams);
    CScriptFields fields(L"ScriptExecuteFile", szParams);
    WCHAR szFile[PATH_CCH], szArgs[SCRIPT_TEXT_CCH], szDir[PATH_CCH];
    WCHAR szVerb[SCRIPT_TEXT_CCH], szOptions[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.NextExpanded(szFile, ARRAYSIZE(szFile));
    fields.ExpandRest();
    DebugTrace(L"ScriptExecuteFile()->szFullFileName=%s szParams=%s", szFile, fields.Rest());
    fields.Next(szArgs, ARRAYSIZE(szArgs));
    fields.LimitRest(PATH_CCH);
    DebugTrace(L"ScriptExecuteFile()->szDirectory=%s", fields.Rest());
    fields.Next(szDir, ARRAYSIZE(szDir));
    DebugTrace(L"ScriptExecuteFile()->szDirectory=%s szFunction=%s", szDir, fields.Rest());
    fields.Next(szVerb, ARRAYSIZE(szVerb));
    fields.Next(szOptions, ARRAYSIZE(szOptions));

    // The options and everything after them, upper-cased.
    WCHAR szUpper[SCRIPT_TEXT_CCH * 2];
    StringCchPrintfW(szUpper, ARRAYSIZE(szUpper), L"%s,%s", szOptions, fields.Rest());
    ScriptUpper(szUpper);
    BOOL bNoWait = wcsstr(szUpper, L"<NOWAIT>") != nullptr;
    int nShowCmd = wcsstr(szUpper, L"<SW_HIDE>") ? SW_HIDE : SW_SHOWNORMAL;
    DebugTrace(L"ScriptExecuteFile()->szDirectory=%s szFunction=%s Options=%s pFind=%d", szDir,
               szVerb, szOptions, bNoWait);
    DebugTraceA("ScriptExecuteFile()->Show=%d", nShowCmd);
    if (!szVerb[0])
        StringCchCopyW(szVerb, ARRAYSIZE(szVerb),
                       g_OsVersion.dwMajorVersion < 6 ? L"open" : L"RunAs");
    fields.Guard(guard);
    DebugTrace(L"FullFileName=%s", szFile);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    if (!szDir[0]) {
        StringCchCopyW(szDir, ARRAYSIZE(szDir), szFile);
        PathRemoveFileSpecW(szDir);
    }
    DWORD dwExitCode = 0;
    BOOL bResult = ExecuteFile(g_hStatusWnd, szFile, szArgs, szDir, szVerb, !bNoWait, nShowCmd,
                               &dwExitCode, nullptr);
    if (!bResult || bNoWait)
        dwExitCode = 0;
    SetScriptResult(static_cast<int>(dwExitCode));
    DebugTrace(L"ScriptExecuteFile(%s,%s,%s)->%d", szFile, szArgs, szOptions, bResult);
    return dwExitCode;
}

UINT ScriptKillModule(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptKillModule", szParams);
    WCHAR szProgram[PATH_CCH];
    SCRIPTGUARD guard;
    fields.NextExpanded(szProgram, ARRAYSIZE(szProgram));
    fields.Guard(guard);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    UINT uResult = KillModule(szProgram) ? 1 : 0;
    SetScriptResult(uResult);
    DebugTrace(L"ScriptKillModule(%s)->%d", szProgram, uResult);
    return uResult;
}

UINT ScriptStopService(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptStopService", szParams);
    WCHAR szService[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.NextExpanded(szService, ARRAYSIZE(szService));
    fields.Guard(guard);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    UINT uResult = StopService(szService) ? 1 : 0;
    SetScriptResult(uResult);
    return uResult;
}

UINT ScriptRegisterFile(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptRegisterFile", szParams);
    WCHAR szFile[PATH_CCH], szMode[SCRIPT_TEXT_CCH], szExtra[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.NextExpanded(szFile, ARRAYSIZE(szFile));
    fields.Next(szMode, ARRAYSIZE(szMode));
    fields.NextExpanded(szExtra, ARRAYSIZE(szExtra));
    fields.Guard(guard);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    BOOL bRegister = wcscmp(szMode, L"0") != 0;
    UINT uResult = RegisterFile(szFile, szExtra, bRegister);
    SetScriptResult(static_cast<int>(uResult));
    DebugTrace(L"ScriptRegisterFile(%s,%s,%d)->%d", szFile, szExtra, bRegister, uResult);
    return uResult;
}
