// Installing a package: checked, unpacked beside the install folder, swapped in whole.

#include "refitter.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "lnx_tree.h"

namespace {

constexpr char kTarPath[] = "/bin/tar";
constexpr char kInstallMark[] = "VanTrelo";
constexpr char kSettingsName[] = "sysconfig.ini";
constexpr char kKeptFolder[] = "update";
// The mode every folder of the new tree gets; files get their manifest's.
constexpr mode_t kFolderMode = 0755;

void Say(const std::string& text) { (void)fprintf(stderr, "refitter: %s\n", text.c_str()); }

std::string Errno(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

// Rights missing are told from everything else that keeps a write from happening.
int ExitFor(int err) {
    return err == EACCES || err == EPERM || err == EROFS ? REFITTER_NO_RIGHTS : REFITTER_WRITE_FAILED;
}

// A descriptor closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            (void)close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// The names in a folder, without "." and "..".
bool ListFolder(int dirFd, std::vector<std::string>* names) {
    const int dup = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = dup >= 0 ? fdopendir(dup) : nullptr;
    if (dir == nullptr) {
        if (dup >= 0) {
            (void)close(dup);
        }
        return false;
    }
    rewinddir(dir);
    errno = 0;
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names->emplace_back(e->d_name);
        }
    }
    const int err = errno;
    (void)closedir(dir);
    return err == 0;
}

std::string HashFile(int fd, bool* ok) {
    *ok = false;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (ctx == nullptr || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        return std::string();
    }
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::string();
        }
        if (n == 0) {
            break;
        }
        (void)EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    (void)EVP_DigestFinal_ex(ctx.get(), digest, &len);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < len; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 15];
    }
    *ok = true;
    return hex;
}

// Unpacks the payload into the staging folder: tar, given its arguments one by one and
// a fixed environment, reads the package already opened and checked (never its path
// again) and works inside the staging folder's descriptor.
int Extract(int pkgFd, int stageFd) {
    if (lseek(pkgFd, 0, SEEK_SET) != 0) {
        Say(Errno("cannot read the package", errno));
        return REFITTER_WRITE_FAILED;
    }
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return REFITTER_WRITE_FAILED;
    }
    (void)posix_spawn_file_actions_adddup2(&actions, pkgFd, STDIN_FILENO);
    (void)posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    (void)posix_spawn_file_actions_addfchdir_np(&actions, stageFd);
    const char* const argv[] = {kTarPath, "-x", "-f", "-", "--no-same-owner",
                                "--no-same-permissions", "--strip-components=1", "Payload", nullptr};
    const char* const envp[] = {"LC_ALL=C", "PATH=/usr/bin:/bin", nullptr};
    pid_t pid = -1;
    const int err = posix_spawn(&pid, kTarPath, &actions, nullptr, const_cast<char* const*>(argv),
                                const_cast<char* const*>(envp));
    (void)posix_spawn_file_actions_destroy(&actions);
    if (err != 0) {
        Say(Errno("cannot run tar", err));
        return REFITTER_WRITE_FAILED;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            Say(Errno("tar was lost", errno));
            return REFITTER_WRITE_FAILED;
        }
    }
    // The package was read whole and found good before: what fails now is the writing.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Say("tar could not unpack the payload");
        return REFITTER_WRITE_FAILED;
    }
    return REFITTER_INSTALLED;
}

// Checks the unpacked tree against the manifest, entry by entry, and sets the modes: a
// folder 0755, a file its manifest's. Nothing else than folders and the manifest's files
// may be there.
int Verify(int dirFd, const std::string& rel, const RefitterPackage& pkg, size_t* pFiles) {
    std::vector<std::string> names;
    if (!ListFolder(dirFd, &names)) {
        Say(Errno("cannot read the new tree", errno));
        return REFITTER_WRITE_FAILED;
    }
    for (const std::string& name : names) {
        const std::string path = rel.empty() ? name : rel + "/" + name;
        struct stat st {};
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            Say(Errno("cannot examine the new tree", errno));
            return REFITTER_WRITE_FAILED;
        }
        if (S_ISDIR(st.st_mode)) {
            Fd sub(openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.ok() || fchmod(sub.get(), kFolderMode) != 0) {
                Say(Errno("cannot open a folder of the new tree", errno));
                return ExitFor(errno);
            }
            const int rc = Verify(sub.get(), path, pkg, pFiles);
            if (rc != REFITTER_INSTALLED) {
                return rc;
            }
            continue;
        }
        const auto it = pkg.files.find(path);
        if (!S_ISREG(st.st_mode) || it == pkg.files.end()) {
            Say("the new tree holds what the manifest does not name: " + path);
            return REFITTER_BAD_PACKAGE;
        }
        Fd file(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        bool read = false;
        const std::string hash = file.ok() ? HashFile(file.get(), &read) : std::string();
        if (!read) {
            Say(Errno("cannot read the new tree", errno));
            return REFITTER_WRITE_FAILED;
        }
        if (hash != it->second.sha256) {
            Say("a file of the new tree differs from the manifest: " + path);
            return REFITTER_BAD_PACKAGE;
        }
        if (fchmod(file.get(), it->second.mode) != 0) {
            Say(Errno("cannot set a mode in the new tree", errno));
            return ExitFor(errno);
        }
        ++*pFiles;
    }
    return REFITTER_INSTALLED;
}

// Copies one kept file of the old tree to the same place in the new one, making the
// folders it needs.
int CarryFile(int oldFd, const std::string& name, const struct stat& st, int stageFd,
              const std::vector<std::string>& folders) {
    std::vector<std::unique_ptr<Fd>> chain;
    int at = stageFd;
    for (const std::string& folder : folders) {
        if (mkdirat(at, folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            Say(Errno("cannot make a folder in the new tree", errno));
            return ExitFor(errno);
        }
        chain.push_back(std::make_unique<Fd>(
            openat(at, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
        if (!chain.back()->ok()) {
            Say("the new tree has a file where the old one keeps settings in a folder: " + folder);
            return REFITTER_BAD_PACKAGE;
        }
        at = chain.back()->get();
    }
    struct stat there {};
    if (fstatat(at, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(there.st_mode)) {
            Say("the new tree has a folder where the old one keeps a settings file: " + name);
            return REFITTER_BAD_PACKAGE;
        }
        if (unlinkat(at, name.c_str(), 0) != 0) {
            Say(Errno("cannot replace a file of the new tree", errno));
            return ExitFor(errno);
        }
    }
    Fd in(openat(oldFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const mode_t mode = st.st_mode & 0777;
    Fd out(openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!in.ok() || !out.ok()) {
        Say(Errno("cannot copy a kept file", errno));
        return ExitFor(errno);
    }
    std::vector<char> buf(1 << 16);
    for (;;) {
        ssize_t n = read(in.get(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            Say(Errno("cannot read a kept file", errno));
            return REFITTER_WRITE_FAILED;
        }
        if (n == 0) {
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out.get(), buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w < 0) {
                Say(Errno("cannot write a kept file", errno));
                return ExitFor(errno);
            }
            done += w;
        }
    }
    return fchmod(out.get(), mode) == 0 ? REFITTER_INSTALLED : ExitFor(errno);
}

// Carries the user's settings over from the old tree: every "sysconfig.ini" and every
// file in a folder named "update", wherever they lie. Links are never followed and the
// walk stays on the install folder's file system.
int Carry(int oldFd, dev_t dev, const std::vector<std::string>& folders, int stageFd) {
    std::vector<std::string> names;
    if (!ListFolder(oldFd, &names)) {
        Say(Errno("cannot read the installed tree", errno));
        return ExitFor(errno);
    }
    const bool kept = !folders.empty() && folders.back() == kKeptFolder;
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(oldFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        int rc = REFITTER_INSTALLED;
        if (S_ISDIR(st.st_mode) && st.st_dev == dev) {
            Fd sub(openat(oldFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.ok()) {
                Say(Errno("cannot read the installed tree", errno));
                return ExitFor(errno);
            }
            std::vector<std::string> deeper = folders;
            deeper.push_back(name);
            rc = Carry(sub.get(), dev, deeper, stageFd);
        } else if (S_ISREG(st.st_mode) && (kept || name == kSettingsName)) {
            rc = CarryFile(oldFd, name, st, stageFd, folders);
        }
        if (rc != REFITTER_INSTALLED) {
            return rc;
        }
    }
    return REFITTER_INSTALLED;
}

// Puts the new tree in place of the old in one step where the file system can exchange
// two names; elsewhere with two renames, the first undone when the second fails. On
// success the old tree lies under the new tree's name or under the old name.
int Swap(int parentFd, const std::string& newName, const std::string& name, const std::string& oldName,
         const RefitterHooks& hooks) {
    if (!hooks.bRefuseExchange &&
        renameat2(parentFd, newName.c_str(), parentFd, name.c_str(), RENAME_EXCHANGE) == 0) {
        return REFITTER_INSTALLED;
    }
    if (!hooks.bRefuseExchange && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        Say(Errno("cannot exchange the folders", errno));
        return ExitFor(errno);
    }
    if (renameat(parentFd, name.c_str(), parentFd, oldName.c_str()) != 0) {
        Say(Errno("cannot move the installed tree aside", errno));
        return ExitFor(errno);
    }
    int err = hooks.bRefuseSecondRename ? EIO : 0;
    if (err == 0 && renameat(parentFd, newName.c_str(), parentFd, name.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        Say(Errno("cannot move the new tree in place", err));
        if (renameat(parentFd, oldName.c_str(), parentFd, name.c_str()) != 0) {
            Say(Errno("cannot move the installed tree back", errno));
        }
        return ExitFor(err);
    }
    return REFITTER_INSTALLED;
}

// The parent folder's path and the last component of a path.
bool SplitPath(const std::string& path, std::string* parent, std::string* name) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    const size_t slash = p.rfind('/');
    *parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
    *name = slash == std::string::npos ? p : p.substr(slash + 1);
    return !name->empty() && *name != "." && *name != ".." && *name != "/";
}

// A run's staging folder, removed unless the run got as far as putting it in place.
class Staging {
public:
    Staging(int parentFd, const std::string& name) : parentFd_(parentFd), name_(name) {}
    ~Staging() {
        if (!kept_) {
            (void)LNX_RemoveAt(parentFd_, name_.c_str());
        }
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    void Keep() { kept_ = true; }

private:
    int parentFd_;
    std::string name_;
    bool kept_ = false;
};

}  // namespace

std::string Refitter_NewName(const std::string& installName) { return "." + installName + ".refitter-new"; }
std::string Refitter_OldName(const std::string& installName) { return "." + installName + ".refitter-old"; }

int Refitter_DropRights() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if ((getegid() != gid && setresgid(gid, gid, gid) != 0) ||
        (geteuid() != uid && setresuid(uid, uid, uid) != 0)) {
        Say(Errno("cannot give up raised rights", errno));
        return REFITTER_NO_RIGHTS;
    }
    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    // Saved ids too: a program that kept one could take the rights back.
    if (getresuid(&ru, &eu, &su) != 0 || getresgid(&rg, &eg, &sg) != 0 || eu != ru || su != ru ||
        eg != rg || sg != rg) {
        if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) {
            Say(Errno("cannot give up raised rights", errno));
            return REFITTER_NO_RIGHTS;
        }
    }
    return REFITTER_INSTALLED;
}

int Refitter_Run(const char* pcExtractDir, const char* pcInstallDir, const RefitterHooks* pstHooks) {
    const RefitterHooks none;
    const RefitterHooks& hooks = pstHooks != nullptr ? *pstHooks : none;
    const auto reached = [&hooks](RefitterStep step) {
        if (hooks.step) {
            hooks.step(step);
        }
    };
    (void)umask(022);
    if (Refitter_DropRights() != REFITTER_INSTALLED) {
        return REFITTER_NO_RIGHTS;
    }
    if (pcExtractDir == nullptr || pcInstallDir == nullptr) {
        return REFITTER_UNSAFE;
    }

    // The unpack folder: a real folder of this user that nobody else may write, or
    // someone else could have put the package there.
    Fd extract(open(pcExtractDir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!extract.ok() || fstat(extract.get(), &st) != 0 || st.st_uid != getuid() || (st.st_mode & 022) != 0) {
        Say(std::string("the unpack folder is missing or not safe: ") + pcExtractDir);
        return REFITTER_UNSAFE;
    }
    // The package: a regular file, not a link to one (nor a pipe that would block).
    Fd pkg(openat(extract.get(), REFITTER_PACKAGE_NAME, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!pkg.ok() || fstat(pkg.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        fcntl(pkg.get(), F_SETFL, 0) != 0) {
        Say(std::string("the package is missing or not a regular file: ") + REFITTER_PACKAGE_NAME);
        return REFITTER_UNSAFE;
    }

    std::string parentPath, name;
    if (!SplitPath(pcInstallDir, &parentPath, &name)) {
        Say(std::string("not an install folder: ") + pcInstallDir);
        return REFITTER_NOT_INSTALL;
    }
    const std::string newName = Refitter_NewName(name);
    const std::string oldName = Refitter_OldName(name);
    Fd parent(open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.ok()) {
        Say(Errno("cannot open the install folder's parent", errno));
        return errno == EACCES ? REFITTER_NO_RIGHTS : REFITTER_NOT_INSTALL;
    }
    // A run ended between the two renames left the installed tree under the old name.
    if (fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT &&
        fstatat(parent.get(), oldName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
        if (renameat(parent.get(), oldName.c_str(), parent.get(), name.c_str()) != 0) {
            Say(Errno("cannot move the installed tree back", errno));
            return ExitFor(errno);
        }
    }
    Fd install(openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat installSt {};
    struct stat mark {};
    if (!install.ok() || fstat(install.get(), &installSt) != 0 ||
        fstatat(install.get(), kInstallMark, &mark, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(mark.st_mode)) {
        Say(std::string("not an install folder: ") + pcInstallDir);
        return REFITTER_NOT_INSTALL;
    }

    // The whole package is read and checked before anything is written, so that a
    // damaged archive is told from a write that fails.
    RefitterPackage package;
    std::string reason;
    int rc = Refitter_ReadPackage(pkg.get(), &package, &reason);
    if (rc != REFITTER_INSTALLED) {
        Say(reason);
        return rc;
    }
    reached(RefitterStep::kChecked);

    for (const std::string& leftover : {newName, oldName}) {
        const int err = LNX_RemoveAt(parent.get(), leftover.c_str());
        if (err != 0) {
            Say(Errno("cannot remove what an earlier run left", err));
            return ExitFor(err);
        }
    }
    // Readable by nobody else until it is complete and takes the old folder's mode.
    if (mkdirat(parent.get(), newName.c_str(), 0700) != 0) {
        Say(Errno("cannot make the new folder beside the install folder", errno));
        return ExitFor(errno);
    }
    Staging staging(parent.get(), newName);
    Fd stage(openat(parent.get(), newName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!stage.ok()) {
        Say(Errno("cannot open the new folder", errno));
        return ExitFor(errno);
    }
    reached(RefitterStep::kStagingMade);

    if ((rc = Extract(pkg.get(), stage.get())) != REFITTER_INSTALLED) {
        return rc;
    }
    reached(RefitterStep::kExtracted);
    size_t files = 0;
    if ((rc = Verify(stage.get(), std::string(), package, &files)) != REFITTER_INSTALLED) {
        return rc;
    }
    if (files != package.files.size()) {
        Say("the new tree lacks files the manifest names");
        return REFITTER_BAD_PACKAGE;
    }
    reached(RefitterStep::kVerified);
    if ((rc = Carry(install.get(), installSt.st_dev, {}, stage.get())) != REFITTER_INSTALLED) {
        return rc;
    }
    reached(RefitterStep::kCarried);
    if (fchmod(stage.get(), installSt.st_mode & 0777) != 0) {
        Say(Errno("cannot give the new folder its mode", errno));
        return ExitFor(errno);
    }
    if (syncfs(stage.get()) != 0) {
        Say(Errno("cannot flush the new tree", errno));
        return REFITTER_WRITE_FAILED;
    }
    reached(RefitterStep::kFlushed);

    if ((rc = Swap(parent.get(), newName, name, oldName, hooks)) != REFITTER_INSTALLED) {
        return rc;
    }
    staging.Keep();
    reached(RefitterStep::kSwapped);
    // The old tree now lies under one of the two names; an error here leaves it for the
    // next run, the install itself is done.
    for (const std::string& leftover : {newName, oldName}) {
        const int err = LNX_RemoveAt(parent.get(), leftover.c_str());
        if (err != 0) {
            Say(Errno("cannot remove the old tree", err));
        }
    }
    reached(RefitterStep::kOldRemoved);
    return REFITTER_INSTALLED;
}
