#include "common/faultguard.h"
#include <shlwapi.h>
#include "common/handles.h"
#include "common/trace.h"

namespace {

const DWORD NO_SLOT = TLS_OUT_OF_INDEXES;

// What a guarded thread leaves for its caller.
struct GUARDCALL {
    LPCWSTR szWhat;
    PFN_GUARDEDWORK pfnWork;
    void* pv;
    DWORD dwResult;
    volatile LONG bFaulted;
    DWORD dwFault;
};

volatile LONG g_lSlot = static_cast<LONG>(NO_SLOT);
volatile LONG g_lFilterSet;
volatile LONG g_lHandlerInstalled;
volatile LONG g_lEndingThread;  // the thread that runs the cleanup, 0 before
PFN_FAULTCLEANUP g_pfnCleanup;
LPTOP_LEVEL_EXCEPTION_FILTER g_pfnPreviousFilter;

DWORD GuardSlot()
{
    if (static_cast<DWORD>(g_lSlot) == NO_SLOT) {
        DWORD dwSlot = TlsAlloc();
        if (InterlockedCompareExchange(&g_lSlot, static_cast<LONG>(dwSlot),
                                       static_cast<LONG>(NO_SLOT)) != static_cast<LONG>(NO_SLOT) &&
            dwSlot != NO_SLOT)
            TlsFree(dwSlot);
    }
    return static_cast<DWORD>(g_lSlot);
}

GUARDCALL* CurrentGuard()
{
    DWORD dwSlot = static_cast<DWORD>(g_lSlot);
    return dwSlot == NO_SLOT ? nullptr : static_cast<GUARDCALL*>(TlsGetValue(dwSlot));
}

// Runs the cleanup once and ends the process. A second fault on the same
// thread (inside the cleanup) ends it at once; another thread that faults
// meanwhile waits for the first to finish.
[[noreturn]] void EndOnFault(UINT uExitCode)
{
    LONG lSelf = static_cast<LONG>(GetCurrentThreadId());
    LONG lOwner = InterlockedCompareExchange(&g_lEndingThread, lSelf, 0);
    if (lOwner == 0) {
        if (g_pfnCleanup)
            g_pfnCleanup();
        DebugTrace(L"FaultHandler()->End(%#x)", uExitCode);
    } else if (lOwner != lSelf) {
        for (;;)
            Sleep(INFINITE);
    }
    TerminateProcess(GetCurrentProcess(), uExitCode);
    for (;;)
        Sleep(INFINITE);
}

LONG WINAPI FaultFilter(EXCEPTION_POINTERS* pPointers)
{
    const EXCEPTION_RECORD* pRecord = pPointers ? pPointers->ExceptionRecord : nullptr;
    if (GUARDCALL* pCall = CurrentGuard()) {
        // Only the guarded call ends: its caller learns of the fault and
        // goes on with an error.
        TraceFault(pCall->szWhat, pRecord);
        pCall->dwFault = pRecord ? pRecord->ExceptionCode : 0;
        InterlockedExchange(&pCall->bFaulted, 1);
        ExitThread(0);
    }
    if (!g_lHandlerInstalled)
        return g_pfnPreviousFilter ? g_pfnPreviousFilter(pPointers) : EXCEPTION_CONTINUE_SEARCH;
    TraceFault(L"FaultHandler()", pRecord);
    EndOnFault(FAULT_EXIT_CODE);
}

void EnsureFilter()
{
    if (InterlockedExchange(&g_lFilterSet, 1) == 0) {
        g_pfnPreviousFilter = SetUnhandledExceptionFilter(FaultFilter);
    }
}

DWORD WINAPI GuardThread(LPVOID lpParam)
{
    GUARDCALL* pCall = static_cast<GUARDCALL*>(lpParam);
    TlsSetValue(GuardSlot(), pCall);
    pCall->dwResult = pCall->pfnWork(pCall->pv);
    TlsSetValue(GuardSlot(), nullptr);
    return 0;
}

// Waits for the guarded thread; messages that other threads send to the
// caller's windows are answered meanwhile, so that work which reports to
// them never waits on its own caller.
void WaitServingSentMessages(HANDLE hThread)
{
    for (;;) {
        DWORD dwWait = MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (dwWait != WAIT_OBJECT_0 + 1)
            return;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

void InstallFaultHandler(PFN_FAULTCLEANUP pfnCleanup)
{
    g_pfnCleanup = pfnCleanup;
    InterlockedExchange(&g_lHandlerInstalled, 1);
    EnsureFilter();
}

BOOL RunGuarded(LPCWSTR szWhat, PFN_GUARDEDWORK pfnWork, void* pv, DWORD* pdwResult,
                DWORD* pdwFault)
{
    GUARDCALL call = {szWhat ? szWhat : L"RunGuarded()", pfnWork, pv, 0, 0, 0};
    if (pdwFault)
        *pdwFault = 0;
    EnsureFilter();
    CHandle hThread;
    if (GuardSlot() != NO_SLOT)
        hThread.Reset(CreateThread(nullptr, 0, GuardThread, &call, 0, nullptr));
    if (!hThread.IsValid()) {
        // No thread to spare: the work runs here, unguarded.
        DebugTrace(L"%s->Unguarded (%d)", call.szWhat, GetLastError());
        call.dwResult = pfnWork(pv);
    } else {
        WaitServingSentMessages(hThread.Get());
    }
    if (call.bFaulted) {
        if (pdwFault)
            *pdwFault = call.dwFault;
        return FALSE;
    }
    if (pdwResult)
        *pdwResult = call.dwResult;
    return TRUE;
}

void TraceFault(LPCWSTR szWhere, const EXCEPTION_RECORD* pRecord)
{
    DWORD dwCode = pRecord ? pRecord->ExceptionCode : 0;
    PVOID pAddress = pRecord ? pRecord->ExceptionAddress : nullptr;
    WCHAR szModule[MAX_PATH] = L"?";
    HMODULE hModule = nullptr;
    ULONG_PTR uOffset = reinterpret_cast<ULONG_PTR>(pAddress);
    if (pAddress &&
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(pAddress), &hModule) &&
        GetModuleFileNameW(hModule, szModule, ARRAYSIZE(szModule))) {
        szModule[ARRAYSIZE(szModule) - 1] = L'\0';
        uOffset -= reinterpret_cast<ULONG_PTR>(hModule);
    }
    // A read or write fault names the address it touched.
    ULONG_PTR uTouched = 0;
    if (pRecord && dwCode == EXCEPTION_ACCESS_VIOLATION && pRecord->NumberParameters >= 2)
        uTouched = pRecord->ExceptionInformation[1];
    DebugTrace(L"%s->Fault %#x in %s+%#Ix (address %#Ix)", szWhere, dwCode,
               PathFindFileNameW(szModule), uOffset, uTouched);
}

void EndRunAfterCleanup(UINT uExitCode)
{
    EndOnFault(uExitCode);
}
