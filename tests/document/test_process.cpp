#include <gtest/gtest.h>

#include "Collect.h"
#include "document/clsProcess.h"

namespace {

QStringList chain(const cLines& lines) {
    QStringList out;
    for (const cLineRef& l : lines.Collection())
        out << l->sFrom + ">" + l->sTo;
    return out;
}

}  // namespace

TEST(Process, CollectionsAreCreatedOnceAndKept) {
    clsProcess process;
    EXPECT_EQ(process.Shapes(), process.Shapes());
    cShapes* shapes = process.Shapes();
    process.LoadIntegration("");
    EXPECT_EQ(process.Shapes(), shapes);
    EXPECT_NE(process.Log(), nullptr);
}

TEST(Process, InsertShapeAtEndPutsTheNodeBeforeTheStop) {
    clsProcess process;
    ASSERT_EQ(process.LoadIntegration(""), "");
    cLines& lines = *process.Lines();
    lines.item(2)->sCaption = "last";  // TARGET(2) -> END(3)
    const auto cb = process.Shapes()->AddShape(aStorage, 6000, 2000, "NEW");

    ASSERT_TRUE(process.insertShapeAtEnd(cb));
    EXPECT_EQ(chain(lines), QStringList({"1>4", "5>3", "4>2", "2>5"}));
    EXPECT_EQ(lines.item(2)->sCaption, "last");  // the old link keeps its caption
    EXPECT_EQ(lines.item(4)->sCaption, "");
    // The re-pointed link was routed again from its new start.
    EXPECT_FLOAT_EQ(float(lines.item(2)->line.x1()), cb->Left + cb->Width);  // END lies to its right

    // The same node again would link it to itself.
    EXPECT_FALSE(process.insertShapeAtEnd(cb));
    EXPECT_EQ(lines.Count(), 4);
}

TEST(Process, InsertShapeAtEndTakesTheFirstLinkIntoTheStop) {
    clsProcess process;
    process.LoadIntegration("");
    cShapes& shapes = *process.Shapes();
    cLines& lines = *process.Lines();
    lines.addLine("4", "3", "");  // SOURCE -> END, after TARGET -> END
    const auto cb = shapes.AddShape(aStorage, 0, 0);
    ASSERT_TRUE(process.insertShapeAtEnd(cb));
    EXPECT_EQ(chain(lines), QStringList({"1>4", "5>3", "4>2", "4>3", "2>5"}));
}

TEST(Process, InsertShapeAtEndWithoutAStopOrALinkIntoItChangesNothing) {
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    shapes.AddShape(aStart, 0, 0);
    const auto cb = shapes.AddShape(aStorage, 0, 0);
    EXPECT_FALSE(process.insertShapeAtEnd(cb));  // no stop node
    shapes.AddShape(aStop, 0, 0);
    process.Lines()->addLine("1", "2", "");
    EXPECT_FALSE(process.insertShapeAtEnd(cb));  // nothing enters the stop node
    EXPECT_EQ(chain(*process.Lines()), QStringList({"1>2"}));
    EXPECT_FALSE(process.insertShapeAtEnd(nullptr));
}

TEST(Process, FormulaInUseByMappingOrLookupInAnyCase) {
    clsProcess process;
    cShapes& shapes = *process.Shapes();
    const auto data = shapes.AddShape(aData, 0, 0);
    tData source;
    source.fields = std::make_shared<tFieldsList>();
    source.fields->Add(tFields{"A", 3, 4, "FORMULA!Unused", ""});
    shapes.AddElementsToNode(data->Key, source);
    shapes.AddShape(aStorage, 0, 0);  // fields not set yet
    const auto target = shapes.AddShape(aStorage, 0, 0);
    tStorage storage;
    storage.fields = std::make_shared<tFieldsList>();
    storage.fields->Add(tFields{"ID", 3, 4, "", "FORMULA!Key"}, "ID");
    storage.fields->Add(tFields{"Total", 5, 8, "FORMULA!Total", ""}, "Total");
    storage.fields->Add(tFields{"Note", 200, 50, "Src(\"FORMULA!Note\")", ""}, "Note");
    shapes.AddElementsToNode(target->Key, storage);

    EXPECT_TRUE(process.isFormulaUsed("Total"));
    EXPECT_TRUE(process.isFormulaUsed("total"));
    EXPECT_TRUE(process.isFormulaUsed("KEY"));
    EXPECT_FALSE(process.isFormulaUsed("Note"));    // not a formula reference
    EXPECT_FALSE(process.isFormulaUsed("Unused"));  // data steps map nothing
    EXPECT_FALSE(process.isFormulaUsed("Tot"));
}

TEST(Formulas, NamesAreUniqueInAnyLetterCase) {
    cFormulas formulas;
    const auto errors = collect(&formulas, &cFormulas::Error);
    EXPECT_TRUE(formulas.AddFormula("Total", "Function Main\r\nMain = 1\r\nEnd Function"));
    EXPECT_TRUE(formulas.AddFormula("Other", "x"));
    EXPECT_FALSE(formulas.AddFormula("total", "y"));
    EXPECT_FALSE(formulas.AddFormula("", "z"));
    ASSERT_EQ(errors->size(), 2);
    EXPECT_EQ(errors->at(0), cFormulas::DuplicateKeyDescription);
    EXPECT_EQ(formulas.Count(), 2);
    EXPECT_EQ(formulas.Collection().item("TOTAL")->formula, "Function Main\r\nMain = 1\r\nEnd Function");
    EXPECT_EQ(formulas.Collection().KeyAt(2), "Other");

    // Changing a formula is removing it and adding it again, at the end.
    formulas.Collection().Remove("total");
    EXPECT_TRUE(formulas.AddFormula("Total", "new"));
    EXPECT_EQ(formulas.Collection().KeyAt(1), "Other");
    EXPECT_EQ(formulas.Collection().Position("TOTAL"), 2);
}
