#include "uninstall_screen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

void UninstallCenterWindow(QWidget* window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (window == nullptr || screen == nullptr) {
        return;
    }
    window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                            screen->availableGeometry()));
}
