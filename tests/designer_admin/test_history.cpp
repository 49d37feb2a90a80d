// The execution and error history screens over the rows a real run wrote:
// their columns and values, the refresh timer, and Clear.

#include "AdminTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QTableView>

#include "admin/frmExecutionLog.h"
#include "data/Recordset.h"
#include "data/RowsetXml.h"

namespace {

class History : public AdminTest {
protected:
    static QStringList Headers(const cHistoryScreen& Screen)
    {
        QStringList out;
        const QAbstractItemModel* model = Screen.grdData()->model();
        for (int c = 0; c < model->columnCount(); ++c)
            out << model->headerData(c, Qt::Horizontal).toString();
        return out;
    }
    static QString Cell(const cHistoryScreen& Screen, int Row, int Col) { return Screen.CellText(Row, Col); }
    static QString Tip(const cHistoryScreen& Screen, int Row, int Col)
    {
        const QAbstractItemModel* model = Screen.grdData()->model();
        return model->data(model->index(Row, Col), Qt::ToolTipRole).toString();
    }
    static void WaitLoaded(const cHistoryScreen& Screen)
    {
        QDeadlineTimer deadline(60000);
        while (Screen.Loading() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
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
    EXPECT_EQ(Headers(runs), (QStringList{"Integration Name", "Runtime", "End", "Rows", "Inserts", "Updates",
                                                    "Deleted", "Errors", "Result"}));
    ASSERT_EQ(runs.RowCount(), 1);
    // Fixed text is shown without its padding, whole in its tip.
    EXPECT_EQ(Cell(runs, 0, 0), Dir.filePath(QStringLiteral("copy.xml")));
    EXPECT_EQ(Tip(runs, 0, 0), Dir.filePath(QStringLiteral("copy.xml")));
    EXPECT_FALSE(Cell(runs, 0, 1).isEmpty());
    EXPECT_EQ(Cell(runs, 0, 3), QStringLiteral("6"));
    EXPECT_EQ(Cell(runs, 0, 4), QStringLiteral("6"));  // inserts attempted
    EXPECT_EQ(Cell(runs, 0, 7), QStringLiteral("1"));
    EXPECT_EQ(Cell(runs, 0, 8).trimmed(), QStringLiteral("Completed with errors"));

    frmExecErrorLog errors;
    errors.ActionEdit();
    EXPECT_EQ(errors.windowTitle(), QStringLiteral("Execution Errors"));
    EXPECT_EQ(Headers(errors),
              (QStringList{"ID", "Record", "Integration Name", "Time", "Err Num", "Description"}));
    EXPECT_EQ(errors.grdData()->columnWidth(5), 360);
    ASSERT_EQ(errors.RowCount(), static_cast<int>(StoreRows(executionlogdata).size()));
    ASSERT_GE(errors.RowCount(), 1);
    EXPECT_TRUE(Cell(errors, 0, 5).contains(QStringLiteral("NOT NULL")));
    // An insert that broke a constraint says so in the provider's words first,
    // without the time of day the Time column shows.
    EXPECT_TRUE(Cell(errors, 0, 5).startsWith(QStringLiteral("Step "))) << Cell(errors, 0, 5).toStdString();
    EXPECT_FALSE(Cell(errors, 0, 5).contains(QStringLiteral("Unable to fetch row"))) << Cell(errors, 0, 5).toStdString();

    // Both refresh on their own every minute.
    EXPECT_TRUE(runs.Timer1().isActive());
    EXPECT_EQ(runs.Timer1().interval(), 60000);
    EXPECT_TRUE(errors.Timer1().isActive());

    // A second run appears at the next tick.
    clsProcess again;
    ASSERT_EQ(again.LoadIntegration(Dir.filePath(QStringLiteral("copy.xml"))), QString());
    again.Run();
    EXPECT_EQ(runs.RowCount(), 1);
    runs.Timer1().start(1);
    QDeadlineTimer deadline(5000);
    while (runs.RowCount() != 2 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(runs.RowCount(), 2);
    runs.Timer1().start(60000);

    runs.ActionClear();
    EXPECT_EQ(runs.RowCount(), 0);
    EXPECT_TRUE(StoreRows(executiondata).empty());
    EXPECT_TRUE(QFile::exists(Dir.filePath(QStringLiteral("executeddata.xml"))));
    EXPECT_FALSE(StoreRows(executionlogdata).empty());  // the other store is kept

    errors.ActionClear();
    EXPECT_EQ(errors.RowCount(), 0);
    EXPECT_TRUE(StoreRows(executionlogdata).empty());
}

TEST_F(History, AnErrorRowWithoutIdShowsAnEmptyFirstCell)
{
    cMeridoxData data(Dir.path());
    ASSERT_TRUE(data.appendRow(executionlogdata, {{"RECORD", 3}, {"NAME", "x.xml"}, {"ERRNUMBER", 13},
                                                  {"ERRDESC", "Type mismatch"}}));
    frmExecErrorLog errors;
    errors.ActionEdit();
    ASSERT_EQ(errors.RowCount(), 1);
    EXPECT_EQ(Cell(errors, 0, 0), QString());
    EXPECT_EQ(Cell(errors, 0, 1), QStringLiteral("3"));
    EXPECT_EQ(Cell(errors, 0, 4), QStringLiteral("13"));
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
    const QTableView* grid = errors.grdData();
    ASSERT_GE(errors.RowCount(), 2);
    const QFontMetrics metrics = grid->fontMetrics();
    // Numbers and times show whole.
    for (int row = 0; row < errors.RowCount(); ++row)
        for (const int column : {0, 1, 3, 4})
            EXPECT_LT(metrics.horizontalAdvance(Cell(errors, row, column)), grid->columnWidth(column))
                << row << "," << column << " " << Cell(errors, row, column).toStdString();
    const int last = errors.RowCount() - 1;
    EXPECT_EQ(Cell(errors, last, 4), QStringLiteral("-2147467259"));
    // A name wider than its column is elided, with the padding left out;
    // its tip shows it whole.
    EXPECT_NE(grid->textElideMode(), Qt::ElideNone);
    EXPECT_EQ(Cell(errors, last, 2), QString(240, QLatin1Char('n')));
    EXPECT_EQ(Tip(errors, last, 2), QString(240, QLatin1Char('n')));
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
    ASSERT_EQ(runs.RowCount(), 1);
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

TEST_F(History, ALargeErrorStoreFillsWithoutHoldingTheWindowAndThenReadsOnlyWhatIsNew)
{
    // One failing run of 20,000 records, as the store holds it.
    cMeridoxData data(Dir.path());
    const QString file = data.StoreFile(executionlogdata);
    ado::RowsetData store;
    store.fields = data.getRS(executionlogdata).fieldInfos();
    const QDateTime when(QDate(2026, 3, 2), QTime(12, 0, 1));
    const auto values = [&](int Record) {
        return cMeridoxData::Row{{"RECORD", Record},
                                 {"NAME", "/srv/integrations/nightly/orders.xml"},
                                 {"RUNTIME", when},
                                 {"ERRNUMBER", -2147217900LL},
                                 {"ERRDESC", QStringLiteral("12:00:01.25: Step TGT: CHECK constraint failed: "
                                                            "balance >= 0 (%1)")
                                                 .arg(Record)}};
    };
    for (int record = 1; record <= 20000; ++record) {
        QVariantList row;
        const cMeridoxData::Row given = values(record);
        for (const ado::FieldInfo& field : store.fields)
            row << (field.name == QLatin1String("ID") ? QVariant(qlonglong(record)) : given.value(field.name));
        store.rows.push_back(row);
    }
    ASSERT_TRUE(ado::saveRowsetXml(file, store));

    frmExecErrorLog errors;
    errors.ActionEdit();
    // The window answers while the store is still being read.
    EXPECT_GT(errors.RowCount(), 0);
    EXPECT_LT(errors.RowCount(), 20000);
    EXPECT_TRUE(errors.Loading());
    WaitLoaded(errors);
    ASSERT_EQ(errors.RowCount(), 20000);
    EXPECT_EQ(Cell(errors, 19999, 1), QStringLiteral("20000"));
    // The cause leads the description: the time of day it started with is the Time column's.
    EXPECT_EQ(Cell(errors, 0, 5), QStringLiteral("Step TGT: CHECK constraint failed: balance >= 0 (1)"));
    EXPECT_EQ(Cell(errors, 0, 3), QStringLiteral("2026-03-02 12:00:01"));
    EXPECT_EQ(Tip(errors, 0, 2), QStringLiteral("/srv/integrations/nightly/orders.xml"));

    // Rows appended later are added to those shown; nothing is read again.
    int resets = 0, inserts = 0;
    QObject::connect(errors.grdData()->model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(errors.grdData()->model(), &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    ASSERT_TRUE(data.appendRow(executionlogdata, values(20001), StoreId::Next));
    ASSERT_TRUE(data.appendRow(executionlogdata, values(20002), StoreId::Next));
    errors.Timer1().start(1);
    QDeadlineTimer deadline(10000);
    while (errors.RowCount() != 20002 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    errors.Timer1().start(60000);
    ASSERT_EQ(errors.RowCount(), 20002);
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(inserts, 1);
    EXPECT_EQ(Cell(errors, 20001, 0), QStringLiteral("20002"));
    EXPECT_EQ(Cell(errors, 20001, 1), QStringLiteral("20002"));
    errors.LoadGrid();  // nothing new
    EXPECT_EQ(inserts, 1);

    // Any other change writes the store anew: it is read again from the start.
    ASSERT_TRUE(data.deleteRows(executionlogdata, [](const cMeridoxData::Row& Row) {
        return Row.value(QStringLiteral("RECORD")).toInt() <= 10000;
    }));
    errors.LoadGrid();
    WaitLoaded(errors);
    EXPECT_EQ(errors.RowCount(), 10002);
    EXPECT_EQ(Cell(errors, 0, 1), QStringLiteral("10001"));
    EXPECT_EQ(resets, 1);
}

}  // namespace
