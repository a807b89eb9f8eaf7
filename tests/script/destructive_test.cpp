// Destructive script lines against a sandbox drive: a Wine drive letter
// mapped to a scratch folder, named by STOWAWAY_SANDBOX_DRIVE (the
// end-to-end test e2e/test_guard_sandbox.py maps it and runs this test;
// without it the test is skipped). Folders on that drive stand in for the
// Windows folder, Program Files, the profile and its known folders, TEMP
// and the folder the launcher started in (a checkout, with its .git); the
// current folder is on it too. Every line is refused and says why, and
// every canary file stays as it was.
#include <string>
#include <vector>
#include "common/pathguard.h"
#include "state/pathvar.h"
#include "script/script.h"
#include "scripttest.h"
#include "support/testrun.h"
#include <strsafe.h>

using namespace scripttest;

namespace {

std::wstring Fill(std::wstring text, const std::wstring& drive)
{
    for (size_t at; (at = text.find(L"{D}")) != std::wstring::npos;)
        text.replace(at, 3, drive);
    return text;
}

// Folders of the sandbox and the path variable each stands in for.
const struct {
    const wchar_t* folder;
    int var;  // a PATHVAR_FOLDER, or -1
} kStandIns[] = {
    {L"\\checkout", PV_CURRENTDIR},
    {L"\\Windows", PV_WINDOWS},
    {L"\\Windows\\System32", PV_SYSTEM},
    {L"\\Program Files", PV_PROGRAMFILES},
    {L"\\Users\\me", -1},
    {L"\\Users\\me\\AppData\\Roaming", PV_APPDATA},
    {L"\\Users\\me\\AppData\\Local", PV_LOCAL_APPDATA},
    {L"\\Users\\me\\AppData\\Local\\Temp", PV_TEMP},
    {L"\\Users\\me\\Desktop", PV_DESKTOP_USER},
    {L"\\Users\\me\\Documents", PV_DOCUMENTS_USER},
};

const wchar_t* const kCanaries[] = {
    L"\\canary.txt",
    L"\\data\\canary.txt",
    L"\\Desk.lnk",
    L"\\checkout\\canary.txt",
    L"\\checkout\\.git\\canary.txt",
    L"\\Windows\\canary.txt",
    L"\\Windows\\System32\\canary.txt",
    L"\\Program Files\\canary.txt",
    L"\\Users\\me\\canary.txt",
    L"\\Users\\me\\AppData\\Roaming\\canary.txt",
    L"\\Users\\me\\AppData\\Local\\Temp\\canary.txt",
    L"\\Users\\me\\Desktop\\canary.txt",
    L"\\Users\\me\\Documents\\canary.txt",
    L"\\src\\a.txt",
    L"\\srcroot\\payload\\p.txt",
    // Other users' profiles, Default and Public.
    L"\\Users\\otheruser\\canary.txt",
    L"\\Users\\otheruser\\Documents\\canary.txt",
    L"\\Users\\Default\\canary.txt",
    L"\\Users\\Public\\canary.txt",
    L"\\Users\\me\\Desktop\\deep\\canary.txt",
};

struct Line {
    const wchar_t* command;
    const wchar_t* params;   // {D}: the sandbox drive, "S:"
    const wchar_t* refused;  // the start of the trace line that says why
};

const Line kRefused[] = {
    // Roots through an empty variable, and in every other spelling.
    {L"REMOVEDIR", L"{D}\\<COMPANYNAME>\\", L"ScriptRemoveDir({D}\\\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEDIR", L"\\.", L"ScriptRemoveDir(\\.)->Refused: drive or share root"},
    {L"REMOVEDIR", L"{D}\\.", L"ScriptRemoveDir({D}\\.)->Refused: drive or share root"},
    {L"REMOVEDIR", L"{D}/", L"ScriptRemoveDir({D}/)->Refused: drive or share root"},
    {L"REMOVEDIR", L"{D}\\dir\\..\\", L"ScriptRemoveDir({D}\\dir\\..\\)->Refused: drive or share root"},
    // "S:" alone is the current folder of that drive: here the checkout.
    {L"REMOVEDIR", L"{D}", L"ScriptRemoveDir({D})->Refused: protected folder"},
    {L"REMOVEDIR", L"\\\\?\\{D}\\", L"ScriptRemoveDir(\\\\?\\{D}\\)->Refused: drive or share root"},
    {L"REMOVEDIR", L"{D}\\Windows\\System32\\..\\..\\",
     L"ScriptRemoveDir({D}\\Windows\\System32\\..\\..\\)->Refused: drive or share root"},
    {L"REMOVEFILE", L"<COMPANYNAME>\\*.*,<INCLUDE_SUBDIR>",
     L"RemoveFile(\\*.*)->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEFILE", L"\\*.*,<INCLUDE_SUBDIR>", L"RemoveFile(\\*.*)->Refused: every file below {D}\\: drive or share root"},
    {L"REMOVEFILE", L"{D}/*.*", L"RemoveFile({D}/*.*)->Refused: every file of {D}\\: drive or share root"},
    // A folder change that fails leaves the start folder current: the
    // checkout is not emptied either.
    {L"CHANGEDIR", L"<COMPANYNAME>", L"ChangeDir()->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEFILE", L"*.*,<INCLUDE_SUBDIR>",
     L"RemoveFile(*.*)->Refused: every file below {D}\\checkout: protected folder"},
    {L"CHANGEDIR", L"{D}\\<COMPANYNAME>", L"ChangeDir({D}\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"CHANGEDIR", L"{D}\\", L"ChangeDir({D}\\)->Refused: drive or share root"},
    {L"REMOVEDIR", L"<CURRENTDIR>\\..\\checkout\\", L"ScriptRemoveDir({D}\\checkout\\..\\checkout\\)->Refused: protected folder"},
    // The system's folders and the user's.
    {L"REMOVEDIR", L"<WINDOWS>\\<COMPANYNAME>", L"ScriptRemoveDir({D}\\Windows\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEDIR", L"<WINDOWS>", L"ScriptRemoveDir({D}\\Windows)->Refused: protected folder"},
    {L"REMOVEDIR", L"{D}/Windows/System32/../", L"ScriptRemoveDir({D}/Windows/System32/../)->Refused: protected folder"},
    {L"REMOVEDIR", L"<PROGRAMFILES>\\<COMPANYNAME>",
     L"ScriptRemoveDir({D}\\Program Files\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEDIR", L"<APPDATA>\\<COMPANYNAME>",
     L"ScriptRemoveDir({D}\\Users\\me\\AppData\\Roaming\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEDIR", L"<DESKTOP_USER>\\..\\<COMPANYNAME>",
     L"ScriptRemoveDir({D}\\Users\\me\\Desktop\\..\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEDIR", L"<DESKTOP_USER>\\..", L"ScriptRemoveDir({D}\\Users\\me\\Desktop\\..)->Refused: protected folder"},
    {L"REMOVEDIR", L"{D}\\Users\\me\\Desktop\\..\\AppData\\Roaming\\..\\..",
     L"ScriptRemoveDir({D}\\Users\\me\\Desktop\\..\\AppData\\Roaming\\..\\..)->Refused: protected folder"},
    {L"REMOVEDIR", L"{D}\\Users", L"ScriptRemoveDir({D}\\Users)->Refused: holds the protected folder"},
    {L"REMOVEDIR", L"<TEMP>\\", L"ScriptRemoveDir({D}\\Users\\me\\AppData\\Local\\Temp\\)->Refused: protected folder"},
    {L"REMOVEFILE", L"<TEMP>\\*.*,<INCLUDE_SUBDIR>",
     L"RemoveFile({D}\\Users\\me\\AppData\\Local\\Temp\\*.*)->Refused: every file below"},
    {L"RENAMEDIR", L"<WINDOWS>\\<COMPANYNAME>,{D}\\moved",
     L"ScriptRenameFile({D}\\Windows\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"RENAMEDIR", L"<WINDOWS>,{D}\\moved", L"ScriptRenameFile({D}\\Windows)->Refused: protected folder"},
    {L"SETFILEATTRIBUTES", L"<COMPANYNAME>\\*.*,<FILE_ATTRIBUTE_HIDDEN>,<INCLUDE_SUBDIR>",
     L"ScriptSetFileAttributes(\\*.*)->Refused: <COMPANYNAME> stood for nothing"},
    {L"SETFILEATTRIBUTES", L"{D}\\*.*,<FILE_ATTRIBUTE_READONLY>,<INCLUDE_SUBDIR>",
     L"ScriptSetFileAttributes({D}\\*.*)->Refused: every file below {D}\\: drive or share root"},
    {L"SETFILEATTRIBUTES", L"<WINDOWS>\\*.*,<FILE_ATTRIBUTE_READONLY>",
     L"ScriptSetFileAttributes({D}\\Windows\\*.*)->Refused: every file of {D}\\Windows: protected folder"},
    // Destinations that stood for nothing: never a root or the current folder.
    {L"COPYDIR", L"{D}\\srcroot\\payload,<COMPANYNAME>", L"ScriptCopyDir()->Refused: <COMPANYNAME> stood for nothing"},
    {L"CREATEICON", L"<COMPANYNAME>\\,Readme,{D}\\src\\a.txt,,,,,,",
     L"ScriptCreateIcon(\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"COPYFILE", L"{D}\\src\\a.txt,<COMPANYNAME>", L"ScriptCopyFile()->Refused: <COMPANYNAME> stood for nothing"},
    {L"COPYFILE", L"{D}\\src\\a.txt,", L"ScriptCopyFile()->Refused: empty path"},
    {L"UNZIPFILE", L"{D}\\src\\a.txt,<COMPANYNAME>", L"ScriptUnZipFile()->Refused: <COMPANYNAME> stood for nothing"},
    {L"CREATEDIR", L"<COMPANYNAME>\\made", L"ScriptCreateDir(\\made)->Refused: <COMPANYNAME> stood for nothing"},
    {L"REMOVEICON", L"<COMPANYNAME>\\,Desk", L"ScriptRemoveIcon(\\)->Refused: <COMPANYNAME> stood for nothing"},
    {L"WRITEINIFILE", L"<COMPANYNAME>\\win.ini,Sec,Key,Value",
     L"WriteIniFile(\\win.ini)->Refused: <COMPANYNAME> stood for nothing"},
    {L"DOWNLOADFILE", L"file:///{D}\\src\\a.txt,<COMPANYNAME>",
     L"ScriptDownLoadFile()->Refused: <COMPANYNAME> stood for nothing"},
    // Patterns listed through a link to a folder are judged by where it
    // leads (e2e/test_guard_sandbox.py makes the links in {D}\links).
    {L"REMOVEFILE", L"{D}\\links\\docs_link\\*.*",
     L"RemoveFile({D}\\links\\docs_link\\*.*)->Refused: every file of {D}\\links\\docs_link: protected folder (through a link)"},
    {L"REMOVEFILE", L"{D}\\links\\desk_link\\*.*,<INCLUDE_SUBDIR>",
     L"RemoveFile({D}\\links\\desk_link\\*.*)->Refused: every file below {D}\\links\\desk_link: protected folder (through a link)"},
    {L"REMOVEFILE", L"{D}\\links\\root_link\\*.*",
     L"RemoveFile({D}\\links\\root_link\\*.*)->Refused: every file of {D}\\links\\root_link: leads to the root"},
    {L"SETFILEATTRIBUTES", L"{D}\\links\\docs_link\\*.*,<FILE_ATTRIBUTE_HIDDEN>",
     L"ScriptSetFileAttributes({D}\\links\\docs_link\\*.*)->Refused: every file of {D}\\links\\docs_link: protected folder (through a link)"},
    // A link to a file is neither deleted through nor re-attributed.
    {L"REMOVEFILE", L"{D}\\links\\doc_file.txt", L"DeleteFileNoLink({D}\\links\\doc_file.txt)->a link"},
    {L"SETFILEATTRIBUTES", L"{D}\\links\\doc_file.txt,<FILE_ATTRIBUTE_HIDDEN>",
     L"SetAttributesNoLink({D}\\links\\doc_file.txt)->a link"},
    // Every user's profile is protected like the current user's.
    {L"REMOVEDIR", L"{D}\\Users\\otheruser", L"ScriptRemoveDir({D}\\Users\\otheruser)->Refused: a user's profile"},
    {L"REMOVEDIR", L"{D}\\Users\\Default", L"ScriptRemoveDir({D}\\Users\\Default)->Refused: a user's profile"},
    {L"REMOVEDIR", L"{D}\\Users\\Public\\", L"ScriptRemoveDir({D}\\Users\\Public\\)->Refused: a user's profile"},
    {L"REMOVEDIR", L"{D}\\Users\\otheruser\\Documents",
     L"ScriptRemoveDir({D}\\Users\\otheruser\\Documents)->Refused: a folder of the profile OTHERUSER"},
    {L"REMOVEFILE", L"{D}\\Users\\Default\\*.*",
     L"RemoveFile({D}\\Users\\Default\\*.*)->Refused: every file of {D}\\Users\\Default: a user's profile"},
};

// What must not appear anywhere: the refused lines' work.
const wchar_t* const kAbsent[] = {
    L"\\payload", L"\\Readme.lnk", L"\\checkout\\a.txt", L"\\made", L"\\win.ini", L"\\moved",
    L"\\checkout\\p.txt",
};

class DestructiveLines : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        WCHAR szDrive[8] = L"";
        if (!GetEnvironmentVariableW(L"STOWAWAY_SANDBOX_DRIVE", szDrive, ARRAYSIZE(szDrive)) ||
            wcslen(szDrive) != 2 || szDrive[1] != L':')
            GTEST_SKIP() << "no sandbox drive (run by e2e/test_guard_sandbox.py)";
        m_drive = szDrive;
        memcpy(m_savedVars, TestRun().szFolders, sizeof(m_savedVars));
        GetCurrentDirectoryW(MAX_PATH, m_savedDir);
        m_bSandbox = true;
    }
    void TearDown() override
    {
        if (m_bSandbox) {
            SetCurrentDirectoryW(m_savedDir);
            memcpy(TestRun().szFolders, m_savedVars, sizeof(m_savedVars));
            ResetProtectedFolders();
        }
        ScriptTest::TearDown();
    }
    std::wstring Path(const std::wstring& rel) const { return m_drive + rel; }

    std::wstring m_drive;
    WCHAR m_savedVars[PV_FOLDER_COUNT][PATH_CCH];
    WCHAR m_savedDir[MAX_PATH];
    bool m_bSandbox = false;
};

void MakeFolders(const std::wstring& path)
{
    for (size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
        if (at == std::wstring::npos)
            break;
    }
}

TEST_F(DestructiveLines, AreRefusedAndLeaveEveryCanary)
{
    // The sandbox: stand-ins, canaries, the current folder a checkout.
    for (const auto& standIn : kStandIns) {
        MakeFolders(Path(standIn.folder));
        if (standIn.var >= 0)
            Copy(TestRun().szFolders[standIn.var], Path(standIn.folder).c_str());
        ProtectFolder(Path(standIn.folder).c_str());
    }
    // The folder of every profile: its other children are profiles too.
    ProtectProfiles(Path(L"\\Users").c_str());
    MakeFolders(Path(L"\\Users\\otheruser\\Documents"));
    MakeFolders(Path(L"\\Users\\Default"));
    MakeFolders(Path(L"\\Users\\Public"));
    MakeFolders(Path(L"\\Users\\me\\Desktop\\deep"));
    MakeFolders(Path(L"\\checkout\\.git"));
    MakeFolders(Path(L"\\data"));
    MakeFolders(Path(L"\\src"));
    MakeFolders(Path(L"\\srcroot\\payload"));
    std::string list;
    for (const wchar_t* canary : kCanaries) {
        WriteFile(Path(canary), "canary");
        list += Narrow(canary) + "\n";
    }
    // The Linux side checks them again.
    WriteFile(Path(L"\\canaries.txt"), list);
    ASSERT_TRUE(SetCurrentDirectoryW(Path(L"\\checkout").c_str()));

    for (const Line& line : kRefused) {
        std::wstring params = Fill(line.params, m_drive);
        std::string expected = Narrow(Fill(line.refused, m_drive));
        SCOPED_TRACE(Narrow(line.command) + "=" + Narrow(params));
        tracesink::Clear();
        StringCchCopyW(TestRun().szFunctionRetCode, ARRAYSIZE(TestRun().szFunctionRetCode),
                       L"junk");
        RunLine(line.command, params);
        EXPECT_EQ(LastResult(), "0");
        EXPECT_TRUE(tracesink::ContainsPrefix(expected)) << expected << "\n" << tracesink::Dump();
    }

    // Below the protected folders the commands still work.
    MakeFolders(Path(L"\\Users\\me\\AppData\\Roaming\\MyApp"));
    WriteFile(Path(L"\\Users\\me\\AppData\\Roaming\\MyApp\\settings.ini"), "x");
    WriteFile(Path(L"\\Users\\me\\Desktop\\MyApp.lnk"), "x");
    RunLine(L"REMOVEDIR", L"<APPDATA>\\MyApp");
    EXPECT_EQ(LastResult(), "1");
    RunLine(L"REMOVEFILE", L"<DESKTOP_USER>\\MyApp*.lnk");
    EXPECT_EQ(LastResult(), "1");
    EXPECT_FALSE(Exists(Path(L"\\Users\\me\\AppData\\Roaming\\MyApp")));
    EXPECT_FALSE(Exists(Path(L"\\Users\\me\\Desktop\\MyApp.lnk")));

    for (const wchar_t* canary : kCanaries) {
        EXPECT_EQ(ReadFile(Path(canary)), "canary") << Narrow(canary);
        DWORD dwAttributes = GetFileAttributesW(Path(canary).c_str());
        EXPECT_EQ(dwAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), 0u) << Narrow(canary);
    }
    for (const wchar_t* absent : kAbsent)
        EXPECT_FALSE(Exists(Path(absent))) << Narrow(absent);
}

}  // namespace
