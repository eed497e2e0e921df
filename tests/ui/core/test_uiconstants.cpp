// The shared constants: every picture they name is compiled into the program and loads,
// as are the pictures the main window's form and style sheet name; the paths relative
// to the install folder lie in the runnable tree where the program looks for them.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QSize>

#include "UIConstants"

namespace {

void ExpectPicture(const QString& path) {
    SCOPED_TRACE(path.toStdString());
    ASSERT_TRUE(QFile::exists(path));
    QImage image(path);
    EXPECT_FALSE(image.isNull());
}

TEST(UIConstantsTest, EveryResourcePictureLoads) {
    const QString constants[] = {
        UI_ICON_APP,          UI_ICON_ADD,           UI_ICON_DEL,
        UI_ICON_CLEAR,        UI_ICON_SSL,           UI_ICON_IPSEC,
        UI_ICON_DELAY0,       UI_ICON_DELAY1,        UI_ICON_DELAY2,
        UI_ICON_DELAY3,       UI_ICON_DELAY4,        UI_ICON_DELAY5,
        UI_ICON_ARROW_RIGHT,  UI_ICON_ARROW_DOWN,    UI_ICON_PROFILE_SSL,
        UI_ICON_PROFILE_IPSEC, UI_ICON_PROFILE_INPUT, UI_ICON_PROFILE_OUTPUT,
        UI_ICON_PROFILE_REDDOT, UI_ICON_PROFILE_GRAYDOT,
    };
    for (const QString& path : constants) {
        EXPECT_TRUE(path.startsWith(":/Global/Resources/Icon/")) << path.toStdString();
        ExpectPicture(path);
    }
    // Named by the main window's form and style sheet rather than by a constant.
    for (const char* path :
         {":/Global/Resources/Icon/gear.png", ":/Global/Resources/Icon/down.png",
          ":/Global/Resources/Bitmap/background_mainwnd.png",
          ":/Global/Resources/Bitmap/back.png"}) {
        ExpectPicture(QString::fromLatin1(path));
    }
}

// The application icon carries the three sizes a tray and a title bar pick from.
TEST(UIConstantsTest, ApplicationIconHoldsThreeSizes) {
    QImageReader reader(UI_ICON_APP);
    QSet<int> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QSize size = reader.read().size();
        EXPECT_EQ(size.width(), size.height());
        sizes.insert(size.width());
    }
    EXPECT_EQ(sizes, QSet<int>({16, 32, 48}));
}

TEST(UIConstantsTest, TrayIconFileLiesInTheRunnableTree) {
    ExpectPicture(QStringLiteral(VT_TEST_RUNTIME_DIR) + UI_ICON32_FILE);
}

}  // namespace
