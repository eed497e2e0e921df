// Profiles between the profile dialog and the service (the simulator): the records the
// dialog builds, checked byte by byte on the wire; the read-back checks and the fill;
// the failures of create, save, import and export; delete; and the whole road a user
// takes from the main window.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeWidget>

#include "mainui.h"
#include "mcomboboxitem.h"
#include "ui_packet_inner.h"
#include "profile_dialog_support.h"
#include "uisystemprofile.h"

namespace {

using namespace profile_test;

#define KEY(name) "/UI_PROFILEINFO/UI_PROFILEINFO_" name

constexpr size_t kHeadBytes = 24;

// Profile requests (message type 9) with this code, in order.
std::vector<const rapidjson::Value*> Requests(const std::vector<rapidjson::Document>& log,
                                              uint32_t code) {
    std::vector<const rapidjson::Value*> found;
    for (const rapidjson::Document& line : log) {
        if (line.HasMember("head") && line["head"]["msgType"].GetUint() == 9 &&
            line["head"]["code"].GetUint() == code) {
            found.push_back(&line);
        }
    }
    return found;
}

// The codes of the profile requests, in order.
std::vector<uint32_t> Codes(const std::vector<rapidjson::Document>& log, size_t from = 0) {
    std::vector<uint32_t> codes;
    for (size_t i = from; i < log.size(); ++i) {
        if (log[i].HasMember("head") && log[i]["head"]["msgType"].GetUint() == 9) {
            codes.push_back(log[i]["head"]["code"].GetUint());
        }
    }
    return codes;
}

// Payload bytes as the wire carried them, in lower-case hex.
std::string PayloadHex(const rapidjson::Value& request, size_t offset, size_t size) {
    const std::string hex = request["hex"].GetString();
    return hex.substr((kHeadBytes + offset) * 2, size * 2);
}

bool PayloadZero(const rapidjson::Value& request, size_t from, size_t to) {
    return PayloadHex(request, from, to - from) == std::string((to - from) * 2, '0');
}

std::string Str(const rapidjson::Value& v) { return v.IsString() ? v.GetString() : "<not text>"; }
uint32_t U(const rapidjson::Value& fields, const char* name) { return fields[name].GetUint(); }

rapidjson::Document State(ui_test::Sim& sim) {
    rapidjson::Document state;
    const std::string answer = sim.Control("state");
    EXPECT_EQ(answer.rfind("OK ", 0), 0u) << answer;
    state.Parse(answer.substr(3).c_str());
    return state;
}

// The simulator's copy of a profile, or null.
const rapidjson::Value* StoredProfile(const rapidjson::Document& state, const char* name) {
    if (!state.IsObject() || !state.HasMember("profiles")) {
        return nullptr;
    }
    for (const rapidjson::Value& p : state["profiles"].GetArray()) {
        if (Str(p["name"]) == name) {
            return &p;
        }
    }
    return nullptr;
}

QString ConfigFile(const char* name) {
    return QString::fromLocal8Bit(std::getenv("HOME")) + "/.VanTrelo/config/" + name;
}

QStringList RowTexts(QComboBox* combo) {
    auto* list = qobject_cast<QListWidget*>(combo->view());
    QStringList texts;
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        auto* row = qobject_cast<MComboboxItem*>(list->itemWidget(list->item(i)));
        texts << (row != nullptr ? row->MComboboxItem_Text_Get() : QStringLiteral("<none>"));
    }
    return texts;
}

MComboboxItem* Row(QComboBox* combo, int index) {
    auto* list = qobject_cast<QListWidget*>(combo->view());
    return list == nullptr ? nullptr
                           : qobject_cast<MComboboxItem*>(list->itemWidget(list->item(index)));
}

void LeftClick(QWidget* widget) {
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, at, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

template <class T = QWidget>
T* Find(QWidget* root, const char* name) {
    return profile_test::W<T>(root, name);
}

// A scripted read reply carrying a record of these fields.
std::string ReadScript(int code, const char* reply, const char* record, const std::string& fields) {
    return R"({"msgType": 9, "code": )" + std::to_string(code) + R"(, "replies": [{"code": ")" +
           reply + R"(", "payload": {"record": ")" + record + R"(", "fields": {)" + fields +
           "}}}]}";
}

class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ok = profile_test::NewProfileContext();
        ASSERT_EQ(DDM_LogLevelSet(DDM_LOG_DEBUG), 0u);
    }
    void TearDown() override {
        UIContext::GetInstance()->SetPluginMode(0);
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
    }

    // The dialog as the main window builds it: for a new profile, or on an existing one
    // (read and filled while it is initialised).
    std::unique_ptr<ProfileInfoUI> OpenNew() {
        UIContext::GetInstance()->SetNewConnect(true);
        auto dialog = std::make_unique<ProfileInfoUI>(nullptr);
        dialog->Init();
        return dialog;
    }
    std::unique_ptr<ProfileInfoUI> OpenOn(const char* name, LINK_TYPE type) {
        UIContext* context = UIContext::GetInstance();
        context->SetNewConnect(false);
        context->SetConnectName(QString::fromUtf8(name));
        context->SetLinkType(type);
        auto dialog = std::make_unique<ProfileInfoUI>(nullptr);
        dialog->Init();
        return dialog;
    }
    // Shown as the user sees it; the driver records it and leaves it open.
    void Show(ProfileInfoUI& dialog) {
        driver.AnswerLetEnd();
        ASSERT_TRUE(ShowActive(&dialog));
    }

    // A new L2TP/IPSec profile filled as a user fills it: a key, an LNS host name, a
    // tunnel with CHAP and a password, aggressive mode by name, PFS Group2, two manual
    // routes; IPSec switched on first, since its controls are disabled until then.
    void FillIPSec(ProfileInfoUI& d, const QString& name) {
        ASSERT_TRUE(BoxDriver::ClickButton(&d, "pb_IPSec"));
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_connectNameIPSEC", name));
        ASSERT_TRUE(BoxDriver::ClickButton(&d, "cb_useIPSEC"));
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_statusConfirm", "k"));
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_LNSServer", "vpn.example.com"));
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_tunnelName", "tun"));
        ASSERT_TRUE(BoxDriver::ClickButton(&d, "cb_useTunnel"));
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_tunnelPassword", "tp"));
        Find<QComboBox>(&d, "cb_authMode")->setCurrentIndex(1);
        ASSERT_TRUE(BoxDriver::ClickButton(&d, "rb_negoBarMode"));
        Find<QComboBox>(&d, "cb_IDType")->setCurrentIndex(1);
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_localGatewayName", "a"));
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_remoteGatewayName", "b"));
        ASSERT_TRUE(BoxDriver::ClickButton(&d, "cb_usePFS"));
        Find<QComboBox>(&d, "cb_parameter")->setCurrentIndex(1);
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_ikeSADuration", "28800"));
        ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_ipsecSADuration", "1800"));
        ASSERT_TRUE(BoxDriver::ClickButton(&d, "rb_HandConfig"));
        d.ProfileInfoUI_IPSECConnect_AddIP("192.168.1.0", "255.255.255.0");
        d.ProfileInfoUI_IPSECConnect_AddIP("10.0.0.0", "255.0.0.0");
        ASSERT_TRUE(Find<QCheckBox>(&d, "cb_LNSServer")->isChecked()) << "as the set-up leaves it";
    }

    BoxDriver driver;
    QString ok;
};

// ---- The user's road from the main window -----------------------------------------------

TEST_F(RecordsTest, CreateEditExportImportAndDeleteFromTheMainWindow) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    MainUI window(nullptr);
    window.Init();
    auto* combo = window.findChild<QComboBox*>("cb_linkname");
    ASSERT_NE(combo, nullptr);
    const QString mark = Text(KEY("DEFAULT_GATEWAY"));

    // 1. A new SSL VPN profile with two gateways, the second the default.
    const size_t writeLines = ui_test::LogCount("[Profile ui write profile][profile name is  Lab.ini]");
    const size_t doneLines = ui_test::LogCount("[Profile ui write profile successed]");
    size_t from = link.sim().Log().size();
    driver.AnswerWith([&](QWidget* box) {
        auto* d = qobject_cast<ProfileInfoUI*>(box);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(BoxDriver::TypeInto(d, "le_connectNameSSL", "Lab"));
        ASSERT_TRUE(BoxDriver::TypeInto(d, "le_descriptionMsgSSL", "bench"));
        for (const char* gateway : {"10.1.1.1:443", "10.1.1.2:8443"}) {
            const QStringList parts = QString(gateway).split(':');
            ASSERT_TRUE(BoxDriver::TypeInto(d, "le_gatewayAddress", parts[0]));
            ASSERT_TRUE(BoxDriver::TypeInto(d, "le_port", parts[1]));
            ASSERT_TRUE(BoxDriver::ClickButton(d, "tb_add"));
        }
        auto* rows = Find<QTreeWidget>(d, "tw_serverAddress");
        ASSERT_EQ(rows->topLevelItemCount(), 2);
        rows->setCurrentItem(rows->topLevelItem(1));
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_SetPriorGateway"));
        Find<QComboBox>(d, "cb_tunnelMode")->setCurrentIndex(1);
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_ok"));
    });
    LeftClick(Row(combo, 0));
    ASSERT_EQ(driver.Seen().size(), 1u);
    {
        const auto log = link.sim().Log();
        EXPECT_EQ(Codes(log, from), (std::vector<uint32_t>{5, 2}));
        const auto writes = Requests(log, 5);
        ASSERT_EQ(writes.size(), 1u);
        const rapidjson::Value& w = *writes[0];
        const rapidjson::Value& f = w["fields"];
        EXPECT_EQ(U(f, "uiLinkType"), 1u);
        EXPECT_EQ(U(f, "uiHeadWord1"), 0u);
        EXPECT_EQ(U(f, "uiHeadWord2"), 1u);
        EXPECT_EQ(U(f, "uiGatewayNum"), 2u);
        EXPECT_EQ(U(f, "uiDefaultGateway"), 1u);
        EXPECT_EQ(U(f, "uiTunnelMode"), 1u);
        EXPECT_EQ(Str(f["acDescription"]), "bench");
        EXPECT_EQ(Str(f["astGateway"][0]["acAddress"]), "10.1.1.1");
        EXPECT_EQ(Str(f["astGateway"][1]["acAddress"]), "10.1.1.2");
        EXPECT_EQ(Str(w["text"]), "Lab.ini");
        // The second gateway's port and the default index, big-endian on the wire.
        EXPECT_EQ(PayloadHex(w, 836, 4), "000020fb");
        EXPECT_EQ(PayloadHex(w, 564, 4), "00000001");
        EXPECT_EQ(PayloadHex(w, 696, 4), "000001bb");
        EXPECT_TRUE(PayloadZero(w, 568 + 2 * 140, 2808)) << "entries 2 to 15";
    }
    EXPECT_EQ(ui_test::LogCount("[Profile ui write profile][profile name is  Lab.ini]"),
              writeLines + 1);
    EXPECT_EQ(ui_test::LogCount("[Profile ui write profile successed]"), doneLines + 1);
    EXPECT_EQ(combo->currentText(), QString("Lab"));
    EXPECT_TRUE(QFile::exists(ConfigFile("Lab.ini")));

    // 2. Opened again from the gear: filled from the service's copy, then saved.
    from = link.sim().Log().size();
    const size_t saveLines = ui_test::LogCount("[Profile ui save connect][connect name is  Lab]");
    driver.AnswerWith([&](QWidget* box) {
        auto* d = qobject_cast<ProfileInfoUI*>(box);
        ASSERT_NE(d, nullptr);
        auto* rows = Find<QTreeWidget>(d, "tw_serverAddress");
        EXPECT_EQ(Column(rows, 0), (QStringList{"10.1.1.1", "10.1.1.2"}));
        EXPECT_EQ(Column(rows, 1), (QStringList{"443", "8443"}));
        EXPECT_EQ(Column(rows, 2), (QStringList{"", mark}));
        EXPECT_FALSE(Find<QLineEdit>(d, "le_connectNameSSL")->isEnabled());
        EXPECT_EQ(Find<QLineEdit>(d, "le_descriptionMsgSSL")->text(), QString("bench"));
        EXPECT_EQ(Find<QComboBox>(d, "cb_tunnelMode")->currentIndex(), 1);
        ASSERT_TRUE(BoxDriver::TypeInto(d, "le_descriptionMsgSSL", "lab bench two"));
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_save"));
    });
    window.findChild<QToolButton*>("tb_detailOption")->click();
    ASSERT_EQ(driver.Seen().size(), 2u);
    {
        const auto log = link.sim().Log();
        EXPECT_EQ(Codes(log, from), (std::vector<uint32_t>{11, 6, 5, 2}));
        const auto writes = Requests(log, 5);
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(Str((*writes[1])["fields"]["acDescription"]), "lab bench two");
        EXPECT_EQ(U((*writes[1])["fields"], "uiDefaultGateway"), 1u);
    }
    EXPECT_EQ(ui_test::LogCount("[Profile ui save connect][connect name is  Lab]"), saveLines + 1);
    EXPECT_EQ(RowTexts(combo).back(), QString("Lab"));

    // 3. Exported into a folder of the test's own.
    const QString folder = QString::fromLocal8Bit(std::getenv("TMPDIR")) + "/x";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString copy = folder + "/LabCopy.ini";
    QString outputStyle;
    QString sslStyle;
    from = link.sim().Log().size();
    driver.AnswerWith([&](QWidget* box) {
        auto* d = qobject_cast<ProfileInfoUI*>(box);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_output"));
        outputStyle = Find<QPushButton>(d, "pb_output")->styleSheet();
        sslStyle = Find<QPushButton>(d, "pb_SSL")->styleSheet();
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_cancel"));
    });
    driver.AnswerWith([&](QWidget* box) { ASSERT_TRUE(BoxDriver::ChooseFile(box, copy)); });
    window.findChild<QToolButton*>("tb_detailOption")->click();
    ASSERT_EQ(driver.Seen().size(), 4u);
    EXPECT_EQ(driver.Seen()[3].className, QString("QFileDialog"));
    EXPECT_EQ(driver.Seen()[3].title, LanguageSetting::GetInstance()->GetGlobalLang().SAVEAS);
    {
        const auto log = link.sim().Log();
        EXPECT_EQ(Codes(log, from), (std::vector<uint32_t>{11, 6, 10}));
        const auto exports = Requests(log, 10);
        ASSERT_EQ(exports.size(), 1u);
        EXPECT_EQ(Str((*exports[0])["fields"]["acProfileName"]), "Lab.ini");
        EXPECT_EQ(Str((*exports[0])["fields"]["acOutputPath"]), copy.toStdString());
    }
    EXPECT_TRUE(QFile::exists(copy));
    EXPECT_TRUE(outputStyle.contains("rgb(79, 78, 78)")) << "the menu styles are back";
    EXPECT_TRUE(sslStyle.contains("rgb(194, 34, 51)"));

    // 4. Imported again under the file's name.
    from = link.sim().Log().size();
    driver.AnswerWith([&](QWidget* box) {
        auto* d = qobject_cast<ProfileInfoUI*>(box);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_input"));
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_inputProfile"));
        EXPECT_EQ(Find<QLineEdit>(d, "le_inputProfile")->text(), copy);
        ASSERT_TRUE(BoxDriver::ClickButton(d, "pb_ok"));
    });
    driver.AnswerWith([&](QWidget* box) { ASSERT_TRUE(BoxDriver::ChooseFile(box, copy)); });
    LeftClick(Row(combo, 0));
    ASSERT_EQ(driver.Seen().size(), 6u);
    EXPECT_EQ(driver.Seen()[5].title, QString("Open Profile"));
    EXPECT_EQ(Codes(link.sim().Log(), from), (std::vector<uint32_t>{9, 2}));
    const int copyRow = RowTexts(combo).indexOf("LabCopy");
    ASSERT_GT(copyRow, 0) << RowTexts(combo).join(",").toStdString();
    EXPECT_EQ(Row(combo, copyRow)->MComboboxItem_Type_Get(), LINK_TYPE_SSL);
    EXPECT_NE(StoredProfile(State(link.sim()), "LabCopy.ini"), nullptr);

    // 5. Deleted from the list.
    from = link.sim().Log().size();
    driver.Answer("OK");
    Row(combo, copyRow)->findChildren<QPushButton*>().at(1)->click();
    ASSERT_EQ(driver.Seen().size(), 7u);
    const auto deletesLog = link.sim().Log();
    const auto deletes = Requests(deletesLog, 12);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(Str((*deletes[0])["text"]), "LabCopy.ini");
    EXPECT_FALSE(QFile::exists(ConfigFile("LabCopy.ini")));
    EXPECT_FALSE(RowTexts(combo).contains("LabCopy"));
}

// ---- IPSec records on the wire ------------------------------------------------------------

TEST_F(RecordsTest, IPSecProfileIsWrittenWithEveryChoice) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    auto d = OpenNew();
    Show(*d);
    FillIPSec(*d, "Vpn");
    const size_t lnsLines =
        ui_test::LogCount("[Profile ui write ipsec profile][lns server enable is checked]");
    QSignalSpy created(d.get(), &ProfileInfoUI::signal_newconnect);
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
    ASSERT_EQ(created.size(), 1);
    EXPECT_EQ(created[0][0].toString(), QString("Vpn"));
    EXPECT_EQ(created[0][1].value<LINK_TYPE>(), LINK_TYPE_IPSEC);
    EXPECT_EQ(ui_test::LogCount("[Profile ui write ipsec profile][lns server enable is checked]"),
              lnsLines + 1);

    const auto writesLog = link.sim().Log();

    const auto writes = Requests(writesLog, 7);
    ASSERT_EQ(writes.size(), 1u);
    const rapidjson::Value& w = *writes[0];
    const rapidjson::Value& f = w["fields"];
    EXPECT_EQ(Str(w["text"]), "Vpn.ini");
    EXPECT_EQ(U(f, "uiLinkType"), 2u);
    EXPECT_EQ(U(f, "uiIpsecEnable"), 1u);
    EXPECT_EQ(U(f, "uiAuthMethod"), 1u);
    EXPECT_EQ(Str(f["acPreSharedKey"]), "k");
    EXPECT_EQ(Str(f["acLnsServer"]), "vpn.example.com");
    EXPECT_EQ(U(f, "uiUseLnsAddress"), 1u);
    EXPECT_EQ(Str(f["acIpsecServer"]), "");
    EXPECT_EQ(Str(f["acTunnelName"]), "tun");
    EXPECT_EQ(U(f, "uiPppAuthMode"), 1u);
    EXPECT_EQ(U(f, "uiTunnelAuth"), 1u);
    EXPECT_EQ(Str(f["acTunnelPassword"]), "tp");
    EXPECT_EQ(U(f, "uiNegoMode"), 4u);
    EXPECT_EQ(U(f, "uiIdType"), 2u);
    EXPECT_EQ(Str(f["acLocalGatewayName"]), "a");
    EXPECT_EQ(Str(f["acRemoteGatewayName"]), "b");
    EXPECT_EQ(U(f, "uiPfsEnable"), 1u);
    EXPECT_EQ(U(f, "uiPfsGroup"), 2u);
    EXPECT_EQ(U(f, "uiIkeSaLifetime"), 28800u);
    EXPECT_EQ(U(f, "uiIpsecSaLifetime"), 1800u);
    EXPECT_EQ(U(f, "uiRouteMode"), 1u);
    EXPECT_EQ(U(f, "uiRouteNum"), 2u);
    // The set-up's choices: transport mode, SHA2-256 and AES-256 twice, Group5.
    EXPECT_EQ(U(f, "uiEncapMode"), 1u);
    EXPECT_EQ(U(f, "uiEspAuthAlgo"), 0x00080000u);
    EXPECT_EQ(U(f, "uiEspEncryAlgo"), 0x40002000u);
    EXPECT_EQ(U(f, "uiIkeAuthAlgo"), 4u);
    EXPECT_EQ(U(f, "uiIkeEncryAlgo"), 10u);
    EXPECT_EQ(U(f, "uiDhGroup"), 5u);
    EXPECT_EQ(PayloadHex(w, 992, 16), "c0a80100ffffff000a000000ff000000");
    EXPECT_EQ(PayloadHex(w, 2716, 8), "0000000100000002");
}

// A stored key and tunnel password are never shown and never sent back unless retyped;
// the service keeps its own.
TEST_F(RecordsTest, StoredSecretsStayWithTheService) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    {
        auto d = OpenNew();
        Show(*d);
        FillIPSec(*d, "Vpn");
        ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
    }
    auto d = OpenOn("Vpn", LINK_TYPE_IPSEC);
    Show(*d);
    auto* key = Find<QLineEdit>(d.get(), "le_statusConfirm");
    auto* password = Find<QLineEdit>(d.get(), "le_tunnelPassword");
    EXPECT_EQ(key->text(), QString("******"));
    EXPECT_EQ(password->text(), QString("******"));
    EXPECT_FALSE(ProfileInfoUITestPeer::Private(*d)->preSharedKeyEdited);
    EXPECT_FALSE(ProfileInfoUITestPeer::Private(*d)->tunnelPasswordEdited);
    EXPECT_EQ(Column(Find<QTreeWidget>(d.get(), "tw_router"), 0),
              (QStringList{"192.168.1.0", "10.0.0.0"}));
    EXPECT_TRUE(Find<QRadioButton>(d.get(), "rb_HandConfig")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(d.get(), "le_localGatewayName")->text(), QString("a"));

    QSignalSpy saved(d.get(), &ProfileInfoUI::signal_sendNewConnect);
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_save"));
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0][0].toString(), QString("Vpn"));
    EXPECT_EQ(saved[0][1].toString(), QString("Vpn"));
    const auto writesLog = link.sim().Log();
    const auto writes = Requests(writesLog, 7);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_TRUE(PayloadZero(*writes[1], 400, 528)) << "the key is sent empty";
    EXPECT_TRUE(PayloadZero(*writes[1], 792, 920)) << "the tunnel password is sent empty";
    EXPECT_TRUE(key->text().isEmpty());
    EXPECT_TRUE(password->text().isEmpty());
    const rapidjson::Document state = State(link.sim());
    const rapidjson::Value* stored = StoredProfile(state, "Vpn.ini");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(Str((*stored)["fields"]["acPreSharedKey"]), "k");
    EXPECT_EQ(Str((*stored)["fields"]["acTunnelPassword"]), "tp");
}

// What IPSec off and the identity choices leave in the record, whatever the form shows.
TEST_F(RecordsTest, IPSecOffIdentityByAddressAndFullWidthNames) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const QString full(512, QLatin1Char('L'));
    const struct {
        const char* name;
        std::function<void(ProfileInfoUI&)> change;
        std::function<void(const rapidjson::Value&)> expect;
    } cases[] = {
        {"Off",
         [](ProfileInfoUI& d) { ASSERT_TRUE(BoxDriver::ClickButton(&d, "cb_useIPSEC")); },
         [](const rapidjson::Value& w) {
             EXPECT_EQ(U(w["fields"], "uiIpsecEnable"), 0u);
             EXPECT_TRUE(PayloadZero(w, 396, 656));
             EXPECT_TRUE(PayloadZero(w, 1504, 2732));
             EXPECT_EQ(Str(w["fields"]["acTunnelName"]), "tun") << "the tunnel is written";
             EXPECT_EQ(U(w["fields"], "uiRouteNum"), 2u);
         }},
        {"ByIp",
         [](ProfileInfoUI& d) { Find<QComboBox>(&d, "cb_IDType")->setCurrentIndex(0); },
         [](const rapidjson::Value& w) {
             EXPECT_EQ(U(w["fields"], "uiIdType"), 1u);
             EXPECT_TRUE(PayloadZero(w, 1656, 2680)) << "no gateway names";
         }},
        {"FullNames",
         [&](ProfileInfoUI& d) {
             Find<QLineEdit>(&d, "le_localGatewayName")->setText(full);
             Find<QLineEdit>(&d, "le_remoteGatewayName")->setText("b");
         },
         [](const rapidjson::Value& w) {
             std::string hex;
             for (int i = 0; i < 512; ++i) {
                 hex += "4c";
             }
             EXPECT_EQ(PayloadHex(w, 1656, 512), hex) << "no terminator in the field";
             EXPECT_EQ(PayloadHex(w, 2168, 2), "6200") << "the remote name follows directly";
         }},
    };
    for (const auto& c : cases) {
        auto d = OpenNew();
        Show(*d);
        FillIPSec(*d, c.name);
        c.change(*d);
        ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok")) << c.name;
        const auto writesLog = link.sim().Log();
        const auto writes = Requests(writesLog, 7);
        ASSERT_FALSE(writes.empty()) << c.name;
        ASSERT_EQ(Str((*writes.back())["text"]), std::string(c.name) + ".ini");
        SCOPED_TRACE(c.name);
        c.expect(*writes.back());
    }
}

// ---- Read back -----------------------------------------------------------------------------

#define CFM(name) "/RETURN_CFM_MSGCODE/CFM_MSGCODE_" name

// An IPSec record the page checks accept as it is read: what a save needs.
const char kSavableIPSec[] =
    R"("uiLinkType": 2, "acLnsServer": "192.0.2.20", "acTunnelName": "t", "uiIpsecEnable": 1,)"
    R"( "uiAuthMethod": 1, "acPreSharedKey": "x", "uiNegoMode": 2, "uiIkeSaLifetime": 86400,)"
    R"( "uiIpsecSaLifetime": 3600, "uiEspEncryAlgo": 1073750016, "uiIkeEncryAlgo": 10,)"
    R"( "uiDhGroup": 5)";

struct ReadCase {
    const char* name;
    LINK_TYPE type;  // Office is an SSL VPN profile, Branch an L2TP/IPSec one
    int pluginMode;
    std::string script;
    std::function<void(ProfileInfoUI&, ui_test::SimLink&, BoxDriver&)> expect;
    size_t boxes;
};

TEST_F(RecordsTest, ReadBackChecksAndFill) {
    const QString mark = Text(KEY("DEFAULT_GATEWAY"));
    const auto ssl = [](const std::string& fields) {
        return ReadScript(6, "0xD000B", "CFM_SSL_PROFILE_S", R"("uiLinkType": 1, )" + fields);
    };
    const auto ipsec = [](const std::string& fields) {
        return ReadScript(8, "0xD000F", "CFM_IPSEC_PROFILE_S", std::string(kSavableIPSec) + ", " + fields);
    };
    const auto text = [](ProfileInfoUI& d, const char* name) {
        return Find<QLineEdit>(&d, name)->text();
    };
    const auto rows = [](ProfileInfoUI& d, const char* list, int column) {
        return Column(Find<QTreeWidget>(&d, list), column);
    };
    const ReadCase cases[] = {
        {"seventeen gateways", LINK_TYPE_SSL, 0,
         ssl(R"("acDescription": "seen", "uiGatewayNum": 17)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver& b) {
             ExpectSharedWarning(b.Seen()[0], KEY("FILE_CHECK_FAILD"));
             EXPECT_TRUE(text(d, "le_descriptionMsgSSL").isEmpty()) << "nothing of it shown";
         },
         1},
        {"seventeen gateways in plugin mode", LINK_TYPE_SSL, 1,
         ssl(R"("acDescription": "seen", "uiGatewayNum": 17)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver& b) {
             ExpectSharedWarning(b.Seen()[0], KEY("FILE_CHECK_FAILD"));
             EXPECT_TRUE(text(d, "le_descriptionMsgSSL").isEmpty());
         },
         1},
        {"a negative count", LINK_TYPE_SSL, 0,
         ssl(R"("acDescription": "seen", "uiGatewayNum": 2147483648, "uiPort": 70000)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_EQ(text(d, "le_descriptionMsgSSL"), QString("seen"));
             EXPECT_EQ(Find<QTreeWidget>(&d, "tw_serverAddress")->topLevelItemCount(), 0);
             EXPECT_EQ(text(d, "le_port"), QString("443"));
         },
         0},
        {"skipped entries and the default among the rows shown", LINK_TYPE_SSL, 0,
         ssl(R"("uiGatewayNum": 5, "uiDefaultGateway": 2,)"
             R"( "astGateway[0].acAddress": "10.0.0.1", "astGateway[0].uiPort": 443,)"
             R"( "astGateway[1].acAddress": "bad host", "astGateway[1].uiPort": 443,)"
             R"( "astGateway[2].acAddress": "10.0.0.1", "astGateway[2].uiPort": 444,)"
             R"( "astGateway[3].acAddress": "h.example.com", "astGateway[3].uiPort": 70000,)"
             R"( "astGateway[4].acAddress": "", "astGateway[4].uiPort": 1)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_EQ(rows(d, "tw_serverAddress", 0), (QStringList{"10.0.0.1", "h.example.com"}));
             EXPECT_EQ(rows(d, "tw_serverAddress", 1), (QStringList{"443", "443"}));
             // Index 2 names no row shown: the index stays as it was.
             EXPECT_EQ(rows(d, "tw_serverAddress", 2), (QStringList{"", ""}));
             EXPECT_EQ(ProfileInfoUITestPeer::Private(d)->defaultGatewayIndex, -1);
         },
         0},
        {"the default on the second row shown", LINK_TYPE_SSL, 0,
         ssl(R"("uiGatewayNum": 3, "uiDefaultGateway": 1,)"
             R"( "astGateway[0].acAddress": "bad host", "astGateway[0].uiPort": 443,)"
             R"( "astGateway[1].acAddress": "10.0.0.1", "astGateway[1].uiPort": 443,)"
             R"( "astGateway[2].acAddress": "10.0.0.2", "astGateway[2].uiPort": 443)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_EQ(rows(d, "tw_serverAddress", 2), (QStringList{"", mark}));
             EXPECT_EQ(ProfileInfoUITestPeer::Private(d)->defaultGatewayIndex, 1);
         },
         0},
        {"lifetimes out of range", LINK_TYPE_IPSEC, 0,
         ReadScript(8, "0xD000F", "CFM_IPSEC_PROFILE_S",
                    R"("uiLinkType": 2, "uiIpsecEnable": 1, "uiIkeSaLifetime": 0, "uiIpsecSaLifetime": 29)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_EQ(text(d, "le_ikeSADuration"), QString("86400"));
             EXPECT_EQ(text(d, "le_ipsecSADuration"), QString("3600"));
         },
         0},
        {"lifetimes at and past the top", LINK_TYPE_IPSEC, 0,
         ipsec(R"("uiIkeSaLifetime": 604801, "uiIpsecSaLifetime": 604800)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_EQ(text(d, "le_ikeSADuration"), QString("86400"));
             EXPECT_EQ(text(d, "le_ipsecSADuration"), QString("604800"));
         },
         0},
        {"routes clamped and repeated", LINK_TYPE_IPSEC, 0,
         ipsec(R"("uiRouteMode": 1, "uiRouteNum": 4,)"
               R"( "astRoute[0].uiAddress": 0, "astRoute[0].uiMask": 4278190080,)"
               R"( "astRoute[1].uiAddress": 3858759680, "astRoute[1].uiMask": 4278190080,)"
               R"( "astRoute[2].uiAddress": 167772160, "astRoute[2].uiMask": 4294901760,)"
               R"( "astRoute[3].uiAddress": 167772160, "astRoute[3].uiMask": 4294901760)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_EQ(rows(d, "tw_router", 0), (QStringList{"1.0.0.0", "223.0.0.0", "10.0.0.0"}));
             EXPECT_EQ(rows(d, "tw_router", 1),
                       (QStringList{"255.0.0.0", "255.0.0.0", "255.255.0.0"}));
             EXPECT_TRUE(Find<QRadioButton>(&d, "rb_HandConfig")->isChecked());
             EXPECT_TRUE(Find<QTreeWidget>(&d, "tw_router")->isEnabled());
         },
         0},
        {"a route count past the table", LINK_TYPE_IPSEC, 0, ipsec(R"("uiRouteNum": 65)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver& b) {
             ExpectSharedWarning(b.Seen()[0], KEY("FILE_CHECK_FAILD"));
             EXPECT_TRUE(text(d, "le_LNSServer").isEmpty());
         },
         1},
        {"no ESP encryption leaves the set-up's", LINK_TYPE_IPSEC, 0,
         ipsec(R"("uiEspEncryAlgo": 0)"),
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_EQ(Find<QComboBox>(&d, "cb_ESPEncryAlgo")->currentText(), QString("AES-256"));
         },
         0},
        // Values no item offers are kept and written back by a save that does not touch
        // them; a peer server beside the LNS keeps its box unchecked and its field.
        {"unlisted algorithms and a server of its own", LINK_TYPE_IPSEC, 0,
         ipsec(R"("uiEspAuthAlgo": 2097152, "uiIkeAuthAlgo": 6, "uiUseLnsAddress": 0,)"
               R"( "acIpsecServer": "192.0.2.30")"),
         [&](ProfileInfoUI& d, ui_test::SimLink& link, BoxDriver&) {
             EXPECT_EQ(Find<QComboBox>(&d, "cb_ESPAuthAlgo")->currentIndex(), -1);
             EXPECT_EQ(Find<QComboBox>(&d, "cb_authAlgo")->currentIndex(), -1);
             EXPECT_FALSE(Find<QCheckBox>(&d, "cb_LNSServer")->isChecked());
             EXPECT_TRUE(Find<QLineEdit>(&d, "le_IPSECServer")->isEnabled());
             EXPECT_EQ(text(d, "le_IPSECServer"), QString("192.0.2.30"));
             ASSERT_TRUE(BoxDriver::ClickButton(&d, "pb_save"));
             const auto writesLog = link.sim().Log();
             auto writes = Requests(writesLog, 7);
             ASSERT_EQ(writes.size(), 1u);
             EXPECT_EQ(U((*writes[0])["fields"], "uiEspAuthAlgo"), 0x00200000u);
             EXPECT_EQ(U((*writes[0])["fields"], "uiIkeAuthAlgo"), 6u);
             EXPECT_EQ(U((*writes[0])["fields"], "uiUseLnsAddress"), 0u);
             EXPECT_EQ(Str((*writes[0])["fields"]["acIpsecServer"]), "192.0.2.30");
             // Once the user picks an item, its value is written. (The save emptied the
             // key field: a second one needs the key again.)
             ASSERT_TRUE(BoxDriver::TypeInto(&d, "le_statusConfirm", "x"));
             Find<QComboBox>(&d, "cb_ESPAuthAlgo")->setCurrentIndex(0);
             Find<QComboBox>(&d, "cb_authAlgo")->setCurrentIndex(1);
             ASSERT_TRUE(BoxDriver::ClickButton(&d, "pb_save"));
             const auto againLog = link.sim().Log();
             writes = Requests(againLog, 7);
             ASSERT_EQ(writes.size(), 2u);
             EXPECT_EQ(U((*writes[1])["fields"], "uiEspAuthAlgo"), 0x00010000u);
             EXPECT_EQ(U((*writes[1])["fields"], "uiIkeAuthAlgo"), 1u);
         },
         0},
        {"a refused read", LINK_TYPE_SSL, 0,
         R"({"msgType": 9, "code": 6, "replies": [{"code": "0xD000C"}]})",
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver& b) {
             ExpectSharedWarning(b.Seen()[0], CFM("PROFILE_READ_SSL_FAIL"));
             EXPECT_TRUE(text(d, "le_gatewayAddress").isEmpty()) << "the page as set up";
             EXPECT_EQ(Find<QTreeWidget>(&d, "tw_serverAddress")->topLevelItemCount(), 0);
             EXPECT_EQ(Find<QComboBox>(&d, "cb_tunnelMode")->currentIndex(), 2);
         },
         1},
        {"a refused read in plugin mode", LINK_TYPE_SSL, 1,
         R"({"msgType": 9, "code": 6, "replies": [{"code": "0xD000C"}]})",
         [&](ProfileInfoUI& d, ui_test::SimLink&, BoxDriver&) {
             EXPECT_TRUE(text(d, "le_gatewayAddress").isEmpty());
             EXPECT_EQ(Find<QTreeWidget>(&d, "tw_serverAddress")->topLevelItemCount(), 0);
         },
         0},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ui_test::SimLink link(std::string(R"("scripts": [)") + c.script + "]");
        ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
        UIContext::GetInstance()->SetPluginMode(c.pluginMode);
        driver.Clear();
        for (size_t i = 0; i < c.boxes; ++i) {
            driver.Answer(ok);
        }
        auto d = OpenOn(c.type == LINK_TYPE_SSL ? "Office" : "Branch", c.type);
        ASSERT_EQ(driver.Seen().size(), c.boxes);
        c.expect(*d, link, driver);
        UIContext::GetInstance()->SetPluginMode(0);
    }
}

// ---- Failures of create and save -------------------------------------------------------------

TEST_F(RecordsTest, CreateRefusedOrUnansweredEndsWithTheFailureBox) {
    const struct {
        const char* reply;
        int pluginMode;
        const char* firstKey;  // null: only the failure box
    } cases[] = {
        {R"({"code": "0xD000A"})", 0, CFM("PROFILE_WRITE_SSL_FAIL")},
        {R"({"code": "0xD000A"})", 1, nullptr},
        {R"({"noReply": true})", 0, ""},
        {R"({"noReply": true})", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.reply) + " plugin " + std::to_string(c.pluginMode));
        ui_test::SimLink link(std::string(R"("scripts": [{"msgType": 9, "code": 5, "replies": [)") +
                              c.reply + "]}]");
        ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
        uiSyncTimeoutDivisorSet(200);
        UIContext::GetInstance()->SetPluginMode(c.pluginMode);
        auto d = OpenNew();
        Show(*d);
        ASSERT_TRUE(BoxDriver::TypeInto(d.get(), "le_connectNameSSL", "Lab"));
        ASSERT_TRUE(BoxDriver::TypeInto(d.get(), "le_gatewayAddress", "10.1.1.1"));
        ASSERT_TRUE(BoxDriver::TypeInto(d.get(), "le_port", "443"));
        QSignalSpy created(d.get(), &ProfileInfoUI::signal_newconnect);
        bool closedFirst = false;
        const size_t before = driver.Seen().size();
        if (c.firstKey != nullptr) {
            driver.Answer(ok);
        }
        driver.AnswerWith([&](QWidget* box) {
            closedFirst = !d->isVisible();
            BoxDriver::Respond(box, ok);
        });
        ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
        const auto& seen = driver.Seen();
        ASSERT_EQ(seen.size(), before + (c.firstKey != nullptr ? 2 : 1));
        if (c.firstKey != nullptr) {
            if (*c.firstKey != '\0') {
                ExpectSharedWarning(seen[before], c.firstKey);
            } else {
                EXPECT_EQ(seen[before].text,
                          LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
            }
        }
        ExpectOwnBox(seen.back(), QMessageBox::Critical, KEY("CREATECONNECTION_FAIL"));
        EXPECT_TRUE(closedFirst) << "the dialog closes before the box";
        EXPECT_EQ(d->result(), int(QDialog::Accepted));
        EXPECT_EQ(created.size(), 0);
        UIContext::GetInstance()->SetPluginMode(0);
    }
}

// Written, but the configuration could not be read back: the main window has been told,
// the dialog stays, and the name is now taken.
TEST_F(RecordsTest, CreateWrittenButNotReReadStaysOpen) {
    ui_test::SimLink link(R"("scripts": [{"msgType": 9, "code": 2, "replies": [{"code": "0xD0003"}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    auto d = OpenNew();
    Show(*d);
    ASSERT_TRUE(BoxDriver::TypeInto(d.get(), "le_connectNameSSL", "Lab"));
    ASSERT_TRUE(BoxDriver::TypeInto(d.get(), "le_gatewayAddress", "10.1.1.1"));
    ASSERT_TRUE(BoxDriver::TypeInto(d.get(), "le_port", "443"));
    QSignalSpy created(d.get(), &ProfileInfoUI::signal_newconnect);
    // The signal goes out before the configuration is read.
    bool readBeforeSignal = true;
    QObject::connect(d.get(), &ProfileInfoUI::signal_newconnect, d.get(), [&] {
        readBeforeSignal = !Requests(link.sim().Log(), 2).empty();
    });
    const size_t before = driver.Seen().size();
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
    ASSERT_EQ(created.size(), 1);
    EXPECT_FALSE(readBeforeSignal);
    EXPECT_EQ(created[0][0].toString(), QString("Lab"));
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(driver.Seen().size(), before) << "the failed read-back adds no box of the dialog";

    driver.Answer(ok);
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
    ASSERT_EQ(driver.Seen().size(), before + 1);
    EXPECT_EQ(driver.Seen().back().text, Text(KEY("CONNECTIONNAME_EXIST")));
    EXPECT_EQ(created.size(), 1);
    EXPECT_EQ(Requests(link.sim().Log(), 5).size(), 1u);
}

// A refused save keeps the user's edits in the dialog and tells the main window nothing.
TEST_F(RecordsTest, RefusedSaveKeepsTheDialogOpen) {
    ui_test::SimLink link(R"("scripts": [{"msgType": 9, "code": 5, "replies": [{"code": "0xD000A"}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    auto d = OpenOn("Office", LINK_TYPE_SSL);
    Show(*d);
    // The stored address is listed already; the field is left empty, as a user would.
    Find<QLineEdit>(d.get(), "le_gatewayAddress")->clear();
    ASSERT_TRUE(BoxDriver::TypeInto(d.get(), "le_descriptionMsgSSL", "edited"));
    QSignalSpy saved(d.get(), &ProfileInfoUI::signal_sendNewConnect);
    driver.Answer(ok);
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_save"));
    ASSERT_EQ(Requests(link.sim().Log(), 5).size(), 1u);
    ExpectSharedWarning(driver.Seen().back(), CFM("PROFILE_WRITE_SSL_FAIL"));
    EXPECT_EQ(saved.size(), 0);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(Find<QLineEdit>(d.get(), "le_descriptionMsgSSL")->text(), QString("edited"));

    // Accepted the second time: told, and closed.
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_save"));
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0][0].toString(), QString("Office"));
    EXPECT_EQ(saved[0][1].toString(), QString("Office"));
    EXPECT_EQ(saved[0][2].value<LINK_TYPE>(), LINK_TYPE_SSL);
    EXPECT_FALSE(d->isVisible());
}

// ---- Import and export --------------------------------------------------------------------------

TEST_F(RecordsTest, ImportChecksTheProfileName) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const QString tmp = QString::fromLocal8Bit(std::getenv("TMPDIR"));
    // Files the service itself wrote, to import again.
    for (const char* name : {"a.b.ini", "Office.ini"}) {
        char key[256] = {};
        uint32_t done = 0;
        const QByteArray path = (tmp + "/" + name).toUtf8();
        ASSERT_EQ(UI_CfmProfile_Output(path.constData(), "Office.ini", key, &done), 0);
        ASSERT_EQ(done, 1u) << name;
    }
    const QString longName = "a." + QString(126, QLatin1Char('x'));
    const QString wideName = "a." + QString(42, QChar(0x4E00));  // 128 bytes
    const struct {
        QString file;
        const char* profile;  // null: refused before anything is sent
    } cases[] = {
        {"a b.ini", nullptr},
        {"a.b c.ini", nullptr},
        {".ini", nullptr},
        {longName + ".ini", nullptr},
        {wideName + ".ini", nullptr},
        {"a.b.ini", "a.b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const size_t imports = Requests(link.sim().Log(), 9).size();
        auto d = OpenNew();
        Show(*d);
        ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_input"));
        auto* path = Find<QLineEdit>(d.get(), "le_inputProfile");
        path->setText(tmp + "/" + c.file);
        QSignalSpy created(d.get(), &ProfileInfoUI::signal_newconnect);
        const size_t before = driver.Seen().size();
        if (c.profile == nullptr) {
            driver.Answer(ok);
        }
        ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
        if (c.profile == nullptr) {
            ASSERT_EQ(driver.Seen().size(), before + 1);
            ExpectSharedWarning(driver.Seen().back(), KEY("IMPORT_FILE_FAIL"));
            EXPECT_TRUE(path->text().isEmpty());
            EXPECT_EQ(Requests(link.sim().Log(), 9).size(), imports);
            EXPECT_EQ(created.size(), 0);
            EXPECT_TRUE(d->isVisible());
        } else {
            EXPECT_EQ(driver.Seen().size(), before);
            EXPECT_EQ(Requests(link.sim().Log(), 9).size(), imports + 1);
            ASSERT_EQ(created.size(), 1);
            EXPECT_EQ(created[0][0].toString(), QString(c.profile));
            EXPECT_EQ(created[0][1].value<LINK_TYPE>(), LINK_TYPE_SSL);
            EXPECT_FALSE(d->isVisible());
            EXPECT_NE(d->result(), int(QDialog::Accepted)) << "an import only closes";
        }
    }

    // An empty path is marked; a file too big for the service is its refusal.
    auto d = OpenNew();
    Show(*d);
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_input"));
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
    EXPECT_TRUE(Marked(Find(d.get(), "le_inputProfile")));
    ASSERT_EQ(link.sim().Control(R"(script set 9 9 {"code": "0xD0013"})").rfind("OK", 0), 0u);
    Find<QLineEdit>(d.get(), "le_inputProfile")->setText(tmp + "/a.b.ini");
    driver.Answer(ok);
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_ok"));
    ExpectSharedWarning(driver.Seen().back(), CFM("PROFILE_INPUT_TOO_BIG"));
    EXPECT_TRUE(d->isVisible());

    // Imported over a stored profile of its kind: the service replaces it, and the main
    // window still lists it once.
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    MainUI window(nullptr);
    window.Init();
    auto* combo = window.findChild<QComboBox*>("cb_linkname");
    const int offices = RowTexts(combo).count("Office");
    ASSERT_EQ(offices, 1);
    driver.AnswerWith([&](QWidget* box) {
        ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_input"));
        Find<QLineEdit>(box, "le_inputProfile")->setText(tmp + "/Office.ini");
        ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_ok"));
    });
    LeftClick(Row(combo, 0));
    EXPECT_EQ(RowTexts(combo).count("Office"), 1) << RowTexts(combo).join(",").toStdString();
    EXPECT_EQ(combo->currentText(), QString("Office"));
}

TEST_F(RecordsTest, ExportCancelledOrRefused) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const QString current = QStringLiteral("rgb(194, 34, 51)");
    const QString other = QStringLiteral("rgb(79, 78, 78)");
    auto d = OpenOn("Office", LINK_TYPE_SSL);
    Show(*d);
    auto* output = Find<QPushButton>(d.get(), "pb_output");
    auto* sslEntry = Find<QPushButton>(d.get(), "pb_SSL");
    auto* ipsecEntry = Find<QPushButton>(d.get(), "pb_IPSec");

    driver.Answer("Cancel");
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_output"));
    EXPECT_EQ(driver.Seen().back().className, QString("QFileDialog"));
    EXPECT_TRUE(Requests(link.sim().Log(), 10).empty());
    EXPECT_TRUE(sslEntry->styleSheet().contains(current));
    EXPECT_TRUE(ipsecEntry->styleSheet().contains(current));
    EXPECT_TRUE(output->styleSheet().contains(other));

    driver.AnswerWith([](QWidget* box) { ASSERT_TRUE(BoxDriver::ChooseFile(box, "/etc/Office.ini")); });
    driver.Answer(ok);
    ASSERT_TRUE(BoxDriver::ClickButton(d.get(), "pb_output"));
    ASSERT_EQ(Requests(link.sim().Log(), 10).size(), 1u);
    ExpectSharedWarning(driver.Seen().back(), CFM("PROFILE_OUTPUT_PATH_INVALID"));
    EXPECT_TRUE(output->styleSheet().contains(current)) << "the export entry stays selected";
    EXPECT_FALSE(QFile::exists("/etc/Office.ini"));
}

// ---- Delete ---------------------------------------------------------------------------------------

TEST_F(RecordsTest, DeleteAsksTheService) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    auto d = OpenNew();
    EXPECT_TRUE(d->ProfileInfoUI_Connect_Delete("Branch.ini"));
    const auto deletesLog = link.sim().Log();
    const auto deletes = Requests(deletesLog, 12);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(Str((*deletes[0])["text"]), "Branch.ini");
    EXPECT_EQ(StoredProfile(State(link.sim()), "Branch.ini"), nullptr);
    EXPECT_TRUE(driver.Seen().empty());

    driver.Answer(ok);
    EXPECT_FALSE(d->ProfileInfoUI_Connect_Delete("Nobody.ini"));
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_FALSE(driver.Seen()[0].text.isEmpty());
    EXPECT_EQ(driver.Seen()[0].icon, int(QMessageBox::Warning));
}

}  // namespace
