#include "data/Connection.h"

#include "data/RowSpool.h"
#include "data/StatePrivate.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sqlite3.h>

namespace ado {

namespace detail {

namespace {

constexpr long kNoTransaction = -2147168242;   // XACT_E_NOTRANSACTION

} // namespace

sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    if (!db.driver())
        return nullptr;
    const QVariant v = db.driver()->handle();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(v.data());
    return nullptr;
}

namespace {

void setText(FieldInfo& f, int type, long size, bool fixed)
{
    f.type = type;
    f.fixedLength = fixed;
    if (size <= 0) {
        f.isLong = true;
        f.type = (type == adChar || type == adVarChar || type == adLongVarChar) ? adLongVarChar : adLongVarWChar;
        f.definedSize = 1073741823;
        f.fixedLength = false;
    } else {
        f.definedSize = size;
    }
}

// Declared column type of SQLite -> ADO type.
void fromSqliteDecl(const QString& decl, FieldInfo& f)
{
    const QString u = decl.trimmed().toUpper();
    static const QRegularExpression args(QStringLiteral(R"re(\(\s*(\d+)\s*(?:,\s*(\d+)\s*)?\))re"));
    const auto m = args.match(u);
    const long n1 = m.hasMatch() ? m.captured(1).toLong() : 0;
    const int n2 = m.hasMatch() && !m.captured(2).isEmpty() ? m.captured(2).toInt() : 0;
    QString base = m.hasMatch() ? u.left(m.capturedStart()).trimmed() : u;
    auto has = [&](const char* s) { return base.contains(QLatin1String(s)); };
    auto is = [&](const char* s) { return base == QLatin1String(s); };
    f.isLong = false;
    f.fixedLength = false;
    if (base.isEmpty()) {
        f.type = adVariant;
        f.definedSize = 16;
    } else if (is("BIGINT") || is("INT8") || is("UNSIGNED BIG INT")) {
        f.type = adBigInt; f.definedSize = 8;
    } else if (is("SMALLINT") || is("INT2")) {
        f.type = adSmallInt; f.definedSize = 2;
    } else if (is("TINYINT")) {
        f.type = adUnsignedTinyInt; f.definedSize = 1;
    } else if (is("BOOLEAN") || is("BOOL") || is("BIT") || is("LOGICAL") || is("YESNO")) {
        f.type = adBoolean; f.definedSize = 2;
    } else if (has("INT")) {
        f.type = adInteger; f.definedSize = 4;
    } else if (is("DECIMAL") || is("DEC")) {
        f.type = adDecimal; f.precision = n1 > 0 ? static_cast<int>(n1) : 18; f.numericScale = n2; f.definedSize = 19;
    } else if (is("NUMERIC") || is("NUMBER")) {
        f.type = adNumeric; f.precision = n1 > 0 ? static_cast<int>(n1) : 18; f.numericScale = n2; f.definedSize = 19;
    } else if (is("MONEY") || is("CURRENCY") || is("SMALLMONEY")) {
        f.type = adCurrency; f.definedSize = 8;
    } else if (is("REAL") && false) {
        f.type = adSingle;
    } else if (is("SINGLE") || is("FLOAT4")) {
        f.type = adSingle; f.definedSize = 4;
    } else if (has("DOUB") || has("FLOA") || has("REAL")) {
        f.type = adDouble; f.definedSize = 8;
    } else if (is("DATETIME") || is("TIMESTAMP") || is("SMALLDATETIME") || is("DATETIME2")) {
        f.type = adDBTimeStamp; f.definedSize = 16;
    } else if (is("DATE")) {
        f.type = adDBDate; f.definedSize = 6;
    } else if (is("TIME")) {
        f.type = adDBTime; f.definedSize = 6;
    } else if (is("GUID") || is("UUID") || is("UNIQUEIDENTIFIER")) {
        f.type = adGUID; f.definedSize = 16;
    } else if (is("CHAR") || is("NCHAR") || is("CHARACTER") || is("NATIONAL CHARACTER") || is("NATIVE CHARACTER")) {
        setText(f, adWChar, n1 > 0 ? n1 : 1, true);
    } else if (has("CHAR")) {   // VARCHAR, NVARCHAR, VARYING CHARACTER
        setText(f, adVarWChar, n1, false);
    } else if (has("CLOB") || has("TEXT") || is("MEMO") || is("STRING")) {
        setText(f, adLongVarWChar, 0, false);
    } else if (is("BINARY")) {
        f.type = n1 > 0 ? adBinary : adLongVarBinary; f.definedSize = n1 > 0 ? n1 : 1073741823;
        f.fixedLength = n1 > 0; f.isLong = n1 <= 0;
    } else if (is("VARBINARY")) {
        f.type = n1 > 0 ? adVarBinary : adLongVarBinary; f.definedSize = n1 > 0 ? n1 : 1073741823; f.isLong = n1 <= 0;
    } else if (has("BLOB") || is("IMAGE") || is("BYTEA")) {
        f.type = adLongVarBinary; f.definedSize = 1073741823; f.isLong = true;
    } else {
        // SQLite's NUMERIC affinity.
        f.type = adNumeric; f.precision = 18; f.definedSize = 19;
    }
}

// Type of an SQLite result column without a declared type.
void fromMetaType(int metaType, FieldInfo& f)
{
    switch (metaType) {
    case QMetaType::Int: case QMetaType::LongLong: case QMetaType::UInt: case QMetaType::ULongLong:
        f.type = adBigInt; f.definedSize = 8; break;
    case QMetaType::Double:
        f.type = adDouble; f.definedSize = 8; break;
    case QMetaType::Bool:
        f.type = adBoolean; f.definedSize = 2; break;
    case QMetaType::QByteArray:
        f.type = adLongVarBinary; f.definedSize = 1073741823; f.isLong = true; break;
    case QMetaType::QDateTime:
        f.type = adDBTimeStamp; f.definedSize = 16; break;
    case QMetaType::QDate:
        f.type = adDBDate; f.definedSize = 6; break;
    default:
        setText(f, adVarWChar, 255, false); break;
    }
}

// PostgreSQL type oid (+ length and precision as Qt or typmod give them).
void fromPgType(int oid, long length, int precOrScale, FieldInfo& f)
{
    switch (oid) {
    case 16: f.type = adBoolean; f.definedSize = 2; break;
    case 17: f.type = adLongVarBinary; f.definedSize = 1073741823; f.isLong = true; break;
    case 18: setText(f, adChar, 1, true); break;
    case 19: setText(f, adVarWChar, 63, false); break;
    case 20: f.type = adBigInt; f.definedSize = 8; break;
    case 21: f.type = adSmallInt; f.definedSize = 2; break;
    case 23: f.type = adInteger; f.definedSize = 4; break;
    case 26: f.type = adUnsignedInt; f.definedSize = 4; break;
    case 700: f.type = adSingle; f.definedSize = 4; break;
    case 701: f.type = adDouble; f.definedSize = 8; break;
    case 790: f.type = adCurrency; f.definedSize = 8; break;
    case 1042: setText(f, adWChar, length > 0 ? length : 1, true); break;
    case 1043: setText(f, adVarWChar, length, false); break;
    case 1082: f.type = adDBDate; f.definedSize = 6; break;
    case 1083: case 1266: f.type = adDBTime; f.definedSize = 6; break;
    case 1114: case 1184: f.type = adDBTimeStamp; f.definedSize = 16; break;
    case 1700:
        f.type = adNumeric; f.definedSize = 19;
        f.precision = length > 0 ? static_cast<int>(length) : 0;
        f.numericScale = precOrScale > 0 ? precOrScale : 0;
        break;
    case 2950: f.type = adGUID; f.definedSize = 16; break;
    default: setText(f, adLongVarWChar, 0, false); break;   // text, json, xml ...
    }
}

// ODBC SQL type -> ADO type.
void fromOdbcType(int sqlType, long length, int precision, FieldInfo& f)
{
    switch (sqlType) {
    case 1: setText(f, adChar, length, true); break;
    case 12: setText(f, adVarChar, length, false); break;
    case -1: setText(f, adLongVarChar, 0, false); break;
    case -8: setText(f, adWChar, length, true); break;
    case -9: setText(f, adVarWChar, length, false); break;
    case -10: setText(f, adLongVarWChar, 0, false); break;
    case 2: f.type = adNumeric; f.definedSize = 19; f.precision = static_cast<int>(length); f.numericScale = std::max(0, precision); break;
    case 3: f.type = adDecimal; f.definedSize = 19; f.precision = static_cast<int>(length); f.numericScale = std::max(0, precision); break;
    case 4: f.type = adInteger; f.definedSize = 4; break;
    case 5: f.type = adSmallInt; f.definedSize = 2; break;
    case 6: case 8: f.type = adDouble; f.definedSize = 8; break;
    case 7: f.type = adSingle; f.definedSize = 4; break;
    case -5: f.type = adBigInt; f.definedSize = 8; break;
    case -6: f.type = adTinyInt; f.definedSize = 1; break;
    case -7: f.type = adBoolean; f.definedSize = 2; break;
    case 9: case 91: f.type = adDBDate; f.definedSize = 6; break;
    case 10: case 92: f.type = adDBTime; f.definedSize = 6; break;
    case 11: case 93: f.type = adDBTimeStamp; f.definedSize = 16; break;
    case -2: f.type = adBinary; f.definedSize = length; f.fixedLength = true; break;
    case -3: f.type = length > 0 ? adVarBinary : adLongVarBinary; f.definedSize = length > 0 ? length : 1073741823; break;
    case -4: f.type = adLongVarBinary; f.definedSize = 1073741823; f.isLong = true; break;
    case -11: f.type = adGUID; f.definedSize = 16; break;
    default: setText(f, adVarWChar, length > 0 ? length : 255, false); break;
    }
}

FieldInfo fromQtField(const QSqlField& qf, ProviderKind kind)
{
    FieldInfo f;
    f.name = qf.name();
    f.baseTable = qf.tableName();
    f.nullable = qf.requiredStatus() != QSqlField::Required;
    f.autoIncrement = qf.isAutoValue();
    const long length = qf.length();
    const int precision = qf.precision();
    switch (kind) {
    case ProviderKind::PostgreSQL:
        fromPgType(qf.typeID(), length, precision, f);
        break;
    case ProviderKind::ODBC:
        fromOdbcType(qf.typeID(), length, precision, f);
        break;
    default:
        fromMetaType(qf.metaType().id(), f);
        break;
    }
    return f;
}

// Fields of an SQLite statement from its compiled form (no row is read).
std::optional<std::vector<FieldInfo>> sqliteFields(sqlite3* h, const QString& sql, QString* error)
{
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(h, utf8.constData(), static_cast<int>(utf8.size()), &st, nullptr) != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(h));
        sqlite3_finalize(st);
        return std::nullopt;
    }
    std::vector<FieldInfo> out;
    const int n = st ? sqlite3_column_count(st) : 0;
    for (int i = 0; i < n; ++i) {
        FieldInfo f;
        f.name = QString::fromUtf8(sqlite3_column_name(st, i));
        const char* decl = sqlite3_column_decltype(st, i);
        if (decl)
            fromSqliteDecl(QString::fromUtf8(decl), f);
        else
            setText(f, adVarWChar, 255, false), f.type = adVariant, f.definedSize = 16;
        if (const char* t = sqlite3_column_table_name(st, i))
            f.baseTable = QString::fromUtf8(t);
        if (const char* c = sqlite3_column_origin_name(st, i))
            f.baseColumn = QString::fromUtf8(c);
        out.push_back(std::move(f));
    }
    sqlite3_finalize(st);
    return out;
}

QString unbracket(QString s)
{
    s = s.trimmed();
    if (s.size() >= 2 && ((s.front() == u'[' && s.back() == u']') || (s.front() == u'`' && s.back() == u'`')))
        return s.mid(1, s.size() - 2);
    if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"')
        return s.mid(1, s.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    return s;
}

QAtomicInteger<quint64> g_connectionCounter;

} // namespace

DataError sqlError(const QSqlError& e, const QString& context, const QString& source)
{
    DataError err;
    err.Number = adErrProviderFailure;
    QString text = e.databaseText().trimmed();
    const QString driver = e.driverText().trimmed();
    if (text.isEmpty())
        text = driver;
    else if (!driver.isEmpty() && !text.contains(driver) && e.type() == QSqlError::ConnectionError)
        text = driver + QStringLiteral(": ") + text;
    if (text.isEmpty())
        text = QStringLiteral("Unspecified database error.");
    err.Description = context.isEmpty() ? text : context + QStringLiteral(": ") + text;
    err.Source = source;
    err.SQLState = e.nativeErrorCode();
    err.NativeError = e.nativeErrorCode().toLong();
    return err;
}

std::vector<FieldInfo> fieldsOfQuery(ConnectionState& c, const QSqlQuery& q, const QString& sql)
{
    const QSqlRecord rec = q.record();
    std::vector<FieldInfo> out;
    if (c.kind == ProviderKind::SQLite) {
        if (sqlite3* h = sqliteHandle(c.db())) {
            auto f = sqliteFields(h, sql, nullptr);
            if (f && static_cast<int>(f->size()) == rec.count()) {
                for (int i = 0; i < rec.count(); ++i) {
                    FieldInfo& fi = (*f)[static_cast<size_t>(i)];
                    if (fi.type == adVariant)
                        fromMetaType(rec.field(i).metaType().id(), fi);
                }
                return std::move(*f);
            }
        }
    }
    for (int i = 0; i < rec.count(); ++i)
        out.push_back(fromQtField(rec.field(i), c.kind));
    return out;
}

ConnectionState::~ConnectionState()
{
    close();
}

void ConnectionState::close()
{
    // Work of a run's commit group is kept, as each statement's would be.
    if (groupOpen && group)
        group->commitOne(*this);
    dropRawStatements();
    statements.clear();
    schemaCache.clear();
    control.reset();
    // A query that outlives the connection would read through a removed
    // driver: leave it empty (it then reports no rows).
    for (const auto& w : liveQueries)
        if (auto q = w.lock())
            *q = QSqlQuery();
    liveQueries.clear();
    for (const auto& w : liveCursors)
        if (auto c = w.lock())
            c->release();
    liveCursors.clear();
    if (!qtName.isEmpty()) {
        {
            QSqlDatabase d = QSqlDatabase::database(qtName, false);
            if (d.isOpen() && transLevel > 0)
                d.rollback();
            d.close();
        }
        QSqlDatabase::removeDatabase(qtName);
        qtName.clear();
    }
    open = false;
    sqlite = nullptr;
    transLevel = 0;
}

void SqliteCursor::release()
{
    sqlite3_finalize(stmt);
    stmt = nullptr;
}

void ConnectionState::track(const std::shared_ptr<SqliteCursor>& c)
{
    std::erase_if(liveCursors, [](const std::weak_ptr<SqliteCursor>& w) { return w.expired(); });
    liveCursors.push_back(c);
}

QVariant sqliteValue(sqlite3_stmt* st, int i)
{
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
        return QVariant::fromValue<qlonglong>(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(st, i);
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_BLOB: {
        // A zero-length BLOB comes without a pointer; it is an empty value,
        // not a null one (a null byte array is written as Null).
        const void* p = sqlite3_column_blob(st, i);
        if (!p)
            return QByteArray("", 0);
        return QByteArray(static_cast<const char*>(p), sqlite3_column_bytes(st, i));
    }
    default: {
        // UTF-8 as stored: converting here is cheaper than SQLite's UTF-16.
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        return QString::fromUtf8(p, sqlite3_column_bytes(st, i));
    }
    }
}

namespace {

// A column of the current row brought to the field's representation, handed
// to out as the kind of value it is. Only where normalizeValue would give
// exactly this; everything else (ranges it rejects, text to be parsed,
// numbers to be written) takes the full conversion.
//
// The column is read through its value once rather than through a call per
// question: each of those takes the connection's mutex. Nothing else uses
// the connection meanwhile (a connection belongs to one thread).
template <class Out>
auto sqliteFieldTo(sqlite3_stmt* st, int i, const FieldInfo& field, Out& out)
{
    const int t = field.type;
    sqlite3_value* const value = sqlite3_column_value(st, i);
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        return out.null();
    case SQLITE_INTEGER: {
        const qint64 n = sqlite3_value_int64(value);
        auto within = [n](qint64 lo, qint64 hi) { return n >= lo && n <= hi; };
        switch (t) {
        case adBigInt: return out.longLong(n);
        case adInteger:
            if (within(std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()))
                return out.integer(int(n));
            break;
        case adSmallInt: if (within(-32768, 32767)) return out.integer(int(n)); break;
        case adUnsignedTinyInt: if (within(0, 255)) return out.integer(int(n)); break;
        case adDouble: return out.real(double(n));
        // A whole number is its own decimal (normalizeValue checks no precision).
        case adDecimal: case adNumeric: return out.longLong(n);
        default: break;
        }
        break;
    }
    case SQLITE_FLOAT: {
        const double d = sqlite3_value_double(value);
        if (t == adDouble && std::isfinite(d))
            return out.real(d);
        break;
    }
    case SQLITE_TEXT:
        // Text to a text field is kept as it is (normalizeValue checks no length).
        if (isTextType(t)) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(value));
            return out.utf8(p, sqlite3_value_bytes(value));
        }
        break;
    default:
        break;
    }
    return out.other(normalizeValue(sqliteValue(st, i), field));
}

struct ToVariant {
    QVariant null() { return QVariant(); }
    QVariant longLong(qint64 n) { return QVariant(qlonglong(n)); }
    QVariant integer(int n) { return QVariant(n); }
    QVariant real(double d) { return QVariant(d); }
    QVariant utf8(const char* p, int n)
    {
        // Decoded straight into the text's own room where that gives what
        // QString::fromUtf8 gives (one allocation, no second pass).
        if (p && n > 0) {
            QString s(n, Qt::Uninitialized);
            if (const qsizetype units = utf8ToUtf16(p, n, reinterpret_cast<char*>(s.data())); units >= 0) {
                s.truncate(units);
                return s;
            }
        }
        return QString::fromUtf8(p, n);
    }
    QVariant other(QVariant v) { return v; }
};

struct ToSpool {
    RowSpool& spool;
    bool null() { spool.putNull(); return true; }
    bool longLong(qint64 n) { spool.putLongLong(n); return true; }
    bool integer(int n) { spool.putInt(n); return true; }
    bool real(double d) { spool.putDouble(d); return true; }
    bool utf8(const char* p, int n) { spool.putUtf8(p, n); return true; }
    bool other(const QVariant& v) { return spool.putValue(v); }
};

} // namespace

QVariant sqliteFieldValue(sqlite3_stmt* st, int i, const FieldInfo& field)
{
    ToVariant out;
    return sqliteFieldTo(st, i, field, out);
}

bool spoolSqliteRow(RowSpool& spool, sqlite3_stmt* st, const std::vector<FieldInfo>& fields)
{
    ToSpool out{spool};
    spool.beginRow(quint32(fields.size()));
    for (size_t i = 0; i < fields.size(); ++i)
        if (!sqliteFieldTo(st, int(i), fields[i], out)) {
            spool.endRow();
            return false;
        }
    return spool.endRow();
}

std::vector<FieldInfo> sqliteStatementFields(sqlite3_stmt* st, bool hasRow)
{
    std::vector<FieldInfo> out;
    const int n = sqlite3_column_count(st);
    for (int i = 0; i < n; ++i) {
        FieldInfo f;
        f.name = QString::fromUtf8(sqlite3_column_name(st, i));
        if (const char* decl = sqlite3_column_decltype(st, i)) {
            fromSqliteDecl(QString::fromUtf8(decl), f);
        } else {
            // Typed by the first row's value, as the Qt driver types it.
            int meta = QMetaType::UnknownType;
            switch (hasRow ? sqlite3_column_type(st, i) : SQLITE_NULL) {
            case SQLITE_INTEGER: meta = QMetaType::LongLong; break;
            case SQLITE_FLOAT: meta = QMetaType::Double; break;
            case SQLITE_BLOB: meta = QMetaType::QByteArray; break;
            case SQLITE_TEXT: meta = QMetaType::QString; break;
            default: break;
            }
            fromMetaType(meta, f);
        }
        if (const char* t = sqlite3_column_table_name(st, i))
            f.baseTable = QString::fromUtf8(t);
        if (const char* c = sqlite3_column_origin_name(st, i))
            f.baseColumn = QString::fromUtf8(c);
        out.push_back(std::move(f));
    }
    return out;
}

void ConnectionState::track(const std::shared_ptr<QSqlQuery>& q)
{
    std::erase_if(liveQueries, [](const std::weak_ptr<QSqlQuery>& w) { return w.expired(); });
    liveQueries.push_back(q);
}

bool ConnectionState::controlExec(const QString& sql)
{
    if (!control)
        control = std::make_unique<QSqlQuery>(db());
    const bool ok = control->exec(sql);
    control->finish();
    return ok;
}

StatementScope::StatementScope(ConnectionState& c, bool writes, bool sqliteSavepoint) : c_(c)
{
    enterStatement(c_, writes);
    if (!c_.open || !c_.inTransaction())
        return;
    if (c_.kind == ProviderKind::PostgreSQL)
        active_ = c_.controlExec(QStringLiteral("SAVEPOINT mdx_statement"));
    else if (sqliteSavepoint && c_.sqlite)
        active_ = sqlite3_exec(c_.sqlite, "SAVEPOINT mdx_statement", nullptr, nullptr, nullptr) == SQLITE_OK;
}

StatementScope::~StatementScope()
{
    if (!active_ || !c_.open)
        return;
    if (c_.sqlite) {
        if (!sqlite3_get_autocommit(c_.sqlite))
            sqlite3_exec(c_.sqlite, "RELEASE SAVEPOINT mdx_statement", nullptr, nullptr, nullptr);
        return;
    }
    c_.controlExec(QStringLiteral("RELEASE SAVEPOINT mdx_statement"));
}

void StatementScope::failed(const QString& sqlState)
{
    if (active_ && c_.open) {
        if (!c_.sqlite)
            c_.controlExec(QStringLiteral("ROLLBACK TO SAVEPOINT mdx_statement"));
        else if (!sqlite3_get_autocommit(c_.sqlite))
            sqlite3_exec(c_.sqlite, "ROLLBACK TO SAVEPOINT mdx_statement", nullptr, nullptr, nullptr);
    }
    if (!c_.groupOpen || !c_.group)
        return;
    // SQLite undoes only the failed statement, except for a few failures
    // (disk full, I/O, a ROLLBACK from a constraint or a trigger) that end
    // the whole transaction: a commit group must hear of that.
    if (c_.sqlite && sqlite3_get_autocommit(c_.sqlite))
        c_.group->lostBy(c_);
    // A deadlock or serialization failure is the group's doing (its
    // transaction holds the locks of earlier records): with a commit per
    // record it would not have happened. A record committed on its own that
    // meets one (another run's group holds its rows) is tried again.
    else if ((!c_.group->perRecord || c_.group->retryConflicts) && (sqlState == u"40P01" || sqlState == u"40001"))
        c_.group->conflict(makeError(adErrProviderFailure, QStringLiteral("A deadlock undid the open transaction.")));
}

DataError ConnectionState::record(long number, const QString& description)
{
    DataError e = makeError(number, description);
    errors.Add(e);
    return e;
}

DataError ConnectionState::recordSql(const QSqlError& e, const QString& context)
{
    DataError err = sqlError(e, context, db().driverName());
    errors.Add(err);
    return err;
}

std::shared_ptr<QSqlQuery> ConnectionState::statement(const QString& sql, DataError* error)
{
    if (auto it = statements.find(sql); it != statements.end())
        return it.value();
    if (statements.size() > 256)
        statements.clear();
    auto q = std::make_shared<QSqlQuery>(db());
    q->setForwardOnly(kind != ProviderKind::PostgreSQL);
    q->setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!q->prepare(sql)) {
        if (error)
            *error = sqlError(q->lastError(), QString(), db().driverName());
        return nullptr;
    }
    statements.insert(sql, q);
    return q;
}

sqlite3_stmt* ConnectionState::rawStatement(const QString& sql, DataError* error)
{
    if (auto it = rawStatements.find(sql); it != rawStatements.end())
        return it.value();
    if (!sqlite)
        return nullptr;
    if (rawStatements.size() > 256)
        dropRawStatements();
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(sqlite, utf8.constData(), static_cast<int>(utf8.size()), &st, nullptr) != SQLITE_OK) {
        if (error) {
            *error = makeError(adErrProviderFailure, QString::fromUtf8(sqlite3_errmsg(sqlite)), QStringLiteral("QSQLITE"));
            error->NativeError = sqlite3_extended_errcode(sqlite);
            error->SQLState = QString::number(error->NativeError);
        }
        sqlite3_finalize(st);
        return nullptr;
    }
    rawStatements.insert(sql, st);
    return st;
}

void ConnectionState::dropRawStatements()
{
    for (sqlite3_stmt* st : std::as_const(rawStatements))
        sqlite3_finalize(st);
    rawStatements.clear();
    ++rawEpoch;
}

QString ConnectionState::quote(const QString& identifier) const
{
    auto q1 = [](const QString& part) { return u'"' + QString(part).replace(u'"', QStringLiteral("\"\"")) + u'"'; };
    const QString id = identifier.trimmed();
    if (id.size() >= 2 && id.front() == u'"' && id.back() == u'"')
        return id;   // already quoted
    QStringList parts;
    if (kind == ProviderKind::PostgreSQL && !id.startsWith(u'[')) {
        parts = id.split(u'.');
    } else {
        const qsizetype dot = id.indexOf(u'.');
        const QString first = dot > 0 ? id.left(dot).toLower() : QString();
        if (kind == ProviderKind::SQLite && (first == u"main" || first == u"temp"))
            parts = QStringList{id.left(dot), id.mid(dot + 1)};
        else
            parts = QStringList{id};
    }
    for (auto& p : parts)
        p = q1(unbracket(p));
    return parts.join(u'.');
}

std::optional<TableSchema> ConnectionState::tableSchema(const QString& table, DataError* error)
{
    const QString key = table.trimmed().toLower();
    if (auto it = schemaCache.find(key); it != schemaCache.end())
        return it.value();
    auto notFound = [&](const QString& why) -> std::optional<TableSchema> {
        if (error)
            *error = makeError(adErrProviderFailure, why.isEmpty() ? QStringLiteral("The table \"%1\" does not exist.").arg(table) : why);
        return std::nullopt;
    };
    if (!open)
        return notFound(describeStandardError(adErrObjectClosed));
    TableSchema ts;
    ts.name = table;
    QSqlDatabase d = db();
    // The catalogues list columns in table order, each with its place in the
    // primary key (0 when outside it); the key is kept in key order.
    std::vector<std::pair<int, int>> keyOrder;   // (pk order, column)
    auto addColumn = [&](FieldInfo f, int pkOrder) {
        f.baseTable = table;
        f.baseColumn = f.name;
        if (pkOrder > 0) {
            f.keyColumn = true;
            keyOrder.emplace_back(pkOrder, static_cast<int>(ts.columns.size()));
        }
        ts.columns.push_back(std::move(f));
    };
    // False when the catalogue listed no column: the table does not exist.
    auto finishColumns = [&] {
        if (ts.columns.empty())
            return false;
        std::sort(keyOrder.begin(), keyOrder.end());
        for (const auto& p : keyOrder)
            ts.primaryKey.push_back(p.second);
        return true;
    };
    if (kind == ProviderKind::SQLite) {
        QSqlQuery q(d);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quote(table))))
            return notFound(sqlError(q.lastError(), QString(), d.driverName()).Description);
        while (q.next()) {
            FieldInfo f;
            f.name = q.value(1).toString();
            fromSqliteDecl(q.value(2).toString(), f);
            if (f.type == adVariant)
                setText(f, adLongVarWChar, 0, false);
            f.nullable = q.value(3).toInt() == 0;
            addColumn(std::move(f), q.value(5).toInt());
        }
        if (!finishColumns())
            return notFound(QString());
        QSqlQuery m(d);
        m.prepare(QStringLiteral("SELECT type, sql FROM sqlite_master WHERE name = ? COLLATE NOCASE "
                                 "UNION ALL SELECT type, sql FROM sqlite_temp_master WHERE name = ? COLLATE NOCASE"));
        const QString bare = unbracket(table.contains(u'.') && table.section(u'.', 0, 0).toLower() == u"main"
                                           ? table.section(u'.', 1) : table);
        m.addBindValue(bare);
        m.addBindValue(bare);
        if (m.exec() && m.next()) {
            const bool isTable = m.value(0).toString() == u"table";
            const QString ddl = m.value(1).toString();
            ts.hasRowId = isTable && !ddl.contains(QRegularExpression(QStringLiteral(R"re(\bWITHOUT\s+ROWID\b)re"),
                                                                      QRegularExpression::CaseInsensitiveOption));
            if (ts.primaryKey.size() == 1 && ts.hasRowId) {
                FieldInfo& k = ts.columns[static_cast<size_t>(ts.primaryKey.front())];
                if (k.type == adInteger && ddl.contains(QRegularExpression(QStringLiteral(R"re(\bINTEGER\b)re"), QRegularExpression::CaseInsensitiveOption)))
                    k.autoIncrement = true;
            }
        }
    } else if (kind == ProviderKind::PostgreSQL) {
        QSqlQuery q(d);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral(
            "SELECT a.attname, a.atttypid::int, a.atttypmod, a.attnotnull, "
            "COALESCE(pg_get_expr(ad.adbin, ad.adrelid) LIKE 'nextval(%%', false) OR a.attidentity <> '', "
            // indkey is numbered from 0: its ordinality gives the key order.
            "COALESCE((SELECT k.n FROM unnest(i.indkey) WITH ORDINALITY AS k(att, n) WHERE k.att = a.attnum), 0) "
            "FROM pg_attribute a "
            "LEFT JOIN pg_attrdef ad ON ad.adrelid = a.attrelid AND ad.adnum = a.attnum "
            "LEFT JOIN pg_index i ON i.indrelid = a.attrelid AND i.indisprimary "
            "WHERE a.attrelid = to_regclass(?)::oid AND a.attnum > 0 AND NOT a.attisdropped "
            "ORDER BY a.attnum"));
        q.addBindValue(quote(table));
        if (!q.exec())
            return notFound(sqlError(q.lastError(), QString(), d.driverName()).Description);
        while (q.next()) {
            FieldInfo f;
            f.name = q.value(0).toString();
            const int oid = q.value(1).toInt();
            const int typmod = q.value(2).toInt();
            long length = -1;
            int scale = 0;
            if (oid == 1700 && typmod >= 4) {
                length = (typmod - 4) >> 16;
                scale = (typmod - 4) & 0xffff;
            } else if ((oid == 1042 || oid == 1043) && typmod >= 4) {
                length = typmod - 4;
            }
            fromPgType(oid, length, scale, f);
            f.nullable = !q.value(3).toBool();
            f.autoIncrement = q.value(4).toBool();
            addColumn(std::move(f), q.value(5).toInt());
        }
        if (!finishColumns())
            return notFound(QString());
    } else {
        const QString bare = unbracket(table);
        const QSqlRecord rec = d.record(bare);
        if (rec.isEmpty())
            return notFound(QString());
        const QSqlIndex pk = d.primaryIndex(bare);
        for (int i = 0; i < rec.count(); ++i) {
            FieldInfo f = fromQtField(rec.field(i), kind);
            f.baseTable = table;
            f.baseColumn = f.name;
            if (pk.contains(f.name)) {
                f.keyColumn = true;
            }
            ts.columns.push_back(std::move(f));
        }
        for (int i = 0; i < pk.count(); ++i) {
            const int col = ts.indexOf(pk.fieldName(i));
            if (col >= 0)
                ts.primaryKey.push_back(col);
        }
    }
    schemaCache.insert(key, ts);
    return ts;
}

std::optional<std::vector<FieldInfo>> ConnectionState::queryFields(const QString& sql, DataError* error)
{
    QString body = sql.trimmed();
    while (body.endsWith(u';'))
        body.chop(1);
    if (kind == ProviderKind::SQLite) {
        if (sqlite3* h = sqliteHandle(db())) {
            QString why;
            auto f = sqliteFields(h, body, &why);
            if (!f && error)
                *error = makeError(adErrProviderFailure, why, db().driverName());
            if (f)
                for (auto& fi : *f)
                    if (fi.type == adVariant)
                        setText(fi, adVarWChar, 255, false);
            return f;
        }
    }
    QSqlQuery q(db());
    q.setForwardOnly(true);
    // The line break ends a trailing "--" comment of the query.
    const QString wrapped = QStringLiteral("SELECT * FROM (%1\n) mdx_fields WHERE 1 = 0").arg(body);
    StatementScope scope(*this, false);
    if (!q.exec(wrapped)) {
        scope.failed();
        if (error)
            *error = sqlError(q.lastError(), QString(), db().driverName());
        return std::nullopt;
    }
    return fieldsOfQuery(*this, q, wrapped);
}

} // namespace detail

// ---------------------------------------------------------------------------

int TableSchema::indexOf(const QString& column) const
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(column, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

Connection::Connection() : d_(std::make_shared<detail::ConnectionState>()) {}
Connection::~Connection() = default;
Connection::Connection(const Connection&) = default;
Connection& Connection::operator=(const Connection&) = default;
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;

QString Connection::ConnectionString() const { return d_->connectionString; }

void Connection::setConnectionString(const QString& text)
{
    if (d_->open) {
        d_->record(adErrObjectOpen, QString());
        return;
    }
    d_->connectionString = text;
}

void Connection::setCreateIfMissing(bool create) { d_->createIfMissing = create; }

bool Connection::Open(const QString& connectionString, const QString& userId, const QString& password)
{
    auto& c = *d_;
    if (c.open) {
        c.record(adErrObjectOpen, QString());
        return false;
    }
    if (!connectionString.isEmpty())
        c.connectionString = connectionString;
    QString parseError;
    const auto cs = ado::ConnectionString::parse(c.connectionString, &parseError);
    if (!cs) {
        c.record(adErrInvalidArgument, parseError);
        return false;
    }
    c.providerName = cs->provider().isEmpty() ? QStringLiteral("SQLite") : cs->provider();
    c.kind = cs->providerKind();
    QString driver;
    switch (c.kind) {
    case ProviderKind::SQLite: driver = QStringLiteral("QSQLITE"); break;
    case ProviderKind::PostgreSQL: driver = QStringLiteral("QPSQL"); break;
    case ProviderKind::ODBC: driver = QStringLiteral("QODBC"); break;
    case ProviderKind::Persist:
        c.record(adErrProviderNotFound, QStringLiteral("Provider \"%1\" opens persisted recordset files only; "
                                                       "it cannot be used for a connection.").arg(c.providerName));
        return false;
    case ProviderKind::Unknown:
        c.record(adErrProviderNotFound, QStringLiteral("Provider cannot be found. It may not be properly installed. (\"%1\")")
                                            .arg(c.providerName));
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        c.record(adErrProviderNotFound, QStringLiteral("Provider cannot be found. It may not be properly installed. "
                                                       "(\"%1\": the Qt driver %2 is missing)").arg(c.providerName, driver));
        return false;
    }

    const QString name = QStringLiteral("meridox-data-%1").arg(++detail::g_connectionCounter);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
        QString options;
        if (c.kind == ProviderKind::SQLite) {
            const QString path = cs->value({"Data Source", "DataSource", "Database", "Filename", "DBQ"});
            const bool memory = path == u":memory:";
            if (path.isEmpty())
                failure = QStringLiteral("No database file is named: the connection string needs \"Data Source=<file>\".");
            else if (!memory && !c.createIfMissing && !QFileInfo::exists(path))
                failure = QStringLiteral("Database file not found: \"%1\".").arg(path);
            else if (!memory && QFileInfo(path).isDir())
                failure = QStringLiteral("\"%1\" is a folder, not a database file.").arg(path);
            db.setDatabaseName(path);
            options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
            if (cs->value("Mode").contains(QStringLiteral("Write"), Qt::CaseInsensitive) == false
                && cs->value("Mode").startsWith(QStringLiteral("Read"), Qt::CaseInsensitive))
                options += QStringLiteral(";QSQLITE_OPEN_READONLY");
        } else if (c.kind == ProviderKind::PostgreSQL) {
            db.setHostName(cs->value({"Data Source", "Server", "Host", "Address"}));
            const QString port = cs->value({"Port"});
            if (!port.isEmpty())
                db.setPort(port.toInt());
            db.setDatabaseName(cs->value({"Initial Catalog", "Database", "DBName"}));
            db.setUserName(!userId.isEmpty() ? userId : cs->value({"User ID", "UID", "User", "User Name", "Username"}));
            db.setPassword(!password.isEmpty() ? password : cs->value({"Password", "PWD"}));
            const QString timeout = cs->value({"Connect Timeout", "Connection Timeout", "Timeout"});
            options = QStringLiteral("connect_timeout=%1").arg(timeout.isEmpty() ? QStringLiteral("15") : timeout);
        } else {
            QString odbc = cs->toOdbcString({QStringLiteral("Provider")});
            if (!userId.isEmpty())
                odbc += QStringLiteral(";UID=") + userId;
            if (!password.isEmpty())
                odbc += QStringLiteral(";PWD=") + password;
            if (odbc.isEmpty())
                failure = QStringLiteral("The ODBC connection string is empty (\"DSN=...\" or \"Driver={...};...\").");
            db.setDatabaseName(odbc);
        }
        db.setConnectOptions(options);
        if (failure.isEmpty() && !db.open()) {
            failure = QStringLiteral("Cannot open the connection (%1): %2")
                          .arg(c.providerName, detail::sqlError(db.lastError(), QString(), driver).Description);
        }
        if (failure.isEmpty() && c.kind == ProviderKind::SQLite) {
            // A file that is not a database opens lazily; find out now.
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("PRAGMA schema_version")))
                failure = QStringLiteral("Cannot open the connection (%1): %2")
                              .arg(c.providerName, detail::sqlError(probe.lastError(), QString(), driver).Description);
        }
        if (!failure.isEmpty())
            db.close();
    }
    if (!failure.isEmpty()) {
        QSqlDatabase::removeDatabase(name);
        DataError e = detail::makeError(adErrProviderFailure, failure, driver);
        c.errors.Add(e);
        return false;
    }
    c.qtName = name;
    c.open = true;
    if (c.kind == ProviderKind::SQLite)
        c.sqlite = detail::sqliteHandle(c.db());
    ++c.generation;
    c.transLevel = 0;
    return true;
}

void Connection::Close()
{
    d_->close();
}

ObjectStateEnum Connection::State() const
{
    return d_->open ? adStateOpen : adStateClosed;
}

QString Connection::Provider() const
{
    if (!d_->providerName.isEmpty())
        return d_->providerName;
    const auto cs = ado::ConnectionString::parse(d_->connectionString);
    return cs && !cs->provider().isEmpty() ? cs->provider() : QStringLiteral("SQLite");
}

ProviderKind Connection::providerKind() const
{
    if (d_->open)
        return d_->kind;
    return providerKindOf(Provider());
}

Recordset Connection::Execute(const QString& sql, long* recordsAffected)
{
    if (recordsAffected)
        *recordsAffected = 0;
    Recordset rs;
    if (!d_->open) {
        d_->record(adErrObjectClosed, QString());
        return rs;
    }
    if (!detail::isReadOnlySql(sql))
        d_->schemaCache.clear();   // a DDL statement may change table layouts
    if (!rs.Open(sql, *this, adOpenForwardOnly, adLockReadOnly))
        return Recordset();
    if (recordsAffected)
        *recordsAffected = rs.d_->rowsAffected;
    return rs;
}

long Connection::BeginTrans()
{
    auto& c = *d_;
    if (!c.open) {
        c.record(adErrObjectClosed, QString());
        return 0;
    }
    // A transaction of the caller's own ends the commit group's.
    if (c.groupOpen && c.group)
        c.group->commitOne(c);
    QSqlDatabase db = c.db();
    if (c.transLevel == 0) {
        if (!db.transaction()) {
            c.recordSql(db.lastError(), QStringLiteral("BeginTrans"));
            return 0;
        }
    } else {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SAVEPOINT mdx_level_%1").arg(c.transLevel + 1))) {
            c.recordSql(q.lastError(), QStringLiteral("BeginTrans"));
            return 0;
        }
    }
    return ++c.transLevel;
}

namespace {

// Committing or rolling back needs an open connection inside a transaction.
bool requireTransaction(detail::ConnectionState& c)
{
    if (!c.open) {
        c.record(adErrObjectClosed, QString());
        return false;
    }
    if (c.transLevel == 0) {
        c.record(detail::kNoTransaction, QStringLiteral("No transaction is active."));
        return false;
    }
    return true;
}

} // namespace

bool Connection::CommitTrans()
{
    auto& c = *d_;
    if (!requireTransaction(c))
        return false;
    QSqlDatabase db = c.db();
    if (c.transLevel == 1) {
        for (auto& s : c.statements)
            s->finish();
        if (!db.commit()) {
            c.recordSql(db.lastError(), QStringLiteral("CommitTrans"));
            return false;
        }
    } else {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("RELEASE SAVEPOINT mdx_level_%1").arg(c.transLevel))) {
            c.recordSql(q.lastError(), QStringLiteral("CommitTrans"));
            return false;
        }
    }
    --c.transLevel;
    return true;
}

bool Connection::RollbackTrans()
{
    auto& c = *d_;
    if (!requireTransaction(c))
        return false;
    QSqlDatabase db = c.db();
    c.schemaCache.clear();
    if (c.transLevel == 1) {
        for (auto& s : c.statements)
            s->finish();
        if (!db.rollback()) {
            c.recordSql(db.lastError(), QStringLiteral("RollbackTrans"));
            return false;
        }
    } else {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT mdx_level_%1").arg(c.transLevel))
            || !q.exec(QStringLiteral("RELEASE SAVEPOINT mdx_level_%1").arg(c.transLevel))) {
            c.recordSql(q.lastError(), QStringLiteral("RollbackTrans"));
            return false;
        }
    }
    --c.transLevel;
    return true;
}

long Connection::transactionLevel() const { return d_->transLevel; }
ErrorList& Connection::Errors() { return d_->errors; }
const ErrorList& Connection::Errors() const { return d_->errors; }

Recordset Connection::OpenSchemaTables()
{
    auto& c = *d_;
    std::vector<FieldInfo> fields = {
        FieldInfo(QStringLiteral("TABLE_CATALOG"), adVarWChar, 128), FieldInfo(QStringLiteral("TABLE_SCHEMA"), adVarWChar, 128),
        FieldInfo(QStringLiteral("TABLE_NAME"), adVarWChar, 128), FieldInfo(QStringLiteral("TABLE_TYPE"), adVarWChar, 32),
        FieldInfo(QStringLiteral("DESCRIPTION"), adVarWChar, 255)};
    if (!c.open) {
        c.record(adErrObjectClosed, QString());
        return Recordset();
    }
    struct Entry { QString schema, name, type; };
    std::vector<Entry> entries;
    QSqlDatabase db = c.db();
    if (c.kind == ProviderKind::SQLite || c.kind == ProviderKind::PostgreSQL) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        const QString sql = c.kind == ProviderKind::SQLite
            ? QStringLiteral("SELECT '', name, CASE WHEN type = 'view' THEN 'VIEW' WHEN name LIKE 'sqlite\\_%' ESCAPE '\\' "
                             "THEN 'SYSTEM TABLE' ELSE 'TABLE' END FROM sqlite_master WHERE type IN ('table', 'view')")
            : QStringLiteral("SELECT table_schema, table_name, CASE WHEN table_type = 'VIEW' THEN 'VIEW' ELSE 'TABLE' END "
                             "FROM information_schema.tables WHERE table_schema NOT IN ('pg_catalog', 'information_schema') "
                             "AND table_type IN ('BASE TABLE', 'VIEW')");
        if (!q.exec(sql)) {
            c.recordSql(q.lastError(), QStringLiteral("OpenSchema"));
            return Recordset();
        }
        while (q.next())
            entries.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
    } else {
        for (const auto& t : db.tables(QSql::Tables))
            entries.push_back({QString(), t, QStringLiteral("TABLE")});
        for (const auto& t : db.tables(QSql::Views))
            entries.push_back({QString(), t, QStringLiteral("VIEW")});
        for (const auto& t : db.tables(QSql::SystemTables))
            entries.push_back({QString(), t, QStringLiteral("SYSTEM TABLE")});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.type != b.type)
            return a.type < b.type;
        if (a.schema != b.schema)
            return a.schema < b.schema;
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    Recordset rs = Recordset::CreateDisconnected(fields);
    auto& s = *rs.d_;
    for (const auto& e : entries)
        s.rows.push_back(QVariantList{QVariant(), e.schema.isEmpty() ? QVariant() : QVariant(e.schema), e.name, e.type, QVariant()});
    s.pos = 0;
    s.lockType = adLockReadOnly;
    return rs;
}

std::optional<std::vector<FieldInfo>> Connection::QueryFields(const QString& sql)
{
    if (!d_->open) {
        d_->record(adErrObjectClosed, QString());
        return std::nullopt;
    }
    DataError e;
    auto f = d_->queryFields(sql, &e);
    if (!f)
        d_->errors.Add(e);
    return f;
}

std::optional<TableSchema> Connection::tableSchema(const QString& table)
{
    DataError e;
    auto t = d_->tableSchema(table, &e);
    if (!t)
        d_->errors.Add(e);
    return t;
}

void Connection::clearSchemaCache() { d_->schemaCache.clear(); }
QString Connection::quoteIdentifier(const QString& identifier) const { return d_->quote(identifier); }
QSqlDatabase Connection::database() const { return d_->open ? d_->db() : QSqlDatabase(); }
QString Connection::driverName() const { return d_->open ? d_->db().driverName() : QString(); }

DataError Connection::lastError() const
{
    return d_->errors.isEmpty() ? DataError{} : d_->errors.Item(d_->errors.Count() - 1);
}

} // namespace ado
