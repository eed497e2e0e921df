#include "vt_test/private_tmp.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

namespace vt_test {

namespace {

// "<tmp>/<first name>" of a path below the folder tmp, "" for any other path.
std::string TopBelow(const std::string& path, const std::string& tmp) {
    const std::string prefix = tmp + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return std::string();
    const size_t end = path.find('/', prefix.size());
    const std::string top = path.substr(0, end);
    return top.size() > prefix.size() ? top : std::string();
}

// a is b or lies below it.
bool Within(const std::string& a, const std::string& b) {
    return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == '/');
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

}  // namespace

std::string MountPrivateTmp(const std::vector<std::string>& keep, const std::vector<std::string>& ownPaths) {
    // Where /tmp really is: the new file system lands there.
    const std::string realTmp = RealPath("/tmp");
    if (realTmp.empty()) return std::string("no /tmp: ") + std::strerror(errno);

    // The folders to carry over, by the name they have under /tmp, with a descriptor taken
    // while they can still be reached.
    std::map<std::string, int> tops;
    const auto closeAll = [&tops] {
        for (const auto& t : tops) close(t.second);
    };
    for (const std::string& path : keep) {
        const std::string real = RealPath(path);
        if (real.empty()) {
            closeAll();
            return "missing: " + path + " (" + std::strerror(errno) + ")";
        }
        for (std::string top : {TopBelow(path, "/tmp"), TopBelow(real, realTmp)}) {
            if (top.empty()) continue;
            if (top.compare(0, realTmp.size() + 1, realTmp + "/") == 0) {
                top = "/tmp" + top.substr(realTmp.size());
            }
            if (tops.count(top) != 0) continue;
            for (const std::string& own : ownPaths) {
                if (Within(own, top) || Within(top, own)) {
                    closeAll();
                    return "the test's own " + own + " would be the build's " + top +
                           ": move the build out of " + top;
                }
            }
            const int fd = open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                closeAll();
                return "cannot open " + top + ": " + std::strerror(errno);
            }
            tops[top] = fd;
        }
    }

    std::string failure;
    if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
        failure = std::string("cannot mount a tmpfs over /tmp: ") + std::strerror(errno);
    }
    for (const auto& t : tops) {
        if (!failure.empty()) break;
        // The descriptor's magic link names the folder though /tmp now hides it.
        const std::string source = "/proc/self/fd/" + std::to_string(t.second);
        if (mkdir(t.first.c_str(), 0700) != 0 ||
            mount(source.c_str(), t.first.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            failure = "cannot bind " + t.first + " into the new /tmp: " + std::strerror(errno);
        }
    }
    closeAll();
    return failure;
}

}  // namespace vt_test
