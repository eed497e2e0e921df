// The main of every Qt test program: the offscreen platform unless the environment
// names another, a message handler that fails the running test on any failed
// connection, and one QApplication for the whole program (left out for programs whose
// code under test builds its own).

#include <cstdlib>

#include <QApplication>
#include <QByteArray>
#include <QFontMetrics>
#include <QString>
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

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

// The offscreen platform keeps its screen objects past the application's end, and the font
// library that its font database uses keeps its caches: the leak checker reports both at
// exit. They are allocated only inside that plugin and that library (no code of ours calls
// the font library), and are suppressed by their names; every other leak is still
// reported. An allocation's stack is taken the fast way, by frame pointers, which Qt and
// the font library do not keep: it names the frame that called the allocator, and ours in
// full, but may stop inside theirs, so that a font cache made through the plugin names only
// the font library. (The full unwind at every allocation, which reached the plugin's frames,
// doubled the time of every Qt test program. ASAN_OPTIONS=fast_unwind_on_malloc=0 brings it
// back when a report needs an allocation's whole road through Qt.)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\nleak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    g_previous = qInstallMessageHandler(FailOnConnectWarning);
    ::testing::InitGoogleTest(&argc, argv);
#ifdef VT_QT_TEST_NO_APPLICATION
    return RUN_ALL_TESTS();
#else
    // CTest lists every program's tests before it runs them: a list needs no application,
    // whose start (platform plugin, fonts) costs more than the list itself.
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // Qt's own start (the platform plugin, its screens, the font library's configuration
    // and the default font) runs before any test and is not leak-checked: what it keeps
    // for the process's life would otherwise reach the leak checker at exit, to be
    // suppressed only after the symbolizer has read the debug information of the frames it
    // names, a good part of every short test program's time. Everything a test allocates
    // is still checked.
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
    QApplication app(argc, argv);
    (void)QFontMetrics(QApplication::font()).height();
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
    return RUN_ALL_TESTS();
#endif
}
