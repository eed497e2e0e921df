// Decoding of urgent events: every code the service sends unasked, and the notice of a
// lost connection, to its event, the IPSec status text and its show type.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jqr_queue.h"
#include "uko_queue.h"
#include "ui_connect_inner.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_test/ui_sim.h"
#include "ui_urgent.h"

namespace {

class UiUrgentTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        static const uint32_t fast = [] {
            uint32_t id = 0;
            EXPECT_EQ(UKO_Queue_Create("FAST", UI_QUEUE_DEPTH, UI_QUEUE_FLAGS, &id), 0u);
            return id;
        }();
        g_fastQueueId = fast;
        g_linkShutdown = false;
    }
};

constexpr int32_t kUntouched = -5;
constexpr char kUntouchedName[] = "untouched";

struct Case {
    const char* what;
    uint32_t code;          // 0: the connection-lost notice as the receive task posts it
    int32_t event;
    const char* name;       // nullptr: the buffer is not touched
};

TEST_F(UiUrgentTest, EveryCodeGivesItsEvent) {
    const Case cases[] = {
        {"forced logout", 0xB0000, URGENT_EVENT_LOGOUT, nullptr},
        {"ignored", 0xB0001, URGENT_EVENT_IGNORED, nullptr},
        {"reconnection failed", 0xB0002, URGENT_EVENT_CNEM_RECONNECT_FAIL, nullptr},
        {"adapter error", 0xB0003, URGENT_EVENT_VNIC_ERROR, nullptr},
        {"DHCP error", 0xB0004, URGENT_EVENT_DHCP_ERROR, nullptr},
        {"module 11 past the known codes", 0xB0005, URGENT_EVENT_NONE, nullptr},
        {"last module 11 code", 0xBFFFF, URGENT_EVENT_NONE, nullptr},
        {"IPSec status", 0x8000A, URGENT_EVENT_IPSEC_STATUS,
         "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP3_IPSEC_TOUT"},
        {"IPSec status, last entry", 0x8002F, URGENT_EVENT_IPSEC_STATUS,
         "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_CONNECT_SUCCESS"},
        {"IPSec status past the table", 0x80030, URGENT_EVENT_IPSEC_STATUS,
         "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL"},
        {"a login reply on the event connection", 0x20000, URGENT_EVENT_EXIT, nullptr},
        {"a port reply", 0x10008, URGENT_EVENT_EXIT, nullptr},
        {"a configuration reply", 0xD0000, URGENT_EVENT_EXIT, nullptr},
        {"connection lost", 0, URGENT_EVENT_EXIT, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.code == 0) {
            UI_ConnectLost_Post();
        } else {
            // The payload plays no part: an IPSec-looking payload on a module 11 code
            // changes nothing.
            const std::vector<uint8_t> p = ui_test::Packet(4, 2, 2, 1, c.code, {0, 8, 0, 0xA});
            ASSERT_EQ(UI_Queue_Write(g_fastQueueId, p.data(), uint32_t(p.size())), 0u);
        }
        int32_t event = kUntouched, show = kUntouched;
        char name[UI_MSGCODE_NAME_SIZE];
        std::memset(name, 'x', sizeof(name));
        std::strcpy(name, kUntouchedName);
        ASSERT_EQ(UI_UrgentEvent_Process(&event, name, &show), 0u);
        EXPECT_EQ(event, c.event);
        if (c.name != nullptr) {
            EXPECT_STREQ(name, c.name);
            EXPECT_EQ(show, URGENT_SHOW_CRITICAL);
        } else {
            EXPECT_STREQ(name, kUntouchedName);
            EXPECT_EQ(show, kUntouched);
        }
    }
    EXPECT_GE(ui_test::LogCount("[Process urgent event process][vanTrelo receive urgent "
                                "message,message code is 0x8000a, ret message type is 4, show "
                                "type is 1]"),
              1u);
}

TEST_F(UiUrgentTest, NoNoticeOnceTheLinkIsEndedOnPurpose) {
    g_linkShutdown = true;
    UI_ConnectLost_Post();
    g_linkShutdown = false;
    EXPECT_EQ(UKO_QueueMsgNumGet(g_fastQueueId), 0u);
}

TEST_F(UiUrgentTest, NullArgumentsAndAFailedReadWriteNothing) {
    int32_t event = kUntouched, show = kUntouched;
    char name[UI_MSGCODE_NAME_SIZE] = "untouched";
    EXPECT_EQ(UI_UrgentEvent_Process(nullptr, name, &show), 1u);
    EXPECT_EQ(UI_UrgentEvent_Process(&event, nullptr, &show), 1u);
    EXPECT_EQ(UI_UrgentEvent_Process(&event, name, nullptr), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process urgent event process][invalid parameter!]"), 3u);
    g_fastQueueId = 0;  // no such queue
    EXPECT_EQ(UI_UrgentEvent_Process(&event, name, &show), 1u);
    EXPECT_EQ(event, kUntouched);
    EXPECT_EQ(show, kUntouched);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(ui_test::LogCount("[Process urgent event process][receive urgent queue failed!]"),
              1u);
}

}  // namespace
