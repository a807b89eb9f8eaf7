#include "state/state.h"

BOOL g_bSuppressMsgBoxes;

HINSTANCE hInstance;
HINSTANCE hInstRes;
HWND g_hStatusWnd;

namespace {

// Written by SetExitCode alone.
DWORD g_dwExitCode = 1;
BOOL g_bExitCodeSet;

}  // namespace

void SetExitCode(DWORD dwCode, EXITCODESOURCE source)
{
    HWND hStatus = g_hStatusWnd;
    if (hStatus && GetWindowThreadProcessId(hStatus, nullptr) != GetCurrentThreadId() &&
        SendMessageW(hStatus, WM_SET_EXIT_CODE, dwCode, source) == 1)
        return;
    // On the owner's thread, or no window (any more): nobody else writes it now.
    g_dwExitCode = dwCode;
    if (source == EXITCODE_CHOSEN)
        g_bExitCodeSet = TRUE;
}

DWORD ExitCode()
{
    return g_dwExitCode;
}

BOOL ExitCodeChosen()
{
    return g_bExitCodeSet;
}

void StartExitCode()
{
    g_dwExitCode = 1;
    g_bExitCodeSet = FALSE;
}
