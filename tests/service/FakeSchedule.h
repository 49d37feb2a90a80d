#pragma once
// In-memory schedule, runner and clock for driving the scheduler.

#include "CDispather.h"

#include <QStringList>
#include <vector>

struct FakeClock final : ISchedulerClock {
    QDateTime current;
    QDateTime now() const override { return current; }
};

struct FakeStore final : IScheduleStore {
    std::vector<ScheduleRow> rows;
    bool failRead = false;
    bool failSave = false;
    std::vector<std::map<int, QDateTime>> saves; // one entry per successful save

    bool readRows(std::vector<ScheduleRow>& out, QString& error) override
    {
        if (failRead) {
            error = QStringLiteral("cannot read");
            return false;
        }
        out = rows;
        return true;
    }
    bool saveLastRuns(const std::map<int, QDateTime>& lastRuns, QString& error) override
    {
        if (failSave) {
            error = QStringLiteral("disk full");
            return false;
        }
        saves.push_back(lastRuns);
        return true;
    }
};

struct FakeLauncher final : IRunnerLauncher {
    QStringList started;
    QStringList refuse; // file names whose start fails
    QString programName() const override { return QStringLiteral("MeridoxRunner"); }
    bool start(const QString& fileName, QString& error) override
    {
        if (refuse.contains(fileName)) {
            error = QStringLiteral("No such file or directory");
            return false;
        }
        started << fileName;
        return true;
    }
};
