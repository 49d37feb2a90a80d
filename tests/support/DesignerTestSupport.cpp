#include "DesignerTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "data/Connection.h"
#include "data/Recordset.h"
#include "stores/basUtils.h"

namespace {

QTemporaryDir& HomeDir()
{
    static QTemporaryDir dir;
    return dir;
}

class cDesignerEnvironment : public ::testing::Environment {
public:
    cDesignerEnvironment(const char* Name, bool SharedHome, bool PrivateXdgConfig)
        : m_name(Name), m_sharedHome(SharedHome), m_privateXdgConfig(PrivateXdgConfig)
    {
    }

    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (m_sharedHome) {
            // Translations, settings and the connections file stay in a private folder.
            const QString home = HomeDir().path();
            qputenv("MERIDOX_HOME", home.toLocal8Bit());
            qputenv("MERIDOX_CONFIG", (home + QStringLiteral("/Meridox.conf")).toLocal8Bit());
            if (m_privateXdgConfig)
                qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/config")).toLocal8Bit());
            SetTranslationFolder(home);
        }
        // QApplication keeps argc and argv: both live as long as this environment.
        m_argv[0] = m_name.data();
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::string m_name;
    bool m_sharedHome;
    bool m_privateXdgConfig;
    int m_argc = 1;
    char* m_argv[2] = {nullptr, nullptr};
    std::unique_ptr<QApplication> m_app;
};

}  // namespace

const void* RegisterDesignerEnvironment(const char* Name, bool SharedHome, bool PrivateXdgConfig)
{
    return ::testing::AddGlobalTestEnvironment(new cDesignerEnvironment(Name, SharedHome, PrivateXdgConfig));
}

QString SharedHomeFolder()
{
    return HomeDir().path();
}

void DeleteTopLevelWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows << QPointer<QWidget>(w);
    for (const QPointer<QWidget>& w : windows)
        delete w.data();
}

void ExecStatements(const QString& ConnectionString, const QStringList& Statements, bool InTransaction)
{
    ado::Connection c;
    c.setCreateIfMissing(true);
    ASSERT_TRUE(c.Open(ConnectionString)) << c.lastError().Description.toStdString();
    if (InTransaction)
        ASSERT_GT(c.BeginTrans(), 0);
    for (const QString& sql : Statements) {
        long affected = 0;
        c.Execute(sql, &affected);
        ASSERT_EQ(c.Errors().Count(), 0) << sql.toStdString();
    }
    if (InTransaction)
        c.CommitTrans();
}

int CountRows(const QString& ConnectionString, const QString& Table)
{
    ado::Connection c;
    if (!c.Open(ConnectionString))
        return -1;
    ado::Recordset rs = c.Execute(QStringLiteral("SELECT COUNT(*) FROM ") + Table);
    return rs.hasCurrentRecord() ? rs.value(0).toInt() : -1;
}

cCopyFlow BuildCopyFlow(clsProcess& Process, const QString& SourceConn, const QString& TargetConn, int NameSize)
{
    cCopyFlow flow;
    cShapes* shapes = Process.Shapes();
    flow.Start = shapes->AddShape(aStart, 0, 0, QStringLiteral("START"));
    flow.Src = shapes->AddShape(aData, 0, 0, QStringLiteral("SRC"));
    tData data;
    data.connName = QStringLiteral("source");
    data.connString = SourceConn;
    data.sourcetype = QStringLiteral("table");
    data.Source = QStringLiteral("src");
    data.fields = std::make_shared<tFieldsList>();
    shapes->AddElementsToNode(flow.Src->Key, data);

    flow.Tgt = shapes->AddShape(aStorage, 0, 0, QStringLiteral("TGT"));
    tStorage storage;
    storage.connName = QStringLiteral("target");
    storage.connString = TargetConn;
    storage.targettype = QStringLiteral("table");
    storage.target = QStringLiteral("tgt");
    storage.shpOperation = QStringLiteral("Insert");
    storage.fields = std::make_shared<tFieldsList>();
    storage.fields->Add(tFields{QStringLiteral("id"), 3, 4, QStringLiteral("SRC(\"id\")"), QString()},
                        QStringLiteral("id"));
    storage.fields->Add(tFields{QStringLiteral("name"), 202, NameSize, QStringLiteral("SRC(\"name\")"), QString()},
                        QStringLiteral("name"));
    shapes->AddElementsToNode(flow.Tgt->Key, storage);

    flow.Stop = shapes->AddShape(aStop, 0, 0, QStringLiteral("END"));
    cLines* lines = Process.Lines();
    lines->addLine(QString::number(flow.Start->Index), QString::number(flow.Src->Index), QString());
    lines->addLine(QString::number(flow.Src->Index), QString::number(flow.Tgt->Index), QString());
    lines->addLine(QString::number(flow.Tgt->Index), QString::number(flow.Stop->Index), QString());
    return flow;
}
