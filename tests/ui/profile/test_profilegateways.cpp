// The profile dialog's SSL gateway list, driven as a user fills it: the add button with
// its refusals (too many rows, an empty field, an address of no syntax, a listed address
// in any of its spellings), the normalised row texts, the default-gateway mark and index
// through removals of single and several rows, the default button and the automatic
// choice that disables it.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "profile_dialog_support.h"

namespace {

using namespace profile_test;

#define KEY(name) "/UI_PROFILEINFO/UI_PROFILEINFO_" name

class GatewayTest : public ProfileDialogTest {
protected:
    void SetUp() override {
        ProfileDialogTest::SetUp();
        list = W<QTreeWidget>("tw_serverAddress");
        address = W<QLineEdit>("le_gatewayAddress");
        port = W<QLineEdit>("le_port");
        mark = Text(KEY("DEFAULT_GATEWAY"));
        ASSERT_FALSE(mark.isEmpty());
    }

    // Types the pair and presses the add button.
    void Add(const QString& host, const QString& portText = QStringLiteral("443")) {
        address->setText(host);
        port->setText(portText);
        Click("tb_add");
    }
    // Selects exactly these rows, the last one current, as clicks with Ctrl would.
    void Select(std::initializer_list<int> rows) {
        list->clearSelection();
        for (int row : rows) {
            list->setCurrentItem(list->topLevelItem(row), 0, QItemSelectionModel::Select);
        }
    }
    // The rows that bear the default mark.
    QStringList Marks() { return Column(list, 2); }

    QTreeWidget* list = nullptr;
    QLineEdit* address = nullptr;
    QLineEdit* port = nullptr;
    QString mark;
};

TEST_F(GatewayTest, TheAddButtonStopsAtFifteenRows) {
    for (int i = 1; i <= 15; ++i) {
        Add(QStringLiteral("10.0.0.%1").arg(i));
    }
    ASSERT_EQ(list->topLevelItemCount(), 15);
    EXPECT_TRUE(driver.Seen().empty());

    driver.Answer(ok);
    Add("10.0.0.16", "8443");
    ASSERT_EQ(driver.Seen().size(), 1u);
    ExpectSharedWarning(driver.Seen()[0], KEY("GATEWAYIP_MAX"));
    EXPECT_EQ(list->topLevelItemCount(), 15);
    EXPECT_EQ(address->text(), QString("10.0.0.16")) << "the fields stay as typed";
    EXPECT_EQ(port->text(), QString("8443"));
}

TEST_F(GatewayTest, AnEmptyFieldIsNamedInACriticalBox) {
    const struct {
        const char* address;
        const char* port;
        const char* key;
    } cases[] = {
        {"", "443", KEY("GATEWAYIP_EMPTY")},
        {"", "", KEY("GATEWAYIP_EMPTY")},
        {"h.example", "", KEY("PORT_EMPTY")},
    };
    for (const auto& c : cases) {
        driver.Clear();
        driver.Answer(ok);
        Add(c.address, c.port);
        ASSERT_EQ(driver.Seen().size(), 1u) << c.address << "/" << c.port;
        ExpectOwnBox(driver.Seen()[0], QMessageBox::Critical, c.key);
        EXPECT_EQ(address->text(), QString(c.address)) << "fields unchanged";
        EXPECT_EQ(port->text(), QString(c.port));
        EXPECT_EQ(list->topLevelItemCount(), 0);
    }
}

// The field is emptied before the warning shows; the port the user typed stays.
TEST_F(GatewayTest, AnAddressOfNoSyntaxIsClearedThenRefused) {
    QString fieldDuringBox = QStringLiteral("<no box>");
    driver.AnswerWith([&](QWidget* box) {
        fieldDuringBox = address->text();
        BoxDriver::Respond(box, ok);
    });
    Add("a b", "8443");
    ASSERT_EQ(driver.Seen().size(), 1u);
    ExpectSharedWarning(driver.Seen()[0], KEY("GATEWAYIP_FAIL"));
    EXPECT_EQ(fieldDuringBox, QString());
    EXPECT_EQ(port->text(), QString("8443"));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(W("w_best")->isHidden());
}

// A listed address is refused whatever its port and whether or not it carries the
// "http://" that the row drops; only that prefix is dropped, and letter case counts.
TEST_F(GatewayTest, ListedAddressesAreRefusedInEverySpelling) {
    Add("h.example", "443");
    Add("http://g.example", "443");
    Add("10.00.000.1", "443");
    ASSERT_EQ(Column(list, 0), (QStringList{"h.example", "g.example", "10.0.0.1"}));

    const struct {
        const char* typed;
        bool refused;
        const char* row;  // the row text when accepted
    } cases[] = {
        {"h.example", true, nullptr},         // the same, with another port below
        {"http://h.example", true, nullptr},  // its prefixed form
        {"g.example", true, nullptr},
        {"http://g.example", true, nullptr},
        {"10.0.0.1", true, nullptr},
        {"10.0.0.001", false, "10.0.0.001"},  // only empty, 00 and 000 parts are rewritten
        {"H.example", false, "H.example"},
        {"https://h.example", false, "https://h.example"},
    };
    for (const auto& c : cases) {
        driver.Clear();
        const int rows = list->topLevelItemCount();
        QString fieldDuringBox;
        if (c.refused) {
            driver.AnswerWith([&](QWidget* box) {
                fieldDuringBox = address->text();
                BoxDriver::Respond(box, ok);
            });
        }
        Add(c.typed, "8443");
        if (c.refused) {
            ASSERT_EQ(driver.Seen().size(), 1u) << c.typed;
            ExpectOwnBox(driver.Seen()[0], QMessageBox::Critical, KEY("GATEWAYIP_EXIST"));
            EXPECT_EQ(fieldDuringBox, QString(c.typed)) << "cleared only after the box";
            EXPECT_EQ(list->topLevelItemCount(), rows) << c.typed;
        } else {
            EXPECT_TRUE(driver.Seen().empty()) << c.typed;
            ASSERT_EQ(list->topLevelItemCount(), rows + 1) << c.typed;
            EXPECT_EQ(list->topLevelItem(rows)->text(0), QString(c.row));
            EXPECT_EQ(list->topLevelItem(rows)->text(1), QString("8443"));
        }
        EXPECT_TRUE(address->text().isEmpty()) << c.typed;
        EXPECT_EQ(port->text(), QString("8443")) << c.typed;
    }
}

TEST_F(GatewayTest, TheFirstGatewayIsTheDefault) {
    (void)DDM_LogLevelSet(DDM_LOG_DEBUG);
    const size_t before = ui_test::LogCount("[ProfileInfo ui add ssl address][count is 2]");
    EXPECT_TRUE(W("w_best")->isHidden());
    EXPECT_FALSE(W("label_7")->isHidden());
    Add("a.example");
    EXPECT_FALSE(W("w_best")->isHidden());
    EXPECT_TRUE(W("label_7")->isHidden());
    Add("b.example");
    EXPECT_EQ(Marks(), (QStringList{mark, ""}));
    EXPECT_EQ(D()->defaultGatewayIndex, 0);
    EXPECT_EQ(ui_test::LogCount("[ProfileInfo ui add ssl address][count is 2]"), before + 1);
}

// The mark stays on its gateway while rows above it go, and moves to the first row when
// its own row goes.
TEST_F(GatewayTest, RemovalsKeepTheMarkOnItsGateway) {
    Add("a.example");
    Add("b.example");
    Add("c.example");
    Select({2});
    Click("pb_SetPriorGateway");
    ASSERT_EQ(Marks(), (QStringList{"", "", mark}));
    ASSERT_EQ(D()->defaultGatewayIndex, 2);

    Select({0});
    Click("tb_bestDel");
    EXPECT_EQ(Column(list, 0), (QStringList{"b.example", "c.example"}));
    EXPECT_EQ(Marks(), (QStringList{"", mark}));
    EXPECT_EQ(D()->defaultGatewayIndex, 1);

    const size_t moved = ui_test::LogCount("[The default gateway number is 0.]");
    Select({1});
    Click("tb_bestDel");
    EXPECT_EQ(Column(list, 0), (QStringList{"b.example"}));
    EXPECT_EQ(Marks(), (QStringList{mark}));
    EXPECT_EQ(D()->defaultGatewayIndex, 0);
    EXPECT_EQ(ui_test::LogCount("[The default gateway number is 0.]"), moved + 1);

    Select({0});
    Click("tb_bestDel");
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(D()->defaultGatewayIndex, -1);
    EXPECT_TRUE(W("w_best")->isHidden());
    EXPECT_FALSE(W("label_7")->isHidden());

    Add("d.example");
    EXPECT_EQ(Marks(), (QStringList{mark}));
    EXPECT_EQ(D()->defaultGatewayIndex, 0);
}

// Several rows at once: each removal moves the rows below it, so every row is found anew.
TEST_F(GatewayTest, SeveralSelectedRowsGoTogether) {
    const struct {
        std::initializer_list<int> selected;
        int defaultRow;
        QStringList left;
        QStringList marks;
        int index;
    } cases[] = {
        {{0, 2}, 4, {"b.example", "d.example", "e.example"}, {"", "", mark}, 2},
        {{4, 1}, 3, {"a.example", "c.example", "d.example"}, {"", "", mark}, 2},
        {{1, 3}, 3, {"a.example", "c.example", "e.example"}, {mark, "", ""}, 0},
        {{0, 1, 2, 3, 4}, 0, {}, {}, -1},
    };
    for (const auto& c : cases) {
        while (list->topLevelItemCount() > 0) {
            Select({0});
            Click("tb_bestDel");
        }
        for (const char* host : {"a.example", "b.example", "c.example", "d.example", "e.example"}) {
            Add(host);
        }
        Select({c.defaultRow});
        Click("pb_SetPriorGateway");
        Select(c.selected);
        Click("tb_bestDel");
        EXPECT_EQ(Column(list, 0), c.left) << "default row " << c.defaultRow;
        EXPECT_EQ(Marks(), c.marks) << "default row " << c.defaultRow;
        EXPECT_EQ(D()->defaultGatewayIndex, c.index) << "default row " << c.defaultRow;
    }
    EXPECT_TRUE(driver.Seen().empty());
}

TEST_F(GatewayTest, RemovingNothingIsRefused) {
    Add("a.example");
    list->clearSelection();
    driver.Answer(ok);
    Click("tb_bestDel");
    ASSERT_EQ(driver.Seen().size(), 1u);
    ExpectOwnBox(driver.Seen()[0], QMessageBox::Warning, KEY("SELECT_EMPTY"));
    EXPECT_EQ(list->topLevelItemCount(), 1);
}

// The default follows the current row (the last clicked), which the selection need not
// include; while the best gateway is chosen automatically the button is off, and the
// mark stays.
TEST_F(GatewayTest, DefaultButtonFollowsTheCurrentRowAndTheAutomaticChoice) {
    Click("pb_SetPriorGateway");  // no row at all
    EXPECT_EQ(D()->defaultGatewayIndex, -1);

    Add("a.example");
    Add("b.example");
    list->setCurrentItem(list->topLevelItem(1), 0, QItemSelectionModel::NoUpdate);
    list->clearSelection();
    Click("pb_SetPriorGateway");
    EXPECT_EQ(Marks(), (QStringList{"", mark}));
    EXPECT_EQ(D()->defaultGatewayIndex, 1);

    auto* button = W<QPushButton>("pb_SetPriorGateway");
    Click("cb_autoBest");
    EXPECT_TRUE(W<QCheckBox>("cb_autoBest")->isChecked());
    EXPECT_FALSE(button->isEnabled());
    list->setCurrentItem(list->topLevelItem(0));
    Click("pb_SetPriorGateway");
    EXPECT_EQ(D()->defaultGatewayIndex, 1) << "a disabled button does nothing";
    Click("cb_autoBest");
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(Marks(), (QStringList{"", mark}));
}

}  // namespace
