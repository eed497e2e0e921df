// The message boxes of the Qt side.

#include "util.h"

#include <cstring>

#include <QByteArray>
#include <QMessageBox>
#include <QPushButton>

#include "bubblingwidget.h"
#include "languagesetting.h"
#include "uibox.h"
#include "uicontext.h"
#include "utiltip.h"

namespace {

// A browser drives the front end and a module names the caller: the text goes to the
// browser as a tip instead, so that no modal box opens in front of it. An empty module
// name keeps the box.
bool SentToPlugin(const QString& text, const QString& module, int flag) {
    if (module.isEmpty() || UIContext::GetInstance()->GetPluginMode() != 1) {
        return false;
    }
    Util_SendTipToPlugin(text, flag);
    return true;
}

}  // namespace

// The flag goes with the text only where it is sent to a browser as a tip.
void Util_ShowWarning(const QString& text, const QString& module, int flag) {
    if (SentToPlugin(text, module, flag)) {
        return;
    }
    Util_ShowBox(QMessageBox::Warning, text);
}

void Util_ShowCritical(const QString& text, const QString& module, int flag) {
    if (SentToPlugin(text, module, flag)) {
        return;
    }
    Util_ShowBox(QMessageBox::Critical, text);
}

bool Util_ShowQuestion(const QString& text) {
    const GLOBALLANG lang = LanguageSetting::GetInstance()->GetGlobalLang();
    QMessageBox box(QMessageBox::Question, lang.WARNING, text, QMessageBox::NoButton, nullptr);
    QPushButton* ok = box.addButton(lang.OK, QMessageBox::AcceptRole);
    (void)box.addButton(lang.CANCEL, QMessageBox::RejectRole);
    (void)box.exec();
    // Escape and the close button end the box through CANCEL, its escape button.
    return box.clickedButton() == ok;
}

void Util_ShowStyle(int style, const QString& key) {
    const QString text = LanguageSetting::GetInstance()->GetValue(key);
    Util_WriteLog(0, 1, QStringLiteral("[Util ui show style][str is ") + text + QStringLiteral("]"));
    if (style == 2) {
        BubblingWidget::popUp(text);
    } else if (style == 1) {
        // No module name: the error box is shown even when a browser drives the front end.
        Util_ShowCritical(text, QString(), -1);
    }
}

void Util_ShowBubble(const QString& text) { BubblingWidget::popUp(text); }
