#include "admin/AdminCommon.h"

#include <QAction>
#include <QDateTime>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>

#include "app/CommandBars.h"
#include "app/NTServiceControl.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "stores/basUtils.h"

namespace AdminScreens {

QTableWidget* NewGrid(QWidget* Parent)
{
    auto* grid = new QTableWidget(Parent);
    grid->setObjectName(QStringLiteral("grdData"));
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    grid->verticalHeader()->setVisible(false);
    // One line per row: a stored value is shown whole or elided, not wrapped.
    grid->setWordWrap(false);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 8);
    grid->horizontalHeader()->setStretchLastSection(true);
    return grid;
}

void cPaddedTextDelegate::initStyleOption(QStyleOptionViewItem* Option, const QModelIndex& Index) const
{
    QStyledItemDelegate::initStyleOption(Option, Index);
    while (Option->text.endsWith(QLatin1Char(' ')))
        Option->text.chop(1);
    Option->textElideMode = Qt::ElideRight;
}

void FitDefaultColumns(QTableWidget* Grid, const QList<Column>& Columns)
{
    const QFontMetrics cells = Grid->fontMetrics();
    const QFontMetrics header = Grid->horizontalHeader()->fontMetrics();
    const int padding = 2 * Grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12;
    const int limit = std::max(Grid->horizontalHeader()->defaultSectionSize(), cells.averageCharWidth() * 32);
    for (int c = 0; c < Columns.size() && c < Grid->columnCount(); ++c) {
        if (Grid->isColumnHidden(c))
            continue;
        const int given = Columns.at(c).Width;
        const QTableWidgetItem* head = Grid->horizontalHeaderItem(c);
        int wanted = head ? header.horizontalAdvance(head->text()) + padding + 8 : 0;
        for (int r = 0; r < Grid->rowCount(); ++r)
            if (const QTableWidgetItem* item = Grid->item(r, c)) {
                QString text = item->text();
                while (text.endsWith(QLatin1Char(' ')))
                    text.chop(1);
                wanted = std::max(wanted, cells.horizontalAdvance(text) + padding);
            }
        if (given > 0) {
            // Grow to the contents, never beyond the larger of the limit and
            // the given width; never shrink below the given width.
            wanted = std::min(wanted, std::max(limit, given));
            if (Grid->columnWidth(c) < wanted)
                Grid->setColumnWidth(c, wanted);
            continue;
        }
        // Narrow columns (counters) keep to their header, so a window of
        // ordinary size shows every column.
        wanted = std::min(wanted, limit);
        Grid->setColumnWidth(c, std::max(wanted, cells.averageCharWidth() * 4));
    }
}

void EnsureColumns(QTableWidget* Grid, const QList<Column>& Columns, const QString& Ambient)
{
    if (Grid->columnCount() > 0)
        return;
    Grid->setColumnCount(static_cast<int>(Columns.size()));
    for (int c = 0; c < Columns.size(); ++c) {
        const Column& column = Columns.at(c);
        auto* header = new QTableWidgetItem(column.Header.isEmpty() ? QString() : Translate(column.Header, Ambient));
        header->setData(Qt::UserRole, column.Key);
        if (column.Width > 0)
            header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        Grid->setHorizontalHeaderItem(c, header);
        if (column.Width > 0)
            Grid->setColumnWidth(c, column.Width);
    }
}

QString CellText(const QVariant& Value)
{
    if (Value.isNull() || !Value.isValid())
        return QString();
    if (Value.typeId() == QMetaType::QDateTime)
        return Value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (Value.typeId() == QMetaType::Double) {
        const double d = Value.toDouble();
        return QString::number(d, 'g', 15);
    }
    return Value.toString();
}

int SelectedRow(const QTableWidget* Grid)
{
    const auto rows = Grid->selectionModel() ? Grid->selectionModel()->selectedRows() : QModelIndexList();
    if (rows.isEmpty())
        return -1;
    return rows.first().row();
}

void ReportStoreProblem(QWidget* Parent, const QString& Problem, QString& LastShown)
{
    if (Problem.isEmpty() || Problem == LastShown) {
        LastShown = Problem;
        return;
    }
    LastShown = Problem;
    Dialogs().MsgBox(Parent, Problem, MsgBoxStyle::vbExclamation);
}

void ShowChild(QWidget* Window)
{
    if (mdiMain* main = MainForm()) {
        main->AddChild(Window);
    } else {
        Window->show();
    }
    Window->raise();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(Window->parentWidget()))
        sub->raise();
}

void RestartSchedulerService()
{
    ServiceControl().RestartService();
    if (mdiMain* main = MainForm()) {
        main->Timer1().start();
        main->DiscardServiceAnswers();
    }
}

QString QtFileFilter(const QString& Filter)
{
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts.at(i);
        const QString pattern = QString(parts.at(i + 1)).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (!text.contains(QLatin1Char('(')))
            text += QStringLiteral(" (") + pattern + QLatin1Char(')');
        filters << text;
    }
    if (filters.isEmpty())
        return Filter;
    return filters.join(QStringLiteral(";;"));
}

void ShowEditPopup(const QPoint& GlobalPos, bool ShowImport)
{
    mdiMain* main = MainForm();
    if (!main)
        return;
    if (QAction* import = main->cmdBar().Button(QStringLiteral("IMPORTSCHED")))
        import->setVisible(ShowImport);
    main->ShowPopupBar(QStringLiteral("POPUPEDITMENU"), GlobalPos);
}

void ShowClearPopup(const QPoint& GlobalPos)
{
    if (mdiMain* main = MainForm())
        main->ShowPopupBar(QStringLiteral("POPUPCLEARMENU"), GlobalPos);
}

}  // namespace AdminScreens
