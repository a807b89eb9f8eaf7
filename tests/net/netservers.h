// The loopback servers of tests/servers/netservers.py, started once for the
// test program through Wine (which runs Linux programs) and stopped when the
// program ends. Everything lives in a fresh folder under /tmp.
#pragma once
#include <windows.h>
#include <string>

namespace netservers {

struct Info {
    bool ok = false;
    std::string error;
    int httpPort = 0;
    int httpsPort = 0;
    int untrustedPort = 0;  // HTTPS with a certificate of an unknown CA
    int wrongHostPort = 0;  // HTTPS, the test CA's certificate for another host
    int expiredPort = 0;    // HTTPS, the test CA's certificate out of date
    int faultPort = 0;
    int ftpPort = 0;
    std::wstring ftpUser;
    std::wstring ftpPassword;
    std::wstring wwwDir;   // Windows path of the served folder
    std::wstring logFile;  // Windows path of the request log
    std::wstring caFile;   // Windows path of the test CA (DER)
};

// Starts the servers on first use (and trusts the test CA); later calls
// return the same record.
const Info& Get();
// Stops the servers and forgets the CA. Registered to run at exit.
void Stop();


// "http://127.0.0.1:<port>" + path, and the like.
std::wstring HttpUrl(const std::wstring& path);
std::wstring HttpsUrl(const std::wstring& path);
std::wstring UntrustedUrl(const std::wstring& path);
std::wstring WrongHostUrl(const std::wstring& path);
std::wstring ExpiredUrl(const std::wstring& path);
std::wstring FaultUrl(const std::wstring& path);
std::wstring FtpUrl(const std::wstring& path, bool bWithLogin);

// Writes a served file of the given size (byte i = (i * 7 + seed) % 256) with
// the given last-write time (UTC); returns its Windows path.
std::wstring ServeFile(const std::wstring& name, DWORD size, const SYSTEMTIME& stUtc, BYTE seed = 0);
// Request log lines since the program started.
std::string RequestLog();

// The byte pattern of ServeFile.
inline BYTE PatternByte(ULONGLONG i, BYTE seed) { return static_cast<BYTE>((i * 7 + seed) % 256); }

}  // namespace netservers
