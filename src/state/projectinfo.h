// The project configuration record, filled once at start-up.
#pragma once
#include <windows.h>
#include "common/capacity.h"

struct PROJECTINFO {
    WCHAR szGuid[GUID_CCH];
    WCHAR szProductName[PATH_CCH];
    DWORD bCompress;
    DWORD uiCompressType;
    DWORD bDelFiles;
    DWORD bCopyToTemp;
    DWORD bLicense;
    DWORD bPercent;
    DWORD bTrayIcon;
    DWORD bDialogInRun;
    WCHAR szLicenseFile[PATH_CCH];
    WCHAR szExeFileName[PATH_CCH];
    WCHAR szExeCmdLine[PATH_CCH];
    WCHAR szTgdFolder[PATH_CCH];
    // The placeholders of TargetFolder that stood for nothing: a folder
    // built on them is not the one the package meant, and is refused.
    WCHAR szTgdEmptyVars[TGD_EMPTYVARS_CCH];
    DWORD uiExeWinDisplay;
    DWORD bLaunchExe;
    DWORD bAllowModifyDest;
    DWORD bRestoreTree;
    DWORD bNeedReboot;
    DWORD bNeedElevation;
    DWORD bProgressBar;
    DWORD bRunScript;
    DWORD bResumeSetup;
    WCHAR szScriptFile[PATH_CCH];
    WCHAR szWebDownloadUrl[PATH_CCH];
    BYTE byStatusType;
    DWORD uiStyleProgress;
    DWORD uiLaunchOptions;
    WCHAR szLangFileName[PATH_CCH];
    DWORD uiLanguageDefault;
    DWORD uiLangIndex;
    ULONGLONG uiTotFilesSize;
};
