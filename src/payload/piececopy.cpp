// Provisional single-file copy; the block copy with progress replaces it.
#include "payload/piececopy.h"
#include <shlwapi.h>
#include <strsafe.h>
#include "common/capacity.h"
#include "common/filesys.h"

DWORD XCopyFile(LPCWSTR szFrom, LPCWSTR szTo, DWORD dwFlags)
{
    if (!szFrom || !szTo || !szFrom[0] || !szTo[0])
        return ERROR_INVALID_PARAMETER;
    if (dwFlags & XCOPY_CREATEDIR) {
        WCHAR szFolder[PATH_CCH];
        if (FAILED(StringCchCopyW(szFolder, PATH_CCH, szTo)))
            return ERROR_FILENAME_EXCED_RANGE;
        PathRemoveFileSpecW(szFolder);
        if (szFolder[0] && !CreateAllDirectory(szFolder)) {
            DWORD dwError = GetLastError();
            return dwError ? dwError : ERROR_PATH_NOT_FOUND;
        }
    }
    if (CopyFileW(szFrom, szTo, FALSE))
        return 0;
    DWORD dwError = GetLastError();
    return dwError ? dwError : ERROR_WRITE_FAULT;
}
