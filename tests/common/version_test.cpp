#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "common/version.h"
#include "support/tracesink.h"

namespace {

// --- Building version resources -------------------------------------------

typedef std::vector<BYTE> Bytes;

void PadTo4(Bytes& bytes)
{
    while (bytes.size() % 4)
        bytes.push_back(0);
}

void AppendWide(Bytes& bytes, const std::wstring& text, bool bTerminate)
{
    for (wchar_t ch : text) {
        bytes.push_back(static_cast<BYTE>(ch & 0xFF));
        bytes.push_back(static_cast<BYTE>(ch >> 8));
    }
    if (bTerminate) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
}

// One node of a version block: length, value length, type, key, value, children.
Bytes Node(const std::wstring& key, WORD wType, const Bytes& value, WORD wValueLength,
           const std::vector<Bytes>& children)
{
    Bytes node(6, 0);
    AppendWide(node, key, true);
    PadTo4(node);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        PadTo4(node);
        node.insert(node.end(), child.begin(), child.end());
    }
    const WORD wLength = static_cast<WORD>(node.size());
    node[0] = static_cast<BYTE>(wLength & 0xFF);
    node[1] = static_cast<BYTE>(wLength >> 8);
    node[2] = static_cast<BYTE>(wValueLength & 0xFF);
    node[3] = static_cast<BYTE>(wValueLength >> 8);
    node[4] = static_cast<BYTE>(wType);
    node[5] = 0;
    return node;
}

struct StringEntry {
    std::wstring name;
    std::wstring value;
    bool bTerminated;
};

Bytes StringNode(const StringEntry& entry)
{
    Bytes value;
    AppendWide(value, entry.value, entry.bTerminated);
    WORD cch = static_cast<WORD>(entry.value.size() + (entry.bTerminated ? 1 : 0));
    return Node(entry.name, 1, value, cch, {});
}

struct VersionLayout {
    bool bHasTranslation;             // a VarFileInfo\Translation node at all
    std::vector<DWORD> translations;  // language | code page << 16
    std::wstring table;               // StringTable key, e.g. "040904B0"
    std::vector<StringEntry> strings;
};

Bytes BuildVersionBlock(const VersionLayout& layout)
{
    VS_FIXEDFILEINFO ffi = {};
    ffi.dwSignature = 0xFEEF04BD;
    ffi.dwStrucVersion = 0x00010000;
    Bytes fixed(reinterpret_cast<BYTE*>(&ffi), reinterpret_cast<BYTE*>(&ffi) + sizeof(ffi));

    std::vector<Bytes> strings;
    for (const StringEntry& entry : layout.strings)
        strings.push_back(StringNode(entry));
    std::vector<Bytes> children = {
        Node(L"StringFileInfo", 1, {}, 0, {Node(layout.table, 1, {}, 0, strings)})};
    if (layout.bHasTranslation) {
        Bytes pairs;
        for (DWORD pair : layout.translations)
            for (int i = 0; i < 4; ++i)
                pairs.push_back(static_cast<BYTE>(pair >> (8 * i)));
        children.push_back(Node(L"VarFileInfo", 1, {}, 0,
                                {Node(L"Translation", 0, pairs, static_cast<WORD>(pairs.size()), {})}));
    }
    return Node(L"VS_VERSION_INFO", 0, fixed, sizeof(ffi), children);
}

// --- Scratch files --------------------------------------------------------

std::wstring ScratchFolder()
{
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    WCHAR szFolder[MAX_PATH];
    wsprintfW(szFolder, L"%sstowaway-version-%lu-%lu", szTemp, GetCurrentProcessId(), GetTickCount());
    CreateDirectoryW(szFolder, nullptr);
    return szFolder;
}

std::wstring ProgramFolder()
{
    WCHAR szExe[MAX_PATH];
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    *wcsrchr(szExe, L'\\') = L'\0';
    return szExe;
}

// A copy of a small program of ours carrying the given version resource.
bool MakeVersionedFile(const std::wstring& path, const Bytes& block)
{
    const std::wstring base = ProgramFolder() + L"\\tracecheck.exe";
    if (!CopyFileW(base.c_str(), path.c_str(), FALSE))
        return false;
    HANDLE hUpdate = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!hUpdate)
        return false;
    BOOL bOk = UpdateResourceW(hUpdate, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                               const_cast<BYTE*>(block.data()), static_cast<DWORD>(block.size()));
    return EndUpdateResourceW(hUpdate, !bOk) && bOk;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class VersionFileTest : public ::testing::Test {
protected:
    void SetUp() override { m_folder = ScratchFolder(); }
    void TearDown() override
    {
        for (const std::wstring& file : m_files)
            DeleteFileW(file.c_str());
        RemoveDirectoryW(m_folder.c_str());
    }
    std::wstring NewFile(const Bytes& block)
    {
        std::wstring path = m_folder + L"\\v" + std::to_wstring(m_files.size()) + L".exe";
        m_files.push_back(path);
        EXPECT_TRUE(MakeVersionedFile(path, block)) << Narrow(path);
        return path;
    }

    std::wstring m_folder;
    std::vector<std::wstring> m_files;
};

const DWORD kUsUnicode = 0x04B00409;
const std::vector<StringEntry> kStrings = {
    {L"ProductName", L"Sample Product", true},
    {L"FileVersion", L"2.1.0.37", true},
    {L"Unterminated", L"abc", false},
    {L"Empty", L"", false},
};

TEST_F(VersionFileTest, ReadsStringsThroughTheFirstTranslation)
{
    const std::wstring longName(40, L'N');
    const struct {
        const char* what;
        VersionLayout layout;
        std::wstring name;
        DWORD cchOut;
        BOOL bFileResult;  // GetFileVersionString
        BOOL bLocalResult;  // GetLocalVersionInfo
        std::wstring value;
    } cases[] = {
        {"plain value", {true, {kUsUnicode}, L"040904B0", kStrings}, L"ProductName", 256, 1, 1,
         L"Sample Product"},
        {"version text", {true, {kUsUnicode}, L"040904B0", kStrings}, L"FileVersion", 256, 1, 1,
         L"2.1.0.37"},
        {"value cut to the output", {true, {kUsUnicode}, L"040904B0", kStrings}, L"ProductName", 5, 1,
         1, L"Samp"},
        {"missing string", {true, {kUsUnicode}, L"040904B0", kStrings}, L"Comments", 256, 1, 0, L""},
        {"value without its terminator", {true, {kUsUnicode}, L"040904B0", kStrings}, L"Unterminated",
         256, 1, 0, L""},
        {"empty value", {true, {kUsUnicode}, L"040904B0", kStrings}, L"Empty", 256, 1, 0, L""},
        {"first of two translations", {true, {0x04E4040C, kUsUnicode}, L"040C04E4", kStrings},
         L"ProductName", 256, 1, 1, L"Sample Product"},
        {"empty translation table: US English, Unicode", {true, {}, L"040904B0", kStrings},
         L"ProductName", 256, 1, 1, L"Sample Product"},
        {"no translation table", {false, {}, L"040904B0", kStrings}, L"ProductName", 256, 1, 0, L""},
        {"translation without its table", {true, {0x04E4040C}, L"040904B0", kStrings},
         L"ProductName", 256, 1, 0, L""},
        {"name too long for the query", {true, {kUsUnicode}, L"040904B0", {{longName, L"x", true}}},
         longName, 256, 1, 0, L""},
    };
    for (const auto& c : cases) {
        const std::wstring path = NewFile(BuildVersionBlock(c.layout));
        std::vector<WCHAR> out(c.cchOut, L'?');
        EXPECT_EQ(GetFileVersionString(path.c_str(), c.name.c_str(), out.data(), c.cchOut),
                  c.bFileResult)
            << c.what;
        EXPECT_EQ(std::wstring(out.data()), c.value) << c.what;

        HMODULE hModule = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(hModule, nullptr) << c.what;
        std::fill(out.begin(), out.end(), L'?');
        EXPECT_EQ(GetLocalVersionInfo(hModule, c.name.c_str(), out.data(), c.cchOut), c.bLocalResult)
            << c.what;
        EXPECT_EQ(std::wstring(out.data()), c.bLocalResult ? c.value : L"") << c.what;
        FreeLibrary(hModule);
    }
}

TEST(VersionInfo, WithoutVersionInformationGivesZeroAndEmptyOutput)
{
    // The test program carries no version resource.
    WCHAR szSelf[MAX_PATH];
    GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    const struct {
        const char* what;
        std::wstring file;
    } cases[] = {
        {"file without a version resource", szSelf},
        {"missing file", std::wstring(szSelf) + L".missing"},
    };
    for (const auto& c : cases) {
        WCHAR szOut[64] = L"stale";
        EXPECT_FALSE(GetFileVersionString(c.file.c_str(), L"ProductName", szOut, 64)) << c.what;
        EXPECT_STREQ(szOut, L"") << c.what;
    }
    WCHAR szOut[64] = L"stale";
    EXPECT_FALSE(GetLocalVersionInfo(GetModuleHandleW(nullptr), L"ProductName", szOut, 64));
    EXPECT_STREQ(szOut, L"");
}

TEST(VersionInfo, SystemLibraryHasAFileVersion)
{
    WCHAR szKernel[MAX_PATH];
    GetSystemDirectoryW(szKernel, MAX_PATH);
    lstrcatW(szKernel, L"\\kernel32.dll");
    WCHAR szVersion[64] = L"";
    EXPECT_TRUE(GetFileVersionString(szKernel, L"FileVersion", szVersion, 64));
    EXPECT_GT(VersionTextToID(szVersion), 0u) << Narrow(szVersion);
}

// --- Version numbers ------------------------------------------------------

TEST(VersionNumbers, TextBecomesComparableNumber)
{
    const struct {
        const wchar_t* text;
        DWORD id;
    } cases[] = {
        {L"2.1.0.37", 0x02010000},
        {L"2,1,0,37", 0x02010000},
        {L"2, 1, 0, 37", 0x02010000},
        {L"10.0.19041.1", 0x0A004A61},
        {L"6.1.7601", 0x06011DB1},
        {L"1.2", 0x01020000},
        {L"3", 0x03000000},
        {L"", 0},
        {L"abc", 0},
        {L"255.255.65535.9", 0xFFFFFFFF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionTextToID(c.text), c.id) << Narrow(c.text);

    // Versions compare like their numbers; the revision does not count.
    EXPECT_LT(VersionTextToID(L"2.9.0"), VersionTextToID(L"2.10.0"));
    EXPECT_LT(VersionTextToID(L"1.99.65535"), VersionTextToID(L"2.0.0"));
    EXPECT_EQ(VersionTextToID(L"2.1.0.1"), VersionTextToID(L"2.1.0.99"));
}

TEST(VersionNumbers, NumberIsLoggedAndLargePartsLoseOrder)
{
    const struct {
        DWORD major, minor, build;
        DWORD id;
        const char* line;
    } cases[] = {
        {2, 1, 0, 0x02010000, "VerNumToID(2, 1, 0)->33619968"},
        {0, 0, 1, 1, "VerNumToID(0, 0, 1)->1"},
        {1, 256, 0, 0x11000000, "VerNumToID(1, 256, 0)->285212672"},  // minor above 255
        {1, 0, 65536, 0x10010000, "VerNumToID(1, 0, 65536)->268500992"},  // build above 65535
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(VerNumToID(c.major, c.minor, c.build), c.id) << c.line;
        EXPECT_TRUE(tracesink::Contains(c.line)) << tracesink::Dump();
    }
}

}  // namespace
