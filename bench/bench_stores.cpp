// Cost of adding error rows to the errors store: appends in place against
// the whole-file rewrite every other change makes, in the same run. Prints
// the time per row for stores of growing size and the ratios:
//   in place, last rows / first rows   (1 means constant cost per row)
//   rewrite / in place, same rows      (what appending in place saves)
// Usage: bench_stores [folder] [rows]   (rows: 4000 unless given)

#include "stores/cMeridoxData.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

cMeridoxData::Row errorRow(int record)
{
    return {{"RECORD", record},
            {"NAME", "/jobs/nightly orders.xml"},
            {"RUNTIME", QDateTime::currentDateTime()},
            {"ERRNUMBER", -2147217900LL},
            {"ERRDESC", QStringLiteral("NOT NULL constraint failed: orders.customer (record %1)").arg(record)}};
}

// Seconds taken by appends number from+1 .. to, each through a store object
// of its own with the folder from the settings, as the run log adds them.
double appendInPlace(int from, int to)
{
    QElapsedTimer t;
    t.start();
    for (int i = from + 1; i <= to; ++i) {
        cMeridoxData store;
        if (!store.appendRow(executionlogdata, errorRow(i), StoreId::Next)) {
            std::fprintf(stderr, "append %d failed: %s\n", i, qPrintable(store.LastError()));
            std::exit(1);
        }
    }
    return double(t.nsecsElapsed()) / 1e9;
}

// The same rows through a whole-file rewrite each (how every row was added
// before appends went in place).
double appendByRewrite(cMeridoxData& store, int from, int to)
{
    QElapsedTimer t;
    t.start();
    for (int i = from + 1; i <= to; ++i) {
        const StoreResult r = store.modify(executionlogdata, [i](ado::Recordset& rs) {
            long highest = 0;
            if (rs.RecordCount() > 0)
                for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
                    highest = std::max(highest, long(rs.value("ID").toLongLong()));
            rs.AddNew();
            rs.setValue("ID", qlonglong(highest + 1));
            const cMeridoxData::Row values = errorRow(i);
            for (auto it = values.constBegin(); it != values.constEnd(); ++it)
                rs.setValue(it.key(), it.value());
            return rs.Update();
        });
        if (!r) {
            std::fprintf(stderr, "rewrite %d failed: %s\n", i, qPrintable(r.error));
            std::exit(1);
        }
    }
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/bench_stores-XXXXXX")
                               : QString());
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot create a folder\n");
        return 1;
    }
    const int rows = argc > 2 ? std::atoi(argv[2]) : 4000;
    const int rewriteRows = std::min(rows, 1000);

    qputenv("MERIDOX_HOME", QFile::encodeName(tmp.filePath(QStringLiteral("inplace"))));
    qputenv("MERIDOX_CONFIG", QFile::encodeName(tmp.filePath(QStringLiteral("none.conf"))));
    QDir().mkpath(tmp.filePath(QStringLiteral("inplace")));
    const double first = appendInPlace(0, 100);
    const double upTo1000 = first + appendInPlace(100, std::min(rows, 1000));
    const double mid = rows > 1000 ? appendInPlace(1000, rows - 100) : 0.0;
    const double last = rows > 1000 ? appendInPlace(rows - 100, rows) : 0.0;

    cMeridoxData rewrite(tmp.filePath(QStringLiteral("rewrite")));
    const double rewritten = appendByRewrite(rewrite, 0, rewriteRows);

    std::printf("error rows appended in place: %d rows in %.3f s", std::min(rows, 1000), upTo1000);
    if (rows > 1000)
        std::printf(", %d rows in %.3f s", rows, upTo1000 + mid + last);
    std::printf("\n");
    std::printf("per row: first 100 %.1f us", first / 100 * 1e6);
    if (rows > 1000)
        std::printf(", rows %d-%d %.1f us", rows - 99, rows, last / 100 * 1e6);
    std::printf("\n");
    std::printf("whole-file rewrite per row: %d rows in %.3f s\n", rewriteRows, rewritten);
    if (rows > 1000)
        std::printf("ratio in place, last 100 / first 100 rows: %.2f\n", last / first);
    std::printf("ratio rewrite / in place, first %d rows: %.1f\n", rewriteRows, rewritten / upTo1000);
    return 0;
}
