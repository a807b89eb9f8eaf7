#include "common/trace.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <stdarg.h>
#include <string.h>
#include "common/capacity.h"
#include "common/tracelog.h"

namespace {

// A window handle that was looked up and not found.
HWND const NOT_FOUND = reinterpret_cast<HWND>(static_cast<INT_PTR>(-1));
const int LIST_CONTROL_ID = 120;
const DWORD TIME_FLAGS = LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT;
const LCID USER_DEFAULT_LOCALE = 0x400;
// A window that does not take a line within this time is taken as hung.
const UINT TRACE_SEND_TIMEOUT_MS = 500;
const int MAX_DROPPED_THREADS = 4;

// Each entry point looks the windows up once, on its first call, and keeps
// what it found (or did not find). Concurrent first calls may both search and
// store the same result, which is harmless.
struct TRACECACHE {
    WCHAR szModulePath[PATH_CCH];
    const WCHAR* pszModuleName;
    HWND volatile hMonitor;
    HWND volatile hDbs;
};

TRACECACHE g_TraceW;
TRACECACHE g_TraceA;

// The threads whose windows did not answer in time: none of their windows
// gets another line, whichever entry point looks it up, so that a hung
// monitor program holds the process up once, for one time-out.
DWORD volatile g_dwDroppedThreads[MAX_DROPPED_THREADS];

bool IsDropped(HWND hWnd)
{
    if (hWnd == NOT_FOUND || !hWnd)
        return false;
    DWORD dwThread = GetWindowThreadProcessId(hWnd, nullptr);
    for (int i = 0; i < MAX_DROPPED_THREADS && dwThread; ++i) {
        if (g_dwDroppedThreads[i] == dwThread)
            return true;
    }
    return false;
}

void DropThreadOf(HWND hWnd)
{
    DWORD dwThread = GetWindowThreadProcessId(hWnd, nullptr);
    if (!dwThread)
        return;
    int i = 0;
    while (i < MAX_DROPPED_THREADS - 1 && g_dwDroppedThreads[i] && g_dwDroppedThreads[i] != dwThread)
        ++i;
    g_dwDroppedThreads[i] = dwThread;
    TRACECACHE* const caches[] = {&g_TraceW, &g_TraceA};
    for (TRACECACHE* pCache : caches) {
        if (IsDropped(pCache->hMonitor))
            pCache->hMonitor = NOT_FOUND;
        if (IsDropped(pCache->hDbs))
            pCache->hDbs = NOT_FOUND;
    }
}

// Sends with a time-out: a window that does not answer in time, or that the
// system already knows to be hung, gets nothing more from this process. A
// send to a window that no longer exists fails at once; its handle is kept.
void SendOrDrop(HWND hTarget, UINT uMsg, WPARAM wParam, LPARAM lParam, bool bWide)
{
    DWORD_PTR dwResult = 0;
    LRESULT lSent = bWide ? SendMessageTimeoutW(hTarget, uMsg, wParam, lParam, SMTO_ABORTIFHUNG,
                                                TRACE_SEND_TIMEOUT_MS, &dwResult)
                          : SendMessageTimeoutA(hTarget, uMsg, wParam, lParam, SMTO_ABORTIFHUNG,
                                                TRACE_SEND_TIMEOUT_MS, &dwResult);
    if (!lSent && IsWindow(hTarget))
        DropThreadOf(hTarget);
}

// The 8-bit entry point finds the monitor by its title only.
HWND FindMonitor(bool bNarrow)
{
    HWND hWnd = bNarrow ? FindWindowA(nullptr, "TMonitor") : FindWindowW(nullptr, L"TMonitor");
    if (!hWnd && !bNarrow)
        hWnd = FindWindowW(L"TMonitor", nullptr);
    return hWnd ? hWnd : NOT_FOUND;
}

HWND FindDbs()
{
    HWND hWnd = FindWindowW(L"Dbs", nullptr);
    return hWnd ? hWnd : NOT_FOUND;
}

// FALSE when this entry point has no window to send to: without a log
// file the message is then never formatted.
bool LookUpWindows(TRACECACHE& cache, bool bNarrow)
{
    if (!cache.hMonitor) {
        HWND hMonitor = FindMonitor(bNarrow);
        cache.hMonitor = IsDropped(hMonitor) ? NOT_FOUND : hMonitor;
    }
    if (!cache.hDbs) {
        HWND hDbs = FindDbs();
        cache.hDbs = IsDropped(hDbs) ? NOT_FOUND : hDbs;
    }
    return cache.hMonitor != NOT_FOUND || cache.hDbs != NOT_FOUND;
}

void SendToMonitor(HWND hMonitor, const char* pszLine)
{
    COPYDATASTRUCT cds;
    cds.dwData = 0;
    cds.cbData = static_cast<DWORD>(lstrlenA(pszLine) + 1);
    cds.lpData = const_cast<char*>(pszLine);
    SendOrDrop(hMonitor, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), false);
}

// Names of values that are never traced: a NAME=value pair (an installer
// property handed to the setup program, say) whose name holds one of these
// is traced as NAME=***.
const char* const SECRET_NAME_PARTS[] = {"PASSWORD", "PWD", "SECRET", "TOKEN"};

bool IsNameChar(WCHAR c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
           c == L'_' || c == L'.' || c == L'-';
}

bool NameHoldsSecret(const WCHAR* pName, size_t cchName)
{
    for (const char* pszPart : SECRET_NAME_PARTS) {
        size_t cchPart = strlen(pszPart);
        for (size_t i = 0; i + cchPart <= cchName; ++i) {
            size_t j = 0;
            while (j < cchPart) {
                WCHAR c = pName[i + j];
                if (c >= L'a' && c <= L'z')
                    c = static_cast<WCHAR>(c - L'a' + L'A');
                if (c != static_cast<WCHAR>(pszPart[j]))
                    break;
                ++j;
            }
            if (j == cchPart)
                return true;
        }
    }
    return false;
}

// Copies szMessage to szOut (cchOut characters) with the value of every
// secret NAME=value pair written as ***: up to the closing quote of a
// quoted value, else to the next blank or quote.
void MaskSecrets(const WCHAR* szMessage, WCHAR* szOut, size_t cchOut)
{
    static const WCHAR MASK[] = L"***";
    size_t o = 0;
    const WCHAR* p = szMessage;
    while (*p && o + 1 < cchOut) {
        szOut[o++] = *p;
        if (*p != L'=') {
            ++p;
            continue;
        }
        const WCHAR* pName = p;
        while (pName > szMessage && IsNameChar(pName[-1]))
            --pName;
        ++p;
        if (!NameHoldsSecret(pName, static_cast<size_t>(p - 1 - pName)))
            continue;
        // Nothing to hide, or hidden already.
        if (!*p || *p == L' ' || *p == L'\t' || wcsncmp(p, MASK, 3) == 0)
            continue;
        WCHAR chEnd = L' ';
        // "value", or \"value\" inside a quoted argument.
        size_t cchOpen = *p == L'"' ? 1 : (p[0] == L'\\' && p[1] == L'"' ? 2 : 0);
        if (cchOpen) {
            chEnd = L'"';
            for (size_t k = 0; k < cchOpen && o + 1 < cchOut; ++k)
                szOut[o++] = p[k];
            p += cchOpen;
        }
        while (*p && *p != chEnd && (chEnd == L'"' || (*p != L'\t' && *p != L'"')))
            ++p;
        for (const WCHAR* m = MASK; *m && o + 1 < cchOut; ++m)
            szOut[o++] = *m;
    }
    szOut[o] = L'\0';
}

// Hands one formatted message to the windows the entry point found:
// "[module] message" to TMonitor as 8-bit text, "time> [module] message" to
// the Dbs list.
void EmitTrace(TRACECACHE& cache, const WCHAR* szRawMessage)
{
    WCHAR szMessage[TRACE_MESSAGE_CCH];
    MaskSecrets(szRawMessage, szMessage, TRACE_MESSAGE_CCH);
    if (cache.szModulePath[0] == L'\0') {
        WCHAR szPath[PATH_CCH];
        DWORD cch = GetModuleFileNameW(nullptr, szPath, PATH_CCH);
        szPath[cch < PATH_CCH ? cch : PATH_CCH - 1] = L'\0';
        // Same capacity.
        (void)StringCchCopyW(cache.szModulePath, PATH_CCH, szPath);
        cache.pszModuleName = PathFindFileNameW(cache.szModulePath);
    }
    const WCHAR* pszModule = cache.pszModuleName ? cache.pszModuleName : L"";

    HWND hMonitor = cache.hMonitor;
    if (hMonitor != NOT_FOUND) {
        WCHAR szLine[TRACE_LINE_CCH];
        // A trace line that does not fit is cut: it is only read.
        (void)StringCchPrintfW(szLine, TRACE_LINE_CCH, L"[%s] %s", pszModule, szMessage);
        // The monitor takes 8-bit text; a double-byte code page may need
        // two bytes per character. The line is only read by a person: a
        // character the code page lacks shows as "?", never as a look-alike
        // that would name another path.
        char szLineA[TRACE_LINE_CCH * 2];
        int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, szLine, -1, szLineA,
                                     sizeof(szLineA), nullptr, nullptr);
        if (cb <= 0)
            szLineA[0] = '\0';
        szLineA[sizeof(szLineA) - 1] = '\0';
        SendToMonitor(hMonitor, szLineA);
    }

    // The log file takes the monitor's line, stamped with the time.
    if (IsTraceLogOpen()) {
        WCHAR szLine[TRACE_LINE_CCH];
        // A trace line that does not fit is cut: it is only read.
        (void)StringCchPrintfW(szLine, TRACE_LINE_CCH, L"[%s] %s", pszModule, szMessage);
        WriteTraceLog(szLine);
    }

    HWND hDbs = cache.hDbs;
    if (hDbs != NOT_FOUND) {
        SYSTEMTIME st;
        GetLocalTime(&st);
        WCHAR szTime[TRACE_TIME_CCH];
        if (!GetTimeFormatW(USER_DEFAULT_LOCALE, TIME_FLAGS, &st, nullptr, szTime, TRACE_TIME_CCH))
            szTime[0] = L'\0';
        WCHAR szLine[TRACE_LINE_CCH];
        // A trace line that does not fit is cut: it is only read.
        (void)StringCchPrintfW(szLine, TRACE_LINE_CCH, L"%s> [%s] %s", szTime, pszModule,
                               szMessage);
        HWND hList = GetDlgItem(hDbs, LIST_CONTROL_ID);
        if (hList)
            SendOrDrop(hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szLine), true);
    }
}

}  // namespace

void DebugTrace(const wchar_t* fmt, ...)
{
    // Tracing never changes the caller's state, its last error included.
    DWORD dwLastError = GetLastError();
    if (LookUpWindows(g_TraceW, false) || IsTraceLogOpen()) {
        // A message that does not fit is cut, always terminated.
        WCHAR szMessage[TRACE_MESSAGE_CCH];
        szMessage[0] = L'\0';
        va_list args;
        va_start(args, fmt);
        // A trace line that does not fit is cut: it is only read.
        (void)StringCchVPrintfW(szMessage, TRACE_MESSAGE_CCH, fmt, args);
        va_end(args);
        EmitTrace(g_TraceW, szMessage);
    }
    SetLastError(dwLastError);
}

void DebugTraceA(const char* fmt, ...)
{
    DWORD dwLastError = GetLastError();
    if (LookUpWindows(g_TraceA, true) || IsTraceLogOpen()) {
        char szMessageA[TRACE_MESSAGE_CCH];
        szMessageA[0] = '\0';
        va_list args;
        va_start(args, fmt);
        wvnsprintfA(szMessageA, TRACE_MESSAGE_CCH, fmt, args);
        va_end(args);
        szMessageA[TRACE_MESSAGE_CCH - 1] = '\0';
        WCHAR szMessage[TRACE_MESSAGE_CCH];
        if (MultiByteToWideChar(CP_ACP, 0, szMessageA, -1, szMessage, TRACE_MESSAGE_CCH) <= 0)
            szMessage[0] = L'\0';
        EmitTrace(g_TraceA, szMessage);
    }
    SetLastError(dwLastError);
}
