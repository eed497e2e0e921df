#pragma once
// The private data of the SSL VPN login view, shared by the view's source files (and
// read by its tests through LoginKeyUITestPeer).

#include <QListWidget>
#include <QString>
#include <QStringList>

#include "servicelink.h"

class LoginKeyUIPrivate {
public:
    LoginKeyUIPrivate() : gatewayList(new QListWidget) {}
    ~LoginKeyUIPrivate() = default;
    LoginKeyUIPrivate(const LoginKeyUIPrivate&) = delete;
    LoginKeyUIPrivate& operator=(const LoginKeyUIPrivate&) = delete;

    // Model and popup of the gateway drop-down: one row per gateway, each shown through
    // its row widget. Owned here; the drop-down only borrows it.
    QListWidget* gatewayList;
    // The gateway last shown, up to its first tab.
    QString gatewayAddress;
    // Certificate names of the rows of the certificate box filled last, row for row.
    QStringList certificateNames;
    // The user accepted the untrusted-certificate prompt.
    bool certificateAccepted = false;
    // The user typed in the password field since the view last put the placeholder of
    // the remembered password there.
    bool passwordEdited = false;
    // The first press on the password field has cleared it.
    bool passwordPlaceholderCleared = false;
    QString dynamicCode;
    // Gateways a last login may name; searched when the user fields are filled.
    QStringList rememberedGateways;
    // The connection's SSL profile, its gateway entries replaced by the service's list.
    CFM_SSL_PROFILE_S* sslProfile = nullptr;
    // Gateway text of each row the profile's list made, in row order.
    QStringList gatewayTexts;
    // The last user name that fitted its field.
    QString userName;
};
