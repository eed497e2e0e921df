#pragma once
// Helpers shared by the queue tests: the platform started once, a queue's waiting
// counts read under its own lock, and waiting for such an observed state.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "osal_lock.h"
#include "task_test_util.h"
#include "uko_queue.h"
#include "uko_queue_inner.h"
#include "uko_secfunc.h"
#include "vt_test/platform.h"

namespace queue_test {

using task_test::WaitFor;

// Tasks blocked reading (bReaders) or writing on a queue, read under its lock.
inline int BlockedOn(uint32_t uiQueueId, bool bReaders) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr) {
        return -1;
    }
    (void)OSAL_LockLock(&cb->stLock);
    const int n = bReaders ? cb->sReadersBlocked : cb->sWritersBlocked;
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return n;
}

// Waits still to be signalled for readers (bReaders) or writers, read under the lock.
inline int ToWake(uint32_t uiQueueId, bool bReaders) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    (void)OSAL_LockLock(&cb->stLock);
    const int n = bReaders ? cb->sReadersToWake : cb->sWritersToWake;
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return n;
}

// Waits until n tasks are blocked reading (writing) on the queue.
inline bool WaitBlocked(uint32_t uiQueueId, bool bReaders, int n) {
    return WaitFor([&] { return BlockedOn(uiQueueId, bReaders) == n; });
}

// Collects every line UKO_ShowPrint accepts while it lives.
class ShowCapture {
public:
    ShowCapture() {
        Lines().clear();
        ukoShowPrintObserverSet(&ShowCapture::Observe);
    }
    ~ShowCapture() { ukoShowPrintObserverSet(nullptr); }
    ShowCapture(const ShowCapture&) = delete;
    ShowCapture& operator=(const ShowCapture&) = delete;

    std::string Text() const {
        std::string all;
        for (const std::string& line : Lines()) {
            all += line;
        }
        return all;
    }

private:
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static void Observe(uint32_t /*uiTarget*/, const char* pcLine) { Lines().emplace_back(pcLine); }
};

}  // namespace queue_test
