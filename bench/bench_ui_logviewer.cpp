// Times the fault report's log file viewer from the click on a row to the text shown,
// for a full log file (1 MiB, about 12,000 lines), beside the least a Qt program does to
// show the same text: QPlainTextEdit::setPlainText of the normalised text into an
// editor of the same size and settings, in the same run. For comparison it also times
// the text put in line by line at the cursor (each line, then a line feed).
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another. Prints the median
// and the slowest of the rounds in milliseconds and the ratios to setPlainText.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>
#include <QTextStream>

#include "bench_home.h"
#include "errorreport.h"
#include "languagesetting.h"
#include "uicontext.h"

#ifndef BENCH_RUNTIME_DIR
#error "BENCH_RUNTIME_DIR must name the runnable tree with the language files"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 15;
constexpr qint64 kLogBytes = 1024 * 1024;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench_ui_logviewer: %s\n", what);
    std::exit(1);
}

// A log file as the platform writes them, up to the size at which it moves on.
QByteArray FullLog() {
    QByteArray log;
    for (int i = 0; log.size() < kLogBytes; ++i) {
        QByteArray line = QByteArray("[ UI     INFO   2024-03-07 09:05:02.") +
                          QByteArray::number(100000 + i % 900000) +
                          " ][demo] [65535][Login request][step " +
                          QByteArray::number(i) + "]\n";
        if (log.size() + line.size() > kLogBytes) {
            break;
        }
        log += line;
    }
    return log;
}

// Lets the window lay out and paint what changed.
void Settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
    }
}

struct Figures {
    double median = 0, slowest = 0;
};

Figures Time(const std::function<void()>& prepare, const std::function<void()>& act) {
    std::vector<double> ms;
    for (int round = 0; round < kRounds; ++round) {
        prepare();
        Settle();
        const Clock::time_point t0 = Clock::now();
        act();
        Settle();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void Print(const char* name, const Figures& f, const Figures& peer) {
    std::printf("%-44s median %8.2f ms  slowest %8.2f ms  ratio %5.2f\n", name, f.median,
                f.slowest, f.median / peer.median);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    const std::string home = BenchHomeMake("vt-bench-logviewer");
    if (home.empty()) {
        Fail("no home folder");
    }
    QApplication app(argc, argv);
    UIContext::GetInstance()->SetSystemType(2);
    LanguageSetting::GetInstance()->Init(1033, QStringLiteral(BENCH_RUNTIME_DIR "/"));

    const QString logDir = QString::fromStdString(home) + "/.VanTrelo/log";
    const QString logPath = logDir + "/VanTrelo_VanTrelo_0.log";
    const QByteArray log = FullLog();
    if (!QDir().mkpath(logDir)) {
        Fail("cannot make the log folder");
    }
    {
        QFile file(logPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(log) != log.size()) {
            Fail("cannot write the log file");
        }
    }
    const QString normalised = QString::fromUtf8(log);
    std::printf("log file: %lld bytes, %d lines\n", static_cast<long long>(log.size()),
                static_cast<int>(log.count('\n')));

    ErrorReport viewer(nullptr);
    viewer.Init();
    viewer.show();
    Settle();
    auto* table = viewer.findChild<QTableWidget*>("tw_error");
    auto* shown = viewer.findChild<QPlainTextEdit*>("plainTextEdit");
    if (table == nullptr || shown == nullptr || table->rowCount() != 1) {
        Fail("the viewer does not list the log file");
    }
    const QPoint row = table->visualItemRect(table->item(0, 0)).center();

    // The peer: an editor of the viewer's size and settings in a window of its own.
    QWidget peerWindow;
    peerWindow.resize(viewer.size());
    QPlainTextEdit peer(&peerWindow);
    peer.setGeometry(shown->geometry());
    peer.setFont(shown->font());
    peer.setLineWrapMode(QPlainTextEdit::NoWrap);
    peerWindow.show();

    QPlainTextEdit byLine(&peerWindow);
    byLine.setGeometry(shown->geometry());
    byLine.setFont(shown->font());
    byLine.setLineWrapMode(QPlainTextEdit::NoWrap);
    byLine.hide();
    const QStringList lines = normalised.split('\n', Qt::SkipEmptyParts);

    const Figures peerFigures = Time([&] { peer.clear(); }, [&] { peer.setPlainText(normalised); });
    const Figures viewerFigures = Time([&] { shown->clear(); }, [&] {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, row);
    });
    if (shown->toPlainText() != normalised) {
        Fail("the viewer does not show the file's text");
    }
    peer.hide();
    byLine.show();
    const Figures byLineFigures = Time([&] { byLine.clear(); }, [&] {
        for (const QString& line : lines) {
            byLine.insertPlainText(line);
            byLine.insertPlainText(QStringLiteral("\n"));
        }
    });

    Print("QPlainTextEdit::setPlainText (peer)", peerFigures, peerFigures);
    Print("viewer: click on the row to the text shown", viewerFigures, peerFigures);
    Print("line by line at the cursor", byLineFigures, peerFigures);
    viewer.hide();
    peerWindow.hide();
    QDir(QString::fromStdString(home)).removeRecursively();
    return 0;
}
