// File, folder and INI commands.
#include <string>
#include <vector>
#include "state/pathvar.h"
#include "common/filecopy.h"
#include "state/state.h"
#include "script/condition.h"
#include "script/filecmd.h"
#include "script/script.h"
#include "scripttest.h"
#include "support/testrun.h"
#include <strsafe.h>

using namespace scripttest;

namespace {

class FileCommandTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        m_dir = FreshDir(Wide(testing::UnitTest::GetInstance()->current_test_info()->name()));
        m_n = Narrow(m_dir);
    }
    std::wstring m_dir;
    std::string m_n;
};

std::string Fill(std::string text, const std::string& dir)
{
    for (size_t at; (at = text.find("{d}")) != std::string::npos;)
        text.replace(at, 3, dir);
    return text;
}

// src\a.txt, src\b.txt, src\c.tmp (read-only), src\sub\d.txt, src\sub\e.tmp,
// src\sub\deep\f.tmp (read-only, in a read-only folder)
void MakeTree(const std::wstring& dir)
{
    for (const wchar_t* sub : {L"\\src", L"\\src\\sub", L"\\src\\sub\\deep"})
        CreateDirectoryW((dir + sub).c_str(), nullptr);
    for (const wchar_t* file : {L"\\src\\a.txt", L"\\src\\b.txt", L"\\src\\c.tmp",
                                L"\\src\\sub\\d.txt", L"\\src\\sub\\e.tmp",
                                L"\\src\\sub\\deep\\f.tmp"})
        WriteFile(dir + file, Narrow(file));
    SetFileAttributesW((dir + L"\\src\\c.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((dir + L"\\src\\sub\\deep\\f.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((dir + L"\\src\\sub\\deep").c_str(), FILE_ATTRIBUTE_READONLY);
}

// One command line and what it must leave behind; {d} is the test folder.
struct CommandCase {
    const char* command;
    std::string params;
    std::string lastResult;
    std::vector<std::string> traced;
    std::vector<std::string> present;  // below the test folder
    std::vector<std::string> absent;
    std::vector<std::string> notTracedPrefix;
};

void RunTable(const std::wstring& dir, const std::vector<CommandCase>& cases)
{
    std::string n = Narrow(dir);
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(std::string(c.command) + "=" + c.params);
        RemoveTree(dir);
        CreateDirectoryW(dir.c_str(), nullptr);
        MakeTree(dir);
        tracesink::Clear();
        StringCchCopyW(TestRun().szFunctionRetCode, ARRAYSIZE(TestRun().szFunctionRetCode),
                       L"junk");
        RunLine(Wide(c.command), Wide(Fill(c.params, n)));
        EXPECT_EQ(LastResult(), c.lastResult);
        for (const std::string& line : c.traced)
            EXPECT_TRUE(Traced(Fill(line, n)));
        for (const std::string& prefix : c.notTracedPrefix)
            EXPECT_FALSE(tracesink::ContainsPrefix(Fill(prefix, n))) << prefix;
        for (const std::string& path : c.present)
            EXPECT_TRUE(Exists(dir + L"\\" + Wide(path))) << path;
        for (const std::string& path : c.absent)
            EXPECT_FALSE(Exists(dir + L"\\" + Wide(path))) << path;
    }
    RemoveTree(dir);
}

TEST_F(FileCommandTest, FolderCommandTable)
{
    RunTable(m_dir, {
        {"CREATEDIR", "{d}\\new\\deeper", "1", {"ScriptCreateDir({d}\\new\\deeper)->1"},
         {"new\\deeper"}, {}, {}},
        {"CREATEDIR", "{d}\\src", "1", {"ScriptCreateDir({d}\\src)->1"}, {"src\\a.txt"}, {}, {}},
        {"CREATEDIR", "{d}\\new,,,Label", "0", {}, {}, {"new"}, {"ScriptCreateDir("}},
        {"CREATEDIR", "{d}\\new,Z", "0", {}, {}, {"new"}, {"ScriptCreateDir("}},
        {"CREATEFOLDER", "{d}\\f", "1", {"ScriptCreateFolder({d}\\f)->1"}, {"f"}, {}, {}},
        {"REMOVEDIR", "{d}\\src", "1", {"ScriptRemoveDir({d}\\src, 2)->1"}, {}, {"src"}, {}},
        {"REMOVEFOLDER", "{d}\\src\\", "1", {"ScriptRemoveDir({d}\\src\\, 2)->1"}, {}, {"src"}, {}},
        {"REMOVEDIR", "{d}\\src,<ONLYDIR>", "1", {"ScriptRemoveDir({d}\\src, 3)->1"}, {},
         {"src"}, {}},
        {"REMOVEDIR", "{d}\\src,<lockeddir>|<onlydir>", "1",
         {"ScriptRemoveDir({d}\\src, 259)->1"}, {}, {"src"}, {}},
        {"REMOVEDIR", "{d}\\missing", "0", {"ScriptRemoveDir({d}\\missing, 2)->0"}, {}, {}, {}},
        {"REMOVEDIR", "{d}\\src\\a.txt", "0", {"ScriptRemoveDir({d}\\src\\a.txt, 2)->0"},
         {"src\\a.txt"}, {}, {}},
        {"REMOVEDIR", "Q:\\", "0", {"ScriptRemoveDir(Q:\\)->Refused: drive or share root"}, {}, {},
         {}},
        {"REMOVEDIR", "<COMPANYNAME>", "0",
         {"ScriptRemoveDir()->Refused: <COMPANYNAME> stood for nothing"}, {}, {}, {}},
        {"RENAMEFILE", "{d}\\src\\a.txt,{d}\\src\\z.txt", "0",
         {"ScriptRenameFile({d}\\src\\a.txt, {d}\\src\\z.txt)->0"}, {"src\\z.txt"},
         {"src\\a.txt"}, {}},
        {"RENAMEFILE", "{d}\\src\\none.txt,{d}\\src\\z.txt", "-1",
         {"ScriptRenameFile({d}\\src\\none.txt, {d}\\src\\z.txt)->-1"}, {}, {"src\\z.txt"}, {}},
        {"RENAMEDIR", "{d}\\src,{d}\\moved", "0", {"ScriptRenameFile({d}\\src, {d}\\moved)->0"},
         {"moved\\sub\\d.txt"}, {"src"}, {}},
    });
}

TEST_F(FileCommandTest, FileCommandTable)
{
    RunTable(m_dir, {
        {"REMOVEFILE", "{d}\\src\\*.tmp,<INCLUDE_SUBDIR>", "1",
         {"RemoveFile({d}\\src\\*.tmp, 2)->1"}, {"src\\a.txt", "src\\sub\\d.txt"},
         {"src\\c.tmp", "src\\sub\\e.tmp", "src\\sub\\deep\\f.tmp"}, {}},
        {"REMOVEFILE", "{d}\\src\\*.tmp", "1", {"RemoveFile({d}\\src\\*.tmp, 0)->1"},
         {"src\\sub\\e.tmp"}, {"src\\c.tmp"}, {}},
        {"REMOVEFILE", "{d}\\src\\*.none,<include_subdir>", "0",
         {"RemoveFile({d}\\src\\*.none, 2)->0"}, {}, {}, {}},
        {"COPYFILE", "{d}\\src\\*.txt,{d}\\out", "0", {"ScriptCopyFile({d}\\src\\*.txt, {d}\\out, 0)->0"},
         {"out\\a.txt", "out\\b.txt"}, {"out\\c.tmp", "out\\sub"}, {}},
        {"COPYFILE", "{d}\\src\\*.txt,{d}\\out,<include_subdir>", "0",
         {"ScriptCopyFile({d}\\src\\*.txt, {d}\\out, 2)->0"}, {"out\\a.txt", "out\\sub\\d.txt"},
         {"out\\sub\\e.tmp"}, {}},
        {"COPYFILE", "{d}\\src\\*.none,{d}\\out", "0",
         {"ScriptCopyFile({d}\\src\\*.none, {d}\\out, 0)->0"}, {}, {"out"}, {}},
        {"COPYFILE", "{d}\\src\\a.txt,{d}\\out,<UPDATE_SAME>|<CLEAR_FILE_ATTR>|<SHAREDFILE>", "0",
         {"ScriptCopyFile({d}\\src\\a.txt, {d}\\out, 120200)->0"}, {"out\\a.txt"}, {}, {}},
        {"COPYDIR", "{d}\\src\\,{d}\\out", "0",
         {"ScriptCopyDir({d}\\src\\*.*, {d}\\out\\src, 0)->0"}, {"out\\src\\a.txt", "out\\src\\c.tmp"},
         {"out\\a.txt", "out\\src\\sub"}, {}},
        {"COPYDIR", "{d}\\src,{d}\\out\\,<INCLUDE_SUBDIR>", "0",
         {"ScriptCopyDir({d}\\src\\*.*, {d}\\out\\src, 2)->0"}, {"out\\src\\sub\\deep\\f.tmp"},
         {}, {}},
        {"COPYDIR", "{d}\\src,{d}\\src\\inner,<INCLUDE_SUBDIR>", "0",
         {"ScriptCopyDir({d}\\src, {d}\\src\\inner\\src)->Destination inside the source, refused!"},
         {}, {"src\\inner"}, {}},
        {"COPYDIR", "{d}\\empty,{d}\\out", "0", {"ScriptCopyDir({d}\\empty\\*.*, {d}\\out\\empty, 0)->0"},
         {"out\\empty"}, {}, {}},
        // A file URL is copied; the download's code is the result.
        {"DOWNLOADFILE", "file:///{d}\\src\\a.txt,{d}\\dl.txt", "0",
         {"ScriptDownLoadFile(file:///{d}\\src\\a.txt,{d}\\dl.txt)->0"}, {"dl.txt"}, {}, {}},
        {"DOWNLOADFILE", "file:///{d}\\src\\none.txt,{d}\\dl.txt", "110",
         {"ScriptDownLoadFile(file:///{d}\\src\\none.txt,{d}\\dl.txt)->110"}, {}, {"dl.txt"}, {}},
        // The download line is logged even when its guard fails.
        {"DOWNLOADFILE", "http://127.0.0.1:9/x.bin,{d}\\dl.bin,,,,,Label", "0",
         {"ScriptDownLoadFile(http://127.0.0.1:9/x.bin,{d}\\dl.bin)->0"}, {}, {"dl.bin"}, {}},
        // Fields that do not fit are refused, never cut.
        {"CREATEDIR", "{d}\\" + std::string(300, 'n'), "0",
         {"ScriptCreateDir()->Parameter too long, line refused!"}, {}, {}, {"ScriptCreateDir({d}"}},
        {"COPYFILE", "{d}\\src\\*.txt,{d}\\out,<INCLUDE_SUBDIR>,,," + std::string(260, 'L'), "0",
         {"ScriptCopyFile()->Parameter too long, line refused!"}, {}, {"out"}, {}},
        {"SETFILEATTRIBUTES", "{d}\\src\\*.txt,<FILE_ATTRIBUTE_READONLY>|<file_attribute_hidden>",
         "1", {"ScriptSetFileAttributes({d}\\src\\*.txt, 3)->1"}, {}, {}, {}},
    });
}

TEST_F(FileCommandTest, SetFileAttributesReplacesTheAttributes)
{
    MakeTree(m_dir);
    RunLine(L"SETFILEATTRIBUTES", m_dir + L"\\src\\*.txt,<FILE_ATTRIBUTE_HIDDEN>|<FILE_ATTRIBUTE_READONLY>");
    // (Wine reports every file with the archive bit.)
    EXPECT_EQ(GetFileAttributesW((m_dir + L"\\src\\a.txt").c_str()) & 0x7, 3u);
    EXPECT_EQ(GetFileAttributesW((m_dir + L"\\src\\sub\\d.txt").c_str()) & 0x7, 0u);
    RunLine(L"SETFILEATTRIBUTES", m_dir + L"\\src\\*.txt,<FILE_ATTRIBUTE_ARCHIVE>,<INCLUDE_SUBDIR>");
    EXPECT_TRUE(Traced("ScriptSetFileAttributes(" + m_n + "\\src\\*.txt, 32)->1"));
    EXPECT_EQ(GetFileAttributesW((m_dir + L"\\src\\a.txt").c_str()) & 0x7, 0u);
    EXPECT_EQ(GetFileAttributesW((m_dir + L"\\src\\sub\\d.txt").c_str()) & 0x7, 0u);
    RemoveTree(m_dir);
}

TEST_F(FileCommandTest, LockedFileIsDeletedAtRestart)
{
    MakeTree(m_dir);
    std::wstring file = m_dir + L"\\src\\a.txt";
    HANDLE hHeld = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    RunLine(L"REMOVEFILE", file + L",<LOCKEDFILE>");
    // The deletion failed now and is left to the next restart.
    EXPECT_EQ(LastResult(), "0");
    EXPECT_TRUE(Traced("RemoveFile(" + Narrow(file) + ", 256)->0"));
    EXPECT_TRUE(tracesink::ContainsPrefix("MoveFileEx(" + Narrow(file)));
    EXPECT_TRUE(Exists(file));
    CloseHandle(hHeld);
    // Without the option nothing is arranged.
    hHeld = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    tracesink::Clear();
    RunLine(L"REMOVEFILE", file);
    EXPECT_FALSE(tracesink::ContainsPrefix("MoveFileEx("));
    CloseHandle(hHeld);
    RemoveTree(m_dir);
}

TEST_F(FileCommandTest, OptionInAGuardFieldCounts)
{
    // The label itself names <INCLUDE_SUBDIR>: the search covers the guard.
    MakeTree(m_dir);
    Copy(Script().szCondition, L"<INCLUDE_SUBDIR>");
    RunLine(L"REMOVEFILE", m_dir + L"\\src\\*.tmp,,,,<include_subdir>");
    EXPECT_TRUE(Traced("RemoveFile(" + m_n + "\\src\\*.tmp, 2)->1"));
    EXPECT_FALSE(Exists(m_dir + L"\\src\\sub\\e.tmp"));
    RemoveTree(m_dir);
}

TEST_F(FileCommandTest, ChangeDirMovesTheCurrentDirectory)
{
    WCHAR saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    RunLine(L"CHANGEDIR", m_dir);
    EXPECT_EQ(LastResult(), "1");
    EXPECT_TRUE(Traced("ChangeDir(" + m_n + ")->1"));
    WCHAR now[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, now);
    EXPECT_EQ(_wcsicmp(now, m_dir.c_str()), 0) << Narrow(now);
    RunLine(L"CHANGEDIR", m_dir + L"\\missing");
    EXPECT_EQ(LastResult(), "0");
    SetCurrentDirectoryW(saved);
}

TEST_F(FileCommandTest, WriteIniFileTable)
{
    struct Case {
        std::string params;
        std::string lastResult;
        std::string content;  // of setup.ini afterwards
    };
    const std::string seed = "[Keep]\r\nA=1\r\n[Sec]\r\nK=old\r\nL=2\r\n";
    const Case cases[] = {
        {"{d}\\setup.ini,Sec,K,new", "1", "[Keep]\r\nA=1\r\n[Sec]\r\nK=new\r\nL=2\r\n"},
        {"{d}\\setup.ini,Sec,M,<FUNCTIONRETCODE>", "1", seed + "M=0\r\n"},
        {"{d}\\setup.ini,Sec,K", "1", "[Keep]\r\nA=1\r\n[Sec]\r\nL=2\r\n"},
        {"{d}\\setup.ini,Sec", "1", "[Keep]\r\nA=1\r\n"},
        {"{d}\\setup.ini,New,X,y", "1", seed + "[New]\r\nX=y\r\n"},
        {"{d}\\setup.ini,Sec,K,new,,,Label", "0", seed},
        {",Sec,K,new", "0", seed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        WriteFile(m_dir + L"\\setup.ini", seed);
        StringCchCopyW(TestRun().szFunctionRetCode, ARRAYSIZE(TestRun().szFunctionRetCode),
                       L"junk");
        tracesink::Clear();
        RunLine(L"WRITEINIFILE", Wide(Fill(c.params, m_n)));
        EXPECT_EQ(LastResult(), c.lastResult);
        EXPECT_EQ(ReadFile(m_dir + L"\\setup.ini"), c.content);
    }
    RunLine(L"WRITEINIFILE", m_dir + L"\\setup.ini,Sec,K,v");
    EXPECT_TRUE(Traced("WriteIniFile(" + m_n + "\\setup.ini,Sec,K,v)->1"));
}

TEST_F(FileCommandTest, WriteIniFileTakesRelativePathsFromTheStartFolder)
{
    // <CURRENTDIR> is the folder at start-up, not the current directory.
    std::wstring startDir = TestRun().szFolders[PV_CURRENTDIR];
    std::wstring name = L"stowaway-script-test.ini";
    WCHAR saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    SetCurrentDirectoryW(m_dir.c_str());
    RunLine(L"WRITEINIFILE", name + L",Sec,K,v");
    SetCurrentDirectoryW(saved);
    EXPECT_EQ(LastResult(), "1");
    EXPECT_TRUE(Exists(startDir + L"\\" + name));
    EXPECT_FALSE(Exists(m_dir + L"\\" + name));
    DeleteFileW((startDir + L"\\" + name).c_str());
}

TEST_F(FileCommandTest, DelayEndsWhenTheProgramIsNotRunning)
{
    StringCchCopyW(TestRun().szFunctionRetCode, ARRAYSIZE(TestRun().szFunctionRetCode), L"9");
    DWORD start = GetTickCount();
    RunLine(L"DELAY", L"5000,no-such-program.exe,unused");
    printf("DELAY 5000 with a program that is not running: %lu ms\n",
           static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_TRUE(Traced("ScriptDelay(5000,no-such-program.exe,unused)->Begin"));
    EXPECT_TRUE(Traced("ScriptDelay()->szDelay=5000 szFile=no-such-program.exe,unused"));
    // One look for the program, then the wait is over.
    int looks = 0;
    for (const std::string& line : tracesink::Lines())
        looks += line == "FindModule->no-such-program.exe isn't in the memory!";
    EXPECT_EQ(looks, 1);
    EXPECT_TRUE(tracesink::ContainsPrefix("Delay()->Time="));
    // DELAY leaves the last result alone.
    EXPECT_EQ(LastResult(), "9");
}

TEST_F(FileCommandTest, DelayWaitsAndStopsOnCancel)
{
    DWORD start = GetTickCount();
    RunLine(L"DELAY", L"300");
    printf("DELAY 300: %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_TRUE(tracesink::ContainsPrefix("Delay()->Time="));
    // A cancelled run does not sit out a long delay.
    g_bCancel = 1;
    tracesink::Clear();
    RunLine(L"DELAY", L"600000");
    EXPECT_TRUE(tracesink::ContainsPrefix("Delay()->Time="));
}

}  // namespace
