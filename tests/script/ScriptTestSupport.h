#pragma once

// Helpers shared by the script interpreter tests: a host object standing for
// a recordset row, and shortcuts to run a formula.

#include "script/ScriptControl.h"

#include <QHash>
#include <QString>
#include <gtest/gtest.h>

namespace vbs::testing {

// A row of named fields: Row("Name") reads a field; Row.Count, Row.Reads.
class FakeRow : public IScriptObject {
public:
    QHash<QString, Variant> fields;
    int reads = 0;
    int memberLookups = 0;

    enum { Count = 1, Reads, Item, Fail };
    QString typeName() const override { return QStringLiteral("FakeRow"); }
    int memberId(const QString& name) override
    {
        ++memberLookups;
        QString n = name.toLower();
        if (n == u"count") return Count;
        if (n == u"reads") return Reads;
        if (n == u"item") return Item;
        if (n == u"fail") return Fail;
        return UnknownMember;
    }
    Variant get(int id, std::span<Variant> args) override
    {
        switch (id) {
        case DefaultMember:
        case Item: {
            if (args.size() != 1) raiseError(450);
            ++reads;
            auto it = fields.constFind(toStr(args[0]).toLower());
            if (it == fields.cend()) raiseError(3265, QStringLiteral("Item cannot be found in the collection"));
            return *it;
        }
        case Count: return Variant::fromLong(int32_t(fields.size()));
        case Reads: return Variant::fromLong(reads);
        case Fail: raiseError(3021, QStringLiteral("No current record."));
        default: raiseError(438);
        }
    }
    void put(int id, std::span<Variant> args, const Variant& value) override
    {
        if ((id == DefaultMember || id == Item) && args.size() == 1) {
            fields.insert(toStr(args[0]).toLower(), value);
            return;
        }
        raiseError(438);
    }
    bool items(std::vector<Variant>& out) override
    {
        for (auto it = fields.cbegin(); it != fields.cend(); ++it) out.push_back(*it);
        return true;
    }
};

// Runs code defining Main and returns Eval("Main"); fails the test on errors.
inline Variant runMain(ScriptControl& sc, const QString& code)
{
    EXPECT_TRUE(sc.AddCode(code)) << sc.Error().Description.toStdString() << " line " << sc.Error().Line;
    Variant v = sc.Eval(QStringLiteral("Main"));
    EXPECT_EQ(sc.Error().Number, 0) << sc.Error().Description.toStdString() << " line " << sc.Error().Line;
    return v;
}

inline Variant runMain(const QString& code)
{
    ScriptControl sc;
    return runMain(sc, code);
}

// Evaluates an expression in a fresh host.
inline Variant eval(const QString& expr)
{
    ScriptControl sc;
    Variant v = sc.Eval(expr);
    EXPECT_EQ(sc.Error().Number, 0) << expr.toStdString() << ": " << sc.Error().Description.toStdString();
    return v;
}

// Error number of evaluating an expression (0 when it succeeds).
inline int evalError(const QString& expr)
{
    ScriptControl sc;
    sc.Eval(expr);
    return sc.Error().Number;
}

inline std::string str(const Variant& v)
{
    if (v.isNull()) return "<Null>";
    if (v.isArray()) return "<Array>";
    if (v.isObject()) return "<Object>";
    return toStr(v).toStdString();
}

} // namespace vbs::testing
