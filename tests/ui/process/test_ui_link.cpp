// The link from start to end, each case in a process of its own as the front end runs
// it: UI_Init, then UI_Main_Connect starting the service from the runnable tree (the
// simulator under the promote service's name, on its fixed port), the receive task
// carrying events to the decoder, a broken connection reported once, the end of the
// link reported never, and the ways connecting fails.
//
// This process itself never starts the platform: every case forks first.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <rapidjson/document.h>

#include "ddm_log.h"
#include "jqr_mem.h"
#include "jqr_queue.h"
#include "jqr_task.h"
#include "ui_connect.h"
#include "ui_connect_inner.h"
#include "ui_env_inner.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_startup.h"
#include "ui_test/ui_sim.h"
#include "ui_urgent.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

#ifndef UI_TEST_RUNTIME_DIR
#error "UI_TEST_RUNTIME_DIR must name the runnable tree"
#endif

namespace {

constexpr int kChildTimeoutMs = 60000;

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Waits (bounded) until the condition holds; the condition's last answer.
template <typename Cond>
bool WaitFor(Cond cond, int timeoutMs = 10000) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (!cond()) {
        if (NowMs() > deadline) return cond();
        usleep(2000);
    }
    return true;
}

// Tries counted and waited for as a tenth of a second each, so the eleven tries of a
// refused connection pass quickly while a service that starts slowly still gets time.
std::atomic<uint32_t> g_retrySleeps{0};
void CountingSleep(uint32_t seconds) {
    g_retrySleeps += seconds;
    usleep(100 * 1000);
}

bool RecvTaskRunning() {
    uint32_t exists = 0;
    return UKO_Task_Exists("RECV", &exists) == 0 && exists == 1;
}

// A message waiting on "FAST", taken without waiting; nullptr when there is none.
bool FastQueueEmpty() {
    PacketQueueMsg msg;
    if (UKO_Queue_Read(g_fastQueueId, &msg, 0, 0) != 0) return true;
    UKO_Free(msg.pucPacket);
    return false;
}

int32_t NextEvent(std::string* name = nullptr) {
    int32_t event = -1, show = 0;
    char buf[UI_MSGCODE_NAME_SIZE] = {};
    EXPECT_EQ(UI_UrgentEvent_Process(&event, buf, &show), 0u);
    if (name != nullptr) *name = buf;
    return event;
}

// The front end as main() starts it, in the current (child) process: a private home,
// the runnable tree as its install folder, a scenario for the simulator the front end
// will start, and UI_Init.
class FrontEnd {
public:
    explicit FrontEnd(const std::string& scenarioExtra = "", const std::string& install = "") {
        dir_ = env_.Tmp();
        const std::string scenario = "{\"requestLog\":\"" + dir_ +
                                     "/requests.jsonl\",\"portsFile\":\"" + dir_ +
                                     "/ports.json\",\"state\":null,\"controlPort\":0" +
                                     (scenarioExtra.empty() ? "" : "," + scenarioExtra) + "}";
        WriteFile(dir_ + "/scenario.json", scenario);
        setenv("VANTRELO_SIM_SCENARIO", (dir_ + "/scenario.json").c_str(), 1);
        uiInstallPathSet(install.empty() ? UI_TEST_RUNTIME_DIR : install.c_str());
        uiConnectRetrySleepSet(CountingSleep);
        initResult_ = UI_Init("uitest");
    }
    ~FrontEnd() {
        const int pid = SimPid();
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }
    uint32_t InitResult() const { return initResult_; }
    const std::string& Dir() const { return dir_; }

    // The simulator's ports file, once it has written it.
    bool Ports(rapidjson::Document* d) const {
        const std::string text = ReadFile(dir_ + "/ports.json");
        if (text.empty() || text.find('}') == std::string::npos) return false;
        d->Parse(text.c_str());
        return !d->HasParseError() && d->IsObject();
    }
    int SimPid() const {
        rapidjson::Document d;
        return Ports(&d) && d.HasMember("pid") && d["pid"].IsInt() ? d["pid"].GetInt() : -1;
    }
    std::string Control(const std::string& command) const {
        rapidjson::Document d;
        if (!WaitFor([&] { return Ports(&d); }) || !d["control"].IsUint()) return "(no ports)";
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(d["control"].GetUint()));
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            return "(no control channel)";
        }
        const std::string line = command + "\n";
        (void)send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        std::string answer;
        char c;
        while (ui_test::WaitReadable(fd, 5000) && recv(fd, &c, 1, 0) == 1 && c != '\n') answer += c;
        close(fd);
        return answer;
    }
    std::vector<rapidjson::Document> Log() const {
        std::vector<rapidjson::Document> out;
        std::istringstream in(ReadFile(dir_ + "/requests.jsonl"));
        std::string line;
        while (std::getline(in, line)) {
            rapidjson::Document d;
            d.Parse(line.c_str());
            if (!d.HasParseError()) out.push_back(std::move(d));
        }
        return out;
    }

private:
    vt_test::TempEnv env_;
    std::string dir_;
    uint32_t initResult_ = 1;
};

std::vector<int32_t> TableSockets() {
    ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
    uint32_t count = 0;
    uiServiceTableCopy(slots, &count);
    std::vector<int32_t> fds;
    for (const ConnectInfo& s : slots) {
        if (s.iSocket != UI_SOCKET_NONE) fds.push_back(s.iSocket);
    }
    return fds;
}

bool DescriptorClosed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

// ---- Start-up ---------------------------------------------------------------------------

TEST(UiLinkTest, StartUpCreatesQueuesAndTasksAndIgnoresSigpipe) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            signal(SIGPIPE, SIG_DFL);
            FrontEnd fe;
            ASSERT_EQ(fe.InitResult(), 0u);
            EXPECT_NE(g_sendQueueId.load(), 0u);
            EXPECT_NE(g_fastQueueId.load(), 0u);
            EXPECT_NE(g_sendQueueId.load(), g_fastQueueId.load());
            uint32_t exists = 0;
            EXPECT_EQ(UKO_Task_Exists("SEND", &exists), 0);
            EXPECT_TRUE(RecvTaskRunning());
            struct sigaction sa{};
            sigaction(SIGPIPE, nullptr, &sa);
            EXPECT_EQ(sa.sa_handler, SIG_IGN);
            // "RECV" waits for its connections: nothing is watched, nothing posted.
            EXPECT_EQ(ui_test::LogCount("[ui receive thread start!]"), 0u);
            EXPECT_TRUE(FastQueueEmpty());
            // The send task has started and waits on its queue.
            EXPECT_TRUE(WaitFor([] { return ui_test::LogCount("[ui send thread start!]") == 1; }));
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, LogLevelComesFromSysconfigBesideTheProgram) {
    struct Case {
        const char* what;
        const char* file;  // nullptr: no file
        int level;
    } const cases[] = {
        {"level 3", "[GLOBAL]\nClientLogLevel = 3\n", 3},
        {"level 0", "[GLOBAL]\nClientLogLevel=0\n", 0},
        {"level out of range", "[GLOBAL]\nClientLogLevel = 7\n", 1},
        {"negative level", "[GLOBAL]\nClientLogLevel = -1\n", 1},
        {"key missing", "[GLOBAL]\nOther = 3\n", 1},
        {"no file", nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
            [&c] {
                vt_test::TempEnv folder;
                const std::string install = folder.Root() + "/install";
                mkdir(install.c_str(), 0700);
                if (c.file != nullptr) WriteFile(install + "/sysconfig.ini", c.file);
                FrontEnd fe("", install);
                ASSERT_EQ(fe.InitResult(), 0u);
                for (uint32_t level = 0; level < DDM_LOG_LEVEL_COUNT; ++level) {
                    EXPECT_EQ(DDM_LogFilterGet(0, level), int(level) >= c.level ? 1 : 0)
                        << "level " << level;
                }
                // The line is at INFO: a higher level set just before keeps it out.
                EXPECT_EQ(ui_test::LogCount("[UI initialize logfile][Set log level is " +
                                            std::to_string(c.level) + "]"),
                          c.level <= int(DDM_LOG_INFO) ? 1u : 0u);
            },
            kChildTimeoutMs)));
    }
}

TEST(UiLinkTest, ClosedStandardDescriptorsAreOpenedOnDevNull) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            close(0);
            close(2);
            FrontEnd fe;
            ASSERT_EQ(fe.InitResult(), 0u);
            struct stat null {};
            ASSERT_EQ(stat("/dev/null", &null), 0);
            for (int fd : {0, 2}) {
                struct stat st {};
                ASSERT_EQ(fstat(fd, &st), 0) << fd;
                EXPECT_TRUE(S_ISCHR(st.st_mode)) << fd;
                EXPECT_EQ(st.st_rdev, null.st_rdev) << fd;
            }
            // A connection now gets a number of its own.
            int32_t fd = -1;
            ui_test::Peer peer;
            ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_RPC, CONNECT_TYPE_ASYNC, &fd), 0u);
            EXPECT_GT(fd, 2);
        },
        kChildTimeoutMs)));
}

// ---- Connecting -------------------------------------------------------------------------

TEST(UiLinkTest, ConnectsToTheServiceItStartsAndCarriesItsEvents) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            FrontEnd fe;
            ASSERT_EQ(fe.InitResult(), 0u);
            char name[UI_MSGCODE_NAME_SIZE] = "untouched";
            uint32_t state = 99;
            ASSERT_EQ(UI_Main_Connect(name, &state), 0u);
            ASSERT_EQ(state, uint32_t(SERVICE_CONNECTED));
            EXPECT_STREQ(name, "untouched");
            EXPECT_GT(fe.SimPid(), 0) << "the front end started the service itself";

            // The port request, then one greeting on each engine connection.
            ASSERT_TRUE(WaitFor([&] { return fe.Log().size() >= 3; }));
            const std::vector<rapidjson::Document> log = fe.Log();
            ASSERT_EQ(log.size(), 3u);
            EXPECT_STREQ(log[0]["conn"].GetString(), "promote");
            EXPECT_EQ(log[0]["head"]["code"].GetUint(), 0x10006u);
            EXPECT_EQ(log[0]["head"]["len"].GetUint(), 1056u);
            const std::vector<uint8_t> request = ui_test::Hex(log[0]["hex"].GetString());
            ASSERT_EQ(request.size(), 1080u);
            const passwd* pw = getpwuid(getuid());
            ASSERT_NE(pw, nullptr);
            EXPECT_STREQ(reinterpret_cast<const char*>(&request[24]), pw->pw_name);
            EXPECT_STREQ(reinterpret_cast<const char*>(&request[24 + 32]), UI_TEST_RUNTIME_DIR);
            std::vector<uint32_t> greetings;
            for (size_t i = 1; i < 3; ++i) {
                EXPECT_EQ(log[i]["head"]["code"].GetUint(), 0x10006u);
                EXPECT_EQ(log[i]["head"]["len"].GetUint(), 0u);
                EXPECT_EQ(log[i]["head"]["source"].GetUint(), uint32_t(MARK_UI));
                EXPECT_EQ(log[i]["head"]["dest"].GetUint(), uint32_t(MARK_TULM));
                greetings.push_back(log[i]["head"]["type"].GetUint());
            }
            EXPECT_EQ(greetings, (std::vector<uint32_t>{1, 2}));

            // Events from the engine's asynchronous connection and from the promote
            // service reach the decoder.
            EXPECT_EQ(fe.Control("event async 0xB0000").substr(0, 2), "OK");
            EXPECT_EQ(NextEvent(), URGENT_EVENT_LOGOUT);
            EXPECT_EQ(fe.Control("event promote 0x8000A").substr(0, 2), "OK");
            std::string status;
            EXPECT_EQ(NextEvent(&status), URGENT_EVENT_IPSEC_STATUS);
            EXPECT_EQ(status, "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP3_IPSEC_TOUT");
            EXPECT_EQ(fe.Control("event async 0xB0004").substr(0, 2), "OK");
            EXPECT_EQ(NextEvent(), URGENT_EVENT_DHCP_ERROR);

            // The engine closes its event connection: every socket closed, one notice.
            const std::vector<int32_t> fds = TableSockets();
            ASSERT_EQ(fds.size(), 3u);
            EXPECT_EQ(fe.Control("close async").substr(0, 2), "OK");
            EXPECT_EQ(NextEvent(), URGENT_EVENT_EXIT);
            ASSERT_TRUE(WaitFor([] { return !RecvTaskRunning(); }));
            for (int32_t fd : fds) EXPECT_TRUE(DescriptorClosed(fd)) << fd;
            EXPECT_TRUE(TableSockets().empty());
            EXPECT_TRUE(FastQueueEmpty()) << "exactly one notice";
            EXPECT_EQ(ui_test::LogCount("[ui connect is closed!,  source mark is 2, dest mark is "
                                        "4,connet type is 2]"),
                      1u);
            // Ending the link afterwards closes nothing a second time.
            UI_Main_Disconnect();
            EXPECT_EQ(ui_test::LogCount("close socket failed"), 0u);
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, AnEndedLinkReportsNoLostConnection) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            FrontEnd fe;
            ASSERT_EQ(fe.InitResult(), 0u);
            char name[UI_MSGCODE_NAME_SIZE] = {};
            uint32_t state = 99;
            ASSERT_EQ(UI_Main_Connect(name, &state), 0u);
            ASSERT_EQ(state, uint32_t(SERVICE_CONNECTED));
            ASSERT_TRUE(WaitFor([] { return ui_test::LogCount("[ui receive thread start!]") == 1; }));
            const std::vector<int32_t> fds = TableSockets();
            UI_Main_Disconnect();
            ASSERT_TRUE(WaitFor([] { return !RecvTaskRunning(); }));
            for (int32_t fd : fds) EXPECT_TRUE(DescriptorClosed(fd)) << fd;
            EXPECT_TRUE(FastQueueEmpty());
            EXPECT_EQ(ui_test::LogCount("close socket failed"), 0u);
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, TheSendTaskSendsWhatItsQueueCarriesOnTheConnectionItsHeadNames) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            FrontEnd fe;
            ASSERT_EQ(fe.InitResult(), 0u);
            char name[UI_MSGCODE_NAME_SIZE] = {};
            uint32_t state = 99;
            ASSERT_EQ(UI_Main_Connect(name, &state), 0u);
            ASSERT_EQ(state, uint32_t(SERVICE_CONNECTED));
            ASSERT_TRUE(WaitFor([&] { return fe.Log().size() >= 3; }));
            // No connection to a plugin exists in the service table: dropped, logged.
            const std::vector<uint8_t> stray = ui_test::Packet(2, 3, 2, 1, 0x10000);
            ASSERT_EQ(UI_Queue_Write(g_sendQueueId, stray.data(), uint32_t(stray.size())), 0u);
            // Addressed to the promote service on its connection.
            const std::vector<uint8_t> packet =
                ui_test::Packet(2, 1, 2, 1, 0x1000E, std::vector<uint8_t>(16, 0x41));
            ASSERT_EQ(UI_Queue_Write(g_sendQueueId, packet.data(), uint32_t(packet.size())), 0u);
            ASSERT_TRUE(WaitFor([&] { return fe.Log().size() >= 4; }));
            const std::vector<rapidjson::Document> log = fe.Log();
            EXPECT_STREQ(log[3]["conn"].GetString(), "promote");
            EXPECT_EQ(ui_test::Hex(log[3]["hex"].GetString()), packet);
            EXPECT_EQ(ui_test::LogCount("[Process send thread][ui send connect is closed!]"), 1u);
            UI_Main_Disconnect();
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, EndingTheLinkWhileEventsArriveReportsNothingAndClosesEachSocketOnce) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            FrontEnd fe;
            ASSERT_EQ(fe.InitResult(), 0u);
            char name[UI_MSGCODE_NAME_SIZE] = {};
            uint32_t state = 99;
            ASSERT_EQ(UI_Main_Connect(name, &state), 0u);
            ASSERT_EQ(state, uint32_t(SERVICE_CONNECTED));
            // Events from both connections keep coming while the link is ended.
            std::atomic<bool> stop{false};
            std::thread service([&] {
                for (uint32_t i = 0; !stop; ++i) {
                    (void)fe.Control(i % 2 == 0 ? "event async 0xB0001" : "event promote 0xB0001");
                }
            });
            for (int i = 0; i < 20; ++i) EXPECT_EQ(NextEvent(), URGENT_EVENT_IGNORED);
            const std::vector<int32_t> fds = TableSockets();
            UI_Main_Disconnect();
            ASSERT_TRUE(WaitFor([] { return !RecvTaskRunning(); }));
            stop = true;
            service.join();
            for (int32_t fd : fds) EXPECT_TRUE(DescriptorClosed(fd)) << fd;
            // Whatever was still on its way is an event, never the lost-connection notice.
            PacketQueueMsg msg;
            while (UKO_Queue_Read(g_fastQueueId, &msg, 0, 0) == 0) {
                PacketHead head;
                std::memcpy(&head, msg.pucPacket, sizeof(head));
                EXPECT_EQ(ntohl(head.uiMsgCode), URGENT_MSGCODE_IGNORED);
                UKO_Free(msg.pucPacket);
            }
            EXPECT_EQ(ui_test::LogCount("close socket failed"), 0u);
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, AnotherPortReplyIsNamedAndNotConnected) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            FrontEnd fe(R"("promote":{"portReply":{"code":"0x10007"}})");
            ASSERT_EQ(fe.InitResult(), 0u);
            char name[UI_MSGCODE_NAME_SIZE] = {};
            uint32_t state = 99;
            EXPECT_EQ(UI_Main_Connect(name, &state), 0u);
            EXPECT_EQ(state, uint32_t(SERVICE_NOT_CONNECTED));
            EXPECT_STREQ(name, "/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_UI_EXIST");
            EXPECT_EQ(fe.Log().size(), 1u) << "no engine connection was opened";
            EXPECT_EQ(ui_test::LogCount("[ui receive thread start!]"), 0u);
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, NoServiceListeningGivesElevenTriesAndFailure) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            // The service starts but never opens its port.
            FrontEnd fe(R"("promote":{"listen":false})");
            ASSERT_EQ(fe.InitResult(), 0u);
            char name[UI_MSGCODE_NAME_SIZE] = "untouched";
            uint32_t state = 99;
            EXPECT_EQ(UI_Main_Connect(name, &state), 1u);
            EXPECT_EQ(state, uint32_t(SERVICE_NOT_CONNECTED));
            EXPECT_EQ(g_retrySleeps.load(), 11u) << "one second after each of eleven tries";
            EXPECT_EQ(ui_test::LogCount("[Process main socket connect RPC][ui can't connect RPC!]"),
                      1u);
            EXPECT_TRUE(TableSockets().empty());
            EXPECT_STREQ(name, "untouched");
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, ALinkThatNeverStartedDoesNotReportConnected) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            // No UI_Init: no receive task and no queue would ever carry an event.
            vt_test::TempEnv env;
            char name[UI_MSGCODE_NAME_SIZE] = {};
            uint32_t state = 99;
            EXPECT_EQ(UI_Main_Connect(name, &state), 1u);
            EXPECT_EQ(state, uint32_t(SERVICE_NOT_CONNECTED));
            EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no service was started";
            EXPECT_TRUE(TableSockets().empty());
        },
        kChildTimeoutMs)));
}

TEST(UiLinkTest, AReceiveTaskThatCannotBeWokenFailsTheConnection) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            FrontEnd fe;
            ASSERT_EQ(fe.InitResult(), 0u);
            ASSERT_EQ(UKO_Task_Delete(g_recvTaskId), 0u);
            ASSERT_TRUE(WaitFor([] { return !RecvTaskRunning(); }));
            char name[UI_MSGCODE_NAME_SIZE] = {};
            uint32_t state = 99;
            EXPECT_EQ(UI_Main_Connect(name, &state), 1u);
            EXPECT_EQ(state, uint32_t(SERVICE_NOT_CONNECTED));
            EXPECT_EQ(ui_test::LogCount("[wake receive thread failed!]"), 1u);
            EXPECT_TRUE(TableSockets().empty()) << "connections nobody watches are closed";
        },
        kChildTimeoutMs)));
}

// ---- Signals ----------------------------------------------------------------------------

std::atomic<uint32_t> g_signals{0};
void CountSignal(int) { ++g_signals; }

TEST(UiLinkTest, SignalsWithAHandlerInterruptNeitherTheReceiveTaskNorARequest) {
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild(
        [] {
            FrontEnd fe(R"("scripts":[{"msgType":9,"code":2,"replies":[{"delayMs":400}]}])");
            ASSERT_EQ(fe.InitResult(), 0u);
            char name[UI_MSGCODE_NAME_SIZE] = {};
            uint32_t state = 99;
            ASSERT_EQ(UI_Main_Connect(name, &state), 0u);
            ASSERT_EQ(state, uint32_t(SERVICE_CONNECTED));
            ASSERT_TRUE(WaitFor([] { return ui_test::LogCount("[ui receive thread start!]") == 1; }));

            // A handler without SA_RESTART: every blocking call it interrupts fails with
            // EINTR unless the caller tries again.
            struct sigaction sa{};
            sa.sa_handler = CountSignal;
            sigemptyset(&sa.sa_mask);
            ASSERT_EQ(sigaction(SIGUSR1, &sa, nullptr), 0);
            pthread_t recvThread{};
            ASSERT_EQ(UKO_Task_OsIdGet(g_recvTaskId, &recvThread), 0);
            const pthread_t mainThread = pthread_self();
            std::atomic<bool> stop{false};
            std::thread sender([&] {
                while (!stop) {
                    pthread_kill(recvThread, SIGUSR1);
                    pthread_kill(mainThread, SIGUSR1);
                    usleep(5000);
                }
            });
            // A request whose reply comes 400 ms late, signals arriving all the while.
            const std::vector<uint8_t> request = ui_test::Packet(2, 4, 1, 9, 2);
            const int32_t fd = UI_ConnectFd_GetByDest(MARK_TULM, CONNECT_TYPE_SYNC);
            uint8_t* reply = nullptr;
            uint32_t replyLen = 0;
            const uint32_t rc = UI_Packet_SyncSend(fd, request.data(), uint32_t(request.size()),
                                                   &reply, &replyLen, 40000);
            stop = true;
            sender.join();
            ASSERT_EQ(rc, 0u);
            PacketHead head;
            std::memcpy(&head, reply, sizeof(head));
            EXPECT_EQ(ntohl(head.uiMsgCode), 0xD0002u);
            UKO_Free(reply);
            EXPECT_GT(g_signals.load(), 20u);

            // The receive task kept waiting: no notice, and the next event is the event.
            EXPECT_TRUE(FastQueueEmpty());
            EXPECT_EQ(fe.Control("event async 0xB0002").substr(0, 2), "OK");
            EXPECT_EQ(NextEvent(), URGENT_EVENT_CNEM_RECONNECT_FAIL);
            EXPECT_EQ(ui_test::LogCount("ui receive thread select failed"), 0u);
            EXPECT_TRUE(RecvTaskRunning());
            UI_Main_Disconnect();
        },
        kChildTimeoutMs)));
}

}  // namespace
