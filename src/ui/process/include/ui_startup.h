#pragma once
// Start-up helpers of the service link: the log level from the configuration file, the
// log entry of the Qt side, and the process mutexes that this system keeps empty.

#include <cstdint>

#include "uko_task.h"

// Starts the front end's C layer under the log name (the front end passes
// "VanTreloUI"): SIGPIPE ignored, descriptors 0 to 2 opened on /dev/null where they are
// closed (so no connection ever gets one of them), the platform started, the log named
// and set to the level of sysconfig.ini beside the program, the connection table
// cleared, the queues "SEND" and "FAST" created and the tasks "RECV" and "SEND" started.
// Each step runs only when the one before succeeded. 0, or 1 when a step failed
// (logged). Call it once, first, before the process has other threads.
uint32_t UI_Init(const char* pcLogName);

// Creates a platform task named by the first four characters of name that runs entry
// with arg as its first start argument (the others 0), at the platform's default
// priority and stack size. 0 with the task's id, or 1 (logged).
uint32_t UI_Task_Create(const char* pcName, uint64_t uvArg, UKO_TASK_ENTRY_PF pfnEntry,
                        uint32_t* puiTaskId);

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
