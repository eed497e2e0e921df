// The notification bubble and the display of a text by style: where a bubble appears,
// that it rises by its own height, stands, and goes away by itself; which style shows
// what. States are watched as the event loop runs, never timed.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include "bubblingwidget.h"
#include "languagesetting.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "util.h"
#include "vt_qt_test/box_driver.h"

namespace {

const QString kRuntime = QStringLiteral(VT_TEST_RUNTIME_DIR);

// Runs the event loop in short turns until pred holds or the time is up; each turn
// also calls watch, so a test sees every state the loop passes through.
bool RunUntil(const std::function<bool()>& pred, int timeoutMs,
              const std::function<void()>& watch = [] {}) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        watch();
        if (pred()) {
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return pred();
}

std::vector<QPointer<BubblingWidget>> Bubbles() {
    std::vector<QPointer<BubblingWidget>> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<BubblingWidget*>(w)) {
            out.emplace_back(b);
        }
    }
    return out;
}

QString LabelText(const BubblingWidget* b) {
    const QLabel* label = b->findChild<QLabel*>("label");
    return label == nullptr ? QString() : label->text();
}

class Bubble : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        LanguageSetting::GetInstance()->Init(1033, kRuntime);
        ASSERT_TRUE(Bubbles().empty());
    }
};

// Built hidden, just below the bottom edge of the primary screen's available area, at
// its right-hand side, kept above other windows.
TEST_F(Bubble, PlacedHiddenBelowTheBottomRight) {
    BubblingWidget b(nullptr);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_FALSE(b.isVisible());
    EXPECT_EQ(b.size(), QSize(276, 83));
    EXPECT_EQ(b.minimumSize(), QSize(276, 83));
    EXPECT_EQ(b.pos(), QPoint(available.width() - 276, available.height()));
    EXPECT_EQ(b.windowFlags() & Qt::WindowStaysOnTopHint, Qt::WindowStaysOnTopHint);
    EXPECT_EQ(b.windowType(), Qt::Window) << "not a dialog any more";
    EXPECT_EQ(b.windowTitle(), QString("VanTrelo"));
    const QLabel* label = b.findChild<QLabel*>("label");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->wordWrap());
}

// Three bubbles at once: one shown by style 2, a long text and an empty one.
TEST_F(Bubble, RisesByItsHeightStandsAndGoesByItself) {
    const QString warning = LanguageSetting::GetInstance()->GetValue("/GLOBAL/WARNING");
    ASSERT_FALSE(warning.isEmpty());
    const size_t logged = ui_test::LogCount("[Util ui show style][str is " + warning.toStdString() + "]");
    const QString longText = QString("A long notice that wraps inside its label. ").repeated(8);

    Util_ShowStyle(2, "/GLOBAL/WARNING");
    BubblingWidget::popUp(longText);
    Util_ShowBubble(QString());
    EXPECT_EQ(ui_test::LogCount("[Util ui show style][str is " + warning.toStdString() + "]"),
              logged + 1);

    const std::vector<QPointer<BubblingWidget>> bubbles = Bubbles();
    ASSERT_EQ(bubbles.size(), 3u);
    std::vector<int> startY, minY, maxY;
    QStringList texts;
    for (const auto& b : bubbles) {
        EXPECT_TRUE(b->isVisible());
        EXPECT_EQ(b->parent(), nullptr);
        EXPECT_EQ(b->size(), QSize(276, 83)) << "a long text wraps, the window keeps its size";
        // Bubbles shown one after the other take the same place and overlap.
        EXPECT_EQ(b->pos(), bubbles[0]->pos());
        startY.push_back(b->y());
        minY.push_back(b->y());
        maxY.push_back(b->y());
        texts << LabelText(b);
    }
    texts.sort();
    EXPECT_EQ(texts, QStringList({"", longText, warning}));

    auto watch = [&] {
        for (size_t i = 0; i < bubbles.size(); ++i) {
            if (bubbles[i]) {
                minY[i] = std::min(minY[i], bubbles[i]->y());
                maxY[i] = std::max(maxY[i], bubbles[i]->y());
            }
        }
    };
    auto allRisen = [&] {
        for (size_t i = 0; i < bubbles.size(); ++i) {
            if (!bubbles[i] || bubbles[i]->y() != startY[i] - bubbles[i]->height()) return false;
        }
        return true;
    };
    ASSERT_TRUE(RunUntil(allRisen, 10000, watch)) << "the bubbles never stood risen";
    for (const auto& b : bubbles) {
        EXPECT_TRUE(b->isVisible());
    }
    auto allGone = [&] {
        for (const auto& b : bubbles) {
            if (b) return false;
        }
        return true;
    };
    EXPECT_TRUE(RunUntil(allGone, 20000, watch)) << "a bubble never went away";
    for (size_t i = 0; i < bubbles.size(); ++i) {
        EXPECT_EQ(minY[i], startY[i] - 83) << "rises by its own height, no further";
        EXPECT_EQ(maxY[i], startY[i]) << "never sinks below where it started";
    }
}

// A test that watches for boxes must not take a notice for one and dismiss it.
TEST_F(Bubble, ABoxWatcherLeavesABubbleAlone) {
    vt_qt_test::BoxDriver driver;  // fails the test on any box
    Util_ShowStyle(2, "/GLOBAL/WARNING");
    RunUntil([] { return false; }, 300);
    EXPECT_TRUE(driver.Seen().empty());
    const std::vector<QPointer<BubblingWidget>> bubbles = Bubbles();
    ASSERT_EQ(bubbles.size(), 1u);
    EXPECT_TRUE(bubbles[0]->isVisible()) << "still standing, not dismissed";
    delete bubbles[0].data();
}

TEST_F(Bubble, StyleOneIsAnErrorBoxEvenForABrowser) {
    vt_qt_test::BoxDriver driver;
    UIContext::GetInstance()->SetPluginMode(1);
    driver.Answer("OK");
    Util_ShowStyle(1, "GLOBAL/OVERTIMEERROR");
    UIContext::GetInstance()->SetPluginMode(0);
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].icon, static_cast<int>(QMessageBox::Critical));
    EXPECT_EQ(driver.Seen()[0].title, LanguageSetting::GetInstance()->GetValue("GLOBAL/ERROR"));
    EXPECT_EQ(driver.Seen()[0].text, LanguageSetting::GetInstance()->GetValue("GLOBAL/OVERTIMEERROR"));
    EXPECT_TRUE(Bubbles().empty());
}

TEST_F(Bubble, OtherStylesOnlyLog) {
    const QString text = LanguageSetting::GetInstance()->GetValue("GLOBAL/NOTICE");
    ASSERT_FALSE(text.isEmpty());
    const std::string line = "[Util ui show style][str is " + text.toStdString() + "]";
    const size_t before = ui_test::LogCount(line);
    vt_qt_test::BoxDriver driver;  // fails the test on any box
    for (int style : {0, 3, -1}) {
        Util_ShowStyle(style, "GLOBAL/NOTICE");
    }
    RunUntil([] { return false; }, 100);
    EXPECT_TRUE(driver.Seen().empty());
    EXPECT_TRUE(Bubbles().empty());
    EXPECT_EQ(ui_test::LogCount(line), before + 3);
}

}  // namespace
