// Registry routines: the root and type tokens of scripts, writing,
// reading, deleting and copying keys and values.
#pragma once
#include <windows.h>

// Root handle of a token such as "<HKEY_CURRENT_USER>" (blanks around it
// ignored); anything else is HKEY_CLASSES_ROOT, with a trace line when the
// token is not empty. "<HKEY_USER_SELECTABLE>" is HKEY_LOCAL_MACHINE when
// bPerMachine is set, else HKEY_CURRENT_USER.
[[nodiscard]] HKEY GetRootKey(LPCWSTR szToken, BOOL bPerMachine);
// Value type of a token such as "<REG_DWORD>" (blanks around it ignored);
// anything else is REG_SZ.
[[nodiscard]] DWORD GetRegType(LPCWSTR szToken);

// Every function below that writes, deletes, reads or copies gives 0, or
// the system's reason.
[[nodiscard]] DWORD RegDBCreateKey(HKEY hRoot, LPCWSTR szKey);
// REG_DWORD and REG_QWORD data are decimal text, stored in 4 and 8 bytes.
// String types are stored up to their terminator within cbData bytes;
// other types exactly cbData bytes.
[[nodiscard]] DWORD RegDBSetKeyValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName, DWORD dwType,
                                     LPCWSTR szData, DWORD cbData);
[[nodiscard]] DWORD RegDBDeleteValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName);
// An empty key path (the root itself) gives 87 (ERROR_INVALID_PARAMETER).
[[nodiscard]] DWORD RegDBDeleteKey(HKEY hRoot, LPCWSTR szKey);
// A REG_DWORD comes back as "%d" text, a REG_QWORD as its decimal text,
// anything else raw, always terminated within cchBuffer characters.
[[nodiscard]] DWORD RegDBGetKeyValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName, LPWSTR szBuffer,
                                     DWORD cchBuffer);
// 1 when the key can be opened for reading.
[[nodiscard]] BOOL RegDBKeyExist(HKEY hRoot, LPCWSTR szKey);
// Replaces the values of the destination key by those of the source key;
// 87 (ERROR_INVALID_PARAMETER) when the destination is the source itself.
[[nodiscard]] DWORD RegCopyKeyValues(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot,
                                     LPCWSTR szDstKey);
// The same, then every subkey of the source, recursively; the destination
// may not lie below the source either.
[[nodiscard]] DWORD RegCopyKeyTree(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot,
                                   LPCWSTR szDstKey);

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hold text.
[[nodiscard]] BOOL IsRegStringType(DWORD dwType);
