#include "payload/trailer.h"
#include <string.h>
#include "common/cancel.h"
#include "common/trace.h"
#include "common/handles.h"
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
        // A tail (a signature) may follow: search the last 10,240 bytes; the
        // first occurrence, the farthest from the end, wins.
        li.QuadPart = -static_cast<LONGLONG>(PAYLOAD_SEARCH_SIZE);
        if (SetFilePointerEx(hFile.Get(), li, nullptr, FILE_END)) {
            std::vector<BYTE> buffer(PAYLOAD_SEARCH_SIZE);
            cbRead = 0;
            if (ReadFile(hFile.Get(), buffer.data(), PAYLOAD_SEARCH_SIZE, &cbRead, nullptr) &&
                cbRead >= PAYLOAD_MAGIC_SIZE) {
                for (DWORD i = 0; i + PAYLOAD_MAGIC_SIZE <= cbRead; ++i) {
                    if (memcmp(&buffer[i], PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) == 0) {
                        bFound = TRUE;
                        dwOffset = PAYLOAD_SEARCH_SIZE - i;
                        break;
                    }
                }
            }
        }
    }
    hFile.Close();

    if (bFound)
        DebugTraceA("CheckDataFile()->Signature '%s' found! (offset=%u)", szTail, dwOffset);
    else
        DebugTraceA("CheckDataFile()->No signature found!");
    if (pdwOffset)
        *pdwOffset = bFound ? dwOffset : 0;
    return bFound;
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
    bOk = reader.Take(&ullTotFilesSize, sizeof(ullTotFilesSize));
    if (bOk)
        DebugTrace(L"ReadDataStruct()->TotFilesSize=%I64u", ullTotFilesSize);

    sink.OnTableStart(dwNbFiles);
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
        if (lgFile > 0)
            DebugTraceA("ReadDataStruct()->File=%s", record.szFile);

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
            DebugTraceA("ReadDataStruct()->FileOut=%s", record.szFileOut);

        // The bytes of an embedded file lie before the table.
        if (record.TypeOfFile & TF_EMBEDDED) {
            ULONGLONG ullLimit = reader.Position();
            if (record.DataOffSet > ullLimit || record.FileSize > ullLimit - record.DataOffSet) {
                DebugTrace(L"ReadDataStruct()->Record %u points outside the file", i);
                bOk = FALSE;
                break;
            }
        }
        sink.OnRecord(i, record);
        ++dwRead;
    }
    if (!bOk)
        DebugTrace(L"ReadDataStruct()->File table damaged after %u of %u records", dwRead,
                   dwNbFiles);
    if (dwNbFiles > 0 && dwRead == 0 && !sink.IsCancelled())
        return ERROR_CODE_INVALID_DATA;
    return 0;
}
