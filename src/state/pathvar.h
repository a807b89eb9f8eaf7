// Path variables: placeholders such as <PROGRAMFILES> or <TEMPTRV> in
// configuration values and script lines, replaced by their values.
#pragma once
#include <windows.h>
#include "common/capacity.h"

// System folders resolved once by InitPathVar(), without a trailing backslash.
enum PATHVAR_FOLDER {
    PV_WINDOWS,
    PV_SYSTEM,
    PV_SYSTEM16,
    PV_SYSTEM32,
    PV_SENDTO,
    PV_CURRENTDIR,
    PV_PROGRAMFILES,
    PV_PROGRAM_FILES_COMMON,
    PV_TEMP,  // <TEMPPATH> and <TEMP>
    PV_VIDEO_USER,
    PV_VIDEO_ALLUSERS,
    PV_MUSIC_USER,
    PV_MUSIC_ALLUSERS,
    PV_PICTURES_USER,
    PV_PICTURES_ALLUSERS,
    PV_PROGRAMS_USER,
    PV_PROGRAMS_ALLUSERS,
    PV_STARTMENU_USER,
    PV_STARTMENU_ALLUSERS,
    PV_STARTUP_USER,
    PV_STARTUP_ALLUSERS,
    PV_APPDATA,
    PV_COMMON_APPDATA,
    PV_LOCAL_APPDATA,
    PV_DOCUMENTS_USER,
    PV_DOCUMENTS_ALLUSERS,
    PV_DESKTOP_USER,
    PV_DESKTOP_ALLUSERS,
    PV_DOWNLOAD_USER,
    PV_DOWNLOAD_ALLUSERS,
    PV_FOLDER_COUNT
};

extern WCHAR g_szPathVar[PV_FOLDER_COUNT][PATH_CCH];

extern WCHAR ModuleFile[PATH_CCH];      // full path of the running program
extern WCHAR ModulePath[PATH_CCH];      // its folder
extern WCHAR ModuleFileName[PATH_CCH];  // its file name
extern WCHAR ConfigFile[PATH_CCH];      // ModuleFile with the extension ".cfg"

// Result text of the last script command that sets one: <FUNCTIONRETCODE>.
extern WCHAR g_szFunctionRetCode[PATH_CCH];

// Resolves the folder table and the module texts; logs every value.
void InitPathVar();

// Replaces every placeholder of szText (capacity cchText characters) in
// place. 1 when the text changed, 0 when it did not. szEmptyVars, when
// given, receives the placeholders of the text that stood for nothing
// ("<COMPANYNAME>", or "" when none did): a path built on one of them is
// not the path its author meant.
BOOL ExpandPathVar(LPWSTR szText, DWORD cchText, LPWSTR szEmptyVars = nullptr,
                   size_t cchEmptyVars = 0);

// Replaces every occurrence of szPlaceholder (case-sensitive) at or after
// dwStart by szValue; the result is cut to cchBuffer characters.
BOOL ReplaceAll(LPWSTR szBuffer, DWORD cchBuffer, LPCWSTR szPlaceholder, LPCWSTR szValue,
                DWORD dwStart);
