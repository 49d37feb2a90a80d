#include "stores/cMeridoxData.h"

#include "data/Recordset.h"
#include "data/RowsetXml.h"
#include "stores/basUtils.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <map>
#include <memory>
#include <vector>

namespace {

struct FieldSpec {
    const char* name;
    int type;
    long size;
};

const std::map<kindrecordset, std::pair<QString, std::vector<FieldSpec>>>& layouts()
{
    static const std::map<kindrecordset, std::pair<QString, std::vector<FieldSpec>>> all{
        {scheduleddata,
         {"scheduleddata.xml",
          {{"ID", 14, 10}, {"NAME", 129, 255}, {"FROM", 135, 0}, {"TO", 135, 0}, {"EVERY", 5, 0},
           {"KINDEVERY", 3, 2}, {"WEEKDAY", 3, 5}, {"LASTRUN", 135, 0}, {"STATUS", 129, 255}}}},
        {executiondata,
         {"executeddata.xml",
          {{"ID", 14, 10}, {"NAME", 129, 255}, {"RUNTIME", 135, 0}, {"END", 135, 0}, {"ROWS", 14, 10},
           {"RINSERTS", 14, 10}, {"RUPDATES", 14, 10}, {"RDELETED", 14, 10}, {"RERRORS", 14, 10},
           {"RESULT", 129, 255}}}},
        {executionlogdata,
         {"executedlogdata.xml",
          {{"ID", 14, 10}, {"RECORD", 14, 10}, {"NAME", 129, 255}, {"RUNTIME", 135, 0}, {"ERRNUMBER", 14, 10},
           {"ERRDESC", 129, 255}}}},
    };
    return all;
}

QStringList corruptCopies(const QString& folder)
{
    return QDir(folder).entryList({"*.corrupt-*"}, QDir::Files);
}

long rowCount(const QString& file)
{
    ado::RowsetData data;
    QString error;
    if (!ado::loadRowsetXml(file, data, &error))
        return -1;
    return static_cast<long>(data.rows.size());
}

class Stores : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        qputenv("MERIDOX_HOME", QFile::encodeName(dir.path()));
        qputenv("MERIDOX_CONFIG", QFile::encodeName(dir.filePath("none.conf")));
        SetTranslationFolder(dir.path());
    }
    void TearDown() override
    {
        SetTranslationFolder(QString());
        qunsetenv("MERIDOX_HOME");
        qunsetenv("MERIDOX_CONFIG");
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

TEST_F(Stores, MissingStoresAreCreatedWithTheirFieldsInTheRunDataFolder)
{
    // No Path setting: the stores lie in the library folder.
    cMeridoxData data;
    EXPECT_EQ(data.Folder(), QDir::cleanPath(dir.path()));
    for (const auto& [kind, layout] : layouts()) {
        SCOPED_TRACE(layout.first.toStdString());
        EXPECT_FALSE(QFile::exists(path(layout.first)));
        ado::Recordset rs = data.getRS(kind);
        ASSERT_TRUE(rs.isOpen());
        EXPECT_TRUE(data.LastError().isEmpty()) << "a missing store is created silently";
        EXPECT_EQ(rs.RecordCount(), 0);
        EXPECT_TRUE(QFile::exists(path(layout.first)));
        ASSERT_EQ(rs.FieldCount(), static_cast<int>(layout.second.size()));
        for (int i = 0; i < rs.FieldCount(); ++i) {
            const FieldSpec& spec = layout.second[static_cast<size_t>(i)];
            EXPECT_EQ(rs.Fields(i).Name(), spec.name);
            EXPECT_EQ(rs.Fields(i).Type(), spec.type) << spec.name;
            if (spec.type == ado::adChar || spec.type == ado::adDecimal) {
                EXPECT_EQ(rs.Fields(i).DefinedSize(), spec.size) << spec.name;
            }
        }
    }
    EXPECT_FALSE(data.getRS(static_cast<kindrecordset>(3)).isOpen());

    // The setting Path moves the stores; it is read when the object is made.
    QDir(dir.path()).mkdir("rundata");
    QFile conf(path("none.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QString("[General]\nPath=%1\n").arg(path("rundata")).toUtf8());
    conf.close();
    EXPECT_EQ(data.Folder(), QDir::cleanPath(dir.path()));
    cMeridoxData moved;
    EXPECT_EQ(moved.StoreFile(executiondata), path("rundata") + "/executeddata.xml");
    EXPECT_TRUE(moved.getRS(executiondata).isOpen());
    EXPECT_TRUE(QFile::exists(path("rundata/executeddata.xml")));
}

TEST_F(Stores, RowsReadBackWithNullsDatesPaddedAndCutText)
{
    cMeridoxData data(dir.path());
    const QDateTime from(QDate(2024, 2, 29), QTime(8, 0, 0));
    const QString name = "/jobs/integration.xml"; // 21 characters
    StoreResult r = data.appendRow(scheduleddata, {{"NAME", name}, {"FROM", from}, {"TO", from.addDays(30)},
                                                   {"EVERY", 10.0}, {"KINDEVERY", 1}, {"STATUS", "Active"}},
                                   StoreId::Next);
    ASSERT_TRUE(r) << r.error.toStdString();
    EXPECT_EQ(r.id.toLongLong(), 1);

    const QString longText = QString("x").repeated(250) + "ABCDEFGHIJ"; // 260 characters
    r = data.appendRow(executionlogdata, {{"RECORD", 7}, {"NAME", name}, {"RUNTIME", from},
                                          {"ERRNUMBER", -2147217887LL}, {"errdesc", longText}});
    ASSERT_TRUE(r) << "a long message is cut, not refused: " << r.error.toStdString();
    EXPECT_TRUE(r.id.isNull()) << "no ID given, none allocated";

    ado::Recordset job = cMeridoxData(dir.path()).getRS(scheduleddata);
    ASSERT_EQ(job.RecordCount(), 1);
    job.MoveFirst();
    EXPECT_EQ(job.value("NAME").toString().size(), 255);
    EXPECT_EQ(job.value("NAME").toString().trimmed(), name);
    EXPECT_EQ(job.value("STATUS").toString().trimmed(), "Active");
    EXPECT_EQ(job.value("FROM").toDateTime(), from);
    EXPECT_EQ(job.value("EVERY").toDouble(), 10.0);
    EXPECT_EQ(job.value("KINDEVERY").toInt(), 1);
    EXPECT_TRUE(job.value("LASTRUN").isNull());
    EXPECT_TRUE(job.value("WEEKDAY").isNull());

    ado::Recordset err = data.getRS(executionlogdata);
    ASSERT_EQ(err.RecordCount(), 1);
    err.MoveFirst();
    EXPECT_TRUE(err.value("ID").isNull());
    EXPECT_EQ(err.value("RECORD").toLongLong(), 7);
    EXPECT_EQ(err.value("ERRNUMBER").toLongLong(), -2147217887LL);
    EXPECT_EQ(err.value("ERRDESC").toString(), longText.left(255));

    // A message holding a character XML cannot carry keeps its row.
    r = data.appendRow(executionlogdata, {{"RECORD", 8}, {"ERRDESC", QString("Type mismatch: 'a") + QChar(1) + "b'"}});
    ASSERT_TRUE(r) << r.error.toStdString();
    err = data.getRS(executionlogdata);
    ASSERT_EQ(err.RecordCount(), 2) << data.LastError().toStdString();
    err.MoveLast();
    EXPECT_EQ(err.value("ERRDESC").toString().trimmed(),
              QString("Type mismatch: 'a") + QChar(QChar::ReplacementCharacter) + "b'");

    // A bad row is refused whole and the store is left as it was.
    r = data.appendRow(executiondata, {{"NAME", "x"}, {"NOSUCHFIELD", 1}});
    EXPECT_FALSE(r);
    EXPECT_FALSE(r.error.isEmpty());
    r = data.appendRow(executiondata, {{"NAME", "x"}, {"RUNTIME", "not a date"}});
    EXPECT_FALSE(r);
    EXPECT_EQ(data.getRS(executiondata).RecordCount(), 0);
}

TEST_F(Stores, LockedChangesApplyToTheFileAsItIsNow)
{
    cMeridoxData screen(dir.path());
    for (const char* name : {"a.xml", "b.xml", "c.xml"})
        ASSERT_TRUE(screen.appendRow(scheduleddata, {{"NAME", name}, {"STATUS", "Active"}}, StoreId::Next));

    // The scheduler read the store at start; meanwhile the screen adds a job.
    cMeridoxData scheduler(dir.path());
    ado::Recordset loaded = scheduler.getRS(scheduleddata);
    ASSERT_EQ(loaded.RecordCount(), 3);
    StoreResult added = screen.appendRow(scheduleddata, {{"NAME", "d.xml"}, {"ID", 99}}, StoreId::Next);
    ASSERT_TRUE(added);
    EXPECT_EQ(added.id.toLongLong(), 4) << "Next ignores a given ID";

    const QDateTime due(QDate(2024, 5, 1), QTime(9, 30));
    StoreResult r = scheduler.updateRowById(scheduleddata, 2, {{"LASTRUN", due}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r.rows, 1);

    ado::Recordset now = screen.getRS(scheduleddata);
    ASSERT_EQ(now.RecordCount(), 4) << "the job added meanwhile survives";
    QStringList names;
    for (now.MoveFirst(); !now.IsEOF(); now.MoveNext()) {
        names << now.value("NAME").toString().trimmed();
        EXPECT_EQ(now.value("LASTRUN").isNull(), now.value("ID").toLongLong() != 2);
    }
    EXPECT_EQ(names, QStringList({"a.xml", "b.xml", "c.xml", "d.xml"}));

    // Edit by a condition, delete by ID; a change that matches nothing is no failure.
    r = screen.updateRows(scheduleddata,
                          [](const cMeridoxData::Row& row) { return row["NAME"].toString().trimmed() == "c.xml"; },
                          {{"STATUS", "Inactive"}, {"NAME", "c2.xml"}});
    EXPECT_EQ(r.rows, 1);
    EXPECT_TRUE(screen.deleteRowById(scheduleddata, 1));
    r = screen.deleteRowById(scheduleddata, 42);
    EXPECT_TRUE(r);
    EXPECT_EQ(r.rows, 0);
    now = screen.getRS(scheduleddata);
    ASSERT_EQ(now.RecordCount(), 3);
    now.MoveFirst();
    EXPECT_EQ(now.value("ID").toLongLong(), 2);
    now.MoveNext();
    EXPECT_EQ(now.value("NAME").toString().trimmed(), "c2.xml");
    EXPECT_EQ(now.value("STATUS").toString().trimmed(), "Inactive");
    EXPECT_EQ(screen.appendRow(scheduleddata, {}, StoreId::Next).id.toLongLong(), 5);

    // The general form: the execution row numbered from the store's count.
    r = screen.modify(executiondata, [](ado::Recordset& rs) {
        const long count = rs.RecordCount();
        rs.AddNew();
        rs.setValue("ID", qlonglong(count + 2));
        rs.setValue("RESULT", "RESULT");
        return rs.Update();
    });
    ASSERT_TRUE(r);
    ado::Recordset runs = screen.getRS(executiondata);
    ASSERT_EQ(runs.RecordCount(), 1);
    runs.MoveFirst();
    EXPECT_EQ(runs.value("ID").toLongLong(), 2);

    // Replacing the whole store keeps only the fields it knows.
    auto source = ado::Recordset::CreateDisconnected({{"NAME", ado::adVarWChar, 100}, {"OTHER", ado::adInteger, 4}});
    source.AddNew();
    source.setValue("NAME", "only.xml");
    source.setValue("OTHER", 5);
    source.Update();
    r = screen.replaceAll(scheduleddata, source);
    ASSERT_TRUE(r) << r.error.toStdString();
    EXPECT_EQ(r.rows, 1);
    now = screen.getRS(scheduleddata);
    ASSERT_EQ(now.RecordCount(), 1);
    EXPECT_EQ(now.FieldCount(), 9);
}

TEST_F(Stores, ImportFileGoodBadAndMissing)
{
    cMeridoxData data(dir.path());
    std::vector<std::tuple<QString, int, QString>> shown;
    data.SetMessageBox([&](const QString& text, int style, const QString& title) {
        shown.emplace_back(text, style, title);
    });
    ASSERT_TRUE(data.appendRow(scheduleddata, {{"NAME", "job.xml"}}, StoreId::Next));
    QFile::copy(data.StoreFile(scheduleddata), path("import.xml"));

    ado::Recordset good = data.getRSFromFile(path("import.xml"));
    ASSERT_TRUE(good.isOpen());
    EXPECT_EQ(good.RecordCount(), 1);
    EXPECT_TRUE(shown.empty());

    QFile bad(path("bad.xml"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("<xml><s:Schema");
    bad.close();
    for (const QString& file : {path("bad.xml"), path("missing.xml")}) {
        ado::Recordset rs = data.getRSFromFile(file);
        EXPECT_FALSE(rs.isOpen());
        EXPECT_FALSE(data.LastError().isEmpty());
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(std::get<0>(shown[0]), "Error Opening File");
    EXPECT_EQ(std::get<1>(shown[0]), 16);
    EXPECT_EQ(std::get<2>(shown[0]), "Error");
    EXPECT_TRUE(QFile::exists(path("bad.xml"))) << "an import file is never moved or changed";
    EXPECT_TRUE(corruptCopies(dir.path()).isEmpty());
}

TEST_F(Stores, ClearDeletesTheStoreAndToleratesAMissingOne)
{
    cMeridoxData data(dir.path());
    ASSERT_TRUE(data.appendRow(executiondata, {{"NAME", "run"}}));
    EXPECT_TRUE(QFile::exists(data.StoreFile(executiondata)));
    EXPECT_TRUE(data.Clear(executiondata));
    EXPECT_FALSE(QFile::exists(data.StoreFile(executiondata)));
    EXPECT_TRUE(data.Clear(executiondata)) << "clearing a missing store succeeds";
    EXPECT_TRUE(data.Clear(static_cast<kindrecordset>(7)));
    ado::Recordset rs = data.getRS(executiondata);
    ASSERT_TRUE(rs.isOpen());
    EXPECT_EQ(rs.RecordCount(), 0);
}

TEST_F(Stores, CorruptStoreIsMovedAsideReportedAndRecreated)
{
    cMeridoxData data(dir.path());
    const QByteArray damaged = "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'><s:Schema id='Rowset";
    for (kindrecordset kind : {executiondata, executionlogdata}) {
        QFile file(data.StoreFile(kind));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(damaged);
        file.close();
    }

    ado::Recordset rs = data.getRS(executiondata);
    ASSERT_TRUE(rs.isOpen());
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_TRUE(data.LastError().contains("executeddata.xml.corrupt-")) << data.LastError().toStdString();
    QStringList aside = corruptCopies(dir.path());
    ASSERT_EQ(aside.size(), 1);
    QFile kept(path(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), damaged) << "the damaged history is kept as it was";

    // A change on a damaged store sets it aside the same way, then applies.
    StoreResult r = data.appendRow(executionlogdata, {{"RECORD", 1}}, StoreId::Next);
    ASSERT_TRUE(r);
    EXPECT_FALSE(data.LastError().isEmpty());
    EXPECT_EQ(corruptCopies(dir.path()).size(), 2);
    EXPECT_EQ(rowCount(data.StoreFile(executionlogdata)), 1);

    // A sound store reports nothing.
    data.getRS(executionlogdata);
    EXPECT_TRUE(data.LastError().isEmpty());
}

// MERIDOX_BIN_DIR, else the folder of this test program (where CMake puts every binary).
QString helperPath()
{
    QString bin = qEnvironmentVariable("MERIDOX_BIN_DIR");
    if (bin.isEmpty())
        bin = QFileInfo("/proc/self/exe").canonicalPath();
    return QDir(bin).filePath("stores_append_helper");
}

// A store of some size, rows numbered 1 to count.
void seedExecutions(cMeridoxData& data, int count)
{
    ASSERT_TRUE(data.modify(executiondata, [count](ado::Recordset& rs) {
        for (int i = 1; i <= count; ++i) {
            rs.AddNew();
            rs.setValue("ID", i);
            rs.setValue("NAME", QString("seed %1").arg(i));
            rs.setValue("RUNTIME", QDateTime::currentDateTime());
            rs.Update();
        }
        return true;
    }));
}

TEST_F(Stores, ConcurrentWritersLoseNoRows)
{
    if (!QFile::exists(helperPath()))
        GTEST_SKIP() << "stores_append_helper not found in MERIDOX_BIN_DIR";
    constexpr int writers = 20;
    constexpr int rowsEach = 50;
    constexpr int seeded = 20000;   // appends go in place, whatever the store's size
    {
        cMeridoxData data(dir.path());
        seedExecutions(data, seeded);
    }
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int i = 0; i < writers; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(helperPath(), {dir.path(), QString::number(rowsEach), QString("writer%1").arg(i)});
        procs.push_back(std::move(p));
    }
    for (auto& p : procs) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }

    cMeridoxData data(dir.path());
    ado::Recordset rs = data.getRS(executiondata);
    ASSERT_TRUE(rs.isOpen());
    EXPECT_TRUE(data.LastError().isEmpty());
    ASSERT_EQ(rs.RecordCount(), seeded + writers * rowsEach);
    QSet<qlonglong> ids;
    std::map<QString, int> perWriter;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        ids.insert(rs.value("ID").toLongLong());
        if (!rs.value("NAME").toString().startsWith("seed "))
            ++perWriter[rs.value("NAME").toString().trimmed()];
    }
    EXPECT_EQ(ids.size(), seeded + writers * rowsEach) << "IDs chosen under the lock are unique";
    EXPECT_EQ(*std::max_element(ids.begin(), ids.end()), seeded + writers * rowsEach);
    EXPECT_EQ(perWriter.size(), static_cast<size_t>(writers));
    for (const auto& [name, n] : perWriter)
        EXPECT_EQ(n, rowsEach) << name.toStdString();
    EXPECT_TRUE(corruptCopies(dir.path()).isEmpty());
}

// One process keeps the store open between its appends. Whatever others did
// to the file meanwhile (appended, rewrote it, replaced it, cut it, removed
// it with its folder), the next append lands in the file as it is now, with
// the next free ID, and loses no row.
TEST_F(Stores, AppendsFollowWhatOthersDidToTheStoreMeanwhile)
{
    cMeridoxData data(dir.path());
    const QString file = data.StoreFile(executiondata);
    const auto append = [&data]() {
        const StoreResult r = data.appendRow(executiondata, {{"NAME", "mine"}}, StoreId::Next);
        EXPECT_TRUE(r) << r.error.toStdString();
        return r.id.toLongLong();
    };
    const auto ids = [&file]() {
        ado::RowsetData rows;
        QString error;
        EXPECT_TRUE(ado::loadRowsetXml(file, rows, &error)) << error.toStdString();
        std::vector<qlonglong> out;
        for (const QVariantList& row : rows.rows)
            out.push_back(row[0].toLongLong());
        return out;
    };
    const auto keepFirst = [&file](size_t count, bool inPlace) {
        ado::RowsetData rows;
        ASSERT_TRUE(ado::loadRowsetXml(file, rows));
        rows.rows.resize(count);
        if (!inPlace) {
            ASSERT_TRUE(ado::saveRowsetXml(file, rows));
            return;
        }
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(ado::writeRowsetXml(rows));
    };
    using Ids = std::vector<qlonglong>;

    EXPECT_EQ(append(), 1);
    EXPECT_EQ(append(), 2);
    if (QFile::exists(helperPath())) {
        QProcess other;
        other.start(helperPath(), {dir.path(), "3", "other"});
        ASSERT_TRUE(other.waitForFinished(60000));
        ASSERT_EQ(other.exitCode(), 0);
        EXPECT_EQ(append(), 6);
        EXPECT_EQ(ids(), Ids({1, 2, 3, 4, 5, 6}));
    } else {
        EXPECT_EQ(append(), 3);
    }
    const Ids before = ids();

    // Rewritten whole (a new file renamed over it): the change survives.
    cMeridoxData screen(dir.path());
    ASSERT_EQ(screen.updateRowById(executiondata, 1, {{"RESULT", "seen"}}).rows, 1);
    const qlonglong next = append();
    EXPECT_EQ(next, before.back() + 1);
    ado::Recordset rs = screen.getRS(executiondata);
    ASSERT_EQ(rs.RecordCount(), long(before.size()) + 1);
    rs.MoveFirst();
    EXPECT_EQ(rs.value("RESULT").toString().trimmed(), "seen");

    // Replaced by a shorter file, then cut in place: IDs follow the rows left.
    keepFirst(2, false);
    EXPECT_EQ(append(), 3);
    EXPECT_EQ(ids(), Ids({1, 2, 3}));
    keepFirst(1, true);
    EXPECT_EQ(append(), 2);
    EXPECT_EQ(ids(), Ids({1, 2}));

    // Cleared, then the whole folder removed with the lock file.
    ASSERT_TRUE(screen.Clear(executiondata));
    EXPECT_EQ(append(), 1);
    EXPECT_EQ(ids(), Ids({1}));
    ASSERT_TRUE(QDir(dir.path()).removeRecursively());
    EXPECT_EQ(append(), 1);
    EXPECT_TRUE(QFile::exists(file + ".lock"));
    if (QFile::exists(helperPath())) {
        QProcess other;
        other.start(helperPath(), {dir.path(), "2", "other"});
        ASSERT_TRUE(other.waitForFinished(60000));
        ASSERT_EQ(other.exitCode(), 0);
    }
    const qlonglong last = append();
    Ids expected;
    for (qlonglong id = 1; id <= last; ++id)
        expected.push_back(id);
    EXPECT_EQ(ids(), expected);
}

TEST_F(Stores, KilledWriterLeavesAReadableStore)
{
    if (!QFile::exists(helperPath()))
        GTEST_SKIP() << "stores_append_helper not found in MERIDOX_BIN_DIR";
    cMeridoxData data(dir.path());
    seedExecutions(data, 3000);

    long before = rowCount(data.StoreFile(executiondata));
    for (int round = 0; round < 6; ++round) {
        QProcess p;
        p.start(helperPath(), {dir.path(), "0", "killed"});
        ASSERT_TRUE(p.waitForStarted());
        QThread::msleep(150 + 47 * round);
        ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
        p.waitForFinished();

        const long now = rowCount(data.StoreFile(executiondata));
        EXPECT_GE(now, before) << "round " << round;
        before = now;
    }
    ado::Recordset rs = data.getRS(executiondata);
    ASSERT_TRUE(rs.isOpen());
    EXPECT_TRUE(data.LastError().isEmpty()) << data.LastError().toStdString();
    EXPECT_TRUE(corruptCopies(dir.path()).isEmpty());
    // The lock died with the writer: the next change goes through.
    StoreResult r = data.appendRow(executiondata, {{"NAME", "after"}}, StoreId::Next);
    ASSERT_TRUE(r);
    EXPECT_EQ(rowCount(data.StoreFile(executiondata)), before + 1);
}

// A writer killed while appending leaves the row cut at any byte, with what
// is left of the closing tags it was writing over. Every such file reads
// with all the rows before it, and the next append repairs it.
TEST_F(Stores, AppendCutAtAnyByteLeavesAReadableStore)
{
    cMeridoxData data(dir.path());
    const QString file = data.StoreFile(executionlogdata);
    ASSERT_TRUE(data.appendRow(executionlogdata, {{"RECORD", 1}, {"ERRDESC", "first"}}, StoreId::Next));
    // Characters beyond one byte and beyond one UTF-16 unit before the cut.
    const QString second = QString::fromUtf8("second \xC3\xBC \xF0\x9F\x98\x80");
    ASSERT_TRUE(data.appendRow(executionlogdata, {{"RECORD", 2}, {"ERRDESC", second}}, StoreId::Next));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    ASSERT_TRUE(data.appendRow(executionlogdata, {{"RECORD", 3}, {"NAME", "/a/b.xml"}, {"ERRDESC", "third'/>"},
                                                  {"RUNTIME", QDateTime::currentDateTime()}},
                               StoreId::Next));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    f.close();
    const qsizetype at = before.lastIndexOf("</rs:data>");
    ASSERT_GT(at, 0);
    ASSERT_EQ(after.left(at), before.left(at));
    const QByteArray chunk = after.mid(at);

    for (qsizetype cut = 0; cut < chunk.size(); ++cut) {
        SCOPED_TRACE(cut);
        // What the disk holds when only cut bytes of the chunk were written.
        QByteArray damaged = before.left(at) + chunk.left(cut);
        if (at + cut < before.size())
            damaged += before.mid(at + cut);
        ado::RowsetData rows;
        QString error;
        ASSERT_TRUE(ado::readRowsetXml(damaged, rows, &error)) << error.toStdString();
        ASSERT_GE(rows.rows.size(), 2u);
        ASSERT_LE(rows.rows.size(), 3u);
        EXPECT_EQ(rows.rows[0][1].toInt(), 1);
        EXPECT_EQ(rows.rows[1][1].toInt(), 2);
        EXPECT_EQ(rows.rows[1][5].toString().trimmed(), second);
        if (rows.rows.size() == 3)
            EXPECT_EQ(rows.rows[2][5].toString().trimmed(), "third'/>");

        if (cut % 7 != 0)
            continue;
        // The next append through the store, and the file is whole again.
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(damaged);
        out.close();
        StoreResult r = data.appendRow(executionlogdata, {{"RECORD", 4}}, StoreId::Next);
        ASSERT_TRUE(r) << r.error.toStdString();
        ado::Recordset rs = data.getRS(executionlogdata);
        EXPECT_TRUE(data.LastError().isEmpty()) << data.LastError().toStdString();
        EXPECT_EQ(rs.RecordCount(), long(rows.rows.size()) + 1);
        ASSERT_TRUE(out.open(QIODevice::ReadOnly));
        EXPECT_TRUE(out.readAll().endsWith("</rs:data>\n</xml>\n"));
        EXPECT_TRUE(corruptCopies(dir.path()).isEmpty());
    }
}

} // namespace
