// A stand-in skin library for the tests: it exports the entry points the
// launcher calls and records every call, so a test can read back what
// happened through CorvelCalls(). Built twice: the full library and one
// that lacks all but its startup export.
#include <windows.h>
#include <strsafe.h>

namespace {
char g_szCalls[4096];

void Record(const char* pszFormat, ...)
{
    char szLine[512];
    va_list args;
    va_start(args, pszFormat);
    StringCchVPrintfA(szLine, ARRAYSIZE(szLine), pszFormat, args);
    va_end(args);
    StringCchCatA(g_szCalls, ARRAYSIZE(g_szCalls), szLine);
    StringCchCatA(g_szCalls, ARRAYSIZE(g_szCalls), "\n");
}
}  // namespace

extern "C" {

__declspec(dllexport) int WINAPI IScrvStartup(UINT uFlags)
{
    Record("IScrvStartup(%u)", uFlags);
    return 1;
}

#ifndef CORVEL_PARTIAL
__declspec(dllexport) bool WINAPI ISLoadColorsScheme(LPCSTR pszTheme, UINT uFlags)
{
    Record("ISLoadColorsScheme(%s,%u)", pszTheme ? pszTheme : "(null)", uFlags);
    return true;
}

__declspec(dllexport) void WINAPI ISGlobalSubclassDialog()
{
    Record("ISGlobalSubclassDialog()");
}

__declspec(dllexport) void WINAPI IScrvShutdown()
{
    Record("IScrvShutdown()");
}
#endif

// Calls recorded so far, one per line.
__declspec(dllexport) const char* WINAPI CorvelCalls()
{
    return g_szCalls;
}

}  // extern "C"
