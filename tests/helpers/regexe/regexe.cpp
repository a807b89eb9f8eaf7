// A test program that registers like a COM local server: it records its
// command line under HKEY_CURRENT_USER\Software\StowawayTestRegexe
// ("CommandLine", and "Calls" grows by R for /regserver, U for /unregserver)
// and ends with 0, or 1 when neither switch was given. "/exit:N" ends with N.
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* szMark = L"";
    int exitCode = -1;
    for (int i = 1; i < argc; ++i) {
        if (wcsncmp(argv[i], L"/exit:", 6) == 0)
            exitCode = _wtoi(argv[i] + 6);
        if (lstrcmpiW(argv[i], L"/regserver") == 0)
            szMark = L"R";
        else if (lstrcmpiW(argv[i], L"/unregserver") == 0)
            szMark = L"U";
    }
    HKEY hKey;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\StowawayTestRegexe", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return 2;
    const wchar_t* szCmd = GetCommandLineW();
    RegSetValueExW(hKey, L"CommandLine", 0, REG_SZ, reinterpret_cast<const BYTE*>(szCmd),
                   static_cast<DWORD>((lstrlenW(szCmd) + 1) * sizeof(wchar_t)));
    wchar_t szCalls[256] = L"";
    DWORD cb = sizeof(szCalls) - sizeof(wchar_t);
    DWORD dwType = 0;
    if (RegQueryValueExW(hKey, L"Calls", nullptr, &dwType, reinterpret_cast<BYTE*>(szCalls),
                         &cb) != ERROR_SUCCESS || dwType != REG_SZ)
        szCalls[0] = 0;
    szCalls[ARRAYSIZE(szCalls) - 1] = 0;
    if (lstrlenW(szCalls) + lstrlenW(szMark) < static_cast<int>(ARRAYSIZE(szCalls)))
        lstrcatW(szCalls, szMark);
    RegSetValueExW(hKey, L"Calls", 0, REG_SZ, reinterpret_cast<const BYTE*>(szCalls),
                   static_cast<DWORD>((lstrlenW(szCalls) + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
    if (exitCode >= 0)
        return exitCode;
    return *szMark ? 0 : 1;
}
