#include "net/url.h"
#include "common/boundedtext.h"
#include "common/trace.h"
#include "net/inetapi.h"

namespace {

// Work buffers handed to InternetCrackUrl, larger than what is kept.
enum : unsigned {
    CRACK_HOST_CCH = 256,
    CRACK_USER_CCH = 64,
    CRACK_PASSWORD_CCH = 64,
    CRACK_PATH_CCH = 512,
    CRACK_EXTRA_CCH = 1024,
};

// FALSE when the part is longer than its output: a cut host or path would
// name another server or another file.
bool PartFits(LPCWSTR szIn, size_t cchOut)
{
    return wcslen(szIn) < cchOut;
}

void CopyPart(LPWSTR szOut, size_t cchOut, LPCWSTR szIn)
{
    if (szOut)
        (void)StringCchCopyW(szOut, cchOut, szIn);  // fits: checked by PartFits
}

// True when the authority of the URL writes a port: InternetCrackUrl fills
// in the scheme's default otherwise, and the callers want 0 then.
bool HasExplicitPort(LPCWSTR szURL)
{
    LPCWSTR pAuthority = wcsstr(szURL, L"://");
    if (!pAuthority)
        return false;
    pAuthority += 3;
    size_t cchAuthority = wcscspn(pAuthority, L"/\\?#");
    LPCWSTR pHost = pAuthority;
    for (size_t i = 0; i < cchAuthority; ++i) {
        if (pAuthority[i] == L'@')
            pHost = pAuthority + i + 1;
    }
    LPCWSTR pEnd = pAuthority + cchAuthority;
    if (pHost < pEnd && *pHost == L'[') {  // [v6 address]
        while (pHost < pEnd && *pHost != L']')
            ++pHost;
    }
    for (LPCWSTR p = pHost; p < pEnd; ++p) {
        if (*p == L':')
            return p + 1 < pEnd;
    }
    return false;
}

// A file URL cracks into "/C:/dir/name" or "C:/dir/name": make it a path.
void MakeFilePath(LPWSTR szPath)
{
    if (szPath[0] == L'/' && szPath[1] && szPath[2] == L':')
        memmove(szPath, szPath + 1, (wcslen(szPath + 1) + 1) * sizeof(WCHAR));
    for (LPWSTR p = szPath; *p; ++p) {
        if (*p == L'/')
            *p = L'\\';
    }
}

}  // namespace

LPCWSTR MaskPassword(LPCWSTR szPassword)
{
    return szPassword && szPassword[0] ? TRACE_SECRET : L"";
}

void MaskUrlPassword(LPCWSTR szURL, LPWSTR szOut, size_t cchOut)
{
    if (!szOut || cchOut == 0)
        return;
    szOut[0] = L'\0';
    if (!szURL)
        return;
    // The user information is the authority's part before its last "@";
    // its password follows the first ":".
    LPCWSTR pScheme = wcsstr(szURL, L"://");
    LPCWSTR pAuthority = pScheme ? pScheme + 3 : szURL;
    LPCWSTR pEnd = pAuthority + wcscspn(pAuthority, L"/\\?#");
    LPCWSTR pAt = nullptr;
    for (LPCWSTR p = pAuthority; p < pEnd; ++p) {
        if (*p == L'@')
            pAt = p;
    }
    LPCWSTR pColon = nullptr;
    for (LPCWSTR p = pAuthority; pAt && p < pAt && !pColon; ++p) {
        if (*p == L':')
            pColon = p;
    }
    if (!pColon || pColon + 1 == pAt) {
        // Only traced.
        (void)StringCchCopyW(szOut, cchOut, szURL);
        return;
    }
    (void)StringCchCopyNW(szOut, cchOut, szURL, static_cast<size_t>(pColon + 1 - szURL));
    (void)StringCchCatW(szOut, cchOut, TRACE_SECRET);
    (void)StringCchCatW(szOut, cchOut, pAt);
}

LPCWSTR UrlFileName(LPCWSTR szUrlPath)
{
    if (!szUrlPath)
        return L"";
    LPCWSTR pName = szUrlPath;
    for (LPCWSTR p = szUrlPath; *p; ++p) {
        if (*p == L'/' || *p == L'\\')
            pName = p + 1;
    }
    return pName;
}

namespace {

int HexValue(WCHAR c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// A user name or password as the URL writes it ("us%40er") as the server
// must receive it ("us@er"): %XX bytes are UTF-8. Text that is no valid
// escape stays as it is.
void PercentDecode(LPWSTR szText, size_t cchText)
{
    if (!wcschr(szText, L'%'))
        return;
    char szBytes[CRACK_PASSWORD_CCH * 3];
    size_t cb = 0;
    for (LPCWSTR p = szText; *p && cb + 4 < sizeof(szBytes); ++p) {
        int hi = p[0] == L'%' ? HexValue(p[1]) : -1;
        int lo = hi >= 0 ? HexValue(p[2]) : -1;
        if (lo >= 0) {
            szBytes[cb++] = static_cast<char>(hi * 16 + lo);
            p += 2;
            continue;
        }
        // Anything else is carried over as UTF-8 too.
        int cbChar = WideCharToMultiByte(CP_UTF8, 0, p, 1, szBytes + cb,
                                         static_cast<int>(sizeof(szBytes) - cb), nullptr, nullptr);
        if (cbChar <= 0)
            return;
        cb += static_cast<size_t>(cbChar);
    }
    WCHAR szDecoded[CRACK_PASSWORD_CCH];
    int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szBytes, static_cast<int>(cb),
                                  szDecoded, ARRAYSIZE(szDecoded) - 1);
    if (cch <= 0 || static_cast<size_t>(cch) >= cchText)
        return;
    szDecoded[cch] = L'\0';
    // Shorter than cchText, checked above.
    (void)StringCchCopyW(szText, cchText, szDecoded);
}

}  // namespace

int SplitURL(LPCWSTR szURL, LPWSTR szHostName, LPWSTR szUrlPath, LPWSTR szUserName,
             LPWSTR szPassword, int* piScheme, WORD* pwPort)
{
    WCHAR szHost[CRACK_HOST_CCH] = L"";
    WCHAR szUser[CRACK_USER_CCH] = L"";
    WCHAR szPwd[CRACK_PASSWORD_CCH] = L"";
    WCHAR szPath[CRACK_PATH_CCH] = L"";
    WCHAR szExtra[CRACK_EXTRA_CCH] = L"";
    int iScheme = SPLITURL_SCHEME_UNKNOWN;
    WORD wPort = 0;
    if (!szURL)
        szURL = L"";

    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.lpszHostName = szHost;
    uc.dwHostNameLength = CRACK_HOST_CCH;
    uc.lpszUserName = szUser;
    uc.dwUserNameLength = CRACK_USER_CCH;
    uc.lpszPassword = szPwd;
    uc.dwPasswordLength = CRACK_PASSWORD_CCH;
    uc.lpszUrlPath = szPath;
    uc.dwUrlPathLength = CRACK_PATH_CCH;
    uc.lpszExtraInfo = szExtra;
    uc.dwExtraInfoLength = CRACK_EXTRA_CCH;

    const INETAPI* pApi = GetInetApi();
    if (szURL[0] && pApi && pApi->pInternetCrackUrlW(szURL, 0, ICU_ESCAPE, &uc)) {
        iScheme = uc.nScheme;
        if (HasExplicitPort(szURL))
            wPort = uc.nPort;
        PercentDecode(szUser, CRACK_USER_CCH);
        PercentDecode(szPwd, CRACK_PASSWORD_CCH);
        if (iScheme == INTERNET_SCHEME_FILE)
            MakeFilePath(szPath);
    } else {
        szHost[0] = szUser[0] = szPwd[0] = szPath[0] = L'\0';
        // A host and a path without a scheme: "www.example.com/setup.exe".
        LPCWSTR pSep = wcschr(szURL, L'/');
        if (!pSep)
            pSep = wcschr(szURL, L'\\');
        if (pSep) {
            size_t cchHost = static_cast<size_t>(pSep - szURL);
            WCHAR szPartHost[URL_HOST_CCH] = L"";
            // A host or a path too long for its field is no partial URL.
            if (SUCCEEDED(StringCchCopyNW(szPartHost, URL_HOST_CCH, szURL, cchHost)) &&
                cchHost < URL_HOST_CCH && wcschr(szPartHost, L'.') &&
                SUCCEEDED(StringCchCopyNW(szPath, URL_PATH_CCH, pSep, wcscspn(pSep, L"?")))) {
                iScheme = SPLITURL_SCHEME_PARTIAL;
                (void)StringCchCopyW(szHost, CRACK_HOST_CCH, szPartHost);  // fits: a bigger field
                WCHAR szLogUrl[CRACK_EXTRA_CCH];
                MaskUrlPassword(szURL, szLogUrl, ARRAYSIZE(szLogUrl));
                DebugTrace(L"SplitURL()-> Trying URL = (%s), predicted bad URL)", szLogUrl);
            } else {
                szHost[0] = szPath[0] = L'\0';
            }
        }
    }

    if (!PartFits(szHost, URL_HOST_CCH) || !PartFits(szPath, URL_PATH_CCH) ||
        !PartFits(szUser, URL_USER_CCH) || !PartFits(szPwd, URL_PASSWORD_CCH)) {
        DebugTrace(L"SplitURL()->A part of the URL is longer than its field: not used");
        szHost[0] = szPath[0] = szUser[0] = szPwd[0] = L'\0';
        iScheme = SPLITURL_SCHEME_UNKNOWN;
        wPort = 0;
    }
    CopyPart(szHostName, URL_HOST_CCH, szHost);
    CopyPart(szUrlPath, URL_PATH_CCH, szPath);
    CopyPart(szUserName, URL_USER_CCH, szUser);
    CopyPart(szPassword, URL_PASSWORD_CCH, szPwd);
    if (piScheme)
        *piScheme = iScheme;
    if (pwPort)
        *pwPort = wPort;

    WCHAR szLogHost[URL_HOST_CCH], szLogPath[URL_PATH_CCH], szLogUser[URL_USER_CCH];
    MaskUrlPassword(szHost, szLogHost, URL_HOST_CCH);  // a partial URL may carry a login
    // Only traced.
    (void)StringCchCopyW(szLogPath, URL_PATH_CCH, szPath);
    (void)StringCchCopyW(szLogUser, URL_USER_CCH, szUser);
    DebugTrace(L"SplitURL()->HostName=%s UrlPath=%s UserName=%s Password=%s Scheme=%d Port=%d",
               szLogHost, szLogPath, szLogUser, MaskPassword(szPwd), iScheme, static_cast<int>(wPort));
    return iScheme;
}
