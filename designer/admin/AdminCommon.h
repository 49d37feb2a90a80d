#pragma once

// Helpers the administration screens share: their grids, the text of a
// stored value, showing a screen in the main window and the service restart
// that follows every change of the schedule.

#include <QString>
#include <QStringList>
#include <QVariant>

class QPoint;
class QTableWidget;
class QWidget;

namespace AdminScreens {

// A read-only grid named "grdData", whole rows selected, one at a time.
QTableWidget* NewGrid(QWidget* Parent);

// Sets the grid's columns when it has none yet: headers translated with
// Ambient; a width of 0 keeps the grid's default.
struct Column {
    QString Key;
    QString Header;
    int Width = 0;
};
void EnsureColumns(QTableWidget* Grid, const QList<Column>& Columns, const QString& Ambient);

// Widens the columns that have no width of their own (Width 0) to show
// their header and cells on one line; trailing blanks of fixed text do not
// count, and no column grows beyond about 32 characters.
void FitDefaultColumns(QTableWidget* Grid, const QList<Column>& Columns);

// The text a grid shows for a stored value; Null gives an empty text.
QString CellText(const QVariant& Value);

// The grid's selected row (0-based), -1 when none is selected.
int SelectedRow(const QTableWidget* Grid);

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
