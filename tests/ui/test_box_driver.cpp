// The box driver itself: it must see what a box really shows, answer it from inside the
// box's own event loop, and never let a box hang a test: a box nobody expected, or an
// answer the box has no button for, fails the test and the box still ends.

#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "vt_qt_test/box_driver.h"

namespace {

using vt_qt_test::BoxDriver;

// A box of the kind the front end shows: custom buttons, no parent.
int ShowBox(QMessageBox::Icon icon, const QString& title, const QString& text,
            const QStringList& captions) {
    QMessageBox box(icon, title, text, QMessageBox::NoButton, nullptr);
    for (int i = 0; i < captions.size(); ++i) {
        box.addButton(captions[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    }
    return box.exec();
}

TEST(BoxDriverTest, RecordsAndClicksTheNamedButton) {
    BoxDriver driver;
    driver.Answer("Later");
    driver.Answer("&Now");  // mnemonics are ignored on both sides
    EXPECT_EQ(ShowBox(QMessageBox::Question, "Update", "Install?", {"&Now", "Later"}), 1);
    EXPECT_EQ(ShowBox(QMessageBox::Information, "Update", "Again?", {"&Now", "Later"}), 0);
    ASSERT_EQ(driver.Seen().size(), 2u);
    const vt_qt_test::SeenBox& first = driver.Seen()[0];
    EXPECT_EQ(first.className, "QMessageBox");
    EXPECT_EQ(first.icon, static_cast<int>(QMessageBox::Question));
    EXPECT_EQ(first.title, "Update");
    EXPECT_EQ(first.text, "Install?");
    EXPECT_EQ(first.buttons, QStringList({"Now", "Later"}));
    EXPECT_EQ(first.answer, "Later");
    EXPECT_TRUE(first.modal);
    EXPECT_FALSE(first.hasParent);
    EXPECT_EQ(driver.Seen()[1].icon, static_cast<int>(QMessageBox::Information));
}

// A dialog of the front end's own: its visible labels are its text.
TEST(BoxDriverTest, DescribesAPlainDialog) {
    BoxDriver driver;
    driver.Answer("Apply");
    QDialog dialog;
    dialog.setWindowTitle("Options");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel("Language"));
    auto* hidden = new QLabel("not shown");
    layout->addWidget(hidden);
    hidden->hide();
    auto* buttons = new QDialogButtonBox;
    QPushButton* apply = buttons->addButton("Apply", QDialogButtonBox::AcceptRole);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    QObject::connect(apply, &QPushButton::clicked, &dialog, &QDialog::accept);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].className, "QDialog");
    EXPECT_EQ(driver.Seen()[0].icon, -1);
    EXPECT_EQ(driver.Seen()[0].title, "Options");
    EXPECT_EQ(driver.Seen()[0].text, "Language");
    EXPECT_EQ(driver.Seen()[0].buttons, QStringList({"Apply", "Cancel"}));
}

// The failures below are expected ones; the statements reach the driver through here.
BoxDriver* g_driver = nullptr;
int g_result = 0;

TEST(BoxDriverTest, AnUnexpectedBoxFailsTheTestAndIsDismissed) {
    BoxDriver driver;
    g_driver = &driver;
    EXPECT_NONFATAL_FAILURE(
        g_result = ShowBox(QMessageBox::Warning, "Warning", "surprise", {"OK", "Cancel"}),
        "unexpected box \"Warning\": surprise");
    EXPECT_EQ(g_result, 1);  // Escape: the reject button
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].answer, BoxDriver::kEscape);
    EXPECT_EQ(BoxDriver::FindVisibleBox(), nullptr);
}

TEST(BoxDriverTest, AMissingButtonFailsTheTestAndTheBoxStillEnds) {
    BoxDriver driver;
    g_driver = &driver;
    driver.Answer("Retry");
    EXPECT_NONFATAL_FAILURE(ShowBox(QMessageBox::Critical, "Error", "x", {"OK"}),
                            "has no button \"Retry\"; buttons: OK");
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_TRUE(driver.Seen()[0].ignored);
    EXPECT_EQ(BoxDriver::FindVisibleBox(), nullptr);
}

// A box that refuses Escape (no reject button and more than one button) is still ended,
// and the record says the answer was ignored.
TEST(BoxDriverTest, ABoxThatIgnoresEscapeIsEndedAndMarked) {
    BoxDriver driver;
    driver.Answer(BoxDriver::kEscape);
    QMessageBox box(QMessageBox::Question, "Q", "which?", QMessageBox::NoButton, nullptr);
    box.addButton("A", QMessageBox::AcceptRole);
    box.addButton("B", QMessageBox::AcceptRole);
    (void)box.exec();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_TRUE(driver.Seen()[0].ignored);
    EXPECT_FALSE(box.isVisible());
}

TEST(BoxDriverTest, AnAnswerNeverUsedFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            BoxDriver driver;
            driver.Answer("OK");
        },
        "queued answer(s) never used, first: OK");
}

}  // namespace

namespace {

// The shared main fails a test on a connection Qt could not make by name.
// A function answer works on the shown dialog as a user would: typed keys reach the
// field's own signals, and a click on a button by name ends it.
TEST(BoxDriverTest, AFunctionAnswerTypesIntoFieldsAndClicksByName) {
    BoxDriver driver;
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* field = new QLineEdit(QStringLiteral("old"), &dialog);
    field->setObjectName(QStringLiteral("le_name"));
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(QStringLiteral("pb_ok"));
    layout->addWidget(field);
    layout->addWidget(ok);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QStringList edits;
    QObject::connect(field, &QLineEdit::textEdited, [&edits](const QString& t) { edits << t; });
    bool typed = false;
    bool clicked = false;
    driver.AnswerWith(
        [&](QWidget* box) {
            EXPECT_FALSE(BoxDriver::TypeInto(box, QStringLiteral("le_missing"), QStringLiteral("x")));
            typed = BoxDriver::TypeInto(box, QStringLiteral("le_name"), QStringLiteral("ab"));
            clicked = BoxDriver::ClickButton(box, QStringLiteral("pb_ok"));
        },
        QStringLiteral("fill"));
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(typed);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(field->text(), "ab");
    EXPECT_EQ(edits, QStringList({"a", "ab"}));  // the old text was replaced by the first key
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].answer, "fill");

    // Characters beyond ASCII are typed too, one edit each, a surrogate pair as one.
    edits.clear();
    const QString mixed = QString::fromUtf8("aé中😀");
    EXPECT_TRUE(BoxDriver::TypeInto(&dialog, QStringLiteral("le_name"), mixed));
    EXPECT_EQ(field->text(), mixed);
    EXPECT_EQ(edits.size(), 4);
}

// A window that ends by itself is only recorded: the driver neither presses Escape nor
// rejects it.
TEST(BoxDriverTest, ALetEndAnswerLeavesTheWindowToEndByItself) {
    BoxDriver driver;
    driver.AnswerLetEnd();
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Progress"));
    QTimer::singleShot(200, &dialog, [&dialog]() { dialog.done(7); });
    EXPECT_EQ(dialog.exec(), 7);
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].title, "Progress");
    EXPECT_FALSE(driver.Seen()[0].ignored);
}

// Qt's own file dialog, as the static functions open it here, picks the file given.
TEST(BoxDriverTest, AFileDialogIsAnsweredWithAPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("profile.ini"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    BoxDriver driver;
    driver.AnswerWith([&](QWidget* box) { EXPECT_TRUE(BoxDriver::ChooseFile(box, path)); });
    driver.Answer(BoxDriver::kEscape);
    EXPECT_EQ(QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open"), dir.path(),
                                           QStringLiteral("(*.ini)")),
              path);
    EXPECT_TRUE(QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open"), dir.path()).isEmpty());
    EXPECT_FALSE(BoxDriver::ChooseFile(nullptr, path));
}

TEST(QtTestMainTest, AFailedConnectByNameFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            QObject sender;
            QObject receiver;
            QObject::connect(&sender, SIGNAL(noSuchSignal()), &receiver, SLOT(deleteLater()));
        },
        "QObject::connect:");
}

}  // namespace
