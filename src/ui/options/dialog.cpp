// The update download dialog. The download itself is not built yet.

#include "dialog.h"

#include "ddm_log.h"
#include "util.h"

Dialog::Dialog(QWidget* parent) : QDialog(parent) {
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[Dialog][update download not built yet]"));
}

Dialog::~Dialog() = default;

void Dialog::setUrl(const QString& newUrl) { url = newUrl; }

void Dialog::setProxy(const QNetworkProxy& newProxy) { proxy = newProxy; }
