#pragma once
// Inside the OS task layer: what the task module needs when a task ends, and the seams
// tests use.

#include <cstdint>

// Forgets the calling thread's entry under the current-task key.
void osTaskCurClear();
// Switches the calling thread's alternate signal stack off, so that its memory can go.
void osSigAltStackDisable();
// Gives an alternate signal stack made by OS_SigAltStack back to the system partition.
void osSigAltStackFree(void* pSigStack);

// Test seams. The system query OS_TaskInit and OS_SigAltStack read the page size and the
// processor count through (sysconf by default; NULL puts it back).
typedef long (*OS_TASK_SYSCONF_PF)(int iName);
void osTaskSysconfSet(OS_TASK_SYSCONF_PF pfnSysconf);
// The alternate-stack switch OS_TaskInit clears.
void osTaskSigAltStackSwitchSet(uint32_t uiOn);
