// The call-stack module: a thread's stack base, kept per thread once found; the
// call-stack captures and their limits; the symbol texts of frames, cut down to bare
// function names on request; and the call-stack device.

#include "os_callstackbase.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os_callstackbase_inner.h"
#include "osal_lock.h"
#include "uko_secfunc.h"

namespace {

#define CALLSTACK_REPORT(...)                                                                   \
    (UKO_LogHookGet())(UKO_LOG_LEVEL_ERROR, 0xFFFF, 0xFFFF, "os_callstackbase",                 \
                       static_cast<uint32_t>(__LINE__), __VA_ARGS__)

constexpr size_t kProcRootMax = 200;
// "/proc/%d/task/%d/stat" with the longest ids and its terminator needs 40 bytes; a
// test folder in place of "/proc" may add up to kProcRootMax more.
constexpr size_t kStatPathLen = 48 + kProcRootMax;
constexpr size_t kStatLineLen = 1024;
constexpr size_t kSymbolTextMax = UKO_CALLSTACK_SYMBOL_LEN - 1;
constexpr uint32_t kOtherThread = 0xFFFFFFFF;

// The key is made on the first use of the stack base, whoever asks first; a failure to
// make it is kept, and the base is then found afresh on every call.
pthread_once_t g_keyOnce = PTHREAD_ONCE_INIT;
pthread_key_t g_baseKey;
uint32_t g_keyResult = 0;  // written inside the once routine only

std::atomic<UKO_CALLSTACK_BASE_HOOK_PF> g_baseHook{nullptr};
std::atomic<int32_t> g_devFd{-1};
std::atomic<const char*> g_devPath{nullptr};
std::atomic<const char*> g_procRoot{nullptr};

void BaseKeyCreate() {
    int rc = pthread_key_create(&g_baseKey, nullptr);
    if (rc != 0) {
        CALLSTACK_REPORT("[ZIRPA-%s]:function pthread_key_create return failed!\n",
                         "ukoCallStackBaseInit");
        g_keyResult = OSAL_ErrnoConvert(rc);
    }
}

// The base of the calling thread's stack, found without the key. The task statistics
// name the process's main stack in every thread's file, so they are only the caller's
// own for the main thread; any other thread takes its own stack's top.
bool OwnBaseFind(uint64_t* puvBase) {
    const pid_t pid = getpid();
    const pid_t tid = gettid();
    if (pid != tid) {
        return OS_TaskStackBaseQuery(puvBase) == 0 && *puvBase != 0;
    }
    UKO_TASK_PROC_STAT stStat;
    if (ukoProcTaskStatRead(pid, tid, &stStat) != 0 || stStat.uvStartStack == 0) {
        return false;
    }
    *puvBase = stStat.uvStartStack;
    return true;
}

bool IsIdentChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '$';
}

// The text pointers and the texts are one block, so that the caller gives everything
// back with one free.
uint32_t BareSymbolsGet(void* const* ppFrames, int iCount, char*** pppcSymbols) {
    const size_t n = static_cast<size_t>(iCount);
    const size_t bytes = n * (sizeof(char*) + UKO_CALLSTACK_SYMBOL_LEN);
    // One byte at least, so that an empty list is still one block to free.
    char* pBlock = static_cast<char*>(calloc(1, bytes != 0 ? bytes : 1));
    if (pBlock == nullptr) {
        return UKO_ENOMEM;
    }
    char** ppcSlots = reinterpret_cast<char**>(pBlock);
    char* pcTexts = pBlock + n * sizeof(char*);
    for (size_t i = 0; i < n; ++i) {
        ppcSlots[i] = pcTexts + i * UKO_CALLSTACK_SYMBOL_LEN;
    }
    if (n != 0) {
        char** ppcOs = backtrace_symbols(ppFrames, iCount);
        if (ppcOs == nullptr) {
            free(pBlock);
            return UKO_ENOMEM;
        }
        for (size_t i = 0; i < n; ++i) {
            if (ppcOs[i] != nullptr) {
                (void)UKO_strncpy_s(ppcSlots[i], UKO_CALLSTACK_SYMBOL_LEN, ppcOs[i],
                                    kSymbolTextMax);
            }
        }
        free(ppcOs);
        char* pcWork = static_cast<char*>(malloc(UKO_CALLSTACK_SYMBOL_LEN));
        if (pcWork == nullptr) {
            free(pBlock);
            return UKO_ENOMEM;
        }
        for (size_t i = 0; i < n; ++i) {
            ukoCallStackSymbolTidy(ppcSlots[i], pcWork);
        }
        free(pcWork);
    }
    *pppcSymbols = ppcSlots;
    return 0;
}

}  // namespace

void ukoCallStackSymbolTidy(char* pcText, char* pcWork) {
    const char* pcStart = nullptr;
    size_t len = 0;
    const char* pcOpen = strrchr(pcText, '(');
    if (pcOpen != nullptr) {
        pcStart = pcOpen + 1;
        while (IsIdentChar(pcStart[len])) {
            ++len;
        }
    }
    if (len == 0) {
        const char* pcBracket = strrchr(pcText, '[');
        if (pcBracket == nullptr) {
            return;
        }
        pcStart = pcBracket + 1;
        // Only a ']' behind the '[' can close the address; one before it belongs to
        // something else in the text.
        const char* pcClose = strchr(pcStart, ']');
        len = pcClose != nullptr ? static_cast<size_t>(pcClose - pcStart) : strlen(pcStart);
        if (len == 0) {
            return;
        }
    }
    if (len > kSymbolTextMax) {
        len = kSymbolTextMax;
    }
    // The span lies inside the text itself: go through the work buffer.
    (void)UKO_strncpy_s(pcWork, UKO_CALLSTACK_SYMBOL_LEN, pcStart, len);
    (void)UKO_strncpy_s(pcText, UKO_CALLSTACK_SYMBOL_LEN, pcWork, len);
}

uint32_t ukoCallStackBaseInit(uint32_t /*uiUnused*/) {
    (void)pthread_once(&g_keyOnce, BaseKeyCreate);
    return g_keyResult;
}

uint32_t ukoCallStackBaseHookSet(UKO_CALLSTACK_BASE_HOOK_PF pfnHook) {
    g_baseHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t ukoCallStackBaseGet(uint64_t* puvBase, uintptr_t ulArg1, uintptr_t ulArg2) {
    if (puvBase == nullptr) {
        return UKO_CALLSTACK_ERR_NO_BASE;
    }
    uint64_t base = 0;
    UKO_CALLSTACK_BASE_HOOK_PF pfnHook = g_baseHook.load(std::memory_order_acquire);
    if (pfnHook != nullptr) {
        pfnHook(&base, ulArg1, ulArg2);
    }
    if (base == 0) {
        const bool keyed = ukoCallStackBaseInit(0) == 0;
        if (keyed) {
            base = reinterpret_cast<uintptr_t>(pthread_getspecific(g_baseKey));
        }
        if (base == 0) {
            if (!OwnBaseFind(&base)) {
                return UKO_CALLSTACK_ERR_NO_BASE;
            }
            if (keyed) {
                (void)pthread_setspecific(g_baseKey,
                                          reinterpret_cast<void*>(static_cast<uintptr_t>(base)));
            }
        }
    }
    *puvBase = base;
    return 0;
}

uint32_t OS_TaskStackBaseQuery(uint64_t* puvBase) {
    if (puvBase == nullptr) {
        return UKO_EINVAL;
    }
    pthread_attr_t attr;
    int rc = pthread_getattr_np(pthread_self(), &attr);
    if (rc != 0) {
        return OSAL_ErrnoConvert(rc);
    }
    void* pLowest = nullptr;
    size_t size = 0;
    rc = pthread_attr_getstack(&attr, &pLowest, &size);
    (void)pthread_attr_destroy(&attr);
    if (rc != 0) {
        return OSAL_ErrnoConvert(rc);
    }
    // The stack grows down from its top: that is where it begins.
    *puvBase = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pLowest)) + size;
    return 0;
}

int32_t ukoProcTaskStatParse(const char* pcLine, UKO_TASK_PROC_STAT* pstStat) {
    if (pcLine == nullptr || pstStat == nullptr) {
        return -1;
    }
    // The process name may hold ')' and blanks itself; the last ')' closes it.
    const char* pcClose = strrchr(pcLine, ')');
    if (pcClose == nullptr) {
        return -1;
    }
    // Blank, state letter, blank: all three must be there before the numbers.
    const char* pcNumbers = pcClose + 1;
    if (strnlen(pcNumbers, 3) < 3) {
        return -1;
    }
    pcNumbers += 3;
    unsigned long v[27] = {};
    int got = UKO_sscanf_s(pcNumbers,
                           "%lu %lu %lu %lu %lu %lu %lu %lu %lu %lu %lu %lu %lu %lu %lu %lu %lu "
                           "%lu %lu %lu %lu %lu %lu %lu %lu %lu %lu",
                           &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                           &v[10], &v[11], &v[12], &v[13], &v[14], &v[15], &v[16], &v[17], &v[18],
                           &v[19], &v[20], &v[21], &v[22], &v[23], &v[24], &v[25], &v[26]);
    // A short line would leave the record's fields unset: every number is needed.
    if (got != 27) {
        return -1;
    }
    pstStat->uvStartCode = v[22];
    pstStat->uvEndCode = v[23];
    pstStat->uvStartStack = v[24];
    pstStat->uvCurStackPtr = v[25];
    pstStat->uvCurInstrPtr = v[26];
    return 0;
}

int32_t ukoProcTaskStatRead(int32_t iPid, int32_t iTid, UKO_TASK_PROC_STAT* pstStat) {
    if (pstStat == nullptr) {
        return -1;
    }
    const char* pcRoot = g_procRoot.load(std::memory_order_acquire);
    char acPath[kStatPathLen];
    if (UKO_snprintf_s(acPath, sizeof(acPath), sizeof(acPath) - 1, "%s/%d/task/%d/stat",
                       pcRoot != nullptr ? pcRoot : "/proc", iPid, iTid) < 0) {
        return -1;
    }
    FILE* pFile = fopen(acPath, "re");
    if (pFile == nullptr) {
        return -1;
    }
    char acLine[kStatLineLen];
    const bool haveLine = fgets(acLine, sizeof(acLine), pFile) != nullptr;
    (void)fclose(pFile);
    if (!haveLine) {
        return -1;
    }
    return ukoProcTaskStatParse(acLine, pstStat);
}

uint32_t ukoCallStackParamCheck(uint32_t uiDepth, uint32_t uiSkip, void** ppFrames,
                                uintptr_t /*ulUnused*/) {
    if (ppFrames == nullptr) {
        return UKO_EINVAL;
    }
    if (uiDepth > UKO_CALLSTACK_DEPTH_MAX || uiSkip > UKO_CALLSTACK_SKIP_MAX) {
        return UKO_CALLSTACK_ERR_RANGE;
    }
    return 0;
}

uint32_t ukoTaskCallStackParamCheck(pthread_t thread, uint32_t uiDepth, uint32_t uiSkip,
                                    void** ppFrames, uintptr_t ulUnused) {
    if (thread == 0) {
        return UKO_EINVAL;
    }
    return ukoCallStackParamCheck(uiDepth, uiSkip, ppFrames, ulUnused);
}

uint32_t OS_CurCallStackGet(uint32_t uiDepth, uint32_t uiSkip, void** ppFrames,
                            uint32_t* puiCount) {
    if (ppFrames == nullptr || puiCount == nullptr) {
        return UKO_EINVAL;
    }
    // No frames are captured here, whatever the limits say.
    *puiCount = 0;
    return ukoCallStackParamCheck(uiDepth, uiSkip, ppFrames, 0);
}

uint32_t OS_CallStackGet(uint32_t uiDepth, uint32_t uiSkip, void** ppFrames, uint32_t* puiCount) {
    return OS_CurCallStackGet(uiDepth, uiSkip, ppFrames, puiCount);
}

uint32_t OS_TaskCallStackGet(pthread_t thread, uint32_t uiDepth, uint32_t uiSkip, void** ppFrames,
                             uint32_t* puiCount) {
    if (ppFrames == nullptr || puiCount == nullptr) {
        return UKO_EINVAL;
    }
    if (uiDepth == 0) {
        *puiCount = 0;
        ppFrames[0] = reinterpret_cast<void*>(UKO_CALLSTACK_EMPTY_MARK);
        return 0;
    }
    if (uiDepth > UKO_CALLSTACK_DEPTH_MAX || uiSkip > UKO_CALLSTACK_SKIP_MAX) {
        return UKO_CALLSTACK_ERR_RANGE;
    }
    if (thread != 0 && !pthread_equal(thread, pthread_self())) {
        // Nothing can be captured for another thread: the caller's count stays as it was,
        // so the result must not read as a capture.
        return kOtherThread;
    }
    *puiCount = 0;
    return 0;
}

uint32_t OS_CallStackSymbolsGet(void* const* ppFrames, int iCount, char*** pppcSymbols,
                                uint32_t uiMode) {
    if (pppcSymbols == nullptr || iCount < 0 || (ppFrames == nullptr && iCount > 0)) {
        return UKO_EINVAL;
    }
    *pppcSymbols = nullptr;
    if (uiMode != UKO_CALLSTACK_SYMBOL_BARE) {
        char** ppcOs = backtrace_symbols(ppFrames, iCount);
        if (ppcOs == nullptr) {
            return UKO_ENOMEM;
        }
        *pppcSymbols = ppcOs;
        return 0;
    }
    return BareSymbolsGet(ppFrames, iCount, pppcSymbols);
}

int32_t OS_CallStackDevOpen(uint32_t /*uiUnused*/) {
    int32_t fd = g_devFd.load(std::memory_order_acquire);
    if (fd != -1) {
        return fd;
    }
    const char* pcPath = g_devPath.load(std::memory_order_acquire);
    int opened;
    do {
        opened = open(pcPath != nullptr ? pcPath : UKO_CALLSTACK_DEV_PATH, O_RDWR | O_CLOEXEC);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        return -1;
    }
    // Two first callers may both open: one descriptor is kept, the other given back.
    int32_t expected = -1;
    if (!g_devFd.compare_exchange_strong(expected, opened, std::memory_order_acq_rel)) {
        (void)close(opened);
        return expected;
    }
    return opened;
}

uint32_t ukoCallStackProcRootSet(const char* pcRoot) {
    if (pcRoot != nullptr && strnlen(pcRoot, kProcRootMax + 1) > kProcRootMax) {
        return UKO_EINVAL;
    }
    g_procRoot.store(pcRoot, std::memory_order_release);
    return 0;
}

void ukoCallStackDevPathSet(const char* pcPath) {
    g_devPath.store(pcPath, std::memory_order_release);
}
