// The field mapping panel over the sample integration: filling the tree and
// the grid, and the commands that map, look up, clear and link automatically.

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTreeWidgetItemIterator>
#include <QHeaderView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "WorkbenchTestSupport.h"
#include "app/UserDialogs.h"
#include "workbench/FlowCanvas.h"
#include "workbench/ModalDialogs.h"
#include "workbench/frmAddFormula.h"

namespace {

using G = frmWorkBench;

struct Mapping : ::testing::Test {
    QTemporaryDir dir;
    cScriptedDialogsGuard dialogs;
    std::unique_ptr<frmWorkBench> w;
    cShapeRef target;

    void SetUp() override {
        const QString path = WriteSampleIntegration(dir.path());
        ASSERT_FALSE(path.isEmpty());
        w = std::make_unique<frmWorkBench>();
        w->OpenFlowChart(path);
        ASSERT_TRUE(dialogs->Messages.empty());
        w->ShowFormulas();
        target = NodeByCaption(*w, QStringLiteral("TARGET"));
        ASSERT_TRUE(target);
        ClickNode(*w, target->Index);
    }
    int row(const QString& field) {
        for (int r = 1; r <= w->GridRows(); ++r)
            if (w->GridText(r, G::colField) == field)
                return r;
        return 0;
    }
    const tFields* field(const QString& name) { return target->storageRecord()->fields->item(name); }
    QStringList fieldOrder() {
        QStringList names;
        for (const tFields& f : *target->storageRecord()->fields)
            names << f.f_name;
        return names;
    }
    // Selects a tree node by its full path.
    void pick(const QString& path) {
        for (QTreeWidgetItemIterator it(w->treeSource); *it; ++it)
            if (G::TreeFullPath(*it) == path) {
                w->treeSource->setCurrentItem(*it);
                (*it)->setSelected(true);
                return;
            }
        FAIL() << "no tree node " << path.toStdString();
    }
};

TEST_F(Mapping, ClickOnAStorageNodeFillsTheGridAndTheTree) {
    ASSERT_EQ(w->GridRows(), 6);
    EXPECT_EQ(w->SelectedGridRow(), 1);
    const int id = row(QStringLiteral("id"));
    EXPECT_EQ(w->GridText(id, G::colMap), QStringLiteral("SOURCE(\"id\")"));
    EXPECT_EQ(w->GridIcon(id, G::colLink), G::icoCheck2);
    EXPECT_EQ(w->GridIcon(id, G::colLookup), G::icoLookup);
    const int fullName = row(QStringLiteral("full_name"));
    EXPECT_EQ(w->GridIcon(fullName, G::colLink), G::icoFormula);
    EXPECT_EQ(w->GridIcon(fullName, G::colLookup), G::icoNone);

    // Field and Map are as wide as their values; each value reads whole under the pointer.
    const QFontMetrics metrics = w->grdTarget->fontMetrics();
    for (int r = 0; r < w->grdTarget->rowCount(); ++r)
        for (const int column : {int(G::colField), int(G::colMap)}) {
            const QTableWidgetItem* cell = w->grdTarget->item(r, column);
            ASSERT_NE(cell, nullptr);
            EXPECT_GT(w->grdTarget->columnWidth(column), metrics.horizontalAdvance(cell->text()))
                << cell->text().toStdString();
            EXPECT_EQ(cell->toolTip(), cell->text());
        }

    // Formulas under their root, each step with its fields sorted by name.
    ASSERT_NE(w->TreeNode(QStringLiteral("FKFullName")), nullptr);
    EXPECT_EQ(G::TreeFullPath(w->TreeNode(QStringLiteral("FKSyncTime"))), QStringLiteral("FORMULA!SyncTime"));
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    QTreeWidgetItem* root = w->TreeNode(source->Key);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->childCount(), 7);
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("balance"));
    EXPECT_EQ(root->child(6)->text(0), QStringLiteral("since"));
    EXPECT_TRUE(G::TreeNodeKey(root->child(0)).isEmpty());

    // ShowSource replaces a step's entry instead of doubling it.
    const int roots = w->treeSource->topLevelItemCount();
    w->ShowSource(source);
    EXPECT_EQ(w->treeSource->topLevelItemCount(), roots);
}

TEST_F(Mapping, AddLinkWritesTheReferenceAndMovesTheFieldToTheEnd) {
    const int city = row(QStringLiteral("city"));
    w->SelectGridRow(city);
    pick(QStringLiteral("SOURCE!last_name"));
    w->Link_Add();
    EXPECT_EQ(w->GridText(city, G::colMap), QStringLiteral("SOURCE(\"last_name\")"));
    EXPECT_EQ(w->GridIcon(city, G::colLink), G::icoCheck2);
    EXPECT_EQ(field(QStringLiteral("city"))->f_value, QStringLiteral("SOURCE(\"last_name\")"));
    EXPECT_EQ(fieldOrder().last(), QStringLiteral("city"));
    EXPECT_TRUE(w->IsModified());

    // A formula node gives the formula form and icon.
    pick(QStringLiteral("FORMULA!SyncTime"));
    w->Link_Add();
    EXPECT_EQ(field(QStringLiteral("city"))->f_value, QStringLiteral("FORMULA!SyncTime"));
    EXPECT_EQ(w->GridIcon(city, G::colLink), G::icoFormula);

    // A root (no "!") does nothing.
    pick(QStringLiteral("SOURCE"));
    w->Link_Add();
    EXPECT_EQ(field(QStringLiteral("city"))->f_value, QStringLiteral("FORMULA!SyncTime"));

    // The grid refilled follows the new field order.
    w->ShowTarget(target);
    EXPECT_EQ(w->GridText(w->GridRows(), G::colField), QStringLiteral("city"));
}

TEST_F(Mapping, LookupAndMappingAreRemovedIndependently) {
    const int id = row(QStringLiteral("id"));
    w->SelectGridRow(id);
    w->Link_Remove();
    EXPECT_TRUE(field(QStringLiteral("id"))->f_value.isEmpty());
    EXPECT_EQ(field(QStringLiteral("id"))->f_lookup, QStringLiteral("SOURCE(\"id\")"));
    EXPECT_EQ(w->GridIcon(id, G::colLink), G::icoNone);
    EXPECT_EQ(w->GridIcon(id, G::colLookup), G::icoLookup);

    pick(QStringLiteral("SOURCE!country_code"));
    w->Link_Lookup();
    EXPECT_EQ(field(QStringLiteral("id"))->f_lookup, QStringLiteral("SOURCE(\"country_code\")"));
    EXPECT_EQ(w->GridText(id, G::colLookupExp), QStringLiteral("SOURCE(\"country_code\")"));

    const int city = row(QStringLiteral("city"));
    w->SelectGridRow(city);
    pick(QStringLiteral("SOURCE!city"));
    w->Link_Lookup();
    w->Link_RemoveLookup();
    EXPECT_TRUE(field(QStringLiteral("city"))->f_lookup.isEmpty());
    EXPECT_EQ(field(QStringLiteral("city"))->f_value, QStringLiteral("SOURCE(\"city\")"));
    EXPECT_EQ(w->GridIcon(city, G::colLookup), G::icoNone);

    // Through the delete command when the grid is the active control.
    w->SetActiveControl(QStringLiteral("grdTarget"));
    w->ActionDelete();
    EXPECT_TRUE(field(QStringLiteral("city"))->f_value.isEmpty());
    EXPECT_EQ(w->Process()->Shapes()->Count(), 5);
}

TEST_F(Mapping, CommandsWithoutTheirSelectionDoNothing) {
    w->SelectGridRow(0);
    pick(QStringLiteral("SOURCE!city"));
    for (auto command : {&G::Link_Add, &G::Link_Remove, &G::Link_Lookup, &G::Link_RemoveLookup, &G::Link_Formula})
        (w.get()->*command)();
    EXPECT_FALSE(w->IsModified());

    // A one-row grid starts without a selected row.
    const cShapeRef country = NodeByCaption(*w, QStringLiteral("COUNTRY"));
    target->storageRecord()->fields->Remove(QStringLiteral("id"));
    auto single = std::make_shared<tFieldsList>();
    single->Add(tFields{QStringLiteral("code"), 202, 255, QString(), QString()}, QStringLiteral("code"));
    country->storageRecord()->fields = single;
    w->ShowTarget(country);
    EXPECT_EQ(w->GridRows(), 1);
    EXPECT_EQ(w->SelectedGridRow(), 0);
    w->Link_Add();
    EXPECT_TRUE(single->item(QStringLiteral("code"))->f_value.isEmpty());
}

TEST_F(Mapping, ClearAllNeedsYesAndKeepsLookupOnlyRows) {
    const cShapeRef country = NodeByCaption(*w, QStringLiteral("COUNTRY"));
    ClickNode(*w, country->Index);
    target = country;
    // code: lookup only; give name a mapping.
    const int name = row(QStringLiteral("name"));
    w->SelectGridRow(name);
    pick(QStringLiteral("SOURCE!city"));
    w->Link_Add();

    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    w->Link_Clear();
    EXPECT_FALSE(field(QStringLiteral("name"))->f_value.isEmpty());

    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    w->Link_Clear();
    EXPECT_EQ(dialogs->Messages.back().Prompt, QStringLiteral("Delete all Links, Are You Sure?"));
    EXPECT_EQ(dialogs->Messages.back().Style, 35);
    EXPECT_TRUE(field(QStringLiteral("name"))->f_value.isEmpty());
    EXPECT_EQ(w->GridIcon(name, G::colLink), G::icoNone);
    const int code = row(QStringLiteral("code"));
    EXPECT_EQ(field(QStringLiteral("code"))->f_lookup, QStringLiteral("SOURCE(\"country_code\")"));
    EXPECT_EQ(w->GridIcon(code, G::colLookup), G::icoLookup);
}

TEST_F(Mapping, AutoLinkMatchesFieldNamesExactlyAndRelinksOnlyWhenAsked) {
    // Every data and storage step is listed, the target among them; a field
    // is never linked to itself, so an unmatched field stays unmapped.
    const int city = row(QStringLiteral("city"));
    w->SelectGridRow(city);
    pick(QStringLiteral("SOURCE!since"));
    w->Link_Add();
    const int fullName = row(QStringLiteral("full_name"));
    w->SelectGridRow(fullName);
    w->Link_Remove();
    const int id = row(QStringLiteral("id"));
    w->SelectGridRow(id);
    w->Link_Remove();

    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    w->Link_Auto();
    EXPECT_EQ(dialogs->Messages.back().Prompt, QStringLiteral("Ignore Existing Links?"));
    EXPECT_EQ(field(QStringLiteral("city"))->f_value, QStringLiteral("SOURCE(\"since\")"));
    EXPECT_EQ(field(QStringLiteral("id"))->f_value, QStringLiteral("SOURCE(\"id\")"));
    EXPECT_EQ(w->GridIcon(id, G::colLink), G::icoWand);
    EXPECT_TRUE(field(QStringLiteral("full_name"))->f_value.isEmpty());
    EXPECT_EQ(w->GridIcon(fullName, G::colLink), G::icoNone);

    // Yes relinks the rows that find a match.
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    w->Link_Auto();
    EXPECT_EQ(field(QStringLiteral("city"))->f_value, QStringLiteral("SOURCE(\"city\")"));
    EXPECT_EQ(w->GridIcon(city, G::colLink), G::icoWand);
    // No match: the mapping stays.
    EXPECT_EQ(field(QStringLiteral("country"))->f_value, QStringLiteral("COUNTRY(\"name\")"));

    // Matching is case-sensitive: a field "City" finds nothing.
    auto fields = target->storageRecord()->fields;
    fields->Add(tFields{QStringLiteral("City"), 202, 255, QString(), QString()}, QStringLiteral("Town"));
    w->ShowTarget(target);
    // Cancel maps nothing, not even the row that has a match.
    w->SelectGridRow(row(QStringLiteral("id")));
    w->Link_Remove();
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbCancel);
    w->Link_Auto();
    EXPECT_TRUE(fields->item(QStringLiteral("Town"))->f_value.isEmpty());
    EXPECT_TRUE(field(QStringLiteral("id"))->f_value.isEmpty());
    // Refilled, an automatic link shows as a plain field link.
    EXPECT_EQ(w->GridIcon(row(QStringLiteral("city")), G::colLink), G::icoCheck2);
}

TEST_F(Mapping, DeletingAFormulaIsRefusedWhileUsed) {
    pick(QStringLiteral("FORMULA!FullName"));
    w->Del_Link_Formula();
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Prompt, QStringLiteral("The formula is used, it can not be deleted."));
    EXPECT_EQ(w->Process()->Formulas()->Count(), 2);

    pick(QStringLiteral("SOURCE!city"));
    w->Del_Link_Formula();
    EXPECT_EQ(dialogs->Messages.back().Prompt, QStringLiteral("Not a formula"));
    EXPECT_EQ(dialogs->Messages.back().Title, QStringLiteral("Warning"));
    EXPECT_FALSE(w->IsModified());

    // Unused once its only mapping is removed (names compare in any case).
    w->SelectGridRow(row(QStringLiteral("synced_at")));
    w->Link_Remove();
    pick(QStringLiteral("FORMULA!SyncTime"));
    w->Del_Link_Formula();
    EXPECT_EQ(w->Process()->Formulas()->Count(), 1);
    EXPECT_EQ(w->TreeNode(QStringLiteral("FKSyncTime")), nullptr);
    EXPECT_TRUE(w->IsModified());
}

TEST_F(Mapping, FormulaLinkCreatesAFormulaAndLinksTheRowToIt) {
    const int country = row(QStringLiteral("country"));
    w->SelectGridRow(country);
    // A row mapped to a field opens no editor.
    int shown = 0;
    cModalRunnerGuard runner([&](QDialog& dialog) {
        ++shown;
        auto& editor = static_cast<frmAddFormula&>(dialog);
        editor.txtName()->setText(QStringLiteral("Country"));
        editor.setFormulaBoxText(QStringLiteral("Function Main()\r\n Main = \"X\"\r\nEnd Function"));
        editor.btnOK_Click();
    });
    w->Link_Formula();
    EXPECT_EQ(shown, 0);

    w->Link_Remove();
    w->Link_Formula();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(field(QStringLiteral("country"))->f_value, QStringLiteral("FORMULA!Country"));
    EXPECT_EQ(w->GridIcon(country, G::colLink), G::icoFormula);
    EXPECT_NE(w->TreeNode(QStringLiteral("FKCountry")), nullptr);
}

TEST_F(Mapping, HeaderClicksSortAscendingThenDescending) {
    w->SortGridByColumn(G::colField);
    EXPECT_EQ(w->GridText(1, G::colField), QStringLiteral("balance"));
    w->SortGridByColumn(G::colField);
    EXPECT_EQ(w->GridText(1, G::colField), QStringLiteral("synced_at"));
    w->SortGridByColumn(G::colField);
    EXPECT_EQ(w->GridText(1, G::colField), QStringLiteral("balance"));
    // Icon columns sort by their icon: no icon first.
    w->SortGridByColumn(G::colLookup);
    EXPECT_EQ(w->GridIcon(1, G::colLookup), G::icoNone);
    EXPECT_EQ(w->GridIcon(w->GridRows(), G::colLookup), G::icoLookup);
}

// A picture of the window with the sample, for looking at by eye; written
// only when MERIDOX_SCREENSHOT_DIR names a folder.
TEST_F(Mapping, Screenshot) {
    const QString folder = qEnvironmentVariable("MERIDOX_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "MERIDOX_SCREENSHOT_DIR not set";
    w->resize(1000, 680);
    w->show();
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    ClickNode(*w, source->Index);
    ClickNode(*w, target->Index);
    w->treeSource->expandAll();
    w->SelectGridRow(2);
    QApplication::processEvents();
    EXPECT_TRUE(w->grab().save(QDir(folder).filePath(QStringLiteral("workbench.png"))));
}

}  // namespace
