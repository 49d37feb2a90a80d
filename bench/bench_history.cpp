// The error history screen over one failing run of many records: how long
// the window is held when it opens and at each refresh, how long until every
// row is in the grid, and the memory the screen takes. The baseline, measured
// in the same run, is the fill every refresh did before: the whole store read
// through getRS and one grid item per cell.
// Prints the figures and the ratios baseline / screen.
// Usage: bench_history [rows]   (rows: 100000 unless given)
// Each measure runs in a process of its own, so that memory is its own.

#include "admin/AdminCommon.h"
#include "admin/frmExecutionLog.h"
#include "data/Recordset.h"
#include "data/RowsetXml.h"
#include "stores/cMeridoxData.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <cstdlib>

namespace {

// Resident memory of this process, in megabytes.
double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

void writeStore(const QString& folder, int rows)
{
    cMeridoxData data(folder);
    ado::RowsetData store;
    store.fields = data.getRS(executionlogdata).fieldInfos();
    const QDateTime when = QDateTime::currentDateTime();
    for (int record = 1; record <= rows; ++record) {
        const QVariantMap given{{"ID", record},
                                {"RECORD", record},
                                {"NAME", "/srv/integrations/nightly/customer accounts.xml"},
                                {"RUNTIME", when.addMSecs(record)},
                                {"ERRNUMBER", -2147217900LL},
                                {"ERRDESC", QStringLiteral("12:00:01.25: Step ACCOUNTS: balance --> balance CHECK "
                                                           "constraint failed: balance >= 0 (record %1)")
                                                .arg(record)}};
        QVariantList row;
        for (const ado::FieldInfo& field : store.fields) {
            QVariant value = given.value(field.name);
            // Fixed text is written padded to its size, as the store keeps it.
            if (field.fixedLength)
                value = value.toString().leftJustified(int(field.definedSize), QLatin1Char(' '));
            row << value;
        }
        store.rows.push_back(row);
    }
    if (!ado::saveRowsetXml(data.StoreFile(executionlogdata), store)) {
        std::fprintf(stderr, "the store could not be written\n");
        std::exit(1);
    }
}

// The fill before: the whole store read, one item per cell, every cell measured.
void oldFill(QTableWidget& grid)
{
    const QStringList fields = {"ID", "RECORD", "NAME", "RUNTIME", "ERRNUMBER", "ERRDESC"};
    grid.setRowCount(0);
    grid.setColumnCount(int(fields.size()));
    cMeridoxData data;
    ado::Recordset rs = data.getRS(executionlogdata);
    grid.setRowCount(int(rs.RecordCount()));
    int row = 0;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext(), ++row)
        for (int c = 0; c < fields.size(); ++c) {
            auto* item = new QTableWidgetItem(AdminScreens::CellText(rs.value(fields.at(c))));
            item->setToolTip(item->text().trimmed());
            grid.setItem(row, c, item);
        }
    QList<AdminScreens::Column> columns;
    for (const QString& f : fields)
        columns << AdminScreens::Column{f, f, 0};
    AdminScreens::FitDefaultColumns(&grid, columns);
}

// One measure in this process: prints "open held full refresh memory".
int measure(const QString& mode)
{
    const double before = residentMb();
    QElapsedTimer t;
    double open = 0, held = 0, full = 0, refresh = 0, memory = 0;
    // What the grid holds once filled, not what the heap kept from freed blocks.
    const auto taken = [before] {
        ::malloc_trim(0);
        return residentMb() - before;
    };
    if (mode == QLatin1String("old")) {
        QTableWidget grid;
        grid.resize(1000, 700);
        grid.show();
        t.start();
        oldFill(grid);
        QCoreApplication::processEvents();
        open = held = full = t.nsecsElapsed() / 1e9;
        t.restart();
        oldFill(grid);  // the 60-second refresh
        QCoreApplication::processEvents();
        refresh = t.nsecsElapsed() / 1e9;
        memory = taken();
    } else {
        frmExecErrorLog screen;
        screen.resize(1000, 700);
        screen.show();
        QCoreApplication::processEvents();
        t.start();
        screen.ActionEdit();
        QCoreApplication::processEvents();
        open = t.nsecsElapsed() / 1e9;
        // The longest time the window waited for its turn while the rows came.
        QElapsedTimer gap;
        while (screen.Loading()) {
            gap.start();
            QCoreApplication::processEvents();
            held = std::max(held, gap.nsecsElapsed() / 1e9);
        }
        held = std::max(held, open);
        full = t.nsecsElapsed() / 1e9;
        cMeridoxData().appendRow(executionlogdata,
                                 {{"RECORD", 0}, {"NAME", "x.xml"}, {"ERRNUMBER", 1}, {"ERRDESC", "new"}},
                                 StoreId::Next);
        t.restart();
        screen.LoadGrid();  // the 60-second refresh
        QCoreApplication::processEvents();
        refresh = t.nsecsElapsed() / 1e9;
        memory = taken();
        if (screen.RowCount() < 2) {
            std::fprintf(stderr, "the screen shows %d rows\n", screen.RowCount());
            return 1;
        }
    }
    std::printf("%.3f %.3f %.3f %.3f %.1f\n", open, held, full, refresh, memory);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--measure") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return measure(QString::fromLatin1(argv[2]));
    }
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    qputenv("MERIDOX_HOME", dir.path().toLocal8Bit());
    qputenv("MERIDOX_CONFIG", dir.filePath(QStringLiteral("none.conf")).toLocal8Bit());
    writeStore(dir.path(), rows);

    struct Figures {
        double open, held, full, refresh, memory;
    };
    const auto run = [&](const char* mode) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), QString::fromLatin1(mode)});
        child.waitForFinished(-1);
        const QList<QByteArray> v = child.readAllStandardOutput().trimmed().split(' ');
        if (child.exitCode() != 0 || v.size() != 5) {
            std::fprintf(stderr, "the %s measure failed\n", mode);
            std::exit(1);
        }
        return Figures{v[0].toDouble(), v[1].toDouble(), v[2].toDouble(), v[3].toDouble(), v[4].toDouble()};
    };
    const Figures old = run("old");
    const Figures now = run("new");
    std::printf("error history, %d rows          baseline   screen    ratio\n", rows);
    std::printf("window held at opening (s)     %8.2f %8.3f %8.1f\n", old.held, now.open, old.held / now.open);
    std::printf("longest hold while filling (s) %8.2f %8.3f %8.1f\n", old.held, now.held, old.held / now.held);
    std::printf("all rows in the grid (s)       %8.2f %8.2f %8.1f\n", old.full, now.full, old.full / now.full);
    std::printf("refresh, one new row (s)       %8.2f %8.3f %8.1f\n", old.refresh, now.refresh,
                old.refresh / now.refresh);
    std::printf("memory taken (MB)              %8.0f %8.0f %8.1f\n", old.memory, now.memory, old.memory / now.memory);
    return 0;
}
