#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "state/state.h"
#include "support/tracesink.h"
#include "ui/msgwait.h"
#include "ui/tray_resources_test.h"

namespace {

std::string HandleText(HWND hWnd)
{
    return std::to_string(static_cast<int>(reinterpret_cast<INT_PTR>(hWnd)));
}

std::wstring WindowText(HWND hWnd)
{
    wchar_t buf[512] = {};
    GetWindowTextW(hWnd, buf, 512);
    return buf;
}

// The wait window that MsgWaitDlg opened. The call gives the window 200 ms
// to come up, as the launcher does; on a loaded machine it may come later,
// and is then looked up by its title.
HWND Opened(HWND hReturned, const std::wstring& title)
{
    HWND hWnd = hReturned;
    for (int i = 0; i < 500 && !hWnd; ++i) {
        hWnd = FindWindowW(nullptr, title.c_str());
        if (!hWnd)
            Sleep(10);
    }
    return hWnd;
}

// The window is up before it is shown; on a loaded machine the showing may
// come a moment after the call returned.
bool ShownSoon(HWND hWnd)
{
    for (int i = 0; i < 500 && !IsWindowVisible(hWnd); ++i)
        Sleep(10);
    return IsWindowVisible(hWnd) != FALSE;
}

// Waits for the wait thread to take the window down after the user
// dismissed it.
bool WaitUntilGone(HWND hWnd)
{
    for (int i = 0; i < 500 && IsWindow(hWnd); ++i)
        Sleep(10);
    return !IsWindow(hWnd);
}

class MsgWaitTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_hModule = trayres::UiResourceModule();
        ASSERT_NE(m_hModule, nullptr);
        g_bCancel = 0;
        tracesink::Clear();
    }
    void TearDown() override { g_bCancel = 0; }
    HMODULE m_hModule = nullptr;
};

}  // namespace

TEST_F(MsgWaitTest, OpensClosesAndOpensAgain)
{
    HWND hReturned =
        MsgWaitDlg(m_hModule, L"Sample Product", L"Please wait while we look around.", 0);
    HWND hFirst = Opened(hReturned, L"Sample Product");
    ASSERT_NE(hFirst, nullptr);
    EXPECT_TRUE(IsWindow(hFirst));
    EXPECT_TRUE(ShownSoon(hFirst));
    EXPECT_NE(GetWindowThreadProcessId(hFirst, nullptr), GetCurrentThreadId());
    EXPECT_EQ(WindowText(hFirst), L"Sample Product");
    EXPECT_EQ(WindowText(GetDlgItem(hFirst, 1003)), L"Please wait while we look around.");
    // Leave it up for a moment for anyone taking a screenshot.
    if (GetEnvironmentVariableW(L"STOWAWAY_UI_PAUSE", nullptr, 0))
        Sleep(3000);
    EXPECT_TRUE(tracesink::ContainsPrefix("MsgWaitDlg->CreateThread()->Thread=0x")) << tracesink::Dump();
    EXPECT_TRUE(tracesink::Contains("MsgWaitProc()->WM_INITDIALOG"));
    EXPECT_TRUE(tracesink::Contains("ThreadMsgWait()->hDlg=" + HandleText(hFirst)));
    // The call's last line names what it returned: the window, or nothing
    // when the window came after the 200 ms it is given.
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg->End(" + HandleText(hReturned) + ")"));

    tracesink::Clear();
    EXPECT_EQ(MsgWaitDlg(nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_FALSE(IsWindow(hFirst));
    EXPECT_TRUE(tracesink::Contains("before PostThreadMessage")) << tracesink::Dump();
    EXPECT_TRUE(tracesink::Contains("MsgWaitProc()->WM_DESTROY"));
    EXPECT_TRUE(tracesink::Contains("ThreadMsgWait()->End(0)"));
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg()->WaitForSingleObject=0"));
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg()->dwExitCode=0"));
    // The run was not cancelled by closing the wait window.
    EXPECT_EQ(g_bCancel, 0);

    HWND hSecond = Opened(MsgWaitDlg(m_hModule, L"Again", L"Still waiting", 0), L"Again");
    ASSERT_NE(hSecond, nullptr);
    EXPECT_TRUE(IsWindow(hSecond));
    EXPECT_EQ(WindowText(hSecond), L"Again");
    EXPECT_EQ(MsgWaitDlg(nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_FALSE(IsWindow(hSecond));
}

TEST_F(MsgWaitTest, FlagsAndTexts)
{
    const std::wstring longTitle(300, L'T');
    const std::wstring longMessage(400, L'M');
    struct Case {
        DWORD flags;
        std::wstring title;
        std::wstring message;
        bool cancelShown;
        std::wstring shownTitle;
        std::wstring shownMessage;
    };
    const Case cases[] = {
        {0x400, L"With cancel", L"msg", true, L"With cancel", L"msg"},
        {0, L"Without cancel", L"msg", false, L"Without cancel", L"msg"},
        {0x3FF, L"Other flags", L"", false, L"Other flags", L""},
        {0, longTitle, longMessage, false, std::wstring(255, L'T'), std::wstring(255, L'M')},
    };
    for (const Case& c : cases) {
        HWND hWnd = Opened(MsgWaitDlg(m_hModule, c.title.c_str(), c.message.c_str(), c.flags),
                           c.shownTitle);
        ASSERT_NE(hWnd, nullptr);
        EXPECT_EQ(IsWindowVisible(GetDlgItem(hWnd, IDCANCEL)) != FALSE, c.cancelShown) << c.flags;
        EXPECT_EQ(WindowText(hWnd), c.shownTitle);
        EXPECT_EQ(WindowText(GetDlgItem(hWnd, 1003)), c.shownMessage);
        MsgWaitDlg(nullptr, nullptr, nullptr, 0);
    }
}

TEST_F(MsgWaitTest, SilentRunsKeepItHidden)
{
    HWND hWnd = Opened(MsgWaitDlg(m_hModule, L"Silent", L"msg", 0x400 | MSGWAIT_OUT_OF_SIGHT),
                       L"Silent");
    ASSERT_NE(hWnd, nullptr);
    EXPECT_FALSE(IsWindowVisible(hWnd));
    MsgWaitDlg(nullptr, nullptr, nullptr, 0);
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST_F(MsgWaitTest, UserDismissingTheWindow)
{
    struct Case {
        UINT msg;
        WPARAM wParam;
        const char* trace;
        LONG cancel;
    };
    // Cancel only takes the window down; closing it cancels the run.
    const Case cases[] = {
        {WM_COMMAND, IDCANCEL, "MsgWaitProc()->IDCANCEL - wParam=2 lParam=0", 0},
        {WM_CLOSE, 0, "MsgWaitProc()->WM_CLOSE", 1},
    };
    for (const Case& c : cases) {
        g_bCancel = 0;
        HWND hWnd = Opened(MsgWaitDlg(m_hModule, L"Dismiss", L"msg", 0x400), L"Dismiss");
        ASSERT_NE(hWnd, nullptr);
        tracesink::Clear();
        PostMessageW(hWnd, c.msg, c.wParam, 0);
        EXPECT_TRUE(WaitUntilGone(hWnd)) << c.trace;
        EXPECT_TRUE(tracesink::Contains(c.trace)) << tracesink::Dump();
        EXPECT_EQ(g_bCancel, c.cancel) << c.trace;
        // The closing call still pairs with the opening one.
        EXPECT_EQ(MsgWaitDlg(nullptr, nullptr, nullptr, 0), nullptr);
        EXPECT_TRUE(tracesink::Contains("MsgWaitDlg()->dwExitCode=0")) << tracesink::Dump();
    }
}

TEST_F(MsgWaitTest, TemplateMissingFromTheModule)
{
    HWND hWnd = MsgWaitDlg(GetModuleHandleW(nullptr), L"No template", L"msg", 0);
    EXPECT_EQ(hWnd, nullptr);
    EXPECT_TRUE(tracesink::Contains("ThreadMsgWait()->hDlg=0")) << tracesink::Dump();
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg->End(0)"));
    // The state is up until the matching call.
    tracesink::Clear();
    EXPECT_EQ(MsgWaitDlg(nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg()->dwExitCode=1")) << tracesink::Dump();
    HWND hNext = Opened(MsgWaitDlg(m_hModule, L"Next", L"msg", 0), L"Next");
    EXPECT_NE(hNext, nullptr);
    MsgWaitDlg(nullptr, nullptr, nullptr, 0);
}

namespace {

const UINT WM_TEST_BLOCK = WM_APP + 17;
HANDLE g_hBlocked;
HANDLE g_hRelease;

// Keeps the wait thread busy in its message loop when it meets our message.
LRESULT CALLBACK BlockingHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    auto* pMsg = reinterpret_cast<MSG*>(lParam);
    if (nCode == HC_ACTION && pMsg->message == WM_TEST_BLOCK) {
        SetEvent(g_hBlocked);
        WaitForSingleObject(g_hRelease, 30000);
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

}  // namespace

TEST_F(MsgWaitTest, AThreadThatDoesNotEndIsTerminated)
{
    HWND hWnd = Opened(MsgWaitDlg(m_hModule, L"Stuck", L"msg", 0), L"Stuck");
    ASSERT_NE(hWnd, nullptr);
    DWORD dwThreadId = GetWindowThreadProcessId(hWnd, nullptr);
    g_hBlocked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HHOOK hHook = SetWindowsHookExW(WH_GETMESSAGE, BlockingHook, nullptr, dwThreadId);
    ASSERT_NE(hHook, nullptr);
    PostThreadMessageW(dwThreadId, WM_TEST_BLOCK, 0, 0);
    ASSERT_EQ(WaitForSingleObject(g_hBlocked, 30000), WAIT_OBJECT_0);

    tracesink::Clear();
    // Closing gives the thread its full time to end before it terminates
    // it: that pause is part of what is checked here.
    EXPECT_EQ(MsgWaitDlg(nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg()->WaitForSingleObject=0x102")) << tracesink::Dump();
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg()->dwExitCode=103")) << tracesink::Dump();
    EXPECT_FALSE(tracesink::ContainsPrefix("ThreadMsgWait()->End("));
    HANDLE hThread = OpenThread(SYNCHRONIZE, FALSE, dwThreadId);
    if (hThread) {
        EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
        CloseHandle(hThread);
    }
    UnhookWindowsHookEx(hHook);
    SetEvent(g_hRelease);
    CloseHandle(g_hRelease);
    CloseHandle(g_hBlocked);

    // A new wait window can follow.
    HWND hNext = Opened(MsgWaitDlg(m_hModule, L"Next", L"msg", 0), L"Next");
    EXPECT_NE(hNext, nullptr);
    MsgWaitDlg(nullptr, nullptr, nullptr, 0);
}

TEST_F(MsgWaitTest, OpensFromTheProgramsOwnTemplate)
{
    HMODULE hLauncher = trayres::LoadLauncherAsData();
    ASSERT_NE(hLauncher, nullptr);
    for (DWORD flags : {0ul, 0x400ul}) {
        HWND hWnd = Opened(MsgWaitDlg(hLauncher, L"Sample Product", L"Looking for updates...", flags),
                           L"Sample Product");
        ASSERT_NE(hWnd, nullptr);
        EXPECT_TRUE(ShownSoon(hWnd));
        EXPECT_EQ(WindowText(hWnd), L"Sample Product");
        EXPECT_EQ(WindowText(GetDlgItem(hWnd, 1003)), L"Looking for updates...");
        EXPECT_EQ(IsWindowVisible(GetDlgItem(hWnd, IDCANCEL)) != FALSE, flags == 0x400);
        MsgWaitDlg(nullptr, nullptr, nullptr, 0);
        EXPECT_FALSE(IsWindow(hWnd));
    }
    FreeLibrary(hLauncher);
}

namespace {

struct PingRequest {
    HWND hWnd;
    LRESULT lResult;
};

DWORD WINAPI PingThread(LPVOID pParam)
{
    auto* pPing = static_cast<PingRequest*>(pParam);
    DWORD_PTR dwResult = 0;
    pPing->lResult = SendMessageTimeoutW(pPing->hWnd, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &dwResult);
    return 0;
}

}  // namespace

TEST_F(MsgWaitTest, KeepsAnsweringWhileTheCallerBlocks)
{
    // The caller owns the foreground window and then blocks without pumping.
    HWND hOwner = CreateWindowExW(0, L"STATIC", L"Caller", WS_POPUP | WS_VISIBLE, 10, 10, 120, 40,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(hOwner);
    HWND hWnd = Opened(MsgWaitDlg(m_hModule, L"Busy", L"The caller is busy", 0), L"Busy");
    ASSERT_NE(hWnd, nullptr);
    PingRequest ping = {hWnd, 0};
    HANDLE hThread = CreateThread(nullptr, 0, PingThread, &ping, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(hThread, 10000), WAIT_OBJECT_0);
    CloseHandle(hThread);
    EXPECT_NE(ping.lResult, 0);
    MsgWaitDlg(nullptr, nullptr, nullptr, 0);
    EXPECT_FALSE(IsWindow(hWnd));
    DestroyWindow(hOwner);
}
