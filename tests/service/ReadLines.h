#pragma once
// Reading the event log's file in the service tests.

#include <QFile>
#include <QString>
#include <QStringList>

// The lines of a text file, without the empty one after the last line break;
// none when the file cannot be read.
inline QStringList readLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}
