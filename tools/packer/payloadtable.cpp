#include "packer/payloadtable.h"

namespace {

void AppendBytes(std::vector<BYTE>& out, const void* pv, size_t cb)
{
    const BYTE* p = static_cast<const BYTE*>(pv);
    out.insert(out.end(), p, p + cb);
}

void AppendU32(std::vector<BYTE>& out, DWORD dw)
{
    BYTE b[4] = {static_cast<BYTE>(dw), static_cast<BYTE>(dw >> 8), static_cast<BYTE>(dw >> 16),
                 static_cast<BYTE>(dw >> 24)};
    AppendBytes(out, b, sizeof(b));
}

void AppendU64(std::vector<BYTE>& out, ULONGLONG ull)
{
    AppendU32(out, static_cast<DWORD>(ull));
    AppendU32(out, static_cast<DWORD>(ull >> 32));
}

}  // namespace

BOOL BuildPayloadTable(const std::vector<PAYLOADENTRY>& entries, std::vector<BYTE>& table)
{
    table.clear();
    ULONGLONG ullTotFilesSize = 0;
    for (size_t n = entries.size(); n-- > 0;) {
        const PAYLOADENTRY& entry = entries[n];
        if (entry.strFile.size() > PAYLOAD_NAME_MAX || entry.strFileOut.size() > PAYLOAD_NAME_MAX)
            return FALSE;
        AppendBytes(table, entry.strFileOut.data(), entry.strFileOut.size());
        AppendU32(table, static_cast<DWORD>(entry.strFileOut.size()));
        table.push_back(entry.TypeOfFile);
        AppendU64(table, entry.DataOffSet);
        AppendU64(table, entry.FileSize);
        AppendBytes(table, entry.strFile.data(), entry.strFile.size());
        AppendU32(table, static_cast<DWORD>(entry.strFile.size()));
        ullTotFilesSize += entry.FileSize;
    }
    AppendU64(table, ullTotFilesSize);
    AppendU32(table, static_cast<DWORD>(entries.size()));
    AppendBytes(table, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE);
    return TRUE;
}
