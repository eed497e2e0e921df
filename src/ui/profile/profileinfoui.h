#pragma once
// The connection-profile dialog: a new SSL VPN or L2TP/IPSec profile, an import, or the
// current profile for editing. It reports what it wrote through the signals below.

#include <QString>

#include "basewidget.h"
#include "mcomboboxitem.h"

class QPushButton;

class ProfileInfoUI : public basewidget {
    Q_OBJECT

public:
    // Takes UIContext's current connection name + ".ini" as the profile it may edit.
    explicit ProfileInfoUI(QWidget* parent = nullptr);
    ~ProfileInfoUI() override;

    // A new profile (UIContext's new-connection flag) shows the OK button; an existing
    // one the save button, disabled while a connection is logged in.
    void InitWidget() override;

signals:
    // A new profile was written or imported (name without extension, type 1 or 2).
    void signal_newconnect(QString name, LINK_TYPE type);
    // An existing profile was saved: the edited name, the name it had when the dialog
    // opened, its type.
    void signal_sendNewConnect(QString editedName, QString openedName, LINK_TYPE type);

public slots:
    void ProfileInfoUI_Set_OKbtn(bool enable);
    void ProfileInfoUI_Set_Savebtn(bool enable);

private:
    QString profileName;
    QPushButton* pb_ok;
    QPushButton* pb_save;
};
