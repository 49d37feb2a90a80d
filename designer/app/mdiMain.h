#pragma once

// The designer's one top-level window: a frame of tabbed child windows
// (workbenches and administration screens) with the menu bar (cmdBar_1),
// the tool bar (cmdBar_5), the explorer bar on a side panel and a status bar
// whose first panel tells the state of the scheduler service.
//
// Child windows use it through MainForm() (basMain.h):
//   AddChild(window)                  show a window as a tab of the frame
//   ShowPopupBar("STDEDITSHAPE", pos) pop up a bar as a context menu; its
//                                     commands come back to the active child
//   cmdBar().Button("IMPORTSCHED")    the shared button of a key
//   Timer1().start()                  poll the service after restarting it
//   RefreshTabs()

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>

class QCloseEvent;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QToolBar;
class cCommandBars;
class cExplorerBar;

class mdiMain : public QMainWindow {
    Q_OBJECT
public:
    explicit mdiMain(QWidget* Parent = nullptr);
    ~mdiMain() override;

    cCommandBars& cmdBar() const { return *m_commandBars; }
    cExplorerBar* ExplorerBar() const { return m_explorerBar; }
    QDockWidget* ExplorerPanel() const { return m_explorerPanel; }
    QMdiArea* MdiArea() const { return m_mdiArea; }
    QTimer& Timer1() { return m_timer1; }
    QToolBar* ToolBar() const { return m_toolBar; }

    // Shows Window as a child of the frame (a tab) and makes it current.
    QMdiSubWindow* AddChild(QWidget* Window);
    // The current child window (the one commands go to); null when none.
    QWidget* ActiveChild() const;
    // Pops up a bar of the command bars as a context menu; false for an unknown bar.
    bool ShowPopupBar(const QString& BarKey, const QPoint& GlobalPos);

    void RefreshTabs();
    // Asks the service manager for the service's state; the answer updates
    // the status display when it comes. Asked while a query is under way,
    // the request waits for that answer and is made then.
    void RefreshServiceStatus();
    // After a command changed the service (install, start, restart ...):
    // answers to queries asked before it are dropped, and the state is
    // asked again.
    void ServiceCommandDone();
    // The same without asking at once (the status timer asks next).
    void DiscardServiceAnswers();
    // Shows what the service manager answered (0 = installed, 1060 = not
    // installed, another code = the state cannot be read; a state).
    void ShowServiceStatus(int Installed, int State);
    bool ServiceInstalled() const { return m_serviceInstalled; }
    int ServiceState() const { return m_serviceState; }
    // The text of the status bar's first panel.
    QString ServiceStatusText() const;

    // Command-bar routing: runs the command of Key on the active child or
    // on the main window itself.
    void RouteCommandKey(const QString& Key);
    // Explorer-bar routing.
    void RouteExplorerItem(const QString& Key);

    // Closes every child window; false as soon as one refuses.
    bool CloseChildren();
    void ShowAbout();
    void ShowHelp();

protected:
    void closeEvent(QCloseEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    void InitMainWindow();
    void BuildExplorerBar();
    void BuildCommandBars();
    void InitStatusBar();
    // Calls a member by name, without arguments, on the active child.
    bool CallActive(const char* Member);
    void SetButtonCaption(const QString& Key, const QString& Caption);
    void SetButtonEnabled(const QString& Key, bool Enabled);
    void SetStatusText(const QString& Text);
    void ExplorerCall(const QString& Screen, const QString& Member);
    // Reads the service's state on this thread and shows it, for a command
    // to act on what is true now rather than on the last answer. Gives the
    // installed check's answer.
    int ReadServiceStatusNow();
    // Tells why a service command failed (Code is the manager's error).
    void ShowServiceFailure(const char* What, int Code);

    cCommandBars* m_commandBars = nullptr;
    cExplorerBar* m_explorerBar = nullptr;
    QDockWidget* m_explorerPanel = nullptr;
    QMdiArea* m_mdiArea = nullptr;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_panel1 = nullptr;
    QLabel* m_panel2 = nullptr;
    QTimer m_timer1;
    bool m_serviceInstalled = false;
    int m_serviceState = 0;
    bool m_statusInFlight = false;  // a status query awaits its answer
    bool m_statusQueued = false;    // a refresh was asked meanwhile
    int m_serviceCommands = 0;      // commands so far; older answers are stale
    bool m_ending = false;
};
