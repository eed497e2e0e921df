#pragma once
// One octet of the IPv4 address editor: a frameless, centred line edit that holds zero to
// three decimal digits. It hands the focus on to its neighbours so that an address can
// be typed in one go: after a third digit within range, on ".", Right and keypad Enter to
// the next part, on Left to the previous one. A value typed above the cap (223 for the
// part named "ip_part1_", the first octet of an address, else 255) is answered with a
// warning box and replaced by the cap.

#include <QLineEdit>
#include <QString>

class QFocusEvent;
class QKeyEvent;
class QRegExpValidator;

class MyIpPartLineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit MyIpPartLineEdit(QWidget* parent = nullptr);
    ~MyIpPartLineEdit() override;
    MyIpPartLineEdit(const MyIpPartLineEdit&) = delete;
    MyIpPartLineEdit& operator=(const MyIpPartLineEdit&) = delete;

    // The neighbours the focus moves to; links only, never owned. Null: no hand-over.
    void SetNextPart(MyIpPartLineEdit* next);
    void SetPreviousPart(MyIpPartLineEdit* previous);

signals:
    // The part receives the keyboard focus (sent before it selects its text).
    void getfocus();

public slots:
    // The range rule, for edits by the user only.
    void text_edited(QString tempText);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    static void HandOver(MyIpPartLineEdit* target);

    QRegExpValidator* validator;
    MyIpPartLineEdit* nextPart = nullptr;
    MyIpPartLineEdit* previousPart = nullptr;
    // Set while the focus has just come from a full octet of the previous part and no key
    // has been pressed here yet: a "." now ends that octet and must not move on again.
    bool enteredByFullOctet = false;
};
