// Shared helpers of the Qt side: log lines, message boxes, fixed text fields.

#include "util.h"

#include <cstring>

#include <QByteArray>
#include <QMessageBox>
#include <QPushButton>

#include "languagesetting.h"
#include "servicelink.h"

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

}  // namespace

void Util_WriteLog(int module, int level, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    (void)UI_Log(static_cast<uint32_t>(module), static_cast<uint32_t>(level), bytes.constData());
}

// The module name and the tip flag matter only where a box is sent to a browser plugin
// as a tip; every box here is shown.
void Util_ShowWarning(const QString& text, const QString& module, int flag) {
    (void)module;
    (void)flag;
    ShowOneButtonBox(QMessageBox::Warning, LanguageSetting::GetInstance()->GetGlobalLang().WARNING,
                     text);
}

void Util_ShowCritical(const QString& text, const QString& module, int flag) {
    (void)module;
    (void)flag;
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
        (void)UI_memset_s(field, width, 0, width);
        return false;
    }
    return Util_FieldSetBytes(field, width, src, n);
}
