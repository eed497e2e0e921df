#pragma once
// The finish window: says that the client has been removed. Done and the close button
// end the program.

#include <memory>

#include <QObject>
#include <QString>

class BaseWindow;
class QEvent;
class QWidget;
class Ui_SecondWindowController;

class SecondWindowController : public QObject {
    Q_OBJECT

public:
    // windowNibName names the window's form.
    explicit SecondWindowController(const QString& windowNibName, QObject* parent = nullptr);
    ~SecondWindowController() override;

    // The window, built from its form and filled by windowDidLoad on the first call.
    QWidget* window();
    const QString& windowNibName() const { return windowNibName_; }

    // The user's first preferred language, as the window's texts were chosen for it.
    QString currentLanguages;

public slots:
    void finshButton();
    void closeApplication();

protected:
    // Chooses the language and sets the texts; the close button ends the program.
    void windowDidLoad();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString windowNibName_;
    std::unique_ptr<Ui_SecondWindowController> ui_;
    std::unique_ptr<BaseWindow> window_;
};
