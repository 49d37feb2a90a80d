// The workbench's step, run, test and print commands: each hands the work to
// another window of the designer.

#include "workbench/frmWorkBench.h"

#include <QPointer>

#include "admin/frmStatistics.h"
#include "app/UserDialogs.h"
#include "connections/cConnections.h"
#include "stores/basUtils.h"
#include "workbench/frmAddFormula.h"
#include "workbench/frmAddSource.h"
#include "workbench/frmAddTarget.h"
#include "workbench/frmData.h"
#include "workbench/frmPrintPreview.h"
#include "workbench/frmTestPreview.h"

namespace {

const QString kAmbient = QStringLiteral("frmWorkBench");

// The run-progress window the run command uses. A window still busy with a
// run (another document's, reached through the engine's yields) is left to
// it and a new one is opened.
frmStatistics* RunWindow()
{
    static QPointer<frmStatistics> window;
    if (!window || window->Running())
        window = new frmStatistics;
    return window;
}

}  // namespace

void frmWorkBench::ActionProperties()
{
    const QString control = ActiveControlName();
    if (control != QLatin1String("shp") && control != QLatin1String("picFlow"))
        return;
    cShapes* shapes = Process()->Shapes();
    const std::int16_t index = shapes->getIndexByKey(shapes->CurrCtl);
    if (index < 0)
        return;
    shp_DblClick(index);
}

void frmWorkBench::shp_DblClick(int Index)
{
    cShapes* shapes = Process()->Shapes();
    const cShapeRef node = shapes->item(shapes->getKeyByIndex(static_cast<std::int16_t>(Index)));
    if (!node)
        return;
    const bool hasDialog = node->objType == aDecission || node->objType == aStorage || node->objType == aData;
    if (hasDialog && RefuseWhileBusy())
        return;
    m_stepDialogCancelled = false;
    switch (node->objType) {
    case aDecission: {
        // The press before the double click made this node current, so the
        // condition goes back to CurrCtl. Conditions are kept, not run.
        const cShapeRef current = CurrentShape();
        if (!current)
            return;
        const tDecission* record = current->decisionRecord();
        QString condition = record ? record->condition : QString();
        if (!frmAddFormula::EditCondition(this, condition)) {
            m_stepDialogCancelled = true;
            return;
        }
        shapes->AddElementsToNode(shapes->CurrCtl, tDecission{condition});
        SetModifiedFlag(true);
        break;
    }
    case aStorage:
        m_stepDialogCancelled = !frmAddTarget::ShowStep(*this);
        if (const cShapeRef current = CurrentShape())
            ShowTarget(current);
        break;
    case aData:
        m_stepDialogCancelled = !frmAddSource::ShowStep(*this);
        if (const cShapeRef current = CurrentShape())
            ShowSource(current);
        break;
    default:
        // Start, stop, process and the drawing kinds have no dialog.
        break;
    }
}

void frmWorkBench::ActionPreview()
{
    const QString control = ActiveControlName();
    cShapes* shapes = Process()->Shapes();
    if (control == QLatin1String("shp")) {
        frmData::ShowData(shapes->CurrCtl, shapes);
    } else if (control == QLatin1String("picFlow")) {
        // A storage step has nothing to show until records went through it.
        const cShapeRef current = CurrentShape();
        if (current && current->objType == aStorage)
            actionTest();
        else
            frmData::ShowData(shapes->CurrCtl, shapes);
    }
}

void frmWorkBench::actionTest()
{
    // The run holds the document's connections until it has returned.
    if (Process()->IsRunning())
        return;
    frmTestPreview::DefaultInstance()->ShowData(Process());
}

void frmWorkBench::ActionRun()
{
    // Reached again through the engine's yields while this document runs.
    if (Process()->IsRunning())
        return;
    if (IsModified()) {
        const int answer = Dialogs().MsgBox(
            this, Translate(QStringLiteral("Save changes to "), kAmbient) + FileTitle() + QStringLiteral("?"),
            MsgBoxStyle::vbYesNoCancel | MsgBoxStyle::vbInformation);
        // Cancel runs nothing; Yes runs only what was saved; No runs the
        // document as it is in memory.
        if (answer == MsgBoxResult::vbYes) {
            if (!SaveChanges())
                return;
        } else if (answer != MsgBoxResult::vbNo) {
            return;
        }
    }
    // A test in progress is rolled back first: a run must not end its
    // transactions under it and leave the preview writing for good.
    frmTestPreview::EndTestOf(Process());
    RunWindow()->ActionRun(Process());
}

void frmWorkBench::ActionPrintPreview()
{
    ActionSave();
    const QString file = Process()->Filename();
    if (!file.isEmpty())
        frmPrintPreview::DefaultInstance()->ShowFile(file);
}

void frmWorkBench::ActionPrint()
{
    ActionSave();
    const QString file = Process()->Filename();
    if (!file.isEmpty())
        frmPrintPreview::DefaultInstance()->ActionPrint(file);
}
