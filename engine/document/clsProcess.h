#pragma once

// One integration: its document (nodes, links, formulas), its file, and its
// run log. The designer window, the runner and the test preview each hold one.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include "document/IDocumentView.h"
#include "document/cFormulas.h"
#include "document/cLines.h"
#include "document/cShapes.h"
#include "run/clsLog.h"
#include "run/tStatistic.h"

class RunEngine;
enum class RunOutcome;

class clsProcess : public QObject {
    Q_OBJECT
public:
    explicit clsProcess(QObject* parent = nullptr);
    ~clsProcess() override;

    // ---- Document -----------------------------------------------------------
    // The window the document is drawn on (may be null). Stored only: it
    // reaches the collections at the next LoadIntegration.
    void setForm(IDocumentView* form);
    IDocumentView* Form() const { return m_form.data(); }

    // The three collections, created with the process and never replaced.
    cShapes* Shapes() const { return m_shapes.get(); }
    cLines* Lines() const { return m_lines.get(); }
    cFormulas* Formulas() const { return m_formulas.get(); }

    // The document's integration file.
    const QString& Filename() const { return m_filename; }

    // Puts node cb in front of the stop node: previous -> stop becomes
    // previous -> cb -> stop. False (nothing changed) without a stop node,
    // without a link into it, or when cb is not a node of this document
    // that can be put there.
    bool insertShapeAtEnd(const cShapeRef& cb);
    // Whether a storage field's mapping or lookup is "FORMULA!" + that name
    // (names compared without regard to letter case).
    bool isFormulaUsed(const QString& formulaname) const;

    // ---- File ---------------------------------------------------------------
    // Builds the document from a file, or from the empty integration when
    // Filename is empty. Returns empty text, or the error text; on error the
    // document and Filename are unchanged.
    QString LoadIntegration(const QString& Filename, IDocumentView* form = nullptr);
    // Writes the document to Filename (when given, it becomes the document's
    // file on success) or to the document's file. Returns empty text, or the
    // error text; on error the old file and Filename are kept.
    QString SaveIntegration(const QString& Filename = QString());

    // ---- Log ----------------------------------------------------------------
    clsLog* Log() const { return m_log.get(); }

    // ---- Run ----------------------------------------------------------------
    // Loads a file and runs it (the runner's entry point).
    short RunFile(const QString& Filename);
    // Runs the loaded document (the run-progress window).
    short Run();
    // Prepares a step-by-step test run at the first source record; changes
    // stay in a transaction that is rolled back, never committed.
    short RunRecord();
    // Processes the current source record of a test run and moves on.
    short RunNextRecord();
    // The record loop stops before the next record; a record under way is
    // finished first.
    short CancelExec();
    cShapeRef SourceStep() const;
    ado::Recordset SourceData() const;
    // A step's data as the current run sees it: a storage step's row of the
    // record just processed (its recordset may still hold an older row).
    ado::Recordset StepData(cShape& Step) const;
    tStatistic Statistics() const;
    // Empty text when the formula compiles and runs against the document,
    // else the script error with its line.
    QString CheckFormula(const QString& Text);
    // Called between steps (at most every few milliseconds) so a window
    // stays live during a run.
    void setYieldCallback(std::function<void()> callback);
    RunOutcome LastOutcome() const;
    bool IsRunning() const;

signals:
    void ProcessStarted(const tStatistic& Statistic);
    void StatisticsAdded(const tStatistic& Statistics);
    void StepStatus(cShape* Step);   // declared for listeners; never raised
    void LogAdded(const QString& Text);
    void IntegrationEnd(const tStatistic& Statistic);

public:

private:
    void AttachDocumentForm();
    cShapeRef FindStopStep() const;

    QPointer<IDocumentView> m_form;
    std::unique_ptr<cShapes> m_shapes;
    std::unique_ptr<cLines> m_lines;
    std::unique_ptr<cFormulas> m_formulas;
    std::unique_ptr<clsLog> m_log;
    QString m_filename;

    // ---- Run state ----------------------------------------------------------
    std::unique_ptr<RunEngine> m_run;
};
