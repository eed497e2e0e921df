// The client update as the main window runs it before a login, in process against the
// simulator (its promote connection and its HTTPS package server), called with the
// site-preference records a test fills: no update due, the plugin's and the user's no,
// a package of an unknown kind and its box, too little disk, a failed and a successful
// download with an earlier package in place, another user's file at the package's place,
// and a hand-over the promote service never gets; and the whole road from Connect, with
// a profile that asks for GM/T TLS too.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include "languagesetting.h"
#include "loginkeyui.h"
#include "mainui.h"
#include "plugininfo.h"
#include "servicelink.h"
#include "ui_connect_inner.h"
#include "ui_https_inner.h"
#include "ui_test/ui_sim.h"
#include "ui_update_inner.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"

namespace {

using vt_qt_test::BoxDriver;

const char kFixedPackage[] = "/tmp/vantrelo-macosx.tar.gz";
constexpr int kPackageSize = 1024 * 1024;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace

// Receives what the window hands to the desktop's handler of a scheme.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

namespace {

class MainUIUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetLatestVersion(true);
        context->SetAuthType(0);
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        dir_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(dir_->isValid());
        package_ = QByteArray(kPackageSize, '\0');
        for (int i = 0; i < kPackageSize; ++i) package_[i] = static_cast<char>(i * 7 + i / 251);
        const std::string file = dir_->filePath("package.bin").toStdString();
        std::ofstream(file, std::ios::binary).write(package_.constData(), package_.size());
        Start();
        QFile::remove(kFixedPackage);
        QFile::remove(QString(kFixedPackage) + ".bak");
    }
    // The simulator with its package server and the window over it; extra: further
    // scenario members.
    void Start(const std::string& extra = std::string()) {
        window_.reset();
        link_.reset();
        const std::string file = dir_->filePath("package.bin").toStdString();
        link_ = std::make_unique<ui_test::SimLink>(
            R"("https":{"port":0,"files":[)"
            R"({"path":"/app/vantrelo-macosx.tar.gz","file":")" + file + R"(","mode":"normal"},)"
            R"({"path":"/cut/vantrelo-macosx.tar.gz","file":")" + file + R"(","mode":"closeMidBody"}]})" +
            (extra.empty() ? "" : "," + extra));
        ASSERT_TRUE(link_->Connected()) << link_->sim().Diagnostics();
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        UISystemProfile::GetInstance()->SetCheckVersion(1);
        window_ = std::make_unique<MainUI>(nullptr);
        window_->Init();
        window_->show();
    }
    void TearDown() override {
        uiDiskFreeMiBSet(nullptr);
        UIContext::GetInstance()->SetPluginMode(0);
        window_.reset();
        link_.reset();
        QFile::remove(kFixedPackage);
        QFile::remove(QString(kFixedPackage) + ".bak");
    }

    // The site preference as the launch sends it and a reply that offers a newer client
    // (7.0.2.34) with the package text given.
    struct Records {
        UISSL_FIRST_CONN request{};
        UIFIRST_CONNECT_CONF_S reply{};
    };
    Records Newer(const QString& package = QString()) const {
        Records r;
        const QByteArray gateway = QString("127.0.0.1:%1").arg(HttpsPort()).toLatin1();
        std::memcpy(r.request.acGateway, gateway.constData(), size_t(gateway.size()));
        r.reply.uiAuthType = 2;
        r.reply.uiVersionMS = 0x00070000;
        r.reply.uiVersionLS = 0x00020022;
        const QByteArray text = package.toUtf8();
        std::memcpy(r.reply.acPackage, text.constData(), size_t(text.size()));
        return r;
    }
    int Update(Records& r) {
        int result = -1;
        EXPECT_TRUE(QMetaObject::invokeMethod(window_.get(), "MainUI_UI_Update", Qt::DirectConnection,
                                              Q_RETURN_ARG(int, result),
                                              Q_ARG(UISSL_FIRST_CONN*, &r.request),
                                              Q_ARG(UIFIRST_CONNECT_CONF_S*, &r.reply)));
        return result;
    }
    uint16_t HttpsPort() const { return link_->sim().Port("https"); }

    QMenu* TrayMenu() const {
        for (QMenu* menu : window_->findChildren<QMenu*>()) {
            if (menu->actions().size() >= 10) return menu;
        }
        return nullptr;
    }
    // The tray's Connect entry: off after the state "00" that ends every update check.
    QAction* ConnectAction() const {
        for (QAction* a : TrayMenu()->actions()) {
            if (a->text().startsWith(KeyText("/UI_MAIN/UI_MAIN_CONNECT"))) return a;
        }
        return nullptr;
    }
    void TrayState(const char* state) {
        ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), "MainUI_SysTrayIcon_Changed",
                                              Qt::DirectConnection, Q_ARG(QString, state)));
    }
    // Promote requests with the update code, as the simulator logged them.
    std::vector<rapidjson::Document> UpdateRequests() const {
        std::vector<rapidjson::Document> found;
        for (rapidjson::Document& line : link_->sim().Log()) {
            if (line.HasMember("head") && line["head"]["code"].GetUint() == 0x1000E) {
                found.push_back(std::move(line));
            }
        }
        return found;
    }
    // Scripts the site-preference reply through the control channel, now that the
    // package server's port is known: a newer client, no package text, and the package
    // server as the best gateway.
    void ScriptNewerOnThePackageServer() {
        const std::string reply =
            R"({"code":"0x10000","payload":{"record":"UIFIRST_CONNECT_CONF_S","fields":{)"
            R"("uiAuthType":0,"uiVersionMS":"0x00070000","uiVersionLS":"0x00020022",)"
            R"("acBestGateway":"127.0.0.1","uiBestPort":)" + std::to_string(HttpsPort()) + "}}}";
        ASSERT_EQ(link_->sim().Control("script set 1 4 " + reply), "OK");
    }
    // Promote and HTTPS lines of the simulator's log.
    std::vector<std::string> HttpsPaths() const {
        std::vector<std::string> paths;
        for (const rapidjson::Document& line : link_->sim().Log()) {
            if (line.HasMember("conn") && std::string(line["conn"].GetString()) == "https") {
                paths.push_back(line["path"].GetString());
            }
        }
        return paths;
    }
    void QueueYes() {
        driver_.AnswerWith([](QWidget* box) { ASSERT_TRUE(BoxDriver::ClickButton(box, "downloadButton")); },
                           "YES");
    }

    std::unique_ptr<QTemporaryDir> dir_;  // beside the test's own HOME, which stays
    QByteArray package_;
    std::unique_ptr<ui_test::SimLink> link_;
    std::unique_ptr<MainUI> window_;
    BoxDriver driver_;
};

// No update due, the plugin's "-nu", and the user's option off: the login goes on
// without a question; the latest-version flag says whether an update was due.
TEST_F(MainUIUpdateTest, NoUpdateEnds) {
    const struct {
        const char* name;
        uint32_t gatewayLs;
        int pluginMode;
        const char* pluginUpdate;
        uint32_t checkVersion;
        bool latest;
        bool stateAndAuth;  // the common end ran
    } cases[] = {
        {"same version", 0x00020021, 0, "", 1, true, true},
        {"plugin says -nu", 0x00020022, 1, "-nu", 0, true, true},
        {"option off", 0x00020022, 0, "", 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Records r = Newer();
        r.reply.uiVersionLS = c.gatewayLs;
        UIPLUGIN_INFO_S info{};
        std::strcpy(info.acUpdate, c.pluginUpdate);
        UIContext::GetInstance()->SetPluginInfo(&info);
        UIContext::GetInstance()->SetPluginMode(c.pluginMode);
        UIContext::GetInstance()->SetLatestVersion(!c.latest);
        UIContext::GetInstance()->SetAuthType(0);
        UISystemProfile::GetInstance()->SetCheckVersion(c.checkVersion);
        TrayState("10");
        ASSERT_TRUE(ConnectAction()->isEnabled());
        EXPECT_EQ(Update(r), 1);
        UIContext::GetInstance()->SetPluginMode(0);
        EXPECT_EQ(UIContext::GetInstance()->GetLatestVersion(), c.latest);
        EXPECT_FALSE(ConnectAction()->isEnabled()) << "tray state 00";
        EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), 2);
        EXPECT_TRUE(TrayMenu()->isEnabled());
        EXPECT_TRUE(driver_.Seen().empty()) << "no question";
    }
}

// A package of an unknown kind: the line that names it and the box that offers it for a
// download by hand; its first button hands a web address to the desktop, and nothing
// else. The tray's state and the authentication type are left as they were.
TEST_F(MainUIUpdateTest, PackageOfAnUnknownKindIsOfferedByHand) {
    UrlCatcher catcher;
    for (const char* scheme : {"https", "http", "file"}) {
        QDesktopServices::setUrlHandler(scheme, &catcher, "open");
    }
    const struct {
        const char* package;
        const char* name;
        bool opened;
    } cases[] = {
        {"https://127.0.0.1:1/a/pkg.zip", "pkg.zip", true},
        {"file:///tmp/pkg.zip", "pkg.zip", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.package);
        catcher.opened.clear();
        driver_.Clear();
        const size_t mistake =
            ui_test::LogCount(std::string("[Downloading][the type is mistake, ") + c.name + "]");
        const size_t ok = ui_test::LogCount("[Main ui update failed][choose OK]");
        TrayState("10");
        UIContext::GetInstance()->SetAuthType(0);
        driver_.Answer(KeyText("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_DOWN_NEW"));
        Records r = Newer(c.package);
        EXPECT_EQ(Update(r), 1);
        ASSERT_EQ(driver_.Seen().size(), 1u);
        const auto& box = driver_.Seen()[0];
        EXPECT_EQ(box.icon, int(QMessageBox::Information));
        EXPECT_EQ(box.title, KeyText("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_TITLE"));
        EXPECT_EQ(box.text, KeyText("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_MASSAGE"));
        EXPECT_EQ(box.buttons, QStringList({KeyText("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_DOWN_NEW"),
                                            KeyText("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_USE_OLD")}));
        EXPECT_EQ(ui_test::LogCount(std::string("[Downloading][the type is mistake, ") + c.name + "]"),
                  mistake + 1);
        EXPECT_EQ(ui_test::LogCount("[Main ui update failed][choose OK]"), ok + 1);
        EXPECT_EQ(catcher.opened, c.opened ? QList<QUrl>{QUrl(c.package)} : QList<QUrl>{});
        EXPECT_FALSE(UIContext::GetInstance()->GetLatestVersion());
        EXPECT_TRUE(ConnectAction()->isEnabled()) << "no tray state applied";
        EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), 0);
        EXPECT_TRUE(TrayMenu()->isEnabled());
    }
    // The other button keeps this client.
    driver_.Clear();
    const size_t cancel = ui_test::LogCount("[Main ui update failed][choose CANCEL]");
    driver_.Answer(KeyText("/UI_MAIN/UI_MAIN_ATUO_UPDATE_FAILED_USE_OLD"));
    Records r = Newer("https://127.0.0.1:1/a/pkg.zip");
    EXPECT_EQ(Update(r), 1);
    EXPECT_EQ(ui_test::LogCount("[Main ui update failed][choose CANCEL]"), cancel + 1);
    for (const char* scheme : {"https", "http", "file"}) {
        QDesktopServices::unsetUrlHandler(scheme);
    }
}

// Too little disk and a download that fails: no package, the earlier one back in its
// place without a backup left, the tray usable again, the login goes on.
TEST_F(MainUIUpdateTest, EarlierPackageComesBackWhenNothingNewArrives) {
    ASSERT_TRUE(WriteAll(kFixedPackage, "earlier package"));
    uiDiskFreeMiBSet([](const char*, uint64_t* mib) {
        *mib = 199;
        return 0u;
    });
    Records small = Newer();
    EXPECT_EQ(Update(small), 1);
    uiDiskFreeMiBSet(nullptr);
    EXPECT_TRUE(driver_.Seen().empty()) << "no question without room for the package";
    EXPECT_TRUE(TrayMenu()->isEnabled());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(ReadAll(kFixedPackage), "earlier package");
    EXPECT_FALSE(QFile::exists(QString(kFixedPackage) + ".bak"));

    // The body cut halfway: the failure box ends by itself.
    QueueYes();
    driver_.AnswerLetEnd();
    driver_.AnswerLetEnd();
    const size_t failed = ui_test::LogCount("[Downloading][Download failed. new file is not exist.]");
    Records cut = Newer(QString("https://127.0.0.1:%1/cut/vantrelo-macosx.tar.gz").arg(HttpsPort()));
    EXPECT_EQ(Update(cut), 1);
    ASSERT_EQ(driver_.Seen().size(), 3u);
    EXPECT_EQ(driver_.Seen()[2].text, KeyText("/UI_DOWNLOAD/UI_DOWNLOAD_FAILED"));
    EXPECT_EQ(ui_test::LogCount("[Downloading][Download failed. new file is not exist.]"), failed + 1);
    EXPECT_EQ(ReadAll(kFixedPackage), "earlier package");
    EXPECT_FALSE(QFile::exists(QString(kFixedPackage) + ".bak"));
    EXPECT_TRUE(TrayMenu()->isEnabled());
    EXPECT_TRUE(UpdateRequests().empty());
}

// A package downloaded from the default URL (no package text): the earlier package's
// backup is gone, the update request reaches the promote service with the record
// filled, the tray stays off and the window hidden, and the login does not start.
TEST_F(MainUIUpdateTest, DownloadedPackageIsHandedToThePromoteService) {
    ASSERT_TRUE(WriteAll(kFixedPackage, "earlier package"));
    QueueYes();
    driver_.AnswerLetEnd();
    const size_t done = ui_test::LogCount("[Downloading][Download seccessful. new file is exist.]");
    Records r = Newer();
    EXPECT_EQ(Update(r), 0);
    ASSERT_EQ(driver_.Seen().size(), 2u);
    EXPECT_EQ(ui_test::LogCount("[Downloading][Download seccessful. new file is exist.]"), done + 1);
    EXPECT_TRUE(ReadAll(kFixedPackage) == package_);
    EXPECT_FALSE(QFile::exists(QString(kFixedPackage) + ".bak"));
    EXPECT_FALSE(TrayMenu()->isEnabled());
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), 2);

    ASSERT_TRUE(link_->sim().WaitLog(1));
    std::vector<rapidjson::Document> requests;
    for (int i = 0; i < 100 && (requests = UpdateRequests()).empty(); ++i) QThread::msleep(20);
    ASSERT_EQ(requests.size(), 1u);
    const rapidjson::Value& req = requests[0];
    EXPECT_EQ(req["head"]["len"].GetUint(), 2338u);
    ASSERT_TRUE(req.HasMember("record"));
    EXPECT_STREQ(req["record"].GetString(), "UIUPDATE_START_S");
    const rapidjson::Value& f = req["fields"];
    EXPECT_TRUE(QString(f["acUpdateProgram"].GetString()).endsWith("/VanTreloUpdate"));
    EXPECT_STREQ(f["acPackagePath"].GetString(), kFixedPackage);
    EXPECT_EQ(QString(f["acDownloadUrl"].GetString()),
              QString("https://127.0.0.1:%1/app/vantrelo-macosx.tar.gz").arg(HttpsPort()));
    char user[UI_LOGIN_USER_SIZE + 1] = {};
    ASSERT_EQ(UI_LoginUser_Get(user), 0u);
    EXPECT_STREQ(f["acLoginName"].GetString(), user);
}

// Another user's file put at the package's place while the question is shown: the
// download fails with the warning and its reason, and that file, which is no package of
// this download, is neither handed to the promote service nor touched; the login goes on.
TEST_F(MainUIUpdateTest, AnotherUsersFileAtThePackagePlaceIsNotHandedOver) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "files of another user need root to be made";
    }
    driver_.AnswerWith([](QWidget* box) {
        ASSERT_TRUE(WriteAll(kFixedPackage, "another user's"));
        ASSERT_EQ(chown(kFixedPackage, 65534, 65534), 0);
        ASSERT_TRUE(BoxDriver::ClickButton(box, "downloadButton"));  // the warning comes and goes
        ASSERT_TRUE(BoxDriver::ClickButton(box, "quitButton"));
    });
    driver_.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
    const size_t failed = ui_test::LogCount("[Downloading][Download failed. new file is not exist.]");
    Records r = Newer();
    EXPECT_EQ(Update(r), 1);
    ASSERT_EQ(driver_.Seen().size(), 2u);
    EXPECT_EQ(driver_.Seen()[1].text, KeyText("/UI_DOWNLOAD/UI_DOWNLOAD_UNABLE_SAVE") + kFixedPackage +
                                          ":a file of another user (uid 65534) is in its place");
    EXPECT_EQ(ui_test::LogCount("[Downloading][Download failed. new file is not exist.]"), failed + 1);
    EXPECT_TRUE(UpdateRequests().empty());
    EXPECT_TRUE(TrayMenu()->isEnabled());
    EXPECT_EQ(ReadAll(kFixedPackage), "another user's");
    struct stat st {};
    ASSERT_EQ(lstat(kFixedPackage, &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_TRUE(HttpsPaths().empty()) << "nothing was fetched";
}

// A package that arrives when the promote service cannot be told: the user is told, the
// window and the tray come back, and the login goes on with this client.
TEST_F(MainUIUpdateTest, HandOverWithoutAPromoteConnectionKeepsTheClientUsable) {
    uiConnectClose(link_->PromoteFd());
    QueueYes();
    driver_.AnswerLetEnd();
    driver_.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
    Records r = Newer();
    EXPECT_EQ(Update(r), 1);
    ASSERT_EQ(driver_.Seen().size(), 3u);
    const auto& warning = driver_.Seen()[2];
    EXPECT_EQ(warning.icon, int(QMessageBox::Warning));
    EXPECT_EQ(warning.text, LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
    EXPECT_TRUE(TrayMenu()->isEnabled());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(UpdateRequests().empty());
}

// Connect on "Office", which chooses its gateway automatically: the site preference
// reports a newer client without a package text, so the package comes from the best
// gateway's default path; YES downloads it, the update request reaches the promote
// service, and no login view opens.
TEST_F(MainUIUpdateTest, ConnectDownloadsFromTheBestGatewayAndHandsOver) {
    Start(R"("config": {"LastAccessSession": "Office.ini"})");
    ScriptNewerOnThePackageServer();
    QueueYes();
    driver_.AnswerLetEnd();
    window_->MainUI_LoginKey_Show();
    ASSERT_EQ(driver_.Seen().size(), 2u);
    EXPECT_EQ(driver_.Seen()[0].className, "Dialog");
    EXPECT_EQ(driver_.Seen()[1].className, "QProgressDialog");
    EXPECT_EQ(HttpsPaths(), std::vector<std::string>{"/app/vantrelo-macosx.tar.gz"});
    std::vector<rapidjson::Document> requests;
    for (int i = 0; i < 100 && (requests = UpdateRequests()).empty(); ++i) QThread::msleep(20);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(QString(requests[0]["fields"]["acDownloadUrl"].GetString()),
              QString("https://127.0.0.1:%1/app/vantrelo-macosx.tar.gz").arg(HttpsPort()));
    EXPECT_TRUE(window_->findChildren<LoginKeyUI*>().isEmpty()) << "no login view";
    EXPECT_FALSE(TrayMenu()->isEnabled());
}

// A profile that asks for GM/T TLS, on a build without it: the download fails with the
// self-closing box, no update request is sent, and the login goes on.
TEST_F(MainUIUpdateTest, ConnectWithGmTlsFailsTheDownloadAndTheLoginGoesOn) {
    if (uiSslGmTlsAvailable()) {
        GTEST_SKIP() << "this OpenSSL has the GM/T client method";
    }
    Start(R"("config": {"LastAccessSession": "Gm.ini"},)"
          R"("profiles": [{"name": "Gm.ini", "linkType": 1, "fields": {)"
          R"("acGatewayAddress": "127.0.0.1", "uiPort": 443, "uiGatewayNum": 1,)"
          R"("astGateway": [{"acAddress": "127.0.0.1", "uiPort": 443}],)"
          R"("uiAutoBest": 1, "uiGmAlgorithm": 1}, "session": {"RemPwd": 0}}])");
    ScriptNewerOnThePackageServer();
    QueueYes();
    driver_.AnswerLetEnd();
    driver_.AnswerLetEnd();
    driver_.Answer(BoxDriver::kEscape);
    const size_t failed = ui_test::LogCount("[Gm Update Client][SSL connect Failed]");
    window_->MainUI_LoginKey_Show();
    ASSERT_EQ(driver_.Seen().size(), 4u);
    EXPECT_EQ(driver_.Seen()[2].text, KeyText("/UI_DOWNLOAD/UI_DOWNLOAD_FAILED"));
    EXPECT_EQ(driver_.Seen()[3].className, "LoginKeyUI") << "the login goes on";
    EXPECT_EQ(ui_test::LogCount("[Gm Update Client][SSL connect Failed]"), failed + 1);
    EXPECT_TRUE(HttpsPaths().empty()) << "no ordinary TLS in place of GM/T TLS";
    EXPECT_TRUE(UpdateRequests().empty());
    EXPECT_TRUE(TrayMenu()->isEnabled());
    EXPECT_FALSE(QFile::exists(kFixedPackage));
}

TEST_F(MainUIUpdateTest, NewVersionIsReadFromASettingsFile) {
    const QString path = dir_->filePath("version.ini");
    ASSERT_TRUE(WriteAll(path, "[GLOBAL]\nClientVersion=7.0.3.1\n"));
    QString version;
    ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), "MainUI_UI_GetNewVersion",
                                          Qt::DirectConnection, Q_RETURN_ARG(QString, version),
                                          Q_ARG(QString, path)));
    EXPECT_EQ(version, "7.0.3.1");
}

}  // namespace

#include "test_mainui_update.moc"
