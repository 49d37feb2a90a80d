#pragma once

// Internal state behind Connection and Recordset handles (not for other callers).

#include "data/Connection.h"
#include "data/DataPrivate.h"
#include "data/Recordset.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <memory>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ado::detail {

class RowSpool;
struct GroupState;

// A statement on SQLite's own handle that a streaming recordset reads. The
// connection finalises it before its handle closes.
struct SqliteCursor {
    sqlite3_stmt* stmt = nullptr;
    SqliteCursor() = default;
    SqliteCursor(const SqliteCursor&) = delete;
    SqliteCursor& operator=(const SqliteCursor&) = delete;
    ~SqliteCursor() { release(); }
    void release();
};

struct ConnectionState {
    QString connectionString;
    QString qtName;            // unique Qt connection name while open
    QString providerName;
    ProviderKind kind = ProviderKind::SQLite;
    bool createIfMissing = false;
    bool open = false;
    long transLevel = 0;
    ErrorList errors;
    QHash<QString, TableSchema> schemaCache;
    // Statements prepared once per SQL text and reused (writes of recordsets
    // and table writers).
    QHash<QString, std::shared_ptr<QSqlQuery>> statements;
    // Queries that outlive a call (streaming recordsets, prepared commands):
    // emptied before the Qt connection goes, so none reads a removed driver.
    std::vector<std::weak_ptr<QSqlQuery>> liveQueries;
    std::vector<std::weak_ptr<SqliteCursor>> liveCursors;
    quint64 generation = 0;    // counts Opens; a query made before is stale
    std::unique_ptr<QSqlQuery> control;   // savepoint statements
    sqlite3* sqlite = nullptr;            // SQLite's own handle while open
    // Statements prepared on that handle, per SQL text; finalised before the
    // handle closes. rawEpoch changes whenever they are dropped.
    QHash<QString, sqlite3_stmt*> rawStatements;
    quint64 rawEpoch = 0;
    // Commit group of a run (CommitGroup) and whether it holds a transaction
    // open on this connection.
    std::shared_ptr<GroupState> group;
    bool groupOpen = false;
    bool groupReads = false;   // the group's transaction here has only read (SQLite)
    // The database this connection reaches (file or server and database),
    // worked out once per Open.
    QString databaseKey;
    quint64 databaseKeyOpen = 0;   // generation + 1 it was worked out for

    ~ConnectionState();
    bool inTransaction() const { return transLevel > 0 || groupOpen; }
    QSqlDatabase db() const { return QSqlDatabase::database(qtName, false); }
    void close();
    DataError record(long number, const QString& description);
    DataError recordSql(const QSqlError& e, const QString& context);
    std::shared_ptr<QSqlQuery> statement(const QString& sql, DataError* error);
    sqlite3_stmt* rawStatement(const QString& sql, DataError* error);
    void dropRawStatements();
    QString quote(const QString& identifier) const;
    std::optional<TableSchema> tableSchema(const QString& table, DataError* error);
    std::optional<std::vector<FieldInfo>> queryFields(const QString& sql, DataError* error);
    void track(const std::shared_ptr<QSqlQuery>& q);
    void track(const std::shared_ptr<SqliteCursor>& c);
    bool controlExec(const QString& sql);
};

// Shared state of a CommitGroup (see CommitGroup.h).
struct GroupState {
    int maxRecords = 1000;
    int maxMilliseconds = 200;
    bool perRecord = false;      // every record commits on its own
    bool stayPerRecord = false;  // connections of one database meet in this run: a group gains nothing
    std::vector<std::weak_ptr<ConnectionState>> members;
    std::vector<ConnectionState*> open;
    long records = 0;      // records done
    long committed = 0;    // records whose work is settled: committed, or lost and reported
    long kept = 0;         // records up to which the last full commit kept the work
    long pending = 0;      // records done since everything was last committed
    QElapsedTimer sinceFirstBegin;
    std::function<void(const DataError&)> onFailure;
    // The work since the last settled record was undone (rolled back).
    bool undone = false;
    DataError undoneBy;
    // The work was undone by a deadlock or serialization failure, which
    // another try of the same record may not meet.
    bool undoneByConflict = false;
    // Such failures undo the work with one commit per record too: the
    // caller tries the record again.
    bool retryConflicts = false;
    // False once part of that work was committed on its own: running the
    // records again would write it twice.
    bool replayable = true;
    // SQLite reads share a read transaction per group until another process
    // is seen waiting for (or holding) a file's lock: then a reader that
    // holds the lock for a whole group would slow every writer of the file.
    bool sharedReads = true;

    // Before a statement on c: commits the members c must see or must not
    // wait behind, opens c's transaction when the statement writes.
    void before(ConnectionState& c, bool writes);
    // Commits c's open transaction. midGroup: the other members' work stays
    // open (the group's records are not all settled by it).
    bool commitOne(ConnectionState& c, bool midGroup = true);
    void opened(ConnectionState& c);
    // BEGIN on SQLite, then lock (a statement that takes the read lock), never
    // waiting while other members hold locks.
    bool beginSqlite(ConnectionState& c, const char* begin, const char* lock);
    // Commits every member; the outcome of CommitGroup::commit.
    int settle();
    // The database ended the group's work or c's transaction (a failed
    // statement, a deadlock): everything open is rolled back.
    void undo(const DataError& why);
    void conflict(const DataError& why);
    void lostBy(ConnectionState& c);
    void rollbackAll();
};

// SQLite's own handle behind a Qt connection (null for other drivers).
sqlite3* sqliteHandle(const QSqlDatabase& db);
// A result column of the current row, as the Qt driver gives it.
QVariant sqliteValue(sqlite3_stmt* st, int column);
// The same brought to the field's representation, as normalizeValue brings it.
QVariant sqliteFieldValue(sqlite3_stmt* st, int column, const FieldInfo& field);
// The current row into a snapshot's spool, each value as sqliteFieldValue
// gives it; false when the spool cannot take it.
bool spoolSqliteRow(RowSpool& spool, sqlite3_stmt* st, const std::vector<FieldInfo>& fields);
// Fields of an SQLite statement as fieldsOfQuery gives them; hasRow says
// whether the statement stands on a row (it types undeclared columns).
std::vector<FieldInfo> sqliteStatementFields(sqlite3_stmt* st, bool hasRow);

// Called before every statement: the connection's commit group, if any,
// gets its say. writes is false for statements that only read. A statement
// whose failure ends a whole transaction makes the group run its records
// again (see CommitGroup.h).
void enterStatement(ConnectionState& c, bool writes);
// True for SQL that only reads (SELECT, WITH, PRAGMA, VALUES, EXPLAIN).
bool isReadOnlySql(const QString& sql);

// PostgreSQL abandons the whole transaction when one statement in it fails,
// while callers expect only that statement to fail (a test run goes on with
// the next record inside its transaction). There, inside a transaction, each
// statement runs under a savepoint of its own, rolled back when it fails;
// on SQLite where asked.
class StatementScope {
public:
    // sqliteSavepoint: SQLite too runs the statement under a savepoint (a
    // failure that would keep part of the statement's work, FAIL, is undone).
    explicit StatementScope(ConnectionState& c, bool writes = true, bool sqliteSavepoint = false);
    ~StatementScope();
    // Undoes the statement; the transaction stays usable. sqlState: the
    // failure's code (a deadlock undoes the commit group's work).
    void failed(const QString& sqlState = QString());
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

private:
    ConnectionState& c_;
    bool active_ = false;
};

// Error of a Qt SQL failure with the database's own message.
DataError sqlError(const QSqlError& e, const QString& context, const QString& source);

// Field layout of an executed query's record, enriched with declared types.
std::vector<FieldInfo> fieldsOfQuery(ConnectionState& c, const QSqlQuery& q, const QString& sql);

struct RecordsetState {
    enum class Mode { Closed, Materialised, Streaming, Disconnected };
    Mode mode = Mode::Closed;
    std::vector<FieldInfo> fields;
    QHash<QString, int> byName;   // lower-case name -> index
    std::vector<QVariantList> rows;
    std::vector<QVariant> rowIds;  // SQLite rowid per row, when used to locate rows
    long pos = -1;                 // -1 BOF, rows.size() EOF
    bool currentDeleted = false;

    EditModeEnum editMode = adEditNone;
    QVariantList editValues;
    std::vector<bool> changed;

    DataError lastError;
    QString source;
    QString fileName;
    CursorTypeEnum cursorType = adOpenUnspecified;
    LockTypeEnum lockType = adLockUnspecified;

    std::shared_ptr<ConnectionState> conn;
    // Streaming.
    std::shared_ptr<QSqlQuery> query;
    std::shared_ptr<SqliteCursor> cursor;   // instead of query, on SQLite
    quint64 generation = 0;        // of the connection when the query ran
    QVariantList current;
    bool streamAtEnd = false;
    long streamPos = 0;            // 1-based position of current, 0 = before first
    long countCache = -2;          // -2: not counted yet
    long rowsAffected = 0;         // of a statement that returned no rows
    // Snapshot: the rows were read whole at Open and are streamed from here.
    std::shared_ptr<RowSpool> spool;
    bool singleRow = false;        // PostgreSQL: fetch row by row (nothing else runs meanwhile)

    // Writes.
    QString baseTable;
    std::optional<TableSchema> table;
    std::vector<int> columnOfField;    // table column index per field, -1 none
    bool useRowId = false;

    void setFields(std::vector<FieldInfo> f);
    void clearError()
    {
        // Called on every move and read: most often there is nothing to clear.
        if (lastError.Number != 0 || lastError.NativeError != 0 || !lastError.Description.isNull()
            || !lastError.Source.isNull() || !lastError.SQLState.isNull())
            lastError = DataError{};
    }
    bool fail(long number, const QString& description = QString());
    bool fail(const DataError& e);
    bool requireOpen();
    bool hasCurrent() const;
    bool streamUsable() const
    {
        return spool || ((query || cursor) && conn && conn->open && conn->generation == generation);
    }
    const QVariantList* currentRow() const;
};

} // namespace ado::detail
