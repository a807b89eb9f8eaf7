// QELTRON.dll: unpacks a PAC archive into a folder. One export, ordinal 6,
// stdcall: (archive path, folder path ending in "\"), both in the ANSI code
// page; returns the number of files written, or -1 on any failure with the
// cause as the thread's last error: 13 for a damaged archive (its header,
// a name, a size, a CRC), 14 without memory, else the error of the file
// system (a write that failed, 112 for a full disk).
// The paths are taken back to UTF-16 exactly (a byte the code page does not
// define fails) and every file is opened by its wide path; member names are
// read in the encoding the archive's layout tag says (payload/archivepac.h).
#include <windows.h>
#include <string.h>
#include <string>
#include <vector>
#include "payload/archivepac.h"
#include "payload/entryname.h"

namespace {

const DWORD BLOCK_SIZE = 1024 * 1024;
const int PAC_FAILED = -1;

DWORD g_CrcTable[256];

void InitCrcTable()
{
    for (DWORD n = 0; n < 256; ++n) {
        DWORD c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        g_CrcTable[n] = c;
    }
}

DWORD UpdateCrc(DWORD crc, const BYTE* p, DWORD cb)
{
    crc = ~crc;
    while (cb--)
        crc = g_CrcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

class File {
public:
    explicit File(HANDLE h) : m_h(h) {}
    ~File()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE Get() const { return m_h; }
    bool Ok() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

// Reads exactly cb bytes, never past the bytes the archive still holds.
bool ReadExact(HANDLE h, void* pv, DWORD cb, ULONGLONG& ullLeft)
{
    if (cb > ullLeft)
        return false;
    DWORD cbRead = 0;
    if (!ReadFile(h, pv, cb, &cbRead, nullptr) || cbRead != cb)
        return false;
    ullLeft -= cb;
    return true;
}

// 8-bit text back in UTF-16; false when a byte means nothing in the code
// page or the text does not fit.
bool ToWide(const char* sz, UINT uCodePage, std::wstring& out)
{
    wchar_t wsz[MAX_PATH];
    int cch = MultiByteToWideChar(uCodePage, MB_ERR_INVALID_CHARS, sz, -1, wsz, MAX_PATH);
    if (cch <= 0)
        return false;
    out = wsz;
    return true;
}

// A stored name must stay below the folder and be stored under its own
// name (no device, see payload/entryname.h); no empty part either.
bool IsSafeName(const std::wstring& name)
{
    if (entryname::IsUnsafeName(name.c_str()))
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        wchar_t c = name[i];
        wchar_t next = i + 1 < name.size() ? name[i + 1] : L'\0';
        if ((c == L'\\' || c == L'/') && (next == L'\\' || next == L'/' || next == L'\0'))
            return false;
    }
    return true;
}

// Creates every folder of path below the target (path names a file).
void CreateFoldersFor(const std::wstring& path, size_t cchTargetDir)
{
    for (size_t i = cchTargetDir; i < path.size(); ++i) {
        if (path[i] == L'\\' || path[i] == L'/')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

// Every file this unpacking wrote: none stays when it fails.
std::vector<std::wstring> g_written;
// Why it failed: the first cause found.
DWORD g_dwCause;

bool Damaged()
{
    if (!g_dwCause)
        g_dwCause = ERROR_INVALID_DATA;
    return false;
}

bool FailedCall(DWORD dwFallback)
{
    if (!g_dwCause) {
        DWORD dwError = GetLastError();
        g_dwCause = dwError ? dwError : dwFallback;
    }
    return false;
}

bool UnpackOne(HANDLE hArchive, ULONGLONG& ullLeft, const std::wstring& targetDir,
               UINT uNameCodePage, BYTE* pBuffer)
{
    WORD cbName = 0;
    if (!ReadExact(hArchive, &cbName, sizeof(cbName), ullLeft) || cbName == 0 ||
        cbName > pac::NAME_MAX)
        return Damaged();
    char szName[pac::NAME_MAX + 1];
    if (!ReadExact(hArchive, szName, cbName, ullLeft))
        return Damaged();
    szName[cbName] = '\0';
    std::wstring name;
    if (strlen(szName) != cbName || !ToWide(szName, uNameCodePage, name) || !IsSafeName(name))
        return Damaged();
    ULONGLONG ullSize = 0;
    DWORD dwCrc = 0;
    if (!ReadExact(hArchive, &ullSize, sizeof(ullSize), ullLeft) ||
        !ReadExact(hArchive, &dwCrc, sizeof(dwCrc), ullLeft) || ullSize > ullLeft)
        return Damaged();

    std::wstring path = targetDir + name;
    if (path.size() >= MAX_PATH) {
        g_dwCause = g_dwCause ? g_dwCause : ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    CreateFoldersFor(path, targetDir.size());
    g_written.push_back(path);

    bool bOk = true;
    {
        File out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.Ok())
            return FailedCall(ERROR_WRITE_FAULT);
        DWORD dwActual = 0;
        while (ullSize > 0 && bOk) {
            DWORD cb = ullSize < BLOCK_SIZE ? static_cast<DWORD>(ullSize) : BLOCK_SIZE;
            DWORD cbWritten = 0;
            if (!ReadExact(hArchive, pBuffer, cb, ullLeft))
                bOk = Damaged();
            else if (!WriteFile(out.Get(), pBuffer, cb, &cbWritten, nullptr) || cbWritten != cb)
                bOk = FailedCall(ERROR_WRITE_FAULT);
            dwActual = UpdateCrc(dwActual, pBuffer, cb);
            ullSize -= cb;
        }
        if (bOk && dwActual != dwCrc)
            bOk = Damaged();
    }
    if (!bOk)
        DeleteFileW(path.c_str());
    return bOk;
}

}  // namespace

namespace {

int Unpack(LPCSTR szArchive, LPCSTR szTargetDir)
{
    if (!szArchive || !szTargetDir || !szArchive[0] || !szTargetDir[0]) {
        g_dwCause = ERROR_INVALID_PARAMETER;
        return PAC_FAILED;
    }
    std::wstring archivePath, targetDir;
    if (!ToWide(szArchive, CP_ACP, archivePath) || !ToWide(szTargetDir, CP_ACP, targetDir) ||
        targetDir.back() != L'\\') {
        g_dwCause = ERROR_INVALID_PARAMETER;
        return PAC_FAILED;
    }
    InitCrcTable();

    File archive(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!archive.Ok()) {
        FailedCall(ERROR_OPEN_FAILED);
        return PAC_FAILED;
    }
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(archive.Get(), &liSize)) {
        FailedCall(ERROR_READ_FAULT);
        return PAC_FAILED;
    }
    ULONGLONG ullLeft = static_cast<ULONGLONG>(liSize.QuadPart);

    BYTE header[pac::HEADER_SIZE];
    char magic[sizeof(pac::LAYOUT_MAGIC)];
    DWORD dwCount = 0;
    if (!ReadExact(archive.Get(), header, pac::HEADER_SIZE, ullLeft) ||
        memcmp(header, pac::HEADER, pac::HEADER_SIZE) != 0 ||
        !ReadExact(archive.Get(), magic, sizeof(magic), ullLeft) ||
        !ReadExact(archive.Get(), &dwCount, sizeof(dwCount), ullLeft)) {
        Damaged();
        return PAC_FAILED;
    }
    UINT uNameCodePage;
    if (memcmp(magic, pac::LAYOUT_MAGIC, sizeof(magic)) == 0)
        uNameCodePage = CP_ACP;
    else if (memcmp(magic, pac::LAYOUT_MAGIC_UTF8, sizeof(magic)) == 0)
        uNameCodePage = CP_UTF8;
    else {
        Damaged();
        return PAC_FAILED;
    }

    BYTE* pBuffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, BLOCK_SIZE));
    if (!pBuffer) {
        g_dwCause = ERROR_OUTOFMEMORY;
        return PAC_FAILED;
    }
    bool bOk = true;
    g_written.clear();
    for (DWORD i = 0; i < dwCount && bOk; ++i)
        bOk = UnpackOne(archive.Get(), ullLeft, targetDir, uNameCodePage, pBuffer);
    HeapFree(GetProcessHeap(), 0, pBuffer);
    // Nothing may follow the last file.
    if (bOk && ullLeft != 0)
        bOk = Damaged();
    if (!bOk) {
        for (const std::wstring& path : g_written) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
        g_written.clear();
        return PAC_FAILED;
    }
    g_written.clear();
    return static_cast<int>(dwCount & 0x7FFFFFFF);
}

}  // namespace

extern "C" int WINAPI PacUnpack(LPCSTR szArchive, LPCSTR szTargetDir)
{
    g_dwCause = 0;
    int iResult = Unpack(szArchive, szTargetDir);
    // The clean-up after a failure may have set another error.
    SetLastError(iResult == PAC_FAILED ? (g_dwCause ? g_dwCause : ERROR_INVALID_DATA) : 0);
    return iResult;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
