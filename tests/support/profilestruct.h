// Profile-structure text as WritePrivateProfileStruct writes it: two
// upper-case hexadecimal digits per byte, then the checksum byte (the sum
// of the bytes, modulo 256). The tests write configuration values with it
// and hold it against the system's own.
#pragma once
#include <cstddef>
#include <cstdint>

namespace support {

inline int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// False when the text does not fit into cchText characters.
inline bool FormatProfileStruct(const uint8_t* pData, size_t cbData, char* pszText, size_t cchText)
{
    static const char kDigits[] = "0123456789ABCDEF";
    if (!pszText || cchText < (cbData + 1) * 2 + 1)
        return false;
    unsigned sum = 0;
    char* p = pszText;
    for (size_t i = 0; i < cbData; ++i) {
        sum += pData[i];
        *p++ = kDigits[pData[i] >> 4];
        *p++ = kDigits[pData[i] & 0xF];
    }
    *p++ = kDigits[(sum >> 4) & 0xF];
    *p++ = kDigits[sum & 0xF];
    *p = '\0';
    return true;
}

inline bool ParseProfileStruct(const char* pszText, uint8_t* pData, size_t cbData)
{
    if (!pszText)
        return false;
    size_t len = 0;
    while (pszText[len] && len <= (cbData + 1) * 2)
        ++len;
    if (len != (cbData + 1) * 2)
        return false;
    unsigned sum = 0;
    for (size_t i = 0; i <= cbData; ++i) {
        int hi = HexValue(pszText[2 * i]);
        int lo = HexValue(pszText[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        uint8_t b = static_cast<uint8_t>(hi << 4 | lo);
        if (i == cbData)
            return b == (sum & 0xFF);
        sum += b;
        pData[i] = b;
    }
    return false;
}

}  // namespace support
