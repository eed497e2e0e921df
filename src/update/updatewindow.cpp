// The update window and its install run.

#include "updatewindow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

// A fresh, empty unpack folder of this process's user, readable by nobody else. Whatever
// stood at its place goes first, removed without following links: a folder left by an
// earlier run still holds the installer package of an older download, which an
// extraction that fails would otherwise leave to be installed. False (logged) when the
// place cannot be cleared or the folder cannot be made as required, as when another
// user owns it in the shared, sticky /tmp.
bool FreshExtractFolder() {
    const int tmpFd = open(kTmpDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmpFd < 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot open /tmp, errno is %1]").arg(errno));
        return false;
    }
    bool ok = false;
    int err = LNX_RemoveAt(tmpFd, kExtractName);
    if (err != 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot remove %1, errno is %2]").arg(kExtractDir).arg(err));
    } else if (mkdirat(tmpFd, kExtractName, 0700) != 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot create %1, errno is %2]").arg(kExtractDir).arg(errno));
    } else {
        const int fd = openat(tmpFd, kExtractName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        // Created just now by this process, so it must be its own; the mode is set again
        // because the creation mask may have taken bits the extraction needs.
        ok = fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid() && fchmod(fd, 0700) == 0;
        if (!ok) {
            Log(DDM_LOG_ERROR, QStringLiteral("[update failed][%1 is not a folder of this user]").arg(kExtractDir));
        }
        if (fd >= 0) {
            (void)close(fd);
        }
    }
    (void)close(tmpFd);
    return ok;
}

// Unpacks the package into the unpack folder with tar, given its arguments one by one,
// never through a shell: the path comes from the command line and may hold any
// character. True when tar ended with status 0.
bool Unpack(const QString& package) {
    std::vector<std::string> words = {kTarPath, "-xzf", QFile::encodeName(package).toStdString(),
                                      "-C", kExtractDir};
    std::vector<char*> argv = LNX_ArgvOf(words);
    const LnxSpawnPlan plan = {kTarPath, argv.data(), true};
    pid_t pid = -1;
    int err = 0;
    if (LNX_Spawn(plan, &pid, &err) != LnxSpawnResult::kStarted) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][cannot run tar, errno is %1]").arg(err));
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            Log(DDM_LOG_ERROR, QStringLiteral("[update failed][tar lost, errno is %1]").arg(errno));
            return false;
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[update failed][tar ended with status 0x%1]").arg(status, 0, 16));
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
    // The command as a shell would read it, for the log only: it never reaches a shell.
    const QString command = QStringLiteral("tar -xzf ") + packagePath + QStringLiteral(" -C ") +
                            QLatin1String(kExtractDir);
    Log(DDM_LOG_INFO, QStringLiteral("[update][cmd is ") + command + QStringLiteral("]"));

    const bool unpacked = FreshExtractFolder() && Unpack(packagePath);
    if (!unpacked || !QFileInfo::exists(QLatin1String(kInstallerPackage))) {
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
    (void)QFile::remove(QLatin1String(kDownloadedPackage));
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
