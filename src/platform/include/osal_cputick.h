#pragma once
// The OS side of the CPU tick: the CPU-tick lock, the base itself, and the ways a CPU
// tick base (counter units per OS tick) is found: a base hook, the megahertz line of
// the processor information file, or one second counted against SIGALRM. It builds on
// the counter reads of the OS time keeping only; the CPU tick's conversions sit above.
//
// On this OS the counter is CLOCK_MONOTONIC in nanoseconds. Its rate is exact and does
// not follow the core clock, so the base hook is set from the start to the matching
// base (1,000,000,000 / ticks per second) and start-up never has to measure. The file
// reader and the measurement stay available for a counter of unknown rate.

#include <cstdint>

// ---- CPU-tick lock -------------------------------------------------------------------------
// Makes the CPU-tick lock that the counter snapshot takes (an OS mutex with default
// attributes) once: 0, or the platform error number of the mutex failure. Later calls
// return 0.
uint32_t OSAL_CpuTickInit();

// ---- Base hook -------------------------------------------------------------------------------
// A function that returns a base. Set to OSAL_CpuTickMonotonicBase from the start;
// NULL makes the start-up find the base from the file or by measuring.
typedef uint32_t (*OSAL_CPUTICK_BASE_HOOK_PF)();
void OSAL_CpuTickBaseHookSet(OSAL_CPUTICK_BASE_HOOK_PF pfnHook);
OSAL_CPUTICK_BASE_HOOK_PF OSAL_CpuTickBaseHookGet();
// The base of the monotonic counter: nanoseconds per OS tick (10,000,000 at 100 ticks
// per second).
uint32_t OSAL_CpuTickMonotonicBase();

// ---- Finding the base -----------------------------------------------------------------------
// The file's base when it gives a non-zero one, else the measurement's: 0 with the base
// written, or the measurement's failure (22 for a NULL out).
uint32_t OSAL_CpuTickBaseFind(uint32_t* puiBase);
// The base from the "cpu MHz" line of the processor information file: 0, or -1 (every
// failure is reported).
int32_t OSAL_GetCpuTickBaseByFile(uint32_t* puiBase);
// Counts the counter over one second of SIGALRM: 0 with the base written; 1 when the
// alarm handler cannot be installed or the alarm does not come within about 3 seconds
// (SIGALRM blocked); 22 for a NULL out, or the division's failure.
uint32_t OS_CpuTickBaseMeasure(uint32_t* puiBase);
// SIGALRM handler of the measurement: raises the alarm flag.
void OS_CpuTickAlarmHandler(int iSigNo);

// ---- Writing the base ------------------------------------------------------------------------
// 0, or 22 for 0 and 0xFFFFFFFF (base unchanged). Written under the base lock.
uint32_t OSAL_CpuTickBaseSet(uint32_t uiCpuTickBase);

// ---- Reading the file's numbers -----------------------------------------------------------
// Leading decimal digits of the text (wrapping at 32 bits; 0 without a digit): 0, or 22
// for a NULL pointer.
uint32_t ukoCtkStrToI(const char* pStr, uint32_t* puiNum);

// ---- Test seams ------------------------------------------------------------------------------
// The processor information file both readers open ("/proc/cpuinfo"; NULL puts it
// back). The path is kept by pointer: the caller keeps the text alive.
void ukoCpuTickInfoFileSet(const char* pcPath);
const char* ukoCpuTickInfoFileGet();
// The alarm request of the measurement (alarm() by default; NULL puts it back). It is
// called with 1 to start the second and with 0 to cancel it.
typedef void (*OSAL_CPUTICK_ALARM_PF)(unsigned int uiSeconds);
void ukoCpuTickAlarmSet(OSAL_CPUTICK_ALARM_PF pfnAlarm);
