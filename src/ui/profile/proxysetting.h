#pragma once
// The proxy dialog: proxy type, address, port, account and password of the system configuration.

#include "basewidget.h"

class ProxySetting : public basewidget {
    Q_OBJECT

public:
    explicit ProxySetting(QWidget* parent = nullptr);
    ~ProxySetting() override;

    void InitWidget() override;
};
