// The configuration requests and the byte-order converters of their records.

#include "ui_cfm.h"

#include <arpa/inet.h>

#include <cstring>

#include "ui_common.h"
#include "ui_packet.h"
#include "ui_request.h"

namespace {

// Request codes of the configuration requests.
constexpr uint32_t CFM_CODE_SYSCONFIG_WRITE = 1;
constexpr uint32_t CFM_CODE_SYSCONFIG_READ = 2;
constexpr uint32_t CFM_CODE_SESSION_WRITE = 3;
constexpr uint32_t CFM_CODE_SESSION_READ = 4;
constexpr uint32_t CFM_CODE_SSL_WRITE = 5;
constexpr uint32_t CFM_CODE_SSL_READ = 6;
constexpr uint32_t CFM_CODE_IPSEC_WRITE = 7;
constexpr uint32_t CFM_CODE_IPSEC_READ = 8;
constexpr uint32_t CFM_CODE_PROFILE_INPUT = 9;
constexpr uint32_t CFM_CODE_PROFILE_OUTPUT = 10;
constexpr uint32_t CFM_CODE_PROFILE_SPECIFY = 11;
constexpr uint32_t CFM_CODE_PROFILE_DELETE = 12;

// Success replies.
constexpr uint32_t CFM_MSGCODE_SYSCONFIG_WRITE_SUCCESS = 0xD0000;
constexpr uint32_t CFM_MSGCODE_SYSCONFIG_READ_SUCCESS = 0xD0002;
constexpr uint32_t CFM_MSGCODE_SESSION_WRITE_SUCCESS = 0xD0004;
constexpr uint32_t CFM_MSGCODE_SESSION_READ_SUCCESS = 0xD0006;
constexpr uint32_t CFM_MSGCODE_SSL_WRITE_SUCCESS = 0xD0009;
constexpr uint32_t CFM_MSGCODE_SSL_READ_SUCCESS = 0xD000B;
constexpr uint32_t CFM_MSGCODE_IPSEC_WRITE_SUCCESS = 0xD000D;
constexpr uint32_t CFM_MSGCODE_IPSEC_READ_SUCCESS = 0xD000F;
constexpr uint32_t CFM_MSGCODE_INPUT_SUCCESS = 0xD0011;
constexpr uint32_t CFM_MSGCODE_OUTPUT_SUCCESS = 0xD0014;
constexpr uint32_t CFM_MSGCODE_SPECIFY_SUCCESS = 0xD0016;
constexpr uint32_t CFM_MSGCODE_DELETE_SUCCESS = 0xD0018;
constexpr char CFM_NAME_SPECIFY_FAIL[] = "/RETURN_CFM_MSGCODE/CFM_MSGCODE_PROFILE_SPECIFY_FAIL";

constexpr uint32_t LINK_TYPE_SSL = 1;
constexpr uint32_t LINK_TYPE_IPSEC = 2;

bool KnownLinkType(uint32_t uiLinkType) {
    return uiLinkType == LINK_TYPE_SSL || uiLinkType == LINK_TYPE_IPSEC;
}

// ---- Byte order ---------------------------------------------------------------------------

// Swapping is its own inverse: the same call puts a field into network order and back.
inline void Swap32(uint32_t* puiValue) { *puiValue = htonl(*puiValue); }

// The entries a count may walk: never more than the array holds.
inline uint32_t Bounded(uint32_t uiCount, uint32_t uiMax) {
    return uiCount < uiMax ? uiCount : uiMax;
}

uint32_t NullRecord() {
    (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR, "[%lu]Input NULL Pointer", UI_LOG_TAG);
    return 1;
}

void SysConfigSwap(CFM_SYSCONFIG_S* p) {
    Swap32(&p->SpareValue);
    Swap32(&p->LanguageID);
    Swap32(&p->ProxyType);
    Swap32(&p->ProxyPort);
}

void SessionSwap(CFM_SESSION_S* p) {
    Swap32(&p->ConnectionType);
    Swap32(&p->RemPwd);
    Swap32(&p->AutoLogin);
}

// Both directions walk the same entries: the count is taken in host order, before the
// swap on the way out and after it on the way in.
void SslProfileSwap(CFM_SSL_PROFILE_S* p, bool toNetwork) {
    const uint32_t hostCount = toNetwork ? p->uiGatewayNum : ntohl(p->uiGatewayNum);
    uint32_t* const fixed[] = {&p->uiLinkType,   &p->uiHeadWord1,      &p->uiHeadWord2,
                               &p->uiGmAlgorithm, &p->uiPort,          &p->uiDelay,
                               &p->uiFlag,        &p->uiTunnelMode,    &p->uiAutoBest,
                               &p->uiGatewayNum,  &p->uiDefaultGateway, &p->uiReserved3,
                               &p->uiReserved5};
    for (uint32_t* field : fixed) {
        Swap32(field);
    }
    const uint32_t entries = Bounded(hostCount, UI_GATEWAY_ENTRY_MAX);
    for (uint32_t i = 0; i < entries; ++i) {
        Swap32(&p->astGateway[i].uiPort);
        Swap32(&p->astGateway[i].uiDelay);
        Swap32(&p->astGateway[i].uiFlag);
    }
}

void IpsecProfileSwap(CFM_IPSEC_PROFILE_S* p, bool toNetwork) {
    const uint32_t hostCount = toNetwork ? p->uiRouteNum : ntohl(p->uiRouteNum);
    uint32_t* const fixed[] = {
        &p->uiLinkType,      &p->uiHeadWord1,     &p->uiIpsecEnable,   &p->uiAuthMethod,
        &p->uiPppAuthMode,   &p->uiTunnelAuth,    &p->uiRouteMode,     &p->uiRouteNum,
        &p->uiUseLnsAddress, &p->uiEncapMode,     &p->uiReserved2,     &p->uiReserved3,
        &p->uiEspAuthAlgo,   &p->uiEspEncryAlgo,  &p->uiIkeAuthAlgo,   &p->uiIkeEncryAlgo,
        &p->uiNegoMode,      &p->uiIdType,        &p->uiDhGroup,       &p->auiReserved4[0],
        &p->auiReserved4[1], &p->auiReserved4[2], &p->auiReserved4[3], &p->uiPfsEnable,
        &p->uiPfsGroup,      &p->uiIkeSaLifetime, &p->uiIpsecSaLifetime};
    for (uint32_t* field : fixed) {
        Swap32(field);
    }
    const uint32_t entries = Bounded(hostCount, UI_IPSEC_ROUTE_MAX);
    for (uint32_t i = 0; i < entries; ++i) {
        Swap32(&p->astRoute[i].uiAddress);
        Swap32(&p->astRoute[i].uiMask);
    }
}

// ---- The steps every configuration request shares --------------------------------------------

// What one request says in its log lines (module UI): "[65535][<op>][<detail>]".
struct CfmTexts {
    const char* pcOperation;
    const char* pcArgs;        // a null argument
    const char* pcStart;       // null: the request logs no start line
    const char* pcNoFd;        // no engine connection
    const char* pcSendFailed;  // the exchange failed
    const char* pcFinish;      // followed by " 0x%x" and the reply's code
};

void LogError(const CfmTexts& t, const char* pcDetail) {
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][%s]", UI_LOG_TAG, t.pcOperation,
                       pcDetail);
}

int32_t ArgsFailed(const CfmTexts& t) {
    LogError(t, t.pcArgs);
    return 1;
}

void LogStart(const CfmTexts& t) {
    if (t.pcStart != nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][%s]", UI_LOG_TAG, t.pcOperation,
                           t.pcStart);
    }
}

// Holds the engine's synchronous connection: 0, or 1 (logged, request ended).
uint32_t Connect(const CfmTexts& t, UiRequest* pstReq) {
    if (UI_Request_Begin(pstReq, MARK_TULM, CONNECT_TYPE_SYNC) != 0) {
        LogError(t, t.pcNoFd);
        UI_Request_End(pstReq);
        return 1;
    }
    return 0;
}

// The packet's payload area, or null (logged, request ended).
uint8_t* Build(const CfmTexts& t, UiRequest* pstReq, uint32_t uiCode, uint32_t uiPayloadLen) {
    if (UI_Request_Build(pstReq, MSG_TYPE_CFM, uiCode, uiPayloadLen) != 0) {
        LogError(t, "malloc failed!");
        UI_Request_End(pstReq);
        return nullptr;
    }
    return pstReq->pucPacket + UI_PACKET_HEAD_LEN;
}

// 0 with the reply, or 1 (logged, request ended).
uint32_t Exchange(const CfmTexts& t, UiRequest* pstReq) {
    if (UI_Request_Exchange(pstReq, UI_SYNC_RECV_TIMEOUT) != 0) {
        LogError(t, t.pcSendFailed);
        UI_Request_End(pstReq);
        return 1;
    }
    return 0;
}

int32_t Finish(const CfmTexts& t, UiRequest* pstReq) {
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][%s 0x%x]", UI_LOG_TAG, t.pcOperation,
                       t.pcFinish, pstReq->stReplyHead.uiMsgCode);
    UI_Request_End(pstReq);
    return 0;
}

// A text's length as a payload length; a text too long for any packet gives a length
// the packet builder refuses.
uint32_t TextLen(const char* pcText) {
    const size_t len = std::strlen(pcText);
    return len > UI_PACKET_PAYLOAD_MAX ? UI_PACKET_PAYLOAD_MAX + 1 : static_cast<uint32_t>(len);
}

// Builds a packet whose payload is a text's bytes without its terminator.
bool BuildText(const CfmTexts& t, UiRequest* pstReq, uint32_t uiCode, const char* pcText) {
    const uint32_t len = TextLen(pcText);
    uint8_t* payload = Build(t, pstReq, uiCode, len);
    if (payload == nullptr) {
        return false;
    }
    std::memcpy(payload, pcText, len);
    return true;
}

bool IndexKnown(uint32_t uiCode) { return (uiCode & 0xFFFF) < UI_CFM_MSGCODE_BOUND; }

// The reply's name (the ERROR fallback from index 30 on).
void NameOf(uint32_t uiCode, char* pcName) {
    UI_MsgCodeName_Get(g_cfmMsgCodeTable, UI_CFM_MSGCODE_BOUND, uiCode, pcName);
}

// The ERROR fallback whatever the code: with bound 0 no index is known.
void NameFallback(uint32_t uiCode, char* pcName) {
    UI_MsgCodeName_Get(g_cfmMsgCodeTable, 0, uiCode, pcName);
}

void NameText(const char* pcText, char* pcName) {
    (void)UI_memcpy_s(pcName, UI_MSGCODE_NAME_SIZE, pcText, std::strlen(pcText) + 1);
}

// Replies whose only outcome is the ok flag and the name.
void PlainReply(const UiRequest* pstReq, uint32_t uiSuccess, char* pcName, uint32_t* puiOk) {
    const uint32_t code = pstReq->stReplyHead.uiMsgCode;
    if (IndexKnown(code) && code == uiSuccess) {
        *puiOk = 1;
    }
    NameOf(code, pcName);
}

// A read's success reply: the record converted into the caller's, ok 1 and the reply's
// name; without the whole record nothing of the caller's changes but the ERROR name.
template <typename Record>
void RecordReply(const UiRequest* pstReq, const CfmTexts& t, uint32_t (*pfnNtoh)(Record*),
                 Record* pstRecord, char* pcName, uint32_t* puiOk) {
    const uint32_t code = pstReq->stReplyHead.uiMsgCode;
    if (UI_Request_RecordGet(pstReq, 0, pstRecord, sizeof(Record), t.pcOperation) != 0) {
        NameFallback(code, pcName);
        return;
    }
    (void)pfnNtoh(pstRecord);
    *puiOk = 1;
    NameOf(code, pcName);
}

const CfmTexts kSysConfigRead = {"Cfm system config read",  "invalid parameter!",
                                 "ui read system config start!", "login connect fd get failed!",
                                 "ui sync send failed!",
                                 "ui read system config finish, message code is"};
const CfmTexts kSysConfigWrite = {"Cfm system config write", "invalid parameter!",
                                  "ui write system config start!", "ui get fd failed!",
                                  "ui sync send failed!",
                                  "ui write system config finish, message code is"};
const CfmTexts kSessionWrite = {"Cfm system config write session", "invalid parameter!",
                                "ui write system config start!", "ui get fd failed!",
                                "ui sync send failed!",
                                "ui write system config finish, message code is"};
const CfmTexts kSessionRead = {"Cfm system config read session", "invalid parameter!",
                               "ui read session start!", "login connect fd get failed!",
                               "ui sync send failed!", "ui read session finish, message code is"};
const CfmTexts kProfileWrite = {"Cfm profile write", "input null pointer", nullptr,
                                "ui get connect fd failed!", "profile wirte failed",
                                "ui write profile finish, message code is"};
const CfmTexts kProfileRead = {"Cfm profile read", "input null Pointer\r\n", nullptr,
                               "ui get connect fd failed!", "profile read failed",
                               "ui read profile finish, meaasge code is"};
const CfmTexts kProfileDelete = {"Cfm profile delete", "input null pointer\r\n", nullptr,
                                 "ui get connect fd failed!", "profile delete failed",
                                 "UI delete profile finish, message code is"};
const CfmTexts kProfileInput = {"Cfm profile input", "input null pointer", nullptr,
                                "ui get connect fd failed!", "profile input failed",
                                "ui input profile finish, message code is"};
const CfmTexts kProfileOutput = {"Cfm profile output", "input null pointer\r\n", nullptr,
                                 "ui get connect fd failed!", "profile output failed",
                                 "ui output profile finish, message code is"};
const CfmTexts kProfileSpecify = {"Cfm profile specify link", "input null pointer", nullptr,
                                  "ui get connect fd failed!", "profile linktype get failed",
                                  "ui get specify profile finish, meaasge code is"};

}  // namespace

// ---- Converters ----------------------------------------------------------------------------------

uint32_t UI_SysConfig_Hton(CFM_SYSCONFIG_S* pstRecord) {
    if (pstRecord == nullptr) {
        return NullRecord();
    }
    SysConfigSwap(pstRecord);
    return 0;
}

uint32_t UI_SysConfig_Ntoh(CFM_SYSCONFIG_S* pstRecord) {
    if (pstRecord == nullptr) {
        return NullRecord();
    }
    SysConfigSwap(pstRecord);
    return 0;
}

uint32_t UI_Session_Hton(CFM_SESSION_S* pstSession) {
    if (pstSession == nullptr) {
        return NullRecord();
    }
    SessionSwap(pstSession);
    return 0;
}

uint32_t UI_Session_Ntoh(CFM_SESSION_S* pstSession) {
    if (pstSession == nullptr) {
        return NullRecord();
    }
    SessionSwap(pstSession);
    return 0;
}

uint32_t UI_SslProfile_Hton(CFM_SSL_PROFILE_S* pstProfile) {
    if (pstProfile == nullptr) {
        return NullRecord();
    }
    SslProfileSwap(pstProfile, true);
    return 0;
}

uint32_t UI_SslProfile_Ntoh(CFM_SSL_PROFILE_S* pstProfile) {
    if (pstProfile == nullptr) {
        return NullRecord();
    }
    SslProfileSwap(pstProfile, false);
    return 0;
}

uint32_t UI_IpsecProfile_Hton(CFM_IPSEC_PROFILE_S* pstProfile) {
    if (pstProfile == nullptr) {
        return NullRecord();
    }
    IpsecProfileSwap(pstProfile, true);
    return 0;
}

uint32_t UI_IpsecProfile_Ntoh(CFM_IPSEC_PROFILE_S* pstProfile) {
    if (pstProfile == nullptr) {
        return NullRecord();
    }
    IpsecProfileSwap(pstProfile, false);
    return 0;
}

// ---- System configuration and sessions --------------------------------------------------------------

int32_t UI_CfmSysConfig_Read(char* pcName, uint32_t* puiOk, CFM_SYSCONFIG_S* pstRecord) {
    const CfmTexts& t = kSysConfigRead;
    if (pcName == nullptr || puiOk == nullptr || pstRecord == nullptr) {
        return ArgsFailed(t);
    }
    *puiOk = 0;
    LogStart(t);
    UiRequest req;
    if (Connect(t, &req) != 0 || Build(t, &req, CFM_CODE_SYSCONFIG_READ, 0) == nullptr ||
        Exchange(t, &req) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (IndexKnown(code) && code == CFM_MSGCODE_SYSCONFIG_READ_SUCCESS) {
        RecordReply(&req, t, UI_SysConfig_Ntoh, pstRecord, pcName, puiOk);
    } else {
        NameOf(code, pcName);
    }
    return Finish(t, &req);
}

int32_t UI_CfmSysConfig_Write(const CFM_SYSCONFIG_S* pstRecord, char* pcName, uint32_t* puiOk) {
    const CfmTexts& t = kSysConfigWrite;
    if (pstRecord == nullptr || pcName == nullptr || puiOk == nullptr) {
        return ArgsFailed(t);
    }
    LogStart(t);
    UiRequest req;
    if (Connect(t, &req) != 0) {
        return 1;
    }
    uint8_t* payload = Build(t, &req, CFM_CODE_SYSCONFIG_WRITE, sizeof(CFM_SYSCONFIG_S));
    if (payload == nullptr) {
        return 1;
    }
    std::memcpy(payload, pstRecord, sizeof(CFM_SYSCONFIG_S));
    (void)UI_SysConfig_Hton(reinterpret_cast<CFM_SYSCONFIG_S*>(payload));
    if (Exchange(t, &req) != 0) {
        return 1;
    }
    PlainReply(&req, CFM_MSGCODE_SYSCONFIG_WRITE_SUCCESS, pcName, puiOk);
    return Finish(t, &req);
}

int32_t UI_CfmSession_Write(const CFM_SESSION_S* pstSession, uint8_t ucFlag, char* pcName,
                            uint32_t* puiOk) {
    (void)ucFlag;
    const CfmTexts& t = kSessionWrite;
    if (pstSession == nullptr || pcName == nullptr || puiOk == nullptr) {
        return ArgsFailed(t);
    }
    LogStart(t);
    UiRequest req;
    if (Connect(t, &req) != 0) {
        return 1;
    }
    uint8_t* payload = Build(t, &req, CFM_CODE_SESSION_WRITE, sizeof(CFM_SESSION_S));
    if (payload == nullptr) {
        return 1;
    }
    std::memcpy(payload, pstSession, sizeof(CFM_SESSION_S));
    (void)UI_Session_Hton(reinterpret_cast<CFM_SESSION_S*>(payload));
    if (Exchange(t, &req) != 0) {
        return 1;
    }
    PlainReply(&req, CFM_MSGCODE_SESSION_WRITE_SUCCESS, pcName, puiOk);
    return Finish(t, &req);
}

// The profile name is read as well as the outputs written: a null one is refused with
// the rest.
int32_t UI_CfmSession_Read(const char* pcProfileName, char* pcName, uint32_t* puiOk,
                           CFM_SESSION_S* pstSession) {
    const CfmTexts& t = kSessionRead;
    if (pcProfileName == nullptr || pcName == nullptr || puiOk == nullptr ||
        pstSession == nullptr) {
        return ArgsFailed(t);
    }
    *puiOk = 0;
    LogStart(t);
    UiRequest req;
    if (Connect(t, &req) != 0 || !BuildText(t, &req, CFM_CODE_SESSION_READ, pcProfileName) ||
        Exchange(t, &req) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (IndexKnown(code) && code == CFM_MSGCODE_SESSION_READ_SUCCESS) {
        RecordReply(&req, t, UI_Session_Ntoh, pstSession, pcName, puiOk);
    } else {
        NameOf(code, pcName);
    }
    return Finish(t, &req);
}

// ---- Profiles -----------------------------------------------------------------------------------------

int32_t UI_CfmProfile_Write(const char* pcProfileName, uint32_t uiLinkType, const void* pRecord,
                            char* pcName, uint32_t* puiOk) {
    const CfmTexts& t = kProfileWrite;
    if (pcProfileName == nullptr || pRecord == nullptr || pcName == nullptr || puiOk == nullptr) {
        return ArgsFailed(t);
    }
    UiRequest req;
    if (Connect(t, &req) != 0) {
        return 1;
    }
    if (!KnownLinkType(uiLinkType)) {
        LogError(t, "profile type is invalid");
        UI_Request_End(&req);
        return 1;
    }
    const bool ssl = uiLinkType == LINK_TYPE_SSL;
    const uint32_t recordSize = ssl ? sizeof(CFM_SSL_PROFILE_S) : sizeof(CFM_IPSEC_PROFILE_S);
    const uint32_t nameLen = TextLen(pcProfileName);
    const uint32_t payloadLen =
        nameLen > UI_PACKET_PAYLOAD_MAX ? UI_PACKET_PAYLOAD_MAX + 1 : recordSize + nameLen;
    uint8_t* payload =
        Build(t, &req, ssl ? CFM_CODE_SSL_WRITE : CFM_CODE_IPSEC_WRITE, payloadLen);
    if (payload == nullptr) {
        return 1;
    }
    std::memcpy(payload, pRecord, recordSize);
    if (ssl) {
        (void)UI_SslProfile_Hton(reinterpret_cast<CFM_SSL_PROFILE_S*>(payload));
    } else {
        (void)UI_IpsecProfile_Hton(reinterpret_cast<CFM_IPSEC_PROFILE_S*>(payload));
    }
    std::memcpy(payload + recordSize, pcProfileName, nameLen);
    if (Exchange(t, &req) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (IndexKnown(code) &&
        (code == CFM_MSGCODE_SSL_WRITE_SUCCESS || code == CFM_MSGCODE_IPSEC_WRITE_SUCCESS)) {
        *puiOk = 1;
    }
    NameOf(code, pcName);
    return Finish(t, &req);
}

// A failure reply may carry the service's copy of the record as well: it is handed on
// whole, like a success. A success reply without its record is no success.
int32_t UI_CfmProfile_Read(const char* pcProfileName, uint32_t uiLinkType, void* pRecord,
                           char* pcName, uint32_t* puiOk) {
    const CfmTexts& t = kProfileRead;
    if (pcProfileName == nullptr || pRecord == nullptr || pcName == nullptr || puiOk == nullptr) {
        return ArgsFailed(t);
    }
    UiRequest req;
    if (Connect(t, &req) != 0) {
        return 1;
    }
    if (!KnownLinkType(uiLinkType)) {
        LogError(t, "profile type is invalid\r\n");
        UI_Request_End(&req);
        return 1;
    }
    const bool ssl = uiLinkType == LINK_TYPE_SSL;
    if (!BuildText(t, &req, ssl ? CFM_CODE_SSL_READ : CFM_CODE_IPSEC_READ, pcProfileName) ||
        Exchange(t, &req) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (!IndexKnown(code)) {
        NameFallback(code, pcName);
        return Finish(t, &req);
    }
    const bool success = code == CFM_MSGCODE_SSL_READ_SUCCESS || code == CFM_MSGCODE_IPSEC_READ_SUCCESS;
    if (ssl) {
        CFM_SSL_PROFILE_S* record = static_cast<CFM_SSL_PROFILE_S*>(pRecord);
        if (success) {
            RecordReply(&req, t, UI_SslProfile_Ntoh, record, pcName, puiOk);
            return Finish(t, &req);
        }
        if (UI_Request_ReplyPayloadLen(&req) != 0 &&
            UI_Request_RecordGet(&req, 0, record, sizeof(*record), t.pcOperation) == 0) {
            (void)UI_SslProfile_Ntoh(record);
        }
    } else {
        CFM_IPSEC_PROFILE_S* record = static_cast<CFM_IPSEC_PROFILE_S*>(pRecord);
        if (success) {
            RecordReply(&req, t, UI_IpsecProfile_Ntoh, record, pcName, puiOk);
            return Finish(t, &req);
        }
        if (UI_Request_ReplyPayloadLen(&req) != 0 &&
            UI_Request_RecordGet(&req, 0, record, sizeof(*record), t.pcOperation) == 0) {
            (void)UI_IpsecProfile_Ntoh(record);
        }
    }
    NameOf(code, pcName);
    return Finish(t, &req);
}

int32_t UI_CfmProfile_Delete(const char* pcProfileName, char* pcName, uint32_t* puiOk) {
    const CfmTexts& t = kProfileDelete;
    if (pcProfileName == nullptr || pcName == nullptr || puiOk == nullptr) {
        return ArgsFailed(t);
    }
    UiRequest req;
    if (Connect(t, &req) != 0 || !BuildText(t, &req, CFM_CODE_PROFILE_DELETE, pcProfileName) ||
        Exchange(t, &req) != 0) {
        return 1;
    }
    PlainReply(&req, CFM_MSGCODE_DELETE_SUCCESS, pcName, puiOk);
    return Finish(t, &req);
}

// The link type is written as well: a null one is refused with the other arguments.
int32_t UI_CfmProfile_Input(const char* pcFilePath, uint32_t* puiLinkType, char* pcName,
                            uint32_t* puiOk) {
    const CfmTexts& t = kProfileInput;
    if (pcFilePath == nullptr || puiLinkType == nullptr || pcName == nullptr || puiOk == nullptr) {
        return ArgsFailed(t);
    }
    UiRequest req;
    if (Connect(t, &req) != 0 || !BuildText(t, &req, CFM_CODE_PROFILE_INPUT, pcFilePath) ||
        Exchange(t, &req) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (IndexKnown(code) && code == CFM_MSGCODE_INPUT_SUCCESS) {
        uint32_t linkType = 0;
        if (UI_Request_U32Get(&req, 0, &linkType, t.pcOperation) != 0) {
            NameFallback(code, pcName);
            return Finish(t, &req);
        }
        *puiLinkType = linkType;
        if (KnownLinkType(linkType)) {
            *puiOk = 1;
        }
    }
    NameOf(code, pcName);
    return Finish(t, &req);
}

int32_t UI_CfmProfile_Output(const char* pcOutputPath, const char* pcProfileName, char* pcName,
                             uint32_t* puiOk) {
    const CfmTexts& t = kProfileOutput;
    if (pcOutputPath == nullptr || pcProfileName == nullptr || pcName == nullptr ||
        puiOk == nullptr) {
        return ArgsFailed(t);
    }
    UiRequest req;
    if (Connect(t, &req) != 0) {
        return 1;
    }
    uint8_t* payload = Build(t, &req, CFM_CODE_PROFILE_OUTPUT, sizeof(ProfileOutputInfo));
    if (payload == nullptr) {
        return 1;
    }
    // The packet is cleared: each field keeps at least its last byte zero.
    ProfileOutputInfo* info = reinterpret_cast<ProfileOutputInfo*>(payload);
    std::memcpy(info->acProfileName, pcProfileName,
                strnlen(pcProfileName, sizeof(info->acProfileName) - 1));
    std::memcpy(info->acOutputPath, pcOutputPath,
                strnlen(pcOutputPath, sizeof(info->acOutputPath) - 1));
    if (Exchange(t, &req) != 0) {
        return 1;
    }
    PlainReply(&req, CFM_MSGCODE_OUTPUT_SUCCESS, pcName, puiOk);
    return Finish(t, &req);
}

// The reply carries a link type for every code; only 1 or 2 names the reply as it is.
int32_t UI_CfmProfile_SpecifyLink(const char* pcProfileName, uint32_t* puiLinkType, char* pcName,
                                  uint32_t* puiOk) {
    const CfmTexts& t = kProfileSpecify;
    if (pcProfileName == nullptr || puiLinkType == nullptr || pcName == nullptr ||
        puiOk == nullptr) {
        return ArgsFailed(t);
    }
    UiRequest req;
    if (Connect(t, &req) != 0 ||
        !BuildText(t, &req, CFM_CODE_PROFILE_SPECIFY, pcProfileName) || Exchange(t, &req) != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (!IndexKnown(code)) {
        NameFallback(code, pcName);
        return Finish(t, &req);
    }
    // A head-only failure reply carries no type and is no fault of the reply; a
    // success reply without one is logged as too short.
    uint32_t linkType = 0;
    const bool haveType =
        (code == CFM_MSGCODE_SPECIFY_SUCCESS || UI_Request_ReplyPayloadLen(&req) != 0) &&
        UI_Request_U32Get(&req, 0, &linkType, t.pcOperation) == 0;
    if (haveType) {
        *puiLinkType = linkType;
    }
    if (haveType && KnownLinkType(linkType)) {
        if (code == CFM_MSGCODE_SPECIFY_SUCCESS) {
            *puiOk = 1;
        }
        NameOf(code, pcName);
    } else {
        NameText(CFM_NAME_SPECIFY_FAIL, pcName);
    }
    return Finish(t, &req);
}
