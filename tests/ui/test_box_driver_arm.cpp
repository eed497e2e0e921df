// The driver armed before the code under test builds its own application, as a start
// function run in-process does: the boxes of that application are answered too. This
// program has no application of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>

#include "vt_qt_test/box_driver.h"

namespace {

using vt_qt_test::BoxDriver;

// Stands for a start function: it builds the application, asks, and ends it.
int StartAndAsk(const QString& text) {
    int argc = 1;
    char name[] = "ui_box_driver_arm";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QMessageBox box(QMessageBox::Question, "Start", text, QMessageBox::NoButton, nullptr);
    box.addButton("Go", QMessageBox::AcceptRole);
    box.addButton("Stop", QMessageBox::RejectRole);
    return box.exec();
}

TEST(BoxDriverArmTest, AnswersTheBoxesOfAnApplicationBuiltLater) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    BoxDriver driver;
    driver.ArmForNextApplication();
    driver.Answer("Stop");
    EXPECT_EQ(StartAndAsk("first start"), 1);
    // Armed stays armed: a second application in the same process is driven as well.
    driver.Answer("Go");
    EXPECT_EQ(StartAndAsk("second start"), 0);
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[0].text, "first start");
    EXPECT_EQ(driver.Seen()[0].answer, "Stop");
    EXPECT_EQ(driver.Seen()[1].text, "second start");
}

}  // namespace
