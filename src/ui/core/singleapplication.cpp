#include "singleapplication.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "singleapplication_inner.h"
#include "util.h"

namespace {

constexpr int kProbeTimeoutMs = 500;
constexpr int kProberReadTimeoutMs = 1000;

void (*g_beforeListenHook)() = nullptr;

// Where the name goes when the session has no private runtime folder. Fixed rather than
// the caller's TMPDIR: a start with another TMPDIR must still meet the first instance.
const char kSharedTempFolder[] = "/tmp";
QString g_sharedTempFolder = QString::fromLatin1(kSharedTempFolder);

// A runtime folder that only this user can enter: a directory of this user, closed to
// group and others. Anything else (unset, relative, someone else's, open to others)
// could let another user answer or squat the name.
bool IsPrivateFolder(const QByteArray& path) {
    if (path.isEmpty() || path.at(0) != '/') {
        return false;
    }
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 0077) == 0;
}

// The local server's full name, one per user: in the private runtime folder when the
// session has one, else in the shared temporary folder with the user's id appended. A
// bare name would sit in the shared temporary folder, where every user would meet the
// first user's instance, and would follow TMPDIR, where the same user's starts would
// miss each other.
QString InstanceServerName(const QString& program) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (IsPrivateFolder(runtime)) {
        const QString name = QFile::decodeName(runtime) + QLatin1Char('/') + program;
        // A name longer than a socket address holds could not be listened on.
        if (static_cast<size_t>(QFile::encodeName(name).size()) < sizeof(sockaddr_un::sun_path)) {
            return name;
        }
    }
    return g_sharedTempFolder + QLatin1Char('/') + program + QLatin1Char('-') +
           QString::number(::geteuid());
}

// Holds an exclusive lock on the per-user instance lock file for its lifetime. Without
// the file (no home folder to write) the guard goes on unlocked, as it did before the
// lock existed: a start is never refused for want of a lock.
class InstanceLock {
public:
    InstanceLock() {
        const QByteArray path =
            QFile::encodeName(QDir::homePath() + QStringLiteral("/.VanTrelo/.instance.lock"));
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            Util_WriteLog(0, 3, QStringLiteral("[Single application][instance lock not opened][errno:") +
                                    QString::number(errno) + QStringLiteral("]"));
            return;
        }
        int rc;
        do {
            rc = ::flock(fd_, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            Util_WriteLog(0, 3, QStringLiteral("[Single application][instance lock not taken][errno:") +
                                    QString::number(errno) + QStringLiteral("]"));
        }
    }
    ~InstanceLock() {
        if (fd_ >= 0) {
            (void)::close(fd_);  // closing the only descriptor releases the lock
        }
    }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace

void singleApplicationBeforeListenHookSet(void (*hook)()) { g_beforeListenHook = hook; }

void singleApplicationSharedTempFolderSet(const char* folder) {
    g_sharedTempFolder = QString::fromLocal8Bit(folder != nullptr ? folder : kSharedTempFolder);
}

SingleApplication::SingleApplication(int& argc, char** argv) : QApplication(argc, argv) {
    m_serverName = InstanceServerName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    _probeInstance();
}

bool SingleApplication::hasOtherInstance() { return m_isRunning; }

void SingleApplication::_probeInstance() {
    m_isRunning = false;
    const InstanceLock lock;
    {
        QLocalSocket socket;
        socket.connectToServer(m_serverName, QIODevice::ReadWrite);
        if (socket.waitForConnected(kProbeTimeoutMs)) {
            m_isRunning = true;
            return;
        }
    }
    if (g_beforeListenHook != nullptr) {
        g_beforeListenHook();
    }
    _startServer();
}

void SingleApplication::_startServer() {
    m_localServer = new QLocalServer(this);
    connect(m_localServer, SIGNAL(newConnection()), this, SLOT(_newLocalConnection()));
    if (!m_localServer->listen(m_serverName)) {
        // A name left behind by an instance that ended without cleaning up: nobody
        // answered the probe, so it is stale.
        if (m_localServer->serverError() == QAbstractSocket::AddressInUseError) {
            QLocalServer::removeServer(m_serverName);
            (void)m_localServer->listen(m_serverName);
        }
    }
}

void SingleApplication::_newLocalConnection() {
    QLocalSocket* socket = m_localServer->nextPendingConnection();
    if (socket == nullptr) {
        return;
    }
    // The prober sends nothing; this only waits until it has gone.
    (void)socket->waitForReadyRead(kProberReadTimeoutMs);
    delete socket;
    _raiseWindow();
}

void SingleApplication::_raiseWindow() {
    if (m_activationWindow != nullptr) {
        m_activationWindow->show();
        m_activationWindow->raise();
        m_activationWindow->activateWindow();
    }
}
