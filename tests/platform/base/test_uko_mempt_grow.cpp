// Partition growth: explicit pieces, their limit and their return, the growth settings,
// automatic growth by size and limit, keep-free, and growth switched off again.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "osal_lock.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "v_dlmem.h"
#include "vt_test/platform.h"

namespace {

constexpr uint64_t Round8(uint64_t v) { return (v + 7) / 8 * 8; }

UKO_MEMPT_CB& Cb(uint8_t no) { return m_pstMemPtCb[no]; }

uint32_t PieceCount(uint8_t no) {
    uint32_t n = 0;
    for (const UKO_MEMPT_PIECE_HEAD* pc = Cb(no).pPieceList; pc != nullptr; pc = pc->pNext) ++n;
    return n;
}

// The table lock is free when another thread can take it (the lock is recursive, so
// the test's own thread proves nothing).
bool TableLockFree() {
    bool free = false;
    std::thread t([&] {
        if (OSAL_LockTryLock(&m_stMemPtTableLock) == 0) {
            free = true;
            (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
        }
    });
    t.join();
    return free;
}

// A caller's area with room to spare on both sides.
struct CallerArea {
    explicit CallerArea(size_t n) : size(n), raw(static_cast<uint8_t*>(std::malloc(n + 64))), p(raw + 16) {
        std::memset(raw, 0x5A, n + 64);
    }
    ~CallerArea() { std::free(raw); }
    size_t size;
    uint8_t* raw;
    uint8_t* p;
};

// The growth functions' answers, set per test.
std::atomic<uint64_t> g_growSize{0};
std::atomic<uint64_t> g_keepFree{0};
std::atomic<uint64_t> g_limit{0};
uint64_t GrowSize(uint8_t) { return g_growSize.load(); }
uint64_t KeepFree(uint8_t) { return g_keepFree.load(); }
uint64_t Limit(uint8_t) { return g_limit.load(); }

struct MemPtGrow : ::testing::Test {
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
    void TearDown() override {
        for (void* p : blocks_) EXPECT_EQ(UKO_MemFree(0, p), 0u);
        for (uint8_t no : made_) EXPECT_EQ(UKO_MemPtDelete(no), 0u);
    }
    uint8_t Make(const char* name, uint64_t size, const char* algo = "DLM") {
        uint8_t no = 255;
        EXPECT_EQ(UKO_MemPtCreateEx(name, algo, nullptr, nullptr, size, &no), 0u) << name;
        made_.push_back(no);
        return no;
    }
    void* Alloc(uint8_t no, uint64_t size) {
        void* p = UKO_MemAlloc(0, no, size);
        if (p != nullptr) blocks_.push_back(p);
        return p;
    }
    void Free(void* p) {
        for (size_t i = 0; i < blocks_.size(); ++i) {
            if (blocks_[i] == p) {
                blocks_.erase(blocks_.begin() + static_cast<long>(i));
                break;
            }
        }
        ASSERT_EQ(UKO_MemFree(0, p), 0u);
    }
    // Allocates blocks of the size until the partition has grown by one piece.
    void FillUntilGrown(uint8_t no, uint64_t size) {
        const uint32_t before = Cb(no).uiAppendNum;
        for (int i = 0; i < 2000 && Cb(no).uiAppendNum == before; ++i) {
            ASSERT_NE(Alloc(no, size), nullptr) << i;
        }
        ASSERT_EQ(Cb(no).uiAppendNum, before + 1);
    }
    // A slot with no partition in it.
    uint8_t FreeSlot() {
        for (uint8_t i = 0; i < UKO_MemPtMaxNumGet(); ++i) {
            if (UKO_MemPtIsInstalled(i) == 0) return i;
        }
        ADD_FAILURE() << "no free slot";
        return 0;
    }
    std::vector<uint8_t> made_;
    std::vector<void*> blocks_;
};

TEST_F(MemPtGrow, ExplicitPiecesOfHostAndCallerMemory) {
    uint8_t no = Make("APPENDPT", 64 * 1024);
    const uint64_t total0 = Cb(no).uvTotalSize;
    ASSERT_EQ(UKO_MemPtAppend(no, nullptr, 8192), 0u);
    EXPECT_EQ(Cb(no).uiAppendNum, 1u);
    EXPECT_EQ(Cb(no).uiFlags, UKO_MEMPT_FLAG_APPENDED);
    const UKO_MEMPT_PIECE_HEAD* host = Cb(no).pPieceList;
    EXPECT_EQ(host->uiType, UKO_MEMPT_PIECE_HOST);
    EXPECT_EQ(host->ucSource, UKO_MEMPT_SRC_HOST);
    EXPECT_EQ(host->uvSize, 8192u);
    EXPECT_GT(Cb(no).uvTotalSize, total0) << "the total follows the algorithm";
    EXPECT_EQ(UKO_MemPtTotalSizeGet(no), 64u * 1024 + 8192);

    CallerArea area(64 * 1024);
    ASSERT_EQ(UKO_MemPtAppend(no, area.p, area.size), 0u);
    EXPECT_EQ(Cb(no).uiAppendNum, 2u);
    const UKO_MEMPT_PIECE_HEAD* caller = Cb(no).pPieceList;
    EXPECT_EQ(caller->uiType, UKO_MEMPT_PIECE_CALLER);
    EXPECT_EQ(caller->ucSource, UKO_MEMPT_SRC_CALLER);
    EXPECT_EQ(caller->uvStart, reinterpret_cast<uintptr_t>(area.p));
    EXPECT_EQ(PieceCount(no), 3u);

    // Blocks come from the added pieces once the first is full.
    bool inArea = false;
    for (int i = 0; i < 60 && !inArea; ++i) {
        auto* p = static_cast<uint8_t*>(Alloc(no, 2000));
        ASSERT_NE(p, nullptr) << i;
        inArea = p >= area.p && p < area.p + area.size;
    }
    EXPECT_TRUE(inArea);
    EXPECT_GT(caller->uvUsed, 0u);
    for (void* p : std::vector<void*>(blocks_)) Free(p);
    // Deletion gives the host pieces back and leaves the caller's area whole.
    ASSERT_EQ(UKO_MemPtDelete(no), 0u);
    made_.clear();
    std::memset(area.p, 0x11, area.size);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(area.raw[i], 0x5A);
        EXPECT_EQ(area.p[area.size + i], 0x5A);
    }
}

TEST_F(MemPtGrow, AppendChecks) {
    uint8_t no = Make("APPCHECK", 64 * 1024);
    uint8_t other = Make("APPOTHER", 64 * 1024);
    CallerArea mine(64 * 1024);
    ASSERT_EQ(UKO_MemPtAppend(other, mine.p, mine.size), 0u);
    const auto* sysPiece = Cb(0).pPieceList;
    void* insideSys = reinterpret_cast<void*>(sysPiece->uvStart + sysPiece->uvSize - 5000);
    const auto* firstOfNo = Cb(no).pPieceList;
    void* insideNo = reinterpret_cast<void*>(firstOfNo->uvStart + 100);
    const uint8_t empty = FreeSlot();
    CallerArea spare(8192);
    const uint64_t wrapping = (~uint64_t{0} - reinterpret_cast<uintptr_t>(spare.p)) + 1 + 8192;

    struct Case {
        const char* what;
        uint8_t no;
        void* addr;
        uint64_t size;
        uint32_t code;
        const char* message;
    } cases[] = {
        {"number 255", 255, nullptr, 8192, 0x21182723, "m_ucMaxPtNum(8), Inval Param ucPtNo(255)."},
        {"number 8", 8, nullptr, 8192, 0x21182723, "m_ucMaxPtNum(8), Inval Param ucPtNo(8)."},
        {"below 4096", no, nullptr, 4095, 0x21182715, "Inval Param pAddr(0x"},
        {"area past the end of memory", no, spare.p, wrapping, 0x21182715, "uvSize("},
        {"free slot", empty, nullptr, 8192, 22, "is not installed."},
        {"over another partition's area", no, mine.p + 4096, 8192, 0x21182711, "memory pAddr(0x"},
        {"over the system partition", no, insideSys, 8192, 0x21182711, "overlap."},
        {"over its own first piece", no, insideNo, 8192, 0x21182711, "overlap."},
    };
    for (const Case& c : cases) {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemPtAppend(c.no, c.addr, c.size), c.code) << c.what;
        EXPECT_EQ(cap.Matching(c.message).size(), 1u) << c.what;
        EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtAppend]").size(), 1u) << c.what;
        EXPECT_TRUE(TableLockFree()) << c.what;
    }
    EXPECT_EQ(Cb(no).uiAppendNum, 0u);
    EXPECT_EQ(PieceCount(no), 1u);
    EXPECT_EQ(PieceCount(0), 1u);
    // The caller's area leaves with its partition, before the area itself goes.
    ASSERT_EQ(UKO_MemPtDelete(other), 0u);
    made_.pop_back();
}

TEST_F(MemPtGrow, AtMost128AddedPieces) {
    uint8_t no = Make("LIMITPT", 64 * 1024);
    for (int i = 1; i <= 128; ++i) {
        ASSERT_EQ(UKO_MemPtAppend(no, nullptr, 4096), 0u) << i;
    }
    EXPECT_EQ(Cb(no).uiAppendNum, 128u);
    vt_test::LogCapture cap;
    // The host memory of the refused piece goes back (the leak checker watches), and a
    // caller's area is left as it came.
    EXPECT_EQ(UKO_MemPtAppend(no, nullptr, 4096), 0x21182728u);
    CallerArea area(8192);
    EXPECT_EQ(UKO_MemPtAppend(no, area.p, area.size), 0x21182728u);
    EXPECT_EQ(cap.Matching("the current used append num in MemPtNo(" + std::to_string(no) +
                           ") is 128, it has exceed the max mem append num(128)")
                  .size(),
              2u);
    EXPECT_TRUE(TableLockFree());
    EXPECT_EQ(Cb(no).uiAppendNum, 128u);
    EXPECT_EQ(PieceCount(no), 129u);
    std::memset(area.p, 0, area.size);
}

// The algorithm's own refusals.
uint32_t RefuseAppend(void*, void*, uint64_t) { return 0x210C0007; }

TEST_F(MemPtGrow, AppendRefusedByTheAlgorithm) {
    UKO_MEM_ALGO_OPS refusing = g_stDlmMemAlgoOps;
    refusing.pfnAppend = RefuseAppend;
    uint32_t rc = UKO_MemAlgoReg("NOAPPEND", &refusing);
    ASSERT_TRUE(rc == 0 || rc == 0x2118271Du);
    UKO_MEM_ALGO_OPS without = g_stDlmMemAlgoOps;
    without.pfnAppend = nullptr;
    rc = UKO_MemAlgoReg("NOAPPENDAPI", &without);
    ASSERT_TRUE(rc == 0 || rc == 0x2118271Du);

    uint8_t refuser = Make("REFUSEPT", 64 * 1024, "NOAPPEND");
    uint8_t lacking = Make("LACKPT", 64 * 1024, "NOAPPENDAPI");
    CallerArea area(8192);
    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MemPtAppend(refuser, nullptr, 8192), 0x21182714u);
    EXPECT_EQ(UKO_MemPtAppend(refuser, area.p, area.size), 0x21182714u);
    auto refused = cap.Matching("[ZIRPA-UKO_MemPtAppend]:MemPtNo(" + std::to_string(refuser) + "), call pfnAppend fail.");
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].code, 0x0007) << "reported with the algorithm's code";
    EXPECT_EQ(refused[0].moduleId, 0x210C);
    EXPECT_EQ(UKO_MemPtAppend(lacking, nullptr, 8192), 0x21182721u);
    EXPECT_EQ(cap.Matching("pfnAppend is null.").size(), 1u);
    EXPECT_TRUE(TableLockFree());
    EXPECT_EQ(PieceCount(refuser), 1u);
    EXPECT_EQ(PieceCount(lacking), 1u);
    std::memset(area.p, 0, area.size);
}

TEST_F(MemPtGrow, ShrinkTakesBackOnlyAnEmptyCallersPiece) {
    uint8_t no = Make("SHRINKPT", 64 * 1024);
    ASSERT_EQ(UKO_MemPtAppend(no, nullptr, 8192), 0u);
    void* hostStart = reinterpret_cast<void*>(Cb(no).pPieceList->uvStart);
    CallerArea area(64 * 1024);
    ASSERT_EQ(UKO_MemPtAppend(no, area.p, area.size), 0u);
    const uint64_t total2 = Cb(no).uvTotalSize;

    // A block in the caller's piece keeps it.
    void* inArea = nullptr;
    for (int i = 0; i < 60 && inArea == nullptr; ++i) {
        auto* p = static_cast<uint8_t*>(Alloc(no, 2000));
        ASSERT_NE(p, nullptr);
        if (p >= area.p && p < area.p + area.size) inArea = p;
    }
    ASSERT_NE(inArea, nullptr);
    EXPECT_EQ(UKO_MemPtShrink(no, area.p), 0u);
    EXPECT_EQ(Cb(no).uiAppendNum, 2u);
    // A host piece is the partition's own.
    EXPECT_EQ(UKO_MemPtShrink(no, hostStart), 0u);
    // Only the exact raw start names a piece.
    EXPECT_EQ(UKO_MemPtShrink(no, area.p + 8), 0u);
    EXPECT_EQ(Cb(no).uiAppendNum, 2u);
    EXPECT_EQ(PieceCount(no), 3u);

    for (void* p : std::vector<void*>(blocks_)) Free(p);
    EXPECT_EQ(UKO_MemPtShrink(no, area.p), 1u);
    EXPECT_EQ(Cb(no).uiAppendNum, 1u);
    EXPECT_EQ(PieceCount(no), 2u);
    EXPECT_LT(Cb(no).uvTotalSize, total2);
    EXPECT_EQ(Cb(no).uiFlags, UKO_MEMPT_FLAG_APPENDED) << "the host piece is still added";
    // The area is the caller's again: every byte usable, nothing beside it touched.
    std::memset(area.p, 0x11, area.size);
    EXPECT_EQ(area.raw[0], 0x5A);
    EXPECT_EQ(area.p[area.size], 0x5A);
    EXPECT_EQ(UKO_MemPtShrink(no, area.p), 0u) << "taken back once only";
    // The partition goes on serving from its other pieces.
    EXPECT_NE(Alloc(no, 2000), nullptr);

    // A partition whose only added piece was the caller's drops the "appended" flag.
    uint8_t single = Make("SHRINKONE", 64 * 1024);
    CallerArea one(16 * 1024);
    ASSERT_EQ(UKO_MemPtAppend(single, one.p, one.size), 0u);
    EXPECT_EQ(UKO_MemPtShrink(single, one.p), 1u);
    EXPECT_EQ(Cb(single).uiAppendNum, 0u);
    EXPECT_EQ(Cb(single).uiFlags, 0u);

    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MemPtShrink(255, area.p), 0u);
    EXPECT_EQ(UKO_MemPtShrink(8, area.p), 0u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtShrink]:Inval Param ucPtNo(8).").size(), 1u);
    EXPECT_EQ(UKO_MemPtShrink(no, nullptr), 0u);
    EXPECT_EQ(cap.Matching("the Param pAddr is null.").size(), 1u);
    ASSERT_EQ(UKO_MemPtDelete(single), 0u);
    made_.pop_back();
    EXPECT_EQ(UKO_MemPtShrink(single, one.p), 0u);
    EXPECT_EQ(cap.Matching("MemPt(" + std::to_string(single) + ") is not installed.").size(), 1u);
}

TEST_F(MemPtGrow, GrowthSettings) {
    uint8_t no = Make("SETTINGPT", 64 * 1024);
    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MemPtAutoFlexSetEx(no, 1, 2, GrowSize, KeepFree, Limit), 22u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtAutoFlexSetEx]:Inval Param enPosition(2).").size(), 1u);
    EXPECT_EQ(Cb(no).uiFlags, 0u);
    EXPECT_EQ(UKO_MemPtAutoFlexSetEx(8, 1, 0, nullptr, nullptr, nullptr), 22u);
    EXPECT_EQ(UKO_MemPtAutoFlexSetEx(255, 0, 0, nullptr, nullptr, nullptr), 22u);
    EXPECT_EQ(UKO_MemPtAutoFlexSetEx(FreeSlot(), 1, 0, nullptr, nullptr, nullptr), 22u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtAutoFlexSetEx]:Invalid PtNo(").size(), 3u);

    // Position 1 is position 0.
    ASSERT_EQ(UKO_MemPtAutoFlexSetEx(no, 1, 1, GrowSize, KeepFree, Limit), 0u);
    EXPECT_EQ(Cb(no).uiFlags, UKO_MEMPT_FLAG_AUTO_APPEND);
    EXPECT_EQ(Cb(no).uiAppendPosition, 0u);
    EXPECT_EQ(Cb(no).pfnAppendSize, GrowSize);
    EXPECT_EQ(Cb(no).pfnKeepFree, KeepFree);
    EXPECT_EQ(Cb(no).pfnAppendLimit, Limit);
    // The short form takes the growth size as the limit.
    ASSERT_EQ(UKO_MemPtAutoFlexSet(no, 1, 0, GrowSize, nullptr), 0u);
    EXPECT_EQ(Cb(no).pfnAppendLimit, GrowSize);
    EXPECT_EQ(Cb(no).pfnKeepFree, nullptr);
    // Off keeps the functions.
    ASSERT_EQ(UKO_MemPtAutoFlexSet(no, 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(Cb(no).uiFlags, 0u);
    EXPECT_EQ(Cb(no).pfnAppendSize, GrowSize);
    EXPECT_EQ(UKO_MemAutoFlexPositionSetAll(1), 0u);
}

TEST_F(MemPtGrow, A32MiBPartitionGrowsByHalfItsSizeAndALargeRequestByItsOwn) {
    uint8_t no = Make("GROW32", 32 * 1024 * 1024);
    ASSERT_EQ(UKO_MemPtAutoFlexSetEx(no, 1, 0, nullptr, nullptr, nullptr), 0u);
    FillUntilGrown(no, 1024 * 1024);
    EXPECT_EQ(Cb(no).pPieceList->uvSize, 16777520u);
    EXPECT_EQ(Cb(no).pPieceList->uiType, UKO_MEMPT_PIECE_HOST);
    EXPECT_EQ(Cb(no).uiFlags, UKO_MEMPT_FLAG_AUTO_APPEND) << "growth does not mark explicit pieces";

    // A request above the growth size: the request to a multiple of 8, plus the
    // overhead, to a multiple of 8 again.
    const uint64_t request = 40 * 1024 * 1024 + 1;
    auto* big = static_cast<uint8_t*>(Alloc(no, request));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(Cb(no).uiAppendNum, 2u);
    EXPECT_EQ(Cb(no).pPieceList->uvSize, Round8(Round8(request) + 300));
    EXPECT_EQ(Cb(no).pPieceList->uvSize, 41943352u);
    big[0] = 1;
    big[request - 1] = 2;
    // Freeing the only block of a grown piece gives it back.
    Free(big);
    EXPECT_EQ(Cb(no).uiAppendNum, 1u);
}

// The second log hook's record of a refused growth.
struct LimitRecord {
    uint32_t uiErrCode;
    uint8_t ucPtNo;
    uint32_t uiLine;
    const char* pcFile;
    uint64_t uvFreeSize;
};
struct Hook2Call {
    uint32_t level = 0;
    uint16_t code = 0;
    uint16_t moduleId = 0;
    uint32_t len = 0;
    unsigned char record[32] = {};
};
std::vector<Hook2Call> g_hook2;
void Hook2(uint32_t level, uint16_t code, uint16_t moduleId, const char*, uint32_t, const void* rec, uint32_t len) {
    Hook2Call c;
    c.level = level;
    c.code = code;
    c.moduleId = moduleId;
    c.len = len;
    std::memcpy(c.record, rec, len < 32 ? len : 32);
    g_hook2.push_back(c);
}

TEST_F(MemPtGrow, GrowthLimitRefusalGoesToTheSecondHook) {
    uint8_t no = Make("LIMITGROW", 64 * 1024);
    g_limit = 100 * 1024;
    ASSERT_EQ(UKO_MemPtAutoFlexSetEx(no, 1, 0, nullptr, nullptr, Limit), 0u);
    const uint64_t freeBytes = UKO_MemPtFreeSizeGet(no);
    g_hook2.clear();
    ASSERT_EQ(OSAL_LogHook2Set(Hook2), 0u);
    void* refused = Alloc(no, 200 * 1024);
    (void)OSAL_LogHook2Set(nullptr);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(Cb(no).uiAppendNum, 0u);
    ASSERT_EQ(g_hook2.size(), 1u);
    EXPECT_EQ(g_hook2[0].level, 2u);
    EXPECT_EQ(g_hook2[0].code, 0x2737);
    EXPECT_EQ(g_hook2[0].moduleId, 0x2118);
    ASSERT_EQ(g_hook2[0].len, 32u);
    LimitRecord rec;
    static_assert(sizeof(rec) == 32, "the record is 32 bytes");
    std::memcpy(&rec, g_hook2[0].record, sizeof(rec));
    EXPECT_EQ(rec.uiErrCode, 0x21182737u);
    EXPECT_EQ(rec.ucPtNo, no);
    EXPECT_GT(rec.uiLine, 0u);
    ASSERT_NE(rec.pcFile, nullptr);
    EXPECT_NE(std::string(rec.pcFile).find("uko_mempt"), std::string::npos);
    EXPECT_EQ(rec.uvFreeSize, freeBytes);

    // Within the limit the partition grows by what the request needs.
    void* allowed = Alloc(no, 90 * 1024);
    ASSERT_NE(allowed, nullptr);
    EXPECT_EQ(Cb(no).uiAppendNum, 1u);
    EXPECT_EQ(Cb(no).pPieceList->uvSize, Round8(Round8(90 * 1024) + 300));

    // The short form makes the growth size the limit: a larger request is refused.
    g_growSize = 16 * 1024;
    ASSERT_EQ(UKO_MemPtAutoFlexSet(no, 1, 0, GrowSize, nullptr), 0u);
    g_hook2.clear();
    ASSERT_EQ(OSAL_LogHook2Set(Hook2), 0u);
    EXPECT_EQ(Alloc(no, 80 * 1024), nullptr);
    (void)OSAL_LogHook2Set(nullptr);
    EXPECT_EQ(g_hook2.size(), 1u);
}

TEST_F(MemPtGrow, AGrownPieceStaysWhileKeepFreeDemandsItsBytes) {
    uint8_t no = Make("KEEPPT", 64 * 1024);
    g_growSize = 64 * 1024;
    g_keepFree = 1;
    ASSERT_EQ(UKO_MemPtAutoFlexSetEx(no, 1, 0, GrowSize, KeepFree, nullptr), 0u);
    FillUntilGrown(no, 4000);
    EXPECT_EQ(Cb(no).pPieceList->uvSize, Round8(64 * 1024 + 300));
    void* last = blocks_.back();

    // Without the piece less than the demanded free bytes would remain: it stays.
    g_keepFree = UKO_MemPtFreeSizeGet(no) + 4096;
    Free(last);
    EXPECT_EQ(Cb(no).uiAppendNum, 1u);
    EXPECT_EQ(Cb(no).pPieceList->uvUsed, 0u);

    // A block in it again, and freed again with a modest demand: now it goes.
    void* again = nullptr;
    for (int i = 0; i < 40 && again == nullptr; ++i) {
        void* p = Alloc(no, 4000);
        ASSERT_NE(p, nullptr);
        if (ukoMemPieceHolds(Cb(no).pPieceList, reinterpret_cast<uintptr_t>(p))) again = p;
    }
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(Cb(no).uiAppendNum, 1u);
    // A demand of 0 lets every emptied grown piece go.
    g_keepFree = 0;
    for (void* p : std::vector<void*>(blocks_)) {
        if (ukoMemPieceHolds(Cb(no).pPieceList, reinterpret_cast<uintptr_t>(p))) Free(p);
    }
    EXPECT_EQ(Cb(no).uiAppendNum, 0u);
    EXPECT_EQ(PieceCount(no), 1u);
}

TEST_F(MemPtGrow, GrowthSwitchedOffKeepsChargingBlocksToTheirOwnPiece) {
    uint8_t no = Make("OFFPT", 64 * 1024);
    ASSERT_EQ(UKO_MemPtAutoFlexSetEx(no, 1, 0, nullptr, nullptr, nullptr), 0u);
    FillUntilGrown(no, 4000);
    const UKO_MEMPT_PIECE_HEAD* grown = Cb(no).pPieceList;
    std::vector<void*> inFirst;
    std::vector<void*> inGrown;
    for (void* p : blocks_) {
        (ukoMemPieceHolds(grown, reinterpret_cast<uintptr_t>(p)) ? inGrown : inFirst).push_back(p);
    }
    ASSERT_FALSE(inFirst.empty());
    ASSERT_FALSE(inGrown.empty());
    const uint64_t grownUsed = grown->uvUsed;

    ASSERT_EQ(UKO_MemPtAutoFlexSetEx(no, 0, 0, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(Cb(no).uiAppendNum, 1u) << "the grown piece stays";
    // A block of the first piece freed while growth is off is taken off the first
    // piece, not off the newest one.
    Free(inFirst.front());
    EXPECT_EQ(grown->uvUsed, grownUsed);
    UKO_MEMPT_PIECE_INFO e[2];
    uint32_t n = 2;
    ASSERT_EQ(UKO_MemPieceInfoGetByPtNo(no, &n, e), 0u);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(e[1].uvUsed, grownUsed);
    EXPECT_EQ(e[0].uvUsed + e[1].uvUsed, Cb(no).uvUsedSize);

    // Back on, the grown piece goes when its own blocks are gone, not before.
    ASSERT_EQ(UKO_MemPtAutoFlexSetEx(no, 1, 0, nullptr, nullptr, nullptr), 0u);
    for (size_t i = 1; i < inFirst.size(); ++i) Free(inFirst[i]);
    EXPECT_EQ(Cb(no).uiAppendNum, 1u);
    for (void* p : inGrown) Free(p);
    EXPECT_EQ(Cb(no).uiAppendNum, 0u);
    EXPECT_EQ(Cb(no).uvUsedSize, 0u);
}

}  // namespace
