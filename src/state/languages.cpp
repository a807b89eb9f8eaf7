#include "state/languages.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <stdlib.h>
#include <memory>
#include "common/trace.h"
#include "state/projectinfo.h"

std::vector<LanguageEntry> g_Languages;

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
                StringCchCopyW(entry.szFileName, PATH_CCH, pszEqual + 1);
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
        entry.lcID = LANGID_ENGLISH_UK;
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

DWORD ChosenLanguageId()
{
    if (g_ProjectInfo.uiLangIndex < g_Languages.size())
        return g_Languages[g_ProjectInfo.uiLangIndex].lcID;
    return g_ProjectInfo.uiLanguageDefault;
}
