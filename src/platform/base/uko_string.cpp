// The string, memory and parsing functions of the string library that need neither the
// bounded formatter nor the bounded scanner.

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "uko_errcode.h"
#include "uko_string.h"

namespace {

UKO_MEM_OVERFLOW_HOOK_PF g_memOverflowHook = nullptr;

template <typename F>
void* EntryOf(F* fn) {
    return reinterpret_cast<void*>(fn);
}

// The size an operation may use when it needs more than the destination holds: the
// hook's answer (0 refuses), or without a hook the destination size. An answer above
// the destination size is cut to it, so no operation writes past the destination.
size_t OverrunSize(void* operation, void* dest, size_t destSize, size_t needed) {
    UKO_MEM_OVERFLOW_HOOK_PF hook = g_memOverflowHook;
    if (hook == nullptr) {
        return destSize;
    }
    size_t h = hook(operation, dest, destSize, needed);
    return h < destSize ? h : destSize;
}

// The byte count a memory operation may touch: the count when it fits, otherwise what
// the overrun rule allows (0 means refused).
size_t AllowedCount(void* operation, void* dest, size_t destSize, size_t count) {
    if (count <= destSize) {
        return count;
    }
    size_t h = OverrunSize(operation, dest, destSize, count);
    return h < count ? h : count;
}

int SignedByte(char c) { return static_cast<signed char>(c); }

// Characters are signed bytes here, so anything from 0x80 up is no digit and no letter.
int DigitValue(char c) {
    int v = SignedByte(c);
    if (v >= '0' && v <= '9') {
        return v - '0';
    }
    if (v >= 'a' && v <= 'z') {
        return v - 'a' + 10;
    }
    if (v >= 'A' && v <= 'Z') {
        return v - 'A' + 10;
    }
    return -1;
}

// Appends the first m characters of src after the l characters already in dest, within
// destSize bytes, following the overrun rule. The caller has checked the pointers and
// destSize.
char* AppendN(void* operation, char* dest, size_t destSize, const char* src, size_t m) {
    // A destination with no terminator inside its size counts as full: its length is
    // never looked for past the size.
    size_t l = strnlen(dest, destSize);
    size_t needed = l + m + 1;
    size_t k = m;
    if (needed > destSize) {
        size_t h = OverrunSize(operation, dest, destSize, needed);
        if (h <= l) {
            return nullptr;
        }
        k = h - l - 1 < m ? h - l - 1 : m;
        if (k == 0) {
            return dest;
        }
    }
    std::memmove(dest + l, src, k);
    dest[l + k] = '\0';
    return dest;
}

}  // namespace

// ---- NULL-tolerant wrappers ----------------------------------------------------------

size_t UKO_SafeStrLen(const char* pscStr) { return pscStr == nullptr ? 0 : std::strlen(pscStr); }

size_t UKO_SafeStrNLen(const char* pscStr, uint32_t uiLimit) {
    return pscStr == nullptr ? 0 : strnlen(pscStr, uiLimit);
}

int32_t UKO_SafeStrCmp(const char* pscA, const char* pscB) {
    if (pscA == nullptr || pscB == nullptr) {
        // Callers only ask "equal or not": one missing text is simply not equal.
        return (pscA == nullptr && pscB == nullptr) ? 0 : 1;
    }
    return std::strcmp(pscA, pscB);
}

int32_t UKO_SafeStrNCmp(const char* pscA, const char* pscB, size_t count) {
    if (pscA == nullptr || pscB == nullptr) {
        return (pscA == nullptr && pscB == nullptr) ? 0 : 1;
    }
    return std::strncmp(pscA, pscB, count);
}

int32_t UKO_SafeStrICmp(const char* pscA, const char* pscB) {
    if (pscA == pscB) {
        return 0;
    }
    if (pscA == nullptr) {
        return -1;
    }
    if (pscB == nullptr) {
        return 1;
    }
    for (;; ++pscA, ++pscB) {
        int a = SignedByte(UKO_ToLower(*pscA));
        int b = SignedByte(UKO_ToLower(*pscB));
        if (a != b) {
            return a - b;
        }
        if (a == 0) {
            return 0;
        }
    }
}

int32_t UKO_SafeStrNICmp(const char* pscA, const char* pscB, size_t count) {
    if (pscA == nullptr || pscB == nullptr) {
        return 0;
    }
    int diff = 0;
    for (size_t i = 0; i < count; ++i) {
        char a = pscA[i];
        char b = pscB[i];
        diff = SignedByte(a) - SignedByte(b);
        if (diff != 0) {
            diff = SignedByte(UKO_ToLower(a)) - SignedByte(UKO_ToLower(b));
            if (diff != 0) {
                break;
            }
        }
        if (a == '\0' || b == '\0') {
            break;
        }
    }
    return diff;
}

char* UKO_SafeStrCpy(char* pscDest, const char* pscSrc) {
    return (pscDest == nullptr || pscSrc == nullptr) ? pscDest : std::strcpy(pscDest, pscSrc);
}

char* UKO_SafeStrNCpy(char* pscDest, const char* pscSrc, size_t count) {
    return (pscDest == nullptr || pscSrc == nullptr) ? pscDest
                                                     : std::strncpy(pscDest, pscSrc, count);
}

char* UKO_SafeStrCat(char* pscDest, const char* pscSrc) {
    return (pscDest == nullptr || pscSrc == nullptr) ? pscDest : std::strcat(pscDest, pscSrc);
}

char* UKO_SafeStrNCat(char* pscDest, const char* pscSrc, size_t count) {
    return (pscDest == nullptr || pscSrc == nullptr) ? pscDest
                                                     : std::strncat(pscDest, pscSrc, count);
}

char* UKO_SafeStrChr(const char* pscStr, int32_t iChar) {
    return pscStr == nullptr ? nullptr : const_cast<char*>(std::strchr(pscStr, iChar));
}

char* UKO_SafeStrRChr(const char* pscStr, int32_t iChar) {
    return pscStr == nullptr ? nullptr : const_cast<char*>(std::strrchr(pscStr, iChar));
}

char* UKO_SafeStrStr(const char* pscStr, const char* pscPattern) {
    return (pscStr == nullptr || pscPattern == nullptr)
               ? nullptr
               : const_cast<char*>(std::strstr(pscStr, pscPattern));
}

char* UKO_SafeStrPbrk(const char* pscStr, const char* pscSet) {
    return (pscStr == nullptr || pscSet == nullptr)
               ? nullptr
               : const_cast<char*>(std::strpbrk(pscStr, pscSet));
}

size_t UKO_SafeStrSpn(const char* pscStr, const char* pscSet) {
    return (pscStr == nullptr || pscSet == nullptr) ? 0 : std::strspn(pscStr, pscSet);
}

void* UKO_SafeMemCpy(void* pDest, const void* pSrc, size_t count) {
    if (count == 0) {
        return pDest;
    }
    return (pDest == nullptr || pSrc == nullptr) ? nullptr : std::memcpy(pDest, pSrc, count);
}

void* UKO_SafeMemMove(void* pDest, const void* pSrc, size_t count) {
    return (pDest == nullptr || pSrc == nullptr) ? nullptr : std::memmove(pDest, pSrc, count);
}

void* UKO_SafeMemSet(void* pDest, int32_t iValue, size_t count) {
    return pDest == nullptr ? nullptr : std::memset(pDest, iValue, count);
}

int32_t UKO_SafeMemCmp(const void* pA, const void* pB, size_t count) {
    return (pA == nullptr || pB == nullptr) ? 0 : std::memcmp(pA, pB, count);
}

void* UKO_SafeMemChr(const void* pBuf, int32_t iChar, uint32_t count) {
    return pBuf == nullptr ? nullptr : const_cast<void*>(std::memchr(pBuf, iChar, count));
}

void* UKO_MemChr(const void* pBuf, int32_t iChar, size_t count) {
    if (pBuf == nullptr) {
        return nullptr;
    }
    const unsigned char* p = static_cast<const unsigned char*>(pBuf);
    const unsigned char wanted = static_cast<unsigned char>(iChar);
    for (size_t i = 0; i < count; ++i) {
        if (p[i] == wanted) {
            return const_cast<unsigned char*>(p + i);
        }
    }
    return nullptr;
}

// ---- Sized operations ------------------------------------------------------------------

uint32_t UKO_MemOverflowHookSet(UKO_MEM_OVERFLOW_HOOK_PF pfnHook) {
    g_memOverflowHook = pfnHook;
    return 0;
}

UKO_MEM_OVERFLOW_HOOK_PF ukoMemOverflowHookGet() { return g_memOverflowHook; }

void* UKO_SafeMemCpyN(void* pDest, size_t destSize, const void* pSrc, size_t count) {
    if (count == 0) {
        return pDest;
    }
    if (pDest == nullptr || pSrc == nullptr || destSize == 0) {
        return nullptr;
    }
    size_t n = AllowedCount(EntryOf(UKO_SafeMemCpyN), pDest, destSize, count);
    if (n == 0) {
        return nullptr;
    }
    std::memcpy(pDest, pSrc, n);
    return pDest;
}

void* UKO_SafeMemMoveN(void* pDest, size_t destSize, const void* pSrc, size_t count) {
    if (count == 0) {
        return pDest;
    }
    if (pDest == nullptr || pSrc == nullptr || destSize == 0) {
        return nullptr;
    }
    size_t n = AllowedCount(EntryOf(UKO_SafeMemMoveN), pDest, destSize, count);
    if (n == 0) {
        return nullptr;
    }
    std::memmove(pDest, pSrc, n);
    return pDest;
}

char* UKO_SafeStrCpyN(char* pscDest, size_t destSize, const char* pscSrc) {
    if (pscDest == nullptr || pscSrc == nullptr) {
        return pscDest;
    }
    if (destSize == 0) {
        return nullptr;
    }
    size_t needed = std::strlen(pscSrc) + 1;
    if (needed <= destSize) {
        std::memmove(pscDest, pscSrc, needed);
        return pscDest;
    }
    size_t h = OverrunSize(EntryOf(UKO_SafeStrCpyN), pscDest, destSize, needed);
    if (h == 0) {
        return nullptr;
    }
    std::memmove(pscDest, pscSrc, h - 1);
    pscDest[h - 1] = '\0';
    return pscDest;
}

char* UKO_SafeStrNCpyN(char* pscDest, size_t destSize, const char* pscSrc, size_t count) {
    if (count == 0 || pscDest == nullptr || pscSrc == nullptr) {
        return pscDest;
    }
    if (destSize == 0) {
        return nullptr;
    }
    size_t n = AllowedCount(EntryOf(UKO_SafeStrNCpyN), pscDest, destSize, count);
    if (n == 0) {
        return nullptr;
    }
    // strncpy semantics on purpose: callers copy fixed-width name fields and terminate
    // them themselves.
    std::strncpy(pscDest, pscSrc, n);
    return pscDest;
}

char* UKO_SafeStrCatN(char* pscDest, size_t destSize, const char* pscSrc) {
    if (pscDest == nullptr || pscSrc == nullptr) {
        return pscDest;
    }
    if (destSize == 0) {
        return nullptr;
    }
    return AppendN(EntryOf(UKO_SafeStrCatN), pscDest, destSize, pscSrc, std::strlen(pscSrc));
}

char* UKO_SafeStrNCatN(char* pscDest, size_t destSize, const char* pscSrc, size_t count) {
    if (count == 0 || pscDest == nullptr || pscSrc == nullptr) {
        return pscDest;
    }
    if (destSize == 0) {
        return nullptr;
    }
    return AppendN(EntryOf(UKO_SafeStrNCatN), pscDest, destSize, pscSrc, strnlen(pscSrc, count));
}

// ---- Characters and case ----------------------------------------------------------------

uint32_t UKO_IsXDigit(char cChar) {
    int c = SignedByte(cChar);
    return ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) ? 1u
                                                                                          : 0u;
}

uint32_t UKO_IsUpper(char cChar) {
    int c = SignedByte(cChar);
    return (c >= 'A' && c <= 'Z') ? 1u : 0u;
}

uint32_t UKO_IsLower(char cChar) {
    int c = SignedByte(cChar);
    return (c >= 'a' && c <= 'z') ? 1u : 0u;
}

char UKO_ToUpper(char cChar) {
    return UKO_IsLower(cChar) != 0 ? static_cast<char>(cChar - 32) : cChar;
}

char UKO_ToLower(char cChar) {
    return UKO_IsUpper(cChar) != 0 ? static_cast<char>(cChar + 32) : cChar;
}

char* UKO_StrToUpper(char* pscStr) {
    if (pscStr == nullptr) {
        return nullptr;
    }
    for (; *pscStr != '\0'; ++pscStr) {
        *pscStr = UKO_ToUpper(*pscStr);
    }
    return pscStr;
}

char* UKO_StrToLower(char* pscStr) {
    if (pscStr == nullptr) {
        return nullptr;
    }
    for (; *pscStr != '\0'; ++pscStr) {
        *pscStr = UKO_ToLower(*pscStr);
    }
    return pscStr;
}

// ---- Numbers and addresses -----------------------------------------------------------------

void UKO_UintToStrRadix(uint32_t uiValue, char* pscBuf, uint32_t uiRadix) {
    if (pscBuf == nullptr || uiRadix < 2 || uiRadix > 16) {
        return;
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char reversed[32];
    size_t n = 0;
    do {
        reversed[n++] = kDigits[uiValue % uiRadix];
        uiValue /= uiRadix;
    } while (uiValue != 0);
    for (size_t i = 0; i < n; ++i) {
        pscBuf[i] = reversed[n - 1 - i];
    }
    pscBuf[n] = '\0';
}

long UKO_SafeStrToL(const char* pscStr, char** ppscEnd, int32_t iRadix) {
    if (pscStr == nullptr || ppscEnd == nullptr) {
        return 0;
    }
    return std::strtol(pscStr, ppscEnd, iRadix);
}

uint32_t UKO_SafeStrToInt32(const char* pscStr, int32_t* piOut) {
    if (pscStr == nullptr || piOut == nullptr) {
        return UKO_EINVAL;
    }
    char* end = nullptr;
    long value = UKO_SafeStrToL(pscStr, &end, 10);
    if (end == pscStr) {
        *piOut = 0;
        return UKO_EINVAL;
    }
    if (value > INT32_MAX) {
        value = INT32_MAX;
    } else if (value < INT32_MIN) {
        value = INT32_MIN;
    }
    *piOut = static_cast<int32_t>(value);
    return 0;
}

uint64_t UKO_StrToUL(const char* pscStr, char** ppscEnd, int32_t iRadix) {
    if (pscStr == nullptr) {
        return 0;
    }
    const char* p = pscStr;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
        ++p;
    }
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    if ((iRadix == 0 || iRadix == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        iRadix = 16;
    } else if (iRadix == 0) {
        iRadix = *p == '0' ? 8 : 10;
    }
    const uint64_t radix = iRadix > 0 ? static_cast<uint64_t>(iRadix) : 0;
    uint64_t value = 0;
    bool overflow = false;
    bool anyDigit = false;
    for (;; ++p) {
        int d = DigitValue(*p);
        if (d < 0 || static_cast<uint64_t>(d) >= radix) {
            break;
        }
        anyDigit = true;
        const uint64_t digit = static_cast<uint64_t>(d);
        if (overflow || value > (UINT64_MAX - digit) / radix) {
            overflow = true;  // keep consuming the digits so that end lands after them
        } else {
            value = value * radix + digit;
        }
    }
    if (ppscEnd != nullptr) {
        *ppscEnd = const_cast<char*>(anyDigit ? p : pscStr);
    }
    if (overflow) {
        return UINT64_MAX;
    }
    return negative ? (~value + 1) : value;
}

uint64_t UKO_StrToULL(const char* pscStr, char** ppscEnd, int32_t iRadix) {
    return UKO_StrToUL(pscStr, ppscEnd, iRadix);
}

namespace {

// Significant digits kept of a long number: 19 always fit an unsigned 64-bit value
// exactly, and digits beyond them lie below what a double can tell apart. Later digits
// only count as powers of ten.
constexpr int kSignificantDigitsMax = 19;

// The powers of ten that a double holds exactly; with them one multiplication or
// division gives the correctly rounded value of a short number.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int64_t kExactPowerMax = 22;
constexpr uint64_t kExactIntegerMax = uint64_t{1} << 53;

// Extended precision keeps hundreds of steps of the loop below well inside one unit in
// the last place of a double, and its range keeps the steps from overflowing or
// underflowing before the double result would.
static_assert(std::numeric_limits<long double>::digits >= 64,
              "the power-of-ten loop needs an extended long double");
static_assert(std::numeric_limits<long double>::max_exponent10 > 400,
              "the power-of-ten loop needs an extended long double");

// digits x 10^power. Short numbers take one exact power; others are scaled one power
// of ten at a time in extended precision, stopping once the value can no longer change
// (zero or infinite), so that an exponent of two billion does not mean two billion steps.
double ScaleByPowerOfTen(uint64_t digits, int64_t power) {
    if (digits == 0) {
        return 0.0;
    }
    if (digits <= kExactIntegerMax && power >= -kExactPowerMax && power <= kExactPowerMax) {
        const double value = static_cast<double>(digits);
        return power >= 0 ? value * kExactPowersOfTen[power] : value / kExactPowersOfTen[-power];
    }
    long double value = static_cast<long double>(digits);
    if (power > 0) {
        for (int64_t i = 0; i < power && std::isfinite(value); ++i) {
            value *= 10.0L;
        }
    } else {
        for (int64_t i = 0; i < -power && value != 0.0L; ++i) {
            value /= 10.0L;
        }
    }
    return static_cast<double>(value);
}

}  // namespace

// A number is read the plain way whenever that way is sound: every digit extends a
// double value, every fraction digit multiplies a double divisor by 10, the quotient is
// taken once, and the exponent multiplies or divides by 10 once per unit. Stored
// settings and callers have always received exactly these values, last-place rounding
// included, so they must not move.
//
// That arithmetic only holds for numbers of ordinary length. Past 22 fraction digits
// the divisor is no longer exact, and each further digit adds a rounding to value and
// divisor; past some 309 digits they leave a double's range: a long fraction would be
// infinity over infinity (NaN), zeros leading a fraction would spend the divisor's
// range on nothing, and a long integer part would read as infinity before a negative
// exponent could bring it back. Such texts are instead gathered as up to 19
// significant digits and a power of ten that counts what the rest stand for, and that
// power, exponent included, is applied once, within one unit in the last place of the
// exact value. A text takes the plain way while it has at most 19 significant digits
// (the value stays below 10^19, and the counted way would keep every one of them) and
// at most 22 fraction digits (the divisor stays exact).
//
// Either way the exponent loop stops once the value is 0 or infinite: no further step
// could change it, and an exponent of two billion must not mean two billion steps.
int32_t UKO_StrToDbl(const char* pscStr, double* pdOut) {
    if (pscStr == nullptr || pdOut == nullptr) {
        return -1;
    }
    const char* p = pscStr;
    while (std::isspace(static_cast<unsigned char>(*p)) != 0) {
        ++p;
    }
    double sign = 1.0;
    if (*p == '+' || *p == '-') {
        sign = *p == '-' ? -1.0 : 1.0;
        ++p;
    }

    // Both readings are gathered in one walk; the plain one is given up once the text
    // grows beyond what it carries soundly.
    bool plain = true;
    double plainValue = 0.0;
    double plainDivisor = 1.0;
    int64_t fractionDigits = 0;
    uint64_t digits = 0;
    int kept = 0;
    int64_t power = 0;
    bool anyDigit = false;
    auto takeDigit = [&](int d, bool fraction) {
        if (fraction && ++fractionDigits > kExactPowerMax) {
            plain = false;
        }
        if (digits == 0 && d == 0) {
            // A leading zero stands for nothing; in a fraction it only moves the point.
            power -= fraction ? 1 : 0;
        } else if (kept < kSignificantDigitsMax) {
            digits = digits * 10 + static_cast<uint64_t>(d);
            ++kept;
            power -= fraction ? 1 : 0;
        } else {
            // Past the kept digits an integer digit only raises the power, and a fraction
            // digit lies below what the result can show.
            plain = false;
            power += fraction ? 0 : 1;
        }
        if (plain) {
            plainValue = plainValue * 10.0 + d;
            if (fraction) {
                plainDivisor *= 10.0;
            }
        }
    };
    for (; *p >= '0' && *p <= '9'; ++p) {
        anyDigit = true;
        takeDigit(*p - '0', false);
    }
    if (*p == '.') {
        ++p;
        if (!(*p >= '0' && *p <= '9')) {
            return -1;  // "5." and a lone "." are refused
        }
        for (; *p >= '0' && *p <= '9'; ++p) {
            takeDigit(*p - '0', true);
        }
        anyDigit = true;
    }
    if (!anyDigit) {
        return -1;
    }

    bool up = true;
    int32_t exponent = 0;
    if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
        ++p;
        if (*p != '+' && *p != '-') {
            return -1;
        }
        up = *p == '+';
        ++p;
        if (!(*p >= '0' && *p <= '9')) {
            return -1;
        }
        if (UKO_SafeStrToInt32(p, &exponent) != 0) {
            return -1;
        }
    }

    if (!plain) {
        power += up ? exponent : -static_cast<int64_t>(exponent);
        *pdOut = sign * ScaleByPowerOfTen(digits, power);
        return 0;
    }
    double value = sign * plainValue / plainDivisor;
    for (int32_t i = 0; i < exponent && value != 0.0 && std::isfinite(value); ++i) {
        value = up ? value * 10.0 : value / 10.0;
    }
    *pdOut = value;
    return 0;
}

int32_t UKO_StrToIp(const char* pscStr, uint32_t* puiOut) {
    if (pscStr == nullptr || puiOut == nullptr) {
        return -1;
    }
    size_t len = std::strlen(pscStr);
    if (len == 0 || !(pscStr[0] >= '0' && pscStr[0] <= '9') ||
        !(pscStr[len - 1] >= '0' && pscStr[len - 1] <= '9')) {
        return -1;
    }
    *puiOut = 0;
    uint32_t octet = 0;
    uint32_t dots = 0;
    char previous = '\0';
    for (const char* p = pscStr; *p != '\0'; previous = *p, ++p) {
        if (*p >= '0' && *p <= '9') {
            octet = octet * 10 + static_cast<uint32_t>(*p - '0');
            if (octet > 255) {
                return -1;
            }
        } else if (*p == '.') {
            if (dots == 3 || previous == '.') {
                return -1;
            }
            ++dots;
            *puiOut = (*puiOut << 8) + octet;
            octet = 0;
        } else {
            return -1;
        }
    }
    if (dots != 3) {
        return -1;
    }
    *puiOut = (*puiOut << 8) + octet;
    return 0;
}

// ---- Trimming and tokens -------------------------------------------------------------------

char* UKO_StrTrim(char* pscStr) {
    if (pscStr == nullptr || *pscStr == '\0') {
        return pscStr;
    }
    size_t len = std::strlen(pscStr);
    while (len > 0 && (pscStr[len - 1] == ' ' || pscStr[len - 1] == '\t')) {
        pscStr[--len] = '\0';
    }
    while (*pscStr == ' ' || *pscStr == '\t') {
        ++pscStr;
    }
    return pscStr;
}

char* UKO_StrTrimSpace(char* pscStr) {
    // 0xCCCCCCCC is the fill pattern of uninitialised stack memory in some debug
    // builds: a pointer with that value was never set.
    if (pscStr == nullptr || reinterpret_cast<uintptr_t>(pscStr) == 0xCCCCCCCCu) {
        return nullptr;
    }
    size_t len = std::strlen(pscStr);
    while (len > 0 && pscStr[len - 1] == ' ') {
        --len;
    }
    pscStr[len] = '\0';
    while (*pscStr == ' ') {
        ++pscStr;
    }
    return pscStr;
}

char* UKO_SafeStrTok(char* pscStr, const char* pscDelim, char** ppscPos) {
    if (pscDelim == nullptr || ppscPos == nullptr) {
        return nullptr;
    }
    if (pscStr == nullptr) {
        pscStr = *ppscPos;
        if (pscStr == nullptr) {
            return nullptr;
        }
    }
    char* token = pscStr + std::strspn(pscStr, pscDelim);
    char* end = token + std::strcspn(token, pscDelim);
    if (*end == '\0') {
        *ppscPos = end;
        return end == token ? nullptr : token;
    }
    *end = '\0';
    *ppscPos = end + 1;
    return token;
}
