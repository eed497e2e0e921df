// The box driver: records and answers the modal boxes and dialogs of code under test.

#include "vt_qt_test/box_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTest>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>
#include <gtest/gtest.h>

namespace vt_qt_test {

const char BoxDriver::kEscape[] = "<Escape>";
const char BoxDriver::kClose[] = "<Close>";
const char BoxDriver::kLetEnd[] = "<LetEnd>";

namespace {

// The driver armed for applications built later. A routine registered with Qt runs in
// every QApplication constructor of the process and cannot be removed, so it looks the
// driver up here.
BoxDriver* g_armed = nullptr;
bool g_routineAdded = false;

void AttachArmedDriver() {
    if (g_armed != nullptr) {
        g_armed->Attach();
    }
}

QString WithoutMnemonic(QString caption) {
    caption.remove(QLatin1Char('&'));
    return caption;
}

// A notification bubble is a dialog too, but nobody answers it: it rises, stays and
// deletes itself, so the driver leaves it alone instead of pressing Escape on it. The
// main window is a dialog as well; it is the program itself, never a box to dismiss.
bool IsBox(QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    return widget != nullptr && widget->isWindow() && qobject_cast<QDialog*>(widget) != nullptr &&
           !widget->inherits("BubblingWidget") && !widget->inherits("MainUI");
}

}  // namespace

BoxDriver::BoxDriver() { Attach(); }

BoxDriver::~BoxDriver() {
    if (g_armed == this) {
        g_armed = nullptr;
    }
    if (app_ != nullptr) {
        app_->removeEventFilter(this);
    }
    // Answers left over mean a box the test expected never came.
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " queued answer(s) never used, first: "
                                  << answers_.front().answer.toStdString();
}

void BoxDriver::Answer(const QString& answer) { answers_.push_back(Queued{answer, Action()}); }

void BoxDriver::AnswerWith(Action action, const QString& label) {
    answers_.push_back(Queued{label, std::move(action)});
}

void BoxDriver::AnswerLetEnd() { answers_.push_back(Queued{QLatin1String(kLetEnd), Action()}); }

namespace {

// Qt's key clicks turn each character into a key code and know only ASCII; any other
// character (an accented letter, an ideograph, a surrogate pair) goes as a key event that
// carries only its text, as an input method delivers it.
void TypeKeys(QWidget* field, const QString& text) {
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < 0x80) {
            QTest::keyClick(field, c.toLatin1());
            continue;
        }
        QString piece(c);
        if (c.isHighSurrogate() && i + 1 < text.size()) {
            piece += text.at(++i);
        }
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, piece, Qt::NoModifier);
    }
}

}  // namespace

bool BoxDriver::TypeInto(QWidget* root, const QString& objectName, const QString& text,
                         bool clearFirst) {
    if (root == nullptr) {
        return false;
    }
    QWidget* field = nullptr;
    if (auto* line = root->findChild<QLineEdit*>(objectName)) {
        if (clearFirst) {
            line->selectAll();
        }
        field = line;
    } else if (auto* edit = root->findChild<QTextEdit*>(objectName)) {
        if (clearFirst) {
            edit->selectAll();
        }
        field = edit;
    } else if (auto* plain = root->findChild<QPlainTextEdit*>(objectName)) {
        if (clearFirst) {
            plain->selectAll();
        }
        field = plain;
    }
    if (field == nullptr) {
        return false;
    }
    field->setFocus(Qt::OtherFocusReason);
    if (clearFirst && text.isEmpty()) {
        QTest::keyClick(field, Qt::Key_Delete);
    } else {
        // With clearFirst, the first typed key replaces the selection.
        TypeKeys(field, text);
    }
    return true;
}

bool BoxDriver::ClickButton(QWidget* root, const QString& objectName) {
    auto* button = root != nullptr ? root->findChild<QAbstractButton*>(objectName) : nullptr;
    if (button == nullptr) {
        return false;
    }
    button->click();
    return true;
}

bool BoxDriver::ChooseFile(QWidget* box, const QString& path) {
    auto* dialog = qobject_cast<QFileDialog*>(box);
    if (dialog == nullptr) {
        return false;
    }
    dialog->selectFile(path);
    // accept() runs the dialog's own checks (a missing file, an overwrite question).
    QMetaObject::invokeMethod(dialog, "accept");
    return true;
}

void BoxDriver::ArmForNextApplication() {
    g_armed = this;
    if (!g_routineAdded) {
        g_routineAdded = true;
        qAddPreRoutine(AttachArmedDriver);  // also runs now when an application exists
    }
}

void BoxDriver::Attach() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || app_ == app) {
        return;
    }
    if (app_ != nullptr) {
        app_->removeEventFilter(this);
    }
    app_ = app;
    app->installEventFilter(this);
}

bool BoxDriver::WaitSeen(size_t count, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (seen_.size() < count && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return seen_.size() >= count;
}

QWidget* BoxDriver::FindVisibleBox() {
    QWidget* found = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && IsBox(widget)) {
            found = widget;
            if (widget == QApplication::activeModalWidget()) {
                break;
            }
        }
    }
    return found;
}

SeenBox BoxDriver::Describe(QWidget* box) {
    SeenBox seen;
    if (box == nullptr) {
        return seen;
    }
    seen.className = QString::fromLatin1(box->metaObject()->className());
    seen.title = box->windowTitle();
    seen.flags = static_cast<int>(box->windowFlags());
    seen.hasParent = box->parentWidget() != nullptr;
    seen.modal = box->isModal() || box->windowModality() != Qt::NonModal;
    if (auto* message = qobject_cast<QMessageBox*>(box)) {
        seen.icon = static_cast<int>(message->icon());
        seen.text = message->text();
        for (QAbstractButton* button : message->buttons()) {
            seen.buttons << WithoutMnemonic(button->text());
        }
        return seen;
    }
    QStringList labels;
    for (QLabel* label : box->findChildren<QLabel*>()) {
        if (label->isVisible() && !label->text().isEmpty()) {
            labels << label->text();
        }
    }
    seen.text = labels.join(QLatin1Char('\n'));
    for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
        if (button->isVisible() && !button->text().isEmpty()) {
            seen.buttons << WithoutMnemonic(button->text());
        }
    }
    return seen;
}

bool BoxDriver::Respond(QWidget* box, const QString& answer) {
    if (box == nullptr) {
        return false;
    }
    if (answer == QLatin1String(kEscape)) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &press);
        return true;
    }
    if (answer == QLatin1String(kClose)) {
        box->close();
        return true;
    }
    QList<QAbstractButton*> buttons;
    if (auto* message = qobject_cast<QMessageBox*>(box)) {
        buttons = message->buttons();
    } else {
        buttons = box->findChildren<QAbstractButton*>();
    }
    for (QAbstractButton* button : buttons) {
        if (button->isVisible() && WithoutMnemonic(button->text()) == WithoutMnemonic(answer)) {
            button->click();
            return true;
        }
    }
    return false;
}

bool BoxDriver::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && IsBox(watched) &&
        !watched->property("vt_box_driver_seen").toBool()) {
        watched->setProperty("vt_box_driver_seen", true);
        // Answered from the event loop, once the box's exec() runs its own loop and the
        // box is fully built (texts set after show are recorded too). What it showed is
        // kept for a window left to end by itself, which may be gone by then (a download
        // that fails at once closes its progress window).
        QPointer<QWidget> box(static_cast<QWidget*>(watched));
        SeenBox shown = Describe(box);
        QMetaObject::invokeMethod(this, [this, box, shown]() { Handle(box, shown); },
                                  Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void BoxDriver::Handle(QPointer<QWidget> box, const SeenBox& shown) {
    if (box == nullptr || !box->isVisible()) {
        if (!answers_.empty() && !answers_.front().action &&
            answers_.front().answer == QLatin1String(kLetEnd)) {
            seen_.push_back(shown);
            seen_.back().answer = answers_.front().answer;
            answers_.erase(answers_.begin());
        }
        return;
    }
    SeenBox seen = Describe(box);
    Queued queued{QLatin1String(kEscape), Action()};
    if (answers_.empty()) {
        ADD_FAILURE() << "unexpected box \"" << seen.title.toStdString() << "\": "
                      << seen.text.toStdString();
    } else {
        queued = answers_.front();
        answers_.erase(answers_.begin());
    }
    const QString answer = queued.answer;
    seen.answer = answer;
    seen_.push_back(seen);
    if (queued.action) {
        // The test's function decides what becomes of the dialog.
        queued.action(box.data());
        return;
    }
    if (answer == QLatin1String(kLetEnd)) {
        return;  // queued after the window showed: recorded now, left to end by itself
    }
    if (!Respond(box, answer)) {
        ADD_FAILURE() << "box \"" << seen.title.toStdString() << "\" has no button \""
                      << answer.toStdString() << "\"; buttons: "
                      << seen.buttons.join(QLatin1String(", ")).toStdString();
    }
    // A box that ignores the answer (no escape button, a refused close) must still end,
    // or the test would hang in its exec(); the record says so.
    if (box != nullptr && box->isVisible()) {
        seen_.back().ignored = true;
        if (auto* dialog = qobject_cast<QDialog*>(box.data())) {
            dialog->reject();
        }
    }
}

}  // namespace vt_qt_test
