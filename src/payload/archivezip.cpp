// ZIP unpacking through minizip on zlib: every entry lands flat in the
// target folder, so two entries of one name in different folders fail the
// archive rather than one overwriting the other.
#include <unzip.h>
// iowin32.h needs the declarations of unzip.h first.
#include <iowin32.h>
#include "common/boundedtext.h"
#include <algorithm>
#include <string>
#include <vector>
#include "common/cancel.h"
#include "common/handles.h"
#include "common/capacity.h"
#include "common/errors.h"
#include "common/filecopy.h"
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
    return NameToWide(szName, wszName, PATH_CCH, uCodePage) == ERROR_SUCCESS;
}

// The code of a minizip failure: memory, else damage.
DWORD ZipErrorCode(int iErr)
{
    return iErr == UNZ_INTERNALERROR || iErr == Z_MEM_ERROR ? ERROR_OUTOFMEMORY : ERROR_INVALID_DATA;
}

// Writes the current entry to target in chunks of at most 16 KiB, each
// counted by the progress model. 0, or the cause: the write's error (112
// for a full disk), 13 when reading, inflating, the CRC or the size fails,
// 14 without memory, 1223 when cancelled. A failed file is removed.
DWORD ExtractCurrentEntry(unzFile zip, const unz_file_info64& info, const std::wstring& target)
{
    int iOpen = unzOpenCurrentFile(zip);
    if (iOpen != UNZ_OK)
        return ZipErrorCode(iOpen);
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
        DWORD dwError = dwCleared != ERROR_SUCCESS ? dwCleared : LastErrorOr(ERROR_WRITE_FAULT);
        DebugTrace(L"UnZipFile()->%s not written (%d)", target.c_str(), dwError);
        unzCloseCurrentFile(zip);
        return WriteErrorCode(dwError);
    }
    NoteRunFile(target.c_str());
    BYTE chunk[ZIP_CHUNK_SIZE];
    DWORD dwResult = ERROR_SUCCESS;
    ULONGLONG ullWritten = 0;
    for (;;) {
        int cbRead = unzReadCurrentFile(zip, chunk, ZIP_CHUNK_SIZE);
        if (cbRead < 0) {
            DebugTrace(L"UnZipFile()->%s: the entry's data is damaged (%d)", target.c_str(), cbRead);
            dwResult = ZipErrorCode(cbRead);
            break;
        }
        if (cbRead == 0)
            break;
        DWORD cbWritten = 0;
        DWORD dwWrite = WriteAll(hFile.Get(), chunk, static_cast<DWORD>(cbRead), &cbWritten);
        if (dwWrite != ERROR_SUCCESS) {
            dwResult = WriteErrorCode(dwWrite);
            DebugTrace(L"UnZipFile()->%s not written (%d)", target.c_str(), dwResult);
            break;
        }
        ullWritten += cbWritten;
        Progress().NewStep(Progress().AddBytesDone(cbWritten));
        if (g_bCancel) {
            dwResult = ERROR_CANCELLED;
            break;
        }
    }
    // The CRC is checked when the entry is closed after its last byte.
    int iClose = unzCloseCurrentFile(zip);
    if (dwResult == ERROR_SUCCESS && iClose != UNZ_OK) {
        DebugTrace(L"UnZipFile()->%s: the entry's CRC is wrong (%d)", target.c_str(), iClose);
        dwResult = ZipErrorCode(iClose);
    }
    if (dwResult == ERROR_SUCCESS && ullWritten != info.uncompressed_size) {
        DebugTrace(L"UnZipFile()->%s has %I64u of %I64u bytes", target.c_str(), ullWritten,
                   info.uncompressed_size);
        dwResult = ERROR_INVALID_DATA;
    }
    if (dwResult == ERROR_SUCCESS) {
        FILETIME ftLocal, ftUtc;
        if (DosDateTimeToFileTime(HIWORD(info.dosDate), LOWORD(info.dosDate), &ftLocal) &&
            LocalFileTimeToFileTime(&ftLocal, &ftUtc))
            SetFileTime(hFile.Get(), &ftUtc, nullptr, &ftUtc);
    }
    hFile.Close();
    if (dwResult != ERROR_SUCCESS)
        (void)DeleteFileNoLink(target.c_str());  // a part written: nothing to keep
    return dwResult;
}

}  // namespace

DWORD UnZipArchive(LPCWSTR szArchive, LPCWSTR szTargetDir)
{
    if (!szArchive || !szTargetDir)
        return ERROR_INVALID_PARAMETER;
    CZipReader reader(szArchive);
    unzFile zip = reader.Get();
    if (!zip)
        return ERROR_INVALID_DATA;
    DWORD dwMade = CreateAllDirectory(szTargetDir);
    if (dwMade != ERROR_SUCCESS)
        return dwMade;

    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK)
        return ERROR_INVALID_DATA;
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
    // The bar counts the bytes written, so its end is the unpacked size: the
    // compressed one had a deflated archive's bar full a quarter of the way.
    Progress().SetBytesDone(0);
    Progress().DefineData(ullSize);

    // The first failure ends the unpacking, and nothing it wrote stays.
    DWORD dwResult = ERROR_SUCCESS;
    ULONGLONG ullEntries = 0;
    std::vector<std::wstring> written, names;
    int iErr = unzGoToFirstFile(zip);
    for (; iErr == UNZ_OK; iErr = unzGoToNextFile(zip)) {
        ++ullEntries;
        unz_file_info64 info;
        WCHAR wszName[PATH_CCH];
        char szName[ENTRY_NAME_BYTES];
        if (!CurrentEntry(zip, info, wszName, szName)) {
            DebugTrace(L"UnZipFile()->Entry %I64u: name refused", ullEntries - 1);
            dwResult = ERROR_INVALID_DATA;
            break;
        }
        LPCWSTR pszPart = EntryFileName(wszName);
        if (!pszPart[0])
            continue;  // a folder entry
        if (IsUnsafeEntryName(wszName)) {
            DebugTrace(L"UnZipFile()->Unsafe entry %s refused", wszName);
            dwResult = ERROR_INVALID_DATA;
            break;
        }
        std::wstring target = JoinEntryPath(szTargetDir, pszPart);
        // Flat, a second entry of the name would take the first one's place.
        auto same = std::find_if(written.begin(), written.end(), [&](const std::wstring& w) {
            return CompareStringOrdinal(w.c_str(), -1, target.c_str(), -1, TRUE) == CSTR_EQUAL;
        });
        if (same != written.end()) {
            DebugTrace(L"UnZipFile()->%s and %s both unpack to %s: the archive is refused",
                       names[same - written.begin()].c_str(), wszName, target.c_str());
            dwResult = ERROR_FILE_EXISTS;
            break;
        }
        written.push_back(target);
        names.push_back(wszName);
        dwResult = ExtractCurrentEntry(zip, info, target);
        DebugTrace(L"UnZipFile()->FileName=%s File=%s", wszName, target.c_str());
        if (dwResult != ERROR_SUCCESS) {
            DebugTrace(L"UnZipFile()->%s failed (%d)", wszName, dwResult);
            break;
        }
        if (g_bCancel)
            break;
    }
    // A directory that ends before the announced entry count is damaged.
    if (dwResult == ERROR_SUCCESS && !g_bCancel &&
        ((iErr != UNZ_OK && iErr != UNZ_END_OF_LIST_OF_FILE) || ullEntries != global.number_entry)) {
        DebugTrace(L"UnZipFile()->The directory ends after %I64u of %I64u entries", ullEntries,
                   static_cast<ULONGLONG>(global.number_entry));
        dwResult = ERROR_INVALID_DATA;
    }
    if (g_bCancel)
        dwResult = ERROR_CANCELLED;
    if (dwResult != ERROR_SUCCESS) {
        for (const std::wstring& target : written)
            RemoveWrittenMember(L"UnZipFile()", target);
    }
    return dwResult;
}

BOOL IsZipFile(LPCWSTR szPath)
{
    if (!szPath)
        return FALSE;
    CZipReader reader(szPath);
    return reader.Get() != nullptr;
}
