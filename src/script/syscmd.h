// Script commands that touch the desktop and the running system: shortcuts,
// programs, processes and services; and the routines behind them.
#pragma once
#include <windows.h>
#include "script/fields.h"

// Saves folder\name.lnk pointing to szTarget. 0 when the file was saved, or
// the reason: 87 for a missing part, 2 when the target is not there.
[[nodiscard]] DWORD CreateShortCut(LPCWSTR szFolder, LPCWSTR szName, LPCWSTR szTarget,
                                   LPCWSTR szArguments, LPCWSTR szDescription, int nShowCmd,
                                   LPCWSTR szWorkingDir, LPCWSTR szIconFile, int iIconIndex);
// Deletes the shortcut. 0 when a file was deleted, or the reason: 123 for a
// name that ends other than in ".lnk".
[[nodiscard]] DWORD RemoveShortCut(LPCWSTR szFolder, LPCWSTR szName);

// Stops a service and waits for it to stop. 0, or the reason: 1053
// (ERROR_SERVICE_REQUEST_TIMEOUT) when it did not stop in time.
[[nodiscard]] DWORD StopService(LPCWSTR szService);
[[nodiscard]] BOOL WaitForServiceToReachState(SC_HANDLE hService, DWORD dwDesiredState,
                                              SERVICE_STATUS* pStatus);

UINT ScriptCreateIcon(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptRemoveIcon(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptExecuteFile(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptKillModule(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptStopService(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptRegisterFile(SCRIPTRUN& run, LPCWSTR szParams);
