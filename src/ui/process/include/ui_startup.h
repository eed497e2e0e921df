#pragma once
// Start-up helpers of the service link: the log level from the configuration file, the
// log entry of the Qt side, and the process mutexes that this system keeps empty.

#include <cstdint>

// The INI file beside the program that sets the log level.
constexpr char UI_SYSCONFIG_FILE[] = "sysconfig.ini";

// Writes text as one log line "[65535]<text>" of the module at the level; 0. A null text
// writes nothing.
uint32_t UI_Log(uint32_t uiModule, uint32_t uiLevel, const char* pcText);

// ClientLogLevel of section GLOBAL in the INI file at path (1 when the key is missing):
// 0 with the level, or 1 for a null argument or a file that cannot be loaded.
uint32_t UI_LogLevel_Read(const char* pcPath, int32_t* piLevel);

// Taking and releasing the browser and client mutexes: present and empty. The takes
// answer 0 (taken).
uint32_t UI_BrowserMutex_Create();
void UI_BrowserMutex_Release();
uint32_t UI_ClientMutex_Create();
void UI_ClientMutex_Release();
