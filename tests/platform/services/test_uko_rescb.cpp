// Control-block tables: indexes by page, the preference for the first page, growth
// with its hook and its limits, the size check, releases that must be refused, and the
// memory a table gives back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "uko_rescb.h"
#include "uko_secfunc.h"
#include "vt_test/platform.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;

struct Record {
    uint16_t code;
    uint16_t moduleId;
    std::string format;
};
std::vector<Record> g_records;

void Observer(uint32_t, uint16_t code, uint16_t moduleId, const char*, uint16_t, const char* format) {
    g_records.push_back({code, moduleId, format != nullptr ? format : ""});
}

uint64_t SysPtUsed() { return m_pstMemPtCb[m_ucSysPtNo].uvUsedSize; }

// The append hook's calls, and its answer.
std::vector<uint32_t> g_appendCalls;
uint32_t g_appendAnswer = 0;
uint32_t AppendHook(uint32_t uiNum) {
    g_appendCalls.push_back(uiNum);
    return g_appendAnswer;
}

class UkoRescb : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        g_records.clear();
        g_appendCalls.clear();
        g_appendAnswer = 0;
        ukoErrorRecordObserverSet(Observer);
        used0_ = SysPtUsed();
    }
    void TearDown() override {
        for (uint32_t id : tables_) {
            EXPECT_EQ(UKO_RescbTableDestroy(id), 0u);
        }
        ukoErrorRecordObserverSet(nullptr);
        EXPECT_EQ(SysPtUsed(), used0_) << "tables left memory behind";
    }

    uint32_t Create(uint32_t size, uint32_t init, uint32_t page, UKO_RESCB_APPEND_PF hook = nullptr) {
        uint32_t id = kNone;
        EXPECT_EQ(UKO_RescbTableCreate(size, init, page, hook, &id), 0u);
        if (id != kNone) tables_.push_back(id);
        return id;
    }
    void Destroy(uint32_t id) {
        EXPECT_EQ(UKO_RescbTableDestroy(id), 0u);
        tables_.erase(std::find(tables_.begin(), tables_.end(), id));
    }
    static uint32_t Alloc(uint32_t id) {
        void* cb = nullptr;
        return UKO_RescbAlloc(id, &cb);
    }
    static std::vector<std::string> Formats() {
        std::vector<std::string> out;
        for (const Record& r : g_records) {
            EXPECT_EQ(r.moduleId, 0x211C) << r.format;
            out.push_back(r.format);
        }
        return out;
    }

    std::vector<uint32_t> tables_;
    uint64_t used0_ = 0;
};

TEST_F(UkoRescb, IndexesComeFromTheFirstPageThenFromAddedPages) {
    constexpr uint32_t kSize = 24;
    uint32_t id = Create(kSize, 100, 50, AppendHook);
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 100u);
    std::vector<uint8_t*> blocks(152, nullptr);
    for (uint32_t want = 1; want <= 151; ++want) {
        void* cb = nullptr;
        ASSERT_EQ(UKO_RescbAlloc(id, &cb), want);
        blocks[want] = static_cast<uint8_t*>(cb);
        std::memset(cb, static_cast<int>(want), kSize);  // every block is its own kSize bytes
        // A page is added only by the allocation that finds no free block.
        EXPECT_EQ(UKO_RescbTotalNumGet(id), want <= 100 ? 100u : want <= 150 ? 150u : 200u) << want;
    }
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 200u);
    EXPECT_EQ(UKO_RescbUsedNumGet(id), 151u);
    EXPECT_EQ(g_appendCalls, (std::vector<uint32_t>{50, 50}));
    // Blocks of one page lie side by side in index order; nothing overlaps.
    for (uint32_t i = 1; i <= 151; ++i) {
        EXPECT_EQ(UKO_RescbCbGet(id, i), blocks[i]) << i;
        if (i != 100 && i != 150 && i != 151) {
            EXPECT_EQ(blocks[i + 1] - blocks[i], static_cast<ptrdiff_t>(kSize)) << i;
        }
        for (uint32_t b = 0; b < kSize; ++b) {
            ASSERT_EQ(blocks[i][b], static_cast<uint8_t>(i)) << i;
        }
    }
    EXPECT_TRUE(g_records.empty());
}

TEST_F(UkoRescb, FreedIndexesOfTheFirstPageComeBackFirst) {
    uint32_t id = Create(8, 100, 50);
    for (uint32_t i = 1; i <= 120; ++i) ASSERT_EQ(Alloc(id), i);
    EXPECT_EQ(UKO_RescbFree(id, 5), 0u);
    EXPECT_EQ(UKO_RescbFree(id, 110), 0u);
    EXPECT_EQ(UKO_RescbUsedNumGet(id), 118u);
    EXPECT_EQ(UKO_RescbCbGet(id, 5), nullptr);
    // The current (second) page is used up first, then the first page's free index,
    // then the second page's, and only then does the table grow.
    std::vector<uint32_t> got;
    for (int n = 0; n < 33; ++n) got.push_back(Alloc(id));
    std::vector<uint32_t> want;
    for (uint32_t i = 121; i <= 150; ++i) want.push_back(i);
    want.push_back(5);
    want.push_back(110);
    want.push_back(151);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(g_records.empty());
}

TEST_F(UkoRescb, ReleasesThatMustBeRefused) {
    uint32_t id = Create(16, 4, 4);
    uint32_t empty = kNone;
    for (uint32_t t = 0; t < UKO_RESCB_TABLE_MAX && empty == kNone; ++t) {
        if (UKO_RescbTotalNumGet(t) == 0) empty = t;
    }
    ASSERT_NE(empty, kNone);
    for (uint32_t i = 1; i <= 3; ++i) ASSERT_EQ(Alloc(id), i);
    ASSERT_EQ(UKO_RescbFree(id, 2), 0u);
    g_records.clear();

    struct Case {
        const char* what;
        uint32_t table;
        uint32_t index;
        const char* format;
    };
    const Case cases[] = {
        {"double free", id, 2, "[ZIRPA-%s]:uiTableID(%d), uiCBIndex(%d), the rescb is not used."},
        {"never given", id, 4, "[ZIRPA-%s]:uiTableID(%d), uiCBIndex(%d), the rescb is not used."},
        {"index 0", id, 0, "[ZIRPA-%s]:uiTableID(%d), uiCBIndex(%d), totalnum(%d)."},
        {"beyond the total", id, 5, "[ZIRPA-%s]:uiTableID(%d), uiCBIndex(%d), totalnum(%d)."},
        {"table 12", 12, 1, "[ZIRPA-%s]:Inval Param uiTableID(%d), table address(0x%p)."},
        {"table id all ones", kNone, 1, "[ZIRPA-%s]:Inval Param uiTableID(%d), table address(0x%p)."},
        {"empty slot", empty, 1, "[ZIRPA-%s]:Inval Param uiTableID(%d), table address(0x%p)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_records.clear();
        EXPECT_EQ(UKO_RescbFree(c.table, c.index), 22u);
        EXPECT_EQ(Formats(), std::vector<std::string>{c.format});
        EXPECT_EQ(g_records[0].code, 22);
    }
    // Nothing changed: the table hands out index 4, then the released 2, then grows.
    EXPECT_EQ(UKO_RescbUsedNumGet(id), 2u);
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 4u);
    EXPECT_EQ(Alloc(id), 4u);
    EXPECT_EQ(Alloc(id), 2u);
    EXPECT_EQ(Alloc(id), 5u);
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 8u);
}

TEST_F(UkoRescb, UnknownTablesAnswerTheirFailureValues) {
    uint32_t empty = kNone;
    for (uint32_t t = 0; t < UKO_RESCB_TABLE_MAX && empty == kNone; ++t) {
        if (UKO_RescbTotalNumGet(t) == 0) empty = t;
    }
    ASSERT_NE(empty, kNone);
    for (uint32_t t : {empty, uint32_t{12}, kNone}) {
        SCOPED_TRACE(t);
        g_records.clear();
        void* cb = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(UKO_RescbAlloc(t, &cb), kNone);
        EXPECT_EQ(cb, reinterpret_cast<void*>(0x1234));
        EXPECT_EQ(UKO_RescbCbGet(t, 1), nullptr);
        EXPECT_EQ(UKO_RescbUsedNumGet(t), 0u);
        EXPECT_EQ(UKO_RescbTotalNumGet(t), 0u);
        EXPECT_EQ(UKO_RescbTableDestroy(t), 22u);
        EXPECT_EQ(Formats(), (std::vector<std::string>{
                                 "[ZIRPA-%s]:Inval Param uiTableID(%d), table address(0x%p).",
                                 "[ZIRPA-%s]:Inval Param uiTableID(%d), table address(0x%p).",
                             }));
    }
    // A live table without a place for the block.
    uint32_t id = Create(8, 2, 0);
    EXPECT_EQ(UKO_RescbAlloc(id, nullptr), kNone);
    EXPECT_EQ(UKO_RescbUsedNumGet(id), 0u);
    EXPECT_EQ(UKO_RescbCbGet(id, 0), nullptr);
    EXPECT_EQ(UKO_RescbCbGet(id, 1), nullptr);
    EXPECT_EQ(UKO_RescbCbGet(id, 3), nullptr);
}

TEST_F(UkoRescb, ATableWithoutPageSizeNeverGrows) {
    uint32_t id = Create(32, 3, 0, AppendHook);
    for (uint32_t i = 1; i <= 3; ++i) ASSERT_EQ(Alloc(id), i);
    EXPECT_EQ(Alloc(id), kNone);
    EXPECT_EQ(Formats(), std::vector<std::string>{"[ZIRPA-%s]:The Param pstNextFreeAppCB is null."});
    EXPECT_EQ(g_records[0].code, 12);
    EXPECT_TRUE(g_appendCalls.empty());
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 3u);
    EXPECT_EQ(UKO_RescbFree(id, 2), 0u);
    EXPECT_EQ(Alloc(id), 2u);
}

TEST_F(UkoRescb, ATableHoldsThirtyTwoPagesAtMost) {
    uint32_t id = Create(8, 1, 1, AppendHook);
    for (uint32_t i = 1; i <= 32; ++i) ASSERT_EQ(Alloc(id), i);
    EXPECT_EQ(g_appendCalls.size(), 31u);
    EXPECT_TRUE(g_records.empty());
    uint64_t used = SysPtUsed();
    EXPECT_EQ(Alloc(id), kNone);
    EXPECT_EQ(Formats(), (std::vector<std::string>{
                             "[ZIRPA-%s]:Too many Rescb Group, reach to max number.",
                             "[ZIRPA-%s]:The Param pstNextFreeAppCB is null.",
                         }));
    EXPECT_EQ(g_records[0].code, 12);
    EXPECT_EQ(g_appendCalls.size(), 31u);
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 32u);
    EXPECT_EQ(SysPtUsed(), used);
    // The last index lives on the last page and can be released and given again.
    EXPECT_EQ(UKO_RescbFree(id, 32), 0u);
    EXPECT_EQ(Alloc(id), 32u);
}

TEST_F(UkoRescb, TheAppendHookCanRefuseAGrowth) {
    uint32_t id = Create(8, 2, 5, AppendHook);
    ASSERT_EQ(Alloc(id), 1u);
    ASSERT_EQ(Alloc(id), 2u);
    g_appendAnswer = 1;
    uint64_t used = SysPtUsed();
    EXPECT_EQ(Alloc(id), kNone);
    EXPECT_EQ(g_appendCalls, std::vector<uint32_t>{5});
    EXPECT_EQ(Formats(), (std::vector<std::string>{
                             "[ZIRPA-%s]:pstRcbTbl->pfnAppend(%d) fail.",
                             "[ZIRPA-%s]:The Param pstNextFreeAppCB is null.",
                         }));
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 2u);
    EXPECT_EQ(SysPtUsed(), used) << "the refused page was not given back";
    g_appendAnswer = 0;
    EXPECT_EQ(Alloc(id), 3u);
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 7u);
    EXPECT_EQ(g_appendCalls, (std::vector<uint32_t>{5, 5}));
}

TEST_F(UkoRescb, ASizeZeroTableRecordsTheCallersPointers) {
    uint32_t id = Create(0, 2, 2);
    int a = 0;
    int b = 0;
    int c = 0;
    void* p = &a;
    ASSERT_EQ(UKO_RescbAlloc(id, &p), 1u);
    EXPECT_EQ(p, &a);
    p = &b;
    ASSERT_EQ(UKO_RescbAlloc(id, &p), 2u);
    p = &c;
    ASSERT_EQ(UKO_RescbAlloc(id, &p), 3u);
    EXPECT_EQ(UKO_RescbCbGet(id, 1), &a);
    EXPECT_EQ(UKO_RescbCbGet(id, 2), &b);
    EXPECT_EQ(UKO_RescbCbGet(id, 3), &c);
    EXPECT_EQ(UKO_RescbFree(id, 2), 0u);
    EXPECT_EQ(UKO_RescbCbGet(id, 2), nullptr);
}

TEST_F(UkoRescb, TheThirteenthTableIsRefused) {
    uint32_t before = 0;
    for (uint32_t t = 0; t < UKO_RESCB_TABLE_MAX; ++t) {
        before += UKO_RescbTotalNumGet(t) != 0 ? 1 : 0;
    }
    std::vector<uint32_t> ids;
    for (uint32_t n = before; n < UKO_RESCB_TABLE_MAX; ++n) ids.push_back(Create(8, 1, 0));
    for (uint32_t id : ids) EXPECT_LT(id, UKO_RESCB_TABLE_MAX);
    EXPECT_TRUE(g_records.empty());
    uint64_t used = SysPtUsed();
    uint32_t id = 7;
    EXPECT_EQ(UKO_RescbTableCreate(8, 1, 0, nullptr, &id), 12u);
    EXPECT_EQ(id, kNone);
    EXPECT_EQ(Formats(), std::vector<std::string>{"[ZIRPA-%s]:the rescb table array is full."});
    EXPECT_EQ(SysPtUsed(), used);
    // A destroyed table's slot is the lowest free one and is taken again.
    uint32_t freed = ids[ids.size() / 2];
    Destroy(freed);
    EXPECT_EQ(Create(8, 1, 0), freed);
}

TEST_F(UkoRescb, CreationRefusesArgumentsBeforeTakingMemory) {
    struct Case {
        const char* what;
        uint32_t size;
        uint32_t init;
        const char* format;
    };
    const Case cases[] = {
        {"no blocks", 8, 0, "[ZIRPA-%s]:Inval Param puiTableID(0x%p), uiInitNum(%d)."},
        {"2^28 blocks of 16 bytes", 16, 0x10000000,
         "[ZIRPA-%s]:The Param uiAppCBDataSize(%u) or uiInitNum(%u) is too large."},
        {"one block of 4 GiB", 0xFFFFFFFF, 1,
         "[ZIRPA-%s]:The Param uiAppCBDataSize(%u) or uiInitNum(%u) is too large."},
        // (16 + size) x number is 2^64 - 1: a size computed in 64 bits would wrap small.
        {"product wraps 64 bits", 0xFFFFFFF1, 0xFFFFFFFF,
         "[ZIRPA-%s]:The Param uiAppCBDataSize(%u) or uiInitNum(%u) is too large."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_records.clear();
        uint32_t id = 7;
        EXPECT_EQ(UKO_RescbTableCreate(c.size, c.init, 1, nullptr, &id), 22u);
        EXPECT_EQ(id, kNone);
        EXPECT_EQ(Formats(), std::vector<std::string>{c.format});
        EXPECT_EQ(SysPtUsed(), used0_);
    }
    g_records.clear();
    EXPECT_EQ(UKO_RescbTableCreate(8, 1, 1, nullptr, nullptr), 22u);
    EXPECT_EQ(Formats(),
              std::vector<std::string>{"[ZIRPA-%s]:Inval Param puiTableID(0x%p), uiInitNum(%d)."});
}

TEST_F(UkoRescb, DestroyGivesEveryPageBack) {
    uint32_t id = Create(40, 10, 7);
    for (uint32_t i = 1; i <= 30; ++i) ASSERT_EQ(Alloc(id), i);
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 31u);
    EXPECT_GT(SysPtUsed(), used0_);
    // A second start-up keeps the live tables.
    EXPECT_EQ(ukoRescbinit(0), 0u);
    EXPECT_EQ(UKO_RescbUsedNumGet(id), 30u);
    Destroy(id);
    EXPECT_EQ(SysPtUsed(), used0_);
    EXPECT_EQ(UKO_RescbTotalNumGet(id), 0u);
    EXPECT_EQ(UKO_RescbCbGet(id, 1), nullptr);
}

}  // namespace
