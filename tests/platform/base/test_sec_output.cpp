#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sec_lib.h"

namespace {

struct Result {
    int code;
    std::string text;  // the destination up to its terminator
};

// vsnprintf_s into a roomy destination: nothing cuts the output but the format.
Result Fmt(const char* format, ...) {
    static char buf[8192];
    memset(buf, '~', sizeof(buf));
    va_list args;
    va_start(args, format);
    const int code = vsnprintf_s(buf, sizeof(buf), sizeof(buf) - 1, format, args);
    va_end(args);
    return Result{code, std::string(buf, strnlen(buf, sizeof(buf)))};
}

int SnprintfS(char* dest, size_t destMax, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int code = vsnprintf_s(dest, destMax, count, format, args);
    va_end(args);
    return code;
}

int SprintfS(char* dest, size_t destMax, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int code = vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return code;
}

// Expects the text and a result equal to its length.
#define EXPECT_FMT(expected, ...)                                          \
    do {                                                                   \
        const Result r_ = Fmt(__VA_ARGS__);                                \
        const std::string e_(expected);                                    \
        EXPECT_EQ(r_.text, e_) << "format " << #__VA_ARGS__;               \
        EXPECT_EQ(r_.code, static_cast<int>(e_.size())) << #__VA_ARGS__;  \
    } while (0)

// Expects the whole call to fail: -1 and an empty destination.
#define EXPECT_FMT_FAILS(...)                                         \
    do {                                                              \
        const Result r_ = Fmt(__VA_ARGS__);                           \
        EXPECT_EQ(r_.code, -1) << "format " << #__VA_ARGS__;          \
        EXPECT_EQ(r_.text, "") << "format " << #__VA_ARGS__;          \
    } while (0)

// Wide-character conversions depend on the locale: every test that uses them sets it.
class WideLocale : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr); }
    void TearDown() override { setlocale(LC_ALL, "C"); }
};

// ---------------------------------------------------------------------------------------
// Integers

TEST(SecFormatInteger, FlagsWidthAndPrecision) {
    EXPECT_FMT("-005", "%04d", -5);
    EXPECT_FMT("-5  ", "%-4d", -5);
    EXPECT_FMT("-5  ", "%-04d", -5);  // left wins over zero fill
    EXPECT_FMT("+5", "%+d", 5);
    EXPECT_FMT(" 5", "% d", 5);
    EXPECT_FMT("+5", "%+ d", 5);
    EXPECT_FMT("+0005", "%+05d", 5);
    EXPECT_FMT("-0005", "%05d", -5);
    EXPECT_FMT("  007", "%05.3d", 7);  // a precision drops zero fill
    EXPECT_FMT("", "%.0d", 0);
    EXPECT_FMT("   ", "%3.0d", 0);
    EXPECT_FMT("0", "%d", 0);
    EXPECT_FMT("-2147483648", "%d", INT32_MIN);
    EXPECT_FMT("4294967295", "%u", UINT32_MAX);
    EXPECT_FMT("42", "%i", 42);
    EXPECT_FMT("5", "%+u", 5u);  // signs belong to signed conversions only
    EXPECT_FMT("ff", "% x", 255u);
}

TEST(SecFormatInteger, AlternateForms) {
    EXPECT_FMT("0", "%#o", 0u);
    EXPECT_FMT("0", "%#.0o", 0u);
    EXPECT_FMT("010", "%#o", 8u);
    EXPECT_FMT("010", "%#.3o", 8u);  // already begins with 0
    EXPECT_FMT("00010", "%#.5o", 8u);
    EXPECT_FMT("0", "%#x", 0u);
    EXPECT_FMT("", "%#.0x", 0u);
    EXPECT_FMT("0xff", "%#x", 255u);
    EXPECT_FMT("0XFF", "%#X", 255u);
    EXPECT_FMT("0x00ff", "%#06x", 255u);
    EXPECT_FMT("  0xff", "%#6x", 255u);
    EXPECT_FMT("0x00ff", "%#.4x", 255u);
    EXPECT_FMT("deadbeef", "%x", 0xDEADBEEFu);
    EXPECT_FMT("DEADBEEF", "%X", 0xDEADBEEFu);
}

TEST(SecFormatInteger, LengthModifiers) {
    EXPECT_FMT("44", "%hhd", 300);
    EXPECT_FMT("-1", "%hhd", 255);
    EXPECT_FMT("44", "%hhu", 300);
    EXPECT_FMT("4464", "%hd", 70000);
    EXPECT_FMT("65535", "%hu", -1);
    EXPECT_FMT("-9223372036854775808", "%lld", INT64_MIN);
    EXPECT_FMT("-9223372036854775808", "%ld", static_cast<long>(INT64_MIN));
    EXPECT_FMT("18446744073709551615", "%llu", UINT64_MAX);
    EXPECT_FMT("1099511627776", "%I64d", 1LL << 40);
    EXPECT_FMT("ffffffffff", "%I64x", 0xFFFFFFFFFFULL);
    EXPECT_FMT("1099511627776", "%Id", 1LL << 40);
    EXPECT_FMT("-7", "%I32d", -7);
    EXPECT_FMT("1099511627776", "%jd", static_cast<intmax_t>(1LL << 40));
    EXPECT_FMT("1099511627776", "%zu", static_cast<size_t>(1ULL << 40));
    EXPECT_FMT("-1099511627776", "%td", static_cast<ptrdiff_t>(-(1LL << 40)));
    EXPECT_FMT("1099511627776", "%qd", 1LL << 40);
    EXPECT_FMT("1099511627776", "%Ld", 1LL << 40);
    EXPECT_FMT("12", "%Fd", 12);  // F and N are accepted and change nothing
    EXPECT_FMT("12", "%Nd", 12);
    EXPECT_FMT("12", "%wd", 12);  // w has no effect on integers
    // The first matching modifier wins: l before h.
    EXPECT_FMT("70000", "%hld", 70000L);
}

TEST(SecFormatInteger, IWithoutAKnownFormIsText) {
    EXPECT_FMT("Is", "%Is");
    EXPECT_FMT("[Iz]", "[%Iz]");
    EXPECT_FMT("I5d", "%I5d");
    EXPECT_FMT("I", "%I");
    EXPECT_FMT("I7", "%I%d", 7);
    EXPECT_FMT("I6x", "%I6x");
}

TEST(SecFormatInteger, PrecisionIsCappedAt512) {
    const Result r = Fmt("%.600d", 7);
    EXPECT_EQ(r.code, 512);
    EXPECT_EQ(r.text, std::string(511, '0') + "7");
    // 512 places with zero fill from the width: the precision drops it, so spaces.
    const Result w = Fmt("%0520.512x", 0xABu);
    EXPECT_EQ(w.text, std::string(8, ' ') + std::string(510, '0') + "ab");
}

TEST(SecFormatInteger, Pointers) {
    EXPECT_FMT("(nil)", "%p", static_cast<void*>(nullptr));
    EXPECT_FMT("  (nil)", "%07p", static_cast<void*>(nullptr));  // no zeros before (nil)
    EXPECT_FMT("(nil)  ", "%-7p", static_cast<void*>(nullptr));
    EXPECT_FMT("0x1234", "%p", reinterpret_cast<void*>(0x1234));
    EXPECT_FMT("0x001234", "%08p", reinterpret_cast<void*>(0x1234));
    EXPECT_FMT("0x001234", "%08.2p", reinterpret_cast<void*>(0x1234));  // p keeps zero fill
    EXPECT_FMT("0x00001234", "%.8p", reinterpret_cast<void*>(0x1234));
    EXPECT_FMT("0xffffffffffffffff", "%p", reinterpret_cast<void*>(UINTPTR_MAX));
}

TEST(SecFormatInteger, WidthAndPrecisionFromTheList) {
    EXPECT_FMT("   42", "%*d", 5, 42);
    EXPECT_FMT("42   ", "%*d", -5, 42);  // negative width: left-justify
    EXPECT_FMT("00042", "%.*d", 5, 42);
    EXPECT_FMT("42", "%.*d", -3, 42);  // negative precision: none
    EXPECT_FMT("  00042", "%*.*d", 7, 5, 42);
    EXPECT_FMT("[a ][b]", "[%-*s][%s]", 2, "a", "b");
}

// Width and precision digits that overflow 32 bits stay at the largest width: the
// output then fills the destination, which is a truncation, not a short field.
TEST(SecFormatInteger, HugeWidthSaturates) {
    char buf[64];
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 10, "%99999999999d", 1), -1);
    EXPECT_EQ(std::string(buf), std::string(10, ' '));
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 10, "%4294967297d", 1), -1);  // 2^32 + 1
    EXPECT_EQ(std::string(buf), std::string(10, ' '));
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 10, "%.4294967297d", 1), -1);
    EXPECT_EQ(std::string(buf), std::string(10, '0'));
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 10, "%*d", INT32_MIN, 1), -1);
    EXPECT_EQ(std::string(buf), "1" + std::string(9, ' '));
}

// A negative precision from the list followed by precision digits stays negative however
// many digits follow (it means no precision), without overflowing on the way down.
TEST(SecFormatInteger, NegativePrecisionFollowedByDigitsStaysNone) {
    EXPECT_FMT("5", "%.*0000000000d", -1, 5);
    EXPECT_FMT("5|", "%.*99999999999d|", -3, 5);
    EXPECT_FMT("ab", "%.*00000000000000s", -1, "ab");
}

// ---------------------------------------------------------------------------------------
// Characters and strings

TEST(SecFormatText, NarrowCharactersAndStrings) {
    EXPECT_FMT("x", "%c", 'x');
    EXPECT_FMT("    x", "%5c", 'x');
    EXPECT_FMT("x    ", "%-5c", 'x');
    EXPECT_FMT("    x", "%05c", 'x');  // c and s drop zero fill
    EXPECT_FMT("   ab", "%05s", "ab");
    EXPECT_FMT("A", "%c", 0x141);  // the low byte
    EXPECT_FMT("abc", "%s", "abc");
    EXPECT_FMT("ab", "%.2s", "abc");
    EXPECT_FMT("", "%.0s", "abc");
    EXPECT_FMT("   ab", "%5.2s", "abc");
    EXPECT_FMT("ab   |", "%-5.2s|", "abc");
    EXPECT_FMT("(null)", "%s", static_cast<char*>(nullptr));
    EXPECT_FMT("(nu", "%.3s", static_cast<char*>(nullptr));
    EXPECT_FMT("  (null)", "%8s", static_cast<char*>(nullptr));
    EXPECT_FMT("x", "%hc", 'x');
    EXPECT_FMT("ab", "%hs", "ab");
    EXPECT_FMT("x", "%hC", 'x');
    EXPECT_FMT("ab", "%hS", "ab");
    EXPECT_FMT("x", "%llc", 'x');  // ll has no effect on characters
    EXPECT_FMT("%", "%%");
    EXPECT_FMT("100% sure", "100%% sure");
}

TEST(SecFormatText, NulByteCountsAsOutput) {
    char buf[8];
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 7, "a%cb", 0), 3);
    EXPECT_EQ(memcmp(buf, "a\0b\0", 4), 0);
}

// A precision-bounded %s reads no further than the precision: the text may be a
// fixed-width field without a terminator. The field sits in a heap block of exactly its
// size, so AddressSanitizer reports any read past it.
TEST(SecFormatText, PrecisionBoundsTheRead) {
    constexpr size_t kWidth = 6;
    std::unique_ptr<char[]> field(new char[kWidth]);
    memcpy(field.get(), "ABCDEF", kWidth);
    EXPECT_FMT("ABCDEF", "%.6s", field.get());
    EXPECT_FMT("ABC", "%.3s", field.get());
    EXPECT_FMT("  ABCDEF", "%8.*s", static_cast<int>(kWidth), field.get());
}

// A counted text: its length decides; the precision does not apply.
struct CountedText {
    int16_t length;
    uint16_t maximumLength;
    const char* buffer;
};

TEST(SecFormatText, CountedText) {
    const CountedText narrow{3, 100, "abcdef"};
    EXPECT_FMT("abc", "%Z", &narrow);
    EXPECT_FMT("abc", "%.1Z", &narrow);
    EXPECT_FMT("00abc", "%05Z", &narrow);  // Z honours zero fill
    EXPECT_FMT("abc  ", "%-5Z", &narrow);
    EXPECT_FMT("(null)", "%Z", static_cast<CountedText*>(nullptr));
    const CountedText noText{3, 3, nullptr};
    EXPECT_FMT("(null)", "%Z", &noText);
    const CountedText negative{-4, 3, "abc"};
    EXPECT_FMT("  ", "%2Z", &negative);
    const CountedText empty{0, 3, "abc"};
    EXPECT_FMT("", "%Z", &empty);
}

using SecFormatWide = WideLocale;

TEST_F(SecFormatWide, WideCharactersAndStrings) {
    EXPECT_FMT("\xe4\xb8\xad", "%lc", static_cast<wint_t>(0x4E2D));
    EXPECT_FMT("\xe4\xb8\xad", "%wc", static_cast<wint_t>(0x4E2D));
    EXPECT_FMT("\xe4\xb8\xad", "%C", static_cast<wint_t>(0x4E2D));
    EXPECT_FMT("\xe4\xb8\xad", "%lC", static_cast<wint_t>(0x4E2D));
    EXPECT_FMT("  \xe4\xb8\xad", "%5lc", static_cast<wint_t>(0x4E2D));  // 3 bytes + fill 2
    EXPECT_FMT("ab\xe4\xb8\xad", "%ls", L"ab\x4E2D");
    EXPECT_FMT("ab\xe4\xb8\xad", "%S", L"ab\x4E2D");
    EXPECT_FMT("ab\xe4\xb8\xad", "%ws", L"ab\x4E2D");
    EXPECT_FMT("ab", "%.2ls", L"ab\x4E2D");
    // The width of a wide text counts its characters.
    EXPECT_FMT("  ab\xe4\xb8\xad", "%5ls", L"ab\x4E2D");
    EXPECT_FMT("ab\xe4\xb8\xad  |", "%-5ls|", L"ab\x4E2D");
    EXPECT_FMT("(null)", "%ls", static_cast<wchar_t*>(nullptr));
    EXPECT_FMT("(nu", "%.3S", static_cast<wchar_t*>(nullptr));
    EXPECT_FMT("   ab", "%05ls", L"ab");
}

TEST_F(SecFormatWide, CountedWideText) {
    const wchar_t text[] = L"xy\x4E2D";
    const CountedText counted{static_cast<int16_t>(3 * sizeof(wchar_t)), 0,
                              reinterpret_cast<const char*>(text)};
    EXPECT_FMT("xy\xe4\xb8\xad", "%wZ", &counted);
    const CountedText cut{static_cast<int16_t>(2 * sizeof(wchar_t) + 3), 0,
                          reinterpret_cast<const char*>(text)};
    EXPECT_FMT("xy", "%wZ", &cut);  // length / 4 whole characters
}

// A wide character with no multibyte form: for %lc the conversion writes nothing at
// all, fill included, and the call goes on; for %ls the whole call fails.
TEST_F(SecFormatWide, CharactersWithoutAMultibyteForm) {
    const wint_t surrogate = 0xD800;
    EXPECT_FMT("[]", "[%lc]", surrogate);
    EXPECT_FMT("[]", "[%5lc]", surrogate);
    EXPECT_FMT("[]7", "[%-5C]%d", surrogate, 7);
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_FMT_FAILS("x%lsy", bad);
    EXPECT_FMT_FAILS("%-8ls", bad);
    EXPECT_FMT("a", "%.1ls", bad);  // the precision stops before the bad character
    // In the C locale the same character that converts under UTF-8 has no form.
    setlocale(LC_ALL, "C");
    EXPECT_FMT("<>", "<%lc>", static_cast<wint_t>(0x4E2D));
    EXPECT_FMT_FAILS("%ls", L"\x4E2D");
}

// ---------------------------------------------------------------------------------------
// Grammar

TEST(SecFormatGrammar, InvalidFormatsFailWithAnEmptyDestination) {
    int target = 12345;
    EXPECT_FMT_FAILS("%n", &target);
    EXPECT_EQ(target, 12345);  // %n never writes through its pointer
    EXPECT_FMT_FAILS("ab%n", &target);
    EXPECT_FMT_FAILS("%a", 1.0);
    EXPECT_FMT_FAILS("%A", 1.0);
    EXPECT_FMT_FAILS("%F", 1.0);  // F is a modifier; the format ends inside the directive
    EXPECT_FMT_FAILS("abc%");
    EXPECT_FMT_FAILS("%-");
    EXPECT_FMT_FAILS("%5");
    EXPECT_FMT_FAILS("%.");
    EXPECT_FMT_FAILS("%l");
    EXPECT_FMT_FAILS("%5%");   // percent after a width
    EXPECT_FMT_FAILS("%-%");   // percent after a flag
    EXPECT_FMT_FAILS("%5-d", 1);  // flag after a width
    EXPECT_FMT_FAILS("%..d", 1);
    EXPECT_FMT_FAILS("%.5.d", 1);
    EXPECT_FMT_FAILS("%**d", 1, 2);
    EXPECT_FMT_FAILS("%.**d", 1, 2);
    EXPECT_FMT_FAILS("%5*d", 1, 2);
    EXPECT_FMT_FAILS("%hy");
    EXPECT_FMT_FAILS("%h5d", 1);  // digit after a modifier
    EXPECT_FMT_FAILS("%k");
    EXPECT_FMT_FAILS("%\xc3\xa9");  // bytes above 'z' are of class other
    EXPECT_FMT_FAILS("%b", 1);
    EXPECT_FMT_FAILS("%d%y", 1);  // fails even after a good conversion
}

TEST(SecFormatGrammar, OrdinaryText) {
    EXPECT_FMT("", "");
    EXPECT_FMT("plain text", "plain text");
    EXPECT_FMT("caf\xc3\xa9 \x7f~{|}", "caf\xc3\xa9 \x7f~{|}");
    EXPECT_FMT("[5][x][y]", "[%d][%c][%s]", 5, 'x', "y");
    EXPECT_FMT("5y", "%dy", 5);  // a letter after a conversion is text again
    EXPECT_FMT("5.", "%d.", 5);
    EXPECT_FMT("5%", "%d%%", 5);
    EXPECT_FMT("57", "%d%d", 5, 7);
}

// ---------------------------------------------------------------------------------------
// Floating point (texts of the library's own digit generator)

TEST(SecFormatFloat, GeneralStyle) {
    EXPECT_FMT("100000", "%g", 100000.0);
    EXPECT_FMT("1e+06", "%g", 1e6);
    EXPECT_FMT("1E+06", "%G", 1e6);
    EXPECT_FMT("0.0001", "%g", 0.0001);
    EXPECT_FMT("1e-05", "%g", 0.00001);
    EXPECT_FMT("1.5", "%g", 1.5);
    EXPECT_FMT("0", "%g", 0.0);
    EXPECT_FMT("1e+10", "%g", 1e10);
    EXPECT_FMT("1.23457e+08", "%g", 123456789.0);
    EXPECT_FMT("1e+06", "%g", 999999.5);  // rounding makes the 7th digit the 1st
    EXPECT_FMT("-2.5", "%g", -2.5);
    EXPECT_FMT("3", "%.0g", 2.5);  // precision 0 is 1; halves go up
    EXPECT_FMT("1e+02", "%.1g", 123.0);
    EXPECT_FMT("0.000123457", "%g", 0.0001234567);
    EXPECT_FMT("1.5e+300", "%g", 1.5e300);
    EXPECT_FMT("1e-300", "%g", 1e-300);
    EXPECT_FMT("  1.5", "%5g", 1.5);
    EXPECT_FMT("001.5", "%05g", 1.5);
    EXPECT_FMT("1", "%#g", 1.0);  // # has no effect
}

TEST(SecFormatFloat, ExponentStyle) {
    EXPECT_FMT("0.000000e+00", "%e", 0.0);
    EXPECT_FMT("1.234568E+04", "%E", 12345.678);
    EXPECT_FMT("5e+00", "%.0e", 5.0);
    EXPECT_FMT("5.000000e-01", "%e", 0.5);
    EXPECT_FMT("5.000000e-01", "%Le", 0.5L);
    EXPECT_FMT("5.000000e-01", "%qe", 0.5L);
    EXPECT_FMT("1.000000e+00", "%#e", 1.0);
    EXPECT_FMT("-1.5e+100", "%.1e", -1.5e100);
    EXPECT_FMT("1.0e+01", "%.1e", 9.96);
    EXPECT_FMT("1.000000e+300", "%e", 1e300);
    EXPECT_FMT("1.000000e-300", "%e", 1e-300);
    EXPECT_FMT("1.000000e+4000", "%Le", 1e4000L);  // four exponent digits for long double
    EXPECT_FMT("1.5e-4000", "%.1Le", 1.5e-4000L);
}

TEST(SecFormatFloat, FixedStyleAndRounding) {
    EXPECT_FMT("1", "%.0f", 0.5);
    EXPECT_FMT("3", "%.0f", 2.5);
    EXPECT_FMT("-2.3", "%.1f", -2.25);
    EXPECT_FMT("0.1", "%.1f", 0.05);
    EXPECT_FMT("0", "%.0f", 0.3);
    EXPECT_FMT("-0", "%.0f", -0.3);
    EXPECT_FMT("0.00", "%.2f", 0.001);
    EXPECT_FMT("0.10", "%.2f", 0.0996);
    EXPECT_FMT("10.0", "%.1f", 9.96);
    EXPECT_FMT("100000000000000000000.000000", "%f", 1e20);
    EXPECT_FMT("3.141590", "%f", 3.14159);
    EXPECT_FMT(" -2.3", "%5.1f", -2.25);
    EXPECT_FMT("-02.3", "%05.1f", -2.25);
    EXPECT_FMT("+2.3 ", "%-+5.1f", 2.25);
    EXPECT_FMT(" 2.50", "% .2f", 2.5);
    EXPECT_FMT("0.000000", "%f", 0.0);
    EXPECT_FMT("0.000000", "%f", -0.0);  // -0 is not below 0
    EXPECT_FMT("3.250000", "%Lf", 3.25L);
    EXPECT_FMT("-1.001", "%.3Lf", -1.0005L);
    EXPECT_FMT("123456789012.000", "%.3f", 123456789012.0);
    EXPECT_FMT("0.00123", "%.5f", 0.001234);
}

TEST(SecFormatFloat, InfinityAndNan) {
    const double inf = HUGE_VAL;
    const double nan = __builtin_nan("");
    EXPECT_FMT("inf", "%f", inf);
    EXPECT_FMT("-inf", "%f", -inf);
    EXPECT_FMT("inf", "%e", inf);
    EXPECT_FMT("INF", "%E", inf);
    EXPECT_FMT("-INF", "%G", -inf);
    EXPECT_FMT("nan", "%g", nan);
    EXPECT_FMT("nan", "%f", -nan);
    EXPECT_FMT("NAN", "%E", nan);
    EXPECT_FMT("+inf", "%+f", inf);
    EXPECT_FMT(" inf", "% f", inf);
    EXPECT_FMT("+nan", "%+f", nan);
    EXPECT_FMT(" -inf", "%05f", -inf);  // no zeros in front of a name
    EXPECT_FMT("-inf ", "%-5f", -inf);
    EXPECT_FMT("inf", "%.600f", inf);
    EXPECT_FMT("-inf", "%Lf", -static_cast<long double>(inf));
    EXPECT_FMT("NAN", "%LG", static_cast<long double>(nan));
}

TEST(SecFormatFloat, PrecisionCapsAndLargeTexts) {
    // 164 and more places take a heap text buffer; the text is the same kind.
    const Result r163 = Fmt("%.163f", 1.0);
    EXPECT_EQ(r163.text, "1." + std::string(163, '0'));
    const Result r164 = Fmt("%.164f", 1.0);
    EXPECT_EQ(r164.text, "1." + std::string(164, '0'));
    // 600 places become 512.
    const Result f600 = Fmt("%.600f", 1.0);
    EXPECT_EQ(f600.text, "1." + std::string(512, '0'));
    EXPECT_EQ(f600.code, 514);
    const Result e600 = Fmt("%.600e", 1.0);
    EXPECT_EQ(e600.text, "1." + std::string(512, '0') + "e+00");
    // Long double caps at 5120 places.
    const Result l6000 = Fmt("%.6000Lf", 0.5L);
    EXPECT_EQ(l6000.text, "0.5" + std::string(5119, '0'));
    // Integer digits beyond the range of a double.
    EXPECT_FMT("18446744073709551616.000000", "%Lf", 18446744073709551616.0L);
    const Result big = Fmt("%.2Lf", 1.5e4000L);
    EXPECT_EQ(big.code, 4001 + 3);
    EXPECT_EQ(big.text[0], '1');
    EXPECT_EQ(big.text.substr(4001), ".00");
    const Result maxDouble = Fmt("%.0f", 1.7976931348623157e308);
    EXPECT_EQ(maxDouble.code, 309);
    EXPECT_EQ(maxDouble.text.substr(0, 5), "17976");
}

TEST(SecFormatFloat, MixedWithOtherConversions) {
    // The value list stays in step across floating-point, long double and integer reads.
    EXPECT_FMT("[1.50][2.5e+00][x][7][3]", "[%.2f][%.1Le][%s][%d][%g]", 1.5, 2.5L, "x", 7, 3.0);
}

// ---------------------------------------------------------------------------------------
// vsnprintf_s and vsprintf_s: argument checks and truncation

TEST(SecFormatCall, ArgumentChecks) {
    char buf[16];
    memset(buf, '~', sizeof(buf));
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 5, nullptr), -1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(SnprintfS(nullptr, sizeof(buf), 5, "x"), -1);
    buf[0] = '~';
    EXPECT_EQ(SnprintfS(buf, 0, 5, "x"), -1);
    EXPECT_EQ(buf[0], '~');  // destMax 0: not even the first byte
    EXPECT_EQ(SnprintfS(buf, 0x80000000u, 5, "x"), -1);
    EXPECT_EQ(buf[0], '\0');
    buf[0] = '~';
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 0x7FFFFFFF, "x"), -1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 0x7FFFFFFE, "x"), 1);
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(SnprintfS(buf, 0x7FFFFFFF, 0x7FFFFFFE, "%d", 12), 2);
    EXPECT_STREQ(buf, "12");

    memset(buf, '~', sizeof(buf));
    EXPECT_EQ(SprintfS(buf, sizeof(buf), nullptr), -1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(SprintfS(nullptr, sizeof(buf), "x"), -1);
    buf[0] = '~';
    EXPECT_EQ(SprintfS(buf, 0, "x"), -1);
    EXPECT_EQ(buf[0], '~');
    EXPECT_EQ(SprintfS(buf, 0x80000000u, "x"), -1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(SprintfS(buf, 0x7FFFFFFF, "a%sc", "b"), 3);
    EXPECT_STREQ(buf, "abc");
}

constexpr size_t kGuardSpace = 32;
constexpr char kGuard = '~';

// What vsnprintf_s must leave for an output `full` cut by destMax and count: when the
// caller's count cuts the output, the first count bytes are kept (result -1); when the
// destination's size cuts it, the destination is left empty (result -1). The bytes at
// and past destMax are never written.
void ExpectCut(const std::string& full, size_t destMax, size_t count, int code,
               const std::vector<char>& buf) {
    const size_t len = full.size();
    int expectCode;
    std::string expectText;
    if (destMax > count) {
        expectCode = len <= count ? static_cast<int>(len) : -1;
        expectText = full.substr(0, len <= count ? len : count);
    } else {
        expectCode = len < destMax ? static_cast<int>(len) : -1;
        expectText = len < destMax ? full.substr(0, len) : "";
    }
    EXPECT_EQ(code, expectCode);
    EXPECT_EQ(std::string(buf.data(), strnlen(buf.data(), destMax)), expectText);
    ASSERT_LT(expectText.size(), destMax);
    EXPECT_EQ(buf[expectText.size()], '\0') << "terminated inside the destination";
    for (size_t i = destMax; i < buf.size(); ++i) {
        ASSERT_EQ(buf[i], kGuard) << "byte " << i << " past destMax written";
    }
}

// vsnprintf_s over every combination of destination size, count and output length.
TEST(SecFormatCall, SnprintfTruncationMatrix) {
    const std::string source = "0123456789ABCDEFGHIJ";
    for (size_t destMax : {1u, 2u, 5u, 9u, 10u, 11u, 16u}) {
        for (size_t count : {0u, 1u, 4u, 5u, 6u, 9u, 10u, 11u, 15u, 0x7FFFFFFEu}) {
            for (size_t len : {0u, 1u, 4u, 5u, 6u, 7u, 9u, 10u, 11u, 16u}) {
                SCOPED_TRACE("destMax " + std::to_string(destMax) + " count " +
                             std::to_string(count) + " output " + std::to_string(len));
                std::vector<char> buf(destMax + kGuardSpace, kGuard);
                const int code = SnprintfS(buf.data(), destMax, count, "%.*s",
                                           static_cast<int>(len), source.c_str());
                ExpectCut(source.substr(0, len), destMax, count, code, buf);
            }
        }
    }
}

// The same cuts where the output is literal text of the format: runs of plain bytes,
// escaped percent signs and conversions between runs, cut at every place, and a run
// followed by an invalid directive (a format error unless the run already filled the
// stream).
TEST(SecFormatCall, SnprintfTruncationMatrixOnLiteralText) {
    const char* const formats[] = {"0123456789ABCDEFGHIJ", "0123%%56789A%%CDEF", "01%d34567%s9ABCDEFG",
                                   "%%%%%%%%%%%%", "%dABCDEFGHIJKLMNOP", "x", ""};
    for (const char* format : formats) {
        char full[64];
        ASSERT_LT(snprintf(full, sizeof(full), format, 2, "8"), static_cast<int>(sizeof(full)));
        for (size_t destMax : {1u, 2u, 5u, 9u, 10u, 11u, 16u, 17u, 18u, 19u, 20u, 21u, 40u}) {
            for (size_t count : {0u, 1u, 2u, 4u, 5u, 9u, 10u, 15u, 16u, 17u, 19u, 20u, 0x7FFFFFFEu}) {
                SCOPED_TRACE(std::string("format \"") + format + "\" destMax " +
                             std::to_string(destMax) + " count " + std::to_string(count));
                std::vector<char> buf(destMax + kGuardSpace, kGuard);
                const int code = SnprintfS(buf.data(), destMax, count, format, 2, "8");
                ExpectCut(full, destMax, count, code, buf);
            }
        }
    }
    char buf[16];
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 3, "abcdef%y"), -1);
    EXPECT_STREQ(buf, "abc") << "the run filled the stream before the bad directive";
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 6, "abcdef%y"), -1);
    EXPECT_STREQ(buf, "") << "the run fitted: the bad directive is a format error";
}

TEST(SecFormatCall, SprintfTruncationMatrix) {
    const std::string source = "0123456789ABCDEFGHIJ";
    for (size_t destMax : {1u, 2u, 9u, 10u, 11u}) {
        for (size_t len : {0u, 1u, 8u, 9u, 10u, 11u, 16u}) {
            SCOPED_TRACE("destMax " + std::to_string(destMax) + " output " + std::to_string(len));
            std::vector<char> buf(destMax + kGuardSpace, kGuard);
            const int code =
                SprintfS(buf.data(), destMax, "%.*s", static_cast<int>(len), source.c_str());
            if (len < destMax) {
                EXPECT_EQ(code, static_cast<int>(len));
                EXPECT_EQ(std::string(buf.data()), source.substr(0, len));
            } else {
                // No room for the terminator: output that does not fit is never kept.
                EXPECT_EQ(code, -1);
                EXPECT_EQ(buf[0], '\0');
            }
            for (size_t i = destMax; i < buf.size(); ++i) {
                ASSERT_EQ(buf[i], kGuard) << "byte " << i << " past destMax written";
            }
        }
    }
}

TEST(SecFormatCall, NamedTruncationCases) {
    char buf[10];
    // count cuts: the first 5 characters stay.
    EXPECT_EQ(SnprintfS(buf, 10, 5, "%s", "abcdefg"), -1);
    EXPECT_STREQ(buf, "abcde");
    // One character over count is cut the same way as seven (the terminator counts as
    // output, so an exact fill of count + 1 bytes is a truncation like any other).
    EXPECT_EQ(SnprintfS(buf, 10, 5, "%s", "abcdef"), -1);
    EXPECT_STREQ(buf, "abcde");
    // destMax cuts: empty.
    EXPECT_EQ(SnprintfS(buf, 10, 10, "%s", "abcdefghij"), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(SnprintfS(buf, 10, 10, "%s", "abcdefghi"), 9);
    EXPECT_STREQ(buf, "abcdefghi");
    EXPECT_EQ(SnprintfS(buf, 10, 9, "%s", "abcdefghi"), 9);
    EXPECT_STREQ(buf, "abcdefghi");
    EXPECT_EQ(SprintfS(buf, 10, "%s", "abcdefghij"), -1);
    EXPECT_STREQ(buf, "");
    // A truncated conversion followed by a bad directive still keeps the text: the
    // engine stops at the first character after the stream is full.
    EXPECT_EQ(SnprintfS(buf, 10, 3, "%s%y", "abcdef"), -1);
    EXPECT_STREQ(buf, "abc");
    // A format error is never kept, even when count would cut.
    EXPECT_EQ(SnprintfS(buf, 10, 3, "ab%y"), -1);
    EXPECT_STREQ(buf, "");
}

TEST_F(SecFormatWide, WideFailureIsNotATruncation) {
    char buf[16];
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(SnprintfS(buf, sizeof(buf), 5, "xy%ls", bad), -1);
    EXPECT_STREQ(buf, "");
}

}  // namespace
