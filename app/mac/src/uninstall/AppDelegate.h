#pragma once
// The uninstaller's application delegate: shows the confirmation window once the
// application has started.

#include <memory>

#include <QObject>

class FirstWindowController;
class QWidget;

class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    std::unique_ptr<FirstWindowController> firstWindowController;
    // Not used: the windows belong to their controllers.
    QWidget* window = nullptr;

public slots:
    // Makes the confirmation window, centres it on the primary screen and brings it to
    // the front.
    void applicationDidFinishLaunching();
    // Nothing to do: the uninstaller keeps no state.
    void applicationWillTerminate();
};
