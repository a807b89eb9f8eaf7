// The registry's counterpart of the path guard: keys every program and
// every user shares are never deleted, emptied or written over, whatever an
// install script says. Refused: the hive roots; Software, its Classes,
// Policies and Microsoft\Windows keys; the SYSTEM hive's control sets and
// services; SAM, SECURITY, HARDWARE; each user's hive in HKEY_USERS; the
// classes' CLSID, Interface, TypeLib and shell keys; and any key that holds
// one of them. The lists every program adds to (Run, RunOnce, Uninstall,
// App Paths, Environment) keep their values open: only the keys themselves
// may not go.
#pragma once
#include <windows.h>

enum REGGUARDOP {
    REGGUARD_WRITE_VALUE,   // set a value (the default value too) or create the key
    REGGUARD_DELETE_VALUE,  // delete one value
    REGGUARD_DELETE_KEY,    // delete the key with everything below it
    REGGUARD_COPY_INTO,     // copy another key's values (and tree) into it
};

enum : unsigned {
    REGGUARD_REASON_CCH = 320,
};

// TRUE when the step may go on; on FALSE szReason tells why, for the trace.
[[nodiscard]] BOOL GuardRegistryKey(HKEY hRoot, LPCWSTR szKey, REGGUARDOP op, LPWSTR szReason,
                                    size_t cchReason);
