#include "osal_lock.h"

#include <cerrno>

#include "uko_errcode.h"

uint32_t OSAL_LockCreate(pthread_mutex_t* pLock) {
    pthread_mutexattr_t attr;
    if (pLock == nullptr || pthread_mutexattr_init(&attr) != 0) {
        return UKO_EINVAL;
    }
    // Modules take their own lock again inside operations that already hold it, so
    // the lock must count its takes; the recursive type also refuses an unlock by a
    // thread that does not hold it.
    int rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0) {
        rc = pthread_mutex_init(pLock, &attr);
    }
    pthread_mutexattr_destroy(&attr);
    return rc == 0 ? 0 : UKO_EINVAL;
}

uint32_t OSAL_LockDelete(pthread_mutex_t* pLock) {
    if (pLock == nullptr || pthread_mutex_destroy(pLock) != 0) {
        return UKO_EFAULT;
    }
    return 0;
}

// A missing lock gets the thread library's own answer for an invalid mutex instead of a
// crash inside it.
uint32_t OSAL_LockLock(pthread_mutex_t* pLock) {
    return pLock == nullptr ? static_cast<uint32_t>(EINVAL) : static_cast<uint32_t>(pthread_mutex_lock(pLock));
}

uint32_t OSAL_LockTryLock(pthread_mutex_t* pLock) {
    return pLock == nullptr ? static_cast<uint32_t>(EINVAL) : static_cast<uint32_t>(pthread_mutex_trylock(pLock));
}

uint32_t OSAL_LockUnLock(pthread_mutex_t* pLock, uint32_t /*uiUnused*/) {
    return pLock == nullptr ? static_cast<uint32_t>(EINVAL) : static_cast<uint32_t>(pthread_mutex_unlock(pLock));
}

void* OSAL_MemPtAddrGet(const char* /*pcItemName*/) { return nullptr; }

namespace {

struct ErrnoRow {
    int osErrno;
    uint32_t platform;
};

// The platform's numbers by errno name. Several names share a number on this OS
// (EAGAIN/EWOULDBLOCK, EDEADLK/EDEADLOCK, ENOTSUP/EOPNOTSUPP); the first row wins.
constexpr ErrnoRow kErrnoMap[] = {
    {EPERM, 1},          {ENOENT, 2},          {ESRCH, 3},           {EINTR, 4},
    {EIO, 5},            {ENXIO, 6},           {E2BIG, 7},           {ENOEXEC, 8},
    {EBADF, 9},          {ECHILD, 10},         {ENOMEM, 12},         {EACCES, 13},
    {EFAULT, 14},        {ENOTBLK, 15},        {EBUSY, 16},          {EEXIST, 17},
    {EXDEV, 18},         {ENODEV, 19},         {ENOTDIR, 20},        {EISDIR, 21},
    {EINVAL, 22},        {ENFILE, 23},         {EMFILE, 24},         {ENOTTY, 25},
    {ETXTBSY, 26},       {EFBIG, 27},          {ENOSPC, 28},         {ESPIPE, 29},
    {EROFS, 30},         {EMLINK, 31},         {EPIPE, 32},          {EDOM, 33},
    {ERANGE, 34},        {EDEADLK, 35},        {EAGAIN, 35},         {EINPROGRESS, 114},
    {EALREADY, 113},     {ENOTSOCK, 87},       {EDESTADDRREQ, 88},   {EMSGSIZE, 89},
    {EPROTOTYPE, 90},    {ENOPROTOOPT, 91},    {EPROTONOSUPPORT, 92}, {ESOCKTNOSUPPORT, 93},
    {EPFNOSUPPORT, 95},  {EAFNOSUPPORT, 96},   {EADDRINUSE, 97},     {EADDRNOTAVAIL, 98},
    {ENETDOWN, 99},      {ENETUNREACH, 100},   {ENETRESET, 101},     {ECONNABORTED, 102},
    {ECONNRESET, 103},   {ENOBUFS, 104},       {EISCONN, 105},       {ENOTCONN, 106},
    {ESHUTDOWN, 107},    {ETOOMANYREFS, 108},  {ETIMEDOUT, 109},     {ECONNREFUSED, 110},
    {ELOOP, 40},         {ENAMETOOLONG, 36},   {EHOSTDOWN, 111},     {EHOSTUNREACH, 112},
    {ENOTEMPTY, 39},     {EUSERS, 86},         {EDQUOT, 121},        {ESTALE, 115},
    {EREMOTE, 65},       {ENOLCK, 37},         {ENOSYS, 38},         {EOVERFLOW, 74},
    {EIDRM, 43},         {ENOMSG, 42},         {EILSEQ, 83},         {EBADMSG, 73},
    {EMULTIHOP, 71},     {ENODATA, 60},        {ENOLINK, 66},        {ENOSR, 62},
    {ENOSTR, 59},        {EPROTO, 70},         {ETIME, 61},          {EOPNOTSUPP, 94},
};

}  // namespace

uint32_t OSAL_ErrnoConvert(int64_t llOsErrno) {
    if (llOsErrno < 1) {
        return 4096;
    }
    for (const ErrnoRow& row : kErrnoMap) {
        if (row.osErrno == llOsErrno) {
            return row.platform;
        }
    }
    return 4096;
}

uint32_t UKO_ErrnoSet(uint32_t uiErrno) {
    errno = static_cast<int>(uiErrno);
    return 0;
}

uint32_t UKO_ErrnoGet() { return static_cast<uint32_t>(errno); }
