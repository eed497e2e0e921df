// The CPU an idle, started platform costs: its clock tasks "VCLK" and "TICK" wake 100
// times a second whether or not anything uses the tick.
//
// (1) The started platform alone: the process's own CPU time (user + system, getrusage)
// over a span in which the main thread only sleeps, so that other load on the machine
// is not counted, and the ticks counted against CLOCK_MONOTONIC over the same span.
// (2) The ratio to the obvious peer, a plain pair of threads (one sleeping 10 ms in
// select() and counting, the other woken through a std::mutex and a
// std::condition_variable), running at the same time as the platform so that both see
// the same load; each pair's CPU is read from its threads' own CPU clocks. Beside them,
// the floor: a single thread that only sleeps 10 ms at a time.
//
// Usage: bench_clock_idle [seconds per measurement, default 10]

#include <pthread.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "uko_start.h"
#include "uko_task.h"
#include "uko_tick.h"
#include "bench_home.h"

namespace {

uint64_t CpuNs() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    auto ns = [](const timeval& tv) {
        return static_cast<uint64_t>(tv.tv_sec) * 1000000000ull + static_cast<uint64_t>(tv.tv_usec) * 1000ull;
    };
    return ns(ru.ru_utime) + ns(ru.ru_stime);
}

uint64_t MonoNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void SleepNs(uint64_t ns) {
    struct timespec ts = {static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

struct Span {
    uint64_t wallNs;
    uint64_t cpuNs;
    double PercentOfCore() const { return 100.0 * static_cast<double>(cpuNs) / static_cast<double>(wallNs); }
};

// The process's CPU over a span of sleeping.
Span Measure(uint64_t ns) {
    const uint64_t w0 = MonoNs();
    const uint64_t c0 = CpuNs();
    SleepNs(ns);
    const uint64_t c1 = CpuNs();
    const uint64_t w1 = MonoNs();
    return {w1 - w0, c1 - c0};
}

// ---- Peer: a 10 ms sleeper that wakes a second thread ---------------------------------------------

struct Peer {
    std::mutex m;
    std::condition_variable cv;
    uint32_t pending = 0;
    uint64_t delivered = 0;
    std::atomic<bool> stop{false};
};

void* PeerClock(void* arg) {
    auto* p = static_cast<Peer*>(arg);
    while (!p->stop.load()) {
        struct timeval tv = {0, 10000};
        (void)select(0, nullptr, nullptr, nullptr, &tv);
        std::lock_guard<std::mutex> lock(p->m);
        ++p->pending;
        p->cv.notify_one();
    }
    return nullptr;
}

void* PeerTick(void* arg) {
    auto* p = static_cast<Peer*>(arg);
    std::unique_lock<std::mutex> lock(p->m);
    while (!p->stop.load()) {
        p->cv.wait(lock, [&] { return p->pending != 0 || p->stop.load(); });
        p->delivered += p->pending;
        p->pending = 0;
    }
    return nullptr;
}

// The floor: one thread that only sleeps 10 ms at a time, as each clock task must.
void* LoneSleeper(void* arg) {
    auto* stop = static_cast<std::atomic<bool>*>(arg);
    while (!stop->load()) {
        struct timeval tv = {0, 10000};
        (void)select(0, nullptr, nullptr, nullptr, &tv);
    }
    return nullptr;
}

std::atomic<uint64_t> g_platformTicks{0};
void CountTicks(uint32_t ticks) { g_platformTicks.fetch_add(ticks); }

// CPU time of one thread of this process.
uint64_t ThreadCpuNs(pthread_t thread) {
    clockid_t id;
    if (pthread_getcpuclockid(thread, &id) != 0) {
        return 0;
    }
    struct timespec ts;
    clock_gettime(id, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t PairCpuNs(pthread_t a, pthread_t b) { return ThreadCpuNs(a) + ThreadCpuNs(b); }

double Percent(uint64_t cpuNs, uint64_t wallNs) {
    return 100.0 * static_cast<double>(cpuNs) / static_cast<double>(wallNs);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const uint64_t spanNs = static_cast<uint64_t>(seconds * 1e9);

    const std::string root = BenchHomeMake("bench-clock-idle");
    if (root.empty()) return 1;

    if (UKO_Start() != 0) {
        std::fprintf(stderr, "platform start-up failed\n");
        return 1;
    }
    if (UKO_TickHookReg(CountTicks) != 0) {
        std::fprintf(stderr, "no tick hook\n");
        return 1;
    }
    const pthread_t vclk = static_cast<pthread_t>(UKO_TaskOsalIdGet(UKO_TaskIdGet("VCLK")));
    const pthread_t tickTask = static_cast<pthread_t>(UKO_TaskOsalIdGet(UKO_TaskIdGet("TICK")));
    SleepNs(1000000000ull);  // start-up's own work is over

    // (1) The started platform alone: the process's CPU time while the main thread sleeps.
    const uint64_t ticks0 = g_platformTicks.load();
    const Span alone = Measure(spanNs);
    const uint64_t ticks1 = g_platformTicks.load();
    std::printf("idle started platform, process CPU time (user + system, getrusage) over %.1f s:\n",
                static_cast<double>(alone.wallNs) / 1e9);
    std::printf("  %.4f %% of one core (%llu us CPU); goal below 0.2 %%: %s\n", alone.PercentOfCore(),
                static_cast<unsigned long long>(alone.cpuNs / 1000),
                alone.PercentOfCore() < 0.2 ? "met" : "NOT met");
    std::printf("  ticks counted %llu, expected from CLOCK_MONOTONIC %.1f\n",
                static_cast<unsigned long long>(ticks1 - ticks0),
                static_cast<double>(alone.wallNs) / 1e7);

    // (2) Side by side with the peer over the same span, so that both see the same load:
    // each pair of threads' own CPU clocks.
    Peer peer;
    pthread_t clock;
    pthread_t tick;
    pthread_create(&clock, nullptr, PeerClock, &peer);
    pthread_create(&tick, nullptr, PeerTick, &peer);
    std::atomic<bool> loneStop{false};
    pthread_t lone;
    pthread_create(&lone, nullptr, LoneSleeper, &loneStop);
    SleepNs(500000000ull);
    const uint64_t w0 = MonoNs();
    const uint64_t p0 = PairCpuNs(vclk, tickTask);
    const uint64_t q0 = PairCpuNs(clock, tick);
    const uint64_t l0 = ThreadCpuNs(lone);
    SleepNs(spanNs);
    const uint64_t p1 = PairCpuNs(vclk, tickTask);
    const uint64_t q1 = PairCpuNs(clock, tick);
    const uint64_t l1 = ThreadCpuNs(lone);
    const uint64_t w1 = MonoNs();
    loneStop.store(true);
    pthread_join(lone, nullptr);
    peer.stop.store(true);
    {
        std::lock_guard<std::mutex> lock(peer.m);
        peer.cv.notify_one();
    }
    pthread_join(clock, nullptr);
    pthread_join(tick, nullptr);

    const double platformPct = Percent(p1 - p0, w1 - w0);
    const double peerPct = Percent(q1 - q0, w1 - w0);
    std::printf("side by side over %.1f s (thread CPU clocks):\n", static_cast<double>(w1 - w0) / 1e9);
    std::printf("  platform VCLK + TICK:      %.4f %% of one core\n", platformPct);
    std::printf("  peer select + condvar pair: %.4f %% of one core\n", peerPct);
    std::printf("  ratio platform/peer: %.2f\n", platformPct / peerPct);
    std::printf("  floor, one thread sleeping 10 ms in select(): %.4f %% of one core\n",
                Percent(l1 - l0, w1 - w0));

    std::string cleanup = std::string("rm -rf '") + root + "'";
    (void)system(cleanup.c_str());
    return 0;
}
