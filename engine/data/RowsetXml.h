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
// one, and the new values are taken; rows in rs:delete are left out.
// Fixed-length text reads back padded with blanks to its size.

#include "data/Field.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
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

} // namespace ado
