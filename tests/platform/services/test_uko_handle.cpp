#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "osal_lock.h"
#include "uko_handle.h"
#include "uko_handle_inner.h"
#include "vt_test/child_process.h"

namespace {

// Every case runs against a registry fresh from start-up, in a child process of its own;
// a failed expectation in the child fails the case with the child's own message.
template <typename Body>
void InFreshRegistry(Body body) {
    auto r = vt_test::RunInChild(
        [&] {
            ASSERT_EQ(ukoHandleInit(0), 0u);
            body();
        },
        60000);
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

std::string NameOf(uint32_t handle) {
    char name[32];
    std::memset(name, '#', sizeof(name));
    if (UKO_HandleNameGet(handle, name) != 0) {
        return "<none>";
    }
    return name;
}

// Reports reaching the platform log hook.
struct Report {
    uint32_t level;
    uint16_t code;
    uint16_t module;
    std::string message;
};
std::vector<Report> g_reports;

void CaptureReport(uint32_t level, uint16_t code, uint16_t module, const char*, uint32_t,
                   const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    g_reports.push_back({level, code, module, text});
}

TEST(UkoHandle, StartUpRegistersTheReservedHandles) {
    InFreshRegistry([] {
        EXPECT_EQ(NameOf(0), "uko.sys");
        EXPECT_EQ(NameOf(1), "uko.pid.reserve1$");
        EXPECT_EQ(NameOf(42), "uko.pid.reserve42$");
        EXPECT_EQ(NameOf(99), "uko.pid.reserve99$");
        EXPECT_EQ(NameOf(100), "uko.handle.invalid");
        uint32_t h = 0;
        EXPECT_EQ(UKO_HandleMaxGet(&h), 0u);
        EXPECT_EQ(h, 100u);
        EXPECT_EQ(UKO_HandleGetByName("uko.pid.reserve7$", &h), 0u);
        EXPECT_EQ(h, 7u);
        h = 77;
        EXPECT_EQ(UKO_HandleBeginGet(&h), 0u);
        EXPECT_EQ(h, 0u);

        EXPECT_EQ(UKO_HandleInitialize("first.user", &h), 0u);
        EXPECT_EQ(h, 101u);
        EXPECT_EQ(UKO_HandleInitialize("first.user", &h), UKO_HANDLE_ERR_NAME_REGISTERED);
        EXPECT_EQ(UKO_HandleInitialize("uko.sys", &h), UKO_HANDLE_ERR_NAME_REGISTERED);
        // A second start keeps what is registered.
        EXPECT_EQ(ukoHandleInit(0), 0u);
        EXPECT_EQ(UKO_HandleGetByName("first.user", &h), 0u);
        EXPECT_EQ(h, 101u);
        EXPECT_EQ(UKO_HandleInitialize("second.user", &h), 0u);
        EXPECT_EQ(h, 102u);
    });
}

TEST(UkoHandle, ReservedHandlesTakeNewNamesButAreNeverFinalised) {
    InFreshRegistry([] {
        uint32_t h = 0;
        EXPECT_EQ(UKO_HandleNameSet(5, "my.module"), 0u);
        EXPECT_EQ(NameOf(5), "my.module");
        EXPECT_EQ(UKO_HandleGetByName("my.module", &h), 0u);
        EXPECT_EQ(h, 5u);
        EXPECT_EQ(UKO_HandleGetByName("uko.pid.reserve5$", &h), 22u) << "the old name is gone";
        EXPECT_EQ(UKO_HandleNameSet(0x10005, "again"), 0u) << "only the low 16 bits count";
        EXPECT_EQ(NameOf(5), "again");

        struct Case {
            uint32_t handle;
            const char* name;
            uint32_t rc;
        } cases[] = {
            {150, "x", 22}, {100, "x", 22}, {0, "x", 22}, {6, nullptr, 22},
            {6, "uko.sys", UKO_HANDLE_ERR_NAME_REGISTERED},
            {6, "uko.pid.reserve6$", UKO_HANDLE_ERR_NAME_REGISTERED},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(UKO_HandleNameSet(c.handle, c.name), c.rc) << c.handle;
        }
        const uint32_t reserved[] = {0, 1, 50, 99};
        for (uint32_t r : reserved) {
            EXPECT_EQ(UKO_HandleFinalize(r), 22u) << r;
            EXPECT_EQ(UKO_HandleIdValidate(r), 1u) << r;
        }
    });
}

TEST(UkoHandle, FinalisingLowersTheMaximumToTheNextValidHandle) {
    InFreshRegistry([] {
        uint32_t a = 0;
        uint32_t b = 0;
        uint32_t c = 0;
        ASSERT_EQ(UKO_HandleInitialize("a", &a), 0u);
        ASSERT_EQ(UKO_HandleInitialize("b", &b), 0u);
        ASSERT_EQ(UKO_HandleInitialize("c", &c), 0u);
        EXPECT_EQ(UKO_HandleFinalize(b), 0u);
        uint32_t max = 0;
        EXPECT_EQ(UKO_HandleMaxGet(&max), 0u);
        EXPECT_EQ(max, c);
        EXPECT_EQ(UKO_HandleFinalize(c), 0u);
        EXPECT_EQ(UKO_HandleMaxGet(&max), 0u);
        EXPECT_EQ(max, a) << "the finalised handle in between is skipped";

        // A finalised handle is gone for every lookup.
        EXPECT_EQ(UKO_HandleIdValidate(b), 0u);
        EXPECT_EQ(NameOf(b), "<none>");
        uint32_t h = 0;
        EXPECT_EQ(UKO_HandleGetByName("b", &h), 22u);
        EXPECT_EQ(UKO_HandleFinalize(a + 1), 22u) << "twice";
        EXPECT_EQ(UKO_HandleFinalize(c), 22u) << "above the maximum";
        // Its name is free again; the number comes from the cursor, not the gap.
        EXPECT_EQ(UKO_HandleInitialize("b", &h), 0u);
        EXPECT_EQ(h, c + 1);
    });
}

TEST(UkoHandle, NamesCountByTheirFirst31Characters) {
    InFreshRegistry([] {
        const std::string prefix(31, 'n');
        uint32_t h = 0;
        ASSERT_EQ(UKO_HandleInitialize((prefix + "X").c_str(), &h), 0u);
        EXPECT_EQ(NameOf(h), prefix);
        uint32_t other = 0;
        EXPECT_EQ(UKO_HandleInitialize((prefix + "Y-and-more").c_str(), &other),
                  UKO_HANDLE_ERR_NAME_REGISTERED);
        EXPECT_EQ(UKO_HandleGetByName((prefix + "whatever").c_str(), &other), 0u);
        EXPECT_EQ(other, h);
        // Thirty characters and one different one are another name.
        EXPECT_EQ(UKO_HandleInitialize((std::string(30, 'n') + "m").c_str(), &other), 0u);
        EXPECT_NE(other, h);
        // Bytes from 0x80 up hash as negative values and still resolve.
        EXPECT_EQ(UKO_HandleInitialize("caf\xC3\xA9.\xFF\xFE", &other), 0u);
        EXPECT_EQ(UKO_HandleGetByName("caf\xC3\xA9.\xFF\xFE", &h), 0u);
        EXPECT_EQ(h, other);
    });
}

TEST(UkoHandle, DataModulesOwnOneSlotPerHandle) {
    InFreshRegistry([] {
        uint32_t index = 0;
        for (uint32_t i = 1; i <= 8; ++i) {
            const std::string name = "mod" + std::to_string(i);
            ASSERT_EQ(UKO_HandleModReg(name.c_str(), &index), 0u);
            EXPECT_EQ(index, i);
        }
        EXPECT_EQ(UKO_HandleModReg("mod9", &index), 12u);
        EXPECT_EQ(index, 0xFFFFFFFFu);
        EXPECT_EQ(UKO_HandleModReg("mod3", &index), 0xFFFFFFFFu);
        EXPECT_EQ(index, 0xFFFFFFFFu);
        EXPECT_EQ(UKO_HandleModReg(nullptr, &index), 22u);
        EXPECT_EQ(UKO_HandleModReg("x", nullptr), 22u);

        char name[32];
        EXPECT_EQ(UKO_HandleModNameGet(3, name), 0u);
        EXPECT_STREQ(name, "mod3");
        EXPECT_EQ(UKO_HandleModNameGet(0, name), 22u);
        EXPECT_EQ(UKO_HandleModNameGet(9, name), 22u);

        uint32_t h = 0;
        ASSERT_EQ(UKO_HandleInitialize("owner", &h), 0u);
        uint64_t* slots[9] = {};
        for (uint32_t i = 1; i <= 8; ++i) {
            ASSERT_EQ(UKO_HandleDataSlotGet(h, i, &slots[i]), 0u);
            EXPECT_EQ(*slots[i], 0u);
            *slots[i] = 0x1111111111111111ull * i;
        }
        for (uint32_t i = 1; i <= 8; ++i) {
            uint64_t* again = nullptr;
            ASSERT_EQ(UKO_HandleDataSlotGet(h, i, &again), 0u);
            EXPECT_EQ(*again, 0x1111111111111111ull * i) << "slot " << i << " is its own";
        }
        uint64_t* slot = nullptr;
        EXPECT_EQ(UKO_HandleDataSlotGet(h, 0, &slot), 22u);
        EXPECT_EQ(UKO_HandleDataSlotGet(h, 9, &slot), 22u);
        EXPECT_EQ(UKO_HandleDataSlotGet(h + 1, 1, &slot), 22u);
        EXPECT_EQ(UKO_HandleDataSlotGet(h, 1, nullptr), 22u);
    });
}

// Free hooks record the order they ran in and what they saw of the handle.
std::vector<std::string> g_freeLog;
void FreeHookA(uint32_t h) {
    g_freeLog.push_back("A" + std::to_string(h) + (UKO_HandleIdValidate(h) ? " valid" : " gone"));
}
void FreeHookC(uint32_t h) {
    g_freeLog.push_back("C" + std::to_string(h) + (UKO_HandleFinalize(h) == 22 ? " refused" : " again"));
}

TEST(UkoHandle, FinalisationCallsTheFreeHooksNewestFirst) {
    InFreshRegistry([] {
        uint32_t a = 0;
        uint32_t b = 0;
        uint32_t c = 0;
        ASSERT_EQ(UKO_HandleModReg("a", &a), 0u);
        ASSERT_EQ(UKO_HandleModReg("b", &b), 0u);
        ASSERT_EQ(UKO_HandleModReg("c", &c), 0u);
        EXPECT_EQ(ukoHandleDataFreeHookSet(a, FreeHookA), 0u);
        EXPECT_EQ(ukoHandleDataFreeHookSet(c, FreeHookC), 0u);
        EXPECT_EQ(ukoHandleDataFreeHookSet(4, FreeHookA), 22u);
        EXPECT_EQ(ukoHandleDataFreeHookSet(0, FreeHookA), 22u);
        uint32_t h = 0;
        ASSERT_EQ(UKO_HandleInitialize("dying", &h), 0u);
        EXPECT_EQ(UKO_HandleFinalize(h), 0u);
        const std::vector<std::string> expected = {"C101 refused", "A101 valid"};
        EXPECT_EQ(g_freeLog, expected);
    });
}

TEST(UkoHandle, HandleLimitWrapsTheSearchAndReusesFreedNumbers) {
    InFreshRegistry([] {
        uint32_t index = 0;
        ASSERT_EQ(UKO_HandleModReg("data", &index), 0u);
        EXPECT_EQ(UKO_MaxValidHandleSet(0x10000), 22u);
        EXPECT_EQ(UKO_MaxValidHandleSet(104), 0u);
        uint32_t h[3] = {};
        for (uint32_t i = 0; i < 3; ++i) {
            ASSERT_EQ(UKO_HandleInitialize(("w" + std::to_string(i)).c_str(), &h[i]), 0u);
            EXPECT_EQ(h[i], 101 + i);
        }
        uint32_t extra = 0;
        EXPECT_EQ(UKO_HandleInitialize("w3", &extra), UKO_HANDLE_ERR_NO_FREE_HANDLE);
        uint64_t* slot = nullptr;
        ASSERT_EQ(UKO_HandleDataSlotGet(h[1], index, &slot), 0u);
        *slot = 0xABCDEF;
        ASSERT_EQ(UKO_HandleFinalize(h[1]), 0u);
        EXPECT_EQ(UKO_HandleInitialize("w3", &extra), 0u);
        EXPECT_EQ(extra, h[1]);
        ASSERT_EQ(UKO_HandleDataSlotGet(extra, index, &slot), 0u);
        EXPECT_EQ(*slot, 0u) << "a number given again starts with clear data";
        EXPECT_EQ(NameOf(extra), "w3");
        EXPECT_EQ(UKO_MaxValidHandleSet(0xFFFF), 0u);
    });
}

TEST(UkoHandle, ThousandNamesGrowTheArray) {
    InFreshRegistry([] {
        std::vector<uint32_t> handles;
        for (int i = 0; i < 1000; ++i) {
            uint32_t h = 0;
            ASSERT_EQ(UKO_HandleInitialize(("grow." + std::to_string(i)).c_str(), &h), 0u) << i;
            EXPECT_EQ(h, 101u + i);
            handles.push_back(h);
        }
        uint32_t max = 0;
        EXPECT_EQ(UKO_HandleMaxNumGet(&max), 0u);
        EXPECT_EQ(max, 1100u);
        for (int i = 0; i < 1000; ++i) {
            const std::string name = "grow." + std::to_string(i);
            uint32_t h = 0;
            ASSERT_EQ(UKO_HandleGetByName(name.c_str(), &h), 0u) << name;
            EXPECT_EQ(h, handles[i]);
            EXPECT_EQ(NameOf(handles[i]), name);
        }
        EXPECT_EQ(NameOf(0), "uko.sys") << "entries survive the copy into the grown array";
        EXPECT_EQ(UKO_HandleIdValidate(1023), 1u);
        EXPECT_EQ(UKO_HandleIdValidate(1024), 1u);
        EXPECT_EQ(UKO_HandleIdValidate(1101), 0u);
    });
}

struct ReaderArg {
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> checks{0};
};

void* ValidateLoop(void* p) {
    ReaderArg* arg = static_cast<ReaderArg*>(p);
    uint32_t i = 0;
    while (!arg->stop.load()) {
        uint32_t max = 0;
        UKO_HandleMaxNumGet(&max);
        uint32_t h = max == 0 ? 0 : (i * 7919u) % (max + 1);
        uint64_t* slot = nullptr;
        if (UKO_HandleIdValidate(h) == 1 && UKO_HandleDataSlotGet(h, 1, &slot) == 0) {
            (void)*slot;
        }
        ++i;
        arg->checks.fetch_add(1);
    }
    return nullptr;
}

TEST(UkoHandle, LockFreeReadersSurviveGrowth) {
    InFreshRegistry([] {
        uint32_t index = 0;
        ASSERT_EQ(UKO_HandleModReg("reader", &index), 0u);
        ReaderArg arg;
        pthread_t reader;
        ASSERT_EQ(pthread_create(&reader, nullptr, ValidateLoop, &arg), 0);
        while (arg.checks.load() == 0) {
            sched_yield();
        }
        // One growth: the array a reader may still hold stays allocated through it.
        for (int i = 0; i < 1500; ++i) {
            uint32_t h = 0;
            ASSERT_EQ(UKO_HandleInitialize(("r" + std::to_string(i)).c_str(), &h), 0u);
        }
        arg.stop.store(true);
        pthread_join(reader, nullptr);
    });
}

TEST(UkoHandle, ReplacedArraysStayReadableAcrossLaterGrowths) {
    InFreshRegistry([] {
        // A lock-free reader that picked up the first array is held up while the
        // registry grows twice; the array it holds must still be there and still lead
        // to the same nodes.
        uint32_t size0 = 0;
        void* const* first = ukoHandleArrayGet(&size0);
        ASSERT_NE(first, nullptr);
        ASSERT_EQ(size0, 1024u);
        for (int i = 0; i < 2100; ++i) {
            uint32_t h = 0;
            ASSERT_EQ(UKO_HandleInitialize(("g" + std::to_string(i)).c_str(), &h), 0u) << i;
        }
        uint32_t size2 = 0;
        void* const* now = ukoHandleArrayGet(&size2);
        EXPECT_EQ(size2, 3072u) << "two growths";
        EXPECT_NE(now, first);
        // Slots 0 to 1022 were filled before the first growth.
        for (uint32_t h = 0; h < size0 - 1; ++h) {
            ASSERT_NE(first[h], nullptr) << h;
            EXPECT_EQ(first[h], now[h]) << h;
        }
    });
}

TEST(UkoHandle, FailuresAreReportedThroughTheLogHook) {
    InFreshRegistry([] {
        OSAL_LogHookSet(CaptureReport);
        for (uint32_t i = 1; i <= 8; ++i) {
            uint32_t index = 0;
            UKO_HandleModReg(("m" + std::to_string(i)).c_str(), &index);
        }
        uint32_t h = 0;
        ASSERT_EQ(UKO_HandleInitialize("dup", &h), 0u);
        g_reports.clear();

        struct Case {
            uint32_t rc;
            uint16_t code;
            const char* message;
        } expected[] = {
            {0x210213E8, 0x13E8, "[ZIRPA-UKO_HandleInitialize]:Handle name(dup) has been registered."},
            {22, 22, "[ZIRPA-UKO_HandleInitialize]: The parameters(pName) is NULL!"},
            {22, 22, "[ZIRPA-UKO_HandleNameSet]:FID(150) set name fail, MaxPid is(100)."},
            {22, 22, "[ZIRPA-UKO_HandleFinalize]:HandleMaxPid(100), invalid handle(50)."},
            {22, 22, "[ZIRPA-UKO_HandleFinalize]:MaxHandle(101), invalid handle(300)."},
            {22, 22, "[ZIRPA-UKO_HandleGetByName]:Handle name(nope) has not been registered."},
            {12, 12, "[ZIRPA-UKO_HandleModReg]:HANDLE_MAX_MODREG = 8, cur Reg mod num is full."},
            {0, 22, "[ZIRPA-UKO_HandleIdValidate]:MaxHandleNum(101), invalid handle(5000)."},
        };
        const uint32_t results[] = {
            UKO_HandleInitialize("dup", &h),
            UKO_HandleInitialize(nullptr, &h),
            UKO_HandleNameSet(150, "x"),
            UKO_HandleFinalize(50),
            UKO_HandleFinalize(300),
            UKO_HandleGetByName("nope", &h),
            UKO_HandleModReg("m9", &h),
            UKO_HandleIdValidate(5000),
        };
        ASSERT_EQ(g_reports.size(), sizeof(expected) / sizeof(expected[0]));
        for (size_t i = 0; i < g_reports.size(); ++i) {
            EXPECT_EQ(results[i], expected[i].rc) << i;
            EXPECT_EQ(g_reports[i].level, 2u) << i;
            EXPECT_EQ(g_reports[i].module, 0x2102) << i;
            EXPECT_EQ(g_reports[i].code, expected[i].code) << i;
            EXPECT_EQ(g_reports[i].message, expected[i].message) << i;
        }
        EXPECT_EQ(UKO_ErrnoGet(), 22u) << "the last report set errno";
        OSAL_LogHookSet(nullptr);
    });
}

}  // namespace
