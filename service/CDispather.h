#pragma once
// The job scheduler of the service: loads the schedule once, keeps the next
// due time of every active job, and on each pass starts the runner for the
// jobs that are due and records their scheduled time as LASTRUN.
//
// Due times are local wall-clock times: a job at 08:00 every day stays at
// 08:00 across daylight-saving changes, as the dates in the schedule store
// carry no zone.

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <functional>
#include <map>
#include <optional>
#include <vector>

// One row of the schedule store, values as read (fixed-text fields padded).
struct ScheduleRow {
    QVariant ID;
    QString NAME;
    QVariant FROM;
    QVariant TO;
    QVariant EVERY;
    QVariant KINDEVERY;
    QVariant LASTRUN;
    QString STATUS;
};

// The current date and time; tests substitute their own.
class ISchedulerClock {
public:
    virtual ~ISchedulerClock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public ISchedulerClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// Where the schedule lives.
class IScheduleStore {
public:
    virtual ~IScheduleStore() = default;
    // All rows in store order. False with error when the store cannot be read.
    virtual bool readRows(std::vector<ScheduleRow>& rows, QString& error) = 0;
    // Sets LASTRUN of the given jobs (ID -> time) in the store as it is now,
    // read afresh under the store's lock; no other field or row changes.
    // Jobs no longer in the store are left out. False with error when the
    // store could not be updated.
    virtual bool saveLastRuns(const std::map<int, QDateTime>& lastRuns, QString& error) = 0;
};

// Starts the runner for one integration file without waiting for it.
class IRunnerLauncher {
public:
    virtual ~IRunnerLauncher() = default;
    // Program name shown in the event log.
    virtual QString programName() const = 0;
    // False with error when the process could not be started.
    virtual bool start(const QString& fileName, QString& error) = 0;
    // Collects runners that have ended (no zombies); called once per pass.
    virtual void reap() {}
    // The runner begun by the last successful start(), 0 when not known.
    virtual long long lastStarted() const { return 0; }
    // Whether that runner had not ended at the last reap().
    virtual bool isRunning(long long runner) const
    {
        (void)runner;
        return false;
    }
};

// One active job of the due-time table.
struct Cdispinfo {
    QDateTime time;   // next due time (local wall clock)
    int id = 0;
};

// Next due time of a job as of now, or nothing when its schedule cannot be
// followed (why says what is wrong). The times lie on FROM + k * step: a job
// that ran at or after FROM is due at the first of them after LASTRUN (one
// step after it, as runs record their scheduled time); one that never ran,
// or last ran before FROM, starts at FROM. Times before now are skipped. When
// TO is later than FROM and the next time has passed it, the time lies about
// 101 years ahead. Times are compared as wall-clock values, so daylight-saving changes
// move no job off its hour.
std::optional<QDateTime> scheduleNextRunTime(const ScheduleRow& row, const QDateTime& now, QString* why = nullptr);

// Text of a date in event-log entries, in the general date format: the
// system's short date and full time, the date alone at midnight.
QString eventLogDateText(const QDateTime& time);

class CDispather {
public:
    using Logger = std::function<bool(const QString& message, int eventType)>;

    // The store, launcher and clock must outlive the scheduler. Entries go
    // to logger, by default WriteEventLog.
    CDispather(IScheduleStore& store, IRunnerLauncher& launcher, const ISchedulerClock& clock,
               Logger logger = {});

    // Loads the schedule and fills the due-time table. False when the store
    // could not be read ("Error en inicializacion" is logged).
    bool Initialize();
    // Nothing to release; kept for the service's stop sequence.
    void Disconnect();
    // One pass: starts every job that is due and saves their LASTRUN once.
    // A job whose runner of an earlier time still runs is not started again:
    // that time is skipped, with a warning entry.
    void ProcessEvents();

    // The due-time table, keyed by job ID.
    const std::map<int, Cdispinfo>& dueTimes() const { return table_; }
    int rowCount() const { return int(rows_.size()); }

private:
    std::optional<QDateTime> NextRunTime(const ScheduleRow& row, QString* why = nullptr) const;
    bool RunScheduledJob(ScheduleRow& row, int id, const QDateTime& DueTime);
    bool log(const QString& message, int eventType) const;

    IScheduleStore& store_;
    IRunnerLauncher& launcher_;
    const ISchedulerClock& clock_;
    Logger logger_;
    std::vector<ScheduleRow> rows_;            // the schedule as loaded
    std::vector<std::optional<int>> rowIds_;   // ID of each row; nothing when the row was refused
    std::map<int, Cdispinfo> table_;           // active jobs only
    std::map<int, QDateTime> unsaved_;         // LASTRUN values not yet in the store
    std::map<int, long long> runners_;         // job ID -> the runner last started for it
};
