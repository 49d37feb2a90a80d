// Error handling, host objects, the host API (Reset, AddObject, AddCode,
// Eval, Run), compile caching, the instruction budget and value conversions.

#include "ScriptTestSupport.h"

#include "script/QVariantBridge.h"

using namespace vbs;
using namespace vbs::testing;

namespace {

TEST(ScriptErrors, OnErrorResumeNextAndErrObject)
{
    QString code = "Function Main()\n"
                   "  On Error Resume Next\n"
                   "  x = 1 / 0\n"
                   "  r = Err.Number & \":\" & Err.Description & \":\" & x\n"
                   "  Err.Clear\n"
                   "  r = r & \":\" & Err.Number\n"
                   "  Err.Raise 1234, \"Mine\", \"custom\"\n"
                   "  r = r & \":\" & Err.Number & Err.Source & Err.Description\n"
                   "  On Error GoTo 0\n"
                   "  r = r & \":\" & Err.Number\n"
                   "  Main = r\n"
                   "End Function";
    EXPECT_EQ(str(runMain(code)), "11:Division by zero::0:1234Minecustom:0");
}

TEST(ScriptErrors, ErrorsPropagateToTheCallerWithResumeNext)
{
    // The callee has no handler: its remaining statements are skipped and
    // the caller resumes after the call.
    QString code = "Function Inner()\n"
                   "  Inner = 1\n"
                   "  Err.Raise 9\n"
                   "  Inner = 2\n"
                   "End Function\n"
                   "Function Main()\n"
                   "  On Error Resume Next\n"
                   "  v = Inner()\n"
                   "  Main = \"[\" & v & \"]\" & Err.Number\n"
                   "End Function";
    EXPECT_EQ(str(runMain(code)), "[]9");
    // A handler in one procedure does not reach into the procedures it calls' callers.
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Sub Quiet()\n On Error Resume Next\n x = 1 / 0\nEnd Sub\n"
                           "Function Main()\n Quiet\n y = 1 / 0\n Main = 1\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, 11);
    EXPECT_EQ(sc.Error().Line, 7);
}

TEST(ScriptErrors, RuntimeErrorsReportLineAndText)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Function Main()\r\n  Dim a\r\n  a = \"x\" * 2\r\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, 13);
    EXPECT_EQ(sc.Error().Description, "Type mismatch");
    EXPECT_EQ(sc.Error().Line, 3);
    EXPECT_EQ(sc.Error().Text, "  a = \"x\" * 2");
    // The error record is cleared by the next successful operation.
    sc.Eval("1");
    EXPECT_EQ(sc.Error().Number, 0);
    // Errors in called procedures report the line where they happened.
    ASSERT_TRUE(sc.AddCode("Function Deep(x)\n\n  Deep = x(1)\nEnd Function\nFunction Main()\n  Main = Deep(5)\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, 13);
    EXPECT_EQ(sc.Error().Line, 3);
}

TEST(ScriptErrors, UndefinedNamesAndUnsupportedUse)
{
    ScriptControl sc;
    sc.Eval("NoSuchFunction(1)");
    EXPECT_EQ(sc.Error().Number, 13);
    EXPECT_EQ(sc.Error().Description, "Type mismatch: 'NoSuchFunction'");
    EXPECT_TRUE(sc.Eval("NoSuchVariable").isEmpty());
    EXPECT_EQ(sc.Error().Number, 0);
    sc.Eval("MsgBox(\"hi\")");
    EXPECT_EQ(sc.Error().Number, 70);
    sc.Eval("InputBox(\"hi\")");
    EXPECT_EQ(sc.Error().Number, 70);
    sc.Eval("CreateObject(\"Scripting.FileSystemObject\")");
    EXPECT_EQ(sc.Error().Number, 429);
    // Functions VBScript does not have are not defined.
    sc.Eval("IIf(True, 1, 2)");
    EXPECT_EQ(sc.Error().Number, 13);
    sc.Eval("Nz(Null, 0)");
    EXPECT_EQ(sc.Error().Number, 13);
}

TEST(ScriptErrors, EndlessLoopsStopOnTheBudget)
{
    ScriptControl sc;
    sc.setInstructionLimit(100000);
    // On Error Resume Next does not swallow the budget error.
    ASSERT_TRUE(sc.AddCode("Function Main()\n On Error Resume Next\n Do\n  i = i + 1\n Loop\nEnd Function"));
    sc.Eval("Main");
    EXPECT_EQ(sc.Error().Number, err::InstructionBudget);
    EXPECT_FALSE(sc.Error().Description.isEmpty());
    ASSERT_TRUE(sc.AddCode("Function Spin()\n Do: Loop\nEnd Function"));
    sc.Eval("Spin()");
    EXPECT_EQ(sc.Error().Number, err::InstructionBudget);
    // Endless recursion stops with "Out of stack space".
    ASSERT_TRUE(sc.AddCode("Function R(n)\n R = R(n + 1)\nEnd Function"));
    sc.Eval("R(1)");
    EXPECT_EQ(sc.Error().Number, 28);
    // The budget counts per evaluation: the host stays usable.
    EXPECT_EQ(toLong(sc.Eval("1 + 1")), 2);
}

TEST(ScriptHostObjects, DefaultMemberPropertiesAndMethods)
{
    ScriptControl sc;
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("name", Variant(QStringLiteral("Ann")));
    row->fields.insert("code", Variant::fromLong(7));
    ASSERT_TRUE(sc.AddObject("Src", row));
    EXPECT_EQ(str(sc.Eval("Src(\"Name\")")), "Ann");
    EXPECT_EQ(str(sc.Eval("Src(\"Name\") & Src(\"code\")")), "Ann7");
    EXPECT_EQ(str(sc.Eval("Src.Item(\"code\") + 1")), "8");
    EXPECT_EQ(str(sc.Eval("Src.Count")), "2");
    EXPECT_EQ(str(sc.Eval("TypeName(Src)")), "FakeRow");
    EXPECT_TRUE(sc.Eval("IsObject(Src)").boolVal());
    sc.Eval("Src(\"missing\")");
    EXPECT_EQ(sc.Error().Number, 3265);
    sc.Eval("Src.NoSuch");
    EXPECT_EQ(sc.Error().Number, 438);
    EXPECT_EQ(sc.Error().Description, "Object doesn't support this property or method: 'NoSuch'");
    // Host errors keep their own numbers (3021: no current record).
    sc.Eval("Src.Fail");
    EXPECT_EQ(sc.Error().Number, 3021);
    // Property put through the default member.
    ASSERT_TRUE(sc.AddCode("Src(\"name\") = \"Bob\""));
    EXPECT_EQ(str(row->fields.value("name")), "Bob");
    // Set, Is and Nothing.
    ASSERT_TRUE(sc.AddCode("Function Main()\n Set r = Src\n Main = (r Is Src) & (r Is Nothing)\n Set r = Nothing\n Main = Main & (r Is Nothing)\nEnd Function"));
    EXPECT_EQ(str(sc.Eval("Main")), "TrueFalseTrue");
    ASSERT_TRUE(sc.AddCode("Function Bad()\n Set r = 5\nEnd Function"));
    sc.Eval("Bad()");
    EXPECT_EQ(sc.Error().Number, 424);
    ASSERT_TRUE(sc.AddCode("Function Bad2()\n x = 5\n Bad2 = x.Name\nEnd Function"));
    sc.Eval("Bad2()");
    EXPECT_EQ(sc.Error().Number, 424);
}

TEST(ScriptHostObjects, MemberNamesResolveOncePerCallSite)
{
    ScriptControl sc;
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("a", Variant::fromLong(1));
    ASSERT_TRUE(sc.AddObject("Src", row));
    ASSERT_TRUE(sc.AddCode("Function Main()\n For i = 1 To 100\n  n = n + Src.Count\n Next\n Main = n\nEnd Function"));
    EXPECT_EQ(toLong(sc.Eval("Main")), 100);
    EXPECT_EQ(row->memberLookups, 1);
}

TEST(ScriptHostObjects, AddObjectRefusesBadAndDuplicateNames)
{
    ScriptControl sc;
    auto row = std::make_shared<FakeRow>();
    EXPECT_FALSE(sc.AddObject("My Step", row));
    EXPECT_EQ(sc.Error().Number, 5);
    EXPECT_FALSE(sc.AddObject("1st", row));
    EXPECT_FALSE(sc.AddObject("If", row));
    EXPECT_TRUE(sc.AddObject("Step_1", row));
    EXPECT_FALSE(sc.AddObject("STEP_1", row));
    EXPECT_EQ(sc.Error().Number, 457);
    // After Reset the name is free again.
    sc.Reset();
    EXPECT_TRUE(sc.AddObject("Step_1", row));

    // A name checked once is refused and bound as the name itself is, also
    // once a script gave the name another meaning and the host reset.
    PreparedName bad, step;
    EXPECT_FALSE(sc.PrepareName("My Step", bad));
    EXPECT_FALSE(sc.AddObject(bad, row));
    EXPECT_EQ(sc.Error().Number, 5);
    ASSERT_TRUE(sc.PrepareName("Step_2", step));
    EXPECT_TRUE(sc.AddObject(step, row));
    EXPECT_FALSE(sc.AddObject("STEP_2", row));
    EXPECT_EQ(sc.Error().Number, 457);
    ASSERT_TRUE(sc.AddCode("Function Step_2()\n Step_2 = 7\nEnd Function"));
    EXPECT_EQ(toLong(sc.Eval("Step_2()")), 7);
    sc.Reset();
    row->fields.insert("a", Variant::fromLong(3));
    EXPECT_TRUE(sc.AddObject(step, row));
    EXPECT_EQ(toLong(sc.Eval("Step_2(\"a\") + 1")), 4);
    EXPECT_FALSE(sc.AddObject(step, row));
    EXPECT_EQ(sc.Error().Number, 457);
}

// The formula host's helper: Steps(Step).ExecuteSql(sql, field).
class FakeNode : public IScriptObject {
public:
    int memberId(const QString& name) override { return name.compare("ExecuteSql", Qt::CaseInsensitive) == 0 ? 1 : UnknownMember; }
    Variant get(int id, std::span<Variant> args) override
    {
        if (id != 1 || args.size() != 2) raiseError(438);
        return Variant(toStr(args[0]) + "|" + toStr(args[1]));
    }
};

class FakeSteps : public IScriptObject {
public:
    std::shared_ptr<FakeNode> node = std::make_shared<FakeNode>();
    Variant get(int id, std::span<Variant> args) override
    {
        if (id != DefaultMember || args.size() != 1) raiseError(438);
        if (toStr(args[0]) != "Target") raiseError(5);
        return Variant::fromObject(node);
    }
};

TEST(ScriptHostObjects, SqlExecuteHelperCode)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddObject("Steps", std::make_shared<FakeSteps>()));
    QString helper = QStringList{"Private Function SQLExecute(Step, sql, FIELD)", "   Dim returnVal",
                                 "   Dim strField ", "   Dim strSql  ", "   strSql = sql",
                                 "   strField = FIELD   ", "   SQLExecute =  Steps(Step).ExecuteSql(strSql,strField)",
                                 "End Function"}
                         .join(QChar(13));
    ASSERT_TRUE(sc.AddCode(helper)) << sc.Error().Description.toStdString();
    ASSERT_TRUE(sc.AddCode("Function Main()\r\n Main = SQLExecute(\"Target\", \"select 1\", \"X\")\r\nEnd Function"));
    EXPECT_EQ(str(sc.Eval("Main")), "select 1|X");
}

TEST(ScriptHost, LaterDefinitionsReplaceEarlierOnesAndResetDropsAll)
{
    ScriptControl sc;
    ASSERT_TRUE(sc.AddCode("Function Main()\n Main = \"first\"\nEnd Function\nCounter = 1"));
    EXPECT_EQ(str(sc.Eval("Main")), "first");
    ASSERT_TRUE(sc.AddCode("Function main()\n Main = \"second\"\nEnd Function"));
    EXPECT_EQ(str(sc.Eval("Main")), "second");
    EXPECT_EQ(toLong(sc.Eval("Counter")), 1);
    sc.Reset();
    EXPECT_TRUE(sc.Eval("Main").isEmpty());          // no code any more
    EXPECT_TRUE(sc.Eval("Counter").isEmpty());
    EXPECT_EQ(sc.Error().Number, 0);
}

TEST(ScriptHost, CompiledTextsAreCachedAcrossReset)
{
    ScriptControl sc;
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("f", Variant::fromLong(3));
    QString formula = "Function Main()\r\n Main = Src(\"F\") * 2\r\nEnd Function";
    for (int i = 0; i < 50; ++i) {
        sc.Reset();
        ASSERT_TRUE(sc.AddObject("Src", row));
        ASSERT_TRUE(sc.AddCode(formula));
        EXPECT_EQ(toLong(sc.Eval("Main")), 6);
        EXPECT_EQ(toLong(sc.Eval("Src(\"f\")")), 3);
    }
    EXPECT_EQ(sc.compileCount(), 3u);   // the code, "Main" and the field reference, once each
}

TEST(ScriptHost, GlobalStatementsRunAndReportTheirErrors)
{
    ScriptControl sc;
    EXPECT_FALSE(sc.AddCode("x = 1\ny = x / 0\n"));
    EXPECT_EQ(sc.Error().Number, 11);
    EXPECT_EQ(sc.Error().Line, 2);
    EXPECT_EQ(toLong(sc.Eval("x")), 1);
    sc.Eval("1 +");
    EXPECT_EQ(sc.Error().Number, 1023);
    EXPECT_EQ(sc.Error().Line, 1);
}

TEST(ScriptValues, ConversionsAtTheDatabaseBoundary)
{
    EXPECT_TRUE(fromQVariant(QVariant()).isEmpty());
    EXPECT_TRUE(fromQVariant(QVariant(QMetaType::fromType<int>())).isNull());
    EXPECT_EQ(fromQVariant(QVariant(42)).type(), VarType::Long);
    EXPECT_EQ(fromQVariant(QVariant(qlonglong(5000000000))).type(), VarType::Double);
    Variant big = fromQVariant(QVariant(qlonglong(9007199254740993LL)));   // 2^53 + 1: not exact as a Double
    EXPECT_EQ(big.type(), VarType::Decimal);
    EXPECT_EQ(toStr(big), "9007199254740993");
    EXPECT_EQ(toQVariant(big).toLongLong(), 9007199254740993LL);
    Variant dt = fromQVariant(QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 30, 15))));
    EXPECT_EQ(toStr(dt), "2/29/2024 1:30:15 PM");
    EXPECT_EQ(toQVariant(dt).toDateTime(), QDateTime(QDate(2024, 2, 29), QTime(13, 30, 15)));
    EXPECT_EQ(toQVariant(Variant::fromDate(-1.25)).toDateTime(), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_TRUE(toQVariant(Variant::null()).isNull());
    EXPECT_FALSE(toQVariant(Variant()).isValid());
    // A Decimal passed through a formula unchanged is written back unchanged.
    ScriptControl sc;
    auto row = std::make_shared<FakeRow>();
    row->fields.insert("id", big);
    ASSERT_TRUE(sc.AddObject("Src", row));
    EXPECT_EQ(toQVariant(sc.Eval("Src(\"id\")")).toLongLong(), 9007199254740993LL);
    EXPECT_EQ(toStr(sc.Eval("Src(\"id\") + 1")), "9007199254740994");
}

TEST(ScriptValues, TextAndNumberConversions)
{
    EXPECT_EQ(formatDouble(1e20), "1E+20");
    EXPECT_EQ(formatDouble(1e-5), "1E-05");
    EXPECT_EQ(formatDouble(0.0001), "0.0001");
    EXPECT_EQ(formatDouble(123456789012345.0), "123456789012345");
    EXPECT_EQ(formatDouble(1e15), "1E+15");
    EXPECT_EQ(formatDouble(-0.0), "0");
    EXPECT_EQ(formatCurrency(-12345), "-1.2345");
    EXPECT_EQ(formatCurrency(120000), "12");
    EXPECT_EQ(*parseNumber(u" 1,234.5 "), 1234.5);
    EXPECT_EQ(*parseNumber(u"-1e3"), -1000);
    EXPECT_EQ(*parseNumber(u"&H10"), 16);
    EXPECT_FALSE(parseNumber(u""));
    EXPECT_FALSE(parseNumber(u"12abc"));
    EXPECT_FALSE(parseNumber(u"."));
    // Banker's rounding in CInt and CLng.
    EXPECT_EQ(toInteger(Variant::fromDouble(2.5)), 2);
    EXPECT_EQ(toInteger(Variant::fromDouble(3.5)), 4);
    EXPECT_EQ(toLong(Variant::fromDouble(-2.5)), -2);
    EXPECT_EQ(toLong(Variant(QStringLiteral("0.5"))), 0);
    EXPECT_THROW(toInteger(Variant::fromLong(32768)), ScriptError);
    EXPECT_THROW(toLong(Variant::null()), ScriptError);
    EXPECT_THROW(toDouble(Variant(QStringLiteral("x"))), ScriptError);
    EXPECT_TRUE(toBool(Variant(QStringLiteral("true"))));
    EXPECT_EQ(toCurrency(Variant(QStringLiteral("1.00005"))), 10000);   // half to even
    EXPECT_EQ(toCurrency(Variant(QStringLiteral("1.00015"))), 10002);
    // Dates: US order, month ends, leap years, times alone.
    EXPECT_EQ(formatDate(*parseDate(u"2/29/2024")), "2/29/2024");
    EXPECT_FALSE(parseDate(u"2/29/2023"));
    EXPECT_FALSE(parseDate(u"4/31/2023"));
    EXPECT_EQ(formatDate(*parseDate(u"December 31, 1999 11:59:59 PM")), "12/31/1999 11:59:59 PM");
    EXPECT_EQ(formatDate(*parseDate(u"15:04")), "3:04:00 PM");
    EXPECT_EQ(formatDate(*parseDate(u"12:00 AM")), "12:00:00 AM");
    EXPECT_EQ(formatDate(*parseDate(u"1-Mar-05")), "3/1/2005");
    EXPECT_EQ(formatDate(0), "12:00:00 AM");
    EXPECT_EQ(formatDate(-1.25), "12/29/1899 6:00:00 AM");
    EXPECT_EQ(formatDate(2958465), "12/31/9999");
    EXPECT_FALSE(parseDate(u"hello"));
    EXPECT_FALSE(parseDate(u"5"));
}

} // namespace
