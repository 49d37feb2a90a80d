#include "run/RunEngine.h"

#include <QDateTime>

#include <algorithm>
#include <new>

#include "data/AdoTypes.h"
#include "data/ConnectionString.h"
#include "data/Field.h"
#include "document/clsProcess.h"
#include "run/clsLog.h"
#include "stores/basUtils.h"
#include "stores/cMeridoxData.h"

namespace {

QString tr(const char* text)
{
    return Translate(QString::fromUtf8(text), QStringLiteral("clsProcess"));
}

// Descriptions of the recordset errors a field reference can meet.
const QString kNoCurrentRecord = QStringLiteral(
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.");
const QString kItemNotFound = QStringLiteral(
    "Item cannot be found in the collection corresponding to the requested name or ordinal.");
const QString kObjectNotSet = QStringLiteral("Object variable not set");
const QString kInvalidCall = QStringLiteral("Invalid procedure call or argument");

int findColumn(const std::vector<ado::FieldInfo>& columns, const QString& name)
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a == b;
}

QString connectionNameOf(const cShape& node)
{
    if (const tData* d = node.dataRecord())
        return d->connName;
    if (const tStorage* s = node.storageRecord())
        return s->connName;
    return {};
}

}  // namespace

// One written field of a storage step.
struct StoragePlanValue {
    QString fName;
    QString fValue;
    int column = -1;          // in the target's layout; -1 when the table has no such column
    bool formula = false;
    bool reference = false;   // Step("Field")
    QString refStep;
    QString refField;
    bool isKey = false;       // also a lookup field: never overwritten on an existing row
    int slot = -1;            // position of its column among those an insert writes
    // The referenced step and, for the source, its column: found on the
    // first record of the run instead of by name on every record.
    bool resolved = false;
    cShapeRef refNode;
    int refColumn = -1;
};

// The step being executed and what its failure is counted and logged as:
// the field mapping being applied names the failing field. The mapping's
// text ("value --> field") is put together only when something fails: the
// two halves are strings of the step's plan, which outlives the step.
struct StepFailure {
    cShape& step;
    QString operation;
    int editMode = ado::adEditNone;
    const QString* contextFrom = nullptr;
    const QString* contextTo = nullptr;

    void setContext(const QString& from, const QString& to)
    {
        contextFrom = &from;
        contextTo = &to;
    }
    void clearContext() { contextFrom = contextTo = nullptr; }
    bool hasContext() const { return contextFrom != nullptr; }
    QString context() const { return hasContext() ? *contextFrom + QStringLiteral(" --> ") + *contextTo : QString(); }
};

// What a storage step needs for every record, worked out once per run: the
// target's layout, the lookup terms and the written fields. Statements are
// prepared by the table writer once per column list.
struct RunEngine::StoragePlan {
    using Value = StoragePlanValue;

    bool prepared = false;
    bool failed = false;
    QString failText;
    long failNumber = 0;
    QString operation;
    ado::TableWriter writer;
    std::shared_ptr<const std::vector<ado::FieldInfo>> columns;
    QStringList keyColumns;
    QStringList keyExprs;
    std::vector<Value> values;
    QStringList insertColumns;     // what an insert writes: each written column once, in mapping order
    QStringList locateColumns;     // how a found row is addressed for update and delete
    std::vector<int> locateIndexes;
    QStringList primaryKey;
    std::vector<int> primaryIndexes;
};

// Per-run state of one step.
struct RunEngine::StepRun {
    bool connectionFailed = false;   // reported once; not tried again in this run
    StoragePlan plan;
    // The row the storage step stands on for the current record.
    QVariantList row;
    bool present = false;
    bool usable() const { return plan.prepared && !plan.failed && plan.columns; }
};

RunEngine::RunEngine(clsProcess& process)
    : m_process(process), m_host(std::make_unique<FormulaHost>(process, *this))
{
}

RunEngine::~RunEngine() = default;

bool RunEngine::splitFieldReference(const QString& ref, QString& step, QString& field)
{
    const int p = ref.indexOf(QLatin1Char('('));
    if (p <= 0 || ref.size() - p - 3 < 0)
        return false;
    step = ref.left(p);
    field = ref.mid(p + 2, ref.size() - p - 4);
    return true;
}

cShapeRef RunEngine::stepByCaption(const QString& caption) const
{
    return m_steps.value(caption.toCaseFolded());
}

// ---------------------------------------------------------------- entry points

short RunEngine::RunFile(const QString& Filename)
{
    clsLog* log = m_process.Log();
    log->AddLog(QStringLiteral("MeridoxRunner: Loading ") + Filename);
    const QString error = m_process.LoadIntegration(Filename);
    if (!error.isEmpty()) {
        // A file that cannot be loaded is not run: an empty document would
        // only fail later with a misleading message.
        log->AddLog(error);
        m_outcome = RunOutcome::LoadFailed;
        return 0;
    }
    log->AddLog(QStringLiteral("MeridoxRunner: Executing ") + Filename);
    return Run();
}

short RunEngine::Run()
{
    if (m_running) {
        m_process.Log()->AddLog(tr("A run of this integration is already in progress."));
        return 0;
    }
    m_running = true;
    try {
        PrepareRun(true);
    } catch (const std::bad_alloc&) {
        // Out of memory outside a step (a step's own is a failure of its
        // record): the run ends as on a critical error, keeping what it did.
        releaseSource();
        m_process.Log()->AddCritical(QStringLiteral("CRITICAL ERROR:Out of memory"));
        m_outcome = RunOutcome::Critical;
        endCommitGroup(true);
    }
    m_running = false;
    return 0;
}

short RunEngine::RunRecord()
{
    if (m_running) {
        m_process.Log()->AddLog(tr("A run of this integration is already in progress."));
        return 0;
    }
    m_running = true;
    if (PrepareRun(false)) {
        ResetStatistics();
        m_stats.TotalRecords = static_cast<std::int32_t>(m_sourceData.RecordCount());
        m_stats.CurrRecord = 1;
        m_stats.StartTime = QDateTime::currentDateTime();
        m_sourceData.MoveFirst();
    }
    m_running = false;
    return 0;
}

short RunEngine::RunNextRecord()
{
    if (m_running || !m_sourceData.isOpen())
        return 0;
    m_running = true;
    if (!m_sourceData.IsEOF()) {
        ProcessRecord();
        m_sourceData.MoveNext();
    }
    m_running = false;
    return 0;
}

short RunEngine::CancelExec()
{
    m_cancel = true;
    return 0;
}

// ---------------------------------------------------------------- preparation

bool RunEngine::BuildStepsCollection(QString& error)
{
    m_steps.clear();
    m_stepsInOrder.clear();
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        // A node without a caption (drawing kinds placed on the canvas) can
        // be reached by no script: it is no step, and two of them must not
        // stop the run as a repeated key.
        if (node->sCaption.isEmpty())
            continue;
        const QString key = node->sCaption.toCaseFolded();
        if (m_steps.contains(key)) {
            error = QStringLiteral("This key is already associated with an element of this collection");
            m_steps.clear();
            m_stepsInOrder.clear();
            return false;
        }
        m_steps.insert(key, node);
        m_stepsInOrder.push_back(node);
    }
    return true;
}

RunEngine::StepRun& RunEngine::stepRun(const cShape& step)
{
    auto& slot = m_stepRuns[&step];
    if (!slot)
        slot = std::make_unique<StepRun>();
    return *slot;
}

RunEngine::StepRun* RunEngine::findStepRun(const cShape& step) const
{
    const auto it = m_stepRuns.find(&step);
    return it == m_stepRuns.end() ? nullptr : it->second.get();
}

bool RunEngine::connectStep(cShape& step)
{
    if (step.cnSource.isOpen())
        return true;
    StepRun& run = stepRun(step);
    // A connection that cannot be opened is reported once and not tried for
    // every record: each attempt may cost a full time-out.
    if (run.connectionFailed)
        return false;
    QString text;
    if (const tData* d = step.dataRecord())
        text = d->connString;
    else if (const tStorage* s = step.storageRecord())
        text = s->connString;
    step.cnSource.Errors().Clear();
    if (!text.isEmpty() && step.cnSource.Open(text))
        return true;
    run.connectionFailed = true;
    // The provider's reason, never the connection string or its password.
    // A step placed and never named is still told apart by its number.
    const QString name = step.sCaption.trimmed().isEmpty() ? tr("unnamed step %1").arg(step.Index) : step.sCaption;
    QString line = Translate(QStringLiteral("CRITICAL ERROR: Error opening connection"), QStringLiteral("cShape"))
                   + QLatin1Char(' ') + name + QStringLiteral(": ");
    const ado::ErrorList& errors = step.cnSource.Errors();
    if (text.isEmpty())
        line += QStringLiteral("no connection string is given");
    else if (errors.Count() > 0)
        line += ado::hideConnectionSecrets(errors.Item(errors.Count() - 1).Description, text);
    if (step.gbLog)
        step.gbLog->AddCritical(line);
    return false;
}

void RunEngine::shareConnections(bool execute)
{
    // Before any step opens its connection: a step that opened one of its
    // own would keep reading through it beside the shared one, and two
    // connections to one SQLite file lock each other out.
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        if (node->objType != aStorage && node->objType != aData)
            continue;
        const QString name = connectionNameOf(*node);
        // Steps without a connection name keep their own connection: one
        // empty name must not tie unrelated databases together.
        if (!name.isEmpty()) {
            const QString key = name.toCaseFolded();
            auto it = m_connections.find(key);
            if (it != m_connections.end()) {
                if (!node->cnSource.sameConnection(*it)) {
                    node->setDebugMode(false);
                    node->cnSource = *it;
                }
            } else {
                m_connections.insert(key, node->cnSource);
            }
        }
        node->setDebugMode(!execute);
    }
}

bool RunEngine::openSource(bool execute)
{
    m_sourceData = ado::Recordset();
    cShape& source = *m_sourceStep;
    if (source.objType != aData) {
        m_sourceData = source.data();
        return m_sourceData.isOpen();
    }
    if (!connectStep(source))
        return false;
    if (!execute) {
        // A test run moves back and forth through the source.
        source.setQuery(QString());
        m_sourceData = source.data();
        return m_sourceData.isOpen();
    }
    // A full run reads the rows as they are when it starts, counted as they
    // are read: it never meets the rows it writes itself, holds no cursor
    // on the source while writing and keeps the rows on disk, not in memory.
    const tData* d = source.dataRecord();
    const QString sql = d->sourcetype == QLatin1String("table")
                            ? QStringLiteral("SELECT * FROM ") + source.cnSource.quoteIdentifier(d->Source)
                            : d->Source;
    source.cnSource.Errors().Clear();
    ado::Recordset rs;
    if (!rs.OpenSnapshot(sql, source.cnSource)) {
        const QString why = source.cnSource.Errors().Count() > 0 ? source.cnSource.Errors().Item(0).Description
                                                                 : rs.lastError().Description;
        m_process.Log()->AddLog(QStringLiteral("CRITICAL ERROR:") + why);
        return false;
    }
    m_sourceData = rs;
    if (!m_sourceData.isOpen()) {
        // A statement that is no query (an UPDATE, say) ran and gave no rows
        // to walk: the run cannot start, and the user must hear why.
        m_process.Log()->AddLog(QStringLiteral("CRITICAL ERROR:") + tr("The source step") + QLatin1Char(' ')
                                + source.sCaption + QLatin1Char(' ')
                                + tr("returns no rows: its statement is not a query."));
        return false;
    }
    return true;
}

bool RunEngine::PrepareRun(bool execute)
{
    clsLog* log = m_process.Log();
    m_outcome = RunOutcome::PrepareFailed;
    // One failed run must not stop every later run of the same document.
    log->ClearCritical();
    m_stepWord = tr("Step");
    log->AddLog(QStringLiteral("MeridoxRunner: starting process"));

    m_stepRuns.clear();
    m_walkNext.clear();
    m_sourceData = ado::Recordset();
    m_host->forgetSteps();

    // Every node reports to the run's log, so a storage step whose
    // connection fails stops the run just as the source step does.
    cShapeRef source;
    cShapeRef last;
    bool hasSteps = false;
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        node->gbLog = log;
        if (node->objType == aData || node->objType == aStorage)
            hasSteps = true;
        if (!source && node->objType == aData)
            source = node;
        last = node;
    }
    if (!source)
        source = last;
    m_sourceStep = source;

    if (!hasSteps || !source) {
        log->AddLog(QStringLiteral("MeridoxRunner ERROR: error connecting to source")
                    + QStringLiteral("Object required"));
        return false;
    }
    QString error;
    if (!BuildStepsCollection(error)) {
        log->AddLog(QStringLiteral("MeridoxRunner ERROR: error connecting to source") + error);
        return false;
    }
    m_startStep.reset();
    for (const cShapeRef& node : m_process.Shapes()->Collection())
        if (node->objType == aStart) {
            m_startStep = node;
            break;
        }

    shareConnections(execute);
    // Every step connects now, so that a failing connection is known before
    // the source is read and any record is half processed, and every storage
    // step is a script object from the first record on.
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        if (node->objType == aData)
            connectStep(*node);
        if (node->objType == aStorage && connectStep(*node))
            preparePlan(*node, stepRun(*node));
    }
    if (execute && log->IsCritical()) {
        m_outcome = RunOutcome::Critical;
        return false;
    }
    if (!openSource(execute)) {
        m_outcome = log->IsCritical() ? RunOutcome::Critical : RunOutcome::PrepareFailed;
        return false;
    }
    m_host->ResetScript();
    m_outcome = RunOutcome::NotRun;
    if (execute) {
        log->AddLog(QStringLiteral("MeridoxRunner: processing"));
        startCommitGroup();
        RunLoop();
        endCommitGroup(m_outcome == RunOutcome::Critical);
    }
    return true;
}

void RunEngine::ResetStatistics()
{
    m_stats = tStatistic{};
    m_stats.CurrRecord = 1;
}

// ---------------------------------------------------------------- record loop

void RunEngine::RunLoop()
{
    clsLog* log = m_process.Log();
    m_cancel = false;
    m_errorRows = 0;
    ResetStatistics();
    m_stats.TotalRecords = static_cast<std::int32_t>(std::max<long>(0, m_sourceData.RecordCount()));
    m_stats.CurrRecord = 0;
    m_stats.StartTime = QDateTime::currentDateTime();
    // The caller's events get a turn from the first step on: a fast run may
    // end before the first interval is over.
    m_sinceYield.invalidate();

    emit m_process.ProcessStarted(m_stats);
    m_sourceData.MoveFirst();
    m_groupMarked = false;
    while (!m_sourceData.IsEOF() && !m_cancel) {
        if (!m_groupMarked)
            markGroupStart();
        ProcessRecord();
        if (!log->IsCritical()) {
            ++m_stats.CurrRecord;
            settleGroup(m_group->recordDone());
        }
        if (log->IsCritical()) {
            m_outcome = RunOutcome::Critical;
            releaseSource();
            return;
        }
        emit m_process.StatisticsAdded(m_stats);
        if (!m_sourceData.MoveNext()) {
            // The source stopped delivering rows: the run cannot go on, and
            // saying it completed would hide the missing records.
            log->AddCritical(QStringLiteral("CRITICAL ERROR:") + m_sourceData.lastError().Description);
            m_outcome = RunOutcome::Critical;
            releaseSource();
            return;
        }
    }
    // The last group commits while its records can still run again; the end
    // event and the execution row tell of committed work.
    settleGroup(m_group->commit());
    if (log->IsCritical()) {
        m_outcome = RunOutcome::Critical;
        releaseSource();
        return;
    }
    if (m_cancel)
        log->AddLog(tr("Execution Stopped by user request"), true);
    releaseSource();
    endCommitGroup(false);
    m_stats.EndTime = QDateTime::currentDateTime();
    if (m_cancel)
        m_outcome = RunOutcome::Cancelled;
    else if (m_stats.Errors[tStatistic::AllOperations] > 0 || m_errorRows > 0)
        m_outcome = RunOutcome::CompletedWithErrors;
    else
        m_outcome = RunOutcome::Completed;
    emit m_process.IntegrationEnd(m_stats);
    writeExecutionRow();
}

void RunEngine::startCommitGroup()
{
    // Every step connection of the run, so that a statement on one first
    // commits what the others wrote to the same database. Set, this
    // variable commits every record on its own: the outcome a group must
    // give, which tests compare it with.
    const QByteArray every = qgetenv("MERIDOX_COMMIT_EVERY_RECORD");
    const bool perRecord = !every.isEmpty() && every != "0";
    // A group's commit flushes the target's journal and file (four syncs on
    // SQLite's default journal): fewer, larger groups save most of a fast
    // run's waiting on the disk, while a group undone by the database still
    // runs its records again in seconds and holds the write lock briefly.
    constexpr int kGroupRecords = 5000;
    constexpr int kGroupMilliseconds = 500;
    m_group = std::make_unique<ado::CommitGroup>(perRecord ? 1 : kGroupRecords, kGroupMilliseconds);
    for (const cShapeRef& node : m_process.Shapes()->Collection())
        if (node->objType == aData || node->objType == aStorage)
            m_group->join(node->cnSource);
    m_group->setFailureHandler([this](const ado::DataError& e) { logError(e.Description, e.Number); });
    m_heldLines.clear();
    m_holdLines = true;
    m_groupMarked = false;
}

void RunEngine::endCommitGroup(bool critical)
{
    if (!m_group)
        return;
    const bool kept = m_group->commit() == ado::CommitGroup::Committed;
    m_holdLines = false;
    releaseHeldLines();
    if (critical) {
        // Records processed before the stop; the steps of the stopping
        // record that succeeded are kept with them.
        const long records = kept ? long(m_stats.CurrRecord) : m_group->committedRecords();
        m_process.Log()->AddLog(tr("Work committed before the stop, records processed:") + QLatin1Char(' ')
                                + QString::number(records));
    }
    m_group.reset();
}

void RunEngine::markGroupStart()
{
    m_groupMark = m_sourceData.markRow();
    m_groupStats = m_stats;
    m_groupErrorRows = m_errorRows;
    m_groupMarked = true;
}

void RunEngine::settleGroup(ado::CommitGroup::Outcome outcome)
{
    switch (outcome) {
    case ado::CommitGroup::Pending:
        return;
    case ado::CommitGroup::Committed:
        break;
    case ado::CommitGroup::Undone:
        if (m_group->perRecord())
            loseRecord(m_groupStats);
        else
            replayGroup();
        break;
    }
    releaseHeldLines();
    m_groupMarked = false;
}

void RunEngine::replayGroup()
{
    const std::int32_t first = m_groupStats.CurrRecord;
    const std::int32_t last = m_stats.CurrRecord;
    if (!m_sourceData.returnToRow(m_groupMark)) {
        // The records cannot be read again: their work is reported lost.
        logError(QStringLiteral("The work of records %1 to %2 could not be committed: %3")
                     .arg(first + 1)
                     .arg(last)
                     .arg(m_group->undoneBy().Description),
                 m_group->undoneBy().Number);
        return;
    }
    // What the records counted and logged goes with their work: they run
    // again, each committed on its own, and only that outcome counts.
    m_stats = m_groupStats;
    m_errorRows = m_groupErrorRows;
    m_heldLines.clear();
    m_group->setPerRecord(true);
    // A record committed on its own can still meet a deadlock with another
    // run's group that holds the rows it needs: that other run gives way
    // only after its own rerun, so the record is simply tried again, as
    // one waits for a lock. Its lines wait for the outcome of the try.
    m_group->setRetryConflicts(true);
    m_replaying = true;
    constexpr int kConflictTries = 20;
    clsLog* log = m_process.Log();
    for (std::int32_t record = first; record < last; ++record) {
        if (record > first && !m_sourceData.MoveNext())
            break;
        const tStatistic before = m_stats;
        const long errorRowsBefore = m_errorRows;
        const auto mark = m_sourceData.markRow();
        for (int attempt = 1;; ++attempt) {
            ProcessRecord();
            if (log->IsCritical())
                break;
            ++m_stats.CurrRecord;
            if (m_group->recordDone() != ado::CommitGroup::Undone)
                break;
            if (m_group->undoneByConflict() && attempt < kConflictTries && m_sourceData.returnToRow(mark)) {
                m_stats = before;
                m_errorRows = errorRowsBefore;
                m_heldLines.clear();
                continue;
            }
            loseRecord(before);
            break;
        }
        releaseHeldLines();
        if (log->IsCritical())
            break;
    }
    m_replaying = false;
    m_group->setRetryConflicts(false);
    m_group->setPerRecord(false);
}

void RunEngine::loseRecord(const tStatistic& before)
{
    int lost = 0;
    for (int slot = 1; slot <= tStatistic::AllOperations; ++slot) {
        const std::int32_t done = m_stats.Success[slot] - before.Success[slot];
        m_stats.Success[slot] -= done;
        m_stats.Errors[slot] += done;
        lost += done;
    }
    if (lost > 0)
        logError(QStringLiteral("The work of record %1 could not be committed: %2")
                     .arg(m_stats.CurrRecord)
                     .arg(m_group->undoneBy().Description),
                 m_group->undoneBy().Number, m_stats.CurrRecord - 1);
}

void RunEngine::releaseHeldLines()
{
    std::vector<HeldLine> held;
    held.swap(m_heldLines);
    if (held.empty())
        return;
    // A group's rows go to the errors store together.
    std::vector<tErrorLine> lines;
    lines.reserve(held.size());
    for (HeldLine& line : held)
        lines.push_back({std::move(line.text), QString::number(line.number), line.record});
    m_process.Log()->AddErrorLogs(lines, true, m_process.Filename());
}

void RunEngine::releaseSource()
{
    // The snapshot of a full run is of no use once the run is over; its
    // temporary file goes with it.
    m_sourceData.Close();
}

void RunEngine::writeExecutionRow()
{
    QString result;
    switch (m_outcome) {
    case RunOutcome::Cancelled: result = QStringLiteral("Cancelled"); break;
    case RunOutcome::CompletedWithErrors: result = QStringLiteral("Completed with errors"); break;
    default: result = QStringLiteral("Completed"); break;
    }
    cMeridoxData store;
    cMeridoxData::Row row;
    row.insert(QStringLiteral("NAME"), m_process.Filename());
    row.insert(QStringLiteral("RUNTIME"), m_stats.StartTime);
    row.insert(QStringLiteral("END"), m_stats.EndTime);
    row.insert(QStringLiteral("ROWS"), m_stats.TotalRecords);
    row.insert(QStringLiteral("RINSERTS"), m_stats.Totals[1]);
    row.insert(QStringLiteral("RUPDATES"), m_stats.Totals[2]);
    row.insert(QStringLiteral("RDELETED"), m_stats.Totals[4]);
    row.insert(QStringLiteral("RERRORS"), m_stats.Errors[tStatistic::AllOperations]);
    row.insert(QStringLiteral("RESULT"), result);
    const StoreResult saved = store.appendRow(executiondata, row, StoreId::Next);
    // Said as a failure, so that the runner reports it as an error entry;
    // the run itself is not failed by it.
    if (!saved)
        m_process.Log()->AddRunDataLoss(QStringLiteral("MeridoxRunner ERROR: ") + tr("The execution row could not be saved:")
                                + QLatin1Char(' ') + saved.error);
}

void RunEngine::maybeYield()
{
    if (!m_yield)
        return;
    if (!m_sinceYield.isValid() || m_sinceYield.elapsed() >= 10) {
        m_yield();
        m_sinceYield.restart();
    }
}

// ---------------------------------------------------------------- the walk

cShapeRef RunEngine::NextStep(const cShapeRef& step, const QString& caption) const
{
    if (!step)
        return nullptr;
    for (const cLineRef& link : m_process.Lines()->Collection()) {
        if (link->sFrom.toInt() != step->Index)
            continue;
        if (!caption.isEmpty() && link->sCaption.compare(caption, Qt::CaseInsensitive) != 0)
            continue;
        // Link ends hold node numbers, which differ from positions once a
        // node has been removed.
        return m_process.Shapes()->itemByIndex(link->sTo.toInt());
    }
    return nullptr;
}

void RunEngine::ProcessRecord()
{
    cShapeRef step = m_startStep;
    if (!step)
        return;
    clsLog* log = m_process.Log();
    std::vector<std::int16_t>& visited = m_visited;   // kept: no allocation per record
    visited.assign(1, step->Index);
    while (step->objType != aStop) {
        // Every record walks the same links: each step's successor is looked
        // up once per run.
        auto next = m_walkNext.find(step->Index);
        if (next == m_walkNext.end())
            next = m_walkNext.insert(step->Index, NextStep(step, QString()));
        step = *next;
        if (!step)
            break;
        if (std::find(visited.begin(), visited.end(), step->Index) != visited.end()) {
            // Following the first link again would loop for ever.
            logError(tr("The flow returns to step") + QLatin1Char(' ') + step->sCaption + QLatin1Char(' ')
                         + tr("and was stopped for this record."),
                     5);
            break;
        }
        visited.push_back(step->Index);
        if (step->objType == aStorage) {
            m_host->ResetScript();
            ExecuteStorageStep(*step);
            if (log->IsCritical())
                break;
        }
        // A cancel takes effect between records: a record is never left
        // half written.
        maybeYield();
    }
}

void RunEngine::logError(const QString& text, long number, std::int32_t record)
{
    // Failures that no statistic counts (a lookup that finds no row, a
    // formula error, a cycle) still make the run one with errors.
    ++m_errorRows;
    if (record < 0)
        record = m_stats.CurrRecord;
    // The lines of a group's records wait for its commit: were its work
    // undone, the rerun says again what still fails. With a commit per
    // record nothing is run again, and a line is said at once.
    if (m_holdLines && m_group && (!m_group->perRecord() || m_replaying)) {
        m_heldLines.push_back({text, number, record});
        return;
    }
    m_process.Log()->AddLog(text, true, m_process.Filename(), QString::number(number), record, true);
}

void RunEngine::count(int slot, bool success)
{
    if (success) {
        ++m_stats.Success[slot];
        ++m_stats.Success[tStatistic::AllOperations];
    } else {
        ++m_stats.Errors[slot];
        ++m_stats.Errors[tStatistic::AllOperations];
    }
    ++m_stats.Totals[slot];
    ++m_stats.Totals[tStatistic::AllOperations];
}

void RunEngine::countFailure(int editMode, const QString& operation)
{
    int slot = 0;
    switch (editMode) {
    case ado::adEditAdd: slot = tStatistic::slot(vlmInsert); break;
    case ado::adEditInProgress: slot = tStatistic::slot(vlmUpdate); break;
    case ado::adEditDelete: slot = tStatistic::slot(vlmDelete); break;
    default:
        if (operation == QLatin1String("Lookup"))
            slot = tStatistic::slot(vlmLookup);
        break;
    }
    if (slot) {
        ++m_stats.Errors[slot];
        ++m_stats.Totals[slot];
        ++m_stats.Errors[tStatistic::AllOperations];
    }
    ++m_stats.Totals[tStatistic::AllOperations];
}

// ---------------------------------------------------------------- step data

bool RunEngine::isStepReachable(cShape& step)
{
    if (step.objType == aStorage) {
        const StepRun* run = findStepRun(step);
        return run && run->usable();
    }
    if (step.objType != aData)
        return false;
    if (&step == m_sourceStep.get() && m_sourceData.isOpen())
        return true;
    return step.data().isOpen();
}

bool RunEngine::stepHasRow(cShape& step)
{
    if (&step == m_sourceStep.get() && m_sourceData.isOpen())
        return m_sourceData.hasCurrentRecord();
    if (step.objType == aStorage) {
        const StepRun* run = findStepRun(step);
        return run && run->usable() && run->present;
    }
    return step.data().hasCurrentRecord();
}

bool RunEngine::stepFieldName(cShape& step, int index, QString& name)
{
    const std::vector<ado::FieldInfo>* columns = nullptr;
    ado::Recordset rs;
    if (step.objType == aStorage) {
        if (const StepRun* run = findStepRun(step); run && run->usable())
            columns = run->plan.columns.get();
    }
    if (!columns) {
        rs = &step == m_sourceStep.get() && m_sourceData.isOpen() ? m_sourceData : step.data();
        columns = &rs.fieldInfos();
    }
    if (index < 0 || size_t(index) >= columns->size())
        return false;
    name = (*columns)[size_t(index)].name;
    return true;
}

ado::Recordset RunEngine::stepData(cShape& step)
{
    if (&step == m_sourceStep.get() && m_sourceData.isOpen())
        return m_sourceData;
    const StepRun* run = step.objType == aStorage ? findStepRun(step) : nullptr;
    if (!run || !run->usable())
        return step.data();
    ado::Recordset rs = ado::Recordset::CreateDisconnected(*run->plan.columns);
    if (run->present) {
        rs.AddNew();
        for (int i = 0; i < run->row.size() && i < rs.FieldCount(); ++i)
            rs.setValue(i, run->row.at(i));
        rs.Update();
    }
    rs.MoveFirst();
    return rs;
}

bool RunEngine::readStepField(cShape& step, const QString& field, QVariant& value, long& errNumber,
                              QString& errText)
{
    const StepRun* run = step.objType == aStorage ? findStepRun(step) : nullptr;
    if (run && run->usable()) {
        const int i = findColumn(*run->plan.columns, field);
        if (i < 0) {
            errNumber = ado::adErrItemNotFound;
            errText = kItemNotFound;
            return false;
        }
        if (!run->present) {
            errNumber = ado::adErrNoCurrentRecord;
            errText = kNoCurrentRecord;
            return false;
        }
        value = run->row.value(i);
        return true;
    }
    ado::Recordset rs = &step == m_sourceStep.get() && m_sourceData.isOpen() ? m_sourceData : step.data();
    if (!rs.isOpen()) {
        errNumber = 91;
        errText = kObjectNotSet;
        return false;
    }
    const int i = rs.fieldIndex(field);
    if (i < 0) {
        errNumber = ado::adErrItemNotFound;
        errText = kItemNotFound;
        return false;
    }
    if (!rs.hasCurrentRecord()) {
        errNumber = ado::adErrNoCurrentRecord;
        errText = kNoCurrentRecord;
        return false;
    }
    value = rs.value(i);
    return true;
}

bool RunEngine::readSourceColumn(const QString& field, int& column, const QVariant*& result, long& errNumber,
                                 QString& errText)
{
    static const QVariant kNone;
    if (column < 0)
        column = m_sourceData.fieldIndex(field);
    if (column < 0) {
        errNumber = ado::adErrItemNotFound;
        errText = kItemNotFound;
        return false;
    }
    const QVariantList* row = m_sourceData.currentValues();
    if (!row) {
        errNumber = ado::adErrNoCurrentRecord;
        errText = kNoCurrentRecord;
        return false;
    }
    // Read in place: the source does not move while a step maps a field.
    result = column < row->size() ? &row->at(column) : &kNone;
    return true;
}

bool RunEngine::readStepField(cShape& step, const QString& field, int& column, QVariant& value, long& errNumber,
                              QString& errText)
{
    // The run's source read by column number, as readReference does; a
    // storage step that is the source is read as a storage step.
    if (step.objType == aStorage || &step != m_sourceStep.get() || !m_sourceData.isOpen())
        return readStepField(step, field, value, errNumber, errText);
    const QVariant* read = nullptr;
    if (!readSourceColumn(field, column, read, errNumber, errText))
        return false;
    value = *read;
    return true;
}

bool RunEngine::readReference(StoragePlanValue& v, QVariant& value, const QVariant*& result, long& errNumber,
                              QString& errText)
{
    result = &value;
    // The source step is read by column number on the loop's own cursor.
    if (v.refNode == m_sourceStep && m_sourceData.isOpen())
        return readSourceColumn(v.refField, v.refColumn, result, errNumber, errText);
    return readStepField(*v.refNode, v.refField, value, errNumber, errText);
}

bool RunEngine::preparePlan(cShape& step, StepRun& run)
{
    StoragePlan& plan = run.plan;
    if (plan.prepared)
        return !plan.failed;
    plan.prepared = true;
    const tStorage* record = step.storageRecord();
    if (!record) {
        plan.failed = true;
        plan.failNumber = 13;
        plan.failText = QStringLiteral("Type mismatch");
        return false;
    }
    plan.operation = record->shpOperation;
    if (!plan.writer.open(step.cnSource, record->target)) {
        plan.failed = true;
        plan.failNumber = plan.writer.lastError().Number;
        plan.failText = plan.writer.lastError().Description;
        return false;
    }
    const ado::TableSchema& schema = plan.writer.schema();
    plan.columns = std::make_shared<const std::vector<ado::FieldInfo>>(schema.columns);
    // writeRow converts every value to its column as it maps it.
    plan.writer.setValuesConverted(true);

    if (record->fields) {
        for (const tFields& f : *record->fields) {
            if (!f.f_lookup.isEmpty()) {
                plan.keyColumns << f.f_name;
                plan.keyExprs << f.f_lookup;
            }
            if (f.f_value.isEmpty())
                continue;
            StoragePlan::Value v;
            v.fName = f.f_name;
            v.fValue = f.f_value;
            v.column = schema.indexOf(f.f_name);
            v.isKey = !f.f_lookup.isEmpty();
            if (f.f_value.left(7) == QLatin1String("FORMULA"))
                v.formula = true;
            else
                v.reference = splitFieldReference(f.f_value, v.refStep, v.refField);
            plan.values.push_back(std::move(v));
        }
    }
    for (StoragePlan::Value& v : plan.values) {
        if (v.column < 0)
            continue;
        const QString& name = schema.columns[size_t(v.column)].name;
        v.slot = static_cast<int>(plan.insertColumns.indexOf(name));
        if (v.slot < 0) {
            v.slot = static_cast<int>(plan.insertColumns.size());
            plan.insertColumns << name;
        }
    }
    for (int i : schema.primaryKey) {
        plan.primaryKey << schema.columns[size_t(i)].name;
        plan.primaryIndexes.push_back(i);
    }
    if (!schema.primaryKey.empty()) {
        plan.locateColumns = plan.primaryKey;
        plan.locateIndexes = plan.primaryIndexes;
    } else {
        for (size_t i = 0; i < schema.columns.size(); ++i) {
            plan.locateColumns << schema.columns[i].name;
            plan.locateIndexes.push_back(static_cast<int>(i));
        }
    }
    return true;
}

// ---------------------------------------------------------------- storage step

void RunEngine::failStep(StepFailure& failure, const QString& description, long number)
{
    if (m_stepWord.isEmpty())
        m_stepWord = tr("Step");
    QString text = m_stepWord + QLatin1Char(' ') + failure.step.sCaption + QStringLiteral(": ");
    if (failure.hasContext())
        text += failure.context() + QLatin1Char(' ');
    logError(text + description, number);
    countFailure(failure.editMode, failure.operation);
}

void RunEngine::ExecuteStorageStep(cShape& step)
{
    const tStorage* record = step.storageRecord();
    StepFailure failure{step, record ? record->shpOperation : QString()};
    StepRun& run = stepRun(step);
    // The step's previous row is gone whatever happens below.
    run.present = false;
    run.row.clear();
    if (!connectStep(step)) {
        failStep(failure, kObjectNotSet, 91);
        return;
    }
    if (!preparePlan(step, run)) {
        failStep(failure, run.plan.failText, run.plan.failNumber);
        return;
    }

    // A value too large for the memory left fails its step as a formula
    // error would; the memory is back once it is unwound, and the run goes on.
    try {
        std::optional<QVariantList> found;
        if (!lookup(failure, run, found))
            return;
        if (found) {
            run.present = true;
            run.row = *found;
        }
        const RowAction action = decide(run, found);
        switch (action) {
        case RowAction::Lookup:
            count(tStatistic::slot(vlmLookup), true);
            return;
        case RowAction::None:
            // Delete and Update change the row the lookup found; there is none.
            failStep(failure, kNoCurrentRecord, ado::adErrNoCurrentRecord);
            return;
        case RowAction::Delete:
            deleteRow(failure, run, *found);
            return;
        case RowAction::Insert:
        case RowAction::Update:
            writeRow(failure, run, action, found);
            return;
        }
    } catch (const std::bad_alloc&) {
        run.present = false;
        run.row.clear();
        failStep(failure, QStringLiteral("Out of memory"), 7);
    }
}

bool RunEngine::lookup(StepFailure& failure, StepRun& run, std::optional<QVariantList>& found)
{
    const StoragePlan& plan = run.plan;
    // Insert adds a row whatever exists: it runs no lookup, so its key
    // terms are neither evaluated nor held against it.
    if (plan.keyExprs.isEmpty() || plan.operation == QLatin1String("Insert"))
        return true;
    QVariantList keyValues;
    for (int i = 0; i < plan.keyExprs.size(); ++i) {
        failure.setContext(plan.keyExprs.at(i), plan.keyColumns.at(i));
        const FormulaHost::Result r = m_host->EvaluateValue(plan.keyExprs.at(i));
        // A key that cannot be evaluated, like a Null key, would look up the
        // wrong rows (a new row on every rerun): the step fails instead.
        if (!r.ok) {
            failStep(failure, r.description, r.number);
            return false;
        }
        if (r.isNull) {
            failStep(failure, tr("Lookup cannot be used with a NULL value"), 94);
            return false;
        }
        // Empty compares as an empty text, as a quoted literal would.
        keyValues << (r.empty ? QVariant(QString()) : r.value);
    }
    failure.clearContext();
    std::vector<QVariantList> rows;
    if (!run.plan.writer.select(plan.keyColumns, keyValues, rows, 1)) {
        // A key that cannot be a value of its column matches no row.
        if (run.plan.writer.lastError().Number != ado::adErrMultipleStep) {
            failStep(failure, run.plan.writer.lastError().Description, run.plan.writer.lastError().Number);
            return false;
        }
        rows.clear();
    }
    if (!rows.empty())
        found = std::move(rows.front());
    return true;
}

RunEngine::RowAction RunEngine::decide(const StepRun& run, const std::optional<QVariantList>& found) const
{
    const QString& operation = run.plan.operation;
    if (operation == QLatin1String("Lookup"))
        return RowAction::Lookup;
    if (operation == QLatin1String("Insert"))
        return RowAction::Insert;
    if (operation == QLatin1String("UpdateInsert") && (!found || run.plan.keyExprs.isEmpty()))
        return RowAction::Insert;
    if (!found)
        return RowAction::None;
    return operation == QLatin1String("Delete") ? RowAction::Delete : RowAction::Update;
}

void RunEngine::deleteRow(StepFailure& failure, StepRun& run, const QVariantList& found)
{
    StoragePlan& plan = run.plan;
    failure.editMode = ado::adEditDelete;
    QVariantList key;
    for (int i : plan.locateIndexes)
        key << found.value(i);
    if (!plan.writer.remove(plan.locateColumns, key)) {
        failStep(failure, plan.writer.lastError().Description, plan.writer.lastError().Number);
        return;
    }
    run.present = false;
    run.row.clear();
    count(tStatistic::slot(vlmDelete), true);
}

bool RunEngine::evaluateField(StepFailure& failure, StoragePlanValue& v, QVariant& value, const QVariant*& result)
{
    result = &value;
    if (v.formula) {
        failure.setContext(v.fValue, v.fName);
        FormulaHost::Result r = m_host->EvaluateValue(v.fValue);
        if (r.ok) {
            value = std::move(r.value);
            return true;
        }
        // A result that is no value (an object without one, an array,
        // Nothing) cannot be written: the field fails, and the step with it.
        if (r.notAValue) {
            failStep(failure, r.description, r.number);
            return false;
        }
        // A formula that fails is logged and gives Empty, which is written.
        if (m_stepWord.isEmpty())
            m_stepWord = tr("Step");
        QString text = m_stepWord + QLatin1Char(' ') + failure.step.sCaption + QStringLiteral(": ")
                       + failure.context() + QLatin1Char(' ') + r.description;
        logError(text, r.number);
        value = QVariant();
        return true;
    }
    failure.setContext(v.reference ? v.refField : v.fValue, v.fName);
    if (!v.reference) {
        failStep(failure, kInvalidCall, 5);
        return false;
    }
    if (!v.resolved) {
        v.refNode = stepByCaption(v.refStep);
        v.resolved = true;
    }
    if (!v.refNode) {
        failStep(failure, kInvalidCall, 5);
        return false;
    }
    long number = 0;
    QString text;
    if (!readReference(v, value, result, number, text)) {
        failStep(failure, text, number);
        return false;
    }
    return true;
}

void RunEngine::writeRow(StepFailure& failure, StepRun& run, RowAction action,
                         const std::optional<QVariantList>& found)
{
    StoragePlan& plan = run.plan;
    const bool isNew = action == RowAction::Insert;
    // An insert writes every mapped column (the plan's list, the same object
    // on every record, so the writer finds its statement at once); an update
    // only those whose value changes.
    QStringList columns;
    QVariantList values;
    QVariantList row;
    if (isNew) {
        failure.editMode = ado::adEditAdd;
        row.resize(qsizetype(plan.columns->size()));
        values.resize(plan.insertColumns.size());
    } else {
        row = *found;
    }
    for (StoragePlan::Value& v : plan.values) {
        if (!isNew && v.isKey)
            continue;   // lookup keys of an existing row are never overwritten
        QVariant storage;
        const QVariant* value = nullptr;
        if (!evaluateField(failure, v, storage, value))
            return;
        if (v.column < 0) {
            failStep(failure, kItemNotFound, ado::adErrItemNotFound);
            return;
        }
        const ado::FieldInfo& info = (*plan.columns)[size_t(v.column)];
        QVariant converted;
        QString why;
        if (!ado::convertToFieldType(*value, info, converted, &why)) {
            if (!isNew)
                failure.editMode = ado::adEditInProgress;
            failStep(failure, why.isEmpty() ? QStringLiteral("Multiple-step operation generated errors.") : why,
                     ado::adErrMultipleStep);
            return;
        }
        if (isNew) {
            row[v.column] = converted;
            values[v.slot] = std::move(converted);
            continue;
        }
        static const QVariant kNone;
        if (sameValue(converted, v.column < row.size() ? row.at(v.column) : kNone))
            continue;
        failure.editMode = ado::adEditInProgress;
        const int existing = columns.indexOf(info.name);
        if (existing >= 0) {
            values[existing] = converted;
        } else {
            columns << info.name;
            values << converted;
        }
        row[v.column] = converted;
    }
    failure.clearContext();

    if (isNew) {
        long inserted = -1;
        QVariantList stored;
        if (!plan.writer.insert(plan.insertColumns, values, &inserted, &stored)) {
            failStep(failure, plan.writer.lastError().Description, plan.writer.lastError().Number);
            return;
        }
        // The database ignored the row without failing (ON CONFLICT IGNORE,
        // a trigger): nothing was inserted, so nothing is counted, and the
        // step stands on no row for the steps after it.
        if (inserted == 0)
            return;
        if (!stored.isEmpty())
            row = std::move(stored);
        else
            readBack(run, static_cast<int>(plan.insertColumns.size()), row);
        run.present = true;
        run.row = std::move(row);
        count(tStatistic::slot(vlmInsert), true);
        return;
    }
    if (failure.editMode == ado::adEditNone)
        return;   // nothing changed: nothing written, nothing counted
    QVariantList key;
    for (int i : plan.locateIndexes)
        key << found->value(i);
    if (!plan.writer.update(plan.locateColumns, key, columns, values)) {
        failStep(failure, plan.writer.lastError().Description, plan.writer.lastError().Number);
        return;
    }
    run.row = std::move(row);
    count(tStatistic::slot(vlmUpdate), true);
}

void RunEngine::readBack(StepRun& run, int written, QVariantList& row)
{
    // Later steps read this row through references to the step: it must
    // hold what the database stored. Where the insert could not return it,
    // the row is found again by its primary key, when the step wrote one.
    StoragePlan& plan = run.plan;
    if (written >= static_cast<int>(plan.columns->size()) || plan.primaryKey.isEmpty())
        return;
    QVariantList key;
    for (int i : plan.primaryIndexes) {
        if (row.value(i).isNull())
            return;
        key << row.value(i);
    }
    std::vector<QVariantList> rows;
    if (plan.writer.select(plan.primaryKey, key, rows, 1) && !rows.empty())
        row = std::move(rows.front());
}

// ---------------------------------------------------------------- formula check

QString RunEngine::CheckFormula(const QString& Text)
{
    QString error;
    if (!BuildStepsCollection(error))
        return error;
    // Storage steps get an empty row with their target's fields: a formula
    // that reads them then meets "no current record", which the check accepts.
    // The check rebuilds what a run holds for every step.
    if (m_running)
        return tr("A run of this integration is already in progress.");
    m_stepRuns.clear();
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        if (node->objType != aStorage)
            continue;
        // A check is no run: a connection that fails here is not critical.
        const QPointer<clsLog> log = node->gbLog;
        node->gbLog = nullptr;
        if (connectStep(*node))
            preparePlan(*node, stepRun(*node));
        node->gbLog = log;
    }
    m_host->forgetSteps();
    m_host->ResetScript();
    const FormulaHost::Result r = m_host->CheckCode(Text);
    if (r.ok || r.number == ado::adErrNoCurrentRecord)
        return QString();
    return r.description + QStringLiteral(" - ") + r.text
           + Translate(QStringLiteral(" - On Line "), QStringLiteral("clsProcess"))
           + QString::number(r.line);
}
