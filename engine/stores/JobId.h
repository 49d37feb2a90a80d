#pragma once

// The one rule for the ID of a scheduled job, shared by the designer, the
// run-data stores and the scheduler service (which links no engine, hence
// a header of its own, on QtCore only).

#include <QList>
#include <QVariant>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

// Job IDs the designer hands out.
constexpr int kFirstJobId = 1;
constexpr int kLastJobId = 32767;

// A job ID is a whole number (a number, or decimal text with blanks around
// it) within the 16-bit signed range; anything else, a fraction included,
// is none.
inline std::optional<int> ParseJobId(const QVariant& Value)
{
    if (!Value.isValid() || Value.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = Value.typeId() == QMetaType::QString ? Value.toString().trimmed().toDouble(&ok)
                                                          : Value.toDouble(&ok);
    if (!ok || !std::isfinite(d) || d != std::floor(d) || d < std::numeric_limits<std::int16_t>::min() ||
        d > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<int>(d);
}

// The ID for a new job among the given ones (values that are no job ID are
// ignored): the highest + 1 when that lies within 1..32767, else the lowest
// free ID in that range; none when every one is taken.
inline std::optional<int> NextJobId(const QList<QVariant>& Ids)
{
    std::vector<bool> taken(static_cast<size_t>(kLastJobId) + 1, false);
    std::optional<int> highest;
    for (const QVariant& value : Ids) {
        const std::optional<int> id = ParseJobId(value);
        if (!id)
            continue;
        if (!highest || *id > *highest)
            highest = *id;
        if (*id >= kFirstJobId)
            taken[static_cast<size_t>(*id)] = true;
    }
    const int next = highest ? *highest + 1 : kFirstJobId;
    if (next >= kFirstJobId && next <= kLastJobId)
        return next;
    for (int id = kFirstJobId; id <= kLastJobId; ++id)
        if (!taken[static_cast<size_t>(id)])
            return id;
    return std::nullopt;
}
