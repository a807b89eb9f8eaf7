#include "packer/itemhashes.h"
#include <string.h>
#include <algorithm>

namespace packer {
namespace {

bool Before(const ITEMHASH& a, const ITEMHASH& b)
{
    return a.dwKind != b.dwKind ? a.dwKind < b.dwKind : a.dwIndex < b.dwIndex;
}

}  // namespace

ITEMHASH MakeItemHash(uint32_t dwKind, uint32_t dwIndex, ULONGLONG ullSize, const DIGEST& digest)
{
    ITEMHASH entry = {};
    entry.dwKind = dwKind;
    entry.dwIndex = dwIndex;
    entry.ullSize = ullSize;
    memcpy(entry.digest, digest.bytes, sizeof(entry.digest));
    return entry;
}

std::vector<BYTE> SerializeItemHashes(std::vector<ITEMHASH> entries)
{
    std::sort(entries.begin(), entries.end(), Before);
    std::vector<BYTE> bytes(ITEMHASH_HEADER_SIZE + entries.size() * ITEMHASH_ENTRY_SIZE);
    uint32_t count = static_cast<uint32_t>(entries.size());
    memcpy(bytes.data(), ITEMHASH_MAGIC, sizeof(ITEMHASH_MAGIC));
    memcpy(bytes.data() + sizeof(ITEMHASH_MAGIC), &count, sizeof(count));
    if (!entries.empty())
        memcpy(bytes.data() + ITEMHASH_HEADER_SIZE, entries.data(),
               entries.size() * ITEMHASH_ENTRY_SIZE);
    return bytes;
}

bool ParseItemHashes(const BYTE* pb, size_t cb, std::vector<ITEMHASH>& entries, std::wstring& why)
{
    entries.clear();
    if (cb < ITEMHASH_HEADER_SIZE || memcmp(pb, ITEMHASH_MAGIC, sizeof(ITEMHASH_MAGIC)) != 0) {
        why = L"no SWH1 header";
        return false;
    }
    uint32_t count = 0;
    memcpy(&count, pb + sizeof(ITEMHASH_MAGIC), sizeof(count));
    if ((cb - ITEMHASH_HEADER_SIZE) / ITEMHASH_ENTRY_SIZE != count ||
        (cb - ITEMHASH_HEADER_SIZE) % ITEMHASH_ENTRY_SIZE != 0) {
        why = L"its count (" + std::to_wstring(count) + L") does not match its size (" +
              std::to_wstring(cb) + L" bytes)";
        return false;
    }
    entries.resize(count);
    if (count)
        memcpy(entries.data(), pb + ITEMHASH_HEADER_SIZE, count * ITEMHASH_ENTRY_SIZE);
    for (size_t i = 0; i < entries.size(); ++i) {
        const ITEMHASH& entry = entries[i];
        if (entry.dwKind != ITEMHASH_KIND_RECORD && entry.dwKind != ITEMHASH_KIND_DATA &&
            entry.dwKind != ITEMHASH_KIND_ENTRY) {
            why = L"entry " + std::to_wstring(i) + L" has the unknown kind " +
                  std::to_wstring(entry.dwKind);
            return false;
        }
        if (i && !Before(entries[i - 1], entry)) {
            why = L"entry " + std::to_wstring(i) + L" is out of order or given twice";
            return false;
        }
    }
    return true;
}

}  // namespace packer
