// The scheduled-jobs screen and its job dialog: new, edit, delete and import
// of jobs as rows of the schedule store, the service restart after each
// change, and the dialog's refusal of jobs the scheduler cannot use.

#include "AdminTestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimeEdit>

#include "admin/frmEditScheduled.h"
#include "admin/frmSchedule.h"
#include "data/Recordset.h"
#include "stores/JobId.h"

#include <tuple>

namespace {

class Schedule : public AdminTest {
protected:
    // The next opening of the dialog runs Script, then presses OK (or Cancel).
    void Answer(std::function<void(frmEditScheduled&)> Script, bool Ok = true)
    {
        frmEditScheduled::SetModalHook([this, Script, Ok](frmEditScheduled& d) {
            ++Openings;
            if (Script)
                Script(d);
            (Ok ? d.OKButton() : d.CancelButton())->click();
        });
    }
    void AddJob(qlonglong Id, const QString& Name, int Every, int KindEvery, const QString& Status,
                const QVariant& LastRun = QVariant())
    {
        cMeridoxData data(Dir.path());
        ASSERT_TRUE(data.appendRow(scheduleddata,
                                   {{"ID", Id},
                                    {"NAME", Name},
                                    {"FROM", QDateTime(QDate(2024, 3, 1), QTime(8, 30))},
                                    {"TO", QDateTime(QDate(2024, 12, 31), QTime(18, 0))},
                                    {"EVERY", Every},
                                    {"KINDEVERY", KindEvery},
                                    {"LASTRUN", LastRun},
                                    {"STATUS", Status}}));
    }
    static QString Cell(const QTableWidget* Grid, int Row, int Col)
    {
        const QTableWidgetItem* item = Grid->item(Row, Col);
        return item ? item->text() : QString();
    }

    int Openings = 0;
    frmSchedule Screen;
};

TEST_F(Schedule, NewJobsTakeTheNextIdAndTheDialogKeepsItsValues)
{
    AddJob(7, "/jobs/old.xml", 15, 1, "Active");
    Screen.ActionEdit();
    ASSERT_EQ(Screen.grdData()->rowCount(), 1);
    EXPECT_EQ(Cell(Screen.grdData(), 0, 3), QStringLiteral("15 minutes"));
    EXPECT_EQ(Cell(Screen.grdData(), 0, 0), QStringLiteral("/jobs/old.xml"));
    EXPECT_EQ(Cell(Screen.grdData(), 0, 5), QStringLiteral("Active"));

    // The dialog's defaults, with only a file chosen through its browse button.
    Boxes->FileAnswers.push_back(QStringLiteral("/jobs/new.xml"));
    QString every, unit, status;
    Answer([&](frmEditScheduled& d) {
        d.vlmCommand1()->click();
        every = d.EdtEvery()->text();
        unit = d.EdtKindEvery()->currentText();
        status = d.edtStatus()->currentText();
        d.EdtRuntimeday()->setDate(QDate(2025, 1, 2));
        d.EdtRuntime()->setTime(QTime(6, 45, 10));
    });
    Screen.ActionNewItem();
    EXPECT_EQ(every, QStringLiteral("1"));
    EXPECT_EQ(unit, QStringLiteral("Hours"));
    EXPECT_EQ(status, QStringLiteral("Active"));
    auto rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].value("ID").toInt(), 8);
    EXPECT_EQ(rows[1].value("NAME").toString(), QStringLiteral("/jobs/new.xml"));
    EXPECT_EQ(rows[1].value("EVERY").toInt(), 1);
    EXPECT_EQ(rows[1].value("KINDEVERY").toInt(), 2);
    EXPECT_EQ(rows[1].value("STATUS").toString(), QStringLiteral("Active"));
    EXPECT_EQ(rows[1].value("FROM").toDateTime(), QDateTime(QDate(2025, 1, 2), QTime(6, 45, 10)));
    EXPECT_TRUE(rows[1].value("LASTRUN").isNull());
    EXPECT_EQ(Service->Calls, QStringList{"Restart"});
    EXPECT_EQ(Screen.grdData()->rowCount(), 2);

    // The second opening shows what the dialog last held.
    QString shownFile;
    Answer([&](frmEditScheduled& d) { shownFile = d.EdtFilename()->text(); });
    Screen.ActionNewItem();
    EXPECT_EQ(shownFile, QStringLiteral("/jobs/new.xml"));
    rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].value("ID").toInt(), 9);

    // Dates are shown whole on one line.
    const QTableWidget* grid = Screen.grdData();
    EXPECT_GE(grid->columnWidth(1), grid->fontMetrics().horizontalAdvance(Cell(grid, 0, 1)));
    EXPECT_GE(grid->columnWidth(4), grid->fontMetrics().horizontalAdvance(Cell(grid, 0, 4)));
}

TEST_F(Schedule, TheCloseBoxCancelsAndTheNextOpeningStartsFresh)
{
    Screen.ActionEdit();
    Answer({}, false);
    frmEditScheduled::SetModalHook([](frmEditScheduled& d) {
        d.EdtFilename()->setText(QStringLiteral("/jobs/typed.xml"));
        d.EdtEvery()->setText(QStringLiteral("45"));
        d.close();
    });
    Screen.ActionNewItem();
    EXPECT_TRUE(StoreRows(scheduleddata).empty());
    EXPECT_EQ(Service->Calls, QStringList{"Restart"});

    // No event loop ran in between: the closed dialog must not be reused.
    QString file, every, unit;
    Answer([&](frmEditScheduled& d) {
        file = d.EdtFilename()->text();
        every = d.EdtEvery()->text();
        unit = d.EdtKindEvery()->currentText();
    }, false);
    Screen.ActionNewItem();
    EXPECT_EQ(file, QString());
    EXPECT_EQ(every, QStringLiteral("1"));
    EXPECT_EQ(unit, QStringLiteral("Hours"));
}

TEST_F(Schedule, CancelOnNewRestartsCancelOnEditChangesNothing)
{
    AddJob(1, "/jobs/a.xml", 2, 3, "Active");
    Screen.ActionEdit();
    Answer({}, false);
    Screen.ActionNewItem();
    EXPECT_EQ(StoreRows(scheduleddata).size(), 1u);
    EXPECT_EQ(Service->Calls, QStringList{"Restart"});
    EXPECT_EQ(Screen.grdData()->rowCount(), 1);

    Service->Calls.clear();
    Screen.grdData()->selectRow(0);
    Answer([](frmEditScheduled& d) { d.EdtEvery()->setText(QStringLiteral("99")); }, false);
    Screen.ActionEditItem();
    EXPECT_EQ(Openings, 2);
    EXPECT_EQ(StoreRows(scheduleddata)[0].value("EVERY").toInt(), 2);
    EXPECT_TRUE(Service->Calls.isEmpty());
}

TEST_F(Schedule, EditChangesTheSelectedJobAndKeepsItsLastRun)
{
    const QDateTime lastRun(QDate(2024, 5, 5), QTime(10, 0));
    AddJob(3, "/jobs/a.xml", 2, 3, "Active");
    AddJob(5, "/jobs/b.xml", 4, 2, "Inactive", lastRun);
    Screen.ActionEdit();
    // The service touched the first job meanwhile: the edit still reaches job 5.
    cMeridoxData(Dir.path()).updateRowById(scheduleddata, 3, {{"LASTRUN", lastRun}});

    Screen.grdData()->selectRow(1);
    QString shownName, shownStatus;
    int shownUnit = -2;
    Answer([&](frmEditScheduled& d) {
        shownName = d.EdtFilename()->text();
        shownStatus = d.Status();
        shownUnit = d.EdtKindEvery()->currentIndex();
        d.EdtFilename()->setText(QStringLiteral("/jobs/b2.xml   "));
        d.EdtEvery()->setText(QStringLiteral("30"));
        d.EdtKindEvery()->setCurrentIndex(0);
        d.edtStatus()->setCurrentIndex(0);
    });
    Screen.ActionEditItem();
    EXPECT_EQ(shownName, QStringLiteral("/jobs/b.xml"));
    EXPECT_EQ(shownStatus, QStringLiteral("Inactive"));
    EXPECT_EQ(shownUnit, 1);

    const auto rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].value("EVERY").toInt(), 2);
    EXPECT_EQ(rows[0].value("LASTRUN").toDateTime(), lastRun);
    EXPECT_EQ(rows[1].value("ID").toInt(), 5);
    EXPECT_EQ(rows[1].value("NAME").toString(), QStringLiteral("/jobs/b2.xml"));
    EXPECT_EQ(rows[1].value("EVERY").toInt(), 30);
    EXPECT_EQ(rows[1].value("KINDEVERY").toInt(), 1);
    EXPECT_EQ(rows[1].value("STATUS").toString(), QStringLiteral("Active"));
    EXPECT_EQ(rows[1].value("LASTRUN").toDateTime(), lastRun);
    EXPECT_EQ(rows[1].value("FROM").toDateTime(), QDateTime(QDate(2024, 3, 1), QTime(8, 30)));
    EXPECT_EQ(Service->Calls, QStringList{"Restart"});
    EXPECT_EQ(Cell(Screen.grdData(), 1, 0), QStringLiteral("/jobs/b2.xml"));
    EXPECT_EQ(Cell(Screen.grdData(), 1, 3), QStringLiteral("30 minutes"));
}

TEST_F(Schedule, WeeksAreOfferedAndAnUnknownUnitIsRefused)
{
    AddJob(1, "/jobs/w.xml", 1, 4, "Active");
    AddJob(2, "/jobs/u.xml", 1, 9, "Active");
    Screen.ActionEdit();
    EXPECT_EQ(Cell(Screen.grdData(), 0, 3), QStringLiteral("1 weeks"));
    Screen.grdData()->selectRow(0);
    QString shownUnit;
    Answer([&](frmEditScheduled& d) {
        shownUnit = d.EdtKindEvery()->currentText();
        d.EdtEvery()->setText(QStringLiteral("2"));
    });
    Screen.ActionEditItem();
    EXPECT_EQ(shownUnit, QStringLiteral("Weeks"));
    auto rows = StoreRows(scheduleddata);
    EXPECT_EQ(rows[0].value("EVERY").toInt(), 2);
    EXPECT_EQ(rows[0].value("KINDEVERY").toInt(), 4);

    // A unit the service does not know: OK asks for one and stores nothing.
    Screen.grdData()->selectRow(1);
    Answer([](frmEditScheduled& d) {
        d.EdtEvery()->setText(QStringLiteral("3"));
        d.OKButton()->click();
    }, false);
    Screen.ActionEditItem();
    ASSERT_FALSE(Boxes->Messages.empty());
    EXPECT_TRUE(Boxes->Messages.back().Prompt.contains(QStringLiteral("unit")));
    rows = StoreRows(scheduleddata);
    EXPECT_EQ(rows[1].value("EVERY").toInt(), 1);
    EXPECT_EQ(rows[1].value("KINDEVERY").toInt(), 9);

    // A new weekly job.
    Answer([](frmEditScheduled& d) {
        d.EdtFilename()->setText(QStringLiteral("/jobs/weekly.xml"));
        d.EdtKindEvery()->setCurrentIndex(d.EdtKindEvery()->findText(QStringLiteral("Weeks")));
    });
    Screen.ActionNewItem();
    rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].value("KINDEVERY").toInt(), 4);
}

TEST_F(Schedule, TwoJobsWithOneIdAreEditedAndDeletedOneAtATime)
{
    // A store edited by hand: two jobs share ID 3.
    AddJob(3, "/jobs/first.xml", 5, 1, "Active");
    AddJob(3, "/jobs/second.xml", 6, 2, "Inactive");
    AddJob(4, "/jobs/third.xml", 7, 3, "Active");
    Screen.ActionEdit();
    ASSERT_EQ(Boxes->Messages.size(), 1u);
    EXPECT_TRUE(Boxes->Messages[0].Prompt.contains(QStringLiteral("ID 3 is used by more than one job")))
        << Boxes->Messages[0].Prompt.toStdString();

    Screen.grdData()->selectRow(1);
    QString shownName;
    Answer([&](frmEditScheduled& d) {
        shownName = d.EdtFilename()->text();
        d.EdtEvery()->setText(QStringLiteral("60"));
    });
    Screen.ActionEditItem();
    EXPECT_EQ(shownName, QStringLiteral("/jobs/second.xml"));
    auto rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].value("NAME").toString(), QStringLiteral("/jobs/first.xml"));
    EXPECT_EQ(rows[0].value("EVERY").toInt(), 5);
    EXPECT_EQ(rows[1].value("NAME").toString(), QStringLiteral("/jobs/second.xml"));
    EXPECT_EQ(rows[1].value("EVERY").toInt(), 60);

    Screen.grdData()->selectRow(0);
    Screen.ActionDeleteItem();
    rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].value("NAME").toString(), QStringLiteral("/jobs/second.xml"));
    EXPECT_EQ(rows[1].value("NAME").toString(), QStringLiteral("/jobs/third.xml"));

    // A row removed behind the screen's back: the job is still found by its ID.
    cMeridoxData(Dir.path()).deleteRows(scheduleddata, [](const cMeridoxData::Row& row) {
        return row.value(QStringLiteral("NAME")).toString().trimmed() == QLatin1String("/jobs/second.xml");
    });
    Screen.grdData()->selectRow(1);
    Screen.ActionDeleteItem();
    EXPECT_TRUE(StoreRows(scheduleddata).empty());
}

TEST_F(Schedule, NewIdsStayWithinTheRangeTheServiceReads)
{
    AddJob(32767, "/jobs/top.xml", 1, 2, "Active");
    AddJob(1, "/jobs/one.xml", 1, 2, "Active");
    Screen.ActionEdit();
    Answer([](frmEditScheduled& d) { d.EdtFilename()->setText(QStringLiteral("/jobs/new.xml")); });
    Screen.ActionNewItem();
    auto rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].value("ID").toInt(), 2);  // 32768 is no job ID: the lowest free one

    // IDs by one rule: 3.5 and 40000 are none, 7 written as text is 7.
    EXPECT_EQ(ParseJobId(QVariant(32767)), 32767);
    EXPECT_EQ(ParseJobId(QVariant(-32768)), -32768);
    EXPECT_FALSE(ParseJobId(QVariant(32768)));
    EXPECT_FALSE(ParseJobId(QVariant(3.5)));
    EXPECT_EQ(ParseJobId(QVariant(QStringLiteral(" 7 "))), 7);
    EXPECT_FALSE(ParseJobId(QVariant(QStringLiteral("x"))));
    QList<QVariant> all;
    for (int id = 1; id <= 32767; ++id)
        all << id;
    EXPECT_FALSE(NextJobId(all));
    all.removeAt(99);
    EXPECT_EQ(NextJobId(all), 100);
    EXPECT_EQ(NextJobId({5, QVariant(), QStringLiteral("junk")}), 6);
}

TEST_F(Schedule, ANameLongerThanTheStoreHoldsIsRefusedNotCut)
{
    const QString longName = QStringLiteral("/jobs/") + QString(260, QLatin1Char('n')) + QStringLiteral(".xml");
    Screen.ActionEdit();
    Answer([&](frmEditScheduled& d) {
        d.EdtFilename()->setText(longName);
        d.OKButton()->click();
    }, false);
    Screen.ActionNewItem();
    EXPECT_TRUE(StoreRows(scheduleddata).empty());
    ASSERT_FALSE(Boxes->Messages.empty());
    EXPECT_TRUE(Boxes->Messages.back().Prompt.contains(QStringLiteral("255"))) << Boxes->Messages.back().Prompt.toStdString();

    // The store itself refuses a job's NAME that does not fit, and still cuts
    // an error description to fit.
    cMeridoxData data(Dir.path());
    const StoreResult refused = data.appendRow(scheduleddata, {{"NAME", longName}, {"EVERY", 1}}, StoreId::Next);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(refused.error.contains(QStringLiteral("NAME"))) << refused.error.toStdString();
    EXPECT_TRUE(StoreRows(scheduleddata).empty());
    ASSERT_TRUE(data.appendRow(executionlogdata, {{"NAME", "x.xml"}, {"ERRDESC", QString(300, QLatin1Char('e'))}},
                               StoreId::Next));
    EXPECT_EQ(StoreRows(executionlogdata).at(0).value("ERRDESC").toString().size(), 255);
}

TEST_F(Schedule, DeleteRemovesOnlyTheSelectedJob)
{
    AddJob(1, "/jobs/a.xml", 1, 2, "Active");
    AddJob(2, "/jobs/b.xml", 1, 2, "Active");
    Screen.ActionEdit();
    Screen.ActionDeleteItem();  // nothing selected
    EXPECT_EQ(StoreRows(scheduleddata).size(), 2u);
    EXPECT_TRUE(Service->Calls.isEmpty());

    Screen.grdData()->selectRow(0);
    Screen.ActionDeleteItem();
    const auto rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].value("ID").toInt(), 2);
    EXPECT_EQ(Screen.grdData()->rowCount(), 1);
    EXPECT_EQ(Service->Calls, QStringList{"Restart"});
}

TEST_F(Schedule, ImportAddsInactiveJobsAfterTheHighestId)
{
    AddJob(7, "/jobs/a.xml", 1, 2, "Active");
    // A schedule file of three jobs, taken from another store.
    QTemporaryDir other;
    cMeridoxData source(other.path());
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(source.appendRow(scheduleddata, {{"ID", i},
                                                     {"NAME", QStringLiteral("/jobs/i%1.xml").arg(i)},
                                                     {"EVERY", i * 10},
                                                     {"KINDEVERY", 1},
                                                     {"STATUS", "Active"}}));
    Screen.ActionEdit();
    Boxes->FileAnswers.push_back(source.StoreFile(scheduleddata));
    Screen.importItems();
    const auto rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 4u);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(rows[size_t(i)].value("ID").toInt(), 7 + i);
        EXPECT_EQ(rows[size_t(i)].value("NAME").toString(), QStringLiteral("/jobs/i%1.xml").arg(i));
        EXPECT_EQ(rows[size_t(i)].value("EVERY").toInt(), i * 10);
        EXPECT_NE(rows[size_t(i)].value("STATUS").toString(), QStringLiteral("Active"));
    }
    EXPECT_EQ(Screen.grdData()->rowCount(), 4);
    EXPECT_EQ(Service->Calls, QStringList{"Restart"});

    // A file that is not a schedule: the message, and nothing added.
    Service->Calls.clear();
    const QString bad = Dir.filePath(QStringLiteral("bad.xml"));
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not xml");
    f.close();
    Boxes->FileAnswers.push_back(bad);
    Screen.importItems();
    EXPECT_EQ(StoreRows(scheduleddata).size(), 4u);
    ASSERT_FALSE(Boxes->Messages.empty());
    EXPECT_EQ(Boxes->Messages.back().Prompt, QStringLiteral("Error Opening File"));
    EXPECT_TRUE(Service->Calls.isEmpty());
}

TEST_F(Schedule, ImportRefusesWhatTheDialogRefusesAndSaysWhichRows)
{
    // A schedule file written elsewhere, with a wider NAME field.
    std::vector<ado::FieldInfo> fields = {{"ID", ado::adDecimal, 10},        {"NAME", ado::adChar, 400},
                                          {"FROM", ado::adDBTimeStamp, 0},   {"TO", ado::adDBTimeStamp, 0},
                                          {"EVERY", ado::adDouble, 0},       {"KINDEVERY", ado::adInteger, 2},
                                          {"STATUS", ado::adChar, 255}};
    ado::Recordset source = ado::Recordset::CreateDisconnected(fields);
    const QDateTime from(QDate(2025, 1, 1), QTime(8, 0));
    const QList<std::tuple<QString, double, int>> jobs = {
        {"/jobs/good.xml", 10, 1}, {"/jobs/zero.xml", 0, 1},   {"/jobs/minus.xml", -5, 2},
        {"/jobs/big.xml", 99999, 3}, {"/jobs/unit.xml", 1, 9}, {"", 1, 1},
        {QStringLiteral("/jobs/") + QString(300, QLatin1Char('n')), 1, 1}, {"/jobs/weekly.xml", 2, 4}};
    int id = 0;
    for (const auto& [name, every, kind] : jobs) {
        ASSERT_TRUE(source.AddNew());
        source.setValue(QStringLiteral("ID"), ++id);
        source.setValue(QStringLiteral("NAME"), name);
        source.setValue(QStringLiteral("FROM"), from);
        source.setValue(QStringLiteral("EVERY"), every);
        source.setValue(QStringLiteral("KINDEVERY"), kind);
        ASSERT_TRUE(source.Update());
    }
    const QString file = Dir.filePath(QStringLiteral("import.xml"));
    ASSERT_TRUE(source.Save(file));

    Screen.ActionEdit();
    Boxes->FileAnswers.push_back(file);
    Screen.importItems();
    const auto rows = StoreRows(scheduleddata);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].value("NAME").toString(), QStringLiteral("/jobs/good.xml"));
    EXPECT_EQ(rows[1].value("NAME").toString(), QStringLiteral("/jobs/weekly.xml"));
    EXPECT_EQ(rows[1].value("KINDEVERY").toInt(), 4);
    ASSERT_EQ(Boxes->Messages.size(), 1u);
    const QString said = Boxes->Messages[0].Prompt;
    for (int row = 2; row <= 7; ++row)
        EXPECT_TRUE(said.contains(QStringLiteral("Row %1 ").arg(row))) << row << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("Row 1 ")));
    EXPECT_FALSE(said.contains(QStringLiteral("Row 8 ")));
}

TEST_F(Schedule, TheDialogRefusesJobsTheSchedulerCannotUse)
{
    frmEditScheduled& d = frmEditScheduled::Instance();
    d.EdtFilename()->setText(QStringLiteral("/jobs/x.xml"));
    for (const char* every : {"abc", "0", "-3", "40000", "1.5", ""}) {
        d.EdtEvery()->setText(QString::fromLatin1(every));
        d.Accepted = false;
        d.OKButton()->click();
        EXPECT_FALSE(d.Accepted) << every;
    }
    EXPECT_EQ(Boxes->Messages.size(), 6u);
    d.EdtEvery()->setText(QStringLiteral(" 32767 "));
    d.EdtFilename()->setText(QStringLiteral("  "));
    d.OKButton()->click();
    EXPECT_FALSE(d.Accepted);
    d.EdtFilename()->setText(QStringLiteral("/jobs/x.xml"));
    d.OKButton()->click();
    EXPECT_TRUE(d.Accepted);
    EXPECT_EQ(d.Every(), 32767);

    // A refused job is not stored: the screen sees the dialog as cancelled
    // only when the user gives up.
    AddJob(1, "/jobs/a.xml", 1, 2, "Active");
    Screen.ActionEdit();
    Answer([](frmEditScheduled& dlg) {
        dlg.EdtEvery()->setText(QStringLiteral("x"));
        dlg.OKButton()->click();
    }, false);
    Screen.ActionNewItem();
    EXPECT_EQ(StoreRows(scheduleddata).size(), 1u);
}

}  // namespace
