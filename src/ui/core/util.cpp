// Shared helpers of the Qt side: log lines, message boxes, fixed text fields.

#include "util.h"

#include <cstring>

#include <QByteArray>
#include <QMessageBox>
#include <QPushButton>

#include "bubblingwidget.h"
#include "languagesetting.h"
#include "servicelink.h"
#include "uicontext.h"
#include "utiltip.h"

namespace {

// Boxes have no parent and Qt's default window flags for message boxes; each lives only
// for its call. The button captions and the title come from the language loaded now, so
// a language change shows in the next box.
void ShowOneButtonBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
    const GLOBALLANG lang = LanguageSetting::GetInstance()->GetGlobalLang();
    QMessageBox box(icon, title, text, QMessageBox::NoButton, nullptr);
    box.addButton(lang.OK, QMessageBox::AcceptRole);
    (void)box.exec();
}

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

void Util_WriteLog(int module, int level, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    (void)UI_Log(static_cast<uint32_t>(module), static_cast<uint32_t>(level), bytes.constData());
}

// The flag goes with the text only where it is sent to a browser as a tip.
void Util_ShowWarning(const QString& text, const QString& module, int flag) {
    if (SentToPlugin(text, module, flag)) {
        return;
    }
    ShowOneButtonBox(QMessageBox::Warning, LanguageSetting::GetInstance()->GetGlobalLang().WARNING,
                     text);
}

void Util_ShowCritical(const QString& text, const QString& module, int flag) {
    if (SentToPlugin(text, module, flag)) {
        return;
    }
    ShowOneButtonBox(QMessageBox::Critical, LanguageSetting::GetInstance()->GetGlobalLang().ERROR,
                     text);
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

size_t Util_FieldLength(const char* field, size_t width) {
    return field == nullptr ? 0 : strnlen(field, width);
}

QString Util_FieldToString(const char* field, size_t width) {
    return QString::fromUtf8(field, static_cast<int>(Util_FieldLength(field, width)));
}

QString Util_FieldToLocal8Bit(const char* field, size_t width) {
    return QString::fromLocal8Bit(field, static_cast<int>(Util_FieldLength(field, width)));
}

bool Util_FieldSetBytes(char* field, size_t width, const char* bytes, size_t len) {
    if (field == nullptr || width == 0) {
        return false;
    }
    (void)UI_memset_s(field, width, 0, width);
    const size_t n = Util_FieldLength(bytes, len);
    if (n == 0) {
        return true;
    }
    // The bound keeps the last byte of the field for the terminator; a longer text is
    // refused by the copy, which leaves the field cleared.
    return UI_memcpy_s(field, width - 1, bytes, n) == 0;
}

bool Util_FieldSetString(char* field, size_t width, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return Util_FieldSetBytes(field, width, bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool Util_FieldCopy(char* field, size_t width, const char* src, size_t srcWidth) {
    if (field == nullptr || width == 0) {
        return false;
    }
    const size_t n = Util_FieldLength(src, srcWidth);
    if (src != nullptr && n == srcWidth) {
        // No terminator within the source field: too long, whatever the widths. The
        // copy is still offered to the bounded copy (with a count it must refuse, so it
        // reads nothing) so that the refusal is reported like any other.
        (void)UI_memset_s(field, width, 0, width);
        (void)UI_memcpy_s(field, width - 1, src, width);
        return false;
    }
    return Util_FieldSetBytes(field, width, src, n);
}
