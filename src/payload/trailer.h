// The payload appended to the launcher file: data blocks, then a file table
// (the record of the last file first), then TotFilesSize, NbFiles and the
// magic, all little-endian. A certificate table (a code signature of any
// size) may follow the magic; any other tail must leave the magic within the
// last 10,240 bytes.
//
// One record, in file order: FileOut, lgFileOut (4), TypeOfFile (1),
// DataOffSet (8), FileSize (8), File, lgFile (4). The reader walks backwards.
//
// Names are bytes without a terminator, at most 259 of them: in the ANSI
// code page, or UTF-8 when TypeOfFile has TF_UTF8_NAMES. The packer sets
// that bit only for a record with a name that is not plain ASCII, so that
// every other record reads the same everywhere; launchers that do not know
// the bit ignore it, as they ignore every bit they do not use.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "common/capacity.h"

#define PAYLOAD_MAGIC "!QD69_TRV!"

enum : DWORD {
    PAYLOAD_MAGIC_SIZE = 10,
    PAYLOAD_SEARCH_SIZE = 10240,     // the magic starts within this many bytes of the end
    PAYLOAD_HEADER_SIZE = 22,        // TotFilesSize, NbFiles, magic
    PAYLOAD_RECORD_FIXED_SIZE = 25,  // a record without its two names
    PAYLOAD_NAME_MAX = PATH_CCH - 1, // longest name in bytes
    // Most records a table may announce: packages number their files with
    // four digits; a larger count is damage, not a package.
    PAYLOAD_MAX_RECORDS = 65535,
};

// TypeOfFile bits.
enum : BYTE {
    TF_EMBEDDED = 0x01,  // bytes lie in the launcher file at DataOffSet
    TF_EXTERNAL = 0x02,  // taken from beside the launcher (or the web with TF_WEB)
    TF_STORED = 0x04,    // used unchanged; otherwise an archive to unpack
    TF_WEB = 0x08,       // with TF_EXTERNAL: fetched from the web-download location
    TF_UTF8_NAMES = 0x10,  // File and FileOut are UTF-8, not the ANSI code page
    TF_KNOWN = TF_EMBEDDED | TF_EXTERNAL | TF_STORED | TF_WEB | TF_UTF8_NAMES,
};

// One record of the file table as stored (8-bit names).
struct PAYLOADRECORD {
    char szFile[PATH_CCH];
    char szFileOut[PATH_CCH];
    ULONGLONG FileSize;
    ULONGLONG DataOffSet;
    BYTE TypeOfFile;
};

// A name of a record in UTF-16 (PATH_CCH characters), in the encoding the
// record's TypeOfFile says. FALSE when the bytes are not well-formed UTF-8.
[[nodiscard]] BOOL RecordNameToWide(const char* szName, BYTE byTypeOfFile, LPWSTR szOut);

// Looks for the magic at the very end of szPath, then right before the
// certificate table that the PE header names, then in the last 10,240 bytes.
// On success *pdwOffset is the distance from the end of the file back to the
// magic's first byte; otherwise 0.
[[nodiscard]] BOOL CheckDataFile(LPCWSTR szPath, DWORD* pdwOffset);

// Where a PE file's image ends and its certificate table lies (file offsets).
struct IMAGELAYOUT {
    ULONGLONG ullFileSize;
    ULONGLONG ullImageEnd;    // headers, sections and COFF symbols
    BOOL bSigned;             // a certificate table lies after the image
    ULONGLONG ullCertOffset;
    ULONGLONG ullCertEnd;
};

// FALSE when the file is no PE image (the layout then holds the file size only).
[[nodiscard]] BOOL ReadImageLayout(HANDLE hFile, IMAGELAYOUT* pLayout);

// Bytes after the image that are neither the certificate table nor its
// alignment: an appended payload, whole or damaged. 0 for no PE image.
ULONGLONG CountDataAfterImage(HANDLE hFile, const IMAGELAYOUT& layout);
// The same for a file by name.
ULONGLONG CheckDataAfterImage(LPCWSTR szPath);

// The payload carried as resource "DATA"/131 of hModule, or null. *pdwSize
// receives its size.
[[nodiscard]] HGLOBAL CheckDataRes(HMODULE hModule, DWORD* pdwSize, BOOL bFree);

// Receives the table as the walk reads it.
class IPayloadTableSink {
public:
    virtual ~IPayloadTableSink() {}
    // NbFiles was read; called before the first record.
    virtual void OnTableStart(DWORD dwNbFiles) = 0;
    // Record i (0 = the first file) was read completely.
    virtual void OnRecord(DWORD dwIndex, const PAYLOADRECORD& record) = 0;
    // The walk stops at the next record when this returns TRUE.
    virtual BOOL IsCancelled() = 0;
};

// Walks the file table of an open launcher file backwards from the magic.
// 0 when every record was read (or the sink cancelled the walk); 13 when
// the table's start can not be reached, its count can not fit before it
// or is over PAYLOAD_MAX_RECORDS, or it ends before its count (a read past
// the file, a name over 259 bytes, embedded bytes outside the file), or
// when it does not add up: a record of no known kind (bits outside
// TF_KNOWN, neither embedded nor external, web but not external), embedded
// blocks that overlap or lie outside the span between the program image and
// the table, or sizes whose sum is not TotFilesSize. The records were
// handed over already; the caller must not act on them then.
[[nodiscard]] DWORD ReadPayloadTable(HANDLE hFile, DWORD dwSignatureOffset,
                                     IPayloadTableSink& sink);
