// Starting, waiting for and stopping other programs: the one way the
// launcher runs a file, and the process look-ups behind the script's
// module tests and kills.
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
// is closed here. 0 when the shell started the file, or the reason (2 when
// the file is missing).
[[nodiscard]] DWORD ExecuteFile(HWND hWnd, LPCWSTR szFile, LPCWSTR szParams, LPCWSTR szDir,
                                LPCWSTR szVerb, BOOL bWait, int nShowCmd, DWORD* pdwExitCode,
                                HANDLE* phProcess);

// Waits for a started process while dispatching hWnd's messages, until it
// ends or the cancel flag is set; stores its exit code in *pdwExitCode once
// it has ended (a wait cut short leaves *pdwExitCode as it was). Returns
// the last wait result.
[[nodiscard]] DWORD WaitForProcess(HWND hWnd, HANDLE hProcess, DWORD* pdwExitCode);

// The setup program the run launched: a cancelled run stops waiting for it
// at once, but its folder is removed only once it has ended. Keeps a copy
// of the handle.
void KeepLaunchedProgram(HANDLE hProcess);
// Waits (traced) for the kept program when it still runs; TRUE when it had
// to wait. The handle is let go either way.
BOOL WaitForLaunchedProgram();

// Dispatches the calling thread's messages for hWnd for dwMilliseconds (one
// short pass with 0). From the worker it serves as a delay.
void PumpMessagesFor(HWND hWnd, DWORD dwMilliseconds);

// 1 when a running process matches szProgram: a bare file name against the
// executable names, a path against the full paths of the main modules.
[[nodiscard]] BOOL FindModule(LPCWSTR szProgram);

// Asks the first matching process other than this one to close (WM_CLOSE
// to its top-level windows), terminates it after 5 s. 1 when it ended or
// was terminated. A process started from a path that begins with szSpare
// (another run's temporary folders) is left alone, unless it lies below
// szOwn (this run's own).
[[nodiscard]] BOOL KillModule(LPCWSTR szProgram, LPCWSTR szSpare = nullptr,
                              LPCWSTR szOwn = nullptr);

// Asks the process whose image is exactly szImage (a full path) to close,
// and terminates it after 5 s: the one program that holds a file about to
// be replaced. Never a program that merely has the same name, never this
// process. 1 when it ended or was terminated.
[[nodiscard]] BOOL KillModuleByPath(LPCWSTR szImage);

// The process-list fallback of FindModule for systems without process
// snapshots: the id of the first process other than dwSkipPid whose image
// name matches.
[[nodiscard]] DWORD FindProcessByNtQuery(LPCWSTR szProgram, DWORD dwSkipPid);
