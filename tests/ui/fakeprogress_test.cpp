#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <vector>
#include "support/tracesink.h"
#include "ui/fakeprogress.h"

namespace {

const int BAR_CX = 240;
const int BAR_CY = 18;
// Long enough for many frames at the intervals used here.
const DWORD PATIENCE_MS = 5000;

void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// One frame of the control, painted into a 32-bit bitmap.
std::vector<DWORD> Capture(HWND hWnd)
{
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = BAR_CX;
    bmi.bmiHeader.biHeight = -BAR_CY;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    HDC hdc = CreateCompatibleDC(nullptr);
    DWORD* bits = nullptr;
    HBITMAP hbm = CreateDIBSection(hdc, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits),
                                   nullptr, 0);
    HGDIOBJ hOld = SelectObject(hdc, hbm);
    SendMessageW(hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(hdc), PRF_CLIENT);
    GdiFlush();
    std::vector<DWORD> pixels(bits, bits + BAR_CX * BAR_CY);
    SelectObject(hdc, hOld);
    DeleteObject(hbm);
    DeleteDC(hdc);
    return pixels;
}

DWORD AsPixel(COLORREF c)
{
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

int CountPixels(const std::vector<DWORD>& pixels, COLORREF c)
{
    int n = 0;
    for (DWORD p : pixels)
        if ((p & 0xFFFFFF) == AsPixel(c))
            ++n;
    return n;
}

// Waits, pumping messages, until the control shows something other than
// the given frame.
bool MovesAwayFrom(HWND hWnd, const std::vector<DWORD>& frame)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < PATIENCE_MS) {
        PumpMessages();
        if (Capture(hWnd) != frame)
            return true;
        Sleep(10);
    }
    return false;
}

// Watches the control for a number of intervals; true when it never changed.
bool StaysStill(HWND hWnd, DWORD dwInterval, const std::vector<DWORD>& frame)
{
    for (int i = 0; i < 10; ++i) {
        PumpMessages();
        Sleep(dwInterval);
        if (Capture(hWnd) != frame)
            return false;
    }
    return true;
}

class FakeProgressTest : public testing::Test {
protected:
    void SetUp() override
    {
        InitFakeProgress();
        // Hidden: the control paints the same, and no window manager is waited for.
        m_hParent = CreateWindowExW(0, L"STATIC", L"parent", WS_POPUP, 100, 100,
                                    BAR_CX + 40, BAR_CY + 40, nullptr, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
        tracesink::Clear();
    }
    void TearDown() override
    {
        DestroyWindow(m_hParent);
        PumpMessages();
    }
    HWND MakeBar(DWORD style)
    {
        return CreateWindowExW(0, FAKEPROGRESS_CLASS, L"", WS_CHILD | WS_VISIBLE | style, 20, 20,
                               BAR_CX, BAR_CY, m_hParent, nullptr, GetModuleHandleW(nullptr),
                               nullptr);
    }
    HWND m_hParent = nullptr;
};

}  // namespace

TEST_F(FakeProgressTest, ClassIsRegisteredOnceAndGlobally)
{
    InitFakeProgress();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), FAKEPROGRESS_CLASS, &wc));
    EXPECT_TRUE(wc.style & CS_GLOBALCLASS);
    // Another module's handle finds it too (the skin library creates it).
    EXPECT_TRUE(GetClassInfoExW(GetModuleHandleW(L"user32.dll"), FAKEPROGRESS_CLASS, &wc));
}

TEST_F(FakeProgressTest, BlockCountFromOneToTwenty)
{
    HWND hBar = MakeBar(FPS_TIMER | WS_DISABLED);
    ASSERT_NE(hBar, nullptr);
    EXPECT_EQ(SendMessageW(hBar, FPM_GETBLOCKS, 0, 0), 5);
    struct Case { WPARAM blocks; LRESULT result; LRESULT after; };
    const Case cases[] = {
        {0, 0, 5}, {21, 0, 5}, {20, 1, 20}, {1, 1, 1}, {static_cast<WPARAM>(-1), 0, 1}, {7, 1, 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SendMessageW(hBar, FPM_SETBLOCKS, c.blocks, 0), c.result) << c.blocks;
        EXPECT_EQ(SendMessageW(hBar, FPM_GETBLOCKS, 0, 0), c.after) << c.blocks;
    }
}

TEST_F(FakeProgressTest, SettingTheIntervalEnablesTheControl)
{
    HWND hBar = MakeBar(FPS_TIMER | WS_DISABLED);
    EXPECT_EQ(SendMessageW(hBar, FPM_GETINTERVAL, 0, 0), 100);
    EXPECT_FALSE(IsWindowEnabled(hBar));
    SendMessageW(hBar, FPM_SETINTERVAL, 40, 0);
    EXPECT_EQ(SendMessageW(hBar, FPM_GETINTERVAL, 0, 0), 40);
    EXPECT_TRUE(IsWindowEnabled(hBar));
    // A zero interval would spin: the shortest timer interval is used.
    SendMessageW(hBar, FPM_SETINTERVAL, 0, 0);
    EXPECT_EQ(SendMessageW(hBar, FPM_GETINTERVAL, 0, 0), 10);
}

TEST_F(FakeProgressTest, AnimatesUntilDisabled)
{
    struct Case { const char* name; DWORD style; };
    const Case cases[] = {
        {"thread, classic", FPS_NOTHEME},
        {"timer, classic", FPS_NOTHEME | FPS_TIMER},
        {"thread, themed when possible", 0},
        {"timer, themed when possible", FPS_TIMER},
    };
    for (const Case& c : cases) {
        HWND hBar = MakeBar(c.style | WS_DISABLED);
        ASSERT_NE(hBar, nullptr) << c.name;
        SendMessageW(hBar, FPM_SETBLOCKS, 3, 0);
        const std::vector<DWORD> idle = Capture(hBar);
        SendMessageW(hBar, FPM_SETINTERVAL, 20, 0);

        // Two captures differ while it runs...
        EXPECT_TRUE(MovesAwayFrom(hBar, idle)) << c.name;
        std::vector<DWORD> frame = Capture(hBar);
        EXPECT_TRUE(MovesAwayFrom(hBar, frame)) << c.name;

        // ...and it stands still, empty, once disabled.
        EnableWindow(hBar, FALSE);
        PumpMessages();
        std::vector<DWORD> stopped = Capture(hBar);
        EXPECT_TRUE(stopped == idle) << c.name;
        EXPECT_TRUE(StaysStill(hBar, 20, stopped)) << c.name;

        // Enabled again, it starts over.
        EnableWindow(hBar, TRUE);
        EXPECT_TRUE(MovesAwayFrom(hBar, idle)) << c.name;
        DestroyWindow(hBar);
    }
}

TEST_F(FakeProgressTest, ClassicBlocksUseTheHighlightColour)
{
    HWND hBar = MakeBar(FPS_NOTHEME | FPS_TIMER | WS_DISABLED);
    const std::vector<DWORD> idle = Capture(hBar);
    EXPECT_EQ(CountPixels(idle, GetSysColor(COLOR_HIGHLIGHT)), 0);
    SendMessageW(hBar, FPM_SETINTERVAL, 20, 0);
    // Blocks are two thirds of the inner height wide, two pixels apart.
    const int cyInner = BAR_CY - 4;
    const int cxBlock = cyInner * 2 / 3;
    int most = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < PATIENCE_MS && most < 5 * cxBlock * cyInner) {
        PumpMessages();
        int n = CountPixels(Capture(hBar), GetSysColor(COLOR_HIGHLIGHT));
        EXPECT_EQ(n % (cxBlock * cyInner), 0) << n;
        most = std::max(most, n);
        Sleep(5);
    }
    // The default is five blocks.
    EXPECT_EQ(most, 5 * cxBlock * cyInner);
}

TEST_F(FakeProgressTest, CreatedDisabledItWaits)
{
    HWND hBar = MakeBar(FPS_NOTHEME | WS_DISABLED);
    const std::vector<DWORD> idle = Capture(hBar);
    EXPECT_TRUE(StaysStill(hBar, 20, idle));
    EnableWindow(hBar, TRUE);
    EXPECT_TRUE(MovesAwayFrom(hBar, idle));
}

TEST_F(FakeProgressTest, DestroyedWhileRunning)
{
    for (DWORD style : {static_cast<DWORD>(FPS_NOTHEME), static_cast<DWORD>(FPS_TIMER), 0ul}) {
        HWND hBar = MakeBar(style);
        SendMessageW(hBar, FPM_SETINTERVAL, 10, 0);
        Sleep(50);
        PumpMessages();
        EXPECT_TRUE(DestroyWindow(hBar)) << style;
        EXPECT_FALSE(IsWindow(hBar));
    }
}

TEST_F(FakeProgressTest, TakesThePlaceOfADialogControl)
{
    struct Case { BOOL destroy; };
    for (const Case& c : {Case{TRUE}, Case{FALSE}}) {
        HWND hPlaceholder = CreateWindowExW(
            0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 7, 9, 150, 12, m_hParent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(1500)), GetModuleHandleW(nullptr), nullptr);
        HWND hBar = CreateFakeProgress(m_hParent, 1500, FPS_TIMER, c.destroy);
        ASSERT_NE(hBar, nullptr);
        EXPECT_EQ(IsWindow(hPlaceholder), !c.destroy);
        wchar_t szClass[32] = {};
        GetClassNameW(hBar, szClass, 32);
        EXPECT_STREQ(szClass, L"FakeProgress");
        EXPECT_EQ(GetDlgCtrlID(hBar), 1500);
        EXPECT_EQ(GetParent(hBar), m_hParent);
        RECT rc;
        GetWindowRect(hBar, &rc);
        MapWindowPoints(nullptr, m_hParent, reinterpret_cast<POINT*>(&rc), 2);
        EXPECT_EQ(rc.left, 7);
        EXPECT_EQ(rc.top, 9);
        EXPECT_EQ(rc.right - rc.left, 150);
        EXPECT_EQ(rc.bottom - rc.top, 12);
        LONG style = GetWindowLongW(hBar, GWL_STYLE);
        EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | FPS_TIMER),
                  static_cast<LONG>(WS_CHILD | WS_VISIBLE | FPS_TIMER));
        DestroyWindow(hBar);
        if (!c.destroy)
            DestroyWindow(hPlaceholder);
    }
    EXPECT_EQ(CreateFakeProgress(m_hParent, 4242, 0, TRUE), nullptr);
    EXPECT_TRUE(tracesink::Contains("CreateFakeProgress(4242)->no control")) << tracesink::Dump();
}

TEST_F(FakeProgressTest, TheBarsOnScreen)
{
    HWND hClassic = MakeBar(FPS_NOTHEME);
    HWND hThemed = CreateWindowExW(0, FAKEPROGRESS_CLASS, L"", WS_CHILD | WS_VISIBLE, 20, 50,
                                   BAR_CX, BAR_CY, m_hParent, nullptr, GetModuleHandleW(nullptr),
                                   nullptr);
    ASSERT_NE(hThemed, nullptr);
    SetWindowPos(m_hParent, nullptr, 0, 0, BAR_CX + 40, BAR_CY + 80, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(m_hParent, SW_SHOWNOACTIVATE);
    EXPECT_TRUE(MovesAwayFrom(hClassic, Capture(hClassic)));
    EXPECT_TRUE(MovesAwayFrom(hThemed, Capture(hThemed)));
    // Leave it up for a moment for anyone taking a screenshot.
    if (GetEnvironmentVariableW(L"STOWAWAY_UI_PAUSE", nullptr, 0)) {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 3000) {
            PumpMessages();
            Sleep(10);
        }
    }
}
