// Objects written in script and the language's own objects: classes, With,
// RegExp, and code compiled at run time (Eval, Execute, ExecuteGlobal, GetRef).

#include "ScriptTestSupport.h"

using namespace vbs;
using namespace vbs::testing;

namespace {

// Result of Main, or "error N line L".
std::string mainOf(ScriptControl& sc, const QString& code)
{
    if (!sc.AddCode(code))
        return "error " + std::to_string(sc.Error().Number) + " line " + std::to_string(sc.Error().Line);
    Variant v = sc.Eval("Main");
    if (sc.Error().Number)
        return "error " + std::to_string(sc.Error().Number) + " line " + std::to_string(sc.Error().Line);
    return str(v);
}

std::string mainOf(const QString& code)
{
    ScriptControl sc;
    return mainOf(sc, code);
}

const char* kAccount =
    "Class Account\n"
    "  Private mBalance\n"
    "  Public Owner, History(2)\n"
    "  Private Sub Class_Initialize()\n"
    "    mBalance = 0: Owner = \"nobody\"\n"
    "  End Sub\n"
    "  Public Default Property Get Balance()\n"
    "    Balance = mBalance\n"
    "  End Property\n"
    "  Public Property Let Balance(v)\n"
    "    If v < 0 Then Err.Raise 5\n"
    "    mBalance = v\n"
    "  End Property\n"
    "  Public Function Deposit(n)\n"
    "    Balance = Balance + n\n"
    "    History(0) = n\n"
    "    Set Deposit = Me\n"
    "  End Function\n"
    "  Public Sub Double(ByRef x)\n"
    "    x = x * 2\n"
    "  End Sub\n"
    "End Class\n";

} // namespace

TEST(ScriptClasses, MembersPropertiesDefaultAndMe)
{
    const QString cls = QString::fromLatin1(kAccount);
    EXPECT_EQ(mainOf(cls + "Function Main()\n Set a = New Account\n a.Deposit(5).Deposit 7\n a.Balance = a.Balance + 1\n"
                           " Main = a & \"/\" & a.Owner & \"/\" & a.History(0) & \"/\" & TypeName(a) & VarType(a)\nEnd Function"),
              "13/nobody/7/Account2");
    // Private members are not reachable from outside; a Let may refuse a value.
    EXPECT_EQ(mainOf(cls + "Function Main()\n Set a = New Account\n Main = a.mBalance\nEnd Function"), "error 438 line 25");
    EXPECT_EQ(mainOf(cls + "Function Main()\n Set a = New Account\n a.Balance = -1\nEnd Function"), "error 5 line 11");
    // Methods take ByRef arguments; object variables are references, passed ByRef or ByVal.
    EXPECT_EQ(mainOf(cls + "Sub Drop(o)\n Set o = Nothing\nEnd Sub\nSub Keep(ByVal o)\n Set o = Nothing\nEnd Sub\n"
                           "Function Main()\n Set a = New Account: Set b = a\n n = 4: a.Double n\n b.Owner = \"Ann\"\n"
                           " Keep a\n r = n & a.Owner & (a Is b)\n Drop a\n Main = r & (a Is Nothing) & IsObject(b)\nEnd Function"),
              "8AnnTrueTrueTrue");
    EXPECT_EQ(mainOf("Function Main()\n Set x = New NoSuchClass\nEnd Function"), "error 506 line 2");
}

TEST(ScriptClasses, TerminateRunsWhenTheLastReferenceGoes)
{
    ScriptControl sc;
    EXPECT_EQ(mainOf(sc, "Dim log\n"
                         "Class Probe\n"
                         " Public Name\n"
                         " Sub Class_Terminate()\n  log = log & \"~\" & Name\n End Sub\n"
                         "End Class\n"
                         "Function Make(n)\n Set p = New Probe: p.Name = n\n Set Make = p\nEnd Function\n"
                         "Function Main()\n"
                         " Set a = Make(\"a\"): Set b = a\n"
                         " Set a = Nothing: log = log & \"|\"\n"
                         " Set b = Nothing: log = log & \"|\"\n"
                         " Make \"t\"\n"                    // a temporary goes at once
                         " Main = log\n"
                         "End Function"),
              "|~a|~t");
    // Errors inside Class_Terminate are not reported; the caller's Err stays.
    EXPECT_EQ(mainOf("Class Bad\n Sub Class_Terminate()\n  x = 1 / 0\n End Sub\nEnd Class\n"
                     "Function Main()\n On Error Resume Next\n Err.Raise 7\n Set b = New Bad: Set b = Nothing\n Main = Err.Number\nEnd Function"),
              "7");
}

TEST(ScriptClasses, WithBlocksNestOverClassesAndHostObjects)
{
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("name", Variant(QStringLiteral("Ann")));
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Row", row));
    EXPECT_EQ(mainOf(sc, QString::fromLatin1(kAccount) +
                             "Function Main()\n"
                             " Set a = New Account\n"
                             " With a\n"
                             "  .Owner = \"Bob\": .Deposit 3\n"
                             "  With Row\n   r = .Item(\"name\") & .Count\n  End With\n"
                             "  r = r & .Owner & .Balance\n"
                             " End With\n"
                             " Main = r\n"
                             "End Function"),
              "Ann1Bob3");
    EXPECT_FALSE(sc.AddCode("x = .Count"));
    EXPECT_EQ(sc.Error().Number, 1023);
}

TEST(ScriptRegExp, TestExecuteReplaceAndFlags)
{
    EXPECT_EQ(mainOf("Function Main()\n"
                     " Set re = New RegExp\n"
                     " re.Pattern = \"(\\w+)@(\\w+)\\.com\"\n"
                     " re.Global = True\n"
                     " Set ms = re.Execute(\"x ann@ex.com, bob@ey.com\")\n"
                     " For Each m In ms\n  r = r & m.FirstIndex & \":\" & m & \"(\" & m.SubMatches(0) & \",\" & m.SubMatches.Count & \") \"\n Next\n"
                     " Main = ms.Count & \" \" & r & re.Replace(\"ann@ex.com\", \"$2-$1 $$ $&\") & TypeName(re)\n"
                     "End Function"),
              "2 2:ann@ex.com(ann,2) 14:bob@ey.com(bob,2) ex-ann $ ann@ex.comIRegExp2");
    // IgnoreCase, first match only without Global, ^ and $ per line with Multiline.
    EXPECT_EQ(mainOf("Function Main()\n"
                     " Set re = CreateObject(\"VBScript.RegExp\")\n"
                     " re.Pattern = \"a.\": re.IgnoreCase = True\n"
                     " r = re.Replace(\"AbAc\", \"-\") & re.Test(\"xyz\")\n"
                     " re.Pattern = \"^b$\": r = r & re.Test(\"a\" & vbLf & \"b\") & re.Test(\"b\" & vbLf)\n"
                     " re.Multiline = True: r = r & re.Test(\"a\" & vbLf & \"b\")\n"
                     " re.Pattern = \"x.y\": r = r & re.Test(\"x\" & vbCr & \"y\")\n"
                     " Set m = re.Execute(\"none\")\n"
                     " Main = r & m.Count\n"
                     "End Function"),
              "-AcFalseFalseFalseTrueFalse0");
    EXPECT_EQ(mainOf("Function Main()\n Set re = New RegExp\n re.Pattern = \"(\"\n Main = re.Test(\"x\")\nEnd Function"),
              "error 5017 line 4");
    // A group that took no part is Empty; $1 of it is empty text.
    EXPECT_EQ(mainOf("Function Main()\n Set re = New RegExp: re.Pattern = \"(a)|(b)\"\n"
                     " Set m = re.Execute(\"b\")(0)\n Main = IsEmpty(m.SubMatches(0)) & re.Replace(\"b\", \"[$1$2]\")\nEnd Function"),
              "True[b]");
}

TEST(ScriptDynamicCode, EvalExecuteExecuteGlobalAndGetRef)
{
    EXPECT_EQ(mainOf("Dim g\n"
                     "Function Twice(x)\n Twice = x * 2\nEnd Function\n"
                     "Function Main()\n"
                     " Dim n: n = 5\n"
                     " Execute \"n = n + 1: m = Twice(n)\"\n"      // sees the procedure's variables
                     " ExecuteGlobal \"g = 3: Function Later(): Later = \"\"L\"\": End Function\"\n"
                     " Set f = GetRef(\"Twice\")\n"
                     " Main = n & \",\" & Eval(\"n * 10 + g\") & \",\" & f(21) & \",\" & Later() & \",\" & Eval(\"1 = 1\")\n"
                     "End Function"),
              "6,63,42,L,True");
    EXPECT_EQ(mainOf("Function Main()\n Execute \"x = \"\n End Function"), "error 1023 line 2");
    EXPECT_EQ(mainOf("Function Main()\n Set f = GetRef(\"Nope\")\nEnd Function"), "error 5 line 2");
}
