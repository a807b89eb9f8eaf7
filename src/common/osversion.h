// Which Windows runs us: detected once at start-up and kept for the
// script's OS and service-pack filters and for the log.
#pragma once
#include <windows.h>

enum : unsigned {
    OSCODE_CCH = 5,   // "10B0"
    OSSP_CCH = 4,     // service-pack text
    OSNAME_CCH = 32,  // "Windows Server 2003"
};

struct OSVERSIONRECORD {
    DWORD bWin95;
    DWORD bWin98;
    DWORD bWinME;
    DWORD bWinNT;  // NT family
    DWORD bWinNT4;
    DWORD bWin2000;
    DWORD bWinXP;
    DWORD bWin2003;
    DWORD bWinVista;
    DWORD bWinSeven;
    DWORD bWinEight;
    DWORD bWin64;  // running under the 64-bit emulation layer
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwServicePack;
    WCHAR szOsCode[OSCODE_CCH];
    WCHAR szOsName[OSNAME_CCH];
};

// Process-wide: facts of the machine, read once at start-up.
extern OSVERSIONRECORD g_OsVersion;  // filled by GetOSVersion()
extern WCHAR g_szSP[OSSP_CCH];       // service pack: "1", or "A"/"B"/"C" on 95

// Detects the running system into g_OsVersion and g_szSP. 0, or the reason
// the version could not be read (record untouched).
[[nodiscard]] DWORD GetOSVersion();
// The system's major and minor version numbers. 0, or the reason.
[[nodiscard]] DWORD GetOSVersion(DWORD* pdwMajor, DWORD* pdwMinor);

// Fills a record and service-pack text from a version query and the 64-bit
// flag (which only counts on the NT platform); logs like GetOSVersion().
void DescribeOSVersion(const OSVERSIONINFOEXW& osvi, BOOL bWin64, OSVERSIONRECORD& rec,
                       WCHAR (&szSP)[OSSP_CCH]);

// Extended version query, else the basic one. pbExtended tells which one
// answered (the edition and service-pack fields exist only in the extended).
// 0, or the reason neither answered.
[[nodiscard]] DWORD QueryOSVersion(OSVERSIONINFOEXW& osvi, BOOL* pbExtended);

[[nodiscard]] BOOL CheckWinNT();
[[nodiscard]] BOOL IsVistaOrMore();
[[nodiscard]] BOOL IsSevenOrMore();
[[nodiscard]] BOOL IsWindows64();
// 1 when any character of the filter occurs in the OS code; an empty filter
// stands for "0", which every code contains.
[[nodiscard]] BOOL CheckOs(LPCWSTR szOsCode, LPCWSTR szFilter);
