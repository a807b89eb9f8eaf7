// Loading system libraries without the default search order: a launcher
// runs from download folders, where a planted DLL would otherwise be found.
#pragma once
#include <windows.h>

// Restricts the process's DLL search to the system folder. Called first
// thing in WinMain.
void LockDownDllSearch();

// Loads a system library by name from the system folder only.
[[nodiscard]] HMODULE LoadSystemLibrary(LPCWSTR szName);
