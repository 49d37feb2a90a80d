// A whole session as a user has it, through the main window's commands and
// the mouse on the canvas: a new integration gets a data step and a storage
// step over real SQLite files, its fields are mapped automatically, it is
// saved, opened again and run in the run-progress window.
//
// With MERIDOX_SCREENSHOT_DIR set, pictures of the workbench, the dialogs,
// the formula editor and the run window are written there.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QSqlRecord>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUuid>

#include <gtest/gtest.h>

#include "WorkbenchTestSupport.h"
#include "admin/frmStatistics.h"
#include "app/NTServiceControl.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "connections/cConnections.h"
#include "workbench/FlowCanvas.h"
#include "workbench/ModalDialogs.h"
#include "workbench/StepComboBox.h"
#include "workbench/frmAddFormula.h"
#include "workbench/frmAddSource.h"
#include "workbench/frmAddTarget.h"

namespace {

using G = frmWorkBench;

class cQuietService : public NTServiceControl {
public:
    int CheckServiceInstalled() override { return 1060; }
    int GetServiceState() override { return 0; }
    int InstallService() override { return 0; }
    int UninstallService() override { return 0; }
    int RunService() override { return 0; }
    int StopService() override { return 0; }
    bool RestartService() override { return false; }
};

// Registry prompts: the connection string, then the name.
class cPrompts : public IConnectionPrompts {
public:
    QString Next;
    QString Name;
    std::optional<QString> PromptNew() override { return Next; }
    bool PromptEdit(QString&) override { return false; }
    std::optional<QString> InputBox(const QString&, const QString&, const QString&) override { return Name; }
    int MsgBox(const QString&, int, const QString&) override { return MsgBoxResult::vbOK; }
};

void RunSql(const QString& Path, const QStringList& Statements) {
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(Path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const QString& sql : Statements)
            ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(name);
}

QStringList Rows(const QString& Path, const QString& Sql) {
    const QString name = QUuid::createUuid().toString();
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(Path);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(Sql);
            while (q.next()) {
                QStringList values;
                for (int c = 0; c < q.record().count(); ++c)
                    values << q.value(c).toString();
                rows << values.join(QLatin1Char('|'));
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

void Shot(QWidget& Widget, const QString& Name) {
    const QString folder = qEnvironmentVariable("MERIDOX_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    QApplication::processEvents();
    Widget.grab().save(QDir(folder).filePath(Name + QStringLiteral(".png")));
}

// A mouse press and release on the canvas at a point given in twips.
void ClickCanvas(FlowCanvas& Canvas, QPointF Twips, Qt::MouseButton Button = Qt::LeftButton) {
    const QPoint at = Canvas.mapFromScene(FlowCanvas::ToPixels(Twips));
    QWidget* port = Canvas.viewport();
    QMouseEvent press(QEvent::MouseButtonPress, at, port->mapToGlobal(at), Button, Button, Qt::NoModifier);
    QApplication::sendEvent(port, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, port->mapToGlobal(at), Button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(port, &release);
}

void ClickNodeWithMouse(frmWorkBench& W, int Index) {
    ClickCanvas(*W.picFlow, W.picFlow->NodeRect(Index).center());
}

cShapeRef NodeOfKind(frmWorkBench& W, int Kind) {
    for (const cShapeRef& node : W.Process()->Shapes()->Collection())
        if (node->objType == Kind)
            return node;
    return nullptr;
}

void Pick(cStepComboBox* Box, const QString& Text) {
    const int at = Box->findText(Text);
    ASSERT_GE(at, 0) << Text.toStdString();
    Box->setCurrentIndex(at);
    emit Box->textActivated(Text);
}

struct EndToEnd : ::testing::Test {
    QTemporaryDir dir;
    cPrompts prompts;
    std::unique_ptr<mdiMain> main;
    std::unique_ptr<cScriptedDialogsGuard> boxes;
    QString sourceDb, targetDb;

    void SetUp() override {
        sourceDb = dir.filePath(QStringLiteral("source.db"));
        targetDb = dir.filePath(QStringLiteral("target.db"));
        RunSql(sourceDb, {QStringLiteral("CREATE TABLE people (id INTEGER PRIMARY KEY, name VARCHAR(40), "
                                         "balance DOUBLE, secret VARCHAR(10))"),
                          QStringLiteral("INSERT INTO people VALUES (1, 'Ann', 10.5, 'x'), (2, 'Bob', 20, 'y'), "
                                         "(3, 'Cid', 0, 'z')")});
        RunSql(targetDb, {QStringLiteral("CREATE TABLE clients (id INTEGER PRIMARY KEY, name VARCHAR(40), "
                                         "balance DOUBLE, note VARCHAR(20))")});
        SetServiceControl(std::make_unique<cQuietService>());
        gConnections = std::make_unique<cConnections>();
        gConnections->SetPrompts(&prompts);
        for (const auto& [name, db] : {std::pair{QStringLiteral("People"), sourceDb},
                                       std::pair{QStringLiteral("Clients"), targetDb}}) {
            prompts.Next = QStringLiteral("Provider=SQLite;Data Source=") + db;
            prompts.Name = name;
            ASSERT_TRUE(gConnections->CreateConnection());
        }
        boxes = std::make_unique<cScriptedDialogsGuard>();
        main = std::make_unique<mdiMain>();
        main->resize(1100, 760);
        main->show();
    }
    void TearDown() override {
        // Unsaved windows go without their question.
        for (QMdiSubWindow* sub : main->MdiArea()->subWindowList())
            if (auto* w = qobject_cast<frmWorkBench*>(sub->widget()))
                w->SetModifiedFlag(false);
        main->CloseChildren();
        main.reset();
        FlushDeletes();
        boxes.reset();
        gConnections.reset();
        SetServiceControl(nullptr);
    }
    frmWorkBench* Active() { return qobject_cast<frmWorkBench*>(main->ActiveChild()); }
};

TEST_F(EndToEnd, BuildMapSaveReopenAndRun) {
    // The dialogs the session opens, filled as the user would.
    int sourceDialogs = 0, targetDialogs = 0;
    cModalRunnerGuard runner([&](QDialog& dialog) {
        dialog.show();
        if (auto* source = qobject_cast<frmAddSource*>(&dialog)) {
            ++sourceDialogs;
            source->txtName()->setText(QStringLiteral("People"));
            source->cmbConnection_DropDown();
            Pick(source->cmbConnection(), QStringLiteral("People"));
            Pick(source->cmbTable(), QStringLiteral("people"));
            EXPECT_TRUE(source->btnOK()->isEnabled());
            Shot(dialog, QStringLiteral("source-dialog"));
            source->btnOK()->click();
        } else if (auto* target = qobject_cast<frmAddTarget*>(&dialog)) {
            ++targetDialogs;
            target->txtName()->setText(QStringLiteral("Clients"));
            target->cmbConnection_DropDown();
            Pick(target->cmbConnection(), QStringLiteral("Clients"));
            Pick(target->cmbTable(), QStringLiteral("clients"));
            Shot(dialog, QStringLiteral("target-dialog"));
            target->btnOK()->click();
        } else if (auto* formula = qobject_cast<frmAddFormula*>(&dialog)) {
            formula->txtName()->setText(QStringLiteral("Note"));
            formula->setFormulaBoxText(QStringLiteral("Function Main()\r\n Main = \"from \" & People(\"name\")\r\n"
                                                      "End Function"));
            formula->trvObjects()->expandAll();
            Shot(dialog, QStringLiteral("formula-editor"));
            formula->btnOK()->click();
        }
        EXPECT_FALSE(dialog.isVisible()) << "the dialog did not close";
    });

    main->RouteCommandKey(QStringLiteral("NEW"));
    frmWorkBench* w = Active();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("NewIntegration.xml"));
    QApplication::processEvents();

    // The template's data and storage steps go; new ones are placed.
    for (int kind : {int(aData), int(aStorage)}) {
        const cShapeRef node = NodeOfKind(*w, kind);
        ASSERT_TRUE(node);
        ClickNodeWithMouse(*w, node->Index);
        main->RouteCommandKey(QStringLiteral("DEL"));
    }
    ASSERT_EQ(w->Process()->Shapes()->Count(), 2);
    EXPECT_EQ(w->Process()->Lines()->Count(), 0);

    main->RouteCommandKey(QStringLiteral("DATANODE"));
    ClickCanvas(*w->picFlow, {2400, 1500});
    main->RouteCommandKey(QStringLiteral("STORAGENODE"));
    ClickCanvas(*w->picFlow, {4400, 1500});
    EXPECT_EQ(sourceDialogs, 1);
    EXPECT_EQ(targetDialogs, 1);
    const cShapeRef start = NodeOfKind(*w, aStart);
    const cShapeRef data = NodeOfKind(*w, aData);
    const cShapeRef storage = NodeOfKind(*w, aStorage);
    const cShapeRef stop = NodeOfKind(*w, aStop);
    ASSERT_TRUE(data && storage);
    EXPECT_EQ(data->sCaption, QStringLiteral("People"));
    EXPECT_EQ(w->picFlow->NodeCaption(data->Index), QStringLiteral("People"));
    ASSERT_TRUE(storage->storageRecord() && storage->storageRecord()->fields);
    EXPECT_EQ(storage->storageRecord()->fields->Count(), 4);

    // Start -> data -> storage -> end, each link made by two clicks.
    const std::pair<cShapeRef, cShapeRef> links[] = {{start, data}, {data, storage}, {storage, stop}};
    for (const auto& [from, to] : links) {
        ClickNodeWithMouse(*w, from->Index);
        ClickNodeWithMouse(*w, to->Index);
        main->RouteCommandKey(QStringLiteral("LINKNODES"));
    }
    EXPECT_EQ(w->Process()->Lines()->Count(), 3);

    // The grid shows the storage step; matching names are linked.
    ClickNodeWithMouse(*w, storage->Index);
    ASSERT_EQ(w->GridRows(), 4);
    (*boxes)->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    main->RouteCommandKey(QStringLiteral("LNKAUTO"));
    const tFieldsRef fields = storage->storageRecord()->fields;
    EXPECT_EQ(fields->item(QStringLiteral("name"))->f_value, QStringLiteral("People(\"name\")"));
    EXPECT_EQ(fields->item(QStringLiteral("id"))->f_value, QStringLiteral("People(\"id\")"));
    EXPECT_TRUE(fields->item(QStringLiteral("note"))->f_value.isEmpty());

    // The unmatched field gets a new formula; id is the lookup key.
    for (int r = 1; r <= w->GridRows(); ++r)
        if (w->GridText(r, G::colField) == QStringLiteral("note"))
            w->SelectGridRow(r);
    main->RouteCommandKey(QStringLiteral("LNKFORMULA"));
    EXPECT_EQ(fields->item(QStringLiteral("note"))->f_value, QStringLiteral("FORMULA!Note"));
    for (int r = 1; r <= w->GridRows(); ++r)
        if (w->GridText(r, G::colField) == QStringLiteral("id"))
            w->SelectGridRow(r);
    w->SelectTreeNode(QString());
    for (QTreeWidgetItemIterator it(w->treeSource); *it; ++it)
        if (G::TreeFullPath(*it) == QStringLiteral("People!id"))
            w->treeSource->setCurrentItem(*it);
    main->RouteCommandKey(QStringLiteral("LNKLOOKUP"));
    EXPECT_EQ(fields->item(QStringLiteral("id"))->f_lookup, QStringLiteral("People(\"id\")"));
    w->treeSource->expandAll();
    Shot(*main, QStringLiteral("workbench"));
    EXPECT_TRUE(w->windowTitle().endsWith(QLatin1Char('*')));

    // Save asks for the file the first time.
    const QString file = dir.filePath(QStringLiteral("people.xml"));
    (*boxes)->FileAnswers.push_back(file);
    main->RouteCommandKey(QStringLiteral("SAVE"));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("[people.xml]"));
    EXPECT_FALSE(w->IsModified());
    main->RouteCommandKey(QStringLiteral("CLOSE"));
    FlushDeletes();
    EXPECT_EQ(Active(), nullptr);

    (*boxes)->FileAnswers.push_back(file);
    main->RouteCommandKey(QStringLiteral("OPEN"));
    w = Active();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("people.xml"));
    EXPECT_EQ(w->Process()->Shapes()->Count(), 4);
    EXPECT_EQ(w->Process()->Lines()->Count(), 3);
    const cShapeRef reopened = NodeOfKind(*w, aStorage);
    ASSERT_TRUE(reopened);
    ClickNodeWithMouse(*w, reopened->Index);
    EXPECT_EQ(w->GridRows(), 4);
    EXPECT_NE(w->TreeNode(QStringLiteral("FKNote")), nullptr);

    // The data step opens again as it was saved; a query is tried and dropped.
    {
        cModalRunnerGuard again([&](QDialog& dialog) {
            auto* source = qobject_cast<frmAddSource*>(&dialog);
            ASSERT_NE(source, nullptr);
            dialog.show();
            EXPECT_EQ(source->txtName()->text(), QStringLiteral("People"));
            EXPECT_EQ(source->cmbConnection()->currentText(), QStringLiteral("People"));
            EXPECT_EQ(source->cmbTable()->currentText(), QStringLiteral("people"));
            EXPECT_TRUE(source->optTable()->isChecked());
            source->optSql()->click();
            source->txtSql()->setPlainText(QStringLiteral("SELECT id, name FROM people WHERE balance > 5"));
            EXPECT_FALSE(source->btnOK()->isEnabled());
            source->btnTest()->click();
            EXPECT_EQ(source->lblRecords()->text(), QStringLiteral("[2 records affected]"));
            EXPECT_TRUE(source->btnOK()->isEnabled());
            Shot(dialog, QStringLiteral("source-dialog-query"));
            source->btnCancel()->click();
        });
        ClickNodeWithMouse(*w, NodeOfKind(*w, aData)->Index);
        main->RouteCommandKey(QStringLiteral("PROPERTIES"));
        EXPECT_FALSE(w->IsModified());
        EXPECT_EQ(NodeOfKind(*w, aData)->dataRecord()->sourcetype, QStringLiteral("table"));
    }

    const size_t messagesBefore = (*boxes)->Messages.size();
    main->RouteCommandKey(QStringLiteral("RUN"));
    auto* progress = qobject_cast<frmStatistics*>(main->ActiveChild());
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->Finished());
    Shot(*main, QStringLiteral("run-progress"));
    // The run's only message is its end.
    ASSERT_EQ((*boxes)->Messages.size(), messagesBefore + 1);
    EXPECT_EQ((*boxes)->Messages.back().Prompt, QStringLiteral("Process Finished"));
    EXPECT_EQ(Rows(targetDb, QStringLiteral("SELECT id, name, balance, note FROM clients ORDER BY id")),
              (QStringList{"1|Ann|10.5|from Ann", "2|Bob|20|from Bob", "3|Cid|0|from Cid"}));

    // Closing the document's window while its run goes on (the run lets
    // events through between records) leaves the window, and the process
    // the run is inside, in place until the run has returned.
    RunSql(sourceDb, {QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 4 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                                     "INSERT INTO people SELECT i, 'p' || i, i, '' FROM n")});
    QPointer<frmWorkBench> running(w);
    int closes = 0;
    w->Process()->setYieldCallback([&] {
        if (running && closes++ == 0) {
            running->ActionClose();
            FlushDeletes();
        }
    });
    w->Process()->Run();
    ASSERT_FALSE(running.isNull());
    EXPECT_GT(closes, 0);
    w->Process()->setYieldCallback({});
    w->ActionClose();
    FlushDeletes();
    EXPECT_TRUE(running.isNull());
}

}  // namespace
