#include "net/connectivity.h"
#include <winsock.h>
#include "common/boundedtext.h"
#include "common/cancel.h"
#include "common/osversion.h"
#include "common/sysdll.h"
#include "common/textcode.h"
#include "common/trace.h"
#include "state/state.h"
#include "net/inetapi.h"


namespace {

// InternetGetConnectedState flags that mean a connection is set up.
enum : DWORD {
    CONFIGURED_CONNECTION_MASK = INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN |
                                 INTERNET_RAS_INSTALLED | INTERNET_CONNECTION_CONFIGURED,
    WINSOCK_VERSION_1_1 = 0x0101,
};

typedef int(PASCAL* PFN_WSASTARTUP)(WORD, LPWSADATA);
typedef int(PASCAL* PFN_WSACLEANUP)();
typedef struct hostent*(PASCAL* PFN_GETHOSTBYNAME)(const char*);

template <typename T>
T Bind(HMODULE hModule, const char* szName)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, szName)));
}

// An address written as such ("[::1]", "::1", "192.0.2.7") needs no name
// look-up: there is nothing to ask a name service about.
bool IsAddressLiteral(LPCWSTR szHostName)
{
    if (!szHostName || !szHostName[0])
        return false;
    if (szHostName[0] == L'[' || wcschr(szHostName, L':'))
        return true;
    for (LPCWSTR p = szHostName; *p; ++p) {
        if (!(*p >= L'0' && *p <= L'9') && *p != L'.')
            return false;
    }
    return true;
}

// Looks a name up (a null name asks for the local machine); true on an answer.
bool Resolve(PFN_GETHOSTBYNAME pGetHostByName, LPCWSTR szHostName)
{
    if (IsAddressLiteral(szHostName)) {
        DebugTrace(L"GetInternetConnectedState > %s is an address: no look-up", szHostName);
        DebugTrace(L"GetInternetConnectedState > Ping OK: %s", szHostName);
        return true;
    }
    char szAnsi[URL_HOST_CCH * 2] = "";
    const char* pszName = nullptr;
    if (szHostName) {
        // A look-alike of the name would ask for another host.
        if (WideToCodePage(szHostName, szAnsi, sizeof(szAnsi), CP_ACP) != ERROR_SUCCESS)
            return false;
        pszName = szAnsi;
    }
    if (!pGetHostByName(pszName))
        return false;
    DebugTrace(L"GetInternetConnectedState > Ping OK: %s", szHostName ? szHostName : L"(null)");
    return true;
}

// The run's one check. Written by its thread before the thread ends, read
// only after that.
struct RUNCHECK {
    BOOL bStarted;
    BOOL bNullHost;
    WCHAR szHostName[URL_HOST_CCH];
    BOOL bNoPublicHost;
    WCHAR szPublicHost[URL_HOST_CCH];
    HANDLE hThread;  // while the check may still run
    DWORD dwResult;
};
RUNCHECK g_RunCheck;

const DWORD CANCEL_POLL_MS = 100;

DWORD WINAPI RunCheckThread(LPVOID)
{
    g_RunCheck.dwResult =
        GetInternetConnectedState(g_RunCheck.bNullHost ? nullptr : g_RunCheck.szHostName,
                                  g_RunCheck.bNoPublicHost ? nullptr : g_RunCheck.szPublicHost);
    return 0;
}

LPCWSTR HostForTrace(LPCWSTR szHostName)
{
    return szHostName ? szHostName : L"(null)";
}

// FALSE when the run was cancelled first: nobody waits for the answer then.
BOOL WaitForRunCheck()
{
    if (!g_RunCheck.hThread)
        return TRUE;
    while (WaitForSingleObject(g_RunCheck.hThread, CANCEL_POLL_MS) == WAIT_TIMEOUT) {
        if (g_bCancel)
            return FALSE;
    }
    CloseHandle(g_RunCheck.hThread);
    g_RunCheck.hThread = nullptr;
    return TRUE;
}

}  // namespace

DWORD WinsockLevelForVersion(DWORD dwMajor, DWORD dwMinor)
{
    if (dwMajor < 4 || (dwMajor == 4 && dwMinor == 0))
        return 0;
    return dwMajor > 5 ? 2 : 1;
}

DWORD GetWinsockLevel()
{
    DWORD dwMajor = 0, dwMinor = 0;
    if (GetOSVersion(&dwMajor, &dwMinor) != ERROR_SUCCESS)
        return 0;
    return WinsockLevelForVersion(dwMajor, dwMinor);
}

DWORD GetInternetConnectedState(LPCWSTR szHostName, LPCWSTR szPublicHost)
{
    DebugTrace(L"GetInternetConnectedState-> Test cnx Internet");
    DWORD dwResult = 0;
    DWORD dwFlags = 0;
    const INETAPI* pApi = GetInetApi();
    if (!pApi || !pApi->pInternetGetConnectedState(&dwFlags, 0)) {
        DebugTrace(L"GetInternetConnectedState > InternetGetConnectedState returns FALSE with dwFlags = %u",
                   dwFlags);
    } else {
        DebugTrace(L"GetInternetConnectedState > InternetGetConnectedState returns TRUE with dwFlags = %#x",
                   dwFlags);
        HMODULE hWinsock = LoadSystemLibrary(GetWinsockLevel() == 0 ? L"wsock32.dll" : L"ws2_32.dll");
        if (!hWinsock || g_bCancel) {
            // Without Winsock the check can not tell: let the download try.
            dwResult |= CONNECTION_ACTIVED;
        } else {
            auto pCleanup = Bind<PFN_WSACLEANUP>(hWinsock, "WSACleanup");
            auto pStartup = Bind<PFN_WSASTARTUP>(hWinsock, "WSAStartup");
            auto pGetHostByName = Bind<PFN_GETHOSTBYNAME>(hWinsock, "gethostbyname");
            if (!pCleanup || !pStartup || !pGetHostByName) {
                dwResult |= CONNECTION_ACTIVED;
            } else {
                WSADATA wsaData;
                if (pStartup(WINSOCK_VERSION_1_1, &wsaData) == 0) {
                    if (Resolve(pGetHostByName, szHostName))
                        dwResult |= CONNECTION_ACTIVED;
                    if (szPublicHost && Resolve(pGetHostByName, szPublicHost))
                        dwResult |= CONNECTION_ACTIVED;
                    pCleanup();
                }
            }
        }
        if (hWinsock)
            FreeLibrary(hWinsock);
    }
    if (dwFlags & CONFIGURED_CONNECTION_MASK)
        dwResult |= CONNECTION_CONFIGURED;
    DebugTrace(L"GetInternetConnectedState > Return %u with 1=CONNECTION_CONFIGURED and 2=CONNECTION_ACTIVED",
               dwResult);
    DebugTrace(L"GetInternetConnectedState > End cnx Internet");
    return dwResult;
}

void StartConnectionCheck(LPCWSTR szHostName, LPCWSTR szPublicHost)
{
    if (g_RunCheck.bStarted)
        return;
    g_RunCheck.bStarted = TRUE;
    g_RunCheck.bNullHost = szHostName == nullptr;
    // A host of SplitURL or the built-in one fits.
    (void)StringCchCopyW(g_RunCheck.szHostName, URL_HOST_CCH, szHostName ? szHostName : L"");
    g_RunCheck.bNoPublicHost = szPublicHost == nullptr;
    (void)StringCchCopyW(g_RunCheck.szPublicHost, URL_HOST_CCH, szPublicHost ? szPublicHost : L"");
    g_RunCheck.hThread = CreateThread(nullptr, 0, RunCheckThread, nullptr, 0, nullptr);
    DebugTrace(L"StartConnectionCheck(%s)->%s", HostForTrace(szHostName),
               g_RunCheck.hThread ? L"checking beside the run" : L"checking now");
    // Without a thread the check is made at once, on this one.
    if (!g_RunCheck.hThread)
        RunCheckThread(nullptr);
}

DWORD GetRunConnectionState(LPCWSTR szHostName, LPCWSTR szPublicHost)
{
    if (!g_RunCheck.bStarted)
        return GetInternetConnectedState(szHostName, szPublicHost);
    if (!WaitForRunCheck()) {
        DebugTrace(L"GetRunConnectionState(%s)->cancelled", HostForTrace(szHostName));
        return 0;
    }
    DebugTrace(L"GetRunConnectionState(%s)->%u, from the run's check for %s",
               HostForTrace(szHostName), g_RunCheck.dwResult,
               g_RunCheck.bNullHost ? L"(null)" : g_RunCheck.szHostName);
    return g_RunCheck.dwResult;
}

void ForgetConnectionCheck()
{
    if (g_RunCheck.hThread) {
        WaitForSingleObject(g_RunCheck.hThread, INFINITE);
        CloseHandle(g_RunCheck.hThread);
    }
    ZeroMemory(&g_RunCheck, sizeof(g_RunCheck));
}
