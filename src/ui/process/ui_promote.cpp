// Control of the promote service and the rights of the service programs.
//
// Three rules hold throughout, kept by the Linux layers below (src/linux). A command run
// as root never sees a path as anything but one single-quoted shell word, so no
// character of the install folder can change what root runs. A child process is told
// everything before fork. And the kill by name reaches only this user's processes whose
// program is exactly the promote service, never this process or its ancestors, and
// waits until they are gone so that the new service does not race the dying one for
// its port.

#include "ui_promote.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "jqr_mem.h"
#include "uko_secfunc.h"
#include "ui_common.h"
#include "ui_env.h"
#include "ui_promote_inner.h"

#include "lnx_proc.h"
#include "lnx_root.h"
#include "lnx_spawn.h"

namespace {

constexpr char kProcNumFormat[] = "ps -ef | grep %s | grep -v grep | wc -l";
// The count's command is kept to 63 bytes with its terminator; its output line to 128.
constexpr size_t kProcNumCommandBound = 63;
constexpr size_t kProcNumLineSize = 128;

constexpr char kShell[] = "/bin/sh";

// How long the kill waits for the killed processes to be gone.
constexpr int kKillWaitMs = 3000;

constexpr uint32_t kInstallPolls = 10;
constexpr uint32_t kInstallPollMs = 3000;

// ---- Seams --------------------------------------------------------------------------

std::atomic<UI_STAT_PF> g_tulmStat{nullptr};
std::atomic<pid_t> g_killScope{0};
std::atomic<uint32_t> g_installPollMs{0};

void SleepMs(int64_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
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

// ---- The root fix-up's guard ----------------------------------------------------------
//
// The fix-up makes two files setuid root by name, and chmod cannot leave a link alone:
// whoever may change a name on the way between the check and the change could point it
// at any program of the machine, or plant a program of their own for root to make
// setuid. So the fix-up touches nothing unless only root and this user can change the
// two files and every folder that leads to them.

// Where a path lies on the fix-up's way, which decides what it must be.
enum class FixupPlace {
    kAbove,   // a folder above the install folder
    kFolder,  // the install folder, or the engine's folder below it
    kFile,    // the engine program or the install helper
};

// Why a path that could not be examined is refused.
std::string UnexaminedReason(int err) {
    if (err == ENOENT || err == ENOTDIR) {
        return "missing";
    }
    return "cannot be examined, errno is " + std::to_string(err);
}

// Why the fix-up must leave path alone, or the empty text when it may go on. Taken with
// lstat, so a link is seen as a link and never followed. Owner root or this user; nobody
// else may write it: a folder others may write lets them swap a name, a file others may
// write may hold their program. A folder above the install folder may be open to others
// when it is sticky, as /tmp is: there they cannot rename what root or this user owns.
// A file with a second name is a program elsewhere too, which the fix-up would change.
std::string FixupRefusal(const std::string& path, FixupPlace place) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return UnexaminedReason(errno);
    }
    if (S_ISLNK(st.st_mode)) {
        return "a link";
    }
    if (place == FixupPlace::kFile && !S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    if (place != FixupPlace::kFile && !S_ISDIR(st.st_mode)) {
        return "not a folder";
    }
    if (st.st_uid != 0 && st.st_uid != getuid()) {
        return "owned by user " + std::to_string(st.st_uid);
    }
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool sticky = (st.st_mode & S_ISVTX) != 0;
    if (othersWrite && !(place == FixupPlace::kAbove && sticky)) {
        return "writable by group or others";
    }
    if (place == FixupPlace::kFile && st.st_nlink != 1) {
        return "more than one name";
    }
    return std::string();
}

// The engine program and the install helper, below the install folder as the kernel
// resolves it (so that no link is left on the way root takes), once every folder from
// the root of the file system down and both files pass FixupRefusal. Otherwise false,
// with the first path refused and the reason.
bool FixupTargets(const std::string& folder, std::string* pEngine, std::string* pHelper,
                  std::string* pRefused, std::string* pReason) {
    char* resolved = realpath(folder.c_str(), nullptr);
    if (resolved == nullptr) {
        *pReason = UnexaminedReason(errno);
        *pRefused = folder;
        return false;
    }
    const std::string real = resolved;
    free(resolved);
    const std::string base = real == "/" ? std::string() : real;
    const std::string engine = base + "/" + UI_ENGINE_RELPATH;
    const std::string helper = base + "/" + UI_INSTALL_HELPER_RELPATH;

    std::vector<std::pair<std::string, FixupPlace>> way;
    if (!base.empty()) {
        way.emplace_back("/", FixupPlace::kAbove);
        for (size_t at = base.find('/', 1); at != std::string::npos; at = base.find('/', at + 1)) {
            way.emplace_back(base.substr(0, at), FixupPlace::kAbove);
        }
    }
    way.emplace_back(real, FixupPlace::kFolder);
    // The folders below the install folder that hold the engine program.
    for (size_t at = engine.find('/', base.size() + 1); at != std::string::npos;
         at = engine.find('/', at + 1)) {
        way.emplace_back(engine.substr(0, at), FixupPlace::kFolder);
    }
    way.emplace_back(engine, FixupPlace::kFile);
    way.emplace_back(helper, FixupPlace::kFile);
    for (const auto& step : way) {
        const std::string reason = FixupRefusal(step.first, step.second);
        if (!reason.empty()) {
            *pRefused = step.first;
            *pReason = reason;
            return false;
        }
    }
    *pEngine = engine;
    *pHelper = helper;
    return true;
}

// The root command of the fix-up: owner 0:0, then mode 4755, on both files. Nobody but
// root may write either file afterwards: a setuid-root program that others can write is
// root for every local user. Root looks again before each step that both names are
// still regular files and no links, and chown -h would change a link itself, never what
// it points at; nothing is changed unless both pass the first look. chown comes first:
// a change of owner clears the setuid bit.
std::string FixupCommand(const std::string& engine, const std::string& helper) {
    const std::string still =
        "[ -f \"$e\" ] && [ ! -L \"$e\" ] && [ -f \"$h\" ] && [ ! -L \"$h\" ]";
    return "e=" + UI_ShellQuote(engine.c_str()) + " h=" + UI_ShellQuote(helper.c_str()) + "; " +
           still + " && /bin/chown -h 0:0 -- \"$e\" \"$h\" && " + still +
           " && /bin/chmod 4755 -- \"$e\" \"$h\"";
}

}  // namespace

// ---- Seams --------------------------------------------------------------------------

void uiRootRunnerSet(const char* pcProgram) { lnxRootRunnerSet(pcProgram); }
void uiPkexecPathSet(const char* pcPath) { lnxPkexecPathSet(pcPath); }
void uiRootRunnerAsUserSet(bool bAsUser) { lnxRootRunnerAsUserSet(bAsUser); }
void uiTulmStatSet(UI_STAT_PF pfnStat) { g_tulmStat.store(pfnStat); }
void uiPromoteKillScopeSet(pid_t scopeRoot) { g_killScope.store(scopeRoot); }
void uiPromoteForkSet(UI_FORK_PF pfnFork) { lnxForkSet(pfnFork); }
void uiInstallWaitPollSet(uint32_t uiMs) { g_installPollMs.store(uiMs); }

// ---- Quoting and the runner ---------------------------------------------------------

std::string UI_ShellQuote(const char* pcText) { return LNX_ShellQuote(pcText); }

int32_t UI_RootCommand_Run(const char* pcCommand) {
    if (pcCommand == nullptr) {
        return -1;
    }
    std::string reason;
    if (LNX_RootCommandRun(pcCommand, &reason) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][Run as administrator][%s]", UI_LOG_TAG,
                           reason.c_str());
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
    std::string folder, engine, helper;
    if (!InstallPathOf(UI_ENGINE_RELPATH, &engine, &folder) ||
        !InstallPathOf(UI_INSTALL_HELPER_RELPATH, &helper)) {
        return 0;  // no folder, no engine program to examine; already logged
    }
    const std::string qEngine = UI_ShellQuote(engine.c_str());
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu]UI_ModifyTulmFilePrivileges start %s",
                       UI_LOG_TAG, qEngine.c_str());
    if (NeedModifyTulmFile(engine.c_str()) == 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]ModifyFilePrivileges success out",
                           UI_LOG_TAG);
        return 0;
    }
    // Nothing is asked of root unless the whole way to both files is safe to change.
    std::string refused, reason;
    if (!FixupTargets(folder, &engine, &helper, &refused, &reason)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]ModifyFilePrivileges refused, %s: %s",
                           UI_LOG_TAG, refused.c_str(), reason.c_str());
        return 1;
    }
    if (UI_RootCommand_Run(FixupCommand(engine, helper).c_str()) != 0) {
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
    const LnxKillResult result =
        LNX_KillByName(UI_PROMOTE_SERVICE_NAME, g_killScope.load(), kKillWaitMs);
    if (!result.bListed) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]UI kill Rpc proc, no process list",
                           UI_LOG_TAG);
        return;
    }
    if (result.uiStillAlive != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN, "[%lu]UI kill Rpc proc, %u still alive",
                           UI_LOG_TAG, result.uiStillAlive);
    }
}

uint32_t UI_PromoteService_Start() {
    // A refused fix-up changed nothing and goes on, as a missing engine program does; only
    // a fix-up that root was asked for and that failed stops the start.
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
    const LnxSpawnPlan plan{path, argv, false};
    pid_t pid = -1;
    int err = 0;
    switch (LNX_Spawn(plan, &pid, &err)) {
    case LnxSpawnResult::kStarted:
        return 0;
    case LnxSpawnResult::kExecFailed:
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]UI_PromoteService_Start Call execl %s error",
                           UI_LOG_TAG, path);
        return 0;
    case LnxSpawnResult::kForkFailed:
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu]UI_PromoteService_Start fork failed, errno is %d", UI_LOG_TAG, err);
        return 1;
    case LnxSpawnResult::kSetupFailed:
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
    if (!LNX_RootRunnerAvailable()) {
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
