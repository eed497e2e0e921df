// The route network dialog: one address and mask for the manual route list.

#include "newvpnnetwork.h"

#include <cstdint>

#include <QHostAddress>
#include <QLineEdit>

#include "languagesetting.h"
#include "myipaddredit.h"
#include "myippartlineedit.h"
#include "ui_newvpnnetwork.h"
#include "util.h"

namespace {

void Warn(const char* key) {
    Util_ShowWarning(LanguageSetting::GetInstance()->GetValue(QLatin1String(key)), QString(), -1);
}

}  // namespace

NewVPNNetwork::NewVPNNetwork(QWidget* parent) : basewidget(parent), ui(new Ui_NewVPNNetwork) {
    ui->setupUi(this);
}

NewVPNNetwork::~NewVPNNetwork() {
    delete ipEdit;
    delete maskEdit;
    delete ui;
}

void NewVPNNetwork::InitWidget() {
    basewidget::InitWidget();

    ipEdit = new MyIpAddrEdit(this);
    maskEdit = new MyIpAddrEdit(this);
    for (int i = 0; i < 4; ++i) {
        ipEdit->Part(i)->setAccessibleName(QStringLiteral("ip%1").arg(i + 1));
        maskEdit->Part(i)->setAccessibleName(QStringLiteral("mask%1").arg(i + 1));
    }

    // Measured before the dialog is first shown: the grid has not placed the line edits
    // yet, so the editors come to lie at fixed places of the 305 by 98 dialog.
    const QRect address = ui->le_IPAddress->geometry();
    const QRect mask = ui->le_mask->geometry();
    ipEdit->setGeometry(address.x() + 128, address.y() + 11, 160, address.height() - 9);
    maskEdit->setGeometry(mask.x() + 128, mask.y() + 39, 160, mask.height() - 9);

    // The name gives the address's first octet its own cap.
    ipEdit->Part(0)->setObjectName(QStringLiteral("ip_part1_"));

    connect(ipEdit->Part(0), &QLineEdit::editingFinished, this,
            &NewVPNNetwork::NewVPNNetworkUI_IP_Check_First);
    connect(ipEdit->Part(1), &QLineEdit::editingFinished, this,
            &NewVPNNetwork::NewVPNNetworkUI_IP_Check_First);
    for (int i = 0; i < 4; ++i) {
        connect(maskEdit->Part(i), &MyIpPartLineEdit::getfocus, this,
                &NewVPNNetwork::NewVPNNetworkUI_Mask_Init);
    }

    ipEdit->Part(0)->setFocus(Qt::OtherFocusReason);
}

void NewVPNNetwork::SetLanguageText() {
    LanguageSetting* language = LanguageSetting::GetInstance();
    setWindowTitle(language->GetValue(QStringLiteral("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_TITLE")));
    ui->l_IPAddress->setText(
        language->GetValue(QStringLiteral("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_LABEL_IPADDRESS")));
    ui->l_mask->setText(
        language->GetValue(QStringLiteral("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_LABEL_MASK")));
    ui->pb_cancel->setText(
        language->GetValue(QStringLiteral("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_PUSHBUTTON_CANCEL")));
    ui->pb_ok->setText(
        language->GetValue(QStringLiteral("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_PUSHBUTTON_OK")));
}

bool NewVPNNetwork::NewVPNNetwork_IPEdit_IsEmpty(MyIpAddrEdit* edit) {
    if (edit == nullptr) {
        return false;
    }
    bool empty = true;
    for (int i = 0; i < 4; ++i) {
        empty = empty && edit->Part(i)->text().isEmpty();
    }
    if (empty) {
        return true;
    }
    // A network typed as "10" means 10.0.0.0; the first octet is left for the checks.
    for (int i = 1; i < 4; ++i) {
        if (edit->Part(i)->text().isEmpty()) {
            edit->Part(i)->setText(QStringLiteral("0"));
        }
    }
    return false;
}

void NewVPNNetwork::on_pb_ok_clicked() {
    if (NewVPNNetwork_IPEdit_IsEmpty(ipEdit)) {
        Warn("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_IP_EMPTY");
        return;
    }
    if (NewVPNNetwork_IPEdit_IsEmpty(maskEdit)) {
        Warn("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_MASK_EMPTY");
        return;
    }
    if (ipEdit == nullptr || maskEdit == nullptr) {
        return;
    }
    // Without its first octet the address would reach the route list as ".b.c.d".
    MyIpPartLineEdit* first = ipEdit->Part(0);
    if (first->text().isEmpty()) {
        Warn("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_FIRST");
        first->setText(QStringLiteral("1"));
        first->setFocus(Qt::OtherFocusReason);
        return;
    }
    // Leading ones, then zeros: then m - 1 fills exactly the zeros. All zeros passes too,
    // as the subtraction wraps. A text that does not read as an address (no first octet,
    // or a part such as "08" that the reader takes for a bad octal number) would count
    // as 0.0.0.0, a route that catches all traffic: it is refused.
    bool isIPv4 = false;
    const uint32_t m = QHostAddress(maskEdit->text()).toIPv4Address(&isIPv4);
    if (!isIPv4 || ((m - 1u) | m) != 0xFFFFFFFFu) {
        Warn("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_MASK_ERROR");
        return;
    }
    // A host route must name a host, not the network or its broadcast address.
    const int lastAddress = ipEdit->Part(3)->text().toInt();
    if (maskEdit->Part(3)->text().toInt() == 255 && (lastAddress == 0 || lastAddress == 255)) {
        Warn("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_IPMASK_COMBINE_ERROR");
        return;
    }
    emit signal_newIP(ipEdit->text(), maskEdit->text());
    accept();
}

void NewVPNNetwork::on_pb_cancel_clicked() { reject(); }

void NewVPNNetwork::NewVPNNetworkUI_Mask_Init() {
    if (ipEdit == nullptr || maskEdit == nullptr) {
        return;
    }
    bool addressTyped = false;
    bool maskEmpty = true;
    for (int i = 0; i < 4; ++i) {
        addressTyped = addressTyped || !ipEdit->Part(i)->text().isEmpty();
        maskEmpty = maskEmpty && maskEdit->Part(i)->text().isEmpty();
    }
    // A mask the user has begun is never overwritten.
    if (!addressTyped || !maskEmpty) {
        return;
    }
    const int v = ipEdit->Part(0)->text().toInt();
    if (v >= 1 && v <= 127) {
        maskEdit->setText(QStringLiteral("255.0.0.0"));
    } else if (v >= 128 && v <= 191) {
        maskEdit->setText(QStringLiteral("255.255.0.0"));
    } else {
        maskEdit->setText(QStringLiteral("255.255.255.0"));
    }
}

void NewVPNNetwork::NewVPNNetworkUI_IP_Check_First() {
    if (ipEdit == nullptr || checkingFirst) {
        return;
    }
    MyIpPartLineEdit* first = ipEdit->Part(0);
    if (first->text().toInt() != 0) {
        return;
    }
    checkingFirst = true;
    Warn("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_1233");
    first->setText(QStringLiteral("1"));
    first->setFocus(Qt::OtherFocusReason);
    checkingFirst = false;
}

void NewVPNNetwork::NewVPNNetworkUI_IP_Check_Second() {
    if (ipEdit == nullptr || !ipEdit->Part(0)->text().isEmpty()) {
        return;
    }
    Warn("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_FIRST");
    ipEdit->Part(0)->setText(QStringLiteral("1"));
    ipEdit->Part(1)->setFocus(Qt::OtherFocusReason);
}
