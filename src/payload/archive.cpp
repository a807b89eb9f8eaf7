#include "payload/archive.h"
#include "common/boundedtext.h"
#include "common/capacity.h"
#include "common/errors.h"
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

DWORD UnCompressFile(LPCWSTR szArchive, LPCWSTR szTargetDir, BOOL bRestoreFolders,
                     LPCWSTR szLibraryFolder)
{
    DWORD dwStart = GetTickCount();
    DWORD dwResult = ERROR_BAD_FORMAT;
    BOOL bCab = IsCabinetFile(szArchive);
    BOOL bZip = !bCab && IsZipFile(szArchive);
    BOOL bPac = !bCab && !bZip && IsaPacFile(szArchive);
    if (!bCab && !bZip && !bPac)
        DebugTrace(L"UnCompressFile()->Unknown format!");
    else if ((dwResult = CreateAllDirectory(szTargetDir)) != ERROR_SUCCESS)
        dwResult = ReportLastError(L"CreateDirectory", dwResult);
    else if (bCab)
        dwResult = UnPackCABFile(szArchive, szTargetDir, L"", bRestoreFolders);
    else if (bZip)
        dwResult = UnZipArchive(szArchive, szTargetDir);
    else
        dwResult = UnPacArchive(szArchive, szTargetDir, szLibraryFolder);
    if (dwResult != 0)
        DebugTrace(L"UnCompressFile(%s)->Uncompress file failed!", szArchive);
    else
        DebugTrace(L"UnCompressFile(%s)->UnCompress file done in %d ms", szArchive,
                   GetTickCount() - dwStart);
    return dwResult;
}
