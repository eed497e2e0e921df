#include "uko_math64.h"

#include "uko_errcode.h"

namespace {

// A 64-bit value as the platform carries it: two words, high first.
struct Word64 {
    uint32_t hi;
    uint32_t lo;
};

bool Below(const Word64& a, const Word64& b) {
    return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo);
}

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

uint64_t Join(uint32_t hi, uint32_t lo) { return (static_cast<uint64_t>(hi) << 32) | lo; }

// Quotient and remainder of a / b, b not 0. Both are uniquely determined, so the
// processor's division gives exactly what long division in base 2 gives; the three
// cases whose answer is known at once are settled without dividing.
void Divide(uint64_t a, uint64_t b, uint64_t& quot, uint64_t& rem) {
    if (b == 1) {
        quot = a;
        rem = 0;
    } else if (a < b) {
        quot = 0;
        rem = a;
    } else if (a == b) {
        quot = 1;
        rem = 0;
    } else {
        quot = a / b;
        rem = a % b;
    }
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
    // A product that needs more than 64 bits is refused as a whole, with a cleared
    // result, rather than kept modulo 2^64.
    uint64_t product = 0;
    if (__builtin_mul_overflow(Join(uiHighA, uiLowA), static_cast<uint64_t>(uiM), &product)) {
        *puiHighOut = 0;
        *puiLowOut = 0;
        return UKO_64_OVERFLOW;
    }
    *puiHighOut = static_cast<uint32_t>(product >> 32);
    *puiLowOut = static_cast<uint32_t>(product);
    return 0;
}

uint32_t UKO_64Div64(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiHighB, uint32_t uiLowB,
                     uint32_t* puiHighQuot, uint32_t* puiLowQuot, uint32_t* puiHighRem,
                     uint32_t* puiLowRem) {
    if ((uiHighB == 0 && uiLowB == 0) || puiHighQuot == nullptr || puiLowQuot == nullptr) {
        return UKO_EINVAL;
    }
    uint64_t quot;
    uint64_t rem;
    Divide(Join(uiHighA, uiLowA), Join(uiHighB, uiLowB), quot, rem);
    *puiHighQuot = static_cast<uint32_t>(quot >> 32);
    *puiLowQuot = static_cast<uint32_t>(quot);
    if (puiHighRem != nullptr && puiLowRem != nullptr) {
        *puiHighRem = static_cast<uint32_t>(rem >> 32);
        *puiLowRem = static_cast<uint32_t>(rem);
    }
    return 0;
}

uint32_t UKO_64Div32(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiDivisor, uint32_t* puiHighQuot,
                     uint32_t* puiLowQuot, uint32_t* puiRem) {
    if (uiDivisor == 0 || puiHighQuot == nullptr || puiLowQuot == nullptr) {
        return UKO_EINVAL;
    }
    uint64_t quot;
    uint64_t rem;
    Divide(Join(uiHighA, uiLowA), uiDivisor, quot, rem);
    *puiHighQuot = static_cast<uint32_t>(quot >> 32);
    *puiLowQuot = static_cast<uint32_t>(quot);
    if (puiRem != nullptr) {
        *puiRem = static_cast<uint32_t>(rem);  // below the divisor, so one word holds it
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
