// Times UKO_Malloc/UKO_Free pairs against the host allocator's malloc/free in the same
// run, on the same request sequences:
//   (a) one request at a time of a login packet's size (2005 bytes), freed at once;
//   (b) random sizes 8 to 4096 with 10,000 blocks live, each step freeing a random live
//       block and allocating a new one in its place;
//   (c) (b) on 4 threads at once, the 10,000 live blocks shared out among them (the
//       system partition holds 32 MiB);
// and, for the live set of (b), the bytes the system partition charges against the
// bytes requested.

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "jqr_mem.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "uko_start.h"
#include "bench_home.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Zirpa {
    static void* Alloc(uint64_t n) { return UKO_Malloc(0, n); }
    static void Free(void* p) { (void)UKO_Free(p); }
};
struct Host {
    static void* Alloc(uint64_t n) { return std::malloc(n); }
    static void Free(void* p) { std::free(p); }
};

template <typename Heap>
double PairsNs(uint64_t size, uint64_t count) {
    auto t0 = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
        auto* p = static_cast<volatile uint8_t*>(Heap::Alloc(size));
        p[0] = static_cast<uint8_t>(i);
        Heap::Free(const_cast<uint8_t*>(p));
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    return d.count() / static_cast<double>(count);
}

struct Plan {
    std::vector<uint64_t> sizes;
    std::vector<uint32_t> slots;
};

Plan MakePlan(size_t live, size_t steps, uint64_t seed) {
    std::mt19937_64 rng(seed);
    Plan plan;
    plan.sizes.resize(live + steps);
    for (uint64_t& s : plan.sizes) s = 8 + rng() % 4089;
    plan.slots.resize(steps);
    for (uint32_t& s : plan.slots) s = static_cast<uint32_t>(rng() % live);
    return plan;
}

// Allocates the live set, times the churn, and frees everything; requested and charged
// bytes of the live set are reported through the out pointers when given.
template <typename Heap>
double ChurnNs(const Plan& plan, size_t live, uint64_t* requested = nullptr) {
    std::vector<void*> blocks(live);
    std::vector<uint64_t> sizes(live);
    size_t k = 0;
    for (size_t i = 0; i < live; ++i) {
        sizes[i] = plan.sizes[k++];
        blocks[i] = Heap::Alloc(sizes[i]);
    }
    auto t0 = Clock::now();
    for (uint32_t slot : plan.slots) {
        Heap::Free(blocks[slot]);
        sizes[slot] = plan.sizes[k++];
        auto* p = static_cast<volatile uint8_t*>(Heap::Alloc(sizes[slot]));
        p[0] = 1;
        blocks[slot] = const_cast<uint8_t*>(p);
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    if (requested != nullptr) {
        *requested = 0;
        for (uint64_t s : sizes) *requested += s;
    }
    for (void* p : blocks) Heap::Free(p);
    return d.count() / static_cast<double>(plan.slots.size());
}

template <typename Heap>
struct ThreadJob {
    const Plan* plan;
    size_t live;
    double ns;
};

template <typename Heap>
void* ThreadMain(void* arg) {
    auto* job = static_cast<ThreadJob<Heap>*>(arg);
    job->ns = ChurnNs<Heap>(*job->plan, job->live);
    return nullptr;
}

template <typename Heap>
double ThreadedChurnNs(const std::vector<Plan>& plans, size_t livePerThread) {
    std::vector<ThreadJob<Heap>> jobs(plans.size());
    std::vector<pthread_t> threads(plans.size());
    auto t0 = Clock::now();
    for (size_t i = 0; i < plans.size(); ++i) {
        jobs[i] = {&plans[i], livePerThread, 0};
        pthread_create(&threads[i], nullptr, ThreadMain<Heap>, &jobs[i]);
    }
    for (pthread_t t : threads) pthread_join(t, nullptr);
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    double pairs = 0;
    for (const Plan& p : plans) pairs += static_cast<double>(p.slots.size());
    // Wall time per pair over all threads: includes the set-up of the live sets, which
    // both heaps pay alike.
    return d.count() / pairs;
}

void Row(const char* name, double ours, double host) {
    std::printf("%-44s %10.1f %10.1f %8.2f\n", name, ours, host, ours / host);
}

}  // namespace

int main() {
    if (BenchHomeMake("bench-malloc").empty()) return 1;
    if (UKO_Start() != 0) {
        std::fprintf(stderr, "platform start-up failed\n");
        return 1;
    }
    constexpr uint64_t kPairs = 2000000;
    constexpr size_t kLive = 10000;
    constexpr size_t kSteps = 2000000;
    constexpr int kThreads = 4;

    std::printf("%-44s %10s %10s %8s\n", "ns per allocate/free pair", "UKO", "glibc", "ratio");
    // Warm both heaps once so that neither pays its first-touch costs in the timing.
    (void)PairsNs<Zirpa>(2005, 1000);
    (void)PairsNs<Host>(2005, 1000);
    Row("(a) 2005 bytes, 1 thread", PairsNs<Zirpa>(2005, kPairs), PairsNs<Host>(2005, kPairs));

    Plan plan = MakePlan(kLive, kSteps, 42);
    Row("(b) 8-4096 bytes, 10,000 live, 1 thread", ChurnNs<Zirpa>(plan, kLive), ChurnNs<Host>(plan, kLive));

    std::vector<Plan> plans;
    for (int i = 0; i < kThreads; ++i) {
        plans.push_back(MakePlan(kLive / kThreads, kSteps / kThreads, 100 + i));
    }
    Row("(c) as (b), 4 threads (wall time per pair)", ThreadedChurnNs<Zirpa>(plans, kLive / kThreads),
        ThreadedChurnNs<Host>(plans, kLive / kThreads));

    // Overhead: what the system partition charges for a live set like that of (b),
    // heads and class rounding included, against the bytes asked for.
    const UKO_MEMPT_CB& sys = m_pstMemPtCb[m_ucSysPtNo];
    const uint64_t used0 = sys.uvUsedSize;
    std::vector<void*> blocks(kLive);
    uint64_t requested = 0;
    for (size_t i = 0; i < kLive; ++i) {
        requested += plan.sizes[i];
        blocks[i] = UKO_Malloc(0, plan.sizes[i]);
    }
    const uint64_t charged = sys.uvUsedSize - used0;
    for (void* p : blocks) (void)UKO_Free(p);
    std::printf("\noverhead of the live set of (b): %lu bytes requested, %lu charged, ratio %.3f\n",
                static_cast<unsigned long>(requested), static_cast<unsigned long>(charged),
                static_cast<double>(charged) / static_cast<double>(requested));
    return 0;
}
