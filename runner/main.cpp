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
// start, or no file was given, 3 when the run ended but its execution row
// or error rows could not be kept in the run-data stores.

#include <QCoreApplication>
#include <QStringList>

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
constexpr int kRunDataLost = 4;

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
};

int main(int argc, char* argv[])
{
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
        return process.Log()->RunDataLost() ? kRunDataLost : 0;
    case RunOutcome::LoadFailed:
        return 1;
    default:
        return 2;
    }
}
