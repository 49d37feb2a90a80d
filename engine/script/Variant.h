#pragma once

// The value type of the script language: a VBScript Variant. Scalars are
// held inline; strings are QString (UTF-16, as VBScript's own strings);
// objects are shared host objects; arrays are shared with copy-on-write so
// that assignment and passing keep VBScript's by-value array semantics.
//
// Errors inside the interpreter travel as thrown ScriptError values; the
// host API (ScriptControl) catches them all, none leaves the engine.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vbs {

// VarType numbers, as VBScript's VarType reports them.
enum class VarType : uint16_t {
    Empty = 0, Null = 1, Integer = 2, Long = 3, Single = 4, Double = 5, Currency = 6,
    Date = 7, String = 8, Object = 9, Error = 10, Boolean = 11, Variant = 12,
    Decimal = 14, Byte = 17, Array = 8192
};

// ---------------------------------------------------------------- errors

// A VBScript error: number and description as VBScript's own, optional source.
struct ScriptError {
    int number = 0;
    QString description;
    QString source;
    // Set for errors that On Error Resume Next must not swallow (the
    // instruction budget, stack exhaustion): they always end the evaluation.
    bool fatal = false;
    // Err.Raise's help file and context.
    QString helpFile;
    int32_t helpContext = 0;
};

// Standard description of a VBScript error number ("Type mismatch" for 13);
// "Unknown runtime error" for numbers VBScript does not name.
QString errorDescription(int number);
[[noreturn]] void raiseError(int number);
[[noreturn]] void raiseError(int number, const QString& description);

// Frequently raised numbers.
namespace err {
constexpr int InvalidCall = 5;          // Invalid procedure call or argument
constexpr int Overflow = 6;
constexpr int SubscriptOutOfRange = 9;
constexpr int ArrayFixed = 10;          // This array is fixed or temporarily locked
constexpr int DivisionByZero = 11;
constexpr int TypeMismatch = 13;
constexpr int OutOfStack = 28;
constexpr int PermissionDenied = 70;
constexpr int ObjectNotSet = 91;        // Object variable not set
constexpr int InvalidUseOfNull = 94;
constexpr int ObjectRequired = 424;
constexpr int CannotCreateObject = 429;
constexpr int NoSuchMember = 438;       // Object doesn't support this property or method
constexpr int WrongArgCount = 450;      // Wrong number of arguments or invalid property assignment
constexpr int NotACollection = 451;
constexpr int VariableUndefined = 500;
constexpr int IllegalAssignment = 501;
constexpr int SyntaxError = 1002;
constexpr int ExpectedEndOfStatement = 1025;
// Our own: the per-evaluation instruction budget ran out (an endless loop).
constexpr int InstructionBudget = 1099;
} // namespace err

// ---------------------------------------------------------------- decimal

// VBScript's Decimal: a 96-bit unsigned mantissa, a sign and a decimal
// scale 0..28. Database integers beyond the Long range that a Double cannot
// hold exactly travel as Decimal, so they are written back without loss.
struct Decimal {
    uint64_t lo = 0;
    uint32_t hi = 0;
    uint8_t scale = 0;
    bool negative = false;

    static Decimal fromInt64(int64_t v);
    // nullopt when |mantissa| needs more than 96 bits or scale is outside 0..28.
    static std::optional<Decimal> fromMantissa(__int128 mantissa, int scale);
    // Nearest Decimal (at most 15 significant digits as VBScript); nullopt out of range.
    static std::optional<Decimal> fromDouble(double v);
    // Parses "-123.45" (no exponent); nullopt when not a number or out of range.
    static std::optional<Decimal> parse(QStringView text);

    __int128 mantissa() const;   // signed
    double toDouble() const;
    QString toString() const;    // "123.45", no trailing zeros after the point
    bool isZero() const { return lo == 0 && hi == 0; }
    // Exact integer value when the Decimal is integral and fits.
    std::optional<int64_t> toInt64() const;
};

// ---------------------------------------------------------------- objects

class Variant;
class IScriptObject;
struct ArrayData;
namespace rt { class ClassInstance; }
using ObjectRef = std::shared_ptr<IScriptObject>;
using ArrayRef = std::shared_ptr<ArrayData>;

// An object supplied by the host (a step's recordset, the Steps collection,
// a node). Member names are resolved to ids once per call site; the call
// site then invokes by id. Member id 0 is the default member: `X("Field")`
// is get(0, {"Field"}), and reading an object where a value is needed is
// get(0, {}). Failures are reported by throwing ScriptError (raiseError).
class IScriptObject {
public:
    static constexpr int DefaultMember = 0;
    static constexpr int UnknownMember = -1;

    virtual ~IScriptObject() = default;
    // TypeName of the object.
    virtual QString typeName() const { return QStringLiteral("Object"); }
    // Id of a member (case-insensitive name), UnknownMember when there is none.
    virtual int memberId(const QString& name) { (void)name; return UnknownMember; }
    // Objects whose member ids mean the same return the same key, so a call
    // site resolves a name once for all of them; the default is per object.
    virtual const void* memberClass() const { return this; }
    // Property get or method call.
    virtual Variant get(int id, std::span<Variant> args);
    // As get, where the script wants an object (`X("Field").Value`,
    // `Set f = X("Field")`, `With X("Field")`): a member that reads a value
    // may hand out the object that holds it instead.
    virtual Variant getObject(int id, std::span<Variant> args);
    // Property assignment `X.Name(args) = value`.
    virtual void put(int id, std::span<Variant> args, const Variant& value);
    // For Each: the items of a collection; false when the object is not one.
    virtual bool items(std::vector<Variant>& out) { (void)out; return false; }
    // An instance of a class written in script (its members take ByRef arguments).
    virtual rt::ClassInstance* classInstance() { return nullptr; }
};

// ---------------------------------------------------------------- variant

class Variant {
public:
    Variant() noexcept : type_(VarType::Empty) { u_.i64 = 0; }
    Variant(const QString& s) : type_(VarType::String) { new (&u_.str) QString(s); }
    Variant(QString&& s) noexcept : type_(VarType::String) { new (&u_.str) QString(std::move(s)); }
    Variant(const Variant& o) : type_(VarType::Empty) { copyFrom(o); }
    Variant(Variant&& o) noexcept : type_(VarType::Empty) { moveFrom(std::move(o)); }
    ~Variant() { clear(); }
    Variant& operator=(const Variant& o) { if (this != &o) { Variant t(o); clear(); moveFrom(std::move(t)); } return *this; }
    Variant& operator=(Variant&& o) noexcept { if (this != &o) { clear(); moveFrom(std::move(o)); } return *this; }

    static Variant empty() { return Variant(); }
    static Variant null() { Variant v; v.type_ = VarType::Null; return v; }
    static Variant fromBool(bool b) { Variant v; v.type_ = VarType::Boolean; v.u_.b = b; return v; }
    static Variant fromByte(uint8_t x) { Variant v; v.type_ = VarType::Byte; v.u_.i64 = x; return v; }
    static Variant fromInteger(int16_t x) { Variant v; v.type_ = VarType::Integer; v.u_.i64 = x; return v; }
    static Variant fromLong(int32_t x) { Variant v; v.type_ = VarType::Long; v.u_.i64 = x; return v; }
    static Variant fromSingle(float x) { Variant v; v.type_ = VarType::Single; v.u_.f = x; return v; }
    static Variant fromDouble(double x) { Variant v; v.type_ = VarType::Double; v.u_.d = x; return v; }
    // Currency as a count of ten-thousandths (12.5 is 125000).
    static Variant fromCurrency(int64_t scaled) { Variant v; v.type_ = VarType::Currency; v.u_.i64 = scaled; return v; }
    // Date serial: days since 12/30/1899, the fraction being the time of day.
    static Variant fromDate(double serial) { Variant v; v.type_ = VarType::Date; v.u_.d = serial; return v; }
    static Variant fromDecimal(const Decimal& x) { Variant v; v.type_ = VarType::Decimal; v.u_.dec = x; return v; }
    static Variant fromString(QString s) { return Variant(std::move(s)); }
    // A null ObjectRef is Nothing.
    static Variant fromObject(ObjectRef o) { Variant v; v.type_ = VarType::Object; new (&v.u_.obj) ObjectRef(std::move(o)); return v; }
    static Variant nothing() { return fromObject(nullptr); }
    // An argument left out of a call (`F(a, , c)`): the Error value
    // DISP_E_PARAMNOTFOUND, as VBScript passes it.
    static Variant missing() { Variant v; v.type_ = VarType::Error; v.u_.i64 = int32_t(0x80020004u); return v; }
    bool isMissing() const { return type_ == VarType::Error && u_.i64 == int32_t(0x80020004u); }
    static Variant fromArray(ArrayRef a) { Variant v; v.type_ = VarType::Array; new (&v.u_.arr) ArrayRef(std::move(a)); return v; }
    // Smallest of Integer/Long/Double (then Decimal) that holds the value exactly.
    static Variant fromInt64(int64_t x);

    VarType type() const { return type_; }
    bool isEmpty() const { return type_ == VarType::Empty; }
    bool isNull() const { return type_ == VarType::Null; }
    bool isString() const { return type_ == VarType::String; }
    bool isObject() const { return type_ == VarType::Object; }
    bool isNothing() const { return type_ == VarType::Object && !u_.obj; }
    bool isArray() const { return type_ == VarType::Array; }
    // Byte, Integer, Long, Single, Double, Currency, Decimal (not Boolean, not Date).
    bool isNumber() const;

    // Raw access; the caller has checked type().
    bool boolVal() const { return u_.b; }
    uint8_t byteVal() const { return uint8_t(u_.i64); }
    int16_t integerVal() const { return int16_t(u_.i64); }
    int32_t longVal() const { return int32_t(u_.i64); }
    float singleVal() const { return u_.f; }
    double doubleVal() const { return u_.d; }
    int64_t currencyVal() const { return u_.i64; }
    double dateVal() const { return u_.d; }
    const Decimal& decimalVal() const { return u_.dec; }
    const QString& str() const { return u_.str; }
    const ObjectRef& obj() const { return u_.obj; }
    const ArrayRef& arr() const { return u_.arr; }
    // The array, unshared first so a change does not reach other copies.
    ArrayData& mutableArr();

private:
    // Inline: most values a formula makes and drops own nothing.
    void clear() noexcept
    {
        if (type_ == VarType::String || type_ == VarType::Object || type_ == VarType::Array) release();
        type_ = VarType::Empty;
        u_.i64 = 0;
    }
    void release() noexcept;   // destroys the string, object or array held
    void copyFrom(const Variant& o);
    // Inline as well: every value handed on is moved, often more than once.
    void moveFrom(Variant&& o) noexcept
    {
        switch (o.type_) {
        case VarType::String: new (&u_.str) QString(std::move(o.u_.str)); break;
        case VarType::Object: new (&u_.obj) ObjectRef(std::move(o.u_.obj)); break;
        case VarType::Array: new (&u_.arr) ArrayRef(std::move(o.u_.arr)); break;
        case VarType::Decimal: u_.dec = o.u_.dec; break;
        default: u_.i64 = o.u_.i64; break;
        }
        type_ = o.type_;
        o.clear();
    }

    VarType type_;
    union U {
        U() {}
        ~U() {}
        bool b;
        int64_t i64;
        float f;
        double d;
        Decimal dec;
        QString str;
        ObjectRef obj;
        ArrayRef arr;
    } u_;
};

// An array: every dimension starts at 0 (VBScript has no other lower
// bound). Items are stored with the first index varying fastest, so that
// ReDim Preserve of the last dimension keeps every item in place.
struct ArrayData {
    std::vector<int32_t> extents;   // item count per dimension; empty = not yet dimensioned
    std::vector<Variant> items;
    bool fixedSize = false;         // declared `Dim a(n)`: ReDim refuses it
    int locks = 0;                  // items passed ByRef to a running call: ReDim refuses it

    int dims() const { return int(extents.size()); }
    // Upper bound of dimension dim (0-based), as UBound(a, dim + 1).
    int32_t upperBound(int dim) const { return extents[size_t(dim)] - 1; }
    // A one-dimensional array of the given items (Array(), Split()).
    static ArrayRef vector(std::vector<Variant> items);
    // An array with the given upper bounds (-1 allowed: no items), Empty items.
    static ArrayRef withBounds(std::span<const int32_t> upperBounds);
    // Item at the given indexes; raises 9 when out of range or the count of indexes differs.
    Variant& at(std::span<const int32_t> indexes);
};

// ---------------------------------------------------------------- conversions
// All conversions follow VBScript (US-English) and raise VBScript errors:
// 13 Type mismatch, 6 Overflow, 94 Invalid use of Null. An object converts
// through its default member (get(0, {})); Nothing raises 91.

// Value of an object's default member; any other value as it is.
Variant valueOf(const Variant& v);

QString toStr(const Variant& v);          // CStr (Empty -> "")
double toDouble(const Variant& v);        // CDbl (Empty -> 0)
float toSingle(const Variant& v);         // CSng
int32_t toLong(const Variant& v);         // CLng, banker's rounding
int16_t toInteger(const Variant& v);      // CInt, banker's rounding
uint8_t toByte(const Variant& v);         // CByte, banker's rounding
int64_t toCurrency(const Variant& v);     // CCur as ten-thousandths, banker's rounding
Decimal toDecimal(const Variant& v);
bool toBool(const Variant& v);            // CBool; "True"/"False" texts and numbers
double toDate(const Variant& v);          // CDate: serial; texts parsed US-English

// Numeric view for arithmetic: Empty -> Integer 0, String -> Double (13
// when not numeric), Date stays Date, Boolean stays Boolean, numbers as
// they are, objects through their default member. Null stays Null.
Variant toNumeric(const Variant& v);

// Round half to even (VBScript's rounding in CInt, CLng, CByte, CCur).
double roundBankers(double x);

// VBScript's numeric text: optional blanks and sign, digits with ","
// thousands separators, "." decimals, exponent, or &H / &O prefixes.
std::optional<double> parseNumber(QStringView text);

// Texts of numbers as CStr gives them: 15 significant digits for Double
// ("0.333333333333333", "1E+20", "1E-05"), 7 for Single.
QString formatDouble(double x);
QString formatSingle(float x);
QString formatCurrency(int64_t scaled);

// ---------------------------------------------------------------- dates

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
};
// Serial of a valid calendar date and time (no overflow of the parts);
// nullopt outside 1/1/100 .. 12/31/9999 or for invalid parts.
std::optional<double> makeDate(const DateTimeParts& p);
// Parts of a serial, the time rounded to the nearest second.
DateTimeParts splitDate(double serial);
// CStr of a date: "M/D/YYYY h:mm:ss AM"; the date alone when the time is
// midnight, the time alone when the date is 12/30/1899 (0 is "12:00:00 AM").
QString formatDate(double serial);
// US-English date and time texts: "1/31/2020", "2020-01-31", "Jan 31, 2020",
// "31-Jan-2020", "1/31/2020 3:04 PM", "15:04:05", "3 PM"...
std::optional<double> parseDate(QStringView text);

// ---------------------------------------------------------------- comparison

// VBScript's string comparison modes (vbBinaryCompare, vbTextCompare).
int compareStrings(const QString& a, const QString& b, bool textCompare);

} // namespace vbs
