#pragma once
// Inside the named queues: the registry, for tests.

#include <cstdint>

#include "jqr_queue.h"

// The name registry (UKO_QUEUE_NAME_TABLE_SIZE entries), or NULL before start-up.
UKO_QUEUE_NAME_ENTRY* ukoQueueNameTableGet();
// Entries in use.
uint32_t ukoQueueNameUsedNumGet();
// Test seam: the counter from which the next generated name is made.
void ukoQueueNameCounterSet(uint32_t uiCounter);
