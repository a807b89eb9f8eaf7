// Matching the launcher's command-line options.
//
// An option stands at the start of the line, after a blank, after a quote
// (deployment tools quote every argument: "/S" "/NOLICENSE"), or right after
// a number that ends a value (/LANG:1036/S); it ends at the end of the line,
// a blank or a quote. Case does not matter.
#pragma once
#include <windows.h>

// TRUE when szOption stands in szCmdLine as an option of its own.
BOOL SearchParams(LPCWSTR szCmdLine, LPCWSTR szOption);

// TRUE when szOption stands in szCmdLine; szValue then receives its value.
// A value in quotes ("/X:"C:\a-b"" or "/X:C:\a b" in one pair of quotes) is
// taken whole up to the closing quote. Any other value runs to the end of
// the line and is cut at the first character of szDelims unless that
// character comes first; it is trimmed of blanks and of one pair of
// enclosing quotes. A value longer than the buffer is cut to it.
BOOL GetDataParams(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, LPWSTR szValue,
                   size_t cchValue);

// GetDataParams without its trace line, for a look at the line before the
// trace can take it.
BOOL FindOptionValue(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, LPWSTR szValue,
                     size_t cchValue);

// What ends an unquoted value: a number or a folder (/LANG:, /X:) ends at
// the next "/" or "-", a command line or a log file (/CMDLINE:, /LOG:) at
// the next blank.
extern const WCHAR VALUE_ENDS_AT_OPTION[];
extern const WCHAR VALUE_ENDS_AT_BLANK[];

// The launcher's options exist as "-NAME" and "/NAME"; the "-" form is
// looked for first.
BOOL HasOption(LPCWSTR szCmdLine, LPCWSTR szName);
BOOL GetOptionValue(LPCWSTR szCmdLine, LPCWSTR szName, LPCWSTR szDelims, LPWSTR szValue,
                    size_t cchValue);
