#include "WorkbenchTestSupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>

#include "DesignerTestSupport.h"

namespace {

const void* const environment = RegisterDesignerEnvironment("test_designer_workbench", true);

}  // namespace

QString TestHomeFolder() {
    return SharedHomeFolder();
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
