#include "sim_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_files.h"

namespace sim {

namespace {

// A state file larger than this is not one the simulator wrote.
constexpr size_t kMaxStateBytes = 1024 * 1024;

// Writes all of data to fd; false on any error.
bool WriteAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::write(fd, data.data() + off, data.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += size_t(n);
    }
    return true;
}

}  // namespace

std::string StateFile::DefaultPath() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::string();
    return std::string(home) + "/.VanTrelo/sim-state.json";
}

void StateFile::Open(const std::string& path, Engine* engine) {
    path_ = path;
    if (path_.empty()) return;
    std::string text;
    bool tooBig = false;
    if (ReadWholeFile(path_, &text, kMaxStateBytes, &tooBig)) {
        std::string why;
        if (engine->RestoreKeptState(text, &why)) {
            written_ = text;
            Save(*engine);   // an older layout of the same state is written anew
            return;
        }
        text = why;
    } else if (errno == ENOENT && !tooBig) {
        Save(*engine);
        return;
    } else {
        text = tooBig ? "larger than a state file" : std::strerror(errno);
    }
    const std::string bad = path_ + ".bad";
    if (::rename(path_.c_str(), bad.c_str()) != 0) {
        // A file that can be neither read nor put aside is left alone: the state then
        // lives in memory only.
        std::fprintf(stderr, "service-sim: state file %s is unusable (%s) and cannot be put aside: %s; "
                             "the state is kept in memory only\n",
                     path_.c_str(), text.c_str(), std::strerror(errno));
        path_.clear();
        return;
    }
    std::fprintf(stderr, "service-sim: state file %s is damaged (%s); put aside as %s, defaults used\n",
                 path_.c_str(), text.c_str(), bad.c_str());
    Save(*engine);
}

void StateFile::Save(const Engine& engine) {
    if (path_.empty()) return;
    std::string text = engine.KeptStateText();
    if (text == written_) return;
    if (Write(text)) {
        written_ = std::move(text);
        failNoted_ = false;
    } else if (!failNoted_) {
        // Noted once, not at every request, until a write succeeds again.
        failNoted_ = true;
        std::fprintf(stderr, "service-sim: cannot write state file %s: %s\n", path_.c_str(),
                     std::strerror(errno));
    }
}

// The new state goes to a file beside the old one, reaches the disk, and only then
// takes the old one's name; the folder of the default path is made when missing.
bool StateFile::Write(const std::string& text) {
    const size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        (void)::mkdir(path_.substr(0, slash).c_str(), 0700);
    }
    const std::string tmp = path_ + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(tmp.c_str(), path_.c_str()) == 0) return true;
    (void)::unlink(tmp.c_str());
    errno = ok ? errno : err;
    return false;
}

}  // namespace sim
