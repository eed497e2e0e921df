#pragma once
// The download thread of a client update package: resolves the gateway's name, fetches
// the package over the service link's TLS download client and writes it to a file,
// reporting the announced size, the bytes received and a failure through queued signals.
// One object serves one download; the process runs one download at a time, since the
// download client's session is process-wide.
//
// The thread writes the target only through the open file its creator hands it, never
// by name. Once started, it alone touches that file and the download session, and
// closes both on every end before it finishes. A download ends one of three ways:
// complete (the file written, flushed and closed, the session closed, and only then the
// last Set_Step, whose value equals the Set_Total value), failed (GM_DownloadEnd), or
// stopped by GM_Stop (no signal at all).

#include <atomic>
#include <cstdio>

#include <QString>
#include <QThread>

class GmSslThreadDown : public QThread {
    Q_OBJECT

public:
    GmSslThreadDown();
    // Stops a download still running (as GM_Stop) before the object goes.
    ~GmSslThreadDown() override;

    // The download, in the thread: connect, TLS, request, size, then GM_WriteFile.
    void GM_Download(const QString& url, const QString& filePath);
    // Copies the reply's body into the target file handed over in file.
    void GM_WriteFile(const QString& filePath, int size);
    // From the GUI thread: ends a download that is still running and waits for its
    // thread. The thread closes what it holds and finishes without a signal. Returns at
    // once when the thread is not running.
    void GM_Stop();

    // Store a non-empty argument; an empty one is logged and changes nothing.
    void Set_Url(const QString& url);
    void Set_FilePath(const QString& path);

    // "https://" host ":" port path.
    QString url;
    // The file that receives the package.
    QString filePath;
    // The target, opened by the creator when it created the file and handed over before
    // start(): the thread writes through it alone, never opening filePath by name, and
    // closes it on every end; null once closed, or when none was handed over (the
    // download then fails at the write).
    FILE* file = nullptr;
    // Non-zero asks for GM/T TLS; set by the creator before start().
    int igmEnable = 0;

signals:
    // The announced size, once, before the first byte is written.
    void Set_Total(int total);
    // The body bytes received so far, once per read.
    void Set_Step(int bytesRead);
    // The download failed.
    void GM_DownloadEnd();

protected:
    void run() override;

private:
    // Closes the file and the session, then logs the failure's line and emits
    // GM_DownloadEnd, unless the download was stopped: a stopped download ends silently,
    // or its creator would report a failure after the user's cancel.
    void ReportEnd(const char* line);
    // Closes the target file; false when what was written may not have reached it.
    bool CloseFile();

    std::atomic<bool> stopRequested{false};
};
