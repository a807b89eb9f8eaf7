// The worker's small helpers: the message pump and the error texts.
#include <gtest/gtest.h>
#include <string>
#include "support/tracesink.h"
#include "ui/worker.h"
#include "uitest_util.h"

namespace {

const UINT kProbe = WM_APP + 7;
int g_probeCount;

LRESULT CALLBACK ProbeProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == kProbe) {
        ++g_probeCount;
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

HWND CreateProbeWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WorkerTestProbe";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

TEST(PumpMessagesFor, DispatchesOneMessageOfTheWindowPerPass)
{
    HWND hWnd = CreateProbeWindow();
    HWND hOther = CreateProbeWindow();
    ASSERT_NE(nullptr, hWnd);
    g_probeCount = 0;
    PostMessageW(hWnd, kProbe, 0, 0);
    PostMessageW(hWnd, kProbe, 0, 0);
    PostMessageW(hOther, kProbe, 0, 0);

    PumpMessagesFor(hWnd, 0);
    EXPECT_EQ(1, g_probeCount);
    PumpMessagesFor(hWnd, 200);
    EXPECT_EQ(2, g_probeCount);

    // The other window's message is still queued.
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, hOther, kProbe, kProbe, PM_REMOVE));
    DestroyWindow(hOther);
    DestroyWindow(hWnd);
}

struct ErrorCase {
    DWORD code;
};

const ErrorCase kErrorCases[] = {{ERROR_FILE_NOT_FOUND}, {ERROR_INVALID_DATA},
                                 {ERROR_WRITE_FAULT}, {ERROR_BAD_FORMAT}, {0xDEADu}};

TEST(FormatSystemError, WritesCodeAndSystemText)
{
    for (const ErrorCase& c : kErrorCases) {
        SCOPED_TRACE(c.code);
        tracesink::Clear();
        LPWSTR szSystem = nullptr;
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, c.code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&szSystem), 0,
                       nullptr);
        std::wstring expected = L"(" + std::to_wstring(c.code) + L") " + (szSystem ? szSystem : L"");
        if (szSystem)
            LocalFree(szSystem);

        WCHAR szText[256];
        FormatSystemError(szText, ARRAYSIZE(szText), c.code);
        EXPECT_EQ(expected, szText);
        EXPECT_TRUE(tracesink::Contains(uitest::Utf8(expected))) << tracesink::Dump();
    }
}

TEST(FormatSystemError, CutsToTheBuffer)
{
    WCHAR szText[8];
    FormatSystemError(szText, ARRAYSIZE(szText), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(7u, wcslen(szText));
    EXPECT_EQ(0, wcsncmp(szText, L"(2) ", 4));
}

}  // namespace
