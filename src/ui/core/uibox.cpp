// The plain one-button boxes.

#include "uibox.h"

#include "languagesetting.h"

void Util_ShowBox(QMessageBox::Icon icon, const QString& text) {
    const GLOBALLANG lang = LanguageSetting::GetInstance()->GetGlobalLang();
    const QString title = icon == QMessageBox::Critical ? lang.ERROR : lang.WARNING;
    QMessageBox box(icon, title, text, QMessageBox::NoButton, nullptr);
    box.addButton(lang.OK, QMessageBox::AcceptRole);
    (void)box.exec();
}
