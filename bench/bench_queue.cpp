// Times the platform's named queue against the obvious peer, a bounded ring of the same
// slots under one std::mutex with two std::condition_variable (not empty, not full), in
// the same run. 32-byte messages, capacity 4096, blocking writes and reads:
//   (a) one producer thread to one consumer thread;
//   (b) four producer threads to one consumer thread.
// Each message carries the time it was written; the consumer takes the time it was read,
// which gives the hand-over latency (p50, p99) beside the throughput. The platform queue
// is driven from platform tasks, as its users drive it (a thread that is no task pays a
// search of the task table for its id on every call); the peer from plain threads. Every
// configuration runs three times, alternating the two queues; the median run is shown.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "jqr_queue.h"
#include "jqr_task.h"
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

// Runs a piece of work on a thread of the kind the queue's users have: a platform task
// for the platform queue, a plain thread for the peer. Join waits for every piece.
struct TaskRunner {
    std::vector<std::function<void()>*> work;
    std::atomic<int> done{0};
    static void Entry(uint64_t uvWork, uint64_t uvDone, uint64_t, uint64_t) {
        (*reinterpret_cast<std::function<void()>*>(uvWork))();
        reinterpret_cast<std::atomic<int>*>(uvDone)->fetch_add(1);
    }
    void Start(std::function<void()> fn) {
        static int serial = 0;
        char name[8];
        std::snprintf(name, sizeof(name), "B%03d", serial++ % 1000);
        auto* w = new std::function<void()>(std::move(fn));
        work.push_back(w);
        const uint64_t args[UKO_TASK_ARG_NUM] = {reinterpret_cast<uint64_t>(w),
                                                 reinterpret_cast<uint64_t>(&done), 0, 0};
        uint32_t id = 0;
        if (UKO_Task_Create(name, 0, 0, 0, args, &TaskRunner::Entry, &id) != 0) {
            std::fprintf(stderr, "task create failed\n");
            std::exit(1);
        }
    }
    void Join() {
        while (done.load() != static_cast<int>(work.size())) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        for (auto* w : work) {
            delete w;
        }
    }
};

struct ThreadRunner {
    std::vector<std::thread> threads;
    void Start(std::function<void()> fn) { threads.emplace_back(std::move(fn)); }
    void Join() {
        for (std::thread& t : threads) {
            t.join();
        }
    }
};

template <typename Queue, typename Runner>
Result Run(int producers) {
    Queue q;
    std::vector<int64_t> latency(kMessages);
    const uint64_t perProducer = kMessages / static_cast<uint64_t>(producers);
    const uint64_t total = perProducer * static_cast<uint64_t>(producers);
    std::atomic<int64_t> endNs{0};
    const auto t0 = Clock::now();
    Runner runner;
    for (int p = 0; p < producers; ++p) {
        runner.Start([&q, p, perProducer] {
            for (uint64_t i = 0; i < perProducer; ++i) {
                q.Write(Message{NowNs(), static_cast<uint64_t>(p), i, 0});
            }
        });
    }
    runner.Start([&] {
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
        endNs = NowNs();
    });
    runner.Join();
    const double secs =
        static_cast<double>(endNs.load() -
                            std::chrono::duration_cast<std::chrono::nanoseconds>(t0.time_since_epoch())
                                .count()) /
        1e9;
    latency.resize(total);
    Result r;
    r.msgsPerSec = static_cast<double>(total) / secs;
    auto at = [&](double fraction) {
        const size_t k = static_cast<size_t>(fraction * static_cast<double>(total - 1));
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
    (void)Run<Ours, TaskRunner>(producers);  // warm-up
    (void)Run<Peer, ThreadRunner>(producers);
    std::vector<Result> ours;
    std::vector<Result> peer;
    for (int i = 0; i < 3; ++i) {
        ours.push_back(Run<Ours, TaskRunner>(producers));
        peer.push_back(Run<Peer, ThreadRunner>(producers));
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
