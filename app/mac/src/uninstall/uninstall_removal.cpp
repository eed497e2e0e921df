// The uninstaller's removal.

#include "uninstall_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lnx_proc.h"
#include "lnx_root.h"

const char* const kUninstallClientPrograms[4] = {"VanTrelo", "VanTreloUpdate",
                                                 "VanTreloPromoteService", "VanTreloCS"};

namespace {

constexpr char kUsersDir[] = "/home";
constexpr char kFrontEndBundle[] = "vantrelo.app";
constexpr char kUninstallerBundle[] = "VanTreloUninstaller.app";
constexpr char kUserFolder[] = ".VanTrelo";
// How long the finish window waits for the stopped programs to be gone.
constexpr int kKillWaitMs = 1000;

// Seams; the uninstaller runs on one thread. A folder that is set replaces the installed
// one even when it is empty (which is then refused like any other folder that is no plain
// absolute path).
bool g_applicationsDirSet = false;
std::string g_applicationsDir;
bool g_usersDirSet = false;
std::string g_usersDir;
UNINSTALL_RUNNER_PF g_runner = nullptr;
UNINSTALL_KILLER_PF g_killer = nullptr;

void KillByName(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        (void)LNX_KillByName(name.c_str(), 0, kKillWaitMs);
    }
}

// An absolute path other than "/" whose every component is a name: no empty component
// (which a doubled or trailing slash makes), no "." and no "..". Such a path names
// exactly one place, spelled the way the checks below compare it.
bool PathIsPlain(const std::string& path) {
    if (path.size() < 2 || path[0] != '/') {
        return false;
    }
    size_t start = 1;
    for (;;) {
        const size_t end = path.find('/', start);
        const std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

// Whether root may remove the path: one of the two bundles, or the per-user folder of a
// single entry of the users folder. Whatever a home folder's name holds, nothing else
// can reach the command.
bool PathMayGo(const std::string& path, const std::string& applications,
               const std::string& users) {
    if (!PathIsPlain(path)) {
        return false;
    }
    if (path == applications + "/" + kFrontEndBundle ||
        path == applications + "/" + kUninstallerBundle) {
        return true;
    }
    const std::string head = users + "/";
    const std::string tail = std::string("/") + kUserFolder;
    if (path.size() <= head.size() + tail.size() || path.compare(0, head.size(), head) != 0 ||
        path.compare(path.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    const std::string entry = path.substr(head.size(), path.size() - head.size() - tail.size());
    return entry.find('/') == std::string::npos;
}

// Whether the caller may open the path for reading, as a file or a folder. The open
// never waits: a FIFO that anyone can make under that name would otherwise hold the
// uninstaller before its prompt until someone writes to it.
bool Readable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    (void)close(fd);
    return true;
}

// The per-user folders to remove, in the order of their entries' names, so that the
// command is the same on every run. A symbolic link among the entries is passed over: its
// folder belongs to the entry it points at, or to nobody.
std::vector<std::string> KeptFolders(const std::string& users) {
    std::vector<std::string> names;
    DIR* dir = opendir(users.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) {
            continue;
        }
        struct stat st;
        if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            S_ISLNK(st.st_mode)) {
            continue;
        }
        names.emplace_back(e->d_name);
    }
    (void)closedir(dir);
    std::sort(names.begin(), names.end());
    std::vector<std::string> kept;
    for (const std::string& name : names) {
        const std::string folder = users + "/" + name + "/" + kUserFolder;
        if (Readable(folder)) {
            kept.push_back(folder);
        }
    }
    return kept;
}

int Fail(const std::string& reason) {
    (void)fprintf(stderr, "VanTreloUninstaller: the removal did not end well: %s\n",
                  reason.c_str());
    return -1;
}

}  // namespace

void uninstallApplicationsDirSet(const char* pcDir) {
    g_applicationsDirSet = pcDir != nullptr;
    g_applicationsDir = pcDir != nullptr ? pcDir : "";
}
void uninstallUsersDirSet(const char* pcDir) {
    g_usersDirSet = pcDir != nullptr;
    g_usersDir = pcDir != nullptr ? pcDir : "";
}
void uninstallRunnerSet(UNINSTALL_RUNNER_PF pfnRunner) { g_runner = pfnRunner; }
void uninstallKillerSet(UNINSTALL_KILLER_PF pfnKiller) { g_killer = pfnKiller; }

int UI_ModifyTulmFilePrivileges() {
    const std::string applications = g_applicationsDirSet ? g_applicationsDir
                                                          : VT_APPLICATIONS_DIR;
    const std::string users = g_usersDirSet ? g_usersDir : kUsersDir;
    if (!PathIsPlain(applications) || !PathIsPlain(users)) {
        return Fail("the folders " + LNX_ShellQuote(applications.c_str()) + " and " +
                    LNX_ShellQuote(users.c_str()) + " are not both plain absolute paths");
    }

    std::vector<std::string> paths = {applications + "/" + kFrontEndBundle,
                                      applications + "/" + kUninstallerBundle};
    const std::vector<std::string> kept = KeptFolders(users);
    paths.insert(paths.end(), kept.begin(), kept.end());

    std::string command = "rm -rf --";
    for (const std::string& path : paths) {
        if (!PathMayGo(path, applications, users)) {
            return Fail("refused to remove " + LNX_ShellQuote(path.c_str()));
        }
        command += ' ';
        command += LNX_ShellQuote(path.c_str());
    }

    std::string reason;
    const int rc = g_runner != nullptr ? g_runner(command.c_str(), &reason)
                                       : LNX_RootCommandRun(command.c_str(), &reason);
    if (rc != 0) {
        return Fail(reason.empty() ? std::string("the removal failed") : reason);
    }
    const std::vector<std::string> programs(std::begin(kUninstallClientPrograms),
                                            std::end(kUninstallClientPrograms));
    if (g_killer != nullptr) {
        g_killer(programs);
    } else {
        KillByName(programs);
    }
    return 0;
}
