#pragma once

// Internal helpers shared by the data layer's sources (not for other callers).

#include "data/AdoTypes.h"
#include "data/ConnectionString.h"
#include "data/DataError.h"
#include "data/Field.h"

#include <QDateTime>
#include <QVariant>

namespace ado::detail {

DataError makeError(long number, const QString& description, const QString& source = QStringLiteral("Meridox data"));
QString describeStandardError(long number);

// Date and time text: "yyyy-MM-dd hh:mm:ss" (with 'T' when isoT), ".zzz"
// added only when there are milliseconds.
QString formatDateTime(const QDateTime& dt, bool isoT);
// Accepts ISO forms (with 'T' or blank, optional fraction and zone), a date
// alone, a time alone and US "M/d/yyyy [h:mm:ss AM]". Invalid when none fit.
QDateTime parseDateTime(const QString& text);
// Local wall-clock time without zone information.
QDateTime plainLocal(const QDateTime& dt);

// A value read from a database or file brought to the field's representation
// (never fails: a value that does not convert is kept as it came).
QVariant normalizeValue(const QVariant& raw, const FieldInfo& field);
// Blank-padding of fixed-length text to its size.
QVariant padFixed(const QVariant& v, const FieldInfo& field);
// A converted value as it is bound for a provider.
QVariant toBindValue(const QVariant& v, const FieldInfo& field, ProviderKind kind);
// The same, changing v where it stands.
void makeBindValue(QVariant& v, const FieldInfo& field, ProviderKind kind);

// QVariant::isNull() without its call for the kinds a record mostly holds:
// none of them is a pointer, so the variant's own flag alone tells.
inline bool isNullValue(const QVariant& v)
{
    const QVariant::DataPtr& d = v.data_ptr();
    switch (d.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
    case QMetaType::QString:
        return d.is_null;
    default:
        return v.isNull();
    }
}

} // namespace ado::detail
