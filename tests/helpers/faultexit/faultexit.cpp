// faultexit.exe: a program that installs the launcher's fault handling and
// then fails the way the test asks, so that the handling can be watched
// from outside.
//   faultexit MARKER fault|thread|endrun
// The cleanup writes MARKER. Ends with the fault handler's exit code, or
// with 14 for endrun (the way the launcher ends when memory runs out).
#include <windows.h>
#include <string>
#include "common/faultguard.h"

namespace {

const wchar_t* g_szMarker;

void WriteMarker()
{
    HANDLE h = CreateFileW(g_szMarker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

int Fault()
{
    volatile int* p = nullptr;
    return *p;
}

DWORD WINAPI FaultOnThread(LPVOID)
{
    return static_cast<DWORD>(Fault());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    g_szMarker = argv[1];
    InstallFaultHandler(WriteMarker);
    std::wstring how = argv[2];
    if (how == L"fault")
        return Fault();
    if (how == L"thread") {
        HANDLE h = CreateThread(nullptr, 0, FaultOnThread, nullptr, 0, nullptr);
        WaitForSingleObject(h, 30000);
        return 3;
    }
    if (how == L"endrun")
        EndRunAfterCleanup(ERROR_OUTOFMEMORY);
    return 2;
}
