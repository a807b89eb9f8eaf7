#include "net/download.h"
#include "common/errors.h"
#include "common/handles.h"
#include "common/filecopy.h"
#include "common/boundedtext.h"
#include <cwchar>
#include <new>
#include <initializer_list>
#include <vector>
#include "common/cancel.h"
#include "common/blockcopy.h"
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/trace.h"
#include "state/state.h"
#include "net/connectivity.h"
#include "net/inetapi.h"
#include "net/inetjob.h"
#include "net/url.h"
#include "common/progress.h"
#include "common/runfiles.h"

namespace {

enum : DWORD {
    DEFAULT_HTTP_PORT = 80,
    DEFAULT_HTTPS_PORT = 443,
    DEFAULT_FTP_PORT = 21,
    // The request flags of a plain and of a secure transfer; a transfer
    // without resume also keeps its data out of the cache. A secure transfer
    // checks the whole certificate: its authority, its host name, its dates.
    // Redirects are followed here, HTTP_MAX_REDIRECTS at most.
    HTTP_REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION |
                         INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT,
    HTTPS_REQUEST_FLAGS = INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT,
    REDIRECT_CCH = INTERNET_MAX_URL_LENGTH,
    STATUS_TEXT_BYTES = 64,
    NUMBER_TEXT_CCH = 64,
    RANGE_HEADERS_CCH = 128,
    // WinINet's own receive time-out is the stall limit; the wait for a
    // step lasts a little longer, so that WinINet's failure normally comes
    // first and the job's thread is free again.
    STALL_MARGIN_MS = 2000,
    FILETIME_TICKS_PER_SECOND = 10000000,
    // What one FTP read step brings at most, handed out in FTP blocks; a
    // step with a block in hand returns after FTP_STEP_MS.
    FTP_READ_AHEAD = 64 * 1024,
    FTP_STEP_MS = 100,
    HTTP_STATUS_RANGE_REFUSED = 416,
};

// The steps a transfer's job runs on its thread.
enum : int {
    HTTP_SEND,
    HTTP_READ,
    FTP_CONNECT,
    FTP_FIND,
    FTP_OPEN,
    FTP_SIZE,
    FTP_READ,
};


// An empty login is no login: WinINet then uses its default (anonymous FTP).
LPCWSTR LoginOrDefault(LPCWSTR sz)
{
    return sz[0] ? sz : nullptr;
}

// The texts of a download that were not given read as empty.
void ReadAbsentAsEmpty(std::initializer_list<LPCWSTR*> texts)
{
    for (LPCWSTR* psz : texts)
        if (!*psz)
            *psz = L"";
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
    // Shorter than PATH_CCH, checked above.
    (void)StringCchCopyNW(szFolder, PATH_CCH, szTarget, cchFolder);
    if (!pName[0])
        pName = UrlFileName(szUrlPath);
    HRESULT hr = S_OK;
    if (pSep)
        hr = StringCchPrintfW(szFile, PATH_CCH, L"%s\\%s", szFolder, pName);
    else
        hr = StringCchCopyW(szFile, PATH_CCH, pName);
    return SUCCEEDED(hr);
}

// The folder the file goes into: ERROR_SUCCESS once it is there.
DWORD CreateTargetFolder(LPCWSTR szFolder)
{
    if (!szFolder[0] || FolderExists(szFolder))
        return ERROR_SUCCESS;
    DWORD dwError = CreateAllDirectory(szFolder);
    return dwError == ERROR_SUCCESS ? ERROR_SUCCESS : ReportLastError(L"CreateDirectory", dwError);
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

// The headers that ask for the rest of a partial file from its last byte
// on, on the condition that the server's copy still carries the file's time
// (If-Range with a date is an exact match). The byte already held comes
// again: the answer then shows the server's size and date even when the
// file is complete, and the byte must match. Empty when the file can not be
// continued.
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
                                uliSize.QuadPart - 1, kDays[st.wDayOfWeek], st.wDay,
                                kMonths[st.wMonth - 1], st.wYear, st.wHour, st.wMinute,
                                st.wSecond))) {
        szHeaders[0] = L'\0';
        return;
    }
    *pullLocalSize = uliSize.QuadPart;
}

bool IsTimeout(DWORD dwError)
{
    return dwError == ERROR_INTERNET_TIMEOUT || dwError == WSAETIMEDOUT;
}

// Stamps the target with the server's time. Done again after the writes,
// which move the last-write time on some file systems.
void StampFile(HANDLE hFile, const FILETIME& ft)
{
    SetFileTime(hFile, &ft, nullptr, &ft);
}

DWORD StepWaitMs(const CInetJob& job)
{
    return job.StallMs() + STALL_MARGIN_MS;
}

// The HTTP side of a transfer. Its handles close on the job's thread; the
// transfer uses them itself only between steps.
class CHttpJob : public CInetJob {
public:
    CHttpJob(const INETAPI* pApi, DWORD dwStallMs) : CInetJob(pApi, dwStallMs), m_szHeaders() {}

    CInetHandle m_hInternet;
    CInetHandle m_hConnect;
    CInetHandle m_hRequest;
    WCHAR m_szHeaders[RANGE_HEADERS_CCH];

protected:
    ~CHttpJob() override
    {
        m_hRequest.Close();
        m_hConnect.Close();
        m_hInternet.Close();
    }

    void Step(int iStep) override
    {
        if (iStep == HTTP_SEND) {
            if (!m_pApi->pHttpSendRequestW(m_hRequest.Get(), m_szHeaders[0] ? m_szHeaders : nullptr,
                                           m_szHeaders[0] ? static_cast<DWORD>(-1) : 0, nullptr, 0))
                SetFailed(GetLastError());
            return;
        }
        // The data at hand and what follows, until the wish is met or the
        // body ends.
        DWORD cbWant = m_cbWant < Room() ? m_cbWant : Room();
        DWORD cbGot = 0;
        while (cbGot < cbWant && !IsGivenUp()) {
            DWORD cbAvailable = 0;
            if (!m_pApi->pInternetQueryDataAvailable(m_hRequest.Get(), &cbAvailable, 0, 0)) {
                SetFailed(GetLastError());
                return;
            }
            if (cbAvailable == 0) {
                m_bEnded = TRUE;
                return;
            }
            DWORD cbAsk = cbWant - cbGot < cbAvailable ? cbWant - cbGot : cbAvailable;
            DWORD cbRead = 0;
            if (!ReadSome(m_hRequest.Get(), cbAsk, &cbRead))
                return;
            cbGot += cbRead;
        }
    }
};

// An owned copy of a text, with its terminator.
std::vector<WCHAR> CopyOfText(LPCWSTR szText)
{
    if (!szText)
        szText = L"";
    return std::vector<WCHAR>(szText, szText + wcslen(szText) + 1);
}

// The FTP side of a transfer: every call may wait on the server.
class CFtpJob : public CInetJob {
public:
    CFtpJob(const INETAPI* pApi, LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword, WORD wPort,
            LPCWSTR szUrlPath, DWORD dwConnectFlags, DWORD dwStallMs)
        : CInetJob(pApi, dwStallMs),
          m_szFailedCall(L"InternetOpen"),
          m_fd(),
          m_bFound(FALSE),
          m_ullSize(0),
          m_server(CopyOfText(szServer)),
          m_user(CopyOfText(szUser)),
          m_password(CopyOfText(szPassword)),
          m_path(CopyOfText(szUrlPath)),
          m_wPort(wPort),
          m_dwConnectFlags(dwConnectFlags)
    {
    }

    LPCWSTR m_szFailedCall;  // which call of FTP_CONNECT failed
    WIN32_FIND_DATAW m_fd;   // the listing's entry, when m_bFound
    BOOL m_bFound;
    ULONGLONG m_ullSize;

protected:
    ~CFtpJob() override
    {
        m_hFile.Close();
        m_hConnect.Close();
        m_hInternet.Close();
    }

    void Step(int iStep) override
    {
        switch (iStep) {
        case FTP_CONNECT: {
            m_hInternet.Reset(m_pApi->pInternetOpenW(L"DownloadFTPFile", INTERNET_OPEN_TYPE_PRECONFIG,
                                                     nullptr, nullptr, 0));
            if (!m_hInternet.Get()) {
                SetFailed(GetLastError());
                return;
            }
            // Where the system applies it, FTP waits no longer than HTTP.
            DWORD dwTimeout = StallMs();
            m_pApi->pInternetSetOptionW(m_hInternet.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &dwTimeout,
                                        sizeof(dwTimeout));
            m_szFailedCall = L"InternetConnect";
            m_hConnect.Reset(m_pApi->pInternetConnectW(m_hInternet.Get(), m_server.data(), m_wPort,
                                                       LoginOrDefault(m_user.data()),
                                                       LoginOrDefault(m_password.data()),
                                                       INTERNET_SERVICE_FTP, m_dwConnectFlags, 0));
            if (!m_hConnect.Get())
                SetFailed(GetLastError());
            return;
        }
        case FTP_FIND: {
            // Size and times from the listing, when the server lists the file.
            CInetHandle hFind(m_pApi->pFtpFindFirstFileW(m_hConnect.Get(), m_path.data(), &m_fd,
                                                         INTERNET_FLAG_NEED_FILE, 0));
            m_bFound = hFind.Get() != nullptr;
            if (m_bFound)
                m_ullSize = (static_cast<ULONGLONG>(m_fd.nFileSizeHigh) << 32) | m_fd.nFileSizeLow;
            return;
        }
        case FTP_OPEN:
            m_hFile.Reset(m_pApi->pFtpOpenFileW(m_hConnect.Get(), m_path.data(), GENERIC_READ,
                                                FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
            if (!m_hFile.Get())
                SetFailed(GetLastError());
            return;
        case FTP_SIZE: {
            DWORD dwHigh = 0;
            DWORD dwLow = m_pApi->pFtpGetFileSize(m_hFile.Get(), &dwHigh);
            DWORD dwError = GetLastError();
            if (dwLow == INVALID_FILE_SIZE && dwError != NO_ERROR) {
                dwLow = dwHigh = 0;
                m_dwError = dwError;
            }
            m_ullSize = (static_cast<ULONGLONG>(dwHigh) << 32) | dwLow;
            return;
        }
        default: {
            // Enough for the read at hand and a short while: the rest of the
            // room fills only while the data flows.
            DWORD cbWant = m_cbWant < Room() ? m_cbWant : Room();
            DWORD cbGot = 0;
            DWORD dwStart = GetTickCount();
            while (cbGot < cbWant && !IsGivenUp() &&
                   !(cbGot >= m_cbEnough && GetTickCount() - dwStart >= FTP_STEP_MS)) {
                DWORD cbRead = 0;
                if (!ReadSome(m_hFile.Get(), cbWant - cbGot, &cbRead))
                    return;
                cbGot += cbRead;
            }
            return;
        }
        }
    }

private:
    std::vector<WCHAR> m_server;
    std::vector<WCHAR> m_user;
    std::vector<WCHAR> m_password;
    std::vector<WCHAR> m_path;
    WORD m_wPort;
    DWORD m_dwConnectFlags;
    CInetHandle m_hInternet;
    CInetHandle m_hConnect;
    CInetHandle m_hFile;
};

// The data of a job's read steps, for CopyBlocks. A step may bring more
// than one read asks for (cbAhead: small FTP reads would each cost a trip
// to the job's thread); the rest is handed out by the next reads. A step
// that fails after some bytes came gives those bytes first and the failure
// afterwards; so does a step given up at a cancel or a stall.
class CJobSource : public IBlockSource {
public:
    CJobSource(CInetJob& job, int iStep, DWORD dwWaitMs, DWORD cbAhead, LPCWSTR szCaller)
        : m_job(job), m_iStep(iStep), m_dwWaitMs(dwWaitMs), m_cbAhead(cbAhead), m_szCaller(szCaller),
          m_dwPending(0), m_bEnded(FALSE), m_cbHeld(0), m_cbGiven(0)
    {
    }

    BOOL Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead) override
    {
        *pcbRead = 0;
        if (m_cbGiven == m_cbHeld) {
            if (m_dwPending) {
                SetLastError(m_dwPending);
                return FALSE;
            }
            if (m_bEnded)
                return TRUE;
            if (!Fill(cbWant > m_cbAhead ? cbWant : m_cbAhead, cbWant))
                return FALSE;
            if (m_cbHeld == 0) {
                if (!m_dwPending)
                    return TRUE;
                SetLastError(m_dwPending);
                return FALSE;
            }
        }
        DWORD cb = m_cbHeld - m_cbGiven < cbWant ? m_cbHeld - m_cbGiven : cbWant;
        CopyMemory(pBuffer, m_job.Buffer() + m_cbGiven, cb);
        m_cbGiven += cb;
        *pcbRead = cb;
        return TRUE;
    }

private:
    BOOL Fill(DWORD cbAsk, DWORD cbEnough)
    {
        m_cbHeld = m_cbGiven = 0;
        DWORD dwGrown = m_job.SetBufferSize(cbAsk);
        if (dwGrown != ERROR_SUCCESS) {
            SetLastError(dwGrown);  // where a failed Read leaves its reason
            return FALSE;
        }
        m_job.m_cbWant = cbAsk;
        m_job.m_cbEnough = cbEnough;
        JOBWAIT wait = m_job.Run(m_iStep, m_dwWaitMs);
        if (wait == JOBWAIT::CANCELLED)
            m_dwPending = ERROR_CANCELLED;
        else if (wait == JOBWAIT::STALLED)
            m_dwPending = ERROR_INTERNET_TIMEOUT;
        else if (!m_job.m_bOk)
            m_dwPending = m_job.m_dwError;
        else
            m_bEnded = m_job.m_bEnded;
        m_cbHeld = m_job.Filled();
        if (wait == JOBWAIT::STALLED || IsTimeout(m_dwPending))
            DebugTrace(L"%s()->Nothing received for %u ms: transfer stalled", m_szCaller,
                       m_job.StallMs());
        return TRUE;
    }

    CInetJob& m_job;
    int m_iStep;
    DWORD m_dwWaitMs;
    DWORD m_cbAhead;
    LPCWSTR m_szCaller;
    DWORD m_dwPending;
    BOOL m_bEnded;
    DWORD m_cbHeld;   // bytes of the last step in the job's buffer
    DWORD m_cbGiven;  // of which handed out
};

struct HTTPTRANSFER {
    CHttpJob* pJob;
    LPCWSTR szUrlPath;
    LPCWSTR szFile;
    LPCWSTR szFolder;
    BOOL bSecure;
    BOOL bResume;
    ULONGLONG ullExpectedSize;
    WCHAR* szRedirect;  // REDIRECT_CCH characters: where a redirect leads
};

// Outcome of one request: done (result set), ask again without a range, or
// ask where the answer redirects (szRedirect).
enum class PASS { DONE, RETRY_WHOLE, REDIRECT };

bool IsRedirect(DWORD dwStatus)
{
    return dwStatus == HTTP_STATUS_MOVED || dwStatus == HTTP_STATUS_REDIRECT ||
           dwStatus == HTTP_STATUS_REDIRECT_METHOD || dwStatus == HTTP_STATUS_REDIRECT_KEEP_VERB ||
           dwStatus == HTTP_STATUS_PERMANENT_REDIRECT;
}

// What an HTTP error means to the run: a file the server does not have, a
// server that refuses, or a server that fails.
DWORD StatusToCode(DWORD dwStatus)
{
    switch (dwStatus) {
    case HTTP_STATUS_NOT_FOUND:
    case HTTP_STATUS_GONE:
        return ERROR_FILE_NOT_FOUND;
    case HTTP_STATUS_DENIED:
    case HTTP_STATUS_FORBIDDEN:
    case HTTP_STATUS_PROXY_AUTH_REQ:
        return ERROR_ACCESS_DENIED;
    default:
        return DOWNLOAD_SERVER_ERROR;
    }
}

PASS RetryWhole(CHttpJob& job, LPCWSTR szWhy)
{
    DebugTrace(L"DownloadHTMLFile()->%s, asking for the whole file", szWhy);
    CloseUnfinishedRequest(job.m_hRequest);
    return PASS::RETRY_WHOLE;
}

// Opens the GET request and sends it on the job's thread: one request,
// awaited until the answer comes, the stall limit (WinINet's receive
// time-out) passes or the transfer is cancelled. 0 or the failure's code.
DWORD SendRequest(const HTTPTRANSFER& t, LPCWSTR szHeaders)
{
    CHttpJob& job = *t.pJob;
    const INETAPI* pApi = job.Api();
    DWORD dwFlags = t.bSecure ? HTTPS_REQUEST_FLAGS : HTTP_REQUEST_FLAGS;
    if (!t.bResume)
        dwFlags |= INTERNET_FLAG_NO_CACHE_WRITE;
    job.m_hRequest.Reset(pApi->pHttpOpenRequestW(job.m_hConnect.Get(), L"GET", t.szUrlPath, nullptr,
                                                 nullptr, nullptr, dwFlags, 0));
    if (!job.m_hRequest.Get())
        return ReportLastError(L"HttpOpenRequest", GetLastError());
    DWORD dwTimeout = job.StallMs();
    pApi->pInternetSetOptionW(job.m_hRequest.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &dwTimeout,
                              sizeof(dwTimeout));
    // Built in a buffer of the same capacity.
    (void)StringCchCopyW(job.m_szHeaders, RANGE_HEADERS_CCH, szHeaders);
    DWORD dwStart = GetTickCount();
    JOBWAIT wait = job.Run(HTTP_SEND, StepWaitMs(job));
    BOOL bSent = wait == JOBWAIT::DONE && job.m_bOk;
    DebugTrace(L"DownloadHTMLFile()->HttpSendRequest()=>%d", bSent);
    if (wait == JOBWAIT::CANCELLED)
        return ERROR_CANCELLED;
    // Some systems report their receive time-out as an aborted connection.
    bool bTimedOut = !bSent && wait == JOBWAIT::DONE &&
                     (IsTimeout(job.m_dwError) || (job.m_dwError == ERROR_INTERNET_CONNECTION_ABORTED &&
                                                   GetTickCount() - dwStart >= job.StallMs()));
    if (wait == JOBWAIT::STALLED || bTimedOut) {
        DebugTrace(L"DownloadHTMLFile()->No answer within %u ms", job.StallMs());
        return ReportLastError(L"HttpSendRequest", ERROR_INTERNET_TIMEOUT);
    }
    // The status of an unsent request reads as 0 on some systems: keep the
    // real reason instead.
    if (!bSent)
        return ReportLastError(L"HttpSendRequest", job.m_dwError);
    return 0;
}

// The body's first byte, read alone: a resumed answer starts with the last
// byte of the file. FALSE with *pdwResult set when it does not come.
BOOL ReadFirstByte(CHttpJob& job, BYTE* pbyFirst, DWORD* pdwResult)
{
    *pdwResult = 0;
    DWORD dwGrown = job.SetBufferSize(1);
    if (dwGrown != ERROR_SUCCESS) {
        *pdwResult = ReportLastError(L"HeapAlloc", dwGrown);
        return FALSE;
    }
    job.m_cbWant = 1;
    JOBWAIT wait = job.Run(HTTP_READ, StepWaitMs(job));
    if (wait == JOBWAIT::CANCELLED) {
        *pdwResult = ERROR_CANCELLED;
        return FALSE;
    }
    if (wait != JOBWAIT::DONE || !job.m_bOk || job.Filled() != 1) {
        ReportLastError(L"InternetReadFile", wait == JOBWAIT::DONE && job.m_dwError ? job.m_dwError
                                                                                   : ERROR_INTERNET_TIMEOUT);
        *pdwResult = DOWNLOAD_TRANSFER_FAILED;
        return FALSE;
    }
    *pbyFirst = job.Buffer()[0];
    return TRUE;
}

// The byte at ullOffset of an open file.
BOOL ReadFileByte(HANDLE hFile, ULONGLONG ullOffset, BYTE* pby)
{
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(ullOffset);
    DWORD cbRead = 0;
    return SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN) &&
           ReadFile(hFile, pby, 1, &cbRead, nullptr) && cbRead == 1;
}

PASS HttpPass(const HTTPTRANSFER& t, bool bAskRange, DWORD* pdwResult)
{
    CHttpJob& job = *t.pJob;
    const INETAPI* pApi = job.Api();
    WCHAR szHeaders[RANGE_HEADERS_CCH] = L"";
    ULONGLONG ullLocalSize = 0;
    if (bAskRange)
        BuildRangeHeaders(t.szFile, szHeaders, &ullLocalSize);

    *pdwResult = SendRequest(t, szHeaders);
    if (*pdwResult != 0)
        return PASS::DONE;
    if (IsCancelled()) {
        *pdwResult = ERROR_CANCELLED;
        return PASS::DONE;
    }
    HINTERNET hRequest = job.m_hRequest.Get();

    DWORD dwError = 0;
    DWORD dwStatus = GetHttpStatusCode(hRequest, &dwError);
    if (dwError) {
        *pdwResult = ReportLastError(L"GetHttpStatusCode", dwError);
        return PASS::DONE;
    }
    // A server whose copy is shorter than the file refuses the range; one
    // that ignores If-Range refuses it whatever the dates. Neither says the
    // file is complete.
    if (szHeaders[0] && dwStatus == HTTP_STATUS_RANGE_REFUSED)
        return RetryWhole(job, L"Range refused");
    if (IsRedirect(dwStatus)) {
        DWORD cbLocation = REDIRECT_CCH * sizeof(WCHAR);
        t.szRedirect[0] = L'\0';
        if (pApi->pHttpQueryInfoW(hRequest, HTTP_QUERY_LOCATION, t.szRedirect, &cbLocation,
                                  nullptr) &&
            t.szRedirect[0]) {
            t.szRedirect[REDIRECT_CCH - 1] = L'\0';
            DebugTrace(L"DownloadHTMLFile()->Redirected (%u) to %s", dwStatus, t.szRedirect);
            return PASS::REDIRECT;
        }
    }
    if (dwStatus >= HTTP_STATUS_AMBIGUOUS || dwStatus < HTTP_STATUS_OK) {
        *pdwResult = StatusToCode(dwStatus);
        DebugTrace(L"DownloadHTMLFile()->HTTP status %u: %d", dwStatus, *pdwResult);
        return PASS::DONE;
    }

    // Server time, from Last-Modified, else now.
    SYSTEMTIME stServer = {};
    DWORD cbTime = sizeof(stServer);
    if (!pApi->pHttpQueryInfoW(hRequest, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME,
                               &stServer, &cbTime, nullptr))
        GetSystemTime(&stServer);
    FILETIME ftServer = {};
    SystemTimeToFileTime(&stServer, &ftServer);
    LogTime(ftServer);

    // Size: what this answer carries, and the whole file's. An answer
    // without a Content-Length (chunked, or ended by the server's close) is
    // read to its end.
    ULONGLONG ullBody = 0;
    bool bKnownSize = true;
    if (!QueryContentLength(pApi, hRequest, &ullBody)) {
        DWORD dwLengthError = GetLastError();
        if (dwLengthError == ERROR_HTTP_HEADER_NOT_FOUND) {
            bKnownSize = false;
            DebugTrace(L"DownloadHTMLFile()->No Content-Length: reading to the end");
        } else {
            ReportLastError(L"HttpQueryInfo", dwLengthError);
        }
        ullBody = 0;
    }
    CONTENTRANGE range = {};
    bool bPartial = dwStatus == HTTP_STATUS_PARTIAL_CONTENT;
    if (bPartial) {
        if (!szHeaders[0] || !QueryContentRange(pApi, hRequest, &range) || !range.bHasRange ||
            (bKnownSize && range.ullLast - range.ullFirst + 1 != ullBody))
            return RetryWhole(job, L"Range answer not usable");
        ullBody = range.ullLast - range.ullFirst + 1;
        bKnownSize = true;
    }
    ULONGLONG ullSize = bPartial ? range.ullTotal : ullBody;
    if (bKnownSize) {
        DebugTrace(L"DownloadHTMLFile()->FileSize=%I64u", ullSize);
        DebugTrace(L"DownloadHTMLFile()->HttpQueryInfo(dwFileSize)=%I64u", ullSize);
        if (ullSize == 0 || ullBody == 0) {
            *pdwResult = DOWNLOAD_NO_SIZE;
            return PASS::DONE;
        }
        if (t.ullExpectedSize && ullSize != t.ullExpectedSize) {
            DebugTrace(L"DownloadHTMLFile()->Size %I64u differs from the expected %I64u", ullSize,
                       t.ullExpectedSize);
            *pdwResult = DOWNLOAD_WRONG_SIZE;
            return PASS::DONE;
        }
    }
    if ((*pdwResult = CreateTargetFolder(t.szFolder)) != ERROR_SUCCESS)
        return PASS::DONE;

    // Resume probe: a file is continued (or taken as complete) only when its
    // date is the server's, the answer starts at its last byte and that
    // byte is the server's.
    ULONGLONG ullDone = 0;
    CFileHandle hFile;
    if (t.bResume) {
        bool bFits = false;
        hFile.Reset(CreateFileNoLink(t.szFile, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL));
        if (!hFile.IsValid()) {
            ReportLastError(L"CreateFile", GetLastError());
        } else {
            FILETIME ftLocal = {};
            LARGE_INTEGER liSize = {};
            GetFileTime(hFile.Get(), nullptr, nullptr, &ftLocal);
            LogTime(ftLocal);
            if (CompareFileTime(&ftLocal, &ftServer) != 0)
                DebugTrace(L"DownloadHTMLFile()->Files are not on the same date!");
            else if (!GetFileSizeEx(hFile.Get(), &liSize))
                ReportLastError(L"GetFileSizeEx", GetLastError());
            else
                bFits = true;
            ullDone = static_cast<ULONGLONG>(liSize.QuadPart);
        }
        if (bPartial) {
            if (!bFits || ullDone == 0 || range.ullFirst != ullDone - 1)
                return RetryWhole(job, L"Range answer not usable");
            BYTE byLocal = 0, byServer = 0;
            if (!ReadFileByte(hFile.Get(), ullDone - 1, &byLocal)) {
                ReportLastError(L"ReadFile", GetLastError());
                return RetryWhole(job, L"File not readable");
            }
            if (!ReadFirstByte(job, &byServer, pdwResult))
                return PASS::DONE;
            if (byLocal != byServer)
                return RetryWhole(job, L"Last byte differs from the server's");
            if (ullDone == ullSize) {
                DebugTrace(L"DownloadHTMLFile()->File already complete (%I64u bytes)", ullDone);
                // The run's own file, as much as one it fetched now.
                NoteRunFile(t.szFile);
                if (Progress().GetMaxData() == 0)
                    Progress().DefineData(ullDone);
                Progress().NewStep(Progress().AddBytesDone(ullDone));
                *pdwResult = 0;
                return PASS::DONE;
            }
            LARGE_INTEGER liZero = {};
            if (!SetFilePointerEx(hFile.Get(), liZero, nullptr, FILE_END)) {
                ReportLastError(L"SetFilePointerEx", GetLastError());
                return RetryWhole(job, L"File not seekable");
            }
            DebugTrace(L"DownloadHTMLFile()->Resume at %I64u of %I64u bytes", ullDone, ullSize);
        }
    }
    if (!bPartial) {
        DebugTrace(L"DownloadHTMLFile()->Mode resume disabled!");
        ullDone = 0;
        hFile.Close();
        if ((*pdwResult = MayReplace(t.szFile)) != ERROR_SUCCESS)
            return PASS::DONE;
        hFile.Reset(CreateFileNoLink(t.szFile, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        if (!hFile.IsValid()) {
            *pdwResult = ReportLastError(L"CreateFile", GetLastError());
            return PASS::DONE;
        }
        StampFile(hFile.Get(), ftServer);
    }
    DebugTrace(L"DownloadHTMLFile()->CreateFile=%d", static_cast<int>(reinterpret_cast<INT_PTR>(hFile.Get())));
    NoteRunFile(t.szFile);
    ULONGLONG ullProgressTotal = bKnownSize ? ullSize : t.ullExpectedSize;
    if (Progress().GetMaxData() == 0 && ullProgressTotal != 0)
        Progress().DefineData(ullProgressTotal);
    Progress().NewStep(Progress().AddBytesDone(ullDone));

    // Copy loop: the rest of the body, to its end.
    ULONGLONG ullLeft = bKnownSize ? ullSize - ullDone : 0;
    DWORD cbBlock = (ullLeft != 0 && ullLeft < HTTP_BLOCK_SIZE) ? static_cast<DWORD>(ullLeft)
                                                                : HTTP_BLOCK_SIZE;
    CJobSource body(job, HTTP_READ, StepWaitMs(job), 0, L"DownloadHTMLFile");
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
        *pdwResult = ReportLastError(L"HeapAlloc", ERROR_OUTOFMEMORY);
        return PASS::DONE;
    }
    DWORD dwResult = 0;
    if (copy == COPYRESULT::READ_FAILED || copy == COPYRESULT::WRITE_FAILED) {
        dwResult = DOWNLOAD_TRANSFER_FAILED;
    } else if (!IsCancelled()) {
        ULONGLONG ullTotal = ullDone + ullReceived;
        if (bKnownSize && ullReceived != ullLeft) {
            // What arrived stays for a later resume.
            DebugTrace(L"DownloadHTMLFile()->Transfer cut after %I64u of %I64u bytes", ullReceived, ullLeft);
            dwResult = DOWNLOAD_TRANSFER_FAILED;
        } else if (!bKnownSize) {
            DebugTrace(L"DownloadHTMLFile()->FileSize=%I64u", ullTotal);
            if (ullTotal == 0) {
                dwResult = DOWNLOAD_NO_SIZE;
            } else if (t.ullExpectedSize && ullTotal != t.ullExpectedSize) {
                DebugTrace(L"DownloadHTMLFile()->Size %I64u differs from the expected %I64u", ullTotal,
                           t.ullExpectedSize);
                dwResult = DOWNLOAD_WRONG_SIZE;
            }
        }
    }
    StampFile(hFile.Get(), ftServer);
    hFile.Close();
    if (dwResult == 0 && !FileExists(t.szFile))
        dwResult = ERROR_FILE_NOT_FOUND;
    *pdwResult = dwResult;
    return PASS::DONE;
}

// What a failed FTP step gives: the call's own error, or a time-out when
// the server did not answer within the stall limit.
DWORD FtpStepFailure(const CFtpJob& job, JOBWAIT wait, LPCWSTR szCall)
{
    if (wait == JOBWAIT::CANCELLED)
        return ERROR_CANCELLED;
    if (wait == JOBWAIT::STALLED) {
        DebugTrace(L"DownloadFTPFile()->No answer within %u ms", job.StallMs());
        return ReportLastError(szCall, ERROR_INTERNET_TIMEOUT);
    }
    return ReportLastError(szCall, job.m_dwError);
}

// A copied file of another size than the expected one is not the
// package's file.
DWORD CheckCopiedSize(LPCWSTR szFile, ULONGLONG ullExpectedSize)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(szFile, GetFileExInfoStandard, &fad))
        return ReportLastError(L"GetFileAttributesEx", GetLastError());
    ULONGLONG ullSize = (static_cast<ULONGLONG>(fad.nFileSizeHigh) << 32) | fad.nFileSizeLow;
    if (ullSize == ullExpectedSize)
        return 0;
    DebugTrace(L"DownloadFile()->Size %I64u differs from the expected %I64u", ullSize, ullExpectedSize);
    return DOWNLOAD_WRONG_SIZE;
}

}  // namespace

namespace {

// Where an HTTP transfer asks: the first URL's place, then each redirect's.
struct HTTPPLACE {
    WCHAR szServer[URL_HOST_CCH];
    WCHAR szPath[URL_PATH_CCH];
    WORD wPort;
    BOOL bSecure;
};

// The place a Location header names: a whole URL (http or https), a path
// on the same server, or a path beside the current one.
BOOL FollowRedirect(LPCWSTR szLocation, HTTPPLACE& place)
{
    if (_wcsnicmp(szLocation, L"http://", 7) == 0 || _wcsnicmp(szLocation, L"https://", 8) == 0) {
        WCHAR szUser[URL_USER_CCH], szPwd[URL_PASSWORD_CCH];
        int iScheme = SPLITURL_SCHEME_UNKNOWN;
        WORD wPort = 0;
        SplitURL(szLocation, place.szServer, place.szPath, szUser, szPwd, &iScheme, &wPort);
        if (iScheme != INTERNET_SCHEME_HTTP && iScheme != INTERNET_SCHEME_HTTPS)
            return FALSE;
        place.bSecure = iScheme == INTERNET_SCHEME_HTTPS;
        place.wPort = wPort ? wPort
                            : static_cast<WORD>(place.bSecure ? DEFAULT_HTTPS_PORT : DEFAULT_HTTP_PORT);
        return place.szServer[0] != L'\0';
    }
    if (szLocation[0] == L'/')
        return SUCCEEDED(StringCchCopyW(place.szPath, ARRAYSIZE(place.szPath), szLocation));
    WCHAR* pSlash = wcsrchr(place.szPath, L'/');
    if (pSlash)
        pSlash[1] = L'\0';
    return SUCCEEDED(StringCchCatW(place.szPath, ARRAYSIZE(place.szPath), szLocation));
}

// One connection to one place: the request (and the plain one after a
// range that is of no use). *pPass tells whether it redirects.
DWORD TransferFrom(const HTTPPLACE& place, LPCWSTR szUser, LPCWSTR szPassword, LPCWSTR szFile,
                   LPCWSTR szFolder, DWORD dwConnectFlags, BOOL bResume, ULONGLONG ullExpectedSize,
                   DWORD dwStallMs, WCHAR* szRedirect, PASS* pPass)
{
    *pPass = PASS::DONE;
    DWORD dwResult = 0;
    const INETAPI* pApi = GetInetApi();
    CHttpJob* pJob = nullptr;
    if (!pApi) {
        dwResult = ReportLastError(L"LoadLibrary", GetLastError());
    } else if (!IsCancelled()) {
        pJob = new (std::nothrow) CHttpJob(pApi, dwStallMs);
        DWORD dwStarted = pJob ? pJob->Start() : ERROR_OUTOFMEMORY;
        if (dwStarted != ERROR_SUCCESS) {
            dwResult = ReportLastError(L"CreateThread", dwStarted);
        } else {
            pJob->m_hInternet.Reset(pApi->pInternetOpenW(L"DownloadHTMLFile", INTERNET_OPEN_TYPE_DIRECT,
                                                         nullptr, nullptr, 0));
            if (!pJob->m_hInternet.Get() || IsCancelled()) {
                dwResult = ReportLastError(L"InternetOpen", GetLastError());
            } else {
                pJob->m_hConnect.Reset(pApi->pInternetConnectW(pJob->m_hInternet.Get(), place.szServer,
                                                               place.wPort, LoginOrDefault(szUser),
                                                               LoginOrDefault(szPassword),
                                                               INTERNET_SERVICE_HTTP, dwConnectFlags, 0));
                if (!pJob->m_hConnect.Get() || IsCancelled()) {
                    dwResult = ReportLastError(L"InternetConnect", GetLastError());
                } else {
                    HTTPTRANSFER t = {pJob,    place.szPath, szFile,          szFolder,
                                      place.bSecure, bResume, ullExpectedSize, szRedirect};
                    // A range answer to the plain request is of no use either.
                    PASS pass = HttpPass(t, bResume != FALSE, &dwResult);
                    if (pass == PASS::RETRY_WHOLE)
                        pass = HttpPass(t, false, &dwResult);
                    if (pass == PASS::RETRY_WHOLE)
                        dwResult = ReportLastError(L"DownloadHTMLFile", ERROR_HTTP_INVALID_SERVER_RESPONSE);
                    *pPass = pass == PASS::REDIRECT ? PASS::REDIRECT : PASS::DONE;
                }
            }
        }
    }
    // The handles close on the job's thread, whatever its last call waits for.
    if (pJob)
        pJob->Finish();
    return dwResult;
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
                       BOOL bResume, ULONGLONG ullExpectedSize, DWORD dwStallMs)
{
    ReadAbsentAsEmpty({&szServer, &szUser, &szPassword, &szUrlPath});
    WCHAR szFile[PATH_CCH], szFolder[PATH_CCH];
    BOOL bPath = BuildTargetPath(szTarget, szUrlPath, szFile, szFolder);
    if (wPort == 0)
        wPort = static_cast<WORD>(bSecure ? DEFAULT_HTTPS_PORT : DEFAULT_HTTP_PORT);
    DebugTrace(L"DownloadHTMLFile()->ServerName=%s Login=%s Pwd=%s SourceFile=%s Secure=%d Resume=%d",
               szServer, szUser, MaskPassword(szPassword), szUrlPath, bSecure, bResume);
    DebugTrace(L"DownloadHTMLFile()->TargetFile=%s", szFile);

    DWORD dwResult = 0;
    if (!bPath) {
        dwResult = ReportLastError(L"DownloadHTMLFile", ERROR_FILENAME_EXCED_RANGE);
    } else {
        // The first place, then where each redirect leads, HTTP_MAX_REDIRECTS at most.
        HTTPPLACE place = {};
        // Parts of SplitURL fit the place.
        (void)StringCchCopyW(place.szServer, ARRAYSIZE(place.szServer), szServer);
        (void)StringCchCopyW(place.szPath, ARRAYSIZE(place.szPath), szUrlPath);
        place.wPort = wPort;
        place.bSecure = bSecure;
        std::vector<WCHAR> redirect(REDIRECT_CCH, L'\0');
        for (DWORD dwRedirects = 0;; ++dwRedirects) {
            PASS pass = PASS::DONE;
            dwResult = TransferFrom(place, szUser, szPassword, szFile, szFolder, dwConnectFlags,
                                    bResume, ullExpectedSize, dwStallMs, redirect.data(), &pass);
            if (pass != PASS::REDIRECT)
                break;
            if (dwRedirects == HTTP_MAX_REDIRECTS) {
                DebugTrace(L"DownloadHTMLFile()->More than %u redirects: given up",
                           static_cast<DWORD>(HTTP_MAX_REDIRECTS));
                dwResult = DOWNLOAD_TOO_MANY_REDIRECTS;
                break;
            }
            if (!FollowRedirect(redirect.data(), place)) {
                DebugTrace(L"DownloadHTMLFile()->Redirect to %s not followed", redirect.data());
                dwResult = DOWNLOAD_SERVER_ERROR;
                break;
            }
        }
    }
    if (IsCancelled())
        dwResult = ERROR_CANCELLED;
    DebugTrace(L"DownloadHTMLFile()->End(%d)", dwResult);
    return dwResult;
}

DWORD DownloadFTPFile(LPCWSTR szServer, LPCWSTR szUser, LPCWSTR szPassword, WORD wPort,
                      LPCWSTR szUrlPath, LPCWSTR szTarget, DWORD dwConnectFlags,
                      ULONGLONG ullExpectedSize, DWORD dwStallMs)
{
    ReadAbsentAsEmpty({&szServer, &szUser, &szPassword, &szUrlPath});
    WCHAR szFile[PATH_CCH], szFolder[PATH_CCH];
    BOOL bPath = BuildTargetPath(szTarget, szUrlPath, szFile, szFolder);
    if (wPort == 0)
        wPort = DEFAULT_FTP_PORT;
    DebugTrace(L"DownloadFTPFile()->ServerName=%s LoginFTP=%s PwdFTP=%s SourceFile=%s Port=%d",
               szServer, szUser, MaskPassword(szPassword), szUrlPath, static_cast<int>(wPort));
    DebugTrace(L"DownloadFTPFile()->TargetFile=%s", szFile);

    DWORD dwResult = 0;
    const INETAPI* pApi = GetInetApi();
    CFtpJob* pJob = nullptr;
    CFileHandle hFile;
    ULONGLONG ullSize = 0;
    DWORD cbBlock = FTP_BLOCK_SIZE;
    BOOL bOk = TRUE;
    ULONGLONG ullReceived = 0;
    JOBWAIT wait = JOBWAIT::DONE;
    // FTP has no time-out of its own everywhere: the wait is the limit.
    const DWORD dwWaitMs = dwStallMs;

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
    pJob = new (std::nothrow)
        CFtpJob(pApi, szServer, szUser, szPassword, wPort, szUrlPath, dwConnectFlags, dwStallMs);
    dwResult = pJob ? pJob->Start() : ERROR_OUTOFMEMORY;
    if (dwResult != ERROR_SUCCESS) {
        dwResult = ReportLastError(L"CreateThread", dwResult);
        goto End;
    }
    wait = pJob->Run(FTP_CONNECT, dwWaitMs);
    if (wait != JOBWAIT::DONE || !pJob->m_bOk) {
        dwResult = FtpStepFailure(*pJob, wait, pJob->m_szFailedCall);
        goto End;
    }
    if (IsCancelled())
        goto End;

    wait = pJob->Run(FTP_FIND, dwWaitMs);
    if (wait != JOBWAIT::DONE) {
        dwResult = FtpStepFailure(*pJob, wait, L"FtpFindFirstFile");
        goto End;
    }
    if (pJob->m_bFound) {
        ullSize = pJob->m_ullSize;
        DebugTrace(L"DownloadFTPFile()->finfo: FileSize->%I64u", ullSize);
    }
    if (IsCancelled())
        goto End;

    wait = pJob->Run(FTP_OPEN, dwWaitMs);
    if (wait != JOBWAIT::DONE || !pJob->m_bOk) {
        dwResult = FtpStepFailure(*pJob, wait, L"FtpOpenFile");
        goto End;
    }
    if (ullSize == 0) {
        wait = pJob->Run(FTP_SIZE, dwWaitMs);
        if (wait != JOBWAIT::DONE) {
            dwResult = FtpStepFailure(*pJob, wait, L"FtpGetFileSize");
            goto End;
        }
        ullSize = pJob->m_ullSize;
        DebugTrace(L"DownloadFTPFile()->FtpGetFileSize->%I64u", ullSize);
    }
    if (ullSize == 0 || IsCancelled()) {
        // A size of 0 without a reason is no size.
        dwResult = pJob->m_dwError ? ReportLastError(L"FtpGetFileSize", pJob->m_dwError) : DOWNLOAD_NO_SIZE;
        goto End;
    }
    if (ullExpectedSize && ullSize != ullExpectedSize) {
        DebugTrace(L"DownloadFTPFile()->Size %I64u differs from the expected %I64u", ullSize, ullExpectedSize);
        dwResult = DOWNLOAD_WRONG_SIZE;
        goto End;
    }

    if (Progress().GetMaxData() == 0)
        Progress().DefineData(ullSize);
    if (ullSize < cbBlock)
        cbBlock = static_cast<DWORD>(ullSize);
    if ((dwResult = CreateTargetFolder(szFolder)) != ERROR_SUCCESS)
        goto End;
    if ((dwResult = MayReplace(szFile)) != ERROR_SUCCESS)
        goto End;
    hFile.Reset(CreateFileNoLink(szFile, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!hFile.IsValid()) {
        dwResult = ReportLastError(L"CreateFile", GetLastError());
        goto End;
    }
    NoteRunFile(szFile);
    if (pJob->m_bFound)
        SetFileTime(hFile.Get(), &pJob->m_fd.ftCreationTime, nullptr, &pJob->m_fd.ftLastWriteTime);

    {
        CJobSource source(*pJob, FTP_READ, dwWaitMs, FTP_READ_AHEAD, L"DownloadFTPFile");
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
            dwResult = ReportLastError(L"HeapAlloc", ERROR_OUTOFMEMORY);
            goto End;
        }
        bOk = copy != COPYRESULT::READ_FAILED && copy != COPYRESULT::WRITE_FAILED;
    }
    if (bOk && !IsCancelled() && ullReceived != ullSize) {
        DebugTrace(L"DownloadFTPFile()->Transfer cut after %I64u of %I64u bytes", ullReceived, ullSize);
        bOk = FALSE;
    }
    if (pJob->m_bFound)
        SetFileTime(hFile.Get(), &pJob->m_fd.ftCreationTime, nullptr, &pJob->m_fd.ftLastWriteTime);
    hFile.Close();
    if (!bOk)
        dwResult = DOWNLOAD_TRANSFER_FAILED;
    else if (!FileExists(szFile))
        dwResult = ERROR_FILE_NOT_FOUND;

End:
    hFile.Close();
    // The handles close on the job's thread, whatever its last call waits for.
    if (pJob)
        pJob->Finish();
    if (IsCancelled())
        dwResult = ERROR_CANCELLED;
    DebugTrace(L"DownloadFTPFile()->End(%d)", dwResult);
    return dwResult;
}

DWORD DownloadFile(LPCWSTR szURL, LPCWSTR szUserName, LPCWSTR szPassword, LPCWSTR szTarget,
                   BOOL bResume, ULONGLONG ullExpectedSize, DWORD dwStallMs)
{
    WCHAR szHost[URL_HOST_CCH], szPath[URL_PATH_CCH], szUser[URL_USER_CCH], szPwd[URL_PASSWORD_CCH];
    int iScheme = SPLITURL_SCHEME_UNKNOWN;
    WORD wPort = 0;
    SplitURL(szURL, szHost, szPath, szUser, szPwd, &iScheme, &wPort);
    if (szUserName && szUserName[0])
        // A longer login is cut, and the server refuses it.
        (void)StringCchCopyW(szUser, URL_USER_CCH, szUserName);
    if (szPassword && szPassword[0])
        (void)StringCchCopyW(szPwd, URL_PASSWORD_CCH, szPassword);
    WCHAR szLogUrl[TRACE_MESSAGE_CCH];
    MaskUrlPassword(szURL, szLogUrl, ARRAYSIZE(szLogUrl));
    DebugTrace(L"DownloadFile()->Url=%s, HostName=%s, UrlPath=%s, Login=%s, Password=%s, Scheme=%d, Resume=%d",
               szLogUrl, szHost, szPath, szUser, MaskPassword(szPwd), iScheme, bResume);

    DWORD dwResult = 0;
    if (iScheme != INTERNET_SCHEME_FILE &&
        (!(GetRunConnectionState(szHost) & CONNECTION_ACTIVED) || IsCancelled())) {
        dwResult = DOWNLOAD_NO_CONNECTION;
    } else {
        switch (iScheme) {
        case INTERNET_SCHEME_FTP:
            dwResult = DownloadFTPFile(szHost, szUser, szPwd, wPort, szPath, szTarget,
                                       INTERNET_FLAG_PASSIVE, ullExpectedSize, dwStallMs);
            break;
        case INTERNET_SCHEME_HTTP:
        case INTERNET_SCHEME_HTTPS:
            dwResult = DownloadHTMLFile(szHost, szUser, szPwd, wPort, szPath, szTarget,
                                        INTERNET_FLAG_PASSIVE, iScheme == INTERNET_SCHEME_HTTPS,
                                        bResume, ullExpectedSize, dwStallMs);
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
                if (dwResult == 0 && ullExpectedSize)
                    dwResult = CheckCopiedSize(szFile, ullExpectedSize);
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
