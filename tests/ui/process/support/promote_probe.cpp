// A stand-in for the promote service in the tests of its start and kill. Copied under
// the service's name into a test's folder.
//
// Started with no arguments (as the front end starts the service) it writes
// "probe-report.txt" beside itself: one line "fd <n> <target>" per open descriptor and
// one line "sibling <pid>" per live process of its parent that runs a program of its
// own name; then it waits to be killed.
//
// Started as "<name> kill <scope pid>" it runs the kill by name twice, limited to the
// processes below scope: itself first, then from a child of its own. Both times it is
// the caller or the caller's parent, so it and the child must live through it. The exit
// status is 0 when both did, 2 when the child was killed.
//
// Started as "promote_probe wait ..." it only waits: a process whose arguments, but not
// its program, hold the service's name.
//
// Started as "<name> hold <MiB> <file>" it fills that much memory, creates the file and
// waits: a process that takes a while to die once killed, while the kernel gives its
// memory back.
//
// It never outlives the test that started it.

#include <dirent.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "ui_promote.h"
#include "ui_promote_inner.h"

namespace {

std::string ReadLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = readlink(path.c_str(), buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Parent and state of a process, from the fields after its name.
bool StatOf(pid_t pid, pid_t* parent, char* state) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    const size_t close = text.rfind(')');
    int ppid = 0;
    if (close == std::string::npos || sscanf(text.c_str() + close + 1, " %c %d", state, &ppid) != 2) {
        return false;
    }
    *parent = ppid;
    return true;
}

int Report() {
    const std::string exe = ReadLink("/proc/self/exe");
    const std::string dir = exe.substr(0, exe.rfind('/'));
    std::string text;
    if (DIR* d = opendir("/proc/self/fd")) {
        const int own = dirfd(d);
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.' || atoi(e->d_name) == own) continue;
            text += std::string("fd ") + e->d_name + " " +
                    ReadLink(std::string("/proc/self/fd/") + e->d_name) + "\n";
        }
        closedir(d);
    }
    const pid_t self = getpid();
    const pid_t parent = getppid();
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const pid_t pid = atoi(e->d_name);
            pid_t pp = 0;
            char state = 0;
            if (pid <= 0 || pid == self || !StatOf(pid, &pp, &state) || pp != parent ||
                state == 'Z' || state == 'X') {
                continue;
            }
            if (BaseName(ReadLink("/proc/" + std::to_string(pid) + "/exe")) == BaseName(exe)) {
                text += "sibling " + std::to_string(pid) + "\n";
            }
        }
        closedir(d);
    }
    const std::string tmp = dir + "/probe-report.tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << text;
    }
    if (rename(tmp.c_str(), (dir + "/probe-report.txt").c_str()) != 0) return 1;
    for (;;) pause();
}

int KillTwice(pid_t scope) {
    uiPromoteKillScopeSet(scope);
    UI_PromoteService_Kill();
    const pid_t child = fork();
    if (child == 0) {
        UI_PromoteService_Kill();
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return 3;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) return 1;
    if (argc >= 2 && std::strcmp(argv[1], "wait") == 0) {
        for (;;) pause();
    }
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        const size_t size = size_t(atoi(argv[2])) << 20;
        void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) return 1;
        std::memset(block, 0x5A, size);
        std::ofstream(argv[3]) << "held\n";
        for (;;) pause();
    }
    if (argc == 3 && std::strcmp(argv[1], "kill") == 0) {
        return KillTwice(static_cast<pid_t>(atoi(argv[2])));
    }
    return Report();
}
