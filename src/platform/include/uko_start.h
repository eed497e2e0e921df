#pragma once
// Platform start-up: the single entry that brings every platform module up in its
// fixed order.

#include <cstddef>
#include <cstdint>

// Runs the module initialisations in their fixed order and returns the unsigned
// 32-bit sum of their results (0 when every step succeeded). Raises the
// platform-started flag only when no step failed. Takes no lock; call it once.
uint32_t UKO_Start();

// A reserved start-up step: prepares nothing.
uint32_t JQR_ReservedInit(uint32_t arg);

// One start-up step: its name (the initialisation function's name) and the function.
struct UKO_START_STEP {
    const char* pcName;
    uint32_t (*pfnInit)(uint32_t arg);
};

// The steps UKO_Start runs, in order.
const UKO_START_STEP* ukoStartStepsGet(size_t* count);

// Runs the given steps as UKO_Start runs its own: every step gets 0 and runs whatever
// the earlier ones returned; the results are summed as unsigned 32-bit values. The
// started flag is raised only when no step failed. When steps failed but their sum
// wrapped round to 0, the first failing step's result is returned instead, so a
// failed start never reads as success.
uint32_t ukoStartRun(const UKO_START_STEP* steps, size_t count);
