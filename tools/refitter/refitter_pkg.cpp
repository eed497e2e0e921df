// Reading a package: its ustar members checked one by one, without writing anything.

#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "refitter.h"

namespace {

constexpr size_t kBlock = 512;
// The description and the manifest are read whole; anything larger is no package of
// ours.
constexpr size_t kInfoMax = 4096;
constexpr size_t kManifestMax = 1 << 20;
constexpr unsigned kSpecialBits = 07000;
const char* const kRequired[] = {"VanTrelo", "VanTreloUpdate", "refitter"};

struct Member {
    std::string name;
    bool bDir = false;
    unsigned mode = 0;
    uint64_t size = 0;
};

// Reads exactly n bytes; 1 on a short read (end of file), -1 with errno on an error.
int ReadFull(int fd, uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, buf + got, n - got);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return -1;
        }
        if (r == 0) {
            return 1;
        }
        got += static_cast<size_t>(r);
    }
    return 0;
}

// An octal header field: digits, optionally led by blanks and ended by a blank or NUL.
bool Octal(const uint8_t* field, size_t width, uint64_t* value) {
    size_t i = 0;
    while (i < width && field[i] == ' ') {
        ++i;
    }
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) {
        if (v > (UINT64_MAX >> 3)) {
            return false;
        }
        v = (v << 3) | static_cast<uint64_t>(field[i] - '0');
    }
    for (; i < width; ++i) {
        if (field[i] != ' ' && field[i] != '\0') {
            return false;
        }
    }
    *value = v;
    return digits > 0;
}

std::string Field(const uint8_t* field, size_t width) {
    size_t n = 0;
    while (n < width && field[n] != '\0') {
        ++n;
    }
    return std::string(reinterpret_cast<const char*>(field), n);
}

// A relative path of plain components: no empty, "." or ".." component, no leading
// "/", no control character (which would break the manifest's lines).
bool PlainPath(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return false;
    }
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    std::stringstream parts(path);
    std::string part;
    size_t count = 0;
    while (std::getline(parts, part, '/')) {
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        ++count;
    }
    return count > 0 && path.back() != '/';
}

bool IsZeroBlock(const uint8_t* block) {
    for (size_t i = 0; i < kBlock; ++i) {
        if (block[i] != 0) {
            return false;
        }
    }
    return true;
}

// One member's header: name, type, mode and size, checked.
bool ParseHeader(const uint8_t* h, Member* m, std::string* reason) {
    if (std::memcmp(h + 257, "ustar", 6) != 0 || std::memcmp(h + 263, "00", 2) != 0) {
        *reason = "a member is not a plain ustar header";
        return false;
    }
    uint64_t sum = 0;
    for (size_t i = 0; i < kBlock; ++i) {
        sum += (i >= 148 && i < 156) ? ' ' : h[i];
    }
    uint64_t stored = 0;
    if (!Octal(h + 148, 8, &stored) || stored != sum) {
        *reason = "a header's checksum is wrong";
        return false;
    }
    const std::string name = Field(h, 100);
    const std::string prefix = Field(h + 345, 155);
    m->name = prefix.empty() ? name : prefix + "/" + name;
    const char type = static_cast<char>(h[156]);
    uint64_t mode = 0;
    uint64_t size = 0;
    if (!Octal(h + 100, 8, &mode) || !Octal(h + 124, 12, &size)) {
        *reason = "a header's mode or size is not a number: " + m->name;
        return false;
    }
    if (type == '5') {
        m->bDir = true;
        if (!m->name.empty() && m->name.back() == '/') {
            m->name.pop_back();
        }
        if (size != 0) {
            *reason = "a folder with contents: " + m->name;
            return false;
        }
    } else if (type != '0' && type != '\0') {
        *reason = "a member that is neither a file nor a folder: " + m->name;
        return false;
    }
    if ((mode & kSpecialBits) != 0 || mode > 07777) {
        *reason = "a member with a setuid, setgid or sticky mode: " + m->name;
        return false;
    }
    if (!PlainPath(m->name)) {
        *reason = "a member named outside the package: " + m->name;
        return false;
    }
    m->mode = static_cast<unsigned>(mode);
    m->size = size;
    return true;
}

bool ParseInfo(const std::string& text, std::string* version, std::string* reason) {
    std::map<std::string, std::string> keys;
    std::stringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || keys.count(line.substr(0, eq)) != 0) {
            *reason = "the package description is malformed";
            return false;
        }
        keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (keys["format"] != "1") {
        *reason = "the package format is not 1";
        return false;
    }
    if (keys["product"] != "VanTrelo") {
        *reason = "the package is for another product: " + keys["product"];
        return false;
    }
    *version = keys["version"];
    if (version->empty()) {
        *reason = "the package has no version";
        return false;
    }
    return true;
}

bool ParseManifest(const std::string& text, std::map<std::string, RefitterEntry>* files,
                   std::string* reason) {
    std::stringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t a = line.find(' ');
        const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (b == std::string::npos) {
            *reason = "a manifest line is malformed: " + line;
            return false;
        }
        RefitterEntry e;
        e.sha256 = line.substr(0, a);
        const std::string mode = line.substr(a + 1, b - a - 1);
        const std::string path = line.substr(b + 1);
        uint64_t m = 0;
        const bool hexOk = e.sha256.size() == 64 &&
                           e.sha256.find_first_not_of("0123456789abcdef") == std::string::npos;
        if (!hexOk || mode.empty() || mode.size() > 4 ||
            !Octal(reinterpret_cast<const uint8_t*>(mode.data()), mode.size(), &m) ||
            !PlainPath(path)) {
            *reason = "a manifest line is malformed: " + line;
            return false;
        }
        if ((m & kSpecialBits) != 0) {
            *reason = "the manifest gives a setuid, setgid or sticky mode: " + path;
            return false;
        }
        e.mode = static_cast<unsigned>(m);
        if (!files->emplace(path, e).second) {
            *reason = "the manifest names a file twice: " + path;
            return false;
        }
    }
    return true;
}

std::string Hex(const unsigned char* bytes, unsigned n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

struct DigestFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

int Refitter_ReadPackage(int fd, RefitterPackage* pstPackage, std::string* pReason) {
    if (lseek(fd, 0, SEEK_SET) != 0) {
        *pReason = std::string("cannot read the package: ") + std::strerror(errno);
        return REFITTER_WRITE_FAILED;
    }
    std::string info, manifest;
    bool haveInfo = false, haveManifest = false, havePayload = false, ended = false;
    std::set<std::string> names, fileNames;
    std::map<std::string, std::pair<unsigned, std::string>> payload;  // mode, hash
    uint8_t block[kBlock];
    std::vector<uint8_t> data(64 * kBlock);
    std::unique_ptr<EVP_MD_CTX, DigestFree> ctx(EVP_MD_CTX_new());
    if (ctx == nullptr) {
        *pReason = "no memory for a digest";
        return REFITTER_WRITE_FAILED;
    }
    for (;;) {
        const int r = ReadFull(fd, block, kBlock);
        if (r < 0) {
            *pReason = std::string("cannot read the package: ") + std::strerror(errno);
            return REFITTER_WRITE_FAILED;
        }
        if (r > 0) {
            break;  // end of file: well formed only after the end marker
        }
        if (IsZeroBlock(block)) {
            ended = true;
            break;
        }
        Member m;
        if (!ParseHeader(block, &m, pReason)) {
            return REFITTER_BAD_PACKAGE;
        }
        if (!names.insert(m.name).second) {
            *pReason = "a member is there twice: " + m.name;
            return REFITTER_BAD_PACKAGE;
        }
        const bool inPayload = m.name.compare(0, 8, "Payload/") == 0;
        if (m.bDir) {
            if (m.name == "Payload") {
                havePayload = true;
            } else if (!inPayload) {
                *pReason = "a folder outside the payload: " + m.name;
                return REFITTER_BAD_PACKAGE;
            }
        } else {
            fileNames.insert(m.name);
            if (m.name == "PackageInfo" ? m.size > kInfoMax
                                        : m.name == "Manifest" && m.size > kManifestMax) {
                *pReason = "the package's description or manifest is too large";
                return REFITTER_BAD_PACKAGE;
            }
            if (m.name != "PackageInfo" && m.name != "Manifest" && !inPayload) {
                *pReason = "a file outside the payload: " + m.name;
                return REFITTER_BAD_PACKAGE;
            }
        }
        // The data, kept for the description and the manifest, hashed for the payload.
        std::string* keep = m.name == "PackageInfo" ? &info : m.name == "Manifest" ? &manifest : nullptr;
        haveInfo = haveInfo || keep == &info;
        haveManifest = haveManifest || keep == &manifest;
        if (EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
            *pReason = "the digest cannot start";
            return REFITTER_WRITE_FAILED;
        }
        uint64_t left = (m.size + kBlock - 1) / kBlock * kBlock;
        uint64_t content = m.size;
        while (left > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, data.size()));
            const int rr = ReadFull(fd, data.data(), n);
            if (rr != 0) {
                *pReason = rr < 0 ? std::string("cannot read the package: ") + std::strerror(errno)
                                  : "the package is cut short";
                return rr < 0 ? REFITTER_WRITE_FAILED : REFITTER_BAD_PACKAGE;
            }
            const size_t used = static_cast<size_t>(std::min<uint64_t>(content, n));
            if (keep != nullptr) {
                keep->append(reinterpret_cast<const char*>(data.data()), used);
            }
            (void)EVP_DigestUpdate(ctx.get(), data.data(), used);
            content -= used;
            left -= n;
        }
        if (inPayload && !m.bDir) {
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned len = 0;
            (void)EVP_DigestFinal_ex(ctx.get(), digest, &len);
            payload[m.name.substr(8)] = {m.mode, Hex(digest, len)};
        }
    }
    if (!ended) {
        *pReason = "the package is cut short";
        return REFITTER_BAD_PACKAGE;
    }
    if (!haveInfo || !haveManifest || !havePayload) {
        *pReason = "the package lacks its description, its manifest or its payload";
        return REFITTER_BAD_PACKAGE;
    }
    // A member below a file could never be unpacked.
    for (const std::string& name : names) {
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            if (fileNames.count(name.substr(0, slash)) != 0) {
                *pReason = "a member lies below a file: " + name;
                return REFITTER_BAD_PACKAGE;
            }
        }
    }
    RefitterPackage pkg;
    if (!ParseInfo(info, &pkg.version, pReason) || !ParseManifest(manifest, &pkg.files, pReason)) {
        return REFITTER_BAD_PACKAGE;
    }
    for (const auto& file : payload) {
        const auto it = pkg.files.find(file.first);
        if (it == pkg.files.end()) {
            *pReason = "a payload file is not in the manifest: " + file.first;
            return REFITTER_BAD_PACKAGE;
        }
        if (it->second.sha256 != file.second.second || it->second.mode != (file.second.first & 0777)) {
            *pReason = "a payload file differs from the manifest: " + file.first;
            return REFITTER_BAD_PACKAGE;
        }
    }
    if (payload.size() != pkg.files.size()) {
        *pReason = "the manifest names files the payload lacks";
        return REFITTER_BAD_PACKAGE;
    }
    for (const char* required : kRequired) {
        if (pkg.files.count(required) == 0) {
            *pReason = std::string("the package holds no ") + required;
            return REFITTER_BAD_PACKAGE;
        }
    }
    *pstPackage = pkg;
    return REFITTER_INSTALLED;
}
