#include "packer/cabwriter.h"
#include <fci.h>
#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <sys/stat.h>
#include "common/capacity.h"
#include "common/sysdll.h"
#include "common/trace.h"

namespace {

using PFN_FCICREATE = HFCI(DIAMONDAPI*)(PERF, PFNFCIFILEPLACED, PFNFCIALLOC, PFNFCIFREE, PFNFCIOPEN,
                                         PFNFCIREAD, PFNFCIWRITE, PFNFCICLOSE, PFNFCISEEK,
                                         PFNFCIDELETE, PFNFCIGETTEMPFILE, PCCAB, void*);
using PFN_FCIADDFILE = BOOL(DIAMONDAPI*)(HFCI, char*, char*, BOOL, PFNFCIGETNEXTCABINET,
                                          PFNFCISTATUS, PFNFCIGETOPENINFO, TCOMP);
using PFN_FCIFLUSHCABINET = BOOL(DIAMONDAPI*)(HFCI, BOOL, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
using PFN_FCIDESTROY = BOOL(DIAMONDAPI*)(HFCI);

// Paths cross the FCI callbacks as UTF-8 text; the callbacks convert back.
BOOL ToUtf8(LPCWSTR szWide, char* szUtf8, int cbUtf8)
{
    return WideCharToMultiByte(CP_UTF8, 0, szWide, -1, szUtf8, cbUtf8, nullptr, nullptr) > 0;
}

BOOL FromUtf8(LPCSTR szUtf8, LPWSTR szWide, int cchWide)
{
    return MultiByteToWideChar(CP_UTF8, 0, szUtf8, -1, szWide, cchWide) > 0;
}

FNFCIFILEPLACED(OnFilePlaced) { return 0; }
FNFCIALLOC(OnAlloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }
FNFCIFREE(OnFree) { HeapFree(GetProcessHeap(), 0, memory); }

FNFCIOPEN(OnOpen)
{
    WCHAR szPath[PATH_CCH];
    if (!FromUtf8(pszFile, szPath, PATH_CCH)) {
        *err = ERROR_BAD_PATHNAME;
        return -1;
    }
    DWORD dwAccess = GENERIC_READ;
    if (oflag & _O_WRONLY)
        dwAccess = GENERIC_WRITE;
    else if (oflag & _O_RDWR)
        dwAccess = GENERIC_READ | GENERIC_WRITE;
    DWORD dwCreate = OPEN_EXISTING;
    if (oflag & _O_CREAT)
        dwCreate = (oflag & _O_EXCL) ? CREATE_NEW : ((oflag & _O_TRUNC) ? CREATE_ALWAYS : OPEN_ALWAYS);
    HANDLE h = CreateFileW(szPath, dwAccess, FILE_SHARE_READ, nullptr, dwCreate,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return reinterpret_cast<INT_PTR>(h);
}

FNFCIREAD(OnRead)
{
    DWORD dwRead = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &dwRead, nullptr)) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
    }
    return dwRead;
}

FNFCIWRITE(OnWrite)
{
    DWORD dwWritten = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), memory, cb, &dwWritten, nullptr)) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
    }
    return dwWritten;
}

FNFCICLOSE(OnClose)
{
    if (!CloseHandle(reinterpret_cast<HANDLE>(hf))) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return 0;
}

FNFCISEEK(OnSeek)
{
    // A folder whose files are all empty has no data stream: the system's
    // FCI still rewinds it before it copies the (no) data blocks.
    if (hf == -1)
        return dist == 0 && seektype == SEEK_SET ? 0 : -1;
    DWORD dwPos = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, seektype);
    if (dwPos == INVALID_SET_FILE_POINTER) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return static_cast<long>(dwPos);
}

FNFCIDELETE(OnDelete)
{
    WCHAR szPath[PATH_CCH];
    if (!FromUtf8(pszFile, szPath, PATH_CCH) || !DeleteFileW(szPath)) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return 0;
}

FNFCIGETTEMPFILE(OnGetTempFile)
{
    WCHAR szFolder[PATH_CCH];
    WCHAR szTemp[PATH_CCH];
    if (!GetTempPathW(PATH_CCH, szFolder) || !GetTempFileNameW(szFolder, L"cab", 0, szTemp))
        return FALSE;
    // FCI creates the file itself.
    DeleteFileW(szTemp);
    return ToUtf8(szTemp, pszTempName, cbTempName);
}

FNFCIGETNEXTCABINET(OnNextCabinet) { return FALSE; }
FNFCISTATUS(OnStatus) { return 0; }

FNFCIGETOPENINFO(OnGetOpenInfo)
{
    WCHAR szPath[PATH_CCH];
    if (!FromUtf8(pszName, szPath, PATH_CCH)) {
        *err = ERROR_BAD_PATHNAME;
        return -1;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(szPath, GetFileExInfoStandard, &data)) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    FILETIME ftLocal;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &ftLocal);
    FileTimeToDosDateTime(&ftLocal, pdate, ptime);
    *pattribs = static_cast<USHORT>(data.dwFileAttributes &
                                    (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    return OnOpen(pszName, _O_RDONLY | _O_BINARY, 0, err, pv);
}

}  // namespace

DWORD CreateCabinet(LPCWSTR szCabinet, const CABMEMBER* pMembers, DWORD dwCount, BOOL bCompress)
{
    HMODULE hCabinet = LoadSystemLibrary(L"cabinet.dll");
    if (!hCabinet)
        return ERROR_MOD_NOT_FOUND;
    auto pfnCreate = reinterpret_cast<PFN_FCICREATE>(GetProcAddress(hCabinet, "FCICreate"));
    auto pfnAddFile = reinterpret_cast<PFN_FCIADDFILE>(GetProcAddress(hCabinet, "FCIAddFile"));
    auto pfnFlush = reinterpret_cast<PFN_FCIFLUSHCABINET>(GetProcAddress(hCabinet, "FCIFlushCabinet"));
    auto pfnDestroy = reinterpret_cast<PFN_FCIDESTROY>(GetProcAddress(hCabinet, "FCIDestroy"));
    if (!pfnCreate || !pfnAddFile || !pfnFlush || !pfnDestroy) {
        FreeLibrary(hCabinet);
        return ERROR_PROC_NOT_FOUND;
    }

    CCAB ccab = {};
    ccab.cb = 0x7FFFFFFF;
    ccab.cbFolderThresh = 0x7FFFFFFF;
    WCHAR szFolder[PATH_CCH];
    StringCchCopyW(szFolder, PATH_CCH, szCabinet);
    PathRemoveFileSpecW(szFolder);
    if (szFolder[0])
        PathAddBackslashW(szFolder);
    if (!ToUtf8(szFolder, ccab.szCabPath, sizeof(ccab.szCabPath)) ||
        !ToUtf8(PathFindFileNameW(szCabinet), ccab.szCab, sizeof(ccab.szCab))) {
        FreeLibrary(hCabinet);
        return ERROR_BAD_PATHNAME;
    }
    DeleteFileW(szCabinet);

    ERF erf = {};
    HFCI hfci = pfnCreate(&erf, OnFilePlaced, OnAlloc, OnFree, OnOpen, OnRead, OnWrite, OnClose,
                          OnSeek, OnDelete, OnGetTempFile, &ccab, nullptr);
    DWORD dwResult = hfci ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
    TCOMP compression = bCompress ? tcompTYPE_MSZIP : tcompTYPE_NONE;
    for (DWORD i = 0; hfci && dwResult == ERROR_SUCCESS && i < dwCount; ++i) {
        char szSource[PATH_CCH * 3];
        char szStored[CB_MAX_FILENAME];
        if (!ToUtf8(pMembers[i].szSource, szSource, sizeof(szSource)) ||
            FAILED(StringCchCopyA(szStored, CB_MAX_FILENAME, pMembers[i].szStoredName))) {
            dwResult = ERROR_BAD_PATHNAME;
            break;
        }
        if (!pfnAddFile(hfci, szSource, szStored, FALSE, OnNextCabinet, OnStatus, OnGetOpenInfo,
                        compression)) {
            dwResult = erf.erfType ? static_cast<DWORD>(erf.erfType) : ERROR_WRITE_FAULT;
            DebugTraceA("CreateCabinet()->FCIAddFile(%s) failed: %d", szStored, erf.erfOper);
        }
    }
    if (hfci && dwResult == ERROR_SUCCESS && !pfnFlush(hfci, FALSE, OnNextCabinet, OnStatus)) {
        dwResult = erf.erfType ? static_cast<DWORD>(erf.erfType) : ERROR_WRITE_FAULT;
        DebugTraceA("CreateCabinet()->FCIFlushCabinet failed: %d", erf.erfOper);
    }
    if (hfci)
        pfnDestroy(hfci);
    FreeLibrary(hCabinet);
    if (dwResult != ERROR_SUCCESS)
        DeleteFileW(szCabinet);
    return dwResult;
}
