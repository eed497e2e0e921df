// Trees removed by descriptor.

#include "lnx_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Whether the folder entry is the root of a mount: a bind mount of the same file system
// has the same device number, so the device alone does not tell. Kernels that cannot say
// are left to the device check.
bool IsMountRoot(int dirFd, const char* pcName) {
    struct statx stx {};
    if (statx(dirFd, pcName, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &stx) != 0) {
        return false;
    }
    return (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// Empties the open folder fd (which it closes): every entry is removed before the next
// is read again, so a folder changing under the walk is read until it is empty.
int EmptyFolder(int fd, dev_t dev) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        const int err = errno;
        (void)close(fd);
        return err;
    }
    int result = 0;
    // The names first, then the removals: removing while reading may skip entries.
    for (;;) {
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* e = readdir(dir)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                names.emplace_back(e->d_name);
            }
        }
        if (errno != 0) {
            result = errno;
            break;
        }
        if (names.empty()) {
            break;
        }
        for (const std::string& name : names) {
            struct stat st {};
            if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    continue;
                }
                result = errno;
                break;
            }
            if (!S_ISDIR(st.st_mode)) {
                if (unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
                    result = errno;
                    break;
                }
                continue;
            }
            if (st.st_dev != dev || IsMountRoot(fd, name.c_str())) {
                result = EXDEV;
                break;
            }
            const int sub = openat(fd, name.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                result = errno;
                break;
            }
            struct stat subSt {};
            // Swapped for another folder between the look and the open: not ours to walk.
            if (fstat(sub, &subSt) != 0 || subSt.st_dev != st.st_dev ||
                subSt.st_ino != st.st_ino) {
                (void)close(sub);
                result = EAGAIN;
                break;
            }
            result = EmptyFolder(sub, dev);
            if (result != 0) {
                break;
            }
            if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
                result = errno;
                break;
            }
        }
        if (result != 0) {
            break;
        }
        rewinddir(dir);
    }
    (void)closedir(dir);
    return result;
}

}  // namespace

int LNX_RemoveAt(int dirFd, const char* pcName) {
    if (pcName == nullptr || pcName[0] == '\0' || std::strchr(pcName, '/') != nullptr ||
        std::strcmp(pcName, ".") == 0 || std::strcmp(pcName, "..") == 0) {
        return EINVAL;
    }
    struct stat st {};
    if (fstatat(dirFd, pcName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    if (!S_ISDIR(st.st_mode)) {
        return unlinkat(dirFd, pcName, 0) != 0 && errno != ENOENT ? errno : 0;
    }
    if (IsMountRoot(dirFd, pcName)) {
        return EXDEV;
    }
    const int fd = openat(dirFd, pcName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        (void)close(fd);
        return EAGAIN;
    }
    const int result = EmptyFolder(fd, st.st_dev);
    if (result != 0) {
        return result;
    }
    return unlinkat(dirFd, pcName, AT_REMOVEDIR) != 0 && errno != ENOENT ? errno : 0;
}

int LNX_RemoveTree(const char* pcPath) {
    if (pcPath == nullptr || pcPath[0] == '\0') {
        return EINVAL;
    }
    std::string path(pcPath);
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const size_t slash = path.rfind('/');
    const std::string parent =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const int dirFd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return errno == ENOENT ? 0 : errno;
    }
    const int result = LNX_RemoveAt(dirFd, name.c_str());
    (void)close(dirFd);
    return result;
}
