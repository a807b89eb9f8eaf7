// The status window: the modeless dialog that shows the setup run, its
// message loop, and the private messages the setup program may send it.
#pragma once
#include <windows.h>
#include "state/runcontext.h"
#include "common/capacity.h"
#include "engine/run.h"
#include "ui/statusmsg.h"

// Starts the run a status window shows, once the window is ready; returns
// the run's thread (the window waits for it when it closes), or null.
typedef HANDLE (*STARTRUNPROC)(HWND hStatus, SETUPRUN& setup);

// Creation parameter of the status window (kept as its user data).
struct STATUSDLGPARAM {
    const RUNCONTEXT* pCtx;    // the title and the configured look of the window
    HINSTANCE hModule;         // module holding the templates and strings (hInstRes)
    DWORD uiLangID;            // language handed to LoadStringEx
    STARTRUNPROC pfnStartRun;  // the run the window shows (ui/statusview.h)
    SETUPRUN* pSetup;          // that run: what it extracts, what it leaves
};

// Creates the status window (200 normal, 150 small) and runs the message
// loop until it is destroyed. Returns the dialog handle.
[[nodiscard]] HWND StatusDlg(HWND hParent, STATUSDLGPARAM* pParam);
INT_PTR CALLBACK StatusProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Window helpers shared by the launcher's dialogs.
void ForceForegroundWindow(HWND hWnd);
void ShowOrHideWindow(HWND hWnd, BOOL bShow, DWORD dwMilliseconds);
[[nodiscard]] BOOL AnimateWindowIfAvailable(HWND hWnd, DWORD dwTime, DWORD dwFlags);
void CenterWindowOnWorkArea(HWND hWnd);
