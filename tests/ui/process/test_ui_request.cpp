// The steps every request shares, against the simulator: a whole cycle gives back all
// it took, and a reply too short for a record leaves the caller's record as it was.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jqr_mem.h"
#include "ui_connect.h"
#include "ui_request.h"
#include "ui_test/ui_sim.h"
#include "uko_mempt.h"

namespace {

class UiRequestTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
};

constexpr uint32_t kSysConfigSize = 11560;
constexpr uint32_t kLanguageIdOffset = 76;

TEST_F(UiRequestTest, WholeCycleReadsTheRecordAndGivesEverythingBack) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    std::vector<uint8_t> record(kSysConfigSize, 0xAB);
    const uint64_t freeBefore = UKO_MemFreeSizeGet();
    UiRequest req;
    ASSERT_EQ(UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC), 0u);
    EXPECT_EQ(req.iFd, link.SyncFd());
    ASSERT_EQ(UI_Request_Build(&req, MSG_TYPE_CFM, 2, 0), 0u);
    EXPECT_EQ(req.uiPacketLen, 24u);
    ASSERT_EQ(UI_Request_Exchange(&req, UI_SYNC_RECV_TIMEOUT), 0u);
    EXPECT_EQ(req.stReplyHead.uiMsgCode, 0xD0002u);
    EXPECT_EQ(req.stReplyHead.uiSourceMark, uint32_t(MARK_TULM));
    EXPECT_EQ(UI_Request_ReplyPayloadLen(&req), kSysConfigSize);
    ASSERT_EQ(UI_Request_RecordGet(&req, 0, record.data(), kSysConfigSize, "Test read"), 0u);
    uint32_t language = 0;
    ASSERT_EQ(UI_Request_U32Get(&req, kLanguageIdOffset, &language, "Test read"), 0u);
    EXPECT_EQ(language, 2052u);
    EXPECT_EQ(record[kLanguageIdOffset + 2], 0x08);
    EXPECT_EQ(record[kLanguageIdOffset + 3], 0x04);
    UI_Request_End(&req);
    UI_Request_End(&req);  // a second end finds nothing to free
    EXPECT_EQ(UKO_MemFreeSizeGet(), freeBefore);

    ASSERT_TRUE(link.sim().WaitLog(4));
    const auto log = link.sim().Log();
    EXPECT_EQ(std::string(log[3]["conn"].GetString()), "sync");
    EXPECT_EQ(log[3]["head"]["source"].GetUint(), 2u);
    EXPECT_EQ(log[3]["head"]["dest"].GetUint(), 4u);
    EXPECT_EQ(log[3]["head"]["type"].GetUint(), 1u);
    EXPECT_EQ(log[3]["head"]["msgType"].GetUint(), 9u);
    EXPECT_EQ(log[3]["head"]["len"].GetUint(), 0u);
}

TEST_F(UiRequestTest, ShortReplyLeavesTheRecordUntouched) {
    ui_test::SimLink link(
        R"("scripts":[{"msgType":9,"code":2,"replies":[{"truncateTo":100}]},
                      {"msgType":8,"code":12,"replies":[{"code":"0x50000","payload":"000000"}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const size_t warnings = ui_test::LogCount("[Test read][reply too short");
    UiRequest req;
    ASSERT_EQ(UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC), 0u);
    ASSERT_EQ(UI_Request_Build(&req, MSG_TYPE_CFM, 2, 0), 0u);
    ASSERT_EQ(UI_Request_Exchange(&req, UI_SYNC_RECV_TIMEOUT), 0u);
    EXPECT_EQ(UI_Request_ReplyPayloadLen(&req), 100u);
    std::vector<uint8_t> record(kSysConfigSize, 0xAB);
    EXPECT_EQ(UI_Request_RecordGet(&req, 0, record.data(), kSysConfigSize, "Test read"), 1u);
    EXPECT_EQ(record, std::vector<uint8_t>(kSysConfigSize, 0xAB));
    // A part that lies inside the short payload is there; one that reaches past it is not.
    EXPECT_EQ(UI_Request_RecordGet(&req, 96, record.data(), 4, "Test read"), 0u);
    EXPECT_EQ(UI_Request_RecordGet(&req, 97, record.data() + 4, 4, "Test read"), 1u);
    EXPECT_EQ(record[4], 0xAB);
    UI_Request_End(&req);
    EXPECT_EQ(ui_test::LogCount("[Test read][reply too short"), warnings + 2);

    ASSERT_EQ(UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC), 0u);
    ASSERT_EQ(UI_Request_Build(&req, MSG_TYPE_EPS, 12, 0), 0u);
    ASSERT_EQ(UI_Request_Exchange(&req, UI_SYNC_RECV_TIMEOUT), 0u);
    uint32_t value = 77;
    EXPECT_EQ(UI_Request_U32Get(&req, 0, &value, "Test check"), 1u);
    EXPECT_EQ(value, 77u);
    UI_Request_End(&req);
}

TEST_F(UiRequestTest, StepsRefuseWhatCannotBeSent) {
    UiRequest req;
    EXPECT_EQ(UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC), 1u);  // no connection
    EXPECT_EQ(req.iFd, -1);
    UI_Request_End(&req);

    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_EQ(UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC), 0u);
    EXPECT_EQ(UI_Request_Exchange(&req, 1000), 1u);  // nothing built
    EXPECT_EQ(UI_Request_Build(&req, MSG_TYPE_CFM, 1, UI_PACKET_PAYLOAD_MAX + 1), 1u);
    ASSERT_EQ(UI_Request_Build(&req, MSG_TYPE_CFM, 4, 5), 0u);
    std::memcpy(req.pucPacket + UI_PACKET_HEAD_LEN, "x.ini", 5);
    EXPECT_EQ(req.pucPacket[UI_PACKET_HEAD_LEN + 5], 0);
    EXPECT_EQ(UI_Request_Build(&req, MSG_TYPE_CFM, 4, 5), 1u);  // already built
    ASSERT_EQ(UI_Request_Exchange(&req, UI_SYNC_RECV_TIMEOUT), 0u);
    EXPECT_EQ(req.stReplyHead.uiMsgCode >> 16, 13u);
    UI_Request_End(&req);
    ASSERT_TRUE(link.sim().WaitLog(4));
    EXPECT_EQ(std::string(link.sim().Log()[3]["text"].GetString()), "x.ini");
}

}  // namespace
