#include "script/Variant.h"

#include <QDate>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vbs {

// ---------------------------------------------------------------- errors

QString errorDescription(int number)
{
    switch (number) {
    case 5: return QStringLiteral("Invalid procedure call or argument");
    case 6: return QStringLiteral("Overflow");
    case 7: return QStringLiteral("Out of memory");
    case 9: return QStringLiteral("Subscript out of range");
    case 10: return QStringLiteral("This array is fixed or temporarily locked");
    case 11: return QStringLiteral("Division by zero");
    case 13: return QStringLiteral("Type mismatch");
    case 14: return QStringLiteral("Out of string space");
    case 17: return QStringLiteral("Can't perform requested operation");
    case 28: return QStringLiteral("Out of stack space");
    case 35: return QStringLiteral("Sub or Function not defined");
    case 51: return QStringLiteral("Internal error");
    case 53: return QStringLiteral("File not found");
    case 70: return QStringLiteral("Permission denied");
    case 91: return QStringLiteral("Object variable not set");
    case 92: return QStringLiteral("For loop not initialized");
    case 94: return QStringLiteral("Invalid use of Null");
    case 424: return QStringLiteral("Object required");
    case 429: return QStringLiteral("ActiveX component can't create object");
    case 438: return QStringLiteral("Object doesn't support this property or method");
    case 445: return QStringLiteral("Object doesn't support this action");
    case 450: return QStringLiteral("Wrong number of arguments or invalid property assignment");
    case 451: return QStringLiteral("Object not a collection");
    case 457: return QStringLiteral("This key is already associated with an element of this collection");
    case 449: return QStringLiteral("Argument not optional");
    case 458: return QStringLiteral("Variable uses an Automation type not supported in VBScript");
    case 506: return QStringLiteral("Class not defined");
    case 5017: return QStringLiteral("Syntax error in regular expression");
    case 500: return QStringLiteral("Variable is undefined");
    case 501: return QStringLiteral("Illegal assignment");
    case 1002: return QStringLiteral("Syntax error");
    case 1003: return QStringLiteral("Expected ':'");
    case 1005: return QStringLiteral("Expected '('");
    case 1006: return QStringLiteral("Expected ')'");
    case 1010: return QStringLiteral("Expected identifier");
    case 1011: return QStringLiteral("Expected '='");
    case 1012: return QStringLiteral("Expected 'If'");
    case 1013: return QStringLiteral("Expected 'To'");
    case 1014: return QStringLiteral("Expected 'End'");
    case 1015: return QStringLiteral("Expected 'Function'");
    case 1016: return QStringLiteral("Expected 'Sub'");
    case 1017: return QStringLiteral("Expected 'Then'");
    case 1018: return QStringLiteral("Expected 'Wend'");
    case 1019: return QStringLiteral("Expected 'Loop'");
    case 1020: return QStringLiteral("Expected 'Next'");
    case 1021: return QStringLiteral("Expected 'Case'");
    case 1022: return QStringLiteral("Expected 'Select'");
    case 1023: return QStringLiteral("Expected expression");
    case 1024: return QStringLiteral("Expected statement");
    case 1025: return QStringLiteral("Expected end of statement");
    case 1026: return QStringLiteral("Expected integer constant");
    case 1027: return QStringLiteral("Expected 'While' or 'Until'");
    case 1028: return QStringLiteral("Expected 'While', 'Until' or end of statement");
    case 1031: return QStringLiteral("Invalid number");
    case 1032: return QStringLiteral("Invalid character");
    case 1033: return QStringLiteral("Unterminated string constant");
    case 1037: return QStringLiteral("Invalid use of 'Me' keyword");
    case 1038: return QStringLiteral("'loop' without 'do'");
    case 1039: return QStringLiteral("Invalid 'exit' statement");
    case 1040: return QStringLiteral("Invalid 'for' loop control variable");
    case 1041: return QStringLiteral("Name redefined");
    case 1042: return QStringLiteral("Must be first statement on the line");
    case 1044: return QStringLiteral("Cannot use parentheses when calling a Sub");
    case 1045: return QStringLiteral("Expected literal constant");
    case 1046: return QStringLiteral("Expected 'In'");
    case 1047: return QStringLiteral("Expected 'Class'");
    case 1048: return QStringLiteral("Must be defined inside a Class");
    case 1049: return QStringLiteral("Expected Let or Set or Get in property declaration");
    case 1050: return QStringLiteral("Expected 'Property'");
    case 1052: return QStringLiteral("Cannot have multiple default property/method in a Class");
    case 1053: return QStringLiteral("Class initialize or terminate do not have arguments");
    case 1054: return QStringLiteral("Property set or let must have at least one argument");
    case 1055: return QStringLiteral("Unexpected 'Next'");
    case 1057: return QStringLiteral("'Default' specification must also specify 'Public'");
    case err::InstructionBudget:
        return QStringLiteral("Script stopped: too many instructions in one evaluation (endless loop?)");
    default: return QStringLiteral("Unknown runtime error");
    }
}

void raiseError(int number)
{
    throw ScriptError{number, errorDescription(number), QString(), false, {}, 0};
}

void raiseError(int number, const QString& description)
{
    throw ScriptError{number, description, QString(), false, {}, 0};
}

// ---------------------------------------------------------------- decimal

static constexpr unsigned __int128 kDecimalLimit = (static_cast<unsigned __int128>(1) << 96);

static unsigned __int128 pow10u(int n)
{
    unsigned __int128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

Decimal Decimal::fromInt64(int64_t v)
{
    return *fromMantissa(v, 0);
}

std::optional<Decimal> Decimal::fromMantissa(__int128 mantissa, int scale)
{
    bool neg = mantissa < 0;
    unsigned __int128 a = neg ? static_cast<unsigned __int128>(-mantissa) : static_cast<unsigned __int128>(mantissa);
    // Drop trailing zeros of the fraction, then fit the scale to 0..28.
    while (scale > 0 && a % 10 == 0) { a /= 10; --scale; }
    while (scale > 28) {
        unsigned __int128 q = a / 10, r = a % 10;
        a = q + (r > 5 || (r == 5 && (q & 1)) ? 1 : 0);
        --scale;
    }
    while (scale < 0) {
        if (a > kDecimalLimit / 10) return std::nullopt;
        a *= 10;
        ++scale;
    }
    if (a >= kDecimalLimit) return std::nullopt;
    Decimal d;
    d.lo = uint64_t(a);
    d.hi = uint32_t(a >> 64);
    d.scale = uint8_t(scale);
    d.negative = neg && a != 0;
    return d;
}

std::optional<Decimal> Decimal::fromDouble(double v)
{
    if (!std::isfinite(v)) return std::nullopt;
    if (v == 0) return Decimal();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", v);   // 15 significant digits
    // buf: [-]d.dddddddddddddde[+-]xx
    const char* p = buf;
    bool neg = false;
    if (*p == '-') { neg = true; ++p; }
    __int128 m = 0;
    int digits = 0;
    for (; *p && *p != 'e'; ++p) {
        if (*p == '.') continue;
        m = m * 10 + (*p - '0');
        ++digits;
    }
    int exp = (*p == 'e') ? std::atoi(p + 1) : 0;
    int scale = (digits - 1) - exp;
    if (scale > 28 + 15) return Decimal();   // too small to show: zero
    return fromMantissa(neg ? -m : m, scale);
}

std::optional<Decimal> Decimal::parse(QStringView text)
{
    text = text.trimmed();
    if (text.isEmpty()) return std::nullopt;
    qsizetype i = 0;
    bool neg = false;
    if (text[0] == u'-' || text[0] == u'+') { neg = text[0] == u'-'; ++i; }
    unsigned __int128 a = 0;
    int scale = 0, digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'.' && !point) { point = true; continue; }
        if (c == u',' && !point) continue;
        if (!c.isDigit() || c.unicode() > 127) return std::nullopt;
        if (a >= kDecimalLimit) return std::nullopt;
        a = a * 10 + (c.unicode() - '0');
        ++digits;
        if (point) ++scale;
    }
    if (digits == 0) return std::nullopt;
    if (a >= kDecimalLimit) return std::nullopt;
    __int128 m = static_cast<__int128>(a);
    return fromMantissa(neg ? -m : m, scale);
}

__int128 Decimal::mantissa() const
{
    __int128 a = (static_cast<__int128>(hi) << 64) | lo;
    return negative ? -a : a;
}

double Decimal::toDouble() const
{
    long double a = static_cast<long double>((static_cast<unsigned __int128>(hi) << 64) | lo);
    long double r = a / static_cast<long double>(pow10u(scale));
    return double(negative ? -r : r);
}

QString Decimal::toString() const
{
    unsigned __int128 a = (static_cast<unsigned __int128>(hi) << 64) | lo;
    char buf[64];
    int n = 0;
    do { buf[n++] = char('0' + int(a % 10)); a /= 10; } while (a != 0);
    while (n <= scale) buf[n++] = '0';
    QString s;
    if (negative) s += u'-';
    for (int i = n - 1; i >= 0; --i) {
        s += QChar(buf[i]);
        if (i == scale && i != 0) s += u'.';
    }
    if (scale > 0) {
        while (s.endsWith(u'0')) s.chop(1);
        if (s.endsWith(u'.')) s.chop(1);
    }
    return s;
}

std::optional<int64_t> Decimal::toInt64() const
{
    __int128 m = mantissa();
    if (scale != 0) {
        __int128 p = static_cast<__int128>(pow10u(scale));
        if (m % p != 0) return std::nullopt;
        m /= p;
    }
    if (m < INT64_MIN || m > INT64_MAX) return std::nullopt;
    return int64_t(m);
}

// ---------------------------------------------------------------- objects

Variant IScriptObject::get(int, std::span<Variant>)
{
    raiseError(err::NoSuchMember);
}

Variant IScriptObject::getObject(int id, std::span<Variant> args)
{
    return get(id, args);
}

void IScriptObject::put(int, std::span<Variant>, const Variant&)
{
    raiseError(err::NoSuchMember);
}

// ---------------------------------------------------------------- variant

void Variant::release() noexcept
{
    switch (type_) {
    case VarType::String: u_.str.~QString(); break;
    case VarType::Object: u_.obj.~ObjectRef(); break;
    case VarType::Array: u_.arr.~ArrayRef(); break;
    default: break;
    }
}

void Variant::copyFrom(const Variant& o)
{
    switch (o.type_) {
    case VarType::String: new (&u_.str) QString(o.u_.str); break;
    case VarType::Object: new (&u_.obj) ObjectRef(o.u_.obj); break;
    case VarType::Array: new (&u_.arr) ArrayRef(o.u_.arr); break;
    case VarType::Decimal: u_.dec = o.u_.dec; break;
    default: u_.i64 = o.u_.i64; break;
    }
    type_ = o.type_;
}

Variant Variant::fromInt64(int64_t x)
{
    if (x >= INT32_MIN && x <= INT32_MAX) return fromLong(int32_t(x));
    if (x >= -(int64_t(1) << 53) && x <= (int64_t(1) << 53)) return fromDouble(double(x));
    return fromDecimal(Decimal::fromInt64(x));
}

bool Variant::isNumber() const
{
    switch (type_) {
    case VarType::Byte: case VarType::Integer: case VarType::Long: case VarType::Single:
    case VarType::Double: case VarType::Currency: case VarType::Decimal:
        return true;
    default:
        return false;
    }
}

ArrayData& Variant::mutableArr()
{
    // References held for items passed ByRef (locks) do not count as sharers.
    if (u_.arr.use_count() > 1 + u_.arr->locks) {
        u_.arr = std::make_shared<ArrayData>(*u_.arr);
        u_.arr->locks = 0;
    }
    return *u_.arr;
}

ArrayRef ArrayData::vector(std::vector<Variant> items)
{
    auto a = std::make_shared<ArrayData>();
    a->extents.push_back(int32_t(items.size()));
    a->items = std::move(items);
    return a;
}

ArrayRef ArrayData::withBounds(std::span<const int32_t> upperBounds)
{
    auto a = std::make_shared<ArrayData>();
    size_t total = 1;
    for (int32_t ub : upperBounds) {
        if (ub < -1) raiseError(err::SubscriptOutOfRange);
        a->extents.push_back(ub + 1);
        total *= size_t(ub + 1);
    }
    if (total > 100'000'000) raiseError(7);
    a->items.resize(total);
    return a;
}

Variant& ArrayData::at(std::span<const int32_t> indexes)
{
    if (indexes.size() != extents.size()) raiseError(err::SubscriptOutOfRange);
    size_t offset = 0, stride = 1;
    for (size_t i = 0; i < indexes.size(); ++i) {
        if (indexes[i] < 0 || indexes[i] >= extents[i]) raiseError(err::SubscriptOutOfRange);
        offset += size_t(indexes[i]) * stride;
        stride *= size_t(extents[i]);
    }
    return items[offset];
}

// ---------------------------------------------------------------- conversions

Variant valueOf(const Variant& v)
{
    if (!v.isObject()) return v;
    if (!v.obj()) raiseError(err::ObjectNotSet);
    Variant r = v.obj()->get(IScriptObject::DefaultMember, {});
    if (r.isObject()) return valueOf(r);
    return r;
}

double roundBankers(double x)
{
    double r = std::floor(x);
    double diff = x - r;
    if (diff > 0.5) return r + 1;
    if (diff < 0.5) return r;
    return std::fmod(r, 2.0) == 0 ? r : r + 1;
}

double toDouble(const Variant& v)
{
    switch (v.type()) {
    case VarType::Empty: return 0;
    case VarType::Null: raiseError(err::InvalidUseOfNull);
    case VarType::Boolean: return v.boolVal() ? -1 : 0;
    case VarType::Byte: return v.byteVal();
    case VarType::Integer: return v.integerVal();
    case VarType::Long: return v.longVal();
    case VarType::Single: return v.singleVal();
    case VarType::Double: case VarType::Date: return v.doubleVal();
    case VarType::Currency: return double(v.currencyVal()) / 10000.0;
    case VarType::Decimal: return v.decimalVal().toDouble();
    case VarType::String: {
        auto d = parseNumber(v.str());
        if (!d) raiseError(err::TypeMismatch);
        return *d;
    }
    case VarType::Object: return toDouble(valueOf(v));
    default: raiseError(err::TypeMismatch);
    }
}

float toSingle(const Variant& v)
{
    double d = toDouble(v);
    if (std::fabs(d) > 3.402823466e38) raiseError(err::Overflow);
    return float(d);
}

static double roundedInRange(const Variant& v, double lo, double hi)
{
    switch (v.type()) {
    case VarType::Boolean: return v.boolVal() ? -1 : 0;
    case VarType::Byte: return v.byteVal();
    case VarType::Integer: return v.integerVal();
    case VarType::Long: return v.longVal();
    default: break;
    }
    double r = roundBankers(toDouble(v));
    if (!(r >= lo && r <= hi)) raiseError(err::Overflow);
    return r;
}

int32_t toLong(const Variant& v)
{
    if (v.type() == VarType::Long) return v.longVal();
    return int32_t(roundedInRange(v, -2147483648.0, 2147483647.0));
}

int16_t toInteger(const Variant& v)
{
    double r = roundedInRange(v, -32768.0, 32767.0);
    if (r < -32768.0 || r > 32767.0) raiseError(err::Overflow);
    return int16_t(r);
}

uint8_t toByte(const Variant& v)
{
    double r = roundedInRange(v, 0.0, 255.0);
    if (r < 0 || r > 255.0) raiseError(err::Overflow);
    return uint8_t(r);
}

int64_t toCurrency(const Variant& v)
{
    switch (v.type()) {
    case VarType::Currency: return v.currencyVal();
    case VarType::Decimal: {
        __int128 m = v.decimalVal().mantissa();
        int s = v.decimalVal().scale;
        __int128 r;
        if (s <= 4) {
            r = m * static_cast<__int128>(pow10u(4 - s));
        } else {
            __int128 p = static_cast<__int128>(pow10u(s - 4));
            __int128 q = m / p, rem = m % p;
            __int128 twice = (rem < 0 ? -rem : rem) * 2;
            if (twice > p || (twice == p && (q & 1))) q += m < 0 ? -1 : 1;
            r = q;
        }
        if (r < INT64_MIN || r > INT64_MAX) raiseError(err::Overflow);
        return int64_t(r);
    }
    case VarType::String: {
        if (auto d = Decimal::parse(v.str())) return toCurrency(Variant::fromDecimal(*d));
        break;
    }
    default: break;
    }
    double d = toDouble(v);
    double r = roundBankers(d * 10000.0);
    if (!(r >= -9.2233720368547758e18 && r < 9.2233720368547758e18)) raiseError(err::Overflow);
    return int64_t(r);
}

Decimal toDecimal(const Variant& v)
{
    switch (v.type()) {
    case VarType::Decimal: return v.decimalVal();
    case VarType::Byte: return Decimal::fromInt64(v.byteVal());
    case VarType::Integer: return Decimal::fromInt64(v.integerVal());
    case VarType::Long: return Decimal::fromInt64(v.longVal());
    case VarType::Boolean: return Decimal::fromInt64(v.boolVal() ? -1 : 0);
    case VarType::Empty: return Decimal();
    case VarType::Currency: return *Decimal::fromMantissa(v.currencyVal(), 4);
    case VarType::String:
        if (auto d = Decimal::parse(v.str())) return *d;
        break;
    default: break;
    }
    auto d = Decimal::fromDouble(toDouble(v));
    if (!d) raiseError(err::Overflow);
    return *d;
}

bool toBool(const Variant& v)
{
    switch (v.type()) {
    case VarType::Empty: return false;
    case VarType::Null: raiseError(err::InvalidUseOfNull);
    case VarType::Boolean: return v.boolVal();
    case VarType::String: {
        QStringView s = QStringView(v.str()).trimmed();
        if (s.compare(u"True", Qt::CaseInsensitive) == 0 || s.compare(u"#TRUE#", Qt::CaseInsensitive) == 0) return true;
        if (s.compare(u"False", Qt::CaseInsensitive) == 0 || s.compare(u"#FALSE#", Qt::CaseInsensitive) == 0) return false;
        auto d = parseNumber(s);
        if (!d) raiseError(err::TypeMismatch);
        return *d != 0;
    }
    case VarType::Decimal: return !v.decimalVal().isZero();
    case VarType::Currency: return v.currencyVal() != 0;
    default: return toDouble(v) != 0;
    }
}

static constexpr double kMinDate = -657434.0;        // 1/1/100
static constexpr double kMaxDate = 2958465.999994213; // 12/31/9999 23:59:59.5

double toDate(const Variant& v)
{
    switch (v.type()) {
    case VarType::Date: return v.dateVal();
    case VarType::Null: raiseError(err::InvalidUseOfNull);
    case VarType::String: {
        auto d = parseDate(v.str());
        if (!d) raiseError(err::TypeMismatch);
        return *d;
    }
    case VarType::Object: return toDate(valueOf(v));
    default: {
        double d = toDouble(v);
        if (!(d >= kMinDate && d < 2958466.0)) raiseError(err::Overflow);
        return d;
    }
    }
}

QString toStr(const Variant& v)
{
    switch (v.type()) {
    case VarType::Empty: return QString();
    case VarType::Null: raiseError(err::InvalidUseOfNull);
    case VarType::Boolean: return v.boolVal() ? QStringLiteral("True") : QStringLiteral("False");
    case VarType::Byte: return QString::number(v.byteVal());
    case VarType::Integer: return QString::number(v.integerVal());
    case VarType::Long: return QString::number(v.longVal());
    case VarType::Single: return formatSingle(v.singleVal());
    case VarType::Double: return formatDouble(v.doubleVal());
    case VarType::Currency: return formatCurrency(v.currencyVal());
    case VarType::Date: return formatDate(v.dateVal());
    case VarType::Decimal: return v.decimalVal().toString();
    case VarType::String: return v.str();
    case VarType::Object: return toStr(valueOf(v));
    default: raiseError(err::TypeMismatch);
    }
}

Variant toNumeric(const Variant& v)
{
    switch (v.type()) {
    case VarType::Empty: return Variant::fromInteger(0);
    case VarType::String: {
        auto d = parseNumber(v.str());
        if (!d) raiseError(err::TypeMismatch);
        return Variant::fromDouble(*d);
    }
    case VarType::Object: return toNumeric(valueOf(v));
    case VarType::Array: case VarType::Error: raiseError(err::TypeMismatch);
    default: return v;
    }
}

std::optional<double> parseNumber(QStringView text)
{
    qsizetype i = 0, n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    while (n > i && (text[n - 1] == u' ' || text[n - 1] == u'\t')) --n;
    if (i >= n) return std::nullopt;
    if (text[i] == u'&' && i + 1 < n) {
        QChar k = text[i + 1].toUpper();
        int base = k == u'H' ? 16 : k == u'O' ? 8 : 0;
        if (!base) return std::nullopt;
        qsizetype j = i + 2;
        uint64_t val = 0;
        int digits = 0;
        for (; j < n; ++j) {
            int dv = -1;
            char16_t c = text[j].unicode();
            if (c >= '0' && c <= '9') dv = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') dv = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') dv = c - 'A' + 10;
            if (dv < 0 || dv >= base) return std::nullopt;
            val = val * uint64_t(base) + uint64_t(dv);
            if (val > 0xFFFFFFFFull) return std::nullopt;
            ++digits;
        }
        if (!digits) return std::nullopt;
        // As with literals: up to 16 bits read as Integer, else as Long.
        if (val <= 0xFFFF) return double(int16_t(uint16_t(val)));
        return double(int32_t(uint32_t(val)));
    }
    std::string buf;
    buf.reserve(size_t(n - i));
    qsizetype j = i;
    if (text[j] == u'+' || text[j] == u'-') { buf += char(text[j].unicode()); ++j; }
    while (j < n && text[j] == u' ') ++j;
    int digits = 0;
    bool point = false;
    for (; j < n; ++j) {
        char16_t c = text[j].unicode();
        if (c >= '0' && c <= '9') { buf += char(c); ++digits; }
        else if (c == ',' && !point && digits > 0) continue;
        else if (c == '.' && !point) { buf += '.'; point = true; }
        else break;
    }
    if (!digits) return std::nullopt;
    if (j < n && (text[j] == u'e' || text[j] == u'E' || text[j] == u'd' || text[j] == u'D')) {
        buf += 'e';
        ++j;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) { buf += char(text[j].unicode()); ++j; }
        int ed = 0;
        for (; j < n && text[j].unicode() >= '0' && text[j].unicode() <= '9'; ++j) { buf += char(text[j].unicode()); ++ed; }
        if (!ed) return std::nullopt;
    }
    if (j != n) return std::nullopt;
    char* end = nullptr;
    double d = std::strtod(buf.c_str(), &end);
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

static QString fixExponent(const char* buf)
{
    QString s = QString::fromLatin1(buf);
    if (s == u"-0") return QStringLiteral("0");
    return s;
}

QString formatDouble(double x)
{
    if (x == 0) return QStringLiteral("0");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", x);
    return fixExponent(buf);
}

QString formatSingle(float x)
{
    if (x == 0) return QStringLiteral("0");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7G", double(x));
    return fixExponent(buf);
}

QString formatCurrency(int64_t scaled)
{
    bool neg = scaled < 0;
    uint64_t a = neg ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    QString s = QString::number(a / 10000);
    uint64_t frac = a % 10000;
    if (frac) {
        QString f = QStringLiteral("%1").arg(frac, 4, 10, QChar(u'0'));
        while (f.endsWith(u'0')) f.chop(1);
        s += u'.';
        s += f;
    }
    if (neg) s.prepend(u'-');
    return s;
}

// ---------------------------------------------------------------- dates

// Days from 1/1/1970 of a proleptic Gregorian date (era arithmetic: 400
// year cycles of 146097 days, years starting in March).
static int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

static void civilFromDays(int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

static constexpr int64_t kSerialEpoch = 25569;   // 12/30/1899 is day -25569 from 1/1/1970

static int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return days[m - 1];
}

std::optional<double> makeDate(const DateTimeParts& p)
{
    if (p.year < 100 || p.year > 9999 || p.month < 1 || p.month > 12) return std::nullopt;
    if (p.day < 1 || p.day > daysInMonth(p.year, p.month)) return std::nullopt;
    if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59)
        return std::nullopt;
    double days = double(daysFromCivil(p.year, p.month, p.day) + kSerialEpoch);
    double t = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
    return days >= 0 ? days + t : days - t;
}

DateTimeParts splitDate(double serial)
{
    double ip = std::trunc(serial);
    int64_t days = int64_t(ip);
    int64_t secs = std::llround(std::fabs(serial - ip) * 86400.0);
    if (secs >= 86400) { secs -= 86400; ++days; }
    DateTimeParts p;
    civilFromDays(days - kSerialEpoch, p.year, p.month, p.day);
    p.hour = int(secs / 3600);
    p.minute = int(secs / 60 % 60);
    p.second = int(secs % 60);
    return p;
}

namespace {

// Decimal digits of a value, at least `width` of them (zeros in front).
void appendNumber(QString& s, int value, int width = 0)
{
    char16_t buf[16];
    int n = 0;
    const bool negative = value < 0;
    unsigned u = negative ? 0u - unsigned(value) : unsigned(value);
    do {
        buf[n++] = char16_t(u'0' + u % 10);
        u /= 10;
    } while (u);
    while (n < width) buf[n++] = u'0';
    if (negative) buf[n++] = u'-';
    std::reverse(buf, buf + n);
    s.append(reinterpret_cast<const QChar*>(buf), n);
}

} // namespace

QString formatDate(double serial)
{
    DateTimeParts p = splitDate(serial);
    bool hasTime = p.hour || p.minute || p.second;
    bool hasDate = !(p.year == 1899 && p.month == 12 && p.day == 30);
    QString s;
    s.reserve(24);
    if (hasDate) {
        appendNumber(s, p.month);
        s += u'/';
        appendNumber(s, p.day);
        s += u'/';
        appendNumber(s, p.year);
    }
    if (hasTime || !hasDate) {
        int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
        if (!s.isEmpty()) s += u' ';
        appendNumber(s, h12);
        s += u':';
        appendNumber(s, p.minute, 2);
        s += u':';
        appendNumber(s, p.second, 2);
        s += p.hour < 12 ? QLatin1String(" AM") : QLatin1String(" PM");
    }
    return s;
}

namespace {

struct DateToken {
    enum Kind { Number, Word, Sep } kind = Number;
    int value = 0;
    int digits = 0;
    QString text;
    QChar sep;
};

int monthOfName(const QString& w)
{
    static const char* names[] = {"january", "february", "march", "april", "may", "june", "july",
                                  "august", "september", "october", "november", "december"};
    if (w.size() < 3) return 0;
    QString l = w.toLower();
    for (int i = 0; i < 12; ++i) {
        QString n = QString::fromLatin1(names[i]);
        if (n.startsWith(l) || (l == u"sept" && i == 8)) return i + 1;
    }
    return 0;
}

bool isWeekdayName(const QString& w)
{
    static const char* names[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};
    if (w.size() < 3) return false;
    QString l = w.toLower();
    for (const char* n : names)
        if (QString::fromLatin1(n).startsWith(l)) return true;
    return false;
}

int expandYear(const DateToken& t)
{
    if (t.digits <= 2) return t.value < 30 ? 2000 + t.value : 1900 + t.value;
    return t.value;
}

} // namespace

std::optional<double> parseDate(QStringView text)
{
    QVarLengthArray<DateToken, 16> toks;
    for (qsizetype i = 0; i < text.size();) {
        QChar c = text[i];
        if (c.isSpace()) { ++i; continue; }
        if (c.unicode() >= '0' && c.unicode() <= '9') {
            DateToken t;
            t.kind = DateToken::Number;
            while (i < text.size() && text[i].unicode() >= '0' && text[i].unicode() <= '9') {
                if (t.digits >= 5) return std::nullopt;
                t.value = t.value * 10 + (text[i].unicode() - '0');
                ++t.digits;
                ++i;
            }
            toks.push_back(t);
        } else if (c.isLetter()) {
            DateToken t;
            t.kind = DateToken::Word;
            while (i < text.size() && text[i].isLetter()) t.text += text[i++];
            toks.push_back(t);
        } else if (c == u'/' || c == u'-' || c == u',' || c == u'.' || c == u':') {
            DateToken t;
            t.kind = DateToken::Sep;
            t.sep = c;
            toks.push_back(t);
            ++i;
        } else {
            return std::nullopt;
        }
    }
    // Time: h:mm[:ss] [AM|PM], or h AM|PM.
    int hour = -1, minute = 0, second = 0;
    QVarLengthArray<DateToken, 16> dateToks;
    for (qsizetype i = 0; i < toks.size(); ++i) {
        const DateToken& t = toks[i];
        auto isAmPm = [&](qsizetype k) {
            if (k >= toks.size() || toks[k].kind != DateToken::Word) return 0;
            QString w = toks[k].text.toUpper();
            if (w == u"AM" || w == u"A") return 1;
            if (w == u"PM" || w == u"P") return 2;
            return 0;
        };
        bool timeStart = t.kind == DateToken::Number && hour < 0 &&
                         ((i + 1 < toks.size() && toks[i + 1].kind == DateToken::Sep && toks[i + 1].sep == u':') ||
                          isAmPm(i + 1));
        if (!timeStart) { dateToks.push_back(t); continue; }
        hour = t.value;
        qsizetype k = i + 1;
        int part = 0;
        while (k + 1 < toks.size() && toks[k].kind == DateToken::Sep && toks[k].sep == u':' &&
               toks[k + 1].kind == DateToken::Number && part < 2) {
            (part == 0 ? minute : second) = toks[k + 1].value;
            ++part;
            k += 2;
        }
        // Fractions of seconds are dropped.
        if (part == 2 && k + 1 < toks.size() && toks[k].kind == DateToken::Sep && toks[k].sep == u'.' &&
            toks[k + 1].kind == DateToken::Number)
            k += 2;
        if (int ap = isAmPm(k)) {
            if (hour < 1 || hour > 12) return std::nullopt;
            if (ap == 1 && hour == 12) hour = 0;
            if (ap == 2 && hour < 12) hour += 12;
            ++k;
        }
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
        i = k - 1;
    }
    QVarLengthArray<DateToken, 8> nums;
    int month = 0;
    bool monthFirst = false;
    for (const DateToken& t : dateToks) {
        if (t.kind == DateToken::Number) nums.push_back(t);
        else if (t.kind == DateToken::Word) {
            if (int m = monthOfName(t.text); m && !month) { month = m; monthFirst = nums.empty(); }
            else if (!isWeekdayName(t.text)) return std::nullopt;
        }
    }
    (void)monthFirst;
    DateTimeParts p;
    bool hasDate = !nums.empty() || month;
    if (hasDate) {
        // Only a date without its year asks the clock.
        auto currentYear = [] { return QDate::currentDate().year(); };
        int y = 0, m = 0, d = 0;
        if (month) {
            m = month;
            if (nums.size() == 2) {
                bool firstIsYear = nums[0].digits >= 3 || nums[0].value > 31;
                y = expandYear(firstIsYear ? nums[0] : nums[1]);
                d = firstIsYear ? nums[1].value : nums[0].value;
            } else if (nums.size() == 1) {
                if (nums[0].digits >= 3 || nums[0].value > 31) { y = expandYear(nums[0]); d = 1; }
                else { y = currentYear(); d = nums[0].value; }
            } else {
                return std::nullopt;
            }
        } else if (nums.size() == 3) {
            if (nums[0].digits >= 3 || nums[0].value > 31) {
                y = expandYear(nums[0]); m = nums[1].value; d = nums[2].value;
            } else {
                m = nums[0].value; d = nums[1].value; y = expandYear(nums[2]);
                // A day-first text that cannot be month-first ("31/1/2020").
                if (m > 12 && d <= 12) std::swap(m, d);
            }
        } else if (nums.size() == 2) {
            if (nums[1].digits >= 3 || nums[1].value > 31) { m = nums[0].value; d = 1; y = expandYear(nums[1]); }
            else { m = nums[0].value; d = nums[1].value; y = currentYear(); }
        } else {
            return std::nullopt;
        }
        p.year = y; p.month = m; p.day = d;
    } else if (hour < 0) {
        return std::nullopt;
    }
    if (hour >= 0) { p.hour = hour; p.minute = minute; p.second = second; }
    if (!hasDate) {
        return (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
    }
    return makeDate(p);
}

int compareStrings(const QString& a, const QString& b, bool textCompare)
{
    int c = QString::compare(a, b, textCompare ? Qt::CaseInsensitive : Qt::CaseSensitive);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace vbs
