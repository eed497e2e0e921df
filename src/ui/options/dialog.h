#pragma once
// The update download dialog: asks whether to download the gateway's new client and, on
// YES, fetches the package into "/tmp/" through the download thread while a modal
// progress window shows the bytes received. The client update builds it on its stack
// without a parent, runs exec() and then looks for the package file: a completed
// download leaves it, a failed or cancelled one has it removed, NO never creates it.

#include <QDialog>
#include <QNetworkProxy>
#include <QString>
#include <QUrl>

class GmSslThreadDown;
class QFile;
class QProgressDialog;
class Ui_Dialog;

class Dialog : public QDialog {
    Q_OBJECT

public:
    explicit Dialog(QWidget* parent = nullptr);
    ~Dialog() override;

    // The package URL a later download fetches.
    void setUrl(const QString& url);
    // Kept only: the download goes to the gateway directly, through no proxy.
    void setProxy(const QNetworkProxy& proxy);

    // The name the package is saved under in "/tmp/": the last segment of the URL's
    // path, fully decoded, or "VanTrelo.zip" when that is empty. The client update looks
    // for the file under the same name.
    static QString packageFileName(const QString& url);

    // Non-zero: the download asks for GM/T TLS. Set by the creator before exec().
    int igmEnable = 0;

public slots:
    void on_downloadButton_clicked();

private slots:
    void on_quitButton_clicked();
    // A download through Qt's network classes was once planned here; nothing starts one,
    // and these stay empty.
    void httpReadyRead();
    void httpDownloadFinished();
    void updateDownloadProgesss(qlonglong bytesRead, qlonglong totalBytes);
    void cancelDownload();
    void autoCloseMsgBox(QString msgBoxInfo);
    void Set_Progress_Data(int bytesRead);
    void Set_Progress_Total(int total);
    void GM_SSL_Download_End();

private:
    void setLanguageTexts();
    void setProgressTexts();
    void removeDownloadFile();
    void cleanupDownload();
    // True when a signal comes from a download thread that is no longer this dialog's
    // (one stopped and left to be deleted): its late signals change nothing.
    bool fromOldThread() const;

    Ui_Dialog* ui;
    QProgressDialog* progressDialog = nullptr;
    QUrl url;
    QFile* file = nullptr;
    QNetworkProxy proxy;
    QString urlText;
    QString filePath;
    GmSslThreadDown* thread = nullptr;
    // The progress reached the announced size: the download is complete.
    bool downloadComplete = false;
};
