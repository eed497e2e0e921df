#pragma once
// Shared pieces of the fuzz targets: a reader over the fuzzer's bytes, a value list
// built from values chosen at run time, a block with guard bytes behind it, and the
// way a target reports a finding.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#if !defined(__x86_64__)
#error "the fuzz targets build value lists for the x86-64 System V calling convention"
#endif

namespace vt_fuzz {

// A finding: prints what broke and aborts, so that the fuzzer keeps the input.
[[noreturn]] void Fail(const char* what, const std::string& detail);

#define FUZZ_CHECK(cond, detail)            \
    do {                                    \
        if (!(cond)) {                      \
            ::vt_fuzz::Fail(#cond, detail); \
        }                                   \
    } while (0)

// Reads the fuzzer's bytes front to back. Past the end every read gives zeros, so a
// short input is still a complete one. The layouts are plain enough that seed inputs
// can be written by hand.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Left() const { return pos_ < size_ ? size_ - pos_ : 0; }
    uint8_t Byte();
    uint64_t Bits(size_t n);  // little-endian, n bytes (at most 8)
    uint16_t U16() { return static_cast<uint16_t>(Bits(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Bits(4)); }
    uint64_t U64() { return Bits(8); }
    std::string Text();  // the bytes up to the next zero byte (taken), or to the end
    std::string Rest();  // everything not read yet

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A value list built at run time, for the formatted functions. The x86-64 System V
// va_list keeps a register save area and an overflow area; with the register offsets
// set to "all used", every value is read from the overflow area, which is laid out here
// exactly as a caller's stack would be: one 8-byte slot per integer, pointer or double,
// a 16-byte aligned pair of slots per long double. Reads past the values built land on
// the tail, every slot of which holds the word the owner chose (zero, or a trip wire);
// so do values beyond the room, which are dropped.
class ValueList {
public:
    static constexpr size_t kSlots = 1024;
    static constexpr size_t kTailSlots = 64;

    explicit ValueList(uint64_t tailWord = 0) : tail_(tailWord) {}

    void Int(int32_t v);
    void Long(int64_t v);
    void Pointer(const void* p);
    void Double(double d);
    void LongDouble(long double x);
    // Fills the tail and makes the list; valid while this object lives unchanged.
    void Make(va_list* out);

private:
    void Push(uint64_t w);
    alignas(16) uint64_t slots_[kSlots] = {};
    size_t used_ = 0;
    uint64_t tail_;
};

// A heap block of `size` bytes the callee may use, with room for at least `room` bytes
// in all, followed by guard bytes; each block its own allocation, so that the address
// sanitizer also sees a write beyond the room.
class Guarded {
public:
    static constexpr size_t kGuard = 32;
    static constexpr uint8_t kFill = 0xA5;

    explicit Guarded(size_t size, size_t room = 0);
    ~Guarded();
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    // Every byte from `from` to the end of the block still holds the fill.
    bool Untouched(size_t from) const;
    bool GuardIntact() const { return Untouched(size_); }

private:
    size_t size_;
    size_t total_;
    uint8_t* bytes_;
};

// A text for a report: printable bytes as they are, others as \xNN, cut at `limit`.
std::string Printable(const std::string& s, size_t limit = 160);

// Points HOME, XDG_CONFIG_HOME and TMPDIR at a fresh private folder, so that nothing a
// target starts writes into the real home folder.
void PrivateHome();

}  // namespace vt_fuzz
