#include "launcher/cmdline.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <wchar.h>
#include "common/capacity.h"
#include "common/trace.h"

const WCHAR VALUE_ENDS_AT_OPTION[] = L"/-";
const WCHAR VALUE_ENDS_AT_BLANK[] = L" ";

namespace {

const WCHAR QUOTE = L'"';

bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

bool IsDigit(WCHAR c)
{
    return c >= L'0' && c <= L'9';
}

const size_t NO_MATCH = static_cast<size_t>(-1);

// A text of at most a command line's length, held in a buffer of that size.
struct LINETEXT {
    WCHAR sz[CMDLINE_CCH];
    size_t cch;
};

// Upper-case copy of a text, cut to the command-line capacity.
void UpperCopy(LINETEXT& to, LPCWSTR szFrom)
{
    to.cch = wcsnlen(szFrom, CMDLINE_CCH - 1);
    wmemcpy(to.sz, szFrom, to.cch);
    to.sz[to.cch] = L'\0';
    if (to.cch)
        CharUpperBuffW(to.sz, static_cast<DWORD>(to.cch));
}

// A number right after a colon ends there: /LANG:1036/S holds /S.
bool EndsNumericValue(const LINETEXT& line, size_t i)
{
    size_t j = i;
    while (j > 0 && IsDigit(line.sz[j - 1]))
        --j;
    return j < i && j > 0 && line.sz[j - 1] == L':';
}

bool StartsOption(const LINETEXT& line, size_t i)
{
    return i == 0 || IsBlank(line.sz[i - 1]) || line.sz[i - 1] == QUOTE || EndsNumericValue(line, i);
}

bool EndsOption(const LINETEXT& line, size_t iEnd)
{
    return iEnd == line.cch || IsBlank(line.sz[iEnd]) || line.sz[iEnd] == QUOTE;
}

// Where the option first stands as one (with bWhole it must also end
// there); NO_MATCH when nowhere.
size_t FindOption(const LINETEXT& line, const LINETEXT& option, bool bWhole)
{
    for (LPCWSTR p = wcsstr(line.sz, option.sz); p; p = wcsstr(p + 1, option.sz)) {
        size_t i = static_cast<size_t>(p - line.sz);
        if (StartsOption(line, i) && (!bWhole || EndsOption(line, i + option.cch)))
            return i;
    }
    return NO_MATCH;
}

// Leading and trailing blanks go, as PathRemoveBlanks does.
void TrimBlanks(LINETEXT& text)
{
    size_t first = 0;
    while (first < text.cch && text.sz[first] == L' ')
        ++first;
    size_t end = text.cch;
    while (end > first && text.sz[end - 1] == L' ')
        --end;
    text.cch = end - first;
    wmemmove(text.sz, text.sz + first, text.cch);
    text.sz[text.cch] = L'\0';
}

// The value: cch characters of szFrom.
void SetValue(LINETEXT& value, LPCWSTR szFrom, size_t cch)
{
    value.cch = cch < CMDLINE_CCH ? cch : CMDLINE_CCH - 1;
    wmemmove(value.sz, szFrom, value.cch);
    value.sz[value.cch] = L'\0';
}

bool FindValue(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, LINETEXT& value)
{
    SetValue(value, L"", 0);
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return false;
    LINETEXT line, option;
    UpperCopy(line, szCmdLine);
    UpperCopy(option, szOption);
    size_t iMatch = FindOption(line, option, false);
    if (iMatch == NO_MATCH)
        return false;
    // Same offsets in the original text: upper-casing keeps the length.
    LPCWSTR text = szCmdLine;
    const size_t cchText = line.cch;
    size_t iValue = iMatch + option.cch;
    bool bQuoted = true;
    if (iValue < cchText && text[iValue] == QUOTE)
        ++iValue;  // /X:"C:\a b"
    else if (!(iMatch > 0 && text[iMatch - 1] == QUOTE))
        bQuoted = false;  // not "/X:C:\a b" either
    if (bQuoted) {
        size_t iClose = iValue;
        while (iClose < cchText && text[iClose] != QUOTE)
            ++iClose;
        SetValue(value, text + iValue, iClose - iValue);
        TrimBlanks(value);
        return true;
    }
    SetValue(value, text + iValue, iValue < cchText ? cchText - iValue : 0);
    if (szDelims && *szDelims) {
        size_t iCut = wcscspn(value.sz, szDelims);
        if (iCut < value.cch && iCut > 0) {
            value.cch = iCut;
            value.sz[iCut] = L'\0';
        }
    }
    TrimBlanks(value);
    if (value.cch >= 2 && value.sz[0] == QUOTE && value.sz[value.cch - 1] == QUOTE)
        SetValue(value, value.sz + 1, value.cch - 2);
    return true;
}

}  // namespace

BOOL SearchParams(LPCWSTR szCmdLine, LPCWSTR szOption)
{
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return FALSE;
    LINETEXT line, option;
    UpperCopy(line, szCmdLine);
    UpperCopy(option, szOption);
    BOOL bFound = FindOption(line, option, true) != NO_MATCH;
    if (bFound)
        DebugTrace(L"SearchParams(%s, %s)->FOUND!", szCmdLine, szOption);
    return bFound;
}

BOOL FindOptionValue(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, LPWSTR szValue,
                     size_t cchValue)
{
    if (!szValue || cchValue == 0)
        return FALSE;
    *szValue = L'\0';
    LINETEXT value;
    if (!FindValue(szCmdLine, szOption, szDelims, value))
        return FALSE;
    StringCchCopyNW(szValue, cchValue, value.sz, value.cch);
    return TRUE;
}

BOOL GetDataParams(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, LPWSTR szValue,
                   size_t cchValue)
{
    BOOL bFound = FindOptionValue(szCmdLine, szOption, szDelims, szValue, cchValue);
    if (szValue && cchValue && szCmdLine && *szCmdLine && szOption && *szOption)
        DebugTrace(L"GetDataParams(%s, %s, %s, %s)->%d", szCmdLine, szOption,
                   szDelims ? szDelims : L"", szValue, bFound);
    return bFound;
}

BOOL HasOption(LPCWSTR szCmdLine, LPCWSTR szName)
{
    WCHAR szOption[64];
    StringCchPrintfW(szOption, ARRAYSIZE(szOption), L"-%s", szName);
    if (SearchParams(szCmdLine, szOption))
        return TRUE;
    StringCchPrintfW(szOption, ARRAYSIZE(szOption), L"/%s", szName);
    return SearchParams(szCmdLine, szOption);
}

BOOL GetOptionValue(LPCWSTR szCmdLine, LPCWSTR szName, LPCWSTR szDelims, LPWSTR szValue,
                    size_t cchValue)
{
    WCHAR szOption[64];
    StringCchPrintfW(szOption, ARRAYSIZE(szOption), L"-%s", szName);
    BOOL bFound = GetDataParams(szCmdLine, szOption, szDelims, szValue, cchValue);
    if (!bFound) {
        StringCchPrintfW(szOption, ARRAYSIZE(szOption), L"/%s", szName);
        bFound = GetDataParams(szCmdLine, szOption, szDelims, szValue, cchValue);
    }
    if (bFound) {
        PathRemoveBlanksW(szValue);
        PathUnquoteSpacesW(szValue);
    }
    return bFound;
}
