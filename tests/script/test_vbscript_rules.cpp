// VBScript's documented rules, area by area: literals and line ends,
// compile errors, each operator's result types and coercions, Null,
// statements, error handling, arrays, objects and the host API.

#include "ScriptTestSupport.h"

using namespace vbs;
using namespace vbs::testing;

namespace {

const char* typeName(VarType t)
{
    switch (t) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::Currency: return "Currency";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::Object: return "Object";
    case VarType::Boolean: return "Boolean";
    case VarType::Decimal: return "Decimal";
    case VarType::Byte: return "Byte";
    default: return "Other";
    }
}

// "Type value" of an expression, or "error N".
std::string tv(const QString& expr)
{
    ScriptControl sc;
    Variant v = sc.Eval(expr);
    if (sc.Error().Number) return "error " + std::to_string(sc.Error().Number);
    std::string s = typeName(v.type());
    if (!v.isNull() && !v.isEmpty() && !v.isObject()) s += " " + toStr(v).toStdString();
    return s;
}

struct Expect {
    const char* expr;
    const char* result;
};

void checkAll(std::initializer_list<Expect> cases)
{
    for (const Expect& c : cases) EXPECT_EQ(tv(QString::fromUtf8(c.expr)), c.result) << c.expr;
}

// Result of Main, or "error N line L".
std::string mainOf(const QString& code)
{
    ScriptControl sc;
    if (!sc.AddCode(code))
        return "error " + std::to_string(sc.Error().Number) + " line " + std::to_string(sc.Error().Line);
    Variant v = sc.Eval("Main");
    if (sc.Error().Number)
        return "error " + std::to_string(sc.Error().Number) + " line " + std::to_string(sc.Error().Line);
    return str(v);
}

// ---------------------------------------------------------------- lexing

TEST(ScriptRulesLexing, NumberLiterals)
{
    checkAll({
        {"&H8000", "Integer -32768"},
        {"&HFFFFFFFF", "Long -1"},
        {"&HFF&", "Integer 255"},             // "&" reads 32 bits; the subtype still fits the value
        {"&HFFFF&", "Long 65535"},
        {"&H8000&", "Long 32768"},
        {"&h1f", "Integer 31"},
        {"&O777", "Integer 511"},
        {"1.5E+2", "Double 150"},
        {"2E-3", "Double 0.002"},
        {"-32768", "Long -32768"},            // minus applied to the Long 32768
        {"-2147483648", "Double -2147483648"},
        {"1.", "Double 1"},
    });
}

TEST(ScriptRulesLexing, LineEndsContinuationsAndSeparators)
{
    // A continuation across a CR-only line end, statements joined by ':'
    // and Rem after a colon.
    EXPECT_EQ(mainOf("Function Main()\r  Main = \"a\" & _\r    \"b\": Rem done\r  Main = Main & \"c\"\rEnd Function"), "abc");
    // Blank lines and comment-only lines count as lines.
    EXPECT_EQ(mainOf("Function Main()\n\n' note\n\nMain = 1\nEnd Function"), "1");
    // Rem as a member name is not a comment.
    EXPECT_EQ(mainOf("Function Main() : Main = 2 : End Function"), "2");
    // Keywords may not be used as variable names.
    EXPECT_EQ(mainOf("Function Main()\n  Dim Next\nEnd Function"), "error 1010 line 2");
}

// ---------------------------------------------------------------- compile errors

TEST(ScriptRulesParsing, ErrorLinesCountEachLineEndStyle)
{
    const char* body[] = {"Function Main()", "  Main = 1", "  If Main Then x = 1 Else", "  y = )", "End Function"};
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        QString code;
        for (const char* l : body) code += QString::fromUtf8(l) + QString::fromLatin1(eol);
        ScriptControl sc;
        EXPECT_FALSE(sc.AddCode(code));
        EXPECT_EQ(sc.Error().Number, 1023) << "eol " << int(eol[0]);
        EXPECT_EQ(sc.Error().Line, 4);
        EXPECT_EQ(sc.Error().Text, "  y = )");
        EXPECT_EQ(sc.Error().Source, "VBScript compilation error");
    }
    // A continued line: the error is on the physical line where it is met.
    ScriptControl sc;
    EXPECT_FALSE(sc.AddCode("x = 1 + _\n  2 3\n"));
    EXPECT_EQ(sc.Error().Number, 1025);
    EXPECT_EQ(sc.Error().Line, 2);
    EXPECT_EQ(sc.Error().Text, "  2 3");
}

TEST(ScriptRulesParsing, StatementErrors)
{
    struct Case {
        const char* code;
        const char* result;
    };
    const Case cases[] = {
        {"Function Main()\n  Main = 1 Then\nEnd Function", "error 1025 line 2"},
        {"Function Main()\n  If 1 Main = 2\nEnd Function", "error 1017 line 2"},
        {"Function Main()\n  While 1\n  Loop\nEnd Function", "error 1018 line 3"},
        {"Function Main()\n  For Each x 5\n  Next\nEnd Function", "error 1046 line 2"},
        {"Function Main()\n  Exit Do\nEnd Function", "error 1039 line 2"},
        {"Function Main()\n  Dim a, a\nEnd Function", "error 1041 line 2"},
        {"Function Main()\n  Main = \"open\nEnd Function", "error 1033 line 2"},
        {"Function Main()\nEnd Sub", "error 1015 line 2"},
        {"Function Main()\n  Select Case 1\n  Case 1\n  End If\nEnd Function", "error 1022 line 4"},
        {"x = 1\nOption Explicit", "error 1042 line 2"},
        {"Function Main()\n  Main = 12abc\nEnd Function", "error 1031 line 2"},
        {"Sub S(a, b)\nEnd Sub\nS(1, 2)", "error 1044 line 3"},
        {"Function Main()\n Row.Item(1, 2)\nEnd Function", "error 1044 line 2"},
    };
    for (const Case& c : cases) EXPECT_EQ(mainOf(QString::fromUtf8(c.code)), c.result) << c.code;
    // Eval reports the expression's own line.
    ScriptControl sc;
    sc.Eval("1 +");
    EXPECT_EQ(sc.Error().Number, 1023);
    EXPECT_EQ(sc.Error().Line, 1);
    EXPECT_EQ(sc.Error().Text, "1 +");
}

// ---------------------------------------------------------------- operators

TEST(ScriptRulesOperators, AdditionOfStringsAndNumbers)
{
    checkAll({
        {"\"1\" + \"2\"", "String 12"},
        {"\"1\" + 2", "Double 3"},
        {"2 + \"1.5\"", "Double 3.5"},
        {"\"a\" + 1", "error 13"},
        {"Empty + \"x\"", "String x"},
        {"Empty + Empty", "Integer 0"},
        {"Empty + 1", "Integer 1"},
        {"True + 1", "Integer 0"},
        {"\"x\" + Null", "Null"},
        {"CByte(200) + CByte(100)", "Integer 300"},
        {"CByte(2) + CByte(3)", "Byte 5"},
        {"-32768 - 1", "Long -32769"},
        {"2147483647 + 1", "Double 2147483648"},
        {"-2147483647 - 2", "Double -2147483649"},
        {"200 * 200", "Long 40000"},
        {"65536 * 65536", "Double 4294967296"},
        {"CSng(1.5) + 1", "Single 2.5"},
        {"CCur(1.5) + 1", "Currency 2.5"},
        {"#1/31/2024# + 1", "Date 2/1/2024"},
        {"#3/1/2024# - #2/28/2024#", "Double 2"},
    });
}

TEST(ScriptRulesOperators, ConcatenationTakesAnyValue)
{
    checkAll({
        {"1 & 2", "String 12"},
        {"\"a\" & Null", "String a"},
        {"Null & Null", "Null"},
        {"Empty & Empty", "String "},
        {"True & 1.5", "String True1.5"},
        {"1 + 2 & 3", "String 33"},
        {"\"x\" & 1 + 2", "String x3"},
    });
}

TEST(ScriptRulesOperators, DivisionIntegerDivisionAndModRound)
{
    checkAll({
        {"7 / 2", "Double 3.5"},
        {"4 / 2", "Double 2"},
        {"1 / 0", "error 11"},
        {"0 / 0", "error 6"},
        {"7 \\ 2", "Integer 3"},
        {"-7 \\ 2", "Integer -3"},
        {"7.5 \\ 2", "Long 4"},          // operands round half to even first
        {"6.5 \\ 2", "Long 3"},
        {"100000 \\ 3", "Long 33333"},
        {"5 \\ 0", "error 11"},
        {"5 \\ 0.4", "error 11"},        // 0.4 rounds to 0
        {"\"9\" \\ 2", "Long 4"},
        {"-7 Mod 3", "Integer -1"},
        {"7 Mod -3", "Integer 1"},
        {"2.5 Mod 2", "Long 0"},
        {"3.5 Mod 2", "Long 0"},
        {"5 Mod 0", "error 11"},
        {"3000000000 \\ 2", "error 6"},
        {"-2147483648 \\ -1", "error 6"},     // the quotient must be a Long
        {"Null \\ 2", "Null"},
        {"2 Mod Null", "Null"},
        {"10 Mod 4 * 2", "Integer 2"},  // * binds tighter than Mod
        {"7 \\ 2 * 2", "Integer 1"},    // ... and tighter than integer division
    });
}

TEST(ScriptRulesOperators, PowerAndNegation)
{
    checkAll({
        {"2 ^ 3", "Double 8"},
        {"-2 ^ 2", "Double 4"},
        {"-3 ^ 2", "Double 9"},
        {"2 ^ -1", "Double 0.5"},
        {"2 ^ 3 ^ 2", "Double 64"},
        {"(-8) ^ (1 / 3)", "error 5"},
        {"(-8) ^ 3", "Double -512"},
        {"10 ^ 400", "error 6"},
        {"Null ^ 2", "Null"},
        {"-Empty", "Integer 0"},
        {"-(-32768)", "Long 32768"},
        {"-\"3\"", "Double -3"},
        {"-True", "Integer 1"},
        {"-Null", "Null"},
    });
}

TEST(ScriptRulesOperators, ComparisonsOfMixedTypes)
{
    checkAll({
        {"1 = 1.0", "Boolean True"},
        {"\"a\" < \"B\"", "Boolean False"},      // binary comparison
        {"\"abc\" < \"abcd\"", "Boolean True"},
        {"Empty = 0", "Boolean True"},
        {"Empty = \"\"", "Boolean True"},
        {"Empty < 1", "Boolean True"},
        {"Empty = Empty", "Boolean True"},
        {"Null = Null", "Null"},
        {"1 < Null", "Null"},
        {"Null <> 1", "Null"},
        {"True = -1", "Boolean True"},
        {"#1/1/2024# < #1/2/2024#", "Boolean True"},
        {"2 >= 2", "Boolean True"},
        {"2 <> 2", "Boolean False"},
    });
    // Two variables, one a numeric text: the number is the smaller.
    EXPECT_EQ(mainOf("Function Main()\n a = \"1\": b = 1\n Main = (a = b) & (b < a) & (a > b)\nEnd Function"),
              "FalseTrueTrue");
}

TEST(ScriptRulesOperators, LogicalOperatorsEqvImp)
{
    checkAll({
        {"True Eqv True", "Boolean True"},
        {"True Eqv False", "Boolean False"},
        {"False Eqv False", "Boolean True"},
        {"True Imp False", "Boolean False"},
        {"False Imp False", "Boolean True"},
        {"False Imp True", "Boolean True"},
        {"12 Eqv 10", "Integer -7"},
        {"12 Imp 10", "Integer -5"},
        {"Null Eqv True", "Null"},
        {"Null Imp True", "Boolean True"},
        {"False Imp Null", "Boolean True"},
        {"True Imp Null", "Null"},
        {"Null Imp False", "Null"},
        {"Not 0", "Integer -1"},
        {"Not Empty", "Integer -1"},
        {"Not Null", "Null"},
        {"Not 1 = 2", "Boolean True"},   // Not binds looser than =
        {"5 And 3", "Integer 1"},
        {"5 Or 8", "Integer 13"},
        {"5 Xor 1", "Integer 4"},
        {"1 Or 2 And 0", "Integer 1"},   // And before Or
        {"True Xor True Or True", "Boolean False"},   // Or before Xor
        {"Null And False", "Boolean False"},
        {"Null And True", "Null"},
        {"Null Or True", "Boolean True"},
        {"Null Or False", "Null"},
        {"Null Xor True", "Null"},
        {"\"a\" And 1", "error 13"},
        {"70000 And 1", "Long 0"},
    });
}

TEST(ScriptRulesOperators, NullPropagationThroughStatementsAndFunctions)
{
    checkAll({
        {"Null + 1", "Null"},
        {"Null * 0", "Null"},
        {"Null / 1", "Null"},
        {"Len(Null)", "Null"},
        {"UCase(Null)", "Null"},
        {"CStr(Null)", "error 94"},
        {"CLng(Null)", "error 94"},
        {"IsNull(Null + 1)", "Boolean True"},
    });
    // A Null condition is false for If, While and Do Until reads it as not true.
    EXPECT_EQ(mainOf("Function Main()\n If Null Then Main = 1 Else Main = 2\nEnd Function"), "2");
    EXPECT_EQ(mainOf("Function Main()\n n = 0\n Do Until Null\n n = n + 1: If n = 3 Then Exit Do\n Loop\n Main = n\nEnd Function"), "3");
    EXPECT_EQ(mainOf("Function Main()\n x = Null\n Main = x + 1\n Main = IsNull(Main)\nEnd Function"), "True");
}

// ---------------------------------------------------------------- statements

TEST(ScriptRulesStatements, SelectCaseListsRangesAndIs)
{
    QString code = "Function Pick(v)\n"
                   "  Select Case v\n"
                   "    Case 1, 3, 5: Pick = \"odd\"\n"
                   "    Case 10 To 20, 30: Pick = \"range\"\n"
                   "    Case \"b\" To \"d\": Pick = \"letters\"\n"
                   "    Case Is >= 100, Is < -5: Pick = \"is\"\n"
                   "    Case Else: Pick = \"else\"\n"
                   "  End Select\n"
                   "End Function\n"
                   "Function Main()\n"
                   "  Main = Pick(3) & Pick(15) & Pick(30) & Pick(100) & Pick(-6) & Pick(\"c\") & Pick(7) & Pick(Null) & Pick(Empty)\n"
                   "End Function";
    EXPECT_EQ(mainOf(code), "oddrangerangeisisletterselseelseelse");
    // Only the first matching case runs; no Case Else: nothing runs.
    EXPECT_EQ(mainOf("Function Main()\n Main = \"-\"\n Select Case 2\n Case 2: Main = \"a\"\n Case 2: Main = \"b\"\n End Select\nEnd Function"), "a");
    EXPECT_EQ(mainOf("Function Main()\n Main = \"-\"\n Select Case 9\n Case 2: Main = \"a\"\n End Select\nEnd Function"), "-");
}

TEST(ScriptRulesStatements, ForLoopsWithStepsAndCounters)
{
    EXPECT_EQ(mainOf("Function Main()\n For i = 10 To 1 Step -3: s = s & i & \",\": Next\n Main = s & i\nEnd Function"),
              "10,7,4,1,-2");
    EXPECT_EQ(mainOf("Function Main()\n For i = 1 To 0: s = s & i: Next\n Main = \"[\" & s & \"]\" & i\nEnd Function"), "[]1");
    EXPECT_EQ(mainOf("Function Main()\n For i = 0 To 1 Step 0.25: n = n + 1: Next\n Main = n & \" \" & i\nEnd Function"), "5 1.25");
    // The end and the step are read once.
    EXPECT_EQ(mainOf("Function Main()\n e = 3\n For i = 1 To e: e = 10: n = n + 1: Next\n Main = n\nEnd Function"), "3");
    // Exit For leaves the innermost loop only.
    EXPECT_EQ(mainOf("Function Main()\n For i = 1 To 3\n For j = 1 To 3\n If j = 2 Then Exit For\n n = n + 1\n Next\n Next\n Main = n\nEnd Function"), "3");
    // Step 0 never ends: the budget stops it.
    ScriptControl sc;
    sc.setInstructionLimit(10000);
    ASSERT_TRUE(sc.AddCode("Function Main()\n For i = 1 To 2 Step 0\n Next\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, err::InstructionBudget);
    EXPECT_EQ(sc.Error().Line, 2);
    // A Null bound is an invalid use of Null.
    EXPECT_EQ(mainOf("Function Main()\n For i = 1 To Null: Next\nEnd Function"), "error 94 line 2");
}

TEST(ScriptRulesStatements, ForEachDoAndWhileForms)
{
    EXPECT_EQ(mainOf("Function Main()\n For Each x In Array(1, \"a\", Null)\n s = s & \"[\" & x & \"]\"\n Next\n Main = s\nEnd Function"),
              "[1][a][]");
    EXPECT_EQ(mainOf("Function Main()\n Dim a(1, 1): a(0, 0) = 1: a(1, 0) = 2: a(0, 1) = 3: a(1, 1) = 4\n For Each x In a: s = s & x: Next\n Main = s\nEnd Function"),
              "1234");
    EXPECT_EQ(mainOf("Function Main()\n For Each x In 5: Next\nEnd Function"), "error 451 line 2");
    // The four Do forms: a false pre-test never runs the body, a post-test runs it once.
    EXPECT_EQ(mainOf("Function Main()\n Do While False: n = n + 1: Loop\n Do Until True: n = n + 10: Loop\n"
                     " Do: n = n + 100: Loop While False\n Do: n = n + 1000: Loop Until True\n Main = n\nEnd Function"),
              "1100");
    EXPECT_EQ(mainOf("Function Main()\n i = 0\n While i < 5: i = i + 2: Wend\n Main = i\nEnd Function"), "6");
    EXPECT_EQ(mainOf("Function Main()\n Do\n n = n + 1\n If n > 4 Then Exit Do\n Loop\n Main = n\nEnd Function"), "5");
    // Exit Function from inside loops.
    EXPECT_EQ(mainOf("Function Main()\n Do\n For i = 1 To 9\n Main = i\n If i = 4 Then Exit Function\n Next\n Loop\nEnd Function"), "4");
}

TEST(ScriptRulesStatements, FormsVBScriptAccepts)
{
    EXPECT_EQ(mainOf("Private Const A = 1\nPublic Const B = 2\nFunction Main()\n"
                     " If 3 => 2 And 1 =< 1 Then Main = A + B Else Main = 0 End If\nEnd Function"),
              "3");
    EXPECT_EQ(mainOf("If True Then\n Function Inner()\n  Inner = \"in\"\n End Function\nEnd If\n"
                     "Function F(x)\n F = Array(x, x * 2)\nEnd Function\n"
                     "Sub S(x)\n r = x\nEnd Sub\nSub T(x) : t1 = x End Sub\n"
                     "Function Main()\n y = (F)(2)\n a = Array(7)\n Call (S)(1)\n Main = Inner() & y(1) & ((a))(0)\nEnd Function"),
              "in47");
    // After a dot every word is a member name, Rem too.
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("rem", Variant(QStringLiteral("r")));
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Row", row));
    EXPECT_FALSE(sc.AddCode("x = Row.Rem"));
    EXPECT_EQ(sc.Error().Number, 438);
    EXPECT_FALSE(sc.AddCode("x = Row.Property"));
    EXPECT_EQ(sc.Error().Number, 438);
    // For Each leaves its variable Empty after a collection, as after an array.
    ASSERT_TRUE(sc.AddCode("Function Main()\n For Each v In Row: n = n + 1: Next\n For Each w In Array(1): Next\n"
                           " Main = n & IsEmpty(v) & IsEmpty(w)\nEnd Function"));
    EXPECT_EQ(str(sc.Eval("Main")), "1TrueTrue");
}

TEST(ScriptRulesStatements, IfFormsNestInSingleLines)
{
    EXPECT_EQ(mainOf("Function Main()\n If 1 = 2 Then Main = 1 Else If 2 = 2 Then Main = 2 Else Main = 3\nEnd Function"), "2");
    EXPECT_EQ(mainOf("Function Main()\n x = 5\n If x > 3 Then\n Main = \"a\"\n ElseIf x > 1 Then\n Main = \"b\"\n Else\n Main = \"c\"\n End If\nEnd Function"), "a");
    EXPECT_EQ(mainOf("Function Main()\n If \"abc\" Then Main = 1\nEnd Function"), "error 13 line 2");
    EXPECT_EQ(mainOf("Function Main()\n If \"true\" Then Main = 1\nEnd Function"), "1");
}

TEST(ScriptRulesStatements, ParenthesesPassArgumentsByValue)
{
    // Bump a: by reference; Bump (a): a parenthesised value; Call Bump(a):
    // by reference; Call Bump((a)) and F((a)): values.
    EXPECT_EQ(mainOf("Sub Bump(n)\n n = n + 1\nEnd Sub\n"
                     "Function F(n)\n n = n * 10: F = n\nEnd Function\n"
                     "Function Main()\n a = 1: Bump a\n Bump (a)\n Call Bump(a)\n Call Bump((a))\n"
                     " x = F((a)) + F(a)\n Main = a & \" \" & x\nEnd Function"),
              "30 60");
    // A parenthesised first argument followed by more arguments.
    EXPECT_EQ(mainOf("Sub Two(x, y)\n x = 0: y = 0\nEnd Sub\n"
                     "Function Main()\n a = 1: b = 2\n Two (a), b\n Main = a & b\nEnd Function"),
              "10");
    // ByVal parameters never write back.
    EXPECT_EQ(mainOf("Sub Z(ByVal x)\n x = 0\nEnd Sub\nFunction Main()\n a = 5: Z a\n Main = a\nEnd Function"), "5");
}

TEST(ScriptRulesStatements, ResultsOfCallsCanBeIndexed)
{
    EXPECT_EQ(mainOf("Function Main()\n Main = Split(\"a-b-c\", \"-\")(1) & Array(Array(1, 2))(0)(1)\nEnd Function"), "b2");
    EXPECT_EQ(mainOf("Function Parts()\n Parts = Array(\"x\", \"y\")\nEnd Function\nFunction Main()\n Main = Parts()(1)\nEnd Function"), "y");
    EXPECT_EQ(mainOf("Function Main()\n Main = Split(\"a\", \"-\")(1)\nEnd Function"), "error 9 line 2");
    EXPECT_EQ(mainOf("Function Main()\n Main = Len(\"a\")(0)\nEnd Function"), "error 13 line 2");
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("k", Variant(QStringLiteral("v")));
    auto holder = std::make_shared<FakeRow>();
    holder->fields.insert("row", Variant::fromObject(row));
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Holder", holder));
    EXPECT_EQ(str(sc.Eval("Holder(\"row\")(\"k\") & Holder.Item(\"row\")(\"K\")")), "vv");
}

TEST(ScriptRulesStatements, ConstantsAndOptionExplicit)
{
    EXPECT_EQ(mainOf("Const A = 5, B = \"x\"\nFunction Main()\n Const C = -2\n Main = A & B & C\nEnd Function"), "5x-2");
    EXPECT_EQ(mainOf("Const A = 5\nFunction Main()\n A = 6\nEnd Function"), "error 501 line 3");
    EXPECT_EQ(mainOf("Option Explicit\nDim g\nFunction Main()\n Dim l\n l = 1: g = 2\n Main = l + g\nEnd Function"), "3");
    EXPECT_EQ(mainOf("Option Explicit\nFunction Main()\n Main = 1\n u = 2\nEnd Function"), "error 500 line 4");
    EXPECT_EQ(mainOf("Option Explicit\nFunction Main()\n Main = u\nEnd Function"), "error 500 line 3");
    // ReDim declares its array, also under Option Explicit.
    EXPECT_EQ(mainOf("Option Explicit\nFunction Main()\n ReDim a(2)\n a(1) = 3\n ReDim Preserve a(3)\n Main = a(1) & UBound(a)\nEnd Function"),
              "33");
    EXPECT_EQ(mainOf("Option Explicit\nReDim g(1)\ng(1) = \"x\"\nFunction Main()\n Main = g(1)\nEnd Function"), "x");
}

TEST(ScriptRulesStatements, WithBlocksAndParenthesisedObjects)
{
    const QString cls = "Dim log\n"
                        "Sub Check(ok, text)\n log = log & ok & \":\" & text & \";\"\nEnd Sub\n"
                        "Class C\n Public prop\n Private Sub Class_Initialize()\n  prop = 6\n End Sub\n"
                        " Public Function Twice()\n  Twice = prop * 2\n End Function\n"
                        " Public Sub Touch()\n  log = log & \"t\"\n End Sub\n"
                        " Public Property Get Counted()\n  log = log & \"c\"\n End Property\nEnd Class\n";
    // A call statement whose first argument is a member of the With object;
    // a member alone as a statement; With over a new object.
    EXPECT_EQ(mainOf(cls + "Function Main()\n Set x = New C\n With x\n  .prop = 1\n  Check .prop = 1, \".prop = \" & .prop\n"
                           "  Check .prop, .Twice\n  .Touch\n  .Counted\n End With\n Main = log\nEnd Function"),
              "True:.prop = 1;1:2;tc");
    EXPECT_EQ(mainOf(cls + "Function Main()\n With New C\n  .prop = .prop + 1\n  Main = .Twice\n End With\nEnd Function"), "14");
    // Without a blank the dot is a member of the name before it.
    EXPECT_EQ(mainOf(cls + "Function Main()\n Set x = New C\n With New C\n  x.prop = 2\n  Check x.prop, .prop\n End With\n"
                           " Main = log\nEnd Function"),
              "2:6;");
    // A member of a parenthesised object, also with Call.
    EXPECT_EQ(mainOf(cls + "Function Main()\n Main = (New C).prop & (New C).Twice() & (New C).Twice\nEnd Function"), "61212");
    EXPECT_EQ(mainOf(cls + "Function Main()\n Call (New C).Touch()\n Call (New C).Touch\n Main = log\nEnd Function"), "tt");
}

TEST(ScriptRulesParsing, ContextualWordsAreNames)
{
    // Property starts a declaration only before Get, Let or Set.
    EXPECT_EQ(mainOf("Function Main()\n Dim Property\n Property = 3\n Main = Property\nEnd Function"), "3");
    EXPECT_EQ(mainOf("Dim g\nSub Property(par)\n g = par\nEnd Sub\nFunction Main()\n Property 7\n Main = g\nEnd Function"), "7");
    EXPECT_EQ(mainOf("Function Property()\n Property = 9\nEnd Function\nFunction Main()\n Main = Property()\nEnd Function"), "9");
    EXPECT_EQ(mainOf("Class Property\n Public Property Get Property()\n  Property = \"p\"\n End Property\n"
                     " Public Property Let Step(Get)\n  If Get Then Exit Property\n End Property\n"
                     " Public Sub Preserve(Error)\n End Sub\nEnd Class\n"
                     "Function Main()\n Set o = New Property\n o.Step = True: o.Preserve 1\n"
                     " Dim Get, Default, Explicit: Get = 1: Default = 2: Explicit = 3\n"
                     " Main = o.Property & TypeName(o) & Get & Default & Explicit\nEnd Function"),
              "pProperty123");
    // A property procedure outside a class is still refused.
    EXPECT_EQ(mainOf("Property Get X()\nEnd Property"), "error 1048 line 1");
    EXPECT_EQ(mainOf("Public Property Let X(v)\nEnd Property"), "error 1048 line 1");
    EXPECT_EQ(mainOf("Class C\n Property Get X()\n End Function\nEnd Class"), "error 1050 line 3");
}

// ---------------------------------------------------------------- error handling

TEST(ScriptRulesErrors, ErrObjectMembers)
{
    QString code = "Function Main()\n"
                   "  On Error Resume Next\n"
                   "  x = CLng(\"abc\")\n"
                   "  r = Err.Number & \"|\" & Err.Description & \"|\" & Err.Source\n"
                   "  Err.Clear\n"
                   "  r = r & \"|\" & Err.Number & Err.Description & \"|\"\n"
                   "  Err.Raise 6\n"
                   "  r = r & Err.Number & \"|\" & Err.Description\n"
                   "  Err.Raise vbObjectError + 7, \"Here\"\n"
                   "  r = r & \"|\" & (Err.Number - vbObjectError) & \"|\" & Err.Source\n"
                   "  Main = r\n"
                   "End Function";
    EXPECT_EQ(mainOf(code), "13|Type mismatch|VBScript runtime error|0|6|Overflow|7|Here");
    // Err keeps the last error until cleared; a success does not clear it.
    EXPECT_EQ(mainOf("Function Main()\n On Error Resume Next\n x = 1 / 0\n y = 1\n Main = Err.Number\nEnd Function"), "11");
    // On Error GoTo 0 turns handling off again and clears Err.
    EXPECT_EQ(mainOf("Function Main()\n On Error Resume Next\n x = 1 / 0\n On Error GoTo 0\n Main = Err.Number\n y = 1 / 0\nEnd Function"),
              "error 11 line 6");
    // Err.Raise without handling ends the evaluation with its number and text.
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Function Main()\n Err.Raise 1000, \"Src\", \"My text\"\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, 1000);
    EXPECT_EQ(sc.Error().Description, "My text");
    EXPECT_EQ(sc.Error().Source, "Src");
    EXPECT_EQ(sc.Error().Line, 2);
    EXPECT_EQ(sc.Error().Text, " Err.Raise 1000, \"Src\", \"My text\"");
    // All five arguments are kept; numbers travel as HRESULTs: the script
    // facility's come back plain, &H10000 spills into the next facility.
    EXPECT_EQ(mainOf("Function Main()\n On Error Resume Next\n Err.Raise 1001, \"S\", \"D\", \"h.chm\", 42\n"
                     " Main = Err.Number & Err.Source & Err.Description & Err.HelpFile & Err.HelpContext\nEnd Function"),
              "1001SDh.chm42");
    EXPECT_EQ(mainOf("Function Main()\n On Error Resume Next\n Err.Raise &H800A000D\n r = Err.Number & Err.Description\n"
                     " Err.Raise &h10000&\n Main = r & \"|\" & Err.Number\nEnd Function"),
              "13Type mismatch|-2146762752");
    // Stop does nothing, also under Option Explicit; Call of a conversion is 458.
    EXPECT_EQ(mainOf("Option Explicit\nFunction Main()\n Stop\n Main = 1\nEnd Function"), "1");
    EXPECT_EQ(mainOf("Function Main()\n Call CInt(1)\nEnd Function"), "error 458 line 2");
}

TEST(ScriptRulesErrors, ErrorsComeInTheirOwnOrder)
{
    // A conversion under Call converts first: its own error comes before 458.
    auto called = [](const char* call) {
        return mainOf(QString("Function Main()\n On Error Resume Next\n Call %1\n Main = Err.Number\nEnd Function").arg(call));
    };
    EXPECT_EQ(called("CByte(\"\")"), "13");
    EXPECT_EQ(called("CByte(\"-1\")"), "6");
    EXPECT_EQ(called("CByte(1)"), "458");
    EXPECT_EQ(called("CBool(\"x\")") + called("CCur(\"x\")") + called("CDate(\"x\")") + called("CDbl(\"x\")"), "13131313");
    EXPECT_EQ(called("CInt(40000)") + called("CLng(Null)") + called("CSng(\"1E99\")") + called("CStr(Null)"), "694694");
    EXPECT_EQ(called("CDbl(1)") + called("CStr(\"a\")"), "458458");
    // ReDim Preserve cannot resize a fixed array.
    EXPECT_EQ(mainOf("Function Main()\n Dim a(2)\n ReDim Preserve a(3)\nEnd Function"), "error 5 line 3");
    EXPECT_EQ(mainOf("Dim g(1)\nFunction Main()\n ReDim Preserve g(4)\nEnd Function"), "error 5 line 3");
    // A raised HRESULT of the script facility reads back as the runtime
    // error; any other keeps its number; 450 does not name the procedure.
    auto raised = [](const char* statement) {
        return mainOf(QString("Sub Two(a, b)\nEnd Sub\nFunction Main()\n On Error Resume Next\n %1\n"
                              " Main = Err.Number & \"|\" & Err.Source & \"|\" & Err.Description\nEnd Function")
                          .arg(statement));
    };
    EXPECT_EQ(raised("Err.Raise &H800A0005"), "5|VBScript runtime error|Invalid procedure call or argument");
    EXPECT_EQ(raised("Err.Raise &H80070057"), "-2147024809|VBScript runtime error|Unknown runtime error");
    EXPECT_EQ(raised("Err.Raise 450"), "450|VBScript runtime error|Wrong number of arguments or invalid property assignment");
    EXPECT_EQ(raised("Two 1"), "450|VBScript runtime error|Wrong number of arguments or invalid property assignment");
    EXPECT_EQ(raised("x = Len(1, 2)"), "450|VBScript runtime error|Wrong number of arguments or invalid property assignment");
}

// ---------------------------------------------------------------- arrays

TEST(ScriptRulesArrays, ReDimPreserveKeepsItems)
{
    EXPECT_EQ(mainOf("Function Main()\n Dim a()\n ReDim a(2): a(0) = \"x\": a(2) = \"z\"\n ReDim Preserve a(4)\n a(4) = \"w\"\n"
                     " Main = a(0) & a(2) & a(4) & UBound(a)\nEnd Function"),
              "xzw4");
    EXPECT_EQ(mainOf("Function Main()\n ReDim a(3): a(1) = 5\n ReDim Preserve a(1)\n Main = a(1) & UBound(a)\nEnd Function"), "51");
    EXPECT_EQ(mainOf("Function Main()\n ReDim a(3): a(1) = 5\n ReDim a(3)\n Main = IsEmpty(a(1))\nEnd Function"), "True");
    EXPECT_EQ(mainOf("Function Main()\n ReDim a(1, 1): a(1, 1) = 7\n ReDim Preserve a(1, 3)\n Main = a(1, 1)\nEnd Function"), "7");
    EXPECT_EQ(mainOf("Function Main()\n ReDim a(1, 1)\n ReDim Preserve a(2, 1)\nEnd Function"), "error 9 line 3");
    EXPECT_EQ(mainOf("Function Main()\n Dim a(2)\n ReDim a(3)\nEnd Function"), "error 10 line 3");
    EXPECT_EQ(mainOf("Function Main()\n Dim a(2)\n a(3) = 1\nEnd Function"), "error 9 line 3");
    EXPECT_EQ(mainOf("Function Main()\n ReDim a(-1)\n Main = UBound(a)\nEnd Function"), "-1");
    // Arrays are copied on assignment.
    EXPECT_EQ(mainOf("Function Main()\n a = Array(1, 2): b = a: b(0) = 9\n Main = a(0) & b(0)\nEnd Function"), "19");
    // Items are passed ByRef, also of nested and two-dimensional arrays;
    // the array is locked meanwhile.
    EXPECT_EQ(mainOf("Sub Inc(n)\n n = n + 1\nEnd Sub\nFunction Main()\n a = Array(1, Array(5, 6))\n Dim m(1, 1)\n"
                     " Inc a(0): Inc a(1)(1): Inc m(1, 0): b = a: Inc b(0)\n Main = a(0) & a(1)(1) & m(1, 0) & b(0)\nEnd Function"),
              "2713");
    EXPECT_EQ(mainOf("Dim g\nSub Grow(n)\n ReDim g(5)\nEnd Sub\nFunction Main()\n ReDim g(1)\n Grow g(0)\nEnd Function"),
              "error 10 line 3");
}

// ---------------------------------------------------------------- objects

TEST(ScriptRulesObjects, SetNothingAndIs)
{
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("name", Variant(QStringLiteral("Ann")));
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Row", row));
    ASSERT_TRUE(sc.AddCode("Function Main()\n"
                           "  Set r = Row\n"
                           "  Dim n: Set n = Nothing\n"
                           "  Main = (r Is Row) & (n Is Nothing) & (Row Is Nothing) & r(\"Name\") & IsObject(r) & TypeName(n)\n"
                           "End Function"));
    EXPECT_EQ(str(sc.Eval("Main")), "TrueTrueFalseAnnTrueNothing");
    // Assigning an object without Set stores its default value... which needs
    // arguments here (450); Set of a non-object is 424; Is needs objects.
    EXPECT_EQ(str(sc.Eval("Row(\"name\") & \"!\"")), "Ann!");
    ASSERT_TRUE(sc.AddCode("Function F1()\n Set x = 5\nEnd Function\nFunction F2()\n F2 = (1 Is Nothing)\nEnd Function\n"
                           "Function F3()\n Dim n: Set n = Nothing\n F3 = n.Count\nEnd Function\n"
                           "Function F4()\n F4 = Row.NoSuch\nEnd Function"));
    sc.Eval("F1");
    EXPECT_EQ(sc.Error().Number, 424);
    sc.Eval("F2");
    EXPECT_EQ(sc.Error().Number, 424);
    sc.Eval("F3");
    EXPECT_EQ(sc.Error().Number, 91);
    sc.Eval("F4");
    EXPECT_EQ(sc.Error().Number, 438);
    EXPECT_EQ(str(sc.Eval("Row.Item(\"NAME\") & Row.Count")), "Ann1");
}

// A record as the formula host shows it: Rec.Fields("x") and
// Rec.Fields.Item("x") are Field objects whose default member is the value.
class FieldValue : public IScriptObject {
public:
    explicit FieldValue(Variant v) : value(std::move(v)) {}
    Variant value;
    QString typeName() const override { return QStringLiteral("Field"); }
    int memberId(const QString& name) override { return name.compare("Value", Qt::CaseInsensitive) == 0 ? 1 : UnknownMember; }
    Variant get(int id, std::span<Variant> args) override
    {
        if (!args.empty() || (id != DefaultMember && id != 1)) raiseError(450);
        return value;
    }
};

class FieldList : public IScriptObject {
public:
    QHash<QString, Variant> values;
    int memberId(const QString& name) override
    {
        if (name.compare("Item", Qt::CaseInsensitive) == 0) return DefaultMember;
        return name.compare("Fields", Qt::CaseInsensitive) == 0 ? 1 : UnknownMember;
    }
    Variant get(int id, std::span<Variant> args) override
    {
        if (id == 1 && args.empty()) return Variant::fromObject(self.lock());
        if (args.size() != 1) raiseError(450);
        return Variant::fromObject(std::make_shared<FieldValue>(values.value(toStr(args[0]).toLower())));
    }
    std::weak_ptr<FieldList> self;
};

TEST(ScriptRulesObjects, DefaultValuesOfObjectsInOperators)
{
    auto rec = std::make_shared<FieldList>();
    rec->self = rec;
    rec->values.insert("city", Variant::null());
    rec->values.insert("name", Variant(QStringLiteral("Ann")));
    rec->values.insert("n", Variant::fromInteger(4));
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Rec", rec));
    // A Null field turns into "" by concatenation, whichever way the Field is reached.
    EXPECT_EQ(str(sc.Eval("Rec.Fields(\"city\") & \"\"")), "");
    EXPECT_EQ(sc.Error().Number, 0);
    EXPECT_EQ(str(sc.Eval("\"|\" & Rec.Fields.Item(\"city\") & \"|\" & Rec.Fields(\"name\")")), "||Ann");
    EXPECT_EQ(str(sc.Eval("Rec.Fields(\"city\").Value & \"\"")), "");
    // Every operator sees the value: arithmetic, comparisons (Null stays Null), logic.
    EXPECT_EQ(str(sc.Eval("Rec.Fields(\"n\") * 2 & (Rec.Fields(\"n\") = 4) & IsNull(Rec.Fields(\"city\") = 1) & "
                          "(Rec.Fields(\"name\") > \"A\") & (Rec.Fields(\"n\") And 6)")),
              "8TrueTrueTrue4");
    EXPECT_TRUE(sc.Eval("Rec.Fields(\"city\") + 1").isNull());
    // Is still compares the objects themselves.
    EXPECT_EQ(str(sc.Eval("Rec.Fields Is Rec")), "True");
    sc.Eval("Nothing & \"\"");
    EXPECT_EQ(sc.Error().Number, 91);
}

// ---------------------------------------------------------------- host

TEST(ScriptRulesHost, EvalOfCompiledFormulaDoesNotParse)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Function Main()\n Main = 1\nEnd Function"));
    sc.Eval("Main");
    uint64_t after = sc.compileCount();
    for (int i = 0; i < 5; ++i) sc.Eval("Main");
    EXPECT_EQ(sc.compileCount(), after);
    // A later definition replaces the earlier one, without recompiling the first text again.
    ASSERT_TRUE(sc.AddCode("Function Main()\n Main = 2\nEnd Function"));
    EXPECT_EQ(toLong(sc.Eval("Main")), 2);
    ASSERT_TRUE(sc.AddCode("Function Main()\n Main = 1\nEnd Function"));
    EXPECT_EQ(toLong(sc.Eval("Main")), 1);
    EXPECT_EQ(sc.compileCount(), after + 1);
}

TEST(ScriptRulesHost, BudgetStopsRecursionAndLoopsAndIsPerEvaluation)
{
    ScriptControl sc;
    sc.setInstructionLimit(5000);
    ASSERT_TRUE(sc.AddCode("Function Count(n)\n For i = 1 To n: c = c + 1: Next\n Count = c\nEnd Function\n"
                           "Function Deep(n)\n Deep = Deep(n + 1)\nEnd Function\n"
                           "Function Main()\n On Error Resume Next\n Do: Loop\n Main = 1\nEnd Function"));
    // Each evaluation has the whole budget.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(toLong(sc.Eval("Count(1000)")), 1000);
    // Not even On Error Resume Next goes on after the budget.
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, err::InstructionBudget);
    EXPECT_EQ(sc.Error().Line, 10);
    sc.setInstructionLimit(50'000'000);
    sc.Eval("Deep(1)");
    EXPECT_EQ(sc.Error().Number, err::OutOfStack);
    // The host is usable afterwards.
    EXPECT_EQ(toLong(sc.Eval("Count(3)")), 3);
    EXPECT_EQ(sc.Error().Number, 0);
}

} // namespace
