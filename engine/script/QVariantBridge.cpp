#include "script/QVariantBridge.h"

#include <cmath>

namespace vbs {

static const QDate kSerialZero(1899, 12, 30);

double serialFromDateTime(const QDateTime& dt)
{
    qint64 days = kSerialZero.daysTo(dt.date());
    double t = dt.time().msecsSinceStartOfDay() / 86400000.0;
    return days >= 0 ? double(days) + t : double(days) - t;
}

QDateTime dateTimeFromSerial(double serial)
{
    double ip = std::trunc(serial);
    qint64 days = qint64(ip);
    qint64 ms = std::llround(std::fabs(serial - ip) * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        ++days;
    }
    return QDateTime(kSerialZero.addDays(days), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

Variant fromQVariant(const QVariant& v)
{
    if (!v.isValid()) return Variant();
    if (v.isNull()) return Variant::null();
    switch (v.typeId()) {
    case QMetaType::Bool: return Variant::fromBool(v.toBool());
    case QMetaType::UChar: return Variant::fromByte(uint8_t(v.toUInt()));
    case QMetaType::Short: case QMetaType::Char: case QMetaType::SChar:
        return Variant::fromInteger(int16_t(v.toInt()));
    case QMetaType::UShort: case QMetaType::Int: return Variant::fromLong(v.toInt());
    case QMetaType::UInt: case QMetaType::Long: case QMetaType::LongLong: case QMetaType::ULong:
        return Variant::fromInt64(v.toLongLong());
    case QMetaType::ULongLong: {
        qulonglong u = v.toULongLong();
        if (u <= qulonglong(INT64_MAX)) return Variant::fromInt64(qint64(u));
        auto d = Decimal::fromMantissa(static_cast<__int128>(u), 0);
        return Variant::fromDecimal(*d);
    }
    case QMetaType::Float: return Variant::fromSingle(v.toFloat());
    case QMetaType::Double: return Variant::fromDouble(v.toDouble());
    case QMetaType::QString: return Variant(v.toString());
    case QMetaType::QChar: return Variant(QString(v.toChar()));
    case QMetaType::QByteArray: return Variant(QString::fromUtf8(v.toByteArray()));
    case QMetaType::QDate: return Variant::fromDate(double(kSerialZero.daysTo(v.toDate())));
    case QMetaType::QTime: return Variant::fromDate(v.toTime().msecsSinceStartOfDay() / 86400000.0);
    case QMetaType::QDateTime: return Variant::fromDate(serialFromDateTime(v.toDateTime()));
    default: return Variant(v.toString());
    }
}

QVariant toQVariant(const Variant& v)
{
    switch (v.type()) {
    case VarType::Empty: return QVariant();
    case VarType::Null: return QVariant::fromValue(nullptr);
    case VarType::Boolean: return QVariant(v.boolVal());
    case VarType::Byte: return QVariant(int(v.byteVal()));
    case VarType::Integer: return QVariant(int(v.integerVal()));
    case VarType::Long: return QVariant(int(v.longVal()));
    case VarType::Single: return QVariant(v.singleVal());
    case VarType::Double: return QVariant(v.doubleVal());
    case VarType::Currency: return QVariant(double(v.currencyVal()) / 10000.0);
    case VarType::Date: return QVariant(dateTimeFromSerial(v.dateVal()));
    case VarType::String: return QVariant(v.str());
    case VarType::Decimal: {
        if (auto i = v.decimalVal().toInt64()) return QVariant(qlonglong(*i));
        return QVariant(v.decimalVal().toString());
    }
    case VarType::Object:
        try {
            return toQVariant(valueOf(v));
        } catch (const ScriptError&) {
            return QVariant();
        }
    case VarType::Array: {
        QVariantList list;
        for (const Variant& item : v.arr()->items) list.push_back(toQVariant(item));
        return list;
    }
    default: return QVariant();
    }
}

} // namespace vbs
