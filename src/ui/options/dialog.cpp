// The update download dialog.
//
// The nested event loops are what keep the creator waiting: its exec() runs the
// question, YES runs the progress window's exec() inside it, and a failure runs the
// auto-closing box's exec() inside that. The progress slots arrive as queued calls and
// may run inside one another (a modal progress window's setValue processes events), so
// each leaves the dialog in a state the next can start from.

#include "dialog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include "ddm_log.h"
#include "gmsslthreaddown.h"
#include "languagesetting.h"
#include "ui_dialog.h"
#include "uilog.h"
#include "util.h"

namespace {

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

void Log(const char* text) { Util_WriteLog(0, DDM_LOG_ERROR, QString::fromLatin1(text)); }

const char kDownloadDir[] = "/tmp/";

// Creates the package file anew, for this user alone, and opens it for writing: the
// download's only open of that name. The package lies in the shared, sticky /tmp under a
// fixed name, and a program with root rights installs what it finds there, so nothing
// that stands in its place is written through or taken over: a stale package of this
// user's own (a regular file, looked at without following a link) is removed, anything
// else (a link, a folder, a pipe, another user's file) fails the download with its
// reason and stays as it is. The descriptor, or -1 with the reason.
int CreatePackageFile(const QByteArray& path, QString* reason) {
    struct stat st {};
    if (lstat(path.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            *reason = QStringLiteral("a symbolic link is in its place");
            return -1;
        }
        if (!S_ISREG(st.st_mode)) {
            *reason = QStringLiteral("something that is not a regular file is in its place");
            return -1;
        }
        if (st.st_uid != geteuid()) {
            *reason = QStringLiteral("a file of another user (uid %1) is in its place").arg(st.st_uid);
            return -1;
        }
        if (unlink(path.constData()) != 0 && errno != ENOENT) {
            *reason = qt_error_string(errno);
            return -1;
        }
    } else if (errno != ENOENT) {
        *reason = qt_error_string(errno);
        return -1;
    }
    const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        *reason = errno == EEXIST ? QStringLiteral("something else was put in its place meanwhile")
                                  : qt_error_string(errno);
    }
    return fd;
}

}  // namespace

Dialog::Dialog(QWidget* parent) : QDialog(parent), ui(new Ui_Dialog) {
    ui->setupUi(this);
    setLanguageTexts();
    ui->statusLabel->setWordWrap(true);
    ui->downloadButton->setDefault(true);
    ui->quitButton->setAutoDefault(false);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    proxy = QNetworkProxy(QNetworkProxy::NoProxy);
}

Dialog::~Dialog() {
    delete ui;
    delete progressDialog;
    if (thread != nullptr) {
        thread->deleteLater();
    }
}

void Dialog::setUrl(const QString& text) {
    urlText = text;
    url = QUrl(text, QUrl::TolerantMode);
}

void Dialog::setProxy(const QNetworkProxy& newProxy) { proxy = newProxy; }

QString Dialog::packageFileName(const QString& text) {
    const QString path = QUrl(text, QUrl::TolerantMode).path(QUrl::FullyDecoded);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return name.isEmpty() ? QStringLiteral("VanTrelo.zip") : name;
}

void Dialog::on_downloadButton_clicked() {
    const QString target = QLatin1String(kDownloadDir) + packageFileName(urlText);
    if (!QDir(QLatin1String(kDownloadDir)).exists()) {
        (void)QDir().mkpath(QLatin1String(kDownloadDir));
    }
    QString reason;
    const int fd = CreatePackageFile(QFile::encodeName(target), &reason);
    FILE* stream = nullptr;
    struct stat st {};
    if (fd >= 0) {
        if (fstat(fd, &st) != 0 || (stream = fdopen(fd, "wb")) == nullptr) {
            reason = qt_error_string(errno);
            (void)::close(fd);
            RemoveIfSame(target, static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino));
        }
    }
    if (stream == nullptr) {
        Util_ShowWarning(Text("/UI_DOWNLOAD/UI_DOWNLOAD_UNABLE_SAVE") + target + ":" + reason,
                         QStringLiteral("dialog"), -1);
        return;
    }

    if (progressDialog == nullptr) {
        progressDialog = new QProgressDialog(this);
        progressDialog->setCancelButton(nullptr);
        progressDialog->setLabelText(Text("/UI_DOWNLOAD/UI_DOWNLOAD_DOWNLOADING"));
        connect(progressDialog, &QProgressDialog::canceled, this, &Dialog::cancelDownload);
    }
    setProgressTexts();
    progressDialog->setValue(0);
    downloadComplete = false;

    ui->downloadButton->setEnabled(false);

    thread = new GmSslThreadDown();
    thread->url = urlText;
    thread->filePath = target;
    thread->igmEnable = igmEnable;
    // The thread writes through this open file alone and closes it.
    thread->file = stream;
    filePath = target;
    fileDev = static_cast<quint64>(st.st_dev);
    fileIno = static_cast<quint64>(st.st_ino);
    connect(thread, &GmSslThreadDown::Set_Total, this, &Dialog::Set_Progress_Total);
    connect(thread, &GmSslThreadDown::Set_Step, this, &Dialog::Set_Progress_Data);
    connect(thread, &GmSslThreadDown::GM_DownloadEnd, this, &Dialog::GM_SSL_Download_End);
    thread->start(QThread::InheritPriority);

    close();

    progressDialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint);
    progressDialog->exec();

    // The window has no cancel button and no close button, but Escape ends its exec()
    // without canceled(): a download neither complete nor failed nor already cancelled
    // is cancelled here, so the creator never finds a partial package.
    if (thread != nullptr && !downloadComplete) {
        cancelDownload();
    }
}

void Dialog::on_quitButton_clicked() {
    removeDownloadFile();
    close();
}

void Dialog::httpReadyRead() {}

void Dialog::httpDownloadFinished() {}

void Dialog::updateDownloadProgesss(qlonglong, qlonglong) {}

void Dialog::cancelDownload() {
    ui->statusLabel->setText(Text("/UI_DOWNLOAD/UI_DOWNLOAD_CANCLE_LABEL"));
    cleanupDownload();
    close();
}

void Dialog::autoCloseMsgBox(QString msgBoxInfo) {
    auto* box = new QMessageBox(QMessageBox::Information, Text("/UI_DOWNLOAD/UI_DOWNLOAD_TITLE"),
                                msgBoxInfo, QMessageBox::Ok, nullptr,
                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, box, &QMessageBox::accept);
    timer->start();
    box->exec();
    delete box;
    delete timer;
}

bool Dialog::fromOldThread() const {
    const QObject* from = sender();
    return from != nullptr && from != thread;
}

void Dialog::Set_Progress_Data(int bytesRead) {
    if (bytesRead < 0) {
        Log("[GM updating Progress][reason:invalid param]");
        return;
    }
    if (fromOldThread() || progressDialog == nullptr) {
        return;
    }
    if (bytesRead == progressDialog->maximum()) {
        downloadComplete = true;
    }
    // The value that reaches the maximum resets and hides the window, which ends its
    // exec(): the end of a complete download.
    progressDialog->setValue(bytesRead);
}

void Dialog::Set_Progress_Total(int total) {
    if (total < 0) {
        Log("[GM updata set Progress][reason:invalid param]");
        return;
    }
    if (fromOldThread() || progressDialog == nullptr) {
        return;
    }
    progressDialog->setMinimum(0);
    progressDialog->setMaximum(total);
    progressDialog->setValue(0);
}

void Dialog::GM_SSL_Download_End() {
    if (fromOldThread()) {
        return;
    }
    cleanupDownload();
    autoCloseMsgBox(Text("/UI_DOWNLOAD/UI_DOWNLOAD_FAILED"));
    close();
}

void Dialog::cleanupDownload() {
    ui->downloadButton->setEnabled(true);
    if (thread != nullptr) {
        // Waits until the thread has closed the file, so the removal below finds it whole
        // or not at all.
        thread->GM_Stop();
        thread->deleteLater();
        thread = nullptr;
    }
    removeDownloadFile();
    if (progressDialog != nullptr) {
        progressDialog->hide();
    }
    QDialog::reject();
}

void Dialog::removeDownloadFile() {
    if (!filePath.isEmpty()) {
        RemoveIfSame(filePath, fileDev, fileIno);
    }
}

void Dialog::RemoveIfSame(const QString& path, quint64 dev, quint64 ino) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (lstat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<quint64>(st.st_dev) == dev &&
        static_cast<quint64>(st.st_ino) == ino) {
        (void)unlink(name.constData());
    }
}

bool Dialog::packageDownloaded() const {
    if (!downloadComplete || filePath.isEmpty()) {
        return false;
    }
    struct stat st {};
    return lstat(QFile::encodeName(filePath).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<quint64>(st.st_dev) == fileDev && static_cast<quint64>(st.st_ino) == fileIno;
}

void Dialog::setLanguageTexts() {
    setWindowTitle(Text("/UI_DOWNLOAD/UI_DOWNLOAD_TITLE"));
    ui->statusLabel->setText(Text("/UI_DOWNLOAD/UI_DOWNLOAD_LABEL"));
    ui->downloadButton->setText(Text("/UI_DOWNLOAD/UI_DOWNLOAD_OK"));
    ui->quitButton->setText(Text("/UI_DOWNLOAD/UI_DOWNLOAD_CANCLE"));
}

void Dialog::setProgressTexts() {
    if (progressDialog == nullptr) {
        return;
    }
    progressDialog->setWindowTitle(Text("/UI_DOWNLOAD/UI_DOWNLOAD_DOWNLOADING_TITLE"));
    progressDialog->setLabelText(Text("/UI_DOWNLOAD/UI_DOWNLOAD_DOWNLOADING"));
}
