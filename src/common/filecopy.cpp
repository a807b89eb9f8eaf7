#include "common/filecopy.h"
#include "common/safefile.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include "common/blockcopy.h"
#include "common/capacity.h"
#include "common/cancel.h"
#include "common/errors.h"
#include "common/filesys.h"
#include "common/handles.h"
#include "common/osversion.h"
#include "common/progress.h"
#include "common/register.h"
#include "common/runfiles.h"
#include "common/trace.h"
#include "common/version.h"

namespace {

const DWORD ERROR_CODE_READ_WRITE = ERROR_CRC;  // 23
const DWORD VERSION_CCH = 80;

// A whole small file in one block; larger ones in COPY_BLOCK_SIZE blocks.
DWORD BlockSizeFor(ULONGLONG ullRemaining)
{
    return (ullRemaining != 0 && ullRemaining < COPY_BLOCK_SIZE) ? static_cast<DWORD>(ullRemaining)
                                                                  : COPY_BLOCK_SIZE;
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

DWORD XCopyFile(LPCWSTR szFrom, LPCWSTR szTo, DWORD dwFlags, SHA256CONTEXT* pHash)
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
    // A target that is the source itself already holds every byte; opening
    // it for writing would only fail on our own read handle.
    if (IsSameFile(hSource.Get(), szTo)) {
        DebugTrace(L"XCopyFile(%s, %s)->Same file: nothing to copy", szFrom, szTo);
        return 0;
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
        hTarget.Reset(CreateFileNoLink(szTo, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL));
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
            } else if (!SameBlocks(hSource.Get(), hTarget.Get(),
                                   static_cast<ULONGLONG>(liSize.QuadPart), pHash)) {
                // The date alone proves nothing: the part kept must be the
                // source's own start.
                DebugTrace(L"XCopyFile()->%s is not the start of %s: copied again", szTo, szFrom);
                bResume = FALSE;
            } else {
                ullDone = static_cast<ULONGLONG>(liSize.QuadPart);
                DWORD dwSeek = SeekToEnd(hTarget.Get());
                if (dwSeek == ERROR_SUCCESS)
                    dwSeek = SeekTo(hSource.Get(), ullDone);
                if (dwSeek != ERROR_SUCCESS) {
                    ReportLastError(L"SetFilePointerEx", dwSeek);
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
        // Nothing kept: the check starts from the first byte again.
        if (pHash)
            Sha256Init(*pHash);
        DWORD dwKept = MayReplace(szTo);
        if (dwKept != ERROR_SUCCESS)
            return dwKept;
        DWORD dwFolder = (dwFlags & XCOPY_CREATEDIR) ? CreateFolderOf(szTo) : ERROR_SUCCESS;
        if (dwFolder != ERROR_SUCCESS)
            return dwFolder;
        hTarget.Reset(CreateFileNoLink(szTo, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        if (!hTarget.IsValid()) {
            DWORD dwError = GetLastError();
            if ((dwFlags & LOCKEDFILE) && dwError != ERROR_CANT_ACCESS_FILE)
                ReadLockedFiles(szFrom, szTo);
            return ReportLastError(L"CreateFile", dwError);
        }
        NoteRunFile(szTo);
        SetFileTime(hTarget.Get(), &ftSource, nullptr, &ftSource);
        DWORD dwSeek = SeekTo(hSource.Get(), 0);
        if (dwSeek != ERROR_SUCCESS)
            return ReportLastError(L"SetFilePointerEx", dwSeek);
    }

    if (bResume)
        NoteRunFile(szTo);
    Progress().DefineData(ullSourceSize);
    ReportBytes(ullDone);

    auto observer = MakeBlockObserver(
        [](DWORD cbWant, DWORD cbRead, BOOL bOk, ULONGLONG) {
            DebugTrace(L"XCopyFile()->ReadFile(BUFLEN=%d BytesRead=%d)=%d", cbWant, cbRead, bOk);
        },
        [](DWORD cbWritten, BOOL bOk, ULONGLONG) {
            DebugTrace(L"XCopyFile()->WriteFile(BytesWritten=%d)=%d", cbWritten, bOk);
            ReportBytes(cbWritten);
        });
    CFileSource file(hSource.Get());
    CHashingSource source(file, pHash);
    COPYRESULT copy = CopyBlocks(source, hTarget.Get(), COPY_UNTIL_END,
                                 BlockSizeFor(ullSourceSize - ullDone), &observer, nullptr);
    DWORD dwResult = CopyResultToCode(copy, szTo);
    if (dwResult == ERROR_OUTOFMEMORY)
        return dwResult;
    // Writing moved the last-write time; a partial copy must keep the source's
    // time too, since that is how a later run recognises it.
    SetFileTime(hTarget.Get(), &ftSource, nullptr, &ftSource);
    hTarget.Close();
    if (dwResult == 0) {
        if (dwFlags & CLEAR_FILE_ATTR)
            (void)SetAttributesNoLink(szTo, FILE_ATTRIBUTE_NORMAL);  // a copy made, whatever its attributes
        // A copy that was to be registered and is not has not done its job.
        if ((dwFlags & XCOPY_REGISTER) && RegisterFile(szTo, L"", 1) != ERROR_SUCCESS)
            dwResult = ERROR_FUNCTION_FAILED;
    }
    hSource.Close();
    DebugTrace(L"XCopyFile()->End(%d)", dwResult);
    return dwResult;
}

DWORD CopyResultToCode(COPYRESULT copy, LPCWSTR szTarget)
{
    switch (copy) {
    case COPYRESULT::NO_MEMORY:
        return ERROR_OUTOFMEMORY;
    case COPYRESULT::WRITE_FAILED:
        if (WriteErrorCode(GetLastError()) == ERROR_DISK_FULL)
            return ERROR_DISK_FULL;
        return ERROR_CODE_READ_WRITE;
    case COPYRESULT::READ_FAILED:
    case COPYRESULT::SOURCE_ENDED:
        return ERROR_CODE_READ_WRITE;
    default:
        return FileExists(szTarget) ? 0 : ERROR_FILE_NOT_FOUND;
    }
}

DWORD WriteErrorCode(DWORD dwError)
{
    return dwError == ERROR_HANDLE_DISK_FULL ? ERROR_DISK_FULL : dwError;
}

namespace {

class CCopyFiles : public IFolderVisitor {
public:
    CCopyFiles(LPCWSTR szDestFolder, DWORD dwFlags) : m_szDest(szDestFolder), m_dwFlags(dwFlags) {}
    BOOL OnFile(LPCWSTR szPath, LPCWSTR szRelative, const WIN32_FIND_DATAW& fd) override
    {
        if (IsCancelled())
            return FALSE;
        WCHAR szFolder[PATH_CCH];
        WCHAR szTo[PATH_CCH];
        if (!JoinPath(szFolder, m_szDest, szRelative) || !JoinPath(szTo, szFolder, fd.cFileName)) {
            m_dwLast = ERROR_FILENAME_EXCED_RANGE;
            return TRUE;
        }
        // No folder, no copy: that is a failure, not "nothing copied".
        m_dwLast = CreateAllDirectory(szFolder);
        if (m_dwLast != ERROR_SUCCESS)
            return TRUE;
        m_dwLast = XCopyFile(szPath, szTo, m_dwFlags);
        return TRUE;
    }
    void OnTooLong(LPCWSTR, LPCWSTR) override { m_dwLast = ERROR_FILENAME_EXCED_RANGE; }
    LPCWSTR m_szDest;
    DWORD m_dwFlags;
    DWORD m_dwLast = 0;
};

}  // namespace

DWORD XCopyFiles(LPCWSTR szSrcPattern, LPCWSTR szDestFolder, DWORD dwFlags)
{
    WCHAR szFolder[PATH_CCH];
    WCHAR szName[PATH_CCH];
    CCopyFiles copier(szDestFolder ? szDestFolder : L"", dwFlags);
    if (szSrcPattern && szSrcPattern[0] && szDestFolder) {
        if (SplitPattern(szSrcPattern, szFolder, szName))
            WalkFolder(szFolder, szName, (dwFlags & FS_INCLUDE_SUBDIR) != 0, copier);
        else
            copier.m_dwLast = ERROR_FILENAME_EXCED_RANGE;
    }
    DebugTraceA("XCopyFiles()->%d", static_cast<int>(copier.m_dwLast));
    return copier.m_dwLast;
}

DWORD ReadLockedFiles(LPCWSTR szFile, LPCWSTR szTarget)
{
    if (!szFile || !szFile[0])
        return 0;
    if (!szTarget || !szTarget[0]) {
        (void)RemoveAtRestart(szFile);  // traced; the outcome is the log's
        return 0;
    }
    OSVERSIONINFOEXW osvi;
    BOOL bExtended = FALSE;
    if (QueryOSVersion(osvi, &bExtended) != ERROR_SUCCESS) {
        DebugTraceA("ReadLockedFiles()->OSVERSIONINFOEX failed");
        return 0;
    }
    // Only the NT family's delayed move is used (see RemoveAtRestart).
    if (osvi.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return 0;
    // Stage the new content next to the target; the restart puts it in place.
    WCHAR szFolder[PATH_CCH];
    if (FAILED(StringCchCopyW(szFolder, PATH_CCH, szTarget)))
        return 0;
    PathRemoveFileSpecW(szFolder);
    if (!szFolder[0])
        // Fits.
        (void)StringCchCopyW(szFolder, PATH_CCH, L".");
    WCHAR szPrefix[4];
    // Three characters fit.
    (void)StringCchCopyNW(szPrefix, ARRAYSIZE(szPrefix), PathFindFileNameW(szFile), 3);
    WCHAR szTemp[PATH_CCH];
    if (!GetTempFileNameW(szFolder, szPrefix, 0, szTemp))
        return 0;
    if (GetFileAttributesW(szFile) == INVALID_FILE_ATTRIBUTES || XCopyFile(szFile, szTemp, 0) != 0) {
        DeleteFileW(szTemp);
        return 0;
    }
    BOOL bMoved = MoveFileExW(szTemp, szTarget, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    DebugTrace(L"MoveFileEx(%s, %s)=>%d", szTemp, szTarget, bMoved);
    if (!bMoved)
        DeleteFileW(szTemp);
    return 0;
}

