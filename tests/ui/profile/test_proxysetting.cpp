// The proxy dialog against the simulator: what it shows for each stored proxy and link
// type, what a commit writes to the service, the system's proxy through the link's
// source seam (never the desktop's own settings), the address syntax, the byte caps of
// account and password, the field checks and a refused write.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "languagesetting.h"
#include "proxysetting.h"
#include "ui_proxy.h"
#include "ui_proxy_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"

namespace {

using vt_qt_test::BoxDriver;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// What the system reports as its proxy, served through the link's source seam.
struct SystemProxy {
    enum Kind { kNone, kHttps, kSocks } kind = kNone;
    const char* host = "";
    const char* port = "";
};
SystemProxy g_system;
int g_systemReads = 0;

ProxyDict* SystemSource() {
    ++g_systemReads;
    if (g_system.kind == SystemProxy::kNone) {
        return nullptr;  // no proxy configured anywhere
    }
    const bool socks = g_system.kind == SystemProxy::kSocks;
    auto* dict = new ProxyDict;
    uiProxyDictTextSet(dict, socks ? PROXY_KEY_SOCKS_ENABLE : PROXY_KEY_HTTPS_ENABLE, "1");
    uiProxyDictTextSet(dict, socks ? PROXY_KEY_SOCKS_HOST : PROXY_KEY_HTTPS_HOST, g_system.host);
    uiProxyDictTextSet(dict, socks ? PROXY_KEY_SOCKS_PORT : PROXY_KEY_HTTPS_PORT, g_system.port);
    return dict;
}

// The proxy fields of one system write (9/1) as the simulator received it.
struct SysWrite {
    uint32_t type = 0;
    std::string addr;
    uint32_t port = 0;
    std::string user;
    std::string pwd;
};

std::vector<SysWrite> SysWrites(ui_test::Sim& sim) {
    std::vector<SysWrite> writes;
    for (const rapidjson::Document& line : sim.Log()) {
        if (!line.HasMember("head") || line["head"]["msgType"].GetUint() != 9 ||
            line["head"]["code"].GetUint() != 1 || !line.HasMember("fields")) {
            continue;
        }
        const rapidjson::Value& f = line["fields"];
        SysWrite w;
        w.type = f["ProxyType"].GetUint();
        w.addr = f["ProxyAddr"].IsString() ? f["ProxyAddr"].GetString() : "<hex>";
        w.port = f["ProxyPort"].GetUint();
        w.user = f["ProxyUser"].IsString() ? f["ProxyUser"].GetString() : "<hex>";
        w.pwd = f["ProxyPwd"].IsString() ? f["ProxyPwd"].GetString() : "<hex>";
        writes.push_back(w);
    }
    return writes;
}

std::string ProxyConfig(int64_t type, const char* addr, int port, const char* user,
                        const char* pwd) {
    return R"("config": {"ProxyType": )" + std::to_string(type) + R"(, "ProxyAddr": ")" + addr +
           R"(", "ProxyPort": )" + std::to_string(port) + R"(, "ProxyUser": ")" + user +
           R"(", "ProxyPwd": ")" + pwd + "\"}";
}

// The dialog's widgets, by their form names.
struct Form {
    explicit Form(QWidget* dialog)
        : type(dialog->findChild<QComboBox*>("cb_proxyType")),
          group(dialog->findChild<QGroupBox*>("groupBox_2")),
          addr(dialog->findChild<QLineEdit*>("le_proxyAddress")),
          port(dialog->findChild<QLineEdit*>("le_proxyPort")),
          account(dialog->findChild<QLineEdit*>("le_proxyAccount")),
          pwd(dialog->findChild<QLineEdit*>("le_proxyPassword")),
          commit(dialog->findChild<QPushButton*>("pb_Commit")) {}
    bool Complete() const { return type && group && addr && port && account && pwd && commit; }
    QStringList Marked() const {
        QStringList marked;
        for (QLineEdit* e : {addr, port, account, pwd}) {
            if (!e->styleSheet().isEmpty()) marked << e->objectName();
        }
        return marked;
    }
    QComboBox* type;
    QGroupBox* group;
    QLineEdit *addr, *port, *account, *pwd;
    QPushButton* commit;
};

const char* ItemKey(int data) {
    switch (data) {
        case 0: return "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_NOPROXY";
        case 1: return "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_SYSTEMPROXY";
        case 3: return "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_HTTPPROXY";
        case 4: return "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_SOCKS5PROXY";
        default: return "";
    }
}

class ProxySettingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetSettingEnable(true);
        context->SetLinkType(1);
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        g_system = SystemProxy();
        g_systemReads = 0;
        uiProxySourceSet(SystemSource);
    }
    void TearDown() override {
        uiProxySourceSet(nullptr);
        UIContext::GetInstance()->SetSettingEnable(true);
        UIContext::GetInstance()->SetLinkType(0);
    }
    // Runs a dialog as the main window runs it (modally); inside works on it while it is
    // shown; later answers the boxes that come while it is (a refusal). True when the
    // dialog was still open after inside (it is then cancelled).
    bool RunModal(const std::function<void(QWidget* dialog, Form& form)>& inside,
                  const QStringList& later = {}) {
        ProxySetting dialog(nullptr);
        dialog.Init();
        bool open = false;
        driver.AnswerWith([&](QWidget* box) {
            Form form(box);
            ASSERT_TRUE(form.Complete());
            inside(box, form);
            open = box->isVisible();
            if (open) {
                BoxDriver::ClickButton(box, QStringLiteral("pb_Cancle"));
            }
        });
        for (const QString& answer : later) {
            driver.Answer(answer);
        }
        dialog.exec();
        return open;
    }
    BoxDriver driver;
};

// The opening state for each stored proxy and link type, and what a commit of it then
// writes. The type list's positions are not the stored types; the system's proxy is read
// once when "system proxy" is shown, never twice.
TEST_F(ProxySettingTest, OpeningStateAndCommitPerStoredProxy) {
    const SystemProxy none;
    const SystemProxy https{SystemProxy::kHttps, "ab.cd", "3128"};
    const SystemProxy socks{SystemProxy::kSocks, "10.1.1.1", "1080"};
    struct Row {
        const char* name;
        int link;
        std::string config;
        SystemProxy system;
        int choose;  // list position the user picks after opening, -1 none
        // shown (after the pick)
        int items, itemData;
        bool group, addrEnabled, portEnabled;  // as the user meets them (group included)
        const char* texts[4];  // address, port, account, password
        int systemReads;
        // committed: nullptr marks no write and names the marked field
        const char* marked;
        SysWrite written;
    } rows[] = {
        {"https stored", 1, ProxyConfig(3, "10.0.0.1", 443, "puser", "ppass"), none, -1,
         4, 3, true, true, true, {"10.0.0.1", "443", "puser", "******"}, 0,
         nullptr, {3, "10.0.0.1", 443, "puser", ""}},
        {"ipsec, stored system", 2, ProxyConfig(2, "10.0.0.1", 443, "puser", "ppass"), none, -1,
         2, 0, false, false, false, {"", "", "", ""}, 0, nullptr, {0, "", 0, "", ""}},
        {"ipsec, stored https", 2, ProxyConfig(3, "10.0.0.1", 443, "puser", "ppass"), none, -1,
         2, 0, false, false, false, {"", "", "", ""}, 0, nullptr, {0, "", 0, "", ""}},
        {"ipsec, stored socks5", 2, ProxyConfig(4, "10.0.0.2", 1080, "puser", "ppass"), none,
         -1, 2, 4, true, true, true, {"10.0.0.2", "1080", "puser", "******"}, 0, nullptr,
         {4, "10.0.0.2", 1080, "puser", ""}},
        {"stored system https", 1, ProxyConfig(1, "10.9.9.9", 8080, "", ""), https, -1,
         4, 1, true, false, false, {"10.9.9.9", "8080", "", ""}, 1, nullptr,
         {1, "10.9.9.9", 8080, "", ""}},
        {"stored system socks5", 1, ProxyConfig(2, "10.9.9.9", 8080, "", ""), socks, -1,
         4, 1, true, false, false, {"10.9.9.9", "8080", "", ""}, 1, nullptr,
         {2, "10.9.9.9", 8080, "", ""}},
        {"system chosen, socks5", 1, ProxyConfig(0, "", 0, "", ""), socks, 1,
         4, 1, true, false, false, {"10.1.1.1", "1080", "", ""}, 1, nullptr,
         {2, "10.1.1.1", 1080, "", ""}},
        {"system chosen, https", 1, ProxyConfig(0, "", 0, "", ""), https, 1,
         4, 1, true, false, false, {"ab.cd", "3128", "", ""}, 1, nullptr,
         {1, "ab.cd", 3128, "", ""}},
        {"system chosen, none set", 1, ProxyConfig(0, "", 0, "", ""), none, 1,
         4, 1, true, false, false, {"", "0", "", ""}, 1, "le_proxyAddress", {}},
        {"stored address with a prefix", 1, ProxyConfig(3, "socks/ab.cd", 8080, "", ""), none,
         -1, 4, 3, true, true, true, {"ab.cd", "8080", "", ""}, 0, nullptr,
         {3, "ab.cd", 8080, "", ""}},
        // A type with the top bit set is no stored proxy: nothing is loaded or switched.
        {"stored type 0xFFFFFFFF", 1, ProxyConfig(0xFFFFFFFFLL, "10.0.0.1", 443, "u", "p"),
         none, -1, 4, 0, true, true, true, {"", "", "", ""}, 0, nullptr, {0, "", 0, "", ""}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ui_test::SimLink link(r.config);
        ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
        UIContext::GetInstance()->SetLinkType(r.link);
        g_system = r.system;
        g_systemReads = 0;
        std::vector<SysWrite> writes;
        const bool open = RunModal([&](QWidget* dialog, Form& form) {
            if (r.choose >= 0) {
                form.type->setCurrentIndex(r.choose);
            }
            EXPECT_EQ(form.type->count(), r.items);
            EXPECT_EQ(form.type->currentData().toInt(), r.itemData);
            EXPECT_EQ(form.type->currentText(), KeyText(ItemKey(r.itemData)));
            EXPECT_EQ(form.group->isEnabled(), r.group);
            EXPECT_EQ(form.addr->isEnabled(), r.addrEnabled);
            EXPECT_EQ(form.port->isEnabled(), r.portEnabled);
            EXPECT_EQ((QStringList{form.addr->text(), form.port->text(), form.account->text(),
                                   form.pwd->text()}),
                      (QStringList{r.texts[0], r.texts[1], r.texts[2], r.texts[3]}));
            EXPECT_EQ(g_systemReads, r.systemReads);
            BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
            if (r.marked != nullptr) {
                EXPECT_EQ(form.Marked(), QStringList{r.marked});
            }
        });
        writes = SysWrites(link.sim());
        if (r.marked != nullptr) {
            EXPECT_TRUE(writes.empty());
            EXPECT_TRUE(open) << "a failed check leaves the dialog open";
            continue;
        }
        EXPECT_FALSE(open) << "closed after the save";
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].type, r.written.type);
        EXPECT_EQ(writes[0].addr, r.written.addr);
        EXPECT_EQ(writes[0].port, r.written.port);
        EXPECT_EQ(writes[0].user, r.written.user);
        EXPECT_EQ(writes[0].pwd, r.written.pwd);
    }
}

// The stored password is never shown nor sent back unless the user types one: the
// placeholder set by the dialog itself does not count as typing, also after a typed
// password gave way to it.
TEST_F(ProxySettingTest, StoredPasswordTravelsOnlyWhenTyped) {
    ui_test::SimLink link(ProxyConfig(3, "10.0.0.1", 443, "puser", "ppass"));
    ASSERT_TRUE(link.Connected());
    EXPECT_FALSE(RunModal([](QWidget* dialog, Form&) {
        BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
    }));
    EXPECT_FALSE(RunModal([](QWidget* dialog, Form& form) {
        EXPECT_EQ(form.pwd->text(), QString("******"));
        EXPECT_EQ(UISystemProfile::GetInstance()->GetProxyPwd(), QString("ppass"))
            << "the service kept the password the commit sent empty";
        ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyPassword", "fresh"));
        BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
    }));
    // Typed, then replaced by the placeholder when the user goes back to the stored type:
    // the placeholder is no password.
    EXPECT_FALSE(RunModal([](QWidget* dialog, Form& form) {
        ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyPassword", "typed"));
        form.type->setCurrentIndex(3);
        form.type->setCurrentIndex(2);
        EXPECT_EQ(form.pwd->text(), QString("******"));
        BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
    }));
    std::vector<SysWrite> writes = SysWrites(link.sim());
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].pwd, "");
    EXPECT_EQ(writes[1].pwd, "fresh");
    EXPECT_EQ(writes[2].pwd, "");
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    EXPECT_EQ(UISystemProfile::GetInstance()->GetProxyPwd(), QString("fresh"));
}

TEST_F(ProxySettingTest, AddressSyntax) {
    const struct {
        const char* text;
        bool address;
        bool hostName;
    } cases[] = {
        {"proxy", false, false},       {"-ab.cd", false, false},   {"a..b.cd", false, false},
        {"a.b.c.1", false, false},     {"ab.cd-", false, false},   {"a--b.cd", false, false},
        {"ab.cd/", false, false},      {"ab", false, false},       {"ab.c_d", false, false},
        {"123", true, false},          {"10.0.0.1", true, false},  {"256.0.0.1", false, false},
        {"ab.cd", false, true},        {"socks/ab.cd", false, true}, {"ab.12", false, false},
        {"x.example:8080.com", false, true},
    };
    ui_test::SimLink link(ProxyConfig(3, "10.0.0.1", 443, "", ""));
    ASSERT_TRUE(link.Connected());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ProxySetting::ProxySetting_IPAddress_Check(c.text), c.address);
        EXPECT_EQ(ProxySetting::ProxySetting_DomainName_Check(c.text), c.hostName);
        // Through the dialog: a refused address is emptied and marked, nothing is stored.
        const bool accepted = c.address || c.hostName;
        const size_t before = SysWrites(link.sim()).size();
        const bool open = RunModal([&](QWidget* dialog, Form& form) {
            ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyAddress", c.text));
            BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
            if (!accepted) {
                EXPECT_EQ(form.addr->text(), QString());
                EXPECT_EQ(form.Marked(), QStringList{"le_proxyAddress"});
            }
        });
        EXPECT_EQ(open, !accepted);
        EXPECT_EQ(SysWrites(link.sim()).size(), before + (accepted ? 1 : 0));
    }
    // Length: 3 to 63 characters.
    const QString label = QString(30, 'a');
    EXPECT_TRUE(ProxySetting::ProxySetting_DomainName_Check(label + "." + label + "ab"));  // 63
    EXPECT_FALSE(ProxySetting::ProxySetting_DomainName_Check(label + "." + label + "abc"));
    EXPECT_TRUE(ProxySetting::ProxySetting_IPAddress_Check(QString(127, '9')));
    EXPECT_FALSE(ProxySetting::ProxySetting_IPAddress_Check(QString(128, '9')));
}

// Account and password are capped in UTF-8 bytes as they are typed, to what their record
// fields hold (255 and 127 bytes); what stays in the fields is what reaches the service.
TEST_F(ProxySettingTest, AccountAndPasswordAreCappedInBytes) {
    ui_test::SimLink link(ProxyConfig(3, "10.0.0.1", 443, "", ""));
    ASSERT_TRUE(link.Connected());
    const QString ideograph = QString::fromUtf8("中");
    const QString eAcute = QString::fromUtf8("é");
    EXPECT_FALSE(RunModal([&](QWidget* dialog, Form& form) {
        ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyAccount", ideograph.repeated(86)));
        EXPECT_EQ(form.account->text(), ideograph.repeated(85));
        ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyPassword", eAcute.repeated(64)));
        EXPECT_EQ(form.pwd->text(), eAcute.repeated(63));
        BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
    }));
    const std::vector<SysWrite> writes = SysWrites(link.sim());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].user, ideograph.repeated(85).toStdString());
    EXPECT_EQ(writes[0].pwd, eAcute.repeated(63).toStdString());
}

// The field checks of a commit: every failing field is marked at once and nothing is
// written; a port the validator only let through on the way ("70000") counts as none.
TEST_F(ProxySettingTest, FieldChecksMarkAndStoreNothing) {
    const struct {
        const char* port;
        const char* account;
        const char* password;
        QStringList marked;
    } cases[] = {
        {"443", "", "", {}},
        {"65535", "a", "p", {}},
        {"70000", "", "", {"le_proxyPort"}},
        {"99999", "", "", {"le_proxyPort"}},
        {"", "", "", {"le_proxyPort"}},
        {"443", "a", "", {"le_proxyPassword"}},
        {"443", "", "p", {"le_proxyAccount"}},
        {"70000", "a", "", {"le_proxyPort", "le_proxyPassword"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + "/" + c.account + "/" + c.password);
        ui_test::SimLink link(ProxyConfig(0, "", 0, "", ""));
        ASSERT_TRUE(link.Connected());
        const bool open = RunModal([&](QWidget* dialog, Form& form) {
            form.type->setCurrentIndex(2);  // https proxy
            ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyAddress", "10.0.0.1"));
            ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyPort", c.port));
            ASSERT_EQ(form.port->text(), QString(c.port)) << "the validator let it be typed";
            ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyAccount", c.account));
            ASSERT_TRUE(BoxDriver::TypeInto(dialog, "le_proxyPassword", c.password));
            BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
            EXPECT_EQ(form.Marked(), c.marked);
        });
        const std::vector<SysWrite> writes = SysWrites(link.sim());
        EXPECT_EQ(open, !c.marked.isEmpty());
        if (c.marked.isEmpty()) {
            ASSERT_EQ(writes.size(), 1u);
            EXPECT_EQ(writes.back().type, 3u);
            EXPECT_EQ(writes.back().port, uint32_t(QString(c.port).toUInt()));
        } else {
            EXPECT_TRUE(writes.empty());
        }
    }
}

// A refused write shows the text of its key and leaves the dialog open; while logged in
// the dialog cannot commit at all. The dialog keeps the base's object name.
TEST_F(ProxySettingTest, RefusedWriteAndLockedSettings) {
    ui_test::SimLink link(ProxyConfig(3, "10.0.0.1", 443, "", "") +
                          R"(, "scripts": [{"msgType": 9, "code": 1, "replies": [{"code": "0xD0001"}]}])");
    ASSERT_TRUE(link.Connected());
    EXPECT_TRUE(RunModal([](QWidget* dialog, Form&) {
        EXPECT_EQ(dialog->objectName(), QString("basewidget"));
        EXPECT_EQ(dialog->windowTitle(),
                  KeyText("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PROXYSETTING"));
        EXPECT_EQ(dialog->maximumSize(), QSize(406, 210));
        BoxDriver::ClickButton(dialog, QStringLiteral("pb_Commit"));
    }, {"OK"})) << "still open after the refusal";
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[0].className, QString("ProxySetting"));
    EXPECT_TRUE(driver.Seen()[0].modal);
    EXPECT_EQ(driver.Seen()[1].className, QString("QMessageBox"));
    EXPECT_EQ(driver.Seen()[1].text,
              KeyText("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_WRITE_FAIL"));
    EXPECT_FALSE(driver.Seen()[1].text.isEmpty());

    UIContext::GetInstance()->SetSettingEnable(false);
    ProxySetting locked(nullptr);
    locked.Init();
    EXPECT_FALSE(Form(&locked).commit->isEnabled());
}

}  // namespace
