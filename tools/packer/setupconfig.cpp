#include "packer/setupconfig.h"
#include <stdlib.h>
#include "packer/packer.h"

namespace packer {
namespace {

const DWORD VALUE_CCH = 1024;
// The launcher reads [Languages] whole into a buffer of this size.
const DWORD LANGUAGES_CCH = 32765;

std::wstring Text(const std::wstring& path, const wchar_t* section, const wchar_t* key)
{
    WCHAR szValue[VALUE_CCH];
    GetPrivateProfileStringW(section, key, L"", szValue, VALUE_CCH, path.c_str());
    return szValue;
}

bool Flag(const std::wstring& path, const wchar_t* key, bool bDefault)
{
    return GetPrivateProfileIntW(L"Runtime", key, bDefault ? 1 : 0, path.c_str()) != 0;
}

}  // namespace

std::wstring FileNamePart(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

SETUPCONFIG ReadSetupConfig(const std::wstring& path)
{
    SETUPCONFIG config;
    config.licenseFile = Text(path, L"Dialogs", L"LicenseFile");
    config.bRunScript = Flag(path, L"RunScript", false);
    config.scriptFile = Text(path, L"Runtime", L"ScriptFile");
    config.dwLanguageDefault = GetPrivateProfileIntW(L"Runtime", L"LanguageDefault",
                                                     config.dwLanguageDefault, path.c_str());
    config.bLaunchExe = Flag(path, L"LaunchExe", false);
    config.exeFileName = Text(path, L"Runtime", L"ExeFileName");
    config.bRestoreFolders = Flag(path, L"RestoreFolders", true);
    config.bCopyToTemp = Flag(path, L"CopyToTemp", true);
    config.targetFolder = Text(path, L"Runtime", L"TargetFolder");

    std::vector<WCHAR> section(LANGUAGES_CCH);
    DWORD cch = GetPrivateProfileSectionW(L"Languages", section.data(), LANGUAGES_CCH, path.c_str());
    for (const WCHAR* p = section.data(); cch && *p; p += wcslen(p) + 1) {
        std::wstring line = p;
        size_t eq = line.find(L'=');
        LANGUAGELINE entry = {};
        entry.dwId = wcstoul(line.substr(0, eq).c_str(), nullptr, 10);
        if (eq != std::wstring::npos)
            entry.file = line.substr(eq + 1);
        config.languages.push_back(entry);
    }
    return config;
}

}  // namespace packer
