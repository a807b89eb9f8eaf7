// The run's temporary folders: which scratch folder a run takes when the
// documented one is free, in use, planted or kept for a restart; what the
// end of the run removes; which GUIDs name folders.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "common/filecopy.h"
#include "common/filesys.h"
#include "common/privfolder.h"
#include "common/runfiles.h"
#include "launcher/tempfolders.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "support/scratchfiles.h"
#include "support/tracesink.h"
#include "support/testrun.h"

namespace {

using support::Exists;
using support::Narrow;

void Write(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path);
    CloseHandle(h);
}

const wchar_t kRunOnceValue[] = L"Stowaway test restart";

// A scratch folder stands in for <TEMP>.
class TempFoldersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        m_temp = std::wstring(szTemp) + L"stowaway-tempfolders-" + std::to_wstring(GetCurrentProcessId());
        support::RemoveTree(m_temp);
        ASSERT_TRUE(CreateDirectoryW(m_temp.c_str(), nullptr));
        lstrcpynW(m_savedTemp, TestRun().szFolders[PV_TEMP], PATH_CCH);
        lstrcpynW(TestRun().szFolders[PV_TEMP], m_temp.c_str(), PATH_CCH);
        m_documented = m_temp + L"\\" + TRV_DEFAULT_GUID;
        m_private = m_documented + L"." + std::to_wstring(GetCurrentProcessId());
        ForgetRunFiles();
        tracesink::Clear();
    }
    void TearDown() override
    {
        lstrcpynW(TestRun().szFolders[PV_TEMP], m_savedTemp, PATH_CCH);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, RUNONCE_KEY, kRunOnceValue);
        ForgetRunFiles();
        support::RemoveTree(m_temp);
    }
    // Takes the scratch folder, checks where it landed and that it is
    // locked, and ends it: nothing of it stays.
    void TakeAndRelease(const std::wstring& expected)
    {
        HANDLE hLock = INVALID_HANDLE_VALUE;
        ASSERT_EQ(TakeScratchFolder(TestRun().szFolders[PV_TEMP], TestRun().szTempTRV, &hLock), 0u)
            << tracesink::Dump();
        EXPECT_EQ(Narrow(TestRun().szTempTRV), Narrow(expected)) << tracesink::Dump();
        EXPECT_TRUE(IsFolderLocked(TestRun().szTempTRV));
        EXPECT_TRUE(IsRunFolder(TestRun().szTempTRV));
        Write(std::wstring(TestRun().szTempTRV) + L"\\setup.cfg");
        ReleaseScratchFolder(TestRun().szTempTRV, hLock, nullptr, nullptr);
        EXPECT_FALSE(Exists(expected));
    }
    std::wstring m_temp;
    std::wstring m_documented;
    std::wstring m_private;
    WCHAR m_savedTemp[PATH_CCH];
};

TEST_F(TempFoldersTest, TheFirstRunKeepsTheDocumentedName)
{
    TakeAndRelease(m_documented);
}

TEST_F(TempFoldersTest, ALeftoverIsClearedAndTaken)
{
    ASSERT_TRUE(CreateDirectoryW(m_documented.c_str(), nullptr));
    Write(m_documented + L"\\QELTRON.dll");
    TakeAndRelease(m_documented);
    EXPECT_TRUE(tracesink::Contains("WinMain()->Remove folder '" + Narrow(m_documented) + "' (1)"));
}

TEST_F(TempFoldersTest, AFolderInUseOrPlantedIsLeftAlone)
{
    // Another live run holds the documented folder.
    ASSERT_TRUE(CreateDirectoryW(m_documented.c_str(), nullptr));
    Write(m_documented + L"\\other-run.txt");
    HANDLE hOther = LockFolder(m_documented.c_str());
    ASSERT_NE(hOther, INVALID_HANDLE_VALUE);
    TakeAndRelease(m_private);
    EXPECT_TRUE(tracesink::Contains("WinMain()->Folder '" + Narrow(m_documented) +
                                    "' not used: in use by another run"));
    EXPECT_TRUE(Exists(m_documented + L"\\other-run.txt"));
    CloseHandle(hOther);
    support::RemoveTree(m_documented);

    // A file of that name, then a folder with a file held open in it.
    Write(m_documented);
    TakeAndRelease(m_private);
    EXPECT_TRUE(tracesink::Contains("WinMain()->Folder '" + Narrow(m_documented) + "' not used: a file"));
    EXPECT_TRUE(Exists(m_documented));
    DeleteFileW(m_documented.c_str());

    ASSERT_TRUE(CreateDirectoryW(m_documented.c_str(), nullptr));
    Write(m_documented + L"\\Corvel.dll");
    HANDLE hHeld = CreateFileW((m_documented + L"\\Corvel.dll").c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    TakeAndRelease(m_private);
    EXPECT_TRUE(tracesink::Contains("WinMain()->Folder '" + Narrow(m_documented) +
                                    "' not used: it can not be cleared"));
    // The private name taken as well: the next one.
    Write(m_private);
    TakeAndRelease(m_private + L".1");
    CloseHandle(hHeld);
}

TEST_F(TempFoldersTest, NoFolderToBeHadIsAnErrorNotSuccess)
{
    // Every name taken by files someone put there.
    Write(m_documented);
    Write(m_private);
    for (int n = 1; n < 16; ++n)
        Write(m_private + L"." + std::to_wstring(n));
    HANDLE hLock = INVALID_HANDLE_VALUE;
    EXPECT_EQ(TakeScratchFolder(TestRun().szFolders[PV_TEMP], TestRun().szTempTRV, &hLock),
              static_cast<DWORD>(ERROR_CANNOT_MAKE));
    EXPECT_EQ(hLock, INVALID_HANDLE_VALUE);
}

TEST_F(TempFoldersTest, AFolderKeptForARestartStaysUntilItsCommandRan)
{
    // A run in restart mode keeps the extraction folder for its command.
    HANDLE hLock = INVALID_HANDLE_VALUE;
    ASSERT_EQ(TakeScratchFolder(TestRun().szFolders[PV_TEMP], TestRun().szTempTRV, &hLock), 0u);
    std::wstring keep = std::wstring(TestRun().szTempTRV) + L"\\" + TRV_EXTRACT_FOLDER;
    ASSERT_EQ(CreateAllDirectory(keep.c_str()), 0u);
    Write(keep + L"\\setup.exe");
    Write(std::wstring(TestRun().szTempTRV) + L"\\EnglishUS.lng");
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, RUNONCE_KEY, kRunOnceValue, REG_SZ, L"x", 4),
              ERROR_SUCCESS);
    ReleaseScratchFolder(TestRun().szTempTRV, hLock, TRV_EXTRACT_FOLDER, kRunOnceValue);
    EXPECT_TRUE(Exists(keep + L"\\setup.exe"));
    EXPECT_FALSE(Exists(m_documented + L"\\EnglishUS.lng"));
    EXPECT_FALSE(IsFolderLocked(m_documented.c_str()));

    // While the command waits, later runs take folders of their own.
    TakeAndRelease(m_private);
    EXPECT_TRUE(Exists(keep + L"\\setup.exe"));
    // Once it ran, the next run clears it.
    RegDeleteKeyValueW(HKEY_CURRENT_USER, RUNONCE_KEY, kRunOnceValue);
    TakeAndRelease(m_documented);
}

TEST_F(TempFoldersTest, TheTargetFolderLosesOnlyWhatTheRunMade)
{
    std::wstring source = m_temp + L"\\source.txt";
    Write(source);
    // Made by the run: it goes whole. There before the run: only the run's
    // files go.
    std::wstring made = m_temp + L"\\made";
    std::wstring there = m_temp + L"\\there";
    ASSERT_EQ(CreateAllDirectory(made.c_str()), 0u);
    ASSERT_TRUE(CreateDirectoryW(there.c_str(), nullptr));
    Write(there + L"\\users-own.txt");
    for (const std::wstring& folder : {made, there}) {
        ASSERT_EQ(XCopyFile(source.c_str(), (folder + L"\\setup.exe").c_str(), 0), 0u);
        Write(folder + L"\\written-by-the-setup.log");
    }
    RemoveTargetFolder(made.c_str(), FALSE);
    RemoveTargetFolder(there.c_str(), FALSE);
    EXPECT_FALSE(Exists(made));
    EXPECT_TRUE(Exists(there + L"\\users-own.txt"));
    EXPECT_TRUE(Exists(there + L"\\written-by-the-setup.log"));
    EXPECT_FALSE(Exists(there + L"\\setup.exe"));

    // A folder the launcher chose goes whole; TEMP itself never.
    RemoveTargetFolder(there.c_str(), TRUE);
    EXPECT_FALSE(Exists(there));
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    RemoveTargetFolder(szTemp, TRUE);
    EXPECT_TRUE(Exists(m_temp + L"\\source.txt"));
    EXPECT_TRUE(tracesink::ContainsPrefix("RemoveDirectoryTree(" + Narrow(szTemp) + ")->Refused: "));
}

TEST_F(TempFoldersTest, AResumeFolderIsMadePrivateBeforeItIsTaken)
{
    const std::wstring earlier = m_temp + L"\\earlier";
    ASSERT_TRUE(CreateDirectoryW(earlier.c_str(), nullptr));
    Write(earlier + L"\\kept.bin");
    Write(m_temp + L"\\plain");
    const struct {
        const char* what;
        std::wstring folder;
        BOOL taken;
        std::string trace;
    } cases[] = {
        {"missing: made private", m_temp + L"\\fresh", TRUE,
         "CreatePrivateFolder(" + Narrow(m_temp) + "\\fresh)->1"},
        {"left by an earlier run: its list replaced", earlier, TRUE,
         "MakeFolderPrivate(" + Narrow(earlier) + ")->0"},
        {"a file in its place", m_temp + L"\\plain", FALSE,
         "WinMain()->Folder '" + Narrow(m_temp) + "\\plain' not used: a file"},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(TakeResumeFolder(c.folder.c_str()), c.taken) << c.what;
        EXPECT_TRUE(tracesink::Contains(c.trace)) << c.what << "\n" << tracesink::Dump();
    }
    EXPECT_TRUE(Exists(earlier + L"\\kept.bin"));
}

TEST(GuidFormTest, OnlyBracesHexAndDashes)
{
    const struct {
        const wchar_t* guid;
        BOOL valid;
    } cases[] = {
        {L"{A6E044B8-6C25-48fc-806B-002A9582C81F}", TRUE},
        {L"{5c1e7f4a-3b2d-4e8f-9a61-7d0c2b9e4f13}", TRUE},
        {L"..\\..\\victim", FALSE},
        {L"{A6E044B8-6C25-48fc-806B-002A9582C81F}\\..", FALSE},
        {L"A6E044B8-6C25-48fc-806B-002A9582C81F", FALSE},
        {L"{A6E044B8-6C25-48fc-806B-002A9582C81G}", FALSE},
        {L"{A6E044B8+6C25-48fc-806B-002A9582C81F}", FALSE},
        {L"{..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\....}", FALSE},
        {L"", FALSE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsGuidForm(c.guid), c.valid) << Narrow(c.guid);
}

}  // namespace
