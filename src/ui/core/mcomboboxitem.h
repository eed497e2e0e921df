#pragma once
// One row of the front end's drop-down lists: a connection (icon, name, delete icon), the
// new-connection row, or a gateway of the SSL login view (address, delay picture and
// delay text). The row reports a click on itself and on its delete icon as signals; it
// has no layout, its parts keep fixed positions.

#include <QLabel>
#include <QMetaType>
#include <QPushButton>
#include <QString>
#include <QWidget>

class QMouseEvent;

// The kind of a connection, as signals carry it and UIContext keeps it.
enum LINK_TYPE {
    LINK_TYPE_NONE = 0,     // no connection chosen; also the new-connection row
    LINK_TYPE_SSL = 1,      // SSL VPN profile
    LINK_TYPE_IPSEC = 2,    // L2TP/IPSec profile
    LINK_TYPE_GATEWAY = 3,  // gateway row of the SSL login view
};
Q_DECLARE_METATYPE(LINK_TYPE)

class MComboboxItem : public QWidget {
    Q_OBJECT

public:
    // rowKind: 0 SSL VPN profile, 1 L2TP/IPSec profile, 2 the new-connection row, 3 a
    // gateway (delay in milliseconds, -1 when none was measured); any other kind is an
    // empty row of type 0.
    MComboboxItem(QString text, int rowKind, int delay, QWidget* parent);
    ~MComboboxItem() override;
    MComboboxItem(const MComboboxItem&) = delete;
    MComboboxItem& operator=(const MComboboxItem&) = delete;

    // The gateway text for a gateway row, the name otherwise.
    QString MComboboxItem_Text_Get();
    void MComboboxItem_Text_Set(QString text);
    LINK_TYPE MComboboxItem_Type_Get();
    void MComboboxItem_Delay_Set(const int& delay);

signals:
    void signal_removeItem(QString name);
    void signal_showItem(QString text, LINK_TYPE type = LINK_TYPE_NONE);

public slots:
    void MComboboxItem_Item_Remove();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed;
    LINK_TYPE linkType;
    QPushButton typeButton;
    QLabel nameLabel;
    QPushButton removeButton;
    QLabel gatewayLabel;
    QLabel delayIconLabel;
    QLabel delayTextLabel;
};
