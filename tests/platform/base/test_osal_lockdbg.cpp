// Lock-debug state of the semaphores and mutexes: the list helpers, the start-up step
// that prepares the lists once, and the hooks other modules replace.

#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdint>

#include "osal_lock.h"
#include "osal_lock_inner.h"
#include "vt_test/child_process.h"

namespace {

TEST(LockDbgList, InsertAtHeadAndUnlink) {
    UKO_DLL_NODE head;
    UKO_DLL_NODE a;
    UKO_DLL_NODE b;
    UKO_DLL_NODE c;
    ukoDllInit(&head);
    EXPECT_EQ(ukoDllIsEmpty(&head), 1u);
    ukoDllAddHead(&head, &a);
    ukoDllAddHead(&head, &b);
    ukoDllAddHead(&head, &c);
    EXPECT_EQ(ukoDllIsEmpty(&head), 0u);
    // Newest first, both directions consistent.
    EXPECT_EQ(head.pstNext, &c);
    EXPECT_EQ(c.pstNext, &b);
    EXPECT_EQ(b.pstNext, &a);
    EXPECT_EQ(a.pstNext, &head);
    EXPECT_EQ(head.pstPrev, &a);
    EXPECT_EQ(a.pstPrev, &b);
    ukoDllDel(&b);
    EXPECT_EQ(c.pstNext, &a);
    EXPECT_EQ(a.pstPrev, &c);
    EXPECT_EQ(b.pstNext, &b) << "an unlinked node points to itself";
    ukoDllDel(&c);
    ukoDllDel(&a);
    EXPECT_EQ(ukoDllIsEmpty(&head), 1u);
    EXPECT_EQ(head.pstPrev, &head);
}

TEST(LockDbg, StartUpStepPreparesTheListsOnce) {
    auto r = vt_test::RunInChild([] {
        UKO_LOCKDBG_STATE& st = g_stUkoLockDbg;
        // The hooks work before the step: they are initialised data.
        st.stHooks.pfnDelete(nullptr);
        st.pfnMutexRelease(pthread_self());
        st.uiFlags = 0x80000007u;  // whatever was there is reset
        st.uiHistoryCount = 9;
        ASSERT_EQ(ukoLockDbgInit(0), 0u);
        EXPECT_EQ(st.uiFlags, 0u);
        EXPECT_EQ(st.uiHistoryCount, 0u);
        EXPECT_EQ(ukoDllIsEmpty(&st.stSemaList), 1u);
        EXPECT_EQ(ukoDllIsEmpty(&st.stMutexList), 1u);
        // The list locks are OS locks: recursive and owner-checked.
        ASSERT_EQ(OSAL_LockLock(&st.stSemaListLock), 0u);
        ASSERT_EQ(OSAL_LockLock(&st.stSemaListLock), 0u);
        OSAL_LockUnLock(&st.stSemaListLock, 0);
        OSAL_LockUnLock(&st.stSemaListLock, 0);
        ASSERT_EQ(OSAL_LockTryLock(&st.stMutexListLock), 0u);
        OSAL_LockUnLock(&st.stMutexListLock, 0);
        uintptr_t words[3] = {0, 0, 0};
        uintptr_t out = 0;
        EXPECT_EQ(st.stHooks.pfnDbgWordRelease(nullptr, &words[0], &words[1], &words[2], &out), 0u);
        st.stHooks.pfnAcquire(pthread_self(), nullptr);
        st.stHooks.pfnRelease(nullptr);
        st.stHooks.pfnDbgWordAcquire(&words[0]);
        st.stHooks.pfnWait(nullptr, pthread_self());
        EXPECT_EQ(st.pfnVNotify, nullptr);
        // A second start leaves live blocks on their lists.
        UKO_DLL_NODE live;
        ukoDllAddHead(&st.stSemaList, &live);
        ASSERT_EQ(ukoLockDbgInit(0), 0u);
        EXPECT_EQ(st.stSemaList.pstNext, &live);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

struct OwnerEvents {
    int acquires = 0;
    int releases = 0;
    uint16_t flags = 0;
    uint16_t recursion = 0;
    void* block = nullptr;
} g_owner;

void RecordAcquire(pthread_t, uint16_t flags, uint16_t recursion, void* block) {
    ++g_owner.acquires;
    g_owner.flags = flags;
    g_owner.recursion = recursion;
    g_owner.block = block;
}
void RecordRelease(pthread_t) { ++g_owner.releases; }
uint32_t NotifyStub(void*, uint32_t, uintptr_t, uintptr_t) { return 0; }

TEST(LockDbg, MutexOwnershipHooksAndVNotifyAreReplaceable) {
    int block = 0;
    ukoMutexHookSet(RecordAcquire, RecordRelease);
    g_stUkoLockDbg.pfnMutexAcquire(pthread_self(), 4, 2, &block);
    g_stUkoLockDbg.pfnMutexRelease(pthread_self());
    EXPECT_EQ(g_owner.acquires, 1);
    EXPECT_EQ(g_owner.releases, 1);
    EXPECT_EQ(g_owner.flags, 4);
    EXPECT_EQ(g_owner.recursion, 2);
    EXPECT_EQ(g_owner.block, &block);
    ukoMutexHookSet(nullptr, nullptr);
    g_stUkoLockDbg.pfnMutexAcquire(pthread_self(), 4, 1, &block);
    g_stUkoLockDbg.pfnMutexRelease(pthread_self());
    EXPECT_EQ(g_owner.acquires, 1) << "NULL puts the no-op back";
    EXPECT_EQ(g_owner.releases, 1);

    ukoSemaVNotifyHookSet(NotifyStub);
    EXPECT_EQ(g_stUkoLockDbg.pfnVNotify, NotifyStub);
    ukoSemaVNotifyHookSet(nullptr);
}

}  // namespace
