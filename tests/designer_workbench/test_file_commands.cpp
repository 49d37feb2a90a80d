// The workbench window's document life: new, open, save, save as, close,
// the dirty flag and its caption mark.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "WorkbenchTestSupport.h"
#include "app/ScreenRegistry.h"
#include "app/UserDialogs.h"
#include "workbench/FlowCanvas.h"

namespace {

// Deletes a window the test left open, without its save question.
struct Keep {
    QPointer<frmWorkBench> window;
    explicit Keep(frmWorkBench* w) : window(w) {}
    ~Keep() { delete window.data(); }
    frmWorkBench* operator->() const { return window.data(); }
    frmWorkBench& operator*() const { return *window; }
};

QStringList Captions(frmWorkBench& w) {
    QStringList captions;
    for (const cShapeRef& node : w.Process()->Shapes()->Collection())
        captions << node->sCaption;
    captions.sort();
    return captions;
}

TEST(WorkbenchFile, NewIntegrationShowsTheTemplateCleanAndClosesWithoutAQuestion) {
    cScriptedDialogsGuard dialogs;
    Keep w(frmWorkBench::NewIntegration());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("NewIntegration.xml"));
    EXPECT_EQ(w->FileTitle(), QStringLiteral("NewIntegration.xml"));
    EXPECT_FALSE(w->IsModified());
    EXPECT_EQ(Captions(*w), (QStringList{"END", "SOURCE", "START", "TARGET"}));
    // The engine drew the document on the canvas: four nodes, three links.
    for (int n = 1; n <= 4; ++n) {
        EXPECT_TRUE(w->picFlow->NodeVisible(n)) << n;
        EXPECT_TRUE(w->picFlow->NodeCaptionVisible(n)) << n;
    }
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    EXPECT_EQ(w->picFlow->NodeCaption(source->Index), QStringLiteral("SOURCE"));
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(w->picFlow->LinkVisible(n)) << n;
    // The formula root is listed for the mapping panel.
    EXPECT_NE(w->TreeNode(QStringLiteral("FORMULA")), nullptr);

    EXPECT_TRUE(w->close());
    FlushDeletes();
    EXPECT_TRUE(w.window.isNull());
    EXPECT_TRUE(dialogs->Messages.empty());
}

TEST(WorkbenchFile, DirtyMarkIsOneStarAndSaveOfACleanDocumentDoesNothing) {
    cScriptedDialogsGuard dialogs;
    Keep w(frmWorkBench::NewIntegration());
    w->ActionSave();
    EXPECT_TRUE(dialogs->FileTitles.isEmpty());
    EXPECT_TRUE(dialogs->Messages.empty());

    w->Modified();
    w->Modified();
    EXPECT_TRUE(w->IsModified());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("NewIntegration.xml*"));

    // The decision-condition edit sets the flag alone.
    Keep other(new frmWorkBench());
    other->SetModifiedFlag(true);
    EXPECT_TRUE(other->IsModified());
    EXPECT_EQ(other->windowTitle(), QStringLiteral("NewIntegration.xml"));
}

TEST(WorkbenchFile, FirstSaveAsksForAFileAndACancelledDialogKeepsTheDocumentDirty) {
    QTemporaryDir dir;
    cScriptedDialogsGuard dialogs;
    Keep w(frmWorkBench::NewIntegration());
    w->Modified();
    w->ActionSave();  // dialog cancelled
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Prompt, QStringLiteral("Please enter a file name"));
    EXPECT_EQ(dialogs->Messages[0].Style, 16);
    EXPECT_TRUE(w->IsModified());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("NewIntegration.xml*"));

    const QString path = dir.filePath(QStringLiteral("first.xml"));
    dialogs->FileAnswers.push_back(path);
    w->ActionSave();
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_FALSE(w->IsModified());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("[first.xml]"));
    EXPECT_EQ(w->FilePath(), path);

    // Later saves go to the same file without asking.
    w->Modified();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("[first.xml]*"));
    w->ActionSave();
    EXPECT_EQ(dialogs->FileTitles.size(), 2);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("[first.xml]"));
}

TEST(WorkbenchFile, SavedDocumentOpensAgainThroughTheOpenCommand) {
    QTemporaryDir dir;
    cScriptedDialogsGuard dialogs;
    const QString path = dir.filePath(QStringLiteral("trip.xml"));
    QPointF movedTo;
    {
        Keep w(frmWorkBench::NewIntegration());
        // A moved node and a formula survive the round trip.
        const cShapeRef moved = NodeByCaption(*w, QStringLiteral("SOURCE"));
        w->shp_MouseDown(moved->Index, 1, 0, 30.0F, 30.0F);
        w->shp_MouseMove(moved->Index, 1, 0, 330.0F, 630.0F);
        w->shp_MouseUp(moved->Index, 1, 0, 330.0F, 630.0F);
        movedTo = QPointF(moved->Left, moved->Top);
        ASSERT_TRUE(w->Process()->Formulas()->AddFormula(QStringLiteral("Total"), QStringLiteral("Function Main()\nEnd Function")));
        dialogs->FileAnswers.push_back(path);
        w->ActionSaveAs();
        EXPECT_FALSE(w->IsModified());
    }

    dialogs->FileAnswers.push_back(path);
    ASSERT_TRUE(ScreenRegistry::Call(QStringLiteral("frmWorkBench"), QStringLiteral("ActionOpen")));
    frmWorkBench* opened = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* candidate = qobject_cast<frmWorkBench*>(top); candidate && candidate->FilePath() == path)
            opened = candidate;
    ASSERT_NE(opened, nullptr);
    Keep w(opened);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("trip.xml"));
    EXPECT_EQ(w->FileTitle(), QStringLiteral("trip.xml"));
    EXPECT_FALSE(w->IsModified());
    EXPECT_EQ(Captions(*w), (QStringList{"END", "SOURCE", "START", "TARGET"}));
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    ASSERT_TRUE(source);
    EXPECT_NEAR(source->Left, movedTo.x(), 1.0);
    EXPECT_NEAR(source->Top, movedTo.y(), 1.0);
    EXPECT_NEAR(w->picFlow->NodeRect(source->Index).left(), source->Left, 1.0);
    EXPECT_NE(w->TreeNode(QStringLiteral("FKTotal")), nullptr);
    EXPECT_EQ(w->Process()->Lines()->Count(), 3);
}

TEST(WorkbenchFile, OpenWithTheDialogCancelledClosesTheFreshWindow) {
    cScriptedDialogsGuard dialogs;
    QPointer<frmWorkBench> w = new frmWorkBench();
    w->ActionOpen();
    FlushDeletes();
    EXPECT_TRUE(w.isNull());
    EXPECT_TRUE(dialogs->Messages.empty());
}

TEST(WorkbenchFile, OpenOfABrokenFileKeepsTheDocumentAndNeverSavesOverTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("broken.xml"));
    const QByteArray broken("<meridox><nodes><node");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(broken);
    file.close();
    auto contents = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    cScriptedDialogsGuard dialogs;

    // The fresh window the main window opens for the command: the engine's
    // text, and the window goes again as after a cancelled dialog.
    dialogs->FileAnswers.push_back(path);
    QPointer<frmWorkBench> fresh = new frmWorkBench();
    fresh->ActionOpen();
    FlushDeletes();
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Style, 64);
    EXPECT_FALSE(dialogs->Messages[0].Prompt.isEmpty());
    EXPECT_TRUE(fresh.isNull());

    // A window with a changed, saved document keeps it, its file and its
    // title; its next save goes to its own file, not over the broken one.
    Keep w(frmWorkBench::NewIntegration());
    const QString own = dir.filePath(QStringLiteral("own.xml"));
    dialogs->FileAnswers.push_back(own);
    w->ActionSaveAs();
    w->Modified();
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    dialogs->FileAnswers.push_back(path);
    w->ActionOpen();
    ASSERT_FALSE(w.window.isNull());
    EXPECT_EQ(dialogs->Messages.size(), 3u);
    EXPECT_EQ(w->FilePath(), own);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("[own.xml]*"));
    EXPECT_TRUE(w->IsModified());
    EXPECT_EQ(Captions(*w), (QStringList{"END", "SOURCE", "START", "TARGET"}));
    w->ActionSave();
    EXPECT_EQ(contents(), broken);
    EXPECT_FALSE(w->IsModified());
}

TEST(WorkbenchFile, CloseQuestionCancelKeepsYesWithCancelledSaveClosesNoCloses) {
    cScriptedDialogsGuard dialogs;
    Keep w(frmWorkBench::NewIntegration());
    w->Modified();

    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbCancel);
    w->ActionClose();
    FlushDeletes();
    ASSERT_FALSE(w.window.isNull());
    EXPECT_TRUE(w->IsModified());
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Prompt, QStringLiteral("Save changes to NewIntegration.xml?"));
    EXPECT_EQ(dialogs->Messages[0].Style, 67);

    // Yes, then the save dialog cancelled: nothing was saved, so the
    // window stays with its changes.
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    w->ActionClose();
    FlushDeletes();
    ASSERT_FALSE(w.window.isNull());
    EXPECT_TRUE(w->IsModified());
    ASSERT_EQ(dialogs->Messages.size(), 3u);
    EXPECT_EQ(dialogs->Messages[2].Prompt, QStringLiteral("Please enter a file name"));

    // Yes, then a file that cannot be written: the window stays too.
    QTemporaryDir dir;
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    dialogs->FileAnswers.push_back(dir.filePath(QStringLiteral("missing/folder/x.xml")));
    w->ActionClose();
    FlushDeletes();
    ASSERT_FALSE(w.window.isNull());
    EXPECT_TRUE(w->IsModified());
    ASSERT_EQ(dialogs->Messages.size(), 5u);
    EXPECT_EQ(dialogs->Messages[4].Style, 16);

    // Yes with a save that happened: the window closes.
    const QString path = dir.filePath(QStringLiteral("closed.xml"));
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    dialogs->FileAnswers.push_back(path);
    w->ActionClose();
    FlushDeletes();
    EXPECT_TRUE(w.window.isNull());
    EXPECT_TRUE(QFileInfo::exists(path));

    Keep other(frmWorkBench::NewIntegration());
    other->Modified();
    dialogs->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    other->ActionClose();
    FlushDeletes();
    EXPECT_TRUE(other.window.isNull());
}

TEST(WorkbenchFile, SaveAsOfACleanDocumentWritesAndAFailedWriteKeepsTheDocumentDirty) {
    QTemporaryDir dir;
    cScriptedDialogsGuard dialogs;
    Keep w(frmWorkBench::NewIntegration());
    const QString path = dir.filePath(QStringLiteral("copy.xml"));
    dialogs->FileAnswers.push_back(path);
    w->ActionSaveAs();
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("[copy.xml]"));

    // A file that cannot be written is reported and does not look saved.
    w->Modified();
    dialogs->FileAnswers.push_back(dir.filePath(QStringLiteral("missing/folder/x.xml")));
    w->ActionSaveAs();
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Style, 16);
    EXPECT_TRUE(w->IsModified());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("[copy.xml]*"));
    EXPECT_EQ(w->FilePath(), path);

    // Save As cancelled changes nothing.
    w->ActionSaveAs();
    EXPECT_TRUE(w->IsModified());

    // A first Save that cannot write keeps the document unnamed: caption
    // and close prompt name no file that was never written, and the next
    // Save asks for a file again.
    Keep fresh(frmWorkBench::NewIntegration());
    fresh->Modified();
    dialogs->FileAnswers.push_back(dir.filePath(QStringLiteral("missing/folder/y.xml")));
    fresh->ActionSave();
    EXPECT_EQ(dialogs->Messages.size(), 2u);
    EXPECT_TRUE(fresh->FilePath().isEmpty());
    EXPECT_EQ(fresh->FileTitle(), QStringLiteral("NewIntegration.xml"));
    EXPECT_EQ(fresh->windowTitle(), QStringLiteral("NewIntegration.xml*"));
    const int asked = dialogs->FileTitles.size();
    fresh->ActionSave();
    EXPECT_EQ(dialogs->FileTitles.size(), asked + 1);
    EXPECT_TRUE(fresh->IsModified());
}

TEST(WorkbenchFile, NewAndOpenAreRegisteredForTheMainWindow) {
    EXPECT_TRUE(ScreenRegistry::Has(QStringLiteral("frmWorkBench"), QStringLiteral("ActionAdd")));
    EXPECT_TRUE(ScreenRegistry::Has(QStringLiteral("frmWorkBench"), QStringLiteral("ActionOpen")));
    // Every routed command answers by name.
    frmWorkBench w;
    for (const char* member : {"ActionSave", "ActionSaveAs", "ActionOpen", "ActionClose", "ActionAddStart",
                               "ActionAddData", "ActionAddStorage", "ActionAddStop", "ActionLinkNodes",
                               "ActionUnLinkNodes", "ActionProperties", "ActionPreview", "ActionDelete",
                               "ActionPrintPreview", "actionTest", "ActionPrint", "ActionRun", "Link_Add",
                               "Link_Remove", "Link_Clear", "Link_Formula", "Del_Link_Formula", "Link_Lookup",
                               "Link_Auto", "Modified"})
        EXPECT_GE(w.metaObject()->indexOfMethod((QByteArray(member) + "()").constData()), 0) << member;
}

}  // namespace
