// The screens as the main window reaches them: explorer items open them as
// tabs, and the command keys reach their members on the active tab.

#include "AdminTestSupport.h"
#include "DesignerTestSupport.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>

#include "admin/frmConnections.h"
#include "admin/frmEditScheduled.h"
#include "admin/frmExecutionLog.h"
#include "admin/frmSchedule.h"
#include "admin/frmStatistics.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "workbench/frmData.h"
#include "workbench/frmPrintPreview.h"
#include "workbench/frmTestPreview.h"

namespace {

class Routing : public AdminTest {
protected:
    void SetUp() override
    {
        AdminTest::SetUp();
        Main = std::make_unique<mdiMain>();
    }
    void TearDown() override
    {
        Main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        AdminTest::TearDown();
    }
    // Every tab holds a window that shows; the tab strip has one tab each.
    bool NoEmptyTab() const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto subs = Main->MdiArea()->subWindowList();
        for (const QMdiSubWindow* sub : subs)
            if (!sub->widget() || sub->widget()->isHidden())
                return false;
        const QTabBar* tabs = Main->MdiArea()->findChild<QTabBar*>();
        return !tabs || tabs->count() == subs.size();
    }
    int Tabs() const { return static_cast<int>(Main->MdiArea()->subWindowList().size()); }

    std::unique_ptr<mdiMain> Main;
};

TEST_F(Routing, ExplorerItemsOpenTheScreensAndKeysReachTheirMembers)
{
    ASSERT_EQ(MainForm(), Main.get());
    cMeridoxData(Dir.path()).appendRow(executiondata, {{"NAME", "x.xml"}, {"RESULT", "Completed"}}, StoreId::Next);

    Main->RouteExplorerItem(QStringLiteral("EXECUTIONLOG"));
    auto* runs = qobject_cast<frmExecutionLog*>(Main->ActiveChild());
    ASSERT_NE(runs, nullptr);
    EXPECT_EQ(runs->RowCount(), 1);
    Main->RouteCommandKey(QStringLiteral("CLEAR"));
    EXPECT_EQ(runs->RowCount(), 0);
    EXPECT_TRUE(StoreRows(executiondata).empty());

    Main->RouteExplorerItem(QStringLiteral("SCHEDULEDJOBS"));
    auto* schedule = qobject_cast<frmSchedule*>(Main->ActiveChild());
    ASSERT_NE(schedule, nullptr);
    frmEditScheduled::SetModalHook([](frmEditScheduled& d) {
        d.EdtFilename()->setText(QStringLiteral("/jobs/a.xml"));
        d.OKButton()->click();
    });
    Main->RouteCommandKey(QStringLiteral("NEWITEM"));
    EXPECT_EQ(StoreRows(scheduleddata).size(), 1u);
    EXPECT_EQ(Service->Calls, QStringList{"Restart"});
    EXPECT_TRUE(Main->Timer1().isActive());

    // Opening a screen again brings the same window forward.
    Main->RouteExplorerItem(QStringLiteral("EXECUTIONLOG"));
    EXPECT_EQ(Main->ActiveChild(), runs);

    Main->RouteExplorerItem(QStringLiteral("EXECERRORLOG"));
    EXPECT_NE(qobject_cast<frmExecErrorLog*>(Main->ActiveChild()), nullptr);
    Main->RouteExplorerItem(QStringLiteral("SHOWCONNECTIONS"));
    EXPECT_NE(qobject_cast<frmConnections*>(Main->ActiveChild()), nullptr);

    // The run command reaches a run-progress window without a process to run:
    // nothing happens.
    auto* progress = new frmStatistics;
    Main->AddChild(progress);
    const size_t before = Boxes->Messages.size();
    Main->RouteCommandKey(QStringLiteral("RUN"));
    EXPECT_EQ(Boxes->Messages.size(), before);
    EXPECT_FALSE(progress->Running());

    const QPointer<QWidget> closing(Main->ActiveChild());
    Main->RouteCommandKey(QStringLiteral("CLOSE"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());
}

TEST_F(Routing, EveryScreenClosesItsTabWhicheverWayItIsClosed)
{
    // File > Close on each administration screen.
    for (const char* item : {"SHOWCONNECTIONS", "SCHEDULEDJOBS", "EXECUTIONLOG", "EXECERRORLOG"}) {
        Main->RouteExplorerItem(QString::fromLatin1(item));
        ASSERT_EQ(Tabs(), 1) << item;
        Main->RouteCommandKey(QStringLiteral("CLOSE"));
        EXPECT_TRUE(NoEmptyTab()) << item;
        EXPECT_EQ(Tabs(), 0) << item;
    }

    // The run window closed while its run goes on: the run stops, then the
    // tab goes.
    clsProcess process;
    BuildCopyIntegration(process, 2000, Conn(QStringLiteral("target")));
    QPointer<frmStatistics> running = new frmStatistics;
    QObject::connect(&process, &clsProcess::StatisticsAdded, running, [&](const tStatistic& st) {
        if (st.CurrRecord == 5)
            QTimer::singleShot(0, Main.get(), [&] { Main->RouteCommandKey(QStringLiteral("CLOSE")); });
        // The run lets events through every few milliseconds; records this
        // fast could all be done before the next turn.
        if (st.CurrRecord > 5)
            QThread::msleep(1);
    });
    running->ActionRun(&process);
    EXPECT_LT(process.Statistics().CurrRecord, 2000);
    EXPECT_TRUE(NoEmptyTab());
    EXPECT_EQ(Tabs(), 0);
    EXPECT_TRUE(running.isNull());

    // Accept after a run.
    auto* window = new frmStatistics;
    window->ActionRun(&process);
    ASSERT_EQ(Tabs(), 1);
    ASSERT_TRUE(window->Finished());
    window->cmdOk()->click();
    EXPECT_TRUE(NoEmptyTab());
    EXPECT_EQ(Tabs(), 0);

    // File > Close after a run that ended on a critical error.
    clsProcess broken;
    const QString missing =
        QStringLiteral("Provider=SQLite;Data Source=") + Dir.filePath(QStringLiteral("missing/target.db"));
    BuildCopyFlow(broken, Conn(QStringLiteral("source")), missing, 255);
    (new frmStatistics)->ActionRun(&broken);
    ASSERT_EQ(Tabs(), 1);
    Main->RouteCommandKey(QStringLiteral("CLOSE"));
    EXPECT_TRUE(NoEmptyTab());
    EXPECT_EQ(Tabs(), 0);

    // The step data viewer and the test preview.
    clsProcess viewed;
    const cCopyFlow flow = BuildCopyFlow(viewed, Conn(QStringLiteral("source")), Conn(QStringLiteral("target")), 255);
    ASSERT_NE(frmData::ShowData(flow.Src->Key, viewed.Shapes()), nullptr);
    ASSERT_EQ(Tabs(), 1);
    Main->RouteCommandKey(QStringLiteral("CLOSE"));
    EXPECT_TRUE(NoEmptyTab());
    EXPECT_EQ(Tabs(), 0);
    ASSERT_TRUE(frmTestPreview::DefaultInstance()->ShowData(&viewed));
    ASSERT_EQ(Tabs(), 1);
    Main->RouteCommandKey(QStringLiteral("CLOSE"));
    EXPECT_TRUE(NoEmptyTab());
    EXPECT_EQ(Tabs(), 0);
}

TEST_F(Routing, RestoredWindowsKeepAUsableSize)
{
    Main->resize(1280, 800);
    Main->show();
    QList<QWidget*> windows;
    for (const char* item : {"EXECUTIONLOG", "EXECERRORLOG", "SHOWCONNECTIONS", "SCHEDULEDJOBS"}) {
        Main->RouteExplorerItem(QString::fromLatin1(item));
        windows << Main->ActiveChild();
    }
    windows << frmTestPreview::DefaultInstance() << frmPrintPreview::DefaultInstance();
    Main->AddChild(windows.at(4));
    Main->AddChild(windows.at(5));
    for (QWidget* window : windows) {
        ASSERT_NE(window, nullptr);
        auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget());
        ASSERT_NE(sub, nullptr) << window->objectName().toStdString();
        sub->showNormal();
        QCoreApplication::processEvents();
        EXPECT_GE(window->width(), 600) << window->objectName().toStdString();
        EXPECT_GE(window->height(), 300) << window->objectName().toStdString();
        // Nor can the user make it smaller than that.
        sub->resize(120, 90);
        QCoreApplication::processEvents();
        EXPECT_GE(window->width(), 600) << window->objectName().toStdString();
        EXPECT_GE(window->height(), 300) << window->objectName().toStdString();
    }
}

TEST_F(Routing, TheExecutionLogShowsErrorsAndResultInAnOrdinaryWindow)
{
    clsProcess process;
    BuildCopyIntegration(process, 4, Conn(QStringLiteral("target")), {2});
    process.Run();
    Main->resize(1280, 800);
    Main->show();
    Main->RouteExplorerItem(QStringLiteral("EXECUTIONLOG"));
    auto* runs = qobject_cast<frmExecutionLog*>(Main->ActiveChild());
    ASSERT_NE(runs, nullptr);
    QCoreApplication::processEvents();
    QTableView* grid = runs->grdData();
    ASSERT_EQ(runs->RowCount(), 1);
    const int visible = grid->viewport()->width();
    const QFontMetrics metrics = grid->fontMetrics();
    for (const int column : {7, 8}) {
        const QString text = runs->CellText(0, column);
        EXPECT_LE(grid->columnViewportPosition(column) + metrics.horizontalAdvance(text), visible)
            << column << " " << text.toStdString() << " at " << grid->columnViewportPosition(column) << " of "
            << visible;
    }
}

}  // namespace
