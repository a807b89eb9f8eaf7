#include "net/inetapi.h"
#include "common/sysdll.h"
#include "common/trace.h"

namespace {

template <typename T>
bool Bind(HMODULE hModule, const char* szName, T& pfn)
{
    pfn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, szName)));
    return pfn != nullptr;
}

struct LOADEDINET {
    INETAPI api;
    DWORD dwError;
    BOOL bReady;
};

LOADEDINET LoadInetApi()
{
    LOADEDINET loaded = {};
    HMODULE hModule = LoadSystemLibrary(L"wininet.dll");
    if (!hModule) {
        loaded.dwError = GetLastError() ? GetLastError() : ERROR_MOD_NOT_FOUND;
        DebugTrace(L"GetInetApi()->wininet.dll not loaded (%d)", static_cast<int>(loaded.dwError));
        return loaded;
    }
    INETAPI& a = loaded.api;
    bool bAll = Bind(hModule, "InternetCrackUrlW", a.pInternetCrackUrlW) &&
                Bind(hModule, "InternetGetConnectedState", a.pInternetGetConnectedState) &&
                Bind(hModule, "InternetOpenW", a.pInternetOpenW) &&
                Bind(hModule, "InternetConnectW", a.pInternetConnectW) &&
                Bind(hModule, "InternetCloseHandle", a.pInternetCloseHandle) &&
                Bind(hModule, "InternetSetOptionW", a.pInternetSetOptionW) &&
                Bind(hModule, "InternetReadFile", a.pInternetReadFile) &&
                Bind(hModule, "InternetQueryDataAvailable", a.pInternetQueryDataAvailable) &&
                Bind(hModule, "HttpOpenRequestW", a.pHttpOpenRequestW) &&
                Bind(hModule, "HttpSendRequestW", a.pHttpSendRequestW) &&
                Bind(hModule, "HttpQueryInfoW", a.pHttpQueryInfoW) &&
                Bind(hModule, "FtpFindFirstFileW", a.pFtpFindFirstFileW) &&
                Bind(hModule, "FtpOpenFileW", a.pFtpOpenFileW) &&
                Bind(hModule, "FtpGetFileSize", a.pFtpGetFileSize);
    if (!bAll) {
        loaded.dwError = ERROR_PROC_NOT_FOUND;
        DebugTrace(L"GetInetApi()->wininet.dll lacks a function");
        FreeLibrary(hModule);
        return loaded;
    }
    loaded.bReady = TRUE;
    return loaded;
}

}  // namespace

const INETAPI* GetInetApi()
{
    // Loaded once; a concurrent first call waits for the first one.
    static const LOADEDINET s_loaded = LoadInetApi();
    if (!s_loaded.bReady) {
        SetLastError(s_loaded.dwError);
        return nullptr;
    }
    return &s_loaded.api;
}

void InetHandleTraits::Close(HINTERNET h)
{
    if (const INETAPI* pApi = GetInetApi())
        pApi->pInternetCloseHandle(h);
}

namespace {

DWORD WINAPI CloseRequestThread(LPVOID pParam)
{
    if (const INETAPI* pApi = GetInetApi())
        pApi->pInternetCloseHandle(static_cast<HINTERNET>(pParam));
    return 0;
}

}  // namespace

void CloseUnfinishedRequest(CInetHandle& hRequest)
{
    HINTERNET h = hRequest.Release();
    if (!h)
        return;
    HANDLE hThread = CreateThread(nullptr, 0, CloseRequestThread, h, 0, nullptr);
    if (hThread)
        CloseHandle(hThread);
    else
        CloseRequestThread(h);
}
