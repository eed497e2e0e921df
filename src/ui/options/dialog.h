#pragma once
// The update download dialog: asks whether to download the gateway's new client and
// fetches the package to "/tmp/" with a progress dialog. The client update builds it on
// its stack.

#include <QDialog>
#include <QNetworkProxy>
#include <QString>

class Dialog : public QDialog {
    Q_OBJECT

public:
    explicit Dialog(QWidget* parent = nullptr);
    ~Dialog() override;

    // The package URL a later download fetches.
    void setUrl(const QString& url);
    // Kept only: the download does not go through a Qt proxy.
    void setProxy(const QNetworkProxy& proxy);

    // Non-zero: the download asks for GM/T TLS.
    int gmEnable = 0;

private:
    QString url;
    QNetworkProxy proxy;
};
