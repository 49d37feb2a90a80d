#pragma once

// Shared set-up of the designer tests: one offscreen QApplication, a private
// library folder (translations, connections file) and a fake service.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include "app/NTServiceControl.h"

#include <functional>
#include <memory>

// The folder that stands for the engine library's folder in these tests.
QString TestHomeFolder();

// A service that lives in memory and records what it was asked. Its status
// query behaves like the real manager's: the state is read when asked, the
// answer arrives later through the event loop, and a request made while one
// is under way is dropped.
class cFakeService : public NTServiceControl {
public:
    bool Installed = false;
    int State = ServiceState::Stopped;
    // Set: every operation fails with this error (no user service manager).
    int Unavailable = 0;
    QStringList Calls;
    int DroppedQueries = 0;

    int CheckServiceInstalled() override
    {
        if (Unavailable)
            return Unavailable;
        return Installed ? 0 : ServiceError::DoesNotExist;
    }
    int GetServiceState() override { return Installed && !Unavailable ? State : 0; }
    int InstallService() override
    {
        Calls << QStringLiteral("Install");
        if (Unavailable)
            return Unavailable;
        if (Installed)
            return ServiceError::ServiceExists;
        Installed = true;
        State = ServiceState::Stopped;
        return 0;
    }
    int UninstallService() override
    {
        Calls << QStringLiteral("Uninstall");
        if (Unavailable)
            return Unavailable;
        Installed = false;
        return 0;
    }
    int RunService() override
    {
        Calls << QStringLiteral("Run");
        if (Unavailable)
            return Unavailable;
        State = ServiceState::StartPending;
        return 0;
    }
    int StopService() override
    {
        Calls << QStringLiteral("Stop");
        if (Unavailable)
            return Unavailable;
        State = ServiceState::StopPending;
        return 0;
    }
    bool RestartService() override
    {
        Calls << QStringLiteral("Restart");
        return Installed && State == ServiceState::Running;
    }
    bool QueryStatus(QObject* Receiver, std::function<void(int Installed, int State)> Done) override;
    // A status query awaits its answer.
    bool QueryInFlight() const { return *m_inFlight; }
    // Lets the event loop run until no query is under way.
    void Settle();

private:
    std::shared_ptr<bool> m_inFlight = std::make_shared<bool>(false);
};

// A child window that answers every command member and records the calls.
class cRecordingChild : public QWidget {
    Q_OBJECT
public:
    QStringList Calls;
    bool RefuseClose = false;

    Q_INVOKABLE void ActionClose() { Calls << QStringLiteral("ActionClose"); }
    Q_INVOKABLE void ActionSave() { Calls << QStringLiteral("ActionSave"); }
    Q_INVOKABLE void ActionSaveAs() { Calls << QStringLiteral("ActionSaveAs"); }
    Q_INVOKABLE void ActionOpen() { Calls << QStringLiteral("ActionOpen"); }
    Q_INVOKABLE void ActionAddStart() { Calls << QStringLiteral("ActionAddStart"); }
    Q_INVOKABLE void ActionAddData() { Calls << QStringLiteral("ActionAddData"); }
    Q_INVOKABLE void ActionAddStorage() { Calls << QStringLiteral("ActionAddStorage"); }
    Q_INVOKABLE void ActionAddStop() { Calls << QStringLiteral("ActionAddStop"); }
    Q_INVOKABLE void ActionLinkNodes() { Calls << QStringLiteral("ActionLinkNodes"); }
    Q_INVOKABLE void ActionUnLinkNodes() { Calls << QStringLiteral("ActionUnLinkNodes"); }
    Q_INVOKABLE void ActionProperties() { Calls << QStringLiteral("ActionProperties"); }
    Q_INVOKABLE void ActionPreview() { Calls << QStringLiteral("ActionPreview"); }
    Q_INVOKABLE void ActionDelete() { Calls << QStringLiteral("ActionDelete"); }
    Q_INVOKABLE void ActionPrintPreview() { Calls << QStringLiteral("ActionPrintPreview"); }
    Q_INVOKABLE void actionTest() { Calls << QStringLiteral("actionTest"); }
    Q_INVOKABLE void ActionPrint() { Calls << QStringLiteral("ActionPrint"); }
    Q_INVOKABLE void ActionRun() { Calls << QStringLiteral("ActionRun"); }
    Q_INVOKABLE void ActionNewItem() { Calls << QStringLiteral("ActionNewItem"); }
    Q_INVOKABLE void ActionEditItem() { Calls << QStringLiteral("ActionEditItem"); }
    Q_INVOKABLE void ActionDeleteItem() { Calls << QStringLiteral("ActionDeleteItem"); }
    Q_INVOKABLE void ActionClear() { Calls << QStringLiteral("ActionClear"); }
    Q_INVOKABLE void Link_Add() { Calls << QStringLiteral("Link_Add"); }
    Q_INVOKABLE void Link_Remove() { Calls << QStringLiteral("Link_Remove"); }
    Q_INVOKABLE void Link_Clear() { Calls << QStringLiteral("Link_Clear"); }
    Q_INVOKABLE void Link_Formula() { Calls << QStringLiteral("Link_Formula"); }
    Q_INVOKABLE void Del_Link_Formula() { Calls << QStringLiteral("Del_Link_Formula"); }
    Q_INVOKABLE void Link_Lookup() { Calls << QStringLiteral("Link_Lookup"); }
    Q_INVOKABLE void Link_Auto() { Calls << QStringLiteral("Link_Auto"); }
    Q_INVOKABLE void importItems() { Calls << QStringLiteral("importItems"); }

protected:
    void closeEvent(QCloseEvent* Event) override;
};
