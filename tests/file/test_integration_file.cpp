#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <sys/stat.h>
#include <limits>

#include "Collect.h"
#include "RecordingView.h"
#include "document/clsProcess.h"

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Everything a document holds, as comparable text.
QStringList describe(const clsProcess& p) {
    QStringList out;
    for (const cShapeRef& n : p.Shapes()->Collection()) {
        QString line = QStringLiteral("node %1 %2 kind=%3 at %4,%5 '%6'")
                           .arg(n->Key)
                           .arg(n->Index)
                           .arg(n->objType)
                           .arg(double(n->Left))
                           .arg(double(n->Top))
                           .arg(n->sCaption);
        auto fields = [](const tFieldsRef& f) {
            // The file writes no fields and an unset list alike.
            if (!f || f->isEmpty())
                return QStringLiteral(" fields=");
            QString s = QStringLiteral(" fields=");
            for (const auto& e : f->Entries())
                s += QStringLiteral("[%1|%2|%3|%4|%5|%6]")
                         .arg(e.key, e.value.f_name)
                         .arg(e.value.f_type)
                         .arg(e.value.f_size)
                         .arg(e.value.f_value, e.value.f_lookup);
            return s;
        };
        if (const tData* d = n->dataRecord())
            line += QStringLiteral(" data[%1|%2|%3|%4]").arg(d->connName, d->connString, d->sourcetype, d->Source) +
                    fields(d->fields);
        if (const tStorage* s = n->storageRecord())
            line += QStringLiteral(" storage[%1|%2|%3|%4|%5]")
                        .arg(s->connName, s->connString, s->targettype, s->target, s->shpOperation) +
                    fields(s->fields);
        if (const tDecission* c = n->decisionRecord())
            line += QStringLiteral(" condition[%1]").arg(c->condition);
        if (std::holds_alternative<QString>(n->objElements))
            line += QStringLiteral(" text");
        out << line;
    }
    // The file keeps the order of the links leaving each node (the walk takes
    // the first), listed node by node.
    for (const cShapeRef& n : p.Shapes()->Collection())
        for (const cLineRef& l : p.Lines()->Collection())
            if (l->sFrom.toInt() == n->Index)
                out << QStringLiteral("link %1>%2 '%3'").arg(l->sFrom, l->sTo, l->sCaption);
    for (const tFormula& f : p.Formulas()->Collection())
        out << QStringLiteral("formula %1=%2").arg(f.name, f.formula);
    return out;
}

const char* const OriginalLayout = R"(<?xml version="1.0"?>
<meridox xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="meridox.xsd"><nodes><node type="start" x="660" y="500" caption="START"><next caption="">2</next></node><node type="data" x="2550" y="500" caption="Orders"><dataconn><connname>shop</connname><connstring>Provider=SQLite;Data Source=/tmp/shop.db</connstring></dataconn><datasource type="table">orders</datasource><datafields><field name="id" type="3" size="4"/><field name="note" type="203" size="1073741823"/></datafields><previous caption="">1</previous><next caption="ok">3</next></node><node type="storage" x="4800" y="500" caption="Copy"><storageconn><connname>dw</connname><connstring>Provider=SQLite;Data Source=/tmp/dw.db</connstring><operation>Insert</operation></storageconn><storagetarget type="table">facts</storagetarget><storagefields><field name="id" type="3" size="4"><f_value>Orders("id")</f_value><f_lookup></f_lookup></field><field name="total" type="5" size="8"><f_value>FORMULA!Total</f_value><f_lookup/></field></storagefields><previous caption="ok">2</previous><next caption="">4</next></node><node type="stop" x="7140" y="500" caption="END"><previous caption="">3</previous></node></nodes><formula><formula name="Total">Function Main
  Main = Orders("id") * 2
End Function</formula></formula></meridox>
)";

}  // namespace

TEST(IntegrationFile, EmptyIntegrationIsTheFourNodeChain) {
    clsProcess p;
    ASSERT_EQ(p.LoadIntegration(""), "");
    EXPECT_EQ(p.Filename(), "");
    EXPECT_EQ(describe(p),
              QStringList({"node k1 1 kind=1 at 660,500 'START'",
                           "node k2 2 kind=4 at 4800,500 'TARGET' storage[||table||UpdateInsert] fields=",
                           "node k3 3 kind=10 at 7140,500 'END' text",
                           "node k4 4 kind=5 at 2550,500 'SOURCE' data[||sql|] fields=",
                           "link 1>4 ''", "link 2>3 ''", "link 4>2 ''"}));
    EXPECT_FALSE(p.Shapes()->item("k2")->storageRecord()->fields);
    EXPECT_FALSE(p.Shapes()->item("k4")->dataRecord()->fields);
    QStringList order;
    for (const cLineRef& l : p.Lines()->Collection())
        order << l->sFrom + ">" + l->sTo;
    EXPECT_EQ(order, QStringList({"1>4", "2>3", "4>2"}));
}

TEST(IntegrationFile, RoundTripKeepsEverything) {
    QTemporaryDir dir;
    clsProcess p;
    ASSERT_EQ(p.LoadIntegration(""), "");
    cShapes& shapes = *p.Shapes();

    tData source;
    source.connName = "shop";
    source.connString = "Provider=SQLite;Data Source=/tmp/a&b <c>.db";
    source.sourcetype = "sql";
    source.Source = "SELECT *\r\nFROM \"Orders\" WHERE note <> 'x' & 1";
    source.fields = std::make_shared<tFieldsList>();
    source.fields->Add(tFields{"id", 3, 4, "", ""});
    source.fields->Add(tFields{"memo", 203, 1073741823, "", ""});
    shapes.AddElementsToNode("k4", source);

    tStorage target;
    target.connName = "dw";
    target.targettype = "table";
    target.target = "Fäcts";
    target.shpOperation = "Lookup";
    target.fields = std::make_shared<tFieldsList>();
    target.fields->Add(tFields{"id", 3, 4, "SOURCE(\"id\")", "SOURCE(\"id\")"}, "id");
    target.fields->Add(tFields{"total", 5, 8, "FORMULA!Total", ""}, "total");
    shapes.AddElementsToNode("k2", target);

    const auto decision = shapes.AddShape(aDecission, 100.5F, -20, "Is it?");
    tDecission cond{"a < b && \"c\""};
    shapes.AddElementsToNode(decision->Key, cond);
    for (int kind = aProcess; kind <= aPoint; ++kind)
        if (kind != aDecission && kind != aStorage && kind != aData)
            shapes.AddShape(std::int16_t(kind), float(kind * 100), 3000, QStringLiteral("kind %1").arg(kind));
    shapes.AddShape(aStorage, 9000, 9000, "");  // fields never set
    p.Lines()->addLine("2", QString::number(decision->Index), "yes → ünïcode \"q\" <&>");
    p.Lines()->addLine(QString::number(decision->Index), "3", "");
    p.Formulas()->AddFormula("Total", "Function Main\r\n  Main = \"<&>\" & Chr(10)\r\nEnd Function");
    p.Formulas()->AddFormula("Ünï", "x\ny\r\n\r\n  ");

    const QString path = dir.filePath("doc.xml");
    ASSERT_EQ(p.SaveIntegration(path), "");
    EXPECT_EQ(p.Filename(), path);

    clsProcess q;
    ASSERT_EQ(q.LoadIntegration(path), "");
    EXPECT_EQ(describe(q), describe(p));
    EXPECT_EQ(q.Filename(), path);

    // A loaded document is written back byte for byte.
    const QString again = dir.filePath("again.xml");
    ASSERT_EQ(q.SaveIntegration(again), "");
    clsProcess r;
    ASSERT_EQ(r.LoadIntegration(again), "");
    const QString third = dir.filePath("third.xml");
    ASSERT_EQ(r.SaveIntegration(third), "");
    EXPECT_EQ(readFile(third), readFile(again));
}

TEST(IntegrationFile, WriterKeepsTheFileLayout) {
    QTemporaryDir dir;
    clsProcess p;
    p.LoadIntegration("");
    const QString path = dir.filePath("t.xml");
    ASSERT_EQ(p.SaveIntegration(path), "");
    const QString text = QString::fromUtf8(readFile(path));
    EXPECT_TRUE(text.contains(
        "<meridox xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"meridox.xsd\">"));
    EXPECT_TRUE(text.contains("<node type=\"start\" x=\"660\" y=\"500\" caption=\"START\">"));
    EXPECT_TRUE(text.contains("<node type=\"stop\" x=\"7140\" y=\"500\" caption=\"END\">"));
    // TARGET is second in the file: it leaves for END (3) and is entered from SOURCE (4).
    const qsizetype target = text.indexOf("caption=\"TARGET\"");
    const qsizetype next = text.indexOf("<next caption=\"\">3</next>", target);
    const qsizetype previous = text.indexOf("<previous caption=\"\">4</previous>", target);
    EXPECT_TRUE(target > 0 && next > target && previous > next);
    EXPECT_TRUE(text.indexOf("<storageconn>", target) < text.indexOf("<storagetarget type=\"table\"", target));
    EXPECT_TRUE(text.contains("<formula"));
    EXPECT_FALSE(text.contains("<formulas"));
}

TEST(IntegrationFile, ReadsTheOriginalLayoutAndAttributesInAnyOrder) {
    QTemporaryDir dir;
    clsProcess p;
    const QString path = writeFile(dir, "orig.xml", OriginalLayout);
    ASSERT_EQ(p.LoadIntegration(path), "");
    const QStringList expected = {
        "node k1 1 kind=1 at 660,500 'START'",
        "node k2 2 kind=5 at 2550,500 'Orders' data[shop|Provider=SQLite;Data Source=/tmp/shop.db|table|orders] "
        "fields=[|id|3|4||][|note|203|1073741823||]",
        "node k3 3 kind=4 at 4800,500 'Copy' storage[dw|Provider=SQLite;Data Source=/tmp/dw.db|table|facts|Insert] "
        "fields=[id|id|3|4|Orders(\"id\")|][total|total|5|8|FORMULA!Total|]",
        "node k4 4 kind=10 at 7140,500 'END' text",
        "link 1>2 ''", "link 2>3 'ok'", "link 3>4 ''",
        "formula Total=Function Main\n  Main = Orders(\"id\") * 2\nEnd Function"};
    EXPECT_EQ(describe(p), expected);

    QByteArray reordered(OriginalLayout);
    reordered.replace(R"(<node type="data" x="2550" y="500" caption="Orders">)",
                      R"(<node caption="Orders" y="500" type="data" x="2550">)");
    reordered.replace(R"(<field name="note" type="203" size="1073741823"/>)",
                      R"(<field size="1073741823" name="note" type="203"/>)");
    reordered.replace(R"(<formula name="Total">)", R"(<formula junk="1" name="Total">)");
    clsProcess q;
    ASSERT_EQ(q.LoadIntegration(writeFile(dir, "reordered.xml", reordered)), "");
    EXPECT_EQ(describe(q), expected);
}

TEST(IntegrationFile, RefusedFilesChangeNothing) {
    QTemporaryDir dir;
    const QByteArray orig(OriginalLayout);
    struct Case {
        const char* name;
        QByteArray content;
        const char* reasonPart;
    };
    // A lone surrogate can reach the reader through a UTF-16 file.
    QString lone = QString::fromUtf8(orig);
    lone.replace(R"(<?xml version="1.0"?>)", R"(<?xml version="1.0" encoding="UTF-16"?>)");
    lone.replace(R"(caption="END")", QStringLiteral("caption=\"E") + QChar(0xD800) + QStringLiteral("ND\""));
    QByteArray surrogate("\xFF\xFE");
    surrogate.append(reinterpret_cast<const char*>(lone.utf16()), lone.size() * 2);
    QByteArray wordNext = orig;
    wordNext.replace("<next caption=\"\">4</next>", "<next caption=\"\">four</next>");
    QByteArray twice = orig;
    twice.replace(R"(<field name="total")", R"(<field name="ID")");
    QByteArray badType = orig;
    badType.replace(R"(type="203")", R"(type="memo")");
    QByteArray noCaption = orig;
    noCaption.replace(R"( caption="END")", "");
    const Case cases[] = {
        {"truncated", orig.left(orig.size() / 2), "Premature end"},
        {"wrong root", QByteArray("<?xml version=\"1.0\"?>\n<integration><nodes/></integration>"), "'integration'"},
        {"lone surrogate", surrogate, "cannot hold (U+D800)"},
        {"next not a number", wordNext, "'four'"},
        {"field named twice", twice, "'ID' twice"},
        {"field type not a number", badType, "'memo' is not a number"},
        {"node without caption", noCaption, "'caption'"},
        {"document type declaration",
         QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE meridox [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
                    "<meridox><nodes><node type=\"start\" x=\"0\" y=\"0\" caption=\"&x;\"/></nodes></meridox>"),
         "document type declaration"},
    };
    for (const Case& c : cases) {
        clsProcess p;
        ASSERT_EQ(p.LoadIntegration(""), "");
        const QStringList before = describe(p);
        const QString path = writeFile(dir, QStringLiteral("case.xml"), c.content);
        const QString error = p.LoadIntegration(path);
        EXPECT_TRUE(error.startsWith("Your XML Document failed to loaddue the following error.\r\nError #: "))
            << c.name << ": " << error.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(c.reasonPart))) << c.name << ": " << error.toStdString();
        EXPECT_TRUE(error.contains("\r\nLine Position: ")) << c.name;
        EXPECT_TRUE(error.endsWith("\r\nDocument URL: " + path)) << c.name;
        EXPECT_EQ(describe(p), before) << c.name;
        EXPECT_EQ(p.Filename(), "") << c.name;
    }

    clsProcess p;
    const QString missing = dir.filePath("missing.xml");
    const QString error = p.LoadIntegration(missing);
    EXPECT_TRUE(error.startsWith("Your XML Document failed to load")) << error.toStdString();
    EXPECT_EQ(p.Shapes()->Count(), 0);
}

TEST(IntegrationFile, ParseErrorNamesTheLineAndItsText) {
    QTemporaryDir dir;
    clsProcess p;
    const QString path =
        writeFile(dir, "bad.xml", "<?xml version=\"1.0\"?>\n<meridox>\n<nodes>\n<node type=\"start\"</nodes>\n</meridox>\n");
    const QString error = p.LoadIntegration(path);
    EXPECT_TRUE(error.contains("Line #: 4\r\n")) << error.toStdString();
    EXPECT_TRUE(error.contains("Source Text: <node type=\"start\"</nodes>\r\n")) << error.toStdString();
}

// A step's connection string copied from the registry carries its password:
// a new file holding one is readable by its owner only, as the registry is.
// A file without a password gets the usual rights, and an existing file keeps
// the rights its owner gave it.
TEST(IntegrationFile, ANewFileHoldingAPasswordIsForItsOwnerOnly) {
    QTemporaryDir dir;
    const mode_t saved = ::umask(022);
    clsProcess p;
    ASSERT_EQ(p.LoadIntegration(""), "");
    const QString plain = dir.filePath("plain.xml");
    ASSERT_EQ(p.SaveIntegration(plain), "");

    tData source;
    source.connName = "pg";
    source.connString = "Provider=PostgreSQL;Data Source=db;User ID=ana;Password=s3cret";
    source.sourcetype = "table";
    source.Source = "orders";
    p.Shapes()->AddElementsToNode("k4", source);
    const QString secret = dir.filePath("secret.xml");
    ASSERT_EQ(p.SaveIntegration(secret), "");
    ASSERT_TRUE(QFile::setPermissions(plain, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_EQ(p.SaveIntegration(plain), "");
    ::umask(saved);

    EXPECT_EQ(QFile::permissions(secret) & 0x0FFF, QFile::ReadUser | QFile::WriteUser);
    EXPECT_EQ(QFile::permissions(plain) & 0x0FFF, QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    EXPECT_TRUE(readFile(plain).contains("Password=s3cret"));
    clsProcess q;
    ASSERT_EQ(q.LoadIntegration(""), "");
    const QString empty = dir.filePath("empty.xml");
    ASSERT_EQ(q.SaveIntegration(empty), "");
    EXPECT_EQ(QFile::permissions(empty) & 0x0FFF, QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
}

// The "Source Text" of a parse error is a line of the file; a password on it
// is not repeated in the error.
TEST(IntegrationFile, ParseErrorHidesAPasswordOnTheLine) {
    QTemporaryDir dir;
    clsProcess p;
    const QString path = writeFile(dir, "bad.xml",
                                   "<?xml version=\"1.0\"?>\n<meridox><nodes>\n<node type=\"data\"><dataconn><connstring>"
                                   "Provider=PostgreSQL;PWD='a;b';Password=x&y</connstring>\n</nodes></meridox>\n");
    const QString error = p.LoadIntegration(path);
    EXPECT_TRUE(error.contains("Line #: 3\r\n")) << error.toStdString();
    EXPECT_TRUE(error.contains("Source Text: <node type=\"data\"><dataconn><connstring>Provider=PostgreSQL;PWD=****;"
                               "Password=****</connstring>\r\n"))
        << error.toStdString();
}

TEST(IntegrationFile, DuplicateFormulaKeepsTheFirstAndSaysSo) {
    QTemporaryDir dir;
    QByteArray content(OriginalLayout);
    content.replace("</formula></meridox>", "<formula name=\"TOTAL\">second</formula></formula></meridox>");
    clsProcess p;
    const auto errors = collect(p.Formulas(), &cFormulas::Error);
    const QString path = writeFile(dir, "dup.xml", content);
    ASSERT_EQ(p.LoadIntegration(path), "");
    ASSERT_EQ(p.Formulas()->Count(), 1);
    EXPECT_TRUE(p.Formulas()->Collection().item(1)->formula.startsWith("Function Main"));
    EXPECT_EQ(errors->size(), 1);
    EXPECT_TRUE(p.Log()->Text().contains("Formula 'TOTAL'")) << p.Log()->Text().toStdString();
}

TEST(IntegrationFile, LoadingIntoADocumentWithNodesMapsPositionsToNewNumbers) {
    clsProcess p;
    p.Shapes()->AddShape(aProcess, 0, 0, "old");
    p.Shapes()->AddShape(aProcess, 0, 0, "older");
    p.Shapes()->removeShape(2);
    ASSERT_EQ(p.LoadIntegration(""), "");
    QStringList links;
    for (const cLineRef& l : p.Lines()->Collection())
        links << l->sFrom + ">" + l->sTo;
    // START, TARGET, END, SOURCE became 3, 4, 5, 6.
    EXPECT_EQ(links, QStringList({"3>6", "4>5", "6>4"}));
    EXPECT_EQ(p.Shapes()->item("k6")->sCaption, "SOURCE");
}

TEST(IntegrationFile, GapsInNodeNumbersAreWrittenAsPositions) {
    QTemporaryDir dir;
    clsProcess p;
    p.LoadIntegration("");
    const auto extra = p.Shapes()->AddShape(aProcess, 0, 3000, "X");
    p.Lines()->addLine("4", QString::number(extra->Index), "to x");
    ASSERT_TRUE(p.Shapes()->removeShape(2));  // TARGET and its links go
    const QString path = dir.filePath("gaps.xml");
    ASSERT_EQ(p.SaveIntegration(path), "");

    clsProcess q;
    ASSERT_EQ(q.LoadIntegration(path), "");
    QStringList nodes, links;
    for (const cShapeRef& n : q.Shapes()->Collection())
        nodes << QString::number(n->Index) + n->sCaption;
    for (const cLineRef& l : q.Lines()->Collection())
        links << l->sFrom + ">" + l->sTo + " " + l->sCaption;
    EXPECT_EQ(nodes, QStringList({"1START", "2END", "3SOURCE", "4X"}));
    EXPECT_EQ(links, QStringList({"1>3 ", "3>4 to x"}));
}

TEST(IntegrationFile, SelfLinkAndUnknownKindFromAHandEditedFile) {
    QTemporaryDir dir;
    QByteArray content(OriginalLayout);
    content.replace(R"(<next caption="">4</next></node><node type="stop")",
                    R"(<next caption="">4</next><next caption="loop">3</next></node><node type="stop")");
    content.replace(R"(type="start")", R"(type="begin")");
    clsProcess p;
    const auto linkErrors = collect(p.Lines(), &cLines::linkError);
    ASSERT_EQ(p.LoadIntegration(writeFile(dir, "self.xml", content)), "");
    EXPECT_EQ(p.Lines()->Count(), 3);
    EXPECT_EQ(linkErrors->size(), 1);
    EXPECT_TRUE(p.Log()->Text().contains("was not loaded"));
    EXPECT_EQ(p.Shapes()->item(1)->objType, aNothing);

    const QString path = dir.filePath("out.xml");
    ASSERT_EQ(p.SaveIntegration(path), "");
    EXPECT_TRUE(readFile(path).contains(R"(<node type="" x="660")"));
}

// Links to "0", beyond the nodes or to nothing are left out one by one, each
// with a log line; the rest of the file loads.
TEST(IntegrationFile, StrayLinksAreLeftOutAndTheRestLoads) {
    QTemporaryDir dir;
    QByteArray content(OriginalLayout);
    content.replace(R"(<next caption="">2</next>)",
                    R"(<next caption="zero">0</next><next caption="">2</next><next caption="far">9</next>)");
    content.replace(R"(<next caption="">4</next>)", R"(<next caption="none"> </next><next caption="">4</next>)");
    clsProcess p;
    const auto linkErrors = collect(p.Lines(), &cLines::linkError);
    const QString path = writeFile(dir, "stray.xml", content);
    ASSERT_EQ(p.LoadIntegration(path), "");
    EXPECT_EQ(p.Shapes()->Count(), 4);
    QStringList links;
    for (const cLineRef& l : p.Lines()->Collection())
        links << l->sFrom + ">" + l->sTo + " " + l->sCaption;
    EXPECT_EQ(links, QStringList({"1>2 ", "2>3 ok", "3>4 "}));
    EXPECT_EQ(linkErrors->size(), 3);
    const QString log = p.Log()->Text();
    EXPECT_TRUE(log.contains("Link from node 1 of " + path + " was not loaded: its target '0' names no node."))
        << log.toStdString();
    EXPECT_TRUE(log.contains("Link from node 1 of " + path + " was not loaded: its target '9' names no node."));
    EXPECT_TRUE(log.contains("Link from node 3 of " + path + " was not loaded: its target '' names no node."));
    EXPECT_EQ(p.Filename(), path);
}

TEST(IntegrationFile, CaptionsFromAFileAreKeptWithTheirLabelsHidden) {
    QTemporaryDir dir;
    RecordingView view;
    clsProcess p;
    QByteArray content(OriginalLayout);
    content.replace(R"(caption="END")", R"(caption="")");
    ASSERT_EQ(p.LoadIntegration(writeFile(dir, "c.xml", content), &view), "");
    EXPECT_EQ(p.Lines()->item(2)->sCaption, "ok");
    EXPECT_FALSE(view.links[2].captionVisible);
    EXPECT_TRUE(view.nodes[2].captionVisible);
    EXPECT_FALSE(view.nodes[4].captionVisible);
    EXPECT_EQ(p.Shapes()->Form(), &view);
}

TEST(IntegrationFile, FailedSaveKeepsTheOldFileAndName) {
    QTemporaryDir dir;
    clsProcess p;
    p.LoadIntegration("");
    const QString path = dir.filePath("keep.xml");
    ASSERT_EQ(p.SaveIntegration(path), "");
    const QByteArray good = readFile(path);

    // Text XML cannot hold.
    p.Shapes()->AddShape(aProcess, 0, 0, QStringLiteral("bell\x07"));
    QString error = p.SaveIntegration();
    EXPECT_TRUE(error.contains("U+0007")) << error.toStdString();
    EXPECT_EQ(readFile(path), good);
    EXPECT_TRUE(p.Log()->Text().contains(error));

    // A folder that does not exist.
    p.Shapes()->item(5)->sCaption = "fine";
    error = p.SaveIntegration(dir.filePath("no/such/folder/x.xml"));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(p.Filename(), path);

    ASSERT_EQ(p.SaveIntegration(), "");
    EXPECT_NE(readFile(path), good);

    clsProcess unnamed;
    EXPECT_FALSE(unnamed.SaveIntegration().isEmpty());
}

TEST(IntegrationFile, ShippedSampleLoadsAndSurvivesARoundTrip) {
    QTemporaryDir dir;
    QByteArray content = readFile(QStringLiteral(MERIDOX_SAMPLE_DIR "/customers.xml.in"));
    ASSERT_FALSE(content.isEmpty());
    content.replace("@SOURCE_DB@", dir.filePath("source.db").toUtf8());
    content.replace("@TARGET_DB@", dir.filePath("target.db").toUtf8());
    const QString path = writeFile(dir, "customers.xml", content);

    clsProcess p;
    ASSERT_EQ(p.LoadIntegration(path), "");
    QStringList nodes;
    for (const cShapeRef& n : p.Shapes()->Collection())
        nodes << QStringLiteral("%1:%2:%3").arg(n->Index).arg(n->objType).arg(n->sCaption);
    EXPECT_EQ(nodes, QStringList({"1:1:START", "2:5:SOURCE", "3:4:COUNTRY", "4:4:TARGET", "5:10:END"}));
    QStringList links;
    for (const cLineRef& l : p.Lines()->Collection())
        links << l->sFrom + ">" + l->sTo;
    EXPECT_EQ(links, QStringList({"1>2", "2>3", "3>4", "4>5"}));
    const tData* source = p.Shapes()->item("k2")->dataRecord();
    ASSERT_TRUE(source && source->fields);
    EXPECT_EQ(source->fields->Count(), 7);
    EXPECT_EQ(source->connString, "Provider=SQLite;Data Source=" + dir.filePath("source.db"));
    const tStorage* country = p.Shapes()->item("k3")->storageRecord();
    ASSERT_TRUE(country && country->fields);
    EXPECT_EQ(country->shpOperation, "Lookup");
    EXPECT_EQ(country->fields->item("code")->f_lookup, "SOURCE(\"country_code\")");
    ASSERT_EQ(p.Formulas()->Count(), 2);
    const QString fullName = p.Formulas()->Collection().item("fullname")->formula;
    EXPECT_TRUE(fullName.contains(QStringLiteral("\"GARCÍA, Ana\""))) << fullName.toStdString();
    EXPECT_TRUE(fullName.contains(" & \", \" & ")) << fullName.toStdString();  // entities resolved
    EXPECT_TRUE(p.isFormulaUsed("SyncTime"));

    const QString copy = dir.filePath("copy.xml");
    ASSERT_EQ(p.SaveIntegration(copy), "");
    clsProcess q;
    ASSERT_EQ(q.LoadIntegration(copy), "");
    EXPECT_EQ(describe(q), describe(p));
}

TEST(IntegrationFile, ExactPositionsAndLineBreaksInAttributesSurvive) {
    QTemporaryDir dir;
    clsProcess p;
    cShapes& shapes = *p.Shapes();
    const auto far = shapes.AddShape(aProcess, 1234567.5F, -0.25F, QStringLiteral("two\r\nlines\tand <&> \"q\""));
    const auto near = shapes.AddShape(aStorage, 100.1F, 3.0e-5F, QStringLiteral(" padded "));
    tStorage target;
    target.fields = std::make_shared<tFieldsList>();
    target.fields->Add(tFields{"big", 205, std::numeric_limits<std::int32_t>::max(), "", ""}, "big");
    target.fields->Add(tFields{"unknown", 203, -1, "a\r\n", "\rx\r"}, "unknown");
    shapes.AddElementsToNode(near->Key, target);
    p.Lines()->addLine("1", "2", QStringLiteral("yes\r\nno"));
    const QString path = dir.filePath("exact.xml");
    ASSERT_EQ(p.SaveIntegration(path), "");

    clsProcess q;
    ASSERT_EQ(q.LoadIntegration(path), "");
    ASSERT_EQ(q.Shapes()->Count(), 2);
    const auto a = q.Shapes()->item(1);
    const auto b = q.Shapes()->item(2);
    EXPECT_EQ(a->Left, far->Left);
    EXPECT_EQ(a->Top, far->Top);
    EXPECT_EQ(b->Left, near->Left);
    EXPECT_EQ(b->Top, near->Top);
    EXPECT_EQ(a->sCaption, far->sCaption);
    EXPECT_EQ(b->sCaption, " padded ");
    EXPECT_EQ(q.Lines()->item(1)->sCaption, "yes\r\nno");
    const tStorage* read = b->storageRecord();
    ASSERT_TRUE(read && read->fields);
    EXPECT_EQ(read->fields->item("big")->f_size, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(read->fields->item("unknown")->f_size, -1);
    EXPECT_EQ(read->fields->item("unknown")->f_value, "a\r\n");
    EXPECT_EQ(read->fields->item("unknown")->f_lookup, "\rx\r");
}

TEST(IntegrationFile, PositionsBeyondWhatANodeCanHoldReadAsZero) {
    QTemporaryDir dir;
    QByteArray content(OriginalLayout);
    content.replace(R"(x="660")", R"(x="1e40")");
    content.replace(R"(x="7140")", R"(x="-3.5e39")");
    // Within the float range but far beyond any drawing: held at the edge,
    // and the link routing stays in range (checked under UBSan too).
    content.replace(R"(x="2550")", R"(x="3.4e38")");
    content.replace(R"(y="500" caption="Copy")", R"(y="-3.3e38" caption="Copy")");
    clsProcess p;
    RecordingView view;
    ASSERT_EQ(p.LoadIntegration(writeFile(dir, "far.xml", content), &view), "");
    EXPECT_EQ(p.Shapes()->item(1)->Left, 0.0F);
    EXPECT_EQ(p.Shapes()->item(4)->Left, 0.0F);
    EXPECT_EQ(p.Shapes()->item(2)->Left, MaxNodePosition);
    EXPECT_EQ(p.Shapes()->item(3)->Top, -MaxNodePosition);
    // Routing again compares the drawn ends in whole twips.
    p.Lines()->UpdateConntectedLines("2");
    p.Lines()->UpdateConntectedLines("3");
    for (const cLineRef& l : p.Lines()->Collection())
        EXPECT_TRUE(std::isfinite(l->line.x1()) && std::isfinite(l->line.x2()) && std::isfinite(l->line.y2()));
    p.Shapes()->MoveShape(2, -std::numeric_limits<float>::max(), std::numeric_limits<float>::infinity());
    p.Lines()->UpdateConntectedLines("2");
    EXPECT_EQ(p.Shapes()->item(2)->Left, -MaxNodePosition);
    EXPECT_EQ(p.Shapes()->item(2)->Top, 0.0F);
}

TEST(IntegrationFile, FoldersAreNeitherReadNorOverwritten) {
    QTemporaryDir dir;
    clsProcess p;
    ASSERT_EQ(p.LoadIntegration(""), "");
    EXPECT_TRUE(p.LoadIntegration(dir.path()).startsWith("Your XML Document failed to load"));
    EXPECT_EQ(p.Shapes()->Count(), 4);
    EXPECT_FALSE(p.SaveIntegration(dir.path()).isEmpty());
    EXPECT_EQ(p.Filename(), "");
}

TEST(IntegrationFile, ANamelessFormulaIsLeftOutWithItsReason) {
    QTemporaryDir dir;
    QByteArray content(OriginalLayout);
    content.replace("</formula></meridox>", "<formula>orphan</formula></formula></meridox>");
    clsProcess p;
    ASSERT_EQ(p.LoadIntegration(writeFile(dir, "nameless.xml", content)), "");
    EXPECT_EQ(p.Formulas()->Count(), 1);
    EXPECT_TRUE(p.Log()->Text().contains("Invalid procedure call or argument")) << p.Log()->Text().toStdString();
    EXPECT_FALSE(p.Log()->Text().contains("already"));
}
