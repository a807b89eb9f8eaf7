#include "launcher/cmdline.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <string>
#include "common/capacity.h"
#include "common/trace.h"

namespace {

bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

// Upper-case copy of a text, cut to the command-line capacity.
std::wstring UpperCopy(LPCWSTR szText)
{
    std::wstring text(szText, wcsnlen(szText, CMDLINE_CCH - 1));
    if (!text.empty())
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

BOOL SearchParams(LPCWSTR szCmdLine, LPCWSTR szOption)
{
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return FALSE;
    const std::wstring line = UpperCopy(szCmdLine);
    const std::wstring option = UpperCopy(szOption);
    BOOL bFound = FALSE;
    for (size_t i = line.find(option); i != std::wstring::npos; i = line.find(option, i + 1)) {
        size_t iEnd = i + option.size();
        bool bStarts = i == 0 || IsBlank(line[i - 1]);
        bool bEnds = iEnd == line.size() || IsBlank(line[iEnd]);
        if (bStarts && bEnds) {
            bFound = TRUE;
            break;
        }
    }
    if (bFound)
        DebugTrace(L"SearchParams(%s, %s)->FOUND!", szCmdLine, szOption);
    return bFound;
}

BOOL GetDataParams(LPCWSTR szCmdLine, LPCWSTR szOption, LPCWSTR szDelims, LPWSTR szValue,
                   size_t cchValue)
{
    if (!szValue || cchValue == 0)
        return FALSE;
    *szValue = L'\0';
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return FALSE;
    const std::wstring line = UpperCopy(szCmdLine);
    const std::wstring option = UpperCopy(szOption);
    size_t iMatch = line.find(option);
    BOOL bFound = iMatch != std::wstring::npos;
    if (bFound) {
        // Same offset in the original text: upper-casing keeps the length.
        size_t iValue = iMatch + option.size();
        StringCchCopyW(szValue, cchValue, szCmdLine + iValue);
        if (szDelims && *szDelims) {
            size_t iCut = wcscspn(szValue, szDelims);
            if (iCut > 0 && szValue[iCut])
                szValue[iCut] = L'\0';
        }
        PathRemoveBlanksW(szValue);
        PathUnquoteSpacesW(szValue);
    }
    DebugTrace(L"GetDataParams(%s, %s, %s, %s)->%d", szCmdLine, szOption,
               szDelims ? szDelims : L"", szValue, bFound);
    return bFound;
}
