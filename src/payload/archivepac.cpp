// PAC archives: told by their 94-byte header, unpacked by QELTRON.dll,
// which packages carry. The library is loaded by full path only, and only
// the copy this run unpacked into its temporary folder.
#include "payload/archivepac.h"
#include "common/handles.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <string.h>
#include "common/capacity.h"
#include "common/filecopy.h"
#include "common/filesys.h"
#include "common/foreignfiles.h"
#include "common/runfiles.h"
#include "common/trace.h"
#include "state/state.h"
#include "payload/archive.h"
#include "payload/archiveutil.h"

namespace {

typedef int(WINAPI* PFN_PACUNPACK)(LPCSTR szArchive, LPCSTR szTargetDir);
const int PAC_FAILED = -1;
const WCHAR PAC_LIBRARY[] = L"QELTRON.dll";

// Loaded on first use, released at the end of the run.
HMODULE g_hPacLibrary;
PFN_PACUNPACK g_pfnPacUnpack;

PFN_PACUNPACK GetPacUnpacker(LPCWSTR szLibraryFolder)
{
    PFN_PACUNPACK& s_pfnUnpack = g_pfnPacUnpack;
    if (s_pfnUnpack)
        return s_pfnUnpack;
    WCHAR szPath[PATH_CCH];
    if (!szLibraryFolder || !szLibraryFolder[0] ||
        FAILED(StringCchCopyW(szPath, PATH_CCH, szLibraryFolder)) ||
        !PathAppendW(szPath, PAC_LIBRARY) ||
        GetFileAttributesW(szPath) == INVALID_FILE_ATTRIBUTES) {
        DebugTrace(L"UnPAC()->%s not found", PAC_LIBRARY);
        return nullptr;
    }
    // A copy this run did not unpack, beside the launcher or planted in the
    // temporary folder, is never loaded.
    DWORD dwError = ERROR_SUCCESS;
    if (!IsOwnLibrary(szPath, &dwError)) {
        DebugTrace(L"UnPAC()->%s is not the package's own: not loaded (%d)", szPath, dwError);
        return nullptr;
    }
    HMODULE hLibrary = LoadLibraryExW(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!hLibrary) {
        DebugTrace(L"UnPAC()->LoadLibrary(%s) failed (%d)", szPath, GetLastError());
        return nullptr;
    }
    s_pfnUnpack = reinterpret_cast<PFN_PACUNPACK>(reinterpret_cast<void*>(
        GetProcAddress(hLibrary, MAKEINTRESOURCEA(pac::UNPACK_ORDINAL))));
    if (!s_pfnUnpack) {
        DebugTrace(L"UnPAC()->%s has no unpacker", szPath);
        FreeLibrary(hLibrary);
    } else {
        g_hPacLibrary = hLibrary;
    }
    return s_pfnUnpack;
}

}  // namespace

void FreePacUnpacker()
{
    if (!g_hPacLibrary)
        return;
    FreeLibrary(g_hPacLibrary);
    g_hPacLibrary = nullptr;
    g_pfnPacUnpack = nullptr;
}

BOOL IsaPacFile(LPCWSTR szPath)
{
    CFileHandle hFile(CreateFileW(szPath ? szPath : L"", GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid()) {
        DebugTrace(L"IsaPacFile(%s)->INVALID_HANDLE_VALUE", szPath ? szPath : L"");
        return FALSE;
    }
    BYTE header[pac::HEADER_SIZE];
    DWORD cbRead = 0;
    if (!ReadFile(hFile.Get(), header, pac::HEADER_SIZE, &cbRead, nullptr) ||
        cbRead != pac::HEADER_SIZE)
        return FALSE;
    return memcmp(header, pac::HEADER, pac::HEADER_SIZE) == 0;
}

DWORD UnPacArchive(LPCWSTR szArchive, LPCWSTR szTargetDir, LPCWSTR szLibraryFolder)
{
    if (!szArchive || !szArchive[0] || !szTargetDir || !szTargetDir[0] ||
        wcslen(szArchive) >= PATH_CCH || wcslen(szTargetDir) >= PATH_CCH)
        return ERROR_INVALID_PARAMETER;
    WCHAR wszTarget[PATH_CCH];
    // Shorter than PATH_CCH, checked above.
    (void)StringCchCopyW(wszTarget, PATH_CCH, szTargetDir);
    size_t cchTarget = wcslen(wszTarget);
    if (wszTarget[cchTarget - 1] != L'\\' && FAILED(StringCchCatW(wszTarget, PATH_CCH, L"\\")))
        return ERROR_FILENAME_EXCED_RANGE;
    // The library takes 8-bit paths: each must name this very file, in the
    // code page or by its short name.
    char szArchiveA[PATH_CCH];
    char szTargetA[PATH_CCH];
    DWORD dwError = CodePagePathOf(szArchive, szArchiveA, PATH_CCH);
    if (dwError == ERROR_SUCCESS)
        dwError = CodePagePathOf(wszTarget, szTargetA, PATH_CCH);
    if (dwError != ERROR_SUCCESS) {
        DebugTrace(L"UnPAC()->%s or %s has no 8-bit form (%d)", szArchive, wszTarget, dwError);
        return dwError;
    }
    size_t cb = strlen(szTargetA);
    if (cb == 0 || (szTargetA[cb - 1] != '\\' && FAILED(StringCchCatA(szTargetA, PATH_CCH, "\\"))))
        return ERROR_FILENAME_EXCED_RANGE;
    PFN_PACUNPACK pfnUnpack = GetPacUnpacker(szLibraryFolder);
    // The library writes on its own: what is new or changed afterwards is
    // what this run wrote.
    CFolderSnapshot before(wszTarget);
    SetLastError(ERROR_SUCCESS);
    int iResult = pfnUnpack ? pfnUnpack(szArchiveA, szTargetA) : PAC_FAILED;
    // The library gives the cause as the thread's last error.
    DWORD dwCause = pfnUnpack ? WriteErrorCode(GetLastError()) : ERROR_MOD_NOT_FOUND;
    before.NoteChanges();
    if (iResult == PAC_FAILED) {
        if (!dwCause)
            dwCause = ERROR_INVALID_DATA;
        DebugTrace(L"UnPAC()->%s failed (%d)", szArchive, dwCause);
        return dwCause;
    }
    DebugTrace(L"UnPAC()->%s unpacked in %s", szArchive, wszTarget);
    return ERROR_SUCCESS;
}

