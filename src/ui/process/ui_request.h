#pragma once
// The steps every request to the service shares. A request Begins with its connection,
// Builds its packet and fills the payload, Exchanges it, reads the reply's code and
// records, and Ends, which frees both buffers and lets the connection go. Each step
// answers 0 or 1 and logs nothing of its own (except a reply too short for a record):
// the request logs each failure in its own words.
//
//     UiRequest req;
//     if (UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC) != 0) { log; return 1; }
//     if (UI_Request_Build(&req, MSG_TYPE_CFM, 2, 0) != 0) { log; UI_Request_End(&req); ... }
//     if (UI_Request_Exchange(&req, UI_SYNC_RECV_TIMEOUT) != 0) { log; UI_Request_End ... }
//     ... req.stReplyHead.uiMsgCode, UI_Request_RecordGet(&req, 0, &rec, sizeof rec, op) ...
//     UI_Request_End(&req);

#include <cstdint>

#include "ui_packet.h"

// Time-outs of the exchanges: every request, and the SSL logout.
constexpr uint32_t UI_SYNC_RECV_TIMEOUT = 40000;
constexpr uint32_t UI_SSL_LOGOUT_TIMEOUT = 90000;

struct UiRequest {
    int32_t iFd;             // the held socket, -1 before Begin succeeds
    uint32_t uiDestMark;
    uint32_t uiConnType;
    uint8_t* pucPacket;      // head, payload, a zero byte
    uint32_t uiPacketLen;    // head + payload
    uint8_t* pucReply;       // head, payload, a zero byte
    uint32_t uiReplyLen;     // head + payload
    PacketHead stReplyHead;  // host order, after a successful exchange
};

// Holds the socket of the connection to destMark of that type: 0, or 1 when there is
// none. The request must End whatever Begin answered.
uint32_t UI_Request_Begin(UiRequest* pstReq, uint32_t uiDestMark, uint32_t uiConnType);

// A cleared packet of head + payloadLen + 1 bytes with its head from MARK_UI to the
// request's destination: 0, or 1 when memory is short or the length cannot be sent.
// The payload starts at pucPacket + UI_PACKET_HEAD_LEN.
uint32_t UI_Request_Build(UiRequest* pstReq, uint32_t uiMsgType, uint32_t uiMsgCode,
                          uint32_t uiPayloadLen);

// Sends the packet and reads the reply (UI_Packet_SyncSend): 0, or 1.
uint32_t UI_Request_Exchange(UiRequest* pstReq, uint32_t uiTimeoutMs);

// Payload bytes of the reply (0 before an exchange).
uint32_t UI_Request_ReplyPayloadLen(const UiRequest* pstReq);

// Copies size bytes of the reply's payload from offset when the payload holds them
// whole: 0. Otherwise the destination is left as it was, "reply too short" is logged
// (UI, WARN) under the operation's name, and the result is 1.
uint32_t UI_Request_RecordGet(const UiRequest* pstReq, uint32_t uiOffset, void* pDest,
                              uint32_t uiSize, const char* pcOperation);

// The unsigned 32-bit integer in network order at offset of the reply's payload, in
// host order, under the same rule.
uint32_t UI_Request_U32Get(const UiRequest* pstReq, uint32_t uiOffset, uint32_t* puiValue,
                           const char* pcOperation);

// Frees the packet and the reply and releases the socket. Safe after any step.
void UI_Request_End(UiRequest* pstReq);
