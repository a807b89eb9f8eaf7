// Small helpers shared by the unpackers.
#pragma once
#include <windows.h>
#include <string>

// An entry name that is absolute, carries a drive or stream (":"), climbs
// with "..", is empty, or has a part that the system would not store under
// that name (a device name such as NUL or COM1.log, see payload/entryname.h)
// would land outside the target folder, on a device or somewhere else:
// such entries are refused.
BOOL IsUnsafeEntryName(LPCWSTR szName);

// The part after the last "\" or "/".
LPCWSTR EntryFileName(LPCWSTR szName);

// A folder and a relative name joined by one "\\", "/" turned into "\\"; the
// result may pass MAX_PATH (a member of 255 bytes below a deep folder).
std::wstring JoinEntryPath(LPCWSTR szFolder, LPCWSTR szName);
// The same into szOut; FALSE when it does not fit.
BOOL JoinEntryPath(LPWSTR szOut, size_t cchOut, LPCWSTR szFolder, LPCWSTR szName);

// Deletes a member that a failed unpacking wrote, read-only or not, long
// path or not; traces "<szCaller>-><path> removed (<result>)".
void RemoveWrittenMember(LPCWSTR szCaller, const std::wstring& path);

// ANSI <-> wide, bounded; FALSE when the text does not fit or convert.
BOOL AnsiToWide(LPCSTR sz, LPWSTR szOut, int cchOut, UINT uCodePage = CP_ACP);
BOOL WideToAnsi(LPCWSTR sz, LPSTR szOut, int cbOut);
