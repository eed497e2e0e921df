#pragma once
// Drives the modal boxes and dialogs that code under test opens: each one that becomes
// visible is recorded (class, icon, title, text, buttons, window flags) and answered
// with the next queued answer: a click on the button with that caption, Escape, the
// window's close button, a function of the test run on the shown dialog (type into its
// fields, pick an item or a file, click a button), or nothing at all for a window that
// ends by itself (a progress window, a box that closes itself). A box that comes when no answer is queued fails the test and is
// dismissed with Escape, so that a test never hangs on a box nobody expected.
//
// The driver watches the application's events, so it works inside the box's own event
// loop: code under test calls exec() and the driver answers from within it. It attaches
// to the running QApplication when it is built; ArmForNextApplication attaches it also
// to one that the code under test builds later itself (a start function run in-process).

#include <functional>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QWidget;

namespace vt_qt_test {

// What the driver saw of one box or dialog.
struct SeenBox {
    QString className;     // "QMessageBox", or the dialog's own class
    int icon = -1;         // QMessageBox::Icon; -1 for a dialog that is not a message box
    QString title;
    QString text;          // a message box's text; a dialog's visible labels, one a line
    QStringList buttons;   // captions without mnemonics (a message box: in role order)
    int flags = 0;         // Qt::WindowFlags
    bool hasParent = false;
    bool modal = false;
    QString answer;        // the caption clicked, or kEscape / kClose
    bool ignored = false;  // the box stayed open after the answer; the driver rejected it
};

class BoxDriver : public QObject {
public:
    static const char kEscape[];  // answer: the Escape key
    static const char kClose[];   // answer: the window's close button
    static const char kLetEnd[];  // recorded answer of AnswerLetEnd

    BoxDriver();
    ~BoxDriver() override;
    BoxDriver(const BoxDriver&) = delete;
    BoxDriver& operator=(const BoxDriver&) = delete;

    // What a function answer does with the shown dialog. It may leave the dialog open
    // (a refusal it causes is then the next box, answered by the next answer); whatever
    // stays open must be ended by a later answer or by the code under test.
    using Action = std::function<void(QWidget* box)>;

    // Queues the answer to the next box: a button caption (mnemonics ignored), kEscape or
    // kClose.
    void Answer(const QString& answer);
    // Queues a function answer; the record's answer is the label.
    void AnswerWith(Action action, const QString& label = QStringLiteral("<function>"));
    // Queues an answer that only records the next box and lets it end by itself.
    void AnswerLetEnd();
    // Also attaches to every QApplication built later in this process, as it is built.
    void ArmForNextApplication();
    // Attaches to the running application, if any (done when the driver is built).
    void Attach();

    const std::vector<SeenBox>& Seen() const { return seen_; }
    void Clear() { seen_.clear(); }
    // Runs the event loop until count boxes were seen (or the time is up).
    bool WaitSeen(size_t count, int timeoutMs = 5000);

    // The visible top-level dialog shown last (message boxes included), or null.
    static QWidget* FindVisibleBox();
    // A box's record, without an answer.
    static SeenBox Describe(QWidget* box);
    // Gives an answer to a box; false when it has no button with that caption.
    static bool Respond(QWidget* box, const QString& answer);

    // Helpers for function answers (and for tests that drive a dialog they hold).
    // Types the text into the line edit or text edit of that object name below root, key
    // by key (so textEdited and the key filters run), after selecting what it holds when
    // clearFirst; false when there is no such field.
    static bool TypeInto(QWidget* root, const QString& objectName, const QString& text,
                         bool clearFirst = true);
    // Clicks the button of that object name below root (a disabled one does nothing, as
    // for a user); false when there is no such button.
    static bool ClickButton(QWidget* root, const QString& objectName);
    // Answers a file dialog (Qt's own, as Qt shows it here) with the path, which it
    // selects and accepts; false when box is no file dialog.
    static bool ChooseFile(QWidget* box, const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Handle(QPointer<QWidget> box, const SeenBox& shown);

    struct Queued {
        QString answer;
        Action action;  // empty for a caption answer
    };
    std::vector<Queued> answers_;
    std::vector<SeenBox> seen_;
    QPointer<QObject> app_;
};

}  // namespace vt_qt_test
