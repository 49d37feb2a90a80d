#pragma once

// Internals of the interpreter: the resolved syntax tree and its evaluator.
// The parser builds the tree and binds every name once (a local slot, a
// constant, or an entry of the global table); evaluation walks the tree.
// Hosts use ScriptControl, not this header.

#include "script/Builtins.h"
#include "script/Operators.h"
#include "script/Variant.h"

#include <QHash>
#include <QString>
#include <deque>
#include <memory>
#include <vector>

namespace vbs::rt {

struct Frame;
struct Procedure;
struct CodeBlock;

// The source of one code text, for the Line and Text of errors.
struct CodeUnit {
    std::vector<QString> lines;
    QString lineText(int line) const
    {
        return line >= 1 && size_t(line) <= lines.size() ? lines[size_t(line) - 1] : QString();
    }
};

enum class Flow : uint8_t { Normal, ExitDo, ExitFor, ExitProc };

struct Node {
    int line = 0;
    int column = 0;
    const CodeUnit* unit = nullptr;
    virtual ~Node() = default;
};

struct Expr : Node {
    virtual Variant eval(Frame& f) = 0;
    // The variable the expression names, for ByRef arguments and writes;
    // nullptr when it names no variable.
    virtual Variant* varRef(Frame&) { return nullptr; }
    virtual void assign(Frame& f, Variant value, bool isSet);
    virtual bool isLiteral() const { return false; }
};
using ExprPtr = std::unique_ptr<Expr>;

struct Stmt : Node {
    virtual Flow exec(Frame& f) = 0;
};
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

// One name of the global table. Entries live as long as the interpreter,
// so the tree binds to them once; Reset returns each to its base state.
struct GlobalEntry {
    enum Kind : uint8_t { Undefined, Variable, Constant, Proc, Builtin, HostObject };
    QString name;
    Kind kind = Undefined;
    Variant value;
    const Procedure* proc = nullptr;
    std::shared_ptr<const CodeBlock> owner;   // keeps proc alive
    const BuiltinInfo* builtin = nullptr;

    Kind baseKind = Undefined;
    Variant baseValue;
    const BuiltinInfo* baseBuiltin = nullptr;

    void reset()
    {
        kind = baseKind;
        value = baseValue;
        builtin = baseBuiltin;
        proc = nullptr;
        owner.reset();
    }
};

struct Procedure {
    QString name;
    bool isFunction = false;
    std::vector<bool> byRef;      // per parameter
    int resultSlot = -1;
    int slotCount = 0;
    Block body;
    const CodeUnit* unit = nullptr;
    int line = 0;
};

// A compiled code text: its procedures, constants, global names and the
// statements outside procedures. Shared so that the same text added again
// (after Reset) is installed without parsing.
struct CodeBlock {
    std::shared_ptr<CodeUnit> unit;
    std::vector<std::unique_ptr<Procedure>> procs;
    std::vector<GlobalEntry*> procEntries;           // parallel to procs
    std::vector<std::pair<GlobalEntry*, Variant>> consts;
    std::vector<GlobalEntry*> dims;
    Block body;
};

struct CompiledExpr {
    std::shared_ptr<CodeUnit> unit;
    ExprPtr expr;
};

class ErrObject;

struct Interp {
    Interp();
    ~Interp();

    // The entry of a name, created on first use (a built-in function or
    // constant when the registry has one).
    GlobalEntry* entry(const QString& name);
    GlobalEntry* findEntry(const QString& name) const;
    void resetGlobals();

    // Err object state.
    int errNumber = 0;
    QString errDescription;
    QString errSource;
    void setErr(const ScriptError& e);
    void clearErr();

    // Where the error being raised was met (innermost statement).
    bool errLocated = false;
    int errLine = 0;
    int errColumn = 0;
    const CodeUnit* errUnit = nullptr;
    void noteError(const Node& n)
    {
        if (!errLocated) {
            errLocated = true;
            errLine = n.line;
            errColumn = n.column;
            errUnit = n.unit;
        }
    }

    uint64_t steps = 0;
    uint64_t stepLimit = 50'000'000;
    int depth = 0;
    int maxDepth = 600;
    void tick()
    {
        if (++steps > stepLimit) budgetExceeded();
    }
    [[noreturn]] void budgetExceeded();

    Variant callProcedure(const Procedure& p, std::vector<ExprPtr>& args, Frame& caller);
    Variant callProcedureWithValues(const Procedure& p, std::span<Variant> args);
    Variant callBuiltin(const BuiltinInfo& b, std::vector<ExprPtr>& args, Frame& caller);

    BuiltinContext builtins;
    std::shared_ptr<ErrObject> errObject;

private:
    std::deque<GlobalEntry> entries_;
    QHash<QString, GlobalEntry*> byName_;
};

struct Frame {
    Interp* in = nullptr;
    Variant** vars = nullptr;
    const Procedure* proc = nullptr;
    bool resumeNext = false;
};

Flow execBlock(const Block& b, Frame& f);

// Let (default value of objects) or Set (objects only) into a variable.
void storeValue(Variant& dst, Variant v, bool isSet);

// ---------------------------------------------------------------- parsing

struct ParseError {
    int number = 0;
    int line = 0;
    int column = 0;
};

// Compiles a code text; throws ParseError.
std::shared_ptr<CodeBlock> compileCode(Interp& in, const QString& code);
// Compiles an expression (Eval); throws ParseError.
std::shared_ptr<CompiledExpr> compileExpression(Interp& in, const QString& text);

} // namespace vbs::rt
