// The package's hash resource as the packer writes it and reads it back,
// and the SHA-256 it holds, against the published test vectors.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>
#include <string>
#include <vector>
#include "packer/itemhashes.h"
#include "packer/packer.h"

using namespace packer;

namespace {

ITEMHASH Entry(uint32_t dwKind, uint32_t dwIndex, BYTE fill = 0)
{
    DIGEST digest;
    memset(digest.bytes, fill, sizeof(digest.bytes));
    return MakeItemHash(dwKind, dwIndex, 1000 + dwIndex, digest);
}

// The resource's bytes written by hand, in the order given.
std::vector<BYTE> Raw(const char* magic, uint32_t count, const std::vector<ITEMHASH>& entries)
{
    std::vector<BYTE> bytes(magic, magic + 4);
    bytes.insert(bytes.end(), reinterpret_cast<const BYTE*>(&count),
                 reinterpret_cast<const BYTE*>(&count) + 4);
    for (const ITEMHASH& e : entries)
        bytes.insert(bytes.end(), reinterpret_cast<const BYTE*>(&e),
                     reinterpret_cast<const BYTE*>(&e) + sizeof(e));
    return bytes;
}

TEST(ItemHashes, WrittenSortedByKindAndIndexAndReadBack)
{
    std::vector<BYTE> bytes = SerializeItemHashes(
        {Entry(ITEMHASH_KIND_DATA, 0, 9), Entry(ITEMHASH_KIND_RECORD, 2, 2),
         Entry(ITEMHASH_KIND_RECORD, 0, 7)});
    ASSERT_EQ(bytes.size(), 8u + 3 * 48);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), std::string("SWH1\x03\0\0\0", 8));
    // Little-endian kind, index, size, then the digest.
    EXPECT_EQ(bytes[8 + 4], 0);
    EXPECT_EQ(bytes[8 + 8], 1000 & 0xFF);
    EXPECT_EQ(bytes[8 + 16], 7);
    EXPECT_EQ(bytes[8 + 48 + 4], 2);
    EXPECT_EQ(bytes[8 + 96], 1);
    std::vector<ITEMHASH> read;
    std::wstring why;
    ASSERT_TRUE(ParseItemHashes(bytes.data(), bytes.size(), read, why));
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[1].dwIndex, 2u);
    EXPECT_EQ(read[1].ullSize, 1002u);
    EXPECT_EQ(read[2].dwKind, ITEMHASH_KIND_DATA);
}

TEST(ItemHashes, BytesThatAreNoHashResourceAreRefused)
{
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        const wchar_t* why;
    };
    ITEMHASH first = Entry(ITEMHASH_KIND_RECORD, 0), second = Entry(ITEMHASH_KIND_RECORD, 1);
    std::vector<BYTE> cut = Raw("SWH1", 2, {first, second});
    cut.pop_back();
    const Case cases[] = {
        {"empty", {}, L"no SWH1 header"},
        {"another magic", Raw("SWH2", 1, {first}), L"no SWH1 header"},
        {"a count above the entries", Raw("SWH1", 3, {first, second}), L"does not match its size"},
        {"a cut entry", cut, L"does not match its size"},
        {"out of order", Raw("SWH1", 2, {second, first}), L"out of order or given twice"},
        {"given twice", Raw("SWH1", 2, {first, first}), L"out of order or given twice"},
        {"an unknown kind", Raw("SWH1", 1, {Entry(3, 0)}), L"unknown kind 3"},
    };
    for (const Case& c : cases) {
        std::vector<ITEMHASH> read;
        std::wstring why;
        EXPECT_FALSE(ParseItemHashes(c.bytes.data(), c.bytes.size(), read, why)) << c.name;
        EXPECT_NE(why.find(c.why), std::wstring::npos) << c.name;
    }
    std::vector<BYTE> none = Raw("SWH1", 0, {});
    std::vector<ITEMHASH> read;
    std::wstring why;
    EXPECT_TRUE(ParseItemHashes(none.data(), none.size(), read, why));
    EXPECT_TRUE(read.empty());
}

TEST(ItemHashes, Sha256OfTheSystemMatchesThePublishedVectors)
{
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HexOf(HashBytes(c.input.data(), static_cast<DWORD>(c.input.size()))), c.digest)
            << c.input;
    // A million times "a", in uneven steps.
    CSha256 sha;
    std::string block(999, 'a');
    for (int i = 0; i < 1001; ++i)
        sha.Update(block.data(), static_cast<DWORD>(block.size()));
    sha.Update(block.data(), 1);
    EXPECT_EQ(HexOf(sha.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
