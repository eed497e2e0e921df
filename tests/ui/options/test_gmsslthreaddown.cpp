// The package download thread against the simulator's HTTPS package server on
// 127.0.0.1: a whole package and its signals, each way a download fails with its one
// end signal and log line, the file paths that cannot be written, the write through the
// handed file alone, GM/T TLS on a build without it, and a stop from the GUI thread
// while the thread waits on the network.

#include <gtest/gtest.h>

#include <sys/syscall.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QStringList>

#include "gmsslthreaddown.h"
#include "servicelink.h"
#include "ui_https_inner.h"
#include "ui_test/ui_sim.h"
#include "vt_test/temp_env.h"
#include "vt_test/thread_state.h"

namespace {

constexpr int kPackageSize = 5 * 1024 * 1024;

// Bytes that differ from position to position, so that a lost or repeated piece shows.
QByteArray Pattern(int n) {
    QByteArray s(n, '\0');
    uint32_t x = 2463534242u;
    for (int i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Hands the thread its target as the update dialog does: the file opened once, before
// the start (here simply by name; null when it cannot be).
void Hand(GmSslThreadDown& t, const QString& path) {
    t.file = std::fopen(QFile::encodeName(path).constData(), "wb");
}

// One download, watched from its own thread: the signals as QSignalSpy records them,
// and what the disk held when the last step went out.
struct Watched {
    explicit Watched(GmSslThreadDown* t)
        : totals(t, &GmSslThreadDown::Set_Total),
          steps(t, &GmSslThreadDown::Set_Step),
          ends(t, &GmSslThreadDown::GM_DownloadEnd) {
        QObject::connect(
            t, &GmSslThreadDown::Set_Total, &context,
            [this](int total) {
                announced = total;
            },
            Qt::DirectConnection);
        QObject::connect(
            t, &GmSslThreadDown::Set_Step, &context,
            [this, t](int bytes) {
                if (bytes == announced) {
                    sizeAtLastStep = QFileInfo(t->filePath).size();
                    fileOpenAtLastStep = t->file != nullptr;
                    sessionOpenAtLastStep = g_stSslSession.iSocket >= 0;
                }
            },
            Qt::DirectConnection);
    }
    QSignalSpy totals, steps, ends;
    QObject context;  // ends the watching connections with the watcher
    std::atomic<int> announced{-1};
    qint64 sizeAtLastStep = -1;
    bool fileOpenAtLastStep = true;
    bool sessionOpenAtLastStep = true;

    int LastStep() const { return steps.isEmpty() ? -1 : steps.last().at(0).toInt(); }
};

class GmSslThreadDownTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ui_test::LinkSetUp();
        files_ = new vt_test::TempEnv();
        const std::string package = files_->Tmp() + "/package.bin";
        package_ = new QByteArray(Pattern(kPackageSize));
        std::ofstream(package, std::ios::binary).write(package_->constData(), package_->size());
        std::string list;
        for (const char* mode : {"normal", "headWithBody", "noLength", "notFound", "gzip",
                                 "closeMidBody", "stall"}) {
            list += std::string(list.empty() ? "" : ",") + R"({"path":"/app/)" + mode +
                    R"(.tar.gz","file":")" + package + R"(","mode":")" + mode + R"("})";
        }
        sim_ = new ui_test::Sim(R"("https":{"port":0,"files":[)" + list + "]}");
    }
    static void TearDownTestSuite() {
        delete sim_;
        delete package_;
        delete files_;
    }
    void SetUp() override {
        ASSERT_TRUE(sim_->Started()) << sim_->Diagnostics();
        ASSERT_NE(sim_->Port("https"), 0);
    }
    void TearDown() override {
        // Whatever a download did, it left no session behind.
        EXPECT_EQ(g_stSslSession.iSocket, -1);
        EXPECT_EQ(g_stSslSession.pstSsl, nullptr);
        EXPECT_FALSE(g_stSslSession.bAborted);
    }

    static QString Url(const char* mode) {
        return QString("https://127.0.0.1:%1/app/%2.tar.gz").arg(sim_->Port("https")).arg(mode);
    }
    QString Target(const QString& name) const {
        return QString::fromStdString(files_->Tmp()) + "/" + name;
    }

    static vt_test::TempEnv* files_;
    static QByteArray* package_;
    static ui_test::Sim* sim_;
};

vt_test::TempEnv* GmSslThreadDownTest::files_ = nullptr;
QByteArray* GmSslThreadDownTest::package_ = nullptr;
ui_test::Sim* GmSslThreadDownTest::sim_ = nullptr;

TEST_F(GmSslThreadDownTest, MembersSignalsAndNoSlots) {
    const QMetaObject& mo = GmSslThreadDown::staticMetaObject;
    QStringList own;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        own << QString::fromLatin1(mo.method(i).methodSignature()) + "/" +
                   QString::number(mo.method(i).methodType());
    }
    const QString signal = "/" + QString::number(QMetaMethod::Signal);
    EXPECT_EQ(own, QStringList({"Set_Total(int)" + signal, "Set_Step(int)" + signal,
                                "GM_DownloadEnd()" + signal}));
    GmSslThreadDown t;
    EXPECT_EQ(t.parent(), nullptr);
    EXPECT_TRUE(t.url.isEmpty());
    EXPECT_TRUE(t.filePath.isEmpty());
    EXPECT_EQ(t.file, nullptr);

    // The setters keep what they had for an empty argument.
    const size_t urlRefused = ui_test::LogCount("[Gm Update Client][url reason:invalid param]");
    const size_t pathRefused =
        ui_test::LogCount("[Gm Update Client][File path reason:invalid param]");
    t.Set_Url("https://127.0.0.1:1/a");
    t.Set_FilePath("/x/a");
    t.Set_Url("");
    t.Set_FilePath("");
    EXPECT_EQ(t.url, "https://127.0.0.1:1/a");
    EXPECT_EQ(t.filePath, "/x/a");
    EXPECT_EQ(ui_test::LogCount("[Gm Update Client][url reason:invalid param]"), urlRefused + 1);
    EXPECT_EQ(ui_test::LogCount("[Gm Update Client][File path reason:invalid param]"),
              pathRefused + 1);
}

// A whole package, with the head alone in its write or with the first body bytes: one
// announced size, a step per read up to it, no end signal, the same bytes on disk, and
// the file complete and closed (and the session closed) when the last step goes out.
TEST_F(GmSslThreadDownTest, WholePackageIsOnDiskBeforeTheLastStep) {
    for (const char* mode : {"normal", "headWithBody"}) {
        SCOPED_TRACE(mode);
        const QString target = Target(QString("whole-%1.tar.gz").arg(mode));
        GmSslThreadDown t;
        t.url = Url(mode);
        t.filePath = target;
        Hand(t, target);
        Watched w(&t);
        t.start();
        ASSERT_TRUE(t.wait(60000));
        ASSERT_EQ(w.totals.count(), 1);
        EXPECT_EQ(w.totals.at(0).at(0).toInt(), kPackageSize);
        EXPECT_EQ(w.ends.count(), 0);
        EXPECT_EQ(w.LastStep(), kPackageSize);
        int previous = 0;
        for (const QList<QVariant>& step : w.steps) {
            const int value = step.at(0).toInt();
            EXPECT_GT(value, previous);
            EXPECT_LE(value - previous, int(UI_SSL_READ_SIZE));
            previous = value;
        }
        EXPECT_EQ(w.sizeAtLastStep, kPackageSize);
        EXPECT_FALSE(w.fileOpenAtLastStep);
        EXPECT_FALSE(w.sessionOpenAtLastStep);
        EXPECT_EQ(t.file, nullptr);
        EXPECT_EQ(Sha256(ReadAll(target)), Sha256(*package_));
        QFile::remove(target);
    }
}

// Every failure ends with exactly one GM_DownloadEnd() and its line, and nothing open.
TEST_F(GmSslThreadDownTest, EachFailureEndsWithOneSignalAndItsLine) {
    const QString port = QString::number(sim_->Port("https"));
    const struct {
        const char* name;
        QString url;
        QString path;  // empty: a file of the test's own
        const char* line;
        bool announced;  // a size was announced before the failure
    } cases[] = {
        {"no length", Url("noLength"), "", "[Gm Update Client][Get File size Failed]", false},
        {"not found", Url("notFound"), "", "[Gm Update Client][Get File size Failed]", false},
        {"compressed body", Url("gzip"), "", "[Gm Update Client][Get File size Failed]", false},
        {"port no number", "https://127.0.0.1:abc/app/normal.tar.gz", "",
         "[Gm Update Client][Socket connect Failed]", false},
        {"empty host", "https://:" + port + "/app/normal.tar.gz", "",
         "[Gm Update Client][Socket connect Failed]", false},
        {"empty url", "", "", "[Gm Update Client][reason:invalid param]", false},
        {"empty path", Url("normal"), "-", "[Gm Update Client][reason:invalid param]", false},
        {"full disk", Url("normal"), "/dev/full", "[Gm Update Client][Gm Write File][error]",
         true},
        {"path of 256 bytes", Url("normal"), "+256",
         "[Gm Update Client][Gm Write File][reason:open file failed]", true},
        {"no such folder", Url("normal"), Target("missing/pkg.tar.gz"),
         "[Gm Update Client][Gm Write File][reason:open file failed]", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString path = c.path.isEmpty() ? Target("failed.tar.gz") : c.path;
        if (c.path == "-") {
            path.clear();
        } else if (c.path == "+256") {
            path = Target("");
            path += QString(256 - path.toUtf8().size(), 'p');
            ASSERT_EQ(path.toUtf8().size(), 256);
        }
        const size_t before = ui_test::LogCount(c.line);
        GmSslThreadDown t;
        t.url = c.url;
        t.filePath = path;
        if (!path.isEmpty()) {
            Hand(t, path);
        }
        Watched w(&t);
        t.start();
        ASSERT_TRUE(t.wait(60000));
        EXPECT_EQ(w.ends.count(), 1);
        EXPECT_EQ(w.totals.count(), c.announced ? 1 : 0);
        EXPECT_EQ(ui_test::LogCount(c.line), before + 1);
        EXPECT_EQ(t.file, nullptr);
        if (c.path == "+256") {
            EXPECT_EQ(QFileInfo(path).size(), 0) << "nothing was written";
            QFile::remove(path);
        }
        QFile::remove(Target("failed.tar.gz"));
    }

    // The body cut in the middle: the steps count what was written, and the file holds it.
    const QString target = Target("cut.tar.gz");
    const size_t before = ui_test::LogCount("[Gm Update Client][Gm Write File][error]");
    GmSslThreadDown t;
    t.url = Url("closeMidBody");
    t.filePath = target;
    Hand(t, target);
    Watched w(&t);
    t.start();
    ASSERT_TRUE(t.wait(60000));
    EXPECT_EQ(w.ends.count(), 1);
    EXPECT_EQ(ui_test::LogCount("[Gm Update Client][Gm Write File][error]"), before + 1);
    const QByteArray written = ReadAll(target);
    EXPECT_EQ(w.LastStep(), written.size());
    EXPECT_GT(written.size(), 0);
    EXPECT_LT(written.size(), kPackageSize);
    EXPECT_EQ(written, package_->left(written.size()));
    QFile::remove(target);
}

// The longest path that fits its buffer with the closing zero is written.
TEST_F(GmSslThreadDownTest, PathOf255BytesIsWritten) {
    QString path = Target("");
    path += QString(255 - path.toUtf8().size(), 'q');
    GmSslThreadDown t;
    t.url = Url("normal");
    t.filePath = path;
    Hand(t, path);
    Watched w(&t);
    t.start();
    ASSERT_TRUE(t.wait(60000));
    EXPECT_EQ(w.ends.count(), 0);
    EXPECT_EQ(QFileInfo(path).size(), kPackageSize);
    QFile::remove(path);
}

// Called on its own, the writer refuses an empty path or a negative size with a signal,
// so that a window waiting for the download learns of the end.
TEST_F(GmSslThreadDownTest, WriterRefusalsEndWithTheSignal) {
    for (int size : {-1, 10}) {
        SCOPED_TRACE(size);
        GmSslThreadDown t;
        QSignalSpy ends(&t, &GmSslThreadDown::GM_DownloadEnd);
        const size_t before =
            ui_test::LogCount("[Gm Update Client][Gm Write File][reason:invalid param]");
        t.GM_WriteFile(size < 0 ? Target("never.tar.gz") : QString(), size);
        EXPECT_EQ(ends.count(), 1);
        EXPECT_EQ(ui_test::LogCount("[Gm Update Client][Gm Write File][reason:invalid param]"),
                  before + 1);
        EXPECT_FALSE(QFileInfo::exists(Target("never.tar.gz")));
    }
}

// The thread writes through the file it was handed and never opens its path by name: a
// link put at the name after the hand-over leaves the file it points at as it was, and
// the package reaches the handed file under the name it was moved to. Without a handed
// file the write fails, and nothing is created at the name.
TEST_F(GmSslThreadDownTest, WritesThroughTheHandedFileAlone) {
    const QString target = Target("handed.tar.gz");
    const QString moved = Target("handed-moved.tar.gz");
    const QString decoy = Target("decoy");
    {
        QFile f(decoy);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("decoy");
    }
    GmSslThreadDown t;
    t.url = Url("normal");
    t.filePath = target;
    Hand(t, target);
    ASSERT_NE(t.file, nullptr);
    ASSERT_TRUE(QFile::rename(target, moved));
    ASSERT_TRUE(QFile::link(decoy, target));
    Watched w(&t);
    t.start();
    ASSERT_TRUE(t.wait(60000));
    EXPECT_EQ(w.ends.count(), 0);
    EXPECT_EQ(Sha256(ReadAll(moved)), Sha256(*package_));
    EXPECT_EQ(ReadAll(decoy), "decoy");
    for (const QString& name : {target, moved, decoy}) QFile::remove(name);

    const QString none = Target("none.tar.gz");
    const size_t before = ui_test::LogCount("[Gm Update Client][Gm Write File][reason:open file failed]");
    GmSslThreadDown unhanded;
    unhanded.url = Url("normal");
    unhanded.filePath = none;
    Watched u(&unhanded);
    unhanded.start();
    ASSERT_TRUE(unhanded.wait(60000));
    EXPECT_EQ(u.ends.count(), 1);
    EXPECT_EQ(ui_test::LogCount("[Gm Update Client][Gm Write File][reason:open file failed]"), before + 1);
    EXPECT_FALSE(QFileInfo::exists(none));
}

// The Host line carries the URL's host, not the address it was resolved to.
TEST_F(GmSslThreadDownTest, HostLineNamesTheUrlsHost) {
    const size_t logged = sim_->Log().size();
    GmSslThreadDown t;
    t.url = QString("https://127.1:%1/app/normal.tar.gz").arg(sim_->Port("https"));
    t.filePath = Target("host.tar.gz");
    Hand(t, t.filePath);
    Watched w(&t);
    t.start();
    ASSERT_TRUE(t.wait(60000));
    EXPECT_EQ(w.ends.count(), 0);
    ASSERT_TRUE(sim_->WaitLog(logged + 1));
    const auto log = sim_->Log();
    const std::string request = log[logged]["request"].GetString();
    EXPECT_NE(request.find("GET /app/normal.tar.gz HTTP/1.1\r\nHost: 127.1\r\n"), std::string::npos)
        << request;
    QFile::remove(Target("host.tar.gz"));
}

// A loopback peer that answers the handshake with plain text and closes.
TEST_F(GmSslThreadDownTest, PlainTextPeerFailsTheHandshake) {
    ui_test::Peer peer;
    const size_t before = ui_test::LogCount("[Gm Update Client][SSL connect Failed]");
    GmSslThreadDown t;
    t.url = QString("https://127.0.0.1:%1/app/x.tar.gz").arg(peer.Port());
    t.filePath = Target("plain.tar.gz");
    Watched w(&t);
    t.start();
    ASSERT_TRUE(peer.Accept());
    const std::string text = "HTTP/1.1 400 Bad Request\r\n\r\n";
    peer.Send(std::vector<uint8_t>(text.begin(), text.end()));
    peer.CloseConn();
    ASSERT_TRUE(t.wait(60000));
    EXPECT_EQ(w.ends.count(), 1);
    EXPECT_EQ(ui_test::LogCount("[Gm Update Client][SSL connect Failed]"), before + 1);
    EXPECT_FALSE(QFileInfo::exists(Target("plain.tar.gz")));
}

// GM/T TLS, where this build has no such method: asked for, refused, never replaced by
// ordinary TLS.
TEST_F(GmSslThreadDownTest, GmTlsFailsWithoutFallingBack) {
    if (uiSslGmTlsAvailable()) {
        GTEST_SKIP() << "this OpenSSL has the GM/T client method";
    }
    const char* lines[] = {"[Update Client][is igmEnable]",
                           "[reason:GM TLS client method is not available",
                           "[Gm Update Client][SSL connect Failed]"};
    size_t before[3];
    for (int i = 0; i < 3; ++i) before[i] = ui_test::LogCount(lines[i]);
    const size_t logged = sim_->Log().size();
    GmSslThreadDown t;
    t.url = Url("normal");
    t.filePath = Target("gm.tar.gz");
    t.igmEnable = 1;
    Watched w(&t);
    t.start();
    ASSERT_TRUE(t.wait(60000));
    EXPECT_EQ(w.ends.count(), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ui_test::LogCount(lines[i]), before[i] + 1) << lines[i];
    // The method line comes before the thread's own.
    const std::vector<std::string> all = ui_test::LogLines();
    size_t method = 0, failed = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].find(lines[1]) != std::string::npos) method = i;
        if (all[i].find(lines[2]) != std::string::npos) failed = i;
    }
    EXPECT_LT(method, failed);
    EXPECT_EQ(sim_->Log().size(), logged) << "a request reached the server";
}

// A stop from the GUI thread while the thread waits in the handshake with a peer that
// never answers, or in the read of a body that stalls, and a deletion of the running
// thread: each returns, no signal follows, and a second download in the same process
// completes.
TEST_F(GmSslThreadDownTest, StopEndsAWaitingDownloadSilently) {
    ui_test::Peer silent;
    const struct {
        const char* name;
        bool silentPeer;
        bool byDeletion;
    } cases[] = {
        {"stop in the read of a stalled body", false, false},
        {"stop in a handshake nobody answers", true, false},
        {"deletion in the read of a stalled body", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = Target("stalled.tar.gz");
        const size_t stopped = ui_test::LogCount("[Gm Update Client][download stopped]");
        auto t = std::make_unique<GmSslThreadDown>();
        t->url = c.silentPeer ? QString("https://127.0.0.1:%1/x.tar.gz").arg(silent.Port())
                              : Url("stall");
        t->filePath = target;
        Hand(*t, target);
        auto w = std::make_unique<Watched>(t.get());
        std::atomic<pid_t> tid{0};
        QObject::connect(
            t.get(), &QThread::started, t.get(), [&tid] { tid = vt_test::ThisThreadId(); },
            Qt::DirectConnection);
        t->start();
        if (c.silentPeer) {
            ASSERT_TRUE(silent.Accept());
        } else {
            for (int i = 0; i < 6000 && w->announced.load() < 0; ++i) QThread::msleep(5);
            ASSERT_EQ(w->announced.load(), kPackageSize);
        }
        while (tid.load() == 0) QThread::yieldCurrentThread();
        ASSERT_TRUE(vt_test::WaitUntilInCall(tid, SYS_read));
        if (c.byDeletion) {
            // The deletion returns once the thread has ended; the spies outlive it and
            // hold what it emitted until then.
            t.reset();
            EXPECT_EQ(w->ends.count(), 0);
            EXPECT_EQ(w->steps.count(), 0);
        } else {
            t->GM_Stop();
            EXPECT_TRUE(t->isFinished());
            EXPECT_EQ(w->ends.count(), 0);
            EXPECT_EQ(w->steps.count(), 0);
            EXPECT_EQ(t->file, nullptr);
        }
        EXPECT_EQ(ui_test::LogCount("[Gm Update Client][download stopped]"), stopped + 1);
        if (c.silentPeer) silent.CloseConn();

        GmSslThreadDown again;
        again.url = Url("normal");
        again.filePath = target;
        Hand(again, target);
        Watched second(&again);
        again.start();
        ASSERT_TRUE(again.wait(60000));
        EXPECT_EQ(second.ends.count(), 0);
        EXPECT_EQ(second.LastStep(), kPackageSize);
        EXPECT_EQ(QFileInfo(target).size(), kPackageSize);
        QFile::remove(target);
    }
}

}  // namespace
