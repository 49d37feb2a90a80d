// The execution and error history screens over the rows a real run wrote:
// their columns and values, the refresh timer, and Clear.

#include "AdminTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QTableWidget>

#include "admin/frmExecutionLog.h"

namespace {

class History : public AdminTest {
protected:
    static QStringList Headers(const QTableWidget* Grid)
    {
        QStringList out;
        for (int c = 0; c < Grid->columnCount(); ++c)
            out << Grid->horizontalHeaderItem(c)->text();
        return out;
    }
    static QString Cell(const QTableWidget* Grid, int Row, int Col)
    {
        const QTableWidgetItem* item = Grid->item(Row, Col);
        return item ? item->text() : QString();
    }
};

TEST_F(History, TheScreensListARunsRowsAndClearEmptiesTheirStores)
{
    clsProcess process;
    BuildCopyIntegration(process, 6, Conn(QStringLiteral("target")), {4});
    process.Run();

    frmExecutionLog runs;
    runs.ActionEdit();
    EXPECT_EQ(runs.windowTitle(), QStringLiteral("Execution Log"));
    EXPECT_EQ(Headers(runs.grdData()), (QStringList{"Integration Name", "Runtime", "End", "Rows", "Inserts", "Updates",
                                                    "Deleted", "Errors", "Result"}));
    ASSERT_EQ(runs.grdData()->rowCount(), 1);
    // Fixed text is shown as stored, padding included.
    EXPECT_EQ(Cell(runs.grdData(), 0, 0).trimmed(), Dir.filePath(QStringLiteral("copy.xml")));
    EXPECT_EQ(Cell(runs.grdData(), 0, 0).size(), 255);
    EXPECT_FALSE(Cell(runs.grdData(), 0, 1).isEmpty());
    EXPECT_EQ(Cell(runs.grdData(), 0, 3), QStringLiteral("6"));
    EXPECT_EQ(Cell(runs.grdData(), 0, 4), QStringLiteral("6"));  // inserts attempted
    EXPECT_EQ(Cell(runs.grdData(), 0, 7), QStringLiteral("1"));
    EXPECT_EQ(Cell(runs.grdData(), 0, 8).trimmed(), QStringLiteral("Completed with errors"));

    frmExecErrorLog errors;
    errors.ActionEdit();
    EXPECT_EQ(errors.windowTitle(), QStringLiteral("Execution Errors"));
    EXPECT_EQ(Headers(errors.grdData()),
              (QStringList{"ID", "Record", "Integration Name", "Time", "Err Num", "Description"}));
    EXPECT_EQ(errors.grdData()->columnWidth(5), 360);
    ASSERT_EQ(errors.grdData()->rowCount(), static_cast<int>(StoreRows(executionlogdata).size()));
    ASSERT_GE(errors.grdData()->rowCount(), 1);
    EXPECT_TRUE(Cell(errors.grdData(), 0, 5).contains(QStringLiteral("NOT NULL")));

    // Both refresh on their own every minute.
    EXPECT_TRUE(runs.Timer1().isActive());
    EXPECT_EQ(runs.Timer1().interval(), 60000);
    EXPECT_TRUE(errors.Timer1().isActive());

    // A second run appears at the next tick.
    clsProcess again;
    ASSERT_EQ(again.LoadIntegration(Dir.filePath(QStringLiteral("copy.xml"))), QString());
    again.Run();
    EXPECT_EQ(runs.grdData()->rowCount(), 1);
    runs.Timer1().start(1);
    QDeadlineTimer deadline(5000);
    while (runs.grdData()->rowCount() != 2 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(runs.grdData()->rowCount(), 2);
    runs.Timer1().start(60000);

    runs.ActionClear();
    EXPECT_EQ(runs.grdData()->rowCount(), 0);
    EXPECT_TRUE(StoreRows(executiondata).empty());
    EXPECT_TRUE(QFile::exists(Dir.filePath(QStringLiteral("executeddata.xml"))));
    EXPECT_FALSE(StoreRows(executionlogdata).empty());  // the other store is kept

    errors.ActionClear();
    EXPECT_EQ(errors.grdData()->rowCount(), 0);
    EXPECT_TRUE(StoreRows(executionlogdata).empty());
}

TEST_F(History, AnErrorRowWithoutIdShowsAnEmptyFirstCell)
{
    cMeridoxData data(Dir.path());
    ASSERT_TRUE(data.appendRow(executionlogdata, {{"RECORD", 3}, {"NAME", "x.xml"}, {"ERRNUMBER", 13},
                                                  {"ERRDESC", "Type mismatch"}}));
    frmExecErrorLog errors;
    errors.ActionEdit();
    ASSERT_EQ(errors.grdData()->rowCount(), 1);
    EXPECT_EQ(Cell(errors.grdData(), 0, 0), QString());
    EXPECT_EQ(Cell(errors.grdData(), 0, 1), QStringLiteral("3"));
    EXPECT_EQ(Cell(errors.grdData(), 0, 4), QStringLiteral("13"));
    errors.ActionClose();
}

TEST_F(History, ValuesFitTheirColumnsOrEndInAnEllipsis)
{
    clsProcess process;
    BuildCopyIntegration(process, 3, Conn(QStringLiteral("target")), {2});
    process.Run();
    // A run's error rows with a long error number and a long name.
    cMeridoxData data(Dir.path());
    ASSERT_TRUE(data.appendRow(executionlogdata,
                               {{"RECORD", 2}, {"NAME", QString(240, QLatin1Char('n'))}, {"ERRNUMBER", -2147467259.0},
                                {"RUNTIME", QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58))},
                                {"ERRDESC", "Unspecified error"}},
                               StoreId::Next));
    frmExecErrorLog errors;
    errors.ActionEdit();
    const QTableWidget* grid = errors.grdData();
    ASSERT_GE(grid->rowCount(), 2);
    const QFontMetrics metrics = grid->fontMetrics();
    // Numbers and times show whole.
    for (int row = 0; row < grid->rowCount(); ++row)
        for (const int column : {0, 1, 3, 4})
            EXPECT_LT(metrics.horizontalAdvance(Cell(grid, row, column)), grid->columnWidth(column))
                << row << "," << column << " " << Cell(grid, row, column).toStdString();
    EXPECT_EQ(Cell(grid, grid->rowCount() - 1, 4), QStringLiteral("-2147467259"));
    // A name wider than its column is elided, with the padding left out.
    EXPECT_NE(grid->textElideMode(), Qt::ElideNone);
    EXPECT_EQ(Cell(grid, grid->rowCount() - 1, 2).size(), 255);
}

TEST_F(History, AFailedClearAndAStoreSetAsideSayWhy)
{
    clsProcess process;
    BuildCopyIntegration(process, 2, Conn(QStringLiteral("target")), {1});
    process.Run();

    // A damaged error store is set aside, and the screen says so once.
    const QString errorsFile = Dir.filePath(QStringLiteral("executedlogdata.xml"));
    {
        QFile file(errorsFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("<xml><rs:data><z:row");
    }
    frmExecErrorLog errors;
    errors.ActionEdit();
    ASSERT_EQ(Boxes->Messages.size(), 1u);
    EXPECT_TRUE(Boxes->Messages[0].Prompt.contains(QStringLiteral(".corrupt-")))
        << Boxes->Messages[0].Prompt.toStdString();
    errors.LoadGrid();  // the next refresh
    EXPECT_EQ(Boxes->Messages.size(), 1u);

    // A store that cannot be deleted: Clear says why.
    frmExecutionLog runs;
    runs.ActionEdit();
    ASSERT_EQ(runs.grdData()->rowCount(), 1);
    const QString runsFile = Dir.filePath(QStringLiteral("executeddata.xml"));
    ASSERT_TRUE(QFile::rename(runsFile, runsFile + QStringLiteral(".kept")));
    ASSERT_TRUE(QDir().mkpath(runsFile + QStringLiteral("/inside")));
    Boxes->Messages.clear();
    runs.ActionClear();
    ASSERT_FALSE(Boxes->Messages.empty());
    EXPECT_TRUE(Boxes->Messages[0].Prompt.startsWith(QStringLiteral("The history could not be cleared: ")))
        << Boxes->Messages[0].Prompt.toStdString();
    EXPECT_GT(Boxes->Messages[0].Prompt.size(), QStringLiteral("The history could not be cleared: ").size());
}

}  // namespace
