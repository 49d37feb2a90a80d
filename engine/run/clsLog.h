#pragma once

// The log of one run: text lines in memory with an optional time prefix,
// the critical flag that stops a run, error rows for the errors store, and
// the LogAdded event for every line added.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// One row of the errors store ("executedlogdata.xml").
struct tErrorRow {
    std::int32_t Record = 0;  // RECORD: the source record being processed
    QString Name;             // NAME: the integration (or component)
    QDateTime RunTime;        // RUNTIME: when the error was recorded
    QString ErrNumber;        // ERRNUMBER, as text
    QString ErrDesc;          // ERRDESC: the logged line, with its prefix
};

// An error line that saves an error row, for AddErrorLogs.
struct tErrorLine {
    QString Text;
    QString ErrNumber;
    std::int32_t Record = 0;
};

class clsLog : public QObject {
    Q_OBJECT
public:
    // Appends one row to the errors store; returns empty text on success,
    // else the reason it failed.
    using ErrorSink = std::function<QString(const tErrorRow&)>;

    explicit clsLog(QObject* parent = nullptr);
    ~clsLog() override;

    // Adds a line (time-prefixed when ShowTime) and, when SaveRecord, saves
    // an error row for it. Returns the line as added. A row that cannot be
    // saved is reported once on the log; logging never fails its caller.
    QString AddLog(const QString& Val, bool ShowTime = false, const QString& IntName = QString(),
                   const QString& ErrNumber = QString(), std::int32_t Record = 0, bool SaveRecord = false);
    // AddLog(Text, ShowTime, IntName, ErrNumber, Record, true) for each line,
    // in order, with the rows saved together: the errors store takes them
    // under one lock and in one write. A custom sink gets them one by one.
    void AddErrorLogs(const std::vector<tErrorLine>& Lines, bool ShowTime, const QString& IntName);
    // Adds a line and makes the log critical. Returns the line as added.
    QString AddCritical(const QString& Val, bool ShowTime = false);
    bool IsCritical() const { return m_critical; }
    // A new run starts without the flags of an earlier one.
    void ClearCritical()
    {
        m_critical = false;
        m_runDataLost = false;
    }
    // Adds a line saying that part of the run's record (its execution row,
    // an error row) could not be kept in the run-data stores.
    QString AddRunDataLoss(const QString& Val);
    // Whether something of this run's record was lost (AddRunDataLoss, or an
    // error row its sink could not save).
    bool RunDataLost() const { return m_runDataLost; }
    // Appends the buffer and a line break to a file (created when missing).
    // Returns empty text, or the reason the file could not be written.
    QString SaveLog(const QString& LogFile);

    // Every line so far, each preceded by CR LF.
    const QString& Text() const { return m_buffer; }
    // While LogAdded announces the line of an error row: that row's record;
    // -1 for every other line.
    std::int32_t AnnouncedRecord() const { return m_announcedRecord; }

    // Where error rows go. New logs take the default sink, which appends to
    // the errors store ("executedlogdata.xml" in the run-data folder); with
    // an empty sink, error rows are not kept.
    void setErrorSink(ErrorSink sink);
    static void setDefaultErrorSink(ErrorSink sink);

    // "<time of day>.<hundredths>: " + Val, the time in the locale's format.
    static QString WithTimePrefix(const QString& Val, const QTime& time);

signals:
    void LogAdded(const QString& Text);

private:
    void append(const QString& line);
    // Runs a sink; its failure as text (empty on success).
    template <typename Save> static QString runSink(const Save& save);
    // Notes whether a row was saved; the first failure goes on the log.
    void sinkOutcome(const QString& failure);

    QString m_buffer;
    bool m_critical = false;
    bool m_runDataLost = false;
    ErrorSink m_sink;
    // The default sink's batch form while the sink is the default one.
    std::function<QString(const std::vector<tErrorRow>&)> m_batchSink;
    bool m_sinkFailureReported = false;
    std::int32_t m_announcedRecord = -1;
};
