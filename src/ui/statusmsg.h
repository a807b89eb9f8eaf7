// What the status window is sent: by the worker, by the tray, and by the
// setup program from another process.
#pragma once
#include <windows.h>
#include "common/capacity.h"

// Private messages. The numbers are fixed: other processes send them.
#define WM_SETUP_EXIT    0x8001  // the setup program failed: exit code 1
#define WM_SETUP_END     0x8002  // the setup program succeeded: exit code 0
#define WM_SETUP_LAUNCH  0x8004  // launch the file named by the window title
#define WM_SETUP_BEGIN   0x8005  // bring the window in wParam to the front
#define WM_SETUP_HIDE    0x8006  // hide the status window
#define WM_READY_TASK    0x8014  // the dialog is ready: start the worker
#define WM_END_TASK      0x8015  // the worker is done: close the dialog
#define WM_RUNNING_TASK  0x8018  // the setup program runs: the window says so, without bars

// In-app message zone notifications.
#define MSG_WEBSERVICE_URL_RETURN 0x0F01
#define MSG_WEBSERVICE_OPEN_URL   0x0F02
#define MSG_WEBSERVICE_0F03       0x0F03
#define MSG_WEBSERVICE_0F04       0x0F04

// Command ids that also arrive through the tray menu.
#define IDC_STATUS_CANCEL_ALT 0x8006
#define IDC_STATUS_FOREGROUND 0x8008

// WM_COPYDATA dwData of a launch request.
#define SETUP_COPYDATA_LAUNCH 1

// Launch request sent by the setup program with WM_COPYDATA. It crosses
// processes: the layout is fixed (17568 bytes, UTF-16, zero-terminated).
struct SETUPLAUNCHDATA {
    WCHAR szFile[PATH_CCH];         // may be quoted
    WCHAR szCmdLine[CMDLINE_CCH];
    WCHAR szDirectory[PATH_CCH];    // empty = folder of the file
    WCHAR szVerb[PATH_CCH];         // empty = "open"
    DWORD dwWait;
    DWORD dwShowCmd;                // 0 = SW_SHOWNORMAL
};
static_assert(sizeof(SETUPLAUNCHDATA) == 17568, "SETUPLAUNCHDATA crosses processes");
