#include "AppDelegate.h"

#include <QCoreApplication>
#include <QWidget>

#include "FirstWindowController.h"
#include "uninstall_screen.h"

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    if (QCoreApplication::instance() != nullptr) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &AppDelegate::applicationWillTerminate);
    }
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    firstWindowController =
        std::make_unique<FirstWindowController>(QStringLiteral("FirstWindowController"));
    QWidget* confirm = firstWindowController->window();
    UninstallCenterWindow(confirm);
    confirm->show();
    confirm->raise();
}

void AppDelegate::applicationWillTerminate() {}
