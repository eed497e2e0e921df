// The package download thread.
//
// Stopping: GM_Stop marks the download stopped and has the download client shut its
// socket down, which ends whatever call the thread waits in (connect, handshake, read);
// the thread then sees the mark, closes its file and the session and finishes without a
// signal. Nothing is ever torn down under the thread's feet: no forced termination, no
// file closed from another thread.

#include "gmsslthreaddown.h"

#include <cstring>

#include <QByteArray>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>

#include "ddm_log.h"
#include "servicelink.h"
#include "uilog.h"

namespace {

void Log(uint32_t level, const char* text) {
    Util_WriteLog(0, static_cast<int>(level), QString::fromLatin1(text));
}

// The address buffer and the path buffer of one download.
constexpr size_t kAddressSize = 256;
constexpr size_t kPathSize = 256;

}  // namespace

GmSslThreadDown::GmSslThreadDown() : QThread(nullptr) {}

GmSslThreadDown::~GmSslThreadDown() {
    Log(DDM_LOG_DEBUG, "[Gm Update Client][Thread Analysis Function]");
    GM_Stop();
    // A file handed over for a download that never ran.
    (void)CloseFile();
}

void GmSslThreadDown::run() {
    const QString urlCopy = url;
    const QString pathCopy = filePath;
    GM_Download(urlCopy, pathCopy);
    // Every road out has closed both already; this only makes sure of it.
    (void)CloseFile();
    UI_SSL_Close();
}

void GmSslThreadDown::ReportEnd(const char* line) {
    (void)CloseFile();
    UI_SSL_Close();
    if (stopRequested.load()) {
        Log(DDM_LOG_INFO, "[Gm Update Client][download stopped]");
        return;
    }
    Log(DDM_LOG_ERROR, line);
    emit GM_DownloadEnd();
}

bool GmSslThreadDown::CloseFile() {
    if (file == nullptr) {
        return true;
    }
    // The last pieces may still sit in the stream's buffer: a full disk shows only when
    // they are flushed, or when the file is closed.
    bool written = std::fflush(file) == 0;
    written = std::fclose(file) == 0 && written;
    file = nullptr;
    return written;
}

void GmSslThreadDown::GM_Download(const QString& urlText, const QString& path) {
    if (urlText.isEmpty() || path.isEmpty()) {
        ReportEnd("[Gm Update Client][reason:invalid param]");
        return;
    }

    // "https://" host ":" port "/" path: no part has a default.
    const QString rest = urlText.mid(urlText.indexOf(QLatin1String("https://")) + 8);
    const int colon = rest.indexOf(QLatin1Char(':'));
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString host = rest.left(colon);
    const QString portText = slash < 0 ? rest.mid(colon + 1) : rest.mid(colon + 1, slash - colon - 1);
    const QString urlPath = slash < 0 ? QString() : rest.mid(slash);

    char address[kAddressSize];
    std::memset(address, 0, sizeof(address));
    const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
    if (found.isEmpty()) {
        // Nothing to connect to: the connect below refuses the empty address.
        Log(DDM_LOG_ERROR, "[Gm Update Client][host lookup found no address]");
    } else {
        const QByteArray text = found.first().toString().toUtf8();
        if (static_cast<size_t>(text.size()) < sizeof(address)) {
            (void)UI_memcpy_s(address, sizeof(address), text.constData(),
                              static_cast<size_t>(text.size()));
        }
    }

    bool isNumber = false;
    qlonglong port = portText.toLongLong(&isNumber, 10);
    if (!isNumber) {
        port = 0;
    }

    if (UI_SSL_HttpsConnect(address, static_cast<int32_t>(port & 0xFFFF)) == 1) {
        ReportEnd("[Gm Update Client][Socket connect Failed]");
        return;
    }
    if (UI_SSL_Create(static_cast<uint32_t>(igmEnable)) == 1) {
        ReportEnd("[Gm Update Client][SSL connect Failed]");
        return;
    }
    // The Host line names the URL's host, not the address it resolved to.
    const QByteArray pathUtf8 = urlPath.toUtf8();
    const QByteArray hostUtf8 = host.toUtf8();
    if (UI_SSL_HttpsRequest(pathUtf8.constData(), hostUtf8.constData()) == 1) {
        ReportEnd("[Gm Update Client][GM HttpsRequest Failed]");
        return;
    }
    const int size = UI_SSL_GetFileSize();
    if (size == 0) {
        ReportEnd("[Gm Update Client][Get File size Failed]");
        return;
    }
    if (!stopRequested.load()) {
        emit Set_Total(size);
    }
    GM_WriteFile(path, size);
}

void GmSslThreadDown::GM_WriteFile(const QString& path, int size) {
    char buffer[UI_SSL_READ_BUFFER_SIZE];
    char target[kPathSize];
    std::memset(buffer, 0, sizeof(buffer));
    std::memset(target, 0, sizeof(target));
    if (path.isEmpty() || size < 0) {
        ReportEnd("[Gm Update Client][Gm Write File][reason:invalid param]");
        return;
    }
    // A path that does not fit its buffer with the closing zero is refused, as it
    // always was. The name itself is never opened here: the creator made the file for
    // this download alone and handed over the one open file to write through, so
    // nothing put at that name since can receive the package.
    const QByteArray pathUtf8 = path.toUtf8();
    if (static_cast<size_t>(pathUtf8.size()) < sizeof(target)) {
        (void)UI_memcpy_s(target, sizeof(target), pathUtf8.constData(),
                          static_cast<size_t>(pathUtf8.size()));
    }
    if (target[0] == '\0' || file == nullptr) {
        ReportEnd("[Gm Update Client][Gm Write File][reason:open file failed]");
        return;
    }
    if (size < 1) {
        (void)CloseFile();
        UI_SSL_Close();
        return;
    }

    int received = 0;
    int left = size;
    while (!stopRequested.load()) {
        const int32_t n = UI_SSL_Read(buffer);
        if (n <= 0) {
            break;
        }
        if (std::fwrite(buffer, 1, static_cast<size_t>(n), file) != static_cast<size_t>(n)) {
            ReportEnd("[Gm Update Client][Gm Write File][error]");
            return;
        }
        received += n;
        left -= n;
        if (left <= 0) {
            // The creator takes the last step as the end and uses the file at once: it
            // must be whole and closed on disk before that step goes out.
            if (!CloseFile()) {
                ReportEnd("[Gm Update Client][Gm Write File][error]");
                return;
            }
            UI_SSL_Close();
            if (!stopRequested.load()) {
                emit Set_Step(received);
            }
            return;
        }
        if (!stopRequested.load()) {
            emit Set_Step(received);
        }
    }
    // The server closed before the announced size was in, the read failed, or the
    // download was stopped.
    ReportEnd("[Gm Update Client][Gm Write File][error]");
}

void GmSslThreadDown::GM_Stop() {
    if (!isRunning()) {
        return;
    }
    stopRequested = true;
    UI_SSL_Abort();
    wait();
    // The thread has closed its session; this lifts the abort for the next download.
    UI_SSL_Close();
}

void GmSslThreadDown::Set_Url(const QString& text) {
    if (text.isEmpty()) {
        Log(DDM_LOG_ERROR, "[Gm Update Client][url reason:invalid param]");
        return;
    }
    url = text;
}

void GmSslThreadDown::Set_FilePath(const QString& path) {
    if (path.isEmpty()) {
        Log(DDM_LOG_ERROR, "[Gm Update Client][File path reason:invalid param]");
        return;
    }
    filePath = path;
}
