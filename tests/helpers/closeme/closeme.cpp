// A windowed test program that ends when its window gets WM_CLOSE.
// Argument: the name of an event to set once the window exists.
#include <windows.h>

static LRESULT CALLBACK WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

int wmain(int argc, wchar_t** argv)
{
    HINSTANCE hInst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInst;
    wc.lpszClassName = L"StowawayCloseMe";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"closeme", WS_OVERLAPPEDWINDOW, 0, 0,
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
