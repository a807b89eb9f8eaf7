// Small helpers shared by the unpackers.
#pragma once
#include <windows.h>
#include <string>
#include "common/capacity.h"

// An entry name that is absolute, carries a drive or stream (":"), climbs
// with "..", is empty, or has a part that the system would not store under
// that name (a device name such as NUL or COM1.log, see payload/entryname.h)
// would land outside the target folder, on a device or somewhere else:
// such entries are refused.
[[nodiscard]] BOOL IsUnsafeEntryName(LPCWSTR szName);

// The part after the last "\" or "/".
LPCWSTR EntryFileName(LPCWSTR szName);

// A folder and a relative name joined by one "\\", "/" turned into "\\"; the
// result may pass MAX_PATH (a member of 255 bytes below a deep folder).
[[nodiscard]] std::wstring JoinEntryPath(LPCWSTR szFolder, LPCWSTR szName);
// The same into szOut; FALSE when it does not fit.
[[nodiscard]] BOOL JoinEntryPath(LPWSTR szOut, size_t cchOut, LPCWSTR szFolder, LPCWSTR szName);

// Deletes a member that a failed unpacking wrote, read-only or not, long
// path or not; traces "<szCaller>-><path> removed (<result>)".
void RemoveWrittenMember(LPCWSTR szCaller, const std::wstring& path);

// Bytes a stored member name may take: a name of PATH_CCH - 1 UTF-16
// units takes at most three bytes for each in UTF-8.
const int ENTRY_NAME_BYTES = 3 * PATH_CCH;
