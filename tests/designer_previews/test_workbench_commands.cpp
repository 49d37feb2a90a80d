// The workbench's step, run, test and print commands, each reaching the
// window it hands the work to.

#include "PreviewSupport.h"

#include <QDialog>
#include <QDir>
#include <QTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QTextBrowser>
#include <QTreeWidget>

#include "admin/frmStatistics.h"
#include "app/UserDialogs.h"
#include "workbench/ModalDialogs.h"
#include "workbench/frmAddFormula.h"
#include "workbench/frmData.h"
#include "workbench/frmPrintPreview.h"
#include "workbench/frmTestPreview.h"
#include "workbench/frmWorkBench.h"

namespace {

QByteArray readFile(const QString& Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Commands : public PreviewTest {
protected:
    void SetUp() override
    {
        PreviewTest::SetUp();
        makeSource(3);
        makeTarget();
        clsProcess process;
        buildFlow(process);
        src->dataRecord()->fields->Add(tFields{"id", 3, 4, "", ""});
        file = dir.filePath("Orders.xml");
        ASSERT_EQ(process.SaveIntegration(file), "");
        dialogs->FileAnswers.push_back(file);
        wb = new frmWorkBench;
        wb->ActionOpen();
        dialogs->Messages.clear();
    }
    void TearDown() override
    {
        frmPrintPreview::setPrintPrompt({});
        if (wb) {
            wb->SetModifiedFlag(false);
            wb->close();
        }
        PreviewTest::TearDown();
    }
    cShapeRef node(const QString& Caption)
    {
        for (const cShapeRef& n : wb->Process()->Shapes()->Collection())
            if (n->sCaption == Caption)
                return n;
        return nullptr;
    }
    void select(const QString& Caption) { wb->Process()->Shapes()->CurrCtl = node(Caption)->Key; }
    // Messages that refused a change of the document in use.
    int refusals() const
    {
        int n = 0;
        for (const auto& m : dialogs->Messages)
            n += m.Prompt.startsWith("The integration cannot be changed") ? 1 : 0;
        return n;
    }

    cScriptedDialogsGuard dialogs;
    QString file;
    QPointer<frmWorkBench> wb;
};

TEST_F(Commands, RunHandsTheProcessToTheRunWindowSavingOnlyWhenAsked)
{
    // An unsaved change: only the records with id < 3.
    tData changed = *node("SRC")->dataRecord();
    changed.sourcetype = "sql";
    changed.Source = "SELECT * FROM src WHERE id < 3";
    wb->Process()->Shapes()->AddElementsToNode(node("SRC")->Key, changed);
    wb->Modified();

    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    wb->ActionRun();
    ASSERT_FALSE(dialogs->Messages.empty());
    EXPECT_EQ(dialogs->Messages.front().Prompt, "Save changes to Orders.xml?");
    EXPECT_EQ(dialogs->Messages.front().Style, 67);
    const auto windows = windowsOf<frmStatistics>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows.front()->Process(), wb->Process());
    // The run used the change; the file and the dirty state did not move.
    EXPECT_EQ(count("target", "tgt"), 2);
    EXPECT_FALSE(readFile(file).contains("WHERE id"));
    EXPECT_TRUE(wb->IsModified());

    // Yes saves first; the finished run window serves again.
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    wb->ActionRun();
    EXPECT_TRUE(readFile(file).contains("WHERE id"));
    EXPECT_FALSE(wb->IsModified());
    EXPECT_EQ(windowsOf<frmStatistics>().size(), 1);
    EXPECT_EQ(count("target", "tgt"), 4);
}

TEST_F(Commands, RunPromptCancelRunsNothingAndYesRunsOnlyWhatWasSaved)
{
    wb->Modified();
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbCancel);
    wb->ActionRun();
    EXPECT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_TRUE(windowsOf<frmStatistics>().isEmpty());
    EXPECT_EQ(count("target", "tgt"), 0);
    EXPECT_TRUE(wb->IsModified());

    // Yes with a file that cannot be written: reported, and no run.
    QFile::remove(file);
    ASSERT_TRUE(QDir(dir.path()).mkdir("Orders.xml"));
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    wb->ActionRun();
    ASSERT_EQ(dialogs->Messages.size(), 3u);
    EXPECT_EQ(dialogs->Messages[2].Style, 16);
    EXPECT_TRUE(windowsOf<frmStatistics>().isEmpty());
    EXPECT_EQ(count("target", "tgt"), 0);
    EXPECT_TRUE(wb->IsModified());
}

TEST_F(Commands, TheDocumentCannotBeChangedWhileItRunsOrIsTested)
{
    exec("source", {"WITH RECURSIVE n(i) AS (SELECT 4 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                    "INSERT INTO src SELECT i, 'n' || i, i * 10 FROM n"});
    select("TGT");
    wb->SetActiveControl("picFlow");

    // Commands arriving while the run lets events through (the user at the
    // canvas): each is refused and the run writes every record.
    int tries = 0;
    QTimer during;
    during.setInterval(0);
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (!wb->Process()->IsRunning())
            return;
        during.stop();
        ++tries;
        wb->ActionDelete();
        wb->ActionUnLinkNodes();
        wb->ActionAddProcess();
        wb->Link_Clear();
    });
    during.start();
    wb->ActionRun();
    during.stop();
    ASSERT_EQ(tries, 1);
    EXPECT_EQ(count("target", "tgt"), 3000);
    ASSERT_TRUE(node("TGT"));
    EXPECT_EQ(wb->Process()->Lines()->Count(), 3);
    EXPECT_EQ(wb->PendingShapeType(), 0);
    EXPECT_EQ(refusals(), 4);
    EXPECT_FALSE(wb->IsModified());

    // The same while the test preview holds the document; once it is
    // closed the commands work again.
    wb->actionTest();
    ASSERT_TRUE(frmTestPreview::IsTesting(wb->Process()));
    dialogs->Messages.clear();
    wb->ActionDelete();
    wb->Link_Auto();
    int dialogsShown = 0;
    {
        cModalRunnerGuard runner([&](QDialog& Dialog) {
            ++dialogsShown;
            Dialog.reject();
        });
        wb->ActionProperties();
    }
    EXPECT_EQ(dialogsShown, 0);
    EXPECT_EQ(refusals(), 3);
    EXPECT_EQ(dialogs->Messages.size(), 3u);
    EXPECT_TRUE(node("TGT"));
    frmTestPreview::DefaultInstance()->ActionClose();
    EXPECT_FALSE(frmTestPreview::IsTesting(wb->Process()));
    wb->ActionDelete();
    EXPECT_FALSE(node("TGT"));
}

TEST_F(Commands, NodesPlacedWithoutACaptionDoNotBreakARun)
{
    // Process and document nodes are placed unnamed; two of them used to
    // stop every run in its preparation.
    wb->SetActiveControl("picFlow");
    wb->ActionAddProcess();
    wb->picFlow_MouseDown(1, 0, 3000, 300);
    wb->ActionAddDocument();
    wb->picFlow_MouseDown(1, 0, 3000, 1200);
    EXPECT_EQ(wb->Process()->Shapes()->Count(), 6);
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    wb->ActionRun();
    EXPECT_EQ(count("target", "tgt"), 3);
}

TEST_F(Commands, PreviewDependsOnTheActiveControlAndTheCurrentNode)
{
    select("SRC");
    wb->SetActiveControl("shp");
    wb->ActionPreview();
    ASSERT_EQ(windowsOf<frmData>().size(), 1);
    EXPECT_TRUE(windowsOf<frmData>().front()->windowTitle().contains("SRC"));

    // The canvas with a storage node current: the test preview instead.
    select("TGT");
    wb->SetActiveControl("picFlow");
    wb->ActionPreview();
    EXPECT_EQ(windowsOf<frmData>().size(), 1);
    EXPECT_TRUE(frmTestPreview::DefaultInstance()->isVisible());
    EXPECT_EQ(frmTestPreview::DefaultInstance()->Process(), wb->Process());

    // The mapping grid: nothing, for preview and properties alike.
    int dialogsShown = 0;
    cModalRunnerGuard runner([&](QDialog& Dialog) {
        ++dialogsShown;
        Dialog.reject();
    });
    select("SRC");
    wb->SetActiveControl("grdTarget");
    wb->ActionPreview();
    wb->ActionProperties();
    EXPECT_EQ(windowsOf<frmData>().size(), 1);
    EXPECT_EQ(dialogsShown, 0);
}

TEST_F(Commands, DoubleClickOpensTheDialogOfTheNodeKind)
{
    QStringList shown;
    cModalRunnerGuard runner([&](QDialog& Dialog) {
        shown << Dialog.metaObject()->className();
        Dialog.reject();
    });
    for (const QString& caption : {"START", "END"})
        wb->shp_DblClick(node(caption)->Index);
    for (std::int16_t kind : {aProcess, aDocument, aProcessPredef, aWindow, aPoint})
        wb->shp_DblClick(wb->Process()->Shapes()->AddShape(kind, 100, 100)->Index);
    EXPECT_TRUE(shown.isEmpty());

    // A data node: the source dialog, then its fields in the tree.
    select("SRC");
    wb->shp_DblClick(node("SRC")->Index);
    EXPECT_EQ(shown, QStringList{"frmAddSource"});
    ASSERT_NE(wb->TreeNode(node("SRC")->Key), nullptr);
    EXPECT_EQ(wb->TreeNode(node("SRC")->Key)->childCount(), 1);

    // Properties from the canvas on a storage node: the target dialog, then
    // its fields in the grid.
    select("TGT");
    wb->SetActiveControl("picFlow");
    wb->ActionProperties();
    EXPECT_EQ(shown.last(), "frmAddTarget");
    EXPECT_EQ(wb->GridRows(), 2);
}

TEST_F(Commands, ADecisionConditionIsEditedAndKept)
{
    cShapes* shapes = wb->Process()->Shapes();
    const cShapeRef decision = shapes->AddShape(aDecission, 200, 200, "CHECK");
    shapes->AddElementsToNode(decision->Key, tDecission{"x > 1"});
    shapes->CurrCtl = decision->Key;
    const QString caption = wb->windowTitle();

    QString seen;
    {
        cModalRunnerGuard runner([&](QDialog& Dialog) {
            auto* editor = qobject_cast<frmAddFormula*>(&Dialog);
            ASSERT_NE(editor, nullptr);
            seen = editor->FormulaBoxText();
            editor->setFormulaBoxText("x > 2");
            editor->btnOK_Click();
        });
        wb->shp_DblClick(decision->Index);
    }
    EXPECT_EQ(seen, "x > 1");
    EXPECT_EQ(decision->decisionRecord()->condition, "x > 2");
    EXPECT_TRUE(wb->IsModified());
    EXPECT_EQ(wb->windowTitle(), caption);   // the flag alone

    cModalRunnerGuard cancel([](QDialog& Dialog) { Dialog.reject(); });
    wb->shp_DblClick(decision->Index);
    EXPECT_EQ(decision->decisionRecord()->condition, "x > 2");
}

TEST_F(Commands, PrintPreviewAndPrintSaveFirstAndShowTheSavedFile)
{
    const QString pdf = dir.filePath("out.pdf");
    int asked = 0;
    frmPrintPreview::setPrintPrompt([&](QPrinter& Printer, QWidget*) {
        ++asked;
        Printer.setOutputFormat(QPrinter::PdfFormat);
        Printer.setOutputFileName(pdf);
        return true;
    });

    wb->Process()->Shapes()->AddCaptionToShape(node("TGT")->Key, "Renamed");
    wb->Modified();
    wb->ActionPrintPreview();
    EXPECT_FALSE(wb->IsModified());
    frmPrintPreview* preview = frmPrintPreview::DefaultInstance();
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->windowTitle(), "Print Preview - " + file);
    EXPECT_TRUE(preview->findChild<QTextBrowser*>("browser")->toPlainText().contains("Renamed"));

    // What it shows can be painted...
    QImage page(400, 400, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        preview->Render(&painter, QRectF(0, 0, 400, 400));
    }
    bool inked = false;
    for (int y = 0; y < 60 && !inked; ++y)
        for (int x = 0; x < 400 && !inked; ++x)
            inked = page.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_TRUE(inked);

    // ...and printed, after the user chose the printer.
    wb->ActionPrint();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(readFile(pdf).startsWith("%PDF"));
    EXPECT_EQ(frmPrintPreview::DefaultInstance(), preview);

    // A never-saved document whose save is cancelled is neither previewed
    // nor printed.
    preview->ActionClose();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    frmWorkBench* fresh = frmWorkBench::NewIntegration();
    fresh->Modified();
    dialogs->Messages.clear();
    fresh->ActionPrintPreview();
    fresh->ActionPrint();
    EXPECT_EQ(dialogs->Messages.front().Prompt, "Please enter a file name");
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(windowsOf<frmPrintPreview>().isEmpty());
    fresh->SetModifiedFlag(false);
    fresh->close();
}

}  // namespace
