// The update window and its install run.

#include "updatewindow.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutex>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include "ddm_log.h"
#include "lnx_proc.h"
#include "lnx_spawn.h"
#include "lnx_tree.h"
#include "ui_updatewindow.h"
#include "update_log.h"
#include "updatethread.h"

namespace {

constexpr int kStartDelayMs = 1000;
constexpr int kWindowWidth = 320;
constexpr int kWindowHeight = 71;
constexpr int kFontPoints = 12;
constexpr char kFontFamily[] = "TakaoPGothic";
// The label file read when the chosen language has none: the front end's own rule.
constexpr int kFallbackLanguage = 2052;

constexpr char kTmpDir[] = "/tmp";
constexpr char kExtractName[] = "VanTrelo";
constexpr char kExtractDir[] = "/tmp/VanTrelo";
constexpr char kInstallerPackage[] = "/tmp/VanTrelo/VanTreloInstaller.pkg";
constexpr char kPackageSuffix[] = ".tar.gz";
constexpr char kHelperName[] = "/refitter";
constexpr char kDownloadedPackage[] = "/tmp/vantrelo-macosx.tar.gz";
constexpr char kTarPath[] = "/bin/tar";
constexpr char kGzipPath[] = "/bin/gzip";

// The unpack's bound. GNU tar has no limit of its own on what an archive unpacks to, so
// the update program passes the decompressed stream to tar itself and counts it: the
// stream may not pass the free room of /tmp's file system, as it was when the unpack
// began, less this margin, and the unpack also stops as soon as the file system's free
// room falls below the margin (an archive of many small files takes more room than its
// stream) or its free inodes below their margin. /tmp is shared: an unpack never fills it.
constexpr uint64_t kRoomMargin = 16ull * 1024 * 1024;
constexpr uint64_t kInodeMargin = 1024;
// One piece of the stream, read from gzip and written to tar.
constexpr size_t kPumpChunk = 64 * 1024;

// The client's programs, stopped in this order before the helper runs: the service
// first, so that it cannot start the engine or the front end again.
constexpr const char* kClientPrograms[] = {"VanTreloPromoteService", "VanTreloCS", "VanTrelo"};
// How long the stop waits for each program to be gone before it goes on.
constexpr int kKillWaitMs = 3000;

const char kTitleKey[] = "/UI_UPDATE/UI_UPDATE_TITLE";
const char kUpdatingKey[] = "/UI_UPDATE/UI_UPDATE_UPDATING";
const char kErrorTxtKey[] = "/UI_UPDATE/UI_UPDATE_ERROR_TXT";
const char kDownNewKey[] = "/UI_UPDATE/UI_UPDATE_DOWN_NEW";
const char kUseOldKey[] = "/UI_UPDATE/UI_UPDATE_USE_OLD";
const char kSuccessKey[] = "/UI_UPDATE/UI_UPDATE_SECCESS";
const char kErrorBreakKey[] = "/UI_UPDATE/UI_UPDATE_ERROR_BREAK";
const char kOkKey[] = "/GLOBAL/OK";

QMutex g_seamLock;
QString g_helperPath;
std::atomic<UPDATE_KILL_PF> g_kill{nullptr};

void KillByName(const char* pcName) { (void)LNX_KillByName(pcName, 0, kKillWaitMs); }

QString HelperPath() {
    QMutexLocker lock(&g_seamLock);
    if (!g_helperPath.isEmpty()) {
        return g_helperPath;
    }
    return QCoreApplication::applicationDirPath() + QLatin1String(kHelperName);
}

void Log(uint32_t level, const QString& text) { (void)Update_WriteLog(UPDATE_LOG_MODULE, level, text); }

// Opens the package for the unpack, without following a link and without waiting on a
// pipe: only a regular file that neither group nor others may write is taken. Who owns
// it cannot be asked here (the service runs this program with root rights for whichever
// user downloaded the package); the download's exclusive creation keeps another user's
// file out of its place, and this check keeps out one that others could have changed.
// The descriptor (blocking again) or -1 with the reason.
int OpenPackage(const QString& path, struct stat* st, QString* reason) {
    const int fd = open(QFile::encodeName(path).constData(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *reason = errno == ELOOP ? QStringLiteral("it is a symbolic link")
                                 : QStringLiteral("it cannot be opened, errno is %1").arg(errno);
        return -1;
    }
    if (fstat(fd, st) != 0) {
        *reason = QStringLiteral("it cannot be examined, errno is %1").arg(errno);
    } else if (!S_ISREG(st->st_mode)) {
        *reason = QStringLiteral("it is not a regular file (type 0%1)").arg(st->st_mode & S_IFMT, 0, 8);
    } else if ((st->st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *reason = QStringLiteral("group or others may write it (mode 0%1)").arg(st->st_mode & 07777, 0, 8);
    } else if (fcntl(fd, F_SETFL, 0) != 0) {
        *reason = QStringLiteral("it cannot be read, errno is %1").arg(errno);
    } else {
        return fd;
    }
    (void)close(fd);
    return -1;
}

// A fresh, empty unpack folder of this process's user, readable by nobody else, open
// (its descriptor) or -1 (logged). An earlier run's folder of this user goes first,
// removed without following links: it may still hold the installer package of an older
// download. Whatever another user left at that place in the shared, sticky /tmp stays
// where it is and ends the run: it is not this program's to remove.
int FreshExtractFolder() {
    const int tmpFd = open(kTmpDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmpFd < 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot open /tmp, errno is %1]").arg(errno));
        return -1;
    }
    int fd = -1;
    struct stat st {};
    int err = 0;
    if (fstatat(tmpFd, kExtractName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (st.st_uid != geteuid()) {
            Log(DDM_LOG_ERROR, QStringLiteral("[update failed][%1 belongs to uid %2, left as it is]")
                                   .arg(kExtractDir)
                                   .arg(st.st_uid));
            (void)close(tmpFd);
            return -1;
        }
        err = LNX_RemoveAt(tmpFd, kExtractName);
    } else if (errno != ENOENT) {
        err = errno;
    }
    if (err != 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot remove %1, errno is %2]").arg(kExtractDir).arg(err));
    } else if (mkdirat(tmpFd, kExtractName, 0700) != 0) {
        // Taken by someone else since the look above, or never cleared.
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot create %1, errno is %2]").arg(kExtractDir).arg(errno));
    } else {
        fd = openat(tmpFd, kExtractName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat made {};
        // Created just now by this process, so it must be its own; the mode is set again
        // because the creation mask may have taken bits the extraction needs.
        if (fd < 0 || fstat(fd, &made) != 0 || made.st_uid != geteuid() || fchmod(fd, 0700) != 0) {
            Log(DDM_LOG_ERROR, QStringLiteral("[update failed][%1 is not a folder of this user]").arg(kExtractDir));
            if (fd >= 0) {
                (void)close(fd);
                fd = -1;
            }
        }
    }
    (void)close(tmpFd);
    return fd;
}

// Free bytes and free inodes of the file system that holds the folder, as an
// unprivileged writer may use them (the room kept for root is not the unpack's).
bool FreeRoom(int dirFd, uint64_t* bytes, uint64_t* inodes) {
    struct statvfs vfs {};
    if (fstatvfs(dirFd, &vfs) != 0) {
        return false;
    }
    *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // A file system that counts no inodes has none to run out of.
    *inodes = vfs.f_files == 0 ? UINT64_MAX : static_cast<uint64_t>(vfs.f_favail);
    return true;
}

// Waits for a child of this process; its wait status, or -1 when it was lost.
int Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

bool ExitedWell(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// Unpacks the package from its descriptor into the unpack folder: gzip decompresses it
// to this program, which counts the stream against the bound and passes it on to tar
// through a pipe. No shell, and the package's name is never opened again. A stream that
// passes the bound, or a file system that runs short, stops the unpack: both children
// are killed and the unpack fails. True when the whole stream went through and both
// ended with status 0.
bool Unpack(int packageFd, int dirFd) {
    uint64_t room = 0, inodes = 0;
    if (!FreeRoom(dirFd, &room, &inodes)) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot measure /tmp, errno is %1]").arg(errno));
        return false;
    }
    const uint64_t bound = room > kRoomMargin ? room - kRoomMargin : 0;

    int fromGzip[2] = {-1, -1};
    int toTar[2] = {-1, -1};
    if (pipe2(fromGzip, O_CLOEXEC) != 0 || pipe2(toTar, O_CLOEXEC) != 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot make a pipe, errno is %1]").arg(errno));
        for (int fd : {fromGzip[0], fromGzip[1], toTar[0], toTar[1]}) {
            if (fd >= 0) {
                (void)close(fd);
            }
        }
        return false;
    }
    std::vector<std::string> gzipWords = {kGzipPath, "-dc"};
    std::vector<char*> gzipArgv = LNX_ArgvOf(gzipWords);
    LnxSpawnPlan gzipPlan = {kGzipPath, gzipArgv.data(), true};
    gzipPlan.iStdinFd = packageFd;
    gzipPlan.iStdoutFd = fromGzip[1];
    std::vector<std::string> tarWords = {kTarPath, "-xf", "-", "-C", kExtractDir};
    std::vector<char*> tarArgv = LNX_ArgvOf(tarWords);
    LnxSpawnPlan tarPlan = {kTarPath, tarArgv.data(), true};
    tarPlan.iStdinFd = toTar[0];

    pid_t gzipPid = -1, tarPid = -1;
    int err = 0;
    const bool gzipStarted = LNX_Spawn(gzipPlan, &gzipPid, &err) == LnxSpawnResult::kStarted;
    if (!gzipStarted) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot run gzip, errno is %1]").arg(err));
    }
    const bool tarStarted = gzipStarted && LNX_Spawn(tarPlan, &tarPid, &err) == LnxSpawnResult::kStarted;
    if (gzipStarted && !tarStarted) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot run tar, errno is %1]").arg(err));
    }
    // The children hold their own ends now; this program keeps only gzip's output and
    // tar's input, so that each sees the end when the other side goes.
    (void)close(fromGzip[1]);
    (void)close(toTar[0]);

    bool whole = false;
    if (tarStarted) {
        std::vector<char> chunk(kPumpChunk);
        uint64_t passed = 0;
        for (;;) {
            const ssize_t n = read(fromGzip[0], chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot read from gzip, errno is %1]").arg(errno));
                break;
            }
            if (n == 0) {
                whole = true;
                break;
            }
            passed += static_cast<uint64_t>(n);
            if (passed > bound) {
                Log(DDM_LOG_ERROR, QStringLiteral("[update failed][the package unpacks to more than %1 bytes, "
                                                  "the free room of /tmp less %2 bytes]")
                                       .arg(bound)
                                       .arg(kRoomMargin));
                break;
            }
            bool written = true;
            for (ssize_t off = 0; off < n;) {
                const ssize_t w = write(toTar[1], chunk.data() + off, static_cast<size_t>(n - off));
                if (w < 0 && errno == EINTR) {
                    continue;
                }
                if (w <= 0) {
                    // tar has ended before the end of the stream; its status says why.
                    written = false;
                    break;
                }
                off += w;
            }
            if (!written) {
                Log(DDM_LOG_ERROR, QStringLiteral("[update failed][tar stopped reading, errno is %1]").arg(errno));
                break;
            }
            if (!FreeRoom(dirFd, &room, &inodes) || room < kRoomMargin || inodes < kInodeMargin) {
                Log(DDM_LOG_ERROR, QStringLiteral("[update failed][the unpack leaves less than %1 bytes or %2 "
                                                  "inodes free in /tmp]")
                                       .arg(kRoomMargin)
                                       .arg(kInodeMargin));
                break;
            }
        }
    }
    (void)close(fromGzip[0]);
    (void)close(toTar[1]);
    if (!whole) {
        // Both are this program's own children, not yet reaped: their ids are still theirs.
        for (pid_t pid : {gzipPid, tarPid}) {
            if (pid > 0) {
                (void)kill(pid, SIGKILL);
            }
        }
    }
    const int gzipStatus = gzipPid > 0 ? Reap(gzipPid) : -1;
    const int tarStatus = tarPid > 0 ? Reap(tarPid) : -1;
    if (!whole) {
        return false;
    }
    if (!ExitedWell(gzipStatus)) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][gzip ended with status 0x%1]").arg(gzipStatus, 0, 16));
        return false;
    }
    if (!ExitedWell(tarStatus)) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][tar ended with status 0x%1]").arg(tarStatus, 0, 16));
        return false;
    }
    return true;
}

}  // namespace

void updateHelperPathSet(const QString& path) {
    QMutexLocker lock(&g_seamLock);
    g_helperPath = path;
}

void updateKillSet(UPDATE_KILL_PF pfnKill) { g_kill.store(pfnKill); }

updateWindow::updateWindow(QWidget* parent)
    : QMainWindow(parent),
      ui(new Ui_updateWindow),
      installProcess(nullptr),
      labelSettings(nullptr),
      progressThread(nullptr),
      startTimer(nullptr),
      allowClose(false) {
    ui->setupUi(this);
    ui->progressBar->setValue(0);
    // Only the start timer begins the run.
    ui->updateButton->hide();
    ui->updateButton->setEnabled(false);

    startTimer = new QTimer(this);
    startTimer->setInterval(kStartDelayMs);
    startTimer->setSingleShot(true);
    connect(startTimer, SIGNAL(timeout()), this, SLOT(on_updateButton_clicked()));
    startTimer->start();

    // On top of everything, with no close button: an install must not be interrupted.
    setWindowFlags((windowFlags() & ~(Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)) |
                   Qt::WindowStaysOnTopHint);

    int languageId = 0;
    {
        QSettings userSettings(QDir::homePath() + QStringLiteral("/.VanTrelo/sysconfig.ini"),
                               QSettings::IniFormat);
        setFont(QFont(QString::fromLatin1(kFontFamily), kFontPoints));
        userSettings.setIniCodec("UTF_8");
        bool ok = false;
        languageId = userSettings.value(QStringLiteral("/ADVANCED/ClientLanguageID")).toString().toInt(&ok, 10);
        if (!ok) {
            languageId = 0;
        }
    }

    // Nothing writes the language setting, so a user normally has none (language 0,
    // which has no label file): every text would be empty. The front end reads the
    // Chinese file in that case, and so does this window.
    const QString languageDir = QCoreApplication::applicationDirPath() + QStringLiteral("/language/");
    QString labelPath = languageDir + QString::number(languageId) + QStringLiteral("/l_UILabel.ini");
    if (!QFileInfo::exists(labelPath)) {
        labelPath = languageDir + QString::number(kFallbackLanguage) + QStringLiteral("/l_UILabel.ini");
    }
    labelSettings = new QSettings(labelPath, QSettings::IniFormat);
    labelSettings->setIniCodec("UTF_8");
    setLanguageText();
    allowClose = false;
}

updateWindow::~updateWindow() {
    delete ui;
    delete installProcess;
    delete startTimer;
    delete labelSettings;
}

void updateWindow::setUpdateParam(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(';'));
    packagePath = fields.value(0);
    downloadUrl = fields.value(1);
}

void updateWindow::setFlagStr(const QString& text) { flagStr = text; }

void updateWindow::setLanguageText() {
    setWindowTitle(getLabelText(QString::fromLatin1(kTitleKey)));
    ui->label->setText(getLabelText(QString::fromLatin1(kUpdatingKey)));
}

QString updateWindow::getLabelText(const QString& key) {
    return labelSettings != nullptr ? labelSettings->value(key).toString() : QString();
}

updateThread* updateWindow::getProgressThread() const { return progressThread; }

void updateWindow::closeEvent(QCloseEvent* event) {
    if (!allowClose) {
        event->ignore();
    }
}

void updateWindow::on_updateButton_clicked() {
    Log(DDM_LOG_INFO, QStringLiteral("[update][mac begin update.]"));
    startUpdateMac();
}

void updateWindow::startUpdateMac() {
    if (!QFileInfo::exists(packagePath)) {
        qDebug() << packagePath << "not exist ";
        UpdateFileMsgBox(QString());
        Log(DDM_LOG_WARN, QStringLiteral("[update failed][vantrelo-macosx.tar.gz is not exist.]"));
        allowClose = true;
        close();
        return;
    }
    if (!packagePath.endsWith(QLatin1String(kPackageSuffix), Qt::CaseSensitive)) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][the type of down file is mistake.cmd is NULL]"));
        UpdateFileMsgBox(QString());
        allowClose = true;
        close();
        return;
    }
    // The unpack as one command would spell it, for the log only: nothing reaches a
    // shell, and the package is read through the descriptor opened below.
    const QString command = QStringLiteral("tar -xzf ") + packagePath + QStringLiteral(" -C ") +
                            QLatin1String(kExtractDir);
    Log(DDM_LOG_INFO, QStringLiteral("[update][cmd is ") + command + QStringLiteral("]"));

    // A package refused here is left where it is, like everything else a refusal leaves.
    struct stat packageSt {};
    QString reason;
    const int packageFd = OpenPackage(packagePath, &packageSt, &reason);
    bool unpacked = false;
    if (packageFd < 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][the package is refused: ") + reason + QStringLiteral("]"));
    } else {
        packageDev = static_cast<quint64>(packageSt.st_dev);
        packageIno = static_cast<quint64>(packageSt.st_ino);
        const int dirFd = FreshExtractFolder();
        if (dirFd >= 0) {
            unpacked = Unpack(packageFd, dirFd) && QFileInfo::exists(QLatin1String(kInstallerPackage));
            (void)::close(dirFd);
            // Nothing of a failed unpack stays in the shared /tmp: the folder is this
            // run's own, made above.
            if (!unpacked) {
                (void)LNX_RemoveTree(kExtractDir);
            }
        }
        (void)::close(packageFd);
    }
    if (!unpacked) {
        UpdateFileMsgBox(QString());
        Log(DDM_LOG_WARN, QStringLiteral("[update failed][VanTreloInstaller.pkg is not exist.]"));
        allowClose = true;
        close();
        return;
    }

    killClient();

    installProcess = new QProcess(this);
    connect(installProcess, SIGNAL(finished(int)), this, SLOT(updateFinished()));
    // A helper that cannot start never finishes: without this the window would hold at
    // 99 and refuse to close for good. Queued, so that the run below is complete first.
    connect(
        installProcess, &QProcess::errorOccurred, this,
        [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                updateFinished();
            }
        },
        Qt::QueuedConnection);
    // The program alone, with no argument list: a command line would be split at blanks,
    // and an install folder with a blank in its path would never run its helper.
    installProcess->start(HelperPath(), QStringList(), QIODevice::ReadWrite);

    progressThread = new updateThread();
    connect(progressThread, SIGNAL(signal_updateProgress(int)), this, SLOT(updateSlot(int)));
    progressThread->start(QThread::InheritPriority);
}

void updateWindow::updateSlot(int x) {
    ui->progressBar->setMaximum(100);
    ui->progressBar->setValue(x);
}

void updateWindow::updateFinished() {
    if (progressThread != nullptr) {
        progressThread->stop();
    }
    allowClose = true;
    close();
    // The downloaded package goes only when it is still the file this run unpacked:
    // anything else at that fixed place in the shared /tmp, another user's file
    // included, is not this program's to remove, whatever its rights.
    struct stat st {};
    if (lstat(kDownloadedPackage, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<quint64>(st.st_dev) == packageDev && static_cast<quint64>(st.st_ino) == packageIno) {
        (void)unlink(kDownloadedPackage);
    }
    (void)LNX_RemoveTree(kExtractDir);

    const int code = installProcess->error() == QProcess::FailedToStart ? -1 : installProcess->exitCode();
    if (code != 0) {
        aotoMsgBox(getLabelText(QString::fromLatin1(kErrorBreakKey)));
        Log(DDM_LOG_WARN, QString::number(code));
        Log(DDM_LOG_WARN, QStringLiteral("[update failed][Installation file damage.]"));
    } else {
        aotoMsgBox(getLabelText(QString::fromLatin1(kSuccessKey)));
        Log(DDM_LOG_INFO, QStringLiteral("[update seccess]"));
    }
}

void updateWindow::aotoMsgBox(QString msgBoxInfo) {
    QMessageBox box(QMessageBox::Information, getLabelText(QString::fromLatin1(kTitleKey)), msgBoxInfo,
                    QMessageBox::NoButton, nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    (void)box.addButton(getLabelText(QString::fromLatin1(kOkKey)), QMessageBox::AcceptRole);
    (void)box.exec();
}

void updateWindow::UpdateFileMsgBox(QString msgBoxInfo) {
    (void)msgBoxInfo;
    QMessageBox box(QMessageBox::Information, getLabelText(QString::fromLatin1(kTitleKey)),
                    getLabelText(QString::fromLatin1(kErrorTxtKey)), QMessageBox::NoButton, nullptr,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    (void)box.addButton(getLabelText(QString::fromLatin1(kDownNewKey)), QMessageBox::AcceptRole);
    (void)box.addButton(getLabelText(QString::fromLatin1(kUseOldKey)), QMessageBox::RejectRole);
    // The first button's index: fetch the client anew in the browser.
    if (box.exec() == 0) {
        (void)QDesktopServices::openUrl(QUrl(downloadUrl, QUrl::TolerantMode));
    }
}

void updateWindow::aotoCloseMsgBox(QString msgBoxInfo) {
    auto* box = new QMessageBox(QMessageBox::Information, tr("update"), msgBoxInfo, QMessageBox::Ok, nullptr,
                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    auto* timer = new QTimer(this);
    timer->setInterval(kStartDelayMs);
    timer->setSingleShot(true);
    connect(timer, SIGNAL(timeout()), box, SLOT(accept()));
    timer->start();
    (void)box->exec();
    delete box;
    delete timer;
}

void updateWindow::killClient() {
    const UPDATE_KILL_PF kill = g_kill.load();
    for (const char* name : kClientPrograms) {
        (kill != nullptr ? kill : KillByName)(name);
    }
}

void updateWindow::updateDir(QString newVersionDir, QString oldVersionDir) {
    ui->updateButton->setEnabled(false);
    for (const QString& dir : {newVersionDir, oldVersionDir}) {
        if (!QDir(dir).exists()) {
            (void)QMessageBox::information(this, tr("update"), tr("%1 not exist").arg(dir), QMessageBox::Ok);
            return;
        }
    }
    // One listing for the count and the walk, so the bar ends at its maximum even when
    // the folder changes meanwhile.
    QFileInfoList entries;
    QDirIterator it(newVersionDir, QStringList(QStringLiteral("*")), QDir::NoFilter, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        (void)it.next();
        entries.append(it.fileInfo());
    }
    ui->progressBar->setMaximum(entries.size());
    const QString newRoot = QFileInfo(newVersionDir).absoluteFilePath();
    const QString oldRoot = QFileInfo(oldVersionDir).absoluteFilePath();
    int step = 1;
    for (const QFileInfo& entry : entries) {
        ui->progressBar->setValue(step);
        QString oldPath = entry.absoluteFilePath();
        oldPath.replace(0, newRoot.size(), oldRoot);
        updateFile(entry.absoluteFilePath(), oldPath);
        ++step;
    }
    allowClose = true;
    close();
}

void updateWindow::updateFile(QString newFilePath, QString oldFilePath) {
    const QFileInfo newInfo(newFilePath);
    if (newInfo.isDir()) {
        if (!QFileInfo::exists(oldFilePath)) {
            (void)QDir().mkpath(oldFilePath);
        }
        return;
    }
    const QFileInfo oldInfo(oldFilePath);
    // The user's own settings and the files of a folder "update" stay as they are.
    if (oldInfo.absoluteDir().dirName() == QLatin1String("update") ||
        newInfo.fileName() == QLatin1String("sysconfig.ini")) {
        return;
    }
    if (newInfo.fileName() == QLatin1String("VanTreloUpdate")) {
        Log(DDM_LOG_INFO, QStringLiteral("[update ][VanTreloUpdate is not ingnore]"));
    }
    QFile source(newFilePath);
    if (!source.open(QIODevice::ReadOnly)) {
        return;
    }
    (void)QDir().mkpath(oldInfo.absolutePath());
    // Written beside the old file and renamed over it only when whole: a write that
    // fails half way (a full disk) leaves the old file as it was, not cut short.
    QSaveFile target(oldFilePath);
    if (!target.open(QIODevice::WriteOnly)) {
        return;
    }
    if (oldInfo.exists()) {
        (void)target.setPermissions(oldInfo.permissions());
    }
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError || target.write(bytes) != bytes.size()) {
        target.cancelWriting();
    }
    (void)target.commit();
}
