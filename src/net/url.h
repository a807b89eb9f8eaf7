// Splitting a download URL into the parts the transfers need.
#pragma once
#include <windows.h>

// Capacities of the parts, in characters including the terminating zero.
enum : unsigned {
    URL_HOST_CCH = 128,
    URL_PATH_CCH = 256,
    URL_USER_CCH = 32,
    URL_PASSWORD_CCH = 32,
};

// Schemes besides WinINet's INTERNET_SCHEME values (1 FTP, 3 HTTP, 4 HTTPS,
// 5 FILE).
enum : int {
    SPLITURL_SCHEME_UNKNOWN = -1,  // nothing recognised
    SPLITURL_SCHEME_PARTIAL = -2,  // "host.name/path" without a scheme
};

// Splits szURL; every output may be null. The query part is dropped, the
// port is 0 when the URL names none. Returns the scheme.
int SplitURL(LPCWSTR szURL, LPWSTR szHostName, LPWSTR szUrlPath, LPWSTR szUserName,
             LPWSTR szPassword, int* piScheme, WORD* pwPort);

// The file-name part of a URL path (after the last "/" or "\"), or "".
LPCWSTR UrlFileName(LPCWSTR szUrlPath);
