// The two event threads against the service link's real queues: urgent events posted on
// "FAST" as the receive task posts them, plugin requests sent by the simulator's plugin
// client to the real plugin listener. A receiver object of the test records every
// signal in the main thread. Each test runs in a child with its own application object,
// platform and private HOME, and ends there with its threads still blocked in their
// reads (a running thread's queue is never torn down under it).

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThread>

#include "pluginthread.h"
#include "ui_connect_inner.h"
#include "ui_link_inner.h"
#include "ui_plugin_inner.h"
#include "ui_test/plugin_peer.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "jqr_queue.h"
#include "urgentthread.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"
#include "vt_test/thread_state.h"

namespace {

void InChild(const std::function<void()>& body) {
    vt_test::TempEnv env;
    const vt_test::ChildResult r = vt_test::RunInChild(
        [&] {
            ui_test::LinkSetUp();
            static char name[] = "ui_eventthreads";
            static char* argv[] = {name, nullptr};
            static int argc = 1;
            QCoreApplication app(argc, argv);
            body();
        },
        90000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
}

// Runs the main thread's event loop until the condition holds; false on time-out.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Every signal the receiver saw, as "name" or "name(args)", and whether each slot ran
// in the main thread.
struct Received {
    std::vector<std::string> seen;
    bool allInMainThread = true;
    void Add(const std::string& s) {
        seen.push_back(s);
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) allInMainThread = false;
    }
};

// ---- Urgent events -------------------------------------------------------------------------

void PostUrgent(uint32_t code) {
    const std::vector<uint8_t> p = ui_test::Packet(4, 2, 2, 1, code);
    ASSERT_EQ(UI_Queue_Write(g_fastQueueId, p.data(), uint32_t(p.size())), 0u);
}

TEST(UrgentThread, EachEventGivesItsSignalUnderTheFlagsOfTheMoment) {
    InChild([] {
        uint32_t fast = 0;
        ASSERT_EQ(UKO_Queue_Create("FAST", UI_QUEUE_DEPTH, UI_QUEUE_FLAGS, &fast), 0u);
        g_fastQueueId = fast;
        g_linkShutdown = false;

        QObject receiver;
        Received got;
        UrgentThread* thread = new UrgentThread();  // ends with the child, still running
        QObject::connect(thread, &UrgentThread::signal_UrgentLogout, &receiver, [&] { got.Add("UrgentLogout"); });
        QObject::connect(thread, &UrgentThread::signal_CnemRconn_Fail, &receiver, [&] { got.Add("CnemRconn_Fail"); });
        QObject::connect(thread, &UrgentThread::signal_VnicError, &receiver, [&] { got.Add("VnicError"); });
        QObject::connect(thread, &UrgentThread::signal_DhcpError, &receiver, [&] { got.Add("DhcpError"); });
        QObject::connect(thread, &UrgentThread::signal_UI_Show_Style, &receiver, [&](int type, QString text) {
            got.Add("UI_Show_Style(" + std::to_string(type) + "," + text.toStdString() + ")");
        });
        QObject::connect(thread, &UrgentThread::signal_Exit, &receiver, [&] { got.Add("Exit"); });
        // The thread's kernel id, taken in the thread itself, to see when it waits.
        std::atomic<pid_t> tid{0};
        QObject::connect(thread, &QThread::started, &receiver, [&] { tid = vt_test::ThisThreadId(); },
                         Qt::DirectConnection);
        thread->start(QThread::InheritPriority);

        UIContext* ctx = UIContext::GetInstance();
        struct Batch {
            const char* what;
            bool sslLogout;
            int pluginMode;
            std::vector<uint32_t> codes;
            std::vector<std::string> expected;
        } batches[] = {
            {"no logout under way, plain start",
             false, 0,
             {0xB0000, 0xB0001, 0xB0002, 0x80007, 0xB0003, 0xB0004, 0xB0005},
             {"UrgentLogout", "CnemRconn_Fail",
              "UI_Show_Style(1,/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP2_ERR)", "VnicError",
              "DhcpError"}},
            {"an SSL logout under way silences the tunnel's breakage",
             true, 0, {0xB0002, 0xB0003, 0xB0004}, {}},
            {"a browser-driven client is logged out on an adapter error",
             false, 1, {0xB0003}, {"UrgentLogout"}},
            {"a reply of another module, then the lost connection", false, 0, {0x20000, 0}, {"Exit", "Exit"}},
        };
        size_t passes = 0;
        for (const Batch& b : batches) {
            SCOPED_TRACE(b.what);
            ctx->SetSslLogout(b.sslLogout);
            ctx->SetPluginMode(b.pluginMode);
            got.seen.clear();
            for (uint32_t code : b.codes) {
                if (code == 0) {
                    UI_ConnectLost_Post();
                } else {
                    PostUrgent(code);
                }
            }
            passes += b.codes.size();
            // Every pass logs its event before it reads the flags, so the last line of the
            // batch only says that its pass has begun. The pass is over once the thread
            // waits on the queue again, after its pause: only then may the next batch's
            // flags be set, and the signal it queued be delivered.
            ASSERT_TRUE(SpinUntil([&] {
                return ui_test::LogCount("[Urgent thread run][message type is ") >= passes;
            }));
            ASSERT_TRUE(vt_test::WaitUntilBlocked(tid, nullptr, 0, 30000));
            QCoreApplication::processEvents();
            EXPECT_EQ(got.seen, b.expected);
        }
        EXPECT_TRUE(got.allInMainThread);
        ctx->SetSslLogout(false);
        ctx->SetPluginMode(0);
    });
}

// ---- Plugin requests -----------------------------------------------------------------------

struct LoginSeen {
    int msgType;
    std::string user, password, code, proxy;
};

TEST(PluginThread, EveryRequestOneSignalAndLoginTextsBoundedByTheirFields) {
    InChild([] {
        ASSERT_EQ(UI_PluginThread_Create(), 0u);
        ASSERT_TRUE(SpinUntil([] { return uiPluginListenPortGet() != 0; }));
        UIContext* ctx = UIContext::GetInstance();
        UIPLUGIN_INFO_S* info = ctx->GetPluginInfo();
        std::strcpy(info->acProxyAddr, "Https:proxy.lan");  // from the launch

        QObject receiver;
        Received got;
        std::vector<LoginSeen> logins;
        bool typeChangedDuringSlot = false;
        PluginThread* thread = new PluginThread();  // ends with the child, still running
        const auto blocking = Qt::BlockingQueuedConnection;
        QObject::connect(thread, &PluginThread::signal_Plugin_Login, &receiver, [&] {
            got.Add("Plugin_Login");
            logins.push_back({ctx->GetPluginMsgType(), info->acUserName, info->acPassword,
                              info->acVerifyCode, info->acProxyAddr});
            // A slow answer: the thread waits for it before it records the next request,
            // so the type this answer would carry is still the login's at its end.
            QThread::msleep(1500);
            if (ctx->GetPluginMsgType() != 1) typeChangedDuringSlot = true;
        }, blocking);
        auto record = [&](const char* name) {
            return [&got, &ctx, name] { got.Add(std::string(name) + "/" + std::to_string(ctx->GetPluginMsgType())); };
        };
        QObject::connect(thread, &PluginThread::signal_Plugin_Logout, &receiver, record("Plugin_Logout"), blocking);
        QObject::connect(thread, &PluginThread::signal_StartCNEM, &receiver, record("StartCNEM"), blocking);
        QObject::connect(thread, &PluginThread::signal_StopCNEM, &receiver, record("StopCNEM"), blocking);
        QObject::connect(thread, &PluginThread::signal_Plugin_HostCheck, &receiver, record("Plugin_HostCheck"),
                         blocking);
        QObject::connect(thread, &PluginThread::signal_Plugin_CacheClear, &receiver,
                         [&](int flag) { got.Add("Plugin_CacheClear(" + std::to_string(flag) + ")"); }, blocking);
        QObject::connect(thread, &PluginThread::signal_Plugin_Get_Info, &receiver, record("Plugin_Get_Info"),
                         blocking);
        QObject::connect(thread, &PluginThread::signal_Plugin_Urgent_Logout, &receiver,
                         record("Plugin_Urgent_Logout"), blocking);
        thread->start(QThread::InheritPriority);

        ui_test::ChildProgram client(
            UI_TEST_PLUGIN_CLIENT_BIN,
            {"--port", std::to_string(uiPluginListenPortGet()), "--scan", "1", "login", "alice", "s3cret",
             "123456", "login-unterminated", "req", "2", "req", "3", "req", "4", "req", "5", "req", "6", "req",
             "7", "req", "8", "req", "9", "req", "77", "sleep", "200", "close"});
        ASSERT_TRUE(client.Started());
        ASSERT_TRUE(SpinUntil([] { return ui_test::LogCount("[Plugin thread run][message type is ") >= 11; },
                              40000));
        QCoreApplication::processEvents();
        EXPECT_EQ(client.Wait(), 0);

        const std::vector<std::string> expected = {
            "Plugin_Login", "Plugin_Login", "Plugin_Logout/2", "StartCNEM/3", "StopCNEM/4",
            "Plugin_HostCheck/5", "Plugin_CacheClear(1)", "Plugin_CacheClear(0)", "Plugin_Urgent_Logout/8",
            "Plugin_Get_Info/9"};
        EXPECT_EQ(got.seen, expected);
        EXPECT_TRUE(got.allInMainThread);
        EXPECT_FALSE(typeChangedDuringSlot);
        EXPECT_EQ(ctx->GetPluginMsgType(), 0) << "an unknown request is recorded as type 0";

        ASSERT_EQ(logins.size(), 2u);
        EXPECT_EQ(logins[0].msgType, 1);
        EXPECT_EQ(logins[0].user, "alice");
        EXPECT_EQ(logins[0].password, "s3cret");
        EXPECT_EQ(logins[0].code, "123456");
        EXPECT_EQ(logins[0].proxy, "") << "a plugin login drops the launch's proxy";
        // Fields without a terminator are too long: left empty, never read past.
        EXPECT_EQ(logins[1].user, "");
        EXPECT_EQ(logins[1].password, "");
        EXPECT_EQ(logins[1].code, "");

        EXPECT_EQ(ui_test::LogCount("[Plugin thread run][user name is alice]"), 1u);
        EXPECT_EQ(ui_test::LogCount("s3cret"), 0u);
        EXPECT_EQ(ui_test::LogTextCount("123456"), 0u);
    });
}

// Another user's program asks to log out, to log in and for an urgent logout: none of it
// becomes a signal (a logout would end a browser-driven client), and the client's own
// plugin is still heard. The other users are played by processes that take their uid.
TEST(PluginThread, AnotherUsersRequestsNeverBecomeSignals) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the other users are played by processes that take uid 65534 "
                        "and 1000";
    }
    InChild([] {
        ASSERT_EQ(UI_PluginThread_Create(), 0u);
        ASSERT_TRUE(SpinUntil([] { return uiPluginListenPortGet() != 0; }));
        const uint16_t port = uint16_t(uiPluginListenPortGet());
        UIContext* ctx = UIContext::GetInstance();
        UIPLUGIN_INFO_S* info = ctx->GetPluginInfo();

        QObject receiver;
        Received got;
        PluginThread* thread = new PluginThread();  // ends with the child, still running
        auto record = [&](const char* name) {
            return [&got, &ctx, name] { got.Add(std::string(name) + "/" + std::to_string(ctx->GetPluginMsgType())); };
        };
        QObject::connect(thread, &PluginThread::signal_Plugin_Login, &receiver, record("Plugin_Login"));
        QObject::connect(thread, &PluginThread::signal_Plugin_Logout, &receiver, record("Plugin_Logout"));
        QObject::connect(thread, &PluginThread::signal_Plugin_Urgent_Logout, &receiver,
                         record("Plugin_Urgent_Logout"));
        QObject::connect(thread, &PluginThread::signal_Plugin_Get_Info, &receiver, record("Plugin_Get_Info"));
        thread->start(QThread::InheritPriority);

        std::vector<uint8_t> login(768, 0);
        std::memcpy(&login[0], "mallory", 7);
        const struct {
            uid_t uid;
            std::vector<uint8_t> request;
        } others[] = {
            {65534, ui_test::Packet(3, 2, 2, 1, 2)},
            {1000, ui_test::Packet(3, 2, 2, 1, 1, login)},
            {65534, ui_test::Packet(3, 2, 2, 1, 8)},
        };
        for (const auto& o : others) {
            ui_test::PluginPeer peer(o.uid, o.request);
            ASSERT_TRUE(peer.Go(port));
            const ui_test::PluginPeer::Seen seen = peer.Wait();
            EXPECT_TRUE(seen.userTaken && seen.connected && seen.closed && seen.got.empty());
        }
        EXPECT_EQ(ui_test::LogCount("[connection of another user refused][uid 65534]"), 2u);
        EXPECT_EQ(ui_test::LogCount("[connection of another user refused][uid 1000]"), 1u);

        ui_test::ChildProgram client(UI_TEST_PLUGIN_CLIENT_BIN, {"--port", std::to_string(port), "--scan", "1",
                                                                 "req", "9", "sleep", "200", "close"});
        ASSERT_TRUE(client.Started());
        ASSERT_TRUE(SpinUntil([] { return ui_test::LogCount("[Plugin thread run][message type is ") >= 1; }));
        EXPECT_EQ(client.Wait(), 0);
        ASSERT_TRUE(SpinUntil([&] { return !got.seen.empty(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(got.seen, std::vector<std::string>{"Plugin_Get_Info/9"});
        EXPECT_EQ(ui_test::LogCount("[Plugin thread run][message type is "), 1u);
        EXPECT_STREQ(info->acUserName, "") << "another user's login reached the launch record";
    });
}

}  // namespace
