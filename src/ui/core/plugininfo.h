#pragma once
// The plugin launch record: what a browser plugin handed over when it started the front
// end ("-p" and five values), the login fields of its later login request, and the
// answer of that login. One record lives in UIContext for the whole process.
//
// A plain record of fixed fields. Texts are zero-terminated byte strings; a width
// includes the terminating zero.

#include <cstddef>
#include <cstdint>

struct UIPLUGIN_INFO_S {
    char acBrowserDir[1024];    // the browser's folder
    char acLoginAddr[144];      // gateway login address: host, a colon and the port
    char acUserName[384];       // user name of a plugin login request
    char acPassword[128];       // password of a plugin login request
    char acUpdate[16];          // update flag; "-nu": no client update in this start
    int32_t LangMode;           // browser language: 2 Chinese, 1 English, 0 none given
    uint32_t uiUserID;          // user id of the last plugin login reply
    uint32_t uiSessionID;       // session id of the last plugin login reply
    uint8_t aucCookie[64];      // cookie of the last plugin login reply
    char acUrlLocation[1024];   // URL location of the last plugin login reply
    char acVerifyCode[256];     // verification code of a plugin login request
    char acProxyAddr[128];      // "NoProxy", or the proxy up to its last colon
    int32_t iProxyPort;         // the number after the proxy's last colon
    uint8_t aucReserved[32];    // never written here
};

static_assert(sizeof(UIPLUGIN_INFO_S) == 3216, "UIPLUGIN_INFO_S is 3216 bytes");
static_assert(offsetof(UIPLUGIN_INFO_S, acLoginAddr) == 1024 &&
                  offsetof(UIPLUGIN_INFO_S, acUserName) == 1168 &&
                  offsetof(UIPLUGIN_INFO_S, acPassword) == 1552 &&
                  offsetof(UIPLUGIN_INFO_S, acUpdate) == 1680 &&
                  offsetof(UIPLUGIN_INFO_S, LangMode) == 1696 &&
                  offsetof(UIPLUGIN_INFO_S, uiUserID) == 1700 &&
                  offsetof(UIPLUGIN_INFO_S, uiSessionID) == 1704 &&
                  offsetof(UIPLUGIN_INFO_S, aucCookie) == 1708 &&
                  offsetof(UIPLUGIN_INFO_S, acUrlLocation) == 1772 &&
                  offsetof(UIPLUGIN_INFO_S, acVerifyCode) == 2796 &&
                  offsetof(UIPLUGIN_INFO_S, acProxyAddr) == 3052 &&
                  offsetof(UIPLUGIN_INFO_S, iProxyPort) == 3180 &&
                  offsetof(UIPLUGIN_INFO_S, aucReserved) == 3184,
              "UIPLUGIN_INFO_S offsets");
