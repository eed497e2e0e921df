// A row of the drop-down lists.

#include "mcomboboxitem.h"

#include <QFont>
#include <QIcon>
#include <QMouseEvent>
#include <QSize>

#include "UIConstants"
#include "uicontext.h"

namespace {

const QSize MCOMBOBOXITEM_ICON_SIZE(16, 16);

// The icon buttons show their icon on the row's own background and nothing else. A
// transparent background alone is not enough: a button whose style sheet names no
// border keeps the platform style's raised panel, drawn from the transparent colour,
// which comes out as a black square around each icon, and as a whole black square for
// the new-connection row's button, which has no icon.
const char kIconButtonStyle[] = "background:transparent;border:none;";

// The row's texts use a very light weight (Qt's scale runs 0 to 99, normal is 50).
QFont RowFont(int pointSize) {
    QFont font(QStringLiteral("Microsoft YaHei"));
    font.setPointSize(pointSize);
    font.setWeight(1);
    return font;
}

QString DelayText(int delay) {
    return delay == -1 ? QString() : QString::number(delay) + QStringLiteral("ms");
}

}  // namespace

MComboboxItem::MComboboxItem(QString text, int rowKind, int delay, QWidget* parent)
    : QWidget(parent), pressed(false), linkType(LINK_TYPE_NONE) {
    if (rowKind == 3) {
        linkType = LINK_TYPE_GATEWAY;
        delayIconLabel.setStyleSheet("border-image: url(" + UI_ICON_DELAY1 + ");");
        delayIconLabel.setFixedWidth(26);
        gatewayLabel.setText(text);
        gatewayLabel.setFont(RowFont(9));
        delayTextLabel.setText(DelayText(delay));
        delayTextLabel.setFixedWidth(40);
        delayTextLabel.setFont(RowFont(9));
        gatewayLabel.setParent(this);
        delayIconLabel.setParent(this);
        delayTextLabel.setParent(this);
        gatewayLabel.setGeometry(5, 5, 140, 20);
        delayIconLabel.setGeometry(140, 5, 20, 20);
        delayTextLabel.setGeometry(165, 5, 50, 20);
        return;
    }
    QIcon typeIcon;
    QIcon removeIcon;
    switch (rowKind) {
    case 0:
        linkType = LINK_TYPE_SSL;
        typeIcon = QIcon(UI_ICON_SSL);
        removeIcon = QIcon(UI_ICON_DEL);
        break;
    case 1:
        linkType = LINK_TYPE_IPSEC;
        typeIcon = QIcon(UI_ICON_IPSEC);
        removeIcon = QIcon(UI_ICON_DEL);
        break;
    case 2:
        typeIcon = QIcon(UI_ICON_ADD);
        break;
    default:
        break;
    }
    typeButton.setIcon(typeIcon);
    typeButton.setIconSize(MCOMBOBOXITEM_ICON_SIZE);
    typeButton.setStyleSheet(QLatin1String(kIconButtonStyle));
    removeButton.setIcon(removeIcon);
    removeButton.setIconSize(MCOMBOBOXITEM_ICON_SIZE);
    removeButton.setStyleSheet(QLatin1String(kIconButtonStyle));
    connect(&removeButton, SIGNAL(clicked()), this, SLOT(MComboboxItem_Item_Remove()));
    nameLabel.setText(text);
    nameLabel.setFont(RowFont(10));
    typeButton.setParent(this);
    nameLabel.setParent(this);
    removeButton.setParent(this);
    const bool mac = UIContext::GetInstance()->GetSystemType() == 2;
    typeButton.setGeometry(8, 5, 20, 20);
    nameLabel.setGeometry(37, 4, mac ? 140 : 170, 20);
    removeButton.setGeometry(mac ? 175 : 205, 5, 20, 20);
}

MComboboxItem::~MComboboxItem() = default;

QString MComboboxItem::MComboboxItem_Text_Get() {
    return linkType == LINK_TYPE_GATEWAY ? gatewayLabel.text() : nameLabel.text();
}

void MComboboxItem::MComboboxItem_Text_Set(QString text) { nameLabel.setText(text); }

LINK_TYPE MComboboxItem::MComboboxItem_Type_Get() { return linkType; }

void MComboboxItem::MComboboxItem_Delay_Set(const int& delay) {
    delayTextLabel.setText(DelayText(delay));
}

void MComboboxItem::MComboboxItem_Item_Remove() { emit signal_removeItem(nameLabel.text()); }

// Only the left button selects a row; the press is kept here and not handed on.
void MComboboxItem::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed = true;
    }
}

void MComboboxItem::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (pressed) {
        emit signal_showItem(MComboboxItem_Text_Get(), linkType);
        pressed = false;
    }
}
