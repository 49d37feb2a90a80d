#include <gtest/gtest.h>


#include "Collect.h"
#include "RecordingView.h"
#include "document/clsProcess.h"

namespace {

QStringList keys(const cShapes& shapes) {
    QStringList out;
    for (const cShapeRef& node : shapes.Collection())
        out << node->Key;
    return out;
}

}  // namespace

TEST(Nodes, NumbersOnlyGrowWhilePositionsCloseUp) {
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    const auto a = shapes.AddShape(aProcess, 0, 0, "A");
    const auto b = shapes.AddShape(aProcess, 0, 0, "B");
    const auto c = shapes.AddShape(aProcess, 0, 0, "C");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->Index, 1);
    EXPECT_EQ(c->Key, "k3");

    EXPECT_TRUE(shapes.removeShape(2));
    EXPECT_EQ(keys(shapes), QStringList({"k1", "k3"}));
    EXPECT_EQ(shapes.getPosByKey("k3"), 2);
    EXPECT_EQ(shapes.getIndexByKey("k3"), 3);
    EXPECT_EQ(shapes.getPosByKey("k2"), 0);
    EXPECT_EQ(shapes.getKeyByIndex(2), "");
    EXPECT_EQ(shapes.getIndexByKey(""), -1);
    EXPECT_EQ(shapes.getIndexByKey("k2"), -1);

    // Removing the newest node does not hand its number out again.
    EXPECT_TRUE(shapes.removeShape(3));
    EXPECT_EQ(shapes.AddShape(aProcess, 0, 0)->Key, "k4");
    // Keys are found in any letter case.
    EXPECT_EQ(shapes.item("K4"), shapes.item(2));
    EXPECT_EQ(shapes.item("k9"), nullptr);
    EXPECT_FALSE(shapes.removeShape(9));
}

TEST(Nodes, NewNodesCarryTheRecordOfTheirKindAndBecomeCurrent) {
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    EXPECT_TRUE(std::holds_alternative<tDecission>(shapes.AddShape(aDecission, 0, 0)->objElements));
    EXPECT_TRUE(std::holds_alternative<tStorage>(shapes.AddShape(aStorage, 0, 0)->objElements));
    EXPECT_TRUE(std::holds_alternative<tData>(shapes.AddShape(aData, 0, 0)->objElements));
    EXPECT_TRUE(std::holds_alternative<QString>(shapes.AddShape(aStop, 0, 0)->objElements));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(shapes.AddShape(aStart, 0, 0)->objElements));
    EXPECT_EQ(shapes.CurrCtl, "k5");
    EXPECT_EQ(shapes.PrevCtl, "k4");
}

TEST(Nodes, WindowlessDocumentKeepsGeometryAndCaption) {
    clsProcess process;
    const auto node = process.Shapes()->AddShape(aData, 2550, 500, "SOURCE");
    ASSERT_TRUE(node);
    EXPECT_FALSE(node->hasPicture);
    EXPECT_EQ(node->sCaption, "SOURCE");
    EXPECT_FLOAT_EQ(node->Left, 2550);
    EXPECT_FLOAT_EQ(node->Width, cShape::DefaultPictureSize);
    EXPECT_TRUE(process.Shapes()->AddCaptionToShape("k1", "SRC"));
    EXPECT_EQ(node->sCaption, "SRC");
    EXPECT_FALSE(process.Shapes()->AddCaptionToShape("k7", "x"));
}

TEST(Nodes, DrawnNodeGetsPictureAndCentredCaption) {
    RecordingView view;
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    shapes.setForm(&view);

    const auto node = shapes.AddShape(aData, 2550, 500, "SOURCE");
    const int n = node->Index;
    const auto& drawn = view.nodes[n];
    EXPECT_TRUE(drawn.created);
    EXPECT_TRUE(drawn.visible);
    EXPECT_EQ(drawn.picture, aData);
    EXPECT_EQ(drawn.pos, QPointF(2550, 500));
    EXPECT_FLOAT_EQ(node->Width, 600);
    // Label width 6 * 45 = 270: centre 2850 - 135, 5 twips below the picture.
    EXPECT_EQ(drawn.captionPos, QPointF(2715, 905));
    EXPECT_TRUE(drawn.captionVisible);

    // Halves round to even: centre 2550+300.5 -> 2850 (tie), label 5*45/2 = 112.5 -> 112.
    view.pictureSize = QSizeF(601, 400);
    const auto odd = shapes.AddShape(aProcess, 2550, 0, "ABCDE");
    EXPECT_EQ(view.nodes[odd->Index].captionPos.x(), 2850 - 112);

    const auto bare = shapes.AddShape(aProcess, 0, 0);
    EXPECT_FALSE(view.nodes[bare->Index].captionVisible);

    shapes.MoveShape(n, 3000, 1000);
    EXPECT_EQ(view.nodes[n].pos, QPointF(3000, 1000));
    EXPECT_EQ(view.nodes[n].captionPos, QPointF(3165, 1405));
    EXPECT_FLOAT_EQ(node->Left, 3000);
}

TEST(Nodes, StartAndStopNodesAreRefusedBeforeAnythingIsTouched) {
    clsProcess process;
    ASSERT_EQ(process.LoadIntegration(""), "");
    const auto errors = collect(process.Shapes(), &cShapes::linkError);
    const int links = process.Lines()->Count();

    EXPECT_FALSE(process.Shapes()->removeShape(1));  // START
    EXPECT_FALSE(process.Shapes()->removeShape(3));  // END
    ASSERT_EQ(errors->size(), 2);
    EXPECT_EQ(errors->at(0), "Cannot delete start or end object.");
    EXPECT_EQ(process.Lines()->Count(), links);
    EXPECT_EQ(process.Shapes()->Count(), 4);
}

TEST(Nodes, RemovingANodeRemovesItsLinksInBothDirections) {
    RecordingView view;
    clsProcess process;
    process.LoadIntegration("", &view);
    cShapes& shapes = *process.Shapes();
    cLines& lines = *process.Lines();
    const auto extra = shapes.AddShape(aProcess, 2550, 2000, "X");
    const QString x = QString::number(extra->Index);
    ASSERT_TRUE(lines.addLine("4", x, ""));
    ASSERT_TRUE(lines.addLine(x, "4", ""));
    ASSERT_TRUE(lines.addLine(x, "2", ""));
    const auto shapeErrors = collect(&shapes, &cShapes::linkError);
    const auto lineErrors = collect(&lines, &cLines::linkError);

    EXPECT_TRUE(shapes.removeShape(4));  // SOURCE: linked to START, TARGET and X both ways
    EXPECT_EQ(shapeErrors->size(), 0);
    EXPECT_EQ(lineErrors->size(), 0);
    ASSERT_EQ(lines.Count(), 2);
    EXPECT_EQ(lines.item(1)->sFrom + ">" + lines.item(1)->sTo, "2>3");
    EXPECT_EQ(lines.item(2)->sFrom + ">" + lines.item(2)->sTo, x + ">2");
    EXPECT_FALSE(view.nodes[4].visible);
    EXPECT_FALSE(view.nodes[4].captionVisible);
    EXPECT_EQ(view.frameHides, 1);
    // The drawings of the removed links are hidden.
    EXPECT_FALSE(view.links[1].lineVisible);  // START -> SOURCE
    EXPECT_FALSE(view.links[1].dotVisible);
    EXPECT_TRUE(view.links[2].lineVisible);   // TARGET -> END stays
}

TEST(Nodes, NewRecordOnADataNodeDropsThePreparedQueryOnlyWhenTheSourceChanges) {
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    const auto node = shapes.AddShape(aData, 0, 0);
    tData data;
    data.Source = "Orders";
    ASSERT_TRUE(shapes.AddElementsToNode(node->Key, data));
    node->setQuery("kept");
    data.connName = "other";
    shapes.AddElementsToNode(node->Key, data);
    EXPECT_EQ(node->Query(), "kept");
    data.Source = "Customers";
    shapes.AddElementsToNode(node->Key, data);
    EXPECT_EQ(node->Query(), "");
    EXPECT_EQ(node->dataRecord()->Source, "Customers");
    EXPECT_FALSE(shapes.AddElementsToNode("k99", data));
}

TEST(Records, CopiesShareTheirFieldList) {
    tStorage a;
    a.fields = std::make_shared<tFieldsList>();
    a.fields->Add(tFields{"ID", 3, 4, "", ""}, "ID");
    tStorage b = a;
    b.target = "T";
    b.fields->item("id")->f_value = "Src(\"ID\")";
    EXPECT_EQ(a.fields->item("ID")->f_value, "Src(\"ID\")");
    EXPECT_EQ(a.target, "");
    EXPECT_FALSE(a.fields->Add(tFields{"Id", 3, 4, "", ""}, "Id"));
    EXPECT_EQ(a.fields->Count(), 1);
}
