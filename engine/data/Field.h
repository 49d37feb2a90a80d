#pragma once

// Field schema (FieldInfo) and the Field view of a recordset's current row.
//
//   ado::Field f = rs.Fields("Name");          // case-insensitive
//   if (f.isValid()) { f.Type(); f.DefinedSize(); f.Value(); f.setValue("x"); }
//
// A Field is a small view (recordset + index); it stays usable while the
// recordset lives and always reads the recordset's current row.
//
// Values are QVariant: Null is a null QVariant; integers qlonglong (int for
// 16/32-bit types); doubles double; decimal/numeric values qlonglong when
// whole and within 64 bits, else double when the double gives back the same
// decimal text, else the exact decimal text as QString; dates QDateTime
// (local time, no zone); booleans bool; binary QByteArray; text QString.

#include "data/AdoTypes.h"
#include "data/DataError.h"

#include <QString>
#include <QVariant>
#include <memory>

namespace ado {

struct FieldInfo {
    QString name;
    int type = adVarWChar;      // DataTypeEnum number
    long definedSize = 0;       // characters for text, bytes for binary, else type size
    int precision = 0;          // digits of decimal/numeric (0 = unknown)
    int numericScale = 0;
    bool fixedLength = false;   // char(n): values read back blank-padded to n
    bool nullable = true;
    bool keyColumn = false;     // part of the base table's primary key
    bool autoIncrement = false; // value given by the database
    bool isLong = false;        // long text / binary
    QString baseTable;          // table the column comes from, when known
    QString baseColumn;

    // ADO Attributes bit set (adFldFixed, adFldIsNullable, adFldMayBeNull...).
    long attributes() const;

    FieldInfo() = default;
    // adChar, adWChar and adBinary are fixed-length by nature.
    FieldInfo(QString n, int t, long size = 0)
        : name(std::move(n)), type(t), definedSize(size), fixedLength(t == adChar || t == adWChar || t == adBinary)
    {
    }
};

namespace detail { struct RecordsetState; }

class Field {
public:
    Field() = default;
    bool isValid() const { return d_ != nullptr; }
    int index() const { return index_; }       // 0-based

    QString Name() const;
    int Type() const;
    long DefinedSize() const;
    long ActualSize() const;
    long Attributes() const;
    int Precision() const;
    int NumericScale() const;
    const FieldInfo& info() const;

    // Current row's value. No current row: null QVariant and the recordset's
    // lastError() becomes 3021; an invalid Field gives 3265.
    QVariant Value() const;
    // The value as read from the source (before edits of the current row).
    QVariant OriginalValue() const;
    // Assign in the current row (starts an edit: EditMode becomes
    // adEditInProgress unless adding). The value is converted to the field's
    // type; a value that does not convert or is too long fails with
    // adErrMultipleStep and the row keeps its old value.
    bool setValue(const QVariant& value);

private:
    friend class Recordset;
    Field(std::shared_ptr<detail::RecordsetState> d, int index) : d_(std::move(d)), index_(index) {}
    std::shared_ptr<detail::RecordsetState> d_;
    int index_ = -1;
};

// Converts value to the representation of type (see above). Used for typed
// binding and assignment. false and *error when it does not fit: a text
// longer than a sized field, a number out of range, text that is no number
// or date. Null converts to Null.
bool convertToFieldType(const QVariant& value, const FieldInfo& field, QVariant& out, QString* error = nullptr);

// Decimal text -> qlonglong / double / QString by the rule above.
QVariant decimalFromText(const QString& text);

// ADO type name used in messages and in rowset XML ("int", "string"...).
QString xmlTypeName(int adoType);

} // namespace ado
