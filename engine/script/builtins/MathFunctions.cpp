// Maths and array functions: Sqr .. Randomize, Array, LBound, UBound, Erase.

#include "script/builtins/DateMath.h"
#include "script/builtins/LibraryParts.h"
#include "script/builtins/StringOps.h"

#include <cmath>

namespace vbs::lib {

namespace {

// The argument as a Double; Null raises 94 through the conversion.
double number(Args a) { return toDouble(val(a, 0)); }

// A finite result, or 6 as VBScript reports a result too large for a Double.
Variant finite(double x)
{
    if (!std::isfinite(x))
        raiseError(err::Overflow);
    return Variant::fromDouble(x);
}

Variant fnSqr(BuiltinContext&, Args a)
{
    const double x = number(a);
    if (x < 0)
        raiseError(err::InvalidCall);
    return Variant::fromDouble(std::sqrt(x));
}

Variant fnExp(BuiltinContext&, Args a) { return finite(std::exp(number(a))); }

Variant fnLog(BuiltinContext&, Args a)
{
    const double x = number(a);
    if (x <= 0)
        raiseError(err::InvalidCall);
    return Variant::fromDouble(std::log(x));
}

Variant fnSin(BuiltinContext&, Args a) { return finite(std::sin(number(a))); }
Variant fnCos(BuiltinContext&, Args a) { return finite(std::cos(number(a))); }
Variant fnTan(BuiltinContext&, Args a) { return finite(std::tan(number(a))); }
Variant fnAtn(BuiltinContext&, Args a) { return finite(std::atan(number(a))); }

Variant fnRnd(BuiltinContext& ctx, Args a)
{
    std::optional<double> n;
    if (given(a, 0))
        n = number(a);
    return Variant::fromSingle(vbslib::nextRandom(ctx.rndSeed, ctx.rndLast, n));
}

Variant fnRandomize(BuiltinContext& ctx, Args a)
{
    vbslib::randomizeSeed(ctx.rndSeed, given(a, 0) ? number(a) : vbslib::secondsSinceMidnight());
    return Variant();
}

Variant fnArray(BuiltinContext&, Args a)
{
    return Variant::fromArray(ArrayData::vector(std::vector<Variant>(a.begin(), a.end())));
}

// The dimension (1-based) an LBound/UBound call asks for; 9 when there is none.
const ArrayData& boundedArray(Args a, int& dim)
{
    const Variant& v = val(a, 0);
    if (!v.isArray() || !v.arr())
        raiseError(err::TypeMismatch);
    const ArrayData& data = *v.arr();
    dim = longArg(a, 1, 1);
    if (dim < 1 || dim > data.dims())
        raiseError(err::SubscriptOutOfRange);
    return data;
}

Variant fnLBound(BuiltinContext&, Args a)
{
    int dim = 0;
    boundedArray(a, dim);
    return Variant::fromLong(0);
}

Variant fnUBound(BuiltinContext&, Args a)
{
    int dim = 0;
    const ArrayData& data = boundedArray(a, dim);
    return Variant::fromLong(data.upperBound(dim - 1));
}

// Erase: a fixed-size array keeps its shape with every item Empty; a
// dynamic array loses its storage until the next ReDim.
Variant fnErase(BuiltinContext&, Args a)
{
    Variant& v = a[0];
    if (!v.isArray() || !v.arr())
        raiseError(err::TypeMismatch);
    ArrayData& data = v.mutableArr();
    if (data.fixedSize) {
        for (Variant& item : data.items)
            item = Variant();
    } else {
        data.extents.clear();
        data.items.clear();
    }
    return Variant();
}

} // namespace

void registerMathFunctions(Registry& r)
{
    r.addFunction("Sqr", 1, 1, fnSqr);
    r.addFunction("Exp", 1, 1, fnExp);
    r.addFunction("Log", 1, 1, fnLog);
    r.addFunction("Sin", 1, 1, fnSin);
    r.addFunction("Cos", 1, 1, fnCos);
    r.addFunction("Tan", 1, 1, fnTan);
    r.addFunction("Atn", 1, 1, fnAtn);
    r.addFunction("Rnd", 0, 1, fnRnd);
    r.addFunction("Randomize", 0, 1, fnRandomize);
    r.addFunction("Array", 0, -1, fnArray);
    r.addFunction("LBound", 1, 2, fnLBound);
    r.addFunction("UBound", 1, 2, fnUBound);
    r.addFunction("Erase", 1, 1, fnErase, BuiltinWritesArgs);
}

} // namespace vbs::lib
