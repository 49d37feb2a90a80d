#include "app/basMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QPixmap>
#include <QPointer>
#include <QTextStream>
#include <QTimer>

#include "app/AppInfo.h"
#include "app/DesignerPrompts.h"
#include "app/ScreenRegistry.h"
#include "app/frmAbout.h"
#include "app/frmSplash.h"
#include "app/mdiMain.h"
#include "connections/cConnections.h"
#include "stores/basUtils.h"

std::unique_ptr<cConnections> gConnections;
bool gConnectionsLoadFailed = false;
bool SplashDone = false;

namespace {

QString& HelpFilePath()
{
    static QString path;
    return path;
}

QPointer<mdiMain>& MainWindow()
{
    static QPointer<mdiMain> window;
    return window;
}

std::unique_ptr<cDesignerPrompts>& Prompts()
{
    static std::unique_ptr<cDesignerPrompts> prompts;
    return prompts;
}

}  // namespace

QString HelpFile()
{
    return HelpFilePath();
}

void SetHelpFile(const QString& Path)
{
    HelpFilePath() = Path;
}

mdiMain* MainForm()
{
    if (!MainWindow()) {
        // A window built outside Main() (tests, screenshots) counts as well.
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* main = qobject_cast<mdiMain*>(widget)) {
                MainWindow() = main;
                break;
            }
    }
    return MainWindow().data();
}

void LoadConnectionRegistry()
{
    if (!Prompts())
        Prompts() = std::make_unique<cDesignerPrompts>();
    gConnections = std::make_unique<cConnections>();
    gConnections->SetPrompts(Prompts()->Prompts());
    // A missing file is a first start: an empty registry, said to nobody;
    // the end writes a new file. A file that is there but unreadable is
    // reported and must survive the session untouched.
    gConnectionsLoadFailed = false;
    if (!QFile::exists(cConnections::FilePath()))
        return;
    const QString failure = gConnections->LoadConnections();
    gConnectionsLoadFailed = !failure.isEmpty() && gConnections->ConnectionsList().Count() == 0;
}

std::unique_ptr<mdiMain> Main()
{
    SetTranslationFolder(AppInfo::ProgramFolder());
    auto splash = std::make_unique<frmSplash>();
    splash->show();
    while (!SplashDone)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    SetHelpFile(AppInfo::HelpFile(AppInfo::ProgramFolder(), Translate(QStringLiteral("\\help\\meridox.chm"),
                                                                       QStringLiteral("basMain"))));
    LoadConnectionRegistry();

    auto main = std::make_unique<mdiMain>();
    MainWindow() = main.get();
    if (Prompts())
        Prompts()->SetParent(main.get());
    main->show();
    splash.reset();
    return main;
}

void EndApplication()
{
    if (gConnections) {
        if (!gConnectionsLoadFailed)
            gConnections->SaveConnections();
        gConnections.reset();
    }
    if (QCoreApplication::instance())
        QCoreApplication::quit();
}

int WriteScreenshots(const QString& Folder)
{
    if (!QDir().mkpath(Folder)) {
        QTextStream(stderr) << "Cannot create the folder " << Folder << "\n";
        return 1;
    }
    const auto save = [&](QWidget& Window, const QString& Name) {
        QCoreApplication::processEvents();
        const QString path = QDir(Folder).filePath(Name);
        if (!Window.grab().save(path)) {
            QTextStream(stderr) << "Cannot write " << path << "\n";
            return false;
        }
        QTextStream(stdout) << path << "\n";
        return true;
    };
    bool ok = true;
    {
        frmSplash splash;
        splash.show();
        ok = save(splash, QStringLiteral("splash.png")) && ok;
    }
    mdiMain main;
    main.resize(1100, 720);
    main.show();
    // With the workbench in the program, show one new integration as a tab.
    ScreenRegistry::Call(QStringLiteral("frmWorkBench"), QStringLiteral("ActionAdd"));
    ok = save(main, QStringLiteral("main-window.png")) && ok;
    {
        frmAbout about(&main);
        about.setAttribute(Qt::WA_DeleteOnClose, false);
        about.show();
        ok = save(about, QStringLiteral("about.png")) && ok;
    }
    return ok ? 0 : 1;
}
