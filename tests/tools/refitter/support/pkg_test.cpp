#include "pkg_test.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace pkg_test {

namespace {

// A zero-padded octal field of width - 1 digits and its NUL.
void Octal(char* field, size_t width, unsigned long long value) {
    for (size_t i = width - 1; i-- > 0; value >>= 3) {
        field[i] = static_cast<char>('0' + (value & 7));
    }
    field[width - 1] = '\0';
}

std::string Header(const Member& m) {
    char h[512] = {};
    std::string name = m.name;
    std::string prefix;
    if (name.size() > 100) {
        const size_t slash = name.rfind('/', name.size() - 2);
        prefix = name.substr(0, slash);
        name = name.substr(slash + 1);
    }
    std::memcpy(h, name.data(), std::min<size_t>(name.size(), 100));
    Octal(h + 100, 8, m.mode);
    Octal(h + 108, 8, 0);
    Octal(h + 116, 8, 0);
    Octal(h + 124, 12, m.type == '0' ? m.data.size() : 0);
    Octal(h + 136, 12, 0);
    h[156] = m.type;
    std::memcpy(h + 157, m.link.data(), std::min<size_t>(m.link.size(), 100));
    std::memcpy(h + 257, "ustar", 6);
    std::memcpy(h + 263, "00", 2);
    std::memcpy(h + 345, prefix.data(), std::min<size_t>(prefix.size(), 155));
    std::memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    std::snprintf(h + 148, 7, "%06o", sum);
    h[155] = ' ';
    return std::string(h, sizeof(h));
}

}  // namespace

std::string Ustar(const std::vector<Member>& members) {
    std::string out;
    for (const Member& m : members) {
        out += Header(m);
        if (m.type == '0') {
            out += m.data;
            out.append((512 - m.data.size() % 512) % 512, '\0');
        }
    }
    out.append(1024, '\0');
    return out;
}

std::string Sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), digest, &len, EVP_sha256(), nullptr);
    std::string hex;
    char b[3];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(b, sizeof(b), "%02x", digest[i]);
        hex += b;
    }
    return hex;
}

Tree ClientTree(const std::string& mark) {
    return {{"VanTrelo", {0755, "front end " + mark}},
            {"VanTreloUpdate", {0755, "update program " + mark}},
            {"refitter", {0755, "install helper " + mark}},
            {"version", {0644, mark}},
            {"sysconfig.ini", {0644, "[GLOBAL]\nClientLogLevel=1\n; " + mark + "\n"}},
            {"language/1033/l_UILabel.ini", {0644, "[GLOBAL]\nOK=OK " + mark + "\n"}},
            {"update/notes.txt", {0644, "update notes " + mark}}};
}

std::vector<Member> PackageMembers(const Tree& tree, const std::string& version,
                                   const std::string& product) {
    std::vector<Member> members;
    members.push_back({"PackageInfo", '0', 0644,
                       "format=1\nproduct=" + product + "\nversion=" + version + "\n", ""});
    std::string manifest;
    for (const auto& f : tree) {
        char mode[8];
        std::snprintf(mode, sizeof(mode), "%o", f.second.mode);
        manifest += Sha256Hex(f.second.content) + " " + mode + " " + f.first + "\n";
    }
    members.push_back({"Manifest", '0', 0644, manifest, ""});
    members.push_back({"Payload/", '5', 0755, "", ""});
    std::set<std::string> folders;
    for (const auto& f : tree) {
        for (size_t s = f.first.find('/'); s != std::string::npos; s = f.first.find('/', s + 1)) {
            if (folders.insert(f.first.substr(0, s)).second) {
                members.push_back({"Payload/" + f.first.substr(0, s) + "/", '5', 0755, "", ""});
            }
        }
        members.push_back({"Payload/" + f.first, '0', f.second.mode, f.second.content, ""});
    }
    return members;
}

void WriteFile(const std::string& path, const std::string& content, unsigned mode) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

::testing::AssertionResult ReadNeeded(const std::string& path, std::string* bytes) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return ::testing::AssertionFailure() << "needed file " << path << " is missing: " << std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode) || st.st_size == 0) {
        return ::testing::AssertionFailure() << "needed file " << path << " is not a regular file or is empty";
    }
    *bytes = ReadFile(path);
    if (bytes->size() != static_cast<size_t>(st.st_size)) {
        return ::testing::AssertionFailure() << "needed file " << path << " could not be read whole";
    }
    return ::testing::AssertionSuccess();
}

void WriteTree(const std::string& dir, const Tree& tree) {
    (void)mkdir(dir.c_str(), 0755);
    for (const auto& f : tree) {
        for (size_t s = f.first.find('/'); s != std::string::npos; s = f.first.find('/', s + 1)) {
            (void)mkdir((dir + "/" + f.first.substr(0, s)).c_str(), 0755);
        }
        WriteFile(dir + "/" + f.first, f.second.content, f.second.mode);
    }
}

namespace {

void SnapshotInto(const std::string& dir, const std::string& rel, std::map<std::string, std::string>* out) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        const std::string key = rel.empty() ? name : rel + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;
        char mode[16];
        std::snprintf(mode, sizeof(mode), "%04o", st.st_mode & 07777);
        if (S_ISDIR(st.st_mode)) {
            (*out)[key] = std::string("d ") + mode;
            SnapshotInto(path, key, out);
        } else if (S_ISREG(st.st_mode)) {
            (*out)[key] = std::string("f ") + mode + " " + ReadFile(path);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = readlink(path.c_str(), target, sizeof(target));
            (*out)[key] = "l " + std::string(target, n > 0 ? size_t(n) : 0);
        } else {
            (*out)[key] = std::string("? ") + mode;
        }
    }
    closedir(d);
}

}  // namespace

std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) return out;
    char mode[16];
    std::snprintf(mode, sizeof(mode), "%04o", st.st_mode & 07777);
    out["."] = std::string(S_ISDIR(st.st_mode) ? "d " : "? ") + mode;
    SnapshotInto(dir, "", &out);
    return out;
}

std::map<std::string, std::string> SnapshotOf(const Tree& tree, unsigned rootMode) {
    std::map<std::string, std::string> out;
    char mode[16];
    std::snprintf(mode, sizeof(mode), "%04o", rootMode);
    out["."] = std::string("d ") + mode;
    for (const auto& f : tree) {
        for (size_t s = f.first.find('/'); s != std::string::npos; s = f.first.find('/', s + 1)) {
            out[f.first.substr(0, s)] = "d 0755";
        }
        std::snprintf(mode, sizeof(mode), "%04o", f.second.mode);
        out[f.first] = std::string("f ") + mode + " " + f.second.content;
    }
    return out;
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WriteOuterPackage(const std::string& path, const std::string& pkg) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/pkg-outer-XXXXXX";
    char* dir = &pattern[0];
    ASSERT_NE(mkdtemp(dir), nullptr);
    WriteFile(std::string(dir) + "/VanTreloInstaller.pkg", pkg);
    EXPECT_EQ(Run({"/bin/tar", "-czf", path, "-C", dir, "VanTreloInstaller.pkg"}), 0);
    (void)unlink((std::string(dir) + "/VanTreloInstaller.pkg").c_str());
    (void)rmdir(dir);
}

std::string MakePackageScript() { return PKG_TEST_MAKE_PACKAGE; }

}  // namespace pkg_test
