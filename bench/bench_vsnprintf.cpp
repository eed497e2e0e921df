// vsnprintf_s against the C library's vsnprintf on two log-style lines: a typical
// service-link line and a floating-point line. Prints ns per call for both and the
// ratio (ours / C library).

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sec_lib.h"

namespace {

constexpr int kCalls = 1000000;

// Keeps the optimiser from dropping the calls.
volatile int g_sink = 0;

int Ours(char* buf, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vsnprintf_s(buf, size, size - 1, format, args);
    va_end(args);
    return n;
}

int Theirs(char* buf, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(buf, size, format, args);
    va_end(args);
    return n;
}

template <typename Fn>
double NsPerCall(Fn fn) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) {
        g_sink = g_sink + fn(i);
    }
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / kCalls;
}

void Report(const char* name, double ours, double theirs) {
    printf("%-34s vsnprintf_s %8.1f ns/call   glibc vsnprintf %8.1f ns/call   ratio %.2f\n", name,
           ours, theirs, ours / theirs);
}

}  // namespace

int main() {
    char buf[1024];
    const char* const logLine = "[%lu][Process ssl login][%s][%d]";
    const char* const user = "vanTrelo ssl login start!";
    const char* const floatLine = "[%lu][tunnel rate][%f]";

    // Same text from both before timing: a benchmark of different work would mislead.
    char check[1024];
    Ours(buf, sizeof(buf), logLine, 12345678UL, user, -42);
    Theirs(check, sizeof(check), logLine, 12345678UL, user, -42);
    if (strcmp(buf, check) != 0) {
        fprintf(stderr, "texts differ: \"%s\" vs \"%s\"\n", buf, check);
        return 1;
    }

    const double oursLog = NsPerCall([&](int i) {
        return Ours(buf, sizeof(buf), logLine, static_cast<unsigned long>(i), user, i - 500000);
    });
    const double theirsLog = NsPerCall([&](int i) {
        return Theirs(buf, sizeof(buf), logLine, static_cast<unsigned long>(i), user, i - 500000);
    });
    const double oursFloat = NsPerCall([&](int i) {
        return Ours(buf, sizeof(buf), floatLine, static_cast<unsigned long>(i), 1234.5678 + i * 0.25);
    });
    const double theirsFloat = NsPerCall([&](int i) {
        return Theirs(buf, sizeof(buf), floatLine, static_cast<unsigned long>(i), 1234.5678 + i * 0.25);
    });

    printf("%d calls each\n", kCalls);
    Report("\"[%lu][Process ssl login][%s][%d]\"", oursLog, theirsLog);
    Report("\"[%lu][tunnel rate][%f]\"", oursFloat, theirsFloat);
    return 0;
}
