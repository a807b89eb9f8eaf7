// What the packer reads from the launcher's configuration: the files it
// names, which the package must carry, and how the payload is unpacked.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace packer {

struct LANGUAGELINE {
    DWORD dwId;
    std::wstring file;  // may be empty: that language loads no library
};

struct SETUPCONFIG {
    std::wstring licenseFile;  // [Dialogs] LicenseFile
    bool bRunScript = false;   // [Runtime] RunScript, ScriptFile
    std::wstring scriptFile;
    std::vector<LANGUAGELINE> languages;  // [Languages], in file order
    DWORD dwLanguageDefault = 2057;       // [Runtime] LanguageDefault
    bool bLaunchExe = false;              // [Runtime] LaunchExe, ExeFileName
    std::wstring exeFileName;
    bool bRestoreFolders = true;  // [Runtime] RestoreFolders
    bool bCopyToTemp = true;      // [Runtime] CopyToTemp, TargetFolder
    std::wstring targetFolder;
};

// Read as the launcher reads it (profile functions, decimal numbers).
SETUPCONFIG ReadSetupConfig(const std::wstring& path);

// The part after the last "\" or "/".
std::wstring FileNamePart(const std::wstring& path);

}  // namespace packer
