// Process-wide launcher state, owned by the run flow for the whole run.
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

extern WCHAR g_szCmdLine[CMDLINE_CCH];       // lpCmdLine; also <PARAMS>
extern WCHAR g_szCmdLineParam[CMDLINE_CCH];  // value of -CMDLINE:
extern WORD g_lcID_LangParam;                // -LANG:, 0 = not forced
extern BOOL g_bSilent;                       // -S / -FULLSILENT
extern BOOL g_bForceDownload;                // -FD
extern BOOL g_bSuppressMsgBoxes;             // -SUPPRESSMSGBOXES: boxes take their default answer
extern DWORD g_dwExitCode;                   // process exit code, starts at 1
extern BOOL g_bExitCodeSet;                  // a program, the script or the setup program set it

extern HINSTANCE hInstance;                  // the program's own module
extern HINSTANCE hInstRes;                   // module holding dialogs and strings
extern WCHAR TempPathTRV[PATH_CCH];          // <TEMP>\{A6E044B8-...}
extern WCHAR DataPath[PATH_CCH];             // project data folder
extern WCHAR Title[TITLE_CCH];               // window and message title
extern WCHAR ExeFile[PATH_CCH];              // setup program to launch
extern HWND g_hStatusWnd;                    // status window, 0 until it exists
// The launcher chose the target folder (a temporary or resume extraction
// folder): it holds nothing but what the run puts there.
extern BOOL g_bOwnTgdFolder;
// Restart mode registered the setup program to run after the restart: the
// folder it runs from stays.
extern BOOL g_bRunOnceWritten;

// The exit code has one owner, the thread of the status window: it answers
// this message by passing wParam to SetExitCode (and returns 1).
#define WM_SET_EXIT_CODE 0x8016

// Payload found at start-up: the DATA resource, else a payload appended to
// the program file. The worker extracts whichever was found.
extern HGLOBAL g_hDataRes;
extern DWORD g_dwDataResSize;
extern BOOL g_bDataFile;
extern DWORD g_dwDataFileOffset;
[[nodiscard]] BOOL HasPayload();
// The package carries a payload that could not be found (its file table is
// damaged or cut off): the run fails, and nothing beside the program is
// taken in its place.
extern BOOL g_bPayloadLost;

// Sets the run's exit code and marks it as set, so that the end of the run
// keeps it rather than the code of a plain outcome (0, 3010, 1223). From
// another thread than the status window's the value travels through
// WM_SET_EXIT_CODE to that thread; without a window it is written here.
void SetExitCode(DWORD dwCode);
