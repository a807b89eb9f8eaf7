#include "payload/archive.h"
#include <strsafe.h>
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/trace.h"
#include "payload/archiveutil.h"
#include "payload/entryname.h"

BOOL IsUnsafeEntryName(LPCWSTR szName)
{
    return entryname::IsUnsafeName(szName);
}

LPCWSTR EntryFileName(LPCWSTR szName)
{
    LPCWSTR pszFile = szName;
    for (LPCWSTR p = szName; *p; ++p) {
        if (*p == L'\\' || *p == L'/')
            pszFile = p + 1;
    }
    return pszFile;
}

std::wstring JoinEntryPath(LPCWSTR szFolder, LPCWSTR szName)
{
    std::wstring path = szFolder ? szFolder : L"";
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    for (LPCWSTR p = szName ? szName : L""; *p; ++p)
        path += (*p == L'/') ? L'\\' : *p;
    return path;
}

BOOL JoinEntryPath(LPWSTR szOut, size_t cchOut, LPCWSTR szFolder, LPCWSTR szName)
{
    std::wstring path = JoinEntryPath(szFolder, szName);
    return SUCCEEDED(StringCchCopyW(szOut, cchOut, path.c_str()));
}

void RemoveWrittenMember(LPCWSTR szCaller, const std::wstring& path)
{
    BOOL bDeleted = DeleteFileNoLink(path.c_str()) == ERROR_SUCCESS;
    DebugTrace(L"%s->%s removed (%d)", szCaller, path.c_str(), bDeleted);
}

BOOL AnsiToWide(LPCSTR sz, LPWSTR szOut, int cchOut, UINT uCodePage)
{
    if (cchOut <= 0)
        return FALSE;
    szOut[0] = L'\0';
    if (!sz || !sz[0])
        return TRUE;
    int cch = MultiByteToWideChar(uCodePage, 0, sz, -1, szOut, cchOut);
    if (cch <= 0) {
        szOut[0] = L'\0';
        return FALSE;
    }
    szOut[cchOut - 1] = L'\0';
    return TRUE;
}

BOOL WideToAnsi(LPCWSTR sz, LPSTR szOut, int cbOut)
{
    if (cbOut <= 0)
        return FALSE;
    szOut[0] = '\0';
    if (!sz || !sz[0])
        return TRUE;
    BOOL bLossy = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, 0, sz, -1, szOut, cbOut, nullptr, &bLossy);
    if (cb <= 0 || bLossy) {
        szOut[0] = '\0';
        return FALSE;
    }
    szOut[cbOut - 1] = '\0';
    return TRUE;
}

DWORD UnCompressFile(LPCWSTR szArchive, LPCWSTR szTargetDir, BOOL bRestoreFolders)
{
    DWORD dwStart = GetTickCount();
    DWORD dwResult;
    if (IsCabinetFile(szArchive)) {
        CreateAllDirectory(szTargetDir);
        dwResult = UnPackCABFile(szArchive, szTargetDir, L"", bRestoreFolders);
    } else if (IsZipFile(szArchive)) {
        CreateAllDirectory(szTargetDir);
        dwResult = UnZipFile(szArchive, szTargetDir) == 1 ? 0 : ERROR_CRC;
    } else if (IsaPacFile(szArchive)) {
        CreateAllDirectory(szTargetDir);
        dwResult = UnPAC(szArchive, szTargetDir) == 1 ? 0 : ERROR_CRC;
    } else {
        DebugTrace(L"UnCompressFile()->Unknown format!");
        dwResult = ERROR_BAD_FORMAT;
    }
    if (dwResult != 0)
        DebugTrace(L"UnCompressFile(%s)->Uncompress file failed!", szArchive);
    else
        DebugTrace(L"UnCompressFile(%s)->UnCompress file done in %d ms", szArchive,
                   GetTickCount() - dwStart);
    return dwResult;
}
