// Writing the payload's file table: the packer's side of the trailer that
// the launcher reads (payload/trailer.h describes the layout).
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "payload/trailer.h"

// Packaging side: a record as the writer describes it.
struct PAYLOADENTRY {
    std::string strFile;
    std::string strFileOut;
    ULONGLONG FileSize;
    ULONGLONG DataOffSet;
    BYTE TypeOfFile;
};

// The file table and header for the entries (entry 0 is file 0), ready to be
// appended after the data blocks. FALSE when a name is longer than 259 bytes.
BOOL BuildPayloadTable(const std::vector<PAYLOADENTRY>& entries, std::vector<BYTE>& table);
