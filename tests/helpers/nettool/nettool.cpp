// Runs the launcher's download routine by hand, for the download benchmark.
//
//   nettool get URL TARGET [EXPECTED_SIZE]   download once; prints
//                                            "result=<code> bytes=<size> ms=<time>"
//   nettool cancel URL TARGET MS             cancel MS ms after the start; prints
//                                            "result=<code> returned_ms=<time from the cancel>"
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include "common/cancel.h"
#include "net/download.h"

namespace {

struct GETARGS {
    LPCWSTR szUrl;
    LPCWSTR szTarget;
    ULONGLONG ullExpected;
    DWORD dwResult;
};

DWORD WINAPI GetThread(LPVOID pParam)
{
    GETARGS* p = static_cast<GETARGS*>(pParam);
    p->dwResult = DownloadFile(p->szUrl, L"", L"", p->szTarget, FALSE, p->ullExpected);
    return 0;
}

ULONGLONG SizeOf(LPCWSTR szFile)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(szFile, GetFileExInfoStandard, &fad))
        return 0;
    return (static_cast<ULONGLONG>(fad.nFileSizeHigh) << 32) | fad.nFileSizeLow;
}

int Usage()
{
    fwprintf(stderr, L"usage: nettool get URL TARGET [EXPECTED_SIZE] | cancel URL TARGET MS\n");
    return 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return Usage();
    GETARGS args = {argv[2], argv[3], 0, 0};
    if (!wcscmp(argv[1], L"get")) {
        if (argc >= 5)
            args.ullExpected = _wcstoui64(argv[4], nullptr, 10);
        DWORD dwStart = GetTickCount();
        GetThread(&args);
        printf("result=%lu bytes=%llu ms=%lu\n", static_cast<unsigned long>(args.dwResult),
               SizeOf(args.szTarget), static_cast<unsigned long>(GetTickCount() - dwStart));
        return 0;
    }
    if (!wcscmp(argv[1], L"cancel") && argc >= 5) {
        HANDLE hThread = CreateThread(nullptr, 0, GetThread, &args, 0, nullptr);
        if (!hThread)
            return 1;
        Sleep(wcstoul(argv[4], nullptr, 10));
        DWORD dwCancel = GetTickCount();
        InterlockedExchange(&g_bCancel, 1);
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
        printf("result=%lu returned_ms=%lu\n", static_cast<unsigned long>(args.dwResult),
               static_cast<unsigned long>(GetTickCount() - dwCancel));
        return 0;
    }
    return Usage();
}
