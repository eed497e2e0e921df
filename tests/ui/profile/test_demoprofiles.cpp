// The profiles the simulator's default engine keeps, as a new user meets them: picked in
// the main window, opened with the gear, the description changed and saved. Each must be
// a record the dialog itself could have written, so that the save passes the dialog's
// checks and writes back what it read, the description aside.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QToolButton>

#include "mainui.h"
#include "mcomboboxitem.h"
#include "profile_dialog_support.h"
#include "uisystemprofile.h"

// Failures show texts, not their code units.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using namespace profile_test;

std::string Str(const rapidjson::Value& v) { return v.IsString() ? v.GetString() : "<not text>"; }

rapidjson::Document State(ui_test::Sim& sim) {
    rapidjson::Document state;
    const std::string answer = sim.Control("state");
    EXPECT_EQ(answer.rfind("OK ", 0), 0u) << answer;
    state.Parse(answer.substr(3).c_str());
    return state;
}

// The simulator's copy of a profile's record fields, as JSON text with the description
// left out; empty when there is no such profile.
std::string StoredWithoutDescription(ui_test::Sim& sim, const std::string& name,
                                     std::string* description) {
    rapidjson::Document state = State(sim);
    if (!state.IsObject() || !state.HasMember("profiles")) {
        return std::string();
    }
    for (rapidjson::Value& p : state["profiles"].GetArray()) {
        if (Str(p["name"]) != name) {
            continue;
        }
        rapidjson::Value& fields = p["fields"];
        *description = Str(fields["acDescription"]);
        fields.RemoveMember("acDescription");
        rapidjson::StringBuffer out;
        rapidjson::Writer<rapidjson::StringBuffer> writer(out);
        fields.Accept(writer);
        return out.GetString();
    }
    return std::string();
}

// Picks the connection of that name in the main window's list, as a left click does.
bool Pick(MainUI& window, const QString& name) {
    auto* list =
        qobject_cast<QListWidget*>(window.findChild<QComboBox*>("cb_linkname")->view());
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        auto* row = qobject_cast<MComboboxItem*>(list->itemWidget(list->item(i)));
        if (row != nullptr && row->MComboboxItem_Text_Get() == name) {
            const QPointF at(5, 5);
            QMouseEvent press(QEvent::MouseButtonPress, at, at, at, Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(row, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(row, &release);
            return true;
        }
    }
    return false;
}

// The dialog's fields that a failed check marked, by object name.
QStringList MarkedFields(QWidget* dialog) {
    QStringList marked;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (Marked(w)) {
            marked << w->objectName();
        }
    }
    return marked;
}

class DemoProfilesTest : public ::testing::Test {
protected:
    void SetUp() override { (void)NewProfileContext(); }
    void TearDown() override { UIContext::GetInstance()->SetNewConnect(true); }

    BoxDriver driver;
};

TEST_F(DemoProfilesTest, EachStoredProfileSavesAfterASmallEdit) {
    ui_test::SimLink link;  // the default engine, its profiles as a first start has them
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    MainUI window(nullptr);
    window.Init();

    struct Stored {
        std::string name;
        unsigned linkType;
    };
    std::vector<Stored> stored;
    {
        const rapidjson::Document state = State(link.sim());
        ASSERT_TRUE(state.IsObject() && state.HasMember("profiles"));
        for (const rapidjson::Value& p : state["profiles"].GetArray()) {
            stored.push_back({Str(p["name"]), p["linkType"].GetUint()});
        }
    }
    ASSERT_EQ(stored.size(), 2u) << "Office and Branch";

    for (const Stored& s : stored) {
        SCOPED_TRACE(s.name);
        const QString connection = QString::fromStdString(s.name).chopped(4);  // ".ini"
        const char* descriptionField =
            s.linkType == 1 ? "le_descriptionMsgSSL" : "le_descriptionMsgIPSEC";
        const unsigned writeCode = s.linkType == 1 ? 5 : 7;
        std::string before;
        const std::string kept = StoredWithoutDescription(link.sim(), s.name, &before);
        ASSERT_FALSE(kept.empty());
        const std::string edited = before + " (edited)";
        ASSERT_TRUE(Pick(window, connection));
        ASSERT_EQ(UIContext::GetInstance()->GetLinkType(), int(s.linkType));

        const size_t from = link.sim().Log().size();
        QStringList marked{QStringLiteral("<not saved>")};
        bool closed = false;
        driver.Clear();
        driver.AnswerWith(
            [&](QWidget* box) {
                EXPECT_TRUE(BoxDriver::TypeInto(box, descriptionField,
                                                QString::fromStdString(edited)));
                EXPECT_TRUE(BoxDriver::ClickButton(box, "pb_save"));
                marked = MarkedFields(box);
                closed = !box->isVisible();
                if (!closed) {
                    qobject_cast<QDialog*>(box)->reject();  // the failure is told below
                }
            },
            QStringLiteral("edit and save"));
        window.findChild<QToolButton*>("tb_detailOption")->click();
        EXPECT_EQ(driver.Seen().size(), 1u) << "the dialog, and no box";
        EXPECT_TRUE(marked.isEmpty()) << marked.join(",").toStdString();
        EXPECT_TRUE(closed);

        size_t writes = 0;
        const std::vector<rapidjson::Document> log = link.sim().Log();
        for (size_t i = from; i < log.size(); ++i) {
            if (log[i].HasMember("head") && log[i]["head"]["msgType"].GetUint() == 9 &&
                (log[i]["head"]["code"].GetUint() == 5 || log[i]["head"]["code"].GetUint() == 7)) {
                ++writes;
                EXPECT_EQ(log[i]["head"]["code"].GetUint(), writeCode);
                EXPECT_EQ(Str(log[i]["text"]), s.name);
            }
        }
        EXPECT_EQ(writes, 1u);

        // Read back: the service keeps the new description and the rest as it was, and the
        // dialog opened again shows it.
        std::string after;
        EXPECT_EQ(StoredWithoutDescription(link.sim(), s.name, &after), kept);
        EXPECT_EQ(after, edited);
        QString shown;
        driver.AnswerWith(
            [&](QWidget* box) {
                shown = W<QLineEdit>(box, descriptionField)->text();
                BoxDriver::Respond(box, BoxDriver::kEscape);
            },
            QStringLiteral("look"));
        window.findChild<QToolButton*>("tb_detailOption")->click();
        EXPECT_EQ(shown, QString::fromStdString(edited));
    }
}

}  // namespace
