// Hand-over of packets through platform queues: a copy crosses from one task to
// another whole, with its zero byte, in order, and the reader owns and frees it; every
// failure leaves nothing behind.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "jqr_mem.h"
#include "jqr_task.h"
#include "jqr_queue.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_startup.h"
#include "ui_test/ui_sim.h"

namespace {

uint32_t NewQueue(const char* name, uint32_t depth) {
    uint32_t id = 0;
    EXPECT_EQ(UKO_Queue_Create(name, depth, UI_QUEUE_FLAGS, &id), 0u);
    return id;
}

// Packets of a few shapes: head only, a short payload, a large one.
std::vector<uint8_t> Sample(uint32_t i) {
    const std::vector<size_t> sizes = {0, 3, 65536};
    std::vector<uint8_t> payload(sizes[i % sizes.size()]);
    for (size_t k = 0; k < payload.size(); ++k) payload[k] = uint8_t(i * 7 + k);
    return ui_test::Packet(1, 2, 2, 1, 0xB0000 + i, payload);
}

struct Producer {
    uint32_t queue;
    uint32_t count;
    std::atomic<uint32_t> failures{0};
    std::atomic<bool> done{false};
};
Producer* g_producer = nullptr;

void ProducerEntry(uint64_t, uint64_t, uint64_t, uint64_t) {
    for (uint32_t i = 0; i < g_producer->count; ++i) {
        const std::vector<uint8_t> p = Sample(i);
        if (UI_Queue_Write(g_producer->queue, p.data(), uint32_t(p.size())) != 0) {
            ++g_producer->failures;
        }
    }
    g_producer->done = true;
}

TEST(UiQueueTest, CopiesCrossFromOneTaskToAnotherWholeAndInOrder) {
    ui_test::LinkSetUp();
    // A queue much shorter than the run, so the writer also waits while it is full.
    Producer producer{NewQueue("QTST", 8), 300};
    g_producer = &producer;
    uint32_t task = 0;
    ASSERT_EQ(UI_Task_Create("QPRD", 0, ProducerEntry, &task), 0u);
    for (uint32_t i = 0; i < producer.count; ++i) {
        uint8_t* got = nullptr;
        ASSERT_EQ(UI_Queue_Read(producer.queue, &got), 0u);
        ASSERT_NE(got, nullptr);
        const std::vector<uint8_t> want = Sample(i);
        EXPECT_EQ(std::memcmp(got, want.data(), want.size()), 0) << "packet " << i;
        EXPECT_EQ(got[want.size()], 0) << "packet " << i << " has its zero byte";
        (void)UKO_Free(got);  // the reader owns the copy: ASan reports any leak or double free
    }
    while (!producer.done) UKO_Task_Delay(1);
    EXPECT_EQ(producer.failures.load(), 0u);
}

TEST(UiQueueTest, MessageHoldsTheCopyAndThePacketLength) {
    ui_test::LinkSetUp();
    const uint32_t q = NewQueue("QMSG", 4);
    const std::vector<uint8_t> p = Sample(1);
    ASSERT_EQ(UI_Queue_Write(q, p.data(), uint32_t(p.size())), 0u);
    PacketQueueMsg msg;
    std::memset(&msg, 0xA5, sizeof(msg));
    ASSERT_EQ(UKO_Queue_Read(q, &msg, UKO_QUEUE_FLAG_WAIT, 0), 0u);
    EXPECT_EQ(msg.uiLen, p.size());
    for (uint8_t b : msg.aucReserved) EXPECT_EQ(b, 0);
    ASSERT_NE(msg.pucPacket, p.data()) << "a copy, not the caller's buffer";
    EXPECT_EQ(std::memcmp(msg.pucPacket, p.data(), p.size()), 0);
    (void)UKO_Free(msg.pucPacket);
}

TEST(UiQueueTest, AShortPacketStillGivesTheReaderAWholeZeroedHead) {
    ui_test::LinkSetUp();
    const uint32_t q = NewQueue("QSHT", 4);
    const uint8_t four[] = {1, 2, 3, 4};
    ASSERT_EQ(UI_Queue_Write(q, four, sizeof(four)), 0u);
    uint8_t* got = nullptr;
    ASSERT_EQ(UI_Queue_Read(q, &got), 0u);
    EXPECT_EQ(std::memcmp(got, four, sizeof(four)), 0);
    for (size_t i = sizeof(four); i <= UI_PACKET_HEAD_LEN; ++i) EXPECT_EQ(got[i], 0) << i;
    (void)UKO_Free(got);
}

TEST(UiQueueTest, FailuresHandNothingOverAndLeaveNothingBehind) {
    ui_test::LinkSetUp();
    const std::vector<uint8_t> p = Sample(2);
    // An unknown queue refuses the write: the copy made for it is freed (ASan's leak
    // check fails the test otherwise).
    EXPECT_EQ(UI_Queue_Write(0, p.data(), uint32_t(p.size())), 1u);
    EXPECT_EQ(UI_Queue_Write(NewQueue("QNUL", 4), nullptr, 24), 1u);
    uint8_t sentinel = 0;
    uint8_t* got = &sentinel;
    EXPECT_EQ(UI_Queue_Read(0, &got), 1u);
    EXPECT_EQ(got, &sentinel) << "a failed read hands nothing over";
    EXPECT_EQ(UI_Queue_Read(NewQueue("QOUT", 4), nullptr), 1u);
    EXPECT_EQ(ui_test::LogCount("Fail to write msg queue"), 1u);
    EXPECT_GE(ui_test::LogCount("fail to Read msg from queue, errorcode = ["), 1u);
}

}  // namespace
