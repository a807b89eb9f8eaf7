#include "launcher/tempfolders.h"
#include "common/safefile.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include "common/filesys.h"
#include "common/handles.h"
#include "common/privfolder.h"
#include "common/profilefile.h"
#include "common/registry.h"
#include "common/runfiles.h"
#include "common/trace.h"
#include "state/pathvar.h"
#include "state/state.h"

namespace {

// Private names tried after the documented one.
const unsigned PRIVATE_TRIES = 16;
// Left in a scratch folder kept for a RunOnce command: names the value.
const WCHAR RESTART_NOTE[] = L"restart.pending";
const WCHAR LOCK_FILE_NAME[] = L"run.lock";

BOOL JoinName(LPWSTR szOut, LPCWSTR szFolder, LPCWSTR szName)
{
    return SUCCEEDED(StringCchPrintfW(szOut, PATH_CCH, L"%s\\%s", szFolder, szName));
}

// A scratch folder kept for a command that has not run yet.
BOOL IsKeptForRestart(LPCWSTR szFolder)
{
    WCHAR szNote[PATH_CCH];
    if (!JoinName(szNote, szFolder, RESTART_NOTE) || !FileExists(szNote))
        return FALSE;
    WCHAR szValue[PATH_CCH] = L"";
    GetPrivateProfileStringW(L"Restart", L"Value", L"", szValue, PATH_CCH, szNote);
    WCHAR szData[4];
    // Only the value's presence counts; its text may be long.
    HKEY hKey = nullptr;
    BOOL bPending = FALSE;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RUNONCE_KEY, 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
        CRegKey key(hKey);
        DWORD cb = sizeof(szData);
        LONG lResult = RegQueryValueExW(key.Get(), szValue, nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(szData), &cb);
        bPending = lResult == ERROR_SUCCESS || lResult == ERROR_MORE_DATA;
    }
    return bPending;
}

// Takes one folder: a missing one is created private and locked; one that
// is there is cleared first when it is a leftover of this user's ended run.
DWORD ClaimFolder(LPCWSTR szFolder, HANDLE* phLock)
{
    if (GetFileAttributesW(szFolder) != INVALID_FILE_ATTRIBUTES) {
        LPCWSTR szWhy = ForeignFolderReason(szFolder);
        if (!szWhy && IsFolderLocked(szFolder))
            szWhy = L"in use by another run";
        if (!szWhy && IsKeptForRestart(szFolder))
            szWhy = L"kept for a command after the restart";
        if (szWhy) {
            DebugTrace(L"WinMain()->Folder '%s' not used: %s", szFolder, szWhy);
            return ERROR_ALREADY_EXISTS;
        }
        // What an ended run left behind goes first: nothing of it is used.
        BOOL bRemoved = RemoveDirectoryTree(szFolder, FS_INCLUDE_SUBDIR) == ERROR_SUCCESS;
        DebugTrace(L"WinMain()->Remove folder '%s' (%d)", szFolder, bRemoved);
        if (!bRemoved) {
            DebugTrace(L"WinMain()->Folder '%s' not used: it can not be cleared", szFolder);
            return ERROR_ALREADY_EXISTS;
        }
    }
    DWORD dwMade = CreatePrivateFolder(szFolder);
    if (dwMade != ERROR_SUCCESS)
        return dwMade;
    HANDLE hLock = LockFolder(szFolder);
    if (hLock == INVALID_HANDLE_VALUE) {
        // Another run cleared it in between: take another.
        DWORD dwError = GetLastError();
        RemoveDirectoryW(szFolder);
        return dwError ? dwError : ERROR_CANNOT_MAKE;
    }
    *phLock = hLock;
    return ERROR_SUCCESS;
}

// Everything in the scratch folder but its lock and szKeep.
void EmptyScratchFolder(LPCWSTR szScratch, LPCWSTR szKeep)
{
    WCHAR szSearch[PATH_CCH];
    if (!JoinName(szSearch, szScratch, L"*"))
        return;
    WIN32_FIND_DATAW fd;
    CFindHandle find(FindFirstFileW(szSearch, &fd));
    for (BOOL bMore = find.IsValid(); bMore; bMore = FindNextFileW(find.Get(), &fd)) {
        if (!lstrcmpW(fd.cFileName, L".") || !lstrcmpW(fd.cFileName, L"..") ||
            !lstrcmpiW(fd.cFileName, LOCK_FILE_NAME) || (szKeep && !lstrcmpiW(fd.cFileName, szKeep)))
            continue;
        WCHAR szPath[PATH_CCH];
        if (!JoinName(szPath, szScratch, fd.cFileName))
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DebugTrace(L"WinMain()->Remove folder '%s' (%d)", szPath,
                       RemoveDirectoryTree(szPath, FS_INCLUDE_SUBDIR) == ERROR_SUCCESS);
        } else {
            // The file itself, never what a link there points to.
            DebugTrace(L"DeleteFile(%s)->%d", szPath, DeleteFileNoLink(szPath) == ERROR_SUCCESS);
        }
    }
}

}  // namespace

DWORD TakeScratchFolder(LPCWSTR szTemp, WCHAR (&szScratch)[PATH_CCH], HANDLE* phLock)
{
    *phLock = INVALID_HANDLE_VALUE;
    if (FAILED(StringCchPrintfW(szScratch, PATH_CCH, L"%s\\%s", szTemp, TRV_DEFAULT_GUID)))
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD dwError = ClaimFolder(szScratch, phLock);
    DWORD dwPid = GetCurrentProcessId();
    for (unsigned n = 0; dwError != ERROR_SUCCESS && n < PRIVATE_TRIES; ++n) {
        WCHAR szPrivate[PATH_CCH];
        HRESULT hr = n == 0 ? StringCchPrintfW(szPrivate, PATH_CCH, L"%s\\%s.%u", szTemp,
                                               TRV_DEFAULT_GUID, dwPid)
                            : StringCchPrintfW(szPrivate, PATH_CCH, L"%s\\%s.%u.%u", szTemp,
                                               TRV_DEFAULT_GUID, dwPid, n);
        if (FAILED(hr))
            return ERROR_FILENAME_EXCED_RANGE;
        dwError = ClaimFolder(szPrivate, phLock);
        if (dwError == ERROR_SUCCESS)
            // Same capacity.
            (void)StringCchCopyW(szScratch, PATH_CCH, szPrivate);
    }
    // Every name taken by someone else: not "already running" (183), which
    // means another copy of the same package.
    return dwError == ERROR_ALREADY_EXISTS ? static_cast<DWORD>(ERROR_CANNOT_MAKE) : dwError;
}

BOOL TakeResumeFolder(LPCWSTR szFolder)
{
    DWORD dwAttributes = GetFileAttributesW(szFolder);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A link leads where the run never meant to write: a real folder
        // of its own takes its place.
        BOOL bRemoved = RemoveDirectoryW(szFolder) &&
                        GetFileAttributesW(szFolder) == INVALID_FILE_ATTRIBUTES;
        DebugTrace(L"WinMain()->Link '%s' removed (%d)", szFolder, bRemoved);
        if (!bRemoved)
            return FALSE;
        dwAttributes = INVALID_FILE_ATTRIBUTES;
    }
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return CreatePrivateFolder(szFolder) == ERROR_SUCCESS;
    LPCWSTR szWhy = ForeignFolderReason(szFolder);
    if (szWhy) {
        DebugTrace(L"WinMain()->Folder '%s' not used: %s", szFolder, szWhy);
        return FALSE;
    }
    // What an earlier run left is the run's own again: nobody else may
    // write there, and no link inside leads out. A link that can not be
    // removed keeps the run out of the folder, and so does a list that
    // can not be replaced: others might still write there.
    if (MakeFolderPrivate(szFolder) != ERROR_SUCCESS) {
        DebugTrace(L"WinMain()->Folder '%s' not used: its access list can not be made private",
                   szFolder);
        return FALSE;
    }
    if (!RemoveLinksBelow(szFolder)) {
        DebugTrace(L"WinMain()->Folder '%s' not used: a link in it can not be removed", szFolder);
        return FALSE;
    }
    return TRUE;
}

void ReleaseScratchFolder(LPCWSTR szScratch, HANDLE hLock, LPCWSTR szKeep, LPCWSTR szRunOnceValue)
{
    if (!szScratch[0] || !FolderExists(szScratch)) {
        if (hLock != INVALID_HANDLE_VALUE)
            CloseHandle(hLock);
        return;
    }
    // Emptied while still locked, so that no other run takes it meanwhile.
    EmptyScratchFolder(szScratch, szKeep);
    if (szKeep) {
        WCHAR szNote[PATH_CCH];
        // The value is named after the product: the note keeps every
        // character of it.
        if (JoinName(szNote, szScratch, RESTART_NOTE) &&
            CreateUnicodeProfile(szNote) == ERROR_SUCCESS) {
            WritePrivateProfileStringW(L"Restart", L"Value", szRunOnceValue ? szRunOnceValue : L"",
                                       szNote);
            WritePrivateProfileStringW(nullptr, nullptr, nullptr, szNote);
        }
        DebugTrace(L"WinMain()->the folder '%s' will not be removed!", szScratch);
        if (hLock != INVALID_HANDLE_VALUE)
            CloseHandle(hLock);
        return;
    }
    if (hLock != INVALID_HANDLE_VALUE)
        CloseHandle(hLock);
    BOOL bRemoved = RemoveDirectoryTree(szScratch, FS_INCLUDE_SUBDIR) == ERROR_SUCCESS;
    DebugTrace(L"WinMain()->Remove folder '%s' (%d)", szScratch, bRemoved);
}

void RemoveTargetFolder(LPCWSTR szFolder, BOOL bOwn)
{
    if (bOwn || IsRunFolder(szFolder)) {
        BOOL bRemoved = RemoveDirectoryTree(szFolder, FS_INCLUDE_SUBDIR) == ERROR_SUCCESS;
        DebugTrace(L"WinMain()->Remove folder '%s' (%d)", szFolder, bRemoved);
        return;
    }
    // It was there before the run: what was in it before stays.
    RemoveRunFiles(szFolder);
    DebugTrace(L"WinMain()->the folder '%s' was there before: only the run's files removed",
               szFolder);
}

BOOL IsGuidForm(LPCWSTR szGuid)
{
    const size_t GUID_LENGTH = 38;
    if (!szGuid || wcslen(szGuid) != GUID_LENGTH || szGuid[0] != L'{' ||
        szGuid[GUID_LENGTH - 1] != L'}')
        return FALSE;
    for (size_t i = 1; i < GUID_LENGTH - 1; ++i) {
        WCHAR ch = szGuid[i];
        BOOL bDash = i == 9 || i == 14 || i == 19 || i == 24;
        BOOL bHex = (ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f') ||
                    (ch >= L'A' && ch <= L'F');
        if (bDash ? ch != L'-' : !bHex)
            return FALSE;
    }
    return TRUE;
}
