#include "state/config.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <stdlib.h>
#include <vector>
#include "common/profilefile.h"
#include "common/trace.h"
#include "state/languages.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "state/urlscramble.h"

namespace {

const WCHAR GENERAL[] = L"General";
const WCHAR RUNTIME[] = L"Runtime";
const WCHAR DIALOGS[] = L"Dialogs";
const WCHAR ZKTOOLS[] = L"ZKTools";
const WCHAR FILE1[] = L"File 1";

const DWORD DEFAULT_LANGUAGE = LANGID_ENGLISH_US;


// Integer keys keep the current value when missing.
void ReadInt(LPCWSTR szSection, LPCWSTR szKey, DWORD& dwField, LPCWSTR szFile)
{
    dwField = GetPrivateProfileIntW(szSection, szKey, static_cast<INT>(dwField), szFile);
}

// Text keys either keep the current value or fall back to an empty text.
void ReadText(LPCWSTR szSection, LPCWSTR szKey, LPWSTR szField, DWORD cchField, BOOL bKeepCurrent,
              LPCWSTR szFile)
{
    WCHAR szDefault[PATH_CCH] = L"";
    if (bKeepCurrent)
        // Same capacity.
        (void)StringCchCopyW(szDefault, PATH_CCH, szField);
    GetPrivateProfileStringW(szSection, szKey, szDefault, szField, cchField, szFile);
}

// A value exactly as written, quotes included: GetPrivateProfileString
// drops a pair of quotes around a whole value, which a setup program's
// command line needs ("C:\Program Files\App"). The key's first line in
// its section wins; blanks around the key and the value go.
void ReadTextAsWritten(LPCWSTR szSection, LPCWSTR szKey, LPWSTR szField, DWORD cchField,
                       LPCWSTR szFile)
{
    // The largest section the profile functions hand out.
    const DWORD SECTION_CCH = 32767;
    std::vector<WCHAR> section(SECTION_CCH, L'\0');
    DWORD cch = GetPrivateProfileSectionW(szSection, section.data(), SECTION_CCH, szFile);
    size_t cchKey = wcslen(szKey);
    for (const WCHAR* p = section.data(); cch && *p; p += wcslen(p) + 1) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        const WCHAR* pEq = wcschr(p, L'=');
        if (!pEq)
            continue;
        const WCHAR* pKeyEnd = pEq;
        while (pKeyEnd > p && (pKeyEnd[-1] == L' ' || pKeyEnd[-1] == L'\t'))
            --pKeyEnd;
        if (static_cast<size_t>(pKeyEnd - p) != cchKey || _wcsnicmp(p, szKey, cchKey) != 0)
            continue;
        const WCHAR* pValue = pEq + 1;
        while (*pValue == L' ' || *pValue == L'\t')
            ++pValue;
        size_t cchValue = wcslen(pValue);
        while (cchValue && (pValue[cchValue - 1] == L' ' || pValue[cchValue - 1] == L'\t'))
            --cchValue;
        // A value longer than its field is cut, as the profile functions do.
        // A value longer than its field is cut, as the profile functions do.
        (void)StringCchCopyNW(szField, cchField, pValue, cchValue);
        return;
    }
}

// The location is kept scrambled; a missing key or a bad checksum leaves
// it empty.
void ReadWebDownloadUrl(PROJECTINFO& pi, LPCWSTR szFile)
{
    pi.szWebDownloadUrl[0] = L'\0';
    uint8_t block[WEBURL_BLOCK_SIZE];
    if (!GetPrivateProfileStructW(RUNTIME, L"WebDownloadUrl", block, sizeof(block), szFile))
        return;
    uint16_t szUrl[WEBURL_CCH];
    UnscrambleWebUrl(block, szUrl);
    static_assert(sizeof(WCHAR) == sizeof(uint16_t), "UTF-16 units");
    static_assert(static_cast<unsigned>(WEBURL_CCH) == static_cast<unsigned>(PATH_CCH),
                  "same capacity as the field");
    for (unsigned i = 0; i < WEBURL_CCH; ++i)
        pi.szWebDownloadUrl[i] = static_cast<WCHAR>(szUrl[i]);
}

// A signed 64-bit decimal text; a negative size means nothing and counts as 0.
ULONGLONG ReadTotFilesSize(LPCWSTR szFile)
{
    WCHAR szValue[TOTFILESIZE_CCH];
    GetPrivateProfileStringW(RUNTIME, L"TotFilesSize", L"0", szValue, TOTFILESIZE_CCH, szFile);
    __int64 llValue = _wcstoi64(szValue, nullptr, 10);
    return llValue > 0 ? static_cast<ULONGLONG>(llValue) : 0;
}

}  // namespace

void InitProjectInfo(RUNCONTEXT& ctx)
{
    PROJECTINFO& pi = ctx.project;
    ZeroMemory(&pi, sizeof(pi));
    // Fits.
    (void)StringCchCopyW(pi.szGuid, GUID_CCH, TRV_DEFAULT_GUID);
    pi.bCompress = 1;
    pi.uiCompressType = 0;
    pi.bDelFiles = 1;
    pi.bCopyToTemp = 1;
    pi.uiExeWinDisplay = 1;
    pi.bRestoreTree = 1;
    pi.bProgressBar = 1;
    pi.uiLaunchOptions = 1;
    pi.uiLanguageDefault = DEFAULT_LANGUAGE;

    DebugTrace(L"InitProjectInfo()->Compress=%d CompressType=%d", pi.bCompress, pi.uiCompressType);
    DebugTrace(L"InitProjectInfo()->ExeFileName=%s ExeCmdLine=%s LaunchOptions=%d",
               pi.szExeFileName, pi.szExeCmdLine, pi.uiLaunchOptions);
    DebugTrace(L"InitProjectInfo()->DelFiles=%d", pi.bDelFiles);
    DebugTrace(L"InitProjectInfo()->CopyToTemp=%d", pi.bCopyToTemp);
    DebugTrace(L"InitProjectInfo()->LaunchExe=%d AllowModifyDest=%d RestoreTree=%d", pi.bLaunchExe,
               pi.bAllowModifyDest, pi.bRestoreTree);
    DebugTrace(L"InitProjectInfo()->NeedReboot=%d", pi.bNeedReboot);
    DebugTrace(L"InitProjectInfo()->ExeWinDisplay=%d", pi.uiExeWinDisplay);
    DebugTrace(L"InitProjectInfo()->TgdFolder=%s", pi.szTgdFolder);
    DebugTrace(L"InitProjectInfo()->ProgressBar=%d StatusType=%d", pi.bProgressBar, pi.byStatusType);
    DebugTrace(L"InitProjectInfo()->StyleProgress=%d", pi.uiStyleProgress);
    DebugTrace(L"InitProjectInfo()->LanguageDefault=%d", pi.uiLanguageDefault);
    DebugTrace(L"InitProjectInfo()->TrayIcon=%d", pi.bTrayIcon);
    DebugTrace(L"InitProjectInfo()->RunScript=%d", pi.bRunScript);
    DebugTrace(L"InitProjectInfo()->ResumeSetup=%d", pi.bResumeSetup);

    ZeroMemory(&ctx.zkTools, sizeof(ctx.zkTools));
}

BOOL ReadConfigFile(RUNCONTEXT& ctx, LPCWSTR szConfigFile, WORD wLangParam)
{
    if (!szConfigFile || !szConfigFile[0])
        return FALSE;
    DWORD dwAttr = GetFileAttributesW(szConfigFile);
    if (dwAttr == INVALID_FILE_ATTRIBUTES || (dwAttr & FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    PROJECTINFO& pi = ctx.project;
    CProfileFile profile(szConfigFile, ctx.szTempTRV, L"ReadConfigFile()");
    LPCWSTR f = profile.Path();

    ReadText(GENERAL, L"Guid", pi.szGuid, GUID_CCH, FALSE, f);
    ReadText(GENERAL, L"ProductName", pi.szProductName, PATH_CCH, FALSE, f);
    ReadText(GENERAL, L"ProductName", ctx.szProductNameShort, SHORTTEXT_CCH, FALSE, f);
    ReadText(GENERAL, L"ProductVersion", ctx.szProductVersion, SHORTTEXT_CCH, FALSE, f);

    ReadInt(RUNTIME, L"CompressFiles", pi.bCompress, f);
    ReadInt(RUNTIME, L"CompressType", pi.uiCompressType, f);
    ReadInt(RUNTIME, L"DeleteFiles", pi.bDelFiles, f);
    ReadInt(RUNTIME, L"CopyToTemp", pi.bCopyToTemp, f);
    ReadInt(RUNTIME, L"Percent", pi.bPercent, f);
    ReadInt(RUNTIME, L"TrayIcon", pi.bTrayIcon, f);
    ReadText(RUNTIME, L"ExeFileName", pi.szExeFileName, PATH_CCH, TRUE, f);
    ReadTextAsWritten(RUNTIME, L"CmdLine", pi.szExeCmdLine, PATH_CCH, f);
    if (pi.bCopyToTemp == 0) {
        ReadText(RUNTIME, L"TargetFolder", pi.szTgdFolder, PATH_CCH, TRUE, f);
        ExpandPathVar(ctx, pi.szTgdFolder, PATH_CCH, pi.szTgdEmptyVars, TGD_EMPTYVARS_CCH);
    }
    ReadInt(RUNTIME, L"WindowStyle", pi.uiExeWinDisplay, f);
    ReadInt(RUNTIME, L"LaunchExe", pi.bLaunchExe, f);
    ReadInt(RUNTIME, L"ModifyDest", pi.bAllowModifyDest, f);
    ReadInt(RUNTIME, L"RestoreFolders", pi.bRestoreTree, f);
    ReadInt(RUNTIME, L"NeedReboot", pi.bNeedReboot, f);
    ReadInt(RUNTIME, L"NeedElevation", pi.bNeedElevation, f);
    ReadInt(RUNTIME, L"ProgressBar", pi.bProgressBar, f);
    ReadInt(RUNTIME, L"RunScript", pi.bRunScript, f);
    ReadInt(RUNTIME, L"ResumeSetup", pi.bResumeSetup, f);
    ReadText(RUNTIME, L"ScriptFile", pi.szScriptFile, PATH_CCH, FALSE, f);
    ReadWebDownloadUrl(pi, f);
    ReadInt(RUNTIME, L"ProgressBarStyle", pi.uiStyleProgress, f);
    ReadInt(RUNTIME, L"LaunchOptions", pi.uiLaunchOptions, f);
    ReadInt(RUNTIME, L"LanguageDefault", pi.uiLanguageDefault, f);
    pi.uiTotFilesSize = ReadTotFilesSize(f);

    ReadInt(DIALOGS, L"DialogInRun", pi.bDialogInRun, f);
    ReadText(DIALOGS, L"LicenseFile", pi.szLicenseFile, PATH_CCH, FALSE, f);
    DWORD dwStatusType = pi.byStatusType;
    ReadInt(DIALOGS, L"StatusType", dwStatusType, f);
    pi.byStatusType = static_cast<BYTE>(dwStatusType & 0xFF);

    ReadInt(ZKTOOLS, L"Toolbar", ctx.zkTools.bToolbar, f);
    ReadInt(ZKTOOLS, L"Zkcts", ctx.zkTools.bZkcts, f);
    ReadInt(ZKTOOLS, L"VEMZ", ctx.zkTools.bVEMZ, f);

    LANGID lcIDUser = GetUserDefaultLangID();
    LANGID lcIDSystem = GetSystemDefaultLangID();

    pi.szLangFileName[0] = L'\0';
    pi.uiLangIndex = 0;
    if (ReadLanguages(f, ctx.languages) > 0) {
        int index = ChooseLanguage(ctx.languages, wLangParam, lcIDUser, pi.uiLanguageDefault);
        if (index >= 0) {
            // Same capacity.
            (void)StringCchCopyW(pi.szLangFileName, PATH_CCH, ctx.languages[index].szFileName);
            pi.uiLangIndex = static_cast<DWORD>(index);
        }
    }

    WCHAR szFileName[PATH_CCH];
    GetPrivateProfileStringW(FILE1, L"Name", L"", szFileName, PATH_CCH, f);
    ctx.bFileList = szFileName[0] != L'\0';

    DebugTrace(L"ReadConfigFile()->ProductName=%s", pi.szProductName);
    DebugTrace(L"ReadConfigFile()->Compress=%d CompressType=%d", pi.bCompress, pi.uiCompressType);
    DebugTrace(L"ReadConfigFile()->ExeFileName=%s ExeCmdLine=%s LaunchOptions=%d",
               pi.szExeFileName, pi.szExeCmdLine, pi.uiLaunchOptions);
    DebugTrace(L"ReadConfigFile()->DelFiles=%d", pi.bDelFiles);
    DebugTrace(L"ReadConfigFile()->LaunchExe=%d AllowModifyDest=%d RestoreTree=%d", pi.bLaunchExe,
               pi.bAllowModifyDest, pi.bRestoreTree);
    DebugTrace(L"ReadConfigFile()->ExeWinDisplay=%d", pi.uiExeWinDisplay);
    DebugTrace(L"ReadConfigFile()->ProgressBar=%d", pi.bProgressBar);
    DebugTrace(L"ReadConfigFile()->StyleProgress=%d", pi.uiStyleProgress);
    DebugTrace(L"ReadConfigFile()->TgdFolder=%s", pi.szTgdFolder);
    DebugTrace(L"ReadConfigFile()->LanguageDefault=%d", pi.uiLanguageDefault);
    DebugTrace(L"ReadConfigFile()->lcID_user=%d lcID_system=%d", lcIDUser, lcIDSystem);
    DebugTrace(L"ReadConfigFile()->RunScript=%d", pi.bRunScript);
    DebugTrace(L"ReadConfigFile()->ResumeSetup=%d", pi.bResumeSetup);
    DebugTrace(L"ReadConfigFile()->Toolbar=%d Zkcts=%d VEMZ=%d", ctx.zkTools.bToolbar,
               ctx.zkTools.bZkcts, ctx.zkTools.bVEMZ);
    return TRUE;
}

