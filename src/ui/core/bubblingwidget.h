#pragma once
// A passing notice: a small window that rises from below the bottom edge of the screen
// at its right-hand side, shows one text for a few seconds, sinks back and destroys
// itself. Callers use only popUp and keep no pointer; the window owns its lifetime.

#include <QDialog>
#include <QPropertyAnimation>

class Ui_BubblingWidget;

class BubblingWidget : public QDialog {
    Q_OBJECT

public:
    // Builds the window hidden, placed at the bottom right of the primary screen.
    explicit BubblingWidget(QWidget* parent = nullptr);
    ~BubblingWidget() override;
    BubblingWidget(const BubblingWidget&) = delete;
    BubblingWidget& operator=(const BubblingWidget&) = delete;

    // Shows the text in a new window without a parent, which lives about five seconds.
    static void popUp(const QString& text);

    // Shows the window and runs its rise, stay and sink once.
    void showBubble();
    void setText(const QString& text);
    // The window flags and place the constructor gives.
    void setPosition();

public slots:
    // The animation ended: the window goes once control is back in the event loop.
    void slot_Close();

private:
    Ui_BubblingWidget* ui;
    QPropertyAnimation m_animation;
};
