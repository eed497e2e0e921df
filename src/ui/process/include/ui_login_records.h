#pragma once
// The records a login carries between the login views and the engine: the SSL login
// request and its reply, the dynamic token code, the plugin login's reply, the password
// change with the policy a refusal returns, the certificate list, and the IPSec login
// request.
//
// They are plain records with the layout of the wire, so the requests can copy them
// into and out of packets byte for byte. Where a record's integers travel in network
// order, the request converts them; the login requests themselves (UI_SSL_LOGIN_S,
// UI_DYNAMIC_CODE_S, UI_IPSEC_LOGIN_S) and the certificate count travel in host order,
// as the engine expects them. Text fields are zero-terminated UTF-8 in zero-filled
// fields: a text holds at most its field's size less one byte.

#include <stddef.h>
#include <stdint.h>

// ---- SSL login -------------------------------------------------------------------------

// The login request, filled by the login views and sent as it lies in memory.
struct UI_SSL_LOGIN_S {
    uint32_t uiDeviceCACheck;  // 0: do not check the gateway's device certificate
    uint32_t uiAuthType;       // 0 user and password, 1 certificate, 2 certificate and password
    uint32_t uiSavePass;       // 1: the user asked to remember the password
    uint32_t uiLoginType;      // 1 a login from the login view, 0 a browser plugin's
    uint32_t uiLanguage;       // 1 English, 2 Chinese, 0 other
    char acCertName[1024];     // the certificate's value from the certificate list
    char acGateway[256];       // address:port
    char acUserName[384];
    char acPassword[128];
    uint8_t aucReserved[32];
    char acProfileName[133];   // connection name + ".ini"
    uint8_t aucPad[3];
};
static_assert(sizeof(UI_SSL_LOGIN_S) == 1980, "the login request is 1980 bytes");
static_assert(offsetof(UI_SSL_LOGIN_S, uiLanguage) == 16 &&
                  offsetof(UI_SSL_LOGIN_S, acCertName) == 20 &&
                  offsetof(UI_SSL_LOGIN_S, acGateway) == 1044 &&
                  offsetof(UI_SSL_LOGIN_S, acUserName) == 1300 &&
                  offsetof(UI_SSL_LOGIN_S, acPassword) == 1684 &&
                  offsetof(UI_SSL_LOGIN_S, aucReserved) == 1812 &&
                  offsetof(UI_SSL_LOGIN_S, acProfileName) == 1844 &&
                  offsetof(UI_SSL_LOGIN_S, aucPad) == 1977,
              "wire offsets of the login request");

// The login reply's record, in host order once the request has converted it.
struct UI_SSL_LOGIN_RET_S {
    uint32_t auiReserved[4];  // converted, not used by the front end
    uint32_t uiHostCheck;     // 0 none, 1 the host check must pass, other: the login fails
    uint32_t uiCacheClear;    // non-zero: clear the cache after the login
    uint32_t uiModifyPwd;     // the gateway lets the user change the password
    uint16_t usAlarmNotice;   // non-zero: tell the user the password expires
    int16_t sAlarmTime;       // days until it expires
};
static_assert(sizeof(UI_SSL_LOGIN_RET_S) == 32, "the login reply's record is 32 bytes");
static_assert(offsetof(UI_SSL_LOGIN_RET_S, uiHostCheck) == 16 &&
                  offsetof(UI_SSL_LOGIN_RET_S, uiCacheClear) == 20 &&
                  offsetof(UI_SSL_LOGIN_RET_S, uiModifyPwd) == 24 &&
                  offsetof(UI_SSL_LOGIN_RET_S, usAlarmNotice) == 28 &&
                  offsetof(UI_SSL_LOGIN_RET_S, sAlarmTime) == 30,
              "wire offsets of the login reply");

// What a login or a token code came to, by the reply's code. The caller starts the
// value at 0; a reply code not listed here leaves it as it was.
enum UI_SSL_LOGIN_RESULT : uint32_t {
    SSL_LOGIN_RESULT_NONE = 0,
    SSL_LOGIN_RESULT_SUCCESS = 1,            // 0x20000
    SSL_LOGIN_RESULT_FIRST_LOGIN = 3,        // 0x30006: the password is to be changed
    SSL_LOGIN_RESULT_EXPIRE_STRONG = 4,      // 0x30007
    SSL_LOGIN_RESULT_EXPIRE_WEAK = 5,        // 0x30008
    SSL_LOGIN_RESULT_SMS_CHECK = 6,          // 0x3000A: a token code is required
    SSL_LOGIN_RESULT_CERT_ERROR = 7,         // 0x30009
    SSL_LOGIN_RESULT_DEVICE_CERT_ERROR = 11, // 0x3000B: the gateway is not trusted
    SSL_LOGIN_RESULT_DEVICE_REJECT = 12,     // 0x3000C
};

// The token code a login may ask for, sent as it lies in memory at the front of a
// login-sized payload.
struct UI_DYNAMIC_CODE_S {
    uint32_t uiAuthType;     // the uiAuthType of the login it completes
    char acDynamicCode[128];
};
static_assert(sizeof(UI_DYNAMIC_CODE_S) == 132, "the token record is 132 bytes");
static_assert(offsetof(UI_DYNAMIC_CODE_S, acDynamicCode) == 4, "wire offset of the code");

// The reply to a login made for a browser plugin, in host order once converted.
struct PluginLoginReply {
    uint32_t uiUserID;
    uint32_t uiSessionID;
    uint8_t aucCookie[64];
    char acUrlLocation[1024];
};
static_assert(sizeof(PluginLoginReply) == 1096, "the plugin login reply is 1096 bytes");
static_assert(offsetof(PluginLoginReply, aucCookie) == 8 &&
                  offsetof(PluginLoginReply, acUrlLocation) == 72,
              "wire offsets of the plugin login reply");

// ---- Password change -------------------------------------------------------------------

struct PwdModifyInfo {
    char acOldPwd[128];
    char acNewPwd[128];
};
static_assert(sizeof(PwdModifyInfo) == 256, "the password change is 256 bytes");
static_assert(offsetof(PwdModifyInfo, acNewPwd) == 128, "wire offset of the new password");

// The gateway's password policy that a refused change returns, in host order once
// converted. The last four words are flags (non-zero: required).
struct UI_PWD_POLICY_S {
    uint32_t uiMinLength;
    uint32_t uiMaxLength;
    uint32_t uiMinDigits;
    uint32_t uiMinLetters;
    uint32_t uiMixedCase;
    uint32_t uiNewOldDiffer;
    uint32_t uiNamePwdDiffer;
};
static_assert(sizeof(UI_PWD_POLICY_S) == 28, "the password policy is 28 bytes");
static_assert(offsetof(UI_PWD_POLICY_S, uiMixedCase) == 16 &&
                  offsetof(UI_PWD_POLICY_S, uiNamePwdDiffer) == 24,
              "wire offsets of the password policy");

// ---- Certificate list ------------------------------------------------------------------

constexpr uint32_t UI_CERT_NUM_MAX = 32;

// The user's certificates as two parallel tables: the value a login carries for a
// certificate (UI_SSL_LOGIN_S.acCertName) and the name the login views list. The count
// travels in host order.
struct UI_CERT_INFO_S {
    char acCertName[UI_CERT_NUM_MAX][1024];
    char acDisplayName[UI_CERT_NUM_MAX][132];
    uint32_t uiCertNum;
};
static_assert(sizeof(UI_CERT_INFO_S) == 36996, "the certificate list is 36996 bytes");
static_assert(offsetof(UI_CERT_INFO_S, acDisplayName) == 32768 &&
                  offsetof(UI_CERT_INFO_S, uiCertNum) == 36992,
              "wire offsets of the certificate list");

// ---- IPSec login -----------------------------------------------------------------------

// The IPSec login request, filled by the IPSec login view and sent as it lies in memory.
struct UI_IPSEC_LOGIN_S {
    uint32_t uiSavePass;       // 1: the user asked to remember the password
    char acServerAddr[256];
    char acUserName[384];
    char acPassword[128];      // all zero when the remembered password is meant
    char acCertName[1024];
    char acProfileName[133];   // connection name + ".ini"
    uint8_t aucPad[3];
};
static_assert(sizeof(UI_IPSEC_LOGIN_S) == 1932, "the IPSec login request is 1932 bytes");
static_assert(offsetof(UI_IPSEC_LOGIN_S, acServerAddr) == 4 &&
                  offsetof(UI_IPSEC_LOGIN_S, acUserName) == 260 &&
                  offsetof(UI_IPSEC_LOGIN_S, acPassword) == 644 &&
                  offsetof(UI_IPSEC_LOGIN_S, acCertName) == 772 &&
                  offsetof(UI_IPSEC_LOGIN_S, acProfileName) == 1796 &&
                  offsetof(UI_IPSEC_LOGIN_S, aucPad) == 1929,
              "wire offsets of the IPSec login request");
