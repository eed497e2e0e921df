#pragma once
// The program's application object, which also keeps a second copy of the front end from
// running: while it is built it tries to reach a local server named after the running
// executable's file name; when one answers another instance runs, otherwise this
// instance becomes that server. The name is the user's own: the file name inside
// $XDG_RUNTIME_DIR when that folder is private, else "<file name>-<uid>" in /tmp.
//
// The probe and the listen run under an exclusive lock on a per-user file
// ($HOME/.VanTrelo/.instance.lock), so two copies started at the same moment cannot both
// find nobody and both become the first: the later would remove the earlier's server
// name and go on to kill its service.

#include <QApplication>
#include <QString>

class QLocalServer;
class QWidget;

class SingleApplication : public QApplication {
    Q_OBJECT

public:
    SingleApplication(int& argc, char** argv);

    // True when another instance answered the probe.
    bool hasOtherInstance();

private slots:
    // A later start reached this instance: its probe is taken and dropped.
    void _newLocalConnection();

private:
    void _probeInstance();
    void _startServer();
    void _raiseWindow();

    QWidget* m_activationWindow = nullptr;
    bool m_isRunning = false;
    QLocalServer* m_localServer = nullptr;
    QString m_serverName;
};
