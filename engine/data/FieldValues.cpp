#include "data/DataPrivate.h"
#include "data/Field.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <cmath>
#include <limits>

namespace ado {

long FieldInfo::attributes() const
{
    long a = adFldUpdatable | adFldUnknownUpdatable;
    if (fixedLength)
        a |= adFldFixed;
    if (nullable)
        a |= adFldIsNullable | adFldMayBeNull;
    if (isLong)
        a |= adFldLong | adFldMayDefer;
    if (keyColumn)
        a |= adFldKeyColumn;
    return a;
}

namespace detail {

DataError makeError(long number, const QString& description, const QString& source)
{
    DataError e;
    e.Number = number;
    e.Description = description.isEmpty() ? describeStandardError(number) : description;
    e.Source = source;
    return e;
}

QString describeStandardError(long number)
{
    switch (number) {
    case adErrNoCurrentRecord:
        return QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. "
                              "Requested operation requires a current record.");
    case adErrItemNotFound:
        return QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal.");
    case adErrObjectClosed:
        return QStringLiteral("Operation is not allowed when the object is closed.");
    case adErrObjectOpen:
        return QStringLiteral("Operation is not allowed when the object is open.");
    case adErrFeatureNotAvailable:
        return QStringLiteral("Current Recordset does not support updating. This may be a limitation of the provider, "
                              "or of the selected locktype.");
    case adErrIllegalOperation:
        return QStringLiteral("Operation is not allowed in this context.");
    case adErrRowNotLocated:
        return QStringLiteral("Row cannot be located for updating. Some values may have been changed since it was last read.");
    case adErrCannotFetchBackwards:
        return QStringLiteral("Rowset does not support fetching backward.");
    case adErrInvalidArgument:
        return QStringLiteral("Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.");
    default:
        return QStringLiteral("Data access error %1.").arg(number);
    }
}

QString formatDateTime(const QDateTime& dt, bool isoT)
{
    QString s = dt.toString(isoT ? QStringLiteral("yyyy-MM-ddThh:mm:ss") : QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (dt.time().msec() != 0)
        s += dt.toString(QStringLiteral(".zzz"));
    return s;
}

QDateTime plainLocal(const QDateTime& dt)
{
    if (!dt.isValid())
        return dt;
    const QDateTime local = dt.timeSpec() == Qt::LocalTime ? dt : dt.toLocalTime();
    return QDateTime(local.date(), local.time());
}

QDateTime parseDateTime(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    static const QRegularExpression iso(QStringLiteral(
        R"re(^(\d{4})-(\d{1,2})-(\d{1,2})(?:[T ](\d{1,2}):(\d{2})(?::(\d{2})(?:[.,](\d{1,9}))?)?)?\s*(Z|[+-]\d{2}(?::?\d{2})?)?$)re"));
    auto m = iso.match(t);
    if (m.hasMatch()) {
        const QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        int ms = 0;
        if (!m.captured(7).isEmpty())
            ms = static_cast<int>(std::lround(QStringLiteral("0.%1").arg(m.captured(7)).toDouble() * 1000.0));
        if (ms > 999)
            ms = 999;
        const QTime tm(m.captured(4).isEmpty() ? 0 : m.captured(4).toInt(), m.captured(5).isEmpty() ? 0 : m.captured(5).toInt(),
                       m.captured(6).isEmpty() ? 0 : m.captured(6).toInt(), ms);
        if (!d.isValid() || !tm.isValid())
            return {};
        const QString zone = m.captured(8);
        if (zone.isEmpty())
            return QDateTime(d, tm);
        int offset = 0;
        if (zone != u'Z') {
            const QString digits = QString(zone).remove(u':');
            offset = digits.mid(1, 2).toInt() * 3600 + (digits.size() > 3 ? digits.mid(3, 2).toInt() * 60 : 0);
            if (zone.front() == u'-')
                offset = -offset;
        }
        return plainLocal(QDateTime(d, tm, QTimeZone(offset)));
    }
    static const QRegularExpression timeOnly(QStringLiteral(R"re(^(\d{1,2}):(\d{2})(?::(\d{2}))?\s*([AaPp][Mm])?$)re"));
    static const QRegularExpression us(QStringLiteral(
        R"re(^(\d{1,2})/(\d{1,2})/(\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?\s*([AaPp][Mm])?)?$)re"));
    auto hour = [](int h, const QString& ampm) {
        if (ampm.isEmpty())
            return h;
        const bool pm = ampm.front().toUpper() == u'P';
        if (h == 12)
            return pm ? 12 : 0;
        return pm ? h + 12 : h;
    };
    m = us.match(t);
    if (m.hasMatch()) {
        const QDate d(m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
        QTime tm(0, 0);
        if (!m.captured(4).isEmpty())
            tm = QTime(hour(m.captured(4).toInt(), m.captured(7)), m.captured(5).toInt(), m.captured(6).toInt());
        if (!d.isValid() || !tm.isValid())
            return {};
        return QDateTime(d, tm);
    }
    m = timeOnly.match(t);
    if (m.hasMatch()) {
        const QTime tm(hour(m.captured(1).toInt(), m.captured(4)), m.captured(2).toInt(), m.captured(3).toInt());
        if (!tm.isValid())
            return {};
        return QDateTime(QDate(1899, 12, 30), tm);
    }
    return {};
}

QVariant padFixed(const QVariant& v, const FieldInfo& field)
{
    if (!field.fixedLength || !isTextType(field.type) || field.definedSize <= 0 || v.isNull())
        return v;
    QString s = v.toString();
    if (s.size() < field.definedSize)
        s += QString(field.definedSize - s.size(), u' ');
    return s;
}

namespace {

bool isIntegerType(int t)
{
    return t == adSmallInt || t == adInteger || t == adTinyInt || t == adUnsignedTinyInt || t == adUnsignedSmallInt
        || t == adUnsignedInt || t == adBigInt || t == adUnsignedBigInt;
}

bool isDecimalType(int t)
{
    return t == adDecimal || t == adNumeric || t == adVarNumeric || t == adCurrency;
}

bool isBinaryType(int t)
{
    return t == adBinary || t == adVarBinary || t == adLongVarBinary;
}

void integerRange(int t, qint64& lo, qint64& hi)
{
    switch (t) {
    case adTinyInt: lo = -128; hi = 127; break;
    case adUnsignedTinyInt: lo = 0; hi = 255; break;
    case adSmallInt: lo = -32768; hi = 32767; break;
    case adUnsignedSmallInt: lo = 0; hi = 65535; break;
    case adInteger: lo = std::numeric_limits<qint32>::min(); hi = std::numeric_limits<qint32>::max(); break;
    case adUnsignedInt: lo = 0; hi = 4294967295LL; break;
    case adUnsignedBigInt: lo = 0; hi = std::numeric_limits<qint64>::max(); break;
    default: lo = std::numeric_limits<qint64>::min(); hi = std::numeric_limits<qint64>::max(); break;
    }
}

// Canonical decimal text of a number given as text, or empty when it is none.
QString canonicalDecimal(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(R"re(^\s*([+-]?)(\d*)(?:\.(\d*))?(?:[eE]([+-]?\d+))?\s*$)re"));
    const auto m = re.match(text);
    if (!m.hasMatch() || (m.captured(2).isEmpty() && m.captured(3).isEmpty()))
        return {};
    QString intPart = m.captured(2);
    QString frac = m.captured(3);
    if (!m.captured(4).isEmpty()) {
        // Shift the decimal point by the exponent.
        const int exp = m.captured(4).toInt();
        if (exp > 400 || exp < -400)
            return {};
        QString digits = intPart + frac;
        qsizetype point = intPart.size() + exp;
        if (point < 0) {
            digits = QString(-point, u'0') + digits;
            point = 0;
        }
        if (point > digits.size())
            digits += QString(point - digits.size(), u'0');
        intPart = digits.left(point);
        frac = digits.mid(point);
    }
    while (intPart.size() > 1 && intPart.front() == u'0')
        intPart.remove(0, 1);
    if (intPart.isEmpty())
        intPart = QStringLiteral("0");
    while (!frac.isEmpty() && frac.back() == u'0')
        frac.chop(1);
    QString sign = m.captured(1) == u'-' ? QStringLiteral("-") : QString();
    if (intPart == u'0' && frac.isEmpty())
        sign.clear();
    return sign + intPart + (frac.isEmpty() ? QString() : u'.' + frac);
}

QString numberText(const QVariant& v)
{
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    return v.toString();
}

bool isNumericVariant(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Double: case QMetaType::Float: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Long: case QMetaType::ULong: case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

// n as a value of integer field type t: false when out of the type's range.
bool integerInRange(int t, qint64 n, QVariant& out)
{
    qint64 lo = 0, hi = 0;
    integerRange(t, lo, hi);
    if (n < lo || n > hi)
        return false;
    if (t == adBigInt || t == adUnsignedBigInt || t == adUnsignedInt)
        out = QVariant::fromValue<qlonglong>(n);
    else
        out = static_cast<int>(n);
    return true;
}

// The kinds a record mostly carries, read where they stand: Null, a whole
// number into an integer or floating-point field, a floating-point number into
// a floating-point field, text into a text field of at most maxChars characters
// (negative: no limit). Each gives what the general conversion gives; false
// leaves the value to it, and so any error and its wording.
bool convertCommon(const QVariant& value, int t, qsizetype maxChars, QVariant& out)
{
    const QVariant::DataPtr& d = value.data_ptr();
    const int vt = d.typeId();
    if (vt != QMetaType::Int && vt != QMetaType::LongLong && vt != QMetaType::Double && vt != QMetaType::QString
        && vt != QMetaType::UnknownType)
        return false;
    if (d.is_null || vt == QMetaType::UnknownType) {
        out = QVariant();
        return true;
    }
    const void* p = value.constData();
    if (vt == QMetaType::Int || vt == QMetaType::LongLong) {
        const qint64 n = vt == QMetaType::Int ? *static_cast<const int*>(p) : *static_cast<const qlonglong*>(p);
        if (isIntegerType(t))
            return integerInRange(t, n, out);
        if (t == adSingle || t == adDouble) {
            out = static_cast<double>(n);   // finite and within single range
            return true;
        }
        return false;
    }
    if (vt == QMetaType::Double) {
        const double x = *static_cast<const double*>(p);
        if ((t != adSingle && t != adDouble) || !std::isfinite(x) || (t == adSingle && std::fabs(x) > 3.4028234663852886e38))
            return false;
        out = x;
        return true;
    }
    const QString& text = *static_cast<const QString*>(p);
    if (!isTextType(t) || (maxChars >= 0 && text.size() > maxChars))
        return false;
    out = text;
    return true;
}

} // namespace

QVariant normalizeValue(const QVariant& raw, const FieldInfo& field)
{
    // One variable returned on every path: it is built in the caller's place.
    QVariant out;
    if (!convertCommon(raw, field.type, -1, out) && !raw.isNull() && raw.isValid()
        && !convertToFieldType(raw, FieldInfo(field.name, field.type, 0), out))
        out = raw;
    return out;
}

void makeBindValue(QVariant& v, const FieldInfo& field, ProviderKind kind)
{
    const int vt = v.data_ptr().typeId();
    if (isNullValue(v)) {
        if (vt != QMetaType::UnknownType)
            v = QVariant();
        return;
    }
    if (vt == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        if (field.type == adDBDate)
            v = dt.date().toString(Qt::ISODate);
        else if (field.type == adDBTime)
            v = dt.time().toString(dt.time().msec() ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss"));
        else
            v = formatDateTime(dt, false);
    } else if (vt == QMetaType::Bool && kind != ProviderKind::PostgreSQL) {
        v = v.toBool() ? 1 : 0;
    }
}

QVariant toBindValue(const QVariant& v, const FieldInfo& field, ProviderKind kind)
{
    QVariant out = v;
    makeBindValue(out, field, kind);
    return out;
}

} // namespace detail

QVariant decimalFromText(const QString& text)
{
    const QString c = detail::canonicalDecimal(text);
    if (c.isEmpty())
        return QVariant();
    if (!c.contains(u'.')) {
        bool ok = false;
        const qlonglong n = c.toLongLong(&ok);
        if (ok)
            return n;
    }
    bool ok = false;
    const double d = c.toDouble(&ok);
    if (ok && std::isfinite(d) && detail::canonicalDecimal(QString::number(d, 'g', 17)) == c)
        return d;
    if (ok && std::isfinite(d) && detail::canonicalDecimal(QString::number(d, 'g', QLocale::FloatingPointShortest)) == c)
        return d;
    return c;
}

bool convertToFieldType(const QVariant& value, const FieldInfo& field, QVariant& out, QString* error)
{
    using namespace detail;
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("The value %1 does not fit the field \"%2\": %3")
                         .arg(value.toString().left(60).prepend(u'"').append(u'"'), field.name, why);
        return false;
    };
    const int t = field.type;
    const bool limited = isTextType(t) && field.definedSize > 0 && !field.isLong && t != adLongVarChar && t != adLongVarWChar;
    if (convertCommon(value, t, limited ? qsizetype(field.definedSize) : -1, out))
        return true;
    if (value.isNull() || !value.isValid()) {
        out = QVariant();
        return true;
    }
    const int vt = value.typeId();

    if (isIntegerType(t)) {
        qint64 n = 0;
        if (vt == QMetaType::Bool) {
            n = value.toBool() ? -1 : 0;
        } else if (vt == QMetaType::Double || vt == QMetaType::Float) {
            const double d = std::nearbyint(value.toDouble());
            if (!std::isfinite(d) || d < -9.2233720368547758e18 || d >= 9.2233720368547758e18)
                return fail(QStringLiteral("number out of range"));
            n = static_cast<qint64>(d);
        } else if (vt == QMetaType::ULongLong) {
            if (value.toULongLong() > static_cast<quint64>(std::numeric_limits<qint64>::max()))
                return fail(QStringLiteral("number out of range"));
            n = value.toLongLong();
        } else if (isNumericVariant(value)) {
            n = value.toLongLong();
        } else {
            const QString c = canonicalDecimal(value.toString());
            if (c.isEmpty())
                return fail(QStringLiteral("not a number"));
            bool ok = false;
            if (c.contains(u'.')) {
                const double d = std::nearbyint(c.toDouble(&ok));
                if (!ok || d < -9.2233720368547758e18 || d >= 9.2233720368547758e18)
                    return fail(QStringLiteral("number out of range"));
                n = static_cast<qint64>(d);
            } else {
                n = c.toLongLong(&ok);
                if (!ok)
                    return fail(QStringLiteral("number out of range"));
            }
        }
        if (!integerInRange(t, n, out))
            return fail(QStringLiteral("number out of range"));
        return true;
    }
    if (t == adSingle || t == adDouble) {
        double d = 0;
        if (vt == QMetaType::Bool) {
            d = value.toBool() ? -1 : 0;
        } else if (isNumericVariant(value)) {
            d = value.toDouble();
        } else {
            const QString c = canonicalDecimal(value.toString());
            if (c.isEmpty())
                return fail(QStringLiteral("not a number"));
            d = c.toDouble();
        }
        if (!std::isfinite(d))
            return fail(QStringLiteral("number out of range"));
        if (t == adSingle && std::fabs(d) > 3.4028234663852886e38)
            return fail(QStringLiteral("number out of range"));
        out = d;
        return true;
    }
    if (isDecimalType(t)) {
        // Whole numbers are their own canonical text (an ID, a record number):
        // no parsing needed.
        if (vt == QMetaType::Int || vt == QMetaType::LongLong || vt == QMetaType::UInt || vt == QMetaType::Short
            || vt == QMetaType::UShort) {
            const qlonglong n = value.toLongLong();
            if (field.precision > 0) {
                int digits = 1;
                for (quint64 rest = n < 0 ? 0 - quint64(n) : quint64(n); rest >= 10; rest /= 10)
                    ++digits;
                if (digits > field.precision - field.numericScale && n != 0)
                    return fail(QStringLiteral("more than %1 digits").arg(field.precision));
            }
            out = n;
            return true;
        }
        QString text;
        if (vt == QMetaType::Bool)
            text = value.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
        else if (isNumericVariant(value))
            text = numberText(value);
        else
            text = value.toString();
        const QString c = canonicalDecimal(text);
        if (c.isEmpty())
            return fail(QStringLiteral("not a number"));
        if (field.precision > 0) {
            QString digits = c;
            digits.remove(u'-');
            const qsizetype point = digits.indexOf(u'.');
            const qsizetype intDigits = point < 0 ? digits.size() : point;
            if (intDigits > field.precision - field.numericScale && !(intDigits == 1 && digits.front() == u'0'))
                return fail(QStringLiteral("more than %1 digits").arg(field.precision));
        }
        out = decimalFromText(c);
        return true;
    }
    if (isDateType(t)) {
        QDateTime dt;
        if (vt == QMetaType::QDateTime)
            dt = plainLocal(value.toDateTime());
        else if (vt == QMetaType::QDate)
            dt = QDateTime(value.toDate(), QTime(0, 0));
        else if (vt == QMetaType::QTime)
            dt = QDateTime(QDate(1899, 12, 30), value.toTime());
        else if (isNumericVariant(value)) {
            // OLE automation date: days since 1899-12-30, fraction = time of day.
            const double d = value.toDouble();
            if (!std::isfinite(d) || std::fabs(d) > 2958466)
                return fail(QStringLiteral("not a date"));
            const double days = std::floor(d);
            const qint64 ms = std::llround((d - days) * 86400000.0);
            dt = QDateTime(QDate(1899, 12, 30).addDays(static_cast<qint64>(days)), QTime(0, 0)).addMSecs(ms);
        } else
            dt = parseDateTime(value.toString());
        if (!dt.isValid())
            return fail(QStringLiteral("not a date"));
        out = dt;
        return true;
    }
    if (t == adBoolean) {
        if (vt == QMetaType::Bool)
            out = value.toBool();
        else if (isNumericVariant(value))
            out = value.toDouble() != 0.0;
        else {
            const QString s = value.toString().trimmed().toLower();
            if (s == u"true" || s == u"yes" || s == u"on")
                out = true;
            else if (s == u"false" || s == u"no" || s == u"off")
                out = false;
            else {
                const QString c = canonicalDecimal(s);
                if (c.isEmpty())
                    return fail(QStringLiteral("not a Boolean"));
                out = c != u'0';
            }
        }
        return true;
    }
    if (isBinaryType(t)) {
        const QByteArray b = vt == QMetaType::QByteArray ? value.toByteArray() : value.toString().toUtf8();
        if (field.definedSize > 0 && !field.isLong && t != adLongVarBinary && b.size() > field.definedSize)
            return fail(QStringLiteral("longer than %1 bytes").arg(field.definedSize));
        out = b;
        return true;
    }
    // Text and everything else.
    QString s;
    if (vt == QMetaType::QDateTime)
        s = formatDateTime(plainLocal(value.toDateTime()), false);
    else if (vt == QMetaType::QDate)
        s = value.toDate().toString(Qt::ISODate);
    else if (vt == QMetaType::Bool)
        s = value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    else if (vt == QMetaType::Double || vt == QMetaType::Float)
        s = numberText(value);
    else if (vt == QMetaType::QByteArray)
        s = QString::fromUtf8(value.toByteArray());
    else
        s = value.toString();
    if (limited) {
        // Trailing blanks of a padded fixed-length value do not count.
        QString check = s;
        if (field.fixedLength)
            while (check.size() > field.definedSize && check.back() == u' ')
                check.chop(1);
        if (check.size() > field.definedSize)
            return fail(QStringLiteral("longer than %1 characters").arg(field.definedSize));
        s = check;
    }
    out = s;
    return true;
}

QString xmlTypeName(int adoType)
{
    switch (adoType) {
    case adTinyInt: return QStringLiteral("i1");
    case adSmallInt: return QStringLiteral("i2");
    case adInteger: return QStringLiteral("int");
    case adBigInt: return QStringLiteral("i8");
    case adUnsignedTinyInt: return QStringLiteral("ui1");
    case adUnsignedSmallInt: return QStringLiteral("ui2");
    case adUnsignedInt: return QStringLiteral("ui4");
    case adUnsignedBigInt: return QStringLiteral("ui8");
    case adSingle: return QStringLiteral("r4");
    case adDouble: return QStringLiteral("float");
    case adCurrency: return QStringLiteral("i8");
    case adDecimal: case adNumeric: case adVarNumeric: return QStringLiteral("number");
    case adBoolean: return QStringLiteral("boolean");
    case adDate: case adDBTimeStamp: return QStringLiteral("dateTime");
    case adDBDate: return QStringLiteral("date");
    case adDBTime: return QStringLiteral("time");
    case adGUID: return QStringLiteral("uuid");
    case adBinary: case adVarBinary: case adLongVarBinary: return QStringLiteral("bin.hex");
    default: return QStringLiteral("string");
    }
}

} // namespace ado
