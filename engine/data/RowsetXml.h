#pragma once

// Reader and writer of the ADO rowset XML format (persisted recordsets).
//
//   ado::RowsetData data;
//   QString error;
//   if (!ado::loadRowsetXml(path, data, &error)) report(error);   // data untouched
//   data.rows.push_back({1, "x"});
//   if (!ado::saveRowsetXml(path, data, &error)) report(error);   // atomic replace
//
// Format: root xml with namespaces s (schema), dt (datatypes), rs (rowset)
// and z (#RowsetSchema); s:Schema id="RowsetSchema" holds s:ElementType
// name="row" with one s:AttributeType per field (name, rs:number,
// rs:nullable/rs:maybenull, rs:writeunknown) and its s:datatype (dt:type,
// rs:dbtype, dt:maxLength, rs:precision, rs:scale, rs:fixedlength,
// rs:long); rows are z:row elements inside rs:data, one attribute per
// non-Null value (an absent attribute is Null); dates are written
// YYYY-MM-DDThh:mm:ss. Field names that are not XML names are written
// through rs:name with a generated attribute name.
//
// Reading also accepts the pending-change blocks of a saved recordset and
// applies them as a reader of that recordset sees it: rows in rs:insert are
// rows; rs:update holds the new z:row followed by rs:original with the old
// one, and the new values are taken (rs:forcenull names the fields set to
// Null); rows in rs:delete are left out. Row attributes that name no field
// are ignored. Fixed-length text reads back padded with blanks to its size.
// Two repairs, for files other writers leave: control characters written raw
// inside values (as ADO does) are read as they are, and a file that ends
// within its last row or before its closing tags (a writer killed while
// appending) reads as the rows before that one.

#include "data/Field.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <span>
#include <vector>

namespace ado {

struct RowsetData {
    std::vector<FieldInfo> fields;
    std::vector<QVariantList> rows;   // one value per field; null QVariant = Null
};

bool readRowsetXml(const QByteArray& xml, RowsetData& out, QString* error = nullptr);
QByteArray writeRowsetXml(const RowsetData& data);

bool loadRowsetXml(const QString& path, RowsetData& out, QString* error = nullptr);
// Writes through a temporary file and renames it over path.
bool saveRowsetXml(const QString& path, const RowsetData& data, QString* error = nullptr);

// Adds rows to a rowset file in place, at a cost that does not grow with the
// file: the schema is read from the head, and each row is written where the
// closing tags stood, followed by them again. The caller holds whatever lock
// keeps other writers out. open refuses a file that does not end in the
// closing tags or is not UTF-8: such a file is to be rewritten instead.
class RowsetAppender {
public:
    RowsetAppender() = default;
    ~RowsetAppender();
    RowsetAppender(const RowsetAppender&) = delete;
    RowsetAppender& operator=(const RowsetAppender&) = delete;

    bool open(const QString& path, QString* error = nullptr);
    // The file's fields, in order; rows given to append follow them.
    const std::vector<FieldInfo>& fields() const { return fields_; }
    bool append(const QVariantList& row, QString* error = nullptr);
    // Several rows at once, in order: all of them are added, or none.
    bool append(std::span<const QVariantList> rows, QString* error = nullptr);

    // The open file, for callers that keep the appender between appends and
    // compare the file's status with what they left.
    int descriptor() const { return fd_; }
    // The file's size after the last append (or at open).
    qint64 size() const { return size_; }
    // Whether the closing tags still stand where the last append left them:
    // a cheap check before reusing an appender kept open.
    bool closingTagsInPlace() const;

private:
    int fd_ = -1;
    qint64 size_ = 0;
    qint64 tail_ = 0;   // where the closing tags start
    std::vector<FieldInfo> fields_;
    std::vector<QString> attrNames_;
};

} // namespace ado
