#pragma once

// Turning recordsets into grid rows, shared by the step data viewer, the
// test preview and any screen that lists records.
//
//   FillGrid(grid, step->data(), 100);   // columns keyed by field name

#include <QString>
#include <QVariant>

#include "data/Recordset.h"

class QTableWidget;

// Fills Grid with at most MaxRecords records of rs, one column per field
// (key and header = the field's name) unless the grid has columns already.
// A Null value leaves its cell empty. Errors while reading end nothing: the
// grid shows what was read. The recordset is left where it stood, so a
// recordset a run is walking is not disturbed.
void FillGrid(QTableWidget* Grid, ado::Recordset rs, int MaxRecords);

// Puts the grid into the look every record grid of the designer has: whole
// rows selected, one at a time, read-only, last column stretched.
void SetupRecordGrid(QTableWidget* Grid);

// Adds a column with a key (kept with the header) and a header text.
int AddGridColumn(QTableWidget* Grid, const QString& Key, const QString& Header, int Width = -1);
// The column of a key (any letter case), -1 when none.
int GridColumnByKey(const QTableWidget* Grid, const QString& Key);
// The key of a column, empty when none.
QString GridColumnKey(const QTableWidget* Grid, int Column);

// The text a grid cell shows for a field value; empty for Null.
QString GridCellText(const QVariant& Value);
