// The setup worker: the one thread that extracts, runs the script, launches
// the package's setup program and reports the outcome.
#pragma once
#include <windows.h>

// Thread procedure; the argument is the status window (may be null). Ends
// by sending WM_END_TASK to that window. Returns 0, or the error of a step
// that ended on an exception (caught here, traced and reported).
DWORD WINAPI ThreadUnCompressDATA(LPVOID lpParam);

// Enables the shutdown privilege and restarts the machine (forced).
BOOL RebootSystem();
