#include "workbench/FillGrid.h"

#include <QAbstractItemView>
#include <QDateTime>
#include <QHeaderView>
#include <QLocale>
#include <QTableWidget>
#include <QTableWidgetItem>

namespace {

constexpr int KeyRole = Qt::UserRole + 1;

// Where a materialised recordset stood, to put it back after a fill.
struct Position {
    long absolute = 0;
    bool atEnd = false;
    bool atStart = false;
};

Position Remember(const ado::Recordset& rs)
{
    Position p;
    if (!rs.isOpen() || rs.isStreaming())
        return p;
    if (rs.IsEOF())
        p.atEnd = true;
    else if (rs.IsBOF())
        p.atStart = true;
    else
        p.absolute = rs.AbsolutePosition();
    return p;
}

void Restore(ado::Recordset& rs, const Position& p)
{
    if (!rs.isOpen() || rs.isStreaming())
        return;
    if (p.absolute > 0) {
        rs.setAbsolutePosition(p.absolute);
    } else if (p.atEnd) {
        if (rs.MoveLast())
            rs.MoveNext();
    } else if (p.atStart) {
        if (rs.MoveFirst())
            rs.MovePrevious();
    }
}

}  // namespace

void SetupRecordGrid(QTableWidget* Grid)
{
    if (!Grid)
        return;
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->horizontalHeader()->setStretchLastSection(true);
    Grid->horizontalHeader()->setHighlightSections(false);
    Grid->verticalHeader()->setVisible(false);
    Grid->verticalHeader()->setDefaultSectionSize(Grid->fontMetrics().height() + 8);
}

int AddGridColumn(QTableWidget* Grid, const QString& Key, const QString& Header, int Width)
{
    const int column = Grid->columnCount();
    Grid->insertColumn(column);
    auto* item = new QTableWidgetItem(Header);
    item->setData(KeyRole, Key);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Grid->setHorizontalHeaderItem(column, item);
    if (Width >= 0)
        Grid->setColumnWidth(column, Width);
    return column;
}

QString GridColumnKey(const QTableWidget* Grid, int Column)
{
    const QTableWidgetItem* item = Grid ? Grid->horizontalHeaderItem(Column) : nullptr;
    return item ? item->data(KeyRole).toString() : QString();
}

int GridColumnByKey(const QTableWidget* Grid, const QString& Key)
{
    if (!Grid)
        return -1;
    for (int c = 0; c < Grid->columnCount(); ++c)
        if (GridColumnKey(Grid, c).compare(Key, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

QString GridCellText(const QVariant& Value)
{
    if (Value.isNull() || !Value.isValid())
        return {};
    switch (Value.typeId()) {
    case QMetaType::Bool:
        return Value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDateTime: {
        const QDateTime time = Value.toDateTime();
        // A date without a time of day shows as the date alone.
        if (time.time() == QTime(0, 0))
            return QLocale().toString(time.date(), QLocale::ShortFormat);
        return QLocale().toString(time, QLocale::ShortFormat);
    }
    case QMetaType::QDate:
        return QLocale().toString(Value.toDate(), QLocale::ShortFormat);
    case QMetaType::QByteArray: {
        // Binary data: the first bytes in hex, enough to tell values apart.
        const QByteArray bytes = Value.toByteArray();
        QString text = QString::fromLatin1(bytes.left(32).toHex(' '));
        if (bytes.size() > 32)
            text += QStringLiteral(" ...");
        return text;
    }
    default:
        return Value.toString();
    }
}

void FillGrid(QTableWidget* Grid, ado::Recordset rs, int MaxRecords)
{
    if (!Grid || !rs.isOpen())
        return;
    const Position before = Remember(rs);

    Grid->setUpdatesEnabled(false);
    Grid->clearContents();
    Grid->setRowCount(0);
    SetupRecordGrid(Grid);

    const int fields = rs.FieldCount();
    if (Grid->columnCount() == 0)
        for (int i = 0; i < fields; ++i) {
            const QString name = rs.Fields(i).Name();
            AddGridColumn(Grid, name, name);
        }

    int count = 0;
    rs.MoveFirst();
    while (!rs.IsEOF() && count < MaxRecords) {
        const int row = Grid->rowCount();
        Grid->insertRow(row);
        for (int i = 0; i < fields && i < Grid->columnCount(); ++i) {
            const QVariant value = rs.value(i);
            if (!value.isNull())
                Grid->setItem(row, i, new QTableWidgetItem(GridCellText(value)));
        }
        ++count;
        if (!rs.MoveNext())
            break;  // a source that stops delivering rows ends the fill
    }

    Grid->resizeColumnsToContents();
    Grid->setUpdatesEnabled(true);
    Restore(rs, before);
}
