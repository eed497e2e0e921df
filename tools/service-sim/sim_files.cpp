#include "sim_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace sim {

bool ReadWholeFile(const std::string& path, std::string* out, size_t maxBytes, bool* tooBig) {
    if (tooBig != nullptr) *tooBig = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string data;
    char buf[65536];
    bool ok = true;
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        // Stop reading as soon as the limit is passed: the file may be endless.
        if (data.size() + size_t(n) > maxBytes) {
            if (tooBig != nullptr) *tooBig = true;
            ok = false;
            break;
        }
        data.append(buf, size_t(n));
    }
    ::close(fd);
    if (ok) out->swap(data);
    return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& data, unsigned mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode_t(mode));
    if (fd < 0) return false;
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::write(fd, data.data() + off, data.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        off += size_t(n);
    }
    bool ok = off == data.size();
    if (::close(fd) != 0) ok = false;
    return ok;
}

}  // namespace sim
