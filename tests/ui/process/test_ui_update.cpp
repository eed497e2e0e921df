// The client update's steps: the version rule, the disk rule and its measurement, and
// the update request seen from the simulator's side.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "jqr_mem.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_test/ui_sim.h"
#include "ui_update.h"
#include "ui_update_inner.h"
#include "uko_mempt.h"
#include "vt_test/child_process.h"

namespace {

class UiUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UI_Connect_Reset();
    }
    void TearDown() override {
        UI_Socket_CloseAll();
        UI_Connect_Reset();
    }
};

TEST_F(UiUpdateTest, UpdateIsDueOnlyForAGreaterGatewayVersion) {
    // The local version is 7.0.2.33: MS 0x00070000, LS 0x00020021.
    const struct {
        const char* name;
        uint32_t ms, ls;
        uint32_t due;
    } cases[] = {
        {"same MS, greater LS", 0x00070000, 0x00020022, 1},
        {"equal", 0x00070000, 0x00020021, 0},
        {"same MS, smaller LS", 0x00070000, 0x00020020, 0},
        {"smaller MS, LS ignored", 0x00060009, 0xFFFFFFFF, 0},
        {"greater MS, LS ignored", 0x00080000, 0, 1},
        {"greater minor", 0x00070001, 0, 1},
        {"gateway reports nothing", 0, 0, 0},
        {"MS compared unsigned", 0xFFFF0000, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UI_Update_Check(c.ms, c.ls), c.due);
    }
    const size_t due = ui_test::LogCount("[Process update][LS:00020021 < 00020022,need to update]");
    EXPECT_EQ(UI_Update_Check(0x00070000, 0x00020022), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process update][LS:00020021 < 00020022,need to update]"),
              due + 1);
}

TEST_F(UiUpdateTest, DiskRuleNeedsTwoHundredMiB) {
    const struct {
        uint64_t mib;
        uint32_t enough;
    } cases[] = {{0, 0}, {199, 0}, {200, 1}, {201, 1}, {UINT64_MAX, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mib);
        const size_t enough = ui_test::LogCount("]disk enough ");
        const size_t short_ = ui_test::LogCount("]disk not enough ");
        EXPECT_EQ(uiDiskRuleCheck(c.mib), c.enough);
        EXPECT_EQ(ui_test::LogCount("]disk enough "), enough + c.enough);
        EXPECT_EQ(ui_test::LogCount("]disk not enough "), short_ + 1 - c.enough);
    }
}

// Free MiB of a folder as statvfs gives them, computed here on its own.
uint64_t StatvfsMiB(const char* path) {
    struct statvfs st;
    if (statvfs(path, &st) != 0) return UINT64_MAX;
    return static_cast<uint64_t>(static_cast<unsigned __int128>(st.f_bavail) * st.f_frsize /
                                 (1024 * 1024));
}

TEST_F(UiUpdateTest, MeasurementAgreesWithStatvfsOfTmp) {
    // Other programs write to /tmp meanwhile: take a moment when it stood still.
    bool agreed = false;
    for (int attempt = 0; attempt < 20 && !agreed; ++attempt) {
        const uint64_t before = StatvfsMiB("/tmp");
        uint64_t measured = 0;
        ASSERT_EQ(uiDiskFreeMiBGet("/tmp", &measured), 0u);
        const uint64_t after = StatvfsMiB("/tmp");
        agreed = before == after && measured == before;
    }
    EXPECT_TRUE(agreed);
    uint64_t untouched = 77;
    EXPECT_EQ(uiDiskFreeMiBGet("/no/such/folder", &untouched), 1u);
    EXPECT_EQ(untouched, 77u);
    EXPECT_EQ(uiDiskFreeMiBGet(nullptr, &untouched), 1u);
}

TEST_F(UiUpdateTest, DiskCheckMeasuresTmpNotTheCurrentFolder) {
    // /proc has no free space at all: a check of the current folder would say "not
    // enough" whatever /tmp holds.
    const uint64_t tmpMiB = StatvfsMiB("/tmp");
    if (tmpMiB < UI_UPDATE_DISK_NEED_MIB + 50) {
        GTEST_SKIP() << "/tmp has too little free space to tell the folders apart";
    }
    ASSERT_EQ(StatvfsMiB("/proc"), 0u);
    const auto r = vt_test::RunInChild([] {
        ASSERT_EQ(::chdir("/proc"), 0);
        EXPECT_EQ(UI_Disk_Check(), 1u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r)) << vt_test::Describe(r);
    EXPECT_EQ(UI_System_Is64Bit(), 1u);
}

// The measurement can be replaced (for a disk with too little room) and put back.
TEST_F(UiUpdateTest, DiskMeasurementSeamFeedsTheRule) {
    const struct {
        uint32_t (*measure)(const char*, uint64_t*);
        uint32_t enough;
    } cases[] = {
        {[](const char* path, uint64_t* mib) {
             *mib = std::string(path) == "/tmp" ? 199 : 1000;
             return 0u;
         },
         0},
        {[](const char*, uint64_t* mib) {
             *mib = 200;
             return 0u;
         },
         1},
        {[](const char*, uint64_t*) { return 1u; }, 0},
    };
    for (const auto& c : cases) {
        uiDiskFreeMiBSet(c.measure);
        EXPECT_EQ(UI_Disk_Check(), c.enough);
    }
    uiDiskFreeMiBSet(nullptr);
    if (StatvfsMiB("/tmp") >= UI_UPDATE_DISK_NEED_MIB) {
        EXPECT_EQ(UI_Disk_Check(), 1u);
    }
}

UIUPDATE_START_S SampleRecord() {
    UIUPDATE_START_S rec;
    std::memset(&rec, 0, sizeof(rec));
    std::strcpy(rec.acUpdateProgram, "/opt/vt/VanTreloUpdate");
    std::strcpy(rec.acPackagePath, "/tmp/vantrelo-macosx.tar.gz");
    std::strcpy(rec.acDownloadUrl, "https://192.0.2.10:443/app/vantrelo-macosx.tar.gz");
    std::strcpy(rec.acLoginName, "alice");
    return rec;
}

TEST_F(UiUpdateTest, UpdateRequestGoesToThePromoteServiceAndGetsNoReply) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const UIUPDATE_START_S rec = SampleRecord();
    const uint64_t freeBefore = UKO_MemFreeSizeGet();
    ASSERT_EQ(UI_Update_Start(&rec, sizeof(rec)), 0u);
    EXPECT_EQ(UKO_MemFreeSizeGet(), freeBefore);

    // The link's three greetings and port request, then the update request.
    ASSERT_TRUE(link.sim().WaitLog(4)) << link.sim().Diagnostics();
    const auto log = link.sim().Log();
    const auto& entry = log[3];
    EXPECT_EQ(std::string(entry["conn"].GetString()), "promote");
    EXPECT_EQ(entry["head"]["source"].GetUint(), 2u);
    EXPECT_EQ(entry["head"]["dest"].GetUint(), 1u);
    EXPECT_EQ(entry["head"]["type"].GetUint(), 2u);
    EXPECT_EQ(entry["head"]["msgType"].GetUint(), 1u);
    EXPECT_EQ(entry["head"]["code"].GetUint(), 0x1000Eu);
    EXPECT_EQ(entry["head"]["len"].GetUint(), 2338u);
    EXPECT_EQ(std::string(entry["record"].GetString()), "UIUPDATE_START_S");
    EXPECT_EQ(std::string(entry["fields"]["acLoginName"].GetString()), "alice");
    EXPECT_EQ(std::string(entry["fields"]["acDownloadUrl"].GetString()), rec.acDownloadUrl);
    std::vector<uint8_t> payload(reinterpret_cast<const uint8_t*>(&rec),
                                 reinterpret_cast<const uint8_t*>(&rec) + sizeof(rec));
    payload.push_back(0);
    EXPECT_EQ(ui_test::Hex(entry["hex"].GetString()),
              ui_test::Packet(2, 1, 2, 1, 0x1000E, payload));

    // Nothing comes back: the simulator keeps each connection's output in order, so an
    // event sent once the request was handled is the first thing the connection carries.
    ASSERT_EQ(link.sim().Control("event promote 0x1007F").substr(0, 2), "OK");
    ASSERT_TRUE(ui_test::WaitReadable(link.PromoteFd()));
    uint8_t head[24];
    ASSERT_EQ(::recv(link.PromoteFd(), head, sizeof(head), MSG_WAITALL), 24);
    EXPECT_EQ((uint32_t(head[16]) << 24) | (uint32_t(head[17]) << 16) | (uint32_t(head[18]) << 8) |
                  head[19],
              0x1007Fu);
}

TEST_F(UiUpdateTest, UpdateRequestRefusedWithoutRecordOrConnection) {
    const UIUPDATE_START_S rec = SampleRecord();
    EXPECT_EQ(UI_Update_Start(&rec, sizeof(rec)), 1u);  // no promote connection
    const size_t refused = ui_test::LogCount("[Process update start][invalid parameter!]");
    EXPECT_EQ(UI_Update_Start(nullptr, sizeof(rec)), 1u);
    EXPECT_EQ(UI_Update_Start(&rec, UI_PACKET_PAYLOAD_MAX), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process update start][invalid parameter!]"), refused + 2);
}

}  // namespace
