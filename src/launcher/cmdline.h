// The launcher's command line.
//
// The line is split into arguments as the system splits one
// (CommandLineToArgvW): blanks and tabs separate arguments outside quotes;
// a quote begins or ends a quoted part and is no part of the argument; ""
// inside a quoted part is one quote and ends the part; 2n backslashes before
// a quote stand for n backslashes, 2n+1 for n backslashes and a quote that
// belongs to the argument; other backslashes are themselves.
//
// An option is a whole argument: "/" or "-" and its name, in any case
// (/S, -s, "/S"). A value option carries its value after the colon in the
// same argument: /X:C:\my-app, "/X:C:\my app", /X:"C:\my app". A bare
// "/NAME:" takes the next argument as its value (/X: "C:\my app"), unless
// that one is an option itself; a bare /CMDLINE: takes the whole rest of
// the line as written, quotes included, and nothing after it is an option
// of the launcher's. Text inside another option's value is never an option:
// /CMDLINE:"/X:C:\a /S" holds neither /X: nor /S. After a number a value
// ends where another option begins, as older command lines write it:
// /LANG:1036/S holds /S.
#pragma once
#include <windows.h>

// TRUE when szOption (with its "/" or "-") stands in szCmdLine as an
// option of its own.
BOOL SearchParams(LPCWSTR szCmdLine, LPCWSTR szOption);

// TRUE when the value option szOption ("/X:") stands in szCmdLine;
// szValue then receives its value, trimmed of blanks around it. A value
// longer than the buffer is cut to it.
BOOL GetDataParams(LPCWSTR szCmdLine, LPCWSTR szOption, LPWSTR szValue, size_t cchValue);

// GetDataParams without its trace line, for a look at the line before the
// trace can take it.
BOOL FindOptionValue(LPCWSTR szCmdLine, LPCWSTR szOption, LPWSTR szValue, size_t cchValue);

// The launcher's options exist as "-NAME" and "/NAME"; the "-" form is
// looked for first.
BOOL HasOption(LPCWSTR szCmdLine, LPCWSTR szName);
BOOL GetOptionValue(LPCWSTR szCmdLine, LPCWSTR szName, LPWSTR szValue, size_t cchValue);

// Every option of the launcher, by name ("S", "X:"), as /? lists them.
extern const WCHAR* const LAUNCHER_OPTIONS[];
extern const size_t LAUNCHER_OPTION_COUNT;

// Splits szCmdLine as the system does (the rules above) and calls pfnArg
// for each argument with its text and whether it is an option of the
// launcher's (or the value of one); the last call for a bare /CMDLINE:
// gives the rest of the line as its text.
typedef void (*PFN_ARGUMENT)(void* pContext, LPCWSTR szText, size_t cchText, BOOL bKnown);
void SplitCommandLine(LPCWSTR szCmdLine, PFN_ARGUMENT pfnArg, void* pContext);
