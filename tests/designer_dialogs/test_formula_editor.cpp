// The formula editor: its text, its tree of steps, insertion of references,
// and the check and save of formulas against a workbench's document.

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTreeWidget>

#include "DialogTestSupport.h"
#include "document/clsProcess.h"
#include "workbench/ModalDialogs.h"
#include "workbench/frmAddFormula.h"
#include "workbench/frmWorkBench.h"

namespace {

const QString CrLfScript = QStringLiteral("Function Main()\r\n Main = 1\r\nEnd Function");

class FormulaEditorTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        frmAddFormula::FormulaName.clear();
        frmAddFormula::FormulaText.clear();
        // Give the source and target steps fields, as their dialogs would.
        cShapes* shapes = m_wb->Process()->Shapes();
        const cShapeRef source = SelectNode(QStringLiteral("SOURCE"));
        tData data;
        data.connName = QStringLiteral("Sales");
        data.connString = QStringLiteral("Provider=SQLite;Data Source=") + m_salesDb;
        data.sourcetype = QStringLiteral("table");
        data.Source = QStringLiteral("Orders");
        data.fields = std::make_shared<tFieldsList>();
        for (const char* name : {"Id", "customer", "Amount"})
            data.fields->Add(tFields{QString::fromLatin1(name), 3, 4, {}, {}});
        shapes->AddElementsToNode(source->Key, data);
        shapes->AddCaptionToShape(source->Key, QStringLiteral("Orders"));
        m_wb->ShowFormulas();
    }

    static void Select(QTreeWidgetItem* Item)
    {
        Item->treeWidget()->setCurrentItem(Item);
        Item->setSelected(true);
    }
};

}  // namespace

TEST_F(FormulaEditorTest, TextIsPreparedForTheBox)
{
    frmAddFormula dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Add Formula"));
    for (const char* name : {"txtName", "txtFormula", "trvObjects", "vlmSplitter1", "picButtons", "btnOK", "btnCancel"})
        EXPECT_NE(dlg.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;

    dlg.LoadView(*m_wb, 0);
    EXPECT_EQ(dlg.FormulaBoxText(), QStringLiteral("Function Main()\r\n Main = \"\"\r\nEnd Function"));
    EXPECT_TRUE(dlg.txtName()->text().isEmpty());

    frmAddFormula::FormulaName = QStringLiteral("Total");
    frmAddFormula::FormulaText = QStringLiteral("Function Main()\n Main = 2\nEnd Function");
    dlg.LoadView(*m_wb, 1);
    EXPECT_EQ(dlg.FormulaBoxText(), QStringLiteral("Function Main()\r\n Main = 2\r\nEnd Function"));
    EXPECT_EQ(dlg.txtName()->text(), QStringLiteral("Total"));
    // The caller's variables are the caller's: the editor does not write them.
    EXPECT_EQ(frmAddFormula::FormulaText, QStringLiteral("Function Main()\n Main = 2\nEnd Function"));
}

TEST_F(FormulaEditorTest, TreeListsSqlExecuteThenStepsWithSortedFields)
{
    frmAddFormula dlg;
    dlg.LoadView(*m_wb, 0);
    QTreeWidget* tree = dlg.trvObjects();
    // Only data and storage steps appear, in document order (the template
    // holds START, TARGET, END, then the data step).
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("SQLExecute(Step,Query,Field)"));
    EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("TARGET"));
    EXPECT_EQ(tree->topLevelItem(2)->text(0), QStringLiteral("Orders"));
    QTreeWidgetItem* orders = tree->topLevelItem(2);
    ASSERT_EQ(orders->childCount(), 3);
    EXPECT_EQ(orders->child(0)->text(0), QStringLiteral("Amount"));
    EXPECT_EQ(orders->child(1)->text(0), QStringLiteral("customer"));
    EXPECT_EQ(orders->child(2)->text(0), QStringLiteral("Id"));
    EXPECT_EQ(tree->topLevelItem(1)->childCount(), 0);

    // AddFields replaces a step's entry rather than adding a second one.
    dlg.AddFields(*SelectNode(QStringLiteral("Orders")));
    EXPECT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(frmAddFormula::FullPath(tree->topLevelItem(2)->child(0)), QStringLiteral("Orders!Amount"));
}

TEST_F(FormulaEditorTest, DoubleClickInsertsAtTheCaret)
{
    frmAddFormula dlg;
    dlg.LoadView(*m_wb, 0);
    QTreeWidget* tree = dlg.trvObjects();

    // Nothing selected: nothing happens.
    dlg.setFormulaBoxText(QStringLiteral("abcdefgh"));
    dlg.trvObjects_DblClick();
    EXPECT_EQ(dlg.FormulaBoxText(), QStringLiteral("abcdefgh"));

    QTextCursor cursor = dlg.txtFormula()->textCursor();
    cursor.setPosition(5);
    dlg.txtFormula()->setTextCursor(cursor);
    Select(tree->topLevelItem(0));
    dlg.trvObjects_DblClick();
    EXPECT_EQ(dlg.FormulaBoxText(), QStringLiteral("abcde SQLExecute(Step,Query,Field) fgh"));

    // A field replaces the selection with the field-reference form.
    dlg.setFormulaBoxText(QStringLiteral("x = OLD + 1"));
    cursor = dlg.txtFormula()->textCursor();
    cursor.setPosition(4);
    cursor.setPosition(7, QTextCursor::KeepAnchor);
    dlg.txtFormula()->setTextCursor(cursor);
    QTreeWidgetItem* amount = tree->topLevelItem(2)->child(0);
    tree->setCurrentItem(amount);
    emit tree->itemDoubleClicked(amount, 0);
    EXPECT_EQ(dlg.FormulaBoxText(), QStringLiteral("x =  Orders(\"Amount\")  + 1"));

    // On a later line, positions count the line ends as the box does.
    dlg.setFormulaBoxText(QStringLiteral("a\r\nb"));
    cursor = dlg.txtFormula()->textCursor();
    cursor.setPosition(3);
    dlg.txtFormula()->setTextCursor(cursor);
    Select(tree->topLevelItem(2));
    dlg.trvObjects_DblClick();
    EXPECT_EQ(dlg.FormulaBoxText(), QStringLiteral("a\r\nb Orders "));
}

TEST_F(FormulaEditorTest, OkChecksSavesAndAddsTheTreeNode)
{
    bool seen = false;
    const cModalRunnerGuard runner([&](QDialog& Dialog) {
        seen = true;
        auto& dlg = static_cast<frmAddFormula&>(Dialog);
        // No name: refused.
        dlg.btnOK_Click();
        ASSERT_EQ(Boxes().Messages.size(), 1U);
        EXPECT_EQ(Boxes().Messages[0].Prompt, QStringLiteral("Need a name to save the formula"));
        EXPECT_EQ(Boxes().Messages[0].Style, 16);
        EXPECT_FALSE(dlg.Closed());

        // A script error: the engine's text after the prefix.
        dlg.txtName()->setText(QStringLiteral("Total"));
        dlg.setFormulaBoxText(QStringLiteral("Function Main()\r\n Main = (1 +\r\nEnd Function"));
        dlg.btnOK_Click();
        ASSERT_EQ(Boxes().Messages.size(), 2U);
        EXPECT_TRUE(Boxes().Messages[1].Prompt.startsWith(QStringLiteral("Error In formula \n")));
        // "On Line" and its number stay on one line however the box wraps.
        EXPECT_TRUE(Boxes().Messages[1].Prompt.contains(QStringLiteral("On\u00A0Line\u00A02")))
            << Boxes().Messages[1].Prompt.toStdString();
        EXPECT_EQ(Boxes().Messages[1].Style, 0);
        EXPECT_FALSE(dlg.Closed());
        EXPECT_EQ(m_wb->Process()->Formulas()->Count(), 0);

        dlg.setFormulaBoxText(QStringLiteral("Function Main()\r\n Main = Orders(\"Amount\") * 2\r\nEnd Function"));
        dlg.btnOK()->click();
        EXPECT_TRUE(dlg.Closed());
    });
    EXPECT_TRUE(frmAddFormula::ShowFormula(*m_wb, 0));
    EXPECT_TRUE(seen);
    ASSERT_EQ(m_wb->Process()->Formulas()->Count(), 1);
    const tFormula* saved = m_wb->Process()->Formulas()->Collection().item("total");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->formula, QStringLiteral("Function Main()\r\n Main = Orders(\"Amount\") * 2\r\nEnd Function"));
    QTreeWidgetItem* node = m_wb->TreeNode(QStringLiteral("FKTotal"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(frmWorkBench::TreeFullPath(node), QStringLiteral("FORMULA!Total"));
    EXPECT_TRUE(node->isSelected());
}

TEST_F(FormulaEditorTest, DuplicateNamesRefusedWhenNewReplacedWhenEdited)
{
    cFormulas* formulas = m_wb->Process()->Formulas();
    formulas->AddFormula(QStringLiteral("Total"), CrLfScript);
    formulas->AddFormula(QStringLiteral("Other"), CrLfScript);
    m_wb->ShowFormulas();

    {
        frmAddFormula dlg;
        dlg.LoadView(*m_wb, 0);
        dlg.txtName()->setText(QStringLiteral("TOTAL"));
        dlg.btnOK_Click();
        ASSERT_EQ(Boxes().Messages.size(), 1U);
        EXPECT_EQ(Boxes().Messages[0].Prompt,
                  QStringLiteral("A formula with this name already exist, please try another name."));
        EXPECT_FALSE(dlg.Closed());
        EXPECT_FALSE(dlg.Saved());
        dlg.btnCancel_Click();
        EXPECT_TRUE(dlg.Closed());
        EXPECT_FALSE(dlg.Saved());
    }
    EXPECT_EQ(formulas->Collection().item("Total")->formula, CrLfScript);

    frmAddFormula::FormulaName = QStringLiteral("Total");
    frmAddFormula::FormulaText = CrLfScript;
    const cModalRunnerGuard runner([](QDialog& Dialog) {
        auto& dlg = static_cast<frmAddFormula&>(Dialog);
        dlg.setFormulaBoxText(QStringLiteral("Function Main()\r\n Main = 7\r\nEnd Function"));
        dlg.btnOK_Click();
    });
    EXPECT_TRUE(frmAddFormula::ShowFormula(*m_wb, 1));
    EXPECT_TRUE(Boxes().Messages.size() == 1U);
    ASSERT_EQ(formulas->Count(), 2);
    // Replaced and moved to the end.
    EXPECT_EQ(formulas->Collection().item(1)->name, QStringLiteral("Other"));
    EXPECT_EQ(formulas->Collection().item(2)->name, QStringLiteral("Total"));
    EXPECT_EQ(formulas->Collection().item(2)->formula, QStringLiteral("Function Main()\r\n Main = 7\r\nEnd Function"));

    // Editing Total and renaming it onto Other would overwrite Other: refused,
    // the dialog stays open. Its own name in another letter case is allowed.
    {
        frmAddFormula::FormulaName = QStringLiteral("Total");
        frmAddFormula::FormulaText = CrLfScript;
        frmAddFormula dlg;
        dlg.LoadView(*m_wb, 1);
        dlg.txtName()->setText(QStringLiteral("other"));
        dlg.btnOK_Click();
        ASSERT_EQ(Boxes().Messages.size(), 2U);
        EXPECT_EQ(Boxes().Messages[1].Prompt,
                  QStringLiteral("A formula with this name already exist, please try another name."));
        EXPECT_FALSE(dlg.Closed());
        EXPECT_FALSE(dlg.Saved());
        EXPECT_EQ(formulas->Collection().item("Other")->formula, CrLfScript);

        dlg.txtName()->setText(QStringLiteral("TOTAL"));
        dlg.btnOK_Click();
        EXPECT_TRUE(dlg.Closed());
        EXPECT_TRUE(dlg.Saved());
    }
    ASSERT_EQ(formulas->Count(), 2);
    EXPECT_EQ(formulas->Collection().item(1)->name, QStringLiteral("Other"));
    EXPECT_EQ(formulas->Collection().item(2)->name, QStringLiteral("TOTAL"));
    EXPECT_NE(m_wb->TreeNode(QStringLiteral("FKTOTAL")), nullptr);
    EXPECT_EQ(m_wb->TreeNode(QStringLiteral("FKTotal")), nullptr);
}

TEST_F(FormulaEditorTest, ConditionIsEditedWithoutNameOrCheck)
{
    QString condition = QStringLiteral("Orders(\"Amount\") > 10\nAnd True");
    {
        const cModalRunnerGuard runner([](QDialog& Dialog) {
            auto& dlg = static_cast<frmAddFormula&>(Dialog);
            EXPECT_TRUE(dlg.txtName()->isHidden());
            EXPECT_EQ(dlg.FormulaBoxText(), QStringLiteral("Orders(\"Amount\") > 10\r\nAnd True"));
            dlg.setFormulaBoxText(QStringLiteral("x > 1"));
            dlg.btnOK_Click();
        });
        EXPECT_TRUE(frmAddFormula::EditCondition(m_wb, condition));
    }
    EXPECT_EQ(condition, QStringLiteral("x > 1"));
    EXPECT_TRUE(Boxes().Messages.empty());
    EXPECT_EQ(m_wb->Process()->Formulas()->Count(), 0);

    const cModalRunnerGuard cancel([](QDialog& Dialog) { static_cast<frmAddFormula&>(Dialog).btnCancel_Click(); });
    EXPECT_FALSE(frmAddFormula::EditCondition(nullptr, condition));
    EXPECT_EQ(condition, QStringLiteral("x > 1"));
}
