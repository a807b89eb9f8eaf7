// IF, the guard of every command, and EXIT.
#include <string>
#include "common/osversion.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "script/condition.h"
#include "common/registry.h"
#include "script/regcmd.h"
#include "script/script.h"
#include "scripttest.h"
#include "support/testrun.h"
#include <strsafe.h>

using namespace scripttest;

namespace {

const wchar_t kIfKey[] = L"Software\\StowawayTestIf";

class ConditionTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        m_dir = FreshDir(L"condition");
        m_file = m_dir + L"\\present.txt";
        WriteFile(m_file, "x");
        m_ini = m_dir + L"\\setup.ini";
        WritePrivateProfileStringW(L"Sec", L"Key", L"Value", m_ini.c_str());
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_ini.c_str());
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kIfKey, L"Text", REG_SZ, L"hello", 2048), 0u);
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kIfKey, L"Number", REG_DWORD, L"42", 2048),
                  0u);
        ASSERT_EQ(
            RegDBSetKeyValue(HKEY_CURRENT_USER, kIfKey, L"Path", REG_SZ, m_file.c_str(), 2048), 0u);
        ASSERT_EQ(
            RegDBSetKeyValue(HKEY_CURRENT_USER, kIfKey, L"Dir", REG_SZ, m_dir.c_str(), 2048), 0u);
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kIfKey, L"Gone", REG_SZ,
                                     L"C:\\no\\such\\file", 2048), 0u);
    }
    void TearDown() override
    {
        EXPECT_EQ(RegDBDeleteKey(HKEY_CURRENT_USER, kIfKey), 0u);
        ScriptTest::TearDown();
    }
    // Replaces {file}, {dir}, {ini} in a case's parameters.
    std::wstring Fill(const std::string& text) const
    {
        std::wstring out = Wide(text);
        const std::pair<std::wstring, std::wstring> marks[] = {
            {L"{file}", m_file}, {L"{dir}", m_dir}, {L"{ini}", m_ini}};
        for (const auto& mark : marks)
            for (size_t at; (at = out.find(mark.first)) != std::wstring::npos;)
                out.replace(at, mark.first.size(), mark.second);
        return out;
    }
    std::wstring m_dir, m_file, m_ini;
};

struct IfCase {
    std::string params;
    std::string before;  // the condition before the line
    std::string after;   // and after
    const char* lastResult = "";
};

TEST_F(ConditionTest, IfTable)
{
    const IfCase cases[] = {
        // Reading a setup variable, every operator.
        {"<SETUPVAR_READ>,abc,=,ABC,T,F", "", "T"},
        {"<SETUPVAR_READ>,abc,!=,ABC,T,F", "", "F"},
        {"<SETUPVAR_READ>,abc,!=,abd,T,F", "", "T"},
        {"<SETUPVAR_READ>,10,<,9,T,F", "", "T"},
        {"<SETUPVAR_READ>,9,<,10,T,F", "", "F"},
        {"<SETUPVAR_READ>,b,>,A,T,F", "", "T"},
        {"<SETUPVAR_READ>,A,>,b,T,F", "", "F"},
        {"<SETUPVAR_READ>,Hello World,%,World,T,F", "", "T"},
        {"<SETUPVAR_READ>,Hello World,%,world,T,F", "", "F"},
        {"<SETUPVAR_READ>,Hello,Begin,hEL,T,F", "", "F"},
        {"<SETUPVAR_READ>,Hello,BEGIN,xyz,T,F", "", "T"},
        {"<setupvar_read>,a,=,a,T,F", "", "T"},
        {"<SETUPVAR_READ>,<FUNCTIONRETCODE>,=,5,T,F", "", "T", "5"},
        {"<SETUPVAR_READ>,a,=,<FUNCTIONRETCODE>,T,F", "", "F", "5"},
        // Malformed or label-less lines add nothing.
        {"<SETUPVAR_READ>,a,??,a,T,F", "", ""},
        {"<SETUPVAR_READ>,a,=,a", "", ""},
        {"<SETUPVAR_READ>,a,=,b,T", "", ""},
        {"<SETUPVAR_READ>,a,=,a,,F", "", ""},
        {"<SETUPVAR_READ>", "", ""},
        {"<NO_SUCH_TEST>,a,=,a,T,F", "", ""},
        // Labels are appended once, without separators.
        {"<SETUPVAR_READ>,a,=,a,B,F", "A", "AB"},
        {"<SETUPVAR_READ>,a,=,a,A,F", "A", "A"},
        {"<SETUPVAR_READ>,a,=,a,XYZ,F", std::string(96, 'c'), std::string(96, 'c') + "XYZ"},
        {"<SETUPVAR_READ>,a,=,a,XYZ,F", std::string(97, 'c'), std::string(97, 'c')},
        // INI values.
        {"<INIFILE_READ>,{ini},Sec,Key,=,value,T,F", "", "T"},
        {"<INIFILE_READ>,{ini},Sec,Nope,=,,T,F", "", "T"},
        {"<INIFILE_READ>,{dir}\\none.ini,Sec,Key,!=,,T,F", "", "F"},
        // Registry values and keys.
        {"<REGKEY_READ>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,Text,=,HELLO,T,F", "", "T"},
        {"<REGKEY_READ>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,Number,=,42,T,F", "", "T"},
        {"<REGKEY_READ>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,None,=,,T,F", "", "T"},
        {"<REGKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,,<TRUE>,T,F", "", "T"},
        {"<REGKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,Text,<true>,T,F", "", "T"},
        {"<REGKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,None,<TRUE>,T,F", "", "F"},
        {"<REGKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIfNone,,<TRUE>,T,F", "", "F"},
        {"<REGKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIfNone,,<FALSE>,T,F", "", "T"},
        {"<FILEKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,Path,<TRUE>,T,F", "", "T"},
        {"<FILEKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,Gone,<TRUE>,T,F", "", "F"},
        {"<DIRKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,Dir,<TRUE>,T,F", "", "T"},
        {"<DIRKEY_EXIST>,<HKEY_CURRENT_USER>,Software\\StowawayTestIf,None,<TRUE>,T,F", "", "F"},
        // Files, folders and programs.
        {"<FILE_EXIST>,{file},<TRUE>,T,F", "", "T"},
        {"<FILE_EXIST>,{dir}\\absent.txt,<TRUE>,T,F", "", "F"},
        {"<FILE_EXIST>,{dir}\\absent.txt,<FALSE>,T,F", "", "T"},
        {"<FILE_EXIST>,{dir}\\absent.txt,<TRUE>,T", "", ""},
        {"<FILE_EXIST>,{file},<TRUE>", "", ""},
        {"<DIR_EXIST>,{dir},<TRUE>,T,F", "", "T"},
        {"<DIR_EXIST>,{file},<TRUE>,T,F", "", "T"},
        {"<MODULE_EXIST>,test_script.exe,<TRUE>,T,F", "", "T"},
        {"<MODULE_EXIST>,no-such-program.exe,<TRUE>,T,F", "", "F"},
        // <INIT> empties the condition.
        {"<INIT>", "ABC", ""},
        {"<init>", "ABC", ""},
    };
    for (const IfCase& c : cases) {
        SCOPED_TRACE(c.params);
        Copy(Script().szCondition, Wide(c.before).c_str());
        StringCchCopyW(TestRun().szFunctionRetCode, ARRAYSIZE(TestRun().szFunctionRetCode),
                       Wide(c.lastResult).c_str());
        tracesink::Clear();
        RunLine(L"IF", Fill(c.params));
        EXPECT_EQ(Narrow(Script().szCondition), c.after);
        EXPECT_TRUE(Traced("ScriptIF()->Condition=" + c.after));
        // IF leaves the last result alone.
        EXPECT_EQ(LastResult(), c.lastResult);
    }
}

TEST_F(ConditionTest, TwoTrueTestsAddTheLabelOnce)
{
    RunLine(L"IF", L"<FILE_EXIST>," + m_file + L",<TRUE>,Found,Missing");
    RunLine(L"IF", L"<FILE_EXIST>," + m_dir + L",<TRUE>,Found,Missing");
    EXPECT_EQ(Narrow(Script().szCondition), "Found");
}

struct GuardCase {
    const wchar_t* osCode;
    const wchar_t* sp;
    const wchar_t* condition;
    const wchar_t* osFilter;
    const wchar_t* spFilter;
    const wchar_t* label;
    bool passes;
};

TEST_F(ConditionTest, GuardTable)
{
    const GuardCase cases[] = {
        {L"1A0", L"B", L"", L"1", L"", L"", true},
        {L"10B0", L"1", L"", L"1", L"", L"", true},
        {L"9C0", L"1", L"", L"C", L"", L"", true},
        {L"9B0", L"1", L"", L"C", L"", L"", false},
        {L"8B0", L"2", L"", L"89", L"", L"", true},
        {L"6B0", L"3", L"", L"", L"", L"", true},
        {L"6B0", L"3", L"", L"7", L"", L"", false},
        {L"", L"", L"", L"0", L"", L"", false},
        {L"9B0", L"1", L"", L"", L"1", L"", true},
        {L"9B0", L"1", L"", L"", L"2", L"", false},
        {L"1A0", L"B", L"", L"", L"b", L"", false},
        {L"9B0", L"1", L"T", L"", L"", L"", false},
        {L"9B0", L"1", L"T", L"", L"", L"t", true},
        {L"9B0", L"1", L"TF", L"", L"", L"T", false},
        {L"9B0", L"1", L"", L"", L"", L"T", false},
    };
    OSVERSIONRECORD saved = g_OsVersion;
    WCHAR savedSP[OSSP_CCH];
    Copy(savedSP, g_szSP);
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(Narrow(std::wstring(c.osCode) + L" " + c.sp + L" [" + c.condition + L"] " +
                            c.osFilter + L"," + c.spFilter + L"," + c.label));
        Copy(g_OsVersion.szOsCode, c.osCode);
        Copy(g_szSP, c.sp);
        Copy(Script().szCondition, c.condition);
        SCRIPTGUARD guard;
        Copy(guard.szOs, c.osFilter);
        Copy(guard.szSP, c.spFilter);
        Copy(guard.szCondIf, c.label);
        EXPECT_EQ(ScriptGuard(Script(), guard) != FALSE, c.passes);
    }
    g_OsVersion = saved;
    Copy(g_szSP, savedSP);
}

TEST_F(ConditionTest, LabelledCommandRunsOnlyUnderItsCondition)
{
    std::wstring target = m_dir + L"\\labelled";
    // With the condition empty, an empty label runs and a label does not.
    RunLine(L"CREATEDIR", target + L",,,Ok");
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(LastResult(), "0");
    EXPECT_FALSE(tracesink::ContainsPrefix("ScriptCreateDir("));
    RunLine(L"IF", L"<FILE_EXIST>," + m_file + L",<TRUE>,Ok,NotOk");
    RunLine(L"CREATEDIR", target + L",,,");
    EXPECT_FALSE(Exists(target));
    RunLine(L"CREATEDIR", target + L",,,ok");
    EXPECT_TRUE(Exists(target));
    EXPECT_EQ(LastResult(), "1");
    RunLine(L"IF", L"<INIT>");
    RunLine(L"CREATEDIR", target + L"2");
    EXPECT_TRUE(Exists(target + L"2"));
}

struct ExitCase {
    const wchar_t* params;
    const wchar_t* condition;
    const wchar_t* lastResult;
    bool stops;
    DWORD exitCode;
};

TEST_F(ConditionTest, ExitTable)
{
    const ExitCase cases[] = {
        {L"1", L"", L"7", true, 7},
        {L"1,,,", L"", L"3010", true, 3010},
        {L"0", L"", L"7", false, 1},
        {L"", L"", L"7", false, 1},
        {L"1,,,L", L"", L"7", false, 1},
        {L"1,,,L", L"L", L"7", true, 7},
        {L"1", L"L", L"7", false, 1},
        {L"1", L"", L"abc", true, 0},
        {L"1", L"", L"-1", true, static_cast<DWORD>(-1)},
        {L"1,Z", L"", L"7", false, 1},
        {L"1 ", L"", L"7", true, 7},
        {L" 1,,,", L"", L" 12 ", true, 12},
        {L"0 ", L"", L"7", false, 1},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(Narrow(std::wstring(c.params) + L" [" + c.condition + L"]"));
        g_bCancel = 0;
        StartExitCode();
        Copy(Script().szCondition, c.condition);
        StringCchCopyW(TestRun().szFunctionRetCode, ARRAYSIZE(TestRun().szFunctionRetCode),
                       c.lastResult);
        tracesink::Clear();
        RunLine(L"EXIT", c.params);
        EXPECT_EQ(g_bCancel != 0, c.stops);
        EXPECT_EQ(ExitCode(), c.exitCode);
        // The run keeps the code EXIT set.
        EXPECT_EQ(ExitCodeChosen() != FALSE, c.stops);
        EXPECT_EQ(LastResult(), Narrow(c.lastResult));
        std::wstring params = c.params;
        size_t comma = params.find(L",,,");
        std::wstring label = comma != std::wstring::npos ? params.substr(comma + 3) : L"";
        EXPECT_TRUE(Traced("ScriptExit()->szCondIf=" + Narrow(label) +
                           ", g_szCondition=" + Narrow(c.condition)));
        EXPECT_EQ(tracesink::Contains("ScriptExit(" + std::to_string(static_cast<int>(c.exitCode)) +
                                      ")->TRUE"),
                  c.stops);
    }
}

}  // namespace
