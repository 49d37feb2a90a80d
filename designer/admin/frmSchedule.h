#pragma once

// "Scheduled Integrations": the jobs of the schedule store, with commands to
// add, edit, delete and import jobs. Every change is written to the store at
// once and the scheduler service is restarted so that it reloads them.

#include <QVariant>
#include <QWidget>

#include <optional>

#include "stores/cMeridoxData.h"

class QTableWidget;

class frmSchedule : public QWidget {
    Q_OBJECT
public:
    explicit frmSchedule(QWidget* Parent = nullptr);

    // The screen's single window, created on first use.
    static frmSchedule* Instance();

    QTableWidget* grdData() const { return m_grdData; }
    // The highest job ID seen at the last fill or added since.
    short HighestId() const { return m_highestId; }

    Q_INVOKABLE void ActionClose();
    // Shows the window, brings it to the front and fills the grid.
    Q_INVOKABLE void ActionEdit();
    // Adds the jobs of a chosen schedule file, each inactive.
    Q_INVOKABLE void importItems();
    Q_INVOKABLE void ActionNewItem();
    Q_INVOKABLE void ActionEditItem();
    Q_INVOKABLE void ActionDeleteItem();

    void LoadScheduleGrid();

    // The date of D at 00:00:00, and D's time of day.
    static QDateTime DateOnly(const QDateTime& D);
    static QTime TimeOnly(const QDateTime& D);

private:
    // Edits the job shown on grid row Row (0-based); Col is not used.
    void EditScheduleRow(int Row, int Col);
    // The store row behind grid row Row: found by the job's ID when it has
    // one (so a job the service touched meanwhile is still the same job),
    // else by position.
    cMeridoxData::RowMatch JobOnRow(int Row) const;
    std::optional<cMeridoxData::Row> ReadJob(int Row) const;
    // Says why a change of the store failed; true when it succeeded.
    bool Report(const StoreResult& Result);
    void AfterChange();
    void grdData_ContextMenu(const QPoint& Pos);

    QTableWidget* m_grdData = nullptr;
    short m_highestId = 0;
};
