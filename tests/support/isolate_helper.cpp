// What the launcher's tests run under it, one thing per call:
//   listen PORT    listens on 127.0.0.1:PORT and takes one connection of its own there;
//                  prints "listened on PORT as pid N"
//   procs          prints the process numbers /proc shows, one line
//   linger SECONDS leaves a grandchild behind that keeps every inherited descriptor and
//                  ends by itself after SECONDS; ends at once itself
//   hold FD SECONDS
//                  writes one byte to the inherited descriptor FD, then waits SECONDS
//   exit CODE      ends with CODE
//   signal SIG     ends by the signal SIG
//   look PATH...   prints "PATH MODE" for each path (its permission bits in octal, as
//                  lstat gives them), or "PATH -" when there is none
//   list DIR       prints the names in DIR, sorted, one line
//   cwd            prints the working folder
//   write PATH     makes a new file there; ends with 1 when it cannot

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
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
#include <string>
#include <vector>

namespace {

int Listen(int port) {
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(server, 1) != 0 ||
        connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        std::fprintf(stderr, "port %d: %s\n", port, std::strerror(errno));
        return 1;
    }
    const int accepted = accept(server, nullptr, nullptr);
    if (accepted < 0) {
        std::fprintf(stderr, "accept: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("listened on %d as pid %d\n", port, static_cast<int>(getpid()));
    return 0;
}

int Procs() {
    std::vector<long> pids;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            char* end = nullptr;
            const long pid = std::strtol(e->d_name, &end, 10);
            if (end != e->d_name && *end == '\0') pids.push_back(pid);
        }
        closedir(d);
    }
    std::sort(pids.begin(), pids.end());
    std::string line;
    for (long pid : pids) line += (line.empty() ? "" : " ") + std::to_string(pid);
    std::printf("%s\n", line.c_str());
    return 0;
}

int Linger(int seconds) {
    const pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) {
            alarm(static_cast<unsigned>(seconds));
            for (;;) pause();
        }
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return 0;
}

int Hold(int fd, int seconds) {
    const char ready = 'H';
    if (write(fd, &ready, 1) != 1) return 1;
    alarm(static_cast<unsigned>(seconds));
    for (;;) pause();
}

int Signal(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(sig, &dfl, nullptr);
    raise(sig);
    return 1;
}

int Look(int count, char** paths) {
    for (int i = 0; i < count; ++i) {
        struct stat st {};
        if (lstat(paths[i], &st) == 0) {
            std::printf("%s %o\n", paths[i], static_cast<unsigned>(st.st_mode & 07777));
        } else {
            std::printf("%s -\n", paths[i]);
        }
    }
    return 0;
}

int List(const char* dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir);
    if (d == nullptr) return 1;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    std::string line;
    for (const std::string& name : names) line += (line.empty() ? "" : " ") + name;
    std::printf("%s\n", line.c_str());
    return 0;
}

int Cwd() {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return 1;
    std::printf("%s\n", cwd);
    return 0;
}

int Write(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return fd >= 0 && close(fd) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    const int n = argc > 2 ? std::atoi(argv[2]) : 0;
    if (what == "listen") return Listen(n);
    if (what == "procs") return Procs();
    if (what == "linger") return Linger(n);
    if (what == "hold") return Hold(n, argc > 3 ? std::atoi(argv[3]) : 0);
    if (what == "exit") return n;
    if (what == "signal") return Signal(n);
    if (what == "look") return Look(argc - 2, argv + 2);
    if (what == "list" && argc > 2) return List(argv[2]);
    if (what == "cwd") return Cwd();
    if (what == "write" && argc > 2) return Write(argv[2]);
    std::fprintf(stderr,
                 "isolate_helper: listen PORT | procs | linger SECONDS | hold FD SECONDS | exit CODE | signal SIG"
                 " | look PATH... | list DIR | cwd | write PATH\n");
    return 2;
}
