// The package's resources: the configuration (embedded unless it is to be
// written beside the package, when only its name, the product and the
// languages go in), the language
// pack, a DATA payload and a skin pack, written into the launcher copy
// before the payload is appended.
//
//   --language FILE.lng   (repeatable)  a language library; NAME.001 in the pack
//   --license [ID=]FILE   (repeatable)  the license of one language, or of all
//   --neutral FILE        (repeatable)  a language-neutral file (license text ...)
//   --data FILE                         the whole payload as one archive (DATA)
//   --skin FILE           (repeatable)  Corvel.dll, Corvel.thm and their files
//   --embed-config                      the configuration goes in (the default)
//   --config-beside                     the configuration is written beside
//
// Project file: [Resources] EmbedConfig=0|1 (default 1), Data=, Language1=, Language2= ...,
// Neutral1= ..., Skin1= ...; [Licenses] ID=FILE per language, Neutral=FILE for all.
#include <stdlib.h>
#include "common/profilefile.h"
#include "packer.h"

namespace packer {
namespace {

const DWORD VALUE_CCH = 1024;
const wchar_t RESOURCES[] = L"Resources";
const wchar_t LICENSES[] = L"Licenses";
const wchar_t NEUTRAL_KEY[] = L"Neutral";
const DWORD SECTION_CCH = 32765;
const DWORD LANGID_MAX = 0xFFFF;

std::wstring ReadKey(const std::wstring& path, const std::wstring& key)
{
    WCHAR szValue[VALUE_CCH];
    DWORD cch = GetPrivateProfileStringW(RESOURCES, key.c_str(), L"", szValue, VALUE_CCH,
                                         path.c_str());
    if (cch >= VALUE_CCH - 1)
        throw Failure{L"value too long: [Resources] " + key + L" in " + path};
    return szValue;
}

// Key1, Key2 ... until the first missing one, as full paths.
void ReadList(const std::wstring& path, const std::wstring& base, const wchar_t* key,
              std::vector<std::wstring>& list,
              std::wstring (*resolve)(const std::wstring&, const std::wstring&) = FullPath)
{
    for (int i = 1;; ++i) {
        std::wstring value = ReadKey(path, key + std::to_wstring(i));
        if (value.empty())
            break;
        list.push_back(resolve(value, base));
    }
}

// A language identifier as [Languages] writes it: 1 to 65535; 0 when the
// text is none.
DWORD LanguageId(const std::wstring& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return 0;
    DWORD dw = wcstoul(text.c_str(), nullptr, 10);
    return dw <= LANGID_MAX ? dw : 0;
}

void Append(std::vector<std::wstring>& to, const std::vector<std::wstring>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

// The texts the marker of a configuration kept beside holds are ASCII: the
// file's name, the product's name and version.
bool IdentityIsAscii(const std::wstring& besideName, const std::wstring& config)
{
    std::wstring texts = besideName;
    for (const wchar_t* key : {L"ProductName", L"ProductVersion"}) {
        WCHAR szValue[VALUE_CCH] = L"";
        GetPrivateProfileStringW(L"General", key, L"", szValue, VALUE_CCH, config.c_str());
        texts += szValue;
    }
    return IsAsciiText(ToUtf8(texts));
}

// What the package says of itself when its configuration is missing: its
// name and version, and its languages, so that the message saying so is in
// the user's language under the product's name.
void CopyIdentity(const std::wstring& config, const std::wstring& marker)
{
    const struct {
        const wchar_t* section;
        const wchar_t* key;
    } keys[] = {{L"General", L"ProductName"}, {L"General", L"ProductVersion"},
                {L"Runtime", L"LanguageDefault"}};
    for (const auto& k : keys) {
        WCHAR szValue[VALUE_CCH] = L"";
        GetPrivateProfileStringW(k.section, k.key, L"", szValue, VALUE_CCH, config.c_str());
        if (*szValue && !WritePrivateProfileStringW(k.section, k.key, szValue, marker.c_str()))
            throw Failure{L"cannot write " + marker};
    }
    std::vector<WCHAR> languages(SECTION_CCH, L'\0');
    if (GetPrivateProfileSectionW(L"Languages", languages.data(), SECTION_CCH, config.c_str()) > 0 &&
        !WritePrivateProfileSectionW(L"Languages", languages.data(), marker.c_str()))
        throw Failure{L"cannot write " + marker};
}

}  // namespace

bool ParseResourceOption(const std::wstring& arg, const std::function<std::wstring()>& next,
                         PROJECT& flags)
{
    if (arg == L"--language")
        flags.resources.languages.push_back(LanguagePath(next(), L""));
    else if (arg == L"--license") {
        // ID=FILE: that language's; FILE: every language's.
        std::wstring value = next();
        size_t eq = value.find(L'=');
        DWORD dwId = eq == std::wstring::npos ? 0 : LanguageId(value.substr(0, eq));
        if (eq != std::wstring::npos && value.find_first_not_of(L"0123456789") == eq && !dwId)
            throw Usage{L"--license takes ID=FILE with a language id from 1 to 65535: " + value};
        flags.licenses.push_back({dwId, FullPath(dwId ? value.substr(eq + 1) : value)});
    }
    else if (arg == L"--neutral")
        flags.resources.neutralFiles.push_back(FullPath(next()));
    else if (arg == L"--data")
        flags.resources.dataArchive = FullPath(next());
    else if (arg == L"--skin")
        flags.resources.skinFiles.push_back(FullPath(next()));
    else if (arg == L"--embed-config")
        flags.iEmbedConfig = 1;
    else if (arg == L"--config-beside")
        flags.iEmbedConfig = 0;
    else
        return false;
    return true;
}

void ReadProjectResources(const std::wstring& path, const std::wstring& base, PROJECT& project)
{
    std::wstring value = ReadKey(path, L"EmbedConfig");
    if (!value.empty())
        project.iEmbedConfig = value == L"0" ? 0 : 1;
    if (!(value = ReadKey(path, L"Data")).empty())
        project.resources.dataArchive = FullPath(value, base);
    ReadList(path, base, L"Language", project.resources.languages, LanguagePath);
    ReadList(path, base, L"Neutral", project.resources.neutralFiles);
    ReadList(path, base, L"Skin", project.resources.skinFiles);

    std::vector<WCHAR> section(SECTION_CCH);
    DWORD cch = GetPrivateProfileSectionW(LICENSES, section.data(), SECTION_CCH, path.c_str());
    for (const WCHAR* p = section.data(); cch && *p; p += wcslen(p) + 1) {
        std::wstring line = p;
        size_t eq = line.find(L'=');
        std::wstring key = line.substr(0, eq);
        DWORD dwId = LanguageId(key);
        if (eq == std::wstring::npos || eq + 1 == line.size() ||
            (!dwId && _wcsicmp(key.c_str(), NEUTRAL_KEY) != 0))
            throw Failure{L"[Licenses] takes ID=FILE (a language id) or Neutral=FILE, not '" + line +
                          L"', in " + path};
        project.licenses.push_back({dwId, FullPath(line.substr(eq + 1), base)});
    }
}

std::wstring LanguagePath(const std::wstring& value, const std::wstring& base)
{
    std::wstring path = FullPath(value, base);
    if (!IsFile(path) && value.find_first_of(L"\\/:") == std::wstring::npos) {
        std::wstring beside = ProgramFolder() + L"\\" + value;
        if (IsFile(beside))
            return beside;
    }
    return path;
}

void PlaceLicenses(PROJECT& project, const SETUPCONFIG& config)
{
    for (size_t i = 0; i < project.licenses.size(); ++i) {
        const LICENSE& license = project.licenses[i];
        std::wstring what = license.dwLanguage ? L"the license of " + std::to_wstring(license.dwLanguage)
                                               : std::wstring(L"the license of every language");
        if (config.licenseFile.empty())
            throw Failure{what + L": the configuration names no [Dialogs] LicenseFile, the "
                                 L"name the launcher looks for"};
        if (!IsFile(license.source))
            throw Failure{L"no such file for " + what + L": " + license.source};
        for (size_t j = 0; j < i; ++j)
            if (project.licenses[j].dwLanguage == license.dwLanguage)
                throw Failure{what + L" is given twice"};
        std::wstring name = FileNamePart(config.licenseFile);
        if (!license.dwLanguage) {
            project.resources.languageFiles.push_back({L"", license.source, name});
            continue;
        }
        std::wstring library;
        for (const LANGUAGELINE& line : config.languages)
            if (line.dwId == license.dwLanguage && library.empty())
                library = FileNamePart(line.file);
        if (library.empty())
            throw Failure{what + L": the configuration's [Languages] names no library for " +
                          std::to_wstring(license.dwLanguage)};
        // Packed with its library; a library that is not packed is named
        // by the check of [Languages].
        for (const std::wstring& packed : project.resources.languages)
            if (_wcsicmp(FileNamePart(packed).c_str(), library.c_str()) == 0) {
                project.resources.languageFiles.push_back({packed, license.source, name});
                break;
            }
    }
}

void MergeResourceOptions(const PROJECT& flags, PROJECT& project)
{
    if (flags.iEmbedConfig >= 0)
        project.iEmbedConfig = flags.iEmbedConfig;
    if (!flags.resources.dataArchive.empty())
        project.resources.dataArchive = flags.resources.dataArchive;
    Append(project.resources.languages, flags.resources.languages);
    Append(project.resources.neutralFiles, flags.resources.neutralFiles);
    Append(project.resources.skinFiles, flags.resources.skinFiles);
    project.licenses.insert(project.licenses.end(), flags.licenses.begin(), flags.licenses.end());
}

std::wstring PrepareStagedConfig(const std::wstring& staged)
{
    WCHAR szMessage[EMBED_MESSAGE_CCH];
    if (PrepareConfigFile(staged.c_str(), staged.c_str(), szMessage, EMBED_MESSAGE_CCH) != ERROR_SUCCESS)
        throw Failure{szMessage};
    return staged;
}

bool EmbedsConfig(const PROJECT& project)
{
    return project.iEmbedConfig != 0;
}

std::wstring BesideConfigName(const std::wstring& output)
{
    size_t slash = output.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? output : output.substr(slash + 1);
    size_t dot = name.find_last_of(L'.');
    return (dot == std::wstring::npos ? name : name.substr(0, dot)) + L".cfg";
}

void EmbedResources(const std::wstring& packageCopy, const PROJECT& project,
                    const std::wstring& workFolder)
{
    PACKAGERESOURCES resources = project.resources;
    if (project.iEmbedConfig == 1 && project.config.empty())
        throw Failure{L"--embed-config needs a configuration (--config)"};
    if (!project.config.empty() && EmbedsConfig(project)) {
        resources.configFile = project.config;
    } else if (!project.config.empty()) {
        // Only the name goes in, with the product and its languages: the
        // launcher finds the file under that name even when the package is
        // renamed, and says so in the user's language when it is missing.
        std::wstring marker = workFolder + L"\\beside.cfg";
        std::wstring besideName = BesideConfigName(project.output);
        // A name beyond ASCII (the file's or the product's) goes in UTF-16,
        // which keeps every character.
        if ((!IdentityIsAscii(besideName, project.config) &&
             CreateUnicodeProfile(marker.c_str()) != ERROR_SUCCESS) ||
            !WritePrivateProfileStringW(L"Package", L"ConfigFile",
                                        besideName.c_str(), marker.c_str()))
            throw Failure{L"cannot write " + marker};
        CopyIdentity(project.config, marker);
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, marker.c_str());  // flush the profile cache
        resources.configFile = marker;
    }
    WCHAR szMessage[EMBED_MESSAGE_CCH];
    DWORD dwResult = ::EmbedResources(packageCopy.c_str(), resources, szMessage, EMBED_MESSAGE_CCH);
    if (resources.configFile != project.config)
        DeleteFileW(resources.configFile.c_str());
    if (dwResult != ERROR_SUCCESS)
        throw Failure{szMessage};
}

}  // namespace packer
