// SHA-256 for checking the payload as it is copied. The processor's SHA
// instructions do it where it has them (they keep a check of every byte to a
// few hundredths of the run), plain code elsewhere; both give the same
// digest.
#pragma once
#include <windows.h>

enum : unsigned {
    SHA256_DIGEST_SIZE = 32,
    SHA256_BLOCK_SIZE = 64,
};

struct SHA256CONTEXT {
    DWORD state[8];
    ULONGLONG ullBytes;
    BYTE block[SHA256_BLOCK_SIZE];
    DWORD cbBlock;
};

void Sha256Init(SHA256CONTEXT& ctx);
void Sha256Update(SHA256CONTEXT& ctx, const void* pData, size_t cbData);
void Sha256Final(SHA256CONTEXT& ctx, BYTE (&digest)[SHA256_DIGEST_SIZE]);
// Whether the processor's SHA instructions are used.
BOOL Sha256UsesProcessor();
