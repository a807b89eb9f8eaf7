#include "common/trace.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <stdarg.h>
#include "common/capacity.h"

namespace {

// A window handle that was looked up and not found.
HWND const NOT_FOUND = reinterpret_cast<HWND>(static_cast<INT_PTR>(-1));
const int LIST_CONTROL_ID = 120;
const DWORD TIME_FLAGS = LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT;
const LCID USER_DEFAULT_LOCALE = 0x400;

// Each entry point owns its own cache; concurrent first calls may both
// search and store the same result, which is harmless.
struct TRACECACHEW {
    WCHAR szModulePath[PATH_CCH];
    const WCHAR* pszModuleName;
    HWND volatile hMonitor;
    HWND volatile hDbs;
};

struct TRACECACHEA {
    char szModulePath[PATH_CCH];
    const char* pszModuleName;
    HWND volatile hMonitor;
    HWND volatile hDbs;
};

TRACECACHEW g_TraceW;
TRACECACHEA g_TraceA;

HWND FindMonitorW()
{
    HWND hWnd = FindWindowW(nullptr, L"TMonitor");
    if (!hWnd)
        hWnd = FindWindowW(L"TMonitor", nullptr);
    return hWnd ? hWnd : NOT_FOUND;
}

HWND FindDbsW()
{
    HWND hWnd = FindWindowW(L"Dbs", nullptr);
    return hWnd ? hWnd : NOT_FOUND;
}

HWND FindMonitorA()
{
    HWND hWnd = FindWindowA(nullptr, "TMonitor");
    return hWnd ? hWnd : NOT_FOUND;
}

HWND FindDbsA()
{
    HWND hWnd = FindWindowA("Dbs", nullptr);
    return hWnd ? hWnd : NOT_FOUND;
}

void SendToMonitor(HWND hMonitor, const char* pszLine)
{
    COPYDATASTRUCT cds;
    cds.dwData = 0;
    cds.cbData = static_cast<DWORD>(lstrlenA(pszLine) + 1);
    cds.lpData = const_cast<char*>(pszLine);
    SendMessageA(hMonitor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
}

void FormatTraceMessage(WCHAR (&szMessage)[TRACE_MESSAGE_CCH], const wchar_t* fmt, va_list args)
{
    // A message that does not fit is cut, always terminated.
    szMessage[0] = L'\0';
    StringCchVPrintfW(szMessage, TRACE_MESSAGE_CCH, fmt, args);
}

void FormatTraceMessage(char (&szMessage)[TRACE_MESSAGE_CCH], const char* fmt, va_list args)
{
    szMessage[0] = '\0';
    wvnsprintfA(szMessage, TRACE_MESSAGE_CCH, fmt, args);
    szMessage[TRACE_MESSAGE_CCH - 1] = '\0';
}

}  // namespace

void DebugTrace(const wchar_t* fmt, ...)
{
    // Tracing never changes the caller's state, its last error included.
    DWORD dwLastError = GetLastError();
    TRACECACHEW& cache = g_TraceW;

    if (cache.szModulePath[0] == L'\0') {
        WCHAR szPath[PATH_CCH];
        DWORD cch = GetModuleFileNameW(nullptr, szPath, PATH_CCH);
        szPath[cch < PATH_CCH ? cch : PATH_CCH - 1] = L'\0';
        StringCchCopyW(cache.szModulePath, PATH_CCH, szPath);
        cache.pszModuleName = PathFindFileNameW(cache.szModulePath);
    }
    const WCHAR* pszModule = cache.pszModuleName ? cache.pszModuleName : L"";

    if (!cache.hMonitor)
        cache.hMonitor = FindMonitorW();
    HWND hMonitor = cache.hMonitor;
    if (hMonitor != NOT_FOUND) {
        WCHAR szMessage[TRACE_MESSAGE_CCH];
        WCHAR szLine[TRACE_LINE_CCH];
        va_list args;
        va_start(args, fmt);
        FormatTraceMessage(szMessage, fmt, args);
        va_end(args);
        StringCchPrintfW(szLine, TRACE_LINE_CCH, L"[%s] %s", pszModule, szMessage);
        // The monitor takes 8-bit text; a double-byte code page may need
        // two bytes per character.
        char szLineA[TRACE_LINE_CCH * 2];
        int cb = WideCharToMultiByte(CP_ACP, 0, szLine, -1, szLineA, sizeof(szLineA), nullptr,
                                     nullptr);
        if (cb <= 0)
            szLineA[0] = '\0';
        szLineA[sizeof(szLineA) - 1] = '\0';
        SendToMonitor(hMonitor, szLineA);
    }

    if (!cache.hDbs)
        cache.hDbs = FindDbsW();
    HWND hDbs = cache.hDbs;
    if (hDbs != NOT_FOUND) {
        SYSTEMTIME st;
        GetLocalTime(&st);
        WCHAR szTime[TRACE_TIME_CCH];
        if (!GetTimeFormatW(USER_DEFAULT_LOCALE, TIME_FLAGS, &st, nullptr, szTime, TRACE_TIME_CCH))
            szTime[0] = L'\0';
        WCHAR szMessage[TRACE_MESSAGE_CCH];
        WCHAR szLine[TRACE_LINE_CCH];
        va_list args;
        va_start(args, fmt);
        FormatTraceMessage(szMessage, fmt, args);
        va_end(args);
        StringCchPrintfW(szLine, TRACE_LINE_CCH, L"%s> [%s] %s", szTime, pszModule, szMessage);
        SendMessageW(GetDlgItem(hDbs, LIST_CONTROL_ID), LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(szLine));
    }
    SetLastError(dwLastError);
}

void DebugTraceA(const char* fmt, ...)
{
    DWORD dwLastError = GetLastError();
    TRACECACHEA& cache = g_TraceA;

    if (cache.szModulePath[0] == '\0') {
        char szPath[PATH_CCH];
        DWORD cch = GetModuleFileNameA(nullptr, szPath, PATH_CCH);
        szPath[cch < PATH_CCH ? cch : PATH_CCH - 1] = '\0';
        StringCchCopyA(cache.szModulePath, PATH_CCH, szPath);
        cache.pszModuleName = PathFindFileNameA(cache.szModulePath);
    }
    const char* pszModule = cache.pszModuleName ? cache.pszModuleName : "";

    if (!cache.hMonitor)
        cache.hMonitor = FindMonitorA();
    HWND hMonitor = cache.hMonitor;
    if (hMonitor != NOT_FOUND) {
        char szMessage[TRACE_MESSAGE_CCH];
        char szLine[TRACE_LINE_CCH];
        va_list args;
        va_start(args, fmt);
        FormatTraceMessage(szMessage, fmt, args);
        va_end(args);
        StringCchPrintfA(szLine, TRACE_LINE_CCH, "[%s] %s", pszModule, szMessage);
        SendToMonitor(hMonitor, szLine);
    }

    if (!cache.hDbs)
        cache.hDbs = FindDbsA();
    HWND hDbs = cache.hDbs;
    if (hDbs != NOT_FOUND) {
        SYSTEMTIME st;
        GetLocalTime(&st);
        char szTime[TRACE_TIME_CCH];
        if (!GetTimeFormatA(USER_DEFAULT_LOCALE, TIME_FLAGS, &st, nullptr, szTime, TRACE_TIME_CCH))
            szTime[0] = '\0';
        char szMessage[TRACE_MESSAGE_CCH];
        char szLine[TRACE_LINE_CCH];
        va_list args;
        va_start(args, fmt);
        FormatTraceMessage(szMessage, fmt, args);
        va_end(args);
        StringCchPrintfA(szLine, TRACE_LINE_CCH, "%s> [%s] %s", szTime, pszModule, szMessage);
        SendMessageA(GetDlgItem(hDbs, LIST_CONTROL_ID), LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(szLine));
    }
    SetLastError(dwLastError);
}
