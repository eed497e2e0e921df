#pragma once
// The options dialog.

#include "basewidget.h"

class OptionSetUI : public basewidget {
    Q_OBJECT

public:
    explicit OptionSetUI(QWidget* parent = nullptr);
    ~OptionSetUI() override;

    void InitWidget() override;

signals:
    // The interface language was changed and its texts loaded again.
    void signal_languageChange();
};
