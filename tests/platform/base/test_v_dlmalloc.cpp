#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "heap_walk.h"
#include "osal_lock.h"
#include "v_dlmalloc.h"

namespace {

using heap_test::ChunkOf;
using heap_test::HostBlock;
using heap_test::Peek64;
using heap_test::Poke64;
using heap_test::RecordCapture;
using heap_test::SizeOf;
using heap_test::StateOf;
using heap_test::WalkHeap;

uint8_t* U8(void* p) { return static_cast<uint8_t*>(p); }

struct Heap : ::testing::Test {
    static constexpr size_t kArena = 256 * 1024;
    HostBlock block{1024 * 1024};  // the arena, and room behind it for added segments
    void* m = nullptr;

    void SetUp() override {
        m = create_mspace_with_base(block.p, kArena, 0);
        ASSERT_NE(m, nullptr);
    }
    void* Alloc(size_t n) {
        void* p = mspace_malloc(m, n);
        EXPECT_NE(p, nullptr) << "request of " << n;
        return p;
    }
    void Free(void* p) { EXPECT_EQ(mspace_free(m, p), 0u); }
    void ExpectConsistent() {
        heap_test::WalkResult r = WalkHeap(m, true);
        EXPECT_EQ(r.error, "");
    }
    MSPACE_STATE State() { return StateOf(m); }
};

TEST(MspaceIndex, TrieOfASize) {
    struct Case {
        uint64_t size;
        uint32_t index;
    } cases[] = {
        {72, 0},      {255, 0},     {256, 0},      {383, 0},          {384, 1},
        {511, 1},     {512, 2},     {767, 2},      {768, 3},          {1024, 4},
        {1536, 5},    {65535, 15},  {65536, 16},   {0xBFFFFF, 30},    {0xC00000, 31},
        {0xFFFFFF, 31}, {0x1000000, 31}, {~uint64_t{7}, 31},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mspace_tree_index(c.size), c.index) << c.size;
    }
}

TEST_F(Heap, RequestsGetChunksOfTheirRoundedSizePlus64) {
    struct Case {
        size_t request;
        uint64_t chunk;
    } cases[] = {
        {0, 72}, {1, 72}, {8, 72}, {9, 80}, {16, 80}, {17, 88}, {100, 168}, {1000, 1064},
    };
    for (const Case& c : cases) {
        void* p = Alloc(c.request);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u) << c.request;
        EXPECT_EQ(SizeOf(ChunkOf(p)), c.chunk) << c.request;
        EXPECT_EQ(heap_test::HeadOf(ChunkOf(p)) & 3, 3u) << "in use, previous in use";
        // The caller gets chunk - 64 bytes, and not one more.
        EXPECT_TRUE(heap_test::Unpoisoned(p, c.chunk - 64)) << c.request;
        EXPECT_TRUE(heap_test::Poisoned(U8(p) + c.chunk - 64)) << c.request;
        EXPECT_TRUE(heap_test::Poisoned(U8(p) - 1)) << "own header";
        // Carved from the top: the next chunk starts right behind this one.
        void* q = Alloc(1);
        EXPECT_EQ(U8(q), U8(p) + c.chunk) << c.request;
    }
    ExpectConsistent();
}

TEST_F(Heap, OverflowIsReportedAndExhaustionIsNot) {
    RecordCapture records;
    EXPECT_EQ(mspace_malloc(m, SIZE_MAX - 8), nullptr);
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]: The mem bytes(%lu) overflow(%lu).");
    EXPECT_EQ(records.Last().level, 2u);
    EXPECT_EQ(records.Last().module, 0x210C);
    EXPECT_EQ(records.Last().code, 1);
    EXPECT_NE(records.Last().file.find("v_dlmalloc"), std::string::npos);
    EXPECT_EQ(UKO_ErrnoGet(), 1u);

    records.Clear();
    EXPECT_EQ(mspace_malloc(m, kArena), nullptr);
    EXPECT_EQ(records.Count(), 0u) << "an exhausted heap answers NULL silently";
    ExpectConsistent();
}

TEST(MspaceCreate, CapacityBoundsAndLayout) {
    HostBlock block(8192);
    struct Case {
        size_t offset;    // of the base from an aligned address
        size_t capacity;
        bool ok;
    } cases[] = {
        {0, 0, false},    {0, 1096, false}, {0, 1097, true}, {0, 1104, true}, {0, 4096, true},
        {3, 1100, false},  // the alignment takes what little was left
        {3, 4096, true},
    };
    for (const Case& c : cases) {
        RecordCapture records;
        uint8_t* base = block.p + c.offset;
        void* m = create_mspace_with_base(base, c.capacity, 0);
        if (!c.ok) {
            EXPECT_EQ(m, nullptr) << c.capacity;
            ASSERT_EQ(records.Count(), 1u);
            EXPECT_EQ(records.Last().format, "[ZIRPA-%s]: Inval Param base(0x%p), capacity(%ld).");
            EXPECT_EQ(UKO_ErrnoGet(), 1u);
            continue;
        }
        ASSERT_NE(m, nullptr) << c.capacity;
        EXPECT_EQ(records.Count(), 0u);
        size_t shift = (8 - ((reinterpret_cast<uintptr_t>(base) + 72) & 7)) & 7;
        EXPECT_EQ(U8(m), base + shift + 72) << "the state is the caller's memory of the first chunk";
        MSPACE_STATE s = StateOf(m);
        EXPECT_EQ(U8(s.pTop), base + shift + 968);
        EXPECT_EQ(s.uvTopSize, (c.capacity - 1096 - shift) & ~uint64_t{7});
        EXPECT_EQ(s.pLeastAddr, base);
        EXPECT_EQ(s.stSeg.uvSize, c.capacity);
        EXPECT_EQ(s.stSeg.uiFlags, 8u);
        EXPECT_EQ(WalkHeap(m, true).error, "");
    }
    RecordCapture records;
    EXPECT_EQ(create_mspace_with_base(nullptr, 4096, 0), nullptr);
    EXPECT_EQ(create_mspace_with_base(reinterpret_cast<void*>(UINTPTR_MAX - 100), 4096, 0), nullptr)
        << "a capacity that wraps the address space";
    EXPECT_EQ(records.Count(), 2u);
}

TEST_F(Heap, ARemainderBelow256StaysWithTheChunk) {
    void* a = Alloc(240);  // a 304-byte chunk
    Alloc(8);              // keeps it from the top
    ASSERT_EQ(SizeOf(ChunkOf(a)), 304u);
    Free(a);
    ASSERT_EQ(State().pDv, nullptr);
    ASSERT_NE(State().uiTreeMap, 0u);
    void* p = Alloc(8);  // needs 72: 232 would be left over
    EXPECT_EQ(p, a);
    EXPECT_EQ(SizeOf(ChunkOf(p)), 304u);
    EXPECT_EQ(State().uiTreeMap, 0u);
    EXPECT_EQ(State().pDv, nullptr);
    ExpectConsistent();
}

TEST_F(Heap, ALargerRemainderBecomesTheDesignatedVictim) {
    void* a = Alloc(336);  // a 400-byte chunk
    Alloc(8);
    Free(a);
    void* p = Alloc(40);  // needs 104
    EXPECT_EQ(p, a);
    EXPECT_EQ(SizeOf(ChunkOf(p)), 104u);
    MSPACE_STATE s = State();
    EXPECT_EQ(U8(s.pDv), U8(ChunkOf(a)) + 104);
    EXPECT_EQ(s.uvDvSize, 296u);
    EXPECT_EQ(s.uiTreeMap, 0u);
    ExpectConsistent();
    // A request the victim holds exactly takes all of it.
    void* q = Alloc(232);
    EXPECT_EQ(U8(q), U8(a) + 104);
    EXPECT_EQ(State().pDv, nullptr);
    EXPECT_EQ(State().uvDvSize, 0u);
    ExpectConsistent();
}

TEST_F(Heap, FreeMergesWithBothNeighbours) {
    void* a = Alloc(208);  // 272 each
    void* b = Alloc(208);
    void* c = Alloc(208);
    Alloc(8);
    Free(a);
    Free(c);
    EXPECT_EQ(WalkHeap(m, true).freeChunks, 2u);
    Free(b);
    heap_test::WalkResult r = WalkHeap(m, true);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.freeChunks, 1u);
    EXPECT_EQ(r.freeBytes, 3 * 272u);
    EXPECT_EQ(Alloc(3 * 272 - 64), a) << "the merged chunk serves one request of its size";
}

TEST_F(Heap, TheVictimGrowsOverFreedNeighbours) {
    void* a = Alloc(336);  // 400
    void* g = Alloc(136);  // 200
    Alloc(8);
    Free(a);
    void* p = Alloc(40);  // splits a: victim of 296 behind p
    uint8_t* dv = U8(ChunkOf(a)) + 104;
    ASSERT_EQ(U8(State().pDv), dv);

    Free(g);  // its previous chunk is the victim, its next one in use
    EXPECT_EQ(U8(State().pDv), dv);
    EXPECT_EQ(State().uvDvSize, 296u + 200u);
    ExpectConsistent();

    Free(p);  // its next chunk is the victim, which now starts at p
    EXPECT_EQ(State().pDv, ChunkOf(a));
    EXPECT_EQ(State().uvDvSize, 600u);
    EXPECT_EQ(State().uiTreeMap, 0u);
    ExpectConsistent();
}

TEST_F(Heap, FreeingNextToTheTopGrowsTheTop) {
    for (bool lowerFirst : {true, false}) {
        SCOPED_TRACE(lowerFirst ? "lower block first" : "upper block first");
        MSPACE_STATE before = State();
        void* a = Alloc(100);  // 168 each
        void* b = Alloc(100);
        Free(lowerFirst ? a : b);
        Free(lowerFirst ? b : a);
        MSPACE_STATE after = State();
        EXPECT_EQ(after.pTop, before.pTop);
        EXPECT_EQ(after.uvTopSize, before.uvTopSize);
        EXPECT_EQ(after.uiTreeMap, 0u);
        EXPECT_EQ(after.pDv, nullptr);
        ExpectConsistent();
    }
}

TEST_F(Heap, ADamagedMagicIsRefusedWithAReportAndChangesNothing) {
    void* a = Alloc(64);
    Alloc(64);
    std::memset(a, 0x5A, 64);
    MSPACE_STATE before = State();
    uint64_t headBefore = heap_test::HeadOf(ChunkOf(a));
    Poke64(U8(ChunkOf(a)) + 8, 0x12345678);

    RecordCapture records;
    EXPECT_EQ(mspace_free(m, a), 1u);
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]: Mem magic(0x%lx) is not the CHUNK_MAGIC(0x%x).");
    EXPECT_EQ(records.Last().module, 0x210C);
    EXPECT_EQ(records.Last().code, 1);
    EXPECT_EQ(UKO_ErrnoGet(), 1u);

    MSPACE_STATE after = State();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
    EXPECT_EQ(heap_test::HeadOf(ChunkOf(a)), headBefore);
    EXPECT_TRUE(heap_test::Unpoisoned(a, 64)) << "the block is still the caller's";
    EXPECT_EQ(static_cast<uint8_t*>(a)[63], 0x5A);

    Poke64(U8(ChunkOf(a)) + 8, CHUNK_MAGIC);
    EXPECT_EQ(mspace_free(m, a), 0u);
    ExpectConsistent();
}

TEST_F(Heap, RefusedAddressesAreReported) {
    void* freed = Alloc(64);
    Alloc(64);
    Free(freed);
    struct Case {
        const char* name;
        void* address;
        const char* format;
    } cases[] = {
        {"NULL", nullptr, "[ZIRPA-%s]: Inval Param mem(0x%p)."},
        {"repeated free", freed, "[ZIRPA-%s]: The slice is damaged."},
        // Its chunk would start below the heap: refused before anything there is read.
        {"below the heap", block.p + 8, "[ZIRPA-%s]: The slice is damaged."},
    };
    for (const Case& c : cases) {
        MSPACE_STATE before = State();
        RecordCapture records;
        EXPECT_EQ(mspace_free(m, c.address), 1u) << c.name;
        ASSERT_EQ(records.Count(), 1u) << c.name;
        EXPECT_EQ(records.Last().format, c.format) << c.name;
        MSPACE_STATE after = State();
        EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0) << c.name;
    }
    ExpectConsistent();
}

TEST_F(Heap, DamagedFreeChunksAreCutOffNotHandedOut) {
    RecordCapture records;
    {
        SCOPED_TRACE("broken trie root");
        void* x = Alloc(240);  // 304, alone in trie 0
        Alloc(8);
        Free(x);
        Poke64(U8(ChunkOf(x)) + 8, 0);
        void* p = Alloc(200);
        EXPECT_NE(p, x);
        EXPECT_EQ(State().uiTreeMap & 1u, 0u) << "the broken trie is emptied";
    }
    {
        SCOPED_TRACE("broken node below the root");
        void* r = Alloc(456);  // 520
        Alloc(8);
        void* c = Alloc(536);  // 600, same trie as 520
        Alloc(8);
        Free(r);
        Free(c);
        ASSERT_EQ(State().apTreeBins[2], ChunkOf(r));
        Poke64(U8(ChunkOf(c)) + 8, 0);
        void* p = Alloc(536);
        EXPECT_NE(p, c);
        EXPECT_EQ(heap_test::PeekPtr(U8(ChunkOf(r)) + 40), nullptr);
        EXPECT_EQ(heap_test::PeekPtr(U8(ChunkOf(r)) + 48), nullptr);
        EXPECT_EQ(Alloc(456), r) << "the sound root still serves";
    }
    {
        SCOPED_TRACE("broken victim");
        void* a = Alloc(336);
        Alloc(8);
        Free(a);
        Alloc(40);
        MSPACE_CHUNK_HEAD* dv = State().pDv;
        ASSERT_NE(dv, nullptr);
        Poke64(U8(dv) + 8, 0);
        void* q = Alloc(40);
        EXPECT_NE(U8(ChunkOf(q)), U8(dv));
        EXPECT_EQ(State().pDv, nullptr);
        EXPECT_EQ(State().uvDvSize, 0u);
    }
    EXPECT_EQ(records.Count(), 0u) << "damage met while allocating is not reported";
}

TEST_F(Heap, SegmentsAreAddedServedAndReleased) {
    uint8_t* s1 = block.p + 384 * 1024;
    uint8_t* s2 = block.p + 640 * 1024;
    const uint64_t segSize = 64 * 1024;
    mspace_segment_add(m, s1, segSize, 8);
    heap_test::WalkResult r = WalkHeap(m, true);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.segments, 2u);
    EXPECT_EQ(r.freeBytes, segSize - 128) << "all but the record chunk and fences";
    EXPECT_TRUE(heap_test::PoisonedSampled(s1, segSize));

    // The tries come before the top: the segment's chunk serves.
    void* p = Alloc(60000);
    EXPECT_GE(U8(p), s1);
    EXPECT_LT(U8(p), s1 + segSize);
    EXPECT_EQ(Release_unused_segments(m, s1), 0u) << "a block is in use";
    EXPECT_EQ(Release_unused_segments(m, nullptr), 0u);
    Free(p);
    ExpectConsistent();
    EXPECT_EQ(Release_unused_segments(m, s2), 0u) << "no such segment";
    EXPECT_EQ(Release_unused_segments(m, s1), segSize);
    EXPECT_TRUE(heap_test::Unpoisoned(s1, segSize)) << "the memory is the caller's again";
    EXPECT_EQ(Release_unused_segments(m, s1), 0u);
    r = WalkHeap(m, true);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.segments, 1u);
    EXPECT_EQ(r.freeChunks, 0u);

    // A free first chunk is not enough while a later block is in use.
    mspace_segment_add(m, s2, segSize, 8);
    void* x = Alloc(100);
    void* y = Alloc(100);
    ASSERT_EQ(U8(ChunkOf(x)), s2);
    Free(x);
    EXPECT_EQ(Release_unused_segments(m, s2), 0u);
    Free(y);
    EXPECT_EQ(Release_unused_segments(m, nullptr), segSize);
    EXPECT_EQ(State().pDv, nullptr) << "the released chunk was the victim";
    ExpectConsistent();
}

TEST_F(Heap, ADamagedSegmentRecordIsCutOffNotFollowed) {
    uint8_t* s1 = block.p + 384 * 1024;
    uint8_t* s2 = block.p + 640 * 1024;
    const uint64_t segSize = 64 * 1024;
    mspace_segment_add(m, s1, 2 * segSize, 8);
    mspace_segment_add(m, s2, segSize, 8);
    // The newest segment's one free chunk, whole: its caller's bytes end where the
    // segment's record chunk begins.
    const uint64_t usable = segSize - 128 - 64;
    auto* p = static_cast<uint8_t*>(Alloc(usable));
    ASSERT_EQ(U8(ChunkOf(p)), s2);
    // An overrun runs through the record chunk's header into the record itself.
    for (uint64_t off = 0; off < 104; off += 8) {
        Poke64(p + usable + off, 0);
    }

    RecordCapture records;
    EXPECT_EQ(Release_unused_segments(m, nullptr), 0u);
    EXPECT_EQ(Release_unused_segments(m, s1), 0u) << "behind the damage: lost, not followed";
    EXPECT_EQ(records.Count(), 0u);
    EXPECT_EQ(State().stSeg.pNext, nullptr) << "the broken link is cut";
    // The older segment's memory still serves; only its release is lost.
    auto* q = static_cast<uint8_t*>(Alloc(2 * segSize - 128 - 64));
    EXPECT_EQ(q, s1 + 72);
    EXPECT_EQ(mspace_free(m, q), 0u);
    EXPECT_EQ(mspace_free(m, p), 0u);
}

TEST_F(Heap, TheLargestFreeAnswerIsExactlyObtainable) {
    uint64_t largest = mspace_largest_free(m);
    ASSERT_GT(largest, 0u);
    {
        HostBlock other(kArena);
        void* m2 = create_mspace_with_base(other.p, kArena, 0);
        EXPECT_EQ(mspace_malloc(m2, largest + 1), nullptr);
        EXPECT_NE(mspace_malloc(m2, largest), nullptr);
    }
    // A free chunk larger than what the top holds is the answer.
    void* big = Alloc(largest - 4096);
    Alloc(8);
    Free(big);
    EXPECT_EQ(mspace_largest_free(m), SizeOf(ChunkOf(big)) - 64);
    EXPECT_EQ(Alloc(mspace_largest_free(m)), big);
    EXPECT_EQ(mspace_largest_free(m), State().uvTopSize - 72);
}

#if defined(HEAP_TEST_ASAN)
// Overruns and stale accesses inside the arena reach the sanitizer.
TEST(MspaceAsanDeathTest, AccessesOutsideAHandedOutChunkAreCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [](int what) {
        HostBlock block(64 * 1024);
        void* m = create_mspace_with_base(block.p, block.size, 0);
        volatile uint8_t* p = static_cast<uint8_t*>(mspace_malloc(m, 24));  // 32 usable
        if (what == 0) {
            p[32] = 1;
        } else if (what == 1) {
            p[-1] = 1;
        } else {
            mspace_free(m, const_cast<uint8_t*>(p));
            p[0] = 1;
        }
    };
    EXPECT_DEATH(run(0), "use-after-poison");
    EXPECT_DEATH(run(1), "use-after-poison");
    EXPECT_DEATH(run(2), "use-after-poison");
}
#endif

}  // namespace
