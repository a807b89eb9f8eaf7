// Matching the launcher's command-line options.
#pragma once
#include <windows.h>

// TRUE when szOption stands in szCmdLine as a word of its own (case does not
// matter): at the start or after a blank, and followed by a blank or the end.
BOOL SearchParams(LPCWSTR szCmdLine, LPCWSTR szOption);

// TRUE when szOption occurs in szCmdLine (case does not matter); szValue then
// receives the text after it, cut at the first character of szDelims unless
// that character comes first, trimmed of blanks and of one pair of quotes.
BOOL GetDataParams(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, LPWSTR szValue,
                   size_t cchValue);
