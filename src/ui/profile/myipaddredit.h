#pragma once
// The IPv4 address editor: four one-octet parts with dots between them, placed by fixed
// geometry (no layout), so that it can lie over a line edit of a form. It reads back as
// "a.b.c.d" built from the parts as they stand, empty parts included, and announces
// every change of any part as a change of the whole address.

#include <QString>
#include <QWidget>

class MyIpPartLineEdit;
class QLabel;

class MyIpAddrEdit : public QWidget {
    Q_OBJECT

public:
    // The parts take the editor's height at this moment.
    explicit MyIpAddrEdit(QWidget* parent = nullptr);
    ~MyIpAddrEdit() override;
    MyIpAddrEdit(const MyIpAddrEdit&) = delete;
    MyIpAddrEdit& operator=(const MyIpAddrEdit&) = delete;

    // "%1.%2.%3.%4" of the four parts, unchanged: "..." when all are empty.
    QString text() const;
    // Shows a dotted quad of octets 0 to 255 in the parts; anything else empties them.
    void setText(const QString& address);
    // The style of the four parts; the dots and the editor keep their own.
    void setStyleSheet(const QString& styleSheet);

    // The parts, first to fourth (index 0 to 3); null outside that range.
    MyIpPartLineEdit* Part(int index) const;

signals:
    void textchanged(QString text);
    void textedited(QString text);

public slots:
    void textchangedslot(QString text);
    void texteditedslot(QString text);

private:
    MyIpPartLineEdit* ip_part1;
    MyIpPartLineEdit* ip_part2;
    MyIpPartLineEdit* ip_part3;
    MyIpPartLineEdit* ip_part4;
    QLabel* labeldot1;
    QLabel* labeldot2;
    QLabel* labeldot3;
};
