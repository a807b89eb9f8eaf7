#include "state/pathvar.h"
#include <shlobj.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <memory>
#include <new>
#include "common/filesys.h"
#include "common/handles.h"
#include "common/osversion.h"
#include "common/sysdll.h"
#include "common/trace.h"
#include "state/state.h"

namespace {

enum : unsigned {
    NUMBER_CCH = 32,               // a formatted number or handle
    SETUPZK_CCH = 32,              // "/SETUPZK:4294967295"
};

const DWORD KNOWN_FOLDER_FLAGS = 0xD000;  // create, don't verify, no alias

// {374DE290-123F-4565-9164-39C4925E467B}
const GUID FOLDER_DOWNLOADS = {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
// {3D644C9B-1FB8-4f30-9B45-F670235F79C0}
const GUID FOLDER_PUBLIC_DOWNLOADS = {0x3D644C9B, 0x1FB8, 0x4F30, {0x9B, 0x45, 0xF6, 0x70, 0x23, 0x5F, 0x79, 0xC0}};

typedef HRESULT(WINAPI* PFN_SHGETFOLDERPATHW)(HWND, int, HANDLE, DWORD, LPWSTR);
typedef HRESULT(WINAPI* PFN_SHGETKNOWNFOLDERPATH)(REFGUID, DWORD, HANDLE, PWSTR*);

// Folder ids in the order they are asked for.
struct CSIDLFOLDER {
    int iCsidl;
    PATHVAR_FOLDER folder;
};
const CSIDLFOLDER CSIDL_FOLDERS[] = {
    {CSIDL_COMMON_APPDATA, PV_COMMON_APPDATA},
    {CSIDL_SENDTO, PV_SENDTO},
    {CSIDL_PROGRAM_FILES, PV_PROGRAMFILES},
    {CSIDL_APPDATA, PV_APPDATA},
    {CSIDL_LOCAL_APPDATA, PV_LOCAL_APPDATA},
    {CSIDL_COMMON_STARTUP, PV_STARTUP_ALLUSERS},
    {CSIDL_STARTUP, PV_STARTUP_USER},
    {CSIDL_COMMON_DOCUMENTS, PV_DOCUMENTS_ALLUSERS},
    {CSIDL_PERSONAL, PV_DOCUMENTS_USER},
    {CSIDL_COMMON_DESKTOPDIRECTORY, PV_DESKTOP_ALLUSERS},
    {CSIDL_DESKTOPDIRECTORY, PV_DESKTOP_USER},
    {CSIDL_PROGRAM_FILES_COMMON, PV_PROGRAM_FILES_COMMON},
    {CSIDL_COMMON_STARTMENU, PV_STARTMENU_ALLUSERS},
    {CSIDL_STARTMENU, PV_STARTMENU_USER},
    {CSIDL_COMMON_PROGRAMS, PV_PROGRAMS_ALLUSERS},
    {CSIDL_PROGRAMS, PV_PROGRAMS_USER},
    {CSIDL_COMMON_VIDEO, PV_VIDEO_ALLUSERS},
    {CSIDL_MYVIDEO, PV_VIDEO_USER},
    {CSIDL_COMMON_MUSIC, PV_MUSIC_ALLUSERS},
    {CSIDL_MYMUSIC, PV_MUSIC_USER},
    {CSIDL_COMMON_PICTURES, PV_PICTURES_ALLUSERS},
    {CSIDL_MYPICTURES, PV_PICTURES_USER},
};

// Folder values in the order they are logged.
struct FOLDERLABEL {
    LPCWSTR szLabel;
    PATHVAR_FOLDER folder;
};
const FOLDERLABEL FOLDER_LOG[] = {
    {L"<WINDOWS>", PV_WINDOWS},
    {L"<WINSYS>", PV_SYSTEM},
    {L"<CURRENTDIR>", PV_CURRENTDIR},
    {L"<TEMP>", PV_TEMP},
    {L"<SENDTO>", PV_SENDTO},
    {L"<PROGRAMFILES>", PV_PROGRAMFILES},
    {L"<PROGRAM_FILES_COMMON>", PV_PROGRAM_FILES_COMMON},
    {L"<VIDEO_USER>", PV_VIDEO_USER},
    {L"<VIDEO_ALLUSERS>", PV_VIDEO_ALLUSERS},
    {L"<MUSIC_USER>", PV_MUSIC_USER},
    {L"<MUSIC_ALLUSERS>", PV_MUSIC_ALLUSERS},
    {L"<PICTURES_USER>", PV_PICTURES_USER},
    {L"<PICTURES_ALLUSERS>", PV_PICTURES_ALLUSERS},
    {L"<PROGRAMS_USER>", PV_PROGRAMS_USER},
    {L"<PROGRAMS_ALLUSERS>", PV_PROGRAMS_ALLUSERS},
    {L"<STARTMENU_USER>", PV_STARTMENU_USER},
    {L"<STARTMENU_ALLUSERS>", PV_STARTMENU_ALLUSERS},
    {L"<STARTUP_USER>", PV_STARTUP_USER},
    {L"<STARTUP_ALLUSERS>", PV_STARTUP_ALLUSERS},
    {L"<APPDATA>", PV_APPDATA},
    {L"<COMMON_APPDATA>", PV_COMMON_APPDATA},
    {L"<LOCAL_APPDATA>", PV_LOCAL_APPDATA},
    {L"<DOCUMENTS_USER>", PV_DOCUMENTS_USER},
    {L"<DOCUMENTS_ALLUSERS>", PV_DOCUMENTS_ALLUSERS},
    {L"<DESKTOP_USER>", PV_DESKTOP_USER},
    {L"<DESKTOP_ALLUSERS>", PV_DESKTOP_ALLUSERS},
    {L"<DOWNLOAD_USER>", PV_DOWNLOAD_USER},
    {L"<DOWNLOAD_ALLUSERS>", PV_DOWNLOAD_ALLUSERS},
};

// Where a placeholder's value comes from.
enum VALUESOURCE {
    VS_FOLDER,    // the folder table
    VS_TEXT,      // a text of the run's context, read at each expansion
    VS_EXITCODE,  // ExitCode(), "%d"
    VS_HWND,      // the status window, "%p"
    VS_SETUPZK,   // "/SETUPZK:%u" of the status window, Vista and later
    VS_EMPTY,
};

typedef LPCWSTR (*TEXTOF)(const RUNCONTEXT& ctx);

struct PLACEHOLDER {
    LPCWSTR szName;
    VALUESOURCE source;
    PATHVAR_FOLDER folder;
    TEXTOF pfnText;
};

// Replaced in this order: a value is searched by the later placeholders only.
const PLACEHOLDER PLACEHOLDERS[] = {
    {L"<WINDOWS>", VS_FOLDER, PV_WINDOWS, nullptr},
    {L"<SYSTEM>", VS_FOLDER, PV_SYSTEM, nullptr},
    {L"<SYSTEM16>", VS_FOLDER, PV_SYSTEM16, nullptr},
    {L"<SYSTEM32>", VS_FOLDER, PV_SYSTEM32, nullptr},
    {L"<SENDTO>", VS_FOLDER, PV_SENDTO, nullptr},
    {L"<CURRENTDIR>", VS_FOLDER, PV_CURRENTDIR, nullptr},
    {L"<PROGRAMFILES>", VS_FOLDER, PV_PROGRAMFILES, nullptr},
    {L"<PROGRAM_FILES_COMMON>", VS_FOLDER, PV_PROGRAM_FILES_COMMON, nullptr},
    {L"<TEMPPATH>", VS_FOLDER, PV_TEMP, nullptr},
    {L"<TEMP>", VS_FOLDER, PV_TEMP, nullptr},
    {L"<VIDEO_USER>", VS_FOLDER, PV_VIDEO_USER, nullptr},
    {L"<VIDEO_ALLUSERS>", VS_FOLDER, PV_VIDEO_ALLUSERS, nullptr},
    {L"<MUSIC_USER>", VS_FOLDER, PV_MUSIC_USER, nullptr},
    {L"<MUSIC_ALLUSERS>", VS_FOLDER, PV_MUSIC_ALLUSERS, nullptr},
    {L"<PICTURES_USER>", VS_FOLDER, PV_PICTURES_USER, nullptr},
    {L"<PICTURES_ALLUSERS>", VS_FOLDER, PV_PICTURES_ALLUSERS, nullptr},
    {L"<PROGRAMS_USER>", VS_FOLDER, PV_PROGRAMS_USER, nullptr},
    {L"<PROGRAMS_ALLUSERS>", VS_FOLDER, PV_PROGRAMS_ALLUSERS, nullptr},
    {L"<STARTMENU_USER>", VS_FOLDER, PV_STARTMENU_USER, nullptr},
    {L"<STARTMENU_ALLUSERS>", VS_FOLDER, PV_STARTMENU_ALLUSERS, nullptr},
    {L"<STARTUP_USER>", VS_FOLDER, PV_STARTUP_USER, nullptr},
    {L"<STARTUP_ALLUSERS>", VS_FOLDER, PV_STARTUP_ALLUSERS, nullptr},
    {L"<APPDATA>", VS_FOLDER, PV_APPDATA, nullptr},
    {L"<COMMON_APPDATA>", VS_FOLDER, PV_COMMON_APPDATA, nullptr},
    {L"<LOCAL_APPDATA>", VS_FOLDER, PV_LOCAL_APPDATA, nullptr},
    {L"<DOCUMENTS_USER>", VS_FOLDER, PV_DOCUMENTS_USER, nullptr},
    {L"<DOCUMENTS_ALLUSERS>", VS_FOLDER, PV_DOCUMENTS_ALLUSERS, nullptr},
    {L"<DESKTOP_USER>", VS_FOLDER, PV_DESKTOP_USER, nullptr},
    {L"<DESKTOP_ALLUSERS>", VS_FOLDER, PV_DESKTOP_ALLUSERS, nullptr},
    {L"<DOWNLOAD_USER>", VS_FOLDER, PV_DOWNLOAD_USER, nullptr},
    {L"<DOWNLOAD_ALLUSERS>", VS_FOLDER, PV_DOWNLOAD_ALLUSERS, nullptr},
    {L"<TEMPTRV>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szTempTRV; }},
    {L"<TARGETDIR>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.project.szTgdFolder; }},
    {L"<DISPLAYNAME>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szTitle; }},
    {L"<%P>", VS_TEXT, PV_FOLDER_COUNT, [](const RUNCONTEXT& c) -> LPCWSTR { return c.szTitle; }},
    {L"<EXECUTERETCODE>", VS_EXITCODE, PV_FOLDER_COUNT, nullptr},
    {L"<FUNCTIONRETCODE>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szFunctionRetCode; }},
    {L"<PRODUCTEXE>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.project.szExeFileName; }},
    {L"<PRODUCTGUID>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.project.szGuid; }},
    {L"<PRODUCTNAME>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szProductNameShort; }},
    {L"<PRODUCTVERSION>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szProductVersion; }},
    {L"<COMPANYNAME>", VS_EMPTY, PV_FOLDER_COUNT, nullptr},
    {L"<PARAMS>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szCmdLine; }},
    {L"<HWND_TRV>", VS_HWND, PV_FOLDER_COUNT, nullptr},
    {L"<PATH_TRV>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szModulePath; }},
    {L"<FILE_TRV>", VS_TEXT, PV_FOLDER_COUNT,
     [](const RUNCONTEXT& c) -> LPCWSTR { return c.szModuleFile; }},
    {L"<SETUPZK>", VS_SETUPZK, PV_FOLDER_COUNT, nullptr},
};

// Keeps a folder the system returned; one that does not fit stays empty.
void StoreFolder(RUNCONTEXT& ctx, PATHVAR_FOLDER folder, LPCWSTR szValue)
{
    WCHAR* szEntry = ctx.szFolders[folder];
    if (FAILED(StringCchCopyW(szEntry, PATH_CCH, szValue))) {
        szEntry[0] = L'\0';
        return;
    }
    RemoveTrailingBackslash(szEntry);
}

// For the GetXxxDirectory family: the length, 0 on failure, or the size
// needed when the buffer is too small.
void StoreSystemFolder(RUNCONTEXT& ctx, PATHVAR_FOLDER folder, DWORD cch, const WCHAR* szValue)
{
    if (cch == 0 || cch >= PATH_CCH)
        ctx.szFolders[folder][0] = L'\0';
    else
        StoreFolder(ctx, folder, szValue);
}

void FillShellFolders(RUNCONTEXT& ctx)
{
    // shfolder forwards to shell32, and a forward is looked for along the
    // plain search path unless its library is loaded already: load it from
    // the system folder first.
    CModule shell(LoadSystemLibrary(L"shell32.dll"));
    HMODULE hShFolder = LoadSystemLibrary(L"shfolder.dll");
    if (!hShFolder)
        return;
    auto pSHGetFolderPathW = reinterpret_cast<PFN_SHGETFOLDERPATHW>(
        reinterpret_cast<void*>(GetProcAddress(hShFolder, "SHGetFolderPathW")));
    if (pSHGetFolderPathW) {
        for (const CSIDLFOLDER& entry : CSIDL_FOLDERS) {
            WCHAR szPath[MAX_PATH] = L"";
            HRESULT hr = pSHGetFolderPathW(nullptr, entry.iCsidl | CSIDL_FLAG_CREATE, nullptr,
                                           SHGFP_TYPE_CURRENT, szPath);
            if (SUCCEEDED(hr))
                StoreFolder(ctx, entry.folder, szPath);
        }
    }
    FreeLibrary(hShFolder);
}

void FillKnownFolders(RUNCONTEXT& ctx)
{
    HMODULE hShell = LoadSystemLibrary(L"shell32.dll");
    if (!hShell)
        return;
    auto pSHGetKnownFolderPath = reinterpret_cast<PFN_SHGETKNOWNFOLDERPATH>(
        reinterpret_cast<void*>(GetProcAddress(hShell, "SHGetKnownFolderPath")));
    if (pSHGetKnownFolderPath) {
        const struct {
            const GUID* pId;
            PATHVAR_FOLDER folder;
        } known[] = {{&FOLDER_PUBLIC_DOWNLOADS, PV_DOWNLOAD_ALLUSERS}, {&FOLDER_DOWNLOADS, PV_DOWNLOAD_USER}};
        for (const auto& entry : known) {
            PWSTR pszPath = nullptr;
            HRESULT hr = pSHGetKnownFolderPath(*entry.pId, KNOWN_FOLDER_FLAGS, nullptr, &pszPath);
            if (SUCCEEDED(hr) && pszPath)
                StoreFolder(ctx, entry.folder, pszPath);
            CoTaskMemFree(pszPath);
        }
    }
    FreeLibrary(hShell);
}

}  // namespace

void InitPathVar(RUNCONTEXT& ctx)
{
    WCHAR szBuffer[PATH_CCH];

    StoreSystemFolder(ctx, PV_WINDOWS, GetWindowsDirectoryW(szBuffer, PATH_CCH), szBuffer);
    StoreSystemFolder(ctx, PV_SYSTEM, GetSystemDirectoryW(szBuffer, PATH_CCH), szBuffer);
    StoreSystemFolder(ctx, PV_CURRENTDIR, GetCurrentDirectoryW(PATH_CCH, szBuffer), szBuffer);
    StoreSystemFolder(ctx, PV_TEMP, GetTempPathW(PATH_CCH, szBuffer), szBuffer);

    // 16-bit and 32-bit system folders: "system" and "system32" of the
    // Windows folder, one of which is the system folder itself.
    const WCHAR* szWindows = ctx.szFolders[PV_WINDOWS];
    WCHAR* szSystem16 = ctx.szFolders[PV_SYSTEM16];
    WCHAR* szSystem32 = ctx.szFolders[PV_SYSTEM32];
    szSystem16[0] = szSystem32[0] = L'\0';
    if (CheckWinNT()) {
        if (szWindows[0] && FAILED(StringCchPrintfW(szSystem16, PATH_CCH, L"%s\\system", szWindows)))
            szSystem16[0] = L'\0';
        // Same capacity.
        (void)StringCchCopyW(szSystem32, PATH_CCH, ctx.szFolders[PV_SYSTEM]);
    } else {
        (void)StringCchCopyW(szSystem16, PATH_CCH, ctx.szFolders[PV_SYSTEM]);
        if (szWindows[0] && FAILED(StringCchPrintfW(szSystem32, PATH_CCH, L"%s\\system32", szWindows)))
            szSystem32[0] = L'\0';
    }

    FillShellFolders(ctx);
    FillKnownFolders(ctx);
    // Before the known folders existed, downloads went to the desktop.
    if (!ctx.szFolders[PV_DOWNLOAD_ALLUSERS][0])
        (void)StringCchCopyW(ctx.szFolders[PV_DOWNLOAD_ALLUSERS], PATH_CCH,
                             ctx.szFolders[PV_DESKTOP_ALLUSERS]);
    if (!ctx.szFolders[PV_DOWNLOAD_USER][0])
        (void)StringCchCopyW(ctx.szFolders[PV_DOWNLOAD_USER], PATH_CCH,
                             ctx.szFolders[PV_DESKTOP_USER]);

    DWORD cch = GetModuleFileNameW(nullptr, ctx.szModuleFile, PATH_CCH);
    if (cch == 0 || cch >= PATH_CCH)
        ctx.szModuleFile[0] = L'\0';
    (void)StringCchCopyW(ctx.szModulePath, PATH_CCH, ctx.szModuleFile);
    PathRemoveFileSpecW(ctx.szModulePath);
    (void)StringCchCopyW(ctx.szModuleFileName, PATH_CCH, ctx.szModuleFile);
    PathStripPathW(ctx.szModuleFileName);
    (void)StringCchCopyW(ctx.szConfigFile, PATH_CCH, ctx.szModuleFile);
    if (ctx.szConfigFile[0] && !PathRenameExtensionW(ctx.szConfigFile, L".cfg"))
        ctx.szConfigFile[0] = L'\0';

    for (const FOLDERLABEL& entry : FOLDER_LOG)
        DebugTrace(L"InitPathVar()->%s=%s", entry.szLabel, ctx.szFolders[entry.folder]);
    DebugTrace(L"InitPathVar()->ModuleFile=%s", ctx.szModuleFile);
    DebugTrace(L"InitPathVar()->ModulePath=%s", ctx.szModulePath);
    DebugTrace(L"InitPathVar()->ModuleFileName=%s", ctx.szModuleFileName);
    DebugTrace(L"InitPathVar()->ConfigFile=%s", ctx.szConfigFile);
}

BOOL ReplaceAll(LPWSTR szBuffer, DWORD cchBuffer, LPCWSTR szPlaceholder, LPCWSTR szValue,
                DWORD dwStart)
{
    if (!szBuffer || cchBuffer == 0 || !szPlaceholder || !szPlaceholder[0])
        return TRUE;
    const size_t cchText = wcsnlen(szBuffer, cchBuffer);
    std::unique_ptr<WCHAR[]> source(new (std::nothrow) WCHAR[cchText + 1]);
    if (!source)
        return TRUE;  // out of memory: the buffer stays as it was
    wmemcpy(source.get(), szBuffer, cchText);
    source[cchText] = L'\0';
    const size_t cchPlaceholder = wcslen(szPlaceholder);
    if (!szValue)
        szValue = L"";
    // The result is written over the buffer as the text is read. The search
    // resumes after each inserted value, so a value holding its own
    // placeholder is taken as it stands; nothing beyond the capacity
    // survives, so the search stops there.
    size_t cchOut = 0;
    const size_t cchMax = cchBuffer - 1;
    for (size_t i = 0; i < cchText && cchOut < cchMax;) {
        if (i >= dwStart && wcsncmp(source.get() + i, szPlaceholder, cchPlaceholder) == 0) {
            for (LPCWSTR p = szValue; *p && cchOut < cchMax; ++p)
                szBuffer[cchOut++] = *p;
            i += cchPlaceholder;
        } else {
            szBuffer[cchOut++] = source[i++];
        }
    }
    szBuffer[cchOut] = L'\0';
    return TRUE;
}

BOOL ExpandPathVar(const RUNCONTEXT& ctx, LPWSTR szText, DWORD cchText, LPWSTR szEmptyVars,
                   size_t cchEmptyVars)
{
    if (szEmptyVars && cchEmptyVars)
        szEmptyVars[0] = L'\0';
    if (!szText || cchText == 0)
        return FALSE;
    const size_t cchOriginal = wcsnlen(szText, cchText);
    if (!wmemchr(szText, L'<', cchOriginal))
        return FALSE;

    // The work buffer holds 1024 characters, or more than the caller's
    // buffer when that is larger (a command line of 8000): a text is
    // never cut before expansion. What overflows is cut, and the result
    // is cut again to the caller's capacity.
    const DWORD cchWork =
        cchText >= EXPAND_WORK_CCH ? cchText + 1 : static_cast<DWORD>(EXPAND_WORK_CCH);
    std::unique_ptr<WCHAR[]> buffer(new (std::nothrow) WCHAR[cchWork]);
    if (!buffer)
        return FALSE;  // out of memory: the text stays as it was
    WCHAR* szWork = buffer.get();
    // The work buffer is larger than the text.
    (void)StringCchCopyNW(szWork, cchWork, szText, cchOriginal);

    WCHAR szNumber[NUMBER_CCH];
    for (const PLACEHOLDER& entry : PLACEHOLDERS) {
        LPCWSTR szValue = L"";
        switch (entry.source) {
        case VS_FOLDER:
            szValue = ctx.szFolders[entry.folder];
            break;
        case VS_TEXT:
            szValue = entry.pfnText(ctx);
            break;
        case VS_EMPTY:
            break;
        case VS_EXITCODE:
            if (!wcsstr(szWork, entry.szName))
                continue;
            // A number fits.
            (void)StringCchPrintfW(szNumber, NUMBER_CCH, L"%d", static_cast<int>(ExitCode()));
            szValue = szNumber;
            break;
        case VS_HWND:
            if (!wcsstr(szWork, entry.szName))
                continue;
            // Eight hex digits from either launcher: window handles fit in 32
            // bits on 64-bit Windows too, and a setup program of either
            // architecture reads the same text.
            (void)StringCchPrintfW(szNumber, NUMBER_CCH, L"%08X",
                                   static_cast<unsigned>(reinterpret_cast<UINT_PTR>(g_hStatusWnd)));
            szValue = szNumber;
            break;
        case VS_SETUPZK:
            if (!wcsstr(szWork, entry.szName))
                continue;
            szNumber[0] = L'\0';
            if (IsVistaOrMore())
                (void)StringCchPrintfW(
                    szNumber, SETUPZK_CCH, L"/SETUPZK:%u",
                    static_cast<unsigned>(reinterpret_cast<UINT_PTR>(g_hStatusWnd)));
            szValue = szNumber;
            break;
        }
        if (szEmptyVars && !*szValue && wcsstr(szWork, entry.szName)) {
            if (*szEmptyVars)
                // Only named in a refusal.
                (void)StringCchCatW(szEmptyVars, cchEmptyVars, L" ");
            (void)StringCchCatW(szEmptyVars, cchEmptyVars, entry.szName);
        }
        ReplaceAll(szWork, cchWork, entry.szName, szValue, 0);
    }

    const size_t cchResult = wcsnlen(szWork, cchWork);
    if (cchResult == cchOriginal && wmemcmp(szWork, szText, cchResult) == 0)
        return FALSE;
    if (cchResult >= cchText)
        DebugTrace(L"ExpandPathVar()->text cut to %u characters", static_cast<unsigned>(cchText - 1));
    // A cut is traced above.
    (void)StringCchCopyNW(szText, cchText, szWork, cchResult);
    return TRUE;
}
