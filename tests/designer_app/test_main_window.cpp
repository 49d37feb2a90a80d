// The main window: its bars, its command routing, the service display and
// the way the program ends.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QToolBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/CommandBars.h"
#include "app/ExplorerBar.h"
#include "app/ScreenRegistry.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "app/frmAbout.h"
#include "app/mdiMain.h"
#include "connections/cConnections.h"

namespace {

QString Plain(QString Text)
{
    return Text.remove(QLatin1Char('&'));
}

QStringList Keys(const QList<QAction*>& Actions)
{
    QStringList keys;
    for (const QAction* action : Actions)
        keys << action->objectName();
    return keys;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto service = std::make_unique<cFakeService>();
        m_service = service.get();
        m_previousService = SetServiceControl(std::move(service));
        m_main = std::make_unique<mdiMain>();
    }
    void TearDown() override
    {
        m_main.reset();
        SetServiceControl(std::move(m_previousService));
        gConnections.reset();
        gConnectionsLoadFailed = false;
    }

    cRecordingChild* AddChild()
    {
        auto* child = new cRecordingChild;
        m_main->AddChild(child);
        return child;
    }
    QAction* Button(const char* Key) const { return m_main->cmdBar().Button(QString::fromLatin1(Key)); }

    cScriptedDialogsGuard m_dialogs;
    cFakeService* m_service = nullptr;
    std::unique_ptr<NTServiceControl> m_previousService;
    std::unique_ptr<mdiMain> m_main;
};

TEST_F(MainWindowTest, MenuBarToolBarAndCaption)
{
    QStringList titles;
    for (QAction* action : m_main->menuBar()->actions())
        titles << Plain(action->text());
    EXPECT_EQ(titles, QStringList({"File", "Edit", "Insert", "Integration", "Help"}));
    EXPECT_EQ(m_main->windowTitle(), QStringLiteral("Meridox V 2.0"));
    EXPECT_EQ(m_main->menuBar()->objectName(), QStringLiteral("cmdBar_1"));

    QToolBar* tools = m_main->ToolBar();
    EXPECT_EQ(tools->objectName(), QStringLiteral("cmdBar_5"));
    EXPECT_EQ(tools->windowTitle(), QStringLiteral("Tool Bar"));
    EXPECT_EQ(Keys(tools->actions()),
              QStringList({"NEW", "OPEN", "SAVE", "CONNECTIONADD", "SEPARATOR", "DATANODE", "STORAGENODE", "STARTNODE",
                           "ENDNODE", "LINKNODES", "UNLINKNODES", "SEPARATOR2", "TEST", "RUN", "RUNSERVICE",
                           "STOPSERVICE"}));
    // New shows its caption beside the icon, New Connection its icon only.
    auto* newButton = qobject_cast<QToolButton*>(tools->widgetForAction(Button("NEW")));
    auto* connButton = qobject_cast<QToolButton*>(tools->widgetForAction(Button("CONNECTIONADD")));
    ASSERT_TRUE(newButton && connButton);
    EXPECT_EQ(newButton->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    EXPECT_EQ(connButton->toolButtonStyle(), Qt::ToolButtonIconOnly);
    for (const QAction* action : tools->actions())
        if (!action->isSeparator())
            EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
}

TEST_F(MainWindowTest, MenuTitlesOpenFromTheKeyboardDespiteTheExplorerBar)
{
    // The explorer bar's groups and items share access letters with the menu
    // titles (Edit, Help, Integrations); they must not take Alt+letter away.
    m_main->show();
    m_main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_main.get()));
    for (const auto& [key, bar] : std::vector<std::pair<Qt::Key, QString>>{
             {Qt::Key_F, "FILEMENU"}, {Qt::Key_E, "STDEDITSHAPE"}, {Qt::Key_I, "INSERTMENU"},
             {Qt::Key_T, "INTEGRATIONMENU"}, {Qt::Key_H, "HELPMENU"}}) {
        QTest::keyClick(m_main.get(), key, Qt::AltModifier);
        QWidget* popup = QApplication::activePopupWidget();
        EXPECT_EQ(popup ? popup->objectName() : QString(), bar) << bar.toStdString();
        if (popup)
            popup->close();
    }
    // The items still read as their texts, without the marks.
    cExplorerBar* explorer = m_main->ExplorerBar();
    EXPECT_EQ(explorer->GroupHeader("HELP")->text(), QStringLiteral("Help"));
    EXPECT_EQ(qobject_cast<QAbstractButton*>(explorer->Item("CONNECTIONS", "EDITCONNECTION"))->text(),
              QStringLiteral("Edit"));
}

TEST_F(MainWindowTest, EveryBarHoldsItsKeysInOrderWithTheirStartStates)
{
    m_service->Settle();
    const std::vector<std::pair<QString, QStringList>> bars = {
        {"FILEMENU", {"NEW", "OPEN", "CLOSE", "SAVE", "SAVEAS", "FILESEP1", "PRINT", "PRINTPREVIEW", "FILESEP2", "EXIT"}},
        {"STDEDITSHAPE",
         {"DEL", "CUT", "COPY", "PASTE", "PROPERTIES", "STDEDITSEP1", "LINKNODES", "UNLINKNODES", "PREVIEW"}},
        {"INSERTMENU", {"DATANODE", "STORAGENODE", "STARTNODE", "ENDNODE"}},
        {"INTEGRATIONMENU", {"TEST", "RUN", "RUNSERVICE", "STOPSERVICE", "INSTALLSRV"}},
        {"HELPMENU", {"MANUAL", "SUPPORT", "ABOUT"}},
        {"POPUPEDITMENU", {"NEWITEM", "EDITITEM", "DELETEITEM", "IMPORTSCHED"}},
        {"POPUPCLEARMENU", {"CLEAR"}},
        {"POPUPLNKMENU", {"LNKADD", "LNKREMOVE", "LNKCLEAR", "LNKFORMULA", "DELLNKFORMULA", "LNKLOOKUP", "LNKAUTO"}},
    };
    for (const auto& [bar, keys] : bars) {
        QMenu* menu = m_main->cmdBar().Bar(bar);
        ASSERT_NE(menu, nullptr) << bar.toStdString();
        EXPECT_EQ(Keys(menu->actions()), keys) << bar.toStdString();
    }
    // The drop-downs of the menu titles are those very bars; Edit is the canvas's context menu.
    EXPECT_EQ(Button("EDIT")->menu(), m_main->cmdBar().Bar("STDEDITSHAPE"));
    EXPECT_EQ(Button("FILE")->menu(), m_main->cmdBar().Bar("FILEMENU"));

    const QStringList disabled = {"CUT", "COPY", "PASTE", "DATANODE", "STARTNODE", "ENDNODE",
                                  // The service is not installed in this fixture.
                                  "RUNSERVICE", "STOPSERVICE"};
    for (const QString& key : m_main->cmdBar().ButtonKeys()) {
        const QAction* action = m_main->cmdBar().Button(key);
        if (!action->isSeparator())
            EXPECT_EQ(action->isEnabled(), !disabled.contains(key)) << key.toStdString();
    }
    EXPECT_EQ(Button("EXIT")->text(), QStringLiteral("Exit"));
    EXPECT_EQ(Button("NEW")->toolTip(), QStringLiteral("New"));
}

TEST_F(MainWindowTest, ShortcutsAreUniqueAmongEnabledCommands)
{
    EXPECT_EQ(Button("PRINT")->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
    EXPECT_TRUE(Button("PROPERTIES")->shortcut().isEmpty());
    EXPECT_EQ(Button("NEW")->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    EXPECT_EQ(Button("OPEN")->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(Button("DEL")->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
    QHash<QKeySequence, QString> owners;
    for (const QString& key : m_main->cmdBar().ButtonKeys()) {
        const QAction* action = m_main->cmdBar().Button(key);
        if (action->shortcut().isEmpty() || !action->isEnabled())
            continue;
        EXPECT_FALSE(owners.contains(action->shortcut()))
            << key.toStdString() << " shares its shortcut with " << owners.value(action->shortcut()).toStdString();
        owners.insert(action->shortcut(), key);
    }
}

TEST_F(MainWindowTest, CommandsCallTheMemberOfTheActiveChild)
{
    const std::vector<std::pair<const char*, const char*>> routes = {
        {"CLOSE", "ActionClose"},         {"SAVE", "ActionSave"},
        {"SAVEAS", "ActionSaveAs"},       {"STARTNODE", "ActionAddStart"},
        {"DATANODE", "ActionAddData"},    {"STORAGENODE", "ActionAddStorage"},
        {"ENDNODE", "ActionAddStop"},     {"LINKNODES", "ActionLinkNodes"},
        {"UNLINKNODES", "ActionUnLinkNodes"}, {"PROPERTIES", "ActionProperties"},
        {"DEL", "ActionDelete"},          {"PREVIEW", "ActionPreview"},
        {"PRINTPREVIEW", "ActionPrintPreview"}, {"PRINT", "ActionPrint"},
        {"NEWITEM", "ActionNewItem"},     {"EDITITEM", "ActionEditItem"},
        {"DELETEITEM", "ActionDeleteItem"}, {"CLEAR", "ActionClear"},
        {"RUN", "ActionRun"},             {"TEST", "actionTest"},
        {"LNKADD", "Link_Add"},           {"LNKREMOVE", "Link_Remove"},
        {"LNKCLEAR", "Link_Clear"},       {"LNKFORMULA", "Link_Formula"},
        {"DELLNKFORMULA", "Del_Link_Formula"}, {"LNKLOOKUP", "Link_Lookup"},
        {"LNKAUTO", "Link_Auto"},         {"IMPORTSCHED", "importItems"},
    };
    cRecordingChild* other = AddChild();
    cRecordingChild* child = AddChild();
    for (const auto& [key, member] : routes) {
        child->Calls.clear();
        QAction* action = Button(key);
        ASSERT_NE(action, nullptr) << key;
        // Greyed-out buttons cannot be chosen; the routing is the same.
        action->setEnabled(true);
        action->trigger();
        EXPECT_EQ(child->Calls, QStringList{QString::fromLatin1(member)}) << key;
    }
    EXPECT_TRUE(other->Calls.isEmpty());
    EXPECT_TRUE(m_dialogs->Messages.empty());
}

TEST_F(MainWindowTest, UnknownKeysSayTheyAreNotImplemented)
{
    m_main->RouteCommandKey(QStringLiteral("COPY"));
    m_main->RouteCommandKey(QStringLiteral("save"));  // keys are compared exactly
    ASSERT_EQ(m_dialogs->Messages.size(), 2u);
    EXPECT_EQ(m_dialogs->Messages[0].Prompt, QStringLiteral("Action 'COPY' not implemented in this version"));
    EXPECT_EQ(m_dialogs->Messages[1].Prompt, QStringLiteral("Action 'save' not implemented in this version"));
    // Without a child, or with a child lacking the member, nothing at all happens.
    m_main->RouteCommandKey(QStringLiteral("RUN"));
    m_main->AddChild(new QWidget);
    m_main->RouteCommandKey(QStringLiteral("CUT"));
    EXPECT_EQ(m_dialogs->Messages.size(), 2u);
}

TEST_F(MainWindowTest, DirectCommandsGoThroughTheScreenRegistry)
{
    QStringList calls;
    const auto record = [&calls](const char* Name) { return [&calls, Name] { calls << QString::fromLatin1(Name); }; };
    // Nothing registered yet: the keys do nothing and fail in no way.
    m_main->RouteCommandKey(QStringLiteral("NEW"));
    m_main->RouteExplorerItem(QStringLiteral("SCHEDULEDJOBS"));
    EXPECT_TRUE(m_dialogs->Messages.empty());

    ScreenRegistry::Register("frmWorkBench", "ActionAdd", record("wb.add"));
    ScreenRegistry::Register("frmWorkBench", "ActionOpen", record("wb.open"));
    ScreenRegistry::Register("frmConnections", "ActionAdd", record("cn.add"));
    ScreenRegistry::Register("frmConnections", "ActionShow", record("cn.show"));
    ScreenRegistry::Register("frmConnections", "ActionEdit", record("cn.edit"));
    ScreenRegistry::Register("frmConnections", "ActionDelete", record("cn.delete"));
    ScreenRegistry::Register("frmSchedule", "ActionEdit", record("sched"));
    ScreenRegistry::Register("frmExecutionLog", "ActionEdit", record("log"));
    ScreenRegistry::Register("frmExecErrorLog", "ActionEdit", record("errors"));
    m_main->RouteCommandKey(QStringLiteral("NEW"));
    m_main->RouteCommandKey(QStringLiteral("OPEN"));
    m_main->RouteCommandKey(QStringLiteral("CONNECTIONADD"));
    cExplorerBar* bar = m_main->ExplorerBar();
    for (const char* key : {"SHOWCONNECTIONS", "NEWCONNECTION", "EDITCONNECTION", "DELETECONNECTION"})
        qobject_cast<QAbstractButton*>(bar->Item("CONNECTIONS", key))->click();
    for (const char* key : {"NEWINTEGRATION", "OPENINTEGRATION"})
        qobject_cast<QAbstractButton*>(bar->Item("INTEGRATIONS", key))->click();
    for (const char* key : {"SCHEDULEDJOBS", "EXECUTIONLOG", "EXECERRORLOG"})
        qobject_cast<QAbstractButton*>(bar->Item("SCHEDULE", key))->click();
    m_main->RouteExplorerItem(QStringLiteral("TOOLTIP"));
    EXPECT_EQ(calls, QStringList({"wb.add", "wb.open", "cn.add", "cn.show", "cn.add", "cn.edit", "cn.delete",
                                  "wb.add", "wb.open", "sched", "log", "errors"}));

    // A failing screen tells why.
    ScreenRegistry::Register("frmSchedule", "ActionEdit", [] { throw std::runtime_error("store locked"); });
    m_main->RouteExplorerItem(QStringLiteral("SCHEDULEDJOBS"));
    ASSERT_EQ(m_dialogs->Messages.size(), 1u);
    EXPECT_EQ(m_dialogs->Messages[0].Prompt, QStringLiteral("store locked"));
    for (const char* screen : {"frmWorkBench", "frmConnections", "frmSchedule", "frmExecutionLog", "frmExecErrorLog"})
        for (const char* member : {"ActionAdd", "ActionOpen", "ActionShow", "ActionEdit", "ActionDelete"})
            ScreenRegistry::Unregister(screen, member);
}

TEST_F(MainWindowTest, ExplorerBarGroupsItemsAndHelpCommands)
{
    cExplorerBar* bar = m_main->ExplorerBar();
    EXPECT_EQ(bar->GroupKeys(), QStringList({"CONNECTIONS", "INTEGRATIONS", "SCHEDULE", "HELP"}));
    EXPECT_EQ(bar->ItemKeys("CONNECTIONS"),
              QStringList({"SHOWCONNECTIONS", "NEWCONNECTION", "EDITCONNECTION", "DELETECONNECTION"}));
    EXPECT_EQ(bar->ItemKeys("HELP"), QStringList({"MAINHELP", "ABOUT", "WEBSITE", "TOOLTIP"}));
    EXPECT_EQ(bar->GroupHeader("CONNECTIONS")->toolTip(), QStringLiteral("Admin Connections."));
    EXPECT_EQ(Plain(bar->GroupHeader("SCHEDULE")->text()), QStringLiteral("Execution"));
    EXPECT_EQ(m_main->ExplorerPanel()->widget(), bar);
    // The panel is the only way to the administration screens: it cannot be closed.
    EXPECT_FALSE(m_main->ExplorerPanel()->features().testFlag(QDockWidget::DockWidgetClosable));
    EXPECT_FALSE(m_main->ExplorerPanel()->toggleViewAction()->isEnabled());
    // Groups fold away and open again.
    bar->SetExpanded("SCHEDULE", false);
    EXPECT_FALSE(bar->Item("SCHEDULE", "EXECUTIONLOG")->isVisibleTo(m_main.get()));
    bar->SetExpanded("SCHEDULE", true);
    EXPECT_TRUE(bar->Item("SCHEDULE", "EXECUTIONLOG")->isVisibleTo(m_main.get()));

    SetHelpFile(TestHomeFolder() + QStringLiteral("/help/meridox.html"));
    QFile::remove(HelpFile());
    m_main->RouteExplorerItem(QStringLiteral("MAINHELP"));
    ASSERT_EQ(m_dialogs->Messages.size(), 1u);  // a missing manual is said, not silently skipped
    QDir().mkpath(TestHomeFolder() + QStringLiteral("/help"));
    QFile manual(HelpFile());
    ASSERT_TRUE(manual.open(QIODevice::WriteOnly));
    manual.close();
    m_main->RouteCommandKey(QStringLiteral("MANUAL"));
    m_main->RouteExplorerItem(QStringLiteral("WEBSITE"));
    ASSERT_EQ(m_dialogs->OpenedUrls.size(), 2u);
    EXPECT_EQ(m_dialogs->OpenedUrls[0], QUrl::fromLocalFile(HelpFile()));
    EXPECT_TRUE(m_dialogs->OpenedUrls[1].scheme().startsWith(QLatin1String("http")));
    // No browser can be started: the user is told so.
    m_dialogs->Messages.clear();
    m_dialogs->OpenUrlAnswers.push_back(false);
    m_main->RouteCommandKey(QStringLiteral("MANUAL"));
    ASSERT_EQ(m_dialogs->Messages.size(), 1u);
    EXPECT_EQ(m_dialogs->Messages[0].Prompt,
              QStringLiteral("No web browser could be started to show the manual: ") + HelpFile());

    // The menu and the explorer bar show the one About window, not a second.
    m_main->show();
    m_main->RouteExplorerItem(QStringLiteral("ABOUT"));
    m_main->RouteCommandKey(QStringLiteral("ABOUT"));
    EXPECT_EQ(m_main->findChildren<frmAbout*>().size(), 1);
}

TEST_F(MainWindowTest, ServiceStatusFollowsTheServiceState)
{
    // The service manager answers late, as the real one does: every command
    // below is given while the previous status query is still under way.
    const auto status = [this] { return m_main->ServiceStatusText(); };
    ASSERT_TRUE(m_service->QueryInFlight());
    m_service->Settle();
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Not installed"));
    EXPECT_EQ(Plain(Button("INSTALLSRV")->text()), QStringLiteral("Install Service"));

    // Install from the menu: the caption turns to Uninstall, once.
    m_main->RefreshServiceStatus();
    Button("INSTALLSRV")->trigger();
    m_service->Settle();
    EXPECT_EQ(m_service->Calls, QStringList{"Install"});
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Stopped"));
    EXPECT_EQ(Plain(Button("INSTALLSRV")->text()), QStringLiteral("Uninstall Service"));
    EXPECT_TRUE(Button("RUNSERVICE")->isEnabled());
    EXPECT_FALSE(Button("STOPSERVICE")->isEnabled());

    // Start: pending, polled by the timer until it runs; the answer asked
    // before the start (still "Stopped") neither shows nor stops the timer.
    m_main->RefreshServiceStatus();
    Button("RUNSERVICE")->trigger();
    EXPECT_EQ(m_service->Calls, QStringList({"Install", "Run"}));
    m_service->Settle();
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Waiting..."));
    EXPECT_TRUE(m_main->Timer1().isActive());
    EXPECT_FALSE(Button("RUNSERVICE")->isEnabled());
    m_service->State = ServiceState::Running;
    m_main->RefreshServiceStatus();  // what the next tick does
    m_service->Settle();
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Running"));
    EXPECT_FALSE(m_main->Timer1().isActive());
    EXPECT_TRUE(Button("STOPSERVICE")->isEnabled());

    // A refresh asked while a query is under way is made once the answer is
    // in: the state that changed meanwhile shows.
    m_main->RefreshServiceStatus();
    m_service->State = ServiceState::Stopped;
    m_main->RefreshServiceStatus();
    m_service->Settle();
    EXPECT_EQ(m_service->DroppedQueries, 0);
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Stopped"));
    m_service->State = ServiceState::Running;
    m_main->RefreshServiceStatus();
    m_service->Settle();

    // Run on a running service starts nothing; the timer goes off again
    // with the answer.
    m_service->Calls.clear();
    m_main->RouteCommandKey(QStringLiteral("RUNSERVICE"));
    m_service->Settle();
    EXPECT_TRUE(m_service->Calls.isEmpty());
    EXPECT_FALSE(m_main->Timer1().isActive());

    // Stop acts on the state as it is now, not on the last answer.
    m_main->RefreshServiceStatus();
    m_main->RouteCommandKey(QStringLiteral("STOPSERVICE"));
    m_service->Settle();
    EXPECT_EQ(m_service->Calls, QStringList{"Stop"});
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Waiting..."));
    EXPECT_TRUE(m_main->Timer1().isActive());

    // An unreadable state shows the waiting text.
    m_service->State = 0;
    m_main->RefreshServiceStatus();
    m_service->Settle();
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Waiting..."));

    // Uninstall keeps the last state but shows the service as missing.
    m_service->State = ServiceState::Running;
    m_main->RefreshServiceStatus();
    m_service->Settle();
    m_service->Calls.clear();
    m_main->RefreshServiceStatus();
    m_main->RouteCommandKey(QStringLiteral("INSTALLSRV"));
    m_service->Settle();
    EXPECT_EQ(m_service->Calls, QStringList{"Uninstall"});
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Not installed"));
    EXPECT_EQ(m_main->ServiceState(), ServiceState::Running);
    EXPECT_FALSE(Button("RUNSERVICE")->isEnabled());
    EXPECT_FALSE(Button("STOPSERVICE")->isEnabled());
    EXPECT_TRUE(m_dialogs->Messages.empty());

    // Saving restarts the service and keeps polling while it is missing.
    cRecordingChild* child = AddChild();
    m_service->Calls.clear();
    m_main->RouteCommandKey(QStringLiteral("SAVE"));
    EXPECT_EQ(child->Calls, QStringList{"ActionSave"});
    EXPECT_EQ(m_service->Calls, QStringList{"Restart"});
    EXPECT_TRUE(m_main->Timer1().isActive());
    m_main->RefreshServiceStatus();
    m_service->Settle();
    EXPECT_TRUE(m_main->Timer1().isActive());
    EXPECT_EQ(status(), QStringLiteral("Velmora Service Not installed"));
}

TEST_F(MainWindowTest, ServiceFailuresSayWhy)
{
    // No user service manager: the status says so, and each command tells
    // its error code and what it means.
    m_service->Unavailable = ServiceError::ManagerUnavailable;
    m_main->RefreshServiceStatus();
    m_service->Settle();
    EXPECT_TRUE(m_main->ServiceStatusText().contains(QStringLiteral("service manager unavailable")))
        << m_main->ServiceStatusText().toStdString();
    EXPECT_NE(m_main->ServiceStatusText(), QStringLiteral("Velmora Service Not installed"));

    m_main->RouteCommandKey(QStringLiteral("INSTALLSRV"));
    m_main->RouteCommandKey(QStringLiteral("RUNSERVICE"));
    m_main->RouteCommandKey(QStringLiteral("STOPSERVICE"));
    m_service->Settle();
    ASSERT_EQ(m_dialogs->Messages.size(), 3u);
    EXPECT_TRUE(m_dialogs->Messages[0].Prompt.startsWith(QStringLiteral("The service could not be installed.")));
    EXPECT_TRUE(m_dialogs->Messages[1].Prompt.startsWith(QStringLiteral("The service could not be started.")));
    EXPECT_TRUE(m_dialogs->Messages[2].Prompt.startsWith(QStringLiteral("The service could not be stopped.")));
    for (const auto& message : m_dialogs->Messages)
        EXPECT_TRUE(message.Prompt.contains(QStringLiteral("Error 1722: service manager unavailable")))
            << message.Prompt.toStdString();
}

TEST_F(MainWindowTest, ExitStopsWhenAChildRefusesAndSavesConnectionsOnlyAtTheEnd)
{
    const QString file = cConnections::FilePath();
    QFile::remove(file);
    m_dialogs->MsgBoxAnswers = {};
    LoadConnectionRegistry();  // no file yet: a first start, said to nobody
    EXPECT_FALSE(gConnectionsLoadFailed);
    EXPECT_TRUE(m_dialogs->Messages.empty());
    EXPECT_EQ(gConnections->ConnectionsList().Count(), 0);
    m_main->show();
    cRecordingChild* willing = AddChild();
    cRecordingChild* refusing = AddChild();
    refusing->RefuseClose = true;

    Button("EXIT")->trigger();
    EXPECT_TRUE(m_main->isVisible());
    EXPECT_TRUE(refusing->Calls.contains("closeEvent"));
    EXPECT_NE(gConnections, nullptr);
    EXPECT_FALSE(QFile::exists(file));
    Q_UNUSED(willing);

    refusing->RefuseClose = false;
    Button("EXIT")->trigger();
    EXPECT_FALSE(m_main->isVisible());
    EXPECT_EQ(gConnections, nullptr);
    EXPECT_TRUE(QFile::exists(file));
    QFile::remove(file);
}

TEST_F(MainWindowTest, DestroyingTheShownWindowWithOpenChildrenCallsNothingOnIt)
{
    // Hiding the children while the base class tears the window down
    // activates another tab; the half-destroyed window must not be called.
    m_main->show();
    QPointer<cRecordingChild> first = AddChild();
    QPointer<cRecordingChild> second = AddChild();
    m_main.reset();
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(second.isNull());
}

TEST_F(MainWindowTest, AnUnreadableConnectionsFileSurvivesTheSession)
{
    const QString file = cConnections::FilePath();
    const QByteArray broken = "<connections><connection><connname>a</conn";
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(broken);
    }
    LoadConnectionRegistry();
    EXPECT_TRUE(gConnectionsLoadFailed);
    EXPECT_FALSE(m_dialogs->Messages.empty());  // the registry said why
    m_main->show();
    m_main->close();
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    EXPECT_EQ(in.readAll(), broken);
    in.close();
    QFile::remove(file);
}

TEST_F(MainWindowTest, ContextBarsCarryTheirCommandsToTheChildThatShowedThem)
{
    cRecordingChild* child = AddChild();
    EXPECT_TRUE(m_main->ShowPopupBar(QStringLiteral("POPUPLNKMENU"), QPoint(10, 10)));
    QMenu* menu = m_main->cmdBar().Bar("POPUPLNKMENU");
    EXPECT_TRUE(menu->isVisible());
    menu->actions().at(4)->trigger();
    menu->hide();
    EXPECT_EQ(child->Calls, QStringList{"Del_Link_Formula"});
    EXPECT_FALSE(m_main->ShowPopupBar(QStringLiteral("NOSUCHBAR"), QPoint()));
    // A screen hides the import entry before showing its edit menu.
    Button("IMPORTSCHED")->setVisible(false);
    EXPECT_FALSE(m_main->cmdBar().Bar("POPUPEDITMENU")->actions().at(3)->isVisible());
}

}  // namespace
