#pragma once

// The node types of the resolved syntax tree (see Runtime.h).

#include "script/Runtime.h"

namespace vbs::rt {

struct LiteralExpr : Expr {
    Variant value;
    explicit LiteralExpr(Variant v) : value(std::move(v)) {}
    Variant eval(Frame&) override { return value; }
    bool isLiteral() const override { return true; }
};

// A name, with or without an argument list: a variable, an array item, a
// procedure or built-in call, a host object or its default member.
struct NameExpr : Expr {
    // Member: a member of the class whose procedure runs (slot is its id).
    enum class Bind : uint8_t { Unresolved, Local, Global, Dynamic, Const, Member };
    QString name;
    Bind bind = Bind::Unresolved;
    bool hasParens = false;
    bool explicitNames = false;
    int slot = -1;
    GlobalEntry* entry = nullptr;
    Variant constValue;
    std::vector<ExprPtr> args;

    Variant eval(Frame& f) override;
    Variant* varRef(Frame& f) override;
    Variant* itemRef(Frame& f, std::vector<ArrayRef>& keep) override;
    void assign(Frame& f, Variant value, bool isSet) override;
    Variant evalObject(Frame& f) override;
    bool isLiteral() const override
    {
        return bind == Bind::Const || (bind == Bind::Global && entry->kind == GlobalEntry::Constant);
    }

    // The variable itself (never null): raises 500 / 501 as VBScript does.
    Variant& variable(Frame& f);
    Variant indexValue(Frame& f, const Variant& container);

private:
    Variant* container(Frame& f);
    Variant evalGlobal(Frame& f);
    [[noreturn]] void raiseNamed(int number);
};

// An argument position left empty.
struct MissingExpr : Expr {
    Variant eval(Frame&) override { return Variant::missing(); }
};

// A parenthesised variable: its value, never the variable itself, so that
// `Foo (x)` and `Call Foo((x))` pass x by value as VBScript does.
struct ParenExpr : Expr {
    ExprPtr inner;
    explicit ParenExpr(ExprPtr e) : inner(std::move(e)) {}
    Variant eval(Frame& f) override { return inner->eval(f); }
    bool isLiteral() const override { return inner->isLiteral(); }
};

// An argument list applied to the value of a call: `Split(s, ",")(1)`
// indexes the returned array, `F()("x")` reads an object's default member.
struct IndexExpr : Expr {
    ExprPtr base;
    bool hasParens = true;
    std::vector<ExprPtr> args;
    Variant eval(Frame& f) override;
    Variant* itemRef(Frame& f, std::vector<ArrayRef>& keep) override;
};

// The object of the enclosing With block `depth` (0 outermost): `.Name`.
struct WithExpr : Expr {
    int depth = 0;
    Variant eval(Frame& f) override { return f.with[size_t(depth)]; }
};

// Me inside a class's procedure.
struct MeExpr : Expr {
    Variant eval(Frame& f) override;
};

// New ClassName (or New RegExp).
struct NewExpr : Expr {
    QString name;
    GlobalEntry* entry = nullptr;
    Variant eval(Frame& f) override;
};

// obj.Name or obj.Name(args) on a host object.
struct MemberExpr : Expr {
    ExprPtr object;
    QString name;
    bool hasParens = false;
    std::vector<ExprPtr> args;
    const void* cachedClass = nullptr;
    int cachedId = -1;

    Variant eval(Frame& f) override;
    void assign(Frame& f, Variant value, bool isSet) override;

private:
    IScriptObject& target(Frame& f, Variant& holder);
    int memberOf(IScriptObject& o);
};

enum class BinOp : uint8_t {
    Add, Sub, Mul, Div, IntDiv, Mod, Pow, Concat, And, Or, Xor, Eqv, Imp, Is,
    Eq, Ne, Lt, Gt, Le, Ge
};

struct BinaryExpr : Expr {
    BinOp op;
    ExprPtr lhs, rhs;
    BinaryExpr(BinOp o, ExprPtr l, ExprPtr r) : op(o), lhs(std::move(l)), rhs(std::move(r)) {}
    Variant eval(Frame& f) override;
};

enum class UnOp : uint8_t { Neg, Not };

struct UnaryExpr : Expr {
    UnOp op;
    ExprPtr operand;
    UnaryExpr(UnOp o, ExprPtr e) : op(o), operand(std::move(e)) {}
    Variant eval(Frame& f) override;
};

Variant applyBinary(BinOp op, const Variant& a, const Variant& b, bool aLit, bool bLit);

// ---------------------------------------------------------------- statements

struct AssignStmt : Stmt {
    ExprPtr target, value;
    bool isSet = false;
    Flow exec(Frame& f) override;
};

struct CallStmt : Stmt {
    ExprPtr call;
    bool explicitCall = false;   // written with Call
    Flow exec(Frame& f) override;
};

struct IfStmt : Stmt {
    std::vector<std::pair<ExprPtr, Block>> branches;
    Block elseBlock;
    Flow exec(Frame& f) override;
};

struct ForStmt : Stmt {
    std::unique_ptr<NameExpr> var;
    ExprPtr from, to, step;
    Block body;
    Flow exec(Frame& f) override;
};

struct ForEachStmt : Stmt {
    std::unique_ptr<NameExpr> var;
    ExprPtr collection;
    Block body;
    Flow exec(Frame& f) override;
};

struct DoStmt : Stmt {
    enum Kind : uint8_t { Forever, PreWhile, PreUntil, PostWhile, PostUntil };
    Kind kind = Forever;
    ExprPtr cond;
    Block body;
    Flow exec(Frame& f) override;
};

struct CaseItem {
    enum Kind : uint8_t { Value, Range, Is };
    Kind kind = Value;
    CompareOp op = CompareOp::Eq;
    ExprPtr a, b;
};

struct SelectStmt : Stmt {
    ExprPtr test;
    std::vector<std::pair<std::vector<CaseItem>, Block>> cases;
    bool hasElse = false;
    Block elseBlock;
    Flow exec(Frame& f) override;
};

struct ExitStmt : Stmt {
    Flow flow = Flow::ExitProc;
    Flow exec(Frame&) override { return flow; }
};

struct WithStmt : Stmt {
    ExprPtr object;
    Block body;
    Flow exec(Frame& f) override;
};

struct OnErrorStmt : Stmt {
    bool resumeNext = false;
    Flow exec(Frame& f) override;
};

// Dim of arrays and ReDim: the names with their upper bounds.
struct DimStmt : Stmt {
    struct Item {
        std::unique_ptr<NameExpr> var;
        std::vector<ExprPtr> bounds;
    };
    std::vector<Item> items;
    bool redim = false;
    bool preserve = false;
    Flow exec(Frame& f) override;
};

} // namespace vbs::rt

namespace vbs::rt {

// An object of a class written in script. Class_Terminate runs when the
// last reference goes.
class ClassInstance : public IScriptObject {
public:
    ClassInstance(Interp& in, const ClassDef& def, std::shared_ptr<const CodeBlock> owner);
    // A new instance, its fields set up and Class_Initialize run.
    static ObjectRef create(Interp& in, const ClassDef& def, std::shared_ptr<const CodeBlock> owner);

    QString typeName() const override { return def_.name; }
    int memberId(const QString& name) override;
    const void* memberClass() const override { return &def_; }
    Variant get(int id, std::span<Variant> args) override;
    void put(int id, std::span<Variant> args, const Variant& value) override;
    ClassInstance* classInstance() override { return this; }

    const ClassDef& def() const { return def_; }
    Variant& field(int index) { return fields_[size_t(index)]; }
    ObjectRef self() const { return weakSelf_.lock(); }

    // A member used by name inside the class, or through obj.Name(args)
    // with the argument expressions (so that ByRef arguments work).
    Variant call(int id, std::vector<ExprPtr>& args, Frame& caller);
    void assignMember(int id, std::span<Variant> args, const Variant& value, bool isSet);

private:
    static void release(ClassInstance* p);
    const ClassMember& resolve(int id) const;

    Interp& in_;
    const ClassDef& def_;
    std::shared_ptr<const CodeBlock> owner_;
    std::weak_ptr<int> life_;
    std::vector<Variant> fields_;
    std::weak_ptr<ClassInstance> weakSelf_;
    bool terminated_ = false;
};

} // namespace vbs::rt
