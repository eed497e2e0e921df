#pragma once
// The one way the Qt side writes to the program log. It stands below every other file of
// the front end, so that the language texts, the configuration and the boxes can all log.

#include <QString>

// Writes text (as UTF-8) as one line of the program log, module 0 being "UI". Any thread.
void Util_WriteLog(int module, int level, const QString& text);
