#pragma once

// Shared set-up of the designer tests: one offscreen QApplication, a private
// library folder (translations, connections file) and a fake service.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include "app/NTServiceControl.h"

// The folder that stands for the engine library's folder in these tests.
QString TestHomeFolder();

// A service that lives in memory and records what it was asked.
class cFakeService : public NTServiceControl {
public:
    bool Installed = false;
    int State = ServiceState::Stopped;
    QStringList Calls;

    int CheckServiceInstalled() override { return Installed ? 0 : ServiceError::DoesNotExist; }
    int GetServiceState() override { return Installed ? State : 0; }
    int InstallService() override
    {
        Calls << QStringLiteral("Install");
        if (Installed)
            return ServiceError::ServiceExists;
        Installed = true;
        State = ServiceState::Stopped;
        return 0;
    }
    int UninstallService() override
    {
        Calls << QStringLiteral("Uninstall");
        Installed = false;
        return 0;
    }
    int RunService() override
    {
        Calls << QStringLiteral("Run");
        State = ServiceState::StartPending;
        return 0;
    }
    int StopService() override
    {
        Calls << QStringLiteral("Stop");
        State = ServiceState::StopPending;
        return 0;
    }
    bool RestartService() override
    {
        Calls << QStringLiteral("Restart");
        return Installed && State == ServiceState::Running;
    }
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
