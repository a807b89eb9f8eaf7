// The package's hash resource: the SHA-256 of every item whose bytes the
// packer had, so that a package can be checked before it is trusted.
//
// Resource type L"HASHES", integer id 137, neutral language. Little-endian:
//   "SWH1", count (u32), then count entries of 48 bytes, sorted by
//   (kind, index): kind (u32), index (u32), size (u64), SHA-256 (32 bytes).
// Kind 0 is a record of the appended file table, its index counted in file
// order (0 = the first file, the record nearest the header); kind 1 is the
// DATA resource 131, index 0. Archives are hashed as packed, not unpacked.
// Kind 2 is a record's own fields, indexed as kind 0: the SHA-256 of
// RecordIdentity() below, so that a record renamed, retyped or resized in
// the table is caught even where its bytes are right or not in the package.
// A package with the resource has a kind 2 entry for every record.
// An item without bytes at packing time (a web file without a source) has
// no entry; a package without the resource is an older one, not a damaged
// one.
// Header-only: the packer writes the resource and the launcher reads it.
#pragma once
#include <stdint.h>
#include <string.h>

#define ITEMHASH_RESOURCE_TYPE L"HASHES"

enum : uint32_t {
    ITEMHASH_RESOURCE_ID = 137,
    ITEMHASH_HEADER_SIZE = 8,    // magic and count
    ITEMHASH_ENTRY_SIZE = 48,
    ITEMHASH_DIGEST_SIZE = 32,   // SHA-256
    ITEMHASH_KIND_RECORD = 0,    // a record of the appended file table
    ITEMHASH_KIND_DATA = 1,      // the DATA resource
    ITEMHASH_KIND_ENTRY = 2,     // a record's type, size and names
};

const char ITEMHASH_MAGIC[4] = {'S', 'W', 'H', '1'};

#pragma pack(push, 1)
struct ITEMHASH {
    uint32_t dwKind;
    uint32_t dwIndex;
    uint64_t ullSize;  // bytes hashed
    uint8_t digest[ITEMHASH_DIGEST_SIZE];
};
#pragma pack(pop)

static_assert(sizeof(ITEMHASH) == ITEMHASH_ENTRY_SIZE, "an entry is 48 bytes on disk");

// What a kind 2 entry hashes: TypeOfFile (1 byte), FileSize (8, little-
// endian), then File and FileOut as the table holds them, each ending in a
// zero byte. The offset is left out: wrong offsets show in the item's bytes.
// Names of the table are at most 259 bytes.
const size_t ITEMHASH_IDENTITY_MAX = 1 + 8 + 260 + 260;

// Writes the bytes into out and returns their count; 0 when they do not fit.
inline size_t RecordIdentity(uint8_t type, uint64_t size, const char* file, const char* fileOut,
                             uint8_t (&out)[ITEMHASH_IDENTITY_MAX])
{
    size_t cbFile = strlen(file) + 1, cbFileOut = strlen(fileOut) + 1;
    if (1 + 8 + cbFile + cbFileOut > ITEMHASH_IDENTITY_MAX)
        return 0;
    out[0] = type;
    for (int i = 0; i < 8; ++i)
        out[1 + i] = static_cast<uint8_t>((size >> (8 * i)) & 0xFF);
    memcpy(out + 9, file, cbFile);
    memcpy(out + 9 + cbFile, fileOut, cbFileOut);
    return 9 + cbFile + cbFileOut;
}
