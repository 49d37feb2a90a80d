#pragma once

// The test preview: runs an integration one source record at a time and
// shows, side by side, the source record just processed and the data of the
// step selected on the canvas after processing it. The writes of a test run
// stay in the engine's test transaction, which is never committed: closing
// the window (or starting another test) rolls it back and lets the test's
// connections go.
//
//   frmTestPreview::DefaultInstance()->ShowData(&process);
//   preview->cmdNav_Click(2);   // process the next record

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>

#include "data/Recordset.h"

class QCloseEvent;
class QLabel;
class QSplitter;
class QTableWidget;
class QToolButton;
class clsProcess;

class frmTestPreview : public QWidget {
    Q_OBJECT
public:
    explicit frmTestPreview(QWidget* Parent = nullptr);
    ~frmTestPreview() override;

    // The window the designer's test command uses, created on first use and
    // again after it was closed.
    static frmTestPreview* DefaultInstance();

    // Starts a test of Process at its first source record, processes that
    // record and shows the window. False (nothing shown) when the test could
    // not be started: no source step, or its data cannot be read.
    bool ShowData(clsProcess* Process);

    // Closes (unloads) the window.
    Q_INVOKABLE void ActionClose();

    // True while the test preview holds a test of Process.
    static bool IsTesting(const clsProcess* Process);
    // Ends the test of Process, when the preview holds one: the window
    // closes and the test's writes are rolled back.
    static void EndTestOf(const clsProcess* Process);

    // Navigation: 0 first, 1 previous, 2 next, 3 last; each shows the record
    // then standing and processes it.
    void cmdNav_Click(int Index);

    clsProcess* Process() const { return m_process.data(); }
    QLabel* lblSource() const { return m_lblSource; }
    QLabel* lblTarget() const { return m_lblTarget; }
    QLabel* lblRecordPos() const { return m_lblRecordPos; }
    QToolButton* cmdNav(int Index) const { return m_cmdNav.at(Index); }
    QTableWidget* grdData(int Index) const { return m_grdData.at(Index); }
    QSplitter* vlmSplitter1() const { return m_splitter; }

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    // Rolls the held test back, closes its connections and lets the
    // process go; nothing when no test is held.
    void EndTest();
    void ShowRecord();
    void FillRecordGrid(QTableWidget* Grid, const ado::Recordset& rs);

    QPointer<clsProcess> m_process;
    QLabel* m_lblSource = nullptr;
    QLabel* m_lblTarget = nullptr;
    QLabel* m_lblRecordPos = nullptr;
    std::array<QToolButton*, 4> m_cmdNav{};
    QSplitter* m_splitter = nullptr;
    std::array<QTableWidget*, 2> m_grdData{};
};
