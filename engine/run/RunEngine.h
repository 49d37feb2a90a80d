#pragma once
// Execution of one integration document: preparation, the record loop, the
// walk of one record through the flow and the work of each storage step.
// clsProcess owns one and forwards its run members here.

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "data/CommitGroup.h"
#include "data/Connection.h"
#include "data/PreparedCommand.h"
#include "data/Recordset.h"
#include "document/cShapes.h"
#include "run/FormulaHost.h"
#include "run/tStatistic.h"

class clsProcess;
struct StoragePlanValue;
struct StepFailure;

// How the last run ended (the runner's exit code is taken from it).
enum class RunOutcome {
    NotRun,
    LoadFailed,        // RunFile: the file could not be loaded
    PrepareFailed,     // no source, or the source could not be read
    Critical,          // ended on a critical log entry
    Completed,
    CompletedWithErrors,
    Cancelled,
    Refused,           // another run of the same document was in progress
};

class RunEngine {
public:
    explicit RunEngine(clsProcess& process);
    ~RunEngine();

    short RunFile(const QString& Filename);
    short Run();
    short RunRecord();
    short RunNextRecord();
    short CancelExec();

    cShapeRef SourceStep() const { return m_sourceStep; }
    ado::Recordset SourceData() const { return m_sourceData; }
    tStatistic Statistics() const { return m_stats; }
    QString CheckFormula(const QString& Text);

    // Called between steps, at most every few milliseconds, so that a window
    // stays live during a run. The runner sets none.
    void setYieldCallback(std::function<void()> callback) { m_yield = std::move(callback); }
    RunOutcome lastOutcome() const { return m_outcome; }
    bool isRunning() const { return m_running; }

    // Field reference `Step("Field")` taken apart: false when malformed.
    static bool splitFieldReference(const QString& ref, QString& step, QString& field);

    // The current value of a step's field for references and step objects.
    // On failure returns false with an ADO-style error number and text.
    bool readStepField(cShape& step, const QString& field, QVariant& value, long& errNumber,
                       QString& errText);
    // The same, keeping the field's column number in `column` (-1 at first)
    // for the reads of the run's source, whose columns stay as they are
    // while the run lasts.
    bool readStepField(cShape& step, const QString& field, int& column, QVariant& value, long& errNumber,
                       QString& errText);
    // Whether formulas reach the step as an object: every storage step whose
    // target is known, from the first record on, and every data step.
    bool isStepReachable(cShape& step);
    // Whether the step stands on a row (a storage step: the row its lookup
    // found or its write stored for the current record).
    bool stepHasRow(cShape& step);
    // Name of the step's field at a 0-based position; false when out of range.
    bool stepFieldName(cShape& step, int index, QString& name);
    // The step's data as it stands now: for a storage step of the current
    // run, its current row (none when it has none).
    ado::Recordset stepData(cShape& step);
    // The node of a caption (steps collection of the preparation).
    cShapeRef stepByCaption(const QString& caption) const;
    const std::vector<cShapeRef>& stepsInOrder() const { return m_stepsInOrder; }

private:
    struct StoragePlan;
    struct StepRun;
    enum class RowAction { None, Insert, Update, Delete, Lookup };

    bool PrepareRun(bool execute);
    void shareConnections(bool execute);
    bool openSource(bool execute);
    void RunLoop();
    void ProcessRecord();
    cShapeRef NextStep(const cShapeRef& step, const QString& caption) const;
    void ExecuteStorageStep(cShape& step);
    bool lookup(StepFailure& failure, StepRun& run, std::optional<QVariantList>& found);
    RowAction decide(const StepRun& run, const std::optional<QVariantList>& found) const;
    void deleteRow(StepFailure& failure, StepRun& run, const QVariantList& found);
    void writeRow(StepFailure& failure, StepRun& run, RowAction action, const std::optional<QVariantList>& found);
    // value receives the field's value, or result points at it where it can
    // be read in place (a source column); result is set in either case.
    bool evaluateField(StepFailure& failure, StoragePlanValue& v, QVariant& value, const QVariant*& result);
    void readBack(StepRun& run, int written, QVariantList& row);
    void failStep(StepFailure& failure, const QString& description, long number);
    bool BuildStepsCollection(QString& error);
    void ResetStatistics();
    void writeExecutionRow();
    void releaseSource();
    void startCommitGroup();
    void endCommitGroup(bool critical);
    // Where the group's records start: what a rerun of them starts from.
    void markGroupStart();
    // Acts on the group's answer for the records since markGroupStart.
    void settleGroup(ado::CommitGroup::Outcome outcome);
    void replayGroup();
    // The record's work was not kept: what it counted as done failed.
    void loseRecord(const tStatistic& before);
    void releaseHeldLines();
    void maybeYield();
    // record: the RECORD of the error row (-1: the current record).
    void logError(const QString& text, long number, std::int32_t record = -1);
    StepRun& stepRun(const cShape& step);
    StepRun* findStepRun(const cShape& step) const;
    bool connectStep(cShape& step);
    bool preparePlan(cShape& step, StepRun& run);
    bool readReference(StoragePlanValue& v, QVariant& value, const QVariant*& result, long& errNumber,
                       QString& errText);
    // A column of the run's source on its current record, by number (found
    // by name on first use), read in place.
    bool readSourceColumn(const QString& field, int& column, const QVariant*& result, long& errNumber,
                          QString& errText);
    void count(int slot, bool success);
    void countFailure(int editMode, const QString& operation);

    clsProcess& m_process;
    std::unique_ptr<FormulaHost> m_host;
    cShapeRef m_sourceStep;
    cShapeRef m_startStep;
    ado::Recordset m_sourceData;
    tStatistic m_stats;
    bool m_cancel = false;
    bool m_running = false;
    int m_errorRows = 0;   // error rows saved by the current run
    RunOutcome m_outcome = RunOutcome::NotRun;
    // Steps keyed by caption (case-insensitive) and in document order.
    QHash<QString, cShapeRef> m_steps;
    std::vector<cShapeRef> m_stepsInOrder;
    // The step each step leads to, by node number, found on the first record.
    QHash<std::int16_t, cShapeRef> m_walkNext;
    std::vector<std::int16_t> m_visited;   // the steps a record's walk has passed
    // One connection per connection name, kept for the life of the process.
    QHash<QString, ado::Connection> m_connections;
    // What the run keeps for each step: its connection state, the plan of a
    // storage step and the row it stands on for the current record.
    std::map<const cShape*, std::unique_ptr<StepRun>> m_stepRuns;
    std::unique_ptr<ado::CommitGroup> m_group;   // a full run's writes, committed in groups
    // What the records of the open group counted, logged and started from:
    // their error lines wait for the group's commit, and all of it is set
    // back when the group's work is undone and its records run again.
    struct HeldLine {
        QString text;
        long number = 0;
        std::int32_t record = 0;
    };
    std::vector<HeldLine> m_heldLines;
    bool m_holdLines = false;
    bool m_replaying = false;   // a group's records run again, one commit each
    bool m_groupMarked = false;
    tStatistic m_groupStats;
    int m_groupErrorRows = 0;
    ado::Recordset::RowMark m_groupMark;
    std::function<void()> m_yield;
    QElapsedTimer m_sinceYield;
    // "Step" as the run's failure lines say it, translated once per run: a
    // translation costs a database query, and a run may fail every record.
    QString m_stepWord;
};
