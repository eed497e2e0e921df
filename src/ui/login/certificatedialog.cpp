// The untrusted-certificate prompt: its form, flags, texts and the four actions.

#include "certificatedialog.h"

#include "languagesetting.h"
#include "ui_certificatedialog.h"

namespace {

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

}  // namespace

certificateDialog::certificateDialog(QWidget* parent)
    : basewidget(parent), ui(new Ui_certificateDialog) {
    // The base's own form has named the dialog already, and a form renames only a
    // dialog without a name.
    setObjectName(QStringLiteral("certificateDialog"));
    ui->setupUi(this);
    setWindowFlags(Qt::WindowCloseButtonHint);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
}

certificateDialog::~certificateDialog() { delete ui; }

void certificateDialog::SetLanguageText() {
    setWindowTitle(Text("/UI_CERTIFICATE/UI_CERTIFICATE_TITLE"));
    ui->pb_KeepSafe->setText(Text("/UI_CERTIFICATE/UI_CERTIFICATE_PB_KEEP_SAFE"));
    ui->pb_CancleConnect->setText(Text("/UI_CERTIFICATE/UI_CERTIFICATE_PB_CANCLE_CONNECT"));
    ui->l_title->setText(Text("/UI_CERTIFICATE/UI_CERTIFICATE_LABEL1"));
    ui->l_tip->setText(Text("/UI_CERTIFICATE/UI_CERTIFICATE_LABEL2"));
    ui->pb_OpenHelp->setText(Text("/UI_CERTIFICATE/UI_CERTIFICATE_PB_OPENHELP"));
    ui->pb_ChangSetting->setText(Text("/UI_CERTIFICATE/UI_CERTIFICATE_PB_CHANGE_SETTING"));
}

void certificateDialog::SetInfo(QString) {}

void certificateDialog::on_pb_ChangSetting_clicked() { emit signal_Language_Changed(); }

void certificateDialog::on_pb_KeepSafe_clicked() { accept(); }

void certificateDialog::on_pb_ChangSetting_3_clicked() { emit signal_Language_Changed(); }

void certificateDialog::on_pb_OpenHelp_3_clicked() { emit signal_OpenHelp(); }

void certificateDialog::on_pb_CancleConnect_clicked() { reject(); }

void certificateDialog::on_pb_OpenHelp_clicked() { emit signal_OpenHelp(); }
