// Times task events against the obvious peer, an event word made of std::mutex,
// std::condition_variable and a bit mask, in the same run:
//   (a) ping-pong: two tasks hand event 0x1 back and forth, 200,000 round trips (every
//       read waits, every write wakes the reader);
//   (b) a task writes an event to itself and takes it with a read that does not wait,
//       5,000,000 pairs, once by id 0 and once by its own id (the look-up under the
//       task lock that a write to another task takes).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "uko_start.h"
#include "uko_task.h"
#include "bench_home.h"

namespace {

using Clock = std::chrono::steady_clock;

class PeerEvent {
public:
    void Write(uint32_t bits) {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ |= bits;
        cond_.notify_one();
    }
    void Read(uint32_t bits) {
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [&] { return (pending_ & bits) == bits; });
        pending_ &= ~bits;
    }
    bool TryRead(uint32_t bits) {
        std::lock_guard<std::mutex> lock(mutex_);
        if ((pending_ & bits) != bits) return false;
        pending_ &= ~bits;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    uint32_t pending_ = 0;
};

void Check(uint32_t rc) {
    if (rc != 0) {
        std::fprintf(stderr, "task event call failed: %u\n", rc);
        std::abort();
    }
}

// ---- (a) ping-pong ------------------------------------------------------------------------

struct Pong {
    uint64_t rounds = 0;
    std::atomic<uint32_t> pingId{UKO_TASK_ID_NONE};
    std::atomic<uint32_t> pongId{UKO_TASK_ID_NONE};
    std::atomic<int> done{0};
    double ns = 0;
};

void PongEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* p = reinterpret_cast<Pong*>(a);
    while (p->pingId.load() == UKO_TASK_ID_NONE) std::this_thread::yield();
    for (uint64_t i = 0; i < p->rounds; ++i) {
        uint32_t got = 0;
        Check(UKO_TaskEventRead(0x1, 0, 0, &got));
        Check(UKO_TaskEventWrite(p->pingId.load(), 0x1));
    }
}

void PingEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* p = reinterpret_cast<Pong*>(a);
    while (p->pongId.load() == UKO_TASK_ID_NONE) std::this_thread::yield();
    const auto t0 = Clock::now();
    for (uint64_t i = 0; i < p->rounds; ++i) {
        Check(UKO_TaskEventWrite(p->pongId.load(), 0x1));
        uint32_t got = 0;
        Check(UKO_TaskEventRead(0x1, 0, 0, &got));
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    p->ns = d.count() / static_cast<double>(p->rounds);
    p->done.store(1);
}

double TaskPingPongNs(uint64_t rounds) {
    Pong p;
    p.rounds = rounds;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&p), 0, 0, 0};
    uint32_t pong = UKO_TASK_ID_NONE;
    uint32_t ping = UKO_TASK_ID_NONE;
    Check(UKO_TaskCreate("pong", &pong, PongEntry, 100, 0, 0, args));
    p.pongId.store(pong);
    Check(UKO_TaskCreate("ping", &ping, PingEntry, 100, 0, 0, args));
    p.pingId.store(ping);
    while (p.done.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    while (UKO_TaskIdCheck(ping) != 0 || UKO_TaskIdCheck(pong) != 0) std::this_thread::yield();
    return p.ns;
}

double PeerPingPongNs(uint64_t rounds) {
    PeerEvent toPing;
    PeerEvent toPong;
    std::thread pong([&] {
        for (uint64_t i = 0; i < rounds; ++i) {
            toPong.Read(0x1);
            toPing.Write(0x1);
        }
    });
    const auto t0 = Clock::now();
    for (uint64_t i = 0; i < rounds; ++i) {
        toPong.Write(0x1);
        toPing.Read(0x1);
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    pong.join();
    return d.count() / static_cast<double>(rounds);
}

// ---- (b) write to self, read without waiting ------------------------------------------

struct Self {
    uint64_t pairs = 0;
    bool byOwnId = false;
    std::atomic<int> done{0};
    double ns = 0;
};

void SelfEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* s = reinterpret_cast<Self*>(a);
    const uint32_t target = s->byOwnId ? UKO_TaskIdGet("self") : 0;
    const auto t0 = Clock::now();
    for (uint64_t i = 0; i < s->pairs; ++i) {
        Check(UKO_TaskEventWrite(target, 0x4));
        uint32_t got = 0;
        Check(UKO_TaskEventRead(0x4, UKO_EVENT_MODE_NOWAIT, 0, &got));
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    s->ns = d.count() / static_cast<double>(s->pairs);
    s->done.store(1);
}

double TaskSelfNs(uint64_t pairs, bool byOwnId) {
    Self s;
    s.pairs = pairs;
    s.byOwnId = byOwnId;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&s), 0, 0, 0};
    uint32_t id = UKO_TASK_ID_NONE;
    Check(UKO_TaskCreate("self", &id, SelfEntry, 100, 0, 0, args));
    while (s.done.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    while (UKO_TaskIdCheck(id) != 0) std::this_thread::yield();
    return s.ns;
}

double PeerSelfNs(uint64_t pairs) {
    PeerEvent e;
    const auto t0 = Clock::now();
    for (uint64_t i = 0; i < pairs; ++i) {
        e.Write(0x4);
        if (!e.TryRead(0x4)) std::abort();
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    return d.count() / static_cast<double>(pairs);
}

void Row(const char* what, double ours, double peer) {
    std::printf("%-38s %10.1f ns %10.1f ns   ratio %.2f\n", what, ours, peer, ours / peer);
}

}  // namespace

int main() {
    if (BenchHomeMake("bench-task-event").empty()) return 1;
    if (UKO_Start() != 0) {
        std::fprintf(stderr, "platform start-up failed\n");
        return 1;
    }
    constexpr uint64_t kRounds = 200000;
    constexpr uint64_t kPairs = 5000000;
    std::printf("%-38s %13s %13s\n", "", "task events", "mutex+condvar");
    // A shorter warm-up run of each comes before the measured one.
    (void)TaskPingPongNs(kRounds / 10);
    (void)PeerPingPongNs(kRounds / 10);
    Row("ping-pong round trip", TaskPingPongNs(kRounds), PeerPingPongNs(kRounds));
    (void)TaskSelfNs(kPairs / 10, false);
    (void)PeerSelfNs(kPairs / 10);
    const double peerSelf = PeerSelfNs(kPairs);
    Row("write to self (id 0) + no-wait read", TaskSelfNs(kPairs, false), peerSelf);
    Row("write to self by id + no-wait read", TaskSelfNs(kPairs, true), peerSelf);
    return 0;
}
