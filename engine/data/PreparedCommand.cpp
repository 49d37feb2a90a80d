#include "data/PreparedCommand.h"

#include "data/StatePrivate.h"

#include <QSqlRecord>

namespace ado {

namespace detail {

struct PreparedState {
    std::shared_ptr<ConnectionState> conn;
    std::shared_ptr<QSqlQuery> query;
    quint64 generation = 0;   // of the connection the statement was prepared on
    std::vector<FieldInfo> paramTypes;
    std::vector<FieldInfo> columns;
    bool columnsKnown = false;
    int paramCount = 0;
    DataError lastError;
    QString sql;
    bool writes = true;

    bool fail(const DataError& e)
    {
        lastError = e;
        return false;
    }
};

struct WriterState {
    std::shared_ptr<ConnectionState> conn;
    TableSchema schema;
    QString quotedTable;
    QString selectList;
    DataError lastError;
    // SQL text per operation and column list, so a record loop builds no text.
    QHash<QString, QString> sqlCache;

    bool fail(const DataError& e)
    {
        lastError = e;
        return false;
    }
    bool fail(long number, const QString& text) { return fail(makeError(number, text)); }
};

} // namespace detail

// ---------------------------------------------------------------------------

PreparedCommand::PreparedCommand() : d_(std::make_unique<detail::PreparedState>()) {}
PreparedCommand::~PreparedCommand() = default;
PreparedCommand::PreparedCommand(PreparedCommand&&) noexcept = default;
PreparedCommand& PreparedCommand::operator=(PreparedCommand&&) noexcept = default;

bool PreparedCommand::prepare(const Connection& connection, const QString& sql, const std::vector<FieldInfo>& paramTypes)
{
    auto& s = *d_;
    s.query.reset();
    s.columns.clear();
    s.columnsKnown = false;
    s.lastError = {};
    s.conn = connection.d_;
    if (!s.conn || !s.conn->open)
        return s.fail(detail::makeError(adErrObjectClosed, QString()));
    s.sql = sql;
    s.writes = !detail::isReadOnlySql(sql);
    s.paramTypes = paramTypes;
    s.query = std::make_shared<QSqlQuery>(s.conn->db());
    s.generation = s.conn->generation;
    s.conn->track(s.query);
    // See Recordset::Open: PostgreSQL single-row mode would be cut short by
    // the next statement on the connection.
    s.query->setForwardOnly(s.conn->kind != ProviderKind::PostgreSQL);
    s.query->setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!s.query->prepare(sql)) {
        const DataError e = detail::sqlError(s.query->lastError(), QString(), s.conn->db().driverName());
        s.query.reset();
        return s.fail(e);
    }
    // '?' outside quotes and comments.
    int count = 0;
    QChar quote;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u'?') {
            ++count;
        }
    }
    s.paramCount = count;
    return true;
}

bool PreparedCommand::isPrepared() const { return d_->query != nullptr; }
int PreparedCommand::parameterCount() const { return d_->paramCount; }

bool PreparedCommand::bind(int index, const QVariant& value)
{
    auto& s = *d_;
    if (!s.query)
        return s.fail(detail::makeError(adErrObjectClosed, QStringLiteral("The command is not prepared.")));
    if (index < 0 || index >= s.paramCount)
        return s.fail(detail::makeError(adErrInvalidArgument, QStringLiteral("There is no parameter %1.").arg(index)));
    QVariant v = value;
    if (index < static_cast<int>(s.paramTypes.size())) {
        const FieldInfo& f = s.paramTypes[static_cast<size_t>(index)];
        QString why;
        if (!convertToFieldType(value, f, v, &why))
            return s.fail(detail::makeError(adErrMultipleStep, why));
        v = detail::toBindValue(v, f, s.conn->kind);
    } else if (value.typeId() == QMetaType::QDateTime) {
        v = detail::formatDateTime(detail::plainLocal(value.toDateTime()), false);
    }
    s.query->bindValue(index, v);
    return true;
}

bool PreparedCommand::bindAll(const QVariantList& values)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        if (!bind(static_cast<int>(i), values[i]))
            return false;
    return true;
}

bool PreparedCommand::execute()
{
    auto& s = *d_;
    if (!s.query)
        return s.fail(detail::makeError(adErrObjectClosed, QStringLiteral("The command is not prepared.")));
    if (!s.conn->open || s.conn->generation != s.generation)
        return s.fail(detail::makeError(adErrObjectClosed, s.conn->open ? QStringLiteral("The connection was closed since the command was prepared.")
                                                                         : QString()));
    s.query->finish();
    detail::StatementScope scope(*s.conn, s.writes);
    if (!s.query->exec()) {
        scope.failed();
        return s.fail(detail::sqlError(s.query->lastError(), QString(), s.conn->db().driverName()));
    }
    s.lastError = {};
    if (!s.columnsKnown && s.query->isSelect()) {
        s.columns = detail::fieldsOfQuery(*s.conn, *s.query, s.sql);
        s.columnsKnown = true;
    }
    return true;
}

long PreparedCommand::rowsAffected() const
{
    return d_->query ? d_->query->numRowsAffected() : -1;
}

bool PreparedCommand::next()
{
    return d_->query && d_->query->isActive() && d_->query->next();
}

int PreparedCommand::columnCount() const
{
    return static_cast<int>(d_->columns.size());
}

QVariant PreparedCommand::value(int column) const
{
    auto& s = *d_;
    if (!s.query || column < 0)
        return {};
    const QVariant raw = s.query->value(column);
    if (column < static_cast<int>(s.columns.size()))
        return detail::normalizeValue(raw, s.columns[static_cast<size_t>(column)]);
    return raw;
}

const std::vector<FieldInfo>& PreparedCommand::columns() const { return d_->columns; }

void PreparedCommand::finish()
{
    if (d_->query)
        d_->query->finish();
}

const DataError& PreparedCommand::lastError() const { return d_->lastError; }

// ---------------------------------------------------------------------------

TableWriter::TableWriter() : d_(std::make_unique<detail::WriterState>()) {}
TableWriter::~TableWriter() = default;
TableWriter::TableWriter(TableWriter&&) noexcept = default;
TableWriter& TableWriter::operator=(TableWriter&&) noexcept = default;

bool TableWriter::open(const Connection& connection, const QString& table)
{
    auto& s = *d_;
    s.lastError = {};
    // SQL kept for another table must not be reused for this one.
    s.sqlCache.clear();
    s.conn = connection.d_;
    if (!s.conn || !s.conn->open)
        return s.fail(adErrObjectClosed, QString());
    DataError e;
    auto ts = s.conn->tableSchema(table, &e);
    if (!ts) {
        s.conn.reset();
        return s.fail(e);
    }
    s.schema = std::move(*ts);
    s.quotedTable = s.conn->quote(table);
    QStringList cols;
    for (const auto& c : s.schema.columns)
        cols << s.conn->quote(c.name);
    s.selectList = cols.join(u',');
    return true;
}

bool TableWriter::isOpen() const { return d_->conn != nullptr; }
const TableSchema& TableWriter::schema() const { return d_->schema; }
const DataError& TableWriter::lastError() const { return d_->lastError; }

namespace {

// Column indexes for names; false + error when one is unknown or counts differ.
bool resolve(detail::WriterState& s, const QStringList& names, const QVariantList& values, std::vector<int>& out)
{
    if (names.size() != values.size())
        return s.fail(adErrInvalidArgument, QStringLiteral("%1 columns were named but %2 values given.")
                                                .arg(names.size()).arg(values.size()));
    out.clear();
    for (const auto& n : names) {
        const int i = s.schema.indexOf(n);
        if (i < 0)
            return s.fail(adErrItemNotFound, QStringLiteral("The table \"%1\" has no column \"%2\".").arg(s.schema.name, n));
        out.push_back(i);
    }
    return true;
}

// Converted, bindable values; false + error when one does not fit.
bool convertAll(detail::WriterState& s, const std::vector<int>& cols, const QVariantList& values, QVariantList& out)
{
    out.clear();
    for (size_t i = 0; i < cols.size(); ++i) {
        const FieldInfo& f = s.schema.columns[static_cast<size_t>(cols[i])];
        QVariant v;
        QString why;
        if (!convertToFieldType(values[static_cast<qsizetype>(i)], f, v, &why))
            return s.fail(adErrMultipleStep, why);
        out << detail::toBindValue(v, f, s.conn->kind);
    }
    return true;
}

// "a = ? AND b IS NULL" for the key, binds appended for non-Null values.
QString whereFor(detail::WriterState& s, const std::vector<int>& cols, const QVariantList& converted, QVariantList& binds)
{
    QStringList terms;
    for (size_t i = 0; i < cols.size(); ++i) {
        const QString name = s.conn->quote(s.schema.columns[static_cast<size_t>(cols[i])].name);
        const QVariant& v = converted[static_cast<qsizetype>(i)];
        if (v.isNull())
            terms << name + QStringLiteral(" IS NULL");
        else {
            terms << name + QStringLiteral(" = ?");
            binds << v;
        }
    }
    return terms.join(QStringLiteral(" AND "));
}

std::shared_ptr<QSqlQuery> run(detail::WriterState& s, const QString& sql, const QVariantList& binds, bool writes)
{
    DataError e;
    auto q = s.conn->statement(sql, &e);
    if (!q) {
        s.fail(e);
        return nullptr;
    }
    for (qsizetype i = 0; i < binds.size(); ++i)
        q->bindValue(static_cast<int>(i), binds[i]);
    detail::StatementScope scope(*s.conn, writes);
    if (!q->exec()) {
        s.fail(detail::sqlError(q->lastError(), QString(), s.conn->db().driverName()));
        q->finish();
        scope.failed();
        return nullptr;
    }
    return q;
}

// Runs a change that must touch exactly one row: inside a savepoint (or a
// transaction of its own) so that a change of several rows is undone.
bool guardedChange(detail::WriterState& s, const QString& sql, const QVariantList& binds, bool requireOne, long* affected)
{
    QSqlDatabase db = s.conn->db();
    bool own = false;
    bool savepoint = false;
    // The commit group decides first whether a transaction is open.
    detail::enterStatement(*s.conn, true);
    if (requireOne) {
        if (!s.conn->inTransaction())
            own = db.transaction();
        else
            savepoint = QSqlQuery(db).exec(QStringLiteral("SAVEPOINT mdx_writer"));
    }
    auto undo = [&] {
        if (own)
            db.rollback();
        else if (savepoint) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT mdx_writer"));
            q.exec(QStringLiteral("RELEASE SAVEPOINT mdx_writer"));
        }
    };
    auto q = run(s, sql, binds, true);
    if (!q) {
        undo();
        return false;
    }
    const long n = q->numRowsAffected();
    q->finish();
    if (affected)
        *affected = n;
    if (requireOne && n != 1) {
        undo();
        return s.fail(detail::makeError(adErrRowNotLocated,
                                        n == 0 ? QString()
                                               : QStringLiteral("Key column information is insufficient or incorrect. "
                                                                "Too many rows were affected by update (%1).").arg(n)));
    }
    if (own && !db.commit()) {
        const DataError e = detail::sqlError(db.lastError(), QString(), db.driverName());
        db.rollback();
        return s.fail(e);
    }
    if (savepoint)
        QSqlQuery(db).exec(QStringLiteral("RELEASE SAVEPOINT mdx_writer"));
    s.lastError = {};
    return true;
}

bool requireOpen(detail::WriterState& s)
{
    if (!s.conn || !s.conn->open)
        return s.fail(adErrObjectClosed, QString());
    return true;
}

// True when the key is the table's primary key (at most one row can match).
bool isPrimaryKey(const detail::WriterState& s, const std::vector<int>& keyCols)
{
    if (s.schema.primaryKey.empty() || keyCols.size() != s.schema.primaryKey.size())
        return false;
    for (int k : s.schema.primaryKey)
        if (std::find(keyCols.begin(), keyCols.end(), k) == keyCols.end())
            return false;
    return true;
}

// Runs an UPDATE or DELETE whose WHERE clause matches the key columns. When
// one row is required and the key is not the primary key, the change runs
// guarded so that a change of several rows is undone.
bool changeByKey(detail::WriterState& s, const QString& sql, const QVariantList& binds, const std::vector<int>& keys,
                 bool requireOneRow, long* affected)
{
    if (requireOneRow && !isPrimaryKey(s, keys))
        return guardedChange(s, sql, binds, true, affected);
    auto q = run(s, sql, binds, true);
    if (!q)
        return false;
    const long n = q->numRowsAffected();
    q->finish();
    if (affected)
        *affected = n;
    if (requireOneRow && n != 1)
        return s.fail(detail::makeError(adErrRowNotLocated, QString()));
    s.lastError = {};
    return true;
}

} // namespace

bool TableWriter::select(const QStringList& keyColumns, const QVariantList& keyValues, std::vector<QVariantList>& rows, int limit)
{
    auto& s = *d_;
    rows.clear();
    if (!requireOpen(s))
        return false;
    std::vector<int> keys;
    QVariantList converted, binds;
    if (!resolve(s, keyColumns, keyValues, keys) || !convertAll(s, keys, keyValues, converted))
        return false;
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(s.selectList, s.quotedTable);
    const QString where = whereFor(s, keys, converted, binds);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    if (limit >= 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    auto q = run(s, sql, binds, false);
    if (!q)
        return false;
    const int n = static_cast<int>(s.schema.columns.size());
    while (q->next()) {
        QVariantList row(n);
        for (int i = 0; i < n; ++i)
            row[i] = detail::normalizeValue(q->value(i), s.schema.columns[static_cast<size_t>(i)]);
        rows.push_back(std::move(row));
    }
    const QSqlError err = q->lastError();
    q->finish();
    if (err.isValid())
        return s.fail(detail::sqlError(err, QString(), s.conn->db().driverName()));
    s.lastError = {};
    return true;
}

long TableWriter::count(const QStringList& keyColumns, const QVariantList& keyValues)
{
    auto& s = *d_;
    if (!requireOpen(s))
        return -1;
    std::vector<int> keys;
    QVariantList converted, binds;
    if (!resolve(s, keyColumns, keyValues, keys) || !convertAll(s, keys, keyValues, converted))
        return -1;
    QString sql = QStringLiteral("SELECT COUNT(*) FROM %1").arg(s.quotedTable);
    const QString where = whereFor(s, keys, converted, binds);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    auto q = run(s, sql, binds, false);
    if (!q)
        return -1;
    const long n = q->next() ? static_cast<long>(q->value(0).toLongLong()) : -1;
    q->finish();
    s.lastError = {};
    return n;
}

bool TableWriter::insert(const QStringList& columns, const QVariantList& values)
{
    auto& s = *d_;
    if (!requireOpen(s))
        return false;
    std::vector<int> cols;
    QVariantList binds;
    if (!resolve(s, columns, values, cols) || !convertAll(s, cols, values, binds))
        return false;
    const QString cacheKey = QStringLiteral("I\x1f") + columns.join(QChar(0x1f));
    QString sql = s.sqlCache.value(cacheKey);
    if (!sql.isEmpty()) {
    } else if (cols.empty()) {
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(s.quotedTable);
    } else {
        QStringList names;
        for (int c : cols)
            names << s.conn->quote(s.schema.columns[static_cast<size_t>(c)].name);
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(s.quotedTable, names.join(u','), QStringList(names.size(), QStringLiteral("?")).join(u','));
    }
    s.sqlCache.insert(cacheKey, sql);
    auto q = run(s, sql, binds, true);
    if (!q)
        return false;
    q->finish();
    s.lastError = {};
    return true;
}

bool TableWriter::update(const QStringList& keyColumns, const QVariantList& keyValues, const QStringList& columns,
                         const QVariantList& values, bool requireOneRow, long* affected)
{
    auto& s = *d_;
    if (affected)
        *affected = 0;
    if (!requireOpen(s))
        return false;
    std::vector<int> keys, cols;
    QVariantList keyConv, setBinds, whereBinds;
    if (!resolve(s, keyColumns, keyValues, keys) || !convertAll(s, keys, keyValues, keyConv)
        || !resolve(s, columns, values, cols) || !convertAll(s, cols, values, setBinds))
        return false;
    if (cols.empty()) {
        s.lastError = {};
        return true;
    }
    QStringList sets;
    for (int c : cols)
        sets << s.conn->quote(s.schema.columns[static_cast<size_t>(c)].name) + QStringLiteral(" = ?");
    QString sql = QStringLiteral("UPDATE %1 SET %2").arg(s.quotedTable, sets.join(u','));
    const QString where = whereFor(s, keys, keyConv, whereBinds);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    return changeByKey(s, sql, setBinds + whereBinds, keys, requireOneRow, affected);
}

bool TableWriter::remove(const QStringList& keyColumns, const QVariantList& keyValues, bool requireOneRow, long* affected)
{
    auto& s = *d_;
    if (affected)
        *affected = 0;
    if (!requireOpen(s))
        return false;
    std::vector<int> keys;
    QVariantList keyConv, binds;
    if (!resolve(s, keyColumns, keyValues, keys) || !convertAll(s, keys, keyValues, keyConv))
        return false;
    QString sql = QStringLiteral("DELETE FROM %1").arg(s.quotedTable);
    const QString where = whereFor(s, keys, keyConv, binds);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    return changeByKey(s, sql, binds, keys, requireOneRow, affected);
}

} // namespace ado
