// The rotating log: set-up, line format, levels and filter, rotation and the start
// number, the files it refuses to write through, and what it does when the disk, the
// folder or the user entry fails it.

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "ddm_log.h"
#include "ddm_log_inner.h"
#include "ddm_log_test_util.h"
#include "osal_lock.h"
#include "uko_secfunc.h"
#include "vt_test/child_process.h"

namespace {

using ddm_test::Entries;
using ddm_test::Exists;
using ddm_test::FileName;
using ddm_test::MakeSparse;
using ddm_test::ModeOf;
using ddm_test::ReadFile;
using ddm_test::ReadLines;
using ddm_test::SizeOf;

class DdmLog : public ddm_test::LogTest {};

std::string LoginName() {
    passwd* pw = getpwuid(getuid());
    return pw != nullptr ? pw->pw_name : std::to_string(getuid());
}

// A line of the log's form with these fields (any time stamp).
::testing::AssertionResult LineIs(const std::string& line, const std::string& module,
                                  const std::string& level, const std::string& user,
                                  const std::string& message) {
    ddm_test::LineParts parts;
    if (!ddm_test::ParseLine(line, &parts)) {
        return ::testing::AssertionFailure() << "not a log line: " << line;
    }
    if (parts.module != module || parts.level != level || parts.user != user ||
        parts.message != message) {
        return ::testing::AssertionFailure() << "fields differ: " << line;
    }
    return ::testing::AssertionSuccess();
}

// ---- Set-up, format, levels -----------------------------------------------------------------

TEST_F(DdmLog, FirstFileHoldsTheInitLineAndThenTheCallersLine) {
    ASSERT_EQ(DDM_LogInit("VanTreloUI"), 0u);
    EXPECT_EQ(DDM_LogWrite(0, 1, "[%lu][Process ssl login][vanTrelo ssl login start!]", 65535UL), 0u);

    const std::string file = dir_ + "/VanTrelo_VanTreloUI_0.log";
    std::vector<std::string> lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 2u) << ReadFile(file);
    const std::string pid = std::to_string(getpid());
    EXPECT_TRUE(LineIs(lines[0], "ZIRPA", "INFO", LoginName(),
                       "[ddm log init][VanTreloUI succeed, start log number is 0, pid is " + pid +
                           "]"));
    EXPECT_TRUE(LineIs(lines[1], "UI", "INFO", LoginName(),
                       "[65535][Process ssl login][vanTrelo ssl login start!]"));
    // The exact spacing of the prefix: four blanks after UI, two after INFO.
    EXPECT_EQ(lines[1].substr(0, 16), "[ UI     INFO   ");
}

TEST_F(DdmLog, ModulesAndLevelsPrintByName) {
    ASSERT_EQ(DDM_LogInit("names"), 0u);
    ASSERT_EQ(DDM_LogLevelSet(0), 0u);
    struct Case {
        uint32_t module, level;
        const char* moduleName;
        const char* levelName;
    } cases[] = {{0, 0, "UI", "DEBUG"},      {3, 1, "UPDATE", "INFO"}, {4, 2, "ZIRPA", "WARN"},
                 {16, 3, "PROXY", "ERROR"}, {26, 1, "CAUZ", "INFO"}};
    for (const Case& c : cases) {
        ASSERT_EQ(DDM_LogWrite(c.module, c.level, "case %u", c.module), 0u);
    }
    std::vector<std::string> lines = ReadLines(Path("names", 0));
    ASSERT_EQ(lines.size(), 1 + sizeof(cases) / sizeof(cases[0]));
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        EXPECT_TRUE(LineIs(lines[i + 1], c.moduleName, c.levelName, LoginName(),
                           "case " + std::to_string(c.module)));
    }
}

TEST_F(DdmLog, LevelsAndArgumentChecks) {
    ASSERT_EQ(DDM_LogInit("levels"), 0u);
    const std::string file = Path("levels", 0);
    const size_t initLines = ReadLines(file).size();

    // After set-up: DEBUG dropped, the rest written.
    EXPECT_EQ(DDM_LogWrite(0, 0, "debug one"), 0u);
    EXPECT_EQ(DDM_LogWrite(0, 3, "error one"), 0u);
    // Out of range: refused, nothing written, nothing changed.
    EXPECT_EQ(DDM_LogWrite(27, 1, "module 27"), 1u);
    EXPECT_EQ(DDM_LogWrite(0, 4, "level 4"), 1u);
    EXPECT_EQ(DDM_LogWrite(0, 1, nullptr), 1u);
    EXPECT_EQ(DDM_LogLevelSet(4), 1u);
    EXPECT_EQ(DDM_LogFilterGet(0, 0), 0);
    EXPECT_EQ(DDM_LogFilterGet(0, 1), 1);

    EXPECT_EQ(DDM_LogLevelSet(0), 0u);
    EXPECT_EQ(DDM_LogWrite(0, 0, "debug two"), 0u);
    EXPECT_EQ(DDM_LogLevelSet(3), 0u);
    EXPECT_EQ(DDM_LogWrite(0, 2, "warn dropped"), 0u);
    EXPECT_EQ(DDM_LogWrite(0, 3, "error two"), 0u);

    std::vector<std::string> lines = ReadLines(file);
    ASSERT_EQ(lines.size(), initLines + 3);
    EXPECT_NE(lines[initLines].find("] error one"), std::string::npos);
    EXPECT_NE(lines[initLines + 1].find("] debug two"), std::string::npos);
    EXPECT_NE(lines[initLines + 2].find("] error two"), std::string::npos);
}

TEST_F(DdmLog, FilterSetCopiesUpToTheFullTableAndRefusesMore) {
    ASSERT_EQ(DDM_LogInit("filter"), 0u);
    uint8_t rows[DDM_LOG_MODULE_COUNT + 1][DDM_LOG_LEVEL_COUNT + 1] = {};
    const uint8_t* rowPtrs[DDM_LOG_MODULE_COUNT + 1];
    for (uint32_t m = 0; m <= DDM_LOG_MODULE_COUNT; ++m) {
        for (uint32_t l = 0; l <= DDM_LOG_LEVEL_COUNT; ++l) rows[m][l] = (m + l) % 2;
        rowPtrs[m] = rows[m];
    }
    // The whole table, last module and error level included.
    ASSERT_EQ(DDM_LogFilterSet(rowPtrs, DDM_LOG_MODULE_COUNT, DDM_LOG_LEVEL_COUNT), 0u);
    for (uint32_t m = 0; m < DDM_LOG_MODULE_COUNT; ++m) {
        for (uint32_t l = 0; l < DDM_LOG_LEVEL_COUNT; ++l) {
            EXPECT_EQ(DDM_LogFilterGet(m, l), (m + l) % 2) << m << "," << l;
        }
    }
    // Outside the table the getter answers 0 instead of reading past it.
    EXPECT_EQ(DDM_LogFilterGet(DDM_LOG_MODULE_COUNT, 0), 0);
    EXPECT_EQ(DDM_LogFilterGet(0, DDM_LOG_LEVEL_COUNT), 0);
    EXPECT_EQ(DDM_LogFilterGet(0xFFFFFFFFu, 0xFFFFFFFFu), 0);

    // Refusals change nothing.
    EXPECT_EQ(DDM_LogFilterSet(nullptr, 1, 1), 1u);
    const uint8_t* withHole[2] = {rows[1], nullptr};
    EXPECT_EQ(DDM_LogFilterSet(withHole, 2, 4), 1u);
    EXPECT_EQ(DDM_LogFilterGet(0, 0), 0);

    // Too large: the "filter is too large" line goes out at ZIRPA ERROR (module 4, level
    // 3 is on in the pattern above).
    ASSERT_EQ(DDM_LogFilterGet(4, 3), 1);
    EXPECT_EQ(DDM_LogFilterSet(rowPtrs, DDM_LOG_MODULE_COUNT + 1, 1), 1u);
    EXPECT_EQ(DDM_LogFilterSet(rowPtrs, 1, DDM_LOG_LEVEL_COUNT + 1), 1u);
    std::vector<std::string> lines = ReadLines(Path("filter", 0));
    ASSERT_GE(lines.size(), 2u);
    const std::string tooLarge = "[ddm log filter failed][reason:filter is too large]";
    EXPECT_TRUE(LineIs(lines[lines.size() - 2], "ZIRPA", "ERROR", LoginName(), tooLarge));
    EXPECT_TRUE(LineIs(lines.back(), "ZIRPA", "ERROR", LoginName(), tooLarge));
}

TEST_F(DdmLog, ProcessNameMustBeOnePlainName) {
    ASSERT_EQ(DDM_LogInit("kept"), 0u);
    // The longest name whose file name, with the highest number, still fits the file
    // system's limit of 255 bytes.
    const std::string tooLong(233, 'n');
    for (const char* bad : {static_cast<const char*>(nullptr), "", "a/b", "../up", "/abs",
                            tooLong.c_str()}) {
        EXPECT_EQ(DDM_LogInit(bad), 1u) << (bad != nullptr ? bad : "NULL");
    }
    const std::string longest(232, 'n');
    ASSERT_EQ(DDM_LogInit(longest.c_str()), 0u);
    ddmLogNumberSet(DDM_LOG_NUMBER_MAX);
    ASSERT_EQ(DDM_LogWrite(0, 1, "longest name"), 0u);
    EXPECT_NE(ReadFile(Path(longest, DDM_LOG_NUMBER_MAX)).find("] longest name\n"),
              std::string::npos);
    ASSERT_EQ(DDM_LogInit("kept"), 0u);
    ASSERT_EQ(DDM_LogWrite(0, 1, "still here"), 0u);
    EXPECT_NE(ReadFile(Path("kept", 0)).find("] still here\n"), std::string::npos);
    for (const std::string& e : Entries(dir_)) {
        EXPECT_TRUE(e.rfind("VanTrelo_kept_", 0) == 0 || e.rfind("VanTrelo_nnnn", 0) == 0) << e;
    }
}

// ---- Long texts ---------------------------------------------------------------------------------

std::string g_longUser;
uint32_t LongUserLookup(uid_t, char* name, size_t nameSize, char* home, size_t) {
    snprintf(name, nameSize, "%s", g_longUser.c_str());
    home[0] = '\0';
    return 0;
}

TEST_F(DdmLog, LongMessagesAndLinesAreCutNotDropped) {
    ASSERT_EQ(DDM_LogInit("long"), 0u);
    const std::string file = Path("long", 0);
    const size_t initLines = ReadLines(file).size();

    const std::string huge(5000, 'm');
    ASSERT_EQ(DDM_LogWrite(0, 1, "%s", huge.c_str()), 0u);
    const std::string exact(1023, 'e');
    ASSERT_EQ(DDM_LogWrite(0, 1, "%s", exact.c_str()), 0u);

    // A user name of 254 characters makes prefix, user and a full message pass the line
    // buffer: the line is cut to 1278 characters before its newline.
    g_longUser.assign(254, 'u');
    ddmUserLookupSet(LongUserLookup);
    ASSERT_EQ(DDM_LogEnvInit(0), 0u);
    ASSERT_EQ(DDM_LogWrite(0, 1, "%s", huge.c_str()), 0u);

    std::vector<std::string> lines = ReadLines(file);
    ASSERT_EQ(lines.size(), initLines + 3);
    const std::string& cut = lines[initLines];
    EXPECT_EQ(cut.substr(cut.find("] m") + 2), std::string(1023, 'm'));
    EXPECT_EQ(lines[initLines + 1].substr(lines[initLines + 1].find("] e") + 2), exact);
    const std::string& longLine = lines[initLines + 2];
    EXPECT_EQ(longLine.size(), 1278u);
    EXPECT_NE(longLine.find("[" + g_longUser + "] mmm"), std::string::npos);
}

// ---- Rotation -------------------------------------------------------------------------------------

TEST_F(DdmLog, FileIsFullFromExactly1047552Bytes) {
    ASSERT_EQ(DDM_LogInit("edge"), 0u);
    const std::string first = Path("edge", 0);
    MakeSparse(first, DDM_LOG_FILE_FULL - 1);
    ASSERT_EQ(DDM_LogWrite(0, 1, "still fits"), 0u);
    EXPECT_GT(SizeOf(first), static_cast<int64_t>(DDM_LOG_FILE_FULL - 1));
    EXPECT_FALSE(Exists(Path("edge", 1)));
    EXPECT_EQ(ddmLogNumberGet(), 0u);

    MakeSparse(first, DDM_LOG_FILE_FULL);
    ASSERT_EQ(DDM_LogWrite(0, 1, "next file"), 0u);
    EXPECT_EQ(SizeOf(first), static_cast<int64_t>(DDM_LOG_FILE_FULL));
    EXPECT_EQ(ddmLogNumberGet(), 1u);
    std::vector<std::string> lines = ReadLines(Path("edge", 1));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] next file"), std::string::npos);
}

TEST_F(DdmLog, TwentyFilesAreKept) {
    for (uint32_t n = 3; n <= 21; ++n) MakeSparse(Path("keep", n), 10);
    MakeSparse(Path("keep", 22), DDM_LOG_FILE_FULL);
    ASSERT_EQ(DDM_LogInit("keep"), 0u);  // starts at 22, full: its own line goes to 23
    EXPECT_EQ(ddmLogNumberGet(), 23u);
    EXPECT_FALSE(Exists(Path("keep", 3)));
    for (uint32_t n = 4; n <= 23; ++n) EXPECT_TRUE(Exists(Path("keep", n))) << n;
    EXPECT_EQ(Entries(dir_).size(), 20u);
    EXPECT_NE(ReadFile(Path("keep", 23)).find("start log number is 22"), std::string::npos);
}

struct WrapCase {
    const char* name;
    uint32_t full;     // the current, full file
    uint32_t next;     // where the line goes
    uint32_t deleted;  // the file the files kept ago
};

void PrintTo(const WrapCase& c, std::ostream* os) { *os << c.name; }

class DdmLogWrap : public ddm_test::LogTest, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(DdmLogWrap, NumbersWrapAndTheOldestGoes) {
    const WrapCase& c = GetParam();
    ASSERT_EQ(DDM_LogInit("wrap"), 0u);  // line in file 0 of the empty folder
    MakeSparse(Path("wrap", c.full), DDM_LOG_FILE_FULL);
    MakeSparse(Path("wrap", c.deleted), 10);
    ddmLogNumberSet(c.full);
    ASSERT_EQ(DDM_LogWrite(0, 1, "after the wrap"), 0u);
    EXPECT_EQ(ddmLogNumberGet(), c.next);
    EXPECT_FALSE(Exists(Path("wrap", c.deleted)));
    EXPECT_TRUE(Exists(Path("wrap", c.full)));
    EXPECT_NE(ReadFile(Path("wrap", c.next)).find("] after the wrap\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, DdmLogWrap,
                         ::testing::Values(WrapCase{"top", 0x0FFFFFFF, 0, 0x0FFFFFEC},
                                           WrapCase{"after_wrap", 5, 6, 0x0FFFFFF2},
                                           WrapCase{"first_round", 19, 20, 0},
                                           WrapCase{"later", 40, 41, 21}),
                         [](const ::testing::TestParamInfo<WrapCase>& info) {
                             return std::string(info.param.name);
                         });

struct ScanCase {
    const char* name;
    std::vector<uint32_t> numbers;
    uint32_t expectedMin;
    uint32_t expectedMax;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class DdmLogScan : public ddm_test::LogTest, public ::testing::WithParamInterface<ScanCase> {};

// Names that are not this process's log files, some of which an unchecked scan reads as
// number 0 or as a number out of range.
const char* const kStrayNames[] = {
    "VanTrelo_scan_abc.log",       "VanTrelo_scan_.log",        "VanTrelo_scan_-1.log",
    "VanTrelo_scan_007.log",       "VanTrelo_scan_12x.log",     "VanTrelo_scan_3.log.bak",
    "VanTrelo_scan_268435456.log", "VanTrelo_scan_99999999999999999999.log",
    "VanTrelo_scanner_1.log",      "VanTrelo_scan_0_1.log",     "VanTrelo_other_50.log",
    "notes_scan_50.log",           "VanTrelo_scan_ 4.log",      "VanTrelo_scan_+4.log",
    "VanTrelo_scan_4.LOG",         "vantrelo_scan_4.log",       "0_LogInfo.log"};

TEST_P(DdmLogScan, StartNumberComesFromThisProcessFilesOnly) {
    const ScanCase& c = GetParam();
    for (uint32_t n : c.numbers) MakeSparse(Path("scan", n), 10);
    for (const char* stray : kStrayNames) MakeSparse(dir_ + "/" + stray, 10);
    // A folder named like a log file is an entry too.
    ASSERT_EQ(mkdir((dir_ + "/VanTrelo_scan_77.logdir").c_str(), 0700), 0);

    uint32_t min = 1, max = 1;
    ASSERT_EQ(DDM_LogNumberScan("scan", &min, &max), 0u);
    EXPECT_EQ(min, c.expectedMin) << c.name;
    EXPECT_EQ(max, c.expectedMax) << c.name;
    ASSERT_EQ(DDM_LogInit("scan"), 0u);
    EXPECT_EQ(ddmLogNumberGet(), c.expectedMax) << c.name;
}

std::vector<uint32_t> Range(uint32_t from, uint32_t to) {
    std::vector<uint32_t> v;
    for (uint32_t n = from; n <= to; ++n) v.push_back(n);
    return v;
}

std::vector<uint32_t> Join(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DdmLogScan,
    ::testing::Values(
        ScanCase{"empty", {}, 0x0FFFFFFF, 0},
        ScanCase{"plain", Range(3, 22), 3, 22},
        // Starting at 0 reads like a wrap with no file at the top: the oldest is -1.
        ScanCase{"from zero", Range(0, 8), 0xFFFFFFFFu, 8},
        ScanCase{"wrapped", Join(Range(0x0FFFFFF5, 0x0FFFFFFF), Range(0, 8)),
                 0x0FFFFFF5u - 0x10000000u, 8},
        ScanCase{"at the top", Range(0x0FFFFFEC, 0x0FFFFFFF), 0xFFFFFFECu, 0}),
    [](const ::testing::TestParamInfo<ScanCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return n;
    });

// ---- Folder and files ------------------------------------------------------------------------------

TEST_F(DdmLog, RemovedFolderIsMadeAgainPrivate) {
    ASSERT_EQ(DDM_LogInit("again"), 0u);
    vt_test::RemoveTree(env_->Home() + "/.VanTrelo");
    ASSERT_FALSE(Exists(dir_));
    const mode_t old = umask(0);  // the folder's mode must not depend on the umask
    ASSERT_EQ(DDM_LogWrite(0, 1, "folder back"), 0u);
    umask(old);
    EXPECT_EQ(ModeOf(env_->Home() + "/.VanTrelo"), 0700u);
    EXPECT_EQ(ModeOf(dir_), 0700u);
    EXPECT_NE(ReadFile(Path("again", 0)).find("] folder back\n"), std::string::npos);
}

TEST_F(DdmLog, ExistingFolderKeepsItsMode) {
    vt_test::RemoveTree(env_->Home() + "/.VanTrelo");
    ASSERT_EQ(mkdir((env_->Home() + "/.VanTrelo").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir_.c_str(), 0750), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0750), 0);
    ASSERT_EQ(DDM_LogEnvInit(0), 0u);
    ASSERT_EQ(DDM_LogInit("mode"), 0u);
    EXPECT_EQ(ModeOf(dir_), 0750u);
    EXPECT_TRUE(Exists(Path("mode", 0)));
}

// What another local user may plant at the name of the current file: the log neither
// writes through it nor waits on it, and the line goes to the next file.
enum class Plant { Symlink, Fifo, Folder };

class DdmLogPlanted : public ddm_test::LogTest, public ::testing::WithParamInterface<Plant> {};

TEST_P(DdmLogPlanted, EntryIsPassedNotWrittenThrough) {
    const std::string victim = env_->Root() + "/victim.txt";
    {
        std::FILE* f = std::fopen(victim.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("precious\n", f);
        std::fclose(f);
    }
    ASSERT_EQ(DDM_LogInit("plant"), 0u);
    const std::string current = Path("plant", 0);
    ASSERT_EQ(unlink(current.c_str()), 0);
    switch (GetParam()) {
        case Plant::Symlink: ASSERT_EQ(symlink(victim.c_str(), current.c_str()), 0); break;
        case Plant::Fifo: ASSERT_EQ(mkfifo(current.c_str(), 0600), 0); break;
        case Plant::Folder: ASSERT_EQ(mkdir(current.c_str(), 0700), 0); break;
    }
    // In a child: a log that waits on the pipe hangs it, and the limit ends it.
    auto r = vt_test::RunInChild([] { EXPECT_EQ(DDM_LogWrite(0, 1, "planted"), 0u); }, 10000);
    ASSERT_TRUE(vt_test::ExitedWith(r)) << "the write hung or crashed";
    ASSERT_EQ(DDM_LogWrite(0, 1, "planted"), 0u);
    EXPECT_EQ(ReadFile(victim), "precious\n");
    EXPECT_EQ(ddmLogNumberGet(), 1u);
    EXPECT_NE(ReadFile(Path("plant", 1)).find("] planted\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DdmLogPlanted,
                         ::testing::Values(Plant::Symlink, Plant::Fifo, Plant::Folder),
                         [](const ::testing::TestParamInfo<Plant>& info) {
                             return std::string(info.param == Plant::Symlink ? "symlink"
                                                : info.param == Plant::Fifo  ? "fifo"
                                                                             : "folder");
                         });

TEST_F(DdmLog, FolderThatCannotBeMadeSendsLinesToTheWorkingFolder) {
    const std::string work = env_->Root() + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    // A plain file where the per-user folder should be: neither folder can be made.
    vt_test::RemoveTree(env_->Home() + "/.VanTrelo");
    MakeSparse(env_->Home() + "/.VanTrelo", 0);
    auto r = vt_test::RunInChild([&] {
        ASSERT_EQ(chdir(work.c_str()), 0);
        // As in a fresh process: no folder yet, so set-up notes go to the working folder.
        ASSERT_EQ(DDM_LogDirSet(""), 0u);
        EXPECT_EQ(DDM_LogEnvInit(0), 0u);
        EXPECT_EQ(DDM_LogInit("nodir"), 0u);
        EXPECT_EQ(DDM_LogWrite(0, 1, "in the working folder"), 0u);
    });
    ASSERT_TRUE(vt_test::ExitedWith(r));
    EXPECT_NE(ReadFile(work + "/VanTrelo_nodir_0.log").find("] in the working folder\n"),
              std::string::npos);
    bool noted = false;
    for (const std::string& e : Entries(work)) {
        if (e.find("_LogInfo.log") != std::string::npos) {
            noted = ReadFile(work + "/" + e).find("[ddm log init failed][reason:mkdir " +
                                                  env_->Home() + "/.VanTrelo failed]\n") !=
                    std::string::npos;
        }
    }
    EXPECT_TRUE(noted) << "the failed folder is noted in the init-failure file";
}

TEST_F(DdmLog, FullDiskLosesTheLineQuietly) {
    ASSERT_EQ(DDM_LogInit("full"), 0u);
    const std::string file = Path("full", 0);
    const int64_t before = SizeOf(file);
    ASSERT_GT(before, 0);
    auto r = vt_test::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(before + 40), static_cast<rlim_t>(before + 40)};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        errno = 1234;
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(DDM_LogWrite(0, 1, "%s", std::string(300, 'f').c_str()), 0u) << i;
        }
        EXPECT_EQ(errno, 1234) << "the lost line must leave errno alone";
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
    EXPECT_LE(SizeOf(file), before + 40);
}

// ---- The user -----------------------------------------------------------------------------------

uint32_t NoEntryLookup(uid_t, char*, size_t, char*, size_t) { return 1; }

struct UserCase {
    const char* name;
    const char* user;     // $USER, NULL: unset
    const char* logname;  // $LOGNAME, NULL: unset
    bool home;            // $HOME set
    std::string expected;
};

void PrintTo(const UserCase& c, std::ostream* os) { *os << c.name; }

class DdmLogNoEntry : public ddm_test::LogTest, public ::testing::WithParamInterface<UserCase> {};

// A user id without a password entry still gets its log: the step does not fail, so
// the platform is marked started.
TEST_P(DdmLogNoEntry, LogStillWorks) {
    const UserCase& c = GetParam();
    const std::string work = env_->Root() + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    const std::string home = env_->Home();
    auto r = vt_test::RunInChild([&] {
        ASSERT_EQ(chdir(work.c_str()), 0);
        ddmUserLookupSet(NoEntryLookup);
        auto set = [](const char* var, const char* value) {
            if (value != nullptr) {
                setenv(var, value, 1);
            } else {
                unsetenv(var);
            }
        };
        set("USER", c.user);
        set("LOGNAME", c.logname);
        set("HOME", c.home ? home.c_str() : nullptr);
        EXPECT_EQ(DDM_LogEnvInit(0), 0u);
        EXPECT_EQ(DDM_LogInit("noentry"), 0u);
        EXPECT_EQ(DDM_LogWrite(0, 1, "who"), 0u);
    });
    ASSERT_TRUE(vt_test::ExitedWith(r));
    const std::string file =
        (c.home ? dir_ : work) + "/" + FileName("noentry", 0);  // no home: working folder
    EXPECT_NE(ReadFile(file).find("[" + c.expected + "] who\n"), std::string::npos) << ReadFile(file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DdmLogNoEntry,
    ::testing::Values(UserCase{"user", "alice", "bob", true, "alice"},
                      UserCase{"logname", nullptr, "bob", true, "bob"},
                      UserCase{"uid", nullptr, nullptr, true, std::to_string(getuid())},
                      UserCase{"nothing_at_all", "", nullptr, false, std::to_string(getuid())}),
    [](const ::testing::TestParamInfo<UserCase>& info) { return std::string(info.param.name); });

TEST_F(DdmLog, UidWithoutPasswordEntryInAChild) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop to an unknown user id; the look-up seam covers it";
    }
    uid_t uid = 54321;
    while (getpwuid(uid) != nullptr) ++uid;
    // A home the dropped user can reach: the test's own folders are private to root.
    char templ[] = "/tmp/vt-drop-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string home = templ;
    ASSERT_EQ(chown(home.c_str(), uid, uid), 0);
    auto r = vt_test::RunInChild([&] {
        unsetenv("USER");
        unsetenv("LOGNAME");
        setenv("HOME", home.c_str(), 1);
        ASSERT_EQ(setgid(uid), 0);
        ASSERT_EQ(setuid(uid), 0);
        EXPECT_EQ(DDM_LogEnvInit(0), 0u);
        EXPECT_EQ(DDM_LogInit("drop"), 0u);
        EXPECT_EQ(DDM_LogWrite(0, 1, "dropped"), 0u);
    });
    const std::string file = home + "/.VanTrelo/log/" + FileName("drop", 0);
    const std::string text = ReadFile(file);
    vt_test::RemoveTree(home);
    ASSERT_TRUE(vt_test::ExitedWith(r));
    EXPECT_NE(text.find("[" + std::to_string(uid) + "] dropped\n"), std::string::npos) << text;
}

// ---- The log never talks to the hooks -------------------------------------------------------

int g_hookCalls = 0;
void CountingLogHook(uint32_t, uint16_t, uint16_t, const char*, uint32_t, const char*, ...) {
    ++g_hookCalls;
}
void CountingSecHook(void*, uint32_t, const char*, int32_t) { ++g_hookCalls; }

TEST_F(DdmLog, FailuresNeitherReachTheHooksNorChangeErrno) {
    ASSERT_EQ(DDM_LogInit("quiet"), 0u);
    g_hookCalls = 0;
    OSAL_LogHookSet(CountingLogHook);
    UKO_SecFuncErrHookSet(CountingSecHook);
    errno = 4242;
    const std::string huge(5000, 'q');
    EXPECT_EQ(DDM_LogWrite(0, 1, "%s", huge.c_str()), 0u);
    // Files that cannot be opened: the line moves past them.
    ASSERT_EQ(unlink(Path("quiet", 0).c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", Path("quiet", 0).c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", Path("quiet", 1).c_str()), 0);
    EXPECT_EQ(DDM_LogWrite(0, 1, "through links"), 0u);
    EXPECT_EQ(errno, 4242);
    // A folder that cannot be made.
    vt_test::RemoveTree(env_->Home() + "/.VanTrelo");
    MakeSparse(env_->Home() + "/.VanTrelo", 0);
    const std::string work = env_->Root() + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    auto r = vt_test::RunInChild([&] {
        ASSERT_EQ(chdir(work.c_str()), 0);
        errno = 4242;
        EXPECT_EQ(DDM_LogWrite(0, 1, "no folder"), 0u);
        EXPECT_EQ(errno, 4242);
        EXPECT_EQ(g_hookCalls, 0);
    });
    OSAL_LogHookSet(nullptr);
    UKO_SecFuncErrHookSet(nullptr);
    EXPECT_EQ(g_hookCalls, 0);
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// ---- Core files ---------------------------------------------------------------------------------

TEST_F(DdmLog, CorePatternIsKeptAndTheKernelSettingLeftAlone) {
    const std::string before = ReadFile("/proc/sys/kernel/core_pattern");
    ASSERT_EQ(DDM_LogEnvInit(0), 0u);
    char pattern[1024] = {};
    ddmCorePatternGet(pattern, sizeof(pattern));
    EXPECT_EQ(std::string(pattern), dir_ + "/pid_%P_index_%I.core");

    EXPECT_EQ(DDM_CoreFileSet((dir_ + "/").c_str()), 0u);
    ddmCorePatternGet(pattern, sizeof(pattern));
    EXPECT_EQ(std::string(pattern), dir_ + "/pid_%P_index_%I.core");

    EXPECT_EQ(DDM_CoreFileSet(nullptr), 1u);
    EXPECT_EQ(DDM_CoreFileSet(""), 1u);
    EXPECT_EQ(DDM_CoreFileSet((env_->Root() + "/missing").c_str()), 1u);
    EXPECT_EQ(ReadFile("/proc/sys/kernel/core_pattern"), before);
}

TEST(DdmCore, LimitIsRaisedAsFarAsTheProcessMay) {
    struct Case {
        const char* name;
        rlim_t hard;         // hard limit set before; RLIM_INFINITY: left alone
        bool unprivileged;   // drop root before the call
        rlim_t expectedSoft;
    } cases[] = {
        {"hard limit unlimited", RLIM_INFINITY, false, 0x7FFFFFFFFFFFFFFFull},
        {"hard limit below, unprivileged", 8192, true, 8192},
    };
    for (const Case& c : cases) {
        auto r = vt_test::RunInChild([&c] {
            SCOPED_TRACE(c.name);
            rlimit start{};
            ASSERT_EQ(getrlimit(RLIMIT_CORE, &start), 0);
            if (c.hard == RLIM_INFINITY && start.rlim_max != RLIM_INFINITY) return;  // cannot set up
            const rlimit low{0, c.hard == RLIM_INFINITY ? start.rlim_max : c.hard};
            ASSERT_EQ(setrlimit(RLIMIT_CORE, &low), 0);
            if (c.unprivileged && geteuid() == 0) {
                ASSERT_EQ(setuid(65534), 0);
            }
            EXPECT_EQ(DDM_CoreDumpEnable(), 0u);
            rlimit after{};
            ASSERT_EQ(getrlimit(RLIMIT_CORE, &after), 0);
            EXPECT_EQ(after.rlim_cur, c.expectedSoft);
            EXPECT_EQ(DDM_CoreDumpDisable(), 0u);
            ASSERT_EQ(getrlimit(RLIMIT_CORE, &after), 0);
            EXPECT_EQ(after.rlim_cur, 0u);
        });
        EXPECT_TRUE(vt_test::ExitedWith(r)) << c.name;
    }
}

// ---- Helpers of the log's interface -------------------------------------------------------------

TEST(DdmTable, LookupStopsAtTheFirstNegativeKey) {
    DDM_TABLE_RECORD table[] = {
        {0, 5, {50, 51, 52}}, {0, 7, {70, 71, 72}}, {0, 5, {99, 0, 0}}, {0, -1, {0, 0, 0}},
        {0, 9, {90, 0, 0}}};
    EXPECT_EQ(DDM_TableLookup(5, table), &table[0].auiValue[0]);
    EXPECT_EQ(DDM_TableLookup(7, table), &table[1].auiValue[0]);
    EXPECT_EQ(*DDM_TableLookup(7, table), 70u);
    EXPECT_EQ(DDM_TableLookup(9, table), nullptr) << "behind the end mark";
    EXPECT_EQ(DDM_TableLookup(-1, table), nullptr);
    EXPECT_EQ(DDM_TableLookup(3, table), nullptr);
    EXPECT_EQ(DDM_TableLookup(5, nullptr), nullptr);
}

TEST(DdmSprintf, FitsOrLeavesTheBufferEmpty) {
    char buf[8];
    EXPECT_EQ(DDM_Sprintf(buf, sizeof(buf), "%u-%s", 12u, "ab"), 5);
    EXPECT_STREQ(buf, "12-ab");
    EXPECT_EQ(DDM_Sprintf(buf, sizeof(buf), "%s", "too long text"), -1);
    EXPECT_STREQ(buf, "");
}

}  // namespace
