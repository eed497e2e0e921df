#pragma once
// The route network dialog: the user enters one network of an L2TP/IPSec profile's
// manual route list, an IPv4 address and its mask, each in an address editor that lies
// over a line edit of the form. The dialog proposes a class-based mask, keeps the
// address's first octet from 1 to 223, checks the pair on OK and hands it on through
// signal_newIP as two "a.b.c.d" texts. It stores nothing; its creator builds a new one
// for every network.

#include <QString>

#include "basewidget.h"

class MyIpAddrEdit;
class Ui_NewVPNNetwork;

class NewVPNNetwork : public basewidget {
    Q_OBJECT

public:
    explicit NewVPNNetwork(QWidget* parent = nullptr);
    ~NewVPNNetwork() override;

    // The two editors over the form's line edits, their names and connections; the
    // focus in the address's first part.
    void InitWidget() override;
    void SetLanguageText() override;

    // True when all four parts of the editor are empty. Otherwise its empty second,
    // third and fourth parts are filled with "0" (the first never is) and the answer is
    // false; a null editor is not empty.
    bool NewVPNNetwork_IPEdit_IsEmpty(MyIpAddrEdit* edit);

signals:
    void signal_newIP(QString address, QString mask);

public slots:
    void on_pb_ok_clicked();
    void on_pb_cancel_clicked();
    // The class-based mask, proposed when the user enters an empty mask.
    void NewVPNNetworkUI_Mask_Init();
    // A first octet of 0 (or none) is refused and set to 1.
    void NewVPNNetworkUI_IP_Check_First();
    // An empty first octet is set to 1 and the second part takes the focus. Kept for a
    // later use: nothing connects it.
    void NewVPNNetworkUI_IP_Check_Second();

private:
    Ui_NewVPNNetwork* ui;
    MyIpAddrEdit* ipEdit = nullptr;
    MyIpAddrEdit* maskEdit = nullptr;
    // The first-octet check's box takes the window's focus, which finishes the editing
    // of the part again; that second call must not stack a second box.
    bool checkingFirst = false;
};
