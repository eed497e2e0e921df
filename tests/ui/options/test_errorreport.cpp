// The log file viewer over a fixture log folder: which files become rows and in what
// order, their type and size texts, the table's behaviour, the text shown for a click
// (line ends, empty and vanished files, paths at the length limit), the dump refusal,
// the tool tips, and a missing folder.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDirIterator>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>

#include "errorreport.h"
#include "report_support.h"
#include "util.h"
#include "vt_qt_test/box_driver.h"

namespace {

using report_test::Text;
using report_test::WriteAll;
using vt_qt_test::BoxDriver;

const char kLogType[] = "/UI_ERRORREPORT/UI_ERRORREPORT_LOG_TYPE";
const char kDumpType[] = "/UI_ERRORREPORT/UI_ERRORREPORT_DMP_TYPE";
const char kTextType[] = "/UI_ERRORREPORT/UI_ERRORREPORT_TXT_TYPE";

class ErrorReportTest : public ::testing::Test {
protected:
    // The folder every test lists: the files of the log folder a user may meet.
    void SetUp() override {
        ASSERT_TRUE(env.MakeLogDir());
        const QString dir = env.LogDir();
        ASSERT_TRUE(QDir().mkpath(dir + "/sub"));
        ASSERT_TRUE(QDir().mkpath(dir + "/.hiddendir"));
        const struct {
            const char* name;
            QByteArray bytes;
        } files[] = {
            {"a.log", "line one\nline two\n"},
            {"a.log.1", "older\n"},
            {"A.LOG", "upper\n"},
            {"x.bin", QByteArray(2048, 'b')},
            {"x.dmp", "MDMP"},
            {"pid_12_index_0.core", "ELF"},
            {".hidden", "hidden\n"},
            {".hiddendir/h.log", "hidden too\n"},
            {"sub/a.log", "in the subfolder\n"},
            {"sub/error_detail.txt", "description\n"},
            {"error_detail.txt", "description\n"},
            {"Error_Detail.txt", "listed\n"},
            {"empty.txt", ""},
            {"crlf.txt", "a\r\nb\r\n"},
            {"nolf.txt", "x"},
        };
        for (const auto& f : files) {
            ASSERT_TRUE(WriteAll(dir + "/" + f.name, f.bytes)) << f.name;
        }
        ASSERT_TRUE(WriteAll(env.Tmp() + "/secret", "secret\n"));
        ASSERT_EQ(symlink((env.Tmp() + "/secret").toLocal8Bit().constData(),
                          (dir + "/link.log").toLocal8Bit().constData()),
                  0);
    }

    // A viewer set up as the fault report dialog sets it up, shown without its own loop
    // so that the test can click into it.
    std::unique_ptr<ErrorReport> Open() {
        auto viewer = std::make_unique<ErrorReport>(nullptr);
        viewer->Init();
        driver.AnswerLetEnd();
        viewer->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
        return viewer;
    }

    static QTableWidget* Table(ErrorReport& v) { return v.findChild<QTableWidget*>("tw_error"); }
    static QString Shown(ErrorReport& v) {
        return v.findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText();
    }
    static QLabel* PathLabel(ErrorReport& v) { return v.findChild<QLabel*>("l_Path"); }

    // The row whose column 0 holds that absolute path; -1 when none does.
    static int RowOf(ErrorReport& v, const QString& path) {
        QTableWidget* table = Table(v);
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, 0)->data(Qt::UserRole).toString() == path) {
                return row;
            }
        }
        return -1;
    }

    // A user's click on a cell of the row.
    static void ClickRow(ErrorReport& v, int row, int column = 0) {
        QTableWidget* table = Table(v);
        QTableWidgetItem* item = table->item(row, column);
        ASSERT_NE(item, nullptr);
        table->scrollToItem(item);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                          table->visualItemRect(item).center());
    }

    report_test::ReportEnv env;
    BoxDriver driver;
};

TEST_F(ErrorReportTest, RowsAreTheListedFilesInWalkOrder) {
    auto viewer = Open();
    QTableWidget* table = Table(*viewer);
    const QString dir = env.LogDir();

    // The walk's own order, unsorted: every visible regular file of the folder and of
    // its visible subfolders, without the description file.
    QStringList walked;
    QDirIterator it(dir, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName() != "error_detail.txt") {
            walked << QFileInfo(path).absoluteFilePath();
        }
    }
    QStringList rows, names;
    for (int row = 0; row < table->rowCount(); ++row) {
        rows << table->item(row, 0)->data(Qt::UserRole).toString();
        names << table->item(row, 0)->text();
    }
    EXPECT_EQ(rows, walked);
    QStringList expected{"a.log", "a.log.1", "A.LOG", "x.bin", "x.dmp", "pid_12_index_0.core",
                         "a.log", "Error_Detail.txt", "empty.txt", "crlf.txt", "nolf.txt"};
    QStringList sortedNames = names;
    sortedNames.sort();
    expected.sort();
    EXPECT_EQ(sortedNames, expected) << names.join(", ").toStdString();

    // Type and size texts, alignments, the empty detail column.
    const struct {
        const char* path;
        QString type;
        const char* size;
    } cells[] = {
        {"a.log", Text(kLogType), "18B"},
        {"a.log.1", QString(), "6B"},
        {"A.LOG", QString(), "6B"},
        {"x.bin", QString(), "2048B"},
        {"x.dmp", Text(kDumpType), "4B"},
        {"pid_12_index_0.core", Text(kDumpType), "3B"},
        {"sub/a.log", Text(kLogType), "17B"},
        {"Error_Detail.txt", Text(kTextType), "7B"},
        {"empty.txt", Text(kTextType), "0B"},
    };
    for (const auto& c : cells) {
        const int row = RowOf(*viewer, dir + "/" + c.path);
        ASSERT_GE(row, 0) << c.path;
        EXPECT_EQ(table->item(row, 1)->text(), QString()) << c.path;
        EXPECT_EQ(table->item(row, 2)->text(), c.type) << c.path;
        EXPECT_EQ(table->item(row, 3)->text(), QString(c.size)) << c.path;
        EXPECT_EQ(table->item(row, 0)->textAlignment(), int(Qt::AlignLeft)) << c.path;
        EXPECT_EQ(table->item(row, 3)->textAlignment(), int(Qt::AlignRight)) << c.path;
        EXPECT_EQ(table->rowHeight(row), 30) << c.path;
    }

    // Headers, texts and what the table lets a user do.
    const char* headerKeys[] = {"/UI_ERRORREPORT/UI_ERRORREPORT_FILENAME",
                                "/UI_ERRORREPORT/UI_ERRORREPORT_FILEDETAILE",
                                "/UI_ERRORREPORT/UI_ERRORREPORT_FILETYPEE",
                                "/UI_ERRORREPORT/UI_ERRORREPORT_FILESIZEE"};
    ASSERT_EQ(table->columnCount(), 4);
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(table->horizontalHeaderItem(column)->text(), Text(headerKeys[column]));
        EXPECT_FALSE(Text(headerKeys[column]).isEmpty());
    }
    EXPECT_EQ(table->horizontalHeaderItem(3)->textAlignment(), int(Qt::AlignRight));
    EXPECT_EQ(viewer->windowTitle(), Text("/UI_ERRORREPORT/UI_ERRORREPORT_TITLE"));
    EXPECT_EQ(viewer->findChild<QLabel*>("label")->text(), Text("/UI_ERRORREPORT/UI_ERRORREPORT_PATH"));
    EXPECT_EQ(viewer->findChild<QLabel*>("label_2")->text(), Text("/UI_ERRORREPORT/UI_ERRORREPORT_DETAILE"));
    EXPECT_EQ(viewer->minimumSize(), QSize(469, 424));
    EXPECT_EQ(viewer->maximumSize(), QSize(469, 424));
    EXPECT_EQ(table->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(table->horizontalHeader()->sectionsClickable());
    EXPECT_EQ(table->horizontalHeader()->height(), 30);
    EXPECT_TRUE(table->verticalHeader()->isHidden());
    EXPECT_EQ(viewer->findChild<QPlainTextEdit*>("plainTextEdit")->focusPolicy(), Qt::ClickFocus);

    // A double click edits nothing.
    const int row = RowOf(*viewer, dir + "/a.log");
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                       table->visualItemRect(table->item(row, 0)).center());
    EXPECT_EQ(table->item(row, 0)->text(), QString("a.log"));
    EXPECT_NE(QApplication::focusWidget(), table);
}

// What a click shows: every line ended by one line feed, whatever ended it in the file.
TEST_F(ErrorReportTest, ClickShowsTheFileWithLineFeeds) {
    auto viewer = Open();
    const QString dir = env.LogDir();
    const struct {
        const char* path;
        int column;
        QString shown;
    } cases[] = {
        {"crlf.txt", 0, "a\nb\n"},
        {"nolf.txt", 2, "x\n"},
        {"empty.txt", 3, ""},
        {"a.log", 0, "line one\nline two\n"},
        {"sub/a.log", 1, "in the subfolder\n"},
        {"a.log.1", 0, "older\n"},
    };
    for (const auto& c : cases) {
        const QString path = dir + "/" + c.path;
        const int row = RowOf(*viewer, path);
        ASSERT_GE(row, 0) << c.path;
        ClickRow(*viewer, row, c.column);
        EXPECT_EQ(Shown(*viewer), c.shown) << c.path;
        EXPECT_EQ(PathLabel(*viewer)->text(), path) << c.path;
        EXPECT_EQ(viewer->findChild<QLabel*>("l_Detail")->text(), QString());
    }
    EXPECT_TRUE(driver.Seen().size() == 1u) << "no box for a text file";

    // A second click reloads the file; a file gone since the listing shows nothing.
    const QString log = dir + "/a.log";
    ASSERT_TRUE(WriteAll(log, "changed\r\n"));
    ClickRow(*viewer, RowOf(*viewer, log));
    EXPECT_EQ(Shown(*viewer), QString("changed\n"));
    ASSERT_TRUE(QFile::remove(log));
    ClickRow(*viewer, RowOf(*viewer, log));
    EXPECT_EQ(Shown(*viewer), QString());
    EXPECT_EQ(PathLabel(*viewer)->text(), log);
}

// Dumps are refused with a warning box and never opened, whatever was shown before.
TEST_F(ErrorReportTest, DumpRowsAreRefused) {
    auto viewer = Open();
    for (const char* name : {"x.dmp", "pid_12_index_0.core"}) {
        ClickRow(*viewer, RowOf(*viewer, env.LogDir() + "/crlf.txt"));
        ASSERT_FALSE(Shown(*viewer).isEmpty());
        driver.Clear();
        driver.Answer("OK");
        const QString path = env.LogDir() + "/" + name;
        ClickRow(*viewer, RowOf(*viewer, path));
        ASSERT_EQ(driver.Seen().size(), 1u) << name;
        const vt_qt_test::SeenBox& box = driver.Seen()[0];
        EXPECT_EQ(box.icon, int(QMessageBox::Warning));
        EXPECT_EQ(box.title, LanguageSetting::GetInstance()->GetGlobalLang().WARNING);
        EXPECT_EQ(box.text, Text("/UI_ERRORREPORT/UI_ERRORREPORT_DUMP_FORBID"));
        EXPECT_FALSE(box.text.isEmpty());
        EXPECT_EQ(box.buttons, QStringList{"OK"});
        EXPECT_EQ(Shown(*viewer), QString()) << name;
        EXPECT_EQ(PathLabel(*viewer)->text(), path) << name;
    }
}

// A path of up to 1024 bytes is opened; one of 1025 leaves the viewer empty and the
// labels as they were.
TEST_F(ErrorReportTest, PathLengthLimit) {
    const QString dir = env.LogDir() + "/deep";
    QStringList made;
    for (const int length : {1024, 1025}) {
        QString path = dir;
        while (path.size() < length) {
            const int left = length - path.size();
            path += "/" + QString(qMin(200, left - 1), length == 1024 ? 'a' : 'b');
        }
        ASSERT_EQ(path.toLocal8Bit().size(), length);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ASSERT_TRUE(WriteAll(path, "deep\n"));
        made << path;
    }
    auto viewer = Open();
    ClickRow(*viewer, RowOf(*viewer, made[0]));
    EXPECT_EQ(Shown(*viewer), QString("deep\n"));
    EXPECT_EQ(PathLabel(*viewer)->text(), made[0]);
    ClickRow(*viewer, RowOf(*viewer, made[1]));
    EXPECT_EQ(Shown(*viewer), QString());
    EXPECT_EQ(PathLabel(*viewer)->text(), made[0]) << "the labels keep their texts";
}

// Entering a label puts its whole text into its tool tip; before a click both are empty.
TEST_F(ErrorReportTest, LabelsShowTheirTextAsToolTip) {
    auto viewer = Open();
    QLabel* path = PathLabel(*viewer);
    QLabel* detail = viewer->findChild<QLabel*>("l_Detail");
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(path, &enter);
    EXPECT_EQ(path->toolTip(), QString());
    EXPECT_EQ(detail->toolTip(), QString());
    ClickRow(*viewer, RowOf(*viewer, env.LogDir() + "/sub/a.log"));
    EXPECT_EQ(path->toolTip(), QString()) << "set on entering, not on the click";
    QApplication::sendEvent(path, &enter);
    EXPECT_EQ(path->toolTip(), env.LogDir() + "/sub/a.log");
    detail->setText("a detail");
    QApplication::sendEvent(detail, &enter);
    EXPECT_EQ(detail->toolTip(), QString("a detail"));
}

TEST_F(ErrorReportTest, FileTypeTextBySuffix) {
    ErrorReport viewer(nullptr);
    const struct {
        const char* suffix;
        const char* key;  // null: no type text
    } cases[] = {
        {"txt", kTextType},
        {"xml", "/UI_ERRORREPORT/UI_ERRORREPORT_XML_TYPE"},
        {"dmp", kDumpType},
        {"core", kDumpType},
        {"log", kLogType},
        {"log.1", nullptr},
        {"LOG", nullptr},
        {"Txt", nullptr},
        {"", nullptr},
        {"tar.gz", nullptr},
    };
    for (const auto& c : cases) {
        const QString expected = c.key != nullptr ? Text(c.key) : QString();
        EXPECT_EQ(viewer.GetFileTypeText(c.suffix), expected) << c.suffix;
        if (c.key != nullptr) {
            EXPECT_FALSE(expected.isEmpty()) << c.key << ": an empty type text would refuse files";
        }
    }
}

// Without the folder a warning box comes before the viewer, which then lists nothing;
// a folder that holds only the description lists nothing and says nothing.
TEST_F(ErrorReportTest, MissingOrEmptyFolder) {
    vt_test::RemoveTree(env.LogDir().toStdString());
    driver.Answer("OK");
    ErrorReport viewer(nullptr);
    viewer.Init();
    ASSERT_EQ(driver.Seen().size(), 1u);
    const vt_qt_test::SeenBox& box = driver.Seen()[0];
    EXPECT_EQ(box.icon, int(QMessageBox::Warning));
    EXPECT_EQ(box.title, LanguageSetting::GetInstance()->GetGlobalLang().WARNING);
    EXPECT_EQ(box.text, Text("/UI_ERRORREPORT/UI_ERRORREPORT_ERRORREPORT_FILE_PATH_INVAILD"));
    EXPECT_FALSE(box.text.isEmpty());
    EXPECT_EQ(box.buttons, QStringList{"OK"});
    EXPECT_TRUE(box.hasParent);
    EXPECT_EQ(Table(viewer)->rowCount(), 0);

    ASSERT_TRUE(env.MakeLogDir());
    ASSERT_TRUE(WriteAll(env.LogDir() + "/error_detail.txt", "description\n"));
    driver.Clear();
    ErrorReport empty(nullptr);
    empty.Init();
    EXPECT_TRUE(driver.Seen().empty());
    EXPECT_EQ(Table(empty)->rowCount(), 0);
}

}  // namespace
