// Step data access of a node: its connection, its recordset, the test-mode
// transaction and the SQL helper that formulas reach through SQLExecute.

#include "document/cShape.h"

#include "data/Connection.h"
#include "data/Recordset.h"
#include "run/clsLog.h"
#include "stores/basUtils.h"

namespace {

bool isStepKind(std::int16_t kind) { return kind == aData || kind == aStorage; }

QString stepConnectionString(const cShape& node)
{
    if (const tData* d = node.dataRecord())
        return d->connString;
    if (const tStorage* s = node.storageRecord())
        return s->connString;
    return {};
}

}  // namespace

void cShape::setQuery(const QString& strQuery)
{
    m_query = strQuery;
    m_data = ado::Recordset();
    runRow = StepRow{};
}

void cShape::setDebugMode(bool value)
{
    if (value == m_debug)
        return;
    if (!value) {
        if (cnSource.isOpen())
            cnSource.RollbackTrans();
        m_debug = false;
        return;
    }
    // The transaction needs an open connection; a step whose connection
    // cannot be opened reports that when its data is first read.
    if (!cnSource.isOpen())
        openConnection(false);
    if (cnSource.isOpen() && cnSource.BeginTrans() > 0)
        m_debug = true;
}

bool cShape::openConnection(bool reportFailure)
{
    if (cnSource.isOpen())
        return true;
    if (connectionFailed)
        return false;
    const QString text = stepConnectionString(*this);
    if (!text.isEmpty()) {
        cnSource.Errors().Clear();
        cnSource.Open(text);
    }
    if (cnSource.isOpen())
        return true;
    // A connection that cannot be opened is not retried for every record:
    // each attempt may cost a full time-out, and the run stops anyway.
    connectionFailed = true;
    if (reportFailure && gbLog)
        gbLog->AddCritical(Translate(QStringLiteral("CRITICAL ERROR: Error opening connection"),
                                     QStringLiteral("cShape"))
                           + QLatin1Char(' ') + sCaption);
    return false;
}

ado::Recordset cShape::data()
{
    if (!isStepKind(objType))
        return {};
    if (!openConnection(true))
        return {};
    if (m_data.isOpen())
        return m_data;

    if (objType == aData) {
        const tData* d = dataRecord();
        if (!d)
            return {};
        const QString sql = d->sourcetype == QLatin1String("table")
                                ? QStringLiteral("SELECT * FROM ") + cnSource.quoteIdentifier(d->Source)
                                : d->Source;
        return openRecordset(sql, streamSource ? ado::adOpenForwardOnly : ado::adOpenStatic,
                             ado::adLockReadOnly);
    }

    // Storage step: the row the run engine holds for the current record, or
    // the rows of the step's current query.
    if (runRow.valid) {
        m_data = runRow.toRecordset();
        return m_data;
    }
    if (m_query.isEmpty())
        return {};
    return openRecordset(m_query, ado::adOpenKeyset, ado::adLockOptimistic);
}

ado::Recordset cShape::openRecordset(const QString& sql, ado::CursorTypeEnum cursor, ado::LockTypeEnum lock)
{
    cnSource.Errors().Clear();
    ado::Recordset rs;
    const bool ok = rs.Open(sql, cnSource, cursor, lock);
    // Any error or warning of the provider leaves the step without data.
    if (!ok || cnSource.Errors().Count() > 0) {
        const QString why = cnSource.Errors().Count() > 0 ? cnSource.Errors().Item(0).Description
                                                          : rs.lastError().Description;
        if (gbLog)
            gbLog->AddLog(QStringLiteral("CRITICAL ERROR:") + why);
        return {};
    }
    m_data = rs;
    return m_data;
}

std::optional<QVariant> cShape::ExecuteSql(const QString& sql, const QString& Field)
{
    if (!openConnection(false))
        return std::nullopt;
    ado::Recordset rs = cnSource.Execute(sql);
    if (!rs.isOpen() || !rs.hasCurrentRecord())
        return std::nullopt;
    const int i = rs.fieldIndex(Field);
    if (i < 0)
        return std::nullopt;
    return rs.value(i);
}

ado::Recordset cShape::StepRow::toRecordset() const
{
    if (!columns)
        return {};
    ado::Recordset rs = ado::Recordset::CreateDisconnected(*columns);
    if (present) {
        rs.AddNew();
        for (int i = 0; i < values.size() && i < rs.FieldCount(); ++i)
            rs.setValue(i, values.at(i));
        rs.Update();
    }
    rs.MoveFirst();
    return rs;
}
