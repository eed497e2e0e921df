#pragma once
// The update program's start of the platform and its log, and the two functions every
// line of the program passes through. Each line's message starts with "[65535]", after
// the log's own prefix.

#include <cstdint>

#include <QString>

// The module the update program's lines are written under (printed as "UPDATE").
constexpr uint32_t UPDATE_LOG_MODULE = 3;

// Starts the platform and names the log "VanTreloUpdate". 0 when both are up, 1 (logged)
// otherwise; the program goes on either way.
int Update_StartUp_Init();

// One log line, "[65535]" followed by the text (UTF-8). Always 0.
int Update_Log(uint32_t uiModule, uint32_t uiLevel, const char* pcText);

// The text as UTF-8 through Update_Log; its result.
int Update_WriteLog(uint32_t uiModule, uint32_t uiLevel, const QString& text);
