// Diagnostic trace: each call formats one line and hands it to the external
// monitor windows ("TMonitor" and the "Dbs" list), when such windows existed
// on the desktop at the first call, and to the log file when one was opened
// (common/tracelog.h).
#pragma once
#include <windows.h>

enum : unsigned {
    TRACE_MESSAGE_CCH = 1025,  // formatted message: 1024 characters kept
    TRACE_TIME_CCH = 100,      // time of day
    TRACE_LINE_CCH = 1064,     // final line handed to a window
};

// Wide format, msvcrt conventions: %s takes a wide string.
void DebugTrace(const wchar_t* fmt, ...);
// 8-bit format (system ANSI code page), wvsprintfA conventions.
void DebugTraceA(const char* fmt, ...);
