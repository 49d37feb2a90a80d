#pragma once

#include <atomic>

// The scheduler service as a systemd user unit, controlled through
// "systemctl --user". Installing writes the unit file under
// $XDG_CONFIG_HOME/systemd/user/ and reloads the user manager. Every
// systemctl call has a short time limit; start and stop do not wait for the
// service (the main window polls the state), restart and uninstall wait a
// bounded time for the stop, letting the window paint meanwhile.

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "app/NTServiceControl.h"

struct tSystemctlResult {
    bool Started = false;   // false: the program could not be run at all
    bool TimedOut = false;  // killed at the time limit
    int ExitCode = -1;
    QString Output;
    QString Error;
};

// Runs "systemctl --user" with the given arguments.
class ISystemctl {
public:
    virtual ~ISystemctl() = default;
    virtual tSystemctlResult Run(const QStringList& Arguments, int TimeoutMs) = 0;
};

// The real one: a child process, killed when it overruns its time limit.
class cSystemctlProcess : public ISystemctl {
public:
    tSystemctlResult Run(const QStringList& Arguments, int TimeoutMs) override;
};

class SystemdServiceControl : public NTServiceControl {
public:
    struct tOptions {
        QString UnitFolder;  // empty: DefaultUnitFolder()
        QString Executable;  // empty: DefaultExecutable()
        // Waits the given milliseconds; empty: lets the event loop run, user input excluded.
        std::function<void(int)> Wait;
        int CallTimeoutMs = 3000;
        int StopWaitMs = 5000;
        int PollMs = 100;
    };

    SystemdServiceControl();
    SystemdServiceControl(std::unique_ptr<ISystemctl> Systemctl, tOptions Options);

    int CheckServiceInstalled() override;
    int GetServiceState() override;
    int InstallService() override;
    int UninstallService() override;
    int RunService() override;
    int StopService() override;
    bool RestartService() override;
    // With the real systemctl the query runs on a worker thread, one at a time.
    bool QueryStatus(QObject* Receiver, std::function<void(int Installed, int State)> Done) override;

    // $XDG_CONFIG_HOME/systemd/user, default ~/.config/systemd/user.
    static QString DefaultUnitFolder();
    // "VMeridoxSrv" in the program's own folder.
    static QString DefaultExecutable();

    QString UnitFilePath() const;

    // What one "show" of the unit tells: 0 or an error number, and the state.
    struct tQuery {
        int Error = 0;
        int State = ServiceState::Unknown;
        QString FragmentPath;
    };
    tQuery Query();

    // Maps "systemctl show" output to a query result.
    static tQuery ParseShow(const QString& Output);

private:
    static int ErrorOf(const tSystemctlResult& Result);
    tSystemctlResult Call(const QStringList& Arguments);
    // Waits until the service is stopped or gone, at most StopWaitMs.
    bool WaitStopped();

    std::unique_ptr<ISystemctl> m_systemctl;
    tOptions m_options;
    // Status queries off the window's thread: only for the real systemctl.
    bool m_asyncStatus = false;
    std::shared_ptr<std::atomic<bool>> m_statusInFlight = std::make_shared<std::atomic<bool>>(false);
};
