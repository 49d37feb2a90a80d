// Arbitrary bytes as the connections file. What loads must save and load
// again with the same entries.

#include "connections/cConnections.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QTemporaryDir* Home()
{
    static QTemporaryDir* dir = [] {
        auto* d = new QTemporaryDir();
        qputenv("MERIDOX_HOME", d->path().toUtf8());
        return d;
    }();
    return dir;
}

bool WriteFile(const char* data, size_t size)
{
    QFile file(cConnections::FilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data, qint64(size)) == qint64(size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Home();
    if (!WriteFile(reinterpret_cast<const char*>(data), size))
        return 0;
    cConnections first;
    if (!first.LoadConnections().isEmpty() && first.ConnectionsList().Count() == 0)
        return 0;
    for (const tConnection& entry : first.ConnectionsList())
        (void)first.ConnectionString(entry.name);
    const QString saveError = first.SaveConnections();
    if (!saveError.isEmpty())
        return 0;
    cConnections second;
    const QString reload = second.LoadConnections();
    if (!reload.isEmpty()) {
        std::fprintf(stderr, "saved file does not load: %s\n", qPrintable(reload));
        std::abort();
    }
    if (second.ConnectionsList().Count() != first.ConnectionsList().Count()) {
        std::fprintf(stderr, "saved file differs\n");
        std::abort();
    }
    int i = 1;
    for (const tConnection& entry : first.ConnectionsList()) {
        const auto again = second.ConnectionsList().Item(i++);
        if (!again || again->name != entry.name || again->connString != entry.connString) {
            std::fprintf(stderr, "entry %d differs after saving\n", i - 1);
            std::abort();
        }
    }
    return 0;
}
