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
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <vector>

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
                       const std::vector<TargetField>& fields)
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
                          "</nodes>\n<formula></formula>\n</meridox>\n");
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
    int run(const QStringList& arguments, const QProcessEnvironment& env)
    {
        QFile::remove(eventFile());
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder());
        p.start(runnerProgram(), arguments);
        if (!p.waitForStarted(10000)) {
            ADD_FAILURE() << "runner did not start";
            return -1;
        }
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "runner did not finish";
            return -1;
        }
        stdout_ = p.readAllStandardOutput();
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

    QTemporaryDir dir_;
    QString source_;
    QString target_;
    QByteArray stdout_;
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

// A run whose execution row cannot be saved (the store is a folder) still
// completed: exit 0, and the lost row is an error entry, not information.
TEST_F(Runner, UnsavedExecutionRowIsAnErrorEntryOfACompletedRun)
{
    // Both stores are folders, and record 3 fails: neither its error row nor
    // the execution row can be kept, and each loss is an error entry.
    ASSERT_TRUE(QDir(folder()).mkpath(cMeridoxData(folder()).StoreFile(executiondata)));
    ASSERT_TRUE(QDir(folder()).mkpath(cMeridoxData(folder()).StoreFile(executionlogdata)));
    Db(source_).exec("UPDATE customers SET name = NULL WHERE id = 3;");
    const QString file = writeCopy(QStringLiteral("copy.xml"));
    EXPECT_EQ(run({file}), 0) << dump(events()).toStdString();
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

} // namespace
