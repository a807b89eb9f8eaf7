#include "packer/resources_embed.h"
#include <shlwapi.h>
#include <stdarg.h>
#include <strsafe.h>
#include "common/capacity.h"
#include "common/trace.h"
#include "state/urlscramble.h"
#include "packer/cabwriter.h"
#include "payload/itemhash.h"
#include "res/resource.h"

namespace {

const WCHAR RUNTIME[] = L"Runtime";
const WCHAR WEB_URL_KEY[] = L"WebDownloadUrl";
const WCHAR LNG_EXTENSION[] = L".lng";
const WCHAR LANGUAGE_FOLDER[] = L"Languages\\";
const WCHAR NEUTRAL_PACK[] = L"Neutral.001";
const DWORD MAX_RESOURCE_SIZE = 0x7FFFFFFF;

void SetMessage(LPWSTR szMessage, DWORD cchMessage, LPCWSTR szFormat, ...)
{
    if (!szMessage || !cchMessage)
        return;
    va_list args;
    va_start(args, szFormat);
    StringCchVPrintfW(szMessage, cchMessage, szFormat, args);
    va_end(args);
    DebugTrace(L"EmbedResources()->%s", szMessage);
}

BOOL IsFile(const std::wstring& path)
{
    DWORD dwAttr = GetFileAttributesW(path.c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD ReadWholeFile(const std::wstring& path, std::vector<BYTE>& data)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return GetLastError() ? GetLastError() : ERROR_FILE_NOT_FOUND;
    LARGE_INTEGER size;
    DWORD dwResult = ERROR_SUCCESS;
    if (!GetFileSizeEx(hFile, &size)) {
        dwResult = GetLastError();
    } else if (size.QuadPart > MAX_RESOURCE_SIZE) {
        dwResult = ERROR_FILE_TOO_LARGE;
    } else {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD dwRead = 0;
        if (!data.empty() &&
            (!ReadFile(hFile, data.data(), static_cast<DWORD>(data.size()), &dwRead, nullptr) ||
             dwRead != data.size()))
            dwResult = ERROR_READ_FAULT;
    }
    CloseHandle(hFile);
    return dwResult;
}

void RemoveWorkDir(const std::wstring& dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((dir + L"\\" + fd.cFileName).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

// A private scratch folder below %TEMP%, removed with its files.
class CWorkDir {
public:
    CWorkDir()
    {
        WCHAR szTemp[PATH_CCH];
        WCHAR szName[PATH_CCH];
        if (!GetTempPathW(PATH_CCH, szTemp))
            return;
        StringCchPrintfW(szName, PATH_CCH, L"stowaway_embed_%u_%u", GetCurrentProcessId(),
                         GetTickCount());
        m_path = std::wstring(szTemp) + szName;
        if (!CreateDirectoryW(m_path.c_str(), nullptr))
            m_path.clear();
    }
    ~CWorkDir()
    {
        if (!m_path.empty())
            RemoveWorkDir(m_path);
    }
    CWorkDir(const CWorkDir&) = delete;
    CWorkDir& operator=(const CWorkDir&) = delete;
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

// One member of a pack: a file and the name it is stored under.
struct PACKMEMBER {
    std::wstring source;
    std::wstring name;
};

// A cabinet of the members; names must be distinct.
DWORD PackMembers(const std::vector<PACKMEMBER>& members, const std::wstring& cabinet,
                  LPCWSTR szWhat, LPWSTR szMessage, DWORD cchMessage)
{
    std::vector<CABMEMBER> list;
    for (size_t i = 0; i < members.size(); ++i) {
        const PACKMEMBER& member = members[i];
        if (!IsFile(member.source)) {
            SetMessage(szMessage, cchMessage, L"%s file not found: %s", szWhat, member.source.c_str());
            return ERROR_FILE_NOT_FOUND;
        }
        for (size_t j = 0; j < i; ++j) {
            if (!lstrcmpiW(members[j].name.c_str(), member.name.c_str())) {
                SetMessage(szMessage, cchMessage, L"%s file named twice: %s", szWhat,
                           member.name.c_str());
                return ERROR_ALREADY_EXISTS;
            }
        }
        list.push_back({member.source.c_str(), member.name.c_str()});
    }
    DWORD dwResult = CreateCabinet(cabinet.c_str(), list.data(), static_cast<DWORD>(list.size()), TRUE);
    if (dwResult != ERROR_SUCCESS)
        SetMessage(szMessage, cchMessage, L"Cannot build the %s pack (%u)", szWhat, dwResult);
    return dwResult;
}

// Files stored under their bare names.
std::vector<PACKMEMBER> Flat(const std::vector<std::wstring>& files)
{
    std::vector<PACKMEMBER> members;
    for (const std::wstring& file : files)
        members.push_back({file, PathFindFileNameW(file.c_str())});
    return members;
}

}  // namespace

DWORD PrepareConfigFile(LPCWSTR szSource, LPCWSTR szTarget, LPWSTR szMessage, DWORD cchMessage)
{
    if (!szSource || !IsFile(szSource)) {
        SetMessage(szMessage, cchMessage, L"Configuration file not found: %s", szSource ? szSource : L"");
        return ERROR_FILE_NOT_FOUND;
    }
    BOOL bInPlace = szTarget && !lstrcmpiW(szSource, szTarget);
    if (!bInPlace && !CopyFileW(szSource, szTarget, FALSE)) {
        DWORD dwError = GetLastError();
        SetMessage(szMessage, cchMessage, L"Cannot copy the configuration to %s (%u)", szTarget, dwError);
        return dwError ? dwError : ERROR_WRITE_FAULT;
    }
    SetFileAttributesW(szTarget, FILE_ATTRIBUTE_NORMAL);
    WCHAR szValue[WEBURL_PROFILE_CCH + 2];
    GetPrivateProfileStringW(RUNTIME, WEB_URL_KEY, L"", szValue, ARRAYSIZE(szValue), szTarget);
    uint8_t block[WEBURL_BLOCK_SIZE];
    if (!szValue[0] || GetPrivateProfileStructW(RUNTIME, WEB_URL_KEY, block, sizeof(block), szTarget))
        return ERROR_SUCCESS;
    if (wcslen(szValue) >= WEBURL_CCH) {
        if (!bInPlace)
            DeleteFileW(szTarget);
        SetMessage(szMessage, cchMessage, L"WebDownloadUrl is longer than %u characters", WEBURL_CCH - 1);
        return ERROR_BUFFER_OVERFLOW;
    }
    uint16_t units[WEBURL_CCH] = {};
    for (size_t i = 0; szValue[i]; ++i)
        units[i] = static_cast<uint16_t>(szValue[i]);
    ScrambleWebUrl(units, block);
    if (!WritePrivateProfileStructW(RUNTIME, WEB_URL_KEY, block, sizeof(block), szTarget)) {
        DWORD dwError = GetLastError();
        if (!bInPlace)
            DeleteFileW(szTarget);
        SetMessage(szMessage, cchMessage, L"Cannot write WebDownloadUrl (%u)", dwError);
        return dwError ? dwError : ERROR_WRITE_FAULT;
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, szTarget);  // flush the profile cache
    return ERROR_SUCCESS;
}

DWORD BuildLanguagePack(const PACKAGERESOURCES& res, LPCWSTR szWorkDir, LPCWSTR szCabinet,
                        LPWSTR szMessage, DWORD cchMessage)
{
    std::vector<std::wstring> packs;
    std::vector<std::wstring> packNames;
    for (const LANGUAGEFILE& extra : res.languageFiles) {
        BOOL bPacked = extra.library.empty();
        for (const std::wstring& library : res.languages)
            bPacked |= !lstrcmpiW(library.c_str(), extra.library.c_str());
        if (!bPacked) {
            SetMessage(szMessage, cchMessage, L"%s goes with %s, which is not packed",
                       extra.source.c_str(), extra.library.c_str());
            return ERROR_FILE_NOT_FOUND;
        }
        if (!extra.storedName.size() || wcspbrk(extra.storedName.c_str(), L"\\/")) {
            SetMessage(szMessage, cchMessage, L"Not a file name for a pack: '%s'",
                       extra.storedName.c_str());
            return ERROR_INVALID_NAME;
        }
    }
    for (const std::wstring& library : res.languages) {
        if (!IsFile(library)) {
            SetMessage(szMessage, cchMessage, L"Language library not found: %s", library.c_str());
            return ERROR_FILE_NOT_FOUND;
        }
        WCHAR szBase[PATH_CCH];
        StringCchCopyW(szBase, PATH_CCH, PathFindFileNameW(library.c_str()));
        if (lstrcmpiW(PathFindExtensionW(szBase), LNG_EXTENSION) != 0) {
            SetMessage(szMessage, cchMessage, L"Language library without the .lng extension: %s",
                       library.c_str());
            return ERROR_INVALID_NAME;
        }
        // The library, then the files that travel with it, flat: the
        // launcher unpacks the pack without its folders.
        std::vector<PACKMEMBER> members = {{library, std::wstring(LANGUAGE_FOLDER) + szBase}};
        for (const LANGUAGEFILE& extra : res.languageFiles)
            if (!lstrcmpiW(extra.library.c_str(), library.c_str()))
                members.push_back({extra.source, extra.storedName});
        PathRemoveExtensionW(szBase);
        std::wstring pack = std::wstring(szBase) + L".001";
        for (const std::wstring& earlier : packs) {
            if (!lstrcmpiW(PathFindFileNameW(earlier.c_str()), pack.c_str())) {
                SetMessage(szMessage, cchMessage, L"Language named twice: %s", szBase);
                return ERROR_ALREADY_EXISTS;
            }
        }
        std::wstring packPath = std::wstring(szWorkDir) + L"\\" + pack;
        DWORD dwResult = PackMembers(members, packPath, szBase, szMessage, cchMessage);
        if (dwResult != ERROR_SUCCESS)
            return dwResult;
        packs.push_back(packPath);
        packNames.push_back(pack);
    }
    std::vector<PACKMEMBER> neutral = Flat(res.neutralFiles);
    for (const LANGUAGEFILE& extra : res.languageFiles)
        if (extra.library.empty())
            neutral.push_back({extra.source, extra.storedName});
    if (!neutral.empty()) {
        std::wstring packPath = std::wstring(szWorkDir) + L"\\" + NEUTRAL_PACK;
        DWORD dwResult = PackMembers(neutral, packPath, L"Neutral", szMessage, cchMessage);
        if (dwResult != ERROR_SUCCESS)
            return dwResult;
        packs.push_back(packPath);
        packNames.push_back(NEUTRAL_PACK);
    }
    std::vector<CABMEMBER> members;
    for (size_t i = 0; i < packs.size(); ++i)
        members.push_back({packs[i].c_str(), packNames[i].c_str()});
    // The packs are compressed already.
    DWORD dwResult = CreateCabinet(szCabinet, members.data(), static_cast<DWORD>(members.size()), FALSE);
    if (dwResult != ERROR_SUCCESS)
        SetMessage(szMessage, cchMessage, L"Cannot build the language pack (%u)", dwResult);
    return dwResult;
}

DWORD EmbedResources(LPCWSTR szExe, const PACKAGERESOURCES& res, LPWSTR szMessage, DWORD cchMessage)
{
    if (szMessage && cchMessage)
        szMessage[0] = L'\0';
    if (!szExe || !IsFile(szExe)) {
        SetMessage(szMessage, cchMessage, L"Launcher copy not found: %s", szExe ? szExe : L"");
        return ERROR_FILE_NOT_FOUND;
    }
    CWorkDir work;
    if (work.Path().empty()) {
        SetMessage(szMessage, cchMessage, L"Cannot create a scratch folder");
        return ERROR_CANNOT_MAKE;
    }

    struct Item {
        LPCWSTR szType;
        WORD wId;
        std::vector<BYTE> data;
    };
    std::vector<Item> items;
    DWORD dwResult = ERROR_SUCCESS;

    if (!res.configFile.empty()) {
        std::wstring cfg = work.Path() + L"\\setup.cfg";
        dwResult = PrepareConfigFile(res.configFile.c_str(), cfg.c_str(), szMessage, cchMessage);
        if (dwResult != ERROR_SUCCESS)
            return dwResult;
        items.push_back({L"CFG", IDR_CFG, {}});
        if ((dwResult = ReadWholeFile(cfg, items.back().data)) != ERROR_SUCCESS) {
            SetMessage(szMessage, cchMessage, L"Cannot read the configuration (%u)", dwResult);
            return dwResult;
        }
    }
    if (!res.languages.empty() || !res.neutralFiles.empty() || !res.languageFiles.empty()) {
        std::wstring cab = work.Path() + L"\\binary.cab";
        dwResult = BuildLanguagePack(res, work.Path().c_str(), cab.c_str(), szMessage, cchMessage);
        if (dwResult != ERROR_SUCCESS)
            return dwResult;
        items.push_back({L"BINARY", IDR_BINARY, {}});
        if ((dwResult = ReadWholeFile(cab, items.back().data)) != ERROR_SUCCESS) {
            SetMessage(szMessage, cchMessage, L"Cannot read the language pack (%u)", dwResult);
            return dwResult;
        }
    }
    if (!res.dataArchive.empty()) {
        if (!IsFile(res.dataArchive)) {
            SetMessage(szMessage, cchMessage, L"DATA archive not found: %s", res.dataArchive.c_str());
            return ERROR_FILE_NOT_FOUND;
        }
        items.push_back({L"DATA", IDR_DATA, {}});
        if ((dwResult = ReadWholeFile(res.dataArchive, items.back().data)) != ERROR_SUCCESS) {
            SetMessage(szMessage, cchMessage, L"Cannot read the DATA archive %s (%u)",
                       res.dataArchive.c_str(), dwResult);
            return dwResult;
        }
    }
    if (!res.skinFiles.empty()) {
        // The launcher needs the library and its theme file to skin itself.
        BOOL bLibrary = FALSE, bTheme = FALSE;
        for (const std::wstring& file : res.skinFiles) {
            bLibrary |= !lstrcmpiW(PathFindFileNameW(file.c_str()), L"Corvel.dll");
            bTheme |= !lstrcmpiW(PathFindFileNameW(file.c_str()), L"Corvel.thm");
        }
        if (!bLibrary || !bTheme) {
            SetMessage(szMessage, cchMessage, L"The skin pack needs Corvel.dll and Corvel.thm");
            return ERROR_INVALID_PARAMETER;
        }
        std::wstring cab = work.Path() + L"\\corvel.cab";
        dwResult = PackMembers(Flat(res.skinFiles), cab, L"Skin", szMessage, cchMessage);
        if (dwResult != ERROR_SUCCESS)
            return dwResult;
        items.push_back({L"CORVEL", IDR_CORVEL, {}});
        if ((dwResult = ReadWholeFile(cab, items.back().data)) != ERROR_SUCCESS) {
            SetMessage(szMessage, cchMessage, L"Cannot read the skin pack (%u)", dwResult);
            return dwResult;
        }
    }
    if (!res.itemHashes.empty())
        items.push_back({ITEMHASH_RESOURCE_TYPE, static_cast<WORD>(ITEMHASH_RESOURCE_ID), res.itemHashes});
    if (items.empty())
        return ERROR_SUCCESS;
    // An empty resource would remove the resource instead of writing it.
    for (const Item& item : items) {
        if (item.data.empty()) {
            SetMessage(szMessage, cchMessage, L"The %s resource would be empty", item.szType);
            return ERROR_INVALID_DATA;
        }
    }

    // All or nothing: the update is discarded when any resource fails.
    HANDLE hUpdate = BeginUpdateResourceW(szExe, FALSE);
    if (!hUpdate) {
        dwResult = GetLastError();
        SetMessage(szMessage, cchMessage, L"Cannot open %s for resources (%u)", szExe, dwResult);
        return dwResult ? dwResult : ERROR_OPEN_FAILED;
    }
    for (Item& item : items) {
        if (!UpdateResourceW(hUpdate, item.szType, MAKEINTRESOURCEW(item.wId),
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), item.data.data(),
                             static_cast<DWORD>(item.data.size()))) {
            dwResult = GetLastError();
            SetMessage(szMessage, cchMessage, L"Cannot add resource %s %u (%u)", item.szType, item.wId,
                       dwResult);
            EndUpdateResourceW(hUpdate, TRUE);
            return dwResult ? dwResult : ERROR_WRITE_FAULT;
        }
    }
    if (!EndUpdateResourceW(hUpdate, FALSE)) {
        dwResult = GetLastError();
        SetMessage(szMessage, cchMessage, L"Cannot write the resources into %s (%u)", szExe, dwResult);
        return dwResult ? dwResult : ERROR_WRITE_FAULT;
    }
    for (const Item& item : items)
        DebugTrace(L"EmbedResources()->%s %u: %u bytes", item.szType, item.wId,
                   static_cast<DWORD>(item.data.size()));
    return ERROR_SUCCESS;
}
