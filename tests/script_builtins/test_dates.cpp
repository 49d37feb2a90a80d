#include "BuiltinCall.h"

#include <cmath>

using namespace builtin_test;

TEST(DateBuiltins, DateSerialOverflowsMonthsAndDays)
{
    EXPECT_EQ(str("DateSerial", {I(2000), I(2), I(30)}), "3/1/2000");
    EXPECT_EQ(str("DateSerial", {I(2001), I(2), I(29)}), "3/1/2001");
    EXPECT_EQ(str("DateSerial", {I(2000), I(13), I(1)}), "1/1/2001");
    EXPECT_EQ(str("DateSerial", {I(2000), I(0), I(1)}), "12/1/1999");
    EXPECT_EQ(str("DateSerial", {I(2000), I(1), I(0)}), "12/31/1999");
    EXPECT_EQ(str("DateSerial", {I(2000), I(3), I(-1)}), "2/28/2000");
    EXPECT_EQ(str("DateSerial", {I(2000), I(1), I(366)}), "12/31/2000");
    EXPECT_EQ(str("DateSerial", {I(99), I(1), I(1)}), "1/1/1999");
    EXPECT_EQ(str("DateSerial", {I(29), I(1), I(1)}), "1/1/2029");
    EXPECT_EQ(errorOf("DateSerial", {I(10000), I(1), I(1)}), 5);
    EXPECT_EQ(errorOf("DateSerial", {L(40000), I(1), I(1)}), 6);
    EXPECT_EQ(errorOf("DateSerial", {Null(), I(1), I(1)}), 94);

    EXPECT_EQ(str("TimeSerial", {I(12), I(-15), I(0)}), "11:45:00 AM");
    EXPECT_EQ(str("TimeSerial", {I(0), I(0), I(90)}), "12:01:30 AM");
    EXPECT_EQ(str("TimeSerial", {I(25), I(0), I(0)}), "12/31/1899 1:00:00 AM");
}

TEST(DateBuiltins, PartsOfDatesIncludingBeforeTheEpoch)
{
    const Variant d = Dt("2/29/2000 1:02:03 PM");
    EXPECT_EQ(call("Year", {d}).integerVal(), 2000);
    EXPECT_EQ(call("Month", {d}).integerVal(), 2);
    EXPECT_EQ(call("Day", {d}).integerVal(), 29);
    EXPECT_EQ(call("Hour", {d}).integerVal(), 13);
    EXPECT_EQ(call("Minute", {d}).integerVal(), 2);
    EXPECT_EQ(call("Second", {d}).integerVal(), 3);
    EXPECT_EQ(call("Year", {S("12/31/1999")}).integerVal(), 1999);
    EXPECT_TRUE(call("Year", {Null()}).isNull());
    EXPECT_EQ(errorOf("Month", {S("no date")}), 13);
    // -1.25 is 12/29/1899 6:00 AM: the fraction counts forward from midnight.
    EXPECT_EQ(call("Day", {D(-1.25)}).integerVal(), 29);
    EXPECT_EQ(call("Hour", {D(-1.25)}).integerVal(), 6);
    EXPECT_EQ(str("DateValue", {S("1/31/2020 3:04 PM")}), "1/31/2020");
    EXPECT_EQ(str("TimeValue", {S("1/31/2020 3:04 PM")}), "3:04:00 PM");
    EXPECT_TRUE(call("DateValue", {Null()}).isNull());
    EXPECT_EQ(errorOf("DateValue", {S("xyz")}), 13);
}

TEST(DateBuiltins, WeekdayHonoursFirstDayOfWeek)
{
    const Variant saturday = Dt("1/1/2000");
    EXPECT_EQ(call("Weekday", {saturday}).integerVal(), 7);
    EXPECT_EQ(call("Weekday", {saturday, I(2)}).integerVal(), 6);
    EXPECT_EQ(call("Weekday", {saturday, I(7)}).integerVal(), 1);
    EXPECT_EQ(call("Weekday", {saturday, I(0)}).integerVal(), 7);
    EXPECT_EQ(call("Weekday", {D(-1)}).integerVal(), 6); // 12/29/1899, a Friday
    EXPECT_EQ(errorOf("Weekday", {saturday, I(8)}), 5);
    EXPECT_TRUE(call("Weekday", {Null()}).isNull());
    EXPECT_EQ(str("WeekdayName", {I(1)}), "Sunday");
    EXPECT_EQ(str("WeekdayName", {I(1), Variant::fromBool(true), I(2)}), "Mon");
    EXPECT_EQ(str("WeekdayName", {I(7), Variant::fromBool(false), I(2)}), "Sunday");
    EXPECT_EQ(errorOf("WeekdayName", {I(8)}), 5);
    EXPECT_EQ(str("MonthName", {I(2)}), "February");
    EXPECT_EQ(str("MonthName", {I(9), Variant::fromBool(true)}), "Sep");
    EXPECT_EQ(errorOf("MonthName", {I(13)}), 5);
    EXPECT_EQ(errorOf("MonthName", {I(0)}), 5);
}

TEST(DateBuiltins, DateAddClampsMonthEndsAndCrossesDays)
{
    EXPECT_EQ(str("DateAdd", {S("m"), I(1), Dt("1/31/2000")}), "2/29/2000");
    EXPECT_EQ(str("DateAdd", {S("m"), I(1), Dt("1/31/2001")}), "2/28/2001");
    EXPECT_EQ(str("DateAdd", {S("yyyy"), I(1), Dt("2/29/2000")}), "2/28/2001");
    EXPECT_EQ(str("DateAdd", {S("q"), I(-1), Dt("5/31/2000")}), "2/29/2000");
    EXPECT_EQ(str("DateAdd", {S("M"), I(-12), Dt("3/15/2000 8:30 AM")}), "3/15/1999 8:30:00 AM");
    EXPECT_EQ(str("DateAdd", {S("h"), I(-1), Dt("1/1/2000")}), "12/31/1999 11:00:00 PM");
    EXPECT_EQ(str("DateAdd", {S("n"), I(90), Dt("1/31/2000 11:00 PM")}), "2/1/2000 12:30:00 AM");
    EXPECT_EQ(str("DateAdd", {S("s"), I(1), Dt("12/31/1999 11:59:59 PM")}), "1/1/2000");
    EXPECT_EQ(str("DateAdd", {S("ww"), I(1), Dt("12/28/1999")}), "1/4/2000");
    EXPECT_EQ(str("DateAdd", {S("d"), D(1.9), Dt("1/1/2000")}), "1/3/2000");
    EXPECT_EQ(str("DateAdd", {S("d"), D(2.5), Dt("1/1/2000")}), "1/3/2000");
    // Before the epoch the time of day still runs forward.
    EXPECT_EQ(str("DateAdd", {S("h"), I(6), Dt("12/28/1899 9:00 PM")}), "12/29/1899 3:00:00 AM");
    EXPECT_EQ(str("DateAdd", {S("h"), I(12), Dt("12/29/1899 6:00 PM")}), "6:00:00 AM");
    EXPECT_EQ(errorOf("DateAdd", {S("d"), I(1), Dt("12/31/9999")}), 5);
    EXPECT_EQ(errorOf("DateAdd", {S("x"), I(1), Dt("1/1/2000")}), 5);
    EXPECT_EQ(errorOf("DateAdd", {S("d"), Null(), Dt("1/1/2000")}), 94);
    EXPECT_TRUE(call("DateAdd", {S("d"), I(1), Null()}).isNull());
}

TEST(DateBuiltins, DateDiffCountsBoundaries)
{
    auto diff = [](const char* interval, const char* a, const char* b, int first = 1) {
        return call("DateDiff", {S(interval), Dt(a), Dt(b), I(static_cast<int16_t>(first))}).longVal();
    };
    EXPECT_EQ(diff("yyyy", "12/31/2019", "1/1/2020"), 1);
    EXPECT_EQ(diff("yyyy", "1/1/2020", "12/31/2020"), 0);
    EXPECT_EQ(diff("q", "3/31/2020", "4/1/2020"), 1);
    EXPECT_EQ(diff("m", "1/31/2020", "2/1/2020"), 1);
    EXPECT_EQ(diff("m", "2/1/2020", "1/31/2019"), -13);
    EXPECT_EQ(diff("d", "12/31/1999", "1/1/2000"), 1);
    EXPECT_EQ(diff("d", "1/1/2000 11:59 PM", "1/2/2000"), 1);
    EXPECT_EQ(diff("d", "3/1/2000", "2/28/2000"), -2);
    EXPECT_EQ(diff("y", "1/1/2020", "1/1/2021"), 366);
    EXPECT_EQ(diff("h", "1/1/2000 10:59:59", "1/1/2000 11:00:00"), 1);
    EXPECT_EQ(diff("n", "1/1/2000 10:00:59", "1/1/2000 10:01:00"), 1);
    EXPECT_EQ(diff("s", "12/31/1999 11:59:59 PM", "1/1/2000"), 1);
    EXPECT_EQ(diff("h", "12/29/1899 6:00 PM", "12/30/1899 6:00 AM"), 12);
    // "w" counts whole weeks; "ww" counts first days of the week passed.
    EXPECT_EQ(diff("w", "1/1/2000", "1/14/2000"), 1);
    EXPECT_EQ(diff("w", "1/1/2000", "1/15/2000"), 2);
    EXPECT_EQ(diff("ww", "1/1/2000", "1/2/2000"), 1);
    EXPECT_EQ(diff("ww", "1/2/2000", "1/8/2000"), 0);
    EXPECT_EQ(diff("ww", "1/1/2000", "1/2/2000", 2), 0);
    EXPECT_EQ(diff("ww", "1/1/2000", "1/3/2000", 2), 1);
    EXPECT_EQ(call("DateDiff", {S("d"), S("1/1/2000"), S("1/31/2000")}).longVal(), 30);
    EXPECT_TRUE(call("DateDiff", {S("d"), Null(), Dt("1/1/2000")}).isNull());
    EXPECT_EQ(errorOf("DateDiff", {S("d"), Dt("1/1/2000"), Dt("1/2/2000"), I(9)}), 5);
}

TEST(DateBuiltins, DatePartWeeksOfTheYear)
{
    auto week = [](const char* d, int first = 1, int firstWeek = 1) {
        return call("DatePart", {S("ww"), Dt(d), I(static_cast<int16_t>(first)), I(static_cast<int16_t>(firstWeek))})
            .integerVal();
    };
    EXPECT_EQ(week("1/1/2000"), 1);
    EXPECT_EQ(week("1/2/2000"), 2);
    EXPECT_EQ(week("12/31/2000"), 54);
    EXPECT_EQ(week("1/1/2000", 2, 2), 52); // ISO style: still the last week of 1999
    EXPECT_EQ(week("1/3/2000", 2, 2), 1);
    EXPECT_EQ(week("1/1/2000", 1, 3), 52);
    EXPECT_EQ(week("1/2/2000", 1, 3), 1);
    EXPECT_EQ(call("DatePart", {S("y"), Dt("12/31/2000")}).integerVal(), 366);
    EXPECT_EQ(call("DatePart", {S("q"), Dt("4/1/2000")}).integerVal(), 2);
    EXPECT_EQ(call("DatePart", {S("w"), Dt("1/1/2000"), I(2)}).integerVal(), 6);
    EXPECT_EQ(call("DatePart", {S("n"), Dt("1/1/2000 3:45 PM")}).integerVal(), 45);
    EXPECT_EQ(errorOf("DatePart", {S("ww"), Dt("1/1/2000"), I(1), I(4)}), 5);
}

TEST(DateBuiltins, FormatDateTimeNamedFormats)
{
    const Variant d = Dt("1/31/2007 3:04:05 PM");
    EXPECT_EQ(str("FormatDateTime", {d}), "1/31/2007 3:04:05 PM");
    EXPECT_EQ(str("FormatDateTime", {d, I(1)}), "Wednesday, January 31, 2007");
    EXPECT_EQ(str("FormatDateTime", {d, I(2)}), "1/31/2007");
    EXPECT_EQ(str("FormatDateTime", {d, I(3)}), "3:04:05 PM");
    EXPECT_EQ(str("FormatDateTime", {d, I(4)}), "15:04");
    EXPECT_EQ(str("FormatDateTime", {Dt("12:00:00 AM"), I(3)}), "12:00:00 AM");
    EXPECT_EQ(errorOf("FormatDateTime", {d, I(5)}), 5);
    EXPECT_EQ(errorOf("FormatDateTime", {Null()}), 94);
}

TEST(DateBuiltins, ClockFunctions)
{
    const Variant now = call("Now");
    const Variant today = call("Date");
    EXPECT_EQ(now.type(), vbs::VarType::Date);
    EXPECT_EQ(today.dateVal(), std::floor(today.dateVal()));
    EXPECT_LE(today.dateVal(), now.dateVal());
    EXPECT_LT(call("Time").dateVal(), 1.0);
    const float timer = call("Timer").singleVal();
    EXPECT_GE(timer, 0.0f);
    EXPECT_LT(timer, 86401.0f);
}
