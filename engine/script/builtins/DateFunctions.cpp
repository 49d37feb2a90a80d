// Date functions: Now .. FormatDateTime.

#include "script/builtins/DateMath.h"
#include "script/builtins/LibraryParts.h"

namespace vbs::lib {

namespace {

using namespace vbslib;

// A date argument, nullopt for Null (the caller returns Null).
std::optional<double> dateArg(Args a, size_t i)
{
    const Variant& v = val(a, i);
    if (v.isNull())
        return std::nullopt;
    return toDate(v);
}

Interval intervalArg(Args a)
{
    const Variant& v = val(a, 0);
    if (v.isNull())
        raiseError(err::InvalidUseOfNull);
    const auto interval = parseInterval(toStr(v));
    if (!interval)
        raiseError(err::InvalidCall);
    return *interval;
}

int firstWeekArg(Args a, size_t i)
{
    const int32_t w = longArg(a, i, 1);
    if (w < 0 || w > 3)
        raiseError(err::InvalidCall);
    return w == 0 ? 1 : w;
}

Variant checkedDate(std::optional<double> serial)
{
    if (!serial)
        raiseError(err::InvalidCall);
    return Variant::fromDate(*serial);
}

Variant fnNow(BuiltinContext&, Args) { return Variant::fromDate(nowSerial()); }

Variant fnDate(BuiltinContext&, Args)
{
    return Variant::fromDate(static_cast<double>(dayIndexOfSerial(nowSerial())));
}

Variant fnTime(BuiltinContext&, Args) { return Variant::fromDate(secondsOfDay(nowSerial()) / 86400.0); }

Variant fnTimer(BuiltinContext&, Args) { return Variant::fromSingle(static_cast<float>(secondsSinceMidnight())); }

template <int DateParts::*Member>
Variant partFn(BuiltinContext&, Args a)
{
    const auto d = dateArg(a, 0);
    if (!d)
        return Variant::null();
    return Variant::fromInteger(static_cast<int16_t>(partsOf(*d).*Member));
}

Variant fnWeekday(BuiltinContext&, Args a)
{
    const int first = firstDayArg(a, 1);
    const auto d = dateArg(a, 0);
    if (!d)
        return Variant::null();
    return Variant::fromInteger(static_cast<int16_t>(weekdayOf(*d, first)));
}

Variant fnDateAdd(BuiltinContext&, Args a)
{
    const Interval interval = intervalArg(a);
    const int32_t number = toLong(val(a, 1)); // a fraction rounds to the nearest whole number
    const auto d = dateArg(a, 2);
    if (!d)
        return Variant::null();
    return checkedDate(dateAdd(interval, number, *d));
}

Variant fnDateDiff(BuiltinContext&, Args a)
{
    const Interval interval = intervalArg(a);
    const int first = firstDayArg(a, 3);
    firstWeekArg(a, 4); // checked only: week counts do not depend on it
    const auto d1 = dateArg(a, 1);
    const auto d2 = dateArg(a, 2);
    if (!d1 || !d2)
        return Variant::null();
    return Variant::fromInt64(dateDiff(interval, *d1, *d2, first));
}

Variant fnDatePart(BuiltinContext&, Args a)
{
    const Interval interval = intervalArg(a);
    const int first = firstDayArg(a, 2);
    const int firstWeek = firstWeekArg(a, 3);
    const auto d = dateArg(a, 1);
    if (!d)
        return Variant::null();
    return Variant::fromInteger(static_cast<int16_t>(datePart(interval, *d, first, firstWeek)));
}

Variant fnDateSerial(BuiltinContext&, Args a)
{
    const int year = toInteger(val(a, 0));
    const int month = toInteger(val(a, 1));
    const int day = toInteger(val(a, 2));
    return checkedDate(dateSerial(year, month, day));
}

Variant fnTimeSerial(BuiltinContext&, Args a)
{
    const int hour = toInteger(val(a, 0));
    const int minute = toInteger(val(a, 1));
    const int second = toInteger(val(a, 2));
    return checkedDate(timeSerial(hour, minute, second));
}

Variant fnDateValue(BuiltinContext&, Args a)
{
    const auto d = dateArg(a, 0);
    if (!d)
        return Variant::null();
    return Variant::fromDate(static_cast<double>(dayIndexOfSerial(*d)));
}

Variant fnTimeValue(BuiltinContext&, Args a)
{
    const auto d = dateArg(a, 0);
    if (!d)
        return Variant::null();
    return Variant::fromDate(secondsOfDay(*d) / 86400.0);
}

Variant fnMonthName(BuiltinContext&, Args a)
{
    const int32_t month = toLong(val(a, 0));
    if (month < 1 || month > 12)
        raiseError(err::InvalidCall);
    const bool abbreviate = given(a, 1) && toBool(val(a, 1));
    return Variant(monthName(month, abbreviate));
}

Variant fnWeekdayName(BuiltinContext&, Args a)
{
    const int32_t weekday = toLong(val(a, 0));
    if (weekday < 1 || weekday > 7)
        raiseError(err::InvalidCall);
    const bool abbreviate = given(a, 1) && toBool(val(a, 1));
    return Variant(weekdayName(weekday, abbreviate, firstDayArg(a, 2)));
}

Variant fnFormatDateTime(BuiltinContext&, Args a)
{
    const int32_t format = longArg(a, 1, 0);
    if (format < 0 || format > 4)
        raiseError(err::InvalidCall);
    const Variant& v = val(a, 0);
    if (v.isNull())
        raiseError(err::InvalidUseOfNull);
    const double serial = toDate(v);
    return Variant(format == 0 ? formatDate(serial) : formatDateTime(serial, format));
}

} // namespace

void registerDateFunctions(Registry& r)
{
    r.addFunction("Now", 0, 0, fnNow);
    r.addFunction("Date", 0, 0, fnDate);
    r.addFunction("Time", 0, 0, fnTime);
    r.addFunction("Timer", 0, 0, fnTimer);
    r.addFunction("Year", 1, 1, partFn<&DateParts::year>);
    r.addFunction("Month", 1, 1, partFn<&DateParts::month>);
    r.addFunction("Day", 1, 1, partFn<&DateParts::day>);
    r.addFunction("Hour", 1, 1, partFn<&DateParts::hour>);
    r.addFunction("Minute", 1, 1, partFn<&DateParts::minute>);
    r.addFunction("Second", 1, 1, partFn<&DateParts::second>);
    r.addFunction("Weekday", 1, 2, fnWeekday);
    r.addFunction("DateAdd", 3, 3, fnDateAdd);
    r.addFunction("DateDiff", 3, 5, fnDateDiff);
    r.addFunction("DatePart", 2, 4, fnDatePart);
    r.addFunction("DateSerial", 3, 3, fnDateSerial);
    r.addFunction("TimeSerial", 3, 3, fnTimeSerial);
    r.addFunction("DateValue", 1, 1, fnDateValue);
    r.addFunction("TimeValue", 1, 1, fnTimeValue);
    r.addFunction("MonthName", 1, 2, fnMonthName);
    r.addFunction("WeekdayName", 1, 3, fnWeekdayName);
    r.addFunction("FormatDateTime", 1, 2, fnFormatDateTime);
}

} // namespace vbs::lib
