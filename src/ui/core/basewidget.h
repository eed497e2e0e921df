#pragma once
// The base of the front end's dialogs and of the main window: one order of set-up for
// all of them. A dialog is built in two steps: its constructor builds its form, then its
// creator calls Init before showing it, which runs the dialog's own steps in a fixed
// order (widgets and connections, input limits, texts, tool tips, and the customised
// skin when the system configuration asks for it). A subclass overrides only the steps
// it needs; an override of InitWidget calls the base one first.

#include <QDialog>

class Ui_basewidget;

class basewidget : public QDialog {
    Q_OBJECT

public:
    explicit basewidget(QWidget* parent = nullptr);
    ~basewidget() override;
    basewidget(const basewidget&) = delete;
    basewidget& operator=(const basewidget&) = delete;

    // InitWidget, SetInputControl, SetLanguageText, SetToolTip, then SetCustomizedSkin
    // when the customised flag of the system configuration is exactly "true".
    virtual void Init();
    // The window flags of a dialog with only a close button.
    virtual void InitWidget();
    // Echo modes, length limits, validators and event filters of the input fields.
    virtual void SetInputControl();
    // Every visible text, from the language texts.
    virtual void SetLanguageText();
    // The banner picture of the customised skin.
    virtual void SetCustomizedSkin();
    // Tool tips, from the language keys ending in "_TOOLTIP".
    virtual void SetToolTip();

private:
    Ui_basewidget* ui;
};
