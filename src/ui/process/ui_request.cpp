// The steps every request to the service shares.

#include "ui_request.h"

#include <arpa/inet.h>

#include <cstring>

#include "jqr_mem.h"
#include "ui_common.h"
#include "ui_connect_inner.h"
#include "ui_packet_inner.h"

uint32_t UI_Request_Begin(UiRequest* pstReq, uint32_t uiDestMark, uint32_t uiConnType) {
    if (pstReq == nullptr) {
        return 1;
    }
    std::memset(pstReq, 0, sizeof(*pstReq));
    pstReq->uiDestMark = uiDestMark;
    pstReq->uiConnType = uiConnType;
    pstReq->iFd = UI_ConnectFd_Hold(uiDestMark, uiConnType);
    return pstReq->iFd < 0 ? 1 : 0;
}

uint32_t UI_Request_Build(UiRequest* pstReq, uint32_t uiMsgType, uint32_t uiMsgCode,
                          uint32_t uiPayloadLen) {
    if (pstReq == nullptr || pstReq->pucPacket != nullptr ||
        uiPayloadLen > UI_PACKET_PAYLOAD_MAX) {
        return 1;
    }
    const uint32_t len = UI_PACKET_HEAD_LEN + uiPayloadLen;
    uint8_t* packet = static_cast<uint8_t*>(UKO_Malloc(UI_MEM_ID, len + 1));
    if (packet == nullptr) {
        return 1;
    }
    std::memset(packet, 0, len + 1);
    (void)UI_PacketHead_Set(reinterpret_cast<PacketHead*>(packet), MARK_UI, pstReq->uiDestMark,
                            pstReq->uiConnType, uiMsgType, uiMsgCode, len);
    pstReq->pucPacket = packet;
    pstReq->uiPacketLen = len;
    return 0;
}

uint32_t UI_Request_Exchange(UiRequest* pstReq, uint32_t uiTimeoutMs) {
    if (pstReq == nullptr || pstReq->iFd < 0 || pstReq->pucPacket == nullptr ||
        pstReq->pucReply != nullptr) {
        return 1;
    }
    if (UI_Packet_SyncSend(pstReq->iFd, pstReq->pucPacket, pstReq->uiPacketLen,
                           &pstReq->pucReply, &pstReq->uiReplyLen, uiTimeoutMs) != 0) {
        pstReq->pucReply = nullptr;
        pstReq->uiReplyLen = 0;
        return 1;
    }
    uiPacketHeadRead(pstReq->pucReply, &pstReq->stReplyHead);
    return 0;
}

uint32_t UI_Request_ReplyPayloadLen(const UiRequest* pstReq) {
    if (pstReq == nullptr || pstReq->pucReply == nullptr) {
        return 0;
    }
    return pstReq->uiReplyLen - UI_PACKET_HEAD_LEN;
}

uint32_t UI_Request_RecordGet(const UiRequest* pstReq, uint32_t uiOffset, void* pDest,
                              uint32_t uiSize, const char* pcOperation) {
    if (pstReq == nullptr || pDest == nullptr) {
        return 1;
    }
    const uint64_t have = UI_Request_ReplyPayloadLen(pstReq);
    if (pstReq->pucReply == nullptr || static_cast<uint64_t>(uiOffset) + uiSize > have) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN,
                           "[%lu][%s][reply too short, %llu bytes for %u at %u]", UI_LOG_TAG,
                           pcOperation != nullptr ? pcOperation : "",
                           static_cast<unsigned long long>(have), uiSize, uiOffset);
        return 1;
    }
    std::memcpy(pDest, pstReq->pucReply + UI_PACKET_HEAD_LEN + uiOffset, uiSize);
    return 0;
}

uint32_t UI_Request_U32Get(const UiRequest* pstReq, uint32_t uiOffset, uint32_t* puiValue,
                           const char* pcOperation) {
    uint32_t wire = 0;
    if (puiValue == nullptr ||
        UI_Request_RecordGet(pstReq, uiOffset, &wire, sizeof(wire), pcOperation) != 0) {
        return 1;
    }
    *puiValue = ntohl(wire);
    return 0;
}

void UI_Request_End(UiRequest* pstReq) {
    if (pstReq == nullptr) {
        return;
    }
    if (pstReq->pucReply != nullptr) {
        (void)UKO_Free(pstReq->pucReply);
        pstReq->pucReply = nullptr;
    }
    if (pstReq->pucPacket != nullptr) {
        (void)UKO_Free(pstReq->pucPacket);
        pstReq->pucPacket = nullptr;
    }
    if (pstReq->iFd >= 0) {
        UI_ConnectFd_Release();
        pstReq->iFd = -1;
    }
}
