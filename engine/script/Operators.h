#pragma once

// VBScript's operators on Variants: result types, promotion on overflow,
// Null propagation and the comparison rules between strings and numbers.

#include "script/Variant.h"

namespace vbs {

Variant opAdd(const Variant& a, const Variant& b);
Variant opSub(const Variant& a, const Variant& b);
Variant opMul(const Variant& a, const Variant& b);
Variant opDiv(const Variant& a, const Variant& b);
Variant opIntDiv(const Variant& a, const Variant& b);
Variant opMod(const Variant& a, const Variant& b);
Variant opPow(const Variant& a, const Variant& b);
Variant opNeg(const Variant& a);
Variant opConcat(const Variant& a, const Variant& b);

Variant opNot(const Variant& a);
Variant opAnd(const Variant& a, const Variant& b);
Variant opOr(const Variant& a, const Variant& b);
Variant opXor(const Variant& a, const Variant& b);
Variant opEqv(const Variant& a, const Variant& b);
Variant opImp(const Variant& a, const Variant& b);

// Three-way comparison of two non-Null values: -1, 0, 1. A string compared
// with a number: when one side is a literal it takes the other side's type;
// otherwise the number is the smaller. Raises 13 for arrays.
int compareValues(const Variant& a, const Variant& b, bool aLiteral, bool bLiteral, bool textCompare = false);

enum class CompareOp : uint8_t { Eq, Ne, Lt, Gt, Le, Ge };
// Boolean, or Null when either side is Null.
Variant opCompare(CompareOp op, const Variant& a, const Variant& b, bool aLiteral = false, bool bLiteral = false);

// `a Is b`: both objects (424 otherwise); true when the same object.
bool opIs(const Variant& a, const Variant& b);

// The truth of a condition (If, While, Until): Null and Empty are false.
bool conditionValue(const Variant& v);

} // namespace vbs
