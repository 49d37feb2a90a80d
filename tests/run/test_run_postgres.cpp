// End-to-end runs from a SQLite source into the PostgreSQL server of the
// data tests (MERIDOX_PG_CONNECTION).

#include "RunFixture.h"

#include <QCoreApplication>

namespace {

class Postgres : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        pg = qEnvironmentVariable("MERIDOX_PG_CONNECTION");
        if (pg.isEmpty())
            GTEST_SKIP() << "MERIDOX_PG_CONNECTION is not set";
        sourceTable({"1, 'Ann', 'Oslo'", "2, 'Bob', NULL", "3, 'Cy', 'Lyon'"});
        // A table of this test's own; the server may be shared.
        table = QString("run_target_%1").arg(QCoreApplication::applicationPid());
        pgExec({"DROP TABLE IF EXISTS " + table,
                "CREATE TABLE " + table + " (id integer PRIMARY KEY, label varchar(40), city text NOT NULL, "
                                          "at timestamp)"});
    }
    void TearDown() override {
        if (!pg.isEmpty())
            pgExec({"DROP TABLE IF EXISTS " + table});
    }
    void pgExec(const QStringList& statements) {
        ado::Connection c;
        ASSERT_TRUE(c.Open(pg)) << c.lastError().Description.toStdString();
        for (const QString& sql : statements) {
            c.Execute(sql);
            ASSERT_EQ(c.Errors().Count(), 0) << sql.toStdString();
        }
    }
    QStringList pgRows() {
        ado::Connection c;
        EXPECT_TRUE(c.Open(pg));
        ado::Recordset rs = c.Execute("SELECT id, label, city FROM " + table + " ORDER BY id");
        QStringList out;
        while (rs.hasCurrentRecord()) {
            out << rs.value(0).toString() + "|" + rs.value(1).toString() + "|" + rs.value(2).toString();
            rs.MoveNext();
        }
        return out;
    }
    void build() {
        process.Formulas()->AddFormula("Label", "Function Main()\n  Main = SRC(\"name\") & \" of \" & SRC(\"city\")\nEnd Function");
        process.Formulas()->AddFormula("Stamp", "Function Main()\n  Main = DateSerial(2024, 2, 29) + TimeSerial(13, 5, 0)\nEnd Function");
        cShapeRef start = flow.node(aStart, "START");
        cShapeRef src = flow.source("SRC", "source", conn("source"), "table", "src");
        tgt = flow.storage("TGT", "pg", pg, table, "UpdateInsert",
                           {{"id", "SRC(\"id\")", "SRC(\"id\")"},
                            {"label", "FORMULA!Label", ""},
                            {"city", "SRC(\"city\")", ""},
                            {"at", "FORMULA!Stamp", ""}});
        cShapeRef stop = flow.node(aStop, "END");
        flow.chain({start, src, tgt, stop});
    }

    QString pg;
    QString table;
    clsProcess process;
    Flow flow{process};
    cShapeRef tgt;
};

TEST_F(Postgres, RunsInsertThenUpdateAndCountsAFailedRow) {
    build();
    process.Run();
    tStatistic st = process.Statistics();
    EXPECT_EQ(pgRows(), QStringList({"1|Ann of Oslo|Oslo", "3|Cy of Lyon|Lyon"}));
    EXPECT_EQ(st.Success, (Counts{0, 2, 0, 0, 0, 2}));
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));  // Bob has no city
    EXPECT_EQ(st.Totals, (Counts{0, 3, 0, 0, 0, 3}));
    ASSERT_EQ(errorRows().size(), 1u);
    EXPECT_EQ(errorRows()[0].value("RECORD").toInt(), 1);
    expectExecutionRow(executions().at(0), st, "Completed with errors");

    exec("source", {"UPDATE src SET city = 'Rome' WHERE id = 2", "UPDATE src SET name = 'Cyd' WHERE id = 3"});
    process.Run();
    st = process.Statistics();
    EXPECT_EQ(pgRows(), QStringList({"1|Ann of Oslo|Oslo", "2|Bob of Rome|Rome", "3|Cyd of Lyon|Lyon"}));
    // The stamp is the same every time, so record 1 changes nothing.
    EXPECT_EQ(st.Success, (Counts{0, 1, 1, 0, 0, 2}));
    EXPECT_EQ(st.Totals, (Counts{0, 1, 1, 0, 0, 2}));
    expectExecutionRow(executions().at(1), st, "Completed");

    ado::Connection c;
    ASSERT_TRUE(c.Open(pg));
    ado::Recordset at = c.Execute("SELECT to_char(at, 'YYYY-MM-DD HH24:MI:SS') AS t FROM " + table + " WHERE id = 2");
    EXPECT_EQ(at.value(0).toString(), "2024-02-29 13:05:00");
}

TEST_F(Postgres, ATestRunGoesOnAfterAFailedRowAndCommitsNothing) {
    build();
    process.RunRecord();
    EXPECT_TRUE(tgt->DebugMode());
    for (int i = 0; i < 3; ++i)
        process.RunNextRecord();
    const tStatistic st = process.Statistics();
    // Record 2 fails; the server must not let that spoil record 3.
    EXPECT_EQ(st.Success, (Counts{0, 2, 0, 0, 0, 2}));
    EXPECT_EQ(st.Errors, (Counts{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(tgt->ExecuteSql("SELECT COUNT(*) AS n FROM " + table, "n").value_or(-1).toInt(), 2);
    EXPECT_TRUE(pgRows().isEmpty());
    EXPECT_TRUE(executions().empty());

    // A full run rolls the test back first, then writes for real.
    process.Run();
    EXPECT_EQ(pgRows().size(), 2);
    expectExecutionRow(executions().at(0), process.Statistics(), "Completed with errors");
}

TEST_F(Postgres, AFlowOnTheServerReadsASnapshotAndTheKeysTheServerMade) {
    // The source, a header with a serial key and a default, and details
    // written into the source table itself through a second connection name.
    const QString src = table + "_src", header = table + "_hdr";
    pgExec({"DROP TABLE IF EXISTS " + src, "DROP TABLE IF EXISTS " + header,
            "CREATE TABLE " + header + " (id serial PRIMARY KEY, name text, status text DEFAULT 'new')",
            "CREATE TABLE " + src + " (id integer, name text, parent integer, status text)",
            "INSERT INTO " + src + " VALUES (1, 'Ann', NULL, NULL), (2, 'Bob', NULL, NULL), (3, 'Cy', NULL, NULL)",
            "INSERT INTO " + header + " (name) VALUES ('earlier')"});
    cShapeRef start = flow.node(aStart, "START");
    cShapeRef hdr = flow.storage("HEADER", "pg", pg, header, "Insert", {{"name", "SRC(\"name\")", ""}});
    cShapeRef detail = flow.storage("DETAIL", "pg again", pg, src, "Insert",
                                    {{"id", "SRC(\"id\")", ""}, {"name", "SRC(\"name\")", ""},
                                     {"parent", "HEADER(\"id\")", ""}, {"status", "HEADER(\"status\")", ""}});
    cShapeRef stop = flow.node(aStop, "END");
    cShapeRef source = flow.source("SRC", "pg", pg, "table", src);
    flow.chain({start, source, hdr, detail, stop});
    process.Run();
    const tStatistic st = process.Statistics();
    EXPECT_EQ(process.LastOutcome(), RunOutcome::Completed) << process.Log()->Text().toStdString();
    EXPECT_EQ(st.TotalRecords, 3);
    EXPECT_EQ(st.Success, (Counts{0, 6, 0, 0, 0, 6}));

    ado::Connection c;
    ASSERT_TRUE(c.Open(pg));
    ado::Recordset rs = c.Execute("SELECT COUNT(*) AS n FROM " + src);
    ASSERT_TRUE(rs.hasCurrentRecord()) << c.lastError().Description.toStdString();
    EXPECT_EQ(rs.value("n").toInt(), 6);
    // Each detail names the header made for its record, key and default.
    rs = c.Execute("SELECT COUNT(*) AS n FROM " + src + " s JOIN " + header
                   + " h ON h.id = s.parent AND h.name = s.name AND s.status = 'new' AND h.id > 1");
    EXPECT_EQ(rs.value("n").toInt(), 3);
    pgExec({"DROP TABLE " + src, "DROP TABLE " + header});
}

TEST_F(Postgres, AConnectionThatFailsSaysWhyWithoutItsPassword) {
    build();
    tgt->storageRecord()->connString =
        "Provider=PostgreSQL;Data Source=127.0.0.1;Port=1;Initial Catalog=none;User ID=nobody;Password=s3cret";
    process.Run();
    const QString text = process.Log()->Text();
    EXPECT_TRUE(text.contains("CRITICAL ERROR: Error opening connection TGT: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("refused", Qt::CaseInsensitive)) << text.toStdString();
    EXPECT_FALSE(text.contains("s3cret"));
    EXPECT_EQ(process.LastOutcome(), RunOutcome::Critical);
}

}  // namespace
