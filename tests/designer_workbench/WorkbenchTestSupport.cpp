#include "WorkbenchTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>

#include <gtest/gtest.h>

#include "stores/basUtils.h"

namespace {

QTemporaryDir& HomeDir() {
    static QTemporaryDir dir;
    return dir;
}

class cWorkbenchEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("MERIDOX_HOME", HomeDir().path().toLocal8Bit());
        qputenv("MERIDOX_CONFIG", (HomeDir().path() + QStringLiteral("/Meridox.conf")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (HomeDir().path() + QStringLiteral("/config")).toLocal8Bit());
        SetTranslationFolder(HomeDir().path());
        static int argc = 1;
        static char name[] = "test_designer_workbench";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new cWorkbenchEnvironment);

}  // namespace

QString TestHomeFolder() {
    return HomeDir().path();
}

QString WriteSampleIntegration(const QString& Folder) {
    QFile in(qEnvironmentVariable("MERIDOX_SOURCE_DIR", QStringLiteral(MERIDOX_TEST_SOURCE_DIR)) +
             QStringLiteral("/examples/sample/customers.xml.in"));
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(in.readAll());
    text.replace(QStringLiteral("@SOURCE_DB@"), Folder + QStringLiteral("/source.db"));
    text.replace(QStringLiteral("@TARGET_DB@"), Folder + QStringLiteral("/target.db"));
    const QString path = Folder + QStringLiteral("/customers.xml");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return QString();
    out.write(text.toUtf8());
    return path;
}

void FlushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void ClickNode(frmWorkBench& Window, int Index) {
    Window.shp_MouseDown(Index, 1, 0, 60.0F, 60.0F);
    Window.shp_MouseUp(Index, 1, 0, 60.0F, 60.0F);
    Window.shp_Click(Index);
}

cShapeRef NodeByCaption(frmWorkBench& Window, const QString& Caption) {
    for (const cShapeRef& node : Window.Process()->Shapes()->Collection())
        if (node->sCaption == Caption)
            return node;
    return nullptr;
}
