// Folders of the run's own below a shared place such as %TEMP%: made with an
// access list for the user, SYSTEM and Administrators only, told apart from
// what someone else put there first (a file, a link, a folder of another
// owner), and marked as in use by a live run with a lock file.
#pragma once
#include <windows.h>

// Creates one folder level with the private access list and notes it as
// the run's own. 0, or the reason: 183 (ERROR_ALREADY_EXISTS) when it is
// there already, 1338 (ERROR_INVALID_SECURITY_DESCR) without the list.
[[nodiscard]] DWORD CreatePrivateFolder(LPCWSTR szFolder);

// The private access list: SYSTEM and Administrators full control, the
// user full control too, or only reading when the run is elevated (so that
// the user's other, unelevated programs can not put files where an
// elevated run loads or starts them); everything below inherits it. Free
// it with LocalFree; null when it can not be made.
[[nodiscard]] PACL NewPrivateAcl();

// Gives a folder of ours the private access list again, replacing whatever
// list it had. 0, or the reason.
[[nodiscard]] DWORD MakeFolderPrivate(LPCWSTR szFolder);

// Why an existing folder can not be taken as the run's own: "a file", "a
// link", "owned by someone else"; null when it is a real folder of this
// user. Nothing there gives "missing".
[[nodiscard]] LPCWSTR ForeignFolderReason(LPCWSTR szFolder);

// Removes every link (to a folder or a file) below szFolder, never entering
// one: what the run writes there then stays there. FALSE when a link is
// still there afterwards (the folder must then not be written to).
[[nodiscard]] BOOL RemoveLinksBelow(LPCWSTR szFolder);

// The lock a live run holds in its folder: a file kept open without
// sharing, deleted by the system when the handle closes, even when the
// process dies. An invalid handle when it can not be made.
[[nodiscard]] HANDLE LockFolder(LPCWSTR szFolder);
// TRUE when another process holds the lock of szFolder.
[[nodiscard]] BOOL IsFolderLocked(LPCWSTR szFolder);
