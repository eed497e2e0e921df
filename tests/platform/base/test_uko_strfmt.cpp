#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "uko_string.h"

namespace {

size_t g_hookAnswer = 0;
int g_hookCalls = 0;
size_t AnsweringHook(void*, void*, size_t, size_t) {
    ++g_hookCalls;
    return g_hookAnswer;
}

TEST(UkoStrConv, SizedFillFollowsTheOverrunRule) {
    struct Case {
        bool hook;
        size_t answer;
        size_t count;
        bool refused;
        const char* expected;  // the 8 destination bytes
    } cases[] = {
        {false, 0, 20, false, "ZZZZZZZZ"},
        {false, 0, 3, false, "ZZZ....."},
        {true, 0, 20, true, "........"},
        {true, 5, 20, false, "ZZZZZ..."},
        {true, 99, 20, false, "ZZZZZZZZ"},
    };
    for (const Case& c : cases) {
        char area[24];
        std::memset(area, '.', sizeof(area));
        g_hookAnswer = c.answer;
        UKO_MemOverflowHookSet(c.hook ? AnsweringHook : nullptr);
        void* r = UKO_SafeMemSetN(area + 8, 8, 'Z', c.count);
        EXPECT_EQ(r, c.refused ? nullptr : area + 8) << c.answer << "/" << c.count;
        EXPECT_EQ(std::string(area + 8, 8), c.expected) << c.answer << "/" << c.count;
        EXPECT_EQ(std::string(area, 8), "........");
        EXPECT_EQ(std::string(area + 16, 8), "........");
    }
    UKO_MemOverflowHookSet(nullptr);
    char one = 'a';
    EXPECT_EQ(UKO_SafeMemSetN(nullptr, 0, 0, 0), nullptr) << "count 0 returns dest";
    EXPECT_EQ(UKO_SafeMemSetN(&one, 0, 'b', 0), &one);
    EXPECT_EQ(UKO_SafeMemSetN(nullptr, 8, 0, 1), nullptr);
    EXPECT_EQ(UKO_SafeMemSetN(&one, 0, 'b', 1), nullptr);
    EXPECT_EQ(one, 'a');
}

TEST(UkoStrConv, IntegerAndAddressTexts) {
    struct Case {
        int32_t value;
        const char* text;
    } ints[] = {{0, "0"}, {-1, "-1"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
    for (const Case& c : ints) {
        char area[16];
        std::memset(area, '#', sizeof(area));
        EXPECT_EQ(UKO_IntToStr(c.value, area), 0u);
        EXPECT_STREQ(area, c.text);
        EXPECT_EQ(std::string(area + 12, 4), "####") << "stays within 12 bytes";
    }
    EXPECT_EQ(UKO_IntToStr(5, nullptr), 22u);

    struct Ip {
        uint32_t addr;
        const char* text;
    } ips[] = {{0xC0A8010A, "192.168.1.10"}, {0, "0.0.0.0"}, {0xFFFFFFFF, "255.255.255.255"},
               {0x7F000001, "127.0.0.1"}};
    for (const Ip& c : ips) {
        char buf[16];
        EXPECT_EQ(UKO_IpToStr(c.addr, buf), buf);
        EXPECT_STREQ(buf, c.text);
        uint32_t back = 0;
        EXPECT_EQ(UKO_StrToIp(buf, &back), 0);
        EXPECT_EQ(back, c.addr);
    }
    EXPECT_EQ(UKO_IpToStr(1, nullptr), nullptr);
}

TEST(UkoStrConv, ScannedNumbers) {
    uint32_t u = 77;
    EXPECT_EQ(UKO_HexStrToUint("1F", &u), 0);
    EXPECT_EQ(u, 31u);
    EXPECT_EQ(UKO_HexStrToUint("ffffffff", &u), 0);
    EXPECT_EQ(u, 0xFFFFFFFFu);
    u = 77;
    EXPECT_EQ(UKO_HexStrToUint("zz", &u), -1);
    EXPECT_EQ(u, 0u) << "nothing converted clears out";
    EXPECT_EQ(UKO_HexStrToUint(nullptr, &u), -1);
    EXPECT_EQ(UKO_HexStrToUint("1", nullptr), -1);

    u = 77;
    EXPECT_EQ(UKO_StrToUint32("4294967295", &u), 0u);
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(UKO_StrToUint32(" 42x", &u), 0u);
    EXPECT_EQ(u, 42u);
    EXPECT_EQ(UKO_StrToUint32("x42", &u), 22u);
    EXPECT_EQ(u, 0u);
    EXPECT_EQ(UKO_StrToUint32(nullptr, &u), 22u);

    uint64_t v = 77;
    EXPECT_EQ(UKO_StrToUint64("18446744073709551615", &v), 0u);
    EXPECT_EQ(v, UINT64_MAX);
    EXPECT_EQ(UKO_StrToUint64("", &v), 22u);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(UKO_StrToUint64("1", nullptr), 22u);
}

TEST(UkoStrConv, Ipv6Texts) {
    struct Case {
        const char* text;
        int32_t rc;
        uint16_t groups[8];
    } cases[] = {
        {"::1", 0, {0, 0, 0, 0, 0, 0, 0, 1}},
        {"1::", 0, {1, 0, 0, 0, 0, 0, 0, 0}},
        {"::", 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"1:2:3:4:5:6:7:8", 0, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"fe80::1:abcd", 0, {0xFE80, 0, 0, 0, 0, 0, 1, 0xABCD}},
        {"2001:DB8::8:800:200C:417A", 0, {0x2001, 0xDB8, 0, 0, 8, 0x800, 0x200C, 0x417A}},
        {"1:2:3:4:5:6::7", 0, {1, 2, 3, 4, 5, 6, 0, 7}},
        {"  ::1\t ", 0, {0, 0, 0, 0, 0, 0, 0, 1}},
        {"ffff:0:0:0:0:0:0:1", 0, {0xFFFF, 0, 0, 0, 0, 0, 0, 1}},
        // A "::" at either end may stand for a single zero group.
        {"::1:2:3:4:5:6:7", 0, {0, 1, 2, 3, 4, 5, 6, 7}},
        {"1:2:3:4:5:6:7::", 0, {1, 2, 3, 4, 5, 6, 7, 0}},
        {"1:2:3::4:5:6:7", 0, {1, 2, 3, 0, 4, 5, 6, 7}},
        {"::2:3:4:5:6:7:8 ", 0, {0, 2, 3, 4, 5, 6, 7, 8}},
        {":1:2:3:4:5:6:7", -1, {}},
        {"1::2::3", -1, {}},
        {"::1::", -1, {}},
        {":::", -1, {}},
        {"1:::2", -1, {}},
        {"12345::", -1, {}},
        {"::ffff:1.2.3.4", -1, {}},
        {"1:2:3:4:5:6:7:8:9", -1, {}},
        // A single colon at the end stands for no group.
        {"::1:", -1, {}},
        {"1::2:", -1, {}},
        {"1:2:3:4:5:6:7:", -1, {}},
        {"1:2:3:4:5:6:7:8:", -1, {}},
        {"1:2: \t", -1, {}},
        // A gap needs room for at least one zero group.
        {"::1:2:3:4:5:6:7:8", -1, {}},
        {"1:2:3:4:5:6:7:8::", -1, {}},
        {"1:2:3:4::5:6:7:8", -1, {}},
        {":1:2:3:4:5:6:7:8", -1, {}},
        {"1:2:3", -1, {}},
        {"g::1", -1, {}},
        {":", -1, {}},
        {"", -1, {}},
        {"0000:0000:0000:0000:0000:0000:0000:00001", -1, {}},  // 40 characters
    };
    for (const Case& c : cases) {
        uint16_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        EXPECT_EQ(UKO_StrToIpv6(c.text, out), c.rc) << "[" << c.text << "]";
        if (c.rc == 0) {
            for (int i = 0; i < 8; ++i) {
                EXPECT_EQ(out[i], c.groups[i]) << c.text << " group " << i;
            }
        }
    }
    uint16_t out[8];
    EXPECT_EQ(UKO_StrToIpv6(nullptr, out), -1);
    EXPECT_EQ(UKO_StrToIpv6("::1", nullptr), -1);
}

}  // namespace
