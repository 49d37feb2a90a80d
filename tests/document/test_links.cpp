#include <gtest/gtest.h>

#include <cmath>

#include "Collect.h"
#include "RecordingView.h"
#include "document/clsProcess.h"

namespace {

// A process drawn on a recording view, with node F (number 1) at 1000,1000;
// pictures are 600 x 400.
struct Drawn {
    RecordingView view;
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    cLines& lines = *process.Lines();
    Drawn() {
        shapes.setForm(&view);
        lines.setForm(&view);
        shapes.AddShape(aProcess, 1000, 1000, "F");
    }
    cLineRef linkTo(float x, float y) {
        const auto to = shapes.AddShape(aProcess, x, y, "T");
        return lines.addLine("1", QString::number(to->Index), "");
    }
};

double angleBetween(QPointF a, QPointF b) {
    const double dot = a.x() * b.x() + a.y() * b.y();
    const double cross = a.x() * b.y() - a.y() * b.x();
    return std::atan2(cross, dot);
}

}  // namespace

TEST(Links, RouteBetweenTheFacingEdges) {
    struct Case {
        const char* name;
        float x, y;
        QLineF expected;
    };
    const Case cases[] = {
        {"right", 3000, 1000, QLineF(1600, 1200, 3000, 1200)},
        {"below, overlapping", 1200, 2000, QLineF(1300, 1400, 1500, 2000)},
        {"left", -1000, 1000, QLineF(1000, 1200, -400, 1200)},
        {"above, overlapping", 1200, -1000, QLineF(1300, 1000, 1500, -600)},
    };
    for (const Case& c : cases) {
        Drawn d;
        const auto link = d.linkTo(c.x, c.y);
        ASSERT_TRUE(link) << c.name;
        EXPECT_EQ(link->line, c.expected) << c.name;
        const auto& drawn = d.view.links[link->LineIndex];
        EXPECT_EQ(drawn.line, c.expected) << c.name;
        EXPECT_TRUE(drawn.lineVisible) << c.name;
        // The end marker (100 x 80) is centred on the end point.
        EXPECT_EQ(drawn.dot, c.expected.p2() - QPointF(50, 40)) << c.name;
    }
}

TEST(Links, ArrowStrokesPointBackAtHalfARadianEitherSide) {
    const QPointF targets[] = {{3000, 1000}, {1200, 2000}, {-1000, 1000}, {1200, -1000},
                               {3000, 3000}, {-2000, 3000}, {-2000, -2000}, {3000, -2500}};
    for (const QPointF& t : targets) {
        Drawn d;
        const auto link = d.linkTo(float(t.x()), float(t.y()));
        const QPointF end = link->line.p2();
        const QPointF back = link->line.p1() - end;
        const QPointF up = link->arrUp.p2() - end;
        const QPointF down = link->arrDown.p2() - end;
        EXPECT_NEAR(std::hypot(up.x(), up.y()), 150.0, 1e-6);
        EXPECT_NEAR(std::hypot(down.x(), down.y()), 150.0, 1e-6);
        EXPECT_NEAR(std::fabs(angleBetween(back, up)), 0.5, 1e-6) << t.x() << "," << t.y();
        EXPECT_NEAR(angleBetween(up, down), 1.0, 1e-6) << t.x() << "," << t.y();
        EXPECT_EQ(link->arrUp.p1(), end);
    }
    // Left to right: the upper stroke is the one turned by -0.5 from "back" (pi).
    Drawn d;
    const auto link = d.linkTo(3000, 1000);
    EXPECT_NEAR(link->arrUp.x2(), 3000 + 150 * std::cos(3.14159265359 - 0.5), 1e-6);
    EXPECT_NEAR(link->arrUp.y2(), 1200 + 150 * std::sin(0.5), 1e-6);
}

TEST(Links, MovesBelowOneTwipRedrawNothing) {
    Drawn d;
    const auto link = d.linkTo(3000, 1000);
    auto& drawn = d.view.links[link->LineIndex];
    const int draws = drawn.endDraws;
    d.shapes.MoveShape(2, 3000.4F, 1000.3F);
    d.lines.UpdateConntectedLines("2");
    EXPECT_EQ(drawn.endDraws, draws);
    d.shapes.MoveShape(2, 3001.0F, 1000.0F);
    d.lines.UpdateConntectedLines("2");
    EXPECT_EQ(drawn.endDraws, draws + 1);
    EXPECT_FLOAT_EQ(float(drawn.line.x2()), 3001.0F);
}

TEST(Links, RefusedLinksAddNothing) {
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    cLines& lines = *process.Lines();
    shapes.AddShape(aStart, 0, 0);
    shapes.AddShape(aStop, 2000, 0);
    const auto errors = collect(&lines, &cLines::linkError);
    EXPECT_FALSE(lines.addLine("1", "0", ""));
    EXPECT_FALSE(lines.addLine("0", "1", ""));
    EXPECT_FALSE(lines.addLine("1", "7", ""));  // no such node
    EXPECT_FALSE(lines.addLine("1", "1", ""));  // to itself
    EXPECT_FALSE(lines.addLine("one", "2", ""));
    EXPECT_EQ(lines.Count(), 0);
    ASSERT_EQ(errors->size(), 5);
    EXPECT_EQ(errors->at(0), "Cannot make a link!!!!");

    // A windowless link is still routed, so the document stays consistent.
    const auto link = lines.addLine("1", "2", "go");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->sCaption, "go");
    EXPECT_EQ(link->line, QLineF(480, 240, 2000, 240));
    EXPECT_EQ(lines.item(1), link);
    EXPECT_EQ(lines.item(2), nullptr);
    EXPECT_FALSE(lines.Remove(2));
}

TEST(Links, DeleteLineRemovesBothDirectionsOnly) {
    Drawn d;
    d.shapes.AddShape(aProcess, 3000, 1000);
    d.shapes.AddShape(aProcess, 5000, 1000);
    d.lines.addLine("2", "3", "");
    d.lines.addLine("1", "2", "");
    d.lines.addLine("3", "2", "");
    const auto errors = collect(&d.lines, &cLines::linkError);

    d.lines.DeleteLine(2, 3);
    ASSERT_EQ(d.lines.Count(), 1);
    EXPECT_EQ(d.lines.item(1)->sFrom, "1");
    EXPECT_FALSE(d.view.links[1].lineVisible);
    EXPECT_FALSE(d.view.links[3].dotVisible);
    EXPECT_TRUE(d.view.links[2].lineVisible);

    d.lines.DeleteLine(2, 3);  // nothing left to delete: no event
    EXPECT_TRUE(errors->isEmpty());
    d.lines.DeleteLine(0, 2);
    ASSERT_EQ(errors->size(), 1);
    EXPECT_EQ(errors->at(0), "Cannot determine which arrow to delete.");
    EXPECT_EQ(d.lines.Count(), 1);
}

TEST(Links, CaptionQuestionPerLinkAndCancelKeepsTheCaption) {
    Drawn d;
    d.shapes.AddShape(aProcess, 3000, 1000);
    const auto there = d.lines.addLine("1", "2", "old there");
    const auto back = d.lines.addLine("2", "1", "old back");
    d.view.answers = {QString("yes"), std::nullopt};

    d.lines.AddCaptionToLine("2", "1");
    ASSERT_EQ(d.view.prompts.size(), 2);
    EXPECT_EQ(d.view.prompts[0], "Enter the caption:|Add Caption To Line");
    EXPECT_EQ(there->sCaption, "yes");
    EXPECT_EQ(back->sCaption, "old back");
    const auto& label = d.view.links[there->LineIndex];
    EXPECT_EQ(label.caption, "yes");
    EXPECT_TRUE(label.captionVisible);
    // Centred on the middle of the line (label 300 x 200).
    const QPointF mid = (there->line.p1() + there->line.p2()) / 2;
    EXPECT_EQ(label.captionPos, mid - QPointF(150, 100));
    EXPECT_FALSE(d.view.links[back->LineIndex].captionVisible);

    // The shown caption follows the line when a node moves.
    d.shapes.MoveShape(2, 3000, 3000);
    d.lines.UpdateConntectedLines("2");
    EXPECT_EQ(d.view.links[there->LineIndex].captionPos,
              (there->line.p1() + there->line.p2()) / 2 - QPointF(150, 100));

    // An empty answer clears the caption and hides the label.
    d.view.answers = {QString(), QString()};
    d.lines.AddCaptionToLine("1", "2");
    EXPECT_EQ(there->sCaption, "");
    EXPECT_FALSE(d.view.links[there->LineIndex].captionVisible);
}
