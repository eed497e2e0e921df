#include "SecondWindowController.h"

#include <QApplication>
#include <QCloseEvent>

#include "BaseWindow.h"
#include "ui_SecondWindowController.h"
#include "uninstall_language.h"

SecondWindowController::SecondWindowController(const QString& windowNibName, QObject* parent)
    : QObject(parent), windowNibName_(windowNibName) {}

SecondWindowController::~SecondWindowController() = default;

QWidget* SecondWindowController::window() {
    if (window_ == nullptr) {
        window_ = std::make_unique<BaseWindow>();
        ui_ = std::make_unique<Ui_SecondWindowController>();
        ui_->setupUi(window_.get());
        connect(ui_->finshButton, &QPushButton::clicked, this,
                &SecondWindowController::finshButton);
        windowDidLoad();
    }
    return window_.get();
}

void SecondWindowController::windowDidLoad() {
    currentLanguages = QString::fromStdString(UninstallPreferredLanguage());
    const UninstallFinishTexts& texts =
        UninstallFinishTextsOf(UninstallLanguageIsChinese(currentLanguages.toStdString()));
    window_->setWindowTitle(QString::fromUtf8(texts.pcTitle));
    ui_->label->setText(QString::fromUtf8(texts.pcLabel));
    ui_->finshButton->setText(QString::fromUtf8(texts.pcDone));
    // The close button ends the program instead of merely closing the window.
    window_->installEventFilter(this);
}

bool SecondWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close) {
        event->ignore();
        closeApplication();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void SecondWindowController::finshButton() { QApplication::quit(); }

void SecondWindowController::closeApplication() { QApplication::quit(); }
