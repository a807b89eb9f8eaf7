// The package's own record of its items' SHA-256 (the HASHES resource, see
// payload/itemhash.h), and the check of every item's bytes against it as
// they are copied. A package without the resource runs as before, unchecked;
// one whose resource is damaged runs nothing (13).
#pragma once
#include <windows.h>
#include "common/sha256.h"
#include "payload/itemhash.h"

// The code of an item whose bytes are not those the package was made with:
// ERROR_DATA_CHECKSUM_ERROR, "A data integrity checksum error occurred."
const DWORD ERROR_ITEM_HASH = 323;

// Reads the resource of hModule. ERROR_SUCCESS (there or not), or 13 when
// it is there and does not hold together.
[[nodiscard]] DWORD LoadItemHashes(HMODULE hModule);
// The same from the resource's bytes (null: a package without it).
[[nodiscard]] DWORD LoadItemHashesFrom(const BYTE* pData, DWORD cbData);
// Whether the package carries the resource.
BOOL HasItemHashes();
// The entry of an item, or null when the package has none for it.
const ITEMHASH* FindItemHash(DWORD dwKind, DWORD dwIndex);

// Whether a record of the table is the one packed (its kind 2 entry): TRUE
// too for a package without hashes.
[[nodiscard]] BOOL IsPackedRecord(DWORD dwIndex, uint8_t type, uint64_t size, const char* file,
                                  const char* fileOut);
// Whether the hashes name no record at or beyond dwRecords (a table that
// lost records).
[[nodiscard]] BOOL ItemHashesFitTable(DWORD dwRecords);

// One item's check as its bytes go by: null when there is nothing to check
// against, so that callers pass Context() on to the copy either way.
class CItemCheck {
public:
    CItemCheck(DWORD dwKind, DWORD dwIndex);
    SHA256CONTEXT* Context() { return m_pEntry ? &m_ctx : nullptr; }
    // ERROR_SUCCESS when the bytes that went by are the item's, or when
    // there is nothing to check against; else ERROR_ITEM_HASH, traced with
    // szWhat.
    [[nodiscard]] DWORD Result(LPCWSTR szWhat);

private:
    const ITEMHASH* m_pEntry;
    SHA256CONTEXT m_ctx;
};
