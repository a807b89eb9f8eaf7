// SHA-256 of the payload checks: known digests, and the system's own
// hash of random data at every split into updates.
#include <gtest/gtest.h>
#include <windows.h>
#include <bcrypt.h>
#include <string>
#include <vector>
#include "common/sha256.h"

namespace {

std::string Hex(const BYTE* p, size_t cb)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < cb; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string Ours(const std::vector<BYTE>& data, size_t cbStep)
{
    SHA256CONTEXT ctx;
    Sha256Init(ctx);
    for (size_t i = 0; i < data.size(); i += cbStep)
        Sha256Update(ctx, data.data() + i, data.size() - i < cbStep ? data.size() - i : cbStep);
    BYTE digest[SHA256_DIGEST_SIZE];
    Sha256Final(ctx, digest);
    return Hex(digest, sizeof(digest));
}

std::string Systems(const std::vector<BYTE>& data)
{
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    BYTE digest[32] = {};
    if (BCryptOpenAlgorithmProvider(&hAlg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return "no provider";
    BCryptCreateHash(hAlg, &hHash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hHash, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), 0);
    BCryptFinishHash(hHash, digest, sizeof(digest), 0);
    BCryptDestroyHash(hHash);
    BCryptCloseAlgorithmProvider(hAlg, 0);
    return Hex(digest, sizeof(digest));
}

std::vector<BYTE> Bytes(const std::string& text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}

TEST(Sha256, KnownDigests)
{
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        EXPECT_EQ(Ours(Bytes(c.text), c.text.size() + 1), c.digest);
        EXPECT_EQ(Ours(Bytes(c.text), 7), c.digest);
    }
}

TEST(Sha256, AgreesWithTheSystemAtEveryLengthAndSplit)
{
    std::vector<BYTE> data(5000);
    DWORD seed = 12345;
    for (BYTE& b : data) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<BYTE>(seed >> 16);
    }
    for (size_t cb : {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 1000, 4999}) {
        std::vector<BYTE> part(data.begin(), data.begin() + cb);
        std::string expected = Systems(part);
        for (size_t step : {1, 3, 64, 100, 5000})
            EXPECT_EQ(Ours(part, step), expected) << cb << " bytes in steps of " << step;
    }
    printf("processor's SHA instructions: %s\n", Sha256UsesProcessor() ? "yes" : "no");
}

}  // namespace
