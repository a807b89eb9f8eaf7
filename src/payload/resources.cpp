#include "payload/resources.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include "common/blockcopy.h"
#include "common/capacity.h"
#include "common/checkedmath.h"
#include "common/errors.h"
#include "common/filecopy.h"
#include "common/filesys.h"
#include "common/handles.h"
#include "common/progress.h"
#include "common/runfiles.h"
#include "common/trace.h"
#include "payload/archive.h"
#include "payload/itemcheck.h"
#include "payload/plan.h"
#include "res/resource.h"
#include "state/config.h"
#include "state/runcontext.h"
#include "state/state.h"

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

// Frame height of the skin: "TopLeft" of the frame file named by the theme;
// 0 without one.
int ReadCorvelFrame(LPCWSTR szTheme)
{
    WCHAR szFrameName[PATH_CCH];
    GetPrivateProfileStringW(L"Dialog", L"FrameShape", L"Dialog.inf", szFrameName, PATH_CCH, szTheme);
    WCHAR szFrame[PATH_CCH];
    // Same capacity.
    (void)StringCchCopyW(szFrame, PATH_CCH, szTheme);
    PathRemoveFileSpecW(szFrame);
    if (!PathAppendW(szFrame, PathFindFileNameW(szFrameName)))
        return 0;
    WCHAR szTopLeft[FRAME_CCH];
    GetPrivateProfileStringW(L"FrameWork", L"TopLeft", L"0,0,0,0", szTopLeft, FRAME_CCH, szFrame);
    if (!szTopLeft[0])
        return 0;
    int values[4] = {};
    LPWSTR psz = szTopLeft;
    for (int i = 0; i < 4; ++i) {
        values[i] = StrToIntW(psz);
        LPWSTR pszComma = wcschr(psz, L',');
        if (!pszComma) {
            if (i < 3)
                return 0;  // fewer than four numbers: no frame
            break;
        }
        psz = pszComma + 1;
    }
    return values[3] - values[1] - 2;
}

const WCHAR BINARY_TMP[] = L"Binary.tmp";
const WCHAR NEUTRAL_PACK[] = L"Neutral.001";
const WCHAR NEUTRAL_CT_PACK[] = L"Neutral_CT.001";
const WCHAR PACK_EXTENSION[] = L".001";
const WCHAR CT_PACK_ENDING[] = L"_CT.001";
const WCHAR CT_FOLDER[] = L"CT";

// The folder of the product-tracking copy: the target folder when that
// copy is switched on, else TempPathTRV\CT.
void GetCopyFolder(const RUNCONTEXT& ctx, LPWSTR szFolder, DWORD cchFolder)
{
    if (ctx.zkTools.bZkcts && ctx.project.szTgdFolder[0])
        // Same capacity.
        (void)StringCchCopyW(szFolder, cchFolder, ctx.project.szTgdFolder);
    else if (!PathCombineW(szFolder, ctx.szTempTRV, CT_FOLDER))
        szFolder[0] = L'\0';
}

// Takes one pack out of the language pack into TempPathTRV and, when it was
// there, unpacks it flat into szTarget and deletes it. A pack the package
// does not carry is no failure: not every package has neutral files or a
// tracking copy.
DWORD UnpackMember(const RUNCONTEXT& ctx, LPCWSTR szBinary, LPCWSTR szMember, LPCWSTR szTarget,
                   BOOL bCreateTarget)
{
    WCHAR szPack[PATH_CCH];
    if (!PathCombineW(szPack, ctx.szTempTRV, szMember))
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD dwCode = UnPackCABFile(szBinary, ctx.szTempTRV, szMember, FALSE);
    if (dwCode == ERROR_FILE_NOT_FOUND && !FileExists(szPack))
        return ERROR_SUCCESS;  // not in this package
    if (dwCode == ERROR_SUCCESS && bCreateTarget)
        dwCode = CreateAllDirectory(szTarget);
    if (dwCode == ERROR_SUCCESS)
        dwCode = UnCompressFile(szPack, szTarget, FALSE, ctx.szTempTRV);
    if (dwCode != ERROR_SUCCESS)
        DebugTrace(L"ExtractBinaryRes()->%s could not be unpacked (%d)", szMember, dwCode);
    (void)DeleteFileNoLink(szPack);  // a pack is unpacked once
    return dwCode;
}

// Writes the staged archive in chunks; FALSE on a failed or stalled write.
BOOL WriteStagedData(HANDLE hFile, const BYTE* pData, DWORD dwSize, DWORD dwChunk)
{
    DWORD dwWritten = 0;
    if (dwSize <= dwChunk) {
        DWORD dwError = WriteAll(hFile, pData, dwSize, &dwWritten);
        SetLastError(dwError);  // where the caller reads the reason
        return dwError == ERROR_SUCCESS;
    }
    ULONGLONG ullTotal = 0;
    auto observer = MakeBlockObserver(
        [](DWORD, DWORD, BOOL, ULONGLONG) {},
        [&](DWORD cbWritten, BOOL, ULONGLONG ullLeft) {
            DebugTrace(L"ExtractDATARes()->dwLgRemain=%d dwNbOfBytesToWrite=%d Bytes Write=%d oct",
                       static_cast<DWORD>(ullLeft + cbWritten), cbWritten, cbWritten);
            ullTotal += cbWritten;
            Progress().NewStep(ullTotal);
        });
    CMemorySource source(pData, dwSize);
    COPYRESULT copy = CopyBlocks(source, hFile, dwSize, dwChunk, &observer, nullptr);
    // A cancelled copy stops quietly: the unpacking that follows sees the flag.
    return copy == COPYRESULT::DONE || copy == COPYRESULT::CANCELLED;
}

}  // namespace

DWORD ExtractDATARes(const RUNCONTEXT& ctx, HGLOBAL hResData, DWORD dwSize,
                     EXTRACTFAILURE* pFailure)
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
    // The resource is in memory already: checked before anything is written.
    CItemCheck check(ITEMHASH_KIND_DATA, 0);
    if (SHA256CONTEXT* pHash = check.Context()) {
        Sha256Update(*pHash, pData, dwSize);
        DWORD dwCheck = check.Result(L"DATA");
        if (dwCheck != ERROR_SUCCESS) {
            FreeResource(hResData);
            return dwCheck;
        }
    }

    WCHAR szStaged[PATH_CCH];
    if (!PathCombineW(szStaged, ctx.szDataPath, STAGED_DATA)) {
        FreeResource(hResData);
        return ERROR_BAD_PATHNAME;
    }
    HANDLE hFile = CreateFileNoLink(szStaged, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    DWORD dwCreateError = GetLastError();
    DWORD dwChunk = dwSize > DATARES_SMALL_LIMIT ? dwSize / DATARES_CHUNK_DIVISOR
                                               : static_cast<DWORD>(RESOURCE_CHUNK);
    DebugTrace(L"ExtractDATARes()->LgData=%d oct MaxDataRead=%d oct", dwSize, dwChunk);
    if (hFile == INVALID_HANDLE_VALUE) {
        DebugTrace(L"ExtractDATARes()->CreateFile(%s)->%d", szStaged, dwCreateError);
        FreeResource(hResData);
        return CODE_WRITE_FAILED;
    }
    NoteRunFile(szStaged);

    Progress().DefineStep(0, DATARES_WRITE_END, dwSize);
    BOOL bWritten = WriteStagedData(hFile, pData, dwSize, dwChunk);
    DWORD dwWriteError = WriteErrorCode(GetLastError());
    CloseHandle(hFile);
    Progress().GoToMaxStep(0);
    DWORD dwCode;
    if (!bWritten) {
        // A staged archive that could not be written whole is not unpacked.
        DebugTrace(L"ExtractDATARes()->WriteFile(%s) failed!", szStaged);
        dwCode = dwWriteError == ERROR_DISK_FULL ? ERROR_DISK_FULL : CODE_WRITE_FAILED;
    } else {
        Progress().DefineStep(DATARES_WRITE_END, DATARES_UNPACK_END, dwSize);
        if (GetFileAttributesW(ctx.project.szTgdFolder) == INVALID_FILE_ATTRIBUTES &&
            (dwCode = CreateAllDirectory(ctx.project.szTgdFolder)) != ERROR_SUCCESS)
            dwCode = ReportLastError(L"CreateDirectory", dwCode);
        else
            dwCode = UnCompressFile(szStaged, ctx.project.szTgdFolder, ctx.project.bRestoreTree,
                                    ctx.szTempTRV);
    }
    (void)DeleteFileNoLink(szStaged);  // the staged copy is done with, whatever came of it
    FreeResource(hResData);
    if (dwCode == ERROR_DISK_FULL && pFailure)
        NoteDiskFull(*pFailure, bWritten ? ctx.project.szTgdFolder : szStaged,
                     SatAdd(ctx.project.uiTotFilesSize, dwSize));
    return dwCode;
}

HMODULE SetCorvelThm(const RUNCONTEXT& ctx, DWORD* pdwError, int* pnFrameTop)
{
    if (pdwError)
        *pdwError = ERROR_SUCCESS;
    if (pnFrameTop)
        *pnFrameTop = 0;
    if (!FindResourceW(hInstance, MAKEINTRESOURCEW(IDR_CORVEL), L"CORVEL"))
        return nullptr;
    WCHAR szPack[PATH_CCH];
    WCHAR szLibrary[PATH_CCH];
    WCHAR szTheme[PATH_CCH];
    if (!PathCombineW(szPack, ctx.szTempTRV, CORVEL_TMP) ||
        !PathCombineW(szLibrary, ctx.szTempTRV, CORVEL_DLL) ||
        !PathCombineW(szTheme, ctx.szTempTRV, CORVEL_THM))
        return nullptr;
    if (ExtractRes(hInstance, IDR_CORVEL, L"CORVEL", szPack) != ERROR_SUCCESS) {
        (void)DeleteFileNoLink(szPack);  // a pack is unpacked once
        return nullptr;
    }
    DWORD dwCode = UnCompressFile(szPack, ctx.szTempTRV, FALSE, ctx.szTempTRV);
    (void)DeleteFileNoLink(szPack);  // a pack is unpacked once
    if (dwCode != ERROR_SUCCESS)
        return nullptr;

    if (!FileExists(szTheme)) {
        DebugTrace(L"SetCorvelThm()->'%s' doesn't exist!", szLibrary);
        return nullptr;
    }
    // Only the library this run unpacked runs here.
    DWORD dwError = ERROR_SUCCESS;
    if (!IsOwnLibrary(szLibrary, &dwError)) {
        DebugTrace(L"SetCorvelThm()->'%s' is not the package's own: not loaded", szLibrary);
        if (pdwError)
            *pdwError = dwError;
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
        // The library takes an 8-bit path: one that names this very file.
        char szThemeA[PATH_CCH];
        DWORD dwError = CodePagePathOf(szTheme, szThemeA, PATH_CCH);
        if (dwError == ERROR_SUCCESS)
            pfnLoadColors(szThemeA, 0);
        else
            DebugTrace(L"SetCorvelThm()->%s has no 8-bit form (%d)", szTheme, dwError);
    } else {
        DebugTrace(L"SetCorvelThm()->Function 'LoadColorScheme' failed!");
    }
    if (pfnSubclass)
        pfnSubclass();
    else
        DebugTrace(L"SetCorvelThm()->Function 'GlobalSubclassDialog' failed!");

    if (pnFrameTop)
        *pnFrameTop = ReadCorvelFrame(szTheme);
    return hCorvel;
}

void FreeCorvelThm(HMODULE hCorvel)
{
    if (!hCorvel)
        return;
    auto pfnShutdown = reinterpret_cast<PFN_SCRVSHUTDOWN>(GetProcAddress(hCorvel, "IScrvShutdown"));
    if (pfnShutdown)
        pfnShutdown();
    else
        DebugTrace(L"Function 'crvShutdown' failed!");
    BOOL bFreed = FreeLibrary(hCorvel);
    DebugTrace(L"WinMain()->unload Corvel->%d", bFreed);
}

DWORD ExtractRes(HMODULE hModule, UINT uResId, LPCWSTR szResType, LPCWSTR szTarget)
{
    HRSRC hRes = FindResourceW(hModule, MAKEINTRESOURCEW(uResId), szResType);
    HGLOBAL hData = hRes ? LoadResource(hModule, hRes) : nullptr;
    const BYTE* pData = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    if (!pData)
        return LastErrorOr(ERROR_WRITE_FAULT);
    DWORD dwSize = SizeofResource(hModule, hRes);

    CFileHandle file(CreateFileNoLink(szTarget, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    DebugTrace(L"ExtractRes(%s)->LgData=%d oct", szTarget, dwSize);
    if (!file.IsValid())
        return LastErrorOr(ERROR_WRITE_FAULT);
    NoteRunFile(szTarget);

    if (dwSize <= RESOURCE_CHUNK) {
        DWORD dwWritten = 0;
        return WriteAll(file.Get(), pData, dwSize, &dwWritten);
    }
    // Stop at the cancel flag and at a write that fails or stalls: the file
    // is then incomplete and the result says so.
    ULONGLONG ullDone = 0;
    auto observer = MakeBlockObserver(
        [](DWORD, DWORD, BOOL, ULONGLONG) {},
        [&](DWORD cbWritten, BOOL bOk, ULONGLONG) {
            DebugTrace(L"ExtractRes()-> WriteFile(%d)->%d", cbWritten, bOk);
            ullDone += cbWritten;
            Progress().NewStep(ullDone);
        });
    CMemorySource source(pData, dwSize);
    if (CopyBlocks(source, file.Get(), dwSize, RESOURCE_CHUNK, &observer, nullptr) !=
        COPYRESULT::DONE)
        return LastErrorOr(ERROR_WRITE_FAULT);  // a cancel leaves none of its own
    return ERROR_SUCCESS;
}

DWORD ExtractBinaryRes(RUNCONTEXT& ctx)
{
    if (!FindResourceW(hInstance, MAKEINTRESOURCEW(IDR_BINARY), L"BINARY"))
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    WCHAR szBinary[PATH_CCH];
    if (!PathCombineW(szBinary, ctx.szTempTRV, BINARY_TMP))
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD dwError = ExtractRes(hInstance, IDR_BINARY, L"BINARY", szBinary);
    if (dwError != ERROR_SUCCESS) {
        dwError = WriteErrorCode(dwError);
        DebugTrace(L"ExtractBinaryRes()->%s could not be written (%d)", szBinary, dwError);
        (void)DeleteFileNoLink(szBinary);  // the language pack, unpacked or not
        return dwError;
    }

    WCHAR szCopyFolder[PATH_CCH];
    GetCopyFolder(ctx, szCopyFolder, PATH_CCH);
    DWORD dwCode = UnpackMember(ctx, szBinary, NEUTRAL_PACK, ctx.szTempTRV, FALSE);
    if (dwCode == ERROR_SUCCESS && szCopyFolder[0])
        dwCode = UnpackMember(ctx, szBinary, NEUTRAL_CT_PACK, szCopyFolder, TRUE);

    if (dwCode == ERROR_SUCCESS && ctx.project.szLangFileName[0]) {
        // The pack is named like the library: EnglishUS.lng in EnglishUS.001
        // (and EnglishUS_CT.001 for its tracking copy). Both names fit:
        // the configured name does.
        WCHAR szMember[PATH_CCH];
        WCHAR szBase[PATH_CCH];
        // Parts of a PATH_CCH path.
        (void)StringCchCopyW(szMember, PATH_CCH, PathFindFileNameW(ctx.project.szLangFileName));
        PathRemoveExtensionW(szMember);
        (void)StringCchCopyW(szBase, PATH_CCH, szMember);
        if (SUCCEEDED(StringCchCatW(szMember, PATH_CCH, PACK_EXTENSION)))
            dwCode = UnpackMember(ctx, szBinary, szMember, ctx.szTempTRV, FALSE);
        if (dwCode == ERROR_SUCCESS && szCopyFolder[0] &&
            SUCCEEDED(StringCchCatW(szBase, PATH_CCH, CT_PACK_ENDING)))
            dwCode = UnpackMember(ctx, szBinary, szBase, szCopyFolder, TRUE);
    }
    (void)DeleteFileNoLink(szBinary);  // the language pack, unpacked or not
    if (dwCode != ERROR_SUCCESS)
        return dwCode;

    WCHAR szLicense[PATH_CCH];
    if (!PathCombineW(szLicense, ctx.szTempTRV, PathFindFileNameW(ctx.project.szLicenseFile)))
        szLicense[0] = L'\0';
    // Same capacity.
    (void)StringCchCopyW(ctx.project.szLicenseFile, PATH_CCH, szLicense);
    ctx.project.bLicense = ctx.project.szLicenseFile[0] && FileExists(ctx.project.szLicenseFile);
    DebugTrace(L"ExtractBinaryRes()->License=%d LicenseFile=%s", ctx.project.bLicense,
               ctx.project.szLicenseFile);
    return ERROR_SUCCESS;
}
