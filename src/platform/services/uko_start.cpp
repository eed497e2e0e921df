#include "uko_start.h"

#include "ddm_log.h"
#include "jqr_mem.h"
#include "jqr_queue.h"
#include "jqr_task.h"
#include "jqr_timer.h"
#include "os_clock.h"
#include "os_time.h"
#include "osal_lock.h"
#include "uko_cputick.h"
#include "uko_handle.h"
#include "uko_mempt.h"
#include "uko_queue.h"
#include "uko_reltmrknl.h"
#include "uko_rescb.h"
#include "uko_spl.h"
#include "uko_task.h"
#include "uko_tick.h"
#include "v_sm.h"
#include "v_task.h"

namespace {

// The platform's modules in the order they must come up. The order carries the
// dependencies between them: the tick configuration before anything that converts
// ticks, the partitions before every module that takes memory from the system
// partition, the control-block tables before the task and queue tables that live in
// them, the task module before the clock tasks and the task adaptation table, the
// clock before the tick that hooks into it, and the log last. A module joins this
// table at its own place when it is added to the platform.
constexpr UKO_START_STEP kSteps[] = {
    {"OS_TickConfigInit", OS_TickConfigInit},
    {"UKO_SplIni", UKO_SplIni},
    {"ukoHandleInit", ukoHandleInit},
    {"ukoMemPtInit", ukoMemPtInit},
    {"UKO_CpuTickInit", UKO_CpuTickInit},
    {"ukoRescbinit", ukoRescbinit},
    {"ukoLockDbgInit", ukoLockDbgInit},
    {"UKO_TaskInit", UKO_TaskInit},
    {"JQR_MemInit", JQR_MemInit},
    {"OS_ClockInit", OS_ClockInit},
    {"TSK_TaskInit", TSK_TaskInit},
    {"UKO_TickInit", UKO_TickInit},
    {"Sema4Init", Sema4Init},
    {"ukoTickCycleHookInit", ukoTickCycleHookInit},
    {"ukoQueueInit", ukoQueueInit},
    {"ukoRelTmKnlInit", ukoRelTmKnlInit},
    {"JQR_QueueInit", JQR_QueueInit},
    {"JQR_TaskInit", JQR_TaskInit},
    {"JQR_TimerInit", JQR_TimerInit},
    {"JQR_ReservedInit", JQR_ReservedInit},
    {"DDM_LogEnvInit", DDM_LogEnvInit},
};

}  // namespace

uint32_t JQR_ReservedInit(uint32_t /*arg*/) { return 0; }

const UKO_START_STEP* ukoStartStepsGet(size_t* count) {
    if (count != nullptr) {
        *count = sizeof(kSteps) / sizeof(kSteps[0]);
    }
    return kSteps;
}

uint32_t ukoStartRun(const UKO_START_STEP* steps, size_t count) {
    uint32_t sum = 0;
    uint32_t firstFailure = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t result = steps[i].pfnInit(0);
        sum += result;
        if (result != 0 && firstFailure == 0) {
            firstFailure = result;
        }
    }
    if (firstFailure == 0) {
        TSK_PlatformStartedSet();
        return 0;
    }
    // Failing steps whose results add up to a multiple of 2^32 must still read as a
    // failure, or the caller would go on as if the platform were up.
    return sum != 0 ? sum : firstFailure;
}

uint32_t UKO_Start() {
    size_t count = 0;
    const UKO_START_STEP* steps = ukoStartStepsGet(&count);
    return ukoStartRun(steps, count);
}
