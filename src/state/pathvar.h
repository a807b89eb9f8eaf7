// Path variables: placeholders such as <PROGRAMFILES> or <TEMPTRV> in
// configuration values and script lines, replaced by their values.
#pragma once
#include <windows.h>
#include "common/capacity.h"
#include "state/runcontext.h"

// Resolves the folder table and the module texts; logs every value.
void InitPathVar(RUNCONTEXT& ctx);

// Replaces every placeholder of szText, with the values of ctx, (capacity cchText characters) in
// place. 1 when the text changed, 0 when it did not. szEmptyVars, when
// given, receives the placeholders of the text that stood for nothing
// ("<COMPANYNAME>", or "" when none did): a path built on one of them is
// not the path its author meant.
BOOL ExpandPathVar(const RUNCONTEXT& ctx, LPWSTR szText, DWORD cchText,
                   LPWSTR szEmptyVars = nullptr, size_t cchEmptyVars = 0);

// Replaces every occurrence of szPlaceholder (case-sensitive) at or after
// dwStart by szValue; the result is cut to cchBuffer characters.
BOOL ReplaceAll(LPWSTR szBuffer, DWORD cchBuffer, LPCWSTR szPlaceholder, LPCWSTR szValue,
                DWORD dwStart);
