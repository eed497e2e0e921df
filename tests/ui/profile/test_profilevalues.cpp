// The value tables between the profile dialog's controls and the profile records, both
// ways, including indexes and values that lie outside them.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "profilevalues.h"

namespace {

struct Table {
    const char* name;
    uint32_t (*toValue)(int);
    int (*toIndex)(uint32_t);
    std::vector<uint32_t> values;  // by item index
};

const Table kTables[] = {
    {"ESP authentication", ProfileValue_EspAuth, ProfileIndex_EspAuth,
     {0x00010000u, 0x00020000u, 0x00080000u, 0x00200000u}},
    {"ESP encryption", ProfileValue_EspEncry, ProfileIndex_EspEncry,
     {0x08000000u, 0x01000000u, 0x40000000u, 0x40001000u, 0x40002000u}},
    {"IKE hash", ProfileValue_IkeHash, ProfileIndex_IkeHash, {2u, 1u, 4u, 6u}},
    {"IKE encryption", ProfileValue_IkeEncry, ProfileIndex_IkeEncry, {1u, 5u, 8u, 9u, 10u}},
    {"DH group", ProfileValue_DhGroup, ProfileIndex_DhGroup, {1u, 2u, 5u}},
};

TEST(ProfileValues, AlgorithmTablesBothWays) {
    for (const Table& t : kTables) {
        for (size_t i = 0; i < t.values.size(); ++i) {
            EXPECT_EQ(t.toValue(static_cast<int>(i)), t.values[i]) << t.name << " index " << i;
            EXPECT_EQ(t.toIndex(t.values[i]), static_cast<int>(i)) << t.name << " value " << i;
        }
        // No current item, or an index past the items: the field stays 0.
        const int size = static_cast<int>(t.values.size());
        for (int index : {-1, size, size + 1, -2147483647 - 1, 2147483647}) {
            EXPECT_EQ(t.toValue(index), 0u) << t.name << " index " << index;
        }
        // A value outside the table leaves the combo box alone.
        for (uint32_t value : {0u, 3u, 7u, 0x00040000u, 0x40003000u, 0xFFFFFFFFu}) {
            EXPECT_EQ(t.toIndex(value), kProfileIndexNone) << t.name << " value " << value;
        }
    }
}

// The two values no form item offers sit at the one index past the items.
TEST(ProfileValues, UnlistedAlgorithmsTakeTheFourthIndex) {
    EXPECT_EQ(ProfileIndex_EspAuth(0x00200000u), kProfileUnlistedAlgoIndex);
    EXPECT_EQ(ProfileIndex_IkeHash(6u), kProfileUnlistedAlgoIndex);
    EXPECT_EQ(ProfileValue_EspAuth(kProfileUnlistedAlgoIndex), 0x00200000u);
    EXPECT_EQ(ProfileValue_IkeHash(kProfileUnlistedAlgoIndex), 6u);
}

TEST(ProfileValues, TunnelModeAndPppHaveNoOutside) {
    const struct {
        int index;
        uint32_t value;
    } forward[] = {{0, 0}, {1, 1}, {2, 2}, {-1, 2}, {3, 2}, {99, 2}};
    for (const auto& c : forward) {
        EXPECT_EQ(ProfileValue_TunnelMode(c.index), c.value) << c.index;
    }
    const struct {
        uint32_t value;
        int index;
    } back[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}, {0xFFFFFFFFu, 2}};
    for (const auto& c : back) {
        EXPECT_EQ(ProfileIndex_TunnelMode(c.value), c.index) << c.value;
    }
    EXPECT_EQ(ProfileValue_PppAuth(0), 0u);
    for (int index : {1, 2, -1}) {
        EXPECT_EQ(ProfileValue_PppAuth(index), 1u) << index;
    }
    EXPECT_EQ(ProfileIndex_PppAuth(0), 0);
    for (uint32_t value : {1u, 2u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ProfileIndex_PppAuth(value), 1) << value;
    }
}

TEST(ProfileValues, IdentityEncapsulationAuthenticationAndRouteMode) {
    // Main mode stores no identity type, whatever the combo box shows.
    EXPECT_EQ(ProfileValue_NegoMode(false), 2u);
    EXPECT_EQ(ProfileValue_NegoMode(true), 4u);
    EXPECT_TRUE(ProfileIsMainMode(2));
    for (uint32_t value : {0u, 1u, 4u, 5u}) {
        EXPECT_FALSE(ProfileIsMainMode(value)) << value;
    }
    const struct {
        bool aggressive;
        int index;
        uint32_t idType;
    } ids[] = {{false, 0, 0}, {false, 1, 0}, {true, 0, 1}, {true, 1, 2}, {true, -1, 1}, {true, 2, 1}};
    for (const auto& c : ids) {
        EXPECT_EQ(ProfileValue_IdType(c.aggressive, c.index), c.idType)
            << c.aggressive << " " << c.index;
    }
    EXPECT_EQ(ProfileIndex_IdType(1), 0);
    for (uint32_t value : {0u, 2u, 3u}) {
        EXPECT_EQ(ProfileIndex_IdType(value), 1) << value;
    }
    EXPECT_TRUE(ProfileIdTypeStoresNames(2));
    EXPECT_FALSE(ProfileIdTypeStoresNames(1));
    EXPECT_FALSE(ProfileIdTypeStoresNames(0));

    EXPECT_EQ(ProfileValue_EncapMode(true), 0u);
    EXPECT_EQ(ProfileValue_EncapMode(false), 1u);
    EXPECT_EQ(ProfileChoice_EncapMode(0), kEncapTunnel);
    EXPECT_EQ(ProfileChoice_EncapMode(1), kEncapTransport);
    EXPECT_EQ(ProfileChoice_EncapMode(2), kProfileIndexNone);

    EXPECT_EQ(ProfileValue_AuthMethod(true), 1u);
    EXPECT_EQ(ProfileValue_AuthMethod(false), 3u);

    const struct {
        bool shown, manualChoice, manualBox;
        uint32_t mode;
    } routes[] = {{true, true, false, 1},  {true, false, true, 0}, {true, false, false, 0},
                  {false, true, false, 0}, {false, false, true, 1}, {false, true, true, 1}};
    for (const auto& c : routes) {
        EXPECT_EQ(ProfileValue_RouteMode(c.shown, c.manualChoice, c.manualBox), c.mode)
            << c.shown << c.manualChoice << c.manualBox;
    }
}

}  // namespace
