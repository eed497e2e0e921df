// Partition table, start-up, creation and deletion, and the algorithm registry.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "v_dlmem.h"
#include "v_dlmem_inner.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

struct MemPt : ::testing::Test {
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
};

UKO_MEMPT_CB& Cb(uint8_t no) { return m_pstMemPtCb[no]; }

uint32_t PieceCount(uint8_t no) {
    uint32_t n = 0;
    for (UKO_MEMPT_PIECE_HEAD* pc = Cb(no).pPieceList; pc != nullptr; pc = pc->pNext) {
        ++n;
    }
    return n;
}

// A caller's area for a partition, 8-aligned, with room to spare on both sides.
struct CallerArea {
    explicit CallerArea(size_t n) : size(n), raw(static_cast<uint8_t*>(std::malloc(n + 64))), p(raw + 16) {}
    ~CallerArea() { std::free(raw); }
    size_t size;
    uint8_t* raw;
    uint8_t* p;
};

TEST_F(MemPt, StartUpInstallsTheSystemPartitionInSlotZero) {
    EXPECT_EQ(m_ucSysPtNo, 0);
    EXPECT_EQ(UKO_MemPtMaxNumGet(), 8);
    uint8_t no = 77;
    ASSERT_EQ(UKO_MemPtNoGet("SYSPT", &no), 0u);
    EXPECT_EQ(no, 0);
    UKO_MEMPT_CB& sys = Cb(0);
    EXPECT_EQ(sys.uvMagic, UKO_MEMPT_CB_MAGIC);
    EXPECT_STREQ(sys.acName, "SYSPT");
    EXPECT_STREQ(sys.acAlgoName, "DLM");
    EXPECT_EQ(sys.uvInitSize, 0x2000000u);
    EXPECT_EQ(sys.uiFlags, 0u);  // no automatic growth
    ASSERT_EQ(PieceCount(0), 1u);
    EXPECT_EQ(sys.pPieceList->uvSize, 0x2000000u);
    EXPECT_EQ(sys.pPieceList->uiType, UKO_MEMPT_PIECE_FIRST);
    EXPECT_EQ(sys.pPieceList->ucSource, UKO_MEMPT_SRC_HOST);
    // The total is the algorithm's, which keeps its own state out of it. Later start-up
    // steps already take blocks from the partition, and each slice page the algorithm
    // carves for them moves its total one page head below the partition's last reading.
    uint64_t total = 0, freeBytes = 0;
    ASSERT_EQ(DLM_InfoGet(static_cast<DLM_CB*>(sys.pAlgoHandle), &total, &freeBytes), 0u);
    EXPECT_GE(sys.uvTotalSize, total);
    EXPECT_EQ((sys.uvTotalSize - total) % DLM_PAGE_HEAD_SIZE, 0u);
    EXPECT_LT(total, 0x2000000u);
}

TEST_F(MemPt, SecondStartUpIsRefusedBecauseTheSystemPartitionExists) {
    vt_test::LogCapture cap;
    EXPECT_EQ(ukoMemPtInit(0), 0x21182716u);
    EXPECT_EQ(cap.Matching("Partition(SYSPT) already exists.").size(), 1u);
    EXPECT_EQ(cap.Matching("[ZIRPA-ukoMemPtInit]:Create system partion fail.").size(), 1u);
    // Nothing changed: still one system partition with its one piece.
    uint8_t no = 77;
    EXPECT_EQ(UKO_MemPtNoGet("SYSPT", &no), 0u);
    EXPECT_EQ(no, 0);
    EXPECT_EQ(PieceCount(0), 1u);
}

TEST_F(MemPt, AlgorithmRegistry) {
    auto r = vt_test::RunInChild([] {
        // Start-up registered DLM; its own initialisation counts a second registration as
        // success, the registry itself answers 0x2118271D and keeps the first entry.
        EXPECT_EQ(DLM_Init(), 0u);
        EXPECT_EQ(UKO_MemAlgoReg("DLM", &g_stDlmMemAlgoOps), 0x2118271Du);
        uint32_t dlm = 0;
        for (const UKO_MEM_ALGO_REG& e : m_astMemAlgoReg) {
            if (e.uiUsed != 0 && std::strcmp(e.acName, "DLM") == 0) ++dlm;
        }
        EXPECT_EQ(dlm, 1u);
        EXPECT_EQ(UKO_MemAlgoReg(nullptr, &g_stDlmMemAlgoOps), 0x21182723u);
        EXPECT_EQ(UKO_MemAlgoReg("X", nullptr), 0x21182723u);
        UKO_MEM_ALGO_OPS noFree = g_stDlmMemAlgoOps;
        noFree.pfnFree = nullptr;
        EXPECT_EQ(UKO_MemAlgoReg("NOFREE", &noFree), 0x21182722u);
        // Long names are kept to 15 characters and compared over them.
        ASSERT_EQ(UKO_MemAlgoReg("ALGORITHM-NAME-15-PLUS", &g_stDlmMemAlgoOps), 0u);
        EXPECT_EQ(UKO_MemAlgoReg("ALGORITHM-NAME-1", &g_stDlmMemAlgoOps), 0x2118271Du);
        // Fill the ten entries; the eleventh is refused.
        for (int i = 2; i < 10; ++i) {
            std::string name = "A" + std::to_string(i);
            ASSERT_EQ(UKO_MemAlgoReg(name.c_str(), &g_stDlmMemAlgoOps), 0u) << name;
        }
        EXPECT_EQ(UKO_MemAlgoReg("ELEVENTH", &g_stDlmMemAlgoOps), 0x2118271Eu);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

TEST_F(MemPt, CreateUseAndDeleteAHostPartition) {
    uint8_t no = 0;
    ASSERT_EQ(UKO_MemPtCreateEx("TESTPT", "DLM", nullptr, nullptr, 256 * 1024, &no), 0u);
    EXPECT_NE(no, 0);
    EXPECT_EQ(UKO_MemPtIsInstalled(no), 1u);
    uint8_t found = 0;
    ASSERT_EQ(UKO_MemPtNoGet("TESTPT", &found), 0u);
    EXPECT_EQ(found, no);
    void* p = UKO_MemAlloc(0, no, 1000);
    ASSERT_NE(p, nullptr);
    uint8_t inPt = 255;
    ASSERT_EQ(UKO_MemPtFind(p, &inPt, 255), 0u);
    EXPECT_EQ(inPt, no);
    {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemPtDelete(no), 0x21182729u);
        EXPECT_EQ(cap.Matching("have 1024 Bytes used memory.").size(), 1u);
    }
    EXPECT_EQ(UKO_MemPtIsInstalled(no), 1u);  // refused deletion leaves it intact
    ASSERT_EQ(UKO_MemFree(0, p), 0u);
    EXPECT_EQ(Cb(no).uvUsedSize, 0u);
    ASSERT_EQ(UKO_MemPtDelete(no), 0u);
    EXPECT_EQ(UKO_MemPtIsInstalled(no), 0u);
    EXPECT_EQ(UKO_MemPtNoGet("TESTPT", &found), 0xFFFFFFFFu);
    EXPECT_EQ(found, 255);
    EXPECT_EQ(Cb(no).uvTotalSize, 0u);
    EXPECT_EQ(Cb(no).acName[0], '\0');
    // The slot can be taken again.
    ASSERT_EQ(UKO_MemPtCreateEx("TESTPT", "DLM", nullptr, nullptr, 64 * 1024, &found), 0u);
    EXPECT_EQ(found, no);
    EXPECT_EQ(UKO_MemPtDelete(found), 0u);
}

TEST_F(MemPt, DeletingLeavesACallersAreaToTheCaller) {
    CallerArea area(128 * 1024);
    std::memset(area.raw, 0x5A, area.size + 64);
    uint8_t no = 0;
    ASSERT_EQ(UKO_MemPtCreateEx("CALLERPT", "DLM", nullptr, area.p, area.size, &no), 0u);
    EXPECT_EQ(Cb(no).pPieceList->ucSource, UKO_MEMPT_SRC_CALLER);
    void* p = UKO_MemAlloc(0, no, 3000);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(static_cast<uint8_t*>(p), area.p);
    EXPECT_LT(static_cast<uint8_t*>(p), area.p + area.size);
    ASSERT_EQ(UKO_MemFree(0, p), 0u);
    ASSERT_EQ(UKO_MemPtDelete(no), 0u);
    // The area is the caller's again, every byte of it usable (a sanitizer build would
    // report any byte the heap left poisoned), and nothing beyond it was touched.
    std::memset(area.p, 0x11, area.size);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(area.raw[i], 0x5A);
        EXPECT_EQ(area.p[area.size + i], 0x5A);
    }
}

TEST_F(MemPt, CreationChecks) {
    CallerArea area(64 * 1024);
    uint8_t keep = 0;
    ASSERT_EQ(UKO_MemPtCreateEx("AREA1", "DLM", nullptr, area.p, area.size, &keep), 0u);
    const auto* sysPiece = Cb(0).pPieceList;
    void* insideSys = reinterpret_cast<void*>(sysPiece->uvStart + sysPiece->uvSize - 40000);
    // A size that carries the area past the end of the address space, 64 KiB beyond it.
    CallerArea spare(4096);
    const uint64_t wrappingSize = (~uint64_t{0} - reinterpret_cast<uintptr_t>(spare.p)) + 1 + 65536;

    struct Case {
        const char* what;
        const char* name;
        const char* algo;
        void* addr;
        uint64_t size;
        bool nullOut;
        uint32_t code;
        const char* message;
        uint8_t outAfter;  // 255 after the argument checks, untouched (42) before
    } cases[] = {
        {"no name", nullptr, "DLM", nullptr, 65536, false, 0x21182723, "Inval Param pszPtName(null)", 42},
        {"no algorithm", "P", nullptr, nullptr, 65536, false, 0x21182723, "pszAlgoName(null)", 42},
        {"no out", "P", "DLM", nullptr, 65536, true, 0x21182723, "pucPtNo(0x", 42},
        {"below 32k", "P", "DLM", nullptr, 32767, false, 0x21182724, "Inval Param uvSize(32767) < 32k.", 42},
        {"same name", "AREA1", "DLM", nullptr, 65536, false, 0x21182716, "Partition(AREA1) already exists.", 255},
        {"the system partition's name", "SYSPT", "DLM", nullptr, 65536, false, 0x21182716, "already exists", 255},
        {"overlaps a caller's area", "P", "DLM", area.p + 4096, 65536, false, 0x21182711, "memory overlap.", 255},
        {"overlaps the system piece", "P", "DLM", insideSys, 65536, false, 0x21182711, "memory overlap.", 255},
        {"unknown algorithm", "P", "NOALGO", nullptr, 65536, false, 0x21182725, "Algo(NOALGO) is not registered.",
         255},
        {"area wraps the address space", "P", "DLM", spare.p, wrappingSize, false, 0x21182724, "Inval Param pAddr(0x",
         42},
    };
    for (const Case& c : cases) {
        vt_test::LogCapture cap;
        uint8_t out = 42;
        uint32_t rc = UKO_MemPtCreateEx(c.name, c.algo, nullptr, c.addr, c.size, c.nullOut ? nullptr : &out);
        EXPECT_EQ(rc, c.code) << c.what;
        EXPECT_EQ(cap.Matching(c.message).size(), 1u) << c.what;
        if (!c.nullOut) {
            EXPECT_EQ(out, c.outAfter) << c.what;
        }
        EXPECT_EQ(errno, static_cast<int>(c.code)) << c.what;
    }
    // After every refusal the table lock is free again and the table unchanged.
    uint8_t no = 0;
    ASSERT_EQ(UKO_MemPtCreateEx("AFTER", "DLM", nullptr, nullptr, 65536, &no), 0u);
    EXPECT_EQ(UKO_MemPtDelete(no), 0u);
    EXPECT_EQ(UKO_MemPtDelete(keep), 0u);
}

// A refused caller's area stays exactly as it came. When it lies over a live partition,
// that partition's free memory must stay poisoned, or overruns into it go unseen.
TEST_F(MemPt, RefusedCallersAreaKeepsTheSanitizerMarksOfTheLivePartition) {
#if !defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "needs AddressSanitizer";
#else
    const auto* sysPiece = Cb(0).pPieceList;
    auto* inside = reinterpret_cast<uint8_t*>(sysPiece->uvStart + sysPiece->uvSize / 2);
    std::vector<size_t> poisoned;
    for (size_t off = 0; off < 65536; off += 256) {
        if (__asan_address_is_poisoned(inside + off) != 0) poisoned.push_back(off);
    }
    ASSERT_FALSE(poisoned.empty());
    uint8_t no = 0;
    ASSERT_EQ(UKO_MemPtCreateEx("OVERLAPPT", "DLM", nullptr, inside, 65536, &no), 0x21182711u);
    size_t lost = 0;
    for (size_t off : poisoned) {
        if (__asan_address_is_poisoned(inside + off) == 0) ++lost;
    }
    EXPECT_EQ(lost, 0u) << "of " << poisoned.size() << " poisoned places";
#endif
}

TEST_F(MemPt, SixteenCharacterNamesAreCutAndCompareOverFifteen) {
    uint8_t a = 0, b = 0;
    ASSERT_EQ(UKO_MemPtCreateEx("ABCDEFGHIJKLMNOP-1", "DLM", nullptr, nullptr, 65536, &a), 0u);
    EXPECT_STREQ(Cb(a).acName, "ABCDEFGHIJKLMNO");
    EXPECT_EQ(UKO_MemPtCreateEx("ABCDEFGHIJKLMNOP-2", "DLM", nullptr, nullptr, 65536, &b), 0x21182716u);
    uint8_t found = 0;
    EXPECT_EQ(UKO_MemPtNoGet("ABCDEFGHIJKLMNOxyz", &found), 0u);
    EXPECT_EQ(found, a);
    EXPECT_EQ(UKO_MemPtDelete(a), 0u);
}

TEST_F(MemPt, TableFullAndFormatFailure) {
    auto r = vt_test::RunInChild([] {
        std::vector<uint8_t> made;
        for (int i = 0;; ++i) {
            uint8_t no = 0;
            std::string name = "FILL" + std::to_string(i);
            uint32_t rc = UKO_MemPtCreateEx(name.c_str(), "DLM", nullptr, nullptr, 65536, &no);
            if (rc == 0x21182712u) break;
            ASSERT_EQ(rc, 0u) << name;
            made.push_back(no);
        }
        EXPECT_EQ(made.size() + 1, 8u) << "all slots but the system partition's";
        for (uint8_t no : made) {
            EXPECT_EQ(UKO_MemPtDelete(no), 0u) << int(no);
        }
        // An algorithm whose format refuses: nothing is installed.
        UKO_MEM_ALGO_OPS ops = g_stDlmMemAlgoOps;
        ops.pfnFormat = [](void*, uint64_t, const void*) -> void* { return nullptr; };
        ASSERT_EQ(UKO_MemAlgoReg("NOFMT", &ops), 0u);
        uint8_t no = 0;
        EXPECT_EQ(UKO_MemPtCreateEx("NOFMTPT", "NOFMT", nullptr, nullptr, 65536, &no), 0x21182713u);
        EXPECT_EQ(no, 255);
        uint8_t found = 0;
        EXPECT_EQ(UKO_MemPtNoGet("NOFMTPT", &found), 0xFFFFFFFFu);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

TEST_F(MemPt, DeletionChecks) {
    struct Case {
        uint8_t no;
        const char* message;
    } cases[] = {
        {255, "MaxPtNum(8), inval param ucPtNo(255)."},
        {8, "MaxPtNum(8), inval param ucPtNo(8)."},
        {0, "Can't delete the system memory partition(0), inval param ucPtNo(0)."},
        {6, "ucPtNo(6) is not installed."},
    };
    for (const Case& c : cases) {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_MemPtDelete(c.no), 22u) << int(c.no);
        EXPECT_EQ(cap.Matching(c.message).size(), 1u) << int(c.no);
    }
    EXPECT_EQ(UKO_MemPtIsInstalled(0), 1u);
}

TEST_F(MemPt, NumberLookupAndInstalledChecks) {
    vt_test::LogCapture cap;
    uint8_t no = 0;
    EXPECT_EQ(UKO_MemPtNoGet(nullptr, &no), 22u);
    EXPECT_EQ(UKO_MemPtNoGet("SYSPT", nullptr), 22u);
    EXPECT_EQ(cap.Matching("The parameters(pszPtName) is NULL!").size(), 1u);
    EXPECT_EQ(cap.Matching("The parameters(pucPtNo) is NULL!").size(), 1u);
    EXPECT_EQ(UKO_MemPtNoGet("NOSUCH", &no), 0xFFFFFFFFu);
    EXPECT_EQ(no, 255);

    cap.Clear();
    EXPECT_EQ(UKO_MemPtIsInstalled(255), 0u);
    EXPECT_EQ(cap.Matching("m_ucMaxPtNum(8), Inval Param ucPtNo(255).").size(), 1u);
    EXPECT_EQ(ukoMemPtIsInstalled(255), 0u);
    EXPECT_EQ(ukoMemPtIsInstalled(9), 0u);
    EXPECT_EQ(cap.Records().size(), 2u);  // 255 silent in the inner form, 9 reported
    EXPECT_EQ(ukoMemPtIsInstalled(0), 1u);
    EXPECT_EQ(ukoMemPtIsInstalled(7), 0u);
}

TEST_F(MemPt, HostMemoryHelpers) {
    void* p = nullptr;
    uint8_t src = 9;
    EXPECT_EQ(ukoMemPtAlloc(0, &p, &src), 0x21182723u);
    ASSERT_EQ(ukoMemPtAlloc(4096, &p, &src), 0u);
    EXPECT_EQ(src, UKO_MEMPT_SRC_HOST);
    ukoMemPtFree(p, 4096, src);

    uint64_t size = 100;
    auto* q = static_cast<uint64_t*>(MEMPT_SysMalloc(0, &size));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[-1], 0xB000DEADu);
    std::memset(q, 0, 100);
    std::free(q - 1);
    size = 0;
    EXPECT_EQ(MEMPT_SysMalloc(0, &size), nullptr);
    EXPECT_EQ(MEMPT_SysMalloc(0, nullptr), nullptr);
    vt_test::LogCapture cap;
    size = ~uint64_t{0} - 3;
    EXPECT_EQ(MEMPT_SysMalloc(0, &size), nullptr);
    EXPECT_EQ(cap.Matching("is too big.").size(), 1u);
}

}  // namespace

namespace {

TEST_F(MemPt, DamagedPieceEndsTheWalkAndBlocksDeletion) {
    uint8_t no = 0;
    ASSERT_EQ(UKO_MemPtCreateEx("DAMAGEPT", "DLM", nullptr, nullptr, 64 * 1024, &no), 0u);
    void* p = UKO_MemAlloc(0, no, 100);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(UKO_MemFree(0, p), 0u);
    UKO_MEMPT_PIECE_HEAD* pc = Cb(no).pPieceList;
    pc->uvMagic = 0x1234;
    {
        vt_test::LogCapture cap;
        uint8_t found = 255;
        EXPECT_EQ(UKO_MemPtFind(p, &found, 255), 22u);
        EXPECT_EQ(UKO_MemAddrInZirpaRangeIs(p), 0u);
        EXPECT_EQ(cap.Matching("piece(0x").size(), 2u);
        // The system partition is still found.
        void* q = UKO_MemAlloc(0, 0, 100);
        EXPECT_EQ(UKO_MemPtFind(q, &found, 255), 0u);
        EXPECT_EQ(found, 0);
        EXPECT_EQ(UKO_MemFree(0, q), 0u);
        cap.Clear();
        EXPECT_EQ(UKO_MemPtDelete(no), 22u);
        EXPECT_EQ(cap.Matching("was damaged.").size(), 1u);
        EXPECT_EQ(UKO_MemPtIsInstalled(no), 1u);
    }
    pc->uvMagic = UKO_MEMPT_PIECE_MAGIC;
    EXPECT_EQ(UKO_MemPtDelete(no), 0u);
}

}  // namespace
