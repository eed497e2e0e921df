// Shell commands run with root rights.

#include "lnx_root.h"

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "lnx_spawn.h"

namespace {

constexpr const char* kPkexecPlaces[] = {"/usr/bin/pkexec", "/bin/pkexec"};
constexpr char kShell[] = "/bin/sh";

pthread_mutex_t g_seamLock = PTHREAD_MUTEX_INITIALIZER;
std::string g_runnerProgram;  // guarded by g_seamLock; empty: the real runner
std::string g_pkexecPath;     // guarded by g_seamLock; empty: the system's places
std::atomic<bool> g_runnerAsUser{false};

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

int Refuse(std::string* pReason, const std::string& reason) {
    if (pReason != nullptr) {
        *pReason = reason;
    }
    return -1;
}

}  // namespace

void lnxRootRunnerSet(const char* pcProgram) { SeamTextSet(&g_runnerProgram, pcProgram); }
void lnxPkexecPathSet(const char* pcPath) { SeamTextSet(&g_pkexecPath, pcPath); }
void lnxRootRunnerAsUserSet(bool bAsUser) { g_runnerAsUser.store(bAsUser); }

std::string LNX_ShellQuote(const char* pcText) {
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

bool LNX_RootRunnerAvailable() {
    return !SeamText(g_runnerProgram).empty() || IsRoot() || !PkexecPath().empty();
}

int LNX_RootCommandRun(const char* pcCommand, std::string* pReason) {
    if (pcCommand == nullptr) {
        return Refuse(pReason, "no command");
    }
    std::vector<std::string> words = RootWords(pcCommand);
    if (words.empty()) {
        return Refuse(pReason, "not root and no pkexec found");
    }
    std::vector<char*> argv = LNX_ArgvOf(words);
    const LnxSpawnPlan plan{words[0].c_str(), argv.data(), true};
    pid_t pid = -1;
    int err = 0;
    char text[64];
    switch (LNX_Spawn(plan, &pid, &err)) {
    case LnxSpawnResult::kStarted:
        break;
    case LnxSpawnResult::kExecFailed:
        (void)snprintf(text, sizeof(text), ", errno is %d", err);
        return Refuse(pReason, "cannot run " + words[0] + text);
    default:
        (void)snprintf(text, sizeof(text), "no child process, errno is %d", err);
        return Refuse(pReason, text);
    }
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    if (done != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        (void)snprintf(text, sizeof(text), " ended with status 0x%x", static_cast<unsigned>(status));
        return Refuse(pReason, words[0] + text);
    }
    return 0;
}
