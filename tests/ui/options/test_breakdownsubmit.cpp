// The fault report dialog: its form and texts, the system information files written as
// it opens, error_detail.txt written on OK (exact bytes, replaced each time, on disk
// before the archive dialog opens), Cancel, a home whose path is too long, and the
// description that cannot be written.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include "breakdownsubmit.h"
#include "report_support.h"
#include "util.h"
#include "vt_qt_test/box_driver.h"

namespace {

using report_test::ReadAll;
using report_test::Text;
using report_test::WriteAll;
using vt_qt_test::BoxDriver;

const char kVersionKey[] = "/UI_BREAKDOWN/UI_BREAKDOWN_VERSION_INFO";

class BreakDownSubmitTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(env.MakeLogDir()); }

    QString Detail() const { return env.LogDir() + "/error_detail.txt"; }

    // Opens the dialog as the main window does and runs it; the answers queued before
    // decide what happens in it.
    void Run() {
        auto* dialog = new BreakDownSubmit(nullptr);
        dialog->Init();
        dialog->exec();
        delete dialog;
    }

    // Answers the dialog: types the description (key by key when it is ASCII, else as
    // an input method would put it in), presses OK; the archive dialog that follows is
    // closed after the description file was read as it then stood.
    void QueueDescription(const QString& typed, QByteArray* seenByArchive) {
        driver.AnswerWith([typed](QWidget* box) {
            bool ascii = true;
            for (const QChar c : typed) {
                ascii = ascii && c.unicode() < 0x80;
            }
            if (ascii) {
                const QStringList lines = typed.split('\n');
                for (int i = 0; i < lines.size(); ++i) {
                    if (i > 0) {
                        QTest::keyClick(box->findChild<QTextEdit*>("te_write"), Qt::Key_Return);
                    }
                    ASSERT_TRUE(BoxDriver::TypeInto(box, "te_write", lines[i], i == 0));
                }
            } else {
                box->findChild<QTextEdit*>("te_write")->insertPlainText(typed);
            }
            ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_ok"));
        });
        driver.AnswerWith([this, seenByArchive](QWidget* box) {
            *seenByArchive = ReadAll(Detail());
            box->close();
        });
    }

    report_test::ReportEnv env;
    BoxDriver driver;
};

TEST_F(BreakDownSubmitTest, FormTextsFocusAndFixedSize) {
    BreakDownSubmit dialog(nullptr);
    // The form's own texts until the language texts replace them.
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("故障反馈"));
    EXPECT_EQ(dialog.findChild<QPushButton*>("pb_cancel")->text(), QString::fromUtf8("取消 "));
    dialog.Init();

    EXPECT_EQ(dialog.objectName(), QString("basewidget"));
    EXPECT_EQ(dialog.minimumSize(), QSize(402, 402));
    EXPECT_EQ(dialog.maximumSize(), QSize(402, 402));
    EXPECT_EQ(dialog.styleSheet(), QString("QToolButton{\nborder:0px;\n}  "));
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_EQ(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);

    auto* logo = dialog.findChild<QLabel*>("lb_logo");
    auto* link = dialog.findChild<QPushButton*>("tb_errorMsg");
    auto* edit = dialog.findChild<QTextEdit*>("te_write");
    auto* cancel = dialog.findChild<QPushButton*>("pb_cancel");
    auto* ok = dialog.findChild<QPushButton*>("pb_ok");
    ASSERT_TRUE(logo && link && edit && cancel && ok);
    EXPECT_EQ(logo->styleSheet(), QString("border-image: url(:/Global/Resources/Icon/alert.png)"));
    EXPECT_EQ(logo->size(), QSize(51, 51));
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->font().pointSize(), 11);
    EXPECT_EQ(link->layoutDirection(), Qt::RightToLeft);
    EXPECT_TRUE(link->styleSheet().startsWith("color:rgb(0, 85, 255);"));
    EXPECT_EQ(dialog.findChild<QFrame*>("line")->frameShape(), QFrame::HLine);

    struct Shown {
        const char* object;
        QString text;
        const char* key;
    } shown[] = {
        {"l_title", dialog.findChild<QLabel*>("l_title")->text(), "/UI_BREAKDOWN/UI_BREAKDOWN_LABEL_TITLE"},
        {"l_please", dialog.findChild<QLabel*>("l_please")->text(), "/UI_BREAKDOWN/UI_BREAKDOWN_LABEL_PLEASE"},
        {"te_write", edit->placeholderText(), "/UI_BREAKDOWN/UI_BREAKDOWN_TEXTEDIT_WRITE"},
        {"tb_errorMsg", link->text(), "/UI_BREAKDOWN/UI_BREAKDOWN_TOOLBUTTON_ERRORMSG"},
        {"pb_cancel", cancel->text(), "/UI_BREAKDOWN/UI_BREAKDOWN_PUSHBUTTON_CANCEL"},
        {"pb_ok", ok->text(), "/UI_BREAKDOWN/UI_BREAKDOWN_PUSHBUTTON_OK"},
        {"title", dialog.windowTitle(), "/UI_BREAKDOWN/UI_BREAKDOWN_TITLE"},
    };
    for (const Shown& s : shown) {
        EXPECT_FALSE(s.text.isEmpty()) << s.object;
        EXPECT_EQ(s.text, Text(s.key)) << s.object;
    }
    // The accessible names stay the form's.
    EXPECT_EQ(logo->accessibleName(), QString::fromUtf8("！"));
    EXPECT_EQ(edit->accessibleName(), QString::fromUtf8("富文本框"));
    EXPECT_EQ(link->accessibleName(), QString::fromUtf8("错误信息"));
    EXPECT_EQ(ok->accessibleName(), QString::fromUtf8("确定"));
    EXPECT_EQ(cancel->accessibleName(), QString());

    // The three slots, in their order, and nothing else of the class's own.
    const QMetaObject* meta = dialog.metaObject();
    QStringList methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        methods << QString::fromLatin1(meta->method(i).methodSignature());
    }
    EXPECT_EQ(methods, (QStringList{"on_tb_errorMsg_clicked()", "on_pb_ok_clicked()",
                                  "on_pb_cancel_clicked()"}));

    // Tab leaves the description for Cancel; the link never takes the focus.
    driver.AnswerLetEnd();
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus());
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_TRUE(cancel->hasFocus());
    EXPECT_EQ(edit->toPlainText(), QString());
    EXPECT_EQ(link->focusPolicy(), Qt::NoFocus);
    dialog.hide();
}

// Opening writes the four system files into the log folder, which becomes the process's
// log folder; without a proxy the proxy file says so.
TEST_F(BreakDownSubmitTest, OpeningWritesTheSystemFiles) {
    BreakDownSubmit dialog(nullptr);
    dialog.Init();
    EXPECT_EQ(UIContext::GetInstance()->GetLogDir(), env.LogDir());
    for (const char* name : {"operate_system_info.txt", "route_info.txt", "netcard_info.txt",
                             "proxy_info.txt"}) {
        EXPECT_FALSE(ReadAll(env.LogDir() + "/" + name).isEmpty()) << name;
    }
    EXPECT_TRUE(ReadAll(env.LogDir() + "/proxy_info.txt").startsWith("proxy type is :none"));
    EXPECT_FALSE(QFile::exists(Detail())) << "only OK writes the description";
}

// The version line ends CR LF LF, the description keeps its own line feeds and ends with
// one; the file is complete on disk when the archive dialog opens.
TEST_F(BreakDownSubmitTest, OkWritesTheDescriptionExactly) {
    const QByteArray head = Text(kVersionKey).toUtf8() + "1.0\r\n\n";
    ASSERT_FALSE(Text(kVersionKey).isEmpty());
    struct Case {
        const char* typed;
        QByteArray expected;
    } cases[] = {
        {"abc", head + "abc\n"},
        {"", head + "\n"},
        {"first\nsecond", head + "first\nsecond\n"},
        {"中文说明", head + QString::fromUtf8("中文说明\n").toUtf8()},
    };
    for (const Case& c : cases) {
        driver.Clear();
        QByteArray seenByArchive;
        QueueDescription(QString::fromUtf8(c.typed), &seenByArchive);
        Run();
        ASSERT_EQ(driver.Seen().size(), 2u) << c.typed;
        EXPECT_EQ(driver.Seen()[1].className, QString("SaveErroeReportWidget"));
        EXPECT_TRUE(driver.Seen()[1].hasParent);
        EXPECT_EQ(seenByArchive, c.expected) << c.typed;
        EXPECT_EQ(ReadAll(Detail()), c.expected) << c.typed << ": replaced, never appended";
    }
    EXPECT_EQ(ui_test::LogCount("[Break down submit write error]"), 0u);
}

// Cancel writes no description and leaves an earlier one as it was.
TEST_F(BreakDownSubmitTest, CancelKeepsAnEarlierDescription) {
    ASSERT_TRUE(WriteAll(Detail(), "earlier\n"));
    driver.AnswerWith([](QWidget* box) {
        ASSERT_TRUE(BoxDriver::TypeInto(box, "te_write", "not sent"));
        ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_cancel"));
    });
    Run();
    EXPECT_EQ(driver.Seen().size(), 1u) << "no archive dialog";
    EXPECT_EQ(ReadAll(Detail()), QByteArray("earlier\n"));
    EXPECT_TRUE(QFile::exists(env.LogDir() + "/route_info.txt"));
}

// The link opens the viewer above the dialog, which is still there afterwards.
TEST_F(BreakDownSubmitTest, LinkOpensTheViewer) {
    bool openAfterViewer = false;
    driver.AnswerWith([&openAfterViewer](QWidget* box) {
        ASSERT_TRUE(BoxDriver::ClickButton(box, "tb_errorMsg"));
        openAfterViewer = box->isVisible();
        ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_cancel"));
    });
    driver.Answer(BoxDriver::kClose);
    Run();
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[1].className, QString("ErrorReport"));
    EXPECT_TRUE(driver.Seen()[1].hasParent);
    EXPECT_TRUE(openAfterViewer);
}

// The description path at the limit and one byte over it: at 1024 bytes the file is
// tried (here its folder is missing, which is logged, and the report goes on); at 1025
// only the length is logged and the dialog stays open.
TEST_F(BreakDownSubmitTest, DescriptionPathLimitAndUnwritableFile) {
    const QString tail = "/.VanTrelo/log/error_detail.txt";
    for (const int length : {1024, 1025}) {
        // A home of nested folders that do not exist, so that its log path has that length.
        QString home = env.Tmp();
        while (home.size() + tail.size() < length) {
            home += "/" + QString(qMin(200, length - tail.size() - home.size() - 1), 'h');
        }
        ASSERT_EQ((home + tail).toLocal8Bit().size(), length);
        qputenv("HOME", home.toLocal8Bit());
        const size_t lengthLines = ui_test::LogCount("[Break down submit write error][get invalid file path length]");
        const size_t openLines = ui_test::LogCount("[Break down submit write error][open error_detail.txt failed]");
        driver.Clear();
        bool openAfterOk = false;
        driver.AnswerWith([&openAfterOk](QWidget* box) {
            ASSERT_TRUE(BoxDriver::TypeInto(box, "te_write", "abc"));
            ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_ok"));
            openAfterOk = box->isVisible();
            if (openAfterOk) {
                ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_cancel"));
            }
        });
        if (length == 1024) {
            driver.Answer(BoxDriver::kClose);  // the archive dialog
        }
        Run();
        const bool tooLong = length == 1025;
        EXPECT_EQ(openAfterOk, tooLong) << length;
        EXPECT_EQ(driver.Seen().size(), tooLong ? 1u : 2u) << length;
        EXPECT_EQ(ui_test::LogCount("[Break down submit write error][get invalid file path length]"),
                  lengthLines + (tooLong ? 1 : 0)) << length;
        EXPECT_EQ(ui_test::LogCount("[Break down submit write error][open error_detail.txt failed]"),
                  openLines + (tooLong ? 0 : 1)) << length;
    }
}

}  // namespace
