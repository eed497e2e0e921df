#pragma once
// What every module of the service link shares: its log modules and the value that
// every log format's leading "[%lu]" is given.

#include <cstdint>

#include "ddm_log.h"

// Log modules as the rotating log prints them.
constexpr uint32_t UI_LOG_UI = 0;     // "UI"
constexpr uint32_t UI_LOG_RPC = 1;    // "RPC"
constexpr uint32_t UI_LOG_CADM = 6;   // "CADM"
constexpr uint32_t UI_LOG_CPFM = 7;   // "CPFM"

// The first value of every log line of the link.
constexpr unsigned long UI_LOG_TAG = 65535;

// Memory id of every block the link allocates.
constexpr uint32_t UI_MEM_ID = 0;
