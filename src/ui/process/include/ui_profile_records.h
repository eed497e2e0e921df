#pragma once
/* The records of the settings the service keeps for the front end and of the gateway
 * choice before a login: the system configuration with its session entries, the two
 * connection profiles with their gateway and route entries, the profile export request,
 * and the site-preference, gateway-list and link-selection records.
 *
 * Every record is a fixed wire layout: plain C data, no padding the compiler chooses
 * (the gaps the layouts have are named fields), every offset a window or a request
 * reads asserted below. The header compiles as C and as C++.
 *
 * In memory every integer is in the host's byte order. Which integers travel in network
 * order is decided by the converters of the configuration requests (ui_cfm.h) and by
 * the site requests (ui_pref.h); the rest travels as it lies in memory.
 *
 * Texts are byte strings zero-padded to their field. A reader takes at most the field's
 * width: a field the service filled to its last byte has no terminator. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define UI_PROFILE_RECORD_ASSERT(cond, text) static_assert(cond, text)
#else
#define UI_PROFILE_RECORD_ASSERT(cond, text) _Static_assert(cond, text)
#endif

/* Entries of the fixed arrays. */
enum {
    UI_GATEWAY_ENTRY_MAX = 16, /* gateway entries of a profile, a site request or list */
    UI_IPSEC_ROUTE_MAX = 64,   /* route entries of an IPSec profile */
    UI_SESSION_ENTRY_MAX = 16, /* session entries of the system configuration */
};

/* ---- Gateway entry ---------------------------------------------------------------------- */

/* One gateway: in a profile, in the site request and the gateway list, and as the best
 * gateway of the site reply. */
typedef struct UIGATEWAY_INFO_S {
    char acAddress[128]; /* address or host name */
    uint32_t uiPort;
    uint32_t uiDelay;    /* measured delay in milliseconds */
    uint32_t uiFlag;     /* carried unchanged */
} UIGATEWAY_INFO_S;

UI_PROFILE_RECORD_ASSERT(sizeof(UIGATEWAY_INFO_S) == 140, "UIGATEWAY_INFO_S is 140 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(UIGATEWAY_INFO_S, uiPort) == 128 &&
                             offsetof(UIGATEWAY_INFO_S, uiDelay) == 132 &&
                             offsetof(UIGATEWAY_INFO_S, uiFlag) == 136,
                         "UIGATEWAY_INFO_S offsets");

/* ---- System configuration --------------------------------------------------------------- */

/* One session entry per connection profile, keyed by its profile file name. An entry
 * whose ProfileName is empty is free. */
typedef struct CFM_SESSION_S {
    uint32_t ConnectionType;  /* 1 SSL VPN, 2 L2TP/IPSec */
    uint32_t RemPwd;          /* non-zero: the password is remembered */
    uint32_t AutoLogin;       /* non-zero: log in automatically at start */
    char LastLoginAddr[144];
    char ProfileName[133];    /* connection name followed by ".ini" */
    char UserName[256];
    char Password[128];
    uint8_t aucPad[3];
} CFM_SESSION_S;

UI_PROFILE_RECORD_ASSERT(sizeof(CFM_SESSION_S) == 676, "CFM_SESSION_S is 676 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(CFM_SESSION_S, RemPwd) == 4 &&
                             offsetof(CFM_SESSION_S, AutoLogin) == 8 &&
                             offsetof(CFM_SESSION_S, LastLoginAddr) == 12 &&
                             offsetof(CFM_SESSION_S, ProfileName) == 156 &&
                             offsetof(CFM_SESSION_S, UserName) == 289 &&
                             offsetof(CFM_SESSION_S, Password) == 545 &&
                             offsetof(CFM_SESSION_S, aucPad) == 673,
                         "CFM_SESSION_S offsets");

typedef struct CFM_SYSCONFIG_S {
    char ProductName[16];
    char Version[32];
    char Customized[16];        /* exactly "true" switches the customised skin on */
    uint32_t SpareValue;        /* held for the service */
    uint32_t CheckVersion;      /* 1: look for a newer client before a login */
    uint32_t AutoBoot;          /* 1: start the client at user login */
    uint32_t LanguageID;        /* 2052 Chinese, 1033 English */
    uint32_t ServerCheck;       /* 1: refuse untrusted server certificates */
    uint32_t ShowLogflag;       /* held for the service */
    char LastAccessSession[133];/* profile file name of the last connection used */
    uint8_t aucPad[3];
    uint32_t ProxyType;         /* 0 none, 1 system HTTPS, 2 system SOCKS5, 3 HTTPS, 4 SOCKS5 */
    char ProxyAddr[128];
    uint32_t ProxyPort;
    char ProxyUser[256];
    char ProxyPwd[128];
    CFM_SESSION_S Sessions[UI_SESSION_ENTRY_MAX];
} CFM_SYSCONFIG_S;

UI_PROFILE_RECORD_ASSERT(sizeof(CFM_SYSCONFIG_S) == 11560, "CFM_SYSCONFIG_S is 11560 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(CFM_SYSCONFIG_S, Version) == 16 &&
                             offsetof(CFM_SYSCONFIG_S, Customized) == 48 &&
                             offsetof(CFM_SYSCONFIG_S, SpareValue) == 64 &&
                             offsetof(CFM_SYSCONFIG_S, CheckVersion) == 68 &&
                             offsetof(CFM_SYSCONFIG_S, AutoBoot) == 72 &&
                             offsetof(CFM_SYSCONFIG_S, LanguageID) == 76 &&
                             offsetof(CFM_SYSCONFIG_S, ServerCheck) == 80 &&
                             offsetof(CFM_SYSCONFIG_S, ShowLogflag) == 84 &&
                             offsetof(CFM_SYSCONFIG_S, LastAccessSession) == 88 &&
                             offsetof(CFM_SYSCONFIG_S, aucPad) == 221 &&
                             offsetof(CFM_SYSCONFIG_S, ProxyType) == 224 &&
                             offsetof(CFM_SYSCONFIG_S, ProxyAddr) == 228 &&
                             offsetof(CFM_SYSCONFIG_S, ProxyPort) == 356 &&
                             offsetof(CFM_SYSCONFIG_S, ProxyUser) == 360 &&
                             offsetof(CFM_SYSCONFIG_S, ProxyPwd) == 616 &&
                             offsetof(CFM_SYSCONFIG_S, Sessions) == 744,
                         "CFM_SYSCONFIG_S offsets");

/* ---- SSL VPN profile ---------------------------------------------------------------------- */

typedef struct CFM_SSL_PROFILE_S {
    uint32_t uiLinkType;        /* always 1 */
    uint32_t uiHeadWord1;       /* written 0 */
    uint32_t uiHeadWord2;       /* written 1 */
    char acDescription[256];
    uint8_t aucReserved1[4];
    uint32_t uiGmAlgorithm;     /* 1: the national cryptographic algorithms */
    uint8_t aucReserved2[133];
    char acGatewayAddress[128];
    uint8_t aucPad[3];
    uint32_t uiPort;            /* port of acGatewayAddress */
    uint32_t uiDelay;           /* delay of acGatewayAddress */
    uint32_t uiFlag;
    uint32_t uiTunnelMode;      /* 0 reliable, 1 fast, 2 adaptive */
    uint32_t uiAutoBest;        /* 1: the service chooses the best gateway */
    uint32_t uiGatewayNum;      /* valid entries of astGateway, at most 16 */
    uint32_t uiDefaultGateway;  /* index into astGateway, 0xFFFFFFFF for none */
    UIGATEWAY_INFO_S astGateway[UI_GATEWAY_ENTRY_MAX];
    uint32_t uiReserved3;
    uint8_t aucReserved4[128];
    uint32_t uiReserved5;
    uint8_t aucReserved6[384];
} CFM_SSL_PROFILE_S;

UI_PROFILE_RECORD_ASSERT(sizeof(CFM_SSL_PROFILE_S) == 3328, "CFM_SSL_PROFILE_S is 3328 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(CFM_SSL_PROFILE_S, uiHeadWord1) == 4 &&
                             offsetof(CFM_SSL_PROFILE_S, uiHeadWord2) == 8 &&
                             offsetof(CFM_SSL_PROFILE_S, acDescription) == 12 &&
                             offsetof(CFM_SSL_PROFILE_S, aucReserved1) == 268 &&
                             offsetof(CFM_SSL_PROFILE_S, uiGmAlgorithm) == 272 &&
                             offsetof(CFM_SSL_PROFILE_S, aucReserved2) == 276 &&
                             offsetof(CFM_SSL_PROFILE_S, acGatewayAddress) == 409 &&
                             offsetof(CFM_SSL_PROFILE_S, aucPad) == 537 &&
                             offsetof(CFM_SSL_PROFILE_S, uiPort) == 540 &&
                             offsetof(CFM_SSL_PROFILE_S, uiDelay) == 544 &&
                             offsetof(CFM_SSL_PROFILE_S, uiFlag) == 548 &&
                             offsetof(CFM_SSL_PROFILE_S, uiTunnelMode) == 552 &&
                             offsetof(CFM_SSL_PROFILE_S, uiAutoBest) == 556 &&
                             offsetof(CFM_SSL_PROFILE_S, uiGatewayNum) == 560 &&
                             offsetof(CFM_SSL_PROFILE_S, uiDefaultGateway) == 564 &&
                             offsetof(CFM_SSL_PROFILE_S, astGateway) == 568 &&
                             offsetof(CFM_SSL_PROFILE_S, uiReserved3) == 2808 &&
                             offsetof(CFM_SSL_PROFILE_S, aucReserved4) == 2812 &&
                             offsetof(CFM_SSL_PROFILE_S, uiReserved5) == 2940 &&
                             offsetof(CFM_SSL_PROFILE_S, aucReserved6) == 2944,
                         "CFM_SSL_PROFILE_S offsets");

/* ---- L2TP/IPSec profile -------------------------------------------------------------------- */

/* One route: IPv4 address and mask as numbers whose most significant byte is the first
 * octet. */
typedef struct CFM_IPSEC_ROUTE_S {
    uint32_t uiAddress;
    uint32_t uiMask;
} CFM_IPSEC_ROUTE_S;

UI_PROFILE_RECORD_ASSERT(sizeof(CFM_IPSEC_ROUTE_S) == 8, "CFM_IPSEC_ROUTE_S is 8 bytes");

typedef struct CFM_IPSEC_PROFILE_S {
    uint32_t uiLinkType;            /* always 2 */
    uint32_t uiHeadWord1;
    char acDescription[256];
    char acLnsServer[128];
    uint32_t uiIpsecEnable;         /* 1: the L2TP tunnel is protected by IPSec */
    uint32_t uiAuthMethod;          /* 1 pre-shared key, 3 digital signature */
    char acPreSharedKey[128];       /* may fill its field without a terminator */
    uint8_t aucReserved1[128];
    char acTunnelName[128];
    uint32_t uiPppAuthMode;         /* 0 PAP, 1 CHAP */
    uint32_t uiTunnelAuth;          /* 1: tunnel password used */
    char acTunnelPassword[128];
    uint32_t uiRouteMode;           /* 0 mode configuration, 1 manual routes */
    char acDnsSuffix[64];
    uint32_t uiRouteNum;            /* valid entries of astRoute, at most 64 */
    CFM_IPSEC_ROUTE_S astRoute[UI_IPSEC_ROUTE_MAX];
    char acIpsecServer[128];
    uint32_t uiUseLnsAddress;       /* 1: the IPSec peer is the LNS */
    uint32_t uiEncapMode;           /* 1 transport, 0 tunnel */
    uint32_t uiReserved2;
    uint32_t uiReserved3;
    uint32_t uiEspAuthAlgo;
    uint32_t uiEspEncryAlgo;
    char acLocalGatewayName[512];   /* may fill its field without a terminator */
    char acRemoteGatewayName[512];  /* may fill its field without a terminator */
    uint32_t uiIkeAuthAlgo;
    uint32_t uiIkeEncryAlgo;
    uint32_t uiNegoMode;            /* 2 main mode, 4 aggressive mode */
    uint32_t uiIdType;              /* 1 IP address, 2 name, 0 in main mode */
    uint32_t uiDhGroup;             /* 1, 2 or 5 */
    uint32_t auiReserved4[4];
    uint32_t uiPfsEnable;
    uint32_t uiPfsGroup;
    uint32_t uiIkeSaLifetime;       /* seconds */
    uint32_t uiIpsecSaLifetime;     /* seconds */
} CFM_IPSEC_PROFILE_S;

UI_PROFILE_RECORD_ASSERT(sizeof(CFM_IPSEC_PROFILE_S) == 2732, "CFM_IPSEC_PROFILE_S is 2732 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(CFM_IPSEC_PROFILE_S, uiHeadWord1) == 4 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acDescription) == 8 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acLnsServer) == 264 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiIpsecEnable) == 392 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiAuthMethod) == 396 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acPreSharedKey) == 400 &&
                             offsetof(CFM_IPSEC_PROFILE_S, aucReserved1) == 528 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acTunnelName) == 656 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiPppAuthMode) == 784 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiTunnelAuth) == 788 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acTunnelPassword) == 792 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiRouteMode) == 920 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acDnsSuffix) == 924 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiRouteNum) == 988 &&
                             offsetof(CFM_IPSEC_PROFILE_S, astRoute) == 992 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acIpsecServer) == 1504 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiUseLnsAddress) == 1632 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiEncapMode) == 1636 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiReserved2) == 1640 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiReserved3) == 1644 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiEspAuthAlgo) == 1648 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiEspEncryAlgo) == 1652 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acLocalGatewayName) == 1656 &&
                             offsetof(CFM_IPSEC_PROFILE_S, acRemoteGatewayName) == 2168 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiIkeAuthAlgo) == 2680 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiIkeEncryAlgo) == 2684 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiNegoMode) == 2688 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiIdType) == 2692 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiDhGroup) == 2696 &&
                             offsetof(CFM_IPSEC_PROFILE_S, auiReserved4) == 2700 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiPfsEnable) == 2716 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiPfsGroup) == 2720 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiIkeSaLifetime) == 2724 &&
                             offsetof(CFM_IPSEC_PROFILE_S, uiIpsecSaLifetime) == 2728,
                         "CFM_IPSEC_PROFILE_S offsets");

/* ---- Profile export ---------------------------------------------------------------------------- */

/* The export request: the profile's file name and the path of the file to write, each
 * cut to its field less one byte, so that both always end with a zero byte. */
typedef struct ProfileOutputInfo {
    char acProfileName[133];
    char acOutputPath[1024];
} ProfileOutputInfo;

UI_PROFILE_RECORD_ASSERT(sizeof(ProfileOutputInfo) == 1157, "ProfileOutputInfo is 1157 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(ProfileOutputInfo, acOutputPath) == 133,
                         "ProfileOutputInfo offsets");

/* ---- Site preference, gateway list and link selection ------------------------------------------ */

/* The gateways the service may choose the best one from: the same shape as a profile's
 * gateway section. */
typedef struct AUTO_BEST_NEED {
    uint32_t uiAutoBest;        /* 1: automatic best-gateway choice */
    UIGATEWAY_INFO_S astGateway[UI_GATEWAY_ENTRY_MAX];
    uint32_t uiGatewayNum;      /* valid entries, at most 16 */
    uint32_t uiDefaultGateway;  /* index of the profile's default gateway */
} AUTO_BEST_NEED;

UI_PROFILE_RECORD_ASSERT(sizeof(AUTO_BEST_NEED) == 2252, "AUTO_BEST_NEED is 2252 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(AUTO_BEST_NEED, astGateway) == 4 &&
                             offsetof(AUTO_BEST_NEED, uiGatewayNum) == 2244 &&
                             offsetof(AUTO_BEST_NEED, uiDefaultGateway) == 2248,
                         "AUTO_BEST_NEED offsets");

/* The site-preference request. It travels exactly as the caller filled it: every
 * integer in host order. */
typedef struct UISSL_FIRST_CONN {
    uint32_t uiLanguage;        /* 0 Chinese, 1 English */
    char acGateway[256];        /* "address:port" of the gateway asked about */
    AUTO_BEST_NEED stAutoBestNeed;
} UISSL_FIRST_CONN;

UI_PROFILE_RECORD_ASSERT(sizeof(UISSL_FIRST_CONN) == 2512, "UISSL_FIRST_CONN is 2512 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(UISSL_FIRST_CONN, acGateway) == 4 &&
                             offsetof(UISSL_FIRST_CONN, stAutoBestNeed) == 260 &&
                             offsetof(UISSL_FIRST_CONN, stAutoBestNeed.astGateway) == 264 &&
                             offsetof(UISSL_FIRST_CONN, stAutoBestNeed.uiGatewayNum) == 2504 &&
                             offsetof(UISSL_FIRST_CONN, stAutoBestNeed.uiDefaultGateway) == 2508,
                         "UISSL_FIRST_CONN offsets");

/* The site-preference reply, in host order once received. */
typedef struct UIFIRST_CONNECT_CONF_S {
    uint32_t uiAuthType;        /* 0 user and password, 1 certificate, 2 certificate and password */
    uint32_t uiVerification;
    uint32_t uiVersionMS;       /* (major << 16) | minor of the gateway's client */
    uint32_t uiVersionLS;       /* (build << 16) | revision */
    UIGATEWAY_INFO_S stBestGateway;
    char acPackage[256];        /* download URL of a client package, or empty */
} UIFIRST_CONNECT_CONF_S;

UI_PROFILE_RECORD_ASSERT(sizeof(UIFIRST_CONNECT_CONF_S) == 412,
                         "UIFIRST_CONNECT_CONF_S is 412 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(UIFIRST_CONNECT_CONF_S, uiVerification) == 4 &&
                             offsetof(UIFIRST_CONNECT_CONF_S, uiVersionMS) == 8 &&
                             offsetof(UIFIRST_CONNECT_CONF_S, uiVersionLS) == 12 &&
                             offsetof(UIFIRST_CONNECT_CONF_S, stBestGateway) == 16 &&
                             offsetof(UIFIRST_CONNECT_CONF_S, stBestGateway.uiPort) == 144 &&
                             offsetof(UIFIRST_CONNECT_CONF_S, stBestGateway.uiDelay) == 148 &&
                             offsetof(UIFIRST_CONNECT_CONF_S, stBestGateway.uiFlag) == 152 &&
                             offsetof(UIFIRST_CONNECT_CONF_S, acPackage) == 156,
                         "UIFIRST_CONNECT_CONF_S offsets");

/* Outcome of the site preference. */
typedef enum SitePrefResult {
    SITE_PREF_RESULT_OTHER = 0,               /* any other reply of the PREF table */
    SITE_PREF_RESULT_SUCCESS = 1,             /* 0x10000 */
    SITE_PREF_RESULT_PROXY_AUTH_FAILED = 8,   /* 0x1000B: the proxy refused the account */
    SITE_PREF_RESULT_PROXY_NEED_AUTH = 9,     /* 0x1000C: the proxy asks for an account */
    SITE_PREF_RESULT_PROXY_CONNECT_ERROR = 10 /* 0x1000D: the proxy cannot be reached */
} SitePrefResult;

/* The link selection: the request carries the caller's choice in host order; the
 * reply carries the result and the gateway the engine took. */
typedef struct LinkSelectInfo {
    uint32_t uiEnable;          /* request: 1 automatic best gateway; reply: the result */
    char acIp[128];
    uint32_t uiPort;
} LinkSelectInfo;

UI_PROFILE_RECORD_ASSERT(sizeof(LinkSelectInfo) == 136, "LinkSelectInfo is 136 bytes");
UI_PROFILE_RECORD_ASSERT(offsetof(LinkSelectInfo, acIp) == 4 &&
                             offsetof(LinkSelectInfo, uiPort) == 132,
                         "LinkSelectInfo offsets");
