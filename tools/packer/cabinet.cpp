// Cabinets through the FCI interface of the system's cabinet.dll. Every
// path handed to FCI is UTF-8 and every file callback converts it back, so
// that no name is limited to the ANSI code page. A member name beyond ASCII
// is stored in UTF-8 with the attribute that says so (_A_NAME_IS_UTF).
#include <fcntl.h>
#include <fci.h>
#include <algorithm>
#include "common/sysdll.h"
#include "packer.h"

namespace packer {
namespace {

typedef HFCI(DIAMONDAPI* PFN_FCICREATE)(PERF, PFNFCIFILEPLACED, PFNFCIALLOC, PFNFCIFREE,
                                        PFNFCIOPEN, PFNFCIREAD, PFNFCIWRITE, PFNFCICLOSE,
                                        PFNFCISEEK, PFNFCIDELETE, PFNFCIGETTEMPFILE, PCCAB,
                                        void*);
typedef BOOL(DIAMONDAPI* PFN_FCIADDFILE)(HFCI, char*, char*, BOOL, PFNFCIGETNEXTCABINET,
                                         PFNFCISTATUS, PFNFCIGETOPENINFO, TCOMP);
typedef BOOL(DIAMONDAPI* PFN_FCIFLUSHCABINET)(HFCI, BOOL, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
typedef BOOL(DIAMONDAPI* PFN_FCIDESTROY)(HFCI);

// The format's own limits: 2 GiB per member, names below 256 bytes.
const ULONGLONG MAX_MEMBER_SIZE = 0x7FFF8000ull;
const size_t MAX_MEMBER_NAME = 255;
const ULONG NO_LIMIT = 0x7FFFFFFF;

struct FCIAPI {
    PFN_FCICREATE pfnCreate;
    PFN_FCIADDFILE pfnAddFile;
    PFN_FCIFLUSHCABINET pfnFlushCabinet;
    PFN_FCIDESTROY pfnDestroy;
};

FCIAPI LoadFci()
{
    FCIAPI api = {};
    HMODULE hCabinet = LoadSystemLibrary(L"cabinet.dll");
    if (hCabinet) {
        api.pfnCreate = reinterpret_cast<PFN_FCICREATE>(
            reinterpret_cast<void*>(GetProcAddress(hCabinet, "FCICreate")));
        api.pfnAddFile = reinterpret_cast<PFN_FCIADDFILE>(
            reinterpret_cast<void*>(GetProcAddress(hCabinet, "FCIAddFile")));
        api.pfnFlushCabinet = reinterpret_cast<PFN_FCIFLUSHCABINET>(
            reinterpret_cast<void*>(GetProcAddress(hCabinet, "FCIFlushCabinet")));
        api.pfnDestroy = reinterpret_cast<PFN_FCIDESTROY>(
            reinterpret_cast<void*>(GetProcAddress(hCabinet, "FCIDestroy")));
    }
    if (!api.pfnCreate || !api.pfnAddFile || !api.pfnFlushCabinet || !api.pfnDestroy)
        throw Failure{L"cabinet.dll with the FCI interface is not available"};
    return api;
}

// The earliest time a cabinet can hold: 1980-01-01 00:00.
const USHORT DOS_DATE_FIXED = (1 << 5) | 1;
const USHORT DOS_TIME_FIXED = 0;
const ULONGLONG FILETIME_UNIX_EPOCH = 116444736000000000ull;  // 1970 in 100 ns since 1601
const ULONGLONG FILETIME_PER_SECOND = 10000000ull;

// What the callbacks share for one cabinet (set).
struct CABWRITER {
    CabDates dates = CabDates::FromFiles;
    bool bClamp = false;  // SOURCE_DATE_EPOCH: no time after it, all in UTC
    ULONGLONG ullClamp = 0;

    std::string stem;       // out without its extension, UTF-8
    std::string extension;  // ".cab"
    std::vector<std::wstring> written;
    std::vector<std::wstring> temps;
    int cabinets = 1;  // parts started so far
    bool bUtf8Name = false;  // the member being added has a UTF-8 name
};

FNFCIALLOC(FciAlloc)
{
    return HeapAlloc(GetProcessHeap(), 0, cb);
}

FNFCIFREE(FciFree)
{
    HeapFree(GetProcessHeap(), 0, memory);
}

FNFCIOPEN(FciOpen)
{
    DWORD dwAccess = (oflag & _O_RDWR) ? GENERIC_READ | GENERIC_WRITE
                     : (oflag & _O_WRONLY) ? GENERIC_WRITE
                                           : GENERIC_READ;
    DWORD dwCreation = (oflag & _O_CREAT) ? ((oflag & _O_TRUNC) ? CREATE_ALWAYS : OPEN_ALWAYS)
                                          : OPEN_EXISTING;
    HANDLE h = CreateFileW(FromUtf8(pszFile).c_str(), dwAccess, FILE_SHARE_READ, nullptr,
                           dwCreation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return reinterpret_cast<INT_PTR>(h);
}

FNFCIREAD(FciRead)
{
    DWORD cbRead = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &cbRead, nullptr)) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
    }
    return cbRead;
}

FNFCIWRITE(FciWrite)
{
    DWORD cbWritten = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), memory, cb, &cbWritten, nullptr)) {
        *err = static_cast<int>(GetLastError());
        return static_cast<UINT>(-1);
    }
    return cbWritten;
}

FNFCICLOSE(FciClose)
{
    return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1;
}

FNFCISEEK(FciSeek)
{
    // A folder whose files are all empty has no data stream: the system's
    // FCI still rewinds it before it copies the (no) data blocks.
    if (hf == -1)
        return dist == 0 && seektype == SEEK_SET ? 0 : -1;
    DWORD dwMethod = seektype == SEEK_CUR ? FILE_CURRENT : seektype == SEEK_END ? FILE_END
                                                                                : FILE_BEGIN;
    DWORD dwPos = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, dwMethod);
    if (dwPos == INVALID_SET_FILE_POINTER) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return static_cast<LONG>(dwPos);
}

FNFCIDELETE(FciDelete)
{
    if (!DeleteFileW(FromUtf8(pszFile).c_str())) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    return 0;
}

FNFCIGETTEMPFILE(FciGetTempFile)
{
    auto* pWriter = static_cast<CABWRITER*>(pv);
    WCHAR szFolder[MAX_PATH];
    WCHAR szTemp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, szFolder) || !GetTempFileNameW(szFolder, L"pk", 0, szTemp))
        return FALSE;
    // FCI creates the file itself.
    DeleteFileW(szTemp);
    std::string name = ToUtf8(szTemp);
    if (name.size() + 1 > static_cast<size_t>(cbTempName))
        return FALSE;
    memcpy(pszTempName, name.c_str(), name.size() + 1);
    pWriter->temps.push_back(szTemp);
    return TRUE;
}

FNFCIFILEPLACED(FciFilePlaced)
{
    return 0;
}

FNFCIGETOPENINFO(FciGetOpenInfo)
{
    auto* pWriter = static_cast<CABWRITER*>(pv);
    std::wstring path = FromUtf8(pszName);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *err = static_cast<int>(GetLastError());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    bool bInfo = GetFileInformationByHandle(h, &info) != FALSE;
    FILETIME ftStamp = info.ftLastWriteTime;
    if (pWriter->bClamp) {
        ULARGE_INTEGER stamp;
        stamp.LowPart = ftStamp.dwLowDateTime;
        stamp.HighPart = ftStamp.dwHighDateTime;
        if (stamp.QuadPart > pWriter->ullClamp)
            stamp.QuadPart = pWriter->ullClamp;
        ftStamp.dwLowDateTime = stamp.LowPart;
        ftStamp.dwHighDateTime = stamp.HighPart;
    }
    // Member times are local by the format's custom; a build that must
    // come out the same everywhere leaves the time zone out.
    if (pWriter->dates == CabDates::Fixed || !bInfo ||
        (!pWriter->bClamp && !FileTimeToLocalFileTime(&info.ftLastWriteTime, &ftStamp)) ||
        !FileTimeToDosDateTime(&ftStamp, pdate, ptime)) {
        *pdate = DOS_DATE_FIXED;
        *ptime = DOS_TIME_FIXED;
    }
    *pattribs = static_cast<USHORT>(info.dwFileAttributes &
                                    (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    if (pWriter->bUtf8Name)
        *pattribs |= _A_NAME_IS_UTF;
    return reinterpret_cast<INT_PTR>(h);
}

FNFCISTATUS(FciStatus)
{
    return 0;
}

// An empty file that stands in as the source of every empty-folder member;
// removed with FCI's temporary files.
bool EmptyMarkerFile(CABWRITER& writer, std::wstring& marker)
{
    WCHAR szFolder[MAX_PATH];
    WCHAR szMarker[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, szFolder) || !GetTempFileNameW(szFolder, L"pk", 0, szMarker))
        return false;
    writer.temps.push_back(szMarker);
    marker = szMarker;
    return true;
}

std::string PartName(const CABWRITER& writer, int iCab)
{
    return iCab <= 1 ? writer.stem + writer.extension
                     : writer.stem + std::to_string(iCab) + writer.extension;
}

void NameCabinet(PCCAB pccab, const CABWRITER& writer)
{
    std::string full = PartName(writer, pccab->iCab);
    size_t slash = full.find_last_of('\\');
    std::string folder = full.substr(0, slash + 1);
    std::string name = full.substr(slash + 1);
    if (folder.size() >= sizeof(pccab->szCabPath) || name.size() >= sizeof(pccab->szCab))
        throw Failure{L"the cabinet path is too long: " + FromUtf8(full)};
    memcpy(pccab->szCabPath, folder.c_str(), folder.size() + 1);
    memcpy(pccab->szCab, name.c_str(), name.size() + 1);
    snprintf(pccab->szDisk, sizeof(pccab->szDisk), "disk%d", pccab->iDisk);
}

FNFCIGETNEXTCABINET(FciGetNextCabinet)
{
    auto* pWriter = static_cast<CABWRITER*>(pv);
    try {
        NameCabinet(pccab, *pWriter);
        pWriter->cabinets = pccab->iCab;
    } catch (const Failure&) {
        return FALSE;
    }
    return TRUE;
}

const wchar_t* FciErrorText(int iCode)
{
    static const wchar_t* texts[] = {
        L"no error", L"cannot open a source file", L"cannot read a source file",
        L"out of memory", L"cannot make a temporary file", L"unknown compression type",
        L"cannot write the cabinet", L"aborted", L"compression failed",
    };
    return iCode >= 0 && iCode < 9 ? texts[iCode] : L"unknown error";
}

// The set id ties the cabinets of a set together. It comes from the member
// names, so that the same files give the same cabinet at every build.
USHORT SetIdOf(const std::vector<CABENTRY>& members)
{
    DWORD dwHash = 2166136261u;  // FNV-1a
    for (const CABENTRY& member : members) {
        for (unsigned char c : member.name)
            dwHash = (dwHash ^ c) * 16777619u;
        dwHash = (dwHash ^ 0) * 16777619u;
    }
    return static_cast<USHORT>(dwHash ^ (dwHash >> 16));
}

// SOURCE_DATE_EPOCH, the reproducible-build convention: seconds since 1970.
bool ReadSourceDateEpoch(ULONGLONG& ullFileTime)
{
    WCHAR szValue[32];
    DWORD cch = GetEnvironmentVariableW(L"SOURCE_DATE_EPOCH", szValue, ARRAYSIZE(szValue));
    if (cch == 0)
        return false;
    wchar_t* pEnd = nullptr;
    unsigned long long ullSeconds = cch < ARRAYSIZE(szValue) ? _wcstoui64(szValue, &pEnd, 10) : 0;
    // Up to the end of 2107, the last year a cabinet can hold.
    if (cch >= ARRAYSIZE(szValue) || !szValue[0] || !pEnd || *pEnd || ullSeconds > 4354819199ull)
        throw Failure{L"SOURCE_DATE_EPOCH must be a number of seconds since 1970"};
    ullFileTime = FILETIME_UNIX_EPOCH + ullSeconds * FILETIME_PER_SECOND;
    return true;
}

}  // namespace

std::vector<std::wstring> WriteCabinet(std::vector<CABENTRY> members, const std::wstring& out,
                                       ULONG cbMaxCabinet, bool bStore, bool bSorted,
                                       CabDates dates)
{
    FCIAPI api = LoadFci();
    CABWRITER writer;
    writer.dates = dates;
    writer.bClamp = dates == CabDates::FromFiles && ReadSourceDateEpoch(writer.ullClamp);
    if (bSorted)
        std::sort(members.begin(), members.end(),
                  [](const CABENTRY& a, const CABENTRY& b) { return a.name < b.name; });

    std::wstring full = FullPath(out);
    size_t dot = full.find_last_of(L'.');
    size_t slash = full.find_last_of(L'\\');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        dot = full.size();
    writer.stem = ToUtf8(full.substr(0, dot));
    writer.extension = ToUtf8(full.substr(dot));
    DeleteFileW(full.c_str());

    CCAB ccab = {};
    ccab.cb = cbMaxCabinet ? cbMaxCabinet : NO_LIMIT;
    ccab.cbFolderThresh = NO_LIMIT;
    ccab.iCab = 1;
    ccab.iDisk = 1;
    ccab.setID = SetIdOf(members);
    NameCabinet(&ccab, writer);

    ERF erf = {};
    HFCI hfci = api.pfnCreate(&erf, FciFilePlaced, FciAlloc, FciFree, FciOpen, FciRead, FciWrite,
                              FciClose, FciSeek, FciDelete, FciGetTempFile, &ccab, &writer);
    if (!hfci)
        throw Failure{std::wstring(L"FCICreate failed: ") + FciErrorText(erf.erfOper)};

    bool bOk = true;
    std::wstring failure;
    std::wstring marker;
    for (const CABENTRY& member : members) {
        if (member.source.empty() && marker.empty() && !EmptyMarkerFile(writer, marker)) {
            bOk = false;
            failure = L"cannot make a temporary file";
            break;
        }
    }
    TCOMP compression = bStore ? tcompTYPE_NONE : tcompTYPE_MSZIP;
    for (const CABENTRY& member : members) {
        if (!bOk)
            break;
        std::string source = ToUtf8(member.source.empty() ? marker : member.source);
        std::vector<char> sourceBuf(source.begin(), source.end());
        sourceBuf.push_back('\0');
        std::vector<char> nameBuf(member.name.begin(), member.name.end());
        nameBuf.push_back('\0');
        writer.bUtf8Name = member.bUtf8Name && !IsAsciiText(member.name);
        if (!api.pfnAddFile(hfci, sourceBuf.data(), nameBuf.data(), FALSE, FciGetNextCabinet,
                            FciStatus, FciGetOpenInfo, compression)) {
            bOk = false;
            failure = L"adding " + FromUtf8(member.name) + L" failed: " + FciErrorText(erf.erfOper);
            break;
        }
    }
    if (bOk && !api.pfnFlushCabinet(hfci, FALSE, FciGetNextCabinet, FciStatus)) {
        bOk = false;
        failure = std::wstring(L"writing the cabinet failed: ") + FciErrorText(erf.erfOper);
    }
    api.pfnDestroy(hfci);
    for (const std::wstring& temp : writer.temps)
        DeleteFileW(temp.c_str());

    for (int i = 1; i <= writer.cabinets; ++i) {
        std::wstring part = FromUtf8(PartName(writer, i));
        if (IsFile(part))
            writer.written.push_back(part);
    }
    if (!bOk) {
        for (const std::wstring& part : writer.written)
            DeleteFileW(part.c_str());
        throw Failure{failure};
    }
    return writer.written;
}

std::vector<std::wstring> MakeCabinet(const std::wstring& folder, const std::wstring& out,
                                      ULONG cbMaxCabinet, bool bStore)
{
    if (!IsFolder(folder))
        throw Failure{L"no such folder: " + folder};
    std::vector<std::wstring> files = ListFolder(folder);
    std::vector<std::wstring> folders = ListEmptyFolders(folder);
    if (files.empty() && folders.empty())
        throw Failure{L"the folder is empty: " + folder};
    for (const std::wstring& rel : files) {
        if (ToUtf8(rel).size() > MAX_MEMBER_NAME)
            throw Failure{L"a name is too long for a cabinet: " + rel};
        if (SizeOf(folder + L"\\" + rel) > MAX_MEMBER_SIZE)
            throw Failure{L"a file is too large for a cabinet (2 GiB at most): " + rel};
    }
    for (const std::wstring& rel : folders) {
        if (ToUtf8(rel).size() + 1 > MAX_MEMBER_NAME)
            throw Failure{L"a name is too long for a cabinet: " + rel};
    }
    // Members in name order: files as they are, each empty folder as an
    // empty member whose name ends with a backslash.
    std::vector<CABENTRY> members;
    for (const std::wstring& rel : files)
        members.push_back({ToUtf8(rel), folder + L"\\" + rel});
    for (const std::wstring& rel : folders)
        members.push_back({ToUtf8(rel + L"\\"), std::wstring()});
    return WriteCabinet(members, out, cbMaxCabinet, bStore, true, CabDates::FromFiles);
}

}  // namespace packer
