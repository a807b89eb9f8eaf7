// Fetching one file over HTTP, HTTPS or FTP (or copying it for a file URL)
// through WinINet, with progress, cancellation and an HTTP resume of a
// partial file whose size and time stamp fit the server's. Each transfer
// sends one request; it ends within a second of a cancel, and fails when
// the server sends nothing for the stall limit, keeping what arrived.
#pragma once
#include <windows.h>
#include <wininet.h>

// Result codes besides the system's own.
enum : DWORD {
    DOWNLOAD_TRANSFER_FAILED = 23,     // a read or write failed, the data ended early or stalled
    DOWNLOAD_WRONG_SIZE = 323,         // ERROR_DATA_CHECKSUM_ERROR: the server's file has
                                       // another size than the package's, so other bytes
    DOWNLOAD_NO_SIZE = 12028,          // the server gave a size of 0, or no data
    DOWNLOAD_FILE_URL_MISSING = 110,   // file URL whose file does not exist
    DOWNLOAD_NO_CONNECTION = 1230,     // no usable Internet connection
    // HTTP answers: 404 and 410 are 2 (the server has no such file); 401,
    // 403 and 407 are 5 (it refuses); any other error or an answer that is
    // no HTTP, 12152; more than HTTP_MAX_REDIRECTS redirects, 12156.
    DOWNLOAD_SERVER_ERROR = ERROR_HTTP_INVALID_SERVER_RESPONSE,
    DOWNLOAD_TOO_MANY_REDIRECTS = ERROR_HTTP_REDIRECT_FAILED,
    HTTP_MAX_REDIRECTS = 10,
};

enum : DWORD {
    HTTP_BLOCK_SIZE = 1024 * 1024,
    FTP_BLOCK_SIZE = 4096,
    DOWNLOAD_STALL_LIMIT_MS = 60000,
};

// szTarget is a file path; ending in "\" it names a folder that receives
// the URL's file name. User name and password, when not empty, replace
// those of the URL. ullExpectedSize, when not 0, is the size the file must
// have (the payload table's): another size fails with 323. A server that
// stays silent for dwStallMs fails the transfer; what arrived stays. 0 or a
// Win32 / WinINet error code.
[[nodiscard]] DWORD DownloadFile(LPCWSTR szURL, LPCWSTR szUserName, LPCWSTR szPassword,
                                 LPCWSTR szTarget, BOOL bResume, ULONGLONG ullExpectedSize = 0,
                                 DWORD dwStallMs = DOWNLOAD_STALL_LIMIT_MS);

[[nodiscard]] DWORD DownloadHTMLFile(LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword,
                                     WORD wPort, LPCWSTR szUrlPath, LPCWSTR szTarget,
                                     DWORD dwConnectFlags, BOOL bSecure, BOOL bResume,
                                     ULONGLONG ullExpectedSize = 0,
                                     DWORD dwStallMs = DOWNLOAD_STALL_LIMIT_MS);

[[nodiscard]] DWORD DownloadFTPFile(LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword,
                                    WORD wPort, LPCWSTR szUrlPath, LPCWSTR szTarget,
                                    DWORD dwConnectFlags, ULONGLONG ullExpectedSize = 0,
                                    DWORD dwStallMs = DOWNLOAD_STALL_LIMIT_MS);

// The request's HTTP status; 500 with *pdwError set when it can not be read.
[[nodiscard]] DWORD GetHttpStatusCode(HINTERNET hRequest, DWORD* pdwError);
