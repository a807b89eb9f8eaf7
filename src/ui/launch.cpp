#include "ui/launch.h"
#include <shellapi.h>
#include <shlwapi.h>
#include "common/trace.h"
#include "launcher/state.h"
#include "ui/worker.h"

namespace {

// First wait on a fresh process, then one wait per pass of the loop.
const DWORD FIRST_WAIT_MS = 100;
const DWORD NEXT_WAIT_MS = 1000;

LPCWSTR OrEmpty(LPCWSTR sz)
{
    return sz ? sz : L"";
}

bool WaitIsOver(DWORD dwWait)
{
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED || dwWait == WAIT_ABANDONED;
}

}  // namespace

BOOL ExecuteFile(HWND hWnd, LPCWSTR szFile, LPCWSTR szParams, LPCWSTR szDir, LPCWSTR szVerb,
                 BOOL bWait, int nShowCmd, DWORD* pdwExitCode, HANDLE* phProcess)
{
    DebugTrace(L"ExecuteFile(%s, %s, %s, %d (Wait=1), %d (ShowWindow))->Begin", OrEmpty(szFile),
               OrEmpty(szParams), OrEmpty(szVerb), bWait, nShowCmd);
    if (phProcess)
        *phProcess = nullptr;
    if (!szFile || !*szFile || !PathFileExistsW(szFile))
        return FALSE;

    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = EXECUTE_FILE_MASK;
    sei.lpFile = szFile;
    sei.lpVerb = (szVerb && *szVerb) ? szVerb : nullptr;
    sei.lpParameters = szParams;
    sei.nShow = nShowCmd;
    sei.hwnd = hWnd ? nullptr : GetActiveWindow();
    if (szDir && *szDir)
        sei.lpDirectory = szDir;

    DebugTrace(L"ExecuteFile()->Directory=%s", OrEmpty(szDir));
    BOOL bResult = ShellExecuteExW(&sei);
    HANDLE hProcess = bResult ? sei.hProcess : nullptr;

    DWORD dwExitCode = pdwExitCode ? *pdwExitCode : 0;
    if (bResult && bWait) {
        DWORD dwWait = WaitForSingleObject(hProcess, FIRST_WAIT_MS);
        DWORD dwStart = GetTickCount();
        DebugTrace(L"ExecuteFile()->WaitForSingleObject=%#X", dwWait);
        while (!WaitIsOver(dwWait) && !g_bCancel) {
            dwWait = WaitForSingleObject(hProcess, NEXT_WAIT_MS);
            PumpMessagesFor(hWnd, 0);
        }
        if (hProcess && GetExitCodeProcess(hProcess, &dwExitCode) && pdwExitCode)
            *pdwExitCode = dwExitCode;
        DebugTrace(L"ExecuteFile()->WaitForSingleObject=%#X Time=%d ms", dwWait,
                   GetTickCount() - dwStart);
    }

    if (phProcess)
        *phProcess = hProcess;
    else if (hProcess)
        CloseHandle(hProcess);
    DebugTrace(L"ExecuteFile()->End(%d - %#x)", bResult, dwExitCode);
    return bResult;
}
