#pragma once
// The answer to a browser extension's login, written as a native message. Kept apart from
// the login view so that what the extension parses can be exercised without a window.

#include "servicelink.h"

// Writes the answer to a browser plugin's login as one native message: {"PluginRecv":
// {...}} with the current plugin message type, the ids as signed numbers, the cookie,
// the URL, the flag and the tip (each text whole up to its field's width; bytes that are
// not UTF-8 become replacement characters). 0 once written (a failed write is logged
// by the writer), 1 for a null record (logged).
int SendLoginRetToPlugin(const UI_PLUGIN_LOGIN_RET_S* loginRet);
