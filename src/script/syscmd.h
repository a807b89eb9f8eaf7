// Script commands that touch the desktop and the running system: shortcuts,
// programs, processes and services; and the routines behind them.
#pragma once
#include <windows.h>
#include "script/fields.h"

// Saves folder\name.lnk pointing to szTarget. 1 when the file was saved.
[[nodiscard]] BOOL CreateShortCut(LPCWSTR szFolder, LPCWSTR szName, LPCWSTR szTarget,
                                  LPCWSTR szArguments, LPCWSTR szDescription, int nShowCmd,
                                  LPCWSTR szWorkingDir, LPCWSTR szIconFile, int iIconIndex);
// Deletes the shortcut; nonzero when a file was deleted.
[[nodiscard]] BOOL RemoveShortCut(LPCWSTR szFolder, LPCWSTR szName);

[[nodiscard]] BOOL StopService(LPCWSTR szService);
[[nodiscard]] BOOL WaitForServiceToReachState(SC_HANDLE hService, DWORD dwDesiredState,
                                              SERVICE_STATUS* pStatus);

UINT ScriptCreateIcon(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptRemoveIcon(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptExecuteFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptKillModule(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptStopService(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptRegisterFile(SCRIPTRUN& run, LPCWSTR szParams);
