#include "FirstWindowController.h"

#include <QApplication>
#include <QCloseEvent>

#include "BaseWindow.h"
#include "SecondWindowController.h"
#include "ui_FirstWindowController.h"
#include "uninstall_language.h"
#include "uninstall_removal.h"
#include "uninstall_screen.h"

FirstWindowController::FirstWindowController(const QString& windowNibName, QObject* parent)
    : QObject(parent), windowNibName_(windowNibName) {}

FirstWindowController::~FirstWindowController() = default;

QWidget* FirstWindowController::window() {
    if (window_ == nullptr) {
        window_ = std::make_unique<BaseWindow>();
        ui_ = std::make_unique<Ui_FirstWindowController>();
        ui_->setupUi(window_.get());
        connect(ui_->uinstallButton, &QPushButton::clicked, this,
                &FirstWindowController::uninstallButton);
        connect(ui_->quitButton, &QPushButton::clicked, this,
                &FirstWindowController::quitButton);
        windowDidLoad();
    }
    return window_.get();
}

void FirstWindowController::windowDidLoad() {
    currentLanguages = QString::fromStdString(UninstallPreferredLanguage());
    const UninstallConfirmTexts& texts =
        UninstallConfirmTextsOf(UninstallLanguageIsChinese(currentLanguages.toStdString()));
    window_->setWindowTitle(QString::fromUtf8(texts.pcTitle));
    ui_->label->setText(QString::fromUtf8(texts.pcLabel));
    ui_->quitButton->setText(QString::fromUtf8(texts.pcQuit));
    ui_->uinstallButton->setText(QString::fromUtf8(texts.pcUninstall));
    // The close button ends the program instead of merely closing the window.
    window_->installEventFilter(this);
}

bool FirstWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close) {
        event->ignore();
        closeApplication();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// The removal blocks the window until the password prompt is answered and the command
// has ended. The finish window is made and filled before, hidden, so that both windows
// always agree on the language.
void FirstWindowController::uninstallButton() {
    secondWindowController =
        std::make_unique<SecondWindowController>(QStringLiteral("SecondWindowController"));
    QWidget* finish = secondWindowController->window();
    UninstallCenterWindow(finish);
    finish->hide();

    if (UI_ModifyTulmFilePrivileges() != 0) {
        QApplication::quit();
        return;
    }
    window()->hide();
    finish->show();
    finish->raise();
}

void FirstWindowController::quitButton() { QApplication::quit(); }

void FirstWindowController::closeApplication() { QApplication::quit(); }
