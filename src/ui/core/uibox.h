#pragma once
// The plain one-button boxes under the plugin-aware ones of util.h. They ask nothing of
// the client mode, so the configuration below the front-end state can show one.

#include <QMessageBox>
#include <QString>

// A modal box with the given icon and text and one OK button, titled with the current
// language's ERROR text for the error icon and its WARNING text otherwise. It has no
// parent and lives only for its call; title and caption come from the language loaded
// now, so a language change shows in the next box. Always shown, in every client mode.
void Util_ShowBox(QMessageBox::Icon icon, const QString& text);
