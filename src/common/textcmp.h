// Comparing names the way the system compares file names: ordinal, after
// folding every letter the system can upper-case.
#pragma once
#include <windows.h>

[[nodiscard]] int ScriptCompareNoCase(LPCWSTR szA, LPCWSTR szB);
[[nodiscard]] int ScriptCompareNoCaseN(LPCWSTR szA, LPCWSTR szB, size_t cch);
// Upper-cases in place.
void ScriptUpper(LPWSTR sz);

// Removes the blanks (spaces and tabs) around a text, in place.
void TrimBlanks(LPWSTR sz);
