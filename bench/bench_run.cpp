// Records per second of a whole integration run, against what a careful
// user would write instead, all measured in the same run on the same folder:
// a SQLite source of 8 mixed columns UpdateInserted into a SQLite target
// keyed by its id, one field from a formula and the rest mapped directly.
//
//   engine   the run, at SQLite's default settings (rollback journal, full sync)
//   C API    the same per-record work on the SQLite C API: prepared
//            statements, select by key then insert or update, one commit per
//            record, WAL and synchronous=NORMAL
//   Python   the same per-record work as a python3 sqlite3 script, one
//            commit per record, WAL and synchronous=NORMAL
//   runner   MeridoxRunner on the same integration, timed as a process
//            (its start and exit included)
//   set-based  the job as one INSERT ... SELECT ... ON CONFLICT DO UPDATE
//            in one transaction: the limit for this job
//   per-record limit  the C API's per-record work in one transaction at
//            the default settings: the limit for a record-by-record engine
//
// The first round fills empty targets, the second updates every row (the
// formula's text changes between them); every target is checked equal to the
// engine's. Then two flows over several databases against the single-target
// rate of the first round: a Lookup in a second SQLite file before the
// UpdateInsert, and the UpdateInsert written to two SQLite files. Then a run
// where every record fails against one where every record succeeds, and the
// peak memory of a 1,000,000-row run (in a child process, so the rounds
// before do not count).
//
//   bench_run [--dir D] [--rows N] [--flow-rows N] [--fail-rows N] [--no-big]
//             --flow-rows: records of the two flows (as many as --rows)
//             D defaults to $TMPDIR, else /var/tmp (a disk on most machines)
//   bench_run --big [--rows N]   one run over N source rows (1,000,000),
//                                printing resident memory as it goes and the peak
//   bench_run --big --pg         the same with the source on the PostgreSQL server
//                                of MERIDOX_PG_CONNECTION (tests/support/with-postgres.sh)

#include "data/Connection.h"
#include "document/clsProcess.h"
#include "run/RunEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <sqlite3.h>

namespace {

constexpr const char* kSourceTable =
    "CREATE TABLE src (id INTEGER PRIMARY KEY, code TEXT, name TEXT, amount REAL, qty INTEGER,"
    " created TEXT, active INTEGER, note TEXT)";
constexpr const char* kTargetTable =
    "CREATE TABLE tgt (id INTEGER PRIMARY KEY, code TEXT, label TEXT, amount REAL, qty INTEGER,"
    " created TEXT, active INTEGER, note TEXT)";

// kB of a "VmHWM:" / "VmRSS:" line of /proc/self/status, or -1.
long procStatusKb(const char* key)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0) {
            kb = std::atol(line + n);
            break;
        }
    std::fclose(f);
    return kb;
}

bool exec(sqlite3* db, const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s (%s)\n", err ? err : "?", sql);
        sqlite3_free(err);
        return false;
    }
    return true;
}

constexpr const char* kFailingTable =
    "CREATE TABLE tgt (id INTEGER PRIMARY KEY CHECK (id < 0), code TEXT, label TEXT, amount REAL, qty INTEGER,"
    " created TEXT, active INTEGER, note TEXT)";

bool createDb(const QString& path, const char* ddl)
{
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK && exec(db, ddl);
    sqlite3_close(db);
    return ok;
}

// Deterministic rows; every 10th note is Null.
bool buildSource(const QString& path, int rows)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK || !exec(db, kSourceTable)) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO src VALUES (?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
    exec(db, "BEGIN");
    char buf[64];
    for (int i = 1; i <= rows; ++i) {
        sqlite3_bind_int64(ins, 1, i);
        std::snprintf(buf, sizeof buf, "C%07d", i);
        sqlite3_bind_text(ins, 2, buf, -1, SQLITE_TRANSIENT);
        std::snprintf(buf, sizeof buf, "customer number %d", i);
        sqlite3_bind_text(ins, 3, buf, -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(ins, 4, i * 1.25);
        sqlite3_bind_int(ins, 5, i % 97);
        std::snprintf(buf, sizeof buf, "2024-%02d-%02d 10:%02d:00", 1 + i % 12, 1 + i % 28, i % 60);
        sqlite3_bind_text(ins, 6, buf, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(ins, 7, i % 2);
        if (i % 10 == 0) {
            sqlite3_bind_null(ins, 8);
        } else {
            std::snprintf(buf, sizeof buf, "note %d", i * 7);
            sqlite3_bind_text(ins, 8, buf, -1, SQLITE_TRANSIENT);
        }
        if (sqlite3_step(ins) != SQLITE_DONE) {
            std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
            sqlite3_close(db);
            return false;
        }
        sqlite3_reset(ins);
    }
    exec(db, "COMMIT");
    sqlite3_finalize(ins);
    sqlite3_close(db);
    return true;
}

QString xmlEscape(QString s)
{
    return s.replace(u'&', QStringLiteral("&amp;")).replace(u'<', QStringLiteral("&lt;")).replace(u'>', QStringLiteral("&gt;"));
}

// START -> SOURCE -> TARGET (UpdateInsert on id) -> END; LABEL from a formula.
bool writeIntegration(const QString& file, const QString& sourceDb, const QString& targetDb, int run)
{
    const QString formula = QStringLiteral("Function Main()\n"
                                           "  Main = UCase(SOURCE(\"name\")) & \" / run %1\"\n"
                                           "End Function").arg(run);
    const char* mapped[] = {"code", "amount", "qty", "created", "active", "note"};
    QString fields = QStringLiteral(
        "<field name=\"id\" type=\"3\" size=\"4\"><f_value>SOURCE(\"id\")</f_value><f_lookup>SOURCE(\"id\")</f_lookup></field>\n"
        "<field name=\"label\" type=\"202\" size=\"255\"><f_value>FORMULA!Label</f_value><f_lookup></f_lookup></field>\n");
    for (const char* m : mapped)
        fields += QStringLiteral("<field name=\"%1\" type=\"202\" size=\"255\"><f_value>SOURCE(\"%1\")</f_value>"
                                 "<f_lookup></f_lookup></field>\n").arg(QLatin1String(m));
    const QString xml = QStringLiteral(
        "<?xml version=\"1.0\"?>\n<meridox>\n<nodes>\n"
        "<node type=\"start\" x=\"600\" y=\"500\" caption=\"START\"><next caption=\"\">2</next></node>\n"
        "<node type=\"data\" x=\"2500\" y=\"500\" caption=\"SOURCE\">\n"
        "<dataconn><connname>bench source</connname><connstring>Provider=SQLite;Data Source=%1</connstring></dataconn>\n"
        "<datasource type=\"table\">src</datasource>\n<datafields>\n"
        "<field name=\"id\" type=\"3\" size=\"4\"/><field name=\"code\" type=\"202\" size=\"255\"/>"
        "<field name=\"name\" type=\"202\" size=\"255\"/><field name=\"amount\" type=\"5\" size=\"8\"/>"
        "<field name=\"qty\" type=\"3\" size=\"4\"/><field name=\"created\" type=\"202\" size=\"255\"/>"
        "<field name=\"active\" type=\"3\" size=\"4\"/><field name=\"note\" type=\"202\" size=\"255\"/>\n"
        "</datafields>\n<previous caption=\"\">1</previous><next caption=\"\">3</next>\n</node>\n"
        "<node type=\"storage\" x=\"4400\" y=\"500\" caption=\"TARGET\">\n"
        "<storageconn><connname>bench target</connname><connstring>Provider=SQLite;Data Source=%2</connstring>"
        "<operation>UpdateInsert</operation></storageconn>\n"
        "<storagetarget type=\"table\">tgt</storagetarget>\n<storagefields>\n%3</storagefields>\n"
        "<previous caption=\"\">2</previous><next caption=\"\">4</next>\n</node>\n"
        "<node type=\"stop\" x=\"6300\" y=\"500\" caption=\"END\"><previous caption=\"\">3</previous></node>\n"
        "</nodes>\n<formula><formula name=\"Label\">%4</formula></formula>\n</meridox>\n")
                            .arg(xmlEscape(sourceDb), xmlEscape(targetDb), fields, xmlEscape(formula));
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(xml.toUtf8());
    return true;
}

// The flows over several databases: START -> SOURCE -> steps -> END, where
// each step is a storage node on a file of its own. Lookup: REF (a Lookup of
// the source id in ref.db) then TARGET, whose note comes from REF. Two
// targets: TARGET then COPY, the same UpdateInsert into a second file.
bool writeFlow(const QString& file, const QString& sourceDb, const QString& firstDb, const QString& secondDb,
               bool lookup)
{
    if (!writeIntegration(file, sourceDb, firstDb, 1))
        return false;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QString xml = QString::fromUtf8(f.readAll());
    f.close();
    const int at = xml.indexOf(QStringLiteral("<node type=\"storage\""));
    const int end = xml.indexOf(QStringLiteral("</node>"), at) + 7;
    QString target = xml.mid(at, end - at);
    QString second;
    if (lookup) {
        second = QStringLiteral(
            "<node type=\"storage\" x=\"4400\" y=\"1500\" caption=\"REF\">\n"
            "<storageconn><connname>bench reference</connname><connstring>Provider=SQLite;Data Source=%1</connstring>"
            "<operation>Lookup</operation></storageconn>\n"
            "<storagetarget type=\"table\">ref</storagetarget>\n<storagefields>\n"
            "<field name=\"id\" type=\"3\" size=\"4\"><f_value></f_value><f_lookup>SOURCE(\"id\")</f_lookup></field>\n"
            "</storagefields>\n<previous caption=\"\">2</previous><next caption=\"\">3</next>\n</node>\n")
                     .arg(xmlEscape(secondDb));
        target.replace(QStringLiteral("<f_value>SOURCE(\"note\")</f_value>"), QStringLiteral("<f_value>REF(\"region\")</f_value>"));
        target.replace(QStringLiteral("<previous caption=\"\">2</previous><next caption=\"\">4</next>"),
                       QStringLiteral("<previous caption=\"\">5</previous><next caption=\"\">4</next>"));
        // SOURCE -> REF (node 5) -> TARGET (node 3) -> END.
        xml.replace(QStringLiteral("<previous caption=\"\">1</previous><next caption=\"\">3</next>"),
                    QStringLiteral("<previous caption=\"\">1</previous><next caption=\"\">5</next>"));
    } else {
        second = QString(target)
                     .replace(QStringLiteral("caption=\"TARGET\""), QStringLiteral("caption=\"COPY\""))
                     .replace(QStringLiteral("bench target"), QStringLiteral("bench copy"))
                     .replace(xmlEscape(firstDb), xmlEscape(secondDb))
                     .replace(QStringLiteral("<previous caption=\"\">2</previous><next caption=\"\">4</next>"),
                              QStringLiteral("<previous caption=\"\">3</previous><next caption=\"\">4</next>"));
        // SOURCE -> TARGET (node 3) -> COPY (node 5) -> END.
        target.replace(QStringLiteral("<next caption=\"\">4</next>"), QStringLiteral("<next caption=\"\">5</next>"));
    }
    xml.replace(at, end - at, target);
    // Node 5 comes after END (node 4).
    const int nodesEnd = xml.indexOf(QStringLiteral("</nodes>"));
    xml.insert(nodesEnd, second);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(xml.toUtf8());
    return true;
}

// ref(id, region) for every source id.
bool buildReference(const QString& path, int rows)
{
    sqlite3* db = nullptr;
    const QString sql = QStringLiteral("CREATE TABLE ref (id INTEGER PRIMARY KEY, region TEXT);"
                                       "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
                                       "INSERT INTO ref SELECT x, 'region ' || (x % 17) FROM n;").arg(rows);
    const bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK && exec(db, sql.toUtf8().constData());
    sqlite3_close(db);
    return ok;
}

struct EngineResult {
    double seconds = 0;
    tStatistic stats;
    RunOutcome outcome = RunOutcome::NotRun;
    QString lastLog;
};

// Loads outside the clock, then times Run(). onRecord sees the statistics
// as the run goes (memory sampling in --big).
EngineResult runEngine(const QString& file, const std::function<void(const tStatistic&)>& onRecord = {})
{
    EngineResult r;
    clsProcess process;
    const QString error = process.LoadIntegration(file);
    if (!error.isEmpty()) {
        r.outcome = RunOutcome::LoadFailed;
        r.lastLog = error;
        return r;
    }
    QObject::connect(&process, &clsProcess::LogAdded, [&r](const QString& text) {
        if (!text.trimmed().isEmpty())
            r.lastLog = text;
    });
    if (onRecord)
        QObject::connect(&process, &clsProcess::StatisticsAdded, onRecord);
    QElapsedTimer timer;
    timer.start();
    process.Run();
    r.seconds = timer.nsecsElapsed() / 1e9;
    r.stats = process.Statistics();
    r.outcome = process.LastOutcome();
    return r;
}

struct DirectResult {
    double seconds = 0;
    long inserts = 0;
    long updates = 0;
    bool ok = false;
};

void bindTextOrNull(sqlite3_stmt* st, int i, sqlite3_stmt* from, int col)
{
    if (sqlite3_column_type(from, col) == SQLITE_NULL)
        sqlite3_bind_null(st, i);
    else
        sqlite3_bind_text(st, i, reinterpret_cast<const char*>(sqlite3_column_text(from, col)),
                          sqlite3_column_bytes(from, col), SQLITE_TRANSIENT);
}

// The same work by hand: stream the source, select the target row by id,
// insert or update it; every statement commits on its own, in WAL mode with
// synchronous=NORMAL (one fsync per checkpoint instead of two per commit).
// With oneTransaction, all of it in one transaction at SQLite's default
// settings: the most a record-by-record engine can get from SQLite.
DirectResult runDirect(const QString& sourceDb, const QString& targetDb, int run, bool oneTransaction = false)
{
    DirectResult r;
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    QElapsedTimer timer;
    timer.start();
    if (sqlite3_open(sourceDb.toUtf8().constData(), &src) != SQLITE_OK
        || sqlite3_open(targetDb.toUtf8().constData(), &dst) != SQLITE_OK) {
        sqlite3_close(src);
        sqlite3_close(dst);
        return r;
    }
    sqlite3_busy_timeout(dst, 10000);
    if (!oneTransaction) {
        exec(dst, "PRAGMA journal_mode=WAL");
        exec(dst, "PRAGMA synchronous=NORMAL");
    }
    sqlite3_stmt *read = nullptr, *sel = nullptr, *ins = nullptr, *upd = nullptr;
    sqlite3_prepare_v2(src, "SELECT id, code, name, amount, qty, created, active, note FROM src", -1, &read, nullptr);
    sqlite3_prepare_v2(dst, "SELECT id, code, label, amount, qty, created, active, note FROM tgt WHERE id = ?", -1,
                       &sel, nullptr);
    sqlite3_prepare_v2(dst, "INSERT INTO tgt (id, code, label, amount, qty, created, active, note) VALUES (?,?,?,?,?,?,?,?)",
                       -1, &ins, nullptr);
    sqlite3_prepare_v2(dst, "UPDATE tgt SET code = ?, label = ?, amount = ?, qty = ?, created = ?, active = ?, note = ? "
                            "WHERE id = ?", -1, &upd, nullptr);
    r.ok = read && sel && ins && upd && (!oneTransaction || exec(dst, "BEGIN"));
    const std::string suffix = " / run " + std::to_string(run);
    std::string label;
    while (r.ok && sqlite3_step(read) == SQLITE_ROW) {
        const sqlite3_int64 id = sqlite3_column_int64(read, 0);
        label.assign(reinterpret_cast<const char*>(sqlite3_column_text(read, 2)), sqlite3_column_bytes(read, 2));
        for (char& c : label)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        label += suffix;

        sqlite3_bind_int64(sel, 1, id);
        const bool exists = sqlite3_step(sel) == SQLITE_ROW;
        sqlite3_reset(sel);

        sqlite3_stmt* w = exists ? upd : ins;
        int p = 1;
        if (!exists)
            sqlite3_bind_int64(w, p++, id);
        bindTextOrNull(w, p++, read, 1);
        sqlite3_bind_text(w, p++, label.data(), static_cast<int>(label.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(w, p++, sqlite3_column_double(read, 3));
        sqlite3_bind_int64(w, p++, sqlite3_column_int64(read, 4));
        bindTextOrNull(w, p++, read, 5);
        sqlite3_bind_int64(w, p++, sqlite3_column_int64(read, 6));
        bindTextOrNull(w, p++, read, 7);
        if (exists)
            sqlite3_bind_int64(w, p++, id);
        if (sqlite3_step(w) != SQLITE_DONE) {
            std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(dst));
            r.ok = false;
        }
        sqlite3_reset(w);
        ++(exists ? r.updates : r.inserts);
    }
    if (r.ok && oneTransaction)
        r.ok = exec(dst, "COMMIT");
    sqlite3_finalize(read);
    sqlite3_finalize(sel);
    sqlite3_finalize(ins);
    sqlite3_finalize(upd);
    sqlite3_close(src);
    sqlite3_close(dst);
    r.seconds = timer.nsecsElapsed() / 1e9;
    return r;
}

// The same work as a short Python script would do it (the interpreter's
// start is not timed: the script times its own loop).
constexpr const char* kPythonScript = R"py(import sqlite3, sys, time
source, target, run = sys.argv[1], sys.argv[2], int(sys.argv[3])
started = time.perf_counter()
src = sqlite3.connect(source)
dst = sqlite3.connect(target, isolation_level=None, timeout=10)
dst.execute("PRAGMA journal_mode=WAL")
dst.execute("PRAGMA synchronous=NORMAL")
suffix = " / run %d" % run
inserts = updates = 0
for id, code, name, amount, qty, created, active, note in src.execute(
        "SELECT id, code, name, amount, qty, created, active, note FROM src"):
    label = name.upper() + suffix
    if dst.execute("SELECT id, code, label, amount, qty, created, active, note FROM tgt WHERE id = ?",
                   (id,)).fetchone():
        dst.execute("UPDATE tgt SET code = ?, label = ?, amount = ?, qty = ?, created = ?, active = ?, note = ? "
                    "WHERE id = ?", (code, label, amount, qty, created, active, note, id))
        updates += 1
    else:
        dst.execute("INSERT INTO tgt (id, code, label, amount, qty, created, active, note) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?)", (id, code, label, amount, qty, created, active, note))
        inserts += 1
print(time.perf_counter() - started, inserts, updates)
)py";

DirectResult runPython(const QString& script, const QString& sourceDb, const QString& targetDb, int run)
{
    DirectResult r;
    QProcess p;
    p.start(QStringLiteral("python3"), {script, sourceDb, targetDb, QString::number(run)});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "python3: %s\n", p.readAllStandardError().constData());
        return r;
    }
    const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split(u' ', Qt::SkipEmptyParts);
    if (out.size() != 3)
        return r;
    r.seconds = out[0].toDouble();
    r.inserts = out[1].toLong();
    r.updates = out[2].trimmed().toLong();
    r.ok = r.seconds > 0;
    return r;
}

// The whole job as one statement at SQLite's default settings, the source
// attached: the limit for this job. upper() folds ASCII only, as the
// formula's UCase does on these names.
DirectResult runSetBased(const QString& sourceDb, const QString& targetDb, int run)
{
    DirectResult r;
    sqlite3* dst = nullptr;
    QElapsedTimer timer;
    timer.start();
    if (sqlite3_open(targetDb.toUtf8().constData(), &dst) != SQLITE_OK) {
        sqlite3_close(dst);
        return r;
    }
    sqlite3_stmt* att = nullptr;
    sqlite3_prepare_v2(dst, "ATTACH DATABASE ? AS s", -1, &att, nullptr);
    const QByteArray path = sourceDb.toUtf8();
    sqlite3_bind_text(att, 1, path.constData(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    r.ok = att && sqlite3_step(att) == SQLITE_DONE;
    sqlite3_finalize(att);
    const long before = r.ok ? static_cast<long>(sqlite3_total_changes(dst)) : 0;
    // "WHERE true" keeps ON CONFLICT from being read as part of the SELECT.
    const std::string sql =
        "INSERT INTO tgt (id, code, label, amount, qty, created, active, note)"
        " SELECT id, code, upper(name) || ' / run " + std::to_string(run) + "', amount, qty, created, active, note"
        " FROM s.src WHERE true ON CONFLICT(id) DO UPDATE SET code = excluded.code, label = excluded.label,"
        " amount = excluded.amount, qty = excluded.qty, created = excluded.created, active = excluded.active,"
        " note = excluded.note";
    r.ok = r.ok && exec(dst, "BEGIN") && exec(dst, sql.c_str()) && exec(dst, "COMMIT");
    const long written = r.ok ? static_cast<long>(sqlite3_total_changes(dst)) - before : 0;
    sqlite3_close(dst);
    r.seconds = timer.nsecsElapsed() / 1e9;
    // An upsert counts one change per row, inserted or updated.
    (run == 1 ? r.inserts : r.updates) = written;
    return r;
}

// MeridoxRunner of MERIDOX_BIN_DIR, else the one beside this program.
QString runnerPath()
{
    QString dir = qEnvironmentVariable("MERIDOX_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + QStringLiteral("/MeridoxRunner");
}

// The runner as a user starts it, process start and exit included.
DirectResult runRunner(const QString& file)
{
    DirectResult r;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    p.start(runnerPath(), {file});
    const bool finished = p.waitForFinished(-1);
    r.seconds = timer.nsecsElapsed() / 1e9;
    r.ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!r.ok)
        std::fprintf(stderr, "%s: exit %d %s\n", qPrintable(runnerPath()), p.exitCode(), p.readAll().constData());
    return r;
}

// Every row of a target as text, in key order: targets written by different
// tools must hold the same thing.
std::string tableText(const QString& db)
{
    sqlite3* h = nullptr;
    std::string out;
    if (sqlite3_open(db.toUtf8().constData(), &h) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(h, "SELECT id, code, label, amount, qty, created, active, note FROM tgt ORDER BY id", -1,
                           &st, nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            for (int i = 0; i < 8; ++i) {
                const unsigned char* t = sqlite3_column_text(st, i);
                out += t ? reinterpret_cast<const char*>(t) : "NULL";
                out += '|';
            }
            out += '\n';
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(h);
    return out;
}

const char* outcomeText(RunOutcome o)
{
    switch (o) {
    case RunOutcome::Completed: return "Completed";
    case RunOutcome::CompletedWithErrors: return "Completed with errors";
    case RunOutcome::Cancelled: return "Cancelled";
    case RunOutcome::LoadFailed: return "load failed";
    case RunOutcome::PrepareFailed: return "prepare failed";
    case RunOutcome::Critical: return "critical";
    default: return "not run";
    }
}

bool engineOk(const EngineResult& e, RunOutcome expected)
{
    if (e.outcome == expected)
        return true;
    std::printf("  engine run ended \"%s\"; last log line: %s\n", outcomeText(e.outcome), qPrintable(e.lastLog));
    return false;
}

double rate(long records, double seconds) { return seconds > 0 ? records / seconds : 0; }

// Peak memory of a 1,000,000-row run, in a process of its own.
long bigRunPeakKb(const QString& dir)
{
    QProcess p;
    QStringList env = QProcess::systemEnvironment();
    p.setEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--big"), QStringLiteral("--dir"), dir});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::printf("  the 1,000,000-row run failed:\n%s\n", p.readAll().constData());
        return -1;
    }
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression peak(QStringLiteral(R"(peak resident memory \(VmHWM\): (\d+) kB)"));
    const auto m = peak.match(out);
    QRegularExpression rss(QStringLiteral(R"(VmRSS (\d+) kB)"));
    long lo = -1, hi = -1;
    for (auto it = rss.globalMatch(out); it.hasNext();) {
        const long kb = it.next().captured(1).toLong();
        lo = lo < 0 ? kb : std::min(lo, kb);
        hi = std::max(hi, kb);
    }
    if (lo >= 0)
        std::printf("  resident memory during the 1,000,000-row run: %ld to %ld kB\n", lo, hi);
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

int runBoth(const QString& dir, int rows, int flowRows, int failRows, bool big)
{
    const QString source = dir + QStringLiteral("/source.db");
    const QString engineTarget = dir + QStringLiteral("/target_engine.db");
    const QString directTarget = dir + QStringLiteral("/target_capi.db");
    const QString pythonTarget = dir + QStringLiteral("/target_python.db");
    const QString setTarget = dir + QStringLiteral("/target_set.db");
    const QString limitTarget = dir + QStringLiteral("/target_limit.db");
    const QString runnerTarget = dir + QStringLiteral("/target_runner.db");
    const QString runnerFile = dir + QStringLiteral("/bench_runner.xml");
    const QString script = dir + QStringLiteral("/per_record.py");
    const QString file = dir + QStringLiteral("/bench.xml");
    if (!buildSource(source, rows) || !createDb(engineTarget, kTargetTable) || !createDb(directTarget, kTargetTable)
        || !createDb(pythonTarget, kTargetTable) || !createDb(setTarget, kTargetTable)
        || !createDb(limitTarget, kTargetTable) || !createDb(runnerTarget, kTargetTable))
        return 1;
    {
        QFile f(script);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        f.write(kPythonScript);
    }

    std::printf("UpdateInsert of %d source rows (8 columns, 1 formula field) in %s, %d cores\n", rows,
                qPrintable(dir), QThread::idealThreadCount());
    std::printf("engine, runner, set-based statement and per-record limit (one transaction) at SQLite's default\n"
                "settings; C API and Python: one commit per record, WAL, synchronous=NORMAL\n\n");
    bool ok = true;
    struct Round { const char* what; double engine, capi, python, runner, setBased, limit; };
    std::vector<Round> rounds;
    for (int run = 1; run <= 2 && ok; ++run) {
        const char* what = run == 1 ? "inserts" : "updates";
        if (!writeIntegration(file, source, engineTarget, run))
            return 1;
        const EngineResult e = runEngine(file);
        const DirectResult d = runDirect(source, directTarget, run);
        const DirectResult py = runPython(script, source, pythonTarget, run);
        if (!writeIntegration(runnerFile, source, runnerTarget, run))
            return 1;
        const DirectResult proc = runRunner(runnerFile);
        const DirectResult set = runSetBased(source, setTarget, run);
        const DirectResult limit = runDirect(source, limitTarget, run, true);
        ok = engineOk(e, RunOutcome::Completed) && d.ok && py.ok && proc.ok && set.ok && limit.ok;
        const long done = run == 1 ? e.stats.Totals[1] : e.stats.Totals[2];
        const auto written = [run](const DirectResult& x) { return run == 1 ? x.inserts : x.updates; };
        if (done != rows || written(d) != rows || written(py) != rows || written(set) != rows
            || written(limit) != rows) {
            std::printf("  %s: not every record was written (engine %ld, C API %ld, Python %ld, set-based %ld,"
                        " one transaction %ld)\n", what, done, written(d), written(py), written(set), written(limit));
            ok = false;
        }
        // The runner's count is in its target: equal to the engine's.
        const std::string engineRows = tableText(engineTarget);
        if (engineRows != tableText(directTarget) || engineRows != tableText(pythonTarget)
            || engineRows != tableText(runnerTarget) || engineRows != tableText(setTarget)
            || engineRows != tableText(limitTarget)) {
            std::printf("  %s: the targets differ\n", what);
            ok = false;
        }
        rounds.push_back({what, e.seconds, d.seconds, py.seconds, proc.seconds, set.seconds, limit.seconds});
    }
    if (!ok)
        return 1;

    // Flows over several databases, inserting into empty targets as the
    // first round did.
    const QString flowSource = dir + QStringLiteral("/source_flow.db");
    const QString reference = dir + QStringLiteral("/reference.db");
    const QString lookupTarget = dir + QStringLiteral("/target_lookup.db");
    const QString firstTarget = dir + QStringLiteral("/target_first.db");
    const QString secondTarget = dir + QStringLiteral("/target_second.db");
    if (!buildSource(flowSource, flowRows) || !buildReference(reference, flowRows)
        || !createDb(lookupTarget, kTargetTable) || !createDb(firstTarget, kTargetTable)
        || !createDb(secondTarget, kTargetTable) || !writeFlow(file, flowSource, lookupTarget, reference, true))
        return 1;
    const EngineResult withLookup = runEngine(file);
    if (!writeFlow(file, flowSource, firstTarget, secondTarget, false))
        return 1;
    const EngineResult twoTargets = runEngine(file);
    ok = engineOk(withLookup, RunOutcome::Completed) && engineOk(twoTargets, RunOutcome::Completed);
    if (ok && (withLookup.stats.Totals[1] != flowRows || withLookup.stats.Totals[3] != flowRows
               || twoTargets.stats.Totals[1] != 2 * flowRows || tableText(firstTarget) != tableText(secondTarget))) {
        std::printf("  flows: not every record was written\n");
        ok = false;
    }
    if (!ok)
        return 1;
    const double singleRate = rate(rows, rounds.front().engine);

    // Every record failing against every record succeeding, same source.
    const QString failSource = dir + QStringLiteral("/source_fail.db");
    const QString okTarget = dir + QStringLiteral("/target_ok.db");
    const QString failTarget = dir + QStringLiteral("/target_fail.db");
    if (!buildSource(failSource, failRows) || !createDb(okTarget, kTargetTable) || !createDb(failTarget, kFailingTable))
        return 1;
    if (!writeIntegration(file, failSource, okTarget, 1))
        return 1;
    const EngineResult succeeding = runEngine(file);
    if (!writeIntegration(file, failSource, failTarget, 1))
        return 1;
    const EngineResult failing = runEngine(file);
    ok = engineOk(succeeding, RunOutcome::Completed) && engineOk(failing, RunOutcome::CompletedWithErrors)
         && failing.stats.Errors[tStatistic::AllOperations] == failRows;
    if (!ok)
        return 1;

    std::printf("the runner as a process (start included): its rate over the limits' rates\n");
    for (const Round& r : rounds)
        std::printf("  %-8s runner vs set-based statement %5.3fx   runner vs per-record limit %5.3fx\n", r.what,
                    r.setBased / r.runner, r.limit / r.runner);
    std::printf("ratios (time of the other / time of the engine: above 1 means the engine is faster)\n");
    for (const Round& r : rounds)
        std::printf("  %-8s engine vs Python %6.2fx   engine vs C API %6.2fx\n", r.what, r.python / r.engine,
                    r.capi / r.engine);
    // A share far below one reads better as a fraction.
    const auto share = [](double r) {
        char text[32];
        if (r > 0 && r < 0.1)
            std::snprintf(text, sizeof text, "1/%.0f", 1 / r);
        else
            std::snprintf(text, sizeof text, "%.2fx", r);
        return std::string(text);
    };
    std::printf("  Lookup in a second file, then the UpdateInsert: %s the single-target rate\n",
                share(rate(flowRows, withLookup.seconds) / singleRate).c_str());
    std::printf("  the UpdateInsert into two files:                %s the single-target rate\n",
                share(rate(flowRows, twoTargets.seconds) / singleRate).c_str());
    std::printf("  %d failing records take %.2fx the time of %d succeeding ones\n\n", failRows,
                failing.seconds / succeeding.seconds, failRows);
    std::printf("records/s\n");
    for (const Round& r : rounds)
        std::printf("  %-8s runner %9.0f   set-based %9.0f   per-record limit %9.0f\n"
                    "           engine %9.0f   C API %9.0f   Python %9.0f\n",
                    r.what, rate(rows, r.runner), rate(rows, r.setBased), rate(rows, r.limit), rate(rows, r.engine),
                    rate(rows, r.capi), rate(rows, r.python));
    std::printf("  flows    Lookup first %9.0f   two targets %9.0f   (%d records; single target %.0f)\n",
                rate(flowRows, withLookup.seconds), rate(flowRows, twoTargets.seconds), flowRows, singleRate);
    std::printf("  %d records all succeeding %.2f s, all failing %.2f s\n", failRows, succeeding.seconds,
                failing.seconds);
    std::printf("peak resident memory of this process (VmHWM): %ld kB\n", procStatusKb("VmHWM:"));
    if (big) {
        std::fflush(stdout);
        const long peak = bigRunPeakKb(dir);
        std::printf("peak resident memory of a 1,000,000-row run: %ld kB\n", peak);
        ok = peak > 0;
    }
    return ok ? 0 : 1;
}

// The source table on the server, the same rows as buildSource's.
bool buildPgSource(const QString& connection, int rows)
{
    ado::Connection c;
    if (!c.Open(connection)) {
        std::fprintf(stderr, "postgres: %s\n", qPrintable(c.lastError().Description));
        return false;
    }
    c.Execute(QStringLiteral("DROP TABLE IF EXISTS src"));
    c.Execute(QString::fromLatin1(kSourceTable).replace(QStringLiteral("REAL"), QStringLiteral("double precision")));
    c.Execute(QStringLiteral(
        "INSERT INTO src SELECT i, 'C' || lpad(i::text, 7, '0'), 'customer number ' || i, i * 1.25, i % 97,"
        " format('2024-%s-%s 10:%s:00', lpad((1 + i % 12)::text, 2, '0'), lpad((1 + i % 28)::text, 2, '0'),"
        " lpad((i % 60)::text, 2, '0')), i % 2, CASE WHEN i % 10 = 0 THEN NULL ELSE 'note ' || i * 7 END"
        " FROM generate_series(1, %1) AS i").arg(rows));
    if (c.Errors().Count() > 0) {
        std::fprintf(stderr, "postgres: %s\n", qPrintable(c.Errors().Item(0).Description));
        return false;
    }
    return true;
}

// The integration of writeIntegration with its source on the server.
bool useServerSource(const QString& file, const QString& sourceDb, const QString& connection)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QString xml = QString::fromUtf8(f.readAll());
    f.close();
    xml.replace(QStringLiteral("Provider=SQLite;Data Source=") + xmlEscape(sourceDb), xmlEscape(connection));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(xml.toUtf8());
    return true;
}

int runBig(const QString& dir, int rows, bool pg)
{
    const QString source = dir + QStringLiteral("/big_source.db");
    const QString target = dir + QStringLiteral("/big_target.db");
    const QString file = dir + QStringLiteral("/big.xml");
    const QString server = qEnvironmentVariable("MERIDOX_PG_CONNECTION");
    if (pg && server.isEmpty()) {
        std::fprintf(stderr, "--pg needs MERIDOX_PG_CONNECTION (run under tests/support/with-postgres.sh)\n");
        return 1;
    }
    QFile::remove(source);
    QFile::remove(target);
    if (!(pg ? buildPgSource(server, rows) : buildSource(source, rows)) || !createDb(target, kTargetTable)
        || !writeIntegration(file, source, target, 1) || (pg && !useServerSource(file, source, server)))
        return 1;
    if (pg)
        std::printf("source on the PostgreSQL server\n");
    std::printf("one run over %d source rows into an empty target, %d cores\n", rows, QThread::idealThreadCount());
    std::printf("  before the run: VmRSS %ld kB, VmHWM %ld kB\n", procStatusKb("VmRSS:"), procStatusKb("VmHWM:"));
    const int step = std::max(1, rows / 10);
    const EngineResult e = runEngine(file, [step](const tStatistic& s) {
        if (s.CurrRecord % step == 0)
            std::printf("  after %8d records: VmRSS %ld kB\n", s.CurrRecord, procStatusKb("VmRSS:"));
        std::fflush(stdout);
    });
    std::printf("  engine %9.0f records/s (%.2f s)\n", rate(rows, e.seconds), e.seconds);
    const bool ok = engineOk(e, RunOutcome::Completed);
    std::printf("peak resident memory (VmHWM): %ld kB\n", procStatusKb("VmHWM:"));
    QFile::remove(source);
    QFile::remove(target);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[])
{
    bool big = false;
    bool pg = false;
    bool withBig = true;
    int rows = -1;
    int failRows = 10'000;
    int flowRows = -1;
    QString base = qEnvironmentVariable("TMPDIR");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--big") == 0)
            big = true;
        else if (std::strcmp(argv[i], "--pg") == 0)
            pg = true;
        else if (std::strcmp(argv[i], "--no-big") == 0)
            withBig = false;
        else if (std::strcmp(argv[i], "--rows") == 0 && i + 1 < argc)
            rows = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--flow-rows") == 0 && i + 1 < argc)
            flowRows = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--fail-rows") == 0 && i + 1 < argc)
            failRows = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            base = QString::fromLocal8Bit(argv[++i]);
    }
    if (base.isEmpty())
        base = QStringLiteral("/var/tmp");
    QTemporaryDir dir(base + QStringLiteral("/bench_run-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    // Stores and settings of the runs stay in the temporary folder.
    qputenv("MERIDOX_HOME", dir.path().toUtf8());
    qputenv("MERIDOX_CONFIG", (dir.path() + QStringLiteral("/Meridox.conf")).toUtf8());
    QCoreApplication app(argc, argv);
    if (rows <= 0)
        rows = big ? 1'000'000 : 100'000;
    if (failRows <= 0)
        failRows = 10'000;
    if (flowRows <= 0)
        flowRows = rows;
    return big ? runBig(dir.path(), rows, pg) : runBoth(dir.path(), rows, flowRows, failRows, withBig);
}
