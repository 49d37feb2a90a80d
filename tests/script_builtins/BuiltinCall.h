#pragma once

// Calls built-in functions through the registration API, as the
// interpreter does, so the library is tested without parsing scripts.

#include "script/Builtins.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

namespace builtin_test {

using vbs::Variant;

inline const vbs::Registry& registry()
{
    static const vbs::Registry r = [] {
        vbs::Registry reg;
        vbs::registerStandardLibrary(reg);
        return reg;
    }();
    return r;
}

inline Variant call(vbs::BuiltinContext& ctx, const char* name, std::initializer_list<Variant> args)
{
    const vbs::BuiltinInfo* f = registry().findFunction(QString::fromLatin1(name));
    if (!f) {
        ADD_FAILURE() << "no built-in " << name;
        return Variant();
    }
    std::vector<Variant> values(args);
    return f->fn(ctx, values);
}

inline Variant call(const char* name, std::initializer_list<Variant> args = {})
{
    vbs::BuiltinContext ctx;
    return call(ctx, name, args);
}

// The VBScript error number a call raises, 0 when it succeeds.
inline int errorOf(const char* name, std::initializer_list<Variant> args)
{
    try {
        call(name, args);
        return 0;
    } catch (const vbs::ScriptError& e) {
        return e.number;
    }
}

// The text of a call's result (CStr), "<Null>" for Null.
inline QString text(const Variant& v) { return v.isNull() ? QStringLiteral("<Null>") : vbs::toStr(v); }
inline std::string str(const char* name, std::initializer_list<Variant> args = {})
{
    return text(call(name, args)).toStdString();
}

inline Variant S(const char* s) { return Variant(QString::fromUtf8(s)); }
inline Variant I(int16_t v) { return Variant::fromInteger(v); }
inline Variant L(int32_t v) { return Variant::fromLong(v); }
inline Variant D(double v) { return Variant::fromDouble(v); }
inline Variant Null() { return Variant::null(); }
inline Variant Empty() { return Variant(); }
inline Variant Dt(const char* s)
{
    const auto serial = vbs::parseDate(QString::fromLatin1(s));
    EXPECT_TRUE(serial.has_value()) << s;
    return Variant::fromDate(serial.value_or(0));
}

} // namespace builtin_test
