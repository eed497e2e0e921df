#pragma once
// The link's start-up, its two tasks and their queues: state and steps shared by the
// link's modules and their tests.

#include <atomic>
#include <cstdint>

#include "ui_connect.h"

// Queue ids of "SEND" and "FAST" and task ids of "RECV" and "SEND"; 0 until created.
extern std::atomic<uint32_t> g_sendQueueId;
extern std::atomic<uint32_t> g_fastQueueId;
extern std::atomic<uint32_t> g_recvTaskId;
extern std::atomic<uint32_t> g_sendTaskId;
// Raised once every start-up step has succeeded: before that there is no receive task
// to wake and no queue to carry events, so connecting would only look successful.
extern std::atomic<bool> g_linkStarted;

// Messages each queue holds, and its flags: first-in first-out, readers and writers
// may wait.
constexpr uint32_t UI_QUEUE_DEPTH = 4096;
constexpr uint32_t UI_QUEUE_FLAGS = 10;
// The task event that tells "RECV" its connections are in the table.
constexpr uint32_t UI_RECV_START_EVENT = 1;
// Connection tries to the promote service, one second apart.
constexpr uint32_t UI_CONNECT_TRIES = 11;

uint32_t UI_StartUp_Init(const char* pcLogName);
// Names the log and sets its level from sysconfig.ini in the install folder (level 1
// when the file or a valid level is missing). 0, or 1 when the log cannot be named or
// the install folder is unknown.
uint32_t UI_LogFile_Init(const char* pcLogName);
uint32_t UI_Queue_Init();
uint32_t UI_Thread_Init();

// Posts the connection-lost notice on "FAST", unless the link is being ended on
// purpose.
void UI_ConnectLost_Post();

// Test seam: the wait after a failed connection try, in seconds (NULL: sleep). Lets a
// test count the tries without waiting them out.
typedef void (*UI_RETRY_SLEEP_PF)(uint32_t uiSeconds);
void uiConnectRetrySleepSet(UI_RETRY_SLEEP_PF pfnSleep);
