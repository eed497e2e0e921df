// The semaphore table: ids lowest free first, the full table, flags and their names,
// P, non-waiting P and V by id with the binary cap, delete, look-up by name, the
// overload watch with its hysteresis, the statistics blocks and their show, and the
// V-notify hook.

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os_sema.h"
#include "os_sema_inner.h"
#include "osal_lock.h"
#include "osal_lock_inner.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "uko_secfunc.h"
#include "uko_start.h"
#include "uko_systime.h"
#include "uko_systime_inner.h"
#include "v_sm.h"
#include "v_sm_inner.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"

namespace {

// ---- Error records, by unexpanded format ---------------------------------------------------
struct Record {
    uint16_t code;
    uint16_t moduleId;
    std::string format;
};
std::mutex g_recMutex;
std::vector<Record> g_records;
void Observer(uint32_t, uint16_t code, uint16_t moduleId, const char*, uint16_t, const char* format) {
    std::lock_guard<std::mutex> lock(g_recMutex);
    g_records.push_back({code, moduleId, format != nullptr ? format : ""});
}
void ClearRecords() {
    std::lock_guard<std::mutex> lock(g_recMutex);
    g_records.clear();
}
std::vector<Record> Records() {
    std::lock_guard<std::mutex> lock(g_recMutex);
    return g_records;
}

size_t SemaListLength() {
    size_t n = 0;
    (void)OSAL_LockLock(&g_stUkoLockDbg.stSemaListLock);
    for (UKO_DLL_NODE* p = g_stUkoLockDbg.stSemaList.pstNext; p != &g_stUkoLockDbg.stSemaList;
         p = p->pstNext) {
        ++n;
    }
    (void)OSAL_LockUnLock(&g_stUkoLockDbg.stSemaListLock, 0);
    return n;
}
uint64_t SysPtUsed() { return m_pstMemPtCb[m_ucSysPtNo].uvUsedSize; }

UKO_Sema4Stats Counts() {
    UKO_Sema4Stats s = {};
    EXPECT_EQ(UKO_GetSema4Stats(&s), 0u);
    return s;
}

// The block behind an id, found among the live semaphores or mutexes.
template <typename CB>
CB* FindIn(UKO_DLL_NODE* head, uint32_t id) {
    for (UKO_DLL_NODE* p = head->pstNext; p != head; p = p->pstNext) {
        auto* cb = reinterpret_cast<CB*>(reinterpret_cast<char*>(p) - offsetof(CB, stListNode));
        if (ukoSmIdGetByCb(cb) == static_cast<int32_t>(id)) return cb;
    }
    return nullptr;
}
UKO_SEMA_CB* Cb(uint32_t id) { return FindIn<UKO_SEMA_CB>(&g_stUkoLockDbg.stSemaList, id); }
UKO_MUTEX_CB* MutexCb(uint32_t id) { return FindIn<UKO_MUTEX_CB>(&g_stUkoLockDbg.stMutexList, id); }
int32_t CountOf(uint32_t id) {
    UKO_SEMA_CB* cb = Cb(id);
    if (cb == nullptr) return -1;
    (void)pthread_mutex_lock(&cb->stMutex);
    int32_t count = cb->iCount;
    (void)pthread_mutex_unlock(&cb->stMutex);
    return count;
}

// ---- Before start-up -----------------------------------------------------------------------

TEST(VSmBeforeStart, OperationsFailCleanlyWithoutATable) {
    auto r = vt_test::RunInChild([] {
        // Every step before the table's own.
        size_t count = 0;
        const UKO_START_STEP* steps = ukoStartStepsGet(&count);
        size_t n = 0;
        while (n < count && std::string(steps[n].pcName) != "Sema4Init") ++n;
        ASSERT_LT(n, count) << "Sema4Init is not a start-up step";
        (void)ukoStartRun(steps, n);
        size_t listBefore = SemaListLength();
        uint32_t id = 0;
        EXPECT_EQ(UKO_SmCCreate("early", 0, 0, &id), 12u);
        EXPECT_EQ(SemaListLength(), listBefore) << "a refused create leaves no semaphore";
        EXPECT_EQ(UKO_SmP(1, 1), 22u);
        EXPECT_EQ(UKO_SmV(1), 22u);
        EXPECT_EQ(UKO_SmDelete(1), 22u);
        EXPECT_EQ(UKO_GetSmID("early", &id), 22u);
        EXPECT_EQ(UKO_SmIdIsUsed(1), 0u);
        ASSERT_EQ(Sema4Init(0), 0u);
        EXPECT_EQ(UKO_SmCCreate("late", 0, 0, &id), 0u);
        EXPECT_EQ(id, 1u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

class VSm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        UKO_Sema4Stats s = Counts();
        ASSERT_EQ(s.uiBinaryNum + s.uiCountNum + s.uiMutexNum, 0u) << "an earlier test left ids";
        ClearRecords();
        ukoErrorRecordObserverSet(Observer);
    }
    void TearDown() override {
        ukoErrorRecordObserverSet(nullptr);
        for (uint32_t id = 1; id <= UKO_MAX_SEMA4; ++id) {
            if (UKO_SmIdIsUsed(id) != 0) {
                EXPECT_EQ(UKO_SmDelete(id), 0u) << id;
            }
        }
        ukoSmOverloadCheckSwitchSet(0);
        ukoSmStatSwitchSet(0);
        UKO_SmOverloadHookSet(nullptr);
        UKO_SmVNotifyHookSet(nullptr);
        ukoSmPrinterSet(nullptr);
    }
    static uint32_t C(const char* name = "c", uint32_t init = 0, uint32_t flags = 0) {
        uint32_t id = 0;
        EXPECT_EQ(UKO_SmCCreate(name, init, flags, &id), 0u);
        return id;
    }
    static void ExpectLastRecord(const std::string& format, uint16_t code, uint16_t moduleId = 0x2002) {
        std::vector<Record> r = Records();
        ASSERT_FALSE(r.empty()) << format;
        EXPECT_EQ(r.back().format, format);
        EXPECT_EQ(r.back().code, code);
        EXPECT_EQ(r.back().moduleId, moduleId);
    }
};

// ---- Ids and counts ------------------------------------------------------------------------

TEST_F(VSm, IdsAreHandedOutLowestFirstAndCountedByType) {
    uint32_t c = 0, b = 0, m = 0;
    ASSERT_EQ(UKO_SmCCreate("count", 3, 0, &c), 0u);
    ASSERT_EQ(UKO_SmBCreate("binary", 1, 0, &b), 0u);
    ASSERT_EQ(UKO_SmMCreate("mutex", 0, &m), 0u);
    EXPECT_EQ(c, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(m, 3u);
    UKO_Sema4Stats s = Counts();
    EXPECT_EQ(s.uiCountNum, 1u);
    EXPECT_EQ(s.uiBinaryNum, 1u);
    EXPECT_EQ(s.uiMutexNum, 1u);
    EXPECT_EQ(s.uiMaxNum, 400u);
    UKO_Sema4Stats nolock = {};
    ASSERT_EQ(UKO_GetSema4StatsNoLock(&nolock), 0u);
    EXPECT_EQ(std::memcmp(&s, &nolock, sizeof(s)), 0);

    ASSERT_EQ(UKO_SmDelete(1), 0u);
    EXPECT_EQ(UKO_SmIdIsUsed(1), 0u);
    EXPECT_EQ(UKO_SmIdIsUsed(2), 1u);
    EXPECT_EQ(Counts().uiCountNum, 0u);
    uint32_t again = 0;
    ASSERT_EQ(UKO_SmBCreate("again", 0, 0, &again), 0u);
    EXPECT_EQ(again, 1u) << "the freed id comes back first";
    EXPECT_EQ(Counts().uiBinaryNum, 2u);

    EXPECT_EQ(UKO_SmIdIsUsed(0), 0u);
    EXPECT_EQ(UKO_SmIdIsUsed(401), 0u);
    EXPECT_EQ(UKO_SmIdIsUsed(0xFFFFFFFF), 0u);
    EXPECT_EQ(ukoSmIdGetByOsalId(12345), 1);
    EXPECT_EQ(UKO_GetOsalsmIDFromSmID(2), -1);
    ClearRecords();
    EXPECT_EQ(UKO_GetOsalsmIDFromSmID(401), -1);
    ExpectLastRecord("[ZIRPA-%s]:ulSmID(%u) is greater than ulMaxSem(%u)!", 22);

    ClearRecords();
    EXPECT_EQ(UKO_GetSema4Stats(nullptr), 22u);
    ExpectLastRecord("[ZIRPA-%s]:Invalid SemaType!", 22);
    ClearRecords();
    EXPECT_EQ(UKO_GetSema4StatsNoLock(nullptr), 22u);
    EXPECT_TRUE(Records().empty());

    // Refusals of the layer below take no id.
    uint32_t refused = 77;
    ClearRecords();
    EXPECT_EQ(UKO_SmBCreate("b", 2, 0, &refused), 22u);
    ExpectLastRecord("[ZIRPA-%s]:Create SemaBCreate failed!", 22);
    ClearRecords();
    EXPECT_EQ(UKO_SmCCreate("c", 0x80000000u, 0, &refused), 22u);
    ExpectLastRecord("[ZIRPA-%s]:Create Sema failed!", 22);
    ClearRecords();
    EXPECT_EQ(UKO_SmCCreate("c", 0, 0, nullptr), 22u);
    ExpectLastRecord("[ZIRPA-%s]:The Param pulSmID is null.", 22);
    ClearRecords();
    EXPECT_EQ(UKO_SmMCreate("m", 0, nullptr), 22u);
    ExpectLastRecord("[ZIRPA-%s]:The param pulSmID is null.", 22);
    EXPECT_EQ(refused, 77u);
    EXPECT_EQ(UKO_SmIdIsUsed(3), 1u);
    EXPECT_EQ(UKO_SmIdIsUsed(4), 0u);

    // A second start keeps the live ids.
    EXPECT_EQ(Sema4Init(0), 0u);
    EXPECT_EQ(UKO_SmIdIsUsed(2), 1u);
    EXPECT_EQ(Counts().uiBinaryNum, 2u);
}

TEST_F(VSm, TheFourHundredAndFirstCreateLeavesNothingBehind) {
    for (uint32_t i = 1; i <= UKO_MAX_SEMA4; ++i) {
        uint32_t id = 0;
        uint32_t rc = i % 3 == 0   ? UKO_SmMCreate("m", 0, &id)
                      : i % 3 == 1 ? UKO_SmCCreate("c", 0, 0, &id)
                                   : UKO_SmBCreate("b", 0, 0, &id);
        ASSERT_EQ(rc, 0u) << i;
        ASSERT_EQ(id, i);
    }
    size_t listBefore = SemaListLength();
    uint64_t usedBefore = SysPtUsed();
    UKO_Sema4Stats before = Counts();
    using Create = uint32_t (*)(uint32_t*);
    const Create creates[] = {
        [](uint32_t* id) { return UKO_SmCCreate("c", 0, 0, id); },
        [](uint32_t* id) { return UKO_SmBCreate("b", 1, 0, id); },
        [](uint32_t* id) { return UKO_SmMCreate("m", 0, id); },
    };
    for (Create create : creates) {
        ClearRecords();
        uint32_t id = 77;
        EXPECT_EQ(create(&id), 12u);
        EXPECT_EQ(id, 77u) << "no id handed out";
        ExpectLastRecord("[ZIRPA-%s]:CB for sema is full.", 12);
        EXPECT_EQ(SemaListLength(), listBefore);
        EXPECT_EQ(SysPtUsed(), usedBefore) << "the refused semaphore was freed";
        UKO_Sema4Stats after = Counts();
        EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
    }
}

// ---- Flags ---------------------------------------------------------------------------------

TEST_F(VSm, FlagsAreCheckedAndStoredAsTheTypeAllows) {
    struct Case {
        char kind;  // 'c', 'b' or 'm'
        uint32_t flags;
        uint32_t rc;
        uint32_t stored;
        const char* name;
        uint32_t type;
    };
    const Case cases[] = {
        {'c', 3, 22, 0, nullptr, 0},
        {'b', 3, 22, 0, nullptr, 0},
        {'c', 2, 0, 1, "FIFO", 2},
        {'c', 0, 0, 1, "FIFO", 2},
        {'b', 0x1C, 0, 1, "FIFO", 1},
        {'m', 3, 22, 0, nullptr, 0},
        {'m', 3 | 8, 22, 0, nullptr, 0},
        {'m', 0, 0, 1, "FIFO", 3},
        {'m', 2 | 8, 0, 1, "FIFO", 3},
        {'m', 4 | 8 | 16, 0, 1 | 4 | 16, "FIFO | DELETE_SAFE | GLOBAL", 3},
    };
    for (const Case& c : cases) {
        ClearRecords();
        uint32_t id = 0;
        uint32_t rc = c.kind == 'c'   ? UKO_SmCCreate("f", 1, c.flags, &id)
                      : c.kind == 'b' ? UKO_SmBCreate("f", 1, c.flags, &id)
                                      : UKO_SmMCreate("f", c.flags, &id);
        ASSERT_EQ(rc, c.rc) << c.kind << " " << c.flags;
        if (rc != 0) {
            ExpectLastRecord("[ZIRPA-%s]:Invalid ulFlags(%u).", 22);
            continue;
        }
        void* h = c.kind == 'm' ? static_cast<void*>(MutexCb(id)) : static_cast<void*>(Cb(id));
        ASSERT_NE(h, nullptr);
        uint32_t stored = c.kind == 'm' ? static_cast<UKO_MUTEX_CB*>(h)->usFlags
                                        : static_cast<UKO_SEMA_CB*>(h)->uiFlags;
        EXPECT_EQ(stored, c.stored) << c.kind << " " << c.flags;
        char text[64];
        uint32_t type = 99;
        ASSERT_EQ(ukoSmFlagNameGet(h, text, &type), 0u);
        EXPECT_STREQ(text, c.name);
        EXPECT_EQ(type, c.type);
        ASSERT_EQ(UKO_SmDelete(id), 0u);
    }
}

TEST_F(VSm, FlagNamesOfAnyBlock) {
    struct Case {
        uint32_t type;
        uint32_t flags;
        const char* text;
        uint32_t typeOut;
    };
    const Case cases[] = {
        {0, 0, "ERROR", 1},
        {1, 2, "PRIOR", 2},
        {1, 3, "FIFO", 2},
        {0, 0x1F, "FIFO | DELETE_SAFE | INVERSION_SAFE | GLOBAL", 1},
        {0, 2 | 8, "PRIOR | INVERSION_SAFE", 1},
        {7, 1, "FIFO", 0},
    };
    for (const Case& c : cases) {
        UKO_SEMA_CB cb = {};
        cb.uiMagic = UKO_SEMA_MAGIC;
        cb.uiType = c.type;
        cb.uiFlags = c.flags;
        char text[64];
        uint32_t type = 99;
        ASSERT_EQ(ukoSmFlagNameGet(&cb, text, &type), 0u);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(type, c.typeOut);
    }
    UKO_SEMA_CB dead = {};
    char text[64];
    uint32_t type = 0;
    EXPECT_EQ(ukoSmFlagNameGet(&dead, text, &type), 22u) << "a deleted block";
    EXPECT_EQ(ukoSmFlagNameGet(nullptr, text, &type), 22u);
    dead.uiMagic = UKO_SEMA_MAGIC;
    EXPECT_EQ(ukoSmFlagNameGet(&dead, nullptr, &type), 22u);
    EXPECT_EQ(ukoSmFlagNameGet(&dead, text, nullptr), 22u);
}

// ---- P, non-waiting P, V, delete ------------------------------------------------------------

TEST_F(VSm, OperationsByIdAndTheBinaryCap) {
    uint32_t b = 0;
    ASSERT_EQ(UKO_SmBCreate("bin", 0, 0, &b), 0u);
    EXPECT_EQ(UKO_Sm_AsyP(b), 16u);
    EXPECT_EQ(UKO_SmV(b), 0u);
    EXPECT_EQ(UKO_SmV(b), 0u);
    EXPECT_EQ(CountOf(b), 1) << "a binary semaphore never passes 1";
    EXPECT_EQ(UKO_Sm_AsyP(b), 0u);
    EXPECT_EQ(UKO_Sm_AsyP(b), 16u);

    (void)UKO_ErrnoSet(0);
    EXPECT_EQ(UKO_SmP(b, 5), 109u);
    EXPECT_EQ(UKO_ErrnoGet(), 109u) << "a time-out leaves 109 in errno";

    // A waiting P is released by a V from another task.
    std::thread giver([b] { EXPECT_EQ(UKO_SmV(b), 0u); });
    EXPECT_EQ(UKO_SmP(b, 0), 0u);
    giver.join();

    // Counting semaphores keep counting.
    uint32_t c = C("cnt", 0);
    EXPECT_EQ(UKO_SmV(c), 0u);
    EXPECT_EQ(UKO_SmV(c), 0u);
    EXPECT_EQ(CountOf(c), 2);

    // Any failure of a V is 22, whatever the layer below said. The refusal below is an
    // unlock of a free OS lock, which the thread sanitizer reports by design.
    uint32_t m = 0;
    ASSERT_EQ(UKO_SmMCreate("mtx", 0, &m), 0u);
    EXPECT_EQ(UKO_Sm_AsyP(m), 0u);
    EXPECT_EQ(UKO_SmV(m), 0u);
#if !defined(__SANITIZE_THREAD__)
    EXPECT_EQ(UKO_SmV(m), 22u) << "a V on a free mutex is refused below with another code";
#endif

    struct IdCase {
        uint32_t id;
        const char* format;
        uint16_t module;
    };
    const uint32_t empty = 399;
    ASSERT_EQ(UKO_SmIdIsUsed(empty), 0u);
    for (const IdCase& k : {IdCase{401, "[ZIRPA-%s]:The param ulSmID(%u) is greater than MaxSema4(%u).", 0x2002},
                            IdCase{empty, "[ZIRPA-%s]:Inval param sem(0x%p).", 0x2101},
                            IdCase{0, "[ZIRPA-%s]:Inval param sem(0x%p).", 0x2101}}) {
        ClearRecords();
        EXPECT_EQ(UKO_SmP(k.id, 1), 22u) << k.id;
        ExpectLastRecord(k.format, 22, k.module);
    }
    for (uint32_t id : {401u, 0xFFFFFFFFu}) {
        ClearRecords();
        EXPECT_EQ(UKO_Sm_AsyP(id), 22u);
        ExpectLastRecord("[ZIRPA-%s]:Invalid ulSmID(%u).", 22);
        ClearRecords();
        EXPECT_EQ(UKO_SmV(id), 22u);
        ExpectLastRecord("[ZIRPA-%s]:Invalid ulSmID(%u).", 22);
        ClearRecords();
        EXPECT_EQ(UKO_SmDelete(id), 22u);
        ExpectLastRecord("[ZIRPA-%s]:Invalid ulSmID(%u).", 22);
    }
    EXPECT_EQ(UKO_Sm_AsyP(empty), 22u);
    EXPECT_EQ(UKO_SmV(empty), 22u);
    EXPECT_EQ(UKO_SmDelete(empty), 22u);

    ASSERT_EQ(UKO_SmDelete(b), 0u);
    EXPECT_EQ(UKO_SmDelete(b), 22u) << "deleted once only";
    EXPECT_EQ(UKO_SmV(b), 22u);
    EXPECT_EQ(UKO_SmP(b, 1), 22u);
}

TEST_F(VSm, ADeleteWhileATaskWaitsIsRefusedAndTheIdStays) {
    uint32_t b = 0;
    ASSERT_EQ(UKO_SmBCreate("wait", 0, 0, &b), 0u);
    std::atomic<uint32_t> result{0xFFFF};
    std::thread waiter([&] { result = UKO_SmP(b, 0); });
    UKO_SEMA_CB* cb = Cb(b);
    ASSERT_NE(cb, nullptr);
    // Wait until the waiter is inside its wait, then delete.
    for (int i = 0; i < 5000; ++i) {
        (void)pthread_mutex_lock(&cb->stMutex);
        int32_t waiters = cb->iWaiters;
        (void)pthread_mutex_unlock(&cb->stMutex);
        if (waiters == 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(UKO_SmDelete(b), 16u);
    EXPECT_EQ(UKO_SmIdIsUsed(b), 1u) << "a refused delete leaves the id in use";
    EXPECT_EQ(Counts().uiBinaryNum, 1u);
    EXPECT_EQ(UKO_SmV(b), 0u);
    waiter.join();
    EXPECT_EQ(result.load(), 0u);
    EXPECT_EQ(UKO_SmDelete(b), 0u);
}

// ---- Look-up by name ---------------------------------------------------------------------------

TEST_F(VSm, LookUpByNamePicksTheLowestId) {
    uint32_t a = C("other");
    uint32_t d1 = C("dup");
    uint32_t d2 = C("dup");
    ASSERT_LT(d1, d2);
    uint32_t id = 0;
    ASSERT_EQ(UKO_GetSmID("dup", &id), 0u);
    EXPECT_EQ(id, d1);
    ASSERT_EQ(UKO_GetSmID("other", &id), 0u);
    EXPECT_EQ(id, a);
    ASSERT_EQ(UKO_SmDelete(d1), 0u);
    ASSERT_EQ(UKO_GetSmID("dup", &id), 0u);
    EXPECT_EQ(id, d2);

    ClearRecords();
    id = 5;
    EXPECT_EQ(UKO_GetSmID("none", &id), 22u);
    EXPECT_EQ(id, 0u);
    ExpectLastRecord("[ZIRPA-%s]:Get sema ID failed!", 22);
    ClearRecords();
    EXPECT_EQ(UKO_GetSmID(nullptr, &id), 22u);
    ExpectLastRecord("[ZIRPA-%s]:The param pcSmName is null.", 22);
    ClearRecords();
    EXPECT_EQ(UKO_GetSmID("dup", nullptr), 22u);
    ExpectLastRecord("[ZIRPA-%s]:The param pulSmID is null.", 22);
}

// ---- Overload watch --------------------------------------------------------------------------

struct HookCall {
    uint32_t code, max, freeNum, pct;
};
std::vector<HookCall> g_hookCalls;
void OverloadHook(uint32_t code, uint32_t max, uint32_t freeNum, uint32_t pct) {
    g_hookCalls.push_back({code, max, freeNum, pct});
}

TEST_F(VSm, OverloadIsReportedOnceAndRecoveryOnceAtTheLowerThreshold) {
    UKO_SM_THRESHOLDS t = ukoSmThresholdsCalc(400, 90, 10);
    EXPECT_EQ(t.uiOverload, 360u);
    EXPECT_EQ(t.uiRecover, 320u);
    t = ukoSmThresholdsCalc(4294967200u, 90, 10);  // would wrap if multiplied first
    EXPECT_EQ(t.uiOverload, 3865470480u);
    EXPECT_EQ(t.uiRecover, 3435973760u);

    g_hookCalls.clear();
    UKO_SmOverloadHookSet(OverloadHook);
    ukoSmOverloadCheckSwitchSet(1);
    std::vector<uint32_t> ids;
    auto grow = [&](size_t to) {
        while (ids.size() < to) ids.push_back(C("o"));
    };
    auto shrink = [&](size_t to) {
        while (ids.size() > to) {
            ASSERT_EQ(UKO_SmDelete(ids.back()), 0u);
            ids.pop_back();
        }
    };
    auto overloadRecords = [] {
        size_t n = 0;
        for (const Record& r : Records()) {
            if (r.format == "[ZIRPA-%s]:The Sema number is overload!") ++n;
        }
        return n;
    };
    struct Step {
        size_t inUse;
        uint32_t state;
        size_t hookCalls;  // in total so far
    };
    const Step steps[] = {
        {360, UKO_SM_STATE_NORMAL, 0},
        {361, UKO_SM_STATE_OVERLOAD, 1},   // 5004
        {370, UKO_SM_STATE_OVERLOAD, 1},
        {360, UKO_SM_STATE_FALLING, 1},
        {340, UKO_SM_STATE_FALLING, 1},
        {361, UKO_SM_STATE_OVERLOAD, 1},   // back up without recovery: no report
        {321, UKO_SM_STATE_FALLING, 1},
        {320, UKO_SM_STATE_NORMAL, 2},     // 5005
        {300, UKO_SM_STATE_NORMAL, 2},
        {361, UKO_SM_STATE_OVERLOAD, 3},   // a new overload is reported again
    };
    ClearRecords();
    for (const Step& s : steps) {
        grow(s.inUse);
        shrink(s.inUse);
        EXPECT_EQ(ukoSmOverloadStateGet(), s.state) << s.inUse;
        EXPECT_EQ(g_hookCalls.size(), s.hookCalls) << s.inUse;
        EXPECT_EQ(overloadRecords(), s.hookCalls) << s.inUse;
    }
    ASSERT_EQ(g_hookCalls.size(), 3u);
    EXPECT_EQ(g_hookCalls[0].code, 5004u);
    EXPECT_EQ(g_hookCalls[0].max, 400u);
    EXPECT_EQ(g_hookCalls[0].freeNum, 39u);
    EXPECT_EQ(g_hookCalls[0].pct, 9u);
    EXPECT_EQ(g_hookCalls[1].code, 5005u);
    EXPECT_EQ(g_hookCalls[1].freeNum, 80u);
    EXPECT_EQ(g_hookCalls[1].pct, 20u);
    std::vector<Record> r = Records();
    std::vector<uint16_t> codes;
    for (const Record& rec : r) {
        if (rec.format == "[ZIRPA-%s]:The Sema number is overload!") {
            codes.push_back(rec.code);
            EXPECT_EQ(rec.moduleId, 0x2002);
        }
    }
    EXPECT_EQ(codes, (std::vector<uint16_t>{5004, 5005, 5004}));

    // The 361st create leaves 5004 in errno, though it succeeded.
    shrink(320);
    grow(360);
    (void)UKO_ErrnoSet(0);
    grow(361);
    EXPECT_EQ(UKO_ErrnoGet(), 5004u);
    shrink(0);
    EXPECT_EQ(ukoSmOverloadStateGet(), UKO_SM_STATE_NORMAL);
}

TEST_F(VSm, WithTheWatchOffNothingIsReported) {
    g_hookCalls.clear();
    UKO_SmOverloadHookSet(OverloadHook);
    for (int i = 0; i < 365; ++i) C("q");
    SEM_OverloadCheck();
    EXPECT_TRUE(g_hookCalls.empty());
    EXPECT_EQ(ukoSmOverloadStateGet(), UKO_SM_STATE_NORMAL);
}

// ---- Statistics ------------------------------------------------------------------------------

std::string g_printed;
uint32_t Printer(uint32_t, const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    g_printed += buf;
    return 0;
}

UKO_SmStatInfo Stat(uint32_t op) {
    UKO_SmStatInfo s;
    EXPECT_EQ(UKO_GetSmStatInfo(op, &s), 0u);
    return s;
}

TEST_F(VSm, StatisticsCountRunsOfFailuresFromTheirFirstTime) {
    ukoSystimeReset();
    ukoSmStatSwitchSet(1);
    UKO_SmStatInfo p0 = Stat(UKO_SM_STAT_P);
    EXPECT_EQ(p0.uiContinueFail, 0u);

    UKO_Systime first = {};
    first.usYear = 2024;
    first.ucMonth = 2;
    first.ucDate = 29;
    first.ucHour = 23;
    first.ucMinute = 58;
    first.ucSecond = 7;
    first.ucWeek = 4;
    first.uiMillSec = 999;
    ASSERT_EQ(ukoSystimeRecordWrite(1, &first), 0u);
    EXPECT_EQ(UKO_SmP(398, 1), 22u);
    UKO_Systime later = first;
    later.ucSecond = 30;
    ASSERT_EQ(ukoSystimeRecordWrite(1, &later), 0u);
    EXPECT_EQ(UKO_Sm_AsyP(398), 22u);
    UKO_SmStatInfo p = Stat(UKO_SM_STAT_P);
    EXPECT_EQ(p.uiTotalFail, p0.uiTotalFail + 2);
    EXPECT_EQ(p.uiContinueFail, 2u);
    EXPECT_EQ(p.stFirstFailTime.usYear, 2024);
    EXPECT_EQ(p.stFirstFailTime.ucSecond, 7) << "the time of the first failure of the run";
    EXPECT_EQ(p.stFirstFailTime.ucWeek, 4);
    EXPECT_EQ(p.uiInstantFail, 0u) << "instant counting starts stopped";

    // The show prints the blocks while the statistics run.
    ukoSmPrinterSet(Printer);
    g_printed.clear();
    ASSERT_EQ(ukoSmStatShow(0), 0u);
    EXPECT_NE(g_printed.find("\r\n max semaphore          : 400"), std::string::npos);
    EXPECT_NE(g_printed.find("\r\n continue fail number of P seam4      : 2"), std::string::npos);
    EXPECT_NE(g_printed.find("\r\n time of begin fail to P seam4        : 2024-02-29 23:5807"),
              std::string::npos)
        << g_printed;
    EXPECT_EQ(g_printed.find("instant"), std::string::npos);

    uint32_t c = C("st", 1);
    EXPECT_EQ(UKO_SmP(c, 0), 0u);
    p = Stat(UKO_SM_STAT_P);
    EXPECT_EQ(p.uiTotalSucc, p0.uiTotalSucc + 1);
    EXPECT_EQ(p.uiContinueFail, 0u);
    EXPECT_EQ(p.stFirstFailTime.usYear, 0) << "a success clears the run";
    EXPECT_EQ(p.stFirstFailTime.ucSecond, 0);

    // Instant counters: reset and started by 0, stopped by 1.
    ASSERT_EQ(UKO_SetSmStatInfo(0), 0u);
    EXPECT_EQ(UKO_SmV(c), 0u);
    EXPECT_EQ(UKO_SmV(401), 22u);
    uint32_t bad = 0;
    EXPECT_EQ(UKO_SmCCreate("x", 0, 3, &bad), 22u);
    UKO_SmStatInfo v = Stat(UKO_SM_STAT_V);
    EXPECT_EQ(v.uiInstantSucc, 1u);
    EXPECT_EQ(v.uiInstantFail, 1u);
    EXPECT_EQ(Stat(UKO_SM_STAT_CREATE).uiInstantFail, 1u);
    EXPECT_EQ(Stat(UKO_SM_STAT_CREATE).uiContinueFail, 1u);
    ASSERT_EQ(UKO_SmDelete(c), 0u);
    EXPECT_EQ(Stat(UKO_SM_STAT_DELETE).uiInstantSucc, 1u);
    g_printed.clear();
    ASSERT_EQ(ukoSmStatShow(0), 0u);
    EXPECT_NE(g_printed.find("\r\n instant success number of delete seam4 : 1 "), std::string::npos)
        << g_printed;
    ASSERT_EQ(UKO_SetSmStatInfo(1), 0u);
    EXPECT_EQ(UKO_SmV(401), 22u);
    EXPECT_EQ(Stat(UKO_SM_STAT_V).uiInstantFail, 1u);
    ASSERT_EQ(UKO_SetSmStatInfo(0), 0u);
    EXPECT_EQ(Stat(UKO_SM_STAT_V).uiInstantFail, 0u);
    ASSERT_EQ(UKO_SetSmStatInfo(1), 0u);

    ClearRecords();
    EXPECT_EQ(UKO_SetSmStatInfo(2), 22u);
    ExpectLastRecord("[ZIRPA-%s]:Invalid ulFlag!", 22);

    // Only blocks 0 to 3 exist; the out-record is cleared first.
    UKO_SmStatInfo out;
    std::memset(&out, 0xFF, sizeof(out));
    ClearRecords();
    EXPECT_EQ(UKO_GetSmStatInfo(4, &out), 22u);
    ExpectLastRecord("[ZIRPA-%s]:Invalid Flag!", 22);
    UKO_SmStatInfo zero = {};
    EXPECT_EQ(std::memcmp(&out, &zero, sizeof(out)), 0);
    std::memset(&out, 0xFF, sizeof(out));
    EXPECT_EQ(UKO_GetSmStatInfo(0xFFFFFFFF, &out), 22u);
    EXPECT_EQ(std::memcmp(&out, &zero, sizeof(out)), 0);
    ClearRecords();
    EXPECT_EQ(UKO_GetSmStatInfo(0, nullptr), 22u);
    ExpectLastRecord("[ZIRPA-%s]:The Param pInfo is null!", 22);

    ukoSmStatSwitchSet(0);
    g_printed.clear();
    ASSERT_EQ(ukoSmStatShow(0), 0u);
    EXPECT_EQ(g_printed,
              "\r\n max semaphore          : 400\r\n total binary semaphore : 0"
              "\r\n total count  semaphore : 0\r\n total mutex  semaphore : 0");
    ukoSystimeReset();
}

// ---- V-notify ----------------------------------------------------------------------------------

std::vector<std::string> g_notes;
uint32_t NotifyTarget(uint32_t id, uint32_t type, uintptr_t v1, uintptr_t v2) {
    g_notes.push_back(std::to_string(id) + "," + std::to_string(type) + "," + std::to_string(v1) +
                      "," + std::to_string(v2));
    return 33;
}

TEST_F(VSm, VNotifyHandsTheIdToItsTarget) {
    C("pad");
    uint32_t b = 0;
    ASSERT_EQ(UKO_SmBCreate("n", 0, 0, &b), 0u);
    void* h = Cb(b);
    ASSERT_NE(h, nullptr);
    g_notes.clear();
    EXPECT_EQ(ukoSmVNotify(h, 0, 7, 8), 22u) << "no target";
    UKO_SmVNotifyHookSet(NotifyTarget);
    EXPECT_EQ(ukoSmVNotify(h, 0, 7, 8), 33u);
    EXPECT_EQ(ukoSmVNotify(&g_notes, 0, 7, 8), 22u) << "not in the table";
    EXPECT_EQ(g_notes, (std::vector<std::string>{std::to_string(b) + ",0,7,8"}));

    // Through a V, when the lock-debug release hook asks for it (changed in a child only).
    auto r = vt_test::RunInChild([b] {
        g_notes.clear();
        g_stUkoLockDbg.stHooks.pfnDbgWordRelease = [](void*, uintptr_t*, uintptr_t*, uintptr_t*,
                                                      uintptr_t* out) -> uint32_t {
            *out = 9;
            return 1;
        };
        g_stUkoLockDbg.uiFlags = UKO_LOCKDBG_ENABLE | UKO_LOCKDBG_DBGWORD;
        EXPECT_EQ(UKO_SmV(b), 0u);
        EXPECT_EQ(UKO_SmV(b), 0u) << "at 1 already: nothing given, nothing notified";
        EXPECT_EQ(g_notes, std::vector<std::string>{std::to_string(b) + ",0,9,0"});
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

}  // namespace
