#include "scripttest.h"
#include <shellapi.h>
#include <strsafe.h>
#include "common/osversion.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "script/condition.h"
#include "script/script.h"
#include "support/scratchfiles.h"
#include "support/testrun.h"

namespace scripttest {

std::string Narrow(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    return out;
}

std::wstring BinDir()
{
    WCHAR sz[MAX_PATH];
    GetModuleFileNameW(nullptr, sz, MAX_PATH);
    std::wstring path(sz);
    return path.substr(0, path.find_last_of(L'\\'));
}

void RemoveTree(const std::wstring& path)
{
    support::RemoveTree(path);
}

std::wstring FreshDir(const std::wstring& name)
{
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    std::wstring root = std::wstring(szTemp) + L"StowawayScriptTest";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring dir = root + L"\\" + name;
    RemoveTree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void WriteFile(const std::wstring& path, const std::string& content)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path);
    DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadFile(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buf[4096];
    DWORD read = 0;
    while (::ReadFile(h, buf, sizeof(buf), &read, nullptr) && read > 0)
        out.append(buf, read);
    CloseHandle(h);
    return out;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

SCRIPTRUN& Script()
{
    static SCRIPTRUN run = {TestRun(), L""};
    return run;
}

std::string LastResult()
{
    return Narrow(TestRun().szFunctionRetCode);
}

void RunLine(const std::wstring& name, const std::wstring& params)
{
    ASSERT_TRUE(ScriptCommand(Script(), name.c_str(), params.c_str(), 0, FALSE)) << Narrow(name);
}

void ScriptTest::SetUp()
{
    static bool initialised = false;
    if (!initialised) {
        ASSERT_EQ(GetOSVersion(), 0u);
        InitPathVar(TestRun());
        initialised = true;
    }
    Script().szCondition[0] = 0;
    g_bCancel = 0;
    StartExitCode();
    StringCchCopyW(TestRun().szFunctionRetCode, ARRAYSIZE(TestRun().szFunctionRetCode), L"");
    tracesink::Clear();
}

void ScriptTest::TearDown()
{
    g_bCancel = 0;
    Script().szCondition[0] = 0;
}

testing::AssertionResult Traced(const std::string& expected)
{
    if (tracesink::Contains(expected))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "missing trace line: " << expected << "\ntrace:\n"
                                       << tracesink::Dump();
}

}  // namespace scripttest
