#include "script/Builtins.h"
#include "script/RegExp.h"

#include <mutex>

namespace vbs {

void Registry::addFunction(std::string_view name, int minArgs, int maxArgs, BuiltinFn fn, unsigned flags)
{
    QString n = QString::fromLatin1(name.data(), qsizetype(name.size()));
    for (BuiltinInfo& f : functions_) {
        if (f.name.compare(n, Qt::CaseInsensitive) == 0) {
            f = BuiltinInfo{n, minArgs, maxArgs, fn, flags};
            return;
        }
    }
    functions_.push_back(BuiltinInfo{n, minArgs, maxArgs, fn, flags});
}

void Registry::addConstant(std::string_view name, Variant value)
{
    QString n = QString::fromLatin1(name.data(), qsizetype(name.size()));
    for (ConstantInfo& c : constants_) {
        if (c.name.compare(n, Qt::CaseInsensitive) == 0) {
            c.value = std::move(value);
            return;
        }
    }
    constants_.push_back(ConstantInfo{n, std::move(value)});
}

const BuiltinInfo* Registry::findFunction(const QString& name) const
{
    for (const BuiltinInfo& f : functions_)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0) return &f;
    return nullptr;
}

const ConstantInfo* Registry::findConstant(const QString& name) const
{
    for (const ConstantInfo& c : constants_)
        if (c.name.compare(name, Qt::CaseInsensitive) == 0) return &c;
    return nullptr;
}

namespace {

// A script host has no user to ask and must not reach the system.
Variant refuseUi(BuiltinContext&, std::span<Variant>)
{
    raiseError(err::PermissionDenied);
}

// Only the regular-expression object is created; every other component
// would reach the system.
Variant createObject(BuiltinContext&, std::span<Variant> args)
{
    if (!args.empty() && toStr(valueOf(args[0])).trimmed().compare(QLatin1String("VBScript.RegExp"), Qt::CaseInsensitive) == 0)
        return Variant::fromObject(makeRegExp());
    raiseError(err::CannotCreateObject);
}

Variant refuseCreateObject(BuiltinContext&, std::span<Variant>)
{
    raiseError(err::CannotCreateObject);
}

} // namespace

void registerHostRestricted(Registry& registry)
{
    registry.addFunction("MsgBox", 1, 5, refuseUi);
    registry.addFunction("InputBox", 1, 7, refuseUi);
    registry.addFunction("CreateObject", 1, 2, createObject);
    registry.addFunction("GetObject", 0, 2, refuseCreateObject);
}

const Registry& standardRegistry()
{
    static const Registry registry = [] {
        Registry r;
// The standard library is linked in once its file exists.
#if __has_include("script/builtins/Library.cpp")
        registerStandardLibrary(r);
#endif
        registerHostRestricted(r);
        registerInterpreterFunctions(r);
        return r;
    }();
    return registry;
}

} // namespace vbs
