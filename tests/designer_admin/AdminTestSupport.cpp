#include "AdminTestSupport.h"

#include "DesignerTestSupport.h"
#include "admin/frmEditScheduled.h"
#include "data/Recordset.h"
#include "stores/basUtils.h"

namespace {

const void* const environment = RegisterDesignerEnvironment("test_designer_admin", false);

}  // namespace

AdminTest::~AdminTest()
{
    frmEditScheduled::SetModalHook({});
    frmEditScheduled::Unload();
    DeleteTopLevelWindows();
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
    ExecStatements(Conn(Name), Statements, true);
}

int AdminTest::Count(const QString& Name, const QString& Table)
{
    return CountRows(Conn(Name), Table);
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

    BuildCopyFlow(Process, Conn(QStringLiteral("source")), TargetConn, 255);
    ASSERT_EQ(Process.SaveIntegration(Dir.filePath(QStringLiteral("copy.xml"))), QString());
}
