// The project configuration: defaults and the INI reader.
#pragma once
#include <windows.h>

enum : unsigned {
    TOTFILESIZE_CCH = 260,         // [Runtime] TotFilesSize read as text
};

// Switches of the marketing add-ons, read and kept only.
struct ZKTOOLSINFO {
    DWORD bToolbar;  // [ZKTools] Toolbar
    DWORD bZkcts;    // [ZKTools] Zkcts: product-tracking copy
    DWORD bVEMZ;     // [ZKTools] VEMZ: in-app message zone
};
extern ZKTOOLSINFO g_ZKToolsInfo;

// Zero-fills g_ProjectInfo, sets its defaults and logs them.
void InitProjectInfo();

// Overlays the configuration file on the defaults, reads the language list
// and chooses the language (wLangParam: the one -LANG: asks for, 0 for
// none). 0 when the file does not exist, 1 after reading.
[[nodiscard]] BOOL ReadConfigFile(LPCWSTR szConfigFile, WORD wLangParam);
