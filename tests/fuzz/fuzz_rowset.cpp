// Arbitrary bytes as a persisted recordset. What reads must write, and the
// written text must read back with the same fields and rows.

#include "data/RowsetXml.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray xml(reinterpret_cast<const char*>(data), qsizetype(size));
    ado::RowsetData first;
    QString error;
    if (!ado::readRowsetXml(xml, first, &error))
        return 0;
    const QByteArray written = ado::writeRowsetXml(first);
    ado::RowsetData second;
    if (!ado::readRowsetXml(written, second, &error)) {
        std::fprintf(stderr, "written rowset does not read: %s\n%s\n", qPrintable(error), written.constData());
        std::abort();
    }
    if (second.fields.size() != first.fields.size() || second.rows.size() != first.rows.size()) {
        std::fprintf(stderr, "written rowset differs\n%s\n", written.constData());
        std::abort();
    }
    for (size_t i = 0; i < first.fields.size(); ++i) {
        if (first.fields[i].name != second.fields[i].name || first.fields[i].type != second.fields[i].type) {
            std::fprintf(stderr, "field %zu differs after writing\n%s\n", i, written.constData());
            std::abort();
        }
    }
    return 0;
}
