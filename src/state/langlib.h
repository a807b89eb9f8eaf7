// Loading a language library: a resource-only file that the package
// carries, checked before any dialog or string is taken from it.
#pragma once
#include <windows.h>

enum : DWORD {
    LANGLIB_MAX_BYTES = 16 * 1024 * 1024,  // larger files are no language library
};

// Checks the file at szPath: a Windows image whose resources hold, each
// whole and inside the file, the dialogs the run shows (150, 200, 189,
// 13085), the tray menu 138 and the interface strings. FALSE, with a trace
// line that names the reason, when it does not.
[[nodiscard]] BOOL CheckLanguageLibrary(LPCWSTR szPath);

// Checks the library, then loads it as data (its resources only, no code).
// Null when the check or the load fails: the program's own English serves.
[[nodiscard]] HMODULE LoadCheckedLanguageLibrary(LPCWSTR szPath);
