#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "uko_secfunc.h"
#include "vt_test/child_process.h"

namespace {

struct Report {
    void* entry;
    uint32_t code;
    std::string text;
    int32_t length;
    std::thread::id thread;
};

std::vector<Report> g_reports;

void CapturingHook(void* pfnEntry, uint32_t uiCode, const char* pcReport, int32_t iLen) {
    g_reports.push_back({pfnEntry, uiCode, pcReport, iLen, std::this_thread::get_id()});
}

template <typename Function>
void* Entry(Function* function) {
    return reinterpret_cast<void*>(function);
}

// The expected report text, built with the C library's formatter from the texts the
// reports must carry.
std::string Expected(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

int CallVsnprintf(char* dest, size_t destMax, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = UKO_vsnprintf_s(dest, destMax, count, format, args);
    va_end(args);
    return result;
}

int CallVsprintf(char* dest, size_t destMax, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = UKO_vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return result;
}

struct HookFixture : ::testing::Test {
    void SetUp() override {
        g_reports.clear();
        ASSERT_EQ(UKO_SecFuncErrHookSet(CapturingHook), 0u);
    }
    void TearDown() override { UKO_SecFuncErrHookSet(nullptr); }
};

struct FailureCase {
    const char* name;
    std::function<int()> call;
    int result;
    void* entry;
    uint32_t code;
    std::function<std::string()> text;
};

TEST_F(HookFixture, EachFailedWrapperDeliversItsExactReport) {
    char dest[8];
    const char source[] = "abcdefgh";
    int value = 0;
    const std::vector<FailureCase> cases = {
        {"memcpy_s count over destMax", [&] { return UKO_memcpy_s(dest, 4, source, 8); }, 162,
         Entry(&UKO_memcpy_s), 162,
         [&] {
             return Expected("[Zirpa-UKO_memcpy_s]: input invalid: dest: %p, destMax: 4, src: %p, count: 8!\n",
                             static_cast<void*>(dest), static_cast<const void*>(source));
         }},
        {"memmove_s NULL source", [&] { return UKO_memmove_s(dest, 4, nullptr, 2); }, 150,
         Entry(&UKO_memmove_s), 150,
         [&] {
             return Expected(
                 "[Zirpa-UKO_memmove_s]: input invalid: dest: %p, destMax: 4, src: (nil), count: 2!\n",
                 static_cast<void*>(dest));
         }},
        {"memset_s NULL destination", [&] { return UKO_memset_s(nullptr, 4, 'A', 2); }, 22,
         Entry(&UKO_memset_s), 22,
         [&] {
             return std::string(
                 "[Zirpa-UKO_memset_s]: input invalid: dest: (nil), destMax: 4, c: 65, count: 2!\n");
         }},
        {"memset_s count over destMax", [&] { return UKO_memset_s(dest, 4, -1, 9); }, 162,
         Entry(&UKO_memset_s), 162,
         [&] {
             return Expected("[Zirpa-UKO_memset_s]: input invalid: dest: %p, destMax: 4, c: -1, count: 9!\n",
                             static_cast<void*>(dest));
         }},
        {"strcpy_s too long", [&] { return UKO_strcpy_s(dest, 4, "abcd"); }, 162, Entry(&UKO_strcpy_s), 162,
         [&] {
             return Expected("[Zirpa-UKO_strcpy_s]: input invalid: strDest: %p, destMax: 4, strSrc: %p!\n",
                             static_cast<void*>(dest), static_cast<const void*>("abcd"));
         }},
        {"strcat_s destMax 0", [&] { return UKO_strcat_s(dest, 0, source); }, 34, Entry(&UKO_strcat_s), 34,
         [&] {
             return Expected("[Zirpa-UKO_strcat_s]: input invalid: strDest: %p, destMax: 0, strSrc: %p!\n",
                             static_cast<void*>(dest), static_cast<const void*>(source));
         }},
        {"strncpy_s too long", [&] { return UKO_strncpy_s(dest, 3, source, 3); }, 162, Entry(&UKO_strncpy_s),
         162,
         [&] {
             return Expected(
                 "[Zirpa-UKO_strncpy_s]: input invalid: strDest: %p, destMax: 3, strSrc: %p, count: 3!\n",
                 static_cast<void*>(dest), static_cast<const void*>(source));
         }},
        {"snprintf_s does not fit", [&] { return UKO_snprintf_s(dest, 4, 8, "%s", source); }, -1,
         Entry(&UKO_snprintf_s), 0xFFFFFFFF,
         [&] {
             return Expected("[Zirpa-UKO_snprintf_s]: input invalid: strDest: %p, destMax: 4, count: 8!\n",
                             static_cast<void*>(dest));
         }},
        {"vsnprintf_s does not fit", [&] { return CallVsnprintf(dest, 4, 8, "%s", source); }, -1,
         Entry(&UKO_vsnprintf_s), 0xFFFFFFFF,
         [&] {
             return Expected("[Zirpa-UKO_vsnprintf_s]: input invalid: strDest: %p, destMax: 4, count: 8!\n",
                             static_cast<void*>(dest));
         }},
        {"sprintf_s does not fit", [&] { return UKO_sprintf_s(dest, 4, "%s", "abcd"); }, -1,
         Entry(&UKO_sprintf_s), 0xFFFFFFFF,
         [&] {
             return Expected("[Zirpa-UKO_sprintf_s]: input invalid: strDest: %p, destMax: 4!\n",
                             static_cast<void*>(dest));
         }},
        {"vsprintf_s NULL format", [&] { return CallVsprintf(dest, 8, nullptr); }, -1, Entry(&UKO_vsprintf_s),
         0xFFFFFFFF,
         [&] {
             return Expected("[Zirpa-UKO_vsprintf_s]: input invalid: strDest: %p, destMax: 8!\n",
                             static_cast<void*>(dest));
         }},
        {"sscanf_s empty text", [&] { return UKO_sscanf_s("", "%d", &value); }, -1, Entry(&UKO_sscanf_s),
         0xFFFFFFFF, [] { return std::string("[Zirpa-UKO_sscanf_s]: input invalid!\n"); }},
        {"sscanf_s NULL destination", [&] { return UKO_sscanf_s("5", "%d", static_cast<int*>(nullptr)); }, -1,
         Entry(&UKO_sscanf_s), 0xFFFFFFFF, [] { return std::string("[Zirpa-UKO_sscanf_s]: input invalid!\n"); }},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_reports.clear();
        std::memset(dest, 'Z', sizeof(dest));
        EXPECT_EQ(c.call(), c.result);
        ASSERT_EQ(g_reports.size(), 1u);
        EXPECT_EQ(g_reports[0].entry, c.entry);
        EXPECT_EQ(g_reports[0].code, c.code);
        const std::string text = c.text();
        EXPECT_EQ(g_reports[0].text, text);
        EXPECT_EQ(g_reports[0].length, static_cast<int32_t>(text.size()));
    }
}

TEST_F(HookFixture, SuccessfulCallsAndTokenEndsAreNotReported) {
    char dest[16];
    EXPECT_EQ(UKO_memset_s(dest, sizeof(dest), 'x', 4), 0);
    EXPECT_EQ(UKO_memcpy_s(dest, sizeof(dest), "abc", 4), 0);
    EXPECT_EQ(UKO_memmove_s(dest + 1, sizeof(dest) - 1, dest, 4), 0);
    EXPECT_EQ(UKO_strcpy_s(dest, sizeof(dest), "abc"), 0);
    EXPECT_EQ(UKO_strcat_s(dest, sizeof(dest), "def"), 0);
    EXPECT_EQ(UKO_strncpy_s(dest, sizeof(dest), "ghijk", 2), 0);
    EXPECT_EQ(UKO_sprintf_s(dest, sizeof(dest), "%d-%s", 42, "x"), 4);
    EXPECT_STREQ(dest, "42-x");
    EXPECT_EQ(UKO_snprintf_s(dest, sizeof(dest), 5, "%s", "abc"), 3);
    int value = 0;
    // A scan that stops early is not a failure: only -1 is reported.
    EXPECT_EQ(UKO_sscanf_s("abc", "%d", &value), 0);
    EXPECT_EQ(UKO_sscanf_s("Content-Length: 99", "Content-Length: %d", &value), 1);
    EXPECT_EQ(value, 99);

    // strtok_s never reports, not even for arguments it refuses.
    char text[] = ",,a,,b,";
    char* context = nullptr;
    EXPECT_STREQ(UKO_strtok_s(text, ",", &context), "a");
    EXPECT_STREQ(UKO_strtok_s(nullptr, ",", &context), "b");
    EXPECT_EQ(UKO_strtok_s(nullptr, ",", &context), nullptr);
    EXPECT_EQ(UKO_strtok_s(text, nullptr, &context), nullptr);
    EXPECT_EQ(UKO_strtok_s(text, ",", nullptr), nullptr);
    char* emptyContext = nullptr;
    EXPECT_EQ(UKO_strtok_s(nullptr, ",", &emptyContext), nullptr);

    EXPECT_TRUE(g_reports.empty());
}

TEST_F(HookFixture, ResultsAndDestinationsMatchTheBoundedFunctions) {
    // The same calls straight and through the wrappers leave the same results and bytes.
    struct Call {
        const char* name;
        std::function<int(char*)> straight;
        std::function<int(char*)> wrapped;
    };
    const std::vector<Call> calls = {
        {"memcpy_s overlap", [](char* d) { return memcpy_s(d, 8, d + 2, 4); },
         [](char* d) { return UKO_memcpy_s(d, 8, d + 2, 4); }},
        {"memset_s too long", [](char* d) { return memset_s(d, 6, 'q', 9); },
         [](char* d) { return UKO_memset_s(d, 6, 'q', 9); }},
        {"strcat_s unterminated", [](char* d) { return strcat_s(d, 4, "x"); },
         [](char* d) { return UKO_strcat_s(d, 4, "x"); }},
        {"strncpy_s count", [](char* d) { return strncpy_s(d, 8, "abcdef", 3); },
         [](char* d) { return UKO_strncpy_s(d, 8, "abcdef", 3); }},
        {"snprintf_s cut by count",
         [](char* d) {
             return [](char* dd, ...) {
                 va_list a;
                 va_start(a, dd);
                 int r = vsnprintf_s(dd, 8, 3, "%s", a);
                 va_end(a);
                 return r;
             }(d, "abcdef");
         },
         [](char* d) { return UKO_snprintf_s(d, 8, 3, "%s", "abcdef"); }},
        {"sscanf_s", [](char* d) { return sscanf_s("ab cd", "%s", d, 8u); },
         [](char* d) { return UKO_sscanf_s("ab cd", "%s", d, 8u); }},
    };
    for (const Call& c : calls) {
        SCOPED_TRACE(c.name);
        char straight[8];
        char wrapped[8];
        std::memset(straight, 'Z', sizeof(straight));
        std::memset(wrapped, 'Z', sizeof(wrapped));
        EXPECT_EQ(c.wrapped(wrapped), c.straight(straight));
        EXPECT_EQ(std::memcmp(straight, wrapped, sizeof(straight)), 0);
    }
}

TEST_F(HookFixture, TooLongReportIsReplacedByTheFormattersOwnReport) {
    // 511 characters still fit the report buffer with its terminator.
    const std::string fits(511, 'r');
    ukoSecFuncErrReport(Entry(&UKO_memcpy_s), 162, "%s", fits.c_str());
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0].entry, Entry(&UKO_memcpy_s));
    EXPECT_EQ(g_reports[0].text, fits);
    EXPECT_EQ(g_reports[0].length, 511);

    g_reports.clear();
    const std::string tooLong(512, 'r');
    ukoSecFuncErrReport(Entry(&UKO_memcpy_s), 162, "%s", tooLong.c_str());
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0].entry, Entry(&UKO_vsnprintf_s));
    EXPECT_EQ(g_reports[0].code, 0xFFFFFFFFu);
    // The buffer's address is the report's own stack buffer: only its form is known.
    const std::string head = "[Zirpa-UKO_vsnprintf_s]: input invalid: strDest: 0x";
    const std::string tail = ", destMax: 512, count: 512!\n";
    const std::string& text = g_reports[0].text;
    ASSERT_GT(text.size(), head.size() + tail.size()) << text;
    EXPECT_EQ(text.compare(0, head.size(), head), 0) << text;
    EXPECT_EQ(text.compare(text.size() - tail.size(), tail.size(), tail), 0) << text;
    const std::string address = text.substr(head.size(), text.size() - head.size() - tail.size());
    EXPECT_EQ(address.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
    EXPECT_EQ(g_reports[0].length, static_cast<int32_t>(text.size()));
}

TEST_F(HookFixture, HookRunsOnTheFailingThread) {
    std::thread::id failing;
    std::thread([&] {
        failing = std::this_thread::get_id();
        char dest[2];
        EXPECT_EQ(UKO_strcpy_s(dest, sizeof(dest), "long"), 162);
    }).join();
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0].thread, failing);
}

TEST(SecFuncHook, ReplacingAndRemovingTheHook) {
    g_reports.clear();
    static int otherCalls = 0;
    otherCalls = 0;
    UKO_SecFuncErrHookSet(CapturingHook);
    EXPECT_EQ(UKO_SecFuncErrHookSet([](void*, uint32_t, const char*, int32_t) { ++otherCalls; }), 0u);
    char dest[2];
    EXPECT_EQ(UKO_strcpy_s(dest, sizeof(dest), "long"), 162);
    EXPECT_EQ(otherCalls, 1);
    EXPECT_TRUE(g_reports.empty());

    EXPECT_EQ(UKO_SecFuncErrHookSet(nullptr), 0u);
    EXPECT_EQ(UKO_strcpy_s(dest, sizeof(dest), "long"), 162);
    EXPECT_EQ(dest[0], '\0');
    EXPECT_EQ(otherCalls, 1);
}

// A text whose first byte lies on an inaccessible page: formatting it with "%s" faults,
// so a call that survives it cannot have formatted it.
const char* UnreadableText() {
    const long page = sysconf(_SC_PAGESIZE);
    void* block = mmap(nullptr, static_cast<size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : static_cast<const char*>(block);
}

TEST(SecFuncHook, WithoutAHookNothingIsFormatted) {
    auto report = [](bool withHook) {
        return [withHook] {
            const char* unreadable = UnreadableText();
            ASSERT_NE(unreadable, nullptr);
            // The expected fault's sanitizer report would only clutter the test log.
            const int quiet = open("/dev/null", O_WRONLY);
            if (quiet >= 0) {
                dup2(quiet, STDERR_FILENO);
            }
            UKO_SecFuncErrHookSet(withHook ? CapturingHook : nullptr);
            ukoSecFuncErrReport(Entry(&UKO_memcpy_s), 162, "[Zirpa-%s]: %s\n", "UKO_memcpy_s", unreadable);
        };
    };
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(report(false))));
    // The same report with a hook installed does reach the unreadable text.
    EXPECT_FALSE(vt_test::ExitedWith(vt_test::RunInChild(report(true))))
        << "formatting the unreadable text should have ended the child";
}

TEST(ErrorRecordEntries, AcceptEverythingAndFormatNothing) {
    EXPECT_EQ(UKO_CpuTickCountUp(), 1u);

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    UKO_ErrorRecord(2, 0x16, 0x1001, "file.cpp", 77, "[ZIRPA-%s]:SemName(%s), the Param pSem is null.",
                    "UKO_SemaMCreate", "SEM1");
    UKO_ErrorRecord(0, 0, 0, nullptr, 0, nullptr);
    EXPECT_EQ(UKO_ShowPrint(0, "%s %d\r\n", "line", 5), 0u);
    EXPECT_EQ(UKO_ShowPrint(0xFFFFFFFF, nullptr), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // Neither entry looks at its values: an unreadable text passes through both.
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild([] {
        const char* unreadable = UnreadableText();
        ASSERT_NE(unreadable, nullptr);
        UKO_ErrorRecord(2, 1, 2, "f", 3, "[ZIRPA-%s]:%s", "fn", unreadable);
        EXPECT_EQ(UKO_ShowPrint(1, "%s", unreadable), 0u);
    })));
}

TEST(ErrorRecordEntries, ObserverSeesTheCallForm) {
    struct Seen {
        uint32_t level;
        uint16_t code;
        uint16_t module;
        std::string file;
        uint16_t line;
        std::string format;
    };
    static std::vector<Seen> seen;
    seen.clear();
    ukoErrorRecordObserverSet([](uint32_t level, uint16_t code, uint16_t module, const char* file, uint16_t line,
                                 const char* format) { seen.push_back({level, code, module, file, line, format}); });
    UKO_ErrorRecord(2, 0x16, 0x1001, "sema.cpp", 120, "[ZIRPA-%s]:Inval param sem(0x%p).", "OS_SemP", nullptr);
    ukoErrorRecordObserverSet(nullptr);
    UKO_ErrorRecord(2, 1, 1, "after.cpp", 1, "ignored");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].level, 2u);
    EXPECT_EQ(seen[0].code, 0x16);
    EXPECT_EQ(seen[0].module, 0x1001);
    EXPECT_EQ(seen[0].file, "sema.cpp");
    EXPECT_EQ(seen[0].line, 120);
    EXPECT_EQ(seen[0].format, "[ZIRPA-%s]:Inval param sem(0x%p).");
}

TEST(ErrorRecordEntries, ShowObserverGetsEachLineExpanded) {
    static std::vector<std::pair<uint32_t, std::string>> lines;
    lines.clear();
    ukoShowPrintObserverSet([](uint32_t target, const char* line) { lines.emplace_back(target, line); });
    EXPECT_EQ(UKO_ShowPrint(7, "\r\n%-6s|%3d%%|%#-8s|", "name", 42, "1,000"), 0u);
    EXPECT_EQ(UKO_ShowPrint(8, nullptr), 0u);
    // A line longer than the observer's buffer arrives cut to it, never overrun.
    std::string longText(3000, 'x');
    EXPECT_EQ(UKO_ShowPrint(9, "%s", longText.c_str()), 0u);
    ukoShowPrintObserverSet(nullptr);
    EXPECT_EQ(UKO_ShowPrint(10, "after"), 0u);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, 7u);
    EXPECT_EQ(lines[0].second, "\r\nname  | 42%|1,000   |");
    EXPECT_EQ(lines[1].first, 9u);
    EXPECT_EQ(lines[1].second, std::string(UKO_SHOW_PRINT_LINE_MAX - 1, 'x'));
}

}  // namespace
