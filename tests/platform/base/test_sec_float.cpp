// The floating-point digit generator and text builder, below the formatter: the digits
// it yields, its decimal exponent and sign, its limits, and the text buffer rules.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "sec_float.h"

namespace {

struct Digits {
    std::string text;
    int32_t decExp;
    int32_t sign;
};

Digits Generate(FormatFloatStyle style, int32_t n, double value) {
    std::vector<char> buf(kFloatDigitBufDouble, '~');
    Digits d{"", -99, -99};
    const char* text = format_float_digits(n, &d.decExp, &d.sign, buf.data(), style, false, value, 0);
    EXPECT_EQ(text, buf.data());
    d.text = text;
    return d;
}

Digits GenerateLong(FormatFloatStyle style, int32_t n, long double value) {
    std::vector<char> buf(kFloatDigitBufLongDouble, '~');
    Digits d{"", -99, -99};
    d.text = format_float_digits(n, &d.decExp, &d.sign, buf.data(), style, true, 0, value);
    return d;
}

struct DigitCase {
    const char* name;
    FormatFloatStyle style;
    int32_t n;
    double value;
    const char* digits;
    int32_t decExp;
    int32_t sign;
};

// A case prints as its name, in test names and failure messages alike.
void PrintTo(const DigitCase& c, std::ostream* os) { *os << c.name; }

class DigitTable : public ::testing::TestWithParam<DigitCase> {};

TEST_P(DigitTable, DigitsExponentAndSign) {
    const DigitCase& c = GetParam();
    const Digits d = Generate(c.style, c.n, c.value);
    EXPECT_EQ(d.text, c.digits);
    EXPECT_EQ(d.decExp, c.decExp);
    EXPECT_EQ(d.sign, c.sign);
}

constexpr FormatFloatStyle kExp = FORMAT_FLOAT_STYLE_EXP;
constexpr FormatFloatStyle kFixed = FORMAT_FLOAT_STYLE_FIXED;

INSTANTIATE_TEST_SUITE_P(
    Cases, DigitTable,
    ::testing::Values(
        DigitCase{"exp_rounds_half_up", kExp, 5, 123.456, "12346", 3, 0},
        DigitCase{"exp_integer_digits", kExp, 9, 123456789.0, "123456789", 9, 0},
        DigitCase{"exp_negative_fraction", kExp, 2, -0.0125, "13", -1, 1},
        DigitCase{"exp_zero", kExp, 3, 0.0, "000", 0, 0},
        DigitCase{"exp_carry_keeps_length", kExp, 2, 9.96, "10", 2, 0},
        DigitCase{"exp_negative_count_is_0", kExp, -5, 7.0, "", 2, 0},  // 7 rounds up to 10
        DigitCase{"fixed_places_after_point", kFixed, 2, 3.14159, "314", 1, 0},
        DigitCase{"fixed_carry_adds_a_digit", kFixed, 1, 9.96, "100", 2, 0},
        DigitCase{"fixed_carry_from_first_place", kFixed, 1, 0.05, "1", 0, 0},
        DigitCase{"fixed_nothing_survives", kFixed, 1, 0.001, "", -2, 0},
        DigitCase{"fixed_drops_below_half", kFixed, 0, 0.3, "", 0, 0},
        DigitCase{"fixed_negative", kFixed, 1, -2.25, "23", 1, 1},
        DigitCase{"fixed_large_integer", kFixed, 0, 1e20, "100000000000000000000", 21, 0},
        DigitCase{"infinity_has_no_digits", kFixed, 3, HUGE_VAL, "", 0, 0},
        DigitCase{"nan_has_no_digits", kExp, 3, NAN, "", 0, 0}),
    [](const ::testing::TestParamInfo<DigitCase>& info) { return std::string(info.param.name); });

TEST(SecFloatDigits, CountIsCappedByTheBuffer) {
    // Exponent style: at most 347 digits for a double, 4970 for a long double.
    EXPECT_EQ(Generate(kExp, 1000, 1.0 / 3).text.size(), 347u);
    EXPECT_EQ(GenerateLong(kExp, 6000, 1.0L / 3).text.size(), 4970u);
    // Fixed style whose last place lies past the buffer: what fits, unrounded.
    const Digits d = Generate(kFixed, 340, 1e20);
    EXPECT_EQ(d.text.size(), static_cast<size_t>(kFloatDigitBufDouble - 1));
    EXPECT_EQ(d.decExp, 21);
    EXPECT_EQ(d.text.substr(0, 21), "100000000000000000000");
}

TEST(SecFloatDigits, LongDoubleGoesBeyondDoubleRange) {
    const Digits big = GenerateLong(kExp, 3, 2.5e4000L);
    EXPECT_EQ(big.text, "250");
    EXPECT_EQ(big.decExp, 4001);
    const Digits small = GenerateLong(kExp, 2, -1.5e-4000L);
    EXPECT_EQ(small.text, "15");
    EXPECT_EQ(small.decExp, -3999);
    EXPECT_EQ(small.sign, 1);
}

std::string Convert(size_t size, char conv, int32_t precision, bool capital, double value) {
    std::vector<char> text(size + 8, '~');
    format_float_convert(text.data(), size, conv, precision, capital, false, value, 0);
    for (size_t i = size; i < text.size(); ++i) {
        EXPECT_EQ(text[i], '~') << "byte " << i << " past the text buffer written";
    }
    if (strnlen(text.data(), size) == size) {
        ADD_FAILURE() << "text not terminated";
        return "";
    }
    return std::string(text.data());
}

TEST(SecFloatConvert, StylesAndExactFit) {
    EXPECT_EQ(Convert(64, 'f', 6, false, 3.14159), "3.141590");
    EXPECT_EQ(Convert(64, 'e', 2, true, 12345.678), "1.23E+04");
    EXPECT_EQ(Convert(64, 'g', 6, false, 1.5e10), "1.5e+10");
    EXPECT_EQ(Convert(64, 'g', 6, false, 0.5), "0.5");
    EXPECT_EQ(Convert(64, 'g', 3, false, 100.0), "100");
    EXPECT_EQ(Convert(64, 'f', 0, false, -7.0), "-7");
    EXPECT_EQ(Convert(64, 'f', 3, false, -HUGE_VAL), "-inf");
    EXPECT_EQ(Convert(64, 'g', 3, true, NAN), "NAN");
    // The text and its terminator in exactly the buffer's size; one byte less leaves
    // the whole buffer zeroed, not a cut number.
    EXPECT_EQ(Convert(9, 'f', 6, false, 3.14159), "3.141590");
    std::vector<char> small(8, '~');
    format_float_convert(small.data(), small.size(), 'f', 6, false, false, 3.14159, 0);
    EXPECT_EQ(std::string(small.begin(), small.end()), std::string(8, '\0'));
    std::vector<char> name(4, '~');
    format_float_convert(name.data(), name.size(), 'f', 6, false, false, -HUGE_VAL, 0);
    EXPECT_EQ(std::string(name.begin(), name.end()), std::string(4, '\0'));
}

}  // namespace
