// Whether the Internet can be reached: the system's own view plus a name
// lookup through Winsock, which is loaded only for the test.
#pragma once
#include <windows.h>
#include "net/url.h"

// Result bits of GetInternetConnectedState.
enum : DWORD {
    CONNECTION_CONFIGURED = 1,  // the system reports a modem, LAN, RAS or configured connection
    CONNECTION_ACTIVED = 2,     // a host name resolved (or there was no Winsock to test with)
};

// The well-known host whose name resolves when the Internet answers.
#define DEFAULT_PUBLIC_HOST_NAME L"www.microsoft.com"

// The system's view of the connection, and whether szHostName (null: the
// local machine) or szPublicHost (null: none asked) resolves.
[[nodiscard]] DWORD GetInternetConnectedState(LPCWSTR szHostName, LPCWSTR szPublicHost);

// The run checks the connection once, on a thread of its own, so that a slow
// name service never holds up the start: StartConnectionCheck begins it (for
// the package's web host, or null for the local machine); whatever needs the
// answer later asks GetRunConnectionState, which waits for that one check.
// Before a run's check was started, GetRunConnectionState checks there and
// then, for the host it is given. Both look the public host up too (null:
// none).
void StartConnectionCheck(LPCWSTR szHostName, LPCWSTR szPublicHost = DEFAULT_PUBLIC_HOST_NAME);
[[nodiscard]] DWORD GetRunConnectionState(LPCWSTR szHostName,
                                          LPCWSTR szPublicHost = DEFAULT_PUBLIC_HOST_NAME);
// Waits for a check still under way and forgets the result: the next run in
// this process checks afresh.
void ForgetConnectionCheck();
// 0: Winsock 1 only (before Windows 95 OSR2 / NT 4.0), 1: Winsock 2 on 9x
// and NT 4 to Windows XP, 2: Vista and later.
DWORD GetWinsockLevel();
// The same rule for a given system version.
DWORD WinsockLevelForVersion(DWORD dwMajor, DWORD dwMinor);
