// The call-stack module: the stack-base key made on first use and kept per thread, the
// base of the main thread from the task statistics and of other threads from their own
// stacks, the statistics line reader, the capture limits, the symbol texts cut down to
// names or addresses, and the call-stack device kept once open.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "os_callstackbase.h"
#include "os_callstackbase_inner.h"
#include "os_task.h"
#include "osal_lock.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"
#include "vt_test/temp_env.h"

namespace {

constexpr uint32_t kRange = 0x2020100A;
constexpr uint32_t kNoBase = 0x2020100C;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

void MakeDirs(const std::string& path) {
    std::string sofar;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        sofar += part + "/";
        (void)mkdir(sofar.c_str(), 0700);
    }
}

// A stat line as the kernel writes it: pid, name, state, then fields 4 to 52; fields
// 26 to 30 carry the values given, every other field its own number.
std::string StatLine(const std::string& name, uint64_t startCode, uint64_t endCode,
                     uint64_t startStack, uint64_t esp, uint64_t eip, int fields = 52) {
    std::string line = "4242 (" + name + ") S";
    for (int f = 4; f <= fields; ++f) {
        uint64_t v = static_cast<uint64_t>(f);
        if (f == 26) v = startCode;
        if (f == 27) v = endCode;
        if (f == 28) v = startStack;
        if (f == 29) v = esp;
        if (f == 30) v = eip;
        line += " " + std::to_string(v);
    }
    return line + "\n";
}

// Fixture statistics under a folder standing in for /proc.
struct ProcFixture {
    vt_test::TempEnv env;
    std::string root = env.Root() + "/proc";

    std::string StatPath(int pid, int tid) const {
        return root + "/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/stat";
    }
    void Write(int pid, int tid, const std::string& line) const {
        MakeDirs(root + "/" + std::to_string(pid) + "/task/" + std::to_string(tid));
        WriteFile(StatPath(pid, tid), line);
    }
};

// The top of the "[stack]" mapping: where the main thread's stack begins.
uint64_t MainStackTop(uint64_t* lowest) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("[stack]") != std::string::npos) {
            unsigned long lo = 0, hi = 0;
            if (sscanf(line.c_str(), "%lx-%lx", &lo, &hi) == 2) {
                *lowest = lo;
                return hi;
            }
        }
    }
    return 0;
}

// ---- The stack-base key ------------------------------------------------------------------

// First in this file: it needs a process in which nobody has asked for a stack base yet.
TEST(CallStackBaseKey, AKeyThatCannotBeMadeIsReportedOnceAndTheBaseStillFound) {
    auto r = vt_test::RunInChild([] {
        // Use up every key the thread library has.
        int rc = 0;
        for (int i = 0; i < 100000 && rc == 0; ++i) {
            pthread_key_t key;
            rc = pthread_key_create(&key, nullptr);
        }
        EXPECT_NE(rc, 0);
        {
            vt_test::LogCapture capture;
            EXPECT_EQ(ukoCallStackBaseInit(0), OSAL_ErrnoConvert(rc));
            EXPECT_EQ(ukoCallStackBaseInit(0), OSAL_ErrnoConvert(rc)) << "the first result stays";
            std::vector<vt_test::LogRecord> recs = capture.Records();
            EXPECT_EQ(recs.size(), 1u) << "made, and reported, only once";
            if (!recs.empty()) {
                EXPECT_EQ(recs[0].text, "[ZIRPA-ukoCallStackBaseInit]:function pthread_key_create "
                                        "return failed!\n");
                EXPECT_EQ(recs[0].level, UKO_LOG_LEVEL_ERROR);
                EXPECT_EQ(recs[0].code, 0xFFFF);
                EXPECT_EQ(recs[0].moduleId, 0xFFFF);
                EXPECT_EQ(recs[0].source, "os_callstackbase");
            }
        }
        // Without a key the base is found on every call instead of kept.
        UKO_TASK_PROC_STAT st{};
        EXPECT_EQ(ukoProcTaskStatRead(getpid(), gettid(), &st), 0);
        uint64_t base = 0;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(base, st.uvStartStack);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

struct HookSeen {
    uintptr_t arg1 = 0;
    uintptr_t arg2 = 0;
    int calls = 0;
};
HookSeen g_hookSeen;
uint64_t g_hookAnswer = 0;
void BaseHook(uint64_t* puvBase, uintptr_t a1, uintptr_t a2) {
    g_hookSeen.arg1 = a1;
    g_hookSeen.arg2 = a2;
    ++g_hookSeen.calls;
    if (g_hookAnswer != 0) *puvBase = g_hookAnswer;
}

// The main thread's base comes from its statistics the first time and is kept for the
// thread, whatever the file says later; a second initialisation keeps the same key.
TEST(CallStackBase, MainThreadBaseReadOnceKeptAndOverriddenOnlyByTheHook) {
    auto r = vt_test::RunInChild([] {
        ProcFixture proc;
        const int pid = getpid();
        const int tid = gettid();
        EXPECT_EQ(ukoCallStackProcRootSet(proc.root.c_str()), 0u);
        uint64_t base = 77;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), kNoBase) << "no statistics file yet";
        EXPECT_EQ(base, 77u);
        // The hook answers where the statistics cannot, and its answer is not kept.
        EXPECT_EQ(ukoCallStackBaseHookSet(BaseHook), 0u);
        g_hookAnswer = 0xABCD0000;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 11, 22), 0u);
        EXPECT_EQ(base, 0xABCD0000u);
        EXPECT_EQ(g_hookSeen.arg1, 11u);
        EXPECT_EQ(g_hookSeen.arg2, 22u);
        g_hookAnswer = 0;
        base = 77;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), kNoBase);
        EXPECT_EQ(base, 77u);
        EXPECT_EQ(ukoCallStackBaseHookSet(nullptr), 0u);

        proc.Write(pid, tid, StatLine("main", 1, 2, 0, 4, 5));
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), kNoBase) << "a start of stack of 0 is none";

        proc.Write(pid, tid, StatLine("main", 1, 2, 0x7ffc1000, 4, 5));
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(base, 0x7ffc1000u);
        proc.Write(pid, tid, StatLine("main", 1, 2, 0x7ffd2000, 4, 5));
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(base, 0x7ffc1000u) << "kept for the thread";
        EXPECT_EQ(ukoCallStackBaseInit(0), 0u);
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(base, 0x7ffc1000u) << "the key was not made again";

        EXPECT_EQ(ukoCallStackBaseHookSet(BaseHook), 0u);
        g_hookAnswer = 0x5000;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(base, 0x5000u) << "the hook goes before the kept base";
        g_hookAnswer = 0;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(base, 0x7ffc1000u) << "a hook without an answer leaves the kept base";
        EXPECT_EQ(ukoCallStackBaseHookSet(nullptr), 0u);
        const int calls = g_hookSeen.calls;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(g_hookSeen.calls, calls) << "the hook was removed";
        EXPECT_EQ(ukoCallStackBaseGet(nullptr, 0, 0), kNoBase);

        EXPECT_EQ(ukoCallStackProcRootSet(std::string(201, 'x').c_str()), 22u);
        EXPECT_EQ(ukoCallStackProcRootSet(nullptr), 0u);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

// On the real statistics: the main thread's start of stack lies in its stack mapping,
// above the frames in use.
TEST(CallStackBase, MainThreadBaseFromTheRealStatistics) {
    auto r = vt_test::RunInChild([] {
        UKO_TASK_PROC_STAT st{};
        EXPECT_EQ(ukoProcTaskStatRead(getpid(), gettid(), &st), 0);
        uint64_t lowest = 0;
        const uint64_t top = MainStackTop(&lowest);
        EXPECT_NE(top, 0u);
        EXPECT_GT(st.uvStartStack, lowest);
        EXPECT_LE(st.uvStartStack, top);
        EXPECT_GT(st.uvStartStack, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
        EXPECT_LT(st.uvStartCode, st.uvEndCode);
        uint64_t base = 0;
        EXPECT_EQ(ukoCallStackBaseGet(&base, 0, 0), 0u);
        EXPECT_EQ(base, st.uvStartStack);

        UKO_TASK_PROC_STAT untouched{};
        untouched.uvStartStack = 99;
        EXPECT_EQ(ukoProcTaskStatRead(getpid(), 0, &untouched), -1) << "no such task";
        EXPECT_EQ(untouched.uvStartStack, 99u);
        EXPECT_EQ(ukoProcTaskStatRead(getpid(), gettid(), nullptr), -1);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

// A thread on a stack of the test's own making.
struct OwnStackThread {
    static constexpr size_t kSize = 4 * 1024 * 1024;
    void* stack = nullptr;
    uint64_t baseGet = 0, baseQuery = 0, taskBase = 0;
    uint32_t getRc = 1, queryRc = 1;
    uintptr_t frame = 0;

    static void* Body(void* arg) {
        auto* self = static_cast<OwnStackThread*>(arg);
        self->frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        self->getRc = ukoCallStackBaseGet(&self->baseGet, 0, 0);
        self->queryRc = OS_TaskStackBaseQuery(&self->baseQuery);
        self->taskBase = OS_TaskStackBaseGet();
        return nullptr;
    }
    bool Run() {
        stack = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (stack == MAP_FAILED) return false;
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstack(&attr, stack, kSize);
        pthread_t t;
        bool ok = pthread_create(&t, &attr, Body, this) == 0;
        pthread_attr_destroy(&attr);
        if (ok) pthread_join(t, nullptr);
        return ok;
    }
    uint64_t Top() const { return reinterpret_cast<uintptr_t>(stack) + kSize; }
    ~OwnStackThread() {
        if (stack != nullptr && stack != MAP_FAILED) munmap(stack, kSize);
    }
};

// A thread other than the main one gets the top of its own stack, never the main
// thread's start of stack that every thread's statistics show.
TEST(CallStackBase, OtherThreadsGetTheTopOfTheirOwnStack) {
    OwnStackThread a, b;
    ASSERT_TRUE(a.Run());
    ASSERT_TRUE(b.Run());
    for (const OwnStackThread* t : {&a, &b}) {
        EXPECT_EQ(t->getRc, 0u);
        EXPECT_EQ(t->queryRc, 0u);
        EXPECT_EQ(t->baseGet, t->Top());
        EXPECT_EQ(t->baseQuery, t->Top());
        EXPECT_EQ(t->taskBase, t->Top());
        EXPECT_LT(t->frame, t->Top());
        EXPECT_GT(t->frame, t->Top() - OwnStackThread::kSize);
    }
    EXPECT_EQ(OS_TaskStackBaseQuery(nullptr), 22u);
}

// The main thread's stack begins on a page boundary inside its mapping, above the
// frames in use.
TEST(CallStackBase, TaskStackBaseOfTheMainThreadLiesAtTheTopOfItsMapping) {
    uint64_t lowest = 0;
    const uint64_t top = MainStackTop(&lowest);
    ASSERT_NE(top, 0u);
    const uint64_t base = OS_TaskStackBaseGet();
    EXPECT_LE(base, top);
    EXPECT_GT(base, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    EXPECT_EQ(base % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)), 0u);
}

// ---- The statistics line ------------------------------------------------------------------

TEST(ProcTaskStat, LinesParsedOrRefusedWithTheRecordUntouched) {
    struct Case {
        const char* what;
        std::string line;
        int32_t result;
        uint64_t startStack;
    };
    const uint64_t big = 18446744073709551615ull;
    std::string negatives = StatLine("rt", 10, 20, 30, 40, 50);
    negatives.replace(negatives.find(" 18 19 "), 7, " -2 -5 ");  // priority and nice
    const Case cases[] = {
        {"a plain line", StatLine("vantask", 0x400000, 0x401000, 0x7ffe0000, 7, 8), 0, 0x7ffe0000},
        {"a name with \") \" in it", StatLine("a) b) c", 1, 2, 3, 4, 5), 0, 3},
        {"a name with parentheses", StatLine("(x) (y)", 1, 2, 3, 4, 5), 0, 3},
        {"the largest value", StatLine("v", 1, 2, big, 4, 5), 0, big},
        {"negative priority and nice", negatives, 0, 30},
        {"exactly 27 numbers", StatLine("v", 1, 2, 3, 4, 5, 30), 0, 3},
        {"26 numbers", StatLine("v", 1, 2, 3, 4, 5, 29), -1, 0},
        {"a word among the numbers", "1 (v) S 1 2 3 x 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 "
                                     "20 21 22 23 24 25 26 27\n", -1, 0},
        {"no closing parenthesis", "1 (v S 1 2 3\n", -1, 0},
        {"the line ends at the parenthesis", "1 (v)", -1, 0},
        {"the line ends at the state", "1 (v) S", -1, 0},
        {"an empty line", "", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // An exact-size copy, so that reading past its end is caught.
        std::unique_ptr<char[]> exact(new char[c.line.size() + 1]);
        memcpy(exact.get(), c.line.c_str(), c.line.size() + 1);
        UKO_TASK_PROC_STAT st;
        memset(&st, 0xA5, sizeof(st));
        const UKO_TASK_PROC_STAT before = st;
        EXPECT_EQ(ukoProcTaskStatParse(exact.get(), &st), c.result);
        if (c.result == 0) {
            EXPECT_EQ(st.uvStartStack, c.startStack);
        } else {
            EXPECT_EQ(memcmp(&st, &before, sizeof(st)), 0);
        }
    }
    UKO_TASK_PROC_STAT st{};
    ASSERT_EQ(ukoProcTaskStatParse(StatLine("v", 11, 12, 13, 14, 15).c_str(), &st), 0);
    EXPECT_EQ(st.uvStartCode, 11u);
    EXPECT_EQ(st.uvEndCode, 12u);
    EXPECT_EQ(st.uvStartStack, 13u);
    EXPECT_EQ(st.uvCurStackPtr, 14u);
    EXPECT_EQ(st.uvCurInstrPtr, 15u);
    EXPECT_EQ(ukoProcTaskStatParse(nullptr, &st), -1);
}

TEST(ProcTaskStat, ReadsTheFileOfTheGivenTask) {
    ProcFixture proc;
    proc.Write(10, 11, StatLine("x", 1, 2, 0x1111, 4, 5));
    proc.Write(10, 12, "");
    proc.Write(10, 13, StatLine("x", 1, 2, 3, 4, 5, 28));
    ASSERT_EQ(ukoCallStackProcRootSet(proc.root.c_str()), 0u);
    UKO_TASK_PROC_STAT st{};
    EXPECT_EQ(ukoProcTaskStatRead(10, 11, &st), 0);
    EXPECT_EQ(st.uvStartStack, 0x1111u);
    EXPECT_EQ(ukoProcTaskStatRead(10, 12, &st), -1) << "an empty file";
    EXPECT_EQ(ukoProcTaskStatRead(10, 13, &st), -1) << "a short line";
    EXPECT_EQ(ukoProcTaskStatRead(10, 14, &st), -1) << "no file";
    EXPECT_EQ(ukoProcTaskStatRead(-2147483647 - 1, -2147483647 - 1, &st), -1);
    EXPECT_EQ(ukoCallStackProcRootSet(nullptr), 0u);
}

// ---- Captures -----------------------------------------------------------------------------

void* Park(void* arg) {
    auto* go = static_cast<std::atomic<bool>*>(arg);
    while (!go->load()) usleep(1000);
    return nullptr;
}

TEST(CallStackCapture, TaskCaptureLimitsAndThreads) {
    std::atomic<bool> go{false};
    pthread_t other;
    ASSERT_EQ(pthread_create(&other, nullptr, Park, &go), 0);
    const pthread_t self = pthread_self();
    struct Case {
        const char* what;
        pthread_t thread;
        uint32_t depth, skip;
        bool buffer, count;
        uint32_t result;
        uint32_t countAfter;  // 99: not written
    };
    const Case cases[] = {
        {"no buffer", self, 5, 0, false, true, 22, 99},
        {"no count", self, 5, 0, true, false, 22, 99},
        {"depth 0 whatever the skip", self, 0, 40, true, true, 0, 0},
        {"depth 32", self, 32, 0, true, true, kRange, 99},
        {"skip 32", self, 1, 32, true, true, kRange, 99},
        {"depth and skip 31", self, 31, 31, true, true, 0, 0},
        {"thread 0 is the caller", 0, 31, 31, true, true, 0, 0},
        {"another thread", other, 4, 0, true, true, 0xFFFFFFFF, 99},
        {"another thread, depth 32", other, 32, 0, true, true, kRange, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        void* frames[32] = {};
        frames[0] = reinterpret_cast<void*>(0x5);
        uint32_t count = 99;
        EXPECT_EQ(OS_TaskCallStackGet(c.thread, c.depth, c.skip, c.buffer ? frames : nullptr,
                                      c.count ? &count : nullptr),
                  c.result);
        EXPECT_EQ(count, c.countAfter);
        const uintptr_t first = reinterpret_cast<uintptr_t>(frames[0]);
        EXPECT_EQ(first, c.depth == 0 ? 0xDEADDEADu : 0x5u);
    }
    go.store(true);
    pthread_join(other, nullptr);
}

TEST(CallStackCapture, CaptureLimitsAndChecks) {
    struct Case {
        const char* what;
        uint32_t depth, skip;
        bool buffer, count;
        uint32_t result;
        uint32_t countAfter;  // 99: not written
        uint32_t check;       // of the argument checks, which do not look at the count
    };
    const Case cases[] = {
        {"no buffer", 5, 0, false, true, 22, 99, 22},
        {"no count", 5, 0, true, false, 22, 99, 0},
        {"depth 32", 32, 0, true, true, kRange, 0, kRange},
        {"skip 32", 1, 32, true, true, kRange, 0, kRange},
        {"depth and skip 31", 31, 31, true, true, 0, 0, 0},
        {"depth 0", 0, 0, true, true, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        void* frames[32] = {};
        void** buffer = c.buffer ? frames : nullptr;
        for (auto fn : {OS_CallStackGet, OS_CurCallStackGet}) {
            uint32_t count = 99;
            EXPECT_EQ(fn(c.depth, c.skip, buffer, c.count ? &count : nullptr), c.result);
            EXPECT_EQ(count, c.countAfter);
        }
        EXPECT_EQ(ukoCallStackParamCheck(c.depth, c.skip, buffer, 0), c.check);
        EXPECT_EQ(ukoTaskCallStackParamCheck(pthread_self(), c.depth, c.skip, buffer, 0), c.check);
        EXPECT_EQ(ukoTaskCallStackParamCheck(0, c.depth, c.skip, frames, 0), 22u);
    }
}

// ---- Symbol texts -------------------------------------------------------------------------

TEST(CallStackSymbols, TidyOnFixedTexts) {
    struct Case {
        const char* text;
        const char* tidied;
    };
    const std::string longName(1100, 'n');
    const Case cases[] = {
        {"./prog(func+0x1a) [0x4005d4]", "func"},
        {"./prog() [0x4005d4]", "0x4005d4"},
        {"./prog(+0x1234) [0x55d0]", "0x55d0"},
        {"/lib/libc.so.6(_ZN3foo3barEv+0x5) [0x7f01]", "_ZN3foo3barEv"},
        {"a(x$y_1+0) [1]", "x$y_1"},
        {"prog(f(g+0x1) [0x9]", "g"},
        {"prog(f) (+0x1) [0x9]", "0x9"},
        {"[0x10]", "0x10"},
        {"prog [0xab] tail [0xcd", "0xcd"},
        {"prog(+0x1) [0xab] [0xcd", "0xcd"},
        {"prog [0x2] tail]", "0x2"},
        {"prog [0x2]]", "0x2"},
        {"prog() []", "prog() []"},
        {"prog(", "prog("},
        {"0   zirpa   0x00000001000a1b2c main + 12", "0   zirpa   0x00000001000a1b2c main + 12"},
        {"", ""},
    };
    std::vector<char> text(UKO_CALLSTACK_SYMBOL_LEN), work(UKO_CALLSTACK_SYMBOL_LEN);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        snprintf(text.data(), text.size(), "%s", c.text);
        ukoCallStackSymbolTidy(text.data(), work.data());
        EXPECT_STREQ(text.data(), c.tidied);
    }
    // A name as long as a text can hold.
    std::string full = "(" + std::string(1028, 'n');
    snprintf(text.data(), text.size(), "%s", full.c_str());
    ukoCallStackSymbolTidy(text.data(), work.data());
    EXPECT_EQ(std::string(text.data()), std::string(1028, 'n'));
}

// A return address in the test program, whose own functions are not exported: its
// symbol text has no name.
__attribute__((noinline)) void* ReturnAddressHere() {
    void* p = __builtin_return_address(0);
    asm volatile("" ::: "memory");  // keep the call out of the tail position
    return p;
}

std::string AddressText(const void* p) {
    char buf[32];
    snprintf(buf, sizeof(buf), "%p", p);
    return buf;
}

TEST(CallStackSymbols, BareNamesOnRealTexts) {
    void* const frames[] = {
        ReturnAddressHere(),                                        // a frame of this program
        reinterpret_cast<char*>(reinterpret_cast<void*>(&getpid)) + 1,  // inside a libc function
        reinterpret_cast<void*>(0x10),                              // nowhere
    };
    const int n = 3;

    char** raw = nullptr;
    ASSERT_EQ(OS_CallStackSymbolsGet(frames, n, &raw, 0), 0u);
    ASSERT_NE(raw, nullptr);
    // The C library may name the function by one of its aliases.
    const std::string libcText = raw[1];
    const size_t open = libcText.rfind('(');
    const size_t plus = libcText.find("+0x1)", open);
    ASSERT_TRUE(open != std::string::npos && plus != std::string::npos) << libcText;
    const std::string libcName = libcText.substr(open + 1, plus - open - 1);
    ASSERT_GE(libcName.size(), 6u);
    EXPECT_EQ(libcName.substr(libcName.size() - 6), "getpid") << libcText;
    EXPECT_NE(std::string(raw[0]).find("(+0x"), std::string::npos) << raw[0];
    free(raw);

    char** bare = nullptr;
    ASSERT_EQ(OS_CallStackSymbolsGet(frames, n, &bare, UKO_CALLSTACK_SYMBOL_BARE), 0u);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(std::string(bare[0]), AddressText(frames[0]));
    EXPECT_EQ(std::string(bare[1]), libcName);
    EXPECT_EQ(std::string(bare[2]), AddressText(frames[2]));
    // One block: the pointers, then a text of 1030 bytes for each frame.
    char* texts = reinterpret_cast<char*>(bare) + n * sizeof(char*);
    for (int i = 0; i < n; ++i) EXPECT_EQ(bare[i], texts + i * UKO_CALLSTACK_SYMBOL_LEN);
    free(bare);

    char** none = nullptr;
    EXPECT_EQ(OS_CallStackSymbolsGet(frames, 0, &none, UKO_CALLSTACK_SYMBOL_BARE), 0u);
    EXPECT_NE(none, nullptr);
    free(none);
}

TEST(CallStackSymbols, RefusedArguments) {
    void* frames[1] = {reinterpret_cast<void*>(0x10)};
    char** out = reinterpret_cast<char**>(0x1);
    EXPECT_EQ(OS_CallStackSymbolsGet(frames, 1, nullptr, 1), 22u);
    EXPECT_EQ(OS_CallStackSymbolsGet(frames, -1, &out, 1), 22u);
    EXPECT_EQ(OS_CallStackSymbolsGet(nullptr, 2, &out, 0), 22u);
    EXPECT_EQ(out, reinterpret_cast<char**>(0x1)) << "nothing written on a refusal";
}

// ---- The call-stack device ------------------------------------------------------------------

bool SameFile(int fd, const std::string& path) {
    struct stat a, b;
    return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_ino == b.st_ino &&
           a.st_dev == b.st_dev;
}

TEST(CallStackDev, OpenedOnceKeptAndRetriedWhileMissing) {
    auto r = vt_test::RunInChild([] {
        vt_test::TempEnv env;
        const std::string dev = env.Root() + "/callstack";
        ukoCallStackDevPathSet(dev.c_str());
        EXPECT_EQ(OS_CallStackDevOpen(0), -1);
        EXPECT_EQ(OS_CallStackDevOpen(0), -1) << "tried again, still missing";

        WriteFile(dev, "");
        const int32_t fd = OS_CallStackDevOpen(0);
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(SameFile(fd, dev));
        EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDWR);
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "not handed to started programs";

        // Gone and pointed elsewhere: the kept descriptor answers without a new open.
        unlink(dev.c_str());
        const std::string other = env.Root() + "/other";
        WriteFile(other, "");
        ukoCallStackDevPathSet(other.c_str());
        EXPECT_EQ(OS_CallStackDevOpen(0), fd);
        EXPECT_EQ(OS_CallStackDevOpen(0), fd);
        ukoCallStackDevPathSet(nullptr);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

int CountOpen(const std::string& path) {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 && SameFile(fd, path)) ++count;
    }
    return count;
}

// First callers racing each other all get the one descriptor kept; none stays open
// beside it.
TEST(CallStackDev, RacingFirstOpensKeepOneDescriptor) {
    auto r = vt_test::RunInChild([] {
        vt_test::TempEnv env;
        const std::string dev = env.Root() + "/callstack";
        WriteFile(dev, "");
        ukoCallStackDevPathSet(dev.c_str());
        constexpr int kThreads = 8;
        struct Shared {
            std::atomic<int> ready{0};
            std::atomic<bool> go{false};
            int32_t fds[kThreads] = {};
        } shared;
        struct Arg {
            Shared* shared;
            int index;
        } args[kThreads];
        pthread_t threads[kThreads];
        for (int i = 0; i < kThreads; ++i) {
            args[i] = {&shared, i};
            EXPECT_EQ(pthread_create(&threads[i], nullptr,
                                     [](void* p) -> void* {
                                         auto* a = static_cast<Arg*>(p);
                                         a->shared->ready.fetch_add(1);
                                         while (!a->shared->go.load()) sched_yield();
                                         a->shared->fds[a->index] = OS_CallStackDevOpen(0);
                                         return nullptr;
                                     },
                                     &args[i]),
                      0);
        }
        while (shared.ready.load() < kThreads) sched_yield();
        shared.go.store(true);
        for (pthread_t t : threads) pthread_join(t, nullptr);
        for (int i = 0; i < kThreads; ++i) EXPECT_EQ(shared.fds[i], shared.fds[0]);
        EXPECT_GE(shared.fds[0], 0);
        EXPECT_EQ(CountOpen(dev), 1);
        ukoCallStackDevPathSet(nullptr);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

TEST(CallStackDev, TheDeviceDoesNotExistHere) {
    if (access(UKO_CALLSTACK_DEV_PATH, F_OK) == 0) {
        GTEST_SKIP() << "this machine has the device";
    }
    auto r = vt_test::RunInChild([] { return OS_CallStackDevOpen(0) == -1 ? 0 : 1; });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
