#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "os_time.h"
#include "osal_lock.h"
#include "osal_cputick.h"
#include "uko_cputick.h"
#include "uko_secfunc.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

// ---- Error records seen by the test ------------------------------------------------

struct Record {
    uint16_t module;
    std::string format;
};
std::vector<Record> g_records;
void Observe(uint32_t /*level*/, uint16_t /*code*/, uint16_t module, const char* /*file*/,
             uint16_t /*line*/, const char* format) {
    g_records.push_back({module, format != nullptr ? format : ""});
}

// A processor information file of the test's own, in a temporary folder.
struct InfoFileFixture : ::testing::Test {
    vt_test::TempEnv env;
    std::string path;
    void SetUp() override {
        path = env.Tmp() + "/cpuinfo";
        g_records.clear();
        ukoErrorRecordObserverSet(Observe);
        OS_TickConfigInit(0);
    }
    void TearDown() override {
        ukoErrorRecordObserverSet(nullptr);
        ukoCpuTickInfoFileSet(nullptr);
    }
    void Write(const std::string& text) {
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(text.c_str(), f);
        fclose(f);
        ukoCpuTickInfoFileSet(path.c_str());
    }
};

// The head of a processor information file as the kernel writes it, fields lined up
// with tabs; "cpuid level" and "cpu family" begin with "cpu" as well.
std::string Head(const std::string& mhzLine) {
    return "processor\t: 0\n"
           "vendor_id\t: SomeVendor\n"
           "cpu family\t: 6\n"
           "cpuid level\t: 22\n"
           "model\t\t: 142\n"
           "model name\t: Some Processor @ 1.90GHz\n"
           "stepping\t: 10\n" +
           mhzLine +
           "cache size\t: 8192 KB\n"
           "flags\t\t: fpu vme de pse tsc msr pae\n";
}

std::string Lines(int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += "filler\t: " + std::to_string(i) + "\n";
    return s;
}

struct FileCase {
    const char* name;
    std::string text;
    int32_t result;
    uint32_t base;           // when result is 0
    const char* reportHead;  // start of the expected report format, or nullptr for none
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class CpuInfoFile : public InfoFileFixture, public ::testing::WithParamInterface<FileCase> {};

TEST_P(CpuInfoFile, MegahertzLineGivesTheBase) {
    const FileCase& c = GetParam();
    Write(c.text);
    uint32_t base = 0xABCD;
    UKO_ErrnoSet(0);
    EXPECT_EQ(OSAL_GetCpuTickBaseByFile(&base), c.result);
    if (c.result == 0) {
        EXPECT_EQ(base, c.base);
        EXPECT_TRUE(g_records.empty());
    } else if (c.reportHead == nullptr) {
        EXPECT_TRUE(g_records.empty());
    } else {
        ASSERT_EQ(g_records.size(), 1u);
        EXPECT_EQ(g_records[0].format.rfind(c.reportHead, 0), 0u) << g_records[0].format;
        EXPECT_EQ(UKO_ErrnoGet(), 0xFFFFFFFFu) << "reported as error -1";
    }
}

const std::string kLong = "flags\t\t: " + std::string(200 - 9, 'x');  // exactly 200 bytes

INSTANTIATE_TEST_SUITE_P(
    Cases, CpuInfoFile,
    ::testing::Values(
        FileCase{"whole", Head("cpu MHz\t\t: 2600.000\n"), 0, 26000000, nullptr},
        FileCase{"three digits", Head("cpu MHz\t\t: 2596.132\n"), 0, 25961320, nullptr},
        FileCase{"leading zero", Head("cpu MHz\t\t: 800.073\n"), 0, 8000730, nullptr},
        FileCase{"two digits", Head("cpu MHz\t\t: 2600.10\n"), 0, 26001000, nullptr},
        FileCase{"one digit", Head("cpu MHz\t\t: 1200.5\n"), 0, 12005000, nullptr},
        FileCase{"beyond a hertz", Head("cpu MHz\t\t: 1000.0000019\n"), 0, 10000000, nullptr},
        FileCase{"spaces", "cpu MHz : 2600.000\n", 0, 26000000, nullptr},
        FileCase{"above 4294 MHz", Head("cpu MHz\t\t: 5000.250\n"), 0, 50002500, nullptr},
        FileCase{"line 25", Lines(24) + "cpu MHz\t\t: 3000.000\n", 0, 30000000, nullptr},
        FileCase{"line 26", Lines(25) + "cpu MHz\t\t: 3000.000\n", -1, 0,
                 "[ZIRPA-%s]:Can not get cpu tick base info"},
        FileCase{"no such line", Head(""), -1, 0, "[ZIRPA-%s]:Read file %s error or no cpu"},
        FileCase{"empty file", "", -1, 0, "[ZIRPA-%s]:Read file %s error or no cpu"},
        FileCase{"no fraction piece", Head("cpu MHz\t\t: 2600\n"), -1, 0,
                 "[ZIRPA-%s]:Get file %s error."},
        FileCase{"no number", Head("cpu MHz\t\t:\n"), -1, 0, "[ZIRPA-%s]:Get file %s error."},
        FileCase{"too large", Head("cpu MHz\t\t: 999999.000\n"), -1, 0,
                 "[ZIRPA-%s]:Get file %s error."},
        FileCase{"bare cpu line", "processor\t: 0\ncpu\n" + Head("cpu MHz\t\t: 2600.000\n"), -1, 0,
                 nullptr},
        // The tail of an overlong line is not a line of its own.
        FileCase{"overlong line", kLong + "cpu MHz\t\t: 9999.000\n" + "cpu MHz\t\t: 2600.000\n", 0,
                 26000000, nullptr}),
    [](const ::testing::TestParamInfo<FileCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return n;
    });

TEST_F(InfoFileFixture, MissingFileAndNullOut) {
    ukoCpuTickInfoFileSet("/nonexistent/cpuinfo");
    uint32_t base = 0;
    EXPECT_EQ(OSAL_GetCpuTickBaseByFile(&base), -1);
    ASSERT_EQ(g_records.size(), 1u);
    EXPECT_EQ(g_records[0].format, "[ZIRPA-%s]:Open file %s fail.");
    EXPECT_EQ(OSAL_GetCpuTickBaseByFile(nullptr), -1);
}

TEST_F(InfoFileFixture, TheFileRateFollowsTheTickConfiguration) {
    Write(Head("cpu MHz\t\t: 2596.132\n"));
    ASSERT_EQ(ukoTickConfigSet(1000), 0u);
    uint32_t base = 0;
    EXPECT_EQ(OSAL_GetCpuTickBaseByFile(&base), 0);
    EXPECT_EQ(base, 2596132u) << "counter units per 1 ms tick";
    OS_TickConfigInit(0);
}

// With a usable file the base is found at once, without the one-second measurement.
TEST_F(InfoFileFixture, FindTakesTheFileFirst) {
    Write(Head("cpu MHz\t\t: 2596.132\n"));
    uint32_t base = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(OSAL_CpuTickBaseFind(&base), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(base, 25961320u);
    EXPECT_EQ(OSAL_CpuTickBaseFind(nullptr), 22u);
}

// ---- The measurement -----------------------------------------------------------------

// A counter that plays back a script of readings.
std::vector<uint64_t> g_script;
size_t g_next = 0;
uint64_t ScriptedCounter() { return g_script[g_next < g_script.size() ? g_next++ : g_script.size() - 1]; }

// The alarm arrives the moment it is asked for.
void ImmediateAlarm(unsigned int seconds) {
    if (seconds != 0) raise(SIGALRM);
}

TEST(Measure, ReadsTheCounterOverTheAlarmAndRoundsPerTick) {
    struct Case {
        uint64_t start;
        uint64_t delta;
        uint32_t base;
    };
    const Case cases[] = {
        {1000, 2600000049ULL, 26000000},  // remainder 49: down
        {1000, 2600000050ULL, 26000001},  // remainder 50: up
        // The difference passes 32 bits and the low word of the start wraps.
        {0x1FFFFFF00ULL, 5000000000ULL, 50000000},
        {0xFFFFFFFFFFFFFF00ULL, 1000000000ULL, 10000000},  // across 2^64
    };
    for (const Case& c : cases) {
        auto r = vt_test::RunInChild([&c] {
            SCOPED_TRACE(std::to_string(c.start) + " + " + std::to_string(c.delta));
            OS_TickConfigInit(0);
            g_script = {c.start, c.start + c.delta};
            g_next = 0;
            ukoCpuTickCounterSet(ScriptedCounter);
            ukoCpuTickAlarmSet(ImmediateAlarm);
            uint32_t base = 0;
            ASSERT_EQ(OS_CpuTickBaseMeasure(&base), 0u);
            EXPECT_EQ(g_next, 2u) << "one reading at each end of the second";
            EXPECT_EQ(base, c.base);
        });
        EXPECT_TRUE(vt_test::ExitedWith(r)) << c.start << " + " << c.delta;
    }
}

void SentinelHandler(int) {}

// Asks for SIGALRM 50 ms from now instead of a second.
void ShortAlarm(unsigned int seconds) {
    struct itimerval timer {};
    timer.it_value.tv_usec = seconds != 0 ? 50000 : 0;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

// The flag of an earlier measurement must not end the next one at once.
TEST(Measure, SecondMeasurementWaitsForItsOwnAlarm) {
    auto r = vt_test::RunInChild([] {
        OS_TickConfigInit(0);
        ukoCpuTickAlarmSet(ImmediateAlarm);
        uint32_t base = 0;
        ASSERT_EQ(OS_CpuTickBaseMeasure(&base), 0u);
        ukoCpuTickAlarmSet(ShortAlarm);
        ASSERT_EQ(OS_CpuTickBaseMeasure(&base), 0u);
        // 50 ms of nanoseconds per 10 ms tick: about 500,000.
        EXPECT_GT(base, 400000u);
        EXPECT_LT(base, 1000000u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// The one real second: the base matches the counter's rate (nanoseconds, so 10,000,000
// per 10 ms tick), and the caller's SIGALRM action is back afterwards. The measurement
// takes the alarm's second to be exact; on a busy machine the alarm is handled late and
// the counted span grows with it. So the base may exceed 10,000,000 by 1% of the span
// the call really took, never by more, and never fall below 1% under it: the alarm
// cannot come early.
TEST(Measure, RealSecondFindsTheCounterRate) {
    auto r = vt_test::RunInChild([] {
        OS_TickConfigInit(0);
        struct sigaction sentinel {};
        sentinel.sa_handler = SentinelHandler;
        sigemptyset(&sentinel.sa_mask);
        sigaction(SIGALRM, &sentinel, nullptr);
        uint32_t base = 0;
        auto before = std::chrono::steady_clock::now();
        ASSERT_EQ(OS_CpuTickBaseMeasure(&base), 0u);
        auto took = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - before)
                        .count();
        uint64_t highest = std::max<uint64_t>(10000000, static_cast<uint64_t>(took) / 100);
        EXPECT_GE(base, 9900000u);
        EXPECT_LE(base, highest + highest / 100);
        struct sigaction now {};
        sigaction(SIGALRM, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SentinelHandler) << "the caller's action is back";
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// ---- The base and its hook -------------------------------------------------------------

TEST(BaseHook, TheMonotonicBaseIsInstalledFromTheStart) {
    OS_TickConfigInit(0);
    EXPECT_EQ(OSAL_CpuTickBaseHookGet(), OSAL_CpuTickMonotonicBase);
    EXPECT_EQ(OSAL_CpuTickMonotonicBase(), 10000000u);
    ASSERT_EQ(ukoTickConfigSet(1000), 0u);
    EXPECT_EQ(OSAL_CpuTickMonotonicBase(), 1000000u);
    OS_TickConfigInit(0);
}

TEST(BaseSet, RefusesTheTwoReservedValues) {
    ASSERT_EQ(UKO_CpuTickInit(0), 0u);
    ASSERT_EQ(OSAL_CpuTickBaseSet(26000000), 0u);
    g_records.clear();
    ukoErrorRecordObserverSet(Observe);
    for (uint32_t bad : {0u, 0xFFFFFFFFu}) {
        EXPECT_EQ(OSAL_CpuTickBaseSet(bad), 22u) << bad;
        EXPECT_EQ(UKO_CpuTickBaseSet(bad), 22u) << bad;
        uint32_t base = 0;
        ASSERT_EQ(UKO_CpuTickBaseGet(&base), 0u);
        EXPECT_EQ(base, 26000000u) << "left unchanged";
    }
    ukoErrorRecordObserverSet(nullptr);
    ASSERT_EQ(g_records.size(), 4u);
    EXPECT_EQ(g_records[0].module, 0x212F);
    EXPECT_EQ(g_records[0].format,
              "[ZIRPA-%s]:The Param uiCpuTickBase(%u) is out of range (0, 0xFFFFFFFF).");
    EXPECT_EQ(UKO_CpuTickBaseSet(1), 0u);
    uint32_t base = 0;
    ASSERT_EQ(UKO_CpuTickBaseGet(&base), 0u);
    EXPECT_EQ(base, 1u);
    ASSERT_EQ(UKO_CpuTickInit(0), 0u);
}

}  // namespace
