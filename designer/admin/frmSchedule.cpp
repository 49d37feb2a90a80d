#include "admin/frmSchedule.h"

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
}

void frmSchedule::LoadScheduleGrid()
{
    m_grdData->setRowCount(0);
    const QList<Column> columns = {{QStringLiteral("NAME"), QStringLiteral("Integration Name"), 300},
                                   {QStringLiteral("STARTTIME"), QStringLiteral("Starts")},
                                   {QStringLiteral("ENDTIME"), QStringLiteral("Ends")},
                                   {QStringLiteral("EVERY"), QStringLiteral("Every")},
                                   {QStringLiteral("LASTRUN"), QStringLiteral("Last Run")},
                                   {QStringLiteral("ACTIVE"), QStringLiteral("Status")}};
    EnsureColumns(m_grdData, columns, kAmbient);
    cMeridoxData data;
    ado::Recordset rs = data.getRS(scheduleddata);
    m_highestId = 0;
    if (!rs.isOpen() || rs.RecordCount() <= 0)
        return;
    m_grdData->setRowCount(static_cast<int>(rs.RecordCount()));
    int row = 0;
    for (rs.MoveFirst(); !rs.IsEOF() && row < m_grdData->rowCount(); rs.MoveNext(), ++row) {
        const QVariant id = rs.value(QStringLiteral("ID"));
        if (!id.isNull())
            m_highestId = static_cast<short>(std::max<qlonglong>(m_highestId, id.toLongLong()));
        auto* name = new QTableWidgetItem(rs.value(QStringLiteral("NAME")).toString().trimmed());
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

cMeridoxData::RowMatch frmSchedule::JobOnRow(int Row) const
{
    const QTableWidgetItem* item = m_grdData->item(Row, 0);
    const QVariant id = item ? item->data(Qt::UserRole) : QVariant();
    if (!id.isNull() && id.isValid()) {
        const qlonglong wanted = id.toLongLong();
        return [wanted](const cMeridoxData::Row& row) {
            const QVariant value = row.value(QStringLiteral("ID"));
            return !value.isNull() && value.toLongLong() == wanted;
        };
    }
    // Rows are offered in store order; count them.
    auto position = std::make_shared<int>(0);
    return [position, Row](const cMeridoxData::Row&) { return (*position)++ == Row; };
}

std::optional<cMeridoxData::Row> frmSchedule::ReadJob(int Row) const
{
    if (Row < 0 || Row >= m_grdData->rowCount())
        return std::nullopt;
    cMeridoxData data;
    ado::Recordset rs = data.getRS(scheduleddata);
    if (!rs.isOpen() || rs.RecordCount() <= 0)
        return std::nullopt;
    const cMeridoxData::RowMatch match = JobOnRow(Row);
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        cMeridoxData::Row row;
        for (int f = 0; f < rs.FieldCount(); ++f)
            row.insert(rs.Fields(f).Name().toUpper(), rs.value(f));
        if (match(row))
            return row;
    }
    return std::nullopt;
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
        const StoreResult result = data.appendRow(scheduleddata, values, StoreId::Next);
        if (Report(result))
            m_highestId = static_cast<short>(result.id.toLongLong());
    }
    AfterChange();
}

void frmSchedule::ActionEditItem()
{
    EditScheduleRow(SelectedRow(m_grdData), 2);
}

void frmSchedule::EditScheduleRow(int Row, int)
{
    const std::optional<cMeridoxData::Row> job = ReadJob(Row);
    if (!job)
        return;
    frmEditScheduled& dialog = frmEditScheduled::Instance();
    dialog.setWindowTitle(Translate(QStringLiteral("Edit Scheduled action"), kAmbient));
    dialog.SetJob(job->value(QStringLiteral("NAME")).toString().trimmed(), job->value(QStringLiteral("FROM")).toDateTime(),
                  job->value(QStringLiteral("TO")).toDateTime(), job->value(QStringLiteral("EVERY")).toInt(),
                  job->value(QStringLiteral("KINDEVERY")).toInt(), job->value(QStringLiteral("STATUS")).toString());
    const QPointer<frmEditScheduled> shown(&dialog);
    if (!dialog.ShowModal() || !shown)
        return;
    cMeridoxData::Row values = JobValues(dialog);
    values.insert(QStringLiteral("NAME"), dialog.Filename().trimmed());
    values.insert(QStringLiteral("STATUS"), dialog.Status());
    cMeridoxData data;
    // Only this job's fields change; LASTRUN and rows others wrote stay.
    Report(data.updateRows(scheduleddata, JobOnRow(Row), values));
    AfterChange();
}

void frmSchedule::ActionDeleteItem()
{
    const int row = SelectedRow(m_grdData);
    if (row < 0 || row >= m_grdData->rowCount())
        return;
    cMeridoxData data;
    const StoreResult result = data.deleteRows(scheduleddata, JobOnRow(row));
    if (!Report(result) || result.rows == 0)
        return;
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
    // Status is not copied: imported jobs stay inactive until edited.
    for (source.MoveFirst(); !source.IsEOF(); source.MoveNext()) {
        cMeridoxData::Row values;
        for (const QString& field : copied)
            if (source.fieldIndex(field) >= 0)
                values.insert(field, source.value(field));
        const StoreResult result = data.appendRow(scheduleddata, values, StoreId::Next);
        if (!Report(result))
            break;
        m_highestId = static_cast<short>(result.id.toLongLong());
    }
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
