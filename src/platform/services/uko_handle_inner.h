#pragma once
// Inside the handle registry: the array lock-free readers index, for tests of its growth.

#include <cstdint>

// The current handle array (its entries are the handles' nodes) and its size.
void* const* ukoHandleArrayGet(uint32_t* puiSize);
