// Times the partition algorithm's allocate/free pairs against the host allocator's
// malloc/free in the same run, on the same request sequences:
//   (a) one request at a time of a login packet's size (2005 bytes + the partition's
//       8-byte head), freed at once: a large block from the heap;
//   (b) one request at a time of 64 bytes: a slice, its page made and given back on
//       every pair; (b') the same with one block of the class kept live, so the page
//       stays;
//   (c) random sizes 8 to 4096 with 10,000 blocks live, each step freeing a random
//       live block and allocating a new one in its place.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "v_dlmem.h"

namespace {

using Clock = std::chrono::steady_clock;

struct DlmHeap {
    explicit DlmHeap(size_t bytes) : mem(std::malloc(bytes)), cb(DLM_Format(mem, bytes, nullptr)) {}
    ~DlmHeap() { std::free(mem); }
    void* Alloc(uint64_t n) {
        void* p = DLM_Alloc(cb, &n);
        return p;
    }
    void Free(void* p) {
        uint64_t freed = 0;
        (void)DLM_Free(cb, p, &freed);
    }
    void* mem;
    DLM_CB* cb;
};

struct HostHeap {
    void* Alloc(uint64_t n) { return std::malloc(n); }
    void Free(void* p) { std::free(p); }
};

template <typename Heap>
double PairsNs(Heap& heap, uint64_t size, uint64_t count) {
    auto t0 = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
        auto* p = static_cast<volatile uint8_t*>(heap.Alloc(size));
        p[0] = static_cast<uint8_t>(i);
        heap.Free(const_cast<uint8_t*>(p));
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    return d.count() / static_cast<double>(count);
}

struct Churn {
    std::vector<uint64_t> sizes;
    std::vector<uint32_t> slots;
};

template <typename Heap>
double ChurnNs(Heap& heap, const Churn& plan, size_t live) {
    std::vector<void*> blocks(live);
    size_t k = 0;
    for (size_t i = 0; i < live; ++i) {
        blocks[i] = heap.Alloc(plan.sizes[k++]);
    }
    auto t0 = Clock::now();
    for (uint32_t slot : plan.slots) {
        heap.Free(blocks[slot]);
        auto* p = static_cast<volatile uint8_t*>(heap.Alloc(plan.sizes[k++]));
        p[0] = 1;
        blocks[slot] = const_cast<uint8_t*>(p);
    }
    std::chrono::duration<double, std::nano> d = Clock::now() - t0;
    for (void* p : blocks) {
        heap.Free(p);
    }
    return d.count() / static_cast<double>(plan.slots.size());
}

void Print(const char* name, double dlm, double host) {
    std::printf("%-44s DLM %8.1f ns   malloc %8.1f ns   ratio %.2f\n", name, dlm, host, dlm / host);
}

}  // namespace

int main() {
    constexpr uint64_t kPairs = 5000000;
    constexpr size_t kLive = 10000;
    constexpr size_t kSteps = 5000000;

    DlmHeap dlm(256u * 1024 * 1024);
    HostHeap host;
    if (dlm.cb == nullptr) {
        std::fprintf(stderr, "format failed\n");
        return 1;
    }

    Print("(a) 2013-byte pairs", PairsNs(dlm, 2013, kPairs), PairsNs(host, 2013, kPairs));
    Print("(b) 64-byte pairs", PairsNs(dlm, 64, kPairs), PairsNs(host, 64, kPairs));
    {
        void* keepDlm = dlm.Alloc(64);
        void* keepHost = host.Alloc(64);
        Print("(b') 64-byte pairs, one block kept live", PairsNs(dlm, 64, kPairs),
              PairsNs(host, 64, kPairs));
        dlm.Free(keepDlm);
        host.Free(keepHost);
    }

    std::mt19937_64 rng(42);
    Churn plan;
    plan.sizes.resize(kLive + kSteps);
    for (uint64_t& s : plan.sizes) {
        s = 8 + rng() % (4096 - 8 + 1);
    }
    plan.slots.resize(kSteps);
    for (uint32_t& s : plan.slots) {
        s = static_cast<uint32_t>(rng() % kLive);
    }
    Print("(c) 8..4096 random, 10,000 live, free+alloc", ChurnNs(dlm, plan, kLive), ChurnNs(host, plan, kLive));

    uint64_t bytes = 0;
    uint64_t blocks = 0;
    DLM_SizeGet(dlm.cb, &bytes, &blocks);
    std::printf("blocks still in use after the runs: %lu\n", static_cast<unsigned long>(blocks));
    return 0;
}
