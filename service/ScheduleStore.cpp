#include "ScheduleStore.h"

#include "EventLog.h"
#include "data/Recordset.h"

#include <set>


bool MeridoxScheduleStore::readRows(std::vector<ScheduleRow>& rows, QString& error)
{
    rows.clear();
    ado::Recordset rs = data_.getRS(scheduleddata);
    if (!rs.isOpen()) {
        error = data_.LastError().isEmpty() ? QStringLiteral("scheduleddata.xml") : data_.LastError();
        return false;
    }
    // A store that could not be parsed was moved aside and a new, empty one
    // created: without this entry the service would just report 0 jobs.
    if (!data_.LastError().isEmpty())
        WriteEventLog(data_.LastError(), 2);
    if (rs.RecordCount() > 0)
        rs.MoveFirst();
    for (; rs.hasCurrentRecord(); rs.MoveNext()) {
        ScheduleRow row;
        row.ID = rs.value(QStringLiteral("ID"));
        row.NAME = rs.value(QStringLiteral("NAME")).toString();
        row.FROM = rs.value(QStringLiteral("FROM"));
        row.TO = rs.value(QStringLiteral("TO"));
        row.EVERY = rs.value(QStringLiteral("EVERY"));
        row.KINDEVERY = rs.value(QStringLiteral("KINDEVERY"));
        row.LASTRUN = rs.value(QStringLiteral("LASTRUN"));
        row.STATUS = rs.value(QStringLiteral("STATUS")).toString();
        rows.push_back(std::move(row));
    }
    return true;
}

bool MeridoxScheduleStore::saveLastRuns(const std::map<int, QDateTime>& lastRuns, QString& error)
{
    if (lastRuns.empty())
        return true;
    // Only the first row of each ID is the job (later duplicates were refused
    // at load); everything else in the freshly read store stays as it is.
    std::set<int> done;
    bool refused = false;
    QString fieldError;
    const StoreResult result = data_.modify(scheduleddata, [&](ado::Recordset& rs) {
        for (; rs.hasCurrentRecord(); rs.MoveNext()) {
            const std::optional<int> id = ParseJobId(rs.value(QStringLiteral("ID")));
            if (!id || done.count(*id))
                continue;
            const auto it = lastRuns.find(*id);
            if (it == lastRuns.end())
                continue;
            done.insert(*id);
            if (!rs.setValue(QStringLiteral("LASTRUN"), it->second) || !rs.Update()) {
                refused = true;
                fieldError = rs.lastError().Description;
                return false;
            }
        }
        return !done.empty();
    });
    // A refused value leaves the file untouched (the change reports false).
    if (refused) {
        error = fieldError.isEmpty() ? QStringLiteral("LASTRUN not accepted by the store") : fieldError;
        return false;
    }
    if (!result) {
        error = result.error;
        return false;
    }
    return true; // also when every job was deleted meanwhile: nothing to write
}
