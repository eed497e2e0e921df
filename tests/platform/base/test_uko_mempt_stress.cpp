// Many threads allocating and freeing from the system partition at once, handing
// blocks to each other: every block keeps its contents, and the partition ends as it
// began.

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "jqr_mem.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "v_dlmem.h"
#include "vt_test/platform.h"

namespace {

constexpr int kThreads = 8;
constexpr int kOpsPerThread = 100000;
constexpr size_t kLivePerThread = 64;
constexpr size_t kExchangeSlots = 32;

std::atomic<void*> g_exchange[kExchangeSlots];

// A block carries its size and a stamp at both ends, so that any overlap between two
// live blocks or a block handed out twice shows up as a broken stamp.
struct Stamp {
    uint64_t size;
    uint64_t stamp;
};

void Fill(void* p, uint64_t size, uint64_t stamp) {
    auto* b = static_cast<uint8_t*>(p);
    Stamp s{size, stamp};
    std::memcpy(b, &s, sizeof(s));
    std::memcpy(b + size - 8, &stamp, 8);
}

bool Intact(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    Stamp s;
    std::memcpy(&s, b, sizeof(s));
    uint64_t tail = 0;
    std::memcpy(&tail, b + s.size - 8, 8);
    return tail == s.stamp;
}

struct Worker {
    int id = 0;
    int broken = 0;
    int failed = 0;
};

void* WorkerMain(void* arg) {
    auto* w = static_cast<Worker*>(arg);
    std::mt19937_64 rng(0x9E3779B97F4A7C15ull * (w->id + 1));
    std::vector<void*> live;
    live.reserve(kLivePerThread);
    uint64_t serial = 0;
    auto size = [&rng]() -> uint64_t {
        uint32_t r = rng() % 100;
        if (r < 80) return 24 + rng() % 1000;    // slices (room for both stamps)
        if (r < 97) return 1025 + rng() % 7168;  // large blocks
        return 8193 + rng() % 57344;
    };
    auto release = [w](void* p) {
        if (!Intact(p)) w->broken++;
        if (UKO_Free(p) != 0) w->failed++;
    };
    for (int op = 0; op < kOpsPerThread; ++op) {
        uint32_t r = rng() % 100;
        if (live.empty() || (r < 50 && live.size() < kLivePerThread)) {
            uint64_t n = size();
            void* p = (r % 10 == 0) ? UKO_MallocAlign_X(0, n, 64, nullptr, 0) : UKO_Malloc(0, n);
            if (p == nullptr) {
                w->failed++;
                continue;
            }
            Fill(p, n, (static_cast<uint64_t>(w->id) << 56) | ++serial);
            live.push_back(p);
        } else if (r < 85) {
            size_t i = rng() % live.size();
            release(live[i]);
            live[i] = live.back();
            live.pop_back();
        } else if (r < 95) {
            // Hand a block to whichever thread takes the slot next; free what was there.
            size_t i = rng() % live.size();
            void* out = g_exchange[rng() % kExchangeSlots].exchange(live[i], std::memory_order_acq_rel);
            live[i] = live.back();
            live.pop_back();
            if (out != nullptr) release(out);
        } else {
            size_t i = rng() % live.size();
            uint64_t n = size();
            Stamp s;
            std::memcpy(&s, live[i], sizeof(s));
            if (!Intact(live[i])) w->broken++;
            void* q = UKO_Realloc(live[i], n);
            if (q == nullptr) {
                w->failed++;
                continue;
            }
            // The stamp's head moved along; rewrite both ends for the new size.
            Fill(q, n, s.stamp);
            live[i] = q;
        }
    }
    for (void* p : live) release(p);
    return nullptr;
}

TEST(MemPtStress, ThreadsAllocateAndFreeConcurrently) {
    ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
    const UKO_MEMPT_CB& sys = m_pstMemPtCb[0];
    const uint64_t used0 = sys.uvUsedSize;
    uint64_t dlmUsed0 = 0, dlmNum0 = 0;
    DLM_SizeGet(static_cast<DLM_CB*>(sys.pAlgoHandle), &dlmUsed0, &dlmNum0);

    Worker workers[kThreads];
    pthread_t threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        workers[i].id = i;
        ASSERT_EQ(pthread_create(&threads[i], nullptr, WorkerMain, &workers[i]), 0);
    }
    for (pthread_t t : threads) pthread_join(t, nullptr);
    for (auto& slot : g_exchange) {
        void* p = slot.exchange(nullptr);
        if (p != nullptr) {
            EXPECT_TRUE(Intact(p));
            EXPECT_EQ(UKO_Free(p), 0u);
        }
    }
    for (const Worker& w : workers) {
        EXPECT_EQ(w.broken, 0) << "thread " << w.id;
        EXPECT_EQ(w.failed, 0) << "thread " << w.id;
    }
    EXPECT_EQ(sys.uvUsedSize, used0);
    EXPECT_EQ(sys.pPieceList->uvUsed, used0);
    uint64_t dlmUsed = 0, dlmNum = 0;
    DLM_SizeGet(static_cast<DLM_CB*>(sys.pAlgoHandle), &dlmUsed, &dlmNum);
    EXPECT_EQ(dlmUsed, dlmUsed0);
    EXPECT_EQ(dlmNum, dlmNum0);
}

}  // namespace
