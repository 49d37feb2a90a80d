#include "script/builtins/DateMath.h"

#include <QDateTime>
#include <cmath>

namespace vbslib {

namespace {

constexpr long long kSecondsPerDay = 86400;

const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

long long floorDiv(long long a, long long b)
{
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

long long floorMod(long long a, long long b) { return a - floorDiv(a, b) * b; }

// Days since 0000-03-01 of the proleptic Gregorian calendar: counting years
// from March puts the leap day last, so month lengths follow a fixed pattern.
long long rawDays(long long y, int m, int d)
{
    if (m <= 2)
        --y;
    const long long era = floorDiv(y, 400);
    const long long yearOfEra = y - era * 400;
    const int shiftedMonth = (m + 9) % 12;
    const long long dayOfYear = (153 * shiftedMonth + 2) / 5 + d - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra;
}

const long long kEpochRaw = rawDays(1899, 12, 30);

bool isLeap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(long long y, int m)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && isLeap(y)) ? 29 : lengths[m - 1];
}

// Splits a serial into its calendar day and whole seconds, rounding to the
// nearest second (a rounded-up midnight belongs to the next day).
void split(double serial, long long& dayIndex, int& seconds)
{
    const double whole = std::trunc(serial);
    const double fraction = std::fabs(serial - whole);
    long long secs = std::llround(fraction * kSecondsPerDay);
    dayIndex = static_cast<long long>(whole);
    if (secs >= kSecondsPerDay) {
        secs -= kSecondsPerDay;
        ++dayIndex;
    }
    seconds = static_cast<int>(secs);
}

double compose(long long dayIndex, long long seconds)
{
    const double fraction = static_cast<double>(seconds) / kSecondsPerDay;
    return dayIndex >= 0 ? static_cast<double>(dayIndex) + fraction : static_cast<double>(dayIndex) - fraction;
}

std::optional<double> composeChecked(long long dayIndex, long long seconds)
{
    const double serial = compose(dayIndex, seconds);
    if (!inDateRange(serial))
        return std::nullopt;
    return serial;
}

long long totalSeconds(double serial)
{
    long long day;
    int secs;
    split(serial, day, secs);
    return day * kSecondsPerDay + secs;
}

// Day index of the first day of the week holding dayIndex.
long long weekStart(long long dayIndex, int firstDayOfWeek)
{
    if (firstDayOfWeek < 1 || firstDayOfWeek > 7)
        firstDayOfWeek = 1;
    const long long sunday0 = floorMod(dayIndex + 6, 7); // day 0 is a Saturday
    return dayIndex - floorMod(sunday0 - (firstDayOfWeek - 1), 7);
}

long long firstWeekStart(int year, int firstDayOfWeek, int firstWeekOfYear)
{
    const long long jan1 = dayIndexOf(year, 1, 1);
    long long start = weekStart(jan1, firstDayOfWeek);
    if (firstWeekOfYear == 2) {
        if (7 - (jan1 - start) < 4)
            start += 7;
    } else if (firstWeekOfYear == 3) {
        if (start < jan1)
            start += 7;
    }
    return start;
}

QString pad2(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

} // namespace

long long dayIndexOf(long long year, int month, int day) { return rawDays(year, month, day) - kEpochRaw; }

void civilOf(long long dayIndex, int& year, int& month, int& day)
{
    const long long z = dayIndex + kEpochRaw;
    const long long era = floorDiv(z, 146097);
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

bool inDateRange(double serial) { return serial >= kMinDateSerial - 0.99999 && serial < kMaxDateSerial + 0.00001; }

DateParts partsOf(double serial)
{
    long long day;
    int secs;
    split(serial, day, secs);
    DateParts p;
    civilOf(day, p.year, p.month, p.day);
    p.hour = secs / 3600;
    p.minute = (secs / 60) % 60;
    p.second = secs % 60;
    return p;
}

long long dayIndexOfSerial(double serial)
{
    long long day;
    int secs;
    split(serial, day, secs);
    return day;
}

int secondsOfDay(double serial)
{
    long long day;
    int secs;
    split(serial, day, secs);
    return secs;
}

int expandTwoDigitYear(int year)
{
    if (year >= 0 && year < 30)
        return 2000 + year;
    if (year >= 30 && year < 100)
        return 1900 + year;
    return year;
}

std::optional<double> dateSerial(int year, int month, int day)
{
    const long long months = static_cast<long long>(expandTwoDigitYear(year)) * 12 + (month - 1);
    const long long y = floorDiv(months, 12);
    const int m = static_cast<int>(floorMod(months, 12)) + 1;
    if (y < 0 || y > 20000)
        return std::nullopt;
    return composeChecked(dayIndexOf(y, m, 1) + day - 1, 0);
}

std::optional<double> timeSerial(int hour, int minute, int second)
{
    const long long secs = hour * 3600LL + minute * 60LL + second;
    const double serial = static_cast<double>(secs) / kSecondsPerDay;
    if (!inDateRange(serial))
        return std::nullopt;
    return serial;
}

int weekdayOf(double serial, int firstDayOfWeek)
{
    const long long day = dayIndexOfSerial(serial);
    if (firstDayOfWeek < 1 || firstDayOfWeek > 7)
        firstDayOfWeek = 1;
    return static_cast<int>(day - weekStart(day, firstDayOfWeek)) + 1;
}

std::optional<Interval> parseInterval(const QString& text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("yyyy"))
        return Interval::Year;
    if (t == QLatin1String("q"))
        return Interval::Quarter;
    if (t == QLatin1String("m"))
        return Interval::Month;
    if (t == QLatin1String("y"))
        return Interval::DayOfYear;
    if (t == QLatin1String("d"))
        return Interval::Day;
    if (t == QLatin1String("w"))
        return Interval::Weekday;
    if (t == QLatin1String("ww"))
        return Interval::Week;
    if (t == QLatin1String("h"))
        return Interval::Hour;
    if (t == QLatin1String("n"))
        return Interval::Minute;
    if (t == QLatin1String("s"))
        return Interval::Second;
    return std::nullopt;
}

std::optional<double> dateAdd(Interval interval, long long n, double serial)
{
    if (n > 4000000000LL || n < -4000000000LL) // beyond any date range in seconds
        return std::nullopt;
    long long day;
    int secs;
    split(serial, day, secs);
    switch (interval) {
    case Interval::Year:
    case Interval::Quarter:
    case Interval::Month: {
        const long long step = interval == Interval::Year ? 12 : interval == Interval::Quarter ? 3 : 1;
        int y, m, d;
        civilOf(day, y, m, d);
        const long long months = static_cast<long long>(y) * 12 + (m - 1) + n * step;
        const long long ny = floorDiv(months, 12);
        const int nm = static_cast<int>(floorMod(months, 12)) + 1;
        if (ny < 100 || ny > 9999)
            return std::nullopt;
        const int nd = std::min(d, daysInMonth(ny, nm));
        return composeChecked(dayIndexOf(ny, nm, nd), secs);
    }
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday:
        return composeChecked(day + n, secs);
    case Interval::Week:
        return composeChecked(day + 7 * n, secs);
    case Interval::Hour:
    case Interval::Minute:
    case Interval::Second: {
        const long long unit = interval == Interval::Hour ? 3600 : interval == Interval::Minute ? 60 : 1;
        const long long total = day * kSecondsPerDay + secs + n * unit;
        return composeChecked(floorDiv(total, kSecondsPerDay), floorMod(total, kSecondsPerDay));
    }
    }
    return std::nullopt;
}

long long dateDiff(Interval interval, double date1, double date2, int firstDayOfWeek)
{
    const DateParts a = partsOf(date1);
    const DateParts b = partsOf(date2);
    const long long day1 = dayIndexOfSerial(date1);
    const long long day2 = dayIndexOfSerial(date2);
    switch (interval) {
    case Interval::Year:
        return b.year - a.year;
    case Interval::Quarter:
        return (b.year * 4LL + (b.month - 1) / 3) - (a.year * 4LL + (a.month - 1) / 3);
    case Interval::Month:
        return (b.year * 12LL + b.month) - (a.year * 12LL + a.month);
    case Interval::DayOfYear:
    case Interval::Day:
        return day2 - day1;
    case Interval::Weekday:
        return (day2 - day1) / 7;
    case Interval::Week:
        return (weekStart(day2, firstDayOfWeek) - weekStart(day1, firstDayOfWeek)) / 7;
    case Interval::Hour:
        return floorDiv(totalSeconds(date2), 3600) - floorDiv(totalSeconds(date1), 3600);
    case Interval::Minute:
        return floorDiv(totalSeconds(date2), 60) - floorDiv(totalSeconds(date1), 60);
    case Interval::Second:
        return totalSeconds(date2) - totalSeconds(date1);
    }
    return 0;
}

int datePart(Interval interval, double serial, int firstDayOfWeek, int firstWeekOfYear)
{
    const DateParts p = partsOf(serial);
    const long long day = dayIndexOfSerial(serial);
    switch (interval) {
    case Interval::Year:
        return p.year;
    case Interval::Quarter:
        return (p.month - 1) / 3 + 1;
    case Interval::Month:
        return p.month;
    case Interval::DayOfYear:
        return static_cast<int>(day - dayIndexOf(p.year, 1, 1)) + 1;
    case Interval::Day:
        return p.day;
    case Interval::Weekday:
        return weekdayOf(serial, firstDayOfWeek);
    case Interval::Week: {
        if (firstWeekOfYear < 1 || firstWeekOfYear > 3)
            firstWeekOfYear = 1;
        const long long start = weekStart(day, firstDayOfWeek);
        long long first = firstWeekStart(p.year, firstDayOfWeek, firstWeekOfYear);
        if (start < first) // days before week 1 close the previous year's last week
            first = firstWeekStart(p.year - 1, firstDayOfWeek, firstWeekOfYear);
        return static_cast<int>((start - first) / 7) + 1;
    }
    case Interval::Hour:
        return p.hour;
    case Interval::Minute:
        return p.minute;
    case Interval::Second:
        return p.second;
    }
    return 0;
}

QString monthName(int month, bool abbreviate)
{
    const QString name = QString::fromLatin1(kMonthNames[(month - 1) % 12]);
    return abbreviate ? name.left(3) : name;
}

QString weekdayName(int weekday, bool abbreviate, int firstDayOfWeek)
{
    if (firstDayOfWeek < 1 || firstDayOfWeek > 7)
        firstDayOfWeek = 1;
    const QString name = QString::fromLatin1(kDayNames[(weekday - 1 + firstDayOfWeek - 1) % 7]);
    return abbreviate ? name.left(3) : name;
}

QString formatShortDate(double serial)
{
    const DateParts p = partsOf(serial);
    return QStringLiteral("%1/%2/%3").arg(p.month).arg(p.day).arg(p.year);
}

QString formatLongDate(double serial)
{
    const DateParts p = partsOf(serial);
    return QStringLiteral("%1, %2 %3, %4")
        .arg(weekdayName(weekdayOf(serial)), monthName(p.month))
        .arg(p.day)
        .arg(p.year);
}

QString formatLongTime(double serial)
{
    const DateParts p = partsOf(serial);
    const int hour12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    return QStringLiteral("%1:%2:%3 %4")
        .arg(hour12)
        .arg(pad2(p.minute), pad2(p.second), p.hour < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString formatShortTime(double serial)
{
    const DateParts p = partsOf(serial);
    return pad2(p.hour) + QLatin1Char(':') + pad2(p.minute);
}

QString formatDateTime(double serial, int namedFormat)
{
    switch (namedFormat) {
    case 1:
        return formatLongDate(serial);
    case 2:
        return formatShortDate(serial);
    case 3:
        return formatLongTime(serial);
    default:
        return formatShortTime(serial);
    }
}

double nowSerial()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const int secs = now.time().msecsSinceStartOfDay() / 1000;
    return compose(dayIndexOf(d.year(), d.month(), d.day()), secs);
}

double secondsSinceMidnight() { return QTime::currentTime().msecsSinceStartOfDay() / 1000.0; }

} // namespace vbslib
