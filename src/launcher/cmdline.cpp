#include "launcher/cmdline.h"
#include "common/boundedtext.h"
#include <wchar.h>
#include <vector>
#include "common/capacity.h"
#include "common/trace.h"

namespace {

const WCHAR QUOTE = L'"';
const WCHAR BACKSLASH = L'\\';
const WCHAR CMDLINE_NAME[] = L"CMDLINE:";

bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

bool IsDigit(WCHAR c)
{
    return c >= L'0' && c <= L'9';
}

bool IsOptionLead(WCHAR c)
{
    return c == L'/' || c == L'-';
}

WCHAR AsciiUpper(WCHAR c)
{
    return c >= L'a' && c <= L'z' ? static_cast<WCHAR>(c - L'a' + L'A') : c;
}

// Option names are ASCII: compared without the locale's case rules.
bool SameNameAt(const WCHAR* pText, size_t cchText, LPCWSTR szName, size_t cchName)
{
    if (cchText < cchName)
        return false;
    for (size_t i = 0; i < cchName; ++i) {
        if (AsciiUpper(pText[i]) != AsciiUpper(szName[i]))
            return false;
    }
    return true;
}

// One argument: its text without the quoting, and where it ends in the
// line as written. A bare /CMDLINE:'s value is the rest of the line.
struct ARGUMENT {
    size_t iText;  // into LINEPARTS::text
    size_t cchText;
    size_t iRawEnd;
};

struct LINEPARTS {
    std::vector<WCHAR> text;
    std::vector<ARGUMENT> args;
    // A bare /CMDLINE: took the rest of the line: the index of the
    // argument holding it, else args.size().
    size_t iRest;
};

bool IsBareCmdLine(const WCHAR* pText, size_t cchText)
{
    const size_t cchName = ARRAYSIZE(CMDLINE_NAME) - 1;
    return cchText == cchName + 1 && IsOptionLead(pText[0]) &&
           SameNameAt(pText + 1, cchText - 1, CMDLINE_NAME, cchName);
}

// Reads one argument from i (at its first character) as the system does;
// returns where it ended.
size_t ReadArgument(const WCHAR* s, size_t cch, size_t i, std::vector<WCHAR>& out)
{
    bool bQuoted = false;
    while (i < cch) {
        WCHAR c = s[i];
        if (IsBlank(c) && !bQuoted)
            break;
        if (c == BACKSLASH) {
            size_t n = 0;
            while (i < cch && s[i] == BACKSLASH) {
                ++n;
                ++i;
            }
            if (i < cch && s[i] == QUOTE) {
                out.insert(out.end(), n / 2, BACKSLASH);
                if (n % 2) {
                    out.push_back(QUOTE);
                    ++i;
                }
            } else {
                out.insert(out.end(), n, BACKSLASH);
            }
            continue;
        }
        if (c == QUOTE) {
            if (bQuoted && i + 1 < cch && s[i + 1] == QUOTE) {
                out.push_back(QUOTE);  // "" in a quoted part: a quote, and the part ends
                i += 2;
                bQuoted = false;
            } else {
                bQuoted = !bQuoted;
                ++i;
            }
            continue;
        }
        out.push_back(c);
        ++i;
    }
    return i;
}

void Split(LPCWSTR szLine, LINEPARTS& parts)
{
    parts.text.clear();
    parts.args.clear();
    parts.iRest = 0;
    size_t cch = szLine ? wcsnlen(szLine, CMDLINE_CCH - 1) : 0;
    size_t i = 0;
    for (;;) {
        while (i < cch && IsBlank(szLine[i]))
            ++i;
        if (i >= cch)
            break;
        ARGUMENT arg;
        arg.iText = parts.text.size();
        arg.iRawEnd = ReadArgument(szLine, cch, i, parts.text);
        arg.cchText = parts.text.size() - arg.iText;
        parts.args.push_back(arg);
        i = arg.iRawEnd;
        if (IsBareCmdLine(parts.text.data() + arg.iText, arg.cchText)) {
            // The rest of the line belongs to the setup program, as written.
            size_t iFrom = i;
            while (iFrom < cch && IsBlank(szLine[iFrom]))
                ++iFrom;
            size_t iTo = cch;
            while (iTo > iFrom && IsBlank(szLine[iTo - 1]))
                --iTo;
            ARGUMENT rest = {parts.text.size(), iTo - iFrom, cch};
            parts.text.insert(parts.text.end(), szLine + iFrom, szLine + iTo);
            parts.args.push_back(rest);
            parts.iRest = parts.args.size() - 1;
            return;
        }
    }
    parts.iRest = parts.args.size();
}

// Older command lines run options together after a language number:
// /LANG:1036/S. Only there does an option end inside an argument; a path
// such as /X:D:2024-backup stays whole.
const WCHAR LANG_NAME[] = L"LANG:";

// The end of the option piece that starts at iFrom: the end of the
// argument, or the option lead after /LANG:'s number.
size_t PieceEnd(const WCHAR* p, size_t cch, size_t iFrom)
{
    const size_t cchName = ARRAYSIZE(LANG_NAME) - 1;
    if (!SameNameAt(p + iFrom + 1, cch - iFrom - 1, LANG_NAME, cchName))
        return cch;
    size_t i = iFrom + 1 + cchName;
    size_t iDigits = i;
    while (i < cch && IsDigit(p[i]))
        ++i;
    return i > iDigits && i < cch && IsOptionLead(p[i]) ? i : cch;
}

struct FOUND {
    const WCHAR* pValue;
    size_t cchValue;
};

// Finds szOption ("/S", "-X:") among the options of the line. A value
// option gives its value; a bare one the next argument's text.
bool FindInParts(const LINEPARTS& parts, LPCWSTR szOption, FOUND& found)
{
    size_t cchOption = wcslen(szOption);
    if (cchOption < 2 || !IsOptionLead(szOption[0]))
        return false;
    bool bValue = szOption[cchOption - 1] == L':';
    for (size_t a = 0; a < parts.iRest; ++a) {
        const WCHAR* p = parts.text.data() + parts.args[a].iText;
        size_t cch = parts.args[a].cchText;
        if (cch == 0 || !IsOptionLead(p[0]))
            continue;
        for (size_t iPiece = 0; iPiece < cch;) {
            size_t iEnd = PieceEnd(p, cch, iPiece);
            const WCHAR* pPiece = p + iPiece;
            size_t cchPiece = iEnd - iPiece;
            iPiece = iEnd;
            if (!SameNameAt(pPiece, cchPiece, szOption, cchOption))
                continue;
            if (!bValue) {
                if (cchPiece != cchOption)
                    continue;
                found.pValue = nullptr;
                found.cchValue = 0;
                return true;
            }
            found.pValue = pPiece + cchOption;
            found.cchValue = cchPiece - cchOption;
            // A bare "/NAME:" as a whole argument: the next one, unless it
            // is an option itself (or the rest of a bare /CMDLINE:).
            if (found.cchValue == 0 && cchPiece == cch && a + 1 < parts.args.size()) {
                const ARGUMENT& next = parts.args[a + 1];
                const WCHAR* pNext = parts.text.data() + next.iText;
                if (a + 1 == parts.iRest || (next.cchText > 0 && !IsOptionLead(pNext[0]))) {
                    found.pValue = pNext;
                    found.cchValue = next.cchText;
                }
            }
            return true;
        }
    }
    return false;
}

void CopyTrimmed(const FOUND& found, LPWSTR szValue, size_t cchValue)
{
    const WCHAR* p = found.pValue ? found.pValue : L"";
    size_t cch = found.cchValue;
    while (cch > 0 && IsBlank(*p)) {
        ++p;
        --cch;
    }
    while (cch > 0 && IsBlank(p[cch - 1]))
        --cch;
    // Cut to the caller's buffer, as its capacity says.
    size_t cchCopy = cch < cchValue ? cch : cchValue - 1;
    wmemcpy(szValue, p, cchCopy);
    szValue[cchCopy] = L'\0';
}

}  // namespace

BOOL SearchParams(LPCWSTR szCmdLine, LPCWSTR szOption)
{
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return FALSE;
    LINEPARTS parts;
    Split(szCmdLine, parts);
    FOUND found;
    BOOL bFound = FindInParts(parts, szOption, found) ? TRUE : FALSE;
    if (bFound)
        DebugTrace(L"SearchParams(%s, %s)->FOUND!", szCmdLine, szOption);
    return bFound;
}

BOOL FindOptionValue(LPCWSTR szCmdLine, LPCWSTR szOption, LPWSTR szValue, size_t cchValue)
{
    if (!szValue || cchValue == 0)
        return FALSE;
    *szValue = L'\0';
    if (!szCmdLine || !*szCmdLine || !szOption || !*szOption)
        return FALSE;
    LINEPARTS parts;
    Split(szCmdLine, parts);
    FOUND found;
    if (!FindInParts(parts, szOption, found))
        return FALSE;
    CopyTrimmed(found, szValue, cchValue);
    return TRUE;
}

BOOL GetDataParams(LPCWSTR szCmdLine, LPCWSTR szOption, LPWSTR szValue, size_t cchValue)
{
    BOOL bFound = FindOptionValue(szCmdLine, szOption, szValue, cchValue);
    if (szValue && cchValue && szCmdLine && *szCmdLine && szOption && *szOption)
        DebugTrace(L"GetDataParams(%s, %s, %s)->%d", szCmdLine, szOption, szValue, bFound);
    return bFound;
}

BOOL HasOption(LPCWSTR szCmdLine, LPCWSTR szName)
{
    WCHAR szOption[64];
    if (FAILED(StringCchPrintfW(szOption, ARRAYSIZE(szOption), L"-%s", szName)))
        return FALSE;
    if (SearchParams(szCmdLine, szOption))
        return TRUE;
    szOption[0] = L'/';
    return SearchParams(szCmdLine, szOption);
}

BOOL GetOptionValue(LPCWSTR szCmdLine, LPCWSTR szName, LPWSTR szValue, size_t cchValue)
{
    WCHAR szOption[64];
    if (FAILED(StringCchPrintfW(szOption, ARRAYSIZE(szOption), L"-%s", szName)))
        return FALSE;
    if (GetDataParams(szCmdLine, szOption, szValue, cchValue))
        return TRUE;
    szOption[0] = L'/';
    return GetDataParams(szCmdLine, szOption, szValue, cchValue);
}

const WCHAR* const LAUNCHER_OPTIONS[] = {
    L"?",    L"INFO",       L"S",         L"FULLSILENT",   L"SUPPRESSMSGBOXES", L"LOG:",
    L"X:",   L"CMDLINE:",   L"LANG:",     L"FD",           L"NORESUME",         L"WITHPROGRESS",
    L"NOLICENSE", L"NOBALLOON", L"SMALLSTATUS", L"NORMALSTATUS", L"NOTOOLBAR",
};
const size_t LAUNCHER_OPTION_COUNT = ARRAYSIZE(LAUNCHER_OPTIONS);

namespace {

// Whether the piece is one of the launcher's options; *pbBare when it is
// a value option with nothing after its colon.
bool IsOptionPiece(const WCHAR* p, size_t cch, bool* pbBare)
{
    *pbBare = false;
    if (cch < 2 || !IsOptionLead(p[0]))
        return false;
    for (LPCWSTR szName : LAUNCHER_OPTIONS) {
        size_t cchName = wcslen(szName);
        if (!SameNameAt(p + 1, cch - 1, szName, cchName))
            continue;
        if (szName[cchName - 1] == L':') {
            *pbBare = cch - 1 == cchName;
            return true;
        }
        if (cch - 1 == cchName)
            return true;
    }
    return false;
}

}  // namespace

void SplitCommandLine(LPCWSTR szCmdLine, PFN_ARGUMENT pfnArg, void* pContext)
{
    LINEPARTS parts;
    Split(szCmdLine, parts);
    bool bValueNext = false;
    for (size_t a = 0; a < parts.args.size(); ++a) {
        const WCHAR* p = parts.text.data() + parts.args[a].iText;
        size_t cch = parts.args[a].cchText;
        bool bKnown = a == parts.iRest || (bValueNext && cch > 0 && !IsOptionLead(p[0]));
        bValueNext = false;
        if (!bKnown) {
            // Every piece must be an option: /LANG:1036/S is two.
            bKnown = cch > 0;
            for (size_t iPiece = 0; iPiece < cch && bKnown;) {
                size_t iEnd = PieceEnd(p, cch, iPiece);
                bool bBare = false;
                bKnown = IsOptionPiece(p + iPiece, iEnd - iPiece, &bBare);
                bValueNext = bBare && iEnd == cch;
                iPiece = iEnd;
            }
        }
        pfnArg(pContext, p, cch, bKnown ? TRUE : FALSE);
    }
}
