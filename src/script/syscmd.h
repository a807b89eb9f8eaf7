// Script commands that touch the desktop and the running system: shortcuts,
// programs, processes and services; and the routines behind them.
#pragma once
#include <windows.h>

// The Win32 header maps StartService to StartServiceW; ours is a routine of
// its own (call the system's as ::StartServiceW).
#undef StartService

// Saves folder\name.lnk pointing to szTarget. 1 when the file was saved.
BOOL CreateShortCut(LPCWSTR szFolder, LPCWSTR szName, LPCWSTR szTarget, LPCWSTR szArguments,
                    LPCWSTR szDescription, int nShowCmd, LPCWSTR szWorkingDir,
                    LPCWSTR szIconFile, int iIconIndex);
// Deletes the shortcut; nonzero when a file was deleted.
BOOL RemoveShortCut(LPCWSTR szFolder, LPCWSTR szName);

// 1 when a running process matches szProgram: a bare file name against the
// executable names, a path against the full paths of the main modules.
BOOL FindModule(LPCWSTR szProgram);
// Asks the first matching process other than this one to close (WM_CLOSE to its top-level
// windows), terminates it after 5 s. 1 when it ended or was terminated.
BOOL KillModule(LPCWSTR szProgram);
// The process-list fallback of FindModule for systems without process
// snapshots: the id of the first process other than dwSkipPid whose image
// name matches.
DWORD FindProcessByNtQuery(LPCWSTR szProgram, DWORD dwSkipPid);

BOOL StopService(LPCWSTR szService);
BOOL WaitForServiceToReachState(SC_HANDLE hService, DWORD dwDesiredState,
                                SERVICE_STATUS* pStatus);
BOOL IsExistService(LPCWSTR szService);
BOOL StartService(LPCWSTR szService);

UINT ScriptCreateIcon(LPCWSTR szParams);
UINT ScriptRemoveIcon(LPCWSTR szParams);
UINT ScriptExecuteFile(LPCWSTR szParams);
UINT ScriptKillModule(LPCWSTR szParams);
UINT ScriptStopService(LPCWSTR szParams);
UINT ScriptRegisterFile(LPCWSTR szParams);
