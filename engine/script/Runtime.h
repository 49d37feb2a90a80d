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
struct ClassDef;
class ClassInstance;

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
    // As varRef, also naming an array item (`Inc a(0)`); the arrays whose
    // items are named are kept (and locked) in keep for the call.
    virtual Variant* itemRef(Frame& f, std::vector<ArrayRef>& keep) { (void)keep; return varRef(f); }
    virtual void assign(Frame& f, Variant value, bool isSet);
    virtual bool isLiteral() const { return false; }
    // The value where an object is wanted: before a member, in Set and With.
    virtual Variant evalObject(Frame& f) { return eval(f); }
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
    enum Kind : uint8_t { Undefined, Variable, Constant, Proc, Builtin, HostObject, Class };
    QString name;
    Kind kind = Undefined;
    Variant value;
    const Procedure* proc = nullptr;
    const ClassDef* cls = nullptr;
    std::shared_ptr<const CodeBlock> owner;   // keeps proc alive
    const BuiltinInfo* builtin = nullptr;

    Kind baseKind = Undefined;
    Variant baseValue;
    const BuiltinInfo* baseBuiltin = nullptr;

    // Whether a and b hold the very same object (same pointer, same owner).
    static bool sameObject(const Variant& a, const Variant& b)
    {
        return a.isObject() && b.isObject() && a.obj() == b.obj() && !a.obj().owner_before(b.obj())
               && !b.obj().owner_before(a.obj());
    }

    void reset()
    {
        kind = baseKind;
        // Most entries (built-in functions, names never assigned) hold
        // nothing, and a reset runs before every storage step; the Err
        // object is mostly still in place.
        if (baseValue.isEmpty()) {
            if (!value.isEmpty()) value = Variant();
        } else if (!sameObject(value, baseValue)) {
            value = baseValue;
        }
        builtin = baseBuiltin;
        proc = nullptr;
        cls = nullptr;
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
    // Names of the procedure's variables and constants, for Execute and
    // Eval inside it; the class it belongs to, if any.
    QHash<QString, int> localNames;
    QHash<QString, Variant> localConsts;
    const ClassDef* cls = nullptr;
};

// A class written in script. Member ids start at 1 (0 is the default member).
struct ClassMember {
    enum Kind : uint8_t { Field, Method, Property };
    QString name;
    Kind kind = Field;
    bool isPublic = true;
    int field = -1;
    const Procedure* method = nullptr;
    const Procedure* get = nullptr;
    const Procedure* let = nullptr;
    const Procedure* set = nullptr;
};

struct ClassDef {
    QString name;
    std::vector<ClassMember> members;           // member id = index + 1
    QHash<QString, int> ids;                    // lower-case name -> member id
    std::vector<std::vector<int32_t>> fieldBounds;   // per field; {} scalar
    std::vector<bool> fieldIsArray;
    int defaultMember = 0;
    const Procedure* initialize = nullptr;
    const Procedure* terminate = nullptr;
    std::vector<std::unique_ptr<Procedure>> procs;
    const ClassMember& member(int id) const { return members[size_t(id - 1)]; }
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
    std::vector<std::unique_ptr<ClassDef>> classes;
    std::vector<GlobalEntry*> classEntries;          // parallel to classes
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

    // Set first while the interpreter is destroyed: objects released then
    // run no more script code.
    bool shuttingDown = false;
    std::shared_ptr<int> life = std::make_shared<int>(0);

    // Err object state.
    int errNumber = 0;
    QString errDescription;
    QString errSource;
    QString errHelpFile;
    int32_t errHelpContext = 0;
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

    // The budget counts statements and loop rounds, and the text that
    // operators and functions build, a step for every 256 characters: a
    // loop that copies a growing string takes few steps but ever more time.
    // The time is bounded as well, for work that neither counts (a search
    // through a long text passed as an argument costs nothing to pass).
    uint64_t steps = 0;
    uint64_t stepLimit = 50'000'000;
    static constexpr uint64_t kStepsBetweenLooks = 4096;
    uint64_t nextCheck = 0;          // steps at which the budget is looked at next
    int64_t startedMs = -1;          // thread's processor time at the first look, -1 before
    int depth = 0;
    int maxDepth = 600;
    void tick()
    {
        if (++steps > nextCheck) checkBudget();
    }
    void chargeText(qsizetype characters)
    {
        steps += uint64_t(characters) >> 8;
        if (steps > nextCheck) checkBudget();
    }
    void chargeText(const Variant& v)
    {
        if (v.isString()) chargeText(v.str().size());
    }
    void resetBudget()
    {
        steps = 0;
        nextCheck = 0;
        startedMs = -1;
    }
    void checkBudget();
    [[noreturn]] void budgetExceeded();

    Variant callProcedure(const Procedure& p, std::vector<ExprPtr>& args, Frame& caller,
                          ClassInstance* self = nullptr);
    Variant callProcedureWithValues(const Procedure& p, std::span<Variant> args, ClassInstance* self = nullptr);

    // Defines what a compiled text declares (procedures, classes, constants,
    // variables); the caller then runs its statements.
    void install(const std::shared_ptr<CodeBlock>& block);
    // Execute, ExecuteGlobal and Eval inside scripts: texts compiled for the
    // procedure they run in, cached.
    QHash<QString, std::shared_ptr<CodeBlock>> executeCache;
    QHash<QString, std::shared_ptr<struct CompiledExpr>> evalCache;
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
    ClassInstance* self = nullptr;      // Me in a class's procedure
    std::vector<Variant> with;          // objects of the enclosing With blocks
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

// Compiles a code text; throws ParseError. With a context procedure the
// text's names see that procedure's variables (Execute inside it).
std::shared_ptr<CodeBlock> compileCode(Interp& in, const QString& code, const Procedure* context = nullptr);
// Compiles an expression (Eval); throws ParseError.
std::shared_ptr<CompiledExpr> compileExpression(Interp& in, const QString& text,
                                                const Procedure* context = nullptr);

} // namespace vbs::rt
