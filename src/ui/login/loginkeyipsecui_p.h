#pragma once
// The private data of the L2TP/IPSec login view (read by its tests through
// LoginKeyIPSECUITestPeer).

#include <QString>
#include <QStringList>

#include "servicelink.h"

class LoginKeyIPSECUIPrivate {
public:
    LoginKeyIPSECUIPrivate() = default;
    ~LoginKeyIPSECUIPrivate() = default;
    LoginKeyIPSECUIPrivate(const LoginKeyIPSECUIPrivate&) = delete;
    LoginKeyIPSECUIPrivate& operator=(const LoginKeyIPSECUIPrivate&) = delete;

    // The connection's profile as read at set-up; owned, allocated by the view.
    CFM_IPSEC_PROFILE_S* profile = nullptr;
    // Certificate names of the certificate box's items, item for item.
    QStringList certificateNames;
    // The profile logs in by certificate (IPSec on, digital signature).
    bool certMode = false;
    // The user typed in the password field since the placeholder was last shown.
    bool passwordEdited = false;
    // The first press on the password field has cleared it.
    bool passwordPressed = false;
    // The last user name that fitted its field.
    QString lastUserName;
    // The last password that fitted its field.
    QString lastPassword;
};
