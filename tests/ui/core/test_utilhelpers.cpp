// The shared rules of the windows: text cutting, version and octet rules, validators as
// a user types, list and file searches, the log folder and the installed languages.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QString>
#include <QStringList>

#include "ui_env_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "utilhelpers.h"
#include "vt_test/temp_env.h"

namespace {

QString U8(const char* s) { return QString::fromUtf8(s); }

struct VersionCase {
    const char* newVersion;
    const char* oldVersion;
    bool higher;
};

TEST(UtilCompareVersion, PartsCompareAsNumbers) {
    ui_test::LinkSetUp();
    const VersionCase cases[] = {
        {"7.0.2.34", "7.0.2.33", true},  {"7.0.2.33", "7.0.2.34", false},
        {"7.0.2.33", "7.0.2.33", false}, {"7.0.10.1", "7.0.9.1", true},
        {"7.0.9.1", "7.0.10.1", false},  {"8.0.0.0", "7.9.9.9", true},
        {"7.0.2", "7.0.2.33", false},    {"7.0.2.34", "7.0.2", false},
        {"7.0.2.33.1", "7.0.2.33", false}, {"7..0.2.34", "7.0.2.33", true},
        {"7.0.x.1", "7.0.0.0", true},    {"", "", false},
    };
    for (const VersionCase& c : cases) {
        EXPECT_EQ(Util_CompareVersion(c.newVersion, c.oldVersion), c.higher)
            << c.newVersion << " against " << c.oldVersion;
    }
}

TEST(UtilCompareVersion, LogsTheFirstDifferingPart) {
    ui_test::LinkSetUp();
    const size_t oldBefore = ui_test::LogCount("[Downloading][* intold is9]");
    const size_t newBefore = ui_test::LogCount("[Downloading][* intnew is10]");
    EXPECT_TRUE(Util_CompareVersion("7.0.10.1", "7.0.9.1"));
    EXPECT_EQ(ui_test::LogCount("[Downloading][* intold is9]"), oldBefore + 1);
    EXPECT_EQ(ui_test::LogCount("[Downloading][* intnew is10]"), newBefore + 1);
}

TEST(UtilCheckFirstOctet, ClampsToOneTo223) {
    const char* cases[][2] = {
        {"0.1.2.3", "1.1.2.3"},       {"224.0.0.1", "223.0.0.1"}, {"223.0.0.1", "223.0.0.1"},
        {"10.0.0.1", "10.0.0.1"},     {"1.0.0.1", "1.0.0.1"},     {"abc.1", "1.1"},
        {"-5.1.1.1", "1.1.1.1"},      {"999999999999999999999.1", "223.1"},
        {".1.2.3", ".1.2.3"},         {"", ""},
        // A text without a dot is a lone first octet.
        {"0", "1"},                   {"300", "223"},             {"12", "12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Util_CheckFirstOctet(c[0]), QString(c[1])) << c[0];
    }
}

TEST(UtilTexts, HostAndPortSplitAtTheLastColon) {
    const char* cases[][3] = {
        {"10.1.1.1:443", "10.1.1.1", "443"},
        {"vpn.example.test", "vpn.example.test", "vpn.example.test"},
        {"fe80::1:8443", "fe80::1", "8443"},
        {"host:", "host", ""},
        {":443", "", "443"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Util_GetHost(c[0]), QString(c[1])) << c[0];
        EXPECT_EQ(Util_GetPort(c[0]), QString(c[2])) << c[0];
    }
}

TEST(UtilTexts, NamesAndNumbers) {
    EXPECT_EQ(Util_GetIniFileName("work"), QString("work.ini"));
    EXPECT_EQ(Util_GetIniFileName(""), QString(".ini"));
    const char* baseCases[][2] = {
        {"7.0.2.33", "7.0.2"}, {"report.tar.gz", "report.tar"}, {"plain", "plain"}, {".hidden", ""},
    };
    for (const auto& c : baseCases) {
        EXPECT_EQ(Util_GetFileBaseName(c[0]), QString(c[1])) << c[0];
        EXPECT_EQ(Util_StripLastSuffix(c[0]), QString(c[1])) << c[0];
    }
    const std::pair<const char*, int> numberCases[] = {
        {"7.0.2.33", 33}, {"42", 42}, {"7.0.2.x", 0}, {"7.0.2.", 0}, {"", 0},
    };
    for (const auto& c : numberCases) {
        EXPECT_EQ(Util_GetLastNumber(c.first), c.second) << c.first;
    }
}

TEST(UtilTexts, Utf8LengthCountsBytes) {
    const QString zhong = QString(QChar(0x4E2D));
    struct Case {
        QString text;
        int max;
        bool fits;
    } cases[] = {
        {"abc", 3, true},
        {"abc", 2, false},
        {zhong, 3, true},          // one character, three bytes
        {zhong, 2, false},
        {zhong + "a", 3, false},
        {"", 0, true},
        {QString("ab") + QChar(0) + "cdef", 2, true},  // counted up to the zero byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Util_CheckUtf8Length(c.text, c.max), c.fits) << c.text.toStdString() << " " << c.max;
    }
}

TEST(UtilCheckPort, KeepsValidPortsElse443) {
    const std::pair<unsigned int, int> cases[] = {
        {0u, 0}, {443u, 443}, {65535u, 65535}, {65536u, 443}, {UINT_MAX, 443},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Util_CheckPort(c.first), c.second) << c.first;
    }
}

// Types the text into the line edit one key at a time, as a user would.
void Type(QLineEdit& edit, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(&edit, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(&edit, &release);
    }
}

TEST(UtilValidators, RefuseWhatTheFieldMustNotHold) {
    const QString zhong = QString(QChar(0x4E2D));
    const QString first = QString(QChar(0x4E00));
    const QString last = QString(QChar(0x9FA5));
    const QString beyond = QString(QChar(0x9FA6));
    const QString x128(128, QLatin1Char('x'));
    const QString x127(127, QLatin1Char('x'));
    struct Case {
        const char* name;
        void (*set)(QLineEdit*);
        QString typed;
        QString kept;
    } cases[] = {
        {"names: comma", Util_SetNameValidator, "a,b", "ab"},
        {"names: question, quote, slash", Util_SetNameValidator, "a?b\"c/d", "abcd"},
        {"names: Chinese and blanks allowed", Util_SetNameValidator, "a " + zhong, "a " + zhong},
        {"names: 128th character", Util_SetNameValidator, x128, x127},
        {"no Chinese: ideograph", Util_SetNoChineseValidator, "a" + zhong + "b", "ab"},
        {"no Chinese: range ends", Util_SetNoChineseValidator, first + last + "c", "c"},
        {"no Chinese: beyond the range", Util_SetNoChineseValidator, beyond + ",", beyond + ","},
        {"no Chinese: 128th character", Util_SetNoChineseValidator, x128, x127},
        {"accounts: allowed set", Util_SetAccountValidator, "Ab9._" + zhong, "Ab9._" + zhong},
        {"accounts: other characters", Util_SetAccountValidator, "a-b c@d,e", "abcde"},
        {"accounts: beyond the range", Util_SetAccountValidator, "a" + beyond, "a"},
        {"accounts: 128th character", Util_SetAccountValidator, x128, x127},
    };
    for (const Case& c : cases) {
        QLineEdit edit;
        c.set(&edit);
        Type(edit, c.typed);
        EXPECT_EQ(edit.text(), c.kept) << c.name;
    }
}

TEST(UtilErrorStyle, SetAndClear) {
    QLineEdit edit;
    Util_SetErrorStyle(&edit);
    EXPECT_EQ(edit.styleSheet(),
              QString("border:1px solid #e1e0e0;border-color: rgb(255, 0, 0);color:black;"));
    Util_ClearErrorStyle(&edit);
    EXPECT_TRUE(edit.styleSheet().isEmpty());
    Util_SetErrorStyle(nullptr);
    Util_ClearErrorStyle(nullptr);
}

TEST(UtilLists, ExactMatchesAndParallelPairs) {
    const QStringList names = {"work", "home", "lab"};
    EXPECT_TRUE(Util_ListContains(names, "home"));
    EXPECT_FALSE(Util_ListContains(names, "Home"));
    EXPECT_FALSE(Util_ListContains(names, "hom"));
    EXPECT_FALSE(Util_ListContains({}, ""));

    const QStringList hosts = {"a", "b", "c"};
    const QStringList ports = {"1", "2"};
    EXPECT_TRUE(Util_FindPair(hosts, ports, "b", "2"));
    EXPECT_FALSE(Util_FindPair(hosts, ports, "b", "1"));   // same values, other rows
    EXPECT_FALSE(Util_FindPair(hosts, ports, "c", ""));    // no second entry for c
    EXPECT_FALSE(Util_FindPair(ports, hosts, "2", "c"));
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

TEST(UtilGetFileList, WalksExistingFoldersOnly) {
    vt_test::TempEnv env;
    const std::string root = env.Tmp() + "/logs";
    const std::string empty = env.Tmp() + "/empty";
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/sub").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);
    WriteFile(root + "/a.log", "a");
    WriteFile(root + "/b.txt", "b");
    WriteFile(root + "/sub/c.log", "c");
    ASSERT_EQ(symlink((root + "/a.log").c_str(), (root + "/link.log").c_str()), 0);

    const QString missing = QString::fromStdString(env.Tmp() + "/missing");
    QStringList files = {"kept"};
    EXPECT_FALSE(Util_GetFileList({missing, ""}, {"*.log"}, files));
    EXPECT_EQ(files, QStringList({"kept"}));

    EXPECT_TRUE(Util_GetFileList({missing, QString::fromStdString(empty)}, {"*.log"}, files));
    EXPECT_EQ(files, QStringList({"kept"}));

    EXPECT_TRUE(Util_GetFileList({QString::fromStdString(root)}, {"*.log"}, files));
    files.sort();
    EXPECT_EQ(files, QStringList({QString::fromStdString(root + "/a.log"),
                                  QString::fromStdString(root + "/sub/c.log"), "kept"}));
}

TEST(UtilGetLogDir, KeepsUtf8FolderNames) {
    ui_test::LinkSetUp();
    // Kana and Hangul: bytes that a Chinese code page reads as other characters.
    const QString install = U8("/opt/\xE3\x81\x8B\xE3\x81\xAA/\xED\x95\x9C\xEA\xB8\x80");
    uiInstallPathSet(install.toUtf8().constData());
    const QString dir = Util_GetLogDir();
    uiInstallPathSet(nullptr);
    EXPECT_EQ(dir, install + "/log");
    EXPECT_EQ(ui_test::LogCount(("[Util get logDir][logDir is " + dir + "]").toStdString()), 1u);
}

TEST(UtilIsLanguageInstalled, NeedsAnEntryAndALabel) {
    vt_test::TempEnv env;
    const std::string res = env.Tmp() + "/res/";
    ASSERT_EQ(mkdir(res.c_str(), 0700), 0);
    UIContext::GetInstance()->SetResourceDir(QString::fromStdString(res));
    EXPECT_FALSE(Util_IsLanguageInstalled(2052)) << "no language folder, no list";

    ASSERT_EQ(mkdir((res + "language").c_str(), 0700), 0);
    for (const char* id : {"2052", "1033", "1031"}) {
        ASSERT_EQ(mkdir((res + "language/" + id).c_str(), 0700), 0);
    }
    EXPECT_FALSE(Util_IsLanguageInstalled(2052)) << "folders but no list";

    WriteFile(res + "language/language.ini",
              "2052=Chinese-\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87\n"
              "1033=English-\n"
              "1036=French-Fran\xC3\xA7" "ais\n"
              "1041=Japanese\n");
    ASSERT_EQ(mkdir((res + "language/1041").c_str(), 0700), 0);
    const std::pair<int, bool> cases[] = {
        {2052, true},   // folder and a label
        {1033, false},  // the value ends with "-"
        {1031, false},  // a folder the list does not name
        {1036, false},  // named by the list, no folder
        {1041, true},   // a value without "-" is its own label
        {0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Util_IsLanguageInstalled(c.first), c.second) << c.first;
    }
    UIContext::GetInstance()->SetResourceDir(QString());
}

}  // namespace
