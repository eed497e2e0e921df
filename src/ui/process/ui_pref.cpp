// Site preference, gateway list, link selection, and tunnel start and stop.

#include "ui_pref.h"

#include <arpa/inet.h>

#include <cstring>

#include "ui_common.h"
#include "ui_packet.h"
#include "ui_request.h"

namespace {

// Request codes.
constexpr uint32_t PREF_CODE_SITE_PREF = 4;
constexpr uint32_t PREF_CODE_LINK_SELECT = 17;
constexpr uint32_t PREF_CODE_ALL_SITE = 18;
constexpr uint32_t CNEM_CODE_START = 10;
constexpr uint32_t CNEM_CODE_STOP = 19;

// Replies.
constexpr uint32_t PREF_MSGCODE_FIRSTCONN_SUCCESS = 0x10000;
constexpr uint32_t PREF_MSGCODE_SITE_SUCCESS = 0x10002;
constexpr uint32_t PREF_MSGCODE_LINKSEL_SUCCESS = 0x10004;
constexpr uint32_t PREF_MSGCODE_LINKSEL_FAIL = 0x10005;
constexpr uint32_t PREF_MSGCODE_PROXY_AUTH_FAILED = 0x1000B;
constexpr uint32_t PREF_MSGCODE_PROXY_NEED_AUTH_ERROR = 0x1000C;
constexpr uint32_t PREF_MSGCODE_PROXY_CONNECT_ERROR = 0x1000D;
constexpr uint32_t CNEM_MSGCODE_START_SUCCESS = 0x70000;
constexpr uint32_t CNEM_MSGCODE_STOP_SUCCESS = 0x70003;
constexpr uint32_t CNEM_MSGCODE_STOP_FAIL = 0x70004;

void Log(uint32_t uiLevel, const char* pcOperation, const char* pcDetail) {
    (void)DDM_LogWrite(UI_LOG_UI, uiLevel, "[%lu][%s][%s]", UI_LOG_TAG, pcOperation, pcDetail);
}

bool PrefIndexKnown(uint32_t uiCode) { return (uiCode & 0xFFFF) < UI_PREF_MSGCODE_BOUND; }
bool CnemIndexKnown(uint32_t uiCode) { return (uiCode & 0xFFFF) < UI_CNEM_MSGCODE_BOUND; }

void PrefName(uint32_t uiCode, char* pcName) {
    UI_MsgCodeName_Get(g_prefMsgCodeTable, UI_PREF_MSGCODE_BOUND, uiCode, pcName);
}

void CnemName(uint32_t uiCode, char* pcName) {
    UI_MsgCodeName_Get(g_cnemMsgCodeTable, UI_CNEM_MSGCODE_BOUND, uiCode, pcName);
}

// The ERROR fallback whatever the code: with bound 0 no index is known.
void NameFallback(uint32_t uiCode, char* pcName) {
    UI_MsgCodeName_Get(g_prefMsgCodeTable, 0, uiCode, pcName);
}

// Holds the engine's synchronous connection and builds the packet: the payload area
// (the head's end for a head-only packet), or null with the failure logged and the
// request ended.
uint8_t* Open(UiRequest* pstReq, const char* pcOperation, const char* pcNoFd, uint32_t uiMsgType,
              uint32_t uiCode, uint32_t uiPayloadLen) {
    if (UI_Request_Begin(pstReq, MARK_TULM, CONNECT_TYPE_SYNC) != 0) {
        Log(DDM_LOG_ERROR, pcOperation, pcNoFd);
        UI_Request_End(pstReq);
        return nullptr;
    }
    if (UI_Request_Build(pstReq, uiMsgType, uiCode, uiPayloadLen) != 0) {
        Log(DDM_LOG_ERROR, pcOperation, "malloc failed!");
        UI_Request_End(pstReq);
        return nullptr;
    }
    return pstReq->pucPacket + UI_PACKET_HEAD_LEN;
}

// 0 with the reply, or 1 with the failure logged and the request ended.
uint32_t Exchange(UiRequest* pstReq, const char* pcOperation, const char* pcSendFailed) {
    if (UI_Request_Exchange(pstReq, UI_SYNC_RECV_TIMEOUT) != 0) {
        Log(DDM_LOG_ERROR, pcOperation, pcSendFailed);
        UI_Request_End(pstReq);
        return 1;
    }
    return 0;
}

// Copies a text of a reply into its field when it ends within the field; a text that
// fills the field to its last byte is no text, and the field stays empty. Nothing is
// read beyond the source field.
void ReplyText(char* pcDest, const char* pcSrc, size_t width) {
    const size_t len = strnlen(pcSrc, width);
    std::memset(pcDest, 0, width);
    if (len < width) {
        std::memcpy(pcDest, pcSrc, len);
    }
}

uint32_t SitePrefResultOf(uint32_t uiCode) {
    switch (uiCode) {
    case PREF_MSGCODE_FIRSTCONN_SUCCESS: return SITE_PREF_RESULT_SUCCESS;
    case PREF_MSGCODE_PROXY_AUTH_FAILED: return SITE_PREF_RESULT_PROXY_AUTH_FAILED;
    case PREF_MSGCODE_PROXY_NEED_AUTH_ERROR: return SITE_PREF_RESULT_PROXY_NEED_AUTH;
    case PREF_MSGCODE_PROXY_CONNECT_ERROR: return SITE_PREF_RESULT_PROXY_CONNECT_ERROR;
    default: return SITE_PREF_RESULT_OTHER;
    }
}

// A field of a received text for a log line: never read beyond its width.
constexpr int kAddressWidth = static_cast<int>(sizeof(UIGATEWAY_INFO_S::acAddress));

}  // namespace

// Every pointer the request writes is checked with the two records: the result and the
// name too.
int32_t UI_SitePref_Process(const UISSL_FIRST_CONN* pstRequest, UIFIRST_CONNECT_CONF_S* pstReply,
                            char* pcName, uint32_t* puiResult) {
    static const char kOp[] = "Process site pref";
    if (pstRequest == nullptr || pstReply == nullptr || pcName == nullptr ||
        puiResult == nullptr) {
        Log(DDM_LOG_ERROR, kOp, "invalid parameter!");
        return 1;
    }
    Log(DDM_LOG_INFO, kOp, "vanTrelo first connect start!");
    UiRequest req;
    uint8_t* payload = Open(&req, kOp, "ui get connect fd failed!", MSG_TYPE_PREF,
                            PREF_CODE_SITE_PREF, sizeof(UISSL_FIRST_CONN));
    if (payload == nullptr) {
        return 1;
    }
    std::memcpy(payload, pstRequest, sizeof(UISSL_FIRST_CONN));
    if (Exchange(&req, kOp, "pub packet sync send failed!") != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (!PrefIndexKnown(code)) {
        NameFallback(code, pcName);
        UI_Request_End(&req);
        return 0;
    }
    uint32_t result = SitePrefResultOf(code);
    UIFIRST_CONNECT_CONF_S wire;
    if (result == SITE_PREF_RESULT_SUCCESS &&
        UI_Request_RecordGet(&req, 0, &wire, sizeof(wire), kOp) != 0) {
        result = SITE_PREF_RESULT_OTHER;
        NameFallback(code, pcName);
    } else {
        PrefName(code, pcName);
    }
    *puiResult = result;
    if (result != SITE_PREF_RESULT_SUCCESS) {
        UI_Request_End(&req);
        return 0;
    }
    pstReply->uiAuthType = ntohl(wire.uiAuthType);
    pstReply->uiVerification = ntohl(wire.uiVerification);
    pstReply->uiVersionMS = ntohl(wire.uiVersionMS);
    pstReply->uiVersionLS = ntohl(wire.uiVersionLS);
    UIGATEWAY_INFO_S* best = &pstReply->stBestGateway;
    ReplyText(best->acAddress, wire.stBestGateway.acAddress, sizeof(best->acAddress));
    best->uiPort = ntohl(wire.stBestGateway.uiPort);
    best->uiDelay = ntohl(wire.stBestGateway.uiDelay);
    best->uiFlag = ntohl(wire.stBestGateway.uiFlag);
    ReplyText(pstReply->acPackage, wire.acPackage, sizeof(pstReply->acPackage));

    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][site pref return info ------------]",
                       UI_LOG_TAG, kOp);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][cauth type is %d]", UI_LOG_TAG, kOp,
                       static_cast<int>(pstReply->uiAuthType));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][verification is %d]", UI_LOG_TAG, kOp,
                       static_cast<int>(pstReply->uiVerification));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][version LS is %d]", UI_LOG_TAG, kOp,
                       static_cast<int>(pstReply->uiVersionLS));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][version Ms is %d]", UI_LOG_TAG, kOp,
                       static_cast<int>(pstReply->uiVersionMS));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][best gateway ip is %s]", UI_LOG_TAG,
                       kOp, best->acAddress);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][best gateway port is %d]", UI_LOG_TAG,
                       kOp, static_cast<int>(best->uiPort));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][best gateway delay is %d]",
                       UI_LOG_TAG, kOp, static_cast<int>(best->uiDelay));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][best gateway flag is %d]", UI_LOG_TAG,
                       kOp, static_cast<int>(best->uiFlag));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo first connect finish, message code is 0x%x]",
                       UI_LOG_TAG, kOp, code);
    UI_Request_End(&req);
    return 0;
}

// The list is written as well as the name and the code: a null one is refused with them.
int32_t UI_AllSiteInfo_Get(char* pcName, uint32_t* puiCode,
                           UIGATEWAY_INFO_S pstSites[UI_GATEWAY_ENTRY_MAX]) {
    static const char kOp[] = "Process get all site info";
    if (pcName == nullptr || puiCode == nullptr || pstSites == nullptr) {
        Log(DDM_LOG_ERROR, kOp, "get all site info failed][Reason:Invalid Paramtar");
        return 1;
    }
    UiRequest req;
    if (Open(&req, kOp, "ui get connect fd failed", MSG_TYPE_PREF, PREF_CODE_ALL_SITE, 0) ==
            nullptr ||
        Exchange(&req, kOp, "pub packet sync send failed!") != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    const bool success = PrefIndexKnown(code) && code == PREF_MSGCODE_SITE_SUCCESS;
    // The list is taken whatever the code; a head-only failure reply simply has none.
    const uint32_t listSize = sizeof(UIGATEWAY_INFO_S) * UI_GATEWAY_ENTRY_MAX;
    const bool haveList = (success || UI_Request_ReplyPayloadLen(&req) != 0) &&
                          UI_Request_RecordGet(&req, 0, pstSites, listSize, kOp) == 0;
    if (!PrefIndexKnown(code) || (success && !haveList)) {
        NameFallback(code, pcName);
    } else {
        if (success) {
            *puiCode = code;
        }
        PrefName(code, pcName);
    }
    if (haveList) {
        for (int i = 0; i < UI_GATEWAY_ENTRY_MAX; ++i) {
            const UIGATEWAY_INFO_S& site = pstSites[i];
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][[%d]:ip is %.*s]", UI_LOG_TAG,
                               kOp, i, kAddressWidth, site.acAddress);
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][[%d]:port is %d]", UI_LOG_TAG,
                               kOp, i, static_cast<int>(site.uiPort));
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][[%d]:delay is %d]",
                               UI_LOG_TAG, kOp, i, static_cast<int>(site.uiDelay));
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][[%d]:flag is %d]", UI_LOG_TAG,
                               kOp, i, static_cast<int>(site.uiFlag));
        }
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo get sll site info finish, message code is 0x%x]",
                       UI_LOG_TAG, kOp, code);
    UI_Request_End(&req);
    return 0;
}

// The ok flag and the name are written as well as the reply: null ones are refused with
// the two records.
int32_t UI_SslLink_Select(const LinkSelectInfo* pstRequest, char* pcName, uint32_t* puiOk,
                          LinkSelectInfo* pstReply) {
    static const char kOp[] = "Process ssl link select";
    if (pstRequest == nullptr || pstReply == nullptr || pcName == nullptr || puiOk == nullptr) {
        Log(DDM_LOG_ERROR, kOp, "invalid parameter!");
        return 1;
    }
    Log(DDM_LOG_INFO, kOp, "vanTrelo link select start!");
    UiRequest req;
    uint8_t* payload = Open(&req, kOp, "login connect fd get failed!", MSG_TYPE_PREF,
                            PREF_CODE_LINK_SELECT, sizeof(LinkSelectInfo));
    if (payload == nullptr) {
        return 1;
    }
    std::memcpy(payload, pstRequest, sizeof(LinkSelectInfo));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG,
                       "[%lu][%s][ui ssl linkSelect to TULM info][enable is %d]", UI_LOG_TAG, kOp,
                       static_cast<int>(pstRequest->uiEnable));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG,
                       "[%lu][%s][ui ssl linkSelect to TULM info][ip is %.*s]", UI_LOG_TAG, kOp,
                       kAddressWidth, pstRequest->acIp);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG,
                       "[%lu][%s][ui ssl linkSelect to TULM info][port is %d]", UI_LOG_TAG, kOp,
                       static_cast<int>(pstRequest->uiPort));
    if (Exchange(&req, kOp, "vanTrelo ssl link select packet send failed!") != 0) {
        return 1;
    }
    LinkSelectInfo wire;
    if (UI_Request_ReplyPayloadLen(&req) != 0 &&
        UI_Request_RecordGet(&req, 0, &wire, sizeof(wire), kOp) == 0) {
        *pstReply = wire;
        pstReply->uiEnable = ntohl(wire.uiEnable);
        pstReply->uiPort = ntohl(wire.uiPort);
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG,
                           "[%lu][%s][ui ssl linkSelect get info------------]", UI_LOG_TAG, kOp);
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][ui ssl linkSelect result is %d]",
                           UI_LOG_TAG, kOp, static_cast<int>(pstReply->uiEnable));
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][ui ssl linkSelect ip is %.*s]",
                           UI_LOG_TAG, kOp, kAddressWidth, pstReply->acIp);
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_DEBUG, "[%lu][%s][ui ssl linkSelect port is %d]",
                           UI_LOG_TAG, kOp, static_cast<int>(pstReply->uiPort));
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo get linkSel result][message code is 0x%x]", UI_LOG_TAG,
                       kOp, code);
    if (!PrefIndexKnown(code)) {
        NameFallback(code, pcName);
    } else {
        if (code == PREF_MSGCODE_LINKSEL_SUCCESS) {
            *puiOk = 1;
        } else if (code == PREF_MSGCODE_LINKSEL_FAIL) {
            Log(DDM_LOG_ERROR, kOp, "pref link select failed");
            *puiOk = 0;
        }
        PrefName(code, pcName);
    }
    UI_Request_End(&req);
    return 0;
}

int32_t UI_SslCnem_Start(uint32_t uiTunnelMode, char* pcName, uint32_t* puiOk) {
    static const char kOp[] = "Process ssl cnem start";
    if (pcName == nullptr || puiOk == nullptr) {
        Log(DDM_LOG_ERROR, kOp, "invalid parameter!");
        return 1;
    }
    Log(DDM_LOG_INFO, kOp, "vanTrelo ssl cnem start!");
    UiRequest req;
    uint8_t* payload = Open(&req, kOp, "ui get connect fd failed!", MSG_TYPE_CNEM,
                            CNEM_CODE_START, sizeof(uint32_t));
    if (payload == nullptr) {
        return 1;
    }
    const uint32_t wireMode = htonl(uiTunnelMode);
    std::memcpy(payload, &wireMode, sizeof(wireMode));
    if (Exchange(&req, kOp, "ui start cnem failed!") != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (CnemIndexKnown(code) && code == CNEM_MSGCODE_START_SUCCESS) {
        *puiOk = 1;
    }
    CnemName(code, pcName);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo ssl cnem finish][message code is 0x%x]", UI_LOG_TAG,
                       kOp, code);
    UI_Request_End(&req);
    return 0;
}

int32_t UI_SslCnem_Stop(char* pcName, uint32_t* puiOk) {
    static const char kOp[] = "Process ssl stop cnem";
    if (pcName == nullptr || puiOk == nullptr) {
        Log(DDM_LOG_ERROR, kOp, "invalid parameter!");
        return 1;
    }
    Log(DDM_LOG_INFO, kOp, "vanTrelo ssl stop cnem start!");
    UiRequest req;
    if (Open(&req, kOp, "ui get connect fd failed!", MSG_TYPE_CNEM, CNEM_CODE_STOP, 0) ==
            nullptr ||
        Exchange(&req, kOp, "ui ssl sync send failed!") != 0) {
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if (CnemIndexKnown(code)) {
        if (code == CNEM_MSGCODE_STOP_SUCCESS) {
            *puiOk = 1;
        } else if (code == CNEM_MSGCODE_STOP_FAIL) {
            *puiOk = 0;
        }
    }
    CnemName(code, pcName);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo ssl stop cnem finish][message code is 0x%x]",
                       UI_LOG_TAG, kOp, code);
    UI_Request_End(&req);
    return 0;
}
