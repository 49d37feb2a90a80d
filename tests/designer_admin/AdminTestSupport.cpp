#include "AdminTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <memory>

#include "admin/frmEditScheduled.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "stores/basUtils.h"

namespace {

class cAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_designer_admin";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new cAppEnvironment);

}  // namespace

namespace {

void UnloadAllWindows()
{
    frmEditScheduled::SetModalHook({});
    frmEditScheduled::Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Guarded: deleting a window deletes the windows it owns.
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows << QPointer<QWidget>(w);
    for (const QPointer<QWidget>& w : windows)
        delete w.data();
}

}  // namespace

AdminTest::~AdminTest()
{
    UnloadAllWindows();
}

void AdminTest::SetUp()
{
    frmEditScheduled::SetModalHook({});
    frmEditScheduled::Unload();
    ASSERT_TRUE(Dir.isValid());
    // Stores, translations and the connections file stay in the test's folder.
    qputenv("MERIDOX_HOME", Dir.path().toLocal8Bit());
    qputenv("MERIDOX_CONFIG", Dir.filePath(QStringLiteral("none.conf")).toLocal8Bit());
    SetTranslationFolder(Dir.path());
    auto service = std::make_unique<cFakeService>();
    Service = service.get();
    SetServiceControl(std::move(service));
}

void AdminTest::TearDown()
{
    SetServiceControl(nullptr);
    Service = nullptr;
    SetTranslationFolder(QString());
}

std::vector<cMeridoxData::Row> AdminTest::StoreRows(kindrecordset Kind) const
{
    std::vector<cMeridoxData::Row> out;
    ado::Recordset rs = cMeridoxData(Dir.path()).getRS(Kind);
    if (!rs.isOpen() || rs.RecordCount() <= 0)
        return out;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        cMeridoxData::Row row;
        for (int i = 0; i < rs.FieldCount(); ++i) {
            QVariant v = rs.value(i);
            if (v.typeId() == QMetaType::QString)
                v = v.toString().trimmed();
            row.insert(rs.Fields(i).Name().toUpper(), v);
        }
        out.push_back(row);
    }
    return out;
}

QString AdminTest::Conn(const QString& Name) const
{
    return QStringLiteral("Provider=SQLite;Data Source=") + Dir.filePath(Name + QStringLiteral(".db"));
}

void AdminTest::Exec(const QString& Name, const QStringList& Statements)
{
    ado::Connection c;
    c.setCreateIfMissing(true);
    ASSERT_TRUE(c.Open(Conn(Name))) << c.lastError().Description.toStdString();
    ASSERT_GT(c.BeginTrans(), 0);
    for (const QString& sql : Statements) {
        long affected = 0;
        c.Execute(sql, &affected);
        ASSERT_EQ(c.Errors().Count(), 0) << sql.toStdString();
    }
    c.CommitTrans();
}

int AdminTest::Count(const QString& Name, const QString& Table)
{
    ado::Connection c;
    if (!c.Open(Conn(Name)))
        return -1;
    ado::Recordset rs = c.Execute(QStringLiteral("SELECT COUNT(*) FROM ") + Table);
    return rs.isOpen() && !rs.IsEOF() ? rs.value(0).toInt() : -1;
}

void AdminTest::BuildCopyIntegration(clsProcess& Process, int Records, const QString& TargetConn,
                                     const QList<int>& Failing)
{
    QStringList sql{QStringLiteral("CREATE TABLE src (id INTEGER, name TEXT)")};
    for (int i = 1; i <= Records; ++i)
        sql << QStringLiteral("INSERT INTO src VALUES (%1, %2)")
                   .arg(i)
                   .arg(Failing.contains(i) ? QStringLiteral("NULL") : QStringLiteral("'n%1'").arg(i));
    Exec(QStringLiteral("source"), sql);
    if (TargetConn == Conn(QStringLiteral("target")))
        Exec(QStringLiteral("target"), {QStringLiteral("CREATE TABLE tgt (id INTEGER PRIMARY KEY, name TEXT NOT NULL)")});

    cShapes* shapes = Process.Shapes();
    const cShapeRef start = shapes->AddShape(aStart, 0, 0, QStringLiteral("START"));
    const cShapeRef src = shapes->AddShape(aData, 0, 0, QStringLiteral("SRC"));
    tData data;
    data.connName = QStringLiteral("source");
    data.connString = Conn(QStringLiteral("source"));
    data.sourcetype = QStringLiteral("table");
    data.Source = QStringLiteral("src");
    data.fields = std::make_shared<tFieldsList>();
    shapes->AddElementsToNode(src->Key, data);
    const cShapeRef tgt = shapes->AddShape(aStorage, 0, 0, QStringLiteral("TGT"));
    tStorage storage;
    storage.connName = QStringLiteral("target");
    storage.connString = TargetConn;
    storage.targettype = QStringLiteral("table");
    storage.target = QStringLiteral("tgt");
    storage.shpOperation = QStringLiteral("Insert");
    storage.fields = std::make_shared<tFieldsList>();
    storage.fields->Add(tFields{QStringLiteral("id"), 3, 4, QStringLiteral("SRC(\"id\")"), QString()},
                        QStringLiteral("id"));
    storage.fields->Add(tFields{QStringLiteral("name"), 202, 255, QStringLiteral("SRC(\"name\")"), QString()},
                        QStringLiteral("name"));
    shapes->AddElementsToNode(tgt->Key, storage);
    const cShapeRef stop = shapes->AddShape(aStop, 0, 0, QStringLiteral("END"));
    Process.Lines()->addLine(QString::number(start->Index), QString::number(src->Index), QString());
    Process.Lines()->addLine(QString::number(src->Index), QString::number(tgt->Index), QString());
    Process.Lines()->addLine(QString::number(tgt->Index), QString::number(stop->Index), QString());
    ASSERT_EQ(Process.SaveIntegration(Dir.filePath(QStringLiteral("copy.xml"))), QString());
}
