#pragma once

// "Scheduled Integrations": the jobs of the schedule store, with commands to
// add, edit, delete and import jobs. Every change is written to the store at
// once and the scheduler service is restarted so that it reloads them.

#include <QStringList>
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
    // The job shown on grid row Row as the store holds it now: the store row
    // at the same position when it still has the ID the grid showed, else
    // the one row with that ID. Position is the row's place in the store.
    struct StoredJob {
        int Position = -1;
        cMeridoxData::Row Values;
    };
    std::optional<StoredJob> ReadJob(int Row) const;
    // Matches exactly the store row at Position, and only while it holds ID.
    static cMeridoxData::RowMatch JobAt(int Position, const QVariant& Id);
    // Says that the job of a row is gone or ambiguous and shows the store anew.
    void JobNotFound();
    // Says why a change of the store failed; true when it succeeded.
    bool Report(const StoreResult& Result);
    void AfterChange();
    void grdData_ContextMenu(const QPoint& Pos);

    QTableWidget* m_grdData = nullptr;
    // What the last fill found wrong with the job IDs (one line per fault).
    QStringList m_idProblems;
    QString m_storeProblem;
};
