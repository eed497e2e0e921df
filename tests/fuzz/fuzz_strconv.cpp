// Fuzz target of the string library's text-to-value converters.
//
// Input: one byte that picks the radix of UKO_StrToUL, then the text (the rest of the
// input, cut at its first zero byte). Every converter reads the same text; where the C
// library reads the same numbers, its answer is the reference:
// - UKO_StrToDbl against strtod: the same texts accepted. A number of at most 19
//   significant and 22 fraction digits gives the plain reading bit for bit (digit by
//   digit in doubles, one division, the exponent one step of 10 at a time), which lies
//   within one unit in the last place per rounding of those steps of strtod's value; a
//   longer one gives strtod's value within one unit;
// - UKO_StrToIpv6 against inet_pton for texts without an embedded IPv4 part;
// - UKO_StrToIp against the dotted form: four decimal octets up to 255, nothing else;
// - UKO_StrToUL, UKO_StrToUint64, UKO_StrToUint32 and UKO_HexStrToUint against strtoull;
// - UKO_SafeStrToInt32 against strtol, clamped.

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cctype>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "uko_string.h"

namespace {

using vt_fuzz::Printable;
using vt_fuzz::Reader;

int64_t UlpDistance(double a, double b) {
    int64_t x = 0;
    int64_t y = 0;
    std::memcpy(&x, &a, sizeof(x));
    std::memcpy(&y, &b, sizeof(y));
    x = x < 0 ? std::numeric_limits<int64_t>::min() - x : x;
    y = y < 0 ? std::numeric_limits<int64_t>::min() - y : y;
    return x > y ? x - y : y - x;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number at the start of the text as the double parse reads it, spelt for strtod
// (its exponent letter made an "e"), or "" when the text holds no such number.
std::string DecimalNumber(const std::string& t) {
    size_t i = 0;
    while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i])) != 0) ++i;
    std::string n;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) n.push_back(t[i++]);
    bool digits = false;
    while (i < t.size() && IsDigit(t[i])) {
        n.push_back(t[i++]);
        digits = true;
    }
    if (i < t.size() && t[i] == '.') {
        n.push_back(t[i++]);
        if (i >= t.size() || !IsDigit(t[i])) return "";  // "5." and a lone "." are refused
        while (i < t.size() && IsDigit(t[i])) n.push_back(t[i++]);
        digits = true;
    }
    if (!digits) return "";
    if (i < t.size() && std::strchr("eEdD", t[i]) != nullptr) {
        ++i;
        if (i >= t.size() || (t[i] != '+' && t[i] != '-')) return "";
        const char sign = t[i++];
        if (i >= t.size() || !IsDigit(t[i])) return "";
        n.push_back('e');
        n.push_back(sign);
        // The exponent is read as a 32-bit number: larger ones count as the largest.
        size_t start = i;
        while (i < t.size() && IsDigit(t[i])) ++i;
        std::string e = t.substr(start, i - start);
        e.erase(0, e.find_first_not_of('0') == std::string::npos ? e.size() - 1 : e.find_first_not_of('0'));
        if (e.size() > 10 || (e.size() == 10 && e > "2147483647")) e = "2147483647";
        n += e;
    }
    return n;
}

// What shapes the plain reading of a number spelt by DecimalNumber: its significant
// digits (from the first non-zero one), its fraction digits and its exponent.
struct Shape {
    int64_t significant = 0;
    int64_t fractionDigits = 0;
    int64_t exponent = 0;
    bool plain = false;  // read the plain way: at most 19 significant, 22 fraction digits
};

Shape ShapeOf(const std::string& number) {
    Shape s;
    size_t i = number[0] == '+' || number[0] == '-' ? 1 : 0;
    bool fraction = false;
    for (; i < number.size() && number[i] != 'e'; ++i) {
        if (number[i] == '.') {
            fraction = true;
            continue;
        }
        s.significant += s.significant > 0 || number[i] != '0' ? 1 : 0;
        s.fractionDigits += fraction ? 1 : 0;
    }
    if (i < number.size()) {
        s.exponent = std::strtoll(number.c_str() + i + 1, nullptr, 10);
    }
    s.plain = s.significant <= 19 && s.fractionDigits <= 22;
    return s;
}

// The plain reading of a number spelt by DecimalNumber. The exponent steps end once the
// value is 0 or infinite, where no further step changes it.
double PlainReading(const std::string& number, const Shape& shape) {
    size_t i = 0;
    double sign = 1.0;
    if (number[0] == '+' || number[0] == '-') {
        sign = number[i++] == '-' ? -1.0 : 1.0;
    }
    double value = 0.0;
    double divisor = 1.0;
    bool fraction = false;
    for (; i < number.size() && number[i] != 'e'; ++i) {
        if (number[i] == '.') {
            fraction = true;
            continue;
        }
        value = value * 10.0 + (number[i] - '0');
        divisor *= fraction ? 10.0 : 1.0;
    }
    value = sign * value / divisor;
    const int64_t steps = shape.exponent < 0 ? -shape.exponent : shape.exponent;
    for (int64_t k = 0; k < steps && value != 0.0 && std::isfinite(value); ++k) {
        value = shape.exponent < 0 ? value / 10.0 : value * 10.0;
    }
    return value;
}

void CheckDouble(const std::string& text) {
    double ours = 0.0;
    const int32_t rc = UKO_StrToDbl(text.c_str(), &ours);
    const std::string number = DecimalNumber(text);
    const std::string what = "UKO_StrToDbl [" + Printable(text) + "]";
    FUZZ_CHECK((rc == 0) == !number.empty(), what + " rc " + std::to_string(rc));
    if (rc != 0) {
        return;
    }
    const double theirs = std::strtod(number.c_str(), nullptr);
    const Shape shape = ShapeOf(number);
    char buf[128];
    std::snprintf(buf, sizeof(buf), " gives %.17g, strtod %.17g", ours, theirs);
    // Each rounding of the plain steps (the quotient, every exponent step, and the
    // multiplication and addition of every digit past the 15th) errs by at most 2^-53
    // of its result, which is at most one unit of the final value; one rounding of exact
    // operands is strtod's value itself. Infinity lies one unit above the largest
    // double, so the top of the range is no exception.
    int64_t bound = 1;
    if (shape.plain) {
        const double plain = PlainReading(number, shape);
        std::snprintf(buf + std::strlen(buf), sizeof(buf) - std::strlen(buf), ", plainly %.17g", plain);
        FUZZ_CHECK(std::memcmp(&ours, &plain, sizeof(ours)) == 0, what + buf);
        const int64_t steps = shape.exponent < 0 ? -shape.exponent : shape.exponent;
        const int64_t roundings = 1 + steps + 2 * std::max<int64_t>(0, shape.significant - 15);
        bound = roundings == 1 ? 0 : roundings;
    }
    FUZZ_CHECK(UlpDistance(ours, theirs) <= bound, what + buf);
}

void CheckIpv6(const std::string& text) {
    uint16_t groups[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const int32_t rc = UKO_StrToIpv6(text.c_str(), groups);
    if (text.size() < 2 || text.size() >= 40 || text.find('.') != std::string::npos) {
        // Too short, too long, or with an embedded IPv4 part.
        FUZZ_CHECK(rc == -1, "UKO_StrToIpv6 [" + Printable(text) + "]");
        return;
    }
    // Spaces and tabs around the address are cut first.
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    const std::string core = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    unsigned char reference[16];
    const bool valid = inet_pton(AF_INET6, core.c_str(), reference) == 1;
    const std::string what = "UKO_StrToIpv6 [" + Printable(text) + "] rc " + std::to_string(rc);
    FUZZ_CHECK((rc == 0) == valid, what);
    if (valid) {
        for (int g = 0; g < 8; ++g) {
            const uint16_t expected = static_cast<uint16_t>((reference[2 * g] << 8) | reference[2 * g + 1]);
            FUZZ_CHECK(groups[g] == expected, what + " group " + std::to_string(g));
        }
    }
}

void CheckIpv4(const std::string& text) {
    // Four decimal octets of at most 255, separated by single dots, and nothing else.
    uint32_t expected = 0;
    bool valid = !text.empty();
    int octets = 0;
    size_t i = 0;
    while (valid && i <= text.size()) {
        uint32_t octet = 0;
        size_t start = i;
        while (i < text.size() && IsDigit(text[i]) && octet <= 255) {
            octet = octet * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
        }
        valid = i > start && octet <= 255;
        expected = (expected << 8) | octet;
        ++octets;
        if (i == text.size()) break;
        valid = valid && text[i] == '.' && octets < 4;
        ++i;
    }
    valid = valid && octets == 4;
    uint32_t ours = 0;
    const int32_t rc = UKO_StrToIp(text.c_str(), &ours);
    const std::string what = "UKO_StrToIp [" + Printable(text) + "] rc " + std::to_string(rc);
    FUZZ_CHECK((rc == 0) == valid, what);
    FUZZ_CHECK(!valid || ours == expected, what);
}

// What strtoull makes of the text in the given base, with whether it read a digit, the
// sign it met and whether it overflowed.
struct Unsigned {
    uint64_t value = 0;
    bool any = false;
    bool negative = false;
    bool overflow = false;
    const char* end = nullptr;
};

Unsigned ReadUnsigned(const char* text, int base) {
    Unsigned u;
    char* end = nullptr;
    errno = 0;
    u.value = std::strtoull(text, &end, base);
    u.overflow = errno == ERANGE;
    u.any = end != text;
    u.end = end;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)) != 0) ++p;
    u.negative = *p == '-';
    return u;
}

// The 32-bit value an unsigned field of an int destination stores.
uint32_t Unsigned32(const Unsigned& u) {
    if (u.overflow) return 0xFFFFFFFFu;
    if (!u.negative) return static_cast<uint32_t>(u.value);
    const uint64_t magnitude = 0 - u.value;
    return magnitude > 0x100000000ULL ? 0xFFFFFFFFu : static_cast<uint32_t>(u.value);
}

void CheckScannedNumbers(const std::string& text) {
    const char* t = text.c_str();
    const std::string what = " [" + Printable(text) + "]";
    const Unsigned dec = ReadUnsigned(t, 10);

    uint64_t u64 = 7;
    const uint32_t rc64 = UKO_StrToUint64(t, &u64);
    FUZZ_CHECK((rc64 == 0) == dec.any, "UKO_StrToUint64" + what);
    FUZZ_CHECK(u64 == (dec.any ? dec.value : 0), "UKO_StrToUint64" + what);

    uint32_t u32 = 7;
    const uint32_t rc32 = UKO_StrToUint32(t, &u32);
    FUZZ_CHECK((rc32 == 0) == dec.any, "UKO_StrToUint32" + what);
    FUZZ_CHECK(u32 == (dec.any ? Unsigned32(dec) : 0), "UKO_StrToUint32" + what);

    // A "0x" with no hexadecimal digit after it is no number for the scanner, while
    // strtoull takes its 0: leave that case out of the comparison.
    const char* p = t;
    while (std::isspace(static_cast<unsigned char>(*p)) != 0) ++p;
    if (*p == '+' || *p == '-') ++p;
    const bool bareHexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2])) == 0;
    uint32_t hex = 7;
    const int32_t rcHex = UKO_HexStrToUint(t, &hex);
    if (!bareHexPrefix) {
        const Unsigned h = ReadUnsigned(t, 16);
        FUZZ_CHECK((rcHex == 0) == h.any, "UKO_HexStrToUint" + what);
        FUZZ_CHECK(hex == (h.any ? Unsigned32(h) : 0), "UKO_HexStrToUint" + what);
    } else {
        FUZZ_CHECK(rcHex == -1 && hex == 0, "UKO_HexStrToUint" + what);
    }

    int32_t i32 = 7;
    const uint32_t rcInt = UKO_SafeStrToInt32(t, &i32);
    char* end = nullptr;
    const long l = std::strtol(t, &end, 10);
    FUZZ_CHECK((rcInt == 0) == (end != t), "UKO_SafeStrToInt32" + what);
    const long clamped = l > INT32_MAX ? INT32_MAX : (l < INT32_MIN ? INT32_MIN : l);
    FUZZ_CHECK(i32 == (end != t ? clamped : 0), "UKO_SafeStrToInt32" + what);
}

void CheckStrToUL(const std::string& text, int radix) {
    const char* t = text.c_str();
    char* end = nullptr;
    const uint64_t ours = UKO_StrToUL(t, &end, radix);
    const std::string what = "UKO_StrToUL radix " + std::to_string(radix) + " [" + Printable(text) + "]";
    FUZZ_CHECK(end >= t && end <= t + text.size(), what + ": end outside the text");
    FUZZ_CHECK(UKO_StrToULL(t, nullptr, radix) == ours, what);
    if (radix != 0 && (radix < 2 || radix > 36)) {
        return;
    }
    // The C library skips every isspace character, this one only spaces, tabs,
    // carriage returns and line feeds; and it takes the 0 of a "0x" that no digit
    // follows, while this one gives the start of the text back. Compare the rest.
    const char* p = t;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (*p == '\v' || *p == '\f') return;
    if (*p == '+' || *p == '-') ++p;
    if ((radix == 0 || radix == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        const char d = p[2];
        const bool hexDigit = (d >= '0' && d <= '9') || (d >= 'a' && d <= 'f') || (d >= 'A' && d <= 'F');
        if (!hexDigit) return;
    }
    const Unsigned u = ReadUnsigned(t, radix);
    FUZZ_CHECK(ours == (u.any ? u.value : 0), what);
    FUZZ_CHECK(end == (u.any ? u.end : t), what + ": end");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t radixPick = in.Byte();
    std::string rest = in.Rest();
    const std::string text = rest.substr(0, rest.find('\0'));

    CheckDouble(text);
    CheckIpv6(text);
    CheckIpv4(text);
    CheckScannedNumbers(text);
    // Radix 0, 2 to 36 and a few beyond, negative ones included.
    CheckStrToUL(text, static_cast<int>(radixPick % 40) - 1);
    char* end = nullptr;
    (void)UKO_SafeStrToL(text.c_str(), &end, radixPick % 37);
    return 0;
}
