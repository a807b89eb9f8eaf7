// Starting programs: EXECUTEFILE, and REGISTERFILE on a program.
#include <shlwapi.h>
#include <string>
#include <vector>
#include "state/state.h"
#include "common/registry.h"
#include "script/regcmd.h"
#include "script/script.h"
#include "scripttest.h"
#include "support/testrun.h"

using namespace scripttest;

namespace {

const wchar_t kExeKey[] = L"Software\\StowawayTestRegexe";

class ExecuteTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        m_dir = FreshDir(L"execute");
        m_n = Narrow(m_dir);
        m_bin = BinDir();
        SHDeleteKeyW(HKEY_CURRENT_USER, kExeKey);
    }
    void TearDown() override
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, kExeKey);
        RemoveTree(m_dir);
        ScriptTest::TearDown();
    }
    std::wstring m_dir, m_bin;
    std::string m_n;
};

std::wstring HelperValue(const wchar_t* name)
{
    WCHAR sz[512] = L"";
    if (RegDBGetKeyValue(HKEY_CURRENT_USER, kExeKey, name, sz, ARRAYSIZE(sz)) != ERROR_SUCCESS)
        return L"";
    return sz;
}

TEST_F(ExecuteTest, RegisterFileOnAProgram)
{
    std::wstring exe = m_bin + L"\\regexe.exe";
    const std::string x = Narrow(exe);
    struct Case {
        std::wstring params;
        const wchar_t* calls;
        std::string traced;
        const wchar_t* cmdTail;
    };
    const Case cases[] = {
        {exe + L",1", L"R", "ScriptRegisterFile(" + x + ",,1)->1", L"/regserver"},
        {exe + L",", L"R", "ScriptRegisterFile(" + x + ",,1)->1", L"/regserver"},
        {exe + L",0,-quiet", L"U", "ScriptRegisterFile(" + x + ",-quiet,0)->1",
         L"-quiet /unregserver"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        SHDeleteKeyW(HKEY_CURRENT_USER, kExeKey);
        tracesink::Clear();
        RunLine(L"REGISTERFILE", c.params);
        EXPECT_EQ(LastResult(), "1");
        EXPECT_EQ(HelperValue(L"Calls"), c.calls);
        EXPECT_TRUE(Traced(c.traced));
        // The extra parameters come first, then the switch.
        std::wstring cmdLine = HelperValue(L"CommandLine");
        EXPECT_NE(cmdLine.find(c.cmdTail), std::wstring::npos) << Narrow(cmdLine);
    }
}

TEST_F(ExecuteTest, ExecuteFileTable)
{
    std::wstring exe = m_bin + L"\\regexe.exe";
    struct Case {
        std::wstring params;
        std::string lastResult;
        std::vector<std::string> traced;
    };
    const std::string x = Narrow(exe);
    const Case cases[] = {
        {exe + L",/exit:42,,open,<SW_HIDE>", "42",
         {"ScriptExecuteFile()->Parameters=" + x + ",/exit:42,,open,<SW_HIDE>",
          "ScriptExecuteFile()->szFullFileName=" + x + " szParams=/exit:42,,open,<SW_HIDE>",
          "ScriptExecuteFile()->szDirectory=,open,<SW_HIDE>",
          "ScriptExecuteFile()->szDirectory= szFunction=open,<SW_HIDE>",
          "ScriptExecuteFile()->szDirectory= szFunction=open Options=<SW_HIDE> pFind=0",
          "ScriptExecuteFile()->Show=0", "FullFileName=" + x,
          "ScriptExecuteFile(" + x + ",/exit:42,<SW_HIDE>)->1"}},
        {exe + L",/exit:7,<TEMP>,,<sw_hide>", "7", {"ScriptExecuteFile()->Show=0"}},
        {exe + L",/exit:7,,open,<NOWAIT>|<SW_HIDE>", "0",
         {"ScriptExecuteFile()->szDirectory= szFunction=open Options=<NOWAIT>|<SW_HIDE> pFind=1"}},
        {exe + L",/exit:7,,open,<SW_HIDE>,,,Label", "0", {"FullFileName=" + x}},
        {m_dir + L"\\missing.exe,,,open,<SW_HIDE>", "0",
         {"ScriptExecuteFile(" + m_n + "\\missing.exe,,<SW_HIDE>)->0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        tracesink::Clear();
        RunLine(L"EXECUTEFILE", c.params);
        EXPECT_EQ(LastResult(), c.lastResult);
        for (const std::string& line : c.traced)
            EXPECT_TRUE(Traced(line));
    }
}

TEST_F(ExecuteTest, ExitPassesTheProgramsExitCodeOn)
{
    std::wstring file = m_dir + L"\\script.ini";
    WriteFile(file, "[Scripttrv]\n"
                    "EXECUTEFILE=<PATH_TRV>\\regexe.exe,/exit:3010,,open,<SW_HIDE>\n"
                    "EXIT=1\n"
                    "CREATEDIR=" + m_n + "\\after\n");
    SCRIPTLIST list;
    ASSERT_EQ(ReadScript(file.c_str(), L"[Scripttrv]", list), 3u);
    EXPECT_FALSE(ProcessScript(TestRun(), list));
    EXPECT_EQ(ExitCode(), 3010u);
    EXPECT_FALSE(Exists(m_dir + L"\\after"));
}

}  // namespace
