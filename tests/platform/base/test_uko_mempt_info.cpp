// Partition information: sizes, records, piece lists, usage rates, size classes,
// address queries and the statistics show.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "uko_secfunc.h"
#include "v_dlmem.h"
#include "v_dlmem_inner.h"
#include "vt_test/platform.h"

namespace {

constexpr uint64_t kAllOnes = ~uint64_t{0};

// An algorithm that is DLM in all but the total and free bytes it reports, which the
// tests set; and one that lacks the optional answers.
std::atomic<uint64_t> g_fakeTotal{0};
std::atomic<uint64_t> g_fakeFree{0};
uint32_t FakeInfo(void*, uint64_t* puvTotal, uint64_t* puvFree, void*) {
    *puvTotal = g_fakeTotal.load();
    *puvFree = g_fakeFree.load();
    return 0;
}

void RegisterOnce(const char* name, const UKO_MEM_ALGO_OPS& ops) {
    uint32_t rc = UKO_MemAlgoReg(name, &ops);
    ASSERT_TRUE(rc == 0 || rc == 0x2118271Du) << name;
}

struct MemPtInfo : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        UKO_MEM_ALGO_OPS fake = g_stDlmMemAlgoOps;
        fake.pfnInfoGet = FakeInfo;
        RegisterOnce("FAKEINFO", fake);
        UKO_MEM_ALGO_OPS bare = g_stDlmMemAlgoOps;
        bare.pfnGetMaxUsableSize = nullptr;
        bare.pfnGetUsedBlock = nullptr;
        bare.pfnTypeNumGet = nullptr;
        bare.pfnFreeNumByTypeGet = nullptr;
        bare.pfnTypeAndSizeGet = nullptr;
        bare.pfnUsableSizeGet = nullptr;
        bare.pfReserved[0] = nullptr;
        bare.pfReserved[1] = nullptr;
        RegisterOnce("BARE", bare);
    }
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
        EXPECT_NE(p, nullptr);
        blocks_.push_back(p);
        return p;
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

TEST_F(MemPtInfo, SizesOfOnePartitionAndOfAll) {
    const uint64_t allTotal0 = UKO_MemTotalSizeGet();
    const uint64_t allFree0 = UKO_MemFreeSizeGet();
    uint8_t no = Make("SIZEPT", 256 * 1024);
    EXPECT_EQ(UKO_MemPtTotalSizeGet(no), 256u * 1024);
    const uint64_t free0 = UKO_MemPtFreeSizeGet(no);
    EXPECT_GT(free0, 200u * 1024);
    EXPECT_LT(free0, 256u * 1024);
    EXPECT_EQ(UKO_MemTotalSizeGet(), allTotal0 + 256 * 1024);
    EXPECT_EQ(UKO_MemFreeSizeGet(), allFree0 + free0);

    // The largest usable block can be had, whole, and is then gone.
    const uint64_t largest = UKO_MaxUsableSizeGet(no);
    EXPECT_GT(largest, 200u * 1024);
    auto* p = static_cast<uint8_t*>(Alloc(no, largest));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xA5, largest);
    EXPECT_LE(UKO_MemPtFreeSizeGet(no), free0 - largest);
    EXPECT_LT(UKO_MaxUsableSizeGet(no), largest);
    EXPECT_EQ(UKO_MemPtTotalSizeGet(no), 256u * 1024) << "the raw size stays";

    // What a block costs with the partition's head and the algorithm's own.
    EXPECT_EQ(ukoMemSizeUsrToTotal(no, 100), 100u + 8 + DLM_SLICE_HEAD_SIZE);
    uint8_t bare = Make("BAREPT", 64 * 1024, "BARE");
    EXPECT_EQ(ukoMemSizeUsrToTotal(bare, 100), 108u);

    const uint8_t empty = FreeSlot();
    vt_test::LogCapture cap;
    EXPECT_EQ(UKO_MaxUsableSizeGet(bare), 0u);
    EXPECT_EQ(UKO_MemPtFreeSizeGet(8), kAllOnes);
    EXPECT_EQ(UKO_MemPtTotalSizeGet(255), kAllOnes);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtFreeSizeGet]:The Param ucPtNo(8) >= MaxPtNo(8).").size(), 1u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtTotalSizeGet]:The Param ucPtNo(255) >= MaxPtNo(8).").size(), 1u);
    EXPECT_EQ(UKO_MemPtFreeSizeGet(empty), kAllOnes);
    EXPECT_EQ(UKO_MemPtTotalSizeGet(empty), kAllOnes);
    EXPECT_EQ(cap.Matching("MemPtNo(" + std::to_string(empty) + ") is not created!").size(), 1u);
    EXPECT_EQ(cap.Matching("MemPtNo(" + std::to_string(empty) + ") is not created.").size(), 1u);
    EXPECT_EQ(UKO_MaxUsableSizeGet(empty), 0u);
    EXPECT_EQ(UKO_MaxUsableSizeGet(8), 0u);
    EXPECT_EQ(ukoMemSizeUsrToTotal(empty, 100), 22u);
    EXPECT_EQ(cap.Matching("[ZIRPA-ukoMemSizeUsrToTotal]:MemPt(" + std::to_string(empty) + ") is not installed.").size(),
              1u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MaxUsableSizeGet]:pfnGetMaxUsableSize = 0!").size(), 1u);
}

TEST_F(MemPtInfo, NameAndInformationRecords) {
    g_fakeTotal = 1;
    g_fakeFree = 16384;
    uint8_t no = Make("RECORDPARTITION-LONG", 64 * 1024, "FAKEINFO");
    char name[UKO_MEMPT_NAME_LEN];
    std::memset(name, 'Z', sizeof(name));
    ASSERT_EQ(UKO_MemPtNameGetByPtNo(no, name), 0u);
    EXPECT_STREQ(name, "RECORDPARTITION");
    EXPECT_EQ(name[15], '\0');

    UKO_MEMPT_INFO info;
    std::memset(&info, 0xEE, sizeof(info));
    ASSERT_EQ(UKO_MemInfoGetByPtNo(no, &info), 0u);
    EXPECT_EQ(info.uiPtNo, no);
    EXPECT_STREQ(info.acPtName, "RECORDPARTITION");
    EXPECT_STREQ(info.acAlgoName, "FAKEINFO");
    EXPECT_EQ(info.uiPieceNum, 1u);
    EXPECT_EQ(info.uvTotalSize, 65536u);
    EXPECT_EQ(info.uvFreeSize, 16384u);
    EXPECT_EQ(info.uiUsage, 75u) << "the raw size against the algorithm's free bytes";
    EXPECT_EQ(info.uvMaxUsableSize, UKO_MaxUsableSizeGet(no));
    EXPECT_GT(info.uvMaxUsableSize, 0u);

    const uint8_t empty = FreeSlot();
    vt_test::LogCapture cap;
    std::memset(name, 'Z', sizeof(name));
    EXPECT_EQ(UKO_MemPtNameGetByPtNo(empty, name), 22u);
    EXPECT_EQ(name[0], 'Z');
    EXPECT_TRUE(cap.Records().empty()) << "a free slot is answered without a report";
    EXPECT_EQ(UKO_MemPtNameGetByPtNo(8, name), 22u);
    EXPECT_EQ(UKO_MemPtNameGetByPtNo(no, nullptr), 22u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtNameGetByPtNo]:Inval Param pszPtName(0x").size(), 2u);

    cap.Clear();
    EXPECT_EQ(UKO_MemInfoGetByPtNo(empty, &info), 0x2118271Cu);
    EXPECT_TRUE(cap.Records().empty());
    EXPECT_EQ(UKO_MemInfoGetByPtNo(9, &info), 22u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemInfoGetByPtNo]: PtNo(9) error!").size(), 1u);
    EXPECT_EQ(UKO_MemInfoGetByPtNo(no, nullptr), 22u);
    EXPECT_EQ(cap.Matching("The param pMemptInfo is null.").size(), 1u);
}

TEST_F(MemPtInfo, UsageRule) {
    uint8_t no = Make("RATEPT", 64 * 1024, "FAKEINFO");
    struct Case {
        uint64_t total;
        uint64_t free;
        uint32_t usage;
        bool illegal;
    } cases[] = {
        {1000, 250, 75, false},
        {1000, 0, 100, false},
        {0, 0, 100, false},
        {0, 5, 100, false},
        {1000, 1000, 0, false},
        {999, 1, 99, false},
        // Used bytes whose hundredfold would not fit in 64 bits take the other road.
        {uint64_t{1} << 63, 1, 100, false},
        {~uint64_t{0}, uint64_t{1} << 62, 75, false},
        // Free bytes above the total: no rate, and no division by a total below 100.
        {50, 60, 0, true},
        {150, 200, 0, true},
    };
    for (const Case& c : cases) {
        g_fakeTotal = c.total;
        g_fakeFree = c.free;
        vt_test::LogCapture cap;
        uint64_t T = 7, F = 7;
        uint32_t usage = 7;
        ASSERT_EQ(ukoMemPtGetPTUsedInfo(no, &T, &F, &usage), 0u) << c.total << "/" << c.free;
        EXPECT_EQ(T, c.total);
        EXPECT_EQ(F, c.free);
        EXPECT_EQ(usage, c.usage) << c.total << "/" << c.free;
        EXPECT_EQ(cap.Matching("[ZIRPA-ukoMemPtGetPTUsedInfo]: The result of getuserate is illegal!").size(),
                  c.illegal ? 1u : 0u)
            << c.total << "/" << c.free;
    }

    // The rate of the raw size (64 KiB) against the algorithm's free bytes.
    struct RateCase {
        uint64_t free;
        uint32_t rate;
    } rates[] = {{0, 100}, {16384, 75}, {65536, 0}, {65537, 0xFFFFFFFF}};
    for (const RateCase& r : rates) {
        g_fakeFree = r.free;
        vt_test::LogCapture cap;
        EXPECT_EQ(ukoMemPtGetUseRate(no), r.rate) << r.free;
        if (r.rate == 0xFFFFFFFF) {
            EXPECT_EQ(cap.Matching("[ZIRPA-ukoMemPtGetUseRate]: The result of getuserate is illegal!").size(), 1u);
            EXPECT_EQ(cap.Records()[0].code, 0x272F);
        }
    }

    const uint8_t empty = FreeSlot();
    vt_test::LogCapture cap;
    EXPECT_EQ(ukoMemPtGetUseRate(255), 0xFFFFFFFFu);
    EXPECT_EQ(ukoMemPtGetUseRate(8), 0xFFFFFFFFu);
    EXPECT_EQ(cap.Matching("[ZIRPA-ukoMemPtGetUseRate]: Invalid PtNo(255).").size(), 1u);
    EXPECT_EQ(ukoMemPtGetUseRate(empty), 0xFFFFFFFFu);
    // A free slot has no algorithm: both sizes 0, usage 100.
    uint64_t T = 7, F = 7;
    uint32_t usage = 7;
    EXPECT_EQ(ukoMemPtGetPTUsedInfo(empty, &T, &F, &usage), 0u);
    EXPECT_EQ(T, 0u);
    EXPECT_EQ(F, 0u);
    EXPECT_EQ(usage, 100u);
    EXPECT_EQ(ukoMemPtGetPTUsedInfo(8, &T, &F, &usage), 22u);
    EXPECT_EQ(ukoMemPtGetPTUsedInfo(no, nullptr, &F, &usage), 22u);
}

TEST_F(MemPtInfo, PieceInformation) {
    uint8_t no = Make("PIECEINFO", 64 * 1024);
    const uint64_t areaSize = 64 * 1024;
    auto* area = static_cast<uint8_t*>(std::malloc(areaSize));
    ASSERT_EQ(UKO_MemPtAppend(no, area, areaSize), 0u);
    void* inFirst = nullptr;
    void* inArea = nullptr;
    for (int i = 0; i < 60 && (inFirst == nullptr || inArea == nullptr); ++i) {
        void* p = Alloc(no, 3000);
        bool inside = static_cast<uint8_t*>(p) >= area && static_cast<uint8_t*>(p) < area + areaSize;
        (inside ? inArea : inFirst) = p;
    }
    ASSERT_NE(inFirst, nullptr);
    ASSERT_NE(inArea, nullptr);
    const uint64_t used = m_pstMemPtCb[no].uvUsedSize;
    void* firstStart = nullptr;
    uint64_t firstSize = 0;
    ASSERT_EQ(UKO_MemPtPieceStartAddrGet(no, inFirst, &firstStart, &firstSize), 0u);
    EXPECT_EQ(firstSize, 64u * 1024);
    void* areaStart = nullptr;
    uint64_t areaRaw = 0;
    ASSERT_EQ(UKO_MemPtPieceStartAddrGet(no, inArea, &areaStart, &areaRaw), 0u);
    EXPECT_EQ(areaStart, area);
    EXPECT_EQ(areaRaw, areaSize);

    // Capacity 1: the first piece alone, carrying all the partition's used bytes.
    UKO_MEMPT_PIECE_INFO e[4];
    std::memset(e, 0xEE, sizeof(e));
    uint32_t n = 1;
    ASSERT_EQ(UKO_MemPieceInfoGetByPtNo(no, &n, e), 0u);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(e[0].uiIndex, 0u);
    EXPECT_EQ(e[0].uvStart, reinterpret_cast<uintptr_t>(firstStart));
    EXPECT_EQ(e[0].uvUsed, used);
    EXPECT_EQ(e[1].uiIndex, 0xEEEEEEEEu) << "nothing beyond the capacity is written";

    // Room for all: the first piece, then the newer one; their used bytes add up.
    n = 4;
    ASSERT_EQ(UKO_MemPieceInfoGetByPtNo(no, &n, e), 0u);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(e[0].uiIndex, 0u);
    EXPECT_EQ(e[0].uvStart, reinterpret_cast<uintptr_t>(firstStart));
    EXPECT_EQ(e[0].uvEnd, reinterpret_cast<uintptr_t>(firstStart) + 64 * 1024);
    EXPECT_EQ(e[0].uvSize, 64u * 1024);
    EXPECT_EQ(e[0].ucSource, UKO_MEMPT_SRC_HOST);
    EXPECT_EQ(e[1].uiIndex, 1u);
    EXPECT_EQ(e[1].uvStart, reinterpret_cast<uintptr_t>(area));
    EXPECT_EQ(e[1].uvEnd, reinterpret_cast<uintptr_t>(area) + areaSize);
    EXPECT_EQ(e[1].ucSource, UKO_MEMPT_SRC_CALLER);
    EXPECT_GT(e[0].uvUsed, 0u);
    EXPECT_GT(e[1].uvUsed, 0u);
    EXPECT_EQ(e[0].uvUsed + e[1].uvUsed, used);

    const uint8_t empty = FreeSlot();
    vt_test::LogCapture cap;
    int onStack = 0;
    void* start = nullptr;
    uint64_t size = 0;
    EXPECT_EQ(UKO_MemPtPieceStartAddrGet(no, &onStack, &start, &size), 22u);
    EXPECT_EQ(cap.Matching("is not in the MemPtNo(" + std::to_string(no) + ") range.").size(), 1u);
    EXPECT_EQ(UKO_MemPtPieceStartAddrGet(no, nullptr, &start, &size), 22u);
    EXPECT_EQ(UKO_MemPtPieceStartAddrGet(no, inFirst, nullptr, &size), 22u);
    EXPECT_EQ(UKO_MemPtPieceStartAddrGet(no, inFirst, &start, nullptr), 22u);
    EXPECT_EQ(cap.Matching("The parameters(pAddr) is NULL!").size(), 1u);
    EXPECT_EQ(cap.Matching("The parameters(ppStartAddr) is NULL!").size(), 1u);
    EXPECT_EQ(cap.Matching("The parameters(puiPtBlockSize) is NULL!").size(), 1u);
    EXPECT_EQ(UKO_MemPtPieceStartAddrGet(8, inFirst, &start, &size), 22u);
    EXPECT_EQ(cap.Matching("Invalid MemPtNo(8).").size(), 1u);
    EXPECT_EQ(UKO_MemPtPieceStartAddrGet(empty, inFirst, &start, &size), 22u);
    EXPECT_EQ(cap.Matching(" is not created!").size(), 1u);

    cap.Clear();
    n = 0;
    EXPECT_EQ(UKO_MemPieceInfoGetByPtNo(no, &n, e), 22u);
    EXPECT_EQ(UKO_MemPieceInfoGetByPtNo(no, nullptr, e), 22u);
    EXPECT_EQ(cap.Matching("The param puiPieceNum is null or the value is 0.").size(), 2u);
    n = 4;
    EXPECT_EQ(UKO_MemPieceInfoGetByPtNo(no, &n, nullptr), 22u);
    EXPECT_EQ(cap.Matching("The param pMemptPieceInfo is null.").size(), 1u);
    EXPECT_EQ(UKO_MemPieceInfoGetByPtNo(empty, &n, e), 0x2118271Cu);
    EXPECT_EQ(UKO_MemPieceInfoGetByPtNo(8, &n, e), 22u);
    EXPECT_EQ(cap.Matching("PtNo(8) error!").size(), 1u);

    // The blocks go before the partition, the caller's area after it.
    for (void* p : blocks_) EXPECT_EQ(UKO_MemFree(0, p), 0u);
    blocks_.clear();
    EXPECT_EQ(UKO_MemPtDelete(no), 0u);
    made_.clear();
    std::memset(area, 0, areaSize);
    std::free(area);
}

TEST_F(MemPtInfo, UsedBlocksAndSizeClasses) {
    uint8_t no = Make("CLASSPT", 256 * 1024);
    uint64_t size0 = 0, num0 = 0;
    ASSERT_EQ(UKO_MemPtUsedBlockGet(no, &size0, &num0), 0u);
    void* small = Alloc(no, 100);
    void* large = Alloc(no, 8000);
    uint64_t size1 = 0, num1 = 0;
    ASSERT_EQ(UKO_MemPtUsedBlockGet(no, &size1, &num1), 0u);
    EXPECT_EQ(num1, num0 + 2);
    EXPECT_GE(size1, size0 + 8100);

    uint32_t classes = 0;
    ASSERT_EQ(UKO_MemPtTypeNumGet(no, &classes), 0u);
    EXPECT_EQ(classes, DLM_TYPE_NUM);
    // The class count itself is accepted and names the largest class; one above is not.
    uint32_t slice = 0;
    ASSERT_EQ(UKO_MemSliceByTypeGet(no, 0, &slice), 0u);
    EXPECT_EQ(slice, 24u);
    ASSERT_EQ(UKO_MemSliceByTypeGet(no, classes - 1, &slice), 0u);
    EXPECT_EQ(slice, 4096u);
    ASSERT_EQ(UKO_MemSliceByTypeGet(no, classes, &slice), 0u);
    EXPECT_EQ(slice, 4096u);
    {
        vt_test::LogCapture cap;
        slice = 7;
        EXPECT_EQ(UKO_MemSliceByTypeGet(no, classes + 1, &slice), 22u);
        EXPECT_EQ(slice, 7u);
        EXPECT_EQ(cap.Matching("the param ulType(61) is larger than MaxType(60).").size(), 1u);
    }

    // The small block's class and size, and its class's counters.
    uint32_t type = 0;
    uint64_t bytes = 0;
    ASSERT_EQ(ukoMemTypeAndSizeByAddrGet(small, &type, &bytes, no), 0u);
    ASSERT_LT(type, classes);
    ASSERT_EQ(UKO_MemSliceByTypeGet(no, type, &slice), 0u);
    EXPECT_EQ(bytes, slice);
    EXPECT_GE(bytes, 100u + 8 + DLM_SLICE_HEAD_SIZE);
    uint32_t num = 0, freeNum = 0;
    ASSERT_EQ(UKO_MemPtFreeNumByTypeGet(no, type, &num, &freeNum), 0u);
    const uint32_t usedInClass = num - freeNum;
    EXPECT_GE(usedInClass, 1u);
    ASSERT_EQ(ukoMemTypeAndSizeByAddrGet(large, &type, &bytes, no), 0u);
    EXPECT_EQ(type, classes) << "a block above the slices has no class";
    EXPECT_GE(bytes, 8000u);

    // The algorithm's block size, head included, also through an alignment tag.
    EXPECT_EQ(ukoMemBlockSizeGet(no, small), ukoMemUsableSizeGet(no, small) + 8);
    auto* aligned = static_cast<uint8_t*>(UKO_MemAllocAlignN(0, no, 200, 128));
    ASSERT_NE(aligned, nullptr);
    blocks_.push_back(aligned);
    uint64_t tag = 0;
    std::memcpy(&tag, aligned - 8, 8);
    const uint64_t moved = (tag & 0xFFFFF00FFF) == 0xADD00BEE ? (tag >> 12) & 0xFF : 0;
    EXPECT_NE(ukoMemBlockSizeGet(no, aligned), kAllOnes);
    EXPECT_EQ(ukoMemBlockSizeGet(no, aligned), ukoMemUsableSizeGet(no, aligned) + 8 + moved);

    EXPECT_EQ(ukoMemAddrInPtCheck(small, no), 0u);
    EXPECT_EQ(ukoMemAddrInPtCheck(small, 0), 22u);
    int onStack = 0;
    EXPECT_EQ(ukoMemAddrInPtCheck(&onStack, no), 22u);
    {
        vt_test::LogCapture cap;
        EXPECT_EQ(ukoMemTypeAndSizeByAddrGet(&onStack, &type, &bytes, no), 22u);
        EXPECT_EQ(cap.Matching("[ZIRPA-ukoMemTypeAndSizeByAddrGet]:UKO_MemPtFind(0x").size(), 1u);
        EXPECT_EQ(ukoMemTypeAndSizeByAddrGet(nullptr, &type, &bytes, no), 22u);
        EXPECT_EQ(cap.Matching("The parameters(pTempAddr) is NULL!").size(), 1u);
    }

    // Freeing the small block shows in its class.
    const uint32_t smallType = [&] {
        uint32_t t = 0;
        uint64_t b = 0;
        EXPECT_EQ(ukoMemTypeAndSizeByAddrGet(small, &t, &b, no), 0u);
        return t;
    }();
    ASSERT_EQ(UKO_MemFree(0, small), 0u);
    blocks_.erase(blocks_.begin());
    ASSERT_EQ(UKO_MemPtFreeNumByTypeGet(no, smallType, &num, &freeNum), 0u);
    EXPECT_EQ(num - freeNum, usedInClass - 1);
}

TEST_F(MemPtInfo, QueriesWithoutTheAlgorithmsAnswer) {
    uint8_t bare = Make("BARECLASS", 64 * 1024, "BARE");
    void* p = Alloc(bare, 100);
    vt_test::LogCapture cap;
    uint32_t classes = 7;
    EXPECT_EQ(UKO_MemPtTypeNumGet(bare, &classes), 0x21182730u);
    EXPECT_EQ(classes, 0u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtTypeNumGet]:pfnTypeNumGet = 0!").size(), 1u);
    uint32_t slice = 7;
    EXPECT_EQ(UKO_MemSliceByTypeGet(bare, 0, &slice), 0x21182730u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemSliceByTypeGet]:pfnTypeNumGet = 0!").size(), 1u);
    uint32_t num = 0, freeNum = 0;
    EXPECT_EQ(UKO_MemPtFreeNumByTypeGet(bare, 0, &num, &freeNum), 0x21182730u);
    EXPECT_EQ(num, 0xFFFFFFFFu);
    EXPECT_EQ(freeNum, 0xFFFFFFFFu);
    uint64_t size = 0, blocks = 0;
    EXPECT_EQ(UKO_MemPtUsedBlockGet(bare, &size, &blocks), 0x21182730u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtUsedBlockGet]:pfnGetUsedBlock = 0!").size(), 1u);
    uint32_t type = 0;
    EXPECT_EQ(ukoMemTypeAndSizeByAddrGet(p, &type, &size, bare), 0x21182730u);
    EXPECT_EQ(ukoMemBlockSizeGet(bare, p), kAllOnes);

    // The class size comes from its own slot.
    UKO_MEM_ALGO_OPS noClassSize = g_stDlmMemAlgoOps;
    noClassSize.pfReserved[0] = nullptr;
    RegisterOnce("NOCLASSSIZE", noClassSize);
    uint8_t no = Make("NOCLASSPT", 64 * 1024, "NOCLASSSIZE");
    cap.Clear();
    EXPECT_EQ(UKO_MemSliceByTypeGet(no, 0, &slice), 0x21182730u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemSliceByTypeGet]:pfReserved[0] = 0!").size(), 1u);

    // Partitions that do not exist.
    const uint8_t empty = FreeSlot();
    cap.Clear();
    EXPECT_EQ(UKO_MemPtTypeNumGet(8, &classes), 22u);
    EXPECT_EQ(UKO_MemPtTypeNumGet(empty, &classes), 22u);
    EXPECT_EQ(UKO_MemPtTypeNumGet(no, nullptr), 22u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtTypeNumGet]: Invalid PtNo(8).").size(), 1u);
    EXPECT_EQ(cap.Matching("[ZIRPA-UKO_MemPtTypeNumGet]:MemPt(" + std::to_string(empty) + ") is not installed.").size(),
              1u);
    EXPECT_EQ(cap.Matching("The Param puiTypeNum is null.").size(), 1u);
    cap.Clear();
    EXPECT_EQ(UKO_MemPtFreeNumByTypeGet(8, 0, &num, &freeNum), 22u);
    EXPECT_TRUE(cap.Records().empty());
    EXPECT_EQ(UKO_MemPtFreeNumByTypeGet(empty, 0, &num, &freeNum), 22u);
    EXPECT_EQ(cap.Records().size(), 1u);
    EXPECT_EQ(UKO_MemSliceByTypeGet(8, 0, &slice), 22u);
    EXPECT_EQ(UKO_MemSliceByTypeGet(empty, 0, &slice), 22u);
    EXPECT_EQ(UKO_MemSliceByTypeGet(no, 0, nullptr), 22u);
    EXPECT_EQ(cap.Matching("The parameters(puiSliceSize) is NULL!").size(), 1u);
    EXPECT_EQ(UKO_MemPtUsedBlockGet(empty, &size, &blocks), 22u);
    EXPECT_EQ(UKO_MemPtUsedBlockGet(no, nullptr, &blocks), 22u);
    EXPECT_EQ(cap.Matching("The parameters(pulSize) is NULL!").size(), 1u);
    EXPECT_EQ(ukoMemBlockSizeGet(empty, p), kAllOnes);
}

TEST_F(MemPtInfo, InstalledCountAndSlotFlags) {
    const uint32_t n0 = UKO_MemPtInstalledNumGet();
    uint8_t no = Make("COUNTPT", 64 * 1024);
    EXPECT_EQ(UKO_MemPtInstalledNumGet(), n0 + 1);
    ASSERT_EQ(UKO_MemPtDelete(no), 0u);
    made_.clear();
    EXPECT_EQ(UKO_MemPtInstalledNumGet(), n0);
    std::vector<uint8_t> flags(UKO_MemPtMaxNumGet(), 0xEE);
    ASSERT_EQ(UKO_MemPtSlotFlagsGet(flags.data()), 0u);
    EXPECT_EQ(flags[0], 1) << "the system partition's slot";
    EXPECT_EQ(flags[no], 0) << "a deleted partition's slot";
    EXPECT_EQ(UKO_MemPtSlotFlagsGet(nullptr), 22u);
}

TEST_F(MemPtInfo, SizeText) {
    struct Case {
        uint64_t value;
        const char* text;
    } cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {65536, "65,536"},
        {999999, "999,999"},
        {1000000, "1,000,000"},
        {1000001000, "1,000,001,000"},
        {999999999999, "999,999,999,999"},
        {1000000000000, "1,000,000,000,000"},
        {1000000000000000, "1,000,000,000,000,000"},
        {1000000000000000000, "1,000,000,000,000,000,000"},
        {~uint64_t{0}, "18,446,744,073,709,551,615"},
    };
    for (const Case& c : cases) {
        char buf[UKO_MEM_SIZE_STR_LEN + 4];
        std::memset(buf, '#', sizeof(buf));
        EXPECT_EQ(ukoMemSizeToStr(c.value, buf), buf);
        EXPECT_STREQ(buf, c.text) << c.value;
        EXPECT_EQ(buf[UKO_MEM_SIZE_STR_LEN], '#') << "nothing beyond the 28 bytes";
    }
    EXPECT_EQ(ukoMemSizeToStr(5, nullptr), nullptr);
}

std::vector<std::string> g_shown;
void Shown(uint32_t target, const char* line) {
    if (target == 42) g_shown.emplace_back(line);
}

std::string Pad(const std::string& s, size_t width) { return s.size() < width ? s + std::string(width - s.size(), ' ') : s; }

TEST_F(MemPtInfo, StatisticsShow) {
    g_fakeTotal = 1;
    g_fakeFree = 16384;
    uint8_t no = Make("SHOWPT", 64 * 1024, "FAKEINFO");
    char maxText[UKO_MEM_SIZE_STR_LEN];
    (void)ukoMemSizeToStr(UKO_MaxUsableSizeGet(no), maxText);
    const uint32_t installed = UKO_MemPtInstalledNumGet();
    char totalText[UKO_MEM_SIZE_STR_LEN];
    char freeText[UKO_MEM_SIZE_STR_LEN];
    (void)ukoMemSizeToStr(UKO_MemTotalSizeGet(), totalText);
    (void)ukoMemSizeToStr(UKO_MemFreeSizeGet(), freeText);
    const uint32_t damage0 = m_uiMemDamageCount.load();

    const std::string stars(80, '*');
    const std::string dashes(80, '-');
    for (uint32_t damage : {0u, 3u}) {
        m_uiMemDamageCount = damage;
        g_shown.clear();
        ukoShowPrintObserverSet(Shown);
        EXPECT_EQ(ukoMemPtStatShow(42), 0u);
        ukoShowPrintObserverSet(nullptr);
        ASSERT_EQ(g_shown.size(), 6 + installed + (damage != 0 ? 1 : 0)) << damage;
        EXPECT_EQ(g_shown[0], "\r\n" + stars);
        EXPECT_EQ(g_shown[1],
                  "\r\nPtNo       PtName     PieceNum  TotalSize(B)               FreeSize(B)                "
                  "MaxUsableSize(B)           Usage");
        EXPECT_EQ(g_shown[2], "\r\n" + dashes);
        EXPECT_EQ(g_shown[3].rfind("\r\n0          SYSPT      1         33,554,432", 0), 0u) << g_shown[3];
        const std::string mine = "\r\n" + Pad(std::to_string(no), 10) + " SHOWPT     1         " + Pad("65,536", 26) +
                                 " " + Pad("16,384", 26) + " " + Pad(maxText, 26) + " 75 %";
        size_t row = 3;
        while (row < 3 + installed && g_shown[row] != mine) ++row;
        EXPECT_LT(row, 3 + installed) << "no row for the partition";
        EXPECT_EQ(g_shown[3 + installed], "\r\n" + dashes);
        const std::string& total = g_shown[4 + installed];
        EXPECT_EQ(total.rfind("\r\nTotal                 " + Pad(std::to_string(installed), 9) + " " +
                                  Pad(totalText, 26) + " " + Pad(freeText, 26) + "      ---                  ",
                              0),
                  0u)
            << total;
        EXPECT_EQ(total.back(), '%');
        if (damage != 0) {
            EXPECT_EQ(g_shown[5 + installed], "\r\nMemory is damaged! Detect times: 3");
        }
        EXPECT_EQ(g_shown.back(), "\r\n" + stars);
    }
    m_uiMemDamageCount = damage0;
}

}  // namespace
