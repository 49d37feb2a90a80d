#pragma once

// Helpers the administration screens share: their grids, the text of a
// stored value, showing a screen in the main window and the service restart
// that follows every change of the schedule.

#include <QString>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QVariant>

class QPoint;
class QTableWidget;
class QWidget;

namespace AdminScreens {

// A read-only grid named "grdData", whole rows selected, one at a time.
QTableWidget* NewGrid(QWidget* Parent);

// The least size of a list screen, so that a restored window shows a
// useful part of its grid.
inline constexpr int kMinimumScreenWidth = 640;
inline constexpr int kMinimumScreenHeight = 360;

// Draws a cell without the trailing blanks of fixed text, so that a value
// wider than its column ends in a visible ellipsis while a short one shows
// whole; the item keeps the value as stored.
class cPaddedTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* Option, const QModelIndex& Index) const override;
};

// Sets the grid's columns when it has none yet: headers translated with
// Ambient; a width of 0 keeps the grid's default.
struct Column {
    QString Key;
    QString Header;
    int Width = 0;
};
void EnsureColumns(QTableWidget* Grid, const QList<Column>& Columns, const QString& Ambient);

// Sizes the columns to show their header and cells on one line: a column
// without a width of its own (Width 0) takes what its contents need, one
// with a width grows when its contents need more; trailing blanks of fixed
// text do not count, and no column grows beyond about 32 characters or
// its own width, whichever is larger.
void FitDefaultColumns(QTableWidget* Grid, const QList<Column>& Columns);

// The text a grid shows for a stored value; Null gives an empty text.
QString CellText(const QVariant& Value);

// The grid's selected row (0-based), -1 when none is selected.
int SelectedRow(const QTableWidget* Grid);

// Shows what a store said while it was read (a damaged file set aside, a
// file that cannot be read) in a message box; the same text is shown once
// only, so a screen that refills itself does not repeat it. LastShown is
// the screen's memory of it.
void ReportStoreProblem(QWidget* Parent, const QString& Problem, QString& LastShown);

// Shows Window as a child of the main window when there is one, else on its
// own, and brings it to the front.
void ShowChild(QWidget* Window);

// The scheduler service reloads the schedule only when it starts: restart it
// (when it is running) and let the main window follow its state.
void RestartSchedulerService();

// "Text (*.x)|*.x|..." (the common dialog's filter form) as a Qt file
// dialog filter.
QString QtFileFilter(const QString& Filter);

// Opens the main window's context menu "POPUPEDITMENU" at the global
// position, its entry IMPORTSCHED shown or hidden, or "POPUPCLEARMENU".
void ShowEditPopup(const QPoint& GlobalPos, bool ShowImport);
void ShowClearPopup(const QPoint& GlobalPos);

}  // namespace AdminScreens
