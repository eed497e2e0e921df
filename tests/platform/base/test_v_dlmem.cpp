#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "heap_walk.h"
#include "osal_lock.h"
#include "v_dlmalloc.h"
#include "v_dlmem.h"
#include "v_dlmem_inner.h"

namespace {

using heap_test::HostBlock;
using heap_test::Peek32;
using heap_test::Peek64;
using heap_test::Poke32;
using heap_test::Poke64;
using heap_test::RecordCapture;

uint8_t* U8(void* p) { return static_cast<uint8_t*>(p); }

constexpr uint64_t kAllOnes = ~uint64_t{0};

const uint16_t kExpectedClasses[60] = {
    24,  32,  40,  48,  56,  64,  72,  80,  88,  96,  104, 112,  120,  128,  136,
    144, 152, 160, 168, 176, 184, 192, 200, 208, 216, 224, 232,  240,  248,  256,
    264, 272, 280, 288, 296, 312, 320, 336, 352, 368, 384, 408,  424,  448,  480,
    512, 544, 584, 624, 680, 744, 816, 904, 1024, 1168, 1360, 1632, 2048, 2728, 4096};

// A formatted arena; every test ends with the counters and the heap consistent.
struct Dlm : ::testing::Test {
    static constexpr size_t kArena = 4 * 1024 * 1024;
    HostBlock block{kArena};
    DLM_CB* cb = nullptr;
    uint64_t total0 = 0;
    uint64_t maxFree0 = 0;
    uint32_t damage0 = 0;

    void SetUp() override {
        cb = DLM_Format(block.p, kArena, nullptr);
        ASSERT_NE(cb, nullptr);
        total0 = Total();
        maxFree0 = DLM_MaxFreeGet(cb);
        damage0 = m_uiMemDamageCount.load();
    }
    void* Alloc(uint64_t n, uint64_t* reserved = nullptr) {
        uint64_t s = n;
        void* p = DLM_Alloc(cb, &s);
        EXPECT_NE(p, nullptr) << "request of " << n;
        if (reserved != nullptr) {
            *reserved = s;
        }
        return p;
    }
    uint32_t Free(void* p, uint64_t* freed = nullptr) {
        uint64_t f = 0;
        uint32_t rc = DLM_Free(cb, p, &f);
        if (freed != nullptr) {
            *freed = f;
        }
        return rc;
    }
    uint64_t Total() {
        uint64_t t = 0;
        uint64_t f = 0;
        DLM_InfoGet(cb, &t, &f);
        return t;
    }
    uint64_t FreeBytes() {
        uint64_t t = 0;
        uint64_t f = 0;
        DLM_InfoGet(cb, &t, &f);
        return f;
    }
    uint64_t Used() {
        uint64_t bytes = 0;
        DLM_SizeGet(cb, &bytes, nullptr);
        return bytes;
    }
    uint32_t Damage() { return m_uiMemDamageCount.load() - damage0; }
    std::pair<uint32_t, uint32_t> Usage(uint32_t type) {
        uint32_t num = 0;
        uint32_t freeNum = 0;
        DLM_TypeUsageGet(cb, type, &num, &freeNum);
        return {num, freeNum};
    }
    void ExpectBalanced() {
        EXPECT_EQ(FreeBytes() + Used(), Total());
        EXPECT_EQ(heap_test::WalkHeap(cb->pMspace, false).error, "");
    }
};

TEST(DlmClasses, SixtyClassSizesAndTheClassOfASize) {
    EXPECT_EQ(DLM_TypeNumGet(), 60u);
    for (uint32_t i = 0; i < 60; ++i) {
        EXPECT_EQ(DLM_TypeSizeGet(i), kExpectedClasses[i]) << i;
        EXPECT_EQ(g_stDlmMemAlgoOps.pfReserved[0](i), kExpectedClasses[i]) << i;
        // The largest classes split an 8192-byte page into exactly n slices.
        if (i >= 35) {
            EXPECT_EQ(8192u / kExpectedClasses[i], 26u - (i - 35)) << i;
        }
    }
    for (uint32_t i : {60u, 61u, 0xFFFFFFFFu}) {
        EXPECT_EQ(DLM_TypeSizeGet(i), 4096u) << i;
    }
    EXPECT_EQ(DLM_HeadSizeAdd(100), 116u);

    struct Case {
        uint64_t size;
        uint32_t type;
    } cases[] = {
        {0, 0},     {8, 0},      {24, 0},     {32, 1},      {296, 34}, {304, 35},
        {312, 35},  {1016, 53},  {1024, 53},  {1032, 60},   {4096, 60}, {kAllOnes, 60},
    };
    for (const Case& c : cases) {
        uint32_t type = 0xAA;
        DLM_SizeToType(nullptr, c.size, &type);  // the configured limit, 1024
        EXPECT_EQ(type, c.type) << c.size;
    }
}

TEST_F(Dlm, RequestsUpToTheLimitTakeSlicesLargerOnesHeapChunks) {
    struct Case {
        uint64_t request;
        uint64_t reserved;
        uint32_t type;
        uint64_t typeSize;
        uint64_t usable;
    } cases[] = {
        {0, 24, 0, 24, 8},
        {8, 24, 0, 24, 8},
        {1000, 1024, 53, 1024, 1008},  // prepared 1016
        {1008, 1024, 53, 1024, 1008},  // prepared 1024, the limit itself
        {1009, 1096, 60, 1096, 1016},  // prepared 1032: a heap chunk of 1032 + 64
        {70000, 70080, 60, 70080, 70000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        uint64_t reserved = 0;
        void* p = Alloc(c.request, &reserved);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
        EXPECT_EQ(reserved, c.reserved);
        uint32_t type = 0;
        uint64_t size = 0;
        EXPECT_EQ(DLM_MemGetTypeAndSize(p, &type, &size), 0u);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.typeSize);
        EXPECT_EQ(DLM_UsableSizeGet(p), c.usable);
        uint64_t bytes = 0;
        uint64_t blocks = 0;
        DLM_SizeGet(cb, &bytes, &blocks);
        EXPECT_EQ(bytes, c.reserved);
        EXPECT_EQ(blocks, 1u);
        // Exactly the usable bytes are the caller's; the head in front is not.
        EXPECT_TRUE(heap_test::Unpoisoned(p, c.usable));
        EXPECT_TRUE(heap_test::Poisoned(U8(p) + c.usable));
        EXPECT_TRUE(heap_test::Poisoned(U8(p) - 1));
        ExpectBalanced();

        uint64_t freed = 0;
        EXPECT_EQ(Free(p, &freed), 0u);
        EXPECT_EQ(freed, c.reserved);
        EXPECT_EQ(Used(), 0u);
        EXPECT_EQ(Total(), total0) << "a page made for the slice went back with it";
        EXPECT_EQ(FreeBytes(), total0);
        EXPECT_EQ(DLM_MaxFreeGet(cb), maxFree0);
    }
}

TEST_F(Dlm, A8192BytePageHolds341SlicesOfClass0) {
    std::vector<void*> blocks;
    for (int i = 0; i < 341; ++i) {
        blocks.push_back(Alloc(8));
    }
    EXPECT_EQ(Usage(0), std::make_pair(341u, 0u));
    EXPECT_EQ(Total(), total0 - 40);
    std::vector<void*> sorted = blocks;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(U8(sorted.back()) - U8(sorted.front()), 340 * 24) << "one page, slices side by side";

    blocks.push_back(Alloc(8));
    EXPECT_EQ(Usage(0), std::make_pair(682u, 340u)) << "the 342nd opens a second page";
    EXPECT_EQ(Total(), total0 - 80);
    ExpectBalanced();

    EXPECT_EQ(Free(blocks.back()), 0u);
    EXPECT_EQ(Usage(0), std::make_pair(341u, 0u)) << "its page went back with its only slice";
    blocks.pop_back();
    for (void* p : blocks) {
        EXPECT_EQ(Free(p), 0u);
    }
    EXPECT_EQ(Usage(0), std::make_pair(0u, 0u));
    EXPECT_EQ(Total(), total0);
    EXPECT_EQ(FreeBytes(), total0);
    EXPECT_EQ(DLM_MaxFreeGet(cb), maxFree0);
    ExpectBalanced();
}

TEST_F(Dlm, AFullPageReturnsToTheFrontOfItsList) {
    std::vector<void*> first;
    for (int i = 0; i < 8; ++i) {
        first.push_back(Alloc(1000));  // class 1024: 8 a page
    }
    void* second = Alloc(1000);
    EXPECT_EQ(Usage(53), std::make_pair(16u, 7u));
    EXPECT_EQ(Free(first[3]), 0u);
    EXPECT_EQ(Alloc(1000), first[3]) << "the freed slice's page is served first";
    void* next = Alloc(1000);
    EXPECT_EQ(U8(next), U8(second) + 1024) << "full again: the second page serves";
    ExpectBalanced();
}

TEST_F(Dlm, ReferenceCountsNeedAsManyFrees) {
    for (uint64_t n : {100u, 5000u}) {
        SCOPED_TRACE(n);
        uint64_t reserved = 0;
        void* p = Alloc(n, &reserved);
        uint32_t count = 0;
        EXPECT_EQ(DLM_GetRef(p, &count), 0u);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(DLM_IncRef(p), 0u);
        EXPECT_EQ(DLM_GetRef(p, &count), 0u);
        EXPECT_EQ(count, 2u);
        uint32_t type = 0;
        uint64_t size = 0;
        EXPECT_EQ(DLM_MemGetTypeAndSize(p, &type, &size), 0u);
        EXPECT_EQ(size, reserved) << "whatever the count";

        uint64_t freed = 99;
        EXPECT_EQ(Free(p, &freed), 1u) << "one reference dropped";
        EXPECT_EQ(Used(), reserved);
        EXPECT_EQ(Free(p, &freed), 0u);
        EXPECT_EQ(freed, reserved);
        EXPECT_EQ(Used(), 0u);

        RecordCapture records;
        EXPECT_EQ(Free(p, &freed), 2u) << "a repeated free";
        EXPECT_EQ(Used(), 0u);
        EXPECT_EQ(DLM_IncRef(p), DLM_ERR_REF_ZERO);
        ASSERT_EQ(records.Count(), 1u);
        EXPECT_EQ(records.Last().format, "[Zirpa-DLM_IncRef]the slice reference is zero.");
        EXPECT_EQ(UKO_ErrnoGet(), DLM_ERR_REF_ZERO);
        ExpectBalanced();
    }
}

TEST_F(Dlm, AReferenceCountStopsAt255) {
    for (uint64_t n : {100u, 5000u}) {
        SCOPED_TRACE(n);
        void* p = Alloc(n);
        for (int i = 0; i < 254; ++i) {
            ASSERT_EQ(DLM_IncRef(p), 0u);
        }
        uint32_t count = 0;
        EXPECT_EQ(DLM_GetRef(p, &count), 0u);
        EXPECT_EQ(count, 255u);
        RecordCapture records;
        EXPECT_EQ(DLM_IncRef(p), DLM_ERR_REF_OVERLOAD);
        ASSERT_EQ(records.Count(), 1u);
        EXPECT_EQ(records.Last().format, "[Zirpa-DLM_IncRef]the slice reference overload.");
        EXPECT_EQ(records.Last().module, 0x210C);
        EXPECT_EQ(records.Last().code, 0x100A);
        EXPECT_EQ(DLM_GetRef(p, &count), 0u);
        EXPECT_EQ(count, 255u);
        for (int i = 0; i < 254; ++i) {
            ASSERT_EQ(Free(p), 1u);
        }
        EXPECT_EQ(Free(p), 0u);
    }
    ExpectBalanced();
}

TEST(DlmRefs, AddressesWithoutAValidHeadAreRefused) {
    // A head with neither pattern, then the block behind it.
    alignas(16) uint64_t fake[4] = {0x12345678, 0, 0, 0};
    void* block = &fake[2];
    RecordCapture records;
    uint32_t count = 7;
    EXPECT_EQ(DLM_IncRef(block), 22u);
    EXPECT_EQ(records.Last().format, "[Zirpa-DLM_IncRef]Invalid address(0x%p).");
    EXPECT_EQ(DLM_GetRef(block, &count), 22u);
    EXPECT_EQ(records.Last().format, "[Zirpa-DLM_GetRef]Invalid address(0x%p).");
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(DLM_IncRef(nullptr), 22u);
    EXPECT_EQ(DLM_GetRef(nullptr, &count), 22u);
    EXPECT_EQ(records.Count(), 4u);
    EXPECT_EQ(fake[0], 0x12345678u);
}

TEST(DlmFormat, TheMinimumSizeFollowsTheSliceLimit) {
    struct Case {
        uint32_t limitWord;  // 0: no configuration record
        uint64_t size;
        bool ok;
    } cases[] = {
        {0, 4580, true},    {0, 4579, false},   {256, 3812, true},
        {256, 3811, false}, {4096, 7652, true}, {4096, 7651, false},
    };
    HostBlock block(16384);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        uint32_t config[3] = {0, 0, c.limitWord};
        RecordCapture records;
        DLM_CB* cb = DLM_Format(block.p, c.size, c.limitWord != 0 ? config : nullptr);
        if (!c.ok) {
            EXPECT_EQ(cb, nullptr);
            ASSERT_EQ(records.Count(), 1u);
            EXPECT_EQ(records.Last().format,
                      "[ZIRPA-%s]:The partition size(%lu) for DLMEM is smaller than min partition "
                      "size(%lu).");
            EXPECT_EQ(records.Last().code, 22);
            EXPECT_EQ(records.Last().module, 0x210C);
            EXPECT_EQ(UKO_ErrnoGet(), 22u);
            continue;
        }
        ASSERT_NE(cb, nullptr);
        EXPECT_EQ(static_cast<void*>(cb), block.p);
        EXPECT_EQ(cb->uiMagic, DLM_CB_MAGIC);
        uint64_t total = 0;
        uint64_t freeBytes = 0;
        EXPECT_EQ(DLM_InfoGet(cb, &total, &freeBytes), 0u);
        EXPECT_EQ(total, c.size - 2520);
        EXPECT_EQ(freeBytes, c.size - 2520);
        EXPECT_EQ(U8(cb->pMspace), block.p + 2520 + 72);
        for (uint32_t i = 0; i < 61; ++i) {
            const DLM_PAGE_HEAD& h = cb->astList[i];
            EXPECT_EQ(h.uiMagic, DLM_PAGE_MAGIC);
            EXPECT_EQ(h.uiType, i);
            EXPECT_EQ(h.pNext, &h);
            EXPECT_EQ(h.pPrev, &h);
        }
    }
}

TEST(DlmFormat, ConfigurationWordsAreTakenOnlyWhenAccepted) {
    struct Case {
        uint32_t pageWord;
        uint32_t limitWord;
        uint32_t class0Slices;  // slices in one page of class 0
        uint32_t limit;
    } cases[] = {
        {4096, 0, 341, 1024},    {16384, 0, 682, 1024}, {8192, 512, 341, 512},
        {16384, 1000, 682, 1024}, {0, 4096, 341, 4096},  {12288, 2048, 341, 2048},
    };
    HostBlock block(1024 * 1024);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pageWord);
        SCOPED_TRACE(c.limitWord);
        uint32_t config[3] = {0xFFFFFFFF, c.pageWord, c.limitWord};
        DLM_CB* cb = DLM_Format(block.p, block.size, config);
        ASSERT_NE(cb, nullptr);
        uint64_t n = 8;
        void* p = DLM_Alloc(cb, &n);
        ASSERT_NE(p, nullptr);
        uint32_t num = 0;
        uint32_t freeNum = 0;
        DLM_TypeUsageGet(cb, 0, &num, &freeNum);
        EXPECT_EQ(num, c.class0Slices);
        // A prepared size of exactly the limit is a slice; 8 more is a heap chunk.
        uint64_t atLimit = c.limit - 16;
        void* s = DLM_Alloc(cb, &atLimit);
        uint32_t type = 0;
        uint64_t size = 0;
        EXPECT_EQ(DLM_MemGetTypeAndSize(s, &type, &size), 0u);
        EXPECT_LT(type, 60u);
        uint64_t above = c.limit - 15;
        void* l = DLM_Alloc(cb, &above);
        EXPECT_EQ(DLM_MemGetTypeAndSize(l, &type, &size), 0u);
        EXPECT_EQ(type, 60u);
        for (void* q : {p, s, l}) {
            uint64_t freed = 0;
            EXPECT_EQ(DLM_Free(cb, q, &freed), 0u);
        }
        // Formatting the memory again is how the next case starts afresh.
    }
}

TEST(DlmPieces, PiecesAreAppendedServedAndTakenBack) {
    // The piece lies below the formatted memory, so the heap's lowest address must move.
    HostBlock block(6 * 1024 * 1024);
    uint8_t* piece = block.p;
    const uint64_t pieceSize = 1024 * 1024;
    DLM_CB* cb = DLM_Format(block.p + 2 * 1024 * 1024, 4 * 1024 * 1024, nullptr);
    ASSERT_NE(cb, nullptr);
    uint64_t total0 = 0;
    uint64_t free0 = 0;
    DLM_InfoGet(cb, &total0, &free0);

    RecordCapture records;
    EXPECT_EQ(DLM_Append(cb, piece, 1024 + 155), 22u);
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]:The piece size(%lu) is smaller than min piece size(%lu).");
    EXPECT_EQ(DLM_Append(nullptr, piece, pieceSize), 22u);

    ASSERT_EQ(DLM_Append(cb, piece, pieceSize), 0u);
    uint64_t total = 0;
    uint64_t freeBytes = 0;
    DLM_InfoGet(cb, &total, &freeBytes);
    EXPECT_EQ(total, total0 + pieceSize - 24);
    EXPECT_EQ(freeBytes, free0 + pieceSize - 24);
    EXPECT_EQ(cb->pPiece, static_cast<void*>(piece));
    EXPECT_EQ(heap_test::WalkHeap(cb->pMspace, false).error, "");

    // Free chunks are searched before the top: the piece serves.
    uint64_t n = 500000;
    void* p = DLM_Alloc(cb, &n);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(U8(p), piece);
    EXPECT_LT(U8(p), piece + pieceSize);

    records.Clear();
    EXPECT_EQ(DLM_UnAppend(cb, piece), 22u) << "a block is in use in it";
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]: Release_unused_segments(0x%p) fail.");
    DLM_InfoGet(cb, &total, &freeBytes);
    EXPECT_EQ(total, total0 + pieceSize - 24);

    uint64_t freed = 0;
    ASSERT_EQ(DLM_Free(cb, p, &freed), 0u);
    EXPECT_EQ(DLM_UnAppend(cb, piece), 0u);
    DLM_InfoGet(cb, &total, &freeBytes);
    EXPECT_EQ(total, total0);
    EXPECT_EQ(freeBytes, free0);
    EXPECT_EQ(cb->pPiece, nullptr);
    EXPECT_TRUE(heap_test::Unpoisoned(piece, pieceSize)) << "the piece is the caller's again";
    EXPECT_EQ(heap_test::WalkHeap(cb->pMspace, false).error, "");

    EXPECT_EQ(DLM_UnAppend(cb, piece), 22u) << "already taken back";
    EXPECT_EQ(DLM_UnAppend(cb, block.p + 1536 * 1024), 22u) << "never appended";
    EXPECT_EQ(DLM_UnAppend(cb, nullptr), 22u);
}

TEST_F(Dlm, ADamagedFreeSliceIsReportedCountedAndAllocationGoesOn) {
    void* a = Alloc(100);  // class 120: 68 slices a page
    uint8_t* page = U8(a) - 16 - 40;
    ASSERT_EQ(Peek32(page), DLM_PAGE_MAGIC);
    uint8_t* nextSlice = U8(a) - 16 + 120;
    Poke64(nextSlice, 0x0BADF00D);

    RecordCapture records;
    void* b = Alloc(100);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(U8(b) < page || U8(b) >= page + 8232) << "not from the damaged page";
    EXPECT_EQ(Damage(), 1u);
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]:The slice with head(0x%lx) is damaged.");
    EXPECT_EQ(records.Last().code, 0x1005);
    EXPECT_EQ(records.Last().module, 0x210C);
    EXPECT_EQ(Usage(12).first, 136u);
    EXPECT_EQ(cb->astList[DLM_DAMAGED_LIST].pNext, reinterpret_cast<DLM_PAGE_HEAD*>(page));
    ExpectBalanced();

    // The damaged page stays out of service until its last slice comes back.
    EXPECT_EQ(Free(a), 0u);
    EXPECT_EQ(cb->astList[DLM_DAMAGED_LIST].pNext, &cb->astList[DLM_DAMAGED_LIST]);
    EXPECT_EQ(Usage(12).first, 68u);
    EXPECT_EQ(Free(b), 0u);
    EXPECT_EQ(Total(), total0);
    ExpectBalanced();
}

TEST_F(Dlm, ADamagedPageIsReportedCountedAndItsSlicesAreNotTrusted) {
    void* a = Alloc(100);
    uint8_t* page = U8(a) - 16 - 40;
    Poke32(page, 0xDEADBEEF);

    RecordCapture records;
    void* b = Alloc(100);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(U8(b) < page || U8(b) >= page + 8232);
    EXPECT_EQ(Damage(), 1u);
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format,
              "[ZIRPA-%s]:The page(0x%p) with magic(0x%x) is damaged. DLM_PAGE_MAGIC is 0x%x.");
    EXPECT_EQ(records.Last().code, 0x1006);

    // Freeing into the damaged page is refused and keeps the block's count.
    EXPECT_EQ(Free(a), DLM_ERR_PAGE_DAMAGED);
    EXPECT_EQ(Damage(), 2u);
    uint32_t count = 0;
    EXPECT_EQ(DLM_GetRef(a, &count), 0u);
    EXPECT_EQ(count, 1u);

    // Size queries answer from a sound page only.
    uint32_t type = 0;
    uint64_t size = 0;
    records.Clear();
    EXPECT_EQ(DLM_MemGetTypeAndSize(a, &type, &size), DLM_ERR_NO_HEAD);
    EXPECT_EQ(type, 0xFFFFFFFFu);
    EXPECT_EQ(size, kAllOnes);
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]:Get the memory head pulBH(0x%p) by pAddr(0x%p) fail.");
    EXPECT_EQ(UKO_ErrnoGet(), DLM_ERR_NO_HEAD);
    EXPECT_EQ(DLM_UsableSizeGet(a), kAllOnes);

    EXPECT_EQ(Free(b), 0u);
}

TEST_F(Dlm, APageFillsUpInFrontOfADamagedOne) {
    // Two full pages of class 120 (68 slices each); one slice back in each puts both on
    // the list, first in front of second.
    std::vector<void*> first;
    std::vector<void*> second;
    for (int i = 0; i < 68; ++i) {
        first.push_back(Alloc(100));
    }
    for (int i = 0; i < 68; ++i) {
        second.push_back(Alloc(100));
    }
    uint8_t* secondPage = U8(second[0]) - 16 - 40;
    ASSERT_EQ(Free(second[5]), 0u);
    ASSERT_EQ(Free(first[5]), 0u);
    ASSERT_EQ(cb->astList[12].pNext, reinterpret_cast<DLM_PAGE_HEAD*>(U8(first[0]) - 56));
    // An overrun from below wipes the second page's head, links and all.
    for (int off = 0; off < 40; off += 8) {
        Poke64(secondPage + off, 0);
    }

    RecordCapture records;
    EXPECT_EQ(Alloc(100), first[5]) << "the front page fills up and leaves the list";
    EXPECT_EQ(records.Count(), 0u);
    void* p = Alloc(100);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(U8(p) < U8(first[0]) - 56 || U8(p) >= U8(first[0]) - 56 + 8232) << "not the full page";
    EXPECT_TRUE(U8(p) < secondPage || U8(p) >= secondPage + 8232) << "not the damaged page";
    EXPECT_EQ(Damage(), 1u);
    ASSERT_EQ(records.Count(), 1u);
    EXPECT_EQ(records.Last().format,
              "[ZIRPA-%s]:The page(0x%p) with magic(0x%x) is damaged. DLM_PAGE_MAGIC is 0x%x.");
    EXPECT_EQ(Free(p), 0u);
    for (void* q : first) {
        EXPECT_EQ(Free(q), 0u);
    }
    EXPECT_EQ(heap_test::WalkHeap(cb->pMspace, false).error, "");
}

TEST_F(Dlm, HeadsThatNameNoSoundOwnerAreRefused) {
    // A slice tag whose distance points 512 KiB back, and one with no pattern at all.
    alignas(16) uint64_t farSlice[4] = {DLM_SLICE_PATTERN | (uint64_t{0xFFFF} << 4) | (1u << 20), 0, 0, 0};
    alignas(16) uint64_t noPattern[4] = {0, 0, 0, 0};
    for (uint64_t* head : {farSlice, noPattern}) {
        void* block = head + 2;
        uint32_t type = 0;
        uint64_t size = 0;
        EXPECT_EQ(DLM_MemGetTypeAndSize(block, &type, &size), DLM_ERR_NO_HEAD);
        EXPECT_EQ(DLM_UsableSizeGet(block), kAllOnes);
    }

    RecordCapture records;
    EXPECT_EQ(Free(noPattern + 2), DLM_ERR_SLICE_DAMAGED);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]:The slice(0x%p) is damaged.");
    EXPECT_EQ(Damage(), 1u);
    EXPECT_EQ(Free(farSlice + 2), DLM_ERR_PAGE_DAMAGED);
    EXPECT_EQ(farSlice[0] & DLM_REF_MASK, uint64_t{1} << 20) << "count restored";
    EXPECT_EQ(Damage(), 2u);

    // A large block whose heap chunk lost its magic: the heap refuses, the block stays.
    uint64_t reserved = 0;
    void* p = Alloc(5000, &reserved);
    uint8_t* chunkMagic = U8(p) - 16 - 72 + 8;
    Poke64(chunkMagic, 0);
    records.Clear();
    EXPECT_EQ(Free(p), DLM_ERR_SLICE_DAMAGED);
    EXPECT_EQ(records.Last().format, "[ZIRPA-%s]: Mem magic(0x%lx) is not the CHUNK_MAGIC(0x%x).");
    uint32_t count = 0;
    EXPECT_EQ(DLM_GetRef(p, &count), 0u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(Used(), reserved);
    uint32_t type = 0;
    uint64_t size = 0;
    EXPECT_EQ(DLM_MemGetTypeAndSize(p, &type, &size), DLM_ERR_NO_HEAD);
    EXPECT_EQ(DLM_UsableSizeGet(p), kAllOnes);
    Poke64(chunkMagic, CHUNK_MAGIC);
    EXPECT_EQ(Free(p), 0u);
    ExpectBalanced();
}

TEST_F(Dlm, TheLargestObtainableBlock) {
    EXPECT_EQ(maxFree0, mspace_largest_free(cb->pMspace) - 16);
    void* big = Alloc(maxFree0);
    ASSERT_NE(big, nullptr);
    uint64_t more = maxFree0;
    EXPECT_EQ(DLM_Alloc(cb, &more), nullptr) << "nothing that large is left";
    EXPECT_EQ(Free(big), 0u);

    // With the heap nearly full, the answer is the largest class that has a free slice.
    void* slice = Alloc(8);
    uint64_t rest = DLM_MaxFreeGet(cb);
    ASSERT_GE(rest, 1024u);
    void* filler = Alloc(rest);
    ASSERT_NE(filler, nullptr);
    EXPECT_LT(mspace_largest_free(cb->pMspace), 1024u);
    EXPECT_EQ(DLM_MaxFreeGet(cb), 24u - 16u);
    EXPECT_EQ(DLM_MaxFreeGet(nullptr), 0u);
    EXPECT_EQ(Free(filler), 0u);
    EXPECT_EQ(Free(slice), 0u);
    ExpectBalanced();
}

TEST_F(Dlm, StatisticsCountSlicesAndLargeBlocks) {
    void* s1 = Alloc(8);
    void* s2 = Alloc(8);
    void* l = Alloc(5000);
    UKO_MEM_ALGO_STAT stat = {7, 1, 2};
    EXPECT_EQ(DLM_StatGet(cb, &stat), &stat);
    EXPECT_EQ(stat.uiReserved, 7u);
    EXPECT_EQ(stat.uiBlockNum, 1u + 341u + 1u);
    EXPECT_EQ(stat.uiUsedBlockNum, 2u + 2u + 1u);
    EXPECT_EQ(DLM_StatGet(nullptr, &stat), nullptr);

    uint64_t bytes = 1;
    uint64_t blocks = 1;
    DLM_SizeGet(cb, &bytes, &blocks);
    EXPECT_EQ(bytes, 24u + 24u + 5000u + 16u + 64u);
    EXPECT_EQ(blocks, 3u);
    DLM_SizeGet(nullptr, &bytes, &blocks);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(blocks, 0u);

    uint32_t num = 0;
    uint32_t freeNum = 0;
    DLM_TypeUsageGet(cb, 60, &num, &freeNum);
    EXPECT_EQ(num, 0xFFFFFFFFu);
    EXPECT_EQ(freeNum, 0xFFFFFFFFu);
    for (void* p : {s1, s2, l}) {
        EXPECT_EQ(Free(p), 0u);
    }
    ExpectBalanced();
}

TEST(DlmOps, TheTableFillsExactlyTheAlgorithmsSlots) {
    const UKO_MEM_ALGO_OPS& ops = g_stDlmMemAlgoOps;
    const void* const* slots = reinterpret_cast<const void* const*>(&ops);
    for (int i = 0; i < 29; ++i) {
        bool filled = (i <= 2) || (i == 4) || (i == 5) || (i >= 7 && i <= 9) || (i >= 11 && i <= 20);
        EXPECT_EQ(slots[i] != nullptr, filled) << "slot " << i;
    }
    // One round trip the way the partition calls it.
    HostBlock block(256 * 1024);
    void* handle = ops.pfnFormat(block.p, block.size, nullptr);
    ASSERT_NE(handle, nullptr);
    uint64_t size = 2005 + 8;
    void* p = ops.pfnAlloc(handle, &size, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(size, 2032u + 64u);
    EXPECT_EQ(ops.pfnUsableSizeGet(p), 2016u);
    EXPECT_EQ(ops.pfReserved[1](2013), 2029u);
    uint32_t type = 0;
    uint64_t typeSize = 0;
    EXPECT_EQ(ops.pfnTypeAndSizeGet(p, &type, &typeSize, 0), 0u);
    EXPECT_EQ(type, 60u);
    uint64_t freed = 0;
    EXPECT_EQ(ops.pfnFree(handle, p, &freed), 0u);
    EXPECT_EQ(freed, size);
    uint64_t total = 0;
    uint64_t freeBytes = 0;
    EXPECT_EQ(ops.pfnInfoGet(handle, &total, &freeBytes, nullptr), 0u);
    EXPECT_EQ(total, freeBytes);
}

#if defined(HEAP_TEST_ASAN)
// Overruns from a slice into its neighbour's head and use after free reach the sanitizer.
TEST(DlmAsanDeathTest, AccessesOutsideAHandedOutBlockAreCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [](int what) {
        HostBlock block(256 * 1024);
        DLM_CB* cb = DLM_Format(block.p, block.size, nullptr);
        uint64_t n = 100;  // usable 104
        volatile uint8_t* p = static_cast<uint8_t*>(DLM_Alloc(cb, &n));
        if (what == 0) {
            p[104] = 1;
        } else {
            uint64_t freed = 0;
            DLM_Free(cb, const_cast<uint8_t*>(p), &freed);
            p[0] = 1;
        }
    };
    EXPECT_DEATH(run(0), "use-after-poison");
    EXPECT_DEATH(run(1), "use-after-poison");
}
#endif

}  // namespace
