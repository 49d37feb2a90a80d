// Conversion, number and test functions: CStr .. Sgn, IsNull .. TypeName,
// FormatNumber, FormatCurrency, FormatPercent.

#include "script/builtins/LibraryParts.h"
#include "script/builtins/NumberFormat.h"

#include <cmath>
#include <limits>

namespace vbs::lib {

namespace {

using namespace vbslib;

// The argument for a conversion: Null raises 94 whatever the target type.
const Variant& convertible(Args a)
{
    const Variant& v = val(a, 0);
    if (v.isNull())
        raiseError(err::InvalidUseOfNull);
    return v;
}

Variant fnCStr(BuiltinContext&, Args a) { return Variant(toStr(convertible(a))); }
Variant fnCInt(BuiltinContext&, Args a) { return Variant::fromInteger(toInteger(convertible(a))); }
Variant fnCLng(BuiltinContext&, Args a) { return Variant::fromLong(toLong(convertible(a))); }
Variant fnCDbl(BuiltinContext&, Args a) { return Variant::fromDouble(toDouble(convertible(a))); }
Variant fnCSng(BuiltinContext&, Args a) { return Variant::fromSingle(toSingle(convertible(a))); }
Variant fnCCur(BuiltinContext&, Args a) { return Variant::fromCurrency(toCurrency(convertible(a))); }
// CByte(True) is 255: True's bits, not its value -1.
Variant fnCByte(BuiltinContext&, Args a)
{
    const Variant& v = convertible(a);
    if (v.type() == VarType::Boolean)
        return Variant::fromByte(v.boolVal() ? 255 : 0);
    return Variant::fromByte(toByte(v));
}
Variant fnCBool(BuiltinContext&, Args a) { return Variant::fromBool(toBool(convertible(a))); }
// A text that is no date but a number is a date serial: CDate("1") is 12/31/1899.
Variant fnCDate(BuiltinContext&, Args a)
{
    const Variant& v = convertible(a);
    if (v.isString()) {
        if (const auto d = parseDate(v.str()))
            return Variant::fromDate(*d);
        if (const auto n = parseNumber(v.str()))
            return Variant::fromDate(toDate(Variant::fromDouble(*n)));
    }
    return Variant::fromDate(toDate(v));
}

__int128 pow10(int n)
{
    __int128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

// m / divisor rounded: toward -infinity (Int), toward zero (Fix) or half to even (Round).
enum class Rounding { Floor, Truncate, HalfEven };

__int128 divideRounded(__int128 m, __int128 divisor, Rounding mode)
{
    __int128 q = m / divisor;
    const __int128 r = m % divisor;
    if (r == 0)
        return q;
    switch (mode) {
    case Rounding::Truncate:
        break;
    case Rounding::Floor:
        if (m < 0)
            --q;
        break;
    case Rounding::HalfEven: {
        const __int128 twice = (r < 0 ? -r : r) * 2;
        if (twice > divisor || (twice == divisor && q % 2 != 0))
            q += m < 0 ? -1 : 1;
        break;
    }
    }
    return q;
}

double roundDouble(double x, int decimals, Rounding mode)
{
    switch (mode) {
    case Rounding::Floor:
        return std::floor(x);
    case Rounding::Truncate:
        return std::trunc(x);
    case Rounding::HalfEven:
        break;
    }
    return roundHalfEven(x, decimals);
}

// Int, Fix and Round keep the subtype of their argument (Boolean becomes
// Integer, a text becomes Double); decimals only for Round.
Variant roundValue(const Variant& x, int decimals, Rounding mode)
{
    switch (x.type()) {
    case VarType::Null:
        return Variant::null();
    case VarType::Empty:
        return Variant::fromInteger(0);
    case VarType::Boolean:
        return Variant::fromInteger(x.boolVal() ? -1 : 0);
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
        return x;
    case VarType::Single:
        return Variant::fromSingle(static_cast<float>(roundDouble(x.singleVal(), decimals, mode)));
    case VarType::Double:
        return Variant::fromDouble(roundDouble(x.doubleVal(), decimals, mode));
    case VarType::Date:
        return Variant::fromDate(roundDouble(x.dateVal(), decimals, mode));
    case VarType::Currency: {
        if (decimals >= 4)
            return x;
        const __int128 unit = pow10(4 - decimals);
        return Variant::fromCurrency(static_cast<int64_t>(divideRounded(x.currencyVal(), unit, mode) * unit));
    }
    case VarType::Decimal: {
        const Decimal& d = x.decimalVal();
        if (decimals >= d.scale)
            return x;
        const __int128 m = divideRounded(d.mantissa(), pow10(d.scale - decimals), mode);
        const auto rounded = Decimal::fromMantissa(m, decimals);
        if (!rounded)
            raiseError(err::Overflow);
        return Variant::fromDecimal(*rounded);
    }
    default:
        return Variant::fromDouble(roundDouble(toDouble(x), decimals, mode));
    }
}

Variant fnInt(BuiltinContext&, Args a) { return roundValue(val(a, 0), 0, Rounding::Floor); }
Variant fnFix(BuiltinContext&, Args a) { return roundValue(val(a, 0), 0, Rounding::Truncate); }

Variant fnRound(BuiltinContext&, Args a)
{
    const int32_t decimals = longArg(a, 1, 0);
    if (decimals < 0)
        raiseError(err::InvalidCall);
    // Unlike Int and Fix, Round keeps a Boolean.
    if (val(a, 0).type() == VarType::Boolean)
        return a[0];
    return roundValue(val(a, 0), decimals, Rounding::HalfEven);
}

// Hex and Oct: Integer-sized values show negatives in 16 bits, others in 32.
Variant radix(Args a, bool hex)
{
    const Variant& x = val(a, 0);
    if (x.isNull())
        return Variant::null();
    int64_t v = 0;
    bool bits16 = true;
    switch (x.type()) {
    case VarType::Empty:
        break;
    case VarType::Boolean:
        v = x.boolVal() ? -1 : 0;
        break;
    case VarType::Byte:
        v = x.byteVal();
        break;
    case VarType::Integer:
        v = x.integerVal();
        break;
    default:
        v = toLong(x);
        bits16 = false;
    }
    return Variant(hex ? hexText(v, bits16) : octText(v, bits16));
}

Variant fnHex(BuiltinContext&, Args a) { return radix(a, true); }
Variant fnOct(BuiltinContext&, Args a) { return radix(a, false); }

Variant fnAbs(BuiltinContext&, Args a)
{
    const Variant& x = val(a, 0);
    switch (x.type()) {
    case VarType::Null:
        return Variant::null();
    case VarType::Empty:
        return Variant::fromInteger(0);
    case VarType::Boolean:
        return Variant::fromInteger(x.boolVal() ? 1 : 0);
    case VarType::Byte:
        return x;
    case VarType::Integer: // Abs(-32768) no longer fits an Integer
        if (x.integerVal() == std::numeric_limits<int16_t>::min())
            return Variant::fromLong(32768);
        return Variant::fromInteger(static_cast<int16_t>(std::abs(x.integerVal())));
    case VarType::Long:
        if (x.longVal() == std::numeric_limits<int32_t>::min())
            return Variant::fromDouble(2147483648.0);
        return Variant::fromLong(std::abs(x.longVal()));
    case VarType::Single:
        return Variant::fromSingle(std::fabs(x.singleVal()));
    case VarType::Currency:
        if (x.currencyVal() == std::numeric_limits<int64_t>::min())
            raiseError(err::Overflow);
        return Variant::fromCurrency(x.currencyVal() < 0 ? -x.currencyVal() : x.currencyVal());
    case VarType::Decimal: {
        Decimal d = x.decimalVal();
        d.negative = false;
        return Variant::fromDecimal(d);
    }
    default:
        return Variant::fromDouble(std::fabs(toDouble(x)));
    }
}

Variant fnSgn(BuiltinContext&, Args a)
{
    const Variant& x = val(a, 0);
    if (x.isNull())
        raiseError(err::InvalidUseOfNull);
    int16_t sign = 0;
    if (x.type() == VarType::Currency)
        sign = x.currencyVal() > 0 ? 1 : x.currencyVal() < 0 ? -1 : 0;
    else if (x.type() == VarType::Decimal)
        sign = x.decimalVal().isZero() ? 0 : x.decimalVal().negative ? -1 : 1;
    else {
        const double d = toDouble(x);
        sign = d > 0 ? 1 : d < 0 ? -1 : 0;
    }
    return Variant::fromInteger(sign);
}

// ------------------------------------------------------------------ tests

// The default value of an object, or nullopt when it has none.
std::optional<Variant> defaultValue(const Variant& v)
{
    if (v.isNothing())
        return std::nullopt;
    try {
        Variant value = valueOf(v);
        if (value.isObject())
            return std::nullopt;
        return value;
    } catch (const ScriptError&) {
        return std::nullopt;
    }
}

// IsNull(rs("Field")) looks at the field's value, as scripts rely on.
Variant fnIsNull(BuiltinContext&, Args a)
{
    if (a[0].isObject()) {
        const auto value = defaultValue(a[0]);
        return Variant::fromBool(value && value->isNull());
    }
    return Variant::fromBool(a[0].isNull());
}

Variant fnIsEmpty(BuiltinContext&, Args a)
{
    if (a[0].isObject()) {
        const auto value = defaultValue(a[0]);
        return Variant::fromBool(value && value->isEmpty());
    }
    return Variant::fromBool(a[0].isEmpty());
}
Variant fnIsArray(BuiltinContext&, Args a) { return Variant::fromBool(a[0].isArray()); }
Variant fnIsObject(BuiltinContext&, Args a) { return Variant::fromBool(a[0].isObject()); }

bool isNumeric(const Variant& v)
{
    switch (v.type()) {
    case VarType::Empty:
    case VarType::Boolean:
        return true;
    case VarType::String:
        return parseNumber(v.str()).has_value();
    case VarType::Object: {
        const auto value = defaultValue(v);
        return value && isNumeric(*value);
    }
    default:
        return v.isNumber();
    }
}

Variant fnIsNumeric(BuiltinContext&, Args a) { return Variant::fromBool(isNumeric(a[0])); }

bool isDate(const Variant& v)
{
    switch (v.type()) {
    case VarType::Date:
        return true;
    case VarType::String:
        return parseDate(v.str()).has_value();
    case VarType::Object: {
        const auto value = defaultValue(v);
        return value && isDate(*value);
    }
    default:
        return false;
    }
}

Variant fnIsDate(BuiltinContext&, Args a) { return Variant::fromBool(isDate(a[0])); }

// An object with a default value reports that value's type, as VBScript does.
Variant fnVarType(BuiltinContext&, Args a)
{
    const Variant& v = a[0];
    if (v.isArray())
        return Variant::fromInteger(int16_t(int(VarType::Array) | int(VarType::Variant)));
    if (v.isObject()) {
        const auto value = defaultValue(v);
        return Variant::fromInteger(int16_t(value ? value->type() : VarType::Object));
    }
    return Variant::fromInteger(int16_t(v.type()));
}

Variant fnTypeName(BuiltinContext&, Args a)
{
    const Variant& v = a[0];
    const char* name = "Unknown";
    switch (v.type()) {
    case VarType::Empty: name = "Empty"; break;
    case VarType::Null: name = "Null"; break;
    case VarType::Integer: name = "Integer"; break;
    case VarType::Long: name = "Long"; break;
    case VarType::Single: name = "Single"; break;
    case VarType::Double: name = "Double"; break;
    case VarType::Currency: name = "Currency"; break;
    case VarType::Date: name = "Date"; break;
    case VarType::String: name = "String"; break;
    case VarType::Error: name = "Error"; break;
    case VarType::Boolean: name = "Boolean"; break;
    case VarType::Decimal: name = "Decimal"; break;
    case VarType::Byte: name = "Byte"; break;
    case VarType::Array: name = "Variant()"; break;
    case VarType::Object:
        if (v.isNothing())
            name = "Nothing";
        else
            return Variant(v.obj()->typeName());
        break;
    default:
        break;
    }
    return Variant(QString::fromLatin1(name));
}

// ------------------------------------------------------------------ formatting

// -1 True, 0 False, -2 (or omitted) the US-English default.
bool tristateArg(Args a, size_t i, bool fallback)
{
    const int32_t t = longArg(a, i, -2);
    return t == -2 ? fallback : t != 0;
}

Variant formatNumberLike(Args a, NumberStyle style)
{
    const Variant& x = val(a, 0);
    if (x.isNull())
        raiseError(err::InvalidUseOfNull);
    DecimalNumber number;
    switch (x.type()) {
    case VarType::Empty:
        break;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
        number = DecimalNumber::fromScaled(toLong(x), 0);
        break;
    case VarType::Currency:
        number = DecimalNumber::fromScaled(x.currencyVal(), 4);
        break;
    case VarType::Decimal:
        number = DecimalNumber::fromText(x.decimalVal().toString().toStdString());
        break;
    default:
        number = DecimalNumber::fromDouble(toDouble(x));
    }
    const int32_t digits = longArg(a, 1, -1);
    if (digits < -1 || digits > 99)
        raiseError(err::InvalidCall);
    // US-English: leading zero, minus sign for numbers, parentheses for money.
    const bool leading = tristateArg(a, 2, true);
    const bool parens = tristateArg(a, 3, style == NumberStyle::Currency);
    const bool group = tristateArg(a, 4, true);
    return Variant(formatDecimal(number, style, digits, leading, parens, group));
}

Variant fnFormatNumber(BuiltinContext&, Args a) { return formatNumberLike(a, NumberStyle::Number); }
Variant fnFormatCurrency(BuiltinContext&, Args a) { return formatNumberLike(a, NumberStyle::Currency); }
Variant fnFormatPercent(BuiltinContext&, Args a) { return formatNumberLike(a, NumberStyle::Percent); }

} // namespace

void registerConversionFunctions(Registry& r)
{
    r.addFunction("CStr", 1, 1, fnCStr, BuiltinConversion);
    r.addFunction("CInt", 1, 1, fnCInt, BuiltinConversion);
    r.addFunction("CLng", 1, 1, fnCLng, BuiltinConversion);
    r.addFunction("CDbl", 1, 1, fnCDbl, BuiltinConversion);
    r.addFunction("CSng", 1, 1, fnCSng, BuiltinConversion);
    r.addFunction("CCur", 1, 1, fnCCur, BuiltinConversion);
    r.addFunction("CByte", 1, 1, fnCByte, BuiltinConversion);
    r.addFunction("CBool", 1, 1, fnCBool, BuiltinConversion);
    r.addFunction("CDate", 1, 1, fnCDate, BuiltinConversion);
    r.addFunction("Int", 1, 1, fnInt);
    r.addFunction("Fix", 1, 1, fnFix);
    r.addFunction("Round", 1, 2, fnRound);
    r.addFunction("Hex", 1, 1, fnHex);
    r.addFunction("Oct", 1, 1, fnOct);
    r.addFunction("Abs", 1, 1, fnAbs);
    r.addFunction("Sgn", 1, 1, fnSgn);

    r.addFunction("IsNull", 1, 1, fnIsNull);
    r.addFunction("IsEmpty", 1, 1, fnIsEmpty);
    r.addFunction("IsNumeric", 1, 1, fnIsNumeric);
    r.addFunction("IsDate", 1, 1, fnIsDate);
    r.addFunction("IsArray", 1, 1, fnIsArray);
    r.addFunction("IsObject", 1, 1, fnIsObject);
    r.addFunction("VarType", 1, 1, fnVarType);
    r.addFunction("TypeName", 1, 1, fnTypeName);

    r.addFunction("FormatNumber", 1, 5, fnFormatNumber);
    r.addFunction("FormatCurrency", 1, 5, fnFormatCurrency);
    r.addFunction("FormatPercent", 1, 5, fnFormatPercent);
}

} // namespace vbs::lib
