// Connections and recordsets over real databases: SQLite files in temporary
// folders, the PostgreSQL server of MERIDOX_PG_CONNECTION and the SQLite
// ODBC driver.

#include "DataTestSupport.h"
#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "data/PreparedCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

using namespace ado;

namespace {

long residentKb()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class SqliteDb : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("test.db");
        cn.setCreateIfMissing(true);
        ASSERT_TRUE(cn.Open("Provider=SQLite;Data Source=" + path)) << cn.lastError().Description.toStdString();
    }
    QTemporaryDir dir;
    QString path;
    Connection cn;
};

class PgDb : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (pgString().isEmpty())
            GTEST_SKIP() << "MERIDOX_PG_CONNECTION is not set";
        ASSERT_TRUE(cn.Open(pgString())) << cn.lastError().Description.toStdString();
    }
    Connection cn;
};

// The write scenario both engines must pass: insert, update and delete
// through a recordset, by primary key and on a table without one.
void writeScenario(Connection& cn, const QString& keyed, const QString& plain)
{
    const QString k = cn.quoteIdentifier(keyed), p = cn.quoteIdentifier(plain);
    exec(cn, "CREATE TABLE " + k + " (id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL, qty INTEGER)");
    exec(cn, "CREATE TABLE " + p + " (name VARCHAR(20), qty INTEGER)");

    // Insert through a recordset that selects nothing (the storage-step form).
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + k + " WHERE 1 = 2", cn, adOpenKeyset, adLockOptimistic))
        << rs.lastError().Description.toStdString();
    EXPECT_TRUE(rs.IsEOF());
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(rs.AddNew());
        ASSERT_TRUE(rs.Fields("ID").setValue(i));
        ASSERT_TRUE(rs.Fields("name").setValue(QString::fromUtf8("O'Brien ü %1").arg(i)));
        ASSERT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();
    }
    EXPECT_EQ(rs.RecordCount(), 3);

    // Update by key, with a lookup in the where clause written as literal.
    Recordset one;
    ASSERT_TRUE(one.Open("SELECT * FROM " + k + " WHERE name = 'O''Brien ü 2'", cn, adOpenKeyset, adLockOptimistic));
    ASSERT_EQ(one.RecordCount(), 1);
    ASSERT_TRUE(one.Fields("qty").setValue(42));
    EXPECT_EQ(one.EditMode(), adEditInProgress);
    ASSERT_TRUE(one.Update()) << one.lastError().Description.toStdString();
    // Assigning what a field already holds is no change.
    ASSERT_TRUE(one.Fields("qty").setValue(42));
    EXPECT_EQ(one.EditMode(), adEditNone);
    ASSERT_TRUE(one.Delete());

    Recordset check = cn.Execute("SELECT COUNT(*), SUM(qty) FROM " + k);
    EXPECT_EQ(check.value(0).toLongLong(), 2);
    EXPECT_TRUE(check.value(1).isNull());

    // Without a key: rows are found by their values (rowid on SQLite).
    long n = 0;
    cn.Execute("INSERT INTO " + p + " (name, qty) VALUES ('same', 1)", &n);
    EXPECT_EQ(n, 1);
    cn.Execute("INSERT INTO " + p + " (name, qty) VALUES ('same', 1)");
    cn.Execute("INSERT INTO " + p + " (name, qty) VALUES ('other', NULL)");
    Recordset nk;
    ASSERT_TRUE(nk.Open("SELECT * FROM " + p + " WHERE qty IS NULL", cn, adOpenStatic, adLockOptimistic));
    ASSERT_TRUE(nk.Fields("qty").setValue(5));
    ASSERT_TRUE(nk.Update()) << nk.lastError().Description.toStdString();
    Recordset dup;
    ASSERT_TRUE(dup.Open("SELECT * FROM " + p + " WHERE name = 'same'", cn, adOpenStatic, adLockOptimistic));
    ASSERT_EQ(dup.RecordCount(), 2);
    ASSERT_TRUE(dup.Fields("qty").setValue(9));
    const bool updated = dup.Update();
    Recordset after = cn.Execute("SELECT SUM(qty) FROM " + p + " WHERE name = 'same'");
    if (cn.providerKind() == ProviderKind::SQLite) {
        // rowid tells the twins apart.
        EXPECT_TRUE(updated) << dup.lastError().Description.toStdString();
        EXPECT_EQ(after.value(0).toLongLong(), 10);
    } else {
        // Two identical rows: refused, nothing changed, edit kept.
        EXPECT_FALSE(updated);
        EXPECT_EQ(dup.lastError().Number, adErrRowNotLocated);
        EXPECT_EQ(dup.EditMode(), adEditInProgress);
        EXPECT_EQ(after.value(0).toLongLong(), 2);
    }
    // A row changed behind the recordset's back is not found.
    Recordset stale;
    ASSERT_TRUE(stale.Open("SELECT * FROM " + p + " WHERE name = 'other'", cn, adOpenStatic, adLockOptimistic));
    cn.Execute("UPDATE " + p + " SET name = 'moved' WHERE name = 'other'");
    if (cn.providerKind() != ProviderKind::SQLite) {
        EXPECT_FALSE(stale.Delete());
        EXPECT_EQ(stale.lastError().Number, adErrRowNotLocated);
        EXPECT_EQ(stale.EditMode(), adEditDelete);
    }
    cn.Execute("DROP TABLE " + k);
    cn.Execute("DROP TABLE " + p);
}

void editModeAfterFailedUpdate(Connection& cn, const QString& table)
{
    const QString t = cn.quoteIdentifier(table);
    exec(cn, "CREATE TABLE " + t + " (id INTEGER PRIMARY KEY, code VARCHAR(10) NOT NULL UNIQUE)");
    exec(cn, "INSERT INTO " + t + " (id, code) VALUES (1, 'A')");
    exec(cn, "INSERT INTO " + t + " (id, code) VALUES (2, 'B')");
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + t + " WHERE id = 2", cn, adOpenKeyset, adLockOptimistic));
    ASSERT_TRUE(rs.Fields("code").setValue("A"));
    cn.Errors().Clear();
    EXPECT_FALSE(rs.Update());
    EXPECT_EQ(rs.EditMode(), adEditInProgress);
    EXPECT_FALSE(rs.lastError().Description.isEmpty());
    EXPECT_GT(cn.Errors().Count(), 0);
    EXPECT_EQ(rs.Fields("code").Value().toString(), "A");   // the assigned value stays pending
    ASSERT_TRUE(rs.CancelUpdate());
    EXPECT_EQ(rs.Fields("code").Value().toString(), "B");

    Recordset add;
    ASSERT_TRUE(add.Open("SELECT * FROM " + t + " WHERE 1 = 2", cn, adOpenKeyset, adLockOptimistic));
    ASSERT_TRUE(add.AddNew());
    ASSERT_TRUE(add.Fields("id").setValue(3));
    EXPECT_FALSE(add.Update());   // code is NOT NULL
    EXPECT_EQ(add.EditMode(), adEditAdd);
    Recordset count = cn.Execute("SELECT COUNT(*) FROM " + t);
    EXPECT_EQ(count.value(0).toLongLong(), 2);
    cn.Execute("DROP TABLE " + t);
}

void nestedTransactions(Connection& cn, const QString& table)
{
    const QString t = cn.quoteIdentifier(table);
    exec(cn, "CREATE TABLE " + t + " (v INTEGER)");
    EXPECT_EQ(cn.BeginTrans(), 1);
    cn.Execute("INSERT INTO " + t + " VALUES (1)");
    EXPECT_EQ(cn.BeginTrans(), 2);   // a second step on the same connection
    cn.Execute("INSERT INTO " + t + " VALUES (2)");
    EXPECT_TRUE(cn.RollbackTrans());
    EXPECT_EQ(cn.transactionLevel(), 1);
    Recordset mid = cn.Execute("SELECT SUM(v) FROM " + t);
    EXPECT_EQ(mid.value(0).toLongLong(), 1);
    EXPECT_EQ(cn.BeginTrans(), 2);
    cn.Execute("INSERT INTO " + t + " VALUES (4)");
    EXPECT_TRUE(cn.CommitTrans());
    EXPECT_TRUE(cn.RollbackTrans());   // the outer level takes everything back
    EXPECT_EQ(cn.transactionLevel(), 0);
    Recordset none = cn.Execute("SELECT COUNT(*) FROM " + t);
    EXPECT_EQ(none.value(0).toLongLong(), 0);
    cn.Errors().Clear();
    EXPECT_FALSE(cn.RollbackTrans());
    EXPECT_EQ(cn.Errors().Count(), 1);
    cn.Execute("DROP TABLE " + t);
}

void unicodeNamesAndNulls(Connection& cn, const QString& base)
{
    const QString table = base + QString::fromUtf8(" Zoë's");
    const QString col = QString::fromUtf8("Naïve \"col\" 'x'");
    const QString t = cn.quoteIdentifier(table), c = cn.quoteIdentifier(col);
    exec(cn, "CREATE TABLE " + t + " (id INTEGER PRIMARY KEY, " + c + " VARCHAR(40), d TIMESTAMP, b BIGINT)");
    TableWriter w;
    ASSERT_TRUE(w.open(cn, table)) << w.lastError().Description.toStdString();
    const QString value = QString::fromUtf8("'; DROP TABLE x; -- 日本語 \"q\"");
    ASSERT_TRUE(w.insert({"id", col, "d", "b"}, {1, value, QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)),
                                                  QVariant::fromValue<qlonglong>(9007199254740993LL)}))
        << w.lastError().Description.toStdString();
    ASSERT_TRUE(w.insert({"id"}, {2}));
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + t + " ORDER BY id", cn, adOpenStatic, adLockOptimistic));
    EXPECT_EQ(rs.Fields(col).Value().toString(), value);
    EXPECT_EQ(rs.Fields("D").Value().toDateTime(), QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)));
    EXPECT_EQ(rs.Fields("b").Value().toLongLong(), 9007199254740993LL);   // not through a double
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_TRUE(rs.Fields(col).Value().isNull());
    // Null to a value and back to Null through the recordset.
    ASSERT_TRUE(rs.Fields(col).setValue("now set"));
    ASSERT_TRUE(rs.Update());
    ASSERT_TRUE(rs.Fields(col).setValue(QVariant()));
    ASSERT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();
    std::vector<QVariantList> rows;
    ASSERT_TRUE(w.select({"id"}, {2}, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][1].isNull());
    // Rows found by a Null key.
    ASSERT_TRUE(w.select({col}, {QVariant()}, rows));
    EXPECT_EQ(rows.size(), 1u);
    cn.Execute("DROP TABLE " + t);
}

void schemaListing(Connection& cn, const QString& base)
{
    const QString table = base + "_t", view = base + "_v";
    exec(cn, "CREATE TABLE " + cn.quoteIdentifier(table) + " (a INTEGER, b VARCHAR(5))");
    exec(cn, "CREATE VIEW " + cn.quoteIdentifier(view) + " AS SELECT a FROM " + cn.quoteIdentifier(table));
    Recordset rs = cn.OpenSchemaTables();
    ASSERT_TRUE(rs.isOpen());
    QString tableType, viewType;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        if (rs.value("TABLE_NAME").toString() == table)
            tableType = rs.value("TABLE_TYPE").toString();
        if (rs.value("TABLE_NAME").toString() == view)
            viewType = rs.value("TABLE_TYPE").toString();
    }
    EXPECT_EQ(tableType, "TABLE");
    EXPECT_EQ(viewType, "VIEW");
    auto fields = cn.QueryFields("SELECT * FROM " + cn.quoteIdentifier(table) + " where 1=2");
    ASSERT_TRUE(fields.has_value());
    ASSERT_EQ(fields->size(), 2u);
    EXPECT_EQ((*fields)[1].name, "b");
    EXPECT_EQ((*fields)[1].type, adVarWChar);
    EXPECT_EQ((*fields)[1].definedSize, 5);
    cn.Execute("DROP VIEW " + cn.quoteIdentifier(view));
    cn.Execute("DROP TABLE " + cn.quoteIdentifier(table));
}

void badSqlIsReported(Connection& cn)
{
    cn.Errors().Clear();
    Recordset rs = cn.Execute("SELEC nothing");
    EXPECT_FALSE(rs.isOpen());
    ASSERT_EQ(cn.Errors().Count(), 1);
    EXPECT_FALSE(cn.Errors().Item(0).Description.isEmpty());
    cn.Errors().Clear();
    Recordset missing;
    EXPECT_FALSE(missing.Open("SELECT * FROM no_such_table_here", cn, adOpenStatic, adLockReadOnly));
    EXPECT_TRUE(cn.Errors().Item(0).Description.contains("no_such_table_here"))
        << cn.Errors().Item(0).Description.toStdString();
    TableWriter w;
    EXPECT_FALSE(w.open(cn, "no_such_table_here"));
}

} // namespace

// ---------------------------------------------------------------------------

TEST(ConnectionStringTest, FollowsOleDbRules)
{
    auto cs = ConnectionString::parse(
        " provider = SQLite ; Data Source='/tmp/a;b.db' ;;PASSWORD=\"x\"\"y\";Key==Eq=1; Driver={SQLite3; odd};empty=");
    ASSERT_TRUE(cs);
    EXPECT_EQ(cs->provider(), "SQLite");
    EXPECT_EQ(cs->providerKind(), ProviderKind::SQLite);
    EXPECT_EQ(cs->value("DATA SOURCE"), "/tmp/a;b.db");
    EXPECT_EQ(cs->value("password"), "x\"y");
    EXPECT_EQ(cs->value("Key=Eq"), "1");
    EXPECT_EQ(cs->value("driver"), "{SQLite3; odd}");
    EXPECT_TRUE(cs->contains("empty"));
    // Written back and parsed again gives the same pairs.
    auto again = ConnectionString::parse(cs->toString());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->value("Data Source"), "/tmp/a;b.db");
    EXPECT_EQ(again->value("Password"), "x\"y");
    // A quoted value opening with an unclosed brace is not taken for a braced one.
    auto brace = ConnectionString::parse("Password='{0'");
    ASSERT_TRUE(brace);
    auto braceAgain = ConnectionString::parse(brace->toString());
    ASSERT_TRUE(braceAgain);
    EXPECT_EQ(braceAgain->value("Password"), "{0");
    // The last of a repeated key wins; a missing provider means SQLite.
    auto rep = ConnectionString::parse("Data Source=a;data source=b");
    EXPECT_EQ(rep->value("Data Source"), "b");
    EXPECT_EQ(rep->providerKind(), ProviderKind::SQLite);
    EXPECT_EQ(providerKindOf("MSDASQL.1"), ProviderKind::ODBC);
    EXPECT_EQ(providerKindOf("postgresql"), ProviderKind::PostgreSQL);
    EXPECT_EQ(providerKindOf("Microsoft.Jet.OLEDB.4.0"), ProviderKind::Unknown);

    QString error;
    EXPECT_FALSE(ConnectionString::parse("Data Source='open", &error));
    EXPECT_TRUE(error.contains("not closed"));
    EXPECT_FALSE(ConnectionString::parse("JustAWord", &error));
}

TEST(ConnectionOpen, FailuresAreClearAndCreateNothing)
{
    QTemporaryDir dir;
    Connection cn;
    EXPECT_FALSE(cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb"));
    EXPECT_EQ(cn.Errors().Item(0).Number, adErrProviderNotFound);
    EXPECT_TRUE(cn.Errors().Item(0).Description.contains("Microsoft.Jet.OLEDB.4.0"));

    const QString missing = dir.filePath("missing.db");
    cn.Errors().Clear();
    EXPECT_FALSE(cn.Open("Provider=SQLite;Data Source=" + missing));
    EXPECT_TRUE(cn.Errors().Item(0).Description.contains("not found"));
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(cn.State(), adStateClosed);

    const QString junk = dir.filePath("junk.db");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    cn.Errors().Clear();
    EXPECT_FALSE(cn.Open("Provider=SQLite;Data Source=" + junk));
    EXPECT_TRUE(cn.Errors().Item(0).Description.contains("not a database")) << cn.Errors().Item(0).Description.toStdString();

    // Closed objects answer 3704.
    Recordset rs = cn.Execute("SELECT 1");
    EXPECT_FALSE(rs.isOpen());
    EXPECT_EQ(cn.lastError().Number, adErrObjectClosed);
    EXPECT_FALSE(rs.MoveFirst());
    EXPECT_EQ(rs.lastError().Number, adErrObjectClosed);
}

TEST(ConnectionOpen, EachConnectionHasItsOwnQtConnectionUntilTheLastHandleGoes)
{
    QTemporaryDir dir;
    const QStringList before = QSqlDatabase::connectionNames();
    {
        Connection a, b;
        a.setCreateIfMissing(true);
        b.setCreateIfMissing(true);
        ASSERT_TRUE(a.Open("Data Source=" + dir.filePath("a.db")));
        ASSERT_TRUE(b.Open("Data Source=" + dir.filePath("a.db")));
        EXPECT_NE(a.database().connectionName(), b.database().connectionName());
        Connection shared = a;   // a second reference to the same connection
        EXPECT_TRUE(shared.sameConnection(a));
        Recordset rs = a.Execute("SELECT 1");
        a = Connection();
        EXPECT_TRUE(shared.isOpen());
        EXPECT_EQ(rs.value(0).toInt(), 1);
    }
    EXPECT_EQ(QSqlDatabase::connectionNames(), before);
}

TEST_F(SqliteDb, WritesByKeyAndWithoutKey) { writeScenario(cn, "keyed", "plain"); }
TEST_F(SqliteDb, EditModeKeptAfterFailedUpdate) { editModeAfterFailedUpdate(cn, "uniq"); }
TEST_F(SqliteDb, NestedTransactions) { nestedTransactions(cn, "tx"); }
TEST_F(SqliteDb, UnicodeApostrophesAndNulls) { unicodeNamesAndNulls(cn, "names"); }
TEST_F(SqliteDb, SchemaListingWithView) { schemaListing(cn, "sch"); }
TEST_F(SqliteDb, BadSqlIsReported) { badSqlIsReported(cn); }

TEST_F(PgDb, WritesByKeyAndWithoutKey) { writeScenario(cn, uniqueName("keyed"), uniqueName("plain")); }
TEST_F(PgDb, EditModeKeptAfterFailedUpdate) { editModeAfterFailedUpdate(cn, uniqueName("uniq")); }
TEST_F(PgDb, NestedTransactions) { nestedTransactions(cn, uniqueName("tx")); }
TEST_F(PgDb, UnicodeApostrophesAndNulls) { unicodeNamesAndNulls(cn, uniqueName("names")); }
TEST_F(PgDb, SchemaListingWithView) { schemaListing(cn, uniqueName("sch")); }
TEST_F(PgDb, BadSqlIsReported) { badSqlIsReported(cn); }

TEST_F(PgDb, RefusedLoginNamesTheServersReason)
{
    auto cs = ConnectionString::parse(pgString());
    cs->set("User ID", "nobody_here");
    Connection other;
    EXPECT_FALSE(other.Open(cs->toString()));
    const QString text = other.Errors().Item(0).Description;
    EXPECT_TRUE(text.contains("nobody_here")) << text.toStdString();
    EXPECT_TRUE(text.contains("PostgreSQL"));
}

namespace {

struct TypeCase {
    const char* decl;
    int type;
    long size;
};

void expectTypes(Connection& cn, const QString& table, const std::vector<TypeCase>& cases)
{
    QStringList cols;
    for (size_t i = 0; i < cases.size(); ++i)
        cols << QStringLiteral("c%1 %2").arg(i).arg(QString::fromLatin1(cases[i].decl));
    exec(cn, "CREATE TABLE " + table + " (" + cols.join(", ") + ")");
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + table, cn, adOpenStatic, adLockReadOnly));
    ASSERT_EQ(rs.FieldCount(), static_cast<int>(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(rs.Fields(static_cast<int>(i)).Type(), cases[i].type) << cases[i].decl;
        if (cases[i].size > 0)
            EXPECT_EQ(rs.Fields(static_cast<int>(i)).DefinedSize(), cases[i].size) << cases[i].decl;
    }
    cn.Execute("DROP TABLE " + table);
}

} // namespace

TEST_F(SqliteDb, TypeNumbersOfCommonColumnTypes)
{
    expectTypes(cn, "types", {{"INTEGER", adInteger, 4}, {"BIGINT", adBigInt, 8}, {"SMALLINT", adSmallInt, 2},
                              {"REAL", adDouble, 8}, {"DOUBLE", adDouble, 8}, {"DECIMAL(10,2)", adDecimal, 0},
                              {"NUMERIC", adNumeric, 0}, {"BOOLEAN", adBoolean, 2}, {"DATETIME", adDBTimeStamp, 0},
                              {"DATE", adDBDate, 0}, {"CHAR(10)", adWChar, 10}, {"VARCHAR(50)", adVarWChar, 50},
                              {"TEXT", adLongVarWChar, 0}, {"BLOB", adLongVarBinary, 0}});
}

TEST_F(PgDb, TypeNumbersOfCommonColumnTypes)
{
    expectTypes(cn, uniqueName("types"),
                {{"integer", adInteger, 4}, {"bigint", adBigInt, 8}, {"smallint", adSmallInt, 2},
                 {"real", adSingle, 4}, {"double precision", adDouble, 8}, {"numeric(10,2)", adNumeric, 0},
                 {"boolean", adBoolean, 2}, {"timestamp", adDBTimeStamp, 0}, {"date", adDBDate, 0},
                 {"char(10)", adWChar, 10}, {"varchar(50)", adVarWChar, 50}, {"text", adLongVarWChar, 0},
                 {"bytea", adLongVarBinary, 0}});
}

TEST_F(PgDb, DecimalsAndDatesKeepTheirValues)
{
    const QString t = uniqueName("dec");
    exec(cn, "CREATE TABLE " + t + " (id integer primary key, n numeric(30,4), d timestamp, f char(5))");
    TableWriter w;
    ASSERT_TRUE(w.open(cn, t));
    ASSERT_TRUE(w.insert({"id", "n", "d", "f"}, {1, "12345678901234567890.1234", QDateTime(QDate(2020, 6, 30), QTime(23, 59, 58)), "ab"}))
        << w.lastError().Description.toStdString();
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM " + t, cn, adOpenStatic, adLockOptimistic));
    EXPECT_EQ(rs.value("n").toString(), "12345678901234567890.1234");
    EXPECT_EQ(rs.value("d").toDateTime(), QDateTime(QDate(2020, 6, 30), QTime(23, 59, 58)));
    EXPECT_EQ(rs.value("f").toString(), "ab   ");
    ASSERT_TRUE(rs.Fields("n").setValue(2.5));
    ASSERT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();   // located by key
    EXPECT_FALSE(w.insert({"id", "n"}, {2, "1e40"}));   // does not fit numeric(30,4)
    EXPECT_EQ(w.lastError().Number, adErrMultipleStep);
    cn.Execute("DROP TABLE " + t);
}

TEST_F(SqliteDb, TableWriterAndPreparedCommand)
{
    exec(cn, "CREATE TABLE t (k INTEGER, v VARCHAR(10))");
    TableWriter w;
    ASSERT_TRUE(w.open(cn, "T"));
    EXPECT_TRUE(w.schema().primaryKey.empty());
    ASSERT_TRUE(w.insert({"k", "v"}, {1, "a"}));
    ASSERT_TRUE(w.insert({"k", "v"}, {1, "b"}));
    ASSERT_TRUE(w.insert({"k", "v"}, {2, "c"}));
    EXPECT_FALSE(w.insert({"k", "v"}, {3, "much too long"}));
    EXPECT_FALSE(w.insert({"k", "nope"}, {3, "x"}));
    EXPECT_EQ(w.lastError().Number, adErrItemNotFound);
    EXPECT_EQ(w.count({}, {}), 3);

    // Two rows share the key: the change is refused and undone.
    long affected = 0;
    EXPECT_FALSE(w.update({"k"}, {1}, {"v"}, {"z"}, true, &affected));
    EXPECT_EQ(w.lastError().Number, adErrRowNotLocated);
    EXPECT_EQ(w.count({"v"}, {"z"}), 0);
    EXPECT_FALSE(w.remove({"k"}, {7}));
    ASSERT_TRUE(w.update({"k"}, {2}, {"v"}, {"y"}));
    ASSERT_TRUE(w.remove({"k"}, {1}, false, &affected));
    EXPECT_EQ(affected, 2);

    // Reopened on another table, the writer writes there.
    exec(cn, "CREATE TABLE t2 (k INTEGER, v VARCHAR(10))");
    ASSERT_TRUE(w.open(cn, "t2"));
    ASSERT_TRUE(w.insert({"k", "v"}, {5, "e"}));
    EXPECT_EQ(w.count({}, {}), 1);
    ASSERT_TRUE(w.open(cn, "t"));
    EXPECT_EQ(w.count({"k"}, {5}), 0);

    PreparedCommand find;
    ASSERT_TRUE(find.prepare(cn, "SELECT v FROM t WHERE k = ?", {{"k", adInteger, 4}}));
    EXPECT_EQ(find.parameterCount(), 1);
    ASSERT_TRUE(find.bind(0, "2"));
    ASSERT_TRUE(find.execute());
    ASSERT_TRUE(find.next());
    EXPECT_EQ(find.value(0).toString(), "y");
    EXPECT_FALSE(find.next());
    EXPECT_FALSE(find.bind(0, "two"));   // typed parameter refuses text
    PreparedCommand bad;
    EXPECT_FALSE(bad.prepare(cn, "SELECT * FROM nowhere WHERE k = ?"));
    EXPECT_FALSE(bad.lastError().Description.isEmpty());
}

// The writer reaches SQLite through SQLite's own handle; through the Qt
// driver it must do exactly the same: same outcomes, errors, values read
// back and values stored, whatever the column types.
TEST_F(SqliteDb, TableWriterGivesTheSameThroughSqliteAndThroughTheQtDriver)
{
    const char* ddl = "CREATE TABLE w (id INTEGER PRIMARY KEY, big BIGINT, r REAL, d DECIMAL(10,2), n NUMERIC, "
                      "t TEXT NOT NULL, vc VARCHAR(5), c CHAR(4), dt DATETIME, da DATE, ti TIME, b BOOLEAN, "
                      "bl BLOB, u, CHECK (big IS NULL OR big <> 13))";
    Connection general;
    general.setCreateIfMissing(true);
    ASSERT_TRUE(general.Open("Provider=SQLite;Data Source=" + dir.filePath("general.db")));
    exec(cn, ddl);
    exec(general, ddl);
    TableWriter fast, slow;
    slow.setGeneralPath(true);
    ASSERT_TRUE(fast.open(cn, "w"));
    ASSERT_TRUE(slow.open(general, "w"));

    const QStringList cols{"id", "big", "r", "d", "n", "t", "vc", "c", "dt", "da", "ti", "b", "bl", "u"};
    const QDateTime when(QDate(2024, 2, 29), QTime(13, 5, 7, 250));
    const std::vector<QVariantList> inserts{
        {1, 9007199254740993LL, 1.5, "12.34", "7", "plain", "abc", "ab", when, when, when, true, QByteArray("\x00\x01z", 3), 5},
        {2, QVariant(), QVariant(), QVariant(), QVariant(), "", QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
         QVariant(), QVariant(), QVariant()},
        {3, "42", "2.5e3", 3, 1.25, QString::fromUtf8("Zoë's \"quote\" \u4e2d"), "12345", "x", "2024-01-02 03:04:05",
         "2024-01-02", "03:04:05", "yes", QByteArray(), "text"},
        {4, 13, 0, 0, 0, "check fails", "", "", QVariant(), QVariant(), QVariant(), false, QVariant(), QVariant()},
        {5, 1, 1, 1, 1, QVariant(), "a", "a", QVariant(), QVariant(), QVariant(), 0, QVariant(), QVariant()},   // NOT NULL
        {1, 1, 1, 1, 1, "duplicate key", "a", "a", QVariant(), QVariant(), QVariant(), 0, QVariant(), QVariant()},
        {6, "not a number", 1, 1, 1, "x", "a", "a", QVariant(), QVariant(), QVariant(), 0, QVariant(), QVariant()},
        {7, 1, 1, 1, 1, "x", "too long", "a", QVariant(), QVariant(), QVariant(), 0, QVariant(), QVariant()},
        {8, -1, -0.0, "-0.50", "1e-3", "x", "a", "a", "2/29/2024 1:05:00 PM", QVariant(), QVariant(), 0, QVariant(), 3.5},
        {10, QVariant::fromValue<qlonglong>(-2), 7, QVariant(), QVariant(), QString::fromUtf8("smile 😀 é€!"),
         QString::fromUtf8("ééééé"), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
         QVariant(), QString::fromUtf8("😀")},
    };
    auto same = [&](bool a, bool b, const char* what) {
        EXPECT_EQ(a, b) << what;
        EXPECT_EQ(fast.lastError().Number, slow.lastError().Number) << what;
        EXPECT_EQ(fast.lastError().Description, slow.lastError().Description) << what;
    };
    for (const QVariantList& row : inserts)
        same(fast.insert(cols, row), slow.insert(cols, row), "insert");
    same(fast.insert({"id", "t", "nope"}, {9, "x", 1}), slow.insert({"id", "t", "nope"}, {9, "x", 1}), "unknown column");

    long fa = -1, sa = -1;
    same(fast.update({"id"}, {3}, {"big", "u"}, {7, QVariant()}, true, &fa),
         slow.update({"id"}, {3}, {"big", "u"}, {7, QVariant()}, true, &sa), "update");
    EXPECT_EQ(fa, sa);
    same(fast.update({"big"}, {QVariant()}, {"vc"}, {"n"}, true, &fa),
         slow.update({"big"}, {QVariant()}, {"vc"}, {"n"}, true, &sa), "update by a Null key");
    EXPECT_EQ(fa, sa);
    same(fast.update({"id"}, {3}, {"big"}, {13}), slow.update({"id"}, {3}, {"big"}, {13}), "update failing its check");
    same(fast.update({"id"}, {99}, {"big"}, {1}), slow.update({"id"}, {99}, {"big"}, {1}), "update of no row");
    same(fast.update({"r"}, {1.0}, {"vc"}, {"m"}, true, &fa), slow.update({"r"}, {1.0}, {"vc"}, {"m"}, true, &sa),
         "update of several rows");
    EXPECT_EQ(fa, sa);
    same(fast.remove({"vc"}, {"a"}, false, &fa), slow.remove({"vc"}, {"a"}, false, &sa), "delete");
    EXPECT_EQ(fa, sa);
    EXPECT_EQ(fast.count({}, {}), slow.count({}, {}));
    EXPECT_EQ(fast.count({"big"}, {QVariant()}), slow.count({"big"}, {QVariant()}));

    std::vector<QVariantList> fr, sr;
    same(fast.select({}, {}, fr), slow.select({}, {}, sr), "select");
    ASSERT_EQ(fr.size(), sr.size());
    for (size_t i = 0; i < fr.size(); ++i)
        for (qsizetype c = 0; c < fr[i].size(); ++c) {
            EXPECT_EQ(fr[i][c].typeId(), sr[i][c].typeId()) << "row " << i << " column " << c;
            EXPECT_EQ(fr[i][c], sr[i][c]) << "row " << i << " column " << c;
        }
    same(fast.select({"id"}, {"3"}, fr, 1), slow.select({"id"}, {"3"}, sr, 1), "select by key");
    EXPECT_EQ(fr, sr);

    // What each stored, type by type.
    auto stored = [](Connection& c) {
        QStringList out;
        Recordset rs = c.Execute("SELECT id, quote(big), quote(r), quote(d), quote(n), quote(t), quote(vc), quote(c), "
                                 "quote(dt), quote(da), quote(ti), quote(b), quote(bl), quote(u) FROM w ORDER BY id");
        while (rs.hasCurrentRecord()) {
            QStringList cells;
            for (int i = 0; i < rs.FieldCount(); ++i)
                cells << rs.value(i).toString();
            out << cells.join('|');
            rs.MoveNext();
        }
        return out;
    };
    const QStringList fastRows = stored(cn);
    EXPECT_EQ(fastRows, stored(general));
    EXPECT_GE(fastRows.size(), 3);

    // A forward-only read streams through SQLite's handle too; a static one
    // is read through the driver. Same fields, same values.
    const QString sql = "SELECT w.*, id * 2 AS twice, t || '!' AS bang, NULL AS empty_one, 1.5 AS half FROM w ORDER BY id";
    Recordset streamed, whole;
    ASSERT_TRUE(streamed.Open(sql, cn, adOpenForwardOnly, adLockReadOnly)) ;
    ASSERT_TRUE(whole.Open(sql, cn, adOpenStatic, adLockReadOnly));
    ASSERT_TRUE(streamed.isStreaming());
    ASSERT_EQ(streamed.FieldCount(), whole.FieldCount());
    for (int i = 0; i < whole.FieldCount(); ++i) {
        const FieldInfo& a = streamed.fieldInfos()[size_t(i)];
        const FieldInfo& b = whole.fieldInfos()[size_t(i)];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.type, b.type) << a.name.toStdString();
        EXPECT_EQ(a.definedSize, b.definedSize) << a.name.toStdString();
        EXPECT_EQ(a.baseColumn, b.baseColumn) << a.name.toStdString();
    }
    int n = 0;
    for (; !whole.IsEOF(); ++n) {
        ASSERT_FALSE(streamed.IsEOF());
        for (int i = 0; i < whole.FieldCount(); ++i) {
            EXPECT_EQ(streamed.value(i).typeId(), whole.value(i).typeId()) << "row " << n << " field " << i;
            EXPECT_EQ(streamed.value(i), whole.value(i)) << "row " << n << " field " << i;
        }
        EXPECT_TRUE(streamed.MoveNext());
        whole.MoveNext();
    }
    EXPECT_TRUE(streamed.IsEOF());
    EXPECT_EQ(n, fastRows.size());

    // A run's snapshot holds the rows in a file of its own: read back, they
    // are what the driver reads.
    Recordset snapshot;
    ASSERT_TRUE(snapshot.OpenSnapshot(sql, cn));
    ASSERT_TRUE(whole.MoveFirst());
    for (n = 0; !whole.IsEOF(); ++n) {
        ASSERT_FALSE(snapshot.IsEOF());
        for (int i = 0; i < whole.FieldCount(); ++i) {
            EXPECT_EQ(snapshot.value(i).typeId(), whole.value(i).typeId()) << "row " << n << " field " << i;
            EXPECT_EQ(snapshot.value(i), whole.value(i)) << "row " << n << " field " << i;
        }
        EXPECT_TRUE(snapshot.MoveNext());
        whole.MoveNext();
    }
    EXPECT_TRUE(snapshot.IsEOF());
}

// A snapshot larger than the blocks its file is written and read in (one
// row larger than a block): every value comes back as the source gives it,
// kind, Null and empty alike, and a marked row is read again with the rows
// after it, whether it is still at hand or far behind.
TEST_F(SqliteDb, SnapshotKeepsEveryValueAndReadsAgainFromAMark)
{
    exec(cn, "CREATE TABLE k (id INTEGER PRIMARY KEY, big BIGINT, r REAL, t TEXT, bl BLOB, b BOOLEAN, dt DATETIME, "
             "d DECIMAL(10,2), u, i INT, s SMALLINT, ti TINYINT, vc VARCHAR(3))");
    exec(cn, "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 3000) "
             "INSERT INTO k SELECT x, CASE x % 4 WHEN 0 THEN NULL ELSE x * 10000000000 END, "
             "CASE x % 5 WHEN 0 THEN NULL ELSE x / 7.0 END, "
             "CASE x % 6 WHEN 0 THEN NULL WHEN 1 THEN '' ELSE replace(hex(zeroblob(x % 450)), '0', 'x') || 'Zoë 中 😀' END, "
             "CASE x % 3 WHEN 0 THEN NULL WHEN 1 THEN X'' ELSE randomblob(x % 200) END, x % 2, "
             "CASE x % 7 WHEN 0 THEN NULL ELSE '2024-02-29 13:05:07.250' END, CASE x % 8 WHEN 0 THEN NULL ELSE x * 1.25 END, "
             "CASE x % 4 WHEN 0 THEN x WHEN 1 THEN 'text' WHEN 2 THEN 2.5 ELSE NULL END, "
             "x * (x % 3 - 1) * 1000000, x * 29 - 20000, x % 300, CASE x % 3 WHEN 0 THEN x ELSE 'longer' END FROM c");
    exec(cn, "UPDATE k SET t = replace(hex(zeroblob(300000)), '0', 'y') WHERE id = 1500");
    const QString sql = "SELECT * FROM k ORDER BY id";
    std::vector<QVariantList> rows;
    Recordset streamed;
    ASSERT_TRUE(streamed.Open(sql, cn, adOpenForwardOnly, adLockReadOnly));
    for (; !streamed.IsEOF(); streamed.MoveNext()) {
        QVariantList row;
        for (int i = 0; i < streamed.FieldCount(); ++i)
            row << streamed.value(i);
        rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), 3000u);
    // The values SQLite's handle gives are the driver's, brought to their
    // fields' types (out of a field's range, kept as they are).
    Recordset whole;
    ASSERT_TRUE(whole.Open(sql, cn, adOpenStatic, adLockReadOnly));
    int mismatches = 0;
    for (size_t n = 0; n < rows.size() && mismatches < 5; ++n, whole.MoveNext())
        for (int i = 0; i < whole.FieldCount(); ++i)
            if (whole.value(i).typeId() != rows[n][i].typeId() || whole.value(i) != rows[n][i]) {
                ADD_FAILURE() << "row " << n << " field " << i << ": " << whole.value(i).toString().toStdString();
                ++mismatches;
            }

    Recordset snapshot;
    ASSERT_TRUE(snapshot.OpenSnapshot(sql, cn));
    EXPECT_EQ(snapshot.RecordCount(), 3000);
    auto same = [](const QVariant& a, const QVariant& b) {
        if (a.isValid() != b.isValid() || a.typeId() != b.typeId() || a.isNull() != b.isNull() || a != b)
            return false;
        if (a.typeId() == QMetaType::QString)
            return a.toString().isNull() == b.toString().isNull();
        if (a.typeId() == QMetaType::QByteArray)
            return a.toByteArray().isNull() == b.toByteArray().isNull();
        return true;
    };
    // Reads from row `from` on to the end, as the source gave them.
    auto readFrom = [&](size_t from) {
        for (size_t n = from; n < rows.size(); ++n) {
            if (snapshot.IsEOF())
                return ::testing::AssertionFailure() << "ends before row " << n;
            for (int i = 0; i < snapshot.FieldCount(); ++i)
                if (!same(snapshot.value(i), rows[n][i]))
                    return ::testing::AssertionFailure() << "row " << n << " field " << i << ": "
                                                         << snapshot.value(i).toString().left(40).toStdString();
            snapshot.MoveNext();
        }
        if (!snapshot.IsEOF())
            return ::testing::AssertionFailure() << "rows after the last";
        return ::testing::AssertionSuccess();
    };
    ASSERT_FALSE(snapshot.IsEOF());
    const Recordset::RowMark first = snapshot.markRow();
    EXPECT_TRUE(readFrom(0));
    // Marks taken on the way: row 10 is blocks behind at the end, row 2995 at hand.
    ASSERT_TRUE(snapshot.returnToRow(first));
    for (int n = 0; n < 10; ++n)
        snapshot.MoveNext();
    const Recordset::RowMark far = snapshot.markRow();
    for (int n = 10; n < 2995; ++n)
        snapshot.MoveNext();
    const Recordset::RowMark near = snapshot.markRow();
    EXPECT_TRUE(readFrom(2995));
    ASSERT_TRUE(snapshot.returnToRow(near));
    EXPECT_TRUE(readFrom(2995));
    ASSERT_TRUE(snapshot.returnToRow(far));
    EXPECT_EQ(snapshot.AbsolutePosition(), 11);
    EXPECT_TRUE(readFrom(10));

    // Text is what QString::fromUtf8 makes of its bytes, whatever they are: a
    // byte order mark, noncharacters, characters of each length, malformed
    // and cut-short sequences, after ASCII read several bytes at a time. A
    // text read before stays as it was when the next row is read.
    exec(cn, QString::fromUtf8("CREATE TABLE u (id INTEGER PRIMARY KEY, \"Übersetzung\" TEXT)"));
    const char* const bytes[] = {"EFBBBF616263", "61EFBFBE62", "EFB790", "C3A9E282ACF09F9880", "61C0AF62", "EDA080",
                                 "E282", "80", "6162636465666768C3", "6162636465666768E282AC", "F4908080", "DFBF",
                                 "4142434445464748494A4B4C4D4E4F50515253"};
    for (const char* b : bytes)
        exec(cn, QString::fromUtf8("INSERT INTO u (\"Übersetzung\") VALUES (CAST(X'%1' AS TEXT))").arg(QLatin1String(b)));
    const QString textSql = QString::fromUtf8("SELECT \"Übersetzung\", CAST(\"Übersetzung\" AS BLOB) AS b FROM u ORDER BY id");
    auto readTexts = [&](Recordset& texts) {
        QVariant held;
        QString heldWas;
        for (const char* b : bytes) {
            ASSERT_FALSE(texts.IsEOF()) << b;
            EXPECT_EQ(texts.value(1).toByteArray(), QByteArray::fromHex(b));
            const QVariant t = texts.value(0);
            EXPECT_EQ(t.typeId(), QMetaType::QString) << b;
            EXPECT_EQ(t.toString(), QString::fromUtf8(QByteArray::fromHex(b))) << b;
            if (!held.isNull())
                EXPECT_EQ(held.toString(), heldWas);
            held = t;
            heldWas = QString(t.toString().constData(), t.toString().size());
            texts.MoveNext();
        }
        EXPECT_TRUE(texts.IsEOF());
    };
    Recordset texts;
    ASSERT_TRUE(texts.OpenSnapshot(textSql, cn));
    // Names are found in any case, beyond ASCII too.
    EXPECT_EQ(texts.fieldIndex(QString::fromUtf8("Übersetzung")), 0);
    EXPECT_EQ(texts.fieldIndex(QString::fromUtf8("ÜBERSETZUNG")), 0);
    EXPECT_EQ(texts.fieldIndex(QString::fromUtf8("übersetzung")), 0);
    EXPECT_EQ(texts.fieldIndex("B"), 1);
    readTexts(texts);
    // The same read row by row from SQLite's handle.
    Recordset streamedTexts;
    ASSERT_TRUE(streamedTexts.Open(textSql, cn, adOpenForwardOnly, adLockReadOnly));
    readTexts(streamedTexts);
}

TEST_F(SqliteDb, ScrollingPositionsAndErrors)
{
    exec(cn, "CREATE TABLE s (n INTEGER)");
    for (int i = 1; i <= 5; ++i)
        cn.Execute(QStringLiteral("INSERT INTO s VALUES (%1)").arg(i));
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM s ORDER BY n", cn, adOpenStatic, adLockReadOnly));
    EXPECT_EQ(rs.RecordCount(), 5);
    EXPECT_EQ(rs.AbsolutePosition(), 1);
    ASSERT_TRUE(rs.MoveLast());
    EXPECT_EQ(rs.value(0).toInt(), 5);
    ASSERT_TRUE(rs.MovePrevious());
    EXPECT_EQ(rs.AbsolutePosition(), 4);
    ASSERT_TRUE(rs.setAbsolutePosition(2));
    EXPECT_EQ(rs.value(0).toInt(), 2);
    rs.MoveFirst();
    ASSERT_TRUE(rs.MovePrevious());
    EXPECT_TRUE(rs.IsBOF());
    EXPECT_TRUE(rs.value(0).isNull());
    EXPECT_EQ(rs.lastError().Number, adErrNoCurrentRecord);
    EXPECT_FALSE(rs.Fields("n").setValue(1));   // read-only
    rs.MoveFirst();
    EXPECT_FALSE(rs.Fields("n").setValue(1));
    EXPECT_EQ(rs.lastError().Number, adErrFeatureNotAvailable);

    // Forward-only: counted by the database, no way back except a new start.
    Recordset fw = cn.Execute("SELECT * FROM s ORDER BY n");
    EXPECT_TRUE(fw.isStreaming());
    EXPECT_EQ(fw.RecordCount(), 5);
    fw.MoveNext();
    EXPECT_EQ(fw.AbsolutePosition(), 2);
    EXPECT_FALSE(fw.MovePrevious());
    ASSERT_TRUE(fw.MoveFirst());
    EXPECT_EQ(fw.value(0).toInt(), 1);
}

TEST_F(SqliteDb, StreamingAMillionRowsKeepsMemoryFlat)
{
    exec(cn, "CREATE TABLE big (id INTEGER PRIMARY KEY, label TEXT, amount DOUBLE)");
    exec(cn, "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 1000000) "
             "INSERT INTO big SELECT x, 'row number ' || x || ' of the big table', x * 0.5 FROM c");
    Recordset rs = cn.Execute("SELECT * FROM big");
    ASSERT_TRUE(rs.isOpen());
    EXPECT_EQ(rs.RecordCount(), 1000000);
    long rows = 0;
    long memAfterWarmup = 0;
    qlonglong sum = 0;
    while (!rs.IsEOF()) {
        sum += rs.value(0).toLongLong();
        if (++rows == 50000)
            memAfterWarmup = residentKb();
        rs.MoveNext();
    }
    const long growthKb = residentKb() - memAfterWarmup;
    EXPECT_EQ(rows, 1000000);
    EXPECT_EQ(sum, 500000500000LL);
    // Holding the rows would take well over 100 MB; streaming stays level.
    EXPECT_LT(growthKb, 20 * 1024) << "resident memory grew by " << growthKb << " kB";
}

// ---------------------------------------------------------------------------
// ODBC through the Debian SQLite ODBC driver.

namespace {

// Makes sure the "SQLite3" driver is known to unixODBC; registers it in a
// private ODBCSYSINI folder when the system has no entry.
bool ensureSqliteOdbcDriver(QTemporaryDir& iniDir)
{
    QFile sys("/etc/odbcinst.ini");
    if (sys.open(QIODevice::ReadOnly) && sys.readAll().contains("[SQLite3]"))
        return true;
    QString lib;
    for (const char* c : {"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so",
                          "/usr/lib/odbc/libsqlite3odbc.so"})
        if (QFile::exists(c))
            lib = c;
    if (lib.isEmpty())
        return false;
    QFile ini(iniDir.filePath("odbcinst.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    ini.write(QStringLiteral("[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=%1\nSetup=%1\n").arg(lib).toUtf8());
    ini.close();
    QFile odbcIni(iniDir.filePath("odbc.ini"));
    odbcIni.open(QIODevice::WriteOnly);
    qputenv("ODBCSYSINI", QFile::encodeName(iniDir.path()));
    return true;
}

} // namespace

TEST(OdbcSqlite, ReadsAndWritesThroughTheOdbcDriver)
{
    QTemporaryDir iniDir, dir;
    if (!ensureSqliteOdbcDriver(iniDir))
        GTEST_SKIP() << "the SQLite ODBC driver is not installed";
    const QString db = dir.filePath("odbc.db");
    {
        Connection make;
        make.setCreateIfMissing(true);
        ASSERT_TRUE(make.Open("Provider=SQLite;Data Source=" + db));
        make.Execute("CREATE TABLE people (id INTEGER PRIMARY KEY, name VARCHAR(30), born DATE)");
        make.Execute("INSERT INTO people VALUES (1, 'O''Hara', '1970-01-02')");
        make.Execute("CREATE VIEW vpeople AS SELECT name FROM people");
    }
    Connection cn;
    ASSERT_TRUE(cn.Open("Provider=MSDASQL;Driver={SQLite3};Database=" + db)) << cn.lastError().Description.toStdString();
    EXPECT_EQ(cn.providerKind(), ProviderKind::ODBC);
    Recordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM people", cn, adOpenKeyset, adLockOptimistic)) << rs.lastError().Description.toStdString();
    ASSERT_EQ(rs.RecordCount(), 1);
    EXPECT_EQ(rs.value("name").toString(), "O'Hara");
    EXPECT_EQ(rs.Fields("id").Type(), adInteger);
    ASSERT_TRUE(rs.AddNew());
    rs.Fields("id").setValue(2);
    rs.Fields("name").setValue(QString::fromUtf8("Zoë"));
    ASSERT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();
    rs.MoveFirst();
    ASSERT_TRUE(rs.Fields("name").setValue("O'Neil"));
    ASSERT_TRUE(rs.Update()) << rs.lastError().Description.toStdString();
    Recordset check = cn.Execute("SELECT name FROM people ORDER BY id");
    EXPECT_EQ(check.value(0).toString(), "O'Neil");
    check.MoveNext();
    EXPECT_EQ(check.value(0).toString(), QString::fromUtf8("Zoë"));

    Recordset tables = cn.OpenSchemaTables();
    QStringList seen;
    for (; !tables.IsEOF(); tables.MoveNext())
        seen << tables.value("TABLE_NAME").toString() + "/" + tables.value("TABLE_TYPE").toString();
    EXPECT_TRUE(seen.contains("people/TABLE")) << seen.join(",").toStdString();
    EXPECT_TRUE(seen.contains("vpeople/VIEW")) << seen.join(",").toStdString();
}

namespace {

// The record loop reads its source and writes its targets through one shared
// connection, in test mode inside a transaction that is rolled back.
void streamWhileWriting(Connection& cn, const QString& src, const QString& dst, const QString& fill)
{
    exec(cn, "CREATE TABLE " + src + " (n integer)");
    exec(cn, "CREATE TABLE " + dst + " (n integer)");
    exec(cn, "INSERT INTO " + src + " " + fill);
    Recordset rs = cn.Execute("SELECT n FROM " + src + " ORDER BY n");
    EXPECT_EQ(rs.RecordCount(), 500);
    TableWriter w;
    ASSERT_TRUE(w.open(cn, dst));
    ASSERT_EQ(cn.BeginTrans(), 1);
    long rows = 0;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        ASSERT_TRUE(w.insert({"n"}, {rs.value(0)})) << w.lastError().Description.toStdString();
        ++rows;
    }
    EXPECT_EQ(rows, 500);
    EXPECT_EQ(w.count({}, {}), 500);
    EXPECT_TRUE(cn.RollbackTrans()) << cn.lastError().Description.toStdString();
    EXPECT_EQ(w.count({}, {}), 0);
    cn.Execute("DROP TABLE " + src);
    cn.Execute("DROP TABLE " + dst);
}

} // namespace

TEST_F(PgDb, StreamingSourceSurvivesWritesOnTheSameConnection)
{
    streamWhileWriting(cn, uniqueName("src"), uniqueName("dst"), "SELECT generate_series(1, 500)");
}

TEST_F(SqliteDb, StreamingSourceSurvivesWritesOnTheSameConnection)
{
    streamWhileWriting(cn, "src", "dst",
                       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 500) SELECT x FROM c");
}
