// Editing the flowchart on the workbench's canvas: placing, selecting,
// dragging, linking and deleting nodes. The engine's collections own the
// document and draw it; this code decides when they are called.

#include "workbench/frmWorkBench.h"

#include <QTableWidget>
#include <QTreeWidget>

#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "workbench/FlowCanvas.h"

namespace {

// The document's stop node; null when it has none.
cShapeRef StopNode(cShapes& Shapes) {
    for (const cShapeRef& node : Shapes.Collection())
        if (node->objType == aStop)
            return node;
    return nullptr;
}

// Frames lie 30 twips outside the picture and are 70 twips larger.
QRectF FrameAround(const cShape& Node) {
    return QRectF(Node.Left - 30.0, Node.Top - 30.0, Node.Width + 70.0, Node.Height + 70.0);
}

// Clears a flag when the edit is over, however it ends.
struct EditScope {
    explicit EditScope(bool& Flag) : flag(Flag), previous(Flag) { flag = true; }
    ~EditScope() { flag = previous; }
    bool& flag;
    bool previous;
};

}  // namespace

// ---- Arming -------------------------------------------------------------------

void frmWorkBench::ArmPlacement(int Kind, bool OnCanvas) {
    if (RefuseWhileBusy())
        return;
    m_pendingKind = Kind;
    m_pendingOnCanvas = OnCanvas;
    const QCursor cursor = FlowCanvas::PlacementCursor(Kind);
    unsetCursor();
    picFlow->viewport()->unsetCursor();
    if (OnCanvas)
        picFlow->viewport()->setCursor(cursor);
    else {
        setCursor(cursor);
        // The canvas shows the window's pointer while it has none of its own.
        picFlow->viewport()->setCursor(cursor);
    }
}

void frmWorkBench::Disarm() {
    m_pendingKind = 0;
    m_pendingOnCanvas = false;
    unsetCursor();
    picFlow->viewport()->unsetCursor();
}

void frmWorkBench::ActionAddStart() {
    ArmPlacement(aStart, false);
}
void frmWorkBench::ActionAddProcess() {
    ArmPlacement(aProcess, false);
}
void frmWorkBench::ActionAddDecision() {
    ArmPlacement(aDecission, false);
}
void frmWorkBench::ActionAddStorage() {
    ArmPlacement(aStorage, true);
}
void frmWorkBench::ActionAddData() {
    ArmPlacement(aData, false);
}
void frmWorkBench::ActionAddDocument() {
    ArmPlacement(aDocument, false);
}
void frmWorkBench::ActionAddProcessPredef() {
    ArmPlacement(aProcessPredef, false);
}
void frmWorkBench::ActionAddWindow() {
    ArmPlacement(aWindow, false);
}
void frmWorkBench::ActionAddPoint() {
    ArmPlacement(aPoint, false);
}
void frmWorkBench::ActionAddStop() {
    ArmPlacement(aStop, false);
}

// ---- Canvas presses and keys ----------------------------------------------------

void frmWorkBench::picFlow_MouseDown(int Button, int Shift, float X, float Y) {
    Q_UNUSED(Shift);
    if (Button == 2) {
        Disarm();
        ShowCanvasPopup(QPointF(X, Y));
        return;
    }
    if (m_pendingKind == 0)
        return;
    // Armed before a run or test began: nothing is placed in a document in use.
    if (RefuseWhileBusy()) {
        Disarm();
        return;
    }
    const int kind = m_pendingKind;
    cShapes* shapes = Process()->Shapes();
    const cShapeRef node = shapes->AddShape(static_cast<std::int16_t>(kind), X, Y, QString());
    m_pendingKind = 0;
    Disarm();
    if (!node)
        return;
    ShowPreviousMarker(shapes->PrevCtl);
    ShowCurrentMarker(shapes->getIndexByKey(shapes->CurrCtl));
    int previous = 0;
    if (kind == aStorage) {
        if (const cShapeRef stop = StopNode(*shapes))
            for (const cLineRef& link : Process()->Lines()->Collection())
                if (link->sTo.toInt() == stop->Index) {
                    previous = link->sFrom.toInt();
                    break;
                }
        if (!Process()->insertShapeAtEnd(node))
            previous = 0;
    }
    const bool wasDirty = m_dirty;
    const QString caption = windowTitle();
    Modified();
    m_stepDialogCancelled = false;
    ActionProperties();
    // A node whose dialog was cancelled would stay nameless and unconfigured,
    // and the next run would stop on it.
    if (m_stepDialogCancelled)
        TakeBackPlacedNode(node, previous, wasDirty, caption);
}

void frmWorkBench::TakeBackPlacedNode(const cShapeRef& Node, int Previous, bool WasDirty, const QString& Caption) {
    m_stepDialogCancelled = false;
    cShapes* shapes = Process()->Shapes();
    if (shapes->item(Node->Key) != Node)
        return;
    if (Previous > 0) {
        // The stop node gets back the link it had before the node was put in front of it.
        const cShapeRef stop = StopNode(*shapes);
        for (const cLineRef& link : Process()->Lines()->Collection())
            if (stop && link->sFrom.toInt() == Node->Index && link->sTo.toInt() == stop->Index) {
                link->sFrom = QString::number(Previous);
                Process()->Lines()->UpdateLine(*link);
                break;
            }
    }
    const QString previousKey = shapes->PrevCtl;
    shapes->removeShape(Node->Index);
    RemoveTreeNode(Node->Key);
    if (m_target.lock() == Node) {
        m_target.reset();
        grdTarget->setRowCount(0);
    }
    // The node that was current before the placement is current again.
    shapes->CurrCtl = previousKey;
    shapes->PrevCtl.clear();
    picFlow->HideFrames();
    if (const std::int16_t index = shapes->getIndexByKey(previousKey); index > 0)
        ShowCurrentMarker(index);
    m_dirty = WasDirty;
    setWindowTitle(Caption);
}

void frmWorkBench::picFlow_KeyDown(int KeyCode, int Shift) {
    Q_UNUSED(Shift);
    if (KeyCode == 45) {
        // The centre of what the canvas shows, also when it is scrolled.
        const QPointF centre = picFlow->VisibleCentreTwips();
        picFlow_MouseDown(2, 0, float(centre.x()), float(centre.y()));
    } else if (KeyCode == 27) {
        Disarm();
    }
}

void frmWorkBench::ShowCanvasPopup(QPointF Twips) {
    if (mdiMain* main = MainForm())
        main->ShowPopupBar(QStringLiteral("STDEDITSHAPE"), picFlow->GlobalPosOf(Twips));
}

// ---- Selection frames -----------------------------------------------------------

void frmWorkBench::ShowCurrentMarker(int Index) {
    const cShapeRef node = Process()->Shapes()->itemByIndex(Index);
    if (!node)
        return;
    picFlow->ShowFrame(FlowCanvas::Current, FrameAround(*node));
}

void frmWorkBench::ShowPreviousMarker(const QString& Key) {
    if (Key.isEmpty())
        return;
    cShapes* shapes = Process()->Shapes();
    const cShapeRef node = shapes->itemByIndex(shapes->getIndexByKey(Key));
    if (!node)
        return;
    picFlow->ShowFrame(FlowCanvas::Previous, FrameAround(*node));
}

// ---- Node presses, drags and clicks ---------------------------------------------

void frmWorkBench::shp_MouseDown(int Index, int Button, int Shift, float X, float Y) {
    Q_UNUSED(Shift);
    cShapes* shapes = Process()->Shapes();
    if (Button == 1) {
        if (shapes->getIndexByKey(shapes->CurrCtl) != Index) {
            shapes->PrevCtl = shapes->CurrCtl;
            shapes->CurrCtl = shapes->getKeyByIndex(static_cast<std::int16_t>(Index));
        }
        m_dragging = true;
        m_dragOrigin = QPointF(X, Y);
        picFlow->HideFrames();
    } else if (Button == 2) {
        picFlow->setFocus(Qt::MouseFocusReason);
        m_activeControl = QStringLiteral("picFlow");
        const cShapeRef node = shapes->itemByIndex(Index);
        const float cx = node ? node->Left + X : X;
        const float cy = node ? node->Top + Y : Y;
        picFlow_MouseDown(1, 0, cx, cy);
        picFlow_MouseDown(2, 0, cx, cy);
    }
}

void frmWorkBench::shp_MouseMove(int Index, int Button, int Shift, float X, float Y) {
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    // A document in use keeps its layout: the node may be selected, not moved.
    if (!m_dragging || IsBusy())
        return;
    const cShapeRef node = Process()->Shapes()->itemByIndex(Index);
    if (!node)
        return;
    picFlow->setUpdatesEnabled(false);
    const float left = node->Left + X - float(m_dragOrigin.x());
    const float top = node->Top + Y - float(m_dragOrigin.y());
    Process()->Shapes()->MoveShape(static_cast<std::int16_t>(Index), left, top);
    Process()->Lines()->UpdateConntectedLines(QString::number(Index));
    Modified();
    picFlow->setUpdatesEnabled(true);
}

void frmWorkBench::shp_MouseUp(int Index, int Button, int Shift, float X, float Y) {
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    if (!m_dragging)
        return;
    m_dragging = false;
    cShapes* shapes = Process()->Shapes();
    if (shapes->getIndexByKey(shapes->PrevCtl) != Index)
        ShowPreviousMarker(shapes->PrevCtl);
    ShowCurrentMarker(Index);
}

void frmWorkBench::shp_Click(int Index) {
    Q_UNUSED(Index);
    cShapes* shapes = Process()->Shapes();
    if (shapes->getIndexByKey(shapes->CurrCtl) < 1)
        return;
    const cShapeRef current = CurrentShape();
    if (current && current->objType == aStorage)
        ShowTarget(current);
    RefreshSourcePanel();
}

// ---- Links and deletion ---------------------------------------------------------

void frmWorkBench::ShowLinkError(const QString& Text) {
    if (m_userEdit)
        Dialogs().MsgBox(this, Text, MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbExclamation);
}

void frmWorkBench::ActionLinkNodes() {
    if (RefuseWhileBusy())
        return;
    EditScope scope(m_userEdit);
    cShapes* shapes = Process()->Shapes();
    const cLineRef link = Process()->Lines()->addLine(QString::number(shapes->getIndexByKey(shapes->PrevCtl)),
                                                      QString::number(shapes->getIndexByKey(shapes->CurrCtl)),
                                                      QString());
    // A new link is a change to save like any other.
    if (link)
        Modified();
}

void frmWorkBench::ActionUnLinkNodes() {
    if (RefuseWhileBusy())
        return;
    EditScope scope(m_userEdit);
    cShapes* shapes = Process()->Shapes();
    cLines* lines = Process()->Lines();
    const int before = lines->Count();
    lines->DeleteLine(shapes->getIndexByKey(shapes->PrevCtl), shapes->getIndexByKey(shapes->CurrCtl));
    if (lines->Count() != before)
        Modified();
}

void frmWorkBench::ActionDelete() {
    if (m_activeControl == QLatin1String("shp") || m_activeControl == QLatin1String("picFlow"))
        DeleteSelectedNode();
    else if (m_activeControl == QLatin1String("grdTarget"))
        Link_Remove();
}

void frmWorkBench::DeleteSelectedNode() {
    if (RefuseWhileBusy())
        return;
    EditScope scope(m_userEdit);
    cShapes* shapes = Process()->Shapes();
    const QString key = shapes->CurrCtl;
    const cShapeRef node = shapes->item(key);
    if (!node)
        return;
    const bool removed = shapes->removeShape(shapes->getIndexByKey(key));
    RemoveTreeNode(key);
    if (!removed)
        return;
    // The grid must not go on editing a step that is gone.
    if (m_target.lock() == node) {
        m_target.reset();
        grdTarget->setRowCount(0);
    }
    Modified();
}
