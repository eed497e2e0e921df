#pragma once
// The fault-report dialog: system information files, the user's description and a zipped report.

#include "basewidget.h"

class BreakDownSubmit : public basewidget {
    Q_OBJECT

public:
    explicit BreakDownSubmit(QWidget* parent = nullptr);
    ~BreakDownSubmit() override;

    void InitWidget() override;
};
