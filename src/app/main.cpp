// Program entry point: lock the DLL search down, then hand over to the run flow.
#include <windows.h>
#include "common/sysdll.h"
#include "launcher/runflow.h"

int WINAPI wWinMain(HINSTANCE hInst, HINSTANCE hPrevInst, LPWSTR lpCmdLine, int nCmdShow)
{
    LockDownDllSearch();
    return static_cast<int>(RunLauncher(hInst, hPrevInst, lpCmdLine, nCmdShow));
}
