#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "common/osversion.h"
#include "support/tracesink.h"

namespace {

std::string Narrow(const wchar_t* text)
{
    std::string out;
    for (; *text; ++text)
        out += static_cast<char>(*text);
    return out;
}

// The flags of a record, in a fixed order, as one text.
std::string FlagsOf(const OSVERSIONRECORD& rec)
{
    const struct {
        DWORD value;
        const char* name;
    } flags[] = {
        {rec.bWin95, "95"},        {rec.bWin98, "98"},         {rec.bWinME, "ME"},
        {rec.bWinNT, "NT"},        {rec.bWinNT4, "NT4"},       {rec.bWin2000, "2000"},
        {rec.bWinXP, "XP"},        {rec.bWin2003, "2003"},     {rec.bWinVista, "Vista"},
        {rec.bWinSeven, "Seven"},  {rec.bWinEight, "Eight"},   {rec.bWin64, "64"},
    };
    std::string out;
    for (const auto& flag : flags) {
        if (!flag.value)
            continue;
        if (!out.empty())
            out += ",";
        out += flag.name;
    }
    return out;
}

struct VersionCase {
    const char* what;
    DWORD platform, major, minor, build;
    const wchar_t* csd;
    WORD spMajor, spMinor, productType, suite;
    BOOL bWin64;
    const char* code;
    const char* name;
    const char* sp;
    DWORD servicePack;
    const char* flags;
    std::vector<std::string> log;  // every line after "MajorVersion=..."
};

const DWORD NT = VER_PLATFORM_WIN32_NT;
const DWORD W9X = VER_PLATFORM_WIN32_WINDOWS;
const WORD WKS = 1;  // workstation
const WORD SRV = 3;  // server

const std::string P = "GetOSVersion()->";

const VersionCase kCases[] = {
    {"95 OSR C", W9X, 4, 0, 950, L" C", 0, 0, 0, 0, FALSE, "1A0", "Windows 95", "C", 2, "95",
     {P + "Windows 95", P + "Version C"}},
    {"95 OSR B", W9X, 4, 0, 950, L" B", 0, 0, 0, 0, FALSE, "1A0", "Windows 95", "B", 1, "95",
     {P + "Windows 95", P + "Version B"}},
    {"95 first", W9X, 4, 0, 950, L"", 0, 0, 0, 0, FALSE, "1A0", "Windows 95", "A", 0, "95",
     {P + "Windows 95", P + "Version A"}},
    {"98 SE", W9X, 4, 10, 2222, L" A ", 0, 0, 0, 0, FALSE, "2A0", "Windows 98", "2", 1, "98",
     {P + "Windows 98", P + "Version SE "}},
    {"98 first", W9X, 4, 10, 1998, L"", 0, 0, 0, 0, FALSE, "2A0", "Windows 98", "1", 0, "98",
     {P + "Windows 98", P + "Version FE "}},
    {"Millennium", W9X, 4, 90, 3000, L"", 0, 0, 0, 0, FALSE, "3A0", "Windows Millennium", "", 0, "ME",
     {P + "Windows Millennium"}},
    {"Win32s", VER_PLATFORM_WIN32s, 3, 10, 0, L"", 0, 0, 0, 0, FALSE, "", "", "", 0, "",
     {P + "Microsoft Win32s"}},
    {"NT 4 workstation", NT, 4, 0, 1381, L"", 6, 0, WKS, 0, FALSE, "4B0", "Windows NT4",
     "6", 6, "NT,NT4",
     {P + "Windows NT4", P + "Workstation 4.0", P + "Service Pack=6 (Minor=0) (Build 1381)",
      P + "Windows 32 bits"}},
    {"NT 4 enterprise server", NT, 4, 0, 1381, L"", 5, 0, SRV, 0x2, FALSE, "4B0", "Windows NT4", "5", 5,
     "NT,NT4",
     {P + "Windows NT4", P + "Server 4.0, Enterprise Edition ",
      P + "Service Pack=5 (Minor=0) (Build 1381)", P + "Windows 32 bits"}},
    {"NT 4 server", NT, 4, 0, 1381, L"", 0, 0, SRV, 0, FALSE, "4B0", "Windows NT4", "0", 0, "NT,NT4",
     {P + "Windows NT4", P + "Server 4.0 ", P + "Service Pack=0 (Minor=0) (Build 1381)",
      P + "Windows 32 bits"}},
    {"NT 3.51 home suite", NT, 3, 51, 1057, L"", 0, 0, WKS, 0x200, FALSE, "4B0", "Windows NT4", "0", 0,
     "NT,NT4",
     {P + "Windows NT4", P + "Home Edition", P + "Service Pack=0 (Minor=0) (Build 1057)",
      P + "Windows 32 bits"}},
    {"NT 3.51", NT, 3, 51, 1057, L"", 0, 0, WKS, 0, FALSE, "4B0", "Windows NT4", "0", 0, "NT,NT4",
     {P + "Windows NT4", P + "Professional", P + "Service Pack=0 (Minor=0) (Build 1057)",
      P + "Windows 32 bits"}},
    {"2000 professional", NT, 5, 0, 2195, L"Service Pack 4", 4, 0, WKS, 0, FALSE, "5B0",
     "Windows 2000", "4", 4, "NT,2000",
     {P + "Windows 2000", P + "Service Pack=4 (Minor=0) (Build 2195)", P + "Windows 32 bits"}},
    {"2000 datacenter", NT, 5, 0, 2195, L"", 0, 0, SRV, 0x82, FALSE, "5B0", "Windows 2000", "0", 0,
     "NT,2000",
     {P + "Windows 2000", P + "Datacenter Server ", P + "Service Pack=0 (Minor=0) (Build 2195)",
      P + "Windows 32 bits"}},
    {"2000 advanced", NT, 5, 0, 2195, L"", 0, 0, SRV, 0x2, FALSE, "5B0", "Windows 2000", "0", 0,
     "NT,2000",
     {P + "Windows 2000", P + "Advanced Server ", P + "Service Pack=0 (Minor=0) (Build 2195)",
      P + "Windows 32 bits"}},
    {"2000 server", NT, 5, 0, 2195, L"", 0, 0, SRV, 0, FALSE, "5B0", "Windows 2000", "0", 0, "NT,2000",
     {P + "Windows 2000", P + "Server ", P + "Service Pack=0 (Minor=0) (Build 2195)",
      P + "Windows 32 bits"}},
    {"XP SP3", NT, 5, 1, 2600, L"Service Pack 3", 3, 0, WKS, 0x100, FALSE, "6B0", "Windows XP", "3", 3,
     "NT,XP",
     {P + "Windows XP", P + "Service Pack=3 (Minor=0) (Build 2600)", P + "Windows 32 bits"}},
    {"2003 web", NT, 5, 2, 3790, L"", 2, 0, SRV, 0x400, FALSE, "7B0", "Windows Server 2003", "2", 2,
     "NT,2000,2003",
     {P + "Windows Server 2003", P + "Web Edition ", P + "Service Pack=2 (Minor=0) (Build 3790)",
      P + "Windows 32 bits"}},
    {"2003 datacenter", NT, 5, 2, 3790, L"", 0, 0, SRV, 0x80, FALSE, "7B0", "Windows Server 2003", "0",
     0, "NT,2000,2003",
     {P + "Windows Server 2003", P + "Datacenter Edition ", P + "Service Pack=0 (Minor=0) (Build 3790)",
      P + "Windows 32 bits"}},
    {"2003 enterprise", NT, 5, 2, 3790, L"", 0, 0, SRV, 0x2, FALSE, "7B0", "Windows Server 2003", "0",
     0, "NT,2000,2003",
     {P + "Windows Server 2003", P + "Enterprise Edition ", P + "Service Pack=0 (Minor=0) (Build 3790)",
      P + "Windows 32 bits"}},
    {"2003 standard", NT, 5, 2, 3790, L"", 0, 0, SRV, 0, FALSE, "7B0", "Windows Server 2003", "0", 0,
     "NT,2000,2003",
     {P + "Windows Server 2003", P + "Standard Edition ", P + "Service Pack=0 (Minor=0) (Build 3790)",
      P + "Windows 32 bits"}},
    {"XP 64 (5.2 on 64-bit)", NT, 5, 2, 3790, L"Service Pack 2", 2, 0, WKS, 0, TRUE, "6C0",
     "Windows XP 64", "2", 2, "NT,2000,XP,2003,64",
     {P + "Windows Server 2003", P + "Service Pack=2 (Minor=0) (Build 3790)", P + "Windows 64 bits",
      P + "Windows XP 64"}},
    {"XP on 64-bit", NT, 5, 1, 2600, L"", 3, 0, WKS, 0, TRUE, "6C0", "Windows XP 64", "3", 3,
     "NT,XP,64",
     {P + "Windows XP", P + "Service Pack=3 (Minor=0) (Build 2600)", P + "Windows 64 bits",
      P + "Windows XP 64"}},
    {"Vista SP2", NT, 6, 0, 6002, L"Service Pack 2", 2, 0, WKS, 0, FALSE, "8B0", "Windows Vista", "2",
     2, "NT,Vista",
     {P + "Windows Vista", P + "Service Pack=2 (Minor=0) (Build 6002)", P + "Windows 32 bits"}},
    {"Seven SP1", NT, 6, 1, 7601, L"Service Pack 1", 1, 0, WKS, 0, FALSE, "9B0", "Windows Seven", "1",
     1, "NT,Seven",
     {P + "Windows Seven", P + "Service Pack=1 (Minor=0) (Build 7601)", P + "Windows 32 bits"}},
    {"Seven 64 SP1", NT, 6, 1, 7601, L"Service Pack 1", 1, 0, WKS, 0, TRUE, "9C0",
     "Windows Seven 64", "1", 1, "NT,Seven,64",
     {P + "Windows Seven", P + "Service Pack=1 (Minor=0) (Build 7601)", P + "Windows 64 bits",
      P + "Windows Seven 64"}},
    {"8", NT, 6, 2, 9200, L"", 0, 0, WKS, 0, FALSE, "10B0", "Windows 8", "0", 0, "NT,Eight",
     {P + "Windows 8", P + "Service Pack=0 (Minor=0) (Build 9200)", P + "Windows 32 bits"}},
    {"8.1 gets the Windows 8 row", NT, 6, 3, 9600, L"", 0, 0, WKS, 0, FALSE, "10B0", "Windows 8", "0",
     0, "NT,Eight",
     {P + "Windows 8", P + "Service Pack=0 (Minor=0) (Build 9600)", P + "Windows 32 bits"}},
    {"10 gets the Windows 8 row, build low 16 bits", NT, 10, 0, 0x10000 + 19045, L"", 0, 0, WKS, 0,
     FALSE, "10B0", "Windows 8", "0", 0, "NT,Eight",
     {P + "Windows 8", P + "Service Pack=0 (Minor=0) (Build 19045)", P + "Windows 32 bits"}},
    {"10 64-bit", NT, 10, 0, 19045, L"", 0, 0, WKS, 0, TRUE, "10C0", "Windows 8 64", "0", 0,
     "NT,Eight,64",
     {P + "Windows 8", P + "Service Pack=0 (Minor=0) (Build 19045)", P + "Windows 64 bits",
      P + "Windows 8 64"}},
    {"service pack text cut to 3 characters", NT, 6, 1, 7601, L"", 1234, 5, WKS, 0, FALSE, "9B0",
     "Windows Seven", "123", 1234, "NT,Seven",
     {P + "Windows Seven", P + "Service Pack=123 (Minor=5) (Build 7601)", P + "Windows 32 bits"}},
};

OSVERSIONINFOEXW MakeVersion(const VersionCase& c)
{
    OSVERSIONINFOEXW osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    osvi.dwPlatformId = c.platform;
    osvi.dwMajorVersion = c.major;
    osvi.dwMinorVersion = c.minor;
    osvi.dwBuildNumber = c.build;
    lstrcpynW(osvi.szCSDVersion, c.csd, 128);
    osvi.wServicePackMajor = c.spMajor;
    osvi.wServicePackMinor = c.spMinor;
    osvi.wProductType = static_cast<BYTE>(c.productType);
    osvi.wSuiteMask = c.suite;
    return osvi;
}

TEST(DescribeOSVersion, EveryRowOfTheVersionTable)
{
    for (const VersionCase& c : kCases) {
        tracesink::Clear();
        OSVERSIONRECORD rec;
        WCHAR szSP[OSSP_CCH];
        DescribeOSVersion(MakeVersion(c), c.bWin64, rec, szSP);
        EXPECT_EQ(Narrow(rec.szOsCode), c.code) << c.what;
        EXPECT_EQ(Narrow(rec.szOsName), c.name) << c.what;
        EXPECT_EQ(Narrow(szSP), c.sp) << c.what;
        EXPECT_EQ(rec.dwServicePack, c.servicePack) << c.what;
        EXPECT_EQ(FlagsOf(rec), c.flags) << c.what;
        EXPECT_EQ(rec.dwMajorVersion, c.major) << c.what;
        EXPECT_EQ(rec.dwMinorVersion, c.minor) << c.what;

        std::vector<std::string> expected = {P + "MajorVersion=" + std::to_string(c.major) +
                                             " MinorVersion=" + std::to_string(c.minor)};
        expected.insert(expected.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(tracesink::Lines(), expected) << c.what;
    }
}

// NT 4 with "Service Pack 6" looks for the 6a hotfix key (Wine's own
// registry carries it; it is made when missing).
TEST(DescribeOSVersion, ServicePack6aHotfixIsLogged)
{
    const wchar_t* szKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
    HKEY hKey = nullptr;
    DWORD dwDisposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, szKey, 0, nullptr, 0, KEY_READ, nullptr, &hKey,
                              &dwDisposition),
              ERROR_SUCCESS);
    RegCloseKey(hKey);

    const struct {
        const wchar_t* csd;
        bool bLogged;
    } cases[] = {{L"Service Pack 6", true}, {L"Service Pack 5", false}};
    for (const auto& c : cases) {
        VersionCase vc = kCases[0];
        for (const VersionCase& row : kCases)
            if (std::string(row.what) == "NT 4 workstation")
                vc = row;
        vc.csd = c.csd;
        tracesink::Clear();
        OSVERSIONRECORD rec;
        WCHAR szSP[OSSP_CCH];
        DescribeOSVersion(MakeVersion(vc), FALSE, rec, szSP);
        EXPECT_EQ(tracesink::Contains("GetOSVersion()->Service Pack 6a (Build 1381)"), c.bLogged)
            << tracesink::Dump();
    }
    if (dwDisposition == REG_CREATED_NEW_KEY)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, szKey);
}

// The test prefix is a 32-bit program on 64-bit Wine reporting Windows 7 SP1.
TEST(GetOSVersion, RunningSystemIsSeven64UnderWine)
{
    tracesink::Clear();
    ASSERT_EQ(GetOSVersion(), 0u);
    EXPECT_EQ(Narrow(g_OsVersion.szOsCode), "9C0");
    EXPECT_EQ(Narrow(g_OsVersion.szOsName), "Windows Seven 64");
    EXPECT_EQ(Narrow(g_szSP), "1");
    EXPECT_EQ(FlagsOf(g_OsVersion), "NT,Seven,64");
    EXPECT_EQ(g_OsVersion.dwMajorVersion, 6u);
    EXPECT_EQ(g_OsVersion.dwMinorVersion, 1u);
    EXPECT_TRUE(tracesink::Contains("GetOSVersion()->MajorVersion=6 MinorVersion=1"));
    EXPECT_TRUE(tracesink::Contains("GetOSVersion()->Windows 64 bits"));
    EXPECT_TRUE(tracesink::Contains("GetOSVersion()->Windows Seven 64")) << tracesink::Dump();
    EXPECT_FALSE(tracesink::Contains("GetOSVersion()->OSVERSIONINFOEX failed"));
}

TEST(GetOSVersion, PredicatesAskTheSystem)
{
    tracesink::Clear();
    DWORD dwMajor = 0;
    DWORD dwMinor = 0;
    EXPECT_EQ(GetOSVersion(&dwMajor, &dwMinor), 0u);
    EXPECT_EQ(dwMajor, 6u);
    EXPECT_EQ(dwMinor, 1u);
    EXPECT_TRUE(CheckWinNT());
    EXPECT_TRUE(IsVistaOrMore());
    EXPECT_TRUE(IsSevenOrMore());
    EXPECT_TRUE(IsWindows64());
    const std::vector<std::string> expected = {
        "GetOSVersion()->MajorVersion=6 MinorVersion=1",
        "IsVistaOrMore()->MajorVersion=6",
        "IsSevenOrMore()->MajorVersion=6 osvi.dwMinorVersion=1",
    };
    EXPECT_EQ(tracesink::Lines(), expected);
}

TEST(CheckOs, FilterIsASetOfCharacters)
{
    const struct {
        const wchar_t* code;
        const wchar_t* filter;
        BOOL result;
        std::vector<std::string> log;
    } cases[] = {
        {L"9C0", L"9", TRUE, {"CheckOs(9C0, 9)->szCar[0]=9 szTemp[i]=9", "CheckOs(9C0, 9)->TRUE"}},
        {L"9C0", L"", TRUE, {"CheckOs(9C0, 0)->szCar[0]=0 szTemp[i]=0", "CheckOs(9C0, 0)->TRUE"}},
        {L"7B0", L"7", TRUE, {"CheckOs(7B0, 7)->szCar[0]=7 szTemp[i]=7", "CheckOs(7B0, 7)->TRUE"}},
        {L"6C0", L"7", FALSE, {"CheckOs(6C0, 7)->szCar[0]=7 szTemp[i]=7"}},
        {L"9B0", L"89", TRUE,
         {"CheckOs(9B0, 89)->szCar[0]=8 szTemp[i]=8", "CheckOs(9B0, 89)->szCar[0]=9 szTemp[i]=9",
          "CheckOs(9B0, 89)->TRUE"}},
        {L"6B0", L"89", FALSE,
         {"CheckOs(6B0, 89)->szCar[0]=8 szTemp[i]=8", "CheckOs(6B0, 89)->szCar[0]=9 szTemp[i]=9"}},
        {L"1A0", L"1", TRUE, {"CheckOs(1A0, 1)->szCar[0]=1 szTemp[i]=1", "CheckOs(1A0, 1)->TRUE"}},
        {L"10B0", L"1", TRUE, {"CheckOs(10B0, 1)->szCar[0]=1 szTemp[i]=1", "CheckOs(10B0, 1)->TRUE"}},
        {L"9C0", L"B", FALSE, {"CheckOs(9C0, B)->szCar[0]=B szTemp[i]=B"}},
        {L"2A0", L"A", TRUE, {"CheckOs(2A0, A)->szCar[0]=A szTemp[i]=A", "CheckOs(2A0, A)->TRUE"}},
        {L"", L"0", FALSE, {"CheckOs(, 0)->szCar[0]=0 szTemp[i]=0"}},
        {L"", L"", FALSE, {"CheckOs(, 0)->szCar[0]=0 szTemp[i]=0"}},
        {L"", L"9C", FALSE,
         {"CheckOs(, 9C)->szCar[0]=9 szTemp[i]=9", "CheckOs(, 9C)->szCar[0]=C szTemp[i]=C"}},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(CheckOs(c.code, c.filter), c.result) << Narrow(c.code) << " / " << Narrow(c.filter);
        EXPECT_EQ(tracesink::Lines(), c.log) << Narrow(c.code) << " / " << Narrow(c.filter);
    }

    // "0" passes on every code the table can give.
    for (const VersionCase& c : kCases) {
        if (c.code[0] == '\0')
            continue;
        std::wstring code(c.code, c.code + strlen(c.code));
        EXPECT_TRUE(CheckOs(code.c_str(), L"0")) << c.code;
    }
}

}  // namespace
