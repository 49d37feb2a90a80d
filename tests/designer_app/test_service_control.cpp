// The systemd controller of the scheduler service, against canned
// "systemctl --user" answers, and the unit file it writes.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <deque>
#include <map>

#include <gtest/gtest.h>

#include "app/SystemdServiceControl.h"

namespace {

// Answers "show" from a script of states (the last one repeats) and every
// other call from a table; records every call.
class cCannedSystemctl : public ISystemctl {
public:
    QStringList Calls;
    std::deque<QString> ShowStates;  // "not-found", "inactive", "active", "deactivating" ...
    QString FragmentPath;
    std::map<QString, tSystemctlResult> Answers;  // by first argument
    tSystemctlResult ShowFailure;
    bool FailShow = false;

    tSystemctlResult Run(const QStringList& Arguments, int) override
    {
        Calls << Arguments.join(QLatin1Char(' '));
        tSystemctlResult ok;
        ok.Started = true;
        ok.ExitCode = 0;
        if (Arguments.value(0) == QLatin1String("show")) {
            if (FailShow)
                return ShowFailure;
            const QString state = ShowStates.empty() ? QStringLiteral("not-found") : ShowStates.front();
            if (ShowStates.size() > 1)
                ShowStates.pop_front();
            if (state == QLatin1String("not-found"))
                ok.Output = QStringLiteral("LoadState=not-found\nActiveState=inactive\nFragmentPath=\n");
            else
                ok.Output = QStringLiteral("FragmentPath=%1\nLoadState=loaded\nActiveState=%2\n")
                                .arg(FragmentPath, state);
            return ok;
        }
        const auto it = Answers.find(Arguments.value(0));
        return it == Answers.end() ? ok : it->second;
    }
    QStringList Commands() const
    {
        QStringList out;
        for (const QString& call : Calls)
            if (!call.startsWith(QLatin1String("show")))
                out << call;
        return out;
    }
};

class ServiceControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_exe = m_dir.filePath(QStringLiteral("bin dir/VMeridoxSrv"));
        QDir().mkpath(m_dir.filePath(QStringLiteral("bin dir")));
        QFile exe(m_exe);
        ASSERT_TRUE(exe.open(QIODevice::WriteOnly));
        exe.close();
        auto canned = std::make_unique<cCannedSystemctl>();
        m_ctl = canned.get();
        SystemdServiceControl::tOptions options;
        options.UnitFolder = m_dir.filePath(QStringLiteral("systemd/user"));
        options.Executable = m_exe;
        options.Wait = [this](int Ms) { m_waited += Ms; };
        options.StopWaitMs = 0;  // replaced per test where the wait matters
        m_options = options;
        m_service = std::make_unique<SystemdServiceControl>(std::move(canned), options);
        m_ctl->FragmentPath = m_service->UnitFilePath();
    }
    void Rebuild(int StopWaitMs)
    {
        auto canned = std::make_unique<cCannedSystemctl>(*m_ctl);
        canned->Calls.clear();
        m_ctl = canned.get();
        m_options.StopWaitMs = StopWaitMs;
        m_options.Wait = [this](int Ms) {
            m_waited += Ms;
            QThread::msleep(static_cast<unsigned long>(Ms));
        };
        m_options.PollMs = 5;
        m_service = std::make_unique<SystemdServiceControl>(std::move(canned), m_options);
    }
    QString UnitText() const
    {
        QFile file(m_service->UnitFilePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir m_dir;
    QString m_exe;
    cCannedSystemctl* m_ctl = nullptr;
    SystemdServiceControl::tOptions m_options;
    std::unique_ptr<SystemdServiceControl> m_service;
    int m_waited = 0;
};

TEST_F(ServiceControlTest, StatesAndErrorsFromShowOutput)
{
    const auto state = [](const char* Active) {
        return SystemdServiceControl::ParseShow(QStringLiteral("LoadState=loaded\nActiveState=%1\n")
                                                    .arg(QString::fromLatin1(Active)))
            .State;
    };
    EXPECT_EQ(state("inactive"), ServiceState::Stopped);
    EXPECT_EQ(state("failed"), ServiceState::Stopped);
    EXPECT_EQ(state("activating"), ServiceState::StartPending);
    EXPECT_EQ(state("deactivating"), ServiceState::StopPending);
    EXPECT_EQ(state("active"), ServiceState::Running);
    EXPECT_EQ(state("reloading"), ServiceState::Running);
    EXPECT_EQ(state("something-new"), ServiceState::Unknown);
    EXPECT_EQ(SystemdServiceControl::ParseShow("LoadState=not-found\nActiveState=inactive").Error,
              ServiceError::DoesNotExist);
    EXPECT_EQ(SystemdServiceControl::ParseShow("LoadState=masked\nActiveState=inactive").Error,
              ServiceError::ServiceDisabled);
    EXPECT_EQ(SystemdServiceControl::ParseShow("").Error, ServiceError::GenFailure);

    // No user manager, systemctl missing, or no answer in time.
    m_ctl->FailShow = true;
    m_ctl->ShowFailure = {true, false, 1, QString(), QStringLiteral("Failed to connect to bus: No medium found")};
    EXPECT_EQ(m_service->CheckServiceInstalled(), ServiceError::ManagerUnavailable);
    EXPECT_EQ(m_service->GetServiceState(), 0);
    m_ctl->ShowFailure = {false, false, -1, QString(), QStringLiteral("No such file")};
    EXPECT_EQ(m_service->CheckServiceInstalled(), ServiceError::ManagerUnavailable);
    m_ctl->ShowFailure = {true, true, -1, QString(), QString()};
    EXPECT_EQ(m_service->CheckServiceInstalled(), ServiceError::RequestTimeout);
    EXPECT_EQ(m_service->InstallService(), ServiceError::RequestTimeout);
    EXPECT_FALSE(QFile::exists(m_service->UnitFilePath()));
}

TEST_F(ServiceControlTest, MissingServiceAnswersEveryOperationWithoutActing)
{
    m_ctl->ShowStates = {"not-found"};
    EXPECT_EQ(m_service->CheckServiceInstalled(), ServiceError::DoesNotExist);
    EXPECT_EQ(m_service->GetServiceState(), 0);
    EXPECT_FALSE(m_service->RestartService());
    EXPECT_EQ(m_service->RunService(), ServiceError::DoesNotExist);
    EXPECT_EQ(m_service->StopService(), ServiceError::DoesNotExist);
    EXPECT_EQ(m_service->UninstallService(), ServiceError::DoesNotExist);
    EXPECT_TRUE(m_ctl->Commands().isEmpty());
}

TEST_F(ServiceControlTest, InstallWritesAQuotedAbsoluteUnitOnce)
{
    m_ctl->ShowStates = {"not-found"};
    ASSERT_EQ(m_service->InstallService(), 0);
    EXPECT_EQ(m_ctl->Commands(), QStringList{"daemon-reload"});
    const QString text = UnitText();
    EXPECT_TRUE(text.contains(QStringLiteral("ExecStart=\"%1\"").arg(QFileInfo(m_exe).absoluteFilePath())))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Description=Velmora Meridox Service\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("# Velmora Meridox Service. Executes Velmora Meridox.")));
    EXPECT_FALSE(text.contains(QStringLiteral("User=root")));

    // Installing again changes nothing.
    m_ctl->ShowStates = {"inactive"};
    m_ctl->Calls.clear();
    QFile::remove(m_service->UnitFilePath());
    EXPECT_EQ(m_service->InstallService(), ServiceError::ServiceExists);
    EXPECT_TRUE(m_ctl->Commands().isEmpty());
    EXPECT_FALSE(QFile::exists(m_service->UnitFilePath()));
}

TEST_F(ServiceControlTest, InstallRefusesAMissingProgramAndUndoesAFailedReload)
{
    m_ctl->ShowStates = {"not-found"};
    QFile::remove(m_exe);
    EXPECT_EQ(m_service->InstallService(), 2);
    EXPECT_FALSE(QFile::exists(m_service->UnitFilePath()));

    QFile exe(m_exe);
    ASSERT_TRUE(exe.open(QIODevice::WriteOnly));
    exe.close();
    m_ctl->Answers["daemon-reload"] = {true, false, 1, QString(), QStringLiteral("Access denied")};
    EXPECT_EQ(m_service->InstallService(), ServiceError::GenFailure);
    EXPECT_FALSE(QFile::exists(m_service->UnitFilePath()));
}

TEST_F(ServiceControlTest, StartAndStopNeverWaitAndRefuseNeedlessRequests)
{
    m_ctl->ShowStates = {"inactive"};
    EXPECT_EQ(m_service->StopService(), ServiceError::NotActive);
    EXPECT_EQ(m_service->RunService(), 0);
    m_ctl->ShowStates = {"active"};
    EXPECT_EQ(m_service->RunService(), ServiceError::AlreadyRunning);
    EXPECT_EQ(m_service->StopService(), 0);
    EXPECT_EQ(m_ctl->Commands(),
              QStringList({"start --no-block VMeridoxSrv.service", "stop --no-block VMeridoxSrv.service"}));
    m_ctl->Answers["start"] = {true, false, 1, QString(), QStringLiteral("Job failed")};
    m_ctl->ShowStates = {"inactive"};
    EXPECT_EQ(m_service->RunService(), ServiceError::GenFailure);
}

TEST_F(ServiceControlTest, RestartWaitsForTheStopBeforeStarting)
{
    m_ctl->ShowStates = {"inactive"};
    EXPECT_FALSE(m_service->RestartService());  // a stopped service stays stopped
    EXPECT_TRUE(m_ctl->Commands().isEmpty());

    Rebuild(5000);
    m_ctl->ShowStates = {"active", "deactivating", "deactivating", "inactive"};
    EXPECT_TRUE(m_service->RestartService());
    EXPECT_EQ(m_ctl->Commands(),
              QStringList({"stop --no-block VMeridoxSrv.service", "start --no-block VMeridoxSrv.service"}));
    // The start came after the state read "inactive".
    EXPECT_EQ(m_ctl->Calls.size(), 6);
    EXPECT_TRUE(m_ctl->Calls.at(4).startsWith(QLatin1String("show")));
    EXPECT_GT(m_waited, 0);

    // A stop that outlasts the bound: the start is queued all the same.
    Rebuild(30);
    m_ctl->Calls.clear();
    m_ctl->ShowStates = {"active", "deactivating"};
    EXPECT_TRUE(m_service->RestartService());
    EXPECT_EQ(m_ctl->Commands().last(), QStringLiteral("start --no-block VMeridoxSrv.service"));

    // A refused stop means no restart.
    m_ctl->Calls.clear();
    m_ctl->ShowStates = {"active"};
    m_ctl->Answers["stop"] = {true, false, 1, QString(), QStringLiteral("denied")};
    EXPECT_FALSE(m_service->RestartService());
    EXPECT_EQ(m_ctl->Commands(), QStringList{"stop --no-block VMeridoxSrv.service"});
}

TEST_F(ServiceControlTest, UninstallStopsFirstAndRemovesOnlyItsOwnUnit)
{
    m_ctl->ShowStates = {"not-found"};
    ASSERT_EQ(m_service->InstallService(), 0);
    Rebuild(5000);
    m_ctl->Calls.clear();
    m_ctl->ShowStates = {"active", "deactivating", "inactive"};
    EXPECT_EQ(m_service->UninstallService(), 0);
    EXPECT_EQ(m_ctl->Commands(), QStringList({"stop --no-block VMeridoxSrv.service", "daemon-reload",
                                              "reset-failed VMeridoxSrv.service"}));
    EXPECT_FALSE(QFile::exists(m_service->UnitFilePath()));

    // A unit installed elsewhere is not this program's to remove.
    m_ctl->Calls.clear();
    m_ctl->FragmentPath = QStringLiteral("/etc/systemd/user/VMeridoxSrv.service");
    m_ctl->ShowStates = {"inactive"};
    EXPECT_EQ(m_service->UninstallService(), ServiceError::AccessDenied);
    EXPECT_TRUE(m_ctl->Commands().isEmpty());
}

}  // namespace

// The status bar's query of the real service manager never holds up the
// window: the call returns at once and the answer arrives through the event
// loop, or not at all once its receiver is gone.
TEST(ServiceStatusQuery, AnswersLaterAndNotToAGoneReceiver)
{
    SystemdServiceControl control;
    QObject receiver;
    int calls = 0;
    int installed = -1;
    EXPECT_TRUE(control.QueryStatus(&receiver, [&](int Installed, int) {
        ++calls;
        installed = Installed;
    }));
    EXPECT_EQ(calls, 0);
    // A second request while the first is under way is dropped, and says so
    // (the main window asks again once the answer is in).
    EXPECT_FALSE(control.QueryStatus(&receiver, [&](int, int) { ++calls; }));
    QDeadlineTimer deadline(10000);
    while (calls == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(calls, 1);
    EXPECT_NE(installed, -1);

    auto gone = std::make_unique<QObject>();
    bool answered = false;
    control.QueryStatus(gone.get(), [&](int, int) { answered = true; });
    gone.reset();
    QDeadlineTimer settle(5000);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(answered);
}
