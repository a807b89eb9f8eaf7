// A self-registering test DLL: each entry point records its call under
// HKEY_CURRENT_USER\Software\StowawayTestComreg ("LastCall" and a running
// "Calls" text) and returns the DWORD "Result" found there (0 when absent).
#include <windows.h>

namespace {

const wchar_t kKey[] = L"Software\\StowawayTestComreg";

HRESULT Record(const wchar_t* szCall, const wchar_t* szMark)
{
    HKEY hKey;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    RegSetValueExW(hKey, L"LastCall", 0, REG_SZ, reinterpret_cast<const BYTE*>(szCall),
                   static_cast<DWORD>((lstrlenW(szCall) + 1) * sizeof(wchar_t)));
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
    DWORD dwResult = 0;
    cb = sizeof(dwResult);
    if (RegQueryValueExW(hKey, L"Result", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwResult),
                         &cb) != ERROR_SUCCESS || dwType != REG_DWORD)
        dwResult = 0;
    RegCloseKey(hKey);
    return static_cast<HRESULT>(dwResult);
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return Record(L"DllRegisterServer", L"R");
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return Record(L"DllUnregisterServer", L"U");
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, void*)
{
    return TRUE;
}
