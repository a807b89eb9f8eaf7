#include "ui/worker.h"
#include <strsafe.h>
#include "common/trace.h"

namespace {

// Pause between two passes of the message pump.
const DWORD PUMP_PASS_MS = 10;

}  // namespace

void PumpMessagesFor(HWND hWnd, DWORD dwMilliseconds)
{
    DWORD dwStart = GetTickCount();
    do {
        MSG msg;
        if (PeekMessageW(&msg, hWnd, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        // Sleep on every pass, message or not: an empty queue must not spin.
        Sleep(PUMP_PASS_MS);
    } while (GetTickCount() - dwStart <= dwMilliseconds && dwMilliseconds != 0);
}

void FormatSystemError(LPWSTR szBuffer, size_t cchBuffer, DWORD dwError)
{
    if (!szBuffer || cchBuffer == 0)
        return;
    LPWSTR szSystem = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, dwError, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&szSystem), 0,
                   nullptr);
    StringCchPrintfW(szBuffer, cchBuffer, L"(%d) %s", dwError, szSystem ? szSystem : L"");
    if (szSystem)
        LocalFree(szSystem);
    DebugTrace(L"%s", szBuffer);
}

BOOL RebootSystem()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken))
        return FALSE;
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL bAdjusted = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid) &&
                     AdjustTokenPrivileges(hToken, FALSE, &tp, 0, nullptr, nullptr) &&
                     GetLastError() == ERROR_SUCCESS;
    CloseHandle(hToken);
    if (!bAdjusted)
        return FALSE;
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
}
