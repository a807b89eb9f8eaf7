#include "common/pathguard.h"
#include <shlobj.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <string>
#include <vector>
#include "common/capacity.h"
#include "common/errors.h"
#include "common/handles.h"
#include "common/sysdll.h"

namespace {

typedef WCHAR PATHBUF[PATH_CCH];
typedef HRESULT(WINAPI* PFN_SHGETFOLDERPATHW)(HWND, int, HANDLE, DWORD, LPWSTR);
typedef HRESULT(WINAPI* PFN_SHGETKNOWNFOLDERPATH)(REFGUID, DWORD, HANDLE, PWSTR*);
typedef DWORD(WINAPI* PFN_GETFINALPATHNAMEBYHANDLEW)(HANDLE, LPWSTR, DWORD, DWORD);

// The system's and the user's folders, as the shell names them.
const int PROTECTED_CSIDLS[] = {
    CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
    CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU,
    CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_SENDTO,
    CSIDL_MYMUSIC, CSIDL_COMMON_MUSIC, CSIDL_MYVIDEO, CSIDL_COMMON_VIDEO, CSIDL_MYPICTURES,
    CSIDL_COMMON_PICTURES, CSIDL_FAVORITES, CSIDL_COMMON_FAVORITES, CSIDL_FONTS, CSIDL_TEMPLATES,
    CSIDL_COMMON_TEMPLATES, CSIDL_RECENT, CSIDL_NETHOOD, CSIDL_PRINTHOOD, CSIDL_INTERNET_CACHE,
    CSIDL_COOKIES, CSIDL_HISTORY, CSIDL_ADMINTOOLS, CSIDL_COMMON_ADMINTOOLS, CSIDL_CDBURN_AREA,
    CSIDL_RESOURCES,
};

// Known folders that have no CSIDL.
const GUID PROTECTED_KNOWN_FOLDERS[] = {
    // Downloads, Public Downloads, Public, the profiles folder
    {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}},
    {0x3D644C9B, 0x1FB8, 0x4F30, {0x9B, 0x45, 0xF6, 0x70, 0x23, 0x5F, 0x79, 0xC0}},
    {0xDFDF76A2, 0xC82A, 0x4D63, {0x90, 0x6A, 0x56, 0x44, 0xAC, 0x45, 0x73, 0x85}},
    {0x0762D272, 0xC50A, 0x4BB0, {0xA3, 0x82, 0x69, 0x7D, 0xCD, 0x72, 0x9B, 0x80}},
    // Saved Games, Links, Contacts, Searches, LocalLow
    {0x4C5C32FF, 0xBB9D, 0x43B0, {0xB5, 0xB4, 0x2D, 0x72, 0xE5, 0x4E, 0xAA, 0xA4}},
    {0xBFB9D5E0, 0xC6A9, 0x404C, {0xB2, 0xB2, 0xAE, 0x6D, 0xB6, 0xAF, 0x49, 0x68}},
    {0x56784854, 0xC6CB, 0x462B, {0x81, 0x69, 0x88, 0xE3, 0x50, 0xAC, 0xB8, 0x82}},
    {0x7D1D3A04, 0xDEBB, 0x4115, {0x95, 0xCF, 0x2F, 0x29, 0xDA, 0x29, 0x20, 0xDA}},
    {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}},
    // 64-bit Program Files and its common files, ProgramData, per-user programs
    {0x6D809377, 0x6AF0, 0x444B, {0x89, 0x57, 0xA3, 0x77, 0x3F, 0x02, 0x20, 0x0E}},
    {0x6365D5A7, 0x0F0D, 0x45E5, {0x87, 0xF6, 0x0D, 0xA5, 0x6B, 0x6A, 0x4F, 0x7D}},
    {0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}},
    {0x5CD7AEE2, 0x2219, 0x4A67, {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}},
};
const DWORD KNOWN_FOLDER_DONT_VERIFY = 0x4000;
// The folder that holds every user's profile.
const GUID FOLDERID_USERPROFILES = {0x0762D272, 0xC50A, 0x4BB0,
                                    {0xA3, 0x82, 0x69, 0x7D, 0xCD, 0x72, 0x9B, 0x80}};

// Folders the environment names: the 64-bit Program Files seen from a
// 32-bit process among them.
const WCHAR* const PROTECTED_VARIABLES[] = {
    L"ProgramW6432", L"CommonProgramW6432", L"ProgramFiles(x86)", L"CommonProgramFiles(x86)",
    L"ProgramFiles", L"CommonProgramFiles", L"SystemRoot", L"windir", L"ProgramData",
    L"ALLUSERSPROFILE", L"PUBLIC", L"USERPROFILE", L"APPDATA", L"LOCALAPPDATA", L"TEMP", L"TMP",
};

void Upper(std::wstring& text)
{
    if (!text.empty())
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
}

bool StartsWithNoCase(LPCWSTR sz, LPCWSTR szPrefix)
{
    size_t cch = wcslen(szPrefix);
    return _wcsnicmp(sz, szPrefix, cch) == 0;
}

BOOL HasWildcard(LPCWSTR sz)
{
    return wcspbrk(sz, L"*?") != nullptr;
}

// "*", "*.*", "?*.*": a name that matches every file.
BOOL IsCatchAll(LPCWSTR szName)
{
    if (!wcschr(szName, L'*'))
        return FALSE;
    for (LPCWSTR p = szName; *p; ++p)
        if (*p != L'*' && *p != L'?' && *p != L'.')
            return FALSE;
    return TRUE;
}

// "C:\", "\\server\share" and "\\server": a whole drive or share.
BOOL IsRoot(LPCWSTR szNormal)
{
    if (szNormal[0] && szNormal[1] == L':' && (szNormal[2] == 0 || (szNormal[2] == L'\\' && !szNormal[3])))
        return TRUE;
    if (szNormal[0] != L'\\' || szNormal[1] != L'\\')
        return FALSE;
    int nParts = 0;
    for (LPCWSTR p = szNormal + 2; *p;) {
        LPCWSTR pEnd = wcschr(p, L'\\');
        if (pEnd != p)
            ++nParts;
        if (!pEnd)
            break;
        p = pEnd + 1;
    }
    return nParts <= 2;
}

// Long form of a path whose last part may not exist yet.
void MakeLong(PATHBUF& szPath)
{
    PATHBUF szLong;
    DWORD cch = GetLongPathNameW(szPath, szLong, PATH_CCH);
    if (cch && cch < PATH_CCH) {
        // Shorter than PATH_CCH, checked above.
        (void)StringCchCopyW(szPath, PATH_CCH, szLong);
        return;
    }
    WCHAR* pSlash = wcsrchr(szPath, L'\\');
    if (!pSlash || pSlash == szPath || pSlash[1] == 0)
        return;
    *pSlash = 0;
    cch = GetLongPathNameW(szPath, szLong, PATH_CCH);
    *pSlash = L'\\';
    if (!cch || cch >= PATH_CCH)
        return;
    std::wstring joined = std::wstring(szLong) + L"\\" + (pSlash + 1);
    if (joined.size() < PATH_CCH)
        // Shorter than PATH_CCH, checked above.
        (void)StringCchCopyW(szPath, PATH_CCH, joined.c_str());
}

// Where an existing path really leads when a link lies on the way; FALSE
// when it is not there or the system can not tell.
BOOL FinalPathOf(LPCWSTR szPath, PATHBUF& szFinal)
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    auto pGetFinal = hKernel ? reinterpret_cast<PFN_GETFINALPATHNAMEBYHANDLEW>(reinterpret_cast<void*>(
                                   GetProcAddress(hKernel, "GetFinalPathNameByHandleW")))
                             : nullptr;
    if (!pGetFinal)
        return FALSE;
    CFileHandle hFile(CreateFileW(szPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!hFile.IsValid())
        return FALSE;
    WCHAR szRaw[PATH_CCH + 8];
    DWORD cch = pGetFinal(hFile.Get(), szRaw, ARRAYSIZE(szRaw), 0);
    if (!cch || cch >= ARRAYSIZE(szRaw))
        return FALSE;
    return NormalisePath(szRaw, szFinal) == ERROR_SUCCESS;
}

// The folders every profile has, protected in every user's profile as
// the current user's known folders are in theirs (upper case).
const WCHAR* const PROFILE_FOLDERS[] = {
    L"DESKTOP",  L"DOCUMENTS",      L"MY DOCUMENTS", L"DOWNLOADS", L"MUSIC",       L"PICTURES",
    L"VIDEOS",   L"FAVORITES",      L"LINKS",        L"CONTACTS",  L"SEARCHES",    L"SAVED GAMES",
    L"APPDATA",  L"APPDATA\\LOCAL", L"APPDATA\\ROAMING", L"APPDATA\\LOCALLOW", L"START MENU",
    L"TEMPLATES", L"ONEDRIVE",
};

// Why key (upper case) is protected as a user's profile below the
// profiles folder profiles: the profile itself (another user's, Default,
// Public ...) or one of its standard folders.
std::wstring ProfileReason(const std::wstring& profiles, const std::wstring& key)
{
    if (key.size() <= profiles.size() + 1 || key.compare(0, profiles.size(), profiles) != 0 ||
        key[profiles.size()] != L'\\')
        return L"";
    std::wstring rest = key.substr(profiles.size() + 1);
    size_t slash = rest.find(L'\\');
    if (slash == std::wstring::npos)
        return L"a user's profile";
    std::wstring inside = rest.substr(slash + 1);
    for (LPCWSTR szFolder : PROFILE_FOLDERS) {
        if (inside == szFolder)
            return L"a folder of the profile " + rest.substr(0, slash);
    }
    return L"";
}

class CProtectedFolders {
public:
    CProtectedFolders() { InitializeCriticalSection(&m_cs); }
    ~CProtectedFolders() { DeleteCriticalSection(&m_cs); }

    // The folder, and where it really is when it is a link (a known folder
    // moved elsewhere): removing the place it leads to empties it too.
    // Before the list is completed a folder only waits in line: telling
    // where each one leads opens it, and the start of a run does not wait
    // for that.
    void Add(LPCWSTR szFolder)
    {
        if (!szFolder || !szFolder[0])
            return;
        EnterCriticalSection(&m_cs);
        bool bWaits = !m_bSystemLoaded;
        if (bWaits)
            m_pending.push_back(szFolder);
        LeaveCriticalSection(&m_cs);
        if (!bWaits)
            AddNow(szFolder);
    }

    // Completes the list: the system's folders, then those waiting. Every
    // check does it first; PrepareProtectedFolders has it done beside the run.
    void LoadSystemFolders()
    {
        // The section is held throughout, so that a check made meanwhile
        // waits for the whole list; Add re-enters it.
        EnterCriticalSection(&m_cs);
        if (!m_bSystemLoaded) {
            m_bSystemLoaded = true;
            AddSystemFolders();
            std::vector<std::wstring> pending;
            pending.swap(m_pending);
            for (const std::wstring& folder : pending)
                AddNow(folder.c_str());
        }
        LeaveCriticalSection(&m_cs);
    }

    void AddNow(LPCWSTR szFolder)
    {
        // The shell, the environment and the path variables name mostly
        // the same folders; each costs a few calls to the file system.
        if (!AddNew(m_added, szFolder))
            return;
        PATHBUF szNormal;
        if (!szFolder || !szFolder[0] || NormalisePath(szFolder, szNormal) != ERROR_SUCCESS)
            return;
        AddNormal(szNormal);
        PATHBUF szFinal;
        if (FinalPathOf(szNormal, szFinal) && lstrcmpiW(szFinal, szNormal) != 0)
            AddNormal(szFinal);
    }

    void AddNormal(LPCWSTR szNormal) { AddNew(m_folders, szNormal); }

    // Adds the path to the list in upper case; FALSE when it was there.
    bool AddNew(std::vector<std::wstring>& list, LPCWSTR szPath)
    {
        std::wstring key(szPath);
        Upper(key);
        EnterCriticalSection(&m_cs);
        bool bKnown = false;
        for (const std::wstring& entry : list)
            bKnown = bKnown || entry == key;
        if (!bKnown)
            list.push_back(key);
        LeaveCriticalSection(&m_cs);
        return !bKnown;
    }

    void Reset()
    {
        EnterCriticalSection(&m_cs);
        m_folders.clear();
        m_profiles.clear();
        m_pending.clear();
        m_added.clear();
        m_bSystemLoaded = false;
        LeaveCriticalSection(&m_cs);
    }

    // A folder whose every child is a user's profile (C:\Users).
    void AddProfiles(LPCWSTR szFolder)
    {
        PATHBUF szNormal;
        if (!szFolder || !szFolder[0] || NormalisePath(szFolder, szNormal) != ERROR_SUCCESS)
            return;
        // In line with the other folders, so that the reasons keep their order.
        Add(szFolder);
        AddNew(m_profiles, szNormal);
    }

    // The reason szNormal may not be removed or emptied, or an empty text.
    std::wstring Check(LPCWSTR szNormal)
    {
        LoadSystemFolders();
        std::wstring key(szNormal);
        Upper(key);
        std::wstring holder = key;
        if (holder.back() != L'\\')
            holder += L'\\';
        std::wstring reason;
        EnterCriticalSection(&m_cs);
        for (const std::wstring& folder : m_folders) {
            if (folder == key) {
                reason = L"protected folder";
                break;
            }
            if (folder.compare(0, holder.size(), holder) == 0) {
                reason = L"holds the protected folder " + folder;
                break;
            }
        }
        for (size_t i = 0; reason.empty() && i < m_profiles.size(); ++i)
            reason = ProfileReason(m_profiles[i], key);
        LeaveCriticalSection(&m_cs);
        return reason;
    }

private:
    void AddSystemFolders()
    {
        PATHBUF szPath;
        UINT cch = GetWindowsDirectoryW(szPath, PATH_CCH);
        if (cch && cch < PATH_CCH)
            Add(szPath);
        cch = GetSystemDirectoryW(szPath, PATH_CCH);
        if (cch && cch < PATH_CCH)
            Add(szPath);
        cch = GetSystemWow64DirectoryW(szPath, PATH_CCH);
        if (cch && cch < PATH_CCH)
            Add(szPath);
        DWORD dwTemp = GetTempPathW(PATH_CCH, szPath);
        if (dwTemp && dwTemp < PATH_CCH)
            Add(szPath);
        for (LPCWSTR szName : PROTECTED_VARIABLES) {
            DWORD dw = GetEnvironmentVariableW(szName, szPath, PATH_CCH);
            if (dw && dw < PATH_CCH)
                Add(szPath);
        }
        AddShellFolders();
    }

    void AddShellFolders()
    {
        CModule hShell(LoadSystemLibrary(L"shell32.dll"));
        if (!hShell.IsValid())
            return;
        auto pGetFolderPath = reinterpret_cast<PFN_SHGETFOLDERPATHW>(
            reinterpret_cast<void*>(GetProcAddress(hShell.Get(), "SHGetFolderPathW")));
        if (pGetFolderPath) {
            for (int iCsidl : PROTECTED_CSIDLS) {
                WCHAR szPath[MAX_PATH] = L"";
                if (SUCCEEDED(pGetFolderPath(nullptr, iCsidl, nullptr, SHGFP_TYPE_CURRENT, szPath)))
                    Add(szPath);
            }
            // Every profile lies beside the user's own.
            WCHAR szProfile[MAX_PATH] = L"";
            if (SUCCEEDED(pGetFolderPath(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT,
                                         szProfile)) &&
                PathRemoveFileSpecW(szProfile))
                AddProfiles(szProfile);
        }
        auto pGetKnownFolderPath = reinterpret_cast<PFN_SHGETKNOWNFOLDERPATH>(
            reinterpret_cast<void*>(GetProcAddress(hShell.Get(), "SHGetKnownFolderPath")));
        if (pGetKnownFolderPath) {
            for (const GUID& id : PROTECTED_KNOWN_FOLDERS) {
                PWSTR pszPath = nullptr;
                if (SUCCEEDED(pGetKnownFolderPath(id, KNOWN_FOLDER_DONT_VERIFY, nullptr, &pszPath)) &&
                    pszPath)
                    Add(pszPath);
                CoTaskMemFree(pszPath);
            }
            PWSTR pszProfiles = nullptr;
            if (SUCCEEDED(pGetKnownFolderPath(FOLDERID_USERPROFILES, KNOWN_FOLDER_DONT_VERIFY, nullptr,
                                              &pszProfiles)) &&
                pszProfiles)
                AddProfiles(pszProfiles);
            CoTaskMemFree(pszProfiles);
        }
    }

    CRITICAL_SECTION m_cs;
    std::vector<std::wstring> m_folders;
    std::vector<std::wstring> m_profiles;  // folders of users' profiles, upper case
    std::vector<std::wstring> m_pending;   // added before the list was completed
    std::vector<std::wstring> m_added;     // every folder added, as given (upper case)
    bool m_bSystemLoaded = false;
};

CProtectedFolders& Protected()
{
    static CProtectedFolders s_folders;
    return s_folders;
}

BOOL IsLink(LPCWSTR szPath)
{
    DWORD dwAttributes = GetFileAttributesW(szPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Why a folder may not be removed or emptied; empty when it may.
std::wstring FolderRefusal(LPCWSTR szNormal)
{
    if (IsRoot(szNormal))
        return L"drive or share root";
    std::wstring reason = Protected().Check(szNormal);
    if (!reason.empty())
        return reason;
    // A link on the way leads somewhere else: that place counts too. A link
    // itself is removed without what it points to.
    PATHBUF szFinal;
    if (!IsLink(szNormal) && FinalPathOf(szNormal, szFinal) && lstrcmpiW(szFinal, szNormal) != 0) {
        if (IsRoot(szFinal))
            return std::wstring(L"leads to the root ") + szFinal;
        reason = Protected().Check(szFinal);
        if (!reason.empty())
            return reason + L" (through a link)";
    }
    return L"";
}

// Why the files of a folder may not all go; the folder is judged by where
// it leads, a link or not.
std::wstring PatternFolderRefusal(LPCWSTR szNormal)
{
    std::wstring reason = FolderRefusal(szNormal);
    PATHBUF szFinal;
    if (reason.empty() && IsLink(szNormal) && FinalPathOf(szNormal, szFinal)) {
        if (IsRoot(szFinal))
            return std::wstring(L"leads to the root ") + szFinal;
        reason = Protected().Check(szFinal);
        if (!reason.empty())
            reason += L" (through a link)";
    }
    return reason;
}

void SetReason(LPWSTR szReason, size_t cchReason, const std::wstring& reason)
{
    if (szReason && cchReason)
        // A reason is only shown.
        (void)StringCchCopyW(szReason, cchReason, reason.c_str());
}

}  // namespace

DWORD NormalisePath(LPCWSTR szPath, LPWSTR szOut)
{
    szOut[0] = 0;
    if (!szPath || !szPath[0])
        return ERROR_INVALID_NAME;
    std::wstring path(szPath);
    // "\\?\" and "\??\" hand a path to the system unchanged: unwrap the drive
    // and share forms, refuse every other device.
    if (StartsWithNoCase(path.c_str(), L"\\\\?\\") || StartsWithNoCase(path.c_str(), L"\\??\\")) {
        std::wstring rest = path.substr(4);
        if (StartsWithNoCase(rest.c_str(), L"UNC\\"))
            path = L"\\\\" + rest.substr(4);
        else if (rest.size() >= 2 && rest[1] == L':')
            path = rest;
        else
            return ERROR_INVALID_NAME;
    }
    if (StartsWithNoCase(path.c_str(), L"\\\\.\\"))
        return ERROR_INVALID_NAME;
    WCHAR szFull[PATH_CCH * 2];
    DWORD cch = GetFullPathNameW(path.c_str(), ARRAYSIZE(szFull), szFull, nullptr);
    if (!cch)
        return LastErrorOr(ERROR_INVALID_NAME);
    if (cch >= PATH_CCH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (StartsWithNoCase(szFull, L"\\\\.\\") || StartsWithNoCase(szFull, L"\\\\?\\"))
        return ERROR_INVALID_NAME;
    PATHBUF szWork;
    // Shorter than PATH_CCH, checked above.
    (void)StringCchCopyW(szWork, PATH_CCH, szFull);
    if (!HasWildcard(szWork))
        MakeLong(szWork);
    size_t cchWork = wcslen(szWork);
    if (cchWork > 3 && szWork[cchWork - 1] == L'\\')
        szWork[cchWork - 1] = 0;
    // A share keeps no trailing backslash either: "\\server\share".
    if (FAILED(StringCchCopyW(szOut, PATH_CCH, szWork)))
        return ERROR_FILENAME_EXCED_RANGE;
    return ERROR_SUCCESS;
}

BOOL IsSameOrBelowPath(LPCWSTR szOuter, LPCWSTR szInner)
{
    PATHBUF szA, szB;
    if (NormalisePath(szOuter, szA) != ERROR_SUCCESS ||
        NormalisePath(szInner, szB) != ERROR_SUCCESS)
        return FALSE;
    size_t cchA = wcslen(szA);
    if (_wcsnicmp(szA, szB, cchA) != 0)
        return FALSE;
    return szB[cchA] == 0 || szB[cchA] == L'\\' || szA[cchA - 1] == L'\\';
}

BOOL GuardPath(LPCWSTR szPath, GUARDOP op, BOOL bRecursive, LPWSTR szFull, LPWSTR szReason,
               size_t cchReason)
{
    szFull[0] = 0;
    SetReason(szReason, cchReason, L"");
    if (!szPath || !szPath[0]) {
        SetReason(szReason, cchReason, L"empty path");
        return FALSE;
    }
    if (NormalisePath(szPath, szFull) != ERROR_SUCCESS) {
        SetReason(szReason, cchReason, L"not a usable path");
        return FALSE;
    }
    std::wstring reason;
    switch (op) {
    case GUARD_REMOVE_FOLDER:
        reason = FolderRefusal(szFull);
        break;
    case GUARD_REMOVE_FILES:
    case GUARD_SET_ATTRIBUTES: {
        // The pattern's folder and name; "C:\\*.*" lies in "C:\\".
        std::wstring full(szFull);
        size_t slash = full.find_last_of(L'\\');
        std::wstring name = slash == std::wstring::npos ? L"" : full.substr(slash + 1);
        std::wstring folder = slash == std::wstring::npos ? L"" : full.substr(0, slash);
        if (folder.size() == 2 && folder[1] == L':')
            folder += L'\\';
        if (name.empty() || IsRoot(szFull)) {
            reason = L"no file name";
            break;
        }
        // Every file of a folder, or a walk through all below it, empties it.
        // The files listed are those of the folder the path leads to, even
        // when the folder itself is a link.
        if (bRecursive || IsCatchAll(name.c_str())) {
            std::wstring why = PatternFolderRefusal(folder.c_str());
            if (!why.empty())
                reason = (bRecursive ? L"every file below " : L"every file of ") + folder + L": " + why;
        }
        break;
    }
    case GUARD_CHANGE_FOLDER:
        if (IsRoot(szFull))
            reason = L"drive or share root";
        break;
    case GUARD_WRITE:
        break;
    }
    if (!reason.empty()) {
        SetReason(szReason, cchReason, reason);
        return FALSE;
    }
    return TRUE;
}

void ProtectFolder(LPCWSTR szFolder)
{
    Protected().Add(szFolder);
}

namespace {

DWORD WINAPI CompleteProtectedFolders(LPVOID)
{
    Protected().LoadSystemFolders();
    return 0;
}

}  // namespace

void PrepareProtectedFolders()
{
    // Without a thread the first check completes the list itself.
    HANDLE hThread = CreateThread(nullptr, 0, CompleteProtectedFolders, nullptr, 0, nullptr);
    if (hThread)
        CloseHandle(hThread);
}

void ProtectProfiles(LPCWSTR szFolder)
{
    Protected().AddProfiles(szFolder);
}

void ResetProtectedFolders()
{
    Protected().Reset();
}
