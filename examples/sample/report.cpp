// Prints what the sample run left behind: the newest row of the executions
// store, the number of error rows and the first rows of the target table.
//
//   meridox-sample-report <target.db>

#include <QCoreApplication>
#include <QTextStream>

#include "data/Connection.h"
#include "data/Recordset.h"
#include "stores/cMeridoxData.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc < 2) {
        out << "usage: meridox-sample-report <target.db>\n";
        return 2;
    }

    cMeridoxData stores;
    ado::Recordset runs = stores.getRS(executiondata);
    out << "Runs recorded in " << stores.Folder() << ": " << runs.RecordCount() << "\n";
    if (runs.RecordCount() > 0) {
        runs.MoveLast();
        out << "Last run:\n";
        for (int i = 0; i < runs.FieldCount(); ++i) {
            QString value = runs.value(i).toString().trimmed();
            out << "  " << runs.fieldInfos()[size_t(i)].name.leftJustified(9) << " " << value << "\n";
        }
    }
    ado::Recordset errors = stores.getRS(executionlogdata);
    out << "Error rows recorded: " << errors.RecordCount() << "\n";

    ado::Connection cn;
    if (!cn.Open(QStringLiteral("Provider=SQLite;Data Source=") + QString::fromLocal8Bit(argv[1]))) {
        out << "Cannot open the target: " << cn.lastError().Description << "\n";
        return 1;
    }
    ado::Recordset rows = cn.Execute(QStringLiteral("SELECT * FROM customer_copy ORDER BY id LIMIT 5"));
    out << "First rows of customer_copy:\n";
    for (; rows.isOpen() && !rows.IsEOF(); rows.MoveNext()) {
        QStringList cells;
        for (int i = 0; i < rows.FieldCount(); ++i)
            cells << rows.value(i).toString();
        out << "  " << cells.join(QStringLiteral(" | ")) << "\n";
    }
    return 0;
}
