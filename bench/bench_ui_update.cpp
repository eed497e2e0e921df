// Times the client update's whole download road (the update dialog answered YES, its
// download thread, the progress window fed by a queued signal per read, the file
// complete in /tmp) on a 200 MB package from a loopback TLS server, beside the download
// client's bare read loop (connect, TLS, request, size, 4,095-byte reads each written
// with one fwrite, close) fetching the same package from the same server in the same
// run. Runs alternate between them; each prints its MB/s (10^6 bytes) and the ratio of
// the dialog's road to the bare loop. To tell where the road's time goes, each run also
// times the download thread alone, its signals connected to nothing (so none is queued).
//
//   bench_ui_update [runs] [megabytes]      (default 5 runs of 200 MB)
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another. The dialog saves
// into /tmp as it always does; both downloads are removed after each run.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include "bench_home.h"
#include "dialog.h"
#include "gmsslthreaddown.h"
#include "languagesetting.h"
#include "servicelink.h"
#include "uicontext.h"
#include "ui_test/tls_peer.h"

#ifndef BENCH_RUNTIME_DIR
#error "BENCH_RUNTIME_DIR must name the runnable tree with the language files"
#endif

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench_ui_update: %s\n", what);
    std::exit(1);
}

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The download client's loop on its own; the seconds it took.
double BareRun(uint16_t port, const std::string& target, size_t expect) {
    const auto t0 = Clock::now();
    if (UI_SSL_HttpsConnect("127.0.0.1", port) != 0 || UI_SSL_Create(0) != 0 ||
        UI_SSL_HttpsRequest("/pkg.tar.gz", "127.0.0.1") != 0) {
        Fail("the bare loop could not start the download");
    }
    const int32_t size = UI_SSL_GetFileSize();
    if (size <= 0 || size_t(size) != expect) Fail("the bare loop got a wrong size");
    FILE* file = std::fopen(target.c_str(), "wb+");
    if (file == nullptr) Fail("cannot open the bare loop's target file");
    static char buf[UI_SSL_READ_BUFFER_SIZE];
    int64_t left = size;
    while (left > 0) {
        const int32_t n = UI_SSL_Read(buf);
        if (n <= 0) Fail("the bare loop's reads ended early");
        if (std::fwrite(buf, 1, size_t(n), file) != size_t(n)) Fail("write failed");
        left -= n;
    }
    if (std::fclose(file) != 0) Fail("close failed");
    UI_SSL_Close();
    return Seconds(t0, Clock::now());
}

// The dialog as the client update runs it, YES pressed as soon as it shows; the
// seconds from its construction to the return of its exec().
double DialogRun(const QString& url) {
    const auto t0 = Clock::now();
    Dialog dialog;
    dialog.setUrl(url);
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.findChild<QPushButton*>("downloadButton")->click();
    });
    dialog.exec();
    return Seconds(t0, Clock::now());
}

// The download thread on its own, nobody listening to its signals; the seconds from its
// start to its end.
double ThreadRun(const QString& url, const QString& target) {
    const auto t0 = Clock::now();
    GmSslThreadDown thread;
    thread.url = url;
    thread.filePath = target;
    QEventLoop loop;
    QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread.start();
    loop.exec();
    thread.wait();
    return Seconds(t0, Clock::now());
}

struct Range {
    double lo, mid, hi;
};

Range Spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const size_t megabytes = argc > 2 ? size_t(std::max(1, std::atoi(argv[2]))) : 200;
    const size_t bytes = megabytes * 1000 * 1000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    const std::string home = BenchHomeMake("vt-bench-update");
    if (home.empty()) Fail("no home folder");
    QApplication app(argc, argv);
    UIContext::GetInstance()->SetSystemType(2);
    LanguageSetting::GetInstance()->Init(1033, QStringLiteral(BENCH_RUNTIME_DIR "/"));

    const std::string stem = "bench_ui_update." + std::to_string(::getpid());
    const std::string bare = "/tmp/" + stem + ".bare";
    const QString url = QString("https://127.0.0.1:%1/%2.tar.gz");
    const QString road = QString::fromStdString("/tmp/" + stem + ".tar.gz");

    std::string body(bytes, '\0');
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < bytes; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&body[i], &x, std::min<size_t>(8, bytes - i));
    }
    ui_test::TlsPeer server;
    if (!server.Started()) Fail("the TLS server did not start");
    server.SetReply({ui_test::TlsPeer::OkHead(bytes), std::move(body),
                     ui_test::TlsReply::Send::kOneWrite});
    const QString packageUrl = url.arg(server.Port()).arg(QString::fromStdString(stem));

    std::printf("download of %zu MB over loopback TLS, %d runs each, alternating\n", megabytes,
                runs);
    std::vector<double> bareRates, threadRates, roadRates, threadRatios, roadRatios;
    auto rate = [bytes](double seconds) { return double(bytes) / 1e6 / seconds; };
    auto whole = [bytes](const QString& path) { return QFileInfo(path).size() == qint64(bytes); };
    for (int i = 0; i < runs; ++i) {
        const double b = rate(BareRun(server.Port(), bare, bytes));
        if (!whole(QString::fromStdString(bare))) Fail("the bare loop's download is short");
        std::remove(bare.c_str());
        const double t = rate(ThreadRun(packageUrl, road));
        if (!whole(road)) Fail("the thread's download is short");
        QFile::remove(road);
        const double d = rate(DialogRun(packageUrl));
        if (!whole(road)) Fail("the dialog's download is short");
        QFile::remove(road);
        bareRates.push_back(b);
        threadRates.push_back(t);
        roadRates.push_back(d);
        threadRatios.push_back(t / b);
        roadRatios.push_back(d / b);
        std::printf("run %d: bare loop %.1f MB/s, thread alone %.1f MB/s, update dialog %.1f "
                    "MB/s, ratio dialog/bare %.2f\n",
                    i + 1, b, t, d, d / b);
    }
    const Range b = Spread(bareRates), t = Spread(threadRates), d = Spread(roadRates);
    const Range rt = Spread(threadRatios), rd = Spread(roadRatios);
    std::printf("bare client loop  MB/s  min %.1f  median %.1f  max %.1f\n", b.lo, b.mid, b.hi);
    std::printf("thread alone      MB/s  min %.1f  median %.1f  max %.1f\n", t.lo, t.mid, t.hi);
    std::printf("update dialog     MB/s  min %.1f  median %.1f  max %.1f\n", d.lo, d.mid, d.hi);
    std::printf("ratio thread/bare       min %.2f  median %.2f  max %.2f\n", rt.lo, rt.mid, rt.hi);
    std::printf("ratio dialog/bare       min %.2f  median %.2f  max %.2f\n", rd.lo, rd.mid, rd.hi);
    QDir(QString::fromStdString(home)).removeRecursively();
    return 0;
}
