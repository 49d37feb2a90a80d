#include "app/AppInfo.h"

#include <QCoreApplication>
#include <QDir>

namespace AppInfo {

QString VersionNumber(int Major, int Minor, int Revision)
{
    return QStringLiteral("%1.%2.%3").arg(Major).arg(Minor).arg(Revision, 4, 10, QLatin1Char('0'));
}

QString ProgramFolder()
{
    const QString dir = QCoreApplication::applicationDirPath();
    return dir.isEmpty() ? QDir::currentPath() : dir;
}

QString HelpFile(const QString& ProgramFolder, const QString& TranslatedPath)
{
    QString relative = TranslatedPath;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (relative.endsWith(QLatin1String(".chm"), Qt::CaseInsensitive))
        relative = relative.left(relative.size() - 4) + QStringLiteral(".html");
    QString folder = ProgramFolder;
    while (folder.endsWith(QLatin1Char('/')) && folder.size() > 1)
        folder.chop(1);
    if (!relative.startsWith(QLatin1Char('/')))
        relative.prepend(QLatin1Char('/'));
    return folder + relative;
}

}  // namespace AppInfo
