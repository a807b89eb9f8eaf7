#include "payload/resources.h"
#include <shlwapi.h>
#include <strsafe.h>
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/trace.h"
#include "launcher/config.h"
#include "launcher/projectinfo.h"
#include "launcher/state.h"
#include "payload/archive.h"
#include "ui/progress.h"
#include "ui/res/resource.h"

int g_nCorvelFrameTop;

namespace {

const WCHAR STAGED_DATA[] = L"SETUPZK.CAB";
const WCHAR CORVEL_TMP[] = L"Corvel.tmp";
const WCHAR CORVEL_DLL[] = L"Corvel.dll";
const WCHAR CORVEL_THM[] = L"Corvel.thm";
const DWORD FRAME_CCH = 64;  // "left,top,right,bottom"
const DWORD CODE_WRITE_FAILED = 23;  // the run's read-or-write failure

using PFN_SCRVSTARTUP = int(WINAPI*)(UINT);
using PFN_LOADCOLORSSCHEME = bool(WINAPI*)(LPCSTR, UINT);
using PFN_GLOBALSUBCLASSDIALOG = void(WINAPI*)();
using PFN_SCRVSHUTDOWN = void(WINAPI*)();

BOOL FileExists(LPCWSTR szPath)
{
    DWORD dwAttr = GetFileAttributesW(szPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

// Writes the staged archive in chunks; FALSE on a failed or stalled write.
BOOL WriteStagedData(HANDLE hFile, const BYTE* pData, DWORD dwSize, DWORD dwChunk)
{
    DWORD dwWritten = 0;
    if (dwSize <= dwChunk)
        return WriteFile(hFile, pData, dwSize, &dwWritten, nullptr) && dwWritten == dwSize;
    DWORD dwRemain = dwSize;
    ULONGLONG ullTotal = 0;
    while (dwRemain > 0 && !g_bCancel) {
        DWORD dwToWrite = dwRemain < dwChunk ? dwRemain : dwChunk;
        BOOL bOk = WriteFile(hFile, pData, dwToWrite, &dwWritten, nullptr);
        DebugTrace(L"ExtractDATARes()->dwLgRemain=%d dwNbOfBytesToWrite=%d Bytes Write=%d oct",
                   dwRemain, dwToWrite, dwWritten);
        if (!bOk || dwWritten == 0)
            return FALSE;
        pData += dwWritten;
        dwRemain -= dwWritten;
        ullTotal += dwWritten;
        g_Progress.NewStep(ullTotal);
    }
    return TRUE;
}

// Frame height of the skin: "TopLeft" of the frame file named by the theme.
void ReadCorvelFrame(LPCWSTR szTheme)
{
    WCHAR szFrameName[PATH_CCH];
    GetPrivateProfileStringW(L"Dialog", L"FrameShape", L"Dialog.inf", szFrameName, PATH_CCH, szTheme);
    WCHAR szFrame[PATH_CCH];
    StringCchCopyW(szFrame, PATH_CCH, szTheme);
    PathRemoveFileSpecW(szFrame);
    if (!PathAppendW(szFrame, PathFindFileNameW(szFrameName)))
        return;
    WCHAR szTopLeft[FRAME_CCH];
    GetPrivateProfileStringW(L"FrameWork", L"TopLeft", L"0,0,0,0", szTopLeft, FRAME_CCH, szFrame);
    if (!szTopLeft[0])
        return;
    int values[4] = {};
    LPWSTR psz = szTopLeft;
    for (int i = 0; i < 4; ++i) {
        values[i] = StrToIntW(psz);
        LPWSTR pszComma = wcschr(psz, L',');
        if (!pszComma) {
            if (i < 3)
                return;  // fewer than four numbers: no frame
            break;
        }
        psz = pszComma + 1;
    }
    g_nCorvelFrameTop = values[3] - values[1] - 2;
}

}  // namespace

DWORD ExtractDATARes(HGLOBAL hResData, DWORD dwSize)
{
    if (!hResData)
        return ERROR_INVALID_DATA;
    if (dwSize == 0) {
        FreeResource(hResData);
        return ERROR_SUCCESS;
    }
    const BYTE* pData = static_cast<const BYTE*>(LockResource(hResData));
    if (!pData) {
        FreeResource(hResData);
        return ERROR_INVALID_DATA;
    }

    WCHAR szStaged[PATH_CCH];
    if (!PathCombineW(szStaged, DataPath, STAGED_DATA)) {
        FreeResource(hResData);
        return ERROR_BAD_PATHNAME;
    }
    HANDLE hFile = CreateFileW(szStaged, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD dwCreateError = GetLastError();
    DWORD dwChunk = dwSize > DATARES_SMALL_LIMIT ? dwSize / DATARES_CHUNK_DIVISOR
                                               : static_cast<DWORD>(RESOURCE_CHUNK);
    DebugTrace(L"ExtractDATARes()->LgData=%d oct MaxDataRead=%d oct", dwSize, dwChunk);
    if (hFile == INVALID_HANDLE_VALUE) {
        DebugTrace(L"ExtractDATARes()->CreateFile(%s)->%d", szStaged, dwCreateError);
        FreeResource(hResData);
        return CODE_WRITE_FAILED;
    }

    g_Progress.DefineStep(0, DATARES_WRITE_END, dwSize);
    BOOL bWritten = WriteStagedData(hFile, pData, dwSize, dwChunk);
    CloseHandle(hFile);
    g_Progress.GoToMaxStep(0);
    DWORD dwCode;
    if (!bWritten) {
        // A staged archive that could not be written whole is not unpacked.
        DebugTrace(L"ExtractDATARes()->WriteFile(%s) failed!", szStaged);
        dwCode = CODE_WRITE_FAILED;
    } else {
        g_Progress.DefineStep(DATARES_WRITE_END, DATARES_UNPACK_END, dwSize);
        if (GetFileAttributesW(g_ProjectInfo.szTgdFolder) == INVALID_FILE_ATTRIBUTES)
            CreateAllDirectory(g_ProjectInfo.szTgdFolder);
        dwCode = UnCompressFile(szStaged, g_ProjectInfo.szTgdFolder, g_ProjectInfo.bRestoreTree);
    }
    DeleteFileW(szStaged);
    FreeResource(hResData);
    return dwCode;
}

HMODULE SetCorvelThm()
{
    if (!FindResourceW(hInstance, MAKEINTRESOURCEW(IDR_CORVEL), L"CORVEL"))
        return nullptr;
    WCHAR szPack[PATH_CCH];
    WCHAR szLibrary[PATH_CCH];
    WCHAR szTheme[PATH_CCH];
    if (!PathCombineW(szPack, TempPathTRV, CORVEL_TMP) ||
        !PathCombineW(szLibrary, TempPathTRV, CORVEL_DLL) ||
        !PathCombineW(szTheme, TempPathTRV, CORVEL_THM))
        return nullptr;
    if (!ExtractRes(hInstance, IDR_CORVEL, L"CORVEL", szPack)) {
        DeleteFileW(szPack);
        return nullptr;
    }
    DWORD dwCode = UnCompressFile(szPack, TempPathTRV, FALSE);
    DeleteFileW(szPack);
    if (dwCode != ERROR_SUCCESS)
        return nullptr;

    if (!FileExists(szTheme)) {
        DebugTrace(L"SetCorvelThm()->'%s' doesn't exist!", szLibrary);
        return nullptr;
    }
    // By full path; the library's own dependencies may lie beside it.
    HMODULE hCorvel = LoadLibraryExW(szLibrary, nullptr,
                                     LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!hCorvel && GetLastError() == ERROR_INVALID_PARAMETER)
        hCorvel = LoadLibraryExW(szLibrary, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!hCorvel)
        return nullptr;
    DebugTrace(L"SetCorvelThm()->Corvel loaded! (%x)", hCorvel);

    auto pfnStartup = reinterpret_cast<PFN_SCRVSTARTUP>(GetProcAddress(hCorvel, "IScrvStartup"));
    auto pfnLoadColors =
        reinterpret_cast<PFN_LOADCOLORSSCHEME>(GetProcAddress(hCorvel, "ISLoadColorsScheme"));
    auto pfnSubclass =
        reinterpret_cast<PFN_GLOBALSUBCLASSDIALOG>(GetProcAddress(hCorvel, "ISGlobalSubclassDialog"));
    if (pfnStartup)
        pfnStartup(0);
    else
        DebugTrace(L"SetCorvelThm()->Function 'crvStartup' failed!");
    if (pfnLoadColors) {
        char szThemeA[PATH_CCH];
        if (!WideCharToMultiByte(CP_ACP, 0, szTheme, -1, szThemeA, PATH_CCH, nullptr, nullptr))
            szThemeA[0] = '\0';
        pfnLoadColors(szThemeA, 0);
    } else {
        DebugTrace(L"SetCorvelThm()->Function 'LoadColorScheme' failed!");
    }
    if (pfnSubclass)
        pfnSubclass();
    else
        DebugTrace(L"SetCorvelThm()->Function 'GlobalSubclassDialog' failed!");

    ReadCorvelFrame(szTheme);
    return hCorvel;
}

void FreeCorvelThm(HMODULE hCorvel)
{
    if (!hCorvel)
        return;
    auto pfnShutdown = reinterpret_cast<PFN_SCRVSHUTDOWN>(GetProcAddress(hCorvel, "IScrvShutdown"));
    if (pfnShutdown)
        pfnShutdown();
    FreeLibrary(hCorvel);
}
