#include "common/tracelog.h"
#include "common/boundedtext.h"
#include "common/capacity.h"

namespace {

// The line with its time stamp and line end, line breaks doubled at
// most, as UTF-8: up to three bytes for each UTF-16 unit.
const size_t STAMP_CCH = 32;
const size_t LOG_LINE_BYTES = (TRACE_LINE_CCH + STAMP_CCH) * 2 * 3;
const BYTE UTF8_BOM[] = {0xEF, 0xBB, 0xBF};

HANDLE volatile g_hLog = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_csLog;
LONG volatile g_bLockReady = 0;

// Called with the lock held.
void CloseLocked()
{
    HANDLE hLog = g_hLog;
    g_hLog = INVALID_HANDLE_VALUE;
    if (hLog != INVALID_HANDLE_VALUE)
        CloseHandle(hLog);
}

}  // namespace

DWORD OpenTraceLog(LPCWSTR szPath)
{
    if (InterlockedCompareExchange(&g_bLockReady, 1, 0) == 0)
        InitializeCriticalSection(&g_csLog);
    CloseTraceLog();
    if (!szPath || !*szPath)
        return ERROR_INVALID_NAME;
    // Shared for reading and appending: a viewer, or a second run writing
    // to the same log, must not lose lines.
    HANDLE hLog = CreateFileW(szPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hLog == INVALID_HANDLE_VALUE) {
        // Not LastErrorOr: common/errors traces through this file.
        DWORD dwError = GetLastError();
        return dwError ? dwError : ERROR_OPEN_FAILED;
    }
    LARGE_INTEGER liSize;
    if (GetFileSizeEx(hLog, &liSize) && liSize.QuadPart == 0) {
        DWORD cbWritten = 0;
        if (!WriteFile(hLog, UTF8_BOM, sizeof(UTF8_BOM), &cbWritten, nullptr)) {
            DWORD dwError = GetLastError();
            CloseHandle(hLog);
            return dwError ? dwError : ERROR_WRITE_FAULT;
        }
    }
    EnterCriticalSection(&g_csLog);
    g_hLog = hLog;
    LeaveCriticalSection(&g_csLog);
    return ERROR_SUCCESS;
}

BOOL IsTraceLogOpen()
{
    return g_hLog != INVALID_HANDLE_VALUE;
}

void WriteTraceLog(LPCWSTR szLine)
{
    if (!IsTraceLogOpen() || !szLine)
        return;
    SYSTEMTIME st;
    GetLocalTime(&st);
    WCHAR szStamped[(TRACE_LINE_CCH + STAMP_CCH) * 2];
    // The process id tells apart two runs that write one log.
    // The stamp fits the doubled line.
    (void)StringCchPrintfW(szStamped, ARRAYSIZE(szStamped),
                           L"%04u-%02u-%02u %02u:%02u:%02u.%03u %lu ", st.wYear, st.wMonth, st.wDay,
                           st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                           GetCurrentProcessId());
    // One trace line, one line of the file: line breaks inside a message
    // (a box's text) are written as \r and \n.
    size_t cch = wcslen(szStamped);
    for (LPCWSTR p = szLine; *p && cch + 4 < ARRAYSIZE(szStamped); ++p) {
        if (*p == L'\r' || *p == L'\n') {
            szStamped[cch++] = L'\\';
            szStamped[cch++] = *p == L'\r' ? L'r' : L'n';
        } else {
            szStamped[cch++] = *p;
        }
    }
    szStamped[cch++] = L'\r';
    szStamped[cch++] = L'\n';
    char szUtf8[LOG_LINE_BYTES];
    int cb = WideCharToMultiByte(CP_UTF8, 0, szStamped, static_cast<int>(cch), szUtf8,
                                 static_cast<int>(sizeof(szUtf8)), nullptr, nullptr);
    if (cb <= 0)
        return;
    EnterCriticalSection(&g_csLog);
    HANDLE hLog = g_hLog;
    DWORD cbWritten = 0;
    if (hLog != INVALID_HANDLE_VALUE &&
        (!WriteFile(hLog, szUtf8, static_cast<DWORD>(cb), &cbWritten, nullptr) ||
         cbWritten != static_cast<DWORD>(cb)))
        CloseLocked();
    LeaveCriticalSection(&g_csLog);
}

void CloseTraceLog()
{
    if (!g_bLockReady)
        return;
    EnterCriticalSection(&g_csLog);
    CloseLocked();
    LeaveCriticalSection(&g_csLog);
}
