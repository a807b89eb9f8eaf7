// The one check that every step which deletes, overwrites, changes
// attributes or changes the current folder makes first. The path is made
// absolute; drive and share roots in any spelling, the system's folders,
// every user's profile (Default and Public too) and its known folders, the
// TEMP folder, the folder the launcher started in and its own folder are
// never removed, emptied or re-attributed, and neither is any folder that
// holds one of them: only what lies below them. A folder reached through a
// link is judged by where the link leads.
#pragma once
#include <windows.h>

enum GUARDOP {
    GUARD_REMOVE_FOLDER,   // a folder with everything in it
    GUARD_REMOVE_FILES,    // the files matching a pattern
    GUARD_SET_ATTRIBUTES,  // the attributes of the files matching a pattern
    GUARD_CHANGE_FOLDER,   // make it the current folder
    GUARD_WRITE,           // a destination that is written into
};

enum : unsigned {
    GUARD_REASON_CCH = 320,  // a reason names at most one path
};

// TRUE when the step may go on. szFull (PATH_CCH characters) receives the
// absolute path or pattern; on FALSE szReason tells why, for the trace.
// bRecursive: a pattern that also applies in every sub-folder.
[[nodiscard]] BOOL GuardPath(LPCWSTR szPath, GUARDOP op, BOOL bRecursive, LPWSTR szFull,
                             LPWSTR szReason, size_t cchReason);

// Adds a folder to the protected ones (the run adds the folders of its path
// variables, the folder it started in and its own).
void ProtectFolder(LPCWSTR szFolder);
// Completes the list of protected folders on a thread of its own (the
// system's folders, and where each added one really leads), so that the run
// does not wait for it; the first check waits until it is complete.
void PrepareProtectedFolders();
// Adds a folder that holds users' profiles (C:\Users): each profile in it
// (another user's, Default, Public) and its standard folders are protected
// as the current user's are. The system's own is known already.
void ProtectProfiles(LPCWSTR szFolder);
// Back to the system's own list: a run starts with it.
void ResetProtectedFolders();

// The absolute form of a path as the guard compares it: "\\?\" forms
// unwrapped, "." and ".." resolved, slashes turned, short names made long,
// no trailing backslash except after a drive root. 0, or the reason: 123
// (ERROR_INVALID_NAME) for a device, 206 when it does not fit PATH_CCH.
[[nodiscard]] DWORD NormalisePath(LPCWSTR szPath, LPWSTR szOut);

// TRUE when szInner is szOuter or lies below it (normalised paths).
[[nodiscard]] BOOL IsSameOrBelowPath(LPCWSTR szOuter, LPCWSTR szInner);
