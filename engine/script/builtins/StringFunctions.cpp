// String functions: Len .. Filter.

#include "script/builtins/LibraryParts.h"
#include "script/builtins/StringOps.h"

#include <algorithm>

namespace vbs::lib {

namespace {

using namespace vbslib;

// A length or count argument: negative raises 5.
int32_t countArg(Args a, size_t i)
{
    const int32_t n = toLong(val(a, i));
    if (n < 0)
        raiseError(err::InvalidCall);
    return n;
}

// The text of a one-dimensional array's items (Join, Filter); 13 otherwise.
QStringList textsOfArray(Args a, size_t i)
{
    const Variant& v = val(a, i);
    if (!v.isArray() || !v.arr())
        raiseError(err::TypeMismatch);
    const ArrayData& data = *v.arr();
    if (data.dims() > 1)
        raiseError(err::TypeMismatch);
    QStringList out;
    out.reserve(static_cast<qsizetype>(data.items.size()));
    for (const Variant& item : data.items)
        out << toStr(item);
    return out;
}

Variant arrayOfTexts(const QStringList& texts)
{
    std::vector<Variant> items;
    items.reserve(static_cast<size_t>(texts.size()));
    for (const QString& s : texts)
        items.emplace_back(s);
    return Variant::fromArray(ArrayData::vector(std::move(items)));
}

Variant fnLen(BuiltinContext&, Args a)
{
    const Variant& v = val(a, 0);
    if (v.isNull())
        return Variant::null();
    if (v.isString())
        return Variant::fromLong(static_cast<int32_t>(v.str().size()));
    return Variant::fromLong(static_cast<int32_t>(toStr(v).size()));
}

Variant fnLeft(BuiltinContext&, Args a)
{
    const int32_t n = countArg(a, 1);
    if (isNullArg(a, 0))
        return Variant::null();
    return Variant(toStr(a[0]).left(n));
}

Variant fnRight(BuiltinContext&, Args a)
{
    const int32_t n = countArg(a, 1);
    if (isNullArg(a, 0))
        return Variant::null();
    return Variant(toStr(a[0]).right(n));
}

Variant fnMid(BuiltinContext&, Args a)
{
    const int32_t start = toLong(val(a, 1));
    if (start < 1)
        raiseError(err::InvalidCall);
    const int32_t length = given(a, 2) ? countArg(a, 2) : -1;
    if (isNullArg(a, 0))
        return Variant::null();
    return Variant(toStr(a[0]).mid(start - 1, length));
}

// Trims blanks only: VBScript leaves tabs and line breaks alone.
Variant trimmed(Args a, bool left, bool right)
{
    if (isNullArg(a, 0))
        return Variant::null();
    const QString s = toStr(a[0]);
    qsizetype from = 0;
    qsizetype to = s.size();
    if (left)
        while (from < to && s[from] == QLatin1Char(' '))
            ++from;
    if (right)
        while (to > from && s[to - 1] == QLatin1Char(' '))
            --to;
    return Variant(s.mid(from, to - from));
}

Variant fnLTrim(BuiltinContext&, Args a) { return trimmed(a, true, false); }
Variant fnRTrim(BuiltinContext&, Args a) { return trimmed(a, false, true); }
Variant fnTrim(BuiltinContext&, Args a) { return trimmed(a, true, true); }

// One character for one: VBScript keeps the length ("ß" stays "ß"), where
// full case mapping would turn it into "SS".
Variant mapCase(Args a, bool upper)
{
    if (isNullArg(a, 0))
        return Variant::null();
    QString s = toStr(a[0]);
    // Through plain pointers: the text is unshared once, not checked per character.
    QChar* c = s.begin();
    QChar* const end = s.end();
    const char16_t first = upper ? u'a' : u'A';
    for (; c != end; ++c) {
        // Plain ASCII, most of what a run maps, without the Unicode tables.
        const char16_t u = c->unicode();
        if (u < 0x80) {
            if (char16_t(u - first) < 26)
                *c = QChar(char16_t(u ^ 0x20));
        } else if (!c->isSurrogate()) {
            *c = upper ? c->toUpper() : c->toLower();
        }
    }
    return Variant(std::move(s));
}

Variant fnUCase(BuiltinContext&, Args a) { return mapCase(a, true); }
Variant fnLCase(BuiltinContext&, Args a) { return mapCase(a, false); }

// InStr(string1, string2) or InStr(start, string1, string2[, compare]).
Variant fnInStr(BuiltinContext&, Args a)
{
    size_t first = 0;
    int32_t start = 1;
    if (a.size() >= 3) {
        start = toLong(val(a, 0));
        if (start < 1)
            raiseError(err::InvalidCall);
        first = 1;
    } else if (a.size() < 2) {
        raiseError(err::WrongArgCount);
    }
    const bool text = textCompareArg(a, first + 2);
    if (isNullArg(a, first) || isNullArg(a, first + 1))
        return Variant::null();
    return Variant::fromLong(inStr(toStr(a[first]), toStr(a[first + 1]), start, text));
}

Variant fnInStrRev(BuiltinContext&, Args a)
{
    const int32_t start = longArg(a, 2, -1);
    if (start == 0 || start < -1)
        raiseError(err::InvalidCall);
    const bool text = textCompareArg(a, 3);
    // A Null to search for raises 94; a Null to search in gives Null.
    if (isNullArg(a, 1))
        raiseError(err::InvalidUseOfNull);
    if (isNullArg(a, 0))
        return Variant::null();
    return Variant::fromLong(inStrRev(toStr(a[0]), toStr(a[1]), start, text));
}

Variant fnReplace(BuiltinContext&, Args a)
{
    const int32_t start = longArg(a, 3, 1);
    const int32_t count = longArg(a, 4, -1);
    if (start < 1 || count < -1)
        raiseError(err::InvalidCall);
    const bool text = textCompareArg(a, 5);
    for (size_t i = 0; i < 3; ++i)
        if (isNullArg(a, i))
            raiseError(err::InvalidUseOfNull);
    return Variant(replaceText(toStr(a[0]), toStr(a[1]), toStr(a[2]), start, count, text));
}

Variant fnSpace(BuiltinContext&, Args a) { return Variant(QString(countArg(a, 0), QLatin1Char(' '))); }

Variant fnString(BuiltinContext&, Args a)
{
    const int32_t n = countArg(a, 0);
    const Variant& c = val(a, 1);
    if (c.isNull())
        return Variant::null();
    QChar ch;
    if (c.isString()) {
        if (c.str().isEmpty())
            raiseError(err::InvalidCall);
        ch = c.str()[0];
    } else {
        const int32_t code = toLong(c);
        ch = ansiToChar(((code % 256) + 256) % 256);
    }
    return Variant(QString(n, ch));
}

Variant fnStrComp(BuiltinContext&, Args a)
{
    const bool text = textCompareArg(a, 2);
    if (isNullArg(a, 0) || isNullArg(a, 1))
        return Variant::null();
    return Variant::fromInteger(static_cast<int16_t>(strComp(toStr(a[0]), toStr(a[1]), text)));
}

Variant fnStrReverse(BuiltinContext&, Args a)
{
    if (isNullArg(a, 0))
        raiseError(err::InvalidUseOfNull);
    QString s = toStr(a[0]);
    std::reverse(s.begin(), s.end());
    return Variant(std::move(s));
}

Variant fnChr(BuiltinContext&, Args a)
{
    const int32_t code = toLong(val(a, 0));
    if (code < 0 || code > 255)
        raiseError(err::InvalidCall);
    return Variant(QString(ansiToChar(code)));
}

Variant fnChrW(BuiltinContext&, Args a)
{
    const int32_t code = toLong(val(a, 0));
    if (code < -32768 || code > 65535)
        raiseError(err::InvalidCall);
    return Variant(QString(QChar(static_cast<char16_t>(code < 0 ? code + 65536 : code))));
}

QChar firstChar(Args a)
{
    if (isNullArg(a, 0))
        raiseError(err::InvalidUseOfNull);
    const QString s = toStr(a[0]);
    if (s.isEmpty())
        raiseError(err::InvalidCall);
    return s[0];
}

Variant fnAsc(BuiltinContext&, Args a) { return Variant::fromInteger(static_cast<int16_t>(charToAnsi(firstChar(a)))); }

// AscW is an Integer: code units from &H8000 up come out negative.
Variant fnAscW(BuiltinContext&, Args a) { return Variant::fromInteger(static_cast<int16_t>(firstChar(a).unicode())); }

Variant fnSplit(BuiltinContext&, Args a)
{
    const int32_t count = longArg(a, 2, -1);
    if (count < -1)
        raiseError(err::InvalidCall);
    const bool text = textCompareArg(a, 3);
    if (isNullArg(a, 0) || (given(a, 1) && isNullArg(a, 1)))
        raiseError(err::InvalidUseOfNull);
    const QString delimiter = given(a, 1) ? toStr(a[1]) : QStringLiteral(" ");
    return arrayOfTexts(splitText(toStr(a[0]), delimiter, count, text));
}

Variant fnJoin(BuiltinContext&, Args a)
{
    const Variant& list = val(a, 0);
    if (list.isArray() && list.arr() && list.arr()->dims() == 0)
        return Variant(QString()); // a dynamic array not yet dimensioned
    const QStringList texts = textsOfArray(a, 0);
    if (given(a, 1) && isNullArg(a, 1))
        raiseError(err::InvalidUseOfNull);
    return Variant(texts.join(given(a, 1) ? toStr(a[1]) : QStringLiteral(" ")));
}

Variant fnFilter(BuiltinContext&, Args a)
{
    const QStringList texts = textsOfArray(a, 0);
    if (isNullArg(a, 1))
        raiseError(err::InvalidUseOfNull);
    const bool include = given(a, 2) ? toBool(val(a, 2)) : true;
    const bool text = textCompareArg(a, 3);
    return arrayOfTexts(filterTexts(texts, toStr(a[1]), include, text));
}

} // namespace

void registerStringFunctions(Registry& r)
{
    r.addFunction("Len", 1, 1, fnLen);
    r.addFunction("Left", 2, 2, fnLeft);
    r.addFunction("Right", 2, 2, fnRight);
    r.addFunction("Mid", 2, 3, fnMid);
    r.addFunction("LTrim", 1, 1, fnLTrim);
    r.addFunction("RTrim", 1, 1, fnRTrim);
    r.addFunction("Trim", 1, 1, fnTrim);
    r.addFunction("UCase", 1, 1, fnUCase);
    r.addFunction("LCase", 1, 1, fnLCase);
    r.addFunction("InStr", 2, 4, fnInStr);
    r.addFunction("InStrRev", 2, 4, fnInStrRev);
    r.addFunction("Replace", 3, 6, fnReplace);
    r.addFunction("Space", 1, 1, fnSpace);
    r.addFunction("String", 2, 2, fnString);
    r.addFunction("StrComp", 2, 3, fnStrComp);
    r.addFunction("StrReverse", 1, 1, fnStrReverse);
    r.addFunction("Chr", 1, 1, fnChr);
    r.addFunction("ChrW", 1, 1, fnChrW);
    r.addFunction("Asc", 1, 1, fnAsc);
    r.addFunction("AscW", 1, 1, fnAscW);
    r.addFunction("Split", 1, 4, fnSplit);
    r.addFunction("Join", 1, 2, fnJoin);
    r.addFunction("Filter", 2, 4, fnFilter);
}

} // namespace vbs::lib
