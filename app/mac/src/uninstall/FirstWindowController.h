#pragma once
// The confirmation window: asks whether to remove the client, in the user's language.
// Uninstall runs the removal and, when it ended well, moves on to the finish window;
// Quit, the close button and a removal that failed or was refused end the program.

#include <memory>

#include <QObject>
#include <QString>

class BaseWindow;
class QEvent;
class QWidget;
class SecondWindowController;
class Ui_FirstWindowController;

class FirstWindowController : public QObject {
    Q_OBJECT

public:
    // windowNibName names the window's form.
    explicit FirstWindowController(const QString& windowNibName, QObject* parent = nullptr);
    ~FirstWindowController() override;

    // The window, built from its form and filled by windowDidLoad on the first call.
    QWidget* window();
    const QString& windowNibName() const { return windowNibName_; }

    // The user's first preferred language, as the window's texts were chosen for it.
    QString currentLanguages;
    // The finish window's controller, made when Uninstall is pressed.
    std::unique_ptr<SecondWindowController> secondWindowController;

public slots:
    void uninstallButton();
    void quitButton();
    void closeApplication();

protected:
    // Chooses the language and sets the texts; the close button ends the program.
    void windowDidLoad();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString windowNibName_;
    std::unique_ptr<Ui_FirstWindowController> ui_;
    std::unique_ptr<BaseWindow> window_;
};
