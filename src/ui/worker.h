// The setup worker: the one thread that extracts, runs the script, launches
// the package's setup program and reports the outcome.
#pragma once
#include <windows.h>

// Thread procedure; the argument is the status window (may be null). Ends
// by sending WM_END_TASK to that window. Returns 0.
DWORD WINAPI ThreadUnCompressDATA(LPVOID lpParam);

// Dispatches the calling thread's messages for hWnd for dwMilliseconds (one
// short pass with 0). From the worker it serves as a delay.
void PumpMessagesFor(HWND hWnd, DWORD dwMilliseconds);

// "(code) system text" for a Win32 error code, without the line end the
// system puts after its text; also traced.
void FormatSystemError(LPWSTR szBuffer, size_t cchBuffer, DWORD dwError);

// Cuts blanks, tabs and line ends off the end of a message box text.
void TrimTrailingBlanks(LPWSTR szText);

// Enables the shutdown privilege and restarts the machine (forced).
BOOL RebootSystem();
