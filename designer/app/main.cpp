// The Meridox designer: `Meridox`, or `Meridox --screenshots <folder>` to
// write pictures of its windows (rendered with any Qt platform, offscreen too).

#include <QApplication>
#include <QStringList>

#include "app/AppInfo.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "stores/basUtils.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppInfo::ProductName));
    QApplication::setOrganizationName(QString::fromLatin1(AppInfo::CompanyName));
    QApplication::setApplicationVersion(AppInfo::VersionNumber());
    // The main window ends the application itself, after its children agreed to close.
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList arguments = QApplication::arguments();
    const qsizetype shots = arguments.indexOf(QStringLiteral("--screenshots"));
    if (shots > 0) {
        SetTranslationFolder(AppInfo::ProgramFolder());
        const QString folder = shots + 1 < arguments.size() ? arguments.at(shots + 1) : QStringLiteral("screenshots");
        return WriteScreenshots(folder);
    }

    const auto window = Main();
    return QApplication::exec();
}
