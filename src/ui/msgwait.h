// The please-wait window: a small modeless dialog on a thread of its own,
// so that it keeps painting while the calling thread blocks on a long step.
#pragma once
#include <windows.h>
#include "common/capacity.h"

// Flags of MsgWaitDlg: show the "Cancel" button; keep the window out of
// sight (a silent run).
#define MSGWAIT_SHOW_CANCEL 0x400
#define MSGWAIT_OUT_OF_SIGHT 0x800

enum : unsigned {
    MSGWAIT_OPEN_WAIT_MS = 200,   // opening waits this long for the window
    MSGWAIT_CLOSE_STEP_MS = 100,  // closing polls the thread this often...
    MSGWAIT_CLOSE_WAIT_MS = 2000, // ...and terminates it after this long
};

// Toggles the wait window: when none is up, opens one from template
// IDD_MSGWAIT in hInst with the title, the message (control 1003) and the
// flags, and returns its handle (0 when it did not come up in time);
// otherwise closes the open one (the arguments are then ignored) and
// returns 0.
HWND MsgWaitDlg(HINSTANCE hInst, LPCWSTR szTitle, LPCWSTR szMessage, DWORD dwFlags);
