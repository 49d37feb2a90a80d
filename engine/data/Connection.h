#pragma once

// A database connection opened from an OLE DB style connection string.
//
//   ado::Connection cn;
//   if (!cn.Open("Provider=SQLite;Data Source=/data/app.db")) report(cn.Errors().Item(0).Description);
//   cn.BeginTrans();
//   long n = 0; cn.Execute("DELETE FROM t WHERE x = 1", &n);
//   cn.RollbackTrans();
//   ado::Recordset tables = cn.OpenSchemaTables();   // TABLE_NAME, TABLE_TYPE ("TABLE"/"VIEW")
//
// Providers: SQLite (QSQLITE; "Data Source" = file, the default provider),
// PostgreSQL (QPSQL; Data Source/Server/Host, Port, Initial Catalog/Database,
// User ID, Password), MSDASQL or ODBC (QODBC; every other key goes on as the
// ODBC connection string: "DSN=..." or "Driver={SQLite3};Database=...").
// Opening an SQLite file that does not exist fails ("Database file not
// found") unless setCreateIfMissing(true) was called: a mistyped path must
// not silently become a new, empty database. "Mode=Read" opens read-only.
//
// A Connection is a handle: copies share one database connection (as ADO
// object references do). Each connection has its own Qt connection name,
// removed when the last handle and every recordset on it are gone. Use it on
// the thread that opened it. Nothing throws: failures return false / a
// closed recordset and add an entry to Errors() (the database's message
// included). Each Open and Execute adds to Errors without clearing it; callers
// clear it, as ADO callers do.

#include "data/AdoTypes.h"
#include "data/ConnectionString.h"
#include "data/DataError.h"
#include "data/Field.h"
#include "data/Recordset.h"

#include <QSqlDatabase>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace ado {

namespace detail { struct ConnectionState; }

// Column layout of a table, read once and cached per connection.
struct TableSchema {
    QString name;                    // as given
    std::vector<FieldInfo> columns;  // table order; keyColumn marks the primary key
    std::vector<int> primaryKey;     // column indexes, key order
    bool hasRowId = false;           // SQLite table with a rowid (usable as a key)
    int indexOf(const QString& column) const;   // case-insensitive; -1 when absent
};

class Connection {
public:
    Connection();   // closed
    ~Connection();
    Connection(const Connection&);
    Connection& operator=(const Connection&);
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;

    QString ConnectionString() const;
    void setConnectionString(const QString& text);   // only while closed
    void setCreateIfMissing(bool create);             // SQLite only

    // Opens with connectionString (or the one set before). userId/password
    // override those of the string when not empty.
    bool Open(const QString& connectionString = QString(), const QString& userId = QString(),
              const QString& password = QString());
    void Close();   // rolls back open transactions
    ObjectStateEnum State() const;
    bool isOpen() const { return State() == adStateOpen; }
    QString Provider() const;        // as written in the string ("SQLite" when absent)
    ProviderKind providerKind() const;

    // Runs sql. A statement that returns rows gives an open forward-only
    // recordset (streaming); others a closed one, with *recordsAffected set.
    // Failure: a closed recordset and an entry in Errors().
    Recordset Execute(const QString& sql, long* recordsAffected = nullptr);

    // Nested transactions: level 1 is a real transaction, deeper levels are
    // savepoints. BeginTrans returns the new level (0 on failure).
    long BeginTrans();
    bool CommitTrans();
    bool RollbackTrans();
    long transactionLevel() const;

    ErrorList& Errors();
    const ErrorList& Errors() const;

    // Tables and views, fields TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME,
    // TABLE_TYPE ("TABLE", "VIEW", "SYSTEM TABLE"), sorted by type then name,
    // as a disconnected recordset.
    Recordset OpenSchemaTables();
    // The fields a query would return, without reading its rows.
    std::optional<std::vector<FieldInfo>> QueryFields(const QString& sql);
    // Column layout of a table (cached); nullopt + Errors() entry when unknown.
    std::optional<TableSchema> tableSchema(const QString& table);
    void clearSchemaCache();

    // Quotes an identifier for this database ("name" with '"' doubled; a
    // "schema.table" name quotes each part).
    QString quoteIdentifier(const QString& identifier) const;

    // The underlying Qt connection (valid while open) and its driver name.
    QSqlDatabase database() const;
    QString driverName() const;
    bool sameConnection(const Connection& other) const { return d_ == other.d_; }

    // Last error of this connection (also the last entry of Errors()).
    DataError lastError() const;

private:
    friend class Recordset;
    friend class PreparedCommand;
    friend class TableWriter;
    friend class CommitGroup;
    std::shared_ptr<detail::ConnectionState> d_;
};

} // namespace ado
