// Where the front end runs: its user's account name and its install folder.
//
// The install folder is the folder of the running program as the kernel names it
// (/proc/self/exe), never a value from the environment: the path reaches commands that
// run with administrator rights.

#include "ui_env.h"

#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "ui_common.h"
#include "ui_env_inner.h"

namespace {

constexpr size_t kNameBufSize = 256;

std::atomic<UI_USER_NAME_LOOKUP_PF> g_userLookup{nullptr};

pthread_mutex_t g_installLock = PTHREAD_MUTEX_INITIALIZER;
bool g_installOverride = false;           // guarded by g_installLock
char g_installPath[UI_INSTALL_PATH_SIZE];  // guarded by g_installLock

char g_configDir[UI_INSTALL_PATH_SIZE];

uint32_t PasswordDatabaseName(uid_t uid, char* pcName, size_t size) {
    long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
        found->pw_name == nullptr) {
        return 1;
    }
    const size_t len = strnlen(found->pw_name, size - 1);
    std::memcpy(pcName, found->pw_name, len);
    pcName[len] = '\0';
    return 0;
}

// The folder of the running program into the buffer; false when it cannot be read or
// does not fit.
bool ProgramFolder(char* pcBuf, size_t size) {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(path)) {
        return false;
    }
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        return false;
    }
    if (slash == path) {
        slash[1] = '\0';  // a program in the root folder
    } else {
        *slash = '\0';
    }
    const size_t len = std::strlen(path);
    if (len >= size) {
        return false;
    }
    std::memcpy(pcBuf, path, len + 1);
    return true;
}

}  // namespace

void uiInstallPathSet(const char* pcPath) {
    (void)pthread_mutex_lock(&g_installLock);
    std::memset(g_installPath, 0, sizeof(g_installPath));
    g_installOverride = pcPath != nullptr;
    if (pcPath != nullptr && std::strlen(pcPath) < sizeof(g_installPath)) {
        std::memcpy(g_installPath, pcPath, std::strlen(pcPath));
    }
    (void)pthread_mutex_unlock(&g_installLock);
}

void uiUserNameLookupSet(UI_USER_NAME_LOOKUP_PF pfnLookup) { g_userLookup.store(pfnLookup); }

uint32_t UI_LoginUser_Get(char* pcBuf) {
    if (pcBuf == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][Process get login user][invalid parameter!]",
                           UI_LOG_TAG);
        return 1;
    }
    std::memset(pcBuf, 0, UI_LOGIN_USER_SIZE);
    char name[kNameBufSize] = {};
    UI_USER_NAME_LOOKUP_PF lookup = g_userLookup.load();
    const uid_t uid = getuid();
    const uint32_t rc = lookup != nullptr ? lookup(uid, name, sizeof(name))
                                          : PasswordDatabaseName(uid, name, sizeof(name));
    if (rc != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Process get login user][no account entry for user %u]",
                           UI_LOG_TAG, static_cast<unsigned>(uid));
        return 1;
    }
    name[sizeof(name) - 1] = '\0';
    // The wire field keeps up to 32 bytes; a name that fills it has no terminator.
    std::memcpy(pcBuf, name, strnlen(name, UI_LOGIN_USER_SIZE));
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][Process get login user][login user is %.*s]",
                       UI_LOG_TAG, static_cast<int>(UI_LOGIN_USER_SIZE), pcBuf);
    return 0;
}

uint32_t UI_Get_InstallPath(char* pcBuf) {
    if (pcBuf == nullptr) {
        return 1;
    }
    std::memset(pcBuf, 0, UI_INSTALL_PATH_SIZE);
    bool ok;
    (void)pthread_mutex_lock(&g_installLock);
    if (g_installOverride) {
        std::memcpy(pcBuf, g_installPath, sizeof(g_installPath));
        ok = pcBuf[0] != '\0';
    } else {
        ok = ProgramFolder(pcBuf, UI_INSTALL_PATH_SIZE);
    }
    (void)pthread_mutex_unlock(&g_installLock);
    if (!ok) {
        std::memset(pcBuf, 0, UI_INSTALL_PATH_SIZE);
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Process get install path][get install path failed]", UI_LOG_TAG);
        return 1;
    }
    return 0;
}

const char* UI_ConfigDir_Get() {
    char install[UI_INSTALL_PATH_SIZE];
    (void)UI_Get_InstallPath(install);
    // A folder too long for the buffer leaves it empty rather than naming a cut path.
    if (DDM_Sprintf(g_configDir, sizeof(g_configDir), "%s/config", install) < 0) {
        g_configDir[0] = '\0';
    }
    return g_configDir;
}
