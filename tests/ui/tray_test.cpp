#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <string>
#include <vector>
#include "support/tracesink.h"
#include "ui/tray.h"
#include "ui/tray_resources_test.h"

namespace {

std::vector<UINT> g_Commands;

// Stands in for the status window: records the commands it receives.
LRESULT CALLBACK TargetProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COMMAND) {
        g_Commands.push_back(LOWORD(wParam));
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// The run's icon as the worker adds it: product name as tooltip and balloon
// title, the first balloon with the information icon.
BOOL ShowRunIcon(HINSTANCE hRes, HWND hTarget, HICON hIcon, LPCWSTR szProduct, LPCWSTR szBalloon)
{
    return g_SystemTray.Create(hRes, hTarget, WM_TRAY_CALLBACK, szProduct, hIcon, TRAY_ICON_ID,
                               FALSE, szBalloon, szProduct, NIIF_INFO, TRAY_BALLOON_SECONDS);
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Whether the shell still knows an icon (a change to it is accepted).
bool IconExists(HWND hWnd, UINT uID)
{
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hWnd;
    nid.uID = uID;
    nid.uFlags = NIF_TIP;
    lstrcpyW(nid.szTip, L"probe");
    return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class TrayTest : public testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = TargetProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TrayTestTarget";
        RegisterClassW(&wc);
        m_hTarget = CreateWindowExW(0, L"TrayTestTarget", L"Status", WS_OVERLAPPEDWINDOW, 0, 0,
                                    200, 100, nullptr, nullptr, wc.hInstance, nullptr);
        m_hModule = trayres::UiResourceModule();
        ASSERT_NE(m_hModule, nullptr);
        m_hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        g_Commands.clear();
        tracesink::Clear();
    }
    void TearDown() override
    {
        (void)g_SystemTray.RemoveIcon();  // a test may have removed it already
        DestroyWindow(m_hTarget);
        PumpMessages();
    }

    HWND m_hTarget = nullptr;
    HMODULE m_hModule = nullptr;
    HICON m_hIcon = nullptr;
};

}  // namespace

TEST_F(TrayTest, RunIconComesWithItsFirstBalloonAndGoesAtTheEnd)
{
    ASSERT_TRUE(ShowRunIcon(m_hModule, m_hTarget, m_hIcon, L"Sample Product",
                            L"Preparing to install..."));
    EXPECT_TRUE(tracesink::Contains(
        "CSystemTray::Create()->Balloon(Preparing to install..., Sample Product)"))
        << tracesink::Dump();
    EXPECT_TRUE(tracesink::Contains("CSystemTray::Create(Sample Product)->NIM_ADD=1"))
        << tracesink::Dump();
    const NOTIFYICONDATAW& nid = g_SystemTray.GetNotifyData();
    EXPECT_EQ(nid.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(nid.hWnd, m_hTarget);
    EXPECT_EQ(nid.uID, 138u);
    EXPECT_EQ(nid.uCallbackMessage, static_cast<UINT>(WM_TRAY_CALLBACK));
    EXPECT_EQ(nid.uTimeout, 5000u);
    EXPECT_EQ(nid.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    // The first balloon is not repeated by later changes.
    EXPECT_STREQ(nid.szInfo, L"");
    EXPECT_FALSE(g_SystemTray.IsRemoved());
    EXPECT_TRUE(IconExists(m_hTarget, 138));

    // The window of its own exists even though notifications go to the target.
    wchar_t szClass[64] = {};
    GetClassNameW(g_SystemTray.GetOwnWindow(), szClass, 64);
    EXPECT_STREQ(szClass, L"TrayIconClass");

    EXPECT_TRUE(g_SystemTray.HideIcon());
    EXPECT_TRUE(g_SystemTray.IsHidden());
    EXPECT_TRUE(g_SystemTray.RemoveIcon());
    EXPECT_TRUE(g_SystemTray.IsRemoved());
    EXPECT_FALSE(IconExists(m_hTarget, 138));
    // Removing twice does no harm; a balloon without an icon fails.
    EXPECT_TRUE(g_SystemTray.RemoveIcon());
    EXPECT_FALSE(g_SystemTray.ShowBalloon(L"Ready to install...", L"Sample Product", NIIF_INFO,
                                          TRAY_BALLOON_SECONDS));
}

TEST_F(TrayTest, BalloonsAreCutToTheirFields)
{
    ASSERT_TRUE(ShowRunIcon(m_hModule, m_hTarget, m_hIcon, L"Product", nullptr));
    const std::wstring text300(300, L't');
    const std::wstring title100(100, L'h');
    struct Case {
        std::wstring text;
        const wchar_t* title;
        DWORD icon;
        std::wstring tracedText;
        std::wstring tracedTitle;
    };
    const Case cases[] = {
        {L"Ready to install...", L"Product", NIIF_INFO, L"Ready to install...", L"Product"},
        {text300, L"Product", NIIF_ERROR, std::wstring(255, L't'), L"Product"},
        {std::wstring(255, L'x'), title100.c_str(), NIIF_INFO, std::wstring(255, L'x'),
         std::wstring(63, L'h')},
        {L"No title", nullptr, NIIF_ERROR, L"No title", L""},
    };
    for (const Case& c : cases) {
        tracesink::Clear();
        EXPECT_TRUE(
            g_SystemTray.ShowBalloon(c.text.c_str(), c.title, c.icon, TRAY_BALLOON_SECONDS));
        std::string expected = "ShowBalloon(" + Narrow(c.tracedText) + ", " +
                               Narrow(c.tracedTitle) + ")";
        EXPECT_TRUE(tracesink::Contains(expected)) << expected << "\n" << tracesink::Dump();
        const NOTIFYICONDATAW& nid = g_SystemTray.GetNotifyData();
        EXPECT_EQ(nid.szInfoTitle, c.tracedTitle);
        EXPECT_EQ(nid.dwInfoFlags, c.icon);
        EXPECT_EQ(nid.uTimeout, 5000u);
        EXPECT_EQ(nid.uFlags, static_cast<UINT>(NIF_INFO));
        EXPECT_STREQ(nid.szInfo, L"");
    }
}

TEST_F(TrayTest, TooltipIsCutTo127Characters)
{
    std::wstring tip(200, L'p');
    ASSERT_TRUE(ShowRunIcon(m_hModule, m_hTarget, m_hIcon, tip.c_str(), L"Balloon"));
    EXPECT_EQ(std::wstring(g_SystemTray.GetNotifyData().szTip), std::wstring(127, L'p'));
    EXPECT_EQ(std::wstring(g_SystemTray.GetNotifyData().szInfoTitle), std::wstring(63, L'p'));
}

TEST_F(TrayTest, CreatingAgainReplacesTheIcon)
{
    ASSERT_TRUE(ShowRunIcon(m_hModule, m_hTarget, m_hIcon, L"First", L"one"));
    ASSERT_TRUE(ShowRunIcon(m_hModule, m_hTarget, m_hIcon, L"Second", L"two"));
    EXPECT_TRUE(IconExists(m_hTarget, 138));
    EXPECT_TRUE(g_SystemTray.RemoveIcon());
    EXPECT_FALSE(IconExists(m_hTarget, 138));
}

TEST_F(TrayTest, NotificationsForOtherIconsOrMessagesPostNothing)
{
    ASSERT_TRUE(ShowRunIcon(m_hModule, m_hTarget, m_hIcon, L"Product", nullptr));
    struct Case {
        WPARAM id;
        LPARAM message;
        LRESULT result;
        std::vector<UINT> commands;
    };
    const Case cases[] = {
        {139, WM_LBUTTONDBLCLK, 0, {}},
        {138, WM_MOUSEMOVE, 1, {}},
        {138, WM_LBUTTONUP, 1, {}},
        {138, WM_LBUTTONDBLCLK, 1, {0x8008}},  // the default item, "&Open"
    };
    for (const Case& c : cases) {
        g_Commands.clear();
        EXPECT_EQ(g_SystemTray.OnTrayNotification(c.id, c.message), c.result) << c.id << " " << c.message;
        PumpMessages();
        EXPECT_EQ(g_Commands, c.commands) << c.id << " " << c.message;
    }
}

namespace {

// Records what the menu looked like when it was shown.
class InspectingTray : public CSystemTray {
public:
    void CustomizeMenu(HMENU hMenu) override
    {
        m_nItems = GetMenuItemCount(hMenu);
        m_uDefault = GetMenuDefaultItem(hMenu, FALSE, 0);
        ++m_nCalls;
    }
    int m_nItems = 0;
    UINT m_uDefault = 0;
    int m_nCalls = 0;
};

}  // namespace

TEST_F(TrayTest, RightClickMenuSendsItsCommandToTheTarget)
{
    struct Case {
        WPARAM key;  // typed into the open menu
        UINT msg;
        std::vector<UINT> commands;
    };
    const Case cases[] = {
        {L'e', WM_CHAR, {0x8006}},       // "&Exit"
        {L'o', WM_CHAR, {0x8008}},       // "&Open"
        {VK_ESCAPE, WM_KEYDOWN, {}},
    };
    for (const Case& c : cases) {
        InspectingTray tray;
        ASSERT_TRUE(tray.Create(m_hModule, m_hTarget, WM_TRAY_CALLBACK, L"Product", m_hIcon, 138,
                                FALSE, nullptr, nullptr, 0, 0));
        g_Commands.clear();
        // The menu's own loop picks the key up once it is open.
        PostMessageW(m_hTarget, c.msg, c.key, 0);
        EXPECT_EQ(tray.OnTrayNotification(138, WM_RBUTTONUP), 1);
        PumpMessages();
        EXPECT_EQ(g_Commands, c.commands) << "key " << c.key;
        EXPECT_EQ(tray.m_nCalls, 1);
        EXPECT_EQ(tray.m_nItems, 2);
        EXPECT_EQ(tray.m_uDefault, 0x8008u);
    }
}

TEST_F(TrayTest, OwnWindowHandsItsCallbackToTheIcon)
{
    // Without a target the icon reports to the hidden window of its own.
    InspectingTray tray;
    ASSERT_TRUE(tray.Create(m_hModule, nullptr, WM_TRAY_CALLBACK, L"Product", m_hIcon, 138, FALSE,
                            nullptr, nullptr, 0, 0));
    HWND hOwn = tray.GetOwnWindow();
    ASSERT_NE(hOwn, nullptr);
    EXPECT_EQ(tray.GetNotifyData().hWnd, hOwn);
    // A message-only window: no broadcast waits on the thread that made it.
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"TrayIconClass", nullptr), hOwn);
    EXPECT_EQ(SendMessageW(hOwn, WM_TRAY_CALLBACK, 138, WM_LBUTTONDBLCLK), 1);
    EXPECT_EQ(SendMessageW(hOwn, WM_TRAY_CALLBACK, 1, WM_LBUTTONDBLCLK), 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, hOwn, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0x8008u);
    EXPECT_FALSE(PeekMessageW(&msg, hOwn, WM_COMMAND, WM_COMMAND, PM_REMOVE));
}

TEST_F(TrayTest, MenuMissingFromTheModuleShowsNothing)
{
    InspectingTray tray;
    ASSERT_TRUE(tray.Create(GetModuleHandleW(nullptr), m_hTarget, WM_TRAY_CALLBACK, L"Product",
                            m_hIcon, 138, FALSE, nullptr, nullptr, 0, 0));
    EXPECT_EQ(tray.OnTrayNotification(138, WM_RBUTTONUP), 1);
    EXPECT_EQ(tray.OnTrayNotification(138, WM_LBUTTONDBLCLK), 1);
    PumpMessages();
    EXPECT_TRUE(g_Commands.empty());
    EXPECT_EQ(tray.m_nCalls, 0);
}

TEST_F(TrayTest, HiddenIconIsAddedHiddenAndCanBeRemoved)
{
    InspectingTray tray;
    ASSERT_TRUE(tray.Create(m_hModule, m_hTarget, WM_TRAY_CALLBACK, L"Product", m_hIcon, 138, TRUE,
                            nullptr, nullptr, 0, 0));
    EXPECT_TRUE(tray.IsHidden());
    EXPECT_FALSE(tray.IsRemoved());
    // Hidden, it still has its icon and callback.
    EXPECT_EQ(tray.GetNotifyData().uFlags & (NIF_MESSAGE | NIF_ICON | NIF_STATE),
              static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_STATE));
    EXPECT_TRUE(tray.HideIcon());
    EXPECT_TRUE(tray.RemoveIcon());
    EXPECT_FALSE(IconExists(m_hTarget, 138));
}

TEST_F(TrayTest, TheProgramsOwnMenu)
{
    HMODULE hLauncher = trayres::LoadLauncherAsData();
    ASSERT_NE(hLauncher, nullptr);
    {
        InspectingTray tray;
        ASSERT_TRUE(tray.Create(hLauncher, m_hTarget, WM_TRAY_CALLBACK, L"Product", m_hIcon, 138,
                                FALSE, nullptr, nullptr, 0, 0));
        PostMessageW(m_hTarget, WM_CHAR, L'e', 0);
        EXPECT_EQ(tray.OnTrayNotification(138, WM_RBUTTONUP), 1);
        PumpMessages();
        EXPECT_EQ(g_Commands, std::vector<UINT>{0x8006});
        EXPECT_EQ(tray.m_nItems, 2);
        EXPECT_EQ(tray.m_uDefault, 0x8008u);
    }
    FreeLibrary(hLauncher);
}
