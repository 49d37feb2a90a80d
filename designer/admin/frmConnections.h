#pragma once

// "Current Connections": the named connections of the designer's registry
// (gConnections), with commands to add, edit and delete them. The registry
// is written to its file after each change made here.

#include <QWidget>

class QTableWidget;

class frmConnections : public QWidget {
    Q_OBJECT
public:
    explicit frmConnections(QWidget* Parent = nullptr);

    // The screen's single window, created on first use (not shown).
    static frmConnections* Instance();

    QTableWidget* grdData() const { return m_grdData; }

    Q_INVOKABLE void ActionClose();
    // Fills the grid, shows the window and brings it to the front.
    Q_INVOKABLE void ActionShow();
    // Edits the selected row (after a question); nothing without a selection.
    Q_INVOKABLE void ActionEdit();
    Q_INVOKABLE void ActionAdd();
    Q_INVOKABLE void ActionDelete();
    Q_INVOKABLE void ActionSave();
    Q_INVOKABLE void ActionNewItem();
    // Edits the selected row without a question and without a refill.
    Q_INVOKABLE void ActionEditItem();
    Q_INVOKABLE void ActionDeleteItem();

    void LoadConnectionsGrid();

private:
    // Edits the connection on grid row Row (0-based); Col is not used.
    void EditConnectionRow(int Row, int Col);
    // The name shown on Row, empty when there is no such row.
    QString NameOnRow(int Row) const;
    void Save();
    void grdData_ContextMenu(const QPoint& Pos);

    QTableWidget* m_grdData = nullptr;
};
