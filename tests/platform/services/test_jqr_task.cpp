// Named tasks: four-character names and long names, the mode bits that pass, the
// look-ups, the service link's use of tasks and events, the two text dumps (their golden
// texts and their bounds) and the task beyond the adaptation table.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "jqr_task.h"
#include "task_test_util.h"
#include "uko_secfunc.h"
#include "uko_start.h"
#include "uko_task.h"
#include "v_task.h"
#include "v_task_inner.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

using task_test::ReaderWaiting;
using task_test::WaitFor;

constexpr uint32_t kNone = UKO_TASK_ID_NONE;

void InStartedPlatform(const std::function<void()>& body) {
    vt_test::TempEnv env;
    vt_test::ChildResult r = vt_test::RunInChild(
        [&] {
            if (UKO_Start() != 0) return 2;
            body();
            return ::testing::Test::HasFailure() ? 1 : 0;
        },
        60000);
    ASSERT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exitCode, 0) << (r.exitCode == 2 ? "start-up failed" : "a check failed in the child");
}

struct Probe {
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<uint32_t> got{0};
    std::atomic<uint32_t> rc{0xFFFFFFFFu};
    std::atomic<uint32_t> other{kNone};
    std::atomic<int> written{0};
};
Probe* ProbeOf(uint64_t a) { return reinterpret_cast<Probe*>(a); }

// Reads event 1 as the service link's tasks do, then ends.
void ReadEventOne(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    p->started.store(1);
    uint32_t got = 0;
    p->rc.store(UKO_Event_Read(1, &got, 0x48000000, 0));
    p->got.store(got);
    p->finished.store(1);
}

uint32_t Named(const char* name, Probe* p, uint32_t mode = 0, uint32_t prio = 0,
               UKO_TASK_ENTRY_PF entry = ReadEventOne) {
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(p), 0, 0, 0};
    uint32_t id = kNone;
    EXPECT_EQ(UKO_Task_Create(name, prio, mode, 0, args, entry, &id), 0u) << name;
    return id;
}

void Release(uint32_t id) {
    ASSERT_TRUE(WaitFor([id] { return ReaderWaiting(id); }));
    ASSERT_EQ(UKO_Event_Write(id, 1), 0u);
    ASSERT_TRUE(WaitFor([id] { return UKO_TaskIdCheck(id) == 0; }));
}

std::string LongName(uint32_t id) {
    char name[TSK_LONG_NAME_LEN] = {};
    if (tskLongNameGet(id, name) != 0) return "<no block>";
    return std::string(name, strnlen(name, sizeof(name)));
}

std::string Hex16(pthread_t thread) {
    char text[32];
    std::snprintf(text, sizeof(text), "%016lx", static_cast<unsigned long>(thread));
    return text;
}

pthread_t ThreadOf(uint32_t id) {
    pthread_t thread = 0;
    EXPECT_EQ(UKO_Task_OsIdGet(id, &thread), 0);
    return thread;
}

// ---- Names -----------------------------------------------------------------------------------------

TEST(NamedTask, FourCharacterNamesAndLongNames) {
    InStartedPlatform([] {
        Probe recv;
        const uint32_t id = Named("RECVTASK", &recv);
        char name[4];
        ASSERT_EQ(UKO_Task_NameGet(id, name), 0);
        EXPECT_EQ(std::string(name, 4), "RECV");
        EXPECT_STREQ(TSK_TaskNameGet(id), "RECV");
        EXPECT_EQ(LongName(id), "RECVTASK");

        Probe again;
        const uint64_t args[4] = {reinterpret_cast<uint64_t>(&again), 0, 0, 0};
        uint32_t secondId = kNone;
        EXPECT_EQ(UKO_Task_Create("RECV2", 0, 0, 0, args, ReadEventOne, &secondId), 0x20011019u);

        uint32_t found = kNone;
        EXPECT_EQ(UKO_Task_IdGetByName("RECVxyz", &found), 0);
        EXPECT_EQ(found, id);
        EXPECT_EQ(UKO_Task_IdGetByName("FAST", &found), -1);
        EXPECT_EQ(UKO_Task_IdGetByName(nullptr, &found), -1);
        uint32_t exists = 7;
        EXPECT_EQ(UKO_Task_Exists("RECV", &exists), 0);
        EXPECT_EQ(exists, 1u);
        EXPECT_EQ(UKO_Task_Exists("SEND", &exists), -1);
        EXPECT_EQ(exists, 0u);
        exists = 7;
        EXPECT_EQ(UKO_Task_Exists(nullptr, &exists), -1);
        EXPECT_EQ(exists, 7u) << "NULL arguments leave the answer alone";

        // A name shorter than four characters is read only up to its terminator: here
        // it sits at the very end of its allocation.
        char* shortName = static_cast<char*>(std::malloc(3));
        std::memcpy(shortName, "AB", 3);
        Probe ab;
        const uint32_t idAb = Named(shortName, &ab);
        std::free(shortName);
        EXPECT_STREQ(TSK_TaskNameGet(idAb), "AB");
        EXPECT_EQ(LongName(idAb), "AB");
        char* lookup = static_cast<char*>(std::malloc(3));
        std::memcpy(lookup, "AB", 3);
        EXPECT_EQ(UKO_Task_IdGetByName(lookup, &found), 0);
        EXPECT_EQ(found, idAb);
        EXPECT_EQ(UKO_Task_Exists(lookup, &exists), 0);
        std::free(lookup);

        EXPECT_EQ(UKO_Task_NameGet(kNone, name), -1);
        EXPECT_EQ(UKO_Task_NameGet(id, nullptr), -1);
        Release(id);
        Release(idAb);
        EXPECT_EQ(UKO_Task_Exists("RECV", &exists), -1) << "an ended task is gone";
    });
}

TEST(NamedTask, OnlyTheModeBitsOfThePolicyAndTheDefaultPassOn) {
    InStartedPlatform([] {
        struct Case {
            uint32_t given;
            uint32_t passed;
        };
        // For 0x5F the passing bits 0x01, 0x02 and 0x20 leave 0x03.
        const Case cases[] = {{0x7F, 0x23}, {0x5F, 0x03}, {0x00, 0x00}, {0x10, 0x00}, {0x40, 0x00},
                              {0x21, 0x21}};
        int n = 0;
        for (const Case& c : cases) {
            Probe p;
            const std::string name = "md" + std::to_string(n++);
            const uint32_t id = Named(name.c_str(), &p, c.given);
            uint32_t mode = 0xFFFF;
            EXPECT_EQ(TSK_TaskModeGet(id, &mode), 0u);
            EXPECT_EQ(mode, c.passed) << std::hex << c.given;
            Release(id);
        }
    });
}

TEST(NamedTask, LookUpsFromInsideAndOutsideATask) {
    InStartedPlatform([] {
        uint32_t id = 0;
        EXPECT_EQ(UKO_Task_SelfIdGet(&id), -1) << "the test thread is no task";
        EXPECT_EQ(UKO_Task_OthersExist(), 1u);
        EXPECT_EQ(UKO_Task_Yield(), 0);
        uint32_t state = 9;
        EXPECT_EQ(UKO_Task_StateGet(pthread_self(), &state), 0);
        EXPECT_EQ(state, 0u);
        EXPECT_EQ(UKO_Task_StateGet(pthread_self(), nullptr), -1);
        EXPECT_EQ(UKO_Task_ThreadSuspend(pthread_self()), 0xFFFFFFFFu);

        Probe p;
        const uint32_t taskId = Named("look", &p, 0, 42);
        uint32_t prio = 0;
        EXPECT_EQ(UKO_Task_PrioGet(taskId, &prio), 0);
        EXPECT_EQ(prio, 42u);
        EXPECT_EQ(UKO_Task_PrioSet(taskId, 43), 0u);
        EXPECT_EQ(UKO_Task_PrioGet(taskId, &prio), 0);
        EXPECT_EQ(prio, 43u);
        EXPECT_EQ(UKO_Task_PrioGet(kNone, &prio), -1);
        EXPECT_EQ(UKO_Task_PrioGet(taskId, nullptr), -1);
        pthread_t thread = 0;
        EXPECT_EQ(UKO_Task_OsIdGet(taskId, &thread), 0);
        EXPECT_EQ(static_cast<uint64_t>(thread), UKO_TaskOsalIdGet(taskId));
        EXPECT_EQ(UKO_Task_OsIdGet(kNone, &thread), -1);
        Release(taskId);
    });
}

// The service link's own tasks, seen from inside.
struct Inside {
    std::atomic<uint32_t> selfRc{0};
    std::atomic<uint32_t> selfId{0};
    std::atomic<uint32_t> others{7};
    std::atomic<int> done{0};
};
void LookFromInside(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* in = reinterpret_cast<Inside*>(a);
    uint32_t id = 0;
    in->selfRc.store(static_cast<uint32_t>(UKO_Task_SelfIdGet(&id)));
    in->selfId.store(id);
    in->others.store(UKO_Task_OthersExist());
    (void)UKO_Task_Yield();
    in->done.store(1);
}

TEST(NamedTask, ATaskKnowsItselfAndTheOthers) {
    InStartedPlatform([] {
        Inside in;
        const uint64_t args[4] = {reinterpret_cast<uint64_t>(&in), 0, 0, 0};
        uint32_t id = kNone;
        ASSERT_EQ(UKO_Task_Create("self", 0, 0, 0, args, LookFromInside, &id), 0u);
        ASSERT_TRUE(WaitFor([&] { return in.done.load() != 0; }));
        EXPECT_EQ(in.selfRc.load(), 0u);
        EXPECT_EQ(in.selfId.load(), id);
        EXPECT_EQ(in.others.load(), 1u) << "VCLK and TICK are other tasks";
    });
}

// ---- The service link's shape ---------------------------------------------------------------------

// "PLUG": creates "PLUR" and writes event 1 to it before "PLUR" reads.
void PlurEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    p->started.store(1);
    while (p->written.load() == 0) {
        (void)UKO_Task_Delay(1);
    }
    ReadEventOne(a, 0, 0, 0);
}
void PlugEntry(uint64_t a, uint64_t b, uint64_t, uint64_t) {
    Probe* plug = ProbeOf(a);
    const uint64_t args[4] = {b, 0, 0, 0};
    uint32_t plurId = kNone;
    plug->rc.store(UKO_Task_Create("PLUR", 0, 0, 0, args, PlurEntry, &plurId));
    plug->other.store(plurId);
    plug->got.store(UKO_Event_Write(plurId, 1));
    ProbeOf(b)->written.store(1);
    plug->finished.store(1);
}

TEST(NamedTask, TheServiceLinksTasksLoseNoEvent) {
    InStartedPlatform([] {
        Probe recv;
        const uint32_t recvId = Named("RECV", &recv);
        ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(recvId); })) << "RECV blocks in its read";
        EXPECT_EQ(recv.finished.load(), 0);
        ASSERT_EQ(UKO_Event_Write(recvId, 1), 0u);
        ASSERT_TRUE(WaitFor([&] { return recv.finished.load() != 0; }));
        EXPECT_EQ(recv.rc.load(), 0u);
        EXPECT_EQ(recv.got.load(), 1u);

        Probe plug;
        Probe plur;
        const uint64_t args[4] = {reinterpret_cast<uint64_t>(&plug), reinterpret_cast<uint64_t>(&plur), 0, 0};
        uint32_t plugId = kNone;
        ASSERT_EQ(UKO_Task_Create("PLUG", 0, 0, 0, args, PlugEntry, &plugId), 0u);
        ASSERT_TRUE(WaitFor([&] { return plur.finished.load() != 0; }));
        EXPECT_EQ(plug.rc.load(), 0u);
        EXPECT_EQ(plug.got.load(), 0u) << "the write to PLUR";
        EXPECT_EQ(plur.rc.load(), 0u);
        EXPECT_EQ(plur.got.load(), 1u) << "the event written before the read is not lost";
    });
}

// ---- The dumps --------------------------------------------------------------------------------------

const std::string kStars = "\r\n" + std::string(78, '*');
const std::string kHeader =
    "\r\nname \t        Tid         UKO_Tid   priority      Status      CPU Total(Millsecs)";

std::string Row(const char* paddedName, pthread_t thread, const char* idAndPrio) {
    return std::string("\r\n") + paddedName + "\t0x" + Hex16(thread) + idAndPrio +
           "         unknown              0";
}

std::string ShowAllText(uint32_t size) {
    std::vector<char> buf(size + 1, '\x7f');
    EXPECT_EQ(UKO_Task_ShowAll(buf.data(), size), 0);
    return std::string(buf.data(), strnlen(buf.data(), size));
}

TEST(NamedTaskShow, GoldenTexts) {
    InStartedPlatform([] {
        Probe p;
        const uint32_t id = Named("RECVTASK", &p, 0, 7);
        ASSERT_EQ(id, 3u) << "after VCLK and TICK";
        const std::string all = kHeader + kStars +
                                Row("VCLK      ", ThreadOf(1), "     1       250") +
                                Row("TICK      ", ThreadOf(2), "     2       250") +
                                Row("RECV      ", ThreadOf(3), "     3         7") + kStars;
        EXPECT_EQ(ShowAllText(4096), all);

        std::vector<char> buf(4096, '\0');
        EXPECT_EQ(UKO_Task_Show(buf.data(), 4096, id), 0);
        const std::string one = kStars +
                                "\r\nTask name               : RECV"
                                "\r\nTask UKO Index          : 3"
                                "\r\nTask OS Index           : 0x" + Hex16(ThreadOf(3)) +
                                "\r\nTask priority           : 7"
                                "\r\nTask Status             : unknown"
                                "\r\nLast run time(CPU Tick) : 0x00000000(high)  0x00000000(low)"
                                "\r\nMax run time(CPU Tick)  : 0x00000000(high)  0x00000000(low)"
                                "\r\nTotal run time(CPU Tick): 0x00000000(high)  0x00000000(low)" +
                                kStars;
        EXPECT_EQ(std::string(buf.data()), one);
        for (uint32_t bad : {0u, 4u, kNone}) {
            EXPECT_EQ(UKO_Task_Show(buf.data(), 4096, bad), 0);
            EXPECT_STREQ(buf.data(), "\r\nTask Index error!") << bad;
        }
        EXPECT_EQ(UKO_Task_ShowAll(nullptr, 100), 0);
        EXPECT_EQ(UKO_Task_Show(nullptr, 100, id), 0);
        Release(id);
    });
}

TEST(NamedTaskShow, NoSizeLetsADumpWriteBeyondTheBuffer) {
    InStartedPlatform([] {
        Probe p;
        const uint32_t id = Named("SEND", &p);
        constexpr size_t kGuard = 64;
        for (uint32_t size : {0u, 1u, 2u, 59u, 60u, 79u, 80u, 81u, 120u, 200u, 400u}) {
            for (int which = 0; which < 2; ++which) {
                // The buffer sits at the end of its own allocation, followed by a canary.
                std::vector<char> mem(size + kGuard, '\xCD');
                char* buf = mem.data();
                if (which == 0) {
                    EXPECT_EQ(UKO_Task_ShowAll(buf, size), 0);
                } else {
                    EXPECT_EQ(UKO_Task_Show(buf, size, id), 0);
                }
                for (size_t i = size; i < mem.size(); ++i) {
                    ASSERT_EQ(mem[i], '\xCD') << "byte " << i << " of a " << size << "-byte buffer, dump "
                                              << which;
                }
                if (size != 0) {
                    EXPECT_LT(strnlen(buf, size), size) << "terminated within " << size;
                }
            }
        }
        // Without 80 bytes to spare after the header, the table dump writes no row.
        const std::string small = ShowAllText(120);
        EXPECT_EQ(small.find("VCLK"), std::string::npos);
        Release(id);
    });
}

std::atomic<int> g_overflowRecords{0};
void OverflowObserver(uint32_t, uint16_t code, uint16_t moduleId, const char*, uint16_t,
                      const char* format) {
    if (moduleId == 0x2198 && code == 22 && format != nullptr &&
        std::strcmp(format,
                    "[ZIRPA-%s]:Sync add task to V1 adapt package error,taskId(%u) overflow.\n") == 0) {
        g_overflowRecords.fetch_add(1);
    }
}

TEST(NamedTaskShow, TheTaskBeyondTheTableHasNoBlockAndNoRow) {
    InStartedPlatform([] {
        std::vector<Probe> probes(99);  // ids 3 to 101, after VCLK and TICK
        std::vector<uint32_t> ids;
        ukoErrorRecordObserverSet(OverflowObserver);
        for (size_t i = 0; i < probes.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "t%03u", static_cast<unsigned>(i));
            ids.push_back(Named(name, &probes[i]));
        }
        ukoErrorRecordObserverSet(nullptr);
        ASSERT_EQ(ids.back(), 101u);
        EXPECT_EQ(g_overflowRecords.load(), 1);
        EXPECT_EQ(TSK_AdaptCbGet(101), nullptr);
        EXPECT_EQ(LongName(101), "<no block>") << "its long name is lost";
        EXPECT_EQ(LongName(100), "t097");
        const std::string all = ShowAllText(64 * 1024);
        EXPECT_NE(all.find("\r\nt097      \t"), std::string::npos);
        EXPECT_EQ(all.find("\r\nt098      \t"), std::string::npos) << "no row for id 101";
        for (uint32_t id : ids) Release(id);
    });
}

}  // namespace
