// The dynamic token prompt: its form, the field's filter, the texts and the commit.

#include "dynamictokentodedialog.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>

#include "languagesetting.h"
#include "ui_dynamictokentodedialog.h"

namespace {

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

}  // namespace

DynamicTokenTodeDialog::DynamicTokenTodeDialog(QWidget* parent)
    : basewidget(parent), ui(new Ui_DynamicTokenTodeDialog) {
    // The base's own form has named the dialog already, and a form renames only a
    // dialog without a name.
    setObjectName(QStringLiteral("DynamicTokenTodeDialog"));
    ui->setupUi(this);
}

DynamicTokenTodeDialog::~DynamicTokenTodeDialog() { delete ui; }

void DynamicTokenTodeDialog::InitWidget() {
    basewidget::InitWidget();
    ui->le_number->installEventFilter(this);
}

void DynamicTokenTodeDialog::SetLanguageText() {
    setWindowTitle(Text("/UI_DYNAMICTOKENCODE/UI_DYNAMICTOKENCODE_TITLE"));
    ui->l_tip->setText(Text("/UI_DYNAMICTOKENCODE/UI_DYNAMICTOKENCODE_TIP"));
    ui->pb_commit->setText(Text("/UI_DYNAMICTOKENCODE/UI_DYNAMICTOKENCODE_COMMIT"));
}

// A code is a secret for the minute it lives: it neither leaves nor enters the field
// through the clipboard or the selection.
bool DynamicTokenTodeDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->le_number) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Copy)) {
                return true;
            }
        }
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// The code goes out before the dialog closes, so the creator holds it when exec returns.
void DynamicTokenTodeDialog::on_pb_commit_clicked() {
    emit signal_SendCodeStr(ui->le_number->text());
    accept();
}
