#pragma once

// The common frame of the two run-history screens: a read-only grid over one
// run-data store, refilled when shown, when cleared and every 60 seconds (so
// runs finished by the runner or the service appear without user action).

#include <QTimer>
#include <QWidget>

#include "admin/AdminCommon.h"
#include "stores/cMeridoxData.h"

class QTableWidget;

class cHistoryScreen : public QWidget {
    Q_OBJECT
public:
    QTableWidget* grdData() const { return m_grdData; }
    QTimer& Timer1() { return m_timer1; }
    kindrecordset Store() const { return m_store; }

    // Closes (unloads) the window.
    Q_INVOKABLE void ActionClose();
    // Empties the store, without asking, and fills the grid again.
    Q_INVOKABLE void ActionClear();
    // Fills the grid, shows the window and brings it to the front.
    Q_INVOKABLE void ActionEdit();

    // Fills the grid from the store.
    void LoadGrid();

protected:
    struct FieldColumn {
        AdminScreens::Column Column;
        QString Field;
    };
    cHistoryScreen(const QString& Name, const QString& Caption, kindrecordset Store, QList<FieldColumn> Columns,
                   QWidget* Parent);

private:
    void Timer1_Timer();
    void grdData_ContextMenu(const QPoint& Pos);

    kindrecordset m_store;
    QList<FieldColumn> m_columns;
    QTableWidget* m_grdData = nullptr;
    QTimer m_timer1;
    QString m_storeProblem;
};
