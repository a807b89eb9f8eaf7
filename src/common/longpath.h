// The form of a path that the system takes beyond MAX_PATH.
#pragma once
#include <windows.h>
#include <string>

// "\\?\C:\..." or "\\?\UNC\server\share\..." for a full path that is too long
// for the plain form; shorter paths come back unchanged.
std::wstring LongPathForm(const std::wstring& path);
