#include "admin/cHistoryScreen.h"

#include <QTableWidget>
#include <QVBoxLayout>

#include "app/FormTranslation.h"
#include "app/UserDialogs.h"
#include "stores/basUtils.h"

using namespace AdminScreens;

namespace {
// The headers of both screens are translated under the execution log's name.
const QString kHeaderAmbient = QStringLiteral("frmExecutionLog");
}  // namespace

cHistoryScreen::cHistoryScreen(const QString& Name, const QString& Caption, kindrecordset Store,
                               QList<FieldColumn> Columns, QWidget* Parent)
    : QWidget(Parent), m_store(Store), m_columns(std::move(Columns))
{
    setObjectName(Name);
    setWindowTitle(Caption);
    setAttribute(Qt::WA_DeleteOnClose);
    m_grdData = NewGrid(this);
    // Values are kept as stored, fixed text with its padding; a value wider
    // than its column ends in an ellipsis (the padding does not count) and
    // reads whole in its tip.
    m_grdData->setItemDelegate(new cPaddedTextDelegate(m_grdData));
    connect(m_grdData, &QWidget::customContextMenuRequested, this, &cHistoryScreen::grdData_ContextMenu);
    auto* layout = new QVBoxLayout(this);
    // The strip below the grid, as the other list screens have it.
    layout->setContentsMargins(0, 0, 0, 33);
    layout->addWidget(m_grdData);

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(60000);
    connect(&m_timer1, &QTimer::timeout, this, &cHistoryScreen::Timer1_Timer);
    m_timer1.start();

    // Load.
    TranslateForm(this, Name);
}

void cHistoryScreen::ActionClose()
{
    close();
}

void cHistoryScreen::ActionClear()
{
    cMeridoxData data;
    if (!data.Clear(m_store))
        Dialogs().MsgBox(this,
                         Translate(QStringLiteral("The history could not be cleared: "), objectName()) +
                             data.LastError(),
                         MsgBoxStyle::vbCritical);
    LoadGrid();
}

void cHistoryScreen::ActionEdit()
{
    LoadGrid();
    ShowChild(this);
}

void cHistoryScreen::LoadGrid()
{
    m_grdData->setRowCount(0);
    QList<Column> columns;
    for (const FieldColumn& c : m_columns)
        columns << c.Column;
    EnsureColumns(m_grdData, columns, kHeaderAmbient);

    cMeridoxData data;
    ado::Recordset rs = data.getRS(m_store);
    ReportStoreProblem(this, data.LastError(), m_storeProblem);
    if (!rs.isOpen() || rs.RecordCount() <= 0)
        return;
    m_grdData->setRowCount(static_cast<int>(rs.RecordCount()));
    int row = 0;
    for (rs.MoveFirst(); !rs.IsEOF() && row < m_grdData->rowCount(); rs.MoveNext(), ++row) {
        for (int c = 0; c < m_columns.size(); ++c) {
            auto* item = new QTableWidgetItem(CellText(rs.value(m_columns.at(c).Field)));
            item->setToolTip(item->text().trimmed());
            m_grdData->setItem(row, c, item);
        }
    }
    m_grdData->setRowCount(row);
    FitDefaultColumns(m_grdData, columns);
}

void cHistoryScreen::Timer1_Timer()
{
    LoadGrid();
}

void cHistoryScreen::grdData_ContextMenu(const QPoint& Pos)
{
    ShowClearPopup(m_grdData->viewport()->mapToGlobal(Pos));
}
