#pragma once
// The password change dialog: the old password and the new one twice, checked here and
// sent to the service. It closes with Accepted only when the gateway confirmed the
// change; every refusal is a notice that leaves the dialog open, and a refusal for the
// password's complexity also shows the gateway's rules. Opened by the tray's Change
// password and by a first login that demands a new password; each creator builds it,
// runs Init, exec() and deletes it.
//
// The two slots keep their places in the meta-object: on_pb_cancel_clicked first,
// on_pb_ok_clicked second.

#include "basewidget.h"

class QCloseEvent;
class QEvent;
class QObject;
class Ui_ChangePwd;
struct UI_PWD_POLICY_S;

class ChangePwd : public basewidget {
    Q_OBJECT

public:
    explicit ChangePwd(QWidget* parent = nullptr);
    ~ChangePwd() override;
    ChangePwd(const ChangePwd&) = delete;
    ChangePwd& operator=(const ChangePwd&) = delete;

    // Right and Left move the focus between the two buttons and never the text cursor;
    // the password fields refuse the clipboard and the middle button's selection paste.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // After a first login that demanded a new password, closing is a refusal that the
    // creator hears of (rejected).
    void closeEvent(QCloseEvent* event) override;
    void SetInputControl() override;
    void SetLanguageText() override;
    void SetToolTip() override;

    // None of the three fields is empty.
    bool isPwdFilled();
    // The new password and its confirmation are the same text.
    bool isPwdConfirmed();

private slots:
    void on_pb_cancel_clicked();
    void on_pb_ok_clicked();

private:
    // A modal notice over the dialog: information icon, the WARNING title, one OK.
    void Notice(const QString& text);
    // The four rule labels for a complexity refusal of that key.
    void ShowPolicy(const QString& key, const UI_PWD_POLICY_S& policy);
    void ClearPolicy();

    Ui_ChangePwd* ui;
};
