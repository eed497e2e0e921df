#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "jqr_queue.h"
#include "jqr_queue_inner.h"
#include "queue_test_util.h"
#include "uko_queue_inner.h"
#include "vt_test/platform.h"

namespace {

using queue_test::WaitBlocked;

struct Msg32 {
    char bytes[UKO_QUEUE_MSG_LEN];
};

Msg32 MsgOf(const char* pcText) {
    Msg32 m{};
    std::strncpy(m.bytes, pcText, sizeof(m.bytes));
    return m;
}

class NamedQueueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
    void TearDown() override {
        (void)UKO_Queue_ReadHookSet(nullptr);
        (void)UKO_Queue_NameHookSet(nullptr, nullptr, nullptr);
        (void)UKO_Queue_DefaultModeSet(UKO_QUEUE_MODE_ASY);
        for (uint32_t id : m_ids) {
            if (UKO_Queue_IsValid(id) == 1) {
                (void)UKO_Queue_Delete(id);
            }
        }
    }
    uint32_t Make(const char* pcName, uint32_t uiMax = 8, uint32_t uiFlags = 10) {
        uint32_t id = 0;
        EXPECT_EQ(UKO_Queue_Create(pcName, uiMax, uiFlags, &id), 0u) << (pcName ? pcName : "NULL");
        m_ids.push_back(id);
        return id;
    }
    std::vector<uint32_t> m_ids;
};

bool InRegistry(const char* pcName4) {
    const UKO_QUEUE_NAME_ENTRY* table = ukoQueueNameTableGet();
    for (uint32_t i = 0; i < UKO_QUEUE_NAME_TABLE_SIZE; ++i) {
        if (table[i].uiUsed != 0 && std::memcmp(table[i].acName, pcName4, 4) == 0) {
            return true;
        }
    }
    return false;
}

TEST_F(NamedQueueTest, ServiceLinkQueuesAreFifoSynOf4096) {
    const uint32_t send = Make("SEND", 4096, 10);
    const uint32_t fast = Make("FAST", 4096, 10);
    EXPECT_NE(send, 0u);
    EXPECT_NE(fast, send);
    for (uint32_t id : {send, fast}) {
        EXPECT_EQ(ukoQueueCbGet(id)->usMode, UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN);
        uint32_t max = 0;
        EXPECT_EQ(UKO_Queue_MaxNumGet(id, &max), 0u);
        EXPECT_EQ(max, 4096u);
        EXPECT_EQ(ukoQueueCbGet(id)->uiMaxMsgSize, UKO_QUEUE_MSG_LEN);
    }
    uint32_t found = 0;
    EXPECT_EQ(UKO_Queue_IdGetByName("FAST", &found), 0u);
    EXPECT_EQ(found, fast);
}

TEST_F(NamedQueueTest, CreateFlagsGiveTheMode) {
    struct Case {
        uint32_t flags;
        uint32_t mode;
    } cases[] = {
        {10, UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN},  // bit 1 is not looked at
        {8, UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN},
        {9, UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_SYN},
        {0, UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_ASY},
        {1, UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_ASY},
        {0xFFFFFFFEu, UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN},  // no other bit counts
        {0xFFFFFFF6u, UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_ASY},
    };
    for (const Case& c : cases) {
        const uint32_t id = Make("MODE", 2, c.flags);
        EXPECT_EQ(ukoQueueCbGet(id)->usMode, c.mode) << "flags " << c.flags;
    }
    (void)UKO_Queue_DefaultModeSet(UKO_QUEUE_MODE_SYN);
    EXPECT_EQ(ukoQueueCbGet(Make("MODE", 2, 0))->usMode, UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN);
}

TEST_F(NamedQueueTest, AsyQueueRefusesWaitingCalls) {
    const uint32_t id = Make("ASYQ", 2, 0);
    const Msg32 m = MsgOf("m");
    Msg32 out{};
    EXPECT_EQ(UKO_Queue_Write(id, &m, UKO_QUEUE_FLAG_WAIT, 0), UKO_EINVAL);
    EXPECT_EQ(UKO_Queue_Write(id, &m, 0, 0), 0u);
    EXPECT_EQ(UKO_Queue_Read(id, &out, UKO_QUEUE_FLAG_WAIT, 0), UKO_EINVAL);
    EXPECT_EQ(UKO_Queue_Read(id, &out, 0, 0), 0u);
    EXPECT_STREQ(out.bytes, "m");
}

TEST_F(NamedQueueTest, WriteFlagsSelectWaitingAndPosition) {
    const uint32_t id = Make("FLAG", 3);
    const Msg32 a = MsgOf("A");
    const Msg32 b = MsgOf("B");
    const Msg32 u = MsgOf("U");
    ASSERT_EQ(UKO_Queue_Write(id, &a, 0, 0), 0u);
    ASSERT_EQ(UKO_Queue_Write(id, &b, UKO_QUEUE_FLAG_WAIT, 0), 0u);
    ASSERT_EQ(UKO_Queue_Write(id, &u, UKO_QUEUE_FLAG_WAIT | UKO_QUEUE_FLAG_URGENT, 0), 0u);
    // The timers' expiry write: bits 31 and 29 mean nothing, so no wait and the tail.
    EXPECT_EQ(UKO_Queue_Write(id, &a, 0xA0000000u, 0), UKO_QueueFullErr);
    Msg32 out{};
    ASSERT_EQ(UKO_Queue_Peek(id, 0, &out), 0u);
    EXPECT_STREQ(out.bytes, "U");
    for (const char* want : {"U", "A", "B"}) {
        ASSERT_EQ(UKO_Queue_Read(id, &out, 0, 0), 0u);
        EXPECT_STREQ(out.bytes, want);
    }
    EXPECT_EQ(UKO_Queue_Read(id, &out, 0, 0), UKO_QueueEmptyErr);
    ASSERT_EQ(UKO_Queue_Write(id, &a, 0, 0), 0u);
    ASSERT_EQ(UKO_Queue_Write(id, &u, UKO_QUEUE_FLAG_URGENT, 0), 0u);
    ASSERT_EQ(UKO_Queue_Read(id, &out, 0, 0), 0u);
    EXPECT_STREQ(out.bytes, "U");
}

TEST_F(NamedQueueTest, WaitingReadReturnsTheStatusOnceAMessageArrives) {
    const uint32_t id = Make("WAIT");
    std::atomic<uint32_t> rc{1};
    Msg32 out{};
    std::thread reader([&] { rc = UKO_Queue_Read(id, &out, UKO_QUEUE_FLAG_WAIT, 0); });
    ASSERT_TRUE(WaitBlocked(id, true, 1));
    Msg32 m{};
    std::memset(m.bytes, 0x5A, sizeof(m.bytes));
    ASSERT_EQ(UKO_Queue_Write(id, &m, UKO_QUEUE_FLAG_WAIT, 0), 0u);
    reader.join();
    EXPECT_EQ(rc.load(), 0u) << "a status, not the 32 bytes copied";
    EXPECT_EQ(std::memcmp(&out, &m, sizeof(m)), 0);
}

TEST_F(NamedQueueTest, QueueIdZeroFailsAtOnce) {
    Msg32 m{};
    EXPECT_EQ(UKO_Queue_Read(0, &m, UKO_QUEUE_FLAG_WAIT, 0), UKO_EINVAL);
    EXPECT_EQ(UKO_ErrnoGet(), UKO_EINVAL);
    EXPECT_EQ(UKO_Queue_Write(0, &m, UKO_QUEUE_FLAG_WAIT, 0), UKO_EINVAL);
    uint32_t n = 0;
    EXPECT_EQ(UKO_Queue_MsgNumGet(0, &n), UKO_EINVAL);
    EXPECT_EQ(n, 0xFFFFFFFFu);
    EXPECT_EQ(UKO_Queue_MsgNumGet(Make("NUMQ"), nullptr), UKO_EINVAL);
    EXPECT_EQ(UKO_Queue_IsValid(0), 0u);
    EXPECT_EQ(UKO_Queue_Delete(0), UKO_EINVAL);
}

TEST_F(NamedQueueTest, SharedNameHasOneEntryFreedByTheFirstDeletion) {
    const uint32_t usedBefore = ukoQueueNameUsedNumGet();
    const uint32_t a = Make("SHRD");
    const uint32_t b = Make("SHRD");
    EXPECT_NE(a, b);
    EXPECT_EQ(ukoQueueNameUsedNumGet(), usedBefore + 1);
    ASSERT_EQ(UKO_Queue_Delete(a), 0u);
    EXPECT_FALSE(InRegistry("SHRD"));
    EXPECT_EQ(UKO_Queue_IsValid(b), 1u);
    uint32_t found = 0;
    EXPECT_EQ(UKO_Queue_IdGetByName("SHRD", &found), 0u) << "the registry is not consulted";
    EXPECT_EQ(found, b);
    EXPECT_EQ(UKO_Queue_IdGetByName("SHRD", nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_Queue_IdGetByName("NONE", &found), 0xFFFFFFFFu);
}

TEST_F(NamedQueueTest, GeneratedNamesUseBytesAbovePlainText) {
    ukoQueueNameCounterSet(0);
    const uint32_t first = Make(nullptr);
    char name[16] = {};
    ASSERT_EQ(UKO_QueueNameGet(first, name), 0u);
    const unsigned char want[] = {128, 127, 127, 127};
    EXPECT_EQ(std::memcmp(name, want, 4), 0);
    EXPECT_EQ(name[4], '\0');
    ukoQueueNameCounterSet(0x0FFFFFFEu);
    const uint32_t later = Make(nullptr);
    ASSERT_EQ(UKO_QueueNameGet(later, name), 0u);
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        EXPECT_GE(c, 127);
        EXPECT_LE(c, 254);
    }
}

TEST_F(NamedQueueTest, ShortNamesAreNotReadPastTheirEnd) {
    // Exactly as long as the text: reading four bytes would run off the block.
    std::unique_ptr<char[]> two(new char[3]{'A', 'B', '\0'});
    const uint32_t id = Make(two.get());
    char name[16] = {};
    ASSERT_EQ(UKO_QueueNameGet(id, name), 0u);
    EXPECT_STREQ(name, "AB");
    EXPECT_TRUE(InRegistry("AB\0\0"));
    std::unique_ptr<char[]> one(new char[2]{'A', '\0'});
    uint32_t found = 0;
    EXPECT_EQ(UKO_Queue_IdGetByName(one.get(), &found), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_Queue_IdGetByName(two.get(), &found), 0u);
    EXPECT_EQ(found, id);
    // A longer name keeps its first four characters.
    const uint32_t longer = Make("PLUSMORE");
    ASSERT_EQ(UKO_QueueNameGet(longer, name), 0u);
    EXPECT_STREQ(name, "PLUS");
}

TEST_F(NamedQueueTest, FailedCreateGivesBackTheEntryItAdded) {
    const uint32_t usedBefore = ukoQueueNameUsedNumGet();
    uint32_t id = 0;
    // More failures than the registry has entries: none may keep one.
    for (uint32_t i = 0; i < UKO_QUEUE_NAME_TABLE_SIZE + 1; ++i) {
        char name[5] = {'F', static_cast<char>('A' + i % 26), static_cast<char>('A' + i / 26 % 26), 'X', 0};
        ASSERT_EQ(UKO_Queue_Create(name, 0xFFFFFFFFu, 10, &id), UKO_EINVAL) << name;
    }
    EXPECT_EQ(ukoQueueNameUsedNumGet(), usedBefore);
    // A failure with a name in use leaves that name's entry alone.
    const uint32_t kept = Make("KEEP");
    EXPECT_EQ(UKO_Queue_Create("KEEP", 0xFFFFFFFFu, 10, &id), UKO_EINVAL);
    EXPECT_TRUE(InRegistry("KEEP"));
    EXPECT_EQ(UKO_Queue_IsValid(kept), 1u);
}

TEST_F(NamedQueueTest, TheThreeHundredAndFirstNameIsRefused) {
    const uint32_t usedBefore = ukoQueueNameUsedNumGet();
    const uint32_t room = UKO_QUEUE_NAME_TABLE_SIZE - usedBefore;
    for (uint32_t i = 0; i < room; ++i) {
        char name[5] = {'N', static_cast<char>('A' + i % 26), static_cast<char>('A' + i / 26 % 26), 'Z', 0};
        Make(name, 1);
    }
    EXPECT_EQ(ukoQueueNameUsedNumGet(), UKO_QUEUE_NAME_TABLE_SIZE);
    uint32_t id = 0;
    EXPECT_EQ(UKO_Queue_Create("LAST", 1, 10, &id), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_Queue_Create(nullptr, 1, 10, &id), 0xFFFFFFFFu);
    // A name already in the registry is shared, so it still works.
    Make("NAAZ", 1);
    ASSERT_EQ(UKO_Queue_Delete(m_ids.front()), 0u);
    Make("LAST", 1);
}

// Hooks, recorded by plain functions.
struct HookLog {
    uint32_t reads = 0;
    uint32_t lastResult = 0;
    uint32_t lastFlags = 0;
    uint32_t registers = 0;
    uint32_t unregisters = 0;
};
HookLog g_hooks;

void ReadHook(uint32_t, void*, uint32_t uiFlags, uint32_t, uint32_t uiResult) {
    ++g_hooks.reads;
    g_hooks.lastFlags = uiFlags;
    g_hooks.lastResult = uiResult;
}
uint32_t InitHook() { return 0; }
uint32_t RegHook(const char*, char* pcOut) {
    ++g_hooks.registers;
    std::memcpy(pcOut, "HOOK", 4);
    return 0;
}
uint32_t UnregHook(uint32_t) {
    ++g_hooks.unregisters;
    return 0;
}

TEST_F(NamedQueueTest, HooksAreCalledAndPutBack) {
    g_hooks = HookLog{};
    const uint32_t id = Make("HKQ1");
    ASSERT_EQ(UKO_Queue_ReadHookSet(ReadHook), 0u);
    UKO_QUEUE_READ_HOOK_PF got = nullptr;
    EXPECT_EQ(UKO_Queue_ReadHookGet(&got), 0u);
    EXPECT_EQ(got, &ReadHook);
    EXPECT_EQ(UKO_Queue_ReadHookGet(nullptr), 0u);
    Msg32 out{};
    EXPECT_EQ(UKO_Queue_Read(id, &out, 0x1, 0), UKO_QueueEmptyErr);
    EXPECT_EQ(g_hooks.reads, 1u);
    EXPECT_EQ(g_hooks.lastResult, UKO_QueueEmptyErr);
    EXPECT_EQ(g_hooks.lastFlags, 0x1u);

    ASSERT_EQ(UKO_Queue_NameHookSet(InitHook, RegHook, UnregHook), 0u);
    const uint32_t hooked = Make("ANY");
    char name[16] = {};
    ASSERT_EQ(UKO_QueueNameGet(hooked, name), 0u);
    EXPECT_STREQ(name, "HOOK");
    EXPECT_EQ(UKO_Queue_Delete(hooked), 0u);
    EXPECT_EQ(g_hooks.registers, 1u);
    EXPECT_EQ(g_hooks.unregisters, 1u);
    ASSERT_EQ(UKO_Queue_NameHookSet(InitHook, nullptr, UnregHook), 0u);  // defaults again
    const uint32_t plain = Make("PLN1");
    ASSERT_EQ(UKO_QueueNameGet(plain, name), 0u);
    EXPECT_STREQ(name, "PLN1");
    EXPECT_EQ(g_hooks.registers, 1u);
}

}  // namespace
