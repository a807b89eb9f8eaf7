// "FakeProgress": an endlessly moving progress indicator (a few blocks that
// run from left to right), themed when the system draws themes. Registered
// for the skin library, which creates it by class name.
#pragma once
#include <windows.h>

#define FAKEPROGRESS_CLASS L"FakeProgress"

// Messages of the control.
#define FPM_GETINTERVAL (WM_USER + 0)  // -> interval in milliseconds
#define FPM_SETINTERVAL (WM_USER + 1)  // wParam: interval; also enables the control
#define FPM_GETBLOCKS (WM_USER + 2)    // -> number of blocks
#define FPM_SETBLOCKS (WM_USER + 3)    // wParam: 1 to 20 blocks; -> 1, else 0

// Window styles of the control.
#define FPS_NOTHEME 0x0001  // always draw the classic way
#define FPS_TIMER 0x0002    // animate with a window timer instead of a thread

enum : unsigned {
    FAKEPROGRESS_DEFAULT_INTERVAL = 100,
    FAKEPROGRESS_MIN_INTERVAL = 10,
    FAKEPROGRESS_DEFAULT_BLOCKS = 5,
    FAKEPROGRESS_MAX_BLOCKS = 20,
};

// Registers the "FakeProgress" class once per process. Exported for the
// skin library.
extern "C" __declspec(dllexport) void WINAPI InitFakeProgress(void);

// Creates a FakeProgress control in place of the dialog control nIdPlaceholder:
// same rectangle and id, dwStyle plus WS_CHILD | WS_VISIBLE. The placeholder is
// destroyed when asked. Returns the new control or null.
[[nodiscard]] HWND CreateFakeProgress(HWND hDlg, int nIdPlaceholder, DWORD dwStyle,
                                      BOOL bDestroyPlaceholder);
