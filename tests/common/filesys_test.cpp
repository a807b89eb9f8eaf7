#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>
#include <string>
#include <vector>
#include "common/filesys.h"
#include "common/filecopy.h"
#include "state/state.h"
#include "support/scratchfiles.h"
#include "support/tracesink.h"

namespace {

using support::Narrow;

// Restart operations registered by the system's delayed move.
const wchar_t* kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* kPendingValue = L"PendingFileRenameOperations";

std::vector<std::wstring> ReadPendingRenames()
{
    std::vector<std::wstring> entries;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return entries;
    DWORD cb = 0;
    if (RegQueryValueExW(hKey, kPendingValue, nullptr, nullptr, nullptr, &cb) == ERROR_SUCCESS && cb) {
        std::vector<WCHAR> data(cb / sizeof(WCHAR) + 2, L'\0');
        if (RegQueryValueExW(hKey, kPendingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                             &cb) == ERROR_SUCCESS) {
            size_t count = cb / sizeof(WCHAR);
            size_t start = 0;
            for (size_t i = 0; i < count; ++i) {
                if (data[i] == L'\0') {
                    entries.push_back(std::wstring(data.data() + start, i - start));
                    start = i + 1;
                }
            }
        }
    }
    RegCloseKey(hKey);
    // The list ends with an empty string.
    while (!entries.empty() && entries.back().empty() && entries.size() % 2)
        entries.pop_back();
    return entries;
}

// Source/target pairs; the removal of the pairs that name the scratch folder.
void DropPendingRenames(const std::wstring& folder)
{
    std::vector<std::wstring> entries = ReadPendingRenames();
    std::vector<WCHAR> kept;
    bool bChanged = false;
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (entries[i].find(folder) != std::wstring::npos) {
            bChanged = true;
            continue;
        }
        for (size_t j = i; j < i + 2; ++j) {
            kept.insert(kept.end(), entries[j].begin(), entries[j].end());
            kept.push_back(L'\0');
        }
    }
    if (!bChanged)
        return;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return;
    if (kept.empty()) {
        RegDeleteValueW(hKey, kPendingValue);
    } else {
        kept.push_back(L'\0');
        RegSetValueExW(hKey, kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(WCHAR)));
    }
    RegCloseKey(hKey);
}

// The pending operation registered for a path: {found, target}.
std::pair<bool, std::wstring> PendingRenameOf(const std::wstring& path)
{
    std::vector<std::wstring> entries = ReadPendingRenames();
    for (size_t i = 0; i + 1 < entries.size(); i += 2)
        if (entries[i] == L"\\??\\" + path)
            return {true, entries[i + 1]};
    return {false, L""};
}

class FileSysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        WCHAR szName[64];
        wsprintfW(szName, L"stowaway-fs-%lu-%lu", GetCurrentProcessId(), GetTickCount());
        m_root = std::wstring(szTemp) + szName;
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
        tracesink::Clear();
    }
    void TearDown() override
    {
        ReleaseLocks();
        g_bCancel = 0;
        DropPendingRenames(m_root);
        support::RemoveTree(m_root);
    }

    std::wstring Path(const std::wstring& rel) const { return rel.empty() ? m_root : m_root + L"\\" + rel; }
    std::string NPath(const std::wstring& rel) const { return Narrow(Path(rel)); }

    void MakeDir(const std::wstring& rel, DWORD dwAttr = 0)
    {
        ASSERT_TRUE(CreateDirectoryW(Path(rel).c_str(), nullptr)) << Narrow(rel);
        if (dwAttr)
            SetFileAttributesW(Path(rel).c_str(), dwAttr);
    }
    void MakeFile(const std::wstring& rel, const std::string& content = "data", DWORD dwAttr = 0)
    {
        HANDLE h = CreateFileW(Path(rel).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(rel);
        DWORD cb = 0;
        WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &cb, nullptr);
        CloseHandle(h);
        if (dwAttr)
            SetFileAttributesW(Path(rel).c_str(), dwAttr);
    }
    // Keeps a file open without any sharing until the end of the test.
    void Lock(const std::wstring& rel)
    {
        HANDLE h = CreateFileW(Path(rel).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(rel);
        m_locks.push_back(h);
    }
    void ReleaseLocks()
    {
        for (HANDLE h : m_locks)
            CloseHandle(h);
        m_locks.clear();
    }
    bool Exists(const std::wstring& rel) const
    {
        return GetFileAttributesW(Path(rel).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::string Content(const std::wstring& path) const
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        char buffer[256];
        DWORD cb = 0;
        ReadFile(h, buffer, sizeof(buffer), &cb, nullptr);
        CloseHandle(h);
        return std::string(buffer, cb);
    }
    // Files directly in a folder, by name.
    std::vector<std::wstring> FilesIn(const std::wstring& rel) const
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW fd;
        HANDLE hFind = FindFirstFileW((Path(rel) + L"\\*").c_str(), &fd);
        if (hFind == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(fd.cFileName);
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
        return names;
    }

    std::wstring m_root;
    std::vector<HANDLE> m_locks;
};

// --- CreateAllDirectory ---------------------------------------------------

TEST_F(FileSysTest, CreateAllDirectoryCreatesEveryMissingLevel)
{
    MakeDir(L"a");
    MakeFile(L"file.txt");
    const std::wstring tooLong = Path(std::wstring(300, L'x'));
    const struct {
        const char* what;
        std::wstring path;
        BOOL result;
        DWORD error;  // when result is 0
        std::vector<std::string> log;
        std::wstring exists;  // relative folder that must exist afterwards
    } cases[] = {
        {"two missing levels under a\\", Path(L"a\\b\\c\\"), TRUE, 0,
         {"CreateAllDirectory(" + NPath(L"a\\b") + ")->1", "CreateAllDirectory(" + NPath(L"a\\b\\c") + ")->1"},
         L"a\\b\\c"},
        {"existing folder", Path(L"a"), TRUE, 0, {}, L"a"},
        {"existing folder with backslash", Path(L"a\\"), TRUE, 0, {}, L"a"},
        {"empty path", L"", TRUE, 0, {}, L""},
        {"only a backslash", L"\\", FALSE, ERROR_INVALID_NAME, {}, L""},
        {"a file stands where the folder should be", Path(L"file.txt"), FALSE, ERROR_ALREADY_EXISTS, {},
         L""},
        {"a file stands where a parent should be", Path(L"file.txt\\sub"), FALSE, ERROR_ALREADY_EXISTS, {},
         L""},
        {"path longer than 259 characters", tooLong, FALSE, ERROR_FILENAME_EXCED_RANGE, {}, L""},
        {"level the system refuses", Path(L"bad|name\\x"), FALSE, ERROR_INVALID_NAME,
         {"CreateAllDirectory(" + NPath(L"bad|name") + ")->0"}, L""},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        DWORD dwError = CreateAllDirectory(c.path.c_str());
        EXPECT_EQ(dwError == ERROR_SUCCESS, c.result) << c.what;
        if (!c.result) {
            EXPECT_EQ(dwError, c.error) << c.what;
        }
        EXPECT_EQ(tracesink::Lines(), c.log) << c.what;
        if (!c.exists.empty()) {
            EXPECT_TRUE(Exists(c.exists)) << c.what;
        }
    }
}

// Where an archive decides the length, folders deeper than MAX_PATH are
// created and removed through the long form of their paths; the plain
// entry point keeps its 259 characters.
TEST_F(FileSysTest, LongPathsAreCreatedAndRemoved)
{
    std::wstring deep = Path(L"t");
    for (wchar_t c : {L'a', L'b', L'c', L'd'})
        deep += L"\\" + std::wstring(80, c);
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(CreateAllDirectory(deep.c_str()), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(CreateAllDirectoryLong(deep.c_str()), 0u);
    std::wstring file = deep + L"\\" + std::wstring(200, L'f') + L".txt";
    HANDLE h = CreateFileW(LongPathForm(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    EXPECT_EQ(RemoveDirectoryTree(Path(L"t").c_str(), FS_INCLUDE_SUBDIR), 0u);
    EXPECT_FALSE(Exists(L"t"));
    EXPECT_TRUE(tracesink::Contains("DeleteFile(" + Narrow(file) + ")->1")) << tracesink::Dump();
}

// An 8-bit path names the very file or none: the code page's form when it
// holds every character, else the short form, never a look-alike.
TEST_F(FileSysTest, CodePagePathsNameTheSameFileOrNone)
{
    const struct {
        const char* what;
        const wchar_t* name;
        bool bCreate;
        DWORD result;
        bool bAsWritten;  // the code page's form (where it is 1252)
    } cases[] = {
        {"ASCII", L"plain", true, 0, true},
        {"in the code page", L"donn\u00e9es", true, 0, true},
        {"a look-alike in the code page", L"\u0141ask", true, 0, false},
        {"beyond the BMP", L"\U0001F600", true, 0, false},
        {"a look-alike, missing", L"\u0141ask missing", false, ERROR_NO_UNICODE_TRANSLATION, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring path = Path(c.name);
        if (c.bCreate) {
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        }
        char szPath[MAX_PATH] = "";
        ASSERT_EQ(CodePagePathOf(path.c_str(), szPath, MAX_PATH), c.result);
        if (c.result != 0)
            continue;
        // Back in UTF-16 it leads to this very folder.
        WCHAR szBack[MAX_PATH];
        ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, szPath, -1, szBack, MAX_PATH), 0);
        WCHAR szLong[MAX_PATH];
        ASSERT_GT(GetLongPathNameW(szBack, szLong, MAX_PATH), 0u);
        EXPECT_EQ(std::wstring(szLong), path);
        if (GetACP() == 1252) {
            EXPECT_EQ(std::wstring(szBack) == path, c.bAsWritten);
        }
    }
}

TEST(LongPathForm, OnlyPathsTooLongForThePlainFormChange)
{
    const std::wstring name(300, L'x');
    const struct {
        std::wstring in;
        std::wstring out;
    } cases[] = {
        {L"C:\\short\\path.txt", L"C:\\short\\path.txt"},
        {L"C:\\" + name, L"\\\\?\\C:\\" + name},
        {L"\\\\server\\share\\" + name, L"\\\\?\\UNC\\server\\share\\" + name},
        {L"\\\\?\\C:\\" + name, L"\\\\?\\C:\\" + name},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LongPathForm(c.in), c.out) << Narrow(c.in.substr(0, 20));
}

// --- RemoveDirectoryTree --------------------------------------------------

TEST_F(FileSysTest, RemoveDirectoryTreeRemovesReadOnlyContent)
{
    MakeDir(L"t");
    MakeFile(L"t\\one.txt", "1", FILE_ATTRIBUTE_READONLY);
    MakeDir(L"t\\sub", FILE_ATTRIBUTE_READONLY);
    MakeFile(L"t\\sub\\two.txt", "2", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    MakeDir(L"t\\sub\\empty");

    EXPECT_EQ(RemoveDirectoryTree(Path(L"t").c_str(), FS_INCLUDE_SUBDIR), 0u);
    EXPECT_FALSE(Exists(L"t"));
    for (const std::string& line : {
             "DeleteFile(" + NPath(L"t\\one.txt") + ")->1",
             "DeleteFile(" + NPath(L"t\\sub\\two.txt") + ")->1",
             "RemoveDirectory(" + NPath(L"t\\sub\\empty") + ")->1",
             "RemoveDirectory(" + NPath(L"t\\sub") + ")->1",
             "RemoveDirectory(" + NPath(L"t") + ")->1",
         })
        EXPECT_TRUE(tracesink::Contains(line)) << line << "\n" << tracesink::Dump();
}

TEST_F(FileSysTest, RemoveDirectoryTreeRefusals)
{
    MakeDir(L"full");
    MakeFile(L"full\\keep.txt");
    MakeDir(L"empty", FILE_ATTRIBUTE_READONLY);
    MakeFile(L"plain.txt");
    const struct {
        const char* what;
        std::wstring path;
        DWORD flags;
        BOOL result;
        std::vector<std::string> log;
    } cases[] = {
        {"non-empty folder without the contents flag", Path(L"full"), 0, FALSE,
         {"RemoveDirectory(" + NPath(L"full") + ")->0"}},
        {"read-only empty folder, trailing backslash", Path(L"empty\\"), 0, TRUE,
         {"RemoveDirectory(" + NPath(L"empty") + ")->1"}},
        {"missing folder", Path(L"missing"), FS_INCLUDE_SUBDIR, FALSE, {}},
        {"a file", Path(L"plain.txt"), FS_INCLUDE_SUBDIR, FALSE, {}},
        {"empty path", L"", FS_INCLUDE_SUBDIR, FALSE, {}},
        // Without the contents flag, so that a fault here could not harm the drive.
        {"drive root", L"C:\\", 0, FALSE, {"RemoveDirectoryTree(C:\\)->Refused: drive or share root"}},
        {"drive without backslash", L"C:", 0, FALSE,
         {"RemoveDirectoryTree(C:)->Refused: drive or share root"}},
        {"root of the current drive", L"\\", 0, FALSE,
         {"RemoveDirectoryTree(\\)->Refused: drive or share root"}},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(RemoveDirectoryTree(c.path.c_str(), c.flags) == ERROR_SUCCESS, c.result)
            << c.what;
        EXPECT_EQ(tracesink::Lines(), c.log) << c.what;
    }
    EXPECT_TRUE(Exists(L"full\\keep.txt"));
    EXPECT_TRUE(Exists(L"plain.txt"));
}

TEST_F(FileSysTest, RemoveDirectoryTreeLeavesLockedItemsToTheRestart)
{
    MakeDir(L"t");
    MakeFile(L"t\\locked.dll");
    MakeFile(L"t\\free.txt");
    Lock(L"t\\locked.dll");

    const struct {
        const char* what;
        DWORD flags;
        bool bPending;
    } cases[] = {
        {"without the restart flag", FS_INCLUDE_SUBDIR, false},
        {"with the restart flag", FS_INCLUDE_SUBDIR | LOCKEDFILE, true},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_NE(RemoveDirectoryTree(Path(L"t").c_str(), c.flags), 0u) << c.what;
        EXPECT_TRUE(Exists(L"t\\locked.dll")) << c.what;
        EXPECT_FALSE(Exists(L"t\\free.txt")) << c.what;
        EXPECT_TRUE(tracesink::Contains("DeleteFile(" + NPath(L"t\\locked.dll") + ")->0")) << c.what;
        EXPECT_EQ(tracesink::Contains("MoveFileEx(" + NPath(L"t\\locked.dll") + ", )=>1"), c.bPending)
            << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(tracesink::Contains("MoveFileEx(" + NPath(L"t") + ", )=>1"), c.bPending) << c.what;
        std::pair<bool, std::wstring> pending = PendingRenameOf(Path(L"t\\locked.dll"));
        EXPECT_EQ(pending.first, c.bPending) << c.what;
        EXPECT_EQ(pending.second, L"") << c.what;
        EXPECT_EQ(PendingRenameOf(Path(L"t")).first, c.bPending) << c.what;
    }
}

// A folder link inside the tree is removed as a link: what it points to stays.
TEST_F(FileSysTest, RemoveDirectoryTreeDoesNotFollowFolderLinks)
{
    MakeDir(L"outside");
    MakeFile(L"outside\\precious.txt");
    MakeDir(L"t");
    MakeDir(L"t\\link");

    struct MOUNTPOINT {
        DWORD tag;
        WORD cbData, reserved, subOffset, subLength, printOffset, printLength;
        WCHAR path[MAX_PATH + 8];
    } mp = {};
    const std::wstring target = L"\\??\\" + Path(L"outside");
    mp.tag = IO_REPARSE_TAG_MOUNT_POINT;
    lstrcpyW(mp.path, target.c_str());
    mp.subLength = static_cast<WORD>(target.size() * sizeof(WCHAR));
    mp.printOffset = static_cast<WORD>(mp.subLength + sizeof(WCHAR));
    mp.cbData = static_cast<WORD>(8 + mp.subLength + 2 * sizeof(WCHAR));
    HANDLE h = CreateFileW(Path(L"t\\link").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD cb = 0;
    BOOL bLinked = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, &mp, 8 + mp.cbData, nullptr, 0, &cb, nullptr);
    CloseHandle(h);
    if (!bLinked)
        GTEST_SKIP() << "this system can not make folder links (" << GetLastError() << ")";

    EXPECT_EQ(RemoveDirectoryTree(Path(L"t").c_str(), FS_INCLUDE_SUBDIR), 0u);
    EXPECT_FALSE(Exists(L"t"));
    EXPECT_TRUE(Exists(L"outside\\precious.txt"));
}

// --- RemoveFiles, SetFilesAttributes --------------------------------------

class FileTreeTest : public FileSysTest {
protected:
    void SetUp() override
    {
        FileSysTest::SetUp();
        MakeFile(L"a.tmp");
        MakeFile(L"b.txt");
        MakeDir(L"s1");
        MakeFile(L"s1\\c.tmp", "c", FILE_ATTRIBUTE_READONLY);
        MakeFile(L"s1\\d.txt");
        MakeDir(L"s1\\s2");
        MakeFile(L"s1\\s2\\e.tmp");
        MakeFile(L"s1\\s2\\f.txt");
        tracesink::Clear();
    }
};

TEST_F(FileTreeTest, RemoveFilesAppliesTheNameInEverySubFolder)
{
    const struct {
        const char* what;
        std::wstring pattern;
        DWORD flags;
        BOOL result;
        std::vector<std::wstring> gone;
        std::vector<std::wstring> kept;
    } cases[] = {
        {"no match", Path(L"*.bak"), FS_INCLUDE_SUBDIR, FALSE, {}, {L"a.tmp", L"s1\\c.tmp"}},
        {"top folder only", Path(L"*.tmp"), 0, TRUE, {L"a.tmp"}, {L"s1\\c.tmp", L"s1\\s2\\e.tmp"}},
        {"every sub-folder, read-only too", Path(L"*.tmp"), FS_INCLUDE_SUBDIR, TRUE,
         {L"s1\\c.tmp", L"s1\\s2\\e.tmp"},
         {L"b.txt", L"s1\\d.txt", L"s1\\s2\\f.txt", L"s1", L"s1\\s2"}},
        {"one name in a sub-folder", Path(L"s1\\d.txt"), FS_INCLUDE_SUBDIR, TRUE, {L"s1\\d.txt"},
         {L"b.txt", L"s1\\s2\\f.txt"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RemoveFiles(c.pattern.c_str(), c.flags) == ERROR_SUCCESS, c.result) << c.what;
        for (const std::wstring& rel : c.gone)
            EXPECT_FALSE(Exists(rel)) << c.what << ": " << Narrow(rel);
        for (const std::wstring& rel : c.kept)
            EXPECT_TRUE(Exists(rel)) << c.what << ": " << Narrow(rel);
    }
    EXPECT_TRUE(tracesink::Contains("DeleteFile(" + NPath(L"s1\\c.tmp") + ")->1")) << tracesink::Dump();
}

TEST_F(FileTreeTest, RemoveFilesReportsTheLastDeletion)
{
    Lock(L"s1\\s2\\f.txt");
    // The locked file is the last one tried: the result says it failed.
    EXPECT_NE(RemoveFiles(Path(L"*.txt").c_str(), FS_INCLUDE_SUBDIR | LOCKEDFILE), 0u);
    EXPECT_FALSE(Exists(L"b.txt"));
    EXPECT_FALSE(Exists(L"s1\\d.txt"));
    EXPECT_TRUE(Exists(L"s1\\s2\\f.txt"));
    EXPECT_TRUE(tracesink::Contains("MoveFileEx(" + NPath(L"s1\\s2\\f.txt") + ", )=>1")) << tracesink::Dump();
    EXPECT_TRUE(PendingRenameOf(Path(L"s1\\s2\\f.txt")).first);
}

// Wine reports the archive bit on every file, whatever was set: only the
// other bits are compared.
DWORD WithoutArchive(DWORD dwAttributes)
{
    return dwAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileTreeTest, SetFilesAttributesSetsExactlyTheGivenBits)
{
    const DWORD RH = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    const struct {
        const char* what;
        std::wstring pattern;
        DWORD attributes;
        BOOL recursive;
        BOOL result;
        std::vector<std::pair<std::wstring, DWORD>> expected;
    } cases[] = {
        {"no match", Path(L"*.bak"), RH, TRUE, FALSE, {{L"b.txt", FILE_ATTRIBUTE_ARCHIVE}}},
        {"top folder only", Path(L"*.txt"), RH, FALSE, TRUE,
         {{L"b.txt", RH}, {L"s1\\d.txt", FILE_ATTRIBUTE_ARCHIVE}}},
        {"recursive", Path(L"*.txt"), FILE_ATTRIBUTE_HIDDEN, TRUE, TRUE,
         {{L"b.txt", FILE_ATTRIBUTE_HIDDEN}, {L"s1\\d.txt", FILE_ATTRIBUTE_HIDDEN},
          {L"s1\\s2\\f.txt", FILE_ATTRIBUTE_HIDDEN}, {L"a.tmp", FILE_ATTRIBUTE_ARCHIVE}}},
        {"read-only bit cleared", Path(L"c.tmp"), FILE_ATTRIBUTE_NORMAL, TRUE, TRUE,
         {{L"s1\\c.tmp", FILE_ATTRIBUTE_NORMAL}}},
    };
    for (const auto& c : cases) {
        DWORD dwResult = SetFilesAttributes(c.pattern.c_str(), c.attributes, c.recursive);
        EXPECT_EQ(dwResult == ERROR_SUCCESS, c.result) << c.what;
        for (const auto& file : c.expected)
            EXPECT_EQ(WithoutArchive(GetFileAttributesW(Path(file.first).c_str())), WithoutArchive(file.second))
                << c.what << ": " << Narrow(file.first);
    }
}

// --- CountFiles -----------------------------------------------------------

TEST_F(FileTreeTest, CountFilesCountsIntoOneCounter)
{
    const struct {
        const char* what;
        std::wstring pattern;
        BOOL recursive;
        BOOL reset;
        DWORD count;
    } cases[] = {
        {"top folder", Path(L"*.tmp"), FALSE, TRUE, 1},
        {"same again with reset", Path(L"*.tmp"), FALSE, TRUE, 1},
        {"recursive with reset", Path(L"*.tmp"), TRUE, TRUE, 3},
        {"recursive with reset, twice: the same count", Path(L"*.tmp"), TRUE, TRUE, 3},
        {"without reset the counter grows", Path(L"*.txt"), TRUE, FALSE, 6},
        {"every file", Path(L"*"), TRUE, TRUE, 6},
        {"no match", Path(L"*.bak"), TRUE, TRUE, 0},
        {"missing folder", Path(L"missing\\*"), FALSE, TRUE, 0},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(CountFiles(c.pattern.c_str(), c.recursive, c.reset), c.count) << c.what;
        EXPECT_EQ(tracesink::Lines().back(), "CountFiles()->NbFiles=" + std::to_string(c.count)) << c.what;
    }

    tracesink::Clear();
    EXPECT_EQ(CountFiles(Path(L"*.tmp").c_str(), TRUE, TRUE), 3u);
    for (const wchar_t* rel : {L"a.tmp", L"s1\\c.tmp", L"s1\\s2\\e.tmp"})
        EXPECT_TRUE(tracesink::Contains("CountFiles()->FullFileName=" + NPath(rel))) << tracesink::Dump();
}

TEST_F(FileTreeTest, CountFilesStopsWhenCancelled)
{
    g_bCancel = 1;
    EXPECT_EQ(CountFiles(Path(L"*").c_str(), TRUE, TRUE), 0u);
    EXPECT_EQ(CountFiles(Path(L"*").c_str(), FALSE, TRUE), 0u);
}

// --- XCopyFiles -----------------------------------------------------------

TEST_F(FileTreeTest, XCopyFilesCopiesMatchingFilesIntoTheSameTree)
{
    const struct {
        const char* what;
        std::wstring pattern;
        std::wstring dest;
        DWORD flags;
        DWORD result;
        std::vector<std::wstring> copied;
        std::vector<std::wstring> absent;
    } cases[] = {
        {"top folder", Path(L"*.txt"), Path(L"out1"), 0, 0, {L"out1\\b.txt"}, {L"out1\\s1"}},
        {"recursive, destination created level by level", Path(L"*.txt"), Path(L"out2\\deep\\"),
         FS_INCLUDE_SUBDIR, 0,
         {L"out2\\deep\\b.txt", L"out2\\deep\\s1\\d.txt", L"out2\\deep\\s1\\s2\\f.txt"},
         {L"out2\\deep\\a.tmp", L"out2\\deep\\s1\\c.tmp"}},
        {"nothing matches: no copy, no folder", Path(L"*.bak"), Path(L"out3"), FS_INCLUDE_SUBDIR, 0, {},
         {L"out3"}},
        {"destination blocked by a file", Path(L"*.txt"), Path(L"a.tmp"), 0, ERROR_ALREADY_EXISTS, {}, {}},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(XCopyFiles(c.pattern.c_str(), c.dest.c_str(), c.flags), c.result) << c.what;
        EXPECT_EQ(tracesink::Lines().back(), "XCopyFiles()->" + std::to_string(c.result)) << c.what;
        for (const std::wstring& rel : c.copied)
            EXPECT_EQ(Content(Path(rel)), "data") << c.what << ": " << Narrow(rel);
        for (const std::wstring& rel : c.absent)
            EXPECT_FALSE(Exists(rel)) << c.what << ": " << Narrow(rel);
    }
}

TEST_F(FileTreeTest, XCopyFilesReturnsTheLastCopyResult)
{
    Lock(L"s1\\s2\\f.txt");
    EXPECT_EQ(XCopyFiles(Path(L"*.txt").c_str(), Path(L"out").c_str(), FS_INCLUDE_SUBDIR),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(Exists(L"out\\b.txt"));

    g_bCancel = 1;
    EXPECT_EQ(XCopyFiles(Path(L"*.tmp").c_str(), Path(L"cancelled").c_str(), FS_INCLUDE_SUBDIR), 0u);
    EXPECT_FALSE(Exists(L"cancelled"));
}

// --- ReadLockedFiles ------------------------------------------------------

TEST_F(FileSysTest, ReadLockedFilesStagesTheReplacementNextToTheTarget)
{
    MakeDir(L"app");
    MakeFile(L"app\\core.dll", "old");
    MakeFile(L"newcore.dll", "new");
    Lock(L"app\\core.dll");

    EXPECT_EQ(ReadLockedFiles(Path(L"newcore.dll").c_str(), Path(L"app\\core.dll").c_str()), 0u);
    // The staged copy is named by the source's first three characters.
    std::vector<std::wstring> files = FilesIn(L"app");
    ASSERT_EQ(files.size(), 2u);
    std::wstring staged = files[0] == L"core.dll" ? files[1] : files[0];
    EXPECT_EQ(staged.compare(0, 3, L"new"), 0) << Narrow(staged);
    EXPECT_EQ(Content(Path(L"app\\" + staged)), "new");
    ReleaseLocks();
    EXPECT_EQ(Content(Path(L"app\\core.dll")), "old");
    EXPECT_TRUE(tracesink::Contains("MoveFileEx(" + NPath(L"app\\" + staged) + ", " + NPath(L"app\\core.dll") +
                                    ")=>1"))
        << tracesink::Dump();
    std::pair<bool, std::wstring> pending = PendingRenameOf(Path(L"app\\" + staged));
    EXPECT_TRUE(pending.first);
    EXPECT_EQ(pending.second, L"!\\??\\" + Path(L"app\\core.dll"));
}

TEST_F(FileSysTest, ReadLockedFilesWithoutSourceStagesNothing)
{
    MakeDir(L"app");
    MakeFile(L"app\\core.dll", "old");
    EXPECT_EQ(ReadLockedFiles(Path(L"missing.dll").c_str(), Path(L"app\\core.dll").c_str()), 0u);
    EXPECT_EQ(FilesIn(L"app"), std::vector<std::wstring>{L"core.dll"});
    EXPECT_FALSE(tracesink::ContainsPrefix("MoveFileEx(")) << tracesink::Dump();
}

TEST_F(FileSysTest, ReadLockedFilesDeletesAtRestart)
{
    MakeFile(L"old.log");
    EXPECT_EQ(ReadLockedFiles(Path(L"old.log").c_str(), nullptr), 0u);
    EXPECT_TRUE(Exists(L"old.log"));
    EXPECT_TRUE(tracesink::Contains("MoveFileEx(" + NPath(L"old.log") + ", )=>1")) << tracesink::Dump();
    std::pair<bool, std::wstring> pending = PendingRenameOf(Path(L"old.log"));
    EXPECT_TRUE(pending.first);
    EXPECT_EQ(pending.second, L"");
}

}  // namespace
