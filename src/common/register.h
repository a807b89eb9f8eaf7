// COM self-registration of a file: DLLs through their exported entry
// points, programs through /regserver and /unregserver.
#pragma once
#include <windows.h>

// Registers (bRegister nonzero) or unregisters szFile. szParams goes first
// on the command line of a program. 1 (or the launch result for a program)
// on success, 0 on failure or for an unsupported file type.
[[nodiscard]] BOOL RegisterFile(LPCWSTR szFile, LPCWSTR szParams, BOOL bRegister);
