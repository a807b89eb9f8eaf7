#include "launcher/cmdline.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <string>
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

// Upper-case copy of a text, cut to the command-line capacity.
std::wstring UpperCopy(LPCWSTR szText)
{
    std::wstring text(szText, wcsnlen(szText, CMDLINE_CCH - 1));
    if (!text.empty())
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// A number right after a colon ends there: /LANG:1036/S holds /S.
bool EndsNumericValue(const std::wstring& line, size_t i)
{
    size_t j = i;
    while (j > 0 && IsDigit(line[j - 1]))
        --j;
    return j < i && j > 0 && line[j - 1] == L':';
}

bool StartsOption(const std::wstring& line, size_t i)
{
    return i == 0 || IsBlank(line[i - 1]) || line[i - 1] == QUOTE || EndsNumericValue(line, i);
}

bool EndsOption(const std::wstring& line, size_t iEnd)
{
    return iEnd == line.size() || IsBlank(line[iEnd]) || line[iEnd] == QUOTE;
}

// Where the option first stands as one (with bWhole it must also end
// there); npos when nowhere.
size_t FindOption(const std::wstring& line, const std::wstring& option, bool bWhole)
{
    for (size_t i = line.find(option); i != std::wstring::npos; i = line.find(option, i + 1)) {
        if (StartsOption(line, i) && (!bWhole || EndsOption(line, i + option.size())))
            return i;
    }
    return std::wstring::npos;
}

// Leading and trailing blanks go, as PathRemoveBlanks does.
void TrimBlanks(std::wstring& text)
{
    size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(L' ') + 1);
    text.erase(0, first);
}

bool FindValue(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, std::wstring& value)
{
    value.clear();
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return false;
    const std::wstring line = UpperCopy(szCmdLine);
    const std::wstring option = UpperCopy(szOption);
    size_t iMatch = FindOption(line, option, false);
    if (iMatch == std::wstring::npos)
        return false;
    // Same offsets in the original text: upper-casing keeps the length.
    const std::wstring text(szCmdLine, line.size());
    size_t iValue = iMatch + option.size();
    bool bQuoted = true;
    if (iValue < text.size() && text[iValue] == QUOTE)
        ++iValue;  // /X:"C:\a b"
    else if (!(iMatch > 0 && text[iMatch - 1] == QUOTE))
        bQuoted = false;  // not "/X:C:\a b" either
    if (bQuoted) {
        size_t iClose = text.find(QUOTE, iValue);
        value = text.substr(iValue, iClose == std::wstring::npos ? std::wstring::npos
                                                                 : iClose - iValue);
        TrimBlanks(value);
        return true;
    }
    value = text.substr(iValue);
    if (szDelims && *szDelims) {
        size_t iCut = value.find_first_of(szDelims);
        if (iCut != std::wstring::npos && iCut > 0)
            value.resize(iCut);
    }
    TrimBlanks(value);
    if (value.size() >= 2 && value.front() == QUOTE && value.back() == QUOTE)
        value = value.substr(1, value.size() - 2);
    return true;
}

}  // namespace

BOOL SearchParams(LPCWSTR szCmdLine, LPCWSTR szOption)
{
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return FALSE;
    BOOL bFound = FindOption(UpperCopy(szCmdLine), UpperCopy(szOption), true) != std::wstring::npos;
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
    std::wstring value;
    if (!FindValue(szCmdLine, szOption, szDelims, value))
        return FALSE;
    StringCchCopyNW(szValue, cchValue, value.c_str(), value.size());
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
