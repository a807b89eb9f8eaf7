#include "net/download.h"
#include "common/errors.h"
#include "common/handles.h"
#include "common/filecopy.h"
#include <strsafe.h>
#include <cwchar>
#include "common/cancel.h"
#include "common/blockcopy.h"
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/trace.h"
#include "state/state.h"
#include "net/connectivity.h"
#include "net/inetapi.h"
#include "net/url.h"
#include "common/progress.h"

namespace {

enum : DWORD {
    DEFAULT_HTTP_PORT = 80,
    DEFAULT_HTTPS_PORT = 443,
    DEFAULT_FTP_PORT = 21,
    // The request flags of a plain and of a secure transfer; a transfer
    // without resume also keeps its data out of the cache. A secure transfer
    // checks the whole certificate: its authority, its host name, its dates.
    HTTP_REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION |
                         INTERNET_FLAG_PRAGMA_NOCACHE,
    HTTPS_REQUEST_FLAGS = INTERNET_FLAG_SECURE,
    STATUS_TEXT_BYTES = 64,
    NUMBER_TEXT_CCH = 64,
    RANGE_HEADERS_CCH = 128,
    // WinINet waits without end for a silent server and can not be woken
    // while it waits: the receive time-out is cut into slices, between which
    // the cancel flag is read. A server silent for STALL_LIMIT_MS in all
    // fails the transfer.
    RECEIVE_SLICE_MS = 500,
    RECEIVE_SLICE_MAX_MS = 16000,
    STALL_LIMIT_MS = 60000,
    FILETIME_TICKS_PER_SECOND = 10000000,
    HTTP_STATUS_RANGE_REFUSED = 416,
};

// An empty login is no login: WinINet then uses its default (anonymous FTP).
LPCWSTR LoginOrDefault(LPCWSTR sz)
{
    return sz[0] ? sz : nullptr;
}

// Folder of szTarget joined with its name, or with the URL's file name when
// the target ends with "\".
BOOL BuildTargetPath(LPCWSTR szTarget, LPCWSTR szUrlPath, LPWSTR szFile, LPWSTR szFolder)
{
    szFile[0] = szFolder[0] = L'\0';
    if (!szTarget)
        szTarget = L"";
    LPCWSTR pSep = wcsrchr(szTarget, L'\\');
    LPCWSTR pName = pSep ? pSep + 1 : szTarget;
    size_t cchFolder = pSep ? static_cast<size_t>(pSep - szTarget) : 0;
    if (cchFolder >= PATH_CCH)
        return FALSE;
    StringCchCopyNW(szFolder, PATH_CCH, szTarget, cchFolder);
    if (!pName[0])
        pName = UrlFileName(szUrlPath);
    HRESULT hr = S_OK;
    if (pSep)
        hr = StringCchPrintfW(szFile, PATH_CCH, L"%s\\%s", szFolder, pName);
    else
        hr = StringCchCopyW(szFile, PATH_CCH, pName);
    return SUCCEEDED(hr);
}

void CreateTargetFolder(LPCWSTR szFolder)
{
    if (szFolder[0] && !FolderExists(szFolder))
        CreateAllDirectory(szFolder);
}

// Decimal text to a 64-bit number; false on anything else or an overflow.
bool ParseUInt64(LPCWSTR psz, LPCWSTR* ppEnd, ULONGLONG* pull)
{
    ULONGLONG ull = 0;
    LPCWSTR p = psz;
    while (*p == L' ')
        ++p;
    LPCWSTR pDigits = p;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        ULONGLONG digit = static_cast<ULONGLONG>(*p - L'0');
        if (ull > (~0ULL - digit) / 10)
            return false;
        ull = ull * 10 + digit;
    }
    if (p == pDigits)
        return false;
    *pull = ull;
    if (ppEnd)
        *ppEnd = p;
    return true;
}

bool QueryHeaderText(const INETAPI* pApi, HINTERNET hRequest, DWORD dwInfo, LPWSTR szText,
                     DWORD cchText)
{
    DWORD cbText = cchText * sizeof(WCHAR);
    szText[0] = L'\0';
    if (!pApi->pHttpQueryInfoW(hRequest, dwInfo, szText, &cbText, nullptr))
        return false;
    szText[cchText - 1] = L'\0';
    return true;
}

// Content-Length, read as text so that sizes past 4 GiB come through.
bool QueryContentLength(const INETAPI* pApi, HINTERNET hRequest, ULONGLONG* pullSize)
{
    WCHAR szText[NUMBER_TEXT_CCH];
    if (!QueryHeaderText(pApi, hRequest, HTTP_QUERY_CONTENT_LENGTH, szText, NUMBER_TEXT_CCH))
        return false;
    LPCWSTR pEnd = nullptr;
    if (!ParseUInt64(szText, &pEnd, pullSize) || *pEnd) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    return true;
}

// "bytes first-last/total" or "bytes */total".
struct CONTENTRANGE {
    bool bHasRange;
    ULONGLONG ullFirst;
    ULONGLONG ullLast;
    ULONGLONG ullTotal;
};

bool QueryContentRange(const INETAPI* pApi, HINTERNET hRequest, CONTENTRANGE* pRange)
{
    WCHAR szText[NUMBER_TEXT_CCH * 2];
    *pRange = CONTENTRANGE{};
    if (!QueryHeaderText(pApi, hRequest, HTTP_QUERY_CONTENT_RANGE, szText, ARRAYSIZE(szText)))
        return false;
    if (_wcsnicmp(szText, L"bytes ", 6) != 0)
        return false;
    LPCWSTR p = szText + 6;
    if (*p == L'*') {
        ++p;
    } else {
        if (!ParseUInt64(p, &p, &pRange->ullFirst) || *p++ != L'-' ||
            !ParseUInt64(p, &p, &pRange->ullLast) || pRange->ullLast < pRange->ullFirst)
            return false;
        pRange->bHasRange = true;
    }
    if (*p++ != L'/' || !ParseUInt64(p, &p, &pRange->ullTotal) || *p)
        return false;
    return !pRange->bHasRange || pRange->ullLast < pRange->ullTotal;
}

void LogTime(const FILETIME& ft)
{
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&ft, &st);
    DebugTrace(L"DownloadHTMLFile()->stLastWriteTime=%d/%d/%d - %d:%d:%d %dms", st.wDay, st.wMonth,
               st.wYear, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

// The headers that ask for the rest of a partial file, on the condition that
// the server's copy still carries the file's time (If-Range with a date is
// an exact match). Empty when the file can not be continued.
void BuildRangeHeaders(LPCWSTR szFile, LPWSTR szHeaders, ULONGLONG* pullLocalSize)
{
    static const WCHAR* const kDays[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
    static const WCHAR* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                           L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    szHeaders[0] = L'\0';
    *pullLocalSize = 0;
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(szFile, GetFileExInfoStandard, &fad) ||
        (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    ULARGE_INTEGER uliSize, uliTime;
    uliSize.LowPart = fad.nFileSizeLow;
    uliSize.HighPart = fad.nFileSizeHigh;
    uliTime.LowPart = fad.ftLastWriteTime.dwLowDateTime;
    uliTime.HighPart = fad.ftLastWriteTime.dwHighDateTime;
    // HTTP dates have whole seconds: a finer time never matches the server's.
    if (uliSize.QuadPart == 0 || uliTime.QuadPart % FILETIME_TICKS_PER_SECOND != 0)
        return;
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&fad.ftLastWriteTime, &st) || st.wDayOfWeek > 6 || st.wMonth < 1 ||
        st.wMonth > 12)
        return;
    if (FAILED(StringCchPrintfW(szHeaders, RANGE_HEADERS_CCH,
                                L"Range: bytes=%I64u-\r\nIf-Range: %s, %02u %s %04u %02u:%02u:%02u GMT\r\n",
                                uliSize.QuadPart, kDays[st.wDayOfWeek], st.wDay,
                                kMonths[st.wMonth - 1], st.wYear, st.wHour, st.wMinute,
                                st.wSecond))) {
        szHeaders[0] = L'\0';
        return;
    }
    *pullLocalSize = uliSize.QuadPart;
}

bool IsTimeout(DWORD dwError)
{
    return dwError == ERROR_INTERNET_TIMEOUT || dwError == WSAETIMEDOUT ||
           dwError == ERROR_INTERNET_CONNECTION_ABORTED;
}

// Opens the GET request and sends it, asking again with a longer receive
// slice when the server stays silent, until the stall limit or a cancel.
// The request handle is left in hRequest; FALSE with *pdwError on failure.
BOOL SendRequest(const INETAPI* pApi, HINTERNET hConnect, LPCWSTR szUrlPath, DWORD dwFlags,
                 LPCWSTR szHeaders, CInetHandle& hRequest, DWORD* pdwError, DWORD* pdwSlice)
{
    DWORD& dwSlice = *pdwSlice;
    dwSlice = RECEIVE_SLICE_MS;
    DWORD dwWaited = 0;
    for (;;) {
        hRequest.Reset(pApi->pHttpOpenRequestW(hConnect, L"GET", szUrlPath, nullptr, nullptr,
                                               nullptr, dwFlags, 0));
        if (!hRequest.Get()) {
            *pdwError = ReportLastError(L"HttpOpenRequest", GetLastError());
            return FALSE;
        }
        pApi->pInternetSetOptionW(hRequest.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &dwSlice,
                                  sizeof(dwSlice));
        DWORD dwStart = GetTickCount();
        BOOL bSent = pApi->pHttpSendRequestW(hRequest.Get(), szHeaders[0] ? szHeaders : nullptr,
                                             szHeaders[0] ? static_cast<DWORD>(-1) : 0, nullptr,
                                             0);
        *pdwError = bSent ? 0 : GetLastError();
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (bSent || IsCancelled() || !IsTimeout(*pdwError) || dwElapsed < dwSlice / 2)
            return bSent;
        dwWaited += dwElapsed;
        if (dwWaited >= STALL_LIMIT_MS)
            return FALSE;
        if (dwSlice < RECEIVE_SLICE_MAX_MS)
            dwSlice *= 2;
        DebugTrace(L"DownloadHTMLFile()->No answer yet, asking again (wait %u ms)", dwSlice);
    }
}

// Reads up to cbWanted bytes: the data at hand, waiting in slices for more,
// until the block is full, the data ends or the transfer is cancelled. A
// failure that comes before the slice is over is not a wait.
BOOL ReadBlock(const INETAPI* pApi, HINTERNET hRequest, DWORD dwSlice, BYTE* pBuffer,
               DWORD cbWanted, DWORD* pcbRead)
{
    *pcbRead = 0;
    DWORD dwStalled = 0;
    while (*pcbRead < cbWanted && !IsCancelled()) {
        DWORD cbAvailable = 0;
        DWORD dwStart = GetTickCount();
        if (!pApi->pInternetQueryDataAvailable(hRequest, &cbAvailable, 0, 0)) {
            DWORD dwError = GetLastError();
            DWORD dwElapsed = GetTickCount() - dwStart;
            dwStalled += dwElapsed;
            if (IsTimeout(dwError) && dwElapsed >= dwSlice / 2 && dwStalled < STALL_LIMIT_MS)
                continue;
            SetLastError(dwError);
            return FALSE;
        }
        if (cbAvailable == 0)
            break;  // end of the data
        DWORD cbRead = 0;
        DWORD cbAsk = cbWanted - *pcbRead;
        if (cbAsk > cbAvailable)
            cbAsk = cbAvailable;
        if (!pApi->pInternetReadFile(hRequest, pBuffer + *pcbRead, cbAsk, &cbRead))
            return FALSE;
        if (cbRead == 0)
            break;
        *pcbRead += cbRead;
        dwStalled = 0;
    }
    return TRUE;
}

// Stamps the target with the server's time. Done again after the writes,
// which move the last-write time on some file systems.
void StampFile(HANDLE hFile, const FILETIME& ft)
{
    SetFileTime(hFile, &ft, nullptr, &ft);
}

// The body of an HTTP answer, read in receive slices (see ReadBlock).
class CHttpBodySource : public IBlockSource {
public:
    CHttpBodySource(const INETAPI* pApi, HINTERNET hRequest, DWORD dwSlice)
        : m_pApi(pApi), m_hRequest(hRequest), m_dwSlice(dwSlice) {}
    BOOL Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead) override
    {
        return ReadBlock(m_pApi, m_hRequest, m_dwSlice, pBuffer, cbWant, pcbRead);
    }

private:
    const INETAPI* m_pApi;
    HINTERNET m_hRequest;
    DWORD m_dwSlice;
};

// An open FTP file.
class CFtpSource : public IBlockSource {
public:
    CFtpSource(const INETAPI* pApi, HINTERNET hFile) : m_pApi(pApi), m_hFile(hFile) {}
    BOOL Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead) override
    {
        *pcbRead = 0;
        return m_pApi->pInternetReadFile(m_hFile, pBuffer, cbWant, pcbRead);
    }

private:
    const INETAPI* m_pApi;
    HINTERNET m_hFile;
};

struct HTTPTRANSFER {
    const INETAPI* pApi;
    LPCWSTR szServer;
    LPCWSTR szUser;
    LPCWSTR szPassword;
    WORD wPort;
    LPCWSTR szUrlPath;
    LPCWSTR szFile;
    LPCWSTR szFolder;
    DWORD dwConnectFlags;
    BOOL bSecure;
    BOOL bResume;
};

// Outcome of one request: done (result set) or ask again without a range.
enum class PASS { DONE, RETRY_WHOLE };

PASS HttpPass(const HTTPTRANSFER& t, HINTERNET hConnect, bool bAskRange, DWORD* pdwResult)
{
    const INETAPI* pApi = t.pApi;
    WCHAR szHeaders[RANGE_HEADERS_CCH] = L"";
    ULONGLONG ullLocalSize = 0;
    if (bAskRange)
        BuildRangeHeaders(t.szFile, szHeaders, &ullLocalSize);

    DWORD dwFlags = t.bSecure ? HTTPS_REQUEST_FLAGS : HTTP_REQUEST_FLAGS;
    if (!t.bResume)
        dwFlags |= INTERNET_FLAG_NO_CACHE_WRITE;
    CInetHandle hRequest;
    DWORD dwSendError = 0;
    DWORD dwSlice = RECEIVE_SLICE_MS;
    BOOL bSent = SendRequest(pApi, hConnect, t.szUrlPath, dwFlags, szHeaders, hRequest, &dwSendError,
                             &dwSlice);
    DebugTrace(L"DownloadHTMLFile()->HttpSendRequest()=>%d", bSent);
    if (!hRequest.Get()) {
        *pdwResult = dwSendError;
        return PASS::DONE;
    }
    if (!bSent) {
        // The status of an unsent request reads as 0 on some systems: keep
        // the real reason instead.
        *pdwResult = ReportLastError(L"HttpSendRequest", dwSendError);
        return PASS::DONE;
    }
    if (IsCancelled()) {
        *pdwResult = ERROR_CANCELLED;
        return PASS::DONE;
    }

    DWORD dwError = 0;
    DWORD dwStatus = GetHttpStatusCode(hRequest.Get(), &dwError);
    if (dwError) {
        *pdwResult = ReportLastError(L"GetHttpStatusCode", dwError);
        return PASS::DONE;
    }
    if (szHeaders[0] && dwStatus == HTTP_STATUS_RANGE_REFUSED) {
        // The server's copy has the file's date and nothing past its size:
        // an earlier run finished it.
        CONTENTRANGE range;
        if (QueryContentRange(pApi, hRequest.Get(), &range) && !range.bHasRange &&
            range.ullTotal == ullLocalSize) {
            DebugTrace(L"DownloadHTMLFile()->File already complete (%I64u bytes)", ullLocalSize);
            if (Progress().GetMaxData() == 0)
                Progress().DefineData(ullLocalSize);
            Progress().NewStep(Progress().AddBytesDone(ullLocalSize));
            *pdwResult = 0;
            return PASS::DONE;
        }
        DebugTrace(L"DownloadHTMLFile()->Range refused, asking for the whole file");
        CloseUnfinishedRequest(hRequest);
        return PASS::RETRY_WHOLE;
    }
    if (dwStatus >= HTTP_STATUS_AMBIGUOUS || dwStatus < HTTP_STATUS_OK) {
        *pdwResult = dwStatus == HTTP_STATUS_NOT_FOUND ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return PASS::DONE;
    }

    // Server time, from Last-Modified, else now.
    SYSTEMTIME stServer = {};
    DWORD cbTime = sizeof(stServer);
    if (!pApi->pHttpQueryInfoW(hRequest.Get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME,
                               &stServer, &cbTime, nullptr))
        GetSystemTime(&stServer);
    FILETIME ftServer = {};
    SystemTimeToFileTime(&stServer, &ftServer);
    LogTime(ftServer);

    // Size: the whole file's, and what this answer carries.
    ULONGLONG ullBody = 0;
    if (!QueryContentLength(pApi, hRequest.Get(), &ullBody)) {
        ReportLastError(L"HttpQueryInfo", GetLastError());
        ullBody = 0;
    }
    ULONGLONG ullSize = ullBody;
    CONTENTRANGE range = {};
    bool bPartial = dwStatus == HTTP_STATUS_PARTIAL_CONTENT;
    if (bPartial) {
        if (!QueryContentRange(pApi, hRequest.Get(), &range) || !range.bHasRange ||
            range.ullLast - range.ullFirst + 1 != ullBody) {
            DebugTrace(L"DownloadHTMLFile()->Range answer not usable, asking for the whole file");
            CloseUnfinishedRequest(hRequest);
            return PASS::RETRY_WHOLE;
        }
        ullSize = range.ullTotal;
    }
    DebugTrace(L"DownloadHTMLFile()->FileSize=%I64u", ullSize);
    DebugTrace(L"DownloadHTMLFile()->HttpQueryInfo(dwFileSize)=%I64u", ullSize);
    if (ullSize == 0 || ullBody == 0) {
        *pdwResult = DOWNLOAD_NO_SIZE;
        return PASS::DONE;
    }
    CreateTargetFolder(t.szFolder);

    // Resume probe: a partial file with the server's time is continued.
    BOOL bResume = t.bResume;
    ULONGLONG ullDone = 0;
    CFileHandle hFile;
    if (bResume) {
        hFile.Reset(CreateFileW(t.szFile, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        FILETIME ftLocal = {};
        LARGE_INTEGER liSize = {};
        if (!hFile.IsValid()) {
            ReportLastError(L"CreateFile", GetLastError());
            bResume = FALSE;
        } else {
            GetFileTime(hFile.Get(), nullptr, nullptr, &ftLocal);
            LogTime(ftLocal);
            if (CompareFileTime(&ftLocal, &ftServer) != 0) {
                DebugTrace(L"DownloadHTMLFile()->Files are not on the same date!");
                bResume = FALSE;
            } else if (!GetFileSizeEx(hFile.Get(), &liSize)) {
                ReportLastError(L"GetFileSizeEx", GetLastError());
                bResume = FALSE;
            } else {
                ullDone = static_cast<ULONGLONG>(liSize.QuadPart);
            }
        }
        if (bResume) {
            LARGE_INTEGER liZero = {};
            if (!SetFilePointerEx(hFile.Get(), liZero, nullptr, FILE_END)) {
                ReportLastError(L"SetFilePointerEx", GetLastError());
                bResume = FALSE;
            }
        }
        // The body must start where the file ends: a range answer from
        // there, or the whole file for an empty one.
        if (bResume && !(bPartial ? range.ullFirst == ullDone : ullDone == 0)) {
            if (bPartial) {
                DebugTrace(L"DownloadHTMLFile()->Range answer not usable, asking for the whole file");
                CloseUnfinishedRequest(hRequest);
                return PASS::RETRY_WHOLE;
            }
            bResume = FALSE;
        }
    }
    if (!bResume) {
        if (bPartial) {
            DebugTrace(L"DownloadHTMLFile()->Range answer not usable, asking for the whole file");
            CloseUnfinishedRequest(hRequest);
            return PASS::RETRY_WHOLE;
        }
        DebugTrace(L"DownloadHTMLFile()->Mode resume disabled!");
        ullDone = 0;
        hFile.Close();
        hFile.Reset(CreateFileW(t.szFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile.IsValid()) {
            *pdwResult = ReportLastError(L"CreateFile", GetLastError());
            return PASS::DONE;
        }
        StampFile(hFile.Get(), ftServer);
    }
    DebugTrace(L"DownloadHTMLFile()->CreateFile=%d", static_cast<int>(reinterpret_cast<INT_PTR>(hFile.Get())));
    if (Progress().GetMaxData() == 0)
        Progress().DefineData(ullSize);
    Progress().NewStep(Progress().AddBytesDone(ullDone));

    // Copy loop.
    ULONGLONG ullLeft = ullSize - ullDone;
    DWORD cbBlock = (ullLeft != 0 && ullLeft < HTTP_BLOCK_SIZE) ? static_cast<DWORD>(ullLeft)
                                                                : HTTP_BLOCK_SIZE;
    CHttpBodySource body(pApi, hRequest.Get(), dwSlice);
    auto observer = MakeBlockObserver(
        [](DWORD cbWant, DWORD cbRead, BOOL bOk, ULONGLONG) {
            DebugTrace(L"DownloadHTMLFile()->InternetReadFile(BUFLEN=%d BytesRead=%d)=%d", cbWant,
                       cbRead, bOk);
            if (!bOk)
                ReportLastError(L"InternetReadFile", GetLastError());
        },
        [](DWORD cbWritten, BOOL bOk, ULONGLONG) {
            DebugTrace(L"DownloadHTMLFile()->WriteFile(BytesWritten=%d)=%d", cbWritten, bOk);
            ReportBytes(cbWritten);
        });
    ULONGLONG ullReceived = 0;
    COPYRESULT copy =
        CopyBlocks(body, hFile.Get(), COPY_UNTIL_END, cbBlock, &observer, &ullReceived);
    if (copy == COPYRESULT::NO_MEMORY) {
        *pdwResult = ReportLastError(L"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
        return PASS::DONE;
    }
    BOOL bOk = copy != COPYRESULT::READ_FAILED && copy != COPYRESULT::WRITE_FAILED;
    bool bAtEnd = copy == COPYRESULT::DONE;
    if (bOk && !IsCancelled() && ullReceived < ullBody) {
        // The connection ended before the announced size: what arrived
        // stays for a later resume.
        DebugTrace(L"DownloadHTMLFile()->Transfer cut after %I64u of %I64u bytes", ullReceived, ullBody);
        bOk = FALSE;
    }
    StampFile(hFile.Get(), ftServer);
    hFile.Close();
    if (!bAtEnd)
        CloseUnfinishedRequest(hRequest);
    if (!bOk)
        *pdwResult = DOWNLOAD_TRANSFER_FAILED;
    else if (!FileExists(t.szFile))
        *pdwResult = ERROR_FILE_NOT_FOUND;
    else
        *pdwResult = 0;
    return PASS::DONE;
}

}  // namespace

DWORD GetHttpStatusCode(HINTERNET hRequest, DWORD* pdwError)
{
    DWORD dwStatus = HTTP_STATUS_SERVER_ERROR;
    DWORD dwError = 0;
    WCHAR szStatus[STATUS_TEXT_BYTES / sizeof(WCHAR)] = L"";
    DWORD cbStatus = sizeof(szStatus);
    const INETAPI* pApi = GetInetApi();
    if (!pApi) {
        dwError = GetLastError();
    } else if (!pApi->pHttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE, szStatus, &cbStatus, nullptr)) {
        dwError = GetLastError();
        if (!dwError)
            dwError = ERROR_INTERNET_INTERNAL_ERROR;
    } else {
        szStatus[ARRAYSIZE(szStatus) - 1] = L'\0';
        dwStatus = static_cast<DWORD>(wcstoul(szStatus, nullptr, 10));
    }
    DebugTrace(L"GetHttpStatusCode > dwStatusCode == %d, error == %d", dwStatus, dwError);
    if (pdwError)
        *pdwError = dwError;
    return dwStatus;
}

DWORD DownloadHTMLFile(LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword, WORD wPort,
                       LPCWSTR szUrlPath, LPCWSTR szTarget, DWORD dwConnectFlags, BOOL bSecure,
                       BOOL bResume)
{
    if (!szServer)
        szServer = L"";
    if (!szUser)
        szUser = L"";
    if (!szPassword)
        szPassword = L"";
    if (!szUrlPath)
        szUrlPath = L"";
    WCHAR szFile[PATH_CCH], szFolder[PATH_CCH];
    BOOL bPath = BuildTargetPath(szTarget, szUrlPath, szFile, szFolder);
    if (wPort == 0)
        wPort = static_cast<WORD>(bSecure ? DEFAULT_HTTPS_PORT : DEFAULT_HTTP_PORT);
    DebugTrace(L"DownloadHTMLFile()->ServerName=%s Login=%s Pwd=%s SourceFile=%s Secure=%d Resume=%d",
               szServer, szUser, MaskPassword(szPassword), szUrlPath, bSecure, bResume);
    DebugTrace(L"DownloadHTMLFile()->TargetFile=%s", szFile);

    DWORD dwResult = 0;
    CInetHandle hInternet, hConnect;
    const INETAPI* pApi = GetInetApi();
    if (!bPath) {
        dwResult = ReportLastError(L"DownloadHTMLFile", ERROR_FILENAME_EXCED_RANGE);
    } else if (!pApi) {
        dwResult = ReportLastError(L"LoadLibrary", GetLastError());
    } else if (!IsCancelled()) {
        hInternet.Reset(pApi->pInternetOpenW(L"DownloadHTMLFile", INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                             nullptr, 0));
        if (!hInternet.Get() || IsCancelled()) {
            dwResult = ReportLastError(L"InternetOpen", GetLastError());
        } else {
            hConnect.Reset(pApi->pInternetConnectW(hInternet.Get(), szServer, wPort,
                                                   LoginOrDefault(szUser),
                                                   LoginOrDefault(szPassword),
                                                   INTERNET_SERVICE_HTTP, dwConnectFlags, 0));
            if (!hConnect.Get() || IsCancelled()) {
                dwResult = ReportLastError(L"InternetConnect", GetLastError());
            } else {
                HTTPTRANSFER t = {pApi,  szServer, szUser,   szPassword,     wPort,   szUrlPath,
                                  szFile, szFolder, dwConnectFlags, bSecure, bResume};
                if (HttpPass(t, hConnect.Get(), bResume != FALSE, &dwResult) == PASS::RETRY_WHOLE)
                    HttpPass(t, hConnect.Get(), false, &dwResult);
            }
        }
    }
    hConnect.Close();
    hInternet.Close();
    if (IsCancelled())
        dwResult = ERROR_CANCELLED;
    DebugTrace(L"DownloadHTMLFile()->End(%d)", dwResult);
    return dwResult;
}

DWORD DownloadFTPFile(LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword, WORD wPort,
                      LPCWSTR szUrlPath, LPCWSTR szTarget, DWORD dwConnectFlags)
{
    if (!szServer)
        szServer = L"";
    if (!szUser)
        szUser = L"";
    if (!szPassword)
        szPassword = L"";
    if (!szUrlPath)
        szUrlPath = L"";
    WCHAR szFile[PATH_CCH], szFolder[PATH_CCH];
    BOOL bPath = BuildTargetPath(szTarget, szUrlPath, szFile, szFolder);
    if (wPort == 0)
        wPort = DEFAULT_FTP_PORT;
    DebugTrace(L"DownloadFTPFile()->ServerName=%s LoginFTP=%s PwdFTP=%s SourceFile=%s Port=%d",
               szServer, szUser, MaskPassword(szPassword), szUrlPath, static_cast<int>(wPort));
    DebugTrace(L"DownloadFTPFile()->TargetFile=%s", szFile);

    DWORD dwResult = 0;
    CInetHandle hInternet, hConnect, hFtpFile;
    const INETAPI* pApi = GetInetApi();
    CFileHandle hFile;
    WIN32_FIND_DATAW fd = {};
    bool bFound = false;
    ULONGLONG ullSize = 0;
    DWORD cbBlock = FTP_BLOCK_SIZE;
    BOOL bOk = TRUE;
    ULONGLONG ullReceived = 0;

    if (!bPath) {
        dwResult = ReportLastError(L"DownloadFTPFile", ERROR_FILENAME_EXCED_RANGE);
        goto End;
    }
    if (!pApi) {
        dwResult = ReportLastError(L"LoadLibrary", GetLastError());
        goto End;
    }
    if (IsCancelled())
        goto End;
    hInternet.Reset(pApi->pInternetOpenW(L"DownloadFTPFile", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                         nullptr, 0));
    if (!hInternet.Get() || IsCancelled()) {
        dwResult = ReportLastError(L"InternetOpen", GetLastError());
        goto End;
    }
    hConnect.Reset(pApi->pInternetConnectW(hInternet.Get(), szServer, wPort, LoginOrDefault(szUser),
                                           LoginOrDefault(szPassword), INTERNET_SERVICE_FTP,
                                           dwConnectFlags, 0));
    if (!hConnect.Get() || IsCancelled()) {
        dwResult = ReportLastError(L"InternetConnect", GetLastError());
        goto End;
    }

    {
        // Size and times from the listing, when the server lists the file.
        CInetHandle hFind;
        hFind.Reset(pApi->pFtpFindFirstFileW(hConnect.Get(), szUrlPath, &fd, INTERNET_FLAG_NEED_FILE, 0));
        if (hFind.Get()) {
            bFound = true;
            ullSize = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            DebugTrace(L"DownloadFTPFile()->finfo: FileSize->%I64u", ullSize);
        }
    }
    if (IsCancelled())
        goto End;

    hFtpFile.Reset(pApi->pFtpOpenFileW(hConnect.Get(), szUrlPath, GENERIC_READ,
                                       FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
    if (!hFtpFile.Get()) {
        dwResult = ReportLastError(L"FtpOpenFile", GetLastError());
        goto End;
    }
    if (ullSize == 0) {
        DWORD dwHigh = 0;
        DWORD dwLow = pApi->pFtpGetFileSize(hFtpFile.Get(), &dwHigh);
        if (dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            dwLow = dwHigh = 0;
        ullSize = (static_cast<ULONGLONG>(dwHigh) << 32) | dwLow;
        DebugTrace(L"DownloadFTPFile()->FtpGetFileSize->%I64u", ullSize);
    }
    if (ullSize == 0 || IsCancelled()) {
        dwResult = ReportLastError(L"FtpGetFileSize", GetLastError());
        goto End;
    }

    if (Progress().GetMaxData() == 0)
        Progress().DefineData(ullSize);
    if (ullSize < cbBlock)
        cbBlock = static_cast<DWORD>(ullSize);
    CreateTargetFolder(szFolder);
    hFile.Reset(CreateFileW(szFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!hFile.IsValid()) {
        dwResult = ReportLastError(L"CreateFile", GetLastError());
        goto End;
    }
    if (bFound)
        SetFileTime(hFile.Get(), &fd.ftCreationTime, nullptr, &fd.ftLastWriteTime);

    {
        CFtpSource source(pApi, hFtpFile.Get());
        auto observer = MakeBlockObserver(
            [](DWORD cbWant, DWORD cbRead, BOOL bRead, ULONGLONG) {
                DebugTrace(L"DownloadFTPFile()->InternetReadFile(BUFLEN=%d BytesRead=%d)=%d",
                           cbWant, cbRead, bRead);
                if (!bRead)
                    ReportLastError(L"InternetReadFile", GetLastError());
            },
            [](DWORD cbWritten, BOOL bWrite, ULONGLONG) {
                DebugTrace(L"DownloadFTPFile()->WriteFile(Byteswritten=%d)=%d", cbWritten, bWrite);
                ReportBytes(cbWritten);
            });
        COPYRESULT copy =
            CopyBlocks(source, hFile.Get(), COPY_UNTIL_END, cbBlock, &observer, &ullReceived);
        if (copy == COPYRESULT::NO_MEMORY) {
            dwResult = ReportLastError(L"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
            goto End;
        }
        bOk = copy != COPYRESULT::READ_FAILED && copy != COPYRESULT::WRITE_FAILED;
    }
    if (bOk && !IsCancelled() && ullReceived < ullSize) {
        DebugTrace(L"DownloadFTPFile()->Transfer cut after %I64u of %I64u bytes", ullReceived, ullSize);
        bOk = FALSE;
    }
    if (bFound)
        SetFileTime(hFile.Get(), &fd.ftCreationTime, nullptr, &fd.ftLastWriteTime);
    hFile.Close();
    if (!bOk)
        dwResult = DOWNLOAD_TRANSFER_FAILED;
    else if (!FileExists(szFile))
        dwResult = ERROR_FILE_NOT_FOUND;

End:
    hFile.Close();
    hFtpFile.Close();
    hConnect.Close();
    hInternet.Close();
    if (IsCancelled())
        dwResult = ERROR_CANCELLED;
    DebugTrace(L"DownloadFTPFile()->End(%d)", dwResult);
    return dwResult;
}

DWORD DownloadFile(LPCWSTR szURL, LPCWSTR szUserName, LPCWSTR szPassword, LPCWSTR szTarget,
                   BOOL bResume)
{
    WCHAR szHost[URL_HOST_CCH], szPath[URL_PATH_CCH], szUser[URL_USER_CCH], szPwd[URL_PASSWORD_CCH];
    int iScheme = SPLITURL_SCHEME_UNKNOWN;
    WORD wPort = 0;
    SplitURL(szURL, szHost, szPath, szUser, szPwd, &iScheme, &wPort);
    if (szUserName && szUserName[0])
        StringCchCopyW(szUser, URL_USER_CCH, szUserName);
    if (szPassword && szPassword[0])
        StringCchCopyW(szPwd, URL_PASSWORD_CCH, szPassword);
    WCHAR szLogUrl[TRACE_MESSAGE_CCH];
    MaskUrlPassword(szURL, szLogUrl, ARRAYSIZE(szLogUrl));
    DebugTrace(L"DownloadFile()->Url=%s, HostName=%s, UrlPath=%s, Login=%s, Password=%s, Scheme=%d, Resume=%d",
               szLogUrl, szHost, szPath, szUser, MaskPassword(szPwd), iScheme, bResume);

    DWORD dwResult = 0;
    if (iScheme != INTERNET_SCHEME_FILE &&
        (!(GetInternetConnectedState(szHost, FALSE) & CONNECTION_ACTIVED) || IsCancelled())) {
        dwResult = DOWNLOAD_NO_CONNECTION;
    } else {
        switch (iScheme) {
        case INTERNET_SCHEME_FTP:
            dwResult = DownloadFTPFile(szHost, szUser, szPwd, wPort, szPath, szTarget,
                                       INTERNET_FLAG_PASSIVE);
            break;
        case INTERNET_SCHEME_HTTP:
        case INTERNET_SCHEME_HTTPS:
            dwResult = DownloadHTMLFile(szHost, szUser, szPwd, wPort, szPath, szTarget,
                                        INTERNET_FLAG_PASSIVE, iScheme == INTERNET_SCHEME_HTTPS,
                                        bResume);
            break;
        case INTERNET_SCHEME_FILE: {
            WCHAR szFile[PATH_CCH], szFolder[PATH_CCH];
            if (!FileExists(szPath)) {
                DebugTrace(L"DownloadFile()->'%s' doesn't exist!", szPath);
                dwResult = DOWNLOAD_FILE_URL_MISSING;
            } else if (!BuildTargetPath(szTarget, szPath, szFile, szFolder)) {
                dwResult = ReportLastError(L"DownloadFile", ERROR_FILENAME_EXCED_RANGE);
            } else {
                dwResult = XCopyFile(szPath, szFile, XCOPY_CREATEDIR | (bResume ? static_cast<DWORD>(XCOPY_RESUME) : 0));
            }
            break;
        }
        default:
            break;  // nothing to fetch for other schemes
        }
    }
    DebugTrace(L"DownloadFile()->End(%d)", dwResult);
    return dwResult;
}
