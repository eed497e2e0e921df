// Test helper standing in for the update program: writes its argument vector, one
// element per line, hex-encoded, to the file named by SIM_ARGV_DUMP_FILE, then one
// line "fd N TARGET" for each descriptor above standard error that it was started
// with (a descriptor its starter forgot to close).
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const char* path = std::getenv("SIM_ARGV_DUMP_FILE");
    if (path == nullptr) return 3;
    // Listed before anything is opened here.
    std::vector<std::string> inherited;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        int own = ::dirfd(d);
        while (dirent* e = ::readdir(d)) {
            int fd = std::atoi(e->d_name);
            if (e->d_name[0] == '.' || fd <= 2 || fd == own) continue;
            char target[512] = {};
            std::string link = std::string("/proc/self/fd/") + e->d_name;
            ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            inherited.push_back(std::string("fd ") + e->d_name + " " +
                                (n > 0 ? std::string(target, size_t(n)) : "?"));
        }
        ::closedir(d);
    }
    FILE* f = std::fopen(path, "w");
    if (f == nullptr) return 4;
    for (int i = 0; i < argc; ++i) {
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(argv[i]); *p; ++p)
            std::fprintf(f, "%02x", *p);
        std::fputc('\n', f);
    }
    for (const std::string& line : inherited) std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
    return 7;
}
