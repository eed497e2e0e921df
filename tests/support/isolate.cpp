// vt_isolate: runs one test program where the client's fixed ports and the front end's
// kill by name cannot meet a client or simulator that the user runs.
//
//   vt_isolate [--port=N]... [--carry=PATH]... [--direct | --probe] [--] program [arguments...]
//
// The program runs in private network, PID and mount namespaces: a loopback of its own,
// brought up; process numbers of its own, with /proc mounted for them, so that a scan of
// /proc finds only the test's processes; and a /tmp of its own, a fresh tmpfs, so that
// the per-user names there (the client's instance folder /tmp/VanTrelo-<uid>, display
// locks) are not those of a client or display the user runs. What the program needs from
// the old /tmp is carried in before it is hidden: for the program file, the working
// folder, TMPDIR, every absolute path among the program's arguments and every --carry
// PATH that lies in /tmp, the whole folder of /tmp that holds it (a clone in a mktemp -d
// folder keeps its build and source trees together), bound in at the same path with its
// owner and mode. An X server started there finds no display in use and takes the first
// number, as every other test's does; the keymaps such a server compiles as root are
// named by that number in /var/lib/xkb, so that folder is the test's own too. A small init, process 1 of the namespace, reaps
// every orphan; when the program ends it ends everything left in the namespace and hands
// back the program's status, exit code or signal, as if the program had run alone. When
// the launcher itself is killed (a test's time-out) the namespace goes with it.
//
// As root the namespaces are made directly; otherwise inside a user namespace that maps
// the user to itself, so that the program runs with the user's own rights. Where neither
// can be made the program runs directly, after each --port has been looked at: a port on
// which something already listens fails the run at once, with one line naming the port
// and the holder's pid and program, instead of a test that waits for its time-out
// against someone else's service.
//
// --direct leaves the namespaces out (the launcher's own tests use it). --probe makes
// the namespaces and looks at them from inside (loopback, process numbers, /proc), prints
// how they were made, "root" or "user", and ends with 0; it prints "none" and ends with 1
// when none can be made. A program asked only to list its tests (--gtest_list_tests)
// runs directly and unchecked: a listing needs neither the ports nor the namespaces.
//
// This file is built on its own by the configure-time probe: it uses nothing but the C
// and C++ libraries.

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kName[] = "vt_isolate";

struct Options {
    std::vector<int> ports;
    std::vector<std::string> carry;  // --carry paths
    bool direct = false;
    bool probe = false;
    char** program = nullptr;  // the program and its arguments, NULL-terminated
    // Filled before the namespaces are made: the folders of /tmp carried into the private
    // one ("/tmp/NAME" each), and the working folder to return to once they are.
    std::vector<std::string> carried;
    std::string cwd;
};

enum class Way { kRoot, kUser };

const char* WayName(Way way) { return way == Way::kRoot ? "root" : "user"; }

bool Parse(int argc, char** argv, Options* opt) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.compare(0, 7, "--port=") == 0) {
            char* end = nullptr;
            errno = 0;
            const long port = std::strtol(arg.c_str() + 7, &end, 10);
            if (errno != 0 || end == arg.c_str() + 7 || *end != '\0' || port < 1 || port > 65535) {
                std::fprintf(stderr, "%s: not a port: %s\n", kName, arg.c_str());
                return false;
            }
            opt->ports.push_back(static_cast<int>(port));
        } else if (arg.compare(0, 8, "--carry=") == 0 && arg.size() > 8) {
            opt->carry.push_back(arg.substr(8));
        } else if (arg == "--direct") {
            opt->direct = true;
        } else if (arg == "--probe") {
            opt->probe = true;
        } else if (arg.compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "%s: unknown option %s\n", kName, arg.c_str());
            return false;
        } else {
            break;
        }
    }
    if (i < argc) opt->program = argv + i;
    if (opt->probe == (opt->program != nullptr) || (opt->probe && opt->direct)) {
        std::fprintf(stderr,
                     "usage: %s [--port=N]... [--carry=PATH]... [--direct] [--] program [arguments...]\n"
                     "       %s --probe\n",
                     kName, kName);
        return false;
    }
    return true;
}

bool ListingOnly(char** program) {
    for (char** a = program; *a != nullptr; ++a) {
        if (std::strcmp(*a, "--gtest_list_tests") == 0) return true;
    }
    return false;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// False at an end of file before size bytes.
bool ReadAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, text.data(), text.size());
    return close(fd) == 0 && ok;
}

pid_t WaitFor(pid_t pid, int* status) {
    pid_t r;
    do {
        r = waitpid(pid, status, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

// A new network namespace has its loopback, down: nothing connects until it is up.
bool LoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq ifr{};
    std::memcpy(ifr.ifr_name, "lo", 3);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    }
    close(fd);
    return ok;
}

// ---- The private /tmp ---------------------------------------------------------------------

constexpr char kTmp[] = "/tmp";

// The path with every link resolved, or the empty text when it does not exist.
std::string RealPath(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? std::string(real) : std::string();
}

// The file execvp would run for the name: itself when it holds a slash, else the first
// executable of that name on PATH.
std::string ProgramFile(const char* name) {
    if (std::strchr(name, '/') != nullptr) return name;
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
}

// "/tmp/NAME" when the resolved path lies in /tmp below NAME, else the empty text. /tmp
// itself is never carried: that would be no private /tmp at all.
std::string TmpFolderOf(const std::string& path) {
    if (path.empty() || path[0] != '/') return std::string();
    const std::string real = RealPath(path);
    const std::string prefix = std::string(kTmp) + "/";
    if (real.compare(0, prefix.size(), prefix) != 0 || real.size() == prefix.size()) return std::string();
    return real.substr(0, real.find('/', prefix.size()));
}

// What the program needs of the old /tmp, looked up while it is still in sight.
void FindCarried(Options* opt) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) != nullptr) opt->cwd = cwd;
    std::vector<std::string> wanted = opt->carry;
    wanted.push_back(opt->cwd);
    if (const char* tmpdir = std::getenv("TMPDIR")) wanted.push_back(tmpdir);
    if (opt->program != nullptr) {
        wanted.push_back(ProgramFile(opt->program[0]));
        for (char** a = opt->program + 1; *a != nullptr; ++a) wanted.push_back(*a);
    }
    for (const std::string& path : wanted) {
        const std::string folder = TmpFolderOf(path);
        if (!folder.empty() &&
            std::find(opt->carried.begin(), opt->carried.end(), folder) == opt->carried.end()) {
            opt->carried.push_back(folder);
        }
    }
}

// Covers /tmp with a fresh tmpfs and binds each carried folder of the old one back in at
// its place, with its owner and mode, then returns to the working folder through the
// new mounts. The old /tmp stays reachable through a descriptor taken before it is
// covered. False when a mount fails.
bool MakePrivateTmp(const Options& opt) {
    const int old = open(kTmp, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (old < 0) return false;
    bool ok = mount("tmpfs", kTmp, "tmpfs", 0, "mode=1777") == 0;
    for (const std::string& path : opt.carried) {
        if (!ok) break;
        const std::string name = path.substr(sizeof(kTmp));
        struct stat st {};
        if (fstatat(old, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            ok = mkdir(path.c_str(), 0700) == 0;
        } else {
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            ok = fd >= 0 && close(fd) == 0;
        }
        // In a user namespace an owner that is not mapped cannot be given; the bind below
        // shows the real one anyway.
        (void)lchown(path.c_str(), st.st_uid, st.st_gid);
        (void)chmod(path.c_str(), st.st_mode & 07777);
        const std::string source = "/proc/self/fd/" + std::to_string(old) + "/" + name;
        ok = ok && mount(source.c_str(), path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0;
    }
    close(old);
    if (ok && !opt.cwd.empty()) (void)chdir(opt.cwd.c_str());
    return ok;
}

// An X server run as root compiles its keymap into /var/lib/xkb/server-<display>.xkm and
// removes it once loaded: two servers of the same number, in two tests' namespaces, would
// remove each other's file and one would fail to start. A fresh tmpfs keeps each test's
// own. False when the folder exists and cannot be covered.
bool MakePrivateKeymaps() {
    constexpr char kKeymaps[] = "/var/lib/xkb";
    struct stat st {};
    if (lstat(kKeymaps, &st) != 0 || !S_ISDIR(st.st_mode)) return true;
    return mount("tmpfs", kKeymaps, "tmpfs", 0, "mode=0755") == 0;
}

// The probe's look at /tmp: nothing in it but the carried folders.
bool TmpHoldsOnlyCarried(const Options& opt) {
    DIR* d = opendir(kTmp);
    if (d == nullptr) return false;
    bool only = true;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        only = only && std::find(opt.carried.begin(), opt.carried.end(), std::string(kTmp) + "/" + name) !=
                           opt.carried.end();
    }
    closedir(d);
    return only;
}

// The probe's program, run where a test would run: the loopback carries a connection,
// the program is the first child of its own process 1, /proc is that namespace's, and
// /tmp is its own.
int LookInside(const Options& opt) {
    bool ok = getpid() == 2 && getppid() == 1 && TmpHoldsOnlyCarried(opt);
    char self[32] = {};
    ok = ok && readlink("/proc/self", self, sizeof(self) - 1) > 0 && std::string(self) == "2";
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ok = ok && server >= 0 && client >= 0 &&
         bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(server, 1) == 0 &&
         getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
         connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(server);
    close(client);
    return ok ? 0 : 1;
}

// Process 1 of the namespace. Writes 'R' to report once the namespace is ready (nothing
// when it cannot be made ready: the launcher then looks for another way), runs the
// program, reaps whatever ends in the meantime, ends what is left once the program has
// ended, and writes the program's wait status.
[[noreturn]] void RunInit(int report, const Options& opt) {
    // The keeper's end (and so the launcher's) ends this init, and with it everything in
    // the namespace.
    (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Private first: the /proc mounted next must not reach the mount namespace outside.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0 || !MakePrivateTmp(opt) ||
        !MakePrivateKeymaps() || !LoopbackUp()) {
        _exit(1);
    }
    const char ready = 'R';
    if (!WriteAll(report, &ready, 1)) _exit(1);

    int status = 0;
    const pid_t program = fork();
    if (program == 0) {
        // Process 1 only gets the signals it handles; the program is an ordinary process.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (opt.probe) _exit(LookInside(opt));
        execvp(opt.program[0], opt.program);
        std::fprintf(stderr, "%s: cannot start %s: %s\n", kName, opt.program[0], std::strerror(errno));
        _exit(127);
    }
    if (program < 0) {
        std::fprintf(stderr, "%s: cannot start %s: %s\n", kName, opt.probe ? "the probe" : opt.program[0],
                     std::strerror(errno));
        status = 127 << 8;
    } else {
        for (;;) {
            int st = 0;
            const pid_t ended = wait(&st);
            if (ended == program) {
                status = st;
                break;
            }
            if (ended < 0 && errno != EINTR) break;
        }
    }
    // Whatever the program left running (a simulator, a display server, a forgotten
    // child) ends with it.
    (void)kill(-1, SIGKILL);
    while (wait(nullptr) > 0 || errno == EINTR) {
    }
    (void)WriteAll(report, &status, sizeof(status));
    _exit(0);
}

bool MapSelf(uid_t uid, gid_t gid) {
    return WriteFile("/proc/self/setgroups", "deny") &&
           WriteFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
           WriteFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

// Runs the program (or the probe) in new namespaces made the given way. True when they
// were made; *status is then the program's wait status, or -1 when it was lost.
//
// A keeper child makes the namespaces, so that this process stays outside them and can
// still run the program directly when they cannot be made; the keeper's first child is
// the namespace's init.
bool RunIsolated(Way way, const Options& opt, int* status) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const pid_t launcher = getpid();
    const pid_t keeper = fork();
    if (keeper < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (keeper == 0) {
        close(report[0]);
        (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != launcher) _exit(1);
        int flags = CLONE_NEWNET | CLONE_NEWPID | CLONE_NEWNS;
        if (way == Way::kUser) flags |= CLONE_NEWUSER;
        if (unshare(flags) != 0) _exit(1);
        if (way == Way::kUser && !MapSelf(uid, gid)) _exit(1);
        const pid_t init = fork();
        if (init == 0) RunInit(report[1], opt);
        close(report[1]);
        if (init > 0) {
            int st = 0;
            (void)WaitFor(init, &st);
        }
        _exit(0);
    }
    close(report[1]);
    char ready = 0;
    const bool made = ReadAll(report[0], &ready, 1) && ready == 'R';
    if (made && !ReadAll(report[0], status, sizeof(*status))) *status = -1;
    close(report[0]);
    int st = 0;
    (void)WaitFor(keeper, &st);
    return made;
}

// Ends this launcher as the program ended.
int Mirror(int status) {
    if (status == -1) {
        std::fprintf(stderr, "%s: the namespace ended before the program's status was known\n", kName);
        return 1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        // The program has written its own core file, if any.
        const rlimit noCore{0, 0};
        (void)setrlimit(RLIMIT_CORE, &noCore);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        (void)sigaction(sig, &dfl, nullptr);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        (void)sigprocmask(SIG_UNBLOCK, &set, nullptr);
        (void)raise(sig);
        return 128 + sig;
    }
    return 1;
}

// ---- The port check where no namespace can be made ----------------------------------------

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// /proc/net/tcp and tcp6 print each address as 32-bit words in the machine's order:
// 127.0.0.1 is "0100007F". The listeners that a bind to 127.0.0.1 or a connection to
// it would meet are on that address, on the wildcard, or on their IPv6 mapped forms.
bool MeetsLoopback(const std::string& hexAddress) {
    static const char* const kAddresses[] = {
        "0100007F",
        "00000000",
        "00000000000000000000000000000000",
        "0000000000000000FFFF00000100007F",
        "0000000000000000FFFF000000000000",
    };
    for (const char* a : kAddresses) {
        if (strcasecmp(hexAddress.c_str(), a) == 0) return true;
    }
    return false;
}

// The inode of the listening socket on the port, or 0 when none listens there.
unsigned long ListenerInode(int port) {
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::stringstream lines(ReadText(table));
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            char address[33] = {};
            unsigned int localPort = 0, state = 0;
            unsigned long inode = 0;
            if (std::sscanf(line.c_str(), " %*u: %32[0-9A-Fa-f]:%x %*[0-9A-Fa-f]:%*x %x %*x:%*x %*x:%*x %*x %*u %*u %lu",
                            address, &localPort, &state, &inode) != 4) {
                continue;
            }
            constexpr unsigned int kListen = 0x0A;
            if (state == kListen && static_cast<int>(localPort) == port && MeetsLoopback(address)) return inode;
        }
    }
    return 0;
}

bool IsNumber(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
    }
    return true;
}

// The process that holds the socket, or -1 when none of those this user may look at does.
pid_t SocketHolder(unsigned long inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    pid_t found = -1;
    DIR* procs = opendir("/proc");
    if (procs == nullptr) return found;
    while (found < 0) {
        dirent* p = readdir(procs);
        if (p == nullptr) break;
        if (!IsNumber(p->d_name)) continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) continue;
        while (dirent* f = readdir(fds)) {
            char target[64] = {};
            if (readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof(target) - 1) > 0 && wanted == target) {
                found = static_cast<pid_t>(std::atol(p->d_name));
                break;
            }
        }
        closedir(fds);
    }
    closedir(procs);
    return found;
}

// The program's file name (its command name, cut to 15 characters, when the file cannot
// be read).
std::string ProgramName(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    char exe[4096] = {};
    if (readlink((dir + "/exe").c_str(), exe, sizeof(exe) - 1) > 0) {
        const char* slash = std::strrchr(exe, '/');
        return slash != nullptr ? slash + 1 : exe;
    }
    std::string comm = ReadText(dir + "/comm");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    return comm.empty() ? "?" : comm;
}

// One line on the first port that something outside already listens on; false then.
bool PortsFree(const std::vector<int>& ports) {
    for (int port : ports) {
        const unsigned long inode = ListenerInode(port);
        if (inode == 0) continue;
        const pid_t holder = SocketHolder(inode);
        const std::string who = holder > 0 ? "pid " + std::to_string(holder) + " (" + ProgramName(holder) + ")"
                                           : "a process this user cannot see";
        std::fprintf(stderr,
                     "%s: port %d is held by %s; no private network namespace can be made here, so "
                     "this test cannot run while it is\n",
                     kName, port, who.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!Parse(argc, argv, &opt)) return 2;
    FindCarried(&opt);
    if (!opt.probe && ListingOnly(opt.program)) {
        execvp(opt.program[0], opt.program);
        std::fprintf(stderr, "%s: cannot start %s: %s\n", kName, opt.program[0], std::strerror(errno));
        return 127;
    }
    if (!opt.direct) {
        // Only root can make them without a user namespace; for anyone else that try
        // would be a fork for nothing.
        std::vector<Way> ways;
        if (geteuid() == 0) ways.push_back(Way::kRoot);
        ways.push_back(Way::kUser);
        for (Way way : ways) {
            int status = 0;
            if (!RunIsolated(way, opt, &status)) continue;
            if (!opt.probe) return Mirror(status);
            if (status == 0) {
                std::printf("%s\n", WayName(way));
                return 0;
            }
        }
    }
    if (opt.probe) {
        std::printf("none\n");
        return 1;
    }
    if (!PortsFree(opt.ports)) return 1;
    execvp(opt.program[0], opt.program);
    std::fprintf(stderr, "%s: cannot start %s: %s\n", kName, opt.program[0], std::strerror(errno));
    return 127;
}
