// The string library's additive random generator: 55 words, a result position and a
// lag position 24 apart, each draw adding the lagged word into the result word.

#include "os_clock.h"
#include "uko_string.h"

namespace {

constexpr uint32_t kWords = 55;

constexpr uint32_t kInitialWords[kWords] = {
    0x44068241, 0xA1863C12, 0xFDE1FA5F, 0x72E85BA2, 0x798E2CF6, 0x8EBD32DA, 0x227AACF2,
    0x393DBDC8, 0x13C8B554, 0x51CAB3A6, 0x36654B51, 0xD66D3CC5, 0x146C649C, 0xB7C85386,
    0x2BD8445A, 0x05427279, 0x813AFF7E, 0x3E6E77DD, 0x7DB73821, 0x8DF9C8A7, 0x171EA6DB,
    0xC0C12FDC, 0xF0E95360, 0xA3D37853, 0x4159F756, 0x7404435D, 0xD935D20C, 0xC415CC9F,
    0xBF6821A2, 0xCE53E70F, 0x1B2DB178, 0x06C00687, 0x71AC0096, 0x8D378410, 0x26BF66A5,
    0x52E8965D, 0xAB02A53A, 0xF9D2964F, 0xFC8C3C86, 0xC62938A1, 0xA6932B37, 0x837BA1E0,
    0xF5D99F58, 0xF2C34C1D, 0x4331EF8B, 0xEDC8610C, 0x9A55D805, 0x43EDB016, 0x37D32EF3,
    0xA93155B7, 0x5A8739E1, 0x2A9F9174, 0x85E346BB, 0xE5312286, 0xC4D803E9,
};

// Guarded by the global lock.
uint32_t g_words[kWords];
uint32_t g_resultPos = kWords;
uint32_t g_lagPos = 31;
bool g_seeded = false;

uint32_t Step(uint32_t x) { return 0x2F85382Du * x + 1u; }

}  // namespace

void UKO_RandomSeed(uint32_t uiSeed) {
    (void)OS_GlobalLock();
    uint32_t x = uiSeed;
    for (uint32_t i = 0; i < 60; ++i) {
        x = Step(x);
        if (i >= 60 - kWords) {
            uint32_t j = i - (60 - kWords);
            g_words[j] = kInitialWords[j] ^ (x >> 16);
        }
    }
    for (uint32_t j = 0; j < kWords; ++j) {
        x = Step(x);
        g_words[j] ^= (x >> 16) << 16;
    }
    g_lagPos = 31;
    g_resultPos = kWords;
    g_seeded = true;
    OS_GlobalUnlock(0);
}

uint32_t UKO_Random(uint32_t uiRange) {
    (void)OS_GlobalLock();
    if (!g_seeded) {
        UKO_RandomSeed(0);  // takes the global lock once more
    } else if (g_resultPos == 0) {
        g_resultPos = kWords;
    } else if (g_lagPos == 0) {
        g_lagPos = kWords;
    }
    --g_resultPos;
    --g_lagPos;
    const uint32_t v = g_words[g_lagPos] + g_words[g_resultPos];
    g_words[g_resultPos] = v;
    OS_GlobalUnlock(0);

    // v * range / 2^32 in 32-bit pieces, exact for ranges up to 65535 and always below
    // the range.
    const uint32_t vl = v & 0xFFFFu;
    const uint32_t vh = v >> 16;
    const uint32_t rl = uiRange & 0xFFFFu;
    const uint32_t rh = uiRange >> 16;
    uint32_t t = ((vl * rl) >> 16) + vh * rl;
    if (rh == 0) {
        return t >> 16;
    }
    t = t + vl * rh;
    return (t >> 16) + vh * rh;
}
