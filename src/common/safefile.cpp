#include "common/safefile.h"
#include <string>
#include <vector>
#include "common/capacity.h"
#include "common/longpath.h"
#include "common/handles.h"
#include "common/trace.h"

namespace {

typedef BOOL(WINAPI* PFN_SETFILEINFORMATIONBYHANDLE)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID,
                                                     DWORD);
struct IOSTATUS {
    ULONG_PTR Status;
    ULONG_PTR Information;
};
typedef LONG(WINAPI* PFN_NTQUERYINFORMATIONFILE)(HANDLE, IOSTATUS*, PVOID, ULONG, ULONG);
const ULONG FILE_NAME_INFORMATION_CLASS = 9;
const LONG STATUS_BUFFER_OVERFLOW_CODE = static_cast<LONG>(0x80000005);

template <typename PFN>
PFN ModuleProc(LPCWSTR szModule, const char* pszName)
{
    HMODULE hModule = GetModuleHandleW(szModule);
    return hModule ? reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)))
                   : nullptr;
}

// Came with Vista; before it there were no file links to fear.
PFN_SETFILEINFORMATIONBYHANDLE SetInfoProc()
{
    static PFN_SETFILEINFORMATIONBYHANDLE s_pfn =
        ModuleProc<PFN_SETFILEINFORMATIONBYHANDLE>(L"kernel32.dll", "SetFileInformationByHandle");
    return s_pfn;
}

PFN_NTQUERYINFORMATIONFILE QueryInfoProc()
{
    static PFN_NTQUERYINFORMATIONFILE s_pfn =
        ModuleProc<PFN_NTQUERYINFORMATIONFILE>(L"ntdll.dll", "NtQueryInformationFile");
    return s_pfn;
}

// "\\?\C:\a" and "\\?\UNC\s\h\a" as "C:\a" and "\\s\h\a".
std::wstring PlainForm(std::wstring path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

// Where what the handle holds really is, as its volume names it ("\dir\file",
// links resolved); empty when the system cannot say. The system's own
// answer at any length: the final-path call of some systems stops at
// MAX_PATH.
std::wstring HeldName(HANDLE hFile)
{
    PFN_NTQUERYINFORMATIONFILE pfn = QueryInfoProc();
    if (!pfn)
        return L"";
    ULONG small[256];  // FILE_NAME_INFORMATION: a length in bytes, then the name
    IOSTATUS io = {};
    LONG lStatus = pfn(hFile, &io, small, sizeof(small), FILE_NAME_INFORMATION_CLASS);
    if (lStatus == 0) {
        ULONG cb = small[0];
        if (cb > sizeof(small) - sizeof(ULONG))
            return L"";
        return std::wstring(reinterpret_cast<const WCHAR*>(&small[1]), cb / sizeof(WCHAR));
    }
    if (lStatus != STATUS_BUFFER_OVERFLOW_CODE || small[0] > LONG_PATH_CCH * sizeof(WCHAR))
        return L"";
    std::vector<ULONG> big(1 + small[0] / sizeof(ULONG) + 1);
    lStatus = pfn(hFile, &io, big.data(), static_cast<ULONG>(big.size() * sizeof(ULONG)),
                  FILE_NAME_INFORMATION_CLASS);
    if (lStatus != 0 || big[0] > (big.size() - 1) * sizeof(ULONG))
        return L"";
    return std::wstring(reinterpret_cast<const WCHAR*>(&big[1]), big[0] / sizeof(WCHAR));
}

std::wstring FullPathOf(LPCWSTR szPath)
{
    std::wstring path = LongPathForm(szPath);
    DWORD cch = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (cch == 0 || cch > LONG_PATH_CCH)
        return L"";
    std::wstring full(cch, L'\0');
    DWORD cchFull = GetFullPathNameW(path.c_str(), cch, &full[0], nullptr);
    if (cchFull == 0 || cchFull >= cch)
        return L"";
    full.resize(cchFull);
    return PlainForm(full);
}

// File names compare without regard to case.
bool SameText(std::wstring a, std::wstring b)
{
    if (a.size() != b.size())
        return false;
    if (!a.empty()) {
        CharUpperBuffW(&a[0], static_cast<DWORD>(a.size()));
        CharUpperBuffW(&b[0], static_cast<DWORD>(b.size()));
    }
    return a == b;
}

// Whether the entry is what its path names: its own name, in its folder
// wherever that folder really is (links on the way are the caller's
// choice). A link held as what it points to has that file's name.
bool IsOwnPlace(const std::wstring& full, const std::wstring& held)
{
    size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= full.size())
        return false;
    std::wstring folder = full.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':')
        folder += L'\\';
    CFileHandle hFolder(CreateFileW(LongPathForm(folder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!hFolder.IsValid())
        return false;
    std::wstring folderName = HeldName(hFolder.Get());
    if (folderName.empty())
        return false;
    if (folderName.back() != L'\\')
        folderName += L'\\';
    if (SameText(folderName + full.substr(slash + 1), held))
        return true;
    // A short (8.3) name stands for the long one the system reports.
    std::wstring longForm(LONG_PATH_CCH, L'\0');
    DWORD cch = GetLongPathNameW(LongPathForm(full).c_str(), &longForm[0], LONG_PATH_CCH);
    if (cch == 0 || cch >= LONG_PATH_CCH)
        return false;
    longForm.resize(cch);
    size_t longSlash = longForm.find_last_of(L'\\');
    return longSlash != std::wstring::npos && SameText(folderName + longForm.substr(longSlash + 1), held);
}

// An entry opened without following links, and what it turned out to be.
struct HELD {
    CFileHandle hFile;
    ENTRYKIND kind = ENTRY_NONE;
    bool bLinkItself = false;  // the handle holds the link, not what it points to
    DWORD dwAttributes = 0;
    DWORD dwNoDelete = ERROR_SUCCESS;  // why the handle may not delete, if it may not
};

DWORD Open(LPCWSTR szPath, HELD& held)
{
    std::wstring full = FullPathOf(szPath);
    if (full.empty())
        return ERROR_BAD_PATHNAME;
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD dwFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    std::wstring path = LongPathForm(full);
    held.hFile.Reset(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 dwShare, nullptr, OPEN_EXISTING, dwFlags, nullptr));
    if (!held.hFile.IsValid()) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
            return ERROR_FILE_NOT_FOUND;
        // Enough to look, even where deleting is not allowed (the reason is
        // kept for a delete).
        held.hFile.Reset(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, dwShare, nullptr,
                                     OPEN_EXISTING, dwFlags, nullptr));
        if (!held.hFile.IsValid())
            return dwError ? dwError : ERROR_ACCESS_DENIED;
        held.dwNoDelete = dwError ? dwError : ERROR_ACCESS_DENIED;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(held.hFile.Get(), &info))
        return GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    held.dwAttributes = info.dwFileAttributes;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        held.kind = ENTRY_LINK;
        held.bLinkItself = true;
        return ERROR_SUCCESS;
    }
    std::wstring name = HeldName(held.hFile.Get());
    held.kind = !name.empty() && IsOwnPlace(full, name) ? ENTRY_PLAIN : ENTRY_LINK;
    return ERROR_SUCCESS;
}

DWORD SetBasicAttributes(HANDLE hFile, DWORD dwAttributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = dwAttributes ? dwAttributes : FILE_ATTRIBUTE_NORMAL;
    if (!SetInfoProc()(hFile, FileBasicInfo, &basic, sizeof(basic)))
        return GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// Deletes what the handle holds: the file, or the link itself.
DWORD DeleteHeld(HELD& held)
{
    if (held.dwNoDelete != ERROR_SUCCESS)
        return held.dwNoDelete;
    if (held.dwAttributes & FILE_ATTRIBUTE_READONLY) {
        DWORD dwError = SetBasicAttributes(held.hFile.Get(), held.dwAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (dwError != ERROR_SUCCESS)
            return dwError;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetInfoProc()(held.hFile.Get(), FileDispositionInfo, &disposition, sizeof(disposition)))
        return GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    held.hFile.Close();
    return ERROR_SUCCESS;
}

}  // namespace

ENTRYKIND InspectEntry(LPCWSTR szPath)
{
    if (!szPath || !szPath[0])
        return ENTRY_NONE;
    HELD held;
    DWORD dwError = Open(szPath, held);
    if (dwError == ERROR_FILE_NOT_FOUND)
        return ENTRY_NONE;
    // What cannot even be looked at is not taken for a plain file.
    return dwError == ERROR_SUCCESS ? held.kind : ENTRY_LINK;
}

DWORD DeleteFileNoLink(LPCWSTR szPath)
{
    if (!szPath || !szPath[0])
        return ERROR_BAD_PATHNAME;
    if (!SetInfoProc()) {
        // Before Vista: no file links, and no deleting through a handle.
        std::wstring path = LongPathForm(szPath);
        DWORD dwAttributes = GetFileAttributesW(path.c_str());
        if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(path.c_str(), dwAttributes & ~FILE_ATTRIBUTE_READONLY);
        return DeleteFileW(path.c_str()) ? ERROR_SUCCESS
                                         : (GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED);
    }
    HELD held;
    DWORD dwError = Open(szPath, held);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    if (held.kind == ENTRY_LINK && !held.bLinkItself) {
        DebugTrace(L"DeleteFileNoLink(%s)->a link, left where it is", szPath);
        return ERROR_CANT_ACCESS_FILE;
    }
    if ((held.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !held.bLinkItself)
        return ERROR_ACCESS_DENIED;  // a folder is no file to delete
    return DeleteHeld(held);
}

DWORD SetAttributesNoLink(LPCWSTR szPath, DWORD dwAttributes)
{
    if (!szPath || !szPath[0])
        return ERROR_BAD_PATHNAME;
    if (!SetInfoProc())
        return SetFileAttributesW(LongPathForm(szPath).c_str(), dwAttributes)
                   ? ERROR_SUCCESS
                   : (GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED);
    HELD held;
    DWORD dwError = Open(szPath, held);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    if (held.kind == ENTRY_LINK) {
        // Not even the link's own: a link's attributes are not the run's to set.
        DebugTrace(L"SetAttributesNoLink(%s)->a link, left as it is", szPath);
        return ERROR_CANT_ACCESS_FILE;
    }
    return SetBasicAttributes(held.hFile.Get(), dwAttributes);
}

DWORD ClearForWrite(LPCWSTR szPath)
{
    DWORD dwError = DeleteFileNoLink(szPath);
    return dwError == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : dwError;
}

HANDLE CreateFileNoLink(LPCWSTR szPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                        DWORD dwFlags)
{
    std::wstring path = LongPathForm(szPath ? szPath : L"");
    // A new file never follows anything already there.
    if (dwDisposition == CREATE_NEW)
        return CreateFileW(path.c_str(), dwAccess, dwShare, nullptr, CREATE_NEW, dwFlags, nullptr);
    for (int iTry = 0; iTry < 2; ++iTry) {
        ENTRYKIND kind = GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                                 GetLastError() != ERROR_ACCESS_DENIED
                             ? ENTRY_NONE
                             : InspectEntry(szPath);
        if (kind == ENTRY_PLAIN)
            return CreateFileW(path.c_str(), dwAccess, dwShare, nullptr, dwDisposition, dwFlags,
                               nullptr);
        if (kind == ENTRY_LINK) {
            DWORD dwError = ClearForWrite(szPath);
            if (dwError != ERROR_SUCCESS) {
                SetLastError(dwError);
                return INVALID_HANDLE_VALUE;
            }
        }
        if (dwDisposition == OPEN_EXISTING || dwDisposition == TRUNCATE_EXISTING) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        // Nothing there (a dangling link counts as something: CREATE_NEW
        // refuses it, and the next round looks at it).
        HANDLE hFile =
            CreateFileW(path.c_str(), dwAccess, dwShare, nullptr, CREATE_NEW, dwFlags, nullptr);
        if (hFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return hFile;
    }
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
}
