// The main of every Qt test program: the offscreen platform unless the environment
// names another, a message handler that fails the running test on any failed
// connection, and one QApplication for the whole program (left out for programs whose
// code under test builds its own).

#include <cstdlib>

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

namespace {

QtMessageHandler g_previous = nullptr;

// A string-based connect that names a missing signal or slot only warns at run time;
// here it fails the test that made it, so a renamed slot cannot pass unnoticed.
void FailOnConnectWarning(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    // Qt's own tray icon asks every platform for a signal that only the X11 one has; the
    // offscreen platform lacks it. That connection is Qt's, not the code under test's.
    if (message == QLatin1String("QObject::connect: No such signal "
                                 "QPlatformNativeInterface::systemTrayWindowChanged(QScreen*)")) {
        return;
    }
    if (message.startsWith(QLatin1String("QObject::connect:"))) {
        ADD_FAILURE() << "Qt warning: " << message.toStdString();
    }
    // The offscreen platform says this for every window it shows; it tells a reader of
    // a failed test's output nothing.
    if (message == QLatin1String("This plugin does not support propagateSizeHints()")) {
        return;
    }
    if (g_previous != nullptr) {
        g_previous(type, context, message);
    }
}

}  // namespace

// The offscreen platform keeps its screen objects past the application's end, which the
// leak checker reports at exit. They are allocated only inside that plugin; the full
// unwind lets the suppression recognise them (the fast one stops inside Qt), and every
// other leak is still reported.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libqoffscreen.so\n"; }

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    g_previous = qInstallMessageHandler(FailOnConnectWarning);
    ::testing::InitGoogleTest(&argc, argv);
#ifdef VT_QT_TEST_NO_APPLICATION
    return RUN_ALL_TESTS();
#else
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
#endif
}
