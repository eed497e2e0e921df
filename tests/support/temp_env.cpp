#include "vt_test/temp_env.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace vt_test {

namespace {

std::string Save(const char* name, bool* had) {
    const char* v = getenv(name);
    *had = v != nullptr;
    return v ? v : "";
}

void Restore(const char* name, bool had, const std::string& value) {
    if (had) {
        setenv(name, value.c_str(), 1);
    } else {
        unsetenv(name);
    }
}

}  // namespace

TempEnv::TempEnv() {
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/vt-test-XXXXXX";
    std::string buf = templ;
    if (mkdtemp(&buf[0]) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + templ);
    }
    root_ = buf;
    home_ = root_ + "/home";
    tmp_ = root_ + "/tmp";
    runtime_ = root_ + "/run";
    mkdir(home_.c_str(), 0700);
    mkdir(tmp_.c_str(), 0700);
    mkdir(runtime_.c_str(), 0700);
    mkdir((home_ + "/.config").c_str(), 0700);

    oldHome_ = Save("HOME", &hadHome_);
    oldXdg_ = Save("XDG_CONFIG_HOME", &hadXdg_);
    oldTmp_ = Save("TMPDIR", &hadTmp_);
    oldRuntime_ = Save("XDG_RUNTIME_DIR", &hadRuntime_);
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
    setenv("TMPDIR", tmp_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
}

TempEnv::~TempEnv() {
    Restore("HOME", hadHome_, oldHome_);
    Restore("XDG_CONFIG_HOME", hadXdg_, oldXdg_);
    Restore("TMPDIR", hadTmp_, oldTmp_);
    Restore("XDG_RUNTIME_DIR", hadRuntime_, oldRuntime_);
    RemoveTree(root_);
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        DIR* d = opendir(path.c_str());
        if (d != nullptr) {
            while (struct dirent* e = readdir(d)) {
                if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) {
                    continue;
                }
                RemoveTree(path + "/" + e->d_name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace vt_test
