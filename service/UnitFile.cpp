#include "UnitFile.h"

#include "UnitTemplate.h"

QString quoteUnitExecPath(const QString& execPath)
{
    QString quoted;
    quoted.reserve(execPath.size() + 2);
    quoted += u'"';
    for (const QChar c : execPath) {
        switch (c.unicode()) {
        case '\\': quoted += QStringLiteral("\\\\"); break;
        case '"': quoted += QStringLiteral("\\\""); break;
        case '%': quoted += QStringLiteral("%%"); break;
        case '$': quoted += QStringLiteral("$$"); break;
        default: quoted += c; break;
        }
    }
    quoted += u'"';
    return quoted;
}

QString serviceUnitText(const QString& execPath)
{
    QString text = QString::fromUtf8(kServiceUnitTemplate);
    text.replace(QStringLiteral("@MERIDOX_EXEC_START@"), quoteUnitExecPath(execPath));
    return text;
}
