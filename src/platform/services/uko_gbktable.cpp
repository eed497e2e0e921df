// The two GBK code tables, built while compiling from the generated list of code
// points (uko_gbktable.inc, written by uko_gbktable_gen.py) and kept as constant data.
// The list is in code order, so the code of each entry follows from its position and
// only the code points need to be stored.

#include "uko_textcode.h"

namespace {

constexpr uint16_t kCodePoints[UKO_GBK_TABLE_SIZE] = {
#include "uko_gbktable.inc"
};

constexpr uint32_t kSecondBytes = 190;  // 0x40 to 0xFE without 0x7F

constexpr uint16_t CodeAt(uint32_t i) {
    uint32_t first = 0x81 + i / kSecondBytes;
    uint32_t second = 0x40 + i % kSecondBytes;
    if (second >= 0x7F) {
        ++second;
    }
    return static_cast<uint16_t>((first << 8) | second);
}

struct GbkTables {
    UKO_CODE_PAIR astByCode[UKO_GBK_TABLE_SIZE];
    UKO_CODE_PAIR astByPoint[UKO_GBK_TABLE_SIZE];
    uint32_t uiPointNum;  // distinct code points, a zero point not counted
};

constexpr GbkTables Build() {
    GbkTables t{};
    // Position + 1 of each code point's code; walking it in code-point order yields the
    // second table already sorted.
    uint16_t where[0x10000] = {};
    for (uint32_t i = 0; i < UKO_GBK_TABLE_SIZE; ++i) {
        t.astByCode[i] = UKO_CODE_PAIR{CodeAt(i), kCodePoints[i]};
        where[kCodePoints[i]] = static_cast<uint16_t>(i + 1);
    }
    for (uint32_t u = 1; u < 0x10000; ++u) {
        if (where[u] != 0) {
            t.astByPoint[t.uiPointNum++] = UKO_CODE_PAIR{static_cast<uint16_t>(u), CodeAt(where[u] - 1u)};
        }
    }
    return t;
}

constexpr GbkTables kTables = Build();

// Every code has its own code point and none is 0, so the look-ups in both directions
// are exact inverses of each other.
static_assert(kTables.uiPointNum == UKO_GBK_TABLE_SIZE, "the code points are distinct and not 0");
static_assert(kTables.astByCode[UKO_GBK_TABLE_SIZE - 1].usKey == 0xFEFE, "the last code is 0xFEFE");

}  // namespace

const UKO_CODE_PAIR (&UKO_GbkToUnicodeTable)[UKO_GBK_TABLE_SIZE] = kTables.astByCode;
const UKO_CODE_PAIR (&UKO_UnicodeToGbkTable)[UKO_GBK_TABLE_SIZE] = kTables.astByPoint;
