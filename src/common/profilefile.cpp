#include "common/profilefile.h"
#include "common/boundedtext.h"
#include <vector>
#include "common/errors.h"
#include "common/handles.h"
#include "common/textcode.h"
#include "common/trace.h"

namespace {

// Each copy gets a name of its own: the profile functions keep what they
// read of a file by its name.
const WCHAR PROFILE_COPY_FORMAT[] = L"%s\\profile-utf16-%u.ini";
LONG volatile g_lCopies;
const BYTE UTF16LE_MARK[] = {0xFF, 0xFE};

// The whole file, when it is no larger than PROFILE_MAX_BYTES.
BOOL ReadProfileBytes(LPCWSTR szFile, std::vector<BYTE>& bytes)
{
    CFileHandle hFile(CreateFileW(szFile ? szFile : L"", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER liSize;
    if (!hFile.IsValid() || !GetFileSizeEx(hFile.Get(), &liSize) || liSize.QuadPart < 0 ||
        liSize.QuadPart > PROFILE_MAX_BYTES)
        return FALSE;
    bytes.resize(static_cast<size_t>(liSize.QuadPart));
    DWORD cbRead = 0;
    return bytes.empty() || (ReadFile(hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                      &cbRead, nullptr) &&
                             cbRead == bytes.size());
}

BOOL WriteAll(HANDLE hFile, const void* pv, size_t cb)
{
    DWORD cbWritten = 0;
    return WriteFile(hFile, pv, static_cast<DWORD>(cb), &cbWritten, nullptr) && cbWritten == cb;
}

}  // namespace

PROFILETEXT ProfileTextOf(LPCWSTR szFile)
{
    std::vector<BYTE> bytes;
    if (!ReadProfileBytes(szFile, bytes))
        return PROFILE_UNREADABLE;
    size_t cbMark = 0;
    switch (DetectTextEncoding(bytes.data(), bytes.size(), &cbMark)) {
    case TEXT_UTF16LE:
        return PROFILE_UTF16;
    case TEXT_UTF16BE:
        return PROFILE_NEEDS_COPY;
    case TEXT_UTF8:
        return cbMark == 0 && IsAscii(bytes.data(), bytes.size()) ? PROFILE_ASCII
                                                                   : PROFILE_NEEDS_COPY;
    default:
        return PROFILE_ANSI;
    }
}

DWORD WriteProfileCopy(LPCWSTR szSource, LPCWSTR szTarget)
{
    std::vector<BYTE> bytes;
    if (!ReadProfileBytes(szSource, bytes))
        return ERROR_READ_FAULT;
    std::vector<WCHAR> text = DecodeText(bytes.data(), bytes.size(), nullptr);
    CFileHandle hFile(CreateFileW(szTarget, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid())
        return GetLastError() ? GetLastError() : ERROR_CANNOT_MAKE;
    // UTF-16 units are little-endian on every Windows machine.
    if (!WriteAll(hFile.Get(), UTF16LE_MARK, sizeof(UTF16LE_MARK)) ||
        !WriteAll(hFile.Get(), text.data(), text.size() * sizeof(WCHAR))) {
        DWORD dwError = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        hFile.Close();
        DeleteFileW(szTarget);
        return dwError;
    }
    return ERROR_SUCCESS;
}

DWORD CreateUnicodeProfile(LPCWSTR szPath)
{
    CFileHandle hFile(CreateFileW(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid())
        return LastErrorOr(ERROR_CANNOT_MAKE);
    SetLastError(ERROR_SUCCESS);  // a short write leaves none
    if (!WriteAll(hFile.Get(), UTF16LE_MARK, sizeof(UTF16LE_MARK)))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

CProfileFile::CProfileFile(LPCWSTR szFile, LPCWSTR szCopyFolder, LPCWSTR szTraceName)
    : m_pszPath(szFile)
{
    m_szCopy[0] = L'\0';
    if (ProfileTextOf(szFile) != PROFILE_NEEDS_COPY)
        return;
    DWORD dwResult = ERROR_PATH_NOT_FOUND;
    if (szCopyFolder && szCopyFolder[0] &&
        SUCCEEDED(StringCchPrintfW(m_szCopy, PATH_CCH, PROFILE_COPY_FORMAT, szCopyFolder,
                                   static_cast<unsigned>(InterlockedIncrement(&g_lCopies)))))
        dwResult = WriteProfileCopy(szFile, m_szCopy);
    if (dwResult != ERROR_SUCCESS) {
        DebugTrace(L"%s->%s has no UTF-16 copy (%d): read as it is", szTraceName, szFile,
                   dwResult);
        m_szCopy[0] = L'\0';
        return;
    }
    DebugTrace(L"%s->%s read through its UTF-16 copy %s", szTraceName, szFile, m_szCopy);
    m_pszPath = m_szCopy;
}

CProfileFile::~CProfileFile()
{
    if (m_szCopy[0])
        DeleteFileW(m_szCopy);
}
