// The update program. The promote service starts it after the front end has downloaded
// a new client package: element 0 of the argument vector carries the parameter text
// (package path, download URL, further fields and a flag, separated by ";", in GBK),
// element 1 the launch token. Without the token it ends at once, creating and logging
// nothing, so that nobody starts an install by chance.

#include <signal.h>

#include <cstring>

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QTextCodec>

#include "ddm_log.h"
#include "update_log.h"
#include "updatethread.h"
#include "updatewindow.h"

namespace {

constexpr char kLaunchToken[] = "amber stone, rework!";
// The parameter text's largest size, in the local 8-bit encoding.
constexpr int kParamTextMax = 1024;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1] == nullptr || std::strcmp(argv[1], kLaunchToken) != 0) {
        return 0;
    }
    (void)signal(SIGPIPE, SIG_IGN);
    (void)Update_StartUp_Init();

    QApplication app(argc, argv);
    auto* window = new updateWindow(nullptr);

    const QString text = QString::fromUtf8(argv[0]);
    const int flagAt = text.lastIndexOf(QLatin1Char(';'));
    const QString flag = flagAt < 0 ? text : text.mid(flagAt + 1);
    window->setFlagStr(flag);
    (void)Update_WriteLog(UPDATE_LOG_MODULE, DDM_LOG_INFO,
                          QStringLiteral("[Update start][flagStr is ") + flag + QStringLiteral(" ]"));
    (void)Update_WriteLog(UPDATE_LOG_MODULE, DDM_LOG_INFO,
                          QStringLiteral("[Update start][get buff is ") + text + QStringLiteral(" ]"));

    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    const QString param = gbk != nullptr ? gbk->toUnicode(argv[0]) : QString::fromLocal8Bit(argv[0]);
    if (param.toLocal8Bit().size() > kParamTextMax) {
        delete window;
        return 0;
    }
    const int lastSemicolon = param.lastIndexOf(QLatin1Char(';'));
    window->setUpdateParam(lastSemicolon < 0 ? param : param.left(lastSemicolon));

    window->show();
    const int result = app.exec();
    // The progress thread may still be counting after the window has gone (it ends by
    // itself at 50 at the earliest, about ten seconds in); it is waited for and deleted
    // here, before the application goes, rather than left running or leaked.
    updateThread* progress = window->getProgressThread();
    delete window;
    if (progress != nullptr) {
        progress->stop();
        (void)progress->wait();
        delete progress;
    }
    return result;
}
