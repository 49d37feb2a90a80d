#pragma once
// Counters of one run. The four arrays are indexed by operation kind + 1
// (1 insert, 2 update, 3 lookup, 4 delete) and 5 for all operations; index
// 0 is never used.

#include <QDateTime>
#include <QMetaType>

#include <array>
#include <cstdint>

enum vlmStatisticKind {
    vlmInsert = 0,
    vlmUpdate = 1,
    vlmLookup = 2,
    vlmDelete = 3,
};

enum vlmStatisticResult {
    vlmSuccess = 0,
    vlmFail = 1,
    vlmSkipped = 2,
};

struct tStatistic {
    using Counts = std::array<std::int32_t, 6>;

    static constexpr int AllOperations = 5;

    Counts Success{};
    Counts Errors{};
    Counts Skipped{};   // kept for the record layout; nothing counts skips
    Counts Totals{};
    std::int32_t CurrRecord = 0;
    std::int32_t TotalRecords = 0;
    QDateTime StartTime;
    QDateTime EndTime;   // null until a run completes

    static constexpr int slot(vlmStatisticKind kind) { return static_cast<int>(kind) + 1; }
};

Q_DECLARE_METATYPE(tStatistic)
