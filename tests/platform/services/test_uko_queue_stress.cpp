#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "jqr_queue.h"
#include "jqr_task.h"
#include "queue_test_util.h"
#include "uko_queue.h"
#include "uko_queue_inner.h"
#include "vt_test/platform.h"

namespace {

using queue_test::WaitBlocked;
using queue_test::WaitFor;

constexpr uint32_t kFifoSyn = UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN;

class QueueStressTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
    void TearDown() override { ukoQueueWakeHookSet(nullptr); }
};

// Widens the window between a task's decision to wake a waiter and its signal, so that
// a deletion racing with it gets every chance to complete in between.
void DawdleBeforeWake(uint32_t, uint32_t) {
    std::this_thread::sleep_for(std::chrono::microseconds(300));
}

// A writer is about to wake the blocked readers while the queue is deleted. The woken
// readers finish the deletion and free the semaphores; the signal must not land on
// freed memory (AddressSanitizer and ThreadSanitizer watch for it).
TEST_F(QueueStressTest, DeleteRacesWithAWriterAboutToSignal) {
    ukoQueueWakeHookSet(DawdleBeforeWake);
    constexpr int kRounds = 300;
    int delivered = 0;
    int deletedWhileWaiting = 0;
    for (int round = 0; round < kRounds; ++round) {
        uint32_t id = 0;
        ASSERT_EQ(QUE_CommonCreate("RACE", 1, &id, kFifoSyn, 32), 0u);
        const int readers = 1 + round % 2;  // with two, the deletion is also handed on
        std::vector<uint32_t> rcs(static_cast<size_t>(readers), 1);
        std::vector<std::thread> tasks;
        for (int i = 0; i < readers; ++i) {
            tasks.emplace_back([&, i] {
                char buf[32];
                rcs[static_cast<size_t>(i)] = QUE_CommonRead(id, 0, buf, 32, UKO_QUEUE_WAIT, nullptr);
            });
        }
        ASSERT_TRUE(WaitBlocked(id, true, readers));
        std::atomic<int> go{0};
        uint32_t writeRc = 1;
        uint32_t deleteRc = 1;
        std::thread writer([&] {
            while (go.load() == 0) {
            }
            writeRc = QUE_CommonWrite(id, "m", 1, UKO_QUEUE_NO_WAIT, 0, UKO_QUEUE_NORMAL);
        });
        std::thread deleter([&] {
            while (go.load() == 0) {
            }
            if (round % 3 == 0) {
                std::this_thread::yield();
            }
            deleteRc = UKO_QueueDelete(id);
        });
        go = 1;
        writer.join();
        deleter.join();
        for (std::thread& t : tasks) {
            t.join();
        }
        EXPECT_EQ(deleteRc, 0u);
        EXPECT_TRUE(writeRc == 0 || writeRc == UKO_EINVAL) << writeRc;
        for (uint32_t rc : rcs) {
            EXPECT_TRUE(rc == 0 || rc == UKO_QueueDeletedErr) << rc;
            delivered += rc == 0 ? 1 : 0;
            deletedWhileWaiting += rc == UKO_QueueDeletedErr ? 1 : 0;
        }
        ASSERT_EQ(ukoQueueStateGet(ukoQueueCbGet(id)), UKO_QUEUE_STATE_FREE) << "round " << round;
    }
    // Both outcomes must have happened, or the race was never run.
    EXPECT_GT(deletedWhileWaiting, 0);
    RecordProperty("delivered", delivered);
}

// ---- The service link's shape: 10^6 messages between two tasks --------------------------------

constexpr uint64_t kMessages = 1000000;

struct Stream {
    uint32_t queueId = 0;
    std::atomic<int> producerDone{0};
    std::atomic<int> consumerDone{0};
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> outOfOrder{0};
    std::atomic<uint64_t> failures{0};
};

// A 32-byte message: sequence number, its complement, and filler derived from it.
struct Packet {
    uint64_t seq;
    uint64_t notSeq;
    uint64_t fill[2];
};
static_assert(sizeof(Packet) == UKO_QUEUE_MSG_LEN, "one message");

void Producer(uint64_t uvStream, uint64_t, uint64_t, uint64_t) {
    auto* s = reinterpret_cast<Stream*>(uvStream);
    for (uint64_t i = 0; i < kMessages; ++i) {
        const Packet p{i, ~i, {i * 3, i * 7}};
        if (UKO_Queue_Write(s->queueId, &p, UKO_QUEUE_FLAG_WAIT, 0) != 0) {
            s->failures++;
        }
    }
    s->producerDone = 1;
}

void Consumer(uint64_t uvStream, uint64_t, uint64_t, uint64_t) {
    auto* s = reinterpret_cast<Stream*>(uvStream);
    for (uint64_t want = 0; want < kMessages; ++want) {
        Packet p{};
        if (UKO_Queue_Read(s->queueId, &p, UKO_QUEUE_FLAG_WAIT, 0) != 0) {
            s->failures++;
            break;
        }
        if (p.seq != want || p.notSeq != ~want || p.fill[0] != want * 3 || p.fill[1] != want * 7) {
            s->outOfOrder++;
        }
        s->received++;
    }
    s->consumerDone = 1;
}

TEST_F(QueueStressTest, AMillionMessagesCrossSendAndFastInOrder) {
    Stream streams[2];
    const char* names[2] = {"SEND", "FAST"};
    const char* tasks[2][2] = {{"SPRD", "SCON"}, {"FPRD", "FCON"}};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(UKO_Queue_Create(names[i], 4096, 10, &streams[i].queueId), 0u);
        ASSERT_NE(streams[i].queueId, 0u);
    }
    for (int i = 0; i < 2; ++i) {
        const uint64_t args[UKO_TASK_ARG_NUM] = {reinterpret_cast<uint64_t>(&streams[i]), 0, 0, 0};
        uint32_t taskId = 0;
        ASSERT_EQ(UKO_Task_Create(tasks[i][1], 0, 0, 0, args, Consumer, &taskId), 0u);
        ASSERT_EQ(UKO_Task_Create(tasks[i][0], 0, 0, 0, args, Producer, &taskId), 0u);
    }
    for (Stream& s : streams) {
        ASSERT_TRUE(WaitFor([&] { return s.consumerDone.load() == 1 && s.producerDone.load() == 1; },
                            240000));
        EXPECT_EQ(s.received.load(), kMessages);
        EXPECT_EQ(s.outOfOrder.load(), 0u);
        EXPECT_EQ(s.failures.load(), 0u);
        uint32_t left = 1;
        EXPECT_EQ(UKO_Queue_MsgNumGet(s.queueId, &left), 0u);
        EXPECT_EQ(left, 0u);
        const UKO_QueueCb* cb = ukoQueueCbGet(s.queueId);
        EXPECT_LE(cb->uiPeakLen, 4096u);
        EXPECT_EQ(UKO_Queue_Delete(s.queueId), 0u);
    }
}

}  // namespace
