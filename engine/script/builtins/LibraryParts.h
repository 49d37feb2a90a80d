#pragma once

// Shared helpers of the built-in function families; each family file
// registers its own functions.

#include "script/Builtins.h"

namespace vbs::lib {

using Args = std::span<Variant>;

// An argument position left empty (`Split(s, ",", , 1)`) counts as not given.
inline bool given(Args a, size_t i) { return a.size() > i && !a[i].isMissing(); }

// The argument's value: an object stands for its default member. The
// argument is replaced in place (builtins may change their arguments).
inline Variant& val(Args a, size_t i)
{
    Variant& v = a[i];
    if (v.isObject())
        v = valueOf(v);
    return v;
}

inline bool isNullArg(Args a, size_t i) { return val(a, i).isNull(); }

// A whole-number argument; Null raises 94 (through the conversion).
inline int32_t longArg(Args a, size_t i, int32_t fallback)
{
    return given(a, i) ? toLong(val(a, i)) : fallback;
}

// vbBinaryCompare (0) or vbTextCompare (1); any other mode raises 5 (a
// script has no database to compare as, so vbDatabaseCompare too).
inline bool textCompareArg(Args a, size_t i)
{
    const int32_t mode = longArg(a, i, 0);
    if (mode < 0 || mode > 1)
        raiseError(err::InvalidCall);
    return mode != 0;
}

// A firstdayofweek argument: 0 (system, which is Sunday here) .. 7.
inline int firstDayArg(Args a, size_t i)
{
    const int32_t d = longArg(a, i, 1);
    if (d < 0 || d > 7)
        raiseError(err::InvalidCall);
    return d == 0 ? 1 : d;
}

void registerStringFunctions(Registry& r);
void registerConversionFunctions(Registry& r);
void registerDateFunctions(Registry& r);
void registerMathFunctions(Registry& r);
void registerConstants(Registry& r);

} // namespace vbs::lib
