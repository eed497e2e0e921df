// The dialog base: its empty form and the fixed order of a dialog's set-up.

#include "basewidget.h"

#include "ui_basewidget.h"
#include "uisystemprofile.h"

basewidget::basewidget(QWidget* parent) : QDialog(parent), ui(new Ui_basewidget) {
    ui->setupUi(this);
}

basewidget::~basewidget() { delete ui; }

void basewidget::Init() {
    InitWidget();
    SetInputControl();
    SetLanguageText();
    SetToolTip();
    // The flag is a stored text: only this exact spelling switches the skin on.
    if (UISystemProfile::GetInstance()->GetCustomized() == QLatin1String("true")) {
        SetCustomizedSkin();
    }
}

void basewidget::InitWidget() {
    setWindowFlags(Qt::WindowCloseButtonHint);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
}

void basewidget::SetInputControl() {}

void basewidget::SetLanguageText() {}

void basewidget::SetCustomizedSkin() {}

void basewidget::SetToolTip() {}
