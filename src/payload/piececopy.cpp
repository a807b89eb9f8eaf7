#include "payload/piececopy.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <memory>
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/sysdll.h"
#include "common/trace.h"
#include "common/version.h"
#include "launcher/state.h"
#include "script/register.h"
#include "ui/progress.h"

namespace {

const DWORD ERROR_CODE_NO_BUFFER = ERROR_NOT_ENOUGH_MEMORY;  // 8
const DWORD ERROR_CODE_READ_WRITE = ERROR_CRC;               // 23
const DWORD INTERNET_EXTENDED_ERROR = 12003;
const DWORD VERSION_CCH = 80;
const DWORD RESPONSE_CCH = 4096;

// One block buffer per call, released on every return.
struct BlockBuffer {
    explicit BlockBuffer(DWORD cb)
        : pData(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1))), cbSize(cb) {}
    ~BlockBuffer()
    {
        if (pData)
            HeapFree(GetProcessHeap(), 0, pData);
    }
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;
    BYTE* pData;
    DWORD cbSize;
};

DWORD BlockSizeFor(ULONGLONG ullRemaining)
{
    return (ullRemaining != 0 && ullRemaining < COPY_BLOCK_SIZE) ? static_cast<DWORD>(ullRemaining)
                                                                  : COPY_BLOCK_SIZE;
}

BOOL IsCancelled()
{
    return g_bCancel != 0;
}

BOOL FileExists(LPCWSTR szPath)
{
    return GetFileAttributesW(szPath) != INVALID_FILE_ATTRIBUTES;
}

// Creates the folder that will hold szFile.
void CreateFolderOf(LPCWSTR szFile)
{
    WCHAR szFolder[PATH_CCH];
    if (FAILED(StringCchCopyW(szFolder, PATH_CCH, szFile)))
        return;
    if (PathRemoveFileSpecW(szFolder) && szFolder[0])
        CreateAllDirectory(szFolder);
}

BOOL SeekTo(HANDLE hFile, ULONGLONG ullOffset)
{
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(ullOffset);
    return SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN);
}

BOOL SeekToEnd(HANDLE hFile)
{
    LARGE_INTEGER li;
    li.QuadPart = 0;
    return SetFilePointerEx(hFile, li, nullptr, FILE_END);
}

void ReportInternetResponse(LPCWSTR szOperation)
{
    DebugTrace(L"%s->InternetGetLastResponseInfo (%d)", szOperation, INTERNET_EXTENDED_ERROR);
    HMODULE hInet = LoadSystemLibrary(L"wininet.dll");
    if (!hInet)
        return;
    typedef BOOL(WINAPI * PFN_RESPONSE)(LPDWORD, LPWSTR, LPDWORD);
    auto pfnResponse = reinterpret_cast<PFN_RESPONSE>(
        reinterpret_cast<void*>(GetProcAddress(hInet, "InternetGetLastResponseInfoW")));
    if (pfnResponse) {
        std::unique_ptr<WCHAR[]> szResponse(new (std::nothrow) WCHAR[RESPONSE_CCH]);
        DWORD dwError = 0;
        DWORD cch = RESPONSE_CCH;
        if (szResponse && pfnResponse(&dwError, szResponse.get(), &cch)) {
            szResponse[cch < RESPONSE_CCH ? cch : RESPONSE_CCH - 1] = L'\0';
            // One log line per line of the server's answer.
            WCHAR* pszContext = nullptr;
            for (WCHAR* pszLine = wcstok_s(szResponse.get(), L"\r\n", &pszContext); pszLine;
                 pszLine = wcstok_s(nullptr, L"\r\n", &pszContext))
                DebugTrace(L"%s->InternetGetLastResponseInfo (%s)", szOperation, pszLine);
        }
    }
    FreeLibrary(hInet);
}

// Update rule by file date. The source is copied only over an older target:
// with UPDATE_SAME a target of the same date is overwritten too. A target
// that does not exist is always written. The target's time is the one the
// resume probe saw, else it is read from the file system. "First file" in
// the log lines is the target, "second file" the source.
BOOL SkipByDate(LPCWSTR szFrom, LPCWSTR szTo, DWORD dwFlags, const FILETIME& ftSource,
                const FILETIME* pftTarget)
{
    FILETIME ftTarget;
    if (pftTarget) {
        ftTarget = *pftTarget;
    } else {
        WIN32_FILE_ATTRIBUTE_DATA fad;
        if (!GetFileAttributesExW(szTo, GetFileExInfoStandard, &fad))
            return FALSE;
        ftTarget = fad.ftLastWriteTime;
    }
    LONG lCompare = CompareFileTime(&ftTarget, &ftSource);
    if (dwFlags & UPDATE_SAME) {
        if (lCompare > 0) {
            DebugTrace(L"XCopyFile(%s, %s)->First file time is later than second file time", szTo,
                       szFrom);
            return TRUE;
        }
    } else if (lCompare >= 0) {
        DebugTrace(L"XCopyFile(%s, %s)->First file time is later or equal than second file time",
                   szTo, szFrom);
        return TRUE;
    }
    return FALSE;
}

DWORD FileVersionID(LPCWSTR szFile)
{
    WCHAR szVersion[VERSION_CCH];
    if (!GetFileVersionString(szFile, L"FileVersion", szVersion, VERSION_CCH) || !szVersion[0])
        return 0;
    return VersionTextToID(szVersion);
}

}  // namespace

DWORD ReportLastError(LPCWSTR szOperation, DWORD dwError)
{
    if (dwError == 0)
        dwError = GetLastError();
    if (dwError == 0)
        dwError = ERROR_GEN_FAILURE;  // a failure must never read as success
    if (!szOperation)
        szOperation = L"";
    if (dwError == INTERNET_EXTENDED_ERROR) {
        ReportInternetResponse(szOperation);
        return dwError;
    }
    LPWSTR pszText = nullptr;
    DWORD cch = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, dwError, 0, reinterpret_cast<LPWSTR>(&pszText), 0, nullptr);
    if (cch && pszText) {
        while (cch && (pszText[cch - 1] == L'\n' || pszText[cch - 1] == L'\r' ||
                       pszText[cch - 1] == L' '))
            pszText[--cch] = L'\0';
        DebugTrace(L"%s->%s (%d)", szOperation, pszText, dwError);
    } else {
        DebugTrace(L"%s->%s (%d)", szOperation, L"", dwError);
    }
    if (pszText)
        LocalFree(pszText);
    return dwError;
}

DWORD ExtractPieceOfFile(HANDLE hSource, LPCWSTR szSource, ULONGLONG ullOffset, ULONGLONG ullSize,
                         LPCWSTR szTarget, BOOL bCreateDir, BOOL bResume)
{
    DebugTrace(L"ExtractPieceOfFile()->OffSet=%I64u FileSize=%I64u FileTo=%s", ullOffset, ullSize,
               szTarget ? szTarget : L"");
    if (IsCancelled())
        return ERROR_CANCELLED;
    if (!szTarget || !szTarget[0])
        return ERROR_INVALID_PARAMETER;
    DWORD dwStart = GetTickCount();

    CFileHandle hOwnSource;
    if (hSource == nullptr || hSource == INVALID_HANDLE_VALUE) {
        hOwnSource.Reset(CreateFileW(szSource ? szSource : L"", GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!hOwnSource.IsValid())
            return ReportLastError(L"CreateFile", GetLastError());
        hSource = hOwnSource.Get();
    }

    // Resume probe: a target that exists is continued from its size.
    ULONGLONG ullDone = 0;
    CFileHandle hTarget;
    if (bResume) {
        hTarget.Reset(CreateFileW(szTarget, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER liSize;
        if (!hTarget.IsValid() || !GetFileSizeEx(hTarget.Get(), &liSize)) {
            bResume = FALSE;
        } else if (static_cast<ULONGLONG>(liSize.QuadPart) > ullSize) {
            // Longer than the piece: not ours to continue.
            bResume = FALSE;
        } else {
            ullDone = static_cast<ULONGLONG>(liSize.QuadPart);
            if (!SeekToEnd(hTarget.Get()) || !SeekTo(hSource, ullOffset + ullDone)) {
                ReportLastError(L"SetFilePointerEx", GetLastError());
                bResume = FALSE;
            }
        }
    }
    if (!bResume) {
        ullDone = 0;
        hTarget.Close();
        if (bCreateDir)
            CreateFolderOf(szTarget);
        hTarget.Reset(CreateFileW(szTarget, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hTarget.IsValid())
            return ReportLastError(L"CreateFile", GetLastError());
        if (!SeekTo(hSource, ullOffset))
            return ReportLastError(L"SetFileSeek64", GetLastError());
    }

    if (g_Progress.MaxData == 0)
        g_Progress.DefineData(ullSize);
    g_Progress.NewStep(g_Progress.AddBytesDone(ullDone));

    ULONGLONG ullToCopy = ullSize - ullDone;
    BlockBuffer buffer(BlockSizeFor(ullToCopy));
    if (!buffer.pData)
        return ERROR_CODE_NO_BUFFER;

    BOOL bResult = TRUE;
    while (ullToCopy > 0 && bResult && !IsCancelled()) {
        DWORD cbWant = ullToCopy < buffer.cbSize ? static_cast<DWORD>(ullToCopy) : buffer.cbSize;
        DWORD cbRead = 0;
        DWORD cbWritten = 0;
        bResult = ReadFile(hSource, buffer.pData, cbWant, &cbRead, nullptr);
        if (bResult && cbRead == 0)
            bResult = FALSE;  // the source ends before the piece does
        if (bResult) {
            bResult = WriteFile(hTarget.Get(), buffer.pData, cbRead, &cbWritten, nullptr) &&
                      cbWritten == cbRead;
            ullToCopy -= cbRead;
            DebugTrace(L"ExtractPieceOfFile()->BytesWriten=%u BytesRead=%u BytesToCopy=%I64u "
                       L"Result=%d",
                       cbWritten, cbRead, ullToCopy, bResult);
            g_Progress.NewStep(g_Progress.AddBytesDone(cbWritten));
        }
    }

    DWORD dwResult = 0;
    if (!bResult)
        dwResult = ERROR_CODE_READ_WRITE;
    else if (!FileExists(szTarget))
        dwResult = ERROR_FILE_NOT_FOUND;
    DebugTrace(L"ExtractPieceOfFile()->Extract done in %d ms", GetTickCount() - dwStart);

    hTarget.Close();
    hOwnSource.Close();
    if (IsCancelled())
        return ERROR_CANCELLED;
    DebugTrace(L"ExtractPieceOfFile()->End(%d)", dwResult);
    return dwResult;
}

DWORD XCopyFile(LPCWSTR szFrom, LPCWSTR szTo, DWORD dwFlags)
{
    if (IsCancelled())
        return 0;
    if (!szFrom || !szTo || !szTo[0])
        return ERROR_INVALID_PARAMETER;
    CFileHandle hSource(CreateFileW(szFrom, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hSource.IsValid()) {
        // A missing source is no error: nothing to copy. One that exists but
        // can not be read is.
        DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ||
            dwError == ERROR_INVALID_NAME) {
            DebugTrace(L"XCopyFile(%s, %s)->Source not found", szFrom, szTo);
            return 0;
        }
        return ReportLastError(L"CreateFile", dwError);
    }

    BOOL bResume = (dwFlags & XCOPY_RESUME) != 0;
    FILETIME ftSource;
    if (!GetFileTime(hSource.Get(), nullptr, nullptr, &ftSource))
        GetSystemTimeAsFileTime(&ftSource);
    LARGE_INTEGER liSourceSize;
    ULONGLONG ullSourceSize = 0;
    if (GetFileSizeEx(hSource.Get(), &liSourceSize))
        ullSourceSize = static_cast<ULONGLONG>(liSourceSize.QuadPart);
    else
        bResume = FALSE;

    // Resume probe: a partial target of ours carries the source's time.
    ULONGLONG ullDone = 0;
    FILETIME ftTarget = {0, 0};
    BOOL bTargetTimeKnown = FALSE;
    CFileHandle hTarget;
    if (bResume) {
        hTarget.Reset(CreateFileW(szTo, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER liSize;
        if (!hTarget.IsValid()) {
            bResume = FALSE;
        } else {
            bTargetTimeKnown = GetFileTime(hTarget.Get(), nullptr, nullptr, &ftTarget);
            if (!bTargetTimeKnown || CompareFileTime(&ftTarget, &ftSource) != 0) {
                DebugTrace(L"XCopyFile()->Files are not on the same date!");
                bResume = FALSE;
            } else if (!GetFileSizeEx(hTarget.Get(), &liSize) ||
                       static_cast<ULONGLONG>(liSize.QuadPart) > ullSourceSize) {
                bResume = FALSE;
            } else {
                ullDone = static_cast<ULONGLONG>(liSize.QuadPart);
                if (!SeekToEnd(hTarget.Get()) || !SeekTo(hSource.Get(), ullDone)) {
                    ReportLastError(L"SetFilePointerEx", GetLastError());
                    bResume = FALSE;
                }
            }
        }
    }

    if (!bResume) {
        if (dwFlags & UPDATE_VERSION) {
            DWORD dwSourceVersion = FileVersionID(szFrom);
            DWORD dwTargetVersion = FileVersionID(szTo);
            if (dwSourceVersion == 0 && dwTargetVersion == 0) {
                dwFlags |= UPDATE_DATE;
            } else if ((dwFlags & UPDATE_SAME) ? dwSourceVersion < dwTargetVersion
                                               : dwSourceVersion <= dwTargetVersion) {
                DebugTrace(L"XCopyFile(%s, %s)->Version %#x over %#x: skipped", szFrom, szTo,
                           dwSourceVersion, dwTargetVersion);
                return 0;
            }
        }
        if ((dwFlags & UPDATE_DATE) &&
            SkipByDate(szFrom, szTo, dwFlags, ftSource, bTargetTimeKnown ? &ftTarget : nullptr))
            return 0;

        ullDone = 0;
        hTarget.Close();
        if (dwFlags & XCOPY_CREATEDIR)
            CreateFolderOf(szTo);
        hTarget.Reset(CreateFileW(szTo, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hTarget.IsValid()) {
            DWORD dwError = GetLastError();
            if (dwFlags & LOCKEDFILE)
                ReadLockedFiles(szFrom, szTo);
            return ReportLastError(L"CreateFile", dwError);
        }
        SetFileTime(hTarget.Get(), &ftSource, nullptr, &ftSource);
        if (!SeekTo(hSource.Get(), 0))
            return ReportLastError(L"SetFilePointerEx", GetLastError());
    }

    g_Progress.DefineData(ullSourceSize);
    g_Progress.NewStep(g_Progress.AddBytesDone(ullDone));

    BlockBuffer buffer(BlockSizeFor(ullSourceSize - ullDone));
    if (!buffer.pData)
        return ERROR_CODE_NO_BUFFER;

    BOOL bResult = TRUE;
    for (;;) {
        DWORD cbRead = 0;
        bResult = ReadFile(hSource.Get(), buffer.pData, buffer.cbSize, &cbRead, nullptr);
        DebugTrace(L"XCopyFile()->ReadFile(BUFLEN=%d BytesRead=%d)=%d", buffer.cbSize, cbRead,
                   bResult);
        if (!bResult || cbRead == 0)
            break;
        DWORD cbWritten = 0;
        bResult = WriteFile(hTarget.Get(), buffer.pData, cbRead, &cbWritten, nullptr) &&
                  cbWritten == cbRead;
        DebugTrace(L"XCopyFile()->WriteFile(BytesWritten=%d)=%d", cbWritten, bResult);
        g_Progress.NewStep(g_Progress.AddBytesDone(cbWritten));
        if (!bResult || IsCancelled())
            break;
    }

    DWORD dwResult = 0;
    if (!bResult)
        dwResult = ERROR_CODE_READ_WRITE;
    else if (!FileExists(szTo))
        dwResult = ERROR_FILE_NOT_FOUND;
    // Writing moved the last-write time; a partial copy must keep the source's
    // time too, since that is how a later run recognises it.
    SetFileTime(hTarget.Get(), &ftSource, nullptr, &ftSource);
    hTarget.Close();
    if (dwResult == 0) {
        if (dwFlags & CLEAR_FILE_ATTR)
            SetFileAttributesW(szTo, FILE_ATTRIBUTE_NORMAL);
        if (dwFlags & XCOPY_REGISTER)
            RegisterFile(szTo, L"", 1);
    }
    hSource.Close();
    DebugTrace(L"XCopyFile()->End(%d)", dwResult);
    return dwResult;
}
