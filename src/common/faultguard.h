// Faults that nothing else handles, an access violation inside a system
// library (the cabinet decoder on a damaged archive), say. Such a fault
// never ends the process silently:
//   - inside RunGuarded, the fault ends only the guarded call, which then
//     reports it to its caller like any other failure;
//   - anywhere else, once InstallFaultHandler was called, it is traced, the
//     run's cleanup removes what the run wrote, and the process ends with
//     FAULT_EXIT_CODE.
#pragma once
#include <windows.h>

enum : DWORD {
    // ERROR_UNHANDLED_EXCEPTION: what the launcher returns when it ends on
    // a fault outside a guarded call.
    FAULT_EXIT_CODE = 574,
};

typedef void (*PFN_FAULTCLEANUP)();

// Sets the process-wide handling; pfnCleanup (may be null) runs once, on
// the faulting thread, before the process ends.
void InstallFaultHandler(PFN_FAULTCLEANUP pfnCleanup);

// Runs pfnWork(pv) on a thread of its own and waits for it (serving
// messages sent to the caller's windows meanwhile). TRUE when the work
// returned; its result is then in *pdwResult. FALSE when it faulted: the
// fault is traced with szWhat and its exception code is in *pdwFault.
typedef DWORD (*PFN_GUARDEDWORK)(void* pv);
[[nodiscard]] BOOL RunGuarded(LPCWSTR szWhat, PFN_GUARDEDWORK pfnWork, void* pv, DWORD* pdwResult,
                              DWORD* pdwFault);

// Traces the exception code and where it happened ("module+offset").
void TraceFault(LPCWSTR szWhere, const EXCEPTION_RECORD* pRecord);

// Ends the run from a state it can not go on from (memory the heap can not
// give): the run's cleanup runs once, as after a fault, and the process
// ends with uExitCode.
[[noreturn]] void EndRunAfterCleanup(UINT uExitCode);
