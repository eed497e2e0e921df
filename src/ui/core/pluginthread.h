#pragma once
// Carries a browser plugin's requests into the Qt world: the thread blocks on the plugin
// listener's events, records the request's type (and, for a login, its texts) in
// UIContext, emits one signal per request and rests a second.
//
// The receiver connects these signals with Qt::BlockingQueuedConnection: the thread then
// waits until the slot has answered a request before it records the next one, so an
// answer always carries the type of the request it answers and a login's texts are not
// overwritten while the slot reads them.

#include <QThread>

class PluginThread : public QThread {
    Q_OBJECT

public:
    PluginThread();

signals:
    void signal_Plugin_Login();
    void signal_Plugin_Logout();
    void signal_StartCNEM();
    void signal_StopCNEM();
    void signal_Plugin_HostCheck();
    void signal_Plugin_CacheClear(int);
    void signal_Plugin_Get_Info();
    void signal_Plugin_Urgent_Logout();

protected:
    // Runs until the process ends (or the owner terminates the thread).
    void run() override;
};
