// MeridoxRunner: runs one integration file unattended and reports to the
// system log.
//
// The whole command line after the program name is the file name: one
// argument is taken as it is (the service passes the path as one argument,
// blanks included); several are joined with single blanks, as a path typed
// without quotes would have been split.
//
// Exit code: 0 for a completed run (also with record errors), 1 when the
// file cannot be loaded, 2 when the run ends on a critical error, cannot
// start, or no file was given, 3 when SIGTERM, SIGINT or SIGHUP stopped it,
// 4 when the run ended but its execution row or error rows could not be kept
// in the run-data stores.

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

#include "EventLog.h"
#include "document/clsProcess.h"
#include "run/RunEngine.h"
#include "run/clsLog.h"
#include "stores/cMeridoxData.h"

namespace {

constexpr int kInformation = 4;
constexpr int kWarning = 2;
constexpr int kError = 1;
constexpr int kExitStopped = 3;
constexpr int kRunDataLost = 4;

// A stop signal (systemctl stop, Ctrl+C, a closed terminal) only leaves its
// number here; the run looks at it between steps and cancels itself, so the
// records done so far are committed and the run is recorded.
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void noteStopSignal(int signo)
{
    g_stopSignal = signo;
}

void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    // Database calls under way go on rather than fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (const int signo : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signo, &action, nullptr);
}

QString signalName(int signo)
{
    switch (signo) {
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QString::number(signo);
    }
}

bool reportsFailure(const QString& text)
{
    return text.startsWith(QLatin1String("CRITICAL ERROR")) || text.startsWith(QLatin1String("MeridoxRunner ERROR"));
}

}  // namespace

class Cmeridoxrunner {
public:
    void Run(clsProcess& process, const QString& filename)
    {
        QObject::connect(&process, &clsProcess::LogAdded, [this, &process](const QString& Text) {
            Process_LogAdded(Text, process.Log()->IsCritical());
        });
        process.setYieldCallback([this, &process] {
            const int signo = g_stopSignal;
            if (signo == 0 || m_stopping)
                return;
            m_stopping = true;
            WriteEventLog(QStringLiteral("MeridoxRunner: ") + signalName(signo)
                              + QStringLiteral(" received, the run stops after the current record"),
                          kInformation);
            process.CancelExec();
        });
        process.RunFile(filename);
    }

    // Critical is the log's flag after the line was added. The flag stays set
    // for the rest of the run, so only the line that set it is critical;
    // later ones (such as "processing" after a failed preparation) are not.
    void Process_LogAdded(const QString& Text, bool critical)
    {
        const bool becameCritical = critical && !m_critical;
        m_critical = critical;

        // RunFile logs "Loading", then either "Executing" or why the file
        // could not be loaded; that reason ends the run and is an error.
        bool loadFailure = false;
        if (Text.startsWith(QLatin1String("MeridoxRunner: Loading ")))
            m_loading = true;
        else if (Text.startsWith(QLatin1String("MeridoxRunner: Executing ")))
            m_loading = false;
        else
            loadFailure = m_loading;

        const bool error = becameCritical || loadFailure || reportsFailure(Text);
        WriteEventLog(QStringLiteral("MeridoxRunner: ") + Text, error ? kError : kInformation);
    }

private:
    bool m_critical = false;
    bool m_loading = false;
    bool m_stopping = false;
};

int main(int argc, char* argv[])
{
    catchStopSignals();
    QCoreApplication app(argc, argv);
    // A damaged store set aside is told where someone will look for it.
    cMeridoxData::SetNoticeHandler([](const QString& text) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(text));
        WriteEventLog(QStringLiteral("MeridoxRunner: ") + text, kWarning);
    });
    QStringList parts = QCoreApplication::arguments();
    parts.removeFirst();
    const QString filename = parts.join(QLatin1Char(' '));

    WriteEventLog(QStringLiteral("MeridoxRunner: ") + filename, kInformation);
    if (filename.isEmpty()) {
        WriteEventLog(QStringLiteral("MeridoxRunner: no integration file was given"), kError);
        return 2;
    }

    clsProcess process;
    Cmeridoxrunner runner;
    runner.Run(process, filename);

    switch (process.LastOutcome()) {
    case RunOutcome::Completed:
    case RunOutcome::CompletedWithErrors:
    case RunOutcome::Cancelled:
        // Whoever starts the runner learns of a run that left no record.
        if (process.Log()->RunDataLost())
            return kRunDataLost;
        return process.LastOutcome() == RunOutcome::Cancelled ? kExitStopped : 0;
    case RunOutcome::LoadFailed:
        return 1;
    default:
        return 2;
    }
}
