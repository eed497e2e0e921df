// A long random run of allocations and frees against a shadow model of what should be
// live: no two live blocks overlap, every block keeps the bytes written into it, the
// counters agree with the model after every operation, and the heap walks clean.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "heap_walk.h"
#include "v_dlmem.h"
#include "v_dlmem_inner.h"

namespace {

using heap_test::HostBlock;

// One million operations in a few seconds under the sanitizers: sizes are spread
// evenly over their logarithm, so most blocks are slices and some 3 GB are written and
// checked in all; about 2000 blocks are live at a time, well inside the 52 MiB of arena.
// A full heap walk every 1000 operations costs about a third of the run.
constexpr uint64_t kOps = 1000000;
constexpr uint64_t kMaxRequest = 70000;
constexpr size_t kTargetLive = 2000;
constexpr uint64_t kWalkEvery = 1000;
constexpr uint64_t kSeed = 0x5EED0F0A11C8;

struct Block {
    uint8_t* p;
    uint64_t usable;
    uint64_t reserved;
    uint8_t fill;
    uint32_t refs;
};

struct ShadowRun {
    DLM_CB* cb = nullptr;
    std::vector<Block> live;                 // random pick by index
    std::map<uintptr_t, uintptr_t> ranges;   // head start -> end of the caller's bytes
    std::vector<std::pair<uint8_t*, uint64_t>> arenas;
    uint64_t used = 0;

    // The block's bytes, head included, touch no other live block and lie in an arena.
    ::testing::AssertionResult Place(const Block& b) {
        uintptr_t lo = reinterpret_cast<uintptr_t>(b.p) - 16;
        uintptr_t hi = reinterpret_cast<uintptr_t>(b.p) + b.usable;
        bool inside = false;
        for (auto& a : arenas) {
            inside = inside || (lo >= reinterpret_cast<uintptr_t>(a.first) &&
                                hi <= reinterpret_cast<uintptr_t>(a.first) + a.second);
        }
        if (!inside) {
            return ::testing::AssertionFailure() << "block outside every arena";
        }
        auto next = ranges.lower_bound(lo);
        if (next != ranges.end() && next->first < hi) {
            return ::testing::AssertionFailure() << "overlaps the block above";
        }
        if (next != ranges.begin() && std::prev(next)->second > lo) {
            return ::testing::AssertionFailure() << "overlaps the block below";
        }
        ranges.emplace(lo, hi);
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult Intact(const Block& b) {
        if (b.p[0] != b.fill || std::memcmp(b.p, b.p + 1, b.usable - 1) != 0) {
            return ::testing::AssertionFailure() << "fill pattern changed in a live block";
        }
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult Counters() {
        uint64_t total = 0;
        uint64_t freeBytes = 0;
        uint64_t bytes = 0;
        uint64_t blocks = 0;
        DLM_InfoGet(cb, &total, &freeBytes);
        DLM_SizeGet(cb, &bytes, &blocks);
        if (bytes != used || blocks != live.size()) {
            return ::testing::AssertionFailure() << "in use " << bytes << " in " << blocks
                                                 << " blocks, model " << used << " in " << live.size();
        }
        if (freeBytes + bytes != total) {
            return ::testing::AssertionFailure() << "free " << freeBytes << " + used " << bytes
                                                 << " != total " << total;
        }
        return ::testing::AssertionSuccess();
    }
};

TEST(DlmStress, RandomRunAgainstAShadowModel) {
    HostBlock main(40 * 1024 * 1024);
    HostBlock piece1(6 * 1024 * 1024);
    HostBlock piece2(6 * 1024 * 1024);
    ShadowRun run;
    run.cb = DLM_Format(main.p, main.size, nullptr);
    ASSERT_NE(run.cb, nullptr);
    uint64_t total0 = 0;
    uint64_t free0 = 0;
    DLM_InfoGet(run.cb, &total0, &free0);
    uint64_t maxFree0 = DLM_MaxFreeGet(run.cb);
    ASSERT_EQ(DLM_Append(run.cb, piece1.p, piece1.size), 0u);
    ASSERT_EQ(DLM_Append(run.cb, piece2.p, piece2.size), 0u);
    run.arenas = {{main.p, main.size}, {piece1.p, piece1.size}, {piece2.p, piece2.size}};

    std::mt19937_64 rng(kSeed);
    const double logMax = std::log(static_cast<double>(kMaxRequest));
    uint64_t refOps = 0;
    uint64_t largeBlocks = 0;
    for (uint64_t op = 0; op < kOps; ++op) {
        // Drift toward the target population, so that the heap is neither empty nor full.
        uint64_t allocPercent = run.live.size() < kTargetLive ? 55 : 45;
        bool alloc = run.live.empty() || rng() % 100 < allocPercent;
        if (alloc) {
            double u = std::uniform_real_distribution<double>(0.0, logMax)(rng);
            uint64_t n = std::max<uint64_t>(1, static_cast<uint64_t>(std::exp(u)));
            uint64_t reserved = n;
            auto* p = static_cast<uint8_t*>(DLM_Alloc(run.cb, &reserved));
            ASSERT_NE(p, nullptr) << "op " << op << ": the arena is sized never to run out";
            Block b{p, DLM_UsableSizeGet(p), reserved, static_cast<uint8_t>(op * 131 + 7), 1};
            ASSERT_GE(b.usable, n) << "op " << op;
            largeBlocks += reserved > 1024 ? 1 : 0;
            ASSERT_TRUE(run.Place(b)) << "op " << op;
            ASSERT_TRUE(heap_test::Unpoisoned(p, b.usable)) << "op " << op;
            ASSERT_TRUE(heap_test::Poisoned(p - 1)) << "op " << op;
            ASSERT_TRUE(heap_test::Poisoned(p + b.usable)) << "op " << op;
            std::memset(p, b.fill, b.usable);
            if (rng() % 50 == 0) {
                ASSERT_EQ(DLM_IncRef(p), 0u);
                b.refs = 2;
                ++refOps;
            }
            run.live.push_back(b);
            run.used += reserved;
        } else {
            size_t i = rng() % run.live.size();
            Block& b = run.live[i];
            ASSERT_TRUE(run.Intact(b)) << "op " << op;
            uint64_t freed = 0;
            uint32_t rc = DLM_Free(run.cb, b.p, &freed);
            if (b.refs > 1) {
                ASSERT_EQ(rc, 1u) << "op " << op;
                b.refs--;
            } else {
                ASSERT_EQ(rc, 0u) << "op " << op;
                ASSERT_EQ(freed, b.reserved) << "op " << op;
                run.used -= b.reserved;
                run.ranges.erase(reinterpret_cast<uintptr_t>(b.p) - 16);
                b = run.live.back();
                run.live.pop_back();
            }
        }
        ASSERT_TRUE(run.Counters()) << "op " << op;
        if (op % kWalkEvery == 0) {
            heap_test::WalkResult w = heap_test::WalkHeap(run.cb->pMspace, false);
            ASSERT_EQ(w.error, "") << "op " << op;
            ASSERT_EQ(w.segments, 3u);
        }
    }
    EXPECT_GT(refOps, 1000u);
    EXPECT_GT(largeBlocks, 50000u);

    for (const Block& b : run.live) {
        ASSERT_TRUE(run.Intact(b));
        uint64_t freed = 0;
        for (uint32_t r = b.refs; r > 1; --r) {
            ASSERT_EQ(DLM_Free(run.cb, b.p, &freed), 1u);
        }
        ASSERT_EQ(DLM_Free(run.cb, b.p, &freed), 0u);
        run.used -= b.reserved;
    }
    run.live.clear();
    EXPECT_EQ(run.used, 0u);
    EXPECT_TRUE(run.Counters());

    // Everything went back and merged: both pieces are whole again and leave cleanly.
    EXPECT_EQ(DLM_UnAppend(run.cb, piece1.p), 0u);
    EXPECT_EQ(DLM_UnAppend(run.cb, piece2.p), 0u);
    uint64_t total = 0;
    uint64_t freeBytes = 0;
    DLM_InfoGet(run.cb, &total, &freeBytes);
    EXPECT_EQ(total, total0);
    EXPECT_EQ(freeBytes, free0);
    EXPECT_EQ(DLM_MaxFreeGet(run.cb), maxFree0);
    heap_test::WalkResult w = heap_test::WalkHeap(run.cb->pMspace, false);
    EXPECT_EQ(w.error, "");
    EXPECT_EQ(w.segments, 1u);
    EXPECT_EQ(w.inUseChunks, 0u);
    EXPECT_EQ(w.freeChunks, 0u) << "all free memory is the top again";
}

}  // namespace
