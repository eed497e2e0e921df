// Fuzz target of the install helper's reading of a package (archive members, PackageInfo,
// Manifest) and of the install that follows, on packages that are not what
// make-package.sh writes.
//
// Every input runs a whole install in a fresh folder of its own: an unpack folder with
// the package, an install folder holding an old tree (VanTrelo, its settings), and
// bystanders beside them.
//
// Input: one byte of switches.
//   Bit 0 clear: a package built here. A version text, then up to eleven extra members,
//     each a kind byte (bit 0..1: 0 file, 1 folder, 2 a type character taken from the
//     next byte; bit 2: name put under "Payload/"; bit 3: the name split into the
//     header's prefix field), a name text, a 16-bit mode and a content text. The three
//     required files come first unless switch bit 1 is set; the description and the
//     manifest are written to match what the package holds, the manifest's lines in
//     member order. Switch bit 2 adds a manifest line taken from the input's last text;
//     bit 3 ends the archive with a lone zero block followed by the last member again
//     under another name; bit 4 cuts the archive's last 512 bytes.
//   Bit 0 set: the rest of the input is the package as it is.
//
// Checks: nothing outside the install folder and the two names beside it that the helper
// uses changes, whatever the package names; when the helper refuses, the install folder
// holds the old tree exactly and nothing is left under the two names; when it installs,
// its own reading of the package accepted it, the install folder holds exactly the
// manifest's files with their hashes and modes and the settings carried over, and the old
// tree is gone.

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "refitter.h"

namespace {

using vt_fuzz::Printable;
using vt_fuzz::Reader;

constexpr size_t kBlock = 512;

std::string Sha256(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), digest, &len, EVP_sha256(), nullptr);
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < len; ++i) {
        out += kDigits[digest[i] >> 4];
        out += kDigits[digest[i] & 15];
    }
    return out;
}

// One member as this target writes it.
struct Member {
    std::string name;
    char type = '0';
    unsigned mode = 0644;
    std::string data;
    bool splitPrefix = false;
};

void Octal(char* field, size_t width, uint64_t value) {
    std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
}

std::string Header(const Member& m) {
    char h[kBlock] = {};
    std::string name = m.name;
    std::string prefix;
    if (m.splitPrefix || name.size() > 100) {
        const size_t slash = name.rfind('/', name.size() > 100 ? name.size() - 1 : std::string::npos);
        if (slash != std::string::npos && slash <= 155 && name.size() - slash - 1 <= 100) {
            prefix = name.substr(0, slash);
            name = name.substr(slash + 1);
        }
    }
    std::memcpy(h, name.data(), std::min<size_t>(name.size(), 100));
    std::memcpy(h + 345, prefix.data(), std::min<size_t>(prefix.size(), 155));
    Octal(h + 100, 8, m.mode);
    Octal(h + 108, 8, 0);
    Octal(h + 116, 8, 0);
    Octal(h + 124, 12, m.type == '5' ? 0 : m.data.size());
    Octal(h + 136, 12, 1700000000);
    h[156] = m.type;
    std::memcpy(h + 257, "ustar", 6);
    std::memcpy(h + 263, "00", 2);
    std::memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (size_t i = 0; i < kBlock; ++i) sum += static_cast<unsigned char>(h[i]);
    std::snprintf(h + 148, 8, "%06o", sum);
    h[155] = ' ';
    return std::string(h, kBlock);
}

std::string Archive(const std::vector<Member>& members) {
    std::string out;
    for (const Member& m : members) {
        out += Header(m);
        if (m.type != '5') {
            out += m.data;
            out.append((kBlock - m.data.size() % kBlock) % kBlock, '\0');
        }
    }
    return out;
}

std::string BuildPackage(Reader& in, uint8_t switches) {
    const std::string version = in.Text();
    std::vector<Member> members;
    members.push_back({"Payload", '5', 0755, "", false});
    if ((switches & 2) == 0) {
        members.push_back({"Payload/VanTrelo", '0', 0755, "new front end", false});
        members.push_back({"Payload/VanTreloUpdate", '0', 0755, "new update program", false});
        members.push_back({"Payload/refitter", '0', 0755, "new helper", false});
    }
    const size_t extra = in.Byte() % 12;
    for (size_t i = 0; i < extra && in.Left() > 0; ++i) {
        const uint8_t kind = in.Byte();
        Member m;
        m.type = (kind & 3) == 1 ? '5' : (kind & 3) == 2 ? static_cast<char>(in.Byte()) : '0';
        m.name = ((kind & 4) != 0 ? "Payload/" : "") + in.Text();
        m.splitPrefix = (kind & 8) != 0;
        m.mode = in.U16();
        m.data = in.Text();
        members.push_back(std::move(m));
    }
    std::string manifest;
    for (const Member& m : members) {
        if (m.type != '5' && m.name.compare(0, 8, "Payload/") == 0) {
            char mode[8];
            std::snprintf(mode, sizeof(mode), "%o", m.mode & 0777);
            manifest += Sha256(m.data) + " " + mode + " " + m.name.substr(8) + "\n";
        }
    }
    if ((switches & 4) != 0) manifest += in.Text() + "\n";
    members.insert(members.begin(), {"Manifest", '0', 0644, manifest, false});
    members.insert(members.begin(), {"PackageInfo", '0', 0644, "format=1\nproduct=VanTrelo\nversion=" + version + "\n", false});
    std::string archive = Archive(members);
    if ((switches & 8) != 0) {
        // A lone zero block, then one more member: a reader that goes on past the end
        // marker would see it.
        Member again = members.back();
        again.name = "Payload/../../smuggled";
        archive += std::string(kBlock, '\0') + Archive({again});
    }
    archive += std::string(2 * kBlock, '\0');
    if ((switches & 16) != 0 && archive.size() >= kBlock) archive.resize(archive.size() - kBlock);
    return archive;
}

// A tree as path -> kind, mode and contents (links by target), read without following.
std::map<std::string, std::string> Snapshot(const std::string& root, const std::vector<std::string>& skip) {
    std::map<std::string, std::string> out;
    std::vector<std::string> todo{""};
    while (!todo.empty()) {
        const std::string rel = todo.back();
        todo.pop_back();
        const std::string dir = root + rel;
        std::vector<std::string> names;
        const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        DIR* d = fdopendir(fd);
        if (d == nullptr) {
            close(fd);
            continue;
        }
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
        for (const std::string& n : names) {
            const std::string path = rel + "/" + n;
            bool skipped = false;
            for (const std::string& s : skip) skipped = skipped || path == s;
            if (skipped) continue;
            struct stat st {};
            if (lstat((root + path).c_str(), &st) != 0) continue;
            char kind[32];
            std::snprintf(kind, sizeof(kind), "%o:", static_cast<unsigned>(st.st_mode));
            std::string value = kind;
            if (S_ISDIR(st.st_mode)) {
                todo.push_back(path);
            } else if (S_ISREG(st.st_mode)) {
                const int f = open((root + path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
                char buf[4096];
                ssize_t r;
                while (f >= 0 && (r = read(f, buf, sizeof(buf))) > 0) value.append(buf, static_cast<size_t>(r));
                if (f >= 0) close(f);
            } else if (S_ISLNK(st.st_mode)) {
                char buf[4096];
                const ssize_t r = readlink((root + path).c_str(), buf, sizeof(buf));
                value.append(buf, r > 0 ? static_cast<size_t>(r) : 0);
            }
            out[path] = value;
        }
    }
    return out;
}

void WriteFile(const std::string& path, const std::string& data, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    FUZZ_CHECK(fd >= 0, "cannot write " + path);
    FUZZ_CHECK(write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()), "short write");
    close(fd);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    (void)chmod(path, 0700);
    return remove(path);
}

void MakeWritable(const std::string& root) {
    // A folder the helper left without rights must still be removable.
    (void)nftw(root.c_str(), [](const char* p, const struct stat* st, int, struct FTW*) {
        if (S_ISDIR(st->st_mode)) (void)chmod(p, 0700);
        return 0;
    }, 16, FTW_PHYS);
}

std::string g_base;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    g_base = std::getenv("TMPDIR");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t switches = in.Byte();
    const std::string package = (switches & 1) != 0 ? in.Rest() : BuildPackage(in, switches);

    std::string root = g_base + "/pkg-XXXXXX";
    FUZZ_CHECK(mkdtemp(&root[0]) != nullptr, "mkdtemp");
    const std::string extract = root + "/unpack";
    const std::string parent = root + "/apps";
    const std::string install = parent + "/VanTrelo";
    FUZZ_CHECK(mkdir(extract.c_str(), 0700) == 0 && mkdir(parent.c_str(), 0755) == 0 &&
                   mkdir(install.c_str(), 0755) == 0 && mkdir((install + "/update").c_str(), 0755) == 0 &&
                   mkdir((root + "/bystander").c_str(), 0755) == 0,
               "the folders of a run");
    WriteFile(extract + "/" + REFITTER_PACKAGE_NAME, package, 0644);
    WriteFile(install + "/VanTrelo", "old front end", 0755);
    WriteFile(install + "/sysconfig.ini", "[GLOBAL]\nLogLevel = 1\n", 0600);
    WriteFile(install + "/update/kept", "kept", 0644);
    WriteFile(parent + "/neighbour", "beside the install folder", 0644);
    WriteFile(root + "/bystander/file", "outside", 0644);

    const std::vector<std::string> skip{"/apps/VanTrelo", "/apps/" + Refitter_NewName("VanTrelo"),
                                        "/apps/" + Refitter_OldName("VanTrelo")};
    const auto outsideBefore = Snapshot(root, skip);
    const auto installBefore = Snapshot(install, {});

    RefitterPackage read;
    std::string reason;
    const int pkgFd = open((extract + "/" + REFITTER_PACKAGE_NAME).c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(pkgFd >= 0, "the package");
    const int readRc = Refitter_ReadPackage(pkgFd, &read, &reason);
    close(pkgFd);

    // The helper tells why it refuses on standard error; the fuzzer's own output is
    // enough.
    const int savedErr = dup(STDERR_FILENO);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    (void)dup2(devNull, STDERR_FILENO);
    const int rc = Refitter_Run(extract.c_str(), install.c_str());
    (void)dup2(savedErr, STDERR_FILENO);
    close(savedErr);
    close(devNull);

    const std::string what = "package [" + Printable(package, 600) + "] read " + std::to_string(readRc) + " (" +
                             reason + "), run " + std::to_string(rc);
    const auto outsideAfter = Snapshot(root, skip);
    if (outsideAfter != outsideBefore) {
        std::string diff;
        for (const auto& e : outsideAfter) {
            if (outsideBefore.count(e.first) == 0 || outsideBefore.at(e.first) != e.second) diff += " " + e.first;
        }
        for (const auto& e : outsideBefore) {
            if (outsideAfter.count(e.first) == 0) diff += " -" + e.first;
        }
        FUZZ_CHECK(false, what + ": changed outside the install folder:" + diff);
    }
    struct stat st {};
    FUZZ_CHECK(lstat((parent + "/" + Refitter_NewName("VanTrelo")).c_str(), &st) != 0 &&
                   lstat((parent + "/" + Refitter_OldName("VanTrelo")).c_str(), &st) != 0,
               what + ": a run left a tree beside the install folder");
    const auto installAfter = Snapshot(install, {});
    if (rc != REFITTER_INSTALLED) {
        FUZZ_CHECK(installAfter == installBefore, what + ": a refused package changed the installed tree");
    } else {
        FUZZ_CHECK(readRc == REFITTER_INSTALLED, what + ": installed a package its own reading refused");
        size_t files = 0;
        for (const auto& e : installAfter) {
            const std::string rel = e.first.substr(1);
            const size_t colon = e.second.find(':');
            const unsigned mode = static_cast<unsigned>(std::strtoul(e.second.substr(0, colon).c_str(), nullptr, 8));
            if (S_ISDIR(mode)) continue;
            if (rel == "sysconfig.ini" || rel == "update/kept") {
                FUZZ_CHECK(installBefore.at(e.first) == e.second, what + ": a setting was not carried over: " + rel);
                continue;
            }
            const auto it = read.files.find(rel);
            FUZZ_CHECK(S_ISREG(mode) && it != read.files.end(), what + ": installed what the manifest does not name: " + rel);
            FUZZ_CHECK(Sha256(e.second.substr(colon + 1)) == it->second.sha256 && (mode & 07777) == it->second.mode,
                       what + ": an installed file differs from the manifest: " + rel);
            ++files;
        }
        FUZZ_CHECK(files == read.files.size(), what + ": files of the manifest are missing");
    }
    MakeWritable(root);
    (void)nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
