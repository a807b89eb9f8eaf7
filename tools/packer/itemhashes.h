// The package's hash resource (payload/itemhash.h), written by the build
// and read back by verify.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "packer/sha256.h"
#include "payload/itemhash.h"

namespace packer {

ITEMHASH MakeItemHash(uint32_t dwKind, uint32_t dwIndex, ULONGLONG ullSize, const DIGEST& digest);

// The resource's bytes, entries sorted by (kind, index).
std::vector<BYTE> SerializeItemHashes(std::vector<ITEMHASH> entries);

// The entries of a hash resource; false, with why, when the bytes do not
// follow the format (bad magic, a count the size does not hold, entries out
// of order or twice, an unknown kind).
bool ParseItemHashes(const BYTE* pb, size_t cb, std::vector<ITEMHASH>& entries, std::wstring& why);

}  // namespace packer
