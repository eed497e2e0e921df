#pragma once
// Inside the OS time keeping: the CPU-tick lock that the counter snapshot takes.

// Makes the CPU-tick lock (an OS mutex with default attributes) once; later calls
// return 0. The CPU tick's start (OSAL_CpuTickInit) calls it. 0, or the thread
// library's error number.
int ukoCpuTickLockCreate();
