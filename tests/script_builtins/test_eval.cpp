// The library seen from scripts: names resolve case-insensitively, constants
// are visible, Erase writes back and errors reach the host's error record.

#include "script/ScriptControl.h"

#include <gtest/gtest.h>

using vbs::ScriptControl;

namespace {

std::string evalText(ScriptControl& sc, const char* expression)
{
    const vbs::Variant v = sc.Eval(QString::fromUtf8(expression));
    if (sc.Error().Number)
        return "error " + std::to_string(sc.Error().Number);
    return v.isNull() ? "<Null>" : vbs::toStr(v).toStdString();
}

} // namespace

TEST(BuiltinsThroughEval, FunctionsAndConstants)
{
    ScriptControl sc;
    EXPECT_EQ(evalText(sc, "ucase(Mid(\"abcdef\", 2, 3)) & vbTab & LEN(\"\")"), "BCD\t0");
    EXPECT_EQ(evalText(sc, "Join(Split(\"a,b,c\", \",\"), \"-\")"), "a-b-c");
    EXPECT_EQ(evalText(sc, "UBound(Array())"), "-1");
    EXPECT_EQ(evalText(sc, "DateAdd(\"m\", 1, #1/31/2000#)"), "2/29/2000");
    EXPECT_EQ(evalText(sc, "DateDiff(\"yyyy\", #12/31/2019#, #1/1/2020#)"), "1");
    EXPECT_EQ(evalText(sc, "Weekday(#1/1/2000#, vbMonday)"), "6");
    EXPECT_EQ(evalText(sc, "FormatCurrency(-1234.5)"), "($1,234.50)");
    EXPECT_EQ(evalText(sc, "CInt(2.5) + CInt(3.5)"), "6");
    EXPECT_EQ(evalText(sc, "TypeName(CCur(1)) & VarType(Null)"), "Currency1");
    EXPECT_EQ(evalText(sc, "IsNull(Left(Null, 2))"), "True");
    EXPECT_EQ(evalText(sc, "StrComp(\"a\", \"A\", vbTextCompare)"), "0");
    // Empty argument positions are omitted arguments.
    EXPECT_EQ(evalText(sc, "Replace(\"aXbx\", \"X\", \"-\", , , 1)"), "a-b-");
    EXPECT_EQ(evalText(sc, "UBound(Split(\"aXbxc\", \"x\", , 1))"), "2");
    EXPECT_EQ(evalText(sc, "FormatNumber(-1234.5, , , -1)"), "(1,234.50)");
    EXPECT_EQ(evalText(sc, "DateDiff(\"ww\", #1/1/2020#, #3/1/2020#, , vbFirstFourDays)"), "9");
    EXPECT_EQ(evalText(sc, "Left(, 2)"), "error 449");
    // The MsgBox constants exist; RGB and the engine's name and version.
    EXPECT_EQ(evalText(sc, "vbOKOnly & vbYesNo & vbCritical & vbQuestion & vbExclamation & vbInformation"), "0416324864");
    EXPECT_EQ(evalText(sc, "vbDefaultButton2 & vbSystemModal & vbOK & vbNo & vbApplicationModal"), "256409617" "0");
    EXPECT_EQ(evalText(sc, "vbMsgBoxHelpButton & \" \" & vbMsgBoxSetForeground & \" \" & vbMsgBoxRight & \" \" & "
                           "vbMsgBoxRtlReading"),
              "16384 65536 524288 1048576");
    EXPECT_EQ(evalText(sc, "RGB(1, 2, 300) & ScriptEngine & ScriptEngineMajorVersion"), "16712193VBScript5");
    // Conversions as VBScript makes them.
    EXPECT_EQ(evalText(sc, "CDate(\"1\") & CByte(True) & CBool(\"#TRUE#\")"), "12/31/1899255True");
    EXPECT_EQ(evalText(sc, "TypeName(Abs(0)) & TypeName(Round(True)) & TypeName(&h10&)"), "IntegerBooleanInteger");
}

TEST(BuiltinsThroughEval, ErrorsReachTheErrorRecord)
{
    ScriptControl sc;
    EXPECT_EQ(evalText(sc, "Left(\"abc\", -1)"), "error 5");
    EXPECT_EQ(sc.Error().Description.toStdString(), "Invalid procedure call or argument");
    EXPECT_EQ(evalText(sc, "CInt(\"x\")"), "error 13");
    EXPECT_EQ(evalText(sc, "CByte(300)"), "error 6");
    EXPECT_EQ(evalText(sc, "Len(Null) & \"\""), "");
    EXPECT_EQ(evalText(sc, "Space(Null)"), "error 94");
    EXPECT_EQ(evalText(sc, "Sgn(Null)"), "error 94");
    EXPECT_EQ(evalText(sc, "InStrRev(\"abcd\", Null)"), "error 94");
    // Null where a number is needed is 94; a start of 0 is 5, even of Empty.
    EXPECT_EQ(evalText(sc, "MonthName(Null)"), "error 94");
    EXPECT_EQ(evalText(sc, "FormatCurrency(Null)"), "error 94");
    EXPECT_EQ(evalText(sc, "FormatDateTime(Null)"), "error 94");
    EXPECT_EQ(evalText(sc, "FormatPercent(Null)"), "error 94");
    EXPECT_EQ(evalText(sc, "Mid(Empty, 0, 0)"), "error 5");
    EXPECT_EQ(evalText(sc, "InStr(1, \"abc\", \"b\", 3)"), "error 5");
    EXPECT_EQ(evalText(sc, "StrComp(\"a\", \"b\", vbDatabaseCompare)"), "error 5");
    EXPECT_EQ(evalText(sc, "CreateObject(\"Scripting.FileSystemObject\")"), "error 429");
    EXPECT_EQ(sc.Error().Description.toStdString(), "ActiveX component can't create object");
    // VBScript has no IIf, Format, Val or Nz.
    EXPECT_NE(evalText(sc, "IIf(True, 1, 2)").rfind("error", 0), std::string::npos);
}

TEST(BuiltinsThroughEval, EraseAndOnErrorInCode)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode(QStringLiteral(
        "Function Main()\r\n"
        "  Dim fixedArr(2), dynArr\r\n"
        "  fixedArr(0) = \"x\"\r\n"
        "  dynArr = Array(1, 2)\r\n"
        "  Erase fixedArr\r\n"
        "  Erase dynArr\r\n"
        "  On Error Resume Next\r\n"
        "  Dim n : n = UBound(dynArr)\r\n"
        "  Main = UBound(fixedArr) & \"|\" & IsEmpty(fixedArr(0)) & \"|\" & Err.Number\r\n"
        "End Function\r\n")))
        << sc.Error().Description.toStdString();
    EXPECT_EQ(evalText(sc, "Main"), "2|True|9");
}

TEST(BuiltinsThroughEval, RndAndSinglePrecision)
{
    // Before any other call Rnd(0) is the starting seed's value; a
    // negative argument reseeds; results are Single.
    ScriptControl fresh;
    EXPECT_EQ(evalText(fresh, "(Rnd(0) = 327680 / 16777216) & TypeName(Rnd(0)) & TypeName(Rnd)"), "TrueSingleSingle");
    EXPECT_EQ(evalText(fresh, "Rnd(-1) = Rnd(-1)"), "True");
    // Randomize n in a new host, or after Rnd(-1), repeats its sequence.
    ScriptControl one, two;
    ASSERT_TRUE(one.AddCode("Randomize 7: a = Rnd: Rnd -1: Randomize 7: b = Rnd: Rnd -1: Randomize 7: c = Rnd"));
    ASSERT_TRUE(two.AddCode("Randomize 7: a = Rnd"));
    EXPECT_EQ(evalText(one, "b = c"), "True");
    EXPECT_EQ(evalText(one, "a"), evalText(two, "a"));
    // Single values compare with single-precision rounding.
    EXPECT_EQ(evalText(fresh, "(CSng(0.001 * 0.001) = 1E-06) & (CSng(0.1) = 0.1) & (0.1 < CSng(0.1)) & (CSng(1.5) > 1.4999)"),
              "TrueTrueFalseTrue");
    EXPECT_EQ(evalText(fresh, "(CSng(16777217) = 16777216) & (CSng(1E+38) < 1E+300) & (CDbl(CSng(0.1)) = 0.1)"),
              "TrueTrueFalse");
}
