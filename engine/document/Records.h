#pragma once

// The plain records every node kind carries, shared by the document, its
// file and its execution. Copying a record copies its texts and numbers; the
// `fields` list inside is shared by reference, so a copy handed to a dialog
// and the node's own record see the same fields until one is replaced whole.

#include <QString>

#include <cstdint>
#include <memory>
#include <variant>

#include "document/cCollection.h"
#include "document/shpType.h"

// One field of a data or storage step.
struct tFields {
    QString f_name;
    std::int16_t f_type = 0;   // ADO data type number
    std::int32_t f_size = 0;   // memo and LOB sizes exceed the 16-bit range
    QString f_value;           // mapping of a storage field
    QString f_lookup;          // lookup reference of a storage field
};

// Fields of a step in column order. Data steps add them without key,
// storage steps under their f_name.
using tFieldsList = cCollection<tFields>;
using tFieldsRef = std::shared_ptr<tFieldsList>;

// A source step.
struct tData {
    QString connName;
    QString connString;
    QString sourcetype;  // "table" or "sql"
    QString Source;
    tFieldsRef fields;   // null until the step's fields are set
};

// A target step.
struct tStorage {
    QString connName;
    QString connString;
    QString targettype;
    QString target;
    tFieldsRef fields;      // keyed by f_name; null until set
    QString shpOperation;   // "UpdateInsert", "Insert", "Update", "Delete", "Lookup"
};

struct tDecission {
    QString condition;
};

struct tFormula {
    QString name;
    QString formula;
};

struct tVoid {
    QString a;
};

// tConnection {name, connString} belongs to the connection registry
// (connections/tConnection.h).

// The step record of a node: nothing, a decision, a storage step, a data
// step, or the (empty) text that a stop node carries.
using NodeElements = std::variant<std::monostate, tDecission, tStorage, tData, QString>;

// The record a new node of the given kind starts with.
NodeElements EmptyElementsFor(int kind);
