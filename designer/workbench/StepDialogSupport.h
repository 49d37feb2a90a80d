#pragma once

// What the source and target step dialogs share: the connection registry's
// names, the tables and views of a connection, the spreadsheet naming rule
// and the reading of a source's field list.

#include <QString>
#include <QStringList>

#include <optional>

#include "data/Connection.h"
#include "document/Records.h"

class QCursor;

namespace StepDialogs {

// The names of the registry's entries in registry order; empty without a
// registry.
QStringList ConnectionNames();

// A newly opened connection for a registry name; nothing when the name is
// unknown, the registry is missing or the connection cannot be opened.
std::optional<ado::Connection> OpenConnection(const QString& Name);

// The registry's connection string of a name; empty when unknown.
QString ConnectionStringOf(const QString& Name);

// The names of the connection's tables and views, in the order the schema
// lists them. Other kinds (system tables) are left out. False with Error
// set when the schema cannot be read; Names keeps what was read.
bool TablesAndViews(ado::Connection& Connection, QStringList& Names, QString& Error);

// Spreadsheet sheets are named in square brackets: when the connection
// string names the Excel 8.0 driver (anywhere after its first character)
// and the name does not begin with "[", it is put inside "[" and "]".
QString ApplySpreadsheetRule(const QString& ConnectionString, const QString& Name);

// The fields a query returns (no rows are read), as step field records:
// name, ADO type and defined size, mapping empty. Keyed adds each field
// under its name (a repeated name is skipped). Nothing, with Error set, when
// the query cannot be prepared.
std::optional<tFieldsRef> ReadFields(ado::Connection& Connection, const QString& Sql, bool Keyed, QString& Error);

// Shows the wait cursor for its lifetime.
class cWaitCursor {
public:
    cWaitCursor();
    ~cWaitCursor();
    cWaitCursor(const cWaitCursor&) = delete;
    cWaitCursor& operator=(const cWaitCursor&) = delete;
};

}  // namespace StepDialogs
