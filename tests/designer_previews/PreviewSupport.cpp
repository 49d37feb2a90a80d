#include "PreviewSupport.h"

#include <QApplication>
#include <QCoreApplication>

#include "DesignerTestSupport.h"
#include "stores/basUtils.h"

namespace {

const void* const environment = RegisterDesignerEnvironment("test_designer_previews", false);

}  // namespace

PreviewTest::~PreviewTest()
{
    DeleteTopLevelWindows();
}

void PreviewTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    qputenv("MERIDOX_HOME", dir.path().toUtf8());
    qputenv("MERIDOX_CONFIG", dir.filePath("none.conf").toUtf8());
    SetTranslationFolder(dir.path());
}

void PreviewTest::TearDown()
{
    // Windows left open by a test must not outlive its databases.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->testAttribute(Qt::WA_DeleteOnClose) && w->isVisible())
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QString PreviewTest::conn(const QString& Db) const
{
    return "Provider=SQLite;Data Source=" + dir.filePath(Db + ".db");
}

void PreviewTest::exec(const QString& Db, const QStringList& Statements)
{
    ExecStatements(conn(Db), Statements, false);
}

int PreviewTest::count(const QString& Db, const QString& Table)
{
    return CountRows(conn(Db), Table);
}

void PreviewTest::makeSource(int Rows)
{
    QStringList sql{"CREATE TABLE src (id INTEGER PRIMARY KEY, name VARCHAR(20), amount INTEGER)",
                    "BEGIN"};
    for (int i = 1; i <= Rows; ++i)
        sql << QStringLiteral("INSERT INTO src VALUES (%1, %2, %3)")
                   .arg(i)
                   .arg(i == 2 ? QStringLiteral("NULL") : QStringLiteral("'n%1'").arg(i))
                   .arg(i * 10);
    sql << "COMMIT";
    exec("source", sql);
}

void PreviewTest::makeTarget()
{
    exec("target", {"CREATE TABLE tgt (id INTEGER, name VARCHAR(20))"});
}

void PreviewTest::buildFlow(clsProcess& Process)
{
    const cCopyFlow flow = BuildCopyFlow(Process, conn("source"), conn("target"), 20);
    src = flow.Src;
    tgt = flow.Tgt;
    Process.Shapes()->CurrCtl = tgt->Key;
}
