// The fault report dialog: the system information files on opening, the user's
// description in error_detail.txt on OK, then the archive dialog.

#include "breakdownsubmit.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include "ddm_log.h"
#include "errorreport.h"
#include "languagesetting.h"
#include "saveerroereportwidget.h"
#include "servicelink.h"
#include "ui_breakdownsubmit.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"

namespace {

// Paths of this many bytes or more in the local encoding are refused.
constexpr int kPathLimit = 1025;

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(QLatin1String(key)); }

}  // namespace

BreakDownSubmit::BreakDownSubmit(QWidget* parent)
    : basewidget(parent), ui(new Ui_BreakDownSubmit) {
    ui->setupUi(this);
    setFixedSize(width(), height());
}

BreakDownSubmit::~BreakDownSubmit() { delete ui; }

// The system commands run here, on the GUI thread, so that the dialog only shows once
// the files it announces are in the folder. A failure is logged by the service link;
// the report then simply holds fewer files.
void BreakDownSubmit::InitWidget() {
    basewidget::InitWidget();
    const QString folder = QDir::homePath() + QStringLiteral("/.VanTrelo/log");
    UIContext::GetInstance()->SetLogDir(folder);
    const QByteArray local = folder.toLocal8Bit();
    (void)UI_SystemInfo_Set(local.constData());
}

void BreakDownSubmit::SetLanguageText() {
    ui->l_title->setText(Text("/UI_BREAKDOWN/UI_BREAKDOWN_LABEL_TITLE"));
    ui->l_please->setText(Text("/UI_BREAKDOWN/UI_BREAKDOWN_LABEL_PLEASE"));
    // A tab in a fault description says nothing; Tab moves on to the buttons instead.
    ui->te_write->setTabChangesFocus(true);
    ui->te_write->setPlaceholderText(Text("/UI_BREAKDOWN/UI_BREAKDOWN_TEXTEDIT_WRITE"));
    ui->tb_errorMsg->setText(Text("/UI_BREAKDOWN/UI_BREAKDOWN_TOOLBUTTON_ERRORMSG"));
    ui->pb_cancel->setText(Text("/UI_BREAKDOWN/UI_BREAKDOWN_PUSHBUTTON_CANCEL"));
    ui->pb_ok->setText(Text("/UI_BREAKDOWN/UI_BREAKDOWN_PUSHBUTTON_OK"));
    setWindowTitle(Text("/UI_BREAKDOWN/UI_BREAKDOWN_TITLE"));
}

void BreakDownSubmit::on_tb_errorMsg_clicked() {
    auto* viewer = new ErrorReport(this);
    viewer->Init();
    viewer->exec();
    delete viewer;
}

void BreakDownSubmit::on_pb_ok_clicked() {
    const QString path = QDir::homePath() + QStringLiteral("/.VanTrelo/log/error_detail.txt");
    if (path.toLocal8Bit().size() >= kPathLimit) {
        Util_WriteLog(0, DDM_LOG_WARN,
                      QStringLiteral("[Break down submit write error][get invalid file path length]"));
        return;
    }
    // Kept open until the archive dialog has ended; every line is flushed as written, so
    // the archive already finds the whole description on disk.
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream out(&file);
        out.setCodec("utf-8");
        out << Text("/UI_BREAKDOWN/UI_BREAKDOWN_VERSION_INFO")
            << UISystemProfile::GetInstance()->GetVersion() << QStringLiteral("\r\n") << Qt::endl;
        out << ui->te_write->toPlainText() << Qt::endl;
        Util_WriteLog(0, DDM_LOG_DEBUG,
                      QStringLiteral("[BreakDownSubmit write error detaile file success]"));
    } else {
        // The report still goes on without the description; the log says why it lacks one.
        Util_WriteLog(0, DDM_LOG_WARN,
                      QStringLiteral("[Break down submit write error][open error_detail.txt failed]"));
    }
    close();
    auto* archive = new SaveErroeReportWidget(this);
    archive->Init();
    archive->exec();
    delete archive;
}

void BreakDownSubmit::on_pb_cancel_clicked() { close(); }
