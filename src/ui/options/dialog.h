#pragma once
// The update download dialog: asks whether to download the gateway's new client and, on
// YES, fetches the package into "/tmp/" through the download thread while a modal
// progress window shows the bytes received. The client update builds it on its stack
// without a parent, runs exec() and then asks it for the package: a completed download
// leaves the file it created, a failed or cancelled one has it removed, NO never
// creates one. The file is created anew for the user alone; what another user, a link
// or anything but a regular file holds at its place fails the download and is left as
// it is.

#include <QDialog>
#include <QNetworkProxy>
#include <QString>
#include <QUrl>

class GmSslThreadDown;
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

    // True when this dialog's download is complete and its file, which it created for
    // this user alone, is still the one at the package's place. Whatever else lies
    // there (another user's file, say, which made the download fail) is no package of
    // this download.
    bool packageDownloaded() const;

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
    // Removes the file at path when it is still the regular file of that device and
    // inode, and nothing that has taken its name since.
    static void RemoveIfSame(const QString& path, quint64 dev, quint64 ino);

    Ui_Dialog* ui;
    QProgressDialog* progressDialog = nullptr;
    QUrl url;
    QNetworkProxy proxy;
    QString urlText;
    QString filePath;
    // The file the download created at filePath (device and inode): the only one it
    // removes or reports as its package.
    quint64 fileDev = 0;
    quint64 fileIno = 0;
    GmSslThreadDown* thread = nullptr;
    // The progress reached the announced size: the download is complete.
    bool downloadComplete = false;
};
