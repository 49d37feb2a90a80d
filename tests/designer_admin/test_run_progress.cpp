// The run-progress window: a real run over SQLite with its counters, log
// lines, end message and buttons; cancel; a run that ends on a critical error.

#include "AdminTestSupport.h"
#include "DesignerTestSupport.h"

#include <QDir>
#include <QFile>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QTimer>

#include "admin/frmExecutionLog.h"
#include "admin/frmStatistics.h"

namespace {

class RunProgress : public AdminTest {
protected:
    int FinishedMessages() const
    {
        int n = 0;
        for (const auto& m : Boxes->Messages)
            n += m.Prompt == QStringLiteral("Process Finished") ? 1 : 0;
        return n;
    }

    // The first control Tab reaches in Window.
    static QWidget* FirstTabStop(QWidget* Window)
    {
        for (QWidget* w = Window->nextInFocusChain(); w && w != Window; w = w->nextInFocusChain())
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(Window) && w->isEnabled())
                return w;
        return nullptr;
    }

    // The engine yields to events at most every 10 ms: a record that takes
    // longer makes the next one yield, however fast the run goes.
    static void waitPastTheNextYield() { QThread::msleep(15); }

    clsProcess Process;
};

TEST_F(RunProgress, ARunShowsItsCountersProgressLogAndEnd)
{
    BuildCopyIntegration(Process, 100, Conn(QStringLiteral("target")), {7, 9});
    auto* window = new frmStatistics;
    // The window follows the run from the engine's yields: a timer set before
    // the run fires while the record loop is still going.
    bool liveDuringRun = false;
    QObject::connect(&Process, &clsProcess::StatisticsAdded, window, [&](const tStatistic& st) {
        if (st.CurrRecord == 10)
            QTimer::singleShot(0, window, [&] { liveDuringRun = Process.IsRunning(); });
    });
    window->ActionRun(&Process);

    EXPECT_TRUE(liveDuringRun);
    EXPECT_FALSE(window->Running());
    EXPECT_EQ(window->txtIntegration()->text(), Dir.filePath(QStringLiteral("copy.xml")));
    EXPECT_FALSE(window->txtStartTime()->text().isEmpty());
    EXPECT_FALSE(window->txtEndTime()->text().isEmpty());
    // Row 0 inserts, row 4 all operations.
    EXPECT_EQ(window->txtSuccess(0)->text(), QStringLiteral("98"));
    EXPECT_EQ(window->txtError(0)->text(), QStringLiteral("2"));
    EXPECT_EQ(window->txtTotal(0)->text(), QStringLiteral("100"));
    EXPECT_EQ(window->txtSuccess(4)->text(), QStringLiteral("98"));
    EXPECT_EQ(window->txtError(4)->text(), QStringLiteral("2"));
    EXPECT_EQ(window->txtSuccess(1)->text(), QStringLiteral("0"));
    EXPECT_EQ(window->txtSkipped(0)->text(), QStringLiteral("0"));
    // Untranslated, each join carries two blanks.
    EXPECT_EQ(window->ProgressText(), QStringLiteral("Processing record  100  of  100"));
    EXPECT_EQ(window->ProgressBar()->maximum(), 100);
    EXPECT_EQ(window->ProgressBar()->value(), 100);
    EXPECT_EQ(FinishedMessages(), 1);
    EXPECT_TRUE(window->Finished());
    EXPECT_FALSE(window->cmdCancelar()->isVisible());
    EXPECT_TRUE(window->cmdOk()->isVisible());
    EXPECT_TRUE(window->cmdLog()->isVisible());
    EXPECT_TRUE(window->cmdRefused()->isVisible());
    // The two failing records were logged, the newest line on top.
    QStringList logged;
    for (const QString& line : Process.Log()->Text().split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            logged.prepend(line.trimmed());
    QStringList shown = window->memLog()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // The error of a record says which record it was, as its error row does.
    const QStringList errorLines = shown.filter(QStringLiteral("NOT NULL"));
    ASSERT_EQ(errorLines.size(), 2);
    const auto rows = StoreRows(executionlogdata);
    ASSERT_EQ(rows.size(), 2u);
    for (int i = 0; i < 2; ++i)  // the newest on top
        EXPECT_TRUE(errorLines[i].startsWith(
            QStringLiteral("Record %1: ").arg(rows[1 - i].value(QStringLiteral("RECORD")).toInt())))
            << errorLines[i].toStdString();
    for (QString& line : shown)
        line.remove(QRegularExpression(QStringLiteral("^Record \\d+: ")));
    EXPECT_EQ(shown, logged);
    EXPECT_EQ(Count(QStringLiteral("target"), QStringLiteral("tgt")), 98);

    // The log button opens the error history with the run's error rows.
    window->cmdLog()->click();
    frmExecErrorLog* errors = frmExecErrorLog::Instance();
    EXPECT_TRUE(errors->isVisible());
    EXPECT_EQ(errors->RowCount(), 2);
    errors->close();

    const QPointer<frmStatistics> alive(window);
    window->cmdOk()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

TEST_F(RunProgress, CancelStopsTheRunAndTheEndFollows)
{
    BuildCopyIntegration(Process, 3000, Conn(QStringLiteral("target")));
    auto* window = new frmStatistics;
    // The user presses Cancel while record 20 is behind; the press reaches the
    // window at the engine's next yield.
    QObject::connect(&Process, &clsProcess::StatisticsAdded, window, [&](const tStatistic& st) {
        if (st.CurrRecord == 20) {
            QTimer::singleShot(0, window, [window] { window->cmdCancelar()->click(); });
            waitPastTheNextYield();
        }
    });
    window->ActionRun(&Process);

    const tStatistic st = Process.Statistics();
    EXPECT_GE(st.CurrRecord, 20);
    EXPECT_LT(st.CurrRecord, 3000);
    EXPECT_EQ(window->txtTotal(0)->text(), QString::number(st.Totals[1]));
    EXPECT_EQ(FinishedMessages(), 1);
    EXPECT_TRUE(window->Finished());
    EXPECT_TRUE(window->memLog()->toPlainText().contains(QStringLiteral("Execution Stopped by user request")));
    const auto runs = StoreRows(executiondata);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].value(QStringLiteral("RESULT")).toString(), QStringLiteral("Cancelled"));

    // The same window runs again: it shows that run only, times with seconds.
    QObject::disconnect(&Process, &clsProcess::StatisticsAdded, window, nullptr);
    window->ActionRun(&Process);
    EXPECT_EQ(FinishedMessages(), 2);
    EXPECT_EQ(Process.Statistics().CurrRecord, 3000);
    EXPECT_FALSE(window->memLog()->toPlainText().contains(QStringLiteral("Execution Stopped by user request")));
    EXPECT_EQ(window->memLog()->toPlainText().count(QStringLiteral("starting process")), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\d\\d:\\d\\d:\\d\\d$")).match(window->txtEndTime()->text()).hasMatch())
        << window->txtEndTime()->text().toStdString();
    window->ActionClose();
}

TEST_F(RunProgress, ACriticalEndKeepsTheRunningLook)
{
    BuildCopyIntegration(Process, 5, QStringLiteral("Provider=SQLite;Data Source=") +
                                         Dir.filePath(QStringLiteral("missing/target.db")));
    auto* window = new frmStatistics;
    window->ActionRun(&Process);

    EXPECT_FALSE(window->Running());
    EXPECT_EQ(FinishedMessages(), 0);
    EXPECT_FALSE(window->Finished());
    EXPECT_TRUE(window->cmdCancelar()->isVisible());
    EXPECT_FALSE(window->cmdOk()->isVisible());
    // Tab goes to Cancel, past the read-only fields.
    EXPECT_EQ(FirstTabStop(window), window->cmdCancelar());
    // The critical line is the newest, on top.
    EXPECT_TRUE(window->memLog()->toPlainText().section(QLatin1Char('\n'), 0, 0).contains(QStringLiteral("CRITICAL ERROR")))
        << window->memLog()->toPlainText().toStdString();
    EXPECT_TRUE(StoreRows(executiondata).empty());
    // It still closes through the close command.
    const QPointer<frmStatistics> alive(window);
    window->ActionClose();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

TEST_F(RunProgress, EachRunStartsFromACleanWindowAndAnEmptyRunEndsFull)
{
    BuildCopyIntegration(Process, 4, Conn(QStringLiteral("target")));
    auto* window = new frmStatistics;
    window->ActionRun(&Process);
    ASSERT_EQ(window->txtTotal(0)->text(), QStringLiteral("4"));
    ASSERT_TRUE(window->Finished());

    // The source table is gone: the next run ends before its first record
    // and shows nothing of the previous one.
    Exec(QStringLiteral("source"), {QStringLiteral("DROP TABLE src")});
    window->ActionRun(&Process);
    EXPECT_FALSE(window->Finished());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(window->txtSuccess(i)->text(), QStringLiteral("0")) << i;
        EXPECT_EQ(window->txtTotal(i)->text(), QStringLiteral("0")) << i;
    }
    EXPECT_TRUE(window->txtStartTime()->text().isEmpty());
    EXPECT_TRUE(window->txtEndTime()->text().isEmpty());
    EXPECT_NE(window->ProgressBar()->value(), 4);
    EXPECT_NE(window->ProgressBar()->maximum(), 0);  // not the busy bar
    EXPECT_TRUE(window->memLog()->toPlainText().contains(QStringLiteral("CRITICAL ERROR")));
    window->ActionClose();

    // A source without records: the finished run shows a full bar.
    clsProcess empty;
    Exec(QStringLiteral("empty"), {QStringLiteral("CREATE TABLE tgt (id INTEGER, name TEXT)")});
    Exec(QStringLiteral("source"), {QStringLiteral("CREATE TABLE src (id INTEGER, name TEXT)")});
    BuildCopyFlow(empty, Conn(QStringLiteral("source")), Conn(QStringLiteral("empty")), 255);
    auto* second = new frmStatistics;
    second->ActionRun(&empty);
    EXPECT_TRUE(second->Finished());
    EXPECT_GT(second->ProgressBar()->maximum(), 0);
    EXPECT_EQ(second->ProgressBar()->value(), second->ProgressBar()->maximum());
    second->ActionClose();
}

TEST_F(RunProgress, ClosingTheWindowDuringARunCancelsIt)
{
    BuildCopyIntegration(Process, 3000, Conn(QStringLiteral("target")));
    QPointer<frmStatistics> window = new frmStatistics;
    QObject::connect(&Process, &clsProcess::StatisticsAdded, window, [&](const tStatistic& st) {
        if (st.CurrRecord == 5) {
            QTimer::singleShot(0, window, [&] { window->ActionClose(); });
            waitPastTheNextYield();
        }
    });
    window->ActionRun(&Process);
    EXPECT_LT(Process.Statistics().CurrRecord, 3000);
    EXPECT_FALSE(Process.IsRunning());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

}  // namespace
