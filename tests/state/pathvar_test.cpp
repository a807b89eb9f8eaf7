#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "state/pathvar.h"
#include "state/projectinfo.h"
#include "state/state.h"
#include "support/tracesink.h"
#include "support/testrun.h"

namespace {

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t ch : text)
        out += static_cast<char>(ch);
    return out;
}

std::wstring WithoutBackslash(std::wstring path)
{
    if (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

// Run-time values the expansion reads, saved and restored around each test.
struct RunTimeValues {
    WCHAR title[TITLE_CCH];
    WCHAR tempTrv[PATH_CCH];
    WCHAR target[PATH_CCH];
    WCHAR exe[PATH_CCH];
    WCHAR guid[GUID_CCH];
    WCHAR nameShort[SHORTTEXT_CCH];
    WCHAR version[SHORTTEXT_CCH];
    WCHAR cmdLine[CMDLINE_CCH];
    WCHAR retCode[PATH_CCH];
    DWORD exitCode;
    HWND hStatus;

    void Save()
    {
        lstrcpyW(title, TestRun().szTitle);
        lstrcpyW(tempTrv, TestRun().szTempTRV);
        lstrcpyW(target, TestRun().project.szTgdFolder);
        lstrcpyW(exe, TestRun().project.szExeFileName);
        lstrcpyW(guid, TestRun().project.szGuid);
        lstrcpyW(nameShort, TestRun().szProductNameShort);
        lstrcpyW(version, TestRun().szProductVersion);
        lstrcpyW(cmdLine, TestRun().szCmdLine);
        lstrcpyW(retCode, TestRun().szFunctionRetCode);
        exitCode = ExitCode();
        hStatus = g_hStatusWnd;
    }
    void Restore() const
    {
        lstrcpyW(TestRun().szTitle, title);
        lstrcpyW(TestRun().szTempTRV, tempTrv);
        lstrcpyW(TestRun().project.szTgdFolder, target);
        lstrcpyW(TestRun().project.szExeFileName, exe);
        lstrcpyW(TestRun().project.szGuid, guid);
        lstrcpyW(TestRun().szProductNameShort, nameShort);
        lstrcpyW(TestRun().szProductVersion, version);
        lstrcpyW(TestRun().szCmdLine, cmdLine);
        lstrcpyW(TestRun().szFunctionRetCode, retCode);
        SetExitCode(exitCode, EXITCODE_OUTCOME);
        g_hStatusWnd = hStatus;
    }
};

class PathVarTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        tracesink::Clear();
        InitPathVar(TestRun());
        s_initLog = tracesink::Lines();
    }
    void SetUp() override
    {
        m_saved.Save();
        lstrcpyW(TestRun().szTitle, L"My Product");
        lstrcpyW(TestRun().szTempTRV,
                 L"C:\\users\\me\\Temp\\{A6E044B8-6C25-48fc-806B-002A9582C81F}");
        lstrcpyW(TestRun().project.szTgdFolder, L"C:\\Target");
        lstrcpyW(TestRun().project.szExeFileName, L"setup.exe");
        lstrcpyW(TestRun().project.szGuid, L"{11111111-2222-3333-4444-555555555555}");
        lstrcpyW(TestRun().szProductNameShort, L"Short");
        lstrcpyW(TestRun().szProductVersion, L"1.2.3");
        lstrcpyW(TestRun().szCmdLine, L"/S /LANG:1036");
        lstrcpyW(TestRun().szFunctionRetCode, L"42");
        SetExitCode(3010, EXITCODE_OUTCOME);
        g_hStatusWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
        tracesink::Clear();
    }
    void TearDown() override { m_saved.Restore(); }

    static std::wstring Folder(PATHVAR_FOLDER folder) { return TestRun().szFolders[folder]; }

    // Expands a text in a buffer of the given capacity: {result, text}.
    static std::pair<BOOL, std::wstring> Expand(const std::wstring& text, DWORD cch = PATH_CCH)
    {
        std::vector<WCHAR> buffer(cch, L'\0');
        lstrcpynW(buffer.data(), text.c_str(), static_cast<int>(cch));
        BOOL bChanged = ExpandPathVar(TestRun(), buffer.data(), cch);
        return {bChanged, std::wstring(buffer.data())};
    }

    static std::vector<std::string> s_initLog;
    RunTimeValues m_saved;
};

std::vector<std::string> PathVarTest::s_initLog;

TEST_F(PathVarTest, InitPathVarLogsEveryValueInOrder)
{
    WCHAR szBuffer[MAX_PATH];
    GetWindowsDirectoryW(szBuffer, MAX_PATH);
    const std::wstring windows = WithoutBackslash(szBuffer);
    GetSystemDirectoryW(szBuffer, MAX_PATH);
    const std::wstring system = WithoutBackslash(szBuffer);
    GetTempPathW(MAX_PATH, szBuffer);
    const std::wstring temp = WithoutBackslash(szBuffer);
    GetModuleFileNameW(nullptr, szBuffer, MAX_PATH);
    const std::wstring module = szBuffer;
    const std::wstring folder = module.substr(0, module.rfind(L'\\'));

    EXPECT_EQ(Folder(PV_WINDOWS), windows);
    EXPECT_EQ(Folder(PV_SYSTEM), system);
    EXPECT_EQ(Folder(PV_SYSTEM16), windows + L"\\system");
    EXPECT_EQ(Folder(PV_SYSTEM32), system);
    EXPECT_EQ(Folder(PV_TEMP), temp);
    EXPECT_EQ(std::wstring(TestRun().szModuleFile), module);
    EXPECT_EQ(std::wstring(TestRun().szModulePath), folder);
    EXPECT_EQ(std::wstring(TestRun().szModuleFileName), L"test_state.exe");
    EXPECT_EQ(std::wstring(TestRun().szConfigFile), folder + L"\\test_state.cfg");

    const struct {
        const char* label;
        std::wstring value;
    } expected[] = {
        {"<WINDOWS>", windows},
        {"<WINSYS>", system},
        {"<CURRENTDIR>", Folder(PV_CURRENTDIR)},
        {"<TEMP>", temp},
        {"<SENDTO>", Folder(PV_SENDTO)},
        {"<PROGRAMFILES>", Folder(PV_PROGRAMFILES)},
        {"<PROGRAM_FILES_COMMON>", Folder(PV_PROGRAM_FILES_COMMON)},
        {"<VIDEO_USER>", Folder(PV_VIDEO_USER)},
        {"<VIDEO_ALLUSERS>", Folder(PV_VIDEO_ALLUSERS)},
        {"<MUSIC_USER>", Folder(PV_MUSIC_USER)},
        {"<MUSIC_ALLUSERS>", Folder(PV_MUSIC_ALLUSERS)},
        {"<PICTURES_USER>", Folder(PV_PICTURES_USER)},
        {"<PICTURES_ALLUSERS>", Folder(PV_PICTURES_ALLUSERS)},
        {"<PROGRAMS_USER>", Folder(PV_PROGRAMS_USER)},
        {"<PROGRAMS_ALLUSERS>", Folder(PV_PROGRAMS_ALLUSERS)},
        {"<STARTMENU_USER>", Folder(PV_STARTMENU_USER)},
        {"<STARTMENU_ALLUSERS>", Folder(PV_STARTMENU_ALLUSERS)},
        {"<STARTUP_USER>", Folder(PV_STARTUP_USER)},
        {"<STARTUP_ALLUSERS>", Folder(PV_STARTUP_ALLUSERS)},
        {"<APPDATA>", Folder(PV_APPDATA)},
        {"<COMMON_APPDATA>", Folder(PV_COMMON_APPDATA)},
        {"<LOCAL_APPDATA>", Folder(PV_LOCAL_APPDATA)},
        {"<DOCUMENTS_USER>", Folder(PV_DOCUMENTS_USER)},
        {"<DOCUMENTS_ALLUSERS>", Folder(PV_DOCUMENTS_ALLUSERS)},
        {"<DESKTOP_USER>", Folder(PV_DESKTOP_USER)},
        {"<DESKTOP_ALLUSERS>", Folder(PV_DESKTOP_ALLUSERS)},
        {"<DOWNLOAD_USER>", Folder(PV_DOWNLOAD_USER)},
        {"<DOWNLOAD_ALLUSERS>", Folder(PV_DOWNLOAD_ALLUSERS)},
        {"ModuleFile", module},
        {"ModulePath", folder},
        {"ModuleFileName", L"test_state.exe"},
        {"ConfigFile", folder + L"\\test_state.cfg"},
    };
    std::vector<std::string> lines;
    for (const auto& e : expected)
        lines.push_back(std::string("InitPathVar()->") + e.label + "=" + Narrow(e.value));
    EXPECT_EQ(s_initLog, lines);

    // Every folder is known on this system, none ends with a backslash.
    for (int i = 0; i < PV_FOLDER_COUNT; ++i) {
        std::wstring value = TestRun().szFolders[i];
        EXPECT_FALSE(value.empty()) << "folder " << i;
        EXPECT_NE(value.back(), L'\\') << Narrow(value);
    }
}

TEST_F(PathVarTest, EveryFolderPlaceholderGivesItsFolder)
{
    const struct {
        const wchar_t* placeholder;
        PATHVAR_FOLDER folder;
    } cases[] = {
        {L"<WINDOWS>", PV_WINDOWS},
        {L"<SYSTEM>", PV_SYSTEM},
        {L"<SYSTEM16>", PV_SYSTEM16},
        {L"<SYSTEM32>", PV_SYSTEM32},
        {L"<SENDTO>", PV_SENDTO},
        {L"<CURRENTDIR>", PV_CURRENTDIR},
        {L"<PROGRAMFILES>", PV_PROGRAMFILES},
        {L"<PROGRAM_FILES_COMMON>", PV_PROGRAM_FILES_COMMON},
        {L"<TEMPPATH>", PV_TEMP},
        {L"<TEMP>", PV_TEMP},
        {L"<VIDEO_USER>", PV_VIDEO_USER},
        {L"<VIDEO_ALLUSERS>", PV_VIDEO_ALLUSERS},
        {L"<MUSIC_USER>", PV_MUSIC_USER},
        {L"<MUSIC_ALLUSERS>", PV_MUSIC_ALLUSERS},
        {L"<PICTURES_USER>", PV_PICTURES_USER},
        {L"<PICTURES_ALLUSERS>", PV_PICTURES_ALLUSERS},
        {L"<PROGRAMS_USER>", PV_PROGRAMS_USER},
        {L"<PROGRAMS_ALLUSERS>", PV_PROGRAMS_ALLUSERS},
        {L"<STARTMENU_USER>", PV_STARTMENU_USER},
        {L"<STARTMENU_ALLUSERS>", PV_STARTMENU_ALLUSERS},
        {L"<STARTUP_USER>", PV_STARTUP_USER},
        {L"<STARTUP_ALLUSERS>", PV_STARTUP_ALLUSERS},
        {L"<APPDATA>", PV_APPDATA},
        {L"<COMMON_APPDATA>", PV_COMMON_APPDATA},
        {L"<LOCAL_APPDATA>", PV_LOCAL_APPDATA},
        {L"<DOCUMENTS_USER>", PV_DOCUMENTS_USER},
        {L"<DOCUMENTS_ALLUSERS>", PV_DOCUMENTS_ALLUSERS},
        {L"<DESKTOP_USER>", PV_DESKTOP_USER},
        {L"<DESKTOP_ALLUSERS>", PV_DESKTOP_ALLUSERS},
        {L"<DOWNLOAD_USER>", PV_DOWNLOAD_USER},
        {L"<DOWNLOAD_ALLUSERS>", PV_DOWNLOAD_ALLUSERS},
    };
    for (const auto& c : cases) {
        std::pair<BOOL, std::wstring> result = Expand(std::wstring(c.placeholder) + L"\\x");
        EXPECT_TRUE(result.first) << Narrow(c.placeholder);
        EXPECT_EQ(result.second, Folder(c.folder) + L"\\x") << Narrow(c.placeholder);
    }
}

TEST_F(PathVarTest, RunTimeValuesAreReadAtEachExpansion)
{
    WCHAR szModule[MAX_PATH];
    GetModuleFileNameW(nullptr, szModule, MAX_PATH);
    const std::wstring module = szModule;
    const std::wstring temp = Folder(PV_TEMP);
    const struct {
        const char* what;
        std::wstring text;
        BOOL changed;
        std::wstring expected;
    } cases[] = {
        {"program files without a doubled backslash", L"<PROGRAMFILES>\\Product", TRUE,
         Folder(PV_PROGRAMFILES) + L"\\Product"},
        {"TEMP and TEMPPATH alike", L"<TEMP>|<TEMPPATH>", TRUE, temp + L"|" + temp},
        {"two TEMP both replaced", L"<TEMP>\\a;<TEMP>\\b", TRUE, temp + L"\\a;" + temp + L"\\b"},
        {"scratch folder", L"<TEMPTRV>\\setup.cfg", TRUE,
         std::wstring(TestRun().szTempTRV) + L"\\setup.cfg"},
        {"target folder", L"<TARGETDIR>\\bin", TRUE, L"C:\\Target\\bin"},
        {"display name and %P", L"<DISPLAYNAME> - <%P>", TRUE, L"My Product - My Product"},
        {"exit code in decimal", L"code=<EXECUTERETCODE>", TRUE, L"code=3010"},
        {"last script result", L"[<FUNCTIONRETCODE>]", TRUE, L"[42]"},
        {"product data", L"<PRODUCTEXE> <PRODUCTGUID> <PRODUCTNAME> <PRODUCTVERSION>", TRUE,
         L"setup.exe {11111111-2222-3333-4444-555555555555} Short 1.2.3"},
        {"company name disappears", L"a<COMPANYNAME>b", TRUE, L"ab"},
        {"own command line", L"<PARAMS> /q", TRUE, L"/S /LANG:1036 /q"},
        {"status window handle with %p", L"<HWND_TRV>", TRUE, L"00001234"},
        {"handle on Vista and later", L"setup.exe <SETUPZK>", TRUE, L"setup.exe /SETUPZK:4660"},
        {"program folder and file", L"<PATH_TRV>|<FILE_TRV>", TRUE,
         module.substr(0, module.rfind(L'\\')) + L"|" + module},
        {"lower case stays", L"<temp>\\x", FALSE, L"<temp>\\x"},
        {"unknown name stays", L"<NOSUCHFOLDER>\\x", FALSE, L"<NOSUCHFOLDER>\\x"},
        {"plain text", L"C:\\plain\\text", FALSE, L"C:\\plain\\text"},
        {"empty text", L"", FALSE, L""},
        {"unknown stays, known goes", L"<X><TEMP>", TRUE, L"<X>" + temp},
    };
    for (const auto& c : cases) {
        std::pair<BOOL, std::wstring> result = Expand(c.text);
        EXPECT_EQ(result.first, c.changed) << c.what;
        EXPECT_EQ(result.second, c.expected) << c.what;
    }

    // The same text at another moment.
    SetExitCode(static_cast<DWORD>(-1), EXITCODE_OUTCOME);
    g_hStatusWnd = nullptr;
    lstrcpyW(TestRun().szTitle, L"Other");
    EXPECT_EQ(Expand(L"<EXECUTERETCODE> <HWND_TRV> <SETUPZK> <DISPLAYNAME>").second,
              L"-1 00000000 /SETUPZK:0 Other");
    EXPECT_TRUE(tracesink::Contains("IsVistaOrMore()->MajorVersion=6")) << tracesink::Dump();
}

TEST_F(PathVarTest, ValuesAreSearchedOnlyByLaterPlaceholders)
{
    const struct {
        const char* what;
        const wchar_t* title;
        const wchar_t* target;
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {"a later placeholder inside a value is expanded", L"<PRODUCTEXE>", L"C:\\T", L"<DISPLAYNAME>",
         L"setup.exe"},
        {"an earlier placeholder inside a value stays", L"<TEMP>", L"C:\\T", L"<DISPLAYNAME>", L"<TEMP>"},
        {"a value holding its own placeholder ends", L"x", L"<TARGETDIR>\\<TARGETDIR>",
         L"<TARGETDIR>|<TARGETDIR>", L"<TARGETDIR>\\<TARGETDIR>|<TARGETDIR>\\<TARGETDIR>"},
        {"empty value before the title exists", L"", L"C:\\T", L"<PROGRAMFILES>\\<DISPLAYNAME>",
         Folder(PV_PROGRAMFILES) + L"\\"},
    };
    for (const auto& c : cases) {
        lstrcpyW(TestRun().szTitle, c.title);
        lstrcpyW(TestRun().project.szTgdFolder, c.target);
        EXPECT_EQ(Expand(c.text).second, c.expected) << c.what;
    }
}

TEST_F(PathVarTest, ResultsAreCutToTheCallersCapacity)
{
    const std::wstring pf = Folder(PV_PROGRAMFILES) + L"\\Product";
    const std::wstring longLine(3000, L'a');
    lstrcpyW(TestRun().szCmdLine, std::wstring(4000, L'p').c_str());
    const struct {
        const char* what;
        std::wstring text;
        DWORD cch;
        std::wstring expected;
        bool bCutLogged;
    } cases[] = {
        {"configuration path of 20", L"<PROGRAMFILES>\\Product", 20, pf.substr(0, 19), true},
        {"fits exactly", L"<PROGRAMFILES>\\Product", static_cast<DWORD>(pf.size() + 1), pf, false},
        {"command line longer than the work buffer", longLine + L" <TEMP>", CMDLINE_CCH,
         longLine + L" " + Folder(PV_TEMP), false},
        {"command line beyond its capacity", longLine + L" <PARAMS> <PARAMS>", CMDLINE_CCH,
         (longLine + L" " + std::wstring(4000, L'p') + L" " + std::wstring(4000, L'p')).substr(0, 7999),
         true},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        std::pair<BOOL, std::wstring> result = Expand(c.text, c.cch);
        EXPECT_TRUE(result.first) << c.what;
        EXPECT_EQ(result.second, c.expected) << c.what;
        EXPECT_EQ(tracesink::Contains("ExpandPathVar()->text cut to " +
                                      std::to_string(c.cch - 1) + " characters"),
                  c.bCutLogged)
            << c.what;
    }
}

TEST(ReplaceAll, ReplacesEveryOccurrenceFromTheStart)
{
    const struct {
        const char* what;
        std::wstring text;
        DWORD cch;
        const wchar_t* placeholder;
        const wchar_t* value;
        DWORD start;
        std::wstring expected;
    } cases[] = {
        {"every occurrence", L"x<A>y<A>", 64, L"<A>", L"1", 0, L"x1y1"},
        {"from a start position", L"x<A>y<A>", 64, L"<A>", L"1", 2, L"x<A>y1"},
        {"start beyond the text", L"x<A>", 64, L"<A>", L"1", 50, L"x<A>"},
        {"value holding the placeholder", L"<A>.<A>", 64, L"<A>", L"<A><A>", 0, L"<A><A>.<A><A>"},
        {"case-sensitive", L"<a>", 64, L"<A>", L"1", 0, L"<a>"},
        {"empty value", L"a<A>b", 64, L"<A>", L"", 0, L"ab"},
        {"null value", L"a<A>b", 64, L"<A>", nullptr, 0, L"ab"},
        {"empty placeholder changes nothing", L"ab", 64, L"", L"x", 0, L"ab"},
        {"cut to the capacity", L"<A>", 6, L"<A>", L"123456789", 0, L"12345"},
        {"growing values", L"<A><A><A>", 64, L"<A>", L"0123456789", 0,
         L"012345678901234567890123456789"},
    };
    for (const auto& c : cases) {
        std::vector<WCHAR> buffer(c.cch, L'\0');
        lstrcpynW(buffer.data(), c.text.c_str(), static_cast<int>(c.cch));
        EXPECT_TRUE(ReplaceAll(buffer.data(), c.cch, c.placeholder, c.value, c.start)) << c.what;
        EXPECT_EQ(std::wstring(buffer.data()), c.expected) << c.what;
    }
}

}  // namespace
