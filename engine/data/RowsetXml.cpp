#include "data/RowsetXml.h"

#include "data/DataPrivate.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <algorithm>
#include <map>

namespace ado {

namespace {

const QString kNsSchema = QStringLiteral("uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882");
const QString kNsTypes = QStringLiteral("uuid:C2F41010-65B3-11d1-A29F-00AA00C14882");
const QString kNsRowset = QStringLiteral("urn:schemas-microsoft-com:rowset");
const QString kNsRow = QStringLiteral("#RowsetSchema");

bool sameNs(QStringView a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool truthy(QStringView v)
{
    return v.compare(u"true", Qt::CaseInsensitive) == 0 || v == u"1" || v.compare(u"-1") == 0;
}

// rs:dbtype / dt:type -> ADO type.
int typeFromXml(const QString& dtType, const QString& dbType, bool fixed, bool isLong)
{
    const QString t = dtType.toLower();
    const QString db = dbType.toLower();
    if (db == u"currency")
        return adCurrency;
    if (t == u"string" || t.isEmpty()) {
        if (db == u"str")
            return isLong ? adLongVarChar : fixed ? adChar : adVarChar;
        return isLong ? adLongVarWChar : fixed ? adWChar : adVarWChar;
    }
    if (t == u"bin.hex" || t == u"bin.base64")
        return isLong ? adLongVarBinary : fixed ? adBinary : adVarBinary;
    if (t == u"number") {
        if (db == u"decimal")
            return adDecimal;
        if (db == u"varnumeric")
            return adVarNumeric;
        return adNumeric;
    }
    if (t == u"int" || t == u"i4")
        return adInteger;
    if (t == u"i2")
        return adSmallInt;
    if (t == u"i1")
        return adTinyInt;
    if (t == u"i8")
        return adBigInt;
    if (t == u"ui1")
        return adUnsignedTinyInt;
    if (t == u"ui2")
        return adUnsignedSmallInt;
    if (t == u"ui4")
        return adUnsignedInt;
    if (t == u"ui8")
        return adUnsignedBigInt;
    if (t == u"r4")
        return adSingle;
    if (t == u"r8" || t == u"float" || t == u"fixed.14.4")
        return adDouble;
    if (t == u"boolean")
        return adBoolean;
    if (t == u"datetime" || t == u"datetime.tz") {
        if (db == u"variantdate")
            return adDate;
        if (db == u"date")
            return adDBDate;
        return adDBTimeStamp;
    }
    if (t == u"date")
        return adDBDate;
    if (t == u"time" || t == u"time.tz")
        return adDBTime;
    if (t == u"uuid")
        return adGUID;
    // An unknown type is read as text, with the same length rules as "string",
    // so that the file we write from it reads back with the same type.
    return isLong ? adLongVarWChar : fixed ? adWChar : adVarWChar;
}

QString dbTypeName(int type)
{
    switch (type) {
    case adDecimal: return QStringLiteral("decimal");
    case adNumeric: return QStringLiteral("numeric");
    case adVarNumeric: return QStringLiteral("varnumeric");
    case adCurrency: return QStringLiteral("currency");
    case adChar: case adVarChar: case adLongVarChar: return QStringLiteral("str");
    case adDBTimeStamp: return QStringLiteral("timestamp");
    case adDate: return QStringLiteral("variantdate");
    default: return {};
    }
}

// Storage size ADO reports for the fixed-size types.
long typeSize(int type)
{
    switch (type) {
    case adTinyInt: case adUnsignedTinyInt: return 1;
    case adSmallInt: case adUnsignedSmallInt: case adBoolean: return 2;
    case adInteger: case adUnsignedInt: case adSingle: return 4;
    case adBigInt: case adUnsignedBigInt: case adDouble: case adCurrency: case adDate: return 8;
    case adDecimal: case adNumeric: return 19;
    case adDBTimeStamp: return 16;
    case adDBDate: return 6;
    case adDBTime: return 6;
    case adGUID: return 16;
    default: return 0;
    }
}

bool isFixedSizeType(int type)
{
    return typeSize(type) > 0 && type != adVarNumeric;
}

bool isXmlNameStart(QChar c)
{
    return c.isLetter() || c == u'_';
}

bool isXmlName(const QString& n)
{
    if (n.isEmpty() || !isXmlNameStart(n.front()))
        return false;
    for (QChar c : n)
        if (!(c.isLetterOrNumber() || c == u'_' || c == u'-' || c == u'.'))
            return false;
    // "xml..." names are reserved.
    return !n.startsWith(QStringLiteral("xml"), Qt::CaseInsensitive);
}

QString escapeAttr(const QString& s, bool* ok)
{
    QString out;
    out.reserve(s.size() + 8);
    for (QChar c : s) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'&': out += QStringLiteral("&amp;"); break;
        case u'<': out += QStringLiteral("&lt;"); break;
        case u'>': out += QStringLiteral("&gt;"); break;
        case u'\'': out += QStringLiteral("&apos;"); break;
        case u'"': out += QStringLiteral("&quot;"); break;
        case u'\n': out += QStringLiteral("&#xA;"); break;
        case u'\r': out += QStringLiteral("&#xD;"); break;
        case u'\t': out += QStringLiteral("&#x9;"); break;
        default:
            if (u < 0x20 || u == 0xFFFE || u == 0xFFFF) {
                if (ok)
                    *ok = false;
                continue;
            }
            out += c;
        }
    }
    return out;
}

QString valueText(const QVariant& v, const FieldInfo& f)
{
    if (isDateType(f.type)) {
        const QDateTime dt = v.toDateTime();
        if (f.type == adDBDate)
            return dt.date().toString(QStringLiteral("yyyy-MM-dd"));
        if (f.type == adDBTime)
            return dt.time().toString(QStringLiteral("hh:mm:ss"));
        return dt.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
    }
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QByteArray:
        return QString::fromLatin1(v.toByteArray().toHex());
    default:
        return v.toString();
    }
}

QVariant valueFromText(const QString& text, const FieldInfo& f)
{
    switch (f.type) {
    case adBinary: case adVarBinary: case adLongVarBinary:
        return QByteArray::fromHex(text.toLatin1());
    default:
        break;
    }
    QVariant out;
    if (!convertToFieldType(text, FieldInfo(f.name, f.type, 0), out))
        return text;   // kept as written rather than lost
    return detail::padFixed(out, f);
}

struct AttrField {
    FieldInfo info;
    QString attrName;
    int number = 0;
    int order = 0;
};

class Reader {
public:
    explicit Reader(const QByteArray& xml) : r_(xml) {}

    bool read(RowsetData& out, QString* error)
    {
        bool sawSchema = false, sawData = false, sawRoot = false;
        while (!r_.atEnd()) {
            r_.readNext();
            if (!r_.isStartElement())
                continue;
            if (!sawRoot) {
                sawRoot = true;
                continue;
            }
            if (sameNs(r_.namespaceUri(), kNsSchema) && r_.name() == u"Schema") {
                if (!readSchema())
                    break;
                sawSchema = true;
            } else if (sameNs(r_.namespaceUri(), kNsRowset) && r_.name() == u"data") {
                if (!sawSchema) {
                    fail(QStringLiteral("the rows come before the schema"));
                    break;
                }
                sawData = true;
                if (!readData())
                    break;
            } else {
                r_.skipCurrentElement();
            }
        }
        if (!error_.isEmpty() || r_.hasError()) {
            if (error) {
                const QString why = error_.isEmpty() ? r_.errorString() : error_;
                *error = QStringLiteral("The file is not a valid persisted recordset: %1 (line %2, column %3).")
                             .arg(why).arg(r_.lineNumber()).arg(r_.columnNumber());
            }
            return false;
        }
        if (!sawRoot || !sawSchema) {
            if (error)
                *error = QStringLiteral("The file is not a valid persisted recordset: it holds no rowset schema.");
            return false;
        }
        Q_UNUSED(sawData);
        out.fields.clear();
        for (const auto& f : fields_)
            out.fields.push_back(f.info);
        out.rows = std::move(rows_);
        return true;
    }

private:
    void fail(const QString& why)
    {
        if (error_.isEmpty())
            error_ = why;
    }

    bool readSchema()
    {
        while (r_.readNextStartElement()) {
            if (sameNs(r_.namespaceUri(), kNsSchema) && r_.name() == u"ElementType") {
                while (r_.readNextStartElement()) {
                    if (sameNs(r_.namespaceUri(), kNsSchema) && r_.name() == u"AttributeType") {
                        if (!readAttributeType())
                            return false;
                    } else {
                        r_.skipCurrentElement();
                    }
                }
            } else {
                r_.skipCurrentElement();
            }
        }
        if (r_.hasError())
            return false;
        std::stable_sort(fields_.begin(), fields_.end(), [](const AttrField& a, const AttrField& b) {
            const int na = a.number > 0 ? a.number : 100000 + a.order;
            const int nb = b.number > 0 ? b.number : 100000 + b.order;
            return na < nb;
        });
        byAttr_.clear();
        for (size_t i = 0; i < fields_.size(); ++i)
            byAttr_[fields_[i].attrName] = static_cast<int>(i);
        return true;
    }

    bool readAttributeType()
    {
        AttrField f;
        const auto attrs = r_.attributes();
        f.attrName = attrs.value(QStringLiteral("name")).toString();
        if (f.attrName.isEmpty()) {
            fail(QStringLiteral("a field without a name"));
            return false;
        }
        const QString realName = attrs.value(kNsRowset, QStringLiteral("name")).toString();
        f.info.name = realName.isEmpty() ? f.attrName : realName;
        f.number = attrs.value(kNsRowset, QStringLiteral("number")).toInt();
        f.order = static_cast<int>(fields_.size());
        bool nullable = true;
        if (attrs.hasAttribute(kNsRowset, QStringLiteral("nullable")))
            nullable = truthy(attrs.value(kNsRowset, QStringLiteral("nullable")));
        if (attrs.hasAttribute(kNsRowset, QStringLiteral("maybenull")))
            nullable = nullable || truthy(attrs.value(kNsRowset, QStringLiteral("maybenull")));
        f.info.nullable = nullable;
        f.info.keyColumn = truthy(attrs.value(kNsRowset, QStringLiteral("keycolumn")));
        f.info.autoIncrement = truthy(attrs.value(kNsRowset, QStringLiteral("autoincrement")));
        f.info.baseTable = attrs.value(kNsRowset, QStringLiteral("basetable")).toString();
        f.info.baseColumn = attrs.value(kNsRowset, QStringLiteral("basecolumn")).toString();
        QString dtType = attrs.value(kNsTypes, QStringLiteral("type")).toString();
        QString dbType;
        long maxLength = attrs.value(kNsTypes, QStringLiteral("maxLength")).toLong();
        bool fixed = false, isLong = false;
        int precision = 0, scale = 0;
        while (r_.readNextStartElement()) {
            if (sameNs(r_.namespaceUri(), kNsSchema) && r_.name() == u"datatype") {
                const auto a = r_.attributes();
                if (a.hasAttribute(kNsTypes, QStringLiteral("type")))
                    dtType = a.value(kNsTypes, QStringLiteral("type")).toString();
                dbType = a.value(kNsRowset, QStringLiteral("dbtype")).toString();
                if (a.hasAttribute(kNsTypes, QStringLiteral("maxLength")))
                    maxLength = a.value(kNsTypes, QStringLiteral("maxLength")).toLong();
                fixed = truthy(a.value(kNsRowset, QStringLiteral("fixedlength")));
                isLong = truthy(a.value(kNsRowset, QStringLiteral("long")));
                precision = a.value(kNsRowset, QStringLiteral("precision")).toInt();
                scale = a.value(kNsRowset, QStringLiteral("scale")).toInt();
                if (a.hasAttribute(kNsRowset, QStringLiteral("maybenull")))
                    f.info.nullable = f.info.nullable || truthy(a.value(kNsRowset, QStringLiteral("maybenull")));
            }
            r_.skipCurrentElement();
        }
        if (r_.hasError())
            return false;
        f.info.type = typeFromXml(dtType, dbType, fixed, isLong);
        f.info.isLong = isLong;
        f.info.fixedLength = fixed && (isTextType(f.info.type) || f.info.type == adBinary);
        f.info.precision = precision;
        f.info.numericScale = scale;
        f.info.definedSize = maxLength;
        if (isDecimalType(f.info.type) && f.info.type != adCurrency)
            f.info.definedSize = precision > 0 ? precision : maxLength;
        fields_.push_back(std::move(f));
        return true;
    }

    static bool isDecimalType(int t) { return t == adDecimal || t == adNumeric || t == adVarNumeric || t == adCurrency; }

    // One z:row into a row vector (absent attribute = Null); base gives
    // values for attributes that the row leaves out (rs:update).
    bool rowValues(QVariantList& row, const QVariantList* base)
    {
        row = base ? *base : QVariantList(static_cast<qsizetype>(fields_.size()));
        if (!setValues(row, r_.attributes()))
            return false;
        r_.skipCurrentElement();
        return !r_.hasError();
    }

    // A row's attributes over the values of row; an attribute that names no
    // field of the schema fails the read.
    bool setValues(QVariantList& row, const QXmlStreamAttributes& attrs)
    {
        for (const auto& a : attrs) {
            if (!a.namespaceUri().isEmpty())
                continue;
            const auto it = byAttr_.find(a.name().toString());
            if (it == byAttr_.end()) {
                fail(QStringLiteral("the row value \"%1\" belongs to no field of the schema").arg(a.name().toString()));
                return false;
            }
            row[it->second] = valueFromText(a.value().toString(), fields_[static_cast<size_t>(it->second)].info);
        }
        return true;
    }

    // The current z:row as a new row of the rowset.
    bool appendRow()
    {
        QVariantList row;
        if (!rowValues(row, nullptr))
            return false;
        rows_.push_back(std::move(row));
        return true;
    }

    bool isRow() const { return sameNs(r_.namespaceUri(), kNsRow) && r_.name() == u"row"; }
    bool isRowset(QStringView local) const { return sameNs(r_.namespaceUri(), kNsRowset) && r_.name() == local; }

    bool readData()
    {
        while (r_.readNextStartElement()) {
            if (isRow()) {
                if (!appendRow())
                    return false;
            } else if (isRowset(u"insert")) {
                while (r_.readNextStartElement()) {
                    if (isRow()) {
                        if (!appendRow())
                            return false;
                    } else {
                        r_.skipCurrentElement();
                    }
                }
            } else if (isRowset(u"update")) {
                std::optional<QVariantList> original;
                std::vector<QVariantList> changes;
                std::vector<QXmlStreamAttributes> pendingNew;
                while (r_.readNextStartElement()) {
                    if (isRowset(u"original")) {
                        while (r_.readNextStartElement()) {
                            if (isRow() && !original) {
                                QVariantList row;
                                if (!rowValues(row, nullptr))
                                    return false;
                                original = std::move(row);
                            } else {
                                r_.skipCurrentElement();
                            }
                        }
                    } else if (isRow()) {
                        pendingNew.push_back(r_.attributes());
                        r_.skipCurrentElement();
                    } else {
                        r_.skipCurrentElement();
                    }
                }
                // The new row overlays the original one (only changed values
                // need to be written there).
                QVariantList row = original.value_or(QVariantList(static_cast<qsizetype>(fields_.size())));
                for (const auto& attrs : pendingNew)
                    if (!setValues(row, attrs))
                        return false;
                if (original || !pendingNew.empty())
                    rows_.push_back(std::move(row));
            } else if (isRowset(u"delete")) {
                r_.skipCurrentElement();
            } else {
                r_.skipCurrentElement();
            }
        }
        return !r_.hasError();
    }

    QXmlStreamReader r_;
    QString error_;
    std::vector<AttrField> fields_;
    std::map<QString, int> byAttr_;
    std::vector<QVariantList> rows_;
};

} // namespace

bool readRowsetXml(const QByteArray& xml, RowsetData& out, QString* error)
{
    if (xml.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("The file is not a valid persisted recordset: it is empty.");
        return false;
    }
    RowsetData data;
    Reader reader(xml);
    if (!reader.read(data, error))
        return false;
    out = std::move(data);
    return true;
}

QByteArray writeRowsetXml(const RowsetData& data)
{
    QString x;
    x += QStringLiteral("<xml xmlns:s='%1'\n\txmlns:dt='%2'\n\txmlns:rs='%3'\n\txmlns:z='%4'>\n")
             .arg(kNsSchema, kNsTypes, kNsRowset, kNsRow);
    x += QStringLiteral("<s:Schema id='RowsetSchema'>\n");
    x += QStringLiteral("\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n");
    std::vector<QString> attrNames;
    std::map<QString, int> used;
    for (size_t i = 0; i < data.fields.size(); ++i) {
        const FieldInfo& f = data.fields[i];
        QString attr = isXmlName(f.name) ? f.name : QStringLiteral("c%1").arg(i);
        for (int n = 1; used.count(attr.toLower()); ++n)
            attr = QStringLiteral("c%1_%2").arg(i).arg(n);
        used[attr.toLower()] = 1;
        attrNames.push_back(attr);
        x += QStringLiteral("\t\t<s:AttributeType name='%1'").arg(escapeAttr(attr, nullptr));
        if (attr != f.name)
            x += QStringLiteral(" rs:name='%1'").arg(escapeAttr(f.name, nullptr));
        x += QStringLiteral(" rs:number='%1'").arg(i + 1);
        if (f.nullable)
            x += QStringLiteral(" rs:nullable='true'");
        if (f.keyColumn)
            x += QStringLiteral(" rs:keycolumn='true'");
        if (f.autoIncrement)
            x += QStringLiteral(" rs:autoincrement='true'");
        x += QStringLiteral(" rs:writeunknown='true'>\n");
        x += QStringLiteral("\t\t\t<s:datatype dt:type='%1'").arg(xmlTypeName(f.type));
        const QString db = dbTypeName(f.type);
        if (!db.isEmpty())
            x += QStringLiteral(" rs:dbtype='%1'").arg(db);
        long maxLength = f.definedSize;
        if (f.type == adDecimal || f.type == adNumeric) {
            x += QStringLiteral(" dt:maxLength='19' rs:scale='%1' rs:precision='%2'")
                     .arg(f.numericScale).arg(f.precision > 0 ? f.precision : f.definedSize);
        } else {
            if (isFixedSizeType(f.type))
                maxLength = typeSize(f.type);
            x += QStringLiteral(" dt:maxLength='%1'").arg(maxLength);
            if (f.type == adDBTimeStamp)
                x += QStringLiteral(" rs:scale='0' rs:precision='19'");
        }
        if (f.fixedLength || isFixedSizeType(f.type))
            x += QStringLiteral(" rs:fixedlength='true'");
        if (f.isLong || f.type == adLongVarChar || f.type == adLongVarWChar || f.type == adLongVarBinary)
            x += QStringLiteral(" rs:long='true'");
        if (!f.nullable)
            x += QStringLiteral(" rs:maybenull='false'");
        x += QStringLiteral("/>\n\t\t</s:AttributeType>\n");
    }
    x += QStringLiteral("\t\t<s:extends type='rs:rowbase'/>\n\t</s:ElementType>\n</s:Schema>\n<rs:data>\n");
    for (const auto& row : data.rows) {
        x += QStringLiteral("\t<z:row");
        for (size_t i = 0; i < data.fields.size() && i < static_cast<size_t>(row.size()); ++i) {
            const QVariant& v = row[static_cast<qsizetype>(i)];
            if (v.isNull() || !v.isValid())
                continue;
            x += u' ' + attrNames[i] + QStringLiteral("='") + escapeAttr(valueText(v, data.fields[i]), nullptr) + u'\'';
        }
        x += QStringLiteral("/>\n");
    }
    x += QStringLiteral("</rs:data>\n</xml>\n");
    return x.toUtf8();
}

bool loadRowsetXml(const QString& path, RowsetData& out, QString* error)
{
    QFile f(path);
    if (!f.exists()) {
        if (error)
            *error = QStringLiteral("The file \"%1\" does not exist.").arg(path);
        return false;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("The file \"%1\" cannot be read: %2").arg(path, f.errorString());
        return false;
    }
    QString why;
    if (!readRowsetXml(f.readAll(), out, &why)) {
        if (error)
            *error = QStringLiteral("\"%1\": %2").arg(path, why);
        return false;
    }
    return true;
}

bool saveRowsetXml(const QString& path, const RowsetData& data, QString* error)
{
    // Characters XML 1.0 cannot carry would be lost silently: refuse instead.
    for (const auto& row : data.rows)
        for (qsizetype i = 0; i < row.size() && i < static_cast<qsizetype>(data.fields.size()); ++i) {
            const QVariant& v = row[i];
            if (v.isNull() || v.typeId() != QMetaType::QString)
                continue;
            bool ok = true;
            escapeAttr(v.toString(), &ok);
            if (!ok) {
                if (error)
                    *error = QStringLiteral("The value of field \"%1\" holds a control character that the file format cannot keep.")
                                 .arg(data.fields[static_cast<size_t>(i)].name);
                return false;
            }
        }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("The file \"%1\" cannot be written: %2").arg(path, f.errorString());
        return false;
    }
    const QByteArray bytes = writeRowsetXml(data);
    if (f.write(bytes) != bytes.size() || !f.commit()) {
        if (error)
            *error = QStringLiteral("The file \"%1\" cannot be written: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace ado
