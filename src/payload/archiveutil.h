// Small helpers shared by the unpackers.
#pragma once
#include <windows.h>

// An entry name that is absolute, carries a drive or stream (":"), climbs
// with "..", or is empty would land outside the target folder or nowhere:
// such entries are skipped.
BOOL IsUnsafeEntryName(LPCWSTR szName);

// The part after the last "\" or "/".
LPCWSTR EntryFileName(LPCWSTR szName);

// Joins a folder and a relative name into szOut; FALSE when it does not fit.
BOOL JoinEntryPath(LPWSTR szOut, size_t cchOut, LPCWSTR szFolder, LPCWSTR szName);

// ANSI <-> wide, bounded; FALSE when the text does not fit or convert.
BOOL AnsiToWide(LPCSTR sz, LPWSTR szOut, int cchOut, UINT uCodePage = CP_ACP);
BOOL WideToAnsi(LPCWSTR sz, LPSTR szOut, int cbOut);
