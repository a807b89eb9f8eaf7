// SHA-256 through the system's BCrypt provider.
#pragma once
#include <windows.h>
#include <string>
#include "payload/itemhash.h"

namespace packer {

struct DIGEST {
    BYTE bytes[ITEMHASH_DIGEST_SIZE];
};

// Hashes bytes as they come; Finish() once at the end. Throws Failure when
// the provider is missing.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;
    void Update(const void* pv, DWORD cb);
    DIGEST Finish();

private:
    void* m_hAlgorithm;
    void* m_hHash;
};

// The digest and size of a whole file, or of cb bytes from offset on.
DIGEST HashFile(const std::wstring& path, ULONGLONG& ullSize);
DIGEST HashFileRange(const std::wstring& path, ULONGLONG ullOffset, ULONGLONG cb);
DIGEST HashBytes(const void* pv, DWORD cb);

// Lower-case hexadecimal.
std::string HexOf(const DIGEST& digest);

}  // namespace packer
