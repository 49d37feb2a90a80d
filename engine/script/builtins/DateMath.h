#pragma once

// Date arithmetic on VBScript's date serials: days since 12/30/1899, the
// fraction being the time of day. Below zero the integer part still counts
// days but the fraction is the time of day in absolute value (-1.25 is
// 12/29/1899 6:00 AM), so arithmetic works on (day, seconds) pairs rather
// than on the serial itself. All names and formats are US-English.

#include <QString>
#include <optional>

namespace vbslib {

// Serials of 1/1/100 and 12/31/9999 23:59:59, the range a date may take.
constexpr double kMinDateSerial = -657434.0;
constexpr double kMaxDateSerial = 2958465.99999;

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
};

// Day index (days since 12/30/1899) of a proleptic Gregorian date.
long long dayIndexOf(long long year, int month, int day);
// Calendar date of a day index.
void civilOf(long long dayIndex, int& year, int& month, int& day);

// The parts of a serial, the time rounded to the nearest second.
DateParts partsOf(double serial);
bool inDateRange(double serial);

// Calendar day index and whole seconds into that day of a serial.
long long dayIndexOfSerial(double serial);
int secondsOfDay(double serial);

// Two-digit years 0-29 mean 2000-2029 and 30-99 mean 1930-1999.
int expandTwoDigitYear(int year);

// DateSerial: months and days overflow into the next unit either way.
std::optional<double> dateSerial(int year, int month, int day);
// TimeSerial: seconds from midnight in any amount, overflowing into days.
std::optional<double> timeSerial(int hour, int minute, int second);

// 1..7 with firstDayOfWeek (1 = Sunday ... 7 = Saturday; 0 = system = Sunday).
int weekdayOf(double serial, int firstDayOfWeek = 1);

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };
// Parses "yyyy", "q", "m", "y", "d", "w", "ww", "h", "n", "s" (any case).
std::optional<Interval> parseInterval(const QString& text);

// nullopt when the result leaves the date range.
std::optional<double> dateAdd(Interval interval, long long number, double serial);
long long dateDiff(Interval interval, double date1, double date2, int firstDayOfWeek = 1);
// firstWeekOfYear: 1 = week of Jan 1, 2 = first week with four days, 3 = first full week.
int datePart(Interval interval, double serial, int firstDayOfWeek = 1, int firstWeekOfYear = 1);

// English names; callers check the ranges (month 1..12, weekday 1..7).
QString monthName(int month, bool abbreviate = false);
// weekday counted from firstDayOfWeek, as WeekdayName does.
QString weekdayName(int weekday, bool abbreviate = false, int firstDayOfWeek = 1);

// US-English texts of the five named formats (0 general .. 4 short time).
QString formatShortDate(double serial);   // 1/31/2007
QString formatLongDate(double serial);    // Wednesday, January 31, 2007
QString formatLongTime(double serial);    // 3:04:05 PM
QString formatShortTime(double serial);   // 15:04
// Named formats 1..4 (the general format 0 is CStr's own text).
QString formatDateTime(double serial, int namedFormat);

// Now as a serial in local time, and seconds since midnight.
double nowSerial();
double secondsSinceMidnight();

} // namespace vbslib
