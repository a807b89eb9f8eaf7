// SHA-256 of the package's items (the HASHES resource).
#pragma once
#include <windows.h>
#include <string>
#include "payload/itemhash.h"

namespace packer {

struct DIGEST {
    BYTE bytes[ITEMHASH_DIGEST_SIZE];
};

// Hashes bytes as they come; Finish() once at the end.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;
    void Update(const void* pv, DWORD cb);
    DIGEST Finish();

private:
    void* m_pContext;  // a SHA256CONTEXT
};

// The digest and size of a whole file, or of cb bytes from offset on.
DIGEST HashFile(const std::wstring& path, ULONGLONG& ullSize);
DIGEST HashFileRange(const std::wstring& path, ULONGLONG ullOffset, ULONGLONG cb);
DIGEST HashBytes(const void* pv, DWORD cb);

// Lower-case hexadecimal.
std::string HexOf(const DIGEST& digest);

}  // namespace packer
