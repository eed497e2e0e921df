#pragma once
// The about box: the maker's logo, the product name and version from the system
// configuration, and a description from the language texts. Fixed in size, without
// buttons: the window's close button or Escape ends it.

#include "basewidget.h"

class Ui_AboutUI;

class AboutUI : public basewidget {
    Q_OBJECT

public:
    explicit AboutUI(QWidget* parent = nullptr);
    ~AboutUI() override;

    void SetLanguageText() override;
    // The customised picture in place of the logo, when it is installed.
    void SetCustomizedSkin() override;

    // "<product> <version>", the version without its last dotted part.
    void InitVersion();

private:
    Ui_AboutUI* ui;
};
