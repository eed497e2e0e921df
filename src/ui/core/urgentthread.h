#pragma once
// Carries the service's unasked events into the Qt world: the thread blocks on the
// service link's urgent events and emits one signal per event, then rests a second, so
// the window handles at most one service event a second. It never touches a widget;
// the receiver's slots run in the main thread because the signals cross threads.

#include <QString>
#include <QThread>

class UrgentThread : public QThread {
    Q_OBJECT

public:
    UrgentThread();

signals:
    void signal_UrgentLogout();
    void signal_CnemRconn_Fail();
    void signal_VnicError();
    void signal_DhcpError();
    void signal_UI_Show_Style(int, QString);
    void signal_Exit();

protected:
    // Runs until the process ends (or the owner terminates the thread).
    void run() override;
};
