// Shows one dialog of the front end in a language, in a state a user reaches, and saves
// what the display shows of it as a PNG file. For dialogs that no road of the running
// client opens yet; scripts/render-pictures.sh runs it on its private virtual display.
//
//     render_dialog DIALOG LANGUAGE_ID RUNTIME_DIR OUT.png
//
// DIALOG is one of:
//   newvpnnetwork  the route network dialog, the address 192.168.1.0 entered and the
//                  mask's first part entered, so that the dialog proposes its mask
//
// RUNTIME_DIR is the runnable tree (build/bin/), whose language files are read.

#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include "languagesetting.h"
#include "myipaddredit.h"
#include "myippartlineedit.h"
#include "newvpnnetwork.h"
#include "startup.h"

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
