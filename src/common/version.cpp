#include "common/version.h"
#include <stdlib.h>
#include "common/boundedtext.h"
#include <memory>
#include <new>
#include "common/sysdll.h"
#include "common/trace.h"

namespace {

enum : unsigned {
    VERSION_TEXT_CCH = 80,   // version text copied for splitting
    VERSION_ID_CCH = 15,     // formatted version number
    VERSION_QUERY_CCH = 64,  // "\StringFileInfo\xxxxxxxx\" plus the name
};

typedef DWORD(WINAPI* PFN_GETFILEVERSIONINFOSIZEW)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* PFN_GETFILEVERSIONINFOW)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* PFN_VERQUERYVALUEW)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

// version.dll is not imported at link time: it is taken from the system
// folder on first use and stays loaded.
struct VERSIONAPI {
    PFN_GETFILEVERSIONINFOSIZEW pGetFileVersionInfoSizeW;
    PFN_GETFILEVERSIONINFOW pGetFileVersionInfoW;
    PFN_VERQUERYVALUEW pVerQueryValueW;

    VERSIONAPI() : pGetFileVersionInfoSizeW(), pGetFileVersionInfoW(), pVerQueryValueW()
    {
        HMODULE hVersion = LoadSystemLibrary(L"version.dll");
        if (!hVersion)
            return;
        pGetFileVersionInfoSizeW = reinterpret_cast<PFN_GETFILEVERSIONINFOSIZEW>(
            reinterpret_cast<void*>(GetProcAddress(hVersion, "GetFileVersionInfoSizeW")));
        pGetFileVersionInfoW = reinterpret_cast<PFN_GETFILEVERSIONINFOW>(
            reinterpret_cast<void*>(GetProcAddress(hVersion, "GetFileVersionInfoW")));
        pVerQueryValueW = reinterpret_cast<PFN_VERQUERYVALUEW>(
            reinterpret_cast<void*>(GetProcAddress(hVersion, "VerQueryValueW")));
    }
    bool Ready() const { return pGetFileVersionInfoSizeW && pGetFileVersionInfoW && pVerQueryValueW; }
};

const VERSIONAPI& VersionApi()
{
    static const VERSIONAPI api;
    return api;
}

// Looks a string up in a version block; 1 and the value when it is present,
// non-empty and terminated.
BOOL QueryVersionString(const VERSIONAPI& api, const void* pBlock, LPCWSTR szName, LPWSTR szOut,
                        DWORD cchOut)
{
    const WORD* pTranslation = nullptr;
    UINT cbTranslation = 0;
    if (!api.pVerQueryValueW(pBlock, L"\\VarFileInfo\\Translation",
                             reinterpret_cast<LPVOID*>(const_cast<WORD**>(&pTranslation)),
                             &cbTranslation) ||
        !pTranslation)
        return FALSE;

    // An empty table: US English, Unicode.
    WORD wLanguage = 0x0409;
    WORD wCodePage = 0x04B0;
    if (cbTranslation >= 2 * sizeof(WORD)) {
        wLanguage = pTranslation[0];
        wCodePage = pTranslation[1];
    }

    // A name that does not fit would ask for another string: refuse it.
    WCHAR szQuery[VERSION_QUERY_CCH];
    if (FAILED(StringCchPrintfW(szQuery, VERSION_QUERY_CCH, L"\\StringFileInfo\\%04X%04X\\%s",
                                wLanguage, wCodePage, szName)))
        return FALSE;

    const WCHAR* pValue = nullptr;
    UINT cchValue = 0;
    if (!api.pVerQueryValueW(pBlock, szQuery,
                             reinterpret_cast<LPVOID*>(const_cast<WCHAR**>(&pValue)), &cchValue) ||
        !pValue || cchValue == 0 || pValue[cchValue - 1] != L'\0')
        return FALSE;

    // The characters without the terminator, cut to the output.
    // A resource text is shown; a longer one is cut.
    (void)StringCchCopyNW(szOut, cchOut, pValue, cchValue - 1);
    return TRUE;
}

void ClearOutput(LPWSTR szOut, DWORD cchOut)
{
    if (szOut && cchOut > 0)
        szOut[0] = L'\0';
}

}  // namespace

BOOL GetLocalVersionInfo(HMODULE hModule, LPCWSTR szName, LPWSTR szOut, DWORD cchOut)
{
    ClearOutput(szOut, cchOut);
    if (!szName || !szOut || cchOut == 0)
        return FALSE;
    const VERSIONAPI& api = VersionApi();
    if (!api.Ready())
        return FALSE;
    HRSRC hRes = FindResourceW(hModule, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    if (!hRes)
        return FALSE;
    DWORD cbRes = SizeofResource(hModule, hRes);
    HGLOBAL hData = LoadResource(hModule, hRes);
    const void* pRes = hData ? LockResource(hData) : nullptr;
    if (!pRes || cbRes == 0)
        return FALSE;
    // Query a private copy: the resource itself is read-only, and the
    // version functions may use room after the block.
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[static_cast<size_t>(cbRes) * 2]);
    if (!block) {
        DebugTrace(L"GetLocalVersionInfo()->Catch Error!");
        return FALSE;
    }
    CopyMemory(block.get(), pRes, cbRes);
    BOOL bFound = QueryVersionString(api, block.get(), szName, szOut, cchOut);
    if (!bFound)
        ClearOutput(szOut, cchOut);
    return bFound;
}

BOOL GetFileVersionString(LPCWSTR szFile, LPCWSTR szName, LPWSTR szOut, DWORD cchOut)
{
    ClearOutput(szOut, cchOut);
    if (!szFile || !szName || !szOut || cchOut == 0)
        return FALSE;
    const VERSIONAPI& api = VersionApi();
    if (!api.Ready())
        return FALSE;

    DWORD dwHandle = 0;
    DWORD cbInfo = api.pGetFileVersionInfoSizeW(szFile, &dwHandle);
    if (cbInfo == 0)
        return FALSE;
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cbInfo);
    if (!hMem)
        return FALSE;
    BOOL bResult = FALSE;
    void* pBlock = GlobalLock(hMem);
    if (pBlock && api.pGetFileVersionInfoW(szFile, 0, cbInfo, pBlock)) {
        bResult = TRUE;
        if (!QueryVersionString(api, pBlock, szName, szOut, cchOut))
            ClearOutput(szOut, cchOut);
    }
    if (pBlock)
        GlobalUnlock(hMem);
    GlobalFree(hMem);
    return bResult;
}

DWORD VersionTextToID(LPCWSTR szVersion)
{
    WCHAR szText[VERSION_TEXT_CCH];
    szText[0] = L'\0';
    if (szVersion)
        // The numbers come first: a cut drops only what follows them.
        (void)StringCchCopyW(szText, VERSION_TEXT_CCH, szVersion);
    for (WCHAR* p = szText; *p; ++p)
        if (*p == L',')
            *p = L'.';

    // major.minor.build.revision; a missing part is 0, the revision is ignored.
    DWORD dwParts[4] = {0, 0, 0, 0};
    WCHAR* pPart = szText;
    for (int i = 0; i < 4 && pPart; ++i) {
        WCHAR* pDot = wcschr(pPart, L'.');
        if (pDot)
            *pDot = L'\0';
        dwParts[i] = wcstoul(pPart, nullptr, 10);
        pPart = pDot ? pDot + 1 : nullptr;
    }
    return VerNumToID(dwParts[0], dwParts[1], dwParts[2]);
}

DWORD VerNumToID(DWORD dwMajor, DWORD dwMinor, DWORD dwBuild)
{
    // Written as hexadecimal digits and read back: for a minor below 256 and
    // a build below 65536 this is major:8 minor:8 build:16 bits.
    WCHAR szID[VERSION_ID_CCH];
    // Four hexadecimal numbers fit.
    (void)StringCchPrintfW(szID, VERSION_ID_CCH, L"%0#2x%02x%04x", dwMajor, dwMinor, dwBuild);
    DWORD dwID = wcstoul(szID, nullptr, 16);
    DebugTrace(L"VerNumToID(%d, %d, %d)->%d", dwMajor, dwMinor, dwBuild, dwID);
    return dwID;
}
