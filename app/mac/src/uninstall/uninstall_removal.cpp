// The uninstaller's removal.

#include "uninstall_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lnx_proc.h"
#include "lnx_root.h"

const char* const kUninstallClientPrograms[4] = {"VanTrelo", "VanTreloUpdate",
                                                 "VanTreloPromoteService", "VanTreloCS"};

namespace {

constexpr char kUsersDir[] = "/home";
constexpr char kUserFolder[] = ".VanTrelo";
constexpr char kMountTable[] = "/proc/self/mountinfo";
// What makes a folder an install folder: the client's programs, as regular files.
const char* const kInstallFiles[] = {"VanTrelo", "VanTreloUpdate",
                                     "promote/VanTreloPromoteService"};
// How long the finish window waits for the stopped programs to be gone.
constexpr int kKillWaitMs = 1000;

// Seams; the uninstaller runs on one thread. A folder that is set replaces the real one
// even when it is empty (which is then refused like any other folder that is no plain
// absolute path).
bool g_programFolderSet = false;
std::string g_programFolder;
bool g_usersDirSet = false;
std::string g_usersDir;
UNINSTALL_RUNNER_PF g_runner = nullptr;
UNINSTALL_KILLER_PF g_killer = nullptr;

void KillByName(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        (void)LNX_KillByName(name.c_str(), 0, kKillWaitMs);
    }
}

std::string Quoted(const std::string& path) { return LNX_ShellQuote(path.c_str()); }

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

// Whether the path is the folder or lies below it.
bool AtOrBelow(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Whether each folder from the first component down to the whole plain path is a real
// folder, not a link, so that the path names the place its text spells and a command
// given it reaches nothing else. *pWhere is the first that is not.
bool NoLinkOnTheWay(const std::string& path, std::string* pWhere) {
    size_t end = 0;
    do {
        end = path.find('/', end + 1);
        const std::string part = path.substr(0, end);
        struct stat st;
        if (lstat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            *pWhere = part;
            return false;
        }
    } while (end != std::string::npos);
    return true;
}

// Whether "<folder>/<name>" is a regular file reached through real folders only.
bool HoldsRegularFile(const std::string& folder, const std::string& name) {
    std::string path = folder;
    size_t start = 0;
    for (;;) {
        const size_t slash = name.find('/', start);
        path += "/" + name.substr(start, slash == std::string::npos ? slash : slash - start);
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            return false;
        }
        if (slash == std::string::npos) {
            return S_ISREG(st.st_mode);
        }
        if (!S_ISDIR(st.st_mode)) {
            return false;
        }
        start = slash + 1;
    }
}

// Folders of the system, which no removal of ours may take whatever they hold: every
// folder directly below "/" ("/usr", "/opt", "/home" ...), every folder directly in
// /usr or /var ("/usr/bin", "/var/lib"), the standard folders of /usr/local, the
// libraries' folders of an architecture ("/usr/lib/x86_64-linux-gnu"), and anything
// below /boot, /dev, /etc, /proc, /run and /sys.
bool IsSystemFolder(const std::string& path) {
    const std::string parent = Parent(path);
    const std::string name = path.substr(path.rfind('/') + 1);
    if (parent == "/" || parent == "/usr" || parent == "/var") {
        return true;
    }
    static const char* const kLocal[] = {"bin",   "sbin",  "lib",   "lib32", "lib64",
                                         "libx32", "libexec", "include", "share", "src",
                                         "games", "etc",   "man"};
    if (parent == "/usr/local") {
        for (const char* local : kLocal) {
            if (name == local) {
                return true;
            }
        }
    }
    static const char* const kLibraries[] = {"/lib",     "/lib32",     "/lib64",
                                             "/libx32",  "/usr/lib",   "/usr/lib32",
                                             "/usr/lib64", "/usr/libx32"};
    for (const char* libraries : kLibraries) {
        if (parent == libraries && name.find("-linux-") != std::string::npos) {
            return true;
        }
    }
    for (const char* tree : {"/boot", "/dev", "/etc", "/proc", "/run", "/sys"}) {
        if (AtOrBelow(path, tree)) {
            return true;
        }
    }
    return false;
}

// The entries of the users folder that are no links, in name order, so that the command
// is the same on every run. A symbolic link among the entries is passed over: its folder
// belongs to the entry it points at, or to nobody.
std::vector<std::string> UserEntries(const std::string& users) {
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
    return names;
}

// The path with every link resolved, or the path itself when it does not resolve.
std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Home folders: every user's in the user database, root's, the users folder and each of
// its entries, as written and with their links resolved.
std::vector<std::string> HomeFolders(const std::string& users,
                                     const std::vector<std::string>& entries) {
    std::vector<std::string> homes = {"/root", users, Resolved(users)};
    for (const std::string& name : entries) {
        homes.push_back(users + "/" + name);
        homes.push_back(Resolved(users) + "/" + name);
    }
    setpwent();
    while (const passwd* pw = getpwent()) {
        if (pw->pw_dir != nullptr && pw->pw_dir[0] == '/') {
            homes.emplace_back(pw->pw_dir);
            homes.push_back(Resolved(pw->pw_dir));
        }
    }
    endpwent();
    return homes;
}

// One mount point of the mount table as the kernel writes it, with the octal escapes of
// blanks, tabs, new lines and backslashes ("\040") undone.
std::string Unescaped(const std::string& text) {
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) &&
            octal(text[i + 2]) && octal(text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The mount points of this process's mount table (the fifth field of each line of
// /proc/self/mountinfo). False when the table cannot be read.
bool MountPoints(std::vector<std::string>* pPoints) {
    FILE* table = fopen(kMountTable, "re");
    if (table == nullptr) {
        return false;
    }
    char* line = nullptr;
    size_t size = 0;
    while (getline(&line, &size, table) > 0) {
        const std::string text(line);
        size_t start = 0;
        for (int field = 0; field < 4 && start != std::string::npos; ++field) {
            start = text.find(' ', start);
            start = start == std::string::npos ? start : start + 1;
        }
        if (start == std::string::npos) {
            continue;
        }
        const size_t end = text.find_first_of(" \n", start);
        const size_t length = end == std::string::npos ? end : end - start;
        pPoints->push_back(Unescaped(text.substr(start, length)));
    }
    free(line);
    (void)fclose(table);
    return true;
}

// Whether a mount lies at the path or anywhere below it: a removal there would reach
// into another file system, or into a folder bound in from elsewhere in the same one.
bool HoldsMount(const std::string& path, const std::vector<std::string>& mounts) {
    for (const std::string& point : mounts) {
        if (AtOrBelow(point, path)) {
            return true;
        }
    }
    return false;
}

// The folder that holds the running program, the name of the program's file in it, and
// that file as the kernel has it. The path is the kernel's own, links resolved; a program
// whose file is gone has " (deleted)" after its name, which no folder entry then matches.
bool OwnFolder(std::string* pFolder, std::string* pName, struct stat* pProgram,
               std::string* pWhy) {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0 || stat("/proc/self/exe", pProgram) != 0) {
        *pWhy = "cannot read where the uninstaller's own program lies";
        return false;
    }
    const std::string program(path, static_cast<size_t>(n));
    const size_t slash = program.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        *pWhy = Quoted(program) + " lies in no folder that can be an install folder";
        return false;
    }
    *pFolder = program.substr(0, slash);
    *pName = program.substr(slash + 1);
    return true;
}

// Whether the folder may go as the install folder, with the reason when not. pProgram,
// when given, is the running program's file, which the folder must still hold.
bool InstallFolderMayGo(const std::string& folder, const std::string& users,
                        const std::vector<std::string>& entries, const struct stat* pProgram,
                        const std::string& programName, std::string* pWhy) {
    std::string where;
    if (!NoLinkOnTheWay(folder, &where)) {
        *pWhy = Quoted(folder) + " is not reached through real folders only (" + Quoted(where) +
                " is a link or no folder)";
        return false;
    }
    if (IsSystemFolder(folder)) {
        *pWhy = Quoted(folder) + " is a folder of the system, not an install folder";
        return false;
    }
    for (const std::string& home : HomeFolders(users, entries)) {
        if (AtOrBelow(home, folder)) {
            *pWhy = Quoted(folder) + " is a home folder or holds one (" + Quoted(home) + ")";
            return false;
        }
    }
    for (const char* file : kInstallFiles) {
        if (!HoldsRegularFile(folder, file)) {
            *pWhy = Quoted(folder) + " is not an install folder: it holds no regular file " +
                    Quoted(file);
            return false;
        }
    }
    if (pProgram != nullptr) {
        struct stat st;
        const std::string program = folder + "/" + programName;
        if (lstat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_dev != pProgram->st_dev || st.st_ino != pProgram->st_ino) {
            *pWhy = Quoted(folder) + " no longer holds the running uninstaller";
            return false;
        }
    }
    return true;
}

// Whether root may remove the path: the install folder, or the per-user folder of a
// single entry of the users folder. Whatever a home folder's name holds, nothing else
// can reach the command.
bool PathMayGo(const std::string& path, const std::string& folder, const std::string& users) {
    if (!PathIsPlain(path)) {
        return false;
    }
    if (path == folder) {
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

// The per-user folders to remove, in the order of their entries' names. Each is looked at
// with lstat only, and nothing in its place is ever opened: a link goes as a link; a
// folder, file or anything else goes when the caller may read it, unless a mount lies at
// or below it, which keeps it in place with a line on standard error.
std::vector<std::string> KeptFolders(const std::string& users,
                                     const std::vector<std::string>& entries,
                                     const std::vector<std::string>& mounts) {
    const std::string resolvedUsers = Resolved(users);
    std::vector<std::string> kept;
    for (const std::string& name : entries) {
        const std::string folder = users + "/" + name + "/" + kUserFolder;
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0) {
            continue;
        }
        if (!S_ISLNK(st.st_mode)) {
            if (faccessat(AT_FDCWD, folder.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            if (HoldsMount(resolvedUsers + "/" + name + "/" + kUserFolder, mounts)) {
                (void)fprintf(stderr,
                              "VanTreloUninstaller: %s stays: it is a mount point or holds one\n",
                              Quoted(folder).c_str());
                continue;
            }
        }
        kept.push_back(folder);
    }
    return kept;
}

int Fail(const std::string& reason) {
    (void)fprintf(stderr, "VanTreloUninstaller: the removal did not end well: %s\n",
                  reason.c_str());
    return -1;
}

}  // namespace

void uninstallProgramFolderSet(const char* pcDir) {
    g_programFolderSet = pcDir != nullptr;
    g_programFolder = pcDir != nullptr ? pcDir : "";
}
void uninstallUsersDirSet(const char* pcDir) {
    g_usersDirSet = pcDir != nullptr;
    g_usersDir = pcDir != nullptr ? pcDir : "";
}
void uninstallRunnerSet(UNINSTALL_RUNNER_PF pfnRunner) { g_runner = pfnRunner; }
void uninstallKillerSet(UNINSTALL_KILLER_PF pfnKiller) { g_killer = pfnKiller; }

int UI_ModifyTulmFilePrivileges() {
    std::string folder = g_programFolder;
    struct stat program {};
    std::string programName;
    std::string why;
    if (!g_programFolderSet && !OwnFolder(&folder, &programName, &program, &why)) {
        return Fail(why);
    }
    const std::string users = g_usersDirSet ? g_usersDir : kUsersDir;
    if (!PathIsPlain(folder) || !PathIsPlain(users)) {
        return Fail("the folders " + Quoted(folder) + " and " + Quoted(users) +
                    " are not both plain absolute paths");
    }

    const std::vector<std::string> entries = UserEntries(users);
    if (!InstallFolderMayGo(folder, users, entries, g_programFolderSet ? nullptr : &program,
                            programName, &why)) {
        return Fail(why);
    }
    std::vector<std::string> mounts;
    if (!MountPoints(&mounts)) {
        return Fail(std::string("cannot read the mount table ") + kMountTable);
    }
    if (HoldsMount(folder, mounts)) {
        return Fail(Quoted(folder) + " is a mount point or holds one");
    }

    std::vector<std::string> paths = {folder};
    const std::vector<std::string> kept = KeptFolders(users, entries, mounts);
    paths.insert(paths.end(), kept.begin(), kept.end());

    // A mount made after the checks is still not crossed into when it is another file
    // system; one of the same file system was refused above.
    std::string command = "rm -rf --one-file-system --";
    for (const std::string& path : paths) {
        if (!PathMayGo(path, folder, users)) {
            return Fail("refused to remove " + Quoted(path));
        }
        command += ' ';
        command += Quoted(path);
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
