// Arbitrary text as a connection string. A string that parses must print
// back (toString) to text that parses to the same pairs.

#include "data/ConnectionString.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const auto first = ado::ConnectionString::parse(text, &error);
    if (!first)
        return 0;
    (void)first->providerKind();
    (void)first->toOdbcString({QStringLiteral("Provider")});
    const QString printed = first->toString();
    const auto second = ado::ConnectionString::parse(printed, &error);
    if (!second) {
        std::fprintf(stderr, "printed string does not parse: %s\n[%s]\n", qPrintable(error), qPrintable(printed));
        std::abort();
    }
    if (second->pairs() != first->pairs()) {
        std::fprintf(stderr, "printed string parses differently\n[%s]\n", qPrintable(printed));
        std::abort();
    }
    return 0;
}
