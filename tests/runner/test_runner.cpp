// MeridoxRunner end to end: the built program started as a process on
// integration files over SQLite. Its run data (execution and error stores)
// lands in a temporary folder and its event-log entries in a file, which is
// all the runner reports: it prints nothing itself.
//
// The databases are set up and checked through SQLite directly, so a fault in
// the engine's data layer cannot hide itself.

#include "data/Connection.h"
#include "data/Recordset.h"
#include "stores/cMeridoxData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

// ---------------------------------------------------------------- SQLite

class Db {
public:
    explicit Db(const QString& path)
    {
        if (sqlite3_open(QFile::encodeName(path).constData(), &db_) != SQLITE_OK)
            ADD_FAILURE() << "cannot open " << path.toStdString();
    }
    ~Db() { sqlite3_close(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    void exec(const char* sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << (error ? error : "?");
            sqlite3_free(error);
        }
    }

    // Every row of a query, each cell as text ("NULL" for a null cell).
    std::vector<QStringList> rows(const char* sql)
    {
        std::vector<QStringList> out;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
            return out;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* text = sqlite3_column_text(stmt, i);
                row << (text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QStringLiteral("NULL"));
            }
            out.push_back(row);
        }
        sqlite3_finalize(stmt);
        return out;
    }

    int count(const char* table)
    {
        const auto r = rows((QByteArray("SELECT COUNT(*) FROM ") + table).constData());
        return r.empty() ? -1 : r.front().value(0).toInt();
    }

private:
    sqlite3* db_ = nullptr;
};

// ---------------------------------------------------------------- integration files

QString xmlEscaped(const QString& text) { return text.toHtmlEscaped(); }

struct TargetField {
    const char* name;
    int type;            // ADO type number
    const char* value;   // value expression
    const char* lookup;  // lookup expression (key fields)
};

// START -> SOURCE (a whole table) -> TARGET (one storage step) -> END.
QString integrationXml(const QString& sourceConn, const QString& sourceTable, const QString& targetConn,
                       const QString& targetTable, const QString& operation,
                       const std::vector<TargetField>& fields, const QString& formulas = QString())
{
    QString xml = QStringLiteral(
        "<?xml version=\"1.0\"?>\n<meridox>\n<nodes>\n"
        "<node type=\"start\" x=\"600\" y=\"500\" caption=\"START\"><next caption=\"\">2</next></node>\n");
    xml += QStringLiteral("<node type=\"data\" x=\"2500\" y=\"500\" caption=\"SOURCE\">\n"
                          "<dataconn><connname>source</connname><connstring>%1</connstring></dataconn>\n"
                          "<datasource type=\"table\">%2</datasource>\n<datafields>\n")
               .arg(xmlEscaped(sourceConn), xmlEscaped(sourceTable));
    xml += QStringLiteral("<field name=\"id\" type=\"3\" size=\"4\"/>\n"
                          "<field name=\"name\" type=\"202\" size=\"255\"/>\n"
                          "</datafields>\n<previous caption=\"\">1</previous>\n<next caption=\"\">3</next>\n</node>\n");
    xml += QStringLiteral("<node type=\"storage\" x=\"4400\" y=\"500\" caption=\"TARGET\">\n"
                          "<storageconn><connname>target</connname><connstring>%1</connstring>"
                          "<operation>%2</operation></storageconn>\n"
                          "<storagetarget type=\"table\">%3</storagetarget>\n<storagefields>\n")
               .arg(xmlEscaped(targetConn), operation, xmlEscaped(targetTable));
    for (const TargetField& f : fields)
        xml += QStringLiteral("<field name=\"%1\" type=\"%2\" size=\"255\"><f_value>%3</f_value>"
                              "<f_lookup>%4</f_lookup></field>\n")
                   .arg(QString::fromUtf8(f.name))
                   .arg(f.type)
                   .arg(xmlEscaped(QString::fromUtf8(f.value)), xmlEscaped(QString::fromUtf8(f.lookup)));
    xml += QStringLiteral("</storagefields>\n<previous caption=\"\">2</previous>\n<next caption=\"\">4</next>\n"
                          "</node>\n"
                          "<node type=\"stop\" x=\"6300\" y=\"500\" caption=\"END\">"
                          "<previous caption=\"\">3</previous></node>\n"
                          "</nodes>\n<formula>");
    xml += formulas + QStringLiteral("</formula>\n</meridox>\n");
    return xml;
}

// One storage step of a longer flow.
struct FlowStep {
    QString caption;
    QString connName;
    QString connString;
    QString table;
    QString operation;
    std::vector<TargetField> fields;
};

// START -> SOURCE (a table, or an SQL statement when sourceType is "sql")
// -> each step in turn -> END.
QString flowXml(const QString& sourceConn, const QString& sourceType, const QString& source,
                const std::vector<FlowStep>& steps)
{
    const int end = 3 + int(steps.size());
    QString xml = QStringLiteral(
        "<?xml version=\"1.0\"?>\n<meridox>\n<nodes>\n"
        "<node type=\"start\" x=\"600\" y=\"500\" caption=\"START\"><next caption=\"\">2</next></node>\n");
    xml += QStringLiteral("<node type=\"data\" x=\"2500\" y=\"500\" caption=\"SOURCE\">\n"
                          "<dataconn><connname>source</connname><connstring>%1</connstring></dataconn>\n"
                          "<datasource type=\"%2\">%3</datasource>\n"
                          "<previous caption=\"\">1</previous>\n<next caption=\"\">3</next>\n</node>\n")
               .arg(xmlEscaped(sourceConn), sourceType, xmlEscaped(source));
    for (int i = 0; i < int(steps.size()); ++i) {
        const FlowStep& step = steps[size_t(i)];
        xml += QStringLiteral("<node type=\"storage\" x=\"%1\" y=\"500\" caption=\"%2\">\n"
                              "<storageconn><connname>%3</connname><connstring>%4</connstring>"
                              "<operation>%5</operation></storageconn>\n"
                              "<storagetarget type=\"table\">%6</storagetarget>\n<storagefields>\n")
                   .arg(4400 + 1900 * i)
                   .arg(step.caption, step.connName, xmlEscaped(step.connString), step.operation,
                        xmlEscaped(step.table));
        for (const TargetField& f : step.fields)
            xml += QStringLiteral("<field name=\"%1\" type=\"%2\" size=\"255\"><f_value>%3</f_value>"
                                  "<f_lookup>%4</f_lookup></field>\n")
                       .arg(QString::fromUtf8(f.name))
                       .arg(f.type)
                       .arg(xmlEscaped(QString::fromUtf8(f.value)), xmlEscaped(QString::fromUtf8(f.lookup)));
        xml += QStringLiteral("</storagefields>\n<previous caption=\"\">%1</previous>\n"
                              "<next caption=\"\">%2</next>\n</node>\n")
                   .arg(2 + i)
                   .arg(4 + i);
    }
    xml += QStringLiteral("<node type=\"stop\" x=\"%1\" y=\"500\" caption=\"END\">"
                          "<previous caption=\"\">%2</previous></node>\n"
                          "</nodes>\n<formula></formula>\n</meridox>\n")
               .arg(4400 + 1900 * int(steps.size()))
               .arg(end - 1);
    return xml;
}

// One storage step of flowXml.
struct TargetStep {
    QString caption;
    QString connName;
    QString conn;
    QString table;
    QString operation;
    std::vector<TargetField> fields;
};

// START -> SOURCE (a whole table) -> each step in turn -> END.
QString flowXml(const QString& sourceConn, const QString& sourceTable, const std::vector<TargetStep>& steps)
{
    const int stop = 3 + int(steps.size());
    QString xml = QStringLiteral(
        "<?xml version=\"1.0\"?>\n<meridox>\n<nodes>\n"
        "<node type=\"start\" x=\"600\" y=\"500\" caption=\"START\"><next caption=\"\">2</next></node>\n");
    xml += QStringLiteral("<node type=\"data\" x=\"2500\" y=\"500\" caption=\"SOURCE\">\n"
                          "<dataconn><connname>source</connname><connstring>%1</connstring></dataconn>\n"
                          "<datasource type=\"table\">%2</datasource>\n<datafields>\n"
                          "<field name=\"id\" type=\"3\" size=\"4\"/>\n</datafields>\n"
                          "<previous caption=\"\">1</previous>\n<next caption=\"\">3</next>\n</node>\n")
               .arg(xmlEscaped(sourceConn), xmlEscaped(sourceTable));
    for (size_t i = 0; i < steps.size(); ++i) {
        const TargetStep& t = steps[i];
        const int index = 3 + int(i);
        xml += QStringLiteral("<node type=\"storage\" x=\"%1\" y=\"500\" caption=\"%2\">\n"
                              "<storageconn><connname>%3</connname><connstring>%4</connstring>"
                              "<operation>%5</operation></storageconn>\n"
                              "<storagetarget type=\"table\">%6</storagetarget>\n<storagefields>\n")
                   .arg(4400 + 1900 * int(i))
                   .arg(t.caption, xmlEscaped(t.connName), xmlEscaped(t.conn), t.operation, xmlEscaped(t.table));
        for (const TargetField& f : t.fields)
            xml += QStringLiteral("<field name=\"%1\" type=\"%2\" size=\"255\"><f_value>%3</f_value>"
                                  "<f_lookup>%4</f_lookup></field>\n")
                       .arg(QString::fromUtf8(f.name))
                       .arg(f.type)
                       .arg(xmlEscaped(QString::fromUtf8(f.value)), xmlEscaped(QString::fromUtf8(f.lookup)));
        xml += QStringLiteral("</storagefields>\n<previous caption=\"\">%1</previous>\n<next caption=\"\">%2</next>\n"
                              "</node>\n")
                   .arg(index - 1)
                   .arg(index + 1);
    }
    xml += QStringLiteral("<node type=\"stop\" x=\"9000\" y=\"500\" caption=\"END\">"
                          "<previous caption=\"\">%1</previous></node>\n"
                          "</nodes>\n<formula></formula>\n</meridox>\n")
               .arg(stop - 1);
    return xml;
}

QString sqliteConn(const QString& file) { return QStringLiteral("Provider=SQLite;Data Source=") + file; }

// The copy of customers into customer_copy keyed by id.
const std::vector<TargetField> kCopyFields{
    {"id", 3, "SOURCE(\"id\")", "SOURCE(\"id\")"},
    {"name", 202, "SOURCE(\"name\")", ""},
};

bool writeFile(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(text.toUtf8()) >= 0;
}

// ---------------------------------------------------------------- the runner

QString runnerProgram()
{
    QString dir = qEnvironmentVariable("MERIDOX_BIN_DIR");
    if (dir.isEmpty())
        dir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    return dir + QStringLiteral("/MeridoxRunner");
}

struct Entry {
    int type = -1;
    QString text;
};

using Row = cMeridoxData::Row;

std::vector<Row> storeRows(const QString& folder, kindrecordset kind)
{
    std::vector<Row> out;
    cMeridoxData data(folder);
    ado::Recordset rs = data.getRS(kind);
    EXPECT_TRUE(rs.isOpen()) << data.LastError().toStdString();
    if (!rs.isOpen() || rs.RecordCount() <= 0)
        return out;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        Row row;
        for (int i = 0; i < rs.FieldCount(); ++i)
            row.insert(rs.fieldInfos()[size_t(i)].name, rs.value(i));
        out.push_back(row);
    }
    return out;
}

QString text(const Row& row, const char* field) { return row.value(QString::fromLatin1(field)).toString().trimmed(); }
long long number(const Row& row, const char* field) { return row.value(QString::fromLatin1(field)).toLongLong(); }

// ---------------------------------------------------------------- PostgreSQL

// The test server, when the environment names one (tests skip without it).
QString pgConnection() { return qEnvironmentVariable("MERIDOX_PG_CONNECTION"); }

// Names of this process's own tables: the server may be shared.
QString pgName(const char* name)
{
    return QStringLiteral("rn%1_").arg(QCoreApplication::applicationPid()) + QString::fromLatin1(name);
}

void pgExec(const QStringList& statements)
{
    ado::Connection c;
    ASSERT_TRUE(c.Open(pgConnection())) << c.lastError().Description.toStdString();
    for (const QString& sql : statements) {
        c.Execute(sql);
        ASSERT_EQ(c.Errors().Count(), 0) << sql.toStdString() << ": " << c.Errors().Item(0).Description.toStdString();
    }
}

// Every row of a query, each cell as text ("NULL" for a null cell).
std::vector<QStringList> pgRows(const QString& sql)
{
    std::vector<QStringList> out;
    ado::Connection c;
    EXPECT_TRUE(c.Open(pgConnection())) << c.lastError().Description.toStdString();
    ado::Recordset rs = c.Execute(sql);
    EXPECT_TRUE(rs.isOpen()) << sql.toStdString();
    for (; rs.hasCurrentRecord(); rs.MoveNext()) {
        QStringList row;
        for (int i = 0; i < rs.FieldCount(); ++i)
            row << (rs.value(i).isNull() ? QStringLiteral("NULL") : rs.value(i).toString());
        out.push_back(row);
    }
    return out;
}

class Runner : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QFileInfo::exists(runnerProgram())) << runnerProgram().toStdString();
        source_ = dir_.filePath(QStringLiteral("source.db"));
        target_ = dir_.filePath(QStringLiteral("target.db"));
        Db src(source_);
        src.exec("CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT);"
                 "INSERT INTO customers VALUES (1, 'Ana'), (2, 'Luis'), (3, 'Marta'), (4, 'Jordi');");
        Db dst(target_);
        dst.exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL);");
    }

    QString folder() const { return dir_.path(); }
    QString eventFile() const { return dir_.filePath(QStringLiteral("events.log")); }

    // Writes the copy integration to path (relative to the temporary folder).
    QString writeCopy(const QString& relative, const QString& sourceConn = QString(),
                      const QString& targetConn = QString())
    {
        const QString path = dir_.filePath(relative);
        EXPECT_TRUE(writeFile(path, integrationXml(sourceConn.isEmpty() ? sqliteConn(source_) : sourceConn,
                                                   QStringLiteral("customers"),
                                                   targetConn.isEmpty() ? sqliteConn(target_) : targetConn,
                                                   QStringLiteral("customer_copy"),
                                                   QStringLiteral("UpdateInsert"), kCopyFields)));
        return path;
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MERIDOX_HOME"), folder());
        env.insert(QStringLiteral("MERIDOX_CONFIG"), dir_.filePath(QStringLiteral("Meridox.conf")));
        env.insert(QStringLiteral("MERIDOX_EVENTLOG_FILE"), eventFile());
        return env;
    }

    // Runs the runner with these arguments; the event log starts empty.
    int run(const QStringList& arguments) { return run(arguments, environment()); }
    int run(const QStringList& arguments, const QProcessEnvironment& env, int timeoutMs = 60000)
    {
        QFile::remove(eventFile());
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder());
        if (dataLimit_ > 0) {
            const rlim_t limit = dataLimit_;
            p.setChildProcessModifier([limit] {
                const rlimit cap{limit, limit};
                setrlimit(RLIMIT_DATA, &cap);
            });
        }
        if (otherUser_ > 0)
            // Another user, as a shared run-data folder sees them.
            p.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=%1").arg(otherUser_),
                                                           QStringLiteral("--regid=%1").arg(otherUser_),
                                                           QStringLiteral("--clear-groups"), runnerProgram()}
                                                   + arguments);
        else
            p.start(runnerProgram(), arguments);
        if (!p.waitForStarted(10000)) {
            ADD_FAILURE() << "runner did not start";
            return -1;
        }
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "runner did not finish";
            return -1;
        }
        stdout_ = p.readAllStandardOutput();
        stderr_ = p.readAllStandardError();
        if (p.exitStatus() != QProcess::NormalExit) {
            ADD_FAILURE() << "runner crashed: " << p.readAllStandardError().toStdString();
            return -1;
        }
        return p.exitCode();
    }

    std::vector<Entry> events() const
    {
        std::vector<Entry> out;
        QFile f(eventFile());
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QString& line : QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            const qsizetype tab = line.indexOf(u'\t');
            Entry e;
            e.type = tab > 0 ? line.left(tab).toInt() : -1;
            e.text = line.mid(tab + 1);
            out.push_back(e);
        }
        return out;
    }

    std::vector<Row> executions() const { return storeRows(folder(), executiondata); }
    std::vector<Row> errorRows() const { return storeRows(folder(), executionlogdata); }

    static QString dump(const std::vector<Entry>& entries)
    {
        QString s;
        for (const Entry& e : entries)
            s += QString::number(e.type) + QLatin1Char(' ') + e.text + QLatin1Char('\n');
        return s;
    }

    // The copy with its name through the formula Name (its code as given);
    // the target's name column takes Null.
    QString writeFormulaCopy(const QString& relative, const QString& code)
    {
        Db(target_).exec("CREATE TABLE IF NOT EXISTS loose_copy (id INTEGER PRIMARY KEY, name TEXT);");
        const std::vector<TargetField> fields{{"id", 3, "SOURCE(\"id\")", "SOURCE(\"id\")"},
                                              {"name", 202, "FORMULA!Name", ""}};
        const QString path = dir_.filePath(relative);
        EXPECT_TRUE(writeFile(path, integrationXml(sqliteConn(source_), QStringLiteral("customers"), sqliteConn(target_),
                                                   QStringLiteral("loose_copy"), QStringLiteral("UpdateInsert"), fields,
                                                   QStringLiteral("<formula name=\"Name\">") + xmlEscaped(code)
                                                       + QStringLiteral("</formula>"))));
        return path;
    }

    QTemporaryDir dir_;
    QString source_;
    QString target_;
    QByteArray stdout_;
    QByteArray stderr_;
    int otherUser_ = 0;      // run the runner as this user id (root only)
    rlim_t dataLimit_ = 0;   // RLIMIT_DATA of the runner, 0 for none
};

// ---------------------------------------------------------------- completed runs

// One run copies every row, writes one execution row with its counters and
// reports its progress to the event log, in order, as information; a second
// run of the same file adds one more execution row counting only the update.
TEST_F(Runner, CompletedRunCopiesRowsAndRecordsOneExecutionPerRun)
{
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();

    Db dst(target_);
    EXPECT_EQ(dst.rows("SELECT id, name FROM customer_copy ORDER BY id"),
              (std::vector<QStringList>{{"1", "Ana"}, {"2", "Luis"}, {"3", "Marta"}, {"4", "Jordi"}}));

    std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(text(runs[0], "NAME"), file);
    EXPECT_EQ(number(runs[0], "ROWS"), 4);
    EXPECT_EQ(number(runs[0], "RINSERTS"), 4);
    EXPECT_EQ(number(runs[0], "RUPDATES"), 0);
    EXPECT_EQ(number(runs[0], "RDELETED"), 0);
    EXPECT_EQ(number(runs[0], "RERRORS"), 0);
    EXPECT_EQ(text(runs[0], "RESULT"), QStringLiteral("Completed"));
    EXPECT_TRUE(runs[0].value(QStringLiteral("RUNTIME")).toDateTime().isValid());
    EXPECT_LE(runs[0].value(QStringLiteral("RUNTIME")).toDateTime(),
              runs[0].value(QStringLiteral("END")).toDateTime());
    EXPECT_TRUE(errorRows().empty());

    // The event log: the start entry with the file name, then every run-log
    // line behind the same prefix, all information.
    const std::vector<Entry> log = events();
    ASSERT_GE(log.size(), 2u) << dump(log).toStdString();
    EXPECT_EQ(log[0].text, QStringLiteral("MeridoxRunner: ") + file);
    QStringList texts;
    for (const Entry& e : log) {
        EXPECT_EQ(e.type, 4) << e.text.toStdString();
        EXPECT_TRUE(e.text.startsWith(QStringLiteral("MeridoxRunner: "))) << e.text.toStdString();
        texts << e.text;
    }
    const QStringList expected{
        QStringLiteral("MeridoxRunner: ") + file,
        QStringLiteral("MeridoxRunner: MeridoxRunner: Loading ") + file,
        QStringLiteral("MeridoxRunner: MeridoxRunner: Executing ") + file,
        QStringLiteral("MeridoxRunner: MeridoxRunner: starting process"),
        QStringLiteral("MeridoxRunner: MeridoxRunner: processing"),
    };
    EXPECT_EQ(texts, expected);
    EXPECT_TRUE(stdout_.isEmpty()) << stdout_.toStdString();

    // Second run: one changed source row is the only update.
    {
        Db src(source_);
        src.exec("UPDATE customers SET name = 'Luisa' WHERE id = 2;");
    }
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    EXPECT_EQ(dst.rows("SELECT name FROM customer_copy WHERE id = 2").front().value(0), QStringLiteral("Luisa"));
    EXPECT_EQ(dst.count("customer_copy"), 4);
    runs = executions();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(number(runs[1], "ROWS"), 4);
    EXPECT_EQ(number(runs[1], "RINSERTS"), 0);
    EXPECT_EQ(number(runs[1], "RUPDATES"), 1);
    EXPECT_EQ(number(runs[1], "RERRORS"), 0);
    EXPECT_NE(number(runs[0], "ID"), number(runs[1], "ID"));
}

// A record the target refuses (NOT NULL) is one error row and one counted
// error; the other records are written and the run still exits 0.
TEST_F(Runner, FailingRecordWritesErrorRowAndStillCompletes)
{
    {
        Db src(source_);
        src.exec("UPDATE customers SET name = NULL WHERE id = 3;");
    }
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();

    Db dst(target_);
    EXPECT_EQ(dst.rows("SELECT id FROM customer_copy ORDER BY id"),
              (std::vector<QStringList>{{"1"}, {"2"}, {"4"}}));

    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(number(runs[0], "ROWS"), 4);
    EXPECT_EQ(number(runs[0], "RINSERTS"), 4);   // attempts, the failed one included
    EXPECT_EQ(number(runs[0], "RERRORS"), 1);
    EXPECT_EQ(text(runs[0], "RESULT"), QStringLiteral("Completed with errors"));

    const std::vector<Row> errors = errorRows();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(text(errors[0], "NAME"), file);
    EXPECT_EQ(number(errors[0], "RECORD"), 2);   // records processed before the failing one
    EXPECT_TRUE(errors[0].value(QStringLiteral("RUNTIME")).toDateTime().isValid());
    EXPECT_FALSE(errors[0].value(QStringLiteral("ERRNUMBER")).isNull());
    const QString description = text(errors[0], "ERRDESC");
    EXPECT_TRUE(description.contains(QStringLiteral("NOT NULL"), Qt::CaseInsensitive)) << description.toStdString();

    // The same line reaches the event log, between "processing" and the end.
    const std::vector<Entry> log = events();
    int processing = -1;
    int errorLine = -1;
    for (int i = 0; i < int(log.size()); ++i) {
        if (log[size_t(i)].text == QStringLiteral("MeridoxRunner: MeridoxRunner: processing"))
            processing = i;
        if (log[size_t(i)].text.contains(QStringLiteral("NOT NULL"), Qt::CaseInsensitive))
            errorLine = i;
    }
    ASSERT_GE(processing, 0) << dump(log).toStdString();
    ASSERT_GT(errorLine, processing) << dump(log).toStdString();
    EXPECT_EQ(log[size_t(errorLine)].text, QStringLiteral("MeridoxRunner: ") + description);
}

// A run whose execution row cannot be saved (the store is a folder) did its
// work, but left no record of it: exit 4, and the lost row is an error entry,
// not information.
TEST_F(Runner, UnsavedExecutionRowIsAnErrorEntryOfACompletedRun)
{
    // Both stores are folders, and record 3 fails: neither its error row nor
    // the execution row can be kept, and each loss is an error entry.
    ASSERT_TRUE(QDir(folder()).mkpath(cMeridoxData(folder()).StoreFile(executiondata)));
    ASSERT_TRUE(QDir(folder()).mkpath(cMeridoxData(folder()).StoreFile(executionlogdata)));
    Db(source_).exec("UPDATE customers SET name = NULL WHERE id = 3;");
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    EXPECT_EQ(run({file}), 4) << dump(events()).toStdString();
    EXPECT_EQ(Db(target_).count("customer_copy"), 3);
    bool executionEntry = false;
    bool errorRowEntry = false;
    for (const Entry& e : events()) {
        if (e.text.contains(QStringLiteral("execution row could not be saved")))
            executionEntry = e.type == 1;
        if (e.text.contains(QStringLiteral("cannot be saved to the errors store")))
            errorRowEntry = e.type == 1;
    }
    EXPECT_TRUE(executionEntry) << dump(events()).toStdString();
    EXPECT_TRUE(errorRowEntry) << dump(events()).toStdString();
}

// An empty source is a completed run with a zero row.
TEST_F(Runner, EmptySourceCompletesWithZeroCounters)
{
    {
        Db src(source_);
        src.exec("DELETE FROM customers;");
    }
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(number(runs[0], "ROWS"), 0);
    EXPECT_EQ(number(runs[0], "RINSERTS"), 0);
    EXPECT_EQ(text(runs[0], "RESULT"), QStringLiteral("Completed"));
}

// ---------------------------------------------------------------- the command line

// The service passes a path with blanks as one argument; it is the file name
// as it is. Quotes inside the argument are part of the name.
TEST_F(Runner, PathWithBlanksAsOneArgument)
{
    const QString file = writeCopy(QStringLiteral("my jobs/copy  customers.xml"));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    EXPECT_EQ(Db(target_).count("customer_copy"), 4);
    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(text(runs[0], "NAME"), file);
    ASSERT_FALSE(events().empty());
    EXPECT_EQ(events().front().text, QStringLiteral("MeridoxRunner: ") + file);

    const QString quoted = QLatin1Char('"') + file + QLatin1Char('"');
    EXPECT_EQ(run({quoted}), 1);
    ASSERT_FALSE(events().empty());
    EXPECT_EQ(events().front().text, QStringLiteral("MeridoxRunner: ") + quoted);
    EXPECT_EQ(executions().size(), 1u);
}

// A name outside ASCII survives the command line whatever the locale of the
// process that starts the runner (the service's is often plain "C").
TEST_F(Runner, NonAsciiPathUnderCLocale)
{
    const QString file = writeCopy(QStringLiteral("tâches/còpia clientes.xml"));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    ASSERT_EQ(run({file}, env), 0) << dump(events()).toStdString();
    ASSERT_EQ(executions().size(), 1u);
    EXPECT_EQ(text(executions()[0], "NAME"), file);
    EXPECT_EQ(events().front().text, QStringLiteral("MeridoxRunner: ") + file);
}

// Several arguments are the pieces of one path split at its blanks: they are
// joined again with single blanks.
TEST_F(Runner, SeveralArgumentsJoinedWithSingleBlanks)
{
    const QString file = writeCopy(QStringLiteral("my jobs/copy the customers.xml"));
    const QStringList pieces = file.split(u' ');
    ASSERT_EQ(pieces.size(), 4);
    ASSERT_EQ(run(pieces), 0) << dump(events()).toStdString();
    EXPECT_EQ(Db(target_).count("customer_copy"), 4);
    ASSERT_EQ(executions().size(), 1u);
    EXPECT_EQ(text(executions()[0], "NAME"), file);
    EXPECT_EQ(events().front().text, QStringLiteral("MeridoxRunner: ") + file);
}

// ---------------------------------------------------------------- failures

TEST_F(Runner, NoArgumentExitsTwoWithErrorEntry)
{
    EXPECT_EQ(run({}), 2);
    const std::vector<Entry> log = events();
    ASSERT_GE(log.size(), 2u) << dump(log).toStdString();
    EXPECT_EQ(log[0].text, QStringLiteral("MeridoxRunner: "));
    EXPECT_EQ(log[0].type, 4);
    EXPECT_EQ(log.back().type, 1);
    EXPECT_TRUE(executions().empty());
}

// A file that is missing or does not parse is not run: exit 1, nothing
// written, the reason in the event log after the loading line.
TEST_F(Runner, FileThatDoesNotLoadExitsOne)
{
    const QString missing = dir_.filePath(QStringLiteral("no such file.xml"));
    const QString broken = dir_.filePath(QStringLiteral("broken.xml"));
    ASSERT_TRUE(writeFile(broken, QStringLiteral("<meridox><nodes><node type=\"start\"")));
    const QString empty = dir_.filePath(QStringLiteral("empty.xml"));
    ASSERT_TRUE(writeFile(empty, QString()));

    for (const QString& file : {missing, broken, empty}) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_EQ(run({file}), 1);
        const std::vector<Entry> log = events();
        ASSERT_GE(log.size(), 3u) << dump(log).toStdString();
        EXPECT_EQ(log[0].text, QStringLiteral("MeridoxRunner: ") + file);
        EXPECT_EQ(log[1].text, QStringLiteral("MeridoxRunner: MeridoxRunner: Loading ") + file);
        // The reason follows, as an error entry; nothing is executed.
        EXPECT_GT(log[2].text.size(), QStringLiteral("MeridoxRunner: ").size());
        EXPECT_EQ(log[2].type, 1) << log[2].text.toStdString();
        EXPECT_EQ(log[1].type, 4);
        for (const Entry& e : log)
            EXPECT_FALSE(e.text.contains(QStringLiteral("Executing"))) << e.text.toStdString();
    }
    EXPECT_TRUE(executions().empty());
    EXPECT_TRUE(errorRows().empty());
    EXPECT_EQ(Db(target_).count("customer_copy"), 0);
}

// A source whose database cannot be opened ends the run on a critical line:
// exit 2, the line as an error entry, no execution row.
TEST_F(Runner, SourceConnectionFailureIsCritical)
{
    const QString file = writeCopy(QStringLiteral("copy.xml"),
                                   sqliteConn(dir_.filePath(QStringLiteral("missing folder/source.db"))));
    EXPECT_EQ(run({file}), 2);
    const std::vector<Entry> log = events();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].text, QStringLiteral("MeridoxRunner: ") + file);
    EXPECT_EQ(log[0].type, 4);
    bool criticalAsError = false;
    for (const Entry& e : log)
        if (e.text.startsWith(QStringLiteral("MeridoxRunner: CRITICAL ERROR")))
            criticalAsError = criticalAsError || e.type == 1;
    EXPECT_TRUE(criticalAsError) << dump(log).toStdString();
    EXPECT_TRUE(executions().empty());
    EXPECT_EQ(Db(target_).count("customer_copy"), 0);
}

// A source table that does not exist: the source cannot be read, the run
// never starts and the runner says so with a non-zero exit and an error entry.
TEST_F(Runner, UnreadableSourceExitsTwo)
{
    const QString file = dir_.filePath(QStringLiteral("copy.xml"));
    ASSERT_TRUE(writeFile(file, integrationXml(sqliteConn(source_), QStringLiteral("no_such_table"),
                                               sqliteConn(target_), QStringLiteral("customer_copy"),
                                               QStringLiteral("UpdateInsert"), kCopyFields)));
    EXPECT_EQ(run({file}), 2);
    const std::vector<Entry> log = events();
    bool errorEntry = false;
    for (const Entry& e : log)
        errorEntry = errorEntry || (e.type == 1 && e.text.contains(QStringLiteral("no_such_table")));
    EXPECT_TRUE(errorEntry) << dump(log).toStdString();
    EXPECT_TRUE(executions().empty());
}

// A target whose connection fails stops the run at the first record.
TEST_F(Runner, TargetConnectionFailureIsCritical)
{
    const QString file = writeCopy(QStringLiteral("copy.xml"), QString(),
                                   sqliteConn(dir_.filePath(QStringLiteral("missing folder/target.db"))));
    EXPECT_EQ(run({file}), 2);
    const std::vector<Entry> log = events();
    bool criticalAsError = false;
    for (const Entry& e : log) {
        if (e.text.contains(QStringLiteral("CRITICAL ERROR")))
            criticalAsError = criticalAsError || e.type == 1;
        // The log stays critical for the rest of the run; the progress
        // lines after the critical one are still information.
        if (e.text.endsWith(QStringLiteral("MeridoxRunner: processing")))
            EXPECT_EQ(e.type, 4) << dump(log).toStdString();
    }
    EXPECT_TRUE(criticalAsError) << dump(log).toStdString();
    EXPECT_TRUE(executions().empty());
}

// ---------------------------------------------------------------- rows written and read back

// Two headers are ignored by SQLite without failing: one whose code is
// there already (UNIQUE ON CONFLICT IGNORE), one that a trigger drops
// (RAISE(IGNORE)). What the run says is what a commit per record says: an
// ignored row is no insert, and the DETAIL step of those records finds no
// HEADER row instead of the one stored for the record before. A header that
// is stored reaches DETAIL as its AFTER trigger left it.
TEST_F(Runner, InsertTheDatabaseIgnoresIsNoInsertAndNoRowForLaterSteps)
{
    Db(target_).exec("CREATE TABLE header (hid INTEGER PRIMARY KEY, code TEXT UNIQUE ON CONFLICT IGNORE, stamp TEXT);"
                     "CREATE TABLE detail (id INTEGER PRIMARY KEY, hid INTEGER, code TEXT, stamp TEXT);"
                     "INSERT INTO header (hid, code) VALUES (100, 'Luis');"
                     "CREATE TRIGGER drop_marta BEFORE INSERT ON header WHEN NEW.code = 'Marta' "
                     "BEGIN SELECT RAISE(IGNORE); END;"
                     "CREATE TRIGGER stamp AFTER INSERT ON header "
                     "BEGIN UPDATE header SET stamp = 'seen ' || NEW.code WHERE hid = NEW.hid; END;");
    const QString file = dir_.filePath(QStringLiteral("header.xml"));
    ASSERT_TRUE(writeFile(
        file, flowXml(sqliteConn(source_), QStringLiteral("table"), QStringLiteral("customers"),
                      {{"HEADER", "target", sqliteConn(target_), "header", "Insert", {{"code", 202, "SOURCE(\"name\")", ""}}},
                       {"DETAIL", "target", sqliteConn(target_), "detail", "Insert",
                        {{"id", 3, "SOURCE(\"id\")", ""},
                         {"hid", 3, "HEADER(\"hid\")", ""},
                         {"code", 202, "HEADER(\"code\")", ""},
                         {"stamp", 202, "HEADER(\"stamp\")", ""}}}})));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();

    Db dst(target_);
    EXPECT_EQ(dst.rows("SELECT d.id, d.code, h.code, d.stamp FROM detail d JOIN header h ON h.hid = d.hid ORDER BY d.id"),
              (std::vector<QStringList>{{"1", "Ana", "Ana", "seen Ana"}, {"4", "Jordi", "Jordi", "seen Jordi"}}));
    EXPECT_EQ(dst.count("detail"), 2);
    EXPECT_EQ(dst.count("header"), 3);

    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(number(runs[0], "RINSERTS"), 6);   // 2 headers, 4 detail attempts
    EXPECT_EQ(number(runs[0], "RERRORS"), 2);
    EXPECT_EQ(text(runs[0], "RESULT"), QStringLiteral("Completed with errors"));
    const std::vector<Row> errors = errorRows();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(number(errors[0], "RECORD"), 1);
    EXPECT_EQ(number(errors[1], "RECORD"), 2);
    for (const Row& e : errors) {
        EXPECT_TRUE(text(e, "ERRDESC").contains(QStringLiteral("DETAIL"))) << text(e, "ERRDESC").toStdString();
        EXPECT_TRUE(text(e, "ERRDESC").contains(QStringLiteral("current record"))) << text(e, "ERRDESC").toStdString();
    }
}

// PostgreSQL: a key from a sequence the column does not own, a text key made
// by a default function, a value a BEFORE trigger changes although the step
// writes every column, and a row a BEFORE trigger drops. The DETAIL step
// writes what the database stored for its own record, and nothing fails
// but the detail whose header was dropped. First of all, a view written
// through a rule, which cannot return the row it stores: its inserts are
// plain ones, and trying the other kind spoils no later statement.
TEST_F(Runner, PostgresStepsReadTheRowTheDatabaseStored)
{
    if (pgConnection().isEmpty())
        GTEST_SKIP() << "MERIDOX_PG_CONNECTION is not set";
    const QString hdr = pgName("hdr"), tok = pgName("tok"), lbl = pgName("lbl"), det = pgName("det"),
                  seq = pgName("seq"), view = pgName("view"), base = pgName("base");
    const QStringList drop{"DROP VIEW IF EXISTS " + view,
                           "DROP TABLE IF EXISTS " + hdr + ", " + tok + ", " + lbl + ", " + det + ", " + base,
                           "DROP SEQUENCE IF EXISTS " + seq,
                           "DROP FUNCTION IF EXISTS " + hdr + "_skip(), " + lbl + "_upper()"};
    pgExec(drop);
    pgExec({"CREATE SEQUENCE " + seq + " START 500",
            "CREATE TABLE " + hdr + " (hid integer PRIMARY KEY DEFAULT nextval('" + seq + "'), name text)",
            "CREATE FUNCTION " + hdr + "_skip() RETURNS trigger LANGUAGE plpgsql AS "
            "'BEGIN IF NEW.name = ''Marta'' THEN RETURN NULL; END IF; RETURN NEW; END'",
            "CREATE TRIGGER skip BEFORE INSERT ON " + hdr + " FOR EACH ROW EXECUTE FUNCTION " + hdr + "_skip()",
            "CREATE TABLE " + tok + " (tok text PRIMARY KEY DEFAULT md5(random()::text), name text)",
            "CREATE TABLE " + lbl + " (id integer PRIMARY KEY, label text)",
            "CREATE FUNCTION " + lbl + "_upper() RETURNS trigger LANGUAGE plpgsql AS "
            "'BEGIN NEW.label := upper(NEW.label); RETURN NEW; END'",
            "CREATE TRIGGER upper BEFORE INSERT ON " + lbl + " FOR EACH ROW EXECUTE FUNCTION " + lbl + "_upper()",
            "CREATE TABLE " + det + " (id integer PRIMARY KEY, hid integer, tok text, label text)",
            "CREATE TABLE " + base + " (id integer, name text)",
            "CREATE VIEW " + view + " AS SELECT id, name FROM " + base,
            "CREATE RULE add AS ON INSERT TO " + view + " DO INSTEAD INSERT INTO " + base + " VALUES (NEW.id, NEW.name)"});
    const QString pg = pgConnection();
    const QString file = dir_.filePath(QStringLiteral("pg.xml"));
    ASSERT_TRUE(writeFile(
        file, flowXml(sqliteConn(source_), QStringLiteral("table"), QStringLiteral("customers"),
                      {{"LEGACY", "pg", pg, view, "Insert", {{"id", 3, "SOURCE(\"id\")", ""}, {"name", 202, "SOURCE(\"name\")", ""}}},
                       {"HEADER", "pg", pg, hdr, "Insert", {{"name", 202, "SOURCE(\"name\")", ""}}},
                       {"TOKEN", "pg", pg, tok, "Insert", {{"name", 202, "SOURCE(\"name\")", ""}}},
                       {"LABEL", "pg", pg, lbl, "Insert", {{"id", 3, "SOURCE(\"id\")", ""}, {"label", 202, "SOURCE(\"name\")", ""}}},
                       {"DETAIL", "pg", pg, det, "Insert",
                        {{"id", 3, "SOURCE(\"id\")", ""},
                         {"hid", 3, "HEADER(\"hid\")", ""},
                         {"tok", 202, "TOKEN(\"tok\")", ""},
                         {"label", 202, "LABEL(\"label\")", ""}}}})));
    EXPECT_EQ(run({file}), 0) << dump(events()).toStdString();

    EXPECT_EQ(pgRows("SELECT d.id, h.name, t.name, d.label FROM " + det + " d JOIN " + hdr + " h ON h.hid = d.hid JOIN "
                     + tok + " t ON t.tok = d.tok ORDER BY d.id"),
              (std::vector<QStringList>{{"1", "Ana", "Ana", "ANA"}, {"2", "Luis", "Luis", "LUIS"}, {"4", "Jordi", "Jordi", "JORDI"}}));
    EXPECT_EQ(pgRows("SELECT (SELECT COUNT(*) FROM " + hdr + "), (SELECT COUNT(*) FROM " + tok + "), (SELECT COUNT(*) FROM "
                     + lbl + "), (SELECT COUNT(*) FROM " + det + "), (SELECT COUNT(*) FROM " + base + ")"),
              (std::vector<QStringList>{{"3", "4", "4", "3", "4"}}));

    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(number(runs[0], "RINSERTS"), 19);   // 4 through the view, 3 headers, 4 tokens, 4 labels, 4 detail attempts
    EXPECT_EQ(number(runs[0], "RERRORS"), 1);
    const std::vector<Row> errors = errorRows();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(number(errors[0], "RECORD"), 2);
    EXPECT_TRUE(text(errors[0], "ERRDESC").contains(QStringLiteral("DETAIL"))) << text(errors[0], "ERRDESC").toStdString();
    pgExec(drop);
}

// A SQL source that is no query (an UPDATE) gives no rows to walk: the run
// does not start, and the error entry says why, naming the source step.
TEST_F(Runner, SourceStatementThatReturnsNoRowsSaysWhy)
{
    std::vector<std::pair<QString, QString>> sources{
        {sqliteConn(source_), QStringLiteral("UPDATE customers SET name = name")}};
    const QString table = pgName("src");
    if (!pgConnection().isEmpty()) {
        pgExec({"DROP TABLE IF EXISTS " + table, "CREATE TABLE " + table + " (id integer, name text)",
                "INSERT INTO " + table + " VALUES (1, 'Ana')"});
        sources.push_back({pgConnection(), "UPDATE " + table + " SET name = name"});
    }
    for (const auto& [conn, sql] : sources) {
        SCOPED_TRACE(sql.toStdString());
        const QString file = dir_.filePath(QStringLiteral("update.xml"));
        ASSERT_TRUE(writeFile(file, flowXml(conn, QStringLiteral("sql"), sql,
                                            {{"TARGET", "target", sqliteConn(target_), "customer_copy", "UpdateInsert",
                                              kCopyFields}})));
        EXPECT_EQ(run({file}), 2);
        bool said = false;
        for (const Entry& e : events())
            said = said || (e.type == 1 && e.text.contains(QStringLiteral("SOURCE"))
                            && e.text.contains(QStringLiteral("returns no rows")));
        EXPECT_TRUE(said) << dump(events()).toStdString();
        EXPECT_TRUE(executions().empty());
    }
    if (!pgConnection().isEmpty())
        pgExec({"DROP TABLE IF EXISTS " + table});
}

// An empty BLOB is a value, not Null: it is copied as an empty BLOB, and a
// second run finds nothing to change.
TEST_F(Runner, EmptyBlobIsCopiedAsAnEmptyBlob)
{
    Db(source_).exec("CREATE TABLE files (id INTEGER PRIMARY KEY, data BLOB);"
                     "INSERT INTO files VALUES (1, X''), (2, NULL), (3, X'00FF');");
    Db(target_).exec("CREATE TABLE file_copy (id INTEGER PRIMARY KEY, data BLOB);");
    const QString file = dir_.filePath(QStringLiteral("blob.xml"));
    ASSERT_TRUE(writeFile(file, flowXml(sqliteConn(source_), QStringLiteral("table"), QStringLiteral("files"),
                                        {{"TARGET", "target", sqliteConn(target_), "file_copy", "UpdateInsert",
                                          {{"id", 3, "SOURCE(\"id\")", "SOURCE(\"id\")"},
                                           {"data", 205, "SOURCE(\"data\")", ""}}}})));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    const char* query = "SELECT id, typeof(data), length(data), hex(data) FROM file_copy ORDER BY id";
    const std::vector<QStringList> expected{{"1", "blob", "0", ""}, {"2", "null", "NULL", ""}, {"3", "blob", "2", "00FF"}};
    EXPECT_EQ(Db(target_).rows(query), expected);
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    EXPECT_EQ(Db(target_).rows(query), expected);
    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(number(runs[1], "RINSERTS"), 0);
    EXPECT_EQ(number(runs[1], "RUPDATES"), 0);
}

// The rows of a source are held in a temporary file; when its folder is
// full, the error entry gives the system's reason.
TEST_F(Runner, FullTemporaryFolderSaysNoSpaceIsLeft)
{
    const QString tmp = dir_.filePath(QStringLiteral("small tmp"));
    ASSERT_TRUE(QDir().mkpath(tmp));
    const QByteArray where = QFile::encodeName(tmp);
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "a small tmpfs cannot be mounted here: " << std::strerror(errno);
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{where};
    Db(source_).exec("WITH RECURSIVE n(x) AS (SELECT 5 UNION ALL SELECT x + 1 FROM n WHERE x < 20000) "
                     "INSERT INTO customers SELECT x, 'customer number ' || x || ' with a longer name' FROM n;");
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("TMPDIR"), tmp);
    EXPECT_EQ(run({file}, env), 2);
    bool said = false;
    for (const Entry& e : events()) {
        said = said || (e.type == 1 && e.text.contains(QStringLiteral("No space left on device")));
        EXPECT_FALSE(e.text.contains(QStringLiteral("Unknown error"))) << e.text.toStdString();
    }
    EXPECT_TRUE(said) << dump(events()).toStdString();
    EXPECT_TRUE(executions().empty());
    EXPECT_EQ(Db(target_).count("customer_copy"), 0);
}

// ---------------------------------------------------------------- abnormal ends

// A stop signal (systemctl stop, Ctrl+C, a closed terminal) cancels the run:
// the record under way is finished, everything done is committed, the run is
// recorded as cancelled and the runner exits 3.
TEST_F(Runner, StopSignalCancelsTheRunAndKeepsItsWork)
{
    constexpr int kRows = 100000;
    Db(source_).exec("WITH RECURSIVE n(x) AS (SELECT 5 UNION ALL SELECT x + 1 FROM n WHERE x < 100004) "
                     "INSERT INTO customers SELECT x, 'c' || x FROM n;");
    // Each record takes a while, so the run is surely under way when stopped.
    const QString file = writeFormulaCopy(QStringLiteral("slow.xml"),
                                          QStringLiteral("Function Main()\n Dim i, x\n For i = 1 To 3000\n"
                                                         "  x = x + i\n Next\n Main = SOURCE(\"name\")\nEnd Function"));
    const std::pair<int, const char*> stops[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    size_t runs = 0;
    for (const auto& [signo, name] : stops) {
        SCOPED_TRACE(name);
        Db(target_).exec("DELETE FROM loose_copy;");
        QFile::remove(eventFile());
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(runnerProgram(), {file});
        ASSERT_TRUE(p.waitForStarted(10000));
        auto processing = [&] {
            for (const Entry& e : events())
                if (e.text == QStringLiteral("MeridoxRunner: MeridoxRunner: processing"))
                    return true;
            return false;
        };
        while (p.state() == QProcess::Running && !processing())
            p.waitForFinished(20);
        ASSERT_EQ(p.state(), QProcess::Running) << dump(events()).toStdString();
        ASSERT_EQ(::kill(pid_t(p.processId()), signo), 0);
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 3) << dump(events()).toStdString();

        const std::vector<Row> rows = executions();
        ASSERT_EQ(rows.size(), ++runs);
        const Row& row = rows.back();
        EXPECT_EQ(text(row, "RESULT"), QStringLiteral("Cancelled"));
        EXPECT_EQ(number(row, "ROWS"), kRows + 4);
        const long long done = number(row, "RINSERTS");
        EXPECT_GT(done, 0);
        EXPECT_LT(done, kRows + 4);
        // Every record counted is in the target: nothing was rolled back.
        EXPECT_EQ(Db(target_).count("loose_copy"), done);

        bool said = false;
        bool stopped = false;
        for (const Entry& e : events()) {
            said = said || e.text.contains(QString::fromLatin1(name));
            stopped = stopped || e.text.contains(QStringLiteral("Execution Stopped by user request"));
        }
        EXPECT_TRUE(said) << dump(events()).toStdString();
        EXPECT_TRUE(stopped) << dump(events()).toStdString();
    }
    EXPECT_TRUE(errorRows().empty());
}

// Under a memory cap, a value too large for what is left fails its record
// with "Out of memory", as a formula error would; the other records are
// written and the run completes.
TEST_F(Runner, ValueBeyondTheMemoryLeftFailsItsRecordOnly)
{
    // The text fits (300 MB); its copy for the database does not.
    dataLimit_ = rlim_t(375) << 20;
    const QString file = writeFormulaCopy(QStringLiteral("big.xml"),
                                          QStringLiteral("Function Main()\n If SOURCE(\"id\") = 2 Then\n"
                                                         "  Main = Space(150000000)\n"
                                                         " ElseIf SOURCE(\"id\") = 3 Then\n"
                                                         "  Main = Space(2000000000)\n"
                                                         " Else\n  Main = SOURCE(\"name\")\n End If\nEnd Function"));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    Db dst(target_);
    // Record 3's formula failed: its name is Null, as with any formula error.
    EXPECT_EQ(dst.rows("SELECT id, name FROM loose_copy ORDER BY id"),
              (std::vector<QStringList>{{"1", "Ana"}, {"3", "NULL"}, {"4", "Jordi"}}));
    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(text(runs[0], "RESULT"), QStringLiteral("Completed with errors"));
    EXPECT_EQ(number(runs[0], "RERRORS"), 1);
    const std::vector<Row> errors = errorRows();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(number(errors[0], "RECORD"), 1);
    EXPECT_EQ(number(errors[1], "RECORD"), 2);
    for (const Row& e : errors)
        EXPECT_TRUE(text(e, "ERRDESC").contains(QStringLiteral("Out of memory"))) << text(e, "ERRDESC").toStdString();
}

// A text longer than SQLite takes (here 1,000,000,002 bytes in UTF-8 from
// 333,333,334 characters) fails its field and record; it is not written as
// Null and counted as inserted.
TEST_F(Runner, TextOverTheDatabaseLimitFailsItsRecord)
{
    const QString file = writeFormulaCopy(QStringLiteral("long.xml"),
                                          QStringLiteral("Function Main()\n If SOURCE(\"id\") = 2 Then\n"
                                                         "  Main = String(333333334, ChrW(8364))\n"
                                                         " Else\n  Main = SOURCE(\"name\")\n End If\nEnd Function"));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    EXPECT_EQ(Db(target_).rows("SELECT id FROM loose_copy ORDER BY id"),
              (std::vector<QStringList>{{"1"}, {"3"}, {"4"}}));
    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(text(runs[0], "RESULT"), QStringLiteral("Completed with errors"));
    EXPECT_EQ(number(runs[0], "RERRORS"), 1);
    const std::vector<Row> errors = errorRows();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(number(errors[0], "RECORD"), 1);
    const QString description = text(errors[0], "ERRDESC");
    EXPECT_TRUE(description.contains(QStringLiteral("string or blob too big"))) << description.toStdString();
    EXPECT_TRUE(description.contains(QStringLiteral("name"))) << description.toStdString();
}

// Runaway formulas stop with error 1099 whatever their loop does: one that
// builds a string for ever (each & copies the whole string: counting
// statements alone let it run for many minutes), one that searches a long
// text for ever (few statements, much work). Each record's error row says
// so and the run goes on.
TEST_F(Runner, RunawayFormulasStopWithTheBudgetError)
{
    Db(source_).exec("DELETE FROM customers WHERE id > 2;");
    const QString file = writeFormulaCopy(QStringLiteral("runaway.xml"),
                                          QStringLiteral("Function Main()\n Dim s\n If SOURCE(\"id\") = 1 Then\n"
                                                         "  Do\n   s = s & \"xxxxxxxxxx\"\n  Loop\n Else\n"
                                                         "  s = Space(20000000)\n"
                                                         "  Do\n   Main = InStr(s, \"z\")\n  Loop\n End If\nEnd Function"));
    ASSERT_EQ(run({file}, environment(), 120000), 0) << dump(events()).toStdString();
    const std::vector<Row> errors = errorRows();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(text(errors[0], "ERRNUMBER"), QStringLiteral("1099"));
    EXPECT_EQ(text(errors[1], "ERRNUMBER"), QStringLiteral("1099"));
    EXPECT_EQ(Db(target_).rows("SELECT id, name FROM loose_copy ORDER BY id"),
              (std::vector<QStringList>{{"1", "NULL"}, {"2", "NULL"}}));
    ASSERT_EQ(executions().size(), 1u);
}

// Only a regular file of a sane size is read as an integration: a device
// never ends, a FIFO blocks its reader, a huge file takes all memory. Each
// is refused at load with its reason and exit 1.
TEST_F(Runner, IntegrationPathThatIsNoRegularFileOrTooLargeIsRefused)
{
    // Should a refusal fail, the runner cannot take the machine's memory.
    dataLimit_ = rlim_t(1) << 30;
    const QString fifo = dir_.filePath(QStringLiteral("pipe.xml"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString huge = dir_.filePath(QStringLiteral("huge.xml"));
    {
        QFile f(huge);   // sparse: it takes no room on disk
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(64) * 1024 * 1024 + 1));
    }
    const QString folderPath = dir_.filePath(QStringLiteral("folder.xml"));
    ASSERT_TRUE(QDir().mkpath(folderPath));

    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("/dev/zero"), QStringLiteral("not a regular file")},
        {fifo, QStringLiteral("not a regular file")},
        {folderPath, QStringLiteral("not a regular file")},
        {huge, QStringLiteral("larger than 64 MiB")},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(run({path}, environment(), 20000), 1);
        const std::vector<Entry> log = events();
        ASSERT_GE(log.size(), 3u) << dump(log).toStdString();
        EXPECT_EQ(log[2].type, 1);
        EXPECT_TRUE(log[2].text.contains(reason)) << dump(log).toStdString();
    }
    EXPECT_TRUE(executions().empty());
}

// ---------------------------------------------------------------- several runners

// The service starts runners without waiting: runs at the same time share the
// run-data stores and one target, and none of their rows is lost (each run
// holds the target's write lock only for a short group of records).
TEST_F(Runner, ConcurrentRunsKeepEveryExecutionRowAndEveryTargetRow)
{
    constexpr int kRuns = 4;
    constexpr int kRows = 3000;
    const QString target = dir_.filePath(QStringLiteral("shared.db"));
    Db(target).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL);");
    std::vector<QString> files;
    for (int i = 0; i < kRuns; ++i) {
        const QString source = dir_.filePath(QStringLiteral("source%1.db").arg(i));
        Db(source).exec(QStringLiteral("CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT);"
                                       "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
                                       "INSERT INTO customers SELECT x + %2, 'c' || x FROM n;")
                            .arg(kRows)
                            .arg(i * 100000)
                            .toUtf8()
                            .constData());
        files.push_back(writeCopy(QStringLiteral("copy%1.xml").arg(i), sqliteConn(source), sqliteConn(target)));
    }
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QString& file : files) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environment());
        p->start(runnerProgram(), {file});
        processes.push_back(std::move(p));
    }
    for (auto& p : processes) {
        ASSERT_TRUE(p->waitForFinished(60000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }
    const std::vector<Row> runs = executions();
    ASSERT_EQ(runs.size(), size_t(kRuns));
    QStringList names;
    QSet<long long> ids;
    for (const Row& r : runs) {
        names << text(r, "NAME");
        ids.insert(number(r, "ID"));
        EXPECT_EQ(number(r, "RINSERTS"), kRows);
        EXPECT_EQ(number(r, "RERRORS"), 0);
    }
    names.sort();
    QStringList expected(files.begin(), files.end());
    expected.sort();
    EXPECT_EQ(names, expected);
    EXPECT_EQ(ids.size(), kRuns);
    EXPECT_EQ(Db(target).rows("SELECT COUNT(*) FROM customer_copy").at(0).at(0), QString::number(kRuns * kRows));
    EXPECT_TRUE(errorRows().empty());
}

// ---------------------------------------------------------------- shared run-data folders

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool hasEntry(const std::vector<Entry>& log, int type, const QString& part)
{
    for (const Entry& e : log)
        if (e.type == type && e.text.contains(part))
            return true;
    return false;
}

// Someone with write access to a shared run-data folder plants links: the
// lock file pointing at one of the runner's user's files, the store pointing
// at a file that does not exist yet. The runner follows neither: the files
// stay as they were (or absent), the run's record is refused with a clear
// error entry, and the exit code says the record was lost.
TEST_F(Runner, LinksPlantedInTheRunDataFolderAreNotFollowed)
{
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    const QString store = cMeridoxData(folder()).StoreFile(executiondata);
    const QString victim = dir_.filePath(QStringLiteral("home/notes.txt"));
    const QByteArray precious = QByteArray("keep me\n").repeated(40);
    ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("home"))));
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(precious);
    }
    ASSERT_TRUE(QFile::link(victim, store + QStringLiteral(".lock")));
    EXPECT_EQ(run({file}), 4) << dump(events()).toStdString();
    EXPECT_EQ(readAll(victim), precious);
    EXPECT_TRUE(hasEntry(events(), 1, QStringLiteral("symbolic link"))) << dump(events()).toStdString();
    EXPECT_EQ(Db(target_).count("customer_copy"), 4);   // the work itself was done

    // A store that is a dangling link: its target is not created.
    ASSERT_TRUE(QFile::remove(store + QStringLiteral(".lock")));
    const QString missing = dir_.filePath(QStringLiteral("home/.bash_login"));
    ASSERT_TRUE(QFile::link(missing, store));
    EXPECT_EQ(run({file}), 4) << dump(events()).toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(QFileInfo(store).isSymLink());
    EXPECT_TRUE(hasEntry(events(), 1, QStringLiteral("not a regular file"))) << dump(events()).toStdString();

    // The same link to an existing file: neither read nor rewritten.
    {
        QFile f(missing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(precious);
    }
    EXPECT_EQ(run({file}), 4) << dump(events()).toStdString();
    EXPECT_EQ(readAll(missing), precious);
    EXPECT_TRUE(QFileInfo(store).isSymLink());
}

// A folder shared by two users, made by the first with umask 022: the second
// user's runner cannot lock the stores. Its run's record is lost, and it says
// so by its exit code rather than by 0.
TEST_F(Runner, SecondUserWhoseRunCannotBeRecordedExitsNonZero)
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run as a second user";
    const mode_t saved = ::umask(022);
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    const int first = run({file});
    ::umask(saved);
    ASSERT_EQ(first, 0) << dump(events()).toStdString();
    ASSERT_EQ(executions().size(), 1u);

    // The second user can reach the folder, the databases and the file.
    for (const QString& path : {folder(), target_})
        ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions(0x7777)));
    Db(target_).exec("DELETE FROM customer_copy;");
    otherUser_ = 54321;
    EXPECT_EQ(run({file}), 4) << dump(events()).toStdString();
    otherUser_ = 0;
    EXPECT_EQ(Db(target_).count("customer_copy"), 4);
    EXPECT_TRUE(hasEntry(events(), 1, QStringLiteral("Permission denied"))) << dump(events()).toStdString();
    EXPECT_EQ(executions().size(), 1u);
}

// A relative Path= is the settings file's neighbour, wherever the runner is
// started from, so the designer, the service and the runner share stores.
TEST_F(Runner, RelativeRunDataPathIsTakenFromTheSettingsFolder)
{
    const QString settings = dir_.filePath(QStringLiteral("config/Meridox.conf"));
    ASSERT_TRUE(writeFile(settings, QStringLiteral("[General]\nPath=rundata\n")));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("MERIDOX_CONFIG"), settings);
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    ASSERT_EQ(run({file}, env), 0) << dump(events()).toStdString();
    EXPECT_EQ(storeRows(dir_.filePath(QStringLiteral("config/rundata")), executiondata).size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath(QStringLiteral("rundata"))));
}

// ---------------------------------------------------------------- damaged stores

// A store that cannot be read is set aside and a new one started; the notice
// goes to the system log (a warning) and to stderr, and it tells where the
// damage is: the offset, line and column of a byte that is not UTF-8.
TEST_F(Runner, DamagedStoreIsSetAsideWithANoticeInTheLog)
{
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    ASSERT_EQ(run({file}), 0);
    const QString store = cMeridoxData(folder()).StoreFile(executiondata);
    QByteArray bytes = readAll(store);
    const qsizetype at = bytes.indexOf("Completed");
    ASSERT_GT(at, 0);
    bytes[at + 2] = char(0xFF);
    {
        // A new file, as another program would write it.
        ASSERT_TRUE(QFile::remove(store));
        QFile f(store);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const qsizetype line = bytes.left(at + 2).count('\n') + 1;
    const qsizetype column = at + 2 - (bytes.lastIndexOf('\n', at) + 1) + 1;

    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    const QStringList aside = QDir(folder()).entryList({QStringLiteral("executeddata.xml.corrupt-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(dir_.filePath(aside[0])), bytes);
    EXPECT_EQ(executions().size(), 1u);
    const QString where = QStringLiteral("offset %1 (line %2, column %3)").arg(at + 2).arg(line).arg(column);
    EXPECT_TRUE(hasEntry(events(), 2, aside[0])) << dump(events()).toStdString();
    EXPECT_TRUE(hasEntry(events(), 2, where)) << where.toStdString() << "\n" << dump(events()).toStdString();
    EXPECT_TRUE(stderr_.contains(aside[0].toUtf8())) << stderr_.toStdString();
}

// A full run-data disk: the execution row cannot be written, the store
// keeps every row it had (no empty or half-written file), the runner says why
// and exits non-zero; the next run, with room again, adds its row.
TEST_F(Runner, FullRunDataDiskLosesNoStoredRow)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small file system";
    const QString mount = dir_.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mount));
    ASSERT_EQ(QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                                          QStringLiteral("-o"), QStringLiteral("size=64k"),
                                                          QStringLiteral("tmpfs"), mount}), 0);
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
    } unmount{mount};
    const QString settings = dir_.filePath(QStringLiteral("Meridox.conf"));
    ASSERT_TRUE(writeFile(settings, QStringLiteral("[General]\nPath=") + mount + QLatin1Char('\n')));
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    // Every record of this one fails: its error rows go to the errors store together.
    const QString refusing = dir_.filePath(QStringLiteral("refusing.db"));
    Db(refusing).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY CHECK (id < 0), name TEXT NOT NULL);");
    const QString refused = writeCopy(QStringLiteral("refused.xml"), QString(), sqliteConn(refusing));
    ASSERT_EQ(run({refused}), 0) << dump(events()).toStdString();
    const QString errorStore = cMeridoxData(mount).StoreFile(executionlogdata);
    ASSERT_EQ(storeRows(mount, executionlogdata).size(), 4u);
    ASSERT_TRUE(QFile::remove(cMeridoxData(mount).StoreFile(executiondata)));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    const QString store = cMeridoxData(mount).StoreFile(executiondata);
    ASSERT_EQ(storeRows(mount, executiondata).size(), 1u);
    // The errors store's last page has room for part of the next rows only:
    // the rows that fit are kept whole, and the store still reads.
    QByteArray errorsBefore = readAll(errorStore);
    {
        const qsizetype at = errorsBefore.lastIndexOf("</rs:data>");
        ASSERT_GT(at, 0);
        errorsBefore.insert(at, QByteArray((4096 - 1000 - errorsBefore.size() % 4096 + 4096) % 4096, '\n'));
        QFile f(errorStore);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(errorsBefore), errorsBefore.size());
    }
    ASSERT_EQ(storeRows(mount, executionlogdata).size(), 4u);
    // Blanks before the closing tags end the store on a page boundary: the
    // next row needs a new page of the file system.
    QByteArray before = readAll(store);
    const qsizetype tags = before.lastIndexOf("</rs:data>");
    ASSERT_GT(tags, 0);
    before.insert(tags, QByteArray((4096 - before.size() % 4096) % 4096, '\n'));
    {
        QFile f(store);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(before), before.size());
    }
    ASSERT_EQ(storeRows(mount, executiondata).size(), 1u);

    // Fills the disk to its last byte.
    int fillers = 0;
    const auto fill = [&] {
        QFile filler(mount + QStringLiteral("/filler%1").arg(++fillers));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        while (filler.write("x", 1) == 1) {
        }
    };
    fill();
    EXPECT_EQ(run({file}), 4) << dump(events()).toStdString();
    EXPECT_EQ(readAll(store), before);
    EXPECT_TRUE(hasEntry(events(), 1, QStringLiteral("No space left on device"))) << dump(events()).toStdString();
    EXPECT_EQ(run({refused}), 4) << dump(events()).toStdString();
    EXPECT_EQ(readAll(store), before);
    const QByteArray errorsAfter = readAll(errorStore);
    EXPECT_TRUE(errorsAfter.startsWith(errorsBefore.left(errorsBefore.lastIndexOf("</rs:data>"))));
    const size_t kept = storeRows(mount, executionlogdata).size();
    EXPECT_GT(kept, 4u);
    EXPECT_LT(kept, 8u);
    qsizetype saidLost = 0;
    for (const Entry& e : events())
        saidLost += e.text.count(QStringLiteral("Error rows cannot be saved to the errors store"));
    EXPECT_EQ(saidLost, 1) << dump(events()).toStdString();

    // With the store gone, it cannot be created: nothing is left behind.
    ASSERT_TRUE(QFile::remove(store));
    fill();
    EXPECT_EQ(run({file}), 4) << dump(events()).toStdString();
    EXPECT_TRUE(hasEntry(events(), 1, QStringLiteral("No space left on device"))) << dump(events()).toStdString();
    EXPECT_FALSE(QFileInfo::exists(store));
    EXPECT_EQ(QDir(mount).entryList({QStringLiteral("executeddata.xml*")}, QDir::Files),
              QStringList{QStringLiteral("executeddata.xml.lock")});

    // Room again: the store is created, with the row of this run.
    for (int i = 1; i <= fillers; ++i)
        ASSERT_TRUE(QFile::remove(mount + QStringLiteral("/filler%1").arg(i)));
    ASSERT_EQ(run({file}), 0) << dump(events()).toStdString();
    EXPECT_EQ(storeRows(mount, executiondata).size(), 1u);
    EXPECT_TRUE(QDir(mount).entryList({QStringLiteral("*.corrupt-*")}).isEmpty());
}

// ---------------------------------------------------------------- secrets and raw bytes

// Nothing the runner reports shows a password: neither the "Source Text" of
// a file that does not parse nor a connection string whose password holds a
// ';' (read as a part of its own). Control characters from the file reach
// the log escaped, never raw.
TEST_F(Runner, PasswordsAndControlCharactersNeverReachTheLogRaw)
{
    const QString broken = dir_.filePath(QStringLiteral("broken.xml"));
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\"?>\n<meridox><nodes>\n"
                "<node type=\"data\"><dataconn><connname>pg</connname><connstring>Provider=PostgreSQL;"
                "User ID=ana;Password=Tr0ub4dor&3</connstring>\x1b[2J\x07");
        f.write(QByteArray("\0<\n</nodes></meridox>\n", 21));
    }
    EXPECT_EQ(run({broken}), 1);
    const QByteArray raw = readAll(eventFile());
    EXPECT_FALSE(raw.contains("Tr0ub4dor")) << raw.toStdString();
    for (const char c : raw)
        EXPECT_TRUE(c == '\t' || c == '\n' || uchar(c) >= 0x20) << "raw byte " << int(uchar(c));
    EXPECT_TRUE(raw.contains("\\x1b")) << raw.toStdString();

    const QString file = writeCopy(QStringLiteral("copy.xml"),
                                   QStringLiteral("Provider=PostgreSQL;Data Source=localhost;User ID=ana;"
                                                  "Password=open;sesame42"));
    EXPECT_EQ(run({file}), 2);
    const QByteArray log = readAll(eventFile());
    EXPECT_TRUE(log.contains("CRITICAL ERROR")) << log.toStdString();
    EXPECT_FALSE(log.contains("sesame42")) << log.toStdString();
    EXPECT_FALSE(log.contains("open;")) << log.toStdString();
}

}  // namespace

namespace {

// ---------------------------------------------------------------- commit groups

// What a run leaves behind: the target's rows, the execution row's counters
// and the error rows (their text without the time prefix).
struct Outcome {
    int exit = -1;
    std::vector<QStringList> rows;
    QString counters;
    QStringList errors;

    std::string text() const
    {
        QString s = QStringLiteral("exit %1\n%2\n").arg(exit).arg(counters);
        for (const QString& e : errors)
            s += e + QLatin1Char('\n');
        s += QStringLiteral("%1 rows\n").arg(rows.size());
        for (const QStringList& r : rows)
            s += r.join(QLatin1Char('|')) + QLatin1Char('\n');
        return s.toStdString();
    }
};

// The runs of a test in two modes: in groups (as shipped) and forced to one
// commit per record, each with run data of its own, so that their outcomes
// can be compared.
class CommitGroups : public Runner {
protected:
    QString home(bool perRecord) const
    {
        const QString path = dir_.filePath(perRecord ? QStringLiteral("per-record") : QStringLiteral("grouped"));
        QDir().mkpath(path);
        return path;
    }

    QProcessEnvironment environmentOf(bool perRecord) const
    {
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("MERIDOX_HOME"), home(perRecord));
        env.insert(QStringLiteral("MERIDOX_CONFIG"), home(perRecord) + QStringLiteral("/Meridox.conf"));
        env.insert(QStringLiteral("MERIDOX_EVENTLOG_FILE"), home(perRecord) + QStringLiteral("/events.log"));
        if (perRecord)
            env.insert(QStringLiteral("MERIDOX_COMMIT_EVERY_RECORD"), QStringLiteral("1"));
        else
            env.remove(QStringLiteral("MERIDOX_COMMIT_EVERY_RECORD"));
        return env;
    }

    // Starts the runner; a prefix (a shell line ending in exec) runs it.
    std::unique_ptr<QProcess> start(const QString& file, bool perRecord, const QString& shellPrefix = QString())
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environmentOf(perRecord));
        p->setWorkingDirectory(home(perRecord));
        if (shellPrefix.isEmpty())
            p->start(runnerProgram(), {file});
        else
            p->start(QStringLiteral("bash"),
                     {QStringLiteral("-c"), shellPrefix + QStringLiteral(" exec \"$0\" \"$@\""), runnerProgram(), file});
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }

    // Waits for the runner and reads what its run left.
    Outcome finish(QProcess& p, bool perRecord, const std::function<std::vector<QStringList>()>& rows)
    {
        Outcome o;
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "runner did not finish";
            return o;
        }
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << p.readAllStandardError().toStdString();
        o.exit = p.exitCode();
        o.rows = rows();
        const std::vector<Row> runs = storeRows(home(perRecord), executiondata);
        if (!runs.empty()) {
            const Row& r = runs.back();
            o.counters = QStringLiteral("ROWS %1 RINSERTS %2 RUPDATES %3 RDELETED %4 RERRORS %5 %6")
                             .arg(number(r, "ROWS"))
                             .arg(number(r, "RINSERTS"))
                             .arg(number(r, "RUPDATES"))
                             .arg(number(r, "RDELETED"))
                             .arg(number(r, "RERRORS"))
                             .arg(text(r, "RESULT"));
        }
        static const QRegularExpression prefix(QStringLiteral(R"(^.*?\.\d\d: )"));
        for (const Row& e : storeRows(home(perRecord), executionlogdata))
            o.errors << QStringLiteral("record %1 #%2 %3")
                            .arg(number(e, "RECORD"))
                            .arg(text(e, "ERRNUMBER"))
                            .arg(text(e, "ERRDESC").remove(prefix));
        return o;
    }

    Outcome runOnce(const QString& file, bool perRecord, const std::function<std::vector<QStringList>()>& rows,
                    const QString& shellPrefix = QString())
    {
        auto p = start(file, perRecord, shellPrefix);
        return finish(*p, perRecord, rows);
    }

    // A source of n customers (id, 'c' || id) in the given file.
    static void customers(const QString& file, int n, int offset = 0, bool descending = false)
    {
        Db(file).exec(QStringLiteral("DROP TABLE IF EXISTS customers;"
                                     "CREATE TABLE customers (id INTEGER, name TEXT);"
                                     "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
                                     "INSERT INTO customers SELECT x + %2, 'c' || (x + %2) FROM n ORDER BY x %3;")
                          .arg(n)
                          .arg(offset)
                          .arg(descending ? QStringLiteral("DESC") : QStringLiteral("ASC"))
                          .toUtf8()
                          .constData());
    }

    QString copyInto(const QString& name, const QString& targetConn, const QString& table = QStringLiteral("customer_copy"),
                     const QString& operation = QStringLiteral("UpdateInsert"))
    {
        const QString path = dir_.filePath(name);
        EXPECT_TRUE(writeFile(path, integrationXml(sqliteConn(source_), QStringLiteral("customers"), targetConn, table,
                                                   operation, kCopyFields)));
        return path;
    }

    static std::function<std::vector<QStringList>()> sqliteRows(const QString& file, const char* sql)
    {
        const std::string query = sql;
        return [file, query] { return Db(file).rows(query.c_str()); };
    }
};

// Another process reads the target (rollback journal) for longer than a
// writer waits: the group's commit waits again instead of losing the work,
// as one commit per record would.
TEST_F(CommitGroups, ACommitThatMeetsAReaderWaitsAndLosesNothing)
{
    customers(source_, 300);
    const QString grouped = dir_.filePath(QStringLiteral("grouped.db"));
    const QString perRecord = dir_.filePath(QStringLiteral("per-record.db"));
    for (const QString& db : {grouped, perRecord})
        Db(db).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL);");
    Db readerA(grouped);
    Db readerB(perRecord);
    for (Db* reader : {&readerA, &readerB}) {
        reader->exec("BEGIN");
        reader->rows("SELECT COUNT(*) FROM customer_copy");
    }
    auto a = start(copyInto(QStringLiteral("grouped.xml"), sqliteConn(grouped)), false);
    auto b = start(copyInto(QStringLiteral("per-record.xml"), sqliteConn(perRecord)), true);
    QThread::msleep(11500);
    readerA.exec("COMMIT");
    readerB.exec("COMMIT");
    const char* sql = "SELECT id, name FROM customer_copy ORDER BY id";
    const Outcome g = finish(*a, false, sqliteRows(grouped, sql));
    const Outcome p = finish(*b, true, sqliteRows(perRecord, sql));
    EXPECT_EQ(g.text(), p.text());
    EXPECT_EQ(g.rows.size(), 300u);
    EXPECT_EQ(g.counters.toStdString(), std::string("ROWS 300 RINSERTS 300 RUPDATES 0 RDELETED 0 RERRORS 0 Completed"));
    EXPECT_TRUE(g.errors.isEmpty()) << g.text();
}

// A trigger of another table rolls the whole transaction back (RAISE or an
// ON CONFLICT ROLLBACK column) on record 50: that record fails alone.
TEST_F(CommitGroups, ARollbackReachedThroughAnotherTableCostsOnlyItsRecord)
{
    customers(source_, 120);
    const char* schemas[] = {
        "CREATE TABLE audit (id INTEGER, name TEXT);"
        "CREATE TRIGGER audit_check BEFORE INSERT ON audit WHEN new.id = 50 "
        "BEGIN SELECT RAISE(ROLLBACK, 'the audit refuses record 50'); END;",
        "CREATE TABLE audit (id INTEGER, name TEXT UNIQUE ON CONFLICT ROLLBACK);"
        "INSERT INTO audit VALUES (0, 'c50');",
    };
    int variant = 0;
    for (const char* schema : schemas) {
        SCOPED_TRACE(schema);
        ++variant;
        Outcome outcomes[2];
        for (bool perRecord : {false, true}) {
            const QString db = dir_.filePath(QStringLiteral("target%1%2.db").arg(variant).arg(perRecord));
            Db(db).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL);");
            Db(db).exec(schema);
            Db(db).exec("CREATE TRIGGER copy_audit AFTER INSERT ON customer_copy "
                        "BEGIN INSERT INTO audit VALUES (new.id, new.name); END;");
            QFile::remove(home(perRecord) + QStringLiteral("/executedlogdata.xml"));
            const QString file = copyInto(QStringLiteral("rollback%1%2.xml").arg(variant).arg(perRecord), sqliteConn(db));
            outcomes[perRecord] = runOnce(file, perRecord, sqliteRows(db, "SELECT id FROM customer_copy ORDER BY id"));
        }
        const Outcome& g = outcomes[0];
        EXPECT_EQ(g.text(), outcomes[1].text());
        EXPECT_EQ(g.rows.size(), 119u);
        EXPECT_EQ(g.counters.toStdString(), std::string("ROWS 120 RINSERTS 120 RUPDATES 0 RDELETED 0 RERRORS 1 Completed with errors"));
        ASSERT_EQ(g.errors.size(), 1) << g.text();
        EXPECT_TRUE(g.errors[0].startsWith(QStringLiteral("record 49 "))) << g.text();
    }
}

// An AFTER trigger that raises FAIL ends its statement without undoing the
// row the statement wrote: the record fails, and its row is not kept.
TEST_F(CommitGroups, ARowWhoseTriggerFailsIsNotKept)
{
    customers(source_, 10);
    Outcome outcomes[2];
    for (bool perRecord : {false, true}) {
        const QString db = dir_.filePath(QStringLiteral("fail%1.db").arg(perRecord));
        Db(db).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL);"
                    "CREATE TRIGGER refuse AFTER INSERT ON customer_copy WHEN new.id = 5 "
                    "BEGIN SELECT RAISE(FAIL, 'record 5 is refused'); END;");
        const QString file = copyInto(QStringLiteral("fail%1.xml").arg(perRecord), sqliteConn(db));
        outcomes[perRecord] = runOnce(file, perRecord, sqliteRows(db, "SELECT id FROM customer_copy ORDER BY id"));
    }
    const Outcome& g = outcomes[0];
    EXPECT_EQ(g.text(), outcomes[1].text());
    EXPECT_EQ(g.rows, (std::vector<QStringList>{{"1"}, {"2"}, {"3"}, {"4"}, {"6"}, {"7"}, {"8"}, {"9"}, {"10"}}));
    EXPECT_EQ(g.counters.toStdString(), std::string("ROWS 10 RINSERTS 10 RUPDATES 0 RDELETED 0 RERRORS 1 Completed with errors"));
    ASSERT_EQ(g.errors.size(), 1) << g.text();
    EXPECT_TRUE(g.errors[0].contains(QStringLiteral("record 5 is refused"))) << g.text();
}

// The target's file cannot grow past a limit: the records whose work could
// not be stored count as failed, each with its error row, and every record
// counted as written is in the target.
TEST_F(CommitGroups, ATargetThatCannotGrowCountsOnlyWhatIsStored)
{
    customers(source_, 300);
    Outcome outcomes[2];
    for (bool perRecord : {false, true}) {
        const QString db = dir_.filePath(QStringLiteral("small%1.db").arg(perRecord));
        // Every row takes about 4 kB of the file.
        Db(db).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL, pad BLOB);"
                    "CREATE TRIGGER pad AFTER INSERT ON customer_copy "
                    "BEGIN UPDATE customer_copy SET pad = zeroblob(4000) WHERE id = new.id; END;");
        const QString file = copyInto(QStringLiteral("small%1.xml").arg(perRecord), sqliteConn(db));
        // Files of the runner stop growing at 400 kB (and it is not killed for it).
        outcomes[perRecord] = runOnce(file, perRecord, sqliteRows(db, "SELECT id FROM customer_copy ORDER BY id"),
                                      QStringLiteral("trap '' XFSZ; ulimit -f 400 || exit 99;"));
        if (outcomes[perRecord].exit == 99)
            GTEST_SKIP() << "no file size limit can be set here";
    }
    const Outcome& g = outcomes[0];
    EXPECT_EQ(g.text(), outcomes[1].text());
    EXPECT_GT(g.rows.size(), 10u);
    EXPECT_LT(g.rows.size(), 300u);
    EXPECT_EQ(g.counters.toStdString(), QStringLiteral("ROWS 300 RINSERTS 300 RUPDATES 0 RDELETED 0 RERRORS %1 Completed with errors")
                              .arg(300 - g.rows.size())
                              .toStdString());
    EXPECT_EQ(g.errors.size(), qsizetype(300 - g.rows.size())) << g.text();
}

// Runners that write two files in opposite orders neither wait for each
// other for ever nor fail a record: a group never waits for one file's lock
// while it holds the other's.
TEST_F(CommitGroups, RunnersWritingTwoFilesInOppositeOrdersFailNoRecord)
{
    constexpr int kRunners = 4;
    constexpr int kRows = 3000;
    const QString first = dir_.filePath(QStringLiteral("first.db"));
    const QString second = dir_.filePath(QStringLiteral("second.db"));
    for (const QString& db : {first, second})
        Db(db).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL);");
    std::vector<std::unique_ptr<QProcess>> runners;
    for (int i = 0; i < kRunners; ++i) {
        const QString source = dir_.filePath(QStringLiteral("source%1.db").arg(i));
        customers(source, kRows, i * 100000);
        const bool reversed = i % 2 == 1;
        // A Lookup first reads the file the runner writes second (on the
        // same connection), as the runners of the other order write it.
        const std::vector<TargetStep> steps{
            {QStringLiteral("LOOK"), QStringLiteral("two"), sqliteConn(reversed ? first : second),
             QStringLiteral("customer_copy"), QStringLiteral("Lookup"), {{"id", 3, "", "SOURCE(\"id\")"}}},
            {QStringLiteral("ONE"), QStringLiteral("one"), sqliteConn(reversed ? second : first),
             QStringLiteral("customer_copy"), QStringLiteral("UpdateInsert"), kCopyFields},
            {QStringLiteral("TWO"), QStringLiteral("two"), sqliteConn(reversed ? first : second),
             QStringLiteral("customer_copy"), QStringLiteral("UpdateInsert"), kCopyFields},
        };
        const QString file = dir_.filePath(QStringLiteral("both%1.xml").arg(i));
        ASSERT_TRUE(writeFile(file, flowXml(sqliteConn(source), QStringLiteral("customers"), steps)));
        runners.push_back(start(file, false));
    }
    for (auto& p : runners) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0);
    }
    const std::vector<Row> runs = storeRows(home(false), executiondata);
    ASSERT_EQ(runs.size(), size_t(kRunners));
    for (const Row& r : runs) {
        EXPECT_EQ(number(r, "RINSERTS"), 2 * kRows);
        EXPECT_EQ(number(r, "RERRORS"), 0);
        EXPECT_EQ(text(r, "RESULT"), QStringLiteral("Completed"));
    }
    EXPECT_EQ(Db(first).count("customer_copy"), kRunners * kRows);
    EXPECT_EQ(Db(second).count("customer_copy"), kRunners * kRows);
    EXPECT_TRUE(storeRows(home(false), executionlogdata).empty());
}

} // namespace

namespace {

// The same on the PostgreSQL server of MERIDOX_PG_CONNECTION, each test in a
// database of its own (the server may be shared, and one test ends sessions).
class ServerCommitGroups : public CommitGroups {
protected:
    void SetUp() override
    {
        CommitGroups::SetUp();
        server_ = qEnvironmentVariable("MERIDOX_PG_CONNECTION");
        if (server_.isEmpty())
            GTEST_SKIP() << "MERIDOX_PG_CONNECTION is not set";
        static const QRegularExpression catalog(QStringLiteral("Initial Catalog=[^;]*"));
        database_ = QStringLiteral("runner_groups_%1").arg(QCoreApplication::applicationPid());
        pg_ = QString(server_).replace(catalog, QStringLiteral("Initial Catalog=") + database_);
        serverExec({QStringLiteral("DROP DATABASE IF EXISTS ") + database_,
                    QStringLiteral("CREATE DATABASE ") + database_});
    }
    void TearDown() override
    {
        if (!server_.isEmpty())
            serverExec({QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(database_)});
        CommitGroups::TearDown();
    }
    void serverExec(const QStringList& statements) { execOn(server_, statements); }
    void pgExec(const QStringList& statements) { execOn(pg_, statements); }
    static void execOn(const QString& connection, const QStringList& statements)
    {
        ado::Connection c;
        ASSERT_TRUE(c.Open(connection)) << c.lastError().Description.toStdString();
        for (const QString& sql : statements) {
            c.Execute(sql);
            ASSERT_EQ(c.Errors().Count(), 0) << sql.toStdString() << ": "
                                             << c.Errors().Item(0).Description.toStdString();
        }
    }
    std::function<std::vector<QStringList>()> pgRows(const QString& sql) const
    {
        const QString connection = pg_;
        return [connection, sql] {
            std::vector<QStringList> out;
            ado::Connection c;
            EXPECT_TRUE(c.Open(connection));
            ado::Recordset rs = c.Execute(sql);
            while (rs.hasCurrentRecord()) {
                QStringList row;
                for (int i = 0; i < rs.FieldCount(); ++i)
                    row << rs.value(i).toString();
                out.push_back(row);
                rs.MoveNext();
            }
            return out;
        };
    }

    QString server_;
    QString database_;
    QString pg_;
};

// A deferred unique key, a deferred foreign key and a deferred constraint
// trigger, each broken by record 77 of 120: that record fails, named in its
// error row, and the other 119 are kept.
TEST_F(ServerCommitGroups, DeferredConstraintsFailOnlyTheRecordThatBreaksThem)
{
    customers(source_, 120);
    Db(source_).exec("UPDATE customers SET name = 'bad' WHERE id = 77;");
    pgExec({QStringLiteral("CREATE TABLE parent (name text PRIMARY KEY)"),
            QStringLiteral("INSERT INTO parent SELECT 'c' || i FROM generate_series(1, 120) AS i"),
            QStringLiteral("CREATE FUNCTION refuse_bad() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                           "IF NEW.name = 'bad' THEN RAISE EXCEPTION 'refused %', NEW.name; END IF; RETURN NULL; END $$")});
    const QStringList variants{
        QStringLiteral("CREATE TABLE %1 (id integer PRIMARY KEY, name text NOT NULL, "
                       "UNIQUE (name) DEFERRABLE INITIALLY DEFERRED); INSERT INTO %1 VALUES (1000, 'bad')"),
        QStringLiteral("CREATE TABLE %1 (id integer PRIMARY KEY, name text NOT NULL "
                       "REFERENCES parent DEFERRABLE INITIALLY DEFERRED)"),
        QStringLiteral("CREATE TABLE %1 (id integer PRIMARY KEY, name text NOT NULL); "
                       "CREATE CONSTRAINT TRIGGER refuse AFTER INSERT OR UPDATE ON %1 DEFERRABLE INITIALLY DEFERRED "
                       "FOR EACH ROW EXECUTE FUNCTION refuse_bad()"),
    };
    for (int v = 0; v < variants.size(); ++v) {
        SCOPED_TRACE(variants[v].toStdString());
        Outcome outcomes[2];
        for (bool perRecord : {false, true}) {
            const QString table = QStringLiteral("copy_%1_%2").arg(v).arg(perRecord);
            pgExec(variants[v].arg(table).split(QStringLiteral("; ")));
            QFile::remove(home(perRecord) + QStringLiteral("/executedlogdata.xml"));
            const QString file = copyInto(QStringLiteral("deferred%1%2.xml").arg(v).arg(perRecord), pg_, table);
            outcomes[perRecord] = runOnce(
                file, perRecord, pgRows(QStringLiteral("SELECT id, name FROM %1 WHERE id <= 120 ORDER BY id").arg(table)));
            // The messages name the table.
            outcomes[perRecord].errors.replaceInStrings(table, QStringLiteral("copy"));
        }
        const Outcome& g = outcomes[0];
        EXPECT_EQ(g.text(), outcomes[1].text());
        EXPECT_EQ(g.rows.size(), 119u);
        EXPECT_EQ(g.counters.toStdString(), std::string("ROWS 120 RINSERTS 120 RUPDATES 0 RDELETED 0 RERRORS 1 Completed with errors"));
        ASSERT_EQ(g.errors.size(), 1) << g.text();
        EXPECT_TRUE(g.errors[0].startsWith(QStringLiteral("record 76 "))) << g.text();
    }
}

// The server ends the run's session mid-run: what the run counts as
// inserted is what the target holds, and every other record failed.
TEST_F(ServerCommitGroups, ASessionEndedByTheServerCountsOnlyCommittedWork)
{
    constexpr int kRows = 6000;
    customers(source_, kRows);
    pgExec({QStringLiteral("CREATE TABLE copy (id integer PRIMARY KEY, name text NOT NULL)")});
    auto p = start(copyInto(QStringLiteral("ended.xml"), pg_, QStringLiteral("copy"), QStringLiteral("Insert")), false);
    // Once a group is committed, end every session of the test's database.
    const auto count = pgRows(QStringLiteral("SELECT COUNT(*) FROM copy"));
    bool ended = false;
    for (int i = 0; i < 3000 && !ended && p->state() != QProcess::NotRunning; ++i) {
        const auto n = count();
        if (!n.empty() && n.front().value(0).toInt() > 0) {
            serverExec({QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '%1'")
                            .arg(database_)});
            ended = true;
        }
        QThread::msleep(5);
    }
    const Outcome g = finish(*p, false, count);
    SCOPED_TRACE(g.counters.toStdString());
    if (!ended)
        GTEST_SKIP() << "the run ended before its session could be";
    const std::vector<Row> runs = storeRows(home(false), executiondata);
    ASSERT_EQ(runs.size(), 1u) << g.text();
    const long long stored = g.rows.front().value(0).toLongLong();
    EXPECT_LT(stored, kRows);
    EXPECT_EQ(number(runs[0], "RINSERTS"), kRows);
    EXPECT_EQ(number(runs[0], "RINSERTS") - number(runs[0], "RERRORS"), stored);
    EXPECT_EQ(g.errors.size(), kRows - stored);
}

// Runners that update the same keys in opposite orders wait for each other's
// locks, as with one commit per record; none fails a record on a deadlock.
TEST_F(ServerCommitGroups, RunnersUpdatingTheSameKeysInOppositeOrdersFailNoRecord)
{
    constexpr int kRunners = 6;
    constexpr int kRows = 3000;
    pgExec({QStringLiteral("CREATE TABLE copy (id integer PRIMARY KEY, name text NOT NULL)"),
            QStringLiteral("INSERT INTO copy SELECT i, 'none' FROM generate_series(1, %1) AS i").arg(kRows)});
    std::vector<std::unique_ptr<QProcess>> runners;
    for (int i = 0; i < kRunners; ++i) {
        const QString source = dir_.filePath(QStringLiteral("source%1.db").arg(i));
        customers(source, kRows, 0, i % 2 == 1);
        Db(source).exec(QStringLiteral("UPDATE customers SET name = 'runner %1'").arg(i).toUtf8().constData());
        const QString file = dir_.filePath(QStringLiteral("keys%1.xml").arg(i));
        ASSERT_TRUE(writeFile(file, integrationXml(sqliteConn(source), QStringLiteral("customers"), pg_,
                                                   QStringLiteral("copy"), QStringLiteral("UpdateInsert"), kCopyFields)));
        runners.push_back(start(file, false));
    }
    for (auto& p : runners) {
        ASSERT_TRUE(p->waitForFinished(180000));
        EXPECT_EQ(p->exitCode(), 0);
    }
    const std::vector<Row> runs = storeRows(home(false), executiondata);
    ASSERT_EQ(runs.size(), size_t(kRunners));
    for (const Row& r : runs) {
        EXPECT_EQ(number(r, "RUPDATES"), kRows);
        EXPECT_EQ(number(r, "RERRORS"), 0);
    }
    const std::vector<Row> errors = storeRows(home(false), executionlogdata);
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? std::string() : text(errors.front(), "ERRDESC").toStdString());
    EXPECT_EQ(pgRows(QStringLiteral("SELECT COUNT(*) FROM copy"))().front().value(0), QString::number(kRows));
}

} // namespace

namespace {

// Twelve runners write one file at once, after another process held its
// write lock for longer than two waits of a writer: a runner that waits for
// the lock keeps waiting, as it would for commits one per record by others;
// it fails no record "database is locked". One runner commits every record.
TEST_F(CommitGroups, TwelveRunnersIntoOneFileFailNoRecord)
{
    constexpr int kRunners = 12;
    constexpr int kRows = 2000;
    const QString target = dir_.filePath(QStringLiteral("shared.db"));
    Db(target).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY, name TEXT NOT NULL);");
    Db holder(target);
    holder.exec("BEGIN IMMEDIATE");
    std::vector<std::unique_ptr<QProcess>> runners;
    for (int i = 0; i < kRunners; ++i) {
        const QString source = dir_.filePath(QStringLiteral("source%1.db").arg(i));
        // The runner that commits every record flushes every record: it writes fewer.
        customers(source, i == 0 ? kRows / 10 : kRows, i * 1000000);
        const QString file = dir_.filePath(QStringLiteral("copy%1.xml").arg(i));
        ASSERT_TRUE(writeFile(file, integrationXml(sqliteConn(source), QStringLiteral("customers"), sqliteConn(target),
                                                   QStringLiteral("customer_copy"), QStringLiteral("Insert"),
                                                   kCopyFields)));
        runners.push_back(start(file, i == 0));
    }
    QThread::msleep(21000);
    holder.exec("COMMIT");
    for (auto& p : runners) {
        ASSERT_TRUE(p->waitForFinished(300000));
        EXPECT_EQ(p->exitCode(), 0);
    }
    for (bool perRecord : {false, true}) {
        const std::vector<Row> runs = storeRows(home(perRecord), executiondata);
        ASSERT_EQ(runs.size(), size_t(perRecord ? 1 : kRunners - 1));
        for (const Row& r : runs) {
            EXPECT_EQ(number(r, "RINSERTS"), perRecord ? kRows / 10 : kRows);
            EXPECT_EQ(number(r, "RERRORS"), 0);
        }
        const std::vector<Row> errors = storeRows(home(perRecord), executionlogdata);
        EXPECT_TRUE(errors.empty()) << errors.size() << " error rows, the first: "
                                    << (errors.empty() ? std::string() : text(errors.front(), "ERRDESC").toStdString());
    }
    EXPECT_EQ(Db(target).count("customer_copy"), (kRunners - 1) * kRows + kRows / 10);
}

// Runners whose every record fails write their error rows into one errors
// store at once, a commit group's rows together: every row is kept once, in
// the order of its run's records, and the IDs run from 1 without a gap.
TEST_F(CommitGroups, RunnersFailingIntoOneErrorsStoreKeepEveryRowOnce)
{
    constexpr int kRunners = 4;
    constexpr int kRows = 1500;
    std::vector<std::unique_ptr<QProcess>> runners;
    QStringList files;
    for (int i = 0; i < kRunners; ++i) {
        const QString source = dir_.filePath(QStringLiteral("source%1.db").arg(i));
        const QString target = dir_.filePath(QStringLiteral("refusing%1.db").arg(i));
        customers(source, kRows);
        Db(target).exec("CREATE TABLE customer_copy (id INTEGER PRIMARY KEY CHECK (id < 0), name TEXT NOT NULL);");
        files << dir_.filePath(QStringLiteral("refused%1.xml").arg(i));
        ASSERT_TRUE(writeFile(files.back(), integrationXml(sqliteConn(source), QStringLiteral("customers"),
                                                           sqliteConn(target), QStringLiteral("customer_copy"),
                                                           QStringLiteral("Insert"), kCopyFields)));
    }
    for (const QString& file : files)
        runners.push_back(start(file, false));
    for (auto& p : runners) {
        ASSERT_TRUE(p->waitForFinished(180000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    }
    const std::vector<Row> errors = storeRows(home(false), executionlogdata);
    ASSERT_EQ(errors.size(), size_t(kRunners * kRows));
    std::map<QString, std::vector<long long>> records;   // per run, in the store's order
    for (size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(number(errors[i], "ID"), static_cast<long long>(i + 1));
        records[text(errors[i], "NAME")].push_back(number(errors[i], "RECORD"));
    }
    ASSERT_EQ(records.size(), size_t(kRunners));
    for (const auto& [name, seen] : records) {
        ASSERT_EQ(seen.size(), size_t(kRows)) << name.toStdString();
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << name.toStdString();
        EXPECT_EQ(std::set<long long>(seen.begin(), seen.end()).size(), size_t(kRows)) << name.toStdString();
    }
}

} // namespace
