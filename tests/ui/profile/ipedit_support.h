#pragma once
// Helpers of the IPv4 editor's and the route dialog's tests: keys typed where the focus
// is, as a user types them, and a window made active so that the focus can move.

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QTest>
#include <QWidget>

#include "languagesetting.h"

namespace ipedit_test {

// Each key goes to the widget that has the focus at that moment, so the hand-over from
// one part to the next is part of what is typed.
inline void TypeKeys(const QString& keys) {
    for (const QChar c : keys) {
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr) {
            ADD_FAILURE() << "no widget has the focus for '" << QString(c).toStdString() << "'";
            return;
        }
        QTest::keyClick(target, c.toLatin1());
    }
}

// Shows the window and waits until it is the active one; the focus tests need that.
inline bool ShowActive(QWidget* window) {
    window->show();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

// The English texts of the runnable tree; a key the file lacks reads as empty.
inline void LoadEnglish() {
    LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
}

inline QString Text(const char* key) {
    return LanguageSetting::GetInstance()->GetValue(QLatin1String(key));
}

}  // namespace ipedit_test
