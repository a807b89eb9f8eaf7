// Registry routines and the CREATEKEY, REMOVEKEY and COPYREGISTRY commands.
#include <shlwapi.h>
#include <string>
#include <vector>
#include "script/condition.h"
#include "common/registry.h"
#include "script/regcmd.h"
#include "script/script.h"
#include "scripttest.h"
#include "support/tracesink.h"

using namespace scripttest;

namespace {

const wchar_t kKey[] = L"Software\\StowawayTestReg";

class RegistryTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
    void TearDown() override
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
        ScriptTest::TearDown();
    }
};

// Type and raw bytes of a value under HKEY_CURRENT_USER, or type -1.
struct RawValue {
    DWORD type = static_cast<DWORD>(-1);
    std::vector<BYTE> data;
};

RawValue ReadValue(const std::wstring& key, const std::wstring& name)
{
    RawValue value;
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return value;
    DWORD cb = 0, type = 0;
    if (RegQueryValueExW(hKey, name.c_str(), nullptr, &type, nullptr, &cb) == ERROR_SUCCESS) {
        value.data.resize(cb);
        if (RegQueryValueExW(hKey, name.c_str(), nullptr, &type, value.data.data(), &cb) ==
            ERROR_SUCCESS)
            value.type = type;
    }
    RegCloseKey(hKey);
    return value;
}

std::vector<BYTE> Bytes(const std::wstring& text, size_t terminators)
{
    std::vector<BYTE> out(reinterpret_cast<const BYTE*>(text.c_str()),
                          reinterpret_cast<const BYTE*>(text.c_str()) + text.size() * 2);
    out.insert(out.end(), terminators * 2, 0);
    return out;
}

std::vector<BYTE> Dword(DWORD value)
{
    return std::vector<BYTE>(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 4);
}

std::vector<BYTE> Qword(ULONGLONG value)
{
    return std::vector<BYTE>(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 8);
}

bool KeyExists(const std::wstring& key)
{
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

TEST_F(RegistryTest, RootTokenTable)
{
    struct Case {
        const wchar_t* token;
        HKEY perMachine;
        HKEY perUser;
    };
    const Case cases[] = {
        {L"<HKEY_CLASSES_ROOT>", HKEY_CLASSES_ROOT, HKEY_CLASSES_ROOT},
        {L"<HKEY_CURRENT_USER>", HKEY_CURRENT_USER, HKEY_CURRENT_USER},
        {L"<hkey_local_machine>", HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE},
        {L"<HKEY_USERS>", HKEY_USERS, HKEY_USERS},
        {L"<HKEY_PERFORMANCE_DATA>", HKEY_PERFORMANCE_DATA, HKEY_PERFORMANCE_DATA},
        {L"<HKEY_CURRENT_CONFIG>", HKEY_CURRENT_CONFIG, HKEY_CURRENT_CONFIG},
        {L"<HKEY_DYN_DATA>", HKEY_DYN_DATA, HKEY_DYN_DATA},
        {L"<HKEY_PERFORMANCE_TEXT>", HKEY_PERFORMANCE_TEXT, HKEY_PERFORMANCE_TEXT},
        {L"<HKEY_PERFORMANCE_NLSTEXT>", HKEY_PERFORMANCE_NLSTEXT, HKEY_PERFORMANCE_NLSTEXT},
        {L"<HKEY_USER_SELECTABLE>", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
        {L"<HKEY_CURRENT_USER> ", HKEY_CURRENT_USER, HKEY_CURRENT_USER},
        {L" \t<HKEY_LOCAL_MACHINE>", HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE},
        {L" <HKEY_USER_SELECTABLE> ", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
        {L"HKEY_CURRENT_USER", HKEY_CLASSES_ROOT, HKEY_CLASSES_ROOT},
        {L"<HKEY_CURRENT USER>", HKEY_CLASSES_ROOT, HKEY_CLASSES_ROOT},
        {L"", HKEY_CLASSES_ROOT, HKEY_CLASSES_ROOT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetRootKey(c.token, TRUE), c.perMachine) << Narrow(c.token);
        EXPECT_EQ(GetRootKey(c.token, FALSE), c.perUser) << Narrow(c.token);
    }
    // A token that names no root says so before the default is used.
    tracesink::Clear();
    EXPECT_EQ(GetRootKey(L"HKEY_CURRENT_USER", TRUE), HKEY_CLASSES_ROOT);
    EXPECT_TRUE(Traced("GetRootKey(HKEY_CURRENT_USER)->Unknown root, HKEY_CLASSES_ROOT used"));
    tracesink::Clear();
    EXPECT_EQ(GetRootKey(L"", TRUE), HKEY_CLASSES_ROOT);
    EXPECT_FALSE(Traced("GetRootKey()->Unknown root, HKEY_CLASSES_ROOT used"));
}

TEST_F(RegistryTest, TypeTokenTable)
{
    struct Case {
        const wchar_t* token;
        DWORD type;
    };
    const Case cases[] = {
        {L"<REG_NONE>", 0},      {L"<REG_SZ>", 1},        {L"<REG_EXPAND_SZ>", 2},
        {L"<REG_BINARY>", 3},    {L"<reg_dword>", 4},     {L"<REG_DWORD_BIG_ENDIAN>", 5},
        {L"<REG_LINK>", 6},      {L"<REG_MULTI_SZ>", 7},  {L"<REG_QWORD>", 11},
        {L"REG_DWORD", 1},       {L"", 1},                {L"<REG_WHATEVER>", 1},
        {L"<REG_QWORD> ", 11},   {L" <REG_DWORD>", 4},    {L"\t<REG_BINARY>\t", 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetRegType(c.token), c.type) << Narrow(c.token);
}

struct CreateKeyCase {
    std::wstring params;
    std::string lastResult;
    std::wstring valueName;
    DWORD type;
    std::vector<BYTE> data;
    std::string traced;
};

TEST_F(RegistryTest, CreateKeyTable)
{
    WCHAR windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring k = L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg";
    std::wstring longText(1500, L'x');
    const CreateKeyCase cases[] = {
        {k + L",Num,<REG_DWORD>,42", "1", L"Num", REG_DWORD, Dword(42),
         "ScriptCreateKey(<HKEY_CURRENT_USER>,Software\\StowawayTestReg,Num,<REG_DWORD>,42)->1"},
        {k + L",Num,<reg_dword>,abc", "1", L"Num", REG_DWORD, Dword(0), ""},
        {k + L",Num,<REG_DWORD>,-5", "1", L"Num", REG_DWORD, Dword(static_cast<DWORD>(-5)), ""},
        {k + L",Num,<REG_DWORD>, 42 ", "1", L"Num", REG_DWORD, Dword(42), ""},
        {k + L",Big,<REG_QWORD>,5", "1", L"Big", REG_QWORD, Qword(5), ""},
        {k + L",Big,<REG_QWORD>, 8589934592 ", "1", L"Big", REG_QWORD, Qword(8589934592ull), ""},
        {k + L",Big,<REG_QWORD>,-2", "1", L"Big", REG_QWORD, Qword(static_cast<ULONGLONG>(-2)), ""},
        {k + L",Big,<REG_QWORD>,abc", "1", L"Big", REG_QWORD, Qword(0), ""},
        {L"<HKEY_CURRENT_USER> ,Software\\StowawayTestReg,Num,<REG_DWORD> ,7", "1", L"Num",
         REG_DWORD, Dword(7), ""},
        {k + L",Str,<REG_SZ>,hello", "1", L"Str", REG_SZ, Bytes(L"hello", 1),
         "ScriptCreateKey(<HKEY_CURRENT_USER>,Software\\StowawayTestReg,Str,<REG_SZ>,hello)->1"},
        {k + L",Str,<REG_TYPO>,hello", "1", L"Str", REG_SZ, Bytes(L"hello", 1), ""},
        {k + L",Str,,hello", "1", L"Str", REG_SZ, Bytes(L"hello", 1), ""},
        {k + L",,<REG_SZ>,default", "1", L"", REG_SZ, Bytes(L"default", 1), ""},
        {k + L",Exp,<REG_EXPAND_SZ>,%TEMP%\\x", "1", L"Exp", REG_EXPAND_SZ,
         Bytes(L"%TEMP%\\x", 1), ""},
        {k + L",Multi,<REG_MULTI_SZ>,one", "1", L"Multi", REG_MULTI_SZ, Bytes(L"one", 2), ""},
        {k + L",Bin,<REG_BINARY>,AB", "1", L"Bin", REG_BINARY, Bytes(L"AB", 0), ""},
        {k + L",Win,<REG_SZ>,<WINDOWS>\\x", "1", L"Win", REG_SZ,
         Bytes(std::wstring(windows) + L"\\x", 1), ""},
        // A line longer than the expansion can hold is refused whole.
        {k + L",Long,<REG_SZ>," + longText, "0", L"Long", static_cast<DWORD>(-1), {},
         "ScriptCreateKey()->Parameter too long, line refused!"},
        {k + L",Str,<REG_SZ>,hello,,,Label", "0", L"Str", static_cast<DWORD>(-1), {}, ""},
        {k + L",Str,<REG_SZ>,hello,Z", "0", L"Str", static_cast<DWORD>(-1), {}, ""},
    };
    for (const CreateKeyCase& c : cases) {
        SCOPED_TRACE(Narrow(c.params.substr(0, 120)));
        SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
        tracesink::Clear();
        RunLine(L"CREATEKEY", c.params);
        EXPECT_EQ(LastResult(), c.lastResult);
        RawValue value = ReadValue(kKey, c.valueName);
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(value.data, c.data);
        if (!c.traced.empty()) {
            EXPECT_TRUE(Traced(c.traced));
        }
    }
}

TEST_F(RegistryTest, CreateKeyWithOnlyAKeyLeavesTheResultAtZero)
{
    RunLine(L"CREATEKEY", L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Only\\Key");
    EXPECT_TRUE(KeyExists(L"Software\\StowawayTestReg\\Only\\Key"));
    EXPECT_EQ(LastResult(), "0");
    EXPECT_TRUE(Traced("ScriptCreateKey(<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Only\\Key,,,)->1"));
}

TEST_F(RegistryTest, RemoveKeyTable)
{
    struct Case {
        const wchar_t* params;
        const char* lastResult;
        bool valueLeft;
        bool keyLeft;
    };
    const Case cases[] = {
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Sub,Val", "1", false, true},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Sub,None", "0", true, true},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg", "1", false, false},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg,,,,Label", "0", true, true},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestRegNone", "0", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Sub\\Deeper",
                                     L"V", REG_SZ, L"v", 2048), 0u);
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Sub", L"Val",
                                     REG_SZ, L"v", 2048), 0u);
        RunLine(L"REMOVEKEY", c.params);
        EXPECT_EQ(LastResult(), c.lastResult);
        EXPECT_EQ(ReadValue(L"Software\\StowawayTestReg\\Sub", L"Val").type == REG_SZ, c.valueLeft);
        EXPECT_EQ(KeyExists(L"Software\\StowawayTestReg\\Sub\\Deeper"), c.keyLeft);
    }
    RunLine(L"REMOVEKEY", L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Sub,Val");
    EXPECT_TRUE(Traced("ScriptRemoveKey(<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Sub)->1"));
}

TEST_F(RegistryTest, CopyRegistryTable)
{
    struct Case {
        const wchar_t* params;
        const char* lastResult;
        bool subkeyCopied;
        bool copied;
    };
    const Case cases[] = {
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Src,<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Dst",
         "1", false, true},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Src,<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Dst,1",
         "1", false, true},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Src,<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Dst,0",
         "1", true, true},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\None,<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Dst,0",
         "0", false, false},
        {L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Src,<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Dst,0,,,L",
         "0", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
        const wchar_t* src = L"Software\\StowawayTestReg\\Src";
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, src, L"S", REG_SZ, L"text", 2048), 0u);
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, src, L"D", REG_DWORD, L"7", 2048), 0u);
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Src\\Child",
                                     L"C", REG_SZ, L"child", 2048), 0u);
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER,
                                     L"Software\\StowawayTestReg\\Src\\Child\\Grand", L"G", REG_SZ,
                                     L"grand", 2048), 0u);
        ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Dst", L"Stale",
                                     REG_SZ, L"old", 2048), 0u);
        tracesink::Clear();
        RunLine(L"COPYREGISTRY", c.params);
        EXPECT_EQ(LastResult(), c.lastResult);
        const wchar_t* dst = L"Software\\StowawayTestReg\\Dst";
        EXPECT_EQ(ReadValue(dst, L"S").data == Bytes(L"text", 1), c.copied);
        EXPECT_EQ(ReadValue(dst, L"D").data == Dword(7), c.copied);
        // The destination holds exactly the source's values.
        EXPECT_EQ(ReadValue(dst, L"Stale").type == REG_SZ, !c.copied);
        EXPECT_EQ(ReadValue(L"Software\\StowawayTestReg\\Dst\\Child", L"C").data ==
                      Bytes(L"child", 1),
                  c.subkeyCopied);
        EXPECT_EQ(ReadValue(L"Software\\StowawayTestReg\\Dst\\Child\\Grand", L"G").data ==
                      Bytes(L"grand", 1),
                  c.subkeyCopied);
        if (c.copied) {
            EXPECT_TRUE(tracesink::ContainsPrefix("RegCreateValues("));
        }
    }
    RunLine(L"COPYREGISTRY",
        L"<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Src,<HKEY_CURRENT_USER>,Software\\StowawayTestReg\\Dst");
    EXPECT_TRUE(Traced("ScriptCopyRegistry(<HKEY_CURRENT_USER>, Software\\StowawayTestReg\\Src, "
                       "<HKEY_CURRENT_USER>, Software\\StowawayTestReg\\Dst)->1"));
}

TEST_F(RegistryTest, CopyTreeAddsToExistingSubkeys)
{
    ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Src\\Child", L"C",
                                 REG_SZ, L"child", 2048), 0u);
    ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Dst\\Child",
                                 L"Mine", REG_SZ, L"kept", 2048), 0u);
    EXPECT_EQ(RegCopyKeyTree(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Src",
                               HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Dst"), 0u);
    EXPECT_EQ(ReadValue(L"Software\\StowawayTestReg\\Dst\\Child", L"Mine").data, Bytes(L"kept", 1));
    EXPECT_EQ(ReadValue(L"Software\\StowawayTestReg\\Dst\\Child", L"C").data, Bytes(L"child", 1));
}

TEST_F(RegistryTest, CopyIntoItselfIsRefused)
{
    ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Src", L"S", REG_SZ,
                                 L"text", 2048), 0u);
    ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Src\\Child", L"C",
                                 REG_SZ, L"child", 2048), 0u);
    struct Case {
        BOOL tree;
        const wchar_t* dst;
    };
    const Case cases[] = {
        {FALSE, L"Software\\StowawayTestReg\\Src"},
        {FALSE, L"software\\stowawaytestreg\\src\\"},
        {TRUE, L"Software\\StowawayTestReg\\Src"},
        {TRUE, L"Software\\StowawayTestReg\\Src\\Child\\Copy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.dst));
        const HKEY hCU = HKEY_CURRENT_USER;
        LPCWSTR szSrc = L"Software\\StowawayTestReg\\Src";
        DWORD result = c.tree ? RegCopyKeyTree(hCU, szSrc, hCU, c.dst)
                              : RegCopyKeyValues(hCU, szSrc, hCU, c.dst);
        EXPECT_NE(result, 0u);
        EXPECT_EQ(ReadValue(L"Software\\StowawayTestReg\\Src", L"S").data, Bytes(L"text", 1));
        EXPECT_FALSE(KeyExists(L"Software\\StowawayTestReg\\Src\\Child\\Copy"));
    }
    // A sibling whose name starts like the source is not inside it.
    EXPECT_EQ(RegCopyKeyTree(HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Src",
                               HKEY_CURRENT_USER, L"Software\\StowawayTestReg\\Src2"), 0u);
}

TEST_F(RegistryTest, StringValuesEndAtTheirTerminator)
{
    // 2048 bytes hold 1023 characters and the terminator; no padding.
    std::wstring longText(1500, L'x');
    EXPECT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kKey, L"Long", REG_SZ, longText.c_str(), 2048),
              0u);
    EXPECT_EQ(ReadValue(kKey, L"Long").data, Bytes(longText.substr(0, 1023), 1));
    WCHAR buffer[1024] = L"short";
    EXPECT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kKey, L"Short", REG_SZ, buffer, sizeof(buffer)),
              0u);
    EXPECT_EQ(ReadValue(kKey, L"Short").data, Bytes(L"short", 1));
    EXPECT_TRUE(Traced("RegDBSetKeyValue(Software\\StowawayTestReg, Short, 2048)->1"));
    EXPECT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kKey, L"Raw", REG_BINARY, buffer, 4), 0u);
    EXPECT_EQ(ReadValue(kKey, L"Raw").data, Bytes(L"sh", 0));
    EXPECT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kKey, L"Num", REG_DWORD, L"12", 2048), 0u);
    EXPECT_TRUE(Traced("RegDBSetKeyValue(Software\\StowawayTestReg, Num, 12)->1"));
}

TEST_F(RegistryTest, ReadersTable)
{
    ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kKey, L"Str", REG_SZ, L"hello", 2048), 0u);
    ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kKey, L"Neg", REG_DWORD, L"-3", 2048), 0u);
    EXPECT_TRUE(Traced("RegDBSetKeyValue(Software\\StowawayTestReg, Neg, -3)->1"));
    ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, kKey, L"Big", REG_QWORD, L"8589934592", 2048),
              0u);
    struct Case {
        const wchar_t* name;
        DWORD cch;
        BOOL result;
        const wchar_t* text;
    };
    const Case cases[] = {
        {L"Str", 64, TRUE, L"hello"},
        {L"Str", 3, TRUE, L"he"},
        {L"Neg", 64, TRUE, L"-3"},
        {L"Big", 64, TRUE, L"8589934592"},
        {L"None", 64, FALSE, L""},
    };
    for (const Case& c : cases) {
        WCHAR buffer[64] = L"junk";
        EXPECT_EQ(RegDBGetKeyValue(HKEY_CURRENT_USER, kKey, c.name, buffer, c.cch) == ERROR_SUCCESS,
                  c.result)
            << Narrow(c.name);
        EXPECT_STREQ(buffer, c.text);
    }
    EXPECT_TRUE(RegDBKeyExist(HKEY_CURRENT_USER, kKey));
    EXPECT_FALSE(RegDBKeyExist(HKEY_CURRENT_USER, L"Software\\StowawayTestRegNone"));
    EXPECT_EQ(RegDBDeleteValue(HKEY_CURRENT_USER, kKey, L"Str"), 0u);
    EXPECT_NE(RegDBDeleteValue(HKEY_CURRENT_USER, kKey, L"Str"), 0u);
    EXPECT_NE(RegDBDeleteKey(HKEY_CURRENT_USER, L""), 0u);
}


// What the registry guard keeps: the shape of HKEY_CURRENT_USER (its
// Software keys, the root's and Software's default values).
struct HiveShape {
    DWORD dwSoftwareKeys = 0;
    RawValue rootDefault, softwareDefault;
    bool operator==(const HiveShape& o) const
    {
        return dwSoftwareKeys == o.dwSoftwareKeys && rootDefault.type == o.rootDefault.type &&
               rootDefault.data == o.rootDefault.data &&
               softwareDefault.type == o.softwareDefault.type &&
               softwareDefault.data == o.softwareDefault.data;
    }
};

HiveShape ShapeOfCurrentUser()
{
    HiveShape shape;
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &shape.dwSoftwareKeys, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(hKey);
    }
    shape.rootDefault = ReadValue(L"", L"");
    shape.softwareDefault = ReadValue(L"Software", L"");
    return shape;
}

TEST_F(RegistryTest, SharedKeysAreRefusedForEveryCommand)
{
    // Keys of our own first, so that a refusal is seen to spare something.
    RunLine(L"CREATEKEY", std::wstring(L"<HKEY_CURRENT_USER>,") + kKey + L"\\Sub,Name,<REG_SZ>,x");
    ASSERT_EQ(ReadValue(std::wstring(kKey) + L"\\Sub", L"Name").type, static_cast<DWORD>(REG_SZ));
    HiveShape before = ShapeOfCurrentUser();
    ASSERT_GT(before.dwSoftwareKeys, 0u);
    struct Case {
        const wchar_t* command;
        std::wstring params;
        const char* refused;  // the start of the trace line that says why
    };
    const std::wstring own = std::wstring(L"<HKEY_CURRENT_USER>,") + kKey;
    const Case cases[] = {
        {L"REMOVEKEY", L"<HKEY_CURRENT_USER>,Software", "ScriptRemoveKey(<HKEY_CURRENT_USER>,Software)->Refused: a key every program shares"},
        {L"REMOVEKEY", L"<HKEY_CURRENT_USER>,\\software\\", "ScriptRemoveKey(<HKEY_CURRENT_USER>,\\software\\)->Refused: a key every program shares"},
        {L"REMOVEKEY", L"<HKEY_CURRENT_USER>,", "ScriptRemoveKey(<HKEY_CURRENT_USER>,)->Refused: the root of the hive"},
        {L"REMOVEKEY", L"<HKEY_CURRENT_USER>,Software\\Microsoft\\Windows\\CurrentVersion\\Run",
         "ScriptRemoveKey(<HKEY_CURRENT_USER>,Software\\Microsoft\\Windows\\CurrentVersion\\Run)->Refused: a list every program shares"},
        {L"REMOVEKEY", L"<HKEY_CURRENT_USER>,Software\\Microsoft\\Windows", "ScriptRemoveKey(<HKEY_CURRENT_USER>,Software\\Microsoft\\Windows)->Refused"},
        {L"REMOVEKEY", L"<HKEY_LOCAL_MACHINE>,SYSTEM\\CurrentControlSet", "ScriptRemoveKey(<HKEY_LOCAL_MACHINE>,SYSTEM\\CurrentControlSet)->Refused"},
        {L"REMOVEKEY", L"<HKEY_USERS>,.DEFAULT", "ScriptRemoveKey(<HKEY_USERS>,.DEFAULT)->Refused: a user's hive"},
        {L"REMOVEKEY", L"<HKEY_CLASSES_ROOT>,CLSID", "ScriptRemoveKey(<HKEY_CLASSES_ROOT>,CLSID)->Refused"},
        {L"REMOVEKEY", L"<HKEY_CURRENT_USER>,Software,", "ScriptRemoveKey(<HKEY_CURRENT_USER>,Software)->Refused"},
        {L"CREATEKEY", L"<HKEY_CURRENT_USER>,<COMPANYNAME>,,<REG_SZ>,x", "ScriptCreateKey(<HKEY_CURRENT_USER>,)->Refused: <COMPANYNAME> stood for nothing"},
        {L"CREATEKEY", L"<HKEY_CURRENT_USER>,Software\\<COMPANYNAME>,,<REG_SZ>,x", "ScriptCreateKey(<HKEY_CURRENT_USER>,Software\\)->Refused: <COMPANYNAME> stood for nothing"},
        {L"CREATEKEY", L"<HKEY_CURRENT_USER>,Software,,<REG_SZ>,x", "ScriptCreateKey(<HKEY_CURRENT_USER>,Software)->Refused: a key every program shares"},
        {L"CREATEKEY", L"<HKEY_CURRENT_USER>,,Name,<REG_SZ>,x", "ScriptCreateKey(<HKEY_CURRENT_USER>,)->Refused: the root of the hive"},
        {L"COPYREGISTRY", own + L",<HKEY_CURRENT_USER>,,0", "ScriptCopyRegistry(<HKEY_CURRENT_USER>,)->Refused: the root of the hive"},
        {L"COPYREGISTRY", own + L",<HKEY_CURRENT_USER>,Software,1", "ScriptCopyRegistry(<HKEY_CURRENT_USER>,Software)->Refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.command) + "=" + Narrow(c.params.c_str()));
        tracesink::Clear();
        RunLine(c.command, c.params);
        EXPECT_EQ(LastResult(), "0");
        EXPECT_TRUE(tracesink::ContainsPrefix(c.refused)) << c.refused << "\n" << tracesink::Dump();
    }
    EXPECT_TRUE(ShapeOfCurrentUser() == before);
    EXPECT_EQ(ReadValue(std::wstring(kKey) + L"\\Sub", L"Name").type, static_cast<DWORD>(REG_SZ));

    // Below them, and in the shared lists, a package's own entries work.
    const wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    RunLine(L"CREATEKEY", std::wstring(L"<HKEY_CURRENT_USER>,") + kRun + L",StowawayTestRun,<REG_SZ>,x");
    EXPECT_EQ(LastResult(), "1");
    RunLine(L"REMOVEKEY", std::wstring(L"<HKEY_CURRENT_USER>,") + kRun + L",StowawayTestRun");
    EXPECT_EQ(LastResult(), "1");
    EXPECT_EQ(ReadValue(kRun, L"StowawayTestRun").type, static_cast<DWORD>(-1));
    RunLine(L"REMOVEKEY", std::wstring(L"<HKEY_CURRENT_USER>,") + kKey);
    EXPECT_EQ(LastResult(), "1");
}

}  // namespace
