#include "state/languages.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <stdlib.h>
#include <memory>
#include "common/trace.h"
#include "state/runcontext.h"
#include "state/state.h"

namespace {

const WCHAR LANGUAGE_SECTION[] = L"Languages";

// A decimal identifier as the profile functions read one: leading blanks,
// digits, anything after them ignored.
DWORD ParseLangID(LPCWSTR psz)
{
    while (*psz == L' ' || *psz == L'\t')
        ++psz;
    DWORD dw = 0;
    for (; *psz >= L'0' && *psz <= L'9'; ++psz) {
        DWORD next = dw * 10 + static_cast<DWORD>(*psz - L'0');
        if (next / 10 != dw)
            return 0;  // overflow: no language has such an identifier
        dw = next;
    }
    return dw;
}


}  // namespace

DWORD ReadLanguages(LPCWSTR szConfigFile, std::vector<LanguageEntry>& languages)
{
    languages.clear();
    std::unique_ptr<WCHAR[]> section(new WCHAR[LANGUAGE_SECTION_CCH]);
    section[0] = L'\0';
    section[1] = L'\0';
    DWORD cch = GetPrivateProfileSectionW(LANGUAGE_SECTION, section.get(), LANGUAGE_SECTION_CCH,
                                          szConfigFile);
    if (cch > 0) {
        // "key=value\0key=value\0\0"; a cut section still ends in two zeros.
        for (LPCWSTR pszLine = section.get(); *pszLine; pszLine += lstrlenW(pszLine) + 1) {
            LanguageEntry entry = {};
            LPCWSTR pszEqual = wcschr(pszLine, L'=');
            if (pszEqual) {
                // A longer name is no file of the pack: it is not found.
                (void)StringCchCopyW(entry.szFileName, PATH_CCH, pszEqual + 1);
                StrTrimW(entry.szFileName, L" \t");
            }
            entry.lcID = ParseLangID(pszLine);
            DebugTrace(L"ReadLanguages(%d)->LangID=%d FileName=%s",
                       static_cast<int>(languages.size()), entry.lcID, entry.szFileName);
            languages.push_back(entry);
        }
    }
    if (languages.empty()) {
        LanguageEntry entry = {};
        entry.lcID = LANGID_ENGLISH_US;
        languages.push_back(entry);
    }
    DWORD dwCount = static_cast<DWORD>(languages.size());
    DebugTrace(L"ReadLanguages()->%d", dwCount);
    return dwCount;
}

int ChooseLanguage(const std::vector<LanguageEntry>& languages, DWORD lcIDParam, DWORD lcIDUser,
                   DWORD lcIDDefault)
{
    auto find = [&languages](DWORD lcID, bool bPrimaryOnly) {
        for (size_t i = 0; i < languages.size(); ++i) {
            DWORD lcEntry = languages[i].lcID;
            if (bPrimaryOnly ? lcEntry != 0 && PRIMARYLANGID(lcEntry) == PRIMARYLANGID(lcID)
                             : lcEntry == lcID)
                return static_cast<int>(i);
        }
        return -1;
    };
    // The exact language, else one of the same family: Spanish (3082)
    // takes the Spanish library (1034), French (Canada) the French one.
    auto match = [&find](DWORD lcID) {
        int index = find(lcID, false);
        return index >= 0 ? index : find(lcID, true);
    };
    int index = -1;
    if (lcIDParam != 0 && (index = match(lcIDParam)) >= 0) {
        DebugTrace(L"ReadConfigFile(g_lcID_LangParam)->PROJECTINFO.szLangFileName=%s",
                   languages[index].szFileName);
        return index;
    }
    if (lcIDUser != 0 && (index = match(lcIDUser)) >= 0) {
        DebugTrace(L"ReadConfigFile(lcID_user)->PROJECTINFO.szLangFileName=%s",
                   languages[index].szFileName);
        return index;
    }
    if ((index = find(lcIDDefault, false)) >= 0) {
        DebugTrace(L"ReadConfigFile(PROJECTINFO.uiLanguageDefault)->PROJECTINFO.szLangFileName=%s",
                   languages[index].szFileName);
    }
    return index;
}


BOOL LoadStringEx(HINSTANCE hModule, UINT uID, LPWSTR szBuffer, int cchBuffer, DWORD)
{
    if (!szBuffer || cchBuffer < 1)
        return FALSE;
    int n = LoadStringW(hModule, uID, szBuffer, cchBuffer);
    BOOL bFound = n >= 1;
    if (!bFound)
        szBuffer[0] = L'\0';
    DebugTrace(L"LoadStringEx(%d)->%s", uID, szBuffer);
    return bFound;
}

BOOL LoadStringEx(HINSTANCE hModule, UINT uID, LPWSTR szBuffer)
{
    if (!szBuffer)
        return FALSE;
    int n = LoadStringW(hModule, uID, szBuffer, LOADSTRING_SHORT_CCH);
    if (n < 1) {
        szBuffer[0] = L'\0';
        return FALSE;
    }
    DebugTrace(L"LoadStringEx(%d)->%s", uID, szBuffer);
    return TRUE;
}

DWORD ChosenLanguageId(const RUNCONTEXT& ctx)
{
    if (ctx.project.uiLangIndex < ctx.languages.size())
        return ctx.languages[ctx.project.uiLangIndex].lcID;
    return ctx.project.uiLanguageDefault;
}

BOOL LoadUiText(UINT uID, LPWSTR szText, size_t cchText)
{
    if (!szText || cchText < 1)
        return FALSE;
    int cch = static_cast<int>(cchText);
    HINSTANCE hRes = hInstRes ? hInstRes : hInstance;
    if (LoadStringEx(hRes, uID, szText, cch, 0))
        return TRUE;
    return hRes != hInstance && hInstance && LoadStringEx(hInstance, uID, szText, cch, 0);
}

BOOL FormatUiText(UINT uID, LPWSTR szText, size_t cchText, const LPCWSTR* pArgs, DWORD cArgs)
{
    if (!szText || cchText < 1)
        return FALSE;
    WCHAR szFormat[MESSAGE_TEXT_CCH];
    if (!LoadUiText(uID, szFormat, ARRAYSIZE(szFormat))) {
        szText[0] = L'\0';
        return FALSE;
    }
    // An insert beyond the arguments given becomes empty.
    const DWORD_PTR EMPTY = reinterpret_cast<DWORD_PTR>(L"");
    DWORD_PTR args[FORMAT_ARGS_MAX];
    for (DWORD i = 0; i < FORMAT_ARGS_MAX; ++i)
        args[i] = i < cArgs && pArgs && pArgs[i] ? reinterpret_cast<DWORD_PTR>(pArgs[i]) : EMPTY;
    LPWSTR pszFormatted = nullptr;
    DWORD cch = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                   FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               szFormat, 0, 0, reinterpret_cast<LPWSTR>(&pszFormatted), 0,
                               reinterpret_cast<va_list*>(args));
    if (cch > 0 && pszFormatted) {
        // The system writes each line end as CR LF: keep them as the
        // string has them, like every other text of the program.
        LPWSTR pszOut = pszFormatted;
        for (LPCWSTR psz = pszFormatted; *psz; ++psz) {
            if (!(psz[0] == L'\r' && psz[1] == L'\n'))
                *pszOut++ = *psz;
        }
        *pszOut = L'\0';
        // Shown texts: what does not fit is cut.
        (void)StringCchCopyW(szText, cchText, pszFormatted);
    } else {
        (void)StringCchCopyW(szText, cchText,
                             szFormat);  // a text the system would not format: as written
    }
    if (pszFormatted)
        LocalFree(pszFormatted);
    return TRUE;
}

void LanguageDisplayName(DWORD lcID, LPWSTR szName, size_t cchName)
{
    if (!szName || cchName == 0)
        return;
    szName[0] = L'\0';
    LCID lcid = MAKELCID(static_cast<LANGID>(lcID), SORT_DEFAULT);
    WCHAR szLanguage[PATH_CCH];
    WCHAR szCountry[PATH_CCH];
    if (!lcID || !GetLocaleInfoW(lcid, LOCALE_SNATIVELANGNAME, szLanguage, ARRAYSIZE(szLanguage)))
        return;
    // A shown name: what does not fit is cut.
    if (GetLocaleInfoW(lcid, LOCALE_SNATIVECTRYNAME, szCountry, ARRAYSIZE(szCountry)) && *szCountry)
        (void)StringCchPrintfW(szName, cchName, L"%s (%s)", szLanguage, szCountry);
    else
        (void)StringCchCopyW(szName, cchName, szLanguage);
}
