// The run's cancel flag: set to 1 by the user interface (Cancel, close) and
// by the script's EXIT, never cleared. Long operations poll it between
// blocks, files, lines and waits and then return 1223.
#pragma once
#include <windows.h>

// Process-wide: set by the window's thread, the script's EXIT and the fault
// filter; every loop of every thread polls it.
extern volatile LONG g_bCancel;

inline BOOL IsCancelled()
{
    return g_bCancel != 0;
}
