// The step data viewer and the grid filler behind it.

#include "PreviewSupport.h"

#include <QTableWidget>

#include "data/Connection.h"
#include "workbench/FillGrid.h"
#include "workbench/frmData.h"

namespace {

class DataView : public PreviewTest {};

TEST_F(DataView, ShowsTheFirstHundredRecordsOfAStepInANewWindow)
{
    makeSource(250);
    clsProcess process;
    buildFlow(process);
    process.Shapes()->AddCaptionToShape(src->Key, "Orders");

    frmData* view = frmData::ShowData(src->Key, process.Shapes());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->windowTitle(), "Showing data for step: Orders(only first 100 records previewed)");
    QTableWidget* grid = view->findChild<QTableWidget*>("grdData");
    ASSERT_EQ(grid->rowCount(), 100);
    ASSERT_EQ(grid->columnCount(), 3);
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "name");
    EXPECT_EQ(GridColumnByKey(grid, "AMOUNT"), 2);
    // Record 2 has a Null name: only that cell is empty.
    EXPECT_EQ(grid->item(0, 1)->text(), "n1");
    EXPECT_EQ(grid->item(1, 1), nullptr);
    EXPECT_EQ(grid->item(1, 2)->text(), "20");
    EXPECT_EQ(grid->item(99, 0)->text(), "100");

    EXPECT_NE(frmData::ShowData(src->Key, process.Shapes()), view);
    EXPECT_EQ(windowsOf<frmData>().size(), 2);

    // A node without data: an empty grid under the full caption.
    frmData* none = frmData::ShowData(process.Shapes()->item(1)->Key, process.Shapes());
    EXPECT_EQ(none->windowTitle(), "Showing data for step: START(only first 100 records previewed)");
    EXPECT_EQ(none->grdData()->rowCount(), 0);
}

TEST_F(DataView, ATableWhoseNameNeedsQuotingIsShownAndRun)
{
    makeSource(3);
    makeTarget();
    exec("source", {"CREATE TABLE \"order items\" (id INTEGER, name VARCHAR(20))",
                    "INSERT INTO \"order items\" VALUES (1, 'a'), (2, 'b')"});
    clsProcess process;
    buildFlow(process);
    tData record = *src->dataRecord();
    record.Source = "order items";
    process.Shapes()->AddElementsToNode(src->Key, record);

    frmData* view = frmData::ShowData(src->Key, process.Shapes());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->grdData()->rowCount(), 2);
    EXPECT_EQ(view->grdData()->columnCount(), 2);

    process.Run();
    EXPECT_EQ(count("target", "tgt"), 2);
}

TEST_F(DataView, FillGridLeavesTheRecordsetWhereItStood)
{
    // The viewer shares a step's recordset with a test run that may stand on
    // any record; filling a grid must not move the run on.
    makeSource(5);
    ado::Connection c;
    ASSERT_TRUE(c.Open(conn("source")));
    ado::Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT id, name FROM src ORDER BY id", c, ado::adOpenStatic));
    rs.Move(2);

    QTableWidget grid;
    AddGridColumn(&grid, "ID", "Number");
    FillGrid(&grid, rs, 4);
    EXPECT_EQ(grid.columnCount(), 1);   // a grid with columns keeps them
    EXPECT_EQ(grid.rowCount(), 4);
    EXPECT_EQ(rs.AbsolutePosition(), 3);

    rs.MoveLast();
    rs.MoveNext();
    FillGrid(&grid, rs, 2);
    EXPECT_EQ(grid.rowCount(), 2);
    EXPECT_TRUE(rs.IsEOF());
}

}  // namespace
