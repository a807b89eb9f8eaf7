// Scrambling of the web-download location kept in the configuration. The
// packer and the launcher share this code; it uses no Windows header so a
// tool built for any host can compile it.
//
// The location is a block of 260 UTF-16 units (520 bytes, little-endian),
// zero-padded, in which every unit is scrambled on its own with a key that
// depends on its position. The block is stored as a profile structure:
// two upper-case hexadecimal digits per byte followed by a checksum byte
// (the sum of the bytes, modulo 256), as WritePrivateProfileStruct writes it.
#pragma once
#include <cstddef>
#include <cstdint>

enum : unsigned {
    WEBURL_CCH = 260,                    // units, terminating zero included
    WEBURL_BLOCK_SIZE = WEBURL_CCH * 2,  // bytes of the scrambled block
    // hexadecimal text of a block plus checksum, terminating zero included
    WEBURL_PROFILE_CCH = (WEBURL_BLOCK_SIZE + 1) * 2 + 1,
};

// Scrambles a zero-terminated location into a block; a longer text is cut
// to 259 units.
void ScrambleWebUrl(const uint16_t* pszUrl, uint8_t (&block)[WEBURL_BLOCK_SIZE]);

// Inverse of ScrambleWebUrl; the result is always zero-terminated.
void UnscrambleWebUrl(const uint8_t (&block)[WEBURL_BLOCK_SIZE], uint16_t (&szUrl)[WEBURL_CCH]);

// Writes bytes as profile-structure text (hexadecimal digits and checksum).
// False when the text does not fit into cchText characters.
[[nodiscard]] bool FormatProfileStruct(const uint8_t* pData, size_t cbData, char* pszText,
                                       size_t cchText);

// Reads profile-structure text back into cbData bytes; false when the length,
// a digit or the checksum is wrong.
[[nodiscard]] bool ParseProfileStruct(const char* pszText, uint8_t* pData, size_t cbData);
