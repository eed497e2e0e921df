// Start-up helpers: the log level from the configuration file and the log entry of the
// Qt side.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "ddm_log.h"
#include "ui_startup.h"
#include "ui_test/ui_sim.h"
#include "vt_test/temp_env.h"

namespace {

class UiStartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        env_ = std::make_unique<vt_test::TempEnv>();
    }
    std::unique_ptr<vt_test::TempEnv> env_;
};

TEST_F(UiStartupTest, LogLevelComesFromTheGlobalSection) {
    const struct {
        const char* text;  // nullptr: no file
        uint32_t rc;
        int32_t level;     // with rc 0
    } cases[] = {
        {"[GLOBAL]\nClientLogLevel = 3\n", 0, 3},
        {"[GLOBAL]\r\nClientLogLevel=0\r\n", 0, 0},
        {"[GLOBAL]\nClientLogLevel = 7\n", 0, 7},  // out of range: the caller decides
        {"[GLOBAL]\nOther = 3\n", 0, 1},
        {"ClientLogLevel = 3\n[GLOBAL]\n", 0, 1},
        {nullptr, 1, -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "no file");
        const std::string path = env_->Tmp() + "/" + UI_SYSCONFIG_FILE;
        std::remove(path.c_str());
        if (c.text != nullptr) {
            std::ofstream(path, std::ios::binary) << c.text;
        }
        int32_t level = -5;
        EXPECT_EQ(UI_LogLevel_Read(path.c_str(), &level), c.rc);
        EXPECT_EQ(level, c.rc == 0 ? c.level : -5);
    }
    const size_t before = ui_test::LogCount("[Input NULL Pointer][Line :380]");
    int32_t level = 0;
    EXPECT_EQ(UI_LogLevel_Read(nullptr, &level), 1u);
    EXPECT_EQ(UI_LogLevel_Read("x", nullptr), 1u);
    EXPECT_EQ(ui_test::LogCount("[Input NULL Pointer][Line :380]"), before + 2);
}

TEST_F(UiStartupTest, QtSideLinesCarryTheTag) {
    EXPECT_EQ(UI_Log(0, DDM_LOG_WARN, "[Main ui][text with %s in it]"), 0u);
    EXPECT_EQ(ui_test::LogCount("[65535][Main ui][text with %s in it]"), 1u);
    EXPECT_EQ(UI_Log(0, DDM_LOG_WARN, nullptr), 0u);
}

}  // namespace
