#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os_task.h"
#include "osal_lock.h"
#include "queue_test_util.h"
#include "uko_queue.h"
#include "uko_queue_inner.h"
#include "uko_rescb.h"
#include "uko_task.h"
#include "vt_test/platform.h"

namespace {

using queue_test::BlockedOn;
using queue_test::WaitBlocked;
using queue_test::WaitFor;

constexpr uint32_t kFifoSyn = UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN;
constexpr uint32_t kFifoAsy = UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_ASY;

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
    void TearDown() override {
        ukoQueueWakeHookSet(nullptr);
        ukoQueueTickSourceSet(nullptr);
        for (uint32_t id : m_ids) {
            if (UKO_QueueIsValid(id) == 1) {
                (void)UKO_QueueDelete(id);
            }
        }
    }

    uint32_t Make(uint32_t uiMaxMsgs, uint32_t uiMode = kFifoSyn, uint32_t uiSize = 32,
                  const char* pcName = "QTST") {
        uint32_t id = 0;
        EXPECT_EQ(QUE_CommonCreate(pcName, uiMaxMsgs, &id, uiMode, uiSize), 0u);
        m_ids.push_back(id);
        return id;
    }

    std::vector<uint32_t> m_ids;
};


uint32_t Put(uint32_t id, const std::string& s, uint32_t pos = UKO_QUEUE_NORMAL) {
    return QUE_CommonWrite(id, s.data(), static_cast<uint32_t>(s.size()), UKO_QUEUE_NO_WAIT, 0, pos);
}

std::string Take(uint32_t id, uint32_t uiBufLen = 64) {
    std::vector<char> buf(uiBufLen);
    uint32_t len = 0;
    if (QUE_CommonRead(id, 0, buf.data(), uiBufLen, UKO_QUEUE_NO_WAIT, &len) != 0) {
        return "<none>";
    }
    return std::string(buf.data(), len);
}

// ---- Create -------------------------------------------------------------------------------

TEST_F(QueueTest, CreateRefusesBadArguments) {
    uint32_t id = 7;
    struct Case {
        const char* what;
        const char* name;
        uint32_t msgs;
        uint32_t* out;
        uint32_t size;
    } cases[] = {
        {"no out id", "Q", 1, nullptr, 32},
        {"slot size 0", "Q", 1, &id, 0},
        {"no name", nullptr, 1, &id, 32},
        {"slot size at its limit", "Q", 1, &id, 0xFFFFFFFBu},
        {"storage one byte over the bound", "Q", 1, &id, 4294967071u - 4 + 1},
        // These products do not fit 32 bits; wrapped they would look small.
        {"storage of exactly 2^32 bytes", "Q", 65536, &id, 65532},
        {"storage far beyond 32 bits", "Q", 0x80000000u, &id, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QUE_CommonCreate(c.name, c.msgs, c.out, kFifoSyn, c.size), UKO_EINVAL) << c.what;
        EXPECT_EQ(UKO_ErrnoGet(), UKO_EINVAL) << c.what;
        EXPECT_EQ(id, 7u) << c.what << ": the id is written only on success";
    }
    EXPECT_EQ(UKO_QueueCreate("Q", 1, &id, 2, 32), UKO_EINVAL);
    EXPECT_EQ(id, 7u);
}

TEST_F(QueueTest, CreateModesAndDefaultCapacity) {
    uint32_t id = 0;
    ASSERT_EQ(UKO_QueueCreate("F", 0, &id, 0, 32), 0u);
    m_ids.push_back(id);
    uint32_t max = 0;
    EXPECT_EQ(UKO_QueueMaxNumGet(id, &max), 0u);
    EXPECT_EQ(max, UKO_DEFAULT_QUEUE_SIZE);
    EXPECT_EQ(ukoQueueCbGet(id)->usMode, kFifoSyn);
    EXPECT_EQ(ukoQueueCbGet(id)->usWaiterOrder, 0u);
    ASSERT_EQ(UKO_QueueCreate("P", 5, &id, 1, 32), 0u);
    m_ids.push_back(id);
    EXPECT_EQ(ukoQueueCbGet(id)->usMode, UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_SYN);
    EXPECT_EQ(ukoQueueCbGet(id)->usWaiterOrder, 1u);
    EXPECT_EQ(UKO_QueueMaxNumGet(id, nullptr), UKO_EINVAL);
}

TEST_F(QueueTest, NameIsKeptToFifteenCharacters) {
    const uint32_t id = Make(1, kFifoSyn, 8, "ABCDEFGHIJKLMNOPQRST");
    char name[16];
    std::memset(name, 'x', sizeof(name));
    ASSERT_EQ(UKO_QueueNameGet(id, name), 0u);
    EXPECT_STREQ(name, "ABCDEFGHIJKLMNO");
    EXPECT_EQ(UKO_QueueIdGetByName("ABCDEFGHIJKLMNO"), id);
}

// ---- Ids that resolve to no queue ---------------------------------------------------------------

TEST_F(QueueTest, EveryOperationRefusesIdsOfNoQueue) {
    uint32_t deleted = Make(2);
    ASSERT_EQ(UKO_QueueDelete(deleted), 0u);
    const uint32_t ids[] = {0, ukoQueueIdLimitGet(), 301, 0xFFFFFFFEu, deleted};
    for (uint32_t id : ids) {
        char buf[32] = {};
        uint32_t len = 5;
        EXPECT_EQ(QUE_CommonRead(id, 0, buf, 32, UKO_QUEUE_NO_WAIT, &len), UKO_EINVAL) << id;
        EXPECT_EQ(len, 0xFFFFFFFFu) << id;
        EXPECT_EQ(QUE_CommonRead(id, 0, buf, 32, UKO_QUEUE_WAIT, &len), UKO_EINVAL) << id;
        EXPECT_EQ(QUE_CommonWrite(id, buf, 32, UKO_QUEUE_WAIT, 0, UKO_QUEUE_NORMAL), UKO_EINVAL) << id;
        EXPECT_EQ(UKO_QueueReadAsy(id, buf, 32), 0xFFFFFFFFu) << id;
        EXPECT_EQ(UKO_QueueMsgNumGet(id), 0xFFFFFFFFu) << id;
        EXPECT_EQ(UKO_QueueIsValid(id), 0u) << id;
        uint32_t max = 9;
        EXPECT_EQ(UKO_QueueMaxNumGet(id, &max), UKO_EINVAL) << id;
        EXPECT_EQ(UKO_QueueNameGet(id, buf), UKO_EINVAL) << id;
        EXPECT_EQ(UKO_QueueDelete(id), UKO_EINVAL) << id;
        EXPECT_EQ(UKO_QueuePeekMsg(id, 0, buf, 32, nullptr), UKO_EINVAL) << id;
        EXPECT_EQ(UKO_QueuePeakLenReset(id), UKO_EINVAL) << id;
    }
}

// ---- Read and write -------------------------------------------------------------------------------

TEST_F(QueueTest, NonBlockingEmptyAndFullAreCounted) {
    const uint32_t id = Make(2);
    char buf[32];
    EXPECT_EQ(QUE_CommonRead(id, 0, buf, 32, UKO_QUEUE_NO_WAIT, nullptr), UKO_QueueEmptyErr);
    EXPECT_EQ(UKO_ErrnoGet(), UKO_QueueEmptyErr);
    EXPECT_EQ(Put(id, "a"), 0u);
    EXPECT_EQ(Put(id, "b"), 0u);
    EXPECT_EQ(Put(id, "c"), UKO_QueueFullErr);
    EXPECT_EQ(UKO_ErrnoGet(), UKO_QueueFullErr);
    EXPECT_EQ(UKO_QueueMsgNumGet(id), 2u);
    const UKO_QueueCb* cb = ukoQueueCbGet(id);
    EXPECT_EQ(cb->uiEmptyCount, 1u);
    EXPECT_EQ(cb->uiFullCount, 1u);
    EXPECT_EQ(cb->uiWriteCount, 3u);
    EXPECT_EQ(cb->uiReadCount, 1u);
    EXPECT_EQ(cb->uiPeakLen, 2u);
    EXPECT_EQ(Take(id), "a");
    EXPECT_EQ(Take(id), "b");
    EXPECT_EQ(UKO_QueueReadAsy(id, buf, 32), 0xFFFFFFFFu) << "the out length, not the code";
}

TEST_F(QueueTest, RefusedArgumentsLeaveTheQueueAlone) {
    const uint32_t syn = Make(4);
    const uint32_t asy = Make(4, kFifoAsy);
    char buf[40] = {};
    EXPECT_EQ(Put(asy, "x"), 0u);
    EXPECT_EQ(Put(syn, "x"), 0u);
    struct Case {
        const char* what;
        uint32_t rc;
    } cases[] = {
        {"blocking read of an ASY queue with a message",
         QUE_CommonRead(asy, 0, buf, 32, UKO_QUEUE_WAIT, nullptr)},
        {"blocking write to an ASY queue with room",
         QUE_CommonWrite(asy, buf, 32, UKO_QUEUE_WAIT, 10, UKO_QUEUE_NORMAL)},
        {"40 bytes into 32-byte slots", QUE_CommonWrite(syn, buf, 40, UKO_QUEUE_NO_WAIT, 0, UKO_QUEUE_NORMAL)},
        {"NULL buffer", QUE_CommonWrite(syn, nullptr, 4, UKO_QUEUE_NO_WAIT, 0, UKO_QUEUE_NORMAL)},
        {"length 0", QUE_CommonWrite(syn, buf, 0, UKO_QUEUE_NO_WAIT, 0, UKO_QUEUE_NORMAL)},
        {"read into NULL", QUE_CommonRead(syn, 0, nullptr, 32, UKO_QUEUE_NO_WAIT, nullptr)},
        {"read of length 0", QUE_CommonRead(syn, 0, buf, 0, UKO_QUEUE_NO_WAIT, nullptr)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.rc, UKO_EINVAL) << c.what;
    }
    EXPECT_EQ(UKO_QueueMsgNumGet(asy), 1u);
    EXPECT_EQ(UKO_QueueMsgNumGet(syn), 1u);
    EXPECT_EQ(Take(asy), "x");
    EXPECT_EQ(Take(syn), "x");
}

TEST_F(QueueTest, ShortBufferTakesThePrefixAndDropsTheRest) {
    const uint32_t id = Make(4);
    const std::string first = "0123456789abcdefghijklmnopqrstuv";  // 32 bytes
    ASSERT_EQ(Put(id, first), 0u);
    ASSERT_EQ(Put(id, "next"), 0u);
    char buf[10];
    uint32_t len = 0;
    ASSERT_EQ(QUE_CommonRead(id, 0, buf, sizeof(buf), UKO_QUEUE_NO_WAIT, &len), 0u);
    EXPECT_EQ(len, 10u);
    EXPECT_EQ(std::string(buf, len), first.substr(0, 10));
    EXPECT_EQ(Take(id), "next") << "the remaining 22 bytes are gone";
    EXPECT_EQ(UKO_QueueMsgNumGet(id), 0u);
}

TEST_F(QueueTest, UrgentMessagesGoBeforeTheHeadNewestFirst) {
    // Capacity 4 with the head at 0: the urgent writes step it back across the wrap.
    const uint32_t id = Make(4);
    ASSERT_EQ(Put(id, "A"), 0u);
    ASSERT_EQ(Put(id, "B"), 0u);
    ASSERT_EQ(Put(id, "U1", UKO_QUEUE_URGENT), 0u);
    ASSERT_EQ(Put(id, "U2", UKO_QUEUE_URGENT), 0u);
    EXPECT_EQ(Put(id, "X", UKO_QUEUE_URGENT), UKO_QueueFullErr);
    char buf[8] = {};
    uint32_t len = 0;
    ASSERT_EQ(UKO_QueuePeekMsg(id, 0, buf, sizeof(buf), &len), 0u);
    EXPECT_EQ(std::string(buf, len), "U2") << "index 0 is the next read";
    ASSERT_EQ(UKO_QueuePeekMsg(id, 3, buf, sizeof(buf), &len), 0u);
    EXPECT_EQ(std::string(buf, len), "B");
    EXPECT_EQ(UKO_QueuePeekMsg(id, 4, buf, sizeof(buf), &len), UKO_EINVAL) << "index = count";
    EXPECT_EQ(UKO_QueuePeekMsg(id, 0, buf, 0, &len), UKO_EINVAL);
    EXPECT_EQ(UKO_QueuePeekMsg(id, 0, nullptr, 8, &len), UKO_EINVAL);
    EXPECT_EQ(UKO_QueueMsgNumGet(id), 4u) << "a peek takes nothing";
    for (const char* want : {"U2", "U1", "A", "B"}) {
        EXPECT_EQ(Take(id), want);
    }
    // The ring keeps working from wherever head and tail ended.
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(Put(id, "t"), 0u);
        ASSERT_EQ(Put(id, "u", UKO_QUEUE_URGENT), 0u);
        EXPECT_EQ(Take(id), "u");
        EXPECT_EQ(Take(id), "t");
    }
}

TEST_F(QueueTest, BlockingReadWaitsForAWriter) {
    const uint32_t id = Make(2);
    std::atomic<uint32_t> rc{1};
    std::string got;
    std::thread reader([&] {
        char buf[32];
        uint32_t len = 0;
        rc = QUE_CommonRead(id, 0, buf, 32, UKO_QUEUE_WAIT, &len);
        got.assign(buf, len == 0xFFFFFFFFu ? 0 : len);
    });
    ASSERT_TRUE(WaitBlocked(id, true, 1));
    EXPECT_EQ(Put(id, "hello"), 0u);
    reader.join();
    EXPECT_EQ(rc.load(), 0u);
    EXPECT_EQ(got, "hello");
    EXPECT_EQ(BlockedOn(id, true), 0);
    EXPECT_EQ(ukoQueueCbGet(id)->uiReadBlockedTask, 0u);
}

TEST_F(QueueTest, BlockingWriteWaitsForRoom) {
    const uint32_t id = Make(1);
    ASSERT_EQ(Put(id, "first"), 0u);
    std::atomic<uint32_t> rc{1};
    std::thread writer([&] {
        rc = QUE_CommonWrite(id, "second", 6, UKO_QUEUE_WAIT, 0, UKO_QUEUE_NORMAL);
    });
    ASSERT_TRUE(WaitBlocked(id, false, 1));
    EXPECT_EQ(Take(id), "first");
    writer.join();
    EXPECT_EQ(rc.load(), 0u);
    EXPECT_EQ(Take(id), "second");
}

TEST_F(QueueTest, TimedWaitsTimeOutNoEarlierThanAsked) {
    const uint32_t id = Make(1);
    char buf[32];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(QUE_CommonRead(id, 60, buf, 32, UKO_QUEUE_WAIT, nullptr), UKO_QueueReadTimeoutErr);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(60));
    EXPECT_EQ(UKO_ErrnoGet(), UKO_QueueReadTimeoutErr);
    // Nor much later: the best of a few tries must end within 30 ms of the time-out.
    // A busy machine can delay any one wake-up, never all of them; a wait that rounds
    // up by whole ticks or starts a second tick late overshoots every time.
    auto best = waited;
    uint32_t reads = 1;
    for (int i = 0; i < 5 && best > std::chrono::milliseconds(90); ++i) {
        const auto t = std::chrono::steady_clock::now();
        EXPECT_EQ(QUE_CommonRead(id, 60, buf, 32, UKO_QUEUE_WAIT, nullptr), UKO_QueueReadTimeoutErr);
        best = std::min(best, std::chrono::steady_clock::now() - t);
        ++reads;
    }
    EXPECT_LT(best, std::chrono::milliseconds(90));
    ASSERT_EQ(Put(id, "x"), 0u);
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(QUE_CommonWrite(id, "y", 1, UKO_QUEUE_WAIT, 40, UKO_QUEUE_NORMAL), UKO_QueueWriteTimeoutErr);
    EXPECT_GE(std::chrono::steady_clock::now() - t1, std::chrono::milliseconds(40));
    const UKO_QueueCb* cb = ukoQueueCbGet(id);
    EXPECT_EQ(cb->uiReadTimeouts, reads);
    EXPECT_EQ(cb->uiWriteTimeouts, 1u);
    EXPECT_EQ(cb->sReadersToWake, 0);
    EXPECT_EQ(cb->sWritersToWake, 0);
    EXPECT_EQ(Take(id), "x");
}

// ---- Deletion while tasks wait ------------------------------------------------------------------

struct WakeLog {
    std::atomic<int> readSignals{0};
    std::atomic<int> writeSignals{0};
    std::atomic<int> signalsNotDeleting{0};
    std::atomic<int> signalsUnlocked{0};
    std::atomic<int> signalsWithIdFree{0};
    void Clear() {
        readSignals = 0;
        writeSignals = 0;
        signalsNotDeleting = 0;
        signalsUnlocked = 0;
        signalsWithIdFree = 0;
    }
};
WakeLog g_wakeLog;

// True when a thread other than the caller holds the queue's lock: the signalling
// task must still hold it, or a woken task could finish a deletion and free the
// semaphore before the signal has landed.
bool LockHeldByCaller(UKO_QueueCb* pstCb) {
    uint32_t rc = 0;
    std::thread probe([&] {
        rc = OSAL_LockTryLock(&pstCb->stLock);
        if (rc == 0) {
            (void)OSAL_LockUnLock(&pstCb->stLock, 0);
        }
    });
    probe.join();
    return rc != 0;
}

void RecordWake(uint32_t uiQueueId, uint32_t uiReadSema) {
    (uiReadSema != 0 ? g_wakeLog.readSignals : g_wakeLog.writeSignals)++;
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (ukoQueueStateGet(cb) != UKO_QUEUE_STATE_DELETING) {
        g_wakeLog.signalsNotDeleting++;
    }
    if (!LockHeldByCaller(cb)) {
        g_wakeLog.signalsUnlocked++;
    }
    // A woken task still inside the queue must find its block: while one is, the id
    // must not be free for a new queue.
    if (UKO_RescbCbGet(ukoQueueTableIdGet(), uiQueueId) == nullptr) {
        g_wakeLog.signalsWithIdFree++;
    }
}

TEST_F(QueueTest, WritersAndReadersSignalUnderTheQueueLock) {
    const uint32_t id = Make(1);
    g_wakeLog.Clear();
    ukoQueueWakeHookSet(RecordWake);
    // A reader woken by a write.
    std::atomic<uint32_t> readRc{1};
    std::thread reader([&] {
        char buf[32];
        readRc = QUE_CommonRead(id, 0, buf, 32, UKO_QUEUE_WAIT, nullptr);
    });
    ASSERT_TRUE(WaitBlocked(id, true, 1));
    ASSERT_EQ(Put(id, "r"), 0u);
    reader.join();
    // A writer woken by a read.
    ASSERT_EQ(Put(id, "full"), 0u);
    std::atomic<uint32_t> writeRc{1};
    std::thread writer([&] { writeRc = QUE_CommonWrite(id, "w", 1, UKO_QUEUE_WAIT, 0, UKO_QUEUE_NORMAL); });
    ASSERT_TRUE(WaitBlocked(id, false, 1));
    EXPECT_EQ(Take(id), "full");
    writer.join();
    ukoQueueWakeHookSet(nullptr);
    EXPECT_EQ(readRc.load(), 0u);
    EXPECT_EQ(writeRc.load(), 0u);
    EXPECT_EQ(g_wakeLog.readSignals.load(), 1);
    EXPECT_EQ(g_wakeLog.writeSignals.load(), 1);
    EXPECT_EQ(g_wakeLog.signalsUnlocked.load(), 0);
    EXPECT_EQ(Take(id), "w");
}

TEST_F(QueueTest, DeleteWakesEveryBlockedTaskAndTheLastOneFrees) {
    struct Case {
        const char* what;
        int readers;
        int writers;
    } cases[] = {{"two blocked readers", 2, 0}, {"two blocked writers", 0, 2}, {"three readers", 3, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_wakeLog.Clear();
        const uint32_t id = Make(1, kFifoSyn, 32, "DEL");
        if (c.writers > 0) {
            ASSERT_EQ(Put(id, "full"), 0u);
        }
        const uint32_t before = UKO_QueueCurNumGet();
        std::vector<std::thread> tasks;
        std::vector<uint32_t> rcs(static_cast<size_t>(c.readers + c.writers), 1);
        for (int i = 0; i < c.readers + c.writers; ++i) {
            const bool reader = i < c.readers;
            tasks.emplace_back([&, i, reader] {
                char buf[32] = {};
                rcs[static_cast<size_t>(i)] =
                    reader ? QUE_CommonRead(id, 0, buf, 32, UKO_QUEUE_WAIT, nullptr)
                           : QUE_CommonWrite(id, buf, 32, UKO_QUEUE_WAIT, 0, UKO_QUEUE_NORMAL);
            });
        }
        ASSERT_TRUE(WaitBlocked(id, true, c.readers));
        ASSERT_TRUE(WaitBlocked(id, false, c.writers));
        ukoQueueWakeHookSet(RecordWake);
        EXPECT_EQ(UKO_QueueDelete(id), 0u);
        for (std::thread& t : tasks) {
            t.join();
        }
        ukoQueueWakeHookSet(nullptr);
        for (uint32_t rc : rcs) {
            EXPECT_EQ(rc, UKO_QueueDeletedErr);
        }
        // One signal from the delete, one hand-on from every woken task but the last,
        // all while the queue was still being deleted.
        EXPECT_EQ(g_wakeLog.readSignals + g_wakeLog.writeSignals, c.readers + c.writers);
        EXPECT_EQ(g_wakeLog.signalsNotDeleting.load(), 0);
        EXPECT_EQ(g_wakeLog.signalsUnlocked.load(), 0);
        EXPECT_EQ(g_wakeLog.signalsWithIdFree.load(), 0);
        EXPECT_EQ(UKO_QueueCurNumGet(), before - 1);
        EXPECT_EQ(ukoQueueStateGet(ukoQueueCbGet(id)), UKO_QUEUE_STATE_FREE);
        EXPECT_EQ(UKO_QueueIsValid(id), 0u);
        EXPECT_EQ(UKO_RescbCbGet(ukoQueueTableIdGet(), id), nullptr) << "the block is back in the table";
    }
}

// A task deleted while it waits on a queue no longer counts as waiting, so a later
// delete of the queue (or one already in progress) gives the queue back.
void ReadForever(uint64_t uiQueueId, uint64_t, uint64_t, uint64_t) {
    char buf[32];
    (void)QUE_CommonRead(static_cast<uint32_t>(uiQueueId), 0, buf, sizeof(buf), UKO_QUEUE_WAIT, nullptr);
}

void WriteForever(uint64_t uiQueueId, uint64_t, uint64_t, uint64_t) {
    char buf[32] = {};
    (void)QUE_CommonWrite(static_cast<uint32_t>(uiQueueId), buf, sizeof(buf), UKO_QUEUE_WAIT, 0,
                          UKO_QUEUE_NORMAL);
}

TEST_F(QueueTest, ATaskDeletedWhileWaitingLeavesTheQueueDeletable) {
    struct Case {
        const char* what;
        bool reader;
        bool keepOneWaiting;  // a second, plain waiter the delete has to hand on to
    } cases[] = {{"reader", true, false}, {"writer", false, false}, {"reader beside another", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t id = Make(1, kFifoSyn, 32, "CAN");
        if (!c.reader) {
            ASSERT_EQ(Put(id, "full"), 0u);
        }
        const uint32_t before = UKO_QueueCurNumGet();
        const uint64_t args[4] = {id, 0, 0, 0};
        uint32_t task = 0;
        ASSERT_EQ(UKO_TaskCreate("qcan", &task, c.reader ? ReadForever : WriteForever, 100, 0, 0, args), 0u);
        ASSERT_TRUE(WaitBlocked(id, c.reader, 1));
        std::thread other;
        uint32_t otherRc = 0;
        if (c.keepOneWaiting) {
            other = std::thread([&] {
                char buf[32];
                otherRc = QUE_CommonRead(id, 0, buf, sizeof(buf), UKO_QUEUE_WAIT, nullptr);
            });
            ASSERT_TRUE(WaitBlocked(id, true, 2));
        }
        ASSERT_EQ(UKO_TaskDelete(task), 0u);
        ASSERT_TRUE(WaitFor([&] { return UKO_TaskIdCheck(task) == 0; }));
        EXPECT_TRUE(WaitBlocked(id, c.reader, c.keepOneWaiting ? 1 : 0)) << "the deleted task still counts";
        EXPECT_EQ(UKO_QueueDelete(id), 0u);
        if (other.joinable()) {
            other.join();
            EXPECT_EQ(otherRc, UKO_QueueDeletedErr);
        }
        EXPECT_TRUE(WaitFor([&] { return UKO_QueueIsValid(id) == 0; }));
        EXPECT_EQ(UKO_QueueCurNumGet(), before - 1);
        EXPECT_EQ(ukoQueueStateGet(ukoQueueCbGet(id)), UKO_QUEUE_STATE_FREE);
    }
}

// ---- Waits across the wrap of the tick's low word -------------------------------------------------

uint32_t g_stealFrom = 0;

// Runs in a writer that holds the queue's (recursive) lock, right before it wakes the
// reader: takes the message, so that the woken reader finds the queue empty again.
void StealBeforeWake(uint32_t uiQueueId, uint32_t uiReadSema) {
    if (uiReadSema != 0 && uiQueueId == g_stealFrom) {
        char buf[32];
        (void)QUE_CommonRead(uiQueueId, 0, buf, sizeof(buf), UKO_QUEUE_NO_WAIT, nullptr);
    }
}

std::atomic<uint64_t> g_fakeTick{0};
uint64_t FakeTick() { return g_fakeTick.load(); }

TEST_F(QueueTest, AWaitGoesOnAcrossTheWrapOfTheTicksLowWord) {
    g_fakeTick = 0xFFFFFFF0u;
    ukoQueueTickSourceSet(FakeTick);
    const uint32_t id = Make(1);
    std::atomic<uint32_t> rc{1};
    std::thread reader([&] {
        char buf[32];
        rc = QUE_CommonRead(id, 60000, buf, 32, UKO_QUEUE_WAIT, nullptr);
    });
    ASSERT_TRUE(WaitBlocked(id, true, 1));
    g_fakeTick = 0x100000010u;  // the low word wraps; 320 ms of the 60 s have passed
    g_stealFrom = id;
    ukoQueueWakeHookSet(StealBeforeWake);
    ASSERT_EQ(Put(id, "taken"), 0u);
    ukoQueueWakeHookSet(nullptr);
    // Woken to an empty queue, the reader must wait on, not time out.
    ASSERT_TRUE(WaitFor([&] { return queue_test::ToWake(id, true) == 1 || rc != 1; }));
    ASSERT_EQ(Put(id, "kept"), 0u);
    reader.join();
    ukoQueueTickSourceSet(nullptr);
    EXPECT_EQ(rc.load(), 0u);
    EXPECT_EQ(ukoQueueCbGet(id)->uiReadTimeouts, 0u);
}

// ---- Queries, look-up, peak --------------------------------------------------------------------

TEST_F(QueueTest, LookUpByNameGivesTheLowestIdInUse) {
    const uint32_t a = Make(1, kFifoSyn, 8, "DUPL");
    const uint32_t b = Make(1, kFifoSyn, 8, "DUPL");
    ASSERT_LT(a, b);
    EXPECT_EQ(UKO_QueueIdGetByName("DUPL"), a);
    EXPECT_EQ(UKO_QueueIdGetByName("DUP"), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_QueueIdGetByName(nullptr), 0xFFFFFFFFu);
    ASSERT_EQ(UKO_QueueDelete(a), 0u);
    EXPECT_EQ(UKO_QueueIdGetByName("DUPL"), b);
}

TEST_F(QueueTest, PeakLengthResetsToZero) {
    const uint32_t a = Make(4);
    const uint32_t b = Make(4);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Put(a, "m"), 0u);
    }
    ASSERT_EQ(Put(b, "m"), 0u);
    (void)Take(a);
    EXPECT_EQ(ukoQueueCbGet(a)->uiPeakLen, 3u);
    EXPECT_EQ(UKO_QueuePeakLenReset(a), 0u);
    EXPECT_EQ(ukoQueueCbGet(a)->uiPeakLen, 0u);
    EXPECT_EQ(ukoQueueCbGet(b)->uiPeakLen, 1u);
    EXPECT_EQ(UKO_QueuePeakLenReset(UKO_QUEUE_ALL), 0u);
    EXPECT_EQ(ukoQueueCbGet(b)->uiPeakLen, 0u);
    ASSERT_EQ(Put(a, "m"), 0u);
    EXPECT_EQ(ukoQueueCbGet(a)->uiPeakLen, 3u) << "after a reset the current count makes the peak again";
}

// ---- Show ------------------------------------------------------------------------------------------

namespace show {

const std::string kStars = "\r\n" + std::string(80, '*');
const std::string kDashes = "\r\n" + std::string(80, '-');

std::string IdCol(uint32_t id) {
    std::string s = std::to_string(id);
    return s + std::string(6 - s.size(), ' ');
}

std::string TaskId(uint32_t id) { return std::to_string(static_cast<int32_t>(id)); }

}  // namespace show

TEST_F(QueueTest, ShowAllListsEveryQueueInUse) {
    const uint32_t a = Make(4, kFifoSyn, 32, "A-B");
    const uint32_t b = Make(0, UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_ASY, 8, "Q_2");
    ASSERT_EQ(Put(a, "m"), 0u);
    const std::string cur = std::to_string(UKO_QueueCurNumGet());
    const std::string created = std::to_string(UKO_QueueCreatedNumGet());
    ASSERT_EQ(cur, "2") << "no other queue may be alive here";
    queue_test::ShowCapture capture;
    EXPECT_EQ(UKO_QueueShow(0, 0), 0u);
    const std::string want =
        show::kStars +
        "\r\n Current Queue Count                         = " + cur + " " +
        "\r\n Total Created Count                         = " + created + " " +
        "\r\n Default Queue Size                          = 768 "
        "\r\n Queue Num In The First Page                 = 300 "
        "\r\n Queue Num In New created Page               = 50 "
        "\r\n The Mem PtNo of Queue Use                   = 0 " +
        show::kDashes +
        "\r\nQID   QueMode  TotLen   CurLen   MaxSize    Block       Block     Name"
        "\r\n                                            TaskId(W)   TaskId(R)" +
        show::kDashes +
        "\r\n" + show::IdCol(a) + "FIFO|SYN 4        1        32        0           0          A B" +
        "\r\n" + show::IdCol(b) + "PRIO|ASY 768      0        8         0           0          Q_2" +
        show::kStars;
    EXPECT_EQ(capture.Text(), want);
}

TEST_F(QueueTest, ShowOfNoQueueClosesAfterTheSettings) {
    ASSERT_EQ(UKO_QueueCurNumGet(), 0u);
    queue_test::ShowCapture capture;
    EXPECT_EQ(UKO_QueueShow(0, 0), 0u);
    const std::string text = capture.Text();
    const std::string tail =
        "\r\n The Mem PtNo of Queue Use                   = 0 " + show::kStars;
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.find("QID"), std::string::npos);
}

TEST_F(QueueTest, ShowOneQueueInDetail) {
    const uint32_t id = Make(4, kFifoSyn, 32, "A-B");
    ASSERT_EQ(Put(id, "1"), 0u);
    ASSERT_EQ(Put(id, "2"), 0u);
    EXPECT_EQ(Take(id), "1");
    const std::string me = show::TaskId(OS_CurTaskIdGet());
    queue_test::ShowCapture capture;
    EXPECT_EQ(UKO_QueueShow(id, 0), 0u);
    std::string text = capture.Text();
    // The storage address and the peak time vary; their lines are checked for shape.
    const std::string addrLabel = "\r\n Queue Msg Start Addr         = ";
    const size_t addr = text.find(addrLabel);
    ASSERT_NE(addr, std::string::npos);
    const size_t addrEnd = text.find("\r\n", addr + 2);
    text.erase(addr, addrEnd - addr);
    const std::string peakLabel = "\r\n Peak Time                    = ";
    const size_t peak = text.find(peakLabel);
    ASSERT_NE(peak, std::string::npos);
    const size_t peakEnd = text.find("\r\n", peak + 2);
    const std::string peakLine = text.substr(peak, peakEnd - peak);
    EXPECT_EQ(peakLine.size(), peakLabel.size() + std::string("0000.00.00 00:00:00[LMT]").size());
    EXPECT_EQ(peakLine.substr(peakLine.size() - 5), "[LMT]");
    text.erase(peak, peakEnd - peak);
    const std::string want =
        show::kStars +
        "\r\n Queue ID                     = " + std::to_string(id) +
        "\r\n Queue Name                   = A B"
        "\r\n Queue Mode                   = FIFO|SYN"
        "\r\n Queue Trace Switch           = Fasle"
        "\r\n Total Length                 = 4"
        "\r\n Current Length               = 1"
        "\r\n Used Percent                 = 25%"
        "\r\n Max Msg Size                 = 32"
        "\r\n Queue Msg Head Index         = 1"
        "\r\n Queue Msg Tail Index         = 2"
        "\r\n Total Write Count            = 2"
        "\r\n Total Read Count             = 1"
        "\r\n Write Count For Msg Full     = 0 (Asy Write)"
        "\r\n Write Count For Time Out     = 0 (Syn Write)"
        "\r\n Read Count For No Msg        = 0 (Asy Read)"
        "\r\n Read Count For Time Out      = 0 (Syn Read)"
        "\r\n Count Of Waiting To Write    = 0"
        "\r\n Count Of Waiting To Read     = 0"
        "\r\n Task ID Created This Queue   = " + me + " (0 For None)" +
        "\r\n Task ID Last-Readed-OK       = " + me + " (0 For None)" +
        "\r\n Task ID Last-Writed-OK       = " + me + " (0 For None)" +
        "\r\n Task ID Writing-Blocked      = 0 (0 For None)"
        "\r\n Task ID Reading-Blocked      = 0 (0 For None)"
        "\r\n Peak Length                  = 2" +
        show::kStars;
    EXPECT_EQ(text, want);
}

TEST_F(QueueTest, ShowOfAnyOtherIdPrintsTheUsage) {
    const uint32_t deleted = Make(1);
    ASSERT_EQ(UKO_QueueDelete(deleted), 0u);
    for (uint32_t id : {0xFFFFFFFFu, deleted, 301u}) {
        queue_test::ShowCapture capture;
        EXPECT_EQ(UKO_QueueShow(id, 0), UKO_EINVAL) << id;
        EXPECT_EQ(capture.Text(),
                  show::kStars +
                      "\r\nInvalid QueueID,show queue info usage help of parameter QueueID:"
                      "\r\n 0         : show brief info of all queues"
                      "\r\n QueueID   : show detail info of special queue"
                      "\r\n 0xffffffff: show the help info" +
                      show::kStars)
            << id;
    }
}

}  // namespace
