#pragma once

// The common frame of the two run-history screens: a read-only grid over one
// run-data store, refilled when shown, when cleared and every 60 seconds (so
// runs finished by the runner or the service appear without user action).
//
// A failing run adds one error row per record, so a store may hold a
// hundred thousand rows. The grid is a view over a model of the rows' texts,
// filled a slice at a time from the event loop so that the window answers
// while a large store is read; a refresh reads only the rows added since the
// last one (the stores grow by appends) and starts over only when the file
// was replaced or cleared.

#include <QAbstractTableModel>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

#include "admin/AdminCommon.h"
#include "stores/cMeridoxData.h"

class QTableView;
class cStoreReader;

// The texts of a history grid. A row is kept as one block of UTF-8 text,
// its cells apart by a separator: a hundred thousand rows take a few tens of
// megabytes, and only the cells in sight are turned into text to draw.
class cHistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Headers, and the columns whose header is left-aligned.
    void SetHeaders(const QStringList& Headers, const QList<int>& LeftAligned = {});
    void Clear();
    void Append(const std::vector<QStringList>& Rows);
    QString Text(int Row, int Column) const;

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;

private:
    QStringList m_headers;
    QList<int> m_leftAligned;
    std::vector<QByteArray> m_rows;
};

class cHistoryScreen : public QWidget {
    Q_OBJECT
public:
    ~cHistoryScreen() override;

    QTableView* grdData() const { return m_grdData; }
    QTimer& Timer1() { return m_timer1; }
    kindrecordset Store() const { return m_store; }

    // Rows shown, and the text of a cell as the grid shows it (0-based).
    int RowCount() const;
    QString CellText(int Row, int Column) const;
    // True while rows already in the store are still being read into the grid.
    bool Loading() const { return m_loading; }

    // Closes (unloads) the window.
    Q_INVOKABLE void ActionClose();
    // Empties the store, without asking, and fills the grid again.
    Q_INVOKABLE void ActionClear();
    // Fills the grid, shows the window and brings it to the front.
    Q_INVOKABLE void ActionEdit();

    // Brings the grid up to the store: the rows added since the last fill
    // (all of them after a clear or when the file was replaced). The first
    // slice is read at once, the rest from the event loop.
    void LoadGrid();

protected:
    struct FieldColumn {
        AdminScreens::Column Column;
        QString Field;
    };
    cHistoryScreen(const QString& Name, const QString& Caption, kindrecordset Store, QList<FieldColumn> Columns,
                   QWidget* Parent);

private:
    void ReadSlice();
    void FitColumns(const std::vector<QStringList>& Rows);
    QStringList RowTexts(const QVariantList& Values) const;
    void Timer1_Timer();
    void grdData_ContextMenu(const QPoint& Pos);

    kindrecordset m_store;
    QList<FieldColumn> m_columns;
    QTableView* m_grdData = nullptr;
    cHistoryModel* m_model = nullptr;
    QTimer m_timer1;
    QTimer m_nextSlice;
    QString m_storeProblem;
    std::unique_ptr<cStoreReader> m_reader;
    std::vector<int> m_fieldIndex;      // column -> field of the store, -1 none
    int m_descriptionColumn = -1;
    bool m_loading = false;
    bool m_columnsFitted = false;
    std::vector<int> m_widest;           // per column: the longest text measured
};
