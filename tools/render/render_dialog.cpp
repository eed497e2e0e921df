// Shows one dialog of the front end in a language, in a state a user reaches, and saves
// what the display shows of it as a PNG file. For dialogs that no road of the running
// client opens yet; scripts/render-pictures.sh runs it on its private virtual display.
//
//     render_dialog DIALOG LANGUAGE_ID RUNTIME_DIR OUT.png
//
// DIALOG is one of:
//   newvpnnetwork  the route network dialog, the address 192.168.1.0 entered and the
//                  mask's first part entered, so that the dialog proposes its mask
//   profile_gateways
//                  the new-profile dialog's SSL VPN page with three gateways added
//                  through its fields and add button, the second made the default
//   profile_ipsec  the L2TP/IPSec page with IPSec switched on, in three pictures: OUT.png
//                  at the IPSec switch, OUT-settings.png at its IPSec settings (the
//                  sub-menu's entry clicked) and OUT-routes.png at its end, with manual
//                  routes chosen and two routes listed
//   profile_route  the route network dialog opened from the L2TP/IPSec page's add button,
//                  a network typed in; the picture shows it over the profile dialog
//
// RUNTIME_DIR is the runnable tree (build/bin/), whose language files are read.

#include <cstdio>
#include <cstring>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include "languagesetting.h"
#include "myipaddredit.h"
#include "myippartlineedit.h"
#include "newvpnnetwork.h"
#include "profileinfoui.h"
#include "startup.h"
#include "uicontext.h"

namespace {

MyIpPartLineEdit* PartNamed(QWidget* dialog, const char* name) {
    for (MyIpPartLineEdit* part : dialog->findChildren<MyIpPartLineEdit*>()) {
        if (part->accessibleName() == QLatin1String(name)) {
            return part;
        }
    }
    return nullptr;
}

std::unique_ptr<QWidget> RouteNetwork() {
    auto dialog = std::make_unique<NewVPNNetwork>();
    dialog->Init();
    const char* octets[] = {"192", "168", "1", "0"};
    const char* names[] = {"ip1", "ip2", "ip3", "ip4"};
    for (int i = 0; i < 4; ++i) {
        MyIpPartLineEdit* part = PartNamed(dialog.get(), names[i]);
        if (part == nullptr) {
            return nullptr;
        }
        part->setText(QLatin1String(octets[i]));
    }
    return dialog;
}

// Runs the event loop for a while, so that the window is mapped and painted.
void Settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// ---- The profile dialog, driven as a user drives it ---------------------------------------

template <class T = QWidget>
T* Child(QWidget* root, const char* name) {
    T* child = root->findChild<T*>(QLatin1String(name));
    if (child == nullptr) {
        std::fprintf(stderr, "render_dialog: no %s\n", name);
    }
    return child;
}

void ClickOn(QWidget* root, const char* name) {
    if (auto* button = Child<QAbstractButton>(root, name)) {
        button->click();
    }
}

// Fills the field as typing would: the field's own reactions to a change run.
void TypeInto(QWidget* root, const char* name, const QString& text) {
    if (auto* field = Child<QLineEdit>(root, name)) {
        field->setFocus(Qt::MouseFocusReason);
        field->setText(text);
    }
}

bool SaveWindow(QWidget* window, const QString& path) {
    if (!window->windowHandle() || !window->windowHandle()->isExposed()) {
        std::fprintf(stderr, "render_dialog: the dialog did not show\n");
        return false;
    }
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    if (shot.isNull() || !shot.save(path, "PNG")) {
        std::fprintf(stderr, "render_dialog: no picture saved to %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The file name with a suffix before its extension: "a.png", "-x" gives "a-x.png".
QString Beside(const QString& path, const char* suffix) {
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path + QLatin1String(suffix)
                   : path.left(dot) + QLatin1String(suffix) + path.mid(dot);
}

std::unique_ptr<ProfileInfoUI> NewProfile() {
    UIContext::GetInstance()->SetNewConnect(true);
    auto dialog = std::make_unique<ProfileInfoUI>();
    dialog->Init();
    dialog->show();
    dialog->activateWindow();
    Settle(300);
    return dialog;
}

int ProfileGateways(const QString& out) {
    auto dialog = NewProfile();
    TypeInto(dialog.get(), "le_connectNameSSL", QStringLiteral("Office"));
    const char* gateways[][2] = {
        {"vpn.example.com", "443"}, {"203.0.113.10", "8443"}, {"backup.example.com", "443"}};
    for (const auto& gateway : gateways) {
        TypeInto(dialog.get(), "le_gatewayAddress", QLatin1String(gateway[0]));
        TypeInto(dialog.get(), "le_port", QLatin1String(gateway[1]));
        ClickOn(dialog.get(), "tb_add");
    }
    if (auto* list = Child<QTreeWidget>(dialog.get(), "tw_serverAddress")) {
        list->setCurrentItem(list->topLevelItem(1));
    }
    ClickOn(dialog.get(), "pb_SetPriorGateway");
    Settle(700);
    return SaveWindow(dialog.get(), out) ? 0 : 1;
}

int ProfileIPSec(const QString& out) {
    auto dialog = NewProfile();
    ClickOn(dialog.get(), "pb_IPSec");
    TypeInto(dialog.get(), "le_connectNameIPSEC", QStringLiteral("Branch"));
    TypeInto(dialog.get(), "le_LNSServer", QStringLiteral("lns.example.com"));
    TypeInto(dialog.get(), "le_tunnelName", QStringLiteral("branch-tunnel"));
    ClickOn(dialog.get(), "cb_useIPSEC");
    TypeInto(dialog.get(), "le_statusConfirm", QStringLiteral("sharedkey"));
    // The IPSec switch and its key, with the tunnel fields above them.
    auto* area = Child<QScrollArea>(dialog.get(), "scrollArea_ipsec");
    if (auto* key = Child<QLineEdit>(dialog.get(), "le_statusConfirm"); area && key) {
        area->ensureWidgetVisible(key, 0, 20);
    }
    Settle(700);
    if (!SaveWindow(dialog.get(), out)) {
        return 1;
    }
    ClickOn(dialog.get(), "pb_ipsecIPSec");
    Settle(500);
    if (!SaveWindow(dialog.get(), Beside(out, "-settings"))) {
        return 1;
    }
    ClickOn(dialog.get(), "rb_HandConfig");
    dialog->ProfileInfoUI_IPSECConnect_AddIP(QStringLiteral("192.168.10.0"),
                                             QStringLiteral("255.255.255.0"));
    dialog->ProfileInfoUI_IPSECConnect_AddIP(QStringLiteral("10.20.0.0"),
                                             QStringLiteral("255.255.0.0"));
    if (area != nullptr) {
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    }
    Settle(500);
    return SaveWindow(dialog.get(), Beside(out, "-routes")) ? 0 : 1;
}

// The route dialog runs modally inside the add button's click: it is typed into and
// photographed from a timer within its own event loop, then cancelled.
int ProfileRoute(const QString& out) {
    auto dialog = NewProfile();
    ClickOn(dialog.get(), "pb_IPSec");
    ClickOn(dialog.get(), "cb_HandConfig");
    bool saved = false;
    QTimer::singleShot(300, [&]() {
        QWidget* route = QApplication::activeModalWidget();
        if (route == nullptr || route == dialog.get()) {
            std::fprintf(stderr, "render_dialog: the route dialog did not open\n");
            return;
        }
        const char* parts[][2] = {{"ip1", "172"}, {"ip2", "16"}, {"ip3", "8"}, {"ip4", "0"}};
        for (const auto& part : parts) {
            if (MyIpPartLineEdit* field = PartNamed(route, part[0])) {
                field->setText(QLatin1String(part[1]));
            }
        }
        if (MyIpPartLineEdit* mask = PartNamed(route, "mask1")) {
            mask->setFocus(Qt::MouseFocusReason);  // the class mask is proposed
        }
        Settle(700);
        // The route dialog and the profile dialog under it, as the user sees them.
        const QRect frame = dialog->frameGeometry();
        const QPixmap shot = dialog->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                          frame.height());
        saved = !shot.isNull() && shot.save(out, "PNG");
        if (!saved) {
            std::fprintf(stderr, "render_dialog: no picture saved to %s\n", qPrintable(out));
        }
        static_cast<QDialog*>(route)->reject();
    });
    ClickOn(dialog.get(), "tb_routerAdd");
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: render_dialog DIALOG LANGUAGE_ID RUNTIME_DIR OUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    InitSystemType();  // the program's own font
    LanguageSetting::GetInstance()->Init(QString::fromLocal8Bit(argv[2]).toInt(),
                                         QString::fromLocal8Bit(argv[3]));

    const QString out = QString::fromLocal8Bit(argv[4]);
    if (std::strcmp(argv[1], "profile_gateways") == 0) {
        return ProfileGateways(out);
    }
    if (std::strcmp(argv[1], "profile_ipsec") == 0) {
        return ProfileIPSec(out);
    }
    if (std::strcmp(argv[1], "profile_route") == 0) {
        return ProfileRoute(out);
    }

    std::unique_ptr<QWidget> dialog;
    if (std::strcmp(argv[1], "newvpnnetwork") == 0) {
        dialog = RouteNetwork();
    }
    if (dialog == nullptr) {
        std::fprintf(stderr, "render_dialog: no dialog \"%s\"\n", argv[1]);
        return 2;
    }
    dialog->show();
    dialog->activateWindow();
    Settle(300);
    if (std::strcmp(argv[1], "newvpnnetwork") == 0) {
        // As a user who clicks into the mask: the class mask is proposed and selected.
        if (MyIpPartLineEdit* mask = PartNamed(dialog.get(), "mask1")) {
            mask->setFocus(Qt::MouseFocusReason);
        }
    }
    Settle(700);
    if (!dialog->windowHandle() || !dialog->windowHandle()->isExposed()) {
        std::fprintf(stderr, "render_dialog: the dialog did not show\n");
        return 1;
    }
    const QPixmap shot = dialog->screen()->grabWindow(dialog->winId());
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[4]), "PNG")) {
        std::fprintf(stderr, "render_dialog: no picture saved to %s\n", argv[4]);
        return 1;
    }
    return 0;
}
