// The package download client: the reply-head rules on their own, then whole downloads
// against a loopback TLS server that sends its replies in the ways gateways do (head and
// body in one record, a split head, no length, errors, a compressed body, a close in the
// middle), signals during the reads, the refusals, and the simulator's package server.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include "ui_https.h"
#include "ui_https_inner.h"
#include "ui_test/tls_peer.h"
#include "ui_test/ui_sim.h"
#include "vt_test/thread_state.h"

namespace {

using ui_test::TlsPeer;
using ui_test::TlsReply;
using Send = TlsReply::Send;

class UiHttpsTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
    void TearDown() override {
        UI_SSL_Close();
        EXPECT_TRUE(SessionEmpty());
    }

public:
    static bool SessionEmpty() {
        return g_stSslSession.iSocket == -1 && g_stSslSession.pstCtx == nullptr &&
               g_stSslSession.pstSsl == nullptr;
    }
};

// Bytes that differ from position to position, so that a lost or repeated piece shows.
std::string Pattern(size_t n) {
    std::string s(n, '\0');
    uint32_t x = 2463534242u;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

struct Fetched {
    uint32_t steps = 0;       // 0: connect, create and request succeeded
    int32_t size = 0;         // UI_SSL_GetFileSize
    std::string data;         // what the reads delivered
    int32_t lastRead = -1;    // the read that ended the loop
    bool badCount = false;    // a read outside 0..4095
    bool tailNotZero = false; // a read that left bytes after its data that were not zero
};

// The download thread's loop: connect, create, request, size, reads until the size is
// in or a read gives 0.
Fetched Fetch(uint16_t port, const char* path = "/app/pkg.tar.gz", const char* host = "gw") {
    Fetched f;
    f.steps = UI_SSL_HttpsConnect("127.0.0.1", port) | UI_SSL_Create(0) |
              UI_SSL_HttpsRequest(path, host);
    if (f.steps != 0) return f;
    f.size = UI_SSL_GetFileSize();
    int64_t left = f.size;
    char buf[UI_SSL_READ_BUFFER_SIZE];
    while (left > 0) {
        std::memset(buf, 0x5A, sizeof(buf));
        const int32_t n = UI_SSL_Read(buf);
        f.lastRead = n;
        if (n < 0 || n > int32_t(UI_SSL_READ_SIZE)) {
            f.badCount = true;
            break;
        }
        if (n == 0) break;
        for (uint32_t i = uint32_t(n); i < UI_SSL_READ_SIZE; ++i) {
            if (buf[i] != 0) f.tailNotZero = true;
        }
        f.data.append(buf, size_t(n));
        left -= n;
    }
    return f;
}

TEST(UiHttpsHead, StatusCodingAndLengthDecideTheSize) {
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const struct {
        const char* name;
        std::string head;
        UiHttpsHeadResult result;
        int32_t size;
    } cases[] = {
        {"plain", ok + "Content-Length: 1048576\r\n\r\n", UI_HTTPS_HEAD_OK, 1048576},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\n", UI_HTTPS_HEAD_OK, 7},
        {"no reason text", "HTTP/1.1 200\r\nContent-Length: 7\r\n\r\n", UI_HTTPS_HEAD_OK, 7},
        {"no blank after the colon", ok + "Content-Length:42\r\n\r\n", UI_HTTPS_HEAD_OK, 42},
        {"blanks around", ok + "Content-Length: \t42 \r\n\r\n", UI_HTTPS_HEAD_OK, 42},
        {"zero", ok + "Content-Length: 0\r\n\r\n", UI_HTTPS_HEAD_OK, 0},
        {"largest", ok + "Content-Length: 2147483647\r\n\r\n", UI_HTTPS_HEAD_OK, 2147483647},
        {"first length counts", ok + "Content-Length: 10\r\nContent-Length: 20\r\n\r\n",
         UI_HTTPS_HEAD_OK, 10},
        {"a longer name is another header",
         ok + "X-Original-Content-Length: 7\r\nContent-Length: 9\r\n\r\n", UI_HTTPS_HEAD_OK, 9},
        {"identity coding", ok + "Content-Encoding: identity\r\nContent-Length: 5\r\n\r\n",
         UI_HTTPS_HEAD_OK, 5},
        {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n", UI_HTTPS_HEAD_STATUS, 0},
        {"302", "HTTP/1.1 302 Found\r\nLocation: https://gw/x\r\nContent-Length: 0\r\n\r\n",
         UI_HTTPS_HEAD_STATUS, 0},
        {"500", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 30\r\n\r\n",
         UI_HTTPS_HEAD_STATUS, 0},
        {"206", "HTTP/1.1 206 Partial Content\r\nContent-Length: 30\r\n\r\n",
         UI_HTTPS_HEAD_STATUS, 0},
        {"no status line", "Content-Length: 30\r\n\r\n", UI_HTTPS_HEAD_STATUS, 0},
        {"four-digit status", "HTTP/1.1 2000 OK\r\nContent-Length: 3\r\n\r\n",
         UI_HTTPS_HEAD_STATUS, 0},
        {"gzip", ok + "Content-Encoding: gzip\r\nContent-Length: 20\r\n\r\n",
         UI_HTTPS_HEAD_CODING, 0},
        {"coding name in any case", ok + "content-encoding: GZIP\r\nContent-Length: 20\r\n\r\n",
         UI_HTTPS_HEAD_CODING, 0},
        {"chunked beside a length", ok + "Content-Length: 20\r\nTransfer-Encoding: chunked\r\n\r\n",
         UI_HTTPS_HEAD_CODING, 0},
        {"lower-case l", ok + "Content-length: 5\r\n\r\n", UI_HTTPS_HEAD_NO_LENGTH, 0},
        {"no length", ok + "Connection: close\r\n\r\n", UI_HTTPS_HEAD_NO_LENGTH, 0},
        {"length only in the body", ok + "\r\nContent-Length: 5\r\n", UI_HTTPS_HEAD_NO_LENGTH, 0},
        {"one past the largest", ok + "Content-Length: 2147483648\r\n\r\n",
         UI_HTTPS_HEAD_BAD_LENGTH, 0},
        {"past 64 bits", ok + "Content-Length: 184467440737095516160\r\n\r\n",
         UI_HTTPS_HEAD_BAD_LENGTH, 0},
        {"negative", ok + "Content-Length: -1\r\n\r\n", UI_HTTPS_HEAD_BAD_LENGTH, 0},
        {"signed", ok + "Content-Length: +5\r\n\r\n", UI_HTTPS_HEAD_BAD_LENGTH, 0},
        {"trailing text", ok + "Content-Length: 12abc\r\n\r\n", UI_HTTPS_HEAD_BAD_LENGTH, 0},
        {"empty value", ok + "Content-Length: \r\n\r\n", UI_HTTPS_HEAD_BAD_LENGTH, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t size = -7;
        EXPECT_EQ(uiHttpsHeadParse(c.head.data(), c.head.size(), &size, nullptr), c.result);
        EXPECT_EQ(size, c.size);
    }
    int32_t status = 0;
    const std::string redirect = "HTTP/1.1 302 Found\r\n\r\n";
    (void)uiHttpsHeadParse(redirect.data(), redirect.size(), nullptr, &status);
    EXPECT_EQ(status, 302);
}

TEST(UiHttpsHead, HtonsSwapsTheLowSixteenBits) {
    EXPECT_EQ(UI_Htons(0x01BB), 0xBB01);
    EXPECT_EQ(UI_Htons(0x123401BB), 0xBB01);
    EXPECT_EQ(UI_Htons(-1), 0xFFFF);
    EXPECT_EQ(UI_Htons(0), 0);
}

TEST_F(UiHttpsTest, DownloadsByteExactHoweverTheReplyIsCut) {
    TlsPeer peer;
    ASSERT_TRUE(peer.Started());
    const std::string body = Pattern(1024 * 1024);
    const struct {
        const char* name;
        Send send;
        size_t splitAt;
    } cases[] = {
        {"head and first body bytes in one record", Send::kOneWrite, 0},
        {"head in a record of its own", Send::kHeadApart, 0},
        {"head split after the status line", Send::kSplitHead, 17},
        {"end mark split over two reads", Send::kSplitHead, 0},  // set below
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        TlsReply reply;
        reply.head = TlsPeer::OkHead(body.size());
        reply.body = body;
        reply.send = c.send;
        reply.splitAt = c.splitAt != 0 ? c.splitAt : reply.head.size() - 3;
        peer.SetReply(reply);
        const Fetched f = Fetch(peer.Port());
        ASSERT_EQ(f.steps, 0u);
        EXPECT_EQ(f.size, int32_t(body.size()));
        EXPECT_FALSE(f.badCount);
        EXPECT_FALSE(f.tailNotZero);
        EXPECT_EQ(f.data.size(), body.size());
        EXPECT_TRUE(f.data == body) << "the downloaded bytes differ";
        UI_SSL_Close();
        EXPECT_TRUE(SessionEmpty());
    }
}

TEST_F(UiHttpsTest, RepliesThatAreNoPackageGiveSizeZeroAndReleaseTheSession) {
    TlsPeer peer;
    ASSERT_TRUE(peer.Started());
    const std::string page = "<html>not here</html>";
    // The gzip stream of an empty text.
    const std::string gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x03\x00\x00\x00\x00\x00"
                           "\x00\x00\x00\x00",
                           20);
    const std::string len = std::to_string(page.size());
    const struct {
        const char* name;
        std::string head;
        std::string body;
        const char* logged;
    } cases[] = {
        {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: " + len + "\r\n\r\n", page,
         "[reason:reply status is not 200][status :404]"},
        {"302", "HTTP/1.1 302 Found\r\nLocation: https://gw/y\r\nContent-Length: " + len +
                    "\r\n\r\n",
         page, "[reason:reply status is not 200][status :302]"},
        {"lower-case l", "HTTP/1.1 200 OK\r\nContent-length: " + len + "\r\n\r\n", page,
         "[Get File size ][Content-Length: 0]"},
        {"no length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", page,
         "[Get File size ][Content-Length: 0]"},
        {"gzip", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 20\r\n\r\n", gzip,
         "[reason:body is sent with a coding other than identity]"},
        {"length past INT_MAX", "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n", page,
         "[reason:invalid Content-Length]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.SetReply({c.head, c.body, Send::kOneWrite});
        const size_t logged = ui_test::LogCount(c.logged);
        const Fetched f = Fetch(peer.Port());
        ASSERT_EQ(f.steps, 0u);
        EXPECT_EQ(f.size, 0);
        EXPECT_TRUE(f.data.empty());
        EXPECT_TRUE(SessionEmpty());
        EXPECT_EQ(ui_test::LogCount(c.logged), logged + 1);
        char buf[UI_SSL_READ_BUFFER_SIZE];
        EXPECT_EQ(UI_SSL_Read(buf), 0);  // nothing left to read from
        UI_SSL_Close();
    }
}

TEST_F(UiHttpsTest, BodyEndsAtTheAnnouncedLengthOrWhereThePeerDropsIt) {
    TlsPeer peer;
    ASSERT_TRUE(peer.Started());
    const std::string body = Pattern(1024 * 1024);

    // Dropped after 300,000 bytes without a TLS close: the loop ends short, no hang.
    TlsReply drop{TlsPeer::OkHead(body.size()), body, Send::kCloseMidBody};
    drop.closeAfter = 300000;
    peer.SetReply(drop);
    const size_t failed = ui_test::LogCount("[Get File][reason:Failed to read data]");
    Fetched f = Fetch(peer.Port());
    ASSERT_EQ(f.steps, 0u);
    EXPECT_EQ(f.size, int32_t(body.size()));
    EXPECT_EQ(f.lastRead, 0);
    EXPECT_FALSE(f.badCount);
    EXPECT_EQ(f.data.size(), 300000u);
    EXPECT_TRUE(f.data == body.substr(0, 300000));
    EXPECT_EQ(ui_test::LogCount("[Get File][reason:Failed to read data]"), failed + 1);
    EXPECT_TRUE(SessionEmpty());

    // Closed in order (a TLS close) before the announced length: 0, nothing released
    // until the caller closes.
    peer.SetReply({TlsPeer::OkHead(body.size() + 100), body, Send::kHeadApart});
    f = Fetch(peer.Port());
    EXPECT_EQ(f.lastRead, 0);
    EXPECT_TRUE(f.data == body);
    EXPECT_NE(g_stSslSession.pstSsl, nullptr);
    UI_SSL_Close();

    // More body than announced: the reads stop at the announced length.
    peer.SetReply({TlsPeer::OkHead(1000), body.substr(0, 5000), Send::kOneWrite});
    f = Fetch(peer.Port());
    EXPECT_EQ(f.size, 1000);
    EXPECT_TRUE(f.data == body.substr(0, 1000));
    char buf[UI_SSL_READ_BUFFER_SIZE];
    EXPECT_EQ(UI_SSL_Read(buf), 0);
    UI_SSL_Close();
}

void NoteSignal(int) {}

TEST_F(UiHttpsTest, SignalsDuringTheReadsAreNeitherCountedNorFatal) {
    TlsPeer peer;
    ASSERT_TRUE(peer.Started());
    const std::string body = Pattern(256 * 1024);
    TlsReply reply{TlsPeer::OkHead(body.size()), body, Send::kHeadApart};
    reply.pauseMs = 300;  // the first body read waits while the signals come
    peer.SetReply(reply);

    // A handler without SA_RESTART: each signal interrupts the blocked read.
    struct sigaction sa {}, old{};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    const pthread_t reader = pthread_self();
    std::atomic<bool> done{false};
    std::thread signaller([&] {
        while (!done) {
            pthread_kill(reader, SIGUSR1);
            ::usleep(2000);
        }
    });
    const Fetched f = Fetch(peer.Port());
    done = true;
    signaller.join();
    sigaction(SIGUSR1, &old, nullptr);

    ASSERT_EQ(f.steps, 0u);
    EXPECT_FALSE(f.badCount) << "a read gave " << f.lastRead;
    EXPECT_TRUE(f.data == body);
}

TEST_F(UiHttpsTest, RequestHeadIsByteExact) {
    TlsPeer peer;
    ASSERT_TRUE(peer.Started());
    peer.SetReply({TlsPeer::OkHead(3), "abc", Send::kOneWrite});
    const Fetched f = Fetch(peer.Port(), "/app/x.tar.gz", "gw");
    ASSERT_EQ(f.steps, 0u);
    EXPECT_EQ(f.data, "abc");
    const std::string request = peer.LastRequest();
    const std::string expected =
        "GET /app/x.tar.gz HTTP/1.1\r\n"
        "Host: gw\r\n"
        "Accept: image/gif, image/jpeg, image/pjpeg, application/x-ms-application, "
        "application/xaml+xml, application/x-ms-xbap, *\\/*\r\n"
        "Accept-Encoding: gzip, deflate\r\n"
        "Accept-Language: zh-CN\r\n"
        "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
        "Gecko) Chrome/76.0.3809.132 Safari/537.36\r\n"
        "Connection: Keep-Alive\r\n"
        "\r\n";
    EXPECT_EQ(request, expected);
    EXPECT_EQ(request.size(), UI_HTTPS_REQUEST_FIXED_LEN + 13 + 2);
}

TEST_F(UiHttpsTest, PathAndHostMustFitTheRequest) {
    TlsPeer peer;
    ASSERT_TRUE(peer.Started());
    peer.SetReply({TlsPeer::OkHead(1), "z", Send::kOneWrite});
    const std::string host = "gw";
    const std::string fits = "/" + std::string(UI_HTTPS_PATH_HOST_MAX - host.size() - 1, 'p');
    Fetched f = Fetch(peer.Port(), fits.c_str(), host.c_str());
    ASSERT_EQ(f.steps, 0u);
    EXPECT_EQ(f.data, "z");
    EXPECT_EQ(peer.LastRequest().size(), size_t(UI_HTTPS_REQUEST_SIZE - 1));
    UI_SSL_Close();

    const std::string tooLong = fits + "p";
    const struct {
        const char* name;
        const char* path;
        const char* host;
    } refused[] = {
        {"one byte too long", tooLong.c_str(), host.c_str()},
        {"empty path", "", "gw"},
        {"empty host", "/a", ""},
        {"null path", nullptr, "gw"},
        {"line break in the path", "/a\r\nX-Injected: 1", "gw"},
        {"line break in the host", "/a", "gw\nX: 1"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(UI_SSL_HttpsConnect("127.0.0.1", peer.Port()), 0u);
        ASSERT_EQ(UI_SSL_Create(0), 0u);
        EXPECT_EQ(UI_SSL_HttpsRequest(c.path, c.host), 1u);
        EXPECT_TRUE(SessionEmpty());
        UI_SSL_Close();
    }
}

TEST_F(UiHttpsTest, ConnectRefusesBadArgumentsAndReleasesOnFailure) {
    const size_t invalid = ui_test::LogCount("[Socket connect][reason:invalid param]");
    EXPECT_EQ(UI_SSL_HttpsConnect("127.0.0.1", 65535), 1u);
    EXPECT_EQ(UI_SSL_HttpsConnect("127.0.0.1", 0x1FFFF), 1u);
    EXPECT_EQ(UI_SSL_HttpsConnect("127.0.0.1", -1), 1u);
    EXPECT_EQ(UI_SSL_HttpsConnect("", 443), 1u);
    EXPECT_EQ(UI_SSL_HttpsConnect(nullptr, 443), 1u);
    EXPECT_EQ(ui_test::LogCount("[Socket connect][reason:invalid param]"), invalid + 5);
    EXPECT_TRUE(SessionEmpty());

    // Port 0 passes the check and fails at the connect.
    const size_t tried = ui_test::LogCount("[Socket connect][UI_SSL_HttpsConnect------]");
    const size_t failed = ui_test::LogCount("[Socket connect][connect init failed]");
    EXPECT_EQ(UI_SSL_HttpsConnect("127.0.0.1", 0), 1u);
    EXPECT_EQ(ui_test::LogCount("[Socket connect][UI_SSL_HttpsConnect------]"), tried + 1);
    EXPECT_EQ(ui_test::LogCount("[Socket connect][connect init failed]"), failed + 1);
    EXPECT_TRUE(SessionEmpty());

    // TLS without a socket, and a handshake with a peer that speaks no TLS.
    EXPECT_EQ(UI_SSL_Create(0), 1u);
    EXPECT_TRUE(SessionEmpty());
    ui_test::Peer plain;
    ASSERT_EQ(UI_SSL_HttpsConnect("127.0.0.1", plain.Port()), 0u);
    ASSERT_TRUE(plain.Accept());
    plain.Send({'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '4', '0', '0', '\r', '\n', '\r', '\n'});
    plain.CloseConn();
    const size_t handshake = ui_test::LogCount("[SSL Create failed][reason:connect Failed]");
    EXPECT_EQ(UI_SSL_Create(0), 1u);
    EXPECT_EQ(ui_test::LogCount("[SSL Create failed][reason:connect Failed]"), handshake + 1);
    EXPECT_TRUE(SessionEmpty());

    // Steps out of order find no connection and leave nothing.
    EXPECT_EQ(UI_SSL_HttpsRequest("/a", "gw"), 1u);
    EXPECT_EQ(UI_SSL_GetFileSize(), 0);
    char buf[UI_SSL_READ_BUFFER_SIZE];
    EXPECT_EQ(UI_SSL_Read(buf), 0);
    EXPECT_EQ(UI_SSL_Read(nullptr), 0);
    UI_SSL_Close();
    UI_SSL_Close();
    EXPECT_TRUE(SessionEmpty());
}

TEST_F(UiHttpsTest, GmTlsFailsCleanlyWhereTheMethodIsMissing) {
    if (uiSslGmTlsAvailable()) {
        GTEST_SKIP() << "this OpenSSL has the GM/T client method";
    }
    TlsPeer peer;
    ASSERT_TRUE(peer.Started());
    peer.SetReply({TlsPeer::OkHead(1), "z", Send::kOneWrite});
    const size_t igm = ui_test::LogCount("[Update Client][is igmEnable]");
    const size_t missing = ui_test::LogCount("[reason:GM TLS client method is not available");
    const size_t success = ui_test::LogCount("[Update Client][SSL connect success]");
    ASSERT_EQ(UI_SSL_HttpsConnect("127.0.0.1", peer.Port()), 0u);
    EXPECT_EQ(UI_SSL_Create(1), 1u);
    EXPECT_TRUE(SessionEmpty());
    EXPECT_EQ(ui_test::LogCount("[Update Client][is igmEnable]"), igm + 1);
    EXPECT_EQ(ui_test::LogCount("[reason:GM TLS client method is not available"), missing + 1);
    EXPECT_EQ(ui_test::LogCount("[Update Client][SSL connect success]"), success);
    // No ordinary TLS behind the caller's back: the server served nobody.
    EXPECT_EQ(peer.LastRequest(), "");
}

TEST_F(UiHttpsTest, SimulatorPackageIsWrittenByteExactToAFile) {
    vt_test::TempEnv env;
    const std::string package = env.Tmp() + "/pkg.tar.gz";
    const std::string body = Pattern(5 * 1024 * 1024);
    {
        std::ofstream out(package, std::ios::binary);
        out.write(body.data(), std::streamsize(body.size()));
    }
    ui_test::Sim sim(R"("https":{"port":0,"files":[
        {"path":"/app/vantrelo-macosx.tar.gz","file":")" + package + R"(","mode":"normal"},
        {"path":"/app/with-head.tar.gz","file":")" + package + R"(","mode":"headWithBody"}]})");
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    ASSERT_NE(sim.Port("https"), 0);
    for (const char* path : {"/app/vantrelo-macosx.tar.gz", "/app/with-head.tar.gz"}) {
        SCOPED_TRACE(path);
        const std::string target = env.Tmp() + "/downloaded.tar.gz";
        ASSERT_EQ(UI_SSL_HttpsConnect("127.0.0.1", sim.Port("https")), 0u);
        ASSERT_EQ(UI_SSL_Create(0), 0u);
        ASSERT_EQ(UI_SSL_HttpsRequest(path, "127.0.0.1"), 0u);
        const int32_t size = UI_SSL_GetFileSize();
        ASSERT_EQ(size, int32_t(body.size()));
        FILE* file = std::fopen(target.c_str(), "wb+");
        ASSERT_NE(file, nullptr);
        char buf[UI_SSL_READ_BUFFER_SIZE];
        int64_t left = size;
        while (left > 0) {
            const int32_t n = UI_SSL_Read(buf);
            if (n <= 0) break;
            ASSERT_EQ(std::fwrite(buf, 1, size_t(n), file), size_t(n));
            left -= n;
        }
        std::fclose(file);
        UI_SSL_Close();
        std::ifstream in(target, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        EXPECT_EQ(written.size(), body.size());
        EXPECT_TRUE(written == body) << "the written package differs";
    }
    ASSERT_TRUE(sim.WaitLog(2));
    const auto log = sim.Log();
    EXPECT_EQ(std::string(log[0]["conn"].GetString()), "https");
    EXPECT_EQ(std::string(log[0]["path"].GetString()), "/app/vantrelo-macosx.tar.gz");
}

// A loopback listener that takes no more connections: its accept queue (of one) is held
// by a first connection nobody accepts, so a second connect waits for an answer that
// never comes.
class FullListener {
public:
    FullListener() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 0) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            return;
        }
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            port_ = ntohs(a.sin_port);
        }
    }
    ~FullListener() {
        if (filler_ >= 0) ::close(filler_);
        if (listen_ >= 0) ::close(listen_);
    }
    uint16_t Port() const { return port_; }

private:
    int listen_ = -1;
    int filler_ = -1;
    uint16_t port_ = 0;
};

// A download stopped from another thread while its thread waits in the connect, in the
// handshake with a peer that never answers, or in a read of a body that stalls: the
// waiting call ends at once with a failure, nothing of the session is left, the next
// connect fails as well until the session is closed, and then a download goes through.
TEST_F(UiHttpsTest, AbortEndsTheWaitingStepAndHoldsUntilClose) {
    FullListener full;
    ASSERT_NE(full.Port(), 0);
    ui_test::Peer silent;
    ui_test::Sim sim(R"("https":{"port":0,"files":[
        {"path":"/stall.tar.gz","file":"/proc/self/exe","mode":"stall"}]})");
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const uint16_t httpsPort = sim.Port("https");
    // Set by a case just before the step it is to be stopped in, when earlier steps
    // wait in the same call.
    std::atomic<bool> atStep{false};
    const struct {
        const char* name;
        uint16_t port;
        long call;                        // where the thread waits
        std::function<uint32_t()> steps;  // what it runs after its connect
    } cases[] = {
        {"connect without an answer", full.Port(), SYS_connect,
         [&atStep] { return 0u; }},
        {"handshake with a silent peer", silent.Port(), SYS_read,
         [&atStep] {
             atStep = true;
             return UI_SSL_Create(0);
         }},
        {"read of a stalled body", httpsPort, SYS_read,
         [&atStep] {
             if ((UI_SSL_Create(0) | UI_SSL_HttpsRequest("/stall.tar.gz", "127.0.0.1")) != 0 ||
                 UI_SSL_GetFileSize() <= 0) {
                 return 2u;  // the stall is in the body: these must succeed
             }
             char buf[UI_SSL_READ_BUFFER_SIZE];
             atStep = true;
             return UI_SSL_Read(buf) == 0 ? 1u : 3u;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<pid_t> tid{0};
        auto result = std::async(std::launch::async, [&tid, &c] {
            tid = vt_test::ThisThreadId();
            const uint32_t connected = UI_SSL_HttpsConnect("127.0.0.1", c.port);
            return connected != 0 ? connected : c.steps();
        });
        while (tid.load() == 0 || (c.call != SYS_connect && !atStep.load())) {
            std::this_thread::yield();
        }
        atStep = false;
        ASSERT_TRUE(vt_test::WaitUntilInCall(tid, c.call)) << "the download never waited there";
        const size_t aborted = ui_test::LogCount("[Update Client][download aborted]");
        UI_SSL_Abort();
        EXPECT_EQ(ui_test::LogCount("[Update Client][download aborted]"), aborted + 1);
        ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready)
            << "the abort did not end the waiting step";
        EXPECT_EQ(result.get(), 1u);
        EXPECT_TRUE(SessionEmpty());

        TlsPeer peer;
        ASSERT_TRUE(peer.Started());
        peer.SetReply({TlsPeer::OkHead(5), "hello", Send::kOneWrite});
        const size_t refused = ui_test::LogCount("[Socket connect][reason:download aborted]");
        EXPECT_EQ(UI_SSL_HttpsConnect("127.0.0.1", peer.Port()), 1u);
        EXPECT_EQ(ui_test::LogCount("[Socket connect][reason:download aborted]"), refused + 1);
        EXPECT_TRUE(SessionEmpty());
        UI_SSL_Close();
        const Fetched f = Fetch(peer.Port());
        EXPECT_EQ(f.steps, 0u);
        EXPECT_EQ(f.data, "hello");
        UI_SSL_Close();
    }
}

}  // namespace
