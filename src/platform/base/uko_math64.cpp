#include "uko_math64.h"

#include "uko_errcode.h"

namespace {

// A 64-bit value as the platform carries it. The arithmetic below works on the two
// words only, so that it behaves the same wherever a native 64-bit type is missing.
struct Word64 {
    uint32_t hi;
    uint32_t lo;
};

bool Below(const Word64& a, const Word64& b) {
    return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo);
}

bool Equal(const Word64& a, const Word64& b) { return a.hi == b.hi && a.lo == b.lo; }

// a += b modulo 2^64; true when the sum wrapped past 2^64 - 1.
bool AddInPlace(Word64& a, const Word64& b) {
    uint32_t lo = a.lo + b.lo;
    uint32_t carry = lo < a.lo ? 1u : 0u;
    uint32_t hi = a.hi + b.hi;
    bool wrapped = hi < a.hi;
    uint32_t hiWithCarry = hi + carry;
    wrapped = wrapped || hiWithCarry < hi;
    a.lo = lo;
    a.hi = hiWithCarry;
    return wrapped;
}

// a -= b modulo 2^64.
void SubInPlace(Word64& a, const Word64& b) {
    uint32_t borrow = a.lo < b.lo ? 1u : 0u;
    a.lo -= b.lo;
    a.hi = a.hi - b.hi - borrow;
}

// Shift left by s (0 to 63).
Word64 ShiftLeft(const Word64& a, unsigned s) {
    if (s == 0) {
        return a;
    }
    if (s >= 32) {
        return Word64{a.lo << (s - 32), 0};
    }
    return Word64{(a.hi << s) | (a.lo >> (32 - s)), a.lo << s};
}

// True when shifting a left by s (0 to 31) would push set bits out of the high word.
bool ShiftLoses(const Word64& a, unsigned s) {
    return s != 0 && (a.hi >> (32 - s)) != 0;
}

bool Bit(const Word64& a, unsigned i) {
    return i >= 32 ? ((a.hi >> (i - 32)) & 1u) != 0 : ((a.lo >> i) & 1u) != 0;
}

// Exact long division in base 2, from the highest quotient bit down. b is not 0.
void Divide(const Word64& a, const Word64& b, Word64& quot, Word64& rem) {
    if (b.hi == 0 && b.lo == 1) {
        quot = a;
        rem = Word64{0, 0};
        return;
    }
    if (Below(a, b)) {
        quot = Word64{0, 0};
        rem = a;
        return;
    }
    if (Equal(a, b)) {
        quot = Word64{0, 1};
        rem = Word64{0, 0};
        return;
    }
    Word64 q{0, 0};
    Word64 r{0, 0};
    for (int i = 63; i >= 0; --i) {
        // The partial remainder never exceeds the dividend's bits above i, so the shift
        // cannot lose a bit of it.
        r = ShiftLeft(r, 1);
        r.lo |= Bit(a, static_cast<unsigned>(i)) ? 1u : 0u;
        if (!Below(r, b)) {
            SubInPlace(r, b);
            if (i >= 32) {
                q.hi |= 1u << (i - 32);
            } else {
                q.lo |= 1u << i;
            }
        }
    }
    quot = q;
    rem = r;
}

}  // namespace

void UKO_64Sub(uint32_t* puiLow, uint32_t* puiHigh, uint32_t uiLowB, uint32_t uiHighB) {
    if (puiLow == nullptr || puiHigh == nullptr) {
        return;
    }
    Word64 a{*puiHigh, *puiLow};
    SubInPlace(a, Word64{uiHighB, uiLowB});
    *puiHigh = a.hi;
    *puiLow = a.lo;
}

void UKO_64Add(uint32_t* puiLow, uint32_t* puiHigh, uint32_t uiLowB, uint32_t uiHighB) {
    if (puiLow == nullptr || puiHigh == nullptr) {
        return;
    }
    Word64 a{*puiHigh, *puiLow};
    (void)AddInPlace(a, Word64{uiHighB, uiLowB});
    *puiHigh = a.hi;
    *puiLow = a.lo;
}

uint32_t UKO_64AddTo(uint32_t uiHighA, uint32_t uiLowA, uint32_t* puiHighOut,
                     uint32_t* puiLowOut) {
    if (puiHighOut == nullptr || puiLowOut == nullptr) {
        return UKO_EINVAL;
    }
    UKO_64Add(puiLowOut, puiHighOut, uiLowA, uiHighA);
    return 0;
}

uint32_t UKO_64SubFrom(uint32_t uiHighA, uint32_t uiLowA, uint32_t* puiHighOut,
                       uint32_t* puiLowOut) {
    if (puiHighOut == nullptr || puiLowOut == nullptr) {
        return UKO_EINVAL;
    }
    UKO_64Sub(puiLowOut, puiHighOut, uiLowA, uiHighA);
    return 0;
}

uint32_t UKO_64Add64(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiHighB, uint32_t uiLowB,
                     uint32_t* puiHighOut, uint32_t* puiLowOut) {
    if (puiHighOut == nullptr || puiLowOut == nullptr) {
        return UKO_EINVAL;
    }
    Word64 sum{uiHighA, uiLowA};
    (void)AddInPlace(sum, Word64{uiHighB, uiLowB});
    *puiHighOut = sum.hi;
    *puiLowOut = sum.lo;
    return 0;
}

uint32_t UKO_64Sub64(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiHighB, uint32_t uiLowB,
                     uint32_t* puiHighOut, uint32_t* puiLowOut) {
    if (puiHighOut == nullptr || puiLowOut == nullptr) {
        return UKO_EINVAL;
    }
    Word64 a{uiHighA, uiLowA};
    Word64 b{uiHighB, uiLowB};
    // Callers measure elapsed counts with it, so a negative difference is an answer of
    // its own rather than a wrapped value.
    if (Below(a, b)) {
        return UKO_64_LESS;
    }
    SubInPlace(a, b);
    *puiHighOut = a.hi;
    *puiLowOut = a.lo;
    return 0;
}

uint32_t UKO_64Multi32(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiM, uint32_t* puiHighOut,
                       uint32_t* puiLowOut) {
    if (puiHighOut == nullptr || puiLowOut == nullptr) {
        return UKO_EINVAL;
    }
    Word64 a{uiHighA, uiLowA};
    Word64 product{0, 0};
    if (uiM != 0 && (a.hi != 0 || a.lo != 0)) {
        for (int i = 31; i >= 0; --i) {
            if ((uiM & (1u << i)) == 0) {
                continue;
            }
            unsigned s = static_cast<unsigned>(i);
            if (ShiftLoses(a, s) || AddInPlace(product, ShiftLeft(a, s))) {
                *puiHighOut = 0;
                *puiLowOut = 0;
                return UKO_64_OVERFLOW;
            }
        }
    }
    *puiHighOut = product.hi;
    *puiLowOut = product.lo;
    return 0;
}

uint32_t UKO_64Div64(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiHighB, uint32_t uiLowB,
                     uint32_t* puiHighQuot, uint32_t* puiLowQuot, uint32_t* puiHighRem,
                     uint32_t* puiLowRem) {
    if ((uiHighB == 0 && uiLowB == 0) || puiHighQuot == nullptr || puiLowQuot == nullptr) {
        return UKO_EINVAL;
    }
    Word64 quot;
    Word64 rem;
    Divide(Word64{uiHighA, uiLowA}, Word64{uiHighB, uiLowB}, quot, rem);
    *puiHighQuot = quot.hi;
    *puiLowQuot = quot.lo;
    if (puiHighRem != nullptr && puiLowRem != nullptr) {
        *puiHighRem = rem.hi;
        *puiLowRem = rem.lo;
    }
    return 0;
}

uint32_t UKO_64Div32(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiDivisor, uint32_t* puiHighQuot,
                     uint32_t* puiLowQuot, uint32_t* puiRem) {
    if (uiDivisor == 0 || puiHighQuot == nullptr || puiLowQuot == nullptr) {
        return UKO_EINVAL;
    }
    Word64 quot;
    Word64 rem;
    Divide(Word64{uiHighA, uiLowA}, Word64{0, uiDivisor}, quot, rem);
    *puiHighQuot = quot.hi;
    *puiLowQuot = quot.lo;
    if (puiRem != nullptr) {
        *puiRem = rem.lo;  // below the divisor, so one word holds it
    }
    return 0;
}

uint32_t UKO_64Div32Round(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiDivisor,
                          uint32_t* puiHighQuot, uint32_t* puiLowQuot) {
    uint32_t rem = 0;
    uint32_t rc = UKO_64Div32(uiHighA, uiLowA, uiDivisor, puiHighQuot, puiLowQuot, &rem);
    if (rc != 0) {
        return rc;
    }
    // The threshold is the divisor halved downwards. With a divisor of 2 or more the
    // quotient is below 2^63, so the increment cannot wrap.
    if (uiDivisor > 1 && rem >= uiDivisor / 2) {
        UKO_64Add(puiLowQuot, puiHighQuot, 1, 0);
    }
    return 0;
}
