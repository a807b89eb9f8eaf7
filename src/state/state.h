// What the whole process shares: the modules its texts come from, the
// status window, -SUPPRESSMSGBOXES, and the exit code with its one writer.
#pragma once
#include <windows.h>
#include "common/cancel.h"
#include "common/capacity.h"

// Scratch folder name below <TEMP>; also the default project GUID.
#define TRV_DEFAULT_GUID L"{A6E044B8-6C25-48fc-806B-002A9582C81F}"
// Extraction folder name when the package extracts to a temporary place.
#define TRV_EXTRACT_FOLDER L"{7B28E39C-883C-4f49-ABFB-5D16796F2DD9}"
// Where restart mode registers the setup program (below HKEY_CURRENT_USER).
#define RUNONCE_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"

// Process-wide: every box of the program obeys it, before, during and after
// the run.
extern BOOL g_bSuppressMsgBoxes;             // -SUPPRESSMSGBOXES: boxes take their default answer

// Process-wide: the modules every string, icon and dialog comes from.
extern HINSTANCE hInstance;                  // the program's own module
extern HINSTANCE hInstRes;                   // module holding dialogs and strings
// Process-wide: the exit code's owner thread and <HWND_TRV> find the
// window here.
extern HWND g_hStatusWnd;                    // status window, 0 until it exists

// The exit code has one owner, the thread of the status window: it answers
// this message by passing wParam (and lParam, the source) to SetExitCode
// (and returns 1).
#define WM_SET_EXIT_CODE 0x8016

// The payload found at start-up: the DATA resource, else a payload appended
// to the program file. The run extracts whichever was found.
struct PAYLOADFOUND {
    HGLOBAL hDataRes = nullptr;
    DWORD dwDataResSize = 0;
    BOOL bDataFile = FALSE;
    DWORD dwDataFileOffset = 0;
    // The package carries a payload that could not be found (its file table
    // is damaged or cut off): the run fails, and nothing beside the program
    // is taken in its place.
    BOOL bLost = FALSE;

    BOOL Any() const { return hDataRes != nullptr || bDataFile; }
};

// Who chose an exit code. A code that a program, the script or the setup
// program chose stays; the run's own outcome may still give way to it.
enum EXITCODESOURCE : DWORD {
    EXITCODE_CHOSEN = 0,   // marks the code as set: the end of the run keeps it
    EXITCODE_OUTCOME = 1,  // the run's own outcome so far; not marked
};

// The one writer of the run's exit code. EXITCODE_CHOSEN marks it as set,
// so that the end of the run keeps it rather than the code of a plain
// outcome (0, 3010, 1223). From another thread than the status window's
// the value travels through WM_SET_EXIT_CODE (lParam: the source) to that
// thread; without a window it is written here.
void SetExitCode(DWORD dwCode, EXITCODESOURCE source = EXITCODE_CHOSEN);
// The run's exit code so far; 1 until something sets it.
DWORD ExitCode();
// TRUE once a program, the script or the setup program chose the code.
BOOL ExitCodeChosen();
// A run's first exit code: 1, nothing chosen. The run starts with it.
void StartExitCode();
