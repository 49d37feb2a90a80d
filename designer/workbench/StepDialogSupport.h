#pragma once

// What the source and target step dialogs share: the controls they both
// have, the connection registry's names, the tables and views of a
// connection, the spreadsheet naming rule and the reading of a source's
// field list.

#include <QComboBox>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <optional>

#include "data/Connection.h"
#include "document/Records.h"
#include "document/cShapes.h"
#include "workbench/StepComboBox.h"

class QDialog;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;

namespace StepDialogs {

// A label named for translation and tests.
QLabel* NamedLabel(QWidget* Parent, const char* Name, const char* Caption);

// The controls both step dialogs begin with, in rows 0 and 1 of Grid: the
// step name, the connection list and its "+" button.
struct cNameAndConnection {
    QLineEdit* txtName;
    cStepComboBox* cmbConnection;
    QPushButton* btnAddConn;
};
cNameAndConnection AddNameAndConnectionRows(QDialog& Dialog, QGridLayout& Grid);

// OK and CANCEL, right-aligned in Row.
struct cOkCancel {
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QHBoxLayout* Row;
};
cOkCancel AddOkCancelRow(QDialog& Dialog);

// Raises the handlers of the controls both step dialogs have.
template <class StepDialog>
void ConnectCommonControls(StepDialog& Dialog)
{
    StepDialog* d = &Dialog;
    QObject::connect(d->cmbConnection(), &QComboBox::textActivated, d, [d] { d->cmbConnection_Click(); });
    QObject::connect(d->cmbConnection(), &cStepComboBox::dropDown, d, [d] { d->cmbConnection_DropDown(); });
    QObject::connect(d->cmbTable(), &QComboBox::textActivated, d, [d] { d->cmbTable_Click(); });
    QObject::connect(d->btnAddConn(), &QPushButton::clicked, d, [d] { d->btnAddConn_Click(); });
    QObject::connect(d->btnOK(), &QPushButton::clicked, d, [d] { d->btnOK_Click(); });
    QObject::connect(d->btnCancel(), &QPushButton::clicked, d, [d] { d->btnCancel_Click(); });
}

// True when a step name is filled in; otherwise shows Message and puts the
// focus on the name.
bool StepNameGiven(QWidget* Dialog, QLineEdit* txtName, const QString& Message);

// True when the step name can stand for the step in scripts: a script
// identifier (a letter, then letters, digits or "_") that no other node of
// Shapes carries in any letter case. Otherwise shows why (texts translated
// under Ambient) and puts the focus on the name. NodeKey: the step's own node.
bool StepNameUsable(QWidget* Dialog, QLineEdit* txtName, const cShapes& Shapes, const QString& NodeKey,
                    const QString& Ambient);

// The "+" button's work: a new registry entry, made by the user.
void AddRegistryEntry();

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
