// Rows per second for prepared inserts and key lookups through the data
// layer, against the same work done directly with the SQLite C API in the
// same run. Prints both rates and their ratio (layer time / direct time).

#include "data/Connection.h"
#include "data/PreparedCommand.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <random>
#include <sqlite3.h>

namespace {

constexpr int kRows = 200000;
constexpr int kLookups = 200000;

std::vector<int> lookupKeys()
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(1, kRows);
    std::vector<int> keys(kLookups);
    for (auto& k : keys)
        k = pick(rng);
    return keys;
}

struct Rates {
    double insertsPerSecond = 0;
    double lookupsPerSecond = 0;
};

bool directSqlite(const QString& path, Rates& r)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(40), amount DOUBLE)", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO \"t\" (\"id\",\"name\",\"amount\") VALUES (?,?,?)", -1, &ins, nullptr);
    QElapsedTimer timer;
    timer.start();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 1; i <= kRows; ++i) {
        const QByteArray name = QStringLiteral("customer %1").arg(i).toUtf8();
        sqlite3_bind_int64(ins, 1, i);
        sqlite3_bind_text(ins, 2, name.constData(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(ins, 3, i * 0.25);
        if (sqlite3_step(ins) != SQLITE_DONE)
            return false;
        sqlite3_reset(ins);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    r.insertsPerSecond = kRows / (timer.nsecsElapsed() / 1e9);
    sqlite3_finalize(ins);

    sqlite3_stmt* sel = nullptr;
    sqlite3_prepare_v2(db, "SELECT \"id\",\"name\",\"amount\" FROM \"t\" WHERE \"id\" = ?", -1, &sel, nullptr);
    const auto keys = lookupKeys();
    double sum = 0;
    timer.restart();
    for (int k : keys) {
        sqlite3_bind_int64(sel, 1, k);
        while (sqlite3_step(sel) == SQLITE_ROW) {
            sum += sqlite3_column_double(sel, 2);
            const QString name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(sel, 1)));
            sum += name.size();
        }
        sqlite3_reset(sel);
    }
    r.lookupsPerSecond = kLookups / (timer.nsecsElapsed() / 1e9);
    sqlite3_finalize(sel);
    sqlite3_close(db);
    return sum > 0;
}

bool throughLayer(const QString& path, Rates& r)
{
    ado::Connection cn;
    cn.setCreateIfMissing(true);
    if (!cn.Open("Provider=SQLite;Data Source=" + path))
        return false;
    cn.Execute("CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(40), amount DOUBLE)");
    ado::TableWriter w;
    if (!w.open(cn, "t"))
        return false;
    const QStringList cols{"id", "name", "amount"};
    QElapsedTimer timer;
    timer.start();
    cn.BeginTrans();
    for (int i = 1; i <= kRows; ++i)
        if (!w.insert(cols, {i, QStringLiteral("customer %1").arg(i), i * 0.25}))
            return false;
    cn.CommitTrans();
    r.insertsPerSecond = kRows / (timer.nsecsElapsed() / 1e9);

    const auto keys = lookupKeys();
    std::vector<QVariantList> rows;
    double sum = 0;
    const QStringList key{"id"};
    timer.restart();
    for (int k : keys) {
        if (!w.select(key, {k}, rows, 1))
            return false;
        for (const auto& row : rows)
            sum += row[2].toDouble() + row[1].toString().size();
    }
    r.lookupsPerSecond = kLookups / (timer.nsecsElapsed() / 1e9);
    return sum > 0;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    Rates direct, layer;
    if (!directSqlite(dir.filePath("direct.db"), direct) || !throughLayer(dir.filePath("layer.db"), layer)) {
        std::fprintf(stderr, "benchmark failed\n");
        return 1;
    }
    std::printf("data layer vs SQLite C API (%d rows, %d key lookups)\n", kRows, kLookups);
    std::printf("  prepared inserts: layer %10.0f rows/s   direct %10.0f rows/s   ratio %.2fx slower\n",
                layer.insertsPerSecond, direct.insertsPerSecond, direct.insertsPerSecond / layer.insertsPerSecond);
    std::printf("  key lookups:      layer %10.0f rows/s   direct %10.0f rows/s   ratio %.2fx slower\n",
                layer.lookupsPerSecond, direct.lookupsPerSecond, direct.lookupsPerSecond / layer.lookupsPerSecond);
    return 0;
}
