#pragma once

// ADO-like recordset over a query, a persisted rowset file or memory.
//
//   ado::Recordset rs;
//   rs.Open("SELECT * FROM Orders WHERE Id = 5", cn, ado::adOpenKeyset, ado::adLockOptimistic);
//   if (!rs.IsEOF()) { rs.Fields("Qty").setValue(7); if (!rs.Update()) log(rs.lastError()); }
//   for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) use(rs.Fields(0).Value());
//
//   auto mem = ado::Recordset::CreateDisconnected({{"ID", ado::adDecimal, 10}, {"NAME", ado::adChar, 255}});
//   mem.AddNew(); mem.Fields("ID").setValue(1); mem.Update(); mem.Save("/path/store.xml");
//   ado::Recordset file; if (!file.OpenFile("/path/store.xml")) report(file.lastError().Description);
//
// Modes:
//  - materialised (every cursor type except adOpenForwardOnly): all rows are
//    read at Open; scrolling, RecordCount and AbsolutePosition are exact.
//  - streaming (adOpenForwardOnly, also the result of Connection::Execute):
//    rows are fetched one at a time and not kept; RecordCount comes from a
//    COUNT(*) over the query, computed when first asked; MoveFirst runs the
//    query again; MovePrevious fails. On PostgreSQL the result is held by
//    the client library (so that writes on the same connection can run
//    while it is read); SQLite and ODBC fetch row by row.
//  - snapshot (OpenSnapshot): streaming, from a temporary file of the rows.
//  - disconnected: rows live in memory only (CreateDisconnected, OpenFile,
//    OpenXml); Update/Delete change memory; Save writes rowset XML.
//
// A Recordset is a handle: copies share one recordset (as ADO object
// references do). Nothing throws; a failing call returns false (or a null
// value) and sets lastError(); a succeeding call clears it. Use on the thread
// that opened its connection.
//
// Writes of a connected recordset (lock type other than adLockReadOnly) go to
// the base table of a single-table query ("SELECT ... FROM table [WHERE ...]")
// as prepared statements with bound values; a changed or deleted row is found
// by its primary key (SQLite: rowid), else by all original values, and the
// write fails (adErrRowNotLocated) unless exactly one row is affected. A
// failed Update keeps EditMode and the assigned values, as ADO does.

#include "data/AdoTypes.h"
#include "data/DataError.h"
#include "data/Field.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

namespace ado {

class Connection;

class Recordset {
public:
    Recordset();   // closed
    static Recordset CreateDisconnected(const std::vector<FieldInfo>& fields);

    // Opens source (an SQL statement) on an open connection.
    bool Open(const QString& source, const Connection& connection,
              CursorTypeEnum cursorType = adOpenForwardOnly, LockTypeEnum lockType = adLockReadOnly);
    // A snapshot of source's rows as they are now: every row is read at once
    // and spooled to a temporary file, so memory stays flat whatever the
    // count, and the statement is done when this returns: writes to the same
    // database, on this connection or another, go ahead while the rows are
    // read and are never seen by them. Streaming; RecordCount is exact and
    // MoveFirst reads from the first row again.
    bool OpenSnapshot(const QString& source, const Connection& connection);
    // Persisted recordset (rowset XML). A missing, unreadable, truncated or
    // malformed file fails with a clear description and leaves this closed.
    bool OpenFile(const QString& path);
    bool OpenXml(const QByteArray& xml);
    // Writes rowset XML atomically; empty path = the file it was opened
    // from. Pending edits of the current row are not written.
    bool Save(const QString& path = QString()) const;
    QByteArray toXml() const;
    void Close();

    ObjectStateEnum State() const;
    bool isOpen() const { return State() == adStateOpen; }
    bool isDisconnected() const;
    bool isStreaming() const;
    QString Source() const;
    QString fileName() const;       // the file of OpenFile / last Save
    CursorTypeEnum CursorType() const;
    LockTypeEnum LockType() const;

    // Position. EOF/BOF are named IsEOF/IsBOF (EOF is a C macro).
    bool IsEOF() const;
    bool IsBOF() const;
    bool hasCurrentRecord() const { return isOpen() && !IsEOF() && !IsBOF(); }
    // The current record's values in field order, null without a current
    // record: for a caller that reads many fields of every record.
    const QVariantList* currentValues() const;
    long RecordCount() const;       // -1 when closed or unknown
    long AbsolutePosition() const;  // 1-based; -1 (adPosUnknown) at BOF/EOF, -3 at EOF
    bool setAbsolutePosition(long position);
    bool MoveFirst();
    bool MoveNext();
    bool MovePrevious();
    bool MoveLast();
    bool Move(long rows);
    // The current row as a place to come back to, and the way back: a full
    // run reads the records of an undone commit group again. Snapshots and
    // rows read at Open only; false elsewhere.
    struct RowMark {
        qint64 offset = -1;
        long read = 0;
        long position = 0;
    };
    RowMark markRow() const;
    bool returnToRow(const RowMark& mark);

    // Fields.
    int FieldCount() const;
    Field Fields(int index) const;               // invalid + 3265 when out of range
    Field Fields(const QString& name) const;     // case-insensitive; invalid + 3265
    int fieldIndex(const QString& name) const;   // -1 when absent (no error set)
    const std::vector<FieldInfo>& fieldInfos() const;
    QVariant value(int index) const;             // shorthands of Fields(i).Value()
    QVariant value(const QString& name) const;
    bool setValue(int index, const QVariant& value);
    bool setValue(const QString& name, const QVariant& value);

    // Editing.
    EditModeEnum EditMode() const;
    bool AddNew();
    bool Update();
    bool CancelUpdate();
    bool Delete();

    const DataError& lastError() const;

private:
    friend class Connection;
    friend class Field;
    std::shared_ptr<detail::RecordsetState> d_;
};

} // namespace ado
