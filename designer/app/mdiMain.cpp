#include "app/mdiMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabBar>
#include <QToolBar>
#include <QUrl>

#ifdef QT_PRINTSUPPORT_LIB
#include <QPageSetupDialog>
#include <QPrinter>
#endif

#include <exception>

#include "app/AppInfo.h"
#include "app/CommandBars.h"
#include "app/ExplorerBar.h"
#include "app/FormTranslation.h"
#include "app/Icons.h"
#include "app/NTServiceControl.h"
#include "app/ScreenRegistry.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "app/frmAbout.h"
#include "stores/basUtils.h"

namespace {
const QString kAmbient = QStringLiteral("mdiMain");

QString Tr(const char* Text)
{
    return Translate(QString::fromUtf8(Text), kAmbient);
}

// The service manager's error as the user reads it: its number and a
// short text.
QString ServiceErrorText(int Code)
{
    const char* text = "the service manager refused the request";
    switch (Code) {
    case 2: text = "the service program VMeridoxSrv cannot be found"; break;
    case ServiceError::AccessDenied: text = "access denied"; break;
    case ServiceError::RequestTimeout: text = "the service manager did not answer in time"; break;
    case ServiceError::AlreadyRunning: text = "the service is already running"; break;
    case ServiceError::ServiceDisabled: text = "the service is disabled"; break;
    case ServiceError::DoesNotExist: text = "the service is not installed"; break;
    case ServiceError::NotActive: text = "the service is not running"; break;
    case ServiceError::ServiceExists: text = "the service is already installed"; break;
    case ServiceError::ManagerUnavailable: text = "service manager unavailable"; break;
    default: break;
    }
    return Tr("Error ") + QString::number(Code) + QStringLiteral(": ") + Tr(text);
}

// Closes a child's tab when the window in it closes or hides by any way but
// the tab itself (its close command, a button of its own), so that no empty
// tab stays behind.
class cTabCloser : public QObject {
public:
    cTabCloser(QMdiSubWindow* Sub, QWidget* Window) : QObject(Window), m_sub(Sub), m_window(Window)
    {
        Window->installEventFilter(this);
        connect(Window, &QObject::destroyed, Sub, [sub = m_sub] {
            if (sub)
                sub->close();
        });
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        // A window hidden on its own (not with its tab) is closed or gone.
        if (Watched == m_window && Event->type() == QEvent::Hide && m_window->isHidden() && m_sub &&
            !m_sub->isHidden())
            m_sub->close();
        return false;
    }

private:
    QPointer<QMdiSubWindow> m_sub;
    QWidget* m_window;
};
}  // namespace

mdiMain::mdiMain(QWidget* Parent) : QMainWindow(Parent)
{
    setObjectName(QStringLiteral("mdiMain"));
    setWindowIcon(QIcon(Icons::ProductArt(64)));
    resize(1024, 700);

    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setObjectName(QStringLiteral("m_cMDITabs"));
    m_mdiArea->setViewMode(QMdiArea::TabbedView);
    m_mdiArea->setTabsClosable(true);
    m_mdiArea->setTabsMovable(true);
    m_mdiArea->setDocumentMode(true);
    // The frame's background picture: a quiet gradient behind the windows.
    QLinearGradient background(0, 0, 0, 1);
    background.setCoordinateMode(QGradient::ObjectMode);
    background.setColorAt(0, QColor(0x8E, 0xA4, 0xC8));
    background.setColorAt(1, QColor(0x4F, 0x67, 0x94));
    m_mdiArea->setBackground(background);
    setCentralWidget(m_mdiArea);
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, [this] { RefreshTabs(); });

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(1000);
    connect(&m_timer1, &QTimer::timeout, this, &mdiMain::RefreshServiceStatus);

    // Load.
    m_serviceInstalled = false;
    setWindowTitle(QStringLiteral("%1 V %2.%3")
                       .arg(QString::fromLatin1(AppInfo::ProductName))
                       .arg(AppInfo::VersionMajor)
                       .arg(AppInfo::VersionMinor));
    TranslateForm(this, kAmbient);
    if (ServiceControl().IsWindowsNT()) {
        InitMainWindow();
        RefreshServiceStatus();
    } else {
        Dialogs().MsgBox(this, Tr("This program requires Windows NT/2000/XP/2003"));
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

mdiMain::~mdiMain()
{
    // The base class hides the child windows as it tears down, which
    // activates another one; by then this object is gone and must not hear of it.
    disconnect(m_mdiArea, nullptr, this, nullptr);
}

void mdiMain::InitMainWindow()
{
    // Explorer bar first, then the command bars, then the status bar.
    m_explorerPanel = new QDockWidget(this);
    m_explorerPanel->setObjectName(QStringLiteral("ExplorerPanel"));
    // The panel is the only way to the administration screens: it moves, it
    // does not close.
    m_explorerPanel->setFeatures(QDockWidget::DockWidgetMovable);
    m_explorerPanel->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    m_explorerBar = new cExplorerBar(m_explorerPanel);
    m_explorerPanel->setWidget(m_explorerBar);
    m_explorerPanel->setMinimumWidth(210);
    addDockWidget(Qt::LeftDockWidgetArea, m_explorerPanel);
    // As narrow as its items allow (the tip wraps): the width goes to the tabs.
    resizeDocks({m_explorerPanel}, {m_explorerPanel->minimumWidth()}, Qt::Horizontal);
    BuildExplorerBar();
    m_explorerPanel->setWindowTitle(Tr("Explorer"));
    connect(m_explorerBar, &cExplorerBar::ItemClick, this, &mdiMain::RouteExplorerItem);

    BuildCommandBars();
    InitStatusBar();
}

void mdiMain::BuildExplorerBar()
{
    cExplorerBar* bar = m_explorerBar;
    bar->SetRedraw(false);
    bar->AddGroup(QStringLiteral("CONNECTIONS"), Tr("&Connections"), Icons::NavBarIcon(QStringLiteral("Connection")),
                  QStringLiteral("Admin Connections."));
    bar->AddItem(QStringLiteral("CONNECTIONS"), QStringLiteral("SHOWCONNECTIONS"), Tr("&Admin"));
    bar->AddItem(QStringLiteral("CONNECTIONS"), QStringLiteral("NEWCONNECTION"), Tr("&New"));
    bar->AddItem(QStringLiteral("CONNECTIONS"), QStringLiteral("EDITCONNECTION"), Tr("&Edit"));
    bar->AddItem(QStringLiteral("CONNECTIONS"), QStringLiteral("DELETECONNECTION"), Tr("&Delete"));
    bar->AddGroup(QStringLiteral("INTEGRATIONS"), Tr("&Integrations"), Icons::NavBarIcon(QStringLiteral("Integration")),
                  Tr("Admin Integrations."));
    bar->AddItem(QStringLiteral("INTEGRATIONS"), QStringLiteral("NEWINTEGRATION"), Tr("&New"));
    bar->AddItem(QStringLiteral("INTEGRATIONS"), QStringLiteral("OPENINTEGRATION"), Tr("&Open"));
    bar->AddGroup(QStringLiteral("SCHEDULE"), Tr("&Execution"), Icons::NavBarIcon(QStringLiteral("ExecLog")),
                  Tr("Admin Scheduled Jobs."));
    bar->AddItem(QStringLiteral("SCHEDULE"), QStringLiteral("SCHEDULEDJOBS"), Tr("&Scheduled Jobs"));
    bar->AddItem(QStringLiteral("SCHEDULE"), QStringLiteral("EXECUTIONLOG"), Tr("&Execution Log"));
    bar->AddItem(QStringLiteral("SCHEDULE"), QStringLiteral("EXECERRORLOG"), Tr("&Execution Errors"));
    bar->AddGroup(QStringLiteral("HELP"), Tr("&Help"), Icons::NavBarIcon(QStringLiteral("Help")),
                  Tr("Workbench Help"));
    bar->AddItem(QStringLiteral("HELP"), QStringLiteral("MAINHELP"), Tr("Meridox Help"));
    bar->AddItem(QStringLiteral("HELP"), QStringLiteral("ABOUT"), Tr("About Meridox"));
    bar->AddItem(QStringLiteral("HELP"), QStringLiteral("WEBSITE"), Tr("Velmora Web Site"));
    bar->AddTip(QStringLiteral("HELP"), QStringLiteral("TOOLTIP"),
                Tr("Tip: You can add a step clicking at the toolbar or clicking right mouse button at the workbench "
                   "pane."));
    bar->SetRedraw(true);
}

void mdiMain::BuildCommandBars()
{
    m_commandBars = new cCommandBars(this);
    menuBar()->setObjectName(QStringLiteral("cmdBar_1"));
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("cmdBar_5"));
    m_toolBar->setIconSize(QSize(24, 24));
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    try {
        m_commandBars->BuildCommandBars(menuBar(), m_toolBar);
    } catch (const std::exception& error) {
        // The bars stay as far as they were built.
        Dialogs().MsgBox(this, QString::fromLocal8Bit(error.what()));
    }
    connect(m_commandBars, &cCommandBars::ButtonClick, this, &mdiMain::RouteCommandKey);
}

void mdiMain::InitStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    m_panel1 = new QLabel(bar);
    m_panel1->setObjectName(QStringLiteral("StatusBar1_Panel1"));
    m_panel1->setMinimumWidth(64);
    bar->addWidget(m_panel1, 1);
    m_panel2 = new QLabel(bar);
    m_panel2->setObjectName(QStringLiteral("StatusBar1_Panel2"));
    m_panel2->setMinimumWidth(100);
    bar->addPermanentWidget(m_panel2);
}

QMdiSubWindow* mdiMain::AddChild(QWidget* Window)
{
    if (!Window)
        return nullptr;
    QMdiSubWindow* sub = nullptr;
    for (QMdiSubWindow* existing : m_mdiArea->subWindowList())
        if (existing->widget() == Window)
            sub = existing;
    if (!sub) {
        sub = m_mdiArea->addSubWindow(Window);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        Window->setAttribute(Qt::WA_DeleteOnClose);
        new cTabCloser(sub, Window);
    }
    Window->show();
    sub->show();
    m_mdiArea->setActiveSubWindow(sub);
    RefreshTabs();
    return sub;
}

QWidget* mdiMain::ActiveChild() const
{
    QMdiSubWindow* sub = m_mdiArea->currentSubWindow();
    if (!sub)
        sub = m_mdiArea->activeSubWindow();
    return sub ? sub->widget() : nullptr;
}

bool mdiMain::ShowPopupBar(const QString& BarKey, const QPoint& GlobalPos)
{
    return m_commandBars && m_commandBars->ShowPopup(BarKey, GlobalPos);
}

void mdiMain::RefreshTabs()
{
    // The tab strip follows the child windows by itself; keep each tab's
    // tooltip on its window's full caption, which a narrow tab may cut.
    const auto subs = m_mdiArea->subWindowList();
    if (QTabBar* tabs = m_mdiArea->findChild<QTabBar*>()) {
        for (int i = 0; i < tabs->count() && i < subs.size(); ++i)
            tabs->setTabToolTip(i, tabs->tabText(i));
    }
}

void mdiMain::SetButtonCaption(const QString& Key, const QString& Caption)
{
    if (m_commandBars)
        if (QAction* action = m_commandBars->Button(Key))
            action->setText(Caption);
}

void mdiMain::SetButtonEnabled(const QString& Key, bool Enabled)
{
    if (m_commandBars)
        if (QAction* action = m_commandBars->Button(Key))
            action->setEnabled(Enabled);
}

void mdiMain::SetStatusText(const QString& Text)
{
    if (m_panel1)
        m_panel1->setText(Text);
}

QString mdiMain::ServiceStatusText() const
{
    return m_panel1 ? m_panel1->text() : QString();
}

void mdiMain::RefreshServiceStatus()
{
    if (m_statusInFlight) {
        m_statusQueued = true;
        return;
    }
    m_statusInFlight = true;
    m_statusQueued = false;
    const int asked = m_serviceCommands;
    const bool accepted = ServiceControl().QueryStatus(this, [this, asked](int Installed, int State) {
        m_statusInFlight = false;
        // An answer asked before the last command tells the state before it.
        if (asked == m_serviceCommands)
            ShowServiceStatus(Installed, State);
        else
            m_statusQueued = true;
        if (m_statusQueued)
            RefreshServiceStatus();
    });
    if (!accepted)
        m_statusInFlight = false;
}

void mdiMain::ServiceCommandDone()
{
    ++m_serviceCommands;
    RefreshServiceStatus();
}

void mdiMain::DiscardServiceAnswers()
{
    ++m_serviceCommands;
}

int mdiMain::ReadServiceStatusNow()
{
    ++m_serviceCommands;
    NTServiceControl& service = ServiceControl();
    const int installed = service.CheckServiceInstalled();
    ShowServiceStatus(installed, installed == 0 ? service.GetServiceState() : ServiceState::Unknown);
    return installed;
}

void mdiMain::ShowServiceFailure(const char* What, int Code)
{
    Dialogs().MsgBox(this, Tr(What) + QLatin1Char('\n') + ServiceErrorText(Code), MsgBoxStyle::vbExclamation);
}

void mdiMain::ShowServiceStatus(int Installed, int State)
{
    if (m_panel1)
        m_panel1->setToolTip(Installed == 0 ? QString() : ServiceErrorText(Installed));
    if (Installed != 0) {
        m_serviceInstalled = false;
        // Not installed only when the manager says so; otherwise nobody knows.
        SetStatusText(Installed == ServiceError::DoesNotExist
                          ? Tr("Velmora Service Not installed")
                          : Tr("Velmora Service: ") + Tr("service manager unavailable"));
        SetButtonCaption(QStringLiteral("INSTALLSRV"), Tr("Install Service"));
        SetButtonEnabled(QStringLiteral("RUNSERVICE"), false);
        SetButtonEnabled(QStringLiteral("STOPSERVICE"), false);
        return;
    }
    m_serviceInstalled = true;
    SetStatusText(Tr("Velmora Service Installed"));
    SetButtonCaption(QStringLiteral("INSTALLSRV"), Tr("Uninstall Service"));
    SetButtonEnabled(QStringLiteral("RUNSERVICE"), false);
    SetButtonEnabled(QStringLiteral("STOPSERVICE"), false);
    m_serviceState = State;
    switch (m_serviceState) {
    case ServiceState::Stopped:
        SetStatusText(Tr("Velmora Service Stopped"));
        SetButtonEnabled(QStringLiteral("RUNSERVICE"), true);
        m_timer1.stop();
        break;
    case ServiceState::Running:
        SetStatusText(Tr("Velmora Service Running"));
        SetButtonEnabled(QStringLiteral("STOPSERVICE"), true);
        m_timer1.stop();
        break;
    default:
        SetStatusText(Tr("Velmora Service Waiting..."));
        break;
    }
}

bool mdiMain::CallActive(const char* Member)
{
    QWidget* child = ActiveChild();
    if (!child)
        return false;
    // A window without the member simply does not answer the command.
    const QByteArray signature = QMetaObject::normalizedSignature((QByteArray(Member) + "()").constData());
    if (child->metaObject()->indexOfMethod(signature.constData()) < 0)
        return false;
    return QMetaObject::invokeMethod(child, Member, Qt::DirectConnection);
}

void mdiMain::RouteCommandKey(const QString& Key)
{
    // Commands that call a member of the same duty on the active child.
    static const QHash<QString, const char*> active = {
        {QStringLiteral("CLOSE"), "ActionClose"},
        {QStringLiteral("STARTNODE"), "ActionAddStart"},
        {QStringLiteral("DATANODE"), "ActionAddData"},
        {QStringLiteral("STORAGENODE"), "ActionAddStorage"},
        {QStringLiteral("LINKNODES"), "ActionLinkNodes"},
        {QStringLiteral("UNLINKNODES"), "ActionUnLinkNodes"},
        {QStringLiteral("ENDNODE"), "ActionAddStop"},
        {QStringLiteral("PROPERTIES"), "ActionProperties"},
        {QStringLiteral("DEL"), "ActionDelete"},
        {QStringLiteral("CUT"), "ActionCut"},
        {QStringLiteral("PREVIEW"), "ActionPreview"},
        {QStringLiteral("PRINTPREVIEW"), "ActionPrintPreview"},
        {QStringLiteral("NEWITEM"), "ActionNewItem"},
        {QStringLiteral("EDITITEM"), "ActionEditItem"},
        {QStringLiteral("DELETEITEM"), "ActionDeleteItem"},
        {QStringLiteral("CLEAR"), "ActionClear"},
        {QStringLiteral("RUN"), "ActionRun"},
        {QStringLiteral("TEST"), "actionTest"},
        {QStringLiteral("LNKADD"), "Link_Add"},
        {QStringLiteral("LNKREMOVE"), "Link_Remove"},
        {QStringLiteral("LNKCLEAR"), "Link_Clear"},
        {QStringLiteral("LNKFORMULA"), "Link_Formula"},
        {QStringLiteral("DELLNKFORMULA"), "Del_Link_Formula"},
        {QStringLiteral("LNKLOOKUP"), "Link_Lookup"},
        {QStringLiteral("LNKAUTO"), "Link_Auto"},
        {QStringLiteral("IMPORTSCHED"), "importItems"},
        {QStringLiteral("PRINT"), "ActionPrint"},
    };
    NTServiceControl& service = ServiceControl();
    // A failing step is dropped and the row goes on, as every command promises.
    const auto step = [](auto&& Run) {
        try {
            Run();
        } catch (...) {
        }
    };

    if (const auto it = active.constFind(Key); it != active.constEnd()) {
        step([&] { CallActive(it.value()); });
    } else if (Key == QLatin1String("OPEN")) {
        step([] { ScreenRegistry::Call(QStringLiteral("frmWorkBench"), QStringLiteral("ActionOpen")); });
    } else if (Key == QLatin1String("SAVE")) {
        step([&] { CallActive("ActionSave"); });
        step([&] { service.RestartService(); });
        m_timer1.start();
        step([&] { ServiceCommandDone(); });
    } else if (Key == QLatin1String("SAVEAS")) {
        step([&] { RefreshServiceStatus(); });
        step([&] { CallActive("ActionSaveAs"); });
        step([&] { service.RestartService(); });
        m_timer1.start();
        step([&] { ServiceCommandDone(); });
    } else if (Key == QLatin1String("NEW")) {
        step([] { ScreenRegistry::Call(QStringLiteral("frmWorkBench"), QStringLiteral("ActionAdd")); });
    } else if (Key == QLatin1String("CONNECTIONADD")) {
        step([] { ScreenRegistry::Call(QStringLiteral("frmConnections"), QStringLiteral("ActionAdd")); });
    } else if (Key == QLatin1String("EXIT")) {
        close();
        return;  // the window may be gone; nothing is left to refresh
    } else if (Key == QLatin1String("ABOUT")) {
        step([&] { ShowAbout(); });
    } else if (Key == QLatin1String("MANUAL")) {
        step([&] { ShowHelp(); });
    } else if (Key == QLatin1String("SUPPORT")) {
        step([] { Dialogs().OpenUrl(QUrl(QString::fromLatin1(AppInfo::WebSite))); });
    } else if (Key == QLatin1String("INSTALLSRV")) {
        // Each service command acts on the state as it is now, says why it
        // failed, and shows the state that followed it.
        step([&] { ReadServiceStatusNow(); });
        step([&] {
            if (m_serviceInstalled) {
                if (const int result = service.UninstallService(); result != 0)
                    ShowServiceFailure("The service could not be uninstalled.", result);
            } else if (const int result = service.InstallService(); result != 0) {
                ShowServiceFailure("The service could not be installed.", result);
            }
        });
        step([&] { ServiceCommandDone(); });
    } else if (Key == QLatin1String("RUNSERVICE")) {
        int installed = 0;
        step([&] { installed = ReadServiceStatusNow(); });
        step([&] {
            int result = 0;
            if (installed == 0 && m_serviceState == ServiceState::Stopped)
                result = service.RunService();
            else if (installed != 0 && installed != ServiceError::DoesNotExist)
                result = installed;  // the manager cannot be asked at all
            if (result != 0)
                ShowServiceFailure("The service could not be started.", result);
        });
        m_timer1.start();
        step([&] { ServiceCommandDone(); });
    } else if (Key == QLatin1String("STOPSERVICE")) {
        int installed = 0;
        step([&] { installed = ReadServiceStatusNow(); });
        step([&] {
            int result = 0;
            if (installed == 0 && m_serviceState == ServiceState::Running)
                result = service.StopService();
            else if (installed != 0 && installed != ServiceError::DoesNotExist)
                result = installed;  // the manager cannot be asked at all
            if (result != 0)
                ShowServiceFailure("The service could not be stopped.", result);
        });
        m_timer1.start();
        step([&] { ServiceCommandDone(); });
    } else if (Key == QLatin1String("PAGESETUP")) {
#ifdef QT_PRINTSUPPORT_LIB
        step([&] {
            QPrinter printer;
            QPageSetupDialog dialog(&printer, this);
            dialog.setObjectName(QStringLiteral("cDialog"));
            dialog.exec();
        });
#endif
    } else {
        Dialogs().MsgBox(this, Tr("Action '") + Key + Tr("' not implemented in this version"));
    }
    RefreshTabs();
}

void mdiMain::ExplorerCall(const QString& Screen, const QString& Member)
{
    ScreenRegistry::Call(Screen, Member);
}

void mdiMain::RouteExplorerItem(const QString& Key)
{
    static const QHash<QString, std::pair<const char*, const char*>> screens = {
        {QStringLiteral("SHOWCONNECTIONS"), {"frmConnections", "ActionShow"}},
        {QStringLiteral("OPENINTEGRATION"), {"frmWorkBench", "ActionOpen"}},
        {QStringLiteral("NEWINTEGRATION"), {"frmWorkBench", "ActionAdd"}},
        {QStringLiteral("SCHEDULEDJOBS"), {"frmSchedule", "ActionEdit"}},
        {QStringLiteral("EXECUTIONLOG"), {"frmExecutionLog", "ActionEdit"}},
        {QStringLiteral("EXECERRORLOG"), {"frmExecErrorLog", "ActionEdit"}},
        {QStringLiteral("NEWCONNECTION"), {"frmConnections", "ActionAdd"}},
        {QStringLiteral("DELETECONNECTION"), {"frmConnections", "ActionDelete"}},
        {QStringLiteral("EDITCONNECTION"), {"frmConnections", "ActionEdit"}},
    };
    try {
        if (const auto it = screens.constFind(Key); it != screens.constEnd())
            ExplorerCall(QString::fromLatin1(it->first), QString::fromLatin1(it->second));
        else if (Key == QLatin1String("MAINHELP"))
            ShowHelp();
        else if (Key == QLatin1String("ABOUT"))
            ShowAbout();
        else if (Key == QLatin1String("WEBSITE"))
            Dialogs().OpenUrl(QUrl(QString::fromLatin1(AppInfo::WebSite)));
    } catch (const std::exception& error) {
        // A screen that failed says why; the rest of the row is skipped.
        Dialogs().MsgBox(this, Translate(QString::fromLocal8Bit(error.what()), kAmbient));
        return;
    } catch (...) {
        return;
    }
    QCoreApplication::processEvents();
    RefreshTabs();
}

void mdiMain::ShowAbout()
{
    // One About window: asking again brings the open one forward.
    for (frmAbout* open : findChildren<frmAbout*>(Qt::FindDirectChildrenOnly))
        if (open->isVisible()) {
            open->raise();
            open->activateWindow();
            return;
        }
    auto* about = new frmAbout(this);
    about->show();
}

void mdiMain::ShowHelp()
{
    const QString file = HelpFile();
    if (!QFileInfo::exists(file)) {
        Dialogs().MsgBox(this, Tr("The help file cannot be found: ") + file, MsgBoxStyle::vbExclamation);
        return;
    }
    // Without a browser that can be started nothing would happen at all.
    if (!Dialogs().OpenUrl(QUrl::fromLocalFile(file)))
        Dialogs().MsgBox(this, Tr("No web browser could be started to show the manual: ") + file,
                         MsgBoxStyle::vbExclamation);
}

bool mdiMain::CloseChildren()
{
    const auto subs = m_mdiArea->subWindowList();
    for (QMdiSubWindow* sub : subs) {
        // Each window may ask to save and may refuse to close.
        if (!sub->close())
            return false;
    }
    return true;
}

bool mdiMain::event(QEvent* Event)
{
    if (Event->type() == QEvent::WindowActivate)
        RefreshTabs();
    return QMainWindow::event(Event);
}

void mdiMain::closeEvent(QCloseEvent* Event)
{
    if (m_ending) {
        Event->accept();
        return;
    }
    if (!CloseChildren()) {
        Event->ignore();
        return;
    }
    m_ending = true;
    m_timer1.stop();
    Event->accept();
    EndApplication();
}
