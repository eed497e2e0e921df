#include "os_clock.h"

#include <pthread.h>

#include "osal_lock.h"
#include "uko_errcode.h"

namespace {

pthread_mutex_t g_globalLock;
pthread_once_t g_globalLockOnce = PTHREAD_ONCE_INIT;
uint32_t g_globalLockCreateResult = UKO_EINVAL;

void GlobalLockCreate() { g_globalLockCreateResult = OSAL_LockCreate(&g_globalLock); }

}  // namespace

uint32_t OS_GlobalLockInit() {
    // Created exactly once, whichever comes first: this call or the first take. A
    // second creation could not be told apart from re-initialising a held lock.
    (void)pthread_once(&g_globalLockOnce, GlobalLockCreate);
    return g_globalLockCreateResult;
}

uint32_t OS_GlobalLock() {
    (void)OS_GlobalLockInit();
    (void)OSAL_LockLock(&g_globalLock);
    return 0;
}

void OS_GlobalUnlock(uint32_t /*uiUnused*/) { (void)OSAL_LockUnLock(&g_globalLock, 0); }
