#pragma once
// The program's application object, which also keeps a second copy of the front end from
// running: while it is built it tries to reach a local server named after the running
// executable's file name; when one answers another instance runs, otherwise this
// instance becomes that server.
//
// The name belongs to the user id alone: the file name inside /tmp/VanTrelo-<uid>, a
// folder that only this user may use (made 0700 here when missing). Nothing of the
// environment (XDG_RUNTIME_DIR, TMPDIR, HOME) takes part, so every start of the same user,
// from any shell, meets the same name. When that folder exists but is not a real folder
// of this user closed to everyone else, the guard neither probes nor listens and names
// the folder (refusedInstanceFolder): the start must end there, since any other name
// would let two starts of one user pass again.
//
// The probe and the listen run under an exclusive lock on a file in that folder, so two
// copies started at the same moment cannot both find nobody and both become the first:
// the later would remove the earlier's server name and go on to kill its service.

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

    // The per-user instance folder when it failed its check (another user's, a link, not
    // a folder, open to others); empty when the guard ran.
    QString refusedInstanceFolder() const;

private slots:
    // A later start reached this instance: its probe is taken and dropped.
    void _newLocalConnection();

private:
    // Runs under the lock in the checked instance folder (a descriptor of it).
    void _probeInstance(int folderFd);
    void _startServer();
    void _raiseWindow();

    QWidget* m_activationWindow = nullptr;
    bool m_isRunning = false;
    QLocalServer* m_localServer = nullptr;
    QString m_serverName;
    QString m_refusedFolder;
};
