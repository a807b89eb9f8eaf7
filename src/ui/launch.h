// Starting another program: the one way the launcher runs a file.
#pragma once
#include <windows.h>

// ShellExecuteEx mask: the process handle comes back, the call completes
// before returning, and the shell shows no error box of its own.
#define EXECUTE_FILE_MASK (SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI)

// Starts szFile through the shell with szVerb ("open", "RunAs"...; empty =
// the default verb). With bWait, waits for the process while dispatching
// hWnd's messages, stops early when g_bCancel is set, and stores the exit
// code in *pdwExitCode. *phProcess, when given, receives the process
// handle (or null) and the caller closes it; without phProcess the handle
// is closed here. Returns TRUE when the shell started the file.
BOOL ExecuteFile(HWND hWnd, LPCWSTR szFile, LPCWSTR szParams, LPCWSTR szDir, LPCWSTR szVerb,
                 BOOL bWait, int nShowCmd, DWORD* pdwExitCode, HANDLE* phProcess);
