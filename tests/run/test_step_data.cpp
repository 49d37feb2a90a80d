// Data access of a single step: its connection, recordset, test-mode
// transaction and the SQL helper, against real SQLite files.

#include "RunFixture.h"

#include "run/clsLog.h"

namespace {

class StepData : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        sourceTable({"1, 'Ann', 'Oslo'", "2, 'Bob', 'Rome'", "3, 'Cy', 'Lyon'"});
        exec("target", {"CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT)",
                        "INSERT INTO t VALUES (1, 'old')"});
    }
    clsProcess process;
    Flow flow{process};
    clsLog log;
};

TEST_F(StepData, SourceStepReadsATableOrAQueryAndKeepsItsPosition) {
    cShapeRef table = flow.source("SRC", "s", conn("source"), "table", "src");
    ado::Recordset rs = table->data();
    ASSERT_TRUE(rs.isOpen());
    EXPECT_EQ(rs.RecordCount(), 3);
    rs.MoveNext();
    // The same recordset again, still on the second row: the record loop's cursor.
    ado::Recordset again = table->data();
    EXPECT_EQ(again.value("name").toString(), "Bob");

    cShapeRef query = flow.source("Q", "s", conn("source"), "sql", "SELECT name FROM src WHERE id > 1 ORDER BY id");
    ado::Recordset q = query->data();
    ASSERT_TRUE(q.isOpen());
    EXPECT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldCount(), 1);
    EXPECT_EQ(q.value("name").toString(), "Bob");

    // Nodes other than data and storage steps have no recordset.
    EXPECT_FALSE(flow.node(aStart, "S")->data().isOpen());
}

TEST_F(StepData, StorageStepOpensItsQueryForUpdateAndReopensAfterSetQuery) {
    cShapeRef target = flow.storage("T", "t", conn("target"), "t", "Update", {});
    target->gbLog = &log;
    EXPECT_FALSE(target->data().isOpen());  // no query yet

    target->setQuery("SELECT * FROM t WHERE id = 1");
    ado::Recordset rs = target->data();
    ASSERT_TRUE(rs.isOpen());
    ASSERT_TRUE(rs.hasCurrentRecord());
    ASSERT_TRUE(rs.setValue("name", "new"));
    ASSERT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();
    EXPECT_EQ(rows("target", "SELECT name FROM t"), QStringList{"new"});

    // The same text again still drops the recordset: the next one sees the change.
    exec("target", {"UPDATE t SET name = 'outside'"});
    target->setQuery("SELECT * FROM t WHERE id = 1");
    EXPECT_EQ(target->data().value("name").toString(), "outside");

    // A query the database refuses: a plain "CRITICAL ERROR:" line, no
    // recordset, and the run is not stopped by it.
    target->setQuery("SELECT * FROM missing_table");
    EXPECT_FALSE(target->data().isOpen());
    EXPECT_TRUE(log.Text().contains("\r\nCRITICAL ERROR:")) << log.Text().toStdString();
    EXPECT_FALSE(log.Text().contains("CRITICAL ERROR: Error opening connection"));
    EXPECT_FALSE(log.IsCritical());
}

TEST_F(StepData, DebugModeKeepsChangesOfStepsSharingAConnectionUntilRolledBack) {
    cShapeRef a = flow.storage("A", "t", conn("target"), "t", "Update", {});
    cShapeRef b = flow.storage("B", "t", conn("target"), "t", "Update", {});
    a->data();  // opens the step's connection
    ASSERT_TRUE(a->cnSource.isOpen());
    b->cnSource = a->cnSource;  // what the run preparation does for one connection name

    a->setDebugMode(true);
    a->setDebugMode(true);  // already on: no second transaction
    b->setDebugMode(true);
    EXPECT_TRUE(a->DebugMode());
    EXPECT_EQ(a->cnSource.transactionLevel(), 2);

    b->setQuery("SELECT * FROM t WHERE id = 1");
    ado::Recordset rs = b->data();
    ASSERT_TRUE(rs.hasCurrentRecord());
    rs.setValue("name", "changed");
    ASSERT_TRUE(rs.Update());
    EXPECT_EQ(a->ExecuteSql("SELECT name FROM t", "name").value_or(QVariant()).toString(), "changed");

    b->setDebugMode(false);
    a->setDebugMode(false);
    EXPECT_FALSE(a->DebugMode());
    EXPECT_EQ(a->cnSource.transactionLevel(), 0);
    EXPECT_EQ(rows("target", "SELECT name FROM t"), QStringList{"old"});
}

TEST_F(StepData, AMissingDatabaseIsCriticalWithItsReasonAndNeverCreated) {
    cShapeRef src = flow.source("SRC", "s", conn("missing"), "table", "src");
    src->gbLog = &log;
    EXPECT_FALSE(src->data().isOpen());
    EXPECT_TRUE(log.IsCritical());
    // The provider's reason, not the connection string.
    EXPECT_TRUE(log.Text().endsWith("\r\nCRITICAL ERROR: Error opening connection SRC: Database file not found: \""
                                    + dir.filePath("missing.db") + "\"."))
        << log.Text().toStdString();
    EXPECT_FALSE(log.Text().contains("Provider=")) << log.Text().toStdString();
    EXPECT_FALSE(src->data().isOpen());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing.db")));  // never created

    // A node without a log target fails silently.
    cShapeRef quiet = flow.storage("Q", "q", conn("missing2"), "t", "Update", {});
    quiet->setQuery("SELECT * FROM t");
    EXPECT_FALSE(quiet->data().isOpen());
}

TEST_F(StepData, ExecuteSqlReturnsTheFieldOfTheFirstRowOrNothing) {
    cShapeRef src = flow.source("SRC", "s", conn("source"), "table", "src");
    EXPECT_EQ(src->ExecuteSql("SELECT city FROM src WHERE id = 2", "city"), QVariant("Rome"));
    EXPECT_EQ(src->ExecuteSql("SELECT COUNT(*) AS n FROM src", "N").value_or(QVariant()).toInt(), 3);
    EXPECT_FALSE(src->ExecuteSql("SELECT city FROM src WHERE id = 99", "city").has_value());
    EXPECT_FALSE(src->ExecuteSql("SELECT nonsense FROM nowhere", "x").has_value());
    EXPECT_FALSE(src->ExecuteSql("SELECT city FROM src", "no_such_field").has_value());
    // A failed statement does not spoil the connection for the next one.
    EXPECT_EQ(src->ExecuteSql("SELECT name FROM src WHERE id = 1", "name"), QVariant("Ann"));
}

}  // namespace
