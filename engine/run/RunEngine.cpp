#include "run/RunEngine.h"

#include <QDateTime>

#include <algorithm>

#include "data/AdoTypes.h"
#include "data/Field.h"
#include "document/clsProcess.h"
#include "run/clsLog.h"
#include "stores/basUtils.h"
#include "stores/cMeridoxData.h"

namespace {

const QString kFormulaPrefix = QStringLiteral("FORMULA!");

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

}  // namespace

// One written field of a storage step.
struct StoragePlanValue {
    QString fName;
    QString fValue;
    int column = -1;          // in the target's layout; -1 when the table has no such column
    bool formula = false;
    bool reference = false;   // Step("Field")
    bool malformed = false;
    QString refStep;
    QString refField;
    bool isKey = false;       // also a lookup field: never overwritten on an existing row
    // The referenced step and, for the source, its column: found on the
    // first record of the run instead of by name on every record.
    bool resolved = false;
    cShapeRef refNode;
    int refColumn = -1;
};

// What a storage step needs for every record, worked out on its first
// record of a run: the target's layout, the lookup terms and the written
// fields. Statements are prepared by the table writer once per column list.
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
    QStringList locateColumns;     // how a found row is addressed for update and delete
    std::vector<int> locateIndexes;
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
    PrepareRun(true);
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

bool RunEngine::PrepareRun(bool execute)
{
    clsLog* log = m_process.Log();
    m_execute = execute;
    m_outcome = RunOutcome::PrepareFailed;
    // One failed run must not stop every later run of the same document.
    log->ClearCritical();
    log->AddLog(QStringLiteral("MeridoxRunner: starting process"));

    m_plans.clear();
    m_host->forgetSteps();

    // Every node reports to the run's log, so a storage step whose
    // connection fails stops the run just as the source step does.
    cShapeRef source;
    cShapeRef last;
    bool hasSteps = false;
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        node->gbLog = log;
        node->connectionFailed = false;
        if (node->objType == aData || node->objType == aStorage)
            hasSteps = true;
        if (!source && node->objType == aData)
            source = node;
        last = node;
    }
    if (!source)
        source = last;
    m_sourceStep = source;

    QString error;
    if (!hasSteps || !source) {
        log->AddLog(QStringLiteral("MeridoxRunner ERROR: error connecting to source")
                    + QStringLiteral("Object required"));
        return false;
    }

    // Every run reads the source as it is now: a recordset kept from an
    // earlier run would replay its old rows. A full run streams the source
    // (it is never held whole in memory); a test run needs a static cursor.
    if (source->objType == aData) {
        source->streamSource = execute;
        source->setQuery(source->Query());
    }
    m_sourceData = source->data();

    m_startStep.reset();
    for (const cShapeRef& node : m_process.Shapes()->Collection())
        if (node->objType == aStart) {
            m_startStep = node;
            break;
        }

    if (!BuildStepsCollection(error)) {
        log->AddLog(QStringLiteral("MeridoxRunner ERROR: error connecting to source") + error);
        return false;
    }
    m_host->ResetScript();

    // One connection per connection name, shared by every step naming it.
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        if (node->objType != aStorage && node->objType != aData)
            continue;
        QString name;
        if (const tData* d = node->dataRecord())
            name = d->connName;
        else if (const tStorage* s = node->storageRecord())
            name = s->connName;
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

    if (!m_sourceData.isOpen()) {
        m_outcome = log->IsCritical() ? RunOutcome::Critical : RunOutcome::PrepareFailed;
        return false;
    }
    m_outcome = RunOutcome::NotRun;
    if (execute) {
        // A step whose connection failed while the run was prepared would
        // only half-process the first record before the critical stop.
        if (log->IsCritical()) {
            releaseSource();
            m_outcome = RunOutcome::Critical;
            return false;
        }
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
    m_sinceYield.start();

    emit m_process.ProcessStarted(m_stats);
    m_sourceData.MoveFirst();
    while (!m_sourceData.IsEOF() && !m_cancel) {
        ProcessRecord();
        if (log->IsCritical()) {
            m_outcome = RunOutcome::Critical;
            releaseSource();
            return;
        }
        ++m_stats.CurrRecord;
        m_group->recordDone();
        emit m_process.StatisticsAdded(m_stats);
        if (!m_sourceData.MoveNext()) {
            // The source stopped delivering rows (a failed read also ends the
            // stream): the run cannot go on, and saying it completed would
            // hide the missing records.
            log->AddCritical(QStringLiteral("CRITICAL ERROR:") + m_sourceData.lastError().Description);
            m_outcome = RunOutcome::Critical;
            return;
        }
    }
    if (m_cancel)
        log->AddLog(tr("Execution Stopped by user request"), true);
    releaseSource();
    endCommitGroup(false);   // the end event and the execution row tell of committed work
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
    // commits what the others wrote.
    m_group = std::make_unique<ado::CommitGroup>();
    for (const cShapeRef& node : m_process.Shapes()->Collection())
        if (node->objType == aData || node->objType == aStorage)
            m_group->join(node->cnSource);
    m_group->setFailureHandler([this](const ado::DataError& e) { logError(e.Description, e.Number); });
}

void RunEngine::endCommitGroup(bool critical)
{
    if (!m_group)
        return;
    const bool kept = m_group->commit();
    if (critical) {
        // Records processed before the stop; the steps of the stopping
        // record that succeeded are kept with them.
        const long records = kept ? long(m_stats.CurrRecord) : m_group->committedRecords();
        m_process.Log()->AddLog(tr("Work committed before the stop, records processed:") + QLatin1Char(' ')
                                + QString::number(records));
    }
    m_group.reset();
}

void RunEngine::releaseSource()
{
    // A source read only part-way keeps a cursor, and with it a read lock on
    // the source database, until the next run: other programs could not
    // write to it meanwhile. The next run opens it again anyway.
    if (m_sourceData.isOpen() && m_sourceData.isStreaming() && !m_sourceData.IsEOF())
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
    if (!saved)
        m_process.Log()->AddLog(tr("The execution row could not be saved:") + QLatin1Char(' ')
                                + saved.error);
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
    std::vector<std::int16_t> visited{step->Index};
    while (step->objType != aStop) {
        step = NextStep(step, QString());
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
        maybeYield();
        if (m_cancel)
            break;
    }
}

void RunEngine::logError(const QString& text, long number)
{
    // Failures that no statistic counts (a lookup that finds no row, a
    // formula error, a cycle) still make the run one with errors.
    ++m_errorRows;
    m_process.Log()->AddLog(text, true, m_process.Filename(), QString::number(number),
                            m_stats.CurrRecord, true);
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

bool RunEngine::readStepField(cShape& step, const QString& field, QVariant& value, long& errNumber,
                              QString& errText)
{
    if (step.objType == aStorage && step.runRow.valid) {
        const int i = step.runRow.columns ? findColumn(*step.runRow.columns, field) : -1;
        if (i < 0) {
            errNumber = ado::adErrItemNotFound;
            errText = kItemNotFound;
            return false;
        }
        if (!step.runRow.present) {
            errNumber = ado::adErrNoCurrentRecord;
            errText = kNoCurrentRecord;
            return false;
        }
        value = step.runRow.values.value(i);
        return true;
    }
    ado::Recordset rs = step.data();
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

bool RunEngine::readReference(StoragePlan::Value& v, QVariant& value, long& errNumber, QString& errText)
{
    // The source step is read by column number on the loop's own cursor.
    if (v.refNode == m_sourceStep && m_sourceData.isOpen()) {
        if (v.refColumn < 0)
            v.refColumn = m_sourceData.fieldIndex(v.refField);
        if (v.refColumn < 0) {
            errNumber = ado::adErrItemNotFound;
            errText = kItemNotFound;
            return false;
        }
        if (!m_sourceData.hasCurrentRecord()) {
            errNumber = ado::adErrNoCurrentRecord;
            errText = kNoCurrentRecord;
            return false;
        }
        value = m_sourceData.value(v.refColumn);
        return true;
    }
    return readStepField(*v.refNode, v.refField, value, errNumber, errText);
}

RunEngine::StoragePlan& RunEngine::planFor(cShape& step)
{
    auto& slot = m_plans[&step];
    if (!slot)
        slot = std::make_unique<StoragePlan>();
    return *slot;
}

bool RunEngine::preparePlan(cShape& step, StoragePlan& plan, QString& error, long& number)
{
    plan.prepared = true;
    const tStorage* record = step.storageRecord();
    if (!record) {
        plan.failed = true;
        plan.failNumber = 13;
        plan.failText = QStringLiteral("Type mismatch");
        error = plan.failText;
        number = plan.failNumber;
        return false;
    }
    plan.operation = record->shpOperation;
    if (!plan.writer.open(step.cnSource, record->target)) {
        plan.failed = true;
        plan.failNumber = plan.writer.lastError().Number;
        plan.failText = plan.writer.lastError().Description;
        error = plan.failText;
        number = plan.failNumber;
        return false;
    }
    const ado::TableSchema& schema = plan.writer.schema();
    plan.columns = std::make_shared<const std::vector<ado::FieldInfo>>(schema.columns);

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
            else if (splitFieldReference(f.f_value, v.refStep, v.refField))
                v.reference = true;
            else
                v.malformed = true;
            plan.values.push_back(std::move(v));
        }
    }
    if (!schema.primaryKey.empty()) {
        for (int i : schema.primaryKey) {
            plan.locateColumns << schema.columns[size_t(i)].name;
            plan.locateIndexes.push_back(i);
        }
    } else {
        for (size_t i = 0; i < schema.columns.size(); ++i) {
            plan.locateColumns << schema.columns[i].name;
            plan.locateIndexes.push_back(static_cast<int>(i));
        }
    }
    return true;
}

// ---------------------------------------------------------------- storage step

void RunEngine::ExecuteStorageStep(cShape& step)
{
    const tStorage* record = step.storageRecord();
    const QString operation = record ? record->shpOperation : QString();
    QString context;
    int editMode = ado::adEditNone;
    auto fail = [&](const QString& description, long number) {
        logError(context.isEmpty() ? description : context + QLatin1Char(' ') + description, number);
        countFailure(editMode, operation);
    };

    // The step's previous row is gone whatever happens below.
    StoragePlan& plan = planFor(step);
    step.setQuery(QString());   // drops the previous row and any recordset made of it
    if (!step.openConnection(true)) {
        fail(kObjectNotSet, 91);
        return;
    }
    if (!plan.prepared) {
        QString error;
        long number = 0;
        preparePlan(step, plan, error, number);
    }
    if (plan.failed) {
        fail(plan.failText, plan.failNumber);
        return;
    }
    step.runRow.columns = plan.columns;
    step.runRow.valid = true;

    // Lookup terms, each evaluated once.
    QVariantList keyValues;
    const bool hasLookup = !plan.keyExprs.isEmpty();
    for (int i = 0; i < plan.keyExprs.size(); ++i) {
        const FormulaHost::Result r = m_host->EvaluateValue(plan.keyExprs.at(i));
        if (!r.ok)
            logError(r.description, r.number);
        if (r.ok && r.isNull) {
            // A Null key would widen the lookup onto other rows: the step
            // fails for this record instead.
            context = plan.keyExprs.at(i) + QStringLiteral(" --> ") + plan.keyColumns.at(i);
            fail(tr("Lookup cannot be used with a NULL value"), 94);
            return;
        }
        // Empty compares as an empty text, as a quoted literal would.
        keyValues << (r.ok && !r.empty ? r.value : QVariant(QString()));
    }

    std::vector<QVariantList> found;
    if (hasLookup && operation != QLatin1String("Insert")) {
        if (!plan.writer.select(plan.keyColumns, keyValues, found, 1)) {
            // A key that cannot be a value of its column matches no row.
            if (plan.writer.lastError().Number != ado::adErrMultipleStep) {
                fail(plan.writer.lastError().Description, plan.writer.lastError().Number);
                return;
            }
            found.clear();
        }
    }
    const bool hasRow = !found.empty();
    if (hasRow) {
        step.runRow.present = true;
        step.runRow.values = found.front();
    }

    if (operation == QLatin1String("Lookup")) {
        count(tStatistic::slot(vlmLookup), true);
        return;
    }

    auto locateValues = [&](const QVariantList& row) {
        QVariantList v;
        for (int i : plan.locateIndexes)
            v << row.value(i);
        return v;
    };

    if (operation == QLatin1String("Delete")) {
        if (!hasRow) {
            fail(kNoCurrentRecord, ado::adErrNoCurrentRecord);
            return;
        }
        editMode = ado::adEditDelete;
        if (!plan.writer.remove(plan.locateColumns, locateValues(found.front()))) {
            fail(plan.writer.lastError().Description, plan.writer.lastError().Number);
            return;
        }
        step.runRow.present = false;
        count(tStatistic::slot(vlmDelete), true);
        return;
    }

    bool isNew = false;
    if (operation == QLatin1String("UpdateInsert"))
        isNew = !hasRow || !hasLookup;
    else if (operation == QLatin1String("Insert"))
        isNew = true;
    if (!isNew && !hasRow) {
        fail(kNoCurrentRecord, ado::adErrNoCurrentRecord);
        return;
    }

    // The values to write.
    QStringList columns;
    QVariantList values;
    QVariantList row = isNew ? QVariantList() : found.front();
    if (isNew) {
        editMode = ado::adEditAdd;
        for (size_t i = 0; i < plan.columns->size(); ++i)
            row << QVariant();
    }
    for (StoragePlan::Value& v : plan.values) {
        if (!isNew && v.isKey)
            continue;   // lookup keys of an existing row are never overwritten
        QVariant value;
        if (v.formula) {
            context = v.fValue + QStringLiteral(" --> ") + v.fName;
            const FormulaHost::Result r = m_host->EvaluateValue(v.fValue);
            if (!r.ok)
                logError(r.description, r.number);
            value = r.ok ? r.value : QVariant();
        } else {
            context = (v.reference ? v.refField : v.fValue) + QStringLiteral(" --> ") + v.fName;
            if (v.malformed) {
                fail(QStringLiteral("Invalid procedure call or argument"), 5);
                return;
            }
            if (!v.resolved) {
                v.refNode = stepByCaption(v.refStep);
                v.resolved = true;
            }
            if (!v.refNode) {
                fail(QStringLiteral("Invalid procedure call or argument"), 5);
                return;
            }
            long number = 0;
            QString text;
            if (!readReference(v, value, number, text)) {
                fail(text, number);
                return;
            }
        }
        if (v.column < 0) {
            fail(kItemNotFound, ado::adErrItemNotFound);
            return;
        }
        const ado::FieldInfo& info = (*plan.columns)[size_t(v.column)];
        QVariant converted;
        QString why;
        if (!ado::convertToFieldType(value, info, converted, &why)) {
            if (!isNew)
                editMode = ado::adEditInProgress;
            fail(why.isEmpty() ? QStringLiteral("Multiple-step operation generated errors.") : why,
                 ado::adErrMultipleStep);
            return;
        }
        if (!isNew && sameValue(converted, row.value(v.column)))
            continue;
        if (!isNew)
            editMode = ado::adEditInProgress;
        const int existing = columns.indexOf(info.name);
        if (existing >= 0) {
            values[existing] = converted;
        } else {
            columns << info.name;
            values << converted;
        }
        row[v.column] = converted;
    }
    context.clear();

    if (isNew) {
        if (!plan.writer.insert(columns, values)) {
            fail(plan.writer.lastError().Description, plan.writer.lastError().Number);
            return;
        }
        step.runRow.present = true;
        step.runRow.values = row;
        count(tStatistic::slot(vlmInsert), true);
        return;
    }
    if (editMode == ado::adEditNone)
        return;   // nothing changed: nothing written, nothing counted
    if (!plan.writer.update(plan.locateColumns, locateValues(found.front()), columns, values)) {
        fail(plan.writer.lastError().Description, plan.writer.lastError().Number);
        return;
    }
    step.runRow.values = row;
    count(tStatistic::slot(vlmUpdate), true);
}

// ---------------------------------------------------------------- formula check

QString RunEngine::CheckFormula(const QString& Text)
{
    QString error;
    if (!BuildStepsCollection(error))
        return error;
    // Storage steps get an empty row with their target's fields: a formula
    // that reads them then meets "no current record", which the check accepts.
    for (const cShapeRef& node : m_process.Shapes()->Collection()) {
        if (node->objType == aData && !node->data().isOpen())
            node->streamSource = true;
        if (node->objType != aStorage)
            continue;
        node->setQuery(QString());
        if (!node->openConnection(false))
            continue;
        StoragePlan& plan = planFor(*node);
        if (!plan.prepared) {
            long number = 0;
            QString why;
            preparePlan(*node, plan, why, number);
        }
        if (plan.failed)
            continue;
        node->runRow.columns = plan.columns;
        node->runRow.valid = true;
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
