#include "state/urlscramble.h"

namespace {

// Position key: a 16-bit multiplicative walk, never the same for two
// neighbouring units, and a rotation of 1 to 15 bits.
uint16_t UnitKey(unsigned i)
{
    return static_cast<uint16_t>(0xA5C3u + i * 0x9E37u);
}

unsigned UnitRotation(unsigned i)
{
    return 1 + i % 15;
}

uint16_t Rotl16(uint16_t v, unsigned n)
{
    return static_cast<uint16_t>((v << n) | (v >> (16 - n)));
}

uint16_t Rotr16(uint16_t v, unsigned n)
{
    return static_cast<uint16_t>((v >> n) | (v << (16 - n)));
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

void ScrambleWebUrl(const uint16_t* pszUrl, uint8_t (&block)[WEBURL_BLOCK_SIZE])
{
    bool bEnded = pszUrl == nullptr;
    for (unsigned i = 0; i < WEBURL_CCH; ++i) {
        uint16_t c = 0;
        if (!bEnded && i < WEBURL_CCH - 1) {
            c = pszUrl[i];
            bEnded = c == 0;
        }
        uint16_t s = Rotl16(static_cast<uint16_t>(c ^ UnitKey(i)), UnitRotation(i));
        block[2 * i] = static_cast<uint8_t>(s & 0xFF);
        block[2 * i + 1] = static_cast<uint8_t>(s >> 8);
    }
}

void UnscrambleWebUrl(const uint8_t (&block)[WEBURL_BLOCK_SIZE], uint16_t (&szUrl)[WEBURL_CCH])
{
    for (unsigned i = 0; i < WEBURL_CCH; ++i) {
        uint16_t s = static_cast<uint16_t>(block[2 * i] | (block[2 * i + 1] << 8));
        szUrl[i] = static_cast<uint16_t>(Rotr16(s, UnitRotation(i)) ^ UnitKey(i));
    }
    szUrl[WEBURL_CCH - 1] = 0;
}

bool FormatProfileStruct(const uint8_t* pData, size_t cbData, char* pszText, size_t cchText)
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

bool ParseProfileStruct(const char* pszText, uint8_t* pData, size_t cbData)
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
