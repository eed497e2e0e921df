// Differential test of the bounded formatter against the C library's snprintf, over the
// conversions where the two agree by design: flags, width and precision (digits and
// "*") over d i u o x X c s, with the integer length modifiers and wide c and s. Every
// generated format runs through both; the texts and the results must match, including
// where the caller's count cuts the text short.
//
// Left out because the two differ by design: %p, %n, floating point, NULL strings (the
// C library prints nothing for "%.3s" of NULL), precisions above 512 and non-ASCII wide
// characters (the C library counts their bytes, we count characters).

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sec_lib.h"

namespace {

constexpr int kFormats = 100000;
constexpr size_t kBufSize = 1024;
constexpr size_t kMaxArgs = 3;

enum class Kind { Int, UInt, LongLong, ULongLong, Str, WStr };

struct Arg {
    Kind kind;
    long long value;
    const char* str;
    const wchar_t* wstr;
};

struct Case {
    std::string format;
    std::vector<Arg> args;
    int mode;         // 0 roomy destination, 1 count cuts, 2 vsprintf_s at the exact size
    uint64_t choice;  // picks the count or the size once the reference length is known
};

struct Outcome {
    int glibcLen = 0;
    std::string glibcText;
    int ourCode = 0;
    std::string ourText;
    int expectCode = 0;
    std::string expectText;
};

int OurSnprintf(char* dest, size_t destMax, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int code = vsnprintf_s(dest, destMax, count, format, args);
    va_end(args);
    return code;
}

int OurSprintf(char* dest, size_t destMax, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int code = vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return code;
}

// The three formatters over one case's arguments. Only these calls depend on the
// arguments' C types (one set per combination of types), the comparison around them is
// written once.
struct Formatters {
    const void* values;  // the arguments, a std::tuple of their C types
    int (*reference)(const void* values, const char* format, char* dest, size_t size);
    int (*bounded)(const void* values, const char* format, char* dest, size_t destMax, size_t count);
    int (*exact)(const void* values, const char* format, char* dest, size_t destMax);
};

template <typename... Ts>
struct TypedFormatters {
    using Values = std::tuple<Ts...>;
    template <size_t... I>
    static int Ref(const Values& v, const char* format, char* dest, size_t size, std::index_sequence<I...>) {
        return snprintf(dest, size, format, std::get<I>(v)...);
    }
    template <size_t... I>
    static int Bnd(const Values& v, const char* format, char* dest, size_t destMax, size_t count,
                   std::index_sequence<I...>) {
        return OurSnprintf(dest, destMax, count, format, std::get<I>(v)...);
    }
    template <size_t... I>
    static int Ext(const Values& v, const char* format, char* dest, size_t destMax, std::index_sequence<I...>) {
        return OurSprintf(dest, destMax, format, std::get<I>(v)...);
    }
    static int Reference(const void* values, const char* format, char* dest, size_t size) {
        return Ref(*static_cast<const Values*>(values), format, dest, size, std::index_sequence_for<Ts...>());
    }
    static int Bounded(const void* values, const char* format, char* dest, size_t destMax, size_t count) {
        return Bnd(*static_cast<const Values*>(values), format, dest, destMax, count,
                   std::index_sequence_for<Ts...>());
    }
    static int Exact(const void* values, const char* format, char* dest, size_t destMax) {
        return Ext(*static_cast<const Values*>(values), format, dest, destMax, std::index_sequence_for<Ts...>());
    }
};

void Compare(const Case& c, Outcome* out, const Formatters& f) {
    const char* format = c.format.c_str();
    char reference[kBufSize];
    const int n = f.reference(f.values, format, reference, sizeof(reference));
    ASSERT_GE(n, 0);
    ASSERT_LT(static_cast<size_t>(n), sizeof(reference));
    out->glibcLen = n;
    out->glibcText.assign(reference, static_cast<size_t>(n));

    char ours[kBufSize];
    memset(ours, '~', sizeof(ours));
    if (c.mode == 0) {
        out->ourCode = f.bounded(f.values, format, ours, sizeof(ours), sizeof(ours) - 1);
        out->expectCode = n;
        out->expectText = out->glibcText;
    } else if (c.mode == 1) {
        const size_t count = c.choice % static_cast<size_t>(n + 2);
        out->ourCode = f.bounded(f.values, format, ours, sizeof(ours), count);
        const bool fits = count >= static_cast<size_t>(n);
        out->expectCode = fits ? n : -1;
        out->expectText = out->glibcText.substr(0, fits ? static_cast<size_t>(n) : count);
    } else {
        // Exactly room for the text and its terminator, or one byte less.
        size_t destMax = static_cast<size_t>(n) + ((c.choice & 1) ? 1 : 0);
        if (destMax == 0) {
            destMax = 1;
        }
        out->ourCode = f.exact(f.values, format, ours, destMax);
        const bool fits = destMax > static_cast<size_t>(n);
        out->expectCode = fits ? n : -1;
        out->expectText = fits ? out->glibcText : "";
    }
    // Compared over the expected length, since a NUL written by %c stays inside the
    // text; the byte after it must be the terminator.
    const size_t textLen = out->expectText.size();
    out->ourText.assign(ours, textLen);
    EXPECT_EQ(ours[textLen], '\0') << "not terminated where expected";
}

template <typename... Ts>
void RunBoth(const Case& c, Outcome* out, Ts... values) {
    const std::tuple<Ts...> typed(values...);
    Compare(c, out, Formatters{&typed, &TypedFormatters<Ts...>::Reference,
                               &TypedFormatters<Ts...>::Bounded, &TypedFormatters<Ts...>::Exact});
}

// Calls RunBoth with the case's arguments in their own C types.
template <typename... Ts>
void Dispatch(const Case& c, size_t i, Outcome* out, Ts... values) {
    if (i == c.args.size()) {
        if constexpr (sizeof...(Ts) > 0) {
            RunBoth(c, out, values...);
        }
        return;
    }
    if constexpr (sizeof...(Ts) < kMaxArgs) {
        const Arg& a = c.args[i];
        switch (a.kind) {
            case Kind::Int:
                Dispatch(c, i + 1, out, values..., static_cast<int>(a.value));
                break;
            case Kind::UInt:
                Dispatch(c, i + 1, out, values..., static_cast<unsigned int>(a.value));
                break;
            case Kind::LongLong:
                Dispatch(c, i + 1, out, values..., a.value);
                break;
            case Kind::ULongLong:
                Dispatch(c, i + 1, out, values..., static_cast<unsigned long long>(a.value));
                break;
            case Kind::Str:
                Dispatch(c, i + 1, out, values..., a.str);
                break;
            case Kind::WStr:
                Dispatch(c, i + 1, out, values..., a.wstr);
                break;
        }
    }
}

class Generator {
public:
    explicit Generator(uint64_t seed) : rng_(seed) {}

    Case Next() {
        Case c;
        c.mode = static_cast<int>(Pick(3));
        c.choice = rng_();
        const int conversions = 1 + static_cast<int>(Pick(3));
        for (int k = 0; k < conversions; ++k) {
            c.format += Literal();
            if (!AddConversion(&c)) {
                break;
            }
        }
        c.format += Literal();
        return c;
    }

private:
    uint64_t Pick(uint64_t n) { return rng_() % n; }
    bool Chance(int percent) { return Pick(100) < static_cast<uint64_t>(percent); }

    std::string Literal() {
        static const char* const kLiterals[] = {"", "", "", "x", "[", "] ", "%%", "a b", "\t",
                                                "{%%}", "0", "-"};
        return kLiterals[Pick(sizeof(kLiterals) / sizeof(kLiterals[0]))];
    }

    long long IntValue() {
        static const long long kValues[] = {0, 1, -1, 7, -7, 42, 255, 256, 300, -129, 65535,
                                            70000, -70000, INT32_MAX, INT32_MIN, 1000000000};
        if (Chance(50)) {
            return kValues[Pick(sizeof(kValues) / sizeof(kValues[0]))];
        }
        return static_cast<int32_t>(rng_());
    }

    long long WideValue() {
        static const long long kValues[] = {0, 1, -1, INT64_MAX, INT64_MIN, 1LL << 40,
                                            -(1LL << 33), 4294967296LL, 0x7FFFFFFFLL,
                                            static_cast<long long>(0xFFFFFFFFFFFFFFFFULL)};
        if (Chance(50)) {
            return kValues[Pick(sizeof(kValues) / sizeof(kValues[0]))];
        }
        return static_cast<long long>(rng_() >> Pick(64));
    }

    // Appends one conversion and its arguments; false when the argument budget is spent.
    bool AddConversion(Case* c) {
        std::string dir = "%";
        std::vector<Arg> args;
        while (Chance(30)) {
            dir += " #+-0"[Pick(5)];
        }
        if (Chance(15)) {
            dir += '*';
            args.push_back(Arg{Kind::Int, static_cast<long long>(Pick(61)) - 30, nullptr, nullptr});
        } else if (Chance(40)) {
            dir += std::to_string(1 + Pick(30));
        }
        if (Chance(15)) {
            dir += ".*";
            args.push_back(Arg{Kind::Int, static_cast<long long>(Pick(41)) - 6, nullptr, nullptr});
        } else if (Chance(40)) {
            dir += "." + (Chance(20) ? std::string() : std::to_string(Pick(31)));
        }

        static const char kTypes[] = "diuoxXcs";
        const char type = kTypes[Pick(sizeof(kTypes) - 1)];
        Arg value{Kind::Int, 0, nullptr, nullptr};
        if (type == 'c' || type == 's') {
            const bool wide = Chance(25);
            if (wide) {
                dir += 'l';
            }
            if (type == 'c') {
                value.kind = wide ? Kind::UInt : Kind::Int;
                value.value = wide ? static_cast<long long>(Pick(128))
                                   : static_cast<long long>(Pick(256)) - 128;
            } else if (wide) {
                static const wchar_t* const kWide[] = {L"", L"w", L"wide", L"wide text here",
                                                       L"0123456789abcdefghijklmnopqrstuvwxyz"};
                value.kind = Kind::WStr;
                value.wstr = kWide[Pick(sizeof(kWide) / sizeof(kWide[0]))];
            } else {
                static const char* const kNarrow[] = {"", "a", "abc", "hello world", "%d%s",
                                                      "0123456789abcdefghijklmnopqrstuvwxyz",
                                                      "\xe4\xb8\xad\xe6\x96\x87"};
                value.kind = Kind::Str;
                value.str = kNarrow[Pick(sizeof(kNarrow) / sizeof(kNarrow[0]))];
            }
        } else {
            static const char* const kModifiers[] = {"", "", "", "hh", "h", "l", "ll", "j", "z",
                                                     "t"};
            const std::string modifier = kModifiers[Pick(sizeof(kModifiers) / sizeof(kModifiers[0]))];
            dir += modifier;
            const bool isSigned = (type == 'd' || type == 'i');
            if (modifier.empty() || modifier[0] == 'h') {
                value.kind = isSigned ? Kind::Int : Kind::UInt;
                value.value = IntValue();
            } else {
                value.kind = isSigned ? Kind::LongLong : Kind::ULongLong;
                value.value = WideValue();
            }
        }
        dir += type;
        args.push_back(value);
        if (c->args.size() + args.size() > kMaxArgs) {
            return false;
        }
        c->format += dir;
        c->args.insert(c->args.end(), args.begin(), args.end());
        return true;
    }

    std::mt19937_64 rng_;
};

std::string Describe(const Case& c) {
    std::ostringstream s;
    s << "format \"" << c.format << "\" mode " << c.mode << " args:";
    for (const Arg& a : c.args) {
        switch (a.kind) {
            case Kind::Str:
                s << " \"" << a.str << "\"";
                break;
            case Kind::WStr:
                s << " L(wide)";
                break;
            default:
                s << " " << a.value;
                break;
        }
    }
    return s.str();
}

TEST(SecFormatAgainstGlibc, GeneratedFormatsAgree) {
    Generator gen(0x5EC0F0A7ULL);
    int disagreements = 0;
    int compared = 0;
    for (int i = 0; i < kFormats && disagreements < 20; ++i) {
        const Case c = gen.Next();
        if (c.args.empty()) {
            continue;
        }
        Outcome out;
        Dispatch(c, 0, &out);
        if (::testing::Test::HasFatalFailure()) {
            FAIL() << Describe(c);
        }
        ++compared;
        if (out.ourCode != out.expectCode || out.ourText != out.expectText) {
            ++disagreements;
            ADD_FAILURE() << Describe(c) << "\n  glibc: " << out.glibcLen << " \""
                          << out.glibcText << "\"\n  expected: " << out.expectCode << " \""
                          << out.expectText << "\"\n  ours: " << out.ourCode << " \""
                          << out.ourText << "\"";
        }
    }
    EXPECT_EQ(disagreements, 0);
    EXPECT_GE(compared, kFormats * 99 / 100) << "too few formats compared";
    RecordProperty("formats_compared", compared);
}

}  // namespace
