#pragma once

// Fast paths for the record loop: statements prepared once and executed per
// record with bound, typed values.
//
//   ado::PreparedCommand find;
//   find.prepare(cn, "SELECT * FROM " + cn.quoteIdentifier("Orders") + " WHERE "
//                    + cn.quoteIdentifier("Id") + " = ?");
//   for (...) { find.bind(0, id); if (find.execute() && find.next()) use(find.value(0)); }
//
//   ado::TableWriter w;
//   if (!w.open(cn, "Orders")) report(w.lastError());
//   w.insert({"Id", "Name"}, {1, "O'Brien"});
//   long n = 0; QVariantList row; w.insert({"Name"}, {"Zoë"}, &n, &row);   // row: key included
//   std::vector<QVariantList> rows; w.select({"Id"}, {1}, rows, 1);
//   w.update({"Id"}, {1}, {"Name"}, {"Zoë"});    // fails unless exactly one row changes
//   w.remove({"Id"}, {1});
//
// TableWriter builds its SQL from quoted identifiers, never from values;
// values are converted to the column's type before binding (a value that does
// not fit fails before anything is written). Each distinct column list is
// prepared once and then reused. Keys compare Null equal to Null. Nothing
// throws; failures return false and set lastError() (the database's message
// included).

#include "data/Connection.h"
#include "data/DataError.h"
#include "data/Field.h"

#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

namespace ado {

namespace detail { struct PreparedState; struct WriterState; }

class PreparedCommand {
public:
    PreparedCommand();
    ~PreparedCommand();
    PreparedCommand(PreparedCommand&&) noexcept;
    PreparedCommand& operator=(PreparedCommand&&) noexcept;

    // sql uses '?' placeholders. paramTypes (optional) gives each
    // placeholder's field type for conversion before binding.
    bool prepare(const Connection& connection, const QString& sql,
                 const std::vector<FieldInfo>& paramTypes = {});
    bool isPrepared() const;
    int parameterCount() const;

    bool bind(int index, const QVariant& value);   // 0-based
    bool bindAll(const QVariantList& values);
    bool execute();              // runs with the bound values
    long rowsAffected() const;   // of the last INSERT/UPDATE/DELETE

    // Result rows of the last execute (forward only).
    bool next();
    int columnCount() const;
    QVariant value(int column) const;
    const std::vector<FieldInfo>& columns() const;
    void finish();               // releases the result, keeps the statement

    const DataError& lastError() const;

private:
    std::unique_ptr<detail::PreparedState> d_;
};

class TableWriter {
public:
    TableWriter();
    ~TableWriter();
    TableWriter(TableWriter&&) noexcept;
    TableWriter& operator=(TableWriter&&) noexcept;

    bool open(const Connection& connection, const QString& table);
    bool isOpen() const;
    const TableSchema& schema() const;

    // Rows (values in schema column order) whose keyColumns equal keyValues;
    // at most limit rows (-1: all). An empty key list selects every row.
    bool select(const QStringList& keyColumns, const QVariantList& keyValues,
                std::vector<QVariantList>& rows, int limit = -1);
    // Number of matching rows, or -1 on failure.
    long count(const QStringList& keyColumns, const QVariantList& keyValues);
    // inserted (optional) receives the number of rows the database inserted:
    // 0 when it ignored the row without failing (SQLite's ON CONFLICT IGNORE
    // or RAISE(IGNORE) in a trigger, a PostgreSQL BEFORE trigger returning
    // NULL), -1 when the provider does not say. stored (optional) receives
    // the row as the database stored it, in schema column order, read by the
    // insert itself (generated keys, defaults, what BEFORE triggers made of
    // it); it stays empty when the provider cannot return it.
    bool insert(const QStringList& columns, const QVariantList& values, long* inserted = nullptr,
                QVariantList* stored = nullptr);
    // Sets columns on the one row matching the key. With requireOneRow
    // (default) the change is refused and undone unless exactly one row is
    // affected (adErrRowNotLocated).
    bool update(const QStringList& keyColumns, const QVariantList& keyValues,
                const QStringList& columns, const QVariantList& values,
                bool requireOneRow = true, long* affected = nullptr);
    bool remove(const QStringList& keyColumns, const QVariantList& keyValues,
                bool requireOneRow = true, long* affected = nullptr);

    const DataError& lastError() const;

    // On SQLite the writer runs its statements through SQLite's own handle;
    // true makes it go through the Qt driver like every other provider (the
    // two must give the same results, which tests compare).
    void setGeneralPath(bool general);
    // True: the values given to insert and update are already converted to
    // their columns' types (convertToFieldType with schema()'s field), as a
    // run converts them to report a value that does not fit; they are not
    // converted a second time. Key values are converted in any case.
    void setValuesConverted(bool converted);

private:
    std::unique_ptr<detail::WriterState> d_;
};

} // namespace ado
