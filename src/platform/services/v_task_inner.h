#pragma once
// Inside the task adaptation table: the layout of a block.

#include <cstdint>

#include "v_task.h"

struct TSK_ADAPT_CB {
    UKO_TaskCb* pstTaskCb;                   // NULL while the id is free; atomic access
    char acLongName[TSK_LONG_NAME_LEN];      // under the table lock
    uint32_t auiTaskVar[TSK_TASK_VAR_NUM];   // under the table lock
};

// Copies the long name of a task's block into pcOut (TSK_LONG_NAME_LEN bytes): 0, or 22
// when the id has no block.
uint32_t tskLongNameGet(uint32_t uiTaskId, char* pcOut);
