// The INI module: the line splitter's rules as a table of files and look-ups, the
// typed reads, and writing keys back to a file on disk.

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ui_ini.h"
#include "ui_ini_inner.h"
#include "ui_test/ui_sim.h"
#include "vt_test/child_process.h"
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

std::vector<std::string> FolderEntries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") {
                names.push_back(e->d_name);
            }
        }
        closedir(d);
    }
    return names;
}

class UiIniTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();  // first: the platform keeps its own folder for the process
        env_ = std::make_unique<vt_test::TempEnv>();
    }
    void TearDown() override { INI_Free(); }

    // Writes the text to a file of the test's folder and loads it.
    std::string Load(const std::string& text, const std::string& name = "test.ini") {
        const std::string path = env_->Tmp() + "/" + name;
        WriteFile(path, text);
        EXPECT_EQ(INI_Load(path.c_str()), 0u) << path;
        return path;
    }

    std::unique_ptr<vt_test::TempEnv> env_;
};

const char* kNull = nullptr;

TEST_F(UiIniTest, LookupsFollowTheLineRules) {
    const std::string line1023 = "k=" + std::string(1021, 'v');
    const std::string line1024 = "k=" + std::string(1022, 'v');
    const struct {
        const char* name;
        std::string text;
        const char* section;
        const char* key;
        const char* value;  // nullptr: not found
    } cases[] = {
        {"LF", "[GLOBAL]\nClientLogLevel = 2\n", "GLOBAL", "ClientLogLevel", "2"},
        {"CR LF", "[GLOBAL]\r\nClientLogLevel = 2\r\n", "GLOBAL", "ClientLogLevel", "2"},
        {"CR CR", "[GLOBAL]\r\rClientLogLevel = 2\r\r", "GLOBAL", "ClientLogLevel", "2"},
        {"LF CR", "[GLOBAL]\n\rClientLogLevel = 2", "GLOBAL", "ClientLogLevel", "2"},
        {"three line ends", "[GLOBAL]\n\n\nClientLogLevel=2", "GLOBAL", "ClientLogLevel", "2"},
        {"names fold case", "[global]\nclientloglevel=3\n", "GLOBAL", "ClientLogLevel", "3"},
        {"header trimmed", "[  GLOBAL \t]\nk=1\n", "GLOBAL", "k", "1"},
        {"quotes kept", "[G]\nk=\"2\"\n", "G", "k", "\"2\""},
        {"no comments", "[G]\nk = 1 ; note\n", "G", "k", "1 ; note"},
        {"hash is part of a key", "[GLOBAL]\n#ClientLogLevel=3\n", "GLOBAL", "ClientLogLevel", nullptr},
        {"hash key found by its name", "[GLOBAL]\n#ClientLogLevel=3\n", "GLOBAL",
         "#ClientLogLevel", "3"},
        {"empty value", "[GLOBAL]\nClientLogLevel =\n", "GLOBAL", "ClientLogLevel", nullptr},
        {"empty value ends the search", "[G]\nk=\nk=5\n", "G", "k", nullptr},
        {"first value wins", "[G]\nk=1\nk=2\n", "G", "k", "1"},
        {"key before any header, null section", "top = 1\n[G]\nx=2\n", kNull, "top", "1"},
        {"key before any header, named section", "top = 1\n[G]\nx=2\n", "G", "top", nullptr},
        {"null section stops at the first header", "top = 1\n[G]\nx=2\n", kNull, "x", nullptr},
        {"closing quote after spaces", "[G]\na = \"x  \"\n", "G", "a", "\"x"},
        {"line of 1023 bytes", "[G]\n" + line1023 + "\n", "G", "k", line1023.c_str() + 2},
        {"line of 1024 bytes", "[G]\n" + line1024 + "\n", "G", "k", nullptr},
        {"first header of a name only", "[A]\nk=1\n[B]\nk=2\n[A]\nj=3\n", "A", "j", nullptr},
        {"other section", "[A]\nk=1\n[B]\nk=2\n[A]\nj=3\n", "B", "k", "2"},
        {"next header closes", "[A]\nk=1\n[B]\nj=2\n", "A", "j", nullptr},
        {"zero byte ends a line", std::string("[G]\0k=4\n", 8), "G", "k", "4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.text);
        char out[2048];
        const uint32_t found = INI_GetString(c.section, c.key, out, sizeof(out), "dflt");
        if (c.value == nullptr) {
            EXPECT_EQ(found, 0u);
            EXPECT_STREQ(out, "dflt");
        } else {
            EXPECT_EQ(found, 1u);
            EXPECT_STREQ(out, c.value);
        }
        EXPECT_EQ(INI_GetString(c.section, c.key, nullptr, 0, nullptr), c.value ? 1u : 0u);
    }
}

TEST_F(UiIniTest, IntegersDoublesAndUnquotedTexts) {
    Load("[GLOBAL]\nhex = 0x3\noct = 010\ndec=-12\nquoted = \"2\"\nreal = 2.5\n"
         "sq = 'abc'\ndq = \"a b\"\nmixed = \"abc'\nlone = \"\nempty=\n");
    const struct {
        const char* key;
        int32_t value;
    } ints[] = {{"hex", 3}, {"oct", 8}, {"dec", -12}, {"quoted", 0}, {"missing", 1}, {"empty", 1}};
    for (const auto& c : ints) {
        EXPECT_EQ(INI_GetInt("GLOBAL", c.key, 1), c.value) << c.key;
    }
    EXPECT_DOUBLE_EQ(INI_GetDouble("GLOBAL", "real", 9.0), 2.5);
    EXPECT_DOUBLE_EQ(INI_GetDouble("GLOBAL", "missing", 9.0), 9.0);

    const struct {
        const char* key;
        uint32_t found;
        const char* value;
    } texts[] = {
        {"sq", 1, "abc"}, {"dq", 1, "a b"}, {"mixed", 1, "\"abc'"}, {"lone", 0, "'d'"},  // the cut takes the quote: an empty value
        {"missing", 0, "'d'"},  // a default keeps its quotes
    };
    for (const auto& c : texts) {
        char out[64];
        EXPECT_EQ(INI_GetStringUnquoted("GLOBAL", c.key, out, sizeof(out), "'d'"), c.found) << c.key;
        EXPECT_STREQ(out, c.value) << c.key;
    }
}

TEST_F(UiIniTest, CopiesKeepToTheCallersSize) {
    Load("[G]\nk = abcdef\n");
    char out[8];
    std::memset(out, 'z', sizeof(out));
    EXPECT_EQ(INI_GetString("G", "k", out, 4, "x"), 1u);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(out[4], 'z');
    EXPECT_EQ(INI_GetString("G", "none", out, 3, "defaults"), 0u);
    EXPECT_STREQ(out, "de");
    EXPECT_EQ(INI_GetString("G", "k", out, 0, "x"), 1u);  // nothing written
    EXPECT_EQ(out[0], 'd');
}

TEST_F(UiIniTest, NothingLoadedGivesDefaultsAndEmptyTexts) {
    INI_Free();
    char out[16] = "junk";
    EXPECT_EQ(INI_GetString("G", "k", out, sizeof(out), "d"), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(INI_GetInt("G", "k", 5), 5);
    EXPECT_EQ(INI_Load(nullptr), 1u);
    EXPECT_EQ(INI_Load((env_->Tmp() + "/missing.ini").c_str()), 1u);
    EXPECT_EQ(INI_Load(std::string(1024, 'a').c_str()), 1u);
    Load("[G]\nk=1\n");
    EXPECT_EQ(INI_GetString("G", nullptr, out, sizeof(out), "d"), 0u);
    EXPECT_STREQ(out, "");
}

// A path that begins with the one loaded before is another file.
TEST_F(UiIniTest, PathsCompareAsWholeTexts) {
    Load("[G]\nk=backup\n", "x.ini.bak");
    Load("[G]\nk=current\n", "x.ini");
    char out[16];
    EXPECT_EQ(INI_GetString("G", "k", out, sizeof(out), ""), 1u);
    EXPECT_STREQ(out, "current");
}

TEST_F(UiIniTest, SplitterReportsWhereTheLineEnds) {
    const struct {
        std::string text;
        IniLineKind kind;
        const char* content;
        size_t contentEnd, lineEnd, next;
    } cases[] = {
        {"abc\r\ndef", INI_LINE_OTHER, "abc", 3, 3, 5},
        {"a=1  \n\rb", INI_LINE_KEY, "a=1", 3, 5, 7},
        {"\n\n\nx", INI_LINE_BLANK, "", 0, 0, 2},
        {" \t \r", INI_LINE_BLANK, "", 3, 3, 4},
        {"  [s]  ", INI_LINE_SECTION, "[s]", 5, 7, 7},
        {"'[s]'", INI_LINE_OTHER, "[s]'", 5, 5, 5},
        // The trailing count passes over the closing quote: the cut takes the quote and
        // leaves the space before it.
        {"k = \"v \"\n", INI_LINE_KEY, "k = \"v ", 7, 8, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char out[INI_LINE_SIZE];
        const char *contentEnd, *lineEnd, *next;
        EXPECT_EQ(INI_ParseLine(c.text.data(), c.text.size(), out, &contentEnd, &lineEnd, &next),
                  c.kind);
        EXPECT_STREQ(out, c.content);
        EXPECT_EQ(size_t(contentEnd - c.text.data()), c.contentEnd);
        EXPECT_EQ(size_t(lineEnd - c.text.data()), c.lineEnd);
        EXPECT_EQ(size_t(next - c.text.data()), c.next);
    }
    EXPECT_EQ(INI_StrCaseCmp("GLOBAL", "global"), 0);
    EXPECT_NE(INI_StrCaseCmp("GLOBAL", "globa"), 0);
    EXPECT_NE(INI_StrCaseCmp(nullptr, nullptr), 0);
}

// Set, replace and delete, each checked on the file's bytes and through a fresh load.
TEST_F(UiIniTest, WritesChangeOnlyTheirLine) {
    const struct {
        const char* name;
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        uint32_t rc;
        std::string after;
    } cases[] = {
        {"replace keeps the line end", "[GLOBAL]\r\nClientLogLevel = 2\r\nOther=x\r\n", "GLOBAL",
         "ClientLogLevel", "3", 1, "[GLOBAL]\r\nClientLogLevel = 3\r\nOther=x\r\n"},
        {"replace a value ending in a quote", "[G]\na = \"x  \"\nb=1\n", "G", "a", "y", 1,
         "[G]\na = y\nb=1\n"},
        {"replace in a file without a last line end", "[G]\nk=1", "g", "K", "2", 1, "[G]\nK = 2"},
        {"add after the section's last line", "[A]\nb = 2\n\n[B]\nc=1\n", "A", "a", "1", 1,
         "[A]\nb = 2\n\na = 1\n[B]\nc=1\n"},
        {"add after a last line without its end", "[A]\nb = 2", "A", "a", "1", 1,
         "[A]\nb = 2\na = 1\n"},
        {"add a section", "[A]\nx=1\n", "B", "k", "v", 1, "[A]\nx=1\n\n[B]\nk = v\n"},
        {"add the global section", "[A]\nx=1\n", "GLOBAL", "k", "v", 1,
         "[A]\nx=1\n[GLOBAL]\nk = v\n"},
        {"add the global section after an open line", "x=1", "GLOBAL", "k", "v", 1,
         "x=1\n[GLOBAL]\nk = v\n"},
        {"delete a key", "[A]\nx=1\r\ny=2\n", "A", "x", nullptr, 1, "[A]\ny=2\n"},
        {"delete a missing key", "[A]\nx=1\n", "A", "z", nullptr, 0, "[A]\nx=1\n"},
        {"delete in a missing section", "[A]\nx=1\n", "B", "x", nullptr, 0, "[A]\nx=1\n"},
        {"null section", "[A]\nx=1\n", nullptr, "x", "2", 0, "[A]\nx=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Load(c.before);
        EXPECT_EQ(INI_SetString(c.section, c.key, c.value), c.rc);
        EXPECT_EQ(ReadFile(path), c.after);
        if (c.rc == 1) {
            char out[64];
            EXPECT_EQ(INI_GetString(c.section, c.key, out, sizeof(out), ""), c.value ? 1u : 0u);
            EXPECT_STREQ(out, c.value ? c.value : "");
        }
    }
    EXPECT_EQ(FolderEntries(env_->Tmp()), std::vector<std::string>{"test.ini"});
}

TEST_F(UiIniTest, IntegersAreWrittenInTheirBase) {
    const std::string path = Load("[N]\n");
    EXPECT_EQ(INI_SetInt("N", "oct", 8, 8), 1u);
    EXPECT_EQ(INI_SetInt("N", "hex", 255, 16), 1u);
    EXPECT_EQ(INI_SetInt("N", "dec", -5, 10), 1u);
    EXPECT_EQ(ReadFile(path), "[N]\noct = 010\nhex = 0xff\ndec = -5\n");
    EXPECT_EQ(INI_GetInt("N", "oct", 0), 8);
    EXPECT_EQ(INI_GetInt("N", "hex", 0), 255);
}

TEST_F(UiIniTest, WriteKeepsModeAndFollowsALink) {
    const std::string path = Load("[G]\nk=1\n", "real.ini");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string link = env_->Tmp() + "/link.ini";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    ASSERT_EQ(INI_Load(link.c_str()), 0u);
    EXPECT_EQ(INI_SetString("G", "k", "2"), 1u);
    EXPECT_EQ(ReadFile(path), "[G]\nk = 2\n");
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Nothing is written (and 0 returned) when the file cannot be resolved or nothing is
// loaded, and a failed write leaves the old file whole.
TEST_F(UiIniTest, RefusedAndFailedWritesLeaveTheFile) {
    const std::string path = Load("[G]\nk=1\n");
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(INI_SetString("G", "k", "2"), 0u);
    EXPECT_TRUE(FolderEntries(env_->Tmp()).empty());

    Load("[G]\nk=1\n");
    EXPECT_EQ(INI_Load(std::string(1100, 'a').c_str()), 1u);  // leaves nothing loaded
    EXPECT_EQ(INI_SetString("G", "k", "2"), 0u);
    EXPECT_EQ(ReadFile(path), "[G]\nk=1\n");

    // A disk that fills during the write: a file-size limit makes the write fail.
    const std::string text = "[G]\n" + std::string(200, '#') + "\nk=1\n";
    Load(text);
    const auto r = vt_test::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{64, 64};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
        if (INI_SetString("G", "k", "2") != 0) return 11;
        return 0;
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(path), text);
    EXPECT_EQ(FolderEntries(env_->Tmp()), std::vector<std::string>{"test.ini"});
}

}  // namespace
