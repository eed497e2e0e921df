// The allocation front: UKO_Malloc and its family, free and reference wrappers with
// their hooks, the mid-to-handle conversion, the memory wrappers and the lock wrappers.

#include <gtest/gtest.h>

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "heap_walk.h"
#include "jqr_mem.h"
#include "uko_handle.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "uko_secfunc.h"
#include "uko_string.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"

namespace {

uint64_t Used() { return m_pstMemPtCb[0].uvUsedSize; }
uint64_t WordBefore(const void* p) { return heap_test::Peek64(static_cast<const uint8_t*>(p) - 8); }
uint32_t HeadHandle(const void* p) { return static_cast<uint32_t>((WordBefore(p) >> 12) & 0xFFFF); }

// Error records of the layer, by their unexpanded format.
struct RecordLog {
    uint16_t code;
    uint16_t moduleId;
    std::string file;
    std::string format;
};
std::mutex g_recMutex;
std::vector<RecordLog> g_records;
void Observer(uint32_t, uint16_t code, uint16_t mid, const char* file, uint16_t, const char* format) {
    std::lock_guard<std::mutex> lock(g_recMutex);
    g_records.push_back({code, mid, file != nullptr ? file : "", format != nullptr ? format : ""});
}
size_t RecordsWith(const std::string& fragment) {
    std::lock_guard<std::mutex> lock(g_recMutex);
    size_t n = 0;
    for (const RecordLog& r : g_records) {
        if (r.format.find(fragment) != std::string::npos) ++n;
    }
    return n;
}

struct JqrMem : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        g_records.clear();
        ukoErrorRecordObserverSet(Observer);
        used0 = Used();
    }
    void TearDown() override {
        ukoErrorRecordObserverSet(nullptr);
        (void)UKO_FreeHookSet(nullptr);
        (void)UKO_RefIncHookSet(nullptr);
        (void)UKO_RefGetHookSet(nullptr);
        (void)UKO_MemOverflowHookSet(nullptr);
        EXPECT_EQ(Used(), used0) << "the test left blocks in the system partition";
    }
    uint64_t used0 = 0;
};

TEST_F(JqrMem, LoginPacketBlock) {
    void* p = UKO_Malloc(0, 2005);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    uint64_t w = WordBefore(p);
    EXPECT_EQ(w & 0xF000000F, 0xB000000Du);
    EXPECT_EQ((w >> 4) & 0xFF, 0u);  // partition 0
    std::memset(p, 0x42, 2005);
    EXPECT_EQ(UKO_Free(p), 0u);
    EXPECT_EQ(Used(), used0);

    EXPECT_EQ(UKO_Malloc(0, 0), nullptr);
    EXPECT_EQ(errno, 22);

    // A double free: one report that names the partition and the owner.
    void* keep = UKO_Malloc(0, 2005);
    void* q = UKO_Malloc(0, 2005);
    ASSERT_EQ(UKO_Free(q), 0u);
    {
        vt_test::LogCapture cap;
        EXPECT_EQ(UKO_Free(q), 0x2118272Cu);
        auto recs = cap.Records();
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_NE(recs[0].text.find("Pt SYSPT has"), std::string::npos) << recs[0].text;
        EXPECT_NE(recs[0].text.find("handle = 0, Handle Name = uko.sys"), std::string::npos) << recs[0].text;
    }
    // A foreign pointer.
    uint64_t onStack[3] = {0, 0, 0};
    EXPECT_EQ(UKO_Free(&onStack[1]), 22u);
    EXPECT_EQ(UKO_Free(keep), 0u);
}

TEST_F(JqrMem, EveryAllocationFormUsesPartitionZeroAndItsSize) {
    struct Case {
        const char* name;
        void* (*alloc)();
        uint64_t size;
    } cases[] = {
        {"UKO_Malloc32", [] { return UKO_Malloc32(0); }, 32},
        {"UKO_Malloc64", [] { return UKO_Malloc64(0); }, 64},
        {"UKO_Malloc128", [] { return UKO_Malloc128(0); }, 128},
        {"UKO_Malloc256", [] { return UKO_Malloc256(0); }, 256},
        {"UKO_Malloc512", [] { return UKO_Malloc512(0); }, 512},
        {"UKO_Malloc1024", [] { return UKO_Malloc1024(0); }, 1024},
        {"UKO_Malloc2048", [] { return UKO_Malloc2048(0); }, 2048},
        {"UKO_Malloc4096", [] { return UKO_Malloc4096(0); }, 4096},
        {"UKO_Malloc_F", [] { return UKO_Malloc_F(0, 700, "f.c", 3); }, 700},
        {"UKO_MallocExt", [] { return UKO_MallocExt(0, 99, 700); }, 700},
        {"UKO_MallocAlt", [] { return UKO_MallocAlt(0, 700, 1, 2); }, 700},
        {"UKO_Calloc", [] { return UKO_Calloc(0, 99, 700); }, 700},
        {"UKO_Malloc_X", [] { return UKO_Malloc_X(0, 700, "f.c", 3); }, 700},
        {"UKO_Alloc_X", [] { return UKO_Alloc_X(0, 99, 700, "f.c", 3); }, 700},
        {"UKO_Calloc_X", [] { return UKO_Calloc_X(0, 99, 700, "f.c", 3); }, 700},
        {"UKO_MallocAlign_X", [] { return UKO_MallocAlign_X(0, 700, 64, "f.c", 3); }, 700},
    };
    for (const Case& c : cases) {
        void* p = c.alloc();
        ASSERT_NE(p, nullptr) << c.name;
        uint8_t no = 255;
        ASSERT_EQ(UKO_MemPtFind(p, &no, 255), 0u) << c.name;
        EXPECT_EQ(no, 0) << c.name;
        EXPECT_GE(ukoMemUsableSizeGet(0, p), c.size) << c.name;
        std::memset(p, 0xEE, c.size);
        EXPECT_EQ(UKO_Free(p), 0u) << c.name;
    }
    EXPECT_EQ(UKO_MallocAlign_X(0, 700, 48, "f.c", 3), nullptr);
}

TEST_F(JqrMem, CallocFillsWithZeros) {
    for (int round = 0; round < 2; ++round) {
        // Dirty the blocks that the zeroed allocation is likely to reuse.
        std::vector<void*> dirty;
        for (int i = 0; i < 8; ++i) {
            void* p = UKO_Malloc(0, 3000);
            std::memset(p, 0xCD, 3000);
            dirty.push_back(p);
        }
        for (void* p : dirty) ASSERT_EQ(UKO_Free(p), 0u);
        auto* z = static_cast<uint8_t*>(round == 0 ? UKO_Calloc(0, 0, 3000) : UKO_Calloc_X(0, 0, 3000, "f", 1));
        ASSERT_NE(z, nullptr);
        for (int i = 0; i < 3000; ++i) ASSERT_EQ(z[i], 0) << i;
        EXPECT_EQ(UKO_Free(z), 0u);
    }
}

TEST_F(JqrMem, Realloc) {
    auto* p = static_cast<uint8_t*>(UKO_Realloc(nullptr, 100));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i) p[i] = static_cast<uint8_t>(i);
    uint64_t usableOld = ukoMemUsableSizeGet(0, p);
    auto* q = static_cast<uint8_t*>(UKO_Realloc(p, 9000));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(q[i], i);
    EXPECT_GE(usableOld, 100u);
    EXPECT_EQ(UKO_Realloc(q, 0), nullptr);
    uint64_t onStack[2] = {0, 0};
    EXPECT_EQ(UKO_Realloc(&onStack[1], 10), nullptr);
}

TEST_F(JqrMem, MidConversionWithoutTheTable) {
    struct Case {
        uint32_t mid;
        uint32_t handle;
    } cases[] = {{0, 0}, {0x00010002, 0x00020001}, {0x0000ABCD, 0xABCD0000}, {0xFFFFFFFF, 0xFFFFFFFF}};
    for (const Case& c : cases) {
        EXPECT_EQ(UKO_ConverMIDTOHandle(c.mid), c.handle) << std::hex << c.mid;
    }
    uint32_t h = 7;
    EXPECT_EQ(ukoMidToHandle(0x00001234, &h), 0u);
    EXPECT_EQ(h, 0x1234u);
    EXPECT_EQ(ukoMidToHandle(0xFFFFFFFF, &h), 0u);
    EXPECT_EQ(h, 0xFFFFFFFFu);
    h = 7;
    EXPECT_EQ(ukoMidToHandle(0x00120000, &h), 22u);
    EXPECT_EQ(h, 7u);
    // Blocks record the converted handle; the _X forms record the mid itself.
    void* a = UKO_Malloc(0x00010002, 10);
    void* b = UKO_Malloc_X(0x00010002, 10, "f.c", 1);
    EXPECT_EQ(HeadHandle(a), 0x0001u);
    EXPECT_EQ(HeadHandle(b), 0x0002u);
    EXPECT_EQ(UKO_Free(a), 0u);
    EXPECT_EQ(UKO_Free(b), 0u);

    uint16_t mid = 0;
    EXPECT_EQ(UKO_GetHandleByMid(0x00120000, &h), 22u);
    EXPECT_EQ(UKO_GetMidByHandle(0, &mid), 22u);
    EXPECT_EQ(RecordsWith("JQR_MEMPT_STATMID is not open."), 2u);
    EXPECT_EQ(UKO_GetHandleByMid(0x00120000, nullptr), 22u);
    EXPECT_EQ(UKO_GetMidByHandle(0, nullptr), 22u);
    EXPECT_EQ(RecordsWith("input pHandle is not NULL."), 1u);
    EXPECT_EQ(RecordsWith("input pusMid is not NULL."), 1u);
    std::lock_guard<std::mutex> lock(g_recMutex);
    for (const RecordLog& r : g_records) {
        EXPECT_EQ(r.moduleId, 0x209D);
        EXPECT_EQ(r.code, 22);
        EXPECT_EQ(r.file, "jqr_mem");
    }
}

TEST_F(JqrMem, MidConversionWithTheTable) {
    auto r = vt_test::RunInChild([] {
        ASSERT_EQ(ukoMemMidBitMapCreate(), 0u);
        ASSERT_EQ(ukoMemMidBitMapCreate(), 0u) << "already there";
        EXPECT_EQ(UKO_ConverMIDTOHandle(0x00001234), 0x1234u);
        uint32_t h = UKO_ConverMIDTOHandle(0x00120005);
        ASSERT_NE(h, 0u);
        ASSERT_NE(h, 0x00050012u);
        char name[32] = {0};
        EXPECT_EQ(UKO_HandleNameGet(h, name), 0u);
        EXPECT_STREQ(name, "JQRS.MID.12");
        EXPECT_EQ(UKO_ConverMIDTOHandle(0x00120009), h) << "same module, same handle";
        uint16_t mid = 0;
        EXPECT_EQ(UKO_GetMidByHandle(h, &mid), 0u);
        EXPECT_EQ(mid, 0x12);
        uint32_t got = 0;
        EXPECT_EQ(UKO_GetHandleByMid(0x00120000, &got), 0u);
        EXPECT_EQ(got, h);
        got = 0;
        EXPECT_EQ(ukoMidToHandle(0x00120000, &got), 0u);
        EXPECT_EQ(got, h);
        EXPECT_EQ(UKO_GetHandleByMid(0x00001234, &got), 22u) << "high half 0";
        EXPECT_EQ(UKO_GetHandleByMid(0x00AB0000, &got), 22u) << "not converted yet";
        EXPECT_EQ(UKO_GetMidByHandle(0, &mid), 22u) << "uko.sys";
        // A name registered by someone else first: its handle, not stored in the table.
        uint32_t other = 0;
        ASSERT_EQ(UKO_HandleInitialize("JQRS.MID.34", &other), 0u);
        EXPECT_EQ(UKO_ConverMIDTOHandle(0x00340000), other);
        EXPECT_EQ(ukoMidToHandle(0x00340000, &got), 22u);
        // Module numbers in hexadecimal without leading zeros.
        uint32_t hb = UKO_ConverMIDTOHandle(0xBEEF0000);
        EXPECT_EQ(UKO_HandleNameGet(hb, name), 0u);
        EXPECT_STREQ(name, "JQRS.MID.beef");
        EXPECT_EQ(UKO_GetMidByHandle(hb, &mid), 0u);
        EXPECT_EQ(mid, 0xBEEF);
        // With the table the _X forms record the converted handle.
        void* p = UKO_Malloc_X(0x00120000, 10, "f.c", 1);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(HeadHandle(p), h & 0xFFFF);
        EXPECT_EQ(UKO_Free(p), 0u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// Overrun hooks for the memory wrappers.
size_t HookRefuse(void*, void*, size_t, size_t) { return 0; }
size_t HookSix(void*, void*, size_t, size_t) { return 6; }
size_t HookHuge(void*, void*, size_t, size_t) { return 1000; }

TEST_F(JqrMem, MemCpyOverrunTable) {
    struct Case {
        const char* what;
        UKO_MEM_OVERFLOW_HOOK_PF hook;
        int32_t result;
        size_t copied;
    } cases[] = {
        {"no hook cuts to the destination", nullptr, 0, 8},
        {"hook refuses", HookRefuse, -1, 0},
        {"hook answers 6", HookSix, 0, 6},
        {"hook answers beyond the destination", HookHuge, 0, 8},
    };
    uint8_t src[20];
    for (int i = 0; i < 20; ++i) src[i] = static_cast<uint8_t>(i + 1);
    for (const Case& c : cases) {
        (void)UKO_MemOverflowHookSet(c.hook);
        // Each operation writes into 8 bytes followed by a guard.
        uint8_t buf[16];
        auto check = [&](const char* op, int32_t rc, uint8_t fill, bool copies) {
            EXPECT_EQ(rc, c.result) << c.what << " " << op;
            for (size_t i = 0; i < 8; ++i) {
                uint8_t want = i < c.copied ? (copies ? src[i] : fill) : 0xAA;
                EXPECT_EQ(buf[i], want) << c.what << " " << op << " byte " << i;
            }
            for (size_t i = 8; i < 16; ++i) EXPECT_EQ(buf[i], 0xAA) << c.what << " " << op;
        };
        std::memset(buf, 0xAA, sizeof(buf));
        check("copy", UKO_MemCpy(buf, 8, src, 20), 0, true);
        std::memset(buf, 0xAA, sizeof(buf));
        check("move", UKO_MemMove(buf, 8, src, 20), 0, true);
        std::memset(buf, 0xAA, sizeof(buf));
        check("set", UKO_MemSet(buf, 8, 0x5F, 20), 0x5F, false);
    }
}

TEST_F(JqrMem, MemoryWrapperArguments) {
    uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 9};
    // Count 0 is tested first by the copy, never by the move.
    EXPECT_EQ(UKO_MemCpy(nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(UKO_MemMove(nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(UKO_MemCpy(nullptr, 8, a, 4), -1);
    EXPECT_EQ(UKO_MemCpy(b, 8, nullptr, 4), -1);
    EXPECT_EQ(UKO_MemCpy(b, 0, a, 4), -1);
    EXPECT_EQ(UKO_MemMove(b, 0, a, 0), -1);
    EXPECT_EQ(UKO_MemSet(nullptr, 8, 0, 1), -1);
    EXPECT_EQ(UKO_MemSet(b, 0, 0, 1), -1);
    uint32_t cmp = 77;
    EXPECT_EQ(UKO_MemCmp(a, b, 8, &cmp), 0);
    EXPECT_NE(cmp, 0u);
    EXPECT_EQ(UKO_MemCmp(a, b, 7, &cmp), 0);
    EXPECT_EQ(cmp, 0u);
    EXPECT_EQ(UKO_MemCmp(nullptr, b, 7, &cmp), -1);
    EXPECT_EQ(UKO_MemCmp(a, b, 7, nullptr), -1);
    EXPECT_EQ(UKO_MemCpyUnsized(nullptr, nullptr, 0), 0);
    EXPECT_EQ(UKO_MemCpyUnsized(nullptr, a, 3), -1);
    EXPECT_EQ(UKO_MemCpyUnsized(b, a, 8), 0);
    EXPECT_EQ(std::memcmp(a, b, 8), 0);
    // An overlapping move.
    uint8_t m[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(UKO_MemMove(m + 2, 6, m, 6), 0);
    const uint8_t moved[8] = {1, 2, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(std::memcmp(m, moved, 8), 0);
    EXPECT_EQ(UKO_MemSetUnsized(b, 0x33, 8), 0);
    EXPECT_EQ(b[7], 0x33);
    EXPECT_EQ(UKO_MemSetUnsized(nullptr, 0x33, 8), -1);
    EXPECT_EQ(UKO_MemZero(b, 8), 0);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[7], 0);
    EXPECT_EQ(UKO_MemZero(nullptr, 8), -1);
}

uint32_t g_freeHookAnswer = 0;
void* g_freeHookSaw = nullptr;
uint32_t FreeHook(void** pp) {
    g_freeHookSaw = *pp;
    *pp = nullptr;  // a copy: the caller's pointer must not change
    return g_freeHookAnswer;
}
uint32_t RefIncHookZero(void*) { return 0; }
uint32_t RefGetHookSeven(void*, uint32_t* c) {
    *c = 7;
    return 0;
}
uint32_t RefIncHookDecline(void*) { return 1; }

TEST_F(JqrMem, FreeAndReferenceHooks) {
    void* p = UKO_Malloc(0, 50);
    ASSERT_NE(p, nullptr);
    (void)UKO_FreeHookSet(FreeHook);
    g_freeHookAnswer = 0;
    uint64_t before = Used();
    EXPECT_EQ(UKO_Free(p), 0u);
    EXPECT_EQ(g_freeHookSaw, p);
    EXPECT_EQ(Used(), before);  // the hook took it: still allocated
    g_freeHookAnswer = 1;
    EXPECT_EQ(UKO_Free(p), 0u);  // declined: freed here
    EXPECT_LT(Used(), before);
    (void)UKO_FreeHookSet(nullptr);

    void* q = UKO_Malloc(0, 50);
    (void)UKO_RefIncHookSet(RefIncHookZero);
    EXPECT_EQ(UKO_RefInc(q), 0u);
    uint32_t count = 0;
    EXPECT_EQ(UKO_RefGet(q, &count), 0u);
    EXPECT_EQ(count, 1u);  // the hook did the increment, not the partition
    (void)UKO_RefGetHookSet(RefGetHookSeven);
    EXPECT_EQ(UKO_RefGet(q, &count), 0u);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(UKO_RefGet_X(q, &count, "f", 1), 0u);
    EXPECT_EQ(count, 1u);  // the _X forms never ask the hooks
    (void)UKO_RefIncHookSet(RefIncHookDecline);
    EXPECT_EQ(UKO_RefInc(q), 0u);
    EXPECT_EQ(UKO_RefInc_X(q, "f", 1), 0u);
    EXPECT_EQ(UKO_RefGet_X(q, &count, "f", 1), 0u);
    EXPECT_EQ(count, 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(UKO_Free_F(q, "f", 2), 0u);
}

TEST_F(JqrMem, FreeXClearsThePointerOnlyOnSuccess) {
    void* keep = UKO_Malloc(0, 2005);
    void* p = UKO_Malloc(0, 2005);
    void* copy = p;
    EXPECT_EQ(UKO_Free_X(&p, "f", 1), 0u);
    EXPECT_EQ(p, nullptr);
    p = copy;
    EXPECT_EQ(UKO_Free_X(&p, "f", 2), 0x2118272Cu);
    EXPECT_EQ(p, copy);
    EXPECT_EQ(UKO_Free_X(nullptr, "f", 3), 22u);
    EXPECT_EQ(RecordsWith("The parameters(%s) is NULL!"), 1u);
    EXPECT_EQ(UKO_Free(keep), 0u);
}

void* TryFromOtherThread(void* lock) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(UKO_TryLock(static_cast<pthread_mutex_t*>(lock))));
}

TEST_F(JqrMem, LockWrappers) {
    pthread_mutex_t* lock = UKO_LockCreate();
    ASSERT_NE(lock, nullptr);
    uint8_t no = 255;
    ASSERT_EQ(UKO_MemPtFind(lock, &no, 255), 0u);  // a partition block
    EXPECT_EQ(UKO_Lock(lock), 0u);
    EXPECT_EQ(UKO_Lock(lock), 0u);  // recursive
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, nullptr, TryFromOtherThread, lock), 0);
    void* other = nullptr;
    pthread_join(t, &other);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(other), static_cast<uintptr_t>(EBUSY));
    EXPECT_EQ(UKO_Unlock(lock), 0u);
    EXPECT_EQ(UKO_Unlock(lock), 0u);
    EXPECT_EQ(UKO_TryLock(lock), 0u);
    EXPECT_EQ(UKO_Unlock(lock), 0u);
    uint64_t before = Used();
    EXPECT_EQ(UKO_LockDestroy(lock), 0u);
    EXPECT_EQ(Used(), before);  // the block stays the caller's
    EXPECT_EQ(UKO_Free(lock), 0u);
}

}  // namespace
