#pragma once
// What the authentication and IPSec requests share: one request to the engine with
// each request's own failure texts, and the logouts' wait for their own reply, which
// the engine may precede with packets of other modules and which must end.

#include <cstdint>

#include "ui_request.h"

// The failure texts of one request, each the detail after "[<operation>]".
struct UiRequestTexts {
    const char* pcOperation;
    const char* pcNoFd;        // no synchronous engine connection
    const char* pcNoMemory;    // the packet could not be allocated
    const char* pcSendFailed;  // the exchange failed or timed out
};

// One request on the engine's synchronous connection: a packet of the message type and
// code whose payload of payloadLen bytes begins with the srcLen bytes of src (zeros
// after them), sent and answered within timeoutMs. 0 with the reply in the request,
// which the caller must End; on failure the matching text is logged (UI, ERROR), the
// request is ended and the result is 1.
uint32_t uiEngineRequest(UiRequest* pstReq, uint32_t uiMsgType, uint32_t uiMsgCode,
                         const void* pSrc, uint32_t uiSrcLen, uint32_t uiPayloadLen,
                         uint32_t uiTimeoutMs, const UiRequestTexts* pstTexts);

// After a logout's exchange, reads on from the request's socket while the current
// reply is not of the logout module (10): each packet read replaces the request's reply
// (the previous one is freed). Every packet received is logged as
// "[<op>][<received>0x<code>]", the exchange's own reply too unless it already is the
// logout's. Every read ends at deadlineMs of the monotonic clock. 0 once the request's reply is of
// module 10; 1 when a read fails or the deadline passes (the request keeps its last reply for its
// End).
uint32_t uiLogoutReplyAwait(UiRequest* pstReq, int64_t deadlineMs, const char* pcOperation,
                            const char* pcReceived);
