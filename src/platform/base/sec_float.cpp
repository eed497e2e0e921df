// Floating-point texts of the bounded library. The digits come from our own generator,
// not from the C library's number formatting: it splits the value with modf, corrects
// each integer digit by 0.03 against the error of the division by ten, and rounds by
// adding 5 at the first digit it drops, so halves always go up. Callers see exactly
// these digits, whatever the C library would print.

#include "sec_float.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "sec_lib.h"

namespace {

// Appends to a bounded text; once a byte did not fit, the text is marked as too long
// and nothing more is written.
struct TextWriter {
    char* text;
    size_t size;
    size_t len;
    bool overflow;

    void Put(char c) {
        if (len < size) {
            text[len++] = c;
        } else {
            overflow = true;
        }
    }
    void Repeat(char c, int32_t n) {
        for (int32_t i = 0; i < n && !overflow; ++i) {
            Put(c);
        }
    }
    // Terminates the text, or leaves an empty text when it (or its terminator) did not
    // fit: a cut number would be a wrong number.
    void Finish() {
        if (!overflow && len < size) {
            text[len] = '\0';
        } else {
            (void)memset_s(text, size, 0, size);
        }
    }
};

template <typename T>
char* GenerateDigits(int32_t digits, int32_t* decExp, int32_t* sign, char* buf, int32_t bufSize,
                     bool fixed, T value) {
    const int32_t maxDigits = bufSize - 2;
    int32_t n = digits < 0 ? 0 : (digits > maxDigits ? maxDigits : digits);
    int32_t d = 0;
    *sign = 0;
    *decExp = 0;
    buf[0] = '\0';
    if (!std::isfinite(value)) {
        // No digits to give: the integer loop would only fill the buffer. The caller
        // writes infinities and NaNs by name.
        return buf;
    }
    if (value < 0) {
        *sign = 1;
        value = -value;
    }

    T intPart;
    T frac = std::modf(value, &intPart);
    int32_t pos = 0;
    if (intPart != 0) {
        // Integer digits, last to first from the end of the buffer.
        int32_t back = bufSize;
        while (back > 0 && intPart != 0) {
            const T q = std::modf(intPart / 10, &intPart);
            buf[--back] = static_cast<char>(static_cast<int>((q + static_cast<T>(0.03L)) * 10) + '0');
            ++d;
        }
        while (back < bufSize) {
            buf[pos++] = buf[back++];
        }
    } else if (frac > 0) {
        // Skip the zeros right after the point: D counts them negatively.
        T next;
        while ((next = frac * 10) < 1) {
            frac = next;
            --d;
        }
    }

    const int32_t last = fixed ? n + d : n;
    if (last < 0) {
        // Nothing survives at this precision.
        *decExp = d;
        buf[0] = '\0';
        return buf;
    }
    while (pos <= last && pos < bufSize) {
        frac *= 10;
        T digit;
        frac = std::modf(frac, &digit);
        buf[pos++] = static_cast<char>(static_cast<int>(digit) + '0');
    }
    if (last >= bufSize) {
        // More digits asked than the buffer holds: give what it holds, unrounded.
        buf[bufSize - 1] = '\0';
        *decExp = d;
        return buf;
    }

    // Round at the first dropped digit.
    pos = last;
    int32_t i = last;
    buf[i] = static_cast<char>(buf[i] + 5);
    while (buf[i] > '9') {
        buf[i] = '0';
        if (i > 0) {
            --i;
            ++buf[i];
        } else {
            // 99..9 became 100..0: one more integer digit.
            buf[i] = '1';
            ++d;
            if (fixed && pos < bufSize - 1) {
                // The fixed text keeps its places after the point, so it grows by one.
                if (pos > 0) {
                    buf[pos] = '0';
                }
                ++pos;
            }
        }
    }
    buf[pos] = '\0';
    *decExp = d;
    return buf;
}

// Exponent style: d.ddd followed by e, the sign and at least two exponent digits.
void WriteExp(TextWriter* w, const char* digits, int32_t decExp, bool negative, bool isZero,
              int32_t precision, bool capital) {
    if (negative) {
        w->Put('-');
    }
    const size_t have = strlen(digits);
    w->Put(have > 0 ? digits[0] : '0');
    if (precision > 0) {
        w->Put('.');
    }
    // The generator yields a limited number of digits; past them the text goes on in
    // zeros rather than reading beyond the digits.
    for (int32_t i = 1; i <= precision && !w->overflow; ++i) {
        w->Put(static_cast<size_t>(i) < have ? digits[i] : '0');
    }
    int32_t exponent = isZero ? 0 : decExp - 1;
    w->Put(capital ? 'E' : 'e');
    w->Put(exponent < 0 ? '-' : '+');
    if (exponent < 0) {
        exponent = -exponent;
    }
    char expDigits[12];
    int32_t n = 0;
    do {
        expDigits[n++] = static_cast<char>('0' + exponent % 10);
        exponent /= 10;
    } while (exponent != 0);
    if (n < 2) {
        expDigits[n++] = '0';
    }
    while (n > 0) {
        w->Put(expDigits[--n]);
    }
}

// Fixed style: the integer digits, the point and precision digits after it. Where the
// generator's buffer ran out before the last place, the places left are zeros: the text
// always has the precision it was asked for.
void WriteFixed(TextWriter* w, const char* digits, int32_t decExp, bool negative,
                int32_t precision) {
    if (negative) {
        w->Put('-');
    }
    const int32_t have = static_cast<int32_t>(strlen(digits));
    if (have == 0) {
        w->Put('0');
        if (precision > 0) {
            w->Put('.');
            w->Repeat('0', precision);
        }
        return;
    }
    int32_t places = 0;
    if (decExp <= 0) {
        w->Put('0');
        w->Put('.');
        w->Repeat('0', -decExp);
        for (int32_t i = 0; i < have && !w->overflow; ++i) {
            w->Put(digits[i]);
        }
        places = have - decExp;
    } else {
        const int32_t intDigits = have < decExp ? have : decExp;
        for (int32_t i = 0; i < intDigits && !w->overflow; ++i) {
            w->Put(digits[i]);
        }
        w->Repeat('0', decExp - intDigits);
        if (precision > 0) {
            w->Put('.');
        }
        for (int32_t i = intDigits; i < have && !w->overflow; ++i) {
            w->Put(digits[i]);
        }
        places = have - intDigits;
    }
    if (precision > 0) {
        w->Repeat('0', precision - places);
    }
}

// General style drops the trailing zeros of the fraction, and the point with them when
// no fraction digit is left; an exponent part moves up behind what remains.
void TrimFraction(TextWriter* w) {
    if (w->overflow) {
        return;
    }
    char* text = w->text;
    size_t dot = 0;
    while (dot < w->len && text[dot] != '.') {
        ++dot;
    }
    if (dot == w->len) {
        return;
    }
    size_t fracEnd = dot + 1;
    while (fracEnd < w->len && text[fracEnd] != 'e' && text[fracEnd] != 'E') {
        ++fracEnd;
    }
    size_t keep = fracEnd;
    while (keep > dot + 1 && text[keep - 1] == '0') {
        --keep;
    }
    if (keep == dot + 1) {
        keep = dot;
    }
    memmove(text + keep, text + fracEnd, w->len - fracEnd);
    w->len -= fracEnd - keep;
}

void WriteNonFinite(TextWriter* w, bool isNan, bool negative, bool capital) {
    // NaN carries no sign worth showing; an infinity does.
    if (!isNan && negative) {
        w->Put('-');
    }
    const char* name = isNan ? (capital ? "NAN" : "nan") : (capital ? "INF" : "inf");
    for (const char* p = name; *p != '\0'; ++p) {
        w->Put(*p);
    }
}

}  // namespace

char* format_float_digits(int32_t digits, int32_t* decExp, int32_t* sign, char* digitBuf,
                          FormatFloatStyle style, bool isLongDouble, double dValue,
                          long double ldValue) {
    const bool fixed = style == FORMAT_FLOAT_STYLE_FIXED;
    if (isLongDouble) {
        return GenerateDigits<long double>(digits, decExp, sign, digitBuf,
                                           kFloatDigitBufLongDouble, fixed, ldValue);
    }
    return GenerateDigits<double>(digits, decExp, sign, digitBuf, kFloatDigitBufDouble, fixed,
                                  dValue);
}

char* format_float_exp(int32_t digits, int32_t* decExp, int32_t* sign, char* digitBuf,
                       bool isLongDouble, double dValue, long double ldValue) {
    return format_float_digits(digits, decExp, sign, digitBuf, FORMAT_FLOAT_STYLE_EXP,
                               isLongDouble, dValue, ldValue);
}

char* format_float_fixed(int32_t digits, int32_t* decExp, int32_t* sign, char* digitBuf,
                         bool isLongDouble, double dValue, long double ldValue) {
    return format_float_digits(digits, decExp, sign, digitBuf, FORMAT_FLOAT_STYLE_FIXED,
                               isLongDouble, dValue, ldValue);
}

void format_float_convert(char* text, size_t textSize, char conv, int32_t precision, bool capital,
                          bool isLongDouble, double dValue, long double ldValue) {
    if (text == nullptr || textSize == 0) {
        return;
    }
    TextWriter w{text, textSize, 0, false};
    const bool isNan = isLongDouble ? std::isnan(ldValue) : std::isnan(dValue);
    const bool isInf = isLongDouble ? std::isinf(ldValue) : std::isinf(dValue);
    if (isNan || isInf) {
        WriteNonFinite(&w, isNan, isLongDouble ? std::signbit(ldValue) : std::signbit(dValue),
                       capital);
        w.Finish();
        return;
    }

    const size_t bufSize = isLongDouble ? kFloatDigitBufLongDouble : kFloatDigitBufDouble;
    char* digitBuf = static_cast<char*>(malloc(bufSize));
    if (digitBuf == nullptr) {
        text[0] = '\0';
        return;
    }
    const bool isZero = isLongDouble ? ldValue == 0 : dValue == 0;
    int32_t decExp = 0;
    int32_t sign = 0;

    if (conv == 'g') {
        // The power of ten of the first digit, after rounding to `precision` digits,
        // picks the style.
        (void)format_float_exp(precision, &decExp, &sign, digitBuf, isLongDouble, dValue,
                               ldValue);
        const int32_t x = decExp - 1;
        if (x < -4 || x > precision - 1) {
            // Exponent style with precision - 1 wants exactly the digits just made.
            WriteExp(&w, digitBuf, decExp, sign != 0, isZero, precision - 1, capital);
        } else {
            (void)format_float_fixed(precision - 1 - x, &decExp, &sign, digitBuf, isLongDouble,
                                     dValue, ldValue);
            WriteFixed(&w, digitBuf, decExp, sign != 0, precision - 1 - x);
        }
        TrimFraction(&w);
    } else if (conv == 'e') {
        (void)format_float_exp(precision + 1, &decExp, &sign, digitBuf, isLongDouble, dValue,
                               ldValue);
        WriteExp(&w, digitBuf, decExp, sign != 0, isZero, precision, capital);
    } else {
        (void)format_float_fixed(precision, &decExp, &sign, digitBuf, isLongDouble, dValue,
                                 ldValue);
        WriteFixed(&w, digitBuf, decExp, sign != 0, precision);
    }
    w.Finish();
    free(digitBuf);
}
