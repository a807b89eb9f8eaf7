// Where the launcher looks for each file at run time decides where the
// packer looks for it now:
//   LicenseFile     its file name, in the chosen language's pack or Neutral.001
//   ScriptFile      its file name, in the scratch folder: a neutral file, or
//                   the payload when it is unpacked there (TargetFolder=<TEMPTRV>)
//   [Languages]     NAME.lng, in the language pack
//   ExeFileName     relative to the target folder: among the unpacked payload
//   QELTRON.dll     a neutral file, for PAC archives
//   FrameShape      the skin's frame file, beside Corvel.thm in the skin pack
#include "packer/checks.h"
#include <stdio.h>
#include <algorithm>
#include "packer/archivelist.h"

namespace packer {

const char ALLOW_MISSING_KEYS[] = "LicenseFile, ScriptFile, Languages, ExeFileName, QELTRON.dll, FrameShape";

namespace {

const wchar_t* const KEYS[] = {L"LicenseFile", L"ScriptFile", L"Languages",
                               L"ExeFileName", L"QELTRON.dll", L"FrameShape"};
const wchar_t PAC_LIBRARY[] = L"QELTRON.dll";
const wchar_t THEME_FILE[] = L"Corvel.thm";
const wchar_t TEMPTRV[] = L"<TEMPTRV>";

struct MISSING {
    std::wstring key;
    std::wstring text;
};

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool HasFileNamed(const std::vector<std::wstring>& files, const std::wstring& name)
{
    for (const std::wstring& file : files)
        if (SameName(FileNamePart(file), name))
            return true;
    return false;
}

// "sub/x.exe", ".\sub\x.exe" -> "sub\x.exe"
std::wstring Normal(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'/', L'\\');
    while (path.size() > 2 && path.compare(0, 2, L".\\") == 0)
        path.erase(0, 2);
    return path;
}

// The files the payload leaves in the target folder, as relative paths.
// bComplete is false when some item's content cannot be known (a web
// archive without its source, a cabinet set, an unknown format).
struct LANDED {
    std::vector<std::wstring> files;
    bool bComplete = true;
};

void AddArchive(const std::wstring& path, bool bRestoreFolders, LANDED& landed)
{
    ARCHIVELISTING listing = ListArchive(path);
    if (!listing.bComplete) {
        landed.bComplete = false;
        return;
    }
    // ZIP members land flat; cabinets keep their folders unless told not
    // to; PAC archives always do.
    bool bFlat = listing.kind == ArchiveKind::Zip ||
                 (listing.kind == ArchiveKind::Cabinet && !bRestoreFolders);
    for (const std::wstring& name : listing.files)
        landed.files.push_back(bFlat ? FileNamePart(name) : Normal(name));
}

LANDED PayloadFiles(const PROJECT& project, const SETUPCONFIG& config)
{
    LANDED landed;
    for (const ITEM& item : project.items) {
        std::wstring name = item.name.empty() ? (item.file.empty() ? FileNamePart(item.source)
                                                                   : item.file)
                                              : item.name;
        switch (item.kind) {
        case ItemKind::Folder:
            if (IsFolder(item.source))
                for (const std::wstring& rel : ListFolder(item.source))
                    landed.files.push_back(config.bRestoreFolders ? rel : FileNamePart(rel));
            break;
        case ItemKind::Archive:
        case ItemKind::External:
        case ItemKind::Web:
            if (item.source.empty() || !IsFile(item.source))
                landed.bComplete = false;
            else
                AddArchive(item.source, config.bRestoreFolders, landed);
            break;
        case ItemKind::Stored:
        case ItemKind::ExternalStored:
        case ItemKind::WebStored:
            landed.files.push_back(Normal(name));
            break;
        }
    }
    if (!project.resources.dataArchive.empty()) {
        if (IsFile(project.resources.dataArchive))
            AddArchive(project.resources.dataArchive, config.bRestoreFolders, landed);
        else
            landed.bComplete = false;
    }
    return landed;
}

bool Contains(const std::vector<std::wstring>& files, const std::wstring& path)
{
    for (const std::wstring& file : files)
        if (SameName(file, path))
            return true;
    return false;
}

bool IsRelativePath(const std::wstring& path)
{
    return !path.empty() && path.find(L'<') == std::wstring::npos &&
           !(path.size() >= 2 && path[1] == L':') && path[0] != L'\\' && path[0] != L'/';
}

bool UnpacksIntoScratch(const SETUPCONFIG& config)
{
    std::wstring target = config.targetFolder;
    while (!target.empty() && (target.back() == L'\\' || target.back() == L'/'))
        target.pop_back();
    return !config.bCopyToTemp && SameName(target, TEMPTRV);
}

std::wstring Num(DWORD dw)
{
    return std::to_wstring(dw);
}

void CheckLanguages(const PROJECT& project, const SETUPCONFIG& config, std::vector<MISSING>& out)
{
    for (const LANGUAGELINE& line : config.languages) {
        std::wstring name = FileNamePart(line.file);
        if (name.empty() || HasFileNamed(project.resources.languages, name))
            continue;
        out.push_back({L"Languages", L"[Languages] " + Num(line.dwId) + L"=" + line.file + L": " +
                                         name + L" is not packed (--language " + name + L")"});
    }
}

void CheckLicense(const PROJECT& project, const SETUPCONFIG& config, std::vector<MISSING>& out)
{
    if (config.licenseFile.empty())
        return;
    std::wstring name = FileNamePart(config.licenseFile);
    std::wstring head = L"[Dialogs] LicenseFile=" + config.licenseFile + L": ";
    bool bNeutral = HasFileNamed(project.resources.neutralFiles, name);
    bool bPerLanguage = false;
    for (const LICENSE& license : project.licenses) {
        bNeutral |= license.dwLanguage == 0;
        bPerLanguage |= license.dwLanguage != 0;
    }
    if (bNeutral)
        return;
    if (!bPerLanguage) {
        out.push_back({L"LicenseFile", head + L"not packed (--neutral " + name +
                                           L", or --license [ID=]FILE)"});
        return;
    }
    // Each language the run may choose needs its own, and a run that
    // chooses none (the default language is not listed) gets none.
    std::wstring without;
    bool bDefaultListed = false;
    for (const LANGUAGELINE& line : config.languages) {
        bDefaultListed |= line.dwId == config.dwLanguageDefault;
        bool bHas = false;
        for (const LICENSE& license : project.licenses)
            bHas |= license.dwLanguage == line.dwId && !line.file.empty();
        if (!bHas)
            without += (without.empty() ? L"" : L", ") + Num(line.dwId);
    }
    if (!without.empty())
        out.push_back({L"LicenseFile", head + L"not packed for " + without +
                                           L" (--license ID=FILE, or --license FILE for all)"});
    if (!bDefaultListed)
        out.push_back({L"LicenseFile", head + L"not packed for a user whose language is not "
                                              L"listed (LanguageDefault=" +
                                           Num(config.dwLanguageDefault) +
                                           L" is not in [Languages]; --license FILE)"});
}

void CheckScript(const PROJECT& project, const SETUPCONFIG& config, const LANDED& landed,
                 std::vector<MISSING>& out)
{
    if (!config.bRunScript)
        return;
    if (config.scriptFile.empty()) {
        out.push_back({L"ScriptFile", L"[Runtime] RunScript=1 names no ScriptFile"});
        return;
    }
    std::wstring name = FileNamePart(config.scriptFile);
    if (HasFileNamed(project.resources.neutralFiles, name))
        return;
    if (UnpacksIntoScratch(config) && Contains(landed.files, name))
        return;
    out.push_back({L"ScriptFile", L"[Runtime] ScriptFile=" + config.scriptFile + L": " + name +
                                      L" is not packed (--neutral " + name + L")"});
}

void CheckSetupProgram(const SETUPCONFIG& config, const LANDED& landed, std::vector<MISSING>& out)
{
    // A path with placeholders or an absolute one is the machine's, not
    // the payload's.
    if (!config.bLaunchExe || !IsRelativePath(config.exeFileName) || !landed.bComplete)
        return;
    if (Contains(landed.files, Normal(config.exeFileName)))
        return;
    out.push_back({L"ExeFileName", L"[Runtime] ExeFileName=" + config.exeFileName +
                                       L": not in the payload" +
                                       (config.bRestoreFolders ? L"" : L" (RestoreFolders=0 unpacks flat)")});
}

bool IsPac(const std::wstring& path)
{
    return !path.empty() && IsFile(path) && ListArchive(path).kind == ArchiveKind::Pac;
}

void CheckPacUnpacker(const PROJECT& project, std::vector<MISSING>& out)
{
    if (HasFileNamed(project.resources.neutralFiles, PAC_LIBRARY))
        return;
    std::wstring pac;
    for (const ITEM& item : project.items) {
        bool bArchive = item.kind == ItemKind::Archive || item.kind == ItemKind::External ||
                        item.kind == ItemKind::Web;
        if (bArchive && pac.empty() && IsPac(item.source))
            pac = item.source;
    }
    if (pac.empty() && IsPac(project.resources.dataArchive))
        pac = project.resources.dataArchive;
    if (!pac.empty())
        out.push_back({L"QELTRON.dll", L"the PAC archive " + pac +
                                           L" needs QELTRON.dll, and there is none beside the "
                                           L"launcher (--neutral QELTRON.dll of its architecture)"});
}

void CheckSkin(const PROJECT& project, std::vector<MISSING>& out)
{
    for (const std::wstring& file : project.resources.skinFiles) {
        if (!SameName(FileNamePart(file), THEME_FILE) || !IsFile(file))
            continue;
        WCHAR szFrame[MAX_PATH];
        GetPrivateProfileStringW(L"Dialog", L"FrameShape", L"", szFrame, MAX_PATH, file.c_str());
        std::wstring frame = FileNamePart(szFrame);
        if (!frame.empty() && !HasFileNamed(project.resources.skinFiles, frame))
            out.push_back({L"FrameShape", std::wstring(THEME_FILE) + L" [Dialog] FrameShape=" +
                                              szFrame + L": " + frame +
                                              L" is not among the skin files (--skin " + frame + L")"});
    }
}

bool Allowed(const PROJECT& project, const std::wstring& key)
{
    for (const std::wstring& allowed : project.allowMissing)
        if (SameName(allowed, key))
            return true;
    return false;
}

}  // namespace

std::wstring AllowMissingKey(const std::wstring& key)
{
    for (const wchar_t* known : KEYS)
        if (SameName(key, known))
            return known;
    return std::wstring();
}

void CheckNamedFiles(const PROJECT& project, const SETUPCONFIG& config)
{
    LANDED landed = PayloadFiles(project, config);
    std::vector<MISSING> missing;
    CheckLicense(project, config, missing);
    CheckScript(project, config, landed, missing);
    CheckLanguages(project, config, missing);
    CheckSetupProgram(config, landed, missing);
    CheckPacUnpacker(project, missing);
    CheckSkin(project, missing);
    int refused = 0;
    for (const MISSING& m : missing) {
        bool bAllowed = Allowed(project, m.key);
        fprintf(stderr, "packer: %s%s\n", bAllowed ? "warning: " : "", ToUtf8(m.text).c_str());
        refused += bAllowed ? 0 : 1;
    }
    if (refused)
        throw Failure{std::to_wstring(refused) +
                      L" file(s) named above would be missing from the package; nothing was "
                      L"written (--allow-missing KEY builds without them)"};
}

}  // namespace packer
