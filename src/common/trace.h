// Diagnostic trace: each call formats one line and hands it to the external
// monitor windows ("TMonitor" and the "Dbs" list), when such windows existed
// on the desktop at the first call, and to the log file when one was opened
// (common/tracelog.h).
#pragma once
#include <windows.h>
#include "common/capacity.h"

// Wide format, msvcrt conventions: %s takes a wide string.
void DebugTrace(const wchar_t* fmt, ...);
// 8-bit format (system ANSI code page), wvsprintfA conventions.
void DebugTraceA(const char* fmt, ...);
