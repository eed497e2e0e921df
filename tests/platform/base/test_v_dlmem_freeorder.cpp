// Watches what the algorithm does after the heap has taken a page back. The heap's free
// is interposed at link time (see tests/CMakeLists.txt): when it gives back the watched
// page, a sentinel is planted in the freed memory, and the algorithm must leave it be.

#include <gtest/gtest.h>

#include <cstdint>

#include "heap_walk.h"
#include "v_dlmem.h"

// The heap's free under its link-time names: the real one, and our stand-in for it.
extern "C" uint32_t __real__Z11mspace_freePvS_(void* msp, void* mem);
extern "C" uint32_t __wrap__Z11mspace_freePvS_(void* msp, void* mem);

namespace {

constexpr uint64_t kSentinel = 0x5E57E1005E57E100;

struct Watch {
    void* page = nullptr;   // the heap address whose free plants the sentinel
    void* where = nullptr;  // where it is planted
    bool planted = false;
} g_watch;

}  // namespace

uint32_t __wrap__Z11mspace_freePvS_(void* msp, void* mem) {
    uint32_t rc = __real__Z11mspace_freePvS_(msp, mem);
    if (rc == 0 && mem != nullptr && mem == g_watch.page) {
        heap_test::Poke64(g_watch.where, kSentinel);
        g_watch.planted = true;
    }
    return rc;
}

namespace {

TEST(DlmFreeOrder, NothingIsWrittenIntoAPageTheHeapHasTakenBack) {
    heap_test::HostBlock block(256 * 1024);
    DLM_CB* cb = DLM_Format(block.p, block.size, nullptr);
    ASSERT_NE(cb, nullptr);
    for (uint64_t request : {8u, 100u, 1000u}) {
        SCOPED_TRACE(request);
        uint64_t n = request;
        uint8_t* p = static_cast<uint8_t*>(DLM_Alloc(cb, &n));
        ASSERT_NE(p, nullptr);
        // The only slice of a fresh page: its head lies right behind the page head.
        g_watch = Watch{p - 16 - 40, p - 16, false};
        uint64_t freed = 0;
        ASSERT_EQ(DLM_Free(cb, p, &freed), 0u);
        ASSERT_TRUE(g_watch.planted) << "the page went back to the heap";
        EXPECT_EQ(heap_test::Peek64(p - 16), kSentinel)
            << "the slice's head was written after its page was freed";
        g_watch = Watch{};
    }
}

}  // namespace
