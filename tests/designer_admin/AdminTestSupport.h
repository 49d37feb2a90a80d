#pragma once

// Shared set-up of the administration-screen tests: one offscreen
// application, a private library and run-data folder per test, scripted
// message boxes, a service that lives in memory, and a small builder of
// integrations over SQLite.

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <vector>

#include "app/NTServiceControl.h"
#include "app/UserDialogs.h"
#include "document/clsProcess.h"
#include "stores/cMeridoxData.h"

inline void PrintTo(const QString& Text, std::ostream* Os) { *Os << '"' << Text.toStdString() << '"'; }

class cFakeService : public NTServiceControl {
public:
    int State = ServiceState::Running;
    QStringList Calls;

    int CheckServiceInstalled() override { return 0; }
    int GetServiceState() override { return State; }
    int InstallService() override { return 0; }
    int UninstallService() override { return 0; }
    int RunService() override { return 0; }
    int StopService() override { return 0; }
    bool RestartService() override
    {
        Calls << QStringLiteral("Restart");
        return true;
    }
};

class AdminTest : public ::testing::Test {
protected:
    // Runs after the derived fixture's members are gone: windows a test left
    // behind (the screens' single windows, the job dialog) go with it, so the
    // next test starts from freshly loaded ones whatever the order.
    ~AdminTest() override;
    void SetUp() override;
    void TearDown() override;

    // Rows of a store, fixed text trimmed.
    std::vector<cMeridoxData::Row> StoreRows(kindrecordset Kind) const;

    // "Provider=SQLite;Data Source=<dir>/<Name>.db"
    QString Conn(const QString& Name) const;
    // Creates the database when missing and runs the statements on it.
    void Exec(const QString& Name, const QStringList& Statements);
    int Count(const QString& Name, const QString& Table);

    // START -> SRC (table src of the database "source", Records rows of
    // id, name) -> TGT (inserts id, name into table tgt of TargetConn) -> END.
    // Record ids listed in Failing get a Null name, which the target refuses.
    // The integration is saved as "copy.xml" in the test's folder.
    void BuildCopyIntegration(clsProcess& Process, int Records, const QString& TargetConn,
                              const QList<int>& Failing = {});

    QTemporaryDir Dir;
    cScriptedDialogsGuard Boxes;
    cFakeService* Service = nullptr;
};
