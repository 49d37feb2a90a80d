#include "AppTestSupport.h"

#include <QApplication>
#include <QCloseEvent>

#include <gtest/gtest.h>

#include "stores/basUtils.h"

namespace {

QTemporaryDir& HomeDir()
{
    static QTemporaryDir dir;
    return dir;
}

class cAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Translations, settings and the connections file stay in a private folder.
        qputenv("MERIDOX_HOME", HomeDir().path().toLocal8Bit());
        qputenv("MERIDOX_CONFIG", (HomeDir().path() + QStringLiteral("/Meridox.conf")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (HomeDir().path() + QStringLiteral("/config")).toLocal8Bit());
        SetTranslationFolder(HomeDir().path());
        static int argc = 1;
        static char name[] = "test_designer_app";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

// Registered at load time; the set-up itself runs only when tests run, not
// when they are listed.
const auto* const environment = ::testing::AddGlobalTestEnvironment(new cAppEnvironment);

}  // namespace

QString TestHomeFolder()
{
    return HomeDir().path();
}

void cRecordingChild::closeEvent(QCloseEvent* Event)
{
    Calls << QStringLiteral("closeEvent");
    if (RefuseClose)
        Event->ignore();
    else
        Event->accept();
}
