// ZIP unpacking through minizip on zlib: every entry lands flat in the
// target folder.
#include <unzip.h>
// iowin32.h needs the declarations of unzip.h first.
#include <iowin32.h>
#include <strsafe.h>
#include <algorithm>
#include <string>
#include <vector>
#include "common/cancel.h"
#include "common/handles.h"
#include "common/capacity.h"
#include "common/filesys.h"
#include "common/textcode.h"
#include "common/trace.h"
#include "state/state.h"
#include "payload/archive.h"
#include "payload/archiveutil.h"
#include "common/progress.h"
#include "common/runfiles.h"

namespace {

const DWORD ZIP_CHUNK_SIZE = 16384;
const unsigned long ZIP_FLAG_UTF8 = 0x800;

// An open archive, closed exactly once.
class CZipReader {
public:
    explicit CZipReader(LPCWSTR szPath) : m_zip(nullptr)
    {
        zlib_filefunc64_def functions;
        fill_win32_filefunc64W(&functions);
        m_zip = unzOpen2_64(szPath, &functions);
    }
    ~CZipReader()
    {
        if (m_zip)
            unzClose(m_zip);
    }
    CZipReader(const CZipReader&) = delete;
    CZipReader& operator=(const CZipReader&) = delete;
    unzFile Get() const { return m_zip; }

private:
    unzFile m_zip;
};

// The current entry's name in wide characters; FALSE when it does not fit
// or is not what its encoding says. A name is UTF-8 when the entry's
// UTF-8 flag says so, else in the OEM code page, as ZIP tools write it.
BOOL CurrentEntry(unzFile zip, unz_file_info64& info, WCHAR (&wszName)[PATH_CCH],
                  char (&szName)[ENTRY_NAME_BYTES])
{
    if (unzGetCurrentFileInfo64(zip, &info, szName, ENTRY_NAME_BYTES, nullptr, 0, nullptr, 0) !=
        UNZ_OK)
        return FALSE;
    if (info.size_filename >= static_cast<uLong>(ENTRY_NAME_BYTES))
        return FALSE;
    szName[info.size_filename] = '\0';
    UINT uCodePage = (info.flag & ZIP_FLAG_UTF8) ? CP_UTF8 : CP_OEMCP;
    return NameToWide(szName, wszName, PATH_CCH, uCodePage);
}

// Writes the current entry to target in chunks of at most 16 KiB, each
// counted by the progress model. FALSE when reading, inflating, the CRC,
// the size or writing fails; a failed file is removed.
BOOL ExtractCurrentEntry(unzFile zip, const unz_file_info64& info, const std::wstring& target)
{
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return FALSE;
    // What was there goes first (read-only or not); a link is never written
    // through, nor a file of the user's replaced that the run's end would delete.
    DWORD dwCleared = MayReplace(target.c_str());
    if (dwCleared == ERROR_SUCCESS)
        dwCleared = ClearForWrite(target.c_str());
    CFileHandle hFile(dwCleared == ERROR_SUCCESS
                          ? CreateFileNoLink(target.c_str(), GENERIC_WRITE, 0, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL)
                          : INVALID_HANDLE_VALUE);
    if (!hFile.IsValid()) {
        DebugTrace(L"UnZipFile()->%s not written (%d)", target.c_str(), GetLastError());
        unzCloseCurrentFile(zip);
        return FALSE;
    }
    NoteRunFile(target.c_str());
    std::vector<BYTE> chunk(ZIP_CHUNK_SIZE);
    BOOL bOk = TRUE;
    ULONGLONG ullWritten = 0;
    for (;;) {
        int cbRead = unzReadCurrentFile(zip, chunk.data(), ZIP_CHUNK_SIZE);
        if (cbRead < 0) {
            bOk = FALSE;
            break;
        }
        if (cbRead == 0)
            break;
        DWORD cbWritten = 0;
        if (!WriteFile(hFile.Get(), chunk.data(), static_cast<DWORD>(cbRead), &cbWritten,
                       nullptr) ||
            cbWritten != static_cast<DWORD>(cbRead)) {
            DebugTrace(L"UnZipFile()->%s not written (%d)", target.c_str(), GetLastError());
            bOk = FALSE;
            break;
        }
        ullWritten += cbWritten;
        Progress().NewStep(Progress().AddBytesDone(cbWritten));
        if (g_bCancel) {
            bOk = FALSE;
            break;
        }
    }
    // The CRC is checked when the entry is closed after its last byte.
    if (unzCloseCurrentFile(zip) != UNZ_OK)
        bOk = FALSE;
    if (bOk && ullWritten != info.uncompressed_size) {
        DebugTrace(L"UnZipFile()->%s has %I64u of %I64u bytes", target.c_str(), ullWritten,
                   info.uncompressed_size);
        bOk = FALSE;
    }
    if (bOk) {
        FILETIME ftLocal, ftUtc;
        if (DosDateTimeToFileTime(HIWORD(info.dosDate), LOWORD(info.dosDate), &ftLocal) &&
            LocalFileTimeToFileTime(&ftLocal, &ftUtc))
            SetFileTime(hFile.Get(), &ftUtc, nullptr, &ftUtc);
    }
    hFile.Close();
    if (!bOk)
        (void)DeleteFileNoLink(target.c_str());  // a part written: nothing to keep
    return bOk;
}

}  // namespace

BOOL UnZipFile(LPCWSTR szArchive, LPCWSTR szTargetDir)
{
    if (!szArchive || !szTargetDir)
        return 0;
    CZipReader reader(szArchive);
    unzFile zip = reader.Get();
    if (!zip)
        return 0;
    if (!CreateAllDirectory(szTargetDir))
        return 0;

    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK)
        return 0;
    // The archive summary: the sizes of every entry together.
    ULONGLONG ullSize = 0;
    ULONGLONG ullCompSize = 0;
    for (int iErr = unzGoToFirstFile(zip); iErr == UNZ_OK; iErr = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        ullSize += info.uncompressed_size;
        ullCompSize += info.compressed_size;
    }
    DebugTrace(L"UnZipFile(%s, %s)->SizeZip=%I64d comp_size=%I64d", szArchive, szTargetDir,
               ullSize, ullCompSize);
    Progress().SetBytesDone(0);
    Progress().DefineData(ullCompSize);

    // The first failure ends the unpacking, and nothing it wrote stays.
    BOOL bAllDone = TRUE;
    ULONGLONG ullEntries = 0;
    std::vector<std::wstring> written;
    int iErr = unzGoToFirstFile(zip);
    for (; iErr == UNZ_OK; iErr = unzGoToNextFile(zip)) {
        ++ullEntries;
        unz_file_info64 info;
        WCHAR wszName[PATH_CCH];
        char szName[ENTRY_NAME_BYTES];
        if (!CurrentEntry(zip, info, wszName, szName)) {
            DebugTrace(L"UnZipFile()->Entry %I64u: name refused", ullEntries - 1);
            bAllDone = FALSE;
            break;
        }
        LPCWSTR pszPart = EntryFileName(wszName);
        if (!pszPart[0])
            continue;  // a folder entry
        if (IsUnsafeEntryName(wszName)) {
            DebugTrace(L"UnZipFile()->Unsafe entry %s refused", wszName);
            bAllDone = FALSE;
            break;
        }
        std::wstring target = JoinEntryPath(szTargetDir, pszPart);
        if (std::find(written.begin(), written.end(), target) == written.end())
            written.push_back(target);
        BOOL bEntryDone = ExtractCurrentEntry(zip, info, target);
        DebugTrace(L"UnZipFile()->FileName=%s File=%s", wszName, target.c_str());
        if (!bEntryDone) {
            DebugTrace(L"UnZipFile()->%s failed", wszName);
            bAllDone = FALSE;
            break;
        }
        if (g_bCancel)
            break;
    }
    // A directory that ends before the announced entry count is damaged.
    if (bAllDone && iErr != UNZ_OK && iErr != UNZ_END_OF_LIST_OF_FILE)
        bAllDone = FALSE;
    if (bAllDone && !g_bCancel && ullEntries != global.number_entry)
        bAllDone = FALSE;
    if (g_bCancel)
        bAllDone = FALSE;
    if (!bAllDone) {
        for (const std::wstring& target : written)
            RemoveWrittenMember(L"UnZipFile()", target);
    }
    return bAllDone ? 1 : 0;
}

BOOL IsZipFile(LPCWSTR szPath)
{
    if (!szPath)
        return FALSE;
    CZipReader reader(szPath);
    return reader.Get() != nullptr;
}
