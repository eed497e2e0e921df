// Times the platform's named queue against the obvious peer, a bounded ring of the same
// slots under one std::mutex with two std::condition_variable (not empty, not full), in
// the same run. 32-byte messages, capacity 4096, blocking writes and reads:
//   (a) one producer thread to one consumer thread;
//   (b) four producer threads to one consumer thread.
// Each message carries the time it was written; the consumer takes the time it was read,
// which gives the hand-over latency (p50, p99) beside the throughput. Every
// configuration runs three times, alternating the two queues; the median run is shown.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "jqr_queue.h"
#include "uko_start.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kCapacity = 4096;
constexpr uint64_t kMessages = 1000000;

struct Message {
    int64_t sentNs;
    uint64_t producer;
    uint64_t seq;
    uint64_t pad;
};
static_assert(sizeof(Message) == UKO_QUEUE_MSG_LEN, "32-byte messages");

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The peer: the same ring of (length, data) slots, the textbook way.
class PeerRing {
public:
    PeerRing() : slots_(kCapacity) {}
    void Write(const void* msg, uint32_t len) {
        std::unique_lock<std::mutex> lock(mutex_);
        notFull_.wait(lock, [this] { return count_ < kCapacity; });
        Slot& s = slots_[tail_];
        s.len = len;
        std::memcpy(s.data, msg, len);
        tail_ = (tail_ + 1) % kCapacity;
        ++count_;
        notEmpty_.notify_one();
    }
    uint32_t Read(void* buf, uint32_t len) {
        std::unique_lock<std::mutex> lock(mutex_);
        notEmpty_.wait(lock, [this] { return count_ > 0; });
        const Slot& s = slots_[head_];
        const uint32_t n = std::min(len, s.len);
        std::memcpy(buf, s.data, n);
        head_ = (head_ + 1) % kCapacity;
        --count_;
        notFull_.notify_one();
        return n;
    }

private:
    struct Slot {
        uint32_t len;
        unsigned char data[UKO_QUEUE_MSG_LEN];
    };
    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    uint32_t head_ = 0;
    uint32_t tail_ = 0;
    uint32_t count_ = 0;
};

struct Ours {
    uint32_t id = 0;
    Ours() {
        if (UKO_Queue_Create("BNCH", kCapacity, 10, &id) != 0) {
            std::fprintf(stderr, "queue create failed\n");
            std::exit(1);
        }
    }
    ~Ours() { (void)UKO_Queue_Delete(id); }
    void Write(const Message& m) {
        if (UKO_Queue_Write(id, &m, UKO_QUEUE_FLAG_WAIT, 0) != 0) std::abort();
    }
    void Read(Message* m) {
        if (UKO_Queue_Read(id, m, UKO_QUEUE_FLAG_WAIT, 0) != 0) std::abort();
    }
};

struct Peer {
    PeerRing ring;
    void Write(const Message& m) { ring.Write(&m, sizeof(m)); }
    void Read(Message* m) {
        if (ring.Read(m, sizeof(*m)) != sizeof(*m)) std::abort();
    }
};

struct Result {
    double msgsPerSec = 0;
    double p50Us = 0;
    double p99Us = 0;
};

template <typename Queue>
Result Run(int producers) {
    Queue q;
    std::vector<int64_t> latency(kMessages);
    const uint64_t perProducer = kMessages / static_cast<uint64_t>(producers);
    const uint64_t total = perProducer * static_cast<uint64_t>(producers);
    const auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&q, p, perProducer] {
            for (uint64_t i = 0; i < perProducer; ++i) {
                q.Write(Message{NowNs(), static_cast<uint64_t>(p), i, 0});
            }
        });
    }
    std::vector<uint64_t> next(static_cast<size_t>(producers), 0);
    for (uint64_t i = 0; i < total; ++i) {
        Message m{};
        q.Read(&m);
        latency[i] = NowNs() - m.sentNs;
        if (m.seq != next[m.producer]++) {
            std::fprintf(stderr, "message out of order\n");
            std::abort();
        }
    }
    const std::chrono::duration<double> secs = Clock::now() - t0;
    for (std::thread& t : threads) {
        t.join();
    }
    latency.resize(total);
    Result r;
    r.msgsPerSec = static_cast<double>(total) / secs.count();
    auto at = [&](double q50) {
        const size_t k = static_cast<size_t>(q50 * static_cast<double>(total - 1));
        std::nth_element(latency.begin(), latency.begin() + static_cast<long>(k), latency.end());
        return static_cast<double>(latency[k]) / 1000.0;
    };
    r.p50Us = at(0.50);
    r.p99Us = at(0.99);
    return r;
}

Result Median(std::vector<Result> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Result& a, const Result& b) { return a.msgsPerSec < b.msgsPerSec; });
    return runs[runs.size() / 2];
}

void Report(const char* what, int producers) {
    (void)Run<Ours>(producers);  // warm-up
    (void)Run<Peer>(producers);
    std::vector<Result> ours;
    std::vector<Result> peer;
    for (int i = 0; i < 3; ++i) {
        ours.push_back(Run<Ours>(producers));
        peer.push_back(Run<Peer>(producers));
    }
    const Result o = Median(ours);
    const Result p = Median(peer);
    std::printf("%-8s throughput %12.0f msg/s %12.0f msg/s   ratio (peer/ours) %.2f\n", what,
                o.msgsPerSec, p.msgsPerSec, p.msgsPerSec / o.msgsPerSec);
    std::printf("%-8s p50        %12.1f us    %12.1f us      ratio (ours/peer) %.2f\n", what, o.p50Us,
                p.p50Us, o.p50Us / p.p50Us);
    std::printf("%-8s p99        %12.1f us    %12.1f us      ratio (ours/peer) %.2f\n", what, o.p99Us,
                p.p99Us, o.p99Us / p.p99Us);
}

}  // namespace

int main() {
    if (UKO_Start() != 0) {
        std::fprintf(stderr, "platform start-up failed\n");
        return 1;
    }
    std::printf("%-8s %-10s %18s %18s\n", "", "", "UKO_Queue", "mutex+2 condvars");
    Report("1 -> 1", 1);
    Report("4 -> 1", 4);
    return 0;
}
