#include "admin/frmSchedule.h"

#include <QHash>
#include <QPointer>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "admin/AdminCommon.h"
#include "admin/frmEditScheduled.h"
#include "app/FormTranslation.h"
#include "app/ScreenRegistry.h"
#include "app/UserDialogs.h"
#include "stores/basUtils.h"

using namespace AdminScreens;

namespace {

const QString kAmbient = QStringLiteral("frmSchedule");

QString UnitWord(int KindEvery)
{
    switch (KindEvery) {
    case 1: return Translate(QStringLiteral("minutes"), kAmbient);
    case 2: return Translate(QStringLiteral("hours"), kAmbient);
    case 3: return Translate(QStringLiteral("days"), kAmbient);
    case 4: return Translate(QStringLiteral("weeks"), kAmbient);
    default: return QString();
    }
}

cMeridoxData::Row JobValues(const frmEditScheduled& Dialog)
{
    return {
        {QStringLiteral("FROM"), QDateTime(frmSchedule::DateOnly(Dialog.From()).date(), frmSchedule::TimeOnly(Dialog.From()))},
        {QStringLiteral("TO"), QDateTime(frmSchedule::DateOnly(Dialog.To()).date(), frmSchedule::TimeOnly(Dialog.To()))},
        {QStringLiteral("EVERY"), static_cast<int>(Dialog.Every())},
        {QStringLiteral("KINDEVERY"), Dialog.KindEvery()},
    };
}

}  // namespace

frmSchedule::frmSchedule(QWidget* Parent) : QWidget(Parent)
{
    setObjectName(QStringLiteral("frmSchedule"));
    setMinimumSize(AdminScreens::kMinimumScreenWidth, AdminScreens::kMinimumScreenHeight);
    setWindowTitle(QStringLiteral("Scheduled Integrations"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_grdData = NewGrid(this);
    connect(m_grdData, &QTableWidget::cellDoubleClicked, this, &frmSchedule::EditScheduleRow);
    connect(m_grdData, &QWidget::customContextMenuRequested, this, &frmSchedule::grdData_ContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 33);
    layout->addWidget(m_grdData);

    // Load.
    TranslateForm(this, kAmbient);
}

frmSchedule* frmSchedule::Instance()
{
    static QPointer<frmSchedule> instance;
    if (!instance)
        instance = new frmSchedule;
    return instance;
}

QDateTime frmSchedule::DateOnly(const QDateTime& D)
{
    return QDateTime(D.date(), QTime(0, 0));
}

QTime frmSchedule::TimeOnly(const QDateTime& D)
{
    const QTime t = D.time();
    return QTime(t.hour(), t.minute(), t.second());
}

void frmSchedule::ActionClose()
{
    close();
}

void frmSchedule::ActionEdit()
{
    ShowChild(this);
    LoadScheduleGrid();
    // Jobs whose ID the service refuses or shares never run: say so.
    if (!m_idProblems.isEmpty())
        Dialogs().MsgBox(this,
                         Translate(QStringLiteral("Some jobs of the schedule have an ID the service cannot use:"),
                                   kAmbient) +
                             QLatin1Char('\n') + m_idProblems.join(QLatin1Char('\n')),
                         MsgBoxStyle::vbExclamation);
}

void frmSchedule::LoadScheduleGrid()
{
    m_grdData->setRowCount(0);
    m_idProblems.clear();
    const QList<Column> columns = {{QStringLiteral("NAME"), QStringLiteral("Integration Name"), 300},
                                   {QStringLiteral("STARTTIME"), QStringLiteral("Starts")},
                                   {QStringLiteral("ENDTIME"), QStringLiteral("Ends")},
                                   {QStringLiteral("EVERY"), QStringLiteral("Every")},
                                   {QStringLiteral("LASTRUN"), QStringLiteral("Last Run")},
                                   {QStringLiteral("ACTIVE"), QStringLiteral("Status")}};
    EnsureColumns(m_grdData, columns, kAmbient);
    cMeridoxData data;
    ado::Recordset rs = data.getRS(scheduleddata);
    ReportStoreProblem(this, data.LastError(), m_storeProblem);
    if (!rs.isOpen() || rs.RecordCount() <= 0)
        return;
    m_grdData->setRowCount(static_cast<int>(rs.RecordCount()));
    int row = 0;
    QHash<int, int> seen;  // job ID -> times seen
    for (rs.MoveFirst(); !rs.IsEOF() && row < m_grdData->rowCount(); rs.MoveNext(), ++row) {
        const QVariant id = rs.value(QStringLiteral("ID"));
        const QString jobName = rs.value(QStringLiteral("NAME")).toString().trimmed();
        if (const std::optional<int> job = ParseJobId(id)) {
            if (++seen[*job] == 2)
                m_idProblems << Translate(QStringLiteral("ID %1 is used by more than one job"), kAmbient)
                                    .arg(*job);
        } else {
            m_idProblems << Translate(QStringLiteral("ID '%1' is not valid (%2)"), kAmbient)
                                .arg(id.toString().trimmed(), jobName);
        }
        auto* name = new QTableWidgetItem(jobName);
        // The job behind the row, for edit and delete.
        name->setData(Qt::UserRole, id);
        m_grdData->setItem(row, 0, name);
        m_grdData->setItem(row, 1, new QTableWidgetItem(CellText(rs.value(QStringLiteral("FROM")))));
        m_grdData->setItem(row, 2, new QTableWidgetItem(CellText(rs.value(QStringLiteral("TO")))));
        m_grdData->setItem(row, 3,
                           new QTableWidgetItem(CellText(rs.value(QStringLiteral("EVERY"))) + QLatin1Char(' ') +
                                                UnitWord(rs.value(QStringLiteral("KINDEVERY")).toInt())));
        m_grdData->setItem(row, 4, new QTableWidgetItem(CellText(rs.value(QStringLiteral("LASTRUN")))));
        m_grdData->setItem(row, 5, new QTableWidgetItem(rs.value(QStringLiteral("STATUS")).toString().trimmed()));
    }
    m_grdData->setRowCount(row);
    FitDefaultColumns(m_grdData, columns);
}

namespace {

// Two stored IDs name the same job: equal by the job-ID rule, or (for IDs
// that break it) the same text.
bool SameId(const QVariant& A, const QVariant& B)
{
    const std::optional<int> a = ParseJobId(A);
    const std::optional<int> b = ParseJobId(B);
    if (a || b)
        return a == b;
    return A.isNull() == B.isNull() && A.toString().trimmed() == B.toString().trimmed();
}

}  // namespace

cMeridoxData::RowMatch frmSchedule::JobAt(int Position, const QVariant& Id)
{
    // Rows are offered in store order; count them.
    auto position = std::make_shared<int>(-1);
    return [position, Position, Id](const cMeridoxData::Row& row) {
        return ++*position == Position && SameId(row.value(QStringLiteral("ID")), Id);
    };
}

std::optional<frmSchedule::StoredJob> frmSchedule::ReadJob(int Row) const
{
    if (Row < 0 || Row >= m_grdData->rowCount())
        return std::nullopt;
    const QTableWidgetItem* item = m_grdData->item(Row, 0);
    const QVariant id = item ? item->data(Qt::UserRole) : QVariant();
    cMeridoxData data;
    ado::Recordset rs = data.getRS(scheduleddata);
    if (!rs.isOpen() || rs.RecordCount() <= 0)
        return std::nullopt;
    std::vector<cMeridoxData::Row> rows;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        cMeridoxData::Row row;
        for (int f = 0; f < rs.FieldCount(); ++f)
            row.insert(rs.Fields(f).Name().toUpper(), rs.value(f));
        rows.push_back(std::move(row));
    }
    if (Row < static_cast<int>(rows.size()) && SameId(rows[static_cast<size_t>(Row)].value(QStringLiteral("ID")), id))
        return StoredJob{Row, rows[static_cast<size_t>(Row)]};
    // Rows were added or removed meanwhile: the job is the one row with its ID.
    std::optional<StoredJob> found;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!SameId(rows[i].value(QStringLiteral("ID")), id))
            continue;
        if (found)
            return std::nullopt;
        found = StoredJob{static_cast<int>(i), rows[i]};
    }
    return found;
}

void frmSchedule::JobNotFound()
{
    Dialogs().MsgBox(this,
                     Translate(QStringLiteral("The job is no longer in the schedule as shown; the list is read again."),
                               kAmbient),
                     MsgBoxStyle::vbExclamation);
    LoadScheduleGrid();
}

bool frmSchedule::Report(const StoreResult& Result)
{
    if (Result)
        return true;
    Dialogs().MsgBox(this, Translate(QStringLiteral("The schedule could not be saved: "), kAmbient) + Result.error,
                     MsgBoxStyle::vbCritical);
    return false;
}

void frmSchedule::AfterChange()
{
    RestartSchedulerService();
    LoadScheduleGrid();
}

void frmSchedule::ActionNewItem()
{
    frmEditScheduled& dialog = frmEditScheduled::Instance();
    dialog.setWindowTitle(Translate(QStringLiteral("Edit New Scheduled action"), kAmbient));
    const QPointer<frmEditScheduled> shown(&dialog);
    if (dialog.ShowModal() && shown) {
        cMeridoxData::Row values = JobValues(dialog);
        values.insert(QStringLiteral("NAME"), dialog.Filename());
        values.insert(QStringLiteral("STATUS"), dialog.Status());
        cMeridoxData data;
        // The ID is chosen under the store's lock, so two designers never share one.
        Report(data.appendRow(scheduleddata, values, StoreId::Next));
    }
    AfterChange();
}

void frmSchedule::ActionEditItem()
{
    EditScheduleRow(SelectedRow(m_grdData), 2);
}

void frmSchedule::EditScheduleRow(int Row, int)
{
    if (Row < 0 || Row >= m_grdData->rowCount())
        return;
    const std::optional<StoredJob> job = ReadJob(Row);
    if (!job) {
        JobNotFound();
        return;
    }
    const cMeridoxData::Row& stored = job->Values;
    frmEditScheduled& dialog = frmEditScheduled::Instance();
    dialog.setWindowTitle(Translate(QStringLiteral("Edit Scheduled action"), kAmbient));
    dialog.SetJob(stored.value(QStringLiteral("NAME")).toString().trimmed(),
                  stored.value(QStringLiteral("FROM")).toDateTime(), stored.value(QStringLiteral("TO")).toDateTime(),
                  stored.value(QStringLiteral("EVERY")).toInt(), stored.value(QStringLiteral("KINDEVERY")).toInt(),
                  stored.value(QStringLiteral("STATUS")).toString());
    const QPointer<frmEditScheduled> shown(&dialog);
    if (!dialog.ShowModal() || !shown)
        return;
    cMeridoxData::Row values = JobValues(dialog);
    values.insert(QStringLiteral("NAME"), dialog.Filename().trimmed());
    values.insert(QStringLiteral("STATUS"), dialog.Status());
    cMeridoxData data;
    // Only this job's fields change; LASTRUN and rows others wrote stay.
    const StoreResult result =
        data.updateRows(scheduleddata, JobAt(job->Position, stored.value(QStringLiteral("ID"))), values);
    if (Report(result) && result.rows == 0) {
        JobNotFound();
        return;
    }
    AfterChange();
}

void frmSchedule::ActionDeleteItem()
{
    const int row = SelectedRow(m_grdData);
    if (row < 0 || row >= m_grdData->rowCount())
        return;
    const std::optional<StoredJob> job = ReadJob(row);
    if (!job) {
        JobNotFound();
        return;
    }
    cMeridoxData data;
    const StoreResult result =
        data.deleteRows(scheduleddata, JobAt(job->Position, job->Values.value(QStringLiteral("ID"))));
    if (!Report(result))
        return;
    if (result.rows == 0) {
        JobNotFound();
        return;
    }
    AfterChange();
}

void frmSchedule::importItems()
{
    const QString file = Dialogs().GetOpenFileName(
        this, Translate(QStringLiteral("Select a scheduled integrations file"), kAmbient), QString(),
        QtFileFilter(Translate(QStringLiteral("Scheduled integrations (*.xml)|*.xml"), kAmbient)));
    if (file.isEmpty())
        return;
    cMeridoxData data;
    data.SetMessageBox([this](const QString& Text, int Style, const QString& Title) {
        Dialogs().MsgBox(this, Text, Style, Title);
    });
    ado::Recordset source = data.getRSFromFile(file);
    if (!source.isOpen() || source.RecordCount() <= 0)
        return;
    const QStringList copied = {QStringLiteral("FROM"), QStringLiteral("TO"), QStringLiteral("EVERY"),
                                QStringLiteral("KINDEVERY"), QStringLiteral("NAME")};
    QStringList refused;
    int position = 0;
    // Status is not copied: imported jobs stay inactive until edited.
    for (source.MoveFirst(); !source.IsEOF(); source.MoveNext()) {
        ++position;
        cMeridoxData::Row values;
        for (const QString& field : copied)
            if (source.fieldIndex(field) >= 0)
                values.insert(field, source.value(field));
        // Fixed text comes padded; the blanks are no part of the file name.
        QString name = values.value(QStringLiteral("NAME")).toString();
        while (name.endsWith(QLatin1Char(' ')))
            name.chop(1);
        if (values.contains(QStringLiteral("NAME")))
            values.insert(QStringLiteral("NAME"), name);
        // The dialog's rules: a job the service cannot run is not imported.
        const QString problem = frmEditScheduled::JobProblem(name, values.value(QStringLiteral("EVERY")),
                                                             values.value(QStringLiteral("KINDEVERY")));
        if (!problem.isEmpty()) {
            refused << Translate(QStringLiteral("Row %1 (%2): "), kAmbient).arg(position).arg(name.trimmed()) + problem;
            continue;
        }
        const StoreResult result = data.appendRow(scheduleddata, values, StoreId::Next);
        if (!result) {
            refused << Translate(QStringLiteral("Row %1 (%2): "), kAmbient).arg(position).arg(name.trimmed()) +
                           result.error;
        }
    }
    if (!refused.isEmpty())
        Dialogs().MsgBox(this,
                         Translate(QStringLiteral("These jobs were not imported:"), kAmbient) + QLatin1Char('\n') +
                             refused.join(QLatin1Char('\n')),
                         MsgBoxStyle::vbExclamation);
    AfterChange();
}

void frmSchedule::grdData_ContextMenu(const QPoint& Pos)
{
    ShowEditPopup(m_grdData->viewport()->mapToGlobal(Pos), true);
}

namespace {
const bool registered = ScreenRegistry::Register(QStringLiteral("frmSchedule"), QStringLiteral("ActionEdit"),
                                                 [] { frmSchedule::Instance()->ActionEdit(); });
}  // namespace
