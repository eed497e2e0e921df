// Start at login: the autostart entry in a temporary configuration folder, never the
// real home's.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "ui_loginitem.h"
#include "ui_loginitem_inner.h"
#include "vt_test/temp_env.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Every file of the folder with its content.
std::map<std::string, std::string> Entries(const std::string& dir) {
    std::map<std::string, std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") files[name] = ReadFile(dir + "/" + name);
        }
        closedir(d);
    }
    return files;
}

std::string SelfPath() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// This program's path as the one quoted argument of an entry's command. The build
// folder may hold a blank, which outside the quotes would end the program's name; it holds
// no character that needs an escape inside them.
std::string QuotedSelf() {
    const std::string self = SelfPath();
    EXPECT_EQ(self.find_first_of("\"`$\\%\n\t"), std::string::npos) << self;
    return "\"" + self + "\"";
}

class UiLoginItemTest : public ::testing::Test {
protected:
    void TearDown() override { uiLoginItemProgramSet(nullptr); }

    vt_test::TempEnv env_;
    std::string Autostart() const { return env_.Home() + "/.config/autostart"; }
};

TEST_F(UiLoginItemTest, AddWritesOneEntryThatRunsThisProgram) {
    EXPECT_EQ(UI_LoginItem_Set(1), 0);
    auto files = Entries(Autostart());
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(files.count("VanTrelo.desktop"), 1u);
    const std::string& text = files.begin()->second;
    EXPECT_EQ(text.compare(0, 16, "[Desktop Entry]\n"), 0) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    // The build folder holds no character that needs an escape, so the path stands as
    // it is between the quotes.
    const std::string self = SelfPath();
    ASSERT_EQ(self.find_first_of("\"`$\\%\n\t"), std::string::npos) << self;
    EXPECT_NE(text.find("\nExec=\"" + self + "\"\n"), std::string::npos) << text;
    struct stat st;
    ASSERT_EQ(stat(Autostart().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a new folder is the user's alone";

    // A second add rewrites the one entry.
    EXPECT_EQ(UI_LoginItem_Set(1), 0);
    EXPECT_EQ(Entries(Autostart()), files);
}

TEST_F(UiLoginItemTest, AddAddRemoveLeavesNoEntry) {
    EXPECT_EQ(UI_LoginItem_Set(1), 0);
    EXPECT_EQ(UI_LoginItem_Set(1), 0);
    EXPECT_EQ(UI_LoginItem_Set(0), 0);
    EXPECT_TRUE(Entries(Autostart()).empty());
}

TEST_F(UiLoginItemTest, OtherValuesChangeNothing) {
    // Without an entry nothing is made, not even the folder.
    for (int value : {2, -1, 100}) {
        EXPECT_EQ(UI_LoginItem_Set(value), 0);
    }
    struct stat st;
    EXPECT_NE(stat(Autostart().c_str(), &st), 0);

    EXPECT_EQ(UI_LoginItem_Set(1), 0);
    const auto before = Entries(Autostart());
    for (int value : {2, -1, 100}) {
        EXPECT_EQ(UI_LoginItem_Set(value), 0);
    }
    EXPECT_EQ(Entries(Autostart()), before);
}

// Every entry that runs this program goes, whatever its name and however its command
// is written; entries of other programs and other files stay.
TEST_F(UiLoginItemTest, RemoveTakesEveryEntryOfThisProgramOnly) {
    const std::string self = QuotedSelf();
    const std::string helper = self.substr(0, self.size() - 1) + "-helper\"";
    UI_LoginItem_Add();
    const std::string dir = Autostart();
    WriteFile(dir + "/old-name.desktop", "[Desktop Entry]\nType=Application\nExec = " + self + " --hidden\n");
    WriteFile(dir + "/other.desktop", "[Desktop Entry]\nType=Application\nExec=/usr/bin/true\n");
    WriteFile(dir + "/other-group.desktop",
              "[Desktop Entry]\nExec=/usr/bin/true\n[Desktop Action x]\nExec=" + self + "\n");
    WriteFile(dir + "/notes.txt", "Exec=" + self + "\n");
    WriteFile(dir + "/prefix.desktop", "[Desktop Entry]\nExec=" + helper + "\n");

    UI_LoginItem_Remove();
    auto files = Entries(dir);
    EXPECT_EQ(files.count("VanTrelo.desktop"), 0u);
    EXPECT_EQ(files.count("old-name.desktop"), 0u);
    EXPECT_EQ(files.count("other.desktop"), 1u);
    EXPECT_EQ(files.count("other-group.desktop"), 1u);
    EXPECT_EQ(files.count("notes.txt"), 1u);
    EXPECT_EQ(files.count("prefix.desktop"), 1u);
}

// A path with blanks, quote marks, '$', backslashes and '%' is written quoted and
// escaped as desktop entries require, and found again by the removal.
TEST_F(UiLoginItemTest, OddProgramPathIsQuotedAndFoundAgain) {
    static const char kPath[] = "/opt/My Apps/a\"b$c\\d%e`f";
    uiLoginItemProgramSet(kPath);
    UI_LoginItem_Add();
    const std::string text = ReadFile(Autostart() + "/VanTrelo.desktop");
    EXPECT_NE(text.find("\nExec=\"/opt/My Apps/a\\\\\"b\\\\$c\\\\\\\\d%%e\\\\`f\"\n"), std::string::npos)
        << text;
    UI_LoginItem_Remove();
    EXPECT_TRUE(Entries(Autostart()).empty());
}

// A blank ends an unquoted argument, so an entry that writes a path with a blank without
// quotes runs another program ("/opt/My" with arguments): only the quoted form is this
// program's. Single quotes do not quote in an entry's command.
TEST_F(UiLoginItemTest, PathWithABlankIsThisProgramOnlyWhenQuoted) {
    uiLoginItemProgramSet("/opt/My Apps/VanTrelo");
    const std::string dir = Autostart();
    const struct {
        const char* exec;
        bool removed;
    } cases[] = {
        {"\"/opt/My Apps/VanTrelo\"", true},
        {"\"/opt/My Apps/VanTrelo\" --hidden", true},
        {"/opt/My Apps/VanTrelo", false},
        {"/opt/My\\sApps/VanTrelo", false},  // the file's escape of a blank is still a blank
        {"'/opt/My Apps/VanTrelo'", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exec);
        UI_LoginItem_Add();
        WriteFile(dir + "/case.desktop", std::string("[Desktop Entry]\nType=Application\nExec=") + c.exec + "\n");
        UI_LoginItem_Remove();
        auto files = Entries(dir);
        EXPECT_EQ(files.count("VanTrelo.desktop"), 0u);
        EXPECT_EQ(files.count("case.desktop"), c.removed ? 0u : 1u);
        (void)unlink((dir + "/case.desktop").c_str());
    }
}

// The folder: $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config.
TEST_F(UiLoginItemTest, FolderFollowsTheConfigurationVariable) {
    const std::string other = env_.Root() + "/xdg";
    const struct {
        const char* label;
        const char* value;  // NULL: unset
        std::string folder;
    } cases[] = {
        {"absolute", other.c_str(), other + "/autostart"},
        {"unset", nullptr, env_.Home() + "/.config/autostart"},
        {"empty", "", env_.Home() + "/.config/autostart"},
        {"relative", "rel/xdg", env_.Home() + "/.config/autostart"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.value != nullptr) {
            setenv("XDG_CONFIG_HOME", c.value, 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        UI_LoginItem_Add();
        EXPECT_EQ(Entries(c.folder).count("VanTrelo.desktop"), 1u);
        UI_LoginItem_Remove();
        EXPECT_TRUE(Entries(c.folder).empty());
    }
    struct stat st;
    EXPECT_NE(stat("rel", &st), 0) << "a relative value made a folder in the working folder";
}

}  // namespace
