#include "data/Recordset.h"

#include "data/Connection.h"
#include "data/RowSpool.h"
#include "data/RowsetXml.h"
#include "data/StatePrivate.h"

#include <QRegularExpression>
#include <QSqlRecord>
#include <sqlite3.h>

namespace ado {

using detail::RecordsetState;
using Mode = RecordsetState::Mode;

namespace detail {

void RecordsetState::setFields(std::vector<FieldInfo> f)
{
    fields = std::move(f);
    byName.clear();
    for (int i = static_cast<int>(fields.size()) - 1; i >= 0; --i)
        byName.insert(fields[static_cast<size_t>(i)].name.toLower(), i);
}

bool RecordsetState::fail(long number, const QString& description)
{
    lastError = makeError(number, description);
    return false;
}

bool RecordsetState::fail(const DataError& e)
{
    lastError = e;
    return false;
}

bool RecordsetState::requireOpen()
{
    if (mode == Mode::Closed)
        return fail(adErrObjectClosed);
    return true;
}

bool RecordsetState::hasCurrent() const
{
    if (mode == Mode::Closed)
        return false;
    if (editMode == adEditAdd)
        return true;
    if (mode == Mode::Streaming)
        return !streamAtEnd && streamPos > 0;
    return !currentDeleted && pos >= 0 && pos < static_cast<long>(rows.size());
}

const QVariantList* RecordsetState::currentRow() const
{
    if (editMode != adEditNone && editMode != adEditDelete)
        return &editValues;
    if (!hasCurrent())
        return nullptr;
    if (mode == Mode::Streaming)
        return &current;
    return &rows[static_cast<size_t>(pos)];
}

} // namespace detail

namespace {

// "SELECT <list> FROM <table> [WHERE ...|ORDER BY ...]" -> table, when the
// query reads one table (no join, no sub-select in FROM).
QString singleTableOf(const QString& sql, QString* selectList = nullptr)
{
    static const QRegularExpression re(
        QStringLiteral(R"re(^\s*SELECT\s+(.+?)\s+FROM\s+((?:"(?:[^"]|"")+"|\[[^\]]+\]|`[^`]+`|[\w$]+)(?:\.(?:"(?:[^"]|"")+"|\[[^\]]+\]|`[^`]+`|[\w$]+))?)\s*(?:(?:WHERE|ORDER\s+BY)\b.*)?;?\s*$)re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const auto m = re.match(sql);
    if (!m.hasMatch())
        return {};
    const QString list = m.captured(1);
    if (list.contains(QRegularExpression(QStringLiteral(R"re(\bFROM\b|^\s*DISTINCT\b)re"), QRegularExpression::CaseInsensitiveOption)))
        return {};
    if (selectList)
        *selectList = list;
    QString t = m.captured(2);
    // Unquote each part; the connection quotes again when it writes.
    QStringList parts;
    static const QRegularExpression part(QStringLiteral(R"re("((?:[^"]|"")+)"|\[([^\]]+)\]|`([^`]+)`|([\w$]+))re"));
    auto it = part.globalMatch(t);
    while (it.hasNext()) {
        const auto pm = it.next();
        if (!pm.captured(1).isEmpty())
            parts << pm.captured(1).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        else if (!pm.captured(2).isEmpty())
            parts << pm.captured(2);
        else if (!pm.captured(3).isEmpty())
            parts << pm.captured(3);
        else
            parts << pm.captured(4);
    }
    return parts.join(u'.');
}

QString stripSemicolon(QString sql)
{
    sql = sql.trimmed();
    while (sql.endsWith(u';'))
        sql.chop(1);
    return sql;
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.isNull() != b.isNull())
        return false;
    if (a.isNull())
        return true;
    return a == b;
}

} // namespace

// ---------------------------------------------------------------------------

Recordset::Recordset() : d_(std::make_shared<RecordsetState>()) {}

Recordset Recordset::CreateDisconnected(const std::vector<FieldInfo>& fields)
{
    Recordset rs;
    rs.d_->mode = Mode::Disconnected;
    rs.d_->setFields(fields);
    rs.d_->pos = 0;
    rs.d_->cursorType = adOpenStatic;
    rs.d_->lockType = adLockBatchOptimistic;
    return rs;
}

namespace {

// A forward-only read of one SQL statement that only reads, through
// SQLite's own handle. False (recordset untouched) when the statement is
// not such a read or fails: the Qt driver then runs it.
bool openSqliteCursor(RecordsetState& s, const std::shared_ptr<detail::ConnectionState>& conn, const QString& sql)
{
    auto cursor = std::make_shared<detail::SqliteCursor>();
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(conn->sqlite, utf8.constData(), static_cast<int>(utf8.size()), &cursor->stmt, &tail)
            != SQLITE_OK
        || !cursor->stmt)
        return false;
    if (tail && !QByteArray(tail).trimmed().isEmpty())
        return false;
    if (sqlite3_column_count(cursor->stmt) == 0 || !sqlite3_stmt_readonly(cursor->stmt))
        return false;
    int rc = SQLITE_OK;
    {
        detail::StatementScope scope(*conn, false);
        rc = sqlite3_step(cursor->stmt);
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return false;
    s.generation = conn->generation;
    s.setFields(detail::sqliteStatementFields(cursor->stmt, rc == SQLITE_ROW));
    s.columnOfField.assign(s.fields.size(), -1);
    s.mode = Mode::Streaming;
    s.streamPos = 0;
    s.streamAtEnd = false;
    s.countCache = -2;
    if (rc == SQLITE_ROW) {
        const int n = static_cast<int>(s.fields.size());
        s.current.resize(n);
        QVariant* out = s.current.data();
        for (int i = 0; i < n; ++i)
            out[i] = detail::sqliteFieldValue(cursor->stmt, i, s.fields[static_cast<size_t>(i)]);
        s.streamPos = 1;
        conn->track(cursor);
        s.cursor = std::move(cursor);
    } else {
        s.streamAtEnd = true;
        s.countCache = 0;
    }
    return true;
}

} // namespace

bool Recordset::Open(const QString& source, const Connection& connection, CursorTypeEnum cursorType, LockTypeEnum lockType)
{
    auto& s = *d_;
    if (s.mode != Mode::Closed)
        return s.fail(adErrObjectOpen);
    s.clearError();
    auto conn = connection.d_;
    if (!conn || !conn->open) {
        const DataError e = detail::makeError(adErrInvalidConnection,
                                              QStringLiteral("The connection cannot be used to perform this operation. "
                                                             "It is either closed or invalid in this context."));
        if (conn)
            conn->errors.Add(e);
        return s.fail(e);
    }
    const QString sql = stripSemicolon(source);
    if (sql.isEmpty()) {
        const DataError e = conn->record(adErrInvalidArgument, QStringLiteral("The recordset has no source to open."));
        return s.fail(e);
    }
    s.conn = conn;
    s.source = source;
    s.cursorType = cursorType;
    s.lockType = lockType == adLockUnspecified ? adLockReadOnly : lockType;
    s.editMode = adEditNone;
    s.currentDeleted = false;

    QString selectList;
    const QString table = singleTableOf(sql, &selectList);
    const bool streaming = cursorType == adOpenForwardOnly || cursorType == adOpenUnspecified;
    const bool updatable = !streaming && s.lockType != adLockReadOnly;

    QSqlDatabase db = conn->db();
    QString execSql = sql;
    if (updatable && !table.isEmpty()) {
        DataError ignored;
        s.table = conn->tableSchema(table, &ignored);
        if (s.table) {
            s.baseTable = table;
            if (s.table->primaryKey.empty() && s.table->hasRowId && conn->kind == ProviderKind::SQLite) {
                // Rows of a table without a key are found again by rowid.
                static const QRegularExpression lead(QStringLiteral(R"re(^\s*SELECT\s+)re"), QRegularExpression::CaseInsensitiveOption);
                execSql = QString(sql).replace(lead, QStringLiteral("SELECT _rowid_, "));
                s.useRowId = true;
            }
        }
    }

    // PostgreSQL: a forward-only Qt query streams in single-row mode, and the
    // next statement on the connection cuts it short. The record loop writes
    // through the same connection while it reads, so there the result is
    // fetched whole (libpq holds it) and read one row at a time.
    const bool singleRowSafe = conn->kind != ProviderKind::PostgreSQL || s.singleRow;
    auto makeQuery = [&] {
        s.query = std::make_shared<QSqlQuery>(db);
        s.query->setForwardOnly(singleRowSafe);
        s.query->setNumericalPrecisionPolicy(QSql::HighPrecision);
    };
    // SQLite: a forward-only read goes through SQLite's own handle, without
    // the Qt driver's per-row layers. What it does not take (several
    // statements, one that writes, a failure) runs through the driver as
    // before, which also words the failure.
    if (streaming && conn->sqlite && openSqliteCursor(s, conn, execSql))
        return true;
    makeQuery();
    detail::StatementScope scope(*conn, !detail::isReadOnlySql(execSql));
    bool ran = s.query->exec(execSql);
    if (!ran && s.useRowId) {
        // The rowid form failed (a view, a table without rowid): plain query.
        s.useRowId = false;
        execSql = sql;
        makeQuery();
        ran = s.query->exec(execSql);
    }
    if (!ran) {
        scope.failed();
        const DataError e = conn->recordSql(s.query->lastError(), QString());
        s.query.reset();
        s.conn.reset();
        s.table.reset();
        s.baseTable.clear();
        return s.fail(e);
    }
    s.generation = conn->generation;
    if (!s.query->isSelect()) {
        // A statement without rows leaves the recordset closed, as ADO does.
        s.rowsAffected = s.query->numRowsAffected();
        s.query.reset();
        s.conn.reset();
        return true;
    }
    std::vector<FieldInfo> fields;
    const int hidden = s.useRowId ? 1 : 0;
    const QSqlRecord rec = s.query->record();
    if (s.table && selectList.trimmed() == u"*" && static_cast<int>(s.table->columns.size()) == rec.count() - hidden) {
        fields = s.table->columns;
    } else {
        fields = detail::fieldsOfQuery(*conn, *s.query, execSql);
        if (hidden && !fields.empty())
            fields.erase(fields.begin());
    }
    s.setFields(std::move(fields));
    s.columnOfField.assign(s.fields.size(), -1);
    if (s.table)
        for (size_t i = 0; i < s.fields.size(); ++i)
            s.columnOfField[i] = s.table->indexOf(s.fields[i].baseColumn.isEmpty() ? s.fields[i].name : s.fields[i].baseColumn);

    const int n = static_cast<int>(s.fields.size());
    auto readRow = [&](QVariantList& row) {
        row.resize(n);
        for (int i = 0; i < n; ++i)
            row[i] = detail::normalizeValue(s.query->value(i + hidden), s.fields[static_cast<size_t>(i)]);
    };
    if (streaming) {
        conn->track(s.query);
        s.mode = Mode::Streaming;
        s.streamPos = 0;
        s.streamAtEnd = false;
        s.countCache = -2;
        if (s.query->next()) {
            readRow(s.current);
            s.streamPos = 1;
        } else {
            s.streamAtEnd = true;
            s.countCache = 0;
            s.query->finish();
        }
        return true;
    }
    s.mode = Mode::Materialised;
    s.rows.clear();
    s.rowIds.clear();
    while (s.query->next()) {
        QVariantList row;
        readRow(row);
        s.rows.push_back(std::move(row));
        if (hidden)
            s.rowIds.push_back(s.query->value(0));
    }
    if (s.query->lastError().isValid()) {
        const DataError e = conn->recordSql(s.query->lastError(), QString());
        s.query.reset();
        s.mode = Mode::Closed;
        s.rows.clear();
        return s.fail(e);
    }
    s.query.reset();
    s.pos = 0;
    return true;
}

bool Recordset::OpenSnapshot(const QString& source, const Connection& connection)
{
    auto& s = *d_;
    if (s.mode != Mode::Closed)
        return s.fail(adErrObjectOpen);
    auto spool = std::make_shared<detail::RowSpool>();
    QString why;
    if (!spool->create(&why))
        return s.fail(adErrProviderFailure, why);
    // Nothing else runs on the connection until every row is read, so
    // PostgreSQL may hand them over one at a time instead of holding the
    // whole result in the client. Inside a transaction each statement runs
    // under a savepoint, whose release would cut such a read short.
    s.singleRow = connection.transactionLevel() == 0;
    const bool opened = Open(source, connection, adOpenForwardOnly, adLockReadOnly);
    s.singleRow = false;
    if (!opened || s.mode != Mode::Streaming)
        return opened;
    // On SQLite's own handle each row goes into the spool straight from the
    // statement, as MoveNext would have read it, without making it a row of
    // values first.
    if (s.cursor && s.streamUsable() && !s.streamAtEnd) {
        if (!spool->append(s.current)) {
            Close();
            spool->finish(&why);
            return s.fail(adErrProviderFailure, why);
        }
        sqlite3_stmt* st = s.cursor->stmt;
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            if (!detail::spoolSqliteRow(*spool, st, s.fields)) {
                Close();
                spool->finish(&why);
                return s.fail(adErrProviderFailure, why);
            }
        }
        if (rc != SQLITE_DONE) {
            // Worded as the Qt driver words it (see MoveNext).
            const DataError e = detail::makeError(adErrProviderFailure,
                                                  QStringLiteral("Unable to fetch row: ")
                                                      + QString::fromUtf8(sqlite3_errmsg(s.conn->sqlite)),
                                                  QStringLiteral("Meridox data"));
            Close();
            return s.fail(e);
        }
        s.streamAtEnd = true;
    }
    while (!s.streamAtEnd) {
        if (!spool->append(s.current)) {
            Close();
            spool->finish(&why);
            return s.fail(adErrProviderFailure, why);
        }
        if (!MoveNext()) {
            const DataError e = s.lastError;
            Close();
            return s.fail(e);
        }
    }
    s.query.reset();
    s.cursor.reset();
    if (!spool->finish(&why)) {
        Close();
        return s.fail(adErrProviderFailure, why);
    }
    s.spool = std::move(spool);
    s.countCache = s.spool->count();
    s.current.clear();
    s.streamPos = 0;
    s.streamAtEnd = true;
    if (s.spool->next(s.current)) {
        s.streamPos = 1;
        s.streamAtEnd = false;
    }
    s.clearError();
    return true;
}

namespace {

// Loads a saved rowset into a closed recordset, which then holds it
// disconnected; Load reads it into data or fails with a message.
template <class Load>
bool openDisconnected(RecordsetState& s, Load&& load, const QString& fileName)
{
    if (s.mode != Mode::Closed)
        return s.fail(adErrObjectOpen);
    RowsetData data;
    QString error;
    if (!load(data, &error))
        return s.fail(adErrProviderFailure, error);
    s = RecordsetState();
    s.mode = Mode::Disconnected;
    s.setFields(std::move(data.fields));
    s.rows = std::move(data.rows);
    s.pos = 0;
    s.fileName = fileName;
    s.source = fileName;
    s.cursorType = adOpenStatic;
    s.lockType = adLockBatchOptimistic;
    return true;
}

} // namespace

bool Recordset::OpenFile(const QString& path)
{
    return openDisconnected(*d_, [&](RowsetData& data, QString* error) { return loadRowsetXml(path, data, error); }, path);
}

bool Recordset::OpenXml(const QByteArray& xml)
{
    return openDisconnected(*d_, [&](RowsetData& data, QString* error) { return readRowsetXml(xml, data, error); }, QString());
}

bool Recordset::Save(const QString& path) const
{
    auto& s = *d_;
    if (!s.requireOpen())
        return false;
    if (s.mode == Mode::Streaming)
        return s.fail(adErrIllegalOperation, QStringLiteral("A forward-only recordset cannot be saved."));
    const QString target = path.isEmpty() ? s.fileName : path;
    if (target.isEmpty())
        return s.fail(adErrInvalidArgument, QStringLiteral("No file name was given to save the recordset to."));
    RowsetData data;
    data.fields = s.fields;
    data.rows = s.rows;
    QString error;
    if (!saveRowsetXml(target, data, &error))
        return s.fail(adErrProviderFailure, error);
    s.fileName = target;
    s.clearError();
    return true;
}

QByteArray Recordset::toXml() const
{
    RowsetData data;
    data.fields = d_->fields;
    if (d_->mode != Mode::Streaming)
        data.rows = d_->rows;
    return writeRowsetXml(data);
}

void Recordset::Close()
{
    *d_ = RecordsetState();
}

ObjectStateEnum Recordset::State() const
{
    return d_->mode == Mode::Closed ? adStateClosed : adStateOpen;
}

bool Recordset::isDisconnected() const { return d_->mode == Mode::Disconnected; }
bool Recordset::isStreaming() const { return d_->mode == Mode::Streaming; }
QString Recordset::Source() const { return d_->source; }
QString Recordset::fileName() const { return d_->fileName; }
CursorTypeEnum Recordset::CursorType() const { return d_->cursorType; }
LockTypeEnum Recordset::LockType() const { return d_->lockType; }

bool Recordset::IsEOF() const
{
    const auto& s = *d_;
    if (s.mode == Mode::Closed)
        return true;
    if (s.editMode == adEditAdd)
        return false;
    if (s.mode == Mode::Streaming)
        return s.streamAtEnd;
    if (s.currentDeleted)
        return false;
    return s.pos >= static_cast<long>(s.rows.size());
}

bool Recordset::IsBOF() const
{
    const auto& s = *d_;
    if (s.mode == Mode::Closed)
        return true;
    if (s.editMode == adEditAdd)
        return false;
    if (s.mode == Mode::Streaming)
        return s.streamAtEnd && s.streamPos == 0;
    return s.pos < 0 || s.rows.empty();
}

long Recordset::RecordCount() const
{
    auto& s = *d_;
    if (s.mode == Mode::Closed)
        return -1;
    if (s.mode != Mode::Streaming)
        return static_cast<long>(s.rows.size());
    if (s.countCache == -2) {
        s.countCache = -1;
        if (s.conn && s.conn->open) {
            QSqlQuery q(s.conn->db());
            q.setForwardOnly(true);
            detail::StatementScope scope(*s.conn, false);
            // The line break ends a trailing "--" comment of the query.
            if (q.exec(QStringLiteral("SELECT COUNT(*) FROM (%1\n) mdx_count").arg(stripSemicolon(s.source))) && q.next())
                s.countCache = q.value(0).toLongLong();
            else
                scope.failed();
        }
    }
    return s.countCache;
}

long Recordset::AbsolutePosition() const
{
    const auto& s = *d_;
    if (s.mode == Mode::Closed)
        return -1;
    if (s.mode == Mode::Streaming)
        return s.streamAtEnd ? -3 : s.streamPos;
    if (s.pos < 0)
        return -2;
    if (s.pos >= static_cast<long>(s.rows.size()))
        return s.rows.empty() ? -1 : -3;
    return s.pos + 1;
}

namespace {

// Commits a pending edit before the cursor moves, as ADO does.
bool settleEdit(Recordset& rs, RecordsetState& s)
{
    if (s.editMode == adEditInProgress || s.editMode == adEditAdd)
        return rs.Update();
    if (s.editMode == adEditDelete)
        s.editMode = adEditNone;
    return true;
}

// What every move checks first: an open recordset, a direction a streamed
// one can go, and no edit left pending.
bool beginMove(Recordset& rs, RecordsetState& s, bool backwards)
{
    if (!s.requireOpen())
        return false;
    if (backwards && s.mode == Mode::Streaming)
        return s.fail(adErrCannotFetchBackwards);
    return settleEdit(rs, s);
}

} // namespace

bool Recordset::setAbsolutePosition(long position)
{
    auto& s = *d_;
    if (!s.requireOpen())
        return false;
    if (s.mode != Mode::Streaming && (position < 1 || position > static_cast<long>(s.rows.size())))
        return s.fail(adErrInvalidArgument);
    if (!beginMove(*this, s, true))
        return false;
    s.pos = position - 1;
    s.currentDeleted = false;
    s.clearError();
    return true;
}

Recordset::RowMark Recordset::markRow() const
{
    const auto& s = *d_;
    RowMark mark;
    if (s.mode == Mode::Streaming) {
        if (!s.spool || s.streamAtEnd)
            return mark;
        const detail::RowSpool::Mark m = s.spool->lastRow();
        mark.offset = m.offset;
        mark.read = m.read;
        mark.position = s.streamPos;
        return mark;
    }
    if (s.mode == Mode::Materialised || s.mode == Mode::Disconnected)
        mark.position = s.pos + 1;
    return mark;
}

bool Recordset::returnToRow(const RowMark& mark)
{
    auto& s = *d_;
    if (s.mode == Mode::Streaming) {
        if (!s.spool || mark.offset < 0)
            return false;
        if (!s.spool->returnTo({mark.offset, mark.read}, s.current)) {
            s.streamAtEnd = true;
            s.current.clear();
            return s.fail(adErrProviderFailure, QStringLiteral("The snapshot of the rows cannot be read again."));
        }
        s.streamPos = mark.position;
        s.streamAtEnd = false;
        s.clearError();
        return true;
    }
    if ((s.mode != Mode::Materialised && s.mode != Mode::Disconnected) || mark.position < 1
        || mark.position > static_cast<long>(s.rows.size()))
        return false;
    s.pos = mark.position - 1;
    s.currentDeleted = false;
    s.clearError();
    return true;
}

bool Recordset::MoveFirst()
{
    auto& s = *d_;
    if (!beginMove(*this, s, false))
        return false;
    s.clearError();
    if (s.mode == Mode::Streaming) {
        if (s.streamPos == 1 && !s.streamAtEnd)
            return true;
        if (s.spool) {
            if (!s.spool->rewind())
                return s.fail(adErrProviderFailure, QStringLiteral("The snapshot of the rows cannot be read again."));
            s.streamPos = 0;
            s.streamAtEnd = true;
            s.current.clear();
            if (s.spool->next(s.current)) {
                s.streamPos = 1;
                s.streamAtEnd = false;
            }
            return true;
        }
        // Forward-only: start the query again.
        const QString source = s.source;
        auto conn = s.conn;
        const auto cursor = s.cursorType;
        const auto lock = s.lockType;
        const long count = s.countCache;
        Close();
        Connection c;
        c.d_ = conn;
        if (!Open(source, c, cursor, lock))
            return false;
        if (s.countCache == -2)
            s.countCache = count;
        return true;
    }
    s.pos = 0;
    s.currentDeleted = false;
    return true;
}

bool Recordset::MoveNext()
{
    auto& s = *d_;
    if (!beginMove(*this, s, false))
        return false;
    if (s.mode == Mode::Streaming) {
        if (s.streamAtEnd)
            return s.fail(adErrNoCurrentRecord);
        if (!s.streamUsable()) {
            // The connection was closed under the recordset.
            s.streamAtEnd = true;
            s.current.clear();
            s.query.reset();
            return s.fail(adErrObjectClosed);
        }
        s.clearError();
        if (s.spool) {
            if (s.spool->next(s.current)) {
                ++s.streamPos;
                return true;
            }
            s.streamAtEnd = true;
            s.current.clear();
            ++s.streamPos;
            if (s.spool->failed())
                return s.fail(adErrProviderFailure, QStringLiteral("The snapshot of the rows cannot be read."));
            return true;
        }
        if (s.cursor) {
            sqlite3_stmt* st = s.cursor->stmt;
            const int rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                const int n = static_cast<int>(s.fields.size());
                QVariant* out = s.current.data();
                for (int i = 0; i < n; ++i)
                    out[i] = detail::sqliteFieldValue(st, i, s.fields[static_cast<size_t>(i)]);
                ++s.streamPos;
                return true;
            }
            const QString why = rc == SQLITE_DONE ? QString() : QString::fromUtf8(sqlite3_errmsg(s.conn->sqlite));
            s.cursor.reset();
            s.streamAtEnd = true;
            s.current.clear();
            if (!why.isNull()) {
                s.countCache = -2;
                // Worded as the Qt driver words it.
                return s.fail(detail::makeError(adErrProviderFailure, QStringLiteral("Unable to fetch row: ") + why,
                                                QStringLiteral("Meridox data")));
            }
            if (s.countCache < 0)
                s.countCache = s.streamPos;
            ++s.streamPos;
            return true;
        }
        if (s.query->next()) {
            const int n = static_cast<int>(s.fields.size());
            const int hidden = s.useRowId ? 1 : 0;
            for (int i = 0; i < n; ++i)
                s.current[i] = detail::normalizeValue(s.query->value(i + hidden), s.fields[static_cast<size_t>(i)]);
            ++s.streamPos;
            return true;
        }
        const bool failed = s.query && s.query->lastError().isValid();
        const QSqlError err = failed ? s.query->lastError() : QSqlError();
        s.streamAtEnd = true;
        s.current.clear();
        if (s.countCache < 0)
            s.countCache = s.streamPos;
        if (s.query)
            s.query->finish();
        if (failed) {
            s.countCache = -2;
            return s.fail(detail::sqlError(err, QString(), QStringLiteral("Meridox data")));
        }
        ++s.streamPos;
        return true;
    }
    if (s.currentDeleted) {
        s.currentDeleted = false;   // pos already names the row after the deleted one
        s.clearError();
        return true;
    }
    if (s.pos >= static_cast<long>(s.rows.size()))
        return s.fail(adErrNoCurrentRecord);
    ++s.pos;
    s.clearError();
    return true;
}

bool Recordset::MovePrevious()
{
    auto& s = *d_;
    if (!beginMove(*this, s, true))
        return false;
    if (s.pos < 0 || s.rows.empty())
        return s.fail(adErrNoCurrentRecord);
    s.currentDeleted = false;
    --s.pos;
    s.clearError();
    return true;
}

bool Recordset::MoveLast()
{
    auto& s = *d_;
    if (!beginMove(*this, s, true))
        return false;
    s.clearError();
    s.currentDeleted = false;
    s.pos = s.rows.empty() ? 0 : static_cast<long>(s.rows.size()) - 1;
    return true;
}

bool Recordset::Move(long rows)
{
    auto& s = *d_;
    if (!s.requireOpen())
        return false;
    if (s.mode == Mode::Streaming) {
        if (rows < 0)
            return s.fail(adErrCannotFetchBackwards);
        for (long i = 0; i < rows; ++i)
            if (!MoveNext())
                return false;
        return true;
    }
    if (!settleEdit(*this, s))
        return false;
    if (rows != 0 && s.rows.empty())
        return s.fail(adErrNoCurrentRecord);
    long target = s.pos + rows - (s.currentDeleted && rows > 0 ? 1 : 0);
    s.currentDeleted = false;
    if (target < -1)
        target = -1;
    if (target > static_cast<long>(s.rows.size()))
        target = static_cast<long>(s.rows.size());
    s.pos = target;
    s.clearError();
    return true;
}

int Recordset::FieldCount() const
{
    return static_cast<int>(d_->fields.size());
}

Field Recordset::Fields(int index) const
{
    if (!d_->requireOpen())
        return {};
    if (index < 0 || index >= FieldCount()) {
        d_->fail(adErrItemNotFound);
        return {};
    }
    return Field(d_, index);
}

Field Recordset::Fields(const QString& name) const
{
    if (!d_->requireOpen())
        return {};
    const int i = fieldIndex(name);
    if (i < 0) {
        d_->fail(adErrItemNotFound, QStringLiteral("Item cannot be found in the collection corresponding to the "
                                                   "requested name or ordinal (\"%1\").").arg(name));
        return {};
    }
    return Field(d_, i);
}

int Recordset::fieldIndex(const QString& name) const
{
    // Names are found in lower case; one already in it (ASCII without
    // capitals, as most are) is not copied to be lowered.
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 0x80 || (u >= u'A' && u <= u'Z'))
            return d_->byName.value(name.toLower(), -1);
    }
    return d_->byName.value(name, -1);
}

const std::vector<FieldInfo>& Recordset::fieldInfos() const
{
    return d_->fields;
}

const QVariantList* Recordset::currentValues() const
{
    return hasCurrentRecord() ? d_->currentRow() : nullptr;
}

QVariant Recordset::value(int index) const
{
    // What Fields(index).Value() gives, without a field object per read: a
    // run reads every mapped column of every record this way.
    auto& s = *d_;
    // The record loop's case first: a row read forward, not being edited.
    if (s.mode == Mode::Streaming && s.editMode == adEditNone && !s.streamAtEnd && s.streamPos > 0 && index >= 0
        && index < FieldCount() && index < s.current.size()) {
        s.clearError();
        return s.current[index];
    }
    if (!s.requireOpen())
        return {};
    if (index < 0 || index >= FieldCount()) {
        s.fail(adErrItemNotFound);
        return {};
    }
    const QVariantList* row = s.currentRow();
    if (!row || index >= row->size()) {
        s.fail(adErrNoCurrentRecord);
        return {};
    }
    s.clearError();
    return (*row)[index];
}

QVariant Recordset::value(const QString& name) const
{
    return Fields(name).Value();
}

bool Recordset::setValue(int index, const QVariant& value)
{
    const Field f = Fields(index);
    return f.isValid() && Field(f).setValue(value);
}

bool Recordset::setValue(const QString& name, const QVariant& value)
{
    const Field f = Fields(name);
    return f.isValid() && Field(f).setValue(value);
}

EditModeEnum Recordset::EditMode() const
{
    return d_->editMode;
}

namespace {

// The pending edit is over (saved or dropped).
void endEdit(RecordsetState& s)
{
    s.editMode = adEditNone;
    s.editValues.clear();
    s.changed.clear();
    s.clearError();
}

// Writing through a materialised recordset needs its open connection and
// the single base table its source reads.
bool requireBaseTable(RecordsetState& s)
{
    if (!s.conn || !s.conn->open)
        return s.fail(adErrObjectClosed);
    if (!s.table)
        return s.fail(adErrFeatureNotAvailable,
                      QStringLiteral("The recordset cannot be updated: its source does not read a single table (%1).").arg(s.source));
    return true;
}

bool writable(RecordsetState& s)
{
    if (s.mode == Mode::Disconnected)
        return true;
    if (s.mode != Mode::Materialised || s.lockType == adLockReadOnly)
        return s.fail(adErrFeatureNotAvailable);
    return true;
}

} // namespace

bool Recordset::AddNew()
{
    auto& s = *d_;
    if (!s.requireOpen() || !writable(s))
        return false;
    if (!settleEdit(*this, s))
        return false;
    s.editMode = adEditAdd;
    s.editValues = QVariantList(static_cast<qsizetype>(s.fields.size()));
    s.changed.assign(s.fields.size(), false);
    s.clearError();
    return true;
}

bool Recordset::CancelUpdate()
{
    auto& s = *d_;
    if (!s.requireOpen())
        return false;
    endEdit(s);
    return true;
}

namespace {

struct WhereClause {
    QString sql;
    QVariantList binds;
    bool unique = false;   // by primary key or rowid: at most one row can match
};

// Locates the current row: primary key, else rowid, else every original value.
bool whereForCurrent(RecordsetState& s, WhereClause& w)
{
    auto& c = *s.conn;
    const QVariantList& row = s.rows[static_cast<size_t>(s.pos)];
    QStringList terms;
    auto addTerm = [&](const FieldInfo& col, const QVariant& v) {
        if (v.isNull()) {
            terms << c.quote(col.name) + QStringLiteral(" IS NULL");
        } else {
            terms << c.quote(col.name) + QStringLiteral(" = ?");
            w.binds << detail::toBindValue(v, col, c.kind);
        }
    };
    if (s.table && !s.table->primaryKey.empty()) {
        bool allPresent = true;
        for (int k : s.table->primaryKey) {
            int fi = -1;
            for (size_t i = 0; i < s.columnOfField.size(); ++i)
                if (s.columnOfField[i] == k)
                    fi = static_cast<int>(i);
            if (fi < 0) {
                allPresent = false;
                break;
            }
            addTerm(s.table->columns[static_cast<size_t>(k)], row[fi]);
        }
        if (allPresent) {
            w.sql = terms.join(QStringLiteral(" AND "));
            w.unique = true;
            return true;
        }
        terms.clear();
        w.binds.clear();
    }
    if (s.useRowId && s.pos < static_cast<long>(s.rowIds.size()) && !s.rowIds[static_cast<size_t>(s.pos)].isNull()) {
        w.sql = QStringLiteral("_rowid_ = ?");
        w.binds << s.rowIds[static_cast<size_t>(s.pos)];
        w.unique = true;
        return true;
    }
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const int col = s.columnOfField[i];
        if (col < 0)
            continue;
        addTerm(s.table->columns[static_cast<size_t>(col)], row[static_cast<qsizetype>(i)]);
    }
    if (terms.isEmpty())
        return s.fail(adErrRowNotLocated);
    w.sql = terms.join(QStringLiteral(" AND "));
    return true;
}

// Runs a prepared write. With check it fails unless exactly one row changed;
// with guard (a row located by values, where more could match) the write is
// undone in that case.
bool runWrite(RecordsetState& s, const QString& sql, const QVariantList& binds, bool check, bool guard,
              QSqlQuery** resultOut = nullptr)
{
    auto& c = *s.conn;
    DataError err;
    auto q = c.statement(sql, &err);
    if (!q) {
        c.errors.Add(err);
        return s.fail(err);
    }
    bool ownTransaction = false;
    QString savepoint;
    QSqlDatabase db = c.db();
    // A guarded write has a savepoint of its own already.
    std::optional<detail::StatementScope> scope;
    if (!guard)
        scope.emplace(c);
    if (guard) {
        detail::enterStatement(c, true);
        if (!c.inTransaction()) {
            ownTransaction = db.transaction();
        } else {
            savepoint = QStringLiteral("mdx_write");
            QSqlQuery(db).exec(QStringLiteral("SAVEPOINT ") + savepoint);
        }
    }
    auto undo = [&] {
        if (ownTransaction)
            db.rollback();
        else if (!savepoint.isEmpty()) {
            QSqlQuery sp(db);
            sp.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + savepoint);
            sp.exec(QStringLiteral("RELEASE SAVEPOINT ") + savepoint);
        }
    };
    for (qsizetype i = 0; i < binds.size(); ++i)
        q->bindValue(static_cast<int>(i), binds[i]);
    if (!q->exec()) {
        const DataError e = c.recordSql(q->lastError(), QString());
        q->finish();
        undo();
        if (scope)
            scope->failed();
        return s.fail(e);
    }
    if (resultOut) {
        *resultOut = q.get();
        return true;   // caller reads the returned row, then finishes
    }
    const int affected = q->numRowsAffected();
    q->finish();
    if (check && affected != 1) {
        undo();
        const DataError e = detail::makeError(adErrRowNotLocated,
                                              affected == 0 ? QString()
                                                            : QStringLiteral("Key column information is insufficient or incorrect. "
                                                                             "Too many rows were affected by update (%1).").arg(affected));
        c.errors.Add(e);
        return s.fail(e);
    }
    if (ownTransaction)
        db.commit();
    else if (!savepoint.isEmpty())
        QSqlQuery(db).exec(QStringLiteral("RELEASE SAVEPOINT ") + savepoint);
    return true;
}

bool supportsReturning(const detail::ConnectionState& c)
{
    return c.kind == ProviderKind::PostgreSQL || c.kind == ProviderKind::SQLite;
}

} // namespace

bool Recordset::Update()
{
    auto& s = *d_;
    if (!s.requireOpen())
        return false;
    if (s.editMode == adEditNone || s.editMode == adEditDelete) {
        s.clearError();
        return true;
    }
    if (!writable(s))
        return false;
    if (s.mode == Mode::Disconnected) {
        if (s.editMode == adEditAdd) {
            s.rows.push_back(s.editValues);
            s.pos = static_cast<long>(s.rows.size()) - 1;
        } else {
            s.rows[static_cast<size_t>(s.pos)] = s.editValues;
        }
        s.currentDeleted = false;
        endEdit(s);
        return true;
    }
    // Connected: write to the base table.
    if (!requireBaseTable(s))
        return false;
    auto& c = *s.conn;
    QStringList cols;
    QVariantList binds;
    for (size_t i = 0; i < s.fields.size(); ++i) {
        if (!s.changed[i])
            continue;
        const int col = s.columnOfField[i];
        if (col < 0)
            return s.fail(adErrFeatureNotAvailable,
                          QStringLiteral("The field \"%1\" is not a column of table \"%2\" and cannot be written.")
                              .arg(s.fields[i].name, s.baseTable));
        const FieldInfo& ci = s.table->columns[static_cast<size_t>(col)];
        cols << c.quote(ci.name);
        binds << detail::toBindValue(s.editValues[static_cast<qsizetype>(i)], ci, c.kind);
    }
    const QString table = c.quote(s.baseTable);
    if (s.editMode == adEditAdd) {
        QString sql = cols.isEmpty()
            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(table, cols.join(u','), QStringList(cols.size(), QStringLiteral("?")).join(u','));
        const bool returning = supportsReturning(c);
        if (returning)
            sql += s.useRowId ? QStringLiteral(" RETURNING _rowid_, *") : QStringLiteral(" RETURNING *");
        QSqlQuery* result = nullptr;
        if (!runWrite(s, sql, binds, false, false, returning ? &result : nullptr))
            return false;
        QVariantList row = s.editValues;
        QVariant rowId;
        if (result) {
            if (result->next()) {
                const int hidden = s.useRowId ? 1 : 0;
                if (hidden)
                    rowId = result->value(0);
                for (size_t i = 0; i < s.fields.size(); ++i) {
                    const int col = s.columnOfField[i];
                    if (col >= 0)
                        row[static_cast<qsizetype>(i)] = detail::normalizeValue(result->value(col + hidden), s.fields[i]);
                }
            }
            result->finish();
        }
        s.rows.push_back(std::move(row));
        if (s.useRowId) {
            s.rowIds.resize(s.rows.size() - 1);
            s.rowIds.push_back(rowId);
        }
        s.pos = static_cast<long>(s.rows.size()) - 1;
    } else {
        if (cols.isEmpty()) {
            s.editMode = adEditNone;
            s.clearError();
            return true;
        }
        WhereClause w;
        if (!whereForCurrent(s, w))
            return false;
        QStringList sets;
        for (const auto& col : cols)
            sets << col + QStringLiteral(" = ?");
        const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(table, sets.join(u','), w.sql);
        if (!runWrite(s, sql, binds + w.binds, true, !w.unique))
            return false;
        s.rows[static_cast<size_t>(s.pos)] = s.editValues;
    }
    endEdit(s);
    return true;
}

bool Recordset::Delete()
{
    auto& s = *d_;
    if (!s.requireOpen() || !writable(s))
        return false;
    if (s.editMode == adEditAdd) {
        // Deleting a row that was never saved just drops it.
        return CancelUpdate();
    }
    if (s.mode == Mode::Streaming || s.currentDeleted || s.pos < 0 || s.pos >= static_cast<long>(s.rows.size()))
        return s.fail(adErrNoCurrentRecord);
    if (s.mode == Mode::Materialised) {
        if (!requireBaseTable(s))
            return false;
        WhereClause w;
        if (!whereForCurrent(s, w)) {
            s.editMode = adEditDelete;
            return false;
        }
        const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2").arg(s.conn->quote(s.baseTable), w.sql);
        if (!runWrite(s, sql, w.binds, true, !w.unique)) {
            s.editMode = adEditDelete;
            return false;
        }
        if (s.useRowId && s.pos < static_cast<long>(s.rowIds.size()))
            s.rowIds.erase(s.rowIds.begin() + s.pos);
    }
    s.rows.erase(s.rows.begin() + s.pos);
    s.currentDeleted = true;
    endEdit(s);
    return true;
}

const DataError& Recordset::lastError() const
{
    return d_->lastError;
}

// ---------------------------------------------------------------------------
// Field

QString Field::Name() const { return d_ ? info().name : QString(); }
int Field::Type() const { return d_ ? info().type : adEmpty; }
long Field::DefinedSize() const { return d_ ? info().definedSize : 0; }
long Field::Attributes() const { return d_ ? info().attributes() : 0; }
int Field::Precision() const { return d_ ? info().precision : 0; }
int Field::NumericScale() const { return d_ ? info().numericScale : 0; }

const FieldInfo& Field::info() const
{
    static const FieldInfo none;
    if (!d_ || index_ < 0 || index_ >= static_cast<int>(d_->fields.size()))
        return none;
    return d_->fields[static_cast<size_t>(index_)];
}

long Field::ActualSize() const
{
    const QVariant v = Value();
    if (v.isNull())
        return 0;
    if (v.typeId() == QMetaType::QByteArray)
        return static_cast<long>(v.toByteArray().size());
    if (isTextType(Type()))
        return static_cast<long>(v.toString().size());
    return DefinedSize();
}

QVariant Field::Value() const
{
    if (!d_)
        return {};
    auto& s = *d_;
    if (!s.requireOpen())
        return {};
    const QVariantList* row = s.currentRow();
    if (!row || index_ >= row->size()) {
        s.fail(adErrNoCurrentRecord);
        return {};
    }
    s.clearError();
    return (*row)[index_];
}

QVariant Field::OriginalValue() const
{
    if (!d_)
        return {};
    auto& s = *d_;
    if (s.editMode == adEditAdd)
        return {};
    if (!s.hasCurrent()) {
        s.fail(adErrNoCurrentRecord);
        return {};
    }
    const QVariantList& row = s.mode == Mode::Streaming ? s.current : s.rows[static_cast<size_t>(s.pos)];
    return row[index_];
}

bool Field::setValue(const QVariant& value)
{
    if (!d_)
        return false;
    auto& s = *d_;
    if (!s.requireOpen() || !writable(s))
        return false;
    if (!s.hasCurrent())
        return s.fail(adErrNoCurrentRecord);
    const FieldInfo& f = info();
    QVariant converted;
    QString why;
    if (!convertToFieldType(value, f, converted, &why))
        return s.fail(adErrMultipleStep, why);
    if (s.mode == Mode::Disconnected)
        converted = detail::padFixed(converted, f);
    if (s.editMode == adEditNone || s.editMode == adEditDelete) {
        const QVariantList& row = s.rows[static_cast<size_t>(s.pos)];
        // Assigning the value a field already holds starts no edit.
        if (sameValue(row[index_], converted)) {
            s.clearError();
            return true;
        }
        s.editMode = adEditInProgress;
        s.editValues = row;
        s.changed.assign(s.fields.size(), false);
    }
    s.editValues[index_] = converted;
    s.changed[static_cast<size_t>(index_)] = true;
    s.clearError();
    return true;
}

} // namespace ado
