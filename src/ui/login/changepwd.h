#pragma once
// The password change dialog: the old and the new password, sent to the service.

#include "basewidget.h"

class ChangePwd : public basewidget {
    Q_OBJECT

public:
    explicit ChangePwd(QWidget* parent = nullptr);
    ~ChangePwd() override;

    void InitWidget() override;
};
