#pragma once

// Registration of the built-in functions and constants of the script
// language. The standard library (string, conversion, test, date,
// formatting, maths and array functions, the vb* constants) lives in
// script/builtins/ and defines registerStandardLibrary(); the interpreter
// adds the few functions that must refuse to reach the user or the system
// (MsgBox, InputBox, CreateObject).

#include "script/Variant.h"

#include <QString>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vbs {

// State the built-in functions share within one script host.
struct BuiltinContext {
    // Rnd's generator: VBScript's 24-bit linear congruential seed.
    uint32_t rndSeed = 0x50000;
    // The last value Rnd returned (Rnd(0) repeats it); before the first
    // call, the value the starting seed stands for.
    float rndLast = 0x50000 / 16777216.0f;
    // The interpreter's own state and the frame of the running call; only
    // the interpreter's own functions (Eval, Execute, GetRef) use them.
    void* host = nullptr;
    void* frame = nullptr;
};

// A built-in function. args holds the evaluated arguments (minArgs..maxArgs
// of them; Missing arguments are not passed, so args.size() tells how many
// were given). Errors are raised with raiseError(). Arguments may be
// changed freely; with BuiltinWritesArgs the interpreter copies them back
// into the caller's variables after the call (Erase).
using BuiltinFn = Variant (*)(BuiltinContext& ctx, std::span<Variant> args);

enum BuiltinFlags : unsigned {
    BuiltinNone = 0,
    BuiltinWritesArgs = 1,   // arguments that are variables are written back after the call
    BuiltinConversion = 2,   // CInt and the other C* conversions: not callable with Call
};

struct BuiltinInfo {
    QString name;
    int minArgs = 0;
    int maxArgs = 0;         // -1: any number (Array)
    BuiltinFn fn = nullptr;
    unsigned flags = BuiltinNone;
};

struct ConstantInfo {
    QString name;
    Variant value;
};

// Names are case-insensitive; a later registration of a name replaces an
// earlier one.
class Registry {
public:
    void addFunction(std::string_view name, int minArgs, int maxArgs, BuiltinFn fn,
                     unsigned flags = BuiltinNone);
    void addConstant(std::string_view name, Variant value);

    const std::vector<BuiltinInfo>& functions() const { return functions_; }
    const std::vector<ConstantInfo>& constants() const { return constants_; }
    const BuiltinInfo* findFunction(const QString& name) const;
    const ConstantInfo* findConstant(const QString& name) const;

private:
    std::vector<BuiltinInfo> functions_;
    std::vector<ConstantInfo> constants_;
};

// Defined by the standard library in script/builtins/Library.cpp: adds every
// built-in function and vb* constant to the registry.
void registerStandardLibrary(Registry& registry);

// MsgBox, InputBox, CreateObject: they raise errors instead of blocking or
// reaching the system. Defined by the interpreter.
void registerHostRestricted(Registry& registry);

// Eval, Execute, ExecuteGlobal, GetRef: they reach into the running
// script. Defined by the interpreter.
void registerInterpreterFunctions(Registry& registry);

// The registry every script host uses, built once (thread-safe) from the
// two functions above.
const Registry& standardRegistry();

} // namespace vbs
