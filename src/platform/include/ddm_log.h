#pragma once
// Rotating log. Until the log environment is set up its filter is all off, so lines
// are checked and dropped.

#include <cstdint>

// Module count and level count of the log filter.
constexpr uint32_t DDM_LOG_MODULE_COUNT = 27;
constexpr uint32_t DDM_LOG_LEVEL_COUNT = 4;

// 0, or 1 for a NULL format, module 27 or more, or level 4 or more. Writes one line
// when the filter allows it.
uint32_t DDM_LogWrite(uint32_t uiModule, uint32_t uiLevel, const char* format, ...);
