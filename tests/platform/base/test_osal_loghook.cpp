#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "ddm_log.h"
#include "osal_lock.h"
#include "uko_errcode.h"

namespace {

// What a log hook was handed, with the message expanded by the C library.
struct HookCall {
    uint32_t level;
    uint16_t code;
    uint16_t module;
    std::string source;
    uint32_t line;
    std::string message;
};
std::vector<HookCall> g_hookCalls;

void CapturingHook(uint32_t level, uint16_t code, uint16_t module, const char* source,
                   uint32_t line, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    g_hookCalls.push_back({level, code, module, source, line, text});
}

struct LogHookFixture : ::testing::Test {
    void SetUp() override { g_hookCalls.clear(); }
    void TearDown() override { OSAL_LogHookSet(nullptr); }
};

TEST_F(LogHookFixture, HookReceivesTheFullCallForm) {
    EXPECT_EQ(UKO_LogHookGet(), OSAL_LogHookDefault);
    EXPECT_EQ(OSAL_LogHookSet(CapturingHook), 0u);
    const uint32_t line = __LINE__ + 1;
    UKO_LOG_HOOK_CALL(UKO_LOG_LEVEL_WARN, 0xFFFF, 0xFFFF, "[ZIRPA-%s]:Inval param sem(0x%x).", "fn", 0xAB);
    ASSERT_EQ(g_hookCalls.size(), 1u);
    const HookCall& c = g_hookCalls[0];
    EXPECT_EQ(c.level, 1u);
    EXPECT_EQ(c.code, 0xFFFF);
    EXPECT_EQ(c.module, 0xFFFF);
    EXPECT_EQ(c.source, __FILE__);
    EXPECT_EQ(c.line, line);
    EXPECT_EQ(c.message, "[ZIRPA-fn]:Inval param sem(0xab).");
    EXPECT_EQ(OSAL_LogHookSet(nullptr), 0u);
    EXPECT_EQ(UKO_LogHookGet(), OSAL_LogHookDefault) << "NULL puts the default back";
}

TEST_F(LogHookFixture, FailureReportSplitsTheCodeAndSetsErrno) {
    OSAL_LogHookSet(CapturingHook);
    struct Case {
        uint32_t code;
        uint16_t module;
        uint16_t own;
    } cases[] = {
        {22, UKO_MID_HANDLE, 22},
        {0x210213E8u, UKO_MID_HANDLE, 0x13E8},
        {0x20011019u, 0x2001, 0x1019},
        {0xFFFFFFFFu, 0xFFFF, 0xFFFF},
    };
    for (const Case& c : cases) {
        g_hookCalls.clear();
        EXPECT_EQ(UKO_LOG_HOOK_REPORT(c.code, UKO_MID_HANDLE, "[ZIRPA-%s]:Handle name(%s) has been registered.",
                                      "UKO_HandleInitialize", "x"),
                  c.code);
        EXPECT_EQ(UKO_ErrnoGet(), c.code);
        ASSERT_EQ(g_hookCalls.size(), 1u);
        EXPECT_EQ(g_hookCalls[0].level, 2u);
        EXPECT_EQ(g_hookCalls[0].module, c.module);
        EXPECT_EQ(g_hookCalls[0].code, c.own);
        EXPECT_EQ(g_hookCalls[0].message, "[ZIRPA-UKO_HandleInitialize]:Handle name(x) has been registered.");
    }
}

TEST_F(LogHookFixture, SecondHookIsReplaceable) {
    EXPECT_EQ(UKO_LogHook2Get(), OSAL_LogHook2Default);
    static int calls = 0;
    static uint32_t length = 0;
    auto hook = [](uint32_t, uint16_t, uint16_t, const char*, uint32_t, const void*, uint32_t len) {
        ++calls;
        length = len;
    };
    EXPECT_EQ(OSAL_LogHook2Set(hook), 0u);
    const unsigned char record[32] = {1};
    UKO_LogHook2Get()(2, 1, 0x2118, __FILE__, __LINE__, record, sizeof(record));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(OSAL_LogHook2Set(nullptr), 0u);
    EXPECT_EQ(UKO_LogHook2Get(), OSAL_LogHook2Default);
    OSAL_LogHook2Default(2, 1, 0x2118, __FILE__, __LINE__, record, sizeof(record));  // no effect
}

// The default hook's writes, captured through its writer seam.
struct LogLine {
    uint32_t module;
    uint32_t level;
    std::string format;
    std::string text;
};
std::vector<LogLine> g_lines;

uint32_t CapturingWriter(uint32_t module, uint32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const char* message = va_arg(args, const char*);
    va_end(args);
    g_lines.push_back({module, level, format, message});
    return 0;
}

struct DefaultHookFixture : ::testing::Test {
    void SetUp() override {
        g_lines.clear();
        ukoLogHookWriterSet(CapturingWriter);
    }
    void TearDown() override { ukoLogHookWriterSet(nullptr); }
};

TEST_F(DefaultHookFixture, WritesPlatformLinesAtTheShiftedLevel) {
    for (uint32_t level = 0; level <= 3; ++level) {
        g_lines.clear();
        OSAL_LogHookDefault(level, 0x13E8, 0x2102, "src.cpp", 12, "[ZIRPA-%s]:handle(%d) is not init.",
                            "UKO_HandleNameSet", 5);
        ASSERT_EQ(g_lines.size(), 1u) << level;
        EXPECT_EQ(g_lines[0].module, 4u);
        EXPECT_EQ(g_lines[0].level, level + 1);
        EXPECT_EQ(g_lines[0].format, "[Zirpa info]%s");
        EXPECT_EQ(g_lines[0].text, "[ZIRPA-UKO_HandleNameSet]:handle(5) is not init.");
    }
    // Platform level 3 arrives as log level 4, which the log refuses to write.
    EXPECT_EQ(DDM_LogWrite(4, 4, "[Zirpa info]%s", "x"), 1u);
}

TEST_F(DefaultHookFixture, DropsWhatItCannotUse) {
    OSAL_LogHookDefault(4, 0, 0, "src.cpp", 1, "level %d", 4);
    OSAL_LogHookDefault(0xFFFFFFFFu, 0, 0, "src.cpp", 1, "level max");
    OSAL_LogHookDefault(0, 0, 0, "src.cpp", 1, nullptr);
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(DefaultHookFixture, LongMessageIsCutAt1023Characters) {
    const std::string longText(3000, 'x');
    OSAL_LogHookDefault(2, 0, 0, "src.cpp", 1, "%s", longText.c_str());
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].text, std::string(1023, 'x'));

    g_lines.clear();
    const std::string fits(1023, 'y');
    OSAL_LogHookDefault(2, 0, 0, "src.cpp", 1, "%s", fits.c_str());
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].text, fits);
}

}  // namespace
