#include "data/PreparedCommand.h"

#include "data/StatePrivate.h"

#include <QRegularExpression>
#include <QSqlRecord>
#include <algorithm>
#include <cstring>
#include <new>
#include <sqlite3.h>

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

// One operation of a table writer, worked out on its first use: the column
// indexes, the SQL and, on SQLite, the statement itself. A record loop then
// builds no text and resolves no name.
struct WriterOp {
    char kind = 0;            // 'S' select, 'C' count, 'I' insert, 'R' insert returning the row,
                              // 'W' select by SQLite rowid, 'U' update, 'D' delete
    QStringList names;        // inserted or set columns, as given
    QStringList keyNames;
    quint64 nullKeys = 0;     // key values that are Null (they make "IS NULL" terms)
    int limit = -1;
    std::vector<int> cols;
    std::vector<int> keys;
    QString sql;
    sqlite3_stmt* raw = nullptr;   // owned by the connection's cache
    quint64 rawEpoch = 0;
    // UTF-8 of the texts bound to raw, one buffer a parameter, kept from
    // call to call: SQLite reads them in place when the statement runs.
    std::vector<std::vector<char>> texts;
};

struct WriterState {
    std::shared_ptr<ConnectionState> conn;
    TableSchema schema;
    QString quotedTable;
    QString selectList;
    DataError lastError;
    bool general = false;     // SQLite through the Qt driver, as other providers
    // Whether an insert can return the stored row (INSERT ... RETURNING),
    // and whether the row must be read again after it (SQLite triggers that
    // run after the insert).
    bool returning = false;
    bool rereadInserts = false;
    // SQLite: a statement that fails under FAIL (a conflict clause or a
    // trigger's RAISE) keeps what it wrote before failing; where the schema
    // can do that, writes run under a savepoint that undoes it.
    bool savepoint = false;
    // The caller converts the values it inserts and sets to the columns'
    // types itself (setValuesConverted): they are only made bindable.
    bool valuesConverted = false;
    std::vector<std::unique_ptr<WriterOp>> ops;
    QVariantList binds;       // reused from call to call
    QVariantList keyBinds;

    WriterState() = default;
    WriterState(const WriterState&) = delete;
    WriterState& operator=(const WriterState&) = delete;
    ~WriterState() { dropOps(); }

    // An operation's statement keeps its texts bound from one run to the
    // next (every run binds all of them again first); the statement, kept
    // by the connection, lets go of them when the operation goes.
    void dropOps()
    {
        if (conn && conn->sqlite)
            for (const auto& op : ops)
                if (op->raw && op->rawEpoch == conn->rawEpoch && !op->texts.empty())
                    sqlite3_clear_bindings(op->raw);
        ops.clear();
    }
    bool fail(const DataError& e)
    {
        lastError = e;
        return false;
    }
    bool fail(long number, const QString& text) { return fail(makeError(number, text)); }
    // After every call that succeeds: most often there is nothing to clear.
    void clearError()
    {
        if (lastError.Number != 0 || lastError.NativeError != 0 || !lastError.Description.isNull()
            || !lastError.Source.isNull() || !lastError.SQLState.isNull())
            lastError = DataError{};
    }
    bool direct() const { return !general && conn && conn->sqlite; }
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
        detail::makeBindValue(v, f, s.conn->kind);
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

namespace {

// Whether an SQLite trigger runs after a row is inserted into the table: it
// may change the row (the way SQLite triggers set values), which the insert
// itself does not return.
bool changedAfterInsert(detail::ConnectionState& c, const QString& table)
{
    QSqlQuery q(c.db());
    q.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ? COLLATE NOCASE "
                             "UNION ALL SELECT sql FROM sqlite_temp_master WHERE type = 'trigger' "
                             "AND tbl_name = ? COLLATE NOCASE"));
    const QString bare = table.section(u'.', -1).remove(u'"').remove(u'[').remove(u']').remove(u'`');
    q.addBindValue(bare);
    q.addBindValue(bare);
    static const QRegularExpression after(QStringLiteral(R"re(\bAFTER\s+INSERT\b)re"),
                                          QRegularExpression::CaseInsensitiveOption);
    if (q.exec())
        while (q.next())
            if (after.match(q.value(0).toString()).hasMatch())
                return true;
    return false;
}

} // namespace

bool TableWriter::open(const Connection& connection, const QString& table)
{
    auto& s = *d_;
    s.lastError = {};
    // Operations kept for another table must not be reused for this one.
    s.dropOps();
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
    if (s.conn->kind == ProviderKind::SQLite) {
        // Triggers of other tables run within the write too.
        static const QRegularExpression fail(QStringLiteral(R"re(\bFAIL\b)re"), QRegularExpression::CaseInsensitiveOption);
        QSqlQuery schema(s.conn->db());
        s.savepoint = false;
        if (schema.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE sql LIKE '%FAIL%' "
                                       "UNION ALL SELECT sql FROM sqlite_temp_master WHERE sql LIKE '%FAIL%'")))
            while (!s.savepoint && schema.next())
                s.savepoint = fail.match(schema.value(0).toString()).hasMatch();
    }
    QStringList cols;
    for (const auto& c : s.schema.columns)
        cols << s.conn->quote(c.name);
    s.selectList = cols.join(u',');
    s.returning = s.conn->kind == ProviderKind::PostgreSQL
                  || (s.conn->kind == ProviderKind::SQLite && sqlite3_libversion_number() >= 3035000);
    s.rereadInserts = s.conn->kind == ProviderKind::SQLite && changedAfterInsert(*s.conn, table);
    return true;
}

bool TableWriter::isOpen() const { return d_->conn != nullptr; }
const TableSchema& TableWriter::schema() const { return d_->schema; }
const DataError& TableWriter::lastError() const { return d_->lastError; }
void TableWriter::setGeneralPath(bool general) { d_->general = general; }

void TableWriter::setValuesConverted(bool converted) { d_->valuesConverted = converted; }

namespace {

using detail::WriterOp;

// Column indexes for names; false + error when one is unknown.
bool resolve(detail::WriterState& s, const QStringList& names, std::vector<int>& out)
{
    out.clear();
    for (const auto& n : names) {
        const int i = s.schema.indexOf(n);
        if (i < 0)
            return s.fail(adErrItemNotFound, QStringLiteral("The table \"%1\" has no column \"%2\".").arg(s.schema.name, n));
        out.push_back(i);
    }
    return true;
}

bool sameCount(detail::WriterState& s, const QStringList& names, const QVariantList& values)
{
    if (names.size() == values.size())
        return true;
    return s.fail(adErrInvalidArgument, QStringLiteral("%1 columns were named but %2 values given.")
                                            .arg(names.size()).arg(values.size()));
}

// Appends converted, bindable values; false + error when one does not fit.
bool convertAll(detail::WriterState& s, const std::vector<int>& cols, const QVariantList& values, QVariantList& out,
                quint64* nulls = nullptr, bool converted = false)
{
    if (nulls)
        *nulls = 0;
    const ProviderKind kind = s.conn->kind;
    for (size_t i = 0; i < cols.size(); ++i) {
        const FieldInfo& f = s.schema.columns[static_cast<size_t>(cols[i])];
        // Converted where it is bound: no copy of the value.
        QVariant& v = converted ? out.emplaceBack(values[static_cast<qsizetype>(i)]) : out.emplaceBack();
        if (!converted) {
            QString why;
            if (!convertToFieldType(values[static_cast<qsizetype>(i)], f, v, &why)) {
                out.removeLast();
                return s.fail(adErrMultipleStep, why);
            }
        }
        if (nulls && i < 64 && detail::isNullValue(v))
            *nulls |= quint64(1) << i;
        detail::makeBindValue(v, f, kind);
    }
    return true;
}

// Appends the converted key values but the Null ones, which are "IS NULL"
// terms; nulls receives their pattern.
bool convertKeys(detail::WriterState& s, const std::vector<int>& keys, const QVariantList& values, QVariantList& binds,
                 quint64& nulls)
{
    const qsizetype first = binds.size();
    if (!convertAll(s, keys, values, binds, &nulls))
        return false;
    for (qsizetype i = std::min<qsizetype>(qsizetype(keys.size()), 64) - 1; nulls && i >= 0; --i)
        if ((nulls >> i) & 1)
            binds.removeAt(first + i);
    return true;
}

// "a = ? AND b IS NULL" for the key.
QString whereFor(detail::WriterState& s, const std::vector<int>& cols, quint64 nulls)
{
    QStringList terms;
    for (size_t i = 0; i < cols.size(); ++i) {
        const QString name = s.conn->quote(s.schema.columns[static_cast<size_t>(cols[i])].name);
        terms << name + ((i < 64 && (nulls >> i) & 1) ? QStringLiteral(" IS NULL") : QStringLiteral(" = ?"));
    }
    return terms.join(QStringLiteral(" AND "));
}

QString withWhere(QString sql, const QString& where)
{
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    return sql;
}

// The operation for this call, made on first use.
WriterOp* operation(detail::WriterState& s, char kind, const QStringList& keyNames, quint64 nullKeys,
                    const QStringList& names = {}, int limit = -1)
{
    for (const auto& op : s.ops)
        if (op->kind == kind && op->nullKeys == nullKeys && op->limit == limit && op->keyNames == keyNames
            && op->names == names)
            return op.get();
    auto op = std::make_unique<WriterOp>();
    op->kind = kind;
    op->names = names;
    op->keyNames = keyNames;
    op->nullKeys = nullKeys;
    op->limit = limit;
    if (!resolve(s, keyNames, op->keys) || !resolve(s, names, op->cols))
        return nullptr;
    const QString where = whereFor(s, op->keys, nullKeys);
    switch (kind) {
    case 'S':
        op->sql = withWhere(QStringLiteral("SELECT %1 FROM %2").arg(s.selectList, s.quotedTable), where);
        if (limit >= 0)
            op->sql += QStringLiteral(" LIMIT %1").arg(limit);
        break;
    case 'C':
        op->sql = withWhere(QStringLiteral("SELECT COUNT(*) FROM %1").arg(s.quotedTable), where);
        break;
    case 'W':
        op->sql = QStringLiteral("SELECT %1 FROM %2 WHERE _rowid_ = ?").arg(s.selectList, s.quotedTable);
        break;
    case 'I':
    case 'R': {
        if (op->cols.empty()) {
            op->sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(s.quotedTable);
        } else {
            QStringList quoted;
            for (int c : op->cols)
                quoted << s.conn->quote(s.schema.columns[static_cast<size_t>(c)].name);
            op->sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(s.quotedTable, quoted.join(u','),
                               QStringList(quoted.size(), QStringLiteral("?")).join(u','));
        }
        if (kind == 'R')
            op->sql += QStringLiteral(" RETURNING ") + s.selectList;
        break;
    }
    case 'U': {
        QStringList sets;
        for (int c : op->cols)
            sets << s.conn->quote(s.schema.columns[static_cast<size_t>(c)].name) + QStringLiteral(" = ?");
        op->sql = withWhere(QStringLiteral("UPDATE %1 SET %2").arg(s.quotedTable, sets.join(u',')), where);
        break;
    }
    default:
        op->sql = withWhere(QStringLiteral("DELETE FROM %1").arg(s.quotedTable), where);
        break;
    }
    // Column lists change with the values a record changes: keep a bounded set.
    if (s.ops.size() >= 64)
        s.dropOps();
    s.ops.push_back(std::move(op));
    return s.ops.back().get();
}

// ---- SQLite through its own handle: the values bound as the Qt driver
// binds them and read back as it reads them, without its per-call layers.

// Null as the Qt driver sees it: also a null text or byte array and an
// invalid date or time.
bool boundAsNull(const QVariant& v)
{
    if (detail::isNullValue(v))
        return true;
    switch (v.data_ptr().typeId()) {
    case QMetaType::QString: return static_cast<const QString*>(v.constData())->isNull();
    case QMetaType::QByteArray: return static_cast<const QByteArray*>(v.constData())->isNull();
    case QMetaType::QDateTime: return !static_cast<const QDateTime*>(v.constData())->isValid();
    case QMetaType::QDate: return static_cast<const QDate*>(v.constData())->isNull();
    case QMetaType::QTime: return !static_cast<const QTime*>(v.constData())->isValid();
    default: return false;
    }
}

// Bytes of text in UTF-8, counted without converting it.
qint64 utf8Length(const QString& t)
{
    qint64 n = 0;
    for (const QChar c : t) {
        const char16_t u = c.unicode();
        n += u < 0x80 ? 1 : u < 0x800 || QChar::isSurrogate(u) ? 2 : 3;   // a surrogate pair is 4
    }
    return n;
}

// Text in UTF-8 into buf (grown as needed, never shrunk), as
// QString::toUtf8() gives it; the byte count, or -1 for text with a surrogate,
// left to Qt's own conversion.
qsizetype utf8Into(const QString& text, std::vector<char>& buf)
{
    const qsizetype n = text.size();
    // At least one byte: an empty text is bound with a pointer, or it would be Null.
    if (buf.size() < size_t(n) * 3 + 1)
        buf.resize(size_t(n) * 3 + 1);
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = in + n;
    char* out = buf.data();
    while (in != end) {
        // Four ASCII characters at a time.
        if (end - in >= 4) {
            quint64 four;
            std::memcpy(&four, in, sizeof four);
            if ((four & 0xff80ff80ff80ff80ULL) == 0) {
                out[0] = char(in[0]);
                out[1] = char(in[1]);
                out[2] = char(in[2]);
                out[3] = char(in[3]);
                in += 4;
                out += 4;
                continue;
            }
        }
        const char16_t u = *in++;
        if (u < 0x80) {
            *out++ = char(u);
        } else if (u < 0x800) {
            *out++ = char(0xc0 | (u >> 6));
            *out++ = char(0x80 | (u & 0x3f));
        } else if (!QChar::isSurrogate(u)) {
            *out++ = char(0xe0 | (u >> 12));
            *out++ = char(0x80 | ((u >> 6) & 0x3f));
            *out++ = char(0x80 | (u & 0x3f));
        } else {
            return -1;
        }
    }
    return out - buf.data();
}

// SQLite's result code: a value over the connection's size limit is
// refused here, before it is copied, and so is one that memory cannot hold.
// Text is bound from buf in place (SQLITE_STATIC): the caller keeps buf for
// as long as the statement may run with it. limit is the connection's
// length limit once a text has asked for it (-1 before).
int bindDirect(sqlite3_stmt* st, int i, const QVariant& v, std::vector<char>& buf, qint64& limit)
{
    if (boundAsNull(v))
        return sqlite3_bind_null(st, i);
    const void* p = v.constData();
    switch (v.data_ptr().typeId()) {
    case QMetaType::Int:
        return sqlite3_bind_int(st, i, *static_cast<const int*>(p));
    case QMetaType::Bool:
        return sqlite3_bind_int(st, i, *static_cast<const bool*>(p) ? 1 : 0);
    case QMetaType::UInt:
        return sqlite3_bind_int64(st, i, *static_cast<const uint*>(p));
    case QMetaType::LongLong:
        return sqlite3_bind_int64(st, i, *static_cast<const qlonglong*>(p));
    case QMetaType::Double:
        return sqlite3_bind_double(st, i, *static_cast<const double*>(p));
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return sqlite3_bind_blob64(st, i, b.constData(), sqlite3_uint64(b.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::QDateTime: {
        const QString t = v.toDateTime().toString(Qt::ISODateWithMs);
        return sqlite3_bind_text16(st, i, t.utf16(), static_cast<int>(t.size() * sizeof(QChar)), SQLITE_TRANSIENT);
    }
    case QMetaType::QTime: {
        const QString t = v.toTime().toString(QStringLiteral("hh:mm:ss.zzz"));
        return sqlite3_bind_text16(st, i, t.utf16(), static_cast<int>(t.size() * sizeof(QChar)), SQLITE_TRANSIENT);
    }
    case QMetaType::QString: {
        const QString& text = *static_cast<const QString*>(v.constData());
        // A text that cannot fit is not converted: that copy alone could be
        // gigabytes. Every character is at least one byte, at most three.
        if (limit < 0)
            limit = sqlite3_limit(sqlite3_db_handle(st), SQLITE_LIMIT_LENGTH, -1);
        if (text.size() > limit || (text.size() * 3 > limit && utf8Length(text) > limit))
            return SQLITE_TOOBIG;
        // UTF-8, the database's own encoding: SQLite need not convert it.
        // A text of the usual size goes through a kept buffer, so that
        // neither side allocates for it; a long one is not worth keeping.
        constexpr qsizetype keptChars = 4096;
        if (text.size() <= keptChars)
            if (const qsizetype n = utf8Into(text, buf); n >= 0)
                return sqlite3_bind_text64(st, i, buf.data(), sqlite3_uint64(n), SQLITE_STATIC, SQLITE_UTF8);
        const QByteArray t = text.toUtf8();
        return sqlite3_bind_text64(st, i, t.constData(), sqlite3_uint64(t.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    default: {
        const QString t = v.toString();
        return sqlite3_bind_text64(st, i, reinterpret_cast<const char*>(t.utf16()),
                                   sqlite3_uint64(t.size()) * sizeof(QChar), SQLITE_TRANSIENT, SQLITE_UTF16);
    }
    }
}

int bindDirectOrNoMemory(sqlite3_stmt* st, int i, const QVariant& v, std::vector<char>& buf, qint64& limit)
{
    try {
        return bindDirect(st, i, v, buf, limit);
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    }
}

// Runs op with binds; rows (when given) receive the normalised result rows.
// notPrepared (when given) tells a statement the database refused to
// prepare from one that failed when it ran.
bool execute(detail::WriterState& s, WriterOp& op, const QVariantList& binds, bool writes,
             std::vector<QVariantList>* rows, long* changes, bool* notPrepared = nullptr)
{
    auto& c = *s.conn;
    if (notPrepared)
        *notPrepared = false;
    const bool all = op.kind == 'S' || op.kind == 'R' || op.kind == 'W';
    if (s.direct()) {
        if (!op.raw || op.rawEpoch != c.rawEpoch) {
            DataError e;
            op.raw = c.rawStatement(op.sql, &e);
            op.rawEpoch = c.rawEpoch;
            if (!op.raw) {
                if (notPrepared)
                    *notPrepared = true;
                return s.fail(e);
            }
        }
        sqlite3_stmt* st = op.raw;
        detail::StatementScope scope(c, writes, writes && s.savepoint);
        if (op.texts.size() < size_t(binds.size()))
            op.texts.resize(size_t(binds.size()));
        qint64 limit = -1;
        for (qsizetype i = 0; i < binds.size(); ++i) {
            const int bound = bindDirectOrNoMemory(st, static_cast<int>(i) + 1, binds[i], op.texts[size_t(i)], limit);
            if (bound != SQLITE_OK) {
                // Nothing is left bound from this call or an earlier one.
                sqlite3_clear_bindings(st);
                scope.failed();
                // Out of memory is said as formulas say it.
                const QString text = bound == SQLITE_NOMEM ? QStringLiteral("Out of memory")
                                                           : QString::fromUtf8(sqlite3_errstr(bound));
                const bool named = (op.kind == 'I' || op.kind == 'U') && i < op.names.size();
                const QString what = named ? QStringLiteral("the value of ") + op.names.at(i) : QStringLiteral("a value");
                DataError e = detail::makeError(adErrProviderFailure,
                                                QStringLiteral("Unable to bind ") + what + QStringLiteral(": ") + text,
                                                QStringLiteral("QSQLITE"));
                e.SQLState = QString::number(bound);
                e.NativeError = bound;
                return s.fail(e);
            }
        }
        int rc = sqlite3_step(st);
        if (rows) {
            const int n = static_cast<int>(s.schema.columns.size());
            while (rc == SQLITE_ROW) {
                QVariantList row;
                row.reserve(all ? n : 1);
                if (all)
                    for (int i = 0; i < n; ++i)
                        row.emplaceBack(detail::sqliteFieldValue(st, i, s.schema.columns[static_cast<size_t>(i)]));
                else
                    row.emplaceBack(detail::sqliteValue(st, 0));
                rows->push_back(std::move(row));
                // A select's own LIMIT ends it there: no step to hear so.
                if (op.kind == 'S' && op.limit >= 0 && rows->size() >= size_t(op.limit))
                    break;
                rc = sqlite3_step(st);
            }
        }
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            const int code = sqlite3_extended_errcode(c.sqlite);
            const QString text = QString::fromUtf8(sqlite3_errmsg(c.sqlite));
            sqlite3_reset(st);
            scope.failed();
            // A statement that writes fetches nothing: the provider's own
            // message alone, as the Qt driver's path gives it. Reads are
            // worded as the Qt driver words them.
            DataError e = detail::makeError(adErrProviderFailure,
                                            writes ? text : QStringLiteral("Unable to fetch row: ") + text,
                                            QStringLiteral("QSQLITE"));
            e.SQLState = QString::number(code);
            e.NativeError = code;
            return s.fail(e);
        }
        if (changes)
            *changes = sqlite3_changes(c.sqlite);
        sqlite3_reset(st);
        return true;
    }
    // Prepared under the statement's savepoint: on PostgreSQL a statement
    // the server refuses to prepare would end the open transaction.
    detail::StatementScope scope(c, writes, writes && s.savepoint);
    DataError e;
    auto q = c.statement(op.sql, &e);
    if (!q) {
        scope.failed();
        if (notPrepared)
            *notPrepared = true;
        return s.fail(e);
    }
    for (qsizetype i = 0; i < binds.size(); ++i)
        q->bindValue(static_cast<int>(i), binds[i]);
    if (!q->exec()) {
        DataError failed = detail::sqlError(q->lastError(), QString(), c.db().driverName());
        // A write fetches nothing: the provider's own message, without the
        // driver's "Unable to fetch row".
        if (const QString own = q->lastError().databaseText().trimmed(); writes && !own.isEmpty())
            failed.Description = own;
        s.fail(failed);
        q->finish();
        scope.failed(s.lastError.SQLState);
        return false;
    }
    if (rows) {
        const int n = static_cast<int>(s.schema.columns.size());
        while (q->next()) {
            QVariantList row(all ? n : 1);
            if (all)
                for (int i = 0; i < n; ++i)
                    row[i] = detail::normalizeValue(q->value(i), s.schema.columns[static_cast<size_t>(i)]);
            else
                row[0] = q->value(0);
            rows->push_back(std::move(row));
        }
        const QSqlError err = q->lastError();
        if (err.isValid()) {
            q->finish();
            return s.fail(detail::sqlError(err, QString(), c.db().driverName()));
        }
    }
    if (changes)
        *changes = q->numRowsAffected();
    q->finish();
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

DataError tooManyRows(long n)
{
    return detail::makeError(adErrRowNotLocated,
                             n == 0 ? QString()
                                    : QStringLiteral("Key column information is insufficient or incorrect. "
                                                     "Too many rows were affected by update (%1).").arg(n));
}

// Runs an UPDATE or DELETE whose WHERE clause matches the key columns. When
// one row is required and the key is not the primary key, the change runs
// inside a savepoint (or a transaction of its own) so that a change of
// several rows is undone.
bool changeByKey(detail::WriterState& s, WriterOp& op, const QVariantList& binds, bool requireOneRow, long* affected)
{
    auto& c = *s.conn;
    const bool guard = requireOneRow && !isPrimaryKey(s, op.keys);
    bool own = false;
    bool savepoint = false;
    if (guard) {
        // The commit group decides first whether a transaction is open.
        detail::enterStatement(c, true);
        if (!c.inTransaction())
            own = c.db().transaction();
        else
            savepoint = c.controlExec(QStringLiteral("SAVEPOINT mdx_writer"));
    }
    auto undo = [&] {
        if (own)
            c.db().rollback();
        else if (savepoint) {
            c.controlExec(QStringLiteral("ROLLBACK TO SAVEPOINT mdx_writer"));
            c.controlExec(QStringLiteral("RELEASE SAVEPOINT mdx_writer"));
        }
    };
    long n = 0;
    if (!execute(s, op, binds, true, nullptr, &n)) {
        undo();
        return false;
    }
    if (affected)
        *affected = n;
    if (requireOneRow && n != 1) {
        undo();
        return s.fail(tooManyRows(guard ? n : 0));
    }
    if (own && !c.db().commit()) {
        const DataError e = detail::sqlError(c.db().lastError(), QString(), c.db().driverName());
        c.db().rollback();
        return s.fail(e);
    }
    if (savepoint)
        c.controlExec(QStringLiteral("RELEASE SAVEPOINT mdx_writer"));
    s.clearError();
    return true;
}

} // namespace

bool TableWriter::select(const QStringList& keyColumns, const QVariantList& keyValues, std::vector<QVariantList>& rows, int limit)
{
    auto& s = *d_;
    rows.clear();
    if (!requireOpen(s) || !sameCount(s, keyColumns, keyValues))
        return false;
    // Key columns are resolved once per operation; convert with them.
    WriterOp* probe = operation(s, 'S', keyColumns, 0, {}, limit);
    if (!probe)
        return false;
    quint64 nulls = 0;
    s.binds.clear();
    if (!convertKeys(s, probe->keys, keyValues, s.binds, nulls))
        return false;
    WriterOp* op = nulls ? operation(s, 'S', keyColumns, nulls, {}, limit) : probe;
    if (!op)
        return false;
    if (!execute(s, *op, s.binds, false, &rows, nullptr))
        return false;
    s.clearError();
    return true;
}

long TableWriter::count(const QStringList& keyColumns, const QVariantList& keyValues)
{
    auto& s = *d_;
    if (!requireOpen(s) || !sameCount(s, keyColumns, keyValues))
        return -1;
    WriterOp* probe = operation(s, 'C', keyColumns, 0);
    if (!probe)
        return -1;
    quint64 nulls = 0;
    s.binds.clear();
    if (!convertKeys(s, probe->keys, keyValues, s.binds, nulls))
        return -1;
    WriterOp* op = nulls ? operation(s, 'C', keyColumns, nulls) : probe;
    if (!op)
        return -1;
    std::vector<QVariantList> rows;
    if (!execute(s, *op, s.binds, false, &rows, nullptr))
        return -1;
    s.clearError();
    return rows.empty() ? -1 : static_cast<long>(rows.front().value(0).toLongLong());
}

bool TableWriter::insert(const QStringList& columns, const QVariantList& values, long* inserted,
                         QVariantList* stored)
{
    auto& s = *d_;
    if (inserted)
        *inserted = -1;
    if (stored)
        stored->clear();
    if (!requireOpen(s) || !sameCount(s, columns, values))
        return false;
    // SQLite stores a row whose every column is given as it was given (its
    // triggers cannot change the new row before it is stored): the change
    // count alone tells whether it was inserted.
    const bool asGiven = s.conn->kind == ProviderKind::SQLite && !s.rereadInserts
                         && columns.size() >= qsizetype(s.schema.columns.size());
    if (stored && s.returning && !asGiven) {
        // The stored row comes back with the insert: no second statement,
        // which could find another row (the last one inserted before an
        // insert that was ignored) or fail inside the caller's transaction.
        WriterOp* op = operation(s, 'R', {}, 0, columns);
        if (!op)
            return false;
        s.binds.clear();
        if (!convertAll(s, op->cols, values, s.binds, nullptr, s.valuesConverted))
            return false;
        std::vector<QVariantList> rows;
        long changes = -1;
        bool notPrepared = false;
        if (execute(s, *op, s.binds, true, &rows, &changes, &notPrepared)) {
            if (inserted)
                *inserted = rows.empty() ? 0 : changes < 0 ? long(rows.size()) : changes;
            if (!rows.empty())
                *stored = std::move(rows.front());
            if (!rows.empty() && s.rereadInserts && s.conn->sqlite && s.schema.hasRowId) {
                // The row as the triggers left it; the one returned stands
                // when it cannot be read.
                WriterOp* again = operation(s, 'W', {}, 0);
                std::vector<QVariantList> now;
                if (again && execute(s, *again, {QVariant::fromValue<qlonglong>(sqlite3_last_insert_rowid(s.conn->sqlite))},
                                     false, &now, nullptr)
                    && !now.empty())
                    *stored = std::move(now.front());
            }
            s.clearError();
            return true;
        }
        if (!notPrepared)
            return false;
        // A target that cannot return rows (a view whose rule has no
        // RETURNING, for one): plain inserts from now on.
        s.returning = false;
    }
    WriterOp* op = operation(s, 'I', {}, 0, columns);
    if (!op)
        return false;
    s.binds.clear();
    if (!convertAll(s, op->cols, values, s.binds, nullptr, s.valuesConverted))
        return false;
    long changes = -1;
    if (!execute(s, *op, s.binds, true, nullptr, &changes))
        return false;
    // A count of 0 is believed where the database is known to give it.
    if (inserted)
        *inserted = changes > 0 || s.conn->kind == ProviderKind::SQLite || s.conn->kind == ProviderKind::PostgreSQL
                        ? changes
                        : -1;
    s.clearError();
    return true;
}

bool TableWriter::update(const QStringList& keyColumns, const QVariantList& keyValues, const QStringList& columns,
                         const QVariantList& values, bool requireOneRow, long* affected)
{
    auto& s = *d_;
    if (affected)
        *affected = 0;
    if (!requireOpen(s) || !sameCount(s, keyColumns, keyValues) || !sameCount(s, columns, values))
        return false;
    WriterOp* probe = operation(s, 'U', keyColumns, 0, columns);
    if (!probe)
        return false;
    // Keys first: a key that does not fit is the error told.
    quint64 nulls = 0;
    s.keyBinds.clear();
    s.binds.clear();
    if (!convertKeys(s, probe->keys, keyValues, s.keyBinds, nulls)
        || !convertAll(s, probe->cols, values, s.binds, nullptr, s.valuesConverted))
        return false;
    if (columns.isEmpty()) {
        s.clearError();
        return true;
    }
    WriterOp* op = nulls ? operation(s, 'U', keyColumns, nulls, columns) : probe;
    if (!op)
        return false;
    s.binds.append(s.keyBinds);
    return changeByKey(s, *op, s.binds, requireOneRow, affected);
}

bool TableWriter::remove(const QStringList& keyColumns, const QVariantList& keyValues, bool requireOneRow, long* affected)
{
    auto& s = *d_;
    if (affected)
        *affected = 0;
    if (!requireOpen(s) || !sameCount(s, keyColumns, keyValues))
        return false;
    WriterOp* probe = operation(s, 'D', keyColumns, 0);
    if (!probe)
        return false;
    quint64 nulls = 0;
    s.binds.clear();
    if (!convertKeys(s, probe->keys, keyValues, s.binds, nulls))
        return false;
    WriterOp* op = nulls ? operation(s, 'D', keyColumns, nulls) : probe;
    if (!op)
        return false;
    return changeByKey(s, *op, s.binds, requireOneRow, affected);
}

} // namespace ado
