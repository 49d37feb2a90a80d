// Editing the flowchart through the window's commands and event handlers,
// and what the engine draws on the canvas in return.

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QTreeWidget>

#include <QGraphicsItem>
#include <QGraphicsScene>

#include <gtest/gtest.h>

#include "WorkbenchTestSupport.h"
#include "app/UserDialogs.h"
#include "workbench/FlowCanvas.h"

namespace {

struct Canvas : ::testing::Test {
    cScriptedDialogsGuard dialogs;
    std::unique_ptr<frmWorkBench> w{frmWorkBench::NewIntegration()};
    cShapes* shapes() { return w->Process()->Shapes(); }
    cLines* lines() { return w->Process()->Lines(); }
    bool linked(int from, int to) {
        for (const cLineRef& link : lines()->Collection())
            if (link->sFrom.toInt() == from && link->sTo.toInt() == to)
                return true;
        return false;
    }
};

TEST_F(Canvas, PlacingAStorageNodeLinksItInFrontOfTheStopNodeAndMarksTheDocument) {
    const cShapeRef end = NodeByCaption(*w, QStringLiteral("END"));
    const cShapeRef target = NodeByCaption(*w, QStringLiteral("TARGET"));
    w->ActionAddStorage();
    EXPECT_EQ(w->PendingShapeType(), aStorage);
    w->picFlow_MouseDown(1, 0, 3000.0F, 2400.0F);
    EXPECT_EQ(w->PendingShapeType(), 0);
    ASSERT_EQ(shapes()->Count(), 5);
    const cShapeRef added = w->CurrentShape();
    ASSERT_TRUE(added);
    EXPECT_EQ(added->objType, aStorage);
    EXPECT_FLOAT_EQ(added->Left, 3000.0F);
    EXPECT_TRUE(w->picFlow->NodeVisible(added->Index));
    EXPECT_TRUE(linked(target->Index, added->Index));
    EXPECT_TRUE(linked(added->Index, end->Index));
    EXPECT_FALSE(linked(target->Index, end->Index));
    // The frames: current around the new node, previous around the former current.
    EXPECT_TRUE(w->picFlow->FrameVisible(FlowCanvas::Current));
    const QRectF frame = w->picFlow->FrameRect(FlowCanvas::Current);
    EXPECT_NEAR(frame.left(), added->Left - 30, 0.5);
    EXPECT_NEAR(frame.width(), added->Width + 70, 0.5);
    EXPECT_TRUE(w->IsModified());
    EXPECT_TRUE(w->windowTitle().endsWith(QLatin1Char('*')));
}

TEST_F(Canvas, RightPressInsertAndEscapeDisarmWithoutPlacing) {
    w->ActionAddData();
    w->picFlow_MouseDown(2, 0, 500.0F, 500.0F);
    EXPECT_EQ(w->PendingShapeType(), 0);
    EXPECT_EQ(shapes()->Count(), 4);

    w->ActionAddStart();
    w->picFlow_KeyDown(45, 0);
    EXPECT_EQ(w->PendingShapeType(), 0);
    EXPECT_EQ(shapes()->Count(), 4);

    w->ActionAddStop();
    w->ActionAddPoint();  // arming again replaces the kind
    EXPECT_EQ(w->PendingShapeType(), aPoint);
    w->picFlow_KeyDown(27, 0);
    EXPECT_EQ(w->PendingShapeType(), 0);
    // A press with nothing armed places nothing.
    w->picFlow_MouseDown(1, 0, 500.0F, 500.0F);
    EXPECT_EQ(shapes()->Count(), 4);
    EXPECT_FALSE(w->IsModified());
}

TEST_F(Canvas, RightPressOnANodeWithAKindArmedPlacesTheNewNodeThere) {
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    w->ActionAddProcess();
    w->shp_MouseDown(source->Index, 2, 0, 100.0F, 50.0F);
    ASSERT_EQ(shapes()->Count(), 5);
    const cShapeRef added = w->CurrentShape();
    EXPECT_EQ(added->objType, aProcess);
    EXPECT_FLOAT_EQ(added->Left, source->Left + 100.0F);
    EXPECT_FLOAT_EQ(added->Top, source->Top + 50.0F);
    EXPECT_EQ(w->PendingShapeType(), 0);
}

TEST_F(Canvas, ClickingTwoNodesThenLinkJoinsThemAndUnlinkParts) {
    const cShapeRef start = NodeByCaption(*w, QStringLiteral("START"));
    const cShapeRef end = NodeByCaption(*w, QStringLiteral("END"));
    ClickNode(*w, start->Index);
    ClickNode(*w, end->Index);
    EXPECT_EQ(shapes()->PrevCtl, start->Key);
    EXPECT_EQ(shapes()->CurrCtl, end->Key);
    // A second click on the current node keeps the previous one.
    ClickNode(*w, end->Index);
    EXPECT_EQ(shapes()->PrevCtl, start->Key);
    EXPECT_TRUE(w->picFlow->FrameVisible(FlowCanvas::Previous));

    w->ActionLinkNodes();
    EXPECT_TRUE(linked(start->Index, end->Index));
    EXPECT_EQ(lines()->Count(), 4);
    // The link is a change like any other: it must not be lost on close.
    EXPECT_TRUE(w->IsModified());
    const int drawn = lines()->LinkCounter();
    EXPECT_TRUE(w->picFlow->LinkVisible(drawn));
    // The link ends in an arrow (dot and both strokes) showing its direction.
    EXPECT_TRUE(w->picFlow->LinkEndVisible(drawn));
    int strokes = 0;
    for (const QGraphicsItem* item : w->picFlow->scene()->items())
        if (item->data(1).toInt() == drawn && item->isVisible()
            && (item->data(0) == QStringLiteral("arrUp") || item->data(0) == QStringLiteral("arrDown")))
            ++strokes;
    EXPECT_EQ(strokes, 2);

    w->ActionUnLinkNodes();
    EXPECT_FALSE(linked(start->Index, end->Index));
    EXPECT_FALSE(w->picFlow->LinkVisible(drawn));
    EXPECT_FALSE(w->picFlow->LinkEndVisible(drawn));
    EXPECT_TRUE(dialogs->Messages.empty());
}

TEST_F(Canvas, RefusedLinkShowsTheEnginesMessage) {
    const cShapeRef start = NodeByCaption(*w, QStringLiteral("START"));
    shapes()->CurrCtl = start->Key;
    shapes()->PrevCtl = start->Key;
    w->ActionLinkNodes();
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Prompt, QStringLiteral("Cannot make a link!!!!"));
    EXPECT_EQ(lines()->Count(), 3);
    EXPECT_FALSE(w->IsModified());
}

TEST_F(Canvas, DraggingMovesTheNodeByEveryRawDeltaAndReroutesItsLinks) {
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    const float left = source->Left, top = source->Top;
    w->shp_MouseDown(source->Index, 1, 0, 40.0F, 40.0F);
    EXPECT_TRUE(w->IsDragging());
    EXPECT_FALSE(w->picFlow->FrameVisible(FlowCanvas::Current));
    w->shp_MouseMove(source->Index, 1, 0, 41.0F, 40.0F);  // no threshold
    EXPECT_FLOAT_EQ(source->Left, left + 1.0F);
    w->shp_MouseMove(source->Index, 1, 0, 140.0F, 1040.0F);
    EXPECT_FLOAT_EQ(source->Left, left + 101.0F);
    EXPECT_FLOAT_EQ(source->Top, top + 1000.0F);
    w->shp_MouseUp(source->Index, 1, 0, 140.0F, 1040.0F);
    EXPECT_FALSE(w->IsDragging());
    EXPECT_TRUE(w->IsModified());

    // The picture, its caption (5 twips below) and the link into it follow.
    const QRectF picture = w->picFlow->NodeRect(source->Index);
    EXPECT_NEAR(picture.left(), source->Left, 1.0);
    EXPECT_NEAR(picture.top(), source->Top, 1.0);
    EXPECT_NEAR(w->picFlow->NodeCaptionPos(source->Index).y(), source->Top + source->Height + 5, 1.0);
    for (const cLineRef& link : lines()->Collection()) {
        if (link->sTo.toInt() != source->Index)
            continue;
        const QLineF drawn = w->picFlow->LinkLine(link->LineIndex);
        EXPECT_NEAR(drawn.p2().y(), link->line.p2().y(), 1.0);
        EXPECT_GE(drawn.p2().y(), source->Top - 1.0);
    }
    // A move without a press moves nothing.
    w->shp_MouseMove(source->Index, 0, 0, 900.0F, 900.0F);
    EXPECT_FLOAT_EQ(source->Left, left + 101.0F);
}

TEST_F(Canvas, DeleteRemovesTheCurrentNodeWithItsLinksButKeepsStartAndEnd) {
    const cShapeRef target = NodeByCaption(*w, QStringLiteral("TARGET"));
    ClickNode(*w, target->Index);
    ASSERT_NE(w->TreeNode(target->Key), nullptr);
    ASSERT_EQ(w->TargetShape(), target);
    w->SetActiveControl(QStringLiteral("picFlow"));
    w->ActionDelete();
    EXPECT_EQ(shapes()->Count(), 3);
    EXPECT_EQ(lines()->Count(), 1);
    EXPECT_EQ(w->TreeNode(target->Key), nullptr);
    EXPECT_FALSE(w->picFlow->NodeVisible(target->Index));
    EXPECT_EQ(w->TargetShape(), nullptr);
    EXPECT_TRUE(w->IsModified());

    const cShapeRef start = NodeByCaption(*w, QStringLiteral("START"));
    ClickNode(*w, start->Index);
    w->SetActiveControl(QStringLiteral("shp"));
    w->ActionDelete();
    EXPECT_EQ(shapes()->Count(), 3);
    EXPECT_EQ(lines()->Count(), 1);
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Prompt, QStringLiteral("Cannot delete start or end object."));

    // Another active control deletes nothing.
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    ClickNode(*w, source->Index);
    w->SetActiveControl(QStringLiteral("treeSource"));
    w->ActionDelete();
    EXPECT_EQ(shapes()->Count(), 3);
}

TEST_F(Canvas, ClickOnANodeListsTheStepsAndFormulasInTheTree) {
    const cShapeRef source = NodeByCaption(*w, QStringLiteral("SOURCE"));
    ClickNode(*w, source->Index);
    // Formula root first, then the data and storage steps in document order.
    ASSERT_EQ(w->treeSource->topLevelItemCount(), 3);
    EXPECT_EQ(frmWorkBench::TreeNodeKey(w->treeSource->topLevelItem(0)), QStringLiteral("FORMULA"));
    QStringList steps;
    for (const cShapeRef& node : shapes()->Collection())
        if (node->objType == aData || node->objType == aStorage)
            steps << node->sCaption;
    EXPECT_EQ(w->treeSource->topLevelItem(1)->text(0), steps.value(0));
    EXPECT_EQ(w->treeSource->topLevelItem(2)->text(0), steps.value(1));
    // A data node does not replace the grid.
    EXPECT_EQ(w->TargetShape(), nullptr);
}

}  // namespace

namespace {

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

TEST_F(Canvas, MouseOnTheCanvasSelectsAndDragsANodeInTwips) {
    w->resize(900, 640);
    w->show();
    QApplication::processEvents();
    const cShapeRef start = NodeByCaption(*w, QStringLiteral("START"));
    const cShapeRef end = NodeByCaption(*w, QStringLiteral("END"));
    const float left = start->Left, top = start->Top;
    QWidget* viewport = w->picFlow->viewport();
    const auto pixelOf = [&](const cShapeRef& node) {
        return w->picFlow->mapFromScene(FlowCanvas::ToPixels(QPointF(node->Left + 150, node->Top + 150)));
    };
    ClickNode(*w, end->Index);
    const QPoint at = pixelOf(start);
    SendMouse(viewport, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(w->ActiveControlName(), QStringLiteral("shp"));
    EXPECT_EQ(w->Process()->Shapes()->CurrCtl, start->Key);
    EXPECT_EQ(w->Process()->Shapes()->PrevCtl, end->Key);
    SendMouse(viewport, QEvent::MouseMove, at + QPoint(20, 10), Qt::NoButton, Qt::LeftButton);
    SendMouse(viewport, QEvent::MouseButtonRelease, at + QPoint(20, 10), Qt::LeftButton, Qt::NoButton);
    EXPECT_NEAR(start->Left, left + 300.0F, 0.5);
    EXPECT_NEAR(start->Top, top + 150.0F, 0.5);
    EXPECT_TRUE(w->IsModified());
    EXPECT_TRUE(w->picFlow->FrameVisible(FlowCanvas::Current));
    EXPECT_TRUE(w->picFlow->FrameVisible(FlowCanvas::Previous));

    // A press on the empty canvas with a kind armed and the right button
    // disarms and places nothing.
    w->ActionAddDocument();
    SendMouse(viewport, QEvent::MouseButtonPress, QPoint(600, 300), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(w->ActiveControlName(), QStringLiteral("picFlow"));
    EXPECT_EQ(w->PendingShapeType(), 0);
    EXPECT_EQ(shapes()->Count(), 4);
}

}  // namespace
