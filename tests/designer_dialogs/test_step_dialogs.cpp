// The source and target step dialogs against real SQLite files.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "DialogTestSupport.h"
#include "app/basMain.h"
#include "data/AdoTypes.h"
#include "document/clsProcess.h"
#include "workbench/ModalDialogs.h"
#include "workbench/StepComboBox.h"
#include "workbench/frmAddSource.h"
#include "workbench/frmAddTarget.h"
#include "workbench/frmWorkBench.h"

namespace {

QStringList Items(const QComboBox* Combo)
{
    QStringList items;
    for (int i = 0; i < Combo->count(); ++i)
        items << Combo->itemText(i);
    return items;
}

void Choose(cStepComboBox* Combo, const QString& Text)
{
    const int index = Combo->findText(Text);
    ASSERT_GE(index, 0) << Text.toStdString();
    Combo->setCurrentIndex(index);
    emit Combo->textActivated(Text);
}

const tFields* Field(const tFieldsRef& Fields, const QString& Name)
{
    if (!Fields)
        return nullptr;
    for (const tFields& field : *Fields)
        if (field.f_name == Name)
            return &field;
    return nullptr;
}

}  // namespace

using SourceDialogTest = DialogTest;
using TargetDialogTest = DialogTest;

TEST_F(SourceDialogTest, NewStepPicksATableAndSavesItsFields)
{
    const cShapeRef node = AddNode(aData, QStringLiteral("Data1"));
    ASSERT_TRUE(node);
    frmAddSource dlg;
    dlg.LoadView(*m_wb);

    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Add Source..."));
    EXPECT_TRUE(dlg.optTable()->isChecked());
    EXPECT_FALSE(dlg.btnOK()->isEnabled());
    EXPECT_FALSE(dlg.btnTest()->isEnabled());
    EXPECT_TRUE(dlg.txtSql()->isReadOnly());
    EXPECT_EQ(dlg.txtName()->text(), QStringLiteral("Data1"));
    for (const char* name : {"txtName", "cmbConnection", "btnAddConn", "optTable", "cmbTable", "optSql", "txtSql",
                             "btnTest", "lblRecords", "btnOK", "btnCancel"})
        EXPECT_NE(dlg.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;

    // The list opens with the registry's names; a choice lists tables and
    // views only (SQLite's own sequence table is left out).
    dlg.cmbConnection()->showPopup();
    dlg.cmbConnection()->hidePopup();
    EXPECT_EQ(Items(dlg.cmbConnection()), QStringList{QStringLiteral("Sales")});
    Choose(dlg.cmbConnection(), QStringLiteral("Sales"));
    EXPECT_EQ(Items(dlg.cmbTable()),
              (QStringList{QStringLiteral("Customers"), QStringLiteral("Orders"), QStringLiteral("BigOrders")}));
    EXPECT_FALSE(dlg.btnOK()->isEnabled());
    Choose(dlg.cmbTable(), QStringLiteral("Orders"));
    EXPECT_TRUE(dlg.btnOK()->isEnabled());

    dlg.txtName()->setText(QStringLiteral("Orders"));
    dlg.btnOK_Click();
    EXPECT_TRUE(dlg.Closed());
    EXPECT_TRUE(Boxes().Messages.empty());

    const tData* record = node->dataRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->connName, QStringLiteral("Sales"));
    EXPECT_EQ(record->connString, gConnections->ConnectionString(QStringLiteral("Sales")).value_or(QString()));
    EXPECT_TRUE(record->connString.contains(m_salesDb));
    EXPECT_EQ(record->sourcetype, QStringLiteral("table"));
    EXPECT_EQ(record->Source, QStringLiteral("Orders"));
    EXPECT_EQ(FieldNames(record->fields),
              (QStringList{QStringLiteral("Id"), QStringLiteral("Amount"), QStringLiteral("Customer"),
                           QStringLiteral("Created")}));
    // Data step fields carry no keys.
    EXPECT_TRUE(record->fields->KeyAt(1).isEmpty());
    const tFields* amount = Field(record->fields, QStringLiteral("Amount"));
    ASSERT_NE(amount, nullptr);
    EXPECT_EQ(amount->f_type, ado::adDouble);
    const tFields* customer = Field(record->fields, QStringLiteral("Customer"));
    ASSERT_NE(customer, nullptr);
    EXPECT_EQ(customer->f_type, ado::adVarWChar);
    EXPECT_EQ(customer->f_size, 40);
    EXPECT_TRUE(customer->f_value.isEmpty());
    EXPECT_EQ(Field(record->fields, QStringLiteral("Id"))->f_type, ado::adInteger);

    EXPECT_EQ(node->sCaption, QStringLiteral("Orders"));
    EXPECT_TRUE(m_wb->IsModified());
    EXPECT_TRUE(m_wb->windowTitle().endsWith(u'*'));
}

TEST_F(SourceDialogTest, QueryMustPassItsTestBeforeOk)
{
    const cShapeRef node = SelectNode(QStringLiteral("SOURCE"));
    frmAddSource dlg;
    dlg.LoadView(*m_wb);
    dlg.cmbConnection()->setEditText(QStringLiteral("Sales"));

    dlg.optSql()->click();
    EXPECT_TRUE(dlg.btnOK()->isEnabled());
    EXPECT_TRUE(dlg.btnTest()->isEnabled());
    EXPECT_FALSE(dlg.cmbTable()->isEnabled());

    // Editing disables OK; a failing test keeps it disabled.
    dlg.txtSql()->setPlainText(QStringLiteral("SELECT Nope FROM Orders"));
    EXPECT_FALSE(dlg.btnOK()->isEnabled());
    dlg.btnTest_Click();
    ASSERT_EQ(Boxes().Messages.size(), 1U);
    EXPECT_EQ(Boxes().Messages[0].Style, 16);
    EXPECT_TRUE(Boxes().Messages[0].Prompt.contains(QStringLiteral("Nope"))) << Boxes().Messages[0].Prompt.toStdString();
    EXPECT_FALSE(dlg.btnOK()->isEnabled());

    dlg.txtSql()->setPlainText(QStringLiteral("SELECT Id, Customer AS Who FROM Orders WHERE Amount > 1000"));
    dlg.btnTest_Click();
    EXPECT_EQ(dlg.lblRecords()->text(), QStringLiteral("[0 records affected]"));
    EXPECT_TRUE(dlg.btnOK()->isEnabled());

    dlg.txtSql()->setPlainText(QStringLiteral("SELECT Id, Customer AS Who FROM Orders WHERE Amount > 100"));
    EXPECT_FALSE(dlg.btnOK()->isEnabled());
    dlg.btnTest_Click();
    EXPECT_EQ(dlg.lblRecords()->text(), QStringLiteral("[2 records affected]"));
    ASSERT_TRUE(dlg.btnOK()->isEnabled());

    dlg.btnOK_Click();
    EXPECT_TRUE(dlg.Closed());
    const tData* record = node->dataRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->sourcetype, QStringLiteral("sql"));
    EXPECT_EQ(record->Source, QStringLiteral("SELECT Id, Customer AS Who FROM Orders WHERE Amount > 100"));
    EXPECT_EQ(FieldNames(record->fields), (QStringList{QStringLiteral("Id"), QStringLiteral("Who")}));
}

TEST_F(SourceDialogTest, TestingAStatementChangesNoData)
{
    SelectNode(QStringLiteral("SOURCE"));
    frmAddSource dlg;
    dlg.LoadView(*m_wb);
    dlg.cmbConnection()->setEditText(QStringLiteral("Sales"));
    dlg.optSql_Click();
    dlg.txtSql()->setPlainText(QStringLiteral("DELETE FROM Orders"));
    dlg.btnTest_Click();

    auto cn = gConnections->Connection(QStringLiteral("Sales"));
    ASSERT_TRUE(cn);
    ado::Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT * FROM Orders"), *cn, ado::adOpenStatic));
    EXPECT_EQ(rs.RecordCount(), 3);
}

TEST_F(SourceDialogTest, ReopenedStepShowsItsSource)
{
    const cShapeRef node = SelectNode(QStringLiteral("SOURCE"));
    tData table;
    table.connName = QStringLiteral("Sales");
    table.sourcetype = QStringLiteral("table");
    table.Source = QStringLiteral("Customers");
    m_wb->Process()->Shapes()->AddElementsToNode(node->Key, table);
    {
        frmAddSource dlg;
        dlg.LoadView(*m_wb);
        EXPECT_EQ(dlg.cmbConnection()->currentText(), QStringLiteral("Sales"));
        EXPECT_EQ(Items(dlg.cmbConnection()), QStringList{QStringLiteral("Sales")});
        EXPECT_EQ(dlg.cmbTable()->count(), 3);
        EXPECT_EQ(dlg.cmbTable()->currentText(), QStringLiteral("Customers"));
        EXPECT_TRUE(dlg.optTable()->isChecked());
        EXPECT_TRUE(dlg.btnOK()->isEnabled());
        // Cancel changes nothing.
        dlg.btnCancel_Click();
        EXPECT_TRUE(dlg.Closed());
        EXPECT_FALSE(m_wb->IsModified());
        EXPECT_EQ(node->dataRecord()->Source, QStringLiteral("Customers"));
    }

    tData sql = table;
    sql.sourcetype = QStringLiteral("sql");
    sql.Source = QStringLiteral("SELECT 1 AS One");
    m_wb->Process()->Shapes()->AddElementsToNode(node->Key, sql);
    frmAddSource dlg;
    dlg.LoadView(*m_wb);
    EXPECT_TRUE(dlg.optSql()->isChecked());
    EXPECT_EQ(dlg.txtSql()->toPlainText(), QStringLiteral("SELECT 1 AS One"));
    EXPECT_TRUE(dlg.btnOK()->isEnabled());
    EXPECT_TRUE(dlg.btnTest()->isEnabled());
    EXPECT_TRUE(dlg.cmbTable()->currentText().isEmpty());
}

TEST_F(SourceDialogTest, RefusalsKeepTheDialogOpenAndTheNodeUnchanged)
{
    AddConnection(QStringLiteral("Gone"), QStringLiteral("Provider=SQLite;Data Source=") +
                                              m_dir.filePath(QStringLiteral("missing.db")));
    const cShapeRef node = SelectNode(QStringLiteral("SOURCE"));
    frmAddSource dlg;
    dlg.LoadView(*m_wb);

    dlg.txtName()->clear();
    dlg.btnOK_Click();
    ASSERT_EQ(Boxes().Messages.size(), 1U);
    EXPECT_EQ(Boxes().Messages[0].Prompt, QStringLiteral("Please enter a step name."));
    EXPECT_EQ(Boxes().Messages[0].Style, 64);
    EXPECT_EQ(Boxes().Messages[0].Title, QStringLiteral("Meridox"));
    EXPECT_FALSE(dlg.Closed());

    dlg.txtName()->setText(QStringLiteral("Src"));
    dlg.cmbConnection()->setEditText(QStringLiteral("Gone"));
    dlg.cmbConnection_Click();   // the table list cannot be read
    dlg.btnOK_Click();
    ASSERT_EQ(Boxes().Messages.size(), 3U);
    EXPECT_EQ(Boxes().Messages[1].Prompt, QStringLiteral("Error opening connection"));
    EXPECT_EQ(Boxes().Messages[2].Prompt, QStringLiteral("Error opening connection"));
    EXPECT_EQ(Boxes().Messages[2].Style, 0);
    EXPECT_FALSE(dlg.Closed());
    EXPECT_EQ(node->dataRecord()->connName, QString());
    EXPECT_EQ(node->sCaption, QStringLiteral("SOURCE"));
    EXPECT_FALSE(m_wb->IsModified());

    // An empty table saves the step without a field list.
    dlg.cmbConnection()->setEditText(QStringLiteral("Sales"));
    dlg.btnOK_Click();
    EXPECT_TRUE(dlg.Closed());
    EXPECT_EQ(node->dataRecord()->connName, QStringLiteral("Sales"));
    EXPECT_TRUE(node->dataRecord()->Source.isEmpty());
    EXPECT_TRUE(FieldNames(node->dataRecord()->fields).isEmpty());
    EXPECT_EQ(node->sCaption, QStringLiteral("Src"));
}

TEST_F(SourceDialogTest, StepNamesAndTablesTheRunCannotUseAreRefused)
{
    RunSql(m_salesDb, {QStringLiteral("CREATE TABLE \"order items\" (Item INTEGER, \"unit price\" DOUBLE)")});
    const cShapeRef node = SelectNode(QStringLiteral("SOURCE"));
    frmAddSource dlg;
    dlg.LoadView(*m_wb);
    dlg.optTable_Click();
    dlg.cmbConnection_DropDown();
    Choose(dlg.cmbConnection(), QStringLiteral("Sales"));
    Choose(dlg.cmbTable(), QStringLiteral("order items"));

    // A name scripts cannot write, or one another step has in any letter
    // case: refused with a message, the dialog stays, the node is unchanged.
    const int before = static_cast<int>(Boxes().Messages.size());
    for (const char* name : {"Src!1", "my step", "1st", "target", "End"}) {
        dlg.txtName()->setText(QString::fromLatin1(name));
        dlg.btnOK_Click();
        EXPECT_FALSE(dlg.Closed()) << name;
    }
    ASSERT_EQ(static_cast<int>(Boxes().Messages.size()), before + 5);
    EXPECT_TRUE(Boxes().Messages[before].Prompt.contains(QStringLiteral("Src!1")));
    EXPECT_TRUE(Boxes().Messages[before + 3].Prompt.contains(QStringLiteral("TARGET")));
    EXPECT_EQ(node->sCaption, QStringLiteral("SOURCE"));
    EXPECT_FALSE(m_wb->IsModified());

    // Its own name in another case is fine; a table whose name needs
    // quoting gives its fields.
    dlg.txtName()->setText(QStringLiteral("Source"));
    dlg.btnOK_Click();
    EXPECT_TRUE(dlg.Closed());
    EXPECT_EQ(node->sCaption, QStringLiteral("Source"));
    EXPECT_EQ(node->dataRecord()->Source, QStringLiteral("order items"));
    EXPECT_EQ(FieldNames(node->dataRecord()->fields), (QStringList{QStringLiteral("Item"), QStringLiteral("unit price")}));

    // A source the provider refuses is reported and nothing is stored.
    frmAddSource again;
    again.LoadView(*m_wb);
    again.cmbTable()->setEditText(QStringLiteral("NoSuchTable"));
    again.btnOK_Click();
    EXPECT_FALSE(again.Closed());
    EXPECT_EQ(Boxes().Messages.back().Style, 16);
    EXPECT_TRUE(Boxes().Messages.back().Prompt.contains(QStringLiteral("NoSuchTable")));
    EXPECT_EQ(node->dataRecord()->Source, QStringLiteral("order items"));

    // The target dialog follows the same rules.
    const cShapeRef target = SelectNode(QStringLiteral("TARGET"));
    frmAddTarget tdlg;
    tdlg.LoadView(*m_wb);
    tdlg.cmbConnection_DropDown();
    Choose(tdlg.cmbConnection(), QStringLiteral("Sales"));
    Choose(tdlg.cmbTable(), QStringLiteral("order items"));
    tdlg.txtName()->setText(QStringLiteral("SOURCE"));
    tdlg.btnOK_Click();
    EXPECT_FALSE(tdlg.Closed());
    tdlg.txtName()->setText(QStringLiteral("Items out"));
    tdlg.btnOK_Click();
    EXPECT_FALSE(tdlg.Closed());
    tdlg.txtName()->setText(QStringLiteral("Items_out"));
    tdlg.btnOK_Click();
    EXPECT_TRUE(tdlg.Closed());
    EXPECT_EQ(target->sCaption, QStringLiteral("Items_out"));
    EXPECT_EQ(FieldNames(target->storageRecord()->fields),
              (QStringList{QStringLiteral("Item"), QStringLiteral("unit price")}));
}

TEST_F(SourceDialogTest, SpreadsheetSheetsAreBracketed)
{
    const QString sheets = m_dir.filePath(QStringLiteral("book.db"));
    RunSql(sheets, {QStringLiteral("CREATE TABLE \"Sheet1$\" (A VARCHAR(10), B DOUBLE)")});
    AddConnection(QStringLiteral("Book"),
                  QStringLiteral("Provider=SQLite;Data Source=") + sheets + QStringLiteral(";Extended Properties=Excel 8.0"));
    const cShapeRef node = AddNode(aData, QStringLiteral("Sheet"));

    auto save = [&](const QString& Connection, const QString& Table) {
        frmAddSource dlg;
        dlg.LoadView(*m_wb);
        dlg.cmbConnection()->setEditText(Connection);
        dlg.cmbConnection_Click();
        dlg.cmbTable()->setEditText(Table);
        dlg.btnOK_Click();
        EXPECT_TRUE(dlg.Closed());
        return node->dataRecord() ? *node->dataRecord() : tData{};
    };
    tData saved = save(QStringLiteral("Book"), QStringLiteral("Sheet1$"));
    EXPECT_EQ(saved.Source, QStringLiteral("[Sheet1$]"));
    EXPECT_EQ(FieldNames(saved.fields), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    saved = save(QStringLiteral("Book"), QStringLiteral("[Sheet1$]"));
    EXPECT_EQ(saved.Source, QStringLiteral("[Sheet1$]"));
    saved = save(QStringLiteral("Sales"), QStringLiteral("Orders"));
    EXPECT_EQ(saved.Source, QStringLiteral("Orders"));
}

TEST_F(SourceDialogTest, PlusAddsARegistryEntryTheListThenShows)
{
    SelectNode(QStringLiteral("SOURCE"));
    frmAddSource dlg;
    dlg.LoadView(*m_wb);
    m_prompts->NewStrings.push_back(QStringLiteral("Provider=SQLite;Data Source=") + m_salesDb);
    m_prompts->Names.push_back(QStringLiteral("Copy"));
    dlg.btnAddConn()->click();
    dlg.cmbConnection_DropDown();
    EXPECT_EQ(Items(dlg.cmbConnection()), (QStringList{QStringLiteral("Sales"), QStringLiteral("Copy")}));
}

TEST_F(SourceDialogTest, ShowStepRunsTheDialogModally)
{
    const cShapeRef node = AddNode(aData, QStringLiteral("Big"));
    int shown = 0;
    const cModalRunnerGuard runner([&](QDialog& Dialog) {
        ++shown;
        auto* dlg = qobject_cast<frmAddSource*>(&Dialog);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->parentWidget(), m_wb);
        dlg->cmbConnection()->setEditText(QStringLiteral("Sales"));
        dlg->cmbConnection_Click();
        Choose(dlg->cmbTable(), QStringLiteral("BigOrders"));
        dlg->btnOK()->click();
    });
    frmAddSource::ShowStep(*m_wb);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(node->dataRecord()->Source, QStringLiteral("BigOrders"));
    EXPECT_EQ(FieldNames(node->dataRecord()->fields), (QStringList{QStringLiteral("Id"), QStringLiteral("Amount")}));
}

TEST_F(TargetDialogTest, NewStepReadsTheTableFieldsUnderTheirNames)
{
    const cShapeRef node = SelectNode(QStringLiteral("TARGET"));
    frmAddTarget dlg;
    dlg.LoadView(*m_wb);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Add Connection..."));
    // An unconfigured step opens quietly with an empty list.
    EXPECT_TRUE(Boxes().Messages.empty());
    EXPECT_EQ(dlg.cmbTable()->count(), 0);
    EXPECT_EQ(Items(dlg.cboOperation()), (QStringList{QStringLiteral("UpdateInsert"), QStringLiteral("Insert"),
                                                      QStringLiteral("Update"), QStringLiteral("Lookup"),
                                                      QStringLiteral("Delete")}));
    EXPECT_EQ(dlg.cboOperation()->currentText(), QStringLiteral("UpdateInsert"));
    EXPECT_TRUE(dlg.btnOK()->isEnabled());
    for (const char* name : {"txtName", "cmbConnection", "btnAddConn", "cmbTable", "cboOperation", "btnOK", "btnCancel"})
        EXPECT_NE(dlg.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;

    dlg.cmbConnection_DropDown();
    Choose(dlg.cmbConnection(), QStringLiteral("Sales"));
    EXPECT_EQ(Items(dlg.cmbTable()),
              (QStringList{QStringLiteral("Customers"), QStringLiteral("Orders"), QStringLiteral("BigOrders")}));
    Choose(dlg.cmbTable(), QStringLiteral("Customers"));
    dlg.cboOperation()->setCurrentText(QStringLiteral("Update"));
    dlg.txtName()->setText(QStringLiteral("Clients"));
    dlg.btnOK_Click();
    EXPECT_TRUE(dlg.Closed());

    const tStorage* record = node->storageRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->connName, QStringLiteral("Sales"));
    EXPECT_FALSE(record->connString.isEmpty());
    EXPECT_EQ(record->targettype, QStringLiteral("table"));
    EXPECT_EQ(record->target, QStringLiteral("Customers"));
    EXPECT_EQ(record->shpOperation, QStringLiteral("Update"));
    EXPECT_EQ(FieldNames(record->fields),
              (QStringList{QStringLiteral("Code"), QStringLiteral("Name"), QStringLiteral("Notes")}));
    ASSERT_NE(record->fields->item("code"), nullptr);
    EXPECT_EQ(record->fields->item("Code")->f_type, ado::adWChar);
    EXPECT_EQ(record->fields->item("Code")->f_size, 8);
    EXPECT_EQ(record->fields->item("Name")->f_type, ado::adVarWChar);
    EXPECT_EQ(record->fields->item("Notes")->f_type, ado::adLongVarWChar);
    EXPECT_EQ(node->sCaption, QStringLiteral("Clients"));
    EXPECT_TRUE(m_wb->IsModified());
}

TEST_F(TargetDialogTest, MappingsSurviveWhileTheTableStaysTheSame)
{
    const cShapeRef node = SelectNode(QStringLiteral("TARGET"));
    tStorage configured;
    configured.connName = QStringLiteral("Sales");
    configured.target = QStringLiteral("Customers");
    configured.shpOperation = QStringLiteral("Delete");
    configured.fields = std::make_shared<tFieldsList>();
    configured.fields->Add(tFields{QStringLiteral("Name"), ado::adVarWChar, 60, QStringLiteral("SOURCE(\"Who\")"), {}},
                           QStringLiteral("Name"));
    m_wb->Process()->Shapes()->AddElementsToNode(node->Key, configured);

    {
        frmAddTarget dlg;
        dlg.LoadView(*m_wb);
        EXPECT_EQ(dlg.cmbConnection()->currentText(), QStringLiteral("Sales"));
        EXPECT_EQ(dlg.cmbTable()->currentText(), QStringLiteral("Customers"));
        EXPECT_EQ(dlg.cmbTable()->count(), 3);
        EXPECT_EQ(dlg.cboOperation()->currentText(), QStringLiteral("Delete"));
        dlg.btnOK_Click();
        EXPECT_TRUE(dlg.Closed());
    }
    EXPECT_EQ(node->storageRecord()->fields, configured.fields);
    EXPECT_EQ(FieldNames(node->storageRecord()->fields), QStringList{QStringLiteral("Name")});
    EXPECT_EQ(node->storageRecord()->fields->item("Name")->f_value, QStringLiteral("SOURCE(\"Who\")"));
    EXPECT_EQ(node->storageRecord()->shpOperation, QStringLiteral("Delete"));

    frmAddTarget dlg;
    dlg.LoadView(*m_wb);
    Choose(dlg.cmbTable(), QStringLiteral("Orders"));
    dlg.btnOK_Click();
    const tStorage* record = node->storageRecord();
    EXPECT_EQ(record->target, QStringLiteral("Orders"));
    EXPECT_EQ(FieldNames(record->fields), (QStringList{QStringLiteral("Id"), QStringLiteral("Amount"),
                                                       QStringLiteral("Customer"), QStringLiteral("Created")}));
    for (const tFields& field : *record->fields)
        EXPECT_TRUE(field.f_value.isEmpty() && field.f_lookup.isEmpty());
    // The old list is left as it was (the mapping panel may still show it).
    EXPECT_EQ(configured.fields->Count(), 1);
}

TEST_F(TargetDialogTest, ConnectionAndTableFailuresAreReported)
{
    const cShapeRef node = SelectNode(QStringLiteral("TARGET"));
    tStorage configured;
    configured.connName = QStringLiteral("Nowhere");
    configured.target = QStringLiteral("Orders");
    m_wb->Process()->Shapes()->AddElementsToNode(node->Key, configured);

    frmAddTarget dlg;
    dlg.LoadView(*m_wb);
    ASSERT_EQ(Boxes().Messages.size(), 1U);
    EXPECT_EQ(Boxes().Messages[0].Prompt, QStringLiteral("Error openingConnection"));
    EXPECT_EQ(dlg.cmbTable()->currentText(), QStringLiteral("Orders"));

    dlg.btnOK_Click();
    ASSERT_EQ(Boxes().Messages.size(), 2U);
    EXPECT_EQ(Boxes().Messages[1].Prompt, QStringLiteral("Error opening conection"));
    EXPECT_FALSE(dlg.Closed());

    dlg.txtName()->clear();
    dlg.btnOK_Click();
    ASSERT_EQ(Boxes().Messages.size(), 3U);
    EXPECT_EQ(Boxes().Messages[2].Prompt, QStringLiteral("Please enter a step name."));

    // A table that cannot be read: the provider's reason, nothing saved.
    dlg.txtName()->setText(QStringLiteral("T"));
    dlg.cmbConnection()->setEditText(QStringLiteral("Sales"));
    dlg.cmbTable()->setEditText(QStringLiteral("NoSuchTable"));
    dlg.btnOK_Click();
    ASSERT_EQ(Boxes().Messages.size(), 4U);
    EXPECT_EQ(Boxes().Messages[3].Style, 16);
    EXPECT_TRUE(Boxes().Messages[3].Prompt.contains(QStringLiteral("NoSuchTable")))
        << Boxes().Messages[3].Prompt.toStdString();
    EXPECT_FALSE(dlg.Closed());
    EXPECT_EQ(node->storageRecord()->connName, QStringLiteral("Nowhere"));
    EXPECT_EQ(node->sCaption, QStringLiteral("TARGET"));
    EXPECT_FALSE(m_wb->IsModified());
}

TEST_F(TargetDialogTest, SpreadsheetTargetIsBracketedAndCancelKeepsTheStep)
{
    const QString sheets = m_dir.filePath(QStringLiteral("book.db"));
    RunSql(sheets, {QStringLiteral("CREATE TABLE \"Out$\" (A VARCHAR(10))")});
    AddConnection(QStringLiteral("Book"),
                  QStringLiteral("Provider=SQLite;Data Source=") + sheets + QStringLiteral(";Extended Properties=Excel 8.0"));
    const cShapeRef node = AddNode(aStorage, QStringLiteral("Out"));
    ASSERT_TRUE(node && node->storageRecord());
    {
        frmAddTarget dlg;
        dlg.LoadView(*m_wb);
        dlg.cmbConnection_DropDown();
        Choose(dlg.cmbConnection(), QStringLiteral("Book"));
        dlg.btnCancel()->click();
        EXPECT_TRUE(dlg.Closed());
        EXPECT_TRUE(node->storageRecord()->connName.isEmpty());
    }
    const cModalRunnerGuard runner([&](QDialog& Dialog) {
        auto& dlg = static_cast<frmAddTarget&>(Dialog);
        dlg.cmbConnection()->setEditText(QStringLiteral("Book"));
        dlg.cmbConnection_Click();
        Choose(dlg.cmbTable(), QStringLiteral("Out$"));
        dlg.btnOK_Click();
    });
    frmAddTarget::ShowStep(*m_wb);
    EXPECT_EQ(node->storageRecord()->target, QStringLiteral("[Out$]"));
    EXPECT_EQ(FieldNames(node->storageRecord()->fields), QStringList{QStringLiteral("A")});
    // A step that had no operation gets the one the list showed.
    EXPECT_EQ(node->storageRecord()->shpOperation, QStringLiteral("UpdateInsert"));
}

TEST_F(TargetDialogTest, CancelOnTheDialogOfANodeJustPlacedTakesTheNodeBack)
{
    cShapes* shapes = m_wb->Process()->Shapes();
    const auto byCaption = [&](const QString& Caption) {
        for (const cShapeRef& node : shapes->Collection())
            if (node->sCaption == Caption)
                return node;
        return cShapeRef();
    };
    const auto linked = [&](int From, int To) {
        for (const cLineRef& link : m_wb->Process()->Lines()->Collection())
            if (link->sFrom.toInt() == From && link->sTo.toInt() == To)
                return true;
        return false;
    };
    const cShapeRef target = byCaption(QStringLiteral("TARGET"));
    const cShapeRef end = byCaption(QStringLiteral("END"));
    ASSERT_TRUE(target && end);
    const int before = shapes->Count();
    const QString title = m_wb->windowTitle();
    QStringList shown;
    const cModalRunnerGuard runner([&](QDialog& Dialog) {
        shown << Dialog.objectName();
        if (auto* dlg = qobject_cast<frmAddTarget*>(&Dialog))
            dlg->btnCancel()->click();
        else if (auto* dlg = qobject_cast<frmAddSource*>(&Dialog))
            dlg->btnCancel()->click();
    });
    m_wb->SetActiveControl(QStringLiteral("picFlow"));
    m_wb->ActionAddStorage();
    m_wb->picFlow_MouseDown(1, 0, 3000.0F, 2400.0F);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shapes->Count(), before);
    EXPECT_TRUE(linked(target->Index, end->Index));
    EXPECT_FALSE(m_wb->IsModified());
    EXPECT_EQ(m_wb->windowTitle(), title);

    m_wb->SetActiveControl(QStringLiteral("picFlow"));
    m_wb->ActionAddData();
    m_wb->picFlow_MouseDown(1, 0, 3000.0F, 4000.0F);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shapes->Count(), before);
    for (const cShapeRef& node : shapes->Collection())
        EXPECT_FALSE(node->sCaption.isEmpty()) << node->Index;
}
