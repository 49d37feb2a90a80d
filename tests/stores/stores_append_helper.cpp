// Appends rows to a run-data store, as several runners do at once.
//   stores_append_helper <folder> <count> <tag>
// count 0 appends until the process is killed.
#include "stores/cMeridoxData.h"

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <folder> <count> <tag>\n", argv[0]);
        return 2;
    }
    cMeridoxData data(QString::fromLocal8Bit(argv[1]));
    const long count = std::atol(argv[2]);
    const QString tag = QString::fromLocal8Bit(argv[3]);
    for (long i = 1; count == 0 || i <= count; ++i) {
        const QDateTime now = QDateTime::currentDateTime();
        const StoreResult r = data.appendRow(executiondata,
                                             {{"NAME", tag}, {"RUNTIME", now}, {"END", now}, {"ROWS", qlonglong(i)},
                                              {"RINSERTS", 0}, {"RUPDATES", 0}, {"RDELETED", 0}, {"RERRORS", 0},
                                              {"RESULT", "RESULT"}},
                                             StoreId::Next);
        if (!r) {
            std::fprintf(stderr, "append %ld failed: %s\n", i, qPrintable(r.error));
            return 1;
        }
    }
    return 0;
}
