// The standard library of the script language: every built-in function
// family and the vb* constants.

#include "script/builtins/LibraryParts.h"

namespace vbs {

namespace lib {

void registerConstants(Registry& r)
{
    const QString crlf = QStringLiteral("\r\n");
    r.addConstant("vbCrLf", Variant(crlf));
    r.addConstant("vbNewLine", Variant(crlf));
    r.addConstant("vbCr", Variant(QStringLiteral("\r")));
    r.addConstant("vbLf", Variant(QStringLiteral("\n")));
    r.addConstant("vbTab", Variant(QStringLiteral("\t")));
    r.addConstant("vbFormFeed", Variant(QStringLiteral("\f")));
    r.addConstant("vbVerticalTab", Variant(QStringLiteral("\v")));
    r.addConstant("vbNullChar", Variant(QString(QChar(0))));
    r.addConstant("vbNullString", Variant(QString()));

    struct IntConstant {
        const char* name;
        int16_t value;
    };
    static const IntConstant integers[] = {
        {"vbTrue", -1}, {"vbFalse", 0}, {"vbUseDefault", -2},
        {"vbBinaryCompare", 0}, {"vbTextCompare", 1}, {"vbDatabaseCompare", 2},
        {"vbGeneralDate", 0}, {"vbLongDate", 1}, {"vbShortDate", 2}, {"vbLongTime", 3}, {"vbShortTime", 4},
        {"vbUseSystemDayOfWeek", 0}, {"vbSunday", 1}, {"vbMonday", 2}, {"vbTuesday", 3}, {"vbWednesday", 4},
        {"vbThursday", 5}, {"vbFriday", 6}, {"vbSaturday", 7},
        {"vbUseSystem", 0}, {"vbFirstJan1", 1}, {"vbFirstFourDays", 2}, {"vbFirstFullWeek", 3},
        {"vbEmpty", 0}, {"vbNull", 1}, {"vbInteger", 2}, {"vbLong", 3}, {"vbSingle", 4}, {"vbDouble", 5},
        {"vbCurrency", 6}, {"vbDate", 7}, {"vbString", 8}, {"vbObject", 9}, {"vbError", 10},
        {"vbBoolean", 11}, {"vbVariant", 12}, {"vbDataObject", 13}, {"vbDecimal", 14}, {"vbByte", 17},
        {"vbArray", 8192},
    };
    for (const IntConstant& c : integers)
        r.addConstant(c.name, Variant::fromInteger(c.value));

    struct LongConstant {
        const char* name;
        int32_t value;
    };
    static const LongConstant longs[] = {
        {"vbObjectError", -2147221504},
        {"vbBlack", 0x000000}, {"vbRed", 0x0000FF}, {"vbGreen", 0x00FF00}, {"vbYellow", 0x00FFFF},
        {"vbBlue", 0xFF0000}, {"vbMagenta", 0xFF00FF}, {"vbCyan", 0xFFFF00}, {"vbWhite", 0xFFFFFF},
    };
    for (const LongConstant& c : longs)
        r.addConstant(c.name, Variant::fromLong(c.value));
}

} // namespace lib

void registerStandardLibrary(Registry& registry)
{
    lib::registerStringFunctions(registry);
    lib::registerConversionFunctions(registry);
    lib::registerDateFunctions(registry);
    lib::registerMathFunctions(registry);
    lib::registerConstants(registry);
}

} // namespace vbs
