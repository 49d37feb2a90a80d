#pragma once
// The schedule as the service sees it: the run-data store "scheduleddata".

#include "CDispather.h"

#include "stores/cMeridoxData.h"

class MeridoxScheduleStore final : public IScheduleStore {
public:
    // The store in the configured run-data folder.
    MeridoxScheduleStore() = default;
    // The store in a given folder.
    explicit MeridoxScheduleStore(const QString& folder) : data_(folder) {}

    // A store that cannot be parsed is set aside by the engine and read as
    // empty; that is logged as a warning entry.
    bool readRows(std::vector<ScheduleRow>& rows, QString& error) override;
    bool saveLastRuns(const std::map<int, QDateTime>& lastRuns, QString& error) override;

    const QString& folder() const { return data_.Folder(); }

private:
    cMeridoxData data_;
};
