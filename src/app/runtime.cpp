// The program is built without C++ exceptions. These stand in for the parts
// of the C++ runtime that would throw or that need the exception and thread
// libraries, so that none of that machinery is linked into the program:
// memory comes from the process heap, a request the heap cannot meet ends
// the run, and function-local statics are made once under a lock of ours.
#include <windows.h>
#include <bits/functexcept.h>
#include <new>
#include "common/faultguard.h"
#include "common/trace.h"

namespace {

const UINT EXIT_RUNTIME_FAULT = ERROR_INTERNAL_ERROR;

[[noreturn]] void EndRun(const char* szWhat, UINT uExitCode)
{
    DebugTraceA("RuntimeFault()->%s: the run ends (%u)", szWhat, uExitCode);
    EndRunAfterCleanup(uExitCode);
}

void* Allocate(size_t cb)
{
    return HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1);
}

void* AllocateOrEnd(size_t cb)
{
    void* p = Allocate(cb);
    if (!p)
        EndRun("out of memory", ERROR_OUTOFMEMORY);
    return p;
}

void Release(void* p)
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

// One lock for every function-local static: the thread that makes one may
// make another inside it, so the owner may enter again.
DWORD volatile g_dwGuardOwner;
DWORD g_dwGuardDepth;

void LockStatics()
{
    DWORD dwSelf = GetCurrentThreadId();
    if (g_dwGuardOwner == dwSelf) {
        ++g_dwGuardDepth;
        return;
    }
    while (InterlockedCompareExchange(reinterpret_cast<LONG volatile*>(&g_dwGuardOwner),
                                      static_cast<LONG>(dwSelf), 0) != 0)
        Sleep(0);
    g_dwGuardDepth = 1;
}

void UnlockStatics()
{
    if (--g_dwGuardDepth == 0)
        InterlockedExchange(reinterpret_cast<LONG volatile*>(&g_dwGuardOwner), 0);
}

bool IsMade(const long long* pGuard)
{
    MemoryBarrier();
    return *reinterpret_cast<const volatile char*>(pGuard) != 0;
}

}  // namespace

void* operator new(size_t cb)
{
    return AllocateOrEnd(cb);
}

void* operator new[](size_t cb)
{
    return AllocateOrEnd(cb);
}

void* operator new(size_t cb, const std::nothrow_t&) noexcept
{
    return Allocate(cb);
}

void* operator new[](size_t cb, const std::nothrow_t&) noexcept
{
    return Allocate(cb);
}

void operator delete(void* p) noexcept
{
    Release(p);
}

void operator delete[](void* p) noexcept
{
    Release(p);
}

void operator delete(void* p, size_t) noexcept
{
    Release(p);
}

void operator delete[](void* p, size_t) noexcept
{
    Release(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}

namespace std {

void __throw_bad_alloc()
{
    EndRun("out of memory", ERROR_OUTOFMEMORY);
}

void __throw_bad_array_new_length()
{
    EndRun("out of memory", ERROR_OUTOFMEMORY);
}

void __throw_length_error(const char* szWhat)
{
    EndRun(szWhat, ERROR_OUTOFMEMORY);
}

void __throw_logic_error(const char* szWhat)
{
    EndRun(szWhat, EXIT_RUNTIME_FAULT);
}

void __throw_out_of_range(const char* szWhat)
{
    EndRun(szWhat, EXIT_RUNTIME_FAULT);
}

void __throw_out_of_range_fmt(const char* szWhat, ...)
{
    EndRun(szWhat, EXIT_RUNTIME_FAULT);
}

void __throw_invalid_argument(const char* szWhat)
{
    EndRun(szWhat, EXIT_RUNTIME_FAULT);
}

}  // namespace std

extern "C" int __cxa_guard_acquire(long long* pGuard)
{
    if (IsMade(pGuard))
        return 0;
    LockStatics();
    if (IsMade(pGuard)) {
        UnlockStatics();
        return 0;
    }
    return 1;
}

extern "C" void __cxa_guard_release(long long* pGuard)
{
    MemoryBarrier();
    *reinterpret_cast<volatile char*>(pGuard) = 1;
    UnlockStatics();
}

extern "C" void __cxa_guard_abort(long long*)
{
    UnlockStatics();
}

extern "C" void __cxa_pure_virtual()
{
    EndRun("pure virtual call", EXIT_RUNTIME_FAULT);
}
