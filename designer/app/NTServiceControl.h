#pragma once

#include <functional>

// Control of the scheduler service "VMeridoxSrv" from the desktop
// application: install, remove, start, stop, restart and query it. Results
// keep the service manager's numbering: 0 for success, else an error number
// (1060 not installed, 1073 already installed, 1056 already running,
// 1062 not running ...); states 1 stopped, 2 start pending, 3 stop pending,
// 4 running, 0 when the state cannot be read.

#include <memory>

namespace ServiceError {
constexpr int Success = 0;
constexpr int AccessDenied = 5;           // the unit file cannot be written or removed
constexpr int GenFailure = 31;            // the service manager refused the request
constexpr int RequestTimeout = 1053;      // the service manager did not answer in time
constexpr int AlreadyRunning = 1056;
constexpr int ServiceDisabled = 1058;     // masked unit
constexpr int DoesNotExist = 1060;
constexpr int NotActive = 1062;
constexpr int ServiceExists = 1073;
constexpr int ManagerUnavailable = 1722;  // systemctl missing or no user service manager
}  // namespace ServiceError

namespace ServiceState {
constexpr int Unknown = 0;
constexpr int Stopped = 1;
constexpr int StartPending = 2;
constexpr int StopPending = 3;
constexpr int Running = 4;
}  // namespace ServiceState

class QObject;

class NTServiceControl {
public:
    virtual ~NTServiceControl() = default;

    // 0 when the service is installed, else the error number.
    virtual int CheckServiceInstalled() = 0;
    // The current state, 0 when it cannot be read.
    virtual int GetServiceState() = 0;
    virtual int InstallService() = 0;
    // Stops the service (waiting a bounded time for it) and removes it.
    virtual int UninstallService() = 0;
    virtual int RunService() = 0;
    virtual int StopService() = 0;
    // Stops a running service, waits (bounded) until it stopped and starts
    // it again. True only when the start was issued.
    virtual bool RestartService() = 0;
    // The designer runs on any supported system.
    virtual bool IsWindowsNT() { return true; }
    // The installed check and the state together, for the status bar. The
    // answer may come later, on the receiver's thread, so a slow service
    // manager never holds up a window; `Done` is not called once Receiver
    // is gone. A controller that answers later takes one query at a time:
    // a request made while one is under way is dropped and gives false
    // (the caller asks again once the answer is in). This form answers at
    // once.
    virtual bool QueryStatus(QObject* Receiver, std::function<void(int Installed, int State)> Done)
    {
        (void)Receiver;
        const int installed = CheckServiceInstalled();
        Done(installed, installed == 0 ? GetServiceState() : ServiceState::Unknown);
        return true;
    }
};

// The controller in use: the systemd one until replaced.
NTServiceControl& ServiceControl();
// Replaces the controller (tests); returns the previous one. Null restores
// the systemd controller.
std::unique_ptr<NTServiceControl> SetServiceControl(std::unique_ptr<NTServiceControl> Control);
