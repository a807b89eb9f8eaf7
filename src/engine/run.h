// The setup run: the one thread that extracts, runs the script, launches
// the package's setup program and settles the outcome. It shows and asks
// through its view (engine/runview.h) and knows no window of its own.
#pragma once
#include <windows.h>
#include "engine/runview.h"
#include "state/state.h"

// What a run is given: where it shows itself and what it extracts.
struct SETUPRUN {
    IRunView* pView;
    PAYLOADFOUND payload;
};

// Thread procedure; the argument is the run (SETUPRUN*). Ends with the
// view's End. Returns 0.
DWORD WINAPI ThreadUnCompressDATA(LPVOID lpParam);

// Starts the run on a thread of its own, which owns pView and deletes it
// when it ends. Returns the thread (the caller closes it), or null when no
// thread could be made (pView is then deleted here).
HANDLE StartSetupRun(IRunView* pView, const PAYLOADFOUND& payload);

// A program the setup program asks the run to start while it runs. Waits
// for it when bWait; a program that ends while waited for leaves its code as
// the run's. hOwner: the window whose messages flow meanwhile.
void LaunchForSetupProgram(HWND hOwner, LPCWSTR szFile, LPCWSTR szCmdLine, LPCWSTR szDir,
                           LPCWSTR szVerb, BOOL bWait, int nShowCmd);

// Enables the shutdown privilege and restarts the machine (forced).
BOOL RebootSystem();
