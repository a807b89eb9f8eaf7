// A windowed test program that ends when its window gets WM_CLOSE; built
// with IGNORE_CLOSE (nocloseme) it ignores WM_CLOSE, and only termination
// ends it. Argument: the name of an event to set once the window exists.
#include <windows.h>

#ifdef IGNORE_CLOSE
static const wchar_t kClass[] = L"StowawayNoCloseMe";
static const wchar_t kTitle[] = L"nocloseme";
#else
static const wchar_t kClass[] = L"StowawayCloseMe";
static const wchar_t kTitle[] = L"closeme";
#endif

static LRESULT CALLBACK WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
#ifdef IGNORE_CLOSE
    if (msg == WM_CLOSE)
        return 0;
#else
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
#endif
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

int wmain(int argc, wchar_t** argv)
{
    HINSTANCE hInst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInst;
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, 0, 0,
                                100, 100, nullptr, nullptr, hInst, nullptr);
    if (!hWnd)
        return 2;
    if (argc > 1) {
        HANDLE hReady = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
        if (hReady) {
            SetEvent(hReady);
            CloseHandle(hReady);
        }
    }
    // Never outlive a test run that forgot us.
    SetTimer(hWnd, 1, 60000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER)
            return 3;
        DispatchMessageW(&msg);
    }
    return 0;
}
