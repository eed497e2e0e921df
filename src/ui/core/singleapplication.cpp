#include "singleapplication.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "singleapplication_inner.h"
#include "uilog.h"

namespace {

constexpr int kProbeTimeoutMs = 500;
constexpr int kProberReadTimeoutMs = 1000;
constexpr int kLevelError = 3;

void (*g_beforeListenHook)() = nullptr;

// The shared temporary folder that holds each user's instance folder. Fixed, never the
// caller's TMPDIR: a start with another TMPDIR must still meet the first instance.
const char kSharedTempFolder[] = "/tmp";
QString g_sharedTempFolder = QString::fromLatin1(kSharedTempFolder);

void LogError(const QString& text) { Util_WriteLog(0, kLevelError, QStringLiteral("[Single application]") + text); }

QString Errno(int error) { return QStringLiteral("[errno:") + QString::number(error) + QStringLiteral("]"); }

// The user's instance folder: "VanTrelo-<uid>" in the shared temporary folder. The user
// id alone decides it.
QString InstanceFolderPath() {
    return g_sharedTempFolder + QStringLiteral("/VanTrelo-") + QString::number(::geteuid());
}

// A folder that only this user can enter or change: a real folder (no link), of this
// user, closed to group and others. Anyone else could answer the probe there, or take the
// name before this user's first start listens.
bool IsPrivateFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0077) == 0;
}

// Opens the user's instance folder, making it (0700) when it is missing, and checks it.
// Returns a descriptor of the folder, or -1 when it must not be used: it is someone
// else's, a link, not a folder, or open to others (logged). The descriptor is checked,
// not the name, so a folder swapped between the look and the open is not taken either.
int OpenInstanceFolder(const QByteArray& path) {
    const uid_t uid = ::geteuid();
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == uid) {
        // Earlier builds listened on this very path when the session had no private
        // runtime folder: a name of this user's own, left behind. The folder takes its
        // place. Another user's socket there is refused below like any squatter.
        (void)::unlink(path.constData());
    }
    bool made = false;
    if (::mkdir(path.constData(), 0700) == 0) {
        made = true;
    } else if (errno != EEXIST) {
        LogError(QStringLiteral("[instance folder not made][path:") + QFile::decodeName(path) +
                 QStringLiteral("]") + Errno(errno));
        return -1;
    }
    const bool looked = ::lstat(path.constData(), &st) == 0;
    if (!looked || !IsPrivateFolder(st)) {
        LogError(QStringLiteral("[instance folder refused][path:") + QFile::decodeName(path) +
                 QStringLiteral("]") +
                 (looked ? QStringLiteral("[owner:") + QString::number(st.st_uid) + QStringLiteral("][mode:") +
                               QString::number(st.st_mode, 8) + QStringLiteral("]")
                         : Errno(errno)));
        return -1;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    if (fd < 0 || ::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino ||
        !IsPrivateFolder(opened)) {
        LogError(QStringLiteral("[instance folder changed while it was opened][path:") + QFile::decodeName(path) +
                 QStringLiteral("]"));
        if (fd >= 0) {
            (void)::close(fd);
        }
        return -1;
    }
    if (made) {
        // Whatever the creation mask took away, the owner must be able to use it.
        (void)::fchmod(fd, 0700);
    }
    return fd;
}

// Holds an exclusive lock on the lock file in the instance folder for its lifetime.
// Without the file the guard goes on unlocked, as it did before the lock existed: a
// start is never refused for want of a lock.
class InstanceLock {
public:
    explicit InstanceLock(int folderFd) {
        fd_ = ::openat(folderFd, ".instance.lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            LogError(QStringLiteral("[instance lock not opened]") + Errno(errno));
            return;
        }
        int rc;
        do {
            rc = ::flock(fd_, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            LogError(QStringLiteral("[instance lock not taken]") + Errno(errno));
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
    g_sharedTempFolder = QFile::decodeName(folder != nullptr ? folder : kSharedTempFolder);
}

SingleApplication::SingleApplication(int& argc, char** argv) : QApplication(argc, argv) {
    const QString folder = InstanceFolderPath();
    m_serverName = folder + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const int folderFd = OpenInstanceFolder(QFile::encodeName(folder));
    if (folderFd < 0) {
        // No other name will do: with one, two starts of this user could both pass.
        m_refusedFolder = folder;
        return;
    }
    _probeInstance(folderFd);
    (void)::close(folderFd);
}

bool SingleApplication::hasOtherInstance() { return m_isRunning; }

QString SingleApplication::refusedInstanceFolder() const { return m_refusedFolder; }

void SingleApplication::_probeInstance(int folderFd) {
    m_isRunning = false;
    const InstanceLock lock(folderFd);
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
