#include "RunnerLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ProcessRunnerLauncher::ProcessRunnerLauncher(QString program) : program_(std::move(program)) {}

ProcessRunnerLauncher::~ProcessRunnerLauncher()
{
    // Runners go on after the service ends; reap those already finished.
    reap();
}

QString ProcessRunnerLauncher::defaultProgram()
{
    const char* over = std::getenv(kRunnerProgramEnv);
    if (over && *over)
        return QString::fromLocal8Bit(over);
    QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (folder.isEmpty())
        folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
    return QDir(folder).filePath(QStringLiteral("MeridoxRunner"));
}

QString ProcessRunnerLauncher::programName() const
{
    return QFileInfo(program_).fileName();
}

bool ProcessRunnerLauncher::start(const QString& fileName, QString& error)
{
    const QByteArray program = QFile::encodeName(program_);
    const QByteArray argument = QFile::encodeName(fileName);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(argument.constData()), nullptr};

    // The runner starts with default signal handling and nothing blocked,
    // whatever the service has set up for itself.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.constData(), nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = program_ + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(rc));
        return false;
    }
    children_.push_back(pid);
    lastStarted_ = pid;
    return true;
}

bool ProcessRunnerLauncher::isRunning(long long runner) const
{
    return runner > 0 && std::find(children_.begin(), children_.end(), pid_t(runner)) != children_.end();
}

void ProcessRunnerLauncher::reap()
{
    std::erase_if(children_, [](pid_t pid) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}
