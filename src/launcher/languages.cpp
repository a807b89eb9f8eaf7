#include "launcher/languages.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <stdlib.h>
#include <memory>
#include "common/filesys.h"
#include "common/trace.h"
#include "launcher/config.h"
#include "launcher/projectinfo.h"
#include "launcher/state.h"
#include "payload/archive.h"
#include "ui/res/resource.h"

std::vector<LanguageEntry> g_Languages;

namespace {

const WCHAR LANGUAGE_SECTION[] = L"Languages";
const WCHAR BINARY_TMP[] = L"Binary.tmp";
const WCHAR NEUTRAL_PACK[] = L"Neutral.001";
const WCHAR NEUTRAL_CT_PACK[] = L"Neutral_CT.001";
const WCHAR PACK_EXTENSION[] = L".001";
const WCHAR CT_PACK_ENDING[] = L"_CT.001";
const WCHAR CT_FOLDER[] = L"CT";

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

BOOL FileExists(LPCWSTR szPath)
{
    DWORD dwAttr = GetFileAttributesW(szPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder of the product-tracking copy: the target folder when that
// copy is switched on, else TempPathTRV\CT.
void GetCopyFolder(LPWSTR szFolder, DWORD cchFolder)
{
    if (g_ZKToolsInfo.bZkcts && g_ProjectInfo.szTgdFolder[0])
        StringCchCopyW(szFolder, cchFolder, g_ProjectInfo.szTgdFolder);
    else if (!PathCombineW(szFolder, TempPathTRV, CT_FOLDER))
        szFolder[0] = L'\0';
}

// Takes one pack out of the language pack into TempPathTRV and, when it was
// there, unpacks it flat into szTarget and deletes it. The member walk stops
// right after the wanted file, so only the file tells whether it was found.
BOOL UnpackMember(LPCWSTR szBinary, LPCWSTR szMember, LPCWSTR szTarget, BOOL bCreateTarget)
{
    WCHAR szPack[PATH_CCH];
    if (!PathCombineW(szPack, TempPathTRV, szMember))
        return FALSE;
    UnPackCABFile(szBinary, TempPathTRV, szMember, FALSE);
    if (!FileExists(szPack))
        return FALSE;
    if (bCreateTarget)
        CreateAllDirectory(szTarget);
    UnCompressFile(szPack, szTarget, FALSE);
    DeleteFileW(szPack);
    return TRUE;
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
    auto find = [&languages](DWORD lcID) {
        for (size_t i = 0; i < languages.size(); ++i) {
            if (languages[i].lcID == lcID)
                return static_cast<int>(i);
        }
        return -1;
    };
    int index = -1;
    if (lcIDParam != 0 && (index = find(lcIDParam)) >= 0) {
        DebugTrace(L"ReadConfigFile(g_lcID_LangParam)->PROJECTINFO.szLangFileName=%s",
                   languages[index].szFileName);
        return index;
    }
    if (lcIDUser != 0 && (index = find(lcIDUser)) >= 0) {
        DebugTrace(L"ReadConfigFile(lcID_user)->PROJECTINFO.szLangFileName=%s",
                   languages[index].szFileName);
        return index;
    }
    if ((index = find(lcIDDefault)) >= 0) {
        DebugTrace(L"ReadConfigFile(PROJECTINFO.uiLanguageDefault)->PROJECTINFO.szLangFileName=%s",
                   languages[index].szFileName);
    }
    return index;
}

BOOL ExtractBinaryRes()
{
    if (!FindResourceW(hInstance, MAKEINTRESOURCEW(IDR_BINARY), L"BINARY"))
        return FALSE;
    WCHAR szBinary[PATH_CCH];
    if (!PathCombineW(szBinary, TempPathTRV, BINARY_TMP))
        return FALSE;
    if (!ExtractRes(hInstance, IDR_BINARY, L"BINARY", szBinary)) {
        DeleteFileW(szBinary);
        return FALSE;
    }

    UnpackMember(szBinary, NEUTRAL_PACK, TempPathTRV, FALSE);
    WCHAR szCopyFolder[PATH_CCH];
    GetCopyFolder(szCopyFolder, PATH_CCH);
    if (szCopyFolder[0])
        UnpackMember(szBinary, NEUTRAL_CT_PACK, szCopyFolder, TRUE);

    if (g_ProjectInfo.szLangFileName[0]) {
        WCHAR szMember[PATH_CCH];
        StringCchCopyW(szMember, PATH_CCH, PathFindFileNameW(g_ProjectInfo.szLangFileName));
        PathRemoveExtensionW(szMember);
        WCHAR szBase[PATH_CCH];
        StringCchCopyW(szBase, PATH_CCH, szMember);
        // The pack is named like the library: EnglishUS.lng in EnglishUS.001.
        if (SUCCEEDED(StringCchCatW(szMember, PATH_CCH, PACK_EXTENSION)))
            UnpackMember(szBinary, szMember, TempPathTRV, FALSE);
        if (szCopyFolder[0] && SUCCEEDED(StringCchCatW(szBase, PATH_CCH, CT_PACK_ENDING)))
            UnpackMember(szBinary, szBase, szCopyFolder, TRUE);
    }
    DeleteFileW(szBinary);

    WCHAR szLicense[PATH_CCH];
    if (!PathCombineW(szLicense, TempPathTRV, PathFindFileNameW(g_ProjectInfo.szLicenseFile)))
        szLicense[0] = L'\0';
    StringCchCopyW(g_ProjectInfo.szLicenseFile, PATH_CCH, szLicense);
    g_ProjectInfo.bLicense = g_ProjectInfo.szLicenseFile[0] && FileExists(g_ProjectInfo.szLicenseFile);
    DebugTrace(L"ExtractBinaryRes()->License=%d LicenseFile=%s", g_ProjectInfo.bLicense,
               g_ProjectInfo.szLicenseFile);
    return TRUE;
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
