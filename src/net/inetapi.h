// WinINet, loaded from the system folder on first use: the launcher does not
// import it, so a machine without it still runs packages that need no
// download.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "common/handles.h"

struct INETAPI {
    decltype(&InternetCrackUrlW) pInternetCrackUrlW;
    decltype(&InternetGetConnectedState) pInternetGetConnectedState;
    decltype(&InternetOpenW) pInternetOpenW;
    decltype(&InternetConnectW) pInternetConnectW;
    decltype(&InternetCloseHandle) pInternetCloseHandle;
    decltype(&InternetSetOptionW) pInternetSetOptionW;
    decltype(&InternetReadFile) pInternetReadFile;
    decltype(&InternetQueryDataAvailable) pInternetQueryDataAvailable;
    decltype(&HttpOpenRequestW) pHttpOpenRequestW;
    decltype(&HttpSendRequestW) pHttpSendRequestW;
    decltype(&HttpQueryInfoW) pHttpQueryInfoW;
    decltype(&FtpFindFirstFileW) pFtpFindFirstFileW;
    decltype(&FtpOpenFileW) pFtpOpenFileW;
    decltype(&FtpGetFileSize) pFtpGetFileSize;
};

// The loaded functions, or null (last error set) when wininet.dll or one of
// them is missing. The library stays loaded for the life of the process.
[[nodiscard]] const INETAPI* GetInetApi();

// An Internet handle closed exactly once.
struct InetHandleTraits {
    static HINTERNET Invalid() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h);
};
typedef CUniqueHandle<HINTERNET, InetHandleTraits> CInetHandle;

// Closes a request whose answer was not read to its end. WinINet may read
// the rest of it first to keep the connection; that happens on a thread of
// its own so that a cancel or a failure returns at once.
void CloseUnfinishedRequest(CInetHandle& hRequest);
