#include "common/osversion.h"
#include "common/boundedtext.h"
#include "common/errors.h"
#include "common/trace.h"

OSVERSIONRECORD g_OsVersion;
WCHAR g_szSP[OSSP_CCH];

namespace {

const WORD PRODUCT_SERVER = 3;  // VER_NT_SERVER
const WORD SUITE_ENTERPRISE = 0x0002;
const WORD SUITE_DATACENTER = 0x0080;
const WORD SUITE_PERSONAL = 0x0200;  // Home Edition
const WORD SUITE_BLADE = 0x0400;     // Web Edition

typedef BOOL(WINAPI* PFN_ISWOW64PROCESS)(HANDLE, PBOOL);

void SetRow(OSVERSIONRECORD& rec, LPCWSTR szCode, LPCWSTR szName)
{
    // The table's codes and names fit their fields.
    (void)StringCchCopyW(rec.szOsCode, OSCODE_CCH, szCode);
    (void)StringCchCopyW(rec.szOsName, OSNAME_CCH, szName);
    DebugTrace(L"GetOSVersion()->%s", rec.szOsName);
}

void DescribeWindows9x(const OSVERSIONINFOEXW& osvi, OSVERSIONRECORD& rec, WCHAR (&szSP)[OSSP_CCH])
{
    // The second character of the service-pack text names the release:
    // " B" / " C" for the 95 OSRs, " A" for 98 Second Edition.
    WCHAR chRelease = osvi.szCSDVersion[0] ? osvi.szCSDVersion[1] : L'\0';
    if (osvi.dwMajorVersion != 4)
        return;
    if (osvi.dwMinorVersion == 0) {
        rec.bWin95 = 1;
        SetRow(rec, L"1A0", L"Windows 95");
        if (chRelease == L'C') {
            // One letter fits.
            (void)StringCchCopyW(szSP, OSSP_CCH, L"C");
            rec.dwServicePack = 2;
        } else if (chRelease == L'B') {
            (void)StringCchCopyW(szSP, OSSP_CCH, L"B");
            rec.dwServicePack = 1;
        } else {
            (void)StringCchCopyW(szSP, OSSP_CCH, L"A");
        }
        DebugTrace(L"GetOSVersion()->Version %s", szSP);
    } else if (osvi.dwMinorVersion == 10) {
        rec.bWin98 = 1;
        SetRow(rec, L"2A0", L"Windows 98");
        if (chRelease == L'A') {
            (void)StringCchCopyW(szSP, OSSP_CCH, L"2");
            rec.dwServicePack = 1;
            DebugTraceA("GetOSVersion()->Version SE ");
        } else {
            (void)StringCchCopyW(szSP, OSSP_CCH, L"1");
            DebugTraceA("GetOSVersion()->Version FE ");
        }
    } else if (osvi.dwMinorVersion == 90) {
        rec.bWinME = 1;
        SetRow(rec, L"3A0", L"Windows Millennium");
    }
}

void DescribeWindowsNT(const OSVERSIONINFOEXW& osvi, BOOL bWin64, OSVERSIONRECORD& rec,
                       WCHAR (&szSP)[OSSP_CCH])
{
    const DWORD dwMajor = osvi.dwMajorVersion;
    const DWORD dwMinor = osvi.dwMinorVersion;
    const bool bServer = osvi.wProductType == PRODUCT_SERVER;
    const WORD wSuite = osvi.wSuiteMask;
    const DWORD dwBuild = osvi.dwBuildNumber & 0xFFFF;

    rec.bWinNT = 1;
    if (dwMajor < 5) {
        rec.bWinNT4 = 1;
        SetRow(rec, L"4B0", L"Windows NT4");
        if (bServer) {
            DebugTraceA((wSuite & SUITE_ENTERPRISE) ? "GetOSVersion()->Server 4.0, Enterprise Edition "
                                                    : "GetOSVersion()->Server 4.0 ");
        } else if (dwMajor == 4) {
            DebugTraceA("GetOSVersion()->Workstation 4.0");
        } else {
            DebugTraceA((wSuite & SUITE_PERSONAL) ? "GetOSVersion()->Home Edition"
                                                  : "GetOSVersion()->Professional");
        }
    } else if (dwMajor == 5 && dwMinor == 0) {
        rec.bWin2000 = 1;
        SetRow(rec, L"5B0", L"Windows 2000");
        if (bServer) {
            if (wSuite & SUITE_DATACENTER)
                DebugTraceA("GetOSVersion()->Datacenter Server ");
            else if (wSuite & SUITE_ENTERPRISE)
                DebugTraceA("GetOSVersion()->Advanced Server ");
            else
                DebugTraceA("GetOSVersion()->Server ");
        }
    } else if (dwMajor == 5 && dwMinor == 1) {
        rec.bWinXP = 1;
        SetRow(rec, L"6B0", L"Windows XP");
    } else if (dwMajor == 5) {
        rec.bWin2000 = 1;
        rec.bWin2003 = 1;
        SetRow(rec, L"7B0", L"Windows Server 2003");
        if (bServer) {
            if (wSuite & SUITE_DATACENTER)
                DebugTraceA("GetOSVersion()->Datacenter Edition ");
            else if (wSuite & SUITE_ENTERPRISE)
                DebugTraceA("GetOSVersion()->Enterprise Edition ");
            else if (wSuite & SUITE_BLADE)
                DebugTraceA("GetOSVersion()->Web Edition ");
            else
                DebugTraceA("GetOSVersion()->Standard Edition ");
        }
    } else if (dwMajor == 6 && dwMinor == 0) {
        rec.bWinVista = 1;
        SetRow(rec, L"8B0", L"Windows Vista");
    } else if (dwMajor == 6 && dwMinor == 1) {
        rec.bWinSeven = 1;
        SetRow(rec, L"9B0", L"Windows Seven");
    } else {
        // 6.2 and everything later: the table ends with Windows 8.
        rec.bWinEight = 1;
        SetRow(rec, L"10B0", L"Windows 8");
    }

    if (dwMajor == 4 && lstrcmpW(osvi.szCSDVersion, L"Service Pack 6") == 0) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", 0,
                          KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
            DebugTrace(L"GetOSVersion()->Service Pack 6a (Build %d)", dwBuild);
            RegCloseKey(hKey);
        }
    }

    rec.dwServicePack = osvi.wServicePackMajor;
    // Service packs above 999 are cut to three digits, as SP filters read them.
    (void)StringCchPrintfW(szSP, OSSP_CCH, L"%d", static_cast<int>(osvi.wServicePackMajor));
    DebugTrace(L"GetOSVersion()->Service Pack=%s (Minor=%d) (Build %d)", szSP,
               static_cast<int>(osvi.wServicePackMinor), dwBuild);

    rec.bWin64 = bWin64 ? 1 : 0;
    if (!rec.bWin64) {
        DebugTraceA("GetOSVersion()->Windows 32 bits");
        return;
    }
    DebugTraceA("GetOSVersion()->Windows 64 bits");
    if (rec.bWin2003) {
        rec.bWinXP = 1;
        SetRow(rec, L"6C0", L"Windows XP 64");
        return;
    }
    // The family letter: B for 32-bit, C for 64-bit.
    for (WCHAR* p = rec.szOsCode; *p; ++p)
        if (*p == L'B')
            *p = L'C';
    WCHAR szName[OSNAME_CCH];
    // A table name and " 64" fit.
    (void)StringCchCopyW(szName, OSNAME_CCH, rec.szOsName);
    (void)StringCchCatW(szName, OSNAME_CCH, L" 64");
    SetRow(rec, rec.szOsCode, szName);
}

}  // namespace

DWORD QueryOSVersion(OSVERSIONINFOEXW& osvi, BOOL* pbExtended)
{
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    BOOL bExtended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&osvi));
    if (pbExtended)
        *pbExtended = bExtended;
    if (bExtended)
        return ERROR_SUCCESS;
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&osvi)))
        return LastErrorOr(ERROR_NOT_SUPPORTED);
    return ERROR_SUCCESS;
}

void DescribeOSVersion(const OSVERSIONINFOEXW& osvi, BOOL bWin64, OSVERSIONRECORD& rec,
                       WCHAR (&szSP)[OSSP_CCH])
{
    ZeroMemory(&rec, sizeof(rec));
    szSP[0] = L'\0';
    DebugTraceA("GetOSVersion()->MajorVersion=%d MinorVersion=%d",
                static_cast<int>(osvi.dwMajorVersion), static_cast<int>(osvi.dwMinorVersion));
    rec.dwMajorVersion = osvi.dwMajorVersion;
    rec.dwMinorVersion = osvi.dwMinorVersion;

    switch (osvi.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        DebugTraceA("GetOSVersion()->Microsoft Win32s");
        break;
    case VER_PLATFORM_WIN32_WINDOWS:
        DescribeWindows9x(osvi, rec, szSP);
        break;
    case VER_PLATFORM_WIN32_NT:
        DescribeWindowsNT(osvi, bWin64, rec, szSP);
        break;
    default:
        break;
    }
}

DWORD GetOSVersion()
{
    OSVERSIONINFOEXW osvi;
    BOOL bExtended = FALSE;
    DWORD dwRead = QueryOSVersion(osvi, &bExtended);
    if (!bExtended)
        DebugTraceA("GetOSVersion()->OSVERSIONINFOEX failed");
    if (dwRead != ERROR_SUCCESS)
        return dwRead;

    // The emulation layer only exists on the NT platform.
    BOOL bWin64 = osvi.dwPlatformId == VER_PLATFORM_WIN32_NT && IsWindows64();
    OSVERSIONRECORD rec;
    WCHAR szSP[OSSP_CCH];
    DescribeOSVersion(osvi, bWin64, rec, szSP);
    g_OsVersion = rec;
    // Same capacity.
    (void)StringCchCopyW(g_szSP, OSSP_CCH, szSP);
    return ERROR_SUCCESS;
}

DWORD GetOSVersion(DWORD* pdwMajor, DWORD* pdwMinor)
{
    OSVERSIONINFOEXW osvi;
    BOOL bExtended = FALSE;
    DWORD dwRead = QueryOSVersion(osvi, &bExtended);
    if (!bExtended)
        DebugTraceA("GetOSVersion()->OSVERSIONINFOEX failed");
    if (dwRead != ERROR_SUCCESS)
        return dwRead;
    if (pdwMajor)
        *pdwMajor = osvi.dwMajorVersion;
    if (pdwMinor)
        *pdwMinor = osvi.dwMinorVersion;
    DebugTrace(L"GetOSVersion()->MajorVersion=%d MinorVersion=%d",
               static_cast<int>(osvi.dwMajorVersion), static_cast<int>(osvi.dwMinorVersion));
    return ERROR_SUCCESS;
}

BOOL CheckWinNT()
{
    OSVERSIONINFOEXW osvi;
    BOOL bExtended = FALSE;
    BOOL bRead = QueryOSVersion(osvi, &bExtended) == ERROR_SUCCESS;
    if (!bExtended)
        DebugTraceA("CheckWinNT()->OSVERSIONINFOEX failed");
    return bRead && osvi.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

BOOL IsVistaOrMore()
{
    OSVERSIONINFOEXW osvi;
    if (QueryOSVersion(osvi, nullptr) != ERROR_SUCCESS)
        return FALSE;
    DebugTrace(L"IsVistaOrMore()->MajorVersion=%d", static_cast<int>(osvi.dwMajorVersion));
    return osvi.dwMajorVersion >= 6;
}

BOOL IsSevenOrMore()
{
    OSVERSIONINFOEXW osvi;
    if (QueryOSVersion(osvi, nullptr) != ERROR_SUCCESS)
        return FALSE;
    DebugTraceA("IsSevenOrMore()->MajorVersion=%d osvi.dwMinorVersion=%d",
                static_cast<int>(osvi.dwMajorVersion), static_cast<int>(osvi.dwMinorVersion));
    return osvi.dwMajorVersion > 6 || (osvi.dwMajorVersion == 6 && osvi.dwMinorVersion > 0);
}

BOOL IsWindows64()
{
#ifdef _WIN64
    // A 64-bit program runs on 64-bit Windows only, and outside the emulation
    // layer, which therefore reports false for it.
    return TRUE;
#else
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    if (!hKernel)
        return FALSE;
    auto pIsWow64Process = reinterpret_cast<PFN_ISWOW64PROCESS>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "IsWow64Process")));
    BOOL bWow64 = FALSE;
    if (!pIsWow64Process || !pIsWow64Process(GetCurrentProcess(), &bWow64))
        return FALSE;
    return bWow64 ? TRUE : FALSE;
#endif
}

BOOL CheckOs(LPCWSTR szOsCode, LPCWSTR szFilter)
{
    LPCWSTR szCode = szOsCode ? szOsCode : L"";
    LPCWSTR szTemp = (szFilter && szFilter[0]) ? szFilter : L"0";
    for (size_t i = 0; szTemp[i]; ++i) {
        WCHAR chTried = szTemp[i];
        DebugTrace(L"CheckOs(%s, %s)->szCar[0]=%c szTemp[i]=%c", szCode, szTemp, chTried, chTried);
        if (wcschr(szCode, chTried)) {
            DebugTrace(L"CheckOs(%s, %s)->TRUE", szCode, szTemp);
            return TRUE;
        }
    }
    return FALSE;
}
