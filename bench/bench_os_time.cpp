// The time base against its obvious peers: OS_SecToDate against glibc's gmtime_r,
// OS_DateToSec against timegm, a counter read (OS_CpuTickGet) against a raw
// clock_gettime, and UKO_CpuTick2Ms against a native 64-bit division. Prints ns per
// call for both and the ratio (ours / peer).

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "os_time.h"
#include "uko_cputick.h"

namespace {

constexpr int kCalls = 2000000;

// Keeps the optimiser from dropping the calls.
volatile uint64_t g_sink = 0;
// Counter units per millisecond of the monotonic base, read at run time so the peer
// really divides instead of multiplying by a folded constant.
volatile uint32_t g_unitsPerMs = 1000000;

template <typename Fn>
double NsPerCall(Fn fn) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) {
        g_sink = g_sink + fn(static_cast<uint32_t>(i));
    }
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / kCalls;
}

void Report(const char* name, const char* peer, double ours, double theirs) {
    printf("%-16s ours %7.1f ns/call   %-22s %7.1f ns/call   ratio %.2f\n", name, ours, peer,
           theirs, ours / theirs);
}

// Seconds spread over 1970 to 2106 so every year length is met.
uint32_t Spread(uint32_t i) { return i * 2147u; }

}  // namespace

int main() {
    OS_TickConfigInit(0);
    if (UKO_CpuTickInit(0) != 0) {
        fprintf(stderr, "CPU tick start failed\n");
        return 1;
    }

    // Same answers from both sides before timing.
    for (uint32_t i = 0; i < 1000; ++i) {
        UKO_Systime t{};
        OS_SecToDate(Spread(i * 997), &t);
        time_t s = Spread(i * 997);
        struct tm g {};
        gmtime_r(&s, &g);
        if (t.usYear != g.tm_year + 1900 || t.ucDate != g.tm_mday || t.ucSecond != g.tm_sec) {
            fprintf(stderr, "OS_SecToDate disagrees with gmtime_r at %u\n", Spread(i * 997));
            return 1;
        }
    }

    double ours = NsPerCall([](uint32_t i) {
        UKO_Systime t{};
        OS_SecToDate(Spread(i), &t);
        return static_cast<uint64_t>(t.usYear + t.ucDate);
    });
    double theirs = NsPerCall([](uint32_t i) {
        time_t s = Spread(i);
        struct tm g {};
        gmtime_r(&s, &g);
        return static_cast<uint64_t>(g.tm_year + g.tm_mday);
    });
    Report("seconds to date", "glibc gmtime_r", ours, theirs);

    ours = NsPerCall([](uint32_t i) {
        UKO_Systime t{};
        t.usYear = static_cast<uint16_t>(1970 + i % 136);
        t.ucMonth = static_cast<uint8_t>(1 + i % 12);
        t.ucDate = static_cast<uint8_t>(1 + i % 28);
        uint32_t high = 0;
        uint32_t low = 0;
        OS_DateToSec(&t, &high, &low);
        return (static_cast<uint64_t>(high) << 32) | low;
    });
    theirs = NsPerCall([](uint32_t i) {
        struct tm g {};
        g.tm_year = static_cast<int>(70 + i % 136);
        g.tm_mon = static_cast<int>(i % 12);
        g.tm_mday = static_cast<int>(1 + i % 28);
        return static_cast<uint64_t>(timegm(&g));
    });
    Report("date to seconds", "glibc timegm", ours, theirs);

    ours = NsPerCall([](uint32_t) {
        uint32_t low = 0;
        uint32_t high = 0;
        OS_CpuTickGet(&low, &high);
        return static_cast<uint64_t>(low);
    });
    theirs = NsPerCall([](uint32_t) {
        struct timespec ts {};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_nsec);
    });
    Report("counter read", "clock_gettime", ours, theirs);

    ours = NsPerCall([](uint32_t i) {
        UKO_CPUTICK_S t{i * 7919u, i & 0xFF};
        uint32_t high = 0;
        uint32_t low = 0;
        UKO_CpuTick2Ms(&t, &high, &low);
        return static_cast<uint64_t>(low);
    });
    theirs = NsPerCall([](uint32_t i) {
        uint64_t ticks = (static_cast<uint64_t>(i & 0xFF) << 32) | (i * 7919u);
        return ticks / g_unitsPerMs;
    });
    Report("ticks to ms", "native u64 division", ours, theirs);
    return 0;
}
