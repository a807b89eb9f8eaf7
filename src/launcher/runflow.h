// The launcher's run flow, from the command line to the exit code.
#pragma once
#include <windows.h>

DWORD RunLauncher(HINSTANCE hInst, HINSTANCE hPrevInst, LPWSTR lpCmdLine, int nCmdShow);
