#pragma once
// The SSL VPN login and what surrounds it, as requests to the engine on its synchronous
// connection: the login (for the login view and for a browser plugin), the token code a
// login may ask for, the password change, the certificate list, the host check and
// cache clear a login may demand, and the logout.
//
// Every request blocks its caller (the main thread) until the reply or its time-out.
// It answers 0 when a reply came and was examined, whatever it said, and 1 when the
// request could not be made or no usable reply came. After a reply the language key
// that names its code is in the caller's 256-byte name buffer, and the result, ok flag
// and records are written as each function says; whatever a function does not write
// stays as the caller left it. A record is taken from a reply only when the reply
// holds it whole.

#include <cstdint>

#include "ui_login_records.h"

// Sends the login (authentication, code 5) and reads its reply. The result becomes the
// UI_SSL_LOGIN_RESULT of the reply's code; a reply with a payload is converted into ret.
uint32_t UI_SslLogin_Process(const UI_SSL_LOGIN_S* pstLogin, char* pcMsgCodeName,
                             uint32_t* puiResult, UI_SSL_LOGIN_RET_S* pstRet);

// The same login made for a browser plugin: result 1 on success, 0 when the gateway
// answers with the plugin's region (0x3000D); a reply with a payload fills reply.
uint32_t UI_PluginLogin_Process(const UI_SSL_LOGIN_S* pstLogin, char* pcMsgCodeName,
                                uint32_t* puiResult, PluginLoginReply* pstReply);

// Sends the token code (code 16) as the front of a login-sized payload. Only the
// results SUCCESS, FIRST_LOGIN, EXPIRE_STRONG and EXPIRE_WEAK are set.
uint32_t UI_SslDynamicCode_Send(const UI_DYNAMIC_CODE_S* pstCode, char* pcMsgCodeName,
                                uint32_t* puiResult, UI_SSL_LOGIN_RET_S* pstRet);

// Changes the password (code 11). Success (0x40000) sets ok and writes nothing else;
// any other reply carries the policy, converted into policy, and names the refusal.
uint32_t UI_SslPwd_Modify(const PwdModifyInfo* pstRequest, char* pcMsgCodeName,
                          uint32_t* puiOk, UI_PWD_POLICY_S* pstPolicy);

// Reads the certificate list (code 15) into certs: the count and that many entries.
// The reply's code is not examined and neither name nor ok is written: success is the
// result alone. A count above 32 gives 1 with certs untouched.
uint32_t UI_CertInfo_Get(char* pcMsgCodeName, uint32_t* puiOk, UI_CERT_INFO_S* pstCerts);

// The host check (endpoint security, code 12): ok 1 on 0x50000.
uint32_t UI_SslHostCheck_Process(char* pcMsgCodeName, uint32_t* puiOk);

// The cache clear (endpoint security, code 13 for flag 1, 14 otherwise): ok 1 on 0x50002.
uint32_t UI_SslCacheClear_Process(uint32_t uiFlag, char* pcMsgCodeName, uint32_t* puiOk);

// Logs the SSL session out (code 8): packets of other modules that come first are
// skipped until the logout's own reply (module 10) arrives; ok 1 on 0xA0000. The whole
// wait is bounded by UI_SSL_LOGOUT_TIMEOUT; when it runs out the result is 1.
uint32_t UI_SslLogout_Process(char* pcMsgCodeName, uint32_t* puiOk);

// The host-order copy of a login reply's record as it came in network order: the seven
// 32-bit and two 16-bit fields swapped. dest and src may be the same record. 0, or 1
// for a null pointer.
uint32_t UI_SslLogin_Ntohl(UI_SSL_LOGIN_RET_S* pstDest, const UI_SSL_LOGIN_RET_S* pstSrc);
