// Where the front end runs: the account name in its fixed field, the install folder
// from the running program's location, and the folder derived from it.

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui_env.h"
#include "ui_env_inner.h"
#include "ui_test/ui_sim.h"

#ifndef UI_TEST_BIN_DIR
#error "UI_TEST_BIN_DIR must name the folder the test program is built in"
#endif

namespace {

std::string g_fakeName;

uint32_t FakeLookup(uid_t, char* name, size_t size) {
    if (g_fakeName == "<none>") return 1;
    std::strncpy(name, g_fakeName.c_str(), size - 1);
    name[size - 1] = '\0';
    return 0;
}

class UiEnvTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
    void TearDown() override {
        uiUserNameLookupSet(nullptr);
        uiInstallPathSet(nullptr);
    }
};

// The field holds up to 32 bytes of the name; only a shorter name has its terminator,
// and nothing reads or writes beyond the field.
TEST_F(UiEnvTest, AccountNameFillsItsFieldAtMost) {
    const struct {
        std::string name;
        uint32_t rc;
        std::string field;  // the 32 bytes
    } cases[] = {
        {"alice", 0, "alice" + std::string(27, '\0')},
        {std::string(31, 'n'), 0, std::string(31, 'n') + '\0'},
        {std::string(32, 'm'), 0, std::string(32, 'm')},
        {std::string(40, 'l'), 0, std::string(32, 'l')},
        {"<none>", 1, std::string(32, '\0')},
    };
    uiUserNameLookupSet(FakeLookup);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_fakeName = c.name;
        char buf[40];
        std::memset(buf, 0x7E, sizeof(buf));
        EXPECT_EQ(UI_LoginUser_Get(buf), c.rc);
        EXPECT_EQ(std::string(buf, UI_LOGIN_USER_SIZE), c.field);
        EXPECT_EQ(std::string(buf + 32, 8), std::string(8, '\x7E'));
        if (c.rc == 0) {
            // The log shows the name as the field holds it, and no byte past it.
            EXPECT_EQ(ui_test::LogCount("[login user is " + c.field.substr(0, c.field.find('\0')) + "]"),
                      1u)
                << "each name is logged once, cut to the field";
        }
    }
    EXPECT_EQ(UI_LoginUser_Get(nullptr), 1u);
}

TEST_F(UiEnvTest, AccountNameComesFromThePasswordDatabase) {
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    char buf[UI_LOGIN_USER_SIZE];
    ASSERT_EQ(UI_LoginUser_Get(buf), 0u);
    EXPECT_EQ(std::string(buf, strnlen(buf, sizeof(buf))),
              std::string(pw->pw_name).substr(0, UI_LOGIN_USER_SIZE));
}

TEST_F(UiEnvTest, InstallFolderIsTheRunningProgramsFolder) {
    char buf[UI_INSTALL_PATH_SIZE];
    std::memset(buf, 'x', sizeof(buf));
    ASSERT_EQ(UI_Get_InstallPath(buf), 0u);
    char expected[PATH_MAX];
    ASSERT_NE(realpath(UI_TEST_BIN_DIR, expected), nullptr);
    EXPECT_STREQ(buf, expected);
    EXPECT_EQ(std::string(UI_ConfigDir_Get()), std::string(expected) + "/config");
}

TEST_F(UiEnvTest, InstallFolderSeamAndItsLimit) {
    char buf[UI_INSTALL_PATH_SIZE];
    uiInstallPathSet("/opt/vt/bin");
    ASSERT_EQ(UI_Get_InstallPath(buf), 0u);
    EXPECT_STREQ(buf, "/opt/vt/bin");
    EXPECT_STREQ(UI_ConfigDir_Get(), "/opt/vt/bin/config");

    const std::string longest(UI_INSTALL_PATH_SIZE - 1, 'p');
    uiInstallPathSet(longest.c_str());
    ASSERT_EQ(UI_Get_InstallPath(buf), 0u);
    EXPECT_EQ(std::string(buf), longest);
    EXPECT_STREQ(UI_ConfigDir_Get(), "") << "a cut folder is never named";

    uiInstallPathSet(std::string(UI_INSTALL_PATH_SIZE, 'p').c_str());
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(UI_Get_InstallPath(buf), 1u);
    EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(sizeof(buf), '\0'));
    EXPECT_EQ(UI_Get_InstallPath(nullptr), 1u);
}

}  // namespace
