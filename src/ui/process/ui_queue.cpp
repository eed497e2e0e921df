// Hand-over of packets between the link's tasks and threads through platform queues.
// A queue carries 32-byte messages, so a packet travels as a heap copy whose ownership
// passes with the message: the queue owns it while it waits, the reader afterwards.

#include <cerrno>
#include <cstring>

#include "jqr_mem.h"
#include "jqr_queue.h"
#include "ui_common.h"
#include "ui_packet.h"

// Both ends of the link's queues wait: a writer while the queue is full, a reader until
// a message arrives, each without limit (time-out 0).
static_assert(sizeof(PacketQueueMsg) == UKO_QUEUE_MSG_LEN, "a packet message fills a queue slot");

uint32_t UI_Queue_Write(uint32_t uiQueueId, const uint8_t* pucPacket, uint32_t uiLen) {
    if (pucPacket == nullptr) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR, "[%lu]Input NULL pinter", UI_LOG_TAG);
        return 1;
    }
    // One byte more than the packet, kept zero, as every packet buffer of the link has;
    // never less than a whole head, so a reader may always look at one.
    const uint64_t size =
        static_cast<uint64_t>(uiLen < UI_PACKET_HEAD_LEN ? UI_PACKET_HEAD_LEN : uiLen) + 1;
    uint8_t* copy = static_cast<uint8_t*>(UKO_Malloc(UI_MEM_ID, size));
    if (copy == nullptr) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR, "[%lu]Fail to Malloc Memory", UI_LOG_TAG);
        return 1;
    }
    std::memset(copy, 0, size);
    std::memcpy(copy, pucPacket, uiLen);
    PacketQueueMsg msg{};
    msg.pucPacket = copy;
    msg.uiLen = uiLen;
    if (UKO_Queue_Write(uiQueueId, &msg, UKO_QUEUE_FLAG_WAIT, 0) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR, "[%lu]Fail to write msg queue", UI_LOG_TAG);
        (void)UKO_Free(copy);
        return 1;
    }
    return 0;
}

uint32_t UI_Queue_Read(uint32_t uiQueueId, uint8_t** ppucPacket) {
    if (ppucPacket == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]Input NULL Pointer", UI_LOG_TAG);
        return 1;
    }
    PacketQueueMsg msg{};
    if (UKO_Queue_Read(uiQueueId, &msg, UKO_QUEUE_FLAG_WAIT, 0) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu]fail to Read msg from queue, errorcode = [%d]", UI_LOG_TAG, errno);
        return 1;
    }
    if (msg.pucPacket == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu]fail to Read msg from queue, errorcode = [%d]", UI_LOG_TAG,
                           EINVAL);
        return 1;
    }
    *ppucPacket = msg.pucPacket;
    return 0;
}
