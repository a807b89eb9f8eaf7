// COM self-registration of a file: DLLs through their exported entry
// points, programs through /regserver and /unregserver.
#pragma once
#include <windows.h>

// Registers (bRegister nonzero) or unregisters szFile. szParams goes first
// on the command line of a program. 0, or the reason: the launch's for a
// program, 50 (ERROR_NOT_SUPPORTED) for a file type that registers neither way.
[[nodiscard]] DWORD RegisterFile(LPCWSTR szFile, LPCWSTR szParams, BOOL bRegister);
