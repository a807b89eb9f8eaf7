#include "payload/piececopy.h"
#include "common/blockcopy.h"
#include "common/cancel.h"
#include "common/errors.h"
#include "common/filecopy.h"
#include "common/filesys.h"
#include "common/handles.h"
#include "common/progress.h"
#include "common/runfiles.h"
#include "common/trace.h"

DWORD ExtractPieceOfFile(HANDLE hSource, LPCWSTR szSource, ULONGLONG ullOffset, ULONGLONG ullSize,
                         LPCWSTR szTarget, BOOL bCreateDir, BOOL bResume, SHA256CONTEXT* pHash)
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

    // A link in the target's place is removed, never written through.
    RemoveLinkAt(szTarget);

    // Resume probe: a target that exists is continued from its size, but
    // only when what it holds is, byte for byte, the start of the piece: a
    // file someone put there, or one of another version of the package, is
    // extracted again.
    ULONGLONG ullDone = 0;
    CFileHandle hTarget;
    if (bResume) {
        hTarget.Reset(CreateFileNoLink(szTarget, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL));
        LARGE_INTEGER liSize;
        if (!hTarget.IsValid() || !GetFileSizeEx(hTarget.Get(), &liSize)) {
            bResume = FALSE;
        } else if (static_cast<ULONGLONG>(liSize.QuadPart) > ullSize) {
            // Longer than the piece: not ours to continue.
            bResume = FALSE;
        } else {
            ullDone = static_cast<ULONGLONG>(liSize.QuadPart);
            DWORD dwSeek = SeekTo(hTarget.Get(), 0);
            if (dwSeek == ERROR_SUCCESS)
                dwSeek = SeekTo(hSource, ullOffset);
            if (dwSeek != ERROR_SUCCESS) {
                ReportLastError(L"SetFilePointerEx", dwSeek);
                bResume = FALSE;
            } else if (!SameBlocks(hSource, hTarget.Get(), ullDone, pHash)) {
                DebugTrace(L"ExtractPieceOfFile()->%s is not the start of the piece: extracted again",
                           szTarget);
                bResume = FALSE;
            } else if ((dwSeek = SeekToEnd(hTarget.Get())) != ERROR_SUCCESS ||
                       (dwSeek = SeekTo(hSource, ullOffset + ullDone)) != ERROR_SUCCESS) {
                ReportLastError(L"SetFilePointerEx", dwSeek);
                bResume = FALSE;
            }
        }
    }
    if (!bResume) {
        ullDone = 0;
        hTarget.Close();
        // Nothing kept: the check starts from the first byte again.
        if (pHash)
            Sha256Init(*pHash);
        DWORD dwKept = MayReplace(szTarget);
        if (dwKept != ERROR_SUCCESS)
            return dwKept;
        DWORD dwFolder = bCreateDir ? CreateFolderOf(szTarget) : ERROR_SUCCESS;
        if (dwFolder != ERROR_SUCCESS)
            return dwFolder;
        hTarget.Reset(CreateFileNoLink(szTarget, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        if (!hTarget.IsValid())
            return ReportLastError(L"CreateFile", GetLastError());
        NoteRunFile(szTarget);
        DWORD dwSeek = SeekTo(hSource, ullOffset);
        if (dwSeek != ERROR_SUCCESS)
            return ReportLastError(L"SetFileSeek64", dwSeek);
    }

    if (bResume)
        NoteRunFile(szTarget);
    if (Progress().GetMaxData() == 0)
        Progress().DefineData(ullSize);
    ReportBytes(ullDone);

    DWORD cbLastRead = 0;
    auto observer = MakeBlockObserver(
        [&](DWORD, DWORD cbRead, BOOL, ULONGLONG) { cbLastRead = cbRead; },
        [&](DWORD cbWritten, BOOL bOk, ULONGLONG ullLeft) {
            DebugTrace(L"ExtractPieceOfFile()->BytesWriten=%u BytesRead=%u BytesToCopy=%I64u "
                       L"Result=%d",
                       cbWritten, cbLastRead, ullLeft, bOk);
            ReportBytes(cbWritten);
        });
    CFileSource file(hSource);
    CHashingSource source(file, pHash);
    COPYRESULT copy = CopyBlocks(source, hTarget.Get(), ullSize - ullDone, COPY_BLOCK_SIZE,
                                 &observer, nullptr);
    DWORD dwResult = CopyResultToCode(copy, szTarget);
    if (dwResult == ERROR_OUTOFMEMORY)
        return dwResult;
    DebugTrace(L"ExtractPieceOfFile()->Extract done in %d ms", GetTickCount() - dwStart);

    hTarget.Close();
    hOwnSource.Close();
    if (IsCancelled())
        return ERROR_CANCELLED;
    DebugTrace(L"ExtractPieceOfFile()->End(%d)", dwResult);
    return dwResult;
}

