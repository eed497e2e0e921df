#pragma once
// Kernel timers made on the test side: records taken from the kernel's pool, filled as
// a creator of kind-1 and kind-2 timers fills them, counted in the statistics under
// handle 0 and placed on the wheel. The wheel is driven only by the test: the platform
// is brought up without its clock tasks.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "os_time.h"
#include "uko_cputick.h"
#include "uko_handle.h"
#include "uko_mempt.h"
#include "uko_reltmrknl.h"
#include "uko_reltmrknl_inner.h"

namespace reltmr_test {

// The modules the kernel needs, without the clock: nothing ticks but the test.
inline void KernelUp() {
    static bool done = false;
    if (done) {
        return;
    }
    ASSERT_EQ(OS_TickConfigInit(0), 0u);
    ASSERT_EQ(ukoHandleInit(0), 0u);
    ASSERT_EQ(ukoMemPtInit(0), 0u);
    ASSERT_EQ(UKO_CpuTickInit(0), 0u);
    ASSERT_EQ(ukoRelTmKnlInit(0), 0u);
    done = true;
}

// A test timer: the record, the variable that holds it (the handle of the operations)
// and its name in the kind-specific part.
struct TestTimer {
    UKO_ReltmrCb* var = nullptr;
    UKO_ReltmrCb* Record() const { return var; }
};

// Takes a record, fills it and places it. The name goes where the mode keeps it.
inline UKO_ReltmrCb* Start(TestTimer* pTimer, uint32_t kind, uint8_t mode, uint32_t lenTicks,
                           UKO_RELTMR_EXPIRE_PF pfnExpire, uint32_t name) {
    void* priv = nullptr;
    EXPECT_EQ(ukoRelTmCbAlloc(&priv), 0u);
    if (priv == nullptr) {
        return nullptr;
    }
    UKO_ReltmrCb* tm = ukoRelTmCbOfPriv(priv);
    ukoRelTmLock();
    tm->uiKind = kind;
    tm->ucMode = mode;
    tm->uiLenTick = lenTicks;
    tm->uiLenMs = lenTicks * OS_MsPerTickGet();
    tm->uiMissed = 0;
    tm->uiNextDue = ukoRelTmCursorGet();
    tm->pfnExpire = pfnExpire;
    tm->ulMsgInQueue = 0;
    tm->ucDelFlag = 0;
    std::memset(tm->aucPriv, 0, sizeof(tm->aucPriv));
    if ((mode & UKO_RELTIMER_CALLBACK) != 0) {
        std::memcpy(tm->aucPriv + offsetof(UKO_RELTMR_CBK_PRIV, uiName), &name, sizeof(name));
    } else {
        std::memcpy(tm->aucPriv + UKO_RELTMR_MSG_NAME_OFF, &name, sizeof(name));
    }
    pTimer->var = tm;
    tm->phOwner = &pTimer->var;
    EXPECT_EQ(ukoReltmrDbgHandleStatAdd(0, tm), 0u);
    ukoRelTmInsert(tm);
    ukoRelTmUnlock();
    return tm;
}

inline uint8_t StateOf(const UKO_ReltmrCb* tm) {
    uint32_t state = 0;
    EXPECT_EQ(UKO_ReltmrStatusGet(const_cast<UKO_ReltmrCb*>(tm), &state), 0u);
    return static_cast<uint8_t>(state);
}

}  // namespace reltmr_test
