// The launcher's run flow, from the command line to the exit code.
#pragma once
#include <windows.h>
#include "state/runcontext.h"

// TRUE when the process token is a member of the built-in Administrators.
BOOL IsRunAsAdmin();

// The text that /INFO shows: the package's languages with their names.
void BuildInformationText(const RUNCONTEXT& ctx, LPWSTR szText, size_t cchText);

// The whole run: returns the process exit code.
DWORD RunLauncher(HINSTANCE hInst, HINSTANCE hPrevInst, LPWSTR lpCmdLine, int nCmdShow);
