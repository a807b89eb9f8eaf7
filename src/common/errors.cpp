#include "common/errors.h"
#include "common/boundedtext.h"
#include <memory>
#include "common/sysdll.h"
#include "common/trace.h"

namespace {

const DWORD INTERNET_EXTENDED_ERROR = 12003;
const DWORD RESPONSE_CCH = 4096;

void ReportInternetResponse(LPCWSTR szOperation)
{
    DebugTrace(L"%s->InternetGetLastResponseInfo (%d)", szOperation, INTERNET_EXTENDED_ERROR);
    HMODULE hInet = LoadSystemLibrary(L"wininet.dll");
    if (!hInet)
        return;
    typedef BOOL(WINAPI * PFN_RESPONSE)(LPDWORD, LPWSTR, LPDWORD);
    auto pfnResponse = reinterpret_cast<PFN_RESPONSE>(
        reinterpret_cast<void*>(GetProcAddress(hInet, "InternetGetLastResponseInfoW")));
    if (pfnResponse) {
        std::unique_ptr<WCHAR[]> szResponse(new (std::nothrow) WCHAR[RESPONSE_CCH]);
        DWORD dwError = 0;
        DWORD cch = RESPONSE_CCH;
        if (szResponse && pfnResponse(&dwError, szResponse.get(), &cch)) {
            szResponse[cch < RESPONSE_CCH ? cch : RESPONSE_CCH - 1] = L'\0';
            // One log line per line of the server's answer.
            WCHAR* pszContext = nullptr;
            for (WCHAR* pszLine = wcstok_s(szResponse.get(), L"\r\n", &pszContext); pszLine;
                 pszLine = wcstok_s(nullptr, L"\r\n", &pszContext))
                DebugTrace(L"%s->InternetGetLastResponseInfo (%s)", szOperation, pszLine);
        }
    }
    FreeLibrary(hInet);
}

}  // namespace

DWORD ReportLastError(LPCWSTR szOperation, DWORD dwError)
{
    if (dwError == 0)
        dwError = GetLastError();
    if (dwError == 0)
        dwError = ERROR_GEN_FAILURE;  // a failure must never read as success
    if (!szOperation)
        szOperation = L"";
    if (dwError == INTERNET_EXTENDED_ERROR) {
        ReportInternetResponse(szOperation);
        return dwError;
    }
    LPWSTR pszText = nullptr;
    DWORD cch = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, dwError, 0, reinterpret_cast<LPWSTR>(&pszText), 0, nullptr);
    if (cch && pszText) {
        while (cch && (pszText[cch - 1] == L'\n' || pszText[cch - 1] == L'\r' ||
                       pszText[cch - 1] == L' '))
            pszText[--cch] = L'\0';
        DebugTrace(L"%s->%s (%d)", szOperation, pszText, dwError);
    } else {
        DebugTrace(L"%s->%s (%d)", szOperation, L"", dwError);
    }
    if (pszText)
        LocalFree(pszText);
    return dwError;
}

void SystemErrorText(DWORD dwError, LPWSTR szBuffer, size_t cchBuffer)
{
    if (!szBuffer || cchBuffer == 0)
        return;
    szBuffer[0] = L'\0';
    LPWSTR szSystem = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, dwError, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&szSystem), 0,
                   nullptr);
    if (!szSystem)
        return;
    TrimTrailingBlanks(szSystem);
    // A system message is only shown: cut when long.
    (void)StringCchCopyW(szBuffer, cchBuffer, szSystem);
    LocalFree(szSystem);
}

void TrimTrailingBlanks(LPWSTR szText)
{
    if (!szText)
        return;
    size_t cch = wcslen(szText);
    while (cch > 0 && wcschr(L" \t\r\n", szText[cch - 1]))
        szText[--cch] = L'\0';
}

DWORD ErrorOfHresult(HRESULT hr)
{
    if (hr == S_OK)
        return ERROR_SUCCESS;
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32 && HRESULT_CODE(hr))
        return static_cast<DWORD>(HRESULT_CODE(hr));
    return ERROR_FUNCTION_FAILED;
}

DWORD LastErrorOr(DWORD dwFallback)
{
    DWORD dwError = GetLastError();
    return dwError ? dwError : dwFallback;
}
