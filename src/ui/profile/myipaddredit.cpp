// The IPv4 address editor: four octet parts and three dots at fixed places.

#include "myipaddredit.h"

#include <QLabel>
#include <QRegExp>
#include <QRegExpValidator>
#include <QStringList>

#include "myippartlineedit.h"

namespace {

QLabel* MakeDot(QWidget* parent, int x) {
    auto* dot = new QLabel(QStringLiteral(" ."), parent);
    dot->setAlignment(Qt::AlignCenter);
    dot->setGeometry(x, 1, 6, 18);
    return dot;
}

}  // namespace

MyIpAddrEdit::MyIpAddrEdit(QWidget* parent)
    : QWidget(parent),
      ip_part1(new MyIpPartLineEdit(this)),
      ip_part2(new MyIpPartLineEdit(this)),
      ip_part3(new MyIpPartLineEdit(this)),
      ip_part4(new MyIpPartLineEdit(this)),
      labeldot1(MakeDot(this, 37)),
      labeldot2(MakeDot(this, 77)),
      labeldot3(MakeDot(this, 117)) {
    const int h = height();
    MyIpPartLineEdit* parts[] = {ip_part1, ip_part2, ip_part3, ip_part4};
    for (int i = 0; i < 4; ++i) {
        parts[i]->setGeometry(40 * i, 0, 40, h);
        if (i < 3) {
            parts[i]->SetNextPart(parts[i + 1]);
            parts[i + 1]->SetPreviousPart(parts[i]);
            setTabOrder(parts[i], parts[i + 1]);
        }
        connect(parts[i], &QLineEdit::textChanged, this, &MyIpAddrEdit::textchangedslot);
        connect(parts[i], &QLineEdit::textEdited, this, &MyIpAddrEdit::texteditedslot);
    }
}

// The parts and the dots are children and go with the editor.
MyIpAddrEdit::~MyIpAddrEdit() = default;

QString MyIpAddrEdit::text() const {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ip_part1->text(), ip_part2->text(), ip_part3->text(), ip_part4->text());
}

void MyIpAddrEdit::setText(const QString& address) {
    QString octets[4];
    // Only a whole dotted quad is taken; leading zeros the pattern admits stay as given.
    QRegExpValidator quad(QRegExp(QStringLiteral(
        "((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)")));
    QString candidate = address;
    int position = 0;
    if (quad.validate(candidate, position) == QValidator::Acceptable) {
        const QStringList pieces = address.split(QLatin1Char('.'), Qt::KeepEmptyParts);
        for (int i = 0; i < 4 && i < pieces.size(); ++i) {
            octets[i] = pieces.at(i);
        }
    }
    ip_part1->setText(octets[0]);
    ip_part2->setText(octets[1]);
    ip_part3->setText(octets[2]);
    ip_part4->setText(octets[3]);
}

void MyIpAddrEdit::setStyleSheet(const QString& styleSheet) {
    ip_part1->setStyleSheet(styleSheet);
    ip_part2->setStyleSheet(styleSheet);
    ip_part3->setStyleSheet(styleSheet);
    ip_part4->setStyleSheet(styleSheet);
}

MyIpPartLineEdit* MyIpAddrEdit::Part(int index) const {
    switch (index) {
        case 0: return ip_part1;
        case 1: return ip_part2;
        case 2: return ip_part3;
        case 3: return ip_part4;
        default: return nullptr;
    }
}

// A part's own text is only a quarter of the news: the whole address is sent.
void MyIpAddrEdit::textchangedslot(QString text) {
    Q_UNUSED(text);
    emit textchanged(this->text());
}

void MyIpAddrEdit::texteditedslot(QString text) {
    Q_UNUSED(text);
    emit textedited(this->text());
}
