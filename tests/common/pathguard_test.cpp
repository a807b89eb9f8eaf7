// The path guard: roots in every spelling, protected folders and the
// folders that hold them, patterns that empty a folder. Nothing here
// deletes: the guard only answers.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "common/pathguard.h"
#include "support/scratchfiles.h"

namespace {

using support::Narrow;

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    for (size_t at; (at = text.find(from)) != std::wstring::npos;)
        text.replace(at, from.size(), to);
    return text;
}

// Stand-ins for the protected folders below a scratch root {r}: {r}\Windows,
// the profile {r}\Users\me with its roaming data and desktop.
class PathGuardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        m_root = std::wstring(szTemp) + L"stowaway-guard-" + std::to_wstring(GetCurrentProcessId());
        for (const wchar_t* sub : {L"", L"\\Windows", L"\\Users", L"\\Users\\me", L"\\Users\\me\\AppData",
                                   L"\\Users\\me\\AppData\\Roaming", L"\\Users\\me\\Desktop"})
            CreateDirectoryW((m_root + sub).c_str(), nullptr);
        for (const wchar_t* sub : {L"\\Windows", L"\\Users\\me", L"\\Users\\me\\AppData\\Roaming",
                                   L"\\Users\\me\\Desktop"})
            ProtectFolder((m_root + sub).c_str());
    }
    void TearDown() override
    {
        ResetProtectedFolders();
        for (const wchar_t* sub : {L"\\Users\\me\\Desktop", L"\\Users\\me\\AppData\\Roaming",
                                   L"\\Users\\me\\AppData", L"\\Users\\me", L"\\Users", L"\\Windows", L""})
            RemoveDirectoryW((m_root + sub).c_str());
    }
    std::wstring m_root;
};

TEST_F(PathGuardTest, RefusesRootsProtectedFoldersAndTheirHolders)
{
    const struct {
        const wchar_t* path;  // {r}: the scratch root
        GUARDOP op;
        BOOL bRecursive;
        const char* reason;  // the start of the reason; null: allowed
    } cases[] = {
        // Roots, in every spelling.
        {L"E:\\", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"E:", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"E:/", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"E:\\.", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"E:\\dir\\..\\", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"E:\\dir/sub\\..\\..", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\\\?\\E:\\", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\??\\E:\\", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\.", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\\\server\\share", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\\\server\\share\\", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\\\server\\share\\dir\\..", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\\\?\\UNC\\server\\share\\", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"//server/share/", GUARD_REMOVE_FOLDER, FALSE, "drive or share root"},
        {L"\\\\.\\E:", GUARD_REMOVE_FOLDER, FALSE, "not a usable path"},
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1", GUARD_REMOVE_FOLDER, FALSE,
         "not a usable path"},
        {L"", GUARD_REMOVE_FOLDER, FALSE, "empty path"},
        // Protected folders, however written, and what holds them.
        {L"{r}\\Windows", GUARD_REMOVE_FOLDER, FALSE, "protected folder"},
        {L"{r}\\WINDOWS\\", GUARD_REMOVE_FOLDER, FALSE, "protected folder"},
        {L"{r}/Windows/", GUARD_REMOVE_FOLDER, FALSE, "protected folder"},
        {L"{r}\\Windows\\System32\\..", GUARD_REMOVE_FOLDER, FALSE, "protected folder"},
        {L"{r}\\Users\\me\\Desktop\\..", GUARD_REMOVE_FOLDER, FALSE, "protected folder"},
        {L"{r}\\Users\\me\\AppData", GUARD_REMOVE_FOLDER, FALSE, "holds the protected folder"},
        {L"{r}\\Users", GUARD_REMOVE_FOLDER, FALSE, "holds the protected folder"},
        {L"{r}", GUARD_REMOVE_FOLDER, FALSE, "holds the protected folder"},
        // Below them is allowed.
        {L"{r}\\Windows\\MyApp", GUARD_REMOVE_FOLDER, FALSE, nullptr},
        {L"{r}\\Users\\me\\AppData\\Roaming\\MyApp\\", GUARD_REMOVE_FOLDER, FALSE, nullptr},
        // Patterns: every file of a protected folder, or a walk below it.
        {L"{r}\\Windows\\*.*", GUARD_REMOVE_FILES, FALSE, "every file of"},
        {L"{r}\\Windows\\*", GUARD_SET_ATTRIBUTES, FALSE, "every file of"},
        {L"{r}\\Windows\\*.log", GUARD_REMOVE_FILES, TRUE, "every file below"},
        {L"{r}\\Windows\\*.log", GUARD_REMOVE_FILES, FALSE, nullptr},
        {L"{r}\\Users\\me\\Desktop\\MyApp*.lnk", GUARD_REMOVE_FILES, FALSE, nullptr},
        {L"{r}\\Users\\*.*", GUARD_REMOVE_FILES, FALSE, "every file of"},
        {L"{r}\\Windows\\MyApp\\*.*", GUARD_REMOVE_FILES, TRUE, nullptr},
        {L"E:\\*.*", GUARD_REMOVE_FILES, FALSE, "every file of"},
        {L"\\*.*", GUARD_SET_ATTRIBUTES, TRUE, "every file below"},
        {L"E:\\readme.txt", GUARD_REMOVE_FILES, FALSE, nullptr},
        {L"E:\\", GUARD_REMOVE_FILES, FALSE, "no file name"},
        // The current folder never becomes a root.
        {L"E:\\", GUARD_CHANGE_FOLDER, FALSE, "drive or share root"},
        {L"\\", GUARD_CHANGE_FOLDER, FALSE, "drive or share root"},
        {L"{r}\\Windows", GUARD_CHANGE_FOLDER, FALSE, nullptr},
        // A destination only has to be one.
        {L"", GUARD_WRITE, FALSE, "empty path"},
        {L"\\\\.\\PhysicalDrive0", GUARD_WRITE, FALSE, "not a usable path"},
        {L"{r}\\Windows", GUARD_WRITE, FALSE, nullptr},
    };
    for (const auto& c : cases) {
        std::wstring path = Replace(c.path, L"{r}", m_root);
        WCHAR szFull[260];
        WCHAR szReason[GUARD_REASON_CCH];
        BOOL bAllowed = GuardPath(path.c_str(), c.op, c.bRecursive, szFull, szReason, GUARD_REASON_CCH);
        SCOPED_TRACE(Narrow(path) + " op " + std::to_string(c.op) + " -> " + Narrow(szReason));
        EXPECT_EQ(bAllowed, c.reason == nullptr);
        if (c.reason) {
            EXPECT_EQ(Narrow(szReason).rfind(c.reason, 0), 0u);
        }
    }
}

TEST_F(PathGuardTest, SystemFoldersAreProtectedWithoutBeingAdded)
{
    ResetProtectedFolders();
    WCHAR szWindows[MAX_PATH], szTemp[MAX_PATH];
    GetWindowsDirectoryW(szWindows, MAX_PATH);
    GetTempPathW(MAX_PATH, szTemp);
    for (const std::wstring& path : {std::wstring(szWindows), std::wstring(szTemp)}) {
        WCHAR szFull[260], szReason[GUARD_REASON_CCH];
        EXPECT_FALSE(GuardPath(path.c_str(), GUARD_REMOVE_FOLDER, FALSE, szFull, szReason,
                               GUARD_REASON_CCH))
            << Narrow(path);
        EXPECT_EQ(Narrow(szReason), "protected folder") << Narrow(path);
    }
}

// The run adds its folders first and has the list completed beside it
// (PrepareProtectedFolders); a check made before that is done waits for it,
// and without the thread the first check completes the list itself.
TEST_F(PathGuardTest, FoldersAddedBeforeTheListIsCompleteAreProtectedFromTheFirstCheck)
{
    for (bool bPrepared : {true, false}) {
        SCOPED_TRACE(bPrepared ? "completed on its own thread" : "completed by the first check");
        ResetProtectedFolders();
        ProtectFolder((m_root + L"\\Windows").c_str());
        if (bPrepared)
            PrepareProtectedFolders();
        const struct {
            std::wstring path;
            const char* reason;  // null: allowed
        } cases[] = {
            {m_root + L"\\Windows", "protected folder"},
            {m_root, "holds the protected folder"},
            {m_root + L"\\Users\\me\\Desktop", nullptr},
        };
        for (const auto& c : cases) {
            WCHAR szFull[260], szReason[GUARD_REASON_CCH];
            BOOL bAllowed = GuardPath(c.path.c_str(), GUARD_REMOVE_FOLDER, FALSE, szFull, szReason,
                                      GUARD_REASON_CCH);
            EXPECT_EQ(bAllowed, c.reason == nullptr) << Narrow(c.path);
            if (c.reason) {
                EXPECT_EQ(Narrow(szReason).rfind(c.reason, 0), 0u) << Narrow(szReason);
            }
        }
        // Once the list is complete, an added folder counts at once.
        ProtectFolder((m_root + L"\\Users\\me\\Desktop").c_str());
        WCHAR szFull[260], szReason[GUARD_REASON_CCH];
        EXPECT_FALSE(GuardPath((m_root + L"\\Users\\me\\Desktop").c_str(), GUARD_REMOVE_FOLDER, FALSE,
                               szFull, szReason, GUARD_REASON_CCH));
    }
}

// The folders the environment names are the system's too: a TEMP or a
// profile moved elsewhere is protected where it now is.
TEST_F(PathGuardTest, FoldersOfTheEnvironmentAreProtected)
{
    std::wstring moved = m_root + L"\\Windows";
    for (const wchar_t* name : {L"TMP", L"TEMP", L"PUBLIC", L"USERPROFILE", L"APPDATA",
                                L"LOCALAPPDATA", L"ALLUSERSPROFILE", L"ProgramData"}) {
        WCHAR szSaved[MAX_PATH] = L"";
        DWORD cchSaved = GetEnvironmentVariableW(name, szSaved, MAX_PATH);
        ResetProtectedFolders();
        SetEnvironmentVariableW(name, moved.c_str());
        WCHAR szFull[260], szReason[GUARD_REASON_CCH];
        BOOL bAllowed = GuardPath(moved.c_str(), GUARD_REMOVE_FOLDER, FALSE, szFull, szReason,
                                  GUARD_REASON_CCH);
        SetEnvironmentVariableW(name, cchSaved && cchSaved < MAX_PATH ? szSaved : nullptr);
        EXPECT_FALSE(bAllowed) << Narrow(name);
        EXPECT_EQ(Narrow(szReason), "protected folder") << Narrow(name);
    }
    ResetProtectedFolders();
}

TEST(NormalisePathTest, GivesOneSpellingPerPlace)
{
    const struct {
        const wchar_t* in;
        const wchar_t* out;  // null: refused
    } cases[] = {
        {L"E:/a/b/", L"E:\\a\\b"},
        {L"E:\\a\\.\\b\\..\\c", L"E:\\a\\c"},
        {L"\\\\?\\E:\\a\\", L"E:\\a"},
        {L"\\\\?\\UNC\\srv\\sh\\x", L"\\\\srv\\sh\\x"},
        {L"E:\\a. ", L"E:\\a"},
        {L"E:\\", L"E:\\"},
        {L"\\\\.\\E:", nullptr},
        {L"", nullptr},
    };
    for (const auto& c : cases) {
        WCHAR szOut[260];
        BOOL bOk = NormalisePath(c.in, szOut) == ERROR_SUCCESS;
        EXPECT_EQ(bOk != FALSE, c.out != nullptr) << Narrow(c.in);
        if (c.out && bOk) {
            EXPECT_EQ(Narrow(szOut), Narrow(c.out)) << Narrow(c.in);
        }
    }
}

}  // namespace
