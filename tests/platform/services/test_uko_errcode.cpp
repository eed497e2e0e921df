// Error codes: the form that carries a module identifier, the one module table, and the
// report that hands a code to errno and to the error record.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "osal_lock.h"
#include "uko_errcode.h"
#include "uko_errreport.h"
#include "uko_secfunc.h"

namespace {

TEST(UkoErrCode, FormAndSplit) {
    EXPECT_EQ(UKO_ErrCodeMake(UKO_MID_TASK, 0x1019), 0x20011019u);
    EXPECT_EQ(UKO_ErrCodeMake(UKO_MID_HANDLE, 0x13E8), 0x210213E8u);

    UKO_ERR_SPLIT s = UKO_ErrCodeSplit(22, UKO_MID_TASK);
    EXPECT_EQ(s.usModuleId, 0x2001);
    EXPECT_EQ(s.usOwnCode, 22);
    s = UKO_ErrCodeSplit(0x20011019u, UKO_MID_QUEUE);
    EXPECT_EQ(s.usModuleId, 0x2001);
    EXPECT_EQ(s.usOwnCode, 0x1019);
}

TEST(UkoErrCode, ModuleTable) {
    struct Row {
        uint16_t id;
        const char* source;
    };
    const Row rows[] = {{0x2001, "uko_task"},      {0x2002, "v_sm"},
                        {0x2005, "uko_queue"},     {0x2006, "uko_reltmrknl"},
                        {0x2020, "os_callstackbase"}, {0x203B, "uko_cputick"},
                        {0x203C, "uko_systime"},   {0x209D, "jqr_mem"},
                        {0x2101, "os_sema"},       {0x2102, "uko_handle"},
                        {0x210C, "v_dlmem"},       {0x2118, "uko_mempt"},
                        {0x211C, "uko_rescb"},     {0x211F, "uko_tick"},
                        {0x2125, "jqr_timer"},     {0x212F, "osal_cputick"},
                        {0x2198, "v_task"}};
    for (const Row& r : rows) {
        ASSERT_NE(UKO_ModuleSourceName(r.id), nullptr) << std::hex << r.id;
        EXPECT_STREQ(UKO_ModuleSourceName(r.id), r.source);
    }
    EXPECT_EQ(UKO_ModuleSourceName(0x1234), nullptr);
}

// The failure report: errno gets the full code, the record gets module and own code.
struct Recorded {
    int calls = 0;
    uint32_t level = 0;
    uint16_t code = 0;
    uint16_t module = 0;
    std::string format;
} g_recorded;

void Observe(uint32_t level, uint16_t code, uint16_t module, const char*, uint16_t,
             const char* format) {
    ++g_recorded.calls;
    g_recorded.level = level;
    g_recorded.code = code;
    g_recorded.module = module;
    g_recorded.format = format != nullptr ? format : "";
}

TEST(UkoErrReport, FourStepReport) {
    ukoErrorRecordObserverSet(Observe);
    struct Case {
        UKO_ERRCODE code;
        uint16_t reporter;
        uint16_t module;
        uint16_t own;
    } cases[] = {
        {22, UKO_MID_TASK, 0x2001, 22},
        {0x20011019u, UKO_MID_TASK, 0x2001, 0x1019},
        {0x210213E8u, UKO_MID_QUEUE, 0x2102, 0x13E8},
    };
    for (const Case& c : cases) {
        g_recorded = Recorded{};
        UKO_ERRCODE r = UKO_ERR_REPORT(c.code, c.reporter, "[ZIRPA-%s]:The TaskName(%s) is repeated.",
                                       "UKO_TaskCreate", "TEST");
        EXPECT_EQ(r, c.code);
        EXPECT_EQ(UKO_ErrnoGet(), c.code);
        EXPECT_EQ(g_recorded.calls, 1);
        EXPECT_EQ(g_recorded.level, 2u);
        EXPECT_EQ(g_recorded.module, c.module);
        EXPECT_EQ(g_recorded.code, c.own);
        EXPECT_EQ(g_recorded.format, "[ZIRPA-%s]:The TaskName(%s) is repeated.");
    }
    ukoErrorRecordObserverSet(nullptr);
}

}  // namespace
