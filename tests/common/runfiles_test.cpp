// What a run made, and the folders of its own: the record of written files
// and created folders, removal of only those, removal of everything else
// from a folder of the run's own, libraries that are not the run's, private
// folders and their lock.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "common/filecopy.h"
#include "common/filesys.h"
#include "common/foreignfiles.h"
#include "common/privfolder.h"
#include "common/runfiles.h"
#include "support/scratchfiles.h"
#include "support/tracesink.h"

namespace {

using support::Exists;
using support::Narrow;

void Write(const std::wstring& path, const std::string& data = "x")
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path);
    DWORD cb = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &cb, nullptr);
    CloseHandle(h);
}

class RunFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        m_root = std::wstring(szTemp) + L"stowaway-runfiles-" + std::to_wstring(GetCurrentProcessId());
        support::RemoveTree(m_root);
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
        ForgetRunFiles();
        tracesink::Clear();
    }
    void TearDown() override
    {
        ForgetRunFiles();
        support::RemoveTree(m_root);
    }
    std::wstring P(const std::wstring& rel) const { return m_root + L"\\" + rel; }
    std::wstring m_root;
};

TEST_F(RunFilesTest, AFolderThatWasThereLosesOnlyWhatTheRunMade)
{
    // The user's files were there first; the run then copied two files in
    // and made a folder with one more.
    CreateDirectoryW(P(L"target").c_str(), nullptr);
    CreateDirectoryW(P(L"target\\mine").c_str(), nullptr);
    Write(P(L"target\\user.doc"));
    Write(P(L"target\\mine\\notes.txt"));
    Write(P(L"source.txt"));
    ASSERT_EQ(XCopyFile(P(L"source.txt").c_str(), P(L"target\\app.exe").c_str(), 0), 0u);
    ASSERT_EQ(XCopyFile(P(L"source.txt").c_str(), P(L"target\\user.doc.new").c_str(), 0), 0u);
    ASSERT_EQ(CreateAllDirectory(P(L"target\\run\\deep").c_str()), 0u);
    ASSERT_EQ(XCopyFile(P(L"source.txt").c_str(), P(L"target\\run\\deep\\x.dll").c_str(), 0), 0u);
    EXPECT_TRUE(IsRunFile(P(L"TARGET\\APP.EXE").c_str()));
    EXPECT_TRUE(IsRunFolder(P(L"target\\run\\").c_str()));
    EXPECT_FALSE(IsRunFolder(P(L"target").c_str()));

    RemoveRunFiles(P(L"target").c_str());
    EXPECT_TRUE(Exists(P(L"target\\user.doc")));
    EXPECT_TRUE(Exists(P(L"target\\mine\\notes.txt")));
    EXPECT_FALSE(Exists(P(L"target\\app.exe")));
    EXPECT_FALSE(Exists(P(L"target\\user.doc.new")));
    EXPECT_FALSE(Exists(P(L"target\\run")));
    EXPECT_TRUE(Exists(P(L"source.txt")));
}

TEST_F(RunFilesTest, AFolderOfTheRunKeepsNothingElse)
{
    ASSERT_EQ(CreateAllDirectory(P(L"extract\\sub").c_str()), 0u);
    Write(P(L"source.txt"));
    ASSERT_EQ(XCopyFile(P(L"source.txt").c_str(), P(L"extract\\setup.exe").c_str(), 0), 0u);
    ASSERT_EQ(XCopyFile(P(L"source.txt").c_str(), P(L"extract\\sub\\data.cab").c_str(), 0), 0u);
    // Put there by someone else: beside the setup program and in a folder
    // of their own.
    Write(P(L"extract\\shcore.dll"));
    Write(P(L"extract\\sub\\version.dll"));
    CreateDirectoryW(P(L"extract\\planted").c_str(), nullptr);
    Write(P(L"extract\\planted\\x.dll"));

    EXPECT_EQ(RemoveForeignFiles(P(L"extract").c_str()), 0u);
    EXPECT_TRUE(Exists(P(L"extract\\setup.exe")));
    EXPECT_TRUE(Exists(P(L"extract\\sub\\data.cab")));
    EXPECT_FALSE(Exists(P(L"extract\\shcore.dll")));
    EXPECT_FALSE(Exists(P(L"extract\\sub\\version.dll")));
    EXPECT_FALSE(Exists(P(L"extract\\planted")));
    EXPECT_TRUE(tracesink::Contains("RemoveForeignFiles()->" + Narrow(P(L"extract\\shcore.dll")) +
                                    " removed (1)"));

    // One that can not be removed is reported: nothing may run from there.
    Write(P(L"extract\\held.dll"));
    HANDLE hHeld = CreateFileW(P(L"extract\\held.dll").c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RemoveForeignFiles(P(L"extract").c_str()), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(hHeld);
}

TEST_F(RunFilesTest, OnlyALibraryTheRunWroteIsItsOwn)
{
    Write(P(L"source.dll"));
    ASSERT_EQ(XCopyFile(P(L"source.dll").c_str(), P(L"own.dll").c_str(), 0), 0u);
    Write(P(L"planted.dll"));
    Write(P(L"held.dll"));
    HANDLE hHeld = CreateFileW(P(L"held.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    const struct {
        const wchar_t* name;
        BOOL bOwn;
        DWORD dwError;
        bool bStays;
    } cases[] = {
        {L"own.dll", TRUE, 0, true},
        {L"planted.dll", FALSE, 0, false},           // removed: the run goes on without it
        {L"held.dll", FALSE, ERROR_SHARING_VIOLATION, true},  // the run must stop
        {L"missing.dll", FALSE, 0, false},
    };
    for (const auto& c : cases) {
        DWORD dwError = 12345;
        EXPECT_EQ(IsOwnLibrary(P(c.name).c_str(), &dwError), c.bOwn) << Narrow(c.name);
        EXPECT_EQ(dwError, c.dwError) << Narrow(c.name);
        EXPECT_EQ(Exists(P(c.name)), c.bStays) << Narrow(c.name);
    }
    CloseHandle(hHeld);
}

TEST_F(RunFilesTest, ASnapshotTellsWhatAnOutsideWriterAdded)
{
    CreateDirectoryW(P(L"out").c_str(), nullptr);
    Write(P(L"out\\before.txt"), "old");
    Write(P(L"out\\changed.txt"), "old");
    CFolderSnapshot snapshot(P(L"out").c_str());
    Write(P(L"out\\changed.txt"), "longer now");
    CreateDirectoryW(P(L"out\\new").c_str(), nullptr);
    Write(P(L"out\\new\\added.txt"));
    snapshot.NoteChanges();
    EXPECT_FALSE(IsRunFile(P(L"out\\before.txt").c_str()));
    EXPECT_TRUE(IsRunFile(P(L"out\\changed.txt").c_str()));
    EXPECT_TRUE(IsRunFile(P(L"out\\new\\added.txt").c_str()));
    EXPECT_TRUE(IsRunFolder(P(L"out\\new").c_str()));
}

// The SIDs an access list grants something to, with what.
std::map<std::string, ACCESS_ALLOWED_ACE> Grants(PACL pDacl)
{
    std::map<std::string, ACCESS_ALLOWED_ACE> out;
    for (DWORD i = 0; pDacl && i < pDacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* pAce = nullptr;
        if (!GetAce(pDacl, i, reinterpret_cast<void**>(&pAce)))
            continue;
        LPSTR szSid = nullptr;
        if (pAce->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            ConvertSidToStringSidA(&pAce->SidStart, &szSid)) {
            out[szSid] = *pAce;
            LocalFree(szSid);
        }
    }
    return out;
}

std::set<std::string> Grantees(PACL pDacl)
{
    std::set<std::string> out;
    for (const auto& grant : Grants(pDacl))
        out.insert(grant.first);
    return out;
}

std::string UserSid()
{
    HANDLE hToken = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken);
    BYTE buffer[256];
    DWORD cb = 0;
    GetTokenInformation(hToken, TokenUser, buffer, sizeof(buffer), &cb);
    CloseHandle(hToken);
    LPSTR szSid = nullptr;
    ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &szSid);
    std::string sid = szSid ? szSid : "";
    LocalFree(szSid);
    return sid;
}

bool IsElevated()
{
    HANDLE hToken = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken);
    TOKEN_ELEVATION elevation = {};
    DWORD cb = 0;
    GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &cb);
    CloseHandle(hToken);
    return elevation.TokenIsElevated != 0;
}

TEST_F(RunFilesTest, PrivateFoldersAreTheUsersSystemsAndAdministratorsOnly)
{
    // The list: the user, SYSTEM and Administrators, inherited below; the
    // user only reads what an elevated run puts there.
    PACL pAcl = NewPrivateAcl();
    ASSERT_NE(pAcl, nullptr);
    std::map<std::string, ACCESS_ALLOWED_ACE> grants = Grants(pAcl);
    EXPECT_EQ(Grantees(pAcl), (std::set<std::string>{UserSid(), "S-1-5-18", "S-1-5-32-544"}));
    for (const auto& grant : grants) {
        EXPECT_EQ(grant.second.Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
            << grant.first;
        bool bUserReadsOnly = grant.first == UserSid() && IsElevated();
        EXPECT_EQ(grant.second.Mask, bUserReadsOnly ? static_cast<DWORD>(GENERIC_READ | GENERIC_EXECUTE)
                                                    : static_cast<DWORD>(GENERIC_ALL))
            << grant.first;
    }
    LocalFree(pAcl);

    // The folder made with it grants nothing to anyone else.
    ASSERT_EQ(CreatePrivateFolder(P(L"private").c_str()), 0u);
    EXPECT_TRUE(IsRunFolder(P(L"private").c_str()));
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pSD = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(P(L"private").c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &pDacl, nullptr, &pSD),
              static_cast<DWORD>(ERROR_SUCCESS));
    for (const std::string& sid : Grantees(pDacl))
        EXPECT_TRUE(sid == UserSid() || sid == "S-1-5-18" || sid == "S-1-5-32-544") << sid;
    LocalFree(pSD);
    // An existing one is never taken as created.
    EXPECT_EQ(CreatePrivateFolder(P(L"private").c_str()), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    // What stands where a folder of the run's own should be.
    Write(P(L"afile"));
    const struct {
        const wchar_t* name;
        const char* reason;
    } cases[] = {
        {L"private", nullptr},
        {L"afile", "a file"},
        {L"missing", "missing"},
    };
    for (const auto& c : cases) {
        LPCWSTR szWhy = ForeignFolderReason(P(c.name).c_str());
        EXPECT_EQ(szWhy ? Narrow(szWhy) : std::string("(ours)"), c.reason ? c.reason : "(ours)");
    }
}

TEST_F(RunFilesTest, ALockTellsALiveRunFromALeftover)
{
    ASSERT_TRUE(CreateDirectoryW(P(L"run").c_str(), nullptr));
    EXPECT_FALSE(IsFolderLocked(P(L"run").c_str()));
    HANDLE hLock = LockFolder(P(L"run").c_str());
    ASSERT_NE(hLock, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IsFolderLocked(P(L"run").c_str()));
    // A second lock of the same folder is not had.
    EXPECT_EQ(LockFolder(P(L"run").c_str()), INVALID_HANDLE_VALUE);
    CloseHandle(hLock);
    // The lock file goes with its handle: the folder is a leftover now.
    EXPECT_FALSE(IsFolderLocked(P(L"run").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(P(L"run").c_str()));
}

}  // namespace
