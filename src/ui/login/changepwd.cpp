// The password change dialog: its form, the input limits and key filter, the texts, and
// the change request with the gateway's answers.

#include "changepwd.h"

#include <cstring>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

#include "languagesetting.h"
#include "servicelink.h"
#include "ui_changepwd.h"
#include "uicontext.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

// Each password field of the change request holds 127 bytes of UTF-8.
constexpr int kPasswordMaxBytes = 127;
constexpr int kPasswordMaxLength = 127;
constexpr size_t kMsgCodeNameSize = 256;

// The keys of the three complexity refusals, which come with the gateway's rules.
const char kIsLow[] = "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_ISLOW_ERROR";
const char kIsMiddle[] =
    "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_ISMIDDLE_ERROR";
const char kIsHigh[] = "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_ISHIGH_ERROR";

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// A rule text with its number: every "0" of the text stands for it.
QString WithNumber(const char* key, uint32_t value) {
    return Text(key).replace(QLatin1String("0"), QString::number(static_cast<int32_t>(value)));
}

bool IsPasteOrCopy(QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    return key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Copy);
}

// A field whose text goes into a fixed field of the request takes no text that would
// not fit there: an edit that would is undone, back to the last text that fitted.
// Characters are not the measure; a password of accented letters reaches the byte
// limit long before the field's length limit.
void CapUtf8Bytes(QLineEdit* field, int maxBytes) {
    QObject::connect(field, &QLineEdit::textChanged, field,
                     [field, maxBytes, last = QString()](const QString& text) mutable {
                         if (Util_CheckUtf8Length(text, maxBytes)) {
                             last = text;
                         } else {
                             field->setText(last);
                         }
                     });
}

}  // namespace

ChangePwd::ChangePwd(QWidget* parent) : basewidget(parent), ui(new Ui_ChangePwd) {
    // The base's own form has named the dialog already, and a form renames only a
    // dialog without a name.
    setObjectName(QStringLiteral("ChangePwd"));
    ui->setupUi(this);
    setFixedSize(size());
}

ChangePwd::~ChangePwd() { delete ui; }

void ChangePwd::SetInputControl() {
    QLineEdit* const fields[] = {ui->le_oldPwd, ui->le_newPwd, ui->le_confirmPwd};
    for (QLineEdit* field : fields) {
        field->setEchoMode(QLineEdit::Password);
    }
    for (QLineEdit* field : fields) {
        field->installEventFilter(this);
    }
    ui->pb_cancel->installEventFilter(this);
    ui->pb_ok->installEventFilter(this);
    for (QLineEdit* field : fields) {
        field->setMaxLength(kPasswordMaxLength);
        Util_SetNoChineseValidator(field);
        field->setContextMenuPolicy(Qt::NoContextMenu);
        field->installEventFilter(this);
        CapUtf8Bytes(field, kPasswordMaxBytes);
    }
}

void ChangePwd::SetLanguageText() {
    ui->l_oldPwd->setText(Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_OLDPWD"));
    ui->l_newPwd->setText(Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_NEWPWD"));
    ui->l_confirmPwd->setText(Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_CONFIRMPWD"));
    ui->l_tip->setText(Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_TIPS"));
    ui->gb_pwdDemand->setTitle(Text("/UI_CHANGEPWD/UI_CHANGEPWD_GROUPBOX_PWDDEMAND"));
    ui->pb_cancel->setText(Text("/UI_CHANGEPWD/UI_CHANGEPWD_PUSHBUTTON_CANCEL"));
    ui->pb_ok->setText(Text("/UI_CHANGEPWD/UI_CHANGEPWD_PUSHBUTTON_OK"));
    setWindowTitle(Text("/UI_CHANGEPWD/UI_CHANGEPWD_TITLE"));
}

void ChangePwd::SetToolTip() {
    ui->le_oldPwd->setToolTip(Text("/UI_CHANGEPWD/UI_CHANGEPWD_OLDPWD_TOOLTIP"));
    ui->le_newPwd->setToolTip(Text("/UI_CHANGEPWD/UI_CHANGEPWD_NEWPWD_TOOLTIP"));
    ui->le_confirmPwd->setToolTip(Text("/UI_CHANGEPWD/UI_CHANGEPWD_CONFIRMPWD_TOOLTIP"));
}

// The arrows belong to the two buttons: in a field they would only move a cursor through
// characters nobody can see.
bool ChangePwd::eventFilter(QObject* watched, QEvent* event) {
    const bool isButton = watched == ui->pb_cancel || watched == ui->pb_ok;
    const bool isField =
        watched == ui->le_oldPwd || watched == ui->le_newPwd || watched == ui->le_confirmPwd;
    if (!isButton && !isField) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Right) {
            if (ui->pb_cancel->hasFocus()) {
                ui->pb_ok->setFocus(Qt::OtherFocusReason);
            }
            return true;
        }
        if (key == Qt::Key_Left) {
            if (ui->pb_ok->hasFocus()) {
                ui->pb_cancel->setFocus(Qt::OtherFocusReason);
            }
            return true;
        }
    }
    if (isButton) {
        return QDialog::eventFilter(watched, event);
    }
    if (IsPasteOrCopy(event)) {
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// A first login may not go on without the new password: its creator is told that the
// user refused. Otherwise the dialog just closes.
void ChangePwd::closeEvent(QCloseEvent*) {
    if (UIContext::GetInstance()->GetFirstLoginModifyPwd()) {
        reject();
    } else {
        close();
    }
}

bool ChangePwd::isPwdFilled() {
    return !ui->le_oldPwd->text().isEmpty() && !ui->le_newPwd->text().isEmpty() &&
           !ui->le_confirmPwd->text().isEmpty();
}

bool ChangePwd::isPwdConfirmed() { return ui->le_newPwd->text() == ui->le_confirmPwd->text(); }

void ChangePwd::on_pb_cancel_clicked() { reject(); }

void ChangePwd::on_pb_ok_clicked() {
    if (!isPwdFilled()) {
        Notice(Text("/UI_CHANGEPWD/UI_CHANGEPWD_PWD_EMPTY"));
        return;
    }
    if (!isPwdConfirmed()) {
        Notice(Text("/UI_CHANGEPWD/UI_CHANGEPWD_PWD_UNEQUAL"));
        return;
    }
    if (ui->le_oldPwd->text() == ui->le_newPwd->text()) {
        Notice(Text("/UI_CHANGEPWD/UI_CHANGEPWD_PWD_NEWOLDPW_SAME"));
        return;
    }

    PwdModifyInfo request = {};
    (void)Util_FieldSetString(request.acOldPwd, sizeof(request.acOldPwd), ui->le_oldPwd->text());
    (void)Util_FieldSetString(request.acNewPwd, sizeof(request.acNewPwd), ui->le_newPwd->text());
    UI_PWD_POLICY_S policy = {};
    uint32_t kind = 0;
    char msgCodeName[kMsgCodeNameSize] = {};
    const uint32_t ret = UI_SslPwd_Modify(&request, msgCodeName, &kind, &policy);
    // The passwords stay no longer in memory than the request needs them.
    std::memset(&request, 0, sizeof(request));
    if (ret != 0) {
        Notice(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
        return;
    }
    if (kind == 1) {
        accept();
        return;
    }
    const QString key = Util_FieldToLocal8Bit(msgCodeName, sizeof(msgCodeName));
    if (key == QLatin1String(kIsLow) || key == QLatin1String(kIsMiddle) ||
        key == QLatin1String(kIsHigh)) {
        ShowPolicy(key, policy);
        Notice(Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_TIP"));
        return;
    }
    Notice(LanguageSetting::GetInstance()->GetValue(key));
    ClearPolicy();
}

void ChangePwd::ShowPolicy(const QString& key, const UI_PWD_POLICY_S& policy) {
    ui->lb_pwd1->setText(WithNumber("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_MINLEN", policy.uiMinLength));
    ui->lb_pwd2->setText(WithNumber("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_MAXLEN", policy.uiMaxLength));
    if (key == QLatin1String(kIsLow)) {
        ui->lb_pwd3->setText(Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_COMPLEXITY_LOW"));
        ui->lb_pwd4->setText(QStringLiteral(" "));
        return;
    }
    ui->lb_pwd3->setText(policy.uiNamePwdDiffer == 1
                             ? Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_USE_PSWD_SAME_INVALD")
                             : Text("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_USE_PSWD_SAME"));
    ui->lb_pwd4->setText(
        WithNumber("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_COMPLEXITY", policy.uiMixedCase + 1));
}

void ChangePwd::ClearPolicy() {
    ui->lb_pwd1->clear();
    ui->lb_pwd2->clear();
    ui->lb_pwd3->clear();
    ui->lb_pwd4->clear();
}

void ChangePwd::Notice(const QString& text) {
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    QMessageBox box(QMessageBox::Information, global.WARNING, text, QMessageBox::NoButton, this,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.addButton(global.OK, QMessageBox::AcceptRole);
    (void)box.exec();
}
