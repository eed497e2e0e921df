// The program log line of the Qt side.

#include "uilog.h"

#include <QByteArray>

#include "servicelink.h"

void Util_WriteLog(int module, int level, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    (void)UI_Log(static_cast<uint32_t>(module), static_cast<uint32_t>(level), bytes.constData());
}
