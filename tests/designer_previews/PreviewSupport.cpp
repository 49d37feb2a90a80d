#include "PreviewSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>

#include "data/Connection.h"
#include "data/Recordset.h"
#include "stores/basUtils.h"

namespace {

class cPreviewEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_designer_previews";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new cPreviewEnvironment);

}  // namespace

PreviewTest::~PreviewTest()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Guarded: deleting a window deletes the windows it owns.
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows << QPointer<QWidget>(w);
    for (const QPointer<QWidget>& w : windows)
        delete w.data();
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
    ado::Connection c;
    c.setCreateIfMissing(true);
    ASSERT_TRUE(c.Open(conn(Db)));
    for (const QString& sql : Statements) {
        c.Execute(sql);
        ASSERT_EQ(c.Errors().Count(), 0) << sql.toStdString();
    }
}

int PreviewTest::count(const QString& Db, const QString& Table)
{
    ado::Connection c;
    EXPECT_TRUE(c.Open(conn(Db)));
    ado::Recordset rs = c.Execute("SELECT COUNT(*) FROM " + Table);
    return rs.hasCurrentRecord() ? rs.value(0).toInt() : -1;
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
    cShapes* shapes = Process.Shapes();
    const cShapeRef start = shapes->AddShape(aStart, 0, 0, "START");
    src = shapes->AddShape(aData, 0, 0, "SRC");
    tData d;
    d.connName = "source";
    d.connString = conn("source");
    d.sourcetype = "table";
    d.Source = "src";
    d.fields = std::make_shared<tFieldsList>();
    shapes->AddElementsToNode(src->Key, d);

    tgt = shapes->AddShape(aStorage, 0, 0, "TGT");
    tStorage s;
    s.connName = "target";
    s.connString = conn("target");
    s.targettype = "table";
    s.target = "tgt";
    s.shpOperation = "Insert";
    s.fields = std::make_shared<tFieldsList>();
    s.fields->Add(tFields{"id", 3, 4, "SRC(\"id\")", ""}, "id");
    s.fields->Add(tFields{"name", 202, 20, "SRC(\"name\")", ""}, "name");
    shapes->AddElementsToNode(tgt->Key, s);

    const cShapeRef stop = shapes->AddShape(aStop, 0, 0, "END");
    cLines* lines = Process.Lines();
    lines->addLine(QString::number(start->Index), QString::number(src->Index), QString());
    lines->addLine(QString::number(src->Index), QString::number(tgt->Index), QString());
    lines->addLine(QString::number(tgt->Index), QString::number(stop->Index), QString());
    shapes->CurrCtl = tgt->Key;
}
