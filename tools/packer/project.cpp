// Project files: an INI file that describes a package.
//
//   [Package]
//   Arch=x86                  ; or x64: the launcher of that architecture
//   Launcher=launcher.exe     ; default: launcher.exe beside packer.exe
//   Output=setup.exe
//   Config=setup.ini          ; written beside the package as setup.cfg
//   WebFolder=upload          ; web items are copied here
//   Tag=TRV                   ; numbered names TRV0001.001, TRV0002.001 ...
//   AllowMissing=LicenseFile  ; keys whose files may be left out, comma-separated
//
//   [Item1]                   ; then [Item2], [Item3] ... in package order
//   Type=folder               ; folder, archive, stored, external, web
//   Source=payload
//   Name=                     ; output name (stored, external, web)
//   Stored=0                  ; external, web: 1 = used as is, 0 = archive
//   File=                     ; table name instead of the numbered one
//   Size=                     ; web items without a Source
#include <stdlib.h>
#include "packer.h"
#include "packer/checks.h"

namespace packer {
namespace {

const DWORD VALUE_CCH = 1024;

std::wstring ReadValue(const std::wstring& path, const std::wstring& section,
                       const wchar_t* key)
{
    WCHAR szValue[VALUE_CCH];
    DWORD cch = GetPrivateProfileStringW(section.c_str(), key, L"", szValue, VALUE_CCH,
                                         path.c_str());
    if (cch >= VALUE_CCH - 1)
        throw Failure{L"value too long: [" + section + L"] " + key + L" in " + path};
    return szValue;
}

bool HasSection(const std::wstring& path, const std::wstring& section)
{
    WCHAR szKeys[64];
    return GetPrivateProfileSectionW(section.c_str(), szKeys, 64, path.c_str()) > 0;
}

ItemKind KindOf(const std::wstring& type, bool bStored, const std::wstring& where)
{
    if (_wcsicmp(type.c_str(), L"folder") == 0)
        return ItemKind::Folder;
    if (_wcsicmp(type.c_str(), L"archive") == 0)
        return ItemKind::Archive;
    if (_wcsicmp(type.c_str(), L"stored") == 0)
        return ItemKind::Stored;
    if (_wcsicmp(type.c_str(), L"external") == 0)
        return bStored ? ItemKind::ExternalStored : ItemKind::External;
    if (_wcsicmp(type.c_str(), L"web") == 0)
        return bStored ? ItemKind::WebStored : ItemKind::Web;
    throw Failure{L"unknown Type=" + type + L" in " + where +
                  L" (folder, archive, stored, external or web)"};
}

}  // namespace

void ReadProject(const std::wstring& file, PROJECT& project)
{
    std::wstring path = FullPath(file);
    if (!IsFile(path))
        throw Failure{L"no such project file: " + path};
    std::wstring base = path.substr(0, path.find_last_of(L'\\'));
    auto pathValue = [&](const std::wstring& section, const wchar_t* key) {
        std::wstring value = ReadValue(path, section, key);
        return value.empty() ? value : FullPath(value, base);
    };

    if (!HasSection(path, L"Package"))
        throw Failure{L"no [Package] section in " + path};
    std::wstring value = pathValue(L"Package", L"Launcher");
    if (!value.empty())
        project.launcher = value;
    if (!(value = ReadValue(path, L"Package", L"Arch")).empty()) {
        if (!IsArchName(value))
            throw Failure{L"Arch=" + value + L" in " + path + L" (x86 or x64)"};
        project.arch = value;
    }
    if (!(value = pathValue(L"Package", L"Output")).empty())
        project.output = value;
    if (!(value = pathValue(L"Package", L"Config")).empty())
        project.config = value;
    if (!(value = pathValue(L"Package", L"WebFolder")).empty())
        project.webFolder = value;
    if (!(value = ReadValue(path, L"Package", L"Tag")).empty())
        project.tag = value;
    value = ReadValue(path, L"Package", L"AllowMissing");
    for (size_t start = 0; start < value.size();) {
        size_t comma = value.find(L',', start);
        std::wstring key = value.substr(start, comma == std::wstring::npos ? std::wstring::npos
                                                                           : comma - start);
        key.erase(0, key.find_first_not_of(L" \t"));
        key.erase(key.find_last_not_of(L" \t") + 1);
        if (AllowMissingKey(key).empty())
            throw Failure{L"AllowMissing=" + value + L" in " + path + L": " + key +
                          L" is none of " + FromUtf8(ALLOW_MISSING_KEYS)};
        project.allowMissing.push_back(AllowMissingKey(key));
        start = comma == std::wstring::npos ? value.size() : comma + 1;
    }

    for (int i = 1;; ++i) {
        std::wstring section = L"Item" + std::to_wstring(i);
        if (!HasSection(path, section))
            break;
        std::wstring where = L"[" + section + L"] of " + path;
        ITEM item = {};
        bool bStored = ReadValue(path, section, L"Stored") == L"1";
        item.kind = KindOf(ReadValue(path, section, L"Type"), bStored, where);
        item.source = pathValue(section, L"Source");
        item.name = ReadValue(path, section, L"Name");
        item.file = ReadValue(path, section, L"File");
        std::wstring size = ReadValue(path, section, L"Size");
        if (!size.empty()) {
            wchar_t* pEnd = nullptr;
            item.size = _wcstoui64(size.c_str(), &pEnd, 10);
            if (!pEnd || *pEnd)
                throw Failure{L"Size=" + size + L" is not a number in " + where};
            item.bSizeGiven = true;
        }
        project.items.push_back(item);
    }
    ReadProjectResources(path, base, project);
}

}  // namespace packer
