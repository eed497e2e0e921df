// Control of the promote service and the rights of the service programs.
//
// Three rules hold throughout. A command run as root never sees a path as anything but
// one single-quoted shell word, so no character of the install folder can change what
// root runs. A child process is told everything before fork: in between fork and exec
// it only moves descriptors, closes the rest and execs, because in a threaded process
// a lock that another thread held at fork time (the log's, the allocator's) is never
// released in the child. And the kill by name reaches only this user's processes whose
// program is exactly the promote service, never this process or its ancestors, and
// waits until they are gone so that the new service does not race the dying one for
// its port.

#include "ui_promote.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "jqr_mem.h"
#include "uko_secfunc.h"
#include "ui_common.h"
#include "ui_env.h"
#include "ui_promote_inner.h"

extern char** environ;

namespace {

// The fix-up that makes the engine program and the install helper setuid root. Nobody
// but root may write either file afterwards: a setuid-root program that others can
// write is root for every local user.
constexpr char kFixupFormat[] = "(/bin/chown 0:0 %s %s) && (/bin/chmod 4755 %s %s)";

constexpr char kProcNumFormat[] = "ps -ef | grep %s | grep -v grep | wc -l";
// The count's command is kept to 63 bytes with its terminator; its output line to 128.
constexpr size_t kProcNumCommandBound = 63;
constexpr size_t kProcNumLineSize = 128;

constexpr const char* kPkexecPlaces[] = {"/usr/bin/pkexec", "/bin/pkexec"};
constexpr char kShell[] = "/bin/sh";

// How long the kill waits for the killed processes to be gone, and how often it looks.
constexpr int64_t kKillWaitMs = 3000;
constexpr int64_t kKillPollMs = 10;

constexpr uint32_t kInstallPolls = 10;
constexpr uint32_t kInstallPollMs = 3000;

// ---- Seams --------------------------------------------------------------------------

pthread_mutex_t g_seamLock = PTHREAD_MUTEX_INITIALIZER;
std::string g_runnerProgram;  // guarded by g_seamLock; empty: the real runner
std::string g_pkexecPath;     // guarded by g_seamLock; empty: the system's places
std::atomic<bool> g_runnerAsUser{false};
std::atomic<UI_STAT_PF> g_tulmStat{nullptr};
std::atomic<pid_t> g_killScope{0};
std::atomic<UI_FORK_PF> g_fork{nullptr};
std::atomic<uint32_t> g_installPollMs{0};

std::string SeamText(const std::string& text) {
    (void)pthread_mutex_lock(&g_seamLock);
    std::string copy = text;
    (void)pthread_mutex_unlock(&g_seamLock);
    return copy;
}

void SeamTextSet(std::string* text, const char* value) {
    (void)pthread_mutex_lock(&g_seamLock);
    *text = value != nullptr ? value : "";
    (void)pthread_mutex_unlock(&g_seamLock);
}

// ---- Time ---------------------------------------------------------------------------

int64_t NowMs() {
    timespec ts;
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int64_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// ---- Child processes ----------------------------------------------------------------

// A descriptor moved above standard input, output and error, close-on-exec, so that
// the child's own moves onto 0 and 1 can never overwrite it.
int AboveStdio(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    (void)close(fd);
    return moved;
}

enum class SpawnResult { kStarted, kSetupFailed, kForkFailed, kExecFailed };

// What a child needs, resolved before fork.
struct SpawnPlan {
    const char* pcPath;
    char* const* ppcArgv;
    bool bStdoutToStderr;  // else standard output goes to /dev/null
};

// The child between fork and exec: standard input on /dev/null, standard output on
// /dev/null or standard error, the exec-failure pipe on descriptor 3 and every other
// descriptor from 3 up closed; then exec. Only calls that are safe after fork in a
// threaded process.
[[noreturn]] void ChildExec(const SpawnPlan& plan, int nullFd, int errFd, int maxFd) {
    (void)dup2(nullFd, STDIN_FILENO);
    if (!plan.bStdoutToStderr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        (void)dup2(nullFd, STDOUT_FILENO);
    }
    constexpr int kErrFd = STDERR_FILENO + 1;
    if (errFd != kErrFd) {
        errFd = dup3(errFd, kErrFd, O_CLOEXEC) == kErrFd ? kErrFd : -1;
    }
    if (close_range(kErrFd + 1, ~0U, 0) != 0) {
        for (int fd = kErrFd + 1; fd <= maxFd; ++fd) {
            (void)close(fd);
        }
    }
    (void)execve(plan.pcPath, plan.ppcArgv, environ);
    const int err = errno;
    if (errFd >= 0) {
        (void)!write(errFd, &err, sizeof(err));
    }
    _exit(127);
}

// Starts the plan's program. kStarted with the child's pid once it has exec'd;
// kExecFailed with exec's errno when it could not (the child is reaped); kForkFailed or
// kSetupFailed with errno when no child was made.
SpawnResult Spawn(const SpawnPlan& plan, pid_t* pPid, int* pErr) {
    int nullFd = AboveStdio(open("/dev/null", O_RDWR | O_CLOEXEC));
    int pipeFds[2] = {-1, -1};
    if (nullFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        *pErr = errno;
        if (nullFd >= 0) {
            (void)close(nullFd);
        }
        return SpawnResult::kSetupFailed;
    }
    const int readFd = AboveStdio(pipeFds[0]);
    const int writeFd = AboveStdio(pipeFds[1]);
    rlimit lim{};
    int maxFd = 65535;
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY &&
        lim.rlim_cur < static_cast<rlim_t>(maxFd)) {
        maxFd = static_cast<int>(lim.rlim_cur);
    }
    if (readFd < 0 || writeFd < 0) {
        *pErr = errno;
        (void)close(nullFd);
        (void)close(readFd);
        (void)close(writeFd);
        return SpawnResult::kSetupFailed;
    }
    const UI_FORK_PF forkFn = g_fork.load();
    const pid_t pid = forkFn != nullptr ? forkFn() : fork();
    if (pid == 0) {
        ChildExec(plan, nullFd, writeFd, maxFd);
    }
    const int forkErr = errno;
    (void)close(writeFd);
    (void)close(nullFd);
    if (pid < 0) {
        (void)close(readFd);
        *pErr = forkErr;
        return SpawnResult::kForkFailed;
    }
    // The pipe closes on exec; a failed exec writes its errno first.
    int execErr = 0;
    ssize_t n;
    do {
        n = read(readFd, &execErr, sizeof(execErr));
    } while (n < 0 && errno == EINTR);
    (void)close(readFd);
    *pPid = pid;
    if (n == static_cast<ssize_t>(sizeof(execErr))) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        *pErr = execErr;
        return SpawnResult::kExecFailed;
    }
    return SpawnResult::kStarted;
}

// The pieces as an argument vector for exec; the strings must outlive it.
std::vector<char*> ArgvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);
    return argv;
}

// pkexec's path, or the empty text when the system has none.
std::string PkexecPath() {
    const std::string seam = SeamText(g_pkexecPath);
    if (!seam.empty()) {
        return access(seam.c_str(), X_OK) == 0 ? seam : std::string();
    }
    for (const char* place : kPkexecPlaces) {
        if (access(place, X_OK) == 0) {
            return place;
        }
    }
    return std::string();
}

bool IsRoot() { return geteuid() == 0 && !g_runnerAsUser.load(); }

// The words that run the command as root, or an empty list when there is no way to.
std::vector<std::string> RootWords(const char* pcCommand) {
    const std::string fake = SeamText(g_runnerProgram);
    if (!fake.empty()) {
        return {fake, pcCommand};
    }
    if (IsRoot()) {
        return {kShell, "-c", pcCommand};
    }
    const std::string pkexec = PkexecPath();
    if (!pkexec.empty()) {
        return {pkexec, kShell, "-c", pcCommand};
    }
    return {};
}

// ---- Processes by name --------------------------------------------------------------

// The whole of a small /proc file, or the empty text.
std::string ProcFile(pid_t pid, const char* pcLeaf) {
    char path[64];
    (void)snprintf(path, sizeof(path), "/proc/%d/%s", static_cast<int>(pid), pcLeaf);
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buf[4096];
    ssize_t n;
    while (text.size() < 65536) {
        n = read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    (void)close(fd);
    return text;
}

struct ProcStat {
    char cState;
    pid_t parent;
    unsigned long long ullStart;  // start time in clock ticks since boot
};

// State, parent and start time from /proc/<pid>/stat; false when the process is gone.
bool ProcStatRead(pid_t pid, ProcStat* pstStat) {
    const std::string text = ProcFile(pid, "stat");
    // The name in parentheses may hold blanks and parentheses: the fields follow the
    // last closing one.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    char state = 0;
    int parent = 0;
    unsigned long long start = 0;
    // State, parent, seventeen fields, start time.
    const int got = sscanf(text.c_str() + close + 1,
                           " %c %d %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s "
                           "%*s %*s %llu",
                           &state, &parent, &start);
    if (got != 3) {
        return false;
    }
    *pstStat = ProcStat{state, static_cast<pid_t>(parent), start};
    return true;
}

bool IsDead(char cState) { return cState == 'Z' || cState == 'X' || cState == 'x'; }

bool ProcRealUid(pid_t pid, uid_t* pUid) {
    const std::string text = ProcFile(pid, "status");
    const size_t at = text.find("\nUid:");
    unsigned long uid = 0;
    if (at == std::string::npos || sscanf(text.c_str() + at + 5, "%lu", &uid) != 1) {
        return false;
    }
    *pUid = static_cast<uid_t>(uid);
    return true;
}

const char* BaseName(const char* pcPath) {
    const char* slash = std::strrchr(pcPath, '/');
    return slash != nullptr ? slash + 1 : pcPath;
}

// The process runs the named program: the base name of its executable (also when the
// file was replaced or removed since it started) or of its first argument.
bool ProcNameIs(pid_t pid, const char* pcName) {
    char path[64];
    (void)snprintf(path, sizeof(path), "/proc/%d/exe", static_cast<int>(pid));
    char exe[4096];
    const ssize_t n = readlink(path, exe, sizeof(exe) - 1);
    if (n > 0) {
        exe[n] = '\0';
        constexpr char kDeleted[] = " (deleted)";
        const size_t len = static_cast<size_t>(n);
        if (len > sizeof(kDeleted) - 1 &&
            std::strcmp(exe + len - (sizeof(kDeleted) - 1), kDeleted) == 0) {
            exe[len - (sizeof(kDeleted) - 1)] = '\0';
        }
        if (std::strcmp(BaseName(exe), pcName) == 0) {
            return true;
        }
    }
    const std::string cmdline = ProcFile(pid, "cmdline");
    return !cmdline.empty() && std::strcmp(BaseName(cmdline.c_str()), pcName) == 0;
}

// This process's ancestors, its parent first.
std::vector<pid_t> Ancestors() {
    std::vector<pid_t> chain;
    pid_t pid = getppid();
    ProcStat st;
    while (pid > 0 && chain.size() < 4096) {
        chain.push_back(pid);
        if (pid == 1 || !ProcStatRead(pid, &st)) {
            break;
        }
        pid = st.parent;
    }
    return chain;
}

bool BelowScope(pid_t pid, pid_t scope) {
    ProcStat st;
    for (size_t steps = 0; pid > 1 && steps < 4096; ++steps) {
        if (!ProcStatRead(pid, &st)) {
            return false;
        }
        if (st.parent == scope) {
            return true;
        }
        pid = st.parent;
    }
    return false;
}

struct Victim {
    pid_t pid;
    unsigned long long ullStart;
};

// Still there and not yet dead: the same process (same start time) in a state other
// than a zombie's. A zombie holds no socket any more.
bool StillAlive(const Victim& v) {
    ProcStat st;
    return ProcStatRead(v.pid, &st) && st.ullStart == v.ullStart && !IsDead(st.cState);
}

// ---- Commands -----------------------------------------------------------------------

uint32_t ProcCount(const char* pcName, uint32_t* puiCount) {
    if (puiCount == nullptr || pcName == nullptr || pcName[0] == '\0') {
        return 1;
    }
    // The name is one quoted shell word: whatever it holds stays a grep pattern.
    const std::string quoted = UI_ShellQuote(pcName);
    char command[kProcNumCommandBound + 1] = {};
    if (UKO_sprintf_s(command, kProcNumCommandBound, kProcNumFormat, quoted.c_str()) < 0) {
        return 1;
    }
    FILE* pipe = popen(command, "re");
    if (pipe == nullptr) {
        return 1;
    }
    char line[kProcNumLineSize];
    const bool got = fgets(line, sizeof(line), pipe) != nullptr;
    (void)pclose(pipe);
    if (!got) {
        return 1;
    }
    *puiCount = static_cast<uint32_t>(atoi(line));
    return 0;
}

// The install folder and a path below it, or false when the folder is unknown.
bool InstallPathOf(const char* pcRelPath, std::string* pPath, std::string* pFolder = nullptr) {
    char install[UI_INSTALL_PATH_SIZE];
    if (UI_Get_InstallPath(install) != 0) {
        return false;
    }
    if (pFolder != nullptr) {
        *pFolder = install;
    }
    *pPath = std::string(install) + "/" + pcRelPath;
    return true;
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

// ---- Seams --------------------------------------------------------------------------

void uiRootRunnerSet(const char* pcProgram) { SeamTextSet(&g_runnerProgram, pcProgram); }
void uiPkexecPathSet(const char* pcPath) { SeamTextSet(&g_pkexecPath, pcPath); }
void uiRootRunnerAsUserSet(bool bAsUser) { g_runnerAsUser.store(bAsUser); }
void uiTulmStatSet(UI_STAT_PF pfnStat) { g_tulmStat.store(pfnStat); }
void uiPromoteKillScopeSet(pid_t scopeRoot) { g_killScope.store(scopeRoot); }
void uiPromoteForkSet(UI_FORK_PF pfnFork) { g_fork.store(pfnFork); }
void uiInstallWaitPollSet(uint32_t uiMs) { g_installPollMs.store(uiMs); }

// ---- Quoting and the runner ---------------------------------------------------------

std::string UI_ShellQuote(const char* pcText) {
    std::string out = "'";
    for (const char* p = pcText != nullptr ? pcText : ""; *p != '\0'; ++p) {
        if (*p == '\'') {
            out += "'\\''";
        } else {
            out += *p;
        }
    }
    out += '\'';
    return out;
}

int32_t UI_RootCommand_Run(const char* pcCommand) {
    if (pcCommand == nullptr) {
        return -1;
    }
    std::vector<std::string> words = RootWords(pcCommand);
    if (words.empty()) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Run as administrator][not root and no pkexec found]", UI_LOG_TAG);
        return -1;
    }
    std::vector<char*> argv = ArgvOf(words);
    // Its output goes to standard error: standard output belongs to native messaging.
    const SpawnPlan plan{words[0].c_str(), argv.data(), true};
    pid_t pid = -1;
    int err = 0;
    switch (Spawn(plan, &pid, &err)) {
    case SpawnResult::kStarted:
        break;
    case SpawnResult::kExecFailed:
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Run as administrator][cannot run %s, errno is %d]", UI_LOG_TAG,
                           words[0].c_str(), err);
        return -1;
    default:
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Run as administrator][no child process, errno is %d]",
                           UI_LOG_TAG, err);
        return -1;
    }
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    if (done != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Run as administrator][%s ended with status 0x%x]", UI_LOG_TAG,
                           words[0].c_str(), static_cast<unsigned>(status));
        return -1;
    }
    return 0;
}

// ---- Rights of the service programs -------------------------------------------------

uint32_t NeedModifyTulmFile(const char* pcPath) {
    const UI_STAT_PF statFn = g_tulmStat.load();
    struct stat st {};
    const int rc = pcPath == nullptr ? (errno = ENOENT, -1)
                   : statFn != nullptr ? statFn(pcPath, &st)
                                       : stat(pcPath, &st);
    if (rc != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]NeedModifyTulmFile file not exist %s",
                               UI_LOG_TAG, pcPath != nullptr ? pcPath : "");
        } else {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu]NeedModifyTulmFile attributesOfItemAtPath error", UI_LOG_TAG);
        }
        return 0;
    }
    const unsigned mode = static_cast<unsigned>(st.st_mode) & 07777;
    if (st.st_uid == 0 && st.st_gid == 0 && (mode & S_ISUID) != 0 &&
        (mode & (S_IWGRP | S_IWOTH)) == 0) {
        return 0;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]NeedModifyTulmFile need %d %d %d", UI_LOG_TAG,
                       static_cast<int>(st.st_uid), static_cast<int>(st.st_gid),
                       static_cast<int>(mode));
    return 1;
}

int32_t UI_ModifyTulmFilePrivileges() {
    std::string engine, helper;
    if (!InstallPathOf(UI_ENGINE_RELPATH, &engine) ||
        !InstallPathOf(UI_INSTALL_HELPER_RELPATH, &helper)) {
        return 0;  // no folder, no engine program to examine; already logged
    }
    const std::string qEngine = UI_ShellQuote(engine.c_str());
    const std::string qHelper = UI_ShellQuote(helper.c_str());
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]UI_ModifyTulmFilePrivileges start %s",
                       UI_LOG_TAG, qEngine.c_str());
    if (NeedModifyTulmFile(engine.c_str()) == 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]ModifyFilePrivileges success out",
                           UI_LOG_TAG);
        return 0;
    }
    const size_t size = sizeof(kFixupFormat) + 2 * (qEngine.size() + qHelper.size());
    std::vector<char> command(size);
    (void)snprintf(command.data(), size, kFixupFormat, qEngine.c_str(), qHelper.c_str(),
                   qEngine.c_str(), qHelper.c_str());
    if (UI_RootCommand_Run(command.data()) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]ModifyFilePrivileges error", UI_LOG_TAG);
        return -1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]ModifyFilePrivileges success", UI_LOG_TAG);
    return 0;
}

// ---- Processes by name --------------------------------------------------------------

uint32_t UI_ProcNum_Get(const char* pcName, uint32_t* puiCount) { return ProcCount(pcName, puiCount); }

uint32_t UI_ProcNum_Check(const char* pcName, uint32_t* puiCount) {
    return ProcCount(pcName, puiCount);
}

void UI_PromoteService_Kill() {
    const pid_t self = getpid();
    const uid_t user = getuid();
    const pid_t scope = g_killScope.load();
    const std::vector<pid_t> ancestors = Ancestors();
    std::vector<Victim> killed;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]UI kill Rpc proc, no process list",
                           UI_LOG_TAG);
        return;
    }
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        const long value = strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || value <= 0) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(value);
        bool ancestor = false;
        for (pid_t a : ancestors) {
            ancestor = ancestor || a == pid;
        }
        uid_t owner = 0;
        ProcStat st;
        if (pid == self || ancestor || !ProcRealUid(pid, &owner) || owner != user ||
            !ProcStatRead(pid, &st) || IsDead(st.cState) ||
            !ProcNameIs(pid, UI_PROMOTE_SERVICE_NAME) || (scope != 0 && !BelowScope(pid, scope))) {
            continue;
        }
        if (kill(pid, SIGKILL) == 0) {
            killed.push_back(Victim{pid, st.ullStart});
        }
    }
    (void)closedir(proc);

    const int64_t deadline = NowMs() + kKillWaitMs;
    size_t alive = killed.size();
    while (alive != 0) {
        alive = 0;
        for (const Victim& v : killed) {
            alive += StillAlive(v) ? 1 : 0;
        }
        if (alive == 0 || NowMs() >= deadline) {
            break;
        }
        SleepMs(kKillPollMs);
    }
    if (alive != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN, "[%lu]UI kill Rpc proc, %u still alive",
                           UI_LOG_TAG, static_cast<unsigned>(alive));
    }
}

uint32_t UI_PromoteService_Start() {
    if (UI_ModifyTulmFilePrivileges() < 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Call UI_ModifyTulmFilePrivileges Fail",
                           UI_LOG_TAG);
        return 1;
    }
    uint32_t count = 0;
    if (UI_ProcNum_Get(UI_PROMOTE_SERVICE_NAME, &count) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Call UI_ProcNum_Get Fail", UI_LOG_TAG);
        return 1;
    }
    if (count != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN, "[%lu]UI kill Rpc proc!", UI_LOG_TAG);
        UI_PromoteService_Kill();
    }
    (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_INFO, "[%lu]Call UI_Start_PromoteService 1", UI_LOG_TAG);

    // The program's path is complete before fork; the child does nothing but exec it.
    char path[UI_INSTALL_PATH_SIZE];
    if (UI_Get_InstallPath(path) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Call UI_Get_InstallPath Fail",
                           UI_LOG_TAG);
        return 0;
    }
    if (sizeof(path) - std::strlen(path) <=
        std::strlen(UI_PROMOTE_SERVICE_DIR) + std::strlen(UI_PROMOTE_SERVICE_NAME)) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu]UI_PromoteService_Start error, InstallPath too long", UI_LOG_TAG);
        return 0;
    }
    (void)UKO_strcat_s(path, sizeof(path), UI_PROMOTE_SERVICE_DIR);
    (void)UKO_strcat_s(path, sizeof(path), UI_PROMOTE_SERVICE_NAME);

    char name[sizeof(UI_PROMOTE_SERVICE_NAME)];
    std::memcpy(name, UI_PROMOTE_SERVICE_NAME, sizeof(name));
    char* argv[] = {name, nullptr};
    const SpawnPlan plan{path, argv, false};
    pid_t pid = -1;
    int err = 0;
    switch (Spawn(plan, &pid, &err)) {
    case SpawnResult::kStarted:
        return 0;
    case SpawnResult::kExecFailed:
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]UI_PromoteService_Start Call execl %s error",
                           UI_LOG_TAG, path);
        return 0;
    case SpawnResult::kForkFailed:
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu]UI_PromoteService_Start fork failed, errno is %d", UI_LOG_TAG, err);
        return 1;
    case SpawnResult::kSetupFailed:
    default:
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu]UI_PromoteService_Start cannot prepare the child, errno is %d",
                           UI_LOG_TAG, err);
        return 1;
    }
}

// ---- Administrator rights and installation ------------------------------------------

struct UI_AUTHORIZATION_S {
    uint32_t uiGranted;
};

UI_AUTHORIZATION_REF UI_Authorization_Create() {
    if (SeamText(g_runnerProgram).empty() && !IsRoot() && PkexecPath().empty()) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Run as administrator][not root and no pkexec found]", UI_LOG_TAG);
        return nullptr;
    }
    auto* ref = static_cast<UI_AUTHORIZATION_REF>(UKO_Malloc(UI_MEM_ID, sizeof(UI_AUTHORIZATION_S)));
    if (ref != nullptr) {
        ref->uiGranted = 1;
    }
    return ref;
}

bool UI_Authorization_Exec(const char* pcTool, const char* const* ppcArgs,
                           UI_AUTHORIZATION_REF pstRef) {
    if (pcTool == nullptr || pstRef == nullptr || pstRef->uiGranted != 1) {
        return false;
    }
    std::string command = UI_ShellQuote(pcTool);
    for (const char* const* arg = ppcArgs; arg != nullptr && *arg != nullptr; ++arg) {
        command += ' ';
        command += UI_ShellQuote(*arg);
    }
    return UI_RootCommand_Run(command.c_str()) == 0;
}

void UI_Authorization_Free(UI_AUTHORIZATION_REF pstRef) {
    if (pstRef != nullptr) {
        pstRef->uiGranted = 0;
        (void)UKO_Free(pstRef);
    }
}

void UI_PromoteService_AuthInstall() {
    std::string folder, plist, script;
    if (!InstallPathOf(UI_PROMOTE_PLIST_RELPATH, &plist, &folder) ||
        !InstallPathOf(UI_PROMOTE_INSTALL_SCRIPT_RELPATH, &script)) {
        return;
    }
    (void)fprintf(stderr, "ExitPath : %s\n", plist.c_str());
    if (!FileExists(plist)) {
        return;
    }
    UI_AUTHORIZATION_REF ref = UI_Authorization_Create();
    if (ref != nullptr) {
        const char* args[] = {script.c_str(), folder.c_str(), nullptr};
        (void)UI_Authorization_Exec(kShell, args, ref);
        UI_Authorization_Free(ref);
    }
}

void UI_PromoteService_Install() {
    std::string folder, plist, script;
    if (!InstallPathOf(UI_PROMOTE_PLIST_RELPATH, &plist, &folder) ||
        !InstallPathOf(UI_PROMOTE_INSTALL_SCRIPT_RELPATH, &script)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]Fail to install RPC Service ", UI_LOG_TAG);
        return;
    }
    (void)fprintf(stderr, "ExitPath : %s\n", plist.c_str());
    if (!FileExists(plist)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]RPC Service plist doesn't exist",
                           UI_LOG_TAG);
        return;
    }
    const std::string command = UI_ShellQuote(script.c_str()) + " " + UI_ShellQuote(folder.c_str());
    if (UI_RootCommand_Run(command.c_str()) == 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]Install RPC Service sucessfully", UI_LOG_TAG);
    } else {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]Fail to install RPC Service ", UI_LOG_TAG);
    }
}

void UI_PromoteService_Uninstall() {
    std::string script;
    if (!InstallPathOf(UI_PROMOTE_UNINSTALL_SCRIPT_RELPATH, &script) ||
        UI_RootCommand_Run(UI_ShellQuote(script.c_str()).c_str()) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]Fail to Uninstall RPC Service ",
                           UI_LOG_TAG);
        return;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]Uninstall RPC Service sucessfully", UI_LOG_TAG);
}

uint32_t UI_PromoteService_InstallWait(const char* pcName) {
    uint32_t count = 0;
    if (UI_ProcNum_Check(pcName, &count) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]fail to check [%s]", UI_LOG_TAG,
                           pcName != nullptr ? pcName : "");
        return 1;
    }
    if (count != 0) {
        return 0;
    }
    UI_PromoteService_Install();
    const uint32_t seam = g_installPollMs.load();
    const uint32_t pollMs = seam != 0 ? seam : kInstallPollMs;
    for (uint32_t poll = 0; poll < kInstallPolls && count == 0; ++poll) {
        SleepMs(pollMs);
        if (UI_ProcNum_Check(pcName, &count) != 0) {
            count = 0;  // a failed count is no service yet; the next poll counts again
        }
    }
    if (count == 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]Install RPC Service timeout", UI_LOG_TAG);
        return 1;
    }
    return 0;
}
