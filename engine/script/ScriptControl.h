#pragma once

// The script host: a VBScript interpreter with the operations of a Script
// Control. No exception leaves it; a failed operation returns false (or
// Empty) and fills Error().
//
//   ScriptControl sc;
//   sc.AddObject("Source", recordsetObject);     // Source("Field") reads a field
//   sc.AddCode("Function Main()\r\n Main = Source(\"Name\")\r\nEnd Function");
//   Variant v = sc.Eval("Main");
//   if (sc.Error().Number) ... sc.Error().Description, .Line, .Text
//
// Compiled code and expressions are cached by their text for the lifetime
// of the object, also across Reset: adding the same code again or
// evaluating the same expression again does not parse it again.

#include "script/Variant.h"

#include <QString>
#include <memory>
#include <span>

namespace vbs {

namespace rt { struct Interp; struct CodeBlock; struct CompiledExpr; struct GlobalEntry; }

// A code text or an expression compiled once, for a host that adds or
// evaluates the same text over and over: handing it back skips even the
// lookup of the text in the cache. Valid for the ScriptControl that made it.
class PreparedCode {
public:
    explicit operator bool() const { return block_ != nullptr; }
private:
    friend class ScriptControl;
    std::shared_ptr<rt::CodeBlock> block_;
};

class PreparedExpr {
public:
    explicit operator bool() const { return expr_ != nullptr; }
private:
    friend class ScriptControl;
    std::shared_ptr<rt::CompiledExpr> expr_;
    QString text_;
};

// An object name checked once, for a host that adds the same names before
// every use: AddObject with it skips looking the name up. Valid for the
// ScriptControl that made it, across Reset.
class PreparedName {
public:
    explicit operator bool() const { return entry_ != nullptr; }
private:
    friend class ScriptControl;
    rt::GlobalEntry* entry_ = nullptr;
};

struct ScriptErrorInfo {
    int Number = 0;          // 0: no error
    QString Description;
    QString Source;          // "VBScript compilation error", "VBScript runtime error" or Err.Raise's
    QString Text;            // the source line the error was met on
    int Line = 0;            // 1-based within the code text (or the expression) that failed
    int Column = 0;          // 1-based; compilation errors only
    void Clear()
    {
        // Most operations start on a clear error: nothing to assign then.
        if (Number || Line || Column || !Description.isNull() || !Source.isNull() || !Text.isNull())
            *this = ScriptErrorInfo();
    }
};

class ScriptControl {
public:
    ScriptControl();
    ~ScriptControl();
    ScriptControl(const ScriptControl&) = delete;
    ScriptControl& operator=(const ScriptControl&) = delete;

    // Drops all code, variables and objects.
    void Reset();
    // Adds a named object; the name must be a valid identifier not yet used
    // by another object (errors 5 and 457 otherwise). Its members are not
    // added as names of their own.
    bool AddObject(const QString& Name, ObjectRef Object);
    // Checks an object name once (false when it cannot name an object);
    // AddObject of the result then behaves as it does for the name.
    bool PrepareName(const QString& Name, PreparedName& out);
    bool AddObject(const PreparedName& Name, const ObjectRef& Object);
    // Compiles the code, defines its procedures (a later definition of a
    // name replaces an earlier one) and runs its statements outside procedures.
    bool AddCode(const QString& Code);
    // Evaluates an expression; Empty (and Error() set) on failure.
    Variant Eval(const QString& Expression);
    // Compiles a code text or an expression once (false, and Error() set,
    // when it does not compile); AddCode and Eval of the result then behave
    // as they do for the text.
    bool Prepare(const QString& Code, PreparedCode& out);
    bool PrepareExpression(const QString& Expression, PreparedExpr& out);
    bool AddCode(const PreparedCode& Code);
    Variant Eval(const PreparedExpr& Expression);
    // Calls a procedure by name with argument values.
    Variant Run(const QString& ProcedureName, std::span<const Variant> Args = {});

    const ScriptErrorInfo& Error() const { return error_; }

    // Statements and loop rounds allowed per AddCode, Eval or Run before the
    // evaluation stops with error 1099 (an endless loop in a formula).
    void setInstructionLimit(uint64_t limit);
    uint64_t instructionLimit() const;

    // Parses done so far (code texts and expressions), for tests and tuning.
    uint64_t compileCount() const { return compiles_; }

private:
    struct Caches;
    void begin();
    std::shared_ptr<rt::CodeBlock> compiledCode(const QString& code);
    std::shared_ptr<rt::CompiledExpr> compiledExpr(const QString& expression);
    bool install(const std::shared_ptr<rt::CodeBlock>& block);
    Variant evaluate(const rt::CompiledExpr& expr, const QString& text);
    void failRuntime(const struct ScriptError& e, const QString& fallbackText);
    rt::GlobalEntry* objectEntry(const QString& name);
    bool bindObject(rt::GlobalEntry* e, const ObjectRef& object);

    std::unique_ptr<rt::Interp> in_;
    std::unique_ptr<Caches> caches_;
    ScriptErrorInfo error_;
    uint64_t compiles_ = 0;
};

} // namespace vbs
