#include <gtest/gtest.h>
#include <windows.h>
#include "common/sysdll.h"

// The library must come from the system folder even when the search order
// has been locked down.
TEST(LoadSystemLibrary, LoadsFromTheSystemFolder)
{
    LockDownDllSearch();
    struct Case { const wchar_t* name; bool exists; };
    const Case cases[] = {
        {L"cabinet.dll", true},
        {L"wininet.dll", true},
        {L"version.dll", true},
        {L"no-such-library.dll", false},
    };
    wchar_t sysdir[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(sysdir, MAX_PATH), 0u);
    for (const Case& c : cases) {
        HMODULE h = LoadSystemLibrary(c.name);
        EXPECT_EQ(h != nullptr, c.exists) << c.name;
        if (!h)
            continue;
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(h, path, MAX_PATH);
        EXPECT_EQ(_wcsnicmp(path, sysdir, wcslen(sysdir)), 0) << c.name;
        FreeLibrary(h);
    }
}
