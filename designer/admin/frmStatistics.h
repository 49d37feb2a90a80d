#pragma once

// The window in which the designer runs an integration ("Execution
// Statistics"): it starts the run, shows the counters and the progress while
// the run goes on, lists the log lines the engine announces (newest first)
// and offers the error history when the run has finished.
//
// Usage (the workbench's run command):
//   auto* w = new frmStatistics;        // deletes itself when closed
//   w->ActionRun(&process);             // returns when the run has ended

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>

#include "run/tStatistic.h"

class QCloseEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class clsProcess;

class frmStatistics : public QWidget {
    Q_OBJECT
public:
    explicit frmStatistics(QWidget* Parent = nullptr);
    ~frmStatistics() override;

    // Starts a run of Process in this window: shows the window (as a child of
    // the main window when there is one) and runs synchronously; the window
    // stays live through the engine's yields. Returns when the run has ended.
    Q_INVOKABLE void ActionRun(clsProcess* Process);
    // Closes (unloads) the window.
    Q_INVOKABLE void ActionClose();

    clsProcess* Process() const;
    bool Running() const { return m_running; }
    // True once the run's end was announced (the end buttons are shown).
    bool Finished() const { return m_finished; }
    // The progress text as last refreshed.
    const QString& ProgressText() const { return m_progressText; }

    // Controls, for the tests and the main window.
    QLineEdit* txtIntegration() const { return m_txtIntegration; }
    QLineEdit* txtStartTime() const { return m_txtStartTime; }
    QLineEdit* txtEndTime() const { return m_txtEndTime; }
    QLineEdit* txtSuccess(int Index) const { return m_txtSuccess.at(Index); }
    QLineEdit* txtError(int Index) const { return m_txtError.at(Index); }
    QLineEdit* txtSkipped(int Index) const { return m_txtSkipped.at(Index); }
    QLineEdit* txtTotal(int Index) const { return m_txtTotal.at(Index); }
    QProgressBar* ProgressBar() const { return m_progress; }
    QPlainTextEdit* memLog() const { return m_memLog; }
    QPushButton* cmdCancelar() const { return m_cmdCancelar; }
    QPushButton* cmdOk() const { return m_cmdOk; }
    QPushButton* cmdLog() const { return m_cmdLog; }
    QPushButton* cmdRefused() const { return m_cmdRefused; }
    QTimer& Timer1() { return m_timer1; }

public slots:
    // Refresh of the counters and the progress (the timer's routine).
    void Timer1_Timer();

protected:
    void closeEvent(QCloseEvent* Event) override;

private slots:
    void Process_ProcessStarted(const tStatistic& Statistic);
    void Process_LogAdded(const QString& Text);
    void Process_IntegrationEnd(const tStatistic& Statistic);
    void cmdCancelar_Click();
    void cmdOk_Click();
    void cmdLog_Click();
    void cmdRefused_Click();

private:
    void SetProcess(clsProcess* Process);
    void ShowEndButtons(bool Finished);

    QPointer<clsProcess> m_process;
    bool m_running = false;
    bool m_finished = false;
    bool m_closeRequested = false;
    bool m_started = false;  // this run's record loop has begun
    QString m_progressText;
    QString m_processingText;   // "Processing record "
    QString m_ofText;           // " of "
    QString m_recordWord;       // "Record", before an error line's record number

    QLineEdit* m_txtIntegration = nullptr;
    QLineEdit* m_txtStartTime = nullptr;
    QLineEdit* m_txtEndTime = nullptr;
    std::array<QLineEdit*, 5> m_txtSuccess{};
    std::array<QLineEdit*, 5> m_txtError{};
    std::array<QLineEdit*, 5> m_txtSkipped{};
    std::array<QLineEdit*, 5> m_txtTotal{};
    QProgressBar* m_progress = nullptr;
    QPlainTextEdit* m_memLog = nullptr;
    QPushButton* m_cmdCancelar = nullptr;
    QPushButton* m_cmdOk = nullptr;
    QPushButton* m_cmdLog = nullptr;
    QPushButton* m_cmdRefused = nullptr;
    QTimer m_timer1;
};
