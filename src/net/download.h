// Fetching one file over HTTP, HTTPS or FTP (or copying it for a file URL)
// through WinINet, with progress, cancellation and an HTTP resume of a
// partial file whose time stamp matches the server's.
#pragma once
#include <windows.h>
#include <wininet.h>

// Result codes besides the system's own.
enum : DWORD {
    DOWNLOAD_TRANSFER_FAILED = 23,     // a read or write failed, or the data ended early
    DOWNLOAD_NO_SIZE = 12028,          // the server gave no size
    DOWNLOAD_FILE_URL_MISSING = 110,   // file URL whose file does not exist
    DOWNLOAD_NO_CONNECTION = 1230,     // no usable Internet connection
};

enum : DWORD {
    HTTP_BLOCK_SIZE = 1024 * 1024,
    FTP_BLOCK_SIZE = 4096,
};

// szTarget is a file path; ending in "\" it names a folder that receives
// the URL's file name. User name and password, when not empty, replace
// those of the URL. 0 or a Win32 / WinINet error code.
DWORD DownloadFile(LPCWSTR szURL, LPCWSTR szUserName, LPCWSTR szPassword, LPCWSTR szTarget,
                   BOOL bResume);

DWORD DownloadHTMLFile(LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword, WORD wPort,
                       LPCWSTR szUrlPath, LPCWSTR szTarget, DWORD dwConnectFlags, BOOL bSecure,
                       BOOL bResume);

DWORD DownloadFTPFile(LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword, WORD wPort,
                      LPCWSTR szUrlPath, LPCWSTR szTarget, DWORD dwConnectFlags);

// The request's HTTP status; 500 with *pdwError set when it can not be read.
DWORD GetHttpStatusCode(HINTERNET hRequest, DWORD* pdwError);
