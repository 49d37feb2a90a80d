#include "data/RowsetXml.h"

#include "data/DataPrivate.h"

#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QStringDecoder>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    case adDecimal: return 16;
    case adNumeric: return 19;
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

// Characters XML 1.0 cannot carry (control characters, U+FFFE/U+FFFF, lone
// surrogates) become U+FFFD, so that a row holding one is still written.
bool plainInAttr(char16_t u)
{
    return u >= 0x20 && u < 0xD800 && u != u'&' && u != u'<' && u != u'>' && u != u'\'' && u != u'"';
}

void appendEscaped(QString& out, QStringView s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        // Runs of characters written as they are go in one piece.
        qsizetype run = i;
        while (run < s.size() && plainInAttr(s[run].unicode()))
            ++run;
        if (run > i) {
            out += s.sliced(i, run - i);
            i = run - 1;
            continue;
        }
        const QChar c = s[i];
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
            if (QChar::isHighSurrogate(u) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode())) {
                out += c;
                out += s[++i];
            } else if (u < 0x20 || u == 0xFFFE || u == 0xFFFF || QChar::isSurrogate(u)) {
                out += QChar(QChar::ReplacementCharacter);
            } else {
                out += c;
            }
        }
    }
}

QString escapeAttr(const QString& s)
{
    QString out;
    out.reserve(s.size() + 8);
    appendEscaped(out, s);
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
        // Fractions of a second in the nine digits ADO writes.
        const QDate date = dt.date();
        const QTime time = dt.time();
        QString text;
        if (date.year() >= 1000 && date.year() <= 9999) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", date.year(), date.month(), date.day(),
                          time.hour(), time.minute(), time.second());
            text = QString::fromLatin1(buffer);
        } else {
            text = dt.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
        }
        if (const int ms = dt.time().msec(); ms != 0)
            text += u'.' + QString::number(ms).rightJustified(3, u'0') + QStringLiteral("000000");
        return text;
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

constexpr QStringView kClosingTags = u"</rs:data>\n</xml>\n";

// Control characters XML 1.0 cannot hold. ADO writes them raw inside
// attribute values; such a file is read by standing each one in for a
// private-use character the file does not hold, and mapping it back in the
// values read.
bool isIllegalControl(char16_t u)
{
    return u < 0x20 && u != 0x9 && u != 0xA && u != 0xD;
}

struct ControlStandIns {
    char16_t base = 0;   // 0: none in use
    bool active() const { return base != 0; }
    QString restore(QString text) const
    {
        if (!active())
            return text;
        for (QChar& c : text)
            if (c.unicode() >= base && c.unicode() < base + 0x20)
                c = QChar(char16_t(c.unicode() - base));
        return text;
    }
    // In a field's name a control character serves no one: U+FFFD, as the
    // writer would put it.
    QString restoreName(QString text) const
    {
        if (!active())
            return text;
        for (QChar& c : text)
            if (c.unicode() >= base && c.unicode() < base + 0x20)
                c = QChar(QChar::ReplacementCharacter);
        return text;
    }
};

// The text with its raw control characters stood in for; nothing when it
// holds none, or when no block of stand-ins is free.
std::optional<std::pair<QString, ControlStandIns>> standInControls(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return isIllegalControl(c.unicode()); }))
        return std::nullopt;
    for (char16_t base = 0xE000; base < 0xF8E0; base += 0x20) {
        const bool used = std::any_of(text.cbegin(), text.cend(), [base](QChar c) {
            return c.unicode() >= base && c.unicode() < base + 0x20;
        });
        if (used)
            continue;
        QString out = text;
        for (QChar& c : out)
            if (isIllegalControl(c.unicode()))
                c = QChar(char16_t(base + c.unicode()));
        return std::make_pair(out, ControlStandIns{base});
    }
    return std::nullopt;
}

class Reader {
public:
    explicit Reader(const QByteArray& xml) : r_(xml) {}
    Reader(const QString& xml, ControlStandIns standIns) : r_(xml), standIns_(standIns) {}

    bool read(RowsetData& out, QString* error, std::vector<QString>* attrNames = nullptr)
    {
        bool sawSchema = false, sawRoot = false;
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
                lastWhole_ = r_.characterOffset();
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
        out.fields.clear();
        for (const auto& f : fields_)
            out.fields.push_back(f.info);
        out.rows = std::move(rows_);
        if (attrNames) {
            attrNames->clear();
            for (const auto& f : fields_)
                attrNames->push_back(f.attrName);
        }
        return true;
    }

    // Where the last whole row (or block of rows) inside rs:data ended, when
    // the read failed after the rows began; -1 otherwise.
    qint64 lastWholeRowEnd() const { return lastWhole_; }

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
        f.info.name = standIns_.restoreName(realName.isEmpty() ? f.attrName : realName);
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

    // One z:row into a row vector (absent attribute = Null).
    bool rowValues(QVariantList& row)
    {
        row = QVariantList(static_cast<qsizetype>(fields_.size()));
        setValues(row, r_.attributes());
        r_.skipCurrentElement();
        return !r_.hasError();
    }

    // A row's attributes over the values of row. An attribute that names no
    // field is left aside, as ADO does; rs:forcenull lists (blank-separated)
    // the fields a pending change set to Null.
    void setValues(QVariantList& row, const QXmlStreamAttributes& attrs)
    {
        for (const auto& a : attrs) {
            if (!a.namespaceUri().isEmpty())
                continue;
            const auto it = byAttr_.find(a.name().toString());
            if (it == byAttr_.end())
                continue;
            const FieldInfo& info = fields_[static_cast<size_t>(it->second)].info;
            row[it->second] = valueFromText(standIns_.restore(a.value().toString()), info);
        }
        const QString forced = attrs.value(kNsRowset, QStringLiteral("forcenull")).toString();
        for (const QString& name : forced.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            auto it = byAttr_.find(name);
            if (it == byAttr_.end()) {
                for (size_t i = 0; i < fields_.size(); ++i)
                    if (fields_[i].info.name == name)
                        it = byAttr_.find(fields_[i].attrName);
            }
            if (it != byAttr_.end())
                row[it->second] = QVariant();
        }
    }

    // The current z:row as a new row of the rowset.
    bool appendRow()
    {
        QVariantList row;
        if (!rowValues(row))
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
                std::vector<QXmlStreamAttributes> pendingNew;
                while (r_.readNextStartElement()) {
                    if (isRowset(u"original")) {
                        while (r_.readNextStartElement()) {
                            if (isRow() && !original) {
                                QVariantList row;
                                if (!rowValues(row))
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
                    setValues(row, attrs);
                if (original || !pendingNew.empty())
                    rows_.push_back(std::move(row));
            } else {
                // rs:delete: rows a reader no longer sees; anything else is unknown.
                r_.skipCurrentElement();
            }
            if (!r_.hasError())
                lastWhole_ = r_.characterOffset();
        }
        return !r_.hasError();
    }

    QXmlStreamReader r_;
    ControlStandIns standIns_;
    QString error_;
    std::vector<AttrField> fields_;
    std::map<QString, int> byAttr_;
    std::vector<QVariantList> rows_;
    qint64 lastWhole_ = -1;
};

// Text ADO and this writer produce: UTF-8, declared or not. Files in other
// encodings are left to the strict reading alone.
std::optional<QString> decodeUtf8(const QByteArray& xml)
{
    if (xml.startsWith("\xFF\xFE") || xml.startsWith("\xFE\xFF"))
        return std::nullopt;
    const qsizetype declEnd = xml.startsWith("<?xml") ? xml.indexOf("?>") : -1;
    if (declEnd > 0) {
        const QByteArray decl = xml.left(declEnd).toLower();
        const qsizetype enc = decl.indexOf("encoding");
        if (enc >= 0 && !decl.mid(enc).contains("utf-8"))
            return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(xml);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// At most one row, unfinished, and perhaps what is left of the closing tags
// the killed append was writing over: what a reader may drop from the end.
// A row followed by the closing tag of the rows was written to its end, so
// it is not cut short but damaged, and no reader may drop it unnoticed.
bool isCutAppend(QStringView rest)
{
    const qsizetype firstRow = rest.indexOf(u"<z:row");
    if (firstRow >= 0 && rest.indexOf(u"<z:row", firstRow + 1) >= 0)
        return false;
    if (firstRow >= 0 && rest.indexOf(u"</rs:data>", firstRow) >= 0)
        return false;
    for (QStringView block : {u"<rs:update", u"<rs:insert", u"<rs:delete", u"<rs:original", u"<s:"})
        if (rest.contains(block))
            return false;
    return true;
}

// Offset of the first byte that is not part of well-formed UTF-8; -1 when
// there is none.
qsizetype firstBadUtf8(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        int more = 0;
        char32_t least = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            least = 0x10000;
        } else {
            return i;
        }
        char32_t cp = c & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80)
                return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return i;
        i += more + 1;
    }
    return -1;
}

// Where a UTF-8 file first breaks the encoding, as a position anyone can
// find in the file; empty when the file is not meant to be UTF-8 or is well formed.
QString badUtf8Text(const QByteArray& xml)
{
    if (xml.startsWith("\xFF\xFE") || xml.startsWith("\xFE\xFF"))
        return {};
    const qsizetype declEnd = xml.startsWith("<?xml") ? xml.indexOf("?>") : -1;
    if (declEnd > 0) {
        const QByteArray decl = xml.left(declEnd).toLower();
        const qsizetype enc = decl.indexOf("encoding");
        if (enc >= 0 && !decl.mid(enc).contains("utf-8"))
            return {};
    }
    const qsizetype bad = firstBadUtf8(xml);
    if (bad < 0)
        return {};
    const qsizetype lineStart = xml.lastIndexOf('\n', bad - 1) + 1;
    const qsizetype line = xml.left(bad).count('\n') + 1;
    // The column counts characters, as an editor shows them.
    const qsizetype column = QString::fromUtf8(xml.constData() + lineStart, bad - lineStart).size() + 1;
    return QStringLiteral("The file is not a valid persisted recordset: the byte 0x%1 at offset %2 (line %3, "
                          "column %4) is not UTF-8.")
        .arg(uchar(xml[bad]), 2, 16, QLatin1Char('0'))
        .arg(bad)
        .arg(line)
        .arg(column);
}

bool readTolerant(const QByteArray& xml, RowsetData& out, QString* error, std::vector<QString>* attrNames)
{
    {
        Reader strict(xml);
        if (strict.read(out, error, attrNames))
            return true;
    }
    const std::optional<QString> decoded = decodeUtf8(xml);
    if (!decoded) {
        // The stream reader's own position for bad bytes is where its
        // buffer stood, not where the bytes are.
        if (const QString bad = badUtf8Text(xml); error && !bad.isEmpty())
            *error = bad;
        return false;
    }
    QString text = *decoded;
    ControlStandIns standIns;
    if (auto stood = standInControls(text)) {
        text = std::move(stood->first);
        standIns = stood->second;
    }
    Reader reader(text, standIns);
    if (reader.read(out, nullptr, attrNames))
        return true;
    // A writer killed while appending leaves the file without its closing
    // tags, perhaps with part of its row: the rows before it are whole.
    const qint64 cut = reader.lastWholeRowEnd();
    if (cut < 0 || cut > text.size() || !isCutAppend(QStringView(text).mid(cut)))
        return false;
    Reader repaired(text.left(cut) + u'\n' + kClosingTags.toString(), standIns);
    return repaired.read(out, nullptr, attrNames);
}

// Names of the row attributes: the field name where it is an XML name,
// else a generated one declared through rs:name.
std::vector<QString> attributeNames(const std::vector<FieldInfo>& fields)
{
    std::vector<QString> attrNames;
    std::map<QString, int> used;
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldInfo& f = fields[i];
        QString attr = isXmlName(f.name) ? f.name : QStringLiteral("c%1").arg(i);
        for (int n = 1; used.count(attr.toLower()); ++n)
            attr = QStringLiteral("c%1_%2").arg(i).arg(n);
        used[attr.toLower()] = 1;
        attrNames.push_back(attr);
    }
    return attrNames;
}

QString rowXml(const std::vector<FieldInfo>& fields, const std::vector<QString>& attrNames, const QVariantList& row)
{
    QString x;
    x.reserve(512);
    x += u"\t<z:row";
    for (size_t i = 0; i < fields.size() && i < static_cast<size_t>(row.size()); ++i) {
        const QVariant& v = row[static_cast<qsizetype>(i)];
        if (v.isNull() || !v.isValid())
            continue;
        x += u' ';
        x += attrNames[i];
        x += u"='";
        appendEscaped(x, valueText(v, fields[i]));
        x += u'\'';
    }
    x += QStringLiteral("/>\n");
    return x;
}

} // namespace

bool readRowsetXml(const QByteArray& xml, RowsetData& out, QString* error)
{
    if (xml.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("The file is not a valid persisted recordset: it is empty.");
        return false;
    }
    RowsetData data;
    if (!readTolerant(xml, data, error, nullptr))
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
    const std::vector<QString> attrNames = attributeNames(data.fields);
    for (size_t i = 0; i < data.fields.size(); ++i) {
        const FieldInfo& f = data.fields[i];
        const QString& attr = attrNames[i];
        x += QStringLiteral("\t\t<s:AttributeType name='%1'").arg(escapeAttr(attr));
        if (attr != f.name)
            x += QStringLiteral(" rs:name='%1'").arg(escapeAttr(f.name));
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
            x += QStringLiteral(" dt:maxLength='%1' rs:scale='%2' rs:precision='%3'")
                     .arg(typeSize(f.type))
                     .arg(f.numericScale)
                     .arg(f.precision > 0 ? f.precision : f.definedSize);
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
    for (const auto& row : data.rows)
        x += rowXml(data.fields, attrNames, row);
    x += kClosingTags;
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

// ---------------------------------------------------------------- appending in place

namespace {

// Reads exactly size bytes at offset (fewer only at the end of the file).
QByteArray readAt(int fd, qint64 offset, qint64 size)
{
    QByteArray out(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out.data() + done, static_cast<size_t>(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    out.truncate(done);
    return out;
}

bool writeAt(int fd, qint64 offset, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

constexpr QByteArrayView kClosingTagBytes = "</rs:data>\n</xml>\n";

} // namespace

RowsetAppender::~RowsetAppender()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RowsetAppender::open(const QString& path, QString* error)
{
    const auto refuse = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (fd_ >= 0)
        return refuse(QStringLiteral("already open"));
    // Only a regular file, reached without a link, is written in place: the
    // caller has checked the name, and a link put there since is not taken.
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return refuse(QStringLiteral("The file \"%1\" cannot be opened: %2").arg(path, qt_error_string(errno)));
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return refuse(qt_error_string(errno));
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("The file \"%1\" is not a regular file.").arg(path));
    size_ = st.st_size;

    // The end must be the closing tags alone (blanks between them allowed).
    const qint64 tailSize = std::min<qint64>(size_, 256);
    QByteArray tail = readAt(fd_, size_ - tailSize, tailSize);
    qsizetype end = tail.size();
    while (end > 0 && isBlank(tail[end - 1]))
        --end;
    if (!QByteArrayView(tail).first(end).endsWith("</xml>"))
        return refuse(QStringLiteral("the file does not end in its closing tags"));
    end -= 6;
    while (end > 0 && isBlank(tail[end - 1]))
        --end;
    if (!QByteArrayView(tail).first(end).endsWith("</rs:data>"))
        return refuse(QStringLiteral("the file does not end in its closing tags"));
    tail_ = size_ - tailSize + end - 10;

    // The head up to the start of the rows holds the schema; it is read in
    // growing chunks, since the rows after it may be many.
    QByteArray head;
    qsizetype dataTag = -1;
    for (qint64 want = 8192; dataTag < 0; want *= 4) {
        const qint64 size = std::min<qint64>(tail_, want);
        head = readAt(fd_, 0, size);
        dataTag = head.indexOf("<rs:data>");
        if (dataTag < 0 && (size == tail_ || want >= (1 << 20)))
            return refuse(QStringLiteral("the rows of the file do not start where expected"));
    }
    const QByteArray schemaPart = head.left(dataTag + 9);
    // A store is appended to many times in a row: its schema is read once
    // per process, as long as the file's head stays the same.
    struct KnownSchema {
        QByteArray head;
        std::vector<FieldInfo> fields;
        std::vector<QString> attrNames;
    };
    static QMutex knownMutex;
    static std::map<QString, KnownSchema> known;
    {
        QMutexLocker lock(&knownMutex);
        const auto it = known.find(path);
        if (it != known.end() && it->second.head == schemaPart) {
            fields_ = it->second.fields;
            attrNames_ = it->second.attrNames;
            return true;
        }
    }
    if (!decodeUtf8(schemaPart))
        return refuse(QStringLiteral("the file is not in UTF-8"));
    RowsetData schema;
    QString why;
    Reader reader(schemaPart + "</rs:data></xml>");
    if (!reader.read(schema, &why, &attrNames_))
        return refuse(why);
    fields_ = std::move(schema.fields);
    QMutexLocker lock(&knownMutex);
    if (known.size() > 64)
        known.clear();
    known[path] = KnownSchema{schemaPart, fields_, attrNames_};
    return true;
}

bool RowsetAppender::append(const QVariantList& row, QString* error)
{
    return append(std::span<const QVariantList>(&row, 1), error);
}

bool RowsetAppender::append(std::span<const QVariantList> rows, QString* error)
{
    if (fd_ < 0) {
        if (error)
            *error = QStringLiteral("The file is not open for appending.");
        return false;
    }
    if (rows.empty())
        return true;
    // All rows and the closing tags go in one write, so a failure anywhere
    // leaves none of them.
    QByteArray rowBytes;
    for (const QVariantList& row : rows)
        rowBytes += rowXml(fields_, attrNames_, row).toUtf8();
    QByteArray bytes;
    bytes.reserve(rowBytes.size() + kClosingTags.size());
    bytes += rowBytes;
    bytes += kClosingTagBytes;
    // The row takes the place of the closing tags, which follow it: a
    // writer stopped halfway leaves a tail the reader drops.
    if (!writeAt(fd_, tail_, bytes)) {
        const int code = errno != 0 ? errno : EIO;
        // A full disk stops the write within the row: the closing tags go
        // back where they stood, so the file holds its rows as before.
        if (::ftruncate(fd_, std::max(size_, tail_ + qint64(kClosingTagBytes.size()))) == 0
            && writeAt(fd_, tail_, kClosingTagBytes.toByteArray()))
            (void)::ftruncate(fd_, tail_ + kClosingTagBytes.size());
        size_ = tail_ + kClosingTagBytes.size();
        if (error)
            *error = QStringLiteral("The row could not be written: %1").arg(qt_error_string(code));
        return false;
    }
    const qint64 newSize = tail_ + bytes.size();
    if (newSize < size_ && ::ftruncate(fd_, newSize) != 0) {
        if (error)
            *error = QStringLiteral("The row could not be written: %1").arg(qt_error_string(errno));
        return false;
    }
    tail_ += rowBytes.size();
    size_ = newSize;
    return true;
}

bool RowsetAppender::closingTagsInPlace() const
{
    if (fd_ < 0)
        return false;
    return readAt(fd_, tail_, kClosingTagBytes.size()) == kClosingTagBytes;
}

} // namespace ado
