#pragma once

// Values crossing between the database layer (QVariant) and scripts.

#include "script/Variant.h"

#include <QDateTime>
#include <QVariant>

namespace vbs {

// A database value as a script value: an invalid QVariant is Empty, a null
// one Null; integers outside the Long range become a Double when exact,
// else a Decimal; dates become date serials (local time, no time zone).
Variant fromQVariant(const QVariant& v);

// A script value as a database value: Empty is an invalid QVariant, Null a
// null one (QVariant::fromValue(nullptr)); Decimal is a qlonglong when it is
// an integer that fits, else its exact text; Currency a double; dates a
// QDateTime; objects their default value; arrays a QVariantList.
QVariant toQVariant(const Variant& v);

// Date serials (days since 12/30/1899, the fraction the time of day) and
// QDateTime, to the millisecond.
double serialFromDateTime(const QDateTime& dt);
QDateTime dateTimeFromSerial(double serial);

} // namespace vbs
