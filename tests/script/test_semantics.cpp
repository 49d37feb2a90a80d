// Finer points of the language that formulas meet: exact database numbers,
// name binding across code texts, error records of expressions, arrays.

#include "ScriptTestSupport.h"

using namespace vbs;
using namespace vbs::testing;

namespace {

std::shared_ptr<FakeRow> rowWith(std::initializer_list<std::pair<const char*, Variant>> fields)
{
    auto row = std::make_shared<FakeRow>();
    for (auto& [k, v] : fields) row->fields.insert(QString::fromLatin1(k).toLower(), v);
    return row;
}

TEST(ScriptNumbers, DecimalAndCurrencyKeepTheirDigits)
{
    ScriptControl sc;
    auto big = Variant::fromDecimal(Decimal::fromInt64(9007199254740993LL));
    auto price = Variant::fromDecimal(*Decimal::parse(u"12345678901234.5678"));
    ASSERT_TRUE(sc.AddObject("Src", rowWith({{"id", big}, {"price", price}, {"cur", Variant::fromCurrency(15000)}})));
    EXPECT_EQ(str(sc.Eval("Src(\"id\") - 1")), "9007199254740992");
    EXPECT_EQ(str(sc.Eval("Src(\"id\") * 2")), "18014398509481986");
    EXPECT_TRUE(sc.Eval("Src(\"id\") > 9007199254740992").boolVal());
    EXPECT_TRUE(sc.Eval("Src(\"id\") = Src(\"id\")").boolVal());
    EXPECT_EQ(str(sc.Eval("Src(\"price\")")), "12345678901234.5678");
    EXPECT_EQ(str(sc.Eval("Src(\"price\") + 0.0001")), "12345678901234.5679");
    EXPECT_EQ(sc.Eval("Src(\"id\") + 1").type(), VarType::Decimal);
    EXPECT_EQ(sc.Eval("Src(\"cur\") + 1").type(), VarType::Currency);
    EXPECT_EQ(str(sc.Eval("Src(\"cur\") * 3")), "4.5");
    EXPECT_EQ(str(sc.Eval("Src(\"id\") & \"\"")), "9007199254740993");
    EXPECT_EQ(sc.Eval("Src(\"cur\") + 0.5").type(), VarType::Double);
    EXPECT_EQ(Decimal::parse(u"79228162514264337593543950336"), std::nullopt);   // 2^96: too large
    EXPECT_EQ(Decimal::fromDouble(0.1)->toString(), "0.1");
}

TEST(ScriptNumbers, SingleAndByteResults)
{
    EXPECT_EQ(str(eval("CSng(1.1) + 1")), "2.1");
    EXPECT_EQ(eval("CSng(1.5) * 2").type(), VarType::Single);
    EXPECT_EQ(eval("CSng(1.5) + CLng(2)").type(), VarType::Double);
    EXPECT_EQ(eval("CByte(200) + CByte(50)").type(), VarType::Byte);
    EXPECT_EQ(eval("CByte(200) + CByte(100)").type(), VarType::Integer);
    EXPECT_EQ(eval("-CByte(1)").type(), VarType::Integer);
    EXPECT_EQ(eval("-CInt(-32768)").type(), VarType::Long);
    EXPECT_EQ(eval("CByte(12) And CByte(10)").type(), VarType::Byte);
}

TEST(ScriptBinding, GlobalsDefinedByLaterCode)
{
    ScriptControl sc;
    // `g` is not declared anywhere yet: the procedure uses a local.
    ASSERT_TRUE(sc.AddCode("Function ReadG()\n ReadG = g\nEnd Function\nFunction CallLater()\n CallLater = Later(2)\nEnd Function"));
    EXPECT_TRUE(sc.Eval("ReadG()").isEmpty());
    sc.Eval("CallLater()");
    EXPECT_EQ(sc.Error().Number, 13);
    // Once a later code text defines them, the same compiled procedures see them.
    ASSERT_TRUE(sc.AddCode("Dim g\ng = 41\nFunction Later(x)\n Later = x * 10\nEnd Function"));
    EXPECT_EQ(toLong(sc.Eval("ReadG()")), 41);
    EXPECT_EQ(toLong(sc.Eval("CallLater()")), 20);
    // A procedure changes a global through a ByRef argument.
    ASSERT_TRUE(sc.AddCode("Sub Inc(v)\n v = v + 1\nEnd Sub\nInc g"));
    EXPECT_EQ(toLong(sc.Eval("g")), 42);
}

TEST(ScriptBinding, ObjectsInVariablesKeepTheirDefaultMember)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Src", rowWith({{"name", Variant(QStringLiteral("Ann"))}})));
    ASSERT_TRUE(sc.AddCode("Function Main()\n Set r = Src\n Main = r(\"Name\") & r.Item(\"name\")\n x = r(\"Name\")\n Main = Main & x\nEnd Function"));
    EXPECT_EQ(str(sc.Eval("Main")), "AnnAnnAnn");
    // Let-assigning an object without a usable default value is an error.
    ASSERT_TRUE(sc.AddCode("Function Bad()\n x = Src\nEnd Function"));
    sc.Eval("Bad()");
    EXPECT_EQ(sc.Error().Number, 450);
    // Err alone is its Number.
    ASSERT_TRUE(sc.AddCode("Function E()\n On Error Resume Next\n Err.Raise 5\n E = Err + 1\nEnd Function"));
    EXPECT_EQ(toLong(sc.Eval("E()")), 6);
}

TEST(ScriptErrors, ExpressionErrorsAndUnsupportedStatements)
{
    ScriptControl sc;
    sc.Eval("1 + \"x\"");
    EXPECT_EQ(sc.Error().Number, 13);
    EXPECT_EQ(sc.Error().Line, 1);
    EXPECT_EQ(sc.Error().Text, "1 + \"x\"");
    EXPECT_EQ(sc.Error().Source, "VBScript runtime error");
    sc.Eval("Main = ");
    EXPECT_EQ(sc.Error().Number, 1023);
    EXPECT_EQ(sc.Error().Source, "VBScript compilation error");
    EXPECT_FALSE(sc.AddCode("While True\n Exit Do\nWend"));
    EXPECT_EQ(sc.Error().Number, 1039);
    EXPECT_FALSE(sc.AddCode("Function F()\n Function G()\n End Function\nEnd Function"));
    EXPECT_EQ(sc.Error().Number, 1024);
    EXPECT_FALSE(sc.AddCode("Class C\n Public Default x\nEnd Class"));
    EXPECT_EQ(sc.Error().Number, 1057);
    EXPECT_FALSE(sc.AddCode("Class C\n Property Let P()\n End Property\nEnd Class"));
    EXPECT_EQ(sc.Error().Number, 1054);
    EXPECT_FALSE(sc.AddCode("Sub S(a, a)\nEnd Sub"));
    EXPECT_EQ(sc.Error().Number, 1041);
    EXPECT_FALSE(sc.AddCode("x = 1\nOption Explicit"));
    EXPECT_EQ(sc.Error().Number, 1042);
    // Option Explicit reaches global code too.
    EXPECT_FALSE(sc.AddCode("Option Explicit\nDim a\na = 1\nb = a"));
    EXPECT_EQ(sc.Error().Number, 500);
    EXPECT_EQ(sc.Error().Line, 4);
}

TEST(ScriptErrors, ResumeNextSkipsOnlyTheFailingStatement)
{
    QString code = "Function Main()\n"
                   " On Error Resume Next\n"
                   " For i = 1 To 4\n"
                   "  r = r & (12 \\ (i - 2)) & \",\"\n"   // fails for i = 2 only
                   " Next\n"
                   " If 1 / 0 = 1 Then r = r & \"in\"\n"   // a failing condition goes on inside the If
                   " Main = r & Err.Number\n"
                   "End Function";
    EXPECT_EQ(str(runMain(code)), "-12,12,6,in11");
    // Likewise in Do While, Select and an ElseIf; the Else is not run.
    EXPECT_EQ(str(runMain("Function Main()\n On Error Resume Next\n"
                          " If False Then\n  r = \"a\"\n ElseIf 1 / 0 Then\n  r = \"b\"\n Else\n  r = \"c\"\n End If\n"
                          " Do While CInt(\"x\")\n  r = r & \"w\"\n  Exit Do\n Loop\n"
                          " Select Case 1 / 0\n  Case 5\n   r = r & \"s\"\n  Case Else\n   r = r & \"e\"\n End Select\n"
                          " Main = r\nEnd Function")),
              "bws");
}

TEST(ScriptArrays, BoundsEraseAndNestedUse)
{
    EXPECT_EQ(str(runMain("Function Main()\nDim a(2)\na(1) = 5\nErase a\nMain = IsEmpty(a(1)) & UBound(a)\nEnd Function")),
              "True2");
    EXPECT_EQ(str(runMain("Function Main()\nDim a()\nReDim a(3)\nErase a\nOn Error Resume Next\nx = UBound(a)\nMain = Err.Number\nEnd Function")),
              "9");
    EXPECT_EQ(str(runMain("Function Main()\nx = Array(1, \"b\", Array(3, 4))\ny = x(2)\nMain = UBound(x) & x(1) & y(1)\nEnd Function")),
              "2b4");
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Dim m()\nReDim m(2, 2)"));
    EXPECT_FALSE(sc.AddCode("ReDim Preserve m(3, 2)"));     // only the last dimension may change
    EXPECT_EQ(sc.Error().Number, 9);
    sc.Eval("m(1)");                                         // wrong number of indexes
    EXPECT_EQ(sc.Error().Number, 9);
    ASSERT_TRUE(sc.AddCode("x = 5"));
    sc.Eval("x(0)");
    EXPECT_EQ(sc.Error().Number, 13);
}

TEST(ScriptStrings, TextsKeepEveryCharacter)
{
    EXPECT_EQ(str(eval("\"Año \" & ChrW(8364)")), "Año €");
    EXPECT_EQ(toLong(eval("Len(\"Dirección\")")), 9);
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Dirección", rowWith({{"calle", Variant(QStringLiteral("Mayor"))}})));
    EXPECT_EQ(str(sc.Eval("Dirección(\"Calle\")")), "Mayor");
    EXPECT_EQ(str(runMain("Function Main()\nFor i = 1 To 1000: s = s & \"ab\": Next\nMain = Len(s)\nEnd Function")), "2000");
}

TEST(ScriptDates, DateArithmeticAndComparisons)
{
    EXPECT_EQ(str(eval("#1/31/2024# + 29")), "2/29/2024");
    EXPECT_EQ(str(eval("#2/28/2023# + 1")), "3/1/2023");
    EXPECT_EQ(str(eval("#12/31/1999 11:00 PM# + 1/24")), "1/1/2000");
    EXPECT_TRUE(eval("#3/1/2024# > \"2/29/2024\"").boolVal());
    EXPECT_EQ(evalError("#12/31/9999# + 1"), 6);
    EXPECT_EQ(str(eval("CStr(#1/1/2000 12:30:00 PM#)")), "1/1/2000 12:30:00 PM");
}

} // namespace
