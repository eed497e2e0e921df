#pragma once
// Helpers of the profile dialog's behaviour tests: the dialog as the main window opens it
// for a new profile, its widgets by object name, the error frame of a failed check, the
// language texts, and what the dialog's message boxes must look like.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>

#include "ddm_log.h"
#include "languagesetting.h"
#include "profileinfoui.h"
#include "profileinfouiprivate.h"
#include "servicelink.h"
#include "ui_link_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "vt_qt_test/box_driver.h"

// The tests' way to the dialog's private record.
struct ProfileInfoUITestPeer {
    static ProfileInfoUIPrivate* Private(ProfileInfoUI& dialog) { return dialog.d; }
};

namespace profile_test {

using vt_qt_test::BoxDriver;
using vt_qt_test::SeenBox;

// A widget of the dialog by its object name; a missing one fails the test.
template <class T = QWidget>
T* W(QWidget* root, const char* name) {
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The red frame that a failed check puts on a field.
inline bool Marked(const QWidget* field) {
    return field->styleSheet().contains(QLatin1String("border-color: rgb(255, 0, 0)"));
}

inline QString Text(const char* key) {
    return LanguageSetting::GetInstance()->GetValue(QString::fromLatin1(key));
}

// The dialog's own box: its icon, the WARNING title, one OK, the dialog as parent.
inline void ExpectOwnBox(const SeenBox& box, QMessageBox::Icon icon, const char* key) {
    ASSERT_FALSE(Text(key).isEmpty()) << key << " is missing from the language file";
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    EXPECT_EQ(box.className, QString("QMessageBox")) << key;
    EXPECT_EQ(box.text, Text(key));
    EXPECT_EQ(box.icon, int(icon)) << key;
    EXPECT_EQ(box.title, global.WARNING) << key;
    EXPECT_EQ(box.buttons, QStringList{global.OK}) << key;
    EXPECT_TRUE(box.hasParent) << key;
    EXPECT_TRUE(box.flags & Qt::MSWindowsFixedSizeDialogHint) << key;
}

// The shared warning of the whole front end: no parent.
inline void ExpectSharedWarning(const SeenBox& box, const char* key) {
    ASSERT_FALSE(Text(key).isEmpty()) << key << " is missing from the language file";
    EXPECT_EQ(box.text, Text(key));
    EXPECT_EQ(box.icon, int(QMessageBox::Warning)) << key;
    EXPECT_EQ(box.title, LanguageSetting::GetInstance()->GetGlobalLang().WARNING) << key;
    EXPECT_FALSE(box.hasParent) << key;
}

// The texts of one column, row by row.
inline QStringList Column(QTreeWidget* list, int column) {
    QStringList texts;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        texts << list->topLevelItem(row)->text(column);
    }
    return texts;
}

// Shows the window and waits until it is the active one; the focus tests need that.
inline bool ShowActive(QWidget* window) {
    window->show();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

// The state a new profile's dialog is opened in: the link's test set-up, no plugin, no
// login, a new connection, the runnable tree's resources, English texts. Gives the OK
// button's text.
inline QString NewProfileContext() {
    ui_test::LinkSetUp();
    UIContext* context = UIContext::GetInstance();
    context->SetPluginMode(0);
    context->SetSystemType(2);
    context->SetConnectName(QString());
    context->SetLinkType(LINK_TYPE_NONE);
    context->SetLogined(false);
    context->SetNewConnect(true);
    context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
    context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
    LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    return LanguageSetting::GetInstance()->GetGlobalLang().OK;
}

// A new profile's dialog, opened as the main window opens it, in English.
class ProfileDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ok = NewProfileContext();
        ASSERT_FALSE(ok.isEmpty());
        dialog = std::make_unique<ProfileInfoUI>(nullptr);
        dialog->Init();
    }
    void TearDown() override {
        dialog.reset();
        UIContext::GetInstance()->SetPluginMode(0);
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
    }

    template <class T = QWidget>
    T* W(const char* name) {
        return profile_test::W<T>(dialog.get(), name);
    }
    ProfileInfoUIPrivate* D() { return ProfileInfoUITestPeer::Private(*dialog); }
    // Shows the dialog, active, as the user sees it; the box driver records it and leaves
    // it open.
    bool ShowDialog() {
        driver.AnswerLetEnd();
        return ShowActive(dialog.get());
    }
    // A click as the user's: a disabled control does nothing.
    void Click(const char* name) { ASSERT_TRUE(BoxDriver::ClickButton(dialog.get(), name)) << name; }

    std::unique_ptr<ProfileInfoUI> dialog;
    BoxDriver driver;
    QString ok;
};

}  // namespace profile_test
