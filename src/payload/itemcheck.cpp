#include "payload/itemcheck.h"
#include <string.h>
#include <vector>
#include "common/trace.h"

namespace {

// Read at start-up, read-only afterwards.
struct ITEMHASHES {
    BOOL bLoaded = FALSE;
    std::vector<ITEMHASH> entries;
};

ITEMHASHES& Hashes()
{
    static ITEMHASHES s_hashes;
    return s_hashes;
}

uint32_t ReadU32(const BYTE* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t ReadU64(const BYTE* p)
{
    return static_cast<uint64_t>(ReadU32(p)) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32);
}

bool Before(const ITEMHASH& a, const ITEMHASH& b)
{
    return a.dwKind < b.dwKind || (a.dwKind == b.dwKind && a.dwIndex < b.dwIndex);
}

}  // namespace

DWORD LoadItemHashes(HMODULE hModule)
{
    HRSRC hRes = FindResourceW(hModule, MAKEINTRESOURCEW(ITEMHASH_RESOURCE_ID), ITEMHASH_RESOURCE_TYPE);
    HGLOBAL hData = hRes ? LoadResource(hModule, hRes) : nullptr;
    const BYTE* p = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    if (hRes && !p) {
        DebugTrace(L"LoadItemHashes()->Item hashes not readable");
        return ERROR_INVALID_DATA;
    }
    return LoadItemHashesFrom(p, hRes ? SizeofResource(hModule, hRes) : 0);
}

DWORD LoadItemHashesFrom(const BYTE* p, DWORD cb)
{
    ITEMHASHES& hashes = Hashes();
    hashes.entries.clear();
    hashes.bLoaded = FALSE;
    if (!p) {
        DebugTrace(L"LoadItemHashes()->No item hashes: the items are not checked");
        return ERROR_SUCCESS;
    }
    // The count is checked against the resource's size before it is used.
    if (cb < ITEMHASH_HEADER_SIZE || memcmp(p, ITEMHASH_MAGIC, sizeof(ITEMHASH_MAGIC)) != 0 ||
        (cb - ITEMHASH_HEADER_SIZE) % ITEMHASH_ENTRY_SIZE != 0 ||
        ReadU32(p + 4) != (cb - ITEMHASH_HEADER_SIZE) / ITEMHASH_ENTRY_SIZE) {
        DebugTrace(L"LoadItemHashes()->Item hashes damaged (%u bytes)", cb);
        return ERROR_INVALID_DATA;
    }
    DWORD dwCount = ReadU32(p + 4);
    std::vector<ITEMHASH> entries(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
        const BYTE* pEntry = p + ITEMHASH_HEADER_SIZE + static_cast<size_t>(i) * ITEMHASH_ENTRY_SIZE;
        ITEMHASH& entry = entries[i];
        entry.dwKind = ReadU32(pEntry);
        entry.dwIndex = ReadU32(pEntry + 4);
        entry.ullSize = ReadU64(pEntry + 8);
        memcpy(entry.digest, pEntry + 16, ITEMHASH_DIGEST_SIZE);
        bool bKnown = entry.dwKind == ITEMHASH_KIND_RECORD || entry.dwKind == ITEMHASH_KIND_ENTRY ||
                      (entry.dwKind == ITEMHASH_KIND_DATA && entry.dwIndex == 0);
        if (!bKnown || (i > 0 && !Before(entries[i - 1], entry))) {
            DebugTrace(L"LoadItemHashes()->Item hashes damaged (entry %u)", i);
            return ERROR_INVALID_DATA;
        }
    }
    hashes.entries.swap(entries);
    hashes.bLoaded = TRUE;
    DebugTrace(L"LoadItemHashes()->%u item hash(es)", dwCount);
    return ERROR_SUCCESS;
}

BOOL HasItemHashes()
{
    return Hashes().bLoaded;
}

const ITEMHASH* FindItemHash(DWORD dwKind, DWORD dwIndex)
{
    for (const ITEMHASH& entry : Hashes().entries) {
        if (entry.dwKind == dwKind && entry.dwIndex == dwIndex)
            return &entry;
    }
    return nullptr;
}

BOOL IsPackedRecord(DWORD dwIndex, uint8_t type, uint64_t size, const char* file, const char* fileOut)
{
    if (!HasItemHashes())
        return TRUE;
    const ITEMHASH* pEntry = FindItemHash(ITEMHASH_KIND_ENTRY, dwIndex);
    if (!pEntry)
        return FALSE;
    uint8_t identity[ITEMHASH_IDENTITY_MAX];
    size_t cbIdentity = RecordIdentity(type, size, file, fileOut, identity);
    SHA256CONTEXT ctx;
    BYTE digest[SHA256_DIGEST_SIZE];
    Sha256Init(ctx);
    Sha256Update(ctx, identity, cbIdentity);
    Sha256Final(ctx, digest);
    return cbIdentity && pEntry->ullSize == cbIdentity &&
           memcmp(digest, pEntry->digest, SHA256_DIGEST_SIZE) == 0;
}

BOOL ItemHashesFitTable(DWORD dwRecords)
{
    for (const ITEMHASH& entry : Hashes().entries) {
        if (entry.dwKind != ITEMHASH_KIND_DATA && entry.dwIndex >= dwRecords)
            return FALSE;
    }
    return TRUE;
}

CItemCheck::CItemCheck(DWORD dwKind, DWORD dwIndex) : m_pEntry(FindItemHash(dwKind, dwIndex))
{
    Sha256Init(m_ctx);
}

DWORD CItemCheck::Result(LPCWSTR szWhat)
{
    if (!m_pEntry)
        return ERROR_SUCCESS;
    BYTE digest[SHA256_DIGEST_SIZE];
    ULONGLONG ullBytes = m_ctx.ullBytes;
    Sha256Final(m_ctx, digest);
    if (ullBytes == m_pEntry->ullSize && memcmp(digest, m_pEntry->digest, SHA256_DIGEST_SIZE) == 0) {
        DebugTrace(L"CheckItem(%s)->%I64u bytes, hash right", szWhat, ullBytes);
        return ERROR_SUCCESS;
    }
    DebugTrace(L"CheckItem(%s)->%I64u bytes of %I64u, hash wrong: not the package's own", szWhat,
               ullBytes, static_cast<ULONGLONG>(m_pEntry->ullSize));
    return ERROR_ITEM_HASH;
}
