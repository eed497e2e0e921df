// The client's application object alone, in a program of its own, for the single-instance
// tests that must start an instance by running a program (as another user, who cannot
// share the test's process):
//
//   instance_probe SHARED_TMP once|serve
//
// Builds the application object as the client's start does, with SHARED_TMP in place of
// the shared temporary folder, and prints one line on standard output: "first" when it
// became the instance, "other" when another instance answered, "refused FOLDER" when the
// user's instance folder failed its check. With "serve" a first instance then runs its
// event loop, answering later probes, until it is killed.

#include <cstdio>
#include <cstring>

#include <QByteArray>

#include "singleapplication.h"
#include "singleapplication_inner.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[2], "once") != 0 && std::strcmp(argv[2], "serve") != 0)) {
        std::fprintf(stderr, "usage: instance_probe SHARED_TMP once|serve\n");
        return 2;
    }
    singleApplicationSharedTempFolderSet(argv[1]);
    const bool serve = std::strcmp(argv[2], "serve") == 0;
    int appArgc = 1;
    SingleApplication app(appArgc, argv);
    const QString refused = app.refusedInstanceFolder();
    if (!refused.isEmpty()) {
        std::printf("refused %s\n", refused.toLocal8Bit().constData());
    } else {
        std::printf("%s\n", app.hasOtherInstance() ? "other" : "first");
    }
    std::fflush(stdout);
    if (serve && refused.isEmpty() && !app.hasOtherInstance()) {
        return app.exec();
    }
    return 0;
}
