// Small helpers shared by the unpackers.
#pragma once
#include <windows.h>

// An entry name that is absolute, carries a drive or stream (":"), climbs
// with "..", is empty, or has a part that the system would not store under
// that name (a device name such as NUL or COM1.log, see payload/entryname.h)
// would land outside the target folder, on a device or somewhere else:
// such entries are refused.
BOOL IsUnsafeEntryName(LPCWSTR szName);

// The part after the last "\" or "/".
LPCWSTR EntryFileName(LPCWSTR szName);

// Joins a folder and a relative name into szOut; FALSE when it does not fit.
BOOL JoinEntryPath(LPWSTR szOut, size_t cchOut, LPCWSTR szFolder, LPCWSTR szName);

// ANSI <-> wide, bounded; FALSE when the text does not fit or convert.
BOOL AnsiToWide(LPCSTR sz, LPWSTR szOut, int cchOut, UINT uCodePage = CP_ACP);
BOOL WideToAnsi(LPCWSTR sz, LPSTR szOut, int cbOut);
