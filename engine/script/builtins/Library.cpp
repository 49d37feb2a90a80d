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
        // MsgBox's buttons, icons, defaults and answers; MsgBox itself refuses.
        {"vbOKOnly", 0}, {"vbOKCancel", 1}, {"vbAbortRetryIgnore", 2}, {"vbYesNoCancel", 3},
        {"vbYesNo", 4}, {"vbRetryCancel", 5}, {"vbCritical", 16}, {"vbQuestion", 32},
        {"vbExclamation", 48}, {"vbInformation", 64}, {"vbDefaultButton1", 0},
        {"vbDefaultButton2", 256}, {"vbDefaultButton3", 512}, {"vbDefaultButton4", 768},
        {"vbApplicationModal", 0}, {"vbSystemModal", 4096}, {"vbMsgBoxHelpButton", 16384},
        {"vbOK", 1}, {"vbCancel", 2}, {"vbAbort", 3}, {"vbRetry", 4}, {"vbIgnore", 5},
        {"vbYes", 6}, {"vbNo", 7},
    };
    for (const IntConstant& c : integers)
        r.addConstant(c.name, Variant::fromInteger(c.value));

    struct LongConstant {
        const char* name;
        int32_t value;
    };
    static const LongConstant longs[] = {
        {"vbObjectError", -2147221504},
        {"vbMsgBoxSetForeground", 65536}, {"vbMsgBoxRight", 524288}, {"vbMsgBoxRtlReading", 1048576},
        {"vbBlack", 0x000000}, {"vbRed", 0x0000FF}, {"vbGreen", 0x00FF00}, {"vbYellow", 0x00FFFF},
        {"vbBlue", 0xFF0000}, {"vbMagenta", 0xFF00FF}, {"vbCyan", 0xFFFF00}, {"vbWhite", 0xFFFFFF},
    };
    for (const LongConstant& c : longs)
        r.addConstant(c.name, Variant::fromLong(c.value));
}

} // namespace lib

namespace lib {

namespace {

// RGB(red, green, blue): each part 0..255 (larger is 255), negative raises 5.
Variant fnRGB(BuiltinContext&, Args a)
{
    int32_t color = 0;
    for (size_t i = 0; i < 3; ++i) {
        const int32_t part = toLong(val(a, i));
        if (part < 0)
            raiseError(err::InvalidCall);
        color |= std::min(part, 255) << (8 * i);
    }
    return Variant::fromLong(color);
}

Variant fnScriptEngine(BuiltinContext&, Args) { return Variant(QStringLiteral("VBScript")); }
Variant fnScriptEngineMajorVersion(BuiltinContext&, Args) { return Variant::fromLong(5); }
Variant fnScriptEngineMinorVersion(BuiltinContext&, Args) { return Variant::fromLong(8); }
Variant fnScriptEngineBuildVersion(BuiltinContext&, Args) { return Variant::fromLong(16384); }

} // namespace

} // namespace lib

void registerStandardLibrary(Registry& registry)
{
    registry.addFunction("RGB", 3, 3, lib::fnRGB);
    registry.addFunction("ScriptEngine", 0, 0, lib::fnScriptEngine);
    registry.addFunction("ScriptEngineMajorVersion", 0, 0, lib::fnScriptEngineMajorVersion);
    registry.addFunction("ScriptEngineMinorVersion", 0, 0, lib::fnScriptEngineMinorVersion);
    registry.addFunction("ScriptEngineBuildVersion", 0, 0, lib::fnScriptEngineBuildVersion);
    lib::registerStringFunctions(registry);
    lib::registerConversionFunctions(registry);
    lib::registerDateFunctions(registry);
    lib::registerMathFunctions(registry);
    lib::registerConstants(registry);
}

} // namespace vbs
