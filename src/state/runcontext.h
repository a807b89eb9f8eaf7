// What a run knows: the package's configuration, read once at start-up,
// and the places and texts the run works with. RunLauncher owns the one
// context of a run and hands it to whatever needs it; nothing of it is
// process-wide.
#pragma once
#include <windows.h>
#include <vector>
#include "common/capacity.h"
#include "state/projectinfo.h"

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

// Switches of the marketing add-ons, read and kept only.
struct ZKTOOLSINFO {
    DWORD bToolbar;  // [ZKTools] Toolbar
    DWORD bZkcts;    // [ZKTools] Zkcts: product-tracking copy
    DWORD bVEMZ;     // [ZKTools] VEMZ: in-app message zone
};

struct LanguageEntry {
    WCHAR szFileName[PATH_CCH];  // "EnglishUS.lng"; empty when the line has no "="
    DWORD lcID;                  // 1033, 1036 ...
};

struct RUNCONTEXT {
    // The configuration: defaults, the file over them, then the options
    // of the command line; only read once the setup phase starts.
    PROJECTINFO project = {};
    ZKTOOLSINFO zkTools = {};
    BOOL bFileList = FALSE;                         // [File 1] Name present
    WCHAR szProductNameShort[SHORTTEXT_CCH] = L"";  // <PRODUCTNAME>
    WCHAR szProductVersion[SHORTTEXT_CCH] = L"";    // <PRODUCTVERSION>
    // The package's languages in configuration order; one entry at least
    // once the configuration was read.
    std::vector<LanguageEntry> languages;

    // The program and the system's folders, resolved by InitPathVar.
    WCHAR szFolders[PV_FOLDER_COUNT][PATH_CCH] = {};
    WCHAR szModuleFile[PATH_CCH] = L"";      // full path of the running program
    WCHAR szModulePath[PATH_CCH] = L"";      // its folder
    WCHAR szModuleFileName[PATH_CCH] = L"";  // its file name
    WCHAR szConfigFile[PATH_CCH] = L"";      // ModuleFile with the extension ".cfg"

    WCHAR szCmdLine[CMDLINE_CCH] = L"";  // the program's command line; also <PARAMS>
    WCHAR szTempTRV[PATH_CCH] = L"";     // <TEMP>\{A6E044B8-...}
    WCHAR szDataPath[PATH_CCH] = L"";    // project data folder
    WCHAR szTitle[TITLE_CCH] = L"";      // window and message title
    WCHAR szExeFile[PATH_CCH] = L"";     // setup program to launch

    // Result text of the last script command that sets one: <FUNCTIONRETCODE>.
    WCHAR szFunctionRetCode[PATH_CCH] = L"";
};
