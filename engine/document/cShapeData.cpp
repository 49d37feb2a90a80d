// Step data access of a node: its connection, its recordset, the test-mode
// transaction and the SQL helper that formulas reach through SQLExecute.

#include "document/cShape.h"

#include "data/Connection.h"
#include "data/ConnectionString.h"
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

// Why the step's connection could not be opened, as the provider says it,
// without the connection string or its password.
QString connectionFailure(const cShape& node)
{
    const QString text = stepConnectionString(node);
    if (text.isEmpty())
        return QStringLiteral("no connection string is given");
    const ado::ErrorList& errors = node.cnSource.Errors();
    if (errors.Count() == 0)
        return {};
    return ado::hideConnectionSecrets(errors.Item(errors.Count() - 1).Description, text);
}

}  // namespace


void cShape::setQuery(const QString& strQuery)
{
    m_query = strQuery;
    m_data = ado::Recordset();
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
        openConnection();
    if (cnSource.isOpen() && cnSource.BeginTrans() > 0)
        m_debug = true;
}

bool cShape::openConnection()
{
    if (cnSource.isOpen())
        return true;
    const QString text = stepConnectionString(*this);
    cnSource.Errors().Clear();
    if (!text.isEmpty())
        cnSource.Open(text);
    return cnSource.isOpen();
}

ado::Recordset cShape::data()
{
    if (!isStepKind(objType))
        return {};
    if (!openConnection()) {
        if (gbLog) {
            QString line = Translate(QStringLiteral("CRITICAL ERROR: Error opening connection"),
                                     QStringLiteral("cShape"))
                           + QLatin1Char(' ') + sCaption;
            const QString reason = connectionFailure(*this);
            if (!reason.isEmpty())
                line += QStringLiteral(": ") + reason;
            gbLog->AddCritical(line);
        }
        return {};
    }
    if (m_data.isOpen())
        return m_data;

    if (objType == aData) {
        const tData* d = dataRecord();
        if (!d)
            return {};
        const QString sql = d->sourcetype == QLatin1String("table")
                                ? QStringLiteral("SELECT * FROM ") + cnSource.quoteIdentifier(d->Source)
                                : d->Source;
        return openRecordset(sql, ado::adOpenStatic, ado::adLockReadOnly);
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
    if (!openConnection())
        return std::nullopt;
    ado::Recordset rs = cnSource.Execute(sql);
    if (!rs.isOpen() || !rs.hasCurrentRecord())
        return std::nullopt;
    const int i = rs.fieldIndex(Field);
    if (i < 0)
        return std::nullopt;
    return rs.value(i);
}
