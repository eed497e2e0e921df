// Times the platform's counting semaphore against the obvious peer, a counting semaphore
// made of std::mutex and std::condition_variable, in the same run:
//   (a) ping-pong: two threads hand the turn back and forth through two semaphores,
//       1,000,000 round trips (every P waits, every V wakes a waiter);
//   (b) uncontended: one thread, V then P on the same semaphore, 10,000,000 pairs.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "os_sema.h"
#include "uko_start.h"
#include "bench_home.h"

namespace {

using Clock = std::chrono::steady_clock;

class PeerSema {
public:
    void P() {
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [this] { return count_ > 0; });
        --count_;
    }
    void V() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        cond_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    int32_t count_ = 0;
};

struct Zirpa {
    void* h = nullptr;
    Zirpa() {
        if (UKO_SemaCCreate("bench", 0, 0, &h) != 0) {
            std::fprintf(stderr, "semaphore create failed\n");
            std::exit(1);
        }
    }
    ~Zirpa() { (void)UKO_SemaDelete(h); }
    void P() {
        if (UKO_SemaP(h, 0) != 0) std::abort();
    }
    void V() {
        if (UKO_SemaV(h) != 0) std::abort();
    }
};
struct Peer {
    PeerSema s;
    void P() { s.P(); }
    void V() { s.V(); }
};

template <typename Sema>
double PingPongNs(uint64_t rounds) {
    Sema ping;
    Sema pong;
    auto t0 = Clock::now();
    std::thread other([&] {
        for (uint64_t i = 0; i < rounds; ++i) {
            ping.P();
            pong.V();
        }
    });
    for (uint64_t i = 0; i < rounds; ++i) {
        ping.V();
        pong.P();
    }
    other.join();
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    return d.count() / static_cast<double>(rounds);
}

template <typename Sema>
double UncontendedNs(uint64_t pairs) {
    Sema s;
    auto t0 = Clock::now();
    for (uint64_t i = 0; i < pairs; ++i) {
        s.V();
        s.P();
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    return d.count() / static_cast<double>(pairs);
}

void Row(const char* what, double ours, double peer) {
    std::printf("%-34s %10.1f ns %10.1f ns   ratio %.2f\n", what, ours, peer, ours / peer);
}

}  // namespace

int main() {
    if (BenchHomeMake("bench-sema").empty()) return 1;
    if (UKO_Start() != 0) {
        std::fprintf(stderr, "platform start-up failed\n");
        return 1;
    }
    constexpr uint64_t kRounds = 1000000;
    constexpr uint64_t kPairs = 10000000;
    std::printf("%-34s %13s %13s\n", "", "UKO_Sema", "mutex+condvar");
    // A shorter warm-up run of each comes before the measured one.
    (void)PingPongNs<Zirpa>(kRounds / 10);
    (void)PingPongNs<Peer>(kRounds / 10);
    Row("ping-pong round trip", PingPongNs<Zirpa>(kRounds), PingPongNs<Peer>(kRounds));
    (void)UncontendedNs<Zirpa>(kPairs / 10);
    (void)UncontendedNs<Peer>(kPairs / 10);
    Row("uncontended V+P pair", UncontendedNs<Zirpa>(kPairs), UncontendedNs<Peer>(kPairs));
    return 0;
}
