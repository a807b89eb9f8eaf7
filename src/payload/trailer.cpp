#include "payload/trailer.h"
#include "common/checkedmath.h"
#include <algorithm>
#include <stddef.h>
#include <string.h>
#include "common/cancel.h"
#include "common/trace.h"
#include "common/handles.h"
#include "common/textcode.h"
#include "res/resource.h"

namespace {

const DWORD ERROR_CODE_INVALID_DATA = ERROR_INVALID_DATA;  // 13

// Reads the table backwards: every read is positioned at the end of the
// file minus a growing distance, never before the start of the file.
class CBackwardReader {
public:
    CBackwardReader(HANDLE hFile, ULONGLONG ullFileSize)
        : m_hFile(hFile), m_ullFileSize(ullFileSize), m_ullLastOffSet(0) {}

    // Moves the distance back by cb and positions there.
    BOOL Step(ULONGLONG cb)
    {
        m_ullLastOffSet += cb;
        if (m_ullLastOffSet > m_ullFileSize)
            return FALSE;
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(m_ullFileSize - m_ullLastOffSet);
        return SetFilePointerEx(m_hFile, li, nullptr, FILE_BEGIN);
    }
    BOOL Read(void* pv, DWORD cb)
    {
        DWORD cbRead = 0;
        return ReadFile(m_hFile, pv, cb, &cbRead, nullptr) && cbRead == cb;
    }
    // Position and read in one go.
    BOOL Take(void* pv, DWORD cb) { return Step(cb) && Read(pv, cb); }
    // Reads cb bytes cbFurther bytes back from the current distance and
    // leaves the distance as it was.
    BOOL Peek(ULONGLONG cbFurther, void* pv, DWORD cb)
    {
        ULONGLONG ullBack = m_ullLastOffSet + cbFurther;
        if (ullBack > m_ullFileSize)
            return FALSE;
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(m_ullFileSize - ullBack);
        return SetFilePointerEx(m_hFile, li, nullptr, FILE_BEGIN) && Read(pv, cb);
    }

    ULONGLONG LastOffSet() const { return m_ullLastOffSet; }
    // Offset from the start of the file of the byte at the current distance.
    ULONGLONG Position() const { return m_ullFileSize - m_ullLastOffSet; }

private:
    HANDLE m_hFile;
    ULONGLONG m_ullFileSize;
    ULONGLONG m_ullLastOffSet;
};

// A name of the table: its length was read already; 0..259 bytes.
BOOL TakeName(CBackwardReader& reader, DWORD cb, char (&szName)[PATH_CCH])
{
    szName[0] = '\0';
    if (cb == 0)
        return TRUE;
    if (cb > PAYLOAD_NAME_MAX)
        return FALSE;
    if (!reader.Take(szName, cb))
        return FALSE;
    szName[cb] = '\0';
    return TRUE;
}

// "ReadDataStruct()->File=%s" and the like, the name as the record means it.
void TraceRecordName(LPCWSTR szFormat, const char* szName, BYTE byTypeOfFile)
{
    WCHAR szWide[PATH_CCH];
    // A name that reads in neither form shows empty.
    if (!RecordNameToWide(szName, byTypeOfFile, szWide) &&
        NameToWide(szName, szWide, PATH_CCH, CP_ACP) != ERROR_SUCCESS)
        szWide[0] = L'\0';
    DebugTrace(szFormat, szWide);
}

// TypeOfFile lies 17 bytes before a record's File: FileSize, DataOffSet,
// then the type.
const ULONGLONG TYPE_AFTER_FILE = 8 + 8 + 1;

// Authenticode starts the certificate table on an 8-byte boundary: up to
// 7 zero bytes may lie between the payload's magic and the table.
const DWORD CERT_TABLE_ALIGN = 8;
// A COFF symbol record; the string table follows the last one.
const DWORD COFF_SYMBOL_SIZE = 18;
const WORD MAX_SECTIONS = 96;

BOOL IsZero(const BYTE* pb, DWORD cb)
{
    for (DWORD i = 0; i < cb; ++i) {
        if (pb[i] != 0)
            return FALSE;
    }
    return TRUE;
}

BOOL ReadAt(HANDLE hFile, ULONGLONG ullOffset, void* pv, DWORD cb)
{
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(ullOffset);
    DWORD cbRead = 0;
    return SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN) &&
           ReadFile(hFile, pv, cb, &cbRead, nullptr) && cbRead == cb;
}

// The end of the optional header's fields that this reader needs, and the
// certificate table's directory entry, for a 32-bit or a 64-bit image.
template <typename OPTIONAL_HEADER>
BOOL ReadOptionalHeader(HANDLE hFile, ULONGLONG ullOffset, WORD cbOptional, DWORD* pdwSizeOfHeaders,
                        IMAGE_DATA_DIRECTORY* pCertDir)
{
    OPTIONAL_HEADER oh;
    ZeroMemory(&oh, sizeof(oh));
    DWORD cb = cbOptional < sizeof(oh) ? cbOptional : static_cast<DWORD>(sizeof(oh));
    if (!ReadAt(hFile, ullOffset, &oh, cb))
        return FALSE;
    *pdwSizeOfHeaders = oh.SizeOfHeaders;
    ZeroMemory(pCertDir, sizeof(*pCertDir));
    DWORD cbDirEnd = static_cast<DWORD>(offsetof(OPTIONAL_HEADER, DataDirectory)) +
                     (IMAGE_DIRECTORY_ENTRY_SECURITY + 1) * sizeof(IMAGE_DATA_DIRECTORY);
    if (oh.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_SECURITY && cb >= cbDirEnd)
        *pCertDir = oh.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    return TRUE;
}

}  // namespace

BOOL ReadImageLayout(HANDLE hFile, IMAGELAYOUT* pLayout)
{
    ZeroMemory(pLayout, sizeof(*pLayout));
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(hFile, &liSize))
        return FALSE;
    const ULONGLONG ullSize = static_cast<ULONGLONG>(liSize.QuadPart);
    pLayout->ullFileSize = ullSize;

    IMAGE_DOS_HEADER dos;
    if (ullSize < sizeof(dos) || !ReadAt(hFile, 0, &dos, sizeof(dos)) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < static_cast<LONG>(sizeof(dos)))
        return FALSE;
    const ULONGLONG ullNt = static_cast<ULONGLONG>(dos.e_lfanew);
    DWORD dwSignature = 0;
    IMAGE_FILE_HEADER fh;
    WORD wMagic = 0;
    const ULONGLONG ullOptional = ullNt + sizeof(dwSignature) + sizeof(fh);
    if (ullOptional + sizeof(wMagic) > ullSize || !ReadAt(hFile, ullNt, &dwSignature, sizeof(dwSignature)) ||
        dwSignature != IMAGE_NT_SIGNATURE || !ReadAt(hFile, ullNt + sizeof(dwSignature), &fh, sizeof(fh)) ||
        !ReadAt(hFile, ullOptional, &wMagic, sizeof(wMagic)))
        return FALSE;

    DWORD dwSizeOfHeaders = 0;
    IMAGE_DATA_DIRECTORY certDir;
    BOOL bHeader = FALSE;
    if (wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        bHeader = ReadOptionalHeader<IMAGE_OPTIONAL_HEADER32>(hFile, ullOptional, fh.SizeOfOptionalHeader,
                                                              &dwSizeOfHeaders, &certDir);
    else if (wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        bHeader = ReadOptionalHeader<IMAGE_OPTIONAL_HEADER64>(hFile, ullOptional, fh.SizeOfOptionalHeader,
                                                              &dwSizeOfHeaders, &certDir);
    if (!bHeader || fh.NumberOfSections > MAX_SECTIONS)
        return FALSE;

    // The image ends with its last section's data.
    ULONGLONG ullEnd = dwSizeOfHeaders;
    const ULONGLONG ullSections = ullOptional + fh.SizeOfOptionalHeader;
    for (WORD i = 0; i < fh.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER sh;
        if (!ReadAt(hFile, ullSections + static_cast<ULONGLONG>(i) * sizeof(sh), &sh, sizeof(sh)))
            return FALSE;
        if (sh.SizeOfRawData == 0)
            continue;
        ULONGLONG ullSectionEnd = static_cast<ULONGLONG>(sh.PointerToRawData) + sh.SizeOfRawData;
        if (ullSectionEnd > ullEnd)
            ullEnd = ullSectionEnd;
    }
    if (ullEnd > ullSize)
        ullEnd = ullSize;

    // The certificate table's "address" is a file offset. A table that does
    // not lie within the file after the sections is not one.
    const ULONGLONG ullCert = certDir.VirtualAddress;
    if (certDir.Size != 0 && ullCert >= ullEnd && ullCert + certDir.Size <= ullSize) {
        pLayout->bSigned = TRUE;
        pLayout->ullCertOffset = ullCert;
        pLayout->ullCertEnd = ullCert + certDir.Size;
    }

    // COFF symbols that the linker kept belong to the image when they follow
    // the sections and end where the file (or the certificate table) starts
    // its tail; a resource update leaves a stale pointer behind, which points
    // into the sections or the payload.
    if (fh.PointerToSymbolTable != 0 && fh.PointerToSymbolTable >= ullEnd) {
        const ULONGLONG ullTail = pLayout->bSigned ? pLayout->ullCertOffset : ullSize;
        ULONGLONG ullStrings = static_cast<ULONGLONG>(fh.PointerToSymbolTable) +
                               static_cast<ULONGLONG>(fh.NumberOfSymbols) * COFF_SYMBOL_SIZE;
        DWORD cbStrings = 0;
        if (ullStrings + sizeof(cbStrings) <= ullTail &&
            ReadAt(hFile, ullStrings, &cbStrings, sizeof(cbStrings)) &&
            ullStrings + cbStrings <= ullTail && ullTail - (ullStrings + cbStrings) < CERT_TABLE_ALIGN)
            ullEnd = ullStrings + cbStrings;
    }
    pLayout->ullImageEnd = ullEnd;
    return TRUE;
}

ULONGLONG CountDataAfterImage(HANDLE hFile, const IMAGELAYOUT& layout)
{
    if (layout.ullImageEnd == 0)
        return 0;
    if (!layout.bSigned)
        return layout.ullFileSize - layout.ullImageEnd;
    ULONGLONG cb = layout.ullCertOffset - layout.ullImageEnd;
    // The alignment before a certificate table is no data.
    if (cb > 0 && cb < CERT_TABLE_ALIGN) {
        BYTE pad[CERT_TABLE_ALIGN] = {0};
        if (ReadAt(hFile, layout.ullImageEnd, pad, static_cast<DWORD>(cb)) &&
            IsZero(pad, static_cast<DWORD>(cb)))
            cb = 0;
    }
    return cb + (layout.ullFileSize - layout.ullCertEnd);
}

namespace {

// The magic right before a certificate table, after at most 7 zero bytes of
// alignment: the payload of a signed package, whatever the signature's size.
BOOL FindMagicBeforeCertTable(HANDLE hFile, const IMAGELAYOUT& layout, DWORD* pdwOffset)
{
    const DWORD cbWindow = PAYLOAD_MAGIC_SIZE + CERT_TABLE_ALIGN - 1;
    if (!layout.bSigned || layout.ullCertOffset < layout.ullImageEnd + PAYLOAD_MAGIC_SIZE)
        return FALSE;
    DWORD cbRead = cbWindow;
    if (layout.ullCertOffset - layout.ullImageEnd < cbRead)
        cbRead = static_cast<DWORD>(layout.ullCertOffset - layout.ullImageEnd);
    BYTE window[cbWindow];
    if (!ReadAt(hFile, layout.ullCertOffset - cbRead, window, cbRead))
        return FALSE;
    for (DWORD cbPad = 0; cbPad < CERT_TABLE_ALIGN && cbPad + PAYLOAD_MAGIC_SIZE <= cbRead; ++cbPad) {
        const BYTE* pMagic = window + cbRead - cbPad - PAYLOAD_MAGIC_SIZE;
        if (!IsZero(window + cbRead - cbPad, cbPad))
            break;
        if (memcmp(pMagic, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) != 0)
            continue;
        ULONGLONG ullOffset = layout.ullFileSize - (layout.ullCertOffset - cbPad - PAYLOAD_MAGIC_SIZE);
        if (ullOffset > MAXDWORD)
            return FALSE;
        *pdwOffset = static_cast<DWORD>(ullOffset);
        return TRUE;
    }
    return FALSE;
}

// The magic within the last 10,240 bytes; the first occurrence, the
// farthest from the end, wins.
BOOL SearchMagicNearEnd(HANDLE hFile, DWORD* pdwOffset)
{
    LARGE_INTEGER li;
    li.QuadPart = -static_cast<LONGLONG>(PAYLOAD_SEARCH_SIZE);
    if (!SetFilePointerEx(hFile, li, nullptr, FILE_END))
        return FALSE;
    std::vector<BYTE> buffer(PAYLOAD_SEARCH_SIZE);
    DWORD cbRead = 0;
    if (!ReadFile(hFile, buffer.data(), PAYLOAD_SEARCH_SIZE, &cbRead, nullptr) ||
        cbRead < PAYLOAD_MAGIC_SIZE)
        return FALSE;
    for (DWORD i = 0; i + PAYLOAD_MAGIC_SIZE <= cbRead; ++i) {
        if (memcmp(&buffer[i], PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) == 0) {
            *pdwOffset = PAYLOAD_SEARCH_SIZE - i;
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace

BOOL CheckDataFile(LPCWSTR szPath, DWORD* pdwOffset)
{
    if (pdwOffset)
        *pdwOffset = 0;
    CFileHandle hFile(CreateFileW(szPath ? szPath : L"", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid()) {
        DebugTraceA("CheckDataFile()->No signature found!");
        return FALSE;
    }

    BOOL bFound = FALSE;
    DWORD dwOffset = 0;
    // The 10 bytes at the very end, as text for the log line.
    char szTail[PAYLOAD_MAGIC_SIZE + 1] = {0};
    LARGE_INTEGER li;
    li.QuadPart = -static_cast<LONGLONG>(PAYLOAD_MAGIC_SIZE);
    DWORD cbRead = 0;
    if (SetFilePointerEx(hFile.Get(), li, nullptr, FILE_END) &&
        ReadFile(hFile.Get(), szTail, PAYLOAD_MAGIC_SIZE, &cbRead, nullptr) &&
        cbRead == PAYLOAD_MAGIC_SIZE && memcmp(szTail, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) == 0) {
        bFound = TRUE;
        dwOffset = PAYLOAD_MAGIC_SIZE;
    }
    if (!bFound) {
        // A signed package: the certificate table named in the header
        // follows the payload, however large the signature is.
        IMAGELAYOUT layout;
        if (ReadImageLayout(hFile.Get(), &layout))
            bFound = FindMagicBeforeCertTable(hFile.Get(), layout, &dwOffset);
    }
    // Any other tail must leave the magic within the last 10,240 bytes.
    if (!bFound)
        bFound = SearchMagicNearEnd(hFile.Get(), &dwOffset);
    hFile.Close();

    if (bFound)
        DebugTraceA("CheckDataFile()->Signature '%s' found! (offset=%u)", szTail, dwOffset);
    else
        DebugTraceA("CheckDataFile()->No signature found!");
    if (pdwOffset)
        *pdwOffset = bFound ? dwOffset : 0;
    return bFound;
}

ULONGLONG CheckDataAfterImage(LPCWSTR szPath)
{
    CFileHandle hFile(CreateFileW(szPath ? szPath : L"", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    IMAGELAYOUT layout;
    if (!hFile.IsValid() || !ReadImageLayout(hFile.Get(), &layout))
        return 0;
    return CountDataAfterImage(hFile.Get(), layout);
}

HGLOBAL CheckDataRes(HMODULE hModule, DWORD* pdwSize, BOOL bFree)
{
    if (pdwSize)
        *pdwSize = 0;
    HRSRC hRes = FindResourceW(hModule, MAKEINTRESOURCEW(IDR_DATA), L"DATA");
    HGLOBAL hData = hRes ? LoadResource(hModule, hRes) : nullptr;
    if (!hData) {
        DebugTraceA("CheckDataRes()->No DATA Resource found!");
        return nullptr;
    }
    if (pdwSize)
        *pdwSize = SizeofResource(hModule, hRes);
    // Resources of a loaded image stay mapped: the handle outlives the free.
    if (bFree)
        FreeResource(hData);
    DebugTraceA("CheckDataRes()->DATA Resource found!");
    return hData;
}

namespace {

// The embedded blocks lie between the program image and the table, none
// over another, and the sizes of all records sum to TotFilesSize.
BOOL TableAddsUp(HANDLE hFile, ULONGLONG ullTableStart,
                 std::vector<std::pair<ULONGLONG, ULONGLONG>>& blocks, ULONGLONG ullSizes,
                 ULONGLONG ullTotFilesSize)
{
    if (ullSizes != ullTotFilesSize) {
        DebugTrace(L"ReadDataStruct()->The sizes add up to %I64u, not TotFilesSize %I64u", ullSizes,
                   ullTotFilesSize);
        return FALSE;
    }
    IMAGELAYOUT layout;
    ULONGLONG ullFirst = ReadImageLayout(hFile, &layout) ? layout.ullImageEnd : 0;
    std::sort(blocks.begin(), blocks.end());
    for (const auto& block : blocks) {
        if (block.first < ullFirst || block.first > ullTableStart ||
            block.second > ullTableStart - block.first) {
            DebugTrace(L"ReadDataStruct()->Embedded bytes at %I64u (%I64u) are not where the "
                       L"payload lies", block.first, block.second);
            return FALSE;
        }
        ullFirst = block.first + block.second;  // the next block starts after this one
    }
    return TRUE;
}

}  // namespace

BOOL RecordNameToWide(const char* szName, BYTE byTypeOfFile, LPWSTR szOut)
{
    UINT uCodePage = (byTypeOfFile & TF_UTF8_NAMES) ? CP_UTF8 : CP_ACP;
    return NameToWide(szName, szOut, PATH_CCH, uCodePage) == ERROR_SUCCESS;
}

DWORD ReadPayloadTable(HANDLE hFile, DWORD dwSignatureOffset, IPayloadTableSink& sink)
{
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(hFile, &liSize))
        return ERROR_CODE_INVALID_DATA;
    CBackwardReader reader(hFile, static_cast<ULONGLONG>(liSize.QuadPart));

    DebugTrace(L"ReadDataStruct()->LastOffSet=%d", dwSignatureOffset + 4);
    if (!reader.Step(static_cast<ULONGLONG>(dwSignatureOffset) + 4))
        return ERROR_CODE_INVALID_DATA;
    DWORD dwNbFiles = 0;
    BOOL bOk = reader.Read(&dwNbFiles, sizeof(dwNbFiles));
    if (!bOk)
        return ERROR_CODE_INVALID_DATA;
    DebugTrace(L"ReadDataStruct()->NbFiles=%d", dwNbFiles);

    ULONGLONG ullTotFilesSize = 0;
    if (!reader.Take(&ullTotFilesSize, sizeof(ullTotFilesSize)))
        return ERROR_CODE_INVALID_DATA;
    DebugTrace(L"ReadDataStruct()->TotFilesSize=%I64u", ullTotFilesSize);

    sink.OnTableStart(dwNbFiles);
    // Every record takes at least PAYLOAD_RECORD_FIXED_SIZE bytes before the
    // header: a count that can not fit there is not a table.
    ULONGLONG ullRoom = reader.Position();
    if (dwNbFiles > ullRoom / PAYLOAD_RECORD_FIXED_SIZE) {
        DebugTrace(L"ReadDataStruct()->NbFiles=%u does not fit the %I64u bytes before the table",
                   dwNbFiles, ullRoom);
        return ERROR_CODE_INVALID_DATA;
    }
    if (dwNbFiles > PAYLOAD_MAX_RECORDS) {
        DebugTrace(L"ReadDataStruct()->NbFiles=%u is more than %u", dwNbFiles,
                   static_cast<DWORD>(PAYLOAD_MAX_RECORDS));
        return ERROR_CODE_INVALID_DATA;
    }

    // What the table must add up to, checked once it has been read.
    std::vector<std::pair<ULONGLONG, ULONGLONG>> blocks;  // offset, size of each embedded file
    ULONGLONG ullSizes = 0;
    BOOL bKinds = TRUE;
    DWORD dwRead = 0;
    for (DWORD i = 0; i < dwNbFiles && bOk && !sink.IsCancelled(); ++i) {
        PAYLOADRECORD record;
        ZeroMemory(&record, sizeof(record));
        DWORD lgFile = 0;
        DWORD lgFileOut = 0;

        bOk = reader.Take(&lgFile, sizeof(lgFile));
        if (!bOk)
            break;
        DebugTrace(L"ReadDataStruct()->lgFile=%u LastOffSet=%u", lgFile,
                   static_cast<DWORD>(reader.LastOffSet()));
        bOk = TakeName(reader, lgFile, record.szFile);
        if (!bOk)
            break;
        if (lgFile > 0) {
            // The type, which the walk reads later, tells the name's encoding.
            BYTE byType = 0;
            if (!reader.Peek(TYPE_AFTER_FILE, &byType, sizeof(byType)))
                byType = 0;
            TraceRecordName(L"ReadDataStruct()->File=%s", record.szFile, byType);
        }

        bOk = reader.Take(&record.FileSize, sizeof(record.FileSize));
        if (!bOk)
            break;
        DebugTrace(L"ReadDataStruct()->FileSize=%I64u", record.FileSize);

        bOk = reader.Take(&record.DataOffSet, sizeof(record.DataOffSet));
        if (!bOk)
            break;
        DebugTrace(L"ReadDataStruct()->DataOffSet=%I64u", record.DataOffSet);

        bOk = reader.Take(&record.TypeOfFile, sizeof(record.TypeOfFile));
        if (!bOk)
            break;
        DebugTrace(L"ReadDataStruct()->TypeOfFile=%d", record.TypeOfFile);

        bOk = reader.Take(&lgFileOut, sizeof(lgFileOut));
        if (!bOk)
            break;
        DebugTrace(L"ReadDataStruct()->lgFileOut=%u", lgFileOut);
        bOk = TakeName(reader, lgFileOut, record.szFileOut);
        if (!bOk)
            break;
        if (lgFileOut > 0)
            TraceRecordName(L"ReadDataStruct()->FileOut=%s", record.szFileOut, record.TypeOfFile);

        // The bytes of an embedded file lie before the table.
        if (record.TypeOfFile & TF_EMBEDDED) {
            ULONGLONG ullLimit = reader.Position();
            if (record.DataOffSet > ullLimit || record.FileSize > ullLimit - record.DataOffSet) {
                DebugTrace(L"ReadDataStruct()->Record %u points outside the file", i);
                bOk = FALSE;
                break;
            }
            blocks.push_back({record.DataOffSet, record.FileSize});
        }
        BYTE byType = record.TypeOfFile;
        if ((byType & ~TF_KNOWN) || !(byType & (TF_EMBEDDED | TF_EXTERNAL)) ||
            ((byType & TF_WEB) && !(byType & (TF_EXTERNAL)))) {
            DebugTrace(L"ReadDataStruct()->Record %u of no known kind (%d)", i, byType);
            bKinds = FALSE;
        }
        ullSizes = SatAdd(ullSizes, record.FileSize);
        sink.OnRecord(i, record);
        ++dwRead;
    }
    // A table that ends before its count is damaged: none of it is used.
    if (!bOk) {
        DebugTrace(L"ReadDataStruct()->File table damaged after %u of %u records", dwRead,
                   dwNbFiles);
        return ERROR_CODE_INVALID_DATA;
    }
    if (dwRead < dwNbFiles)
        return 0;  // cancelled: the caller reads the flag
    if (!bKinds || !TableAddsUp(hFile, reader.Position(), blocks, ullSizes, ullTotFilesSize))
        return ERROR_CODE_INVALID_DATA;
    return 0;
}
