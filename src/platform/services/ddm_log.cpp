// Rotating log. One lock guards the folder text, the process and user names, the
// current number and the files themselves; the filter is read by every caller without
// it, so its bytes are atomics.
//
// Nothing on the way of a line may report through the platform's log hook or the
// bounded library's failure hook: either could come back here. So the log formats
// with the bounded library's own functions, not their reporting wrappers, and keeps
// its failures to itself.

#include "ddm_log.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <vector>

#include "ddm_log_inner.h"
#include "jqr_mem.h"
#include "sec_lib.h"
#include "uko_secfunc.h"

const char* const DDM_LogModuleNames[DDM_LOG_MODULE_COUNT] = {
    "UI",   "RPC",  "TULM",  "UPDATE", "ZIRPA", "CAPI",  "CADM", "CPFM", "CNEM",
    "IPSEC", "NETF", "CAUTH", "NETC",  "CEPS",  "VNIC",  "ROUTE", "PROXY", "PAC",
    "FRAME", "CFM",  "CERT",  "IPSC",  "IKE",   "L2TP",  "PPP",  "PREF", "CAUZ"};

const char* const DDM_LogLevelNames[DDM_LOG_LEVEL_COUNT] = {"DEBUG", "INFO", "WARN", "ERROR"};

namespace {

constexpr char kFilePrefix[] = "VanTrelo";
constexpr char kFileSuffix[] = ".log";
constexpr char kLogFolder[] = "/.VanTrelo/log";
constexpr uint32_t kLogModulePlatform = 4;
// "VanTrelo_" + name + "_" + up to 9 digits + ".log" within a file name of 255 bytes.
constexpr size_t kProcessNameMax = 255 - (sizeof(kFilePrefix) + 1 + 9 + sizeof(kFileSuffix) - 1);
static_assert(kProcessNameMax == 232, "longest process name");
// Numbers a single line may move on before the log gives up looking for a writable
// file: more than the files kept, so a run of full or foreign entries is passed.
constexpr uint32_t kMaxMoves = 2 * DDM_LOG_FILES_KEPT;
constexpr uint64_t kCoreLimitWanted = 0x7FFFFFFFFFFFFFFFull;
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0644;

// Everything here is read and written under the log lock once the lock exists.
struct LogState {
    char acDir[DDM_PATH_SIZE] = "";  // ends with '/', or empty for the working folder
    char acProcess[DDM_NAME_SIZE] = "VanTreloCS";
    char acUser[DDM_NAME_SIZE] = "Admin";
    uint32_t uiNumber = 0;
    char acCorePattern[DDM_PATH_SIZE] = "";
};
LogState g_state;

std::atomic<pthread_mutex_t*> g_lock{nullptr};
std::atomic<uint8_t> g_filter[DDM_LOG_MODULE_COUNT][DDM_LOG_LEVEL_COUNT];

uint32_t PasswdLookup(uid_t uid, char* pcName, size_t nameSize, char* pcHome, size_t homeSize);
std::atomic<DDM_USER_LOOKUP_PF> g_userLookup{PasswdLookup};

// The log lock, taken for the object's life. Before the lock exists (the log is not
// set up yet, so no other thread writes) it takes nothing.
class Locked {
public:
    Locked() : lock_(g_lock.load(std::memory_order_acquire)) {
        if (lock_ != nullptr) {
            (void)UKO_Lock(lock_);
        }
    }
    ~Locked() {
        if (lock_ != nullptr) {
            (void)UKO_Unlock(lock_);
        }
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pthread_mutex_t* lock_;
};

// Formats the whole text or nothing: a path that does not fit must not become another
// path. false leaves the buffer empty.
bool FormatWhole(char* pcBuf, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool FormatWhole(char* pcBuf, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int rc = vsprintf_s(pcBuf, size, format, args);
    va_end(args);
    return rc >= 0;
}

// Formats at most count characters, keeping what fits.
void FormatCutV(char* pcBuf, size_t size, size_t count, const char* format, va_list args) {
    pcBuf[0] = '\0';
    (void)vsnprintf_s(pcBuf, size, count, format, args);
    pcBuf[size - 1] = '\0';
}

void FormatCut(char* pcBuf, size_t size, size_t count, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void FormatCut(char* pcBuf, size_t size, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatCutV(pcBuf, size, count, format, args);
    va_end(args);
}

// Copies a text, cut to what the buffer holds.
void CopyCut(char* pcDest, size_t size, const char* pcSrc) {
    size_t n = strnlen(pcSrc, size - 1);
    memcpy(pcDest, pcSrc, n);
    pcDest[n] = '\0';
}

// Keeps the caller's errno: platform modules set it to their failure code and then
// report through the log hook, so the line written for the report must not change it.
class ErrnoKept {
public:
    ErrnoKept() : saved_(errno) {}
    ~ErrnoKept() { errno = saved_; }
    ErrnoKept(const ErrnoKept&) = delete;
    ErrnoKept& operator=(const ErrnoKept&) = delete;

private:
    int saved_;
};

// Opens a file for appending, never through a symbolic link (another local user could
// otherwise point the log at any file the client may write) and never waiting on a
// pipe planted at the name. Only a plain file is accepted.
int OpenAppend(const char* pcPath) {
    int fd;
    do {
        fd = open(pcPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                  kFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        (void)close(fd);
        return -1;
    }
    return fd;
}

// false when the text could not be written whole (a full disk, a file-size limit).
bool WriteAll(int fd, const char* pcText, size_t len) {
    while (len > 0) {
        const ssize_t n = write(fd, pcText, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        pcText += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool AppendText(const char* pcPath, const char* pcText) {
    const int fd = OpenAppend(pcPath);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, pcText, strlen(pcText));
    (void)close(fd);
    return written;
}

bool LogFilePath(char* pcBuf, uint32_t uiNumber) {
    return FormatWhole(pcBuf, DDM_PATH_SIZE, "%s%s_%s_%d%s", g_state.acDir, kFilePrefix,
                       g_state.acProcess, static_cast<int>(uiNumber), kFileSuffix);
}

// The password database's entry of a user id, read with the reentrant call.
uint32_t PasswdLookup(uid_t uid, char* pcName, size_t nameSize, char* pcHome, size_t homeSize) {
    std::vector<char> buffer(4096);
    for (;;) {
        passwd entry{};
        passwd* result = nullptr;
        const int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr) {
            return 1;
        }
        CopyCut(pcName, nameSize, entry.pw_name != nullptr ? entry.pw_name : "");
        CopyCut(pcHome, homeSize, entry.pw_dir != nullptr ? entry.pw_dir : "");
        return 0;
    }
}

struct UserInfo {
    char acName[DDM_NAME_SIZE] = "";
    char acHome[DDM_PATH_SIZE] = "";
    bool found = false;
};

UserInfo UserLookup() {
    UserInfo info;
    info.found = g_userLookup.load(std::memory_order_acquire)(getuid(), info.acName,
                                                             sizeof(info.acName), info.acHome,
                                                             sizeof(info.acHome)) == 0;
    if (!info.found) {
        info.acName[0] = '\0';
        info.acHome[0] = '\0';
    }
    return info;
}

// The name a line carries: the login name, else what the session says, else the user
// id. A user the password database does not know still gets a log.
void UserNameGet(char* pcBuf, size_t size) {
    const UserInfo info = UserLookup();
    if (info.acName[0] != '\0') {
        CopyCut(pcBuf, size, info.acName);
        return;
    }
    for (const char* var : {"USER", "LOGNAME"}) {
        const char* value = getenv(var);
        if (value != nullptr && value[0] != '\0') {
            CopyCut(pcBuf, size, value);
            return;
        }
    }
    FormatCut(pcBuf, size, size - 1, "%u", static_cast<unsigned>(getuid()));
}

// A log file name of this process: "VanTrelo_<name>_<decimal>.log" with a plain decimal
// number (no sign, no leading zero) up to the highest number. These are the only names
// the log writes and deletes, so nothing else may count as one of its files.
bool LogFileNumberParse(const char* pcEntry, const char* pcProcess, uint32_t* puiNumber) {
    const size_t prefixLen = sizeof(kFilePrefix) - 1;
    if (strncmp(pcEntry, kFilePrefix, prefixLen) != 0 || pcEntry[prefixLen] != '_') {
        return false;
    }
    const char* p = pcEntry + prefixLen + 1;
    const size_t nameLen = strlen(pcProcess);
    if (strncmp(p, pcProcess, nameLen) != 0 || p[nameLen] != '_') {
        return false;
    }
    p += nameLen + 1;
    const char* digits = p;
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (p - digits >= 9) {
            return false;  // more digits than the highest number has
        }
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    const size_t digitCount = static_cast<size_t>(p - digits);
    if (digitCount == 0 || (digitCount > 1 && digits[0] == '0') || value > DDM_LOG_NUMBER_MAX ||
        strcmp(p, kFileSuffix) != 0) {
        return false;
    }
    *puiNumber = value;
    return true;
}

uint32_t MakeFolder(const char* pcPath) {
    if (mkdir(pcPath, kFolderMode) != 0) {
        if (errno == EEXIST && DDM_DirExists(pcPath) == 1) {
            return 0;  // made by someone else meanwhile
        }
        (void)DDM_LogInitFail("[ddm log init failed][reason:mkdir %s failed]\n", pcPath);
        return 1;
    }
    // The mode must not depend on the umask: the folder holds the user's diagnostics.
    if (chmod(pcPath, kFolderMode) != 0) {
        (void)DDM_LogInitFail("[ddm log init failed][reason:chmod %s fail]\n", pcPath);
        return 1;
    }
    return 0;
}

}  // namespace

// ---- Internal operations ------------------------------------------------------------------

uint32_t DDM_LogInitFail(const char* format, ...) {
    if (format == nullptr) {
        return 1;
    }
    char text[DDM_MSG_SIZE];
    va_list args;
    va_start(args, format);
    FormatCutV(text, sizeof(text), sizeof(text) - 1, format, args);
    va_end(args);
    char path[DDM_PATH_SIZE];
    {
        Locked lock;
        if (!FormatWhole(path, sizeof(path), "%s%ld_LogInfo%s", g_state.acDir,
                         static_cast<long>(getpid()), kFileSuffix)) {
            return 1;
        }
    }
    return AppendText(path, text) ? 0 : 1;
}

uint32_t DDM_DirExists(const char* pcPath) {
    if (pcPath == nullptr) {
        return 0;
    }
    struct stat st;
    if (stat(pcPath, &st) == 0) {
        return S_ISDIR(st.st_mode) ? 1 : 0;
    }
    if (errno == EACCES) {
        (void)DDM_LogInitFail("[ddm log init failed][reason:have no access to %s]\n", pcPath);
    }
    return 0;
}

uint32_t DDM_DirCreate(const char* pcPath) {
    if (pcPath == nullptr) {
        return 1;
    }
    if (pcPath[0] == '\0') {
        return 0;
    }
    Locked lock;
    if (DDM_DirExists(pcPath) == 1) {
        return 0;
    }
    // The parent (.VanTrelo) is made first when it is missing too; nothing above it.
    char parent[DDM_PATH_SIZE];
    CopyCut(parent, sizeof(parent), pcPath);
    size_t len = strlen(parent);
    while (len > 1 && parent[len - 1] == '/') {
        parent[--len] = '\0';
    }
    char* slash = strrchr(parent, '/');
    if (slash != nullptr && slash != parent) {
        *slash = '\0';
        if (DDM_DirExists(parent) == 0 && MakeFolder(parent) != 0) {
            return 1;
        }
    }
    return MakeFolder(pcPath);
}

uint32_t DDM_LogDirGet(char* pcBuf, size_t size) {
    if (pcBuf == nullptr || size == 0) {
        return 1;
    }
    memset(pcBuf, 0, size);
    char home[DDM_PATH_SIZE] = "";
    const char* env = getenv("HOME");
    if (env != nullptr && env[0] == '/') {
        CopyCut(home, sizeof(home), env);
    } else {
        const UserInfo info = UserLookup();
        if (info.acHome[0] == '/') {
            CopyCut(home, sizeof(home), info.acHome);
        }
    }
    if (home[0] == '\0') {
        return 1;
    }
    size_t len = strlen(home);
    while (len > 0 && home[len - 1] == '/') {
        home[--len] = '\0';  // "/" itself becomes "", giving "/.VanTrelo/log"
    }
    if (size > DDM_PATH_SIZE) {
        size = DDM_PATH_SIZE;
    }
    if (!FormatWhole(pcBuf, size, "%s%s", home, kLogFolder) || DDM_DirCreate(pcBuf) != 0) {
        memset(pcBuf, 0, size);
        return 1;
    }
    return 0;
}

uint32_t DDM_LogDirSet(const char* pcDir) {
    if (pcDir == nullptr) {
        (void)DDM_LogInitFail("[ddm log init failed][reason:dir is NULL]\n");
        return 1;
    }
    if (pcDir[0] == '\0') {
        (void)DDM_LogInitFail("[ddm log init failed][reason:dir is empty]\n");
        Locked lock;
        g_state.acDir[0] = '\0';
        return 0;
    }
    const size_t len = strlen(pcDir);
    const char* slash = pcDir[len - 1] == '/' ? "" : "/";
    char dir[DDM_PATH_SIZE];
    if (!FormatWhole(dir, sizeof(dir), "%s%s", pcDir, slash)) {
        return 1;
    }
    Locked lock;
    memcpy(g_state.acDir, dir, sizeof(dir));
    return 0;
}

uint32_t DDM_LogNumberScan(const char* pcProcessName, uint32_t* puiMin, uint32_t* puiMax) {
    if (pcProcessName == nullptr || puiMin == nullptr || puiMax == nullptr) {
        return 1;
    }
    uint32_t max = 0;
    uint32_t min = DDM_LOG_NUMBER_MAX;
    uint32_t low = 0;                   // the largest number below the files kept
    uint32_t high = DDM_LOG_NUMBER_MAX;  // the smallest number in the last files kept
    *puiMax = max;
    *puiMin = min;
    Locked lock;
    DIR* dir = opendir(g_state.acDir[0] != '\0' ? g_state.acDir : ".");
    if (dir == nullptr) {
        return 1;
    }
    while (const dirent* entry = readdir(dir)) {
        uint32_t number = 0;
        if (!LogFileNumberParse(entry->d_name, pcProcessName, &number)) {
            continue;
        }
        if (number > max) {
            max = number;
        }
        if (number < min) {
            min = number;
        }
        if (number < DDM_LOG_FILES_KEPT && number > low) {
            low = number;
        }
        if (number > DDM_LOG_NUMBER_MAX - DDM_LOG_FILES_KEPT && number < high) {
            high = number;
        }
    }
    (void)closedir(dir);
    // Files at both ends of the number range: the numbers have wrapped (or start at 0),
    // so the newest file is the largest one near 0 and the oldest the smallest one near
    // the top, read as a negative number.
    if (max == DDM_LOG_NUMBER_MAX || min == 0) {
        max = low;
        min = high - (DDM_LOG_NUMBER_MAX + 1);
    }
    *puiMax = max;
    *puiMin = min;
    return 0;
}

uint32_t DDM_FileRemove(const char* pcPath) {
    return pcPath != nullptr && unlink(pcPath) == 0 ? 0 : 1;
}

// The reentrant conversion: lines of several threads are stamped at once.
uint32_t DDM_TimeStampGet(char* pcBuf, size_t size) {
    if (pcBuf == nullptr || size == 0) {
        return 1;
    }
    pcBuf[0] = '\0';
    timeval tv{};
    tm local{};
    if (gettimeofday(&tv, nullptr) != 0 || localtime_r(&tv.tv_sec, &local) == nullptr) {
        return 1;
    }
    return FormatWhole(pcBuf, size, "%04d-%02d-%02d %02d:%02d:%02d.%06ld", local.tm_year + 1900,
                       local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                       static_cast<long>(tv.tv_usec))
               ? 0
               : 1;
}

uint32_t DDM_LogPrefixFormat(uint32_t uiModule, uint32_t uiLevel, char* pcBuf) {
    if (pcBuf == nullptr || uiModule >= DDM_LOG_MODULE_COUNT || uiLevel >= DDM_LOG_LEVEL_COUNT) {
        return 1;
    }
    char stamp[DDM_STAMP_SIZE];
    (void)DDM_TimeStampGet(stamp, sizeof(stamp));
    return FormatWhole(pcBuf, DDM_PREFIX_SIZE, "[ %-6s %-6s %s ]", DDM_LogModuleNames[uiModule],
                       DDM_LogLevelNames[uiLevel], stamp)
               ? 0
               : 1;
}

// A long message is cut, never dropped: the start of a long diagnostic is what a
// reader needs most.
uint32_t DDM_LogMsgFormat(const char* format, va_list args, char* pcBuf) {
    if (format == nullptr || pcBuf == nullptr) {
        return 1;
    }
    pcBuf[0] = '\0';
    const int rc = vsnprintf_s(pcBuf, DDM_MSG_SIZE, DDM_MSG_SIZE - 1, format, args);
    pcBuf[DDM_MSG_SIZE - 1] = '\0';
    return rc < 0 && pcBuf[0] == '\0' ? 1 : 0;
}

int64_t DDM_FileSizeKbGet(const char* pcPath) {
    struct stat st;
    if (pcPath == nullptr || lstat(pcPath, &st) != 0) {
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        return INT64_MAX;
    }
    return static_cast<int64_t>(st.st_size / 1024) + 1;
}

uint32_t DDM_LogLineAppend(const char* pcPath, const char* pcPrefix, const char* pcMessage) {
    if (pcPath == nullptr || pcPrefix == nullptr || pcMessage == nullptr) {
        return 1;
    }
    // The line buffer keeps room for the newline and the NUL behind the cut text, so an
    // over-long line is shortened rather than lost.
    char line[DDM_LINE_SIZE];
    {
        Locked lock;
        FormatCut(line, sizeof(line), sizeof(line) - 2, "%s[%s] %s", pcPrefix, g_state.acUser,
                  pcMessage);
    }
    const size_t len = strlen(line);
    line[len] = '\n';
    line[len + 1] = '\0';
    return AppendText(pcPath, line) ? 0 : 1;
}

// ---- Set-up -----------------------------------------------------------------------------

uint32_t DDM_LogEnvInit(uint32_t /*uiUnused*/) {
    if (g_lock.load(std::memory_order_acquire) == nullptr) {
        pthread_mutex_t* lock = UKO_LockCreate();
        if (lock == nullptr) {
            return 1;
        }
        g_lock.store(lock, std::memory_order_release);
    }
    // The log works without a folder (it then writes into the working folder) and
    // without core-file settings, so these results do not fail the step.
    char dir[DDM_PATH_SIZE];
    (void)DDM_LogDirGet(dir, sizeof(dir));
    (void)DDM_LogDirSet(dir);
    (void)DDM_CoreDumpEnable();
    (void)DDM_CoreFileSet(dir);

    char user[DDM_NAME_SIZE];
    UserNameGet(user, sizeof(user));
    {
        Locked lock;
        memcpy(g_state.acUser, user, sizeof(user));
    }
    for (auto& row : g_filter) {
        for (uint32_t l = 0; l < DDM_LOG_LEVEL_COUNT; ++l) {
            row[l].store(l == DDM_LOG_DEBUG ? 0 : 1, std::memory_order_relaxed);
        }
    }
    return 0;
}

uint32_t DDM_LogInit(const char* pcProcessName) {
    // The name becomes part of a file name in the log folder: it must stay one plain
    // name there, short enough for the file system with any file number.
    if (pcProcessName == nullptr || pcProcessName[0] == '\0' ||
        strchr(pcProcessName, '/') != nullptr || strlen(pcProcessName) > kProcessNameMax) {
        return 1;
    }
    uint32_t number = 0;
    {
        Locked lock;
        memcpy(g_state.acProcess, pcProcessName, strlen(pcProcessName) + 1);
        uint32_t min = 0;
        uint32_t max = 0;
        (void)DDM_LogNumberScan(g_state.acProcess, &min, &max);
        g_state.uiNumber = max;
        number = max;
    }
    (void)DDM_LogWrite(kLogModulePlatform, DDM_LOG_INFO,
                       "[ddm log init][%s succeed, start log number is %d, pid is %d]",
                       pcProcessName, static_cast<int>(number), static_cast<int>(getpid()));
    return 0;
}

// ---- Writing ----------------------------------------------------------------------------

uint32_t DDM_LogWrite(uint32_t uiModule, uint32_t uiLevel, const char* format, ...) {
    if (format == nullptr || uiModule >= DDM_LOG_MODULE_COUNT || uiLevel >= DDM_LOG_LEVEL_COUNT) {
        return 1;
    }
    if (g_filter[uiModule][uiLevel].load(std::memory_order_relaxed) == 0) {
        return 0;
    }
    ErrnoKept errnoKept;
    char prefix[DDM_PREFIX_SIZE];
    char message[DDM_MSG_SIZE];
    (void)DDM_LogPrefixFormat(uiModule, uiLevel, prefix);
    va_list args;
    va_start(args, format);
    (void)DDM_LogMsgFormat(format, args, message);
    va_end(args);

    Locked lock;
    // The folder may have been removed while the process runs: it is made again. When
    // it cannot be, this and later lines go to the working folder.
    if (DDM_DirCreate(g_state.acDir) != 0) {
        g_state.acDir[0] = '\0';
    }
    char path[DDM_PATH_SIZE];
    (void)LogFilePath(path, g_state.uiNumber);
    // A full file sends the line to the next number, and the file the files kept ago is
    // deleted, so at most that many files remain. A line is never split across files.
    for (uint32_t moves = 0; moves < kMaxMoves; ++moves) {
        if (DDM_FileSizeKbGet(path) < static_cast<int64_t>(DDM_LOG_FILE_FULL / 1024 + 1)) {
            break;
        }
        g_state.uiNumber = g_state.uiNumber == DDM_LOG_NUMBER_MAX ? 0 : g_state.uiNumber + 1;
        int32_t old = static_cast<int32_t>(g_state.uiNumber) - static_cast<int32_t>(DDM_LOG_FILES_KEPT);
        if (old < 0) {
            old += static_cast<int32_t>(DDM_LOG_NUMBER_MAX + 1);
        }
        char oldPath[DDM_PATH_SIZE];
        if (LogFilePath(oldPath, static_cast<uint32_t>(old))) {
            (void)DDM_FileRemove(oldPath);
        }
        (void)LogFilePath(path, g_state.uiNumber);
    }
    (void)DDM_LogLineAppend(path, prefix, message);
    return 0;
}

// ---- Levels and filter ------------------------------------------------------------------

uint32_t DDM_LogLevelSet(uint32_t uiLevel) {
    if (uiLevel >= DDM_LOG_LEVEL_COUNT) {
        return 1;
    }
    for (auto& row : g_filter) {
        for (uint32_t l = 0; l < DDM_LOG_LEVEL_COUNT; ++l) {
            row[l].store(l < uiLevel ? 0 : 1, std::memory_order_relaxed);
        }
    }
    return 0;
}

// A filter of exactly the log's size is accepted: refusing it would leave the last
// module and the error level out of every caller's reach.
uint32_t DDM_LogFilterSet(const uint8_t* const* ppucRows, uint32_t uiModules, uint32_t uiLevels) {
    if (ppucRows == nullptr) {
        return 1;
    }
    if (uiModules > DDM_LOG_MODULE_COUNT || uiLevels > DDM_LOG_LEVEL_COUNT) {
        (void)DDM_LogWrite(kLogModulePlatform, DDM_LOG_ERROR,
                           "[ddm log filter failed][reason:filter is too large]");
        return 1;
    }
    for (uint32_t m = 0; m < uiModules; ++m) {
        if (ppucRows[m] == nullptr) {
            return 1;
        }
    }
    for (uint32_t m = 0; m < uiModules; ++m) {
        for (uint32_t l = 0; l < uiLevels; ++l) {
            g_filter[m][l].store(ppucRows[m][l], std::memory_order_relaxed);
        }
    }
    return 0;
}

uint8_t DDM_LogFilterGet(uint32_t uiModule, uint32_t uiLevel) {
    if (uiModule >= DDM_LOG_MODULE_COUNT || uiLevel >= DDM_LOG_LEVEL_COUNT) {
        return 0;
    }
    return g_filter[uiModule][uiLevel].load(std::memory_order_relaxed);
}

int DDM_Sprintf(char* pcBuf, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int rc = UKO_vsprintf_s(pcBuf, size, format, args);
    va_end(args);
    return rc;
}

// ---- Core files ---------------------------------------------------------------------------

uint32_t DDM_CoreLimitSet(uint64_t uvLimit) {
    rlimit current{};
    if (getrlimit(RLIMIT_CORE, &current) != 0) {
        return 1;
    }
    rlim_t wanted = static_cast<rlim_t>(uvLimit);
    if (current.rlim_max != RLIM_INFINITY && current.rlim_max < wanted) {
        const rlimit raised{wanted, RLIM_INFINITY};
        if (setrlimit(RLIMIT_CORE, &raised) == 0) {
            return 0;
        }
        // Only a privileged process may raise its hard limit: go as far as it allows.
        wanted = current.rlim_max;
    }
    const rlimit soft{wanted, current.rlim_max};
    return setrlimit(RLIMIT_CORE, &soft) == 0 ? 0 : 1;
}

uint32_t DDM_CoreDumpEnable() { return DDM_CoreLimitSet(kCoreLimitWanted); }

uint32_t DDM_CoreDumpDisable() { return DDM_CoreLimitSet(0); }

// The pattern is kept for whoever configures core files; the kernel's setting is
// machine-wide and belongs to the administrator, so it is never written from here.
uint32_t DDM_CoreFileSet(const char* pcDir) {
    if (pcDir == nullptr || pcDir[0] == '\0' || DDM_DirExists(pcDir) != 1) {
        return 1;
    }
    const bool endsWithSlash = pcDir[strlen(pcDir) - 1] == '/';
    char pattern[DDM_PATH_SIZE];
    if (!FormatWhole(pattern, sizeof(pattern),
                     endsWithSlash ? "%spid_%%P_index_%%I.core" : "%s/pid_%%P_index_%%I.core",
                     pcDir)) {
        return 1;
    }
    Locked lock;
    memcpy(g_state.acCorePattern, pattern, sizeof(pattern));
    return 0;
}

// ---- Small helpers ------------------------------------------------------------------------

uint32_t DDM_ProcessIdGet() { return static_cast<uint32_t>(getpid()); }

uint32_t DDM_ThreadIdGet() {
    return static_cast<uint32_t>(static_cast<uint64_t>(pthread_self()) & 0xFFFFFFFFu);
}

uint32_t* DDM_TableLookup(int32_t iKey, DDM_TABLE_RECORD* pstTable) {
    if (pstTable == nullptr) {
        return nullptr;
    }
    for (DDM_TABLE_RECORD* rec = pstTable; rec->iKey >= 0; ++rec) {
        if (rec->iKey == iKey) {
            return &rec->auiValue[0];
        }
    }
    return nullptr;
}

// ---- Seams ----------------------------------------------------------------------------------

void ddmUserLookupSet(DDM_USER_LOOKUP_PF pfnLookup) {
    g_userLookup.store(pfnLookup != nullptr ? pfnLookup : PasswdLookup, std::memory_order_release);
}

uint32_t ddmLogNumberGet() {
    Locked lock;
    return g_state.uiNumber;
}

void ddmLogNumberSet(uint32_t uiNumber) {
    Locked lock;
    g_state.uiNumber = uiNumber;
}

void ddmCorePatternGet(char* pcBuf, size_t size) {
    if (pcBuf == nullptr || size == 0) {
        return;
    }
    Locked lock;
    CopyCut(pcBuf, size, g_state.acCorePattern);
}

void ddmLogDirCopy(char* pcBuf, size_t size) {
    if (pcBuf == nullptr || size == 0) {
        return;
    }
    Locked lock;
    CopyCut(pcBuf, size, g_state.acDir);
}
