// Version resources: reading their strings and turning version texts into
// numbers that compare like the versions.
#pragma once
#include <windows.h>

// Value of a string of the module's own version resource (resource 1).
// Returns 1 and the value when found; otherwise 0 and an empty output.
[[nodiscard]] BOOL GetLocalVersionInfo(HMODULE hModule, LPCWSTR szName, LPWSTR szOut, DWORD cchOut);

// Value of a string of a file's version information. Returns 1 when the
// file has version information (the value may still be empty), else 0;
// the output is empty whenever the value was not found.
[[nodiscard]] BOOL GetFileVersionString(LPCWSTR szFile, LPCWSTR szName, LPWSTR szOut, DWORD cchOut);

// "2.1.0.37" (or "2,1,0,37") -> comparable number of major, minor, build.
DWORD VersionTextToID(LPCWSTR szVersion);

// major * 16777216 + minor * 65536 + build, for minor < 256, build < 65536.
DWORD VerNumToID(DWORD dwMajor, DWORD dwMinor, DWORD dwBuild);
