// VMeridoxSrv: the scheduler daemon. Run by systemd as a Type=notify user
// unit; with --foreground it runs without systemd (tests, manual use).
//
// Environment: NOTIFY_SOCKET (set by systemd), MERIDOX_RUNNER (runner program
// to start instead of the MeridoxRunner beside this program),
// MERIDOX_EVENTLOG_FILE (event-log entries to a file), MERIDOX_HOME and
// MERIDOX_CONFIG (where the engine finds its run-data folder).

#include "CDispather.h"
#include "EventLog.h"
#include "RunnerLauncher.h"
#include "ScheduleStore.h"
#include "ServiceNotify.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stopRequested = 0;
int g_wakePipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    g_stopRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wakePipe[1], &byte, 1);
    errno = saved;
}

bool installStopHandlers()
{
    if (::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Waits up to timeout for a stop request; true when one came.
bool waitForStop(std::chrono::milliseconds timeout)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + timeout;
    while (!g_stopRequested) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{g_wakePipe[0], POLLIN, 0};
        const int r = ::poll(&pfd, 1, int(left.count()));
        if (r > 0) {
            char buffer[16];
            while (::read(g_wakePipe[0], buffer, sizeof buffer) > 0) {
            }
        } else if (r < 0 && errno != EINTR) {
            return true; // a wait that cannot work ends the loop, as a failed wait does
        }
    }
    return true;
}

// A folder only this user can write, with no link on the way in.
bool isPrivateFolder(const QString& folder)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Where the instance lock lives: a name in a shared folder such as /tmp could
// be taken first by anyone, and the service would then never run. The
// user's runtime folder (systemd makes it private), else a private folder
// of the user's own state folder.
QString lockFolder(QString& error)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return runtime;
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = state + QStringLiteral("/Velmora");
    QDir().mkpath(state);
    (void)::mkdir(QFile::encodeName(folder).constData(), 0700);
    if (isPrivateFolder(folder))
        return folder;
    error = QStringLiteral("VMeridoxSrv: no private folder for the instance lock: %1 is missing, not a folder of this "
                           "user, or writable by others")
                .arg(folder);
    return {};
}

// One scheduler per schedule: the lock is keyed by the run-data folder.
QString instanceLockPath(const QString& runDataFolder, QString& error)
{
    const QString folder = lockFolder(error);
    if (folder.isEmpty())
        return {};
    const QString key = QFileInfo(runDataFolder).absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(folder).filePath(QStringLiteral("VMeridoxSrv-%1-%2.lock").arg(::geteuid()).arg(QString::fromLatin1(hash)));
}

enum class InstanceLock { Taken, HeldByAnother, Failed };

// Holds the instance lock for the life of the process. The descriptor is
// close-on-exec so runners never inherit (and keep) it.
InstanceLock takeInstanceLock(const QString& path, int& fd, QString& error)
{
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = QStringLiteral("VMeridoxSrv: cannot open the instance lock %1: %2").arg(path, qt_error_string(errno));
        return InstanceLock::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        error = QStringLiteral("VMeridoxSrv: the instance lock %1 is not a regular file of this user").arg(path);
        ::close(fd);
        fd = -1;
        return InstanceLock::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        fd = -1;
        if (code == EWOULDBLOCK)
            return InstanceLock::HeldByAnother;
        error = QStringLiteral("VMeridoxSrv: cannot lock %1: %2").arg(path, qt_error_string(code));
        return InstanceLock::Failed;
    }
    return InstanceLock::Taken;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool foreground = app.arguments().contains(QStringLiteral("--foreground"));
    const ServiceNotifier notifier = ServiceNotifier::fromEnvironment();

    MeridoxScheduleStore store;
    QString lockError;
    int lockFd = -1;
    const QString lockPath = instanceLockPath(store.folder(), lockError);
    const InstanceLock lock =
        lockPath.isEmpty() ? InstanceLock::Failed : takeInstanceLock(lockPath, lockFd, lockError);
    if (lock == InstanceLock::HeldByAnother)
        return 0; // another instance runs this schedule
    if (lock == InstanceLock::Failed) {
        // Not knowing whether another instance runs, this one must not; and
        // whoever started it must learn why it did not.
        std::fprintf(stderr, "%s\n", qUtf8Printable(lockError));
        WriteEventLog(lockError, 1);
        return 1;
    }

    if (!notifier.active() && !foreground) {
        std::fputs("This program must be started as a service.\n", stderr);
        return 1;
    }
    installStopHandlers();

    WriteEventLog(QStringLiteral("Velmora Meridox Service Starting"), 4);
    SystemClock clock;
    ProcessRunnerLauncher launcher(ProcessRunnerLauncher::defaultProgram());
    CDispather dispatcher(store, launcher, clock);
    dispatcher.Initialize();
    notifier.notify("READY=1");
    WriteEventLog(QStringLiteral("Velmora Meridox Service Started"), 4);

    // A stop is seen after the running pass, or at once while waiting.
    while (!g_stopRequested) {
        dispatcher.ProcessEvents();
        if (waitForStop(std::chrono::milliseconds(1000)))
            break;
    }

    notifier.notify("STOPPING=1");
    dispatcher.Disconnect();
    WriteEventLog(QStringLiteral("Velmora Meridox Service Stopped"), 4);
    ::close(lockFd);
    return 0;
}
