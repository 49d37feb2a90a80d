// Bad input and failures inside a unit of work: each gets a clear error with
// the database's own message, leaves the data as it was, and never breaks the
// connection for the statements that follow.

#include "DataTestSupport.h"
#include "data/Connection.h"
#include "data/PreparedCommand.h"

#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

using namespace ado;

namespace {

long countRows(Connection& cn, const QString& quotedTable, const QString& where = QString())
{
    Recordset rs = cn.Execute("SELECT COUNT(*) FROM " + quotedTable + (where.isEmpty() ? QString() : " WHERE " + where));
    return rs.isOpen() ? static_cast<long>(rs.value(0).toLongLong()) : -1;
}

class Engines : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (QString(GetParam()) == "PostgreSQL") {
            if (pgString().isEmpty())
                GTEST_SKIP() << "MERIDOX_PG_CONNECTION is not set";
            ASSERT_TRUE(cn.Open(pgString())) << cn.lastError().Description.toStdString();
        } else {
            ASSERT_TRUE(dir.isValid());
            cn.setCreateIfMissing(true);
            ASSERT_TRUE(cn.Open("Provider=SQLite;Data Source=" + dir.filePath("bad.db")));
        }
        table = cn.quoteIdentifier(uniqueName("bad"));
        exec(cn, "CREATE TABLE " + table + " (id INTEGER PRIMARY KEY, code VARCHAR(5) NOT NULL UNIQUE, qty INTEGER)");
        exec(cn, "INSERT INTO " + table + " (id, code, qty) VALUES (1, 'A', 10)");
        exec(cn, "INSERT INTO " + table + " (id, code, qty) VALUES (2, 'B', 20)");
    }
    void TearDown() override
    {
        if (cn.isOpen() && !table.isEmpty()) {
            while (cn.transactionLevel() > 0)
                cn.RollbackTrans();
            cn.Execute("DROP TABLE " + table);
        }
    }
    QTemporaryDir dir;
    Connection cn;
    QString table;
};

} // namespace

// A test run works inside a transaction that is rolled back at the end; one
// failing record must not spoil the writes of the records after it.
TEST_P(Engines, FailedStatementsInsideATransactionKeepTheRestOfTheWork)
{
    ASSERT_EQ(cn.BeginTrans(), 1);

    // Through Execute: the syntax error itself is reported, once.
    cn.Errors().Clear();
    EXPECT_FALSE(cn.Execute("INSERT INTO " + table + " (id, code) VALUES (3, 'A')").isOpen());
    ASSERT_EQ(cn.Errors().Count(), 1);
    const QString duplicate = cn.Errors().Item(0).Description;
    EXPECT_FALSE(duplicate.contains("aborted")) << duplicate.toStdString();
    exec(cn, "INSERT INTO " + table + " (id, code) VALUES (3, 'C')");
    cn.Errors().Clear();
    cn.Execute("SELEC broken");
    ASSERT_EQ(cn.Errors().Count(), 1);
    EXPECT_FALSE(cn.Errors().Item(0).Description.contains("aborted")) << cn.Errors().Item(0).Description.toStdString();

    // Through a recordset: a refused insert and update, then good ones.
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + table + " WHERE id = 2", cn, adOpenKeyset, adLockOptimistic))
        << rs.lastError().Description.toStdString();
    ASSERT_TRUE(rs.Fields("code").setValue("A"));
    EXPECT_FALSE(rs.Update());
    EXPECT_EQ(rs.EditMode(), adEditInProgress);
    ASSERT_TRUE(rs.CancelUpdate());
    ASSERT_TRUE(rs.Fields("qty").setValue(21));
    EXPECT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();
    ASSERT_TRUE(rs.AddNew());
    ASSERT_TRUE(rs.Fields("id").setValue(4));
    EXPECT_FALSE(rs.Update());   // code is NOT NULL
    ASSERT_TRUE(rs.Fields("code").setValue("D"));
    EXPECT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();

    // Through the table writer.
    TableWriter w;
    ASSERT_TRUE(w.open(cn, table.mid(1, table.size() - 2)));
    EXPECT_FALSE(w.insert({"id", "code"}, {5, "B"}));
    EXPECT_FALSE(w.lastError().Description.contains("aborted")) << w.lastError().Description.toStdString();
    EXPECT_TRUE(w.insert({"id", "code"}, {5, "E"})) << w.lastError().Description.toStdString();
    EXPECT_FALSE(w.update({"id"}, {5}, {"code"}, {"A"}));
    EXPECT_TRUE(w.update({"id"}, {5}, {"qty"}, {50})) << w.lastError().Description.toStdString();

    EXPECT_EQ(countRows(cn, table), 5);
    EXPECT_EQ(countRows(cn, table, "qty = 21"), 1);
    ASSERT_TRUE(cn.RollbackTrans()) << cn.lastError().Description.toStdString();
    EXPECT_EQ(countRows(cn, table), 2);
    EXPECT_EQ(countRows(cn, table, "qty = 20"), 1);
}

TEST_P(Engines, ValueTooLongIsRefusedBeforeAnythingIsWritten)
{
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + table + " ORDER BY id", cn, adOpenStatic, adLockOptimistic));
    EXPECT_EQ(rs.Fields("code").DefinedSize(), 5);
    EXPECT_FALSE(rs.Fields("code").setValue("TOOLONG"));
    EXPECT_EQ(rs.lastError().Number, adErrMultipleStep);
    EXPECT_TRUE(rs.lastError().Description.contains("code")) << rs.lastError().Description.toStdString();
    EXPECT_EQ(rs.EditMode(), adEditNone);
    EXPECT_FALSE(rs.Fields("qty").setValue("many"));
    EXPECT_EQ(rs.Fields("code").Value().toString(), "A");
    ASSERT_TRUE(rs.AddNew());
    EXPECT_FALSE(rs.Fields("code").setValue("TOOLONG"));
    ASSERT_TRUE(rs.CancelUpdate());
    EXPECT_EQ(countRows(cn, table), 2);
    EXPECT_EQ(countRows(cn, table, "code = 'A'"), 1);
}

TEST_P(Engines, WritesThatCannotWorkSayWhy)
{
    // A table dropped behind an open recordset.
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + table, cn, adOpenStatic, adLockOptimistic));
    const QString other = cn.quoteIdentifier(uniqueName("gone"));
    exec(cn, "CREATE TABLE " + other + " (id INTEGER PRIMARY KEY, v INTEGER)");
    exec(cn, "INSERT INTO " + other + " VALUES (1, 1)");
    Recordset gone;
    ASSERT_TRUE(gone.Open("SELECT * FROM " + other, cn, adOpenStatic, adLockOptimistic));
    exec(cn, "DROP TABLE " + other);
    ASSERT_TRUE(gone.Fields("v").setValue(2));
    EXPECT_FALSE(gone.Update());
    EXPECT_FALSE(gone.lastError().Description.isEmpty());

    // A join is read-only: reading works, writing is refused with a reason.
    Recordset join;
    ASSERT_TRUE(join.Open("SELECT a.id, b.code FROM " + table + " a JOIN " + table + " b ON a.id = b.id", cn,
                          adOpenStatic, adLockOptimistic))
        << join.lastError().Description.toStdString();
    EXPECT_EQ(join.RecordCount(), 2);
    ASSERT_TRUE(join.Fields("code").setValue("Z"));
    EXPECT_FALSE(join.Update());
    EXPECT_EQ(join.lastError().Number, adErrFeatureNotAvailable);
    EXPECT_EQ(countRows(cn, table, "code = 'Z'"), 0);

    // A streaming source whose connection is closed under it ends cleanly.
    Recordset stream = cn.Execute("SELECT * FROM " + table + " ORDER BY id -- trailing comment");
    ASSERT_TRUE(stream.isOpen());
    EXPECT_EQ(stream.RecordCount(), 2);
    PreparedCommand count;
    ASSERT_TRUE(count.prepare(cn, "SELECT COUNT(*) FROM " + table));
    Connection again = cn;
    TearDown();
    table.clear();
    again.Close();
    stream.MoveNext();
    stream.MoveNext();
    EXPECT_TRUE(stream.IsEOF());
    Recordset closed = cn.Execute("SELECT 1");
    EXPECT_FALSE(closed.isOpen());
    EXPECT_EQ(cn.lastError().Number, adErrObjectClosed);
    EXPECT_FALSE(count.execute());
    EXPECT_FALSE(count.next());
    // Opened again: the command prepared before is stale and says so.
    ASSERT_TRUE(cn.Open());
    EXPECT_FALSE(count.execute());
    EXPECT_EQ(count.lastError().Number, adErrObjectClosed);
}

INSTANTIATE_TEST_SUITE_P(Data, Engines, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return std::string(info.param); });

// Field names that are no XML names, or clash with the names written in
// their place, and values at the edges of what the file keeps.
TEST(RowsetFile, OddNamesAndEdgeValuesSurviveARoundTrip)
{
    const std::vector<FieldInfo> fields = {
        {"c2", adInteger, 4}, {"c2_2", adVarWChar, 10}, {"two words", adBoolean, 2},
        {QString::fromUtf8("Zoë's"), adLongVarBinary, 0}, {"big", adBigInt, 8}, {"fixed", adChar, 3}};
    Recordset rs = Recordset::CreateDisconnected(fields);
    ASSERT_TRUE(rs.AddNew());
    ASSERT_TRUE(rs.Fields(0).setValue(-2147483647 - 1));
    ASSERT_TRUE(rs.Fields(1).setValue(QString()));
    ASSERT_TRUE(rs.Fields(1).setValue(QString("")));
    ASSERT_TRUE(rs.Fields(2).setValue(true));
    ASSERT_TRUE(rs.Fields(3).setValue(QByteArray("\x00\xff<'>", 5)));
    ASSERT_TRUE(rs.Fields(4).setValue(QVariant::fromValue<qlonglong>(-9223372036854775807LL)));
    ASSERT_TRUE(rs.Fields(5).setValue("a"));
    ASSERT_TRUE(rs.Update());
    ASSERT_TRUE(rs.AddNew());   // a row of Nulls
    ASSERT_TRUE(rs.Update());

    Recordset back;
    ASSERT_TRUE(back.OpenXml(rs.toXml())) << back.lastError().Description.toStdString();
    ASSERT_EQ(back.FieldCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(back.Fields(i).Name(), fields[static_cast<size_t>(i)].name);
        EXPECT_EQ(back.Fields(i).Type(), fields[static_cast<size_t>(i)].type);
    }
    ASSERT_EQ(back.RecordCount(), 2);
    EXPECT_EQ(back.value(0).toInt(), -2147483647 - 1);
    EXPECT_FALSE(back.value(1).isNull());   // empty text is not Null
    EXPECT_EQ(back.value(1).toString(), "");
    EXPECT_EQ(back.value(2), QVariant(true));
    EXPECT_EQ(back.value(3).toByteArray(), QByteArray("\x00\xff<'>", 5));
    EXPECT_EQ(back.value(4).toLongLong(), -9223372036854775807LL);
    EXPECT_EQ(back.value(5).toString(), "a  ");
    ASSERT_TRUE(back.MoveNext());
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(back.value(i).isNull()) << i;
}
