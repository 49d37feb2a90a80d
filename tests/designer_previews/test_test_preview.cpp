// The record-by-record test preview over a real source and target.

#include "PreviewSupport.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTableWidget>
#include <QToolButton>

#include "workbench/frmTestPreview.h"

namespace {

// "FIELD=VALUE" per row of a record grid.
QStringList record(const QTableWidget* Grid)
{
    QStringList out;
    for (int r = 0; r < Grid->rowCount(); ++r)
        out << Grid->item(r, 0)->text() + "=" + (Grid->item(r, 1) ? Grid->item(r, 1)->text() : QString());
    return out;
}

class TestPreview : public PreviewTest {
protected:
    void SetUp() override
    {
        PreviewTest::SetUp();
        makeSource(3);
        makeTarget();
        buildFlow(process);
        preview = frmTestPreview::DefaultInstance();
    }
    // Rows the test run has written so far, seen inside its transaction.
    int written() { return tgt->ExecuteSql("SELECT COUNT(*) AS n FROM tgt", "n").value_or(-1).toInt(); }
    QString position() const { return preview->lblRecordPos()->text(); }

    clsProcess process;
    frmTestPreview* preview = nullptr;
};

TEST_F(TestPreview, OpeningShowsAndProcessesTheFirstRecord)
{
    ASSERT_TRUE(preview->ShowData(&process));
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(position(), "Record  1  of   3");
    EXPECT_EQ(preview->lblSource()->text(), "SRC");
    EXPECT_EQ(preview->lblTarget()->text(), "TGT");
    QTableWidget* source = preview->findChild<QTableWidget*>("grdData_0");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->horizontalHeaderItem(1)->text(), "Value");
    EXPECT_EQ(record(source), (QStringList{"id=1", "name=n1", "amount=10"}));
    // The target step after record 1: the row it wrote.
    EXPECT_EQ(record(preview->grdData(1)), (QStringList{"id=1", "name=n1"}));
    EXPECT_EQ(written(), 1);
    EXPECT_EQ(frmTestPreview::DefaultInstance(), preview);
    // Each navigation button says where it goes.
    const QStringList tips = {"First record", "Previous record", "Next record", "Last record"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(preview->findChild<QToolButton*>(QStringLiteral("cmdNav_%1").arg(i))->toolTip(), tips.at(i));
}

TEST_F(TestPreview, NavigationProcessesOneRecordPerClickAndLeavesTheTargetUnchanged)
{
    ASSERT_TRUE(preview->ShowData(&process));

    // Previous right after opening processes record 1 again.
    preview->findChild<QToolButton*>("cmdNav_1")->click();
    EXPECT_EQ(position(), "Record  1  of   3");
    EXPECT_EQ(written(), 2);

    preview->cmdNav_Click(2);   // next
    EXPECT_EQ(position(), "Record  2  of   3");
    EXPECT_EQ(record(preview->grdData(0)), (QStringList{"id=2", "name=", "amount=20"}));
    EXPECT_EQ(record(preview->grdData(1)), (QStringList{"id=2", "name="}));

    preview->cmdNav_Click(3);   // last
    EXPECT_EQ(position(), "Record  3  of   3");
    EXPECT_EQ(written(), 4);

    // Past the last record: nothing processed, no record to show.
    preview->cmdNav_Click(2);
    EXPECT_EQ(position(), "Record  0  of   3");
    EXPECT_EQ(written(), 4);

    // The source step selected: both grids show source data, the target
    // grid read after processing; the label keeps the first caption.
    process.Shapes()->CurrCtl = src->Key;
    preview->cmdNav_Click(0);   // first
    EXPECT_EQ(position(), "Record  1  of   3");
    EXPECT_EQ(record(preview->grdData(1)).first(), "id=2");
    EXPECT_EQ(preview->lblTarget()->text(), "TGT");
    EXPECT_EQ(written(), 5);

    // Nothing of the test reached the target database, nor does closing.
    EXPECT_EQ(count("target", "tgt"), 0);
    preview->ActionClose();
    EXPECT_EQ(count("target", "tgt"), 0);
}

TEST_F(TestPreview, ClosingRollsTheTestBackAndTheNextTestStartsClean)
{
    ASSERT_TRUE(preview->ShowData(&process));
    EXPECT_EQ(written(), 1);
    EXPECT_TRUE(frmTestPreview::IsTesting(&process));
    preview->ActionClose();
    EXPECT_FALSE(frmTestPreview::IsTesting(&process));

    // The target database takes other writers again (a runner, the service).
    exec("target", {"INSERT INTO tgt VALUES (9, 'other')"});
    EXPECT_EQ(count("target", "tgt"), 1);

    // A new test sees only what was committed, plus its own first record.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    preview = frmTestPreview::DefaultInstance();
    ASSERT_TRUE(preview->ShowData(&process));
    EXPECT_EQ(written(), 2);

    // Starting a test again while one is shown starts it afresh as well.
    ASSERT_TRUE(preview->ShowData(&process));
    EXPECT_EQ(written(), 2);
    preview->close();
    EXPECT_EQ(count("target", "tgt"), 1);
}

TEST_F(TestPreview, AStartThatFailsShowsNothing)
{
    tData broken = *src->dataRecord();
    broken.connString = conn("missing");
    process.Shapes()->AddElementsToNode(src->Key, broken);
    EXPECT_FALSE(preview->ShowData(&process));
    EXPECT_FALSE(preview->isVisible());
    preview->cmdNav_Click(2);   // harmless on a window that did not start
    preview->close();
}

}  // namespace
