#include "launcher/runflow.h"
#include <strsafe.h>
#include "launcher/state.h"

// Start-up and shutdown are filled in step by step; until then the run
// keeps only the process state and ends at once.
DWORD RunLauncher(HINSTANCE hInst, HINSTANCE, LPWSTR lpCmdLine, int)
{
    hInstance = hInst;
    hInstRes = hInst;
    StringCchCopyW(g_szCmdLine, CMDLINE_CCH, lpCmdLine ? lpCmdLine : L"");
    return g_dwExitCode;
}
