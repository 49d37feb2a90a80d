// The screens as the main window reaches them: explorer items open them as
// tabs, and the command keys reach their members on the active tab.

#include "AdminTestSupport.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "admin/frmConnections.h"
#include "admin/frmEditScheduled.h"
#include "admin/frmExecutionLog.h"
#include "admin/frmSchedule.h"
#include "admin/frmStatistics.h"
#include "app/basMain.h"
#include "app/mdiMain.h"

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
    std::unique_ptr<mdiMain> Main;
};

TEST_F(Routing, ExplorerItemsOpenTheScreensAndKeysReachTheirMembers)
{
    ASSERT_EQ(MainForm(), Main.get());
    cMeridoxData(Dir.path()).appendRow(executiondata, {{"NAME", "x.xml"}, {"RESULT", "Completed"}}, StoreId::Next);

    Main->RouteExplorerItem(QStringLiteral("EXECUTIONLOG"));
    auto* runs = qobject_cast<frmExecutionLog*>(Main->ActiveChild());
    ASSERT_NE(runs, nullptr);
    EXPECT_EQ(runs->grdData()->rowCount(), 1);
    Main->RouteCommandKey(QStringLiteral("CLEAR"));
    EXPECT_EQ(runs->grdData()->rowCount(), 0);
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

}  // namespace
