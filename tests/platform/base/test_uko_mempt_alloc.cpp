// Allocation from the partitions: block heads, the four outcomes of a free, the failure
// report, reallocation, aligned blocks, reference counts, lookups, growth, debug blocks
// and page locking.

#include <gtest/gtest.h>

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "heap_walk.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "v_dlmem.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"

namespace {

using heap_test::Peek64;
using heap_test::Poke64;

UKO_MEMPT_CB& Cb(uint8_t no) { return m_pstMemPtCb[no]; }
uint64_t Used(uint8_t no) { return Cb(no).uvUsedSize; }
uint64_t WordBefore(const void* p) { return Peek64(static_cast<const uint8_t*>(p) - 8); }

// Hooks record their last call.
struct HookLog {
    int calls = 0;
    uint8_t ptNo = 0;
    void* addr = nullptr;
    uint32_t handle = 0;
    uint32_t code = 0;
    uint64_t size = 0;
    std::string file;
    uint32_t line = 0;
};
HookLog g_pre, g_fail, g_err, g_idle;

uint32_t PreHook(uint8_t pt, uint32_t h, uint64_t size, const char* file, uint32_t line) {
    g_pre.calls++;
    g_pre.ptNo = pt;
    g_pre.handle = h;
    g_pre.size = size;
    g_pre.file = file != nullptr ? file : "(none)";
    g_pre.line = line;
    return 0;
}
uint32_t FailHook(uint8_t pt, uint32_t h, uint64_t size, const char* file, uint32_t line) {
    g_fail.calls++;
    g_fail.ptNo = pt;
    g_fail.handle = h;
    g_fail.size = size;
    g_fail.file = file != nullptr ? file : "(none)";
    g_fail.line = line;
    return 0;
}
void ErrHook(uint8_t pt, void* addr, uint32_t h, uint32_t code) {
    g_err.calls++;
    g_err.ptNo = pt;
    g_err.addr = addr;
    g_err.handle = h;
    g_err.code = code;
}

struct MemAlloc : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        g_pre = g_fail = g_err = HookLog{};
        used0 = Used(0);
    }
    void TearDown() override {
        (void)UKO_MemAllocPreHookReg(nullptr);
        (void)UKO_MemAllocFailHookReg(nullptr);
        UKO_MemErrHookReg(nullptr);
        EXPECT_EQ(Used(0), used0) << "the test left blocks in the system partition";
    }
    uint8_t MakePt(const char* name, uint64_t size) {
        uint8_t no = 255;
        EXPECT_EQ(UKO_MemPtCreateEx(name, "DLM", nullptr, nullptr, size, &no), 0u);
        return no;
    }
    uint64_t used0 = 0;
};

TEST_F(MemAlloc, BlockHeadNamesPartitionAndOwner) {
    void* p = UKO_MemAlloc(0x12345, 0, 2005);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    uint64_t w = WordBefore(p);
    EXPECT_EQ(w & 0xF000000F, 0xB000000Du);
    EXPECT_EQ(w >> 32, 0u);
    EXPECT_EQ((w >> 4) & 0xFF, 0u);
    EXPECT_EQ((w >> 12) & 0xFFFF, 0x2345u);
    EXPECT_EQ(ukoMemHeadCheck(p), 0u);
    // The charge is what the algorithm reserved for the request and the head.
    uint64_t charged = Used(0) - used0;
    EXPECT_GE(charged, 2005u + 8);
    EXPECT_EQ(Cb(0).pPieceList->uvUsed, Used(0));
    std::memset(p, 0xA5, 2005);
    // The handle argument of a free is not read: the head names the owner.
    EXPECT_EQ(UKO_MemFree(7, p), 0u);
    EXPECT_EQ(Used(0), used0);

    uint8_t no = MakePt("HEADPT", 64 * 1024);
    void* q = UKO_MemAlloc_F(3, no, 10, "f.c", 12);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ((WordBefore(q) >> 4) & 0xFF, no);
    EXPECT_EQ(UKO_MemFree_F(0, q, "f.c", 13), 0u);
    EXPECT_EQ(UKO_MemPtDelete(no), 0u);
}

TEST_F(MemAlloc, RefusedRequestsChangeNothing) {
    struct Case {
        const char* what;
        uint8_t pt;
        uint64_t size;
        bool twin;
        const char* message;
    } cases[] = {
        {"size 0", 0, 0, false, "[ZIRPA-UKO_MemAlloc]:Invalid param ucPtNo(0) or uvSize(0)."},
        {"partition 8", 8, 16, false, "[ZIRPA-UKO_MemAlloc]:Invalid param ucPtNo(8) or uvSize(16)."},
        {"partition 255", 255, 16, true, "[ZIRPA-UKO_MemAlloc_F]:Invalid param ucPtNo(255) or uvSize(16)."},
        {"empty slot", 5, 16, false, "[ZIRPA-UKO_MemAlloc]: MemPt(5) is not installed or PT may be damaged."},
        {"empty slot, twin", 5, 16, true, "[ZIRPA-UKO_MemAlloc_F]: MemPt(5) is not installed."},
        {"size wraps", 0, ~uint64_t{0} - 3, false, "[ZIRPA-UKO_MemAlloc]: uvSize(18446744073709551612) is too big."},
    };
    for (const Case& c : cases) {
        vt_test::LogCapture cap;
        errno = 0;
        void* p = c.twin ? UKO_MemAlloc_F(0, c.pt, c.size, "x.c", 1) : UKO_MemAlloc(0, c.pt, c.size);
        EXPECT_EQ(p, nullptr) << c.what;
        EXPECT_EQ(errno, 22) << c.what;
        ASSERT_EQ(cap.Records().size(), 1u) << c.what;
        EXPECT_EQ(cap.Records()[0].text, c.message) << c.what;
        EXPECT_EQ(cap.Records()[0].moduleId, 0x2118) << c.what;
        EXPECT_EQ(cap.Records()[0].code, 22) << c.what;
        EXPECT_EQ(cap.Records()[0].source, "uko_mempt") << c.what;
        EXPECT_EQ(Used(0), used0) << c.what;
    }
}

TEST_F(MemAlloc, PreHookSeesEveryAttemptWithFileAndLineOfTheTwin) {
    (void)UKO_MemAllocPreHookReg(PreHook);
    void* p = UKO_MemAlloc_F(42, 0, 100, "caller.c", 77);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(g_pre.calls, 1);
    EXPECT_EQ(g_pre.handle, 42u);
    EXPECT_EQ(g_pre.size, 100u);
    EXPECT_EQ(g_pre.file, "caller.c");
    EXPECT_EQ(g_pre.line, 77u);
    void* q = UKO_MemAlloc(42, 0, 100);
    EXPECT_EQ(g_pre.file, "(none)");
    EXPECT_EQ(g_pre.line, 0u);
    // Called under the lock before the size check.
    EXPECT_EQ(UKO_MemAlloc(42, 0, ~uint64_t{0}), nullptr);
    EXPECT_EQ(g_pre.calls, 3);
    EXPECT_EQ(UKO_MemFree(0, p), 0u);
    EXPECT_EQ(UKO_MemFree(0, q), 0u);
}

TEST_F(MemAlloc, FreeOfNullAndForeignPointers) {
    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MemFree(0, nullptr), 22u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemFree]:The Param pAddr is null.").size(), 1u);
    uint64_t onStack[4] = {0, 0, 0, 0};
    EXPECT_EQ(UKO_MemFree(0, &onStack[2]), 22u);
    auto* host = static_cast<uint8_t*>(std::malloc(64));
    EXPECT_EQ(UKO_MemFree(0, host), 22u);
    EXPECT_EQ(UKO_MemFree(0, host + 13), 22u);  // not even aligned
    std::free(host);
    // A head whose partition is out of range.
    onStack[1] = 0xB000000D | (uint64_t{9} << 4);
    EXPECT_EQ(UKO_MemFree(0, &onStack[2]), 22u);
    // A head of an empty slot.
    onStack[1] = 0xB000000D | (uint64_t{6} << 4);
    EXPECT_EQ(UKO_MemFree(0, &onStack[2]), 22u);
    EXPECT_EQ(cap.Matching("Inval Param pAddr(0x").size(), 4u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemFree]: the MemPtNo(6) is not install.").size(), 1u);
    EXPECT_EQ(Used(0), used0);
}

TEST_F(MemAlloc, RepeatedFreeIsReportedOnceAndCountsNothing) {
    UKO_MemErrHookReg(ErrHook);
    for (uint64_t size : {uint64_t{100}, uint64_t{2005}}) {  // a slice and a large block
        void* keep = UKO_MemAlloc(0, 0, size);  // keeps the slice's page alive
        void* p = UKO_MemAlloc(0, 0, size);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
        uint64_t usedAfter = Used(0);
        vt_test::LogCapture cap;
        errno = 0;
        EXPECT_EQ(UKO_MemFree(0, p), 0x2118272Cu) << size;
        EXPECT_EQ(errno, static_cast<int>(0x21182732)) << size;
        auto recs = cap.Records();
        ASSERT_EQ(recs.size(), 1u) << size;
        EXPECT_EQ(recs[0].code, 0x2732);
        EXPECT_EQ(recs[0].moduleId, 0x2118);
        char head[128];
        std::snprintf(head, sizeof(head), "[ZIRPA-UKO_MemFree]:pAddress(0x%p) repeatly free memory.", p);
        EXPECT_EQ(recs[0].text.rfind(head, 0), 0u) << recs[0].text;
        EXPECT_NE(recs[0].text.find("Pt SYSPT has totalsize "), std::string::npos);
        EXPECT_NE(recs[0].text.find("handle = 0, Handle Name = uko.sys, Ptno = 0,Refree File[line] = null[0]"),
                  std::string::npos)
            << recs[0].text;
        EXPECT_EQ(Used(0), usedAfter);
        EXPECT_EQ(g_err.code, 0x21182732u);
        EXPECT_EQ(g_err.addr, p);
        ASSERT_EQ(UKO_MemFree(0, keep), 0u);
    }
    // The twin names the last and the repeated free's places.
    void* p = UKO_MemAlloc(0, 0, 100);
    void* keep = UKO_MemAlloc(0, 0, 100);
    ASSERT_EQ(UKO_MemFree_F(0, p, "a.c", 1), 0u);
    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MemFree_F(0, p, "a.c", 2), 0x2118272Cu);
    EXPECT_EQ(cap.Matching("Last free File[line] = null[0], Refree File[line] = null[0]").size(), 1u);
    EXPECT_EQ(UKO_MemFree(0, keep), 0u);
}

TEST_F(MemAlloc, DamagedBlockIsNotFreed) {
    UKO_MemErrHookReg(ErrHook);
    void* p = UKO_MemAlloc(5, 0, 200);
    ASSERT_NE(p, nullptr);
    uint8_t* dlmHead = static_cast<uint8_t*>(p) - 8 - 16;
    uint64_t tag = Peek64(dlmHead);
    Poke64(dlmHead, 0x1234);
    uint32_t damage0 = m_uiMemDamageCount.load();
    uint64_t usedBefore = Used(0);
    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MemFree(0, p), 0x21182733u);
    EXPECT_EQ(m_uiMemDamageCount.load(), damage0 + 1);
    EXPECT_EQ(Used(0), usedBefore);
    EXPECT_EQ(g_err.code, 0x21182733u);
    EXPECT_EQ(g_err.handle, 5u);
    EXPECT_EQ(cap.Matching("memory free pAddress(0x").size(), 1u);
    EXPECT_EQ(cap.Matching("Free File[line] = null[0]").size(), 1u);
    Poke64(dlmHead, tag);
    EXPECT_EQ(UKO_MemFree(0, p), 0u);
}

TEST_F(MemAlloc, ExhaustionReportsAndFreeingEverythingEmptiesThePartition) {
    uint8_t no = MakePt("EXHAUST", 1024 * 1024);
    (void)UKO_MemAllocFailHookReg(FailHook);
    UKO_MemErrHookReg(ErrHook);
    std::vector<void*> blocks;
    vt_test::LogCapture cap;
    for (;;) {
        void* p = UKO_MemAlloc_F(0, no, 64 * 1024, "exhaust.c", 9);
        if (p == nullptr) break;
        blocks.push_back(p);
        ASSERT_LT(blocks.size(), 100u);
    }
    EXPECT_GE(blocks.size(), 14u);
    EXPECT_EQ(errno, static_cast<int>(0x21182731));
    auto recs = cap.Records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].code, 0x2731);
    EXPECT_EQ(recs[0].moduleId, 0x2118);
    const UKO_MEMPT_CB& cb = Cb(no);
    char expected[512];
    std::snprintf(expected, sizeof(expected),
                  "[ZIRPA-UKO_MemAlloc_F]:alloc size(65536) failed info.\r\n"
                  "PtNo=%u,PtName=EXHAUST,PtTotalSize=%lu,PtFreeSize=%lu\r\n"
                  "AppendSwitch=0,AppendNum=0,AppendedSize=0\r\n"
                  "Handle=0,HandleName=uko.sys,AllocFile[Line]=null[0]",
                  unsigned(no), static_cast<unsigned long>(cb.uvTotalSize),
                  static_cast<unsigned long>(cb.uvTotalSize - cb.uvUsedSize));
    EXPECT_EQ(recs[0].text, expected);
    EXPECT_EQ(g_err.calls, 1);
    EXPECT_EQ(g_err.code, 0x21182731u);
    EXPECT_EQ(g_err.addr, nullptr);
    EXPECT_EQ(g_fail.calls, 1);
    EXPECT_EQ(g_fail.size, 65536u);
    EXPECT_EQ(g_fail.file, "null");
    EXPECT_EQ(g_fail.line, 0u);
    uint64_t usedFull = cb.uvUsedSize;
    EXPECT_EQ(cb.pPieceList->uvUsed, usedFull);
    for (void* p : blocks) {
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
    }
    EXPECT_EQ(cb.uvUsedSize, 0u);
    EXPECT_EQ(cb.pPieceList->uvUsed, 0u);
    EXPECT_EQ(UKO_MemPtDelete(no), 0u);
}

TEST_F(MemAlloc, SystemPartitionExhaustsAndRecovers) {
    std::vector<void*> blocks;
    vt_test::LogCapture cap;
    for (;;) {
        void* p = UKO_MemAlloc(0, 0, 64 * 1024);
        if (p == nullptr) break;
        blocks.push_back(p);
        ASSERT_LT(blocks.size(), 1000u);
    }
    EXPECT_GT(blocks.size(), 400u);
    auto recs = cap.Matching("[ZIRPA-UKO_MemAlloc]:alloc size(65536) failed info.\r\nPtNo=0,PtName=SYSPT,");
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_NE(recs[0].text.find("\r\nAppendSwitch=0,AppendNum=0,AppendedSize=0\r\n"), std::string::npos);
    for (void* p : blocks) {
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
    }
    EXPECT_EQ(Used(0), used0);
    void* p = UKO_MemAlloc(0, 0, 64 * 1024);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(UKO_MemFree(0, p), 0u);
}

// Two partitions fail at the same time on two threads: each report must come out whole,
// never mixed with the other's.
struct FailArgs {
    uint8_t no;
    int rounds;
};
void* FailLoop(void* arg) {
    auto* a = static_cast<FailArgs*>(arg);
    for (int i = 0; i < a->rounds; ++i) {
        if (UKO_MemAlloc(0, a->no, 4 * 1024 * 1024) != nullptr) return arg;
    }
    return nullptr;
}

TEST_F(MemAlloc, ConcurrentFailureReportsStayWhole) {
    uint8_t a = MakePt("A", 64 * 1024);
    uint8_t b = MakePt("LONGERNAMEDPT", 128 * 1024);
    std::string expect[2];
    for (int i = 0; i < 2; ++i) {
        const UKO_MEMPT_CB& cb = Cb(i == 0 ? a : b);
        char buf[512];
        std::snprintf(buf, sizeof(buf),
                      "[ZIRPA-UKO_MemAlloc]:alloc size(4194304) failed info.\r\n"
                      "PtNo=%u,PtName=%s,PtTotalSize=%lu,PtFreeSize=%lu\r\n"
                      "AppendSwitch=0,AppendNum=0,AppendedSize=0\r\n"
                      "Handle=0,HandleName=uko.sys,AllocFile[Line]=null[0]",
                      unsigned(i == 0 ? a : b), cb.acName, static_cast<unsigned long>(cb.uvTotalSize),
                      static_cast<unsigned long>(cb.uvTotalSize));
        expect[i] = buf;
    }
    vt_test::LogCapture cap;
    FailArgs fa{a, 1000}, fb{b, 1000};
    pthread_t ta, tb;
    ASSERT_EQ(pthread_create(&ta, nullptr, FailLoop, &fa), 0);
    ASSERT_EQ(pthread_create(&tb, nullptr, FailLoop, &fb), 0);
    void* ra = nullptr;
    void* rb = nullptr;
    pthread_join(ta, &ra);
    pthread_join(tb, &rb);
    EXPECT_EQ(ra, nullptr);
    EXPECT_EQ(rb, nullptr);
    auto recs = cap.Records();
    ASSERT_EQ(recs.size(), 2000u);
    int seen[2] = {0, 0};
    for (const auto& r : recs) {
        if (r.text == expect[0]) {
            seen[0]++;
        } else if (r.text == expect[1]) {
            seen[1]++;
        } else {
            ADD_FAILURE() << "mixed report: " << r.text;
            break;
        }
    }
    EXPECT_EQ(seen[0], 1000);
    EXPECT_EQ(seen[1], 1000);
    EXPECT_EQ(UKO_MemPtDelete(a), 0u);
    EXPECT_EQ(UKO_MemPtDelete(b), 0u);
}

TEST_F(MemAlloc, Reallocation) {
    // NULL allocates.
    auto* p = static_cast<uint8_t*>(UKO_MemReAlloc(3, 0, nullptr, 40));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 40; ++i) p[i] = static_cast<uint8_t>(i);
    uint64_t usable = ukoMemUsableSizeGet(0, p);
    EXPECT_EQ(usable, 64u - 16 - 8);  // class 64 for 40 + 8 + 16 bytes
    // Larger: the old usable bytes come along.
    auto* q = static_cast<uint8_t*>(UKO_MemReAlloc(3, 0, p, 5000));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(q[i], i);
    EXPECT_EQ((WordBefore(q) >> 12) & 0xFFFF, 3u);
    // Smaller: only the new size is copied.
    std::memset(q, 0x7E, 5000);
    auto* r = static_cast<uint8_t*>(UKO_MemReAlloc_F(3, 0, q, 16, "r.c", 5));
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(r[i], 0x7E);
    // Size 0 frees and gives NULL.
    uint64_t before = Used(0);
    EXPECT_EQ(UKO_MemReAlloc(3, 0, r, 0), nullptr);
    EXPECT_LT(Used(0), before);
    // An address outside every partition is refused and nothing is freed.
    uint64_t onStack[4] = {0, 0xB000000D, 0, 0};
    vt_test::LogCapture cap;
    before = Used(0);
    EXPECT_EQ(UKO_MemReAlloc(0, 0, &onStack[2], 64), nullptr);
    EXPECT_EQ(errno, 22);
    EXPECT_EQ(cap.Matching("is not in any PtNo").size(), 1u);
    EXPECT_EQ(Used(0), before);
}

TEST_F(MemAlloc, AlignedBlocksCarryATagThatLeadsBackToTheirHead) {
    for (uint32_t align : {8u, 16u, 32u, 64u, 128u}) {
        std::vector<uint8_t*> blocks;
        for (int i = 0; i < 6; ++i) {
            auto* p = static_cast<uint8_t*>(UKO_MemAllocAlignN(9, 0, 24 + 40 * i, align));
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % align, 0u) << align;
            std::memset(p, 0x3C, 24 + 40 * i);
            uint64_t w = WordBefore(p);
            if ((w & 0xF000000F) != 0xB000000D) {
                // Moved: a tag with the distance back to the allocation's pointer.
                ASSERT_EQ(w & ~uint64_t{0xFF000}, 0xADD00BEEu) << std::hex << w;
                uint64_t dist = (w >> 12) & 0xFF;
                ASSERT_GT(dist, 0u);
                ASSERT_LT(dist, align);
                ASSERT_EQ(ukoMemHeadCheck(p - dist), 0u);
                EXPECT_EQ((WordBefore(p - dist) >> 12) & 0xFFFF, 9u);
            } else {
                EXPECT_EQ((w >> 12) & 0xFFFF, 9u);
            }
            uint8_t pt = 255;
            EXPECT_EQ(UKO_MemPtFind(p, &pt, 255), 0u);
            blocks.push_back(p);
        }
        // Reference counts go through the tag.
        uint32_t count = 0;
        ASSERT_EQ(UKO_MemRefGet(blocks[0], &count), 0u);
        EXPECT_EQ(count, 1u);
        ASSERT_EQ(UKO_MemRefInc(blocks[0]), 0u);
        ASSERT_EQ(UKO_MemRefGet(blocks[0], &count), 0u);
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(UKO_MemFree(0, blocks[0]), 0u);  // drops one reference
        ASSERT_EQ(UKO_MemRefGet(blocks[0], &count), 0u);
        EXPECT_EQ(count, 1u);
        // Reallocation copies the aligned bytes.
        auto* moved = static_cast<uint8_t*>(UKO_MemReAlloc(9, 0, blocks[1], 3000));
        ASSERT_NE(moved, nullptr);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(moved[i], 0x3C);
        blocks[1] = moved;
        for (uint8_t* p : blocks) {
            ASSERT_EQ(UKO_MemFree(0, p), 0u) << align;
        }
    }
    EXPECT_EQ(Used(0), used0);
}

TEST_F(MemAlloc, AlignmentRefusals) {
    struct Case {
        uint64_t size;
        uint32_t align;
        const char* message;
    } cases[] = {
        {16, 4, "The Param ulAlignByte(4) is not correct! "},
        {16, 256, "The Param ulAlignByte(256) is not correct! "},
        {16, 0, "The Param ulAlignByte(0) is not correct! "},
        {0, 16, "malloc 0 byte memory!"},
        {~uint64_t{0} - 8, 16, "is too big!"},
    };
    for (const Case& c : cases) {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemAllocAlignN(0, 0, c.size, c.align), nullptr) << c.message;
        EXPECT_EQ(errno, 22);
        ASSERT_EQ(cap.Matching(c.message).size(), 1u) << c.message;
        EXPECT_EQ(cap.Matching(c.message)[0].source, "uko_mempt");
        EXPECT_EQ(UKO_MemAllocAlignN_F(0, 0, c.size, c.align, "f", 1), nullptr);
        ASSERT_EQ(cap.Matching(c.message).size(), 2u);
        EXPECT_EQ(cap.Matching(c.message)[1].source, "uko_mempt_ext");
    }
}

TEST_F(MemAlloc, ReferenceCounts) {
    void* keep = UKO_MemAlloc(0, 0, 300);
    void* p = UKO_MemAlloc(0, 0, 300);
    ASSERT_NE(p, nullptr);
    uint32_t count = 0;
    for (int i = 1; i < 255; ++i) {
        ASSERT_EQ(UKO_MemRefInc(p), 0u) << i;
    }
    ASSERT_EQ(UKO_MemRefGet(p, &count), 0u);
    EXPECT_EQ(count, 255u);
    {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemRefInc(p), 0x2118272Au);
        EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemRefInc]:The slice reference overload.").size(), 1u);
    }
    ASSERT_EQ(UKO_MemRefGet(p, &count), 0u);
    EXPECT_EQ(count, 255u);
    uint64_t before = Used(0);
    for (int i = 0; i < 254; ++i) {
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
    }
    EXPECT_EQ(Used(0), before);  // still referenced: nothing counted
    ASSERT_EQ(UKO_MemFree(0, p), 0u);
    EXPECT_LT(Used(0), before);
    {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemRefInc(p), 0x2118272Bu);  // freed: count 0
        EXPECT_EQ(cap.Matching("The slice reference is zero.").size(), 1u);
        uint64_t onStack[2] = {0, 0};
        EXPECT_EQ(UKO_MemRefInc(&onStack[1]), 22u);
        EXPECT_EQ(cap.Matching("Mem(0x").size(), 1u);
        EXPECT_EQ(UKO_MemRefInc(nullptr), 22u);
        EXPECT_EQ(UKO_MemRefGet(&onStack[1], &count), 22u);
        EXPECT_EQ(UKO_MemRefGet(keep, nullptr), 22u);
    }
    ASSERT_EQ(UKO_MemFree(0, keep), 0u);
}

TEST_F(MemAlloc, AddressLookups) {
    auto* p = static_cast<uint8_t*>(UKO_MemAlloc(0, 0, 64));
    ASSERT_NE(p, nullptr);
    const UKO_MEMPT_PIECE_HEAD* pc = Cb(0).pPieceList;
    const uint8_t* pieceEnd = reinterpret_cast<const uint8_t*>(pc->uvStart + pc->uvSize);
    uint64_t onStack = 0;
    uint8_t no = 255;
    EXPECT_EQ(UKO_MemPtFind(p, &no, 255), 0u);
    EXPECT_EQ(no, 0);
    EXPECT_EQ(UKO_MemPtFind(p, &no, 0), 0u);  // the caller holds partition 0's lock
    EXPECT_EQ(UKO_MemPtFind(&onStack, &no, 255), 22u);
    EXPECT_EQ(UKO_MemPtFind(nullptr, &no, 255), 22u);
    EXPECT_EQ(UKO_MemAddrInZirpaRangeIs(p), 1u);
    EXPECT_EQ(UKO_MemAddrInZirpaRangeIs(&onStack), 0u);
    EXPECT_EQ(UKO_MemAddrInZirpaRangeIs(nullptr), 0u);
    EXPECT_EQ(UKO_MemAddrInZirpaRangeIs(pieceEnd), 0u);
    EXPECT_EQ(UKO_MemAddrInZirpaRangeIs(pieceEnd - 1), 1u);

    uint64_t remain = 0;
    EXPECT_EQ(UKO_MemInZIRPARange(p, p + 64, &remain), 1u);
    EXPECT_EQ(UKO_MemInZIRPARange(p, pieceEnd + 10, &remain), 0u);
    EXPECT_EQ(remain, static_cast<uint64_t>(pieceEnd - p));
    EXPECT_EQ(UKO_MemInZIRPARange(&onStack, &onStack + 1, &remain), 0u);
    EXPECT_EQ(remain, ~uint64_t{0});
    {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemInZIRPARange(nullptr, p, &remain), 0u);
        EXPECT_EQ(UKO_MemInZIRPARange(p, nullptr, &remain), 0u);
        EXPECT_EQ(UKO_MemInZIRPARange(p + 8, p, &remain), 0u);
        EXPECT_EQ(cap.Matching("Invalid begin address").size(), 1u);
        EXPECT_EQ(cap.Matching("Invalid end address").size(), 1u);
        EXPECT_EQ(cap.Matching("> end address").size(), 1u);
    }
    EXPECT_EQ(ukoMemHeadCheck(p), 0u);
    EXPECT_EQ(ukoMemHeadCheck(p + 8), 22u);
    EXPECT_EQ(ukoMemHeadCheck(nullptr), 22u);
    EXPECT_EQ(UKO_MemFree(0, p), 0u);
}

TEST_F(MemAlloc, AutomaticGrowthAddsAPieceAndFreeGivesItBack) {
    uint8_t no = MakePt("GROWPT", 64 * 1024);
    UKO_MEMPT_CB& cb = Cb(no);
    // Growth is switched on by the growth settings; here the flag is set directly.
    cb.uiFlags |= UKO_MEMPT_FLAG_AUTO_APPEND;
    std::vector<void*> blocks;
    for (int i = 0; i < 40 && cb.uiAppendNum == 0; ++i) {
        void* p = UKO_MemAlloc(0, no, 4000);
        ASSERT_NE(p, nullptr) << i;
        blocks.push_back(p);
    }
    ASSERT_EQ(cb.uiAppendNum, 1u);
    ASSERT_NE(cb.pPieceList, nullptr);
    const UKO_MEMPT_PIECE_HEAD* added = cb.pPieceList;  // new pieces go to the front
    EXPECT_EQ(added->uiType, UKO_MEMPT_PIECE_HOST);
    EXPECT_EQ(added->uvSize, ((32 * 1024 + 300 + 7) / 8) * 8);
    EXPECT_EQ(added->pNext->uiType, UKO_MEMPT_PIECE_FIRST);
    // The block that caused the growth is charged to the new piece.
    EXPECT_GT(added->uvUsed, 0u);
    EXPECT_EQ(added->uvUsed + added->pNext->uvUsed, cb.uvUsedSize);
    // A request larger than a default piece grows by the request.
    void* big = UKO_MemAlloc(0, no, 40000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(cb.uiAppendNum, 2u);
    EXPECT_EQ(cb.pPieceList->uvSize, ((40000 + 7) / 8 * 8 + 300 + 7) / 8 * 8);
    // Emptied growth pieces go back.
    ASSERT_EQ(UKO_MemFree(0, big), 0u);
    EXPECT_EQ(cb.uiAppendNum, 1u);
    ASSERT_EQ(UKO_MemFree(0, blocks.back()), 0u);
    blocks.pop_back();
    EXPECT_EQ(cb.uiAppendNum, 0u);
    EXPECT_EQ(cb.pPieceList->uiType, UKO_MEMPT_PIECE_FIRST);
    for (void* p : blocks) {
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
    }
    EXPECT_EQ(cb.uvUsedSize, 0u);
    EXPECT_EQ(UKO_MemPtDelete(no), 0u);
}

uint64_t SmallestPiece(uint8_t) { return 4096; }

// A growing partition that still cannot serve: a growth step that added a piece too
// small for a slice page keeps the piece and reports it; at the append limit no step
// is taken. Counters, hooks and the report say exactly that.
TEST_F(MemAlloc, FailureAfterGrowthReportsTheAddedPiece) {
    uint8_t no = MakePt("GROWFAIL", 64 * 1024);
    UKO_MEMPT_CB& cb = Cb(no);
    std::vector<void*> blocks;
    for (;;) {
        void* p = UKO_MemAlloc(0, no, 2000);
        if (p == nullptr) break;
        blocks.push_back(p);
        ASSERT_LT(blocks.size(), 100u);
    }
    cb.uiFlags |= UKO_MEMPT_FLAG_AUTO_APPEND;
    cb.pfnAppendSize = SmallestPiece;
    (void)UKO_MemAllocFailHookReg(FailHook);
    UKO_MemErrHookReg(ErrHook);

    struct Case {
        const char* what;
        uint32_t appendMax;
        uint32_t appendNumAfter;
        bool pieceAdded;
    } cases[] = {
        {"a piece is added and the second try fails", 128, 1, true},
        {"the append limit allows no step", 1, 1, false},
    };
    const uint32_t appendMax0 = m_uiMemPtAppendMax;
    for (const Case& c : cases) {
        m_uiMemPtAppendMax = c.appendMax;
        const UKO_MEMPT_PIECE_HEAD* front0 = cb.pPieceList;
        const uint64_t used = cb.uvUsedSize;
        g_fail = g_err = HookLog{};
        vt_test::LogCapture cap;
        errno = 0;
        EXPECT_EQ(UKO_MemAlloc(0, no, 100), nullptr) << c.what;
        m_uiMemPtAppendMax = appendMax0;
        EXPECT_EQ(errno, static_cast<int>(0x21182731)) << c.what;
        EXPECT_EQ(cb.uiAppendNum, c.appendNumAfter) << c.what;
        EXPECT_EQ(cb.pPieceList != front0, c.pieceAdded) << c.what;
        EXPECT_EQ(cb.uvUsedSize, used) << c.what;
        const UKO_MEMPT_PIECE_HEAD* added = cb.pPieceList;
        const uint64_t appended =
            c.pieceAdded ? ukoMemPieceAreaSize(reinterpret_cast<void*>(added->uvStart), added->uvSize) : 0;
        char expected[512];
        std::snprintf(expected, sizeof(expected),
                      "[ZIRPA-UKO_MemAlloc]:alloc size(100) failed info.\r\n"
                      "PtNo=%u,PtName=GROWFAIL,PtTotalSize=%lu,PtFreeSize=%lu\r\n"
                      "AppendSwitch=1,AppendNum=1,AppendedSize=%lu\r\n"
                      "Handle=0,HandleName=uko.sys,AllocFile[Line]=null[0]",
                      unsigned(no), static_cast<unsigned long>(cb.uvTotalSize),
                      static_cast<unsigned long>(cb.uvTotalSize - cb.uvUsedSize),
                      static_cast<unsigned long>(appended));
        auto recs = cap.Records();
        ASSERT_EQ(recs.size(), 1u) << c.what;
        EXPECT_EQ(recs[0].text, expected) << c.what;
        EXPECT_EQ(g_err.calls, 1) << c.what;
        EXPECT_EQ(g_err.code, 0x21182731u) << c.what;
        EXPECT_EQ(g_fail.calls, 1) << c.what;
        EXPECT_EQ(g_fail.size, 100u) << c.what;
    }
    for (void* p : blocks) {
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
    }
    EXPECT_EQ(cb.uvUsedSize, 0u);
    EXPECT_EQ(UKO_MemPtDelete(no), 0u);
}

HookLog g_idleLog;
void IdleHook(uint8_t pt, void* start) {
    g_idleLog.calls++;
    g_idleLog.ptNo = pt;
    g_idleLog.addr = start;
}

TEST_F(MemAlloc, BlocksAreChargedToTheirPieceAndAnEmptiedCallersPieceIsAnnounced) {
    uint8_t no = MakePt("PIECEPT", 64 * 1024);
    UKO_MEMPT_CB& cb = Cb(no);
    // A caller's piece joins the partition as an explicit append would add it.
    const uint64_t areaSize = 64 * 1024;
    auto* raw = static_cast<uint8_t*>(std::malloc(areaSize));
    ASSERT_EQ(cb.stOps.pfnAppend(cb.pAlgoHandle, ukoMemPieceAreaOf(raw), ukoMemPieceAreaSize(raw, areaSize)), 0u);
    ukoMemPieceLink(&cb, raw, areaSize, UKO_MEMPT_SRC_CALLER, UKO_MEMPT_PIECE_CALLER);
    cb.uiAppendNum++;
    cb.uiFlags |= UKO_MEMPT_FLAG_APPENDED;
    UKO_MEMPT_PIECE_HEAD* callerPiece = cb.pPieceList;
    UKO_MEMPT_PIECE_HEAD* firstPiece = callerPiece->pNext;

    (void)UKO_MemPieceIdleHookReg(IdleHook);
    g_idleLog = HookLog{};
    std::vector<void*> blocks;
    void* inCaller = nullptr;
    for (int i = 0; i < 40 && inCaller == nullptr; ++i) {
        void* p = UKO_MemAlloc(0, no, 3000);
        ASSERT_NE(p, nullptr);
        if (ukoMemPieceHolds(callerPiece, reinterpret_cast<uintptr_t>(p))) {
            inCaller = p;
        } else {
            blocks.push_back(p);
        }
    }
    ASSERT_NE(inCaller, nullptr);
    EXPECT_GT(callerPiece->uvUsed, 0u);
    EXPECT_EQ(callerPiece->uvUsed + firstPiece->uvUsed, cb.uvUsedSize);
    ASSERT_EQ(UKO_MemFree(0, inCaller), 0u);
    EXPECT_EQ(callerPiece->uvUsed, 0u);
    EXPECT_EQ(g_idleLog.calls, 1);
    EXPECT_EQ(g_idleLog.ptNo, no);
    EXPECT_EQ(g_idleLog.addr, raw);
    for (void* p : blocks) {
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
    }
    EXPECT_EQ(g_idleLog.calls, 1);  // emptying the first piece announces nothing
    EXPECT_EQ(firstPiece->uvUsed, 0u);
    (void)UKO_MemPieceIdleHookReg(nullptr);
    // Deletion gives the host piece back and leaves the caller's piece to the caller.
    ASSERT_EQ(UKO_MemPtDelete(no), 0u);
    std::memset(raw, 0, areaSize);
    std::free(raw);
}

TEST_F(MemAlloc, DebugInformationBlocks) {
    UKO_MEM_DBG_INFO info0{}, info{};
    ASSERT_EQ(UKO_MemDbgCBInfoGet(&info0), 0u);
    void* a = ukoMemAllocNoDbgInfo(100);
    void* b = ukoMemAllocNoDbgInfo(3000);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(UKO_MemDbgCBInfoGet(&info), 0u);
    EXPECT_EQ(info.uiDbgBlockNum, info0.uiDbgBlockNum + 2);
    EXPECT_EQ(info.uvDbgBlockSize - info0.uvDbgBlockSize, Used(0) - used0);
    EXPECT_NE(ukoMemHeadCheck(a), 0u);  // no partition head
    EXPECT_EQ(ukoMemFreeNoDbgInfo(a), 0u);
    EXPECT_EQ(ukoMemFreeNoDbgInfo(b), 0u);
    ASSERT_EQ(UKO_MemDbgCBInfoGet(&info), 0u);
    EXPECT_EQ(info.uiDbgBlockNum, info0.uiDbgBlockNum);
    EXPECT_EQ(info.uvDbgBlockSize, info0.uvDbgBlockSize);
    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MemDbgCBInfoGet(nullptr), 22u);
    EXPECT_EQ(cap.Matching("The parameters(pstMemDbgInfo) is NULL!").size(), 1u);
}

TEST_F(MemAlloc, PageLocking) {
    {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemMapAllLock(0), 22u);
        EXPECT_EQ(UKO_MemMapAllLock(3), 22u);
        EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemMapAllLock]:param error.[3].").size(), 1u);
    }
    // The lock itself only ever runs in a child process.
    auto r = vt_test::RunInChild([] {
        vt_test::LogCapture cap;
        uint32_t rc = UKO_MemMapAllLock(1);
        FILE* f = std::fopen("/proc/self/status", "r");
        ASSERT_NE(f, nullptr);
        char line[256];
        long locked = -1;
        while (std::fgets(line, sizeof(line), f) != nullptr) {
            if (std::sscanf(line, "VmLck: %ld", &locked) == 1) break;
        }
        std::fclose(f);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // The sanitizers turn mlockall into a no-op that succeeds.
        if (rc == 0) return;
#endif
        if (rc == 0) {
            EXPECT_GT(locked, 0) << "locking succeeded but no page is locked";
            return;
        }
        // Refused (no right to lock this much): reported, and nothing locked.
        EXPECT_EQ(rc, 0x2118273Bu);
        EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemMapAllLock]:call mlockall(1) failed[").size(), 1u);
        EXPECT_EQ(locked, 0);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

}  // namespace
