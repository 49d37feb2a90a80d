// Run control: the walk's path, cancel, critical stops, test runs,
// re-entrance, loading failures and the formula check.

#include "RunFixture.h"

#include <QFile>
#include <QThread>

namespace {

class Control : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        QStringList ids;
        for (int i = 1; i <= 10; ++i)
            ids << QString("%1, 'n%1', %2").arg(i).arg(i == 3 ? "NULL" : "'c'");
        sourceTable(ids);
        exec("target", {"CREATE TABLE tgt (id INTEGER PRIMARY KEY, name TEXT, city TEXT NOT NULL)",
                        "CREATE TABLE audit (id INTEGER)"});
    }
    cShapeRef target(const QString& caption = "TGT") {
        return flow.storage(caption, "target", conn("target"), "tgt", "UpdateInsert",
                            {{"id", "SRC(\"id\")", "SRC(\"id\")"},
                             {"name", "SRC(\"name\")", ""},
                             {"city", "SRC(\"city\")", ""}});
    }
    cShapeRef audit() {
        return flow.storage("AUDIT", "target", conn("target"), "audit", "Insert", {{"id", "SRC(\"id\")", ""}});
    }
    // START -> SRC -> TGT -> AUDIT -> END
    void standard() {
        start = flow.node(aStart, "START");
        src = flow.source("SRC", "source", conn("source"), "table", "src");
        tgt = target();
        aud = audit();
        stop = flow.node(aStop, "END");
        flow.chain({start, src, tgt, aud, stop});
    }
    int count(const QString& table) { return rows("target", "SELECT COUNT(*) FROM " + table).value(0).toInt(); }

    clsProcess process;
    Flow flow{process};
    cShapeRef start, src, tgt, aud, stop;
};

// The lines of a group's records reach the log when the group commits; with
// a commit per record a failure is said while its record runs.
struct EveryRecordCommits {
    EveryRecordCommits() { qputenv("MERIDOX_COMMIT_EVERY_RECORD", "1"); }
    ~EveryRecordCommits() { qunsetenv("MERIDOX_COMMIT_EVERY_RECORD"); }
};

TEST_F(Control, CancelDuringRecordThreeEndsTheWalkAndTheRunWithARow) {
    EveryRecordCommits perRecord;
    standard();
    int ended = 0;
    int writtenAtEnd = -1;
    QObject::connect(&process, &clsProcess::IntegrationEnd, [&](const tStatistic&) {
        ++ended;
        writtenAtEnd = count("audit");   // committed before the end is announced
    });
    // Record 3 fails on its first step (city Null); the user cancels right then.
    QObject::connect(process.Log(), &clsLog::LogAdded, [&](const QString& line) {
        if (line.contains("city"))
            process.CancelExec();
    });
    process.Run();
    const tStatistic st = process.Statistics();
    EXPECT_EQ(st.CurrRecord, 3);
    EXPECT_EQ(count("tgt"), 2);
    EXPECT_EQ(count("audit"), 3);  // record 3, cancelled inside its walk, is finished
    EXPECT_EQ(st.Success, (Counts{0, 5, 0, 0, 0, 5}));
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(st.Totals, (Counts{0, 6, 0, 0, 0, 6}));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(writtenAtEnd, 3);
    EXPECT_TRUE(process.Log()->Text().contains(": Execution Stopped by user request"));
    ASSERT_EQ(executions().size(), 1u);
    expectExecutionRow(executions()[0], st, "Cancelled");
    EXPECT_EQ(process.LastOutcome(), RunOutcome::Cancelled);

    // The next run starts without the old cancel, and the cancelled run left
    // no cursor that would keep others from writing to the source.
    exec("source", {"UPDATE src SET city = 'c'"});
    EXPECT_EQ(rows("source", "SELECT city FROM src WHERE id = 3"), QStringList{"c"});
    process.Run();
    EXPECT_EQ(process.Statistics().CurrRecord, 10) << process.Log()->Text().toStdString();
    expectExecutionRow(executions().at(1), process.Statistics(), "Completed");
}

TEST_F(Control, AStepWithoutNameOrConnectionIsNamedByItsNumberWhenItStopsTheRun) {
    start = flow.node(aStart, "START");
    src = flow.source("SRC", "source", conn("source"), "table", "src");
    tgt = target();
    const cShapeRef blank = flow.node(aStorage, "");
    stop = flow.node(aStop, "END");
    flow.chain({start, src, tgt, blank, stop});
    process.Run();
    EXPECT_TRUE(process.Log()->IsCritical());
    EXPECT_TRUE(process.Log()->Text().contains(QStringLiteral("CRITICAL ERROR: Error opening connection unnamed step %1: "
                                                              "no connection string is given")
                                                   .arg(blank->Index)))
        << process.Log()->Text().toStdString();
}

TEST_F(Control, AMissingSourceDatabaseIsCriticalAndAFixedOneRunsAgain) {
    start = flow.node(aStart, "START");
    src = flow.source("SRC", "lost", conn("lost"), "table", "src");
    tgt = target();
    stop = flow.node(aStop, "END");
    flow.chain({start, src, tgt, stop});
    int ended = 0;
    QObject::connect(&process, &clsProcess::IntegrationEnd, [&](const tStatistic&) { ++ended; });
    process.Run();
    EXPECT_TRUE(process.Log()->IsCritical());
    EXPECT_TRUE(process.Log()->Text().contains("CRITICAL ERROR: Error opening connection SRC: Database file not found"))
        << process.Log()->Text().toStdString();
    EXPECT_EQ(process.Log()->Text().count("CRITICAL ERROR"), 1);
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(executions().empty());
    EXPECT_EQ(process.LastOutcome(), RunOutcome::Critical);

    // The database appears: the next run of the same document is not stopped
    // by the earlier failure.
    QFile::copy(dir.filePath("source.db"), dir.filePath("lost.db"));
    exec("lost", {"UPDATE src SET city = 'c'"});
    process.Run();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(count("tgt"), 10);
    ASSERT_EQ(executions().size(), 1u);
    expectExecutionRow(executions()[0], process.Statistics(), "Completed");

    // A source query the database refuses is reported once.
    src->dataRecord()->Source = "no_such_table";
    process.Run();
    EXPECT_EQ(process.Log()->Text().count("CRITICAL ERROR:no such table"), 1) << process.Log()->Text().toStdString();
    EXPECT_EQ(ended, 1);
}

TEST_F(Control, ASourceThatFailsWhileReadRunsNoRecordAndSaysWhy) {
    // The source query fails when it reaches id 5: the run's snapshot of it
    // cannot be taken, and no record is processed on a partial source.
    start = flow.node(aStart, "START");
    src = flow.source("SRC", "source", conn("source"), "query",
                      "SELECT id, name, city, abs(CASE WHEN id = 5 THEN -9223372036854775807 - 1 ELSE 0 END) AS boom "
                      "FROM src");
    tgt = target();
    aud = audit();
    stop = flow.node(aStop, "END");
    flow.chain({start, src, tgt, aud, stop});
    process.Run();
    EXPECT_EQ(process.LastOutcome(), RunOutcome::PrepareFailed);
    EXPECT_TRUE(process.Log()->Text().contains("CRITICAL ERROR:")) << process.Log()->Text().toStdString();
    EXPECT_TRUE(process.Log()->Text().contains("integer overflow")) << process.Log()->Text().toStdString();
    EXPECT_EQ(count("tgt"), 0);
    EXPECT_EQ(count("audit"), 0);
    EXPECT_TRUE(executions().empty());
}

TEST_F(Control, ACriticalStopMidRunCommitsTheWorkBeforeIt) {
    EveryRecordCommits perRecord;
    standard();
    // A critical entry while record 3 runs (its first step fails on the Null
    // city) stops the run after that record's walk.
    QObject::connect(process.Log(), &clsLog::LogAdded, [&](const QString& line) {
        if (line.contains("city"))
            process.Log()->AddCritical("CRITICAL ERROR: the target went away");
    });
    int keptWhenSaid = -1;
    QString said;
    QObject::connect(&process, &clsProcess::LogAdded, [&](const QString& line) {
        if (line.startsWith("Work committed before the stop")) {
            said = line;
            keptWhenSaid = count("audit");
        }
    });
    process.Run();
    EXPECT_EQ(process.LastOutcome(), RunOutcome::Critical);
    EXPECT_EQ(said, "Work committed before the stop, records processed: 2");
    EXPECT_EQ(keptWhenSaid, 2);
    EXPECT_EQ(count("tgt"), 2);
    EXPECT_TRUE(executions().empty());
}

TEST_F(Control, AStorageStepsConnectionFailureStopsTheRunBeforeAnyRecord) {
    start = flow.node(aStart, "START");
    src = flow.source("SRC", "source", conn("source"), "table", "src");
    aud = audit();
    cShapeRef lost = flow.storage("LOST", "lost", conn("lost"), "tgt", "Insert", {{"id", "SRC(\"id\")", ""}});
    stop = flow.node(aStop, "END");
    flow.chain({start, src, aud, lost, stop});
    int ended = 0, opened = 0;
    QObject::connect(&process, &clsProcess::IntegrationEnd, [&](const tStatistic&) { ++ended; });
    QObject::connect(&process, &clsProcess::LogAdded, [&](const QString& line) {
        opened += line.contains("CRITICAL ERROR: Error opening connection LOST");
    });
    process.Run();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(process.Log()->IsCritical());
    // The failure is known before the first record: no record is half done.
    EXPECT_EQ(count("audit"), 0);
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(executions().empty());
    EXPECT_TRUE(errorRows().empty());
    EXPECT_EQ(process.LastOutcome(), RunOutcome::Critical);

    // A second run fails the same way, once again.
    process.Run();
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(count("audit"), 0);
    EXPECT_TRUE(executions().empty());
}

TEST_F(Control, TestRunWalksRecordByRecordAndLeavesTheTargetUnchanged) {
    standard();
    exec("source", {"UPDATE src SET city = 'c'"});
    exec("target", {"INSERT INTO tgt VALUES (2, 'old', 'x')"});
    int events = 0;
    QObject::connect(&process, &clsProcess::ProcessStarted, [&](const tStatistic&) { ++events; });
    QObject::connect(&process, &clsProcess::StatisticsAdded, [&](const tStatistic&) { ++events; });
    process.RunRecord();
    EXPECT_TRUE(tgt->DebugMode());
    EXPECT_TRUE(src->DebugMode());
    EXPECT_TRUE(tgt->cnSource.sameConnection(aud->cnSource));  // one connection name, one connection
    process.RunNextRecord();
    process.RunNextRecord();
    const tStatistic st = process.Statistics();
    EXPECT_EQ(st.CurrRecord, 1);
    EXPECT_EQ(st.TotalRecords, 10);
    EXPECT_EQ(st.Success, (Counts{0, 3, 1, 0, 0, 4}));
    EXPECT_EQ(st.Totals, (Counts{0, 3, 1, 0, 0, 4}));
    EXPECT_EQ(events, 0);
    EXPECT_EQ(process.SourceData().value("id").toInt(), 3);
    // Seen inside the test run, not outside it.
    EXPECT_EQ(tgt->ExecuteSql("SELECT COUNT(*) AS n FROM tgt", "n").value_or(0).toInt(), 2);
    EXPECT_EQ(rows("target", "SELECT * FROM tgt"), QStringList{"2|old|x"});
    EXPECT_EQ(count("audit"), 0);
    EXPECT_TRUE(executions().empty());

    // A full run afterwards rolls the test changes back and then writes for real.
    process.Run();
    EXPECT_FALSE(tgt->DebugMode());
    EXPECT_EQ(count("tgt"), 10);
    EXPECT_EQ(count("audit"), 10);
    const tStatistic full = process.Statistics();
    EXPECT_EQ(full.Totals, (Counts{0, 19, 1, 0, 0, 20}));
    expectExecutionRow(executions().at(0), full, "Completed");
}

TEST_F(Control, DroppingAProcessInTestModeCommitsNothing) {
    exec("source", {"UPDATE src SET city = 'c'"});
    {
        clsProcess other;
        Flow f(other);
        cShapeRef s = f.node(aStart, "START");
        cShapeRef d = f.source("SRC", "source", conn("source"), "sql", "SELECT * FROM src ORDER BY id DESC");
        cShapeRef t = f.storage("TGT", "target", conn("target"), "tgt", "Insert",
                                {{"id", "SRC(\"id\")", ""}, {"city", "SRC(\"city\")", ""}});
        cShapeRef e = f.node(aStop, "END");
        f.chain({s, d, t, e});
        other.RunRecord();
        for (int i = 0; i < 12; ++i)
            other.RunNextRecord();  // past the end: nothing more
        EXPECT_EQ(other.Statistics().Totals, (Counts{0, 10, 0, 0, 0, 10}));
    }
    EXPECT_EQ(count("tgt"), 0);
    EXPECT_TRUE(executions().empty());
}

TEST_F(Control, TheWalkFollowsNodeNumbersAndStopsOnACycle) {
    start = flow.node(aStart, "START");
    src = flow.source("SRC", "source", conn("source"), "table", "src");
    cShapeRef gone = flow.node(aDecission, "GONE");
    tgt = target();
    stop = flow.node(aStop, "END");
    exec("source", {"UPDATE src SET city = 'c'", "DELETE FROM src WHERE id > 2"});
    flow.chain({start, src, tgt, stop});
    // After removing a node, number and position of the later nodes differ:
    // SRC -> TGT holds number 4, which is now END's position.
    ASSERT_TRUE(process.Shapes()->removeShape(gone->Index));
    process.Run();
    EXPECT_EQ(count("tgt"), 2);
    EXPECT_TRUE(errorRows().empty());

    // TGT -> SRC again (linked before the way to END): that record's walk ends
    // with an error row instead of looping.
    for (int i = process.Lines()->Count(); i >= 1; --i)
        if (process.Lines()->item(i)->sFrom == QString::number(tgt->Index))
            process.Lines()->Remove(i);
    flow.link(tgt, src);
    flow.link(tgt, stop);
    process.Run();
    const tStatistic st = process.Statistics();
    EXPECT_EQ(st.CurrRecord, 2);
    EXPECT_EQ(st.Totals, Counts{});  // equal rows: nothing written
    const auto errors = errorRows();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(errors[0].value("ERRDESC").toString().contains("SRC"));
    expectExecutionRow(executions().at(1), st, "Completed with errors");
}

TEST_F(Control, TheWalkTakesTheFirstLinkOfADecisionAndEndsWhereLinksEnd) {
    start = flow.node(aStart, "START");
    src = flow.source("SRC", "source", conn("source"), "table", "src");
    cShapeRef decide = flow.node(aDecission, "ASK");
    aud = audit();
    tgt = target();
    exec("source", {"UPDATE src SET city = 'c'"});
    flow.chain({start, src, decide});
    flow.link(decide, aud, "yes");
    flow.link(decide, tgt, "no");
    // AUDIT has no way out: each record ends there without error.
    process.Run();
    EXPECT_EQ(count("audit"), 10);
    EXPECT_EQ(count("tgt"), 0);
    EXPECT_TRUE(errorRows().empty());
    expectExecutionRow(executions().at(0), process.Statistics(), "Completed");
}

TEST_F(Control, ASecondRunIsRefusedWhileOneIsInProgress) {
    standard();
    exec("source", {"UPDATE src SET city = 'c'"});
    int ended = 0;
    bool tried = false;
    QObject::connect(&process, &clsProcess::IntegrationEnd, [&](const tStatistic&) { ++ended; });
    QObject::connect(&process, &clsProcess::StatisticsAdded, [&](const tStatistic& s) {
        if (s.CurrRecord != 2 || tried)
            return;
        tried = true;
        EXPECT_TRUE(process.IsRunning());
        process.Run();
        process.RunRecord();
        process.RunNextRecord();
    });
    process.Run();
    EXPECT_TRUE(tried);
    EXPECT_FALSE(process.IsRunning());
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(process.Log()->Text().count("already in progress"), 2);
    EXPECT_FALSE(tgt->DebugMode());  // the refused test run opened no transaction
    EXPECT_EQ(count("tgt"), 10);
    EXPECT_EQ(count("audit"), 10);
    ASSERT_EQ(executions().size(), 1u);
    expectExecutionRow(executions()[0], process.Statistics(), "Completed");
}

TEST_F(Control, ACancelInsideAWalkTakesEffectAfterTheRecord) {
    standard();
    exec("source", {"UPDATE src SET city = 'c'"});
    int yields = 0;
    process.setYieldCallback([&] {
        ++yields;
        process.CancelExec();
    });
    // A slow first record (a busy window): the caller gets its turn soon after.
    QObject::connect(&process, &clsProcess::StatisticsAdded, [&](const tStatistic& s) {
        if (s.CurrRecord == 1)
            QThread::msleep(15);
    });
    process.Run();
    EXPECT_GE(yields, 1);  // the walk yields again while it finishes the record
    const int records = process.Statistics().CurrRecord;
    EXPECT_GE(records, 1);
    EXPECT_LE(records, 2);
    // The cancel came between the two steps of the last record, which is
    // still written whole: its AUDIT row goes with its TGT row.
    EXPECT_EQ(count("tgt"), records);
    EXPECT_EQ(count("audit"), records);
    expectExecutionRow(executions().at(0), process.Statistics(), "Cancelled");
}

TEST_F(Control, RunFileRunsAFileAndRefusesOneThatDoesNotLoad) {
    standard();
    exec("source", {"UPDATE src SET city = 'c'"});
    const QString file = dir.filePath("job.xml");
    ASSERT_EQ(process.SaveIntegration(file), "");

    clsProcess runner;
    runner.RunFile(file);
    EXPECT_EQ(runner.LastOutcome(), RunOutcome::Completed);
    ASSERT_EQ(executions().size(), 1u);
    EXPECT_EQ(executions()[0].value("NAME").toString(), file);
    expectExecutionRow(executions()[0], runner.Statistics(), "Completed");
    EXPECT_TRUE(runner.Log()->Text().startsWith("\r\nMeridoxRunner: Loading " + file + "\r\nMeridoxRunner: Executing "));

    // A broken file: its error is logged, and neither it nor the document
    // loaded before is run.
    const QString broken = dir.filePath("broken.xml");
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<meridox><nodes><node type=");
    f.close();
    runner.RunFile(broken);
    EXPECT_EQ(runner.LastOutcome(), RunOutcome::LoadFailed);
    EXPECT_FALSE(runner.Log()->Text().contains("MeridoxRunner: Executing " + broken));
    EXPECT_FALSE(runner.Log()->Text().endsWith("MeridoxRunner: Loading " + broken));
    EXPECT_EQ(executions().size(), 1u);
    runner.RunFile(dir.filePath("absent.xml"));
    EXPECT_EQ(runner.LastOutcome(), RunOutcome::LoadFailed);
    EXPECT_EQ(executions().size(), 1u);
}

TEST_F(Control, CheckFormulaReportsTheLineOfAnErrorWhateverTheLineBreaks) {
    standard();
    exec("source", {"UPDATE src SET city = 'c'"});
    const QString suffix = " - On Line 2";
    for (const QString& br : {QString("\n"), QString("\r\n"), QString("\r")}) {
        const QString text = "Function Main()" + br + "  Main = 1 + * 2" + br + "End Function";
        const QString result = process.CheckFormula(text);
        EXPECT_TRUE(result.endsWith(suffix)) << result.toStdString();
        EXPECT_FALSE(result.startsWith(" - ")) << "a description comes first";
    }
    // A run-time error carries its line as well.
    const QString runtime =
        process.CheckFormula("Function Main()\n  Dim x\n  x = 1\n  Main = x / 0\nEnd Function");
    EXPECT_TRUE(runtime.endsWith(" - On Line 4")) << runtime.toStdString();
    EXPECT_TRUE(runtime.startsWith("Division by zero")) << runtime.toStdString();

    // Reading a storage step's field meets no current row, which passes; a
    // source field reads the first record.
    EXPECT_EQ(process.CheckFormula("Function Main()\n Main = TGT(\"name\") & SRC(\"name\")\nEnd Function"), "");
    EXPECT_EQ(process.CheckFormula("Function Main()\n Main = SQLExecute(\"TGT\", \"SELECT 1 AS one\", \"one\")\nEnd Function"), "");
    // A field the target does not have is an error.
    EXPECT_NE(process.CheckFormula("Function Main()\n Main = TGT(\"nope\")\nEnd Function"), "");
    // No check leaves rows in the errors store, and a run afterwards is normal.
    EXPECT_TRUE(errorRows().empty());
    process.Run();
    EXPECT_EQ(count("tgt"), 10);
    expectExecutionRow(executions().at(0), process.Statistics(), "Completed");
}

}  // namespace
