// The setup run: the one thread that extracts, runs the script, launches
// the package's setup program and settles the outcome. It shows and asks
// through its view (engine/runview.h) and knows no window of its own.
#pragma once
#include <windows.h>
#include "engine/runview.h"
#include "state/runcontext.h"
#include "state/state.h"

// What a run is given, and what it leaves for the end of the program.
struct SETUPRUN {
    explicit SETUPRUN(RUNCONTEXT& ctx) : pCtx(&ctx) {}

    RUNCONTEXT* pCtx;              // the configuration and the places it works with
    PAYLOADFOUND payload;          // what it extracts
    BOOL bSilent = FALSE;          // -S, -FULLSILENT: nothing shown, nobody asked
    BOOL bForceDownload = FALSE;   // -FD: web files come from the server, never from a copy
    // -CMDLINE: as written, quotes included: it follows the setup program's
    // configured command line.
    WCHAR szCmdLineParam[CMDLINE_CCH] = L"";
    // The launcher chose the target folder (a temporary or resume
    // extraction folder): it holds nothing but what the run puts there.
    BOOL bOwnTarget = FALSE;
    // Left by the run: restart mode registered the setup program to run
    // after the restart, so the folder it runs from stays.
    BOOL bRunOnceWritten = FALSE;
};

// The run, from the tray icon to the view's End, on the calling thread.
// Returns 0.
DWORD RunSetup(IRunView& view, SETUPRUN& setup);

// Starts the run on a thread of its own (ThreadUnCompressDATA), which owns
// pView and deletes it when it ends; setup must outlive the thread.
// Returns the thread (the caller closes it), or null when no thread could
// be made (pView is then deleted here; a null pView makes none).
[[nodiscard]] HANDLE StartSetupRun(IRunView* pView, SETUPRUN& setup);

// A program the setup program asks the run to start while it runs. Waits
// for it when bWait; a program that ends while waited for leaves its code as
// the run's. hOwner: the window whose messages flow meanwhile.
void LaunchForSetupProgram(HWND hOwner, LPCWSTR szFile, LPCWSTR szCmdLine, LPCWSTR szDir,
                           LPCWSTR szVerb, BOOL bWait, int nShowCmd);

// Enables the shutdown privilege and restarts the machine (forced). 0, or
// the reason: 1300 (ERROR_NOT_ALL_ASSIGNED) when the account lacks the right.
[[nodiscard]] DWORD RebootSystem();
