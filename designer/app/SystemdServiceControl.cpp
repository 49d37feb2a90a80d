#include "app/SystemdServiceControl.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QPointer>
#include <QThread>

#include "UnitFile.h"
#include "app/AppInfo.h"

namespace {

const QString kUnit = QString::fromLatin1(kServiceUnitName);

}  // namespace

tSystemctlResult cSystemctlProcess::Run(const QStringList& Arguments, int TimeoutMs)
{
    tSystemctlResult result;
    QProcess process;
    process.setProgram(QStringLiteral("systemctl"));
    process.setArguments(QStringList{QStringLiteral("--user"), QStringLiteral("--no-pager")} + Arguments);
    process.start();
    if (!process.waitForStarted(TimeoutMs)) {
        result.Error = process.errorString();
        return result;
    }
    result.Started = true;
    if (!process.waitForFinished(TimeoutMs)) {
        result.TimedOut = true;
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.Error = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

SystemdServiceControl::SystemdServiceControl()
    : SystemdServiceControl(std::make_unique<cSystemctlProcess>(), tOptions{})
{
    m_asyncStatus = true;
}

SystemdServiceControl::SystemdServiceControl(std::unique_ptr<ISystemctl> Systemctl, tOptions Options)
    : m_systemctl(std::move(Systemctl)), m_options(std::move(Options))
{
    if (m_options.UnitFolder.isEmpty())
        m_options.UnitFolder = DefaultUnitFolder();
    if (m_options.Executable.isEmpty())
        m_options.Executable = DefaultExecutable();
    if (!m_options.Wait) {
        m_options.Wait = [](int Ms) {
            // Paint and run timers while waiting; the user's clicks wait for us.
            QDeadlineTimer deadline(Ms);
            if (!QCoreApplication::instance()) {
                QThread::msleep(static_cast<unsigned long>(Ms));
                return;
            }
            while (!deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents,
                                                static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        };
    }
}

QString SystemdServiceControl::DefaultUnitFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/systemd/user"));
}

QString SystemdServiceControl::DefaultExecutable()
{
    return QDir::cleanPath(AppInfo::ProgramFolder() + QStringLiteral("/VMeridoxSrv"));
}

QString SystemdServiceControl::UnitFilePath() const
{
    return QDir::cleanPath(m_options.UnitFolder + QLatin1Char('/') + kUnit);
}

tSystemctlResult SystemdServiceControl::Call(const QStringList& Arguments)
{
    return m_systemctl->Run(Arguments, m_options.CallTimeoutMs);
}

int SystemdServiceControl::ErrorOf(const tSystemctlResult& Result)
{
    if (!Result.Started)
        return ServiceError::ManagerUnavailable;
    if (Result.TimedOut)
        return ServiceError::RequestTimeout;
    if (Result.ExitCode == 0)
        return ServiceError::Success;
    // Without a user manager (no session bus) systemctl cannot connect at all.
    if (Result.Error.contains(QLatin1String("Failed to connect"), Qt::CaseInsensitive))
        return ServiceError::ManagerUnavailable;
    if (Result.Error.contains(QLatin1String("not found"), Qt::CaseInsensitive) ||
        Result.Error.contains(QLatin1String("not loaded"), Qt::CaseInsensitive))
        return ServiceError::DoesNotExist;
    return ServiceError::GenFailure;
}

SystemdServiceControl::tQuery SystemdServiceControl::ParseShow(const QString& Output)
{
    tQuery query;
    QString load;
    QString active;
    const QStringList lines = Output.split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("LoadState"))
            load = value;
        else if (key == QLatin1String("ActiveState"))
            active = value;
        else if (key == QLatin1String("FragmentPath"))
            query.FragmentPath = value;
    }
    if (load.isEmpty()) {
        query.Error = ServiceError::GenFailure;
        return query;
    }
    if (load == QLatin1String("not-found")) {
        query.Error = ServiceError::DoesNotExist;
        return query;
    }
    if (load == QLatin1String("masked")) {
        query.Error = ServiceError::ServiceDisabled;
        return query;
    }
    // "loaded", and also "bad-setting" or "error": the unit is there, if broken.
    if (active == QLatin1String("active") || active == QLatin1String("reloading") ||
        active == QLatin1String("refreshing"))
        query.State = ServiceState::Running;
    else if (active == QLatin1String("activating"))
        query.State = ServiceState::StartPending;
    else if (active == QLatin1String("deactivating") || active == QLatin1String("maintenance"))
        query.State = ServiceState::StopPending;
    else if (active == QLatin1String("inactive") || active == QLatin1String("failed"))
        query.State = ServiceState::Stopped;
    return query;
}

SystemdServiceControl::tQuery SystemdServiceControl::Query()
{
    const tSystemctlResult result =
        Call({QStringLiteral("show"), kUnit, QStringLiteral("--property=LoadState,ActiveState,FragmentPath")});
    if (const int error = ErrorOf(result); error != 0) {
        tQuery failed;
        failed.Error = error;
        return failed;
    }
    return ParseShow(result.Output);
}

bool SystemdServiceControl::QueryStatus(QObject* Receiver, std::function<void(int Installed, int State)> Done)
{
    if (!m_asyncStatus)
        return NTServiceControl::QueryStatus(Receiver, std::move(Done));
    // One query at a time; the caller asks again once the answer is in.
    if (m_statusInFlight->exchange(true))
        return false;
    const auto busy = m_statusInFlight;
    const int timeoutMs = m_options.CallTimeoutMs;
    QPointer<QObject> receiver(Receiver);
    QThread* worker = QThread::create([busy, timeoutMs, receiver, Done = std::move(Done)]() {
        cSystemctlProcess systemctl;
        const tSystemctlResult result = systemctl.Run(
            {QStringLiteral("show"), kUnit, QStringLiteral("--property=LoadState,ActiveState,FragmentPath")},
            timeoutMs);
        tQuery query;
        if (const int error = ErrorOf(result); error != 0)
            query.Error = error;
        else
            query = ParseShow(result.Output);
        QMetaObject::invokeMethod(
            qApp,
            [busy, receiver, Done, query]() {
                busy->store(false);
                if (receiver)
                    Done(query.Error, query.Error == 0 ? query.State : ServiceState::Unknown);
            },
            Qt::QueuedConnection);
    });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
    return true;
}

int SystemdServiceControl::CheckServiceInstalled()
{
    return Query().Error;
}

int SystemdServiceControl::GetServiceState()
{
    const tQuery query = Query();
    return query.Error == 0 ? query.State : ServiceState::Unknown;
}

int SystemdServiceControl::InstallService()
{
    const int check = CheckServiceInstalled();
    if (check == 0)
        return ServiceError::ServiceExists;
    if (check != ServiceError::DoesNotExist)
        return check;
    const QString executable = QFileInfo(m_options.Executable).absoluteFilePath();
    // A unit pointing at a missing program would only fail later, out of sight.
    if (!QFileInfo(executable).isFile())
        return 2;  // file not found

    if (!QDir().mkpath(m_options.UnitFolder))
        return ServiceError::AccessDenied;
    QSaveFile file(UnitFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return ServiceError::AccessDenied;
    file.write(serviceUnitText(executable).toUtf8());
    if (!file.commit())
        return ServiceError::AccessDenied;

    const int reload = ErrorOf(Call({QStringLiteral("daemon-reload")}));
    if (reload != 0) {
        // Leave nothing half-installed behind.
        QFile::remove(UnitFilePath());
        return reload;
    }
    return ServiceError::Success;
}

bool SystemdServiceControl::WaitStopped()
{
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const tQuery query = Query();
        if (query.Error != 0 || query.State == ServiceState::Stopped)
            return true;
        if (elapsed.elapsed() >= m_options.StopWaitMs)
            return false;
        m_options.Wait(m_options.PollMs);
    }
}

int SystemdServiceControl::UninstallService()
{
    const tQuery query = Query();
    if (query.Error != 0)
        return query.Error;
    const QString ours = UnitFilePath();
    // Only the unit this program wrote is ours to remove.
    if (!query.FragmentPath.isEmpty() &&
        QFileInfo(query.FragmentPath).absoluteFilePath() != QFileInfo(ours).absoluteFilePath())
        return ServiceError::AccessDenied;
    if (query.State != ServiceState::Stopped) {
        Call({QStringLiteral("stop"), QStringLiteral("--no-block"), kUnit});
        WaitStopped();
    }
    if (QFileInfo::exists(ours) && !QFile::remove(ours))
        return ServiceError::AccessDenied;
    const int reload = ErrorOf(Call({QStringLiteral("daemon-reload")}));
    // A failed unit would otherwise stay listed after its file is gone.
    Call({QStringLiteral("reset-failed"), kUnit});
    return reload;
}

int SystemdServiceControl::RunService()
{
    const tQuery query = Query();
    if (query.Error != 0)
        return query.Error;
    if (query.State == ServiceState::Running)
        return ServiceError::AlreadyRunning;
    return ErrorOf(Call({QStringLiteral("start"), QStringLiteral("--no-block"), kUnit}));
}

int SystemdServiceControl::StopService()
{
    const tQuery query = Query();
    if (query.Error != 0)
        return query.Error;
    if (query.State == ServiceState::Stopped)
        return ServiceError::NotActive;
    return ErrorOf(Call({QStringLiteral("stop"), QStringLiteral("--no-block"), kUnit}));
}

bool SystemdServiceControl::RestartService()
{
    const tQuery query = Query();
    if (query.Error != 0 || query.State != ServiceState::Running)
        return false;
    if (ErrorOf(Call({QStringLiteral("stop"), QStringLiteral("--no-block"), kUnit})) != 0)
        return false;
    // The manager queues the start behind a stop that is still running, so
    // the start is issued even when the stop outlasts the wait.
    WaitStopped();
    return ErrorOf(Call({QStringLiteral("start"), QStringLiteral("--no-block"), kUnit})) == 0;
}

namespace {

std::unique_ptr<NTServiceControl>& CurrentControl()
{
    static std::unique_ptr<NTServiceControl> current;
    return current;
}

}  // namespace

NTServiceControl& ServiceControl()
{
    auto& current = CurrentControl();
    if (!current)
        current = std::make_unique<SystemdServiceControl>();
    return *current;
}

std::unique_ptr<NTServiceControl> SetServiceControl(std::unique_ptr<NTServiceControl> Control)
{
    std::unique_ptr<NTServiceControl> previous = std::move(CurrentControl());
    CurrentControl() = std::move(Control);
    return previous;
}
