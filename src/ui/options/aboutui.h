#pragma once
// The about box: the product name and the version.

#include "basewidget.h"

class AboutUI : public basewidget {
    Q_OBJECT

public:
    explicit AboutUI(QWidget* parent = nullptr);
    ~AboutUI() override;

    void InitWidget() override;
};
