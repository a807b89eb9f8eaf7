// The package's texts: its configuration, install script and text license.
// The launcher reads each in UTF-8 (with or without a byte-order mark),
// UTF-16 with a mark, or else in the system code page. The configuration
// goes into the package as UTF-16 when it is UTF-8, so that the profile
// functions of every launcher read it (and the packer's own additions to
// it) exactly. A text in neither UTF-8 nor plain ASCII is taken in the code
// page of the machine that runs the package: the packer warns of it.
#include <stdio.h>
#include <shlwapi.h>
#include "common/profilefile.h"
#include "common/textcode.h"
#include "packer.h"

namespace packer {
namespace {

const DWORD VALUE_CCH = 1024;
// A text license or script larger than this is not looked at.
const ULONGLONG MAX_CHECKED_BYTES = 64ull * 1024 * 1024;
const char RTF_SIGNATURE[] = "{\\rtf";

void Warn(const std::wstring& path, const wchar_t* what)
{
    fprintf(stderr,
            "packer: warning: %s (%s) is neither UTF-8 nor plain ASCII: the launcher reads it "
            "in the system code page\n",
            ToUtf8(path).c_str(), ToUtf8(what).c_str());
}

bool ReadAll(const std::wstring& path, std::vector<BYTE>& bytes)
{
    if (!IsFile(path) || SizeOf(path) > MAX_CHECKED_BYTES)
        return false;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bytes.resize(static_cast<size_t>(SizeOf(path)));
    DWORD cbRead = 0;
    BOOL bOk = bytes.empty() ||
               (ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr) &&
                cbRead == bytes.size());
    CloseHandle(h);
    return bOk != FALSE;
}

// The neutral file that the configuration names under key, if any.
std::wstring NeutralFileNamed(const PROJECT& project, const std::wstring& config,
                              const wchar_t* section, const wchar_t* key)
{
    WCHAR szValue[VALUE_CCH] = L"";
    GetPrivateProfileStringW(section, key, L"", szValue, VALUE_CCH, config.c_str());
    if (!szValue[0])
        return std::wstring();
    LPCWSTR pszName = PathFindFileNameW(szValue);
    for (const std::wstring& file : project.resources.neutralFiles) {
        if (_wcsicmp(PathFindFileNameW(file.c_str()), pszName) == 0)
            return file;
    }
    return std::wstring();
}

void CheckText(const std::wstring& path, const wchar_t* what, bool bRtfAllowed)
{
    std::vector<BYTE> bytes;
    if (path.empty() || !ReadAll(path, bytes))
        return;
    const size_t cbRtf = sizeof(RTF_SIGNATURE) - 1;
    if (bRtfAllowed && bytes.size() >= cbRtf && memcmp(bytes.data(), RTF_SIGNATURE, cbRtf) == 0)
        return;  // RTF names its own code pages
    size_t cbMark = 0;
    if (DetectTextEncoding(bytes.data(), bytes.size(), &cbMark) == TEXT_ANSI &&
        !IsAscii(bytes.data(), bytes.size()))
        Warn(path, what);
}

}  // namespace

std::wstring StageConfig(const std::wstring& config, const std::wstring& workFolder)
{
    switch (ProfileTextOf(config.c_str())) {
    case PROFILE_ANSI:
        Warn(config, L"the configuration");
        return config;
    case PROFILE_NEEDS_COPY: {
        std::wstring staged = workFolder + L"\\staged.cfg";
        DWORD dwResult = WriteProfileCopy(config.c_str(), staged.c_str());
        if (dwResult != ERROR_SUCCESS)
            throw Failure{L"cannot read the configuration " + config + L" (error " +
                          std::to_wstring(dwResult) + L")"};
        return staged;
    }
    case PROFILE_UNREADABLE:
        throw Failure{L"cannot read the configuration " + config};
    default:
        return config;
    }
}

void CheckTexts(const PROJECT& project, const std::wstring& stagedConfig)
{
    if (stagedConfig.empty())
        return;
    CheckText(NeutralFileNamed(project, stagedConfig, L"Runtime", L"ScriptFile"),
              L"the install script", false);
    CheckText(NeutralFileNamed(project, stagedConfig, L"Dialogs", L"LicenseFile"),
              L"the license", true);
}

}  // namespace packer
