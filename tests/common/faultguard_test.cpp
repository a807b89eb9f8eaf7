#include <gtest/gtest.h>
#include <windows.h>
#include "common/faultguard.h"
#include "support/tracesink.h"

namespace {

DWORD ReadNull(void*)
{
    volatile int* p = nullptr;
    return static_cast<DWORD>(*p);
}

DWORD WriteFarAway(void* pv)
{
    // Past the end of a one-page block: the next page is not ours.
    BYTE* p = static_cast<BYTE*>(pv);
    for (size_t i = 0;; i += 4096)
        p[i] = 1;
}

DWORD Answers(void* pv)
{
    return *static_cast<DWORD*>(pv) + 1;
}

DWORD g_dwWorkThread;
DWORD SendsToCaller(void* pv)
{
    g_dwWorkThread = GetCurrentThreadId();
    return static_cast<DWORD>(SendMessageW(static_cast<HWND>(pv), WM_USER + 7, 0, 0));
}

LRESULT CALLBACK Answer41(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return uMsg == WM_USER + 7 ? 41 : DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

}  // namespace

// A fault inside the guarded work ends only the work: the
// caller gets FALSE, the code and a trace line, and goes on.
TEST(RunGuarded, AFaultEndsOnlyTheGuardedWork)
{
    BYTE* pPage = static_cast<BYTE*>(
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pPage, nullptr);
    DWORD dwSeven = 7;
    const struct {
        const char* what;
        PFN_GUARDEDWORK pfn;
        void* pv;
        BOOL bDone;
        DWORD dwResult;
        DWORD dwFault;
    } cases[] = {
        {"a read through a null pointer", ReadNull, nullptr, FALSE, 0, EXCEPTION_ACCESS_VIOLATION},
        {"a write past the end of a block", WriteFarAway, pPage, FALSE, 0,
         EXCEPTION_ACCESS_VIOLATION},
        {"work that returns", Answers, &dwSeven, TRUE, 8, 0},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        DWORD dwResult = 0;
        DWORD dwFault = 0xDEAD;
        EXPECT_EQ(RunGuarded(L"Work()", c.pfn, c.pv, &dwResult, &dwFault), c.bDone) << c.what;
        EXPECT_EQ(dwFault, c.dwFault) << c.what;
        if (c.bDone) {
            EXPECT_EQ(dwResult, c.dwResult) << c.what;
            EXPECT_FALSE(tracesink::ContainsPrefix("Work()->")) << c.what;
        } else {
            EXPECT_TRUE(tracesink::ContainsPrefix("Work()->Fault 0xc0000005 in ")) << c.what
                                                                               << tracesink::Dump();
        }
    }
    VirtualFree(pPage, 0, MEM_RELEASE);
}

// The work runs on a thread of its own while the caller answers what the
// work sends to the caller's windows, so reporting to them cannot deadlock.
TEST(RunGuarded, WorkMaySendToTheCallersWindows)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Answer41;
    wc.lpszClassName = L"StowawayGuardAnswer";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    DWORD dwResult = 0;
    EXPECT_TRUE(RunGuarded(L"Work()", SendsToCaller, hWnd, &dwResult, nullptr));
    EXPECT_EQ(dwResult, 41u);
    EXPECT_NE(g_dwWorkThread, GetCurrentThreadId());
    DestroyWindow(hWnd);
}

namespace {

std::wstring BinFolder()
{
    WCHAR szPath[MAX_PATH];
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring path(szPath);
    return path.substr(0, path.find_last_of(L'\\'));
}

}  // namespace

// A fault outside guarded work, on any thread: the cleanup runs and the
// process ends with FAULT_EXIT_CODE, never with the fault's own code or
// silently. A run that can not go on (memory) cleans up the same way and
// ends with its own code.
TEST(InstallFaultHandler, AnUnguardedFaultCleansUpAndEndsWithItsCode)
{
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    const struct {
        const wchar_t* how;
        DWORD dwCode;
    } cases[] = {
        {L"fault", FAULT_EXIT_CODE},
        {L"thread", FAULT_EXIT_CODE},
        {L"endrun", ERROR_OUTOFMEMORY},
    };
    for (const auto& c : cases) {
        const wchar_t* how = c.how;
        std::wstring marker = std::wstring(szTemp) + L"stowaway-fault-" + how + L".marker";
        DeleteFileW(marker.c_str());
        std::wstring cmd = L"\"" + BinFolder() + L"\\faultexit.exe\" \"" + marker + L"\" " + how;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &si, &pi));
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
        DWORD dwCode = 0;
        GetExitCodeProcess(pi.hProcess, &dwCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        EXPECT_EQ(dwCode, c.dwCode) << how;
        EXPECT_NE(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES) << how;
        DeleteFileW(marker.c_str());
    }
}
