// The L2TP/IPSec login and logout on the engine's synchronous connection. The login is
// sent without waiting: the engine answers it with a series of status reports, one per
// step of building the connection, which the login view reads one at a time.

#include "ui_ipsec.h"

#include <cstring>

#include "jqr_mem.h"
#include "ui_auth_inner.h"
#include "ui_common.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_request.h"

namespace {

constexpr uint32_t IPSEC_CODE_LOGIN = 5;
constexpr uint32_t IPSEC_CODE_LOGOUT = 8;
constexpr uint32_t MSGCODE_LOGOUT_SUCCESS = 0xA0000;

// Status indexes of the IPSec module: a step gone well (the next report is awaited),
// and the connection up.
constexpr uint32_t kIpsecGoodSteps[] = {0, 6, 8, 11, 22, 34, 41};
constexpr uint32_t IPSEC_INDEX_CONNECT_SUCCESS = 47;

const char kLoginOp[] = "Process ipsec login";
const char kRecvOp[] = "Process ipsec login recvive";

const UiRequestTexts kLogoutTexts = {"Process ipsec logout", "ui get connect fd failed!",
                                     "malloc failed!", "ui ipsec sync send failed!"};

void LogDetail(uint32_t uiLevel, const char* pcOperation, const char* pcDetail) {
    (void)DDM_LogWrite(UI_LOG_UI, uiLevel, "[%lu][%s][%s]", UI_LOG_TAG, pcOperation, pcDetail);
}

bool GoodStep(uint32_t uiIndex) {
    for (uint32_t step : kIpsecGoodSteps) {
        if (step == uiIndex) {
            return true;
        }
    }
    return false;
}

}  // namespace

uint32_t UI_IpsecLogin_Process(const UI_IPSEC_LOGIN_S* pstLogin) {
    if (pstLogin == nullptr) {
        LogDetail(DDM_LOG_ERROR, kLoginOp, "invalid parameter!");
        return 1;
    }
    LogDetail(DDM_LOG_INFO, kLoginOp, "vanTrelo ipsec login start!");
    UiRequest req;
    if (UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC) != 0) {
        LogDetail(DDM_LOG_ERROR, kLoginOp, "login connect fd get failed!");
        UI_Request_End(&req);
        return 1;
    }
    if (UI_Request_Build(&req, MSG_TYPE_IPSEC, IPSEC_CODE_LOGIN, sizeof(*pstLogin)) != 0) {
        LogDetail(DDM_LOG_ERROR, kLoginOp, "malloc failed!");
        UI_Request_End(&req);
        return 1;
    }
    std::memcpy(req.pucPacket + UI_PACKET_HEAD_LEN, pstLogin, sizeof(*pstLogin));
    // The reports that answer this login are read outside any exchange, so a reply that
    // came too late for an earlier request must go first: it would be read as the first
    // report and end the login.
    const uint32_t late = uiSocketDrain(req.iFd);
    if (late != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN, "[%lu][%s][discard %u late bytes, fd is %d]",
                           UI_LOG_TAG, kLoginOp, late, req.iFd);
    }
    // The plain send hands over every byte or fails; nothing is read back here.
    const int32_t sent = UI_Packet_Send(req.iFd, req.pucPacket, req.uiPacketLen);
    UI_Request_End(&req);
    if (sent < 0) {
        return 1;
    }
    LogDetail(DDM_LOG_INFO, kLoginOp, "vanTrelo ipsec login send finish!");
    return 0;
}

uint32_t UI_IpsecLogin_Recv(char* pcMsgCodeName, uint32_t* puiGoOn, uint32_t* puiConnected) {
    if (pcMsgCodeName == nullptr || puiGoOn == nullptr || puiConnected == nullptr) {
        LogDetail(DDM_LOG_ERROR, kRecvOp, "invalid parameter!");
        return 1;
    }
    *puiConnected = 0;
    UiRequest req;
    if (UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC) != 0) {
        LogDetail(DDM_LOG_ERROR, kRecvOp, "login connect fd get failed!");
        UI_Request_End(&req);
        return 1;
    }
    // The whole report must come within the request time-out, however the engine
    // splits it; the socket's time-out is cleared again on the way out.
    const int64_t deadline = uiMonotonicMs() + uiSyncTimeoutScaled(UI_SYNC_RECV_TIMEOUT);
    uint8_t* packet = nullptr;
    if (uiPacketRecvUntil(req.iFd, &packet, deadline) < 0) {
        LogDetail(DDM_LOG_ERROR, kRecvOp, "ui recv packet failed!");
        UI_Request_End(&req);
        return 1;
    }
    PacketHead head;
    uiPacketHeadRead(packet, &head);
    (void)UKO_Free(packet);
    const uint32_t code = head.uiMsgCode;
    if ((code >> 16) != MSGCODE_MODULE_IPSEC) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][%s][ui receive error message type][0x%x]", UI_LOG_TAG, kRecvOp,
                           code >> 16);
        UI_Request_End(&req);
        return 1;
    }
    const uint32_t index = code & 0xFFFF;
    if (index < UI_IPSEC_MSGCODE_BOUND) {
        if (index == IPSEC_INDEX_CONNECT_SUCCESS) {
            *puiConnected = 1;
            *puiGoOn = 1;
        } else {
            *puiGoOn = GoodStep(index) ? 1 : 0;
        }
    }
    UI_MsgCodeName_Get(g_ipsecMsgCodeTable, UI_IPSEC_MSGCODE_BOUND, code, pcMsgCodeName);
    UI_Request_End(&req);
    return 0;
}

uint32_t UI_IpsecLogout_Process(char* pcMsgCodeName, uint32_t* puiOk) {
    const char* op = kLogoutTexts.pcOperation;
    if (pcMsgCodeName == nullptr || puiOk == nullptr) {
        LogDetail(DDM_LOG_ERROR, op, "invalid parameter!");
        return 1;
    }
    LogDetail(DDM_LOG_INFO, op, "vanTrelo ipsec logout start!");
    // One budget for the exchange and every read after it.
    const int64_t deadline = uiMonotonicMs() + uiSyncTimeoutScaled(UI_SYNC_RECV_TIMEOUT);
    UiRequest req;
    if (uiEngineRequest(&req, MSG_TYPE_IPSEC, IPSEC_CODE_LOGOUT, nullptr, 0, 0,
                        UI_SYNC_RECV_TIMEOUT, &kLogoutTexts) != 0) {
        return 1;
    }
    if (uiLogoutReplyAwait(&req, deadline, op, "ipsec logout receive message code is ") != 0) {
        LogDetail(DDM_LOG_ERROR, op, "ui ipsec recv failed!");
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
                       "[%lu][%s][vanTrelo ipsec logout finish][message code is 0x%x]", UI_LOG_TAG,
                       op, code);
    UI_SocketClear(req.iFd);
    UI_Request_End(&req);
    return 0;
}
