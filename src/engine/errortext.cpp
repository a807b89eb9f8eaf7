#include "engine/errortext.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <wininet.h>
#include <initializer_list>
#include "common/capacity.h"
#include "common/errors.h"
#include "res/resource.h"
#include "state/languages.h"
#include "state/state.h"

namespace {

const DWORD ERROR_CODE_NO_CONNECTION = 1230;
const DWORD ERROR_CODE_CONNECTION_LOST = 1236;
const DWORD ERROR_CODE_WRONG_FILE = 323;  // ERROR_DATA_CHECKSUM_ERROR: not the package's bytes
const DWORD ERROR_CODE_NO_SIZE = 12028;   // the server gave no size or no data
const ULONGLONG BYTES_PER_MB = 1024 * 1024;
const size_t NUMBER_CCH = 32;
const size_t SEPARATOR_CCH = 8;

const UINT MESSAGE_IDS[ERRORKIND_COUNT] = {
    IDS_ERROR_OTHER,     IDS_ERROR_DAMAGED, IDS_ERROR_DISKSPACE, IDS_ERROR_NOCONFIG,
    IDS_ERROR_NOCONN,    IDS_ERROR_CONNLOST, IDS_ERROR_SERVER,   IDS_ERROR_ACCESS,
    IDS_ERROR_INTERRUPTED, IDS_ERROR_TARGET, IDS_ERROR_FOLDER, IDS_ERROR_MEMORY,
};

bool IsOneOf(DWORD dwCode, std::initializer_list<DWORD> codes)
{
    for (DWORD c : codes) {
        if (c == dwCode)
            return true;
    }
    return false;
}

// "C:" for a path on drive C, the share for a network path.
void DriveOf(LPCWSTR szPath, LPWSTR szDrive, size_t cchDrive)
{
    if (FAILED(StringCchCopyW(szDrive, cchDrive, szPath ? szPath : L"")) || !PathStripToRootW(szDrive))
        szDrive[0] = L'\0';
    size_t cch = wcslen(szDrive);
    if (cch == 3 && szDrive[1] == L':' && szDrive[2] == L'\\')
        szDrive[2] = L'\0';
}

// Whole megabytes, rounded up, grouped as the run's language writes
// numbers ("1,024", "1 024", "1.024").
void FormatMegabytes(DWORD dwLangId, ULONGLONG ullBytes, LPWSTR szText, size_t cchText)
{
    ULONGLONG ullMb = ullBytes / BYTES_PER_MB + (ullBytes % BYTES_PER_MB ? 1 : 0);
    if (ullMb == 0)
        ullMb = 1;
    WCHAR szDigits[NUMBER_CCH];
    // A number fits.
    (void)StringCchPrintfW(szDigits, ARRAYSIZE(szDigits), L"%I64u", ullMb);
    LCID lcid = MAKELCID(static_cast<LANGID>(dwLangId), SORT_DEFAULT);
    WCHAR szThousand[SEPARATOR_CCH] = L",";
    WCHAR szDecimal[SEPARATOR_CCH] = L".";
    GetLocaleInfoW(lcid, LOCALE_STHOUSAND, szThousand, ARRAYSIZE(szThousand));
    GetLocaleInfoW(lcid, LOCALE_SDECIMAL, szDecimal, ARRAYSIZE(szDecimal));
    NUMBERFMTW format = {};
    format.NumDigits = 0;
    format.Grouping = 3;
    format.lpDecimalSep = szDecimal;
    format.lpThousandSep = szThousand;
    format.NegativeOrder = 1;
    if (!GetNumberFormatW(lcid, 0, szDigits, &format, szText, static_cast<int>(cchText)))
        (void)StringCchCopyW(szText, cchText, szDigits);
}

// The line under the message: the code, and the system's words for it
// where the message names no cause of its own.
void AppendCodeLine(ERRORKIND kind, DWORD dwCode, LPWSTR szText, size_t cchText)
{
    WCHAR szCode[NUMBER_CCH];
    (void)StringCchPrintfW(szCode, ARRAYSIZE(szCode), L"%u", dwCode);
    LPCWSTR args[] = {szCode};
    WCHAR szLine[TITLE_TEXT_CCH];
    if (!FormatUiText(IDS_ERROR_CODE, szLine, ARRAYSIZE(szLine), args, ARRAYSIZE(args)))
        // The box text: what does not fit is cut.
        (void)StringCchCopyW(szLine, ARRAYSIZE(szLine), szCode);
    if (kind == ERRORKIND_OTHER || kind == ERRORKIND_TARGET) {
        WCHAR szSystem[TITLE_TEXT_CCH];
        SystemErrorText(dwCode, szSystem, ARRAYSIZE(szSystem));
        if (*szSystem) {
            (void)StringCchCatW(szLine, ARRAYSIZE(szLine), L" (");
            (void)StringCchCatW(szLine, ARRAYSIZE(szLine), szSystem);
            (void)StringCchCatW(szLine, ARRAYSIZE(szLine), L")");
        }
    }
    (void)StringCchCatW(szText, cchText, L"\n\n");
    (void)StringCchCatW(szText, cchText, szLine);
}

}  // namespace

ERRORKIND ErrorKindOf(DWORD dwCode, BOOL bDownload)
{
    if (dwCode == ERROR_CANCELLED)
        return ERRORKIND_CANCELLED;
    if (dwCode == ERROR_CODE_NO_CONNECTION)
        return ERRORKIND_NO_CONNECTION;
    if (IsOneOf(dwCode, {ERROR_CODE_CONNECTION_LOST, ERROR_INTERNET_TIMEOUT,
                         ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT,
                         ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_CONNECTION_RESET}))
        return ERRORKIND_CONNECTION_LOST;
    if (IsOneOf(dwCode, {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL}))
        return ERRORKIND_DISK_FULL;
    if (IsOneOf(dwCode, {ERROR_NOT_ENOUGH_MEMORY, ERROR_OUTOFMEMORY}))
        return ERRORKIND_MEMORY;
    // What a server answered: it has no such file, refuses it, fails, sends
    // redirects without end, or sends a file that is not the package's.
    if (bDownload && IsOneOf(dwCode, {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
                                      ERROR_HTTP_INVALID_SERVER_RESPONSE,
                                      ERROR_HTTP_REDIRECT_FAILED, ERROR_CODE_WRONG_FILE,
                                      ERROR_CODE_NO_SIZE}))
        return ERRORKIND_SERVER;
    if (IsOneOf(dwCode, {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION,
                         ERROR_WRITE_PROTECT}))
        return ERRORKIND_ACCESS;
    // Parts of the package missing, unreadable or not its own.
    if (IsOneOf(dwCode, {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_FORMAT,
                         ERROR_INVALID_DATA, ERROR_CRC, ERROR_HANDLE_EOF, ERROR_CODE_WRONG_FILE,
                         ERROR_FILE_CORRUPT}))
        return ERRORKIND_DAMAGED;
    return ERRORKIND_OTHER;
}

UINT ErrorMessageId(ERRORKIND kind)
{
    return kind < ERRORKIND_COUNT ? MESSAGE_IDS[kind] : IDS_ERROR_OTHER;
}

void BuildErrorText(ERRORKIND kind, const FAILUREINFO& failure, const RUNCONTEXT& ctx,
                    LPWSTR szText, size_t cchText)
{
    if (!szText || cchText == 0)
        return;
    WCHAR szPlace[PATH_CCH];
    if (kind == ERRORKIND_DISK_FULL)
        DriveOf(failure.szPath, szPlace, ARRAYSIZE(szPlace));
    else
        // A path in the box text: what does not fit is cut.
        (void)StringCchCopyW(szPlace, ARRAYSIZE(szPlace), failure.szPath ? failure.szPath : L"");
    WCHAR szMegabytes[NUMBER_CCH];
    FormatMegabytes(ChosenLanguageId(ctx), failure.ullNeedBytes, szMegabytes,
                    ARRAYSIZE(szMegabytes));
    LPCWSTR args[] = {ctx.szTitle, szPlace, szMegabytes};
    if (!FormatUiText(ErrorMessageId(kind), szText, cchText, args, ARRAYSIZE(args)))
        szText[0] = L'\0';
    if (kind != ERRORKIND_CANCELLED)
        AppendCodeLine(kind, failure.dwCode, szText, cchText);
}
