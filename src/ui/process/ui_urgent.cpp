// Decoding of the service's unasked events from the queue "FAST".

#include "ui_urgent.h"

#include "jqr_mem.h"
#include "ui_common.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"

namespace {

// Module 11 codes from 0xB0000 on, in order, and their events.
constexpr UrgentEventType kUrgentEvents[] = {
    URGENT_EVENT_LOGOUT,      URGENT_EVENT_IGNORED,    URGENT_EVENT_CNEM_RECONNECT_FAIL,
    URGENT_EVENT_VNIC_ERROR,  URGENT_EVENT_DHCP_ERROR,
};
static_assert(sizeof(kUrgentEvents) / sizeof(kUrgentEvents[0]) ==
                  URGENT_MSGCODE_DHCP_ERROR - URGENT_MSGCODE_LOGOUT + 1,
              "one event for each urgent code");

}  // namespace

uint32_t UI_UrgentEvent_Process(int32_t* piEventType, char* pcName, int32_t* piShowType) {
    if (piEventType == nullptr || pcName == nullptr || piShowType == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Process urgent event process][invalid parameter!]", UI_LOG_TAG);
        return 1;
    }
    uint8_t* packet = nullptr;
    if (UI_Queue_Read(g_fastQueueId.load(), &packet) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Process urgent event process][receive urgent queue failed!]",
                           UI_LOG_TAG);
        return 1;
    }
    PacketHead head;
    uiPacketHeadRead(packet, &head);
    const uint32_t code = head.uiMsgCode;
    int32_t event = URGENT_EVENT_NONE;
    switch (code >> 16) {
        case MSGCODE_MODULE_URGENT:
            if (code >= URGENT_MSGCODE_LOGOUT && code <= URGENT_MSGCODE_DHCP_ERROR) {
                event = kUrgentEvents[code - URGENT_MSGCODE_LOGOUT];
            }
            break;
        case MSGCODE_MODULE_IPSEC:
            event = URGENT_EVENT_IPSEC_STATUS;
            UI_MsgCodeName_Get(g_ipsecMsgCodeTable, UI_IPSEC_MSGCODE_BOUND, code, pcName);
            *piShowType = URGENT_SHOW_CRITICAL;
            break;
        default:
            event = URGENT_EVENT_EXIT;
            break;
    }
    *piEventType = event;
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Process urgent event process][vanTrelo receive urgent message,"
                       "message code is 0x%x, ret message type is %d, show type is %d]",
                       UI_LOG_TAG, code, event, *piShowType);
    (void)UKO_Free(packet);
    return 0;
}
