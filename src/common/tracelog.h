// The trace's log file (-LOG:"file"): every trace line, with the date and
// time in front, appended as UTF-8. A log that cannot be opened or written
// is given up at once; it never stops or slows the run.
#pragma once
#include <windows.h>

// Opens szPath for appending, creating it (with a UTF-8 byte order mark)
// when missing. 0, or the reason it cannot be opened; tracing then goes on
// without a file.
[[nodiscard]] DWORD OpenTraceLog(LPCWSTR szPath);

// TRUE while lines go to a log file.
BOOL IsTraceLogOpen();

// Appends "yyyy-mm-dd hh:mm:ss.mmm " and szLine (its line breaks written
// as \r and \n), with one write: the line is in the file when the call
// returns. A failed write closes the log.
void WriteTraceLog(LPCWSTR szLine);

void CloseTraceLog();
