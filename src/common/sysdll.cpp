#include "common/sysdll.h"
#include "common/boundedtext.h"
#include "common/capacity.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* PFN_SETDEFAULTDLLDIRECTORIES)(DWORD);
typedef BOOL(WINAPI* PFN_SETDLLDIRECTORYW)(LPCWSTR);

void LockDownDllSearch()
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    if (!hKernel)
        return;
    auto pSetDefault = reinterpret_cast<PFN_SETDEFAULTDLLDIRECTORIES>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "SetDefaultDllDirectories")));
    if (pSetDefault)
        pSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Also drop the current folder from the legacy search order.
    auto pSetDllDirectory = reinterpret_cast<PFN_SETDLLDIRECTORYW>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "SetDllDirectoryW")));
    if (pSetDllDirectory)
        pSetDllDirectory(L"");
}

HMODULE LoadSystemLibrary(LPCWSTR szName)
{
    HMODULE hModule = LoadLibraryExW(szName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (hModule || GetLastError() != ERROR_INVALID_PARAMETER)
        return hModule;

    // The flag is unknown on systems without the search update: name the
    // system folder explicitly.
    WCHAR szPath[PATH_CCH];
    UINT cch = GetSystemDirectoryW(szPath, PATH_CCH);
    if (cch == 0 || cch >= PATH_CCH)
        return nullptr;
    if (FAILED(StringCchCatW(szPath, PATH_CCH, L"\\")) ||
        FAILED(StringCchCatW(szPath, PATH_CCH, szName)))
        return nullptr;
    return LoadLibraryExW(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
