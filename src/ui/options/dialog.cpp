// The update download dialog.
//
// The nested event loops are what keep the creator waiting: its exec() runs the
// question, YES runs the progress window's exec() inside it, and a failure runs the
// auto-closing box's exec() inside that. The progress slots arrive as queued calls and
// may run inside one another (a modal progress window's setValue processes events), so
// each leaves the dialog in a state the next can start from.

#include "dialog.h"

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
    delete file;
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
    delete file;
    file = new QFile(target);
    if (!file->open(QIODevice::WriteOnly)) {
        Util_ShowWarning(Text("/UI_DOWNLOAD/UI_DOWNLOAD_UNABLE_SAVE") + target + ":" +
                             file->errorString(),
                         QStringLiteral("dialog"), -1);
        delete file;
        file = nullptr;
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
    filePath = target;
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
    if (!filePath.isEmpty() && QFile::exists(filePath)) {
        (void)QFile::remove(filePath);
    }
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
