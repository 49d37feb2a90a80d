// Arbitrary bytes as an integration file. A file that loads must also save,
// and what was saved must load again with the same number of nodes, links
// and formulas: a document that cannot be read back is lost work.

#include "document/clsProcess.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

QTemporaryDir* Folder()
{
    static QTemporaryDir* dir = [] {
        auto* d = new QTemporaryDir();
        // Translations and settings come from here, not from the build folder.
        qputenv("MERIDOX_HOME", d->path().toUtf8());
        return d;
    }();
    return dir;
}

void Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(detail));
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString input = Folder()->filePath(QStringLiteral("input.xml"));
    const QString saved = Folder()->filePath(QStringLiteral("saved.xml"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    clsProcess first;
    if (!first.LoadIntegration(input).isEmpty())
        return 0;
    const QString saveError = first.SaveIntegration(saved);
    if (!saveError.isEmpty())
        return 0;   // refusing to write is allowed; writing something unreadable is not
    clsProcess second;
    const QString reload = second.LoadIntegration(saved);
    if (!reload.isEmpty())
        Fail("saved document does not load", reload);
    if (second.Shapes()->Count() != first.Shapes()->Count() || second.Lines()->Count() != first.Lines()->Count() ||
        second.Formulas()->Count() != first.Formulas()->Count())
        Fail("saved document differs", QString());
    return 0;
}
