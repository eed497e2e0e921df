// The uninstaller: removes the client's bundles and the users' ".VanTrelo" folders with
// root rights, after asking in a window of its own. It reads no configuration and writes
// no log.

#include <csignal>

#include <QApplication>

#include "AppDelegate.h"

int main(int argc, char** argv) {
    // A reader that goes away (the removal's output on a closed standard error) must not
    // end the program before it can say so.
    (void)signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
