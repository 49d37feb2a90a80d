#include "script/Operators.h"

#include <cfloat>
#include <cmath>

namespace vbs {

namespace {

// Ranks of the integer-like types; arithmetic on them promotes on overflow.
enum Rank { RByte = 1, RInteger = 2, RLong = 3, RSingle = 4, RDouble = 5, RCurrency = 6, RDecimal = 7, RDate = 8 };

int rankOf(const Variant& v)
{
    switch (v.type()) {
    case VarType::Byte: return RByte;
    case VarType::Integer: case VarType::Boolean: case VarType::Empty: return RInteger;
    case VarType::Long: return RLong;
    case VarType::Single: return RSingle;
    case VarType::Double: return RDouble;
    case VarType::Currency: return RCurrency;
    case VarType::Decimal: return RDecimal;
    case VarType::Date: return RDate;
    default: raiseError(err::TypeMismatch);
    }
}

int64_t intOf(const Variant& v)
{
    switch (v.type()) {
    case VarType::Byte: return v.byteVal();
    case VarType::Integer: return v.integerVal();
    case VarType::Long: return v.longVal();
    case VarType::Boolean: return v.boolVal() ? -1 : 0;
    default: return 0;
    }
}

Variant integerResult(int64_t r, int rank)
{
    if (rank <= RByte && r >= 0 && r <= 255) return Variant::fromByte(uint8_t(r));
    if (rank <= RInteger && r >= -32768 && r <= 32767) return Variant::fromInteger(int16_t(r));
    if (r >= INT32_MIN && r <= INT32_MAX) return Variant::fromLong(int32_t(r));
    return Variant::fromDouble(double(r));
}

Variant decimalResult(__int128 m, int scale)
{
    auto d = Decimal::fromMantissa(m, scale);
    if (!d) raiseError(err::Overflow);
    return Variant::fromDecimal(*d);
}

// Both Decimal mantissas at one scale; false when that would overflow.
bool alignDecimals(const Decimal& a, const Decimal& b, __int128& ma, __int128& mb, int& scale)
{
    scale = std::max(a.scale, b.scale);
    ma = a.mantissa();
    mb = b.mantissa();
    __int128 limit = static_cast<__int128>(1) << 100;
    for (int s = a.scale; s < scale; ++s) { ma *= 10; if (ma > limit || ma < -limit) return false; }
    for (int s = b.scale; s < scale; ++s) { mb *= 10; if (mb > limit || mb < -limit) return false; }
    return true;
}

Variant checkedDouble(double r)
{
    if (!std::isfinite(r)) raiseError(err::Overflow);
    return Variant::fromDouble(r);
}

enum class Arith { Add, Sub, Mul };

Variant arith(Arith op, const Variant& a0, const Variant& b0)
{
    if (a0.isNull() || b0.isNull()) return Variant::null();
    Variant a = toNumeric(a0);
    Variant b = toNumeric(b0);
    if (a.isNull() || b.isNull()) return Variant::null();
    int ra = rankOf(a), rb = rankOf(b);
    // Dates: date +/- number is a date; date - date is a number of days.
    if (ra == RDate || rb == RDate) {
        double x = toDouble(a), y = toDouble(b);
        if (op == Arith::Mul) return checkedDouble(x * y);
        double r = op == Arith::Add ? x + y : x - y;
        if (op == Arith::Sub && ra == RDate && rb == RDate) return checkedDouble(r);
        if (!(r >= -657434.0 && r < 2958466.0)) raiseError(err::Overflow);
        return Variant::fromDate(r);
    }
    if (ra == RDecimal || rb == RDecimal) {
        Decimal da = toDecimal(a), db = toDecimal(b);
        if (op == Arith::Mul) {
            __int128 ma = da.mantissa(), mb = db.mantissa();
            int scale = da.scale + db.scale;
            __int128 r;
            if (!__builtin_mul_overflow(ma, mb, &r)) return decimalResult(r, scale);
            auto d = Decimal::fromDouble(da.toDouble() * db.toDouble());
            if (!d) raiseError(err::Overflow);
            return Variant::fromDecimal(*d);
        }
        __int128 ma, mb;
        int scale;
        if (!alignDecimals(da, db, ma, mb, scale)) {
            auto d = Decimal::fromDouble(op == Arith::Add ? da.toDouble() + db.toDouble() : da.toDouble() - db.toDouble());
            if (!d) raiseError(err::Overflow);
            return Variant::fromDecimal(*d);
        }
        return decimalResult(op == Arith::Add ? ma + mb : ma - mb, scale);
    }
    if (ra == RCurrency || rb == RCurrency) {
        if (ra == RDouble || rb == RDouble || ra == RSingle || rb == RSingle) {
            double x = toDouble(a), y = toDouble(b);
            return checkedDouble(op == Arith::Add ? x + y : op == Arith::Sub ? x - y : x * y);
        }
        __int128 x = toCurrency(a), y = toCurrency(b);
        __int128 r;
        if (op == Arith::Mul) {
            r = x * y;
            __int128 q = r / 10000, rem = r % 10000;
            __int128 twice = (rem < 0 ? -rem : rem) * 2;
            if (twice > 10000 || (twice == 10000 && (q & 1))) q += r < 0 ? -1 : 1;
            r = q;
        } else {
            r = op == Arith::Add ? x + y : x - y;
        }
        if (r < INT64_MIN || r > INT64_MAX) raiseError(err::Overflow);
        return Variant::fromCurrency(int64_t(r));
    }
    if (ra >= RSingle || rb >= RSingle) {
        double x = toDouble(a), y = toDouble(b);
        double r = op == Arith::Add ? x + y : op == Arith::Sub ? x - y : x * y;
        // Single with Single or a small integer stays Single when it fits.
        if (std::max(ra, rb) == RSingle && ra != RLong && rb != RLong && std::fabs(r) <= 3.402823466e38)
            return Variant::fromSingle(float(r));
        return checkedDouble(r);
    }
    int64_t x = intOf(a), y = intOf(b);
    int64_t r = op == Arith::Add ? x + y : op == Arith::Sub ? x - y : x * y;
    int rank = std::max(ra, rb);
    if (a.type() == VarType::Boolean && b.type() == VarType::Boolean) rank = RInteger;
    return integerResult(r, rank);
}

// Operand of the logical operators: Boolean, Null, or an integer.
struct Logical {
    bool isNull = false;
    bool isBool = false;
    int rank = RInteger;
    int32_t bits = 0;
};

Logical logicalOf(const Variant& v0)
{
    Logical l;
    const Variant v = v0.isObject() ? valueOf(v0) : v0;
    switch (v.type()) {
    case VarType::Null: l.isNull = true; return l;
    case VarType::Boolean: l.isBool = true; l.bits = v.boolVal() ? -1 : 0; return l;
    case VarType::Empty: l.bits = 0; return l;
    case VarType::Byte: l.rank = RByte; l.bits = v.byteVal(); return l;
    case VarType::Integer: l.bits = v.integerVal(); return l;
    case VarType::String: {
        QStringView s = QStringView(v.str()).trimmed();
        if (s.compare(u"True", Qt::CaseInsensitive) == 0) { l.isBool = true; l.bits = -1; return l; }
        if (s.compare(u"False", Qt::CaseInsensitive) == 0) { l.isBool = true; l.bits = 0; return l; }
        l.rank = RLong;
        l.bits = toLong(v);
        return l;
    }
    default: l.rank = RLong; l.bits = toLong(v); return l;
    }
}

Variant logicalResult(int32_t bits, const Logical& a, const Logical& b)
{
    bool aKnown = !a.isNull, bKnown = !b.isNull;
    bool allBool = (a.isBool || !aKnown) && (b.isBool || !bKnown);
    if (allBool) return Variant::fromBool(bits != 0);
    int rank = RInteger;
    if (aKnown && bKnown) {
        rank = std::max(a.isBool ? RInteger : a.rank, b.isBool ? RInteger : b.rank);
        if (a.rank == RByte && b.rank == RByte && !a.isBool && !b.isBool) rank = RByte;
    } else {
        rank = aKnown ? (a.isBool ? RInteger : a.rank) : (b.isBool ? RInteger : b.rank);
    }
    if (rank == RByte) return Variant::fromByte(uint8_t(bits));
    if (rank == RInteger) return Variant::fromInteger(int16_t(bits));
    return Variant::fromLong(bits);
}

int sign(double d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

int compareNumbers(const Variant& a, const Variant& b)
{
    if (a.type() == VarType::Decimal || b.type() == VarType::Decimal) {
        __int128 ma, mb;
        int scale;
        if (alignDecimals(toDecimal(a), toDecimal(b), ma, mb, scale)) return ma < mb ? -1 : ma > mb ? 1 : 0;
    }
    if (a.type() == VarType::Currency && b.type() == VarType::Currency) {
        return a.currencyVal() < b.currencyVal() ? -1 : a.currencyVal() > b.currencyVal() ? 1 : 0;
    }
    // A Single against a Double compares in single precision:
    // CSng(0.001 * 0.001) = 1E-06.
    const bool aSingle = a.type() == VarType::Single, bSingle = b.type() == VarType::Single;
    auto inSingleRange = [](const Variant& v) {
        return v.type() == VarType::Single || (v.type() == VarType::Double && std::fabs(v.doubleVal()) <= FLT_MAX);
    };
    if ((aSingle || bSingle) && inSingleRange(a) && inSingleRange(b)) {
        const float x = aSingle ? a.singleVal() : float(a.doubleVal());
        const float y = bSingle ? b.singleVal() : float(b.doubleVal());
        return x < y ? -1 : x > y ? 1 : 0;
    }
    return sign(toDouble(a) - toDouble(b)) == 0 ? 0 : (toDouble(a) < toDouble(b) ? -1 : 1);
}

bool numericLike(const Variant& v)
{
    return v.isNumber() || v.type() == VarType::Boolean || v.type() == VarType::Date;
}

} // namespace

Variant opAdd(const Variant& a, const Variant& b)
{
    // Two strings (or a string and Empty) concatenate.
    const Variant& x = a.isObject() ? valueOf(a) : a;
    const Variant& y = b.isObject() ? valueOf(b) : b;
    if (x.isString() && (y.isString() || y.isEmpty())) return Variant(x.str() + (y.isString() ? y.str() : QString()));
    if (y.isString() && x.isEmpty()) return y;
    return arith(Arith::Add, x, y);
}

Variant opSub(const Variant& a, const Variant& b) { return arith(Arith::Sub, a, b); }
Variant opMul(const Variant& a, const Variant& b) { return arith(Arith::Mul, a, b); }

Variant opDiv(const Variant& a0, const Variant& b0)
{
    if (a0.isNull() || b0.isNull()) return Variant::null();
    Variant a = toNumeric(a0), b = toNumeric(b0);
    if (a.isNull() || b.isNull()) return Variant::null();
    if (a.type() == VarType::Decimal || b.type() == VarType::Decimal) {
        Decimal db = toDecimal(b);
        if (db.isZero()) raiseError(toDecimal(a).isZero() ? err::Overflow : err::DivisionByZero);
        auto d = Decimal::fromDouble(toDecimal(a).toDouble() / db.toDouble());
        if (!d) raiseError(err::Overflow);
        return Variant::fromDecimal(*d);
    }
    double x = toDouble(a), y = toDouble(b);
    if (y == 0) raiseError(x == 0 ? err::Overflow : err::DivisionByZero);
    return checkedDouble(x / y);
}

static int integerRank(const Variant& v)
{
    switch (v.type()) {
    case VarType::Byte: return RByte;
    case VarType::Integer: case VarType::Boolean: case VarType::Empty: return RInteger;
    default: return RLong;
    }
}

Variant opIntDiv(const Variant& a0, const Variant& b0)
{
    if (a0.isNull() || b0.isNull()) return Variant::null();
    Variant a = toNumeric(a0), b = toNumeric(b0);
    if (a.isNull() || b.isNull()) return Variant::null();
    int64_t x = toLong(a), y = toLong(b);
    if (y == 0) raiseError(err::DivisionByZero);
    // The quotient is a Long at most: -2147483648 \ -1 overflows.
    if (x / y > INT32_MAX) raiseError(err::Overflow);
    return integerResult(x / y, std::max(integerRank(a), integerRank(b)));
}

Variant opMod(const Variant& a0, const Variant& b0)
{
    if (a0.isNull() || b0.isNull()) return Variant::null();
    Variant a = toNumeric(a0), b = toNumeric(b0);
    if (a.isNull() || b.isNull()) return Variant::null();
    int64_t x = toLong(a), y = toLong(b);
    if (y == 0) raiseError(err::DivisionByZero);
    return integerResult(x % y, std::max(integerRank(a), integerRank(b)));
}

Variant opPow(const Variant& a0, const Variant& b0)
{
    if (a0.isNull() || b0.isNull()) return Variant::null();
    double x = toDouble(a0), y = toDouble(b0);
    if (x == 0 && y < 0) raiseError(err::DivisionByZero);
    if (x < 0 && y != std::floor(y)) raiseError(err::InvalidCall);
    return checkedDouble(std::pow(x, y));
}

Variant opNeg(const Variant& a0)
{
    if (a0.isNull()) return Variant::null();
    Variant a = toNumeric(a0);
    switch (a.type()) {
    case VarType::Null: return a;
    case VarType::Byte: case VarType::Integer: case VarType::Boolean:
        return integerResult(-intOf(a), RInteger);
    case VarType::Long: return integerResult(-int64_t(a.longVal()), RLong);
    case VarType::Single: return Variant::fromSingle(-a.singleVal());
    case VarType::Double: return Variant::fromDouble(-a.doubleVal());
    case VarType::Date: return Variant::fromDate(-a.dateVal());
    case VarType::Currency:
        if (a.currencyVal() == INT64_MIN) raiseError(err::Overflow);
        return Variant::fromCurrency(-a.currencyVal());
    case VarType::Decimal: {
        Decimal d = a.decimalVal();
        if (!d.isZero()) d.negative = !d.negative;
        return Variant::fromDecimal(d);
    }
    default: raiseError(err::TypeMismatch);
    }
}

Variant opConcat(const Variant& a, const Variant& b)
{
    if (a.isNull() && b.isNull()) return Variant::null();
    QString s = a.isNull() ? QString() : toStr(a);
    if (!b.isNull()) s += toStr(b);
    return Variant(std::move(s));
}

Variant opNot(const Variant& a)
{
    Logical l = logicalOf(a);
    if (l.isNull) return Variant::null();
    return logicalResult(~l.bits, l, l);
}

Variant opAnd(const Variant& a, const Variant& b)
{
    Logical x = logicalOf(a), y = logicalOf(b);
    if (x.isNull && y.isNull) return Variant::null();
    if (x.isNull || y.isNull) {
        const Logical& known = x.isNull ? y : x;
        if (known.bits == 0) return logicalResult(0, x, y);
        return Variant::null();
    }
    return logicalResult(x.bits & y.bits, x, y);
}

Variant opOr(const Variant& a, const Variant& b)
{
    Logical x = logicalOf(a), y = logicalOf(b);
    if (x.isNull && y.isNull) return Variant::null();
    if (x.isNull || y.isNull) {
        const Logical& known = x.isNull ? y : x;
        if (known.bits == -1) return logicalResult(-1, x, y);
        return Variant::null();
    }
    return logicalResult(x.bits | y.bits, x, y);
}

Variant opXor(const Variant& a, const Variant& b)
{
    Logical x = logicalOf(a), y = logicalOf(b);
    if (x.isNull || y.isNull) return Variant::null();
    return logicalResult(x.bits ^ y.bits, x, y);
}

Variant opEqv(const Variant& a, const Variant& b)
{
    Logical x = logicalOf(a), y = logicalOf(b);
    if (x.isNull || y.isNull) return Variant::null();
    return logicalResult(~(x.bits ^ y.bits), x, y);
}

Variant opImp(const Variant& a, const Variant& b)
{
    Logical x = logicalOf(a), y = logicalOf(b);
    if (x.isNull && y.isNull) return Variant::null();
    if (x.isNull) {
        if (y.bits == -1) return logicalResult(-1, x, y);
        return Variant::null();
    }
    if (y.isNull) {
        if (x.bits == 0) return logicalResult(-1, x, y);
        return Variant::null();
    }
    return logicalResult(~x.bits | y.bits, x, y);
}

int compareValues(const Variant& a0, const Variant& b0, bool aLiteral, bool bLiteral, bool textCompare)
{
    const Variant a = a0.isObject() ? valueOf(a0) : a0;
    const Variant b = b0.isObject() ? valueOf(b0) : b0;
    if (a.isArray() || b.isArray()) raiseError(err::TypeMismatch);
    if (a.isEmpty() && b.isEmpty()) return 0;
    if (a.isString() && b.isString()) return compareStrings(a.str(), b.str(), textCompare);
    if (a.isString() && b.isEmpty()) return compareStrings(a.str(), QString(), textCompare);
    if (a.isEmpty() && b.isString()) return compareStrings(QString(), b.str(), textCompare);
    if (a.isEmpty()) return compareNumbers(Variant::fromInteger(0), b);
    if (b.isEmpty()) return compareNumbers(a, Variant::fromInteger(0));
    if (numericLike(a) && numericLike(b)) return compareNumbers(a, b);
    // A string against a number.
    bool aStr = a.isString();
    const Variant& s = aStr ? a : b;
    const Variant& num = aStr ? b : a;
    bool sLit = aStr ? aLiteral : bLiteral;
    bool numLit = aStr ? bLiteral : aLiteral;
    int r;
    if (sLit) {
        // A literal that is no number leaves the general rule.
        std::optional<double> d = num.type() == VarType::Date ? parseDate(s.str()) : parseNumber(s.str());
        r = d ? compareNumbers(Variant::fromDouble(*d), num) : 1;
    } else if (numLit) {
        r = compareStrings(s.str(), toStr(num), textCompare);
    } else {
        r = 1;   // the string is the greater
    }
    return aStr ? r : -r;
}

Variant opCompare(CompareOp op, const Variant& a, const Variant& b, bool aLiteral, bool bLiteral)
{
    if (a.isNull() || b.isNull()) return Variant::null();
    int c = compareValues(a, b, aLiteral, bLiteral);
    bool r = false;
    switch (op) {
    case CompareOp::Eq: r = c == 0; break;
    case CompareOp::Ne: r = c != 0; break;
    case CompareOp::Lt: r = c < 0; break;
    case CompareOp::Gt: r = c > 0; break;
    case CompareOp::Le: r = c <= 0; break;
    case CompareOp::Ge: r = c >= 0; break;
    }
    return Variant::fromBool(r);
}

bool opIs(const Variant& a, const Variant& b)
{
    if (!a.isObject() || !b.isObject()) raiseError(err::ObjectRequired);
    return a.obj() == b.obj();
}

bool conditionValue(const Variant& v)
{
    switch (v.type()) {
    case VarType::Boolean: return v.boolVal();
    case VarType::Null: case VarType::Empty: return false;
    case VarType::Object: return conditionValue(valueOf(v));
    default: return toBool(v);
    }
}

} // namespace vbs
