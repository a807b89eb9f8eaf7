// Reporting failed system calls: the trace line and the text a user reads.
#pragma once
#include <windows.h>

// Logs a failed system call named szOperation with the system's text for
// dwError (the thread's last error when 0) and returns the code.
DWORD ReportLastError(LPCWSTR szOperation, DWORD dwError);

// The thread's last error, or dwFallback when there is none: a failure
// never reads as success.
[[nodiscard]] DWORD LastErrorOr(DWORD dwFallback);

// The system's words for a Win32 error code, without the line end it puts
// after them; empty when it has none. Only shown: cut to the buffer.
void SystemErrorText(DWORD dwError, LPWSTR szBuffer, size_t cchBuffer);

// The Win32 code of a failed COM call: the one it carries, else 1627
// (ERROR_FUNCTION_FAILED). S_OK gives 0; any other success code is a
// failure too.
[[nodiscard]] DWORD ErrorOfHresult(HRESULT hr);

// Cuts blanks, tabs and line ends off the end of a text shown to the user.
void TrimTrailingBlanks(LPWSTR szText);
