#pragma once
// The bounded library's own floating-point texts (e, f and g styles) and the decimal
// digit generator behind them. Internal to the library: the formatted-output engine is
// their only caller.

#include <cstddef>
#include <cstdint>

// Digit buffers: the generator's work space for one conversion.
constexpr int32_t kFloatDigitBufDouble = 349;
constexpr int32_t kFloatDigitBufLongDouble = 4972;
// The most digits the generator is asked for (two bytes of the buffer stay spare: one
// for the rounding digit, one for the terminator).
constexpr int32_t kFloatMaxDigitsDouble = kFloatDigitBufDouble - 2;
constexpr int32_t kFloatMaxDigitsLongDouble = kFloatDigitBufLongDouble - 2;

enum FormatFloatStyle : uint8_t {
    FORMAT_FLOAT_STYLE_EXP,    // a fixed number of significant digits
    FORMAT_FLOAT_STYLE_FIXED,  // a fixed number of digits after the decimal point
};

// Writes the text of one floating-point conversion into text (textSize bytes), always
// terminated; an empty text when the digit buffer cannot be had or the text does not
// fit. conv is 'e', 'f' or 'g'; capital makes the exponent letter 'E' (and the texts of
// infinity and NaN upper case). With isLongDouble the value is ldValue, else dValue.
void format_float_convert(char* text, size_t textSize, char conv, int32_t precision, bool capital,
                          bool isLongDouble, double dValue, long double ldValue);

// Generates the decimal digits of the value into digitBuf (kFloatDigitBufDouble or
// kFloatDigitBufLongDouble bytes, by isLongDouble) and returns digitBuf. In exponent
// style `digits` significant digits, in fixed style the digits up to `digits` places
// after the point; the last digit is rounded by adding 5 at the first digit dropped.
// *decExp receives D, where the value is 0.d1d2... x 10^D; *sign 1 for a negative value.
char* format_float_digits(int32_t digits, int32_t* decExp, int32_t* sign, char* digitBuf,
                          FormatFloatStyle style, bool isLongDouble, double dValue,
                          long double ldValue);

char* format_float_exp(int32_t digits, int32_t* decExp, int32_t* sign, char* digitBuf,
                       bool isLongDouble, double dValue, long double ldValue);
char* format_float_fixed(int32_t digits, int32_t* decExp, int32_t* sign, char* digitBuf,
                         bool isLongDouble, double dValue, long double ldValue);
