// One octet of the IPv4 address editor: digits only, focus hand-over and the range cap.

#include "myippartlineedit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QRegExp>
#include <QRegExpValidator>

#include "languagesetting.h"

MyIpPartLineEdit::MyIpPartLineEdit(QWidget* parent)
    : QLineEdit(parent),
      validator(new QRegExpValidator(QRegExp(QStringLiteral("[0-9]+$")), this)) {
    setMaxLength(3);
    setFrame(false);
    setAlignment(Qt::AlignCenter);
    setValidator(validator);
    connect(this, &QLineEdit::textEdited, this, &MyIpPartLineEdit::text_edited);
}

// The validator is a child and goes with the part; the neighbours belong to the editor.
MyIpPartLineEdit::~MyIpPartLineEdit() = default;

void MyIpPartLineEdit::SetNextPart(MyIpPartLineEdit* next) { nextPart = next; }

void MyIpPartLineEdit::SetPreviousPart(MyIpPartLineEdit* previous) { previousPart = previous; }

// The whole text is selected in the part that takes over, so the next digits replace
// what it held.
void MyIpPartLineEdit::HandOver(MyIpPartLineEdit* target) {
    if (target == nullptr) {
        return;
    }
    target->setFocus(Qt::OtherFocusReason);
    target->selectAll();
}

void MyIpPartLineEdit::keyPressEvent(QKeyEvent* event) {
    const bool dotEndsPreviousOctet = enteredByFullOctet;
    enteredByFullOctet = false;
    switch (event->key()) {
        case Qt::Key_Period:
            // A dot in an empty part would leave an empty octet behind, and the dot that
            // a user types after three digits belongs to the octet that has already moved
            // the focus on: passed on, it would push the typing one part too far whenever
            // this part holds text (a proposed mask, an address typed over). Both are
            // swallowed.
            if (text().isEmpty() || dotEndsPreviousOctet) {
                return;
            }
            HandOver(nextPart);
            break;
        // Only the keypad's Enter moves on; Return stays free to finish the editing.
        case Qt::Key_Right:
        case Qt::Key_Enter:
            HandOver(nextPart);
            break;
        case Qt::Key_Left:
            HandOver(previousPart);
            break;
        default:
            break;
    }
    QLineEdit::keyPressEvent(event);
}

void MyIpPartLineEdit::focusInEvent(QFocusEvent* event) {
    enteredByFullOctet = false;
    emit getfocus();
    selectAll();
    QLineEdit::focusInEvent(event);
}

void MyIpPartLineEdit::text_edited(QString tempText) {
    // Only a complete octet is judged: one or two digits may still grow.
    if (tempText.length() != 3) {
        return;
    }
    const int value = tempText.toInt();
    // An address's first octet stops below the multicast range; every other octet at 255.
    const bool firstOctet = objectName() == QLatin1String("ip_part1_");
    const int cap = firstOctet ? 223 : 255;
    if (value <= cap) {
        HandOver(nextPart);
        if (nextPart != nullptr) {
            nextPart->enteredByFullOctet = true;
        }
        return;
    }
    LanguageSetting* language = LanguageSetting::GetInstance();
    const GLOBALLANG global = language->GetGlobalLang();
    const QString key = firstOctet ? QStringLiteral("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_0233")
                                   : QStringLiteral("/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_0255");
    QMessageBox box(QMessageBox::Warning, global.ERROR,
                    QStringLiteral("%1 %2").arg(tempText, language->GetValue(key)),
                    QMessageBox::NoButton, this);
    (void)box.addButton(global.OK, QMessageBox::AcceptRole);
    (void)box.exec();
    setText(QString::number(cap));
}
