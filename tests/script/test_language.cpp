// Lexing, parsing errors with their lines, operators and their coercions,
// Null propagation and control flow.

#include "ScriptTestSupport.h"

using namespace vbs;
using namespace vbs::testing;

namespace {

TEST(ScriptLexing, LiteralsAndTheirTypes)
{
    EXPECT_EQ(eval("32767").type(), VarType::Integer);
    EXPECT_EQ(eval("32768").type(), VarType::Long);
    EXPECT_EQ(eval("2147483648").type(), VarType::Double);
    EXPECT_EQ(eval("1.5").type(), VarType::Double);
    EXPECT_EQ(toLong(eval("&HFF")), 255);
    EXPECT_EQ(toLong(eval("&HFFFF")), -1);           // four hex digits are an Integer
    EXPECT_EQ(toLong(eval("&H10000")), 65536);
    EXPECT_EQ(toLong(eval("&O17")), 15);
    EXPECT_EQ(str(eval("\"say \"\"hi\"\"\"")), "say \"hi\"");
    EXPECT_EQ(str(eval("#1/31/2020#")), "1/31/2020");
    EXPECT_EQ(str(eval("#2020-02-29 13:05#")), "2/29/2020 1:05:00 PM");
    EXPECT_EQ(str(eval("1E3")), "1000");
    EXPECT_EQ(str(eval(".5 + 1")), "1.5");
    EXPECT_TRUE(eval("Null").isNull());
    EXPECT_TRUE(eval("Empty").isEmpty());
    EXPECT_TRUE(eval("Nothing").isNothing());
    EXPECT_EQ(str(eval("TRUE")), "True");
}

TEST(ScriptLexing, CommentsContinuationsAndLineEnds)
{
    // CR, LF and CRLF each end a line; ' and Rem comment; " _" continues.
    QString code = "Function Main() ' comment\r"
                   "  Rem a remark\n"
                   "  Main = 1 + _\r\n"
                   "         2 : Main = Main * 10\n"
                   "End Function";
    EXPECT_EQ(str(runMain(code)), "30");
}

TEST(ScriptLexing, NamesAreCaseInsensitive)
{
    EXPECT_EQ(str(runMain("FUNCTION main()\nDIM X: x = 4\nmAiN = X\nend function")), "4");
}

struct ParseCase {
    const char* code;
    int number;
    int line;
};

TEST(ScriptParsing, ErrorsCarryNumberLineAndText)
{
    const ParseCase cases[] = {
        {"Function Main()\r\n  Main = (1 + \r\nEnd Function", 1023, 2},
        {"Function Main()\n  Main = 1 2\nEnd Function", 1025, 2},
        {"Function Main()\n  If 1 Then\n  Main = 1\nEnd Function", 1012, 4},
        {"Function Main()\r  x = \"abc\r  End Function", 1033, 2},
        {"Function Main()\n  For i = 1 5\n  Next\nEnd Function", 1013, 2},
        {"Function Main()\n\n\n  Main = 1\n", 1014, 5},
        {"Sub S()\n  Exit Function\nEnd Sub", 1039, 2},
        {"Function Main()\n  Do\n  Main = 1\nEnd Function", 1019, 4},
        {"x = 1\nNext", 1055, 2},
        {"Function Main()\n  Select Case 1\n  Main = 1\n  End Select\nEnd Function", 1021, 3},
        {"Function Main()\n  Select Case 1\n  Case Else\n  Main = x\n  Case Else\n  Main = y\n  End Select\nEnd Function", 1014, 5},
        {"x = 5 $", 1032, 1},
        {"Const A = B", 1045, 1},
    };
    for (const ParseCase& c : cases) {
        ScriptControl sc;
        EXPECT_FALSE(sc.AddCode(QString::fromUtf8(c.code))) << c.code;
        EXPECT_EQ(sc.Error().Number, c.number) << c.code;
        EXPECT_EQ(sc.Error().Line, c.line) << c.code;
        EXPECT_EQ(sc.Error().Description, errorDescription(c.number));
    }
    ScriptControl sc;
    EXPECT_FALSE(sc.AddCode("Function Main()\r\n  Main = 1 +* 2\r\nEnd Function"));
    EXPECT_EQ(sc.Error().Description, "Expected expression");
    EXPECT_EQ(sc.Error().Text, "  Main = 1 +* 2");
    EXPECT_EQ(sc.Error().Column, 13);
}

TEST(ScriptParsing, CompileErrorDefinesNothing)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Function Main()\nMain = 1\nEnd Function"));
    EXPECT_FALSE(sc.AddCode("Function Main()\nMain = 2\nEnd Function\nx = (\n"));
    EXPECT_EQ(toLong(sc.Eval("Main")), 1);
}

// Nesting deep enough to exhaust the stack is refused as a compile error;
// ordinary nesting still compiles.
TEST(ScriptParsing, ExcessiveNestingIsRefused)
{
    const auto nested = [](int depth, const QString& open, const QString& close) {
        return QStringLiteral("x = ") + open.repeated(depth) + QStringLiteral("1") + close.repeated(depth);
    };
    const QString deep[] = {
        nested(1000, "(", ")"),
        nested(1000, "Not ", ""),
        nested(1000, "- ", ""),
        nested(1000, "-", "").insert(4, QStringLiteral("2 ^ ")),
        QStringLiteral("If 1 Then\n").repeated(1000) + QStringLiteral("End If\n").repeated(1000),
        // A long chain of operators nests to the left as deeply.
        QStringLiteral("x = a") + QStringLiteral(" + a").repeated(50000),
        QStringLiteral("x = a") + QStringLiteral(" ^ a").repeated(50000),
    };
    for (const QString& code : deep) {
        ScriptControl sc;
        EXPECT_FALSE(sc.AddCode(code)) << code.left(40).toStdString();
        EXPECT_EQ(sc.Error().Number, 28) << code.left(40).toStdString();
    }
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode(QStringLiteral("Function Main()\n") + nested(100, "(", ")").mid(4).prepend("Main = ") +
                           QStringLiteral("\nEnd Function")));
    EXPECT_EQ(toLong(sc.Eval("Main")), 1);
    // The operators are counted per statement, not per procedure.
    const QString line = QStringLiteral("Main = Main") + QStringLiteral(" + 1").repeated(1000) + QStringLiteral("\n");
    ASSERT_TRUE(sc.AddCode(QStringLiteral("Function Main()\n") + line.repeated(10) + QStringLiteral("End Function")));
    EXPECT_EQ(toLong(sc.Eval("Main")), 10000);
}

TEST(ScriptOperators, ArithmeticTypesAndPromotion)
{
    EXPECT_EQ(eval("1 + 2").type(), VarType::Integer);
    EXPECT_EQ(eval("32767 + 1").type(), VarType::Long);            // promoted, not an overflow
    EXPECT_EQ(str(eval("32767 + 1")), "32768");
    EXPECT_EQ(eval("2147483647 + 1").type(), VarType::Double);
    EXPECT_EQ(eval("True + True").type(), VarType::Integer);
    EXPECT_EQ(toLong(eval("True + True")), -2);
    EXPECT_EQ(eval("\"1\" + 2").type(), VarType::Double);
    EXPECT_EQ(str(eval("\"1\" + \"2\"")), "12");                     // two strings concatenate
    EXPECT_EQ(str(eval("Empty + \"x\"")), "x");
    EXPECT_EQ(eval("Empty + Empty").type(), VarType::Integer);
    EXPECT_EQ(eval("6 / 3").type(), VarType::Double);
    EXPECT_EQ(str(eval("7 \\ 2")), "3");
    EXPECT_EQ(str(eval("-7 \\ 2")), "-3");
    EXPECT_EQ(str(eval("7.5 \\ 2")), "4");                           // 7.5 rounds to 8 first
    EXPECT_EQ(str(eval("-7 Mod 3")), "-1");
    EXPECT_EQ(str(eval("6.5 Mod 4")), "2");                          // 6.5 -> 6 (to even)
    EXPECT_EQ(str(eval("2 ^ 10")), "1024");
    EXPECT_EQ(str(eval("-2 ^ 2")), "4");                              // unary minus binds tighter than ^
    EXPECT_EQ(str(eval("-2 ^ 2 + 1")), "5");
    EXPECT_EQ(str(eval("2 ^ -2 * 4")), "1");
    EXPECT_EQ(str(eval("2 ^ -1")), "0.5");
    EXPECT_EQ(str(eval("2 ^ 3 ^ 2")), "64");                          // left to right
    EXPECT_EQ(str(eval("1 + 2 * 3 - 4 / 2")), "5");
    EXPECT_EQ(str(eval("10 - 2 - 3")), "5");
    EXPECT_EQ(str(eval("7 \\ 2 * 3")), "1");                          // * before \ .
    EXPECT_EQ(str(eval("5 Mod 3 * 2")), "5");                         // 3 * 2 first, then Mod
    EXPECT_EQ(str(eval("1 + 2 & 3")), "33");                          // + before &
    EXPECT_EQ(str(eval("0.1 + 0.2")), "0.3");
    EXPECT_EQ(str(eval("1 / 3")), "0.333333333333333");
    EXPECT_EQ(str(eval("#1/31/2020# + 1")), "2/1/2020");
    EXPECT_EQ(eval("#1/31/2020# - #1/1/2020#").type(), VarType::Double);
    EXPECT_EQ(str(eval("#1/31/2020# - #1/1/2020#")), "30");
}

TEST(ScriptOperators, ArithmeticErrors)
{
    EXPECT_EQ(evalError("1 / 0"), 11);
    EXPECT_EQ(evalError("0 / 0"), 6);
    EXPECT_EQ(evalError("1 \\ 0"), 11);
    EXPECT_EQ(evalError("1 Mod 0"), 11);
    EXPECT_EQ(evalError("\"abc\" + 1"), 13);
    EXPECT_EQ(evalError("\"abc\" * 1"), 13);
    EXPECT_EQ(evalError("1E308 * 10"), 6);
    EXPECT_EQ(evalError("3000000000 \\ 1"), 6);
    EXPECT_EQ(evalError("(-8) ^ 0.5"), 5);
}

TEST(ScriptOperators, Comparisons)
{
    EXPECT_TRUE(eval("1 < 2").boolVal());
    EXPECT_TRUE(eval("\"a\" < \"b\"").boolVal());
    EXPECT_FALSE(eval("\"a\" = \"A\"").boolVal());                      // binary comparison
    EXPECT_TRUE(eval("\"10\" < \"9\"").boolVal());                      // as strings
    EXPECT_TRUE(eval("Empty = 0").boolVal());
    EXPECT_TRUE(eval("Empty = \"\"").boolVal());
    EXPECT_TRUE(eval("True = -1").boolVal());
    EXPECT_TRUE(eval("#1/1/2020# < #1/2/2020#").boolVal());
    EXPECT_TRUE(eval("1 = 1.0").boolVal());
    // A literal takes the type of the other side.
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("n = 10 : s = \"10\" : t = \"9\""));
    EXPECT_TRUE(sc.Eval("n = \"10\"").boolVal());
    EXPECT_TRUE(sc.Eval("s = 10").boolVal());
    EXPECT_TRUE(sc.Eval("t > 10").boolVal());                           // "9" > "10" as strings
    // Two variables: the number is less than any string.
    EXPECT_FALSE(sc.Eval("n = s").boolVal());
    EXPECT_TRUE(sc.Eval("n < s").boolVal());
    EXPECT_FALSE(sc.Eval("n = \"abc\"").boolVal());
}

TEST(ScriptOperators, LogicalOperatorsAreBitwise)
{
    EXPECT_EQ(eval("True And False").type(), VarType::Boolean);
    EXPECT_EQ(str(eval("12 And 10")), "8");
    EXPECT_EQ(str(eval("12 Or 3")), "15");
    EXPECT_EQ(str(eval("12 Xor 10")), "6");
    EXPECT_EQ(str(eval("Not 0")), "-1");
    EXPECT_EQ(str(eval("Not True")), "False");
    EXPECT_EQ(str(eval("True Eqv True")), "True");
    EXPECT_EQ(str(eval("False Imp False")), "True");
    EXPECT_EQ(str(eval("True Imp False")), "False");
    EXPECT_EQ(str(eval("Not 1 = 2")), "True");                           // Not below comparison
    EXPECT_EQ(str(eval("1 = 1 And 2 = 2")), "True");
    EXPECT_EQ(str(eval("True Or False And False")), "True");            // And before Or
    EXPECT_EQ(str(eval("True Xor True Or True")), "False");             // Or before Xor
}

TEST(ScriptOperators, NullPropagation)
{
    EXPECT_TRUE(eval("Null + 1").isNull());
    EXPECT_TRUE(eval("1 - Null").isNull());
    EXPECT_TRUE(eval("Null * 0").isNull());
    EXPECT_TRUE(eval("Null / 0").isNull());
    EXPECT_TRUE(eval("Null \\ 0").isNull());
    EXPECT_TRUE(eval("-Null").isNull());
    EXPECT_TRUE(eval("Null = Null").isNull());
    EXPECT_TRUE(eval("Null <> 1").isNull());
    EXPECT_TRUE(eval("Not Null").isNull());
    EXPECT_EQ(str(eval("Null & \"a\"")), "a");                           // & treats Null as ""
    EXPECT_TRUE(eval("Null & Null").isNull());
    EXPECT_EQ(str(eval("Null And False")), "False");
    EXPECT_TRUE(eval("Null And True").isNull());
    EXPECT_EQ(str(eval("Null Or True")), "True");
    EXPECT_TRUE(eval("Null Or False").isNull());
    EXPECT_TRUE(eval("Null Xor True").isNull());
    EXPECT_EQ(str(eval("False Imp Null")), "True");
    EXPECT_TRUE(eval("True Imp Null").isNull());
    EXPECT_EQ(str(eval("Null Imp True")), "True");
    // A Null condition is false.
    EXPECT_EQ(str(runMain("Function Main()\nIf Null Then Main = 1 Else Main = 2\nEnd Function")), "2");
}

TEST(ScriptControlFlow, IfForms)
{
    QString code = "Function Main(x)\n"
                   "  If x < 0 Then\n"
                   "    Main = \"neg\"\n"
                   "  ElseIf x = 0 Then\n"
                   "    Main = \"zero\"\n"
                   "  Else\n"
                   "    If x > 100 Then Main = \"big\" Else Main = \"pos\": Main = Main & \"!\"\n"
                   "  End If\n"
                   "End Function";
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode(code));
    EXPECT_EQ(str(sc.Eval("Main(-1)")), "neg");
    EXPECT_EQ(str(sc.Eval("Main(0)")), "zero");
    EXPECT_EQ(str(sc.Eval("Main(500)")), "big");
    EXPECT_EQ(str(sc.Eval("Main(5)")), "pos!");
}

TEST(ScriptControlFlow, Loops)
{
    EXPECT_EQ(str(runMain("Function Main()\nFor i = 10 To 1 Step -3: s = s & i & \",\": Next\nMain = s & i\nEnd Function")),
              "10,7,4,1,-2");
    EXPECT_EQ(str(runMain("Function Main()\nFor i = 0 To 1 Step 0.25: n = n + 1: Next\nMain = n\nEnd Function")), "5");
    EXPECT_EQ(str(runMain("Function Main()\nFor i = 1 To 0: n = 1: Next\nMain = IsEmptyCheck(n)\nEnd Function\n"
                          "Function IsEmptyCheck(v)\nIsEmptyCheck = (v = Empty)\nEnd Function")),
              "True");
    EXPECT_EQ(str(runMain("Function Main()\nDo While i < 5: i = i + 1: Loop\nMain = i\nEnd Function")), "5");
    EXPECT_EQ(str(runMain("Function Main()\nDo Until i >= 5: i = i + 2: Loop\nMain = i\nEnd Function")), "6");
    EXPECT_EQ(str(runMain("Function Main()\nDo: i = i + 1: Loop While i < 3\nMain = i\nEnd Function")), "3");
    EXPECT_EQ(str(runMain("Function Main()\nDo: i = i + 1: Loop Until True\nMain = i\nEnd Function")), "1");
    EXPECT_EQ(str(runMain("Function Main()\nWhile i < 4\n i = i + 1\nWend\nMain = i\nEnd Function")), "4");
    EXPECT_EQ(str(runMain("Function Main()\nDo\n i = i + 1\n If i = 7 Then Exit Do\nLoop\nMain = i\nEnd Function")), "7");
    // Exit For leaves only the inner loop; Exit Do passes through a For.
    EXPECT_EQ(str(runMain("Function Main()\nFor i = 1 To 3\n For j = 1 To 3\n  If j = 2 Then Exit For\n  n = n + 1\n Next\nNext\nMain = n\nEnd Function")),
              "3");
    EXPECT_EQ(str(runMain("Function Main()\nDo\n For j = 1 To 3\n  If j = 2 Then Exit Do\n Next\nLoop\nMain = j\nEnd Function")),
              "2");
    // The body may change the counter.
    EXPECT_EQ(str(runMain("Function Main()\nFor i = 1 To 10\n n = n + 1: i = i + 1\nNext\nMain = n\nEnd Function")), "5");
}

TEST(ScriptControlFlow, ForEachOverArraysAndObjects)
{
    ScriptControl sc;
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("a", Variant::fromLong(2));
    row->fields.insert("b", Variant::fromLong(5));
    ASSERT_TRUE(sc.AddObject("Row", row));
    EXPECT_EQ(str(runMain(sc, "Function Main()\nFor Each v In Row: t = t + v: Next\nMain = t\nEnd Function")), "7");
    EXPECT_EQ(str(runMain(sc, "Function Main()\nDim a(2): a(0) = 1: a(1) = 2: a(2) = 3\nFor Each v In a: t = t & v: Next\nMain = t\nEnd Function")),
              "123");
    ASSERT_TRUE(sc.AddCode("Function Main()\nFor Each v In 5: Next\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, 451);
}

TEST(ScriptControlFlow, SelectCase)
{
    QString code = "Function Main(x)\n"
                   "  Select Case x\n"
                   "    Case 1, 2: Main = \"one or two\"\n"
                   "    Case 3 To 5\n"
                   "      Main = \"three to five\"\n"
                   "    Case \"a\": Main = \"letter\"\n"
                   "    Case Is >= 100: Main = \"huge\"\n"
                   "    Case Else: Main = \"other\"\n"
                   "  End Select\n"
                   "End Function";
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode(code));
    EXPECT_EQ(str(sc.Eval("Main(2)")), "one or two");
    EXPECT_EQ(str(sc.Eval("Main(4.5)")), "three to five");
    EXPECT_EQ(str(sc.Eval("Main(100)")), "huge");
    EXPECT_EQ(str(sc.Eval("Main(\"a\")")), "letter");
    EXPECT_EQ(str(sc.Eval("Main(6)")), "other");
    EXPECT_EQ(str(sc.Eval("Main(Null)")), "other");
}

TEST(ScriptProcedures, ArgumentsByRefAndByVal)
{
    QString code = "Sub Bump(a, ByVal b)\n a = a + 1: b = b + 1\nEnd Sub\n"
                   "Function Main()\n x = 1: y = 1\n Bump x, y\n Call Bump(x, y)\n Main = x & \",\" & y\nEnd Function";
    EXPECT_EQ(str(runMain(code)), "3,1");
    // Recursion; the function's own name without arguments is its result.
    EXPECT_EQ(str(runMain("Function Fact(n)\nIf n <= 1 Then Fact = 1 Else Fact = n * Fact(n - 1)\nEnd Function\n"
                          "Function Main()\nMain = Fact(10)\nEnd Function")),
              "3628800");
    // Exit Function keeps the result assigned so far.
    EXPECT_EQ(str(runMain("Function Main()\nMain = 1\nExit Function\nMain = 2\nEnd Function")), "1");
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Function F(a, b)\nF = a + b\nEnd Function"));
    sc.Eval("F(1)");
    EXPECT_EQ(sc.Error().Number, 450);
    EXPECT_EQ(toLong(sc.Eval("F(1, 2)")), 3);
    Variant args[] = {Variant::fromLong(4), Variant::fromLong(5)};
    EXPECT_EQ(toLong(sc.Run("F", args)), 9);
    sc.Run("Nope");
    EXPECT_EQ(sc.Error().Number, 35);
}

TEST(ScriptProcedures, CallStatementForms)
{
    QString code = "Sub Add(a, b)\n total = total + a * b\nEnd Sub\n"
                   "Sub Twice(a)\n total = total + 2 * a\n If a > 100 Then Exit Sub\n total = total + 1000\nEnd Sub\n"
                   "Function Main()\n"
                   " total = 0\n"
                   " Add 1, 2\n"              // 2
                   " Add (1) + 1, 3\n"        // a parenthesis starting the first argument: 6
                   " Call Add(2, 2)\n"        // 4
                   " Twice(5)\n"              // one argument in parentheses: 1010
                   " Twice 500\n"             // 1000
                   " Main = total\n"
                   "End Function";
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Dim total"));
    EXPECT_EQ(str(runMain(sc, code)), "2022");
}

TEST(ScriptProcedures, VariablesScopesAndConstants)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Dim g\ng = 5\nConst K = 3, NAME = \"x\"\n"
                           "Function UseGlobal()\n g = g + 1\n UseGlobal = g * K\nEnd Function\n"
                           "Function Local()\n Dim g\n g = 100\n Local = g\nEnd Function\n"
                           "Function Implicit()\n q = 7\n Implicit = q\nEnd Function"));
    EXPECT_EQ(toLong(sc.Eval("UseGlobal()")), 18);
    EXPECT_EQ(toLong(sc.Eval("Local()")), 100);
    EXPECT_EQ(toLong(sc.Eval("g")), 6);
    EXPECT_EQ(toLong(sc.Eval("Implicit()")), 7);
    EXPECT_TRUE(sc.Eval("q").isEmpty());              // an undeclared name in a procedure is local
    EXPECT_EQ(str(sc.Eval("NAME & K")), "x3");
    EXPECT_FALSE(sc.AddCode("K = 4"));
    EXPECT_EQ(sc.Error().Number, 501);
}

TEST(ScriptProcedures, OptionExplicit)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Option Explicit\nFunction Main()\n Dim a\n a = 1\n b = 2\n Main = a\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, 500);
    EXPECT_EQ(sc.Error().Description, "Variable is undefined: 'b'");
    EXPECT_EQ(sc.Error().Line, 5);
    EXPECT_EQ(sc.Error().Text, " b = 2");
}

TEST(ScriptArrays, DimReDimAndValueSemantics)
{
    EXPECT_EQ(str(runMain("Function Main()\nDim a(3)\na(3) = \"x\"\nb = a\nb(3) = \"y\"\nMain = a(3) & b(3)\nEnd Function")),
              "xy");
    EXPECT_EQ(str(runMain("Function Main()\nDim a()\nReDim a(1)\na(0) = 1: a(1) = 2\nReDim Preserve a(2)\na(2) = 3\n"
                          "Main = a(0) & a(1) & a(2)\nEnd Function")),
              "123");
    EXPECT_EQ(str(runMain("Function Main()\nDim m()\nReDim m(1, 2)\nm(1, 2) = 5\nm(0, 1) = 4\nReDim Preserve m(1, 3)\n"
                          "Main = m(1, 2) & m(0, 1) & IsEmptyItem(m(1, 3))\nEnd Function\n"
                          "Function IsEmptyItem(v)\nIsEmptyItem = (v = Empty)\nEnd Function")),
              "54True");
    // Arrays passed ByVal are copies; ByRef are shared.
    EXPECT_EQ(str(runMain("Sub SetV(ByVal a)\na(0) = 9\nEnd Sub\nSub SetR(a)\na(0) = 8\nEnd Sub\n"
                          "Function Main()\nDim x(0)\nx(0) = 1\nSetV x\nMain = x(0)\nSetR x\nMain = Main & x(0)\nEnd Function")),
              "18");
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Dim a(2)\nFunction Get(i)\nGet = a(i)\nEnd Function"));
    sc.Eval("Get(3)");
    EXPECT_EQ(sc.Error().Number, 9);
    sc.Eval("Get(-1)");
    EXPECT_EQ(sc.Error().Number, 9);
    EXPECT_FALSE(sc.AddCode("ReDim a(5)"));
    EXPECT_EQ(sc.Error().Number, 10);
}

} // namespace
