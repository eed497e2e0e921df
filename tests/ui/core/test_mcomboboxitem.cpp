// A row of the drop-down lists: what each row kind shows and where, which clicks emit
// which signal, and the delay text of a gateway row.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include <string>
#include <utility>
#include <vector>

#include "mcomboboxitem.h"
#include "uicontext.h"

class Receiver : public QObject {
    Q_OBJECT

public:
    int hits = 0;

public slots:
    void Hit() { ++hits; }
};

namespace {

void Send(QWidget* widget, QEvent::Type type, Qt::MouseButton button) {
    const QPointF at(3, 3);
    QMouseEvent event(type, at, at, at, button,
                      type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QStringList LabelTexts(const QWidget& row) {
    QStringList texts;
    for (const QLabel* label : row.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

TEST(MComboboxItem, RowKindsGiveTypeAndParts) {
    struct Case {
        int rowKind;
        LINK_TYPE type;
        int buttons;
        int labels;
    } cases[] = {
        {0, LINK_TYPE_SSL, 2, 1},     {1, LINK_TYPE_IPSEC, 2, 1}, {2, LINK_TYPE_NONE, 2, 1},
        {3, LINK_TYPE_GATEWAY, 0, 3}, {7, LINK_TYPE_NONE, 2, 1},
    };
    for (const Case& c : cases) {
        MComboboxItem row("name", c.rowKind, 35, nullptr);
        EXPECT_EQ(row.MComboboxItem_Type_Get(), c.type) << c.rowKind;
        EXPECT_EQ(row.findChildren<QPushButton*>().size(), c.buttons) << c.rowKind;
        EXPECT_EQ(row.findChildren<QLabel*>().size(), c.labels) << c.rowKind;
        EXPECT_EQ(row.MComboboxItem_Text_Get(), QString("name")) << c.rowKind;
    }
    // Icons: profiles have a type and a delete icon, the new-connection row no delete icon.
    MComboboxItem ssl("a", 0, 0, nullptr);
    MComboboxItem add("new", 2, 0, nullptr);
    EXPECT_FALSE(ssl.findChildren<QPushButton*>().at(1)->icon().isNull());
    EXPECT_TRUE(add.findChildren<QPushButton*>().at(1)->icon().isNull());
    EXPECT_EQ(ssl.findChildren<QPushButton*>().at(0)->iconSize(), QSize(16, 16));
}

TEST(MComboboxItem, PositionsFollowTheSystemType) {
    struct Case {
        int systemType;
        int nameWidth;
        int removeX;
    } cases[] = {{2, 140, 175}, {0, 170, 205}, {1, 170, 205}};
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetSystemType(c.systemType);
        MComboboxItem row("a", 0, 0, nullptr);
        EXPECT_EQ(row.findChild<QLabel*>()->geometry(), QRect(37, 4, c.nameWidth, 20));
        EXPECT_EQ(row.findChildren<QPushButton*>().at(1)->geometry(), QRect(c.removeX, 5, 20, 20));
    }
    UIContext::GetInstance()->SetSystemType(2);
}

// The icons sit on the row's own background: each icon button paints its icon and
// nothing around it, in every state a button of the open list can be in, and a button
// without an icon paints nothing at all. The row is drawn onto a transparent picture, so
// any pixel a button paints outside its icon shows as not transparent.
TEST(MComboboxItem, IconButtonsPaintOnlyTheirIcon) {
    const struct {
        const char* what;
        bool underMouse;
        bool down;
    } states[] = {{"idle", false, false}, {"under the mouse", true, false}, {"pressed", false, true}};
    for (int rowKind : {0, 1, 2}) {
        for (const auto& state : states) {
            SCOPED_TRACE(std::string("row kind ") + std::to_string(rowKind) + ", " + state.what);
            MComboboxItem row("name", rowKind, 0, nullptr);
            row.resize(240, 30);
            const QList<QPushButton*> buttons = row.findChildren<QPushButton*>();
            ASSERT_EQ(buttons.size(), 2);
            for (QPushButton* button : buttons) {
                button->setAttribute(Qt::WA_UnderMouse, state.underMouse);
                button->setDown(state.down);
            }
            QImage picture(row.size(), QImage::Format_ARGB32_Premultiplied);
            picture.fill(Qt::transparent);
            row.render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
            for (QPushButton* button : buttons) {
                const QRect area = button->geometry();
                // The icon centred in its button; a pressed button may shift it by a pixel.
                QRect icon;
                if (!button->icon().isNull()) {
                    icon = QRect(QPoint(), button->iconSize());
                    icon.moveCenter(area.center());
                    icon.adjust(-1, -1, 1, 1);
                }
                int painted = 0;
                int drawn = 0;
                for (int y = area.top(); y <= area.bottom(); ++y) {
                    for (int x = area.left(); x <= area.right(); ++x) {
                        const bool opaque = qAlpha(picture.pixel(x, y)) != 0;
                        (icon.contains(x, y) ? drawn : painted) += opaque ? 1 : 0;
                    }
                }
                EXPECT_EQ(painted, 0) << (button->icon().isNull() ? "button without icon" : "icon button")
                                      << " at x " << area.x();
                EXPECT_EQ(drawn > 0, !button->icon().isNull()) << "the icon itself is shown";
            }
        }
    }
}

TEST(MComboboxItem, GatewayRowDelayText) {
    MComboboxItem none("10.0.0.1", 3, -1, nullptr);
    EXPECT_EQ(LabelTexts(none), (QStringList{"10.0.0.1", "", ""}));
    MComboboxItem zero("10.0.0.1", 3, 0, nullptr);
    EXPECT_TRUE(LabelTexts(zero).contains("0ms"));
    zero.MComboboxItem_Delay_Set(35);
    EXPECT_TRUE(LabelTexts(zero).contains("35ms"));
    zero.MComboboxItem_Delay_Set(-1);
    EXPECT_FALSE(LabelTexts(zero).join("").contains("ms"));
    // The gateway text, never the (empty) name label; setting the name does not change it.
    zero.MComboboxItem_Text_Set("other");
    EXPECT_EQ(zero.MComboboxItem_Text_Get(), QString("10.0.0.1"));
}

TEST(MComboboxItem, OnlyALeftPressThenReleaseSelects) {
    MComboboxItem row("a", 1, 0, nullptr);
    std::vector<std::pair<QString, LINK_TYPE>> shown;
    QObject::connect(&row, &MComboboxItem::signal_showItem,
                     [&](QString text, LINK_TYPE type) { shown.emplace_back(text, type); });
    Send(&row, QEvent::MouseButtonPress, Qt::RightButton);
    Send(&row, QEvent::MouseButtonRelease, Qt::RightButton);
    Send(&row, QEvent::MouseButtonPress, Qt::MiddleButton);
    Send(&row, QEvent::MouseButtonRelease, Qt::MiddleButton);
    Send(&row, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(shown.size(), 0u) << "no left press seen";
    Send(&row, QEvent::MouseButtonPress, Qt::LeftButton);
    Send(&row, QEvent::MouseButtonRelease, Qt::LeftButton);
    Send(&row, QEvent::MouseButtonRelease, Qt::LeftButton);
    ASSERT_EQ(shown.size(), 1u) << "two releases after one press emit once";
    EXPECT_EQ(shown[0].first, QString("a"));
    EXPECT_EQ(shown[0].second, LINK_TYPE_IPSEC);
}

TEST(MComboboxItem, DeleteIconEmitsTheName) {
    MComboboxItem add("New connection", 2, 0, nullptr);
    QStringList removed;
    QObject::connect(&add, &MComboboxItem::signal_removeItem,
                     [&](QString name) { removed << name; });
    // The one-argument form, as the main window connects the new-connection row.
    Receiver receiver;
    QObject::connect(&add, SIGNAL(signal_showItem(QString)), &receiver, SLOT(Hit()));
    add.findChildren<QPushButton*>().at(1)->click();
    EXPECT_EQ(removed, QStringList{"New connection"})
        << "the empty icon of the new-connection row still reacts";
    Send(&add, QEvent::MouseButtonPress, Qt::LeftButton);
    Send(&add, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(receiver.hits, 1);
}

}  // namespace

#include "test_mcomboboxitem.moc"
