// Full runs over SQLite files: each storage operation, lookup keys,
// formulas and field references, with the statistics and the execution row
// checked against the counting rules.

#include "RunFixture.h"

#include <QFile>

namespace {

class Operations : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        sourceTable({"1, 'Ann', 'Oslo'", "2, 'Bob', 'Rome'", "3, 'Cy', 'Lyon'"});
        exec("target", {"CREATE TABLE tgt (id INTEGER PRIMARY KEY, name TEXT NOT NULL, city TEXT)"});
        start = flow.node(aStart, "START");
        src = flow.source("SRC", "source", conn("source"), "table", "src");
        stop = flow.node(aStop, "END");
    }

    // START -> SRC -> steps... -> END, then one full run.
    tStatistic run(std::initializer_list<cShapeRef> steps) {
        cShapeRef prev = src;
        flow.link(start, src);
        for (const cShapeRef& s : steps) {
            flow.link(prev, s);
            prev = s;
        }
        flow.link(prev, stop);
        return runAgain();
    }
    tStatistic runAgain() {
        process.Run();
        return process.Statistics();
    }
    cShapeRef keyed(const QString& operation) {
        return flow.storage("TGT", "target", conn("target"), "tgt", operation,
                            {{"id", "SRC(\"id\")", "SRC(\"id\")"},
                             {"name", "SRC(\"name\")", ""},
                             {"city", "SRC(\"city\")", ""}});
    }
    QStringList target() { return rows("target", "SELECT * FROM tgt ORDER BY id"); }

    clsProcess process;
    Flow flow{process};
    cShapeRef start, src, stop;
};

TEST_F(Operations, UpdateInsertByKeyInsertsUpdatesAndLeavesEqualRowsUncounted) {
    exec("target", {"INSERT INTO tgt VALUES (1, 'Ann', 'Oslo')", "INSERT INTO tgt VALUES (2, 'Bo', 'Pisa')"});
    const tStatistic st = run({keyed("UpdateInsert")});
    EXPECT_EQ(target(), QStringList({"1|Ann|Oslo", "2|Bob|Rome", "3|Cy|Lyon"}));
    EXPECT_EQ(st.Success, (Counts{0, 1, 1, 0, 0, 2}));
    EXPECT_EQ(st.Totals, (Counts{0, 1, 1, 0, 0, 2}));
    EXPECT_EQ(st.Errors, Counts{});
    EXPECT_EQ(st.Skipped, Counts{});
    EXPECT_EQ(st.CurrRecord, 3);
    EXPECT_EQ(st.TotalRecords, 3);
    ASSERT_EQ(executions().size(), 1u);
    expectExecutionRow(executions()[0], st, "Completed");
    EXPECT_TRUE(errorRows().empty());

    // Again over the full target: nothing to change, nothing counted, a second
    // row. The source is read as it is now, not replayed from the first run,
    // and nothing of it is held once the run is over.
    exec("source", {"INSERT INTO src VALUES (4, 'Dee', 'Bonn')"});
    const tStatistic again = runAgain();
    EXPECT_EQ(again.Totals, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(again.TotalRecords, 4);
    EXPECT_FALSE(process.SourceData().isOpen());
    ASSERT_EQ(executions().size(), 2u);
    expectExecutionRow(executions()[1], again, "Completed");
    EXPECT_NE(executions()[0].value("ID"), executions()[1].value("ID"));
}

TEST_F(Operations, AStepOnAnotherConnectionNameSeesRowsWrittenEarlierInTheRun) {
    // TGT writes through "target"; LOOK finds that row through "other" (the
    // same file) and COPY writes what it found, within the same record.
    exec("target", {"CREATE TABLE seen (id INTEGER, name TEXT)"});
    cShapeRef look = flow.storage("LOOK", "other", conn("target"), "tgt", "Lookup", {{"id", "", "SRC(\"id\")"}});
    cShapeRef copy = flow.storage("COPY", "other", conn("target"), "seen", "Insert",
                                  {{"id", "LOOK(\"id\")", ""}, {"name", "LOOK(\"name\")", ""}});
    const tStatistic st = run({keyed("Insert"), look, copy});
    EXPECT_EQ(rows("target", "SELECT * FROM seen ORDER BY id"), QStringList({"1|Ann", "2|Bob", "3|Cy"}));
    EXPECT_EQ(st.Errors, Counts{});
    EXPECT_TRUE(errorRows().empty());
}

TEST_F(Operations, UpdateInsertWithoutKeysAndInsertAlwaysAddRows) {
    exec("target", {"CREATE TABLE log (id INTEGER, name TEXT)"});
    cShapeRef a = flow.storage("A", "target", conn("target"), "log", "UpdateInsert",
                               {{"id", "SRC(\"id\")", ""}, {"name", "SRC(\"name\")", ""}});
    // Insert ignores its lookup key.
    cShapeRef b = flow.storage("B", "target", conn("target"), "log", "Insert",
                               {{"id", "SRC(\"id\")", "SRC(\"id\")"}, {"name", "SRC(\"city\")", ""}});
    tStatistic st = run({a, b});
    EXPECT_EQ(st.Success, (Counts{0, 6, 0, 0, 0, 6}));
    EXPECT_EQ(st.Totals, (Counts{0, 6, 0, 0, 0, 6}));
    st = runAgain();
    EXPECT_EQ(st.Totals, (Counts{0, 6, 0, 0, 0, 6}));
    EXPECT_EQ(rows("target", "SELECT COUNT(*) FROM log"), QStringList{"12"});
    expectExecutionRow(executions().back(), st, "Completed");
}

TEST_F(Operations, AFailingInsertIsCountedSavedAndTheRunGoesOn) {
    exec("target", {"INSERT INTO tgt VALUES (2, 'taken', NULL)"});
    const tStatistic st = run({keyed("Insert")});
    EXPECT_EQ(target(), QStringList({"1|Ann|Oslo", "2|taken|~", "3|Cy|Lyon"}));
    EXPECT_EQ(st.Success, (Counts{0, 2, 0, 0, 0, 2}));
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(st.Totals, (Counts{0, 3, 0, 0, 0, 3}));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].value("RECORD").toInt(), 1);  // records processed before it
    EXPECT_TRUE(errors[0].value("ERRDESC").toString().contains(": ")) << "time prefix";
    EXPECT_TRUE(process.Log()->Text().contains(errors[0].value("ERRDESC").toString()));
    expectExecutionRow(executions().at(0), st, "Completed with errors");
}

TEST_F(Operations, ATableThatRollsBackOnConflictLosesOnlyTheFailingRecord) {
    // SQLite ends the whole transaction on this conflict, not just the
    // statement: records written before it in the run must stay.
    exec("target", {"CREATE TABLE strict (id INTEGER PRIMARY KEY ON CONFLICT ROLLBACK, name TEXT)",
                    "INSERT INTO strict VALUES (2, 'taken')"});
    cShapeRef step = flow.storage("STRICT", "target", conn("target"), "strict", "Insert",
                                  {{"id", "SRC(\"id\")", ""}, {"name", "SRC(\"name\")", ""}});
    const tStatistic st = run({step});
    EXPECT_EQ(rows("target", "SELECT * FROM strict ORDER BY id"), QStringList({"1|Ann", "2|taken", "3|Cy"}));
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(errorRows().size(), 1u);
}

TEST_F(Operations, AConstraintOnOneFieldFailsThatRecordWithItsContext) {
    exec("source", {"UPDATE src SET name = NULL WHERE id = 3"});
    const tStatistic st = run({keyed("UpdateInsert")});
    EXPECT_EQ(target(), QStringList({"1|Ann|Oslo", "2|Bob|Rome"}));
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(st.Totals, (Counts{0, 3, 0, 0, 0, 3}));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].value("RECORD").toInt(), 2);
    expectExecutionRow(executions().at(0), st, "Completed with errors");
}

TEST_F(Operations, UpdateChangesFoundRowsAndFailsWhereNoneIsFound) {
    exec("target", {"INSERT INTO tgt VALUES (1, 'x', 'x')", "INSERT INTO tgt VALUES (3, 'Cy', 'Lyon')"});
    const tStatistic st = run({keyed("Update")});
    EXPECT_EQ(target(), QStringList({"1|Ann|Oslo", "3|Cy|Lyon"}));
    // Record 2 finds no row: a saved error, counted in no kind but in Totals(5).
    EXPECT_EQ(st.Success, (Counts{0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(st.Errors, Counts{});
    EXPECT_EQ(st.Totals, (Counts{0, 0, 1, 0, 0, 2}));
    EXPECT_EQ(errorRows().size(), 1u);
    expectExecutionRow(executions().at(0), st, "Completed with errors");
}

TEST_F(Operations, DeleteRemovesFoundRowsOnly) {
    exec("target", {"INSERT INTO tgt VALUES (1, 'a', NULL)", "INSERT INTO tgt VALUES (3, 'c', NULL)",
                    "INSERT INTO tgt VALUES (4, 'keep', NULL)"});
    const tStatistic st = run({keyed("Delete")});
    EXPECT_EQ(target(), QStringList{"4|keep|~"});
    EXPECT_EQ(st.Success, (Counts{0, 0, 0, 0, 2, 2}));
    EXPECT_EQ(st.Totals, (Counts{0, 0, 0, 0, 2, 3}));
    EXPECT_EQ(errorRows().size(), 1u);
    expectExecutionRow(executions().at(0), st, "Completed with errors");
    EXPECT_EQ(executions().at(0).value("RDELETED").toInt(), 2);
}

TEST_F(Operations, LookupStepFeedsTheNextStepAndAMissOnlyFailsTheReader) {
    exec("target", {"CREATE TABLE cities (code TEXT PRIMARY KEY, country TEXT)",
                    "INSERT INTO cities VALUES ('Oslo', 'Norway'), ('Rome', 'Italy')"});
    cShapeRef city = flow.storage("CITY", "target", conn("target"), "cities", "Lookup",
                                  {{"code", "", "SRC(\"city\")"}, {"country", "", ""}});
    cShapeRef tgt = flow.storage("TGT", "target", conn("target"), "tgt", "UpdateInsert",
                                 {{"id", "SRC(\"id\")", "SRC(\"id\")"},
                                  {"name", "SRC(\"name\")", ""},
                                  {"city", "CITY(\"country\")", ""}});
    const tStatistic st = run({city, tgt});
    // Lyon is not in the table: the lookup itself succeeds, the reference to
    // its missing row fails the new row.
    EXPECT_EQ(target(), QStringList({"1|Ann|Norway", "2|Bob|Italy"}));
    EXPECT_EQ(st.Success, (Counts{0, 2, 0, 3, 0, 5}));
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(st.Totals, (Counts{0, 3, 0, 3, 0, 6}));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].value("ERRDESC").toString().contains("country --> city"))
        << errors[0].value("ERRDESC").toString().toStdString();
    expectExecutionRow(executions().at(0), st, "Completed with errors");
}

TEST_F(Operations, CompositeKeysMatchOnEveryTermAndKeepKeyFields) {
    exec("source", {"CREATE TABLE pairs (a INTEGER, b TEXT, v TEXT)",
                    "INSERT INTO pairs VALUES (1, 'x', 'v1'), (1, 'y', 'v2'), (2, 'x', 'v3'), (1, 'O''Neil', 'v4')"});
    exec("target", {"CREATE TABLE p (a INTEGER, b TEXT, v TEXT, PRIMARY KEY (a, b))",
                    "INSERT INTO p VALUES (1, 'y', 'old'), (1, 'O''Neil', 'old')"});
    src->dataRecord()->Source = "pairs";
    // The key fields map to other values: an existing row keeps its keys.
    cShapeRef p = flow.storage("P", "target", conn("target"), "p", "UpdateInsert",
                               {{"a", "SRC(\"a\")", "SRC(\"a\")"},
                                {"b", "SRC(\"b\")", "SRC(\"b\")"},
                                {"v", "SRC(\"v\")", ""}});
    const tStatistic st = run({p});
    EXPECT_EQ(rows("target", "SELECT * FROM p ORDER BY a, b"),
              QStringList({"1|O'Neil|v4", "1|x|v1", "1|y|v2", "2|x|v3"}));
    EXPECT_EQ(st.Success, (Counts{0, 2, 2, 0, 0, 4}));
    EXPECT_EQ(st.Totals, (Counts{0, 2, 2, 0, 0, 4}));
    expectExecutionRow(executions().at(0), st, "Completed");
}

TEST_F(Operations, ANullKeyFailsTheStepInsteadOfMatchingOtherRows) {
    exec("source", {"INSERT INTO src VALUES (NULL, 'Nil', 'Nowhere')"});
    exec("target", {"INSERT INTO tgt VALUES (1, 'Ann', 'Oslo')", "INSERT INTO tgt VALUES (2, 'Bob', 'Rome')"});
    cShapeRef byCity = flow.storage("TGT", "target", conn("target"), "tgt", "Update",
                                    {{"id", "", "SRC(\"id\")"}, {"name", "SRC(\"name\")", ""}});
    const tStatistic st = run({byCity});
    // Row 1 and 2 unchanged by the Null record (they are "updated" to their own values).
    EXPECT_EQ(target(), QStringList({"1|Ann|Oslo", "2|Bob|Rome"}));
    EXPECT_EQ(st.Success, Counts{});
    EXPECT_EQ(st.Totals, (Counts{0, 0, 0, 0, 0, 2}));  // record 3 (no row) and record 4 (Null)
    EXPECT_TRUE(process.Log()->Text().contains("Lookup cannot be used with a NULL value"));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].value("RECORD").toInt(), 3);
    EXPECT_TRUE(errors[1].value("ERRDESC").toString().contains("Lookup cannot be used with a NULL value"));
    expectExecutionRow(executions().at(0), st, "Completed with errors");
}

TEST_F(Operations, AKeyNamingAFieldItsStepLacksFailsAlikeReadDirectlyOrThroughAnExpression) {
    // A key that is only Step("Field") is read without the interpreter; the
    // same reference inside an expression is the interpreter's: both fail
    // with the collection's message and number.
    cShapeRef plain = flow.storage("TGT", "target", conn("target"), "tgt", "UpdateInsert",
                                   {{"id", "SRC(\"id\")", "SRC(\"nope\")"}});
    cShapeRef wrapped = flow.storage("TGT2", "target", conn("target"), "tgt", "UpdateInsert",
                                     {{"id", "SRC(\"id\")", "(SRC(\"nope\"))"}});
    run({plain, wrapped});
    EXPECT_TRUE(target().isEmpty());
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 6u);
    const QString item = QStringLiteral(
        "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    EXPECT_TRUE(errors[0].value("ERRDESC").toString().contains("TGT: SRC(\"nope\") --> id " + item))
        << errors[0].value("ERRDESC").toString().toStdString();
    EXPECT_TRUE(errors[1].value("ERRDESC").toString().contains("TGT2: (SRC(\"nope\")) --> id " + item))
        << errors[1].value("ERRDESC").toString().toStdString();
    EXPECT_EQ(errors[0].value("ERRNUMBER"), errors[1].value("ERRNUMBER"));
}

TEST_F(Operations, FormulasComputeValuesAndKeysAndReachTheDatabase) {
    exec("target", {"CREATE TABLE cities (code TEXT, country TEXT)",
                    "INSERT INTO cities VALUES ('Oslo', 'Norway'), ('Rome', 'Italy'), ('Lyon', 'France')",
                    "INSERT INTO tgt VALUES (20, 'before', NULL)"});
    process.Formulas()->AddFormula("Label", "Function Main()\n  Main = UCase(SRC(\"name\")) & \"-\" & SRC(\"id\")\nEnd Function");
    // Each evaluation leaves a row in hits: a statement without rows gives Empty.
    exec("target", {"CREATE TABLE hits (n INTEGER)"});
    process.Formulas()->AddFormula(
        "Key", "Function Main()\r\n  SQLExecute \"TGT\", \"INSERT INTO hits VALUES (1)\", \"n\"\r\n  Main = SRC(\"id\") * 10\r\nEnd Function");
    process.Formulas()->AddFormula(
        "Country",
        "Function Main()\n  Main = SQLExecute(\"TGT\", \"SELECT country FROM cities WHERE code = '\" & SRC(\"city\") & \"'\", \"country\")\nEnd Function");
    cShapeRef tgt = flow.storage("TGT", "target", conn("target"), "tgt", "UpdateInsert",
                                 {{"id", "FORMULA!Key", "FORMULA!Key"},
                                  {"name", "FORMULA!Label", ""},
                                  {"city", "FORMULA!Country", ""}});
    const tStatistic st = run({tgt});
    EXPECT_EQ(target(), QStringList({"10|ANN-1|Norway", "20|BOB-2|Italy", "30|CY-3|France"}));
    EXPECT_EQ(st.Success, (Counts{0, 2, 1, 0, 0, 3}));
    EXPECT_TRUE(errorRows().empty()) << process.Log()->Text().toStdString();
    expectExecutionRow(executions().at(0), st, "Completed");
    // The key once per record, the written id once per new row (records 1 and 3).
    EXPECT_EQ(rows("target", "SELECT COUNT(*) FROM hits"), QStringList{"5"});
}

TEST_F(Operations, FormulasUseClassesRegExpsAndStepsAsRecordsets) {
    // A class, a regular expression and the step's recordset members; the
    // lookup key reads the source through its Fields collection.
    process.Formulas()->AddFormula(
        "Label",
        "Class Tag\n  Public Prefix\n  Public Function Wrap(s)\n    Wrap = Prefix & s\n  End Function\nEnd Class\n"
        "Function Main()\n"
        "  Set t = New Tag: t.Prefix = \"#\"\n"
        "  Set re = New RegExp: re.Pattern = \"^(\\w)\\w*$\"\n"
        "  With SRC.Fields\n"
        "    Main = t.Wrap(re.Replace(.Item(\"name\").Value, \"$1\")) & \"/\" & SRC(0) & \"/\" & .Count & .Item(1).Name & SRC.EOF\n"
        "  End With\n"
        "End Function");
    process.Formulas()->AddFormula("Key", "Function Main()\n  Main = SRC.Fields(\"id\").Value\nEnd Function");
    // Moving the source from a formula would skip records: it is refused.
    process.Formulas()->AddFormula("Moves", "Function Main()\n  SRC.MoveNext\n  Main = \"moved\"\nEnd Function");
    cShapeRef tgt = flow.storage("TGT", "target", conn("target"), "tgt", "UpdateInsert",
                                 {{"id", "SRC(\"id\")", "FORMULA!Key"},
                                  {"name", "FORMULA!Label", ""},
                                  {"city", "FORMULA!Moves", ""}});
    const tStatistic st = run({tgt});
    EXPECT_EQ(target(), QStringList({"1|#A/1/3nameFalse|~", "2|#B/2/3nameFalse|~", "3|#C/3/3nameFalse|~"}));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 3u) << process.Log()->Text().toStdString();
    EXPECT_TRUE(errors[0].value("ERRDESC").toString().contains("cannot move or change the records of step 'SRC'"))
        << errors[0].value("ERRDESC").toString().toStdString();
}

TEST_F(Operations, AFieldObjectStandsForItsValueInFormulas) {
    // `Step.Fields("x") & ""` turns a Null field into empty text, as the value itself does.
    exec("source", {"INSERT INTO src VALUES (4, 'Dee', NULL)"});
    process.Formulas()->AddFormula(
        "Label", "Function Main()\n  Main = \"[\" & SRC.Fields.Item(\"city\") & \"]\" & SRC.Fields(\"name\")\nEnd Function");
    process.Formulas()->AddFormula("City", "Function Main()\n  Main = Len(SRC.Fields(\"city\") & \"\")\nEnd Function");
    cShapeRef tgt = flow.storage("TGT", "target", conn("target"), "tgt", "Insert",
                                 {{"id", "SRC(\"id\")", ""}, {"name", "FORMULA!Label", ""}, {"city", "FORMULA!City", ""}});
    run({tgt});
    EXPECT_EQ(target(), QStringList({"1|[Oslo]Ann|4", "2|[Rome]Bob|4", "3|[Lyon]Cy|4", "4|[]Dee|0"}));
    EXPECT_TRUE(errorRows().empty()) << process.Log()->Text().toStdString();
}

TEST_F(Operations, StepObjectsDescribeTheirRecordsetAndFields) {
    exec("target", {"CREATE TABLE info (n INTEGER, text TEXT)"});
    process.Formulas()->AddFormula(
        "Info",
        "Function Main()\n"
        "  For Each f In SRC.Fields\n"
        "    r = r & f.Name & \":\" & f.Type & \":\" & f.ActualSize & \":\" & (f.Value = f.OriginalValue) & (f = f.UnderlyingValue) & \",\"\n"
        "  Next\n"
        "  Set c = SRC(\"city\")\n"
        "  r = r & SRC.AbsolutePosition & SRC.State & SRC.BOF & TypeName(SRC.Fields) & TypeName(c) & \"|\"\n"
        "  r = r & TGT.Fields.Count & TGT(\"name\").Value & TGT.EOF & TGT.RecordCount & \"|\" & Steps(\"SRC\").sCaption & (InStr(SRC.Source, \"src\") > 0)\n"
        "  Main = r\n"
        "End Function");
    cShapeRef log = flow.storage("LOG", "target", conn("target"), "info", "Insert",
                                 {{"n", "SRC(\"id\")", ""}, {"text", "FORMULA!Info", ""}});
    run({keyed("UpdateInsert"), log});
    const QStringList info = rows("target", "SELECT text FROM info ORDER BY n");
    ASSERT_EQ(info.size(), 3) << process.Log()->Text().toStdString();
    EXPECT_EQ(info[1], "id:3:4:TrueTrue,name:203:3:TrueTrue,city:203:4:TrueTrue,21FalseFieldsField|3BobFalse1|SRCTrue");
    EXPECT_TRUE(errorRows().empty()) << process.Log()->Text().toStdString();
}

TEST_F(Operations, AnUnwritableRunDataFolderDoesNotStopTheRun) {
    exec("target", {"INSERT INTO tgt VALUES (2, 'taken', NULL)"});
    const QString notAFolder = dir.filePath("plain-file");
    QFile f(notAFolder);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    qputenv("MERIDOX_HOME", notAFolder.toUtf8());
    const tStatistic st = run({keyed("Insert")});
    EXPECT_EQ(st.CurrRecord, 3);
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(target(), QStringList({"1|Ann|Oslo", "2|taken|~", "3|Cy|Lyon"}));
    const QString text = process.Log()->Text();
    EXPECT_EQ(text.count("errors store"), 1) << text.toStdString();
    EXPECT_TRUE(text.contains("execution row could not be saved")) << text.toStdString();
    EXPECT_EQ(process.LastOutcome(), RunOutcome::CompletedWithErrors);
}

TEST_F(Operations, AMissingFormulaSavesOneRowPerRecordAndWritesNull) {
    exec("target", {"CREATE TABLE loose (id INTEGER, name TEXT)"});
    cShapeRef t = flow.storage("T", "target", conn("target"), "loose", "Insert",
                               {{"id", "SRC(\"id\")", ""}, {"name", "FORMULA!Nowhere", ""}});
    const tStatistic st = run({t});
    EXPECT_EQ(rows("target", "SELECT * FROM loose ORDER BY id"), QStringList({"1|~", "2|~", "3|~"}));
    EXPECT_EQ(st.Success, (Counts{0, 3, 0, 0, 0, 3}));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2].value("RECORD").toInt(), 2);
    // Error rows were saved: the run does not claim a clean completion.
    expectExecutionRow(executions().at(0), st, "Completed with errors");
}

TEST_F(Operations, AnEmptySourceStartsAndEndsWithARowOfNothing) {
    exec("source", {"DELETE FROM src"});
    int started = 0, ended = 0, added = 0;
    tStatistic atEnd;
    QObject::connect(&process, &clsProcess::ProcessStarted, [&](const tStatistic&) { ++started; });
    QObject::connect(&process, &clsProcess::StatisticsAdded, [&](const tStatistic&) { ++added; });
    QObject::connect(&process, &clsProcess::IntegrationEnd, [&](const tStatistic& s) {
        ++ended;
        atEnd = s;
    });
    const tStatistic st = run({keyed("UpdateInsert")});
    EXPECT_EQ(started, 1);
    EXPECT_EQ(added, 0);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(atEnd.CurrRecord, 0);
    EXPECT_EQ(st.TotalRecords, 0);
    EXPECT_TRUE(st.EndTime.isValid());
    ASSERT_EQ(executions().size(), 1u);
    expectExecutionRow(executions()[0], st, "Completed");
    EXPECT_EQ(executions()[0].value("ROWS").toInt(), 0);
}

}  // namespace

namespace {

TEST_F(Operations, AFlowWritingIntoItsOwnSourceReadsTheRowsOfItsStartOnly) {
    // Source and target in one SQLite file, through one connection name and
    // through two, with the nodes in chain order and in the designer's
    // template order (START, TARGET, END, SOURCE).
    for (int variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE(variant);
        const bool twoNames = variant & 1;
        const bool templateOrder = variant & 2;
        const QString db = QString("self%1").arg(variant);
        exec(db, {"CREATE TABLE src (id INTEGER, name TEXT)", "INSERT INTO src VALUES (1, 'Ann'), (2, 'Bob'), (3, 'Cy')"});
        clsProcess p;
        Flow f(p);
        auto source = [&] { return f.source("SRC", "db", conn(db), "table", "src"); };
        auto target = [&] {
            return f.storage("TGT", twoNames ? "again" : "db", conn(db), "src", "Insert",
                             {{"id", "SRC(\"id\")", ""}, {"name", "SRC(\"name\")", ""}});
        };
        cShapeRef b = f.node(aStart, "START");
        cShapeRef s, t, e;
        if (templateOrder) {
            t = target();
            e = f.node(aStop, "END");
            s = source();
        } else {
            s = source();
            t = target();
            e = f.node(aStop, "END");
        }
        f.chain({b, s, t, e});
        p.Run();
        const tStatistic st = p.Statistics();
        EXPECT_EQ(p.LastOutcome(), RunOutcome::Completed) << p.Log()->Text().toStdString();
        EXPECT_EQ(st.TotalRecords, 3);
        EXPECT_EQ(st.CurrRecord, 3);
        EXPECT_EQ(st.Success, (Counts{0, 3, 0, 0, 0, 3}));
        EXPECT_EQ(rows(db, "SELECT COUNT(*) FROM src"), QStringList{"6"});
    }
}

TEST_F(Operations, ROWSCountsTheRowsOfAnSqlSourceItRead) {
    // A statement that no COUNT(*) can wrap.
    src->dataRecord()->sourcetype = "sql";
    src->dataRecord()->Source = "PRAGMA table_info(src)";
    cShapeRef t = flow.storage("TGT", "target", conn("target"), "tgt", "Insert",
                               {{"id", "SRC(\"cid\")", ""}, {"name", "SRC(\"name\")", ""}});
    const tStatistic st = run({t});
    EXPECT_EQ(target(), QStringList({"0|id|~", "1|name|~", "2|city|~"}));
    EXPECT_EQ(st.TotalRecords, 3);
    expectExecutionRow(executions().at(0), st, "Completed");
}

TEST_F(Operations, AStorageStepIsAScriptObjectFromTheFirstRecord) {
    exec("target", {"INSERT INTO tgt VALUES (1, 'old', NULL)"});
    process.Formulas()->AddFormula("Name",
                                   "Function Main()\n  If TGT.EOF Then\n    Main = SRC(\"name\")\n  Else\n"
                                   "    Main = TGT(\"name\") & \"+\" & SRC(\"name\")\n  End If\nEnd Function");
    cShapeRef t = flow.storage("TGT", "target", conn("target"), "tgt", "UpdateInsert",
                               {{"id", "SRC(\"id\")", "SRC(\"id\")"},
                                {"name", "FORMULA!Name", ""},
                                {"city", "SRC(\"city\")", ""}});
    const tStatistic st = run({t});
    // Record 1 reads the row its own lookup found.
    EXPECT_EQ(target(), QStringList({"1|old+Ann|Oslo", "2|Bob|Rome", "3|Cy|Lyon"}));
    EXPECT_TRUE(errorRows().empty()) << process.Log()->Text().toStdString();
    EXPECT_EQ(st.Success, (Counts{0, 2, 1, 0, 0, 3}));
}

TEST_F(Operations, ADetailReadsTheKeyAndTheDefaultsTheDatabaseGaveItsHeader) {
    exec("target", {"CREATE TABLE header (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, status TEXT DEFAULT 'new')",
                    "CREATE TABLE detail (header_id INTEGER, status TEXT, city TEXT)",
                    "INSERT INTO header (name) VALUES ('earlier')",
                    // A key given by the step, a default made by the database.
                    "CREATE TABLE noted (id INTEGER PRIMARY KEY, note TEXT DEFAULT 'none')"});
    cShapeRef header = flow.storage("HEADER", "target", conn("target"), "header", "Insert",
                                    {{"name", "SRC(\"name\")", ""}});
    cShapeRef noted = flow.storage("NOTED", "target", conn("target"), "noted", "UpdateInsert",
                                   {{"id", "SRC(\"id\")", "SRC(\"id\")"}});
    cShapeRef detail = flow.storage("DETAIL", "target", conn("target"), "detail", "Insert",
                                    {{"header_id", "HEADER(\"id\")", ""},
                                     {"status", "HEADER(\"status\")", ""},
                                     {"city", "NOTED(\"note\")", ""}});
    const tStatistic st = run({header, noted, detail});
    EXPECT_EQ(rows("target", "SELECT * FROM detail ORDER BY header_id"),
              QStringList({"2|new|none", "3|new|none", "4|new|none"}));
    EXPECT_TRUE(errorRows().empty()) << process.Log()->Text().toStdString();
    EXPECT_EQ(st.Success, (Counts{0, 9, 0, 0, 0, 9}));
}

TEST_F(Operations, InsertRunsNoLookupSoANullKeyFieldKeepsItsRow) {
    exec("source", {"UPDATE src SET city = NULL WHERE id = 2"});
    cShapeRef t = flow.storage("TGT", "target", conn("target"), "tgt", "Insert",
                               {{"id", "SRC(\"id\")", ""}, {"name", "SRC(\"name\")", "SRC(\"city\")"},
                                {"city", "SRC(\"city\")", ""}});
    const tStatistic st = run({t});
    EXPECT_EQ(target(), QStringList({"1|Ann|Oslo", "2|Bob|~", "3|Cy|Lyon"}));
    EXPECT_EQ(st.Success, (Counts{0, 3, 0, 0, 0, 3}));
    EXPECT_TRUE(errorRows().empty());
}

TEST_F(Operations, AKeyThatCannotBeEvaluatedFailsTheStepOnEveryRun) {
    process.Formulas()->AddFormula("Key", "Function Main()\n  Main = SRC(\"id\") / 0\nEnd Function");
    cShapeRef t = flow.storage("TGT", "target", conn("target"), "tgt", "UpdateInsert",
                               {{"id", "SRC(\"id\")", "FORMULA!Key"}, {"name", "SRC(\"name\")", ""}});
    tStatistic st = run({t});
    st = runAgain();
    EXPECT_TRUE(target().isEmpty());
    EXPECT_EQ(st.Totals, (Counts{0, 0, 0, 0, 0, 3}));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 6u);
    // The row names the step, the key's formula and field, and the error.
    EXPECT_TRUE(errors[0].value("ERRDESC").toString().contains("TGT: FORMULA!Key --> id Division by zero"))
        << errors[0].value("ERRDESC").toString().toStdString();
    expectExecutionRow(executions().at(1), st, "Completed with errors");
}

TEST_F(Operations, AFormulaGivingNoValueFailsItsFieldWithATypeMismatch) {
    exec("target", {"CREATE TABLE loose (id INTEGER, name TEXT)"});
    process.Formulas()->AddFormula("List", "Function Main()\n  Main = Array(1, 2)\nEnd Function");
    process.Formulas()->AddFormula("None", "Function Main()\n  Set Main = Nothing\nEnd Function");
    cShapeRef a = flow.storage("A", "target", conn("target"), "loose", "Insert",
                               {{"id", "SRC(\"id\")", ""}, {"name", "FORMULA!List", ""}});
    cShapeRef b = flow.storage("B", "target", conn("target"), "loose", "Insert",
                               {{"id", "SRC(\"id\")", ""}, {"name", "FORMULA!None", ""}});
    // An object with a default value writes that value.
    process.Formulas()->AddFormula("Object", "Function Main()\n  Err.Number = 42\n  Set Main = Err\nEnd Function");
    cShapeRef c = flow.storage("C", "target", conn("target"), "loose", "Insert",
                               {{"id", "SRC(\"id\")", ""}, {"name", "FORMULA!Object", ""}});
    const tStatistic st = run({a, b, c});
    EXPECT_EQ(rows("target", "SELECT * FROM loose"), QStringList({"1|42", "2|42", "3|42"}));
    EXPECT_EQ(st.Errors, (Counts{0, 6, 0, 0, 0, 6}));
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 6u);
    EXPECT_TRUE(errors[0].value("ERRDESC").toString().contains("A: FORMULA!List --> name Type mismatch"))
        << errors[0].value("ERRDESC").toString().toStdString();
    EXPECT_TRUE(errors[1].value("ERRDESC").toString().contains("B: FORMULA!None --> name Type mismatch"))
        << errors[1].value("ERRDESC").toString().toStdString();
    EXPECT_EQ(errors[1].value("ERRNUMBER").toString(), "13");
}

}  // namespace
