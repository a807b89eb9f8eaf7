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
