#include "DialogTestSupport.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "DesignerTestSupport.h"
#include "app/basMain.h"
#include "document/clsProcess.h"
#include "workbench/frmWorkBench.h"

namespace {

const void* const environment = RegisterDesignerEnvironment("test_designer_dialogs", true, false);

}  // namespace

std::optional<QString> cTestPrompts::PromptNew()
{
    if (NewStrings.empty())
        return std::nullopt;
    auto answer = NewStrings.front();
    NewStrings.pop_front();
    return answer;
}

bool cTestPrompts::PromptEdit(QString&)
{
    return false;
}

std::optional<QString> cTestPrompts::InputBox(const QString&, const QString&, const QString&)
{
    if (Names.empty())
        return std::nullopt;
    auto answer = Names.front();
    Names.pop_front();
    return answer;
}

int cTestPrompts::MsgBox(const QString& Prompt, int, const QString&)
{
    Messages.push_back(Prompt);
    return MsgBoxResult::vbOK;
}

void DialogTest::RunSql(const QString& Path, const QStringList& Statements)
{
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(Path);
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        QSqlQuery q(db);
        for (const QString& sql : Statements)
            ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(name);
}

void DialogTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    m_salesDb = m_dir.filePath(QStringLiteral("sales.db"));
    RunSql(m_salesDb, {
        QStringLiteral("CREATE TABLE Orders (Id INTEGER PRIMARY KEY AUTOINCREMENT, Amount DOUBLE, "
                       "Customer VARCHAR(40), Created DATETIME)"),
        QStringLiteral("CREATE TABLE Customers (Code CHAR(8) PRIMARY KEY, Name VARCHAR(60), Notes TEXT)"),
        QStringLiteral("CREATE VIEW BigOrders AS SELECT Id, Amount FROM Orders WHERE Amount > 100"),
        QStringLiteral("INSERT INTO Orders (Amount, Customer) VALUES (50, 'ann'), (150, 'bob'), (250, 'cid')"),
    });

    m_prompts = std::make_unique<cTestPrompts>();
    gConnections = std::make_unique<cConnections>();
    gConnections->SetPrompts(m_prompts.get());
    AddConnection(QStringLiteral("Sales"), QStringLiteral("Provider=SQLite;Data Source=") + m_salesDb);

    m_boxes = std::make_unique<cScriptedDialogsGuard>();
    m_wb = new frmWorkBench();
    m_wb->OpenFlowChart(QString());
}

void DialogTest::TearDown()
{
    delete m_wb;
    m_wb = nullptr;
    m_boxes.reset();
    gConnections.reset();
    m_prompts.reset();
}

void DialogTest::AddConnection(const QString& Name, const QString& ConnectionString)
{
    m_prompts->NewStrings.push_back(ConnectionString);
    m_prompts->Names.push_back(Name);
    ASSERT_TRUE(gConnections->CreateConnection());
}

cShapeRef DialogTest::SelectNode(const QString& Caption)
{
    cShapes* shapes = m_wb->Process()->Shapes();
    for (const cShapeRef& node : shapes->Collection())
        if (node->sCaption == Caption) {
            shapes->CurrCtl = node->Key;
            return node;
        }
    ADD_FAILURE() << "no node " << Caption.toStdString();
    return nullptr;
}

cShapeRef DialogTest::AddNode(int Kind, const QString& Caption)
{
    cShapes* shapes = m_wb->Process()->Shapes();
    cShapeRef node = shapes->AddShape(static_cast<std::int16_t>(Kind), 600.0F, 2000.0F, Caption);
    EXPECT_TRUE(node);
    if (node)
        shapes->CurrCtl = node->Key;
    return node;
}

QStringList FieldNames(const tFieldsRef& Fields)
{
    QStringList names;
    if (Fields)
        for (const tFields& field : *Fields)
            names << field.f_name;
    return names;
}
