// The fault report archive dialog: the archive's path, and zip over the log folder.

#include "saveerroereportwidget.h"

#include <sys/wait.h>

#include <vector>

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "ddm_log.h"
#include "languagesetting.h"
#include "servicelink.h"
#include "ui_saveerroereportwidget.h"
#include "util.h"

namespace {

// Commands of this many bytes or more in the local encoding are not run.
constexpr int kCommandLimit = 1025;

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(QLatin1String(key)); }

QString LogFolder() { return QDir::homePath() + QStringLiteral("/.VanTrelo/log"); }

// What "folder/*" gives: the visible regular files directly in the folder, by name. A
// link is left out, since it may point anywhere (a key in the home folder, say) and the
// report goes to someone else; subfolders are not packed.
QStringList ReportFiles() {
    QStringList files;
    const QDir dir(LogFolder());
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Name)) {
        files << dir.absoluteFilePath(name);
    }
    return files;
}

// zip names an archive given without a suffix "name.zip".
bool ArchiveExists(const QString& target) {
    const QFileInfo info(target);
    return info.isFile() ||
           (info.suffix().isEmpty() && QFileInfo(target + QStringLiteral(".zip")).isFile());
}

}  // namespace

SaveErroeReportWidget::SaveErroeReportWidget(QWidget* parent)
    : basewidget(parent), ui(new Ui_SaveErroeReportWidget) {
    ui->setupUi(this);
    setFixedSize(width(), height());
    SetDefaultFileName(QDir::homePath() + QStringLiteral("/.VanTrelo"));
}

SaveErroeReportWidget::~SaveErroeReportWidget() {
    delete ui;
    ui = nullptr;
}

void SaveErroeReportWidget::SetLanguageText() {
    ui->l_tip->setText(Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_LABEL"));
    ui->pb_Browse->setText(Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_BROWSE"));
    ui->pb_Commit->setText(Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_COMMIT"));
    ui->pb_Cancle->setText(Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_CANCLE"));
    setWindowTitle(Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_TITLE"));
}

// The stamp's last two digits repeat the day of the month; report names keep that form.
// Two names made within one second are the same, and zip then adds to that archive.
void SaveErroeReportWidget::SetDefaultFileName(QString folder) {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmssdd"));
    QString path = folder;
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'))) {
        path += QStringLiteral("VanTreloFaultReport");
    } else {
        path += QStringLiteral("/VanTreloFaultReport");
    }
    path += stamp + QStringLiteral(".zip");
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    ui->le_Path->setText(path);
}

void SaveErroeReportWidget::on_pb_Browse_clicked() {
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    const QString folder = QFileDialog::getExistingDirectory(this, global.SAVEAS, QString(),
                                                             QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) {
        SetDefaultFileName(folder);
    }
}

// The box tells what became of the archive: the user sends it on believing it exists.
void SaveErroeReportWidget::on_pb_Commit_clicked() {
    QString path = ui->le_Path->text();
    QString message;
    if (path.isEmpty()) {
        message = Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_FAILED");
    } else if (CompressErrorReport(path)) {
        message = Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_ZIP_SUCCESS");
    } else {
        message = Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_FAILED");
    }
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    QMessageBox box(QMessageBox::Information, QString(), message, QMessageBox::NoButton, this);
    box.addButton(global.OK, QMessageBox::AcceptRole);
    box.exec();
    close();
}

// The logged command is the one a shell would have been given; zip itself gets the same
// target and the files that command's "*" stands for as separate arguments, so that no
// character of the path is ever read as shell text.
bool SaveErroeReportWidget::CompressErrorReport(QString& target) {
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[To compress errorreport][start mac or linux zip]"));
    QString source = LogFolder() + QStringLiteral("/*");
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString archive = target;
    target.replace(QLatin1Char(' '), QStringLiteral("\\ "));
    source.replace(QLatin1Char(' '), QStringLiteral("\\ "));
    const QString command = QStringLiteral("zip -j ") + target + QLatin1Char(' ') + source;
    if (command.toLocal8Bit().size() >= kCommandLimit) {
        Util_WriteLog(0, DDM_LOG_WARN,
                      QStringLiteral("[To compress errorreport error][get invalid file path length]"));
        return false;
    }

    const QByteArray archiveLocal = archive.toLocal8Bit();
    std::vector<QByteArray> fileLocal;
    for (const QString& file : ReportFiles()) {
        fileLocal.push_back(file.toLocal8Bit());
    }
    std::vector<const char*> files;
    for (const QByteArray& file : fileLocal) {
        files.push_back(file.constData());
    }
    files.push_back(nullptr);
    int status = -1;
    const uint32_t rc = UI_ErrorReport_Zip(archiveLocal.constData(), files.data(), &status);
    Util_WriteLog(0, DDM_LOG_WARN, "[Mac or linux zip command is " + command + "]");

    if (rc != 0) {
        Util_WriteLog(0, DDM_LOG_WARN,
                      QStringLiteral("[To compress errorreport error][zip could not be started]"));
        return false;
    }
    if (!WIFEXITED(status)) {
        Util_WriteLog(0, DDM_LOG_WARN,
                      QStringLiteral("[To compress errorreport error][zip wait status is %1]").arg(status));
        return false;
    }
    if (WEXITSTATUS(status) != 0) {
        Util_WriteLog(0, DDM_LOG_WARN, QStringLiteral("[To compress errorreport error][zip exit status is %1]")
                                           .arg(WEXITSTATUS(status)));
        return false;
    }
    if (!ArchiveExists(archive)) {
        Util_WriteLog(0, DDM_LOG_WARN,
                      "[To compress errorreport error][no archive at " + archive + "]");
        return false;
    }
    return true;
}

void SaveErroeReportWidget::on_pb_Cancle_clicked() {
    if (Util_ShowQuestion(Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_MEAAAGE_TEXT"))) {
        close();
    }
}
