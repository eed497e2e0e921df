#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <ftw.h>
#include <unistd.h>

namespace vt_fuzz {

void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

uint8_t Reader::Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

uint64_t Reader::Bits(size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && i < 8; ++i) {
        v |= static_cast<uint64_t>(Byte()) << (8 * i);
    }
    return v;
}

std::string Reader::Text() {
    std::string s;
    while (pos_ < size_ && data_[pos_] != 0) {
        s.push_back(static_cast<char>(data_[pos_++]));
    }
    if (pos_ < size_) {
        ++pos_;
    }
    return s;
}

std::string Reader::Rest() {
    std::string s(reinterpret_cast<const char*>(data_) + pos_, Left());
    pos_ = size_;
    return s;
}

void ValueList::Push(uint64_t w) {
    if (used_ < kSlots - kTailSlots) {
        slots_[used_++] = w;
    }
}

void ValueList::Int(int32_t v) { Push(static_cast<uint64_t>(static_cast<int64_t>(v))); }

void ValueList::Long(int64_t v) { Push(static_cast<uint64_t>(v)); }

void ValueList::Pointer(const void* p) { Push(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p))); }

void ValueList::Double(double d) {
    uint64_t w = 0;
    std::memcpy(&w, &d, sizeof(d));
    Push(w);
}

void ValueList::LongDouble(long double x) {
    static_assert(sizeof(long double) == 16, "a long double takes two slots");
    if (used_ % 2 != 0) {
        Push(0);
    }
    uint64_t w[2] = {0, 0};
    std::memcpy(w, &x, sizeof(x));
    Push(w[0]);
    Push(w[1]);
}

void ValueList::Make(va_list* out) {
    for (size_t i = used_; i < kSlots; ++i) {
        slots_[i] = tail_;
    }
    struct VaListTag {
        unsigned gpOffset;
        unsigned fpOffset;
        void* overflowArea;
        void* regSaveArea;
    } tag{48, 176, slots_, nullptr};  // 6 general and 8 vector registers used up
    static_assert(sizeof(va_list) == sizeof(VaListTag), "the x86-64 va_list layout");
    std::memcpy(out, &tag, sizeof(tag));
}

Guarded::Guarded(size_t size, size_t room)
    : size_(size), total_((room > size ? room : size) + kGuard), bytes_(new uint8_t[total_]) {
    std::memset(bytes_, kFill, total_);
}

Guarded::~Guarded() { delete[] bytes_; }

bool Guarded::Untouched(size_t from) const {
    for (size_t i = from; i < total_; ++i) {
        if (bytes_[i] != kFill) {
            return false;
        }
    }
    return true;
}

std::string Printable(const std::string& s, size_t limit) {
    std::string out;
    for (size_t i = 0; i < s.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\x%02X", c);
            out += buf;
        }
    }
    if (s.size() > limit) {
        out += "...";
    }
    return out;
}

namespace {

char g_home[] = "/tmp/vt-fuzz-XXXXXX";

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveHome() { (void)nftw(g_home, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

}  // namespace

void PrivateHome() {
    const char* dir = mkdtemp(g_home);
    if (dir == nullptr) {
        Fail("mkdtemp", "no private folder for the platform");
    }
    std::atexit(RemoveHome);
    setenv("HOME", dir, 1);
    setenv("XDG_CONFIG_HOME", dir, 1);
    setenv("TMPDIR", dir, 1);
}

}  // namespace vt_fuzz
