// The SSL VPN login and what surrounds it: each request is one packet on the engine's
// synchronous connection and one reply (the logout may read a few more), examined by
// that request's own rules: which reply codes set which result, and when a payload is
// converted into the caller's record.
//
// No password, token code or cookie is ever put into a log line: the lines name the
// operation, the step and the reply's code only.

#include "ui_auth.h"

#include <arpa/inet.h>

#include <cstring>

#include "jqr_mem.h"
#include "ui_auth_inner.h"
#include "ui_common.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_request.h"

namespace {

// Request codes of the authentication and endpoint-security message types.
constexpr uint32_t AUTH_CODE_LOGIN = 5;
constexpr uint32_t AUTH_CODE_LOGOUT = 8;
constexpr uint32_t AUTH_CODE_PWD_MODIFY = 11;
constexpr uint32_t AUTH_CODE_CERT_INFO = 15;
constexpr uint32_t AUTH_CODE_DYNAMIC_CODE = 16;
constexpr uint32_t EPS_CODE_HOST_CHECK = 12;
constexpr uint32_t EPS_CODE_CACHE_CLEAR_ALL = 13;  // flag 1
constexpr uint32_t EPS_CODE_CACHE_CLEAR = 14;      // any other flag

// Reply codes the requests act on.
constexpr uint32_t MSGCODE_LOGIN_SUCCESS = 0x20000;
constexpr uint32_t MSGCODE_LOGIN_PLUGIN_REGION = 0x3000D;
constexpr uint32_t MSGCODE_MODIFY_PWD_SUCCESS = 0x40000;
constexpr uint32_t MSGCODE_HOST_CHECK_SUCCESS = 0x50000;
constexpr uint32_t MSGCODE_CACHE_CLEAN_SUCCESS = 0x50002;
constexpr uint32_t MSGCODE_LOGOUT_SUCCESS = 0xA0000;

// A token code travels at the front of a payload the size of a login request.
constexpr uint32_t LOGIN_PAYLOAD_LEN = sizeof(UI_SSL_LOGIN_S);

uint32_t Index(uint32_t uiCode) { return uiCode & 0xFFFF; }

void LogDetail(uint32_t uiLevel, const char* pcOperation, const char* pcDetail) {
    (void)DDM_LogWrite(UI_LOG_UI, uiLevel, "[%lu][%s][%s]", UI_LOG_TAG, pcOperation, pcDetail);
}

void LogInvalid(const char* pcOperation) {
    LogDetail(DDM_LOG_ERROR, pcOperation, "invalid parameter!");
}

// A reply code that sets a result kind, and the line that says so (none for success).
struct LoginKind {
    uint32_t uiCode;
    uint32_t uiKind;
    const char* pcNote;
};

// In the order the login tests the codes.
constexpr LoginKind kLoginKinds[] = {
    {MSGCODE_LOGIN_SUCCESS, SSL_LOGIN_RESULT_SUCCESS, nullptr},
    {0x30006, SSL_LOGIN_RESULT_FIRST_LOGIN, "message is first login error"},
    {0x30007, SSL_LOGIN_RESULT_EXPIRE_STRONG, "message is stronglogin error"},
    {0x30008, SSL_LOGIN_RESULT_EXPIRE_WEAK, "message is weaklogin "},
    {0x30009, SSL_LOGIN_RESULT_CERT_ERROR, "message is cert error"},
    {0x3000C, SSL_LOGIN_RESULT_DEVICE_REJECT, "message is device reject error"},
    {0x3000B, SSL_LOGIN_RESULT_DEVICE_CERT_ERROR, "message is device cert error"},
    {0x3000A, SSL_LOGIN_RESULT_SMS_CHECK, "message is smscheck waring"},
};

// A token code completes a login, so only these outcomes can follow it.
constexpr LoginKind kDynamicCodeKinds[] = {
    {MSGCODE_LOGIN_SUCCESS, SSL_LOGIN_RESULT_SUCCESS, nullptr},
    {0x30006, SSL_LOGIN_RESULT_FIRST_LOGIN,
     "vanTrelo send dynamic code finish][message is first lohin error"},
    {0x30007, SSL_LOGIN_RESULT_EXPIRE_STRONG,
     "vanTrelo send dynamic code finish][message is expire stronglogin error"},
    {0x30008, SSL_LOGIN_RESULT_EXPIRE_WEAK,
     "vanTrelo send dynamic code finish][message is  expire weaklogin error"},
};

template <size_t N>
void KindSet(const LoginKind (&table)[N], uint32_t uiCode, uint32_t* puiResult,
             const char* pcOperation) {
    for (const LoginKind& k : table) {
        if (k.uiCode == uiCode) {
            if (k.pcNote != nullptr) {
                LogDetail(DDM_LOG_INFO, pcOperation, k.pcNote);
            }
            *puiResult = k.uiKind;
            return;
        }
    }
}

// A login reply's payload, when there is one, is the login record in network order.
// Only a payload that holds the record whole is taken.
void LoginRetTake(const UiRequest* pstReq, UI_SSL_LOGIN_RET_S* pstRet, const char* pcOperation) {
    if (UI_Request_ReplyPayloadLen(pstReq) == 0) {
        return;
    }
    UI_SSL_LOGIN_RET_S wire;
    if (UI_Request_RecordGet(pstReq, 0, &wire, sizeof(wire), pcOperation) == 0) {
        (void)UI_SslLogin_Ntohl(pstRet, &wire);
    }
}

const UiRequestTexts kLoginTexts = {"Process ssl login", "login connect fd get failed!",
                                    "malloc failed!", "vanTrelo ssl login packet send failed!"};
const UiRequestTexts kPluginLoginTexts = {"Process plugin login", "login connect fd get failed!",
                                          "malloc failed!",
                                          "vanTrelo ssl login packet send failed!"};
const UiRequestTexts kDynamicCodeTexts = {"Process ssl send dynamic code",
                                          "login connect fd get failed!", "malloc failed!",
                                          "vanTrelo pub packet send failed!"};
const UiRequestTexts kPwdModifyTexts = {"Process ssl pwd modify", "ui get connect fd failed!",
                                        "malloc failed!", "ui ssl modify password failed!"};
const UiRequestTexts kCertInfoTexts = {"Process get cert info", "ui get cert info get fd failed!",
                                       "malloc failed!", "ui Get cert info failed!"};
const UiRequestTexts kHostCheckTexts = {"Process ssl host check", "ui get connect fd failed!",
                                        "malloc failed!", "ui ssl host check failed!"};
const UiRequestTexts kCacheClearTexts = {"Process ssl cache clear", "ui get connect fd failed!",
                                         "malloc failed!", "ui ssl cache clear failed!"};
const UiRequestTexts kLogoutTexts = {"Process ssl logout", "ui get connect fd failed!",
                                     "malloc failed!", "ui ssl sync send failed!"};

}  // namespace

// ---- Shared steps ---------------------------------------------------------------------

uint32_t uiEngineRequest(UiRequest* pstReq, uint32_t uiMsgType, uint32_t uiMsgCode,
                         const void* pSrc, uint32_t uiSrcLen, uint32_t uiPayloadLen,
                         uint32_t uiTimeoutMs, const UiRequestTexts* pstTexts) {
    const char* op = pstTexts->pcOperation;
    if (UI_Request_Begin(pstReq, MARK_TULM, CONNECT_TYPE_SYNC) != 0) {
        LogDetail(DDM_LOG_ERROR, op, pstTexts->pcNoFd);
        UI_Request_End(pstReq);
        return 1;
    }
    if (uiSrcLen > uiPayloadLen ||
        UI_Request_Build(pstReq, uiMsgType, uiMsgCode, uiPayloadLen) != 0) {
        LogDetail(DDM_LOG_ERROR, op, pstTexts->pcNoMemory);
        UI_Request_End(pstReq);
        return 1;
    }
    if (pSrc != nullptr && uiSrcLen != 0) {
        std::memcpy(pstReq->pucPacket + UI_PACKET_HEAD_LEN, pSrc, uiSrcLen);
    }
    if (UI_Request_Exchange(pstReq, uiTimeoutMs) != 0) {
        LogDetail(DDM_LOG_ERROR, op, pstTexts->pcSendFailed);
        UI_Request_End(pstReq);
        return 1;
    }
    return 0;
}

uint32_t uiLogoutReplyAwait(UiRequest* pstReq, int64_t deadlineMs, const char* pcOperation,
                            const char* pcReceived) {
    // The engine may still be reporting on what the session was doing when the logout
    // reaches it; those packets are passed over, but only until the deadline: an engine
    // that keeps the connection and never answers must not hold the caller (the exit
    // path among them) for ever.
    if ((pstReq->stReplyHead.uiMsgCode >> 16) != MSGCODE_MODULE_LOGOUT) {
        // The exchange's own reply is passed over too: it is named like every later one.
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][%s0x%x]", UI_LOG_TAG, pcOperation,
                           pcReceived, pstReq->stReplyHead.uiMsgCode);
    }
    while ((pstReq->stReplyHead.uiMsgCode >> 16) != MSGCODE_MODULE_LOGOUT) {
        uint8_t* packet = nullptr;
        const int32_t len = uiPacketRecvUntil(pstReq->iFd, &packet, deadlineMs);
        if (len < 0) {
            return 1;
        }
        (void)UKO_Free(pstReq->pucReply);
        pstReq->pucReply = packet;
        pstReq->uiReplyLen = UI_PACKET_HEAD_LEN + static_cast<uint32_t>(len);
        uiPacketHeadRead(packet, &pstReq->stReplyHead);
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][%s0x%x]", UI_LOG_TAG, pcOperation,
                           pcReceived, pstReq->stReplyHead.uiMsgCode);
    }
    return 0;
}

// ---- Requests --------------------------------------------------------------------------

uint32_t UI_SslLogin_Ntohl(UI_SSL_LOGIN_RET_S* pstDest, const UI_SSL_LOGIN_RET_S* pstSrc) {
    if (pstDest == nullptr || pstSrc == nullptr) {
        LogDetail(DDM_LOG_ERROR, "Support ssl login ntohl", "input null pointer");
        return 1;
    }
    // Built apart first, so that a conversion in place reads every field before it is
    // overwritten.
    UI_SSL_LOGIN_RET_S host;
    for (size_t i = 0; i < sizeof(host.auiReserved) / sizeof(host.auiReserved[0]); ++i) {
        host.auiReserved[i] = ntohl(pstSrc->auiReserved[i]);
    }
    host.uiHostCheck = ntohl(pstSrc->uiHostCheck);
    host.uiCacheClear = ntohl(pstSrc->uiCacheClear);
    host.uiModifyPwd = ntohl(pstSrc->uiModifyPwd);
    host.usAlarmNotice = ntohs(pstSrc->usAlarmNotice);
    host.sAlarmTime = static_cast<int16_t>(ntohs(static_cast<uint16_t>(pstSrc->sAlarmTime)));
    *pstDest = host;
    return 0;
}

uint32_t UI_SslLogin_Process(const UI_SSL_LOGIN_S* pstLogin, char* pcMsgCodeName,
                             uint32_t* puiResult, UI_SSL_LOGIN_RET_S* pstRet) {
    const char* op = kLoginTexts.pcOperation;
    if (pstLogin == nullptr || pcMsgCodeName == nullptr || puiResult == nullptr ||
        pstRet == nullptr) {
        LogInvalid(op);
        return 1;
    }
    LogDetail(DDM_LOG_INFO, op, "vanTrelo ssl login start!");
    // The record travels exactly as the login view laid it out: the engine reads its
    // integers in the front end's own byte order.
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_AUTH, AUTH_CODE_LOGIN, pstLogin, sizeof(*pstLogin),
                        sizeof(*pstLogin), UI_SYNC_RECV_TIMEOUT, &kLoginTexts) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    LoginRetTake(&req, pstRet, op);
    if (Index(code) < UI_AUTH_MSGCODE_BOUND) {
        KindSet(kLoginKinds, code, puiResult, op);
    }
    UI_MsgCodeName_Get(g_authMsgCodeTable, UI_AUTH_MSGCODE_BOUND, code, pcMsgCodeName);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo ssl login finish][message code is 0x%x]", UI_LOG_TAG, op,
                       code);
    UI_Request_End(&req);
    return 0;
}

uint32_t UI_PluginLogin_Process(const UI_SSL_LOGIN_S* pstLogin, char* pcMsgCodeName,
                                uint32_t* puiResult, PluginLoginReply* pstReply) {
    const char* op = kPluginLoginTexts.pcOperation;
    if (pstLogin == nullptr || pcMsgCodeName == nullptr || puiResult == nullptr ||
        pstReply == nullptr) {
        LogInvalid(op);
        return 1;
    }
    LogDetail(DDM_LOG_INFO, op, "vanTrelo ssl login start!");
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_AUTH, AUTH_CODE_LOGIN, pstLogin, sizeof(*pstLogin),
                        sizeof(*pstLogin), UI_SYNC_RECV_TIMEOUT, &kPluginLoginTexts) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (UI_Request_ReplyPayloadLen(&req) != 0) {
        PluginLoginReply wire;
        if (UI_Request_RecordGet(&req, 0, &wire, sizeof(wire), op) == 0) {
            wire.uiUserID = ntohl(wire.uiUserID);
            wire.uiSessionID = ntohl(wire.uiSessionID);
            *pstReply = wire;
        }
    }
    if (Index(code) < UI_AUTH_MSGCODE_BOUND) {
        if (code == MSGCODE_LOGIN_SUCCESS) {
            *puiResult = 1;
        } else if (code == MSGCODE_LOGIN_PLUGIN_REGION) {
            *puiResult = 0;
        }
    }
    UI_MsgCodeName_Get(g_authMsgCodeTable, UI_AUTH_MSGCODE_BOUND, code, pcMsgCodeName);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo ssl login finish][message code is 0x%x]", UI_LOG_TAG, op,
                       code);
    UI_Request_End(&req);
    return 0;
}

uint32_t UI_SslDynamicCode_Send(const UI_DYNAMIC_CODE_S* pstCode, char* pcMsgCodeName,
                                uint32_t* puiResult, UI_SSL_LOGIN_RET_S* pstRet) {
    const char* op = kDynamicCodeTexts.pcOperation;
    if (pstCode == nullptr || pcMsgCodeName == nullptr || puiResult == nullptr ||
        pstRet == nullptr) {
        LogInvalid(op);
        return 1;
    }
    LogDetail(DDM_LOG_INFO, op, "vanTrelo send dynamic code start!");
    // The whole record goes out byte for byte: its leading authentication type holds
    // zero bytes, so a text copy would stop there and send no code at all.
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_AUTH, AUTH_CODE_DYNAMIC_CODE, pstCode, sizeof(*pstCode),
                        LOGIN_PAYLOAD_LEN, UI_SYNC_RECV_TIMEOUT, &kDynamicCodeTexts) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    LoginRetTake(&req, pstRet, op);
    if (Index(code) < UI_AUTH_MSGCODE_BOUND) {
        KindSet(kDynamicCodeKinds, code, puiResult, op);
    }
    UI_MsgCodeName_Get(g_authMsgCodeTable, UI_AUTH_MSGCODE_BOUND, code, pcMsgCodeName);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo send dynamic code finish][message code is 0x%x]",
                       UI_LOG_TAG, op, code);
    UI_Request_End(&req);
    return 0;
}

uint32_t UI_SslPwd_Modify(const PwdModifyInfo* pstRequest, char* pcMsgCodeName, uint32_t* puiOk,
                          UI_PWD_POLICY_S* pstPolicy) {
    const char* op = kPwdModifyTexts.pcOperation;
    if (pstRequest == nullptr || pcMsgCodeName == nullptr || puiOk == nullptr ||
        pstPolicy == nullptr) {
        LogInvalid(op);
        return 1;
    }
    LogDetail(DDM_LOG_INFO, op, "vanTrelo ssl password modify start!");
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_AUTH, AUTH_CODE_PWD_MODIFY, pstRequest, sizeof(*pstRequest),
                        sizeof(*pstRequest), UI_SYNC_RECV_TIMEOUT, &kPwdModifyTexts) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (Index(code) < UI_AUTH_NORMAL_MSGCODE_BOUND && code == MSGCODE_MODIFY_PWD_SUCCESS) {
        *puiOk = 1;
        UI_Request_End(&req);
        return 0;
    }
    if (Index(code) < UI_AUTH_NORMAL_MSGCODE_BOUND) {
        // A refusal brings the gateway's policy, so the dialog can say what it asks for.
        UI_PWD_POLICY_S wire;
        if (UI_Request_RecordGet(&req, 0, &wire, sizeof(wire), op) == 0) {
            UI_PWD_POLICY_S host;
            host.uiMinLength = ntohl(wire.uiMinLength);
            host.uiMaxLength = ntohl(wire.uiMaxLength);
            host.uiMinDigits = ntohl(wire.uiMinDigits);
            host.uiMinLetters = ntohl(wire.uiMinLetters);
            host.uiMixedCase = ntohl(wire.uiMixedCase);
            host.uiNewOldDiffer = ntohl(wire.uiNewOldDiffer);
            host.uiNamePwdDiffer = ntohl(wire.uiNamePwdDiffer);
            *pstPolicy = host;
            (void)DDM_LogWrite(
                UI_LOG_UI, DDM_LOG_INFO,
                "[%lu][%s][vanTrelo ssl password modify return info, min length is %d,max "
                "length is %d,min contains number num is %d,min contains char num is %d,force "
                "to mix lower and upper is %d,force new and old diffrence is %d,force user and "
                "pswd diffrence is %d]",
                UI_LOG_TAG, op, static_cast<int>(host.uiMinLength),
                static_cast<int>(host.uiMaxLength), static_cast<int>(host.uiMinDigits),
                static_cast<int>(host.uiMinLetters), static_cast<int>(host.uiMixedCase),
                static_cast<int>(host.uiNewOldDiffer), static_cast<int>(host.uiNamePwdDiffer));
        }
    }
    UI_MsgCodeName_Get(g_authNormalMsgCodeTable, UI_AUTH_NORMAL_MSGCODE_BOUND, code, pcMsgCodeName);
    (void)DDM_LogWrite(
        UI_LOG_UI, DDM_LOG_INFO,
        "[%lu][%s][vanTrelo ssl password modify return out string, message code is 0x%x]",
        UI_LOG_TAG, op, code);
    UI_Request_End(&req);
    return 0;
}

uint32_t UI_CertInfo_Get(char* pcMsgCodeName, uint32_t* puiOk, UI_CERT_INFO_S* pstCerts) {
    (void)puiOk;  // success is told by the result alone
    const char* op = kCertInfoTexts.pcOperation;
    if (pcMsgCodeName == nullptr || pstCerts == nullptr) {
        LogInvalid(op);
        return 1;
    }
    LogDetail(DDM_LOG_INFO, op, "ui get cert info start!");
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_AUTH, AUTH_CODE_CERT_INFO, nullptr, 0,
                        sizeof(UI_CERT_INFO_S), UI_SYNC_RECV_TIMEOUT, &kCertInfoTexts) != 0) {
        return 1;
    }
    // The count lies at the record's end and travels in host order: reading it proves
    // the payload holds the whole list before any entry is copied.
    uint32_t count = 0;
    if (UI_Request_RecordGet(&req, offsetof(UI_CERT_INFO_S, uiCertNum), &count, sizeof(count),
                             op) != 0) {
        UI_Request_End(&req);
        return 1;
    }
    if (count > UI_CERT_NUM_MAX) {
        UI_Request_End(&req);
        LogDetail(DDM_LOG_ERROR, op, "ui Get cert num error!");
        return 1;
    }
    pstCerts->uiCertNum = count;
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][ui get cert info return cert num is %d, pst cert info cert "
                       "num is %d]",
                       UI_LOG_TAG, op, static_cast<int>(count),
                       static_cast<int>(pstCerts->uiCertNum));
    for (uint32_t i = 0; i < count; ++i) {
        (void)UI_Request_RecordGet(&req, offsetof(UI_CERT_INFO_S, acCertName) + i * 1024,
                                   pstCerts->acCertName[i], sizeof(pstCerts->acCertName[i]), op);
        (void)UI_Request_RecordGet(&req, offsetof(UI_CERT_INFO_S, acDisplayName) + i * 132,
                                   pstCerts->acDisplayName[i], sizeof(pstCerts->acDisplayName[i]),
                                   op);
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][ui get cert info finish, message code is 0x%x]", UI_LOG_TAG, op,
                       req.stReplyHead.uiMsgCode);
    UI_Request_End(&req);
    return 0;
}

namespace {

// The host check and the cache clear: a head-only request of the endpoint-security
// type whose one success code sets ok.
uint32_t EpsRequest(uint32_t uiCode, uint32_t uiSuccess, const UiRequestTexts* pstTexts,
                    const char* pcStart, const char* pcFinish, char* pcMsgCodeName,
                    uint32_t* puiOk) {
    const char* op = pstTexts->pcOperation;
    LogDetail(DDM_LOG_INFO, op, pcStart);
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_EPS, uiCode, nullptr, 0, 0, UI_SYNC_RECV_TIMEOUT,
                        pstTexts) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (Index(code) < UI_EPS_MSGCODE_BOUND && code == uiSuccess) {
        *puiOk = 1;
    }
    UI_MsgCodeName_Get(g_epsMsgCodeTable, UI_EPS_MSGCODE_BOUND, code, pcMsgCodeName);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][%s0x%x]", UI_LOG_TAG, op, pcFinish,
                       code);
    UI_Request_End(&req);
    return 0;
}

}  // namespace

uint32_t UI_SslHostCheck_Process(char* pcMsgCodeName, uint32_t* puiOk) {
    if (pcMsgCodeName == nullptr || puiOk == nullptr) {
        return 1;
    }
    return EpsRequest(EPS_CODE_HOST_CHECK, MSGCODE_HOST_CHECK_SUCCESS, &kHostCheckTexts,
                      "vanTrelo ssl hostcheck start!",
                      "vanTrelo ssl host check finish, message code is ", pcMsgCodeName, puiOk);
}

uint32_t UI_SslCacheClear_Process(uint32_t uiFlag, char* pcMsgCodeName, uint32_t* puiOk) {
    if (pcMsgCodeName == nullptr || puiOk == nullptr) {
        return 1;
    }
    return EpsRequest(uiFlag == 1 ? EPS_CODE_CACHE_CLEAR_ALL : EPS_CODE_CACHE_CLEAR,
                      MSGCODE_CACHE_CLEAN_SUCCESS, &kCacheClearTexts,
                      "vanTrelo ssl cache clear start!",
                      "vanTrelo ssl cache clear finish, message code is ", pcMsgCodeName, puiOk);
}

uint32_t UI_SslLogout_Process(char* pcMsgCodeName, uint32_t* puiOk) {
    const char* op = kLogoutTexts.pcOperation;
    if (pcMsgCodeName == nullptr || puiOk == nullptr) {
        LogInvalid(op);
        return 1;
    }
    LogDetail(DDM_LOG_INFO, op, "vanTrelo ssl logout start!");
    // One budget for the exchange and every read after it.
    const int64_t deadline = uiMonotonicMs() + uiSyncTimeoutScaled(UI_SSL_LOGOUT_TIMEOUT);
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_AUTH, AUTH_CODE_LOGOUT, nullptr, 0, 0, UI_SSL_LOGOUT_TIMEOUT,
                        &kLogoutTexts) != 0) {
        return 1;
    }
    if (uiLogoutReplyAwait(&req, deadline, op, "ssl logout received the message code is ") != 0) {
        LogDetail(DDM_LOG_ERROR, op, "ui ssl receive failed!");
        // Whatever part of a packet came is of no use now, and must not be read as the
        // reply to the next request.
        UI_SocketClear(req.iFd);
        UI_Request_End(&req);
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    UI_MsgCodeName_Get(g_logoutMsgCodeTable, UI_LOGOUT_MSGCODE_BOUND, code, pcMsgCodeName);
    if (code == MSGCODE_LOGOUT_SUCCESS) {
        *puiOk = 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo ssl logout finish, message code is 0x%x]", UI_LOG_TAG,
                       op, code);
    UI_SocketClear(req.iFd);
    UI_Request_End(&req);
    return 0;
}
