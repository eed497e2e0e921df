// The proxy dialog: the type list per link type, the stored proxy shown, the system's
// proxy read on demand, the field checks and the commit to the service.

#include "proxysetting.h"

#include <cstdint>
#include <cstring>

#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVariant>

#include "ddm_log.h"
#include "languagesetting.h"
#include "mcomboboxitem.h"
#include "servicelink.h"
#include "ui_proxysetting.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

// Stored types (the configuration's proxy type).
constexpr int kTypeNone = 0;
constexpr int kTypeSystemHttps = 1;
constexpr int kTypeSystemSocks5 = 2;
constexpr int kTypeHttps = 3;
constexpr int kTypeSocks5 = 4;

// The record's text fields less their terminators.
constexpr int kAccountBytes = 255;
constexpr int kPasswordBytes = 127;

const char kSecretPlaceholder[] = "******";

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// The configuration keeps the type in an unsigned field; a value with the top bit set
// (such as 0xFFFFFFFF) means "no proxy configured" and must read as negative.
int StoredType() { return static_cast<int>(UISystemProfile::GetInstance()->GetProxyType()); }

int LinkType() { return UIContext::GetInstance()->GetLinkType(); }

bool IsSslOrNone(int link) { return link == LINK_TYPE_NONE || link == LINK_TYPE_SSL; }

struct TypeItem {
    const char* text;
    int data;
    const char* key;
};

const TypeItem kSslItems[] = {
    {"no proxy", kTypeNone, "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_NOPROXY"},
    {"system proxy", kTypeSystemHttps, "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_SYSTEMPROXY"},
    {"https proxy", kTypeHttps, "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_HTTPPROXY"},
    {"socket5 proxy", kTypeSocks5, "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_SOCKS5PROXY"},
};
const TypeItem kIpsecItems[] = {
    {"no proxy", kTypeNone, "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_NOPROXY"},
    {"socket5 proxy", kTypeSocks5, "/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_SOCKS5PROXY"},
};

// The items offered for a link type; none for an unknown one.
const TypeItem* ItemsFor(int link, int* count) {
    if (IsSslOrNone(link)) {
        *count = int(sizeof(kSslItems) / sizeof(kSslItems[0]));
        return kSslItems;
    }
    if (link == LINK_TYPE_IPSEC) {
        *count = int(sizeof(kIpsecItems) / sizeof(kIpsecItems[0]));
        return kIpsecItems;
    }
    *count = 0;
    return nullptr;
}

bool IsAsciiLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool IsAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

class ProxySettingPrivate {
public:
    // The stored type that "system proxy" stands for: 1 (HTTPS) or 2 (SOCKS5), as the
    // configuration or the latest reading of the system's proxy says; -1 before either.
    int systemProxyKind = -1;
    // The user typed in the password field: only then does its text reach the record.
    bool passwordEdited = false;
    // The latest texts that fit their record fields, put back when an edit overflows.
    QString lastAccount;
    QString lastPassword;
};

ProxySetting::ProxySetting(QWidget* parent)
    : basewidget(parent), ui(new Ui_ProxySetting), d(new ProxySettingPrivate) {
    ui->setupUi(this);
    // Every text the field takes, the dialog's own included, is the one to fall back on
    // while it fits the record; the user's edits are checked against it as they come.
    connect(ui->le_proxyPassword, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (Util_CheckUtf8Length(text, kPasswordBytes)) {
            d->lastPassword = text;
        }
    });
    // Settings change only while no connection is up.
    ui->pb_Commit->setEnabled(UIContext::GetInstance()->GetSettingEnable());
}

ProxySetting::~ProxySetting() {
    delete ui;
    delete d;
}

void ProxySetting::InitWidget() {
    basewidget::InitWidget();
    ui->pb_Commit->setDefault(true);
    ProxySetting_Type_Init();
    d->passwordEdited = false;
    // What the service holds now; a failed read leaves an empty record, shown as such.
    (void)UISystemProfile::GetInstance()->Read();
    EmptyFields();
    const int stored = StoredType();
    if (stored < 0) {
        return;
    }
    // The enabled fields must match the item that shows the stored type, so the step
    // gets that item's position, not the type's value.
    const int shown = ui->cb_proxyType->findData(
        stored == kTypeSystemSocks5 ? kTypeSystemHttps : stored);
    ProfileInfoUI_ProxySetting_Changed(shown < 0 ? 0 : shown);
    ProxySetting_Values_Load();
    // Connected only now: the load's own selection must not run the type change again.
    connect(ui->cb_proxyType, SIGNAL(currentIndexChanged(int)), this,
            SLOT(ProfileInfoUI_ProxySetting_Changed(int)), Qt::UniqueConnection);
}

void ProxySetting::SetInputControl() {
    ui->le_proxyAccount->setMaxLength(255);
    ui->le_proxyPassword->setMaxLength(127);
    ui->le_proxyAddress->setMaxLength(127);
    ui->le_proxyPort->setMaxLength(127);
    ui->le_proxyPort->setValidator(new QIntValidator(0, 65535, this));
    Util_SetNoChineseValidator(ui->le_proxyPassword);
}

void ProxySetting::SetLanguageText() {
    setWindowTitle(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PROXYSETTING"));
    int count = 0;
    const TypeItem* items = ItemsFor(LinkType(), &count);
    for (int i = 0; i < count && i < ui->cb_proxyType->count(); ++i) {
        ui->cb_proxyType->setItemText(i, Text(items[i].key));
    }
    ui->l_proxyAddress->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ADDRESS"));
    ui->l_proxyPort->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PORT"));
    ui->l_proxyAccount->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ACCOUNT"));
    ui->l_proxyPassword->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PASSWORD"));
    ui->l_proxyType->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PROXYTYPE"));
    ui->pb_Cancle->setText(Text("/UI_PROXYSETTING/UI_PROXYSETTING_CANCLE"));
    ui->pb_Commit->setText(Text("/UI_PROXYSETTING/UI_PROXYSETTING_OK"));
}

void ProxySetting::SetToolTip() {
    ui->le_proxyAddress->setToolTip(Text("/UI_PROXYSETTING/UI_PROXYSETTING_ADDRESS_TOOLTIP"));
    ui->le_proxyPort->setToolTip(Text("/UI_PROXYSETTING/UI_PROXYSETTING_PORT_TOOLTIP"));
    ui->le_proxyAccount->setToolTip(Text("/UI_PROXYSETTING/UI_PROXYSETTING_ACCOUNT_TOOLTIP"));
    ui->le_proxyPassword->setToolTip(Text("/UI_PROXYSETTING/UI_PROXYSETTING_PASSWORD_TOOLTIP"));
}

void ProxySetting::ProxySetting_Type_Init() {
    ui->cb_proxyType->clear();
    int count = 0;
    const TypeItem* items = ItemsFor(LinkType(), &count);
    for (int i = 0; i < count; ++i) {
        ui->cb_proxyType->addItem(QString::fromLatin1(items[i].text), items[i].data);
    }
}

void ProxySetting::ProxySetting_Values_Load() {
    UISystemProfile* profile = UISystemProfile::GetInstance();
    const int stored = StoredType();
    const int link = LinkType();
    if (IsSslOrNone(link)) {
        switch (stored) {
            case kTypeSystemHttps:
            case kTypeSystemSocks5:
                ui->cb_proxyType->setCurrentIndex(1);
                d->systemProxyKind = stored;
                break;
            case kTypeNone: ui->cb_proxyType->setCurrentIndex(0); break;
            case kTypeHttps: ui->cb_proxyType->setCurrentIndex(2); break;
            case kTypeSocks5: ui->cb_proxyType->setCurrentIndex(3); break;
            default: break;
        }
    } else if (link == LINK_TYPE_IPSEC) {
        if (stored == kTypeNone) {
            ui->cb_proxyType->setCurrentIndex(0);
            return;
        }
        if (stored != kTypeSocks5) {
            return;
        }
        ui->cb_proxyType->setCurrentIndex(1);
        ui->groupBox_2->setEnabled(true);
        SetAddressAndPortEnabled(true);
    }

    // A stored address may carry a scheme-like prefix ("socks/host"); only the host is
    // shown.
    QString address = profile->GetProxyAddr();
    const int slash = address.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0) {
        address = address.mid(slash + 1);
    }
    ui->le_proxyAddress->setText(address);
    const int port = static_cast<int>(profile->GetProxyPort());
    ui->le_proxyPort->setText(port == 0 ? QString() : QString::number(port));
    ui->le_proxyAccount->setText(profile->GetProxyUser());
    ShowPasswordPlaceholder();
}

void ProxySetting::ProfileInfoUI_ProxySetting_Changed(int index) {
    ClearMarks();
    EmptyFields();
    const int link = LinkType();
    int position = index;
    if (IsSslOrNone(link)) {
        if (position == 0) {
            ui->groupBox_2->setEnabled(false);
            return;
        }
        if (position == 1) {
            // The system decides address and port; account and password stay the user's.
            ProxySetting_SystemProxy_Get();
            ui->groupBox_2->setEnabled(true);
            SetAddressAndPortEnabled(false);
            return;
        }
        ui->groupBox_2->setEnabled(true);
    } else if (link == LINK_TYPE_IPSEC) {
        if (position != 1) {
            ui->groupBox_2->setEnabled(false);
            return;
        }
        ui->groupBox_2->setEnabled(true);
        position = 3;  // the IPSec list's second item is the SOCKS5 proxy
    } else {
        return;
    }
    SetAddressAndPortEnabled(true);
    const int stored = StoredType();
    if ((position == 3 && stored == kTypeSocks5) || (position == 2 && stored == kTypeHttps)) {
        ProxySetting_Values_Load();
    }
}

void ProxySetting::ProxySetting_SystemProxy_Get() {
    const int stored = StoredType();
    if (stored == kTypeSystemHttps || stored == kTypeSystemSocks5) {
        ui->le_proxyAccount->setText(UISystemProfile::GetInstance()->GetProxyUser());
        ShowPasswordPlaceholder();
    }
    char text[256] = {};
    uint16_t port = 0;
    char reserved[256] = {};
    uint32_t found = 0;
    if (UI_ProxyServerInfo_Get(text, sizeof(text), &port, reserved, &found) != 0 || found != 1) {
        Util_ShowWarning(Text("UI_PROXYSETTING/UI_PROXYSETTING_GETPROXT_FAIL"), QString(), -1);
        return;
    }
    const QString reading = QString::fromLocal8Bit(text, int(::strnlen(text, sizeof(text))));
    const int colon = reading.indexOf(QLatin1Char(':'));
    const QString scheme = colon < 0 ? reading : reading.left(colon);
    const QString address = colon < 0 ? reading : reading.mid(colon + 1);
    if (scheme == QLatin1String("Https")) {
        d->systemProxyKind = kTypeSystemHttps;
    } else if (scheme == QLatin1String("Socks5")) {
        d->systemProxyKind = kTypeSystemSocks5;
    }
    ui->le_proxyAddress->setText(address);
    ui->le_proxyPort->setText(QString::number(port));
    Util_WriteLog(0, DDM_LOG_DEBUG,
                  "[Get system proxy succed][address is    " + reading + ", port is " +
                      QString::number(port) + "]");
}

void ProxySetting::on_pb_Cancle_clicked() { close(); }

void ProxySetting::on_pb_Commit_clicked() {
    if (ui->cb_proxyType->currentIndex() > 0 && !ProxySetting_Input_Check()) {
        return;
    }
    UISystemProfile* profile = UISystemProfile::GetInstance();
    profile->SetProxyAddr(ui->le_proxyAddress->text());
    profile->SetProxyUser(ui->le_proxyAccount->text());
    profile->SetProxyPwd(ui->le_proxyPassword->text());
    const QString port = ui->le_proxyPort->text();
    profile->SetProxyPort(port.isEmpty() ? 0u : static_cast<uint32_t>(port.toInt()));

    bool known = false;
    const int data = ui->cb_proxyType->currentData().toInt(&known);
    if (known) {
        switch (data) {
            case kTypeNone: profile->SetProxyType(kTypeNone); break;
            case kTypeSystemHttps:
            case kTypeSystemSocks5:
                profile->SetProxyType(static_cast<uint32_t>(d->systemProxyKind));
                break;
            case kTypeHttps: profile->SetProxyType(kTypeHttps); break;
            case kTypeSocks5: profile->SetProxyType(kTypeSocks5); break;
            default: break;
        }
    }

    // The field shows a placeholder for a stored password: unless the user typed one,
    // the record goes out with none and the service keeps what it has.
    if (!d->passwordEdited) {
        Util_WriteLog(0, DDM_LOG_DEBUG, QStringLiteral("[Proxy pswd is not changed]"));
        profile->SetProxyPwd(QString());
        ui->le_proxyPassword->clear();
    }
    if (!profile->Save()) {
        return;  // the save has told the user
    }
    Util_WriteLog(0, DDM_LOG_DEBUG, QStringLiteral("[Save proxySetting succed]"));
    close();
}

void ProxySetting::on_le_proxyPassword_textEdited(QString text) {
    // The record holds 127 bytes of UTF-8; a longer password would be stored empty while
    // the commit reports success. The overflowing edit is undone as a whole.
    if (!Util_CheckUtf8Length(text, kPasswordBytes)) {
        ui->le_proxyPassword->setText(d->lastPassword);
        return;
    }
    d->passwordEdited = true;
}

void ProxySetting::on_le_proxyAccount_textChanged(QString text) {
    if (Util_CheckUtf8Length(text, kAccountBytes)) {
        d->lastAccount = text;
    } else {
        ui->le_proxyAccount->setText(d->lastAccount);
    }
}

bool ProxySetting::ProxySetting_Input_Check() {
    ClearMarks();
    bool ok = true;
    const QString address = ui->le_proxyAddress->text();
    if (address.isEmpty()) {
        Util_SetErrorStyle(ui->le_proxyAddress);
        ok = false;
    } else if (!ProxySetting_IPAddress_Check(address) && !ProxySetting_DomainName_Check(address)) {
        ui->le_proxyAddress->clear();
        Util_SetErrorStyle(ui->le_proxyAddress);
        ok = false;
    }
    // The validator lets a number above the range be typed on the way to a valid one
    // ("70000"); such a port is refused here like a missing one.
    QString port = ui->le_proxyPort->text();
    int at = 0;
    const QValidator* range = ui->le_proxyPort->validator();
    if (port.isEmpty() ||
        (range != nullptr && range->validate(port, at) != QValidator::Acceptable)) {
        Util_SetErrorStyle(ui->le_proxyPort);
        ok = false;
    }
    const bool hasAccount = !ui->le_proxyAccount->text().isEmpty();
    const bool hasPassword = !ui->le_proxyPassword->text().isEmpty();
    if (hasAccount && !hasPassword) {
        Util_SetErrorStyle(ui->le_proxyPassword);
        ok = false;
    }
    if (hasPassword && !hasAccount) {
        Util_SetErrorStyle(ui->le_proxyAccount);
        ok = false;
    }
    return ok;
}

bool ProxySetting::ProxySetting_IPAddress_Check(const QString& text) {
    static const QRegularExpression dottedQuad(QStringLiteral(
        "\\A(?:((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?))\\z"));
    static const QRegularExpression digits(QStringLiteral("\\A(?:[0-9]{0,127})\\z"));
    return dottedQuad.match(text).hasMatch() || digits.match(text).hasMatch();
}

bool ProxySetting::ProxySetting_DomainName_Check(const QString& text) {
    const int length = text.size();
    if (length < 3 || length > 63) {
        return false;
    }
    const QString ends = QStringLiteral("-./");
    if (ends.contains(text.front()) || ends.contains(text.back())) {
        return false;
    }
    bool dot = false;
    for (int i = 1; i < length - 1; ++i) {
        const QChar c = text.at(i);
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != QLatin1Char('-') &&
            c != QLatin1Char('.') && c != QLatin1Char('/') && c != QLatin1Char(':')) {
            return false;
        }
        const bool nextInside = i + 1 < length - 1;
        if (nextInside && (c == QLatin1Char('-') || c == QLatin1Char('.')) &&
            text.at(i + 1) == c) {
            return false;
        }
        dot = dot || c == QLatin1Char('.');
    }
    if (!dot) {
        return false;
    }
    const QString last = text.split(QLatin1Char('.')).last();
    for (const QChar c : last) {
        if (IsAsciiLetter(c)) {
            return true;
        }
    }
    return false;
}

void ProxySetting::ClearMarks() {
    Util_ClearErrorStyle(ui->le_proxyAddress);
    Util_ClearErrorStyle(ui->le_proxyPort);
    Util_ClearErrorStyle(ui->le_proxyAccount);
    Util_ClearErrorStyle(ui->le_proxyPassword);
}

void ProxySetting::EmptyFields() {
    ui->le_proxyAddress->clear();
    ui->le_proxyPort->clear();
    ui->le_proxyAccount->clear();
    ui->le_proxyPassword->clear();
}

void ProxySetting::SetAddressAndPortEnabled(bool enabled) {
    ui->l_proxyAddress->setEnabled(enabled);
    ui->le_proxyAddress->setEnabled(enabled);
    ui->l_proxyPort->setEnabled(enabled);
    ui->le_proxyPort->setEnabled(enabled);
}

// A stored password is never shown: the field says only whether there is one. What the
// user typed before is gone from the field, so the placeholder must not be taken for a
// typed password (it would replace the stored one).
void ProxySetting::ShowPasswordPlaceholder() {
    ui->le_proxyPassword->setText(UISystemProfile::GetInstance()->GetProxyPwd().isEmpty()
                                      ? QString()
                                      : QString::fromLatin1(kSecretPlaceholder));
    d->passwordEdited = false;
}
