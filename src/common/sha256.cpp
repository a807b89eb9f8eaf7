#include "common/sha256.h"
#include <cpuid.h>
#include <immintrin.h>
#include <string.h>

namespace {

const DWORD K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

const DWORD INITIAL_STATE[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline DWORD Rotr(DWORD x, int n)
{
    return (x >> n) | (x << (32 - n));
}

inline DWORD LoadBigEndian(const BYTE* p)
{
    return (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) |
           (static_cast<DWORD>(p[2]) << 8) | static_cast<DWORD>(p[3]);
}

void TransformPlain(DWORD state[8], const BYTE* pData, size_t cBlocks)
{
    for (; cBlocks--; pData += SHA256_BLOCK_SIZE) {
        DWORD w[64];
        for (int t = 0; t < 16; ++t)
            w[t] = LoadBigEndian(pData + 4 * t);
        for (int t = 16; t < 64; ++t) {
            DWORD s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            DWORD s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        DWORD a = state[0], b = state[1], c = state[2], d = state[3];
        DWORD e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            DWORD s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
            DWORD ch = (e & f) ^ (~e & g);
            DWORD t1 = h + s1 + ch + K[t] + w[t];
            DWORD s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
            DWORD maj = (a & b) ^ (a & c) ^ (b & c);
            DWORD t2 = s0 + maj;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

// Four rounds at a time with the SHA instructions; the message schedule in
// a ring of four groups of four words.
__attribute__((target("sha,sse4.1,ssse3"))) void TransformProcessor(DWORD state[8],
                                                                    const BYTE* pData,
                                                                    size_t cBlocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);              // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);        // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);     // CDGH

    for (; cBlocks--; pData += SHA256_BLOCK_SIZE) {
        __m128i abefSave = state0;
        __m128i cdghSave = state1;
        __m128i w[4];
        for (int i = 0; i < 16; ++i) {
            __m128i group;
            if (i < 4) {
                group = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(pData + 16 * i)), byteSwap);
            } else {
                __m128i x = _mm_add_epi32(_mm_sha256msg1_epu32(w[i % 4], w[(i - 3) % 4]),
                                          _mm_alignr_epi8(w[(i - 1) % 4], w[(i - 2) % 4], 4));
                group = _mm_sha256msg2_epu32(x, w[(i - 1) % 4]);
            }
            w[i % 4] = group;
            __m128i msg = _mm_add_epi32(group, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&K[4 * i])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
        }
        state0 = _mm_add_epi32(state0, abefSave);
        state1 = _mm_add_epi32(state1, cdghSave);
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);          // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);       // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);    // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);       // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}

bool ProcessorHasSha()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    bool bSse = (c & bit_SSE4_1) && (c & bit_SSSE3);
    if (!bSse || !__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return (b & bit_SHA) != 0;
}

void Transform(DWORD state[8], const BYTE* pData, size_t cBlocks)
{
    static const bool s_bProcessor = ProcessorHasSha();
    if (s_bProcessor)
        TransformProcessor(state, pData, cBlocks);
    else
        TransformPlain(state, pData, cBlocks);
}

}  // namespace

void Sha256Init(SHA256CONTEXT& ctx)
{
    memcpy(ctx.state, INITIAL_STATE, sizeof(ctx.state));
    ctx.ullBytes = 0;
    ctx.cbBlock = 0;
}

void Sha256Update(SHA256CONTEXT& ctx, const void* pData, size_t cbData)
{
    const BYTE* p = static_cast<const BYTE*>(pData);
    ctx.ullBytes += cbData;
    if (ctx.cbBlock) {
        size_t cbTake = SHA256_BLOCK_SIZE - ctx.cbBlock;
        if (cbTake > cbData)
            cbTake = cbData;
        memcpy(ctx.block + ctx.cbBlock, p, cbTake);
        ctx.cbBlock += static_cast<DWORD>(cbTake);
        p += cbTake;
        cbData -= cbTake;
        if (ctx.cbBlock < SHA256_BLOCK_SIZE)
            return;
        Transform(ctx.state, ctx.block, 1);
        ctx.cbBlock = 0;
    }
    size_t cBlocks = cbData / SHA256_BLOCK_SIZE;
    if (cBlocks) {
        Transform(ctx.state, p, cBlocks);
        p += cBlocks * SHA256_BLOCK_SIZE;
        cbData -= cBlocks * SHA256_BLOCK_SIZE;
    }
    memcpy(ctx.block, p, cbData);
    ctx.cbBlock = static_cast<DWORD>(cbData);
}

void Sha256Final(SHA256CONTEXT& ctx, BYTE (&digest)[SHA256_DIGEST_SIZE])
{
    ULONGLONG ullBits = ctx.ullBytes * 8;
    BYTE pad[SHA256_BLOCK_SIZE * 2] = {0x80};
    size_t cbPad = (ctx.cbBlock < 56 ? 56 : 120) - ctx.cbBlock;
    for (int i = 0; i < 8; ++i)
        pad[cbPad + i] = static_cast<BYTE>(ullBits >> (56 - 8 * i));
    ULONGLONG ullKeep = ctx.ullBytes;
    Sha256Update(ctx, pad, cbPad + 8);
    ctx.ullBytes = ullKeep;
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<BYTE>(ctx.state[i] >> 24);
        digest[4 * i + 1] = static_cast<BYTE>(ctx.state[i] >> 16);
        digest[4 * i + 2] = static_cast<BYTE>(ctx.state[i] >> 8);
        digest[4 * i + 3] = static_cast<BYTE>(ctx.state[i]);
    }
}

BOOL Sha256UsesProcessor()
{
    return ProcessorHasSha() ? TRUE : FALSE;
}
